// Registration of the kernel-awareness callbacks in the plug-in's table:
// every slot starts empty, so the interface answers the methods the kernel
// code does not serve with its defaults.
#include "kernel/attributes.h"
#include "kernel/discovery.h"
#include "kernel/object_list.h"
#include "kernel/task_registers.h"
#include "kernel/task_status.h"
#include "osa/plugin_api.h"

void RegisterKernelCallbacks(OsaPluginCallbacks* table, int /*argc*/, const char* const* /*argv*/) {
  if (table == nullptr) return;
  *table = OsaPluginCallbacks{};
  table->osaInit = KernelOsaInit;                          // 0
  table->osaCleanup = KernelOsaCleanup;                    // 1
  table->targetInit = KernelTargetInit;                    // 2
  table->targetCleanup = KernelTargetCleanup;              // 3
  table->objectListInit = KernelObjectListInit;            // 4
  table->objectListCleanup = KernelObjectListCleanup;      // 5
  table->objectListNext = KernelObjectListNext;            // 6
  table->objectListAttribute = KernelObjectListAttribute;  // 7
  table->taskRegisterRead = KernelTaskRegisterRead;        // 10
  table->taskRegisterWrite = KernelTaskRegisterWrite;      // 11
  table->taskNameGet = KernelTaskNameGet;                  // 13
  table->taskStatusGet = KernelTaskStatusGet;              // 14
  table->currentTaskGet = KernelCurrentTaskGet;            // 20
  table->taskLsoGet = KernelTaskLsoGet;                    // 24
  table->poll = KernelPoll;                                // 27
  table->targetNotify = KernelTargetNotify;                // 28
  table->osaCmdExecute = KernelOsaCmd_Execute;             // 29
  table->guiObjectCheck = KernelGuiObjectCheck;            // 30
}
