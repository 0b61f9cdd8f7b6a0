// Document model: ownership and growth of containers, member lookup and
// replacement, and the typed families that never convert between kinds.
#include "simple_json/json_value.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

using namespace std::string_literals;

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
  EXPECT_EQ(Text(array.get()), "[ 0, 1, 2, 3, 4, 5, 6, 7, 8 ]");
}

// Add keeps duplicates (lookups find the first), Set replaces in place or
// appends, Remove hands the value over or frees it and keeps the order. A
// refused value is freed and changes nothing.
TEST(JsonObjects, AddSetAndRemoveKeepTheMemberOrder) {
  JsonPtr object = JsonNewObject();
  JsonPtr number = JsonNewInteger(1);
  EXPECT_FALSE(JsonArrayAppend(nullptr, JsonNewInteger(1)));
  EXPECT_FALSE(JsonArrayAppend(number.get(), JsonNewString("x")));
  EXPECT_FALSE(JsonObjectAdd(number.get(), "a", JsonNewNull()));
  EXPECT_FALSE(JsonObjectSet(nullptr, "a", JsonNewNull()));
  EXPECT_FALSE(JsonObjectAdd(object.get(), "a", nullptr));
  EXPECT_EQ(object->count(), 0u);
  JsonObjectAddInteger(object.get(), "n", std::int64_t{1});
  JsonObjectAddString(object.get(), "b", "two");
  JsonObjectAddInteger(object.get(), "n", std::int64_t{2});
  std::int64_t value = 0;
  ASSERT_TRUE(JsonObjectGetInteger(object.get(), "n", &value));
  EXPECT_EQ(value, 1);
  EXPECT_EQ(JsonObjectIndexOf(object.get(), "b"), 1);
  EXPECT_EQ(JsonObjectIndexOf(object.get(), "N"), -1);
  ASSERT_TRUE(JsonObjectSet(object.get(), "n", JsonNewString("x")));
  ASSERT_TRUE(JsonObjectSet(object.get(), "c", JsonNewNull()));
  EXPECT_EQ(Text(object.get()), "{ \"n\" : \"x\", \"b\" : \"two\", \"n\" : 2, \"c\" : null }");
  JsonPtr taken;
  ASSERT_TRUE(JsonObjectRemove(object.get(), "b", &taken));
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->text, "two");
  EXPECT_FALSE(JsonObjectRemove(object.get(), "b"));
  EXPECT_FALSE(JsonObjectRemove(taken.get(), "a"));
  ASSERT_TRUE(JsonObjectRemove(object.get(), "n"));
  EXPECT_EQ(Text(object.get()), "{ \"n\" : 2, \"c\" : null }");
}

// Large objects look names up through an index. Through repeated adds,
// in-place sets and removals that shift positions, a lookup must find the
// member a scan finds first; and parsing a text with repeated names must keep
// each name at its first position with its last value.
TEST(JsonObjects, LookupsFindTheFirstMemberOfANameAtEverySize) {
  const auto scanFor = [](const JsonValue* object, std::string_view name) {
    for (std::size_t i = 0; i < object->members.size(); ++i) {
      if (object->members[i].name == name) return static_cast<std::int64_t>(i);
    }
    return std::int64_t{-1};
  };
  for (const int size : {6, 40, 1000}) {
    JsonPtr object = JsonNewObject();
    const int names = size / 2;  // every name occurs twice
    for (int i = 0; i < size; ++i) {
      JsonObjectAddInteger(object.get(), "m" + std::to_string(i % names), std::int64_t{i});
    }
    ASSERT_TRUE(JsonObjectSet(object.get(), "m1", JsonNewInteger(-1)));
    ASSERT_TRUE(JsonObjectSet(object.get(), "new", JsonNewInteger(-2)));
    ASSERT_TRUE(JsonObjectRemove(object.get(), "m0"));  // its second member comes forward
    ASSERT_TRUE(JsonObjectRemove(object.get(), "m2"));
    for (int i = 0; i <= names; ++i) {
      const std::string name = "m" + std::to_string(i);
      EXPECT_EQ(JsonObjectIndexOf(object.get(), name), scanFor(object.get(), name)) << size;
    }
    EXPECT_EQ(JsonObjectIndexOf(object.get(), "new"), size - 2) << size;
    // The one-pass search finds what a lookup finds, name by name.
    static constexpr std::array<std::string_view, 4> kSought = {"m1", "new", "m3", "absent"};
    const std::array<const JsonValue*, 4> found = JsonObjectFindMembers(object.get(), kSought);
    for (std::size_t k = 0; k < kSought.size(); ++k) {
      const std::int64_t at = JsonObjectIndexOf(object.get(), kSought[k]);
      EXPECT_EQ(found[k], at < 0 ? nullptr : object->members[at].value.get()) << kSought[k];
    }
    EXPECT_EQ(JsonObjectFindMembers(JsonNewInteger(1).get(), kSought)[0], nullptr);
    std::int64_t value = 0;
    ASSERT_TRUE(JsonObjectGetInteger(object.get(), "m0", &value));
    EXPECT_EQ(value, names);
    ASSERT_TRUE(JsonObjectGetInteger(object.get(), "m1", &value));
    EXPECT_EQ(value, -1);

    JsonPtr expected = JsonNewObject();  // first places, last values, by scans only
    for (std::size_t i = 0; i < object->members.size(); ++i) {
      const std::string& name = object->members[i].name;
      if (scanFor(object.get(), name) != static_cast<std::int64_t>(i)) continue;
      std::int64_t last = 0;
      for (const JsonMember& member : object->members) {
        if (member.name == name) last = member.value->number;
      }
      JsonObjectAddInteger(expected.get(), name, last);
    }
    std::string error;
    const JsonPtr parsed = JsonParse(Text(object.get()), &error);
    ASSERT_NE(parsed, nullptr) << error;
    EXPECT_EQ(Text(parsed.get()), Text(expected.get())) << size;
  }
}

// Small objects compare names in words loaded from both ends: a name that
// differs from the one sought in any single byte, at any length, is passed
// over, and the lookup reads nothing outside either text.
TEST(JsonObjects, ScanComparesEveryByteOfNamesOfEveryLength) {
  for (std::size_t length = 0; length <= 20; ++length) {
    const std::string name(length, 'n');
    JsonPtr object = JsonNewObject();
    for (std::size_t at = 0; at < length; ++at) {
      std::string near = name;
      near[at] = 'm';
      JsonObjectAddInteger(object.get(), near, std::int64_t{0});
    }
    JsonObjectAddInteger(object.get(), name, std::int64_t{1});
    const std::vector<char> sought(name.begin(), name.end());  // exact size for the sanitizer
    std::int64_t value = 0;
    ASSERT_TRUE(
        JsonObjectGetInteger(object.get(), std::string_view(sought.data(), length), &value));
    EXPECT_EQ(value, 1) << length;
    EXPECT_EQ(JsonObjectIndexOf(object.get(), name), static_cast<std::int64_t>(length));
  }
}

// Each typed getter succeeds only on its own kind; on failure, and for a
// null output, it writes nothing. Any non-zero Boolean flag reads as 1.
TEST(JsonGetters, NeverConvertBetweenKindsAndLeaveOutputUntouched) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddBoolean(object.get(), "flag", 2);
  JsonObjectAddString(object.get(), "text", "5");
  JsonObjectAddNull(object.get(), "none");
  JsonObjectAddInteger(object.get(), "number", std::int32_t{5});
  for (const std::string name : {"flag", "text", "none", "number", "missing"}) {
    std::int64_t wide = 77;
    std::uint8_t flag = 77;
    const char* text = "untouched";
    EXPECT_EQ(JsonObjectGetInteger(object.get(), name, &wide), name == "number") << name;
    EXPECT_EQ(JsonObjectGetBoolean(object.get(), name, &flag), name == "flag") << name;
    EXPECT_EQ(JsonObjectGetString(object.get(), name, &text), name == "text") << name;
    EXPECT_EQ(wide, name == "number" ? 5 : 77) << name;
    EXPECT_EQ(flag, name == "flag" ? 1 : 77) << name;
    EXPECT_STREQ(text, name == "text" ? "5" : "untouched") << name;
  }
  EXPECT_FALSE(JsonObjectGetInteger(object.get(), "number", static_cast<std::int64_t*>(nullptr)));
  EXPECT_FALSE(JsonObjectGetInteger(nullptr, "number", static_cast<std::int64_t*>(nullptr)));
}

// Setters sign- or zero-extend by their type; narrow getters keep the low bits.
TEST(JsonIntegers, SettersWidenByTypeAndNarrowGettersKeepTheLowBits) {
  JsonPtr object = JsonNewObject();
  JsonObjectAddInteger(object.get(), "i32", std::int32_t{-2});
  JsonObjectAddInteger(object.get(), "u32", std::uint32_t{0xFFFFFFFE});
  JsonObjectAddInteger(object.get(), "u16", std::uint16_t{0xFFFF});
  JsonObjectAddInteger(object.get(), "u8", std::uint8_t{0xFF});
  JsonObjectAddInteger(object.get(), "u64", std::uint64_t{UINT64_MAX});
  EXPECT_EQ(Text(object.get()),
            "{ \"i32\" : -2, \"u32\" : 4294967294, \"u16\" : 65535, \"u8\" : 255, \"u64\" : -1 }");
  JsonObjectAddInteger(object.get(), "v", std::int64_t{(std::int64_t{1} << 32) + 1});
  std::uint32_t u32 = 0;
  std::int16_t i16 = 0;
  std::uint8_t u8 = 0;
  ASSERT_TRUE(JsonObjectGetInteger(object.get(), "v", &u32));
  ASSERT_TRUE(JsonObjectGetInteger(object.get(), "v", &i16));
  ASSERT_TRUE(JsonObjectGetInteger(object.get(), "i32", &u8));
  EXPECT_EQ(u32, 1u);
  EXPECT_EQ(i16, 1);
  EXPECT_EQ(u8, 0xFE);
}

// A null text is a string without text (written as "(null)"); text ends at
// its first NUL; a non-zero Boolean flag writes as true.
TEST(JsonScalars, NullTextNulBytesAndBooleanFlags) {
  JsonPtr object = JsonNewObject();
  ASSERT_TRUE(JsonObjectAddString(object.get(), "s", static_cast<const char*>(nullptr)));
  const char* text = "untouched";
  ASSERT_TRUE(JsonObjectGetString(object.get(), "s", &text));
  EXPECT_EQ(text, nullptr);
  EXPECT_FALSE(object->members[0].value->hasText);
  EXPECT_EQ(JsonNewString("ab\0cd"s)->text, "ab");
  EXPECT_EQ(JsonNewStringOwned("xy\0z"s)->text, "xy");
  EXPECT_TRUE(JsonNewString("")->hasText);
  JsonObjectAddBoolean(object.get(), "b", 2);
  EXPECT_EQ(Text(object.get()), "{ \"s\" : \"(null)\", \"b\" : true }");
}

// Lists extend by their element type; copies out check the range first,
// keep the low bits with no range check and stop at an element of another kind.
TEST(JsonLists, AppendByTypeAndCopyOutByRangeAndKind) {
  JsonPtr array = JsonNewArray();
  const std::int8_t i8[] = {-1};
  const std::uint8_t u8[] = {0xFF};
  const std::uint32_t u32[] = {0x1FF};
  const bool flags[] = {true};
  const char* const texts[] = {"a\"b", nullptr};
  ASSERT_TRUE(JsonArrayAppendList(array.get(), i8, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), u8, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), u32, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), flags, 1));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), texts, 2));
  ASSERT_TRUE(JsonArrayAppendList(array.get(), i8, 0));
  EXPECT_EQ(Text(array.get()), "[ -1, 255, 511, true, \"a\\\"b\", \"(null)\" ]");
  EXPECT_FALSE(JsonArrayAppendList(array.get(), static_cast<const std::int8_t*>(nullptr), 1));
  EXPECT_FALSE(JsonArrayAppendList(JsonNewObject().get(), i8, 1));

  std::uint8_t bytes[4] = {};
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 0, bytes, 0));
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 4, bytes, 3));
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 1, bytes, UINT32_MAX));  // wraps
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 0, static_cast<std::uint8_t*>(nullptr), 1));
  EXPECT_EQ(bytes[0], 0);
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 1, bytes, 3));
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFF);  // low bits of 0x1FF
  EXPECT_EQ(bytes[2], 0);     // the Boolean stopped the copy
  const char* text = nullptr;
  ASSERT_TRUE(JsonArrayCopyOut(array.get(), 4, &text, 1));
  EXPECT_STREQ(text, "a\"b");
  bool flag = false;
  ASSERT_TRUE(JsonArrayCopyOut(array.get(), 3, &flag, 1));
  EXPECT_TRUE(flag);
  EXPECT_FALSE(JsonArrayCopyOut(array.get(), 0, &flag, 1));
}

}  // namespace
