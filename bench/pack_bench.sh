#!/usr/bin/env bash
# Packing the benchmark corpus: pakkaro beside `zip -9` and
# `7zz a -tzip -mx=9 -mmt=1` on the same files (those pakkaro's lists let
# through, so all three compress the same bytes), then testing pakkaro's archive
# with korbel beside `unzip -t`. Wall time and peak memory from /usr/bin/time;
# the page cache is warmed first. Prints the figures and pakkaro's ratios.
# Usage: pack_bench.sh PAKKARO [CORPUS]   (korbel is taken from PAKKARO's folder)
set -euo pipefail
pakkaro=$(realpath "$1")
korbel=$(dirname "$pakkaro")/korbel
corpus=${2:-/tmp/pakkaro-corpus}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/corpus.sh"
ensure_corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {  # measure NAME COMMAND... : appends "NAME seconds KiB" to $work/figures
  local name=$1
  shift
  /usr/bin/time -f "$name %e %M" -a -o "$work/figures" "$@" >/dev/null
}
size_of() { stat -c %s "$1"; }

find "$corpus" -type f -exec cat {} + >/dev/null

measure pakkaro "$pakkaro" "$corpus" "$work/pakkaro.zip"
unzip -Z1 "$work/pakkaro.zip" > "$work/names"
files=$(wc -l < "$work/names")
bytes=$(cd "$corpus" && tr '\n' '\0' < "$work/names" | du -cb --files0-from=- | tail -n 1 | cut -f1)
(cd "$corpus" && measure "zip-9" zip -q -9 "$work/zip.zip" -@ < "$work/names")
(cd "$corpus" && measure "7zz-mx9" 7zz a -tzip -mx=9 -mmt=1 "$work/7zz.zip" "@$work/names")
unzip -tqq "$work/pakkaro.zip"
measure "unzip-t" unzip -tqq "$work/pakkaro.zip"
[ -x "$korbel" ] && measure "korbel-t" "$korbel" t "$work/pakkaro.zip"

echo "corpus: $corpus, $files files, $((bytes / 1000000)) MB after the exclusion lists"
awk -v p="$(size_of "$work/pakkaro.zip")" -v z="$(size_of "$work/zip.zip")" -v s="$(size_of "$work/7zz.zip")" '
  { t[$1] = $2; m[$1] = $3 / 1024 }
  END {
    size["pakkaro"] = p; size["zip-9"] = z; size["7zz-mx9"] = s
    printf "%-10s %9s %10s %12s\n", "packer", "time s", "peak MiB", "archive MB"
    for (i = 1; i <= 3; i++) {
      n = i == 1 ? "pakkaro" : i == 2 ? "zip-9" : "7zz-mx9"
      printf "%-10s %9.2f %10.1f %12.2f\n", n, t[n], m[n], size[n] / 1e6
    }
    for (i = 2; i <= 3; i++) {
      n = i == 2 ? "zip-9" : "7zz-mx9"
      printf "pakkaro / %-8s time %.2f   peak memory %.2f   archive size %.4f\n", n,
             t["pakkaro"] / t[n], m["pakkaro"] / m[n], p / size[n]
    }
    printf "test: unzip -t %.2f s", t["unzip-t"]
    if ("korbel-t" in t) printf ", korbel t %.2f s, korbel/unzip %.2f", t["korbel-t"], t["korbel-t"] / t["unzip-t"]
    printf "\n"
  }' "$work/figures"
