#!/usr/bin/env bash
# Files dated outside 1970-2038 and names beyond ASCII, packed by pakkaro
# and korbel and read back by ours, unzip, 7zz, bsdtar and Python's zipfile;
# archives of 7zz and Python read back by ours. Also for the Windows build,
# with TZ set to a zone name as MSYS2 and Git-Bash shells set it.
# Usage: names_and_dates_test.sh PAKKARO [wine]
set -u
pakkaro=$1
source "$(dirname "$0")/e2e_lib.sh" "$@"

# One zone for the programs, the tools and touch: DOS dates are local time.
# A zone name, which the Windows C runtime cannot read. The dates lie in
# winter: Windows applies today's summer-time rules to every year, and
# Germany had none before 1980.
export TZ=Europe/Berlin
[ -f /usr/share/zoneinfo/Europe/Berlin ] || { echo "missing zone data (package tzdata)" >&2; exit 1; }

mtime_is() {  # mtime_is FILE SECONDS (DOS times have two-second steps)
  local actual
  actual=$(stat -c %Y "$1" 2>/dev/null) || { echo "no file $1" >&2; return 1; }
  [ $((actual - $2)) -le 1 ] && [ $(($2 - actual)) -le 1 ] || { echo "$1: $actual, not $2" >&2; return 1; }
}

# ---- The tree ------------------------------------------------------------------------
proj=$work/src/Dates
mkdir -p "$proj"
declare -A stamp
for when in 1960 1979 2040 2100; do
  printf 'dated %s\n' "$when" >"$proj/d$when.txt"
  touch -d "$when-01-15 12:00:00" "$proj/d$when.txt"
  stamp[$when]=$(stat -c %Y "$proj/d$when.txt")
done
names=("Øre.txt" "Übung.c" "São.h" "plain.txt")
for name in "${names[@]}"; do printf '%s\n' "$name" >"$proj/$name"; done
expected_names=$(printf '%s\n' d1960.txt d1979.txt d2040.txt d2100.txt "${names[@]}" | LC_ALL=C sort)

run_program "$pakkaro" "$(arg "$proj")"
archive=$proj/Dates.zip
check "pakkaro exits 0" [ "$status" = 0 ]
check "pakkaro counts every file" prints_exactly '\n\n   Es wurden 8 Datei ein eingefuegt!\n\n'
check "the archive passes unzip, 7zz and zipfile" readers_accept "$archive"
check "zipfile reads every name as written" [ "$(names_of "$archive" | LC_ALL=C sort)" = "$expected_names" ]

# How each name is stored: code page 850 only where 437 reads it the same.
check "names stored in code page 850 or as UTF-8 with bit 11" python3 - "$archive" <<'PY'
import sys, zipfile
flags = {i.filename: i.flag_bits & 0x800 for i in zipfile.ZipFile(sys.argv[1]).infolist()}
for name, utf8 in {"Øre.txt": 0x800, "São.h": 0x800, "Übung.c": 0, "plain.txt": 0}.items():
    assert flags[name] == utf8, (name, flags[name])
PY

# The DOS date where 1980-2107 holds it, else the nearest end; times
# before 1980 read as 1980-01-01 00:00 by readers of the DOS date alone.
check "zipfile reads the DOS dates" python3 - "$archive" <<'PY'
import sys, zipfile
dates = {i.filename: i.date_time for i in zipfile.ZipFile(sys.argv[1]).infolist()}
assert dates["d2040.txt"] == (2040, 1, 15, 12, 0, 0), dates
assert dates["d2100.txt"] == (2100, 1, 15, 12, 0, 0), dates
assert dates["d1960.txt"] == (1980, 1, 1, 0, 0, 0), dates
assert dates["d1979.txt"] == (1980, 1, 1, 0, 0, 0), dates
PY

# ---- Read back by every tool ---------------------------------------------------------
extract_with() {  # extract_with TOOL FOLDER
  mkdir -p "$2"
  case $1 in
    ours) run_program "$korbel" x "$(arg "$archive")" -d "$(arg "$2")"; [ "$status" = 0 ] ;;
    unzip) unzip -qo "$archive" -d "$2" ;;
    7zz) 7zz x -bd -y -o"$2" "$archive" >/dev/null ;;
    bsdtar) bsdtar -xf "$archive" -C "$2" ;;
  esac
}

for tool in ours 7zz unzip bsdtar; do
  [ "$tool" = bsdtar ] && ! need_tool bsdtar "names and dates read by bsdtar" && continue
  out=$work/by-$tool
  check "$tool extracts the archive" extract_with "$tool" "$out"
  check "$tool names every file as written" [ "$(ls -1 "$out" | LC_ALL=C sort)" = "$expected_names" ]
  check "$tool restores the 2040 date" mtime_is "$out/d2040.txt" "${stamp[2040]}"
  case $tool in
    ours | 7zz)
      # From the NTFS field: every date whole.
      for when in 1960 1979 2100; do
        check "$tool restores the $when date" mtime_is "$out/d$when.txt" "${stamp[$when]}"
      done
      ;;
    unzip)
      check "unzip reads 1960 as the earliest DOS date" mtime_is "$out/d1960.txt" "$(date -d '1980-01-01 00:00:00' +%s)"
      ;;
  esac
done

run_program "$korbel" l "$(arg "$archive")"
check "korbel l exits 0" [ "$status" = 0 ]
for when in 1960 1979 2040 2100; do
  check "korbel l shows the $when date" grep -q "$when-01-15 12:00:00 *d$when.txt" <<<"$output"
done

# ---- Archives of other writers read by ours --------------------------------------------
# 7zz keeps the NTFS time; Python writes the DOS date alone (2040 and 2100
# hold there, with no 32-bit cap on the way in).
(cd "$proj" && 7zz a -tzip -bd "$work/seven.zip" d1960.txt d1979.txt d2040.txt d2100.txt >/dev/null)
run_program "$korbel" x "$(arg "$work/seven.zip")" -d "$(arg "$work/from-seven")"
check "ours extracts 7zz's archive" [ "$status" = 0 ]
for when in 1960 1979 2040 2100; do
  check "ours takes the $when date from 7zz's archive" mtime_is "$work/from-seven/d$when.txt" "${stamp[$when]}"
done

python3 - "$proj" "$work/python.zip" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[2], "w") as z:
    for when in ("2040", "2100"):
        z.write(os.path.join(sys.argv[1], "d%s.txt" % when), "d%s.txt" % when)
    z.writestr("Øre.txt", "Øre.txt\n")
PY
run_program "$korbel" x "$(arg "$work/python.zip")" -d "$(arg "$work/from-python")"
check "ours extracts Python's archive" [ "$status" = 0 ]
for when in 2040 2100; do
  check "ours takes the $when DOS date from Python's archive" mtime_is "$work/from-python/d$when.txt" "${stamp[$when]}"
done
check "ours names Python's UTF-8 entry as written" [ -f "$work/from-python/Øre.txt" ]

# ---- korbel a keeps them too ------------------------------------------------------------
run_program "$korbel" a "$(arg "$work/k.zip")" "$(arg "$proj/d2100.txt")" "$(arg "$proj/Øre.txt")"
check "korbel a exits 0" [ "$status" = 0 ]
check "korbel a stores Øre.txt as written" [ "$(names_of "$work/k.zip")" = "$(printf 'd2100.txt\nØre.txt')" ]
# 7zz shows an NTFS time with today's offset, not the date's: asked in UTC.
check "7zz reads the 2100 date of korbel a" grep -q '^Modified = 2100-01-15 11:00:00' <<<"$(TZ=UTC 7zz l -slt "$work/k.zip")"

finish
