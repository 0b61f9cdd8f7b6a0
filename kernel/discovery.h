// Kernel discovery: the start-up check that refuses targets still in their
// reset or boot code, TargetInit (interface version, build parameters,
// register map, layout variant, thread-local storage), TargetCleanup, and the
// run-state refresh that TargetInit and TargetNotify share.
#pragma once

#include <cstdint>

#include "kernel/kernel_context.h"
#include "kernel/kernel_status.h"
#include "osa/plugin_api.h"

// kOk when the target has run past reset and the C start-up code.
[[nodiscard]] KernelStatus TargetStartCheck(OSA_ServiceCntx* context);

// Reads the interrupt level, running task, current tick and FPU owner; a
// notice of 0 (the target ran) also empties the TLS offset cache.
[[nodiscard]] KernelStatus RefreshRunState(OSA_ServiceCntx* context, KernelContext* kernel,
                                           std::int32_t notice);

// Callbacks of slots 0, 1, 2, 3 and 27.
[[nodiscard]] KernelStatus KernelOsaInit(OSA_ServiceCntx* context, OsaPluginInfo* info);
[[nodiscard]] KernelStatus KernelOsaCleanup(OSA_ServiceCntx* context, OsaPluginInfo* info);
// kOk with a new KernelContext in *place, kFailed, or kNotStarted when the
// start-up check refuses. A record already in *place is released when the
// new one takes its place; a failed or refused TargetInit leaves it as it
// was.
[[nodiscard]] KernelStatus KernelTargetInit(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                            OsaPrivateData* place);
[[nodiscard]] KernelStatus KernelTargetCleanup(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                               OsaPrivateData* place);
[[nodiscard]] KernelStatus KernelPoll(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                      void* privateData);
