// Brace-balance framing of JSON-RPC messages (see framing.h). The scans
// look each byte up in a class table and pass over runs of bytes that
// cannot change the state sixteen at a time where the CPU allows it.
#include "plugin/framing.h"

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The index of the first byte in text[index, length) that is not Plain in
// `table`, or `length`. The special bytes of both tables are the zero byte
// and `first` to `third`; whole blocks of sixteen are looked at while they
// lie inside the range, so nothing beyond `length` is read.
inline std::size_t SkipPlain(const std::array<std::uint8_t, 256>& table, char first, char second,
                             char third, const char* text, std::size_t index, std::size_t length) {
#if defined(__SSE2__)
  const __m128i a = _mm_set1_epi8(first);
  const __m128i b = _mm_set1_epi8(second);
  const __m128i c = _mm_set1_epi8(third);
  const __m128i zero = _mm_setzero_si128();
  while (length - index >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + index));
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, a), _mm_cmpeq_epi8(block, b)),
                     _mm_or_si128(_mm_cmpeq_epi8(block, c), _mm_cmpeq_epi8(block, zero)));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0)
      return index + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    index += 16;
  }
#else
  (void)first;
  (void)second;
  (void)third;
#endif
  while (index < length && ClassOf(table, text[index]) == Plain)
    ++index;
  return index;
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
      index = SkipPlain(kInside, '"', '\\', '"', text, index, length);
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
      index = SkipPlain(kOutside, '{', '}', '"', text, index, length);
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
