#!/usr/bin/env bash
# Reading speed of the decoders that only the reading side uses: the corpus packed
# by 7zz as BZip2, LZMA, PPMd and Deflate64 zip archives, each tested with `korbel t`
# beside `7zz t -mmt=1`. Best wall time of RUNS runs each (default 3); the page
# cache is warmed first. Prints the figures and korbel's ratios; figures only, a
# benchmark never fails on a goal.
# Usage: codec_read_bench.sh KORBEL [CORPUS] [RUNS]
set -euo pipefail
korbel=$(realpath "$1")
corpus=${2:-/tmp/pakkaro-corpus}
runs=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v 7zz >/dev/null 2>&1; then
  echo "codec_read_bench: SKIPPED, 7zz is not installed (it makes the archives and is the peer)"
  exit 0
fi
. "$here/corpus.sh"
ensure_corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best() {  # best NAME COMMAND... : the lowest wall time of $runs runs
  local name=$1 t
  shift
  : > "$work/times"
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e" -a -o "$work/times" "$@" >/dev/null
  done
  t=$(sort -n "$work/times" | head -n 1)
  echo "$name $t" >> "$work/figures"
}

printf "%-10s %12s %12s %10s %12s %8s\n" method "archive MB" "data MB" "korbel s" "7zz -mmt=1 s" ratio
for method in BZip2 LZMA PPMd Deflate64; do
  archive=$work/$method.zip
  (cd "$corpus" && 7zz a -tzip -mm="$method" "$archive" . >/dev/null)
  data=$(7zz l "$archive" | tail -n 1 | awk '{print $3}')
  cat "$archive" >/dev/null
  : > "$work/figures"
  "$korbel" t "$archive" >/dev/null || { echo "korbel t failed on the $method archive" >&2; exit 1; }
  best korbel "$korbel" t "$archive"
  best 7zz 7zz t -mmt=1 "$archive"
  awk -v m="$method" -v a="$(stat -c %s "$archive")" -v d="$data" '
    { t[$1] = $2 }
    END { printf "%-10s %12.1f %12.1f %10.2f %12.2f %8.2f\n", m, a / 1e6, d / 1e6, t["korbel"], t["7zz"],
          (t["7zz"] > 0 ? t["korbel"] / t["7zz"] : 0) }' "$work/figures"
  rm -f "$archive"
done
