// Test helper: a scripted peer on a socketpair (see fake_peer.h).
#include "tests/rsp/fake_peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "rsp/packet.h"

void FakePeerStart(std::function<void(int fd)> script, RspLink* link, FakePeer* peer) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  std::string error;
  ASSERT_EQ(RspLinkFromFds(pair[0], pair[0], true, "fake peer", link, &error), RspStatus::kOk);
  peer->fd = pair[1];
  peer->thread = std::thread([script = std::move(script), fd = pair[1]] {
    script(fd);
    close(fd);
  });
}

void FakePeerJoin(FakePeer* peer) {
  if (peer->thread.joinable()) peer->thread.join();
}

void PeerSend(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    done += static_cast<std::size_t>(count);
  }
}

int PeerReadByte(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  if (poll(&entry, 1, timeoutMs) <= 0) return -1;
  unsigned char byte = 0;
  if (read(fd, &byte, 1) != 1) return -1;
  return byte;
}

std::string PeerReadPacket(int fd, std::string* before, int timeoutMs) {
  int c = -1;
  while ((c = PeerReadByte(fd, timeoutMs)) != '$') {
    if (c < 0) return "<none>";
    if (before != nullptr) before->push_back(static_cast<char>(c));
  }
  std::string body;
  while ((c = PeerReadByte(fd, timeoutMs)) != '#') {
    if (c < 0) return "<none>";
    body.push_back(static_cast<char>(c));
  }
  for (int i = 0; i < 2; ++i) {
    if (PeerReadByte(fd, timeoutMs) < 0) return "<none>";
  }
  return body;
}

std::string PeerFrame(const std::string& body) {
  static const char kDigits[] = "0123456789abcdef";
  const std::uint8_t sum = RspChecksum(body);
  return "$" + body + "#" + kDigits[sum >> 4] + kDigits[sum & 0xF];
}
