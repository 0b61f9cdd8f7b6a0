// Dispatch of incoming JSON-RPC 2.0 requests: the method-binding map, the
// envelope checks in their fixed order and the response texts.
#include "jsonrpc/dispatch.h"

#include <charconv>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

// Method names compare byte by byte, so matching is exact and case-sensitive;
// the transparent comparator lets a lent name be looked up without a copy.
using BindingMap = std::map<std::string, JrMethodHandler, std::less<>>;

// Absent until JrCreateBindings: requests that arrive before then are told so.
std::unique_ptr<BindingMap>& Bindings() {
  static std::unique_ptr<BindingMap> bindings;
  return bindings;
}

// The last response. Every response made earlier has already been written by
// the time a new one is made (a nested request's included), so replacing it
// never frees a text that a caller still writes.
std::string& KeptResponse() {
  static std::string kept;
  return kept;
}

// Where the next response is built, then swapped with the kept one: both
// texts keep their storage, so making a response allocates nothing once
// they have grown, and a message being written into it can never be the
// kept text itself.
std::string& NextResponse() {
  static std::string next;
  next.clear();
  return next;
}

const char* KeepNextResponse(std::string& next) {
  std::string& kept = KeptResponse();
  kept.swap(next);
  return kept.c_str();
}

// The handler bound to `name`, or null when the name is unbound (or was bound
// to no handler, which is answered as unbound rather than called).
JrMethodHandler FindHandler(const BindingMap& bindings, std::string_view name) {
  const auto entry = bindings.find(name);
  return entry == bindings.end() ? nullptr : entry->second;
}

}  // namespace

void JrCreateBindings() {
  if (Bindings() == nullptr) Bindings() = std::make_unique<BindingMap>();
}

void JrBindMethod(std::string_view name, JrMethodHandler handler) {
  // A binding made before the map exists creates it rather than being lost.
  JrCreateBindings();
  (*Bindings())[std::string(name)] = handler;
}

const char* JrHandleRequest(const char* text) {
  std::string parseError;
  JsonPtr request =
      JsonParse(text == nullptr ? std::string_view() : std::string_view(text), &parseError);
  if (!parseError.empty()) return JrMakeError(kJrParseError, parseError, nullptr, nullptr);
  if (request == nullptr || request->kind != JsonKind::JsonObject) {
    return JrMakeError(kJrInvalidRequest, "expected object at top level", nullptr,
                       std::move(request));
  }

  JsonPtr id;
  if (!JsonObjectRemove(request.get(), "id", &id)) {
    return JrMakeError(kJrInvalidParams, "missing request id", nullptr, std::move(request));
  }
  if (id->kind != JsonKind::JsonNull && id->kind != JsonKind::JsonInteger &&
      id->kind != JsonKind::JsonString) {
    return JrMakeError(kJrInvalidParams, "invalid request id type", std::move(id),
                       std::move(request));
  }

  const char* method = nullptr;
  if (!JsonObjectGetString(request.get(), "method", &method)) {
    return JrMakeError(kJrInvalidRequest, "missing message name", std::move(id),
                       std::move(request));
  }
  const JsonValue* params = nullptr;
  if (!JsonObjectGet(request.get(), "params", &params)) {
    return JrMakeError(kJrInvalidParams, "missing argument list", std::move(id),
                       std::move(request));
  }
  if (Bindings() == nullptr) {
    return JrMakeError(kJrInternalError, "no method bindings found", std::move(id),
                       std::move(request));
  }
  const JrMethodHandler handler =
      FindHandler(*Bindings(), method == nullptr ? std::string_view() : std::string_view(method));
  if (handler == nullptr) {
    return JrMakeError(kJrMethodNotFound, "unknown message", std::move(id), std::move(request));
  }

  // The handler may serve nested requests (and replace the kept response)
  // before it returns; this call makes its own response only afterwards.
  JsonPtr result = handler(params);
  return JrMakeResult(std::move(result), std::move(id), std::move(request));
}

const char* JrMakeResult(JsonPtr result, JsonPtr id, JsonPtr request) {
  request.reset();  // the params value goes with the request tree
  std::string& text = NextResponse();
  text.append("{ \"jsonrpc\" : \"2.0\", \"result\" : ");
  JsonWrite(text, result.get());
  result.reset();
  text.append(", \"id\" : ");
  JsonWrite(text, id.get());
  id.reset();
  text.append(" }");
  return KeepNextResponse(text);
}

const char* JrMakeError(std::int32_t code, std::string_view message, JsonPtr id, JsonPtr request) {
  request.reset();
  std::string& text = NextResponse();
  text.append("{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : ");
  char digits[16];
  const auto converted = std::to_chars(digits, digits + sizeof digits, code);
  text.append(digits, converted.ptr);
  text.append(", \"message\" : ");
  JsonQuote(text, message);
  // The error object closes without a blank before its brace.
  text.append("}, \"id\" : ");
  JsonWrite(text, id.get());  // no id writes null
  id.reset();
  text.append(" }");
  return KeepNextResponse(text);
}

const char* JrKeepResponse(std::string text) {
  std::string& kept = KeptResponse();
  kept = std::move(text);
  return kept.c_str();
}
