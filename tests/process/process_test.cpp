// Tests of the descriptor owners and child processes: exit codes, programs
// that cannot start, the child's streams and inherited state, waits with a
// timeout and stops.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "process/child.h"

namespace {

// Everything the child wrote on `fd` until it closed it.
std::string ReadAll(const ProcFd& fd) {
  std::string text;
  char chunk[4096];
  ssize_t got = 0;
  while ((got = read(fd.Get(), chunk, sizeof chunk)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

// True when this process has no child left, not even a zombie.
bool NoChildLeft() {
  return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

ProcCommand Shell(const std::string& script) {
  ProcCommand command;
  command.argv = {"/bin/sh", "-c", script};
  return command;
}

TEST(ProcChild, ExitCodesAndSignals) {
  const struct {
    const char* script;
    int code;
  } rows[] = {{"exit 0", 0}, {"exit 7", 7}, {"kill -9 $$", 128 + SIGKILL}};
  for (const auto& row : rows) {
    ProcRunning running;
    std::string error;
    ASSERT_EQ(ProcStart(Shell(row.script), &running, &error), ProcStatus::kOk) << error;
    int status = 0;
    ASSERT_EQ(ProcWait(&running.child, -1, &status), ProcStatus::kOk) << row.script;
    EXPECT_EQ(ProcExitCode(status), row.code) << row.script;
    EXPECT_EQ(running.child.Pid(), -1) << "a reaped child is no longer owned";
  }
  EXPECT_TRUE(NoChildLeft());
}

TEST(ProcChild, ProgramsThatCannotStartFailAndLeaveNothing) {
  const std::string notExecutable = std::string(OSA_SOURCE_DIR) + "/CMakeLists.txt";
  const struct {
    std::string program;
    bool searchPath;
    bool dieWithParent;  // started by fork, the failure reported back over a pipe
    std::string error;
  } rows[] = {
      {"/nonexistent/program", false, false,
       "cannot start /nonexistent/program: No such file or directory"},
      {"/nonexistent/program", false, true,
       "cannot start /nonexistent/program: No such file or directory"},
      {"osa-no-such-program", true, false,
       "cannot start osa-no-such-program: No such file or directory"},
      {notExecutable, false, false, "cannot start " + notExecutable + ": Permission denied"},
      {notExecutable, false, true, "cannot start " + notExecutable + ": Permission denied"},
      {"", false, false, "cannot start a command without a program"},
  };
  for (const auto& row : rows) {
    ProcCommand command;
    command.argv = {row.program};
    command.searchPath = row.searchPath;
    command.dieWithParent = row.dieWithParent;
    ProcRunning running;
    std::string error;
    EXPECT_EQ(ProcStart(command, &running, &error), ProcStatus::kFailed) << row.program;
    EXPECT_EQ(error, row.error);
    EXPECT_FALSE(running.toStdin.Valid());
    EXPECT_TRUE(NoChildLeft()) << row.program;
  }
}

void ExpectOnlyItsStreams(bool dieWithParent) {
  ProcPipe unrelated;
  std::string error;
  ASSERT_EQ(ProcMakePipe(&unrelated, &error), ProcStatus::kOk);
  const sighandler_t previous = signal(SIGPIPE, SIG_IGN);
  ProcCommand command =
      Shell("read line; echo \"out $line\"; echo err >&2; for fd in 0 1 2 " +
            std::to_string(unrelated.read.Get()) + " " + std::to_string(unrelated.write.Get()) +
            "; do [ -e /proc/$$/fd/$fd ] && echo open $fd; done; grep SigIgn /proc/$$/status");
  command.pipeStderr = true;
  command.dieWithParent = dieWithParent;
  ProcRunning running;
  ASSERT_EQ(ProcStart(command, &running, &error), ProcStatus::kOk) << error;
  signal(SIGPIPE, previous);
  ASSERT_EQ(write(running.toStdin.Get(), "in\n", 3), 3);
  running.toStdin.Reset();
  const std::string out = ReadAll(running.fromStdout);
  const std::string streams = "out in\nopen 0\nopen 1\nopen 2\nSigIgn:\t";
  ASSERT_EQ(out.substr(0, streams.size()), streams);
  // The C library may leave its own internal signals ignored.
  const unsigned long long ignored = std::stoull(out.substr(streams.size()), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << out;
  EXPECT_EQ(ReadAll(running.fromStderr), "err\n");
  EXPECT_EQ(running.child.Stop(), 0);
}

// The child gets its three streams the right way round, none of our other
// descriptors, and the default SIGPIPE action even when we ignore it; by
// posix_spawn and by fork alike.
TEST(ProcChild, ChildSeesItsStreamsOnly) {
  for (const bool dieWithParent : {false, true}) {
    SCOPED_TRACE(dieWithParent ? "fork" : "posix_spawn");
    ExpectOnlyItsStreams(dieWithParent);
  }
}

TEST(ProcChild, WaitTimesOutAndStopEndsTheChild) {
  ProcRunning running;
  std::string error;
  ASSERT_EQ(ProcStart(Shell("exec sleep 30"), &running, &error), ProcStatus::kOk) << error;
  int status = 0;
  EXPECT_EQ(ProcWait(&running.child, 0, &status), ProcStatus::kTimeout);
  EXPECT_EQ(ProcWait(&running.child, 50, &status), ProcStatus::kTimeout);
  EXPECT_EQ(ProcStop(&running.child, kProcStopGraceMs), 128 + SIGTERM);
  EXPECT_EQ(ProcStop(&running.child, kProcStopGraceMs), -1);
  EXPECT_EQ(ProcWait(&running.child, 0, &status), ProcStatus::kFailed);
  EXPECT_TRUE(NoChildLeft());
}

TEST(ProcChild, DestructionKillsAChildThatIgnoresTerm) {
  {
    ProcRunning running;
    std::string error;
    ASSERT_EQ(ProcStart(Shell("trap '' TERM; echo ready; exec sleep 30"), &running, &error),
              ProcStatus::kOk);
    char ready[6];
    ASSERT_EQ(read(running.fromStdout.Get(), ready, sizeof ready), 6);
  }
  EXPECT_TRUE(NoChildLeft());
}

TEST(ProcFd, OwnsAndMoves) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ProcFd a(fds[0]);
  ProcFd b(std::move(a));
  EXPECT_FALSE(a.Valid());
  EXPECT_EQ(b.Get(), fds[0]);
  b = ProcFd(fds[1]);
  EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);  // closed by the move-assignment
  const int raw = b.Release();
  EXPECT_FALSE(b.Valid());
  EXPECT_EQ(close(raw), 0);
}

}  // namespace
