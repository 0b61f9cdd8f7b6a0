// The JSON text parser: a cursor record handed to one function per value
// kind, dispatched on the value's first byte. Errors never stop the parse:
// each is appended as an "Error: " line, and a container that stops early
// hands its partial node up so the enclosing level carries on from there.
// The tree goes into one arena per text, which starts with a copy of the text
// itself, ended by a NUL and padding. The first NUL ends the text for every
// step, so no step checks an end pointer, the block scans read whole blocks,
// and strings are decoded and terminated where they stand. An object builds
// its first few members in place, in slots taken when it opens; the other
// items of open containers wait on two stacks kept per thread, so that each
// container is laid out once, at its exact size, when it closes. Until then
// nodes pass between the steps as plain pointers into the arena: a failed
// parse releases the arena whole, so nothing on the way needs an owner.
#include "simple_json/json_parse.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
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

// Returned by SkipWhitespace at the end of the input (its first NUL); no
// byte value equals it.
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

// Members that an object builds in place before it needs the members stack;
// most objects of a message have no more. Up to this count the laid-out
// object reports the initial capacity, as one built member by member would.
constexpr std::size_t kDirectMembers = 4;
static_assert(kDirectMembers <= kJsonInitialCapacity);

// Stacks grown past this many bytes are given back after the parse rather
// than kept for the next one.
constexpr std::size_t kKeptStackBytes = 256 * 1024;

struct JsonParser {
  char* cursor = nullptr;  // the current position in the arena's copy of the input
  int depth = 0;           // containers currently open
  bool gaveUp = false;     // nesting limit hit: every open container stops quietly
  std::string error;       // accumulated "Error: " lines; empty while none
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
// The rest is measured only as far as the cut, so deep cascades over long
// texts stay linear.
std::string RestOfInput(const JsonParser& parser) {
  std::size_t size = 0;
  while (size <= kQuotedRestLimit && parser.cursor[size] != '\0')
    ++size;
  const std::string_view rest(parser.cursor, size);
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

// Wire text puts one blank between tokens, so a token, or a single blank
// and the token after it, is settled without a loop; every blank is at most
// ' ', so one comparison passes over any other byte.
int SkipWhitespace(JsonParser& parser) {
  const auto* p = reinterpret_cast<const unsigned char*>(parser.cursor);
  if (p[0] > ' ') return p[0];
  if (p[0] == ' ' && p[1] > ' ') {
    ++parser.cursor;
    return p[1];
  }
  while (IsWhitespace(*p))
    ++p;
  parser.cursor += p - reinterpret_cast<const unsigned char*>(parser.cursor);
  return *p == '\0' ? kEndOfInput : *p;
}

// The padding past the text's NUL keeps a word of the literal's length
// readable, and a NUL in the text never matches a letter.
template <std::size_t kSize>
bool MatchLiteral(JsonParser& parser, const char (&word)[kSize]) {
  static_assert(kSize - 1 < json_scan::kStopPadding);
  if (std::memcmp(parser.cursor, word, kSize - 1) != 0) return false;
  parser.cursor += kSize - 1;
  return true;
}

// The byte c as a one-byte text for "%c"; c is never the end marker here.
std::string_view ByteText(const char& byte) {
  return std::string_view(&byte, 1);
}

JsonValue* NewNode(JsonParser& parser, JsonKind kind) {
  return JsonArenaNewNode(parser.arena, kind);
}

JsonValue* ParseValue(JsonParser& parser, int c);

inline JsonValue* ParseInteger(JsonParser& parser) {
  constexpr std::uint64_t kLastSafeMagnitude = 0x1999999999999999;  // 1844674407370955161
  constexpr std::uint64_t kLargestNegativeMagnitude = 0x8000000000000000;
  // Nineteen decimal digits always fit in 64 bits; only longer runs (which
  // leading zeros may still keep in range) are read again with the check per
  // digit.
  constexpr std::ptrdiff_t kUncheckedDigits = 19;
  const char* p = parser.cursor;
  const bool negative = *p == '-';
  if (negative) ++p;
  // A lone '-' has no magnitude at all; refuse it rather than read past it.
  if (!IsDigit(*p)) {
    return ReportError(parser, ParseMessage::kMinusWithoutDigit, {RestOfInput(parser)});
  }
  const char* const digits = p;
  std::uint64_t magnitude = 0;
  while (IsDigit(*p)) {
    magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
    ++p;
  }
  if (p - digits > kUncheckedDigits) {
    bool outOfRange = false;
    magnitude = 0;
    for (const char* digit = digits; digit < p; ++digit) {
      const auto value = static_cast<unsigned>(*digit - '0');
      if (magnitude > kLastSafeMagnitude || (magnitude == kLastSafeMagnitude && value > 5)) {
        outOfRange = true;
        break;
      }
      magnitude = magnitude * 10 + value;
    }
    if (outOfRange) return ReportError(parser, ParseMessage::kIntegerRange);
  }
  if (negative && magnitude > kLargestNegativeMagnitude) {
    return ReportError(parser, ParseMessage::kNegativeRange);
  }
  parser.cursor += p - parser.cursor;
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

// Decodes the escape whose letter is at p (inside the string) and steps p
// over what it read. The closing quote is no hex digit, so "\u" never reads
// past its string.
char DecodeEscape(const char*& p) {
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

// ScanString past the first backslash at p, kept out of line: few strings
// hold escapes.
[[gnu::noinline]] bool ScanEscapedString(JsonParser& parser, const char* p, const char** text,
                                         std::size_t* textSize) {
  char* const start = parser.cursor + 1;
  for (;;) {
    // The text's end, alone or right after a backslash.
    if (*p == '\0' || p[1] == '\0') {
      parser.cursor = start;
      ReportError(parser, ParseMessage::kUnterminatedString);
      return false;
    }
    p = json_scan::FindStringStop(p + 2);
    if (*p == '"') break;
  }
  char* const quote = start + (p - start);
  parser.cursor = quote + 1;
  // A decoded NUL ends the stored text.
  const char* in = start;
  char* out = start;
  while (in < quote) {
    if (*in != '\\') {
      *out++ = *in++;
      continue;
    }
    ++in;
    const char byte = DecodeEscape(in);
    if (byte == '\0') break;
    *out++ = byte;
  }
  *out = '\0';
  *text = start;
  *textSize = static_cast<std::size_t>(out - start);
  return true;
}

// Reads the string whose opening quote is at the position, in place: the
// bytes are decoded where they stand (never longer than their escapes) and
// a NUL replaces the closing quote or follows the decoded bytes; *text and
// *textSize give the result. A backslash hides the byte after it, so the
// closing quote is the first quote that no backslash hides; neither a hex
// digit of "\u" nor any byte after a shortened one can be a quote, so this
// finds the same end as decoding would. False after reporting an
// unterminated string, with the position just past the opening quote.
inline bool ScanString(JsonParser& parser, const char** text, std::size_t* textSize) {
  char* const start = parser.cursor + 1;
  const char* const p = json_scan::FindStringStop(start);
  if (*p != '"') return ScanEscapedString(parser, p, text, textSize);
  char* const quote = start + (p - start);
  *quote = '\0';
  parser.cursor = quote + 1;
  *text = start;
  *textSize = static_cast<std::size_t>(quote - start);
  return true;
}

inline JsonValue* ParseString(JsonParser& parser) {
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

// True when two of the pending members from `first` on share a name. Each
// name marks one of 64 bits, picked by its length and first byte (every name
// has at least its NUL); only when a bit is marked twice are the names
// compared pair by pair.
bool HasRepeatedName(const std::vector<PendingMember>& stack, std::size_t first) {
  std::uint64_t marks = 0;
  std::uint64_t clashes = 0;
  for (std::size_t i = first; i < stack.size(); ++i) {
    const std::uint64_t key =
        (stack[i].nameSize << 8) | static_cast<unsigned char>(stack[i].name[0]);
    const std::uint64_t mark = std::uint64_t{1} << ((key * 0x9E3779B97F4A7C15) >> 58);
    clashes |= marks & mark;
    marks |= mark;
  }
  if (clashes == 0) return false;
  for (std::size_t i = first + 1; i < stack.size(); ++i) {
    const PendingMember& member = stack[i];
    for (std::size_t j = first; j < i; ++j) {
      if (stack[j].nameSize == member.nameSize &&
          std::memcmp(stack[j].name, member.name, member.nameSize) == 0) {
        return true;
      }
    }
  }
  return false;
}

// Lays the object's members, from `first` on the stack, out in the arena. A
// name that occurs again keeps the position of its first occurrence and takes
// the later value. Past kJsonIndexThreshold members the name index is built
// here, in the arena, and finds the duplicates in linear time.
JsonValue* CloseObject(JsonParser& parser, JsonValue* object, std::size_t first) {
  std::vector<PendingMember>& stack = parser.stacks->members;
  const std::size_t count = stack.size() - first;
  if (count == 0) {
    object->capacity = CountedCapacity(0);
    return object;
  }
  auto* slots = Storage::ArenaSlots<JsonMember>(parser.arena, count);
  std::size_t kept = 0;
  if (count <= kJsonIndexThreshold && !HasRepeatedName(stack, first)) {
    // The common case: every member is laid out as it came.
    for (std::size_t i = first; i < stack.size(); ++i) {
      new (&slots[kept++])
          JsonMember{Storage::Lent(stack[i].name, stack[i].nameSize), JsonPtr(stack[i].value)};
    }
    stack.resize(first);
    Storage::Adopt(object->members, slots, static_cast<std::uint32_t>(kept));
    object->capacity = CountedCapacity(kept);
    return object;
  }
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
        if (slots[j].name.view() == name) {
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

// Elements and commas alternate; each step looks at the next byte after
// blanks. A failed element stops the array without a line of its own.
JsonValue* ParseArray(JsonParser& parser) {
  if (!EnterContainer(parser)) return nullptr;
  ++parser.cursor;  // '['
  const std::size_t first = parser.stacks->elements.size();
  ParseMessage misplaced = ParseMessage::kArrayBeginning;  // for ',' or ']' before an element
  int c = SkipWhitespace(parser);
  if (c == ']') {
    ++parser.cursor;
    --parser.depth;
    return CloseArray(parser, first);
  }
  for (;;) {
    if (c == kEndOfInput) {
      ReportError(parser, ParseMessage::kArrayEnd);
      break;
    }
    if (c == ',' || c == ']') {
      const char byte = static_cast<char>(c);
      ReportError(parser, misplaced, {ByteText(byte), RestOfInput(parser)});
      break;
    }
    JsonValue* element = ParseValue(parser, c);
    if (element == nullptr) break;
    parser.stacks->elements.push_back(element);
    if (parser.gaveUp) break;
    c = SkipWhitespace(parser);
    if (c == kEndOfInput) {
      ReportError(parser, ParseMessage::kArrayEnd);
      break;
    }
    if (c == ']') {
      ++parser.cursor;
      break;
    }
    if (c != ',') {
      const char byte = static_cast<char>(c);
      ReportError(parser, ParseMessage::kArrayAfterValue, {ByteText(byte), RestOfInput(parser)});
      break;
    }
    ++parser.cursor;
    misplaced = ParseMessage::kArrayAfterComma;
    c = SkipWhitespace(parser);
  }
  --parser.depth;
  return CloseArray(parser, first);
}

// An object being read. Its node is made when it opens. Its first
// kDirectMembers members are built in place in `slots`, taken at the same
// time, so that most objects of a message are laid out as they are read; a
// further member moves them onto the members stack, from `first` on, where
// the rest join them until the object closes.
struct OpenObject {
  JsonValue* node = nullptr;
  JsonMember* slots = nullptr;
  std::size_t count = 0;  // members so far, wherever they are
  std::size_t first = 0;  // on the members stack, once count > kDirectMembers
};

// Moves the `count` members built in `slots` onto the members stack and
// returns where they start there. The object record stays out of it, so that
// its fields can live in registers.
std::size_t SpillMembers(JsonParser& parser, JsonMember* slots, std::size_t count) {
  std::vector<PendingMember>& stack = parser.stacks->members;
  const std::size_t first = stack.size();
  for (std::size_t i = 0; i < count; ++i) {
    JsonMember& member = slots[i];
    stack.push_back(PendingMember{member.name.data(), member.name.size(), member.value.release()});
    std::destroy_at(&member);
  }
  return first;
}

void AddMember(JsonParser& parser, OpenObject& object, const char* name, std::size_t nameSize,
               JsonValue* value) {
  if (object.count < kDirectMembers) {
    new (&object.slots[object.count]) JsonMember{Storage::Lent(name, nameSize), JsonPtr(value)};
  } else {
    if (object.count == kDirectMembers) {
      object.first = SpillMembers(parser, object.slots, object.count);
    }
    parser.stacks->members.push_back(PendingMember{name, nameSize, value});
  }
  ++object.count;
}

// True when two of the `count` members in `slots` share a name. With so few
// members each pair is looked at; most pairs differ in size or first byte.
// Inlined where the count is known to be small, the loops unroll.
[[gnu::always_inline]] inline bool HasRepeatedName(const JsonMember* slots, std::size_t count) {
  for (std::size_t i = 1; i < count; ++i) {
    const std::string_view name = slots[i].name.view();
    for (std::size_t j = 0; j < i; ++j) {
      const std::string_view other = slots[j].name.view();
      if (other.size() == name.size() && other.data()[0] == name.data()[0] && other == name) {
        return true;
      }
    }
  }
  return false;
}

// CloseObject's path for members on the stack, or for members in the slots
// that share a name; kept out of line, as few objects take it.
[[gnu::noinline]] JsonValue* CloseSpilledObject(JsonParser& parser, const OpenObject& object) {
  std::size_t first = object.first;
  if (object.count <= kDirectMembers) first = SpillMembers(parser, object.slots, object.count);
  return CloseObject(parser, object.node, first);
}

// Lays the object out: members still in its slots stay there unless two of
// them share a name, which the stack's path settles.
inline JsonValue* CloseObject(JsonParser& parser, const OpenObject& object) {
  if (object.count > kDirectMembers || HasRepeatedName(object.slots, object.count)) {
    return CloseSpilledObject(parser, object);
  }
  if (object.count != 0) {
    Storage::Adopt(object.node->members, object.slots, static_cast<std::uint32_t>(object.count));
  }
  object.node->capacity = CountedCapacity(object.count);
  return object.node;
}

// Four bytes from p, p[0] in the lowest; the padding keeps them readable.
std::uint32_t PeekFour(const char* p) {
  std::uint32_t word;
  static_assert(sizeof word <= json_scan::kStopPadding);
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  return word;
}

// The first three bytes of a word as PeekFour reads them.
constexpr std::uint32_t ThreeBytes(char first, char second, char third) {
  return static_cast<unsigned char>(first) |
         (std::uint32_t{static_cast<unsigned char>(second)} << 8) |
         (std::uint32_t{static_cast<unsigned char>(third)} << 16);
}

// Name, colon, value and comma follow each other straight on; each step
// looks at the next byte after blanks, and the end of the input stops the
// object at any of them with the same line. A failed value is recorded and
// the object carries on from wherever the value stopped. The wire's " : "
// before a value and ", \"" before a name are each taken in one step, which
// ends where the steps one by one would.
JsonValue* ParseObject(JsonParser& parser) {
  if (!EnterContainer(parser)) return nullptr;
  ++parser.cursor;  // '{'
  OpenObject object;
  object.node = NewNode(parser, JsonKind::JsonObject);
  ParseMessage misplaced = ParseMessage::kObjectBeginning;  // for a byte where a name belongs
  int c = SkipWhitespace(parser);
  if (c == '}') {
    ++parser.cursor;
    --parser.depth;
    return CloseObject(parser, object);
  }
  object.slots = Storage::ArenaSlots<JsonMember>(parser.arena, kDirectMembers);
  for (;;) {
    if (c == kEndOfInput) break;
    if (c != '"') {
      const char byte = static_cast<char>(c);
      ReportError(parser, misplaced, {ByteText(byte), RestOfInput(parser)});
      break;
    }
    // An unterminated name is no name: its line is recorded, the object stops.
    const char* name = nullptr;
    std::size_t nameSize = 0;
    if (!ScanString(parser, &name, &nameSize)) break;
    const std::uint32_t afterName = PeekFour(parser.cursor);
    if ((afterName & 0xFFFFFF) == ThreeBytes(' ', ':', ' ') && (afterName >> 24) > ' ') {
      parser.cursor += 3;
      c = static_cast<int>(afterName >> 24);
    } else {
      c = SkipWhitespace(parser);
      if (c == kEndOfInput) break;
      if (c != ':') {
        ReportError(parser, ParseMessage::kExpected,
                    {":", "after name in object contents", RestOfInput(parser)});
        break;
      }
      ++parser.cursor;
      c = SkipWhitespace(parser);
      if (c == kEndOfInput) break;
    }
    // Texts and integers, the most common values, are read without a call;
    // only a container can hit the nesting limit.
    JsonValue* value = nullptr;
    if (c == '"') {
      value = ParseString(parser);
    } else if (c == '-' || IsDigit(c)) {
      value = ParseInteger(parser);
    } else {
      if (c == ',' || c == '}') {
        const char byte = static_cast<char>(c);
        ReportError(parser, ParseMessage::kObjectAfterColon, {ByteText(byte), RestOfInput(parser)});
        break;
      }
      value = ParseValue(parser, c);
      if (parser.gaveUp) break;
    }
    if (value == nullptr) {
      ReportError(parser, ParseMessage::kObjectSetFailed, {std::string_view(name, nameSize)});
    } else {
      AddMember(parser, object, name, nameSize, value);
    }
    if ((PeekFour(parser.cursor) & 0xFFFFFF) == ThreeBytes(',', ' ', '"')) {
      parser.cursor += 2;
      misplaced = ParseMessage::kObjectAfterComma;
      c = '"';
      continue;
    }
    c = SkipWhitespace(parser);
    if (c == kEndOfInput) break;
    if (c == '}') {
      ++parser.cursor;
      break;
    }
    if (c != ',') {
      const char byte = static_cast<char>(c);
      ReportError(parser, ParseMessage::kObjectAfterValue, {ByteText(byte), RestOfInput(parser)});
      break;
    }
    ++parser.cursor;
    misplaced = ParseMessage::kObjectAfterComma;
    c = SkipWhitespace(parser);
  }
  if (c == kEndOfInput) ReportError(parser, ParseMessage::kObjectEnd);
  --parser.depth;
  return CloseObject(parser, object);
}

// The value whose first byte, c, is at the position (after blanks).
JsonValue* ParseValue(JsonParser& parser, int c) {
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

// The arena's copy of the text: its bytes, then kStopPadding NULs.
char* CopyText(JsonArena* arena, std::string_view text) {
  auto* copy = static_cast<char*>(JsonArenaAllocate(arena, text.size() + json_scan::kStopPadding));
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  std::memset(copy + text.size(), 0, json_scan::kStopPadding);
  return copy;
}

}  // namespace

JsonPtr JsonParse(std::string_view text, std::string* error) {
  return JsonParse(text, error, nullptr);
}

JsonPtr JsonParse(std::string_view text, std::string* error, std::size_t* end) {
  thread_local ParseStacks stacks;
  JsonParser parser;
  parser.arena = JsonArenaCreate(text.size());
  char* const copy = CopyText(parser.arena, text);
  parser.cursor = copy;
  parser.stacks = &stacks;
  JsonValue* const root = ParseValue(parser, SkipWhitespace(parser));
  // Every container took its items off the stacks when it closed.
  TrimStacks(stacks);
  if (!parser.error.empty() || root == nullptr) {
    // A partial tree from a cascade: its nodes own nothing outside the
    // arena, so the arena goes at once without visiting them.
    JsonArenaFinish(parser.arena, nullptr);
    if (error != nullptr) *error = std::move(parser.error);
    return nullptr;
  }
  if (end != nullptr) *end = static_cast<std::size_t>(parser.cursor - copy);
  JsonArenaFinish(parser.arena, root);
  JsonPtr tree(root);
  if (error != nullptr) error->clear();
  return tree;
}
