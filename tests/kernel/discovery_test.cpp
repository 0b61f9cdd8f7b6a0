// Kernel discovery against model kernels: every build variant is recognised
// with the facts of its manifest; each missing or broken symbol is refused
// with its one message and leaves no record; records are released when
// replaced; targets stopped in reset code are refused.
#include "kernel/discovery.h"

#include <string>

#include "tests/kernel/kernel_harness.h"

namespace kernel_test {
namespace {

class TargetInitVariant : public ModelTarget,
                          public testing::WithParamInterface<std::string_view> {};

TEST_P(TargetInitVariant, RecordHoldsTheManifestFacts) {
  ASSERT_TRUE(Open(GetParam()));
  const model::KernelManifest& m = model.manifest;
  std::int32_t status = -1;
  const KernelContext* kernel = TargetInit(&status);
  ASSERT_EQ(status, 0) << testing::PrintToString(Messages());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(kernel->version, m.version);
  EXPECT_EQ(kernel->coreOffset, m.coreOffset);
  EXPECT_EQ(kernel->maxPriorities, m.maxPriorities);
  EXPECT_EQ(kernel->maskWords, m.maxTasks / 32);
  EXPECT_EQ(kernel->regStackSize, m.regStackSize);
  ASSERT_FALSE(kernel->registerMap.empty());
  ASSERT_LE(kernel->registerMap.size(), m.registerMap.size());
  EXPECT_TRUE(
      std::equal(kernel->registerMap.begin(), kernel->registerMap.end(), m.registerMap.begin()));
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
  EXPECT_FALSE(kernel->tlsOffsetCache.has_value());
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, TargetInitVariant,
                         testing::ValuesIn(model::KernelVariantNames()), VariantName);

// How a refusal row breaks the target: `name` is a symbol, for kHide
// "type/member", for kWaitListSize the record type.
enum class Break { kRemove, kUnmap, kWrite, kHide, kMapLength, kWaitListSize };

struct RefusalRow {
  const char* variant;
  Break how;
  const char* name;
  std::uint32_t value;
  const char* message;
};

constexpr const char* kRegisterMap = "qx_kernel_register_stack_offsets";
constexpr const char* kWaitList = "struct QX_WAIT_LIST_STRUCT";

const RefusalRow kRefusals[] = {
    {"v1-mask-core-32", Break::kRemove, "qx_kernel_osa_version", 0,
     "Error: Unable to find OSA kernel version.  OSA requires\n"
     "       the kernel to be built with symbol information.\n"},
    {"v1-mask-core-32", Break::kWrite, "qx_kernel_osa_version", 2,
     "Error: OSA kernel version on target is not supported.\n"
     "       The OSA module requires target OSA kernel version 1 or 3.\n"},
    {"v3-32", Break::kHide, "QX_TASK/core", 0,
     "Error: Unable to parse kernel objects.  OSA requires\n"
     "       the kernel to be built with symbol information.\n"},
    {"v1-list-core-32", Break::kRemove, "qx_kernel_max_priorities", 0,
     "Error: Unable to find task priority count\n"},
    {"v1-mask-core-32", Break::kWaitListSize, kWaitList, 16,
     "Error: QX_MAX_TASKS must be 32 or 64\n"},
    {"v3-64", Break::kWrite, "qx_kernel_max_tasks", 48, "Error: QX_MAX_TASKS must be 32 or 64\n"},
    {"v3-32", Break::kRemove, "qx_kernel_max_tasks", 0, "Error: Unable to find task count\n"},
    {"v1-mask-union-32", Break::kRemove, "qx_kernel_reg_stack_size", 0,
     "Error: Unable to find task register context size\n"},
    {"v1-mask-core-32", Break::kMapLength, kRegisterMap, 4,
     "Error: Unable to find kernel register map\n"},
    // A map larger than any register file is not read byte by byte.
    {"v1-list-core-32", Break::kMapLength, kRegisterMap, 1u << 20,
     "Error: Unable to find kernel register map\n"},
    {"v3-32", Break::kUnmap, kRegisterMap, 0, "Error: Unable to read kernel register map\n"},
    {"v1-mask-core-32", Break::kHide, "struct QX_OBJECT_STRUCT/pending", 0,
     "Error: Unable to find object pendlist member\n"},
    {"v1-list-union-64", Break::kUnmap, "qx_kernel_interrupt_level", 0,
     "Error: Unable to read current interrupt level\n"},
    {"v1-mask-core-32", Break::kRemove, "qx_kernel_running_task", 0,
     "Error: Unable to parse current task\n"},
    {"v3-32", Break::kRemove, "qx_kernel_timer_info", 0, "Error: Unable to parse current tick\n"},
    {"v1-mask-core-32", Break::kUnmap, "qx_cpu_fp_task", 0,
     "Error: Unable to read current floating point task\n"},
};

TEST_F(ModelTarget, TargetInitRefusalsShowOneMessageAndLeaveNoRecord) {
  for (const RefusalRow& row : kRefusals) {
    SCOPED_TRACE(row.message);
    ASSERT_TRUE(Open(row.variant));
    const std::string_view name = row.name;
    switch (row.how) {
      case Break::kRemove:
        RemoveSymbol(name);
        break;
      case Break::kUnmap:
        Symbol(name)->address = kUnmapped;
        break;
      case Break::kWrite:
        ASSERT_TRUE(WriteWord(Symbol(name)->address, 4, row.value));
        break;
      case Break::kHide:
        HideMember(name.substr(0, name.find('/')), name.substr(name.find('/') + 1));
        break;
      case Break::kMapLength: {
        model::TypeId byte = 0;
        ASSERT_TRUE(model::FindTypeByName(model.types, "unsigned char", &byte));
        Symbol(name)->type = model::AddArrayType(&model.types, byte, row.value);
        break;
      }
      case Break::kWaitListSize:
        Record(name)->size = row.value;
        break;
    }
    std::int32_t status = -1;
    EXPECT_EQ(TargetInit(&status), nullptr);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(Messages(), Texts{row.message});
  }
}

TEST_F(ModelTarget, ThreadLocalStorageNeedsItsInitRoutineAndStackStart) {
  for (const char* missing : {"__c_tls_init", "__hrxbegin_stack"}) {
    SCOPED_TRACE(missing);
    ASSERT_TRUE(Open("v1-mask-core-32"));
    RemoveSymbol(missing);
    std::int32_t status = -1;
    const KernelContext* kernel = TargetInit(&status);
    ASSERT_EQ(status, 0);
    const bool noInit = std::string_view(missing) == "__c_tls_init";
    EXPECT_EQ(kernel->tlsRwStart, noInit ? 0u : model.manifest.tlsRwStart);
    EXPECT_EQ(kernel->stackBegin, 0u);
    EXPECT_EQ(kernel->stackEnd, noInit ? 0u : model.manifest.stackEnd);
  }
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
  EXPECT_EQ(KernelTargetCleanup(&context, &context.info, &context.privateData), KernelStatus::kOk);
  EXPECT_EQ(context.privateData, nullptr);
  EXPECT_EQ(KernelTargetCleanup(&context, &context.info, &context.privateData), KernelStatus::kOk);
}

TEST_F(ModelTarget, OsaInitOffersTwentyCommandsInSlotOrder) {
  ASSERT_TRUE(Open("v1-mask-core-32"));
  DbgOsaInitAnswer answer;
  ASSERT_EQ(DbgOsaInit(session.get(), kContext, &answer), 0) << session->lastError;
  started = true;
  EXPECT_EQ(answer.versionAcknowledge, 2u);
  const Texts expected = {
      "OsaInit",          "OsaCleanup",        "TargetInit",     "TargetCleanup",
      "ObjectListInit",   "ObjectListCleanup", "ObjectListNext", "ObjectListAttribute",
      "TaskRegisterRead", "TaskRegisterWrite", "TaskNameGet",    "TaskStatusGet",
      "CurrentTaskGet",   "TaskLsoGet",        "Poll",           "TargetNotify",
      "OsaCmd_Execute",   "GuiObjectCheck",    "HistoryLogDump", "Exit"};
  Texts offered;
  for (const std::string& command : answer.commands) {
    offered.push_back(command.starts_with("OSA_Client_") ? command.substr(11) : command);
  }
  EXPECT_EQ(offered, expected);
  EXPECT_EQ(RequestsWith(R"("commandCount" : 20, )").size(), 1u);
}

// ---- The start-up check ------------------------------------------------------

constexpr const char* kNotInitialized =
    "Error: Cannot start OSA before data and bss are initialized.\n";

class StartCheck : public ModelTarget {
 public:
  // The routine of that name, added after all others when the kernel has none.
  std::uint32_t Routine(const std::string& name) {
    if (const model::Symbol* symbol = Symbol(name)) return symbol->address;
    std::uint32_t end = 0;
    for (const model::Symbol& symbol : model.symbols.symbols) {
      if (symbol.kind == model::SymbolKind::kRoutine)
        end = std::max(end, symbol.address + symbol.size);
    }
    const std::uint32_t address = (end + 0xFF) & ~0xFFu;
    EXPECT_TRUE(model::AddSymbol(&model.symbols,
                                 model::Symbol{name, model::SymbolKind::kRoutine, address, 64, 0}));
    return address;
  }
  void SetPc(std::uint32_t pc) { model.registers.values[model::kRegPc] = pc; }

  // TargetInit's status; a refused target leaves no record.
  std::int32_t Init() {
    std::int32_t status = -1;
    const KernelContext* kernel = TargetInit(&status);
    EXPECT_EQ(kernel != nullptr, status == 0);
    return status;
  }
};

TEST_F(StartCheck, ResetEntriesInEitherFrameAreRefusedLookAlikesAccepted) {
  for (const char* entry :
       {"qx_cpu_reset_handler", "entRESET", "_start", "_start_T", "__hrx_ind_crt0"}) {
    for (const std::string& name : {std::string(entry), "_" + std::string(entry)}) {
      for (const bool callerFrame : {false, true}) {
        SCOPED_TRACE(name + (callerFrame ? " (caller)" : " (current)"));
        ASSERT_TRUE(Open("v1-mask-core-32"));
        const std::uint32_t address = Routine(name) + 4;
        if (callerFrame) {
          model.registers.values[model::kRegLr] = address | 1;
        } else {
          SetPc(address);
        }
        EXPECT_EQ(Init(), 2);
        EXPECT_EQ(Messages(), Texts{kNotInitialized});
      }
    }
  }
  for (const char* name : {"___start", "start", "_START", "_start_TT", "xentRESET"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Open("v3-32"));
    SetPc(Routine(name) + 8);
    EXPECT_EQ(Init(), 0);
  }
}

TEST_F(StartCheck, CommandsAreSentExactlyAndAnUnknownProcedureIsRefused) {
  ASSERT_TRUE(Open("v1-mask-core-32"));
  EXPECT_EQ(TargetStartCheck(&context), KernelStatus::kOk);
  const Texts commands = RequestsWith("OSA_Service_CommandExec");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_NE(commands[0].find(R"("command" : "E 1; mprintf(\"%s\", $_PROCEDURE);", )"
                             R"("outputMask" : 1)"),
            std::string::npos)
      << commands[0];
  EXPECT_NE(commands[1].find(R"("command" : "E; mprintf(\"%s\", $_PROCEDURE);", )"
                             R"("outputMask" : 1)"),
            std::string::npos)
      << commands[1];
  // No caller routine: only the current frame is compared.
  model.registers.values[model::kRegLr] = 0;
  EXPECT_EQ(TargetStartCheck(&context), KernelStatus::kOk);
  EXPECT_TRUE(Messages().empty());
  SetPc(0);
  EXPECT_EQ(Init(), 2);
  EXPECT_EQ(Messages(), Texts{"Error: Unable to obtain current procedure for OSA.\n"});
}

// pc in [begin, end) of a boot or reset section is refused, pc at the end of
// the boot section accepted (the reset section ends where boot code begins);
// the three-underscore symbols stand in when the two-underscore begin symbol
// is missing.
TEST_F(StartCheck, PcInsideBootAndResetSectionsIsRefusedUpToTheirEnd) {
  struct Row {
    const char* variant;
    const char* begin;
    const char* end;
  };
  for (const Row& row : {Row{"v1-mask-core-32", "__hrxbegin_boottext", "__hrxend_boottext"},
                         Row{"v1-mask-union-64", "___hrxbegin_boottext", "___hrxend_boottext"},
                         Row{"v3-64", "__hrxbegin_reset", "__hrxend_reset"}}) {
    SCOPED_TRACE(row.variant);
    ASSERT_TRUE(Open(row.variant));
    // Only the section's bounds say it is reset code, not a routine name.
    if (model::Symbol* handler = Symbol("qx_cpu_reset_handler")) handler->name = "vector_code";
    const std::uint32_t begin = Symbol(row.begin)->address;
    const std::uint32_t end = Symbol(row.end)->address;
    ASSERT_LT(begin, end);
    for (const std::uint32_t pc : {begin, end - 1}) {
      SetPc(pc);
      Forget();
      EXPECT_EQ(TargetStartCheck(&context), KernelStatus::kFailed) << std::hex << pc;
      EXPECT_EQ(Messages(), Texts{kNotInitialized});
    }
    SetPc(end);
    Forget();
    const bool reset = std::string_view(row.begin).ends_with("reset");
    EXPECT_EQ(TargetStartCheck(&context), reset ? KernelStatus::kFailed : KernelStatus::kOk);
    EXPECT_EQ(Messages().empty(), !reset);
    const Texts probes = RequestsWith("hrx");
    ASSERT_GE(probes.size(), 2u);
    EXPECT_NE(probes[0].find(R"("expression" : "__hrxbegin_reset")"), std::string::npos);
  }
}

}  // namespace
}  // namespace kernel_test
