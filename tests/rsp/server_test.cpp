// Tests of the GDB-side server against a scripted fake GDB: acks, `-` for
// damaged requests, retransmits of the last reply, interrupts inside and
// outside packets, no-ack mode, oversize requests and a GDB that leaves.
#include <gtest/gtest.h>

#include <string>

#include "rsp/server.h"
#include "tests/rsp/fake_peer.h"

namespace {

struct Fixture {
  RspServer server;
  FakePeer peer;
  explicit Fixture(std::function<void(int)> script) {
    RspLink link;
    FakePeerStart(std::move(script), &link, &peer);
    RspServerInit(std::move(link), &server);
  }
  ~Fixture() {
    server.channel.link = RspLink();
    FakePeerJoin(&peer);
  }

  // The next request; "<status>" when the receive failed.
  std::string Next(RspRequestKind* kind, int timeoutMs = 2000) {
    std::string payload;
    const RspStatus status = RspServerReceive(&server, timeoutMs, kind, &payload);
    if (status != RspStatus::kOk) return "<" + std::string(RspStatusText(status)) + ">";
    return payload;
  }
};

TEST(RspServer, AcksRequestsAndNacksDamagedOnes) {
  std::string acks;
  {
    Fixture f([&](int fd) {
      PeerSend(fd, "+" + PeerFrame("qSupported:multiprocess+") + "$qC#00");
      acks.push_back(static_cast<char>(PeerReadByte(fd)));
      acks.push_back(static_cast<char>(PeerReadByte(fd)));
      PeerSend(fd, PeerFrame("qC"));
      acks.push_back(static_cast<char>(PeerReadByte(fd)));
    });
    RspRequestKind kind = RspRequestKind::kInterrupt;
    EXPECT_EQ(f.Next(&kind), "qSupported:multiprocess+");
    EXPECT_EQ(kind, RspRequestKind::kPacket);
    EXPECT_EQ(f.Next(&kind), "qC");
    EXPECT_EQ(f.server.channel.counters.badPackets, 1u);
  }
  EXPECT_EQ(acks, "+-+");
}

TEST(RspServer, NackRetransmitsTheLastReply) {
  std::string seen;
  {
    Fixture f([&](int fd) {
      PeerSend(fd, PeerFrame("?"));
      EXPECT_EQ(PeerReadPacket(fd, &seen), "T05thread:1;");
      PeerSend(fd, "-");
      EXPECT_EQ(PeerReadPacket(fd, &seen), "T05thread:1;");
      PeerSend(fd, "+" + PeerFrame("g"));
      PeerReadPacket(fd, &seen);
    });
    RspRequestKind kind;
    ASSERT_EQ(f.Next(&kind), "?");
    ASSERT_EQ(RspServerReply(&f.server, "T05thread:1;"), RspStatus::kOk);
    EXPECT_EQ(f.Next(&kind), "g");
    ASSERT_EQ(RspServerReply(&f.server, "E01"), RspStatus::kOk);
    EXPECT_EQ(f.server.channel.counters.retransmits, 1u);
  }
  EXPECT_EQ(seen, "++");
}

TEST(RspServer, InterruptOutsideAPacketOnly) {
  Fixture f([](int fd) {
    PeerSend(fd, "\x03" + PeerFrame("X20000000,1:\x03") + "\x03");
    PeerReadByte(fd, 1000);
  });
  RspRequestKind kind = RspRequestKind::kPacket;
  EXPECT_EQ(f.Next(&kind), "");
  EXPECT_EQ(kind, RspRequestKind::kInterrupt);
  EXPECT_EQ(f.Next(&kind), "X20000000,1:\x03");
  EXPECT_EQ(kind, RspRequestKind::kPacket);
  EXPECT_EQ(f.Next(&kind), "");
  EXPECT_EQ(kind, RspRequestKind::kInterrupt);
}

TEST(RspServer, StarInARequestIsData) {
  Fixture f([](int fd) {
    PeerSend(fd, PeerFrame("qRcmd,0* "));
    PeerReadByte(fd, 1000);
  });
  RspRequestKind kind;
  EXPECT_EQ(f.Next(&kind), "qRcmd,0* ");
}

TEST(RspServer, NoAckModeSendsNoAcks) {
  std::string before;
  {
    Fixture f([&](int fd) {
      PeerSend(fd, PeerFrame("QStartNoAckMode"));
      EXPECT_EQ(PeerReadPacket(fd, &before), "OK");
      PeerSend(fd, "+" + PeerFrame("qC") + "$qC#00");
      EXPECT_EQ(PeerReadPacket(fd, &before), "QC1");
      PeerSend(fd, "-" + PeerFrame("g"));
      PeerReadPacket(fd, &before);
    });
    RspRequestKind kind;
    ASSERT_EQ(f.Next(&kind), "QStartNoAckMode");
    ASSERT_EQ(RspServerReply(&f.server, "OK"), RspStatus::kOk);
    RspServerSetNoAck(&f.server, true);
    ASSERT_EQ(f.Next(&kind), "qC");
    ASSERT_EQ(RspServerReply(&f.server, "QC1"), RspStatus::kOk);
    // The damaged copy is dropped silently and a `-` retransmits nothing.
    ASSERT_EQ(f.Next(&kind), "g");
    ASSERT_EQ(RspServerReply(&f.server, "00"), RspStatus::kOk);
  }
  EXPECT_EQ(before, "+");
}

TEST(RspServer, OversizeRequestGetsAnErrorReply) {
  Fixture f([](int fd) {
    PeerSend(fd, PeerFrame("X0,0:" + std::string(kRspMaxPacket, 'a')));
    std::string before;
    EXPECT_EQ(PeerReadPacket(fd, &before), "E16");
    EXPECT_EQ(before, "+");
    PeerSend(fd, PeerFrame("qC"));
    PeerReadByte(fd, 1000);
  });
  RspRequestKind kind;
  EXPECT_EQ(f.Next(&kind), "qC");
}

TEST(RspServer, GdbLeavingIsClosedAndSilenceIsATimeout) {
  Fixture f([](int fd) { PeerReadByte(fd, 300); });
  RspRequestKind kind;
  EXPECT_EQ(f.Next(&kind, 20), "<timeout>");
  EXPECT_EQ(f.Next(&kind, 2000), "<closed>");
  EXPECT_FALSE(RspServerError(f.server).empty());
}

}  // namespace
