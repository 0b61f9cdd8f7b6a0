// Fuzz target of the gdb-remote packet layer. The first input byte picks
// the options (run-length expansion, a small or the default packet limit,
// the chunk sizes); the rest is the byte stream. Decoding it whole and in
// chunks must give the same events; every packet decoded must fit the
// limit and survive encode and decode unchanged; the decoder's memory must
// stay bounded. The same bytes go through the hex, thread-id and feature
// parsers, whose results must format and parse back to themselves.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "rsp/packet.h"
#include "rsp/remote_client.h"

namespace {

constexpr std::size_t kSmallLimit = 64;

bool SameEvents(const std::vector<RspEvent>& a, const std::vector<RspEvent>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].payload != b[i].payload) return false;
  }
  return true;
}

void CheckDecoder(std::uint8_t options, std::string_view stream) {
  const bool rle = (options & 1) != 0;
  const std::size_t limit = (options & 2) != 0 ? kSmallLimit : kRspMaxPacket;
  const std::size_t chunkBase = 1 + ((options >> 2) & 0x3F);

  RspDecoder whole;
  whole.expandRle = rle;
  whole.maxPacket = limit;
  std::vector<RspEvent> expected;
  RspDecodeAll(&whole, stream, &expected);

  RspDecoder split;
  split.expandRle = rle;
  split.maxPacket = limit;
  std::vector<RspEvent> events;
  std::size_t at = 0;
  for (std::size_t round = 0; at < stream.size(); ++round) {
    const std::size_t size = 1 + (chunkBase * (round + 1)) % 23;
    RspDecodeAll(&split, stream.substr(at, size), &events);
    at += size;
    if (split.body.capacity() > 2 * limit + 64) std::abort();
  }
  if (!SameEvents(expected, events)) std::abort();
  if (whole.junkBytes != split.junkBytes) std::abort();
  if (whole.droppedPackets != split.droppedPackets) std::abort();

  for (const RspEvent& event : expected) {
    if (event.payload.size() > limit) std::abort();
    if (event.kind != RspEventKind::kPacket) {
      if (event.kind == RspEventKind::kOversize && !event.payload.empty()) std::abort();
      continue;
    }
    // A decoded payload, sent again, arrives unchanged (if it fits escaped).
    const std::string framed = RspPacket(event.payload);
    if (framed.size() - 4 > limit) continue;
    RspDecoder again;
    again.expandRle = rle;
    again.maxPacket = limit;
    std::vector<RspEvent> roundTrip;
    RspDecodeAll(&again, framed, &roundTrip);
    if (roundTrip.size() != 1 || roundTrip[0].kind != RspEventKind::kPacket ||
        roundTrip[0].payload != event.payload) {
      std::abort();
    }
  }
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void CheckParsers(std::string_view text) {
  std::string bytes;
  if (RspFromHex(text, &bytes)) {
    const std::string hex = RspToHex(bytes);
    if (hex.size() != text.size()) std::abort();
    for (std::size_t i = 0; i < hex.size(); ++i) {
      if (hex[i] != Lower(text[i])) std::abort();
    }
  }
  std::uint64_t number = 0;
  if (RspParseHexNumber(text, &number)) {
    std::uint64_t back = 0;
    if (!RspParseHexNumber(RspHexNumber(number), &back) || back != number) std::abort();
  }
  if (RspParseLeWord(text, &number)) {
    std::string word;
    RspAppendLeWord(number, text.size() / 2, &word);
    std::uint64_t back = 0;
    if (!RspParseLeWord(word, &back) || back != number) std::abort();
  }
  RspThreadId id;
  if (RspParseThreadId(text, &id)) {
    RspThreadId back;
    if (!RspParseThreadId(RspFormatThreadId(id), &back) || !(back == id)) std::abort();
  }
  std::vector<RspFeature> features;
  RspParseFeatures(text, &features);
  std::vector<RspFeature> again;
  RspParseFeatures(RspJoinFeatures(features), &again);
  if (again.size() != features.size()) std::abort();
  for (std::size_t i = 0; i < again.size(); ++i) {
    if (again[i].name != features[i].name || again[i].support != features[i].support ||
        again[i].value != features[i].value) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
  CheckDecoder(data[0], stream);
  if (stream.size() <= 4096) CheckParsers(stream);
  return 0;
}
