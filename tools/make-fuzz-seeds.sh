#!/usr/bin/env bash
# Re-makes the seed corpora in fuzz/corpus/ from independent tools (zip, 7zz,
# Python's zipfile, bzip2, xz), our korbel tool and the tests' archives.
# Usage: make-fuzz-seeds.sh [KORBEL]   (KORBEL: a built korbel program)
# The results are committed; run this only to renew them. Files named
# regress-* are inputs of past findings: they are kept as they are.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
korbel=${1:-$root/build/linux/korbel}
for tool in zip 7zz bzip2 xz python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Sample content: text that compresses, a short random run, an empty file and
# a folder, kept small so every seed stays a few KiB.
mkdir -p "$work/src/sub"
python3 - "$work/src" <<'PY'
import os, random, sys
src = sys.argv[1]
rng = random.Random(7)
words = [b"alpha", b"beta", b"gamma", b"delta", b"Projekt", b"Datei", b"\xfcber"]
with open(os.path.join(src, "text.txt"), "wb") as f:
    f.write(b" ".join(rng.choice(words) for _ in range(700)))
with open(os.path.join(src, "sub", "noise.bin"), "wb") as f:
    f.write(bytes(rng.randrange(256) for _ in range(600)))
with open(os.path.join(src, "sub", "runs.dat"), "wb") as f:
    f.write(b"A" * 3000 + b"B" * 2000)
open(os.path.join(src, "empty.txt"), "wb").close()
PY

zips=$work/zips
mkdir -p "$zips"
(cd "$work/src" && zip -q -r -0 "$zips/zip-stored.zip" . \
  && zip -q -r -9 "$zips/zip-deflate.zip" . \
  && zip -q -r -P fuzz "$zips/zip-zipcrypto.zip" . \
  && zip -q -r -z "$zips/zip-comment.zip" . <<<"archive comment")
for m in Deflate Deflate64 BZip2 LZMA PPMd; do
  (cd "$work/src" && 7zz a -tzip -bso0 -bsp0 -mm=$m "$zips/7zz-$m.zip" .)
done
(cd "$work/src" && 7zz a -tzip -bso0 -bsp0 -pfuzz -mem=AES256 "$zips/7zz-aes256.zip" . \
  && 7zz a -tzip -bso0 -bsp0 -pfuzz -mem=AES128 -mm=Deflate64 "$zips/7zz-aes128-deflate64.zip" . \
  && 7zz a -tzip -bso0 -bsp0 -pfuzz -mem=ZipCrypto "$zips/7zz-zipcrypto.zip" .)
if [ -x "$korbel" ]; then
  "$korbel" a "$zips/korbel.zip" "$work/src" >/dev/null
else
  echo "no korbel program at $korbel: its seed is left out" >&2
fi
cp "$root/tests/zip/data/resource_archive.zip" "$zips/tests-resource.zip"
bzip2 -c "$work/src/text.txt" >"$work/text.bz2"
bzip2 -c "$work/src/sub/runs.dat" >"$work/runs.bz2"
xz -c "$work/src/text.txt" >"$work/text.xz"
xz -c --check=sha256 "$work/src/sub/noise.bin" >"$work/noise.xz"
xz -c --format=xz --lzma2=preset=1,dict=64KiB "$work/src/sub/runs.dat" >"$work/runs.xz"

python3 - "$root/fuzz/corpus" "$work" <<'PY'
import os, shutil, struct, sys, zipfile, zlib
out, work = sys.argv[1], sys.argv[2]
zips = os.path.join(work, "zips")
targets = ["archive_open", "archive_entries", "deflate", "deflate64", "bzip2", "lzma", "xz",
           "ppmd", "name_decoder", "patterns"]
for t in targets:
    os.makedirs(os.path.join(out, t), exist_ok=True)
    for name in os.listdir(os.path.join(out, t)):
        if not name.startswith("regress-"):
            os.remove(os.path.join(out, t, name))

def put(target, name, data):
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)

# The Deflate target reads a flag and a 24-bit stated size first: each stream
# goes in streamed and with its true size stated.
def put_deflate(name, raw, usize):
    put("deflate", name, b"\x00\x00\x00\x00" + raw)
    put("deflate", name + "-stated", b"\x01" + struct.pack("<I", usize)[:3] + raw)

# Archives from Python's zipfile: every method it writes, Zip64 records, a
# data descriptor (written through a stream), names with the UTF-8 flag.
src = os.path.join(work, "src")
for label, method in [("stored", zipfile.ZIP_STORED), ("deflate", zipfile.ZIP_DEFLATED),
                      ("bzip2", zipfile.ZIP_BZIP2), ("lzma", zipfile.ZIP_LZMA)]:
    path = os.path.join(zips, "python-%s.zip" % label)
    with zipfile.ZipFile(path, "w", method) as z:
        z.write(os.path.join(src, "text.txt"), "text.txt")
        z.writestr("sub/", b"")
        z.writestr("\u00fcber/gr\u00fc\u00dfe.txt", b"Gr\xfc\xdfe " * 40)
path = os.path.join(zips, "python-zip64-descriptor.zip")
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("streamed.txt", "w", force_zip64=True) as f:
        f.write(b"streamed data " * 100)
    z.comment = b"zip64 and a data descriptor"

def local_entries(data):
    """(method, flags, compressed data, uncompressed size) of each local header."""
    at = 0
    while True:
        at = data.find(b"PK\x03\x04", at)
        if at < 0:
            return
        flags, method = struct.unpack_from("<HH", data, at + 6)
        csize, usize, nlen, xlen = struct.unpack_from("<IIHH", data, at + 18)
        start = at + 30 + nlen + xlen
        if csize and not flags & 1:
            yield method, flags, data[start:start + csize], usize
        at = start

# Both loaders: even seeds open tolerant (first byte 1), odd ones strict.
for i, name in enumerate(sorted(os.listdir(zips))):
    data = open(os.path.join(zips, name), "rb").read()
    if len(data) > 40000:
        continue
    stem = os.path.splitext(name)[0]
    put("archive_open", stem, bytes([i % 2]) + data)
    put("archive_entries", stem, bytes([(i + 1) % 2]) + data)
    if name == "zip-deflate.zip":
        put("archive_open", stem + "-cut", b"\x01" + data[:len(data) * 2 // 3])
        put("archive_entries", stem + "-cut", b"\x01" + data[:len(data) * 2 // 3])
    for method, flags, raw, usize in local_entries(data):
        tag = "%s-%d" % (stem, len(raw))
        if method == 8:
            put_deflate(tag, raw, usize)
        elif method == 9:
            put("deflate64", tag, raw)
        elif method == 12:
            put("bzip2", tag, raw)
        elif method == 14:
            put("lzma", tag, struct.pack("<q", usize) + raw)
            put("lzma", tag + "-unknown-size", struct.pack("<q", -1) + raw)
        elif method == 98:
            put("ppmd", tag, b"\x02" + struct.pack("<I", usize) + raw)
            put("ppmd", tag + "-to-end-mark", b"\x00" + raw)
            header = raw[0] | raw[1] << 8
            order, memory, restore = (header & 15) + 1, ((header >> 4) & 255) + 1, header >> 12
            if restore == 0:
                block = bytes([order]) + struct.pack("<I", memory << 20)
                put("ppmd", tag + "-block", b"\x03" + struct.pack("<I", usize) + block + raw[2:])

text = open(os.path.join(src, "text.txt"), "rb").read()
for level in (1, 9):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    put_deflate("zlib-level%d" % level, c.compress(text) + c.flush(), len(text))
for name in ("text.bz2", "runs.bz2"):
    put("bzip2", name, open(os.path.join(work, name), "rb").read())
for name in ("text.xz", "noise.xz", "runs.xz"):
    put("xz", name, open(os.path.join(work, name), "rb").read())

names = [(0, b"readme.txt"), (0, b"Ordner/Datei.c"), (0, b"\x81ber\x84\xe1.txt"),
         (1, "\u00fcber/gr\u00fc\u00dfe.txt".encode()), (1, "\u20ac-Preis".encode()),
         (1, b"bad\xc3(\xe2\x82\xf0\x90\x80"), (0, b"\x00embedded"), (1, b"\xf4\x90\x80\x80\xed\xa0\x80")]
for i, (flag, name) in enumerate(names):
    put("name_decoder", "name%d" % i, bytes([flag]) + name)

patterns = [b"*.obj;*.exe;*.pdb\0main.OBJ", b"App*.zip\0App1.zip", b"a*b*c\0abcbc",
            b"?x*\0yxz", b"*.*\0noext", b";;*.lib;\0lib.lib", b"UVPROJ;UVPROJX\0App.uvprojx",
            b"**?*\0", b"*\0"]
for i, p in enumerate(patterns):
    put("patterns", "pattern%d" % i, p)
PY
# Layouts other writers make and damage the loader must see through, made
# from the stored archive: a plain end record of Zip64 markers, records that
# disagree, data in front, a signature in the comment, headers that
# disagree, an unsigned descriptor, a Unicode Path block. Each goes to both
# archive targets, strict and tolerant.
python3 - "$root/fuzz/corpus" "$zips" <<'PY'
import io, os, struct, sys, zipfile, zlib
out, zips = sys.argv[1], sys.argv[2]
base = open(os.path.join(zips, "zip-stored.zip"), "rb").read()
end = base.rfind(b"PK\x05\x06")
count, size, offset = struct.unpack_from("<HII", base, end + 10)
head, tail = base[:end], base[end:end + 22]
seeds = {}
record = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, size, offset)
locator = struct.pack("<IIQI", 0x07064B50, 0, end, 1)
markers = struct.pack("<IHHHHIIH", 0x06054B50, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
seeds["layout-zip64-markers"] = head + record + locator + markers
empty = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 0, 0, 0, end)
marked = bytearray(tail)
struct.pack_into("<I", marked, 16, 0xFFFFFFFF)
seeds["layout-zip64-disagrees"] = head + empty + locator + bytes(marked)
stub = b"#!/bin/sh\nexit 0\n" + bytes(range(256)) * 4
seeds["layout-stub-in-front"] = stub + base
seeds["layout-stub-in-front-zip64"] = stub + seeds["layout-zip64-markers"]
comment = b"see PK\x05\x06 inside"
commented = bytearray(tail)
struct.pack_into("<H", commented, 20, len(comment))
seeds["layout-signature-in-comment"] = head + bytes(commented) + comment
differs = bytearray(base)
struct.pack_into("<H", differs, 8, 8)
seeds["layout-local-method-differs"] = bytes(differs)
# One stored entry behind a data descriptor without its signature.
data, name = b"descriptor " * 20, b"unsigned.txt"
crc = zlib.crc32(data)
local = struct.pack("<IHHHIIIIHH", 0x04034B50, 20, 8, 0, 0x5A210000, 0, 0, 0, len(name), 0) + name + data
local += struct.pack("<III", crc, len(data), len(data))
central = struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, 20, 20, 8, 0, 0x5A210000, crc, len(data), len(data),
                      len(name), 0, 0, 0, 0, 0x20, 0) + name
seeds["layout-unsigned-descriptor"] = local + central + struct.pack(
    "<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local), 0)
unicode = io.BytesIO()
with zipfile.ZipFile(unicode, "w") as z:
    stored, utf8 = "%U00D6l.txt", "\u00d6l.txt".encode()
    info = zipfile.ZipInfo(stored, (2026, 1, 2, 3, 4, 6))
    info.extra = struct.pack("<HHBI", 0x7075, 5 + len(utf8), 1, zlib.crc32(stored.encode())) + utf8
    z.writestr(info, b"oil")
seeds["layout-unicode-path"] = unicode.getvalue()
for i, (stem, data) in enumerate(sorted(seeds.items())):
    for target, choice in (("archive_open", i % 2), ("archive_entries", (i + 1) % 2)):
        with open(os.path.join(out, target, stem), "wb") as f:
            f.write(bytes([choice]) + data)
PY
du -sh "$root/fuzz/corpus"
