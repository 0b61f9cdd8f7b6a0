// Starting, waiting for and stopping child processes (see child.h).
#include "process/child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <array>
#include <cerrno>
#include <chrono>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void SleepMs(int ms) {
  timespec pause{0, static_cast<long>(ms) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Tells the parent why the child could not become the program, then ends.
[[noreturn]] void ChildFail(int report, int errorNumber) {
  while (write(report, &errorNumber, sizeof errorNumber) < 0 && errno == EINTR) {
  }
  _exit(127);
}

// The forked child up to exec: async-signal-safe calls only. The stream
// descriptors are above 2 (see MoveAbove2), so no dup2 overwrites another.
[[noreturn]] void ChildExec(const ProcCommand& command, pid_t parent,
                            const std::array<int, 3>& streams, int report, char* const* argv) {
  if (command.ownGroup) setpgid(0, 0);
#if defined(__linux__)
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
#else
  (void)parent;
#endif
  struct sigaction deflt {};
  deflt.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &deflt, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int target = 0; target < 3; ++target) {
    const int fd = streams[static_cast<std::size_t>(target)];
    if (fd >= 0 && dup2(fd, target) < 0) ChildFail(report, errno);
  }
  execv(argv[0], argv);
  ChildFail(report, errno);
}

// Starts the child with fork, for what posix_spawn cannot ask for (a
// signal when we die); 0 or the errno of the failed step.
int ForkExec(const ProcCommand& command, const std::array<int, 3>& streams, char* const* argv,
             pid_t* pid) {
  ProcPipe report;
  std::string ignored;
  if (ProcMakePipe(&report, &ignored) != ProcStatus::kOk) return errno;
  if (report.write.Get() <= 2) report.write.Reset(fcntl(report.write.Get(), F_DUPFD_CLOEXEC, 3));
  if (!report.write.Valid()) return errno;
  const pid_t parent = getpid();
  *pid = fork();
  if (*pid < 0) return errno;
  if (*pid == 0) ChildExec(command, parent, streams, report.write.Get(), argv);
  report.write.Reset();
  // The report pipe closes on exec: no bytes mean the program runs.
  int failure = 0;
  ssize_t got = -1;
  do {
    got = read(report.read.Get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  return got == 0 ? 0 : got == sizeof failure ? failure : EIO;
}

// Starts the child with posix_spawn, which needs no copy of our memory.
int SpawnExec(const ProcCommand& command, const std::array<int, 3>& streams, char* const* argv,
              pid_t* pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  for (int target = 0; target < 3; ++target) {
    const int fd = streams[static_cast<std::size_t>(target)];
    if (fd >= 0) posix_spawn_file_actions_adddup2(&actions, fd, target);
  }
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (command.ownGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  posix_spawnattr_setflags(&attributes, flags);
  const int failure = command.searchPath
                          ? posix_spawnp(pid, argv[0], &actions, &attributes, argv, environ)
                          : posix_spawn(pid, argv[0], &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return failure;
}

// Any child end may be 0, 1 or 2 when we run without standard streams; a
// copy above 2 keeps one dup2 in the child from overwriting another.
bool MoveAbove2(ProcFd* fd) {
  if (fd->Valid() && fd->Get() <= 2) fd->Reset(fcntl(fd->Get(), F_DUPFD_CLOEXEC, 3));
  return fd->Valid();
}

}  // namespace

ProcChild& ProcChild::operator=(ProcChild&& other) noexcept {
  if (this != &other) {
    Stop();
    group_ = other.group_;
    pid_ = other.Release();
  }
  return *this;
}

int ProcChild::Stop() {
  return ProcStop(this, kProcStopGraceMs);
}

pid_t ProcChild::Release() {
  const pid_t pid = pid_;
  pid_ = -1;
  return pid;
}

ProcStatus ProcStart(const ProcCommand& command, ProcRunning* running, std::string* error) {
  if (command.argv.empty() || command.argv[0].empty()) {
    *error = "cannot start a command without a program";
    return ProcStatus::kFailed;
  }
  ProcPipe in;
  ProcPipe out;
  ProcPipe err;
  if ((command.pipeStdin && ProcMakePipe(&in, error) != ProcStatus::kOk) ||
      (command.pipeStdout && ProcMakePipe(&out, error) != ProcStatus::kOk) ||
      (command.pipeStderr && ProcMakePipe(&err, error) != ProcStatus::kOk)) {
    return ProcStatus::kFailed;
  }
  const std::string& name = command.argv[0];
  for (ProcPipe* pipe : {&in, &out, &err}) {
    ProcFd* childEnd = pipe == &in ? &pipe->read : &pipe->write;
    if (pipe->read.Valid() && !MoveAbove2(childEnd)) {
      *error = ProcErrnoText("cannot start " + name, errno);
      return ProcStatus::kFailed;
    }
  }
  std::vector<std::string> words = command.argv;
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::array<int, 3> streams{in.read.Get(), out.write.Get(), err.write.Get()};
  pid_t pid = -1;
  const int failure = command.dieWithParent ? ForkExec(command, streams, argv.data(), &pid)
                                            : SpawnExec(command, streams, argv.data(), &pid);
  ProcChild child(pid > 0 ? pid : -1, command.ownGroup);
  if (failure != 0) {
    *error = ProcErrnoText("cannot start " + name, failure);
    (void)ProcStop(&child, 0);
    return ProcStatus::kFailed;
  }
  // Both sides set the group, so that a signal to the group right after
  // the start cannot miss the child.
  if (command.ownGroup) setpgid(pid, pid);
  running->child = std::move(child);
  running->toStdin = std::move(in.write);
  running->fromStdout = std::move(out.read);
  running->fromStderr = std::move(err.read);
  return ProcStatus::kOk;
}

ProcStatus ProcWait(ProcChild* child, int timeoutMs, int* waitStatus) {
  if (child->Pid() <= 0) return ProcStatus::kFailed;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    int status = 0;
    const pid_t reaped = waitpid(child->Pid(), &status, timeoutMs < 0 ? 0 : WNOHANG);
    if (reaped == child->Pid()) {
      child->Release();
      *waitStatus = status;
      return ProcStatus::kOk;
    }
    if (reaped < 0 && errno != EINTR) {
      child->Release();  // not ours to wait for (any more)
      return ProcStatus::kFailed;
    }
    if (reaped == 0) {
      const int left = MsLeft(deadline);
      if (left == 0) return ProcStatus::kTimeout;
      SleepMs(left < 5 ? left : 5);
    }
  }
}

int ProcExitCode(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

void ProcSignal(const ProcChild& child, int signal) {
  if (child.Pid() <= 0) return;
  if (child.LeadsGroup()) kill(-child.Pid(), signal);
  kill(child.Pid(), signal);
}

int ProcStop(ProcChild* child, int graceMs) {
  if (child->Pid() <= 0) return -1;
  ProcSignal(*child, SIGTERM);
  // Watch for its end without reaping it: while the ended leader is not
  // reaped its group id cannot be reused, so the group kill below cannot
  // reach anyone else.
  const pid_t pid = child->Pid();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(graceMs);
  while (true) {
    siginfo_t info{};
    const int result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 || info.si_pid == pid) break;
    const int left = MsLeft(deadline);
    if (left == 0) break;
    SleepMs(left < 5 ? left : 5);
  }
  ProcSignal(*child, SIGKILL);
  int status = 0;
  return ProcWait(child, -1, &status) == ProcStatus::kOk ? ProcExitCode(status) : -1;
}
