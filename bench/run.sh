#!/usr/bin/env bash
# Runs every benchmark of a build made with PAKKARO_BENCH=ON (scale_bench is
# the "scale" section), then packing and reading the corpus beside the peers. Figures only: a benchmark never fails on a goal.
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
echo "==== change_bench"
bash "$here/change_bench.sh" "$build/korbel"
echo "==== codec_read_bench"
bash "$here/codec_read_bench.sh" "$build/korbel"
