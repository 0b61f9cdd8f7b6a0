// Tests of the reply shapes that keep the proxy in step with its upstream.
#include "proxy/replies.h"

#include <gtest/gtest.h>

namespace {

TEST(ProxyReplies, StopAndErrorReplies) {
  for (const char* stop : {"T05thread:01;", "T05", "S05", "T020d:00100020;"}) {
    EXPECT_TRUE(ProxyIsStopReply(stop)) << stop;
  }
  // A trace status reply, hex data and short texts are not stops.
  for (const char* other : {"T0;tnotrun:0", "S05x", "S5", "", "OK", "W00", "Tz5"}) {
    EXPECT_FALSE(ProxyIsStopReply(other)) << other;
  }
  for (const char* error : {"E01", "E.text", "E."}) {
    EXPECT_TRUE(ProxyIsErrorReply(error)) << error;
  }
  for (const char* other : {"E", "E0", "Eab12", "e01", "EZZ"}) {
    EXPECT_FALSE(ProxyIsErrorReply(other)) << other;
  }
}

TEST(ProxyReplies, OnlyRepliesOfTheRightShapeFit) {
  struct Case {
    const char* request;
    const char* reply;
    bool fits;
  };
  const Case cases[] = {
      {"?", "T05thread:01;", true},
      {"?", "W00", true},
      {"?", "l<?xml", false},
      {"?", "OK", false},
      {"m20000000,4", "00a5ff10", true},
      {"m20000000,4", "E14", true},
      {"m20000000,4", "", true},
      {"m20000000,4", "T05thread:01;", false},
      {"m20000000,4", "l<?xml", false},
      {"m20000000,4", "OK", false},
      {"g", "00000000xxxxxxxx", true},
      {"p10", "01000000", true},
      {"qXfer:features:read:target.xml:0,ffb", "l<?xml version", true},
      {"qXfer:features:read:target.xml:0,ffb", "mpart", true},
      {"qXfer:features:read:target.xml:0,ffb", "0011", false},
      {"M20000000,1:00", "OK", true},
      {"M20000000,1:00", "00", false},
      {"Z0,a68,2", "OK", true},
      {"Z0,a68,2", "", true},
      {"D", "OK", true},
      {"qSupported:swbreak+", "PacketSize=1000;qXfer:features:read+", true},
      {"qSupported:swbreak+", "T02thread:01;", false},
      {"qTStatus", "T0;tnotrun:0", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.fits, ProxyReplyFits(c.request, c.reply)) << c.request << " <- " << c.reply;
  }
}

}  // namespace
