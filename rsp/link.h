// Byte links of the gdb-remote layer: our standard input and output, TCP on
// 127.0.0.1, outgoing TCP connections, and commands started through /bin/sh
// with their stdio.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "process/child.h"

// How an operation on a link (or a packet exchange over one) ended.
enum class RspStatus {
  kOk,
  kTimeout,   // nothing (or not enough) arrived in time
  kClosed,    // the peer closed its end
  kIoError,   // a system call failed (the reason names errno)
  kProtocol,  // the peer broke the protocol (garbage, repeated bad packets)
};

// "ok", "timeout", "closed", "I/O error", "protocol error".
[[nodiscard]] std::string_view RspStatusText(RspStatus status);

// A two-way byte link. For a socket both descriptors refer to it (one is a
// duplicate); for a child, `input` reads its stdout and `output` writes its
// stdin. Descriptors close before the child is stopped, so a child that
// ends on end of input gets the chance to.
struct RspLink {
  ProcChild child;      // the process at the other end, when we started it
  ProcFd input;         // read side
  ProcFd output;        // write side
  bool socket = false;  // writes use send(MSG_NOSIGNAL)
  std::string name;     // "stdio", "127.0.0.1:1234", "command": for messages
};

// A listening socket on 127.0.0.1; `port` is the port actually bound.
struct RspListener {
  ProcFd fd;
  std::uint16_t port = 0;
};

// Ignores SIGPIPE for the whole process (once), so that a write to a peer
// that went away fails with EPIPE instead of ending us. The link openers
// below call it; children get the default disposition back.
void RspIgnoreSigpipe();

// Takes ownership of two descriptors (may be equal: then one is duplicated)
// as a link. For tests over pipes and socketpairs, and for callers that
// made their own descriptors.
[[nodiscard]] RspStatus RspLinkFromFds(int input, int output, bool socket, std::string_view name,
                                       RspLink* link, std::string* error);

// Our standard input and output as one link (duplicates of 0 and 1 are
// owned, so closing the link leaves fds 0 and 1 alone).
[[nodiscard]] RspStatus RspOpenStdio(RspLink* link, std::string* error);

// Listens on 127.0.0.1:port (0 picks a free port; listener->port tells).
[[nodiscard]] RspStatus RspListen(std::uint16_t port, RspListener* listener, std::string* error);

// Accepts one connection; timeoutMs < 0 waits for ever. kTimeout when none
// came in time.
[[nodiscard]] RspStatus RspAccept(RspListener* listener, int timeoutMs, RspLink* link,
                                  std::string* error);

// Connects to "HOST:PORT" (a name or an address; "[v6]:PORT" too) within
// timeoutMs (< 0: the system's own limit).
[[nodiscard]] RspStatus RspConnect(std::string_view hostPort, int timeoutMs, RspLink* link,
                                   std::string* error);

// Starts `/bin/sh -c COMMAND` in a process group of its own, with its stdin
// and stdout as the link and its stderr left as ours. On Linux the child
// gets SIGKILL if we die first. Destroying the link stops the whole group:
// SIGTERM, then SIGKILL once the shell has ended or after half a second.
[[nodiscard]] RspStatus RspStartCommand(std::string_view command, RspLink* link,
                                        std::string* error);

// Reads what is available, at most `size` bytes, waiting up to timeoutMs
// (< 0: for ever, 0: no wait) for the first byte. kOk with *got > 0; kClosed
// at end of input; kTimeout; kIoError with errno in *error. EINTR is retried.
[[nodiscard]] RspStatus RspRead(RspLink* link, int timeoutMs, char* buffer, std::size_t size,
                                std::size_t* got, std::string* error);

// Writes all of `bytes`, waiting up to timeoutMs (< 0: for ever) for room
// each time the peer's buffer is full. kClosed when the peer went away (EPIPE,
// ECONNRESET); kTimeout leaves part of the bytes sent.
[[nodiscard]] RspStatus RspWriteAll(RspLink* link, std::string_view bytes, int timeoutMs,
                                    std::string* error);

// Milliseconds left until `deadline` for a wait of `timeoutMs`: -1 (for ever)
// when timeoutMs is negative, 0 once the deadline has passed.
[[nodiscard]] int RspRemainingMs(std::chrono::steady_clock::time_point deadline, int timeoutMs);

// Waits until one of `count` descriptors is readable, closed or failed;
// *ready is its index (the first such one). kTimeout when none is within
// timeoutMs (< 0: for ever).
[[nodiscard]] RspStatus RspWaitReadable(const int* fds, std::size_t count, int timeoutMs,
                                        std::size_t* ready, std::string* error);
