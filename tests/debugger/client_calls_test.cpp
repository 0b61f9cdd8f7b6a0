// The debugger's client requests against the linked plug-in and a model
// kernel: task methods, the plug-in's command, window choices, a register
// write that must reach the task's stack in target memory, and the bound on
// walks of a corrupted object ring.
#include "debugger/client_calls.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "model/kernel_builder.h"

namespace {

constexpr std::int64_t kContext = 1;

class ClientCalls : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(model::BuildKernelModel("v1-mask-core-32", &model_, &error)) << error;
    DbgSessionOptions options;
    ASSERT_TRUE(DbgSessionOpen(options, &model_, &session_, &error)) << error;
    DbgOsaInitAnswer init;
    ASSERT_EQ(DbgOsaInit(session_.get(), kContext, &init), 0) << session_->lastError;
    if (!DbgOffersKernelAwareness(init)) GTEST_SKIP() << "the plug-in offers no kernel awareness";
    DbgTargetInitAnswer target;
    ASSERT_EQ(DbgTargetInit(session_.get(), kContext, false, &target), 0);
  }

  void TearDown() override {
    if (session_ == nullptr) return;
    EXPECT_EQ(DbgTargetCleanup(session_.get(), kContext), 0);
    EXPECT_EQ(DbgOsaCleanup(session_.get(), kContext), 0);
  }

  // The first task of the manifest that is neither running nor the FPU owner.
  const model::ManifestTask& Sleeping() const {
    for (const model::ManifestTask& task : model_.manifest.tasks) {
      if (!task.running && !task.fpOwner) return task;
    }
    return model_.manifest.tasks.front();
  }

  model::TargetModel model_;
  std::unique_ptr<DbgSession> session_;
};

TEST_F(ClientCalls, TaskMethodsDescribeTheModelTasks) {
  std::uint64_t running = 0;
  ASSERT_EQ(DbgCurrentTaskGet(session_.get(), kContext, &running), 0);
  EXPECT_EQ(running, model_.manifest.runningTask);
  for (const model::ManifestTask& task : model_.manifest.tasks) {
    std::string name;
    std::string status;
    std::int64_t offset = -1;
    EXPECT_EQ(DbgTaskNameGet(session_.get(), kContext, task.address, &name), 0);
    EXPECT_EQ(name, task.name);
    EXPECT_EQ(DbgTaskStatusGet(session_.get(), kContext, task.address, &status), 0);
    EXPECT_EQ(status == "Running", task.running) << task.name << ": " << status;
    EXPECT_EQ(DbgTaskLsoGet(session_.get(), kContext, task.address, &offset), 0);
    EXPECT_EQ(offset, task.tlsOffset) << task.name;
  }
  EXPECT_EQ(DbgTargetNotify(session_.get(), kContext, 0), 0);
  EXPECT_TRUE(session_->service.messages.empty());
}

TEST_F(ClientCalls, TheTaskTableCommandAndTheWindowChoices) {
  JsonPtr result;
  ASSERT_EQ(DbgOsaCmdExecute(session_.get(), kContext, "get_task_table", &result), 0);
  const JsonValue* table = nullptr;
  ASSERT_TRUE(JsonObjectGet(result.get(), "task_table", &table));
  EXPECT_EQ(table->count(), model_.manifest.maxTasks);

  // A mask kernel shows tasks as type 1 and hides the second presentation.
  std::string name;
  std::int32_t visible = -1;
  ASSERT_EQ(DbgGuiObjectCheck(session_.get(), kContext, "Task", 1, 1, &name, &visible), 0);
  EXPECT_EQ(name, "Task");
  EXPECT_EQ(visible, 1);
  ASSERT_EQ(DbgGuiObjectCheck(session_.get(), kContext, "Task", 9, 1, &name, &visible), 0);
  EXPECT_EQ(visible, 0);
}

TEST_F(ClientCalls, ARegisterWriteLandsOnTheTaskStackAndReadsBack) {
  const model::ManifestTask& task = Sleeping();
  std::uint64_t value = 0;
  ASSERT_EQ(DbgTaskRegisterRead(session_.get(), kContext, task.address, 4, &value), 0);
  EXPECT_EQ(value, task.registers[4]);
  ASSERT_EQ(DbgTaskRegisterWrite(session_.get(), kContext, task.address, 4, 0xfeedf00d), 0);
  ASSERT_EQ(DbgTaskRegisterRead(session_.get(), kContext, task.address, 4, &value), 0);
  EXPECT_EQ(value, 0xfeedf00du);
  // The live registers belong to the running task and stay as they were.
  EXPECT_NE(model_.registers.values[4], 0xfeedf00du);
  // The computed stack pointer cannot be written.
  EXPECT_EQ(DbgTaskRegisterWrite(session_.get(), kContext, task.address, 13, 0), 1);
}

TEST_F(ClientCalls, AWalkOfARingThatNeverClosesStopsAtTheBound) {
  // The last task's link points at the second task, so the walk never gets
  // back to where it started.
  const auto& tasks = model_.manifest.tasks;
  ASSERT_GE(tasks.size(), 3u);
  char expression[128];
  std::snprintf(expression, sizeof expression, "&((struct QX_OBJECT_STRUCT *)%u)->created.next",
                tasks.back().coreAddress);
  std::uint64_t link = 0;
  ASSERT_TRUE(model::ModelEvaluate(model_, expression, &link, nullptr));
  ASSERT_TRUE(model::MemoryWriteValue(&model_.memory, link, 4, tasks[1].coreAddress));

  std::uint32_t visits = 0;
  EXPECT_EQ(DbgObjectListWalk(session_.get(), kContext, 1,
                              [&]() {
                                ++visits;
                                return true;
                              }),
            DbgWalkEnd::kBoundReached);
  EXPECT_EQ(visits, kDbgMaxWalkSteps);

  // An intact type walks to its end, and a visitor can stop a walk.
  visits = 0;
  EXPECT_EQ(DbgObjectListWalk(session_.get(), kContext, 2,
                              [&]() {
                                ++visits;
                                return true;
                              }),
            DbgWalkEnd::kEnded);
  EXPECT_GT(visits, 0u);
  EXPECT_EQ(DbgObjectListWalk(session_.get(), kContext, 2, [] { return false; }),
            DbgWalkEnd::kFailed);
}

}  // namespace
