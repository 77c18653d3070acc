#!/usr/bin/env bash
# Builds the two programs, updates a demo installation from version 1.0 to
# 1.1 with a package made by KWPack, and shows that the result is the 1.1
# tree; only then builds for Windows (the first time takes a while) and does
# the same with KWUpdater.exe and KWPack.exe under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target KWUpdater KWPack -j "$(nproc)" >/dev/null
updater="$root/build/updater/KWUpdater"
kwpack="$root/build/tools/KWPack/KWPack"

demo=$(mktemp -d "${TMPDIR:-/tmp}/kwupdater-demo.XXXXXX")
echo "== demo folder: $demo"
cd "$demo"

echo "== a key pair; the key file belongs to the installation as bin/lmfile"
"$kwpack" keygen private.pem lmfile

echo "== version 1.0 (installed) and version 1.1 (the release)"
for tree in v1.0 v1.1; do
  mkdir -p "$tree/bin" "$tree/doc"
  cp lmfile "$tree/bin/lmfile"
  printf 'Demo product\nversion %s\n' "${tree#v}" > "$tree/readme.txt"
  printf 'licence text, the same in both versions\n' > "$tree/doc/licence.txt"
  head -c 200000 /dev/urandom > "$tree/bin/engine.dll"
done
touch -d '2024-01-01 10:00' v1.0/readme.txt v1.0/bin/engine.dll
# What 1.1 leaves unchanged keeps its time, as a release tree built from 1.0 would.
touch -r v1.0/bin/lmfile v1.1/bin/lmfile
touch -r v1.0/doc/licence.txt v1.1/doc/licence.txt
printf 'What is new in 1.1\n' > v1.1/doc/news.txt
mkdir -p v1.1/bin/plugins "v1.1/$(printf '\xe8\xb3\x87\xe6\x96\x99')"
printf 'a plugin\n' > v1.1/bin/plugins/export.dll
printf 'Japanese-named folder and file\n' > "v1.1/$(printf '\xe8\xb3\x87\xe6\x96\x99')/$(printf '\xe8\xaa\xac\xe6\x98\x8e').txt"
cp -a v1.0 installation
cp -a v1.0 installation-windows

echo "== the package"
"$kwpack" make v1.0 v1.1 installation/update-1.1.kwp --key private.pem --from 1.0 --to 1.1 --quiet

echo "== KWUpdater (the final prompt is answered with Enter)"
(cd installation && echo | "$updater" update-1.1.kwp)

echo "== the updated installation"
(cd installation && find . | LC_ALL=C sort)
# Each file with its modification time at the 100-ns precision packages carry.
times() { (cd "$1" && find . -type f -printf '%p %T@\n' | sed 's/\(\.[0-9]\{7\}\)[0-9]*$/\1/' | LC_ALL=C sort); }
# Same names, content and modification times as the 1.1 tree.
compare() {
  if diff -r "$1" v1.1 >/dev/null && [ "$(times "$1")" = "$(times v1.1)" ]; then
    echo "== $1 now equals the 1.1 tree"
  else
    diff -r "$1" v1.1 || true
    echo "== $1 differs from the 1.1 tree" >&2
    exit 1
  fi
}
compare installation

echo "== the Windows build (the first time builds its dependencies from source)"
"$root/scripts/build-windows.sh" "$root/build-windows" >/dev/null

# The Windows programs under Wine, whose ANSI code page is then 932; the
# updater's console lines are CP932 and are shown here in UTF-8.
wine_run() {
  WINEPREFIX="$root/build-windows/wine" WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wine "$@"
}
windows_update() { # installation
  (cd "$1" && echo | wine_run "$demo/windows-dist/KWUpdater.exe" update-1.1.kwp | iconv -f CP932 -t UTF-8)
  compare "$1"
}
cp -r "$root/build-windows/dist" windows-dist

echo "== KWPack.exe under Wine makes the package from the same trees, key and options"
cp -a v1.0 installation-windows-2
wine_run windows-dist/KWPack.exe make v1.0 v1.1 installation-windows-2/update-1.1.kwp --key private.pem \
  --from 1.0 --to 1.1 --quiet
"$kwpack" make v1.0 v1.1 installation-windows/update-1.1.kwp --key private.pem --from 1.0 --to 1.1 --quiet
if cmp -s installation-windows/update-1.1.kwp installation-windows-2/update-1.1.kwp; then
  echo "== KWPack.exe made the same package bytes as KWPack"
else
  echo "== KWPack.exe made other package bytes than KWPack" >&2
  exit 1
fi

echo "== KWUpdater.exe under Wine, started from a copy of build-windows/dist alone, on the Linux KWPack's package"
windows_update installation-windows

echo "== the same with the package made by KWPack.exe"
windows_update installation-windows-2
