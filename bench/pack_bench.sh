#!/usr/bin/env bash
# Packing beside the peers, each typed as a user types it: the benchmark
# corpus by `pakkaro FOLDER ARCHIVE` beside `zip -9` and
# `7zz a -tzip -mx=5 -mmt=CORES` given the files pakkaro's lists let through
# (so all three compress the same bytes), then a project holding one file of
# 200 MB (the corpus's files one after another in name order: the same bytes
# on every machine of this kind). Time, peak memory and archive size; the
# page cache is warmed first.
# Usage: pack_bench.sh PAKKARO [CORPUS]   (BENCH_RUNS rounds, default 3)
set -euo pipefail
pakkaro=$(realpath "$1")
corpus=${2:-/tmp/pakkaro-corpus}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
ensure_corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
figures=$work/figures
seven="7zz -mx=5 -mmt=$cores"

# pack SET FOLDER: $runs rounds of the three packers on FOLDER, each into a
# fresh archive, then their figures, archive sizes and ratios.
pack() {
  local set=$1 folder=$2 round
  find "$folder" -type f -exec cat {} + >/dev/null
  for round in $(seq "$runs"); do
    rm -f "$work"/*.zip
    timed "pakkaro" "$pakkaro" "$folder" "$work/pakkaro.zip"
    # The files pakkaro took, without its folder entries (7zz would add a
    # named folder's whole contents).
    python3 -c 'import sys, zipfile
print("\n".join(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/")))' \
      "$work/pakkaro.zip" >"$work/names"
    have zip && (cd "$folder" && timed "zip -9" zip -q -9 "$work/zip.zip" -@ <"$work/names")
    have 7zz && (cd "$folder" && timed "$seven" 7zz a -tzip -mx=5 -mmt="$cores" "$work/7zz.zip" "@$work/names")
  done
  have unzip && { unzip -tqq "$work/pakkaro.zip" || echo "warning: unzip -t finds faults in pakkaro's archive"; }
  local bytes packed name size
  bytes=$(cd "$folder" && tr '\n' '\0' <"$work/names" | du -cb --files0-from=- | tail -n 1 | cut -f1)
  echo "$set: $(wc -l <"$work/names") files, $((bytes / 1000000)) MB after the exclusion lists"
  table "pakkaro" "zip -9" "$seven"
  ratio "pakkaro" "zip -9"
  ratio "pakkaro" "$seven"
  packed=$(stat -c %s "$work/pakkaro.zip")
  for name in zip 7zz; do
    if [ ! -f "$work/$name.zip" ]; then echo "  archive size beside $name: skipped"; continue; fi
    size=$(stat -c %s "$work/$name.zip")
    awk -v n="$name" -v p="$packed" -v s="$size" \
      'BEGIN { printf "  archive MB: pakkaro %.2f, %s %.2f, pakkaro / %s %.4f\n", p / 1e6, n, s / 1e6, n, p / s }'
  done
  : >"$figures"
}

load
pack "corpus" "$corpus"
mkdir "$work/project"
# pipefail off and cat's complaint dropped: head ends the stream early on purpose.
(set +o pipefail; find "$corpus" -type f ! -name .complete -print0 | LC_ALL=C sort -z | xargs -0 cat 2>/dev/null |
  head -c 200000000 >"$work/project/assets.bin")
pack "project with one 200 MB file" "$work/project"
