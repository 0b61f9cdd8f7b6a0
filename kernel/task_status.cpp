// Tasks as a whole and the target's run state: task names, task states from
// the status-code table, the running task, thread-local-storage offsets with
// their per-task cache, target notices, the "get_task_table" command and the
// choice of object windows the debugger shows.
#include "kernel/task_status.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>

#include "kernel/discovery.h"
#include "kernel/kernel_messages.h"
#include "kernel/structure_access.h"
#include "simple_json/json_value.h"

namespace {

// Text of each "status" code; code 7 names a block pool on version 1 kernels
// and a mutex on version 3 kernels.
struct TaskStatusText {
  const char* version1;
  const char* version3;
};
constexpr std::array<TaskStatusText, 10> kTaskStatusTexts = {{
    {"Ready", "Ready"},  // "Running" for the running task
    {"Exited", "Exited"},
    {"Halted", "Halted"},
    {"Pended (sleep)", "Pended (sleep)"},
    {"Pended (queue)", "Pended (queue)"},
    {"Pended (semaphore)", "Pended (semaphore)"},
    {"Pended (event flags)", "Pended (event flags)"},
    {"Pended (block pool)", "Pended (mutex)"},
    {"Pended (mutex)", "Pended (mutex)"},
    {"Pended (malloc pool)", "Pended (malloc pool)"},
}};
static_assert(kTaskStatusTexts.size() == 10, "status codes 0 to 9");

const char* TaskStatusName(const KernelContext& kernel, std::uint32_t task, std::uint32_t code) {
  if (code >= kTaskStatusTexts.size()) return "Unknown";
  if (code == 0 && task == kernel.runningTask) return "Running";
  const TaskStatusText& row = kTaskStatusTexts[code];
  return kernel.version == 3 ? row.version3 : row.version1;
}

// Thread-local-storage offsets as text: 32-bit figures (negative ones
// included) as "0x%x", larger ones in full.
std::string FormatOffset(std::int64_t offset) {
  std::array<char, 24> buffer{};
  if (offset < (std::int64_t{1} << 32)) {
    std::snprintf(buffer.data(), buffer.size(), "0x%x", static_cast<std::uint32_t>(offset));
  } else {
    std::snprintf(buffer.data(), buffer.size(), "0x%" PRIx64, static_cast<std::uint64_t>(offset));
  }
  return std::string(buffer.data());
}

void DeliverOffset(OsaValue* out, std::int64_t offset) {
  if (out->kind == OsaValueKind::kText) {
    out->text = FormatOffset(offset);
    return;
  }
  // A kind that holds no number keeps its value; the answer stays a success.
  (void)OsaValueStoreNumber(out, static_cast<std::uint64_t>(offset));
}

// Whether the task runs on the program's own start-up stack, whose
// thread-local storage is the program's initial block (offset 0): its stack
// lies inside the start-up stack and it has the lowest priority.
//
// Only version 1 kernels are sure to have "static_priority". On a version 3
// kernel the member is first looked for without reading it, so a kernel that
// lacks it shows no error; such a task counts as not running on the
// start-up stack.
bool OnStartupStack(OSA_ServiceCntx* context, const KernelContext& kernel, std::uint32_t task,
                    std::uint64_t stackStart, std::uint64_t stackSize) {
  if (kernel.stackBegin > stackStart || stackStart + stackSize > kernel.stackEnd) return false;
  if (kernel.version != 1 && !KernelMemberExists(context, kernel, "QX_TASK", "static_priority")) {
    return false;
  }
  OsaValue priority;
  priority.kind = OsaValueKind::kUInt64;
  if (ReadPriority(context, kernel, {"QX_TASK", task, "static_priority"}, &priority) !=
      KernelStatus::kOk) {
    return false;
  }
  return priority.payload == static_cast<std::uint64_t>(kernel.maxPriorities) - 1;
}

// The cache commands and the result member that tells a debugger the
// command was understood (a plug-in without the cache answers 0 and adds
// nothing).
struct CacheCommand {
  std::string_view text;
  bool enable;
};
constexpr std::array<CacheCommand, 2> kCacheCommands = {{{"cache on", true}, {"cache off", false}}};
constexpr const char* kCacheResultMember = "cache";

// "get_task_table" lists one task per bit of a task mask.
constexpr std::uint32_t kTasksPerMaskWord = 32;
constexpr std::string_view kTaskTableCommand = "get_task_table";

// Object windows hidden or renamed by the kernel's layout.
enum class GuiCondition : std::uint8_t {
  kNoMemoryPoolCore,
  kNoBlockPoolCore,
  kMaskKernel,
  kListKernel
};

struct GuiRule {
  std::uint32_t typeId;
  GuiCondition when;
  const char* rename;  // null: the window is hidden
};

constexpr std::array<GuiRule, 11> kGuiRules = {{
    // Pools outside the object list cannot be walked.
    {static_cast<std::uint32_t>(ObjectTypeId::kMemoryPool), GuiCondition::kNoMemoryPoolCore,
     nullptr},
    {static_cast<std::uint32_t>(ObjectTypeId::kBlockPool), GuiCondition::kNoBlockPoolCore, nullptr},
    // Mask kernels show the first presentation of tasks, timers and mutexes,
    // list kernels the second one under the plain names.
    {static_cast<std::uint32_t>(ObjectTypeId::kTaskList), GuiCondition::kMaskKernel, nullptr},
    {static_cast<std::uint32_t>(ObjectTypeId::kTimerList), GuiCondition::kMaskKernel, nullptr},
    {static_cast<std::uint32_t>(ObjectTypeId::kMutexList), GuiCondition::kMaskKernel, nullptr},
    {static_cast<std::uint32_t>(ObjectTypeId::kTask), GuiCondition::kListKernel, nullptr},
    {static_cast<std::uint32_t>(ObjectTypeId::kTimer), GuiCondition::kListKernel, nullptr},
    {static_cast<std::uint32_t>(ObjectTypeId::kMutex), GuiCondition::kListKernel, nullptr},
    {static_cast<std::uint32_t>(ObjectTypeId::kTaskList), GuiCondition::kListKernel, "Task"},
    {static_cast<std::uint32_t>(ObjectTypeId::kTimerList), GuiCondition::kListKernel, "Timer"},
    {static_cast<std::uint32_t>(ObjectTypeId::kMutexList), GuiCondition::kListKernel, "Mutex"},
}};

bool GuiConditionHolds(const KernelContext& kernel, GuiCondition condition) {
  switch (condition) {
    case GuiCondition::kNoMemoryPoolCore:
      return !kernel.hasMemoryPoolCore;
    case GuiCondition::kNoBlockPoolCore:
      return !kernel.hasBlockPoolCore;
    case GuiCondition::kMaskKernel:
      return !kernel.pendIsList;
    case GuiCondition::kListKernel:
      return kernel.pendIsList;
  }
  return false;
}

}  // namespace

KernelStatus ReadTaskStatus(OSA_ServiceCntx* context, const KernelContext& kernel,
                            std::uint32_t task, OsaValue* out) {
  std::uint32_t code = 0;
  const KernelStatus status = ReadObjectWord(context, kernel, {"QX_TASK", task, "status"}, &code);
  if (status != KernelStatus::kOk) return status;
  switch (out->kind) {
    case OsaValueKind::kText:
      out->text = std::string(TaskStatusName(kernel, task, code));
      return KernelStatus::kOk;
    case OsaValueKind::kUInt32:
    case OsaValueKind::kUInt64:
      out->payload = code;
      return KernelStatus::kOk;
    default:
      ShowKernelMessage(context, KernelMessage::kTaskStatusFormatUnsupported);
      return KernelStatus::kFailed;
  }
}

void ReadTaskLsoOffset(OSA_ServiceCntx* context, KernelContext* kernel, std::uint64_t taskId,
                       OsaValue* out) {
  if (kernel->tlsRwStart == 0) {
    DeliverOffset(out, 0);
    return;
  }
  if (kernel->tlsOffsetCache) {
    const auto cached = kernel->tlsOffsetCache->find(taskId);
    if (cached != kernel->tlsOffsetCache->end()) {
      DeliverOffset(out, cached->second);
      return;
    }
  }
  const auto task = static_cast<std::uint32_t>(taskId);
  OsaValue start;
  start.kind = OsaValueKind::kUInt64;
  OsaValue size;
  size.kind = OsaValueKind::kUInt64;
  if (ReadObjectMember(context, *kernel, {"QX_TASK", task, "stack_start"},
                       {.signExtendAddress = true}, &start) != KernelStatus::kOk ||
      ReadObjectMember(context, *kernel, {"QX_TASK", task, "stack_size"}, {}, &size) !=
          KernelStatus::kOk) {
    // The member read has shown why; nothing is cached, so it is tried again.
    DeliverOffset(out, 0);
    return;
  }
  std::int64_t offset = 0;
  if (!OnStartupStack(context, *kernel, task, start.payload, size.payload)) {
    offset = static_cast<std::int64_t>(start.payload + size.payload - kernel->tlsRwStart);
  }
  if (!kernel->tlsOffsetCache) kernel->tlsOffsetCache.emplace();
  (*kernel->tlsOffsetCache)[taskId] = offset;
  DeliverOffset(out, offset);
}

KernelStatus KernelTaskNameGet(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/, void* privateData,
                               std::uint64_t taskId, OsaValue* out) {
  const KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr || out == nullptr) return KernelStatus::kFailed;
  const auto task = static_cast<std::uint32_t>(taskId);
  CachePrefetchObject(context, ActiveCache(&kernel->cache), "QX_TASK", task);
  return ReadObjectName(context, *kernel, task + kernel->coreOffset, out);
}

KernelStatus KernelTaskStatusGet(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                                 void* privateData, std::uint64_t taskId, OsaValue* out) {
  const KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr || out == nullptr) return KernelStatus::kFailed;
  return ReadTaskStatus(context, *kernel, static_cast<std::uint32_t>(taskId), out);
}

KernelStatus KernelCurrentTaskGet(OSA_ServiceCntx* /*context*/, OsaPluginInfo* /*info*/,
                                  void* privateData, std::int64_t /*coreIndex*/,
                                  std::uint64_t* taskId) {
  const KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr || taskId == nullptr) return KernelStatus::kFailed;
  *taskId = kernel->runningTask;
  return KernelStatus::kOk;
}

KernelStatus KernelTaskLsoGet(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/, void* privateData,
                              std::uint64_t taskId, std::uint64_t /*taskAttribute*/,
                              OsaValue* out) {
  KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr || out == nullptr) return KernelStatus::kFailed;
  ReadTaskLsoOffset(context, kernel, taskId, out);
  return KernelStatus::kOk;
}

KernelStatus KernelTargetNotify(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                                void* privateData, std::int32_t notice) {
  KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr) return KernelStatus::kFailed;
  // Whatever the notice, target memory may have changed since it was kept.
  CacheForgetMemory(&kernel->cache);
  return RefreshRunState(context, kernel, notice);
}

KernelStatus KernelOsaCmd_Execute(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                                  void* privateData, const char* command) {
  KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr) return KernelStatus::kFailed;
  if (command == nullptr) return KernelStatus::kOk;
  for (const CacheCommand& cache : kCacheCommands) {
    if (std::string_view(command) != cache.text) continue;
    CacheSetEnabled(&kernel->cache, cache.enable);
    if (context->currentResult != nullptr) {
      JsonObjectAddInteger(context->currentResult, kCacheResultMember, cache.enable ? 1 : 0);
    }
    return KernelStatus::kOk;
  }
  if (std::string_view(command) != kTaskTableCommand) return KernelStatus::kOk;
  // The table has one entry per bit of a task mask; a record whose width is
  // neither one nor two words is not trusted with the bound of the loop.
  if (kernel->maskWords != 1 && kernel->maskWords != 2) return KernelStatus::kFailed;
  if (context->currentResult == nullptr) return KernelStatus::kFailed;
  const std::uint32_t entries = kernel->maskWords * kTasksPerMaskWord;
  JsonPtr table = JsonNewArray();
  for (std::uint32_t i = 0; i < entries; ++i) {
    OsaValue task;
    const KernelStatus status = EvaluateFormatted(context, &task, OsaValueKind::kUInt32,
                                                  "qx_kernel_sched_info.static_task_array[%u]", i);
    if (status != KernelStatus::kOk) return status;
    JsonArrayAppend(
        table.get(),
        JsonNewInteger(static_cast<std::int64_t>(static_cast<std::uint32_t>(task.payload))));
  }
  return JsonObjectAdd(context->currentResult, "task_table", std::move(table))
             ? KernelStatus::kOk
             : KernelStatus::kFailed;
}

KernelStatus KernelGuiObjectCheck(OSA_ServiceCntx* /*context*/, OsaPluginInfo* /*info*/,
                                  void* privateData, const OsaGuiObjectInfo* in,
                                  OsaGuiObjectInfo* out) {
  const KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr || in == nullptr || out == nullptr) return KernelStatus::kFailed;
  *out = *in;
  for (const GuiRule& rule : kGuiRules) {
    if (rule.typeId != in->typeId || !GuiConditionHolds(*kernel, rule.when)) continue;
    if (rule.rename == nullptr) {
      out->visible = 0;
    } else {
      out->typeName = std::string(rule.rename);
    }
  }
  return KernelStatus::kOk;
}
