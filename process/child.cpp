// Starting, waiting for and stopping child processes (see child.h).
#include "process/child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string_view>

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

// The files exec tries, in order: argv[0] itself, or each PATH entry joined
// with it. Made before fork, since the child may not allocate.
std::vector<std::string> Candidates(const ProcCommand& command) {
  const std::string& name = command.argv[0];
  if (!command.searchPath || name.find('/') != std::string::npos) return {name};
  const char* path = std::getenv("PATH");
  const std::string_view dirs = path != nullptr ? path : "/bin:/usr/bin";
  std::vector<std::string> files;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string_view::npos) end = dirs.size();
    const std::string_view dir = dirs.substr(start, end - start);
    files.push_back((dir.empty() ? std::string(".") : std::string(dir)) + "/" + name);
    start = end + 1;
  }
  return files;
}

// Tells the parent why the child could not become the program, then ends.
[[noreturn]] void ChildFail(int report, int errorNumber) {
  while (write(report, &errorNumber, sizeof errorNumber) < 0 && errno == EINTR) {
  }
  _exit(127);
}

// The child between fork and exec: async-signal-safe calls only.
// `streams` holds, per standard stream, the descriptor to put there or -1.
[[noreturn]] void ChildExec(const ProcCommand& command, pid_t parent, std::array<int, 3> streams,
                            int report, char* const* argv, const std::vector<std::string>& files) {
  if (command.ownGroup) setpgid(0, 0);
#if defined(__linux__)
  if (command.dieWithParent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
  }
#else
  (void)parent;
#endif
  struct sigaction deflt {};
  deflt.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &deflt, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Any of our descriptors may itself be 0, 1 or 2 when we run without
  // standard streams: move those above 2 first, so no dup2 below overwrites
  // another; dup2 then leaves the targets open across exec.
  if (report <= 2) report = fcntl(report, F_DUPFD_CLOEXEC, 3);
  if (report < 0) _exit(127);
  for (int& fd : streams) {
    if (fd < 0 || fd > 2) continue;
    fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) ChildFail(report, errno);
  }
  for (int target = 0; target < 3; ++target) {
    const int fd = streams[static_cast<std::size_t>(target)];
    if (fd >= 0 && dup2(fd, target) < 0) ChildFail(report, errno);
  }
  // Like execvp: a file found but not executable is reported over a later
  // miss.
  int failure = ENOENT;
  for (const std::string& file : files) {
    execv(file.c_str(), argv);
    if (failure != EACCES) failure = errno;
  }
  ChildFail(report, failure);
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
  ProcPipe report;
  if ((command.pipeStdin && ProcMakePipe(&in, error) != ProcStatus::kOk) ||
      (command.pipeStdout && ProcMakePipe(&out, error) != ProcStatus::kOk) ||
      (command.pipeStderr && ProcMakePipe(&err, error) != ProcStatus::kOk) ||
      ProcMakePipe(&report, error) != ProcStatus::kOk) {
    return ProcStatus::kFailed;
  }
  // Everything the child needs is made before fork.
  const std::vector<std::string> files = Candidates(command);
  std::vector<std::string> words = command.argv;
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string& name = command.argv[0];
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    *error = ProcErrnoText("cannot start " + name, errno);
    return ProcStatus::kFailed;
  }
  if (pid == 0) {
    ChildExec(command, parent, {in.read.Get(), out.write.Get(), err.write.Get()},
              report.write.Get(), argv.data(), files);
  }
  // Both sides set the group, so that a signal to the group right after
  // fork cannot miss the child.
  if (command.ownGroup) setpgid(pid, pid);
  ProcChild child(pid, command.ownGroup);
  in.read.Reset();
  out.write.Reset();
  err.write.Reset();
  report.write.Reset();
  // The report pipe closes on exec: no bytes mean the program runs.
  int failure = 0;
  ssize_t got = -1;
  do {
    got = read(report.read.Get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  if (got != 0) {
    *error = ProcErrnoText("cannot start " + name, got == sizeof failure ? failure : errno);
    (void)ProcStop(&child, 0);
    return ProcStatus::kFailed;
  }
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
