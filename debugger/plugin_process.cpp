// The plug-in as a child process (see plugin_process.h).
#include "debugger/plugin_process.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "plugin/framing.h"
#include "plugin/transport.h"
#include "simple_json/json_parse.h"

namespace {

using Clock = std::chrono::steady_clock;

// A wait for poll: at least 0 and at most an hour.
int ClampedMilliseconds(std::chrono::milliseconds wait) {
  return static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, 60 * 60 * 1000));
}

// Milliseconds left until `deadline`, at least 0, for poll.
int MillisecondsLeft(Clock::time_point deadline) {
  return ClampedMilliseconds(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

// Bytes asked of one read; the buffer keeps this much room past its bytes.
constexpr std::size_t kReadChunk = 65536;

// Makes kReadChunk bytes of room after the filled part of the buffer: bytes
// already handed out are dropped (usually they are all of them, and nothing
// moves), then the buffer grows if it must.
void MakeReadRoom(DbgPluginProcess* process) {
  std::string& buffer = process->pending;
  if (process->taken == process->filled) {
    process->taken = 0;
    process->filled = 0;
  }
  if (buffer.size() - process->filled >= kReadChunk) return;
  if (process->taken > 0) {
    const std::size_t kept = process->filled - process->taken;
    std::memmove(buffer.data(), buffer.data() + process->taken, kept);
    process->taken = 0;
    process->filled = kept;
  }
  if (buffer.size() - process->filled < kReadChunk) {
    buffer.resize(std::max(2 * buffer.size(), process->filled + 2 * kReadChunk));
  }
}

// Reads what is ready straight into the buffer. kOk also when nothing was ready.
DbgIoStatus ReadReady(DbgPluginProcess* process) {
  MakeReadRoom(process);
  const ssize_t got = read(process->running.fromStdout.Get(),
                           process->pending.data() + process->filled, kReadChunk);
  if (got > 0) {
    process->filled += static_cast<std::size_t>(got);
    return process->filled - process->taken > kDbgMaxMessageBytes ? DbgIoStatus::kGarbage
                                                                  : DbgIoStatus::kOk;
  }
  if (got == 0) return DbgIoStatus::kClosed;
  return errno == EINTR || errno == EAGAIN ? DbgIoStatus::kOk : DbgIoStatus::kFailed;
}

// One write; a vanished reader is reported as EPIPE without the SIGPIPE that
// would end the debugger: the signal is blocked for this thread during the
// call, and one it raised is taken off the pending set before unblocking.
ssize_t WriteWithoutSigpipe(int fd, const char* data, std::size_t size) {
  sigset_t pipeSet;
  sigset_t previous;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &previous);
  const ssize_t written = write(fd, data, size);
  const int saved = errno;
  if (written < 0 && saved == EPIPE) {
    const timespec noWait{};
    sigtimedwait(&pipeSet, nullptr, &noWait);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = saved;
  return written;
}

// The first whole message among the bytes received, taken out; false while there is none.
// Blanks before a message are dropped; any other byte there is garbage. With
// `tree`, the message's parse goes there too (null when it is not JSON).
bool TakeMessage(DbgPluginProcess* process, std::string_view* message, bool* garbage,
                 JsonPtr* tree) {
  const char* const rest = process->pending.data() + process->taken;
  const std::size_t restSize = process->filled - process->taken;
  const std::size_t blanks = OsaCountLeadingBlanks(rest, restSize);
  process->taken += blanks;
  if (blanks == restSize) return false;
  const char* const start = rest + blanks;
  const std::size_t size = restSize - blanks;
  if (start[0] != '{') {
    *garbage = true;
    return false;
  }
  std::size_t end = 0;
  // A message that ends the bytes received, as nearly every one does, is
  // parsed at once: for a well-formed object the parse ends where the
  // framing would, so the framing's own pass is saved. Anything else (an
  // object cut short, text that is not JSON, a message followed by part of
  // the next) is framed first, and only the framed text is parsed.
  if (tree != nullptr) {
    JsonPtr parsed = OsaParseEndingObject(start, size, &end);
    if (parsed != nullptr) {
      *message = std::string_view(start, end);
      *tree = std::move(parsed);
      process->taken += end;
      return true;
    }
  }
  if (!OsaFrameFirstObject(start, size, &end)) {
    // A NUL byte inside the text stops the framing for good.
    *garbage = std::memchr(start, '\0', size) != nullptr;
    return false;
  }
  *message = std::string_view(start, end);
  if (tree != nullptr) *tree = JsonParse(*message, nullptr);
  process->taken += end;
  return true;
}

DbgIoStatus ReceiveMessage(DbgPluginProcess* process, std::string_view* message, JsonPtr* tree,
                           std::chrono::milliseconds timeout) {
  // A message already whole needs no clock. Nothing pending, as after
  // nearly every request, cannot hold one.
  bool garbage = false;
  if (process->taken != process->filled) {
    if (TakeMessage(process, message, &garbage, tree)) return DbgIoStatus::kOk;
    if (garbage) return DbgIoStatus::kGarbage;
  }
  const Clock::time_point deadline = Clock::now() + timeout;
  // The first wait is the whole timeout: the deadline was set just now.
  int waitMs = ClampedMilliseconds(timeout);
  for (;; waitMs = MillisecondsLeft(deadline)) {
    if (!process->running.fromStdout.Valid()) return DbgIoStatus::kClosed;
    pollfd fd = {process->running.fromStdout.Get(), POLLIN, 0};
    const int ready = poll(&fd, 1, waitMs);
    if (ready < 0 && errno != EINTR) return DbgIoStatus::kFailed;
    if (ready == 0) return DbgIoStatus::kTimeout;
    if (ready < 0) continue;
    const DbgIoStatus status = ReadReady(process);
    if (status == DbgIoStatus::kClosed) {
      process->running.fromStdout.Reset();
    } else if (status != DbgIoStatus::kOk) {
      return status;
    }
    if (TakeMessage(process, message, &garbage, tree)) return DbgIoStatus::kOk;
    if (garbage) return DbgIoStatus::kGarbage;
  }
}

}  // namespace

const char* DbgIoStatusText(DbgIoStatus status) {
  switch (status) {
    case DbgIoStatus::kOk:
      return "ok";
    case DbgIoStatus::kTimeout:
      return "timed out";
    case DbgIoStatus::kClosed:
      return "the plug-in closed its end";
    case DbgIoStatus::kGarbage:
      return "the plug-in wrote something that is not a message";
    case DbgIoStatus::kFailed:
      return "a pipe call failed";
  }
  return "unknown";
}

bool DbgPluginStart(const std::string& path, const std::vector<std::string>& arguments,
                    DbgPluginProcess* process, std::string* error) {
  ProcCommand command;
  command.argv.push_back(path);
  command.argv.insert(command.argv.end(), arguments.begin(), arguments.end());
  ProcRunning running;
  if (ProcStart(command, &running, error) != ProcStatus::kOk ||
      ProcSetNonBlocking(running.toStdin.Get(), error) != ProcStatus::kOk ||
      ProcSetNonBlocking(running.fromStdout.Get(), error) != ProcStatus::kOk) {
    return false;
  }
  process->running = std::move(running);
  process->pending.clear();
  process->taken = 0;
  process->filled = 0;
  return true;
}

DbgIoStatus DbgPluginSend(DbgPluginProcess* process, std::string_view message,
                          std::chrono::milliseconds timeout) {
  const int input = process->running.toStdin.Get();
  if (input < 0) return DbgIoStatus::kClosed;
  // The pipe nearly always has room for a whole message: try it at once,
  // without the clock or a poll; what does not go through waits below.
  std::size_t sent = 0;
  if (!message.empty()) {
    const ssize_t written = WriteWithoutSigpipe(input, message.data(), message.size());
    if (written > 0) {
      sent = static_cast<std::size_t>(written);
    } else if (written < 0 && errno == EPIPE) {
      return DbgIoStatus::kClosed;
    } else if (written < 0 && errno != EINTR && errno != EAGAIN) {
      return DbgIoStatus::kFailed;
    }
  }
  if (sent == message.size()) return DbgIoStatus::kOk;
  const Clock::time_point deadline = Clock::now() + timeout;
  while (sent < message.size()) {
    const int output = process->running.fromStdout.Get();
    pollfd fds[2] = {{input, POLLOUT, 0}, {output, POLLIN, 0}};
    const nfds_t count = output >= 0 ? 2 : 1;
    const int ready = poll(fds, count, MillisecondsLeft(deadline));
    if (ready < 0 && errno != EINTR) return DbgIoStatus::kFailed;
    if (ready == 0) return DbgIoStatus::kTimeout;
    if (ready < 0) continue;
    if (count == 2 && fds[1].revents != 0) {
      const DbgIoStatus status = ReadReady(process);
      if (status == DbgIoStatus::kClosed) {
        process->running.fromStdout.Reset();
      } else if (status != DbgIoStatus::kOk) {
        return status;
      }
    }
    if (fds[0].revents == 0) continue;
    const ssize_t written =
        WriteWithoutSigpipe(input, message.data() + sent, message.size() - sent);
    if (written > 0) {
      sent += static_cast<std::size_t>(written);
    } else if (written < 0 && errno == EPIPE) {
      return DbgIoStatus::kClosed;
    } else if (written < 0 && errno != EINTR && errno != EAGAIN) {
      return DbgIoStatus::kFailed;
    }
  }
  return DbgIoStatus::kOk;
}

DbgIoStatus DbgPluginReceive(DbgPluginProcess* process, std::string* message,
                             std::chrono::milliseconds timeout) {
  std::string_view text;
  const DbgIoStatus status = DbgPluginReceiveView(process, &text, timeout);
  if (status == DbgIoStatus::kOk) message->assign(text);
  return status;
}

DbgIoStatus DbgPluginReceiveView(DbgPluginProcess* process, std::string_view* message,
                                 std::chrono::milliseconds timeout) {
  return ReceiveMessage(process, message, nullptr, timeout);
}

DbgIoStatus DbgPluginReceiveParsed(DbgPluginProcess* process, std::string_view* message,
                                   JsonPtr* tree, std::chrono::milliseconds timeout) {
  return ReceiveMessage(process, message, tree, timeout);
}

int DbgPluginFinish(DbgPluginProcess* process, std::chrono::milliseconds timeout) {
  process->running.toStdin.Reset();
  ProcChild* child = &process->running.child;
  if (child->Pid() <= 0) return -1;
  int status = 0;
  const ProcStatus ended = ProcWait(child, static_cast<int>(timeout.count()), &status);
  process->running.fromStdout.Reset();
  if (ended == ProcStatus::kOk) return ProcExitCode(status);
  return ended == ProcStatus::kTimeout ? ProcStop(child, 0) : -1;
}
