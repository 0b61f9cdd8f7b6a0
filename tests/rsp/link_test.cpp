// Tests of the byte links: pipes and socketpairs, TCP on 127.0.0.1, a child
// started by command (an echo through cat), closed peers, timeouts, and
// children that leave nothing behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "rsp/link.h"

namespace {

RspLink PipeLink(int* peerWrite, int* peerRead) {
  int toLink[2];
  int fromLink[2];
  EXPECT_EQ(pipe2(toLink, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(fromLink, O_CLOEXEC), 0);
  RspLink link;
  std::string error;
  EXPECT_EQ(RspLinkFromFds(toLink[0], fromLink[1], false, "pipes", &link, &error), RspStatus::kOk);
  *peerWrite = toLink[1];
  *peerRead = fromLink[0];
  return link;
}

RspLink SocketLink(int* peer) {
  int pair[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  RspLink link;
  std::string error;
  EXPECT_EQ(RspLinkFromFds(pair[0], pair[0], true, "socket", &link, &error), RspStatus::kOk);
  *peer = pair[1];
  return link;
}

// Reads from the link until `want` bytes came or it fails.
std::string ReadSome(RspLink* link, std::size_t want, int timeoutMs = 5000) {
  std::string text;
  char buffer[4096];
  while (text.size() < want) {
    std::size_t got = 0;
    std::string error;
    if (RspRead(link, timeoutMs, buffer, sizeof buffer, &got, &error) != RspStatus::kOk) break;
    text.append(buffer, got);
  }
  return text;
}

// A process that ended and was reaped, or is a zombie left to init.
bool ProcessGone(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) return true;
    std::string line;
    std::getline(stat, line);
    const std::size_t paren = line.rfind(')');
    if (paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z') {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(RspLink, PipesCarryBytesBothWaysAndReportTheEnd) {
  int peerWrite = -1;
  int peerRead = -1;
  RspLink link = PipeLink(&peerWrite, &peerRead);
  std::string error;
  ASSERT_EQ(RspWriteAll(&link, "$OK#9a", 1000, &error), RspStatus::kOk);
  char buffer[16];
  ASSERT_EQ(read(peerRead, buffer, sizeof buffer), 6);
  std::size_t got = 0;
  EXPECT_EQ(RspRead(&link, 20, buffer, sizeof buffer, &got, &error), RspStatus::kTimeout);
  EXPECT_EQ(RspRead(&link, 0, buffer, sizeof buffer, &got, &error), RspStatus::kTimeout);
  ASSERT_EQ(write(peerWrite, "+", 1), 1);
  ASSERT_EQ(RspRead(&link, 1000, buffer, sizeof buffer, &got, &error), RspStatus::kOk);
  EXPECT_EQ(got, 1u);
  close(peerWrite);
  EXPECT_EQ(RspRead(&link, 1000, buffer, sizeof buffer, &got, &error), RspStatus::kClosed);
  EXPECT_NE(error.find("closed"), std::string::npos) << error;
  // A reader that went away: EPIPE as a status, no SIGPIPE.
  close(peerRead);
  EXPECT_EQ(RspWriteAll(&link, "$OK#9a", 1000, &error), RspStatus::kClosed);
}

TEST(RspLink, SocketPeerGoneIsAStatus) {
  int peer = -1;
  RspLink link = SocketLink(&peer);
  close(peer);
  std::string error;
  char buffer[16];
  std::size_t got = 0;
  EXPECT_EQ(RspRead(&link, 1000, buffer, sizeof buffer, &got, &error), RspStatus::kClosed);
  EXPECT_EQ(RspWriteAll(&link, "$OK#9a", 1000, &error), RspStatus::kClosed);
}

TEST(RspLink, WaitReadableTellsWhichOne) {
  int a = -1;
  int b = -1;
  RspLink first = SocketLink(&a);
  RspLink second = SocketLink(&b);
  const int fds[2] = {first.input.Get(), second.input.Get()};
  std::size_t ready = 9;
  std::string error;
  EXPECT_EQ(RspWaitReadable(fds, 2, 20, &ready, &error), RspStatus::kTimeout);
  ASSERT_EQ(write(b, "\x03", 1), 1);
  ASSERT_EQ(RspWaitReadable(fds, 2, 1000, &ready, &error), RspStatus::kOk);
  EXPECT_EQ(ready, 1u);
  close(a);
  ASSERT_EQ(RspWaitReadable(fds, 1, 1000, &ready, &error), RspStatus::kOk);
  EXPECT_EQ(ready, 0u);
  close(b);
}

TEST(RspLink, ListenAcceptConnect) {
  RspListener listener;
  std::string error;
  ASSERT_EQ(RspListen(0, &listener, &error), RspStatus::kOk) << error;
  ASSERT_NE(listener.port, 0);
  RspLink none;
  EXPECT_EQ(RspAccept(&listener, 20, &none, &error), RspStatus::kTimeout);

  RspLink client;
  ASSERT_EQ(RspConnect("127.0.0.1:" + std::to_string(listener.port), 2000, &client, &error),
            RspStatus::kOk)
      << error;
  RspLink server;
  ASSERT_EQ(RspAccept(&listener, 2000, &server, &error), RspStatus::kOk) << error;
  ASSERT_EQ(RspWriteAll(&client, "$qC#b4", 1000, &error), RspStatus::kOk);
  EXPECT_EQ(ReadSome(&server, 6), "$qC#b4");
  ASSERT_EQ(RspWriteAll(&server, "+", 1000, &error), RspStatus::kOk);
  EXPECT_EQ(ReadSome(&client, 1), "+");
  server = RspLink();
  char buffer[8];
  std::size_t got = 0;
  EXPECT_EQ(RspRead(&client, 1000, buffer, sizeof buffer, &got, &error), RspStatus::kClosed);
}

TEST(RspLink, ConnectFailuresAreReadable) {
  RspListener listener;
  std::string error;
  ASSERT_EQ(RspListen(0, &listener, &error), RspStatus::kOk);
  const std::string address = "127.0.0.1:" + std::to_string(listener.port);
  listener = RspListener();  // nobody listens there now
  RspLink link;
  EXPECT_NE(RspConnect(address, 2000, &link, &error), RspStatus::kOk);
  EXPECT_NE(error.find("refused"), std::string::npos) << error;
  EXPECT_EQ(RspConnect("no-port", 2000, &link, &error), RspStatus::kIoError);
  EXPECT_NE(error.find("HOST:PORT"), std::string::npos) << error;
}

TEST(RspLink, CommandEchoesThroughCat) {
  RspLink link;
  std::string error;
  ASSERT_EQ(RspStartCommand("exec cat", &link, &error), RspStatus::kOk) << error;
  ASSERT_GT(link.child.Pid(), 0);
  const std::string packet = "$m20000000,40#c5";
  ASSERT_EQ(RspWriteAll(&link, packet, 1000, &error), RspStatus::kOk);
  EXPECT_EQ(ReadSome(&link, packet.size()), packet);
  // The end of its input ends cat; the link reports it closed.
  link.output.Reset();
  char buffer[8];
  std::size_t got = 0;
  EXPECT_EQ(RspRead(&link, 5000, buffer, sizeof buffer, &got, &error), RspStatus::kClosed);
  // cat may be ending on its own or be ended by the stop.
  const int code = link.child.Stop();
  EXPECT_TRUE(code == 0 || code == 128 + SIGTERM) << code;
  EXPECT_EQ(link.child.Stop(), -1);
}

// In a process started without standard streams the pipe ends become fds
// 0 and 1; the command must still get them the right way round.
int EchoWithoutStandardStreams() {
  close(0);
  close(1);
  RspLink link;
  std::string error;
  if (RspStartCommand("exec cat", &link, &error) != RspStatus::kOk) return 2;
  if (RspWriteAll(&link, "$qC#b4", 1000, &error) != RspStatus::kOk) return 3;
  return ReadSome(&link, 6) == "$qC#b4" ? 0 : 4;
}

TEST(RspLink, CommandWorksWithoutOurStandardStreams) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(EchoWithoutStandardStreams());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(RspLink, CommandThatExitsIsClosed) {
  RspLink link;
  std::string error;
  ASSERT_EQ(RspStartCommand("printf '+'; exit 3", &link, &error), RspStatus::kOk);
  EXPECT_EQ(ReadSome(&link, 2), "+");
  EXPECT_EQ(RspWriteAll(&link, std::string(1 << 20, 'x'), 5000, &error), RspStatus::kClosed);
  EXPECT_EQ(link.child.Stop(), 3);
}

TEST(RspLink, AWriteToAPeerThatDoesNotReadTimesOut) {
  RspLink link;
  std::string error;
  ASSERT_EQ(RspStartCommand("exec sleep 30", &link, &error), RspStatus::kOk);
  EXPECT_EQ(RspWriteAll(&link, std::string(1 << 20, 'x'), 100, &error), RspStatus::kTimeout);
  EXPECT_FALSE(error.empty());
}

TEST(RspLink, DestroyingTheLinkEndsTheWholeCommand) {
  // The shell runs sleep as a grandchild; both must end with the link.
  RspLink link;
  std::string error;
  ASSERT_EQ(RspStartCommand("sleep 30 & echo $!; wait", &link, &error), RspStatus::kOk);
  std::string line;
  while (line.find('\n') == std::string::npos) {
    const std::string more = ReadSome(&link, 1);
    ASSERT_FALSE(more.empty());
    line += more;
  }
  const pid_t grandchild = static_cast<pid_t>(std::stol(line));
  const pid_t child = link.child.Pid();
  const auto start = std::chrono::steady_clock::now();
  link = RspLink();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(ProcessGone(child));
  EXPECT_TRUE(ProcessGone(grandchild));
}

}  // namespace
