// Outgoing requests: the exact request text, ids from 0 used up even by
// failures, the reading of answers and the trace texts, against a scripted
// send function that records requests and hands out canned answers.
#include "jsonrpc/client.h"

#include <gtest/gtest.h>

#include <deque>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

struct Script {
  std::vector<std::string> requests;
  std::deque<const char*> answers;  // null: no answer
  void* context = nullptr;
  std::vector<std::pair<std::string, std::string>> log;  // (tag, text)
};
Script gScript;

const char* ScriptedSend(const char* request) {
  gScript.requests.emplace_back(request);
  const char* answer = gScript.answers.empty() ? nullptr : gScript.answers.front();
  if (!gScript.answers.empty()) gScript.answers.pop_front();
  return answer;
}

// Hands over the parsed tree as the live exchange does.
const char* ScriptedSendParsed(void* context, const char* request, JsonPtr* tree) {
  gScript.context = context;
  const char* answer = ScriptedSend(request);
  if (answer != nullptr) *tree = JsonParse(answer, nullptr);
  return answer;
}

const char* ScriptedSendWithContext(void* context, const char* request) {
  gScript.context = context;
  return ScriptedSend(request);
}

void RecordLog(const char* tag, const char* text) {
  gScript.log.emplace_back(tag, text);
}

class SendRequest : public testing::Test {
 protected:
  void SetUp() override {
    gScript = Script{};
    service.log = RecordLog;
    service.nextId = 41;
    JrInitService(&service, ScriptedSend);  // restarts the ids and drops the log
  }

  static void Answer(const char* text) { gScript.answers.push_back(text); }

  JrSendStatus SendStatus(JsonPtr* result, const char* method = "Read%s") {
    JsonPtr params = JsonNewObject();
    JsonObjectAddInteger(params.get(), "context", std::int64_t{1});
    return JrSendTree(&service, method, std::move(params), result);
  }

  bool Send(JsonPtr* result) { return SendStatus(result) == JrSendStatus::kAnswered; }

  JsonRpcService service;
};

TEST_F(SendRequest, RequestTextsWithEscapesAndIdsUsedUpByFailures) {
  Answer(nullptr);
  Answer("not json");
  JsonPtr result;
  EXPECT_FALSE(Send(&result));
  EXPECT_FALSE(Send(&result));
  JsonPtr params = JsonNewObject();
  JsonObjectAddString(params.get(), "expression", "a\"b\n");
  JsonObjectAdd(params.get(), "list", JsonNewArray());
  Answer("{}");
  EXPECT_TRUE(JrSendRequest(&service, "Odd\"Name\\\t", std::move(params), nullptr));
  ASSERT_EQ(gScript.requests.size(), 3u);
  EXPECT_EQ(
      gScript.requests[0],
      R"({ "jsonrpc" : "2.0", "method" : "Read%s", "params" : { "context" : 1 }, "id" : 0 })");
  EXPECT_EQ(gScript.requests[2],
            R"({ "jsonrpc" : "2.0", "method" : "Odd\"Name\\\t", )"
            R"("params" : { "expression" : "a\"b\n", "list" : [  ] }, "id" : 2 })");
  EXPECT_EQ(service.nextId, 3);
  EXPECT_TRUE(gScript.log.empty());
}

// Params on either side of the length put together on the stack, and ids
// of every width, give the same text.
TEST(JrWriteRequest, ShortAndLongParamsAndAnyId) {
  for (const std::size_t size : {std::size_t{0}, std::size_t{448}, std::size_t{449}}) {
    for (const std::int64_t id : {std::int64_t{0}, std::numeric_limits<std::int64_t>::min()}) {
      const std::string params(size, 'p');
      std::string text = "stale";
      JrWriteRequest(&text, "M\"n", params, id);
      EXPECT_EQ(text, R"({ "jsonrpc" : "2.0", "method" : "M\"n", "params" : )" + params +
                          ", \"id\" : " + std::to_string(id) + " }");
    }
  }
}

TEST_F(SendRequest, AnswersAreReadByTheirMembersOnly) {
  constexpr JrSendStatus kAnswered = JrSendStatus::kAnswered;
  constexpr JrSendStatus kError = JrSendStatus::kErrorAnswer;
  struct Row {
    const char* answer;
    JrSendStatus status;
    const char* result;  // written result value, or null when none is handed out
  };
  constexpr Row kRows[] = {
      // The id is not matched against the request's.
      {R"({"jsonrpc":"2.0","result":{"return":0,"data":"00ff"},"id":99})", kAnswered,
       R"({ "return" : 0, "data" : "00ff" })"},
      {R"({"result":null})", kAnswered, "null"},
      {R"({"jsonrpc":"2.0","id":0})", kAnswered, nullptr},
      {R"(["result",1])", kAnswered, nullptr},
      {R"({"error":{"message":"x"},"result":{"return":0}})", kError, nullptr},
      {R"({"result":{"return":0},"error":null})", kError, nullptr},
      {R"({"result":)", JrSendStatus::kUnparsable, nullptr},
      {nullptr, JrSendStatus::kNoAnswer, nullptr},
  };
  // The same through a send function that hands over the parsed tree.
  for (const JrSendParsedFunction parsed : {JrSendParsedFunction{nullptr}, ScriptedSendParsed}) {
    service.sendParsed = parsed;
    for (const Row& row : kRows) {
      SCOPED_TRACE(row.answer == nullptr ? "(none)" : row.answer);
      Answer(row.answer);
      JsonPtr result;
      EXPECT_EQ(SendStatus(&result), row.status);
      std::string written = "(none)";
      if (result != nullptr) JsonWrite(written = "", result.get());
      EXPECT_EQ(written, row.result == nullptr ? "(none)" : row.result);
      // Kept in the answer rather than taken out, the same result is lent.
      Answer(row.answer);
      JsonPtr answer;
      const JsonValue* lent = nullptr;
      EXPECT_EQ(JrSendTextKeep(&service, "Read%s", "{ }", &answer, &lent), row.status);
      std::string kept = "(none)";
      if (lent != nullptr) JsonWrite(kept = "", lent);
      EXPECT_EQ(kept, written);
    }
  }
}

// A send that serves a nested request (which sends one of its own) finds
// its own request text unchanged afterwards: each level keeps its own text.
JsonRpcService* gNestedService = nullptr;
std::vector<std::string> gSeenAfterNested;

const char* NestingSend(const char* request) {
  const std::string before = request;
  if (gScript.requests.size() < 3) {
    gScript.requests.push_back(before);
    JsonPtr params = JsonNewObject();
    JsonObjectAddString(params.get(), "padding", std::string(200, 'p'));
    EXPECT_TRUE(JrSendRequest(gNestedService, "Inner", std::move(params), nullptr));
  }
  gSeenAfterNested.push_back(before == request ? "same" : "changed");
  return "{}";
}

// The nested sends go through the same service, or through another one that
// keeps its own ids and request texts.
TEST_F(SendRequest, NestedSendsLeaveOuterRequestTextsIntact) {
  JsonRpcService other;
  struct Row {
    JsonRpcService* inner;
    std::int64_t outerNextId;
    std::int64_t innerNextId;
  };
  const Row kRows[] = {{&service, 4, 4}, {&other, 1, 3}};
  for (const Row& row : kRows) {
    gScript = Script{};
    gNestedService = row.inner;
    gSeenAfterNested.clear();
    JrInitService(&service, NestingSend);
    JrInitService(&other, NestingSend);
    EXPECT_TRUE(JrSendRequest(&service, "Outer", JsonNewObject(), nullptr));
    EXPECT_EQ(gSeenAfterNested, (std::vector<std::string>(4, "same")));
    ASSERT_EQ(gScript.requests.size(), 3u);
    EXPECT_EQ(gScript.requests[0],
              R"({ "jsonrpc" : "2.0", "method" : "Outer", "params" : {  }, "id" : 0 })");
    EXPECT_EQ(service.nextId, row.outerNextId);
    EXPECT_EQ(row.inner->nextId, row.innerNextId);
  }
}

TEST_F(SendRequest, WithoutSendFunctionNothingIsSentAndNoIdUsed) {
  service.log = RecordLog;
  service.send = nullptr;
  JsonPtr result;
  EXPECT_EQ(SendStatus(&result), JrSendStatus::kNoService);
  EXPECT_FALSE(JrSendRequest(nullptr, "M", JsonNewObject(), &result));
  EXPECT_TRUE(gScript.requests.empty());
  EXPECT_EQ(service.nextId, 0);
  EXPECT_EQ(gScript.log,
            (decltype(gScript.log){{"ERROR", "[JrSendRequest] service not initialized"}}));

  // A send function with a context alone is enough, and is preferred.
  int marker = 0;
  service.sendWithContext = ScriptedSendWithContext;
  service.sendContext = &marker;
  Answer(R"({"result":1})");
  EXPECT_TRUE(Send(&result));
  EXPECT_EQ(gScript.context, &marker);
}

TEST_F(SendRequest, LogTextsOfEachOutcome) {
  service.log = RecordLog;
  // A tree handed over by the send function logs the same texts.
  int marker = 0;
  service.sendParsed = ScriptedSendParsed;
  service.sendContext = &marker;
  Answer(nullptr);
  Answer("{\"a\":");
  Answer(R"({"error":{"code":1,"message":"bad address"}})");
  for (int i = 0; i < 3; ++i) {
    JsonPtr result;
    EXPECT_FALSE(Send(&result));
  }
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"SEND", gScript.requests[0]},
      {"RECV", "(NULL)"},
      {"ERROR", "[JrSendRequest] Read%s response was NULL"},
      {"SEND", gScript.requests[1]},
      {"RECV", "{\"a\":"},
      {"ERROR",
       "[JrSendRequest] Read%s response parsing: Error: unexpected end of input while parsing "
       "object"},
      {"SEND", gScript.requests[2]},
      {"RECV", R"({"error":{"code":1,"message":"bad address"}})"},
      {"ERROR", "[JrSendRequest] Read%s request failed: bad address"},
  };
  EXPECT_EQ(gScript.log, expected);
  EXPECT_EQ(gScript.context, &marker);
}

}  // namespace
