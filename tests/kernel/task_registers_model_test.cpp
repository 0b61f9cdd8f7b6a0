// Task registers through the whole stack: the model debugger sends
// OSA_Client_TaskRegisterRead/Write to the linked plug-in and answers its
// service requests from a model kernel of every build variant; the values
// are checked against the model's manifest and memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "debugger/client_calls.h"
#include "debugger/session.h"
#include "kernel/task_registers.h"
#include "model/kernel_builder.h"
#include "model/target_memory.h"
#include "osa/plugin_api.h"

namespace {

constexpr std::int64_t kContext = 1;
constexpr std::int32_t kNotAvailable = 1;

class TaskRegisters : public testing::Test {
 protected:
  // Builds `variant`, sets the kernel's interrupt level and opens a session
  // that has run OsaInit and TargetInit.
  void Open(std::string_view variant, std::uint32_t interruptLevel = 0) {
    session_.reset();
    std::string error;
    ASSERT_TRUE(model::BuildKernelModel(variant, &model_, &error)) << error;
    const model::Symbol* level = model::FindSymbol(model_.symbols, "qx_kernel_interrupt_level");
    ASSERT_NE(level, nullptr);
    ASSERT_TRUE(model::MemoryWriteValue(&model_.memory, level->address, 4, interruptLevel));
    ASSERT_TRUE(DbgSessionOpen(DbgSessionOptions{}, &model_, &session_, &error)) << error;
    // The slots this concern fills, whether or not registration has them yet.
    OsaCallbacks().taskRegisterRead = KernelTaskRegisterRead;
    OsaCallbacks().taskRegisterWrite = KernelTaskRegisterWrite;
    DbgOsaInitAnswer init;
    ASSERT_EQ(DbgOsaInit(session_.get(), kContext, &init), 0) << session_->lastError;
    DbgTargetInitAnswer target;
    ASSERT_EQ(DbgTargetInit(session_.get(), kContext, model_.manifest.bigEndian, &target), 0)
        << session_->lastError;
  }

  std::int32_t Read(std::uint64_t task, std::int32_t reg, std::uint64_t* value) {
    return DbgTaskRegisterRead(session_.get(), kContext, task, reg, value);
  }
  std::int32_t Write(std::uint64_t task, std::int32_t reg, std::uint64_t value) {
    return DbgTaskRegisterWrite(session_.get(), kContext, task, reg, value);
  }

  const model::ManifestTask* FindTask(bool (*pick)(const model::ManifestTask&)) const {
    for (const model::ManifestTask& task : model_.manifest.tasks) {
      if (pick(task)) return &task;
    }
    return nullptr;
  }

  std::vector<std::uint8_t> StackBytes(const model::ManifestTask& task) const {
    std::vector<std::uint8_t> bytes(task.stackSize);
    EXPECT_TRUE(model::MemoryRead(model_.memory, task.stackStart, bytes.size(), bytes.data()));
    return bytes;
  }

  std::uint32_t Word(const std::vector<std::uint8_t>& bytes, std::size_t offset) const {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const std::size_t shift = model_.manifest.bigEndian ? 8 * (3 - i) : 8 * i;
      word |= static_cast<std::uint32_t>(bytes[offset + i]) << shift;
    }
    return word;
  }

  model::TargetModel model_;
  std::unique_ptr<DbgSession> session_;
};

bool IsQuiet(const model::ManifestTask& task) {
  return !task.running && !task.fpOwner;
}

TEST_F(TaskRegisters, EveryTaskShowsTheManifestRegistersInEveryVariant) {
  for (const std::string_view variant : model::KernelVariantNames()) {
    SCOPED_TRACE(variant);
    Open(variant);
    ASSERT_FALSE(HasFatalFailure());
    const bool fpu = model_.manifest.hasFpu;
    for (const model::ManifestTask& task : model_.manifest.tasks) {
      SCOPED_TRACE(task.name);
      for (std::int32_t reg = 0; reg <= static_cast<std::int32_t>(model::kRegFpscr); ++reg) {
        SCOPED_TRACE(reg);
        std::uint64_t value = 0xBAD;
        const std::int32_t status = Read(task.address, reg, &value);
        // Without floating point the kernel saves no FP registers; only the
        // running task's live ones exist.
        if (reg >= static_cast<std::int32_t>(model::kRegS0) && !fpu && !task.running) {
          EXPECT_EQ(status, kNotAvailable);
          continue;
        }
        ASSERT_EQ(status, 0);
        EXPECT_EQ(value, task.registers[static_cast<std::size_t>(reg)]);
      }
      std::uint64_t bit31 = 0xBAD;
      ASSERT_EQ(Read(task.address, static_cast<std::int32_t>(model::kRegSpBit31), &bit31), 0);
      EXPECT_EQ(bit31, task.registers[model::kRegSp] >> 31);
    }
    EXPECT_TRUE(session_->service.messages.empty());
  }
}

TEST_F(TaskRegisters, StackPointerOfAnFpFrameAlignedWithAPadWordCountsThePadWord) {
  // The stacked xPSR of a frame with FP context lies below s0-s15, FPSCR and
  // the reserved word, not in the frame's top word.
  int checked = 0;
  for (const std::string_view variant : model::KernelVariantNames()) {
    SCOPED_TRACE(variant);
    Open(variant);
    ASSERT_FALSE(HasFatalFailure());
    for (const model::ManifestTask& task : model_.manifest.tasks) {
      if (task.running || !task.fpFrame) continue;
      SCOPED_TRACE(task.name);
      std::uint64_t sp = 0;
      ASSERT_EQ(Read(task.address, static_cast<std::int32_t>(model::kRegSp), &sp), 0);
      EXPECT_EQ(sp, task.registers[model::kRegSp]);
      if (task.padWord) ++checked;
    }
  }
  EXPECT_GT(checked, 0) << "no variant has an FP frame with a pad word";
}

TEST_F(TaskRegisters, RunningTaskIsLiveOnlyOutsideInterrupts) {
  // d0 is not saved for tasks (map code 0xFF): only the CPU has it.
  constexpr std::int32_t kD0 = static_cast<std::int32_t>(model::kRegD0);
  Open("v1-mask-core-32");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(model_.manifest.registerMap[kD0], kRegisterNotSaved);
  const std::uint32_t running = model_.manifest.runningTask;
  std::uint64_t live = 0;
  ASSERT_TRUE(model::ModelRegisterRead(model_, model::kRegD0, &live));
  std::uint64_t value = 0;
  ASSERT_EQ(Read(running, kD0, &value), 0);
  EXPECT_EQ(value, live);

  Open("v1-mask-core-32", 2);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(Read(running, kD0, &value), kNotAvailable);
  // In an interrupt the task's saved frame is what it left, not the CPU.
  const model::ManifestTask* task = nullptr;
  for (const model::ManifestTask& candidate : model_.manifest.tasks) {
    if (candidate.running) task = &candidate;
  }
  ASSERT_NE(task, nullptr);
  ASSERT_EQ(Read(running, 4, &value), 0);
  EXPECT_NE(value, task->registers[4]);
}

TEST_F(TaskRegisters, WritesLandInTheSavedWordOfTheRegister) {
  for (const std::string_view variant : model::KernelVariantNames()) {
    SCOPED_TRACE(variant);
    Open(variant);
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::int32_t> registers = {0, 3, 4, 11, 12, 14, 15, 16};
    if (model_.manifest.hasFpu) registers.insert(registers.end(), {17, 32, 48, 49});
    for (const model::ManifestTask& task : model_.manifest.tasks) {
      if (!IsQuiet(task)) continue;
      SCOPED_TRACE(task.name);
      for (const std::int32_t reg : registers) {
        SCOPED_TRACE(reg);
        const std::uint32_t written = 0xC0DE0000u + static_cast<std::uint32_t>(reg);
        const std::vector<std::uint8_t> before = StackBytes(task);
        ASSERT_EQ(Write(task.address, reg, 0xFFFF'FFFF'0000'0000u | written), 0);
        const std::vector<std::uint8_t> after = StackBytes(task);
        // Exactly the one word that held the register's value changed.
        int changed = 0;
        for (std::size_t offset = 0; offset + 4 <= before.size(); offset += 4) {
          if (Word(before, offset) == Word(after, offset)) continue;
          ++changed;
          EXPECT_EQ(Word(before, offset), task.registers[static_cast<std::size_t>(reg)]);
          EXPECT_EQ(Word(after, offset), written);
        }
        EXPECT_EQ(changed, 1);
        std::uint64_t value = 0;
        ASSERT_EQ(Read(task.address, reg, &value), 0);
        EXPECT_EQ(value, written);
      }
    }
    EXPECT_TRUE(session_->service.messages.empty());
  }
}

TEST_F(TaskRegisters, LiveRegistersAreWrittenToTheCpu) {
  Open("v3-32");
  ASSERT_FALSE(HasFatalFailure());
  const model::ManifestTask* running =
      FindTask([](const model::ManifestTask& t) { return t.running; });
  const model::ManifestTask* owner =
      FindTask([](const model::ManifestTask& t) { return t.fpOwner; });
  ASSERT_NE(running, nullptr);
  ASSERT_NE(owner, nullptr);
  const struct {
    const model::ManifestTask* task;
    std::uint32_t reg;
  } cases[] = {{running, 4}, {running, model::kRegPc}, {owner, model::kRegS0 + 5}};
  for (const auto& row : cases) {
    SCOPED_TRACE(row.reg);
    ASSERT_EQ(Write(row.task->address, static_cast<std::int32_t>(row.reg), 0x1234'5678), 0);
    std::uint64_t live = 0;
    ASSERT_TRUE(model::ModelRegisterRead(model_, row.reg, &live));
    EXPECT_EQ(live, 0x1234'5678u);
  }
}

TEST_F(TaskRegisters, ComputedStackPointerCodesAreReadOnly) {
  for (const std::string_view variant : {"v1-mask-core-32", "v1-mask-core-32-nofpu", "v3-64"}) {
    SCOPED_TRACE(variant);
    Open(variant);
    ASSERT_FALSE(HasFatalFailure());
    const model::ManifestTask* task = FindTask(IsQuiet);
    ASSERT_NE(task, nullptr);
    const std::vector<std::uint8_t> before = StackBytes(*task);
    EXPECT_EQ(Write(task->address, static_cast<std::int32_t>(model::kRegSp), 0x2000'0000),
              kNotAvailable);
    EXPECT_EQ(Write(task->address, static_cast<std::int32_t>(model::kRegSpBit31), 1),
              kNotAvailable);
    EXPECT_EQ(StackBytes(*task), before);
    EXPECT_TRUE(session_->service.messages.empty());
  }
}

}  // namespace
