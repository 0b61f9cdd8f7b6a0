// Framing of JSON-RPC messages on a byte stream: where one message ends,
// found by the brace balance of its text. Depends on nothing else, so the
// recorder tool frames its two streams with the same rules.
#pragma once

#include <cstddef>

// Bytes that may stand between two messages and are dropped there. Carriage
// returns count too, so a debugger that ends each message with CR LF works.
constexpr bool OsaIsInterMessageBlank(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}

// True if `text` (zero-terminated, may be null) holds one complete JSON
// object: after leading blanks, tabs and line feeds (not carriage returns) a
// "{" must follow, and the whole rest of the text must leave the brace depth
// at 0 outside a string. Braces inside strings and backslash-escaped bytes do
// not count; a "}" at depth 0 makes the text never complete, and a further
// "{" after the first object makes it incomplete again. Used on responses.
bool OSA__JSON__IsComplete(const char* text);

// OSA__JSON__IsComplete that also gives the text's length (up to its zero
// byte) in *length when the text is complete, from the same single scan.
[[nodiscard]] bool OsaIsCompleteMessage(const char* text, std::size_t* length);

// Where a brace scan stands, so that it can go on over the next bytes: the
// depth of open objects, inside a string or not, and whether the byte before
// was a backslash inside a string. A fresh scan starts at a "{".
struct OsaBraceScan {
  std::size_t depth = 0;
  bool inString = false;
  bool escaped = false;
};

// Goes on with `scan` over text[0 .. length): true with *end one past the
// "}" that closes the object, false when all bytes are scanned (or a NUL
// byte is met) before it closes. Strings and escapes count as in
// OSA__JSON__IsComplete; a "}" with no object open is passed over. *end is
// written only on success.
[[nodiscard]] bool OsaScanBraces(OsaBraceScan* scan, const char* text, std::size_t length,
                                 std::size_t* end);

// Finds the end of the first JSON object at the very start of
// text[0 .. length): true with *end one past its closing brace, false while
// the object has not closed yet (or the text does not start with "{"). The
// scan stops at a NUL byte and never reads at or past `length`. Strings and
// escapes are counted as in OSA__JSON__IsComplete, so the framed text
// text[0 .. *end) is itself complete. *end is written only on success.
[[nodiscard]] bool OsaFrameFirstObject(const char* text, std::size_t length, std::size_t* end);

// The number of inter-message blanks at the start of text[0 .. length).
std::size_t OsaCountLeadingBlanks(const char* text, std::size_t length);
