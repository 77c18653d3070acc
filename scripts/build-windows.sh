#!/usr/bin/env bash
# Cross-builds KWUpdater.exe, KWPack.exe and their libraries for 64-bit
# Windows with mingw-w64 into build-windows/ (or the directory given as $1,
# with extra CMake options after it). Boost Filesystem/System, expat, bzip2,
# GoogleTest and OpenSSL's libcrypto are built once from Debian's source
# packages into build-windows/deps; a later run reuses them. The result is
# build-windows/dist/: the programs, their DLLs and the MinGW runtime DLLs,
# ready to copy to a Windows machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=${1:-$root/build-windows}
shift || true
mkdir -p "$win"
win=$(cd "$win" && pwd)
prefix=$win/deps
sources=$win/deps-src
host=x86_64-w64-mingw32
jobs=$(nproc)
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

"$root/scripts/setup.sh" g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  wine wine64 locales libboost1.74-tools-dev libboost-dev googletest nlohmann-json3-dev dpkg-dev cmake make

# Wine takes the ANSI code page from the locale: ja_JP.UTF-8 gives CP932.
if ! locale -a | grep -qix 'ja_JP.utf8'; then
  $sudo_cmd sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo_cmd tee -a /etc/locale.gen >/dev/null
  $sudo_cmd locale-gen >/dev/null
fi

# Source entries that mirror the binary ones, so that apt-get source works.
source_list=/etc/apt/sources.list.d/kw-deb-src.sources
if [ ! -e "$source_list" ] && ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  sed -n 's/^Types: deb$/Types: deb-src/p; /^Types:/!p' /etc/apt/sources.list.d/debian.sources | $sudo_cmd tee "$source_list" >/dev/null
  $sudo_cmd apt-get update -qq
fi

mkdir -p "$prefix" "$sources"
# fetch PACKAGE: unpacks the bookworm source package once, prints its folder.
fetch() {
  local dir
  dir=$(find "$sources" -maxdepth 1 -type d -name "$1-[0-9]*" | head -n 1)
  if [ -z "$dir" ]; then
    (cd "$sources" && apt-get source -qq "$1/bookworm" >/dev/null 2>&1) || { echo "cannot fetch the source of $1" >&2; exit 1; }
    dir=$(find "$sources" -maxdepth 1 -type d -name "$1-[0-9]*" | head -n 1)
  fi
  echo "$dir"
}
# built NAME: true when the dependency is already in the prefix.
built() { [ -e "$prefix/.built-$1" ]; }
mark_built() { touch "$prefix/.built-$1"; echo "== $1 built for Windows"; }
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DKW_WIN_PREFIX="$prefix"
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix")

if ! built boost; then
  dir=$(fetch boost1.74)
  cat > "$sources/user-config.jam" <<JAM
using gcc : mingw : $host-g++-posix : <archiver>$host-ar <ranlib>$host-ranlib ;
JAM
  # The source package's bootstrap needs a generated grammar; the packaged b2 does not.
  (cd "$dir" && b2 -q -j"$jobs" --user-config="$sources/user-config.jam" --build-dir="$sources/boost-build" \
    --prefix="$prefix" --layout=system toolset=gcc-mingw target-os=windows threadapi=win32 address-model=64 \
    variant=release link=static runtime-link=shared --with-filesystem --with-system install >"$sources/boost.log" 2>&1) \
    || { tail -n 30 "$sources/boost.log" >&2; exit 1; }
  mark_built boost
fi

if ! built expat; then
  dir=$(fetch expat)
  # Debian's patches test XML_DTD == 1; the CMake configuration defines it empty.
  grep -rl 'XML_DTD == 1' "$dir/expat/lib" | xargs -r sed -i 's/XML_DTD == 1/defined(XML_DTD)/g'
  cmake -S "$dir/expat" -B "$sources/expat-build" "${toolchain[@]}" -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_DOCS=OFF >/dev/null
  cmake --build "$sources/expat-build" -j "$jobs" --target install >/dev/null
  mark_built expat
fi

if ! built bzip2; then
  dir=$(fetch bzip2)
  mkdir -p "$sources/bzip2-build"
  objects=()
  for unit in blocksort huffman crctable randtable compress decompress bzlib; do
    $host-gcc-posix -O2 -c "$dir/$unit.c" -o "$sources/bzip2-build/$unit.o"
    objects+=("$sources/bzip2-build/$unit.o")
  done
  mkdir -p "$prefix/lib" "$prefix/include"
  rm -f "$prefix/lib/libbz2.a"
  $host-ar rcs "$prefix/lib/libbz2.a" "${objects[@]}"
  cp "$dir/bzlib.h" "$prefix/include/"
  mark_built bzip2
fi

if ! built googletest; then
  cmake -S /usr/src/googletest -B "$sources/googletest-build" "${toolchain[@]}" -DBUILD_SHARED_LIBS=OFF >/dev/null
  cmake --build "$sources/googletest-build" -j "$jobs" --target install >/dev/null
  mark_built googletest
fi

# nlohmann's JSON library is headers only: the prefix takes them with their
# CMake package from the installed nlohmann-json3-dev.
if ! built nlohmann-json; then
  mkdir -p "$prefix/include" "$prefix/share/cmake"
  cp -r /usr/include/nlohmann "$prefix/include/"
  cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
  mark_built nlohmann-json
fi

if ! built openssl; then
  dir=$(fetch openssl)
  (cd "$dir" && ./Configure mingw64 no-shared no-tests no-module --cross-compile-prefix=$host- \
      --prefix="$prefix" --libdir=lib >"$sources/openssl.log" 2>&1 &&
    make -j"$jobs" build_libs >>"$sources/openssl.log" 2>&1 && make install_dev >>"$sources/openssl.log" 2>&1) \
    || { tail -n 30 "$sources/openssl.log" >&2; exit 1; }
  mark_built openssl
fi

# The project itself; every program and DLL lands in one folder, so Windows
# finds the DLLs next to the programs, and the tests run under Wine.
wineprefix=$win/wine
[ -d "$wineprefix" ] || WINEPREFIX=$wineprefix WINEDEBUG=-all wineboot -i >/dev/null 2>&1
cmake -S "$root" -B "$win/build" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKW_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CROSSCOMPILING_EMULATOR="env;WINEPREFIX=$wineprefix;WINEDEBUG=-all;LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8;wine" \
  "$@" >/dev/null
cmake --build "$win/build" -j "$jobs"

dist=$win/dist
rm -rf "$dist"
mkdir -p "$dist"
bin=$win/build/bin
cp "$bin/KWUpdater.exe" "$bin/KWPack.exe" "$bin/kw_xml.dll" "$bin/KWArchive.dll" "$bin/kw_bz2.dll" "$dist/"
# The MinGW runtime DLLs the programs import, and those these import in turn.
runtime_dirs=(/usr/lib/gcc/$host/*-posix /usr/$host/lib)
for _ in 1 2 3; do
  for dll in $($host-objdump -p "$dist"/*.exe "$dist"/*.dll | sed -n 's/^\s*DLL Name: //p' | sort -u); do
    for d in "${runtime_dirs[@]}"; do
      [ -e "$d/$dll" ] && cp -u "$d/$dll" "$dist/" && break
    done
  done
done
# Debug information stays in the build folder; the shipped files do without.
$host-strip --strip-debug "$dist"/*.exe "$dist"/*.dll
echo "== build-windows: $dist holds $(ls "$dist" | tr '\n' ' ')"
