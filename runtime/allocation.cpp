// Heap allocation of the support runtime.
#include "runtime/allocation.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

void RtOutOfMemory(std::size_t size) noexcept {
  // No allocation and no stdio here: the heap is exhausted.
  char line[64] = "fatal: Out of memory (0x";
  std::size_t length = std::strlen(line);
  constexpr char kDigits[] = "0123456789ABCDEF";
  const auto value = static_cast<unsigned long long>(size);
  for (int shift = 60; shift >= 0; shift -= 4)
    line[length++] = kDigits[(value >> shift) & 0xF];
  constexpr char kTail[] = " bytes requested)\n";
  std::memcpy(line + length, kTail, sizeof kTail - 1);
  length += sizeof kTail - 1;
  std::size_t written = 0;
  while (written < length) {
    const ssize_t n = ::write(2, line + written, length - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  std::_Exit(3);
}

void* RtAlloc(std::size_t size) noexcept {
  void* block = std::calloc(size == 0 ? 1 : size, 1);
  if (block == nullptr) RtOutOfMemory(size);
  return block;
}

void RtFree(void* block) noexcept {
  std::free(block);
}
