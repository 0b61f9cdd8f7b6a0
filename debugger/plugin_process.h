// The plug-in as a child process: started with pipes on its standard input
// and output, whole messages written to and read from it with the plug-in's
// own brace-balance framing, every wait bounded by a timeout so that a
// broken plug-in cannot hang the debugger.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "process/child.h"
#include "simple_json/json_value.h"

// An unfinished message larger than this ends the conversation, so a peer
// that never closes its braces cannot exhaust memory.
inline constexpr std::size_t kDbgMaxMessageBytes = std::size_t{16} << 20;

// The child and our ends of its pipes (both non-blocking); destroying the
// record closes them and stops (ProcStop) and reaps a child that still runs.
struct DbgPluginProcess {
  ProcRunning running;  // toStdin and fromStdout; standard error is ours
  // The read buffer: bytes received fill it up to `filled`; those before
  // `taken` were handed out already and are dropped only when the next read
  // needs their room, so taking a message moves nothing. Past `filled` is
  // room for reads.
  std::string pending;
  std::size_t taken = 0;
  std::size_t filled = 0;
};

enum class DbgIoStatus : unsigned char {
  kOk,
  kTimeout,  // nothing (or not all) went through within the timeout
  kClosed,   // the child closed its end
  kGarbage,  // the child wrote bytes that cannot begin a message, or too many
  kFailed,   // a system call failed
};

// A short English description of a status ("timed out", ...).
const char* DbgIoStatusText(DbgIoStatus status);

// Starts `path` with `arguments` (argv[1] on); its standard error is ours.
// False with a reason in *error when the pipes or the child cannot be made.
[[nodiscard]] bool DbgPluginStart(const std::string& path,
                                  const std::vector<std::string>& arguments,
                                  DbgPluginProcess* process, std::string* error);

// Writes all of `message`. Bytes the child writes meanwhile are kept for
// the next receive, so neither side can block the other. A closed pipe gives
// kClosed, never a signal.
[[nodiscard]] DbgIoStatus DbgPluginSend(DbgPluginProcess* process, std::string_view message,
                                        std::chrono::milliseconds timeout);

// Waits for the next whole message and moves its text (without the blanks
// around it) into *message; bytes after it stay pending.
[[nodiscard]] DbgIoStatus DbgPluginReceive(DbgPluginProcess* process, std::string* message,
                                           std::chrono::milliseconds timeout);

// The same, lending the message's text instead of copying it: the view stays
// valid until the next call on the process.
[[nodiscard]] DbgIoStatus DbgPluginReceiveView(DbgPluginProcess* process, std::string_view* message,
                                               std::chrono::milliseconds timeout);

// The same, also handing over the message's parse (null when the text is
// not JSON), taken on the way where that saves a pass over the text.
[[nodiscard]] DbgIoStatus DbgPluginReceiveParsed(DbgPluginProcess* process,
                                                 std::string_view* message, JsonPtr* tree,
                                                 std::chrono::milliseconds timeout);

// Closes the child's input and waits for it to end within `timeout`, then
// kills it. Returns its exit code, 128 plus the signal that ended it, or -1
// when there was no child.
int DbgPluginFinish(DbgPluginProcess* process, std::chrono::milliseconds timeout);
