#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, in a throw-away prefix
# that lives as long as the build folder (created on first use).
set -eu
prefix=${PAKKARO_WINEPREFIX:-${TMPDIR:-/tmp}/pakkaro-wine-$(id -u)}
mkdir -p "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$@"
