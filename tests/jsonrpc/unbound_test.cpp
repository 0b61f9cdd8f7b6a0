// Dispatch before any method is bound: well-formed requests are refused with
// an internal error, while the earlier envelope checks still come first.
#include <gtest/gtest.h>

#include "jsonrpc/dispatch.h"

namespace {

TEST(DispatchWithoutBindings, WellFormedRequestsAreRefused) {
  EXPECT_STREQ(JrHandleRequest(R"({"method":"OSA_Client_Exit","params":null,"id":"s"})"),
               R"({ "jsonrpc" : "2.0", "error" : { "code" : -32603, "message" : )"
               R"("no method bindings found"}, "id" : "s" })");
  EXPECT_STREQ(JrHandleRequest(R"({"method":"anything","id":4})"),
               R"({ "jsonrpc" : "2.0", "error" : { "code" : -32602, "message" : )"
               R"("missing argument list"}, "id" : 4 })");
}

}  // namespace
