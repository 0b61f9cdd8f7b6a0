// Kernel discovery: the start-up check, TargetInit (interface version, build
// parameters, register map, layout variant, thread-local storage),
// TargetCleanup, the run-state refresh, and the setup callbacks that need no
// kernel record (OsaInit, OsaCleanup, Poll).
#include "kernel/discovery.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kernel/kernel_messages.h"
#include "kernel/structure_access.h"
#include "osa/service_requests.h"

namespace {

// Interface version the plug-in acknowledges in OsaInit.
constexpr std::uint32_t kVersionAcknowledge = 2;
// Output mask of the start-up check's debugger commands.
constexpr std::uint64_t kCommandOutputMask = 1;

constexpr const char* kCallerProcedureCommand = "E 1; mprintf(\"%s\", $_PROCEDURE);";
constexpr const char* kCurrentProcedureCommand = "E; mprintf(\"%s\", $_PROCEDURE);";

// Routines that run before data and bss are set up; each may also appear
// with one more leading underscore.
constexpr std::array<std::string_view, 5> kResetEntryNames = {
    "qx_cpu_reset_handler", "entRESET", "_start", "_start_T", "__hrx_ind_crt0"};

// Sections holding reset and boot code, bounded by __hrxbegin_<S> and
// __hrxend_<S> (or the same with three leading underscores).
constexpr std::array<const char*, 4> kBootSectionNames = {"reset", "ROM_reset", "boottext",
                                                          "ROM_boottext"};

// The ways an object core can keep the tasks pending on it, probed in this
// order on version 1 kernels; the first member that exists decides.
struct PendModeProbe {
  const char* expression;
  bool pendIsList;
  bool pendInUnion;
};
constexpr std::array<PendModeProbe, 4> kVersion1PendProbes = {{
    {"&((struct QX_OBJECT_STRUCT *)0)->pending.mask", false, false},
    {"&((struct QX_OBJECT_STRUCT *)0)->pending.head", true, false},
    {"&((struct QX_OBJECT_STRUCT *)0)->u.pending.mask", false, true},
    {"&((struct QX_OBJECT_STRUCT *)0)->u.pending.head", true, true},
}};
constexpr PendModeProbe kVersion3PendProbe = {
    "&((struct QX_OBJECT_STRUCT *)0)->u.pending.task_mask", false, true};

// A register table larger than this cannot describe a 32-bit core's
// registers: it comes from broken debug information, and reading it byte by
// byte would ask the debugger billions of times.
constexpr std::uint32_t kMaxRegisterMapEntries = 4096;

constexpr std::uint32_t kMaskWordBytes = 4;
constexpr std::uint32_t kMaskWordTasks = 32;

bool IsResetEntry(std::string_view name) {
  for (std::string_view entry : kResetEntryNames) {
    if (name == entry) return true;
    if (name.size() == entry.size() + 1 && name.front() == '_' && name.substr(1) == entry) {
      return true;
    }
  }
  return false;
}

// Evaluates an expression as an unsigned 32-bit value.
KernelStatus EvaluateWord(OSA_ServiceCntx* context, const char* expression, std::uint32_t* value) {
  OsaValue result;
  const KernelStatus status =
      EvaluateFormatted(context, &result, OsaValueKind::kUInt32, "%s", expression);
  if (status != KernelStatus::kOk) return status;
  *value = static_cast<std::uint32_t>(result.payload);
  return KernelStatus::kOk;
}

bool EvaluatesTo(OSA_ServiceCntx* context, const char* expression, std::uint32_t* value) {
  return EvaluateWord(context, expression, value) == KernelStatus::kOk;
}

bool Evaluates(OSA_ServiceCntx* context, const char* expression) {
  std::uint32_t ignored = 0;
  return EvaluatesTo(context, expression, &ignored);
}

// A macro of the debugger that is non-zero when the symbol exists.
bool SymbolExists(OSA_ServiceCntx* context, const char* expression) {
  std::uint32_t exists = 0;
  return EvaluatesTo(context, expression, &exists) && exists != 0;
}

// Whether pc lies in one of the reset or boot sections.
bool PcInBootSection(OSA_ServiceCntx* context, std::uint32_t pc) {
  for (const char* section : kBootSectionNames) {
    const std::string name(section);
    std::string endSymbol = "__hrxend_" + name;
    std::uint32_t begin = 0;
    if (!EvaluatesTo(context, ("__hrxbegin_" + name).c_str(), &begin)) {
      if (!EvaluatesTo(context, ("___hrxbegin_" + name).c_str(), &begin)) continue;
      endSymbol = "___hrxend_" + name;
    }
    std::uint32_t end = 0;
    if (!EvaluatesTo(context, endSymbol.c_str(), &end)) continue;
    if (begin <= pc && pc < end) return true;
  }
  return false;
}

// maskWords from qx_kernel_max_tasks on version 3 kernels. Kernels differ in
// what they keep under that name: some the mask's byte size (4 or 8), as
// version 1 kernels report their wait-list size, others the task count (32
// or 64). The two ranges do not overlap, so both are accepted; any other
// value is refused like a version 1 wait list of the wrong size.
bool MaskWordsFromMaxTasks(std::uint32_t value, std::uint32_t* maskWords) {
  if (value == 4 || value == 8) {
    *maskWords = value / kMaskWordBytes;
    return true;
  }
  if (value == 32 || value == 64) {
    *maskWords = value / kMaskWordTasks;
    return true;
  }
  return false;
}

// The message of a failed TargetInit step, shown once by TargetInit.
struct InitFailure {
  std::optional<KernelMessage> message;
};

bool ReadKernelVersion(OSA_ServiceCntx* context, KernelContext* kernel, InitFailure* failure) {
  std::uint32_t version = 0;
  if (!EvaluatesTo(context, "qx_kernel_osa_version", &version)) {
    failure->message = KernelMessage::kNoKernelVersion;
    return false;
  }
  if (version != 1 && version != 3) {
    failure->message = KernelMessage::kKernelVersionNotSupported;
    return false;
  }
  kernel->version = version;
  kernel->listHead.fill(0);
  kernel->listCursor.fill(0);
  kernel->listSteps.fill(0);
  return true;
}

bool ReadBuildParameters(OSA_ServiceCntx* context, KernelContext* kernel, InitFailure* failure) {
  if (!EvaluatesTo(context, "&((QX_TASK *)0)->core", &kernel->coreOffset)) {
    failure->message = KernelMessage::kNoKernelObjects;
    return false;
  }
  if (!EvaluatesTo(context, "qx_kernel_max_priorities", &kernel->maxPriorities)) {
    failure->message = KernelMessage::kNoPriorityCount;
    return false;
  }
  const char* taskCountExpression = kernel->version == 1
                                        ? "sizeof(struct QX_WAIT_LIST_STRUCT)*sizeof(QX_BYTE)"
                                        : "qx_kernel_max_tasks";
  std::uint32_t taskCount = 0;
  if (!EvaluatesTo(context, taskCountExpression, &taskCount)) {
    failure->message = KernelMessage::kNoTaskCount;
    return false;
  }
  bool widthKnown = false;
  if (kernel->version == 1) {
    widthKnown = taskCount == 4 || taskCount == 8;
    if (widthKnown) kernel->maskWords = taskCount / kMaskWordBytes;
  } else {
    widthKnown = MaskWordsFromMaxTasks(taskCount, &kernel->maskWords);
  }
  if (!widthKnown) {
    failure->message = KernelMessage::kBadMaxTasks;
    return false;
  }
  if (!EvaluatesTo(context, "qx_kernel_reg_stack_size", &kernel->regStackSize)) {
    failure->message = KernelMessage::kNoRegisterContextSize;
    return false;
  }
  return true;
}

bool ReadRegisterMap(OSA_ServiceCntx* context, KernelContext* kernel, InitFailure* failure) {
  std::uint32_t size = 0;
  std::uint32_t address = 0;
  if (!EvaluatesTo(context, "sizeof(qx_kernel_register_stack_offsets)", &size) || size == 0 ||
      size == 4 || size > kMaxRegisterMapEntries ||
      !EvaluatesTo(context, "&qx_kernel_register_stack_offsets", &address)) {
    failure->message = KernelMessage::kNoRegisterMap;
    return false;
  }
  kernel->registerMap.assign(size, 0);
  for (std::uint32_t i = 0; i < size; ++i) {
    std::uint64_t byte = 0;
    if (ReadTargetBytes(context, address + i, 1, &byte) != KernelStatus::kOk) {
      failure->message = KernelMessage::kRegisterMapUnreadable;
      return false;
    }
    kernel->registerMap[i] = static_cast<std::uint32_t>(byte);
  }
  return true;
}

bool FindPendMode(OSA_ServiceCntx* context, KernelContext* kernel, InitFailure* failure) {
  const PendModeProbe* found = nullptr;
  if (kernel->version == 3) {
    if (Evaluates(context, kVersion3PendProbe.expression)) found = &kVersion3PendProbe;
  } else {
    for (const PendModeProbe& probe : kVersion1PendProbes) {
      if (Evaluates(context, probe.expression)) {
        found = &probe;
        break;
      }
    }
  }
  if (found == nullptr) {
    failure->message = KernelMessage::kNoPendListMember;
    return false;
  }
  kernel->pendIsList = found->pendIsList;
  kernel->pendInUnion = found->pendInUnion;
  return true;
}

// Optional members and symbols: absent ones leave their fields false or 0.
void FindOptionalFeatures(OSA_ServiceCntx* context, KernelContext* kernel) {
  kernel->hasMemoryPoolCore = Evaluates(context, "&((QX_MPOOL *)0)->core");
  kernel->hasBlockPoolCore = Evaluates(context, "&((QX_BPOOL *)0)->core");
  kernel->hasPendSv = SymbolExists(context, "$M_sym_exists(qx_cpu_pendsv_enter)");

  kernel->tlsRwStart = 0;
  kernel->stackBegin = 0;
  kernel->stackEnd = 0;
  kernel->tlsOffsetCache.reset();
  if (!SymbolExists(context, "$M_sym_exists(__c_tls_init)")) return;
  OsaValue value;
  if (EvaluateFormatted(context, &value, OsaValueKind::kUInt64, "%s", "__hrx_tls_rw_start") ==
      KernelStatus::kOk) {
    kernel->tlsRwStart = value.payload;
  }
  if (kernel->tlsRwStart == 0) return;
  std::uint32_t address = 0;
  if (EvaluatesTo(context, "__hrxbegin_stack", &address)) kernel->stackBegin = address;
  if (EvaluatesTo(context, "__hrxend_stack", &address)) kernel->stackEnd = address;
}

}  // namespace

KernelStatus TargetStartCheck(OSA_ServiceCntx* context) {
  // The caller's frame may not exist; its status does not matter, and an
  // empty or missing name matches no reset entry.
  std::string caller;
  static_cast<void>(OSA_Service_CommandExec(context, kCallerProcedureCommand, kCommandOutputMask,
                                            &caller, kOsaNoCore));
  std::string current;
  KernelStatus status = ServiceStatus(OSA_Service_CommandExec(
      context, kCurrentProcedureCommand, kCommandOutputMask, &current, kOsaNoCore));
  if (status != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kNoCurrentProcedure);
    return status;
  }
  if (IsResetEntry(current) || IsResetEntry(caller)) {
    ShowKernelMessage(context, KernelMessage::kStartupNotDone);
    return KernelStatus::kFailed;
  }
  std::uint32_t pc = 0;
  status = EvaluateWord(context, "$pc", &pc);
  if (status != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kNoCurrentPc);
    return status;
  }
  if (PcInBootSection(context, pc)) {
    ShowKernelMessage(context, KernelMessage::kStartupNotDone);
    return KernelStatus::kFailed;
  }
  return KernelStatus::kOk;
}

KernelStatus RefreshRunState(OSA_ServiceCntx* context, KernelContext* kernel, std::int32_t notice) {
  if (notice == 0 && kernel->tlsOffsetCache) kernel->tlsOffsetCache->clear();
  OsaValue value;
  KernelStatus status = ReadKernelSymbol(context, *kernel, &value, 4, "current interrupt level",
                                         "&qx_kernel_interrupt_level");
  if (status != KernelStatus::kOk) return status;
  kernel->interruptLevel = static_cast<std::uint32_t>(value.payload & 0xFF);
  status = ReadKernelSymbol(context, *kernel, &value, 4, "current task", "&qx_kernel_running_task");
  if (status != KernelStatus::kOk) return status;
  kernel->runningTask = static_cast<std::uint32_t>(value.payload);
  status = ReadKernelSymbol(context, *kernel, &value, 4, "current tick",
                            "&qx_kernel_timer_info.current_tick");
  if (status != KernelStatus::kOk) return status;
  kernel->currentTick = static_cast<std::uint32_t>(value.payload);

  kernel->fpTask = 0;
  OsaValue fpTaskAddress;
  if (EvaluateLayout(context, *kernel, &fpTaskAddress, "%s", "&qx_cpu_fp_task") ==
      KernelStatus::kOk) {
    std::uint64_t fpTask = 0;
    status = ReadTargetBytes(context, *kernel, static_cast<std::uint32_t>(fpTaskAddress.payload), 4,
                             &fpTask);
    if (status != KernelStatus::kOk) {
      ShowKernelMessage(context, KernelMessage::kFpTaskUnreadable);
      return status;
    }
    kernel->fpTask = static_cast<std::uint32_t>(fpTask);
  }
  return KernelStatus::kOk;
}

KernelStatus KernelOsaInit(OSA_ServiceCntx* /*context*/, OsaPluginInfo* info) {
  if (info != nullptr) info->versionAcknowledge = kVersionAcknowledge;
  return KernelStatus::kOk;
}

KernelStatus KernelOsaCleanup(OSA_ServiceCntx* /*context*/, OsaPluginInfo* /*info*/) {
  return KernelStatus::kOk;
}

KernelStatus KernelTargetInit(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                              OsaPrivateData* place) {
  if (place == nullptr) return KernelStatus::kFailed;
  if (TargetStartCheck(context) != KernelStatus::kOk) return KernelStatus::kNotStarted;

  auto kernel = std::make_unique<KernelContext>();
  InitFailure failure;
  const bool built = ReadKernelVersion(context, kernel.get(), &failure) &&
                     ReadBuildParameters(context, kernel.get(), &failure) &&
                     ReadRegisterMap(context, kernel.get(), &failure) &&
                     FindPendMode(context, kernel.get(), &failure);
  if (!built) {
    if (failure.message) ShowKernelMessage(context, *failure.message);
    return KernelStatus::kFailed;
  }
  FindOptionalFeatures(context, kernel.get());
  // The refresh shows its own message; the partly built record goes with
  // `kernel`.
  if (RefreshRunState(context, kernel.get(), 0) != KernelStatus::kOk) return KernelStatus::kFailed;

  // A record left by an earlier TargetInit without a cleanup is released
  // here, when its successor takes its place; a failed TargetInit leaves it
  // as it was. The successor keeps the debugger's cache switch, not what
  // was kept: the program may have been loaded again.
  if (const KernelContext* earlier = KernelContextOf(place->get())) {
    CacheSetEnabled(&kernel->cache, earlier->cache.enabled);
  }
  place->reset();
  *place = KernelContextAdopt(std::move(kernel));
  return KernelStatus::kOk;
}

KernelStatus KernelTargetCleanup(OSA_ServiceCntx* /*context*/, OsaPluginInfo* /*info*/,
                                 OsaPrivateData* place) {
  if (place != nullptr) place->reset();
  return KernelStatus::kOk;
}

KernelStatus KernelPoll(OSA_ServiceCntx* /*context*/, OsaPluginInfo* /*info*/,
                        void* /*privateData*/) {
  return KernelStatus::kOk;
}
