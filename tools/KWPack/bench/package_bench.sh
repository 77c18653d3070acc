#!/usr/bin/env bash
# Times "KWPack build" on a generated tree against "tar c | bzip2 -9" of the
# same tree, alternating the two in one run, and prints both and their ratio.
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
best_ref=0
best_pack=0
for round in $(seq "$rounds"); do
    start=$(now)
    tar c -C "$work/tree" . | bzip2 -9 > "$work/ref.tar.bz2"
    ref=$(awk -v a="$(now)" -v b="$start" 'BEGIN { printf "%.2f", a - b }')
    start=$(now)
    "$kwpack" build "$work/tree" "$work/pkg.kwu" --key "$work/key.pem" --force --quiet >/dev/null
    pack=$(awk -v a="$(now)" -v b="$start" 'BEGIN { printf "%.2f", a - b }')
    echo "round $round: tar|bzip2 -9 ${ref}s, KWPack build ${pack}s"
    best_ref=$(awk -v a="$ref" -v b="$best_ref" 'BEGIN { print (b == 0 || a < b) ? a : b }')
    best_pack=$(awk -v a="$pack" -v b="$best_pack" 'BEGIN { print (b == 0 || a < b) ? a : b }')
done
echo "sizes: tar.bz2 $(stat -c %s "$work/ref.tar.bz2") bytes, package $(stat -c %s "$work/pkg.kwu") bytes"
echo "best: tar|bzip2 -9 ${best_ref}s, KWPack build ${best_pack}s, ratio $(awk -v a="$best_pack" -v b="$best_ref" 'BEGIN { printf "%.3f", a / b }') (limit 1.2)"
