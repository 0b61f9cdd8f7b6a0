#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and benchmarks with.
# Safe to run again; needs root (apt-get).
set -euo pipefail

packages=(
  cmake ninja-build g++ make          # build
  dpkg-dev file                       # the Debian package (cpack, dpkg-shlibdeps)
  libgtest-dev libgmock-dev           # unit and process tests
  libbenchmark-dev                    # benchmarks
  rapidjson-dev nlohmann-json3-dev    # yardsticks of the JSON benchmark
  libdw-dev libelf-dev                # ELF and DWARF reading of the gdb-remote proxy
  clang libclang-rt-14-dev            # libFuzzer targets
  clang-format git                    # the source format check
  python3                             # tools
  gcc-arm-none-eabi qemu-system-arm   # the model kernel on emulated Cortex-M boards
  gdb-multiarch                       # the debugger host for that target
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
