#!/bin/sh
# Benchmark of osa_gdbproxy against the model kernel under QEMU: upstream
# packets and wall time of one stop, `info threads` and `thread apply all bt`,
# with and without the block cache and with a 1 ms delay per upstream packet.
# Prints a table; not part of CTest.
#   bench/proxy_bench.sh [BUILD_DIR] [--board m3|m4f] [--repeat N] [--verbose]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
[ $# -gt 0 ] && shift
proxy=$build/proxy/osa_gdbproxy
if [ ! -x "$proxy" ]; then
  echo "no $proxy: build it first (ninja -C $build osa_gdbproxy osa_plugin)" >&2
  exit 1
fi
images=$(mktemp -d "${TMPDIR:-/tmp}/osa-proxy-bench.XXXXXX")
trap 'rm -rf "$images"' EXIT
"$top/targets/cortex-m/build.sh" "$images" >/dev/null
python3 "$top/bench/proxy_bench.py" "$proxy" "$images" "$@"
