// Task registers: the whole stack against the model kernel of every build
// variant, checked against the manifest and the saved stack words; then the
// register operation called directly with kernel records and target changes
// a session does not reach (wider maps, other CPU types, frame descriptions
// and stacks that cannot be read).
#include "kernel/task_registers.h"

#include <string>
#include <vector>

#include "tests/kernel/kernel_harness.h"

namespace kernel_test {
namespace {

constexpr std::int32_t kNotAvailable = 1;
constexpr std::int32_t kSp = static_cast<std::int32_t>(model::kRegSp);

class TaskRegisters : public ModelTarget {
 protected:
  std::int32_t Read(std::uint64_t task, std::int32_t reg, std::uint64_t* value) {
    return DbgTaskRegisterRead(S(), kContext, task, reg, value);
  }
  std::int32_t Write(std::uint64_t task, std::int32_t reg, std::uint64_t value) {
    return DbgTaskRegisterWrite(S(), kContext, task, reg, value);
  }

  std::vector<std::uint32_t> StackWords(const model::ManifestTask& task) {
    std::vector<std::uint32_t> words(task.stackSize / 4);
    for (std::size_t i = 0; i < words.size(); ++i) {
      std::uint64_t word = 0;
      EXPECT_TRUE(model::MemoryReadValue(model.memory, task.stackStart + 4 * i, 4, &word));
      words[i] = static_cast<std::uint32_t>(word);
    }
    return words;
  }
};

bool IsQuiet(const model::ManifestTask& task) {
  return !task.running && !task.fpOwner;
}

TEST_F(TaskRegisters, EveryTaskShowsTheManifestRegistersInEveryVariant) {
  int fpFramesWithPad = 0;
  for (const std::string_view variant : model::KernelVariantNames()) {
    SCOPED_TRACE(variant);
    ASSERT_TRUE(Start(variant));
    for (const model::ManifestTask& task : model.manifest.tasks) {
      SCOPED_TRACE(task.name);
      for (std::int32_t reg = 0; reg <= static_cast<std::int32_t>(model::kRegFpscr); ++reg) {
        std::uint64_t value = 0xBAD;
        const std::int32_t status = Read(task.address, reg, &value);
        // Without floating point the kernel saves no FP registers; only the
        // running task's live ones exist.
        if (reg >= static_cast<std::int32_t>(model::kRegS0) && !model.manifest.hasFpu &&
            !task.running) {
          EXPECT_EQ(status, kNotAvailable) << reg;
          continue;
        }
        ASSERT_EQ(status, 0) << reg;
        // The stack pointer of an FP frame counts a pad word only from the
        // xPSR stacked below s0-s15 and FPSCR, not the frame's top word.
        EXPECT_EQ(value, task.registers[static_cast<std::size_t>(reg)]) << reg;
      }
      std::uint64_t bit31 = 0xBAD;
      ASSERT_EQ(Read(task.address, static_cast<std::int32_t>(model::kRegSpBit31), &bit31), 0);
      EXPECT_EQ(bit31, task.registers[model::kRegSp] >> 31);
      if (!task.running && task.fpFrame && task.padWord) ++fpFramesWithPad;
    }
    EXPECT_TRUE(Messages().empty());
  }
  EXPECT_GT(fpFramesWithPad, 0) << "no variant has an FP frame with a pad word";
}

TEST_F(TaskRegisters, WritesLandInTheSavedWordOfTheRegister) {
  for (const std::string_view variant : model::KernelVariantNames()) {
    SCOPED_TRACE(variant);
    ASSERT_TRUE(Start(variant));
    std::vector<std::int32_t> registers = {0, 3, 4, 11, 12, 14, 15, 16};
    if (model.manifest.hasFpu) registers.insert(registers.end(), {17, 32, 48, 49});
    for (const model::ManifestTask& task : model.manifest.tasks) {
      if (!IsQuiet(task)) continue;
      SCOPED_TRACE(task.name);
      for (const std::int32_t reg : registers) {
        SCOPED_TRACE(reg);
        const std::uint32_t written = 0xC0DE0000u + static_cast<std::uint32_t>(reg);
        const std::vector<std::uint32_t> before = StackWords(task);
        ASSERT_EQ(Write(task.address, reg, 0xFFFF'FFFF'0000'0000u | written), 0);
        const std::vector<std::uint32_t> after = StackWords(task);
        // Exactly the one word that held the register's value changed.
        int changed = 0;
        for (std::size_t i = 0; i < before.size(); ++i) {
          if (before[i] == after[i]) continue;
          ++changed;
          EXPECT_EQ(before[i], task.registers[static_cast<std::size_t>(reg)]);
          EXPECT_EQ(after[i], written);
        }
        EXPECT_EQ(changed, 1);
      }
      // The stack pointer codes are computed, so they cannot be written.
      const std::vector<std::uint32_t> before = StackWords(task);
      EXPECT_EQ(Write(task.address, kSp, 0x2000'0000), kNotAvailable);
      EXPECT_EQ(Write(task.address, static_cast<std::int32_t>(model::kRegSpBit31), 1),
                kNotAvailable);
      EXPECT_EQ(StackWords(task), before);
    }
    EXPECT_TRUE(Messages().empty());
  }
}

TEST_F(TaskRegisters, RunningTaskIsLiveOnlyOutsideInterrupts) {
  // d0 is not saved for tasks (map code 0xFF): only the CPU has it.
  constexpr std::int32_t kD0 = static_cast<std::int32_t>(model::kRegD0);
  for (const std::uint32_t level : {0u, 2u}) {
    ASSERT_TRUE(Open("v1-mask-core-32"));
    ASSERT_TRUE(WriteWord(Symbol("qx_kernel_interrupt_level")->address, 4, level));
    ASSERT_TRUE(StartPlugin());
    ASSERT_EQ(model.manifest.registerMap[kD0], kRegisterNotSaved);
    const model::ManifestTask& running = TaskNamed("");
    std::uint64_t live = 0;
    ASSERT_TRUE(model::ModelRegisterRead(model, model::kRegD0, &live));
    std::uint64_t value = 0;
    if (level == 0) {
      ASSERT_EQ(Read(running.address, kD0, &value), 0);
      EXPECT_EQ(value, live);
    } else {
      EXPECT_EQ(Read(running.address, kD0, &value), kNotAvailable);
      // In an interrupt the task's saved frame is what it left, not the CPU.
      ASSERT_EQ(Read(running.address, 4, &value), 0);
      EXPECT_NE(value, running.registers[4]);
    }
  }
}

TEST_F(TaskRegisters, LiveRegistersAreWrittenToTheCpu) {
  ASSERT_TRUE(Start("v3-32"));
  const model::ManifestTask& running = TaskNamed("");
  const model::ManifestTask* owner = nullptr;
  for (const model::ManifestTask& task : model.manifest.tasks) {
    if (task.fpOwner) owner = &task;
  }
  ASSERT_NE(owner, nullptr);
  for (const auto& [task, reg] :
       {std::pair{&running, 4u}, {&running, model::kRegPc}, {owner, model::kRegS0 + 5}}) {
    ASSERT_EQ(Write(task->address, static_cast<std::int32_t>(reg), 0x1234'5678), 0);
    std::uint64_t live = 0;
    ASSERT_TRUE(model::ModelRegisterRead(model, reg, &live));
    EXPECT_EQ(live, 0x1234'5678u) << reg;
  }
}

// ---- Direct calls with changed kernel records --------------------------------

class TaskRegisterEdges : public ModelTarget {
 protected:
  // Opens `variant` with a kernel record from TargetInit, and finds the first
  // task that is neither running nor owns the FPU and has no FP frame.
  [[nodiscard]] bool OpenQuiet(std::string_view variant) {
    if (!Open(variant)) return false;
    std::int32_t status = -1;
    kernel = TargetInit(&status);
    context.majorCpuType = 7;
    task = nullptr;
    for (const model::ManifestTask& candidate : model.manifest.tasks) {
      if (task == nullptr && IsQuiet(candidate) && !candidate.fpFrame && !candidate.padWord)
        task = &candidate;
    }
    Forget();
    return kernel != nullptr && task != nullptr;
  }

  // The statuses as the interface returns them.
  std::int32_t Read(std::int32_t reg, std::uint64_t* value) {
    return InterfaceStatus(
        KernelTaskRegisterRead(&context, &context.info, kernel, task->address, reg, value));
  }
  std::int32_t Write(std::int32_t reg, std::uint64_t value) {
    return InterfaceStatus(
        KernelTaskRegisterWrite(&context, &context.info, kernel, task->address, reg, value));
  }

  void Poke(const std::string& expression, std::uint32_t size, std::uint64_t value) {
    ASSERT_TRUE(WriteWord(Evaluate(expression), size, value));
  }
  // Points the task's saved stack pointer somewhere else.
  void SetSavedSp(std::uint32_t sp) {
    Poke("&((QX_TASK *)" + std::to_string(task->address) + ")->" +
             (model.manifest.version == 1 ? "stack_last" : "registers[0]"),
         4, sp);
  }

  KernelContext* kernel = nullptr;
  const model::ManifestTask* task = nullptr;
};

TEST_F(TaskRegisterEdges, NoFpWindowShiftsCodesAndBoundsThem) {
  ASSERT_TRUE(OpenQuiet("v1-mask-core-32"));
  constexpr std::uint32_t kSkip = 8;
  constexpr std::uint32_t kCount = 9;
  Poke("&qx_cpu_reg_offset_novfp_skip", 1, kSkip);
  Poke("&qx_cpu_reg_offset_novfp_count", 1, kCount);
  // Registers 0 to 2 stand for codes 8, 9 and 17. The frame without FP
  // context holds EXC_RETURN, then r4: code 9 is word 1, i.e. r4.
  kernel->registerMap[0] = 8;
  kernel->registerMap[1] = 9;
  kernel->registerMap[2] = 17;
  std::uint64_t value = 0;
  EXPECT_EQ(Read(0, &value), 1);
  ASSERT_EQ(Read(1, &value), 0);
  EXPECT_EQ(value, task->registers[4]);
  EXPECT_EQ(Read(2, &value), 1);
  EXPECT_EQ(Write(2, 0), 1);
  // Code 0 is below the window too (c - 1 wraps).
  kernel->registerMap[0] = 0;
  EXPECT_EQ(Read(0, &value), 1);
  // The computed stack pointer counts the window's words.
  ASSERT_EQ(Read(kSp, &value), 0);
  EXPECT_EQ(value, task->savedSp + 4 * kCount);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(TaskRegisterEdges, RunningTaskFpRegistersAreLiveOnlyWhenItOwnsTheFpu) {
  ASSERT_TRUE(OpenQuiet("v1-list-core-32"));
  const model::ManifestTask& running = TaskNamed("");
  ASSERT_FALSE(running.fpOwner);
  constexpr std::uint32_t kS3 = model::kRegS0 + 3;
  std::uint64_t live = 0;
  ASSERT_TRUE(model::ModelRegisterRead(model, kS3, &live));
  ASSERT_NE(live, running.registers[kS3]);
  for (const bool owns : {false, true}) {
    kernel->fpTask = owns ? running.address : 0;
    std::uint64_t value = 0;
    ASSERT_EQ(KernelTaskRegisterRead(&context, &context.info, kernel, running.address, kS3, &value),
              KernelStatus::kOk);
    EXPECT_EQ(value, owns ? live : running.registers[kS3]);
  }
}

TEST_F(TaskRegisterEdges, CpuType10ClearsBit0OfRegister96Only) {
  ASSERT_TRUE(OpenQuiet("v1-mask-core-32-nofpu"));
  // Register 96 lies where pc is saved.
  kernel->registerMap.resize(97, kRegisterNotSaved);
  kernel->registerMap[96] = kernel->registerMap[model::kRegPc];
  ASSERT_EQ(Write(model::kRegPc, 0x101), 0);
  for (const auto& [cpuType, reg, expected] :
       {std::tuple{10u, 96, 0x100u}, {10u, 15, 0x101u}, {7u, 96, 0x101u}}) {
    context.majorCpuType = cpuType;
    std::uint64_t value = 0;
    ASSERT_EQ(Read(reg, &value), 0);
    EXPECT_EQ(value, expected) << cpuType << " " << reg;
  }
}

TEST_F(TaskRegisterEdges, UnreadableTargetDataIsReportedExactly) {
  const std::string kExcReturn = "Error: Unable to read exc_return value from task stack\n";
  // EXC_RETURN is read from the saved context.
  ASSERT_TRUE(OpenQuiet("v1-mask-core-32"));
  SetSavedSp(kUnmapped);
  std::uint64_t value = 0x77;
  EXPECT_NE(Read(4, &value), 0);
  EXPECT_EQ(value, 0x77u);
  EXPECT_NE(Read(kSp, &value), 0);
  EXPECT_EQ(Messages(), (Texts{kExcReturn, kExcReturn}));

  // Without EXC_RETURN the register words themselves are what fails.
  ASSERT_TRUE(OpenQuiet("v1-mask-core-32-nofpu"));
  SetSavedSp(kUnmapped);
  EXPECT_NE(Read(4, &value), 0);
  EXPECT_NE(Write(4, 1), 0);
  EXPECT_EQ(value, 0x77u);
  EXPECT_EQ(Messages(), (Texts{"Error: Unable to read register value from task stack\n",
                               "Error: Unable to write register value to task stack\n"}));

  // An FP save area outside memory.
  ASSERT_TRUE(OpenQuiet("v3-32"));
  Poke("&((QX_TASK *)" + std::to_string(task->address) + ")->stack_start", 4, kUnmapped);
  EXPECT_NE(Read(model::kRegS0, &value), 0);
  EXPECT_EQ(Messages(), Texts{"Error: Unable to read register value from task stack\n"});

  // A context size that puts the frame's top and its xPSR outside memory:
  // the stack pointer is not adjusted for a pad word.
  ASSERT_TRUE(OpenQuiet("v1-mask-core-32-nofpu"));
  ASSERT_TRUE(kernel->hasPendSv);
  kernel->regStackSize = kUnmapped - task->savedSp;
  ASSERT_EQ(Read(kSp, &value), 0);
  EXPECT_EQ(value, kUnmapped);
  ASSERT_EQ(Read(66, &value), 0);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(Messages(), (Texts{"Error: Unable to read XPSR\n", "Error: Unable to read XPSR\n"}));
}

TEST_F(TaskRegisterEdges, PadWordIsCountedOnlyOnKernelsThatSwitchByException) {
  ASSERT_TRUE(OpenQuiet("v1-mask-core-32-nofpu"));
  // Mark the stacked xPSR as aligned; the pc word tells where the frame is.
  std::uint64_t xpsr = 0;
  ASSERT_EQ(Read(16, &xpsr), 0);
  ASSERT_EQ(Write(16, xpsr | 0x200), 0);
  const std::uint32_t unpadded = task->savedSp + model.manifest.regStackSize;
  for (const bool pendSv : {true, false}) {
    kernel->hasPendSv = pendSv;
    std::uint64_t value = 0;
    ASSERT_EQ(Read(kSp, &value), 0);
    EXPECT_EQ(value, unpadded + (pendSv ? 4 : 0));
  }
}

TEST_F(TaskRegisterEdges, NoKernelRecordOrNoPlaceOrNoMapEntryGivesOne) {
  ASSERT_TRUE(OpenQuiet("v1-mask-core-32"));
  const std::uint64_t running = kernel->runningTask;
  std::uint64_t value = 0;
  EXPECT_EQ(KernelTaskRegisterRead(&context, &context.info, nullptr, running, 0, &value),
            KernelStatus::kFailed);
  EXPECT_EQ(KernelTaskRegisterRead(&context, &context.info, kernel, running, 0, nullptr),
            KernelStatus::kFailed);
  EXPECT_EQ(KernelTaskRegisterWrite(&context, &context.info, nullptr, running, 0, 0),
            KernelStatus::kFailed);
  EXPECT_EQ(Read(static_cast<std::int32_t>(kernel->registerMap.size()), &value), 1);
  EXPECT_EQ(Read(-1, &value), 1);
  EXPECT_TRUE(RequestsWith("").empty());
}

}  // namespace
}  // namespace kernel_test
