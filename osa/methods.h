// The marshalling handlers of the 38 OSA_Client_* methods and the method
// table that binds each name to its handler and callback slot.
#pragma once

#include <cstdint>
#include <span>

#include "jsonrpc/dispatch.h"

// One row of the client method table.
struct OsaMethodBinding {
  const char* name;  // null in the closing row
  JrMethodHandler handler;
  std::int32_t slot;  // index into OsaPluginCallbacks
};

// The 38 rows in registration order (the order OsaInit reports), without the
// closing row.
std::span<const OsaMethodBinding> OsaClientMethodTable();

// Setup, target and control methods. Each takes the borrowed "params" value
// and returns a new result object that always carries "return".
JsonPtr OsaHandleOsaInit(const JsonValue* params);
JsonPtr OsaHandleOsaCleanup(const JsonValue* params);
JsonPtr OsaHandleTargetInit(const JsonValue* params);
JsonPtr OsaHandleTargetCleanup(const JsonValue* params);
JsonPtr OsaHandlePoll(const JsonValue* params);
JsonPtr OsaHandleTargetNotify(const JsonValue* params);
JsonPtr OsaHandleOsaCmd_Execute(const JsonValue* params);
JsonPtr OsaHandleMessageInject(const JsonValue* params);
JsonPtr OsaHandleHistoryLogDump(const JsonValue* params);
JsonPtr OsaHandleExit(const JsonValue* params);

// Object-list methods and object queries.
JsonPtr OsaHandleObjectListInit(const JsonValue* params);
JsonPtr OsaHandleObjectListCleanup(const JsonValue* params);
JsonPtr OsaHandleObjectListNext(const JsonValue* params);
JsonPtr OsaHandleObjectListAttribute(const JsonValue* params);
JsonPtr OsaHandleGuiObjectCheck(const JsonValue* params);
JsonPtr OsaHandleObjectChangedCheck(const JsonValue* params);
JsonPtr OsaHandleLifeCycleCountsGet(const JsonValue* params);
JsonPtr OsaHandlePageTableGet(const JsonValue* params);
JsonPtr OsaHandleKernelMemoryRegionsGet(const JsonValue* params);

// Task methods.
JsonPtr OsaHandleTaskMemoryAccessSetup(const JsonValue* params);
JsonPtr OsaHandleTaskMemoryAccessRestore(const JsonValue* params);
JsonPtr OsaHandleTaskRegisterRead(const JsonValue* params);
JsonPtr OsaHandleTaskRegisterWrite(const JsonValue* params);
JsonPtr OsaHandleTaskAddressTranslate(const JsonValue* params);
JsonPtr OsaHandleTaskNameGet(const JsonValue* params);
JsonPtr OsaHandleTaskStatusGet(const JsonValue* params);
JsonPtr OsaHandleTaskExecGet(const JsonValue* params);
JsonPtr OsaHandleTaskCpuGet(const JsonValue* params);
JsonPtr OsaHandleTaskAddressSpaceGet(const JsonValue* params);
JsonPtr OsaHandleTaskRelocatableGet(const JsonValue* params);
JsonPtr OsaHandleTaskSymTabGet(const JsonValue* params);
JsonPtr OsaHandleCurrentTaskGet(const JsonValue* params);
JsonPtr OsaHandleTaskInKernelCheck(const JsonValue* params);
JsonPtr OsaHandleTaskInCurrentAddressSpaceCheck(const JsonValue* params);
JsonPtr OsaHandleTaskIsHiddenCheck(const JsonValue* params);
JsonPtr OsaHandleTaskLsoGet(const JsonValue* params);
JsonPtr OsaHandleTaskTksaGet(const JsonValue* params);
JsonPtr OsaHandleAddressSpaceNameGet(const JsonValue* params);
