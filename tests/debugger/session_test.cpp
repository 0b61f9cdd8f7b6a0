// Sessions with the plug-in: the real osa_plugin over pipes and the linked
// plug-in in-process, records that the plug-in's playback accepts, and
// plug-ins that are broken (silent, absent, writing garbage) failing fast.
#include "debugger/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "debugger/client_calls.h"
#include "model/kernel_builder.h"
#include "tests/plugin/child_pipes.h"

namespace {

using std::chrono::milliseconds;

class Sessions : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(model::BuildKernelModel("v1-mask-core-32", &model_, &error)) << error;
  }

  std::unique_ptr<DbgSession> Open(DbgTransport transport, bool record = false) {
    DbgSessionOptions options;
    options.transport = transport;
    options.pluginPath = OSA_PLUGIN_PATH;
    options.record = record;
    std::unique_ptr<DbgSession> session;
    std::string error;
    EXPECT_TRUE(DbgSessionOpen(options, &model_, &session, &error)) << error;
    return session;
  }

  // OsaInit, TargetInit, TargetCleanup, OsaCleanup and Exit, each answered 0.
  static void Converse(DbgSession* session) {
    DbgOsaInitAnswer init;
    ASSERT_EQ(DbgOsaInit(session, 1, &init), 0) << session->lastError;
    EXPECT_EQ(init.versionAcknowledge, 2u);
    EXPECT_TRUE(DbgOffersCommand(init, "OSA_Client_Exit"));
    DbgTargetInitAnswer target;
    EXPECT_EQ(DbgTargetInit(session, 1, false, &target), 0) << session->lastError;
    EXPECT_EQ(DbgTargetCleanup(session, 1), 0);
    EXPECT_EQ(DbgOsaCleanup(session, 1), 0);
    std::int32_t exitCode = -1;
    EXPECT_EQ(DbgExit(session, &exitCode), 0) << session->lastError;
    EXPECT_EQ(exitCode, 0);
  }

  // Plays `record` back with "osa_plugin -file" and returns its stdout.
  static std::string PlayBack(const std::string& record, int* exitCode) {
    char path[] = "/tmp/osa_dbg_recordXXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    if (fd < 0) return "";
    EXPECT_EQ(write(fd, record.data(), record.size()), static_cast<ssize_t>(record.size()));
    close(fd);
    std::string output;
    std::string error;
    *exitCode = ChildPipesRun(OSA_PLUGIN_PATH, {"-file", path}, {}, &output, &error);
    std::remove(path);
    return output;
  }

  static std::string Played(const DbgSession& session) {
    return "Successfully played back all " + std::to_string(session.recordLines) +
           " lines from /tmp/osa_dbg_record";
  }

  model::TargetModel model_;
};

TEST_F(Sessions, TalksToThePluginProcessUntilItExitsWithZero) {
  std::unique_ptr<DbgSession> session = Open(DbgTransport::kPipe);
  ASSERT_NE(session, nullptr);
  Converse(session.get());
  EXPECT_EQ(DbgSessionClose(session.get()), 0);
}

TEST_F(Sessions, RecordsOfBothTransportsPlayBack) {
  for (const DbgTransport transport : {DbgTransport::kPipe, DbgTransport::kInProcess}) {
    std::unique_ptr<DbgSession> session = Open(transport, true);
    ASSERT_NE(session, nullptr);
    Converse(session.get());
    EXPECT_EQ(DbgSessionClose(session.get()), 0);
    // Five requests and their answers, and the service exchanges in between.
    EXPECT_GE(session->recordLines, 10u);
    EXPECT_EQ(session->record.rfind("VEXLO: { \"jsonrpc\" : \"2.0\", \"method\" : "
                                    "\"OSA_Client_OsaInit\", \"params\" : { \"context\" : 1 }, "
                                    "\"id\" : 1 }\nPLUGIN: ",
                                    0),
              0u);
    int exitCode = -1;
    const std::string output = PlayBack(session->record, &exitCode);
    EXPECT_EQ(output.rfind(Played(*session), 0), 0u) << output;
    EXPECT_EQ(exitCode, 0);
  }
}

TEST_F(Sessions, OneInProcessSessionAtATime) {
  std::unique_ptr<DbgSession> first = Open(DbgTransport::kInProcess);
  ASSERT_NE(first, nullptr);
  DbgSessionOptions options;
  std::unique_ptr<DbgSession> second;
  std::string error;
  EXPECT_FALSE(DbgSessionOpen(options, &model_, &second, &error));
  EXPECT_EQ(error, "an in-process session is already open");
  first.reset();
  EXPECT_TRUE(DbgSessionOpen(options, &model_, &second, &error)) << error;
}

TEST_F(Sessions, ABrokenPluginFailsTheCallInsteadOfHanging) {
  struct Broken {
    const char* name;
    std::string path;
    std::vector<std::string> arguments;
    std::string reason;
  };
  const Broken cases[] = {
      {"silent", "/bin/sleep", {"30"}, "waiting for the plug-in: timed out"},
      {"gone at once", "/bin/true", {}, ""},
      {"not a plug-in",
       "/bin/sh",
       {"-c", "echo hello; exec sleep 30"},
       "waiting for the plug-in: the plug-in wrote "
       "something that is not a message"},
  };
  for (const Broken& row : cases) {
    DbgSessionOptions options;
    options.transport = DbgTransport::kPipe;
    options.pluginPath = row.path;
    options.pluginArguments = row.arguments;
    options.timeout = milliseconds(300);
    std::unique_ptr<DbgSession> session;
    std::string error;
    ASSERT_TRUE(DbgSessionOpen(options, &model_, &session, &error)) << row.name << error;
    const auto start = std::chrono::steady_clock::now();
    DbgOsaInitAnswer init;
    EXPECT_EQ(DbgOsaInit(session.get(), 1, &init), kDbgNoAnswer) << row.name;
    EXPECT_TRUE(session->broken) << row.name;
    if (!row.reason.empty()) {
      EXPECT_EQ(session->lastError, row.reason) << row.name;
    }
    // A broken session sends nothing more.
    EXPECT_EQ(DbgOsaCleanup(session.get(), 1), kDbgNoAnswer) << row.name;
    EXPECT_EQ(session->lastError, "the conversation with the plug-in has already failed");
    session.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << row.name;
  }
}

TEST_F(Sessions, AMissingPluginIsReportedAtOpen) {
  DbgSessionOptions options;
  options.transport = DbgTransport::kPipe;
  options.pluginPath = "/nonexistent/osa_plugin";
  std::unique_ptr<DbgSession> session;
  std::string error;
  EXPECT_FALSE(DbgSessionOpen(options, &model_, &session, &error));
  EXPECT_EQ(error, "cannot start /nonexistent/osa_plugin: No such file or directory");
  EXPECT_EQ(session, nullptr);
}

}  // namespace
