// Block scans of byte strings for the parser and the writer: the first byte
// that ends a plain run, found sixteen bytes at a time with SSE2 (present on
// every x86-64), eight at a time in a 64-bit word elsewhere, and one at a time
// over the last few bytes. No scan reads outside [p, end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace json_scan {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Non-zero when some byte of the word is zero. Borrows only run upward from
// a true zero byte, so a non-zero result never comes from a word without one.
constexpr std::uint64_t HasZeroByte(std::uint64_t word) {
  return (word - kOnes) & ~word & kHighBits;
}

// Non-zero when some byte of the word equals `byte`.
constexpr std::uint64_t HasByte(std::uint64_t word, unsigned char byte) {
  return HasZeroByte(word ^ (kOnes * byte));
}

// Non-zero when some byte of the word is below `limit` (at most 0x80).
constexpr std::uint64_t HasByteBelow(std::uint64_t word, unsigned char limit) {
  return (word - kOnes * limit) & ~word & kHighBits;
}

inline std::uint64_t LoadWord(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Parser: a double quote or a backslash. Any other byte, control bytes and
// bytes above 0x7F included, is plain string content.
constexpr bool EndsStringRun(unsigned char byte) {
  return byte == '"' || byte == '\\';
}

// The portable form: eight bytes at a time, then one at a time.
inline const char* FindQuoteOrBackslashInWords(const char* p, const char* end) {
  while (end - p >= 8) {
    const std::uint64_t word = LoadWord(p);
    if ((HasByte(word, '"') | HasByte(word, '\\')) != 0) break;
    p += 8;
  }
  while (p < end && !EndsStringRun(static_cast<unsigned char>(*p)))
    ++p;
  return p;
}

inline const char* FindQuoteOrBackslash(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)));
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  return FindQuoteOrBackslashInWords(p, end);
}

// Writer: a byte that leaves as an escape: a control byte, a double quote, a
// backslash, or a byte from 0x7F up.
constexpr bool NeedsEscape(unsigned char byte) {
  return byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\';
}

// The portable form: eight bytes at a time, then one at a time.
inline const char* FindEscapeByteInWords(const char* p, const char* end) {
  while (end - p >= 8) {
    const std::uint64_t word = LoadWord(p);
    if (((word & kHighBits) | HasByteBelow(word, 0x20) | HasByte(word, '"') | HasByte(word, '\\') |
         HasByte(word, 0x7F)) != 0) {
      break;
    }
    p += 8;
  }
  while (p < end && !NeedsEscape(static_cast<unsigned char>(*p)))
    ++p;
  return p;
}

#if defined(__SSE2__)
// One bit per byte of the sixteen at p that needs an escape.
inline int EscapeMask(const char* p) {
  // As signed bytes, 0x80 to 0xFF are negative, so one "less than 0x20"
  // catches the control bytes and every byte from 0x80 up.
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(block, _mm_set1_epi8(0x20)),
                                                 _mm_cmpeq_epi8(block, _mm_set1_epi8('"'))),
                                    _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\\')),
                                                 _mm_cmpeq_epi8(block, _mm_set1_epi8(0x7F))));
  return _mm_movemask_epi8(hits);
}
#endif

inline const char* FindEscapeByte(const char* p, const char* end) {
#if defined(__SSE2__)
  while (end - p >= 16) {
    const int mask = EscapeMask(p);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  return FindEscapeByteInWords(p, end);
}

// True when no byte of text[0 .. size) needs an escape. Texts shorter than
// a block are tested in one or two words loaded from both ends (they may
// overlap), so short names cost no loop over their bytes.
inline bool NeedsNoEscape(const char* text, std::size_t size) {
  const auto plainWord = [](std::uint64_t word) {
    return ((word & kHighBits) | HasByteBelow(word, 0x20) | HasByte(word, '"') |
            HasByte(word, '\\') | HasByte(word, 0x7F)) == 0;
  };
  if (size >= 16) {
#if defined(__SSE2__)
    // Whole blocks, then the last sixteen bytes (overlapping the block
    // before) instead of a tail taken word by word.
    const char* const last = text + size - 16;
    for (const char* p = text; p < last; p += 16) {
      if (EscapeMask(p) != 0) return false;
    }
    return EscapeMask(last) == 0;
#else
    return FindEscapeByteInWords(text, text + size) == text + size;
#endif
  }
  if (size >= 8) return plainWord(LoadWord(text)) && plainWord(LoadWord(text + size - 8));
  if (size >= 4) {
    std::uint32_t low;
    std::uint32_t high;
    std::memcpy(&low, text, sizeof low);
    std::memcpy(&high, text + size - 4, sizeof high);
    return plainWord(std::uint64_t{low} | (std::uint64_t{high} << 32));
  }
  for (std::size_t index = 0; index < size; ++index) {
    if (NeedsEscape(static_cast<unsigned char>(text[index]))) return false;
  }
  return true;
}

}  // namespace json_scan
