// printf-style formatting into a std::string.
#include "runtime/text_format.h"

#include <cstdio>
#include <utility>

bool RtFormatText(std::string* text, const char* format, std::va_list args) {
  if (text == nullptr || format == nullptr) return false;
  std::va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return false;
  std::string formatted(static_cast<std::size_t>(length), '\0');
  if (std::vsnprintf(formatted.data(), formatted.size() + 1, format, args) != length) return false;
  *text = std::move(formatted);
  return true;
}
