#!/usr/bin/env bash
# Sets up the machine, builds the plug-in and replays the bundled recorded
# conversation between a debugger and the plug-in.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$top/build/osa_plugin" -file "$top/examples/basic_session.rec"
