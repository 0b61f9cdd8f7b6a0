// Playback of recorded conversations (see playback.h).
#include "plugin/playback.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <utility>

#include "osa/entry.h"
#include "plugin/nesting.h"
#include "simple_json/json_parse.h"

namespace {

constexpr const char* kDebuggerTag = "VEXLO";
constexpr const char* kPluginTag = "PLUGIN";

std::istream* gRecord = nullptr;
std::int32_t gLineCount = 0;
std::int32_t gResult = 0;
bool gIgnoreError = false;
std::string gLastAnswer;

constexpr bool IsPrefixByte(char byte) {
  return (byte >= '0' && byte <= '9') || byte == ':' || byte == '.' || byte == ' ' || byte == '\t';
}

constexpr bool IsLineBlank(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f';
}

constexpr char FoldCase(char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : byte;
}

// True when `text` starts with `tag`, letters folded.
bool StartsWithTag(std::string_view text, std::string_view tag) {
  if (text.size() < tag.size()) return false;
  for (std::size_t index = 0; index < tag.size(); ++index) {
    if (FoldCase(text[index]) != FoldCase(tag[index])) return false;
  }
  return true;
}

// Compares a message of the plug-in with the recorded one (null: missing).
bool SameMessage(const char* recorded, const char* produced) {
  return recorded != nullptr && produced != nullptr && std::strcmp(recorded, produced) == 0;
}

void ReportDifferentResult(const char* response) {
  std::printf("Got different result to %s on line %d:\n%s\n", kDebuggerTag, gLineCount,
              response != nullptr ? response : "<NULL>");
  gResult = 4;
}

}  // namespace

void OsaPlaybackSetIgnoreError(bool ignore) {
  gIgnoreError = ignore;
}

const char* OSA__Playback__NextMessage(std::string* holder, bool fromDebugger, bool required) {
  const char* tag = fromDebugger ? kDebuggerTag : kPluginTag;
  holder->clear();
  if (gRecord == nullptr || !gRecord->good() || !std::getline(*gRecord, *holder)) {
    if (required) {
      std::printf("Expect a message from %s at line %d\n", tag, gLineCount + 1);
      gResult = 3;
    }
    return nullptr;
  }
  ++gLineCount;
  // Texts are zero-terminated: a NUL byte in the line ends it.
  const std::string_view line(holder->c_str());
  std::size_t cursor = 0;
  while (cursor < line.size() && IsPrefixByte(line[cursor]))
    ++cursor;
  if (!StartsWithTag(line.substr(cursor), tag)) {
    std::printf("Expect a message from %s at line %d\n", tag, gLineCount);
    gResult = 3;
    return nullptr;
  }
  cursor += std::strlen(tag);
  while (cursor < line.size() && IsLineBlank(line[cursor]))
    ++cursor;
  if (cursor >= line.size() || line[cursor] != ':') {
    std::printf("Invalid syntax at line %d\n", gLineCount);
    gResult = 3;
    return nullptr;
  }
  ++cursor;
  while (cursor < line.size() && IsLineBlank(line[cursor]))
    ++cursor;
  std::size_t end = line.size();
  while (end > cursor && IsLineBlank(line[end - 1]))
    --end;
  holder->resize(end);
  return holder->c_str() + cursor;
}

const char* OSA__Playback__Exchange(const char* request) {
  return OsaPlaybackExchangeParsed(nullptr, request, nullptr);
}

const char* OsaPlaybackExchangeParsed(void* /*context*/, const char* request, JsonPtr* tree) {
  if (request == nullptr) return nullptr;
  std::string line;
  const char* recorded = OSA__Playback__NextMessage(&line, false, true);
  if (!SameMessage(recorded, request)) {
    std::printf("Got different request to %s on line %d:\n%s\n", kDebuggerTag, gLineCount, request);
    gResult = 4;
  }
  const OsaExchangeDepthScope depth;
  for (;;) {
    const char* message = OSA__Playback__NextMessage(&line, true, true);
    if (message == nullptr) return nullptr;
    JsonPtr parsed = JsonParse(std::string_view(message), nullptr);
    const JsonValue* method = nullptr;
    if (parsed == nullptr || parsed->kind != JsonKind::JsonObject ||
        !JsonObjectGet(parsed.get(), "method", &method)) {
      gLastAnswer.assign(message);
      if (tree != nullptr) *tree = std::move(parsed);
      return gLastAnswer.c_str();
    }
    std::string refusal;
    const char* response = OsaServeNestedRequest(message, parsed.get(), &refusal);
    std::string responseLine;
    const char* recordedResponse = OSA__Playback__NextMessage(&responseLine, false, true);
    if (!SameMessage(recordedResponse, response)) ReportDifferentResult(response);
  }
}

std::int32_t OSA__Playback__Run(const char* fileName) {
  // A directory would open and read as an empty record, a false success.
  std::error_code error;
  const bool directory = std::filesystem::is_directory(fileName, error);
  std::ifstream file;
  if (!directory) file.open(fileName, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    std::printf("Cannot open file to read: %s\n", fileName);
    gResult = 2;
    return gResult;
  }
  return OsaPlaybackRunStream(file, fileName);
}

std::int32_t OsaPlaybackRunStream(std::istream& stream, const char* name) {
  gRecord = &stream;
  gLineCount = 0;
  gResult = 0;
  std::string requestLine;
  std::string responseLine;
  while (gIgnoreError || gResult == 0) {
    const char* request = OSA__Playback__NextMessage(&requestLine, true, false);
    if (request == nullptr) break;
    const char* response = OSA_Client_CmdParser(request);
    const char* recorded = OSA__Playback__NextMessage(&responseLine, false, true);
    if (!SameMessage(recorded, response)) {
      ReportDifferentResult(response);
      break;
    }
  }
  if (gResult == 0) {
    std::printf("Successfully played back all %d lines from %s.\n", gLineCount, name);
  }
  gRecord = nullptr;
  return gResult;
}
