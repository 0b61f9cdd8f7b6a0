// Sessions with the plug-in: the real osa_plugin over pipes and the linked
// plug-in in-process, records that the plug-in's playback accepts, plug-ins
// that are broken (silent, absent, writing garbage) failing fast, and the
// debugger's own bound on walks of an object ring. The other client calls are
// exercised by the kernel tests, which talk through them.
#include "debugger/session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>

#include "debugger/client_calls.h"
#include "model/kernel_builder.h"
#include "simple_json/json_parse.h"
#include "tests/plugin/child_pipes.h"

namespace {

class Sessions : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(model::BuildKernelModel("v1-mask-core-32", &targetModel, &error)) << error;
  }
  model::TargetModel targetModel;
};

// Both transports hold the whole conversation until the plug-in exits with
// zero, and what they record plays back with "osa_plugin -file".
TEST_F(Sessions, RecordsOfBothTransportsPlayBack) {
  for (const DbgTransport transport : {DbgTransport::kPipe, DbgTransport::kInProcess}) {
    DbgSessionOptions options;
    options.transport = transport;
    options.pluginPath = OSA_PLUGIN_PATH;
    options.record = true;
    std::unique_ptr<DbgSession> session;
    std::string error;
    ASSERT_TRUE(DbgSessionOpen(options, &targetModel, &session, &error)) << error;
    DbgOsaInitAnswer init;
    ASSERT_EQ(DbgOsaInit(session.get(), 1, &init), 0) << session->lastError;
    EXPECT_EQ(init.versionAcknowledge, 2u);
    EXPECT_TRUE(DbgOffersCommand(init, "OSA_Client_Exit"));
    DbgTargetInitAnswer target;
    EXPECT_EQ(DbgTargetInit(session.get(), 1, false, &target), 0) << session->lastError;
    EXPECT_EQ(DbgTargetCleanup(session.get(), 1), 0);
    EXPECT_EQ(DbgOsaCleanup(session.get(), 1), 0);
    std::int32_t exitCode = -1;
    EXPECT_EQ(DbgExit(session.get(), &exitCode), 0) << session->lastError;
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(DbgSessionClose(session.get()), 0);
    // Five requests and their answers, and the service exchanges in between.
    EXPECT_GE(session->recordLines, 10u);
    EXPECT_EQ(session->record.rfind("VEXLO: { \"jsonrpc\" : \"2.0\", \"method\" : "
                                    "\"OSA_Client_OsaInit\", \"params\" : { \"context\" : 1 }, "
                                    "\"id\" : 1 }\nPLUGIN: ",
                                    0),
              0u);
    const std::string path = testing::TempDir() + "osa_dbg_session.rec";
    std::ofstream(path, std::ios::binary) << session->record;
    std::string output;
    EXPECT_EQ(ChildPipesRun(OSA_PLUGIN_PATH, {"-file", path}, {}, &output, &error), 0) << error;
    EXPECT_EQ(output.rfind("Successfully played back all " + std::to_string(session->recordLines) +
                               " lines from " + path,
                           0),
              0u)
        << output;
    std::remove(path.c_str());
  }
}

TEST_F(Sessions, OneInProcessSessionAtATime) {
  std::unique_ptr<DbgSession> first;
  std::unique_ptr<DbgSession> second;
  std::string error;
  ASSERT_TRUE(DbgSessionOpen(DbgSessionOptions{}, &targetModel, &first, &error)) << error;
  EXPECT_FALSE(DbgSessionOpen(DbgSessionOptions{}, &targetModel, &second, &error));
  EXPECT_EQ(error, "an in-process session is already open");
  first.reset();
  EXPECT_TRUE(DbgSessionOpen(DbgSessionOptions{}, &targetModel, &second, &error)) << error;
}

// A plug-in that cannot start fails the open; one that is silent, gone at
// once or writes garbage fails its first call within the timeout, and a
// broken session sends nothing more.
TEST_F(Sessions, ABrokenPluginFailsTheCallInsteadOfHanging) {
  DbgSessionOptions options;
  options.transport = DbgTransport::kPipe;
  options.pluginPath = "/nonexistent/osa_plugin";
  std::unique_ptr<DbgSession> session;
  std::string error;
  EXPECT_FALSE(DbgSessionOpen(options, &targetModel, &session, &error));
  EXPECT_EQ(error, "cannot start /nonexistent/osa_plugin: No such file or directory");
  EXPECT_EQ(session, nullptr);

  const struct {
    std::string path;
    std::vector<std::string> arguments;
    std::string reason;
  } cases[] = {
      {"/bin/sleep", {"30"}, "waiting for the plug-in: timed out"},
      {"/bin/true", {}, ""},
      {"/bin/sh",
       {"-c", "echo hello; exec sleep 30"},
       "waiting for the plug-in: the plug-in wrote something that is not a message"},
  };
  for (const auto& row : cases) {
    options.pluginPath = row.path;
    options.pluginArguments = row.arguments;
    options.timeout = std::chrono::milliseconds(300);
    ASSERT_TRUE(DbgSessionOpen(options, &targetModel, &session, &error)) << row.path << error;
    const auto start = std::chrono::steady_clock::now();
    DbgOsaInitAnswer init;
    EXPECT_EQ(DbgOsaInit(session.get(), 1, &init), kDbgNoAnswer) << row.path;
    EXPECT_TRUE(session->broken) << row.path;
    if (!row.reason.empty()) {
      EXPECT_EQ(session->lastError, row.reason) << row.path;
    }
    EXPECT_EQ(DbgOsaCleanup(session.get(), 1), kDbgNoAnswer) << row.path;
    EXPECT_EQ(session->lastError, "the conversation with the plug-in has already failed");
    session.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << row.path;
  }
}

// Messages come out one at a time whatever the reads cut them into: several
// in one write, blanks around them, one split over two writes (once right
// after an inner object); a byte that cannot begin a message after them is
// garbage, an end after them is kClosed. Each row is read twice: by the two
// plain receives in turn, and with the parse handed over, which must frame
// alike and give a tree exactly for the texts that are JSON.
TEST_F(Sessions, ReceivesTheMessagesOfAPipeOneByOne) {
  const struct {
    std::string script;
    std::vector<std::string> messages;
    DbgIoStatus end;
  } rows[] = {
      {"printf '{\"a\":1}  \\n{\"b\":[2]}\\n'", {"{\"a\":1}", "{\"b\":[2]}"}, DbgIoStatus::kClosed},
      {"printf '\\n {\"a\":\"}\"}{}'", {"{\"a\":\"}\"}", "{}"}, DbgIoStatus::kClosed},
      {"printf '{\"a\":1'; sleep 0.2; printf '}\\n{\"b\":2}'",
       {"{\"a\":1}", "{\"b\":2}"},
       DbgIoStatus::kClosed},
      {"printf '{\"a\":{\"b\":1}'; sleep 0.2; printf '}{\"c\":}'",
       {"{\"a\":{\"b\":1}}", "{\"c\":}"},
       DbgIoStatus::kClosed},
      {"printf '{\"a\":1} x'", {"{\"a\":1}"}, DbgIoStatus::kGarbage},
      // Longer than a read, after a short one and before another: the buffer
      // moves and grows under them.
      {"printf '{\"b\":2}{\"a\":\"'; head -c 300000 /dev/zero | tr '\\0' x; printf '\"}{\"c\":3}'",
       {"{\"b\":2}", "{\"a\":\"" + std::string(300000, 'x') + "\"}", "{\"c\":3}"},
       DbgIoStatus::kClosed},
  };
  for (const bool parsed : {false, true}) {
    for (const auto& row : rows) {
      DbgPluginProcess process;
      std::string error;
      ASSERT_TRUE(DbgPluginStart("/bin/sh", {"-c", row.script}, &process, &error)) << error;
      const std::chrono::milliseconds timeout(2000);
      for (std::size_t index = 0; index < row.messages.size(); ++index) {
        std::string copied;
        std::string_view lent;
        JsonPtr tree;
        DbgIoStatus status;
        if (parsed) {
          status = DbgPluginReceiveParsed(&process, &lent, &tree, timeout);
          copied = lent;
        } else if (index % 2 == 0) {
          status = DbgPluginReceiveView(&process, &lent, timeout);
          copied = lent;
        } else {
          status = DbgPluginReceive(&process, &copied, timeout);
        }
        ASSERT_EQ(status, DbgIoStatus::kOk) << row.script;
        EXPECT_EQ(copied, row.messages[index]) << row.script;
        if (parsed) {
          EXPECT_EQ(tree != nullptr, JsonParse(copied, nullptr) != nullptr) << copied;
        }
      }
      std::string_view rest;
      EXPECT_EQ(DbgPluginReceiveView(&process, &rest, timeout), row.end) << row.script;
      (void)DbgPluginFinish(&process, timeout);
    }
  }
}

// A receive gives up once its timeout has passed since it began: with part
// of a message, and with blanks that keep coming (each read must not start
// the wait afresh).
TEST_F(Sessions, AReceiveTimesOutOnceItsTimeHasPassed) {
  const std::chrono::milliseconds timeout(250);
  const char* const scripts[] = {
      "printf '{\"a\"'; exec sleep 3",
      "for i in 1 2 3 4 5 6 7 8 9 10 11 12; do printf ' '; sleep 0.1; done; exec sleep 3",
  };
  for (const char* script : scripts) {
    DbgPluginProcess process;
    std::string error;
    ASSERT_TRUE(DbgPluginStart("/bin/sh", {"-c", script}, &process, &error)) << error;
    std::string_view message;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DbgPluginReceiveView(&process, &message, timeout), DbgIoStatus::kTimeout) << script;
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, timeout - std::chrono::milliseconds(10)) << script;
    EXPECT_LT(waited, 4 * timeout) << script;
    (void)DbgPluginFinish(&process, std::chrono::milliseconds(0));
  }
}

// The last task's link points at the second task, so a walk of the task
// ring never gets back to where it started: the plug-in ends the walk when
// the second task comes round again, each task shown once.
TEST_F(Sessions, AWalkOfARingThatNeverClosesShowsEachObjectOnce) {
  std::unique_ptr<DbgSession> session;
  std::string error;
  ASSERT_TRUE(DbgSessionOpen(DbgSessionOptions{}, &targetModel, &session, &error)) << error;
  DbgOsaInitAnswer init;
  ASSERT_EQ(DbgOsaInit(session.get(), 1, &init), 0) << session->lastError;
  DbgTargetInitAnswer target;
  ASSERT_EQ(DbgTargetInit(session.get(), 1, false, &target), 0) << session->lastError;
  const auto& tasks = targetModel.manifest.tasks;
  ASSERT_GE(tasks.size(), 3u);
  const std::string link = "&((struct QX_OBJECT_STRUCT *)" +
                           std::to_string(tasks.back().coreAddress) + ")->created.next";
  std::uint64_t address = 0;
  ASSERT_TRUE(model::ModelEvaluate(targetModel, link, &address, nullptr));
  ASSERT_TRUE(model::MemoryWriteValue(&targetModel.memory, address, 4, tasks[1].coreAddress));

  std::uint32_t visits = 0;
  const auto count = [&] {
    ++visits;
    return true;
  };
  EXPECT_EQ(DbgObjectListWalk(session.get(), 1, 1, count), DbgWalkEnd::kEnded);
  EXPECT_EQ(visits, tasks.size());
  // An intact type walks to its end, and a visitor can stop a walk.
  visits = 0;
  EXPECT_EQ(DbgObjectListWalk(session.get(), 1, 2, count), DbgWalkEnd::kEnded);
  EXPECT_GT(visits, 0u);
  EXPECT_EQ(DbgObjectListWalk(session.get(), 1, 2, [] { return false; }), DbgWalkEnd::kFailed);
  EXPECT_EQ(DbgTargetCleanup(session.get(), 1), 0);
  EXPECT_EQ(DbgOsaCleanup(session.get(), 1), 0);
}

}  // namespace
