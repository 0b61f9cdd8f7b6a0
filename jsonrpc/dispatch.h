// Dispatch of incoming JSON-RPC 2.0 requests: the dispatcher record (method
// bindings and the last response), the envelope checks in their fixed order,
// and the exact result and error response texts.
//
// The interface's names (JrCreateBindings, JrBindMethod, JrHandleRequest,
// JrMakeResult, JrMakeError, JrKeepResponse) work on the one process-wide
// dispatcher; the JrDispatcher* functions take the dispatcher they work on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "simple_json/json_value.h"

// A bound method: lends the request's "params" value (any kind, freed with
// the request after the call) and returns a new result value, never null.
using JrMethodHandler = JsonPtr (*)(const JsonValue* params);

// JSON-RPC 2.0 error codes used in error responses.
inline constexpr std::int32_t kJrParseError = -32700;
inline constexpr std::int32_t kJrInvalidRequest = -32600;
inline constexpr std::int32_t kJrMethodNotFound = -32601;
inline constexpr std::int32_t kJrInvalidParams = -32602;
inline constexpr std::int32_t kJrInternalError = -32603;

// Method names compare byte by byte, so matching is exact and case-sensitive;
// the transparent comparator lets a lent name be looked up without a copy.
using JrBindingMap = std::map<std::string, JrMethodHandler, std::less<>>;

// What a dispatcher keeps between requests. A fresh record has no bindings:
// requests are then refused with "no method bindings found".
struct JrDispatcher {
  std::optional<JrBindingMap> bindings;
  // The last response. Every earlier response has been written by the time a
  // new one is made (a nested request's included), so replacing it never
  // frees a text that a caller still writes.
  std::string kept;
  // Where the next response is built, then swapped with `kept`: both keep
  // their storage, so a response costs no allocation once they have grown.
  std::string next;
  // `kept` was written here rather than handed in by JrKeepResponse.
  bool keptWritten = false;
};

// Creates the empty binding map; an existing map is kept.
void JrDispatcherCreateBindings(JrDispatcher* dispatcher);

// Binds or rebinds `name` (creating the map if needed).
void JrDispatcherBind(JrDispatcher* dispatcher, std::string_view name, JrMethodHandler handler);

// Answers one complete request text (ends at its first NUL; null reads as
// empty). The response is kept in the dispatcher and stays valid until it
// makes its next response. Never null.
const char* JrDispatcherHandle(JrDispatcher* dispatcher, const char* text);

// As JrDispatcherHandle for a text whose parse the caller has already made:
// `request` is that parse, or null when the text still needs one (it is then
// parsed here, with the same error answers).
const char* JrDispatcherHandleParsed(JrDispatcher* dispatcher, const char* text, JsonPtr request);

// Builds { "jsonrpc" : "2.0", "result" : R, "id" : I } and keeps it; the
// request tree is freed first.
const char* JrDispatcherResult(JrDispatcher* dispatcher, JsonPtr result, JsonPtr id,
                               JsonPtr request);

// Builds { "jsonrpc" : "2.0", "error" : { "code" : C, "message" : "M"}, "id" : I }
// (no blank before the error object's closing brace) and keeps it; a null id
// writes null.
const char* JrDispatcherError(JrDispatcher* dispatcher, std::int32_t code, std::string_view message,
                              JsonPtr id, JsonPtr request);

// The interface's operations on the process-wide dispatcher.
void JrCreateBindings();
void JrBindMethod(std::string_view name, JrMethodHandler handler);
const char* JrHandleRequest(const char* text);
const char* JrHandleParsedRequest(const char* text, JsonPtr request);
const char* JrMakeResult(JsonPtr result, JsonPtr id, JsonPtr request);
const char* JrMakeError(std::int32_t code, std::string_view message, JsonPtr id, JsonPtr request);
// Replaces the process-wide dispatcher's kept response with `text` and
// returns the kept copy.
const char* JrKeepResponse(std::string text);
// The process-wide dispatcher's kept response when the dispatcher wrote it,
// else empty (a text kept by JrKeepResponse). A written response is one
// complete object by construction (every text in it is quoted by the
// writer), so a caller that has it needs no scan for its length.
std::string_view JrWrittenResponse();
