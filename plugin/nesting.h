// What the nested waits of one conversation share: every wait for an answer
// may serve a request of the debugger, whose handler may wait again, and so
// on. Each live wait holds a 64 KiB buffer on the stack, so the depth is
// capped. Also the answer handed out last, and the error responses that the
// plug-in makes itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "simple_json/json_value.h"

// Waits that may be open at once. At this depth a request of the debugger is
// answered with an error response instead of being served.
inline constexpr int kOsaMaxExchangeDepth = 256;

struct OsaWaits {
  int depth = 0;                        // waits open now
  int maxDepth = kOsaMaxExchangeDepth;  // lowered on a small stack
  // The answer the last exchange handed out, in either mode; valid until the
  // next exchange takes its answer.
  std::string lastAnswer;
};

// Counts one open wait for as long as it lives.
class OsaExchangeDepthScope {
 public:
  explicit OsaExchangeDepthScope(OsaWaits* waits) : waits_(waits) { ++waits_->depth; }
  ~OsaExchangeDepthScope() { --waits_->depth; }
  OsaExchangeDepthScope(const OsaExchangeDepthScope&) = delete;
  OsaExchangeDepthScope& operator=(const OsaExchangeDepthScope&) = delete;

 private:
  OsaWaits* waits_;
};

// Lowers the cap of the process conversation's waits (never raises it above
// kOsaMaxExchangeDepth): a process that has to run on a small stack serves
// fewer levels.
void OsaLimitExchangeDepth(int depth);

// Keeps a copy of `answer` as the waits' last answer and returns it.
const char* OsaKeepAnswer(OsaWaits* waits, std::string_view answer);

// Builds an error response of the plug-in's own into *out, laid out as the
// dispatcher lays out its errors: { "jsonrpc" : "2.0", "error" : { "code" :
// <code>, "message" : "<message>"}, "id" : <id> }; a null `id` writes null.
void OsaMakeErrorResponse(std::int32_t code, std::string_view message, const JsonValue* id,
                          std::string* out);

// Serves a request of the debugger that arrived during a wait: `text` is its
// message and `request` its parsed tree. Below the depth cap the text goes to
// the dispatcher and its response (owned by the dispatcher, or null) is
// returned; at the cap the error response { "jsonrpc" : "2.0", "error" :
// { "code" : -32603, "message" : "request nesting too deep"}, "id" : <id> }
// is built into *refusal and refusal->c_str() is returned.
const char* OsaServeNestedRequest(const OsaWaits& waits, const char* text, const JsonValue* request,
                                  std::string* refusal);
