#!/usr/bin/env bash
# Installs what is missing, builds, runs every test; then the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, the fuzzers, and the
# Windows build with its tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

jobs=$(nproc)
# Warnings are errors in the Linux builds, so that none lands.
"$root/scripts/build.sh" "$root/build" -DKW_WERROR=ON
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

"$root/scripts/build.sh" "$root/build-sanitize" -DKW_SANITIZE=ON -DKW_BUILD_BENCHMARKS=OFF -DKW_WERROR=ON
(cd "$root/build-sanitize" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs")

# libFuzzer targets (clang), each run for a bounded time (30 s here, so that
# the whole run with the Windows build stays well under 45 minutes).
KW_FUZZ_SECONDS=${KW_FUZZ_SECONDS:-30} "$root/scripts/fuzz.sh" "$root/build-fuzz"

# The Windows build (mingw-w64) and the whole suite under Wine, whose ANSI
# code page is 932 under the emulator's ja_JP.UTF-8 locale.
"$root/scripts/build-windows.sh" "$root/build-windows"
results=$root/build-windows/test-results
rm -rf "$results"
mkdir -p "$results"
# Wine reads the report folder as a Windows path: Z: is the Linux root.
(cd "$root/build-windows/build" && GTEST_OUTPUT="xml:Z:$results/" ctest --output-on-failure -j "$jobs")
# Packages rebuild byte for byte on every host and for every job count: the
# Linux KWPack and KWPack.exe under Wine make the same bytes from the same trees.
same=$(mktemp -d "${TMPDIR:-/tmp}/kw-same-package.XXXXXX")
(
  cd "$same"
  kwpack="$root/build/tools/KWPack/KWPack"
  "$kwpack" keygen key.pem lmfile --bits 1024 >/dev/null
  mkdir -p old/bin new/bin "new/$(printf '\xe8\xb3\x87\xe6\x96\x99')"
  printf 'engine 1.0\n' > old/bin/engine.dll
  printf 'engine 1.1\n' > new/bin/engine.dll
  printf 'new\n' > "new/$(printf '\xe8\xb3\x87\xe6\x96\x99')/$(printf '\xe8\xaa\xac\xe6\x98\x8e').txt"
  "$kwpack" make old new linux.kwp --key key.pem --from 1.0 --to 1.1 --quiet --jobs 1 >/dev/null
  WINEPREFIX="$root/build-windows/wine" WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 \
    wine "$root/build-windows/build/bin/KWPack.exe" make old new windows.kwp --key key.pem --from 1.0 --to 1.1 \
    --quiet --jobs 2 >/dev/null
  cmp linux.kwp windows.kwp
)
rm -rf "$same"
echo "== KWPack and KWPack.exe under Wine make the same package bytes from the same trees"

# The closing note: GoogleTest's counts from its reports, and why tests were skipped.
run=$(sed -n 's/^<testsuites tests="\([0-9]*\)".*/\1/p' "$results"/*.xml | awk '{n += $1} END {print n + 0}')
reasons=$(grep -ho '<skipped message="[^"]*"' "$results"/*.xml | sed 's/.*&#x0A;//; s/"$//' || true)
skipped=$(grep -c . <<<"$reasons" || true)
echo "== Windows tests under Wine: $run run, $((run - skipped)) passed, $skipped skipped"
[ -z "$reasons" ] || sort <<<"$reasons" | uniq -c | while read -r count reason; do echo "   $count skipped: $reason"; done
