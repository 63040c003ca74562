#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the bench.
#
# With a display it opens the window on the built-in simulator; when hardware is named
# (`--port PATH`) it opens it with that port selected, beside the machine's own serial
# ports, which "Connect" searches when the dongle is not on PATH. Without a display it says so and runs `wct`, the bench from a
# terminal, whose arguments can follow (default: list the consoles present).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

args=("$@")
named_port=false
port=
for ((i = 0; i < ${#args[@]}; i++)); do
  [[ ${args[i]} == --port ]] && named_port=true && port=${args[i + 1]:-}
done

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  $named_port && exec build/src/app/wirelessconsoletest --port "$port"
  exec build/src/app/wirelessconsoletest --simulate
fi

echo "No display: running wct, the bench from a terminal." >&2
$named_port || args=(--simulate "${args[@]}")
has_command=false
for a in "${args[@]}"; do
  case $a in ports|find|register|consoles|measure|test|read|read-page|write|rolls|reset-rolls|remove|send|resistance) has_command=true ;; esac
done
$has_command || args+=(consoles)
exec build/src/cli/wct "${args[@]}"
