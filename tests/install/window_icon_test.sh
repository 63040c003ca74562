#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# window_icon_test.sh PROGRAM: the window, shown on a virtual X server, carries its own
# icon: its main window has a 128-pixel _NET_WM_ICON, which window managers and task bars
# show.
set -euo pipefail
program=$1

tmp=$(mktemp -d "${TMPDIR:-/tmp}/wct-icon-XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number when it accepts connections.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids+=($!)
for _ in $(seq 300); do
    [[ -s $tmp/display ]] && break
    sleep 0.1
done
[[ -s $tmp/display ]] || { cat "$tmp/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=:$(head -n1 "$tmp/display")
export DISPLAY

# The bench's log and state stay in the temporary folder.
HOME=$tmp XDG_STATE_HOME=$tmp/state QT_QPA_PLATFORM=xcb "$program" --simulate \
    >"$tmp/window.log" 2>&1 &
pids+=($!)

# The bound on the wait is for a window that never comes; it normally shows in a second.
window='' icon=''
for _ in $(seq 300); do
    # A window may go while it is listed, and the readers stop early: neither is a failure.
    window=$(xwininfo -root -tree 2>/dev/null | awk '/"Wireless Console Test"/ {print $1; exit}' ||
        true)
    if [[ -n $window ]]; then
        icon=$(xprop -id "$window" _NET_WM_ICON 2>&1 | head -c 200 || true)
        [[ $icon == *"_NET_WM_ICON(CARDINAL) = "* ]] && break
    fi
    kill -0 "${pids[1]}" 2>/dev/null || break
    sleep 0.1
done
if [[ -z $window ]]; then
    cat "$tmp/window.log" >&2
    echo "FAIL: the main window did not appear" >&2
    exit 1
fi
# xprop draws an icon it knows: "Icon (128 x 128):", then the picture.
if [[ $icon != *"Icon (128 x 128)"* ]]; then
    echo "FAIL: the main window's icon: $icon" >&2
    exit 1
fi
echo "the main window ($window) carries a 128x128 icon"
