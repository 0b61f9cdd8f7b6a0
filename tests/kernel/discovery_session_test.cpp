// The kernel-awareness setup over the wire: the command list OsaInit offers
// with every kernel callback registered, and TargetInit, its refusal and its
// replacement driven by the model debugger as JSON requests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "debugger/client_calls.h"
#include "tests/kernel/kernel_harness.h"

namespace kernel_test {
namespace {

constexpr std::int64_t kContext = 1;

TEST_F(ModelTarget, OsaInitOffersTwentyCommandsInSlotOrder) {
  ASSERT_TRUE(Open("v1-mask-core-32"));
  DbgOsaInitAnswer answer;
  ASSERT_EQ(DbgOsaInit(session.get(), kContext, &answer), 0) << session->lastError;
  EXPECT_EQ(answer.versionAcknowledge, 2u);
  const std::vector<std::string> expected = {
      "OsaInit",          "OsaCleanup",        "TargetInit",     "TargetCleanup",
      "ObjectListInit",   "ObjectListCleanup", "ObjectListNext", "ObjectListAttribute",
      "TaskRegisterRead", "TaskRegisterWrite", "TaskNameGet",    "TaskStatusGet",
      "CurrentTaskGet",   "TaskLsoGet",        "Poll",           "TargetNotify",
      "OsaCmd_Execute",   "GuiObjectCheck",    "HistoryLogDump", "Exit"};
  std::vector<std::string> offered;
  for (const std::string& command : answer.commands) {
    offered.push_back(command.starts_with("OSA_Client_") ? command.substr(11) : command);
  }
  EXPECT_EQ(offered, expected);
  EXPECT_EQ(RequestsWith(R"("commandCount" : 20, )").size(), 1u);
  EXPECT_EQ(DbgOsaCleanup(session.get(), kContext), 0);
}

TEST_F(ModelTarget, TargetInitTwiceOverTheWireReleasesTheFirstRecord) {
  ASSERT_TRUE(Open("v3-64"));
  DbgOsaInitAnswer osa;
  ASSERT_EQ(DbgOsaInit(session.get(), kContext, &osa), 0);
  DbgTargetInitAnswer target;
  EXPECT_EQ(DbgTargetInit(session.get(), kContext, false, &target), 0);
  EXPECT_EQ(DbgTargetInit(session.get(), kContext, false, &target), 0);
  std::uint64_t running = 0;
  EXPECT_EQ(DbgCurrentTaskGet(session.get(), kContext, &running), 0);
  EXPECT_EQ(running, model.manifest.runningTask);
  EXPECT_EQ(DbgTargetCleanup(session.get(), kContext), 0);
  EXPECT_EQ(DbgOsaCleanup(session.get(), kContext), 0);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ModelTarget, TargetInitInResetCodeAnswersTwo) {
  ASSERT_TRUE(Open("v1-list-core-32-be"));
  model.registers.values[model::kRegPc] = Symbol("qx_cpu_reset_handler")->address + 2;
  DbgOsaInitAnswer osa;
  ASSERT_EQ(DbgOsaInit(session.get(), kContext, &osa), 0);
  DbgTargetInitAnswer target;
  EXPECT_EQ(DbgTargetInit(session.get(), kContext, true, &target), 2);
  EXPECT_EQ(Messages(), std::vector<std::string>{
                            "Error: Cannot start OSA before data and bss are initialized.\n"});
  // Without a record every kernel callback refuses.
  EXPECT_EQ(DbgObjectListInit(session.get(), kContext, 1), 1);
  EXPECT_EQ(DbgOsaCleanup(session.get(), kContext), 0);
}

}  // namespace
}  // namespace kernel_test
