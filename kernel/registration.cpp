// Registration of the kernel-awareness callbacks in the plug-in's table:
// every slot starts empty, so the interface answers the methods the kernel
// code does not serve with its defaults. This is where the kernel code's
// KernelStatus becomes the interface's number.
#include "kernel/registration.h"
#include "kernel/attributes.h"
#include "kernel/discovery.h"
#include "kernel/kernel_status.h"
#include "kernel/object_list.h"
#include "kernel/task_registers.h"
#include "kernel/task_status.h"
#include "osa/plugin_api.h"

namespace {

// Edge<F>::Call has the interface's signature for the kernel callback F and
// returns F's status as the interface's number.
template <auto kCallback>
struct Edge;

template <typename... Args, KernelStatus (*kCallback)(Args...)>
struct Edge<kCallback> {
  static std::int32_t Call(Args... args) { return InterfaceStatus(kCallback(args...)); }
};

}  // namespace

void RegisterKernelCallbacks(OsaPluginCallbacks* table, int /*argc*/, const char* const* /*argv*/) {
  if (table == nullptr) return;
  // Every slot in slot order; a null one is answered with the defaults.
  *table = OsaPluginCallbacks{
      .osaInit = Edge<KernelOsaInit>::Call,
      .osaCleanup = Edge<KernelOsaCleanup>::Call,
      .targetInit = Edge<KernelTargetInit>::Call,
      .targetCleanup = Edge<KernelTargetCleanup>::Call,
      .objectListInit = Edge<KernelObjectListInit>::Call,
      .objectListCleanup = Edge<KernelObjectListCleanup>::Call,
      .objectListNext = Edge<KernelObjectListNext>::Call,
      .objectListAttribute = Edge<KernelObjectListAttribute>::Call,
      .taskMemoryAccessSetup = nullptr,
      .taskMemoryAccessRestore = nullptr,
      .taskRegisterRead = Edge<KernelTaskRegisterRead>::Call,
      .taskRegisterWrite = Edge<KernelTaskRegisterWrite>::Call,
      .taskAddressTranslate = nullptr,
      .taskNameGet = Edge<KernelTaskNameGet>::Call,
      .taskStatusGet = Edge<KernelTaskStatusGet>::Call,
      .taskExecGet = nullptr,
      .taskCpuGet = nullptr,
      .taskAddressSpaceGet = nullptr,
      .taskRelocatableGet = nullptr,
      .taskSymTabGet = nullptr,
      .currentTaskGet = Edge<KernelCurrentTaskGet>::Call,
      .taskInKernelCheck = nullptr,
      .taskInCurrentAddressSpaceCheck = nullptr,
      .taskIsHiddenCheck = nullptr,
      .taskLsoGet = Edge<KernelTaskLsoGet>::Call,
      .taskTksaGet = nullptr,
      .addressSpaceNameGet = nullptr,
      .poll = Edge<KernelPoll>::Call,
      .targetNotify = Edge<KernelTargetNotify>::Call,
      .osaCmdExecute = Edge<KernelOsaCmd_Execute>::Call,
      .guiObjectCheck = Edge<KernelGuiObjectCheck>::Call,
      .objectChangedCheck = nullptr,
      .lifeCycleCountsGet = nullptr,
      .pageTableGet = nullptr,
      .messageInject = nullptr,
      .kernelMemoryRegionsGet = nullptr,
      .historyLogDump = nullptr,
      .exit = nullptr,
  };
}
