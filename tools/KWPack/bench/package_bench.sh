#!/usr/bin/env bash
# Times "KWPack build" with --jobs 1 and --jobs 2 on a generated tree against
# "tar c | bzip2 -9" of the same tree, alternating the three in one run, and
# prints the times, the ratios and the peak memory of each build.
# usage: package_bench.sh KWPACK [SIZE_MB (default 300)] [ROUNDS (default 2)]
set -euo pipefail
kwpack=$(readlink -f "$1")
size_mb=${2:-300}
rounds=${3:-2}
work=$(mktemp -d "${TMPDIR:-/tmp}/kwpack-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A few thousand files of mixed compressibility: a third random bytes, a
# third text made of a small vocabulary, a third hexadecimal of random bytes.
python3 - "$work/tree" "$size_mb" <<'PY'
import os, random, sys
root, total = sys.argv[1], int(sys.argv[2]) * 1024 * 1024
rng = random.Random(7)
words = [("".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))) for _ in range(2000)]
written, index = 0, 0
while written < total:
    size = min(total - written, int(rng.lognormvariate(11, 1.2)) + 1)
    kind = index % 3
    if kind == 0:
        data = os.urandom(size)
    elif kind == 1:
        text, length = [], 0
        while length < size:
            w = rng.choice(words)
            text.append(w)
            length += len(w) + 1
        data = " ".join(text).encode()[:size]
    else:
        data = os.urandom(size // 2 + 1).hex().encode()[:size]
    path = os.path.join(root, "d%02d" % (index % 40), "s%d" % (index % 7), "f%05d.bin" % index)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    written += size
    index += 1
print("tree: %d files, %d bytes" % (index, written))
PY

"$kwpack" keygen "$work/key.pem" "$work/lmfile" >/dev/null

now() { date +%s.%N; }
# Runs a command; prints its wall time in seconds and its peak memory in KiB.
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
    cat "$work/time"
}
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == 0 || a < b) ? a : b }'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > b) ? a : b }'; }
best_ref=0 best_one=0 best_two=0 mem_one=0 mem_two=0
for round in $(seq "$rounds"); do
    start=$(now)
    tar c -C "$work/tree" . | bzip2 -9 > "$work/ref.tar.bz2"
    ref=$(awk -v a="$(now)" -v b="$start" 'BEGIN { printf "%.2f", a - b }')
    read -r one one_kb < <(measure "$kwpack" build "$work/tree" "$work/one.kwu" --key "$work/key.pem" --jobs 1 --force --quiet)
    read -r two two_kb < <(measure "$kwpack" build "$work/tree" "$work/two.kwu" --key "$work/key.pem" --jobs 2 --force --quiet)
    echo "round $round: tar|bzip2 -9 ${ref}s, KWPack build --jobs 1 ${one}s (${one_kb} KiB), --jobs 2 ${two}s (${two_kb} KiB)"
    best_ref=$(min "$ref" "$best_ref")
    best_one=$(min "$one" "$best_one")
    best_two=$(min "$two" "$best_two")
    mem_one=$(max "$one_kb" "$mem_one")
    mem_two=$(max "$two_kb" "$mem_two")
done
# Chunk boundaries do not depend on the job count: the packages are equal.
cmp -s "$work/one.kwu" "$work/two.kwu" || { echo "error: --jobs 1 and --jobs 2 packages differ" >&2; exit 1; }
echo "sizes: tar.bz2 $(stat -c %s "$work/ref.tar.bz2") bytes, package $(stat -c %s "$work/two.kwu") bytes (same for both job counts)"
echo "best: tar|bzip2 -9 ${best_ref}s, KWPack build --jobs 1 ${best_one}s, --jobs 2 ${best_two}s"
echo "one job against tar|bzip2 -9: ratio $(awk -v a="$best_one" -v b="$best_ref" 'BEGIN { printf "%.3f", a / b }') (limit 1.2)"
echo "speed-up of two jobs: $(awk -v a="$best_one" -v b="$best_two" 'BEGIN { printf "%.3f", a / b }') (goal at least 1.8 on two cores)"
echo "peak memory: --jobs 1 ${mem_one} KiB, --jobs 2 ${mem_two} KiB"
