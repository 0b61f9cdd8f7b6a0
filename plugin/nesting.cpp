// The depth cap of nested exchanges, the refusal of a request beyond it, the
// kept answer, and the plug-in's own error responses.
#include "plugin/nesting.h"

#include "jsonrpc/dispatch.h"
#include "osa/entry.h"
#include "plugin/conversation.h"
#include "simple_json/json_write.h"

void OsaLimitExchangeDepth(int depth) {
  OsaProcessConversation().waits.maxDepth =
      depth < 0 ? 0 : (depth > kOsaMaxExchangeDepth ? kOsaMaxExchangeDepth : depth);
}

const char* OsaKeepAnswer(OsaWaits* waits, std::string_view answer) {
  waits->lastAnswer.assign(answer);
  return waits->lastAnswer.c_str();
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

const char* OsaServeNestedRequest(const OsaWaits& waits, const char* text, const JsonValue* request,
                                  std::string* refusal) {
  if (waits.depth < waits.maxDepth) return OSA_Client_CmdParser(text);
  const JsonValue* id = nullptr;
  if (!JsonObjectGet(request, "id", &id)) id = nullptr;
  OsaMakeErrorResponse(kJrInternalError, "request nesting too deep", id, refusal);
  return refusal->c_str();
}
