// Registers of the current context of a Cortex-M style target, numbered as
// the kernel's register map numbers them:
//   0-15  r0-r15 (13 sp, 14 lr, 15 pc)      16     xPSR
//   17-48 s0-s31                            49     fpscr
//   50-65 d0-d15 (64-bit views of s2n, s2n+1; d_n = s2n | s2n+1 << 32)
//   66    spbit31: bit 31 of sp (read only; the kernel map's code 0xFD)
#pragma once

#include <array>
#include <cstdint>

namespace model {

constexpr uint32_t kRegR0 = 0;
constexpr uint32_t kRegSp = 13;
constexpr uint32_t kRegLr = 14;
constexpr uint32_t kRegPc = 15;
constexpr uint32_t kRegXpsr = 16;
constexpr uint32_t kRegS0 = 17;
constexpr uint32_t kRegFpscr = 49;
constexpr uint32_t kRegD0 = 50;
constexpr uint32_t kRegSpBit31 = 66;
constexpr uint32_t kRegisterCount = 67;

// Registers that live outside the model, such as those of a live target
// behind a gdbserver: the stored registers (r0-r15, xPSR, s0-s31, fpscr) are
// read and written through these functions instead of `values`.
struct RegisterBacking {
  void* context = nullptr;
  bool (*read)(void* context, uint32_t number, uint32_t* value) = nullptr;
  bool (*write)(void* context, uint32_t number, uint32_t value) = nullptr;
};

// The stored registers: r0-r15, xPSR, s0-s31 and fpscr. The d registers and
// spbit31 are views computed from them. With a backing set, `values` is not
// used.
struct RegisterFile {
  std::array<uint32_t, kRegFpscr + 1> values{};
  RegisterBacking backing;
};

// Reads register `number` (below kRegisterCount); d registers give 64 bits.
[[nodiscard]] bool RegisterRead(const RegisterFile& file, uint32_t number, uint64_t* value);

// Writes register `number`: 32-bit registers take the low 32 bits, d registers
// all 64. spbit31 is read only.
[[nodiscard]] bool RegisterWrite(RegisterFile* file, uint32_t number, uint64_t value);

// The name of a register number ("r4", "xpsr", "s17", "d3"), or "" when the
// number is out of range.
const char* RegisterName(uint32_t number);

}  // namespace model
