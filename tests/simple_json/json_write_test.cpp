// Writer: the fixed wire spacing, the escape of every byte value, the
// indented form, and byte strings surviving a write and a parse.
#include "simple_json/json_write.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "simple_json/json_parse.h"

namespace {

std::string Written(const JsonValue* value) {
  std::string out;
  return JsonWrite(out, value);
}

std::string Quoted(std::string_view text) {
  std::string out;
  return JsonQuote(out, text);
}

TEST(JsonWrite, FixedWireSpacingAndScalars) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddInteger(object.get(), "a", std::int64_t{INT64_MIN});
  JsonObjectAddString(object.get(), "b", "x");
  JsonObjectAdd(object.get(), "c", JsonNewArray());
  JsonPtr array = JsonNewArray();
  JsonArrayAppend(array.get(), JsonNewBoolean(0));
  JsonArrayAppend(array.get(), JsonNewNull());
  JsonObjectAdd(object.get(), "d", std::move(array));
  EXPECT_EQ(Written(object.get()),
            R"({ "a" : -9223372036854775808, "b" : "x", "c" : [  ], "d" : [ false, null ] })");
  EXPECT_EQ(Written(JsonNewObject().get()), "{  }");
  std::string out;
  EXPECT_EQ(JsonQuote(out, static_cast<const char*>(nullptr)), "\"(null)\"");
  JsonPtr odd = JsonNewInteger(5);
  odd->kind = static_cast<JsonKind>(9);
  EXPECT_EQ(Written(odd.get()), "null");
}

// The short escapes and plain runs exactly; every other byte outside
// printable ASCII as \u00XX in lower-case hex.
TEST(JsonQuote, EveryByteValueHasItsDocumentedForm) {
  EXPECT_EQ(Quoted("\b\t\n\f\r\"\\"), R"("\b\t\n\f\r\"\\")");
  EXPECT_EQ(Quoted("plain a/b \"then\" more"), R"("plain a/b \"then\" more")");
  for (int byte = 0; byte < 256; ++byte) {
    const std::string quoted = Quoted(std::string(1, static_cast<char>(byte)));
    const bool plain = byte >= 0x20 && byte <= 0x7E && byte != '"' && byte != '\\';
    const bool shortEscape = byte == 0x08 || byte == 0x09 || byte == 0x0A || byte == 0x0C ||
                             byte == 0x0D || byte == '"' || byte == '\\';
    if (plain) {
      EXPECT_EQ(quoted, "\"" + std::string(1, static_cast<char>(byte)) + "\"") << byte;
    } else if (shortEscape) {
      EXPECT_EQ(quoted.size(), 4u) << byte;
    } else {
      char expected[16];
      std::snprintf(expected, sizeof expected, "\"\\u%04x\"", static_cast<unsigned>(byte));
      EXPECT_EQ(quoted, expected) << byte;
    }
  }
}

// Short texts are tested and copied in words loaded from both ends: a byte
// to escape at any place of a text of any length is seen, in a member name,
// a string value and a text quoted on its own (the node copies are exactly
// sized, so the address sanitizer catches a read past them).
TEST(JsonQuote, EscapeBytesAreSeenAtEveryPlaceOfShortTexts) {
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      for (const char stop : {'"', '\\', '\x1f', '\x7f', '\x80', 'z'}) {
        std::string text(length, 'q');
        if (at < length) text[at] = stop;
        // Each byte's own form, as the test above pins it, without its quotes.
        std::string expected = "\"";
        for (const char byte : text) {
          const std::string alone = Quoted(std::string(1, byte));
          expected += alone.substr(1, alone.size() - 2);
        }
        expected += "\"";
        ASSERT_EQ(Quoted(text), expected) << length << " " << at;
        JsonPtr object = JsonNewObject();
        JsonObjectAddString(object.get(), text, text);
        ASSERT_EQ(Written(object.get()), "{ " + expected + " : " + expected + " }");
      }
    }
  }
}

// Every byte value but NUL (which ends a stored string) must come back
// unchanged after a write and a parse, alone and inside plain runs.
TEST(JsonRoundTrip, AllByteValuesSurviveWriteAndParse) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) {
    all += static_cast<char>(byte);
    all += "run";
  }
  JsonPtr object = JsonNewObject();
  JsonObjectAddString(object.get(), all, all);
  const std::string text = Written(object.get());
  std::string error;
  const JsonPtr back = JsonParse(text, &error);
  ASSERT_NE(back, nullptr) << error;
  ASSERT_EQ(back->count(), 1u);
  EXPECT_EQ(back->members[0].name, all);
  EXPECT_EQ(back->members[0].value->text, all);
  EXPECT_EQ(Written(back.get()), text);
  // NUL is escaped too, and a parsed NUL ends the stored text.
  EXPECT_EQ(JsonParse(Quoted(std::string("a\0b", 3)), nullptr)->text, "a");
}

TEST(JsonWriteIndented, ContainersSpanLinesAtLevelTimesWidthAndWidthZeroIsTheWireForm) {
  const JsonPtr tree = JsonParse(R"({"a":[1,2],"b":"x"})", nullptr);
  ASSERT_NE(tree, nullptr);
  std::string out;
  JsonWriteIndented(out, tree.get(), 2, 0);
  EXPECT_EQ(out,
            "{ \n"
            "  \"a\" : [ \n"
            "    1, \n"
            "    2\n"
            "  ], \n"
            "  \"b\" : \"x\"\n"
            "}");
  out.clear();
  EXPECT_EQ(JsonWriteIndented(out, tree.get(), 0, 0), Written(tree.get()));
  out.clear();
  EXPECT_EQ(JsonWriteIndented(out, JsonNewInteger(3).get(), 4, 1), "3");
}

}  // namespace
