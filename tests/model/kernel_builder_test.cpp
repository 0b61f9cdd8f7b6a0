// Tests that every kernel variant holds what it claims: the members and
// symbols of its build, closed object rings, consistent pending records and
// saved register frames that decode, through the kernel's register map, to
// the register values of the manifest.
#include "model/kernel_builder.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <set>

#include "model/variants.h"

namespace model {
namespace {

uint64_t Eval(const TargetModel& model, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  uint64_t value = 0;
  std::string error;
  EXPECT_TRUE(ModelEvaluate(model, text, &value, &error)) << text << ": " << error;
  return value;
}

bool Evaluates(const TargetModel& model, std::string_view expression) {
  uint64_t value = 0;
  return ModelEvaluate(model, expression, &value, nullptr);
}

uint32_t Word(const TargetModel& model, uint32_t address) {
  uint64_t value = 0;
  EXPECT_TRUE(MemoryReadValue(model.memory, address, 4, &value)) << std::hex << address;
  return static_cast<uint32_t>(value);
}

class EveryVariant : public testing::TestWithParam<std::string_view> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(BuildKernelModel(GetParam(), &model_, &error)) << error;
    spec_ = FindVariant(GetParam());
  }
  TargetModel model_;
  const VariantSpec* spec_ = nullptr;
};

TEST_P(EveryVariant, HasExactlyTheMembersAndSymbolsOfItsBuild) {
  const VariantSpec& s = *spec_;
  const bool v1 = s.version == 1;
  const bool v3 = s.version == 3;
  const bool list = s.pend == PendLayout::kListCore || s.pend == PendLayout::kListUnion;
  struct Row {
    const char* expression;
    bool present;
  };
  const Row rows[] = {
      {"&((struct QX_OBJECT_STRUCT *)0)->pending.mask", v1 && s.pend == PendLayout::kMaskCore},
      {"&((struct QX_OBJECT_STRUCT *)0)->pending.head", s.pend == PendLayout::kListCore},
      {"&((struct QX_OBJECT_STRUCT *)0)->u.pending.mask", v1 && s.pend == PendLayout::kMaskUnion},
      {"&((struct QX_OBJECT_STRUCT *)0)->u.pending.head", s.pend == PendLayout::kListUnion},
      {"&((struct QX_OBJECT_STRUCT *)0)->u.pending.count", s.pend == PendLayout::kListUnion},
      {"&((struct QX_OBJECT_STRUCT *)0)->u.pending.task_mask", v3},
      {"&((QX_MPOOL *)0)->core", s.poolCore},
      {"&((QX_BPOOL *)0)->core", s.poolCore},
      {"qx_kernel_max_tasks", v3},
      {"&((QX_TASK *)0)->stack_last", v1},
      {"&((QX_TASK *)0)->registers[0]", v3},
      {"&((QX_TASK *)0)->static_sched_info.priority", v3},
      {"&((QX_TASK *)0)->active_sched_info.priority", v3},
      {"&((QX_TASK *)0)->stack_end", v3},
      {"&((QX_TASK *)0)->active_priority", v1},
      {"&((QX_TASK *)0)->mutex_waiters_mask", v1},
      {"&((QX_TASK *)0)->static_priority", v1 || s.staticPriority},
      {"&((QX_TASK *)0)->terminated", s.terminated},
      {"&((QX_TASK *)0)->wait_timer.remaining_ticks", s.timerRemaining},
      {"&((QX_TASK *)0)->wait_timer.expiration_tick", !s.timerRemaining},
      {"&((QX_TIMER *)0)->remaining_ticks", s.timerRemaining},
      {"&((QX_TIMER *)0)->expiration_tick", !s.timerRemaining},
      {"&((QX_TIMER *)0)->repeat_ticks", s.timerRepeatTicks},
      {"&((QX_TIMER *)0)->alarm_repeat", !s.timerRepeatTicks},
      {"&qx_cpu_fp_task", s.fpu},
      {"&qx_cpu_reg_offset_exc_return", s.fpu},
      {"__hrxbegin_boottext", !s.tripleUnderscoreBoot},
      {"___hrxend_boottext", s.tripleUnderscoreBoot},
      {"__hrx_tls_rw_start", s.tls},
      {"__hrxbegin_reset", true},
      {"&((QX_TASK *)0)->pending.parent", true},
      {"&((QX_TASK *)0)->wait_timer.active.next", true},
      {"&qx_kernel_object_list[8]", true},
      {"&qx_kernel_timer_info.current_tick", true},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.present, Evaluates(model_, row.expression)) << row.expression;

  const KernelManifest& m = model_.manifest;
  EXPECT_EQ(s.version, Eval(model_, "qx_kernel_osa_version"));
  EXPECT_EQ(s.maxPriorities, Eval(model_, "qx_kernel_max_priorities"));
  EXPECT_EQ(s.maxTasks / 8, Eval(model_, "sizeof(struct QX_WAIT_LIST_STRUCT)*sizeof(QX_BYTE)"));
  if (v3) {
    EXPECT_EQ(s.maxTasksValue, Eval(model_, "qx_kernel_max_tasks"));
  }
  EXPECT_EQ(uint64_t{kRegisterCount}, Eval(model_, "sizeof(qx_kernel_register_stack_offsets)"));
  EXPECT_EQ(m.regStackSize, Eval(model_, "qx_kernel_reg_stack_size"));
  EXPECT_EQ(m.coreOffset, Eval(model_, "&((QX_TASK *)0)->core"));
  EXPECT_NE(0u, m.coreOffset);
  EXPECT_EQ(m.runningTask, Eval(model_, "qx_kernel_running_task"));
  EXPECT_EQ(m.currentTick, Eval(model_, "qx_kernel_timer_info.current_tick"));
  EXPECT_EQ(0u, Eval(model_, "qx_kernel_interrupt_level"));
  EXPECT_EQ(s.pendSv ? 1u : 0u, Eval(model_, "$M_sym_exists(qx_cpu_pendsv_enter)"));
  EXPECT_EQ(s.tls ? 1u : 0u, Eval(model_, "$M_sym_exists(__c_tls_init)"));
  EXPECT_EQ(list, m.pendIsList);
  if (s.fpu) {
    EXPECT_EQ(m.fpTask, Eval(model_, "qx_cpu_fp_task"));
  }
  const uint32_t mapAddress =
      static_cast<uint32_t>(Eval(model_, "&qx_kernel_register_stack_offsets"));
  for (uint32_t r = 0; r < kRegisterCount; ++r) {
    uint8_t code = 0;
    ASSERT_TRUE(ModelMemoryRead(model_, mapAddress + r, 1, &code));
    EXPECT_EQ(m.registerMap[r], code) << r;
  }

  std::set<uint32_t> statuses;
  for (const ManifestTask& task : m.tasks)
    statuses.insert(task.status);
  for (uint32_t status = 0; status <= 9; ++status)
    EXPECT_TRUE(statuses.count(status)) << status;

  std::string routine;
  ASSERT_TRUE(ModelCurrentRoutine(model_, &routine));
  EXPECT_EQ("task_net_worker_entry", routine);
  ASSERT_TRUE(ModelCallerRoutine(model_, &routine));
  EXPECT_EQ("qx_kernel_task_shell", routine);
}

TEST_P(EveryVariant, ObjectRingsCloseOnTheirHeads) {
  const KernelManifest& m = model_.manifest;
  for (uint32_t index = 1; index <= 8; ++index) {
    size_t expected = 0;
    for (const ManifestObject& object : m.objects)
      expected += object.listIndex == index && object.coreAddress != 0;
    if (index == 1) expected = m.tasks.size();
    const uint32_t head = static_cast<uint32_t>(Eval(model_, "qx_kernel_object_list[%u]", index));
    EXPECT_EQ(m.listHeads[index], head);
    if (expected == 0) {
      EXPECT_EQ(0u, head) << index;
      continue;
    }
    uint32_t cursor = head;
    size_t count = 0;
    do {
      cursor = static_cast<uint32_t>(
          Eval(model_, "((struct QX_OBJECT_STRUCT *)%u)->created.next", cursor));
      ++count;
    } while (cursor != head && cursor != 0 && count <= 200);
    EXPECT_EQ(head, cursor) << index;
    EXPECT_EQ(expected, count) << index;
  }
}

TEST_P(EveryVariant, PendingRecordsNameTheirWaiters) {
  const KernelManifest& m = model_.manifest;
  const char* prefix = m.pendInUnion ? "u.pending" : "pending";
  const char* mask = m.version == 3 ? "task_mask" : "mask";
  size_t checked = 0;
  for (const ManifestObject& object : m.objects) {
    if (object.coreAddress == 0 || object.waiters.empty()) continue;
    const uint32_t core = object.coreAddress;
    if (m.pendIsList) {
      EXPECT_EQ(object.waiters.size(),
                Eval(model_, "((struct QX_OBJECT_STRUCT *)%u)->%s.count", core, prefix));
      EXPECT_EQ(object.waiters.front(),
                Eval(model_, "((struct QX_OBJECT_STRUCT *)%u)->%s.head", core, prefix));
    } else {
      uint64_t bits =
          Eval(model_, "((struct QX_OBJECT_STRUCT *)%u)->%s.%s.words[0]", core, prefix, mask);
      if (m.maxTasks == 64)
        bits |= Eval(model_, "((struct QX_OBJECT_STRUCT *)%u)->%s.%s.words[1]", core, prefix, mask)
                << 32;
      EXPECT_EQ(object.waiters.size(), static_cast<size_t>(std::popcount(bits)));
      // Leading zeros of the mask give the first waiter's task number.
      const uint32_t first = static_cast<uint32_t>(std::countl_zero(bits)) - (64 - m.maxTasks);
      EXPECT_EQ(object.waiters.front(),
                Eval(model_, "qx_kernel_sched_info.static_task_array[%u]", first));
    }
    for (uint32_t waiter : object.waiters)
      EXPECT_EQ(core, Eval(model_, "((QX_TASK *)%u)->pending.parent", waiter));
    ++checked;
  }
  EXPECT_GE(checked, 4u);
}

TEST_P(EveryVariant, TaskFieldsMatchTheManifest) {
  const KernelManifest& m = model_.manifest;
  const bool v1 = m.version == 1;
  for (const ManifestTask& task : m.tasks) {
    SCOPED_TRACE(task.name);
    const uint32_t a = task.address;
    EXPECT_EQ(task.address,
              Eval(model_, "qx_kernel_sched_info.static_task_array[%u]", task.number));
    EXPECT_EQ(task.status, Eval(model_, "((QX_TASK *)%u)->status", a));
    const uint64_t stored = v1 ? Eval(model_, "((QX_TASK *)%u)->static_priority", a)
                               : Eval(model_, "((QX_TASK *)%u)->static_sched_info.priority", a);
    EXPECT_EQ(task.staticPriority, v1 ? m.maxPriorities - 1 - stored : stored);
    EXPECT_EQ(task.stackSize, Eval(model_, "((QX_TASK *)%u)->stack_size", a));
    EXPECT_EQ(
        task.savedSp,
        Eval(model_, v1 ? "((QX_TASK *)%u)->stack_last" : "((QX_TASK *)%u)->registers[0]", a));
    if (task.waitTimerActive) {
      const uint64_t ticks =
          m.timerRemainingTicks
              ? Eval(model_, "((QX_TASK *)%u)->wait_timer.remaining_ticks", a)
              : static_cast<uint32_t>(
                    Eval(model_, "((QX_TASK *)%u)->wait_timer.expiration_tick", a) - m.currentTick);
      EXPECT_EQ(task.waitTicksLeft, ticks);
    }
    if (m.tlsRwStart != 0 && task.onStartupStack && v1) {
      EXPECT_EQ(0, task.tlsOffset);
    }
    if (m.tlsRwStart != 0 && !task.onStartupStack) {
      EXPECT_EQ(int64_t{task.stackStart} + task.stackSize - m.tlsRwStart, task.tlsOffset);
    }
  }
  for (const ManifestObject& timer : m.objects) {
    if (timer.listIndex != 2) continue;
    const bool active = Eval(model_, "((QX_TIMER *)%u)->active.next", timer.address) != 0;
    const ManifestField* shownActive = FindManifestField(timer, "active");
    const ManifestField* ticksLeft = FindManifestField(timer, "ticks_left");
    ASSERT_TRUE(shownActive != nullptr && ticksLeft != nullptr) << timer.name;
    EXPECT_EQ(shownActive->value, active ? 1u : 0u) << timer.name;
    if (active) {
      const uint32_t left =
          m.timerRemainingTicks
              ? static_cast<uint32_t>(
                    Eval(model_, "((QX_TIMER *)%u)->remaining_ticks", timer.address))
              : static_cast<uint32_t>(
                    Eval(model_, "((QX_TIMER *)%u)->expiration_tick", timer.address) -
                    m.currentTick);
      EXPECT_EQ(ticksLeft->value, left) << timer.name;
    }
  }
}

// Decodes every register of every task that is not running through the
// register map, the way the kernel's map is meant to be read, and compares
// it with the values the builder placed.
TEST_P(EveryVariant, SavedFramesDecodeToTheManifestRegisters) {
  const KernelManifest& m = model_.manifest;
  uint32_t skip = 0, count = 0, excIndex = 0;
  if (m.hasFpu) {
    excIndex = static_cast<uint32_t>(Eval(model_, "qx_cpu_reg_offset_exc_return"));
    skip = static_cast<uint32_t>(Eval(model_, "qx_cpu_reg_offset_novfp_skip"));
    count = static_cast<uint32_t>(Eval(model_, "qx_cpu_reg_offset_novfp_count"));
  }
  bool sawPad = false, sawFp = false, sawNoFp = false;
  for (const ManifestTask& task : m.tasks) {
    if (task.running) continue;
    SCOPED_TRACE(task.name);
    const uint32_t sp = task.savedSp;
    uint32_t frameSkip = 0, frameCount = 0;
    if (m.hasFpu) {
      const uint32_t excReturn = Word(model_, sp + 4 * excIndex);
      EXPECT_EQ(task.excReturn, excReturn);
      if (excReturn & 0x10) {
        frameSkip = skip;
        frameCount = count;
      }
      (excReturn & 0x10 ? sawNoFp : sawFp) = true;
    }
    for (uint32_t r = 0; r <= kRegFpscr; ++r) {
      const uint8_t code = m.registerMap[r];
      if (code == 0xFF) {
        EXPECT_TRUE(!m.hasFpu && r >= kRegS0) << r;
        continue;
      }
      uint32_t value = 0;
      if (code == 0xFE) {
        value = sp + (frameCount != 0 ? 4 * frameCount : m.regStackSize);
        // The hardware stacks s0-s15, FPSCR and a reserved word above xPSR
        // in a floating-point frame, so xPSR is the last word only without.
        const uint32_t xpsrAddress = value - 4 - (task.fpFrame ? 18 * 4 : 0);
        if (Word(model_, xpsrAddress) & 0x200) value += 4;
      } else if (code & 0x80) {
        if (task.fpOwner) continue;  // its FP registers are live
        value = Word(model_, task.stackStart + task.stackSize - 4 * (code & 0x7F));
      } else {
        uint32_t c = code;
        if (frameCount != 0) {
          ASSERT_FALSE(c - 1 < frameSkip) << "register " << r << " falls in the skipped words";
          c -= frameSkip;
          ASSERT_LT(c, frameCount) << r;
        }
        value = Word(model_, sp + 4 * c);
      }
      EXPECT_EQ(task.registers[r], value) << RegisterName(r);
    }
    sawPad |= task.padWord;
  }
  EXPECT_EQ(m.hasPendSv, sawPad);
  if (m.hasFpu) {
    EXPECT_TRUE(sawFp && sawNoFp);
  }
}

TEST_P(EveryVariant, LiveRegistersBelongToTheRunningTaskAndTheFpuOwner) {
  const KernelManifest& m = model_.manifest;
  for (const ManifestTask& task : m.tasks) {
    const bool liveInteger = task.running;
    const bool liveFp = task.fpOwner || (!m.hasFpu && task.running);
    for (uint32_t r = 0; r <= kRegFpscr; ++r) {
      const bool live = r < kRegS0 ? liveInteger : liveFp;
      if (!live) continue;
      uint64_t value = 0;
      ASSERT_TRUE(ModelRegisterRead(model_, r, &value));
      EXPECT_EQ(task.registers[r], value) << task.name << " " << RegisterName(r);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Model, EveryVariant, testing::ValuesIn(KernelVariantNames()),
                         [](const testing::TestParamInfo<std::string_view>& info) {
                           std::string name(info.param);
                           for (char& c : name)
                             c = c == '-' ? '_' : c;
                           return name;
                         });

TEST(KernelBuilder, WritesAreSeenByLaterEvaluations) {
  TargetModel model;
  ASSERT_TRUE(BuildKernelModel("v1-list-core-32-be", &model, nullptr));
  const ManifestTask& task = model.manifest.tasks[3];
  const uint8_t bytes[4] = {0x12, 0x34, 0x56, 0x78};  // big-endian target
  ASSERT_TRUE(ModelMemoryWrite(&model, task.savedSp + 4, 4, bytes));
  EXPECT_EQ(0x12345678u, Word(model, task.savedSp + 4));
  EXPECT_EQ(task.address, Eval(model, "&app_sleeper_task"));
  std::string text;
  ASSERT_TRUE(ModelPrintAddress(model, "`print /a &app_sleeper_task.core+0`", &text, nullptr));
  char expected[64];
  std::snprintf(expected, sizeof expected, "0x%x <app_sleeper_task+%u>", task.coreAddress,
                model.manifest.coreOffset);
  EXPECT_EQ(expected, text);
  ASSERT_TRUE(ModelRegisterWrite(&model, kRegPc, Eval(model, "qx_cpu_reset_handler")));
  ASSERT_TRUE(ModelCurrentRoutine(model, &text));
  EXPECT_EQ("qx_cpu_reset_handler", text);
}

TEST(KernelBuilder, RefusesAnUnknownVariant) {
  TargetModel model;
  std::string error;
  EXPECT_FALSE(BuildKernelModel("v2-mask-core-32", &model, &error));
  EXPECT_EQ("unknown kernel variant \"v2-mask-core-32\"", error);
  EXPECT_EQ(15u, KernelVariantNames().size());
}

}  // namespace
}  // namespace model
