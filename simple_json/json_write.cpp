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
  explicit WireSink(std::string& out)
      : out_(out), cursor_(out.data() + out.size()), limit_(cursor_) {}
  WireSink(const WireSink&) = delete;
  WireSink& operator=(const WireSink&) = delete;
  ~WireSink() { out_.resize(static_cast<std::size_t>(cursor_ - out_.data())); }

  // At least `size` writable bytes at the cursor; Advance then counts the
  // bytes written there.
  char* Room(std::size_t size) {
    if (static_cast<std::size_t>(limit_ - cursor_) < size) Grow(size);
    return cursor_;
  }
  void Advance(std::size_t size) { cursor_ += size; }

  void Put(const char* bytes, std::size_t size) {
    std::memcpy(Room(size), bytes, size);
    cursor_ += size;
  }
  void Put(std::string_view text) { Put(text.data(), text.size()); }
  void Put(char byte) {
    *Room(1) = byte;
    ++cursor_;
  }
  // Signed decimal as printf's "%lld" writes it, straight into the string.
  void PutInteger(std::int64_t value) {
    constexpr std::size_t kLongest = 20;  // "-9223372036854775808"
    char* at = Room(kLongest);
    cursor_ = std::to_chars(at, at + kLongest, value).ptr;
  }

 private:
  void Grow(std::size_t size) {
    const auto used = static_cast<std::size_t>(cursor_ - out_.data());
    out_.resize(2 * (used + size) + 64);
    cursor_ = out_.data() + used;
    limit_ = out_.data() + out_.size();
  }

  std::string& out_;
  char* cursor_;
  char* limit_;
};

// CopyPlain for texts of more than sixteen bytes, kept out of line so that
// the short cases stay small where they are inlined.
[[gnu::noinline]] bool CopyPlainLong(const char* in, std::size_t size, char* out) {
  return json_scan::CopyPlainBlocks(in, size, out);
}

// Copies text to `out` when no byte of it needs an escape. Short texts are
// tested and copied in the same one or two words, loaded from both ends (so
// they may overlap); texts below four bytes are packed into one word with
// plain filler. False, with `out` partly written, when some byte needs an
// escape.
inline bool CopyPlain(std::string_view text, char* out) {
  const std::size_t size = text.size();
  const char* const in = text.data();
  if (size > 16) return CopyPlainLong(in, size, out);
  if (size >= 8) {
    const std::uint64_t head = json_scan::LoadWord(in);
    const std::uint64_t tail = json_scan::LoadWord(in + size - 8);
    if (!json_scan::PlainWord(head) || !json_scan::PlainWord(tail)) return false;
    std::memcpy(out, &head, sizeof head);
    std::memcpy(out + size - 8, &tail, sizeof tail);
    return true;
  }
  if (size >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, in, sizeof head);
    std::memcpy(&tail, in + size - 4, sizeof tail);
    if (!json_scan::PlainWord(std::uint64_t{head} | (std::uint64_t{tail} << 32))) return false;
    std::memcpy(out, &head, sizeof head);
    std::memcpy(out + size - 4, &tail, sizeof tail);
    return true;
  }
  if (size == 0) return true;
  // One to three bytes: the first, the middle and the last cover them all.
  const auto first = static_cast<unsigned char>(in[0]);
  const auto middle = static_cast<unsigned char>(in[size / 2]);
  const auto last = static_cast<unsigned char>(in[size - 1]);
  constexpr std::uint64_t kFiller = json_scan::kOnes * 'a' << 24;
  if (!json_scan::PlainWord(kFiller | first | (middle << 8) | (std::uint64_t{last} << 16))) {
    return false;
  }
  out[0] = static_cast<char>(first);
  out[size / 2] = static_cast<char>(middle);
  out[size - 1] = static_cast<char>(last);
  return true;
}

// Quote for a text with bytes to escape: plain runs go out in one piece
// between the escapes; the block scan finds where each run ends.
[[gnu::noinline]] void QuoteEscaped(WireSink& sink, std::string_view text) {
  sink.Put('"');
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
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

inline void Quote(WireSink& sink, std::string_view text) {
  char* const out = sink.Room(text.size() + 2);
  if (CopyPlain(text, out + 1)) {
    out[0] = '"';
    out[text.size() + 1] = '"';
    sink.Advance(text.size() + 2);
    return;
  }
  QuoteEscaped(sink, text);
}

using namespace std::string_view_literals;

void WriteWire(WireSink& sink, const JsonValue* value);

// An item of a container: texts and integers, which most items are, are
// written here without a call; anything else goes through WriteWire.
inline void WriteItem(WireSink& sink, const JsonValue* value) {
  if (value != nullptr) {
    if (value->kind == JsonKind::JsonString && value->hasText) {
      Quote(sink, value->text.view());
      return;
    }
    if (value->kind == JsonKind::JsonInteger) {
      sink.PutInteger(value->number);
      return;
    }
  }
  WriteWire(sink, value);
}

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
      const std::size_t count = value->members.size();
      for (std::size_t i = 0; i < count; ++i) {
        const JsonMember& member = value->members[i];
        const std::string_view name = member.name.view();
        // "{ " or ", ", the quoted name and " : " go into one room.
        char* const out = sink.Room(name.size() + 7);
        std::memcpy(out, i == 0 ? "{ \"" : ", \"", 3);
        if (CopyPlain(name, out + 3)) {
          std::memcpy(out + 3 + name.size(), "\" : ", 4);
          sink.Advance(name.size() + 7);
        } else {
          sink.Advance(2);
          QuoteEscaped(sink, name);
          sink.Put(" : "sv);
        }
        WriteItem(sink, member.value.get());
      }
      sink.Put(count == 0 ? "{  }"sv : " }"sv);
      return;
    }
    case JsonKind::JsonArray: {
      sink.Put("[ "sv);
      const std::size_t count = value->elements.size();
      for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) sink.Put(", "sv);
        WriteItem(sink, value->elements[i].get());
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
  // piece, without a sink growing the string ahead of the bytes. Short texts
  // go in with their quotes in one append.
  constexpr std::size_t kShortText = 62;
  if (text.size() <= kShortText) {
    char quoted[kShortText + 2];
    if (CopyPlain(text, quoted + 1)) {
      quoted[0] = '"';
      quoted[text.size() + 1] = '"';
      return out.append(quoted, text.size() + 2);
    }
  } else if (json_scan::NeedsNoEscape(text.data(), text.size())) {
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
