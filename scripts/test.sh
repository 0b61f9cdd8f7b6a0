#!/usr/bin/env bash
# Sets up the machine, builds the project and runs the whole test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd "$top/build"
ctest --output-on-failure -j2
