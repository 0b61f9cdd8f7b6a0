// Object attributes: each (object type, attribute number) pair of the
// debugger's interface mapped onto kernel structure members, delivered as
// display text or as a number.
#pragma once

#include <cstdint>

#include "kernel/kernel_context.h"
#include "kernel/kernel_status.h"
#include "osa/plugin_api.h"

// Text answered for a pair the kernel does not define.
inline constexpr const char* kUndefinedAttribute = "(Undefined Attribute)";

// Remaining ticks of the timer at `object` (prefix "" for a QX_TIMER,
// "wait_timer." for a task's wait timer).
[[nodiscard]] KernelStatus ReadTimerRemaining(OSA_ServiceCntx* context, const KernelContext& kernel,
                                              std::int32_t objTypeId, std::uint32_t object,
                                              const char* prefix, OsaValue* out);

// Callback of slot 7; attributeId is an AttributeId's number.
[[nodiscard]] KernelStatus KernelObjectListAttribute(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                                     void* privateData, std::int32_t objTypeId,
                                                     const OsaParentRef* parent,
                                                     std::int32_t attributeId, OsaValue* out);
