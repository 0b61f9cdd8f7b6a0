// Task register access: a task that is not running has its registers saved
// on its own stack (a Cortex-M style exception frame); the kernel's register
// map says where each one lies. The running task's registers, and the FPU
// owner's floating-point registers, are the CPU's own.
#pragma once

#include <cstdint>

#include "kernel/kernel_context.h"
#include "kernel/kernel_status.h"
#include "osa/plugin_api.h"

// Register map codes (one byte per debugger register number).
inline constexpr std::uint32_t kRegisterNotSaved = 0xFF;
inline constexpr std::uint32_t kRegisterStackPointer = 0xFE;       // computed, read only
inline constexpr std::uint32_t kRegisterStackPointerBit31 = 0xFD;  // computed, read only
inline constexpr std::uint32_t kRegisterFloatingFlag = 0x80;       // words down from the stack top

// Callbacks of slots 10 and 11.
[[nodiscard]] KernelStatus KernelTaskRegisterRead(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                                  void* privateData, std::uint64_t taskId,
                                                  std::int32_t reg, std::uint64_t* value);
[[nodiscard]] KernelStatus KernelTaskRegisterWrite(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                                   void* privateData, std::uint64_t taskId,
                                                   std::int32_t reg, std::uint64_t value);
