# Shared by the end-to-end scripts: sourced with the script's second argument
# ("wine" for the Windows build). Gives a work folder removed at exit, the
# check counter, path conversion for the program under test and a runner.

runner=()
[ "${1:-}" = wine ] && runner=("$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-run.sh")
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
passed=0
failed=0

check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what" >&2
  fi
}

# Converts a Linux path for the program under test.
arg() {
  if [ ${#runner[@]} -gt 0 ]; then echo "Z:${1//\//\\}"; else echo "$1"; fi
}

run_program() {  # run_program PROGRAM ARGS... ; sets status and output
  local program=$1
  shift
  "${runner[@]}" "$program" "$@" >"$work/stdout" 2>/dev/null
  status=$?
  output=$(iconv -f WINDOWS-1252 -t UTF-8 <"$work/stdout" | tr -d '\r')
}

names_of() {  # the sorted entry names of an archive
  python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$1"
}

finish() {  # prints the counts; the exit status tells whether all passed
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}
