// The plug-in's exported entry points, the client method table, the callback
// table with its per-slot checks, and the process-wide Exit state.
#include "osa/entry.h"

#include <array>
#include <cstddef>
#include <string_view>

#include "jsonrpc/dispatch.h"
#include "osa/methods.h"
#include "osa/plugin_api.h"
#include "osa/process_state.h"

namespace {

// Registration order differs from slot order at rows 18/19 and 23 to 26;
// rows 36 and 37 have slots but no callback.
constexpr OsaMethodBinding kOsaClientMethods[] = {
    {"OSA_Client_OsaInit", OsaHandleOsaInit, 0},
    {"OSA_Client_OsaCleanup", OsaHandleOsaCleanup, 1},
    {"OSA_Client_TargetInit", OsaHandleTargetInit, 2},
    {"OSA_Client_TargetCleanup", OsaHandleTargetCleanup, 3},
    {"OSA_Client_ObjectListInit", OsaHandleObjectListInit, 4},
    {"OSA_Client_ObjectListCleanup", OsaHandleObjectListCleanup, 5},
    {"OSA_Client_ObjectListNext", OsaHandleObjectListNext, 6},
    {"OSA_Client_ObjectListAttribute", OsaHandleObjectListAttribute, 7},
    {"OSA_Client_TaskMemoryAccessSetup", OsaHandleTaskMemoryAccessSetup, 8},
    {"OSA_Client_TaskMemoryAccessRestore", OsaHandleTaskMemoryAccessRestore, 9},
    {"OSA_Client_TaskRegisterRead", OsaHandleTaskRegisterRead, 10},
    {"OSA_Client_TaskRegisterWrite", OsaHandleTaskRegisterWrite, 11},
    {"OSA_Client_TaskAddressTranslate", OsaHandleTaskAddressTranslate, 12},
    {"OSA_Client_TaskNameGet", OsaHandleTaskNameGet, 13},
    {"OSA_Client_TaskStatusGet", OsaHandleTaskStatusGet, 14},
    {"OSA_Client_TaskExecGet", OsaHandleTaskExecGet, 15},
    {"OSA_Client_TaskCpuGet", OsaHandleTaskCpuGet, 16},
    {"OSA_Client_TaskAddressSpaceGet", OsaHandleTaskAddressSpaceGet, 17},
    {"OSA_Client_TaskSymTabGet", OsaHandleTaskSymTabGet, 19},
    {"OSA_Client_TaskRelocatableGet", OsaHandleTaskRelocatableGet, 18},
    {"OSA_Client_CurrentTaskGet", OsaHandleCurrentTaskGet, 20},
    {"OSA_Client_TaskInKernelCheck", OsaHandleTaskInKernelCheck, 21},
    {"OSA_Client_TaskInCurrentAddressSpaceCheck", OsaHandleTaskInCurrentAddressSpaceCheck, 22},
    {"OSA_Client_AddressSpaceNameGet", OsaHandleAddressSpaceNameGet, 26},
    {"OSA_Client_TaskIsHiddenCheck", OsaHandleTaskIsHiddenCheck, 23},
    {"OSA_Client_TaskLsoGet", OsaHandleTaskLsoGet, 24},
    {"OSA_Client_TaskTksaGet", OsaHandleTaskTksaGet, 25},
    {"OSA_Client_Poll", OsaHandlePoll, 27},
    {"OSA_Client_TargetNotify", OsaHandleTargetNotify, 28},
    {"OSA_Client_OsaCmd_Execute", OsaHandleOsaCmd_Execute, 29},
    {"OSA_Client_GuiObjectCheck", OsaHandleGuiObjectCheck, 30},
    {"OSA_Client_ObjectChangedCheck", OsaHandleObjectChangedCheck, 31},
    {"OSA_Client_LifeCycleCountsGet", OsaHandleLifeCycleCountsGet, 32},
    {"OSA_Client_PageTableGet", OsaHandlePageTableGet, 33},
    {"OSA_Client_MessageInject", OsaHandleMessageInject, 34},
    {"OSA_Client_KernelMemoryRegionsGet", OsaHandleKernelMemoryRegionsGet, 35},
    {"OSA_Client_HistoryLogDump", OsaHandleHistoryLogDump, 36},
    {"OSA_Client_Exit", OsaHandleExit, 37},
    {nullptr, nullptr, -1},
};
static_assert(std::size(kOsaClientMethods) == kOsaSlotCount + 1, "38 methods and a closing row");

// Every slot is named by exactly one row. (Handler addresses are not
// compared here: with sanitizers they are not constant expressions.)
constexpr bool EverySlotOnce() {
  std::array<int, kOsaSlotCount> seen{};
  for (std::size_t row = 0; row < kOsaSlotCount; ++row) {
    const OsaMethodBinding& binding = kOsaClientMethods[row];
    if (binding.name == nullptr || binding.slot < 0 || binding.slot >= kOsaSlotCount) {
      return false;
    }
    ++seen[static_cast<std::size_t>(binding.slot)];
  }
  for (int count : seen) {
    if (count != 1) return false;
  }
  return kOsaClientMethods[kOsaSlotCount].name == nullptr;
}
static_assert(EverySlotOnce(), "each slot bound once, table closed by a null row");

// One check per slot, so that a slot number reaches its member without a
// switch; the offsets pin the member order to the slot numbers.
using SlotCheck = bool (*)(const OsaPluginCallbacks&);

template <auto Member>
bool SlotIsSet(const OsaPluginCallbacks& table) {
  return table.*Member != nullptr;
}

#define OSA_SLOT(member, slot)                                                       \
  static_assert(offsetof(OsaPluginCallbacks, member) == (slot) * sizeof(void (*)()), \
                #member " is slot " #slot)
OSA_SLOT(osaInit, 0);
OSA_SLOT(targetInit, 2);
OSA_SLOT(objectListAttribute, 7);
OSA_SLOT(taskAddressTranslate, 12);
OSA_SLOT(taskRelocatableGet, 18);
OSA_SLOT(taskSymTabGet, 19);
OSA_SLOT(taskIsHiddenCheck, 23);
OSA_SLOT(addressSpaceNameGet, 26);
OSA_SLOT(kernelMemoryRegionsGet, 35);
OSA_SLOT(exit, 37);
#undef OSA_SLOT

constexpr std::array<SlotCheck, kOsaSlotCount> kSlotChecks = {
    SlotIsSet<&OsaPluginCallbacks::osaInit>,
    SlotIsSet<&OsaPluginCallbacks::osaCleanup>,
    SlotIsSet<&OsaPluginCallbacks::targetInit>,
    SlotIsSet<&OsaPluginCallbacks::targetCleanup>,
    SlotIsSet<&OsaPluginCallbacks::objectListInit>,
    SlotIsSet<&OsaPluginCallbacks::objectListCleanup>,
    SlotIsSet<&OsaPluginCallbacks::objectListNext>,
    SlotIsSet<&OsaPluginCallbacks::objectListAttribute>,
    SlotIsSet<&OsaPluginCallbacks::taskMemoryAccessSetup>,
    SlotIsSet<&OsaPluginCallbacks::taskMemoryAccessRestore>,
    SlotIsSet<&OsaPluginCallbacks::taskRegisterRead>,
    SlotIsSet<&OsaPluginCallbacks::taskRegisterWrite>,
    SlotIsSet<&OsaPluginCallbacks::taskAddressTranslate>,
    SlotIsSet<&OsaPluginCallbacks::taskNameGet>,
    SlotIsSet<&OsaPluginCallbacks::taskStatusGet>,
    SlotIsSet<&OsaPluginCallbacks::taskExecGet>,
    SlotIsSet<&OsaPluginCallbacks::taskCpuGet>,
    SlotIsSet<&OsaPluginCallbacks::taskAddressSpaceGet>,
    SlotIsSet<&OsaPluginCallbacks::taskRelocatableGet>,
    SlotIsSet<&OsaPluginCallbacks::taskSymTabGet>,
    SlotIsSet<&OsaPluginCallbacks::currentTaskGet>,
    SlotIsSet<&OsaPluginCallbacks::taskInKernelCheck>,
    SlotIsSet<&OsaPluginCallbacks::taskInCurrentAddressSpaceCheck>,
    SlotIsSet<&OsaPluginCallbacks::taskIsHiddenCheck>,
    SlotIsSet<&OsaPluginCallbacks::taskLsoGet>,
    SlotIsSet<&OsaPluginCallbacks::taskTksaGet>,
    SlotIsSet<&OsaPluginCallbacks::addressSpaceNameGet>,
    SlotIsSet<&OsaPluginCallbacks::poll>,
    SlotIsSet<&OsaPluginCallbacks::targetNotify>,
    SlotIsSet<&OsaPluginCallbacks::osaCmdExecute>,
    SlotIsSet<&OsaPluginCallbacks::guiObjectCheck>,
    SlotIsSet<&OsaPluginCallbacks::objectChangedCheck>,
    SlotIsSet<&OsaPluginCallbacks::lifeCycleCountsGet>,
    SlotIsSet<&OsaPluginCallbacks::pageTableGet>,
    SlotIsSet<&OsaPluginCallbacks::messageInject>,
    SlotIsSet<&OsaPluginCallbacks::kernelMemoryRegionsGet>,
    SlotIsSet<&OsaPluginCallbacks::historyLogDump>,
    SlotIsSet<&OsaPluginCallbacks::exit>,
};

}  // namespace

OsaProcessState& OsaProcess() {
  static OsaProcessState state;
  return state;
}

std::span<const OsaMethodBinding> OsaClientMethodTable() {
  return {kOsaClientMethods, kOsaSlotCount};
}

OsaPluginCallbacks& OsaCallbacks() {
  return OsaProcess().callbacks;
}

void OsaSetCallbackRegistrar(OsaCallbackRegistrar registrar) {
  OsaProcess().registrar = registrar;
}

bool OsaCallbackIsSet(const OsaPluginCallbacks& table, int slot) {
  if (slot < 0 || slot >= kOsaSlotCount) return false;
  return kSlotChecks[static_cast<std::size_t>(slot)](table);
}

JsonRpcService* OsaRpcService() {
  OsaProcessState& process = OsaProcess();
  return process.serviceReady ? &process.service : nullptr;
}

bool OsaExitRequested() {
  return OsaProcess().exitRequested;
}
std::int32_t OsaExitStatus() {
  return OsaProcess().exitStatus;
}

JsonPtr OsaHandleExit(const JsonValue* /*params*/) {
  OsaProcessState& process = OsaProcess();
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "exitCode", process.exitStatus);
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  // The message loop sees the flag before it reads the next message.
  process.exitRequested = true;
  return result;
}

extern "C" {

OSA_EXPORT void OSA_Client_CmdInit(int argc, const char* const* argv, JrSendFunction send) {
  OsaProcessState& process = OsaProcess();
  if (process.serviceReady) return;
  JrCreateBindings();
  for (const OsaMethodBinding& binding : kOsaClientMethods) {
    if (binding.name == nullptr) break;
    JrBindMethod(binding.name, binding.handler);
  }
  process.service = JsonRpcService{};
  JrInitService(&process.service, send);
  process.serviceReady = true;
  if (process.registrar != nullptr) process.registrar(&process.callbacks, argc, argv);
}

OSA_EXPORT const char* OSA_Client_CmdParser(const char* text) {
  return JrHandleRequest(text);
}

}  // extern "C"
