// printf-style formatting into a std::string of any length, for the few
// places that format the plug-in's own patterns. The conversions those
// patterns use are formatted here without printf; any other pattern goes to
// vsnprintf, so the text is always exactly what printf would make.
#pragma once

#include <charconv>
#include <cstdarg>
#include <iterator>
#include <string>

// Appends an integer in `base` with lower-case digits, as printf's %d, %u
// and %x write it; no allocation beyond the text's own growth.
template <typename Number>
void RtAppendInteger(std::string* text, Number value, int base = 10) {
  char digits[sizeof(Number) * 8 + 1];  // room for base 2 and a sign
  text->append(digits, std::to_chars(digits, std::end(digits), value, base).ptr);
}

// Appends the text of `format` with `args` to *text. Conversions %d %i %u
// %x %X %s %c and %% with the length modifiers hh h l ll z j t, and no
// flags, width or precision, are formatted directly (a null %s text reads
// "(null)"); a pattern with anything else is formatted by vsnprintf. False,
// with *text unchanged, when the pattern cannot be formatted. `args` is
// consumed.
bool RtAppendFormat(std::string* text, const char* format, std::va_list args)
    __attribute__((format(printf, 2, 0)));

// Formats `format` with `args` into *text. False, with *text unchanged, when
// the pattern cannot be formatted. `args` is consumed.
bool RtFormatText(std::string* text, const char* format, std::va_list args)
    __attribute__((format(printf, 2, 0)));
