#!/usr/bin/env bash
# Makes the Debian package of a built tree: scripts/package.sh [dir] (default
# build). Writes <dir>/osa-plugin_<version>_<arch>.deb; install it with
# apt-get install ./<dir>/osa-plugin_*.deb
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir="$top/${1:-build}"
rm -f "$dir"/osa-plugin_*.deb
cd "$dir"
cpack -G DEB >/dev/null
ls "$dir"/osa-plugin_*.deb
