// Playback of recorded conversations (see playback.h).
#include "plugin/playback.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <utility>

#include "osa/entry.h"
#include "plugin/conversation.h"
#include "simple_json/json_parse.h"

namespace {

constexpr const char* kDebuggerTag = "VEXLO";
constexpr const char* kPluginTag = "PLUGIN";

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

void ReportDifferentResult(OsaPlayback* playback, const char* response) {
  std::printf("Got different result to %s on line %d:\n%s\n", kDebuggerTag, playback->lineCount,
              response != nullptr ? response : "<NULL>");
  playback->result = 4;
}

}  // namespace

const char* OsaPlaybackNextMessage(OsaPlayback* playback, std::string* holder,
                                   OsaRecordSender sender, OsaLineNeed need) {
  const char* tag = sender == OsaRecordSender::kDebugger ? kDebuggerTag : kPluginTag;
  holder->clear();
  std::istream* record = playback->record;
  if (record == nullptr || !record->good() || !std::getline(*record, *holder)) {
    if (need == OsaLineNeed::kRequired) {
      std::printf("Expect a message from %s at line %d\n", tag, playback->lineCount + 1);
      playback->result = 3;
    }
    return nullptr;
  }
  ++playback->lineCount;
  // Texts are zero-terminated: a NUL byte in the line ends it.
  const std::string_view line(holder->c_str());
  std::size_t cursor = 0;
  while (cursor < line.size() && IsPrefixByte(line[cursor]))
    ++cursor;
  if (!StartsWithTag(line.substr(cursor), tag)) {
    std::printf("Expect a message from %s at line %d\n", tag, playback->lineCount);
    playback->result = 3;
    return nullptr;
  }
  cursor += std::strlen(tag);
  while (cursor < line.size() && IsLineBlank(line[cursor]))
    ++cursor;
  if (cursor >= line.size() || line[cursor] != ':') {
    std::printf("Invalid syntax at line %d\n", playback->lineCount);
    playback->result = 3;
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

const char* OsaPlaybackExchange(OsaPlayback* playback, OsaWaits* waits, const char* request,
                                JsonPtr* tree) {
  if (request == nullptr) return nullptr;
  std::string line;
  const char* recorded =
      OsaPlaybackNextMessage(playback, &line, OsaRecordSender::kPlugin, OsaLineNeed::kRequired);
  if (!SameMessage(recorded, request)) {
    std::printf("Got different request to %s on line %d:\n%s\n", kDebuggerTag, playback->lineCount,
                request);
    playback->result = 4;
  }
  const OsaExchangeDepthScope depth(waits);
  for (;;) {
    const char* message =
        OsaPlaybackNextMessage(playback, &line, OsaRecordSender::kDebugger, OsaLineNeed::kRequired);
    if (message == nullptr) return nullptr;
    JsonPtr parsed = JsonParse(std::string_view(message), nullptr);
    const JsonValue* method = nullptr;
    if (parsed == nullptr || parsed->kind != JsonKind::JsonObject ||
        !JsonObjectGet(parsed.get(), "method", &method)) {
      if (tree != nullptr) *tree = std::move(parsed);
      return OsaKeepAnswer(waits, message);
    }
    std::string refusal;
    const char* response = OsaServeNestedRequest(*waits, message, parsed.get(), &refusal);
    std::string responseLine;
    const char* recordedResponse = OsaPlaybackNextMessage(
        playback, &responseLine, OsaRecordSender::kPlugin, OsaLineNeed::kRequired);
    if (!SameMessage(recordedResponse, response)) ReportDifferentResult(playback, response);
  }
}

std::int32_t OsaPlaybackRun(OsaPlayback* playback, std::istream& stream, const char* name) {
  playback->record = &stream;
  playback->lineCount = 0;
  playback->result = 0;
  std::string requestLine;
  std::string responseLine;
  while (playback->ignoreError || playback->result == 0) {
    const char* request = OsaPlaybackNextMessage(playback, &requestLine, OsaRecordSender::kDebugger,
                                                 OsaLineNeed::kOptional);
    if (request == nullptr) break;
    const char* response = OSA_Client_CmdParser(request);
    const char* recorded = OsaPlaybackNextMessage(playback, &responseLine, OsaRecordSender::kPlugin,
                                                  OsaLineNeed::kRequired);
    if (!SameMessage(recorded, response)) {
      ReportDifferentResult(playback, response);
      break;
    }
  }
  if (playback->result == 0) {
    std::printf("Successfully played back all %d lines from %s.\n", playback->lineCount, name);
  }
  playback->record = nullptr;
  return playback->result;
}

std::int32_t OsaPlaybackRunFile(OsaPlayback* playback, const char* fileName) {
  // A directory would open and read as an empty record, a false success.
  std::error_code error;
  const bool directory = std::filesystem::is_directory(fileName, error);
  std::ifstream file;
  if (!directory) file.open(fileName, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    std::printf("Cannot open file to read: %s\n", fileName);
    playback->result = 2;
    return playback->result;
  }
  return OsaPlaybackRun(playback, file, fileName);
}

const char* OSA__Playback__NextMessage(std::string* holder, bool fromDebugger, bool required) {
  return OsaPlaybackNextMessage(
      &OsaProcessConversation().playback, holder,
      fromDebugger ? OsaRecordSender::kDebugger : OsaRecordSender::kPlugin,
      required ? OsaLineNeed::kRequired : OsaLineNeed::kOptional);
}

const char* OSA__Playback__Exchange(const char* request) {
  OsaConversation& conversation = OsaProcessConversation();
  return OsaPlaybackExchange(&conversation.playback, &conversation.waits, request, nullptr);
}

std::int32_t OSA__Playback__Run(const char* fileName) {
  return OsaPlaybackRunFile(&OsaProcessConversation().playback, fileName);
}
