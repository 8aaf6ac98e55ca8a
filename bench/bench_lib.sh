# Sourced by the shell benchmarks: the corpus, the peers and the timing they
# share. Every timed command is one a user types, run once per round into a
# fresh place; the rounds take the programs in turns, so a change of the
# machine's load falls on all of them alike, and the median round counts.
# Figures only: a benchmark never fails on a goal.
runs=${BENCH_RUNS:-3}
cores=$(nproc)

# Makes the benchmark corpus at $corpus when it is not complete, then turns
# $corpus into an absolute path.
ensure_corpus() {
  if [ ! -f "$corpus/.complete" ]; then
    local maker=$here/../../shared/bench/make-corpus.sh
    [ -f "$maker" ] || maker=/work/shared/bench/make-corpus.sh
    bash "$maker" "$corpus" >/dev/null
  fi
  corpus=$(realpath "$corpus")
}

# have TOOL: whether TOOL is installed; a missing peer's rows say "skipped".
have() { command -v "$1" >/dev/null 2>&1; }

# timed NAME COMMAND...: runs COMMAND once, its output discarded, and adds
# "wall-seconds cpu-seconds peak-KiB NAME" to $figures (CPU: user and system
# time of all its threads; peak: its resident memory; NAME may hold spaces).
# A failed command is reported and leaves no figure.
timed() {
  local name=$1
  shift
  if ! /usr/bin/time -q -f "%e %U %S %M" -o "$figures.one" "$@" >/dev/null 2>"$figures.err"; then
    echo "$name failed: $(head -c 300 "$figures.err")" >&2
    return 0
  fi
  awk -v n="$name" '{ printf "%s %.2f %s %s\n", $1, $2 + $3, $4, n }' "$figures.one" >>"$figures"
}

# The name of a figure, from its fourth field on.
name_of='function name_of(  i, s) { s = $4; for (i = 5; i <= NF; i++) s = s " " $i; return s }'

# median NAME COLUMN: the median of a column of NAME's figures (1 wall, 2
# CPU, 3 peak), empty when it has none.
median() {
  awk -v n="$1" -v c="$2" "$name_of"' name_of() == n { print $c }' "$figures" | sort -n |
    awk '{ v[NR] = $1 } END { if (NR) print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# table NAME...: the median wall and CPU time and the largest peak of each
# name, one line each; "skipped" for a name without figures.
table() {
  printf "  %-22s %9s %9s %10s\n" "" "wall s" "cpu s" "peak MiB"
  local name wall
  for name in "$@"; do
    wall=$(median "$name" 1)
    if [ -z "$wall" ]; then
      printf "  %-22s skipped\n" "$name"
      continue
    fi
    printf "  %-22s %9.2f %9.2f %10.1f\n" "$name" "$wall" "$(median "$name" 2)" \
      "$(awk -v n="$name" "$name_of"' name_of() == n && $3 > p { p = $3 } END { print p / 1024 }' "$figures")"
  done
}

# ratio NAME PEER: NAME's median wall and CPU time as a multiple of PEER's.
ratio() {
  local a=$(median "$1" 1) b=$(median "$2" 1) ac=$(median "$1" 2) bc=$(median "$2" 2)
  if [ -z "$a" ] || [ -z "$b" ]; then
    printf "  %s / %s: skipped\n" "$1" "$2"
    return
  fi
  awk -v x="$1" -v y="$2" -v a="$a" -v b="$b" -v ac="$ac" -v bc="$bc" 'BEGIN {
    printf "  %s / %s: time %.2f, cpu %.2f\n", x, y, (b > 0 ? a / b : 0), (bc > 0 ? ac / bc : 0) }'
}

# load: the machine's load average, which the figures depend on.
load() { echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) on $cores cores; median of $runs rounds"; }
