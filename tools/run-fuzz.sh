#!/usr/bin/env bash
# Runs every fuzz target of a PAKKARO_FUZZ build for a bounded time, each on a
# working copy of its seed corpus, and prints executions per second, coverage
# and features reached per target.
# Usage: run-fuzz.sh BUILD SECONDS [TARGET...]
# FUZZ_JOBS (default 1) targets run side by side; a finding stops its target
# and leaves the crashing input in BUILD/corpus-work/findings/.
set -u
build=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
targets=${*:-$(sed -n 's/^set(fuzz_targets \(.*\)/\1/p;/^    [a-z_ ]*)$/s/)//p' "$root/fuzz/CMakeLists.txt")}
jobs=${FUZZ_JOBS:-1}
work=$build/corpus-work
mkdir -p "$work/findings" "$work/logs"

# The targets that parse whole archives get the record signatures and
# extra-field ids as a dictionary.
dictionary_for() {
  case $1 in
    archive_open | archive_entries) echo "-dict=$root/fuzz/zip.dict" ;;
  esac
}

run_one() {
  local target=$1
  local corpus=$work/$target
  mkdir -p "$corpus"
  cp -n "$root/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null
  # shellcheck disable=SC2046
  "$build/fuzz/${target}_fuzz" "$corpus" $(dictionary_for "$target") -max_total_time="$seconds" -rss_limit_mb=2048 \
    -malloc_limit_mb=2048 -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$work/findings/$target-" >"$work/logs/$target.log" 2>&1
  echo $? >"$work/logs/$target.status"
}

running=0
for target in $targets; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-16s %10s %8s %8s %8s %s\n' target exec/s cov ft corpus result
for target in $targets; do
  log=$work/logs/$target.log
  status=$(cat "$work/logs/$target.status" 2>/dev/null || echo 1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
  execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  files=$(find "$work/$target" -type f | wc -l)
  result=ok
  if [ "$status" != 0 ]; then
    result="FINDING (see $log)"
    failed=1
  fi
  printf '%-16s %10s %8s %8s %8s %s\n' "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$files" "$result"
done
exit $failed
