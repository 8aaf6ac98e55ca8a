#!/usr/bin/env bash
# Runs `pakkaro -c` and reads back what it registered for the nine project
# file types. The Windows build runs under Wine in a prefix of its own that
# is thrown away at the end; the POSIX build writes its registry file below a
# temporary HOME. Neither touches the registry of the machine.
# Usage: register_explorer_test.sh PAKKARO [wine]
set -u
pakkaro=$(readlink -f "$1")
wine=
[ "${2:-}" = wine ] && wine=1
if [ -n "$wine" ]; then
  PAKKARO_WINEPREFIX=$(mktemp -d)
  export PAKKARO_WINEPREFIX
fi
source "$(dirname "$0")/e2e_lib.sh" "$@"
wine_run=${runner[0]:-}
cleanup() {
  if [ -n "$wine" ]; then
    wine_server "$PAKKARO_WINEPREFIX" -k 2>/dev/null  # "no server running" is no fault
    rm -rf "$PAKKARO_WINEPREFIX"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

types="dsp dsw sln eww ewp uv2 uvproj uvprojx vcproj"
preset_ext=uv2            # its extension key names a class before the run
preset_class=Projekt.Klasse

if [ -n "$wine" ]; then
  program="Z:${pakkaro//\//\\}"
  run() { "$wine_run" "$pakkaro" "$@" >"$work/stdout" 2>/dev/null; }
  folder_arg() { echo "Z:${1//\//\\}"; }
  # The registry as a registry-export file (UTF-16 as Wine writes it).
  snapshot() { "$wine_run" reg export HKEY_CLASSES_ROOT "Z:${1//\//\\}" /y >/dev/null 2>&1; }
  "$wine_run" reg add "HKEY_CLASSES_ROOT\\.$preset_ext" /ve /d "$preset_class" /f >/dev/null 2>&1
else
  program=$pakkaro
  export HOME=$work/home
  unset XDG_DATA_HOME
  store=$HOME/.local/share/pakkaro/registry.reg
  mkdir -p "$(dirname "$store")"
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\.%s]\n@="%s"\n' \
    "$preset_ext" "$preset_class" >"$store"
  run() { "$pakkaro" "$@" >"$work/stdout" 2>/dev/null; }
  folder_arg() { echo "$1"; }
  snapshot() { cp "$store" "$1"; }
fi

# Checks a snapshot: every type's extension key names its class, the class
# has the verb with the command, the verb key has no default value, and
# nothing of the preset type went to a class of ours.
registered() {  # registered SNAPSHOT
  python3 - "$1" "$program" "$types" "$preset_ext" "$preset_class" <<'PY'
import re, sys
path, program, types, preset_ext, preset_class = sys.argv[1:]
raw = open(path, 'rb').read()
text = raw.decode('utf-16') if raw[:2] == b'\xff\xfe' else raw.decode('utf-8', 'surrogateescape')
keys, current = {}, None

def unquote(s):
    out, i = [], 0
    while i < len(s):
        if s[i] == '\\' and i + 1 < len(s):
            i += 1
        out.append(s[i])
        i += 1
    return ''.join(out)

for line in text.splitlines():
    if line.startswith('[') and line.endswith(']'):
        current = keys.setdefault(line[1:-1].lower(), {})
    elif current is not None:
        m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")="((?:[^"\\]|\\.)*)"$', line)
        if m:
            current['' if m.group(1) == '@' else unquote(m.group(2)).lower()] = unquote(m.group(3))

command = '"%s" "%%1"' % program
errors = []
for ext in types.split():
    ext_key = 'hkey_classes_root\\.' + ext
    want = preset_class if ext == preset_ext else ext + 'file'
    got = keys.get(ext_key, {}).get('')
    if got != want:
        errors.append('%s: default %r, wanted %r' % (ext_key, got, want))
    verb = 'hkey_classes_root\\%s\\shell\\projekt zippen' % want.lower()
    if keys.get(verb + '\\command', {}).get('') != command:
        errors.append('%s\\Command: %r, wanted %r' % (verb, keys.get(verb + '\\command', {}).get(''), command))
    if '' in keys.get(verb, {'': None}):
        errors.append('%s has a default value' % verb)
if any(k.startswith('hkey_classes_root\\%sfile' % preset_ext) for k in keys):
    errors.append('the preset type got a class of its own')
for e in errors:
    print(e, file=sys.stderr)
sys.exit(1 if errors else 0)
PY
}

# The part of a snapshot that registration writes, for comparing two runs.
ours() {  # ours SNAPSHOT
  python3 - "$1" "$types" "$preset_class" <<'PY'
import sys
path, types, preset_class = sys.argv[1:]
raw = open(path, 'rb').read()
text = raw.decode('utf-16') if raw[:2] == b'\xff\xfe' else raw.decode('latin-1')
names = ['.' + t for t in types.split()] + [t + 'file' for t in types.split()] + [preset_class]
prefixes = tuple('[hkey_classes_root\\' + n.lower() for n in names)
keep = False
for line in text.splitlines():
    if line.startswith('['):
        low = line.lower()
        keep = any(low == p + ']' or low.startswith(p + '\\') for p in prefixes)
    if keep and line:
        print(line)
PY
}

# ---- -c registers the nine types -------------------------------------------
run -c
status=$?
check "-c exits with 1 (got $status)" test "$status" -eq 1
check "-c prints nothing" test ! -s "$work/stdout"
snapshot "$work/first.reg"
check "registry readable after -c" test -s "$work/first.reg"
check "nine types registered with the command" registered "$work/first.reg"

if [ -n "$wine" ]; then
  # Wine's own reader agrees with the exported file.
  query_default() {  # query_default KEY: the default value as `reg query` shows it
    "$wine_run" reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p'
  }
  check "reg query .dsp" test "$(query_default 'HKEY_CLASSES_ROOT\.dsp')" = dspfile
  check "reg query dspfile command" \
    test "$(query_default 'HKEY_CLASSES_ROOT\dspfile\Shell\Projekt zippen\Command')" = "\"$program\" \"%1\""
  check "reg query preset class" test "$(query_default "HKEY_CLASSES_ROOT\\.$preset_ext")" = "$preset_class"
fi

# ---- a second run leaves the same registry ----------------------------------
run -C
status=$?
check "-C exits with 1 (got $status)" test "$status" -eq 1
snapshot "$work/second.reg"
ours "$work/first.reg" >"$work/first.txt"
ours "$work/second.reg" >"$work/second.txt"
check "the registration's keys are there to compare" test "$(wc -l <"$work/first.txt")" -ge 36
check "running -c twice leaves the same keys and values" cmp -s "$work/first.txt" "$work/second.txt"
if [ -z "$wine" ]; then
  check "the store file is byte-identical after the second run" cmp -s "$work/first.reg" "$work/second.reg"
fi

# ---- -c from a folder outside the ANSI code page ----------------------------
# The program's own path, as the system holds it, is what gets registered.
mkdir -p "$work/Łukasz"
cp "$pakkaro" "$work/Łukasz/"
copy=$work/Łukasz/$(basename "$pakkaro")
if [ -n "$wine" ]; then
  program="Z:${copy//\//\\}"
  "$wine_run" "$copy" -c >"$work/stdout" 2>/dev/null
else
  program=$copy
  "$copy" -c >"$work/stdout" 2>/dev/null
fi
status=$?
check "-c from Łukasz exits with 1 (got $status)" test "$status" -eq 1
snapshot "$work/lukasz.reg"
check "-c from Łukasz registers the program in Łukasz" registered "$work/lukasz.reg"

# ---- -c after a folder makes no archive -------------------------------------
project=$work/src/App
mkdir -p "$project"
printf 'int main(void) { return 0; }\n' >"$project/main.c"
run "$(folder_arg "$project")" out -c
status=$?
check "folder then -c exits with 1 (got $status)" test "$status" -eq 1
check "folder then -c creates no archive" test -z "$(find "$work" -name '*.zip' -print -quit)"

finish
