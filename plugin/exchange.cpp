// The live-mode exchange (see exchange.h).
#include "plugin/exchange.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "plugin/conversation.h"
#include "simple_json/json_parse.h"

namespace {

bool WriteText(const OsaTransport& transport, const char* text) {
  return text != nullptr &&
         OsaTransportWrite(transport, text, static_cast<std::int32_t>(std::strlen(text)));
}

}  // namespace

const char* OsaLiveExchange(OsaTransport* transport, OsaWaits* waits, const char* request,
                            JsonPtr* tree) {
  if (request == nullptr) return nullptr;
  if (!WriteText(*transport, request)) {
    std::fprintf(stderr, "OSA plugin: Failed to send %s", request);
    return nullptr;
  }
  const OsaExchangeDepthScope depth(waits);
  char buffer[kOsaReceiveBufferSize];
  for (;;) {
    int error = 0;
    std::size_t size = 0;
    JsonPtr message;
    const OsaReceiveStatus received = OsaReceiveMessage(transport, buffer, &error, &size, &message);
    if (received == OsaReceiveStatus::kFailed) {
      std::fprintf(stderr, "OSA plugin: Failed to get valid resonse: %s", buffer);
      return nullptr;
    }
    // An answer too long to read fails this request, as a failed read does;
    // the receive path has reported it.
    if (received == OsaReceiveStatus::kOversize) return nullptr;
    const std::string_view text(buffer, size);
    if (message == nullptr) message = JsonParse(text, nullptr);
    const JsonValue* method = nullptr;
    if (message == nullptr || message->kind != JsonKind::JsonObject ||
        !JsonObjectGet(message.get(), "method", &method)) {
      if (tree != nullptr) *tree = std::move(message);
      return OsaKeepAnswer(waits, text);
    }
    std::string refusal;
    const char* response = OsaServeNestedRequest(*waits, buffer, message.get(), &refusal);
    if (!WriteText(*transport, response)) {
      const int writeError = errno;
      std::fprintf(stderr, "OSA plugin: Failed to send response: %s (err %d)",
                   response != nullptr ? response : "null", writeError);
      // The outer request fails rather than taking this request as its answer.
      return nullptr;
    }
  }
}

const char* OSA__JSON__Exchange(const char* request) {
  OsaConversation& conversation = OsaProcessConversation();
  return OsaLiveExchange(&conversation.transport, &conversation.waits, request, nullptr);
}
