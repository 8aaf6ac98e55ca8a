#!/usr/bin/env bash
# The progress line of a long pack: shown on the standard error when that is
# a terminal (here a pseudo-terminal), never when it is a file; the standard
# output holds the same message bytes either way.
# Wine gives the Windows build a console on the pseudo-terminal, drawn with
# escape sequences.
# Usage: pack_progress_test.sh PAKKARO [wine]
set -u
pakkaro=$1
source "$(dirname "$0")/e2e_lib.sh" "$@"
command=("$pakkaro")
[ ${#runner[@]} -gt 0 ] && command=("$(readlink -f "${runner[0]}")" "$pakkaro")

# 20 000 files in 100 folders, each 8 KB of hexadecimal text, behind 48 MB
# of random bytes that Deflate tries in vain first: long enough for the line
# to appear after the first second on any machine.
tree=$work/Big
python3 - "$tree" <<'PY'
import os, sys
root = sys.argv[1]
os.makedirs(root)
with open(os.path.join(root, "slow.bin"), "wb") as out:
    out.write(os.urandom(48 << 20))
for d in range(100):
    folder = os.path.join(root, "mod%03d" % d)
    os.makedirs(folder)
    for f in range(200):
        with open(os.path.join(folder, "file%03d.c" % f), "w") as out:
            out.write(os.urandom(4096).hex())
PY
expected='\n\n   Es wurden 20001 Datei ein eingefuegt!\n\n'

# Redirected: standard error to a file. Nothing is written there.
"${runner[@]}" "$pakkaro" "$(arg "$tree")" "$(arg "$work/quiet.zip")" >"$work/stdout" 2>"$work/stderr" </dev/null
check "redirected: exit 0" [ $? = 0 ]
check "redirected: the message, byte for byte" prints_exactly "$expected"
check "redirected: nothing on the standard error" [ ! -s "$work/stderr" ]
cp "$work/stdout" "$work/stdout-quiet"

# Standard error (and input) on a pseudo-terminal, standard output to a file;
python3 - "$work/terminal" "${command[@]}" "$(arg "$tree")" "$(arg "$work/shown.zip")" >"$work/stdout" <<'PY'
import os, pty, subprocess, sys
master, slave = pty.openpty()
child = subprocess.Popen(sys.argv[2:], stdin=slave, stdout=sys.stdout, stderr=slave)
os.close(slave)
seen = b""
while True:
    try:
        data = os.read(master, 65536)
    except OSError:
        break
    if not data:
        break
    seen += data
open(sys.argv[1], "wb").write(seen)
sys.exit(child.wait())
PY
check "terminal: exit 0" [ $? = 0 ]
check "terminal: the message, byte for byte" prints_exactly "$expected"
check "terminal: standard output as in the redirected run" cmp -s "$work/stdout" "$work/stdout-quiet"
check "terminal: the progress line was shown" grep -qaE '[0-9]+/20001 Dateien, [0-9]+,[0-9]/[0-9]+,[0-9] MB, [0-9]+ %: (slow\.bin|mod[0-9]{3}/file[0-9]{3}\.c)' "$work/terminal"
# The last thing on the terminal is the cleared line: carriage return, then
# blanks and a carriage return (or Wine's erase to the end of the line).
check "terminal: the line is cleared at the end" python3 -c '
import re, sys
data = open(sys.argv[1], "rb").read()
sys.exit(0 if re.search(rb"\r( +\r|\x1b\[K)(\x1b\[\?25h)?$", data) else 1)' "$work/terminal"
check "terminal: the archive holds every file" [ "$(python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).namelist()))' "$work/shown.zip")" = 20001 ]
check "terminal: the archive reads back" unzip -tqq "$work/shown.zip"

finish
