// Dispatch: the envelope checks and which one wins, ids echoed with their own
// kind, params of any kind lent to handlers, nested dispatch, and the exact
// result and error texts.
#include "jsonrpc/dispatch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "simple_json/json_write.h"

namespace {

// What the last handler call saw, for tests that look at the params.
struct HandlerLog {
  int calls = 0;
  std::string params;  // the params value as written
  std::string innerResponse;
};

HandlerLog& Seen() {
  static HandlerLog seen;
  return seen;
}

JsonPtr ReturnZero(const JsonValue* /*params*/) {
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  return result;
}

JsonPtr ReturnOne(const JsonValue* /*params*/) {
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", std::int32_t{1});
  return result;
}

JsonPtr Inspect(const JsonValue* params) {
  ++Seen().calls;
  Seen().params.clear();
  JsonWrite(Seen().params, params);
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "count", params->count());
  JsonObjectAddString(result.get(), "name", "a\"b");
  JsonPtr list = JsonNewArray();
  JsonArrayAppend(list.get(), JsonNewBoolean(1));
  JsonArrayAppend(list.get(), JsonNewNull());
  JsonObjectAdd(result.get(), "list", std::move(list));
  return result;
}

// Serves a request of the debugger's while "waiting" for an answer of its own.
JsonPtr Nested(const JsonValue* /*params*/) {
  Seen().innerResponse =
      JrHandleRequest(R"({"jsonrpc":"2.0","method":"Inspect","params":[1,2],"id":"inner"})");
  return ReturnZero(nullptr);
}

JsonPtr NoResult(const JsonValue* /*params*/) {
  return nullptr;
}

class Dispatch : public testing::Test {
 protected:
  void SetUp() override {
    JrCreateBindings();
    JrBindMethod("ReturnZero", ReturnZero);
    JrBindMethod("Inspect", Inspect);
    JrBindMethod("Nested", Nested);
    JrBindMethod("NoResult", NoResult);
    JrBindMethod("Unset", nullptr);
    Seen() = HandlerLog{};
  }
};

std::string Error(int code, std::string_view quotedMessage, std::string_view id) {
  return "{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : " + std::to_string(code) +
         ", \"message\" : " + std::string(quotedMessage) + "}, \"id\" : " + std::string(id) + " }";
}

struct ErrorRow {
  const char* request;
  int code;
  const char* quotedMessage;
  const char* id;  // as written back
};

// Each row fails one check; the later rows fail several at once and show
// which check comes first.
constexpr ErrorRow kErrorRows[] = {
    {"[1]", -32600, R"("expected object at top level")", "null"},
    {"42", -32600, R"("expected object at top level")", "null"},
    {R"("request")", -32600, R"("expected object at top level")", "null"},
    {R"({"jsonrpc":"2.0","method":"ReturnZero","params":{}})", -32602, R"("missing request id")",
     "null"},
    {R"({"id":true,"method":"ReturnZero","params":{}})", -32602, R"("invalid request id type")",
     "true"},
    {R"({"id":[1,"a"],"method":"ReturnZero","params":{}})", -32602, R"("invalid request id type")",
     R"([ 1, "a" ])"},
    {R"({"id":{"k":1},"method":"ReturnZero","params":{}})", -32602, R"("invalid request id type")",
     R"({ "k" : 1 })"},
    {R"({"id":7,"method":12,"params":{}})", -32600, R"("missing message name")", "7"},
    {R"({"id":7,"params":{}})", -32600, R"("missing message name")", "7"},
    {R"({"id":7,"method":"ReturnZero"})", -32602, R"("missing argument list")", "7"},
    {R"({"id":7,"method":"Missing","params":{}})", -32601, R"("unknown message")", "7"},
    {R"({"id":7,"method":"returnzero","params":{}})", -32601, R"("unknown message")", "7"},
    {R"({"id":7,"method":"ReturnZero ","params":{}})", -32601, R"("unknown message")", "7"},
    {R"({"id":7,"method":"Unset","params":{}})", -32601, R"("unknown message")", "7"},
    // Several faults at once: the first check in the fixed order wins.
    {R"({"method":5})", -32602, R"("missing request id")", "null"},
    {R"({"id":false,"method":5})", -32602, R"("invalid request id type")", "false"},
    {R"({"id":1,"method":5})", -32600, R"("missing message name")", "1"},
    {R"({"id":1,"method":"Missing"})", -32602, R"("missing argument list")", "1"},
    // A parse error outranks everything and never has an id.
    {R"({"id":1,"method":"ReturnZero","params":{})", -32700,
     R"("Error: unexpected end of input while parsing object")", "null"},
    {"", -32700, R"("Error: unexpected end of input, expected a value")", "null"},
};

TEST_F(Dispatch, EveryFailedCheckGivesItsErrorResponse) {
  for (const ErrorRow& row : kErrorRows) {
    SCOPED_TRACE(row.request);
    EXPECT_EQ(JrHandleRequest(row.request), Error(row.code, row.quotedMessage, row.id));
  }
  EXPECT_EQ(Seen().calls, 0);
}

TEST_F(Dispatch, ParseErrorCarriesAllOfTheParsersLinesEscaped) {
  EXPECT_STREQ(
      JrHandleRequest(R"({"id":1,"method":x})"),
      R"({ "jsonrpc" : "2.0", "error" : { "code" : -32700, "message" : )"
      R"("Error: unexpected character 'x', expected a value, got: 'x}'\n)"
      R"(Error: failed to set 'method' property in object\n)"
      R"(Error: unexpected 'x' after value in object contents, got 'x}'"}, "id" : null })");
}

TEST_F(Dispatch, IdsComeBackWithTheirOwnKind) {
  struct Row {
    const char* id;
    const char* written;
  };
  constexpr Row kRows[] = {
      {"null", "null"},         {"7", "7"},
      {"-42", "-42"},           {"-9223372036854775808", "-9223372036854775808"},
      {R"("abc")", R"("abc")"}, {R"("a\"b\\c\n\u0001")", R"("a\"b\\c\n\u0001")"},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.id);
    const std::string request =
        std::string(R"({"jsonrpc":"2.0","method":"ReturnZero","params":{},"id":)") + row.id + "}";
    EXPECT_EQ(JrHandleRequest(request.c_str()),
              std::string(R"({ "jsonrpc" : "2.0", "result" : { "return" : 0 }, "id" : )") +
                  row.written + " }");
  }
}

TEST_F(Dispatch, ResultTextIsExact) {
  EXPECT_STREQ(JrHandleRequest(R"({"jsonrpc":"2.0","method":"Inspect","params":{"a":1},"id":3})"),
               R"({ "jsonrpc" : "2.0", "result" : { "count" : 1, "name" : "a\"b", )"
               R"("list" : [ true, null ] }, "id" : 3 })");
}

TEST_F(Dispatch, ParamsOfAnyKindAreLentToTheHandler) {
  struct Row {
    const char* params;
    const char* written;
  };
  constexpr Row kRows[] = {
      {"null", "null"},
      {"[1,{}]", "[ 1, {  } ]"},
      {R"("text")", R"("text")"},
      {"-3", "-3"},
      {R"({"context":1,"id":2})", R"({ "context" : 1, "id" : 2 })"},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.params);
    const std::string request =
        std::string(R"({"id":1,"method":"Inspect","params":)") + row.params + "}";
    JrHandleRequest(request.c_str());
    EXPECT_EQ(Seen().params, row.written);
  }
  EXPECT_EQ(Seen().calls, 5);
}

TEST_F(Dispatch, EnvelopeExtrasAndTrailingTextAreIgnored) {
  constexpr const char* kRequests[] = {
      R"({"method":"ReturnZero","params":{},"id":1})",
      R"({"jsonrpc":"1.0","method":"ReturnZero","params":{},"id":1})",
      R"({"jsonrpc":5,"extra":[1],"method":"ReturnZero","params":{},"id":1})",
      R"({"method":"ReturnZero","params":{},"id":1} trailing {"id":2 [)",
      R"(  {"method":"ReturnZero","params":{},"id":1}})",
  };
  for (const char* request : kRequests) {
    SCOPED_TRACE(request);
    EXPECT_STREQ(JrHandleRequest(request),
                 R"({ "jsonrpc" : "2.0", "result" : { "return" : 0 }, "id" : 1 })");
  }
}

TEST_F(Dispatch, RebindingReplacesTheHandler) {
  constexpr const char* kRequest = R"({"method":"Swap","params":{},"id":1})";
  JrBindMethod("Swap", ReturnZero);
  EXPECT_STREQ(JrHandleRequest(kRequest),
               R"({ "jsonrpc" : "2.0", "result" : { "return" : 0 }, "id" : 1 })");
  JrBindMethod("Swap", ReturnOne);
  EXPECT_STREQ(JrHandleRequest(kRequest),
               R"({ "jsonrpc" : "2.0", "result" : { "return" : 1 }, "id" : 1 })");
  // Creating the map again keeps what is bound.
  JrCreateBindings();
  EXPECT_STREQ(JrHandleRequest(kRequest),
               R"({ "jsonrpc" : "2.0", "result" : { "return" : 1 }, "id" : 1 })");
}

TEST_F(Dispatch, NestedRequestIsAnsweredBeforeTheOuterOne) {
  const char* outer = JrHandleRequest(R"({"method":"Nested","params":{},"id":"outer"})");
  EXPECT_EQ(Seen().innerResponse,
            R"({ "jsonrpc" : "2.0", "result" : { "count" : 2, "name" : "a\"b", )"
            R"("list" : [ true, null ] }, "id" : "inner" })");
  EXPECT_STREQ(outer, R"({ "jsonrpc" : "2.0", "result" : { "return" : 0 }, "id" : "outer" })");
}

TEST_F(Dispatch, HandlerWithoutResultAnswersNull) {
  EXPECT_STREQ(JrHandleRequest(R"({"method":"NoResult","params":{},"id":1})"),
               R"({ "jsonrpc" : "2.0", "result" : null, "id" : 1 })");
}

TEST_F(Dispatch, NullTextIsAParseError) {
  EXPECT_EQ(JrHandleRequest(nullptr),
            Error(-32700, R"("Error: unexpected end of input, expected a value")", "null"));
}

TEST(JrMakeResponse, BuildsTheExactTexts) {
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  EXPECT_STREQ(JrMakeResult(std::move(result), JsonNewInteger(7), JsonNewObject()),
               R"({ "jsonrpc" : "2.0", "result" : { "return" : 0 }, "id" : 7 })");
  EXPECT_STREQ(JrMakeError(kJrMethodNotFound, "unknown message", JsonNewInteger(7), nullptr),
               R"({ "jsonrpc" : "2.0", "error" : { "code" : -32601, "message" : )"
               R"("unknown message"}, "id" : 7 })");
  EXPECT_STREQ(JrMakeError(kJrInternalError, "tab\there \"q\"", nullptr, JsonNewArray()),
               R"({ "jsonrpc" : "2.0", "error" : { "code" : -32603, "message" : )"
               R"("tab\there \"q\""}, "id" : null })");
  EXPECT_STREQ(JrMakeError(-2147483647 - 1, "", JsonNewString("x"), nullptr),
               R"({ "jsonrpc" : "2.0", "error" : { "code" : -2147483648, "message" : ""}, )"
               R"("id" : "x" })");
}

}  // namespace
