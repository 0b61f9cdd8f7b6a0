// The relay's byte queue (see byte_queue.h).
#include "recorder/byte_queue.h"

void QueueAppend(ByteQueue* queue, std::string_view bytes) {
  queue->bytes.append(bytes);
}

void QueueConsume(ByteQueue* queue, std::size_t count) {
  queue->head += count;
  if (queue->head >= queue->bytes.size()) {
    QueueClear(queue);
  } else if (queue->head >= queue->bytes.size() - queue->head) {
    // Moving the rest only once the taken part is at least as long as it
    // pays each move with bytes taken since the last one, so the moves add
    // up to no more than the bytes that passed through.
    queue->bytes.erase(0, queue->head);
    queue->movedBytes += queue->bytes.size();
    queue->head = 0;
  }
}

void QueueClear(ByteQueue* queue) {
  queue->bytes.clear();
  queue->head = 0;
}
