// The kernel's object lists: the object types with their C type names and
// list indexes, and the walks over the rings of object cores that hang off
// qx_kernel_object_list, one cursor per type.
#include "kernel/object_list.h"

#include <array>
#include <unordered_set>

#include "kernel/kernel_messages.h"
#include "kernel/structure_access.h"

namespace {

struct ObjectTypeRow {
  const char* typeName;     // C type name in member expressions; null for no type
  std::uint32_t listIndex;  // index into qx_kernel_object_list
};

// Indexed by ObjectTypeId; 9, 10 and 11 walk the lists of 1, 2 and 3.
constexpr std::array<ObjectTypeRow, kObjectTypeSlots> kObjectTypes = {{
    {nullptr, 0},
    {"QX_TASK", 1},
    {"QX_TIMER", 2},
    {"QX_MUTEX", 3},
    {"QX_SEM", 4},
    {"QX_QUEUE", 5},
    {"QX_EFLAGS", 6},
    {"QX_BPOOL", 7},
    {"QX_MPOOL", 8},
    {"QX_TASK", 1},
    {"QX_TIMER", 2},
    {"QX_MUTEX", 3},
}};
static_assert(kObjectTypes.size() == static_cast<std::size_t>(ObjectTypeId::kMutexList) + 1,
              "one row per object type and the unused row 0");

bool IsObjectType(std::int32_t objTypeId) {
  return objTypeId >= static_cast<std::int32_t>(ObjectTypeId::kTask) &&
         objTypeId <= static_cast<std::int32_t>(ObjectTypeId::kMutexList);
}

std::size_t Slot(std::int32_t objTypeId) {
  return static_cast<std::size_t>(objTypeId);
}

void CloseWalk(KernelContext* kernel, std::size_t slot) {
  kernel->listHead[slot] = 0;
  kernel->listCursor[slot] = 0;
  kernel->listSteps[slot] = 0;
  kernel->listSeen[slot] = {};  // gives the memory back, not only the entries
}

// With the cache on, the heads of every list are read at once: the whole
// qx_kernel_object_list array. None (size 0) when the cache is off or the
// array's place is unknown.
TargetBlock ObjectListBlock(OSA_ServiceCntx* context, const KernelContext& kernel) {
  if (ActiveCache(&kernel.cache) == nullptr) return {};
  OsaValue address;
  OsaValue bytes;
  if (EvaluateLayout(context, kernel, &address, "%s", "&qx_kernel_object_list") !=
          KernelStatus::kOk ||
      EvaluateLayout(context, kernel, &bytes, "%s", "sizeof(qx_kernel_object_list)") !=
          KernelStatus::kOk) {
    return {};
  }
  return {static_cast<std::uint32_t>(address.payload), static_cast<std::uint32_t>(bytes.payload)};
}

}  // namespace

const char* ObjectTypeName(std::int32_t objTypeId) {
  return IsObjectType(objTypeId) ? kObjectTypes[Slot(objTypeId)].typeName : nullptr;
}

bool IsTaskType(std::int32_t objTypeId) {
  return objTypeId == static_cast<std::int32_t>(ObjectTypeId::kTask) ||
         objTypeId == static_cast<std::int32_t>(ObjectTypeId::kTaskList);
}

std::uint32_t CurrentObjectAddress(const KernelContext& kernel, std::int32_t objTypeId) {
  if (!IsObjectType(objTypeId)) return 0;
  const std::uint32_t core = kernel.listCursor[Slot(objTypeId)];
  if (core == 0) return 0;
  return IsTaskType(objTypeId) ? core - kernel.coreOffset : core;
}

KernelStatus KernelObjectListInit(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                                  void* privateData, std::int32_t objTypeId,
                                  const OsaParentRef* /*parent*/) {
  KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr || !IsObjectType(objTypeId)) return KernelStatus::kFailed;
  const std::size_t slot = Slot(objTypeId);

  OsaValue listAddress;
  KernelStatus status = EvaluateLayout(context, *kernel, &listAddress, "&qx_kernel_object_list[%u]",
                                       kObjectTypes[slot].listIndex);
  if (status != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kNoObjectList);
    return status;
  }
  std::uint64_t head = 0;
  status = ReadTargetBytes(context, *kernel, static_cast<std::uint32_t>(listAddress.payload), 4,
                           &head, ObjectListBlock(context, *kernel));
  if (status != KernelStatus::kOk) {
    ShowKernelMessage(context, KernelMessage::kObjectListUnreadable);
    return status;
  }
  CloseWalk(kernel, slot);
  kernel->listHead[slot] = static_cast<std::uint32_t>(head);
  kernel->listCursor[slot] = static_cast<std::uint32_t>(head);
  return head == 0 ? KernelStatus::kFailed : KernelStatus::kOk;
}

KernelStatus KernelObjectListCleanup(OSA_ServiceCntx* /*context*/, OsaPluginInfo* /*info*/,
                                     void* privateData, std::int32_t objTypeId,
                                     const OsaParentRef* /*parent*/) {
  KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr) return KernelStatus::kFailed;
  if (IsObjectType(objTypeId)) CloseWalk(kernel, Slot(objTypeId));
  return KernelStatus::kOk;
}

KernelStatus KernelObjectListNext(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                                  void* privateData, std::int32_t objTypeId,
                                  const OsaParentRef* /*parent*/) {
  KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr) return KernelStatus::kFailed;
  if (!IsObjectType(objTypeId)) return KernelStatus::kEndOfList;
  const std::size_t slot = Slot(objTypeId);
  const std::uint32_t current = kernel->listCursor[slot];
  if (current == 0) return KernelStatus::kEndOfList;

  OsaValue link;
  const KernelStatus status =
      ReadKernelMember(context, *kernel, {"struct QX_OBJECT_STRUCT", current, "created.next"}, 4,
                       "kernel object list member", &link);
  if (status != KernelStatus::kOk) return status;
  const auto next = static_cast<std::uint32_t>(link.payload);
  kernel->listSteps[slot] += 1;
  std::unordered_set<std::uint32_t>& seen = kernel->listSeen[slot];
  seen.insert(current);

  // A ring ends when it comes back to its head. A corrupted ring may never
  // do so: a null link ends it, and so does a link back to any core this
  // walk has shown (a core that links to itself, or a tail that loops into
  // the middle of the ring), so each object is shown once. A walk longer
  // than any kernel's object count ends too, so the debugger never walks
  // forever.
  if (next == kernel->listHead[slot] || next == 0 || seen.contains(next) ||
      kernel->listSteps[slot] >= kMaxObjectListSteps) {
    CloseWalk(kernel, slot);
    return KernelStatus::kEndOfList;
  }
  kernel->listCursor[slot] = next;
  return KernelStatus::kOk;
}
