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

bool ReadStored(const RegisterFile& file, uint32_t number, uint32_t* value) {
  if (file.backing.read != nullptr) return file.backing.read(file.backing.context, number, value);
  if (file.backing.write != nullptr) return false;  // a write-only backing
  *value = file.values[number];
  return true;
}

bool WriteStored(RegisterFile* file, uint32_t number, uint32_t value) {
  if (file->backing.write != nullptr) {
    return file->backing.write(file->backing.context, number, value);
  }
  if (file->backing.read != nullptr) return false;  // a read-only backing
  file->values[number] = value;
  return true;
}

}  // namespace

bool RegisterRead(const RegisterFile& file, uint32_t number, uint64_t* value) {
  uint32_t low = 0;
  uint32_t high = 0;
  if (number <= kRegFpscr) {
    if (!ReadStored(file, number, &low)) return false;
  } else if (number < kRegSpBit31) {
    const uint32_t first = kRegS0 + 2 * (number - kRegD0);
    if (!ReadStored(file, first, &low) || !ReadStored(file, first + 1, &high)) return false;
  } else if (number == kRegSpBit31) {
    if (!ReadStored(file, kRegSp, &low)) return false;
    low >>= 31;
  } else {
    return false;
  }
  *value = low | (uint64_t{high} << 32);
  return true;
}

bool RegisterWrite(RegisterFile* file, uint32_t number, uint64_t value) {
  if (number <= kRegFpscr) return WriteStored(file, number, static_cast<uint32_t>(value));
  if (number < kRegSpBit31) {
    const uint32_t first = kRegS0 + 2 * (number - kRegD0);
    return WriteStored(file, first, static_cast<uint32_t>(value)) &&
           WriteStored(file, first + 1, static_cast<uint32_t>(value >> 32));
  }
  return false;
}

const char* RegisterName(uint32_t number) {
  return number < kRegisterCount ? kRegisterNames[number] : "";
}

}  // namespace model
