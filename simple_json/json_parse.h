// The JSON text parser: one message text in, one tree out, or the
// accumulated "Error: " lines that reach the debugger in parse-error answers.
#pragma once

#include <string>
#include <string_view>

#include "simple_json/json_value.h"

// Containers nested deeper than this are refused with an error line, so that
// hostile input cannot overflow the stack.
inline constexpr int kJsonMaxDepth = 512;

// Parses the first JSON value of `text` (which ends at its first NUL byte or
// at its size, whichever comes first); text after that value is ignored.
// Returns the tree and empties *error, or returns null and sets *error to the
// error lines joined by line feeds. A line that quotes the rest of the input
// quotes at most 256 bytes of it, then "...". `error` may be null.
[[nodiscard]] JsonPtr JsonParse(std::string_view text, std::string* error);
// The same, also setting *end (when not null) to the offset just past the
// value in a successful parse, so that a caller reading a stream of
// messages can tell where the next one begins.
[[nodiscard]] JsonPtr JsonParse(std::string_view text, std::string* error, std::size_t* end);
