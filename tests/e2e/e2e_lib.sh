# Shared by the end-to-end scripts: sourced with the script's arguments, the
# program under test and "wine" for the Windows build. Gives korbel, the tool
# built beside the program, a work folder removed at exit, the check
# counters, path conversion for the program under test and a runner.

# The tools every script calls come with the packages of tools/install-deps.sh;
# a missing one stops the script with its name, never skips a step silently.
for tool in python3 unzip 7zz iconv cmp od sha256sum find; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (run tools/install-deps.sh)" >&2; exit 1; }
done

korbel=$(dirname "$1")/korbel
[ "${2:-}" = wine ] && korbel=$korbel.exe

wine_server_program=/usr/lib/wine/wineserver64
runner=()
wine_prefix=
if [ "${2:-}" = wine ]; then
  [ -x "$wine_server_program" ] || { echo "missing tool: $wine_server_program (package wine64)" >&2; exit 1; }
  runner=("$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-run.sh")
  wine_prefix=${PAKKARO_WINEPREFIX:-${TMPDIR:-/tmp}/pakkaro-wine-$(id -u)}
fi
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
passed=0
failed=0
skipped=0

# The Wine server of a prefix: wine_server PREFIX ARGS... (-w waits until it
# has written the registry and ended, -k kills it, -p keeps it running).
wine_server() {
  local prefix=$1
  shift
  WINEPREFIX=$prefix "$wine_server_program" "$@"
}

# Every independent reader accepts the archive: unzip -t, 7zz t without
# warnings and Python's zipfile.
readers_accept() {  # readers_accept ARCHIVE
  local seven
  # In a locale without UTF-8, unzip takes a UTF-8 name for a mismatch.
  LC_ALL=C.UTF-8 unzip -tqq "$1" >/dev/null 2>&1 || { echo "unzip -t refuses $1" >&2; return 1; }
  seven=$(7zz t "$1" 2>&1)
  [ $? = 0 ] && grep -q '^Everything is Ok' <<<"$seven" && ! grep -qi warning <<<"$seven" ||
    { echo "7zz t refuses $1: $seven" >&2; return 1; }
  python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' "$1" ||
    { echo "zipfile refuses $1" >&2; return 1; }
}

# An independent checker that may be absent counts the checks it would have
# made as skipped, with a SKIPPED: line naming it: need_tool TOOL WHAT.
need_tool() {
  command -v "$1" >/dev/null && return 0
  skipped=$((skipped + 1))
  echo "SKIPPED: $2 ($1 is not installed)" >&2
  return 1
}

# The program's standard output, byte for byte, is what printf makes of the
# arguments: prints_exactly FORMAT ARGS...
prints_exactly() {
  # shellcheck disable=SC2059
  printf "$@" >"$work/expected"
  cmp -s "$work/expected" "$work/stdout" || {
    echo "expected bytes:" >&2; od -c "$work/expected" | head -20 >&2
    echo "printed bytes:" >&2; od -c "$work/stdout" | head -20 >&2
    return 1
  }
}

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
  # korbel on Linux writes the terminal's encoding, UTF-8; pakkaro and the
  # Windows build write Windows-1252 bytes.
  if [ ${#runner[@]} = 0 ] && [ "$(basename "$program")" = korbel ]; then
    output=$(tr -d '\r' <"$work/stdout")
  else
    output=$(iconv -f WINDOWS-1252 -t UTF-8 <"$work/stdout" | tr -d '\r')
  fi
}

names_of() {  # the sorted entry names of an archive
  python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$1"
}

# The shared tree of names from many scripts, for both builds' suites: Greek,
# Cyrillic (a folder too), CJK, an emoji beyond 16 bits, Polish, Nordic, a
# combining accent beside its precomposed form, and Windows-1252 names.
# name_tree_names prints the files' relative paths, one a line, sorted as
# Python sorts them; make_name_tree DIR makes them, each holding its own name.
name_tree_names() {
  python3 - <<'PY'
names = ['\u03b1.txt', '\u041f\u0440\u0438\u0432\u0435\u0442.c', '\u4e2d.h', '\U0001F600.txt',
         '\u0141\u00f3d\u017a.c', '\u041f\u0430\u043f\u043a\u0430/inner.c', '\u00d8re.txt',
         'e\u0301te\u0301.txt', '\u00e9t\u00e9.txt', '\u00dcbung.c', 'Stra\u00dfe.h', 'na\u00efve.txt',
         '\u20acuro.txt', 'caf\u00e9/men\u00fc.c']
print('\n'.join(sorted(names)))
PY
}
make_name_tree() {  # make_name_tree DIR
  local name
  while IFS= read -r name; do
    mkdir -p "$1/$(dirname "$name")"
    printf '%s' "$name" >"$1/$name"
  done < <(name_tree_names)
}

# The entry names of an archive by each independent reader, sorted; the
# readers that are missing are counted as skipped: names_by READER ARCHIVE.
names_by() {
  case $1 in
    zipfile) names_of "$2" ;;
    unzip) LC_ALL=C.UTF-8 unzip -Z1 "$2" | LC_ALL=C.UTF-8 python3 -c 'import sys; print("\n".join(sorted(sys.stdin.read().split("\n")[:-1])))' ;;
    7zz) LC_ALL=C.UTF-8 7zz l -slt -ba "$2" | sed -n 's/^Path = //p' |
           LC_ALL=C.UTF-8 python3 -c 'import sys; print("\n".join(sorted(sys.stdin.read().split("\n")[:-1])))' ;;
    bsdtar) LC_ALL=C.UTF-8 bsdtar -tf "$2" | LC_ALL=C.UTF-8 python3 -c 'import sys; print("\n".join(sorted(sys.stdin.read().split("\n")[:-1])))' ;;
  esac
}

finish() {  # prints the counts; the exit status tells whether all passed
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" = 0 ]
}
