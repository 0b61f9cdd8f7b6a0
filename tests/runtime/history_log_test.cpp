// History log: channels and texts in order, the buffer budget, and dumps.
#include "runtime/history_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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
