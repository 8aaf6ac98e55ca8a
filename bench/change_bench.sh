#!/usr/bin/env bash
# The cost of changing a large archive: a change never writes the archive in
# place but rewrites it into a new file (copied, flushed to the disk, renamed
# over it). Adds one small file to a 1 GiB archive and deletes its first entry,
# with korbel beside `zip` (which also copies into a new file) and `7zz`, each
# on a fresh copy of the same archive with the page cache warm. Wall time from
# /usr/bin/time; prints the times, korbel's ratios and its time per GiB.
# Usage: change_bench.sh KORBEL [GIB]   (GIB: archive size, default 1;
#        CHANGE_BENCH_REPEAT runs of each, the fastest counts, default 1)
set -euo pipefail
korbel=$(realpath "$1")
gib=${2:-1}
repeat=${CHANGE_BENCH_REPEAT:-1}
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

measure() {  # measure NAME COMMAND... : the fastest of $repeat runs on a fresh copy, into $work/figures
  local name=$1 best= t
  shift
  for _ in $(seq 1 "$repeat"); do
    rm -f "$work/work.zip"
    cp "$work/base.zip" "$work/work.zip"
    cat "$work/work.zip" >/dev/null
    sync
    /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null 2>&1 || { echo "$name failed" >&2; exit 1; }
    t=$(cat "$work/time")
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$name $best" >>"$work/figures"
}

(cd "$work" && measure "korbel-a" "$korbel" a work.zip small.txt)
(cd "$work" && measure "zip-a" zip -q work.zip small.txt)
(cd "$work" && measure "7zz-a" 7zz a -tzip -bd work.zip small.txt)
(cd "$work" && measure "korbel-d" "$korbel" d work.zip "$first")
(cd "$work" && measure "zip-d" zip -q -d work.zip "$first")
(cd "$work" && measure "7zz-d" 7zz d -tzip -bd work.zip "$first")

echo "archive: $((size / 1048576)) MiB, $pieces stored entries; fastest of $repeat run(s), page cache warm"
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
  }' "$work/figures"
