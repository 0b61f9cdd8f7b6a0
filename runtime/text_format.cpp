// printf-style formatting into a std::string: the plug-in's own simple
// patterns directly, everything else through vsnprintf.
#include "runtime/text_format.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

namespace {

enum class Length { kDefault, kChar, kShort, kLong, kLongLong, kSize, kMax, kDifference };

// Reads the length modifier at *cursor and moves past it.
Length ReadLength(const char** cursor) {
  const char* at = *cursor;
  Length length = Length::kDefault;
  switch (*at) {
    case 'h':
      length = at[1] == 'h' ? Length::kChar : Length::kShort;
      at += at[1] == 'h' ? 2 : 1;
      break;
    case 'l':
      length = at[1] == 'l' ? Length::kLongLong : Length::kLong;
      at += at[1] == 'l' ? 2 : 1;
      break;
    case 'z':
      length = Length::kSize;
      ++at;
      break;
    case 'j':
      length = Length::kMax;
      ++at;
      break;
    case 't':
      length = Length::kDifference;
      ++at;
      break;
    default:
      break;
  }
  *cursor = at;
  return length;
}

std::intmax_t SignedArgument(Length length, std::va_list& args) {
  switch (length) {
    case Length::kChar:
      return static_cast<signed char>(va_arg(args, int));
    case Length::kShort:
      return static_cast<short>(va_arg(args, int));
    case Length::kLong:
      return va_arg(args, long);
    case Length::kLongLong:
      return va_arg(args, long long);
    case Length::kSize:
      return static_cast<std::make_signed_t<std::size_t>>(va_arg(args, std::size_t));
    case Length::kMax:
      return va_arg(args, std::intmax_t);
    case Length::kDifference:
      return va_arg(args, std::ptrdiff_t);
    case Length::kDefault:
      break;
  }
  return va_arg(args, int);
}

std::uintmax_t UnsignedArgument(Length length, std::va_list& args) {
  switch (length) {
    case Length::kChar:
      return static_cast<unsigned char>(va_arg(args, unsigned int));
    case Length::kShort:
      return static_cast<unsigned short>(va_arg(args, unsigned int));
    case Length::kLong:
      return va_arg(args, unsigned long);
    case Length::kLongLong:
      return va_arg(args, unsigned long long);
    case Length::kSize:
      return va_arg(args, std::size_t);
    case Length::kMax:
      return va_arg(args, std::uintmax_t);
    case Length::kDifference:
      return static_cast<std::make_unsigned_t<std::ptrdiff_t>>(va_arg(args, std::ptrdiff_t));
    case Length::kDefault:
      break;
  }
  return va_arg(args, unsigned int);
}

template <typename Number>
void AppendNumber(std::string* text, Number value, int base, bool upper) {
  const std::size_t start = text->size();
  RtAppendInteger(text, value, base);
  if (upper) {
    for (char* digit = text->data() + start; digit < text->data() + text->size(); ++digit) {
      if (*digit >= 'a' && *digit <= 'f') *digit = static_cast<char>(*digit - 'a' + 'A');
    }
  }
}

// Formats `format` in one pass while every conversion is one done here (no
// flags, width or precision, and no length modifier on %s, %c or %%); false
// at the first that is not, with part of the text appended.
bool AppendDirect(std::string* text, const char* format, std::va_list& args) {
  const char* cursor = format;
  for (;;) {
    const char* percent = std::strchr(cursor, '%');
    if (percent == nullptr) {
      text->append(cursor);
      return true;
    }
    text->append(cursor, percent);
    cursor = percent + 1;
    const Length length = ReadLength(&cursor);
    const char conversion = *cursor++;
    if (length != Length::kDefault &&
        (conversion == 's' || conversion == 'c' || conversion == '%')) {
      return false;
    }
    switch (conversion) {
      case 'd':
      case 'i':
        AppendNumber(text, SignedArgument(length, args), 10, false);
        break;
      case 'u':
        AppendNumber(text, UnsignedArgument(length, args), 10, false);
        break;
      case 'x':
      case 'X':
        AppendNumber(text, UnsignedArgument(length, args), 16, conversion == 'X');
        break;
      case 's': {
        const char* argument = va_arg(args, const char*);
        text->append(argument != nullptr ? argument : "(null)");
        break;
      }
      case 'c':
        text->push_back(static_cast<char>(va_arg(args, int)));
        break;
      case '%':
        text->push_back('%');
        break;
      default:
        return false;
    }
  }
}

// Texts up to this size are formatted once, on the stack.
constexpr std::size_t kStackTextSize = 256;

bool AppendWithPrintf(std::string* text, const char* format, std::va_list args)
    __attribute__((format(printf, 2, 0)));

bool AppendWithPrintf(std::string* text, const char* format, std::va_list args) {
  char small[kStackTextSize];
  std::va_list first;
  va_copy(first, args);
  const int length = std::vsnprintf(small, sizeof small, format, first);
  va_end(first);
  if (length < 0) return false;
  const auto size = static_cast<std::size_t>(length);
  if (size < sizeof small) {
    text->append(small, size);
    return true;
  }
  std::string formatted(size, '\0');
  if (std::vsnprintf(formatted.data(), size + 1, format, args) != length) return false;
  text->append(formatted);
  return true;
}

}  // namespace

bool RtAppendFormat(std::string* text, const char* format, std::va_list args) {
  if (text == nullptr || format == nullptr) return false;
  // The pattern is read once; one the direct pass cannot do is undone and
  // handed whole to printf, with the arguments from the start.
  const std::size_t start = text->size();
  std::va_list direct;
  va_copy(direct, args);
  const bool done = AppendDirect(text, format, direct);
  va_end(direct);
  if (done) return true;
  text->resize(start);
  return AppendWithPrintf(text, format, args);
}

bool RtFormatText(std::string* text, const char* format, std::va_list args) {
  if (text == nullptr) return false;
  std::string formatted;
  if (!RtAppendFormat(&formatted, format, args)) return false;
  *text = std::move(formatted);
  return true;
}
