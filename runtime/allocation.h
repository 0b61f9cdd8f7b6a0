// Heap allocation of the support runtime: running out of memory ends the
// process with exit code 3 after a one-line report on stderr.
#pragma once

#include <cstddef>

// Writes "fatal: Out of memory (0x<size as 16 upper-case hex digits> bytes
// requested)\n" to stderr and ends the process with exit code 3.
[[noreturn]] void RtOutOfMemory(std::size_t size) noexcept;

// A new zero-filled block of `size` bytes (at least one byte is allocated).
// Never returns null: exhaustion ends the process through RtOutOfMemory.
[[nodiscard]] void* RtAlloc(std::size_t size) noexcept;

// Releases a block from RtAlloc; null is accepted.
void RtFree(void* block) noexcept;

// Deleter for std::unique_ptr owners of RtAlloc blocks.
struct RtFreeDeleter {
  void operator()(void* block) const noexcept { RtFree(block); }
};
