#!/usr/bin/env bash
# Times a whole update of a generated ~300 MB installation against the work
# standard tools need for the same data: Camellia decryption (openssl),
# bzip2 decompression and copying the new files. Prints both ratios: time,
# and peak memory against the uncompressed payload.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DKW_BUILD_BENCHMARKS=OFF >/dev/null
updater="$root/build/updater/KWUpdater"
kwpack="$root/build/tools/KWPack/KWPack"

work=$(mktemp -d "${TMPDIR:-/tmp}/kwupdater-bench.XXXXXX")
[ -n "${BENCH_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
cd "$work"
files=${BENCH_FILES:-3000}
size=${BENCH_FILE_KB:-100}

echo "== generating $files files of about $size KB (random, text and sparse thirds) in $work"
make_file() { # path kind seed
  case $2 in
    0) head -c $((size * 1024)) /dev/urandom ;;
    1) (set +o pipefail; yes "line $3 of a fairly repetitive text file in version $4" | head -c $((size * 1024))) ;;
    2) { head -c $((size * 256)) /dev/urandom; head -c $((size * 768)) /dev/zero; } ;;
  esac > "$1"
}
"$kwpack" keygen key.pem lmfile >/dev/null
mkdir -p v1.0/bin v1.1/bin
cp lmfile v1.0/bin/lmfile
cp lmfile v1.1/bin/lmfile
for i in $(seq 1 "$files"); do
  dir="data/d$((i % 40))"
  mkdir -p "v1.0/$dir" "v1.1/$dir"
  make_file "v1.0/$dir/f$i.bin" $((i % 3)) "$i" 1.0
  # Three files in four change, of every kind; the rest stay.
  if [ $((i % 4)) -ne 0 ]; then make_file "v1.1/$dir/f$i.bin" $((i % 3)) "$i" 1.1; else cp "v1.0/$dir/f$i.bin" "v1.1/$dir/"; fi
done
for i in $(seq 1 $((files / 10))); do
  mkdir -p "v1.1/new/n$((i % 10))"
  make_file "v1.1/new/n$((i % 10))/a$i.bin" $((i % 3)) "$i" 1.1
done
echo "   $(du -sm v1.0 | cut -f1) MB installed, $(du -sm v1.1 | cut -f1) MB after the update"

echo "== building the package once"
t0=$(date +%s.%N)
"$kwpack" make v1.0 v1.1 update.kwp --key key.pem --from 1.0 --to 1.1 --quiet
t1=$(date +%s.%N)
echo "   $(du -sm update.kwp | cut -f1) MB package in $(echo "$t1 - $t0" | bc) s"

echo "== the same payload for the standard tools"
"$kwpack" script v1.0 v1.1 payload --from 1.0 --to 1.1 >/dev/null 2>&1
payload_bytes=$(du -sb payload | cut -f1)
key=$(head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n')
tar cf - -C payload . | bzip2 -9 > payload.tar.bz2
openssl enc -e -camellia-256-ecb -K "$key" -in payload.tar.bz2 -out payload.enc

sync
echo "== KWUpdater"
cp -a v1.0 inst
cp update.kwp inst/
sync
t0=$(date +%s.%N)
/usr/bin/time -f '%M' -o updater.rss "$updater" inst/update.kwp </dev/null >/dev/null
t1=$(date +%s.%N)
updater_s=$(echo "$t1 - $t0" | bc)
diff -r inst v1.1 >/dev/null || { echo "the updated installation differs from 1.1" >&2; exit 1; }
echo "   $updater_s s, peak $(( $(cat updater.rss) / 1024 )) MB"

# KWUpdater puts its work on stable storage before it records each stage, so
# the tools' side ends by doing the same.
echo "== standard tools: openssl decryption, bzip2 -dc, copying the new files, sync"
cp -a v1.0 copy-target
sync
t0=$(date +%s.%N)
openssl enc -d -camellia-256-ecb -K "$key" -in payload.enc -out payload.dec
bzip2 -dc payload.dec > payload.tar
cp -r payload/. copy-target/
sync
t1=$(date +%s.%N)
baseline_s=$(echo "$t1 - $t0" | bc)
echo "   $baseline_s s"

echo "== ratios"
echo "   time: KWUpdater / standard tools = $(echo "scale=2; $updater_s / $baseline_s" | bc) (goal at most 1.25)"
payload_mb=$(( payload_bytes / 1048576 ))
rss_mb=$(( $(cat updater.rss) / 1024 ))
echo "   memory: peak $rss_mb MB against payload $payload_mb MB: $(echo "scale=2; $rss_mb / ($payload_mb * 1.2 + 64)" | bc) of the allowance 1.2 x payload + 64 MB (goal at most 1.00)"
