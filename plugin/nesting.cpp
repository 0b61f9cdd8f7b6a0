// The depth cap of nested exchanges and the refusal of a request beyond it.
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

const char* OsaServeNestedRequest(const char* text, const JsonValue* request,
                                  std::string* refusal) {
  if (gDepth < gMaxDepth) return OSA_Client_CmdParser(text);
  // Same layout as the dispatcher's own error responses.
  const JsonValue* id = nullptr;
  refusal->assign("{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : ");
  refusal->append(std::to_string(kJrInternalError));
  refusal->append(", \"message\" : ");
  JsonQuote(*refusal, std::string_view("request nesting too deep"));
  refusal->append("}, \"id\" : ");
  if (JsonObjectGet(request, "id", &id)) {
    JsonWrite(*refusal, id);
  } else {
    refusal->append("null");
  }
  refusal->append(" }");
  return refusal->c_str();
}
