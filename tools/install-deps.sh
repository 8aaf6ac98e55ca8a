#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Usage: install-deps.sh [native|windows|fuzz|all]
set -eu
want=${1:-all}
native="cmake make g++ zlib1g-dev libbz2-dev liblzma-dev libdeflate-dev libzstd-dev zstd googletest zip unzip 7zip libarchive-tools python3 tzdata strace clang-format"
windows="g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 dpkg-dev"
# clang and the package of its runtime libraries that holds libFuzzer.
fuzz="clang $(apt-cache depends clang 2>/dev/null | sed -n 's/.*Depends: \(clang-[0-9]*\)$/\1/p' | head -n 1 | sed 's/^clang-/libclang-rt-/;s/$/-dev/')"
case "$want" in
  native) packages=$native ;;
  windows) packages=$windows ;;
  fuzz) packages=$fuzz ;;
  *) packages="$native $windows" ;;
esac
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing packages:$missing (run as root to install them)" >&2
  exit 1
fi
echo "installing:$missing"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
