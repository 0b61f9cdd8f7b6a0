// The live-mode send function (see exchange.h).
#include "plugin/exchange.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "plugin/nesting.h"
#include "plugin/transport.h"
#include "simple_json/json_parse.h"

namespace {

std::string gLastAnswer;

bool WriteText(const char* text) {
  return text != nullptr && OSA__JSON__Write(text, static_cast<std::int32_t>(std::strlen(text)));
}

}  // namespace

const char* OSA__JSON__Exchange(const char* request) {
  return OsaJsonExchangeParsed(nullptr, request, nullptr);
}

const char* OsaJsonExchangeParsed(void* /*context*/, const char* request, JsonPtr* tree) {
  if (request == nullptr) return nullptr;
  if (!WriteText(request)) {
    std::fprintf(stderr, "OSA plugin: Failed to send %s", request);
    return nullptr;
  }
  const OsaExchangeDepthScope depth;
  char buffer[kOsaReceiveBufferSize];
  for (;;) {
    int error = 0;
    const OsaReceiveStatus received = OsaReceiveMessage(buffer, &error);
    if (received == OsaReceiveStatus::Failed) {
      std::fprintf(stderr, "OSA plugin: Failed to get valid resonse: %s", buffer);
      return nullptr;
    }
    // An answer too long to read fails this request, as a failed read does;
    // the receive path has reported it.
    if (received == OsaReceiveStatus::Oversize) return nullptr;
    JsonPtr message = JsonParse(std::string_view(buffer), nullptr);
    const JsonValue* method = nullptr;
    if (message == nullptr || message->kind != JsonKind::JsonObject ||
        !JsonObjectGet(message.get(), "method", &method)) {
      gLastAnswer.assign(buffer);
      if (tree != nullptr) *tree = std::move(message);
      return gLastAnswer.c_str();
    }
    std::string refusal;
    const char* response = OsaServeNestedRequest(buffer, message.get(), &refusal);
    if (!WriteText(response)) {
      const int writeError = errno;
      std::fprintf(stderr, "OSA plugin: Failed to send response: %s (err %d)",
                   response != nullptr ? response : "null", writeError);
      // The outer request fails rather than taking this request as its answer.
      return nullptr;
    }
  }
}
