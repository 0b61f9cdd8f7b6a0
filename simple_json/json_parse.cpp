// The JSON text parser: a cursor record handed to one function per value
// kind, dispatched on the value's first byte. Errors never stop the parse:
// each is appended as an "Error: " line, and a container that stops early
// hands its partial node up so the enclosing level carries on from there.
#include "simple_json/json_parse.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <utility>

namespace {

// Every message that the parser can report; the texts reach the debugger
// in parse-error answers, so their wording is part of the wire interface.
enum class ParseMessage : std::uint8_t {
  kExpected,
  kIntegerRange,
  kNegativeRange,
  kBoolean,
  kNull,
  kUnterminatedString,
  kArrayEnd,
  kArrayAfterComma,
  kArrayBeginning,
  kArrayAfterValue,
  kObjectEnd,
  kObjectBeginning,
  kObjectAfterComma,
  kObjectAfterColon,
  kObjectSetFailed,
  kObjectAfterValue,
  kValueEnd,
  kValueCharacter,
  kMinusWithoutDigit,
  kTooDeep,
  kCount,
};

// "%c" and "%s" each take the next argument as it is; nothing else is a
// directive, and the input is never used as a format.
constexpr std::array<std::string_view, static_cast<std::size_t>(ParseMessage::kCount)>
    kParseMessages = {
        "expected '%c' %s, got '%s'",
        "integer value out of range",
        "negative integer value out of range",
        "unable to parse Boolean, got '%s'",
        "unable to parse null, got '%s'",
        "unterminated string constant",
        "unexpected end of input while parsing array",
        "unexpected '%c' after comma in array contents, got '%s'",
        "unexpected '%c' at beginning of array contents, got '%s'",
        "unexpected '%c' after value in array contents, got '%s'",
        "unexpected end of input while parsing object",
        "unexpected '%c' at beginning of object contents, got '%s'",
        "unexpected '%c' after comma in object contents, got '%s'",
        "unexpected '%c' after colon in object contents, got '%s'",
        "failed to set '%s' property in object",
        "unexpected '%c' after value in object contents, got '%s'",
        "unexpected end of input, expected a value",
        "unexpected character '%c', expected a value, got: '%s'",
        "expected a digit after '-', got '%s'",
        "containers nested deeper than 512 levels",
};
static_assert(kParseMessages.size() == static_cast<std::size_t>(ParseMessage::kCount));
static_assert(!kParseMessages.back().empty(), "every message has a text");
static_assert(kJsonMaxDepth == 512, "the nesting message names the limit");

// Returned by SkipWhitespace at the end of the input; no byte value equals it.
constexpr int kEndOfInput = 256;

struct JsonParser {
  std::string_view text;  // the input, up to (not including) its first NUL
  std::size_t position = 0;
  int depth = 0;        // containers currently open
  bool gaveUp = false;  // nesting limit hit: every open container stops quietly
  std::string error;    // accumulated "Error: " lines; empty while none
};

// Formats one message and appends it as an "Error: " line. Always yields a
// null value so that a value step can return its result directly.
JsonPtr ReportError(JsonParser& parser, ParseMessage message,
                    std::initializer_list<std::string_view> args = {}) {
  std::string& error = parser.error;
  if (!error.empty()) error.push_back('\n');
  error.append("Error: ");
  const std::string_view format = kParseMessages[static_cast<std::size_t>(message)];
  const std::string_view* arg = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        (format[i + 1] == 'c' || format[i + 1] == 's') && arg != args.end()) {
      error.append(*arg++);
      ++i;
    } else {
      error.push_back(format[i]);
    }
  }
  return nullptr;
}

bool IsWhitespace(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}

bool IsDigit(int byte) {
  return byte >= '0' && byte <= '9';
}

bool IsHexDigit(unsigned char byte) {
  return IsDigit(byte) || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
}

int HexValue(unsigned char byte) {
  if (IsDigit(byte)) return byte - '0';
  return (byte | 0x20) - 'a' + 10;
}

unsigned char ByteAt(const JsonParser& parser, std::size_t index) {
  return static_cast<unsigned char>(parser.text[index]);
}

// Longest remainder of the input that an error line quotes in full.
constexpr std::size_t kQuotedRestLimit = 256;

// The rest of the input from the position, as an error line quotes it. Every
// level of a cascade quotes the same rest, so unbounded quotes would repeat
// the tail of a message once per level. A rest of more than kQuotedRestLimit
// bytes is cut to its first kQuotedRestLimit bytes, or up to three fewer so
// as not to split a UTF-8 sequence, and "..." follows; shorter rests are
// quoted whole. Only the quoted rest is cut: the message's own words and the
// quote marks around the rest always stay, so each line keeps its shape.
std::string RestOfInput(const JsonParser& parser) {
  const std::string_view rest = parser.text.substr(parser.position);
  if (rest.size() <= kQuotedRestLimit) return std::string(rest);
  std::size_t cut = kQuotedRestLimit;
  const auto isContinuation = [&rest](std::size_t at) {
    return (static_cast<unsigned char>(rest[at]) & 0xC0) == 0x80;
  };
  for (std::size_t back = 0; back < 3 && isContinuation(cut); ++back) {
    --cut;
  }
  if (isContinuation(cut)) cut = kQuotedRestLimit;  // no sequence to keep whole
  std::string quoted(rest.substr(0, cut));
  quoted.append("...");
  return quoted;
}

int SkipWhitespace(JsonParser& parser) {
  while (parser.position < parser.text.size() && IsWhitespace(ByteAt(parser, parser.position))) {
    ++parser.position;
  }
  return parser.position < parser.text.size() ? ByteAt(parser, parser.position) : kEndOfInput;
}

void SetPosition(JsonParser& parser, std::size_t position) {
  parser.position = position < parser.text.size() ? position : parser.text.size();
}

bool Consume(JsonParser& parser, char expected, std::string_view where) {
  if (parser.position < parser.text.size() && parser.text[parser.position] == expected) {
    ++parser.position;
    return true;
  }
  ReportError(parser, ParseMessage::kExpected,
              {std::string_view(&expected, 1), where, RestOfInput(parser)});
  return false;
}

bool MatchLiteral(JsonParser& parser, std::string_view word) {
  if (parser.text.size() - parser.position < word.size() ||
      parser.text.compare(parser.position, word.size(), word) != 0) {
    return false;
  }
  parser.position += word.size();
  return true;
}

// The byte c as a one-byte text for "%c"; c is never the end marker here.
std::string_view ByteText(const char& byte) {
  return std::string_view(&byte, 1);
}

JsonPtr ParseValue(JsonParser& parser);

JsonPtr ParseInteger(JsonParser& parser) {
  constexpr std::uint64_t kLastSafeMagnitude = 0x1999999999999999;  // 1844674407370955161
  constexpr std::uint64_t kLargestNegativeMagnitude = 0x8000000000000000;
  std::size_t cursor = parser.position;
  const std::size_t end = parser.text.size();
  const bool negative = ByteAt(parser, cursor) == '-';
  if (negative) ++cursor;
  // A lone '-' has no magnitude at all; refuse it rather than read past it.
  if (cursor >= end || !IsDigit(ByteAt(parser, cursor))) {
    return ReportError(parser, ParseMessage::kMinusWithoutDigit, {RestOfInput(parser)});
  }
  std::uint64_t magnitude = 0;
  bool outOfRange = false;
  for (; cursor < end && IsDigit(ByteAt(parser, cursor)); ++cursor) {
    const unsigned digit = ByteAt(parser, cursor) - '0';
    if (magnitude > kLastSafeMagnitude || (magnitude == kLastSafeMagnitude && digit > 5)) {
      outOfRange = true;
    }
    if (!outOfRange) magnitude = magnitude * 10 + digit;
  }
  if (outOfRange) return ReportError(parser, ParseMessage::kIntegerRange);
  if (negative && magnitude > kLargestNegativeMagnitude) {
    return ReportError(parser, ParseMessage::kNegativeRange);
  }
  SetPosition(parser, cursor);
  // Unsigned magnitudes above the signed range keep their 64-bit pattern.
  return JsonNewInteger(static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude));
}

JsonPtr ParseBoolean(JsonParser& parser) {
  if (MatchLiteral(parser, "true")) return JsonNewBoolean(1);
  if (MatchLiteral(parser, "false")) return JsonNewBoolean(0);
  return ReportError(parser, ParseMessage::kBoolean, {RestOfInput(parser)});
}

JsonPtr ParseNull(JsonParser& parser) {
  if (MatchLiteral(parser, "null")) return JsonNewNull();
  return ReportError(parser, ParseMessage::kNull, {RestOfInput(parser)});
}

// Decodes the escape whose letter is at cursor (below the end) and steps the
// cursor over what it read.
char DecodeEscape(const JsonParser& parser, std::size_t& cursor) {
  const unsigned char letter = ByteAt(parser, cursor);
  ++cursor;
  switch (letter) {
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    case 'u':
      break;
    default:
      return static_cast<char>(letter);
  }
  if (parser.text.size() - cursor < 4) return 'u';
  unsigned value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const unsigned char digit = ByteAt(parser, cursor + i);
    if (!IsHexDigit(digit)) return 'u';
    value = value * 16 + static_cast<unsigned>(HexValue(digit));
  }
  cursor += 4;
  // Only the low byte is kept: strings are byte strings.
  return static_cast<char>(value & 0xFF);
}

JsonPtr ParseString(JsonParser& parser) {
  if (!Consume(parser, '"', "at beginning of string")) return nullptr;
  const std::size_t end = parser.text.size();
  std::string buffer;
  std::size_t cursor = parser.position;
  bool escapePending = false;
  bool closed = false;
  while (cursor < end) {
    if (escapePending) {
      escapePending = false;
      buffer.push_back(DecodeEscape(parser, cursor));
      continue;
    }
    const char byte = parser.text[cursor];
    if (byte == '\\') {
      escapePending = true;
      ++cursor;
    } else if (byte == '"') {
      ++cursor;
      closed = true;
      break;
    } else {
      std::size_t runEnd = parser.text.find_first_of("\\\"", cursor);
      if (runEnd == std::string_view::npos) runEnd = end;
      buffer.append(parser.text.substr(cursor, runEnd - cursor));
      cursor = runEnd;
    }
  }
  if (!closed) return ReportError(parser, ParseMessage::kUnterminatedString);
  SetPosition(parser, cursor);
  // A decoded NUL ends the stored text.
  return JsonNewStringOwned(std::move(buffer));
}

// Opens one nesting level, or refuses it past the limit: then every open
// container stops without further lines, so hostile depth costs one line.
bool EnterContainer(JsonParser& parser) {
  if (parser.depth >= kJsonMaxDepth) {
    ReportError(parser, ParseMessage::kTooDeep);
    parser.gaveUp = true;
    return false;
  }
  ++parser.depth;
  return true;
}

JsonPtr ParseArray(JsonParser& parser) {
  if (!EnterContainer(parser)) return nullptr;
  if (!Consume(parser, '[', "at beginning of array")) {
    --parser.depth;
    return nullptr;
  }
  JsonPtr array = JsonNewArray();
  enum class State { kStart, kAfterValue, kAfterComma } state = State::kStart;
  for (;;) {
    if (parser.gaveUp) break;
    const int c = SkipWhitespace(parser);
    if (c == kEndOfInput) {
      ReportError(parser, ParseMessage::kArrayEnd);
      break;
    }
    const char byte = static_cast<char>(c);
    if (state == State::kAfterValue && c == ',') {
      Consume(parser, ',', "after value in array contents");
      state = State::kAfterComma;
    } else if (state != State::kAfterComma && c == ']') {
      Consume(parser, ']', "at end of array");
      break;
    } else if (state == State::kAfterComma && (c == ',' || c == ']')) {
      ReportError(parser, ParseMessage::kArrayAfterComma, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state == State::kStart && c == ',') {
      ReportError(parser, ParseMessage::kArrayBeginning, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state != State::kAfterValue) {
      JsonPtr element = ParseValue(parser);
      if (element == nullptr) break;
      JsonArrayAppend(array.get(), std::move(element));
      state = State::kAfterValue;
    } else {
      ReportError(parser, ParseMessage::kArrayAfterValue, {ByteText(byte), RestOfInput(parser)});
      break;
    }
  }
  --parser.depth;
  return array;
}

JsonPtr ParseObject(JsonParser& parser) {
  if (!EnterContainer(parser)) return nullptr;
  if (!Consume(parser, '{', "at beginning of object")) {
    --parser.depth;
    return nullptr;
  }
  JsonPtr object = JsonNewObject();
  JsonPtr name;  // the pending member name, a string node
  enum class State { kStart, kAfterName, kAfterColon, kAfterValue, kAfterComma };
  State state = State::kStart;
  for (;;) {
    if (parser.gaveUp) break;
    const int c = SkipWhitespace(parser);
    if (c == kEndOfInput) {
      ReportError(parser, ParseMessage::kObjectEnd);
      break;
    }
    const char byte = static_cast<char>(c);
    if ((state == State::kStart || state == State::kAfterComma) && c == '"') {
      name = ParseString(parser);
      // An unterminated name is no name: its line is recorded, the object stops.
      if (name == nullptr) break;
      state = State::kAfterName;
    } else if (state == State::kAfterName) {
      if (!Consume(parser, ':', "after name in object contents")) break;
      state = State::kAfterColon;
    } else if (state == State::kStart && c != '}') {
      ReportError(parser, ParseMessage::kObjectBeginning, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state == State::kAfterComma) {
      ReportError(parser, ParseMessage::kObjectAfterComma, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state == State::kAfterColon && (c == ',' || c == '}')) {
      ReportError(parser, ParseMessage::kObjectAfterColon, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state == State::kAfterColon) {
      JsonPtr value = ParseValue(parser);
      if (parser.gaveUp) break;
      // A later duplicate name replaces the value and keeps the first position.
      if (value == nullptr || !JsonObjectSet(object.get(), name->text, std::move(value))) {
        ReportError(parser, ParseMessage::kObjectSetFailed, {name->text});
      }
      name.reset();
      state = State::kAfterValue;
    } else if (state == State::kAfterValue && c == ',') {
      Consume(parser, ',', "after value in object contents");
      state = State::kAfterComma;
    } else if (state == State::kAfterValue && c != '}') {
      ReportError(parser, ParseMessage::kObjectAfterValue, {ByteText(byte), RestOfInput(parser)});
      break;
    } else {
      Consume(parser, '}', "at end of object");
      break;
    }
  }
  --parser.depth;
  return object;
}

JsonPtr ParseValue(JsonParser& parser) {
  const int c = SkipWhitespace(parser);
  switch (c) {
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
    case '-':
      return ParseInteger(parser);
    case 't':
    case 'f':
      return ParseBoolean(parser);
    case 'n':
      return ParseNull(parser);
    case '"':
      return ParseString(parser);
    case '[':
      return ParseArray(parser);
    case '{':
      return ParseObject(parser);
    case kEndOfInput:
      return ReportError(parser, ParseMessage::kValueEnd);
    default: {
      const char byte = static_cast<char>(c);
      return ReportError(parser, ParseMessage::kValueCharacter,
                         {ByteText(byte), RestOfInput(parser)});
    }
  }
}

}  // namespace

JsonPtr JsonParse(std::string_view text, std::string* error) {
  JsonParser parser;
  parser.text = text.substr(0, text.find('\0'));
  JsonPtr tree = ParseValue(parser);
  if (!parser.error.empty()) {
    tree.reset();  // a partial tree from a cascade
    if (error != nullptr) *error = std::move(parser.error);
    return nullptr;
  }
  if (error != nullptr) error->clear();
  return tree;
}
