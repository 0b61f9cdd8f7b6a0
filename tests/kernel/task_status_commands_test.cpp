// Task names and states, the running task, thread-local-storage offsets and
// their cache across target notices, the "get_task_table" command and the
// object windows per kernel variant, through the whole plug-in against the
// model kernels.
#include <string>
#include <vector>

#include "tests/kernel/attributes_session.h"

namespace attributes_test {
namespace {

class TaskStatusTest : public KernelSessionTest {
 protected:
  const model::ManifestTask& TaskNamed(const std::string& name) {
    for (const model::ManifestTask& task : M().tasks) {
      if (task.name == name) return task;
    }
    ADD_FAILURE() << name;
    return M().tasks.front();
  }
  const model::ManifestTask& Running() {
    for (const model::ManifestTask& task : M().tasks) {
      if (task.running) return task;
    }
    ADD_FAILURE() << "no running task";
    return M().tasks.front();
  }
};

TEST_F(TaskStatusTest, EveryStatusCodeHasItsTextOnBothVersions) {
  struct Row {
    std::uint32_t code;
    const char* version1;
    const char* version3;
  };
  const Row rows[] = {
      {0, "Ready", "Ready"},
      {1, "Exited", "Exited"},
      {2, "Halted", "Halted"},
      {3, "Pended (sleep)", "Pended (sleep)"},
      {4, "Pended (queue)", "Pended (queue)"},
      {5, "Pended (semaphore)", "Pended (semaphore)"},
      {6, "Pended (event flags)", "Pended (event flags)"},
      {7, "Pended (block pool)", "Pended (mutex)"},
      {8, "Pended (mutex)", "Pended (mutex)"},
      {9, "Pended (malloc pool)", "Pended (malloc pool)"},
      {10, "Unknown", "Unknown"},
      {12, "Unknown", "Unknown"},
      {0xFFFFFFFF, "Unknown", "Unknown"},
  };
  for (const char* variant : {"v1-mask-core-32", "v3-32"}) {
    SCOPED_TRACE(variant);
    Open(variant);
    const model::ManifestTask& task = TaskNamed("sleeper");
    const model::ManifestTask& running = Running();
    for (const Row& row : rows) {
      WriteMember("QX_TASK", task.address, "status", row.code);
      WriteMember("QX_TASK", running.address, "status", row.code);
      std::string text;
      ASSERT_EQ(DbgTaskStatusGet(S(), kContext, task.address, &text), 0);
      EXPECT_EQ(text, M().version == 3 ? row.version3 : row.version1) << row.code;
      ASSERT_EQ(DbgTaskStatusGet(S(), kContext, running.address, &text), 0);
      EXPECT_EQ(text, row.code == 0 ? "Running" : (M().version == 3 ? row.version3 : row.version1));
    }
    EXPECT_TRUE(Messages().empty());
  }
}

TEST_F(TaskStatusTest, NamesAndTheCurrentTaskComeFromTheKernel) {
  for (const char* variant : {"v1-list-core-32-be", "v3-64"}) {
    SCOPED_TRACE(variant);
    Open(variant);
    for (const model::ManifestTask& task : M().tasks) {
      std::string name;
      EXPECT_EQ(DbgTaskNameGet(S(), kContext, task.address, &name), 0);
      EXPECT_EQ(name, task.name);
    }
    std::uint64_t current = 0;
    EXPECT_EQ(DbgCurrentTaskGet(S(), kContext, &current), 0);
    EXPECT_EQ(current, M().runningTask);
  }
}

TEST_F(TaskStatusTest, TlsOffsetsAreCachedUntilTheTargetRuns) {
  Open("v1-mask-core-32");
  ASSERT_NE(M().tlsRwStart, 0u);
  for (const model::ManifestTask& task : M().tasks) {
    std::int64_t offset = 0;
    EXPECT_EQ(DbgTaskLsoGet(S(), kContext, task.address, &offset), 0);
    EXPECT_EQ(offset, task.tlsOffset) << task.name;
  }
  const model::ManifestTask& task = TaskNamed("net_worker");
  ASSERT_FALSE(task.onStartupStack);
  WriteMember("QX_TASK", task.address, "stack_size", task.stackSize + 64);
  std::int64_t offset = 0;
  ASSERT_EQ(DbgTaskLsoGet(S(), kContext, task.address, &offset), 0);
  EXPECT_EQ(offset, task.tlsOffset) << "cached";
  ASSERT_EQ(DbgTargetNotify(S(), kContext, 1), 0);
  ASSERT_EQ(DbgTaskLsoGet(S(), kContext, task.address, &offset), 0);
  EXPECT_EQ(offset, task.tlsOffset) << "kept by notice 1";
  ASSERT_EQ(DbgTargetNotify(S(), kContext, 0), 0);
  ASSERT_EQ(DbgTaskLsoGet(S(), kContext, task.address, &offset), 0);
  EXPECT_EQ(offset, task.tlsOffset + 64) << "computed again after notice 0";
  EXPECT_TRUE(Messages().empty());
}

TEST_F(TaskStatusTest, AVersion3KernelWithoutStaticPriorityShowsNoErrorForTheStartupTask) {
  Open("v3-32");
  ASSERT_NE(M().tlsRwStart, 0u);
  ASSERT_FALSE(M().hasStaticPriority);
  for (const model::ManifestTask& task : M().tasks) {
    std::int64_t offset = 0;
    EXPECT_EQ(DbgTaskLsoGet(S(), kContext, task.address, &offset), 0);
    EXPECT_EQ(offset, task.tlsOffset) << task.name;
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(TaskStatusTest, TheTaskTableListsOneEntryPerMaskBit) {
  for (const char* variant : {"v1-mask-core-32", "v1-list-union-64", "v3-64"}) {
    SCOPED_TRACE(variant);
    Open(variant);
    JsonPtr result;
    ASSERT_EQ(DbgOsaCmdExecute(S(), kContext, "get_task_table", &result), 0);
    const JsonValue* table = nullptr;
    ASSERT_TRUE(JsonObjectGet(result.get(), "task_table", &table));
    ASSERT_EQ(table->kind, JsonKind::JsonArray);
    ASSERT_EQ(table->count(), M().maxTasks);
    for (std::uint32_t i = 0; i < M().maxTasks; ++i) {
      EXPECT_EQ(table->elements[i]->number,
                static_cast<std::int64_t>(
                    Evaluate("qx_kernel_sched_info.static_task_array[" + std::to_string(i) + "]")));
    }
    for (const model::ManifestTask& task : M().tasks) {
      EXPECT_EQ(table->elements[task.number]->number, task.address) << task.name;
    }
  }
}

TEST_F(TaskStatusTest, OtherCommandsAndACorruptedMaskWidthAddNothing) {
  Open("v1-mask-core-64");
  for (const char* command : {"get_task_table ", "GET_TASK_TABLE", "", "help"}) {
    JsonPtr result;
    EXPECT_EQ(DbgOsaCmdExecute(S(), kContext, command, &result), 0) << command;
    EXPECT_LT(JsonObjectIndexOf(result.get(), "task_table"), 0) << command;
  }
  // A record whose mask width is neither one nor two words is not trusted
  // with the loop bound: the command fails at once.
  ASSERT_NE(Kernel(), nullptr);
  Kernel()->maskWords = 0x10000;
  const std::uint64_t before = S()->service.answered;
  JsonPtr result;
  EXPECT_EQ(DbgOsaCmdExecute(S(), kContext, "get_task_table", &result), 1);
  EXPECT_LT(JsonObjectIndexOf(result.get(), "task_table"), 0);
  EXPECT_EQ(S()->service.answered, before);
}

class GuiByVariant : public KernelSessionTest,
                     public testing::WithParamInterface<std::string_view> {};

TEST_P(GuiByVariant, WindowsFollowTheKernelLayout) {
  Open(GetParam());
  const bool list = M().pendIsList;
  const char* const kListNames[] = {"Task", "Timer", "Mutex"};
  for (std::int32_t type = 1; type <= 11; ++type) {
    bool visible = true;
    std::string name = "window " + std::to_string(type);
    if ((type == 7 || type == 8) && !M().hasPoolCore) visible = false;
    if (!list && type >= 9) visible = false;
    if (list && type <= 3) visible = false;
    if (list && type >= 9) name = kListNames[type - 9];
    std::string shownName;
    std::int32_t shownVisible = -1;
    ASSERT_EQ(DbgGuiObjectCheck(S(), kContext, "window " + std::to_string(type), type, 1,
                                &shownName, &shownVisible),
              0);
    EXPECT_EQ(shownName, name) << type;
    EXPECT_EQ(shownVisible, visible ? 1 : 0) << type;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, GuiByVariant, testing::ValuesIn(model::KernelVariantNames()),
                         [](const testing::TestParamInfo<std::string_view>& info) {
                           std::string name(info.param);
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace attributes_test
