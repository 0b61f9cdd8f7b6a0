// Tasks as a whole and the target's run state: task names and states, the
// running task, thread-local-storage offsets, target notices, the plug-in's
// own command "get_task_table", and which object types the debugger shows.
#pragma once

#include <cstdint>

#include "kernel/kernel_context.h"
#include "kernel/kernel_status.h"
#include "osa/plugin_api.h"

// The state of the task at `task` (its "status" member) as text, code
// (UInt32) or code (UInt64).
[[nodiscard]] KernelStatus ReadTaskStatus(OSA_ServiceCntx* context, const KernelContext& kernel,
                                          std::uint32_t task, OsaValue* out);

// The task's thread-local-storage offset, cached per task until the target
// runs; never fails (0 when the stack figures cannot be read).
void ReadTaskLsoOffset(OSA_ServiceCntx* context, KernelContext* kernel, std::uint64_t taskId,
                       OsaValue* out);

// Callbacks of slots 13, 14, 20, 24, 28, 29 and 30.
[[nodiscard]] KernelStatus KernelTaskNameGet(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                             void* privateData, std::uint64_t taskId,
                                             OsaValue* out);
[[nodiscard]] KernelStatus KernelTaskStatusGet(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                               void* privateData, std::uint64_t taskId,
                                               OsaValue* out);
[[nodiscard]] KernelStatus KernelCurrentTaskGet(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                                void* privateData, std::int64_t coreIndex,
                                                std::uint64_t* taskId);
[[nodiscard]] KernelStatus KernelTaskLsoGet(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                            void* privateData, std::uint64_t taskId,
                                            std::uint64_t taskAttribute, OsaValue* out);
[[nodiscard]] KernelStatus KernelTargetNotify(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                              void* privateData, std::int32_t notice);
[[nodiscard]] KernelStatus KernelOsaCmd_Execute(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                                void* privateData, const char* command);
[[nodiscard]] KernelStatus KernelGuiObjectCheck(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                                void* privateData, const OsaGuiObjectInfo* in,
                                                OsaGuiObjectInfo* out);
