#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the bench.
#
# With a display it opens the window on the built-in simulator; when hardware is named
# (`--port PATH`) it opens it on the machine's own serial ports, which the window lists
# and "Connect" searches. Without a display it says so and runs `wct`, the bench from a
# terminal, whose arguments can follow (default: list the consoles present).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

args=("$@")
named_port=false
[[ " ${args[*]} " == *" --port "* ]] && named_port=true

if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  $named_port && exec build/src/app/wirelessconsoletest
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
