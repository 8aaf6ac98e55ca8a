#!/usr/bin/env bash
# Builds static libbz2, liblzma, libdeflate and libzstd for the Windows build
# from Debian's source packages into PREFIX (default build/mingw-deps). Runs
# once: a finished prefix is kept and reused, and a library missing from an
# older prefix is added to it.
set -euo pipefail
prefix=$(realpath -m "${1:-build/mingw-deps}")
have() { [ -f "$prefix/lib/$1" ]; }
[ -f "$prefix/.complete" ] && have libzstd.a && exit 0
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
sources=""
have libbz2.a || sources="$sources bzip2"
have liblzma.a || sources="$sources xz-utils"
have libdeflatestatic.a || sources="$sources libdeflate"
have libzstd.a || sources="$sources libzstd"
(cd "$work/src" && apt-get $apt_opts source -qq $sources >/dev/null 2>&1)

mkdir -p "$prefix/include" "$prefix/lib"

# bzip2: a handful of C files.
if ! have libbz2.a; then
bz=$(find "$work/src" -maxdepth 1 -type d -name 'bzip2-*' | head -n 1)
(cd "$bz" && for f in blocksort huffman crctable randtable compress decompress bzlib; do
   $cc -O2 -D_FILE_OFFSET_BITS=64 -c $f.c -o $f.o; done
 $ar rcs "$prefix/lib/libbz2.a" blocksort.o huffman.o crctable.o randtable.o compress.o decompress.o bzlib.o)
cp "$bz/bzlib.h" "$prefix/include/"
fi

# xz: its own CMake build, liblzma only.
if ! have liblzma.a; then
xz=$(find "$work/src" -maxdepth 1 -type d -name 'xz-utils-*' | head -n 1)
cmake -S "$xz" -B "$work/xz-build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" \
  -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$work/xz-build" --target liblzma -j"$(nproc)" >/dev/null
cp "$work/xz-build/liblzma.a" "$prefix/lib/"
cp -r "$xz/src/liblzma/api/lzma" "$xz/src/liblzma/api/lzma.h" "$prefix/include/"
fi

# libdeflate: its Makefile builds the static library.
if ! have libdeflatestatic.a; then
ld=$(find "$work/src" -maxdepth 1 -type d -name 'libdeflate-*' | head -n 1)
make -C "$ld" CC=$cc AR=$ar libdeflatestatic.lib -j"$(nproc)" >/dev/null
cp "$ld/libdeflatestatic.lib" "$prefix/lib/libdeflatestatic.a"
cp "$ld/libdeflate.h" "$prefix/include/"
fi

# zstd: the library's C files (compression too, for the tests' encoder),
# without its x86-64 assembly, which is an ELF object.
if ! have libzstd.a; then
zs=$(find "$work/src" -maxdepth 1 -type d -name 'libzstd-*' | head -n 1)
objects=()
for f in "$zs"/lib/common/*.c "$zs"/lib/compress/*.c "$zs"/lib/decompress/*.c; do
  o="$work/zstd-$(basename "$f" .c).o"
  $cc -O2 -DZSTD_DISABLE_ASM -DZSTD_MULTITHREAD=0 -c "$f" -o "$o"
  objects+=("$o")
done
$ar rcs "$prefix/lib/libzstd.a" "${objects[@]}"
cp "$zs/lib/zstd.h" "$zs/lib/zstd_errors.h" "$prefix/include/"
fi

touch "$prefix/.complete"
