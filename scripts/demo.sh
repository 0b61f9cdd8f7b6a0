#!/usr/bin/env bash
# Sets up the machine, builds the plug-in and the model debugger, and runs a
# live session: the model debugger starts osa_plugin over pipes, answers its
# requests from a model target with a kernel in it, and prints the windows a
# debugger would show. Arguments go to osa_modeldbg (try --list-variants,
# --variant v3-64, --record FILE).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cmake -S "$top" -B "$top/build-demo" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DOSA_BUILD_TESTS=OFF -DOSA_BUILD_BENCH=OFF >/dev/null
ninja -C "$top/build-demo" osa_plugin osa_modeldbg >/dev/null
exec "$top/build-demo/debugger/osa_modeldbg" --plugin "$top/build-demo/osa_plugin" "$@"
