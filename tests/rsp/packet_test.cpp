// Tests of the gdb-remote codec: framing, escapes, checksums over the escaped
// bytes, run-length expansion, interrupts inside and outside packets, chunks
// split anywhere, bounded packets, hex helpers and thread ids.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "rsp/packet.h"

namespace {

using namespace std::string_literals;

// A frame with the checksum of the body exactly as written.
std::string Frame(const std::string& body) {
  static const char kDigits[] = "0123456789abcdef";
  const std::uint8_t sum = RspChecksum(body);
  return "$" + body + "#" + kDigits[sum >> 4] + kDigits[sum & 0xF];
}

struct Seen {
  RspEventKind kind;
  std::string payload;
  friend bool operator==(const Seen&, const Seen&) = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
  return out << static_cast<int>(seen.kind) << ":" << seen.payload;
}

std::vector<Seen> DecodeChunks(const std::vector<std::string>& chunks, bool rle,
                               std::size_t maxPacket = kRspMaxPacket) {
  RspDecoder decoder;
  decoder.expandRle = rle;
  decoder.maxPacket = maxPacket;
  std::vector<RspEvent> events;
  for (const std::string& chunk : chunks)
    RspDecodeAll(&decoder, chunk, &events);
  std::vector<Seen> seen;
  for (const RspEvent& event : events)
    seen.push_back({event.kind, event.payload});
  return seen;
}

std::vector<Seen> Decode(const std::string& stream, bool rle) {
  return DecodeChunks({stream}, rle);
}

using enum RspEventKind;

TEST(RspEncode, EscapesAndChecksumsTheEscapedBytes) {
  struct Row {
    std::string payload;
    std::string framed;
  };
  const Row rows[] = {
      {"", "$#00"},
      {"OK", "$OK#9a"},
      {"qSupported:multiprocess+", Frame("qSupported:multiprocess+")},
      // '#' 0x23, '$' 0x24, '}' 0x7d, '*' 0x2a go out as '}' and byte ^ 0x20.
      {"a#b",
       "$a}\x03"
       "b#43"},
      {"$", Frame("}\x04")},
      {"}", "$}]#da"},
      {"*", Frame("}\x0a")},
      // 0x03 and bytes above 0x7f are data, sent as they are.
      {"\x03\xff"s, Frame("\x03\xff")},
  };
  for (const Row& row : rows)
    EXPECT_EQ(RspPacket(row.payload), row.framed) << row.payload;
}

TEST(RspDecode, Table) {
  struct Row {
    const char* name;
    std::string stream;
    bool rle;
    std::vector<Seen> events;
  };
  const Row rows[] = {
      {"acks and interrupt", "+-\x03", false, {{kAck, ""}, {kNack, ""}, {kInterrupt, ""}}},
      {"plain packet", "$OK#9a", false, {{kPacket, "OK"}}},
      {"upper-case checksum digits", Frame("qC").substr(0, 4) + "B4", false, {{kPacket, "qC"}}},
      {"junk between packets skipped", "xyz\r\n$OK#9a!!", false, {{kPacket, "OK"}}},
      {"0x03 inside a packet is data",
       Frame("a\x03"
             "b"),
       false,
       {{kPacket,
         "a\x03"
         "b"}}},
      {"0x03 between packets",
       Frame("c") + "\x03" + Frame("s"),
       false,
       {{kPacket, "c"}, {kInterrupt, ""}, {kPacket, "s"}}},
      {"bad checksum", "$OK#00", false, {{kBadChecksum, "OK"}}},
      {"checksum not hex", "$OK#zz", false, {{kBadChecksum, "OK"}}},
      {"escape", Frame("}]}\x03}\x04}\x0a"), false, {{kPacket, "}#$*"}}},
      {"checksum of the unescaped bytes is wrong", "$}]#7d", false, {{kBadChecksum, "}]"}}},
      {"trailing escape", Frame("a}"), false, {{kMalformed, "a}"}}},
      {"run length expanded", Frame("0* "), true, {{kPacket, "0000"}}},
      {"run length kept without expansion", Frame("0* "), false, {{kPacket, "0* "}}},
      {"run length longest", Frame("x*~"), true, {{kPacket, std::string(98, 'x')}}},
      {"run length then more", Frame("ab*!c"), true, {{kPacket, "abbbbbc"}}},
      {"run length of an escape pair", Frame("}]*!"), true, {{kPacket, "}]]]]"}}},
      {"run length with nothing before", Frame("*!"), true, {{kMalformed, "*!"}}},
      {"run length count too small", Frame("0*\x1f"), true, {{kMalformed, "0*\x1f"}}},
      {"run length count at the end", Frame("0*"), true, {{kMalformed, "0*"}}},
      {"dollar restarts a cut packet", "$abc$OK#9a", false, {{kPacket, "OK"}}},
      {"dollar in the checksum restarts", "$abc#$OK#9a", false, {{kPacket, "OK"}}},
      {"unfinished packet yields nothing", "$OK#9", false, {}},
      {"empty packet", "$#00", false, {{kPacket, ""}}},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Decode(row.stream, row.rle), row.events) << row.name;
}

TEST(RspDecode, CountsJunkAndDroppedPackets) {
  RspDecoder decoder;
  std::vector<RspEvent> events;
  RspDecodeAll(&decoder, "ab$cut$OK#9ac", &events);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(decoder.junkBytes, 3u);
  EXPECT_EQ(decoder.droppedPackets, 1u);
}

TEST(RspDecode, ChunksSplitAtEveryPositionGiveTheSameEvents) {
  const std::string stream = "+" + Frame("T05thread:p01.01;") + "junk\x03" + Frame("0* }]x*\"") +
                             "-" + "$OK#00" + Frame("m2000,4") + "$cut" + Frame("qC");
  for (const bool rle : {false, true}) {
    const std::vector<Seen> whole = Decode(stream, rle);
    ASSERT_EQ(whole.size(), 8u);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
      EXPECT_EQ(DecodeChunks({stream.substr(0, cut), stream.substr(cut)}, rle), whole) << cut;
    }
    std::vector<std::string> bytes;
    for (const char c : stream)
      bytes.emplace_back(1, c);
    EXPECT_EQ(DecodeChunks(bytes, rle), whole);
  }
}

TEST(RspDecode, DecodeNextStopsAfterEachEvent) {
  RspDecoder decoder;
  const std::string stream = "+$OK#9a-";
  std::size_t used = 0;
  RspEvent event;
  ASSERT_TRUE(RspDecodeNext(&decoder, stream, &used, &event));
  EXPECT_EQ(used, 1u);
  ASSERT_TRUE(RspDecodeNext(&decoder, std::string_view(stream).substr(1), &used, &event));
  EXPECT_EQ(used, 6u);
  EXPECT_EQ(event.payload, "OK");
  ASSERT_TRUE(RspDecodeNext(&decoder, std::string_view(stream).substr(7), &used, &event));
  EXPECT_EQ(event.kind, kNack);
  EXPECT_FALSE(RspDecodeNext(&decoder, "$O", &used, &event));
  EXPECT_EQ(used, 2u);
}

TEST(RspDecode, OversizePacketIsSkippedAndTheNextOneDecodes) {
  constexpr std::size_t kLimit = 64;
  const std::string fits(kLimit, 'a');
  const std::string over(kLimit + 1, 'b');
  const std::vector<Seen> events =
      DecodeChunks({Frame(fits) + Frame(over), Frame("OK")}, false, kLimit);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], (Seen{kPacket, fits}));
  EXPECT_EQ(events[1], (Seen{RspEventKind::kOversize, ""}));
  EXPECT_EQ(events[2], (Seen{kPacket, "OK"}));
}

TEST(RspDecode, DefaultLimitHoldsA64KiBPacketAndMemoryStaysBounded) {
  RspDecoder decoder;
  std::vector<RspEvent> events;
  RspDecodeAll(&decoder, Frame(std::string(0x10000, 'f')), &events);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].payload.size(), 0x10000u);
  // A stream that never ends its packet keeps at most the limit.
  RspDecodeAll(&decoder, "$", &events);
  const std::string chunk(1 << 16, 'z');
  for (int i = 0; i < 32; ++i)
    RspDecodeAll(&decoder, chunk, &events);
  EXPECT_LE(decoder.body.capacity(), 2 * kRspMaxPacket);
  RspDecodeAll(&decoder, "#00" + Frame("OK"), &events);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1].kind, RspEventKind::kOversize);
  EXPECT_EQ(events[2].payload, "OK");
}

TEST(RspDecode, RunLengthExpansionIsBounded) {
  // 100 runs of 98 bytes each from 300 bytes sent: over a 4 KiB limit.
  std::string body;
  for (int i = 0; i < 100; ++i)
    body += "x*~";
  std::string payload = "unchanged";
  EXPECT_FALSE(RspDecodeBody(body, true, 4096, &payload));
  EXPECT_EQ(payload, "unchanged");
  ASSERT_TRUE(RspDecodeBody(body, true, 9800, &payload));
  EXPECT_EQ(payload.size(), 9800u);
  const std::vector<Seen> events = DecodeChunks({Frame(body)}, true, 4096);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, kMalformed);
}

TEST(RspDecode, EveryByteValueSurvivesEncodeAndDecode) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string payload(random() % 300, '\0');
    for (char& c : payload)
      c = static_cast<char>(random() & 0xFF);
    for (const bool rle : {false, true}) {
      const std::vector<Seen> events = Decode(RspPacket(payload), rle);
      ASSERT_EQ(events.size(), 1u);
      EXPECT_EQ(events[0], (Seen{kPacket, payload}));
    }
  }
}

TEST(RspHex, BytesAndNumbers) {
  EXPECT_EQ(RspToHex("\x00\x7f\xff"s), "007fff");
  std::string bytes = "kept";
  EXPECT_TRUE(RspFromHex("00Ab7F", &bytes));
  EXPECT_EQ(bytes, "\x00\xab\x7f"s);
  bytes = "kept";
  for (const char* bad : {"0", "0g", "abc", " 00"}) {
    EXPECT_FALSE(RspFromHex(bad, &bytes)) << bad;
    EXPECT_EQ(bytes, "kept");
  }
  std::uint64_t value = 0;
  EXPECT_TRUE(RspParseHexNumber("20001FfC", &value));
  EXPECT_EQ(value, 0x20001ffcu);
  EXPECT_TRUE(RspParseHexNumber("ffffffffffffffff", &value));
  EXPECT_EQ(value, ~0ull);
  for (const char* bad : {"", "10000000000000000", "-1", "0x1", "1 "}) {
    EXPECT_FALSE(RspParseHexNumber(bad, &value)) << bad;
  }
  EXPECT_EQ(RspHexNumber(0), "0");
  EXPECT_EQ(RspHexNumber(0x20001ffc), "20001ffc");
  EXPECT_EQ(RspHexNumber(~0ull), "ffffffffffffffff");
}

TEST(RspHex, LittleEndianRegisterWords) {
  std::string out;
  RspAppendLeWord(0x20001ffc, 4, &out);
  EXPECT_EQ(out, "fc1f0020");
  out.clear();
  RspAppendLeWord(0x0102030405060708, 8, &out);
  EXPECT_EQ(out, "0807060504030201");
  std::uint64_t value = 0;
  EXPECT_TRUE(RspParseLeWord("fc1f0020", &value));
  EXPECT_EQ(value, 0x20001ffcu);
  EXPECT_TRUE(RspParseLeWord("ff", &value));
  EXPECT_EQ(value, 0xffu);
  for (const char* bad : {"", "xxxxxxxx", "fc1f002", "000000000000000000"}) {
    EXPECT_FALSE(RspParseLeWord(bad, &value)) << bad;
  }
}

TEST(RspThreadIds, ParseAndFormat) {
  struct Row {
    const char* text;
    RspThreadId id;
    const char* formatted;
  };
  const Row rows[] = {
      {"-1", {false, 0, kRspAllThreads}, "-1"},
      {"0", {false, 0, kRspAnyThread}, "0"},
      {"1f", {false, 0, 0x1f}, "1f"},
      {"20001A40", {false, 0, 0x20001a40}, "20001a40"},
      {"p01.01", {true, 1, 1}, "p1.1"},
      {"p1.-1", {true, 1, kRspAllThreads}, "p1.-1"},
      {"p-1.-1", {true, kRspAllThreads, kRspAllThreads}, "p-1.-1"},
      {"p2", {true, 2, kRspAllThreads}, "p2.-1"},
      {"p1.0", {true, 1, kRspAnyThread}, "p1.0"},
      {"7fffffffffffffff", {false, 0, 0x7fffffffffffffff}, "7fffffffffffffff"},
  };
  for (const Row& row : rows) {
    RspThreadId id;
    ASSERT_TRUE(RspParseThreadId(row.text, &id)) << row.text;
    EXPECT_EQ(id, row.id) << row.text;
    EXPECT_EQ(RspFormatThreadId(id), row.formatted) << row.text;
  }
  for (const char* bad :
       {"", "p", "p.1", "p1.", "p1.2.3", "-2", "g", "8000000000000000", "1 ", "p1.x"}) {
    RspThreadId id{true, 5, 5};
    EXPECT_FALSE(RspParseThreadId(bad, &id)) << bad;
    EXPECT_EQ(id, (RspThreadId{true, 5, 5})) << bad;
  }
}

}  // namespace
