// Registers of the current context and their numbering.
#include "model/register_file.h"

namespace model {
namespace {

constexpr const char* kRegisterNames[kRegisterCount] = {
    "r0",  "r1",    "r2",  "r3",  "r4",   "r5",  "r6",     "r7",  "r8",  "r9",  "r10", "r11",
    "r12", "sp",    "lr",  "pc",  "xpsr", "s0",  "s1",     "s2",  "s3",  "s4",  "s5",  "s6",
    "s7",  "s8",    "s9",  "s10", "s11",  "s12", "s13",    "s14", "s15", "s16", "s17", "s18",
    "s19", "s20",   "s21", "s22", "s23",  "s24", "s25",    "s26", "s27", "s28", "s29", "s30",
    "s31", "fpscr", "d0",  "d1",  "d2",   "d3",  "d4",     "d5",  "d6",  "d7",  "d8",  "d9",
    "d10", "d11",   "d12", "d13", "d14",  "d15", "spbit31"};
static_assert(std::size(kRegisterNames) == kRegisterCount);

}  // namespace

bool RegisterRead(const RegisterFile& file, uint32_t number, uint64_t* value) {
  if (number <= kRegFpscr) {
    *value = file.values[number];
  } else if (number < kRegSpBit31) {
    const uint32_t low = kRegS0 + 2 * (number - kRegD0);
    *value = file.values[low] | (uint64_t{file.values[low + 1]} << 32);
  } else if (number == kRegSpBit31) {
    *value = file.values[kRegSp] >> 31;
  } else {
    return false;
  }
  return true;
}

bool RegisterWrite(RegisterFile* file, uint32_t number, uint64_t value) {
  if (number <= kRegFpscr) {
    file->values[number] = static_cast<uint32_t>(value);
  } else if (number < kRegSpBit31) {
    const uint32_t low = kRegS0 + 2 * (number - kRegD0);
    file->values[low] = static_cast<uint32_t>(value);
    file->values[low + 1] = static_cast<uint32_t>(value >> 32);
  } else {
    return false;
  }
  return true;
}

const char* RegisterName(uint32_t number) {
  return number < kRegisterCount ? kRegisterNames[number] : "";
}

}  // namespace model
