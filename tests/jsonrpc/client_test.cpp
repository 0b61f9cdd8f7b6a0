// Outgoing requests: the exact request text, ids from 0 used up even by
// failures, the reading of answers, and the trace texts, against a scripted
// send function that records requests and hands out canned answers.
#include "jsonrpc/client.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "simple_json/json_write.h"

namespace {

struct Script {
  std::vector<std::string> requests;
  std::deque<std::optional<std::string>> answers;  // nullopt: no answer
  std::string current;                             // valid until the next call
  std::vector<void*> contexts;
  std::vector<std::pair<std::string, std::string>> log;  // (tag, text)
};

Script& Scripted() {
  static Script script;
  return script;
}

const char* ScriptedAnswer(const char* request) {
  Script& script = Scripted();
  script.requests.emplace_back(request);
  if (script.answers.empty()) return nullptr;
  std::optional<std::string> answer = std::move(script.answers.front());
  script.answers.pop_front();
  if (!answer) return nullptr;
  script.current = std::move(*answer);
  return script.current.c_str();
}

const char* ScriptedSend(const char* request) {
  return ScriptedAnswer(request);
}

const char* ScriptedSendWithContext(void* context, const char* request) {
  Scripted().contexts.push_back(context);
  return ScriptedAnswer(request);
}

void RecordLog(const char* tag, const char* text) {
  Scripted().log.emplace_back(tag, text);
}

JsonPtr ContextParams(std::int64_t context) {
  JsonPtr params = JsonNewObject();
  JsonObjectAddInteger(params.get(), "context", context);
  return params;
}

std::string Written(const JsonValue* value) {
  std::string out;
  return JsonWrite(out, value);
}

class SendRequest : public testing::Test {
 protected:
  void SetUp() override {
    Scripted() = Script{};
    JrInitService(&service, ScriptedSend);
  }

  void Answer(std::string text) { Scripted().answers.emplace_back(std::move(text)); }
  void AnswerNothing() { Scripted().answers.emplace_back(std::nullopt); }
  const std::vector<std::string>& Sent() const { return Scripted().requests; }

  // Sends one request with {"context":1} and returns its status.
  bool Send(JsonPtr* result, const char* method = "OSA_Service_MemoryRead") {
    return JrSendRequest(&service, method, ContextParams(1), result);
  }

  JsonRpcService service;
};

TEST_F(SendRequest, RequestTextAndIdsFromZero) {
  for (int i = 0; i < 4; ++i)
    Answer(R"({"jsonrpc":"2.0","result":{"return":0},"id":0})");
  for (int i = 0; i < 4; ++i) {
    JsonPtr result;
    EXPECT_TRUE(Send(&result));
  }
  ASSERT_EQ(Sent().size(), 4u);
  EXPECT_EQ(Sent()[0], R"({ "jsonrpc" : "2.0", "method" : "OSA_Service_MemoryRead", )"
                       R"("params" : { "context" : 1 }, "id" : 0 })");
  EXPECT_EQ(Sent()[3], R"({ "jsonrpc" : "2.0", "method" : "OSA_Service_MemoryRead", )"
                       R"("params" : { "context" : 1 }, "id" : 3 })");
  EXPECT_EQ(service.nextId, 4);
}

TEST_F(SendRequest, ParamsAndMethodNameAreWrittenWithEscapes) {
  JsonPtr params = JsonNewObject();
  JsonObjectAddString(params.get(), "expression", "a\"b\n");
  JsonObjectAdd(params.get(), "list", JsonNewArray());
  Answer("{}");
  JsonPtr result;
  EXPECT_TRUE(JrSendRequest(&service, "Odd\"Name\\\t", std::move(params), &result));
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0], R"({ "jsonrpc" : "2.0", "method" : "Odd\"Name\\\t", )"
                       R"("params" : { "expression" : "a\"b\n", "list" : [  ] }, "id" : 0 })");
}

TEST_F(SendRequest, FailuresUseUpTheirIds) {
  AnswerNothing();
  Answer("not json");
  Answer(R"({ "jsonrpc" : "2.0", "error" : { "code" : -32601, "message" : "unknown message"}, )"
         R"("id" : 0 })");
  Answer(R"({"result":{"return":0}})");
  for (int i = 0; i < 3; ++i) {
    JsonPtr result;
    EXPECT_FALSE(Send(&result));
    EXPECT_EQ(result, nullptr);
  }
  JsonPtr result;
  EXPECT_TRUE(Send(&result));
  ASSERT_EQ(Sent().size(), 4u);
  EXPECT_NE(Sent()[3].find(R"("id" : 3 })"), std::string::npos);
}

TEST_F(SendRequest, AnswersAreReadByTheirMembersOnly) {
  struct Row {
    const char* answer;
    bool ok;
    const char* result;  // written result value, or null when none is handed out
  };
  constexpr Row kRows[] = {
      {R"({"jsonrpc":"2.0","result":{"return":0,"data":"00ff"},"id":0})", true,
       R"({ "return" : 0, "data" : "00ff" })"},
      // The id is not matched against the request's.
      {R"({"jsonrpc":"2.0","result":5,"id":99})", true, "5"},
      {R"({"jsonrpc":"2.0","result":null,"id":0})", true, "null"},
      {R"({"jsonrpc":"2.0","id":0})", true, nullptr},
      {"17", true, nullptr},
      {R"(["result",1])", true, nullptr},
      {R"({"error":{"code":-32601,"message":"unknown message"},"id":0})", false, nullptr},
      {R"({"error":{"message":"x"},"result":{"return":0}})", false, nullptr},
      {R"({"result":{"return":0},"error":null})", false, nullptr},
      {R"({"error":5})", false, nullptr},
      {R"({"result":)", false, nullptr},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.answer);
    Answer(row.answer);
    JsonPtr result;
    EXPECT_EQ(Send(&result), row.ok);
    if (row.result == nullptr) {
      EXPECT_EQ(result, nullptr);
    } else {
      ASSERT_NE(result, nullptr);
      EXPECT_EQ(Written(result.get()), row.result);
    }
  }
}

TEST_F(SendRequest, ResultPlaceIsOptional) {
  Answer(R"({"result":{"return":0}})");
  EXPECT_TRUE(JrSendRequest(&service, "M", ContextParams(1), nullptr));
}

TEST_F(SendRequest, WithoutSendFunctionNothingIsSentAndNoIdUsed) {
  service.log = RecordLog;
  service.send = nullptr;
  JsonPtr result;
  EXPECT_FALSE(Send(&result));
  EXPECT_FALSE(JrSendRequest(nullptr, "M", ContextParams(1), &result));
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(service.nextId, 0);
  ASSERT_EQ(Scripted().log.size(), 1u);
  EXPECT_EQ(Scripted().log[0].first, "ERROR");
  EXPECT_EQ(Scripted().log[0].second, "[JrSendRequest] service not initialized");
}

TEST_F(SendRequest, SendWithContextIsPreferred) {
  int marker = 0;
  service.sendWithContext = ScriptedSendWithContext;
  service.sendContext = &marker;
  Answer(R"({"result":1})");
  JsonPtr result;
  EXPECT_TRUE(Send(&result));
  ASSERT_EQ(Scripted().contexts.size(), 1u);
  EXPECT_EQ(Scripted().contexts[0], &marker);

  // It alone is enough to count as set up.
  service.send = nullptr;
  Answer(R"({"result":1})");
  EXPECT_TRUE(Send(&result));
  EXPECT_EQ(Scripted().contexts.size(), 2u);
}

TEST_F(SendRequest, InitServiceRestartsIdsAndDropsTheLog) {
  service.log = RecordLog;
  service.nextId = 41;
  JrInitService(&service, ScriptedSend);
  EXPECT_EQ(service.log, nullptr);
  EXPECT_EQ(service.nextId, 0);
  AnswerNothing();
  JsonPtr result;
  EXPECT_FALSE(Send(&result));
  EXPECT_TRUE(Scripted().log.empty());
}

TEST_F(SendRequest, LogTextsOfEachOutcome) {
  service.log = RecordLog;
  Answer(R"({"result":{}})");
  AnswerNothing();
  Answer("{\"a\":");
  Answer(R"({"error":{"code":1,"message":"bad address"}})");
  Answer(R"({"error":{"code":1}})");
  for (int i = 0; i < 5; ++i) {
    JsonPtr result;
    Send(&result, "Read%s");
  }
  using Entry = std::pair<std::string, std::string>;
  const std::string sent0 =
      R"({ "jsonrpc" : "2.0", "method" : "Read%s", "params" : { "context" : 1 }, "id" : 0 })";
  const std::vector<Entry> expected = {
      {"SEND", sent0},
      {"RECV", R"({"result":{}})"},
      {"SEND", Sent()[1]},
      {"RECV", "(NULL)"},
      {"ERROR", "[JrSendRequest] Read%s response was NULL"},
      {"SEND", Sent()[2]},
      {"RECV", "{\"a\":"},
      {"ERROR",
       "[JrSendRequest] Read%s response parsing: Error: unexpected end of input while parsing "
       "object"},
      {"SEND", Sent()[3]},
      {"RECV", R"({"error":{"code":1,"message":"bad address"}})"},
      {"ERROR", "[JrSendRequest] Read%s request failed: bad address"},
      {"SEND", Sent()[4]},
      {"RECV", R"({"error":{"code":1}})"},
      {"ERROR", "[JrSendRequest] Read%s request failed: "},
  };
  EXPECT_EQ(Scripted().log, expected);
}

TEST(JrLog, FormatsOnlyWithALogFunction) {
  Scripted() = Script{};
  JsonRpcService service;
  JrInitService(&service, ScriptedSend);
  JrLog(&service, "SEND", "%d %s", 1, "x");
  JrLog(nullptr, "SEND", "%d", 2);
  EXPECT_TRUE(Scripted().log.empty());
  service.log = RecordLog;
  JrLog(&service, "ERROR", "%d %s", 1, "x");
  const std::string longText(5000, 'z');
  JrLog(&service, "RECV", "%s", longText.c_str());
  JrLog(&service, "RECV", "%s", "");
  ASSERT_EQ(Scripted().log.size(), 3u);
  EXPECT_EQ(Scripted().log[0], std::make_pair(std::string("ERROR"), std::string("1 x")));
  EXPECT_EQ(Scripted().log[1].second, longText);
  EXPECT_EQ(Scripted().log[2].second, "");
}

}  // namespace
