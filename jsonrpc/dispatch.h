// Dispatch of incoming JSON-RPC 2.0 requests: the process-wide method-binding
// map, the envelope checks in their fixed order, and the exact result and
// error response texts.
#pragma once

#include <cstdint>
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

// Creates the empty method-binding map (once per process; later calls keep it).
void JrCreateBindings();

// Binds or rebinds a method name (exact, case-sensitive) to a handler.
void JrBindMethod(std::string_view name, JrMethodHandler handler);

// Answers one complete request text (ends at its first NUL). The response
// text is owned by this layer and stays valid until the next response is
// made (a nested request's included). Never null in practice.
const char* JrHandleRequest(const char* text);

// Builds { "jsonrpc" : "2.0", "result" : R, "id" : I } and keeps it.
const char* JrMakeResult(JsonPtr result, JsonPtr id, JsonPtr request);

// Builds { "jsonrpc" : "2.0", "error" : { "code" : C, "message" : "M"}, "id" : I }
// (no blank before the error object's closing brace); a null id writes null.
const char* JrMakeError(std::int32_t code, std::string_view message, JsonPtr id, JsonPtr request);

// Replaces the kept response with `text` and returns the kept copy.
const char* JrKeepResponse(std::string text);
