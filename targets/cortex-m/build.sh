#!/bin/sh
# Builds the model kernel for both MPS2 boards into OUTDIR:
#   model-m3.elf  (mps2-an385, Cortex-M3)
#   model-m4f.elf (mps2-an386, Cortex-M4 with single-precision FPU)
# and the expected-state manifests model-m3.json and model-m4f.json.
# QX_EXTRA_CFLAGS adds compiler flags (e.g. -gdwarf-4 or -gsplit-dwarf).
set -eu

if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$1
here=$(cd "$(dirname "$0")" && pwd)
cc=${ARM_CC:-arm-none-eabi-gcc}
mkdir -p "$out"

common="-g -O1 -ffreestanding -nostdlib -mthumb -std=c11 -Wall -Wextra -Werror ${QX_EXTRA_CFLAGS:-}"
sources="$here/qx_cpu.S $here/qx_kernel.c $here/qx_model.c"

build() {
  name=$1
  shift
  # shellcheck disable=SC2086
  "$cc" $common "$@" -I"$here" -T "$here/model.ld" -Wl,--no-warn-rwx-segments \
    -o "$out/$name.elf" $sources -lgcc
  python3 "$here/manifest.py" "$name" > "$out/$name.json"
}

build model-m3 -mcpu=cortex-m3
build model-m4f -mcpu=cortex-m4 -mfpu=fpv4-sp-d16 -mfloat-abi=hard
