// Test helper running a process with piped standard streams (see child_pipes.h).
#include "tests/plugin/child_pipes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "plugin/framing.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// Reads whatever is ready on stdout and stderr within `wait`; false when
// both streams have ended.
bool Pump(ChildPipes* child, std::chrono::milliseconds wait) {
  pollfd fds[2];
  std::string* sinks[2];
  int* owners[2];
  nfds_t count = 0;
  if (child->output >= 0) {
    fds[count] = {child->output, POLLIN, 0};
    sinks[count] = &child->outputText;
    owners[count++] = &child->output;
  }
  if (child->error >= 0) {
    fds[count] = {child->error, POLLIN, 0};
    sinks[count] = &child->errorText;
    owners[count++] = &child->error;
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
      CloseFd(owners[index]);
    }
  }
  return true;
}

}  // namespace

bool ChildPipesStart(const std::string& path, const std::vector<std::string>& arguments,
                     ChildPipes* child) {
  // A child that ended must show as a failed write, not end the test.
  signal(SIGPIPE, SIG_IGN);
  int in[2];
  int out[2];
  int err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return false;
  }
  std::vector<std::string> words{path};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  const int failed =
      posix_spawn(&child->pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  child->input = in[1];
  child->output = out[0];
  child->error = err[0];
  if (failed != 0) {
    CloseFd(&child->input);
    CloseFd(&child->output);
    CloseFd(&child->error);
    return false;
  }
  return true;
}

bool ChildPipesSend(ChildPipes* child, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t count = write(child->input, text.data() + sent, text.size() - sent);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    sent += static_cast<std::size_t>(count);
  }
  return true;
}

void ChildPipesCloseInput(ChildPipes* child) {
  CloseFd(&child->input);
}

void ChildPipesCloseOutput(ChildPipes* child) {
  CloseFd(&child->output);
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
    if (Clock::now() >= deadline || child->output < 0) return false;
    Pump(child, std::chrono::milliseconds(50));
  }
}

int ChildPipesFinish(ChildPipes* child, bool keepInput, std::chrono::milliseconds timeout) {
  if (!keepInput) CloseFd(&child->input);
  const Clock::time_point deadline = Clock::now() + timeout;
  int status = 0;
  bool ended = false;
  while (Clock::now() < deadline) {
    const bool open = Pump(child, std::chrono::milliseconds(50));
    if (!ended) ended = waitpid(child->pid, &status, WNOHANG) == child->pid;
    if (ended && !open) break;
  }
  if (!ended) {
    kill(child->pid, SIGKILL);
    waitpid(child->pid, &status, 0);
    status = -1;
  }
  CloseFd(&child->input);
  CloseFd(&child->output);
  CloseFd(&child->error);
  if (status == -1 || !WIFEXITED(status)) return -1;
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
