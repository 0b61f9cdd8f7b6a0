// In-process tests of nested exchanges: the test binds methods whose
// handlers send requests of their own, plays the debugger over pipes (live)
// or from a record stream (playback), and serves requests meanwhile. Each
// test talks through a conversation record of its own.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jsonrpc/client.h"
#include "jsonrpc/dispatch.h"
#include "plugin/conversation.h"
#include "plugin/exchange.h"
#include "plugin/framing.h"
#include "plugin/message_loop.h"
#include "plugin/nesting.h"
#include "plugin/playback.h"
#include "plugin/process_entry.h"
#include "plugin/transport.h"
#include "runtime/history_log.h"

namespace {

JsonRpcService gService;

// Sends "Test_Service" and answers { "ok" : 0/1[, "value" : <integer result>] }.
JsonPtr TestAsk(const JsonValue*) {
  JsonPtr params = JsonNewObject();
  JsonObjectAddInteger(params.get(), "n", std::int64_t{1});
  JsonPtr result;
  const bool ok = JrSendRequest(&gService, "Test_Service", std::move(params), &result);
  JsonPtr answer = JsonNewObject();
  JsonObjectAddInteger(answer.get(), "ok", std::int64_t{ok ? 1 : 0});
  if (result != nullptr && result->kind == JsonKind::JsonInteger) {
    JsonObjectAddInteger(answer.get(), "value", result->number);
  }
  return answer;
}

JsonPtr TestEcho(const JsonValue*) {
  JsonPtr answer = JsonNewObject();
  JsonObjectAddInteger(answer.get(), "echo", std::int64_t{1});
  return answer;
}

std::string Request(const char* method, int id) {
  return std::string("{ \"jsonrpc\" : \"2.0\", \"method\" : \"") + method +
         "\", \"params\" : { \"n\" : 1 }, \"id\" : " + std::to_string(id) + " }";
}

std::string ServiceRequest(int id) {
  return Request("Test_Service", id);
}

std::string Answer(int value, int id) {
  return "{ \"jsonrpc\" : \"2.0\", \"result\" : " + std::to_string(value) +
         ", \"id\" : " + std::to_string(id) + " }";
}

std::string AskResponse(int id, int value) {
  return "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"ok\" : 1, \"value\" : " +
         std::to_string(value) + " }, \"id\" : " + std::to_string(id) + " }";
}

std::string EchoResponse(int id) {
  return "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"echo\" : 1 }, \"id\" : " + std::to_string(id) +
         " }";
}

// Binds the test methods in the process's dispatcher (nested requests reach
// it through OSA_Client_CmdParser) and sends through `conversation`.
void BindTestMethods(OsaConversation* conversation, OsaConversationMode mode) {
  JrCreateBindings();
  JrBindMethod("Test_Ask", TestAsk);
  JrBindMethod("Test_Echo", TestEcho);
  JrInitService(&gService, nullptr);
  OsaSendThrough(&gService, conversation, mode);
}

// The live exchange without the tree, so that the client parses the text.
const char* LiveSendText(void* context, const char* request) {
  OsaConversation* conversation = static_cast<OsaConversation*>(context);
  return OsaLiveExchange(&conversation->transport, &conversation->waits, request, nullptr);
}

// The debugger's end of the two pipes, with the message loop running on a
// large-stack thread at the plug-in's end.
struct LiveConversation {
  int toPlugin = -1;
  int fromPlugin = -1;
  std::string received;
  std::int32_t loopResult = -1;
  std::vector<HistoryLogEntry> history;  // the loop thread's, once it ended
  std::unique_ptr<OsaConversation> conversation = std::make_unique<OsaConversation>();
  std::thread loop;

  // `parsed`: the client takes answers from the exchange's parsed trees.
  explicit LiveConversation(bool parsed = true) {
    std::signal(SIGPIPE, SIG_IGN);
    int in[2];
    int out[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    toPlugin = in[1];
    fromPlugin = out[0];
    conversation->transport.input = in[0];
    conversation->transport.output = out[1];
    BindTestMethods(conversation.get(), OsaConversationMode::kLive);
    if (!parsed) {
      gService.sendParsed = nullptr;
      gService.sendWithContext = LiveSendText;
    }
    loop = std::thread([this, input = in[0], output = out[1]] {
      EXPECT_TRUE(OsaRunOnLargeStack(
          [](void* pointer) {
            LiveConversation* self = static_cast<LiveConversation*>(pointer);
            HistoryLogClear();
            self->loopResult = OsaRunMessageLoop(&self->conversation->transport);
            self->history = HistoryLogEntries();
          },
          this));
      close(input);
      close(output);
    });
  }

  void Send(const std::string& text) const {
    ASSERT_EQ(write(toPlugin, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  std::string Receive() {
    for (;;) {
      std::size_t end = 0;
      if (OsaFrameFirstObject(received.data(), received.size(), &end)) {
        std::string message = received.substr(0, end);
        received.erase(0, end);
        return message;
      }
      pollfd ready{fromPlugin, POLLIN, 0};
      if (poll(&ready, 1, 10000) <= 0) return "<timeout>";
      char chunk[4096];
      const ssize_t count = read(fromPlugin, chunk, sizeof(chunk));
      if (count <= 0) return "<end>";
      received.append(chunk, static_cast<std::size_t>(count));
    }
  }

  // Ends the input and waits for the loop.
  std::int32_t Finish() {
    if (toPlugin >= 0) close(toPlugin);
    toPlugin = -1;
    loop.join();
    if (fromPlugin >= 0) close(fromPlugin);
    fromPlugin = -1;
    return loopResult;
  }

  // The texts the loop recorded on `channel`.
  std::vector<std::string> Records(const char* channel) const {
    std::vector<std::string> texts;
    for (const HistoryLogEntry& entry : history) {
      if (entry.channel == channel) texts.push_back(entry.text);
    }
    return texts;
  }
};

TEST(LiveExchange, ServesDebuggerRequestWhileWaiting) {
  LiveConversation debugger;
  debugger.Send(Request("Test_Ask", 1));
  EXPECT_EQ(debugger.Receive(), ServiceRequest(0));
  debugger.Send(Request("Test_Echo", 2));
  EXPECT_EQ(debugger.Receive(), EchoResponse(2));
  debugger.Send(Answer(5, 0));
  EXPECT_EQ(debugger.Receive(), AskResponse(1, 5));
  EXPECT_EQ(debugger.Finish(), 0);
  EXPECT_EQ(debugger.Records("OSA__JSON__Write"),
            (std::vector<std::string>{ServiceRequest(0), EchoResponse(2), AskResponse(1, 5)}));
  EXPECT_EQ(debugger.Records("OSA__Info"),
            std::vector<std::string>{"Exit with 0 (invalid request)"});
}

struct AnswerCase {
  std::string answer;
  std::string response;  // to Test_Ask with id 1
};

// The answer's tree, handed over by the exchange, serves the client exactly
// as the answer's text does: values, errors, texts that do not parse, and a
// request served meanwhile.
TEST(LiveExchange, ParsedAnswersServeTheClientAsTextsDo) {
  const std::string failed = R"({ "jsonrpc" : "2.0", "result" : { "ok" : 0 }, "id" : 1 })";
  const AnswerCase rows[] = {
      {Answer(7, 0), AskResponse(1, 7)},
      {R"({ "result" : 7 })", AskResponse(1, 7)},
      {R"({ "error" : { "message" : "no" }, "result" : 7 })", failed},
      {R"({ "result" : 7, })", failed},  // does not parse
      {R"({ "id" : 0 })", R"({ "jsonrpc" : "2.0", "result" : { "ok" : 1 }, "id" : 1 })"},
  };
  for (const bool parsed : {false, true}) {
    for (const AnswerCase& row : rows) {
      LiveConversation debugger(parsed);
      debugger.Send(Request("Test_Ask", 1));
      EXPECT_EQ(debugger.Receive(), ServiceRequest(0));
      debugger.Send(Request("Test_Echo", 2));
      EXPECT_EQ(debugger.Receive(), EchoResponse(2));
      debugger.Send(row.answer);
      EXPECT_EQ(debugger.Receive(), row.response) << row.answer;
      EXPECT_EQ(debugger.Finish(), 0);
    }
  }
}

TEST(LiveExchange, TooDeepNestedRequestIsRefused) {
  LiveConversation debugger;
  debugger.Send(Request("Test_Ask", 1000));
  int depth = 0;
  std::string message = debugger.Receive();
  while (message == ServiceRequest(depth)) {
    ++depth;
    debugger.Send(Request("Test_Ask", 1000 + depth));
    message = debugger.Receive();
  }
  EXPECT_EQ(depth, kOsaMaxExchangeDepth);
  EXPECT_EQ(message,
            "{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : -32603, \"message\" : \"request "
            "nesting too deep\"}, \"id\" : " +
                std::to_string(1000 + depth) + " }");
  // Innermost first: the answer to each service request ends one Test_Ask.
  for (int level = depth; level > 0; --level) {
    debugger.Send(Answer(level, level - 1));
    EXPECT_EQ(debugger.Receive(), AskResponse(1000 + level - 1, level));
  }
  EXPECT_EQ(debugger.conversation->waits.depth, 0);
  EXPECT_EQ(debugger.Finish(), 0);
}

TEST(LiveExchange, UnwritableNestedResponseFailsTheWait) {
  testing::internal::CaptureStderr();
  LiveConversation debugger;
  debugger.Send(Request("Test_Ask", 1));
  EXPECT_EQ(debugger.Receive(), ServiceRequest(0));
  close(debugger.fromPlugin);
  debugger.fromPlugin = -1;
  debugger.Send(Request("Test_Echo", 2));
  // The wait yields a failure, and the outer response cannot be written.
  EXPECT_EQ(debugger.Finish(), 3);
  EXPECT_EQ(debugger.Records("OSA__Info"),
            std::vector<std::string>{"Exit with 3 (failed to send response)"});
  const std::string error = testing::internal::GetCapturedStderr();
  EXPECT_EQ(error, "OSA plugin: Failed to send response: " + EchoResponse(2) +
                       " (err 32)OSA plugin: Failed to send response: { \"jsonrpc\" : \"2.0\", "
                       "\"result\" : { \"ok\" : 0 }, \"id\" : 1 } (err 32)");
}

TEST(LiveExchange, EndOfInputDuringWaitFailsTheRequest) {
  testing::internal::CaptureStderr();
  LiveConversation debugger;
  debugger.Send(Request("Test_Ask", 1));
  EXPECT_EQ(debugger.Receive(), ServiceRequest(0));
  debugger.Send("{ \"partial\" : ");
  close(debugger.toPlugin);
  debugger.toPlugin = -1;
  EXPECT_EQ(debugger.Receive(),
            "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"ok\" : 0 }, \"id\" : 1 }");
  EXPECT_EQ(debugger.Finish(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "OSA plugin: Failed to get valid resonse: { \"partial\" : ");
}

struct StrayCase {
  std::string stray;
  std::string report;  // the line each skipped run gives
};

// Stray bytes after a message at the top level, as a whole answer, and after
// a request inside a wait: each run is skipped with one report line, and
// the next message is served.
TEST(LiveExchange, StrayBytesAreSkippedUpToTheNextMessage) {
  const std::string skipped = "OSA plugin: Skipped input between messages ";
  const StrayCase rows[] = {
      {" x", skipped + "(1 bytes): \"x\"\n"},
      {";", skipped + "(1 bytes): \";\"\n"},
      {"]", skipped + "(1 bytes): \"]\"\n"},
      {"\f", skipped + "(1 bytes): \"\\x0C\"\n"},
      {"\v", skipped + "(1 bytes): \"\\x0B\"\n"},
      {"not \"json\"\n", skipped + "(11 bytes): \"not \\\"json\\\"\\x0A\"\n"},
  };
  for (const StrayCase& row : rows) {
    testing::internal::CaptureStderr();
    LiveConversation debugger;
    debugger.Send(Request("Test_Echo", 1) + row.stray);
    EXPECT_EQ(debugger.Receive(), EchoResponse(1));
    debugger.Send(Request("Test_Ask", 2));
    EXPECT_EQ(debugger.Receive(), ServiceRequest(0));
    debugger.Send(row.stray);
    debugger.Send(Request("Test_Echo", 3) + row.stray);
    EXPECT_EQ(debugger.Receive(), EchoResponse(3));
    debugger.Send(Answer(5, 0));
    EXPECT_EQ(debugger.Receive(), AskResponse(2, 5));
    EXPECT_EQ(debugger.Finish(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.report + row.report + row.report)
        << "stray: " << row.stray;
  }
}

// An answer longer than the receive buffer fails its request; the message
// after it frames as usual.
TEST(LiveExchange, OversizeAnswerFailsTheRequestAndStepIsKept) {
  const std::string answer = "{ \"result\" : \"" + std::string(69971, '}') + "\\\"\", \"id\" : 0 }";
  ASSERT_EQ(answer.size(), 70000u);
  testing::internal::CaptureStderr();
  LiveConversation debugger;
  debugger.Send(Request("Test_Ask", 1));
  EXPECT_EQ(debugger.Receive(), ServiceRequest(0));
  debugger.Send(answer);
  EXPECT_EQ(debugger.Receive(),
            "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"ok\" : 0 }, \"id\" : 1 }");
  debugger.Send(Request("Test_Echo", 2));
  EXPECT_EQ(debugger.Receive(), EchoResponse(2));
  EXPECT_EQ(debugger.Finish(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "OSA plugin: Skipped a message longer than 65535 bytes (70000 bytes): \"{ "
            "\\\"result\\\" : \\\"" +
                std::string(34, '}') + "\"...\n");
}

// Playback of a record stream in-process; returns the result and the report.
std::int32_t Play(const std::string& record, bool ignoreError, std::string* report,
                  int maxDepth = kOsaMaxExchangeDepth) {
  const auto conversation = std::make_unique<OsaConversation>();
  conversation->playback.ignoreError = ignoreError;
  conversation->waits.maxDepth = maxDepth;
  BindTestMethods(conversation.get(), OsaConversationMode::kPlayback);
  std::istringstream stream(record);
  testing::internal::CaptureStdout();
  const std::int32_t result = OsaPlaybackRun(&conversation->playback, stream, "test.rec");
  std::fflush(stdout);
  *report = testing::internal::GetCapturedStdout();
  return result;
}

TEST(PlaybackExchange, ServesRecordedNestedRequest) {
  const std::string record = "VEXLO: " + Request("Test_Ask", 1) + "\nPLUGIN: " + ServiceRequest(0) +
                             "\nVEXLO: " + Request("Test_Echo", 2) +
                             "\nPLUGIN: " + EchoResponse(2) + "\nVEXLO: " + Answer(5, 0) +
                             "\nPLUGIN: " + AskResponse(1, 5) + "\n";
  std::string report;
  EXPECT_EQ(Play(record, false, &report), 0);
  EXPECT_EQ(report, "Successfully played back all 6 lines from test.rec.\n");
}

// The cap is the conversation's own: a nested request beyond it is refused
// in playback too, and the refusal is compared with the record.
TEST(PlaybackExchange, NestedRequestBeyondTheCapIsRefused) {
  const std::string refusal =
      "{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : -32603, \"message\" : \"request "
      "nesting too deep\"}, \"id\" : 2 }";
  const std::string record = "VEXLO: " + Request("Test_Ask", 1) + "\nPLUGIN: " + ServiceRequest(0) +
                             "\nVEXLO: " + Request("Test_Echo", 2) + "\nPLUGIN: " + refusal +
                             "\nVEXLO: " + Answer(5, 0) + "\nPLUGIN: " + AskResponse(1, 5) + "\n";
  std::string report;
  EXPECT_EQ(Play(record, false, &report, 1), 0) << report;
}

TEST(PlaybackExchange, DifferingNestedResponseIsReportedAndRunGoesOn) {
  const std::string record = "VEXLO: " + Request("Test_Ask", 1) + "\nPLUGIN: " + ServiceRequest(0) +
                             "\nVEXLO: " + Request("Test_Echo", 2) +
                             "\nPLUGIN: " + EchoResponse(3) + "\nVEXLO: " + Answer(5, 0) +
                             "\nPLUGIN: " + AskResponse(1, 5) + "\n";
  std::string report;
  EXPECT_EQ(Play(record, false, &report), 4);
  EXPECT_EQ(report, "Got different result to VEXLO on line 4:\n" + EchoResponse(2) + "\n");
}

struct IgnoreCase {
  bool ignoreError;
  std::string report;
};

TEST(PlaybackExchange, IgnoreErrorGoesOnPastExchangeMismatch) {
  // The plug-in's service request differs (id 7 recorded); the top-level
  // response matches; the second top-level response is recorded wrong.
  const std::string record = "VEXLO: " + Request("Test_Ask", 1) + "\nPLUGIN: " + ServiceRequest(7) +
                             "\nVEXLO: " + Answer(5, 7) + "\nPLUGIN: " + AskResponse(1, 5) +
                             "\nVEXLO: " + Request("Test_Echo", 3) + "\nPLUGIN: wrong\n";
  const std::string requestReport =
      "Got different request to VEXLO on line 2:\n" + ServiceRequest(0) + "\n";
  const IgnoreCase rows[] = {
      {false, requestReport},
      {true, requestReport + "Got different result to VEXLO on line 6:\n" + EchoResponse(3) + "\n"},
  };
  for (const IgnoreCase& row : rows) {
    std::string report;
    EXPECT_EQ(Play(record, row.ignoreError, &report), 4);
    EXPECT_EQ(report, row.report) << "ignore error: " << row.ignoreError;
  }
}

TEST(PlaybackExchange, MissingAnswerYieldsFailure) {
  const std::string record =
      "VEXLO: " + Request("Test_Ask", 1) + "\nPLUGIN: " + ServiceRequest(0) + "\n";
  std::string report;
  EXPECT_EQ(Play(record, false, &report), 4);
  EXPECT_EQ(report,
            "Expect a message from VEXLO at line 3\nExpect a message from PLUGIN at line 3\n"
            "Got different result to VEXLO on line 2:\n{ \"jsonrpc\" : \"2.0\", \"result\" : { "
            "\"ok\" : 0 }, \"id\" : 1 }\n");
}

}  // namespace
