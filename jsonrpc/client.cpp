// Outgoing JSON-RPC requests: request text with the service's next id, the
// exchange through the send function and the unpacking of the answer.
#include "jsonrpc/client.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

#include "runtime/text_format.h"
#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

// The request text for `method` with `params` and `id`, pieces in wire order.
std::string BuildRequest(const char* method, const JsonValue* params, std::int64_t id) {
  std::string text = "{ \"jsonrpc\" : \"2.0\", \"method\" : ";
  JsonQuote(text, method);
  text.append(", \"params\" : ");
  JsonWrite(text, params);
  char idText[32];
  std::snprintf(idText, sizeof idText, ", \"id\" : %" PRId64 " }", id);
  text.append(idText);
  return text;
}

// The "message" text of an answer's "error" member; empty when the member is
// not an object or has no string "message".
const char* ErrorMessage(const JsonValue* error) {
  const char* message = nullptr;
  if (error->kind != JsonKind::JsonObject || !JsonObjectGetString(error, "message", &message) ||
      message == nullptr) {
    return "";
  }
  return message;
}

}  // namespace

void JrInitService(JsonRpcService* service, JrSendFunction send) {
  if (service == nullptr) return;
  service->log = nullptr;
  service->send = send;
  service->nextId = 0;
}

bool JrSendRequest(JsonRpcService* service, const char* method, JsonPtr params, JsonPtr* result) {
  if (service == nullptr || (service->send == nullptr && service->sendWithContext == nullptr)) {
    params.reset();
    JrLog(service, "ERROR", "[JrSendRequest] service not initialized");
    return false;
  }
  const char* const name = method == nullptr ? "(null)" : method;

  // The id is used up here, before the send function can serve nested
  // requests that take the following ids.
  const std::string request = BuildRequest(method, params.get(), service->nextId);
  params.reset();
  ++service->nextId;

  JrLog(service, "SEND", "%s", request.c_str());
  const char* const answer = service->sendWithContext != nullptr
                                 ? service->sendWithContext(service->sendContext, request.c_str())
                                 : service->send(request.c_str());
  JrLog(service, "RECV", "%s", answer == nullptr ? "(NULL)" : answer);
  if (answer == nullptr) {
    JrLog(service, "ERROR", "[JrSendRequest] %s response was NULL", name);
    return false;
  }

  std::string parseError;
  const JsonPtr tree = JsonParse(answer, &parseError);
  if (!parseError.empty()) {
    JrLog(service, "ERROR", "[JrSendRequest] %s response parsing: %s", name, parseError.c_str());
    return false;
  }
  // Anything but an object holds neither "error" nor "result": a success
  // without a result. The answer's "jsonrpc" and "id" are not looked at.
  if (tree == nullptr || tree->kind != JsonKind::JsonObject) return true;

  const JsonValue* error = nullptr;
  if (JsonObjectGet(tree.get(), "error", &error)) {
    JrLog(service, "ERROR", "[JrSendRequest] %s request failed: %s", name, ErrorMessage(error));
    return false;
  }
  JsonPtr value;
  if (result != nullptr && JsonObjectRemove(tree.get(), "result", &value)) {
    *result = std::move(value);
  }
  return true;
}

void JrLog(JsonRpcService* service, const char* tag, const char* format, ...) {
  if (service == nullptr || service->log == nullptr) return;
  va_list args;
  va_start(args, format);
  std::string text;
  RtFormatText(&text, format, args);
  va_end(args);
  service->log(tag, text.c_str());
}
