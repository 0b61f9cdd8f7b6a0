// Storage of parsed and built trees and the fast paths: arena lifetime when
// subtrees leave a tree or heap nodes enter one, changes to parsed containers,
// the block scans at every alignment and at the very end of a buffer, and
// integers through parse and write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "simple_json/byte_scan.h"
#include "simple_json/json_parse.h"
#include "simple_json/json_value.h"
#include "simple_json/json_write.h"

namespace {

std::string Written(const JsonValue* value) {
  std::string out;
  return JsonWrite(out, value);
}

JsonPtr Parsed(std::string_view text) {
  std::string error;
  JsonPtr tree = JsonParse(text, &error);
  EXPECT_EQ(error, "") << text;
  return tree;
}

// ---- Arena lifetime ----------------------------------------------------------

TEST(JsonArenaLifetime, SubtreeTakenOutOutlivesTheTreeItCameFrom) {
  JsonPtr subtree;
  JsonPtr id;
  {
    JsonPtr moved;
    {
      JsonPtr tree = Parsed(R"({"id":7,"result":{"text":"kept","list":[1,[2,"x"]]},"more":"y"})");
      moved = std::move(tree);
    }
    ASSERT_TRUE(JsonObjectRemove(moved.get(), "id", &id));
    ASSERT_TRUE(JsonObjectRemove(moved.get(), "result", &subtree));
    EXPECT_EQ(Written(moved.get()), R"({ "more" : "y" })");
  }
  std::int64_t number = 0;
  EXPECT_EQ(id->kind, JsonKind::JsonInteger);
  EXPECT_EQ(id->number, 7);
  ASSERT_TRUE(JsonObjectGetInteger(Parsed(R"({"n":3})").get(), "n", &number));
  EXPECT_EQ(Written(subtree.get()), R"({ "text" : "kept", "list" : [ 1, [ 2, "x" ] ] })");
}

// Subtrees taken out share their tree's arena. Whatever their number (the
// arena holds a few of them without visiting nodes), whichever goes first,
// and whether a change follows after some are gone, every tree reads right
// and the sanitizers see neither a leak nor a read of freed memory.
TEST(JsonArenaLifetime, SubtreesTakenOutGoInAnyOrder) {
  const char* const names[] = {"a", "b", "c", "d", "e"};
  const char* const texts[] = {"[ 1 ]", "{ \"x\" : 2 }", "[ 3 ]", "[ 4 ]", "[ 5 ]"};
  for (unsigned taken = 0; taken <= 5; ++taken) {
    for (const bool treeFirst : {true, false}) {
      for (const bool changeAfter : {false, true}) {
        JsonPtr tree = Parsed(R"({"a":[1],"b":{"x":2},"c":[3],"d":[4],"e":[5],"f":6})");
        std::vector<JsonPtr> subtrees;
        for (unsigned i = 0; i < taken; ++i) {
          subtrees.emplace_back();
          ASSERT_TRUE(JsonObjectRemove(tree.get(), names[i], &subtrees.back()));
        }
        if (treeFirst) tree.reset();
        if (!subtrees.empty()) subtrees.erase(subtrees.begin());
        JsonValue* changed =
            treeFirst ? (subtrees.empty() ? nullptr : subtrees.back().get()) : tree.get();
        if (changeAfter && changed != nullptr) {
          ASSERT_TRUE(changed->kind == JsonKind::JsonArray
                          ? JsonArrayAppend(changed, JsonNewInteger(7))
                          : JsonObjectAddInteger(changed, "y", std::int64_t{7}));
        }
        for (std::size_t i = 0; i < subtrees.size(); ++i) {
          std::string expected = texts[i + 1];
          if (changeAfter && subtrees[i].get() == changed) {
            expected.insert(expected.size() - 2, i == 0 ? ", \"y\" : 7" : ", 7");
          }
          EXPECT_EQ(Written(subtrees[i].get()), expected);
        }
        if (!treeFirst) {
          EXPECT_EQ(tree->count(), 6u - taken + (changeAfter ? 1u : 0u));
        }
      }
    }
  }
}

TEST(JsonArenaLifetime, ParsedAndHeapNodesMixInEitherDirection) {
  JsonPtr heap = JsonNewObject();
  JsonPtr parsed = Parsed(R"({"a":[1,2],"b":"two"})");
  JsonValue* parsedView = parsed.get();
  ASSERT_TRUE(JsonObjectAdd(heap.get(), "parsed", std::move(parsed)));
  ASSERT_TRUE(JsonObjectAdd(parsedView, "heap", JsonNewString("h")));
  JsonPtr other = Parsed(R"(["third"])");
  ASSERT_TRUE(JsonObjectSet(parsedView, "b", std::move(other)));
  EXPECT_EQ(Written(heap.get()),
            R"({ "parsed" : { "a" : [ 1, 2 ], "b" : [ "third" ], "heap" : "h" } })");
  JsonPtr taken;
  ASSERT_TRUE(JsonObjectRemove(parsedView, "a", &taken));
  heap.reset();
  EXPECT_EQ(Written(taken.get()), "[ 1, 2 ]");
}

TEST(JsonArenaLifetime, ScalarTakenOutKeepsItsValue) {
  const char* names[] = {"s", "t", "z", "i"};
  const std::string expected[] = {R"("text")", "true", "null", "-5"};
  for (int i = 0; i < 4; ++i) {
    JsonPtr tree = Parsed(R"({"s":"text","t":true,"z":null,"i":-5})");
    JsonPtr value;
    ASSERT_TRUE(JsonObjectRemove(tree.get(), names[i], &value));
    EXPECT_EQ(tree->count(), 3u);
    tree.reset();
    EXPECT_EQ(Written(value.get()), expected[i]);
  }
}

// A freed tree's first block serves the thread's next parse. Trees that
// outlive later parses, trees freed on another thread, and a tree freed
// during its thread's exit after the thread's spare block is gone must all
// read right, with no leak or stale read for the sanitizers to find.
TEST(JsonArenaLifetime, FirstBlocksPassBetweenTreesAndThreads) {
  constexpr const char* kText = R"({ "id" : 7, "result" : { "output" : 42, "return" : 0 } })";
  std::vector<JsonPtr> kept;
  for (int i = 0; i < 4; ++i) {
    kept.push_back(Parsed(kText));
    Parsed(kText).reset();
  }
  JsonPtr fromThread;
  std::thread([&] {
    thread_local JsonPtr late;
    late.reset();  // made here, before the spare's holder, so it is freed after it
    late = Parsed(kText);
    Parsed(kText).reset();
    kept.back().reset();  // a tree of the main thread, freed here
    fromThread = Parsed(kText);
    late = Parsed(kText);
  }).join();
  kept.pop_back();
  kept.push_back(std::move(fromThread));
  for (int i = 0; i < 3; ++i)
    Parsed(kText).reset();
  for (const JsonPtr& tree : kept)
    EXPECT_EQ(Written(tree.get()), kText);
}

// ---- Built trees ------------------------------------------------------------------

// Built containers and parsed ones keep what the typed setters add in their
// own arena. A heap node, another tree or a subtree taken out and put back
// may enter before or after those additions, past the index threshold or
// not; every tree reads right and the sanitizers see no leak or stale read.
TEST(JsonBuiltTrees, ForeignNodesEnterBeforeOrAfterTypedAdditions) {
  enum class Foreign { kNone, kHeapScalar, kBuiltTree, kParsedTree, kOwnSubtree };
  for (const Foreign foreign : {Foreign::kNone, Foreign::kHeapScalar, Foreign::kBuiltTree,
                                Foreign::kParsedTree, Foreign::kOwnSubtree}) {
    for (const bool parsedRoot : {false, true}) {
      for (const int members : {3, 20}) {  // 20 passes the index threshold
        for (const bool foreignFirst : {true, false}) {
          JsonPtr root = parsedRoot ? Parsed(R"({"p":[1,{"q":2}]})") : JsonNewObject();
          std::vector<std::string> parts;  // the members as written
          if (parsedRoot) parts.emplace_back(R"("p" : [ 1, { "q" : 2 } ])");
          const auto addForeign = [&] {
            JsonPtr value;
            std::string text;
            switch (foreign) {
              case Foreign::kNone:
                return;
              case Foreign::kHeapScalar:
                value = JsonNewString("heap"), text = R"("heap")";
                break;
              case Foreign::kBuiltTree: {
                value = JsonNewArray();
                const std::int32_t list[] = {4, 5};
                ASSERT_TRUE(JsonArrayAppendList(value.get(), list, 2));
                text = "[ 4, 5 ]";
                break;
              }
              case Foreign::kParsedTree:
                value = Parsed(R"({"x":[true]})"), text = R"({ "x" : [ true ] })";
                break;
              case Foreign::kOwnSubtree:
                if (!parsedRoot) return;
                ASSERT_TRUE(JsonObjectRemove(root.get(), "p", &value));
                parts.erase(parts.begin());
                text = R"([ 1, { "q" : 2 } ])";
                break;
            }
            ASSERT_TRUE(JsonObjectAdd(root.get(), "f", std::move(value)));
            parts.push_back(R"("f" : )" + text);
          };
          if (foreignFirst) addForeign();
          for (int i = 0; i < members; ++i) {
            const std::string name = "m" + std::to_string(i);
            if (i % 2 == 0) {
              ASSERT_TRUE(JsonObjectAddInteger(root.get(), name, std::int64_t{i}));
              parts.push_back("\"" + name + "\" : " + std::to_string(i));
            } else {
              ASSERT_TRUE(JsonObjectAddString(root.get(), name, "s" + std::to_string(i)));
              parts.push_back("\"" + name + "\" : \"s" + std::to_string(i) + "\"");
            }
          }
          if (!foreignFirst) addForeign();
          std::string expected = "{";
          for (std::size_t i = 0; i < parts.size(); ++i)
            expected += (i == 0 ? " " : ", ") + parts[i];
          EXPECT_EQ(Written(root.get()), expected + " }");
          std::int64_t last = -1;
          const int even = (members - 1) & ~1;
          EXPECT_TRUE(JsonObjectGetInteger(root.get(), "m" + std::to_string(even), &last));
          EXPECT_EQ(last, even);
        }
      }
    }
  }
}

// A subtree taken out of a built tree, and a built tree's lists grown past
// its first block, outlive the root.
TEST(JsonBuiltTrees, ListsGrowPastTheFirstBlockAndOutliveTheirRoot) {
  std::vector<std::int64_t> numbers(300);
  for (std::size_t i = 0; i < numbers.size(); ++i)
    numbers[i] = static_cast<std::int64_t>(i) * 3 - 100;
  std::vector<const char*> names(40, "name");
  JsonPtr root = JsonNewObject();
  JsonPtr list = JsonNewArray();
  ASSERT_TRUE(JsonArrayAppendList(list.get(), numbers.data(), 300));
  ASSERT_TRUE(JsonArrayAppendList(list.get(), names.data(), 40));
  ASSERT_TRUE(JsonObjectAdd(root.get(), "list", std::move(list)));
  ASSERT_TRUE(JsonObjectRemove(root.get(), "list", &list));
  root.reset();
  ASSERT_EQ(list->count(), 340u);
  std::vector<std::int64_t> back(300);
  ASSERT_TRUE(JsonArrayCopyOut(list.get(), 0, back.data(), 300));
  EXPECT_EQ(back, numbers);
  const char* text = nullptr;
  ASSERT_TRUE(JsonArrayCopyOut(list.get(), 339, &text, 1));
  EXPECT_STREQ(text, "name");
}

// ---- Changes to parsed containers ---------------------------------------------

TEST(JsonParsedContainers, GrowAndChangeLikeBuiltOnes) {
  JsonPtr tree = Parsed(R"({"list":[1,2,3,4,5],"name":"n"})");
  JsonValue* list = nullptr;
  ASSERT_TRUE(JsonObjectGet(tree.get(), "list", &list));
  EXPECT_EQ(list->capacity, 8u);
  for (int i = 6; i <= 9; ++i)
    ASSERT_TRUE(JsonArrayAppend(list, JsonNewInteger(i)));
  EXPECT_EQ(list->capacity, 16u);
  EXPECT_GE(list->elements.capacity(), list->elements.size());
  ASSERT_TRUE(JsonObjectAddString(tree.get(), "extra", "e"));
  ASSERT_TRUE(JsonObjectSet(tree.get(), "name", JsonNewInteger(1)));
  ASSERT_TRUE(JsonObjectRemove(tree.get(), "list"));
  EXPECT_EQ(Written(tree.get()), R"({ "name" : 1, "extra" : "e" })");
}

// Parsed objects of every small size, with and without a repeated name,
// match the same objects built member by member, before and after growing.
TEST(JsonParsedContainers, ObjectsOfEverySizeMatchBuiltOnes) {
  for (int size = 0; size <= 6; ++size) {
    for (const bool repeat : {false, true}) {
      std::string text = "{";
      JsonPtr built = JsonNewObject();
      for (int i = 0; i < size; ++i) {
        const int name = repeat && i == size - 1 ? 0 : i;
        text += (i == 0 ? " \"m" : ", \"m") + std::to_string(name) + "\" : " + std::to_string(i);
        ASSERT_TRUE(JsonObjectSet(built.get(), "m" + std::to_string(name), JsonNewInteger(i)));
      }
      JsonPtr parsed = Parsed(text + " }");
      ASSERT_NE(parsed, nullptr);
      for (int step = 0; step < 2; ++step) {
        EXPECT_EQ(parsed->capacity, built->capacity) << text;
        EXPECT_EQ(Written(parsed.get()), Written(built.get())) << text;
        for (int extra = 0; extra < 3; ++extra) {
          const std::string name = "x" + std::to_string(extra);
          ASSERT_TRUE(JsonObjectAddInteger(parsed.get(), name, std::int64_t{extra}));
          ASSERT_TRUE(JsonObjectAddInteger(built.get(), name, std::int64_t{extra}));
        }
      }
    }
  }
}

// Past the index threshold the parser builds the name index itself; later
// duplicates keep the first position and take the last value.
TEST(JsonParsedContainers, LargeObjectsKeepTheirIndexThroughChanges) {
  std::string text = "{";
  for (int i = 0; i < 40; ++i)
    text += "\"m" + std::to_string(i % 30) + "\":" + std::to_string(i) + ",";
  text += "\"last\":-1}";
  JsonPtr tree = Parsed(text);
  ASSERT_EQ(tree->count(), 31u);
  for (int i = 0; i < 30; ++i) {
    std::int64_t value = 0;
    ASSERT_TRUE(JsonObjectGetInteger(tree.get(), "m" + std::to_string(i), &value));
    EXPECT_EQ(value, i < 10 ? i + 30 : i);
    EXPECT_EQ(JsonObjectIndexOf(tree.get(), "m" + std::to_string(i)), i);
  }
  ASSERT_TRUE(JsonObjectRemove(tree.get(), "m0"));
  ASSERT_TRUE(JsonObjectAddInteger(tree.get(), "m0", std::int64_t{99}));
  EXPECT_EQ(JsonObjectIndexOf(tree.get(), "last"), 29);
  EXPECT_EQ(JsonObjectIndexOf(tree.get(), "m0"), 30);
  EXPECT_EQ(JsonObjectIndexOf(tree.get(), "absent"), -1);
}

// ---- Block scans ---------------------------------------------------------------

// Buffers of exactly the scanned size, so that a read past the end is caught
// by the address sanitizer; every start alignment, every length up to four
// blocks, the stop byte at every place or nowhere.
template <typename Scan, typename Stops>
void SweepScan(Scan scan, Stops stops, const std::vector<unsigned char>& stopBytes) {
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t length = 0; length <= 64; ++length) {
      for (std::size_t at = 0; at <= length; ++at) {
        for (unsigned char stop : stopBytes) {
          auto buffer = std::make_unique<char[]>(offset + length);
          for (std::size_t i = 0; i < offset + length; ++i)
            buffer[i] = static_cast<char>('a' + i % 26);
          if (at < length) buffer[offset + at] = static_cast<char>(stop);
          const char* begin = buffer.get() + offset;
          const char* found = scan(begin, begin + length);
          const std::size_t expected = at < length && stops(stop) ? at : length;
          ASSERT_EQ(found - begin, static_cast<std::ptrdiff_t>(expected))
              << "offset " << offset << " length " << length << " byte " << int(stop);
        }
      }
    }
  }
}

std::vector<unsigned char> EveryByte() {
  std::vector<unsigned char> bytes;
  for (int byte = 0; byte < 256; ++byte)
    bytes.push_back(static_cast<unsigned char>(byte));
  return bytes;
}

// The parser's scans run over its padded copy of the text: each buffer holds
// the bytes, their NUL and exactly the padding, so that a read past the
// padding is caught by the address sanitizer.
TEST(JsonBlockScan, StringRunsEndAtQuoteBackslashOrNul) {
  const std::vector<unsigned char> stops = {'"', '\\', 0, '\n', 0x7F, 0x80, 0xFF, '!', ']'};
  for (const auto scan : {json_scan::FindStringStop, json_scan::FindStringStopInWords}) {
    SweepScan(
        [scan](const char* begin, const char* end) {
          // The copy keeps the alignment of the sweep's buffer.
          const auto offset = reinterpret_cast<std::uintptr_t>(begin) % 16;
          const auto length = static_cast<std::size_t>(end - begin);
          auto padded = std::make_unique<char[]>(offset + length + json_scan::kStopPadding);
          std::copy(begin, end, padded.get() + offset);
          const char* text = padded.get() + offset;
          return begin + (scan(text) - text);
        },
        json_scan::EndsStringRun, stops);
  }
}

TEST(JsonBlockScan, WriterRunsEndAtEveryByteTheTableEscapes) {
  for (unsigned char stop : EveryByte()) {
    const char text[2] = {'a', static_cast<char>(stop)};
    EXPECT_EQ(json_scan::FindEscapeByte(text, text + 2) == text + 1, json_scan::NeedsEscape(stop));
  }
  const std::vector<unsigned char> stops = {'"', '\\', 0, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF};
  SweepScan(json_scan::FindEscapeByte, json_scan::NeedsEscape, stops);
  SweepScan(json_scan::FindEscapeByteInWords, json_scan::NeedsEscape, stops);
}

// The writer's test for texts with nothing to escape, which reads short
// texts as words from both ends: a byte to escape at any place of a text of
// any length up to past one block is seen, and nothing beyond the text is.
TEST(JsonBlockScan, NoEscapeTestSeesEveryEscapeByteAtEveryPlace) {
  const std::vector<unsigned char> stops = {'"', '\\', 0, 0x1F, 0x7F, 0x80, 0xFF};
  for (std::size_t length = 0; length <= 40; ++length) {
    std::vector<char> text(length, 'a');  // exact size, for the address sanitizer
    EXPECT_TRUE(json_scan::NeedsNoEscape(text.data(), length)) << length;
    for (std::size_t at = 0; at < length; ++at) {
      for (const unsigned char stop : stops) {
        text[at] = static_cast<char>(stop);
        EXPECT_FALSE(json_scan::NeedsNoEscape(text.data(), length))
            << "length " << length << " at " << at << " byte " << static_cast<int>(stop);
        text[at] = 'a';
      }
    }
  }
}

// Strings of every length at every alignment, with an escape or the closing
// quote at each place, in texts that end right after the string (or are cut
// short), as the transport hands them over without a terminating NUL.
TEST(JsonBlockScan, StringsParseAtEveryAlignmentAndAtTheBufferEnd) {
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t length = 0; length <= 40; ++length) {
      for (std::size_t at = 0; at <= length; ++at) {
        std::string body(length, 'q');
        std::string expected = body;
        if (at < length) {
          body.replace(at, 1, "\\n");
          expected[at] = '\n';
        }
        const std::string text = "\"" + body + "\"";
        auto buffer = std::make_unique<char[]>(offset + text.size());
        std::copy(text.begin(), text.end(), buffer.get() + offset);
        std::string error;
        JsonPtr tree = JsonParse(std::string_view(buffer.get() + offset, text.size()), &error);
        ASSERT_NE(tree, nullptr) << error;
        ASSERT_EQ(std::string(tree->text), expected);
        tree = JsonParse(std::string_view(buffer.get() + offset, text.size() - 1), &error);
        EXPECT_EQ(tree, nullptr);
        EXPECT_EQ(error, "Error: unterminated string constant");
      }
    }
  }
}

// ---- Integers --------------------------------------------------------------------

std::string PrintfText(std::int64_t value) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%" PRId64, value);
  return digits;
}

TEST(JsonIntegers, WriteAsPrintfAndParseBackOverTheWholeRange) {
  std::vector<std::int64_t> values = {0, -1, std::numeric_limits<std::int64_t>::min(),
                                      std::numeric_limits<std::int64_t>::max()};
  for (int exponent = 0; exponent <= 18; ++exponent) {
    std::int64_t power = 1;
    for (int i = 0; i < exponent; ++i)
      power *= 10;
    for (std::int64_t delta : {-1, 0, 1})
      for (std::int64_t sign : {-1, 1})
        values.push_back(sign * (power + delta));
  }
  std::uint64_t seed = 0x9E3779B97F4A7C15;
  for (int i = 0; i < 200000; ++i) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    values.push_back(static_cast<std::int64_t>(seed >> (i % 64)));
  }
  for (std::int64_t value : values) {
    const JsonPtr node = JsonNewInteger(value);
    const std::string text = Written(node.get());
    ASSERT_EQ(text, PrintfText(value));
    const JsonPtr back = JsonParse(text, nullptr);
    ASSERT_NE(back, nullptr) << text;
    ASSERT_EQ(back->number, value) << text;
  }
}

TEST(JsonIntegers, LongDigitRunsKeepTheirRangeRules) {
  struct Case {
    std::string text;
    std::int64_t value;
    const char* error;
  };
  const Case cases[] = {
      {"0000000000000000000000000042", 42, ""},
      {"-00000000000000000000009223372036854775808", std::numeric_limits<std::int64_t>::min(), ""},
      {"1844674407370955161", 1844674407370955161, ""},
      {"18446744073709551615", -1, ""},
      {"9999999999999999999", static_cast<std::int64_t>(9999999999999999999ULL), ""},
      {"18446744073709551616", 0, "Error: integer value out of range"},
      {"99999999999999999990", 0, "Error: integer value out of range"},
      {"-9223372036854775809", 0, "Error: negative integer value out of range"},
  };
  for (const Case& row : cases) {
    std::string error;
    const JsonPtr tree = JsonParse(row.text, &error);
    EXPECT_EQ(error, row.error) << row.text;
    if (*row.error == '\0') {
      ASSERT_NE(tree, nullptr);
      EXPECT_EQ(tree->number, row.value) << row.text;
    }
  }
}

}  // namespace
