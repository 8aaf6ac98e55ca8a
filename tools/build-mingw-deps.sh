#!/usr/bin/env bash
# Builds static libbz2, liblzma and libdeflate for the Windows build from
# Debian's source packages into PREFIX (default build/mingw-deps). Runs once:
# a finished prefix is kept and reused.
set -euo pipefail
prefix=$(realpath -m "${1:-build/mingw-deps}")
[ -f "$prefix/.complete" ] && exit 0
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar

# Source entries derived from the machine's own APT configuration (main suites
# only: the security pool does not carry every original source archive).
mkdir -p "$work/lists/partial" "$work/parts" "$work/src"
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  awk 'BEGIN{RS=""; ORS="\n\n"} !/security/' /etc/apt/sources.list.d/debian.sources \
    | sed 's/^Types: deb$/Types: deb-src/' > "$work/parts/src.sources"
  list_opt="-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=$work/parts"
else
  grep -v security /etc/apt/sources.list | sed -n 's/^deb /deb-src /p' > "$work/src.list"
  list_opt="-o Dir::Etc::SourceList=$work/src.list -o Dir::Etc::SourceParts=/dev/null"
fi
apt_opts="$list_opt -o Dir::State::Lists=$work/lists -o APT::Sandbox::User=root"
apt-get $apt_opts update -qq >/dev/null
(cd "$work/src" && apt-get $apt_opts source -qq bzip2 xz-utils libdeflate >/dev/null 2>&1)

mkdir -p "$prefix/include" "$prefix/lib"

# bzip2: a handful of C files.
bz=$(find "$work/src" -maxdepth 1 -type d -name 'bzip2-*' | head -n 1)
(cd "$bz" && for f in blocksort huffman crctable randtable compress decompress bzlib; do
   $cc -O2 -D_FILE_OFFSET_BITS=64 -c $f.c -o $f.o; done
 $ar rcs "$prefix/lib/libbz2.a" blocksort.o huffman.o crctable.o randtable.o compress.o decompress.o bzlib.o)
cp "$bz/bzlib.h" "$prefix/include/"

# xz: its own CMake build, liblzma only.
xz=$(find "$work/src" -maxdepth 1 -type d -name 'xz-utils-*' | head -n 1)
cmake -S "$xz" -B "$work/xz-build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
  -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$work/xz-build" --target liblzma -j"$(nproc)" >/dev/null
cp "$work/xz-build/liblzma.a" "$prefix/lib/"
cp -r "$xz/src/liblzma/api/lzma" "$xz/src/liblzma/api/lzma.h" "$prefix/include/"

# libdeflate: its Makefile builds the static library.
ld=$(find "$work/src" -maxdepth 1 -type d -name 'libdeflate-*' | head -n 1)
make -C "$ld" CC=$cc AR=$ar libdeflatestatic.lib -j"$(nproc)" >/dev/null
cp "$ld/libdeflatestatic.lib" "$prefix/lib/libdeflatestatic.a"
cp "$ld/libdeflate.h" "$prefix/include/"

touch "$prefix/.complete"
