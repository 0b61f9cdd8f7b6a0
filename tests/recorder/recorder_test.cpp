// Tests of osa_record: framing of the two streams into record lines, and the
// executable between a scripted debugger and a child process, whose record
// then plays back in osa_plugin.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "recorder/message_framer.h"
#include "tests/plugin/child_pipes.h"

namespace {

const std::string kRecorder = OSA_RECORD_PATH;
const std::string kPlugin = OSA_PLUGIN_PATH;

void Collect(void* context, std::string_view message) {
  static_cast<std::vector<std::string>*>(context)->emplace_back(message);
}

struct FramerCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> messages;
  std::size_t dropped;
};

TEST(MessageFramer, Table) {
  const FramerCase rows[] = {
      {"one piece", {"{ \"a\" : 1 }"}, {"{ \"a\" : 1 }"}, 0},
      {"split", {"{ \"a\"", " : 1 }"}, {"{ \"a\" : 1 }"}, 0},
      {"two in one chunk with CR LF", {"{ }\r\n{ \"b\" : 2 }\r\n"}, {"{ }", "{ \"b\" : 2 }"}, 0},
      {"braces in strings", {"{ \"s\" : \"}{\\\"\" }"}, {"{ \"s\" : \"}{\\\"\" }"}, 0},
      {"text outside messages", {"xy{ }z", "{ }"}, {"{ }", "{ }"}, 3},
      {"zero byte", {std::string("{ \0}", 4)}, {"{ }"}, 1},
      {"unfinished", {"{ \"a\" : "}, {}, 0},
  };
  for (const FramerCase& row : rows) {
    MessageFramer framer;
    std::vector<std::string> messages;
    for (const std::string& chunk : row.chunks)
      FramerFeed(&framer, chunk, Collect, &messages);
    EXPECT_EQ(messages, row.messages) << row.name;
    EXPECT_EQ(framer.droppedBytes, row.dropped) << row.name;
  }
}

TEST(MessageFramer, OversizedUnfinishedTextIsDropped) {
  MessageFramer framer;
  std::vector<std::string> messages;
  FramerFeed(&framer, "{ \"a\" : \"" + std::string(kRecorderMaxMessage, 'x'), Collect, &messages);
  EXPECT_TRUE(framer.pending.empty());
  EXPECT_TRUE(messages.empty());
}

TEST(RecordLine, StampTagAndOneLine) {
  EXPECT_EQ(RecordLine("01:02:03.000004", "VEXLO", "{ \"a\" :\r\n1 }"),
            "01:02:03.000004 VEXLO: { \"a\" :  1 }\n");
  const std::string stamp = RecordTimeStamp();
  EXPECT_EQ(stamp.size(), 15u);
  EXPECT_EQ(stamp.find_first_not_of("0123456789:."), std::string::npos) << stamp;
}

std::string Unknown(int id) {
  return "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_Nothing\", \"params\" : { \"n\" : 1 "
         "}, \"id\" : " +
         std::to_string(id) + " }";
}

const std::string kExit =
    "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_Exit\", \"params\" : { \"n\" : 1 }, "
    "\"id\" : 9 }";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RecorderProcess, RecordedSessionPlaysBack) {
  const std::string record = testing::TempDir() + "recorder_session.rec";
  ChildPipes child;
  ASSERT_TRUE(ChildPipesStart(kRecorder, {"-o", record, "--", kPlugin}, &child));
  // One request at a time, as a debugger does; CR LF after each.
  std::vector<std::string> responses;
  for (const std::string& request : {Unknown(1), Unknown(2), kExit}) {
    ASSERT_TRUE(ChildPipesSend(&child, request + "\r\n"));
    std::string response;
    ASSERT_TRUE(ChildPipesReceive(&child, &response));
    responses.push_back(response);
  }
  EXPECT_EQ(ChildPipesFinish(&child, /*keepInput=*/true), 0);
  EXPECT_NE(responses[2].find("\"exitCode\" : 0"), std::string::npos);

  const std::string text = ReadFile(record);
  EXPECT_NE(text.find(" VEXLO: " + Unknown(2) + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" PLUGIN: " + responses[1] + "\n"), std::string::npos) << text;

  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kPlugin, {"-file", record}, {}, &output, &error), 0);
  EXPECT_EQ(output, "Successfully played back all 6 lines from " + record + ".\n");
}

TEST(RecorderProcess, BothDirectionsFlowWithoutDeadlock) {
  // "cat" writes back while more input arrives; nothing is read back here
  // until all of it has been sent, so the recorder must buffer both ways.
  const std::string record = testing::TempDir() + "recorder_cat.rec";
  std::string input;
  const int count = 20000;
  for (int index = 0; index < count; ++index)
    input += Unknown(index);
  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kRecorder, {"-o", record, "--", "cat"}, {input}, &output, &error), 0);
  EXPECT_EQ(output, input);
  const std::string text = ReadFile(record);
  std::size_t lines = 0;
  for (const char byte : text)
    lines += byte == '\n' ? 1 : 0;
  EXPECT_EQ(lines, static_cast<std::size_t>(2 * count));
}

struct ExitCase {
  const char* name;
  std::vector<std::string> arguments;
  int exitCode;
};

TEST(RecorderProcess, ExitCodes) {
  const std::string record = testing::TempDir() + "recorder_exit.rec";
  const ExitCase rows[] = {
      {"child's code", {"-o", record, "--", "sh", "-c", "exit 7"}, 7},
      {"no double dash", {"-o", record, "true"}, 0},
      {"command not found", {"-o", record, "--", "/nonexistent/command"}, 127},
      {"no command", {"-o", record, "--"}, 2},
      {"no record option", {"--", "true"}, 2},
      {"record not writable", {"-o", "/nonexistent/dir/x.rec", "--", "true"}, 2},
  };
  for (const ExitCase& row : rows) {
    std::string output;
    std::string error;
    EXPECT_EQ(ChildPipesRun(kRecorder, row.arguments, {}, &output, &error), row.exitCode)
        << row.name << ": " << error;
  }
}

}  // namespace
