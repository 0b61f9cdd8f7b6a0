// The process entry of the plug-in: the choice between live mode and
// playback mode, the exit codes, and the large stack that nested waits need.
#pragma once

#include <cstddef>
#include <cstdint>

// Stack of the thread that runs the process: every nested wait holds a
// 64 KiB receive buffer, and the main thread has only a few MiB.
inline constexpr std::size_t kOsaProcessStackSize = std::size_t{64} << 20;

// Reads the command line and runs the mode it asks for; returns the process
// exit code. Records how the process ends on "OSA__Info".
std::int32_t OsaProcessEntry(int argc, const char* const* argv);

// Runs body(argument) on a new thread with a kOsaProcessStackSize stack and
// waits for it. False, without running it, when no such thread can be made.
[[nodiscard]] bool OsaRunOnLargeStack(void (*body)(void* argument), void* argument);
