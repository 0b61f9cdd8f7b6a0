// Tests that every kernel variant has the layout of its build and offers the
// cases the kernel tests rely on. Whether the image and the manifest agree is
// checked through the plug-in by the kernel tests, against every variant.
#include "model/kernel_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "model/variants.h"

namespace model {
namespace {

bool PendIsList(const VariantSpec& s) {
  return s.pend == PendLayout::kListCore || s.pend == PendLayout::kListUnion;
}

bool Evaluates(const TargetModel& model, std::string_view expression) {
  uint64_t value = 0;
  return ModelEvaluate(model, expression, &value, nullptr);
}

class EveryVariant : public testing::TestWithParam<std::string_view> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(BuildKernelModel(GetParam(), &targetModel, &error)) << error;
    spec = FindVariant(GetParam());
    ASSERT_NE(spec, nullptr);
  }
  TargetModel targetModel;
  const VariantSpec* spec = nullptr;
};

// The members and symbols by which the plug-in tells the builds apart.
TEST_P(EveryVariant, HasExactlyTheMembersAndSymbolsOfItsBuild) {
  const VariantSpec& s = *spec;
  const bool v1 = s.version == 1;
  const bool v3 = s.version == 3;
  const struct {
    const char* expression;
    bool present;
  } rows[] = {
      {"&((struct QX_OBJECT_STRUCT *)0)->pending.mask", v1 && s.pend == PendLayout::kMaskCore},
      {"&((struct QX_OBJECT_STRUCT *)0)->pending.head", s.pend == PendLayout::kListCore},
      {"&((struct QX_OBJECT_STRUCT *)0)->u.pending.mask", v1 && s.pend == PendLayout::kMaskUnion},
      {"&((struct QX_OBJECT_STRUCT *)0)->u.pending.count", s.pend == PendLayout::kListUnion},
      {"&((struct QX_OBJECT_STRUCT *)0)->u.pending.task_mask", v3},
      {"&((QX_MPOOL *)0)->core", s.poolCore},
      {"&((QX_BPOOL *)0)->core", s.poolCore},
      {"qx_kernel_max_tasks", v3},
      {"&((QX_TASK *)0)->stack_last", v1},
      {"&((QX_TASK *)0)->registers[0]", v3},
      {"&((QX_TASK *)0)->active_sched_info.priority", v3},
      {"&((QX_TASK *)0)->mutex_waiters_mask", v1},
      {"&((QX_TASK *)0)->static_priority", v1 || s.staticPriority},
      {"&((QX_TASK *)0)->terminated", s.terminated},
      {"&((QX_TASK *)0)->wait_timer.remaining_ticks", s.timerRemaining},
      {"&((QX_TIMER *)0)->expiration_tick", !s.timerRemaining},
      {"&((QX_TIMER *)0)->repeat_ticks", s.timerRepeatTicks},
      {"&((QX_TIMER *)0)->alarm_repeat", !s.timerRepeatTicks},
      {"&qx_cpu_fp_task", s.fpu},
      {"&qx_cpu_reg_offset_exc_return", s.fpu},
      {"__hrxbegin_boottext", !s.tripleUnderscoreBoot},
      {"___hrxend_boottext", s.tripleUnderscoreBoot},
      {"__hrx_tls_rw_start", s.tls},
      {"&((QX_TASK *)0)->pending.parent", true},
      {"&qx_kernel_object_list[8]", true},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.present, Evaluates(targetModel, row.expression)) << row.expression;
  uint64_t value = 0;
  ASSERT_TRUE(ModelEvaluate(targetModel, "$M_sym_exists(qx_cpu_pendsv_enter)", &value, nullptr));
  EXPECT_EQ(s.pendSv, value == 1);
  ASSERT_TRUE(ModelEvaluate(targetModel, "$M_sym_exists(__c_tls_init)", &value, nullptr));
  EXPECT_EQ(s.tls, value == 1);
  EXPECT_EQ(s.pend == PendLayout::kListCore || s.pend == PendLayout::kListUnion,
            targetModel.manifest.pendIsList);
}

// Each variant holds a task in every status, objects with waiters, the saved
// frames its build can produce, and a running task stopped inside a routine
// called from the task shell.
TEST_P(EveryVariant, OffersTheCasesTheKernelTestsRelyOn) {
  const KernelManifest& m = targetModel.manifest;
  std::set<uint32_t> statuses;
  bool sawPad = false, sawFp = false, sawNoFp = false;
  for (const ManifestTask& task : m.tasks) {
    statuses.insert(task.status);
    if (task.running) {
      for (uint32_t r = 0; r < kRegS0; ++r) {
        uint64_t value = 0;
        ASSERT_TRUE(ModelRegisterRead(targetModel, r, &value));
        EXPECT_EQ(task.registers[r], value) << RegisterName(r);
      }
      continue;
    }
    sawPad |= task.padWord;
    (task.fpFrame ? sawFp : sawNoFp) = true;
  }
  for (uint32_t status = 0; status <= 9; ++status)
    EXPECT_TRUE(statuses.count(status)) << status;
  EXPECT_EQ(m.hasPendSv, sawPad);
  EXPECT_EQ(m.hasFpu, sawFp);
  EXPECT_TRUE(sawNoFp);
  size_t withWaiters = 0;
  for (const ManifestObject& object : m.objects)
    withWaiters += object.coreAddress != 0 && !object.waiters.empty();
  EXPECT_GE(withWaiters, 4u);
  std::string routine;
  ASSERT_TRUE(ModelCurrentRoutine(targetModel, &routine));
  EXPECT_EQ("task_net_worker_entry", routine);
  ASSERT_TRUE(ModelCallerRoutine(targetModel, &routine));
  EXPECT_EQ("qx_kernel_task_shell", routine);
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
  uint64_t value = 0;
  ASSERT_TRUE(MemoryReadValue(model.memory, task.savedSp + 4, 4, &value));
  EXPECT_EQ(0x12345678u, value);
  std::string text;
  ASSERT_TRUE(ModelPrintAddress(model, "`print /a &app_sleeper_task.core+0`", &text, nullptr));
  char expected[64];
  std::snprintf(expected, sizeof expected, "0x%x <app_sleeper_task+%u>", task.coreAddress,
                model.manifest.coreOffset);
  EXPECT_EQ(expected, text);
  ASSERT_TRUE(ModelEvaluate(model, "qx_cpu_reset_handler", &value, nullptr));
  ASSERT_TRUE(ModelRegisterWrite(&model, kRegPc, value));
  ASSERT_TRUE(ModelCurrentRoutine(model, &text));
  EXPECT_EQ("qx_cpu_reset_handler", text);
}

TEST(KernelBuilder, RefusesAnUnknownVariant) {
  TargetModel model;
  std::string error;
  EXPECT_FALSE(BuildKernelModel("v2-mask-core-32", &model, &error));
  EXPECT_EQ("unknown kernel variant \"v2-mask-core-32\"", error);
  EXPECT_EQ(16u, KernelVariantNames().size());
}

// Combinations that only some variants offer and that the kernel tests need:
// byte order changes every member read (two-word masks included), and a
// version 3 kernel with `static_priority` and thread-local storage tells its
// start-up task apart by that member.
TEST(KernelBuilder, SomeVariantOffersEachCombinationTheKernelTestsNeed) {
  using Offers = bool (*)(const VariantSpec&);
  const struct {
    const char* what;
    Offers offers;
  } rows[] = {
      {"a big-endian 64-task pending mask",
       [](const VariantSpec& s) { return s.bigEndian && !PendIsList(s) && s.maxTasks == 64; }},
      {"a big-endian pending list",
       [](const VariantSpec& s) { return s.bigEndian && PendIsList(s); }},
      {"version 3 with static_priority and thread-local storage",
       [](const VariantSpec& s) { return s.version == 3 && s.staticPriority && s.tls; }},
  };
  for (const auto& row : rows)
    EXPECT_TRUE(std::ranges::any_of(Variants(), row.offers)) << row.what;
}

}  // namespace
}  // namespace model
