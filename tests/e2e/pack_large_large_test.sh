#!/usr/bin/env bash
# The long end-to-end cases: a file over 4 GiB, deflated and stored (the stored
# one makes an archive over 4 GiB), and a tree of 70 000 small files. Each
# archive must pass unzip -t and 7zz t and hold exactly what was packed.
# Usage: pack_large_large_test.sh PAKKARO [wine]
set -u
pakkaro=$1
source "$(dirname "$0")/e2e_lib.sh" "$@"
run() { run_program "$pakkaro" "$@"; }

# name method size: one line per entry, from the central directory (Zip64 read
# by Python's zipfile), sorted by name.
entries_of() {
  python3 -c '
import sys, zipfile
for i in sorted(zipfile.ZipFile(sys.argv[1]).infolist(), key=lambda i: i.filename):
    print(i.filename, i.compress_type, i.file_size, i.CRC)' "$1"
}

crc_of() {
  python3 -c '
import sys, zlib
crc = 0
with open(sys.argv[1], "rb") as f:
    while block := f.read(1 << 22):
        crc = zlib.crc32(block, crc)
print(crc)' "$1"
}

# ---- A sparse file of 4500 MiB --------------------------------------------------
big_size=$((4500 * 1024 * 1024))
mkdir -p "$work/Big"
truncate -s 4500M "$work/Big/huge.bin"
# A few bytes of data in the middle and at the end, so the contents are checked
# beyond the zeros and across the 4 GiB boundary.
printf 'middle' | dd of="$work/Big/huge.bin" bs=1 seek=$((4 * 1024 * 1024 * 1024 + 7)) conv=notrunc status=none
printf 'tail' | dd of="$work/Big/huge.bin" bs=1 seek=$((big_size - 4)) conv=notrunc status=none
printf 'small' > "$work/Big/small.txt"
huge_crc=$(crc_of "$work/Big/huge.bin")
run "$(arg "$work/Big")"
check "deflated 4.5 GiB: exit 0" [ "$status" = 0 ]
check "deflated 4.5 GiB: count 2" grep -q "Es wurden 2 Datei" <<<"$output"
check "deflated 4.5 GiB: unzip and 7zz accept it" readers_accept "$work/Big/Big.zip"
check "deflated 4.5 GiB: sizes, methods and CRCs" [ "$(entries_of "$work/Big/Big.zip")" = \
  "$(printf 'huge.bin 8 %s %s\nsmall.txt 0 5 %s' "$big_size" "$huge_crc" "$(crc_of "$work/Big/small.txt")")" ]
rm -f "$work/Big/Big.zip"

# The same file under a stored extension: the entry's compressed size passes
# 4 GiB too, and so does the archive. Needs about 5 GB of free space.
if [ "$(df -Pk "$work" | awk 'NR == 2 { print $4 }')" -gt $((6 * 1024 * 1024)) ]; then
  mv "$work/Big/huge.bin" "$work/Big/huge.7z"
  run "$(arg "$work/Big")" "$(arg "$work/stored.zip")"
  check "stored 4.5 GiB: exit 0" [ "$status" = 0 ]
  check "stored 4.5 GiB: archive over 4 GiB" [ "$(stat -c %s "$work/stored.zip")" -gt "$big_size" ]
  check "stored 4.5 GiB: unzip and 7zz accept it" readers_accept "$work/stored.zip"
  check "stored 4.5 GiB: sizes, methods and CRCs" [ "$(entries_of "$work/stored.zip")" = \
    "$(printf 'huge.7z 0 %s %s\nsmall.txt 0 5 %s' "$big_size" "$huge_crc" "$(crc_of "$work/Big/small.txt")")" ]
  rm -f "$work/stored.zip"
else
  skipped=$((skipped + 1))
  echo "SKIPPED: stored 4.5 GiB entry (less than 6 GB free)" >&2
fi
rm -rf "$work/Big"

# ---- A tree of 70 000 small files ---------------------------------------------------
python3 - "$work/Tree" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(70):
    folder = os.path.join(root, 'dir%02d' % d, 'sub')
    os.makedirs(folder)
    for f in range(1000):
        with open(os.path.join(folder, 'file%04d.c' % f), 'w') as out:
            out.write('int value_%d_%d = %d;\n' % (d, f, d * f))
PY
run "$(arg "$work/Tree")"
check "70 000 files: exit 0" [ "$status" = 0 ]
check "70 000 files: count" grep -q "Es wurden 70000 Datei" <<<"$output"
check "70 000 files: unzip and 7zz accept it" readers_accept "$work/Tree/Tree.zip"
check "70 000 files: every name once" [ "$(unzip -Z1 "$work/Tree/Tree.zip" | sort -u | wc -l)" = 70000 ]
check "70 000 files: a sample reads back" \
  [ "$(unzip -p "$work/Tree/Tree.zip" dir69/sub/file0999.c)" = "int value_69_999 = 68931;" ]

finish
