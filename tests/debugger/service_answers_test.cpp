// The debugger's answers to the plug-in's service requests, against a small
// hand-made model target: exact answer texts for every method it serves and
// for what it cannot answer.
#include "debugger/service_answers.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "simple_json/json_parse.h"

namespace {

constexpr uint32_t kRam = 0x20000000;
constexpr uint32_t kRoutine = 0x08000100;
constexpr uint32_t kCaller = 0x08000200;

class ServiceAnswers : public testing::Test {
 protected:
  void SetUp() override {
    model::ModelInit(&targetModel, false);
    ASSERT_TRUE(model::MemoryMap(&targetModel.memory, kRam, 16));
    const uint8_t bytes[] = {0xab, 0x01, 0xff, 0x7e};
    ASSERT_TRUE(model::MemoryWrite(&targetModel.memory, kRam, sizeof bytes, bytes));
    ASSERT_TRUE(model::AddSymbol(&targetModel.symbols,
                                 {"task_main", model::SymbolKind::kRoutine, kRoutine, 0x40}));
    ASSERT_TRUE(model::AddSymbol(&targetModel.symbols,
                                 {"app_start", model::SymbolKind::kRoutine, kCaller, 0x40}));
    ASSERT_TRUE(
        model::AddSymbol(&targetModel.symbols, {"__ram_begin", model::SymbolKind::kLinker, kRam}));
    targetModel.registers.values[4] = 0x1234;
    targetModel.registers.values[model::kRegPc] = kRoutine + 0x10;
    targetModel.registers.values[model::kRegLr] = kCaller + 0x21;
    state.model = &targetModel;
  }

  std::string Answer(const std::string& request) {
    const JsonPtr tree = JsonParse(request, nullptr);
    EXPECT_NE(tree, nullptr) << request;
    if (tree == nullptr) return "";
    return DbgAnswerServiceRequest(&state, *tree);
  }

  model::TargetModel targetModel;
  DbgServiceState state;
};

// A request with id 7 whose params start with "context" 1.
std::string Request(const std::string& method, const std::string& params) {
  return "{ \"jsonrpc\" : \"2.0\", \"method\" : \"" + method +
         "\", \"params\" : { \"context\" : 1, " + params + " }, \"id\" : 7 }";
}

std::string Result(const std::string& members) {
  return "{ \"jsonrpc\" : \"2.0\", \"result\" : { " + members + " }, \"id\" : 7 }";
}

const std::string kDone = Result("\"return\" : 0");
const std::string kFailed = Result("\"return\" : 1");
const std::string kMemory = "\"memorySpace\" : 4, \"address\" : ";
const std::string kCommand = "\"outputMask\" : 1, \"allowBpOps\" : 0, \"searchFlag\" : 0";

// In order: the writes come last and are checked in the model afterwards. A
// write whose count does not match its text, or whose text is not hex
// pairs (no prefix, no spaces), writes nothing.
TEST_F(ServiceAnswers, AnswersEachRequestWithTheExactText) {
  const struct {
    const char* method;
    std::string params;
    std::string answer;
  } rows[] = {
      {"OSA_Service_MemoryRead", kMemory + "536870912, \"count\" : 4",
       Result("\"value\" : \"ab01ff7e\", \"return\" : 0")},
      {"OSA_Service_MemoryRead", kMemory + "536870924, \"count\" : 8", kFailed},
      {"OSA_Service_MemoryRead", kMemory + "536870912, \"count\" : 1, \"taskId\" : 5", kFailed},
      {"OSA_Service_MemoryRead", kMemory + "536870912, \"count\" : 4294967296", kFailed},
      {"OSA_Service_MemoryRead", "\"address\" : 536870912", kFailed},
      {"OSA_Service_ExpressionEval",
       "\"expression\" : \"__ram_begin+2\", \"valueType\" : 11, \"searchFlag\" : 0",
       Result("\"output\" : 536870914, \"return\" : 0")},
      {"OSA_Service_ExpressionEval",
       "\"expression\" : \"1\", \"valueType\" : 0, \"searchFlag\" : 0", kFailed},
      {"OSA_Service_StringEval", "\"input\" : \"`print /a 134217984+0`\"",
       Result("\"value\" : \"0x8000100 <task_main>\", \"return\" : 0")},
      {"OSA_Service_RegisterRead", "\"register\" : 4, \"width\" : 1, \"fromDebugger\" : 0",
       Result("\"value\" : 52, \"return\" : 0")},
      {"OSA_Service_RegisterRead", "\"register\" : 67, \"width\" : -1, \"fromDebugger\" : 0",
       kFailed},
      {"OSA_Service_RegisterRead",
       "\"register\" : 4, \"width\" : -1, \"fromDebugger\" : 0, \"taskId\" : 9", kFailed},
      {"OSA_Service_CommandExec",
       "\"command\" : \"E 1; mprintf(\\\"%s\\\", $_PROCEDURE);\", " + kCommand,
       Result("\"output\" : \"app_start\", \"return\" : 0")},
      {"OSA_Service_CommandExec", "\"command\" : \"E;\", " + kCommand, kFailed},
      {"OSA_Service_SymbolFromAddress", "\"address\" : 134217989, \"symbolType\" : 6",
       Result("\"name\" : \"task_main\", \"return\" : 0")},
      {"OSA_Service_SymbolFromAddress", "\"address\" : 536870912, \"symbolType\" : 6", kFailed},
      {"OSA_Service_CpuModeGet", "\"coreId\" : 1", Result("\"inUserMode\" : 0, \"return\" : 0")},
      {"OSA_Service_TargetStatus", "\"coreId\" : 1", Result("\"status\" : 0, \"return\" : 0")},
      {"OSA_Service_MacroGet", "\"macroName\" : \"X\", \"useOsaSym\" : 0", kFailed},
      {"OSA_Service_MemoryWrite", kMemory + "536870913, \"count\" : 2, \"value\" : \"C0dE\"",
       kDone},
      {"OSA_Service_MemoryWrite", kMemory + "536870912, \"count\" : 2, \"value\" : \"c0\"",
       kFailed},
      {"OSA_Service_MemoryWrite", kMemory + "536870912, \"count\" : 2, \"value\" : \"0xc0\"",
       kFailed},
      {"OSA_Service_MemoryWrite", kMemory + "536870912, \"count\" : 2, \"value\" : \"c0d\"",
       kFailed},
      {"OSA_Service_RegisterWrite",
       "\"register\" : 5, \"width\" : -1, \"forMemoryAccess\" : 0, \"fromDebugger\" : 0, "
       "\"value\" : 99",
       kDone},
      {"OSA_Service_RegisterWrite",
       "\"register\" : 66, \"width\" : -1, \"forMemoryAccess\" : 0, \"fromDebugger\" : 0, "
       "\"value\" : 1",
       kFailed},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Answer(Request(row.method, row.params)), row.answer) << row.method << row.params;
  uint8_t bytes[4] = {};
  ASSERT_TRUE(model::MemoryRead(targetModel.memory, kRam, 4, bytes));
  EXPECT_EQ(DbgHexEncode(bytes, 4), "abc0de7e");
  EXPECT_EQ(targetModel.registers.values[5], 99u);
}

TEST_F(ServiceAnswers, CollectsDisplayedMessagesAndCopiesTheRequestId) {
  const std::string request =
      "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Service_MessageDisplay\", \"params\" : { "
      "\"context\" : 1, \"messageType\" : 2, \"message\" : \"Error: Unable to read XPSR\\n\" }, "
      "\"id\" : 41 }";
  state.during = "the client request";
  EXPECT_EQ(Answer(request),
            "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"return\" : 0 }, \"id\" : 41 }");
  ASSERT_EQ(state.messages.size(), 1u);
  EXPECT_EQ(state.messages[0].type, 2);
  EXPECT_EQ(state.messages[0].text, "Error: Unable to read XPSR\n");
  EXPECT_EQ(state.messages[0].during, "the client request");
  EXPECT_EQ(state.answered, 1u);

  // An id that is not a number is copied as the request wrote it.
  EXPECT_EQ(Answer("{ \"method\" : \"OSA_Service_CpuModeGet\", \"params\" : { }, "
                   "\"id\" : \"q\\\"1\" }"),
            "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"inUserMode\" : 0, \"return\" : 0 }, "
            "\"id\" : \"q\\\"1\" }");

  // No params object, or no id: still an answer, with "return" 1 and id null.
  EXPECT_EQ(Answer("{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Service_TargetStatus\" }"),
            "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"return\" : 1 }, \"id\" : null }");
}

// Every answer is the one a fresh evaluation gives: layout answers and
// failures come back from the memo, memory and register reads never do, and
// the memo forgets a model that changed or was swapped.
TEST_F(ServiceAnswers, MemoGivesTheAnswersAFreshEvaluationGives) {
  state.memo.enabled = true;
  model::TypeId intType = 0;
  ASSERT_TRUE(model::FindTypeByName(targetModel.types, "int", &intType));
  ASSERT_TRUE(model::AddSymbol(&targetModel.symbols,
                               {"counter", model::SymbolKind::kVariable, kRam, 4, intType}));
  const auto evaluate = [this](const std::string& expression) {
    return Answer(Request("OSA_Service_ExpressionEval",
                          "\"expression\" : \"" + expression + "\", \"valueType\" : 11"));
  };
  const auto output = [](const std::string& value) {
    return Result("\"output\" : " + value + ", \"return\" : 0");
  };
  const struct {
    std::string expression;
    std::string before;
    std::string after;  // once memory, r4 and the symbols have changed
    bool kept;
  } rows[] = {
      {"sizeof(int)*2+__ram_begin", output("536870920"), output("536870920"), true},
      {"qx_missing", kFailed, kFailed, true},
      {"$M_sym_exists(later)", output("0"), output("1"), true},
      {"counter", output("2130641323"), output("5"), false},
      {"$r4", output("4660"), output("9"), false},
  };
  // Kept in one order, asked again in another and then twice over.
  for (const int at : {0, 1, 2, 3, 4, 3, 4, 1, 0, 2, 2, 0, 0}) {
    EXPECT_EQ(evaluate(rows[at].expression), rows[at].before) << rows[at].expression;
  }
  for (const auto& row : rows)
    EXPECT_EQ(state.memo.answers.count(row.expression), row.kept ? 1u : 0u) << row.expression;

  EXPECT_EQ(Answer(Request("OSA_Service_MemoryWrite", kMemory + "536870912, \"count\" : 4, "
                                                                "\"value\" : \"05000000\"")),
            kDone);
  EXPECT_EQ(Answer(Request("OSA_Service_RegisterWrite", "\"register\" : 4, \"value\" : 9")), kDone);
  ASSERT_TRUE(model::AddSymbol(&targetModel.symbols, {"later", model::SymbolKind::kLinker, 4}));
  for (const auto& row : rows)
    EXPECT_EQ(evaluate(row.expression), row.after) << row.expression;

  // Another model: nothing of the first one's answers is served.
  model::TargetModel other;
  model::ModelInit(&other, false);
  state.model = &other;
  EXPECT_EQ(evaluate("sizeof(int)*2+__ram_begin"), kFailed);
  EXPECT_EQ(state.memo.answers.size(), 1u);
}

// The plug-in's own layout of a request is read by place; the same members
// in another order, or as many with a name that differs, are found by name.
TEST_F(ServiceAnswers, AnswersAnyLayoutOfTheMembers) {
  const std::string read = "\"method\" : \"OSA_Service_MemoryRead\"";
  const std::string bytes = Result("\"value\" : \"ab01ff7e\", \"return\" : 0");
  const std::string memory = "\"params\" : { \"context\" : 1, " + kMemory + "536870912, ";
  const std::string swapped =
      "\"params\" : { \"address\" : 536870912, \"memorySpace\" : 4, "
      "\"context\" : 1, \"count\" : 4 }";
  const std::pair<std::string, std::string> rows[] = {
      {"{ \"jsonrpc\" : \"2.0\", " + read + ", " + memory + "\"count\" : 4 }, \"id\" : 7 }", bytes},
      {"{ \"jsonrpc\" : \"2.0\", " + memory + "\"count\" : 4 }, " + read + ", \"id\" : 7 }", bytes},
      {"{ \"jsonrpc\" : \"2.0\", " + read + ", " + swapped + ", \"id\" : 7 }", bytes},
      {"{ \"jsonrpc\" : \"2.0\", " + read + ", " + memory + "\"counts\" : 4 }, \"id\" : 7 }",
       kFailed},
  };
  for (const auto& [request, answer] : rows)
    EXPECT_EQ(Answer(request), answer) << request;
}

// Only a message with a "method" is served and counted; answers and
// non-objects are left to the caller untouched.
TEST_F(ServiceAnswers, ServesOnlyRequests) {
  const struct {
    std::string message;
    bool served;
  } rows[] = {
      {Request("OSA_Service_TargetStatus", "\"x\" : 0"), true},
      {"{ \"method\" : 5, \"id\" : 7 }", true},
      {kDone, false},
      {"[ 1 ]", false},
  };
  for (const auto& row : rows) {
    const JsonPtr tree = JsonParse(row.message, nullptr);
    std::string answer = "kept";
    const std::uint64_t before = state.answered;
    EXPECT_EQ(DbgServeIfRequest(&state, tree.get(), &answer), row.served) << row.message;
    EXPECT_EQ(state.answered - before, row.served ? 1u : 0u) << row.message;
    if (row.served) {
      EXPECT_EQ(answer, DbgAnswerServiceRequest(&state, *tree)) << row.message;
    } else {
      EXPECT_EQ(answer, "kept") << row.message;
    }
  }
  EXPECT_FALSE(DbgServeIfRequest(&state, nullptr, nullptr));
}

// The memo's hash sees every byte: texts one byte apart, in the words or in
// the tail, or one byte longer, hash apart; a key and a view of it alike.
TEST(MemoHash, EveryByteCounts) {
  const std::string base = "sizeof(((QX_TASK *)536871696)->stack_size)";
  for (std::size_t at = 0; at < base.size(); ++at) {
    std::string changed = base;
    changed[at] = static_cast<char>(changed[at] ^ 0x20);
    EXPECT_NE(DbgTextHashOf(changed), DbgTextHashOf(base)) << at;
    EXPECT_NE(DbgTextHashOf(base.substr(0, at)), DbgTextHashOf(base.substr(0, at + 1))) << at;
  }
  EXPECT_EQ(DbgTextHash{}(base), DbgTextHash{}(std::string_view(base)));
}

}  // namespace
