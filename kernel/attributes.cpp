// Object attributes: one table row per (object types, attribute number) pair,
// each either a plain member read in a display format or a handler for the
// attributes that combine members (priorities, pending masks, timers, owners,
// queue capacity, thread-local storage).
#include "kernel/attributes.h"

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>

#include "kernel/attribute_ids.h"
#include "kernel/kernel_messages.h"
#include "kernel/object_list.h"
#include "kernel/structure_access.h"
#include "kernel/task_status.h"
#include "osa/service_requests.h"

namespace {

// Sets of object types a row applies to, one bit per ObjectTypeId.
constexpr std::uint32_t TypeBit(ObjectTypeId type) {
  return std::uint32_t{1} << static_cast<std::uint32_t>(type);
}
constexpr std::uint32_t kTasks = TypeBit(ObjectTypeId::kTask) | TypeBit(ObjectTypeId::kTaskList);
constexpr std::uint32_t kTimers = TypeBit(ObjectTypeId::kTimer) | TypeBit(ObjectTypeId::kTimerList);
constexpr std::uint32_t kMutexes =
    TypeBit(ObjectTypeId::kMutex) | TypeBit(ObjectTypeId::kMutexList);
constexpr std::uint32_t kSemaphores = TypeBit(ObjectTypeId::kSemaphore);
constexpr std::uint32_t kQueues = TypeBit(ObjectTypeId::kQueue);
constexpr std::uint32_t kEventFlags = TypeBit(ObjectTypeId::kEventFlags);
constexpr std::uint32_t kBlockPools = TypeBit(ObjectTypeId::kBlockPool);
constexpr std::uint32_t kMemoryPools = TypeBit(ObjectTypeId::kMemoryPool);
constexpr std::uint32_t kAllTypes =
    kTasks | kTimers | kMutexes | kSemaphores | kQueues | kEventFlags | kBlockPools | kMemoryPools;

// Bits of a task mask word.
constexpr std::uint32_t kWordBits = 32;

constexpr KernelMessage kPriorityFormatError = KernelMessage::kPriorityFormatUnsupported;
constexpr KernelMessage kTaskMemberFormatError = KernelMessage::kTaskMemberFormatUnsupported;

// The object an attribute is asked of.
struct AttributeRequest {
  OSA_ServiceCntx* context;
  KernelContext* kernel;
  std::int32_t type;
  const char* typeName;  // C type of the object ("QX_TASK", ...)
  std::uint32_t object;  // object address (QX_TASK for tasks)
  std::uint32_t core;    // its object core
  OsaValue* out;
};

// A member of the object asked of.
ObjectMember Of(const AttributeRequest& r, const char* path) {
  return {r.typeName, r.object, path};
}

std::uint32_t Low32(std::uint64_t x) {
  return static_cast<std::uint32_t>(x);
}
std::uint32_t High32(std::uint64_t x) {
  return static_cast<std::uint32_t>(x >> kWordBits);
}

std::uint32_t CountSetBits(std::uint32_t w) {
  return static_cast<std::uint32_t>(std::popcount(w));
}
std::uint32_t CountLeadingZeros(std::uint32_t w) {
  return static_cast<std::uint32_t>(std::countl_zero(w));
}

// The empty answer: the empty text, or failure for a number.
KernelStatus DeliverEmpty(OsaValue* out) {
  if (out->kind != OsaValueKind::kText) return KernelStatus::kFailed;
  out->text = std::string();
  return KernelStatus::kOk;
}

// A number by kind; other kinds show `formatError` (when given) and fail.
KernelStatus DeliverFigure(OSA_ServiceCntx* context, OsaValue* out, std::uint32_t x,
                           std::optional<KernelMessage> formatError) {
  if (DeliverNumber(out, x)) return KernelStatus::kOk;
  if (formatError) ShowKernelMessage(context, *formatError);
  return KernelStatus::kFailed;
}

// A text-only answer: numeric kinds fail without a message.
KernelStatus DeliverText(OsaValue* out, std::string text) {
  if (out->kind != OsaValueKind::kText) return KernelStatus::kFailed;
  out->text = std::move(text);
  return KernelStatus::kOk;
}

KernelStatus ReadMember(const AttributeRequest& r, const char* member, MemberText text,
                        OsaValue* out) {
  return ReadObjectMember(r.context, *r.kernel, Of(r, member), {.text = text}, out);
}

KernelStatus ReadWord(const AttributeRequest& r, const char* member, std::uint32_t* value) {
  return ReadObjectWord(r.context, *r.kernel, Of(r, member), value);
}

// A member as 64 bits (kind Address), for the 64-task masks.
KernelStatus ReadMask(const AttributeRequest& r, const char* member, std::uint64_t* mask) {
  OsaValue value;
  value.kind = OsaValueKind::kAddress;
  const KernelStatus status = ReadMember(r, member, MemberText::kHex, &value);
  if (status != KernelStatus::kOk) return status;
  *mask = value.payload;
  return KernelStatus::kOk;
}

// The pending-mask and pending-count members of the object core, by layout.
const char* PendingMaskMember(const KernelContext& kernel) {
  if (kernel.version == 3) return "core.u.pending.task_mask";
  return kernel.pendInUnion ? "core.u.pending.mask" : "core.pending.mask";
}
const char* PendingCountMember(const KernelContext& kernel) {
  return kernel.pendInUnion ? "core.u.pending.count" : "core.pending.count";
}

const char* StaticPriorityMember(const KernelContext& kernel) {
  return kernel.version == 1 ? "static_priority" : "static_sched_info.priority";
}
const char* ActivePriorityMember(const KernelContext& kernel) {
  return kernel.version == 1 ? "active_priority" : "active_sched_info.priority";
}

// Index of the first waiting task in a pending mask: leading zeros count
// from the most significant bit, and a 64-task mask scans its high half
// first. *limit is the answer that means no waiter.
std::uint32_t FirstWaiter(const KernelContext& kernel, std::uint64_t mask, std::uint32_t* limit) {
  if (kernel.maskWords == 2) {
    *limit = 2 * kWordBits;
    const std::uint32_t n = CountLeadingZeros(High32(mask));
    return n == kWordBits ? kWordBits + CountLeadingZeros(Low32(mask)) : n;
  }
  *limit = kWordBits;
  return CountLeadingZeros(Low32(mask));
}

// "0x<address>" followed by " (<name>)" when the object core has a name.
KernelStatus DeliverObjectReference(const AttributeRequest& r, std::uint32_t core) {
  OsaValue name;
  name.kind = OsaValueKind::kText;
  const KernelStatus status = ReadObjectName(r.context, *r.kernel, core, &name);
  if (status != KernelStatus::kOk) return status;
  std::string text = FormatHex(core);
  if (name.text && !name.text->empty()) text += " (" + *name.text + ")";
  r.out->text = std::move(text);
  return KernelStatus::kOk;
}

// ---- Common attributes --------------------------------------------------------

KernelStatus Identity(const AttributeRequest& r) {
  if (r.out->kind == OsaValueKind::kText) {
    r.out->text = FormatHex(r.object);
    return KernelStatus::kOk;
  }
  return DeliverFigure(r.context, r.out, r.object, std::nullopt);
}

KernelStatus Name(const AttributeRequest& r) {
  return ReadObjectName(r.context, *r.kernel, r.core, r.out);
}

KernelStatus PendingTaskCount(const AttributeRequest& r) {
  if (r.kernel->pendIsList) {
    return ReadMember(r, PendingCountMember(*r.kernel), MemberText::kDecimal, r.out);
  }
  std::uint64_t mask = 0;
  const KernelStatus status = ReadMask(r, PendingMaskMember(*r.kernel), &mask);
  if (status != KernelStatus::kOk) return status;
  return DeliverFigure(r.context, r.out, CountSetBits(Low32(mask)) + CountSetBits(High32(mask)),
                       kPriorityFormatError);
}

KernelStatus Refused(const AttributeRequest&) {
  return KernelStatus::kFailed;
}

// ---- Tasks --------------------------------------------------------------------

KernelStatus TaskState(const AttributeRequest& r) {
  return ReadTaskStatus(r.context, *r.kernel, r.object, r.out);
}

KernelStatus StaticPriority(const AttributeRequest& r) {
  return ReadPriority(r.context, *r.kernel, Of(r, StaticPriorityMember(*r.kernel)), r.out);
}

// A priority member shown only where it differs from the static priority.
KernelStatus PriorityIfDifferent(const AttributeRequest& r, const char* member) {
  std::uint32_t base = 0;
  std::uint32_t other = 0;
  KernelStatus status = ReadWord(r, StaticPriorityMember(*r.kernel), &base);
  if (status != KernelStatus::kOk) return status;
  status = ReadWord(r, member, &other);
  if (status != KernelStatus::kOk) return status;
  if (base == other) return DeliverEmpty(r.out);
  return ReadPriority(r.context, *r.kernel, Of(r, member), r.out);
}

KernelStatus ActivePriority(const AttributeRequest& r) {
  return PriorityIfDifferent(r, ActivePriorityMember(*r.kernel));
}

KernelStatus PreemptionThreshold(const AttributeRequest& r) {
  return PriorityIfDifferent(r, "preempt_threshold");
}

KernelStatus PendedOn(const AttributeRequest& r) {
  if (r.out->kind != OsaValueKind::kText) return KernelStatus::kFailed;
  std::uint32_t parent = 0;
  const KernelStatus status = ReadWord(r, "pending.parent", &parent);
  if (status != KernelStatus::kOk) return status;
  if (parent == 0) return DeliverText(r.out, std::string());
  return DeliverObjectReference(r, parent);
}

KernelStatus MutexWaiters(const AttributeRequest& r) {
  if (r.kernel->version == 3) return DeliverFigure(r.context, r.out, 0, std::nullopt);
  std::uint64_t mask = 0;
  const KernelStatus status = ReadMask(r, "mutex_waiters_mask", &mask);
  if (status != KernelStatus::kOk) return status;
  return DeliverFigure(r.context, r.out, CountSetBits(Low32(mask)) + CountSetBits(High32(mask)),
                       kPriorityFormatError);
}

KernelStatus StackSize(const AttributeRequest& r) {
  if (r.kernel->version == 1) return ReadMember(r, "stack_size", MemberText::kDecimal, r.out);
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  KernelStatus status = ReadWord(r, "stack_start", &start);
  if (status != KernelStatus::kOk) return status;
  status = ReadWord(r, "stack_end", &end);
  if (status != KernelStatus::kOk) return status;
  // stack_end names the last byte of the stack.
  const std::uint32_t size = end + 1 - start;
  if (r.out->kind == OsaValueKind::kText) {
    r.out->text = FormatUnsigned(size);
    return KernelStatus::kOk;
  }
  return OsaValueStoreNumber(r.out, size) ? KernelStatus::kOk : KernelStatus::kFailed;
}

KernelStatus ExitCode(const AttributeRequest& r) {
  OsaValue state;
  state.kind = OsaValueKind::kUInt32;
  if (ReadTaskStatus(r.context, *r.kernel, r.object, &state) != KernelStatus::kOk) {
    return KernelStatus::kFailed;
  }
  constexpr std::uint64_t kExited = 1;
  if (state.payload != kExited) return DeliverEmpty(r.out);
  if (KernelMemberExists(r.context, *r.kernel, r.typeName, "terminated")) {
    std::uint32_t terminated = 0;
    const KernelStatus status = ReadWord(r, "terminated", &terminated);
    if (status != KernelStatus::kOk) return status;
    if (terminated != 0) return DeliverEmpty(r.out);
  }
  return ReadMember(r, "exit_code", MemberText::kHex, r.out);
}

KernelStatus WaitTimerRemaining(const AttributeRequest& r) {
  return ReadTimerRemaining(r.context, *r.kernel, r.type, r.object, "wait_timer.", r.out);
}

KernelStatus TlsOffset(const AttributeRequest& r) {
  ReadTaskLsoOffset(r.context, r.kernel, r.object, r.out);
  return KernelStatus::kOk;
}

// ---- Timers -------------------------------------------------------------------

KernelStatus TimerRemaining(const AttributeRequest& r) {
  return ReadTimerRemaining(r.context, *r.kernel, r.type, r.object, "", r.out);
}

// 1 when the member is non-zero, else 0.
KernelStatus MemberFlag(const AttributeRequest& r, const char* member) {
  std::uint32_t value = 0;
  if (ReadWord(r, member, &value) != KernelStatus::kOk) return KernelStatus::kFailed;
  return DeliverFigure(r.context, r.out, value != 0 ? 1 : 0, kTaskMemberFormatError);
}

KernelStatus TimerActive(const AttributeRequest& r) {
  return MemberFlag(r, "active.next");
}

KernelStatus TimerRepeating(const AttributeRequest& r) {
  if (KernelMemberExists(r.context, *r.kernel, r.typeName, "repeat_ticks")) {
    return MemberFlag(r, "repeat_ticks");
  }
  return ReadMember(r, "alarm_repeat", MemberText::kDecimal, r.out);
}

// Kernels built with "alarm_repeat" instead have no repeat count to show.
KernelStatus RepeatTicks(const AttributeRequest& r) {
  bool present = false;
  const KernelStatus status =
      ReadOptionalObjectMember(r.context, *r.kernel, Of(r, "repeat_ticks"),
                               {.text = MemberText::kDecimalOrEmpty}, r.out, &present);
  if (status != KernelStatus::kOk) return status;
  return present ? KernelStatus::kOk : DeliverEmpty(r.out);
}

KernelStatus ExpirationRoutine(const AttributeRequest& r) {
  if (r.out->kind != OsaValueKind::kText) return KernelStatus::kFailed;
  std::uint64_t routine = 0;
  const KernelStatus status = ReadMask(r, "expiration_function", &routine);
  if (status != KernelStatus::kOk) return status;
  constexpr std::int32_t kRoutineSymbol = 6;
  std::string name;
  if (OSA_Service_SymbolFromAddress(r.context, Low32(routine), kRoutineSymbol, &name, kOsaNoCore) ==
      0) {
    r.out->text = std::move(name);
    return KernelStatus::kOk;
  }
  return ReadMember(r, "expiration_function", MemberText::kHex, r.out);
}

// ---- Mutexes ------------------------------------------------------------------

KernelStatus MutexOwner(const AttributeRequest& r) {
  if (r.out->kind != OsaValueKind::kText) return KernelStatus::kFailed;
  std::uint32_t owner = 0;
  const KernelStatus status = ReadWord(r, "owner", &owner);
  if (status != KernelStatus::kOk) return status;
  if (owner == 0) return DeliverText(r.out, std::string());
  return DeliverObjectReference(r, owner + r.kernel->coreOffset);
}

KernelStatus InheritedPriority(const AttributeRequest& r) {
  const KernelContext& kernel = *r.kernel;
  if (kernel.pendIsList) {
    std::uint32_t count = 0;
    const KernelStatus status = ReadWord(r, PendingCountMember(kernel), &count);
    if (status != KernelStatus::kOk) return status;
    if (count == 0) return DeliverEmpty(r.out);
    return ReadPriority(r.context, kernel, Of(r, "inherited_priority"), r.out);
  }
  std::uint64_t mask = 0;
  KernelStatus status = ReadMask(r, PendingMaskMember(kernel), &mask);
  if (status != KernelStatus::kOk) return status;
  std::uint32_t limit = 0;
  const std::uint32_t waiter = FirstWaiter(kernel, mask, &limit);
  if (waiter == limit) return DeliverEmpty(r.out);
  // The first waiter's static priority. "static_priority" is kept inverted
  // on every version; a version 3 kernel built without it has only its own
  // member, kept as shown.
  OsaValue stored;
  status = EvaluateFormatted(r.context, &stored, OsaValueKind::kUInt32,
                             "qx_kernel_sched_info.static_task_array[%u]->static_priority", waiter);
  if (status == KernelStatus::kOk) {
    return DeliverFigure(r.context, r.out, kernel.maxPriorities - 1 - Low32(stored.payload),
                         kPriorityFormatError);
  }
  if (kernel.version != 3) return status;
  status = EvaluateFormatted(
      r.context, &stored, OsaValueKind::kUInt32,
      "qx_kernel_sched_info.static_task_array[%u]->static_sched_info.priority", waiter);
  if (status != KernelStatus::kOk) return status;
  return DeliverFigure(r.context, r.out, Low32(stored.payload), kPriorityFormatError);
}

// ---- Queues and memory pools --------------------------------------------------

KernelStatus QueueCapacity(const AttributeRequest& r) {
  std::uint32_t end = 0;
  std::uint32_t start = 0;
  std::uint32_t messageSize = 0;
  KernelStatus status = ReadWord(r, "buf_end", &end);
  if (status != KernelStatus::kOk) return status;
  status = ReadWord(r, "buf_start", &start);
  if (status != KernelStatus::kOk) return status;
  status = ReadWord(r, "msg_size", &messageSize);
  if (status != KernelStatus::kOk) return status;
  // The message size counts 32-bit words. The divisor is formed in 64 bits:
  // a corrupted size such as 0x40000000 would wrap to 0 in 32 bits.
  const std::uint64_t words = messageSize == 0 ? 1 : messageSize;
  const std::uint64_t capacity = static_cast<std::uint32_t>(end - start) / (words * 4);
  return DeliverFigure(r.context, r.out, Low32(capacity), std::nullopt);
}

KernelStatus SmallestPendingAllocation(const AttributeRequest& r) {
  const KernelContext& kernel = *r.kernel;
  if (kernel.pendIsList) {
    std::uint32_t count = 0;
    const KernelStatus status = ReadWord(r, PendingCountMember(kernel), &count);
    if (status != KernelStatus::kOk) return status;
    if (count == 0) return DeliverEmpty(r.out);
  } else {
    std::uint64_t mask = 0;
    const KernelStatus status = ReadMask(r, PendingMaskMember(kernel), &mask);
    if (status != KernelStatus::kOk) return status;
    std::uint32_t limit = 0;
    if (FirstWaiter(kernel, mask, &limit) == limit) return DeliverEmpty(r.out);
  }
  return ReadMember(r, "min_pending_allocation_size", MemberText::kDecimal, r.out);
}

// ---- The dispatch table -------------------------------------------------------

using AttributeHandler = KernelStatus (*)(const AttributeRequest&);

// One attribute of a set of object types: a handler, or a member read
// straight into the out value.
struct AttributeRow {
  std::uint32_t types;
  AttributeId attribute;
  AttributeHandler handler;
  const char* member;
  MemberText format;
};

constexpr AttributeRow Handler(std::uint32_t types, AttributeId attribute,
                               AttributeHandler handler) {
  return {types, attribute, handler, nullptr, MemberText::kDecimal};
}
constexpr AttributeRow Member(std::uint32_t types, AttributeId attribute, const char* member,
                              MemberText format) {
  return {types, attribute, nullptr, member, format};
}

using A = AttributeId;
constexpr MemberText kDec = MemberText::kDecimal;
constexpr MemberText kHex = MemberText::kHex;

// Searched in order; the common attributes come first.
constexpr std::array kAttributeRows = {
    Handler(kAllTypes, A::kIdentity, Identity),
    Handler(kAllTypes, A::kName, Name),
    Handler(kTasks | kTimers, A::kPendingTaskCount, Refused),
    Handler(kAllTypes & ~(kTasks | kTimers), A::kPendingTaskCount, PendingTaskCount),
    // Tasks.
    Handler(kTasks, A::kTaskState, TaskState),
    Handler(kTasks, A::kStaticPriority, StaticPriority),
    Handler(kTasks, A::kActivePriority, ActivePriority),
    Handler(kTasks, A::kPendedOn, PendedOn),
    Member(kTasks, A::kOwnedMutexCount, "owned_mutex_count", kDec),
    Handler(kTasks, A::kMutexWaiters, MutexWaiters),
    Handler(kTasks, A::kStackSize, StackSize),
    Member(kTasks, A::kStackStart, "stack_start", kHex),
    Handler(kTasks, A::kPreemptionThreshold, PreemptionThreshold),
    Member(kTasks, A::kTimeSlice, "time_slice", kDec),
    Member(kTasks, A::kRemainingTimeSlice, "remaining_time_slice", kDec),
    Handler(kTasks, A::kExitCode, ExitCode),
    Handler(kTasks, A::kWaitTicks, WaitTimerRemaining),
    Handler(kTasks, A::kTlsOffset, TlsOffset),
    // Timers.
    Handler(kTimers, A::kRemainingTicks, TimerRemaining),
    Handler(kTimers, A::kTimerActive, TimerActive),
    Member(kTimers, A::kAlarmTicks, "alarm_ticks", kDec),
    Handler(kTimers, A::kRepeating, TimerRepeating),
    Handler(kTimers, A::kExpirationRoutine, ExpirationRoutine),
    Member(kTimers, A::kExpirationInput, "expiration_input", kHex),
    Handler(kTimers, A::kRepeatTicks, RepeatTicks),
    // Mutexes.
    Handler(kMutexes, A::kOwner, MutexOwner),
    Member(kMutexes, A::kNestingCount, "nesting_count", kDec),
    Member(kMutexes, A::kPriorityInherit, "priority_inherit", kDec),
    Handler(kMutexes, A::kInheritedPriority, InheritedPriority),
    // Semaphores, queues, event flags, pools.
    Member(kSemaphores, A::kSemaphoreCount, "count", kDec),
    Member(kQueues, A::kMessageCount, "num_msgs", kDec),
    Handler(kQueues, A::kQueueCapacity, QueueCapacity),
    Member(kQueues, A::kMessageSize, "msg_size", kDec),
    Member(kEventFlags, A::kFlags, "flags", kHex),
    Member(kEventFlags, A::kRequestedFlags, "requested_flags", kHex),
    Member(kBlockPools, A::kBlockSize, "block_size", kDec),
    Member(kBlockPools, A::kAvailableBlocks, "available_blocks", kDec),
    Member(kBlockPools, A::kTotalBlocks, "total_blocks", kDec),
    Member(kMemoryPools, A::kAvailableBytes, "available_bytes", kDec),
    Member(kMemoryPools, A::kPoolSize, "buf_size", kDec),
    Member(kMemoryPools, A::kFragments, "fragments", kDec),
    Handler(kMemoryPools, A::kSmallestPendingAllocation, SmallestPendingAllocation),
};

// The object types of each kind of attribute_ids.def.
constexpr std::uint32_t KindTypes(AttributeKind kind) {
  switch (kind) {
    case AttributeKind::kCommon:
      return kAllTypes;
    case AttributeKind::kTask:
      return kTasks;
    case AttributeKind::kTimer:
      return kTimers;
    case AttributeKind::kMutex:
      return kMutexes;
    case AttributeKind::kSemaphore:
      return kSemaphores;
    case AttributeKind::kQueue:
      return kQueues;
    case AttributeKind::kEventFlags:
      return kEventFlags;
    case AttributeKind::kBlockPool:
      return kBlockPools;
    case AttributeKind::kMemoryPool:
      return kMemoryPools;
  }
  return 0;
}

// Every listed attribute is served for every type of its kind, and every row
// serves a listed attribute of its types' kind.
constexpr bool RowsMatchTheAttributeList() {
  for (const AttributeInfo& info : kAttributeInfos) {
    std::uint32_t served = 0;
    for (const AttributeRow& row : kAttributeRows) {
      if (row.attribute == info.id) served |= row.types;
    }
    if ((served & KindTypes(info.kind)) != KindTypes(info.kind)) return false;
  }
  for (const AttributeRow& row : kAttributeRows) {
    bool listed = false;
    for (const AttributeInfo& info : kAttributeInfos) {
      listed = listed || (info.id == row.attribute && (row.types & ~KindTypes(info.kind)) == 0);
    }
    if (!listed) return false;
  }
  return true;
}
static_assert(RowsMatchTheAttributeList(), "the rows serve exactly attribute_ids.def");

const AttributeRow* FindAttributeRow(std::int32_t objTypeId, std::int32_t attributeId) {
  const std::uint32_t bit = std::uint32_t{1} << static_cast<std::uint32_t>(objTypeId);
  for (const AttributeRow& row : kAttributeRows) {
    if ((row.types & bit) != 0 && AttributeNumber(row.attribute) == attributeId) return &row;
  }
  return nullptr;
}

}  // namespace

KernelStatus ReadTimerRemaining(OSA_ServiceCntx* context, const KernelContext& kernel,
                                std::int32_t objTypeId, std::uint32_t object, const char* prefix,
                                OsaValue* out) {
  // A prefix names a task's wait timer inside QX_TASK, none a QX_TIMER.
  const char* typeName = ObjectTypeName(objTypeId);
  if (typeName == nullptr) typeName = prefix[0] == '\0' ? "QX_TIMER" : "QX_TASK";
  const std::string active = std::string(prefix) + "active.next";
  std::uint32_t next = 0;
  if (ReadObjectWord(context, kernel, {typeName, object, active.c_str()}, &next) !=
      KernelStatus::kOk) {
    return KernelStatus::kFailed;
  }
  if (next == 0) {
    // A stopped timer: nothing to count down.
    if (out->kind == OsaValueKind::kText) return DeliverText(out, std::string());
    return DeliverFigure(context, out, 0, kTaskMemberFormatError);
  }
  const std::string remaining = std::string(prefix) + "remaining_ticks";
  if (KernelMemberExists(context, kernel, typeName, remaining.c_str())) {
    return ReadObjectMember(context, kernel, {typeName, object, remaining.c_str()},
                            {.text = MemberText::kDecimal}, out);
  }
  // Kernels without a countdown keep the tick at which the timer expires.
  const std::string expiration = std::string(prefix) + "expiration_tick";
  std::uint32_t tick = 0;
  if (ReadObjectWord(context, kernel, {typeName, object, active.c_str()}, &next) !=
      KernelStatus::kOk) {
    return KernelStatus::kFailed;
  }
  if (ReadObjectWord(context, kernel, {typeName, object, expiration.c_str()}, &tick) !=
      KernelStatus::kOk) {
    return KernelStatus::kFailed;
  }
  const std::uint32_t ticks = next == 0 ? tick : tick - kernel.currentTick;
  return DeliverFigure(context, out, ticks, kTaskMemberFormatError);
}

KernelStatus KernelObjectListAttribute(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                                       void* privateData, std::int32_t objTypeId,
                                       const OsaParentRef* /*parent*/, std::int32_t attributeId,
                                       OsaValue* out) {
  KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr || out == nullptr) return KernelStatus::kFailed;
  const char* typeName = ObjectTypeName(objTypeId);
  if (typeName == nullptr) return KernelStatus::kFailed;
  const std::uint32_t core = kernel->listCursor[static_cast<std::size_t>(objTypeId)];
  if (core == 0) return KernelStatus::kFailed;

  const AttributeRow* row = FindAttributeRow(objTypeId, attributeId);
  if (row == nullptr) {
    if (out->kind != OsaValueKind::kText) return KernelStatus::kFailed;
    out->text = std::string(kUndefinedAttribute);
    return KernelStatus::kOk;
  }
  const AttributeRequest request{context,
                                 kernel,
                                 objTypeId,
                                 typeName,
                                 IsTaskType(objTypeId) ? core - kernel->coreOffset : core,
                                 core,
                                 out};
  // With the cache on, the object's whole structure is read at once before
  // its first member is needed.
  CachePrefetchObject(context, ActiveCache(&kernel->cache), typeName, request.object);
  if (row->handler != nullptr) return row->handler(request);
  return ReadMember(request, row->member, row->format, out);
}
