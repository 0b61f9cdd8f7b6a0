#!/bin/sh
# Runs one GDB-host scenario against the model kernel under QEMU, then plays
# the recorded conversation back with the plug-in alone. Exits 77 (skipped)
# when the cross compiler, QEMU or GDB is missing.
#   run_scenario.sh SOURCE_DIR BUILD_DIR PLUGIN m3|m4f SCENARIO
# With QX_UPDATE_RECORDS=1 the record is also copied to tests/records/.
set -u
src=$1
out=$2
plugin=$3
board=$4
scenario=$5

for tool in arm-none-eabi-gcc qemu-system-arm gdb-multiarch setpriv python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (apt-get install gcc-arm-none-eabi qemu-system-arm gdb-multiarch)"
    exit 77
  fi
done

# Scenarios may run at once: each builds into its own directory.
work=$(mktemp -d "$out/.scenario-$board-$scenario.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
"$src/targets/cortex-m/build.sh" "$work" >/dev/null || exit 1
record="$out/$scenario-$board.rec"
rm -f "$record"

QX_SCENARIO=$scenario QX_PLUGIN=$plugin QX_RECORD=$record \
  gdb-multiarch -nx -batch -x "$src/tests/gdb/scenarios.py" "$work/model-$board.elf" || exit $?

"$plugin" -file "$record" || { echo "FAIL: the recorded conversation does not play back"; exit 1; }
if [ "${QX_UPDATE_RECORDS:-0}" = 1 ]; then
  cp "$record" "$src/tests/records/$scenario-$board.rec"
fi
