#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, in a throw-away prefix
# that lives as long as the build folder (created on first use).
set -eu
prefix=${PAKKARO_WINEPREFIX:-${TMPDIR:-/tmp}/pakkaro-wine-$(id -u)}
mkdir -p "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine stores the programs' UTF-16 file names as bytes of the host's locale:
# UTF-8, as every host tool of the tests reads them, whatever the caller's.
export LC_ALL=C.UTF-8
exec /usr/lib/wine/wine64 "$@"
