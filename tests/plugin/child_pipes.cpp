// Test helper running a process with piped standard streams (see child_pipes.h).
#include "tests/plugin/child_pipes.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "plugin/framing.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reads whatever is ready on stdout and stderr within `wait`; false when
// both streams have ended.
bool Pump(ChildPipes* child, std::chrono::milliseconds wait) {
  pollfd fds[2];
  std::string* sinks[2];
  ProcFd* owners[2];
  nfds_t count = 0;
  if (child->running.fromStdout.Valid()) {
    fds[count] = {child->running.fromStdout.Get(), POLLIN, 0};
    sinks[count] = &child->outputText;
    owners[count++] = &child->running.fromStdout;
  }
  if (child->running.fromStderr.Valid()) {
    fds[count] = {child->running.fromStderr.Get(), POLLIN, 0};
    sinks[count] = &child->errorText;
    owners[count++] = &child->running.fromStderr;
  }
  if (count == 0) return false;
  if (poll(fds, count, static_cast<int>(wait.count())) <= 0) return true;
  for (nfds_t index = 0; index < count; ++index) {
    if (fds[index].revents == 0) continue;
    char chunk[65536];
    const ssize_t got = read(fds[index].fd, chunk, sizeof(chunk));
    if (got > 0) {
      sinks[index]->append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      owners[index]->Reset();
    }
  }
  return true;
}

}  // namespace

bool ChildPipesStart(const std::string& path, const std::vector<std::string>& arguments,
                     ChildPipes* child) {
  // A child that ended must show as a failed write, not end the test.
  signal(SIGPIPE, SIG_IGN);
  ProcCommand command;
  command.argv.push_back(path);
  command.argv.insert(command.argv.end(), arguments.begin(), arguments.end());
  command.pipeStderr = true;
  std::string error;
  return ProcStart(command, &child->running, &error) == ProcStatus::kOk;
}

bool ChildPipesSend(ChildPipes* child, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t count =
        write(child->running.toStdin.Get(), text.data() + sent, text.size() - sent);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    sent += static_cast<std::size_t>(count);
  }
  return true;
}

void ChildPipesCloseInput(ChildPipes* child) {
  child->running.toStdin.Reset();
}

void ChildPipesCloseOutput(ChildPipes* child) {
  child->running.fromStdout.Reset();
}

bool ChildPipesReceive(ChildPipes* child, std::string* message, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    std::string& text = child->outputText;
    text.erase(0, OsaCountLeadingBlanks(text.data(), text.size()));
    std::size_t end = 0;
    if (OsaFrameFirstObject(text.data(), text.size(), &end)) {
      *message = text.substr(0, end);
      text.erase(0, end);
      return true;
    }
    if (Clock::now() >= deadline || !child->running.fromStdout.Valid()) return false;
    Pump(child, std::chrono::milliseconds(50));
  }
}

int ChildPipesFinish(ChildPipes* child, bool keepInput, std::chrono::milliseconds timeout) {
  if (!keepInput) child->running.toStdin.Reset();
  const Clock::time_point deadline = Clock::now() + timeout;
  int status = 0;
  bool ended = false;
  while (Clock::now() < deadline) {
    const bool open = Pump(child, std::chrono::milliseconds(50));
    if (!ended) ended = ProcWait(&child->running.child, 0, &status) == ProcStatus::kOk;
    if (ended && !open) break;
  }
  child->running = ProcRunning();  // a child still there is stopped here
  if (!ended || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int ChildPipesRun(const std::string& path, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& input, std::string* output, std::string* error) {
  ChildPipes child;
  if (!ChildPipesStart(path, arguments, &child)) return -2;
  for (std::size_t index = 0; index < input.size(); ++index) {
    if (index > 0) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (!ChildPipesSend(&child, input[index])) break;
  }
  const int code = ChildPipesFinish(&child);
  *output = child.outputText;
  *error = child.errorText;
  return code;
}
