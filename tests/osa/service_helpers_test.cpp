// Helpers beside the service wrappers: the per-core CPU-mode cache, the host
// core, the timing records, and the bounds of list reading.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "osa/cpu_mode.h"
#include "osa/lists.h"
#include "osa/plugin_time.h"
#include "osa/service_exchange.h"
#include "osa/service_requests.h"
#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"
#include "tests/osa/service_script.h"

namespace service_test {
namespace {

// ---- CPU modes ------------------------------------------------------------------

class CpuModeTest : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    context.unifiedMcOsa = 1;
  }
};

TEST_F(CpuModeTest, RequestFlagWhenNoPerCoreModeApplies) {
  context.inUserMode = true;
  EXPECT_TRUE(OsaCpuModeIsUser(&context, kOsaNoCore));
  context.unifiedMcOsa = 0;
  EXPECT_TRUE(OsaCpuModeIsUser(&context, 2));
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(OsaHostCore(&context, 7), 7);
  context.hostCoreIndex = 1;
  EXPECT_EQ(OsaHostCore(&context, 7), 1);
}

TEST_F(CpuModeTest, AsksOnceAndAnswersLaterCallsFromTheCache) {
  Answer(R"("inUserMode" : 1)");
  EXPECT_TRUE(OsaCpuModeIsUser(&context, 2));
  EXPECT_TRUE(OsaCpuModeIsUser(&context, 2));
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0], RequestText("OSA_Service_CpuModeGet", R"({ "context" : 5, "coreId" : 3 })"));
  // A recorded mode overwrites its core's entry and wins until the next one.
  OsaCoreModeRecord(&context, 0, 1);
  OsaCoreModeRecord(&context, 2, 0);
  EXPECT_FALSE(OsaCpuModeIsUser(&context, 2));
  EXPECT_TRUE(OsaCpuModeIsUser(&context, 0));
  EXPECT_EQ(Sent().size(), 1u);
  EXPECT_EQ(context.coreModes.size(), 2u);
}

TEST_F(CpuModeTest, FailureIsShownOnlyWithCommunicationLoggingAndNotCached) {
  Answer(R"("return" : 0)");
  EXPECT_FALSE(OsaCpuModeIsUser(&context, 2));
  EXPECT_EQ(Sent().size(), 1u);
  context.logCommunication = true;
  AnswerNothing();
  Answer(R"("return" : 0)");
  EXPECT_FALSE(OsaCpuModeIsUser(&context, 2));
  ASSERT_EQ(Sent().size(), 3u);
  EXPECT_EQ(Sent()[2], RequestText("OSA_Service_MessageDisplay",
                                   R"({ "context" : 5, "messageType" : 2, "message" : )"
                                   R"("OSA plugin: Failed to find CPU mode information )"
                                   R"(for core 2 (0-based).\n" })",
                                   2));
  EXPECT_TRUE(context.coreModes.empty());
}

// ---- Timing records ----------------------------------------------------------------

std::vector<std::string> TimingTexts() {
  std::vector<std::string> texts;
  for (const HistoryLogEntry& entry : HistoryLogEntries()) {
    if (entry.channel == "OsaPluginTime") texts.push_back(entry.text);
  }
  return texts;
}

TEST_F(ServiceTest, TimedWrappersLogTheirLabelsAndDepth) {
  std::uint8_t buffer[8] = {};
  std::int64_t value = 0;
  std::uint32_t u32 = 0;
  for (int i = 0; i < 4; ++i)
    Answer(R"("return" : 0)");
  {
    OsaTimingScope outer("ExprEval(%s)", "a");
    (void)OSA_Service_RegisterRead(&context, kOsaNoCore, 13, 4, &value, 0, 0);
  }
  (void)OSA_Service_MemoryRead(&context, 4, 0x20000000, 2, 4, buffer, 0, kOsaNoCore);
  (void)OSA_Service_StructFieldSearch(&context, "QX_TASK", "name", 0, &u32, nullptr, nullptr,
                                      nullptr, kOsaNoCore);
  (void)OSA_Service_ThreadRegisterWrite(&context, 1, 2, 3, kOsaNoCore);  // not timed
  // One entry per scope as it closes, inner scopes first: depth, duration, label.
  const std::vector<std::string> texts = TimingTexts();
  ASSERT_EQ(texts.size(), 4u);
  const std::pair<const char*, const char*> expected[] = {
      {"depth 2, ", ": RegRead(13)"},
      {"depth 1, ", ": ExprEval(a)"},
      {"depth 1, ", ": MemRead(0x20000000, count 2, size 4)"},
      {"depth 1, ", ": StructField(QX_TASK.name)"}};
  for (std::size_t index = 0; index < texts.size(); ++index) {
    const auto& [head, tail] = expected[index];
    EXPECT_TRUE(texts[index].starts_with(head) && texts[index].ends_with(tail) &&
                texts[index].find(" us: ") != std::string::npos)
        << texts[index];
  }
  EXPECT_EQ(OsaPluginTimeDepth(), 0u);
}

// The labels of the two wrappers timed for nearly every attribute are put
// together without printf and must read as printf writes them, for
// addresses and counts of every size and sign, and for null and long
// expressions.
TEST_F(ServiceTest, HotWrapperLabelsReadAsPrintfWritesThem) {
  struct Case {
    std::uint64_t address;
    std::int64_t count;
    std::int64_t size;
  };
  const Case cases[] = {
      {0, 0, 0},
      {0xABCDEF0123456789ULL, -1, 8},
      {std::numeric_limits<std::uint64_t>::max(), std::numeric_limits<std::int64_t>::min(),
       std::numeric_limits<std::int64_t>::max()}};
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    (void)OSA_Service_MemoryRead(&context, 0, c.address, c.count, c.size, nullptr, 0, kOsaNoCore);
    char text[128];
    std::snprintf(text, sizeof text, "MemRead(0x%" PRIx64 ", count %" PRId64 ", size %" PRId64 ")",
                  c.address, c.count, c.size);
    expected.emplace_back(text);
  }
  const std::string longExpression(200, 'x');  // longer than a label kept in place
  for (const char* expression :
       {"&((QX_TASK *)0)->core", "", static_cast<const char*>(nullptr), longExpression.c_str()}) {
    (void)OSA_Service_ExpressionEval(&context, expression, nullptr, kOsaNoCore);
    expected.push_back(std::string("ExprEval(") + (expression != nullptr ? expression : "(null)") +
                       ")");
  }
  std::vector<std::string> labels;
  for (const std::string& text : TimingTexts()) {
    labels.push_back(text.substr(text.find(" us: ") + 5));
  }
  EXPECT_EQ(labels, expected);
}

// ---- Lists -----------------------------------------------------------------------

class OsaGetListTest : public testing::Test {
 protected:
  void SetUp() override {
    object = JsonParse(R"({ "ids" : [ 1, -1, 4294967298 ], "names" : [ "x", "y" ], )"
                       R"("mixed" : [ 1, "two" ], "scalar" : 3 })",
                       &error);
    ASSERT_NE(object, nullptr);
  }
  JsonPtr object;
  std::string error;
};

TEST_F(OsaGetListTest, CopiesTheFirstElements) {
  std::vector<std::uint64_t> u64;
  ASSERT_TRUE(OsaGetList(object.get(), "ids", &u64, 3));
  EXPECT_EQ(u64, (std::vector<std::uint64_t>{1, ~0ull, 4294967298ull}));
  std::vector<std::uint32_t> u32;
  ASSERT_TRUE(OsaGetList(object.get(), "ids", &u32, 3));
  EXPECT_EQ(u32, (std::vector<std::uint32_t>{1, 0xFFFFFFFF, 2}));
  std::vector<const char*> names;
  ASSERT_TRUE(OsaGetList(object.get(), "names", &names, 1));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_STREQ(names[0], "x");
  // Nothing asked needs no object.
  EXPECT_TRUE(OsaGetList(nullptr, "ids", &u64, -3));
  EXPECT_TRUE(u64.empty());
}

TEST_F(OsaGetListTest, NeverHoldsMoreThanTheArray) {
  struct Case {
    const char* name;
    std::int32_t n;
  };
  const Case cases[] = {
      {"ids", std::numeric_limits<std::int32_t>::max()},
      {"ids", 4},
      {"missing", 1},
      {"scalar", 1},
      {"mixed", 2},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(testing::Message() << row.name << " " << row.n);
    std::vector<std::uint64_t> list = {9};
    EXPECT_FALSE(OsaGetList(object.get(), row.name, &list, row.n));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.capacity() < 1000, true);
  }
  std::vector<const char*> names;
  EXPECT_FALSE(OsaGetList(object.get(), "mixed", &names, 2));
  EXPECT_FALSE(OsaGetList(object.get(), "names", &names, 0x7FFFFFFF));
}

// ---- Params written as text -----------------------------------------------------

// The text writer must give exactly what JsonWrite gives for the same tree:
// integers over the whole range (addresses above INT64_MAX included, as the
// tree stores them), texts with every kind of byte that is escaped, a null
// text, and the optional core and task members.
TEST(OsaParamsTextTest, MatchesTheWrittenTree) {
  struct Case {
    std::uint64_t handle;
    std::uint64_t address;
    const char* text;
    std::int64_t core;
    std::uint64_t task;
  };
  const Case cases[] = {
      {0, 0, "", kOsaNoCore, 0},
      {5, 0x20000000, "&((QX_TASK *)0)->core", 0, 0},
      {std::numeric_limits<std::uint64_t>::max(), 0x8000000000000000ULL,
       "a\"b\\c\n\t\x01\x7f\xc3\xa9", 3, 0xFFFFFFFFFFFFFFFFULL},
      {1, std::numeric_limits<std::uint64_t>::max(), nullptr, kOsaNoCore, 42},
      {7, 12345, "a long text of more than sixteen bytes with / and \x1f inside", -2, 1},
  };
  for (const Case& c : cases) {
    OSA_ServiceCntx context;
    context.contextHandle = c.handle;
    JsonPtr tree = OsaServiceParams(&context);
    JsonObjectAddInteger(tree.get(), "address", c.address);
    JsonObjectAddString(tree.get(), "expression", c.text);
    JsonObjectAddInteger(tree.get(), "valueType", std::int32_t{-11});
    OsaServiceAddTask(tree.get(), c.task);
    OsaServiceAddCore(tree.get(), c.core);
    std::string expected;
    JsonWrite(expected, tree.get());

    std::string* params = OsaParamsBegin(&context);
    ASSERT_NE(params, nullptr);
    OsaParamsInteger(params, "address", static_cast<std::int64_t>(c.address));
    OsaParamsString(params, "expression", c.text);
    OsaParamsInteger(params, "valueType", -11);
    OsaParamsTask(params, c.task);
    OsaParamsCore(params, c.core);
    params->append(" }");
    EXPECT_EQ(*params, expected);
  }
  EXPECT_EQ(OsaParamsBegin(nullptr), nullptr);
}

// A null record fails before anything is sent and uses up no id, as a null
// params tree does.
TEST_F(ServiceTest, TextParamsOfANullRecordSendNothing) {
  const std::int64_t nextId = OsaRpcService()->nextId;
  JsonPtr answer;
  const JsonValue* result = nullptr;
  EXPECT_FALSE(OsaServiceSendText("OSA_Service_MemoryRead", nullptr, &answer, &result));
  EXPECT_EQ(OSA_Service_ExpressionEval(nullptr, "x", nullptr, kOsaNoCore), 1u);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(OsaRpcService()->nextId, nextId);
}

}  // namespace
}  // namespace service_test
