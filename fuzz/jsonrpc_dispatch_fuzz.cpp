// Fuzz target: hands arbitrary text to the dispatcher with a few methods
// bound. Every input must be answered, and every answer must be a JSON-RPC
// 2.0 envelope.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "jsonrpc/dispatch.h"

namespace {

JsonPtr ReturnZero(const JsonValue* /*params*/) {
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  return result;
}

// Echoes how many members or elements the params value has, and its kind.
JsonPtr CountParams(const JsonValue* params) {
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "count", params->count());
  JsonObjectAddInteger(result.get(), "kind", static_cast<std::uint32_t>(params->kind));
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  return result;
}

bool BindOnce() {
  JrCreateBindings();
  JrBindMethod("OSA_Client_Exit", ReturnZero);
  JrBindMethod("OSA_Client_TaskStatusGet", CountParams);
  JrBindMethod("count", CountParams);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool bound = BindOnce();
  (void)bound;
  // The dispatcher reads a NUL-terminated text.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* response = JrHandleRequest(text.c_str());
  constexpr std::string_view kEnvelope = "{ \"jsonrpc\" : \"2.0\", ";
  if (response == nullptr || std::strncmp(response, kEnvelope.data(), kEnvelope.size()) != 0) {
    std::abort();
  }
  return 0;
}
