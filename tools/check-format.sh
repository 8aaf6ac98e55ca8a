#!/usr/bin/env bash
# Fails, naming the files, when a C++ file of the tree is not formatted as
# .clang-format says. `tools/check-format.sh --fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=/usr/bin/clang-format
if [ ! -x "$formatter" ]; then
  echo "check-format: $formatter is missing (package clang-format; run tools/install-deps.sh native)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  "$formatter" -i "${files[@]}"
  exit 0
fi
unformatted=()
for file in "${files[@]}"; do
  "$formatter" --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "check-format: ${#unformatted[@]} file(s) not formatted as .clang-format says (tools/check-format.sh --fix):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
