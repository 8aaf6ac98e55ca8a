#!/usr/bin/env bash
# Runs the korbel tool (built beside pakkaro) on folders and archives made
# here: add, list, test, extract and delete on our own archives, reading
# encrypted archives of 7zz, and the exit codes. Results are checked with
# Linux tools, also for the Windows build.
# Usage: korbel_tool_test.sh PAKKARO [wine]
set -u
bin=$(dirname "$1")
korbel=$bin/korbel
[ "${2:-}" = wine ] && korbel=$bin/korbel.exe
source "$(dirname "$0")/e2e_lib.sh" "${2:-}"
run() { run_program "$korbel" "$@"; }

mtime_near() {  # mtime_near FILE SECONDS
  local actual
  actual=$(stat -c %Y "$1") || return 1
  [ $((actual - $2)) -le 2 ] && [ $(($2 - actual)) -le 2 ]
}

# ---- A folder round trip ------------------------------------------------------------
tree=$work/tree/proj
mkdir -p "$tree/sub/deep" "$tree/other"
for i in $(seq 1 2000); do echo "line $i of the main source"; done >"$tree/main.c"
printf '#pragma once\n' >"$tree/sub/util.h"
head -c 200000 /dev/urandom >"$tree/sub/deep/blob.bin"
: >"$tree/empty.txt"
printf 'spaced' >"$tree/other/with space.txt"
touch -d '2021-03-04 05:06:08' "$tree/main.c"
stamp=$(stat -c %Y "$tree/main.c")

archive=$work/a.zip
run a "$(arg "$archive")" "$(arg "$tree")"
check "a exits 0" [ "$status" = 0 ]
check "a writes an archive unzip accepts" unzip -tqq "$archive"
check "entries are named below the folder" [ "$(names_of "$archive")" = "$(printf 'proj/empty.txt\nproj/main.c\nproj/other/with space.txt\nproj/sub/deep/blob.bin\nproj/sub/util.h')" ]

run l "$(arg "$archive")"
check "l exits 0" [ "$status" = 0 ]
check "l lists every entry" [ "$(grep -c 'proj/' <<<"$output")" = 5 ]
check "l shows the size and method" grep -qE '^ +200000 +[0-9]+ +Stored .*proj/sub/deep/blob.bin$' <<<"$output"

run t "$(arg "$archive")"
check "t exits 0" [ "$status" = 0 ]
check "t counts the entries" grep -q '5 entries tested, 0 failed' <<<"$output"

run x "$(arg "$archive")" -d "$(arg "$work/out")"
check "x exits 0" [ "$status" = 0 ]
check "x restores the tree byte for byte" diff -r "$tree" "$work/out/proj"
check "x restores the modification time" mtime_near "$work/out/proj/main.c" "$stamp"

run x "$(arg "$archive")" -d "$(arg "$work/one")" proj/sub/util.h
check "x of one named entry exits 0" [ "$status" = 0 ]
check "x of one named entry writes only it" [ "$(cd "$work/one" && find . -type f)" = "./proj/sub/util.h" ]

run a "$(arg "$archive")" "$(arg "$work/tree/proj/sub/util.h")"
check "a on an existing archive exits 0" [ "$status" = 0 ]
check "the added entry is there once" [ "$(names_of "$archive" | grep -cx 'util.h')" = 1 ]

run d "$(arg "$archive")" proj/main.c util.h
check "d exits 0" [ "$status" = 0 ]
check "d removes the entries" [ "$(names_of "$archive")" = "$(printf 'proj/empty.txt\nproj/other/with space.txt\nproj/sub/deep/blob.bin\nproj/sub/util.h')" ]
check "d leaves an archive unzip accepts" unzip -tqq "$archive"
run t "$(arg "$archive")"
check "t after d exits 0" [ "$status" = 0 ]
check "t after d counts the rest" grep -q '4 entries tested, 0 failed' <<<"$output"

# ---- Encrypted archives of 7zz --------------------------------------------------------
for scheme in ZipCrypto AES256; do
  enc=$work/enc-$scheme.zip
  (cd "$work/tree" && 7zz a -tzip -bd -p'Pa55 w0rd' -mem=$scheme "$enc" proj >/dev/null)
  run t "$(arg "$enc")" -p 'Pa55 w0rd'
  check "$scheme: t with the password exits 0" [ "$status" = 0 ]
  run t "$(arg "$enc")" -p 'wrong'
  check "$scheme: t with a wrong password exits 1" [ "$status" = 1 ]
  check "$scheme: the failure names the password" grep -qi 'passw' <<<"$output"
  run t "$(arg "$enc")"
  check "$scheme: t without a password exits 1" [ "$status" = 1 ]
  run x "$(arg "$enc")" -d "$(arg "$work/dec-$scheme")" -p 'Pa55 w0rd'
  check "$scheme: x exits 0" [ "$status" = 0 ]
  check "$scheme: x restores the tree" diff -r "$tree" "$work/dec-$scheme/proj"
done

# ---- Failures and exit codes -------------------------------------------------------------
damaged=$work/damaged.zip
cp "$archive" "$damaged"
# The random blob is stored: a changed byte in its middle spoils only its CRC.
offset=$(python3 -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1]); i = z.getinfo("proj/sub/deep/blob.bin")
print(i.header_offset + 30 + len(i.filename.encode()) + len(i.extra) + 100000)' "$damaged")
printf '\x55' | dd of="$damaged" bs=1 seek="$offset" conv=notrunc 2>/dev/null
run t "$(arg "$damaged")"
check "t of a damaged entry exits 1" [ "$status" = 1 ]
check "t reports one failure" grep -q '4 entries tested, 1 failed' <<<"$output"
run x "$(arg "$damaged")" -d "$(arg "$work/dmg")"
check "x of a damaged archive exits 1" [ "$status" = 1 ]
check "x still extracts the good entries" cmp -s "$tree/sub/util.h" "$work/dmg/proj/sub/util.h"

# ---- Names shown escaped, folders found by their listed name, every failure named ----
named=$work/named.zip
python3 - "$named" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("evil\nforged line\x1b[31m.txt", "x")
    z.writestr("dir/", "")
    z.writestr("dir/inner.txt", "inside")
PY
run l "$(arg "$named")"
check "l exits 0 on odd names" [ "$status" = 0 ]
check "l writes no escape byte" bash -c '! grep -q $'"'"'\x1b'"'"' <<<"$1"' _ "$output"
check "l keeps one line per entry" [ "$(wc -l <<<"$output")" = 4 ]
check "l shows the escaped name" grep -qF 'evil\nforged line\x1B[31m.txt' <<<"$output"
check "l shows the folder with its separator" grep -qE ' dir/$' <<<"$output"
run x "$(arg "$named")" -d "$(arg "$work/named-out")" dir/
check "x of a folder by its listed name exits 0" [ "$status" = 0 ]
check "x of a folder by its listed name makes it" [ -d "$work/named-out/dir" ]

twice=$work/twice.zip
head -c 30000 /dev/urandom >"$work/r1.bin"
head -c 30000 /dev/urandom >"$work/r2.bin"
python3 - "$twice" "$work" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for name in ("r1.bin", "r2.bin"):
        z.write(os.path.join(sys.argv[2], name), name)
z = zipfile.ZipFile(sys.argv[1])
spots = [i.header_offset + 30 + len(i.filename.encode()) + len(i.extra) + 1000 for i in z.infolist()]
z.close()
with open(sys.argv[1], "r+b") as f:
    for at in spots:
        f.seek(at); b = f.read(1); f.seek(at); f.write(bytes([b[0] ^ 0x55]))
PY
mkdir -p "$work/twice-out"
printf 'keep me' >"$work/twice-out/r1.bin"
run x "$(arg "$twice")" -d "$(arg "$work/twice-out")"
check "x with two failing entries exits 1" [ "$status" = 1 ]
check "x names the first failing entry" grep -q '^r1.bin: ' <<<"$output"
check "x names the second failing entry" grep -q '^r2.bin: ' <<<"$output"
check "a failed entry leaves the existing file" [ "$(cat "$work/twice-out/r1.bin")" = "keep me" ]
check "a failed entry leaves nothing else" [ "$(ls -A "$work/twice-out")" = "r1.bin" ]

# ---- Links at the place of a file (POSIX) -----------------------------------------------
if [ "${2:-}" != wine ]; then
  mkdir -p "$work/dangle"
  ln -s "$work/nowhere/planted.zip" "$work/dangle/App.zip"
  run_program timeout 20 "$korbel" a "$work/dangle/App.zip" "$tree/main.c"
  # The new archive is written beside the link and renamed over the link
  # itself: nothing goes through it, and the run ends at once.
  check "a onto a dangling link ends at once" [ "$status" != 124 ]
  check "a onto a dangling link writes nothing through it" [ ! -e "$work/nowhere/planted.zip" ]
  check "a onto a dangling link makes nothing" [ ! -e "$work/nowhere" ]
  printf 'outside' >"$work/victim.txt"
  ln -s "$work/victim.txt" "$work/dangle/Link.zip"
  run_program timeout 20 "$korbel" a "$work/dangle/Link.zip" "$tree/main.c"
  check "a onto a link to a file fails" [ "$status" = 1 ]
  check "a onto a link leaves its file" [ "$(cat "$work/victim.txt")" = "outside" ]
  mkdir -p "$work/dangle/x"
  ln -s "$work/nowhere/r1.bin" "$work/dangle/x/r1.bin"
  python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1], "w").write(sys.argv[2], "r1.bin")' "$work/one.zip" "$work/r1.bin"
  run_program timeout 20 "$korbel" x "$work/one.zip" -d "$work/dangle/x"
  check "x onto a dangling link fails at once" [ "$status" = 1 ]
  check "x onto a dangling link makes nothing" [ ! -e "$work/nowhere" ]
fi

run
check "no arguments: usage, exit 2" [ "$status" = 2 ]
check "usage text" grep -q 'usage: korbel' <<<"$output"
run q "$(arg "$archive")"
check "unknown command: exit 2" [ "$status" = 2 ]
run a "$(arg "$archive")"
check "a without paths: exit 2" [ "$status" = 2 ]
run l "$(arg "$work/missing.zip")"
check "l of a missing archive: exit 1" [ "$status" = 1 ]
run d "$(arg "$archive")" no/such/entry
check "d of a missing entry: exit 1" [ "$status" = 1 ]
run a "$(arg "$archive")" "$(arg "$work/no/such/file")"
check "a of a missing path: exit 1" [ "$status" = 1 ]

finish
