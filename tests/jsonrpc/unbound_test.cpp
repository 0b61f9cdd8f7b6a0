// Dispatch before any method is bound: well-formed requests are refused with
// an internal error, while the earlier envelope checks still come first.
#include <gtest/gtest.h>

#include "jsonrpc/dispatch.h"

namespace {

TEST(DispatchWithoutBindings, WellFormedRequestsAreRefused) {
  struct Row {
    const char* request;
    const char* response;
  };
  constexpr Row kRows[] = {
      {R"({"jsonrpc":"2.0","method":"OSA_Client_Exit","params":{},"id":4})",
       R"({ "jsonrpc" : "2.0", "error" : { "code" : -32603, "message" : )"
       R"("no method bindings found"}, "id" : 4 })"},
      {R"({"method":"anything","params":null,"id":"s"})",
       R"({ "jsonrpc" : "2.0", "error" : { "code" : -32603, "message" : )"
       R"("no method bindings found"}, "id" : "s" })"},
      {R"({"method":"anything","id":"s"})",
       R"({ "jsonrpc" : "2.0", "error" : { "code" : -32602, "message" : )"
       R"("missing argument list"}, "id" : "s" })"},
      {"[]", R"({ "jsonrpc" : "2.0", "error" : { "code" : -32600, "message" : )"
             R"("expected object at top level"}, "id" : null })"},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.request);
    EXPECT_STREQ(JrHandleRequest(row.request), row.response);
  }
}

}  // namespace
