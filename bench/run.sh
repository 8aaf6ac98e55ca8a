#!/usr/bin/env bash
# Runs every benchmark of a build made with PAKKARO_BENCH=ON (scale_bench is
# the "scale" section), then the shell benchmarks, each beside its peers with
# the commands a user types: packing (the corpus and a project of one 200 MB
# file), extracting and testing the corpus archive, listing 100 000 and
# 1 000 000 entries (BENCH_LARGE=0: 100 000 only), changing a large archive and
# the other decoders. BENCH_RUNS rounds each (default 3), the median counts.
# Figures only: a benchmark never fails on a goal.
# Usage: run.sh [BUILD_DIR]   (default build/bench)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build/bench}")
for source in "$here"/*.cpp; do
  name=$(basename "$source" .cpp)
  echo "==== $name"
  "$build/bench/$name"
done
echo "==== pack_bench"
bash "$here/pack_bench.sh" "$build/pakkaro"
echo "==== read_bench"
bash "$here/read_bench.sh" "$build/korbel"
echo "==== list_bench"
bash "$here/list_bench.sh" "$build/korbel"
echo "==== change_bench"
bash "$here/change_bench.sh" "$build/korbel"
echo "==== codec_read_bench"
bash "$here/codec_read_bench.sh" "$build/korbel"
