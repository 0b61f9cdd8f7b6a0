// Child processes of the tools: one start sequence (pipes, fork, the child's
// standard streams, exec) and one stop sequence (terminate, kill, reap), so
// that every descriptor closes on every path and no child outlives its
// owner or stays a zombie.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "process/fd.h"

// How long a stopped child gets between SIGTERM and SIGKILL; the wait ends
// as soon as the child has ended.
inline constexpr int kProcStopGraceMs = 500;

// What to start and how.
struct ProcCommand {
  std::vector<std::string> argv;  // argv[0] names the program
  bool searchPath = false;        // look argv[0] up on PATH when it holds no '/'
  bool ownGroup = false;          // the child leads a new process group; signals reach it all
  // The child gets SIGKILL when we end first (Linux). Started by fork
  // instead of posix_spawn, which copies our page tables: argv[0] must
  // then be a path, searchPath is not looked at.
  bool dieWithParent = false;
  bool pipeStdin = true;  // otherwise the stream is ours, shared
  bool pipeStdout = true;
  bool pipeStderr = false;
};

// Owns a started child; destruction stops it (ProcStop with
// kProcStopGraceMs) and reaps it. Move-only.
class ProcChild {
 public:
  ProcChild() = default;
  ProcChild(pid_t pid, bool group) : pid_(pid), group_(group) {}
  ~ProcChild() { Stop(); }
  ProcChild(ProcChild&& other) noexcept : pid_(other.Release()), group_(other.group_) {}
  ProcChild& operator=(ProcChild&& other) noexcept;
  ProcChild(const ProcChild&) = delete;
  ProcChild& operator=(const ProcChild&) = delete;

  [[nodiscard]] pid_t Pid() const { return pid_; }
  [[nodiscard]] bool LeadsGroup() const { return group_; }
  // ProcStop with kProcStopGraceMs: the exit code, 128 plus the signal that
  // ended the child, or -1 when there is none.
  int Stop();
  // Gives up the child without stopping it (after it was reaped).
  pid_t Release();

 private:
  pid_t pid_ = -1;
  bool group_ = false;
};

// A started child with our ends of its piped streams (not Valid when a
// stream is not piped). Members are destroyed bottom up: the pipes close
// first, so a child that ends at the end of its input gets the chance to.
struct ProcRunning {
  ProcChild child;
  ProcFd toStdin;     // write end of the child's standard input
  ProcFd fromStdout;  // read end of its standard output
  ProcFd fromStderr;  // read end of its standard error
};

// Starts command.argv with the default SIGPIPE action, no signal blocked,
// and none of our descriptors that close on exec (all of ours do). Our pipe
// ends are blocking. A program that cannot be run fails here, with the reason in
// *error ("cannot start PROGRAM: No such file or directory"), and leaves
// nothing behind.
[[nodiscard]] ProcStatus ProcStart(const ProcCommand& command, ProcRunning* running,
                                   std::string* error);

// Waits up to timeoutMs (< 0: for ever, 0: only looks) for the child to end,
// then reaps it (the owner is then empty) and stores the wait status.
// kTimeout while it still runs; kFailed when there is no child to wait for.
// EINTR is retried.
[[nodiscard]] ProcStatus ProcWait(ProcChild* child, int timeoutMs, int* waitStatus);

// The exit code in a wait status, or 128 plus the signal that ended the
// child; -1 for anything else.
[[nodiscard]] int ProcExitCode(int waitStatus);

// Sends `signal` to the child, and to its whole group when it leads one.
void ProcSignal(const ProcChild& child, int signal);

// SIGTERM, up to graceMs for the child to end, SIGKILL (to the group too when
// the child leads one, which also ends what a shell started), then reaps it.
// The exit code, 128 plus the signal, or -1 when there was no child.
int ProcStop(ProcChild* child, int graceMs);
