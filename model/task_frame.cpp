// Saved task contexts and the register map table.
#include "model/task_frame.h"

#include <span>
#include <vector>

namespace model {
namespace {

constexpr uint32_t kExcReturnSlot = 0xFFFF;  // frame word holding EXC_RETURN
constexpr uint32_t kReservedSlot = 0xFFFE;   // frame word the hardware leaves unused

uint32_t S(uint32_t n) {
  return kRegS0 + n;
}

// The register (or slot) of each frame word, lowest address first.
std::vector<uint32_t> FrameSlots(FrameKind kind) {
  std::vector<uint32_t> slots;
  if (kind != FrameKind::kNoFpu) slots.push_back(kExcReturnSlot);
  if (kind == FrameKind::kFpContext) {
    for (uint32_t n = 16; n < 32; ++n)
      slots.push_back(S(n));
  }
  for (uint32_t r = 4; r <= 11; ++r)
    slots.push_back(r);
  for (uint32_t r : {0u, 1u, 2u, 3u, 12u, kRegLr, kRegPc, kRegXpsr})
    slots.push_back(r);
  if (kind == FrameKind::kFpContext) {
    for (uint32_t n = 0; n < 16; ++n)
      slots.push_back(S(n));
    slots.push_back(kRegFpscr);
    slots.push_back(kReservedSlot);
  }
  return slots;
}

}  // namespace

std::array<uint8_t, kRegisterCount> RegisterMapTable(bool fpu) {
  std::array<uint8_t, kRegisterCount> map;
  map.fill(0xFF);
  const std::vector<uint32_t> slots = FrameSlots(fpu ? FrameKind::kFpContext : FrameKind::kNoFpu);
  for (size_t word = 0; word < slots.size(); ++word) {
    const uint32_t slot = slots[word];
    if (slot <= kRegXpsr) map[slot] = static_cast<uint8_t>(word);
  }
  map[kRegSp] = 0xFE;
  map[kRegSpBit31] = 0xFD;
  if (fpu) {
    for (uint32_t n = 0; n < 32; ++n)
      map[S(n)] = static_cast<uint8_t>(0x80 | (33 - n));
    map[kRegFpscr] = 0x81;
  }
  return map;
}

uint32_t RegStackSize(bool fpu) {
  return static_cast<uint32_t>(FrameSlots(fpu ? FrameKind::kFpContext : FrameKind::kNoFpu).size()) *
         4;
}

bool WriteTaskFrame(TargetMemory* memory, FrameKind kind, uint32_t spBeforeSave,
                    const TaskRegisters& registers, uint32_t* savedSp) {
  const bool pad = (spBeforeSave & 4) != 0;
  const std::vector<uint32_t> slots = FrameSlots(kind);
  const uint32_t base = spBeforeSave - (pad ? 4 : 0) - static_cast<uint32_t>(slots.size()) * 4;
  for (size_t word = 0; word < slots.size(); ++word) {
    const uint32_t slot = slots[word];
    uint32_t value = 0;
    if (slot == kExcReturnSlot) {
      value = kind == FrameKind::kFpContext ? kExcReturnFp : kExcReturnNoFp;
    } else if (slot == kRegXpsr) {
      value = (registers[kRegXpsr] & ~kXpsrAlignPad) | (pad ? kXpsrAlignPad : 0);
    } else if (slot != kReservedSlot) {
      value = registers[slot];
    }
    if (!MemoryWriteValue(memory, base + 4 * word, 4, value)) return false;
  }
  if (pad && !MemoryWriteValue(memory, spBeforeSave - 4, 4, 0)) return false;
  *savedSp = base;
  return true;
}

bool WriteFpSaveArea(TargetMemory* memory, uint32_t stackTop, const TaskRegisters& registers) {
  const uint32_t base = stackTop - kFpSaveAreaBytes;
  for (uint32_t n = 0; n < 32; ++n) {
    if (!MemoryWriteValue(memory, base + 4 * n, 4, registers[S(n)])) return false;
  }
  return MemoryWriteValue(memory, stackTop - 4, 4, registers[kRegFpscr]);
}

}  // namespace model
