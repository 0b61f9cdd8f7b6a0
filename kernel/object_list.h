// The kernel's object lists: one ring of object cores per object type,
// reached from qx_kernel_object_list and linked through created.next, walked
// one object at a time with a cursor per type.
#pragma once

#include <cstdint>

#include "kernel/kernel_context.h"
#include "kernel/kernel_status.h"
#include "osa/plugin_api.h"

// Longest walk of one ring, and so the most cores one walk remembers: a
// corrupted ring whose links never repeat and never return to its head ends
// here instead of making the debugger walk forever.
inline constexpr std::uint32_t kMaxObjectListSteps = 100000;

// The C type name of an object type ("QX_TASK", ...), or null for a number
// that names no object type.
const char* ObjectTypeName(std::int32_t objTypeId);

// Whether the type is a task type (1 or 9): its cursor is the core inside
// QX_TASK, at coreOffset.
bool IsTaskType(std::int32_t objTypeId);

// The address of the object the type's walk stands on (the QX_TASK for task
// types, the core itself otherwise), or 0 when no walk is open.
std::uint32_t CurrentObjectAddress(const KernelContext& kernel, std::int32_t objTypeId);

// Callbacks of slots 4, 5 and 6. Init: kOk on a first object, kFailed for
// an empty list, the service's status for an unreadable one. Next: kOk on a
// further object, kEndOfList at the end of the walk.
[[nodiscard]] KernelStatus KernelObjectListInit(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                                void* privateData, std::int32_t objTypeId,
                                                const OsaParentRef* parent);
[[nodiscard]] KernelStatus KernelObjectListCleanup(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                                   void* privateData, std::int32_t objTypeId,
                                                   const OsaParentRef* parent);
[[nodiscard]] KernelStatus KernelObjectListNext(OSA_ServiceCntx* context, OsaPluginInfo* info,
                                                void* privateData, std::int32_t objTypeId,
                                                const OsaParentRef* parent);
