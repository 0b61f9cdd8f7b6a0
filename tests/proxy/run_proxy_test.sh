#!/bin/sh
# Runs one end-to-end test of osa_gdbproxy: a GDB scenario of gdb_threads.py
# (live, control, postmortem, silent_upstream) against the model kernel under
# QEMU, or the raw packet test rsp_wire.py against a stand-in gdbserver
# (wire: GDB's side; wire_upstream: a failing upstream). Exits 77
# (skipped) when a tool it needs is missing.
#   run_proxy_test.sh SOURCE_DIR IMAGE_DIR PROXY m3|m4f SCENARIO
#   run_proxy_test.sh --images SOURCE_DIR IMAGE_DIR    (build both images)
# Every process the test starts carries a token in its environment; any left
# when it ends (a proxy or QEMU that did not exit) fails the test and is
# killed. (GDB starts the proxy in a session of its own, so sessions and
# process groups do not find it.)
set -u

need() {
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIPPED: $tool is not installed (apt-get install gcc-arm-none-eabi qemu-system-arm gdb-multiarch)"
      exit 77
    fi
  done
}

# Builds both images into a private directory and moves them into place, so
# that tests running at once never see a half-written image.
build_images() {
  mkdir -p "$2" || exit 1
  work=$(mktemp -d "$2/.build.XXXXXX") || exit 1
  "$1/targets/cortex-m/build.sh" "$work" >/dev/null || { rm -rf "$work"; exit 1; }
  for f in "$work"/model-*; do mv -f "$f" "$2/"; done
  rm -rf "$work"
}

if [ "${1:-}" = --images ]; then
  need arm-none-eabi-gcc python3
  build_images "$2" "$3"
  exit 0
fi

src=$1
images=$2
proxy=$3
board=$4
scenario=$5
case $scenario in
  wire) cases=sane,garbage-memory ;;
  wire_upstream) cases=disconnect,badsum,junk,noise ;;
  *) cases="" ;;
esac
if [ -n "$cases" ]; then
  need arm-none-eabi-gcc arm-none-eabi-nm python3
else
  need arm-none-eabi-gcc qemu-system-arm gdb-multiarch setpriv python3
fi
[ -f "$images/model-$board.elf" ] && [ -f "$images/model-$board.json" ] || build_images "$src" "$images"

work=$(mktemp -d "${TMPDIR:-/tmp}/osa-proxy-$scenario-$board.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

OSA_PROXY_TEST_TOKEN="$$.$(date +%s%N)"
export OSA_PROXY_TEST_TOKEN
if [ -n "$cases" ]; then
  QX_WIRE_CASES=$cases python3 "$src/tests/proxy/rsp_wire.py" "$proxy" "$images/model-$board.elf" "$work"
else
  QX_SCENARIO=$scenario QX_PROXY=$proxy QX_WORK=$work \
    gdb-multiarch -nx -batch -x "$src/tests/proxy/gdb_threads.py" "$images/model-$board.elf"
fi
status=$?

# Processes other than this shell that carry the token (no subshell here:
# a function with a redirection runs in this shell).
left_pids() {
  for dir in /proc/[0-9]*; do
    pid=${dir#/proc/}
    [ "$pid" = "$$" ] && continue
    if { tr '\0' '\n' < "$dir/environ"; } 2>/dev/null |
      grep -qx "OSA_PROXY_TEST_TOKEN=$OSA_PROXY_TEST_TOKEN"; then
      echo "$pid"
    fi
  done
}
# Give a proxy a moment to see its end of input.
for _ in 1 2 3 4 5 6 7 8 9 10; do
  left_pids > "$work/left"
  [ -s "$work/left" ] || break
  sleep 0.2
done
if [ -s "$work/left" ]; then
  echo "FAIL: processes left running after the test:"
  for pid in $(cat "$work/left"); do
    ps -o pid=,args= -p "$pid"
    kill -KILL "$pid" 2>/dev/null
  done
  [ "$status" = 0 ] && status=1
fi
exit "$status"
