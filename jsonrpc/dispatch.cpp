// Dispatch of incoming JSON-RPC 2.0 requests: the method-binding map, the
// envelope checks in their fixed order and the response texts.
#include "jsonrpc/dispatch.h"

#include <array>
#include <charconv>
#include <utility>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

// The process's dispatcher: the interface's operations name no dispatcher,
// so they share this one. Made on first use, so that no order of static
// initialisation can reach it unmade; no bindings until OSA_Client_CmdInit.
JrDispatcher& ProcessDispatcher() {
  static JrDispatcher dispatcher;
  return dispatcher;
}

std::string& NextResponse(JrDispatcher* dispatcher) {
  dispatcher->next.clear();
  return dispatcher->next;
}

const char* KeepNextResponse(JrDispatcher* dispatcher) {
  dispatcher->kept.swap(dispatcher->next);
  dispatcher->keptWritten = true;
  return dispatcher->kept.c_str();
}

// Writes { "jsonrpc" : "2.0", "result" : R, "id" : I } and keeps it.
const char* ResultAnswer(JrDispatcher* dispatcher, const JsonValue* result, const JsonValue* id) {
  std::string& text = NextResponse(dispatcher);
  text.append("{ \"jsonrpc\" : \"2.0\", \"result\" : ");
  JsonWrite(text, result);
  text.append(", \"id\" : ");
  JsonWrite(text, id);
  text.append(" }");
  return KeepNextResponse(dispatcher);
}

// Writes the error response and keeps it; a null id writes null.
const char* ErrorAnswer(JrDispatcher* dispatcher, std::int32_t code, std::string_view message,
                        const JsonValue* id) {
  std::string& text = NextResponse(dispatcher);
  text.append("{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : ");
  char digits[16];
  const auto converted = std::to_chars(digits, digits + sizeof digits, code);
  text.append(digits, converted.ptr);
  text.append(", \"message\" : ");
  JsonQuote(text, message);
  // The error object closes without a blank before its brace.
  text.append("}, \"id\" : ");
  JsonWrite(text, id);
  text.append(" }");
  return KeepNextResponse(dispatcher);
}

// The handler bound to `name`, or null when the name is unbound (or was bound
// to no handler, which is answered as unbound rather than called).
JrMethodHandler FindHandler(const JrBindingMap& bindings, std::string_view name) {
  const auto entry = bindings.find(name);
  return entry == bindings.end() ? nullptr : entry->second;
}

// The envelope checks and the call, on a request that parsed.
const char* Serve(JrDispatcher* dispatcher, JsonPtr request) {
  if (request == nullptr || request->kind != JsonKind::JsonObject) {
    return ErrorAnswer(dispatcher, kJrInvalidRequest, "expected object at top level", nullptr);
  }

  // One pass finds the first member of each name; the id stays in the
  // request, which lives until the response is written.
  constexpr std::array<std::string_view, 3> kNames = {"id", "method", "params"};
  const auto [id, method, params] = JsonObjectFindMembers(request.get(), kNames);
  if (id == nullptr) {
    return ErrorAnswer(dispatcher, kJrInvalidParams, "missing request id", nullptr);
  }
  if (id->kind != JsonKind::JsonNull && id->kind != JsonKind::JsonInteger &&
      id->kind != JsonKind::JsonString) {
    return ErrorAnswer(dispatcher, kJrInvalidParams, "invalid request id type", id);
  }
  if (method == nullptr || method->kind != JsonKind::JsonString) {
    return ErrorAnswer(dispatcher, kJrInvalidRequest, "missing message name", id);
  }
  if (params == nullptr) {
    return ErrorAnswer(dispatcher, kJrInvalidParams, "missing argument list", id);
  }
  if (!dispatcher->bindings) {
    return ErrorAnswer(dispatcher, kJrInternalError, "no method bindings found", id);
  }
  const JrMethodHandler handler = FindHandler(
      *dispatcher->bindings, method->hasText ? method->text.view() : std::string_view());
  if (handler == nullptr) {
    return ErrorAnswer(dispatcher, kJrMethodNotFound, "unknown message", id);
  }

  // The handler may serve nested requests (and replace the kept response)
  // before it returns; this call makes its own response only afterwards.
  const JsonPtr result = handler(params);
  return ResultAnswer(dispatcher, result.get(), id);
}

const char* HandleText(JrDispatcher* dispatcher, const char* text) {
  std::string parseError;
  JsonPtr request =
      JsonParse(text == nullptr ? std::string_view() : std::string_view(text), &parseError);
  if (!parseError.empty()) {
    return ErrorAnswer(dispatcher, kJrParseError, parseError, nullptr);
  }
  return Serve(dispatcher, std::move(request));
}

}  // namespace

void JrDispatcherCreateBindings(JrDispatcher* dispatcher) {
  if (!dispatcher->bindings) dispatcher->bindings.emplace();
}

void JrDispatcherBind(JrDispatcher* dispatcher, std::string_view name, JrMethodHandler handler) {
  // A binding made before the map exists creates it rather than being lost.
  JrDispatcherCreateBindings(dispatcher);
  (*dispatcher->bindings)[std::string(name)] = handler;
}

const char* JrDispatcherHandle(JrDispatcher* dispatcher, const char* text) {
  return JrDispatcherHandleParsed(dispatcher, text, nullptr);
}

const char* JrDispatcherHandleParsed(JrDispatcher* dispatcher, const char* text, JsonPtr request) {
  if (request == nullptr) return HandleText(dispatcher, text);
  return Serve(dispatcher, std::move(request));
}

const char* JrDispatcherResult(JrDispatcher* dispatcher, JsonPtr result, JsonPtr id,
                               JsonPtr request) {
  request.reset();  // the params value goes with the request tree
  return ResultAnswer(dispatcher, result.get(), id.get());
}

const char* JrDispatcherError(JrDispatcher* dispatcher, std::int32_t code, std::string_view message,
                              JsonPtr id, JsonPtr request) {
  request.reset();
  return ErrorAnswer(dispatcher, code, message, id.get());
}

void JrCreateBindings() {
  JrDispatcherCreateBindings(&ProcessDispatcher());
}

void JrBindMethod(std::string_view name, JrMethodHandler handler) {
  JrDispatcherBind(&ProcessDispatcher(), name, handler);
}

const char* JrHandleRequest(const char* text) {
  return JrDispatcherHandle(&ProcessDispatcher(), text);
}

const char* JrHandleParsedRequest(const char* text, JsonPtr request) {
  return JrDispatcherHandleParsed(&ProcessDispatcher(), text, std::move(request));
}

const char* JrMakeResult(JsonPtr result, JsonPtr id, JsonPtr request) {
  return JrDispatcherResult(&ProcessDispatcher(), std::move(result), std::move(id),
                            std::move(request));
}

const char* JrMakeError(std::int32_t code, std::string_view message, JsonPtr id, JsonPtr request) {
  return JrDispatcherError(&ProcessDispatcher(), code, message, std::move(id), std::move(request));
}

const char* JrKeepResponse(std::string text) {
  JrDispatcher& dispatcher = ProcessDispatcher();
  dispatcher.kept = std::move(text);
  dispatcher.keptWritten = false;
  return dispatcher.kept.c_str();
}

std::string_view JrWrittenResponse() {
  const JrDispatcher& dispatcher = ProcessDispatcher();
  return dispatcher.keptWritten ? std::string_view(dispatcher.kept) : std::string_view();
}
