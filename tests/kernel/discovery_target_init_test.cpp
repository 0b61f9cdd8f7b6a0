// TargetInit against model kernels: every build variant is recognised with
// the facts of its manifest, each missing or broken symbol is refused with
// its one message and leaves no record, and records are released when
// replaced or cleaned up.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "kernel/discovery.h"
#include "tests/kernel/kernel_harness.h"

namespace kernel_test {
namespace {

// An address that no model target maps.
constexpr std::uint32_t kUnmapped = 0xFFFFFF00;

class TargetInitVariant : public ModelTarget,
                          public testing::WithParamInterface<std::string_view> {};

TEST_P(TargetInitVariant, RecordHoldsTheManifestFacts) {
  ASSERT_TRUE(Open(GetParam()));
  const model::KernelManifest& m = model.manifest;
  std::int32_t status = -1;
  const KernelContext* kernel = TargetInit(&status);
  ASSERT_EQ(status, 0) << testing::PrintToString(Messages());
  ASSERT_NE(kernel, nullptr);
  EXPECT_TRUE(Messages().empty());

  EXPECT_EQ(kernel->version, m.version);
  EXPECT_EQ(kernel->coreOffset, m.coreOffset);
  EXPECT_EQ(kernel->maxPriorities, m.maxPriorities);
  EXPECT_EQ(kernel->maskWords, m.maxTasks / 32);
  EXPECT_EQ(kernel->regStackSize, m.regStackSize);
  ASSERT_FALSE(kernel->registerMap.empty());
  ASSERT_LE(kernel->registerMap.size(), m.registerMap.size());
  for (std::size_t i = 0; i < kernel->registerMap.size(); ++i) {
    EXPECT_EQ(kernel->registerMap[i], m.registerMap[i]) << "register " << i;
  }
  EXPECT_EQ(kernel->pendIsList, m.pendIsList);
  EXPECT_EQ(kernel->pendInUnion, m.pendInUnion);
  EXPECT_EQ(kernel->hasMemoryPoolCore, m.hasPoolCore);
  EXPECT_EQ(kernel->hasBlockPoolCore, m.hasPoolCore);
  EXPECT_EQ(kernel->hasPendSv, m.hasPendSv);
  EXPECT_EQ(kernel->tlsRwStart, m.tlsRwStart);
  EXPECT_EQ(kernel->stackBegin, m.stackBegin);
  EXPECT_EQ(kernel->stackEnd, m.stackEnd);
  EXPECT_EQ(kernel->runningTask, m.runningTask);
  EXPECT_EQ(kernel->fpTask, m.fpTask);
  EXPECT_EQ(kernel->interruptLevel, m.interruptLevel & 0xFF);
  EXPECT_EQ(kernel->currentTick, m.currentTick);
  for (std::size_t type = 0; type < kObjectTypeSlots; ++type) {
    EXPECT_EQ(kernel->listHead[type], 0u);
    EXPECT_EQ(kernel->listCursor[type], 0u);
  }
  EXPECT_FALSE(kernel->tlsOffsetCache.has_value());
}

std::string VariantTestName(const testing::TestParamInfo<std::string_view>& info) {
  std::string name(info.param);
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, TargetInitVariant,
                         testing::ValuesIn(model::KernelVariantNames()), VariantTestName);

struct RefusalRow {
  const char* what;
  const char* variant;
  std::function<void(ModelTarget&)> breakTarget;
  const char* message;
};

const RefusalRow kRefusals[] = {
    {"no version symbol", "v1-mask-core-32",
     [](ModelTarget& t) { t.RemoveSymbol("qx_kernel_osa_version"); },
     "Error: Unable to find OSA kernel version.  OSA requires\n"
     "       the kernel to be built with symbol information.\n"},
    {"version 2", "v1-mask-core-32",
     [](ModelTarget& t) {
       ASSERT_TRUE(t.WriteWord(t.Symbol("qx_kernel_osa_version")->address, 4, 2));
     },
     "Error: OSA kernel version on target is not supported.\n"
     "       The OSA module requires target OSA kernel version 1 or 3.\n"},
    {"task without core", "v3-32", [](ModelTarget& t) { t.HideMember("QX_TASK", "core"); },
     "Error: Unable to parse kernel objects.  OSA requires\n"
     "       the kernel to be built with symbol information.\n"},
    {"no priority count", "v1-list-core-32",
     [](ModelTarget& t) { t.RemoveSymbol("qx_kernel_max_priorities"); },
     "Error: Unable to find task priority count\n"},
    {"version 1 wait list of 16 bytes", "v1-mask-core-32",
     [](ModelTarget& t) { t.Record("struct QX_WAIT_LIST_STRUCT")->size = 16; },
     "Error: QX_MAX_TASKS must be 32 or 64\n"},
    {"version 1 without wait list type", "v1-mask-core-64",
     [](ModelTarget& t) { t.Record("struct QX_WAIT_LIST_STRUCT")->name = "struct OTHER"; },
     "Error: Unable to find task count\n"},
    {"version 3 with 48 tasks", "v3-64",
     [](ModelTarget& t) {
       ASSERT_TRUE(t.WriteWord(t.Symbol("qx_kernel_max_tasks")->address, 4, 48));
     },
     "Error: QX_MAX_TASKS must be 32 or 64\n"},
    {"version 3 with a 2-byte mask", "v3-32-maskbytes",
     [](ModelTarget& t) {
       ASSERT_TRUE(t.WriteWord(t.Symbol("qx_kernel_max_tasks")->address, 4, 2));
     },
     "Error: QX_MAX_TASKS must be 32 or 64\n"},
    {"version 3 without task count", "v3-32",
     [](ModelTarget& t) { t.RemoveSymbol("qx_kernel_max_tasks"); },
     "Error: Unable to find task count\n"},
    {"no register context size", "v1-mask-union-32",
     [](ModelTarget& t) { t.RemoveSymbol("qx_kernel_reg_stack_size"); },
     "Error: Unable to find task register context size\n"},
    {"no register map", "v1-mask-core-32",
     [](ModelTarget& t) { t.RemoveSymbol("qx_kernel_register_stack_offsets"); },
     "Error: Unable to find kernel register map\n"},
    {"register map of 4 bytes", "v1-mask-core-32",
     [](ModelTarget& t) {
       model::TypeId byte = 0;
       ASSERT_TRUE(model::FindTypeByName(t.model.types, "unsigned char", &byte));
       t.Symbol("qx_kernel_register_stack_offsets")->type =
           model::AddArrayType(&t.model.types, byte, 4);
     },
     "Error: Unable to find kernel register map\n"},
    {"register map larger than any register file", "v1-list-core-32",
     [](ModelTarget& t) {
       model::TypeId byte = 0;
       ASSERT_TRUE(model::FindTypeByName(t.model.types, "unsigned char", &byte));
       t.Symbol("qx_kernel_register_stack_offsets")->type =
           model::AddArrayType(&t.model.types, byte, 1u << 20);
     },
     "Error: Unable to find kernel register map\n"},
    {"register map unreadable", "v3-32",
     [](ModelTarget& t) { t.Symbol("qx_kernel_register_stack_offsets")->address = kUnmapped; },
     "Error: Unable to read kernel register map\n"},
    {"version 1 without pending record", "v1-mask-core-32",
     [](ModelTarget& t) { t.HideMember("struct QX_OBJECT_STRUCT", "pending"); },
     "Error: Unable to find object pendlist member\n"},
    {"version 3 without union", "v3-64",
     [](ModelTarget& t) { t.HideMember("struct QX_OBJECT_STRUCT", "u"); },
     "Error: Unable to find object pendlist member\n"},
    {"interrupt level unreadable", "v1-list-union-64",
     [](ModelTarget& t) { t.Symbol("qx_kernel_interrupt_level")->address = kUnmapped; },
     "Error: Unable to read current interrupt level\n"},
    {"no running task", "v1-mask-core-32",
     [](ModelTarget& t) { t.RemoveSymbol("qx_kernel_running_task"); },
     "Error: Unable to parse current task\n"},
    {"no timer info", "v3-32", [](ModelTarget& t) { t.RemoveSymbol("qx_kernel_timer_info"); },
     "Error: Unable to parse current tick\n"},
    {"FPU owner unreadable", "v1-mask-core-32",
     [](ModelTarget& t) { t.Symbol("qx_cpu_fp_task")->address = kUnmapped; },
     "Error: Unable to read current floating point task\n"},
};

TEST_F(ModelTarget, TargetInitRefusalsShowOneMessageAndLeaveNoRecord) {
  for (const RefusalRow& row : kRefusals) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(Open(row.variant));
    row.breakTarget(*this);
    std::int32_t status = -1;
    EXPECT_EQ(TargetInit(&status), nullptr);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{row.message});
  }
}

TEST_F(ModelTarget, UnionListHeadAloneMeansListInUnion) {
  ASSERT_TRUE(Open("v1-list-union-32"));
  std::int32_t status = -1;
  const KernelContext* kernel = TargetInit(&status);
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(kernel->pendIsList);
  EXPECT_TRUE(kernel->pendInUnion);
  // The probes stop at the first member that exists.
  const auto probes = RequestsWith("struct QX_OBJECT_STRUCT *)0)->");
  ASSERT_EQ(probes.size(), 4u);
  EXPECT_NE(probes[3].find("u.pending.head"), std::string::npos);
}

TEST_F(ModelTarget, ThreadLocalStorageNeedsItsInitRoutineAndStart) {
  ASSERT_TRUE(Open("v1-mask-core-32"));  // a variant with thread-local storage
  RemoveSymbol("__c_tls_init");
  std::int32_t status = -1;
  const KernelContext* kernel = TargetInit(&status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(kernel->tlsRwStart, 0u);
  EXPECT_EQ(kernel->stackBegin, 0u);
  EXPECT_EQ(kernel->stackEnd, 0u);

  ASSERT_TRUE(Open("v1-mask-core-32"));
  RemoveSymbol("__hrxbegin_stack");
  kernel = TargetInit(&status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(kernel->tlsRwStart, model.manifest.tlsRwStart);
  EXPECT_EQ(kernel->stackBegin, 0u);
  EXPECT_EQ(kernel->stackEnd, model.manifest.stackEnd);
}

TEST_F(ModelTarget, SecondTargetInitReplacesAndReleasesTheFirstRecord) {
  ASSERT_TRUE(Open("v1-list-core-64"));
  std::int32_t status = -1;
  KernelContext* first = TargetInit(&status);
  ASSERT_EQ(status, 0);
  first->tlsOffsetCache.emplace();
  (*first->tlsOffsetCache)[1] = 2;
  // The first record and what it owns are freed here; ASan reports a leak
  // otherwise.
  const KernelContext* second = TargetInit(&status);
  ASSERT_EQ(status, 0);
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(second->tlsOffsetCache.has_value());

  // A failed TargetInit leaves the record in place as it was.
  RemoveSymbol("qx_kernel_osa_version");
  EXPECT_EQ(TargetInit(&status), second);
  EXPECT_EQ(status, 1);

  EXPECT_EQ(KernelTargetCleanup(&context, &context.info, &context.privateData), 0);
  EXPECT_EQ(context.privateData, nullptr);
  EXPECT_EQ(KernelTargetCleanup(&context, &context.info, &context.privateData), 0);
}

TEST_F(ModelTarget, RunStateRefreshEmptiesTheOffsetCacheOnlyOnNoticeZero) {
  ASSERT_TRUE(Open("v3-32"));
  std::int32_t status = -1;
  KernelContext* kernel = TargetInit(&status);
  ASSERT_EQ(status, 0);
  kernel->tlsOffsetCache.emplace();
  (*kernel->tlsOffsetCache)[0x20001000] = 64;
  const std::uint32_t tick = model.manifest.currentTick + 5;
  std::uint64_t tickAddress = 0;
  ASSERT_TRUE(
      model::ModelEvaluate(model, "&qx_kernel_timer_info.current_tick", &tickAddress, nullptr));
  ASSERT_TRUE(WriteWord(static_cast<std::uint32_t>(tickAddress), 4, tick));
  EXPECT_EQ(RefreshRunState(&context, kernel, 1), 0u);
  EXPECT_EQ(kernel->tlsOffsetCache->size(), 1u);
  EXPECT_EQ(kernel->currentTick, tick);
  EXPECT_EQ(RefreshRunState(&context, kernel, 0), 0u);
  ASSERT_TRUE(kernel->tlsOffsetCache.has_value());
  EXPECT_TRUE(kernel->tlsOffsetCache->empty());
  EXPECT_EQ(kernel->runningTask, model.manifest.runningTask);
}

}  // namespace
}  // namespace kernel_test
