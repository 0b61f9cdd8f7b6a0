// Test helper: the far end of a socketpair played by a script in a thread
// (a fake gdbserver or a fake GDB), reading and writing raw protocol bytes.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "rsp/link.h"

struct FakePeer {
  int fd = -1;
  std::thread thread;
};

// Makes a socketpair: *link gets one end, the script runs on the other in
// a thread. The peer's end closes when the script returns.
void FakePeerStart(std::function<void(int fd)> script, RspLink* link, FakePeer* peer);

// Waits for the script to end.
void FakePeerJoin(FakePeer* peer);

// Writes all of `bytes`.
void PeerSend(int fd, const std::string& bytes);

// The next byte, or -1 when nothing came within timeoutMs or the end came.
int PeerReadByte(int fd, int timeoutMs = 5000);

// Reads up to the next whole packet and returns its body as sent (escaped),
// or "<none>" when no packet came in time. Bytes before its `$` are
// appended to *before when given (acks, 0x03).
std::string PeerReadPacket(int fd, std::string* before = nullptr, int timeoutMs = 5000);

// The frame of `body` exactly as given (no escaping) with its checksum.
std::string PeerFrame(const std::string& body);
