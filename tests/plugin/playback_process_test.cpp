// Playback-mode tests of the osa_plugin process: small record files, one per
// row of the failure table and per rule of the line syntax.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/plugin/child_pipes.h"
#include "tests/plugin/fixed_messages.h"

namespace {

using plugin_test::kExit;
using plugin_test::Unknown;
using plugin_test::UnknownAnswer;

const std::string kPlugin = OSA_PLUGIN_PATH;

const std::string kExitAnswer =
    "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"exitCode\" : 0, \"return\" : 0 }, \"id\" : 9 }";

std::string WriteRecord(const std::string& name, const std::string& content) {
  const std::string path = testing::TempDir() + "playback_" + name + ".rec";
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

// Playback reports mention the file name; rows write "@" where it goes.
std::string WithName(std::string text, const std::string& path) {
  const std::size_t at = text.find('@');
  if (at != std::string::npos) text.replace(at, 1, path);
  return text;
}

struct RecordCase {
  const char* name;
  std::string record;
  int exitCode;
  std::string report;
};

class Playback : public testing::TestWithParam<RecordCase> {};

TEST_P(Playback, ReportsAndResult) {
  const RecordCase& row = GetParam();
  const std::string path = WriteRecord(row.name, row.record);
  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kPlugin, {"-file", path}, {}, &output, &error), row.exitCode);
  EXPECT_EQ(output, WithName(row.report, path));
  EXPECT_EQ(error, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Playback,
    testing::Values(
        RecordCase{"Empty", "", 0, "Successfully played back all 0 lines from @.\n"},
        RecordCase{"TwoExchanges",
                   "VEXLO: " + Unknown(1) + "\nPLUGIN: " + UnknownAnswer(1) +
                       "\nVEXLO: " + Unknown(2) + "\nPLUGIN: " + UnknownAnswer(2) + "\n",
                   0, "Successfully played back all 4 lines from @.\n"},
        RecordCase{"PrefixCaseAndBlanks",
                   "12:34:56.789012 \t vexlo \t:  " + Unknown(1) +
                       " \t\r\n00.5Plugin:" + UnknownAnswer(1) + "\f\r",
                   0, "Successfully played back all 2 lines from @.\n"},
        RecordCase{"ExitDoesNotStopPlayback",
                   "VEXLO: " + kExit + "\nPLUGIN: " + kExitAnswer + "\nVEXLO: " + Unknown(3) +
                       "\nPLUGIN: " + UnknownAnswer(3) + "\n",
                   0, "Successfully played back all 4 lines from @.\n"},
        RecordCase{"ResponseMissingAtEnd", "VEXLO: " + Unknown(1) + "\n", 4,
                   "Expect a message from PLUGIN at line 2\nGot different result to VEXLO on "
                   "line 1:\n" +
                       UnknownAnswer(1) + "\n"},
        RecordCase{"PluginTagWhereRequestExpected", "PLUGIN: " + UnknownAnswer(1) + "\n", 3,
                   "Expect a message from VEXLO at line 1\n"},
        RecordCase{"TextBeforeTag", "x VEXLO: " + Unknown(1) + "\n", 3,
                   "Expect a message from VEXLO at line 1\n"},
        RecordCase{"EmptyLine", "\nVEXLO: " + Unknown(1) + "\n", 3,
                   "Expect a message from VEXLO at line 1\n"},
        RecordCase{"MissingColon", "VEXLO " + Unknown(1) + "\n", 3, "Invalid syntax at line 1\n"},
        RecordCase{"RequestWhereResponseExpected",
                   "VEXLO: " + Unknown(1) + "\nVEXLO: " + Unknown(2) + "\n", 4,
                   "Expect a message from PLUGIN at line 2\nGot different result to VEXLO on "
                   "line 2:\n" +
                       UnknownAnswer(1) + "\n"},
        RecordCase{"ResponseDiffersInBlanks",
                   "VEXLO: " + Unknown(1) + "\nPLUGIN: " + UnknownAnswer(1).substr(0, 2) + " " +
                       UnknownAnswer(1).substr(2) + "\nVEXLO: " + Unknown(2) + "\n",
                   4, "Got different result to VEXLO on line 2:\n" + UnknownAnswer(1) + "\n"},
        RecordCase{"ResponseDiffersInId",
                   "VEXLO: " + Unknown(1) + "\nPLUGIN: " + UnknownAnswer(2) + "\n", 4,
                   "Got different result to VEXLO on line 2:\n" + UnknownAnswer(1) + "\n"}),
    [](const testing::TestParamInfo<RecordCase>& info) { return std::string(info.param.name); });

TEST(PlaybackProcess, MismatchEndsRunEvenWithIgnoreError) {
  const std::string path =
      WriteRecord("IgnoreTopLevel", "VEXLO: " + Unknown(1) + "\nPLUGIN: " + UnknownAnswer(2) +
                                        "\nVEXLO: " + Unknown(2) + "\nPLUGIN: nothing\n");
  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kPlugin, {"-ignore_error", "-file", path}, {}, &output, &error), 4);
  EXPECT_EQ(output, "Got different result to VEXLO on line 2:\n" + UnknownAnswer(1) + "\n");
}

TEST(PlaybackProcess, TwoRunsGiveIdenticalReports) {
  const std::string path = WriteRecord(
      "Twice", "VEXLO: " + kExit + "\nPLUGIN: " + kExitAnswer + "\nVEXLO: " + Unknown(1) + "\n");
  std::string first;
  std::string second;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kPlugin, {"-f", path}, {}, &first, &error), 4);
  EXPECT_EQ(ChildPipesRun(kPlugin, {"-f", path}, {}, &second, &error), 4);
  EXPECT_EQ(first, second);
  EXPECT_NE(first, "");
}

TEST(PlaybackProcess, BundledExampleReplays) {
  const std::string path = std::string(OSA_SOURCE_DIR) + "/examples/basic_session.rec";
  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kPlugin, {"-file", path}, {}, &output, &error), 0);
  EXPECT_EQ(output.rfind("Successfully played back all ", 0), 0u) << output;
}

}  // namespace
