// The debugger's answers to the plug-in's service requests, against a small
// hand-made model target: exact answer texts for every method it serves and
// for what it cannot answer.
#include "debugger/service_answers.h"

#include <gtest/gtest.h>

#include "simple_json/json_parse.h"

namespace {

constexpr uint32_t kRam = 0x20000000;
constexpr uint32_t kRoutine = 0x08000100;
constexpr uint32_t kCaller = 0x08000200;

class ServiceAnswers : public testing::Test {
 protected:
  void SetUp() override {
    model::ModelInit(&model_, false);
    ASSERT_TRUE(model::MemoryMap(&model_.memory, kRam, 16));
    const uint8_t bytes[] = {0xab, 0x01, 0xff, 0x7e};
    ASSERT_TRUE(model::MemoryWrite(&model_.memory, kRam, sizeof bytes, bytes));
    ASSERT_TRUE(model::AddSymbol(&model_.symbols,
                                 {"task_main", model::SymbolKind::kRoutine, kRoutine, 0x40}));
    ASSERT_TRUE(model::AddSymbol(&model_.symbols,
                                 {"app_start", model::SymbolKind::kRoutine, kCaller, 0x40}));
    ASSERT_TRUE(
        model::AddSymbol(&model_.symbols, {"__ram_begin", model::SymbolKind::kLinker, kRam}));
    model_.registers.values[4] = 0x1234;
    model_.registers.values[model::kRegPc] = kRoutine + 0x10;
    model_.registers.values[model::kRegLr] = kCaller + 0x21;
    state_.model = &model_;
  }

  std::string Answer(const std::string& request) {
    const JsonPtr tree = JsonParse(request, nullptr);
    EXPECT_NE(tree, nullptr) << request;
    if (tree == nullptr) return "";
    return DbgAnswerServiceRequest(&state_, *tree);
  }

  model::TargetModel model_;
  DbgServiceState state_;
};

std::string Request(const std::string& method, const std::string& params) {
  return "{ \"jsonrpc\" : \"2.0\", \"method\" : \"" + method + "\", \"params\" : { " + params +
         " }, \"id\" : 7 }";
}

std::string Result(const std::string& members) {
  return "{ \"jsonrpc\" : \"2.0\", \"result\" : { " + members + " }, \"id\" : 7 }";
}

const std::string kFailed = Result("\"return\" : 1");

struct AnswerCase {
  const char* name;
  std::string method;
  std::string params;
  std::string answer;
};

TEST_F(ServiceAnswers, AnswersEachRequestWithTheExactText) {
  const AnswerCase cases[] = {
      {"memory read", "OSA_Service_MemoryRead",
       "\"context\" : 1, \"memorySpace\" : 4, \"address\" : 536870912, \"count\" : 4",
       Result("\"value\" : \"ab01ff7e\", \"return\" : 0")},
      {"memory read past the mapped bytes", "OSA_Service_MemoryRead",
       "\"context\" : 1, \"memorySpace\" : 4, \"address\" : 536870924, \"count\" : 8", kFailed},
      {"memory read of zero bytes", "OSA_Service_MemoryRead",
       "\"context\" : 1, \"memorySpace\" : 4, \"address\" : 536870912, \"count\" : 0", kFailed},
      {"memory read of a task's view", "OSA_Service_MemoryRead",
       "\"context\" : 1, \"memorySpace\" : 4, \"address\" : 536870912, \"count\" : 1, "
       "\"taskId\" : 5",
       kFailed},
      {"memory read beyond the size bound", "OSA_Service_MemoryRead",
       "\"context\" : 1, \"memorySpace\" : 4, \"address\" : 536870912, \"count\" : 4294967296",
       kFailed},
      {"expression", "OSA_Service_ExpressionEval",
       "\"context\" : 1, \"expression\" : \"__ram_begin+2\", \"valueType\" : 11, "
       "\"searchFlag\" : 0",
       Result("\"output\" : 536870914, \"return\" : 0")},
      {"expression naming no symbol", "OSA_Service_ExpressionEval",
       "\"context\" : 1, \"expression\" : \"qx_missing\", \"valueType\" : 11, \"searchFlag\" : 0",
       kFailed},
      {"expression of another value type", "OSA_Service_ExpressionEval",
       "\"context\" : 1, \"expression\" : \"1\", \"valueType\" : 0, \"searchFlag\" : 0", kFailed},
      {"string evaluation", "OSA_Service_StringEval",
       "\"context\" : 1, \"input\" : \"`print /a 134217984+0`\"",
       Result("\"value\" : \"0x8000100 <task_main>\", \"return\" : 0")},
      {"register read", "OSA_Service_RegisterRead",
       "\"context\" : 1, \"register\" : 4, \"width\" : -1, \"fromDebugger\" : 0",
       Result("\"value\" : 4660, \"return\" : 0")},
      {"register read cut to a width", "OSA_Service_RegisterRead",
       "\"context\" : 1, \"register\" : 4, \"width\" : 1, \"fromDebugger\" : 0",
       Result("\"value\" : 52, \"return\" : 0")},
      {"register beyond the register file", "OSA_Service_RegisterRead",
       "\"context\" : 1, \"register\" : 67, \"width\" : -1, \"fromDebugger\" : 0", kFailed},
      {"register of a task", "OSA_Service_RegisterRead",
       "\"context\" : 1, \"register\" : 4, \"width\" : -1, \"fromDebugger\" : 0, \"taskId\" : 9",
       kFailed},
      {"caller's routine", "OSA_Service_CommandExec",
       "\"context\" : 1, \"command\" : \"E 1; mprintf(\\\"%s\\\", $_PROCEDURE);\", "
       "\"outputMask\" : 1, \"allowBpOps\" : 0, \"searchFlag\" : 0",
       Result("\"output\" : \"app_start\", \"return\" : 0")},
      {"current routine", "OSA_Service_CommandExec",
       "\"context\" : 1, \"command\" : \"E; mprintf(\\\"%s\\\", $_PROCEDURE);\", "
       "\"outputMask\" : 1, \"allowBpOps\" : 0, \"searchFlag\" : 0",
       Result("\"output\" : \"task_main\", \"return\" : 0")},
      {"other command", "OSA_Service_CommandExec",
       "\"context\" : 1, \"command\" : \"E;\", \"outputMask\" : 1, \"allowBpOps\" : 0, "
       "\"searchFlag\" : 0",
       kFailed},
      {"routine at an address", "OSA_Service_SymbolFromAddress",
       "\"context\" : 1, \"address\" : 134217989, \"symbolType\" : 6",
       Result("\"name\" : \"task_main\", \"return\" : 0")},
      {"no routine at an address", "OSA_Service_SymbolFromAddress",
       "\"context\" : 1, \"address\" : 536870912, \"symbolType\" : 6", kFailed},
      {"CPU mode", "OSA_Service_CpuModeGet", "\"context\" : 1, \"coreId\" : 1",
       Result("\"inUserMode\" : 0, \"return\" : 0")},
      {"target status", "OSA_Service_TargetStatus", "\"context\" : 1",
       Result("\"status\" : 0, \"return\" : 0")},
      {"a method the model does not serve", "OSA_Service_MacroGet",
       "\"context\" : 1, \"macroName\" : \"X\", \"useOsaSym\" : 0", kFailed},
      {"missing member", "OSA_Service_MemoryRead", "\"context\" : 1, \"address\" : 536870912",
       kFailed},
  };
  for (const AnswerCase& row : cases) {
    EXPECT_EQ(Answer(Request(row.method, row.params)), row.answer) << row.name;
  }
}

TEST_F(ServiceAnswers, WritesMemoryFromHexTextOfEitherCase) {
  EXPECT_EQ(Answer(Request("OSA_Service_MemoryWrite",
                           "\"context\" : 1, \"memorySpace\" : 4, \"address\" : 536870913, "
                           "\"count\" : 2, \"value\" : \"C0dE\"")),
            Result("\"return\" : 0"));
  uint8_t bytes[4] = {};
  ASSERT_TRUE(model::MemoryRead(model_.memory, kRam, 4, bytes));
  EXPECT_EQ(DbgHexEncode(bytes, 4), "abc0de7e");

  // A count that does not match the text, or a pair that is not hex, writes nothing.
  for (const char* value : {"\"c0\"", "\"c0dx\"", "\"c0d\""}) {
    EXPECT_EQ(Answer(Request("OSA_Service_MemoryWrite",
                             std::string("\"context\" : 1, \"memorySpace\" : 4, \"address\" : "
                                         "536870912, \"count\" : 2, \"value\" : ") +
                                 value)),
              kFailed)
        << value;
  }
  ASSERT_TRUE(model::MemoryRead(model_.memory, kRam, 4, bytes));
  EXPECT_EQ(DbgHexEncode(bytes, 4), "abc0de7e");
}

TEST_F(ServiceAnswers, WritesRegistersAndRefusesTheComputedOnes) {
  EXPECT_EQ(Answer(Request("OSA_Service_RegisterWrite",
                           "\"context\" : 1, \"register\" : 5, \"width\" : -1, "
                           "\"forMemoryAccess\" : 0, \"fromDebugger\" : 0, \"value\" : 99")),
            Result("\"return\" : 0"));
  EXPECT_EQ(model_.registers.values[5], 99u);
  EXPECT_EQ(Answer(Request("OSA_Service_RegisterWrite",
                           "\"context\" : 1, \"register\" : 66, \"width\" : -1, "
                           "\"forMemoryAccess\" : 0, \"fromDebugger\" : 0, \"value\" : 1")),
            kFailed);
}

TEST_F(ServiceAnswers, CollectsDisplayedMessagesAndCopiesTheRequestId) {
  const std::string request =
      "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Service_MessageDisplay\", \"params\" : { "
      "\"context\" : 1, \"messageType\" : 2, \"message\" : \"Error: Unable to read XPSR\\n\" }, "
      "\"id\" : 41 }";
  state_.during = "the client request";
  EXPECT_EQ(Answer(request),
            "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"return\" : 0 }, \"id\" : 41 }");
  ASSERT_EQ(state_.messages.size(), 1u);
  EXPECT_EQ(state_.messages[0].type, 2);
  EXPECT_EQ(state_.messages[0].text, "Error: Unable to read XPSR\n");
  EXPECT_EQ(state_.messages[0].during, "the client request");
  EXPECT_EQ(state_.answered, 1u);

  // No params object, or no id: still an answer, with "return" 1 and id null.
  EXPECT_EQ(Answer("{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Service_TargetStatus\" }"),
            "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"return\" : 1 }, \"id\" : null }");
}

TEST(HexText, DecodesOnlyWholePairsOfHexDigits) {
  std::vector<uint8_t> bytes = {9};
  EXPECT_TRUE(DbgHexDecode("00Ff10", &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x00, 0xff, 0x10}));
  for (const char* bad : {"0", "0g", " 01", "0x01"}) {
    std::vector<uint8_t> untouched = {9};
    EXPECT_FALSE(DbgHexDecode(bad, &untouched)) << bad;
    EXPECT_EQ(untouched, std::vector<uint8_t>{9}) << bad;
  }
}

}  // namespace
