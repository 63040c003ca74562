#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the bench. With no port
# named it runs on the built-in simulator.
#
# Until the window and the command-line tool land, this starts the dongle simulator with
# four consoles and prints the pseudo-terminal it serves (Ctrl+C ends it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
exec build/src/sim/wct-sim dongle --consoles 4 "$@"
