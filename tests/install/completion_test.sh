#!/usr/bin/env bash
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
    'wct udev-rule --|--help --install'
    'wct hist|history'
    'wct-sim |dongle replay wired'
    'wct --port /dev/null --wait 5 reg|register'
)
for entry in "${cases[@]}"; do
    line=${entry%%|*} expected=${entry#*|}
    got=$(complete_line "$line")
    if [[ $expected == '*'* ]]; then
        [[ " $got " == *" ${expected#\*} "* ]] && continue
    elif [[ $got == "$expected" ]]; then
        continue
    fi
    echo "FAIL: '$line' completes to '$got', not '$expected'" >&2
    failures=$((failures + 1))
done

# Exit code of a command line; its output is not wanted.
code() { "$@" >/dev/null 2>&1; echo $?; }
# Each offered value passes the program's reader (--help ends the run after the readers),
# a wrong one is refused as a usage error.
accepts() {  # PROGRAM WORDS...: the line with the value, read to its end
    local c
    c=$(code "$@" --help)
    [[ $c == 0 ]] || { echo "FAIL: refused ($c): ${*##*/}" >&2; failures=$((failures + 1)); }
}
refuses() {
    local c
    c=$(code "$@" --help)
    [[ $c == 2 ]] || { echo "FAIL: not refused ($c): ${*##*/}" >&2; failures=$((failures + 1)); }
}
for v in $(_wct_fixed_values 'wct test'); do accepts "$wct" test "$v"; done
refuses "$wct" test kesy
for v in $(_wct_fixed_values 'wct history --outcome'); do accepts "$wct" history --outcome "$v"; done
refuses "$wct" history --outcome pass
accepts "$wct" remove --console "$(_wct_fixed_values 'wct remove --console')"
refuses "$wct" remove --console every
# wct-sim reads its values when it starts the simulator: one it takes prints the
# simulator's port, one it refuses ends as a usage error.
sim_starts() {
    local line='' pid
    coproc SIM { exec "$wct_sim" wired "$@" 2>&1; }
    pid=$SIM_PID
    read -r -t 30 line <&"${SIM[0]}" || true
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    [[ $line == /dev/* ]] || { echo "FAIL: wct-sim wired $*: '$line'" >&2; failures=$((failures + 1)); }
}
for v in $(_wct_fixed_values 'wct-sim wired --generation'); do sim_starts --generation "$v"; done
for v in $(_wct_fixed_values 'wct-sim wired --answer'); do
    sim_starts --generation 5 --answer "$v"
done
for line in "--generation 4.2" "--generation 8" "--generation 5 --answer maybe"; do
    # shellcheck disable=SC2086
    c=$(code timeout 30 "$wct_sim" wired $line)
    [[ $c == 2 ]] || { echo "FAIL: wct-sim wired $line not refused ($c)" >&2; failures=$((failures + 1)); }
done
# A trainer generation is checked with the whole line, after the readers: run without
# --help, a refused one ends as a usage error before any port is opened.
for v in $(_wct_fixed_values 'wct trainer --generation' 1); do
    c=$(code timeout 60 "$wct" --simulate trainer --generation "$v" identify)
    [[ $c == 0 ]] || { echo "FAIL: simulated generation $v: exit $c" >&2; failures=$((failures + 1)); }
done
for v in 4.2 9; do
    c=$(code "$wct" --simulate trainer --generation "$v" identify)
    [[ $c == 2 ]] || { echo "FAIL: generation $v not refused ($c)" >&2; failures=$((failures + 1)); }
done
all=$(_wct_fixed_values 'wct trainer --generation' 1)
for v in $all; do
    [[ " $(_wct_fixed_values 'wct trainer --generation') " == *" $v "* ]] && continue
    c=$(code "$wct" trainer --generation "$v" identify)
    [[ $c == 2 ]] || { echo "FAIL: generation $v taken for a real trainer ($c)" >&2; failures=$((failures + 1)); }
done

((failures == 0)) || exit 1
echo "completion: ${#cases[@]} lines completed, every fixed value checked against the programs"
