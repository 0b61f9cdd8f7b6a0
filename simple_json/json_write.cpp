// The JSON text writer: one-line wire text with fixed spacing, an indented
// variant, and string quoting through a 256-entry escape table.
#include "simple_json/json_write.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "simple_json/byte_scan.h"

namespace {

// Escape text for one byte value; length 0 means the byte is copied as it is.
struct JsonEscape {
  std::array<char, 6> text{};
  std::uint8_t length = 0;
};

constexpr JsonEscape TwoCharEscape(char letter) {
  JsonEscape escape;
  escape.text[0] = '\\';
  escape.text[1] = letter;
  escape.length = 2;
  return escape;
}

constexpr JsonEscape UnicodeEscape(unsigned byte) {
  constexpr char kHexDigits[] = "0123456789abcdef";
  JsonEscape escape;
  escape.text = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
  escape.length = 6;
  return escape;
}

// Control bytes and every byte above 0x7E leave the writer as "\u00xx", one
// escape per byte, so that byte strings survive a write and a parse unchanged
// whatever encoding they carry. '/' is not escaped.
constexpr std::array<JsonEscape, 256> MakeEscapeTable() {
  std::array<JsonEscape, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (byte < 0x20 || byte >= 0x7F) table[byte] = UnicodeEscape(byte);
  }
  table[0x08] = TwoCharEscape('b');
  table[0x09] = TwoCharEscape('t');
  table[0x0A] = TwoCharEscape('n');
  table[0x0C] = TwoCharEscape('f');
  table[0x0D] = TwoCharEscape('r');
  table[0x22] = TwoCharEscape('"');
  table[0x5C] = TwoCharEscape('\\');
  return table;
}

constexpr std::array<JsonEscape, 256> JsonEscapeTable = MakeEscapeTable();
static_assert(JsonEscapeTable.size() == 256, "one escape entry per byte value");
static_assert(JsonEscapeTable['/'].length == 0 && JsonEscapeTable[0x7F].length == 6 &&
                  JsonEscapeTable['\n'].length == 2,
              "escape table layout");

// The writer's block scan stops exactly at the bytes that the table escapes.
constexpr bool ScanMatchesTable() {
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (json_scan::NeedsEscape(static_cast<unsigned char>(byte)) !=
        (JsonEscapeTable[byte].length != 0)) {
      return false;
    }
  }
  return true;
}
static_assert(ScanMatchesTable(), "block scan and escape table agree");

// Appends to a string through a cursor: the string is grown ahead (doubling)
// and cut back to the written length when the sink is done, so each token
// costs one room check and a copy of known length.
class WireSink {
 public:
  explicit WireSink(std::string& out) : out_(out), used_(out.size()) {}
  WireSink(const WireSink&) = delete;
  WireSink& operator=(const WireSink&) = delete;
  ~WireSink() { out_.resize(used_); }

  void Put(const char* bytes, std::size_t size) {
    std::memcpy(Room(size), bytes, size);
    used_ += size;
  }
  void Put(std::string_view text) { Put(text.data(), text.size()); }
  void Put(char byte) {
    *Room(1) = byte;
    ++used_;
  }
  // Signed decimal as printf's "%lld" writes it, straight into the string.
  void PutInteger(std::int64_t value) {
    constexpr std::size_t kLongest = 20;  // "-9223372036854775808"
    char* at = Room(kLongest);
    const auto result = std::to_chars(at, at + kLongest, value);
    used_ += static_cast<std::size_t>(result.ptr - at);
  }

 private:
  char* Room(std::size_t size) {
    if (out_.size() - used_ < size) out_.resize(2 * (used_ + size) + 64);
    return out_.data() + used_;
  }

  std::string& out_;
  std::size_t used_;
};

void Quote(WireSink& sink, std::string_view text) {
  sink.Put('"');
  if (json_scan::NeedsNoEscape(text.data(), text.size())) {
    sink.Put(text);
    sink.Put('"');
    return;
  }
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    // Plain runs go out in one piece; the block scan finds where each ends.
    const char* runEnd = json_scan::FindEscapeByte(p, end);
    sink.Put(p, static_cast<std::size_t>(runEnd - p));
    p = runEnd;
    while (p < end) {
      const JsonEscape& escape = JsonEscapeTable[static_cast<unsigned char>(*p)];
      if (escape.length == 0) break;
      sink.Put(escape.text.data(), escape.length);
      ++p;
    }
  }
  sink.Put('"');
}

using namespace std::string_view_literals;

// The one-line wire form.
void WriteWire(WireSink& sink, const JsonValue* value) {
  if (value == nullptr) {
    sink.Put("null"sv);
    return;
  }
  switch (value->kind) {
    case JsonKind::JsonBoolean:
      sink.Put(value->number != 0 ? "true"sv : "false"sv);
      return;
    case JsonKind::JsonInteger:
      sink.PutInteger(value->number);
      return;
    case JsonKind::JsonString:
      if (value->hasText) {
        Quote(sink, value->text.view());
      } else {
        sink.Put("\"(null)\""sv);
      }
      return;
    case JsonKind::JsonObject: {
      sink.Put("{ "sv);
      const std::size_t count = value->members.size();
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) sink.Put(", "sv);
        const JsonMember& member = value->members[i];
        Quote(sink, member.name.view());
        sink.Put(" : "sv);
        WriteWire(sink, member.value.get());
      }
      sink.Put(" }"sv);
      return;
    }
    case JsonKind::JsonArray: {
      sink.Put("[ "sv);
      const std::size_t count = value->elements.size();
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) sink.Put(", "sv);
        WriteWire(sink, value->elements[i].get());
      }
      sink.Put(" ]"sv);
      return;
    }
    case JsonKind::JsonNull:
      break;
  }
  // Null, and any kind code outside the known ones.
  sink.Put("null"sv);
}

void AppendIndent(std::string& out, int width, int level) {
  if (level > 0) out.append(static_cast<std::size_t>(width) * static_cast<std::size_t>(level), ' ');
}

void WriteValue(std::string& out, const JsonValue* value, int width, int level);

// Writes the opening bracket, each item through `writeItem`, and the closing
// bracket. Width 0 is the one-line wire form; otherwise one item per line.
template <typename WriteItem>
void WriteContainer(std::string& out, char open, char close, std::size_t count, int width,
                    int level, WriteItem writeItem) {
  out.push_back(open);
  out.push_back(' ');
  if (width > 0) out.push_back('\n');
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out.append(width > 0 ? ", \n" : ", ");
    AppendIndent(out, width, level + 1);
    writeItem(i);
  }
  if (width > 0) {
    out.push_back('\n');
    AppendIndent(out, width, level);
  } else {
    out.push_back(' ');
  }
  out.push_back(close);
}

void WriteValue(std::string& out, const JsonValue* value, int width, int level) {
  if (value == nullptr) {
    out.append("null");
    return;
  }
  switch (value->kind) {
    case JsonKind::JsonBoolean:
      out.append(value->number != 0 ? "true" : "false");
      return;
    case JsonKind::JsonInteger: {
      char digits[24];
      const auto result = std::to_chars(digits, digits + sizeof digits, value->number);
      out.append(digits, result.ptr);
      return;
    }
    case JsonKind::JsonString:
      if (value->hasText) {
        JsonQuote(out, value->text.view());
      } else {
        JsonQuote(out, static_cast<const char*>(nullptr));
      }
      return;
    case JsonKind::JsonObject:
      WriteContainer(out, '{', '}', value->members.size(), width, level, [&](std::size_t i) {
        const JsonMember& member = value->members[i];
        JsonQuote(out, member.name.view());
        out.append(" : ");
        WriteValue(out, member.value.get(), width, level + 1);
      });
      return;
    case JsonKind::JsonArray:
      WriteContainer(out, '[', ']', value->elements.size(), width, level, [&](std::size_t i) {
        WriteValue(out, value->elements[i].get(), width, level + 1);
      });
      return;
    case JsonKind::JsonNull:
      break;
  }
  // Null, and any kind code outside the known ones.
  out.append("null");
}

}  // namespace

std::string& JsonWrite(std::string& out, const JsonValue* value) {
  WireSink sink(out);
  WriteWire(sink, value);
  return out;
}

std::string& JsonQuote(std::string& out, const char* text) {
  if (text == nullptr) return out.append("\"(null)\"");
  return JsonQuote(out, std::string_view(text));
}

std::string& JsonQuote(std::string& out, std::string_view text) {
  // A text with nothing to escape (names, most values) is appended in one
  // piece, without a sink growing the string ahead of the bytes.
  if (json_scan::NeedsNoEscape(text.data(), text.size())) {
    // Short texts go in with their quotes in one append.
    constexpr std::size_t kShortText = 62;
    if (text.size() <= kShortText) {
      char quoted[kShortText + 2];
      quoted[0] = '"';
      if (!text.empty()) std::memcpy(quoted + 1, text.data(), text.size());
      quoted[text.size() + 1] = '"';
      return out.append(quoted, text.size() + 2);
    }
    out.push_back('"');
    out.append(text);
    out.push_back('"');
    return out;
  }
  WireSink sink(out);
  Quote(sink, text);
  return out;
}

std::string& JsonWriteIndented(std::string& out, const JsonValue* value, int width, int level) {
  if (width <= 0) return JsonWrite(out, value);
  WriteValue(out, value, width, level > 0 ? level : 0);
  return out;
}
