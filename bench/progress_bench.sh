#!/usr/bin/env bash
# What the progress line costs: pakkaro packs the benchmark corpus with its
# standard error on a pseudo-terminal (the line is drawn) and redirected to
# a file (nothing is drawn), in turns, RUNS times each; prints the median
# wall and CPU times (user + system; steadier on a shared machine) and the
# differences in percent.
# Usage: progress_bench.sh PAKKARO [CORPUS] [RUNS]
set -euo pipefail
pakkaro=$(realpath "$1")
corpus=${2:-/tmp/pakkaro-corpus}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"
runs=${3:-5}
ensure_corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
find "$corpus" -type f -exec cat {} + >/dev/null

# One run: prints its wall time in seconds; MODE terminal or file.
timed_run() {
  python3 - "$1" "$pakkaro" "$corpus" "$work/out.zip" <<'PY'
import os, pty, resource, subprocess, sys, time
mode, command = sys.argv[1], sys.argv[2:]
if os.path.exists(command[-1]):
    os.remove(command[-1])
start = time.monotonic()
before = resource.getrusage(resource.RUSAGE_CHILDREN)
if mode == "terminal":
    master, slave = pty.openpty()
    child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=slave)
    os.close(slave)
    while True:
        try:
            if not os.read(master, 65536):
                break
        except OSError:
            break
    code = child.wait()
else:
    with open(os.devnull, "wb") as sink:
        code = subprocess.call(command, stdin=subprocess.DEVNULL, stdout=sink, stderr=sink)
after = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
print("%.3f %.3f" % (time.monotonic() - start, cpu))
sys.exit(code)
PY
}

for _ in $(seq "$runs"); do
  timed_run terminal >>"$work/terminal"
  timed_run file >>"$work/file"
done
median() {  # median FILE COLUMN
  cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
for column in 1 2; do
  what=$([ $column = 1 ] && echo wall || echo CPU)
  t=$(median "$work/terminal" $column)
  f=$(median "$work/file" $column)
  awk -v w="$what" -v t="$t" -v f="$f" \
    'BEGIN { printf "%s time, median: with the progress line %.3f s, without %.3f s: %+.1f %%\n", w, t, f, (t - f) * 100 / f }'
done
