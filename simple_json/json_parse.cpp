// The JSON text parser: a cursor record handed to one function per value
// kind, dispatched on the value's first byte. Errors never stop the parse:
// each is appended as an "Error: " line, and a container that stops early
// hands its partial node up so the enclosing level carries on from there.
// The tree goes into one arena per text; the items of open containers wait
// on two stacks kept per thread, so that each container is laid out once,
// at its exact size, when it closes. Until then nodes pass between the
// steps as plain pointers into the arena: a failed parse releases the arena
// whole, so nothing on the way needs an owner.
#include "simple_json/json_parse.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "simple_json/byte_scan.h"
#include "simple_json/json_storage.h"

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

using Storage = JsonStorageAccess;

// A member read but not yet laid out: its name's bytes and its value, both
// in the arena.
struct PendingMember {
  const char* name;
  std::size_t nameSize;
  JsonValue* value;
};

// Items of the containers that are open, innermost last. Each container
// remembers where its own items start and takes them off when it closes.
struct ParseStacks {
  std::vector<JsonValue*> elements;
  std::vector<PendingMember> members;
};

// Stacks grown past this many bytes are given back after the parse rather
// than kept for the next one.
constexpr std::size_t kKeptStackBytes = 256 * 1024;

struct JsonParser {
  const char* cursor = nullptr;  // the current position in the input
  const char* end = nullptr;     // the input's first NUL, or its end
  int depth = 0;                 // containers currently open
  bool gaveUp = false;           // nesting limit hit: every open container stops quietly
  std::string error;             // accumulated "Error: " lines; empty while none
  JsonArena* arena = nullptr;
  ParseStacks* stacks = nullptr;
};

// Formats one message and appends it as an "Error: " line. Always yields a
// null value so that a value step can return its result directly.
JsonValue* ReportError(JsonParser& parser, ParseMessage message,
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
  return static_cast<unsigned>(byte - '0') <= 9;
}

bool IsHexDigit(unsigned char byte) {
  return IsDigit(byte) || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
}

int HexValue(unsigned char byte) {
  if (IsDigit(byte)) return byte - '0';
  return (byte | 0x20) - 'a' + 10;
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
  const std::string_view rest(parser.cursor, static_cast<std::size_t>(parser.end - parser.cursor));
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

// Wire text puts one blank between tokens, so the first byte mostly decides;
// every blank is at most ' ', so one comparison passes over any other byte.
int SkipWhitespace(JsonParser& parser) {
  const char* p = parser.cursor;
  const char* const end = parser.end;
  for (; p < end; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte > ' ' || !IsWhitespace(byte)) {
      parser.cursor = p;
      return byte;
    }
  }
  parser.cursor = p;
  return kEndOfInput;
}

bool Consume(JsonParser& parser, char expected, std::string_view where) {
  if (parser.cursor < parser.end && *parser.cursor == expected) {
    ++parser.cursor;
    return true;
  }
  ReportError(parser, ParseMessage::kExpected,
              {std::string_view(&expected, 1), where, RestOfInput(parser)});
  return false;
}

bool MatchLiteral(JsonParser& parser, std::string_view word) {
  if (static_cast<std::size_t>(parser.end - parser.cursor) < word.size() ||
      std::memcmp(parser.cursor, word.data(), word.size()) != 0) {
    return false;
  }
  parser.cursor += word.size();
  return true;
}

// The byte c as a one-byte text for "%c"; c is never the end marker here.
std::string_view ByteText(const char& byte) {
  return std::string_view(&byte, 1);
}

JsonValue* NewNode(JsonParser& parser, JsonKind kind) {
  return JsonArenaNewNode(parser.arena, kind);
}

JsonValue* ParseValue(JsonParser& parser);

JsonValue* ParseInteger(JsonParser& parser) {
  constexpr std::uint64_t kLastSafeMagnitude = 0x1999999999999999;  // 1844674407370955161
  constexpr std::uint64_t kLargestNegativeMagnitude = 0x8000000000000000;
  // Nineteen decimal digits always fit in 64 bits; only longer runs (which
  // leading zeros may still keep in range) need the check per digit.
  constexpr std::ptrdiff_t kUncheckedDigits = 19;
  const char* p = parser.cursor;
  const char* const end = parser.end;
  const bool negative = *p == '-';
  if (negative) ++p;
  // A lone '-' has no magnitude at all; refuse it rather than read past it.
  if (p >= end || !IsDigit(*p)) {
    return ReportError(parser, ParseMessage::kMinusWithoutDigit, {RestOfInput(parser)});
  }
  std::uint64_t magnitude = 0;
  const char* const uncheckedEnd = end - p > kUncheckedDigits ? p + kUncheckedDigits : end;
  while (p < uncheckedEnd && IsDigit(*p)) {
    magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
    ++p;
  }
  if (p < end && IsDigit(*p)) {
    bool outOfRange = false;
    for (; p < end && IsDigit(*p); ++p) {
      const auto digit = static_cast<unsigned>(*p - '0');
      if (magnitude > kLastSafeMagnitude || (magnitude == kLastSafeMagnitude && digit > 5)) {
        outOfRange = true;
      }
      if (!outOfRange) magnitude = magnitude * 10 + digit;
    }
    if (outOfRange) return ReportError(parser, ParseMessage::kIntegerRange);
  }
  if (negative && magnitude > kLargestNegativeMagnitude) {
    return ReportError(parser, ParseMessage::kNegativeRange);
  }
  parser.cursor = p;
  JsonValue* node = NewNode(parser, JsonKind::JsonInteger);
  // Unsigned magnitudes above the signed range keep their 64-bit pattern.
  node->number = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
  return node;
}

JsonValue* NewBoolean(JsonParser& parser, std::int64_t flag) {
  JsonValue* node = NewNode(parser, JsonKind::JsonBoolean);
  node->number = flag;
  return node;
}

JsonValue* ParseBoolean(JsonParser& parser) {
  if (MatchLiteral(parser, "true")) return NewBoolean(parser, 1);
  if (MatchLiteral(parser, "false")) return NewBoolean(parser, 0);
  return ReportError(parser, ParseMessage::kBoolean, {RestOfInput(parser)});
}

JsonValue* ParseNull(JsonParser& parser) {
  if (MatchLiteral(parser, "null")) return NewNode(parser, JsonKind::JsonNull);
  return ReportError(parser, ParseMessage::kNull, {RestOfInput(parser)});
}

// Decodes the escape whose letter is at p (below the end) and steps p over
// what it read.
char DecodeEscape(const JsonParser& parser, const char*& p) {
  const auto letter = static_cast<unsigned char>(*p);
  ++p;
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
  if (parser.end - p < 4) return 'u';
  unsigned value = 0;
  for (int i = 0; i < 4; ++i) {
    const auto digit = static_cast<unsigned char>(p[i]);
    if (!IsHexDigit(digit)) return 'u';
    value = value * 16 + static_cast<unsigned>(HexValue(digit));
  }
  p += 4;
  // Only the low byte is kept: strings are byte strings.
  return static_cast<char>(value & 0xFF);
}

// Reads the string whose opening quote is at the position into the arena:
// *bytes (NUL-terminated) and *size. A backslash hides the byte after it, so the closing quote is
// the first quote that no backslash hides; neither a hex digit of "\u" nor
// any byte after a shortened one can be a quote, so this finds the same end
// as decoding would. False after reporting an unterminated string, with the
// position just past the opening quote.
bool ScanString(JsonParser& parser, const char** text, std::size_t* textSize) {
  const char* const start = ++parser.cursor;
  const char* const end = parser.end;
  const char* p = start;
  bool escaped = false;
  for (;;) {
    p = json_scan::FindQuoteOrBackslash(p, end);
    if (p == end) {
      ReportError(parser, ParseMessage::kUnterminatedString);
      return false;
    }
    if (*p == '"') break;
    escaped = true;
    if (end - p < 2) {  // a backslash as the last byte
      ReportError(parser, ParseMessage::kUnterminatedString);
      return false;
    }
    p += 2;
  }
  const auto rawSize = static_cast<std::size_t>(p - start);
  parser.cursor = p + 1;
  auto* bytes = static_cast<char*>(JsonArenaAllocate(parser.arena, rawSize + 1));
  std::size_t size = rawSize;
  if (!escaped) {
    std::memcpy(bytes, start, rawSize);
  } else {
    // A decoded NUL ends the stored text.
    const char* in = start;
    char* out = bytes;
    while (in < p) {
      if (*in != '\\') {
        *out++ = *in++;
        continue;
      }
      ++in;
      const char byte = DecodeEscape(parser, in);
      if (byte == '\0') break;
      *out++ = byte;
    }
    size = static_cast<std::size_t>(out - bytes);
  }
  bytes[size] = '\0';
  *text = bytes;
  *textSize = size;
  return true;
}

JsonValue* ParseString(JsonParser& parser) {
  const char* text = nullptr;
  std::size_t size = 0;
  if (!ScanString(parser, &text, &size)) return nullptr;
  JsonValue* node = NewNode(parser, JsonKind::JsonString);
  node->hasText = true;
  Storage::Borrow(node->text, text, size);
  return node;
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

// The capacity that appending `count` items one by one would have reached.
std::uint32_t CountedCapacity(std::size_t count) {
  if (count <= kJsonInitialCapacity) return kJsonInitialCapacity;
  return static_cast<std::uint32_t>(std::bit_ceil(count));
}

// Lays the array's elements, from `first` on the stack, out in the arena.
JsonValue* CloseArray(JsonParser& parser, std::size_t first) {
  std::vector<JsonValue*>& stack = parser.stacks->elements;
  const std::size_t count = stack.size() - first;
  JsonValue* array = NewNode(parser, JsonKind::JsonArray);
  array->capacity = CountedCapacity(count);
  if (count == 0) return array;
  auto* slots = Storage::ArenaSlots<JsonPtr>(parser.arena, count);
  for (std::size_t i = 0; i < count; ++i)
    new (&slots[i]) JsonPtr(stack[first + i]);
  stack.resize(first);
  Storage::Adopt(array->elements, slots, static_cast<std::uint32_t>(count));
  return array;
}

// Lays the object's members, from `first` on the stack, out in the arena. A
// name that occurs again keeps the position of its first occurrence and takes
// the later value. Past kJsonIndexThreshold members the name index is built
// here, in the arena, and finds the duplicates in linear time.
JsonValue* CloseObject(JsonParser& parser, std::size_t first) {
  std::vector<PendingMember>& stack = parser.stacks->members;
  const std::size_t count = stack.size() - first;
  JsonValue* object = NewNode(parser, JsonKind::JsonObject);
  if (count == 0) {
    object->capacity = CountedCapacity(0);
    return object;
  }
  auto* slots = Storage::ArenaSlots<JsonMember>(parser.arena, count);
  std::size_t kept = 0;
  std::uint32_t* index = nullptr;
  std::size_t indexSize = 0;
  if (count > kJsonIndexThreshold) {
    indexSize = JsonIndexSize(count);
    index = Storage::ArenaSlots<std::uint32_t>(parser.arena, indexSize);
    std::memset(index, 0, indexSize * sizeof(std::uint32_t));
  }
  for (std::size_t i = first; i < stack.size(); ++i) {
    const PendingMember& member = stack[i];
    const std::string_view name(member.name, member.nameSize);
    std::size_t found = kept;
    if (index != nullptr) {
      std::uint32_t& slot = index[JsonIndexFindSlot(slots, index, indexSize, name)];
      if (slot != 0) {
        found = slot - 1;
      } else {
        slot = static_cast<std::uint32_t>(kept + 1);
      }
    } else {
      for (std::size_t j = 0; j < kept; ++j) {
        if (slots[j].name.size() == name.size() &&
            std::memcmp(slots[j].name.data(), name.data(), name.size()) == 0) {
          found = j;
          break;
        }
      }
    }
    if (found < kept) {
      slots[found].value = JsonPtr(member.value);  // the earlier value goes
    } else {
      JsonMember* slot = new (&slots[kept]) JsonMember;
      Storage::Borrow(slot->name, member.name, member.nameSize);
      slot->value = JsonPtr(member.value);
      ++kept;
    }
  }
  stack.resize(first);
  Storage::Adopt(object->members, slots, static_cast<std::uint32_t>(kept));
  object->capacity = CountedCapacity(kept);
  if (kept > kJsonIndexThreshold) {
    Storage::Adopt(object->memberIndex, index, static_cast<std::uint32_t>(indexSize));
  }
  return object;
}

JsonValue* ParseArray(JsonParser& parser) {
  if (!EnterContainer(parser)) return nullptr;
  ++parser.cursor;  // '['
  const std::size_t first = parser.stacks->elements.size();
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
      ++parser.cursor;
      state = State::kAfterComma;
    } else if (state != State::kAfterComma && c == ']') {
      ++parser.cursor;
      break;
    } else if (state == State::kAfterComma && (c == ',' || c == ']')) {
      ReportError(parser, ParseMessage::kArrayAfterComma, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state == State::kStart && c == ',') {
      ReportError(parser, ParseMessage::kArrayBeginning, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state != State::kAfterValue) {
      JsonValue* element = ParseValue(parser);
      if (element == nullptr) break;
      parser.stacks->elements.push_back(element);
      state = State::kAfterValue;
    } else {
      ReportError(parser, ParseMessage::kArrayAfterValue, {ByteText(byte), RestOfInput(parser)});
      break;
    }
  }
  --parser.depth;
  return CloseArray(parser, first);
}

// The states of an object's contents and the byte that comes next decide
// each step. A name is mostly followed by its colon and value at once, so
// those steps run straight on, each making the same checks a fresh round of
// the loop would make first.
JsonValue* ParseObject(JsonParser& parser) {
  if (!EnterContainer(parser)) return nullptr;
  ++parser.cursor;  // '{'
  const std::size_t first = parser.stacks->members.size();
  const char* name = "";  // the pending member name
  std::size_t nameSize = 0;
  enum class State { kStart, kAfterName, kAfterColon, kAfterValue, kAfterComma };
  State state = State::kStart;
  bool open = true;
  while (open && !parser.gaveUp) {
    int c = SkipWhitespace(parser);
    if (c == kEndOfInput) {
      ReportError(parser, ParseMessage::kObjectEnd);
      break;
    }
    switch (state) {
      case State::kStart:
      case State::kAfterComma:
        if (c != '"') {
          if (state == State::kStart && c == '}') {
            ++parser.cursor;
          } else {
            const char byte = static_cast<char>(c);
            ReportError(parser,
                        state == State::kStart ? ParseMessage::kObjectBeginning
                                               : ParseMessage::kObjectAfterComma,
                        {ByteText(byte), RestOfInput(parser)});
          }
          open = false;
          break;
        }
        // An unterminated name is no name: its line is recorded, the object stops.
        if (!ScanString(parser, &name, &nameSize)) {
          open = false;
          break;
        }
        state = State::kAfterName;
        if (SkipWhitespace(parser) == kEndOfInput) break;
        [[fallthrough]];
      case State::kAfterName:
        if (!Consume(parser, ':', "after name in object contents")) {
          open = false;
          break;
        }
        state = State::kAfterColon;
        c = SkipWhitespace(parser);
        if (c == kEndOfInput) break;
        [[fallthrough]];
      case State::kAfterColon: {
        if (c == ',' || c == '}') {
          const char byte = static_cast<char>(c);
          ReportError(parser, ParseMessage::kObjectAfterColon,
                      {ByteText(byte), RestOfInput(parser)});
          open = false;
          break;
        }
        JsonValue* value = ParseValue(parser);
        if (parser.gaveUp) break;
        if (value == nullptr) {
          ReportError(parser, ParseMessage::kObjectSetFailed, {std::string_view(name, nameSize)});
        } else {
          parser.stacks->members.push_back(PendingMember{name, nameSize, value});
        }
        state = State::kAfterValue;
        break;
      }
      case State::kAfterValue:
        if (c == ',') {
          ++parser.cursor;
          state = State::kAfterComma;
        } else {
          if (c == '}') {
            ++parser.cursor;
          } else {
            const char byte = static_cast<char>(c);
            ReportError(parser, ParseMessage::kObjectAfterValue,
                        {ByteText(byte), RestOfInput(parser)});
          }
          open = false;
        }
        break;
    }
  }
  --parser.depth;
  return CloseObject(parser, first);
}

JsonValue* ParseValue(JsonParser& parser) {
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

// Gives back stacks that a large text grew, so that one long line does not
// keep its memory for the rest of the process.
void TrimStacks(ParseStacks& stacks) {
  if (stacks.elements.capacity() * sizeof(JsonValue*) > kKeptStackBytes) {
    std::vector<JsonValue*>().swap(stacks.elements);
  }
  if (stacks.members.capacity() * sizeof(PendingMember) > kKeptStackBytes) {
    std::vector<PendingMember>().swap(stacks.members);
  }
}

}  // namespace

JsonPtr JsonParse(std::string_view text, std::string* error) {
  thread_local ParseStacks stacks;
  text = text.substr(0, text.find('\0'));
  JsonParser parser;
  parser.cursor = text.data();
  parser.end = text.data() + text.size();
  parser.arena = JsonArenaCreate(text.size());
  parser.stacks = &stacks;
  JsonValue* const root = ParseValue(parser);
  // Every container took its items off the stacks when it closed.
  TrimStacks(stacks);
  if (!parser.error.empty() || root == nullptr) {
    // A partial tree from a cascade: its nodes own nothing outside the
    // arena, so the arena goes at once without visiting them.
    JsonArenaFinish(parser.arena, nullptr);
    if (error != nullptr) *error = std::move(parser.error);
    return nullptr;
  }
  JsonArenaFinish(parser.arena, root);
  JsonPtr tree(root);
  if (error != nullptr) error->clear();
  return tree;
}
