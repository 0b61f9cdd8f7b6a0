// Short texts put together from pieces in a caller's stack buffer, so that a
// message part goes into its std::string in one append instead of one per
// piece. Each function writes at `out` and returns the end of what it wrote;
// the caller sizes the buffer for the longest result.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Most bytes a 64-bit integer takes in decimal, sign included.
inline constexpr std::size_t kDbgIntegerDigits = 20;

// A string literal without its NUL; its size is known here, so the copy is
// a few moves.
template <std::size_t kSize>
char* DbgPutLiteral(char* out, const char (&piece)[kSize]) {
  std::memcpy(out, piece, kSize - 1);
  return out + (kSize - 1);
}

inline char* DbgPutText(char* out, std::string_view piece) {
  std::memcpy(out, piece.data(), piece.size());
  return out + piece.size();
}

inline char* DbgPutInteger(char* out, std::int64_t value) {
  return std::to_chars(out, out + kDbgIntegerDigits, value).ptr;
}
