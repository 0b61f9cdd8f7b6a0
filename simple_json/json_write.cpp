// The JSON text writer: one-line wire text with fixed spacing, an indented
// variant, and string quoting through a 256-entry escape table.
#include "simple_json/json_write.h"

#include <array>
#include <charconv>
#include <cstdint>

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

void AppendIndent(std::string& out, int width, int level) {
  if (level > 0) out.append(static_cast<std::size_t>(width) * static_cast<std::size_t>(level), ' ');
}

void WriteValue(std::string& out, const JsonValue* value, int width, int level);

// Writes the opening bracket, each item through `write_item`, and the closing
// bracket. Width 0 is the one-line wire form; otherwise one item per line.
template <typename WriteItem>
void WriteContainer(std::string& out, char open, char close, std::size_t count, int width,
                    int level, WriteItem write_item) {
  out.push_back(open);
  out.push_back(' ');
  if (width > 0) out.push_back('\n');
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out.append(width > 0 ? ", \n" : ", ");
    AppendIndent(out, width, level + 1);
    write_item(i);
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
        JsonQuote(out, std::string_view(value->text));
      } else {
        JsonQuote(out, static_cast<const char*>(nullptr));
      }
      return;
    case JsonKind::JsonObject:
      WriteContainer(out, '{', '}', value->members.size(), width, level, [&](std::size_t i) {
        const JsonMember& member = value->members[i];
        JsonQuote(out, std::string_view(member.name));
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
  WriteValue(out, value, 0, 0);
  return out;
}

std::string& JsonQuote(std::string& out, const char* text) {
  if (text == nullptr) return out.append("\"(null)\"");
  return JsonQuote(out, std::string_view(text));
}

std::string& JsonQuote(std::string& out, std::string_view text) {
  out.push_back('"');
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const JsonEscape& escape = JsonEscapeTable[bytes[i]];
    if (escape.length != 0) {
      out.append(escape.text.data(), escape.length);
      ++i;
      continue;
    }
    std::size_t run_end = i + 1;
    while (run_end < size && JsonEscapeTable[bytes[run_end]].length == 0)
      ++run_end;
    out.append(text.data() + i, run_end - i);
    i = run_end;
  }
  out.push_back('"');
  return out;
}

std::string& JsonWriteIndented(std::string& out, const JsonValue* value, int width, int level) {
  WriteValue(out, value, width > 0 ? width : 0, level > 0 ? level : 0);
  return out;
}
