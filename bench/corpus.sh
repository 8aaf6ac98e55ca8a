# Sourced by the bench scripts: makes the benchmark corpus at $corpus when it
# is not complete, then turns $corpus into an absolute path.
ensure_corpus() {
  if [ ! -f "$corpus/.complete" ]; then
    local maker=$here/../../shared/bench/make-corpus.sh
    [ -f "$maker" ] || maker=/work/shared/bench/make-corpus.sh
    bash "$maker" "$corpus" >/dev/null
  fi
  corpus=$(realpath "$corpus")
}
