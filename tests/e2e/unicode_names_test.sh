#!/usr/bin/env bash
# Names from every script, long paths and names a file system would change:
# pakkaro packs them all under their own names, korbel restores them, and
# nothing lands on another entry's file. Names are checked with Python's
# zipfile, unzip, 7zz and bsdtar.
# Usage: unicode_names_test.sh PAKKARO [wine]
set -u
pakkaro=$1
source "$(dirname "$0")/e2e_lib.sh" "$@"
windows=
[ ${#runner[@]} -gt 0 ] && windows=1

# Every entry of an archive stands under DIR as a file of its own with the
# entry's data; with "only", DIR holds no other file:
# entries_extracted ARCHIVE DIR [only].
entries_extracted() {
  python3 - "$@" <<'PY'
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for name in z.namelist():
    with open(os.path.join(sys.argv[2], name), 'rb') as f:
        assert f.read() == z.read(name), name
if len(sys.argv) > 3:
    found = sorted(os.path.relpath(os.path.join(d, f), sys.argv[2]) for d, _, fs in os.walk(sys.argv[2]) for f in fs)
    assert found == sorted(z.namelist()), found
PY
}

# Every file of a folder, relative, sorted as Python sorts.
files_below() {  # files_below DIR
  (cd "$1" && find . -type f ! -name '*.zip' -printf '%P\n') |
    LC_ALL=C.UTF-8 python3 -c 'import sys; print("\n".join(sorted(sys.stdin.read().split("\n")[:-1])))'
}

same_names() {  # same_names READER ARCHIVE EXPECTED
  local got
  got=$(names_by "$1" "$2")
  [ "$got" = "$3" ] || { echo "$1 reads:" >&2; echo "$got" >&2; return 1; }
}

# ---- The tree of names packs whole ----------------------------------------------------
tree=$work/Namen
make_name_tree "$tree"
expected=$(name_tree_names)
count=$(wc -l <<<"$expected")
check "the tree was made" [ "$(files_below "$tree")" = "$expected" ]
run_program "$pakkaro" "$(arg "$tree")"
check "names tree: exit 0" [ "$status" = 0 ]
check "names tree: the count is every file ($count)" \
  prints_exactly '\n\n   Es wurden %i Datei ein eingefuegt!\n\n' "$count"
check "names tree: readers accept the archive" readers_accept "$tree/Namen.zip"
check "names tree: zipfile reads every name" same_names zipfile "$tree/Namen.zip" "$expected"
check "names tree: unzip reads every name" same_names unzip "$tree/Namen.zip" "$expected"
check "names tree: 7zz reads every name" same_names 7zz "$tree/Namen.zip" "$expected"
if need_tool bsdtar "names read by bsdtar"; then
  # bsdtar shows a combining accent composed with its letter.
  composed=$(LC_ALL=C.UTF-8 python3 -c 'import sys, unicodedata
print("\n".join(sorted(unicodedata.normalize("NFC", n) for n in sys.stdin.read().split("\n")[:-1])))' <<<"$expected")
  check "names tree: bsdtar reads every name" same_names bsdtar "$tree/Namen.zip" "$composed"
fi
check "names tree: each entry holds its own name" python3 - "$tree/Namen.zip" <<'PY'
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for name in z.namelist():
    assert z.read(name) == name.encode(), name
PY

# korbel restores the tree from pakkaro's archive.
run_program "$korbel" x "$(arg "$tree/Namen.zip")" -d "$(arg "$work/restored")"
check "names tree: korbel x exits 0" [ "$status" = 0 ]
check "names tree: korbel x restores every file" diff -r -x Namen.zip "$tree" "$work/restored"

# ---- Command-line paths outside the ANSI code page -----------------------------------------
# Two folders whose names differ only in a letter that the ANSI code page
# would turn into the other: each run packs its own.
mkdir -p "$work/Łukasz/App" "$work/Lukasz/App"
printf 'ł' >"$work/Łukasz/App/polish.c"
printf 'l' >"$work/Lukasz/App/plain.c"
run_program "$pakkaro" "$(arg "$work/Łukasz/App")"
check "Łukasz\\App: exit 0" [ "$status" = 0 ]
check "Łukasz\\App: its own file packed" [ "$(names_of "$work/Łukasz/App/App.zip" 2>/dev/null)" = polish.c ]
check "Lukasz\\App untouched" [ ! -e "$work/Lukasz/App/App.zip" ]
mkdir -p "$work/Проект"
printf 'int main(void) { return 0; }\n' >"$work/Проект/главный.c"
run_program "$pakkaro" "$(arg "$work/Проект")" "$(arg "$work/Проект/Архив.zip")"
check "Проект: exit 0" [ "$status" = 0 ]
check "Проект: archive under its own name" [ "$(names_of "$work/Проект/Архив.zip" 2>/dev/null)" = главный.c ]
# A path in a message: Windows-1252 as the message around it, '?' where it
# has no place (Windows); the path's own bytes on POSIX.
run_program "$pakkaro" "$(arg "$work/Ärger/Проект")"
check "missing path outside the code page: -1" [ "$status" = 255 ]
if [ -n "$windows" ]; then shown=$(printf '%s' "$(arg "$work/Ärger/??????")" | iconv -f UTF-8 -t WINDOWS-1252); else
  shown=$work/Ärger/Проект; fi
check "missing path outside the code page: message names it" \
  prints_exactly "\n\n   Der Pfad\n   '%s'\n   wurde nicht gefunden !\n\n" "$shown"

# A Windows-1252 path gives the same bytes as before: its letters in that page.
run_program "$pakkaro" "$(arg "$work/Müll")" "$(arg "$work/Straße.zip")"
check "missing Windows-1252 path: -1" [ "$status" = 255 ]
if [ -n "$windows" ]; then shown=$(printf '%s' "$(arg "$work/Müll")" | iconv -f UTF-8 -t WINDOWS-1252); else
  shown=$work/Müll; fi
check "missing Windows-1252 path: message byte for byte" \
  prints_exactly "\n\n   Der Pfad\n   '%s'\n   wurde nicht gefunden !\n\n" "$shown"
run_program "$pakkaro" "$(arg "$tree")" "$(arg "$work/Fehlt/Straße.zip")"
if [ -n "$windows" ]; then shown=$(printf '%s' "$(arg "$work/Fehlt/Straße.zip")" | iconv -f UTF-8 -t WINDOWS-1252); else
  shown=$work/Fehlt/Straße.zip; fi
check "archive in a missing folder: message byte for byte" \
  prints_exactly "\n\n   Die ZipDatei\n   '%s'\n   konnte nicht erzeugt werden !\n\n" "$shown"

# ---- An archive of UTF-8 names (bit 11) made elsewhere ------------------------------------------
python3 - "$work/utf8.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name in ['中.txt', '文.txt', 'Ж.txt', 'Øre.txt', 'α/β.txt']:
        z.writestr(name, 'data of ' + name)
PY
run_program "$korbel" x "$(arg "$work/utf8.zip")" -d "$(arg "$work/utf8")"
check "UTF-8 names: korbel x exits 0" [ "$status" = 0 ]
check "UTF-8 names: every entry in its own file" entries_extracted "$work/utf8.zip" "$work/utf8" only

# ---- Names a Windows file system would change ---------------------------------------------------
# same.txt. and same.txt  would both be same.txt, CON.txt the console device,
# ab:c.txt a stream of the file ab: Windows refuses those entries by name
# and keeps the rest; POSIX stores every name as it is.
python3 - "$work/mapped.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for name, data in [('same.txt', 'first'), ('same.txt.', 'second'), ('same.txt ', 'third'),
                       ('CON.txt', 'device'), ('ab:c.txt', 'stream'), ('dir./x.txt', 'folder dot')]:
        z.writestr(name, data)
PY
run_program "$korbel" x "$(arg "$work/mapped.zip")" -d "$(arg "$work/mapped")"
if [ -n "$windows" ]; then
  check "mapped names: exit 1" [ "$status" = 1 ]
  check "mapped names: the first keeps its data" [ "$(cat "$work/mapped/same.txt" 2>/dev/null)" = first ]
  check "mapped names: only the first was written" [ "$(files_below "$work/mapped")" = same.txt ]
  for name in 'same.txt.' 'same.txt ' CON.txt ab:c.txt dir./x.txt; do
    check "mapped names: '$name' refused by name" grep -qF "$name: " <<<"$output"
  done
  check "mapped names: the refusal is the bad-path text" grep -q 'Falsche Pfadname-Angabe' <<<"$output"
else
  check "mapped names: exit 0" [ "$status" = 0 ]
  check "mapped names: every name its own file" entries_extracted "$work/mapped.zip" "$work/mapped"
fi

# ---- A 400-character path round-trips ---------------------------------------------------------
long=$work/Lang
part=$(printf 'p%.0s' $(seq 1 90))
relative=$part/$part/$part/$part
name=$(printf 'n%.0s' $(seq 1 $((400 - ${#relative} - 1 - 2))))
mkdir -p "$long/$relative"
printf 'far away' >"$long/$relative/$name.c"
check "the long path is 400 characters" [ $((${#relative} + 1 + ${#name} + 2)) = 400 ]
run_program "$pakkaro" "$(arg "$long")"
check "400 characters: pakkaro exits 0" [ "$status" = 0 ]
check "400 characters: the entry is packed" [ "$(names_of "$long/Lang.zip" 2>/dev/null)" = "$relative/$name.c" ]
run_program "$korbel" x "$(arg "$long/Lang.zip")" -d "$(arg "$work/long-out")"
check "400 characters: korbel x exits 0" [ "$status" = 0 ]
check "400 characters: the file comes back" cmp -s "$long/$relative/$name.c" "$work/long-out/$relative/$name.c"

# ---- korbel a of a path it cannot take -----------------------------------------------------------
# A folder path beyond the walk's start buffer (520 bytes): the engine's text
# and status 1, never an empty archive and success.
deep=$work/Tief
deep_relative=$part/$part/$part/$part/$part/$part
mkdir -p "$deep/$deep_relative"
printf 'deep' >"$deep/$deep_relative/f.c"
run_program "$korbel" a "$(arg "$work/deep.zip")" "$(arg "$deep/$deep_relative")"
check "korbel a of a path too long: exit 1" [ "$status" = 1 ]
check "korbel a of a path too long: the engine says so" grep -q 'Falsche Pfadname-Angabe' <<<"$output"
run_program "$korbel" a "$(arg "$work/deep-ok.zip")" "$(arg "$deep/$part/$part/$part")"
check "korbel a of a folder over 260 characters: exit 0" [ "$status" = 0 ]
check "korbel a of a folder over 260 characters: its file is there" \
  [ "$(names_of "$work/deep-ok.zip" 2>/dev/null)" = "$part/$part/$part/$part/f.c" ]

finish
