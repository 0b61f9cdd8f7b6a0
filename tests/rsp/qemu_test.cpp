// The upstream client against a real gdbserver: an emulated Cortex-M3 board
// started by command with its gdb stub on stdio (skipped when the emulator
// is not installed). The firmware is a 12-byte image: a vector table whose
// reset handler branches to itself.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "rsp/remote_client.h"

namespace {

constexpr const char* kEmulator = "/usr/bin/qemu-system-arm";

// The text of `key:` up to the next ';' in a stop reply.
std::string StopField(const std::string& reply, const std::string& key) {
  const std::size_t at = reply.find(key + ":");
  if (at == std::string::npos) return "";
  const std::size_t start = at + key.size() + 1;
  return reply.substr(start, reply.find(';', start) - start);
}

// Initial stack pointer 0x20001000, reset handler at 0x8 (Thumb): "b .".
constexpr unsigned char kLoopImage[] = {0x00, 0x10, 0x00, 0x20, 0x09, 0x00,
                                        0x00, 0x00, 0xfe, 0xe7, 0x00, 0xbf};

// A temporary file holding the image, removed at the end of the test.
struct ImageFile {
  std::string path;
  ImageFile() {
    char name[] = "/tmp/rsp_loop_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return;
    const bool written = write(fd, kLoopImage, sizeof kLoopImage) == sizeof kLoopImage;
    close(fd);
    if (written) path = name;
  }
  ~ImageFile() {
    if (!path.empty()) std::remove(path.c_str());
  }
};

TEST(RspEmulator, NegotiateReadRunInterrupt) {
  if (access(kEmulator, X_OK) != 0) GTEST_SKIP() << "no " << kEmulator;
  const ImageFile image;
  ASSERT_FALSE(image.path.empty());
  RspLink link;
  std::string error;
  ASSERT_EQ(RspStartCommand(std::string("exec ") + kEmulator +
                                " -M mps2-an385 -display none -monitor none -serial none"
                                " -kernel " +
                                image.path + " -S -gdb stdio",
                            &link, &error),
            RspStatus::kOk)
      << error;
  RspRemote remote;
  RspRemoteOptions options;
  options.replyTimeoutMs = 20000;
  RspRemoteInit(std::move(link), options, &remote);

  ASSERT_EQ(RspRemoteNegotiate(&remote,
                               "multiprocess+;swbreak+;hwbreak+;qRelocInsn+;fork-events+;"
                               "vfork-events+;exec-events+;vContSupported+;QThreadEvents+;"
                               "no-resumed+;memory-tagging+;xmlRegisters=i386"),
            RspStatus::kOk)
      << RspRemoteError(remote);
  EXPECT_GT(remote.features.packetSize, 0u);
  EXPECT_TRUE(remote.features.xferFeatures);

  std::string reply;
  ASSERT_EQ(RspRemoteRequest(&remote, "?", &reply), RspStatus::kOk) << RspRemoteError(remote);
  ASSERT_EQ(reply.substr(0, 3), "T05") << reply;
  // multiprocess+ was not forwarded: the stub answers a plain thread id.
  RspThreadId thread;
  ASSERT_TRUE(RspParseThreadId(StopField(reply, "thread"), &thread)) << reply;
  EXPECT_FALSE(thread.hasPid) << reply;
  EXPECT_EQ(thread.tid, 1);

  ASSERT_EQ(RspRemoteRequest(&remote, "g", &reply), RspStatus::kOk) << RspRemoteError(remote);
  ASSERT_GE(reply.size(), 17u * 8u);  // r0-r15 and xpsr
  std::uint64_t pc = 0;
  ASSERT_TRUE(RspParseLeWord(reply.substr(15 * 8, 8), &pc));
  EXPECT_EQ(pc, 8u);

  ASSERT_EQ(RspRemoteRequest(&remote, "qXfer:features:read:target.xml:0,ffb", &reply),
            RspStatus::kOk);
  ASSERT_FALSE(reply.empty());
  EXPECT_TRUE(reply[0] == 'm' || reply[0] == 'l') << reply.substr(0, 40);

  ASSERT_EQ(RspRemoteResume(&remote, "c"), RspStatus::kOk) << RspRemoteError(remote);
  EXPECT_EQ(RspRemoteWaitStop(&remote, 100, &reply), RspStatus::kTimeout);
  ASSERT_EQ(RspRemoteInterrupt(&remote), RspStatus::kOk);
  ASSERT_EQ(RspRemoteWaitStop(&remote, 20000, &reply), RspStatus::kOk) << RspRemoteError(remote);
  EXPECT_EQ(reply.substr(0, 3), "T02") << reply;
  EXPECT_EQ(StopField(reply, "thread"), "01") << reply;
  // Stopped in the loop: pc is the branch.
  ASSERT_EQ(RspRemoteRequest(&remote, "pf", &reply), RspStatus::kOk) << RspRemoteError(remote);
  EXPECT_EQ(reply, "08000000");
  EXPECT_EQ(remote.channel.counters.retransmits, 0u);
  EXPECT_EQ(remote.channel.counters.badPackets, 0u);
}

}  // namespace
