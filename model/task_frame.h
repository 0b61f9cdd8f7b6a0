// The register context the kernel saves on a task's stack, Cortex-M style,
// and the kernel's register map table that describes it.
//
// At the saved stack pointer, lowest address first:
//   EXC_RETURN                       (kernels with floating point only)
//   s16-s31                          (floating-point frames only: EXC_RETURN bit 4 clear)
//   r4-r11                           (pushed by the kernel)
//   r0-r3, r12, lr, pc, xPSR         (pushed by the hardware)
//   s0-s15, FPSCR, reserved          (floating-point frames only)
//   one pad word                     (when the stack was not 8-byte aligned; xPSR bit 9)
// EXC_RETURN comes first so that its word index is the same in both frame
// kinds, and the floating-point words come right after it so that a frame
// without them is the full frame with words 1..16 taken out: the map's word
// codes then shift down by the skip (16) and stop at the count (17).
//
// Kernels with floating point also keep a save area of s0-s31 and FPSCR at
// the top of each task's stack (s0 lowest, FPSCR in the top word); the map
// codes of those registers are bit 7 plus the word count from the top.
#pragma once

#include <array>
#include <cstdint>

#include "model/register_file.h"
#include "model/target_memory.h"

namespace model {

enum class FrameKind : uint8_t {
  kFpContext,    // floating-point kernel, frame with FP context (EXC_RETURN 0xFFFFFFED)
  kNoFpContext,  // floating-point kernel, frame without (EXC_RETURN 0xFFFFFFFD)
  kNoFpu,        // kernel without floating point: no EXC_RETURN word, no FP words
};

using TaskRegisters = std::array<uint32_t, kRegFpscr + 1>;

constexpr uint32_t kExcReturnFp = 0xFFFFFFED;
constexpr uint32_t kExcReturnNoFp = 0xFFFFFFFD;
constexpr uint32_t kXpsrThumb = 0x01000000;
constexpr uint32_t kXpsrAlignPad = 0x200;
constexpr uint32_t kFpSaveAreaBytes = 33 * 4;  // s0-s31 and FPSCR
constexpr uint32_t kExcReturnWordIndex = 0;    // qx_cpu_reg_offset_exc_return
constexpr uint32_t kNoFpSkip = 16;             // qx_cpu_reg_offset_novfp_skip
constexpr uint32_t kNoFpCount = 17;            // qx_cpu_reg_offset_novfp_count

// The kernel's register map (one code per register number) for a kernel with
// or without floating point.
std::array<uint8_t, kRegisterCount> RegisterMapTable(bool fpu);

// qx_kernel_reg_stack_size: bytes of the largest saved context (204 or 64).
uint32_t RegStackSize(bool fpu);

// Writes a saved context below `spBeforeSave` and returns the saved stack
// pointer. A pad word is inserted when spBeforeSave is 4 modulo 8; the stacked
// xPSR is registers[xPSR] with bit 9 set to match. Fails on unmapped memory.
[[nodiscard]] bool WriteTaskFrame(TargetMemory* memory, FrameKind kind, uint32_t spBeforeSave,
                                  const TaskRegisters& registers, uint32_t* savedSp);

// Writes s0-s31 and FPSCR into the save area that ends at `stackTop`.
[[nodiscard]] bool WriteFpSaveArea(TargetMemory* memory, uint32_t stackTop,
                                   const TaskRegisters& registers);

}  // namespace model
