// Task register access: one operation for reads and writes that sends a
// register of the running task (or the FPU owner's floating-point register)
// to the CPU and every other mapped register to its word on the task's stack.
#include "kernel/task_registers.h"

#include <array>
#include <cstring>

#include "kernel/kernel_messages.h"
#include "kernel/structure_access.h"
#include "osa/service_requests.h"

namespace {

enum class Direction : unsigned char { kRead, kWrite };

constexpr std::uint32_t kWordSize = 4;
// Width -1 lets the debugger use the register's own width.
constexpr std::int32_t kNativeWidth = -1;
// EXC_RETURN bit 4 set: the hardware stacked no floating-point context.
constexpr std::uint32_t kExcReturnNoFpContext = 0x10;
// Stacked xPSR bit 9: the hardware added one word to align the frame.
constexpr std::uint32_t kXpsrAlignPad = 0x200;
// A frame with floating-point context ends in s0-s15, FPSCR and a reserved
// word above the stacked xPSR.
constexpr std::uint32_t kFpContextTopBytes = 18 * kWordSize;
// The save area of s0-s31 and FPSCR at the top of a task's stack area.
constexpr std::uint32_t kFpSaveAreaBytes = 33 * kWordSize;
// Targets of this CPU type deliver register 96 with bit 0 cleared.
constexpr std::uint32_t kClearBit0CpuType = 10;
constexpr std::int32_t kClearBit0Register = 96;

// The saved context of a task that is not running, as the kernel left it.
struct SavedFrame {
  std::uint32_t sp = 0;     // where the saved context starts
  bool fpContext = false;   // EXC_RETURN was read and says FP context was stacked
  std::uint32_t skip = 0;   // without FP context: words taken out of the full frame
  std::uint32_t count = 0;  // and the words left; 0 when the frame is complete
};

std::uint32_t Low32(std::uint64_t x) {
  return static_cast<std::uint32_t>(x);
}

// Reads the saved stack pointer and the frame kind. Each access reads them
// again: the task may have run since.
KernelStatus ReadSavedFrame(OSA_ServiceCntx* context, const KernelContext& kernel,
                            std::uint32_t task, SavedFrame* frame) {
  SavedFrame read;
  OsaValue word;
  KernelStatus status = ReadKernelMember(
      context, kernel, {"QX_TASK", task, kernel.version == 1 ? "stack_last" : "registers[0]"}, 4,
      "task stack pointer", &word);
  if (status != KernelStatus::kOk) return status;
  read.sp = Low32(word.payload);

  // Kernels without floating point keep no EXC_RETURN word: their frames
  // are always complete.
  OsaValue probe;
  if (EvaluateLayout(context, kernel, &probe, "%s", "&qx_cpu_reg_offset_exc_return") ==
      KernelStatus::kOk) {
    status = ReadKernelSymbol(context, kernel, &word, 4, "exc_return register offset",
                              "&qx_cpu_reg_offset_exc_return");
    if (status != KernelStatus::kOk) return status;
    std::uint64_t excReturn = 0;
    status = ReadTargetBytes(context, kernel, read.sp + kWordSize * Low32(word.payload), kWordSize,
                             &excReturn, {read.sp, kernel.regStackSize});
    if (status != KernelStatus::kOk) {
      ShowKernelMessage(context, KernelMessage::kExcReturnUnreadable);
      return status;
    }
    if ((excReturn & kExcReturnNoFpContext) != 0) {
      status = ReadKernelSymbol(context, kernel, &word, 1, "active register offset skip",
                                "&qx_cpu_reg_offset_novfp_skip");
      if (status != KernelStatus::kOk) return status;
      read.skip = Low32(word.payload);
      status = ReadKernelSymbol(context, kernel, &word, 1, "active register offset count",
                                "&qx_cpu_reg_offset_novfp_count");
      if (status != KernelStatus::kOk) return status;
      read.count = Low32(word.payload);
    } else {
      read.fpContext = true;
    }
  }
  *frame = read;
  return KernelStatus::kOk;
}

// The stack pointer as it was before the context was saved (code 0xFE), or
// its bit 31 (code 0xFD).
std::uint32_t ComputedStackPointer(OSA_ServiceCntx* context, const KernelContext& kernel,
                                   const SavedFrame& frame, std::uint32_t code) {
  std::uint32_t value =
      frame.count != 0 ? frame.sp + kWordSize * frame.count : frame.sp + kernel.regStackSize;
  if (kernel.hasPendSv) {
    // The stacked xPSR lies just below the frame's top, or below the
    // floating-point words when the frame holds them.
    const std::uint32_t xpsrAddress =
        value - kWordSize - (frame.fpContext ? kFpContextTopBytes : 0);
    std::uint64_t xpsr = 0;
    if (ReadTargetBytes(context, kernel, xpsrAddress, kWordSize, &xpsr,
                        {frame.sp, kernel.regStackSize}) != KernelStatus::kOk) {
      ShowKernelMessage(context, KernelMessage::kXpsrUnreadable);
    } else if ((xpsr & kXpsrAlignPad) != 0) {
      value += kWordSize;
    }
  }
  if (code == kRegisterStackPointerBit31) value >>= 31;
  return value;
}

// The 32-bit word of a saved register at `address`, read or written; a read
// takes the words of `frame` around it at once with the cache on.
KernelStatus AccessStackWord(OSA_ServiceCntx* context, const KernelContext& kernel,
                             std::uint32_t address, TargetBlock frame, std::int32_t reg,
                             Direction direction, std::uint64_t* value) {
  if (direction == Direction::kWrite) {
    const std::uint32_t word = Low32(*value);
    std::array<std::uint8_t, kWordSize> bytes{};
    std::memcpy(bytes.data(), &word, bytes.size());
    const KernelStatus status = ServiceStatus(OSA_Service_MemoryWrite(
        context, kKernelMemorySpace, address, 1, kWordSize, bytes.data(), kOsaNoCore));
    if (status != KernelStatus::kOk) {
      ShowKernelMessage(context, KernelMessage::kStackRegisterUnwritable);
    }
    return status;
  }
  std::uint64_t word = 0;
  const KernelStatus status = ReadTargetBytes(context, kernel, address, kWordSize, &word, frame);
  if (status != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kStackRegisterUnreadable);
    return status;
  }
  if (context->majorCpuType == kClearBit0CpuType && reg == kClearBit0Register) word &= ~1ull;
  *value = word;
  return KernelStatus::kOk;
}

KernelStatus AccessTaskRegister(OSA_ServiceCntx* context, const KernelContext& kernel,
                                std::uint64_t taskId, std::int32_t reg, Direction direction,
                                std::uint64_t* value) {
  const bool running = taskId == kernel.runningTask && kernel.interruptLevel == 0;
  const bool ownsFpu = taskId == kernel.fpTask;
  const bool mapped = reg >= 0 && static_cast<std::size_t>(reg) < kernel.registerMap.size() &&
                      kernel.registerMap[static_cast<std::size_t>(reg)] != kRegisterNotSaved;
  std::uint32_t code = mapped ? kernel.registerMap[static_cast<std::size_t>(reg)] : 0;
  const bool special =
      mapped && (code == kRegisterStackPointer || code == kRegisterStackPointerBit31);
  const bool floating = mapped && !special && (code & kRegisterFloatingFlag) != 0;

  if ((!floating && running) || (floating && ownsFpu)) {
    // The CPU holds this register.
    if (direction == Direction::kWrite) {
      return ServiceStatus(
          OSA_Service_RegisterWrite(context, kOsaNoCore, reg, kNativeWidth, *value, 0, 0, 0));
    }
    std::int64_t live = 0;
    const KernelStatus status = ServiceStatus(
        OSA_Service_RegisterRead(context, kOsaNoCore, reg, kNativeWidth, &live, 0, 0));
    if (status == KernelStatus::kOk) *value = static_cast<std::uint64_t>(live);
    return status;
  }
  if (!mapped) return KernelStatus::kFailed;

  const std::uint32_t task = Low32(taskId);
  std::uint32_t address = 0;
  // The saved words around the register, read at once with the cache on.
  TargetBlock frameBlock{0, kernel.regStackSize};
  if (floating) {
    // The save area of s0-s31 and FPSCR sits at the top of the stack area.
    code &= ~kRegisterFloatingFlag;
    OsaValue start;
    KernelStatus status = ReadKernelMember(context, kernel, {"QX_TASK", task, "stack_start"}, 4,
                                           "task stack start", &start);
    if (status != KernelStatus::kOk) return status;
    OsaValue size;
    status = ReadKernelMember(context, kernel, {"QX_TASK", task, "stack_size"}, 4,
                              "task stack size", &size);
    if (status != KernelStatus::kOk) return status;
    const std::uint32_t top = Low32(start.payload) + Low32(size.payload);
    address = top - kWordSize * code;
    frameBlock = {top - kFpSaveAreaBytes, kFpSaveAreaBytes};
  } else {
    SavedFrame frame;
    const KernelStatus status = ReadSavedFrame(context, kernel, task, &frame);
    if (status != KernelStatus::kOk) return status;
    if (special) {
      if (direction == Direction::kWrite) return KernelStatus::kFailed;
      *value = ComputedStackPointer(context, kernel, frame, code);
      return KernelStatus::kOk;
    }
    if (frame.count != 0) {
      // Without FP context the frame is the full one with `skip` words
      // taken out after word 0.
      if (code - 1 < frame.skip) return KernelStatus::kFailed;
      code -= frame.skip;
      if (code >= frame.count) return KernelStatus::kFailed;
    }
    address = frame.sp + kWordSize * code;
    frameBlock.start = frame.sp;
  }
  return AccessStackWord(context, kernel, address, frameBlock, reg, direction, value);
}

}  // namespace

KernelStatus KernelTaskRegisterRead(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                                    void* privateData, std::uint64_t taskId, std::int32_t reg,
                                    std::uint64_t* value) {
  const KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr || value == nullptr) return KernelStatus::kFailed;
  std::uint64_t read = 0;
  const KernelStatus status =
      AccessTaskRegister(context, *kernel, taskId, reg, Direction::kRead, &read);
  if (status == KernelStatus::kOk) *value = read;
  return status;
}

KernelStatus KernelTaskRegisterWrite(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                                     void* privateData, std::uint64_t taskId, std::int32_t reg,
                                     std::uint64_t value) {
  const KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr) return KernelStatus::kFailed;
  // A saved register lives in target memory: kept copies of it go.
  CacheForgetMemory(&kernel->cache);
  return AccessTaskRegister(context, *kernel, taskId, reg, Direction::kWrite, &value);
}
