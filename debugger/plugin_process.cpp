// The plug-in as a child process (see plugin_process.h).
#include "debugger/plugin_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "plugin/framing.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Milliseconds left until `deadline`, at least 0, for poll.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 60 * 60 * 1000));
}

// Reads what is ready into pending. kOk also when nothing was ready.
DbgIoStatus ReadReady(DbgPluginProcess* process) {
  char chunk[65536];
  const ssize_t got = read(process->output, chunk, sizeof(chunk));
  if (got > 0) {
    process->pending.append(chunk, static_cast<std::size_t>(got));
    return process->pending.size() > kDbgMaxMessageBytes ? DbgIoStatus::kGarbage : DbgIoStatus::kOk;
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

// The first whole message in pending, taken out; false while there is none.
// Blanks before a message are dropped; any other byte there is garbage.
bool TakeMessage(DbgPluginProcess* process, std::string* message, bool* garbage) {
  std::string& pending = process->pending;
  pending.erase(0, OsaCountLeadingBlanks(pending.data(), pending.size()));
  if (pending.empty()) return false;
  if (pending[0] != '{') {
    *garbage = true;
    return false;
  }
  std::size_t end = 0;
  if (!OsaFrameFirstObject(pending.data(), pending.size(), &end)) {
    // A NUL byte inside the text stops the framing for good.
    *garbage = std::memchr(pending.data(), '\0', pending.size()) != nullptr;
    return false;
  }
  message->assign(pending, 0, end);
  pending.erase(0, end);
  return true;
}

}  // namespace

DbgPluginProcess::~DbgPluginProcess() {
  CloseFd(&input);
  CloseFd(&output);
  if (pid > 0) {
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
  }
}

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
  int toChild[2];
  int fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(fromChild, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    close(toChild[0]);
    close(toChild[1]);
    return false;
  }
  std::vector<char*> argv;
  std::string program = path;
  std::vector<std::string> copies = arguments;
  argv.push_back(program.data());
  for (std::string& argument : copies)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  pid_t pid = -1;
  const int spawnError =
      posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  if (spawnError != 0) {
    *error = "cannot start " + path + ": " + std::strerror(spawnError);
    close(toChild[1]);
    close(fromChild[0]);
    return false;
  }
  process->pid = pid;
  process->input = toChild[1];
  process->output = fromChild[0];
  process->pending.clear();
  if (!SetNonBlocking(process->input) || !SetNonBlocking(process->output)) {
    *error = std::string("cannot make the pipes non-blocking: ") + std::strerror(errno);
    return false;
  }
  return true;
}

DbgIoStatus DbgPluginSend(DbgPluginProcess* process, std::string_view message,
                          std::chrono::milliseconds timeout) {
  if (process->input < 0) return DbgIoStatus::kClosed;
  const Clock::time_point deadline = Clock::now() + timeout;
  std::size_t sent = 0;
  while (sent < message.size()) {
    pollfd fds[2] = {{process->input, POLLOUT, 0}, {process->output, POLLIN, 0}};
    const nfds_t count = process->output >= 0 ? 2 : 1;
    const int ready = poll(fds, count, MillisecondsLeft(deadline));
    if (ready < 0 && errno != EINTR) return DbgIoStatus::kFailed;
    if (ready == 0) return DbgIoStatus::kTimeout;
    if (ready < 0) continue;
    if (count == 2 && fds[1].revents != 0) {
      const DbgIoStatus status = ReadReady(process);
      if (status == DbgIoStatus::kClosed) {
        CloseFd(&process->output);
      } else if (status != DbgIoStatus::kOk) {
        return status;
      }
    }
    if (fds[0].revents == 0) continue;
    const ssize_t written =
        WriteWithoutSigpipe(process->input, message.data() + sent, message.size() - sent);
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
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    bool garbage = false;
    if (TakeMessage(process, message, &garbage)) return DbgIoStatus::kOk;
    if (garbage) return DbgIoStatus::kGarbage;
    if (process->output < 0) return DbgIoStatus::kClosed;
    pollfd fd = {process->output, POLLIN, 0};
    const int ready = poll(&fd, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno != EINTR) return DbgIoStatus::kFailed;
    if (ready == 0) return DbgIoStatus::kTimeout;
    if (ready < 0) continue;
    const DbgIoStatus status = ReadReady(process);
    if (status == DbgIoStatus::kClosed) {
      CloseFd(&process->output);
    } else if (status != DbgIoStatus::kOk) {
      return status;
    }
  }
}

int DbgPluginFinish(DbgPluginProcess* process, std::chrono::milliseconds timeout) {
  CloseFd(&process->input);
  if (process->pid <= 0) return -1;
  const Clock::time_point deadline = Clock::now() + timeout;
  int status = 0;
  pid_t reaped = 0;
  for (;;) {
    reaped = waitpid(process->pid, &status, WNOHANG);
    if (reaped != 0 && !(reaped < 0 && errno == EINTR)) break;
    if (Clock::now() >= deadline) {
      kill(process->pid, SIGKILL);
      do {
        reaped = waitpid(process->pid, &status, 0);
      } while (reaped < 0 && errno == EINTR);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  process->pid = -1;
  CloseFd(&process->output);
  if (reaped < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}
