#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the bench.
#
# With a `wct` command among the arguments it runs `wct`, the bench from a terminal, with
# all of them (on the built-in simulator unless `--port PATH` names hardware). Otherwise,
# with a display, it opens the window: on the built-in simulator, or with `--port PATH`
# selected beside the machine's own serial ports, which "Connect" searches when the
# dongle is not on PATH; without a display it says so and runs `wct` on the same choice
# of ports, listing the consoles present.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

args=("$@")
named_port=false
port=
has_command=false
value_of=
for a in "${args[@]}"; do
  if [[ -n $value_of ]]; then
    [[ $value_of == --port ]] && port=$a
    value_of=
    continue
  fi
  case $a in
    --port) named_port=true value_of=$a ;;
    --port=*) named_port=true port=${a#--port=} ;;
    # The other global options of wct that take a value.
    --trace | --reply-timeout | --wait | --record) value_of=$a ;;
    -h | --help | --version) has_command=true ;;
    -*) ;;
    *) has_command=true ;;
  esac
done

if ! $has_command && [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  $named_port && exec build/src/app/wirelessconsoletest --port "$port"
  exec build/src/app/wirelessconsoletest --simulate
fi

if ! $has_command; then
  echo "No display: running wct, the bench from a terminal." >&2
  args+=(consoles)
fi
$named_port || args=(--simulate "${args[@]}")
exec build/src/cli/wct "${args[@]}"
