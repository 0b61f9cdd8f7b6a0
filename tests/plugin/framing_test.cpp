// Tests of the brace-balance rules: completeness of a text (used on
// responses) and the end of the first object (used to frame requests).
#include "plugin/framing.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "simple_json/json_parse.h"

namespace {

struct CompleteCase {
  const char* text;
  bool complete;
};

TEST(IsComplete, Table) {
  const CompleteCase rows[] = {
      {"", false},
      {"{", false},
      {"{}", true},
      {" \t\n{ }", true},
      {"\r{ }", false},  // carriage returns are not skipped here
      {"x{ }", false},
      {"{ \"a\" : \"}\" }", true},      // brace inside a string
      {"{ \"a\" : \"\\\"}\" }", true},  // escaped quote inside a string
      {"{ \"a\" : \"\\\\\" }", true},   // escaped backslash before the closing quote
      {"{ \"a\" : \"", false},
      {"{ } {", false},  // a further object makes it incomplete again
      {"{ } }", false},  // a surplus closing brace never completes
      {"{ }\n", true},
      {"{ \"a\" : \"\\", false},  // backslash before the terminating zero byte
  };
  for (const CompleteCase& row : rows) {
    EXPECT_EQ(OSA__JSON__IsComplete(row.text), row.complete) << "text: " << row.text;
  }
  EXPECT_FALSE(OSA__JSON__IsComplete(nullptr));
}

struct FrameCase {
  std::string text;
  bool framed;
  std::size_t end;
};

TEST(FrameFirstObject, Table) {
  const FrameCase rows[] = {
      {"", false, 0},
      {"{", false, 0},
      {"{}", true, 2},
      {"{}{}", true, 2},
      {"{ \"a\" : { } } tail", true, 13},
      {"{ \"s\" : \"}{\\\"}\" }{", true, 17},
      {"{ \"s\" : \"\\", false, 0},  // the escaped byte has not arrived yet
      {" {}", false, 0},             // blanks are dropped by the caller first
      {"x{}", false, 0},
      {std::string("{\0}", 3), false, 0},  // a zero byte ends the text
  };
  for (const FrameCase& row : rows) {
    std::size_t end = 999;
    EXPECT_EQ(OsaFrameFirstObject(row.text.data(), row.text.size(), &end), row.framed)
        << "text: " << row.text;
    EXPECT_EQ(end, row.framed ? row.end : 999u) << "text: " << row.text;
    if (row.framed) {
      EXPECT_TRUE(OSA__JSON__IsComplete(row.text.substr(0, end).c_str())) << row.text;
    }
  }
}

// A scan goes on over the next piece exactly where it stopped, wherever
// the text is cut (inside a string, between a backslash and its byte).
TEST(ScanBraces, SplitAnywhereEndsWhereAWholeScanEnds) {
  const std::string text = "{ \"s\" : \"}{\\\"\\\\\", \"o\" : { } } tail";
  const std::size_t whole = 29;
  ASSERT_EQ(text.substr(whole), " tail");
  for (std::size_t split = 0; split <= whole; ++split) {
    OsaBraceScan scan;
    std::size_t end = 0;
    if (OsaScanBraces(&scan, text.data(), split, &end)) {
      EXPECT_EQ(end, whole) << split;
    } else {
      EXPECT_TRUE(OsaScanBraces(&scan, text.data() + split, text.size() - split, &end)) << split;
      EXPECT_EQ(split + end, whole) << split;
    }
  }
}

// Fed one byte at a time, a scan ends where a whole scan ends, for texts
// whose strings hold braces, quotes and escapes of every kind.
TEST(ScanBraces, ByteAtATimeEndsWhereAWholeScanEnds) {
  const FrameCase rows[] = {
      {"{ \"s\" : \"}{\\\"}\" }{", true, 17}, {"{\"\\\\\"}", true, 6}, {"{\"\\\"}\"}", true, 7},
      {"{ { \"{\" } \"}\" } x", true, 15},    {"{ \"\\", false, 0},
  };
  for (const FrameCase& row : rows) {
    OsaBraceScan scan;
    std::size_t end = 0;
    std::size_t index = 0;
    bool closed = false;
    for (; index < row.text.size() && !closed; ++index)
      closed = OsaScanBraces(&scan, row.text.data() + index, 1, &end);
    EXPECT_EQ(closed, row.framed) << row.text;
    if (closed) {
      EXPECT_EQ(index, row.end) << row.text;
    }
  }
}

// Runs of plain bytes are passed over in blocks: a byte that matters at any
// place of a long run, inside or outside a string, and at the end of the
// range, is seen exactly as a scan of one byte at a time sees it.
TEST(ScanBraces, BlockScansSeeEveryByteThatMatters) {
  const std::string special = std::string("{}\"\\") + '\0';
  for (const bool inside : {false, true}) {
    for (const char byte : special) {
      for (std::size_t at = 0; at < 40; ++at) {
        std::string text = inside ? "{ \"" : "{ ";
        text.append(at, inside ? 'a' : ' ');
        text.push_back(byte);
        text.append(inside ? "bbbbbbbbbbbbbbbbbbbb\" }" : "                    }");
        text.append(at % 7, 'x');
        for (const std::size_t length : {text.size(), 3 + at, 4 + at}) {
          OsaBraceScan whole;
          std::size_t wholeEnd = 0;
          const bool wholeClosed = OsaScanBraces(&whole, text.data(), length, &wholeEnd);
          const std::string what = std::string(inside ? "inside" : "outside") + " byte " +
                                   std::to_string(static_cast<int>(byte)) + " at " +
                                   std::to_string(at) + " length " + std::to_string(length);
          if (byte == '\0') {
            // A zero byte ends the scan where it stands, before the close.
            EXPECT_FALSE(wholeClosed) << what;
            continue;
          }
          OsaBraceScan single;
          std::size_t singleEnd = 0;
          bool singleClosed = false;
          std::size_t index = 0;
          for (; index < length && !singleClosed; ++index)
            singleClosed = OsaScanBraces(&single, text.data() + index, 1, &singleEnd);
          if (singleClosed) singleEnd = index;
          EXPECT_EQ(wholeClosed, singleClosed) << what;
          if (wholeClosed && singleClosed) {
            EXPECT_EQ(wholeEnd, singleEnd) << what;
          } else {
            EXPECT_EQ(whole.depth, single.depth) << what;
            EXPECT_EQ(whole.inString, single.inString) << what;
            EXPECT_EQ(whole.escaped, single.escaped) << what;
          }
        }
      }
    }
  }
}

// Completeness of texts longer than a block, with one byte that matters at
// every place, inside a string and outside: the verdict and the length.
TEST(IsCompleteMessage, LongTextsWithOneSpecialByteAnywhere) {
  struct Row {
    bool inside;
    char byte;
    bool complete;
  };
  const Row rows[] = {
      {true, '{', true},   {true, '}', true},   {true, '"', false},  {true, '\\', true},
      {false, '{', false}, {false, '}', false}, {false, '"', false}, {false, '\\', true},
  };
  for (const Row& row : rows) {
    for (std::size_t at = 0; at < 40; ++at) {
      std::string text = row.inside ? "{ \"" : "{ ";
      text.append(at, row.inside ? 'a' : ' ');
      text.push_back(row.byte);
      text.append(row.inside ? "bbbbbbbbbbbbbbbbbbbb\" }" : "                    }");
      std::size_t length = 0;
      EXPECT_EQ(OsaIsCompleteMessage(text.c_str(), &length), row.complete)
          << row.byte << " at " << at << (row.inside ? " inside" : " outside");
      if (row.complete) {
        EXPECT_EQ(length, text.size()) << row.byte << " at " << at;
      }
    }
  }
}

// The length comes from the same scan as the verdict.
TEST(IsCompleteMessage, GivesTheLengthOfCompleteTexts) {
  const CompleteCase rows[] = {
      {" {\"a\" : \"}\\\"\"}\n", true}, {"{ } }", false}, {"{ \"", false}, {"\t{}", true}};
  for (const CompleteCase& row : rows) {
    std::size_t length = 999;
    EXPECT_EQ(OsaIsCompleteMessage(row.text, &length), row.complete) << row.text;
    EXPECT_EQ(length, row.complete ? std::string(row.text).size() : 999u) << row.text;
  }
}

// The completeness rules one byte at a time, for texts without escapes.
bool CompleteByByteSteps(const std::string& text) {
  long depth = 0;
  bool inString = false;
  bool closedEarly = false;
  for (const char byte : text) {
    if (inString) {
      inString = byte != '"';
    } else if (byte == '"') {
      inString = true;
    } else if (byte == '{') {
      ++depth;
    } else if (byte == '}') {
      closedEarly = closedEarly || depth == 0;
      --depth;
    }
  }
  return !closedEarly && depth == 0 && !inString;
}

// Texts without escapes are scanned in blocks from the parity of their
// quotes: many random texts of braces, quotes and plain bytes end where a
// scan of one byte at a time ends, and are complete when such a scan says so.
TEST(ScanBraces, QuoteParityBlocksAgreeWithByteSteps) {
  constexpr char kBytes[] = {'{', '}', '"', 'a', ' ', '{', '}'};
  unsigned seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::string text = "{";
    const std::size_t size = 1 + round % 90;
    for (std::size_t index = 0; index < size; ++index) {
      seed = seed * 1103515245u + 12345u;
      text.push_back(kBytes[(seed >> 16) % sizeof kBytes]);
    }
    OsaBraceScan single;
    std::size_t singleEnd = 0;
    bool singleClosed = false;
    for (std::size_t index = 0; index < text.size() && !singleClosed; ++index) {
      singleClosed = OsaScanBraces(&single, text.data() + index, 1, &singleEnd);
      if (singleClosed) singleEnd = index + 1;
    }
    EXPECT_EQ(OSA__JSON__IsComplete(text.c_str()), CompleteByByteSteps(text)) << text;
    OsaBraceScan whole;
    std::size_t wholeEnd = 0;
    EXPECT_EQ(OsaScanBraces(&whole, text.data(), text.size(), &wholeEnd), singleClosed) << text;
    if (singleClosed) {
      EXPECT_EQ(wholeEnd, singleEnd) << text;
      EXPECT_TRUE(OSA__JSON__IsComplete(text.substr(0, singleEnd).c_str())) << text;
    } else {
      EXPECT_EQ(whole.depth, single.depth) << text;
      EXPECT_EQ(whole.inString, single.inString) << text;
    }
  }
}

// A receiver may parse a message before framing it and take the parse's end
// as the message's end: that holds only if every text that parses as an
// object ends, by the framing, exactly where its parse ends. Random objects
// with braces, quotes and escapes in their strings, each also with one byte
// changed, are held to that.
TEST(FrameFirstObject, EndsWhereAParsedObjectEnds) {
  unsigned seed = 777;
  const auto next = [&seed](unsigned range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % range;
  };
  constexpr std::string_view kStringBytes[] = {"a", "{", "}", "\\\"", "\\\\", "\\u007b", "[", " "};
  constexpr char kAnyBytes[] = {'{', '}', '"', '\\', ':', ',', '1', ']', ' ', '\0'};
  std::function<void(std::string*, int)> value = [&](std::string* text, int depth) {
    switch (depth > 3 ? next(2) : next(4)) {
      case 0:
        text->append(std::to_string(next(1000)));
        break;
      case 1:
        text->push_back('"');
        for (unsigned count = next(6); count > 0; --count)
          text->append(kStringBytes[next(8)]);
        text->push_back('"');
        break;
      case 2:
        text->push_back('[');
        for (unsigned count = next(3); count > 0; --count) {
          value(text, depth + 1);
          if (count > 1) text->push_back(',');
        }
        text->push_back(']');
        break;
      default:
        text->push_back('{');
        for (unsigned count = next(3); count > 0; --count) {
          text->append("\"k\" : ");
          value(text, depth + 1);
          if (count > 1) text->append(", ");
        }
        text->push_back('}');
    }
  };
  int parsed = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = "{ \"m\" : ";
    value(&text, 0);
    text.append(next(2) == 0 ? " }" : " } {\"");
    if (round % 2 == 1)
      text[1 + next(static_cast<unsigned>(text.size() - 1))] = kAnyBytes[next(10)];
    std::size_t parseEnd = 0;
    if (JsonParse(text, nullptr, &parseEnd) == nullptr) continue;
    ++parsed;
    std::size_t frameEnd = 0;
    EXPECT_TRUE(OsaFrameFirstObject(text.data(), text.size(), &frameEnd)) << text;
    EXPECT_EQ(frameEnd, parseEnd) << text;
  }
  EXPECT_GT(parsed, 1500);
}

}  // namespace
