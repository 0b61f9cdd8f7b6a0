// History log: channels and texts in order, the buffer budget, and dumps.
#include "runtime/history_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

namespace {

class HistoryLogTest : public testing::Test {
 protected:
  void SetUp() override {
    HistoryLogSetBufferSize(kHistoryLogDefaultBufferSize);
    HistoryLogClear();
  }
};

TEST_F(HistoryLogTest, RecordsChannelAndTextInOrder) {
  HistoryLogTrace("OSA__Info", "first");
  HistoryLogTraceFormat("OSA__JSON__Read", "%s %d", "second", 2);
  const auto entries = HistoryLogEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].channel, "OSA__Info");
  EXPECT_EQ(entries[0].text, "first");
  EXPECT_EQ(entries[1].channel, "OSA__JSON__Read");
  EXPECT_EQ(entries[1].text, "second 2");
  EXPECT_LE(entries[0].timeMicros, entries[1].timeMicros);
}

TEST_F(HistoryLogTest, SizesBelowTheMinimumAreIgnored) {
  HistoryLogSetBufferSize(kHistoryLogMinBufferSize - 1);
  EXPECT_EQ(HistoryLogBufferSize(), kHistoryLogDefaultBufferSize);
  HistoryLogSetBufferSize(kHistoryLogMinBufferSize);
  EXPECT_EQ(HistoryLogBufferSize(), kHistoryLogMinBufferSize);
}

TEST_F(HistoryLogTest, OldestEntriesGoFirstWhenOverBudget) {
  HistoryLogSetBufferSize(kHistoryLogMinBufferSize);
  const std::string text(1000, 'x');
  for (int i = 0; i < 100; ++i)
    HistoryLogTraceFormat("c", "%03d%s", i, text.c_str());
  const auto entries = HistoryLogEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_LT(entries.size(), 100u);
  EXPECT_EQ(entries.back().text.substr(0, 3), "099");
  EXPECT_NE(entries.front().text.substr(0, 3), "000");
}

// The budget charges each entry its two texts and 32 bytes, whatever the
// storage; a model of that rule predicts which entries stay. Texts of many
// sizes make entries wrap round the end of the storage at every offset;
// every other text goes in as three pieces, which may wrap anywhere too.
TEST_F(HistoryLogTest, KeepsWhatTheBudgetChargesAcrossWraps) {
  HistoryLogSetBufferSize(kHistoryLogMinBufferSize);
  std::deque<std::pair<std::string, std::string>> model;
  std::uint64_t charged = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string channel = i % 3 == 0 ? "OSA__JSON__Write" : "c";
    const std::string text =
        std::to_string(i) + std::string(static_cast<std::size_t>(i * 37 % 997), 'a' + i % 26);
    if (i % 2 == 0) {
      HistoryLogTrace(channel, text);
    } else {
      const std::string_view whole(text);
      const std::size_t third = whole.size() / 3;
      const std::array<std::string_view, 3> parts = {
          whole.substr(0, third), whole.substr(third, third), whole.substr(2 * third)};
      HistoryLogTraceParts(channel, parts, HistoryLogNowMicros());
    }
    model.emplace_back(channel, text);
    charged += channel.size() + text.size() + 32;
    while (charged > kHistoryLogMinBufferSize) {
      charged -= model.front().first.size() + model.front().second.size() + 32;
      model.pop_front();
    }
    if (i % 97 != 0 && i != 2999) continue;
    const auto entries = HistoryLogEntries();
    ASSERT_EQ(entries.size(), model.size()) << i;
    for (std::size_t index = 0; index < entries.size(); ++index) {
      ASSERT_EQ(entries[index].channel, model[index].first) << i;
      ASSERT_EQ(entries[index].text, model[index].second) << i;
    }
  }
}

// A smaller budget drops the oldest entries at once; a text larger than the
// whole budget keeps its head.
TEST_F(HistoryLogTest, ShrinkingTheBudgetAndHugeTexts) {
  for (int i = 0; i < 100; ++i)
    HistoryLogTrace("c", std::string(1000, 'x') + std::to_string(i));
  HistoryLogSetBufferSize(kHistoryLogMinBufferSize);
  auto entries = HistoryLogEntries();
  ASSERT_EQ(entries.size(), 16u);  // 16 * 1035 <= 16656 < 17 * 1035
  EXPECT_EQ(entries.back().text, std::string(1000, 'x') + "99");
  HistoryLogTrace("ch", std::string(20000, 'y'));
  entries = HistoryLogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text, std::string(kHistoryLogMinBufferSize - 2 - 32, 'y'));
  const std::string tail(20000, 'z');
  const std::array<std::string_view, 2> parts = {"head ", tail};
  HistoryLogTraceParts("ch", parts, HistoryLogNowMicros());
  entries = HistoryLogEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text, "head " + std::string(kHistoryLogMinBufferSize - 2 - 32 - 5, 'z'));
}

// A budget above the first ring's size grows the ring with every entry kept.
TEST_F(HistoryLogTest, GrowsPastTheFirstRingWithEveryEntry) {
  HistoryLogSetBufferSize(3u << 20);
  for (int i = 0; i < 2500; ++i)
    HistoryLogTrace("c", std::to_string(i) + std::string(1000, 'g'));
  const auto entries = HistoryLogEntries();
  ASSERT_EQ(entries.size(), 2500u);
  for (std::size_t index = 0; index < entries.size(); index += 499)
    ASSERT_EQ(entries[index].text, std::to_string(index) + std::string(1000, 'g')) << index;
}

TEST_F(HistoryLogTest, DumpWritesPidAndBufferNamedFile) {
  HistoryLogTrace("OSA__Info", "Exit with 0 (help)");
  const auto dir =
      std::filesystem::temp_directory_path() / ("history_log_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ASSERT_TRUE(HistoryLogDump(dir.c_str()));
  const auto file =
      dir / (std::to_string(::getpid()) + "_" + std::to_string(HistoryLogBufferNumber()) + ".rne");
  std::ifstream in(file);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_NE(content.str().find("OSA__Info: Exit with 0 (help)\n"), std::string::npos);
  std::filesystem::remove_all(dir);
}

TEST_F(HistoryLogTest, DumpIntoMissingDirectoryFails) {
  EXPECT_FALSE(HistoryLogDump("/nonexistent/directory/for/history"));
  EXPECT_FALSE(HistoryLogDump(nullptr));
}

}  // namespace
