#!/usr/bin/env bash
# Reading the benchmark corpus: its archive made by `zip -9`, extracted into a
# tmpfs folder by korbel beside `unzip`, and tested by korbel beside
# `unzip -t`; best of three runs each, the page cache warmed first. Prints the
# figures and korbel's ratios (goals: extraction <= 0.5x unzip, test <= 0.35x).
# Usage: read_bench.sh KORBEL [CORPUS]
set -euo pipefail
korbel=$(realpath "$1")
corpus=${2:-/tmp/pakkaro-corpus}
here=$(cd "$(dirname "$0")" && pwd)
for tool in /usr/bin/zip /usr/bin/unzip /usr/bin/time; do
  if [ ! -x "$tool" ]; then echo "read bench skipped: $tool is missing"; exit 0; fi
done
. "$here/corpus.sh"
ensure_corpus
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || { echo "read bench skipped: no writable tmpfs at /dev/shm"; exit 0; }
work=$(mktemp -d)
out=$(mktemp -d "$shm/read-bench.XXXXXX")
trap 'rm -rf "$work" "$out"' EXIT

(cd "$corpus" && /usr/bin/zip -q -9 -r "$work/corpus.zip" . -x .complete)
cat "$work/corpus.zip" >/dev/null

best() {  # best NAME COMMAND... : the best wall time of three runs, into $work/figures
  local name=$1 run seconds best=
  shift
  for run in 1 2 3; do
    rm -rf "$out/x" && mkdir "$out/x"
    /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null
    seconds=$(cat "$work/time")
    if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$seconds; fi
  done
  echo "$name $best" >> "$work/figures"
}

best korbel-x "$korbel" x "$work/corpus.zip" -d "$out/x"
best unzip-x /usr/bin/unzip -q -o "$work/corpus.zip" -d "$out/x"
best korbel-t "$korbel" t "$work/corpus.zip"
best unzip-t /usr/bin/unzip -tqq "$work/corpus.zip"
# The figures count only if both wrote the same tree.
rm -rf "$out/x" "$out/y" && mkdir "$out/x" "$out/y"
"$korbel" x "$work/corpus.zip" -d "$out/x" >/dev/null
/usr/bin/unzip -q -o "$work/corpus.zip" -d "$out/y"
diff -r "$out/x" "$out/y" >/dev/null || echo "warning: korbel and unzip extracted different trees"

files=$(/usr/bin/unzip -Z1 "$work/corpus.zip" | wc -l)
echo "corpus archive by zip -9: $files entries, $(( $(stat -c %s "$work/corpus.zip") / 1000000 )) MB; extracted into $shm"
awk '{ t[$1] = $2 }
  END {
    printf "extract: korbel %.2f s, unzip %.2f s, korbel/unzip %.2f\n", t["korbel-x"], t["unzip-x"], t["korbel-x"] / t["unzip-x"]
    printf "test:    korbel %.2f s, unzip -t %.2f s, korbel/unzip %.2f\n", t["korbel-t"], t["unzip-t"], t["korbel-t"] / t["unzip-t"]
  }' "$work/figures"
