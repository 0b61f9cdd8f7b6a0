// Block scans of byte strings for the parser and the writer: the first byte
// that ends a plain run, found sixteen bytes at a time with SSE2 (present on
// every x86-64), eight at a time in a 64-bit word elsewhere, and one at a time
// over the last few bytes. The writer's scans never read outside [p, end);
// the parser's read its padded copy of the text up to the block that holds
// the first stop.
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

// Parser: a double quote, a backslash, or the NUL that ends the text. Any
// other byte, control bytes and bytes above 0x7F included, is plain string
// content.
constexpr bool EndsStringRun(unsigned char byte) {
  return byte == '"' || byte == '\\' || byte == 0;
}

// The parser's scans run over its own copy of the text, which ends in a NUL
// followed by at least kStopPadding - 1 more readable bytes. A scan that
// stops at the first NUL may therefore read whole blocks without a bound.
inline constexpr std::size_t kStopPadding = 16;

// The portable form: eight bytes at a time, then one at a time.
inline const char* FindStringStopInWords(const char* p) {
  for (;; p += 8) {
    const std::uint64_t word = LoadWord(p);
    if ((HasByte(word, '"') | HasByte(word, '\\') | HasZeroByte(word)) != 0) break;
  }
  while (!EndsStringRun(static_cast<unsigned char>(*p)))
    ++p;
  return p;
}

// The first byte from p on that ends a string run; p lies in a padded text.
inline const char* FindStringStop(const char* p) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i zero = _mm_setzero_si128();
  for (;; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask = _mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)),
                     _mm_cmpeq_epi8(block, zero)));
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
  }
#else
  return FindStringStopInWords(p);
#endif
}

// Writer: a byte that leaves as an escape: a control byte, a double quote, a
// backslash, or a byte from 0x7F up.
constexpr bool NeedsEscape(unsigned char byte) {
  return byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\';
}

// True when no byte of the word needs an escape.
constexpr bool PlainWord(std::uint64_t word) {
  return ((word & kHighBits) | HasByteBelow(word, 0x20) | HasByte(word, '"') | HasByte(word, '\\') |
          HasByte(word, 0x7F)) == 0;
}

// The portable form: eight bytes at a time, then one at a time.
inline const char* FindEscapeByteInWords(const char* p, const char* end) {
  while (end - p >= 8) {
    const std::uint64_t word = LoadWord(p);
    if (!PlainWord(word)) break;
    p += 8;
  }
  while (p < end && !NeedsEscape(static_cast<unsigned char>(*p)))
    ++p;
  return p;
}

#if defined(__SSE2__)
// One bit per byte of the block that needs an escape.
inline int EscapeMask(__m128i block) {
  // As signed bytes, 0x80 to 0xFF are negative, so one "less than 0x20"
  // catches the control bytes and every byte from 0x80 up.
  const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(block, _mm_set1_epi8(0x20)),
                                                 _mm_cmpeq_epi8(block, _mm_set1_epi8('"'))),
                                    _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\\')),
                                                 _mm_cmpeq_epi8(block, _mm_set1_epi8(0x7F))));
  return _mm_movemask_epi8(hits);
}

// One bit per byte of the sixteen at p that needs an escape.
inline int EscapeMask(const char* p) {
  return EscapeMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
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

// Copies the `size` bytes (at least sixteen) from `in` to `out` when none of
// them needs an escape, testing and copying each block in one go; false, with
// `out` partly written, when some byte needs an escape.
inline bool CopyPlainBlocks(const char* in, std::size_t size, char* out) {
#if defined(__SSE2__)
  // Whole blocks, then the last sixteen bytes (overlapping the block before).
  const auto copyBlock = [](const char* from, char* to) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    if (EscapeMask(block) != 0) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
    return true;
  };
  for (std::size_t at = 0; at + 16 < size; at += 16) {
    if (!copyBlock(in + at, out + at)) return false;
  }
  return copyBlock(in + size - 16, out + size - 16);
#else
  if (FindEscapeByteInWords(in, in + size) != in + size) return false;
  std::memcpy(out, in, size);
  return true;
#endif
}

// True when no byte of text[0 .. size) needs an escape. Texts shorter than
// a block are tested in one or two words loaded from both ends (they may
// overlap), so short names cost no loop over their bytes.
inline bool NeedsNoEscape(const char* text, std::size_t size) {
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
  if (size >= 8) return PlainWord(LoadWord(text)) && PlainWord(LoadWord(text + size - 8));
  if (size >= 4) {
    std::uint32_t low;
    std::uint32_t high;
    std::memcpy(&low, text, sizeof low);
    std::memcpy(&high, text + size - 4, sizeof high);
    return PlainWord(std::uint64_t{low} | (std::uint64_t{high} << 32));
  }
  for (std::size_t index = 0; index < size; ++index) {
    if (NeedsEscape(static_cast<unsigned char>(text[index]))) return false;
  }
  return true;
}

}  // namespace json_scan
