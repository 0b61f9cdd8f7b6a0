#!/bin/sh
# Builds the model kernel images and checks one of them under QEMU through
# GDB. Exits 77 (skipped) when the cross compiler, QEMU or GDB is missing.
#   run_target_check.sh SOURCE_DIR BUILD_DIR m3|m4f
set -u
src=$1
out=$2
board=$3

for tool in arm-none-eabi-gcc qemu-system-arm gdb-multiarch setpriv python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (apt-get install gcc-arm-none-eabi qemu-system-arm gdb-multiarch)"
    exit 77
  fi
done

# Both boards' tests may run at once: build into a private directory and
# move the results into place.
work=$(mktemp -d "$out/.build-$board.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
"$src/targets/cortex-m/build.sh" "$work" || exit 1
for f in "$work"/model-*; do mv -f "$f" "$out/"; done

exec gdb-multiarch -nx -batch -x "$src/gdb/verify_target.py" "$out/model-$board.elf"
