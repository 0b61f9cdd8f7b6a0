// Task register access called directly, with kernel records and target
// changes that a whole session does not reach (wider register maps, other
// CPU types, frame descriptions and stacks the debugger cannot read); the
// service requests are answered from a model kernel.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "debugger/session.h"
#include "kernel/kernel_context.h"
#include "kernel/task_registers.h"
#include "model/kernel_builder.h"
#include "model/target_memory.h"
#include "osa/plugin_api.h"

namespace {

// An address the model target does not map.
constexpr std::uint32_t kUnmapped = 0xF000'0000;
// The no-FP window of the kernel's frame description, changed by the tests.
constexpr std::uint32_t kSkip = 8;
constexpr std::uint32_t kCount = 9;

class TaskRegisterEdges : public testing::Test {
 protected:
  // Builds `variant` and a kernel record as TargetInit would fill it from
  // the manifest.
  void Open(std::string_view variant) {
    session_.reset();
    std::string error;
    ASSERT_TRUE(model::BuildKernelModel(variant, &model_, &error)) << error;
    ASSERT_TRUE(DbgSessionOpen(DbgSessionOptions{}, &model_, &session_, &error)) << error;
    const model::KernelManifest& manifest = model_.manifest;
    kernel_ = KernelContext{};
    kernel_.version = manifest.version;
    kernel_.runningTask = manifest.runningTask;
    kernel_.fpTask = manifest.fpTask;
    kernel_.interruptLevel = manifest.interruptLevel;
    kernel_.regStackSize = manifest.regStackSize;
    kernel_.hasPendSv = manifest.hasPendSv;
    kernel_.registerMap.assign(manifest.registerMap.begin(), manifest.registerMap.end());
    context_.contextHandle = 1;
    context_.majorCpuType = 7;
  }

  std::int32_t Read(std::uint64_t task, std::int32_t reg, std::uint64_t* value) {
    return KernelTaskRegisterRead(&context_, &context_.info, &kernel_, task, reg, value);
  }
  std::int32_t Write(std::uint64_t task, std::int32_t reg, std::uint64_t value) {
    return KernelTaskRegisterWrite(&context_, &context_.info, &kernel_, task, reg, value);
  }

  // The first task that is neither running nor owns the FPU and whose frame
  // has or lacks FP context and a pad word as asked.
  const model::ManifestTask* QuietTask(bool fpFrame, bool padWord = false) const {
    for (const model::ManifestTask& task : model_.manifest.tasks) {
      if (!task.running && !task.fpOwner && task.fpFrame == fpFrame && task.padWord == padWord) {
        return &task;
      }
    }
    return nullptr;
  }

  void Poke(std::string_view expression, std::uint32_t size, std::uint64_t value) {
    std::uint64_t address = 0;
    std::string error;
    ASSERT_TRUE(model::ModelEvaluate(model_, expression, &address, &error)) << error;
    ASSERT_TRUE(model::MemoryWriteValue(&model_.memory, address, size, value));
  }

  // Points the task's saved stack pointer somewhere else.
  void SetSavedSp(const model::ManifestTask& task, std::uint32_t sp) {
    const std::string member = model_.manifest.version == 1 ? "stack_last" : "registers[0]";
    Poke("&((QX_TASK *)" + std::to_string(task.address) + ")->" + member, 4, sp);
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const DbgDisplayedMessage& message : session_->service.messages) {
      EXPECT_EQ(message.type, 2);
      texts.push_back(message.text);
    }
    return texts;
  }

  model::TargetModel model_;
  std::unique_ptr<DbgSession> session_;
  KernelContext kernel_;
  OSA_ServiceCntx context_;
};

using Texts = std::vector<std::string>;

TEST_F(TaskRegisterEdges, NoFpWindowShiftsCodesAndBoundsThem) {
  Open("v1-mask-core-32");
  ASSERT_FALSE(HasFatalFailure());
  Poke("&qx_cpu_reg_offset_novfp_skip", 1, kSkip);
  Poke("&qx_cpu_reg_offset_novfp_count", 1, kCount);
  const model::ManifestTask* task = QuietTask(false);
  ASSERT_NE(task, nullptr);
  // Registers 0 to 2 stand for codes 8, 9 and 17. The frame without FP
  // context holds EXC_RETURN, then r4: code 9 is word 1, i.e. r4.
  kernel_.registerMap[0] = 8;
  kernel_.registerMap[1] = 9;
  kernel_.registerMap[2] = 17;
  std::uint64_t value = 0;
  EXPECT_EQ(Read(task->address, 0, &value), 1);
  ASSERT_EQ(Read(task->address, 1, &value), 0);
  EXPECT_EQ(value, task->registers[4]);
  EXPECT_EQ(Read(task->address, 2, &value), 1);
  EXPECT_EQ(Write(task->address, 2, 0), 1);
  // Code 0 is below the window too (c - 1 wraps).
  kernel_.registerMap[0] = 0;
  EXPECT_EQ(Read(task->address, 0, &value), 1);
  // The computed stack pointer counts the window's words.
  ASSERT_EQ(Read(task->address, 13, &value), 0);
  EXPECT_EQ(value, task->savedSp + 4 * kCount);
  EXPECT_EQ(Messages(), Texts{});
}

TEST_F(TaskRegisterEdges, RunningTaskFpRegistersAreLiveOnlyWhenItOwnsTheFpu) {
  Open("v1-list-core-32");
  ASSERT_FALSE(HasFatalFailure());
  const model::ManifestTask* running = nullptr;
  for (const model::ManifestTask& task : model_.manifest.tasks) {
    if (task.running) running = &task;
  }
  ASSERT_NE(running, nullptr);
  ASSERT_FALSE(running->fpOwner);
  std::uint64_t live = 0;
  ASSERT_TRUE(model::ModelRegisterRead(model_, model::kRegS0 + 3, &live));
  ASSERT_NE(live, running->registers[model::kRegS0 + 3]);
  std::uint64_t value = 0;
  ASSERT_EQ(Read(running->address, model::kRegS0 + 3, &value), 0);
  EXPECT_EQ(value, running->registers[model::kRegS0 + 3]);
  kernel_.fpTask = running->address;
  ASSERT_EQ(Read(running->address, model::kRegS0 + 3, &value), 0);
  EXPECT_EQ(value, live);
}

TEST_F(TaskRegisterEdges, CpuType10ClearsBit0OfRegister96Only) {
  Open("v1-mask-core-32-nofpu");
  ASSERT_FALSE(HasFatalFailure());
  const model::ManifestTask* task = QuietTask(false);
  ASSERT_NE(task, nullptr);
  // Register 96 lies where pc is saved.
  kernel_.registerMap.resize(97, kRegisterNotSaved);
  kernel_.registerMap[96] = kernel_.registerMap[model::kRegPc];
  ASSERT_EQ(Write(task->address, model::kRegPc, 0x101), 0);
  const struct {
    std::uint32_t cpuType;
    std::int32_t reg;
    std::uint64_t expected;
  } cases[] = {{10, 96, 0x100}, {10, 15, 0x101}, {7, 96, 0x101}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.cpuType);
    SCOPED_TRACE(row.reg);
    context_.majorCpuType = row.cpuType;
    std::uint64_t value = 0;
    ASSERT_EQ(Read(task->address, row.reg, &value), 0);
    EXPECT_EQ(value, row.expected);
  }
}

TEST_F(TaskRegisterEdges, UnreadableTargetDataIsReportedExactly) {
  // EXC_RETURN is read from the saved context.
  Open("v1-mask-core-32");
  ASSERT_FALSE(HasFatalFailure());
  const model::ManifestTask* task = QuietTask(false);
  ASSERT_NE(task, nullptr);
  SetSavedSp(*task, kUnmapped);
  std::uint64_t value = 0x77;
  EXPECT_NE(Read(task->address, 4, &value), 0);
  EXPECT_EQ(value, 0x77u);
  EXPECT_NE(Read(task->address, 13, &value), 0);
  EXPECT_EQ(Messages(), (Texts{"Error: Unable to read exc_return value from task stack\n",
                               "Error: Unable to read exc_return value from task stack\n"}));

  // Without EXC_RETURN the register words themselves are what fails.
  Open("v1-mask-core-32-nofpu");
  ASSERT_FALSE(HasFatalFailure());
  task = QuietTask(false);
  ASSERT_NE(task, nullptr);
  SetSavedSp(*task, kUnmapped);
  EXPECT_NE(Read(task->address, 4, &value), 0);
  EXPECT_NE(Write(task->address, 4, 1), 0);
  EXPECT_EQ(value, 0x77u);
  EXPECT_EQ(Messages(), (Texts{"Error: Unable to read register value from task stack\n",
                               "Error: Unable to write register value to task stack\n"}));

  // An FP save area outside memory.
  Open("v3-32");
  ASSERT_FALSE(HasFatalFailure());
  task = QuietTask(false);
  ASSERT_NE(task, nullptr);
  Poke("&((QX_TASK *)" + std::to_string(task->address) + ")->stack_start", 4, kUnmapped);
  EXPECT_NE(Read(task->address, model::kRegS0, &value), 0);
  EXPECT_EQ(Messages(), Texts{"Error: Unable to read register value from task stack\n"});
}

TEST_F(TaskRegisterEdges, UnreadableXpsrLeavesTheStackPointerUnadjusted) {
  Open("v1-mask-core-32-nofpu");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(kernel_.hasPendSv);
  const model::ManifestTask* task = QuietTask(false);
  ASSERT_NE(task, nullptr);
  // A context size that puts the frame's top outside memory.
  kernel_.regStackSize = kUnmapped - task->savedSp;
  std::uint64_t value = 0;
  ASSERT_EQ(Read(task->address, 13, &value), 0);
  EXPECT_EQ(value, kUnmapped);
  ASSERT_EQ(Read(task->address, 66, &value), 0);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(Messages(), (Texts{"Error: Unable to read XPSR\n", "Error: Unable to read XPSR\n"}));
}

TEST_F(TaskRegisterEdges, PadWordIsCountedOnlyOnKernelsThatSwitchByException) {
  Open("v1-mask-core-32-nofpu");
  ASSERT_FALSE(HasFatalFailure());
  const model::ManifestTask* task = QuietTask(false);
  ASSERT_NE(task, nullptr);
  // Mark the stacked xPSR as aligned; the pc word tells where the frame is.
  std::uint64_t xpsr = 0;
  ASSERT_EQ(Read(task->address, 16, &xpsr), 0);
  ASSERT_EQ(Write(task->address, 16, xpsr | 0x200), 0);
  const std::uint32_t unpadded = task->savedSp + model_.manifest.regStackSize;
  std::uint64_t value = 0;
  ASSERT_EQ(Read(task->address, 13, &value), 0);
  EXPECT_EQ(value, unpadded + 4);
  kernel_.hasPendSv = false;
  ASSERT_EQ(Read(task->address, 13, &value), 0);
  EXPECT_EQ(value, unpadded);
}

TEST_F(TaskRegisterEdges, NoKernelRecordOrNoPlaceGivesOne) {
  Open("v1-mask-core-32");
  ASSERT_FALSE(HasFatalFailure());
  std::uint64_t value = 0;
  EXPECT_EQ(
      KernelTaskRegisterRead(&context_, &context_.info, nullptr, kernel_.runningTask, 0, &value),
      1);
  EXPECT_EQ(
      KernelTaskRegisterRead(&context_, &context_.info, &kernel_, kernel_.runningTask, 0, nullptr),
      1);
  EXPECT_EQ(KernelTaskRegisterWrite(&context_, &context_.info, nullptr, kernel_.runningTask, 0, 0),
            1);
  // Outside the map, and negative numbers, for a task that is not running.
  const model::ManifestTask* task = QuietTask(false);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(Read(task->address, static_cast<std::int32_t>(kernel_.registerMap.size()), &value), 1);
  EXPECT_EQ(Read(task->address, -1, &value), 1);
  EXPECT_EQ(session_->service.answered, 0u);
}

}  // namespace
