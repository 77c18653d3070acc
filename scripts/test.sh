#!/usr/bin/env bash
# Installs what is missing, builds, runs every test; then the same under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

jobs=$(nproc)
"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

"$root/scripts/build.sh" "$root/build-sanitize" -DKW_SANITIZE=ON -DKW_BUILD_BENCHMARKS=OFF
(cd "$root/build-sanitize" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs")

# libFuzzer targets (clang), each run for a bounded time.
"$root/scripts/fuzz.sh" "$root/build-fuzz"
