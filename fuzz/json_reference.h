// The JSON library as it stood before its trees moved into arenas, kept as a
// reference for the differential fuzz target.
#pragma once

#include <string>
#include <string_view>

namespace json_reference {

// Parses text as the reference library does. True with the tree's written
// text appended to *written, or false with *error set to the error lines.
bool ReferenceParse(std::string_view text, std::string* written, std::string* error);

}  // namespace json_reference
