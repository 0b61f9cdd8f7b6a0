// Parser: exact error texts and their cascades, integer limits, escapes,
// the nesting bound, and a sweep of a public corpus of valid and broken texts.
#include "simple_json/json_parse.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "simple_json/json_write.h"

namespace {

using namespace std::string_literals;

std::string Written(const JsonValue* value) {
  std::string out;
  return JsonWrite(out, value);
}

struct ErrorRow {
  std::string input;
  std::string error;
};

class JsonParseErrors : public testing::TestWithParam<ErrorRow> {};

TEST_P(JsonParseErrors, GiveNullAndTheExactLines) {
  std::string error = "stale";
  const JsonPtr tree = JsonParse(GetParam().input, &error);
  EXPECT_EQ(tree, nullptr);
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonParseErrors,
    testing::Values(
        ErrorRow{"", "Error: unexpected end of input, expected a value"},
        ErrorRow{" \t\r\n", "Error: unexpected end of input, expected a value"},
        ErrorRow{"\f1", "Error: unexpected character '\f', expected a value, got: '\f1'"},
        ErrorRow{"+1", "Error: unexpected character '+', expected a value, got: '+1'"},
        ErrorRow{"\xff", "Error: unexpected character '\xff', expected a value, got: '\xff'"},
        ErrorRow{"tru", "Error: unable to parse Boolean, got 'tru'"},
        ErrorRow{"fals e", "Error: unable to parse Boolean, got 'fals e'"},
        ErrorRow{"nul", "Error: unable to parse null, got 'nul'"},
        ErrorRow{"\"abc", "Error: unterminated string constant"},
        ErrorRow{"\"abc\\", "Error: unterminated string constant"},
        ErrorRow{"\"\\u12", "Error: unterminated string constant"},
        ErrorRow{"18446744073709551616", "Error: integer value out of range"},
        ErrorRow{"99999999999999999999", "Error: integer value out of range"},
        ErrorRow{"-18446744073709551616", "Error: integer value out of range"},
        ErrorRow{"-9223372036854775809", "Error: negative integer value out of range"},
        ErrorRow{"[99999999999999999999]", "Error: integer value out of range"},
        // A minus sign without digits is refused rather than read as a number.
        ErrorRow{"-", "Error: expected a digit after '-', got '-'"},
        ErrorRow{"[-x]", "Error: expected a digit after '-', got '-x]'"}),
    [](const testing::TestParamInfo<ErrorRow>& info) {
      return "Row" + std::to_string(info.index);
    });

INSTANTIATE_TEST_SUITE_P(
    Arrays, JsonParseErrors,
    testing::Values(
        ErrorRow{"[1,]", "Error: unexpected ']' after comma in array contents, got ']'"},
        ErrorRow{"[,1]", "Error: unexpected ',' at beginning of array contents, got ',1]'"},
        ErrorRow{"[1,,2]", "Error: unexpected ',' after comma in array contents, got ',2]'"},
        ErrorRow{"[1", "Error: unexpected end of input while parsing array"},
        ErrorRow{"[ ", "Error: unexpected end of input while parsing array"},
        ErrorRow{"[1}", "Error: unexpected '}' after value in array contents, got '}'"},
        ErrorRow{"[[1 2]]",
                 "Error: unexpected '2' after value in array contents, got '2]]'\n"
                 "Error: unexpected '2' after value in array contents, got '2]]'"},
        ErrorRow{"[[[x]]]",
                 "Error: unexpected character 'x', expected a value, got: 'x]]]'\n"
                 "Error: unexpected 'x' after value in array contents, got 'x]]]'\n"
                 "Error: unexpected 'x' after value in array contents, got 'x]]]'"},
        ErrorRow{"[1\0]"s, "Error: unexpected end of input while parsing array"}),
    [](const testing::TestParamInfo<ErrorRow>& info) {
      return "Row" + std::to_string(info.index);
    });

INSTANTIATE_TEST_SUITE_P(
    Objects, JsonParseErrors,
    testing::Values(
        ErrorRow{"{\"a\" 1}", "Error: expected ':' after name in object contents, got '1}'"},
        ErrorRow{"{\"a\":}", "Error: unexpected '}' after colon in object contents, got '}'"},
        ErrorRow{"{\"a\":,}", "Error: unexpected ',' after colon in object contents, got ',}'"},
        ErrorRow{"{\"a\":x}",
                 "Error: unexpected character 'x', expected a value, got: 'x}'\n"
                 "Error: failed to set 'a' property in object\n"
                 "Error: unexpected 'x' after value in object contents, got 'x}'"},
        ErrorRow{"{\"a\":-}",
                 "Error: expected a digit after '-', got '-}'\n"
                 "Error: failed to set 'a' property in object\n"
                 "Error: unexpected '-' after value in object contents, got '-}'"},
        ErrorRow{"{1:2}", "Error: unexpected '1' at beginning of object contents, got '1:2}'"},
        ErrorRow{"{\"a\":1,}", "Error: unexpected '}' after comma in object contents, got '}'"},
        ErrorRow{"{\"a\":1 \"b\":2}",
                 "Error: unexpected '\"' after value in object contents, got '\"b\":2}'"},
        ErrorRow{"{\"a\":1", "Error: unexpected end of input while parsing object"},
        ErrorRow{"{\"a\"", "Error: unexpected end of input while parsing object"},
        ErrorRow{"{\"a\":[1 2], \"b\":3}",
                 "Error: unexpected '2' after value in array contents, got '2], \"b\":3}'\n"
                 "Error: unexpected '2' after value in object contents, got '2], \"b\":3}'"},
        // An unterminated member name is never used as a name: the object
        // stops there and the enclosing array carries on after the quote.
        ErrorRow{"{\"abc", "Error: unterminated string constant"},
        ErrorRow{"{\"a\":1,\"b", "Error: unterminated string constant"},
        ErrorRow{"[{\"abc",
                 "Error: unterminated string constant\n"
                 "Error: unexpected 'a' after value in array contents, got 'abc'"}),
    [](const testing::TestParamInfo<ErrorRow>& info) {
      return "Row" + std::to_string(info.index);
    });

TEST(JsonParse, IgnoresWhatFollowsTheFirstValue) {
  std::string error = "stale";
  const JsonPtr tree = JsonParse("  {\"a\" : 1}  trailing", &error);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(error, "");
  std::int64_t a = 0;
  EXPECT_TRUE(JsonObjectGetInteger(tree.get(), "a", &a));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(Written(JsonParse("1 2", nullptr).get()), "1");
  EXPECT_EQ(Written(JsonParse("[1]\0garbage"s, nullptr).get()), "[ 1 ]");
}

struct ValueRow {
  std::string input;
  std::string written;
};

class JsonParseValues : public testing::TestWithParam<ValueRow> {};

TEST_P(JsonParseValues, ParseToTheTreeThatWritesAs) {
  std::string error;
  const JsonPtr tree = JsonParse(GetParam().input, &error);
  ASSERT_NE(tree, nullptr) << error;
  EXPECT_EQ(Written(tree.get()), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Scalars, JsonParseValues,
    testing::Values(ValueRow{"0", "0"}, ValueRow{"007", "7"}, ValueRow{"-0", "0"},
                    ValueRow{"12.5", "12"}, ValueRow{"1e5", "1"},
                    ValueRow{"-9223372036854775808", "-9223372036854775808"},
                    ValueRow{"9223372036854775807", "9223372036854775807"},
                    ValueRow{"9223372036854775808", "-9223372036854775808"},
                    ValueRow{"18446744073709551615", "-1"},
                    ValueRow{"00000000000000000000000018446744073709551615", "-1"},
                    ValueRow{"trueish", "true"}, ValueRow{"false", "false"},
                    ValueRow{"null", "null"}, ValueRow{"\t\r\n true", "true"}),
    [](const testing::TestParamInfo<ValueRow>& info) {
      return "Row" + std::to_string(info.index);
    });

INSTANTIATE_TEST_SUITE_P(
    Containers, JsonParseValues,
    testing::Values(ValueRow{"[]", "[  ]"}, ValueRow{"{}", "{  }"},
                    ValueRow{"[1,[2,[]],{\"a\":{}}]", "[ 1, [ 2, [  ] ], { \"a\" : {  } } ]"},
                    ValueRow{" { \"a\" \t: 1 ,\"b\" :[ true , null ] } ",
                             "{ \"a\" : 1, \"b\" : [ true, null ] }"},
                    // A repeated name keeps its first position and its last value.
                    ValueRow{"{\"k\":1,\"j\":0,\"k\":2}", "{ \"k\" : 2, \"j\" : 0 }"}),
    [](const testing::TestParamInfo<ValueRow>& info) {
      return "Row" + std::to_string(info.index);
    });

struct EscapeRow {
  std::string input;
  std::string bytes;
};

class JsonParseEscapes : public testing::TestWithParam<EscapeRow> {};

TEST_P(JsonParseEscapes, DecodeToTheseBytes) {
  std::string error;
  const JsonPtr tree = JsonParse(GetParam().input, &error);
  ASSERT_NE(tree, nullptr) << error;
  ASSERT_EQ(tree->kind, JsonKind::JsonString);
  EXPECT_EQ(tree->text, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, JsonParseEscapes,
    testing::Values(EscapeRow{R"("a\u00e9b")",
                              "a\xe9"
                              "b"},
                    EscapeRow{R"("x\u12")", "xu12"}, EscapeRow{R"("p\u0000q")", "p"},
                    EscapeRow{R"("\u0041\u0141")", "AA"},
                    EscapeRow{R"("\uABCD\uabcd")", "\xcd\xcd"}, EscapeRow{R"("\uzzzz")", "uzzzz"},
                    EscapeRow{R"("\b\f\n\r\t\"\\\/\q")", "\b\f\n\r\t\"\\/q"},
                    EscapeRow{"\"a\nb\x01\x7f\xc3\xa9\"", "a\nb\x01\x7f\xc3\xa9"},
                    EscapeRow{R"("")", ""}),
    [](const testing::TestParamInfo<EscapeRow>& info) {
      return "Row" + std::to_string(info.index);
    });

std::string Nested(int depth, std::string_view inner) {
  std::string text;
  for (int i = 0; i < depth; ++i)
    text += (i % 2 == 0) ? "[" : "{\"k\":";
  text += inner;
  for (int i = depth - 1; i >= 0; --i)
    text += (i % 2 == 0) ? "]" : "}";
  return text;
}

TEST(JsonParseDepth, AcceptsTheLimitAndRefusesOneMoreWithOneLine) {
  std::string error;
  const JsonPtr deepest = JsonParse(Nested(kJsonMaxDepth, "1"), &error);
  ASSERT_NE(deepest, nullptr) << error;
  EXPECT_EQ(JsonParse(Nested(kJsonMaxDepth + 1, "1"), &error), nullptr);
  EXPECT_EQ(error, "Error: containers nested deeper than 512 levels");
}

TEST(JsonParseDepth, HostileNestingNeitherOverflowsNorFloods) {
  std::string error;
  EXPECT_EQ(JsonParse(std::string(64 * 1024, '['), &error), nullptr);
  EXPECT_EQ(error, "Error: containers nested deeper than 512 levels");
  std::string objects;
  for (int i = 0; i < 20000; ++i)
    objects += "{\"a\":";
  EXPECT_EQ(JsonParse(objects, &error), nullptr);
  EXPECT_EQ(error, "Error: containers nested deeper than 512 levels");
}

TEST(JsonParse, ErrorArgumentIsOptional) {
  EXPECT_EQ(JsonParse("{\"a\":x}", nullptr), nullptr);
  EXPECT_NE(JsonParse("[1]", nullptr), nullptr);
}

// Every text of the public parsing corpus, valid or broken, must come back as
// a tree or as a non-empty error, never as a crash or as both.
TEST(JsonParseCorpus, EveryFileGivesATreeOrAnError) {
  const std::filesystem::path folder =
      OSA_SOURCE_DIR "/../shared/corpora/JSONTestSuite/test_parsing";
  std::error_code code;
  if (!std::filesystem::is_directory(folder, code)) {
    GTEST_SKIP() << "corpus folder absent: " << folder;
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    const JsonPtr tree = JsonParse(text, &error);
    EXPECT_NE(tree == nullptr, error.empty()) << entry.path().filename();
    if (tree != nullptr) {
      std::string again;
      EXPECT_NE(JsonParse(Written(tree.get()), &again), nullptr) << entry.path().filename();
    }
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
