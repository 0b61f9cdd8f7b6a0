#!/usr/bin/env bash
# Checks that the project's C++ sources follow .clang-format. Exit 77 (a
# skipped test) when clang-format or the git checkout is not available.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
command -v clang-format >/dev/null || { echo "SKIPPED: clang-format not installed"; exit 77; }
cd "$top"
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null | grep -v '^targets/') ||
  { echo "SKIPPED: not a git checkout"; exit 77; }
if ! echo "$files" | xargs clang-format --dry-run --Werror; then
  echo "Run: git ls-files '*.cpp' '*.h' | grep -v '^targets/' | xargs clang-format -i"
  exit 1
fi
echo "format ok: $(echo "$files" | wc -l) files"
