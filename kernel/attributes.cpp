// Object attributes: one table row per (object types, attribute number) pair,
// each either a plain member read in a display format or a handler for the
// attributes that combine members (priorities, pending masks, timers, owners,
// queue capacity, thread-local storage).
#include "kernel/attributes.h"

#include <array>
#include <bit>
#include <cstdint>
#include <string>

#include "kernel/object_list.h"
#include "kernel/structure_access.h"
#include "kernel/task_status.h"
#include "osa/service_requests.h"

namespace {

// Sets of object types a row applies to, one bit per ObjectTypeId.
constexpr std::uint32_t TypeBit(ObjectTypeId type) {
  return std::uint32_t{1} << static_cast<std::uint32_t>(type);
}
constexpr std::uint32_t kTasks = TypeBit(ObjectTypeId::Task) | TypeBit(ObjectTypeId::TaskList);
constexpr std::uint32_t kTimers = TypeBit(ObjectTypeId::Timer) | TypeBit(ObjectTypeId::TimerList);
constexpr std::uint32_t kMutexes = TypeBit(ObjectTypeId::Mutex) | TypeBit(ObjectTypeId::MutexList);
constexpr std::uint32_t kSemaphores = TypeBit(ObjectTypeId::Semaphore);
constexpr std::uint32_t kQueues = TypeBit(ObjectTypeId::Queue);
constexpr std::uint32_t kEventFlags = TypeBit(ObjectTypeId::EventFlags);
constexpr std::uint32_t kBlockPools = TypeBit(ObjectTypeId::BlockPool);
constexpr std::uint32_t kMemoryPools = TypeBit(ObjectTypeId::MemoryPool);
constexpr std::uint32_t kAllTypes =
    kTasks | kTimers | kMutexes | kSemaphores | kQueues | kEventFlags | kBlockPools | kMemoryPools;

// Bits of a task mask word.
constexpr std::uint32_t kWordBits = 32;

constexpr const char* kPriorityFormatError = "Error: Unsupported priority data format\n";
constexpr const char* kTaskMemberFormatError = "Error: Unsupported task member data format\n";

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

// The empty answer: the empty text, or status 1 for a number.
std::uint32_t DeliverEmpty(OsaValue* out) {
  if (out->kind != OsaValueKind::Text) return 1;
  out->text = std::string();
  return 0;
}

// A number by kind; other kinds show `formatError` (when given) and fail.
std::uint32_t DeliverFigure(OSA_ServiceCntx* context, OsaValue* out, std::uint32_t x,
                            const char* formatError) {
  if (DeliverNumber(out, x)) return 0;
  if (formatError != nullptr) ShowKernelError(context, "%s", formatError);
  return 1;
}

// A text-only answer: numeric kinds fail without a message.
std::uint32_t DeliverText(OsaValue* out, std::string text) {
  if (out->kind != OsaValueKind::Text) return 1;
  out->text = std::move(text);
  return 0;
}

std::uint32_t ReadMember(const AttributeRequest& r, const char* member, bool decimal,
                         bool emptyIfZero, OsaValue* out) {
  return ReadObjectMember(r.context, *r.kernel, r.object, r.typeName, member, decimal, emptyIfZero,
                          out);
}

std::uint32_t ReadWord(const AttributeRequest& r, const char* member, std::uint32_t* value) {
  return ReadObjectWord(r.context, *r.kernel, r.object, r.typeName, member, value);
}

// A member as 64 bits (kind Address), for the 64-task masks.
std::uint32_t ReadMask(const AttributeRequest& r, const char* member, std::uint64_t* mask) {
  OsaValue value;
  value.kind = OsaValueKind::Address;
  const std::uint32_t status = ReadMember(r, member, false, false, &value);
  if (status != 0) return status;
  *mask = value.payload;
  return 0;
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
std::uint32_t DeliverObjectReference(const AttributeRequest& r, std::uint32_t core) {
  OsaValue name;
  name.kind = OsaValueKind::Text;
  const std::uint32_t status = ReadObjectName(r.context, *r.kernel, core, &name);
  if (status != 0) return status;
  std::string text = FormatHex(core);
  if (name.text && !name.text->empty()) text += " (" + *name.text + ")";
  r.out->text = std::move(text);
  return 0;
}

// ---- Common attributes --------------------------------------------------------

std::uint32_t Identity(const AttributeRequest& r) {
  if (r.out->kind == OsaValueKind::Text) {
    r.out->text = FormatHex(r.object);
    return 0;
  }
  return DeliverFigure(r.context, r.out, r.object, nullptr);
}

std::uint32_t Name(const AttributeRequest& r) {
  return ReadObjectName(r.context, *r.kernel, r.core, r.out);
}

std::uint32_t PendingTaskCount(const AttributeRequest& r) {
  if (r.kernel->pendIsList) return ReadMember(r, PendingCountMember(*r.kernel), true, false, r.out);
  std::uint64_t mask = 0;
  const std::uint32_t status = ReadMask(r, PendingMaskMember(*r.kernel), &mask);
  if (status != 0) return status;
  return DeliverFigure(r.context, r.out, CountSetBits(Low32(mask)) + CountSetBits(High32(mask)),
                       kPriorityFormatError);
}

std::uint32_t Refused(const AttributeRequest&) {
  return 1;
}

// ---- Tasks --------------------------------------------------------------------

std::uint32_t TaskState(const AttributeRequest& r) {
  return ReadTaskStatus(r.context, *r.kernel, r.object, r.out);
}

std::uint32_t StaticPriority(const AttributeRequest& r) {
  return ReadPriority(r.context, *r.kernel, r.object, r.typeName, StaticPriorityMember(*r.kernel),
                      r.out);
}

// A priority member shown only where it differs from the static priority.
std::uint32_t PriorityIfDifferent(const AttributeRequest& r, const char* member) {
  std::uint32_t base = 0;
  std::uint32_t other = 0;
  std::uint32_t status = ReadWord(r, StaticPriorityMember(*r.kernel), &base);
  if (status != 0) return status;
  status = ReadWord(r, member, &other);
  if (status != 0) return status;
  if (base == other) return DeliverEmpty(r.out);
  return ReadPriority(r.context, *r.kernel, r.object, r.typeName, member, r.out);
}

std::uint32_t ActivePriority(const AttributeRequest& r) {
  return PriorityIfDifferent(r, ActivePriorityMember(*r.kernel));
}

std::uint32_t PreemptionThreshold(const AttributeRequest& r) {
  return PriorityIfDifferent(r, "preempt_threshold");
}

std::uint32_t PendedOn(const AttributeRequest& r) {
  if (r.out->kind != OsaValueKind::Text) return 1;
  std::uint32_t parent = 0;
  const std::uint32_t status = ReadWord(r, "pending.parent", &parent);
  if (status != 0) return status;
  if (parent == 0) return DeliverText(r.out, std::string());
  return DeliverObjectReference(r, parent);
}

std::uint32_t MutexWaiters(const AttributeRequest& r) {
  if (r.kernel->version == 3) return DeliverFigure(r.context, r.out, 0, nullptr);
  std::uint64_t mask = 0;
  const std::uint32_t status = ReadMask(r, "mutex_waiters_mask", &mask);
  if (status != 0) return status;
  return DeliverFigure(r.context, r.out, CountSetBits(Low32(mask)) + CountSetBits(High32(mask)),
                       kPriorityFormatError);
}

std::uint32_t StackSize(const AttributeRequest& r) {
  if (r.kernel->version == 1) return ReadMember(r, "stack_size", true, false, r.out);
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::uint32_t status = ReadWord(r, "stack_start", &start);
  if (status != 0) return status;
  status = ReadWord(r, "stack_end", &end);
  if (status != 0) return status;
  // stack_end names the last byte of the stack.
  const std::uint32_t size = end + 1 - start;
  if (r.out->kind == OsaValueKind::Text) {
    r.out->text = FormatUnsigned(size);
    return 0;
  }
  return OsaValueStoreNumber(r.out, size) ? 0 : 1;
}

std::uint32_t ExitCode(const AttributeRequest& r) {
  OsaValue state;
  state.kind = OsaValueKind::UInt32;
  if (ReadTaskStatus(r.context, *r.kernel, r.object, &state) != 0) return 1;
  constexpr std::uint64_t kExited = 1;
  if (state.payload != kExited) return DeliverEmpty(r.out);
  if (KernelMemberExists(r.context, *r.kernel, r.typeName, "terminated")) {
    std::uint32_t terminated = 0;
    const std::uint32_t status = ReadWord(r, "terminated", &terminated);
    if (status != 0) return status;
    if (terminated != 0) return DeliverEmpty(r.out);
  }
  return ReadMember(r, "exit_code", false, false, r.out);
}

std::uint32_t WaitTimerRemaining(const AttributeRequest& r) {
  return ReadTimerRemaining(r.context, *r.kernel, r.type, r.object, "wait_timer.", r.out);
}

std::uint32_t TlsOffset(const AttributeRequest& r) {
  ReadTaskLsoOffset(r.context, r.kernel, r.object, r.out);
  return 0;
}

// ---- Timers -------------------------------------------------------------------

std::uint32_t TimerRemaining(const AttributeRequest& r) {
  return ReadTimerRemaining(r.context, *r.kernel, r.type, r.object, "", r.out);
}

// 1 when the member is non-zero, else 0.
std::uint32_t MemberFlag(const AttributeRequest& r, const char* member) {
  std::uint32_t value = 0;
  if (ReadWord(r, member, &value) != 0) return 1;
  return DeliverFigure(r.context, r.out, value != 0 ? 1 : 0, kTaskMemberFormatError);
}

std::uint32_t TimerActive(const AttributeRequest& r) {
  return MemberFlag(r, "active.next");
}

std::uint32_t TimerRepeating(const AttributeRequest& r) {
  if (KernelMemberExists(r.context, *r.kernel, r.typeName, "repeat_ticks")) {
    return MemberFlag(r, "repeat_ticks");
  }
  return ReadMember(r, "alarm_repeat", true, false, r.out);
}

// Kernels built with "alarm_repeat" instead have no repeat count to show.
std::uint32_t RepeatTicks(const AttributeRequest& r) {
  bool present = false;
  const std::uint32_t status = ReadOptionalObjectMember(
      r.context, *r.kernel, r.object, r.typeName, "repeat_ticks", true, true, r.out, &present);
  if (status != 0) return status;
  return present ? 0 : DeliverEmpty(r.out);
}

std::uint32_t ExpirationRoutine(const AttributeRequest& r) {
  if (r.out->kind != OsaValueKind::Text) return 1;
  std::uint64_t routine = 0;
  const std::uint32_t status = ReadMask(r, "expiration_function", &routine);
  if (status != 0) return status;
  constexpr std::int32_t kRoutineSymbol = 6;
  std::string name;
  if (OSA_Service_SymbolFromAddress(r.context, Low32(routine), kRoutineSymbol, &name, kOsaNoCore) ==
      0) {
    r.out->text = std::move(name);
    return 0;
  }
  return ReadMember(r, "expiration_function", false, false, r.out);
}

// ---- Mutexes ------------------------------------------------------------------

std::uint32_t MutexOwner(const AttributeRequest& r) {
  if (r.out->kind != OsaValueKind::Text) return 1;
  std::uint32_t owner = 0;
  const std::uint32_t status = ReadWord(r, "owner", &owner);
  if (status != 0) return status;
  if (owner == 0) return DeliverText(r.out, std::string());
  return DeliverObjectReference(r, owner + r.kernel->coreOffset);
}

std::uint32_t InheritedPriority(const AttributeRequest& r) {
  const KernelContext& kernel = *r.kernel;
  if (kernel.pendIsList) {
    std::uint32_t count = 0;
    const std::uint32_t status = ReadWord(r, PendingCountMember(kernel), &count);
    if (status != 0) return status;
    if (count == 0) return DeliverEmpty(r.out);
    return ReadPriority(r.context, kernel, r.object, r.typeName, "inherited_priority", r.out);
  }
  std::uint64_t mask = 0;
  std::uint32_t status = ReadMask(r, PendingMaskMember(kernel), &mask);
  if (status != 0) return status;
  std::uint32_t limit = 0;
  const std::uint32_t waiter = FirstWaiter(kernel, mask, &limit);
  if (waiter == limit) return DeliverEmpty(r.out);
  // The first waiter's static priority. "static_priority" is kept inverted
  // on every version; a version 3 kernel built without it has only its own
  // member, kept as shown.
  OsaValue stored;
  status = EvaluateFormatted(r.context, &stored, OsaValueKind::UInt32,
                             "qx_kernel_sched_info.static_task_array[%u]->static_priority", waiter);
  if (status == 0) {
    return DeliverFigure(r.context, r.out, kernel.maxPriorities - 1 - Low32(stored.payload),
                         kPriorityFormatError);
  }
  if (kernel.version != 3) return status;
  status = EvaluateFormatted(
      r.context, &stored, OsaValueKind::UInt32,
      "qx_kernel_sched_info.static_task_array[%u]->static_sched_info.priority", waiter);
  if (status != 0) return status;
  return DeliverFigure(r.context, r.out, Low32(stored.payload), kPriorityFormatError);
}

// ---- Queues and memory pools --------------------------------------------------

std::uint32_t QueueCapacity(const AttributeRequest& r) {
  std::uint32_t end = 0;
  std::uint32_t start = 0;
  std::uint32_t messageSize = 0;
  std::uint32_t status = ReadWord(r, "buf_end", &end);
  if (status != 0) return status;
  status = ReadWord(r, "buf_start", &start);
  if (status != 0) return status;
  status = ReadWord(r, "msg_size", &messageSize);
  if (status != 0) return status;
  // The message size counts 32-bit words. The divisor is formed in 64 bits:
  // a corrupted size such as 0x40000000 would wrap to 0 in 32 bits.
  const std::uint64_t words = messageSize == 0 ? 1 : messageSize;
  const std::uint64_t capacity = static_cast<std::uint32_t>(end - start) / (words * 4);
  return DeliverFigure(r.context, r.out, Low32(capacity), nullptr);
}

std::uint32_t SmallestPendingAllocation(const AttributeRequest& r) {
  const KernelContext& kernel = *r.kernel;
  if (kernel.pendIsList) {
    std::uint32_t count = 0;
    const std::uint32_t status = ReadWord(r, PendingCountMember(kernel), &count);
    if (status != 0) return status;
    if (count == 0) return DeliverEmpty(r.out);
  } else {
    std::uint64_t mask = 0;
    const std::uint32_t status = ReadMask(r, PendingMaskMember(kernel), &mask);
    if (status != 0) return status;
    std::uint32_t limit = 0;
    if (FirstWaiter(kernel, mask, &limit) == limit) return DeliverEmpty(r.out);
  }
  return ReadMember(r, "min_pending_allocation_size", true, false, r.out);
}

// ---- The dispatch table -------------------------------------------------------

using AttributeHandler = std::uint32_t (*)(const AttributeRequest&);

// How a plain member row shows its member as text.
enum class MemberFormat : std::uint8_t { kDecimal, kHex };

// One attribute of a set of object types: a handler, or a member read
// straight into the out value.
struct AttributeRow {
  std::uint32_t types;
  std::int32_t attribute;
  AttributeHandler handler;
  const char* member;
  MemberFormat format;
};

constexpr AttributeRow Handler(std::uint32_t types, std::int32_t attribute,
                               AttributeHandler handler) {
  return {types, attribute, handler, nullptr, MemberFormat::kDecimal};
}
constexpr AttributeRow Member(std::uint32_t types, std::int32_t attribute, const char* member,
                              MemberFormat format) {
  return {types, attribute, nullptr, member, format};
}

constexpr MemberFormat kDec = MemberFormat::kDecimal;
constexpr MemberFormat kHex = MemberFormat::kHex;

// Searched in order; the common attributes come first.
constexpr std::array kAttributeRows = {
    Handler(kAllTypes, 0, Identity),
    Handler(kAllTypes, 1, Name),
    Handler(kTasks | kTimers, 9, Refused),
    Handler(kAllTypes & ~(kTasks | kTimers), 9, PendingTaskCount),
    // Tasks.
    Handler(kTasks, 2, TaskState),
    Handler(kTasks, 3, StaticPriority),
    Handler(kTasks, 4, ActivePriority),
    Handler(kTasks, 5, PendedOn),
    Member(kTasks, 6, "owned_mutex_count", kDec),
    Handler(kTasks, 7, MutexWaiters),
    Handler(kTasks, 8, StackSize),
    Member(kTasks, 10, "stack_start", kHex),
    Handler(kTasks, 11, PreemptionThreshold),
    Member(kTasks, 18, "time_slice", kDec),
    Member(kTasks, 19, "remaining_time_slice", kDec),
    Handler(kTasks, 20, ExitCode),
    Handler(kTasks, 21, WaitTimerRemaining),
    Handler(kTasks, 22, TlsOffset),
    // Timers.
    Handler(kTimers, 12, TimerRemaining),
    Handler(kTimers, 13, TimerActive),
    Member(kTimers, 14, "alarm_ticks", kDec),
    Handler(kTimers, 15, TimerRepeating),
    Handler(kTimers, 16, ExpirationRoutine),
    Member(kTimers, 17, "expiration_input", kHex),
    Handler(kTimers, 26, RepeatTicks),
    // Mutexes.
    Handler(kMutexes, 22, MutexOwner),
    Member(kMutexes, 23, "nesting_count", kDec),
    Member(kMutexes, 24, "priority_inherit", kDec),
    Handler(kMutexes, 25, InheritedPriority),
    // Semaphores, queues, event flags, pools.
    Member(kSemaphores, 32, "count", kDec),
    Member(kQueues, 42, "num_msgs", kDec),
    Handler(kQueues, 43, QueueCapacity),
    Member(kQueues, 44, "msg_size", kDec),
    Member(kEventFlags, 52, "flags", kHex),
    Member(kEventFlags, 53, "requested_flags", kHex),
    Member(kBlockPools, 62, "block_size", kDec),
    Member(kBlockPools, 63, "available_blocks", kDec),
    Member(kBlockPools, 64, "total_blocks", kDec),
    Member(kMemoryPools, 72, "available_bytes", kDec),
    Member(kMemoryPools, 73, "buf_size", kDec),
    Member(kMemoryPools, 74, "fragments", kDec),
    Handler(kMemoryPools, 75, SmallestPendingAllocation),
};
static_assert(kAttributeRows.size() == 42, "one row per attribute of the kernel's interface");

const AttributeRow* FindAttributeRow(std::int32_t objTypeId, std::int32_t attributeId) {
  const std::uint32_t bit = std::uint32_t{1} << static_cast<std::uint32_t>(objTypeId);
  for (const AttributeRow& row : kAttributeRows) {
    if ((row.types & bit) != 0 && row.attribute == attributeId) return &row;
  }
  return nullptr;
}

}  // namespace

std::uint32_t ReadTimerRemaining(OSA_ServiceCntx* context, const KernelContext& kernel,
                                 std::int32_t objTypeId, std::uint32_t object, const char* prefix,
                                 OsaValue* out) {
  // A prefix names a task's wait timer inside QX_TASK, none a QX_TIMER.
  const char* typeName = ObjectTypeName(objTypeId);
  if (typeName == nullptr) typeName = prefix[0] == '\0' ? "QX_TIMER" : "QX_TASK";
  const std::string active = std::string(prefix) + "active.next";
  std::uint32_t next = 0;
  if (ReadObjectWord(context, kernel, object, typeName, active.c_str(), &next) != 0) return 1;
  if (next == 0) {
    // A stopped timer: nothing to count down.
    if (out->kind == OsaValueKind::Text) return DeliverText(out, std::string());
    return DeliverFigure(context, out, 0, kTaskMemberFormatError);
  }
  const std::string remaining = std::string(prefix) + "remaining_ticks";
  if (KernelMemberExists(context, kernel, typeName, remaining.c_str())) {
    return ReadObjectMember(context, kernel, object, typeName, remaining.c_str(), true, false, out);
  }
  // Kernels without a countdown keep the tick at which the timer expires.
  const std::string expiration = std::string(prefix) + "expiration_tick";
  std::uint32_t tick = 0;
  if (ReadObjectWord(context, kernel, object, typeName, active.c_str(), &next) != 0) return 1;
  if (ReadObjectWord(context, kernel, object, typeName, expiration.c_str(), &tick) != 0) return 1;
  const std::uint32_t ticks = next == 0 ? tick : tick - kernel.currentTick;
  return DeliverFigure(context, out, ticks, kTaskMemberFormatError);
}

std::int32_t KernelObjectListAttribute(OSA_ServiceCntx* context, OsaPluginInfo* /*info*/,
                                       void* privateData, std::int32_t objTypeId,
                                       const OsaParentRef* /*parent*/, std::int32_t attributeId,
                                       OsaValue* out) {
  KernelContext* kernel = KernelContextOf(privateData);
  if (kernel == nullptr || out == nullptr) return 1;
  const char* typeName = ObjectTypeName(objTypeId);
  if (typeName == nullptr) return 1;
  const std::uint32_t core = kernel->listCursor[static_cast<std::size_t>(objTypeId)];
  if (core == 0) return 1;

  const AttributeRow* row = FindAttributeRow(objTypeId, attributeId);
  if (row == nullptr) {
    if (out->kind != OsaValueKind::Text) return 1;
    out->text = std::string(kUndefinedAttribute);
    return 0;
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
  if (row->handler != nullptr) return static_cast<std::int32_t>(row->handler(request));
  return static_cast<std::int32_t>(
      ReadMember(request, row->member, row->format != kHex, false, out));
}
