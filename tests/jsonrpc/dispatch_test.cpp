// Dispatch: the envelope checks in their fixed order, ids echoed with their
// own kind, params lent to handlers, nested dispatch, and the exact result
// and error texts, the same when the request comes parsed already. Each test
// dispatches through a dispatcher record of its own.
#include "jsonrpc/dispatch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

std::string gParams;                  // the params value the last Inspect call saw, as written
std::string gInner;                   // the response to the request served inside Nested
JrDispatcher* gDispatcher = nullptr;  // the test's, for handlers that dispatch

JsonPtr Return(std::int32_t status) {
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", status);
  return result;
}
JsonPtr ReturnZero(const JsonValue*) {
  return Return(0);
}

JsonPtr Inspect(const JsonValue* params) {
  JsonWrite(gParams = "", params);
  return Return(2);
}

// Serves a request of the debugger's while "waiting" for an answer of its own.
JsonPtr Nested(const JsonValue*) {
  gInner = JrDispatcherHandle(gDispatcher, R"({"method":"Inspect","params":[1,2],"id":"inner"})");
  return Return(0);
}

class Dispatch : public testing::Test {
 protected:
  void SetUp() override {
    gDispatcher = &dispatcher;
    JrDispatcherCreateBindings(&dispatcher);
    JrDispatcherBind(&dispatcher, "ReturnZero", ReturnZero);
    JrDispatcherBind(&dispatcher, "Inspect", Inspect);
    JrDispatcherBind(&dispatcher, "Nested", Nested);
    JrDispatcherBind(&dispatcher, "NoResult", [](const JsonValue*) { return JsonPtr(); });
    JrDispatcherBind(&dispatcher, "Unset", nullptr);
    gParams = "(not called)";
  }

  const char* Handle(const char* text) { return JrDispatcherHandle(&dispatcher, text); }

  // Handles the text as it comes and again with its parse handed over (null
  // when it does not parse); both answers must be the same.
  std::string HandleBothWays(const char* text) {
    const std::string answer = Handle(text);
    std::string error;
    JsonPtr parsed = JsonParse(text == nullptr ? "" : text, &error);
    if (!error.empty()) parsed.reset();
    EXPECT_EQ(JrDispatcherHandleParsed(&dispatcher, text, std::move(parsed)), answer);
    return answer;
  }

  JrDispatcher dispatcher;
};

std::string Error(int code, const std::string& quotedMessage, const std::string& id) {
  return "{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : " + std::to_string(code) +
         ", \"message\" : " + quotedMessage + "}, \"id\" : " + id + " }";
}

TEST_F(Dispatch, EachFailedCheckAndWhichComesFirst) {
  struct Row {
    const char* request;
    int code;
    const char* quotedMessage;
    const char* id;  // as written back
  };
  const Row kRows[] = {
      {nullptr, -32700, R"("Error: unexpected end of input, expected a value")", "null"},
      // A parse error outranks everything, keeps all of the parser's lines
      // and never has an id.
      {R"({"id":1,"method":x})", -32700,
       R"("Error: unexpected character 'x', expected a value, got: 'x}'\n)"
       R"(Error: failed to set 'method' property in object\n)"
       R"(Error: unexpected 'x' after value in object contents, got 'x}'")",
       "null"},
      {"[1]", -32600, R"("expected object at top level")", "null"},
      {R"({"method":5})", -32602, R"("missing request id")", "null"},
      {R"({"id":[1,"a"],"method":5})", -32602, R"("invalid request id type")", R"([ 1, "a" ])"},
      {R"({"id":true,"method":"ReturnZero","params":{}})", -32602, R"("invalid request id type")",
       "true"},
      {R"({"id":1,"method":5})", -32600, R"("missing message name")", "1"},
      {R"({"id":1,"method":"Missing"})", -32602, R"("missing argument list")", "1"},
      {R"({"id":7,"method":"returnzero","params":{}})", -32601, R"("unknown message")", "7"},
      {R"({"id":7,"method":"Unset","params":{}})", -32601, R"("unknown message")", "7"},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.request == nullptr ? "(null)" : row.request);
    EXPECT_EQ(HandleBothWays(row.request), Error(row.code, row.quotedMessage, row.id));
  }
  EXPECT_EQ(gParams, "(not called)");
}

TEST_F(Dispatch, ResultTextsEchoTheIdAndIgnoreEnvelopeExtras) {
  struct Row {
    const char* request;
    const char* response;
  };
  const Row kRows[] = {
      {R"({"method":"Inspect","params":{"a":1},"id":-9223372036854775808})",
       R"({ "jsonrpc" : "2.0", "result" : { "return" : 2 }, "id" : -9223372036854775808 })"},
      {R"({"jsonrpc":"1.0","extra":[1],"method":"ReturnZero","params":{},"id":"a\"b\u0001"})",
       R"({ "jsonrpc" : "2.0", "result" : { "return" : 0 }, "id" : "a\"b\u0001" })"},
      {R"({"method":"ReturnZero","params":{},"id":null} trailing {"id":2 [)",
       R"({ "jsonrpc" : "2.0", "result" : { "return" : 0 }, "id" : null })"},
      {R"({"method":"NoResult","params":{},"id":1})",
       R"({ "jsonrpc" : "2.0", "result" : null, "id" : 1 })"},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.request);
    EXPECT_EQ(HandleBothWays(row.request), row.response);
  }
  EXPECT_EQ(gParams, R"({ "a" : 1 })");
  Handle(R"({"id":1,"method":"Inspect","params":"text"})");
  EXPECT_EQ(gParams, R"("text")");
}

TEST_F(Dispatch, RebindingReplacesTheHandlerAndCreatingAgainKeepsIt) {
  constexpr const char* kRequest = R"({"method":"Swap","params":{},"id":1})";
  JrDispatcherBind(&dispatcher, "Swap", ReturnZero);
  Handle(kRequest);
  JrDispatcherBind(&dispatcher, "Swap", [](const JsonValue*) { return Return(1); });
  JrDispatcherCreateBindings(&dispatcher);
  EXPECT_STREQ(Handle(kRequest), R"({ "jsonrpc" : "2.0", "result" : { "return" : 1 }, "id" : 1 })");
}

// A fresh dispatcher refuses well-formed requests; the process's one is
// another record, untouched by the test's.
TEST_F(Dispatch, FreshDispatcherHasNoBindings) {
  JrDispatcher fresh;
  EXPECT_STREQ(JrDispatcherHandle(&fresh, R"({"method":"ReturnZero","params":{},"id":3})"),
               R"({ "jsonrpc" : "2.0", "error" : { "code" : -32603, "message" : )"
               R"("no method bindings found"}, "id" : 3 })");
  EXPECT_STREQ(JrHandleRequest(R"({"method":"ReturnZero","params":{},"id":3})"),
               R"({ "jsonrpc" : "2.0", "error" : { "code" : -32603, "message" : )"
               R"("no method bindings found"}, "id" : 3 })");
}

TEST_F(Dispatch, NestedRequestIsAnsweredBeforeTheOuterOne) {
  const char* outer = Handle(R"({"method":"Nested","params":{},"id":"outer"})");
  EXPECT_EQ(gInner, R"({ "jsonrpc" : "2.0", "result" : { "return" : 2 }, "id" : "inner" })");
  EXPECT_STREQ(outer, R"({ "jsonrpc" : "2.0", "result" : { "return" : 0 }, "id" : "outer" })");
}

// Responses the process dispatcher wrote are told apart from texts kept
// for it, which a caller must still scan.
TEST(JrWrittenResponse, OnlyForResponsesTheDispatcherWrote) {
  const char* response = JrHandleRequest("[1]");
  EXPECT_EQ(JrWrittenResponse().data(), response);
  EXPECT_EQ(JrWrittenResponse(), std::string_view(response));
  JrKeepResponse(R"({ "kept" : 1 })");
  EXPECT_TRUE(JrWrittenResponse().empty());
}

TEST(JrMakeError, EscapesTheMessageAndWritesAnyCode) {
  EXPECT_STREQ(JrMakeError(-2147483647 - 1, "tab\there \"q\"", nullptr, JsonNewArray()),
               R"({ "jsonrpc" : "2.0", "error" : { "code" : -2147483648, "message" : )"
               R"("tab\there \"q\""}, "id" : null })");
}

}  // namespace
