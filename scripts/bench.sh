#!/usr/bin/env bash
# Times a whole update of a generated ~300 MB installation, stage by stage,
# against the work standard tools need for the same data: Camellia decryption
# (openssl), bzip2 decompression, copying the new files and a sync; and stage
# 2 against lbzip2 decompressing the same stream on every core. Prints the
# ratios and the peak memory.
#
# BENCH_BIG=1 instead updates to a single file of 1.5 GB of zeros: bzip2
# blocks that expand to about 45 MB each, to show that memory stays bounded.
# BENCH_BEFORE=/path/to/KWUpdater also times another build on the same
# package, side by side. BENCH_RUNS (3) sets the rounds whose medians are
# reported. BENCH_FILES and BENCH_FILE_KB size the tree; BENCH_KEEP=1 keeps
# the work directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/setup.sh" lbzip2 # the benchmark's reference only
"$root/scripts/build.sh" "$root/build" -DKW_BUILD_BENCHMARKS=OFF >/dev/null
updater="$root/build/updater/KWUpdater"
kwpack="$root/build/tools/KWPack/KWPack"
cores=$(nproc)

work=$(mktemp -d "${TMPDIR:-/tmp}/kwupdater-bench.XXXXXX")
[ -n "${BENCH_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
cd "$work"
files=${BENCH_FILES:-3000}
size=${BENCH_FILE_KB:-100}
ratio() { echo "scale=2; $1 / $2" | bc; }
seconds() { echo "scale=2; ($2 - $1) / 1" | bc; }

"$kwpack" keygen key.pem lmfile >/dev/null
mkdir -p v1.0/bin v1.1/bin
cp lmfile v1.0/bin/lmfile
cp lmfile v1.1/bin/lmfile
if [ -n "${BENCH_BIG:-}" ]; then
  echo "== generating one file of 1.5 GB of zeros in $work"
  echo "old" > v1.0/bin/big.bin
  head -c $((1536 * 1048576)) /dev/zero > v1.1/bin/big.bin
else
  echo "== generating $files files of about $size KB (random, text and sparse thirds) in $work"
  make_file() { # path kind seed version
    case $2 in
      0) head -c $((size * 1024)) /dev/urandom ;;
      1) (set +o pipefail; yes "line $3 of a fairly repetitive text file in version $4" | head -c $((size * 1024))) ;;
      2) { head -c $((size * 256)) /dev/urandom; head -c $((size * 768)) /dev/zero; } ;;
    esac > "$1"
  }
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
fi
echo "   $(du -sm v1.0 | cut -f1) MB installed, $(du -sm v1.1 | cut -f1) MB after the update"

echo "== building the package once"
t0=$EPOCHREALTIME
"$kwpack" make v1.0 v1.1 update.kwp --key key.pem --from 1.0 --to 1.1 --quiet
echo "   $(du -sm update.kwp | cut -f1) MB package in $(seconds "$t0" "$EPOCHREALTIME") s"

# The stream stage 2 reads: a run where there is nothing to update stops at
# stage 3 and leaves it behind.
mkdir -p probe/bin
cp lmfile probe/bin/
cp update.kwp probe/
"$updater" probe/update.kwp </dev/null >/dev/null 2>&1 || true
stream=probe/.update/update.pkg.bz2
[ -f "$stream" ] || { echo "no decrypted stream was left to time lbzip2 on" >&2; exit 1; }

# Runs one updater on a fresh copy of 1.0; sets run_s, stage1_s, stage2_s,
# rest_s (stages 3 and 4 and the clean-up) and rss_mb.
time_update() { # updater
  rm -rf inst
  cp -a v1.0 inst
  cp update.kwp inst/
  sync
  local t0 t1
  t0=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o updater.rss "$1" inst/update.kwp </dev/null |
    stdbuf -o0 tr '\r' '\n' | grep --line-buffered -E '^(Begin Stage|Stage [0-9] Completed)' |
    while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done > stages.log
  t1=$EPOCHREALTIME
  diff -r inst v1.1 >/dev/null || { echo "the installation updated by $1 differs from 1.1" >&2; exit 1; }
  at() { grep -m1 "$1" stages.log | cut -d' ' -f1; }
  run_s=$(seconds "$t0" "$t1")
  stage1_s=$(seconds "$(at 'Begin Stage 1/')" "$(at 'Stage 1 Completed')")
  stage2_s=$(seconds "$(at 'Begin Stage 2/')" "$(at 'Stage 2 Completed')")
  rest_s=$(seconds "$(at 'Begin Stage 3/')" "$t1")
  rss_mb=$(( $(cat updater.rss) / 1024 ))
  echo "   $run_s s: stage 1 $stage1_s s, stage 2 $stage2_s s, stages 3 and 4 and clean-up $rest_s s; peak $rss_mb MB"
}

if [ -z "${BENCH_BIG:-}" ]; then
  echo "== the same payload for the standard tools"
  "$kwpack" script v1.0 v1.1 payload --from 1.0 --to 1.1 >/dev/null 2>&1
  key=$(head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n')
  tar cf - -C payload . | bzip2 -9 > payload.tar.bz2
  openssl enc -e -camellia-256-ecb -K "$key" -in payload.tar.bz2 -out payload.enc
fi

# Sets tools_s: KWUpdater puts its work on stable storage before it records
# each stage, so the tools' side ends by doing the same.
time_tools() {
  rm -rf copy-target payload.dec payload.tar
  cp -a v1.0 copy-target
  sync
  local t0=$EPOCHREALTIME
  openssl enc -d -camellia-256-ecb -K "$key" -in payload.enc -out payload.dec
  bzip2 -dc payload.dec > payload.tar
  cp -r payload/. copy-target/
  sync
  tools_s=$(seconds "$t0" "$EPOCHREALTIME")
  echo "   standard tools (openssl decryption, bzip2 -dc, copying the new files, sync): $tools_s s"
}

# This machine's timings vary from run to run: each figure is the median of
# BENCH_RUNS rounds, and each round times every side once, side by side.
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
runs=${BENCH_RUNS:-3}
before_runs=() before_stage2s=() before_rsss=() now_runs=() stage1s=() stage2s=() rests=() rsss=() lbzip2s=() toolss=()
for round in $(seq 1 "$runs"); do
  echo "== round $round of $runs on $cores cores"
  if [ -n "${BENCH_BEFORE:-}" ]; then
    echo "   KWUpdater before ($BENCH_BEFORE):"
    time_update "$BENCH_BEFORE"
    before_runs+=("$run_s") before_stage2s+=("$stage2_s") before_rsss+=("$rss_mb")
  fi
  echo "   KWUpdater:"
  time_update "$updater"
  now_runs+=("$run_s") stage1s+=("$stage1_s") stage2s+=("$stage2_s") rests+=("$rest_s") rsss+=("$rss_mb")
  sync
  t0=$EPOCHREALTIME
  lbzip2 -dc -n"$cores" "$stream" > /dev/null
  lbzip2s+=("$(seconds "$t0" "$EPOCHREALTIME")")
  echo "   lbzip2 -dc -n$cores on the stream stage 2 reads: ${lbzip2s[-1]} s"
  [ -n "${BENCH_BIG:-}" ] || { time_tools; toolss+=("$tools_s"); }
done
run_s=$(median "${now_runs[@]}") stage2_s=$(median "${stage2s[@]}") rss_mb=$(median "${rsss[@]}")
lbzip2_s=$(median "${lbzip2s[@]}")
echo "== medians of $runs rounds on $cores cores"
echo "   KWUpdater $run_s s: stage 1 $(median "${stage1s[@]}") s, stage 2 $stage2_s s," \
  "stages 3 and 4 and clean-up $(median "${rests[@]}") s; peak $rss_mb MB"
echo "   lbzip2 -dc -n$cores $lbzip2_s s"
if [ -z "${BENCH_BIG:-}" ]; then
  tools_s=$(median "${toolss[@]}")
  echo "   standard tools $tools_s s"
fi
if [ -n "${BENCH_BEFORE:-}" ]; then
  before_run_s=$(median "${before_runs[@]}") before_stage2_s=$(median "${before_stage2s[@]}")
  before_rss_mb=$(median "${before_rsss[@]}")
fi

echo "== ratios on $cores cores"
[ -z "${tools_s:-}" ] || echo "   whole update / standard tools = $(ratio "$run_s" "$tools_s") (goal at most 0.65)"
echo "   stage 2 / lbzip2 -dc -n$cores = $(ratio "$stage2_s" "$lbzip2_s") (goal at most 1.5)"
if [ -n "${BENCH_BIG:-}" ]; then
  echo "   peak memory $rss_mb MB (goal at most 200)"
else
  echo "   peak memory $rss_mb MB (goal at most 100)"
fi
if [ -n "${BENCH_BEFORE:-}" ]; then
  echo "   before / now: whole update $(ratio "$before_run_s" "$run_s"), stage 2 $(ratio "$before_stage2_s" "$stage2_s"), peak memory $before_rss_mb MB / $rss_mb MB"
fi
