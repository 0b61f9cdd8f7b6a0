// Sparse byte memory of a 32-bit target: mapped regions hold bytes, every
// other address is unmapped and fails to read or write.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace model {

// Memory that lives outside the model, such as a live target behind a
// gdbserver: reads and writes that the mapped regions do not wholly cover go
// to these functions. Either may be null (that direction then fails).
struct MemoryBacking {
  void* context = nullptr;
  bool (*read)(void* context, uint64_t address, uint64_t count, uint8_t* out) = nullptr;
  bool (*write)(void* context, uint64_t address, uint64_t count, const uint8_t* data) = nullptr;
};

// Mapped regions by base address; regions never overlap. `bigEndian` is the
// byte order of multi-byte values that the typed accessors use.
struct TargetMemory {
  bool bigEndian = false;
  std::map<uint32_t, std::vector<uint8_t>> regions;
  MemoryBacking backing;
};

// Maps [base, base + size) filled with zeros. Fails when the range is empty,
// wraps past 4 GiB or overlaps a mapped region.
[[nodiscard]] bool MemoryMap(TargetMemory* memory, uint32_t base, uint32_t size);

// Whether every byte of [address, address + count) is mapped (count 0 is true).
[[nodiscard]] bool MemoryIsMapped(const TargetMemory& memory, uint64_t address, uint64_t count);

// Copies count bytes; fails without touching `out` when any byte is unmapped
// and there is no backing. Ranges the regions do not wholly cover go to the
// backing.
[[nodiscard]] bool MemoryRead(const TargetMemory& memory, uint64_t address, uint64_t count,
                              uint8_t* out);

// Stores count bytes; fails without storing any when a byte is unmapped and
// there is no backing. Ranges the regions do not wholly cover go to the
// backing.
[[nodiscard]] bool MemoryWrite(TargetMemory* memory, uint64_t address, uint64_t count,
                               const uint8_t* data);

// Reads an unsigned value of 1 to 8 bytes in the target's byte order.
[[nodiscard]] bool MemoryReadValue(const TargetMemory& memory, uint64_t address, uint32_t size,
                                   uint64_t* value);

// Writes the low `size` (1 to 8) bytes of value in the target's byte order.
[[nodiscard]] bool MemoryWriteValue(TargetMemory* memory, uint64_t address, uint32_t size,
                                    uint64_t value);

}  // namespace model
