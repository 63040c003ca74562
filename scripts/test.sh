#!/usr/bin/env bash
# The test command: installs what is missing, builds the optimised tree and the
# sanitizer tree (AddressSanitizer + UndefinedBehaviorSanitizer), and runs every test in
# both. Extra arguments go to ctest (e.g. -L unit, -R Framer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh

scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWCT_WERROR=ON
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DWCT_SANITIZE=ON -DWCT_WERROR=ON \
  -DWCT_BUILD_BENCH=OFF

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== optimised build =="
ctest --test-dir build --output-on-failure -j "${WCT_JOBS:-2}" "$@"
echo "== sanitizer build =="
ctest --test-dir build-asan --output-on-failure -j "${WCT_JOBS:-2}" "$@"
