#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The test command: installs what is missing, builds the optimised tree (Release with
# Debian's hardening, what a packager builds), the sanitizer tree (AddressSanitizer +
# UndefinedBehaviorSanitizer) and the thread tree (ThreadSanitizer), and compiles the
# programs with clang; runs every test in the first two, among them the Debian package's
# (lintian, hardening), and every test but the window's in the third, then gives each
# fuzz target a few seconds. Warnings are errors in every tree. Extra arguments go to
# ctest (e.g. -L unit, -R Framer).
#
# The thread tree has no window: Qt is not built with ThreadSanitizer, so its queued calls
# (the window's main-thread hand-offs) synchronise where the tool cannot see, and what it
# would report there is our own code's data, which no suppression of Qt's libraries hides.
#
# Operators are not root, and a port that only root can reopen passes every test run as
# root: so when run as root, the optimised tree's tests run as the unprivileged user
# `nobody`, and the sanitizer trees' as root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh

scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DWCT_SANITIZE=ON -DWCT_BUILD_BENCH=OFF
scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWCT_TSAN=ON -DWCT_BUILD_GUI=OFF \
  -DWCT_BUILD_BENCH=OFF
# The programs only: clang's warnings differ from GCC's, and its sanitizer build (fuzzing)
# leaves the window out.
scripts/build.sh build-clang -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
  -DWCT_BUILD_TESTS=OFF -DWCT_BUILD_BENCH=OFF

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1

as_user=()
if [[ $(id -u) -eq 0 ]]; then
  if runuser -u nobody -- test -x "$root/build/src/cli/wct"; then
    # The build tree stays root's; ctest's own records and the tests' saved files go
    # where nobody may write.
    mkdir -p build/Testing build/artifacts
    # The install test's `cmake --install` writes its manifest here.
    touch build/install_manifest.txt
    chown -R nobody: build/Testing build/artifacts build/install_manifest.txt
    as_user=(runuser -u nobody --)
  else
    echo "note: $root is not readable by nobody; the optimised tests run as root" >&2
  fi
fi
export WCT_ARTIFACTS_DIR="$root/build/artifacts"

echo "== optimised build${as_user:+, as nobody} =="
"${as_user[@]}" env HOME=/tmp ctest --test-dir build --output-on-failure -j "${WCT_JOBS:-2}" "$@"
echo "== sanitizer build =="
ctest --test-dir build-asan --output-on-failure -j "${WCT_JOBS:-2}" "$@"
echo "== thread sanitizer build =="
ctest --test-dir build-tsan --output-on-failure -j "${WCT_JOBS:-2}" "$@"
echo "== fuzzing, a short pass =="
scripts/fuzz.sh 8
