#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the bench. With no port
# named it runs on the built-in simulator.
#
# Until the window lands this runs `wct`, the bench from a terminal; its arguments can
# follow (default: list the consoles present).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

args=("$@")
[[ " ${args[*]} " == *" --port "* ]] || args=(--simulate "${args[@]}")
has_command=false
for a in "${args[@]}"; do
  case $a in ports|find|register|consoles|measure|test|read|read-page|write|rolls|reset-rolls|remove|send|resistance) has_command=true ;; esac
done
$has_command || args+=(consoles)
exec build/src/cli/wct "${args[@]}"
