// Brace-balance framing of JSON-RPC messages (see framing.h).
#include "plugin/framing.h"

bool OSA__JSON__IsComplete(const char* text) {
  if (text == nullptr) return false;
  const char* cursor = text;
  while (*cursor == ' ' || *cursor == '\t' || *cursor == '\n')
    ++cursor;
  if (*cursor != '{') return false;
  long depth = 0;
  bool inString = false;
  for (; *cursor != '\0'; ++cursor) {
    const char byte = *cursor;
    if (inString) {
      if (byte == '"') {
        inString = false;
      } else if (byte == '\\' && cursor[1] != '\0') {
        ++cursor;
      }
    } else if (byte == '{') {
      ++depth;
    } else if (byte == '}') {
      if (depth == 0) return false;
      --depth;
    } else if (byte == '"') {
      inString = true;
    }
  }
  return depth == 0 && !inString;
}

bool OsaScanBraces(OsaBraceScan* scan, const char* text, std::size_t length, std::size_t* end) {
  for (std::size_t index = 0; index < length; ++index) {
    const char byte = text[index];
    if (byte == '\0') return false;
    if (scan->escaped) {
      scan->escaped = false;
    } else if (scan->inString) {
      if (byte == '"') {
        scan->inString = false;
      } else if (byte == '\\') {
        scan->escaped = true;
      }
    } else if (byte == '{') {
      ++scan->depth;
    } else if (byte == '}') {
      if (scan->depth > 0 && --scan->depth == 0) {
        *end = index + 1;
        return true;
      }
    } else if (byte == '"') {
      scan->inString = true;
    }
  }
  return false;
}

bool OsaFrameFirstObject(const char* text, std::size_t length, std::size_t* end) {
  if (text == nullptr || length == 0 || text[0] != '{') return false;
  // An escaped byte that has not arrived yet (or is a NUL) leaves it open.
  OsaBraceScan scan;
  return OsaScanBraces(&scan, text, length, end);
}

std::size_t OsaCountLeadingBlanks(const char* text, std::size_t length) {
  std::size_t count = 0;
  while (count < length && OsaIsInterMessageBlank(text[count]))
    ++count;
  return count;
}
