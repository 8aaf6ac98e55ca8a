#!/usr/bin/env bash
# Reading speed of the decoders that only the reading side uses: the corpus packed
# by 7zz as BZip2, LZMA, PPMd and Deflate64 zip archives, each tested with `korbel t`
# beside `7zz t -mmt=1`, in turns; the median wall time of RUNS rounds counts
# (default BENCH_RUNS, 3); the page cache is warmed first. Prints the figures and
# korbel's ratios; figures only, a benchmark never fails on a goal.
# Usage: codec_read_bench.sh KORBEL [CORPUS] [RUNS]
set -euo pipefail
korbel=$(realpath "$1")
corpus=${2:-/tmp/pakkaro-corpus}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
runs=${3:-$runs}
if ! have 7zz; then
  echo "codec_read_bench: SKIPPED, 7zz is not installed (it makes the archives and is the peer)"
  exit 0
fi
ensure_corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
figures=$work/figures

printf "%-10s %12s %12s %10s %12s %8s\n" method "archive MB" "data MB" "korbel s" "7zz -mmt=1 s" ratio
for method in BZip2 LZMA PPMd Deflate64; do
  archive=$work/$method.zip
  (cd "$corpus" && 7zz a -tzip -mm="$method" "$archive" . >/dev/null)
  data=$(7zz l "$archive" | tail -n 1 | awk '{print $3}')
  cat "$archive" >/dev/null
  : > "$figures"
  "$korbel" t "$archive" >/dev/null || { echo "korbel t failed on the $method archive" >&2; exit 1; }
  for _ in $(seq "$runs"); do
    timed korbel "$korbel" t "$archive"
    timed 7zz 7zz t -mmt=1 "$archive"
  done
  awk -v m="$method" -v a="$(stat -c %s "$archive")" -v d="$data" -v k="$(median korbel 1)" -v s="$(median 7zz 1)" \
    'BEGIN { printf "%-10s %12.1f %12.1f %10.2f %12.2f %8.2f\n", m, a / 1e6, d / 1e6, k, s, (s > 0 ? k / s : 0) }'
  rm -f "$archive"
done
