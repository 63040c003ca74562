#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The run command: installs what is missing, builds, and starts the bench.
#
# With a `wct` command among the arguments it runs `wct`, the bench from a terminal, with
# all of them (on the built-in simulator unless `--port PATH` names hardware). Otherwise,
# with a display, it opens the window with the window's options given (`--port PATH`,
# `--simulate`, `--charts`): on the built-in simulator unless `--port` names a port. Without
# a display it says so, says how to run `wct`, and lists the consoles present with `wct`
# on the same choice of ports. Options of one front end are not handed to the other: they
# are named on stderr as left out.
#
# Only the bench's own output goes to stdout: the installation and the build report on
# stderr, the build with its progress.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
note() { echo "run.sh: $*" >&2; }

scripts/setup.sh >&2
if [[ ! -f build/build.ninja ]]; then
  note "configuring and building the bench in build/ for the first time: 15 to 25 minutes" \
    "on two cores; later runs build only what changed"
elif steps=$(ninja -C build -n 2>/dev/null | grep -c '^\[') && ((steps > 0)); then
  note "building what changed in build/: $steps steps"
fi
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2

wct_args=()     # everything but the window's own options
window_args=()  # the window's options
window_only=()  # named when wct runs
wct_only=()     # named when the window opens
port=
command=
value_of=
for a in "$@"; do
  if [[ -n $value_of ]]; then
    wct_args+=("$a")
    if [[ $value_of == --port ]]; then
      port=$a
      window_args+=(--port "$a")
    fi
    value_of=
    continue
  fi
  case $a in
    --port) value_of=$a wct_args+=("$a") ;;
    --port=*)
      port=${a#--port=}
      wct_args+=("$a")
      window_args+=(--port "$port")
      ;;
    --simulate)
      wct_args+=("$a")
      window_args+=("$a")
      ;;
    --charts) window_only+=("$a") window_args+=("$a") ;;
    # The other options of wct that take a value.
    --trace | --reply-timeout | --wait | --record) value_of=$a wct_only+=("$a") wct_args+=("$a") ;;
    -h | --help | --version)
      wct_args+=("$a")
      command=${command:-$a}
      ;;
    -*) wct_only+=("$a") wct_args+=("$a") ;;
    *)
      wct_args+=("$a")
      command=${command:-$a}
      ;;
  esac
done

if [[ -z $command && -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  ((${#wct_only[@]} == 0)) || note "${wct_only[*]}: for wct only, left out for the window"
  [[ -n $port ]] || window_args+=(--simulate)
  exec build/src/app/wirelessconsoletest "${window_args[@]}"
fi

((${#window_only[@]} == 0)) || note "${window_only[*]}: for the window only, left out for wct"
if [[ -z $command ]]; then
  cat >&2 <<EOF
No display: running wct, the bench from a terminal, to list the consoles present.
Any wct command runs the same way, on the built-in simulator unless --port names a port:
  scripts/run.sh measure --seconds 5
  scripts/run.sh --port /dev/ttyUSB0 consoles
  scripts/run.sh --help            (every command)
or build/src/cli/wct itself, built now (build/src/cli/wct --help).
EOF
  wct_args+=(consoles)
fi
[[ -n $port ]] || wct_args=(--simulate "${wct_args[@]}")
exec build/src/cli/wct "${wct_args[@]}"
