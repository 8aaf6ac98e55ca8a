#!/usr/bin/env bash
# Runs the korbel tool on archives other tools make as they make them: bsdtar
# archiving ".", a self-extractor made with cat, Info-ZIP Unicode Path
# blocks, duplicate names, long and code-page comments, Zstandard entries,
# and methods the engine does not read. Results are checked against the
# files and against unzip and Python's zipfile.
# Usage: foreign_archives_test.sh PAKKARO [wine]
set -u
source "$(dirname "$0")/e2e_lib.sh" "$@"
run() { run_program "$korbel" "$@"; }

tree=$work/tree
mkdir -p "$tree/src/deep"
for i in $(seq 1 3000); do echo "line $i of the source"; done >"$tree/src/main.c"
head -c 50000 /dev/urandom >"$tree/src/deep/blob.bin"
printf 'top' >"$tree/top.txt"

# ---- bsdtar archiving "." stores every name as "./..." ---------------------------------
if need_tool bsdtar "archives of bsdtar"; then
  dotted=$work/dotted.zip
  (cd "$tree" && bsdtar --format zip -cf "$dotted" .)
  run t "$(arg "$dotted")"
  check "t of a bsdtar archive of . exits 0" [ "$status" = 0 ]
  run x "$(arg "$dotted")" -d "$(arg "$work/dotted-out")"
  check "x of a bsdtar archive of . exits 0" [ "$status" = 0 ]
  check "x puts ./src/main.c at src/main.c" cmp -s "$tree/src/main.c" "$work/dotted-out/src/main.c"
  check "x puts ./src/deep/blob.bin at src/deep/blob.bin" cmp -s "$tree/src/deep/blob.bin" "$work/dotted-out/src/deep/blob.bin"
  check "x puts ./top.txt at top.txt" cmp -s "$tree/top.txt" "$work/dotted-out/top.txt"
fi

# ---- A self-extractor: a stub in front, offsets not adjusted ---------------------------
plain=$work/plain.zip
(cd "$tree" && zip -qr "$plain" src top.txt)
sfx=$work/sfx.zip
{ printf '#!/bin/sh\necho self-extracting\nexit 0\n'; head -c 30000 /dev/urandom; cat "$plain"; } >"$sfx"
check "unzip reads the self-extractor" bash -c 'unzip -t "$1" 2>&1 | grep -q "No errors detected"' _ "$sfx"
run l "$(arg "$sfx")"
check "l of a self-extractor exits 0" [ "$status" = 0 ]
check "l lists its entries" grep -q 'src/deep/blob.bin' <<<"$output"
run t "$(arg "$sfx")"
check "t of a self-extractor exits 0" [ "$status" = 0 ]
run x "$(arg "$sfx")" -d "$(arg "$work/sfx-out")"
check "x of a self-extractor exits 0" [ "$status" = 0 ]
check "x of a self-extractor gives the files" cmp -s "$tree/src/deep/blob.bin" "$work/sfx-out/src/deep/blob.bin"
# A change keeps what is in front and mends the offsets.
run d "$(arg "$sfx")" top.txt
check "d on a self-extractor exits 0" [ "$status" = 0 ]
check "d keeps the stub" bash -c 'head -c 9 "$1" | grep -q "#!/bin/sh"' _ "$sfx"
check "after d the self-extractor is sound for unzip" bash -c 'unzip -tqq "$1" >/dev/null 2>&1' _ "$sfx"

# ---- Damage that once passed as an empty archive ---------------------------------------
python3 - "$plain" "$work/disagree.zip" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
end = data.rfind(b"PK\x05\x06")
count, size, offset = struct.unpack_from("<HII", data, end + 10)
# Zip64 records in front of the end record that claim an empty directory.
record = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 0, 0, 0, end)
locator = struct.pack("<IIQI", 0x07064B50, 0, end, 1)
tail = bytearray(data[end:])
struct.pack_into("<I", tail, 16, 0xFFFFFFFF)
open(sys.argv[2], "wb").write(bytes(data[:end]) + record + locator + bytes(tail))
PY
run l "$(arg "$work/disagree.zip")"
check "l refuses records that disagree" [ "$status" = 1 ]
run t "$(arg "$work/disagree.zip")"
check "t refuses records that disagree" [ "$status" = 1 ]

# ---- Unicode Path blocks ----------------------------------------------------------------
python3 - "$work/unicode.zip" <<'PY'
import struct, sys, zipfile, zlib
stored = "%U00D6lf%U00E4sser.txt"
info = zipfile.ZipInfo(stored)
name = "\u00d6lf\u00e4sser.txt".encode()
info.extra = struct.pack("<HHBI", 0x7075, 5 + len(name), 1, zlib.crc32(stored.encode())) + name
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr(info, "oil")
PY
run t "$(arg "$work/unicode.zip")"
check "t of an archive with Unicode Path blocks exits 0" [ "$status" = 0 ]
if [ "${2:-}" != wine ]; then
  run x "$(arg "$work/unicode.zip")" -d "$(arg "$work/unicode-out")"
  check "x names the file from the Unicode Path block" [ "$(cat "$work/unicode-out/Ölfässer.txt" 2>/dev/null)" = oil ]
  check "x does not use the escaped name" [ ! -e "$work/unicode-out/%U00D6lf%U00E4sser.txt" ]
fi

# ---- Duplicate names: the last one written wins -----------------------------------------
python3 - "$work/dup.zip" <<'PY' 2>/dev/null
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("dup.txt", "first")
    z.writestr("other.txt", "other")
    z.writestr("dup.txt", "second")
PY
run l "$(arg "$work/dup.zip")"
check "l marks both entries of one name" [ "$(grep -c 'dup.txt  (doppelt)' <<<"$output")" = 2 ]
check "l leaves the single name unmarked" bash -c '! grep -q "other.txt  (doppelt)" <<<"$1"' _ "$output"
run x "$(arg "$work/dup.zip")" -d "$(arg "$work/dup-named")" dup.txt
check "x by name exits 0" [ "$status" = 0 ]
check "x by name gives the last entry of the name" [ "$(cat "$work/dup-named/dup.txt")" = second ]
run x "$(arg "$work/dup.zip")" -d "$(arg "$work/dup-all")"
check "x of all gives the same" [ "$(cat "$work/dup-all/dup.txt")" = second ]
run d "$(arg "$work/dup.zip")" dup.txt
check "d by name removes every entry of the name" [ "$(names_of "$work/dup.zip")" = other.txt ]

# ---- A change keeps the archive comment byte for byte -----------------------------------
python3 - "$work/comment.zip" "$work/comment.bin" <<'PY'
import sys, zipfile
comment = ("\u00d6lf\u00e4sser \u20ac " * 2000).encode("utf-8")[:22780] + b"\x8e\x99\x9a"
open(sys.argv[2], "wb").write(comment)
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("a.txt", "a")
    z.writestr("b.txt", "b")
    z.comment = comment
PY
run d "$(arg "$work/comment.zip")" a.txt
check "d on a commented archive exits 0" [ "$status" = 0 ]
check "d keeps all 22 783 comment bytes" python3 -c 'import sys, zipfile
sys.exit(zipfile.ZipFile(sys.argv[1]).comment != open(sys.argv[2], "rb").read())' "$work/comment.zip" "$work/comment.bin"
python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z: z.writestr("a.txt", "a"); z.writestr("b.txt", "b")' "$work/bare.zip"
run d "$(arg "$work/bare.zip")" a.txt
check "d leaves an archive without comment without one" python3 -c 'import sys, zipfile
sys.exit(zipfile.ZipFile(sys.argv[1]).comment != b"")' "$work/bare.zip"

# ---- Zstandard entries ------------------------------------------------------------------
# Written as libzip and Python 3.14 write method 93: a Zstandard frame of the
# file as the entry's data.
if need_tool zstd "Zstandard entries"; then
  zstd -q -3 -c "$tree/src/main.c" >"$work/main.zst"
  zstd -q -19 -c "$tree/src/deep/blob.bin" >"$work/blob.zst"
  head -c 50000000 /dev/zero | zstd -q -c >"$work/bomb.zst"
  python3 - "$work/zstd.zip" "$tree" "$work" <<'PY'
import os, struct, sys, zlib
out, tree, work = sys.argv[1:4]
entries = [("src/main.c", os.path.join(tree, "src/main.c"), os.path.join(work, "main.zst"), None),
           ("src/deep/blob.bin", os.path.join(tree, "src/deep/blob.bin"), os.path.join(work, "blob.zst"), None),
           ("bomb.bin", None, os.path.join(work, "bomb.zst"), b"\0" * 1000)]
data, central = b"", b""
for name, plain_path, packed_path, plain in entries:
    plain = plain if plain is not None else open(plain_path, "rb").read()
    packed = open(packed_path, "rb").read()
    crc, n = zlib.crc32(plain), name.encode()
    fields = struct.pack("<HHHIIIIHH", 63, 0, 93, 0x5A210000, crc, len(packed), len(plain), len(n), 0)
    central += struct.pack("<IH", 0x02014B50, 63) + fields + struct.pack("<HHHII", 0, 0, 0, 0x20, len(data)) + n
    data += struct.pack("<I", 0x04034B50) + fields + n + packed
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 3, 3, len(central), len(data), 0)
open(out, "wb").write(data + central + end)
PY
  run l "$(arg "$work/zstd.zip")"
  check "l names the Zstandard method" grep -q 'Zstd' <<<"$output"
  run x "$(arg "$work/zstd.zip")" -d "$(arg "$work/zstd-out")" src/main.c src/deep/blob.bin
  check "x of Zstandard entries exits 0" [ "$status" = 0 ]
  check "x of a Zstandard text is byte-exact" cmp -s "$tree/src/main.c" "$work/zstd-out/src/main.c"
  check "x of a Zstandard blob is byte-exact" cmp -s "$tree/src/deep/blob.bin" "$work/zstd-out/src/deep/blob.bin"
  run t "$(arg "$work/zstd.zip")"
  check "t fails the Zstandard bomb" [ "$status" = 1 ]
  check "t names only the bomb" bash -c 'grep -q "^bomb.bin: " <<<"$1" && grep -q "3 Einträge geprüft, 1 fehlerhaft" <<<"$1"' _ "$output"
  run x "$(arg "$work/zstd.zip")" -d "$(arg "$work/zstd-out")" bomb.bin
  check "x of the bomb fails" [ "$status" = 1 ]
  check "x of the bomb leaves no file" [ ! -e "$work/zstd-out/bomb.bin" ]
fi

# ---- Methods the engine does not read ---------------------------------------------------
python3 - "$work/imploded.zip" <<'PY'
import struct, sys, zlib
data = bytes(range(256)) * 4
name = b"old/imploded.bin"
fields = struct.pack("<HHHIIIIHH", 20, 0, 6, 0x5A210000, zlib.crc32(data), len(data), len(data), len(name), 0)
local = struct.pack("<I", 0x04034B50) + fields + name + data
central = struct.pack("<IH", 0x02014B50, 20) + fields + struct.pack("<HHHII", 0, 0, 0, 0x20, 0) + name
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local), 0)
open(sys.argv[1], "wb").write(local + central + end)
PY
run t "$(arg "$work/imploded.zip")"
check "t of an Implode entry exits 1" [ "$status" = 1 ]
check "t names the entry" grep -q '^old/imploded.bin: ' <<<"$output"
check "t calls its method not supported" grep -q 'nicht unterstützt' <<<"$output"

finish
