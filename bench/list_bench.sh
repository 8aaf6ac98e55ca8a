#!/usr/bin/env bash
# Listing large archives as a user does: `korbel l` beside `unzip -l` on
# archives of tiny stored entries made by Python's zipfile (names
# dirNNN/fileNNNNN.txt), 100 000 and 1 000 000 entries (BENCH_LARGE=0 leaves
# the second out; making it takes about a minute the first time, then it is
# kept in /tmp/pakkaro-bench). Time, and peak memory per entry: the peak over
# the entries, and the same with the peak of listing a one-entry archive (the
# program itself) taken off. Goals: <= 300 B per entry at 100 000; at
# 1 000 000 <= 250 B per entry and <= 0.2x the time of unzip -l.
# Usage: list_bench.sh KORBEL   (BENCH_RUNS rounds, default 3)
set -euo pipefail
korbel=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
have python3 || { echo "list bench skipped: python3 is missing (it makes the archives)"; exit 0; }
folder=/tmp/pakkaro-bench
mkdir -p "$folder"
figures=$(mktemp)
trap 'rm -f "$figures" "$figures".*' EXIT
counts="1 100000"
[ "${BENCH_LARGE:-1}" = 0 ] || counts="$counts 1000000"

for count in $counts; do
  archive=$folder/list-$count.zip
  [ -f "$archive" ] || python3 - "$archive" "$count" <<'PY'
import os, sys, zipfile
path, count = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path + ".part", "w", zipfile.ZIP_STORED) as z:
    for i in range(count):
        z.writestr("dir%d/file%05d.txt" % (i // 1000, i), b"x")
os.rename(path + ".part", path)
PY
  cat "$archive" >/dev/null
done
load
for round in $(seq "$runs"); do
  for count in $counts; do
    timed "korbel l $count" "$korbel" l "$folder/list-$count.zip"
    have unzip && timed "unzip -l $count" unzip -l "$folder/list-$count.zip"
  done
done
base=$(median "korbel l 1" 3)
for count in $counts; do
  [ "$count" = 1 ] && continue
  echo "$count entries:"
  table "korbel l $count" "unzip -l $count"
  ratio "korbel l $count" "unzip -l $count"
  awk -v c="$count" -v b="$base" -v p="$(median "korbel l $count" 3)" 'BEGIN {
    printf "  korbel l peak per entry (median): %.0f B; %.0f B without the %d KiB of a one-entry list\n",
           p * 1024 / c, (p - b) * 1024 / c, b }'
done
