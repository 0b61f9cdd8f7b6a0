#!/usr/bin/env bash
# Checks the project's names against the rule in .clang-tidy
# (readability-identifier-naming only) with the compile commands of a build.
#
#   check_naming.sh BUILD_DIR [--with-tests]  the product layers and tool
#       folders (and tests/ too with --with-tests); fails on any bad name
#   check_naming.sh --self-test  the rule against tests/naming/naming_sample.cpp:
#       exactly the lines marked "bad" there must be reported
#
# Exit 77 (a skipped test) when clang-tidy or the compile commands are missing.
# NAMING_JOBS sets the parallel clang-tidy runs (default 2).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

checked_folders=(runtime simple_json jsonrpc osa kernel plugin process recorder model debugger tools
                 rsp dwarf proxy postmortem fuzz bench)

# The arguments joined by '|', for a regular expression.
alternatives() {
  local IFS='|'
  echo "$*"
}

tidy=${CLANG_TIDY:-}
if [[ -z $tidy ]]; then
  for candidate in clang-tidy-14 clang-tidy; do
    if command -v "$candidate" >/dev/null; then tidy=$candidate; break; fi
  done
fi
[[ -n $tidy ]] || { echo "SKIPPED: clang-tidy not installed"; exit 77; }

# One line per naming finding: path:line:col: message, colour codes removed.
naming_findings() {
  sed 's/\x1b\[[0-9;]*m//g' |
    grep -E '^/[^:]+:[0-9]+:[0-9]+: (warning|error): .*\[(readability-identifier-naming|clang-diagnostic-error)' |
    sed -E "s|^$top/||; s/ \[[^]]*\]$//; s/: (warning|error): /: /" | sort -u
}

if [[ ${1:-} == --self-test ]]; then
  sample=tests/naming/naming_sample.cpp
  cd "$top" || exit 1
  expected=$(grep -n '// bad$' "$sample" | cut -d: -f1)
  reported=$("$tidy" --quiet "$sample" -- -std=c++20 2>&1 | naming_findings | cut -d: -f2 | sort -nu)
  if [[ $expected != "$reported" ]]; then
    echo "naming rule drifted; lines marked bad vs lines reported in $sample:"
    diff <(echo "$expected") <(echo "$reported")
    exit 1
  fi
  echo "naming rule ok: $(echo "$expected" | wc -l) bad names found, no good name reported"
  exit 0
fi

build=${1:?usage: check_naming.sh BUILD_DIR [--with-tests] | --self-test}
[[ ${2:-} == --with-tests ]] && checked_folders+=(tests)
database=$build/compile_commands.json
[[ -f $database ]] || { echo "SKIPPED: no $database (configure with CMAKE_EXPORT_COMPILE_COMMANDS)"; exit 77; }

folder_pattern="^$top/($(alternatives "${checked_folders[@]}"))/"
# A source built into several targets is checked once.
files=$(grep -oE '"file": *"[^"]+"' "$database" | sed -E 's/^"file": *"(.*)"$/\1/' |
          grep -E "$folder_pattern" | sort -u)
[[ -n $files ]] || { echo "no sources of ${checked_folders[*]} in $database"; exit 1; }

# Hard compile errors still count (a source clang cannot parse is not
# checked); compiler warnings are the build's business, not this check's.
# Each run writes its own file so that parallel runs cannot mix lines.
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
tidy_one() {
  "$tidy" -p "$build" --quiet --extra-arg=-Wno-everything "$1" >"$out/${1//\//_}.txt" 2>&1
}
export -f tidy_one
export tidy build out
# shellcheck disable=SC2016  # $1 belongs to the inner bash
echo "$files" | xargs -P "${NAMING_JOBS:-2}" -n 1 bash -c 'tidy_one "$1"' tidy_one
findings=$(cat "$out"/*.txt | naming_findings)

failing=$(echo "$findings" | grep .)

if [[ -n $failing ]]; then
  echo "names against .clang-tidy ($(echo "$failing" | wc -l)):"
  echo "$failing"
  exit 1
fi
echo "naming ok: $(echo "$files" | wc -l) sources"
