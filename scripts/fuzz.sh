#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# fuzz.sh [SECONDS]: builds the libFuzzer targets (clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz and runs each for SECONDS (default 60), one
# after another on one core, starting from its seeds in fuzz/corpus/<target>. New inputs
# go to build-fuzz/corpus/<target>, crashes to build-fuzz/findings/; the first finding
# fails the run. Extra arguments go to every fuzzer (e.g. -runs=1000000).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-60}
shift || true

scripts/setup.sh clang libclang-rt-14-dev

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DWCT_FUZZ=ON -DWCT_BUILD_TESTS=OFF -DWCT_BUILD_BENCH=OFF -DWCT_BUILD_GUI=OFF "${launcher[@]}"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build-fuzz/findings
for seeds in fuzz/corpus/*/; do
  target=$(basename "$seeds")
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== $target: ${seconds}s =="
  log=build-fuzz/$target.log
  # One process, one thread (libFuzzer's default; -jobs would fork a child that logs to
  # ./fuzz-N.log): the machine is shared.
  status=0
  build-fuzz/fuzz/"$target" "$corpus" "$seeds" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/findings/"$target"- "$@" >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|SUMMARY|.*check failed|.*runtime error)' \
    "$log" || true
  if ((status != 0)); then
    echo "fuzz.sh: $target found a fault (exit $status): see $log; the input is in build-fuzz/findings/" >&2
    exit 1
  fi
done
