#!/usr/bin/env bash
# Checks that every tracked C and C++ source follows .clang-format (clang-format 14); names each file
# that does not and fails. Prints how many files it checked.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
formatter=${CLANG_FORMAT:-clang-format-14}
command -v "$formatter" >/dev/null 2>&1 || { echo "format: $formatter not found" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.h' '*.hpp' '*.c' '*.cpp' '*.mm')
[ ${#files[@]} -gt 0 ] || { echo "format: no sources found" >&2; exit 1; }
off=()
for file in "${files[@]}"; do
  "$formatter" --dry-run -Werror "$file" >/dev/null 2>&1 || off+=("$file")
done
if [ ${#off[@]} -gt 0 ]; then
  echo "format: ${#off[@]} files off the project's format (clang-format-14 -i FILE mends them):" >&2
  printf '  %s\n' "${off[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files follow .clang-format"
