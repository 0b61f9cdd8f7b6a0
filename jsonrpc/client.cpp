// Outgoing JSON-RPC requests: request text with the service's next id, the
// exchange through the send function and the unpacking of the answer.
#include "jsonrpc/client.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/text_format.h"
#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

// Counts one open send of the service for as long as it lives.
struct SendDepthScope {
  explicit SendDepthScope(JsonRpcService* service) : service_(service) { ++service_->sendDepth; }
  ~SendDepthScope() { --service_->sendDepth; }
  SendDepthScope(const SendDepthScope&) = delete;
  SendDepthScope& operator=(const SendDepthScope&) = delete;

 private:
  JsonRpcService* service_;
};

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

// Sends the request and gives the answer text (null: none) and its tree,
// parsed here unless the transport has parsed it; *parseError holds the
// parser's error lines when the text does not parse.
const char* Exchange(JsonRpcService* service, const char* request, JsonPtr* tree,
                     std::string* parseError) {
  const char* answer = nullptr;
  if (service->sendWithContext != nullptr) {
    answer = service->sendWithContext(service->sendContext, request);
  } else if (service->sendParsed != nullptr) {
    answer = service->sendParsed(service->sendContext, request, tree);
    // Only a text that failed to parse is parsed again, for its error lines.
    if (answer != nullptr && *tree == nullptr) (void)JsonParse(answer, parseError);
    return answer;
  } else {
    answer = service->send(request);
  }
  if (answer != nullptr) *tree = JsonParse(answer, parseError);
  return answer;
}

// Sends one request whose params are the tree `params` or, when it is
// null, the written text `paramsText`. When the answer is taken, *kept
// holds its tree and *result lends its "result" member, if any (see
// JrSendTextKeep).
JrSendStatus SendRequest(JsonRpcService* service, const char* method, JsonPtr params,
                         std::string_view paramsText, JsonPtr* kept, const JsonValue** result) {
  if (service == nullptr || (service->send == nullptr && service->sendWithContext == nullptr &&
                             service->sendParsed == nullptr)) {
    params.reset();
    JrLog(service, "ERROR", "[JrSendRequest] service not initialized");
    return JrSendStatus::kNoService;
  }
  const char* const name = method == nullptr ? "(null)" : method;

  // The id is used up here, before the send function can serve nested
  // requests that take the following ids.
  std::deque<std::string>& texts = service->requestTexts;
  if (texts.size() <= service->sendDepth) texts.resize(service->sendDepth + 1);
  std::string& request = texts[service->sendDepth];
  if (params != nullptr) {
    std::string written;  // rare: most requests come with their params as text
    JsonWrite(written, params.get());
    params.reset();
    JrWriteRequest(&request, name, written, service->nextId);
  } else {
    JrWriteRequest(&request, name, paramsText, service->nextId);
  }
  ++service->nextId;

  JrLog(service, "SEND", "%s", request.c_str());
  JsonPtr tree;
  std::string parseError;
  const char* answer = nullptr;
  {
    const SendDepthScope depth(service);
    answer = Exchange(service, request.c_str(), &tree, &parseError);
  }
  JrLog(service, "RECV", "%s", answer == nullptr ? "(NULL)" : answer);
  if (answer == nullptr) {
    JrLog(service, "ERROR", "[JrSendRequest] %s response was NULL", name);
    return JrSendStatus::kNoAnswer;
  }
  if (!parseError.empty()) {
    JrLog(service, "ERROR", "[JrSendRequest] %s response parsing: %s", name, parseError.c_str());
    return JrSendStatus::kUnparsable;
  }
  // Anything but an object holds neither "error" nor "result": a success
  // without a result. The answer's "jsonrpc" and "id" are not looked at.
  if (tree == nullptr || tree->kind != JsonKind::JsonObject) return JrSendStatus::kAnswered;

  constexpr std::array<std::string_view, 2> kNames = {"error", "result"};
  const auto [error, value] = JsonObjectFindMembers(tree.get(), kNames);
  if (error != nullptr) {
    JrLog(service, "ERROR", "[JrSendRequest] %s request failed: %s", name, ErrorMessage(error));
    return JrSendStatus::kErrorAnswer;
  }
  *result = value;
  *kept = std::move(tree);
  return JrSendStatus::kAnswered;
}

// Takes the answer's "result" member out for a caller that owns it.
JrSendStatus TakeResult(JrSendStatus status, const JsonPtr& answer, const JsonValue* lent,
                        JsonPtr* result) {
  JsonPtr value;
  if (lent != nullptr && result != nullptr && JsonObjectRemove(answer.get(), "result", &value)) {
    *result = std::move(value);
  }
  return status;
}

}  // namespace

void JrWriteRequest(std::string* text, std::string_view method, std::string_view params,
                    std::int64_t id) {
  text->assign("{ \"jsonrpc\" : \"2.0\", \"method\" : ");
  JsonQuote(*text, method);
  // What follows the method is put together on the stack and appended once
  // when the params are short, as nearly all are.
  constexpr std::string_view kParams = ", \"params\" : ";
  constexpr std::string_view kId = ", \"id\" : ";
  constexpr std::string_view kEnd = " }";
  constexpr std::size_t kShortParams = 448;
  if (params.size() <= kShortParams) {
    std::array<char, kParams.size() + kShortParams + kId.size() + 24 + kEnd.size()> rest;
    char* out = std::copy(kParams.begin(), kParams.end(), rest.data());
    out = std::copy(params.begin(), params.end(), out);
    out = std::copy(kId.begin(), kId.end(), out);
    out = std::to_chars(out, out + 24, id).ptr;
    out = std::copy(kEnd.begin(), kEnd.end(), out);
    text->append(rest.data(), static_cast<std::size_t>(out - rest.data()));
    return;
  }
  text->append(kParams);
  text->append(params);
  text->append(kId);
  char digits[24];
  const auto converted = std::to_chars(digits, digits + sizeof digits, id);
  text->append(digits, converted.ptr);
  text->append(kEnd);
}

void JrInitService(JsonRpcService* service, JrSendFunction send) {
  if (service == nullptr) return;
  service->log = nullptr;
  service->send = send;
  service->sendParsed = nullptr;
  service->nextId = 0;
}

JrSendStatus JrSendTree(JsonRpcService* service, const char* method, JsonPtr params,
                        JsonPtr* result) {
  JsonPtr answer;
  const JsonValue* lent = nullptr;
  const JrSendStatus status =
      params == nullptr ? SendRequest(service, method, nullptr, "null", &answer, &lent)
                        : SendRequest(service, method, std::move(params), {}, &answer, &lent);
  return TakeResult(status, answer, lent, result);
}

JrSendStatus JrSendText(JsonRpcService* service, const char* method, std::string_view params,
                        JsonPtr* result) {
  JsonPtr answer;
  const JsonValue* lent = nullptr;
  const JrSendStatus status = SendRequest(service, method, nullptr, params, &answer, &lent);
  return TakeResult(status, answer, lent, result);
}

JrSendStatus JrSendTextKeep(JsonRpcService* service, const char* method, std::string_view params,
                            JsonPtr* answer, const JsonValue** result) {
  *result = nullptr;
  return SendRequest(service, method, nullptr, params, answer, result);
}

bool JrSendRequest(JsonRpcService* service, const char* method, JsonPtr params, JsonPtr* result) {
  return JrSendTree(service, method, std::move(params), result) == JrSendStatus::kAnswered;
}

bool JrSendRequestText(JsonRpcService* service, const char* method, std::string_view params,
                       JsonPtr* result) {
  return JrSendText(service, method, params, result) == JrSendStatus::kAnswered;
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
