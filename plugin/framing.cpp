// Brace-balance framing of JSON-RPC messages (see framing.h). The scans
// look each byte up in a class table and pass over runs of bytes that
// cannot change the state in a tight loop.
#include "plugin/framing.h"

#include <array>
#include <cstdint>

namespace {

// What a byte means to a brace scan; Plain bytes change nothing.
enum ByteClass : std::uint8_t { Plain, Open, Close, Quote, Backslash, End };

// Classes outside strings: braces, quotes and the terminating zero byte.
constexpr std::array<std::uint8_t, 256> kOutside = [] {
  std::array<std::uint8_t, 256> table{};
  table['{'] = Open;
  table['}'] = Close;
  table['"'] = Quote;
  table['\0'] = End;
  return table;
}();

// Classes inside strings: the closing quote, a backslash and the zero byte.
constexpr std::array<std::uint8_t, 256> kInside = [] {
  std::array<std::uint8_t, 256> table{};
  table['"'] = Quote;
  table['\\'] = Backslash;
  table['\0'] = End;
  return table;
}();

inline std::uint8_t ClassOf(const std::array<std::uint8_t, 256>& table, char byte) {
  return table[static_cast<unsigned char>(byte)];
}

}  // namespace

bool OSA__JSON__IsComplete(const char* text) {
  std::size_t length = 0;
  return OsaIsCompleteMessage(text, &length);
}

bool OsaIsCompleteMessage(const char* text, std::size_t* length) {
  if (text == nullptr) return false;
  const char* cursor = text;
  while (*cursor == ' ' || *cursor == '\t' || *cursor == '\n')
    ++cursor;
  if (*cursor != '{') return false;
  long depth = 0;
  bool inString = false;
  bool closedEarly = false;
  for (;;) {
    if (inString) {
      while (ClassOf(kInside, *cursor) == Plain)
        ++cursor;
      const std::uint8_t kind = ClassOf(kInside, *cursor);
      if (kind == End) break;
      if (kind == Quote) {
        inString = false;
      } else if (cursor[1] != '\0') {  // a backslash passes over the next byte
        ++cursor;
      }
    } else {
      while (ClassOf(kOutside, *cursor) == Plain)
        ++cursor;
      const std::uint8_t kind = ClassOf(kOutside, *cursor);
      if (kind == End) break;
      if (kind == Open) {
        ++depth;
      } else if (kind == Close) {
        // A "}" at depth 0 makes the text never complete; the scan goes on
        // only to find its length.
        if (depth == 0) closedEarly = true;
        --depth;
      } else {
        inString = true;
      }
    }
    ++cursor;
  }
  if (closedEarly || depth != 0 || inString) return false;
  *length = static_cast<std::size_t>(cursor - text);
  return true;
}

bool OsaScanBraces(OsaBraceScan* scan, const char* text, std::size_t length, std::size_t* end) {
  std::size_t index = 0;
  if (scan->escaped && index < length) {
    if (text[index] == '\0') return false;
    scan->escaped = false;
    ++index;
  }
  while (index < length) {
    if (scan->inString) {
      while (index < length && ClassOf(kInside, text[index]) == Plain)
        ++index;
      if (index == length) return false;
      const std::uint8_t kind = ClassOf(kInside, text[index]);
      if (kind == End) return false;
      ++index;
      if (kind == Quote) {
        scan->inString = false;
      } else if (index == length) {  // the escaped byte has not arrived yet
        scan->escaped = true;
        return false;
      } else if (text[index] == '\0') {
        scan->escaped = true;
        return false;
      } else {
        ++index;
      }
    } else {
      while (index < length && ClassOf(kOutside, text[index]) == Plain)
        ++index;
      if (index == length) return false;
      const std::uint8_t kind = ClassOf(kOutside, text[index]);
      if (kind == End) return false;
      ++index;
      if (kind == Open) {
        ++scan->depth;
      } else if (kind == Close) {
        if (scan->depth > 0 && --scan->depth == 0) {
          *end = index;
          return true;
        }
      } else {
        scan->inString = true;
      }
    }
  }
  return false;
}

bool OsaFrameFirstObject(const char* text, std::size_t length, std::size_t* end) {
  if (text == nullptr || length == 0 || text[0] != '{') return false;
  // An escaped byte that has not arrived yet (or is a NUL) leaves it open.
  OsaBraceScan scan;
  return OsaScanBraces(&scan, text, length, end);
}

std::size_t OsaCountLeadingBlanks(const char* text, std::size_t length) {
  std::size_t count = 0;
  while (count < length && OsaIsInterMessageBlank(text[count]))
    ++count;
  return count;
}
