#!/usr/bin/env bash
# Packs the sample project shipped in examples/ and shows what went into the
# archive. The project is copied into the build folder first, so that the
# checkout stays as it is.
set -eu
pakkaro=$(realpath "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(dirname "$pakkaro")/sample
rm -rf "$work" && mkdir -p "$work"
cp -r "$here/examples/Blinky" "$work/"
echo "\$ pakkaro $work/Blinky/Blinky.uvprojx"
status=0
"$pakkaro" "$work/Blinky/Blinky.uvprojx" | iconv -f WINDOWS-1252 -t UTF-8 || status=$?
echo "exit status: $status"
if [ -f "$work/Blinky/Blinky.zip" ]; then
  echo
  echo "\$ unzip -v $work/Blinky/Blinky.zip"
  unzip -v "$work/Blinky/Blinky.zip"
fi
