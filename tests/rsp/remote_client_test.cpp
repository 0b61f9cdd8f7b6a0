// Tests of the upstream client against a scripted fake gdbserver: acks,
// retransmits on `-`, damaged replies, no-ack mode, qSupported, timeouts,
// disconnects, garbage, oversize replies, resuming and interrupting.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "rsp/remote_client.h"
#include "rsp/server.h"
#include "tests/rsp/fake_peer.h"

namespace {

RspRemoteOptions QuickOptions() {
  RspRemoteOptions options;
  options.ackTimeoutMs = 100;
  options.replyTimeoutMs = 300;
  options.maxRetransmits = 2;
  return options;
}

// A client over a fake upstream running `script`.
struct Fixture {
  RspRemote remote;
  FakePeer peer;
  Fixture(std::function<void(int)> script, RspRemoteOptions options = QuickOptions()) {
    RspLink link;
    FakePeerStart(std::move(script), &link, &peer);
    RspRemoteInit(std::move(link), options, &remote);
  }
  ~Fixture() {
    // Closing our end first lets a script that waits on us finish.
    remote.channel.link = RspLink();
    FakePeerJoin(&peer);
  }
};

TEST(RspRemote, RequestIsAckedAndItsReplyAcked) {
  std::string seenAck;
  {
    Fixture f([&](int fd) {
      EXPECT_EQ(PeerReadPacket(fd), "m20000000,4");
      PeerSend(fd, "+" + PeerFrame("01020304"));
      seenAck.push_back(static_cast<char>(PeerReadByte(fd)));
    });
    std::string reply;
    ASSERT_EQ(RspRemoteRequest(&f.remote, "m20000000,4", &reply), RspStatus::kOk)
        << RspRemoteError(f.remote);
    EXPECT_EQ(reply, "01020304");
  }
  EXPECT_EQ(seenAck, "+");
}

TEST(RspRemote, CountsPacketsAndBytes) {
  Fixture f([](int fd) {
    for (int i = 0; i < 3; ++i) {
      PeerReadPacket(fd);
      PeerSend(fd, "+" + PeerFrame("OK"));
    }
    PeerReadByte(fd);
  });
  std::string reply;
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(RspRemoteRequest(&f.remote, "qC", &reply), RspStatus::kOk);
  const RspCounters& counters = f.remote.channel.counters;
  EXPECT_EQ(counters.packetsSent, 3u);
  EXPECT_EQ(counters.retransmits, 0u);
  EXPECT_EQ(counters.packetsReceived, 3u);
  EXPECT_EQ(counters.bytesSent, 3u * (6 + 1));  // "$qC#b4" and "+"
  EXPECT_EQ(counters.bytesReceived, 3u * (1 + 6));
}

TEST(RspRemote, NackedRequestIsSentAgain) {
  Fixture f([](int fd) {
    EXPECT_EQ(PeerReadPacket(fd), "g");
    PeerSend(fd, "-");
    EXPECT_EQ(PeerReadPacket(fd), "g");
    PeerSend(fd, "+" + PeerFrame("00000000"));
    PeerReadByte(fd);
  });
  std::string reply;
  ASSERT_EQ(RspRemoteRequest(&f.remote, "g", &reply), RspStatus::kOk) << RspRemoteError(f.remote);
  EXPECT_EQ(reply, "00000000");
  EXPECT_EQ(f.remote.channel.counters.retransmits, 1u);
}

TEST(RspRemote, DamagedReplyIsAskedForAgain) {
  std::string before;
  Fixture f([&](int fd) {
    PeerReadPacket(fd);
    PeerSend(fd, "+$OK#00");
    EXPECT_EQ(PeerReadByte(fd), '-');
    PeerSend(fd, PeerFrame("OK"));
    EXPECT_EQ(PeerReadByte(fd), '+');
  });
  std::string reply;
  ASSERT_EQ(RspRemoteRequest(&f.remote, "Hg0", &reply), RspStatus::kOk) << RspRemoteError(f.remote);
  EXPECT_EQ(reply, "OK");
  EXPECT_EQ(f.remote.channel.counters.badPackets, 1u);
}

TEST(RspRemote, RunLengthRepliesAreExpanded) {
  Fixture f([](int fd) {
    PeerReadPacket(fd);
    PeerSend(fd, "+" + PeerFrame("0* 1*!"));
  });
  std::string reply;
  ASSERT_EQ(RspRemoteRequest(&f.remote, "p0", &reply), RspStatus::kOk);
  EXPECT_EQ(reply, "000011111");
}

TEST(RspRemote, ReplyWithoutAckIsTaken) {
  Fixture f([](int fd) {
    PeerReadPacket(fd);
    PeerSend(fd, PeerFrame("OK"));
  });
  std::string reply;
  ASSERT_EQ(RspRemoteRequest(&f.remote, "Hc-1", &reply), RspStatus::kOk);
  EXPECT_EQ(reply, "OK");
}

// Failures: each must end with a status and a reason, never a hang.
struct FailureRow {
  const char* name;
  std::function<void(int)> script;
  RspStatus status;
  const char* reason;  // a part of the reason text
};

TEST(RspRemote, FailuresAreStatusesWithAReason) {
  const FailureRow rows[] = {
      {"silent upstream",
       [](int fd) {
         for (int i = 0; i < 3; ++i)
           PeerReadPacket(fd);
         PeerReadByte(fd, 500);
       },
       RspStatus::kTimeout, "no ack for \"qC\" after 3 tries"},
      {"acks but never replies",
       [](int fd) {
         PeerReadPacket(fd);
         PeerSend(fd, "+");
         PeerReadByte(fd, 1000);
       },
       RspStatus::kTimeout, "no reply to \"qC\" within 300 ms"},
      {"always nacks",
       [](int fd) {
         for (int i = 0; i < 3; ++i) {
           PeerReadPacket(fd);
           PeerSend(fd, "-");
         }
         PeerReadByte(fd, 500);
       },
       RspStatus::kProtocol, "refused \"qC\" 3 times"},
      {"disconnects", [](int fd) { PeerReadPacket(fd); }, RspStatus::kClosed, "closed"},
      {"disconnects after the ack",
       [](int fd) {
         PeerReadPacket(fd);
         PeerSend(fd, "+$O");
       },
       RspStatus::kClosed, "waiting for the reply to \"qC\""},
      {"garbage without packets",
       [](int fd) {
         PeerReadPacket(fd);
         PeerSend(fd, "+garbage\r\n\x01\x02 no packet here");
         PeerReadByte(fd, 1000);
       },
       RspStatus::kTimeout, "no reply"},
      {"damaged replies only",
       [](int fd) {
         PeerReadPacket(fd);
         PeerSend(fd, "+");
         for (int i = 0; i < 3; ++i) {
           PeerSend(fd, "$OK#zz");
           PeerReadByte(fd);
         }
         PeerReadByte(fd, 500);
       },
       RspStatus::kProtocol, "came damaged 3 times"},
      {"oversize reply",
       [](int fd) {
         PeerReadPacket(fd);
         PeerSend(fd, "+" + PeerFrame(std::string(kRspMaxPacket + 10, '0')));
         PeerReadByte(fd, 500);
       },
       RspStatus::kProtocol, "longer than"},
  };
  for (const FailureRow& row : rows) {
    const auto start = std::chrono::steady_clock::now();
    Fixture f(row.script);
    std::string reply = "unchanged";
    EXPECT_EQ(RspRemoteRequest(&f.remote, "qC", &reply), row.status) << row.name;
    EXPECT_NE(RspRemoteError(f.remote).find(row.reason), std::string::npos)
        << row.name << ": " << RspRemoteError(f.remote);
    EXPECT_EQ(reply, "unchanged") << row.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << row.name;
  }
}

TEST(RspRemote, LateReplyOfAFailedRequestIsNotTakenForTheNext) {
  Fixture f([](int fd) {
    EXPECT_EQ(PeerReadPacket(fd), "m0,4");
    PeerSend(fd, "+");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    PeerSend(fd, PeerFrame("late"));
    EXPECT_EQ(PeerReadPacket(fd), "m4,4");
    PeerSend(fd, "+" + PeerFrame("fresh"));
    PeerReadByte(fd);
  });
  std::string reply;
  EXPECT_EQ(RspRemoteRequest(&f.remote, "m0,4", &reply), RspStatus::kTimeout);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(RspRemoteRequest(&f.remote, "m4,4", &reply), RspStatus::kOk)
      << RspRemoteError(f.remote);
  EXPECT_EQ(reply, "fresh");
}

// Plays a stub that answers every request in order: "?" with a stop, the
// read of 4 bytes at 4 with 22222222, until our end closes. Returns the
// requests seen.
std::vector<std::string> AnswerInOrder(int fd) {
  std::vector<std::string> seen;
  while (true) {
    const std::string packet = PeerReadPacket(fd, nullptr, 2000);
    if (packet == "<none>") return seen;
    seen.push_back(packet);
    PeerSend(fd, "+" + PeerFrame(packet == "?" ? "S05" : "22222222"));
  }
}

// A reply that comes after its request gave up, or a second reply to a
// request sent again, arrives while the next request is on its way: it must
// never be taken for that request's reply. Each row times out or resends
// the first request, then asks for m4,4 at once.
TEST(RspRemote, ReplyThatComesAfterItsRequestGaveUpNeverAnswersALaterOne) {
  struct Row {
    const char* name;
    const char* first;
    RspStatus firstStatus;
    std::function<void(int fd)> stub;  // until the late reply has gone out
  };
  const Row rows[] = {
      {"late reply of a read", "m0,4", RspStatus::kTimeout,
       [](int fd) {
         PeerReadPacket(fd);
         PeerSend(fd, "+");
         std::this_thread::sleep_for(std::chrono::milliseconds(400));
         PeerSend(fd, PeerFrame("11111111"));
       }},
      {"late stop reply of '?'", "?", RspStatus::kTimeout,
       [](int fd) {
         PeerReadPacket(fd);
         PeerSend(fd, "+");
         std::this_thread::sleep_for(std::chrono::milliseconds(400));
         PeerSend(fd, PeerFrame("T0b"));
       }},
      {"second reply to a read sent again after a quiet wait", "m0,4", RspStatus::kOk,
       [](int fd) {
         PeerReadPacket(fd);
         PeerReadPacket(fd);  // sent again: no ack came in time
         PeerSend(fd, "+" + PeerFrame("11111111"));
         std::this_thread::sleep_for(std::chrono::milliseconds(100));
         PeerSend(fd, "+" + PeerFrame("11111111"));
       }},
  };
  for (const Row& row : rows) {
    std::vector<std::string> seen;
    {
      Fixture f([&](int fd) {
        row.stub(fd);
        seen = AnswerInOrder(fd);
      });
      std::string reply;
      EXPECT_EQ(RspRemoteRequest(&f.remote, row.first, &reply), row.firstStatus) << row.name;
      reply.clear();
      ASSERT_EQ(RspRemoteRequest(&f.remote, "m4,4", &reply), RspStatus::kOk)
          << row.name << ": " << RspRemoteError(f.remote);
      EXPECT_EQ(reply, "22222222") << row.name;
      // Settled: the request after it goes out alone.
      ASSERT_EQ(RspRemoteRequest(&f.remote, "m4,4", &reply), RspStatus::kOk) << row.name;
      EXPECT_EQ(reply, "22222222") << row.name;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"?", "m4,4", "m4,4"})) << row.name;
  }
}

// When even the probe's reply is late, the request is not sent at all; once
// everything owed has come, the next one goes out without another probe.
TEST(RspRemote, RequestIsNotSentWhileTheProbeIsUnanswered) {
  std::vector<std::string> seen;
  {
    Fixture f([&](int fd) {
      PeerReadPacket(fd);
      PeerSend(fd, "+");
      EXPECT_EQ(PeerReadPacket(fd), "?");
      PeerSend(fd, "+");
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      PeerSend(fd, PeerFrame("11111111") + PeerFrame("S05"));
      seen = AnswerInOrder(fd);
    });
    std::string reply = "unchanged";
    EXPECT_EQ(RspRemoteRequest(&f.remote, "m0,4", &reply), RspStatus::kTimeout);
    EXPECT_EQ(RspRemoteRequest(&f.remote, "m4,4", &reply), RspStatus::kTimeout);
    EXPECT_EQ(reply, "unchanged");
    EXPECT_NE(RspRemoteError(f.remote).find("not sent"), std::string::npos)
        << RspRemoteError(f.remote);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(RspRemoteRequest(&f.remote, "m4,4", &reply), RspStatus::kOk)
        << RspRemoteError(f.remote);
    EXPECT_EQ(reply, "22222222");
  }
  EXPECT_EQ(seen, std::vector<std::string>{"m4,4"});
}

// Nor is a late reply taken for the stop reply of a resume that follows.
TEST(RspRemote, LateReplyIsNotTakenForTheStopOfAResume) {
  std::vector<std::string> seen;
  {
    Fixture f([&](int fd) {
      PeerReadPacket(fd);
      PeerSend(fd, "+");
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      PeerSend(fd, PeerFrame("11111111"));
      for (std::string packet = PeerReadPacket(fd, nullptr, 2000); packet != "<none>";
           packet = PeerReadPacket(fd, nullptr, 2000)) {
        seen.push_back(packet);
        PeerSend(fd, "+" + PeerFrame(packet == "?" ? "S05" : "T0b"));
      }
    });
    std::string reply;
    EXPECT_EQ(RspRemoteRequest(&f.remote, "m0,4", &reply), RspStatus::kTimeout);
    ASSERT_EQ(RspRemoteResume(&f.remote, "c"), RspStatus::kOk) << RspRemoteError(f.remote);
    ASSERT_EQ(RspRemoteWaitStop(&f.remote, 1000, &reply), RspStatus::kOk)
        << RspRemoteError(f.remote);
    EXPECT_EQ(reply, "T0b");
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"?", "c"}));
}

TEST(RspRemote, NegotiationStripsMultiprocessAndTurnsOnNoAck) {
  Fixture f([](int fd) {
    EXPECT_EQ(PeerReadPacket(fd), "qSupported:swbreak+;hwbreak+;vContSupported+;xmlRegisters=i386");
    PeerSend(fd, "+" + PeerFrame("PacketSize=4000;QStartNoAckMode+;qXfer:features:read+;"
                                 "multiprocess+;vContSupported+;qXfer:threads:read-"));
    EXPECT_EQ(PeerReadByte(fd), '+');
    EXPECT_EQ(PeerReadPacket(fd), "QStartNoAckMode");
    PeerSend(fd, "+" + PeerFrame("OK"));
    EXPECT_EQ(PeerReadByte(fd), '+');
    // No acks from here on, either way: the next byte is the next packet.
    std::string before;
    EXPECT_EQ(PeerReadPacket(fd, &before), "qC");
    EXPECT_EQ(before, "");
    PeerSend(fd, PeerFrame("QC1"));
    EXPECT_EQ(PeerReadPacket(fd, &before), "?");
    EXPECT_EQ(before, "");
    PeerSend(fd, PeerFrame("S05"));
  });
  ASSERT_EQ(RspRemoteNegotiate(&f.remote,
                               "multiprocess+;swbreak+;hwbreak+;vContSupported+;xmlRegisters=i386"),
            RspStatus::kOk)
      << RspRemoteError(f.remote);
  const RspRemoteFeatures& features = f.remote.features;
  EXPECT_EQ(features.packetSize, 0x4000u);
  EXPECT_TRUE(features.noAckMode);
  EXPECT_TRUE(features.xferFeatures);
  EXPECT_FALSE(features.xferThreads);
  EXPECT_TRUE(features.vcont);
  EXPECT_TRUE(features.multiprocess);
  EXPECT_TRUE(f.remote.channel.noAck);
  std::string reply;
  ASSERT_EQ(RspRemoteRequest(&f.remote, "qC", &reply), RspStatus::kOk);
  EXPECT_EQ(reply, "QC1");
  ASSERT_EQ(RspRemoteRequest(&f.remote, "?", &reply), RspStatus::kOk);
  EXPECT_EQ(reply, "S05");
}

TEST(RspRemote, NegotiationKeepsAcksWhenTheUpstreamHasNoNoAckMode) {
  Fixture f([](int fd) {
    EXPECT_EQ(PeerReadPacket(fd), "qSupported");
    PeerSend(fd, "+" + PeerFrame("PacketSize=1000;qXfer:features:read+;vContSupported+;"
                                 "multiprocess+"));
    EXPECT_EQ(PeerReadByte(fd), '+');
    std::string before;
    EXPECT_EQ(PeerReadPacket(fd, &before), "vMustReplyEmpty");
    PeerSend(fd, "+" + PeerFrame(""));
    EXPECT_EQ(PeerReadByte(fd), '+');
  });
  ASSERT_EQ(RspRemoteNegotiate(&f.remote, ""), RspStatus::kOk) << RspRemoteError(f.remote);
  EXPECT_EQ(f.remote.features.packetSize, 0x1000u);
  EXPECT_FALSE(f.remote.features.noAckMode);
  EXPECT_FALSE(f.remote.channel.noAck);
  std::string reply = "x";
  ASSERT_EQ(RspRemoteRequest(&f.remote, "vMustReplyEmpty", &reply), RspStatus::kOk);
  EXPECT_EQ(reply, "");
}

TEST(RspRemote, ResumeWaitInterruptAndConsoleOutput) {
  Fixture f([](int fd) {
    EXPECT_EQ(PeerReadPacket(fd), "vCont;c");
    PeerSend(fd, "+");
    PeerSend(fd, PeerFrame("O48690a"));
    EXPECT_EQ(PeerReadByte(fd), '+');
    EXPECT_EQ(PeerReadByte(fd), 0x03);
    PeerSend(fd, PeerFrame("T02thread:01;"));
    EXPECT_EQ(PeerReadByte(fd), '+');
  });
  ASSERT_EQ(RspRemoteResume(&f.remote, "vCont;c"), RspStatus::kOk) << RspRemoteError(f.remote);
  EXPECT_TRUE(f.remote.running);
  std::string reply;
  ASSERT_EQ(RspRemoteWaitStop(&f.remote, 2000, &reply), RspStatus::kOk);
  EXPECT_EQ(reply, "O48690a");
  EXPECT_TRUE(f.remote.running);
  EXPECT_EQ(RspRemoteWaitStop(&f.remote, 50, &reply), RspStatus::kTimeout);
  std::string refused;
  EXPECT_EQ(RspRemoteRequest(&f.remote, "g", &refused), RspStatus::kProtocol);
  ASSERT_EQ(RspRemoteInterrupt(&f.remote), RspStatus::kOk);
  ASSERT_EQ(RspRemoteWaitStop(&f.remote, 2000, &reply), RspStatus::kOk);
  EXPECT_EQ(reply, "T02thread:01;");
  EXPECT_FALSE(f.remote.running);
}

TEST(RspRemote, QuickStopBeforeTheAckIsKept) {
  Fixture f([](int fd) {
    PeerReadPacket(fd);
    PeerSend(fd, PeerFrame("T05thread:01;"));
    PeerReadByte(fd);
  });
  ASSERT_EQ(RspRemoteResume(&f.remote, "s"), RspStatus::kOk);
  // The stop is already in: a wait on the channel returns at once.
  RspChannel* channels[1] = {&f.remote.channel};
  std::size_t ready = 9;
  std::string error;
  ASSERT_EQ(RspWaitChannels(channels, 1, 0, &ready, &error), RspStatus::kOk);
  EXPECT_EQ(ready, 0u);
  std::string reply;
  ASSERT_EQ(RspRemoteWaitStop(&f.remote, 0, &reply), RspStatus::kOk);
  EXPECT_EQ(reply, "T05thread:01;");
  EXPECT_FALSE(f.remote.running);
}

TEST(RspRemote, ArtificialDelayAppliesToEachPacket) {
  RspRemoteOptions options = QuickOptions();
  options.delayMs = 30;
  Fixture f(
      [](int fd) {
        for (int i = 0; i < 3; ++i) {
          PeerReadPacket(fd);
          PeerSend(fd, "+" + PeerFrame("OK"));
        }
      },
      options);
  const auto start = std::chrono::steady_clock::now();
  std::string reply;
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(RspRemoteRequest(&f.remote, "qC", &reply), RspStatus::kOk);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

// GDB's side forwards a 0x03 while the upstream target runs.
struct Relay {
  RspServer* gdb;
  RspRemote* remote;
  int interrupts = 0;
};

bool ForwardInterrupt(void* context) {
  Relay* relay = static_cast<Relay*>(context);
  RspRequestKind kind = RspRequestKind::kPacket;
  std::string payload;
  if (RspServerReceive(relay->gdb, 0, &kind, &payload) != RspStatus::kOk) return true;
  if (kind == RspRequestKind::kInterrupt) {
    ++relay->interrupts;
    return RspRemoteInterrupt(relay->remote) == RspStatus::kOk;
  }
  return true;
}

TEST(RspRemote, ResumeAndWaitForwardsGdbsInterrupt) {
  Fixture f([](int fd) {
    EXPECT_EQ(PeerReadPacket(fd), "c");
    PeerSend(fd, "+");
    EXPECT_EQ(PeerReadByte(fd), 0x03);
    PeerSend(fd, PeerFrame("T02thread:01;"));
    PeerReadByte(fd);
  });
  FakePeer gdbPeer;
  RspLink gdbLink;
  FakePeerStart(
      [](int fd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        PeerSend(fd, "\x03");
        PeerReadByte(fd, 1000);
      },
      &gdbLink, &gdbPeer);
  RspServer gdb;
  RspServerInit(std::move(gdbLink), &gdb);
  Relay relay{&gdb, &f.remote};
  std::string reply;
  ASSERT_EQ(RspRemoteResumeAndWait(&f.remote, "c", &gdb.channel, ForwardInterrupt, &relay, &reply),
            RspStatus::kOk)
      << RspRemoteError(f.remote);
  EXPECT_EQ(reply, "T02thread:01;");
  EXPECT_EQ(relay.interrupts, 1);
  gdb.channel.link = RspLink();
  FakePeerJoin(&gdbPeer);
}

TEST(RspFeatures, ParseFindJoin) {
  std::vector<RspFeature> features;
  RspParseFeatures("PacketSize=1000;;qXfer:features:read+;fork-events-;memory-tagging?;bare",
                   &features);
  ASSERT_EQ(features.size(), 5u);
  EXPECT_EQ(features[0].support, '=');
  EXPECT_EQ(features[0].value, "1000");
  EXPECT_EQ(RspFindFeature(features, "fork-events")->support, '-');
  EXPECT_EQ(RspFindFeature(features, "memory-tagging")->support, '?');
  EXPECT_EQ(RspFindFeature(features, "bare")->support, '+');
  EXPECT_EQ(RspFindFeature(features, "multiprocess"), nullptr);
  EXPECT_EQ(RspJoinFeatures(features),
            "PacketSize=1000;qXfer:features:read+;fork-events-;memory-tagging?;bare+");
}

}  // namespace
