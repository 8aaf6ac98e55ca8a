#!/usr/bin/env bash
# Runs the korbel tool (built beside pakkaro) on folders and archives made
# here: add, list, test, extract and delete on our own archives, reading
# encrypted archives of 7zz, and the exit codes. Results are checked with
# Linux tools, also for the Windows build.
# Usage: korbel_tool_test.sh PAKKARO [wine]
set -u
source "$(dirname "$0")/e2e_lib.sh" "$@"
build=${2:-linux}
# korbel writes its German texts in UTF-8 on Linux and in Windows-1252
# bytes on Windows, where run_program converts them; standard input is no
# terminal, so nothing is asked.
run() { run_program "$korbel" "$@" </dev/null; }

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
check "t counts the entries" grep -q '^5 Einträge geprüft, 0 fehlerhaft$' <<<"$output"

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
check "t after d counts the rest" grep -q '^4 Einträge geprüft, 0 fehlerhaft$' <<<"$output"

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
  check "$scheme: t without a password and without a terminal exits 1" [ "$status" = 1 ]
  check "$scheme: no password tried, none called wrong" bash -c '! grep -q Falsches <<<"$1"' _ "$output"
  check "$scheme: the entry is named as encrypted" grep -q '^proj/main.c: verschlüsselt, kein Passwort angegeben (-p)$' <<<"$output"
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
check "t reports one failure" grep -q '^4 Einträge geprüft, 1 fehlerhaft$' <<<"$output"
check "t names the failing entry once, on one line" grep -qx 'proj/sub/deep/blob.bin: CRC32 Fehler bei Datei' <<<"$output"
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
# The archive's name, the head, three entries, the rule and the totals.
check "l keeps one line per entry" [ "$(wc -l <<<"$output")" = 7 ]
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
run x "$(arg "$twice")" -d "$(arg "$work/twice-out")" -o
check "x with two failing entries exits 1" [ "$status" = 1 ]
check "x names the first failing entry" grep -q '^r1.bin: ' <<<"$output"
check "x names the second failing entry" grep -q '^r2.bin: ' <<<"$output"
check "a failed entry leaves the existing file" [ "$(cat "$work/twice-out/r1.bin")" = "keep me" ]
check "a failed entry leaves nothing else" [ "$(ls -A "$work/twice-out")" = "r1.bin" ]

# ---- Existing files are never replaced unasked -------------------------------------------
ow=$work/ow
run x "$(arg "$archive")" -d "$(arg "$ow")"
check "overwrite: first x exits 0" [ "$status" = 0 ]
run x "$(arg "$archive")" -d "$(arg "$ow")"
check "overwrite: x again over identical files exits 0" [ "$status" = 0 ]
check "overwrite: identical files are not reported" [ -z "$output" ]
printf 'my edit' >"$ow/proj/empty.txt"
run x "$(arg "$archive")" -d "$(arg "$ow")"
check "overwrite: no terminal, an edited file is kept" [ "$(cat "$ow/proj/empty.txt")" = "my edit" ]
check "overwrite: the kept file is named" grep -qx 'proj/empty.txt: vorhanden, nicht ersetzt' <<<"$output"
check "overwrite: a kept file unasked ends with status 1" [ "$status" = 1 ]
run x "$(arg "$archive")" -d "$(arg "$ow")" -n
check "overwrite: -n keeps the edit" [ "$(cat "$ow/proj/empty.txt")" = "my edit" ]
check "overwrite: -n exits 0" [ "$status" = 0 ]
run x "$(arg "$archive")" -d "$(arg "$ow")" -o
check "overwrite: -o exits 0" [ "$status" = 0 ]
check "overwrite: -o replaces the edit" [ ! -s "$ow/proj/empty.txt" ]
run x "$(arg "$archive")" -d "$(arg "$ow")" -o -n
check "overwrite: -o with -n is a usage error" [ "$status" = 2 ]

ro=$work/ro.zip
python3 - "$ro" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    info = zipfile.ZipInfo("locked.txt"); info.external_attr = (0o100444 << 16) | 0x01
    z.writestr(info, "read only")
    info = zipfile.ZipInfo("open.txt"); info.external_attr = (0o100644 << 16)
    z.writestr(info, "writable")
PY
run x "$(arg "$ro")" -d "$(arg "$work/ro-out")"
check "read-only: x exits 0" [ "$status" = 0 ]
check "read-only: the entry stays read-only" [ "$(( $(stat -c %#a "$work/ro-out/locked.txt") & 0222 ))" = 0 ]
check "read-only: a writable entry stays writable" [ "$(( $(stat -c %#a "$work/ro-out/open.txt") & 0200 ))" != 0 ]
printf 'changed' >"$work/ro-out/open.txt"
chmod 444 "$work/ro-out/open.txt"
run x "$(arg "$ro")" -d "$(arg "$work/ro-out")"
check "read-only: a read-only file of the user is kept" [ "$(cat "$work/ro-out/open.txt")" = changed ]

# ---- Selection by names, folders and patterns ------------------------------------------------
sel=$work/sel.zip
python3 - "$sel" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for name in ("src/main.c", "src/util/Helper.C", "src/util/notes.txt", "srcx/other.c", "README", "lib/x.h"):
        z.writestr(name, name)
PY
run x "$(arg "$sel")" -d "$(arg "$work/sel-folder")" src/
check "selection: x of a folder exits 0" [ "$status" = 0 ]
check "selection: x src/ extracts everything below src/ and nothing else" \
  [ "$(cd "$work/sel-folder" && find . -type f | sort)" = "$(printf './src/main.c\n./src/util/Helper.C\n./src/util/notes.txt')" ]
run x "$(arg "$sel")" -d "$(arg "$work/sel-c")" '*.c'
check "selection: x '*.c' exits 0" [ "$status" = 0 ]
check "selection: x '*.c' extracts every C file, in any folder and case" \
  [ "$(cd "$work/sel-c" && find . -type f | sort)" = "$(printf './src/main.c\n./src/util/Helper.C\n./srcx/other.c')" ]
run x "$(arg "$sel")" -d "$(arg "$work/sel-q")" 'src/util/*' README
check "selection: a pattern and a name together" \
  [ "$(cd "$work/sel-q" && find . -type f | sort)" = "$(printf './README\n./src/util/Helper.C\n./src/util/notes.txt')" ]
run x "$(arg "$sel")" -d "$(arg "$work/sel-none")" 'nothing*' src
check "selection: a name that takes nothing exits 1" [ "$status" = 1 ]
check "selection: the name that took nothing is named" grep -qx 'nothing\*: nicht im Archiv' <<<"$output"
check "selection: the other names are still extracted" [ -f "$work/sel-none/src/main.c" ]
run l "$(arg "$sel")" 'src/*'
check "selection: l lists the selected entries" [ "$(grep -c ' src/' <<<"$output")" = 3 ]
check "selection: l totals the selected entries" grep -qE '^ +45 +45 +3 Einträge$' <<<"$output"
run t "$(arg "$sel")" '*.h'
check "selection: t tests the selected entries" grep -qx '1 Eintrag geprüft, 0 fehlerhaft' <<<"$output"

# Two entries of one name: the second replaces the file the first one wrote
# in this run without a question, and an existing file is still kept.
dup=$work/dup.zip
python3 -W ignore - "$dup" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("dup.txt", "first")
    z.writestr("dup.txt", "second")
PY
run x "$(arg "$dup")" -d "$(arg "$work/dup-out")"
check "duplicates: x exits 0" [ "$status" = 0 ]
check "duplicates: the last entry wins" [ "$(cat "$work/dup-out/dup.txt")" = second ]
printf 'mine' >"$work/dup-out/dup.txt"
run x "$(arg "$dup")" -d "$(arg "$work/dup-out")"
check "duplicates: an existing file is kept" [ "$(cat "$work/dup-out/dup.txt")" = mine ]
check "duplicates: ... and named for each entry" [ "$(grep -cx 'dup.txt: vorhanden, nicht ersetzt' <<<"$output")" = 2 ]

# ---- korbel a stores a path as given ------------------------------------------------------------
korbel_path=$(readlink -f "$korbel")
if [ "$build" != wine ]; then
  (cd "$work/tree" && "$korbel_path" a "$work/rel.zip" proj/sub/util.h ./proj/other >/dev/null </dev/null)
  check "a stores a relative path as given" \
    [ "$(names_of "$work/rel.zip")" = "$(printf 'proj/other/with space.txt\nproj/sub/util.h')" ]
else
  wine_runner=$(readlink -f "${runner[0]}")
  (cd "$work/tree" && "$wine_runner" "$korbel_path" a "$(arg "$work/rel.zip")" 'proj\sub\util.h' >/dev/null 2>&1 </dev/null)
  check "a stores a relative path as given" [ "$(names_of "$work/rel.zip")" = "proj/sub/util.h" ]
fi

# ---- Questions on a terminal --------------------------------------------------------------------
# Through a pseudo-terminal: the overwrite question answered n, then a
# (alle); the password typed without echo. Wine's console draws on the
# terminal with escape sequences, which are taken out before reading.
pty_run() {  # pty_run INPUT PROGRAM ARGS... ; sets status and output (the terminal's bytes)
  local input=$1
  shift
  output=$(python3 - "$input" "$@" <<'PY'
import os, pty, re, signal, sys, time, select
answers = sys.argv[1].split("|")
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[2], sys.argv[2:])
escapes = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]")
seen = b""
while True:
    ready, _, _ = select.select([fd], [], [], 20)
    if not ready:
        # Still waiting for input it will not get: the checks fail, the run ends.
        os.kill(pid, signal.SIGKILL)
        break
    try:
        data = os.read(fd, 4096)
    except OSError:
        break
    if not data:
        break
    seen += data
    if answers and escapes.sub(b"", seen).rstrip().endswith(b":"):
        time.sleep(0.1)
        # Enter as a terminal sends it; Wine's console takes only this.
        os.write(fd, (answers.pop(0) + "\r").encode())
_, code = os.waitpid(pid, 0)
sys.stdout.write(escapes.sub(b"", seen).decode("utf-8", "replace").replace("\r", ""))
sys.exit(os.waitstatus_to_exitcode(code))
PY
)
  status=$?
}
printf 'edit one' >"$ow/proj/empty.txt"
printf 'edit two' >"$ow/proj/sub/util.h"
pty_run 'n|a' "${runner[@]}" "$korbel" x "$(arg "$archive")" -d "$(arg "$ow")"
check "terminal: x asks and exits 0" [ "$status" = 0 ]
check "terminal: the question names the file" grep -q 'proj/empty.txt ist vorhanden. Ersetzen? \[j\]a, \[n\]ein, \[a\]lle, \[k\]eine:' <<<"$output"
check "terminal: answered n, the file is kept" [ "$(cat "$ow/proj/empty.txt")" = "edit one" ]
check "terminal: answered a, the next file is replaced" cmp -s "$tree/sub/util.h" "$ow/proj/sub/util.h"
pty_run 'Pa55 w0rd' "${runner[@]}" "$korbel" t "$(arg "$work/enc-AES256.zip")"
check "terminal: t asks for the password and exits 0" [ "$status" = 0 ]
check "terminal: the password question names the archive" grep -qF "Passwort für $(arg "$work/enc-AES256.zip"):" <<<"$output"
check "terminal: the password is not echoed" bash -c '! grep -q "Pa55" <<<"$1"' _ "$output"
check "terminal: the texts show their umlauts" grep -q '^9 Einträge geprüft, 0 fehlerhaft$' <<<"$output"
pty_run 'falsch' "${runner[@]}" "$korbel" t "$(arg "$work/enc-ZipCrypto.zip")"
check "terminal: a wrong typed password exits 1" [ "$status" = 1 ]
check "terminal: a wrong typed password is called wrong" grep -q 'Falsches Passwort' <<<"$output"

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
check "usage text" grep -q '^Aufruf: korbel' <<<"$output"
run -h
check "-h: usage, exit 0" [ "$status" = 0 ]
check "-h: usage text" grep -q '^Aufruf: korbel' <<<"$output"
run --help
check "--help: exit 0" [ "$status" = 0 ]
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
