// The JSON text writer: the exact one-line wire text with fixed spacing
// ("{ ", " : ", ", ", " }") and the 256-entry escape table.
#pragma once

#include <string>
#include <string_view>

#include "simple_json/json_value.h"

// Appends the text of value (null writes "null") to out and returns out.
std::string& JsonWrite(std::string& out, const JsonValue* value);

// Appends text as a JSON string: quotes around the escaped bytes. A null
// text is written as "(null)".
std::string& JsonQuote(std::string& out, const char* text);
std::string& JsonQuote(std::string& out, std::string_view text);

// Indented form: width 0 writes exactly what JsonWrite writes; otherwise
// containers span several lines, members at (level + 1) * width blanks.
std::string& JsonWriteIndented(std::string& out, const JsonValue* value, int width, int level);
