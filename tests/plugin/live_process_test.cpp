// Live-mode tests of the osa_plugin process: the test plays the debugger
// over pipes and checks responses, standard error and exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"
#include "tests/plugin/child_pipes.h"
#include "tests/plugin/fixed_messages.h"

namespace {

using plugin_test::kExit;
using plugin_test::Unknown;
using plugin_test::UnknownAnswer;

const std::string kPlugin = OSA_PLUGIN_PATH;

struct FramingCase {
  const char* name;
  std::vector<std::string> pieces;
  std::string expectedOutput;
  std::string expectedError;
};

class LiveFraming : public testing::TestWithParam<FramingCase> {};

TEST_P(LiveFraming, AnswersEachWholeMessage) {
  const FramingCase& row = GetParam();
  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kPlugin, {}, row.pieces, &output, &error), 0);
  EXPECT_EQ(output, row.expectedOutput);
  EXPECT_EQ(error, row.expectedError);
}

const std::string kStringsWithBraces =
    "{ \"method\" : \"OSA_Client_Nothing\", \"params\" : { \"s\" : \"}{ \\\" } \\\\\" }, \"id\" : "
    "3 }";

INSTANTIATE_TEST_SUITE_P(
    Cases, LiveFraming,
    testing::Values(
        FramingCase{"SeveralPieces",
                    {Unknown(1).substr(0, 10), Unknown(1).substr(10, 20), Unknown(1).substr(30)},
                    UnknownAnswer(1),
                    ""},
        FramingCase{
            "LeadingBlanksTabsLineFeeds", {" \t\n\n\t " + Unknown(2)}, UnknownAnswer(2), ""},
        // Carriage returns count as blanks between messages, before the first too.
        FramingCase{"CarriageReturnBeforeBrace", {"\r" + Unknown(2)}, UnknownAnswer(2), ""},
        FramingCase{"CrLfAfterEachMessage",
                    {Unknown(1) + "\r\n", Unknown(2) + "\r\n"},
                    UnknownAnswer(1) + UnknownAnswer(2),
                    ""},
        FramingCase{"BracesAndEscapedQuotesInStrings",
                    {kStringsWithBraces.substr(0, 60), kStringsWithBraces.substr(60)},
                    UnknownAnswer(3),
                    ""},
        FramingCase{"TwoMessagesInOneWrite",
                    {Unknown(4) + Unknown(5)},
                    UnknownAnswer(4) + UnknownAnswer(5),
                    ""},
        FramingCase{"NextMessageStartedInSameWrite",
                    {Unknown(4) + Unknown(5).substr(0, 7), Unknown(5).substr(7)},
                    UnknownAnswer(4) + UnknownAnswer(5),
                    ""},
        FramingCase{"EndOfInputBetweenMessages", {Unknown(6), "\n"}, UnknownAnswer(6), ""},
        FramingCase{"EndOfInputInsideMessage",
                    {Unknown(6), " {\"method\" : "},
                    UnknownAnswer(6),
                    "OSA plugin: Failed to get valid request: {\"method\" :  (err 0)\n"},
        FramingCase{"ZeroByteEndsText",
                    {Unknown(7) + std::string(1, '\0') + Unknown(8)},
                    UnknownAnswer(7),
                    ""},
        FramingCase{"ExitEndsWithoutReadingOn",
                    {kExit + Unknown(1)},
                    "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"exitCode\" : 0, \"return\" : 0 }, "
                    "\"id\" : 9 }",
                    ""}),
    [](const testing::TestParamInfo<FramingCase>& info) { return std::string(info.param.name); });

TEST(LiveProcess, ExitEndsTheProcessWhileInputStaysOpen) {
  ChildPipes child;
  ASSERT_TRUE(ChildPipesStart(kPlugin, {}, &child));
  ASSERT_TRUE(ChildPipesSend(&child, kExit));
  std::string response;
  ASSERT_TRUE(ChildPipesReceive(&child, &response));
  EXPECT_NE(response.find("\"exitCode\" : 0"), std::string::npos);
  EXPECT_EQ(ChildPipesFinish(&child, /*keepInput=*/true), 0);
  EXPECT_EQ(child.errorText, "");
}

TEST(LiveProcess, FullBufferThenEndOfInputReportsTheText) {
  const std::string text = "{ \"x\" : \"" + std::string(65535 - 9, 'a');
  ASSERT_EQ(text.size(), 65535u);
  ChildPipes child;
  ASSERT_TRUE(ChildPipesStart(kPlugin, {}, &child));
  ASSERT_TRUE(ChildPipesSend(&child, text));
  EXPECT_EQ(ChildPipesFinish(&child), 0);
  EXPECT_EQ(child.outputText, "");
  EXPECT_EQ(child.errorText, "OSA plugin: Failed to get valid request: " + text + " (err 0)\n");
}

struct SizeCase {
  std::size_t size;
  bool refused;
};

// A request longer than the receive buffer is answered with an error (its
// id cannot be read) and the next request is served; one that just fits is
// served as usual.
TEST(LiveProcess, OversizeRequestIsRefusedAndTheNextServed) {
  const std::string head =
      "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_Nothing\", \"params\" : { \"s\" : \"";
  const std::string tail = "{}\\\"\" }, \"id\" : 1 }";
  const std::string refusal =
      "{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : -32600, \"message\" : \"request larger "
      "than 65535 bytes\"}, \"id\" : null }";
  const SizeCase rows[] = {{65535, false}, {65536, true}, {70000, true}};
  for (const SizeCase& row : rows) {
    const std::string request =
        head + std::string(row.size - head.size() - tail.size(), 'a') + tail;
    std::string output;
    std::string error;
    EXPECT_EQ(ChildPipesRun(kPlugin, {}, {request + Unknown(2)}, &output, &error), 0);
    EXPECT_EQ(output, (row.refused ? refusal : UnknownAnswer(1)) + UnknownAnswer(2)) << row.size;
    EXPECT_EQ(error, row.refused ? "OSA plugin: Skipped a message longer than 65535 bytes (" +
                                       std::to_string(row.size) +
                                       " bytes): \"{ \\\"jsonrpc\\\" : \\\"2.0\\\", "
                                       "\\\"method\\\" : \\\"OSA_Client_Noth\"...\n"
                                 : "")
        << row.size;
  }
}

TEST(LiveProcess, ClosedOutputEndsWithThree) {
  ChildPipes child;
  ASSERT_TRUE(ChildPipesStart(kPlugin, {}, &child));
  ChildPipesCloseOutput(&child);
  ASSERT_TRUE(ChildPipesSend(&child, Unknown(1)));
  EXPECT_EQ(ChildPipesFinish(&child, /*keepInput=*/true), 3);
  EXPECT_EQ(child.errorText,
            "OSA plugin: Failed to send response: " + UnknownAnswer(1) + " (err 32)");
}

// A TargetInit makes the plug-in ask the debugger for target data. Here the
// debugger answers each such request with another TargetInit, so every
// level holds a receive buffer on the process's stack, until the plug-in
// refuses a request at its depth cap; then every level is answered.
TEST(LiveProcess, DeepNestingIsCappedNotOverflowed) {
  const auto targetInit = [](int id) {
    return "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_TargetInit\", \"params\" : { "
           "\"context\" : 1, \"majorCpuType\" : 7, \"minorCpuType\" : 0, \"bigEndianTarget\" : 0, "
           "\"bigEndianHost\" : 0 }, \"id\" : " +
           std::to_string(id) + " }";
  };
  // The id of a service request, or null for any other message.
  const auto serviceId = [](const std::string& message) -> JsonPtr {
    JsonPtr tree = JsonParse(message, nullptr);
    JsonPtr id;
    if (tree != nullptr && JsonObjectIndexOf(tree.get(), "method") >= 0) {
      JsonObjectRemove(tree.get(), "id", &id);
    }
    return id;
  };
  ChildPipes child;
  ASSERT_TRUE(ChildPipesStart(kPlugin, {}, &child));
  ASSERT_TRUE(ChildPipesSend(&child,
                             "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_OsaInit\", "
                             "\"params\" : { \"context\" : 1 }, \"id\" : 0 }"));
  std::string message;
  ASSERT_TRUE(ChildPipesReceive(&child, &message));

  std::vector<JsonPtr> pending;  // one unanswered service request per level
  int sent = 1;
  ASSERT_TRUE(ChildPipesSend(&child, targetInit(sent)));
  ASSERT_TRUE(ChildPipesReceive(&child, &message));
  if (serviceId(message) == nullptr) {
    ChildPipesFinish(&child);
    GTEST_SKIP() << "TargetInit sends no service request with this kernel code";
  }
  for (JsonPtr id = serviceId(message); id != nullptr; id = serviceId(message)) {
    pending.push_back(std::move(id));
    ASSERT_TRUE(ChildPipesSend(&child, targetInit(++sent)));
    ASSERT_TRUE(ChildPipesReceive(&child, &message));
  }
  EXPECT_EQ(static_cast<int>(pending.size()), 256);
  EXPECT_NE(
      message.find("\"message\" : \"request nesting too deep\"}, \"id\" : " + std::to_string(sent)),
      std::string::npos)
      << message;

  // Answer as failed whatever each level waits for, until all have answered.
  int answered = 0;
  while (!pending.empty()) {
    std::string answer = "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"return\" : 1 }, \"id\" : ";
    JsonWrite(answer, pending.back().get());
    pending.pop_back();
    ASSERT_TRUE(ChildPipesSend(&child, answer + " }"));
    ASSERT_TRUE(ChildPipesReceive(&child, &message));
    JsonPtr id = serviceId(message);
    if (id != nullptr) {
      pending.push_back(std::move(id));
    } else {
      ++answered;
    }
  }
  EXPECT_EQ(answered, sent - 1);
  ASSERT_TRUE(ChildPipesSend(&child, kExit));
  ASSERT_TRUE(ChildPipesReceive(&child, &message));
  EXPECT_EQ(ChildPipesFinish(&child, /*keepInput=*/true), 0);
}

struct OptionCase {
  const char* name;
  std::vector<std::string> arguments;
  int exitCode;
  std::string expectedOutput;
  std::string expectedError;
};

class CommandLine : public testing::TestWithParam<OptionCase> {};

const std::string kUsage = kPlugin + " [-help | [-ignore_error] -file <JsonRecordPlaybackFile>]\n";
const std::string kMissing = "/nonexistent/record.rec";

TEST_P(CommandLine, ExitsAsTheOptionsSay) {
  const OptionCase& row = GetParam();
  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kPlugin, row.arguments, {}, &output, &error), row.exitCode);
  EXPECT_EQ(output, row.expectedOutput);
  EXPECT_EQ(error, row.expectedError);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    testing::Values(OptionCase{"Help", {"-help"}, 0, kUsage, ""},
                    OptionCase{"ShortHelp", {"-h"}, 0, kUsage, ""},
                    OptionCase{"UpperCaseHelp", {"-HELP"}, 0, kUsage, ""},
                    OptionCase{"OptionsAfterHelpIgnored", {"-Help", "-bogus"}, 0, kUsage, ""},
                    OptionCase{"HelpAfterInvalidOption", {"-bogus", "-help"}, 1, "", kUsage},
                    OptionCase{"AbbreviationRefused", {"-hel"}, 1, "", kUsage},
                    OptionCase{"FileWithoutName", {"-file"}, 1, "", kUsage},
                    OptionCase{
                        "IgnoreErrorThenFileWithoutName", {"-ignore_error", "-F"}, 1, "", kUsage},

                    OptionCase{"FileCannotBeOpened",
                               {"-File", kMissing},
                               2,
                               "Cannot open file to read: " + kMissing + "\n",
                               ""},

                    OptionCase{"MixedCaseOptions",
                               {"-IGNORE_Error", "-f", "/dev/null"},
                               0,
                               "Successfully played back all 0 lines from /dev/null.\n",
                               ""}),
    [](const testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

}  // namespace
