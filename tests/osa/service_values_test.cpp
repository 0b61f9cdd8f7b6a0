// Typed results: expression output decoded and stored in the width of the
// caller's kind, and macro texts converted with automatic base.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>

#include "osa/service_requests.h"
#include "tests/osa/service_script.h"

namespace service_test {
namespace {

class ValueServiceTest : public ServiceTest {
 protected:
  std::uint32_t Eval(const std::string& output, OsaValue* value) {
    Answer(R"("output" : )" + output + R"(, "return" : 0)");
    return OSA_Service_ExpressionEval(&context, "x", value, kOsaNoCore);
  }
  std::uint32_t Macro(const std::string& text, OsaValue* value) {
    Answer(R"("value" : ")" + text + R"(", "return" : 0)");
    return OSA_Service_MacroGetValue(&context, "M", 0, value, kOsaNoCore);
  }
};

// Numbers are stored in the width of the caller's kind; output of the wrong
// kind fails and leaves the value, while an unconvertible float text is no
// failure but leaves it too.
TEST_F(ValueServiceTest, ExpressionOutputFollowsTheCallersKind) {
  struct Case {
    OsaValueKind kind;
    const char* output;
    std::uint32_t status;
    std::uint64_t payload;
  };
  const Case cases[] = {
      {OsaValueKind::kUInt32, "4294967301", 0, 5},
      {OsaValueKind::kInt8, "-1", 0, 0xFF},
      {OsaValueKind::kUInt16, "65537", 0, 1},
      {OsaValueKind::kInt16, "-65535", 0, 1},
      {OsaValueKind::kInt32, "-1", 0, 0xFFFFFFFF},
      {OsaValueKind::kInt64, "-1", 0, ~0ull},
      {OsaValueKind::kAddress, "-2", 0, 0xFFFFFFFFFFFFFFFEull},
      {OsaValueKind::kFloat, R"("1.5")", 0, std::bit_cast<std::uint32_t>(1.5f)},
      {OsaValueKind::kDouble, R"("-2.25e1")", 0, std::bit_cast<std::uint64_t>(-22.5)},
      {OsaValueKind::kDouble, R"("%n%s%s")", 0, 7},
      {OsaValueKind::kText, "4", 1, 7},
      {OsaValueKind::kUInt32, R"("4")", 1, 7},
      {OsaValueKind::kFloat, R"("")", 1, 7},
      {OsaValueKind::kDouble, "4", 1, 7},
      {OsaValueKind::kInt64, "null", 1, 7},
      {static_cast<OsaValueKind>(12), "4", 1, 7},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.output);
    OsaValue value = MakeValue(row.kind, 7);
    EXPECT_EQ(Eval(row.output, &value), row.status);
    EXPECT_EQ(value.payload, row.payload);
  }
  OsaValue value = MakeValue(OsaValueKind::kUInt32, 7);
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_ExpressionEval(&context, "x", &value, kOsaNoCore), 1u);
}

// A status that is missing or no integer fails, one that is wider is cut to
// 32 bits; the output is decoded either way.
TEST_F(ValueServiceTest, ExpressionStatusIsReadBesideTheOutput) {
  struct Case {
    const char* answer;
    std::uint32_t status;
    std::uint64_t payload;
  };
  const Case cases[] = {
      {R"("output" : 3)", 1, 3},
      {R"("return" : "0", "output" : 3)", 1, 3},
      {R"("return" : 4294967298, "output" : 3)", 2, 3},
      {R"("output" : "3", "return" : 0)", 1, 7},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.answer);
    Answer(row.answer);
    OsaValue value = MakeValue(OsaValueKind::kUInt32, 7);
    EXPECT_EQ(OSA_Service_ExpressionEval(&context, "x", &value, kOsaNoCore), row.status);
    EXPECT_EQ(value.payload, row.payload);
  }
}

TEST_F(ValueServiceTest, ExpressionTextsAndPlaces) {
  OsaValue value = MakeValue(OsaValueKind::kText);
  EXPECT_EQ(Eval(R"("0x8000 <main>")", &value), 0u);
  EXPECT_EQ(value.text, "0x8000 <main>");
  EXPECT_EQ(Eval(R"("not read")", nullptr), 0u);
}

TEST_F(ValueServiceTest, MacroTextsConvertWithAutomaticBase) {
  struct Case {
    const char* text;
    OsaValueKind kind;
    std::uint64_t payload;
  };
  const Case cases[] = {
      {"0x1F", OsaValueKind::kUInt32, 31},
      {"017", OsaValueKind::kUInt32, 15},
      {"  42", OsaValueKind::kUInt32, 42},
      {"-1", OsaValueKind::kUInt64, ~0ull},
      {"-1", OsaValueKind::kUInt16, 0xFFFF},
      {"99999999999999999999999", OsaValueKind::kUInt64, ~0ull},
      {"12abc", OsaValueKind::kUInt32, 12},
      {"none", OsaValueKind::kUInt32, 0},
      {"0x100000001", OsaValueKind::kUInt32, 1},
      {"3", OsaValueKind::kDouble, std::bit_cast<std::uint64_t>(3.0)},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.text);
    OsaValue value = MakeValue(row.kind, 0xDEAD);
    EXPECT_EQ(Macro(row.text, &value), 0u);
    EXPECT_EQ(value.payload, row.payload);
  }
}

TEST_F(ValueServiceTest, MacroTextKindAndFailures) {
  OsaValue text = MakeValue(OsaValueKind::kText);
  EXPECT_EQ(Macro("(1u << 5)", &text), 0u);
  EXPECT_EQ(text.text, "(1u << 5)");
  OsaValue value = MakeValue(OsaValueKind::kUInt32, 9);
  Answer(R"("value" : "5", "return" : 4)");
  EXPECT_EQ(OSA_Service_MacroGetValue(&context, "M", 0, &value, kOsaNoCore), 4u);
  EXPECT_EQ(value.payload, 9u);
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_MacroGetValue(&context, "M", 0, &value, kOsaNoCore), 1u);
  EXPECT_EQ(value.payload, 9u);
  // A kind that cannot take a number is not reported as success.
  OsaValue odd = MakeValue(static_cast<OsaValueKind>(13), 9);
  EXPECT_EQ(Macro("5", &odd), 1u);
  EXPECT_EQ(odd.payload, 9u);
}

}  // namespace
}  // namespace service_test
