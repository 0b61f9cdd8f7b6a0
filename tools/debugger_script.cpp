// Scripts of a debugger's requests over a model-debugger session (see
// debugger_script.h).
#include "tools/debugger_script.h"

#include <array>
#include <optional>
#include <utility>

#include "debugger/client_calls.h"
#include "model/register_file.h"

namespace {

constexpr std::int32_t kTaskAttributes[] = {0, 1,  2,  3,  4,  5,  6,  7, 8,
                                            9, 10, 11, 18, 19, 20, 21, 22};
constexpr std::int32_t kTimerAttributes[] = {0, 1, 9, 12, 13, 14, 15, 16, 17, 26};
constexpr std::int32_t kMutexAttributes[] = {0, 1, 9, 22, 23, 24, 25};
constexpr std::int32_t kSemaphoreAttributes[] = {0, 1, 9, 32};
constexpr std::int32_t kQueueAttributes[] = {0, 1, 9, 42, 43, 44};
constexpr std::int32_t kEventFlagsAttributes[] = {0, 1, 9, 52, 53};
constexpr std::int32_t kBlockPoolAttributes[] = {0, 1, 9, 62, 63, 64};
constexpr std::int32_t kMemoryPoolAttributes[] = {0, 1, 9, 72, 73, 74, 75};

constexpr std::array<ScriptObjectType, 11> kObjectTypes = {{
    {1, "Task", kTaskAttributes},
    {2, "Timer", kTimerAttributes},
    {3, "Mutex", kMutexAttributes},
    {4, "Semaphore", kSemaphoreAttributes},
    {5, "Queue", kQueueAttributes},
    {6, "Event flags", kEventFlagsAttributes},
    {7, "Block pool", kBlockPoolAttributes},
    {8, "Memory pool", kMemoryPoolAttributes},
    {9, "Task list", kTaskAttributes},
    {10, "Timer list", kTimerAttributes},
    {11, "Mutex list", kMutexAttributes},
}};
static_assert(kObjectTypes.size() == 11, "one row per object type of the interface");

// An attribute number no object type defines.
constexpr std::int32_t kUndefinedAttribute = 99;
// The object types a window refresh shows (the list presentations are
// the same objects again).
constexpr std::int32_t kRefreshedTypes = 8;

constexpr std::int32_t kWrittenRegister = 4;  // r4, a word of the task's saved context
constexpr std::uint64_t kWrittenValue = 0x5A5A0004;
constexpr std::int32_t kMemorySpace = 4;

bool NoAnswer(DbgSession* session, std::string_view what, std::string* error) {
  *error = std::string(what) + ": " + session->lastError;
  return false;
}

JsonPtr ContextParams() {
  JsonPtr params = JsonNewObject();
  JsonObjectAddInteger(params.get(), "context", kScriptContext);
  return params;
}

JsonPtr TaskParams(std::uint64_t taskId) {
  JsonPtr params = ContextParams();
  JsonObjectAddInteger(params.get(), "taskId", taskId);
  return params;
}

JsonPtr WithInteger(JsonPtr params, std::string_view name, std::int64_t value) {
  JsonObjectAddInteger(params.get(), name, value);
  return params;
}

JsonPtr WithString(JsonPtr params, std::string_view name, std::string_view value) {
  JsonObjectAddString(params.get(), name, value);
  return params;
}

// A client method the debugger's windows do not use, sent as raw params:
// any answer that is a result will do, its "return" is what the record keeps.
bool CallRaw(DbgSession* session, std::string_view method, JsonPtr params, std::string* error) {
  JsonPtr result;
  if (!DbgSessionCall(session, method, std::move(params), &result)) {
    return NoAnswer(session, method, error);
  }
  return true;
}

// Asks one attribute as text and, for kTextAndNumber, as a number too; `number`
// is set only when the number form succeeded. False when the plug-in did not answer.
bool AskAttribute(DbgSession* session, std::int32_t type, std::int32_t attribute,
                  ScriptValues values, ScriptCounts* counts, std::optional<std::uint64_t>* number,
                  std::string* error) {
  std::string text;
  const std::uint64_t answeredBefore = session->service.answered;
  ++counts->attributes;
  const std::int32_t textStatus =
      DbgObjectListAttributeText(session, kScriptContext, type, attribute, &text);
  counts->attributeServiceRoundTrips += session->service.answered - answeredBefore;
  if (textStatus == kDbgNoAnswer) return NoAnswer(session, "OSA_Client_ObjectListAttribute", error);
  if (values != ScriptValues::kTextAndNumber) return true;
  const std::uint64_t numberBefore = session->service.answered;
  ++counts->attributes;
  std::uint64_t value = 0;
  const std::int32_t status =
      DbgObjectListAttributeNumber(session, kScriptContext, type, attribute, &value);
  counts->attributeServiceRoundTrips += session->service.answered - numberBefore;
  if (status == kDbgNoAnswer) return NoAnswer(session, "OSA_Client_ObjectListAttribute", error);
  if (status == 0) *number = value;
  return true;
}

// The saved context of a task that neither runs nor owns the FPU is the one
// a register write lands in.
const model::ManifestTask* WritableTask(const model::KernelManifest& manifest) {
  for (const model::ManifestTask& task : manifest.tasks) {
    if (!task.running && !task.fpOwner) return &task;
  }
  return nullptr;
}

// Whether a task's floating-point registers are read too: those of the
// running task and the FPU owner (live), and of the first task of each kind of
// saved frame, with and without a floating-point context. The others get the
// core registers and the stack-pointer bit only, which keeps the records small.
bool ReadsAllRegisters(const model::KernelManifest& manifest, std::uint64_t taskId) {
  const model::ManifestTask* firstFp = nullptr;
  const model::ManifestTask* firstNoFp = nullptr;
  for (const model::ManifestTask& task : manifest.tasks) {
    if (task.running || task.fpOwner) {
      if (task.address == taskId) return true;
      continue;
    }
    if (task.fpFrame && firstFp == nullptr) firstFp = &task;
    if (!task.fpFrame && firstNoFp == nullptr) firstNoFp = &task;
  }
  return (firstFp != nullptr && firstFp->address == taskId) ||
         (firstNoFp != nullptr && firstNoFp->address == taskId);
}

bool ReadRegister(DbgSession* session, std::uint64_t taskId, std::uint32_t reg,
                  std::string* error) {
  std::uint64_t value = 0;
  if (DbgTaskRegisterRead(session, kScriptContext, taskId, static_cast<std::int32_t>(reg),
                          &value) == kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_TaskRegisterRead", error);
  }
  return true;
}

bool AskTask(DbgSession* session, const model::KernelManifest& manifest, std::uint64_t taskId,
             std::string* error) {
  std::string text;
  if (DbgTaskNameGet(session, kScriptContext, taskId, &text) == kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_TaskNameGet", error);
  }
  if (DbgTaskStatusGet(session, kScriptContext, taskId, &text) == kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_TaskStatusGet", error);
  }
  std::int64_t offset = 0;
  if (DbgTaskLsoGet(session, kScriptContext, taskId, &offset) == kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_TaskLsoGet", error);
  }
  const bool all = ReadsAllRegisters(manifest, taskId);
  for (std::uint32_t reg = 0; reg < model::kRegisterCount; ++reg) {
    const bool core = reg <= model::kRegXpsr || reg == model::kRegSpBit31;
    if ((all || core) && !ReadRegister(session, taskId, reg, error)) return false;
  }
  return true;
}

// Every client method that the windows do not use, once, about `taskId`.
bool AskRemainingMethods(DbgSession* session, std::uint64_t taskId, std::uint64_t address,
                         std::string* error) {
  const auto memoryParams = [&]() {
    JsonPtr params = WithInteger(TaskParams(taskId), "memorySpace", kMemorySpace);
    params = WithInteger(std::move(params), "address", static_cast<std::int64_t>(address));
    params = WithInteger(std::move(params), "count", 4);
    params = WithInteger(std::move(params), "size", 1);
    return WithInteger(std::move(params), "read", 1);
  };
  const auto objectParams = [&]() {
    JsonPtr params = WithInteger(ContextParams(), "objTypeId", 1);
    return WithInteger(std::move(params), "objId", static_cast<std::int64_t>(taskId));
  };
  struct Request {
    std::string_view method;
    JsonPtr params;
  };
  Request requests[] = {
      {"OSA_Client_Poll", ContextParams()},
      {"OSA_Client_TaskMemoryAccessSetup", memoryParams()},
      {"OSA_Client_TaskMemoryAccessRestore", memoryParams()},
      {"OSA_Client_TaskAddressTranslate",
       WithInteger(WithInteger(TaskParams(taskId), "memorySpace", kMemorySpace), "address",
                   static_cast<std::int64_t>(address))},
      {"OSA_Client_TaskExecGet", TaskParams(taskId)},
      {"OSA_Client_TaskCpuGet", WithInteger(TaskParams(taskId), "valueType", 0)},
      {"OSA_Client_TaskAddressSpaceGet", WithInteger(TaskParams(taskId), "wantName", 1)},
      {"OSA_Client_TaskRelocatableGet", TaskParams(taskId)},
      {"OSA_Client_TaskSymTabGet", TaskParams(taskId)},
      {"OSA_Client_TaskInKernelCheck", TaskParams(taskId)},
      {"OSA_Client_TaskInCurrentAddressSpaceCheck", TaskParams(taskId)},
      {"OSA_Client_TaskIsHiddenCheck", TaskParams(taskId)},
      {"OSA_Client_TaskTksaGet", TaskParams(taskId)},
      {"OSA_Client_AddressSpaceNameGet", WithInteger(ContextParams(), "addressSpaceId", 0)},
      {"OSA_Client_ObjectChangedCheck", objectParams()},
      {"OSA_Client_LifeCycleCountsGet", objectParams()},
      {"OSA_Client_PageTableGet", WithInteger(ContextParams(), "domainId", 0)},
      {"OSA_Client_KernelMemoryRegionsGet", ContextParams()},
      {"OSA_Client_MessageInject",
       WithString(objectParams(), "message", "debugger note for the kernel")},
      // Without "dirPath" nothing is written, so the record replays anywhere.
      {"OSA_Client_HistoryLogDump", JsonNewObject()},
  };
  for (Request& request : requests) {
    if (!CallRaw(session, request.method, std::move(request.params), error)) return false;
  }
  return true;
}

}  // namespace

std::span<const ScriptObjectType> ScriptObjectTypes() {
  return kObjectTypes;
}

bool ScriptWalkType(DbgSession* session, const ScriptObjectType& type, ScriptValues values,
                    bool askUndefined, std::vector<std::uint64_t>* ids, ScriptCounts* counts,
                    std::string* error) {
  bool answered = true;
  bool first = true;
  (void)DbgObjectListWalk(session, kScriptContext, type.type, [&]() {
    ++counts->objects;
    for (const std::int32_t attribute : type.attributes) {
      std::optional<std::uint64_t> number;
      if (!AskAttribute(session, type.type, attribute, values, counts, &number, error)) {
        answered = false;
        return false;
      }
      if (attribute == 0 && number.has_value() && ids != nullptr) ids->push_back(*number);
    }
    if (askUndefined && first) {
      std::optional<std::uint64_t> number;
      if (!AskAttribute(session, type.type, kUndefinedAttribute, values, counts, &number, error)) {
        answered = false;
        return false;
      }
    }
    first = false;
    return true;
  });
  if (answered && session->broken) return NoAnswer(session, "object-list walk", error);
  return answered;
}

bool ScriptRefresh(DbgSession* session, ScriptCounts* counts, std::string* error) {
  if (DbgTargetNotify(session, kScriptContext, 0) == kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_TargetNotify", error);
  }
  for (const ScriptObjectType& type : kObjectTypes) {
    if (type.type > kRefreshedTypes) break;
    if (!ScriptWalkType(session, type, ScriptValues::kText, false, nullptr, counts, error)) {
      return false;
    }
  }
  return true;
}

bool ScriptGoldenSession(DbgSession* session, const model::KernelManifest& manifest,
                         std::string* error) {
  DbgOsaInitAnswer init;
  const std::int32_t initStatus = DbgOsaInit(session, kScriptContext, &init);
  if (initStatus != 0) {
    if (initStatus == kDbgNoAnswer) return NoAnswer(session, "OSA_Client_OsaInit", error);
    *error = "OSA_Client_OsaInit answered " + std::to_string(initStatus);
    return false;
  }
  DbgTargetInitAnswer target;
  const std::int32_t targetStatus =
      DbgTargetInit(session, kScriptContext, manifest.bigEndian, &target);
  if (targetStatus != 0) {
    if (targetStatus == kDbgNoAnswer) return NoAnswer(session, "OSA_Client_TargetInit", error);
    *error = "OSA_Client_TargetInit answered " + std::to_string(targetStatus);
    return false;
  }

  // Like a debugger, walk only the object windows the plug-in shows: tasks,
  // timers and mutexes appear once, in the presentation of the kernel's
  // layout variant.
  std::array<bool, kObjectTypes.size()> shown{};
  for (std::size_t row = 0; row < kObjectTypes.size(); ++row) {
    const ScriptObjectType& type = kObjectTypes[row];
    std::string shownName;
    std::int32_t visible = 0;
    if (DbgGuiObjectCheck(session, kScriptContext, type.name, type.type, 1, &shownName, &visible) ==
        kDbgNoAnswer) {
      return NoAnswer(session, "OSA_Client_GuiObjectCheck", error);
    }
    shown[row] = visible != 0;
  }

  std::vector<std::uint64_t> taskIds;
  ScriptCounts counts;
  for (std::size_t row = 0; row < kObjectTypes.size(); ++row) {
    const ScriptObjectType& type = kObjectTypes[row];
    if (!shown[row]) continue;
    const bool tasks = type.type == 1 || type.type == 9;
    if (!ScriptWalkType(session, type, ScriptValues::kTextAndNumber, true,
                        tasks ? &taskIds : nullptr, &counts, error)) {
      return false;
    }
  }
  if (taskIds.size() != manifest.tasks.size()) {
    *error = "the task walk found " + std::to_string(taskIds.size()) + " tasks, the model has " +
             std::to_string(manifest.tasks.size());
    return false;
  }

  for (const std::uint64_t taskId : taskIds) {
    if (!AskTask(session, manifest, taskId, error)) return false;
  }
  std::uint64_t running = 0;
  if (DbgCurrentTaskGet(session, kScriptContext, &running) == kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_CurrentTaskGet", error);
  }

  const model::ManifestTask* const written = WritableTask(manifest);
  if (written == nullptr) {
    *error = "the model has no task whose saved context can be written";
    return false;
  }
  std::uint64_t readBack = 0;
  if (DbgTaskRegisterWrite(session, kScriptContext, written->address, kWrittenRegister,
                           kWrittenValue) == kDbgNoAnswer ||
      DbgTaskRegisterRead(session, kScriptContext, written->address, kWrittenRegister, &readBack) ==
          kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_TaskRegisterWrite", error);
  }

  // Notice 1 keeps the cached thread-local-storage offsets, notice 0 (the
  // target halted again) drops them, so the third ask computes afresh. A task
  // with an offset of its own shows the difference in the service requests.
  std::uint64_t tlsTask = taskIds.front();
  for (const model::ManifestTask& task : manifest.tasks) {
    if (task.tlsOffset != 0) {
      tlsTask = task.address;
      break;
    }
  }
  std::int64_t offset = 0;
  for (const std::int32_t notice : {1, 0}) {
    if (DbgTargetNotify(session, kScriptContext, notice) == kDbgNoAnswer) {
      return NoAnswer(session, "OSA_Client_TargetNotify", error);
    }
    if (DbgTaskLsoGet(session, kScriptContext, tlsTask, &offset) == kDbgNoAnswer) {
      return NoAnswer(session, "OSA_Client_TaskLsoGet", error);
    }
  }

  JsonPtr table;
  if (DbgOsaCmdExecute(session, kScriptContext, "get_task_table", &table) == kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_OsaCmd_Execute", error);
  }
  if (!AskRemainingMethods(session, written->address, written->stackStart, error)) return false;

  if (DbgTargetCleanup(session, kScriptContext) == kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_TargetCleanup", error);
  }
  if (DbgOsaCleanup(session, kScriptContext) == kDbgNoAnswer) {
    return NoAnswer(session, "OSA_Client_OsaCleanup", error);
  }
  std::int32_t exitCode = 0;
  if (DbgExit(session, &exitCode) == kDbgNoAnswer)
    return NoAnswer(session, "OSA_Client_Exit", error);
  return true;
}
