// Starting the recorded command with pipes on its standard input and
// output, and collecting its exit code.
#pragma once

#include <sys/types.h>

struct ChildProcess {
  pid_t pid = -1;
  int input = -1;   // write end: the child's standard input
  int output = -1;  // read end: the child's standard output
};

// Starts argv[0] (searched on PATH) with argv; standard error is shared.
// False, with errno set, when the pipes or the process cannot be made.
[[nodiscard]] bool ChildStart(char* const* argv, ChildProcess* child);

// Waits for the child to end; its exit code, or 128 plus the signal number
// that ended it.
int ChildWait(ChildProcess* child);
