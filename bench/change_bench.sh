#!/usr/bin/env bash
# The cost of changing a large archive: a change never writes the archive in
# place but rewrites it into a new file (copied, flushed to the disk, renamed
# over it). Adds one small file to a 1 GiB archive and deletes its first entry,
# with korbel beside `zip` (which also copies into a new file) and `7zz`, each
# on a fresh copy of the same archive with the page cache warm, in turns.
# Wall time from /usr/bin/time; prints the times, korbel's ratios and its time
# per GiB.
# Usage: change_bench.sh KORBEL [GIB]   (GIB: archive size, default 1;
#        CHANGE_BENCH_REPEAT rounds, the median counts, default 1)
set -euo pipefail
korbel=$(realpath "$1")
gib=${2:-1}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
runs=${CHANGE_BENCH_REPEAT:-1}
for tool in zip 7zz /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (run tools/install-deps.sh)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 64 stored pieces of random data per GiB: the rewrite, not compression, is measured.
pieces=$((64 * gib))
python3 - "$work/base.zip" "$pieces" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for i in range(int(sys.argv[2])):
        z.writestr("data/piece%04d.bin" % i, os.urandom(16 << 20))
PY
printf 'one small file\n' >"$work/small.txt"
first=data/piece0000.bin
size=$(stat -c %s "$work/base.zip")

figures=$work/figures

# fresh NAME COMMAND...: COMMAND timed on a fresh copy of the archive, read
# into the page cache and flushed first.
fresh() {
  rm -f "$work/work.zip"
  cp "$work/base.zip" "$work/work.zip"
  cat "$work/work.zip" >/dev/null
  sync
  (cd "$work" && timed "$@")
}

for _ in $(seq "$runs"); do
  fresh "korbel-a" "$korbel" a work.zip small.txt
  fresh "zip-a" zip -q work.zip small.txt
  fresh "7zz-a" 7zz a -tzip -bd work.zip small.txt
  fresh "korbel-d" "$korbel" d work.zip "$first"
  fresh "zip-d" zip -q -d work.zip "$first"
  fresh "7zz-d" 7zz d -tzip -bd work.zip "$first"
done

echo "archive: $((size / 1048576)) MiB, $pieces stored entries; median of $runs round(s), page cache warm"
for name in korbel-a zip-a 7zz-a korbel-d zip-d 7zz-d; do echo "$name $(median "$name" 1)"; done |
  awk -v size="$size" '
  { t[$1] = $2 }
  END {
    printf "%-10s %10s %10s %10s\n", "change", "korbel s", "zip s", "7zz s"
    printf "%-10s %10.2f %10.2f %10.2f\n", "add", t["korbel-a"], t["zip-a"], t["7zz-a"]
    printf "%-10s %10.2f %10.2f %10.2f\n", "delete", t["korbel-d"], t["zip-d"], t["7zz-d"]
    printf "korbel / zip: add %.2f, delete %.2f   korbel / 7zz: add %.2f, delete %.2f\n",
           t["korbel-a"] / t["zip-a"], t["korbel-d"] / t["zip-d"], t["korbel-a"] / t["7zz-a"], t["korbel-d"] / t["7zz-d"]
    gib = size / 1073741824
    printf "korbel rewrites %.2f s per GiB (add), %.2f s per GiB (delete), the flush to the disk included\n",
           t["korbel-a"] / gib, t["korbel-d"] / gib
  }'
