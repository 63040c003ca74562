#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# completion_test.sh COMPLETION WCT WCT_SIM: the bash completion, sourced as bash-completion
# does, completes typed lines to what wct and wct-sim take; and every value it offers
# from a fixed set is one the program accepts, a value outside it one the program refuses.
set -uo pipefail
completion=$1 wct=$2 wct_sim=$3
# shellcheck source=/dev/null
source "$completion"
failures=0

# Completes LINE (its last word the one being typed) with the programs at their build
# paths, and prints the candidates sorted, on one line.
complete_line() {
    local line=$1
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    case ${COMP_WORDS[0]} in
    wct) COMP_WORDS[0]=$wct ;;
    wct-sim) COMP_WORDS[0]=$wct_sim ;;
    esac
    COMPREPLY=()
    _wct
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
}

# Typed line | candidates ("*" before a word: the candidates hold it among others).
cases=(
    'wct test |cardio clock keys signals'
    'wct test c|cardio clock'
    'wct test keys |'
    'wct test --console 1 |cardio clock keys signals'
    'wct history --outcome |ERROR FAIL PASS'
    'wct history --outcome F|FAIL'
    'wct remove --console |all'
    'wct trainer --generation |1 2 3'
    'wct --simulate trainer --generation |1 2 3 4 4.5 5 5.5 6 7'
    'wct-sim wired --generation |1 2 3 4 4.5 5 5.5 6 7'
    'wct-sim wired --answer |none right wrong'
    'wct-sim wired --seed |'
    'wct |*udev-rule'
    'wct udev-rule --|--help --install --pcap --port --record --reply-timeout --simulate --time --trace --wait'
    'wct hist|history'
    'wct-sim |dongle replay wired'
    'wct --port /dev/null --wait 5 reg|register'
)
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
for entry in "${cases[@]}"; do
    line=${entry%%|*} expected=${entry#*|}
    got=$(complete_line "$line")
    if [[ $expected == '*'* ]]; then
        [[ " $got " == *" ${expected#\*} "* ]] && continue
    elif [[ $got == "$expected" ]]; then
        continue
    fi
    fail "'$line' completes to '$got', not '$expected'"
done

# Runs a command line, its output unwanted; fails unless it exits with CODE.
expect_exit() {  # CODE PROGRAM ARGUMENTS...
    local want=$1 c
    shift
    "$@" >/dev/null 2>&1
    c=$?
    [[ $c == "$want" ]] || fail "exit $c, not $want: ${*##*/}"
}
# Each offered value passes the program's reader (--help ends the run after the readers);
# a wrong one is refused as a usage error.
for v in $(_wct_fixed_values 'wct test'); do expect_exit 0 "$wct" test "$v" --help; done
expect_exit 2 "$wct" test kesy --help
for v in $(_wct_fixed_values 'wct history --outcome'); do
    expect_exit 0 "$wct" history --outcome "$v" --help
done
expect_exit 2 "$wct" history --outcome pass --help
expect_exit 0 "$wct" remove --console "$(_wct_fixed_values 'wct remove --console')" --help
expect_exit 2 "$wct" remove --console every --help
# A trainer's generation is checked with the whole line, after the readers: run without
# --help. The simulator plays every generation; a real trainer is driven in 1 to 3 only.
simulated=$(_wct_fixed_values 'wct trainer --generation' 1)
real=$(_wct_fixed_values 'wct trainer --generation')
for v in $simulated; do
    expect_exit 0 timeout 60 "$wct" --simulate trainer --generation "$v" identify
    [[ " $real " == *" $v "* ]] || expect_exit 2 "$wct" trainer --generation "$v" identify
done
for v in 4.2 9; do expect_exit 2 "$wct" --simulate trainer --generation "$v" identify; done

# wct-sim reads its values when it starts the simulator: one it takes prints the
# simulator's port, one it refuses ends as a usage error.
sim_starts() {
    local line='' pid
    coproc SIM { exec "$wct_sim" wired "$@" 2>&1; }
    pid=$SIM_PID
    read -r -t 30 line <&"${SIM[0]}" || true
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    [[ $line == /dev/* ]] || fail "wct-sim wired $*: '$line'"
}
for v in $(_wct_fixed_values 'wct-sim wired --generation'); do sim_starts --generation "$v"; done
for v in $(_wct_fixed_values 'wct-sim wired --answer'); do
    sim_starts --generation 5 --answer "$v"
done
expect_exit 2 timeout 30 "$wct_sim" wired --generation 4.2
expect_exit 2 timeout 30 "$wct_sim" wired --generation 8
expect_exit 2 timeout 30 "$wct_sim" wired --generation 5 --answer maybe

((failures == 0)) || exit 1
echo "completion: ${#cases[@]} lines completed, every fixed value checked against the programs"
