// The recorder's relay loop (see relay.h).
#include "recorder/relay.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "recorder/byte_queue.h"
#include "recorder/message_framer.h"

namespace {

// Bytes read per call, and the most held for a destination that is slow to
// take them; a source is not read while its destination is this far behind.
constexpr std::size_t kChunk = 65536;
constexpr std::size_t kMaxQueued = std::size_t{4} << 20;
// Writes after POLLOUT stay at or below PIPE_BUF, so they never block on a
// pipe, even though the descriptors are left blocking (they may be shared).
constexpr std::size_t kWriteSlice = PIPE_BUF;
constexpr auto kChildGrace = std::chrono::seconds(5);

struct Direction {
  int from = -1;
  int to = -1;
  const char* tag = "";
  bool reading = true;     // source still open
  bool delivering = true;  // destination still takes bytes
  ByteQueue queued;        // read, not yet written
  MessageFramer framer;
  std::FILE* record = nullptr;
};

void EmitRecord(void* context, std::string_view message) {
  Direction* direction = static_cast<Direction*>(context);
  const std::string line = RecordLine(RecordTimeStamp(), direction->tag, message);
  std::fwrite(line.data(), 1, line.size(), direction->record);
  std::fflush(direction->record);
}

// Reads what is there; false at the end of the source.
bool ReadSome(Direction* direction) {
  char chunk[kChunk];
  ssize_t count = -1;
  do {
    count = read(direction->from, chunk, sizeof(chunk));
  } while (count < 0 && errno == EINTR);
  if (count <= 0) return false;
  const std::string_view bytes(chunk, static_cast<std::size_t>(count));
  if (direction->delivering) QueueAppend(&direction->queued, bytes);
  FramerFeed(&direction->framer, bytes, EmitRecord, direction);
  return true;
}

// Writes one slice; false when the destination is gone.
bool WriteSome(Direction* direction) {
  const std::string_view front = QueueFront(direction->queued);
  const std::size_t size = std::min(front.size(), kWriteSlice);
  ssize_t count = -1;
  do {
    count = write(direction->to, front.data(), size);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return errno == EAGAIN;
  QueueConsume(&direction->queued, static_cast<std::size_t>(count));
  return true;
}

}  // namespace

int RelayRun(ProcRunning* child, int debuggerInput, int debuggerOutput, std::FILE* record) {
  Direction toChild;
  toChild.from = debuggerInput;
  toChild.to = child->toStdin.Get();
  toChild.tag = "VEXLO";
  toChild.record = record;
  Direction toDebugger;
  toDebugger.from = child->fromStdout.Get();
  toDebugger.to = debuggerOutput;
  toDebugger.tag = "PLUGIN";
  toDebugger.record = record;

  bool childInputClosed = false;
  bool terminated = false;
  std::chrono::steady_clock::time_point closedAt;
  while (toDebugger.reading || (toDebugger.delivering && QueueSize(toDebugger.queued) > 0)) {
    // The child's input ends once the debugger's has ended and all of it went
    // through, or once nothing can reach the debugger any more.
    const bool debuggerDone = (!toChild.reading && QueueSize(toChild.queued) == 0) ||
                              !toChild.delivering || !toDebugger.delivering;
    if (debuggerDone && !childInputClosed) {
      child->toStdin.Reset();
      toChild.delivering = false;
      toChild.reading = false;
      childInputClosed = true;
      closedAt = std::chrono::steady_clock::now();
    }
    if (childInputClosed && !terminated &&
        std::chrono::steady_clock::now() - closedAt > kChildGrace) {
      ProcSignal(child->child, SIGTERM);
      terminated = true;
    }

    pollfd fds[4];
    Direction* owners[4];
    short events[4];
    nfds_t count = 0;
    for (Direction* direction : {&toChild, &toDebugger}) {
      if (direction->reading && QueueSize(direction->queued) < kMaxQueued) {
        fds[count] = {direction->from, POLLIN, 0};
        owners[count] = direction;
        events[count++] = POLLIN;
      }
      if (direction->delivering && QueueSize(direction->queued) > 0) {
        fds[count] = {direction->to, POLLOUT, 0};
        owners[count] = direction;
        events[count++] = POLLOUT;
      }
    }
    const int ready = poll(fds, count, 100);
    if (ready < 0 && errno != EINTR) break;
    for (nfds_t index = 0; ready > 0 && index < count; ++index) {
      Direction* direction = owners[index];
      if (fds[index].revents == 0) continue;
      if (events[index] == POLLIN) {
        if (!ReadSome(direction)) direction->reading = false;
      } else if ((fds[index].revents & (POLLERR | POLLNVAL)) != 0 || !WriteSome(direction)) {
        direction->delivering = false;
        QueueClear(&direction->queued);
      }
    }
  }
  child->toStdin.Reset();
  child->fromStdout.Reset();
  for (const Direction* direction : {&toChild, &toDebugger}) {
    if (direction->framer.droppedBytes > 0) {
      std::fprintf(stderr,
                   "osa_record: %zu bytes sent by %s were not part of a message and are "
                   "not in the record\n",
                   direction->framer.droppedBytes, direction->tag);
    }
  }
  int status = 0;
  return ProcWait(&child->child, -1, &status) == ProcStatus::kOk ? ProcExitCode(status) : 127;
}
