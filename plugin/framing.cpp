// Brace-balance framing of JSON-RPC messages (see framing.h). The scans
// visit only the bytes that can change their state: braces, quotes,
// backslashes and the zero byte. Where the CPU allows it, sixteen bytes are
// compared at once and the positions of those bytes in the block taken from
// a bit mask, so a message costs a few steps per token rather than per byte;
// the message scan goes further and steps only on braces outside strings.
#include "plugin/framing.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// What a visitor tells the walk after looking at one byte.
enum class Step : std::uint8_t {
  kNext,      // go on with the next byte that matters
  kSkipNext,  // pass over the byte after this one (escaped); it lies in range
  kStop,      // the scan is over at this byte
};

#if defined(__SSE2__)
// The bytes that matter to the scans, each filling a block.
struct BlockBytes {
  __m128i open = _mm_set1_epi8('{');
  __m128i close = _mm_set1_epi8('}');
  __m128i quote = _mm_set1_epi8('"');
  __m128i backslash = _mm_set1_epi8('\\');
  __m128i zero = _mm_setzero_si128();
};
#endif

constexpr bool MattersToScans(char byte) {
  return byte == '{' || byte == '}' || byte == '"' || byte == '\\' || byte == '\0';
}

// Calls visit(index) for every byte of text[index, length) that matters, in
// order; returns the index where a visit stopped, or `length`. Whole blocks
// of sixteen are loaded only while they lie inside the range.
template <typename Visit>
inline std::size_t VisitBytesThatMatter(const char* text, std::size_t index, std::size_t length,
                                        Visit visit) {
#if defined(__SSE2__)
  const BlockBytes bytes;
  while (length - index >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + index));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(block, bytes.open), _mm_cmpeq_epi8(block, bytes.close)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, bytes.quote),
                                  _mm_cmpeq_epi8(block, bytes.backslash)),
                     _mm_cmpeq_epi8(block, bytes.zero)));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    std::size_t next = index + 16;
    while (mask != 0) {
      const auto bit = static_cast<unsigned>(__builtin_ctz(mask));
      mask &= mask - 1;
      const std::size_t at = index + bit;
      const Step step = visit(at);
      if (step == Step::kStop) return at;
      if (step == Step::kSkipNext) {
        if (bit == 15) {  // the escaped byte opens the next block
          next = at + 2;
          break;
        }
        mask &= ~(2u << bit);
      }
    }
    index = next;
  }
#endif
  while (index < length) {
    if (MattersToScans(text[index])) {
      const Step step = visit(index);
      if (step == Step::kStop) return index;
      if (step == Step::kSkipNext) ++index;
    }
    ++index;
  }
  return length;
}

}  // namespace

bool OSA__JSON__IsComplete(const char* text) {
  std::size_t length = 0;
  return OsaIsCompleteMessage(text, &length);
}

bool OsaIsCompleteMessage(const char* text, std::size_t* length) {
  if (text == nullptr) return false;
  std::size_t start = 0;
  while (text[start] == ' ' || text[start] == '\t' || text[start] == '\n')
    ++start;
  if (text[start] != '{') return false;
  // The length first, so that the block scan has a bound to stay inside.
  const std::size_t size = start + std::strlen(text + start);
  long depth = 0;
  bool inString = false;
  bool closedEarly = false;
  VisitBytesThatMatter(text, start, size, [&](std::size_t at) {
    const char byte = text[at];
    if (inString) {
      if (byte == '"') {
        inString = false;
      } else if (byte == '\\' && at + 1 < size) {  // passes over the next byte
        return Step::kSkipNext;
      }
    } else if (byte == '{') {
      ++depth;
    } else if (byte == '}') {
      // A "}" at depth 0 makes the text never complete; the scan goes on
      // only to find its length.
      if (depth == 0) closedEarly = true;
      --depth;
    } else if (byte == '"') {
      inString = true;
    }
    return Step::kNext;
  });
  if (closedEarly || depth != 0 || inString) return false;
  *length = size;
  return true;
}

bool OsaScanBraces(OsaBraceScan* scan, const char* text, std::size_t length, std::size_t* end) {
  std::size_t index = 0;
  if (scan->escaped && index < length) {
    if (text[index] == '\0') return false;
    scan->escaped = false;
    ++index;
  }
  bool closed = false;
  // The state lives in locals while the walk runs and goes back at the end.
  std::size_t depth = scan->depth;
  bool inString = scan->inString;
  bool escaped = scan->escaped;  // still set only when there was no byte to take
#if defined(__SSE2__)
  // Blocks without a backslash or a zero byte, which is nearly all of wire
  // text, take no step per quote: which bytes lie inside strings follows
  // from the parity of the quotes before them, and only the braces outside
  // strings are visited. The first other block hands over to the walk.
  const BlockBytes bytes;
  while (index < length) {
    // The last bytes are copied into a block of blanks, which do not matter.
    alignas(16) char tail[16];
    const std::size_t taken = length - index < 16 ? length - index : 16;
    const char* from = text + index;
    if (taken < 16) {
      std::memset(tail, ' ', sizeof tail);
      std::memcpy(tail, from, taken);
      from = tail;
    }
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, bytes.backslash),
                                       _mm_cmpeq_epi8(block, bytes.zero))) != 0) {
      break;
    }
    const auto quotes =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, bytes.quote)));
    // Bit i: an odd number of quotes at or before byte i of the block.
    unsigned inside = quotes ^ (quotes << 1);
    inside ^= inside << 2;
    inside ^= inside << 4;
    inside ^= inside << 8;
    if (inString) inside = ~inside;
    const auto opens =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, bytes.open))) & ~inside;
    const auto closes =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, bytes.close))) & ~inside;
    for (unsigned braces = opens | closes; braces != 0; braces &= braces - 1) {
      const auto bit = static_cast<unsigned>(__builtin_ctz(braces));
      if ((opens >> bit) & 1u) {
        ++depth;
      } else if (depth > 0 && --depth == 0) {
        scan->depth = 0;
        scan->inString = false;
        scan->escaped = false;
        *end = index + bit + 1;
        return true;
      }
    }
    if (__builtin_popcount(quotes) % 2 != 0) inString = !inString;
    index += taken;
  }
#endif
  const std::size_t stop = VisitBytesThatMatter(text, index, length, [&](std::size_t at) {
    const char byte = text[at];
    if (byte == '\0') return Step::kStop;
    if (inString) {
      if (byte == '"') {
        inString = false;
      } else if (byte == '\\') {
        // The escaped byte has not arrived yet, or is a zero byte.
        if (at + 1 == length || text[at + 1] == '\0') {
          escaped = true;
          return Step::kStop;
        }
        return Step::kSkipNext;
      }
    } else if (byte == '{') {
      ++depth;
    } else if (byte == '}') {
      if (depth > 0 && --depth == 0) {
        closed = true;
        return Step::kStop;
      }
    } else if (byte == '"') {
      inString = true;
    }
    return Step::kNext;
  });
  scan->depth = depth;
  scan->inString = inString;
  scan->escaped = escaped;
  if (closed) *end = stop + 1;
  return closed;
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
