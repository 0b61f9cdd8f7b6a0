// The gdb-remote packet codec (see packet.h).
#include "rsp/packet.h"

#include <array>
#include <limits>

namespace {

constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

// The value of a hex digit, or -1.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool NeedsEscape(char c) {
  return c == '#' || c == '$' || c == '}' || c == '*';
}

// Run-length counts are printable characters from ' ' (3 more copies) to
// '~' (97 more); '#' and '$' would break the framing and are not allowed.
constexpr int kRleBias = 29;
bool RleCountValid(char c) {
  return c >= ' ' && c <= '~' && c != '#' && c != '$';
}

// A finished body: decoded into a kPacket, or reported as kMalformed.
void FinishBody(RspDecoder* decoder, RspEvent* event) {
  std::string payload;
  if (RspDecodeBody(decoder->body, decoder->expandRle, decoder->maxPacket, &payload)) {
    event->kind = RspEventKind::kPacket;
    event->payload = std::move(payload);
  } else {
    event->kind = RspEventKind::kMalformed;
    event->payload = decoder->body;
  }
}

void StartBody(RspDecoder* decoder) {
  decoder->state = RspDecoder::State::kBody;
  decoder->body.clear();
  decoder->oversize = false;
  decoder->sum = 0;
}

}  // namespace

std::uint8_t RspChecksum(std::string_view bytes) {
  unsigned sum = 0;
  for (const char c : bytes)
    sum += static_cast<unsigned char>(c);
  return static_cast<std::uint8_t>(sum & 0xFFu);
}

void RspAppendPacket(std::string_view payload, std::string* out) {
  out->reserve(out->size() + payload.size() + 4);
  out->push_back('$');
  unsigned sum = 0;
  for (const char c : payload) {
    if (NeedsEscape(c)) {
      const char escaped = static_cast<char>(c ^ 0x20);
      out->push_back('}');
      out->push_back(escaped);
      sum += static_cast<unsigned char>('}') + static_cast<unsigned char>(escaped);
    } else {
      out->push_back(c);
      sum += static_cast<unsigned char>(c);
    }
  }
  out->push_back('#');
  out->push_back(kHexDigits[(sum >> 4) & 0xFu]);
  out->push_back(kHexDigits[sum & 0xFu]);
}

std::string RspPacket(std::string_view payload) {
  std::string out;
  RspAppendPacket(payload, &out);
  return out;
}

bool RspDecodeBody(std::string_view body, bool expandRle, std::size_t limit, std::string* payload) {
  // Run-length encoding applies to the bytes as sent, escapes included, so
  // it is expanded first; the expansion is bounded by the limit as it grows.
  std::string expanded;
  std::string_view source = body;
  if (expandRle) {
    expanded.reserve(body.size() < limit ? body.size() : limit);
    for (std::size_t i = 0; i < body.size(); ++i) {
      const char c = body[i];
      if (c != '*') {
        if (expanded.size() >= limit) return false;
        expanded.push_back(c);
        continue;
      }
      if (expanded.empty() || i + 1 >= body.size() || !RleCountValid(body[i + 1])) return false;
      const std::size_t copies = static_cast<std::size_t>(body[i + 1] - kRleBias);
      if (copies > limit - expanded.size()) return false;
      expanded.append(copies, expanded.back());
      ++i;
    }
    source = expanded;
  }
  std::string out;
  out.reserve(source.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source[i] != '}') {
      out.push_back(source[i]);
      continue;
    }
    if (i + 1 >= source.size()) return false;
    out.push_back(static_cast<char>(source[i + 1] ^ 0x20));
    ++i;
  }
  if (out.size() > limit) return false;
  *payload = std::move(out);
  return true;
}

bool RspDecodeNext(RspDecoder* decoder, std::string_view input, std::size_t* used,
                   RspEvent* event) {
  using State = RspDecoder::State;
  for (std::size_t i = 0; i < input.size(); ++i) {
    const char c = input[i];
    switch (decoder->state) {
      case State::kIdle:
        if (c == '$') {
          StartBody(decoder);
          break;
        }
        if (c == '+' || c == '-' || c == kRspInterrupt) {
          event->kind = c == '+'   ? RspEventKind::kAck
                        : c == '-' ? RspEventKind::kNack
                                   : RspEventKind::kInterrupt;
          event->payload.clear();
          *used = i + 1;
          return true;
        }
        ++decoder->junkBytes;
        break;
      case State::kBody:
        if (c == '#') {
          decoder->state = State::kCheck1;
          break;
        }
        if (c == '$') {
          // The packet before lost its end; this one starts afresh.
          ++decoder->droppedPackets;
          StartBody(decoder);
          break;
        }
        decoder->sum = static_cast<std::uint8_t>(decoder->sum + static_cast<unsigned char>(c));
        if (decoder->oversize) break;
        if (decoder->body.size() >= decoder->maxPacket) {
          decoder->oversize = true;
          decoder->body.clear();
          decoder->body.shrink_to_fit();
          break;
        }
        decoder->body.push_back(c);
        break;
      case State::kCheck1:
        if (c == '$') {
          ++decoder->droppedPackets;
          StartBody(decoder);
          break;
        }
        decoder->checkHigh = c;
        decoder->state = State::kCheck2;
        break;
      case State::kCheck2: {
        if (c == '$') {
          ++decoder->droppedPackets;
          StartBody(decoder);
          break;
        }
        decoder->state = State::kIdle;
        *used = i + 1;
        const int high = HexValue(decoder->checkHigh);
        const int low = HexValue(c);
        event->payload.clear();
        if (decoder->oversize) {
          event->kind = RspEventKind::kOversize;
        } else if (high < 0 || low < 0 || ((high << 4) | low) != decoder->sum) {
          event->kind = RspEventKind::kBadChecksum;
          event->payload = decoder->body;
        } else {
          FinishBody(decoder, event);
        }
        decoder->body.clear();
        decoder->oversize = false;
        return true;
      }
    }
  }
  *used = input.size();
  return false;
}

void RspDecodeAll(RspDecoder* decoder, std::string_view input, std::vector<RspEvent>* events) {
  while (true) {
    std::size_t used = 0;
    RspEvent event;
    if (!RspDecodeNext(decoder, input, &used, &event)) return;
    events->push_back(std::move(event));
    input.remove_prefix(used);
  }
}

void RspAppendHex(std::string_view bytes, std::string* out) {
  out->reserve(out->size() + 2 * bytes.size());
  for (const char c : bytes) {
    const unsigned byte = static_cast<unsigned char>(c);
    out->push_back(kHexDigits[byte >> 4]);
    out->push_back(kHexDigits[byte & 0xFu]);
  }
}

std::string RspToHex(std::string_view bytes) {
  std::string out;
  RspAppendHex(bytes, &out);
  return out;
}

bool RspFromHex(std::string_view hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<char>((high << 4) | low));
  }
  *bytes = std::move(out);
  return true;
}

bool RspParseHexNumber(std::string_view text, std::uint64_t* value) {
  if (text.empty() || text.size() > 16) return false;
  std::uint64_t result = 0;
  for (const char c : text) {
    const int digit = HexValue(c);
    if (digit < 0) return false;
    result = (result << 4) | static_cast<std::uint64_t>(digit);
  }
  *value = result;
  return true;
}

std::string RspHexNumber(std::uint64_t value) {
  char digits[16];
  std::size_t count = 0;
  do {
    digits[count++] = kHexDigits[value & 0xFu];
    value >>= 4;
  } while (value != 0);
  std::string out;
  out.reserve(count);
  while (count > 0)
    out.push_back(digits[--count]);
  return out;
}

void RspAppendLeWord(std::uint64_t value, std::size_t size, std::string* out) {
  if (size > 8) size = 8;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned byte = static_cast<unsigned>((value >> (8 * i)) & 0xFFu);
    out->push_back(kHexDigits[byte >> 4]);
    out->push_back(kHexDigits[byte & 0xFu]);
  }
}

bool RspParseLeWord(std::string_view hex, std::uint64_t* value) {
  if (hex.empty() || hex.size() > 16 || hex.size() % 2 != 0) return false;
  std::uint64_t result = 0;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    result |= static_cast<std::uint64_t>((high << 4) | low) << (4 * i);
  }
  *value = result;
  return true;
}

namespace {

// One part of a thread id: "-1", or hex up to the largest positive value.
bool ParseIdPart(std::string_view text, std::int64_t* value) {
  if (text == "-1") {
    *value = kRspAllThreads;
    return true;
  }
  std::uint64_t number = 0;
  if (!RspParseHexNumber(text, &number)) return false;
  if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
  *value = static_cast<std::int64_t>(number);
  return true;
}

std::string FormatIdPart(std::int64_t value) {
  if (value < 0) return "-1";
  return RspHexNumber(static_cast<std::uint64_t>(value));
}

}  // namespace

bool RspParseThreadId(std::string_view text, RspThreadId* id) {
  RspThreadId parsed;
  if (!text.empty() && text.front() == 'p') {
    text.remove_prefix(1);
    const std::size_t dot = text.find('.');
    parsed.hasPid = true;
    if (!ParseIdPart(text.substr(0, dot), &parsed.pid)) return false;
    if (dot == std::string_view::npos) {
      parsed.tid = kRspAllThreads;
    } else if (!ParseIdPart(text.substr(dot + 1), &parsed.tid)) {
      return false;
    }
  } else if (!ParseIdPart(text, &parsed.tid)) {
    return false;
  }
  *id = parsed;
  return true;
}

std::string RspFormatThreadId(const RspThreadId& id) {
  if (!id.hasPid) return FormatIdPart(id.tid);
  return "p" + FormatIdPart(id.pid) + "." + FormatIdPart(id.tid);
}
