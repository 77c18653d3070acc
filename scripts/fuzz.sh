#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (or the directory
# given as $1) and runs each for KW_FUZZ_SECONDS seconds (default 60) under
# ctest; any crash, leak or sanitizer report fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-fuzz}
seconds=${KW_FUZZ_SECONDS:-60}
cmake -S "$root/fuzz" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKW_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && ctest --output-on-failure -j "$(nproc)")
