// In-process tests of the process entry: how it ends for each kind of
// command line, with the "OSA__Info" record that says why.
#include "plugin/process_entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/history_log.h"

namespace {

std::string LastInfo() {
  std::string text = "<none>";
  for (const HistoryLogEntry& entry : HistoryLogEntries()) {
    if (entry.channel == "OSA__Info") text = entry.text;
  }
  return text;
}

struct EntryCase {
  const char* name;
  std::vector<const char*> arguments;
  int exitCode;
  std::string info;
  std::string output;
  std::string error;
};

TEST(ProcessEntry, EndsAndRecordsWhy) {
  const std::string usage = "osa [-help | [-ignore_error] -file <JsonRecordPlaybackFile>]\n";
  const EntryCase rows[] = {
      {"help", {"osa", "-H"}, 0, "Exit with 0 (help)", usage, ""},
      {"syntax error", {"osa", "-x"}, 1, "Exit with 1 (syntaxError 1)", "", usage},
      {"second file",
       {"osa", "-f", "a", "-f", "b"},
       1,
       "Exit with 1 (syntaxError 1)",
       "",
       "Only one playback file is allowed.\n" + usage},
      {"no file name",
       {"osa", "-ignore_error"},
       2,
       "Exit with 2 (from playback)",
       "No record file to play back: give one with -file <JsonRecordPlaybackFile>.\n",
       ""},
      {"directory as record",
       {"osa", "-file", "/"},
       2,
       "Exit with 2 (from playback)",
       "Cannot open file to read: /\n",
       ""},
  };
  for (const EntryCase& row : rows) {
    HistoryLogClear();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int code = OsaProcessEntry(static_cast<int>(row.arguments.size()), row.arguments.data());
    std::fflush(stdout);
    const std::string output = testing::internal::GetCapturedStdout();
    const std::string error = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, row.exitCode) << row.name;
    EXPECT_EQ(LastInfo(), row.info) << row.name;
    EXPECT_EQ(output, row.output) << row.name;
    EXPECT_EQ(error, row.error) << row.name;
  }
}

}  // namespace
