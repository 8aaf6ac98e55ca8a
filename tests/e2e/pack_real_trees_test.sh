#!/usr/bin/env bash
# Runs pakkaro and korbel on trees a real user has: paths longer than 256
# bytes, pipes, devices and dangling links among the files, a bare project
# file name, a closed output pipe, made-up "mem:" paths. Archives are
# checked with unzip -t and Python's zipfile.
# Usage: pack_real_trees_test.sh PAKKARO [wine]
set -u
pakkaro=$1
source "$(dirname "$0")/e2e_lib.sh" "$@"

archive_ok() {
  unzip -tqq "$1" >/dev/null 2>&1 &&
    python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); sys.exit(z.testzip() is not None)' "$1"
}

# Every entry holds the bytes of the file of its name under the folder, and
# the archive holds exactly the files listed in the rest of the arguments.
holds_exactly() {  # holds_exactly ARCHIVE FOLDER NAME...
  python3 - "$@" <<'PY'
import os, sys, zipfile
archive, folder, expected = sys.argv[1], sys.argv[2], sorted(sys.argv[3:])
z = zipfile.ZipFile(archive)
names = sorted(z.namelist())
if names != expected:
    sys.exit("names %r, expected %r" % (names, expected))
for name in names:
    with open(os.path.join(folder, name), 'rb') as f:
        if z.read(name) != f.read():
            sys.exit("wrong data in " + name)
PY
}

# ---- A path of 380 bytes beside the file at its 255-byte cut --------------------------
if [ ${#runner[@]} -eq 0 ]; then
  proj=$work/long/Proj
  # Folders of 50 characters until the full path passes 330 bytes.
  deep=$proj
  rel=
  while [ $((${#deep} + 51)) -lt 330 ]; do
    part=$(printf 'd%.0s' $(seq 1 50))
    deep=$deep/$part
    rel=$rel$part/
  done
  mkdir -p "$deep"
  long_name=$(printf 'n%.0s' $(seq 1 $((380 - ${#deep} - 1))))
  long=$deep/$long_name
  printf 'the data of the long file' >"$long"
  # The file a cut at 255 bytes would open instead.
  cut=${long:0:255}
  mkdir -p "$(dirname "$cut")"
  printf 'the data of the short file' >"$cut"
  check "long path is 380 bytes" [ ${#long} = 380 ]
  run_program "$pakkaro" "$proj"
  check "long-path run exits 0" [ "$status" = 0 ]
  check "long-path run counts both files" grep -q "Es wurden 2 Datei ein eingefuegt!" <<<"$output"
  check "long-path archive valid" archive_ok "$proj/Proj.zip"
  check "each file with its own data" holds_exactly "$proj/Proj.zip" "$proj" "$rel$long_name" "${cut#$proj/}"
else
  # Under Wine: a path of 300 characters inside the C: drive (the first
  # run makes the prefix).
  run_program "$pakkaro"
  cdrive=${PAKKARO_WINEPREFIX:-${TMPDIR:-/tmp}/pakkaro-wine-$(id -u)}/drive_c
  proj=$cdrive/pakkaro_long_$$/Proj
  mkdir -p "$proj"
  deep=$proj
  rel=
  winroot="C:\\pakkaro_long_$$\\Proj"
  winlength=${#winroot}
  while [ $((winlength + 51)) -lt 260 ]; do
    part=$(printf 'd%.0s' $(seq 1 50))
    deep=$deep/$part
    rel=$rel$part/
    winlength=$((winlength + 51))
  done
  mkdir -p "$deep"
  long_name=$(printf 'n%.0s' $(seq 1 $((300 - winlength - 1))))
  printf 'the data of the long file' >"$deep/$long_name"
  printf 'short' >"$proj/short.txt"
  run_program "$pakkaro" "$winroot"
  check "long-path run exits 0 (wine)" [ "$status" = 0 ]
  check "long-path run counts both files (wine)" grep -q "Es wurden 2 Datei ein eingefuegt!" <<<"$output"
  check "long-path archive valid (wine)" archive_ok "$proj/Proj.zip"
  check "each file with its own data (wine)" holds_exactly "$proj/Proj.zip" "$proj" "$rel$long_name" short.txt
  rm -rf "$cdrive/pakkaro_long_$$"
fi

# ---- Pipes, devices and dangling links among the files --------------------------------
# Wine opens a pipe as a file, blocking, so these are tried on the Linux build.
if [ ${#runner[@]} -eq 0 ]; then
  proj=$work/special/Proj
  mkdir -p "$proj/sub"
  printf 'int main(void) { return 0; }\n' >"$proj/main.c"
  printf 'notes' >"$proj/sub/notes.txt"
  mkfifo "$proj/pipe.txt"
  ln -s /dev/zero "$proj/zero.txt"
  ln -s "$work/nowhere" "$proj/dangling.txt"
  ln -s ../main.c "$proj/sub/link.c"
  python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$proj/socket.txt"
  # A run that hangs or fills the disk is stopped here and fails.
  run_program timeout 60 "$pakkaro" "$proj"
  check "special-file run ends by itself and exits 0" [ "$status" = 0 ]
  check "special files are not counted" grep -q "Es wurden 3 Datei ein eingefuegt!" <<<"$output"
  check "special-file archive valid" archive_ok "$proj/Proj.zip"
  check "regular files only, a link to a file as that file" \
    holds_exactly "$proj/Proj.zip" "$proj" main.c sub/notes.txt sub/link.c
else
  echo "SKIPPED: pipes and devices in the tree (Wine opens a pipe as a blocking file)" >&2
fi

# ---- A bare project file name typed inside the project folder -------------------------
proj=$work/bare/App
mkdir -p "$proj/src"
printf 'project' >"$proj/App.dsp"
printf 'source' >"$proj/src/app.c"
(cd "$proj" && "${runner[@]}" "$pakkaro" App.dsp >"$work/stdout" 2>/dev/null)
status=$?
check "bare file name exits 0" [ "$status" = 0 ]
check "archive in the project folder" [ -f "$proj/App.zip" ]
check "no archive at the root" [ ! -e /App.zip ]
check "the project and nothing else" holds_exactly "$proj/App.zip" "$proj" App.dsp src/app.c

# ---- Output to a pipe whose reader is gone -----------------------------------------------
proj=$work/pipe/Proj
mkdir -p "$proj"
printf 'data' >"$proj/a.txt"
# `true` exits before the program writes; the program must not die of it.
("${runner[@]}" "$pakkaro" "$(arg "$proj")"; echo $? >"$work/pipe_status") | true
check "closed output pipe: exit 0" [ "$(cat "$work/pipe_status")" = 0 ]
check "closed output pipe: archive made" archive_ok "$proj/Proj.zip"

# ---- Made-up "mem:" addresses ------------------------------------------------------------
run_program "$korbel" l 'mem://DEAD0000-100'
check "korbel refuses a made-up mem: path with a failure code" [ "$status" = 1 ]
run_program "$pakkaro" "$(arg "$proj")" 'mem://DEAD0000-100'
check "pakkaro refuses a made-up mem: archive without a signal" [ "$status" = 255 ]

finish
