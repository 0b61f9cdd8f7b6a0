// Starting and reaping the recorded command (see child_process.h).
#include "recorder/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

bool ChildStart(char* const* argv, ChildProcess* child) {
  int toChild[2];
  int fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) return false;
  if (pipe2(fromChild, O_CLOEXEC) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  if (error != 0) {
    close(toChild[1]);
    close(fromChild[0]);
    errno = error;
    return false;
  }
  child->pid = pid;
  child->input = toChild[1];
  child->output = fromChild[0];
  return true;
}

int ChildWait(ChildProcess* child) {
  int status = 0;
  pid_t reaped = -1;
  do {
    reaped = waitpid(child->pid, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  child->pid = -1;
  if (reaped < 0) return 127;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 127;
}
