// Document model: ownership and growth of containers, member lookup and
// replacement, and the typed families that never convert between kinds.
#include "simple_json/json_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "simple_json/json_write.h"

namespace {

std::string Text(const JsonValue* value) {
  std::string out;
  return JsonWrite(out, value);
}

TEST(JsonGrowth, CapacityDoublesBeforeInsertionIntoAFullContainer) {
  JsonPtr array = JsonNewArray();
  JsonPtr object = JsonNewObject();
  EXPECT_EQ(array->capacity, 4u);
  EXPECT_EQ(object->capacity, 4u);
  const std::uint32_t expected[] = {4, 4, 4, 4, 8, 8, 8, 8, 16};
  for (std::uint32_t i = 0; i < 9; ++i) {
    ASSERT_TRUE(JsonArrayAppend(array.get(), JsonNewInteger(i)));
    ASSERT_TRUE(JsonObjectAdd(object.get(), std::to_string(i), JsonNewInteger(i)));
    EXPECT_EQ(array->capacity, expected[i]) << "after append " << i + 1;
    EXPECT_EQ(object->capacity, expected[i]) << "after add " << i + 1;
    EXPECT_GE(array->elements.capacity(), array->capacity);
  }
  EXPECT_EQ(array->count(), 9u);
  EXPECT_EQ(Text(array.get()), "[ 0, 1, 2, 3, 4, 5, 6, 7, 8 ]");
}

TEST(JsonOwnership, RefusedValuesAreFreedAndNothingChanges) {
  JsonPtr number = JsonNewInteger(1);
  EXPECT_FALSE(JsonArrayAppend(nullptr, JsonNewInteger(1)));
  EXPECT_FALSE(JsonArrayAppend(number.get(), JsonNewString("x")));
  EXPECT_FALSE(JsonObjectAdd(number.get(), "a", JsonNewNull()));
  EXPECT_FALSE(JsonObjectSet(nullptr, "a", JsonNewNull()));
  JsonPtr object = JsonNewObject();
  EXPECT_FALSE(JsonObjectAdd(object.get(), "a", nullptr));
  EXPECT_FALSE(JsonArrayAppend(JsonNewArray().get(), nullptr));
  EXPECT_EQ(object->count(), 0u);
  EXPECT_EQ(number->kind, JsonKind::JsonInteger);
  JsonFree(nullptr);
  JsonFree(std::move(object));
}

TEST(JsonOwnership, RemoveHandsTheValueOverOrFreesIt) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddInteger(object.get(), "a", std::int64_t{1});
  JsonObjectAddString(object.get(), "b", "two");
  JsonObjectAddInteger(object.get(), "c", std::int64_t{3});
  JsonPtr taken;
  ASSERT_TRUE(JsonObjectRemove(object.get(), "b", &taken));
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->text, "two");
  EXPECT_EQ(Text(object.get()), "{ \"a\" : 1, \"c\" : 3 }");
  EXPECT_FALSE(JsonObjectRemove(object.get(), "b"));
  EXPECT_FALSE(JsonObjectRemove(taken.get(), "a"));
  ASSERT_TRUE(JsonObjectRemove(object.get(), "a"));
  ASSERT_TRUE(JsonObjectRemove(object.get(), "c"));
  EXPECT_EQ(Text(object.get()), "{  }");
}

TEST(JsonObjects, AddKeepsDuplicatesAndLookupsFindTheFirst) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddInteger(object.get(), "n", std::int64_t{1});
  JsonObjectAddInteger(object.get(), "n", std::int64_t{2});
  std::int64_t value = 0;
  ASSERT_TRUE(JsonObjectGetInteger(object.get(), "n", &value));
  EXPECT_EQ(value, 1);
  EXPECT_EQ(JsonObjectIndexOf(object.get(), "n"), 0);
  EXPECT_EQ(JsonObjectIndexOf(object.get(), "N"), -1);
  EXPECT_EQ(Text(object.get()), "{ \"n\" : 1, \"n\" : 2 }");
}

TEST(JsonObjects, SetReplacesInPlaceOrAppends) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddInteger(object.get(), "a", std::int64_t{1});
  JsonObjectAddInteger(object.get(), "b", std::int64_t{2});
  ASSERT_TRUE(JsonObjectSet(object.get(), "a", JsonNewString("x")));
  ASSERT_TRUE(JsonObjectSet(object.get(), "c", JsonNewNull()));
  EXPECT_EQ(object->count(), 3u);
  EXPECT_EQ(Text(object.get()), "{ \"a\" : \"x\", \"b\" : 2, \"c\" : null }");
}

TEST(JsonGetters, NeverConvertBetweenKindsAndLeaveOutputUntouched) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddBoolean(object.get(), "flag", 1);
  JsonObjectAddString(object.get(), "text", "5");
  JsonObjectAddNull(object.get(), "none");
  JsonObjectAddInteger(object.get(), "number", std::int32_t{5});
  for (const char* name : {"flag", "text", "none", "missing"}) {
    std::int64_t wide = 77;
    std::uint8_t narrow = 77;
    EXPECT_FALSE(JsonObjectGetInteger(object.get(), name, &wide)) << name;
    EXPECT_FALSE(JsonObjectGetInteger(object.get(), name, &narrow)) << name;
    EXPECT_EQ(wide, 77);
    EXPECT_EQ(narrow, 77);
  }
  for (const char* name : {"number", "text", "none"}) {
    std::uint8_t flag = 9;
    EXPECT_FALSE(JsonObjectGetBoolean(object.get(), name, &flag)) << name;
    EXPECT_EQ(flag, 9);
  }
  for (const char* name : {"number", "flag", "none"}) {
    const char* text = "untouched";
    EXPECT_FALSE(JsonObjectGetString(object.get(), name, &text)) << name;
    EXPECT_STREQ(text, "untouched");
  }
  EXPECT_FALSE(JsonObjectGetInteger(object.get(), "number", static_cast<std::int64_t*>(nullptr)));
  EXPECT_FALSE(JsonObjectGetInteger(nullptr, "number", static_cast<std::int64_t*>(nullptr)));
}

TEST(JsonGetters, NarrowFormsKeepTheLowBits) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddInteger(object.get(), "v", std::int64_t{(std::int64_t{1} << 32) + 1});
  JsonObjectAddInteger(object.get(), "minus", std::int64_t{-1});
  std::uint32_t u32 = 0;
  std::int16_t i16 = 0;
  std::uint8_t u8 = 0;
  std::uint64_t u64 = 0;
  ASSERT_TRUE(JsonObjectGetInteger(object.get(), "v", &u32));
  ASSERT_TRUE(JsonObjectGetInteger(object.get(), "v", &i16));
  ASSERT_TRUE(JsonObjectGetInteger(object.get(), "minus", &u8));
  ASSERT_TRUE(JsonObjectGetInteger(object.get(), "minus", &u64));
  EXPECT_EQ(u32, 1u);
  EXPECT_EQ(i16, 1);
  EXPECT_EQ(u8, 0xFF);
  EXPECT_EQ(u64, UINT64_MAX);
}

TEST(JsonSetters, WidenSignedAndUnsignedFormsCorrectly) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddInteger(object.get(), "i32", std::int32_t{-2});
  JsonObjectAddInteger(object.get(), "u32", std::uint32_t{0xFFFFFFFE});
  JsonObjectAddInteger(object.get(), "u16", std::uint16_t{0xFFFF});
  JsonObjectAddInteger(object.get(), "u8", std::uint8_t{0xFF});
  JsonObjectAddInteger(object.get(), "u64", std::uint64_t{UINT64_MAX});
  EXPECT_EQ(Text(object.get()),
            "{ \"i32\" : -2, \"u32\" : 4294967294, \"u16\" : 65535, \"u8\" : 255, \"u64\" : -1 }");
}

TEST(JsonStrings, NullTextIsAStringWithoutText) {
  JsonPtr object = JsonNewObject();
  ASSERT_TRUE(JsonObjectAddString(object.get(), "s", static_cast<const char*>(nullptr)));
  const char* text = "untouched";
  ASSERT_TRUE(JsonObjectGetString(object.get(), "s", &text));
  EXPECT_EQ(text, nullptr);
  const JsonValue* node = nullptr;
  ASSERT_TRUE(JsonObjectGet(object.get(), "s", &node));
  EXPECT_EQ(node->kind, JsonKind::JsonString);
  EXPECT_FALSE(node->hasText);
}

TEST(JsonStrings, TextEndsAtItsFirstNul) {
  using namespace std::string_literals;
  EXPECT_EQ(JsonNewString("ab\0cd"s)->text, "ab");
  EXPECT_EQ(JsonNewStringOwned("xy\0z"s)->text, "xy");
  EXPECT_TRUE(JsonNewString("")->hasText);
}

TEST(JsonBooleans, AnyNonZeroFlagReadsAsOne) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddBoolean(object.get(), "b", 2);
  std::uint8_t flag = 0;
  ASSERT_TRUE(JsonObjectGetBoolean(object.get(), "b", &flag));
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(Text(object.get()), "{ \"b\" : true }");
}

TEST(JsonLists, AppendListExtendsEachTypeCorrectly) {
  JsonPtr array = JsonNewArray();
  const std::int8_t i8[] = {-1};
  const std::uint8_t u8[] = {0xFF};
  const std::int16_t i16[] = {-300};
  const std::int32_t i32[] = {-70000};
  const std::uint32_t u32[] = {0xFFFFFFFF};
  const std::int64_t i64[] = {INT64_MIN};
  const std::uint64_t u64[] = {UINT64_MAX};
  const bool flags[] = {true, false};
  const char* const texts[] = {"a\"b", nullptr};
  ASSERT_TRUE(JsonArrayAppendList(array.get(), i8, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), u8, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), i16, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), i32, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), u32, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), i64, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), u64, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), flags, 2));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), texts, 2));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), i8, 0));
  EXPECT_EQ(Text(array.get()),
            "[ -1, 255, -300, -70000, 4294967295, -9223372036854775808, -1, true, false, "
            "\"a\\\"b\", \"(null)\" ]");
  EXPECT_EQ(array->capacity, 16u);
  EXPECT_FALSE(JsonArrayAppendList(array.get(), static_cast<const std::int8_t*>(nullptr), 1));
  EXPECT_FALSE(JsonArrayAppendList(JsonNewObject().get(), i8, 1));
}

TEST(JsonLists, CopyOutChecksTheRangeAndStopsAtTheWrongKind) {
  JsonPtr array = JsonNewArray();
  const std::int64_t numbers[] = {1, 2, 0x1FF};
  JsonArrayAppendList(array.get(), numbers, 3);
  JsonArrayAppend(array.get(), JsonNewString("s"));
  JsonArrayAppend(array.get(), JsonNewInteger(5));

  std::uint8_t bytes[5] = {};
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 0, bytes, 0));
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 3, bytes, 3));
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 1, bytes, UINT32_MAX));  // wraps
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 0, static_cast<std::uint8_t*>(nullptr), 1));
  EXPECT_EQ(bytes[0], 0);

  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 1, bytes, 4));
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes[1], 0xFF);  // low bits of 0x1FF
  EXPECT_EQ(bytes[2], 0);     // the string stopped the copy

  std::int64_t wide[3] = {};
  ASSERT_TRUE(JsonArrayCopyOut(array.get(), 0, wide, 3));
  EXPECT_EQ(wide[2], 0x1FF);
  const char* texts[1] = {};
  ASSERT_TRUE(JsonArrayCopyOut(array.get(), 3, texts, 1));
  EXPECT_STREQ(texts[0], "s");
  bool flags[1] = {};
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 0, flags, 1));
}

}  // namespace
