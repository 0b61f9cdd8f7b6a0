// printf-style formatting into a std::string of any length, for the few
// places that format the plug-in's own patterns.
#pragma once

#include <cstdarg>
#include <string>

// Formats `format` with `args` into *text. False, with *text unchanged, when
// the pattern cannot be formatted. `args` is consumed.
bool RtFormatText(std::string* text, const char* format, std::va_list args)
    __attribute__((format(printf, 2, 0)));
