#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# build.sh DIR [cmake options...]: configures and builds one build tree, with warnings as
# errors (a plain configure leaves them warnings). The options are given to cmake on every
# run, so a tree made earlier builds with the current ones.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
shift
cmake -S "$root" -B "$dir" -G Ninja --log-level=NOTICE -DWCT_WERROR=ON "$@"
cmake --build "$dir" -j "${WCT_JOBS:-2}"
