// Sparse byte memory of a 32-bit target.
#include "model/target_memory.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace model {
namespace {

constexpr uint64_t kAddressLimit = uint64_t{1} << 32;

// The region holding `address` and the byte's index in it, or none; const or
// not as the memory is.
template <typename Memory>
auto RegionAt(Memory& memory, uint64_t address, uint64_t* index)
    -> decltype(&memory.regions.begin()->second) {
  if (address >= kAddressLimit) return nullptr;
  auto it = memory.regions.upper_bound(static_cast<uint32_t>(address));
  if (it == memory.regions.begin()) return nullptr;
  --it;
  const uint64_t offset = address - it->first;
  if (offset >= it->second.size()) return nullptr;
  *index = offset;
  return &it->second;
}

}  // namespace

bool MemoryMap(TargetMemory* memory, uint32_t base, uint32_t size) {
  if (size == 0 || uint64_t{base} + size > kAddressLimit) return false;
  auto next = memory->regions.lower_bound(base);
  if (next != memory->regions.end() && next->first < uint64_t{base} + size) return false;
  if (next != memory->regions.begin()) {
    auto previous = std::prev(next);
    if (uint64_t{previous->first} + previous->second.size() > base) return false;
  }
  memory->regions.emplace(base, std::vector<uint8_t>(size, 0));
  return true;
}

bool MemoryIsMapped(const TargetMemory& memory, uint64_t address, uint64_t count) {
  uint64_t done = 0;
  while (done < count) {
    uint64_t index = 0;
    const std::vector<uint8_t>* region = RegionAt(memory, address + done, &index);
    if (region == nullptr) return false;
    done += region->size() - index;
  }
  return true;
}

bool MemoryRead(const TargetMemory& memory, uint64_t address, uint64_t count, uint8_t* out) {
  // Most reads lie within one region: one look-up then.
  uint64_t index = 0;
  const std::vector<uint8_t>* first = RegionAt(memory, address, &index);
  if (first != nullptr && count <= first->size() - index) {
    std::memcpy(out, first->data() + index, count);
    return true;
  }
  if (!MemoryIsMapped(memory, address, count)) {
    return memory.backing.read != nullptr &&
           memory.backing.read(memory.backing.context, address, count, out);
  }
  uint64_t done = 0;
  while (done < count) {
    uint64_t index = 0;
    const std::vector<uint8_t>* region = RegionAt(memory, address + done, &index);
    const uint64_t piece = std::min<uint64_t>(count - done, region->size() - index);
    std::memcpy(out + done, region->data() + index, piece);
    done += piece;
  }
  return true;
}

bool MemoryWrite(TargetMemory* memory, uint64_t address, uint64_t count, const uint8_t* data) {
  if (!MemoryIsMapped(*memory, address, count)) {
    return memory->backing.write != nullptr &&
           memory->backing.write(memory->backing.context, address, count, data);
  }
  uint64_t done = 0;
  while (done < count) {
    uint64_t index = 0;
    std::vector<uint8_t>* region = RegionAt(*memory, address + done, &index);
    const uint64_t piece = std::min<uint64_t>(count - done, region->size() - index);
    std::memcpy(region->data() + index, data + done, piece);
    done += piece;
  }
  return true;
}

bool MemoryReadValue(const TargetMemory& memory, uint64_t address, uint32_t size, uint64_t* value) {
  if (size < 1 || size > 8) return false;
  uint8_t bytes[8] = {};
  if (!MemoryRead(memory, address, size, bytes)) return false;
  uint64_t result = 0;
  for (uint32_t i = 0; i < size; ++i) {
    const uint32_t index = memory.bigEndian ? i : size - 1 - i;
    result = (result << 8) | bytes[index];
  }
  *value = result;
  return true;
}

bool MemoryWriteValue(TargetMemory* memory, uint64_t address, uint32_t size, uint64_t value) {
  if (size < 1 || size > 8) return false;
  uint8_t bytes[8] = {};
  for (uint32_t i = 0; i < size; ++i) {
    const uint32_t index = memory->bigEndian ? size - 1 - i : i;
    bytes[index] = static_cast<uint8_t>(value >> (8 * i));
  }
  return MemoryWrite(memory, address, size, bytes);
}

}  // namespace model
