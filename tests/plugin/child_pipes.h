// Test helper: runs an executable with pipes on its three standard streams,
// so a test can play the debugger and collect what the process wrote.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "process/child.h"

struct ChildPipes {
  ProcRunning running;     // the child and our ends of its three streams
  std::string outputText;  // stdout received so far
  std::string errorText;   // stderr received so far
};

// Starts `path` with `arguments` (argv[1] on). False when it cannot start.
bool ChildPipesStart(const std::string& path, const std::vector<std::string>& arguments,
                     ChildPipes* child);

// Writes all of `text` to the child's stdin.
bool ChildPipesSend(ChildPipes* child, const std::string& text);

// Closes the child's stdin (an end of input) or stdout (a debugger gone).
void ChildPipesCloseInput(ChildPipes* child);
void ChildPipesCloseOutput(ChildPipes* child);

// Reads stdout until it holds a whole message (blanks before it dropped) and
// takes that message out of outputText. False after `timeout` or at the end.
bool ChildPipesReceive(ChildPipes* child, std::string* message,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Closes stdin unless `keepInput`, reads both streams to their end and
// returns the exit code (-1 for a signal or a child that did not end within
// `timeout`: it is then killed).
int ChildPipesFinish(ChildPipes* child, bool keepInput = false,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Runs a child to its end with `input` (sent in pieces, with a pause between
// them so each piece arrives in its own read) and returns the exit code.
int ChildPipesRun(const std::string& path, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& input, std::string* output, std::string* error);
