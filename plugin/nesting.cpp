// The depth cap of nested exchanges, the refusal of a request beyond it,
// and the plug-in's own error responses.
#include "plugin/nesting.h"

#include "jsonrpc/dispatch.h"
#include "osa/entry.h"
#include "simple_json/json_write.h"

namespace {

int gDepth = 0;
int gMaxDepth = kOsaMaxExchangeDepth;

}  // namespace

OsaExchangeDepthScope::OsaExchangeDepthScope() {
  ++gDepth;
}

OsaExchangeDepthScope::~OsaExchangeDepthScope() {
  --gDepth;
}

int OsaExchangeDepth() {
  return gDepth;
}

void OsaLimitExchangeDepth(int depth) {
  gMaxDepth = depth < 0 ? 0 : (depth > kOsaMaxExchangeDepth ? kOsaMaxExchangeDepth : depth);
}

void OsaMakeErrorResponse(std::int32_t code, std::string_view message, const JsonValue* id,
                          std::string* out) {
  out->assign("{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : ");
  out->append(std::to_string(code));
  out->append(", \"message\" : ");
  JsonQuote(*out, message);
  out->append("}, \"id\" : ");
  if (id != nullptr) {
    JsonWrite(*out, id);
  } else {
    out->append("null");
  }
  out->append(" }");
}

const char* OsaServeNestedRequest(const char* text, const JsonValue* request,
                                  std::string* refusal) {
  if (gDepth < gMaxDepth) return OSA_Client_CmdParser(text);
  const JsonValue* id = nullptr;
  if (!JsonObjectGet(request, "id", &id)) id = nullptr;
  OsaMakeErrorResponse(kJrInternalError, "request nesting too deep", id, refusal);
  return refusal->c_str();
}
