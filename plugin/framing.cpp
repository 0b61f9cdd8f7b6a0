// Brace-balance framing of JSON-RPC messages (see framing.h). The scans
// visit only the bytes that can change their state: braces, quotes,
// backslashes and the zero byte. Where the CPU allows it, 16 or 32 bytes are
// compared at once and the positions of those bytes taken from a bit mask;
// text without escapes is walked 32 bytes at a time with a step only on the
// braces outside strings, so a message costs a few steps per brace.
#include "plugin/framing.h"

#include <bit>
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

#if defined(__SSE2__)
// Where the bytes that matter lie in 32 bytes of text, bit i for byte i.
struct Chunk {
  std::uint32_t special;  // backslashes and zero bytes
  std::uint32_t quotes;
  std::uint32_t braces;
};

inline std::uint32_t ChunkBits(__m128i low, __m128i high) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(low)) |
         static_cast<std::uint32_t>(_mm_movemask_epi8(high)) << 16;
}

inline __m128i EitherByte(__m128i block, __m128i first, __m128i second) {
  return _mm_or_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(block, second));
}

inline Chunk LoadChunk(const char* from, const BlockBytes& bytes) {
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
  return Chunk{ChunkBits(EitherByte(low, bytes.backslash, bytes.zero),
                         EitherByte(high, bytes.backslash, bytes.zero)),
               ChunkBits(_mm_cmpeq_epi8(low, bytes.quote), _mm_cmpeq_epi8(high, bytes.quote)),
               ChunkBits(EitherByte(low, bytes.open, bytes.close),
                         EitherByte(high, bytes.open, bytes.close))};
}

// Walks text[index, length) 32 bytes at a time while they hold no backslash
// and no zero byte, which is nearly all of wire text: which bytes lie inside
// strings follows from the parity of the quotes before them, so no step is
// taken per quote, and brace(at) is called only for the braces outside
// strings. *inString is carried over. Returns where the walk ended: at the
// brace for which brace() returned true (*stopped set), at the start of the
// first 32 bytes that hold a backslash or a zero byte, or at `length`. No
// byte outside the range is read.
template <typename Brace>
inline std::size_t WalkPlainChunks(const char* text, std::size_t index, std::size_t length,
                                   bool* inString, bool* stopped, Brace brace) {
  const BlockBytes bytes;
  bool quoted = *inString;
  while (index < length) {
    const std::size_t left = length - index;
    Chunk chunk;
    if (left >= 32) {
      chunk = LoadChunk(text + index, bytes);
    } else if (length >= 32) {
      // The range's last 32 bytes, less those walked already.
      chunk = LoadChunk(text + length - 32, bytes);
      const auto walked = static_cast<unsigned>(32 - left);
      chunk.special >>= walked;
      chunk.quotes >>= walked;
      chunk.braces >>= walked;
    } else {
      // A range shorter than that is copied into blanks, which do not matter.
      alignas(16) char padded[32];
      std::memset(padded, ' ', sizeof padded);
      std::memcpy(padded, text + index, left);
      chunk = LoadChunk(padded, bytes);
    }
    if (chunk.special != 0) break;
    // Bit i: an odd number of quotes at or before byte i.
    std::uint32_t inside = chunk.quotes ^ (chunk.quotes << 1);
    inside ^= inside << 2;
    inside ^= inside << 4;
    inside ^= inside << 8;
    inside ^= inside << 16;
    if (quoted) inside = ~inside;
    for (std::uint32_t outside = chunk.braces & ~inside; outside != 0; outside &= outside - 1) {
      const std::size_t at = index + static_cast<unsigned>(std::countr_zero(outside));
      if (brace(at)) {
        *inString = false;
        *stopped = true;
        return at;
      }
    }
    if (std::popcount(chunk.quotes) % 2 != 0) quoted = !quoted;
    index += left < 32 ? left : 32;
  }
  *inString = quoted;
  return index;
}
#endif

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
  // The length first, so that the block scans have a bound to stay inside.
  const std::size_t size = start + std::strlen(text + start);
  long depth = 0;
  bool inString = false;
  bool closedEarly = false;
  // A "}" at depth 0 makes the text never complete; the scan goes on only
  // to find its length.
  const auto brace = [&](char byte) {
    if (byte == '{') {
      ++depth;
    } else {
      if (depth == 0) closedEarly = true;
      --depth;
    }
  };
  std::size_t index = start;
#if defined(__SSE2__)
  bool stopped = false;
  index = WalkPlainChunks(text, start, size, &inString, &stopped, [&](std::size_t at) {
    brace(text[at]);
    return false;
  });
#endif
  VisitBytesThatMatter(text, index, size, [&](std::size_t at) {
    const char byte = text[at];
    if (inString) {
      if (byte == '"') {
        inString = false;
      } else if (byte == '\\' && at + 1 < size) {  // passes over the next byte
        return Step::kSkipNext;
      }
    } else if (byte == '"') {
      inString = true;
    } else if (byte == '{' || byte == '}') {
      brace(byte);
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
  index = WalkPlainChunks(text, index, length, &inString, &closed, [&](std::size_t at) {
    if (text[at] == '{') {
      ++depth;
      return false;
    }
    return depth > 0 && --depth == 0;
  });
  if (closed) {
    scan->depth = 0;
    scan->inString = false;
    scan->escaped = false;
    *end = index + 1;
    return true;
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
