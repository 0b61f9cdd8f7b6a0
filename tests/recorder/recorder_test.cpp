// Tests of osa_record: framing of the two streams into record lines, and the
// executable between a scripted debugger and a child process, whose record
// then plays back in osa_plugin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "recorder/byte_queue.h"
#include "recorder/message_framer.h"
#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"
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

TEST(ByteQueue, BytesPassInOrderAndMoveAtMostOnce) {
  // As the relay does toward a slow reader: 64 KiB read whenever less than
  // 4 MiB is queued, one 4 KiB slice written per turn.
  ByteQueue queue;
  std::size_t appended = 0;
  std::size_t taken = 0;
  std::string chunk(65536, '\0');
  bool inOrder = true;
  while (taken < (std::size_t{16} << 20)) {
    if (QueueSize(queue) < (std::size_t{4} << 20)) {
      for (char& byte : chunk)
        byte = static_cast<char>(appended++ % 251);
      QueueAppend(&queue, chunk);
    }
    const std::string_view front = QueueFront(queue).substr(0, 4096);
    for (const char byte : front)
      inOrder = inOrder && byte == static_cast<char>(taken++ % 251);
    QueueConsume(&queue, front.size());
  }
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(QueueSize(queue), appended - taken);
  EXPECT_LE(queue.movedBytes, taken);
  QueueConsume(&queue, QueueSize(queue));
  EXPECT_TRUE(QueueFront(queue).empty());
}

std::string Unknown(int id) {
  return "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_Nothing\", \"params\" : { \"n\" : 1 "
         "}, \"id\" : " +
         std::to_string(id) + " }";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The debugger's side of examples/basic_session.rec: a short session over
// the setup, object-list and task methods. Every service request the
// plug-in sends meanwhile is answered as failed, as by a debugger that has
// no target to read.
const char* const kBasicSession[] = {
    "\"OSA_Client_OsaInit\", \"params\" : { \"context\" : 1, \"versionRequired\" : 3 }",
    "\"OSA_Client_TargetInit\", \"params\" : { \"context\" : 1, \"majorCpuType\" : 7, "
    "\"minorCpuType\" : 0, \"bigEndianTarget\" : 0, \"bigEndianHost\" : 0, \"coreCount\" : 1 }",
    "\"OSA_Client_ObjectListInit\", \"params\" : { \"context\" : 1, \"objTypeId\" : 1 }",
    "\"OSA_Client_ObjectListNext\", \"params\" : { \"context\" : 1, \"objTypeId\" : 1 }",
    "\"OSA_Client_ObjectListAttribute\", \"params\" : { \"context\" : 1, \"objTypeId\" : 1, "
    "\"objAtrId\" : 1, \"valueType\" : 0 }",
    "\"OSA_Client_ObjectListCleanup\", \"params\" : { \"context\" : 1, \"objTypeId\" : 1 }",
    "\"OSA_Client_CurrentTaskGet\", \"params\" : { \"context\" : 1, \"checkInKernel\" : 0 }",
    "\"OSA_Client_TaskNameGet\", \"params\" : { \"context\" : 1, \"taskId\" : 536870912 }",
    "\"OSA_Client_TaskStatusGet\", \"params\" : { \"context\" : 1, \"taskId\" : 536870912 }",
    "\"OSA_Client_HistoryLogDump\", \"params\" : { \"bufferSize\" : 1048576 }",
    "\"OSA_Client_TargetCleanup\", \"params\" : { \"context\" : 1 }",
    "\"OSA_Client_OsaCleanup\", \"params\" : { \"context\" : 1 }",
    "\"OSA_Client_Exit\", \"params\" : { }",
};

// Service requests answered per debugger request before the script gives up.
constexpr int kMaxServiceRequests = 1000;

// Plays the script through osa_record into `record`; returns the number of
// messages exchanged, or -1 when the conversation broke off.
int RecordBasicSession(const std::string& record) {
  ChildPipes child;
  if (!ChildPipesStart(kRecorder, {"-o", record, "--", kPlugin}, &child)) return -1;
  int messages = 0;
  int id = 0;
  for (const char* request : kBasicSession) {
    // One request at a time, as a debugger does; CR LF after each.
    const std::string text = "{ \"jsonrpc\" : \"2.0\", \"method\" : " + std::string(request) +
                             ", \"id\" : " + std::to_string(++id) + " }";
    if (!ChildPipesSend(&child, text + "\r\n")) return -1;
    ++messages;
    for (int served = 0;; ++served) {
      std::string message;
      if (served > kMaxServiceRequests || !ChildPipesReceive(&child, &message)) return -1;
      ++messages;
      const JsonPtr tree = JsonParse(message, nullptr);
      const JsonValue* serviceId = nullptr;
      if (tree == nullptr || JsonObjectIndexOf(tree.get(), "method") < 0 ||
          !JsonObjectGet(tree.get(), "id", &serviceId)) {
        break;
      }
      std::string answer = "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"return\" : 1 }, \"id\" : ";
      JsonWrite(answer, serviceId);
      if (!ChildPipesSend(&child, answer + " }\r\n")) return -1;
      ++messages;
    }
  }
  return ChildPipesFinish(&child, /*keepInput=*/true) == 0 ? messages : -1;
}

// With OSA_RECORD_EXAMPLE=<file> set, the session is recorded into that file
// (this is how examples/basic_session.rec is made); otherwise into a
// temporary file. Either way the record must play back in full.
TEST(RecorderProcess, BasicSessionPlaysBack) {
  const char* example = std::getenv("OSA_RECORD_EXAMPLE");
  const std::string record =
      example != nullptr ? example : testing::TempDir() + "recorder_basic_session.rec";
  const int messages = RecordBasicSession(record);
  ASSERT_GT(messages, 0);

  const std::string text = ReadFile(record);
  EXPECT_EQ(text.find_first_not_of("0123456789:."), 15u) << text;
  EXPECT_NE(text.find(" VEXLO: { \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_Exit\""),
            std::string::npos);
  EXPECT_NE(text.find(" PLUGIN: { \"jsonrpc\" : \"2.0\", \"result\" : { \"exitCode\" : 0"),
            std::string::npos);

  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kPlugin, {"-file", record}, {}, &output, &error), 0);
  EXPECT_EQ(output, "Successfully played back all " + std::to_string(messages) + " lines from " +
                        record + ".\n");
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

TEST(RecorderProcess, SlowReaderGetsEveryByteInOrder) {
  // dd takes 512 bytes a read, far behind the debugger's side, so the
  // queue toward it stays full while 8 MiB pass through. The shell keeps
  // the child's output open until dd is done, then answers with one message.
  const std::string record = testing::TempDir() + "recorder_slow.rec";
  const std::string received = testing::TempDir() + "recorder_slow.out";
  std::string input;
  const int count = 8000;
  for (int index = 0; index < count; ++index) {
    input += "{ \"id\" : " + std::to_string(index) + ", \"pad\" : \"" +
             std::string(1000, static_cast<char>('a' + index % 26)) + "\" }\n";
  }
  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(kRecorder,
                          {"-o", record, "--", "sh", "-c",
                           "dd bs=512 status=none of=\"$0\" && echo '{ }'", received},
                          {input}, &output, &error),
            0)
      << error;
  EXPECT_EQ(output, "{ }\n");
  const std::string got = ReadFile(received);
  EXPECT_EQ(got.size(), input.size());
  EXPECT_TRUE(got == input);
  const std::string text = ReadFile(record);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), count + 1);
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
