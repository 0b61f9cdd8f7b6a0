// The relay's queue of bytes read from one side and not yet written to the
// other: appended at the back, taken from the front in slices, in time
// linear in the bytes that pass through however slow the reader is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct ByteQueue {
  std::string bytes;  // bytes[head ..] are queued; bytes[0 .. head) were taken
  std::size_t head = 0;
  std::size_t movedBytes = 0;  // bytes moved to the front by compaction so far
};

inline std::size_t QueueSize(const ByteQueue& queue) {
  return queue.bytes.size() - queue.head;
}

// All queued bytes, oldest first; valid until the queue next changes.
inline std::string_view QueueFront(const ByteQueue& queue) {
  return std::string_view(queue.bytes).substr(queue.head);
}

void QueueAppend(ByteQueue* queue, std::string_view bytes);

// Takes `count` bytes (at most QueueSize) from the front.
void QueueConsume(ByteQueue* queue, std::size_t count);

void QueueClear(ByteQueue* queue);
