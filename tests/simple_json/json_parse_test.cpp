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

// An input and what it gives: the exact error lines, or the written tree.
struct Row {
  std::string input;
  std::string expected;
};

class JsonParseRows : public testing::TestWithParam<Row> {};

TEST_P(JsonParseRows, GiveTheTreeOrTheExactErrorLines) {
  std::string error = "stale";
  const JsonPtr tree = JsonParse(GetParam().input, &error);
  if (GetParam().expected.rfind("Error: ", 0) == 0) {
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(error, GetParam().expected);
  } else {
    ASSERT_NE(tree, nullptr) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(Written(tree.get()), GetParam().expected);
  }
}

std::string RowName(const testing::TestParamInfo<Row>& info) {
  return "Row" + std::to_string(info.index);
}

// One row per message; the nested rows show how an inner failure cascades
// through each enclosing container.
INSTANTIATE_TEST_SUITE_P(
    Errors, JsonParseRows,
    testing::Values(
        Row{" \t\r\n", "Error: unexpected end of input, expected a value"},
        Row{"\f1", "Error: unexpected character '\f', expected a value, got: '\f1'"},
        Row{"\xff", "Error: unexpected character '\xff', expected a value, got: '\xff'"},
        Row{"tru", "Error: unable to parse Boolean, got 'tru'"},
        Row{"nul", "Error: unable to parse null, got 'nul'"},
        Row{"\"abc\\", "Error: unterminated string constant"},
        Row{"\"\\u12", "Error: unterminated string constant"},
        Row{"18446744073709551616", "Error: integer value out of range"},
        Row{"-18446744073709551616", "Error: integer value out of range"},
        Row{"-9223372036854775809", "Error: negative integer value out of range"},
        Row{"-", "Error: expected a digit after '-', got '-'"},
        Row{"[1,]", "Error: unexpected ']' after comma in array contents, got ']'"},
        Row{"[,1]", "Error: unexpected ',' at beginning of array contents, got ',1]'"},
        Row{"[1", "Error: unexpected end of input while parsing array"},
        Row{"[1\0]"s, "Error: unexpected end of input while parsing array"},
        Row{"[[[x]]]",
            "Error: unexpected character 'x', expected a value, got: 'x]]]'\n"
            "Error: unexpected 'x' after value in array contents, got 'x]]]'\n"
            "Error: unexpected 'x' after value in array contents, got 'x]]]'"},
        Row{"{\"a\" 1}", "Error: expected ':' after name in object contents, got '1}'"},
        Row{"{\"a\":}", "Error: unexpected '}' after colon in object contents, got '}'"},
        Row{"{1:2}", "Error: unexpected '1' at beginning of object contents, got '1:2}'"},
        Row{"{\"a\":1,}", "Error: unexpected '}' after comma in object contents, got '}'"},
        Row{"{\"a\":1", "Error: unexpected end of input while parsing object"},
        Row{"{\"a\":-}",
            "Error: expected a digit after '-', got '-}'\n"
            "Error: failed to set 'a' property in object\n"
            "Error: unexpected '-' after value in object contents, got '-}'"},
        Row{"{\"a\":[1 2], \"b\":3}",
            "Error: unexpected '2' after value in array contents, got '2], \"b\":3}'\n"
            "Error: unexpected '2' after value in object contents, got '2], \"b\":3}'"},
        // An unterminated member name is never used as a name: the object
        // stops there and the enclosing array carries on after the quote.
        Row{"{\"abc", "Error: unterminated string constant"},
        Row{"[{\"abc",
            "Error: unterminated string constant\n"
            "Error: unexpected 'a' after value in array contents, got 'abc'"}),
    RowName);

// Integers wrap to 64 bits up to 2^64-1; a fraction stops the number, and
// whatever follows the first value is ignored.
INSTANTIATE_TEST_SUITE_P(
    Trees, JsonParseRows,
    testing::Values(
        Row{"007", "7"}, Row{"-0", "0"}, Row{"12.5", "12"},
        Row{"-9223372036854775808", "-9223372036854775808"},
        Row{"9223372036854775807", "9223372036854775807"},
        Row{"9223372036854775808", "-9223372036854775808"},
        Row{"00000000000000000000000018446744073709551615", "-1"}, Row{"trueish", "true"},
        Row{"[1]\0garbage"s, "[ 1 ]"}, Row{"  {\"a\" : 1}  trailing", "{ \"a\" : 1 }"},
        Row{"[]", "[  ]"}, Row{"[1,[2,[]],{\"a\":{}}]", "[ 1, [ 2, [  ] ], { \"a\" : {  } } ]"},
        Row{" { \"a\" \t: 1 ,\"b\" :[ false , null ] } ", "{ \"a\" : 1, \"b\" : [ false, null ] }"},
        // A repeated name keeps its first position and its last value;
        // names alike in length and first byte stay apart.
        Row{"{\"k\":1,\"j\":0,\"k\":2}", "{ \"k\" : 2, \"j\" : 0 }"},
        Row{"{\"ab\":1,\"ac\":2,\"\":3,\"ab\":4,\"\":5}", "{ \"ab\" : 4, \"ac\" : 2, \"\" : 5 }"},
        // Strings decoded in place leave the text after them intact.
        Row{R"({"n\u0041\"":"v\\","k":["\ty",1]})", R"({ "nA\"" : "v\\", "k" : [ "\ty", 1 ] })"}),
    RowName);

// Objects spaced as on the wire, where " : " and ", \"" are each taken in
// one step, and texts that differ from that spacing in one byte. Up to four
// members are laid out as they come and a fifth moves them aside; a repeated
// name keeps its first place either way.
INSTANTIATE_TEST_SUITE_P(
    WireSpacing, JsonParseRows,
    testing::Values(
        Row{R"({ "a" : 1, "b" : "x", "c" : { "d" : [ 1 ] }, "e" : true })",
            R"({ "a" : 1, "b" : "x", "c" : { "d" : [ 1 ] }, "e" : true })"},
        Row{R"({ "a" : 1, "b" : 2, "c" : 3, "d" : 4, "e" : 5, "a" : 6 })",
            R"({ "a" : 6, "b" : 2, "c" : 3, "d" : 4, "e" : 5 })"},
        Row{R"({ "a" : 1, "b" : 2, "b" : 3, "a" : 4 })", R"({ "a" : 4, "b" : 3 })"},
        Row{"{ \"a\" :  1 ,\t\"b\" :\n\"x\" }", R"({ "a" : 1, "b" : "x" })"},
        Row{R"({ "a" : })", "Error: unexpected '}' after colon in object contents, got '}'"},
        Row{R"({ "a" : , "b" : 1 })",
            R"(Error: unexpected ',' after colon in object contents, got ', "b" : 1 }')"},
        Row{R"({ "a" : )", "Error: unexpected end of input while parsing object"},
        Row{R"({ "a" : 1, ")", "Error: unterminated string constant"},
        Row{R"({ "a" : 1, , "b" : 2 })",
            R"(Error: unexpected ',' after comma in object contents, got ', "b" : 2 }')"},
        Row{R"({ "a" : 1, "b" : x })",
            "Error: unexpected character 'x', expected a value, got: 'x }'\n"
            "Error: failed to set 'b' property in object\n"
            "Error: unexpected 'x' after value in object contents, got 'x }'"}),
    RowName);

// \u keeps the low byte of four hex digits; any other escaped character
// stands for itself. The writer shows bytes outside ASCII as \u00XX.
INSTANTIATE_TEST_SUITE_P(Strings, JsonParseRows,
                         testing::Values(Row{R"("a\u00e9b")", R"("a\u00e9b")"},
                                         Row{R"("x\u12")", R"("xu12")"},
                                         Row{R"("p\u0000q")", R"("p")"},
                                         Row{R"("\u0141\uabCD")", R"("A\u00cd")"},
                                         Row{R"("\uzzzz")", R"("uzzzz")"},
                                         Row{R"("\b\f\n\r\t\"\\\/\q")", R"("\b\f\n\r\t\"\\/q")"},
                                         Row{"\"a\x01\x7f\xc3\"", R"("a\u0001\u007f\u00c3")"}),
                         RowName);

// A quoted rest of the input longer than 256 bytes is cut to 256 and "..."
// added, backing off so that no UTF-8 sequence is split; a cascade cuts it in
// every line. A rest of exactly 256 bytes is quoted whole.
const std::string k255(255, 'a');
const std::string kCutX = "'x" + k255 + "...'";
const std::string kCutXInArray =
    "Error: unexpected 'x' after value in array contents, got " + kCutX;
INSTANTIATE_TEST_SUITE_P(
    LongRests, JsonParseRows,
    testing::Values(
        Row{"\f" + k255,
            "Error: unexpected character '\f', expected a value, got: '\f" + k255 + "'"},
        Row{"\f" + k255 + "b",
            "Error: unexpected character '\f', expected a value, got: '\f" + k255 + "...'"},
        Row{"\f" + k255.substr(1) + "\xc3\xa9",
            "Error: unexpected character '\f', expected a value, got: '\f" + k255.substr(1) +
                "...'"},
        Row{"\f" + k255.substr(4) + "\x80\x80\x80\x80\x80",
            "Error: unexpected character '\f', expected a value, got: '\f" + k255.substr(4) +
                "\x80\x80\x80\x80...'"},
        Row{"{\"a\" " + k255 + "}}",
            "Error: expected ':' after name in object contents, got '" + k255 + "}...'"},
        Row{"[[x" + k255 + "]]", "Error: unexpected character 'x', expected a value, got: " +
                                     kCutX + "\n" + kCutXInArray}),
    RowName);

std::string Nested(int depth, std::string_view inner) {
  std::string text;
  for (int i = 0; i < depth; ++i)
    text += (i % 2 == 0) ? "[" : "{\"k\":";
  text += inner;
  for (int i = depth - 1; i >= 0; --i)
    text += (i % 2 == 0) ? "]" : "}";
  return text;
}

// The limit holds, one more level is one line, and hostile nesting neither
// overflows the stack nor floods the error with one line per level.
TEST(JsonParseDepth, AcceptsTheLimitAndRefusesDeeperWithOneLine) {
  std::string error;
  ASSERT_NE(JsonParse(Nested(kJsonMaxDepth, "1"), &error), nullptr) << error;
  std::string objects;
  for (int i = 0; i < 20000; ++i)
    objects += "{\"a\":";
  for (const std::string& deep :
       {Nested(kJsonMaxDepth + 1, "1"), std::string(64 * 1024, '['), objects}) {
    EXPECT_EQ(JsonParse(deep, nullptr), nullptr);  // the error text is optional
    EXPECT_EQ(JsonParse(deep, &error), nullptr);
    EXPECT_EQ(error, "Error: containers nested deeper than 512 levels");
  }
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
      EXPECT_NE(JsonParse(Written(tree.get()), nullptr), nullptr) << entry.path().filename();
    }
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
