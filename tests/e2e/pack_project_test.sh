#!/usr/bin/env bash
# Runs pakkaro on project folders made here and checks the archives with
# independent tools: unzip -t, 7zz t and Python's zipfile.
# Usage: pack_project_test.sh PAKKARO [wine]
set -u
pakkaro=$1
source "$(dirname "$0")/e2e_lib.sh" "$@"
run() { run_program "$pakkaro" "$@"; }

has_name() {  # has_name ARCHIVE NAME
  names_of "$1" 2>/dev/null | grep -qx "$2"
}

lacks_name() {
  ! has_name "$@"
}

# ---- A C project with build products ------------------------------------------
proj=$work/src/App
mkdir -p "$proj/Debug" "$proj/sub/deep" "$proj/.svn"
for i in $(seq 1 40); do printf 'int function_%d(void) { return %d; }\n' "$i" "$i"; done > "$proj/main.c"
printf '#pragma once\n' > "$proj/sub/util.h"
head -c 20000 /dev/urandom > "$proj/sub/deep/blob.bin"
: > "$proj/empty.txt"
printf 'obj' > "$proj/Debug/main.obj"
printf 'exe' > "$proj/Debug/App.exe"
printf 'lib' > "$proj/App.lib"
printf 'log' > "$proj/BuildLog.htm"
printf 'old' > "$proj/App_old.zip"
printf 'PK' > "$proj/other.zip"
printf 'x' > "$proj/.svn/entries"
printf 'seven' > "$proj/data.7z"
printf 'project' > "$proj/App.dsp"
printf 'project' > "$proj/App.uvprojx"
touch -d '2020-05-17 10:11:13' "$proj/main.c"

# Everything in the folder but the archive: kinds, modes, sizes, times and contents.
snapshot() {
  (cd "$1" && find . ! -name App.zip -printf '%p %y %m\n' | sort &&
    find . -type f ! -name App.zip -printf '%p %s %T@\n' | sort &&
    find . -type f ! -name App.zip -print0 | sort -z | xargs -0 -r sha256sum)
}
before=$(snapshot "$proj")
run "$(arg "$proj")"
check "project folder untouched but for the archive" [ "$before" = "$(snapshot "$proj")" ]
check "folder run exits 0" [ "$status" = 0 ]
check "archive named after the folder" [ -f "$proj/App.zip" ]
check "success message, byte for byte" prints_exactly '\n\n   Es wurden 9 Datei ein eingefuegt!\n\n'
check "archive passes unzip, 7zz and zipfile" readers_accept "$proj/App.zip"
actual=$(names_of "$proj/App.zip")
check "exact names, relative, slash separated" [ "$actual" = "$(printf '.svn/entries\nApp.dsp\nApp.uvprojx\ndata.7z\nempty.txt\nmain.c\nother.zip\nsub/deep/blob.bin\nsub/util.h')" ] || echo "$actual" >&2
check "contents byte for byte" python3 - "$proj" <<'PY'
import sys, zipfile, os
root = sys.argv[1]
z = zipfile.ZipFile(os.path.join(root, 'App.zip'))
for info in z.infolist():
    data = open(os.path.join(root, info.filename), 'rb').read()
    assert z.read(info) == data, info.filename
    # empty files, stored extensions and incompressible data are stored;
    # source text is deflated
    stored = info.file_size == 0 or info.filename.endswith(('.zip', '.7z', 'blob.bin'))
    if stored:
        assert info.compress_type == 0, info.filename
    if info.filename == 'main.c':
        assert info.compress_type == 8 and info.compress_size < info.file_size
    if info.compress_type == 0:
        assert info.compress_size == info.file_size, info.filename
main = z.getinfo('main.c')
assert main.date_time == (2020, 5, 17, 10, 11, 12) or main.date_time == (2020, 5, 17, 10, 11, 14), main.date_time
assert z.comment.startswith(b'KB Korbel'), z.comment
PY

# An archive of an earlier run is left out on the next one, other zips go in.
run "$(arg "$proj")"
check "second run leaves its own archive out" [ "$(names_of "$proj/App.zip")" = "$actual" ]

# ---- Project files and archive names ----------------------------------------------
mkdir -p "$work/out"
run "$(arg "$proj/App.uvprojx")" "$(arg "$work/out/keil.7z")"
check "explicit archive name gets .zip" [ -f "$work/out/keil.zip" ]
check "uVision project keeps its libraries" has_name "$work/out/keil.zip" App.lib
run "$(arg "$proj/App.dsp")" backup
check "name without folder goes into the project folder" [ -f "$proj/backup.zip" ]
check "other projects leave libraries out" lacks_name "$proj/backup.zip" App.lib
run "$(arg "$proj")/"
check "trailing separator behaves as without" [ "$status" = 0 ]

# ---- A file larger than one block between small ones --------------------------------
# 40 MB of C headers go to the workers in pieces that join into one Deflate
# stream, no larger than zip -9 makes it; a noise file of the same kind is
# stored.
large=$work/Large
mkdir -p "$large"
find /usr/include -name '*.h' -type f -print0 2>/dev/null | sort -z | xargs -0 cat 2>/dev/null |
  head -c 40000000 >"$large/big.txt"
if [ "$(stat -c %s "$large/big.txt")" -lt 40000000 ]; then
  skipped=$((skipped + 1))
  echo "SKIPPED: a file larger than one block (less than 40 MB of headers in /usr/include)" >&2
else
  head -c 34000000 /dev/urandom >"$large/noise.bin"
  for name in a z; do printf 'int %s;\n' "$name" >"$large/$name.c"; done
  run "$(arg "$large")"
  check "large files: exit 0" [ "$status" = 0 ]
  check "large files: archive passes unzip, 7zz and zipfile" readers_accept "$large/Large.zip"
  check "large files: data in directory order, methods and contents" python3 - "$large" <<'PY'
import sys, zipfile, os
root = sys.argv[1]
z = zipfile.ZipFile(os.path.join(root, 'Large.zip'))
infos = z.infolist()
assert sorted(i.filename for i in infos) == ['a.c', 'big.txt', 'noise.bin', 'z.c'], infos
assert infos == sorted(infos, key=lambda i: i.header_offset), [i.filename for i in infos]
for info in infos:
    assert z.read(info) == open(os.path.join(root, info.filename), 'rb').read(), info.filename
big, noise = z.getinfo('big.txt'), z.getinfo('noise.bin')
assert big.compress_type == 8 and big.compress_size < big.file_size // 2, (big.compress_size, big.file_size)
assert noise.compress_type == 0 and noise.compress_size == noise.file_size
PY
  if need_tool zip "size against zip -9"; then
    (cd "$large" && zip -q -9 "$work/ref.zip" big.txt)
    size_in() {
      python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).getinfo("big.txt").compress_size)' "$1"
    }
    ours=$(size_in "$large/Large.zip")
    theirs=$(size_in "$work/ref.zip")
    check "large files: no larger than zip -9 ($ours vs $theirs)" [ "$ours" -le "$theirs" ]
  fi
fi
rm -rf "$large" "$work/ref.zip"

# ---- Refusals -----------------------------------------------------------------------
run
check "no argument: usage and -1" [ "$status" = 255 ]
check "usage text, byte for byte" prints_exactly '%s' \
  $'\n\n  Syntax:   Pakkaro  Pfad [ZipName] [-c]\n'\
$'\n               Pfad    : Von dort werden alle C++ Projektdateien kopiert.'\
$'\n               ZipName : Ziel Zipdatei.'\
$'\n               -c      : Programm f\xFCr Explorer konfigurieren.\n\n'
run "$(arg "$work/missing")"
check "missing path: -1" [ "$status" = 255 ]
check "missing path message, byte for byte" \
  prints_exactly "\n\n   Der Pfad\n   '%s'\n   wurde nicht gefunden !\n\n" "$(arg "$work/missing")"
run "$(arg "$proj")" "$(arg "$work/no/such/folder/x.zip")"
check "archive that cannot be created: -1" [ "$status" = 255 ]
check "cannot-create message, byte for byte" \
  prints_exactly "\n\n   Die ZipDatei\n   '%s'\n   konnte nicht erzeugt werden !\n\n" "$(arg "$work/no/such/folder/x.zip")"

# A drive root counts as not found; an explicit archive name keeps a wrong
# acceptance from writing anywhere but here.
if [ ${#runner[@]} -gt 0 ]; then roots=('C:\' 'Z:\'); else roots=(/); fi
says_not_found() {  # says_not_found PATH: the message names the path as given
  prints_exactly "\n\n   Der Pfad\n   '%s'\n   wurde nicht gefunden !\n\n" "$1"
}
for root in "${roots[@]}"; do
  run "$root" "$(arg "$work/root.zip")"
  check "drive root $root: -1" [ "$status" = 255 ]
  check "drive root $root: not-found message" says_not_found "$root"
  check "drive root $root: no archive" [ ! -e "$work/root.zip" ]
done

# A write refused half-way (the file size limit, with its signal ignored so
# that the write fails with EFBIG): the add-failed message and -1. Under Wine
# the server must already run, so that only the program works under the limit.
big=$work/Big
mkdir -p "$big"
head -c 300000 /dev/urandom >"$big/noise.bin"
[ -n "$wine_prefix" ] && wine_server "$wine_prefix" -p20
(trap '' XFSZ; ulimit -f 100; exec "${runner[@]}" "$pakkaro" "$(arg "$big")") >"$work/stdout" 2>/dev/null
status=$?
check "refused write: -1" [ "$status" = 255 ]
check "add-failed message, byte for byte" \
  prints_exactly '\n\n   Es gab einen Fehler bein einf\xFCgen der Dateien!\n\n'

# ---- Explorer registration --------------------------------------------------------
# -c in any case and any position registers and does nothing else. The registry
# it writes is a throw-away one: a temporary home natively, a fresh prefix under Wine.
registry_home=$work/home
mkdir -p "$registry_home"
if [ ${#runner[@]} -gt 0 ]; then
  shared_prefix=${PAKKARO_WINEPREFIX:-${TMPDIR:-/tmp}/pakkaro-wine-$(id -u)}
  fresh_prefix=$work/wineprefix
  if [ -f "$shared_prefix/system.reg" ]; then
    # Linked, not copied, to save time; the registry files, the only ones a run
    # changes, are real copies so the shared prefix stays as it was.
    cp -al "$shared_prefix" "$fresh_prefix"
    for reg in "$fresh_prefix"/*.reg; do cp --remove-destination "$shared_prefix/${reg##*/}" "$reg"; done
    rm -f "$fresh_prefix/wineserver"
  fi
  register() { PAKKARO_WINEPREFIX=$fresh_prefix run "$@"; }
  registry_text() {
    wine_server "$fresh_prefix" -w
    cat "$fresh_prefix/system.reg" 2>/dev/null
  }
else
  register() { HOME=$registry_home XDG_DATA_HOME='' run "$@"; }
  registry_text() { cat "$registry_home/.local/share/pakkaro/registry.reg" 2>/dev/null; }
fi
register -C
check "-C alone: exit 1" [ "$status" = 1 ]
check "-C alone prints nothing" [ -z "$output" ]
text=$(registry_text)
check "-C registers the menu text" grep -q "Projekt zippen" <<<"$text"
for type in dsp dsw sln eww ewp uv2 uvproj uvprojx vcproj; do
  check "-C registers .$type" grep -qi "\\\.$type\]" <<<"$text"
done
rm -f "$proj/out.zip"
register "$(arg "$proj")" out -c
check "path before -c: exit 1" [ "$status" = 1 ]
check "path before -c: no archive" [ ! -e "$proj/out.zip" ]

# ---- An unreadable file and folder -------------------------------------------------
# Root reads everything: natively the program then runs as nobody; a Wine prefix
# belongs to its user, so under Wine as root the case cannot be made.
locked_root=$(mktemp -d)
trap 'chmod -R u+rwx "$work" "$locked_root" 2>/dev/null; rm -rf "$work" "$locked_root"' EXIT
chmod 755 "$locked_root"
locked=$locked_root/Locked
mkdir -p "$locked/closed"
printf 'open' > "$locked/a.txt"
printf 'secret' > "$locked/secret.txt"
printf 'hidden' > "$locked/closed/inner.txt"
chmod 777 "$locked"
chmod 000 "$locked/secret.txt" "$locked/closed"
as_user=()
if [ "$(id -u)" = 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  [ ${#runner[@]} -gt 0 ] && as_user=(none)
  if [ "${as_user[0]}" != none ] && ! "${as_user[@]}" test -x "$pakkaro"; then as_user=(none); fi
fi
if [ "${as_user[0]:-}" = none ]; then
  skipped=$((skipped + 1))
  echo "SKIPPED: unreadable files (running as root, no other user can run the program here)" >&2
else
  "${as_user[@]}" "${runner[@]}" "$pakkaro" "$(arg "$locked")" >"$work/stdout" 2>/dev/null
  status=$?
  output=$(iconv -f WINDOWS-1252 -t UTF-8 <"$work/stdout")
  check "unreadable entries: run succeeds" [ "$status" = 0 ]
  check "unreadable entries: count only the readable file" grep -q "Es wurden 1 Datei" <<<"$output"
  check "unreadable entries: only the readable file packed" [ "$(names_of "$locked/Locked.zip")" = a.txt ]
  check "unreadable entries: archive valid" readers_accept "$locked/Locked.zip"
fi
chmod -R u+rwx "$locked_root"
rm -rf "$locked_root"

# ---- An empty folder ------------------------------------------------------------------
mkdir -p "$work/Empty"
run "$(arg "$work/Empty")"
check "empty folder packs 0 files" grep -q "Es wurden 0 Datei" <<<"$output"
check "empty archive is valid" python3 -c 'import zipfile,sys; assert zipfile.ZipFile(sys.argv[1]).namelist() == []' "$work/Empty/Empty.zip"

finish
