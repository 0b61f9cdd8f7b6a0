// Lays out a kernel of one build variant in a model target. Addresses are
// handed out first (every task and object), then the records are filled, so
// that records may point at each other in any direction.
#include "model/kernel_builder.h"

#include <algorithm>
#include <array>

#include "model/kernel_types.h"
#include "model/task_frame.h"
#include "model/variants.h"

namespace model {
namespace {

constexpr uint32_t kCodeBase = 0x08000000;
constexpr uint32_t kCodeSize = 0x4000;
constexpr uint32_t kRamBase = 0x20000000;
constexpr uint32_t kRamSize = 0x10000;
// The program's start-up stack: the top 4 KiB of RAM, where main's task runs.
constexpr uint32_t kStartupStackBegin = kRamBase + kRamSize - 0x1000;
constexpr uint32_t kStartupStackEnd = kRamBase + kRamSize;
constexpr uint32_t kRoutineSize = 0x80;
constexpr uint32_t kTaskStackSize = 512;
constexpr uint32_t kStartupTaskStackSize = 1024;
constexpr uint32_t kIdlePriority = 0xFFFF;  // stands for max_priorities - 1

// List indices in qx_kernel_object_list.
enum ListIndex : uint32_t {
  kListTask = 1,
  kListTimer,
  kListMutex,
  kListSem,
  kListQueue,
  kListEflags,
  kListBpool,
  kListMpool,
  kListCount
};

// Object instances; a task pends on one of these.
enum ObjectId : uint8_t {
  kNoObject,
  kTimerBlink,
  kTimerOneShot,
  kTimerWatchdog,
  kMutexBus,
  kMutexSpare,
  kSemRx,
  kSemLong,
  kQueueCmd,
  kQueueAnon,
  kEflagsEvents,
  kBpoolBlocks,
  kMpoolHeap,
  kObjectCount
};

struct ObjectRow {
  ObjectId id;
  ListIndex list;
  const char* name;    // null: the name pointer is 0
  const char* symbol;  // the program's variable holding the object
};

constexpr ObjectRow kObjects[] = {
    {kNoObject, kListTask, nullptr, nullptr},
    {kTimerBlink, kListTimer, "blink", "app_blink_timer"},
    {kTimerOneShot, kListTimer, "oneshot", "app_oneshot_timer"},
    {kTimerWatchdog, kListTimer, "watchdog", "app_watchdog_timer"},
    {kMutexBus, kListMutex, "bus_lock", "app_bus_mutex"},
    {kMutexSpare, kListMutex, "spare_lock", "app_spare_mutex"},
    {kSemRx, kListSem, "rx_sem", "app_rx_sem"},
    {kSemLong, kListSem,
     "sem_with_a_name_longer_than_the_debugger_shows_0123456789_0123456789_0123456789_"
     "0123456789_0123456789_0123456789_0123456789_end",
     "app_long_sem"},
    {kQueueCmd, kListQueue, "cmd_queue", "app_cmd_queue"},
    {kQueueAnon, kListQueue, nullptr, "app_anon_queue"},
    {kEflagsEvents, kListEflags, "events", "app_events"},
    {kBpoolBlocks, kListBpool, "blocks", "app_block_pool"},
    {kMpoolHeap, kListMpool, "heap", "app_heap_pool"},
};
static_assert(std::size(kObjects) == kObjectCount);

// One task. Priorities are as shown; statuses are version 1 codes with the
// version 3 code and object beside them (version 3 has no block-pool status:
// code 7 is a mutex wait there).
struct TaskRow {
  const char* name;
  uint32_t status;
  ObjectId pend;
  uint32_t statusV3;
  ObjectId pendV3;
  uint32_t priority;
  uint32_t activePriority;  // 0: same as priority
  uint32_t threshold;       // 0: same as priority
  uint32_t slice;
  uint32_t sliceLeft;
  uint32_t waitTicks;  // wait timer running with this many ticks left; 0 when stopped
  uint32_t number64;   // task number on 64-task kernels (on 32-task kernels: the row index)
  uint32_t flags;      // kTaskFpFrame, kTaskPadded, kTaskTerminated or'd together
  uint32_t exitCode;
};

// Task row flags; a row without any is kTaskPlain.
constexpr uint32_t kTaskPlain = 0;
constexpr uint32_t kTaskFpFrame = 1u << 0;     // saved with the FP context (FPU kernels)
constexpr uint32_t kTaskPadded = 1u << 1;      // frame needs the alignment word (pendSv kernels)
constexpr uint32_t kTaskTerminated = 1u << 2;  // its "terminated" field reads 1

constexpr uint32_t kRowMain = 0;
constexpr uint32_t kRowRunning = 1;
constexpr uint32_t kRowFpOwner = 2;
constexpr uint32_t kRowLockWaiterA = 8;
constexpr uint32_t kRowLockOwner = 9;

constexpr TaskRow kTasks[] = {
    {"main", 0, kNoObject, 0, kNoObject, kIdlePriority, 0, 0, 0, 0, 0, 0, kTaskPlain, 0},
    {"net_worker", 0, kNoObject, 0, kNoObject, 5, 0, 3, 10, 4, 0, 1, kTaskPlain, 0},
    {"fp_ready", 0, kNoObject, 0, kNoObject, 6, 0, 0, 0, 0, 0, 2, kTaskFpFrame | kTaskPadded, 0},
    {"sleeper", 3, kNoObject, 3, kNoObject, 7, 0, 0, 0, 0, 25, 3, kTaskPlain, 0},
    {"queue_reader", 4, kQueueCmd, 4, kQueueCmd, 8, 0, 0, 5, 5, 100, 4, kTaskFpFrame, 0},
    {"sem_taker", 5, kSemRx, 5, kSemRx, 9, 0, 0, 0, 0, 0, 33, kTaskPadded, 0},
    {"flag_waiter", 6, kEflagsEvents, 6, kEflagsEvents, 10, 0, 0, 0, 0, 0, 6, kTaskFpFrame, 0},
    {"block_waiter", 7, kBpoolBlocks, 7, kMutexBus, 11, 0, 0, 0, 0, 0, 7, kTaskPlain, 0},
    {"lock_waiter_a", 8, kMutexBus, 8, kMutexBus, 2, 0, 0, 0, 0, 0, 8, kTaskFpFrame, 0},
    {"lock_owner", 0, kNoObject, 0, kNoObject, 12, 2, 0, 0, 0, 0, 9, kTaskPlain, 0},
    {"lock_waiter_b", 8, kMutexBus, 7, kMutexBus, 4, 0, 0, 0, 0, 0, 40, kTaskPadded, 0},
    {"heap_waiter", 9, kMpoolHeap, 9, kMpoolHeap, 13, 0, 0, 0, 0, 0, 11, kTaskPlain, 0},
    {"halted_task", 2, kNoObject, 2, kNoObject, 14, 0, 0, 0, 0, 0, 12, kTaskPlain, 0},
    {"finished", 1, kNoObject, 1, kNoObject, 14, 0, 0, 0, 0, 0, 13, kTaskFpFrame, 0x2A},
    {"killed", 1, kNoObject, 1, kNoObject, 14, 0, 0, 0, 0, 0, 14, kTaskPadded | kTaskTerminated,
     0xDEAD},
};
constexpr uint32_t kTaskCount = std::size(kTasks);
static_assert(kTaskCount == 15);

struct Builder {
  TargetModel* model;
  const VariantSpec& spec;
  KernelTypes types;
  uint32_t ramNext = kRamBase;
  uint32_t codeNext = kCodeBase;
  std::string error;  // the first fault; building stops being useful after it
};

bool Fault(Builder* b, std::string text) {
  if (b->error.empty()) b->error = std::move(text);
  return false;
}

uint32_t Allocate(Builder* b, uint32_t size, uint32_t align) {
  const uint32_t address = (b->ramNext + align - 1) / align * align;
  if (address + size > kStartupStackBegin) {
    Fault(b, "model RAM exhausted");
    return kRamBase;
  }
  b->ramNext = address + size;
  return address;
}

void AddNamed(Builder* b, Symbol symbol) {
  const std::string name = symbol.name;
  if (!AddSymbol(&b->model->symbols, std::move(symbol))) Fault(b, "duplicate symbol " + name);
}

uint32_t Routine(Builder* b, std::string name) {
  const uint32_t address = b->codeNext;
  b->codeNext += kRoutineSize;
  AddNamed(b, Symbol{std::move(name), SymbolKind::kRoutine, address, kRoutineSize, 0});
  return address;
}

void Linker(Builder* b, std::string name, uint32_t address) {
  AddNamed(b, Symbol{std::move(name), SymbolKind::kLinker, address, 0, 0});
}

uint32_t Variable(Builder* b, std::string name, TypeId type) {
  const TypeInfo& info = b->model->types.types[type];
  const uint32_t address = Allocate(b, info.size, info.align);
  AddNamed(b, Symbol{std::move(name), SymbolKind::kVariable, address, info.size, type});
  return address;
}

void Write(Builder* b, uint32_t address, uint32_t size, uint64_t value) {
  if (!MemoryWriteValue(&b->model->memory, address, size, value))
    Fault(b, "model write outside mapped memory");
}

uint32_t Offset(Builder* b, TypeId type, std::string_view path, uint32_t* size = nullptr) {
  uint32_t offset = 0;
  TypeId member = 0;
  if (!MemberPathOffset(b->model->types, type, path, &offset, &member)) {
    Fault(b, "model type has no member " + std::string(path));
    return 0;
  }
  if (size != nullptr) *size = b->model->types.types[member].size;
  return offset;
}

// Stores a scalar member of the record at `base`.
void Put(Builder* b, uint32_t base, TypeId type, std::string_view path, uint64_t value) {
  uint32_t size = 0;
  const uint32_t offset = Offset(b, type, path, &size);
  Write(b, base + offset, size, value);
}

// Stores a task mask: word 0 (the low half) at the lower address.
void PutMask(Builder* b, uint32_t address, uint64_t mask) {
  for (uint32_t word = 0; word < b->spec.maxTasks / 32; ++word)
    Write(b, address + 4 * word, 4, static_cast<uint32_t>(mask >> (32 * word)));
}

uint32_t String(Builder* b, std::string_view text) {
  const uint32_t address = Allocate(b, static_cast<uint32_t>(text.size()) + 1, 1);
  if (!MemoryWrite(&b->model->memory, address, text.size(),
                   reinterpret_cast<const uint8_t*>(text.data())))
    Fault(b, "model string outside mapped memory");
  return address;
}

// --- Plan: addresses of everything, decided before anything is filled. ---

struct TaskPlan {
  const TaskRow* row;
  uint32_t number;
  uint32_t address;
  uint32_t status;
  ObjectId pend;
  uint32_t stackStart;
  uint32_t stackSize;
  TaskRegisters registers{};
  uint32_t entry;
};

struct ObjectPlan {
  const ObjectRow* row;
  TypeId type;
  uint32_t address;
  uint32_t core;  // 0 for pools without a core
};

struct Plan {
  std::array<TaskPlan, kTaskCount> tasks{};
  std::array<ObjectPlan, kObjectCount> objects{};
  uint32_t shell = 0;
  std::array<uint32_t, 3> timerRoutines{};
};

bool Version3(const Builder& b) {
  return b.spec.version == 3;
}
bool PendIsList(const Builder& b) {
  return b.spec.pend == PendLayout::kListCore || b.spec.pend == PendLayout::kListUnion;
}
bool PendInUnion(const Builder& b) {
  return b.spec.pend == PendLayout::kMaskUnion || b.spec.pend == PendLayout::kListUnion;
}

uint32_t ShownPriority(const Builder& b, uint32_t priority) {
  return priority == kIdlePriority ? b.spec.maxPriorities - 1 : priority;
}

// Version 1 kernels store priorities inverted.
uint32_t StoredPriority(const Builder& b, uint32_t shown) {
  return Version3(b) ? shown : b.spec.maxPriorities - 1 - shown;
}

// `static_priority` is stored inverted on every version that has it, so the
// idle priority (max_priorities - 1) is stored as 0.
uint32_t StoredStaticPriority(const Builder& b, uint32_t shown) {
  return b.spec.maxPriorities - 1 - shown;
}

// The mask bit of a task: task n is the n-th bit from the top, so that the
// count of leading zeros of a mask names its first waiting task.
uint64_t TaskBit(const Builder& b, uint32_t number) {
  return uint64_t{1} << (b.spec.maxTasks - 1 - number);
}

TypeId ObjectType(const Builder& b, ListIndex list) {
  const KernelTypes& k = b.types;
  const TypeId byList[kListCount] = {k.task,  k.task,   k.timer, k.mutex, k.sem,
                                     k.queue, k.eflags, k.bpool, k.mpool};
  return byList[list];
}

TaskRegisters TaskRegisterValues(const Plan& plan, uint32_t row, uint32_t tag) {
  TaskRegisters r{};
  for (uint32_t n = 0; n <= 12; ++n)
    r[n] = tag * 0x01000000 + (row + 1) * 0x10000 + 0x100 + n;
  r[kRegLr] = plan.shell + 0x21;  // a return address: Thumb bit set
  r[kRegPc] = plan.tasks[row].entry + 0x10 + 2 * row;
  r[kRegXpsr] = kXpsrThumb | ((row % 4) << 29);
  for (uint32_t n = 0; n < 32; ++n)
    r[kRegS0 + n] = 0x3F800000 + (row << 8) + n + tag * 0x100000;
  r[kRegFpscr] = 0x03C00000 | row;
  return r;
}

void PlanLayout(Builder* b, Plan* plan) {
  // Code: start-up sections first, then the kernel's and the application's routines.
  const uint32_t reset = Routine(b, "qx_cpu_reset_handler");
  Linker(b, "__hrxbegin_reset", reset);
  Linker(b, "__hrxend_reset", reset + kRoutineSize);
  const uint32_t boot = Routine(b, "qx_cpu_boot_copy");
  const std::string bootPrefix = b->spec.tripleUnderscoreBoot ? "___hrx" : "__hrx";
  Linker(b, bootPrefix + "begin_boottext", boot);
  Linker(b, bootPrefix + "end_boottext", boot + kRoutineSize);
  plan->shell = Routine(b, "qx_kernel_task_shell");
  Routine(b, "qx_kernel_schedule");
  if (b->spec.pendSv) Routine(b, "qx_cpu_pendsv_enter");
  if (b->spec.tls) Routine(b, "__c_tls_init");
  plan->timerRoutines = {Routine(b, "app_blink_expired"), Routine(b, "app_oneshot_expired"),
                         Routine(b, "app_watchdog_expired")};
  for (uint32_t i = 0; i < kTaskCount; ++i) {
    TaskPlan& task = plan->tasks[i];
    task.row = &kTasks[i];
    task.entry = i == kRowMain ? Routine(b, "main")
                               : Routine(b, std::string("task_") + kTasks[i].name + "_entry");
  }

  for (uint32_t i = 1; i < kObjectCount; ++i) {
    ObjectPlan& object = plan->objects[i];
    object.row = &kObjects[i];
    object.type = ObjectType(*b, kObjects[i].list);
    object.address = Variable(b, kObjects[i].symbol, object.type);
    const bool pool = kObjects[i].list == kListBpool || kObjects[i].list == kListMpool;
    object.core = pool && !b->spec.poolCore ? 0 : object.address + Offset(b, object.type, "core");
  }
  for (uint32_t i = 0; i < kTaskCount; ++i) {
    TaskPlan& task = plan->tasks[i];
    const TaskRow& row = kTasks[i];
    task.number = b->spec.maxTasks == 64 ? row.number64 : i;
    task.address = Variable(b, std::string("app_") + row.name + "_task", b->types.task);
    task.status = Version3(*b) ? row.statusV3 : row.status;
    task.pend = Version3(*b) ? row.pendV3 : row.pend;
    if (i == kRowMain) {
      task.stackSize = kStartupTaskStackSize;
      task.stackStart = kStartupStackEnd - kStartupTaskStackSize;
    } else {
      task.stackSize = kTaskStackSize;
      task.stackStart =
          Variable(b, std::string("app_") + row.name + "_stack",
                   AddArrayType(&b->model->types, b->types.stackWord, kTaskStackSize / 8));
    }
  }
  for (uint32_t i = 0; i < kTaskCount; ++i)
    plan->tasks[i].registers = TaskRegisterValues(*plan, i, 0);
}

// --- Filling ---

uint32_t CoreOf(const Builder& b, const TaskPlan& task) {
  uint32_t offset = 0;
  TypeId member = 0;
  const bool found = MemberPathOffset(b.model->types, b.types.task, "core", &offset, &member);
  return found ? task.address + offset : 0;
}

std::string PendPath(const Builder& b, std::string_view member) {
  return std::string(PendInUnion(b) ? "u.pending." : "pending.") + std::string(member);
}

// Links the cores at the given addresses into a ring through created.next/prev.
void LinkRing(Builder* b, const std::vector<uint32_t>& cores) {
  for (size_t i = 0; i < cores.size(); ++i) {
    Put(b, cores[i], b->types.objectCore, "created.next", cores[(i + 1) % cores.size()]);
    Put(b, cores[i], b->types.objectCore, "created.prev",
        cores[(i + cores.size() - 1) % cores.size()]);
  }
}

// Writes the pending record of an object core and links its waiters.
void FillPending(Builder* b, const Plan& plan, uint32_t core, ObjectId object,
                 ManifestObject* entry) {
  std::vector<const TaskPlan*> waiters;
  for (const TaskPlan& task : plan.tasks) {
    if (task.pend == object) waiters.push_back(&task);
  }
  std::sort(waiters.begin(), waiters.end(),
            [](const TaskPlan* x, const TaskPlan* y) { return x->number < y->number; });
  for (const TaskPlan* task : waiters)
    entry->waiters.push_back(task->address);
  if (core == 0) return;
  if (PendIsList(*b)) {
    Put(b, core, b->types.objectCore, PendPath(*b, "head"),
        waiters.empty() ? 0 : waiters.front()->address);
    Put(b, core, b->types.objectCore, PendPath(*b, "count"), waiters.size());
    for (size_t i = 0; i < waiters.size(); ++i) {
      Put(b, waiters[i]->address, b->types.task, "pending.next",
          i + 1 < waiters.size() ? waiters[i + 1]->address : 0);
    }
    entry->fields.push_back({"pending.count", waiters.size()});
    return;
  }
  uint64_t mask = 0;
  for (const TaskPlan* task : waiters)
    mask |= TaskBit(*b, task->number);
  PutMask(b,
          core + Offset(b, b->types.objectCore, PendPath(*b, Version3(*b) ? "task_mask" : "mask")),
          mask);
  entry->fields.push_back({"pending.mask", mask});
}

void Field(Builder* b, const ObjectPlan& object, ManifestObject* entry, std::string_view path,
           uint64_t value) {
  Put(b, object.address, object.type, path, value);
  entry->fields.push_back({std::string(path), value});
}

constexpr bool kTimerRunning[] = {true, false, true};

void FillObjects(Builder* b, const Plan& plan, KernelManifest* manifest) {
  const uint32_t priorityOfWaiterA = kTasks[kRowLockWaiterA].priority;
  for (uint32_t i = 1; i < kObjectCount; ++i) {
    const ObjectPlan& object = plan.objects[i];
    ManifestObject entry;
    entry.listIndex = object.row->list;
    entry.address = object.address;
    entry.coreAddress = object.core;
    entry.namePointerZero = object.row->name == nullptr;
    entry.name = object.row->name == nullptr ? "" : object.row->name;
    const uint32_t nameAddress = object.row->name == nullptr ? 0 : String(b, object.row->name);
    if (object.core != 0) {
      Put(b, object.core, b->types.objectCore, "name", nameAddress);
      Put(b, object.core, b->types.objectCore, "type_id", object.row->list);
    } else {
      Put(b, object.address, object.type, "name", nameAddress);
    }
    FillPending(b, plan, object.core, object.row->id, &entry);
    switch (object.row->id) {
      case kTimerBlink:
      case kTimerOneShot:
      case kTimerWatchdog: {
        const uint32_t t = object.row->id - kTimerBlink;
        constexpr uint32_t kLeft[] = {40, 500, 7};
        constexpr uint32_t kAlarm[] = {100, 500, 7};
        constexpr uint32_t kRepeat[] = {100, 0, 0};
        const bool running = kTimerRunning[t];
        const uint32_t tick = manifest->currentTick;
        Field(b, object, &entry, b->spec.timerRemaining ? "remaining_ticks" : "expiration_tick",
              b->spec.timerRemaining ? kLeft[t] : tick + kLeft[t]);
        Field(b, object, &entry, "alarm_ticks", kAlarm[t]);
        if (b->spec.timerRepeatTicks) {
          Field(b, object, &entry, "repeat_ticks", kRepeat[t]);
        } else {
          Field(b, object, &entry, "alarm_repeat", kRepeat[t] != 0 ? 1 : 0);
        }
        Field(b, object, &entry, "expiration_function", plan.timerRoutines[t] | 1);
        Field(b, object, &entry, "expiration_input", 0x11 * (t + 1));
        entry.fields.push_back({"active", running ? 1u : 0u});
        entry.fields.push_back({"ticks_left", running ? kLeft[t] : 0u});
        entry.fields.push_back({"repeating", kRepeat[t] != 0 ? 1u : 0u});
        entry.routine = t == 0   ? "app_blink_expired"
                        : t == 1 ? "app_oneshot_expired"
                                 : "app_watchdog_expired";
        break;
      }
      case kMutexBus:
        Field(b, object, &entry, "owner", plan.tasks[kRowLockOwner].address);
        Field(b, object, &entry, "nesting_count", 2);
        Field(b, object, &entry, "priority_inherit", 1);
        Field(b, object, &entry, "inherited_priority", StoredPriority(*b, priorityOfWaiterA));
        entry.fields.push_back({"inherited_priority_shown", priorityOfWaiterA});
        break;
      case kMutexSpare:
        Field(b, object, &entry, "owner", 0);
        Field(b, object, &entry, "nesting_count", 0);
        Field(b, object, &entry, "priority_inherit", 0);
        break;
      case kSemRx:
        Field(b, object, &entry, "count", 0);
        break;
      case kSemLong:
        Field(b, object, &entry, "count", 3);
        break;
      case kQueueCmd:
      case kQueueAnon: {
        const bool cmd = object.row->id == kQueueCmd;
        const uint32_t msgWords = cmd ? 2 : 1;
        const uint32_t capacity = cmd ? 8 : 16;
        const uint32_t buffer = Allocate(b, capacity * msgWords * 4, 4);
        Field(b, object, &entry, "buf_start", buffer);
        Field(b, object, &entry, "buf_end", buffer + capacity * msgWords * 4);
        Field(b, object, &entry, "read_ptr", buffer);
        Field(b, object, &entry, "msg_size", msgWords);
        Field(b, object, &entry, "num_msgs", cmd ? 0 : 5);
        entry.fields.push_back({"capacity", capacity});
        break;
      }
      case kEflagsEvents:
        Field(b, object, &entry, "flags", 0x0101);
        Field(b, object, &entry, "requested_flags", 0x8000);
        break;
      case kBpoolBlocks:
        Field(b, object, &entry, "block_size", 32);
        Field(b, object, &entry, "available_blocks", 0);
        Field(b, object, &entry, "total_blocks", 8);
        Field(b, object, &entry, "pool_start", Allocate(b, 32 * 8, 8));
        break;
      case kMpoolHeap:
        Field(b, object, &entry, "available_bytes", 100);
        Field(b, object, &entry, "buf_size", 1024);
        Field(b, object, &entry, "fragments", 3);
        Field(b, object, &entry, "min_pending_allocation_size", 200);
        Field(b, object, &entry, "pool_start", Allocate(b, 1024, 8));
        break;
      default:
        break;
    }
    manifest->objects.push_back(std::move(entry));
  }
  for (uint32_t list = kListTimer; list < kListCount; ++list) {
    std::vector<uint32_t> cores;
    for (uint32_t i = 1; i < kObjectCount; ++i) {
      if (plan.objects[i].row->list == list && plan.objects[i].core != 0)
        cores.push_back(plan.objects[i].core);
    }
    if (!cores.empty()) LinkRing(b, cores);
    manifest->listHeads[list] = cores.empty() ? 0 : cores.front();
  }
}

// Links the running timers and the running wait timers of tasks into the
// kernel's active list (a ring through the list head in qx_kernel_timer_info);
// stopped timers keep active.next 0.
void FillTimerRing(Builder* b, const Plan& plan, uint32_t timerInfo) {
  std::vector<uint32_t> links = {timerInfo + Offset(b, b->types.timerInfo, "active_list")};
  for (uint32_t t = 0; t < 3; ++t) {
    if (kTimerRunning[t]) {
      const ObjectPlan& timer = plan.objects[kTimerBlink + t];
      links.push_back(timer.address + Offset(b, timer.type, "active"));
    }
  }
  for (const TaskPlan& task : plan.tasks) {
    if (task.row->waitTicks != 0)
      links.push_back(task.address + Offset(b, b->types.task, "wait_timer.active"));
  }
  for (size_t i = 0; i < links.size(); ++i) {
    Write(b, links[i], 4, links[(i + 1) % links.size()]);
    Write(b, links[i] + 4, 4, links[(i + links.size() - 1) % links.size()]);
  }
}

// Fills one task record, its stack frame and its manifest entry.
void FillTask(Builder* b, const Plan& plan, uint32_t index, KernelManifest* manifest) {
  const TaskPlan& task = plan.tasks[index];
  const TaskRow& row = *task.row;
  const TypeId type = b->types.task;
  const bool v3 = Version3(*b);
  const bool fpu = b->spec.fpu;
  ManifestTask entry;
  entry.address = task.address;
  entry.coreAddress = CoreOf(*b, task);
  entry.number = task.number;
  entry.name = row.name;
  entry.status = task.status;
  entry.running = index == kRowRunning;
  entry.fpOwner = fpu && index == kRowFpOwner;
  entry.onStartupStack = index == kRowMain;
  entry.staticPriority = ShownPriority(*b, row.priority);
  entry.activePriority = row.activePriority != 0 ? row.activePriority : entry.staticPriority;
  entry.preemptThreshold = row.threshold != 0 ? row.threshold : entry.staticPriority;
  entry.timeSlice = row.slice;
  entry.remainingTimeSlice = row.sliceLeft;
  entry.stackStart = task.stackStart;
  entry.stackSize = task.stackSize;
  entry.exitCode = row.exitCode;
  entry.terminated = (row.flags & kTaskTerminated) != 0;
  entry.waitTimerActive = row.waitTicks != 0;
  entry.waitTicksLeft = row.waitTicks;

  Put(b, task.address, type, "task_number", task.number);
  Put(b, entry.coreAddress, b->types.objectCore, "name", String(b, row.name));
  Put(b, entry.coreAddress, b->types.objectCore, "type_id", kListTask);
  Put(b, task.address, type, "status", task.status);
  if (v3) {
    Put(b, task.address, type, "static_sched_info.priority", entry.staticPriority);
    Put(b, task.address, type, "static_sched_info.slice", row.slice);
    Put(b, task.address, type, "active_sched_info.priority", entry.activePriority);
    Put(b, task.address, type, "active_sched_info.slice", row.slice);
  } else {
    Put(b, task.address, type, "active_priority", StoredPriority(*b, entry.activePriority));
  }
  if (!v3 || b->spec.staticPriority)
    Put(b, task.address, type, "static_priority", StoredStaticPriority(*b, entry.staticPriority));
  Put(b, task.address, type, "preempt_threshold", StoredPriority(*b, entry.preemptThreshold));
  Put(b, task.address, type, "time_slice", row.slice);
  Put(b, task.address, type, "remaining_time_slice", row.sliceLeft);
  Put(b, task.address, type, "stack_start", task.stackStart);
  Put(b, task.address, type, "stack_size", task.stackSize);
  if (v3) Put(b, task.address, type, "stack_end", task.stackStart + task.stackSize - 1);
  Put(b, task.address, type, "entry_function", task.entry | 1);
  Put(b, task.address, type, "exit_code", row.exitCode);
  if (b->spec.terminated) Put(b, task.address, type, "terminated", entry.terminated ? 1 : 0);
  if (task.pend != kNoObject) {
    entry.pendedOn = plan.objects[task.pend].core;
    Put(b, task.address, type, "pending.parent", entry.pendedOn);
  }
  if (entry.waitTimerActive) {
    const std::string ticks = std::string("wait_timer.") +
                              (b->spec.timerRemaining ? "remaining_ticks" : "expiration_tick");
    Put(b, task.address, type, ticks,
        b->spec.timerRemaining ? row.waitTicks : manifest->currentTick + row.waitTicks);
  }
  if (index == kRowLockOwner) {
    entry.ownedMutexCount = 1;
    for (const TaskPlan& other : plan.tasks) {
      if (other.pend == kMutexBus) entry.mutexWaitersMask |= TaskBit(*b, other.number);
    }
    if (!v3)
      PutMask(b, task.address + Offset(b, type, "mutex_waiters_mask"), entry.mutexWaitersMask);
  }
  Put(b, task.address, type, "owned_mutex_count", entry.ownedMutexCount);

  // The stack: the FP save area at the top (FPU kernels), some used stack,
  // then the saved context. A pad row leaves the stack 4 modulo 8 so that the
  // hardware frame needs its alignment word.
  const uint32_t top = task.stackStart + task.stackSize;
  const uint32_t below = top - (fpu ? kFpSaveAreaBytes : 0);
  // Only an exception entry (kernels that switch through qx_cpu_pendsv_enter)
  // aligns the stack with a pad word; other kernels save aligned contexts.
  const bool pad = (row.flags & kTaskPadded) != 0 && b->spec.pendSv;
  const uint32_t used = ((below - 32) & 4) == (pad ? 4u : 0u) ? 32 : 36;
  const uint32_t spBeforeSave = below - used;
  entry.registers = task.registers;
  entry.registers[kRegSp] = spBeforeSave;
  entry.padWord = pad;
  if (pad) entry.registers[kRegXpsr] |= kXpsrAlignPad;
  const FrameKind kind = !fpu                              ? FrameKind::kNoFpu
                         : (row.flags & kTaskFpFrame) != 0 ? FrameKind::kFpContext
                                                           : FrameKind::kNoFpContext;
  entry.fpFrame = kind == FrameKind::kFpContext;
  entry.excReturn = kind == FrameKind::kNoFpu       ? 0
                    : kind == FrameKind::kFpContext ? kExcReturnFp
                                                    : kExcReturnNoFp;
  // The running task's saved context is stale (the CPU holds its registers),
  // and the FPU owner's save area is stale (the FPU holds its registers): both
  // get other values so that reading the wrong place shows.
  const TaskRegisters stale = TaskRegisterValues(plan, index, 0x5A);
  const TaskRegisters& frame = entry.running ? stale : task.registers;
  uint32_t savedSp = 0;
  if (!WriteTaskFrame(&b->model->memory, kind, spBeforeSave, frame, &savedSp))
    Fault(b, "task frame outside mapped memory");
  if (fpu && !WriteFpSaveArea(&b->model->memory, top, entry.fpOwner ? stale : task.registers))
    Fault(b, "FP save area outside mapped memory");
  entry.savedSp = savedSp;
  // registers[0] on version 3 kernels: the first word of the array.
  Write(b, task.address + Offset(b, type, v3 ? "registers" : "stack_last"), 4, savedSp);

  if (entry.running) {
    // Live registers: the running task is a little deeper in its stack.
    for (uint32_t n = 0; n <= kRegXpsr; ++n)
      b->model->registers.values[n] = task.registers[n];
    entry.registers[kRegSp] = spBeforeSave - 64;
    entry.registers[kRegXpsr] = task.registers[kRegXpsr];
    b->model->registers.values[kRegSp] = entry.registers[kRegSp];
    entry.registers[kRegLr] = plan.shell + 0x21;
  }
  if (entry.fpOwner || (!fpu && entry.running)) {
    for (uint32_t n = kRegS0; n <= kRegFpscr; ++n)
      b->model->registers.values[n] = task.registers[n];
  }
  manifest->tasks.push_back(std::move(entry));
}

// The thread-local-storage offset the debugger should show for each task: 0
// for a task on the start-up stack whose `static_priority` holds the idle
// priority, else the end of its stack minus __hrx_tls_rw_start. A kernel
// without `static_priority` does not tell its idle task apart.
void FillTlsOffsets(const Builder& b, KernelManifest* manifest) {
  if (manifest->tlsRwStart == 0) return;
  for (ManifestTask& task : manifest->tasks) {
    const bool idle =
        manifest->hasStaticPriority && StoredStaticPriority(b, task.staticPriority) == 0;
    const bool startup = task.stackStart >= manifest->stackBegin &&
                         task.stackStart + task.stackSize <= manifest->stackEnd;
    task.tlsOffset =
        startup && idle ? 0
                        : int64_t{task.stackStart} + task.stackSize - int64_t{manifest->tlsRwStart};
  }
}

bool Build(const VariantSpec& spec, TargetModel* model, std::string* error) {
  ModelInit(model, spec.bigEndian);
  Builder builder{model, spec, {}, kRamBase, kCodeBase, {}};
  Builder* b = &builder;
  if (!MemoryMap(&model->memory, kCodeBase, kCodeSize) ||
      !MemoryMap(&model->memory, kRamBase, kRamSize)) {
    Fault(b, "cannot map model memory");
  }
  b->types = AddKernelTypes(&model->types, spec);
  const KernelTypes& k = b->types;
  KernelManifest& manifest = model->manifest;
  manifest.variant = std::string(spec.name);
  manifest.version = spec.version;
  manifest.maxPriorities = spec.maxPriorities;
  manifest.maxTasks = spec.maxTasks;
  manifest.maxTasksValue = spec.version == 3 ? spec.maxTasksValue : 0;
  manifest.pendIsList = PendIsList(*b);
  manifest.pendInUnion = PendInUnion(*b);
  manifest.hasPoolCore = spec.poolCore;
  manifest.hasPendSv = spec.pendSv;
  manifest.hasFpu = spec.fpu;
  manifest.hasTerminated = spec.terminated;
  manifest.hasStaticPriority = spec.version == 1 || spec.staticPriority;
  manifest.timerRemainingTicks = spec.timerRemaining;
  manifest.timerRepeatTicks = spec.timerRepeatTicks;
  manifest.bigEndian = spec.bigEndian;
  // Kernels that keep expiration ticks run with the tick about to wrap, so
  // that remaining ticks need wrapping arithmetic.
  manifest.currentTick = spec.timerRemaining ? 1000 : 0xFFFFFFF0;
  manifest.coreOffset = Offset(b, k.task, "core");
  manifest.regStackSize = RegStackSize(spec.fpu);
  manifest.registerMap = RegisterMapTable(spec.fpu);

  // Kernel variables.
  const uint32_t version = Variable(b, "qx_kernel_osa_version", k.uint);
  const uint32_t maxPriorities = Variable(b, "qx_kernel_max_priorities", k.uint);
  const uint32_t maxTasks = spec.version == 3 ? Variable(b, "qx_kernel_max_tasks", k.uint) : 0;
  const uint32_t regStackSize = Variable(b, "qx_kernel_reg_stack_size", k.uint);
  const uint32_t registerMap = Variable(b, "qx_kernel_register_stack_offsets",
                                        AddArrayType(&model->types, k.byte, kRegisterCount));
  const uint32_t objectList = Variable(b, "qx_kernel_object_list",
                                       AddArrayType(&model->types, k.objectPointer, kListCount));
  const uint32_t interruptLevel = Variable(b, "qx_kernel_interrupt_level", k.uint);
  const uint32_t runningTask = Variable(b, "qx_kernel_running_task", k.taskPointer);
  const uint32_t timerInfo = Variable(b, "qx_kernel_timer_info", k.timerInfo);
  const uint32_t schedInfo = Variable(b, "qx_kernel_sched_info", k.schedInfo);
  uint32_t fpTask = 0;
  if (spec.fpu) {
    fpTask = Variable(b, "qx_cpu_fp_task", k.taskPointer);
    Write(b, Variable(b, "qx_cpu_reg_offset_exc_return", k.uint), 4, kExcReturnWordIndex);
    Write(b, Variable(b, "qx_cpu_reg_offset_novfp_skip", k.byte), 1, kNoFpSkip);
    Write(b, Variable(b, "qx_cpu_reg_offset_novfp_count", k.byte), 1, kNoFpCount);
  }
  if (spec.tls) {
    manifest.tlsRwStart = Allocate(b, 64, 8);
    Linker(b, "__hrx_tls_rw_start", manifest.tlsRwStart);
    Linker(b, "__hrxbegin_stack", kStartupStackBegin);
    Linker(b, "__hrxend_stack", kStartupStackEnd);
    manifest.stackBegin = kStartupStackBegin;
    manifest.stackEnd = kStartupStackEnd;
  }

  Plan plan;
  PlanLayout(b, &plan);
  Write(b, version, 4, spec.version);
  Write(b, maxPriorities, 4, spec.maxPriorities);
  if (maxTasks != 0) Write(b, maxTasks, 4, spec.maxTasksValue);
  Write(b, regStackSize, 4, manifest.regStackSize);
  for (uint32_t r = 0; r < kRegisterCount; ++r)
    Write(b, registerMap + r, 1, manifest.registerMap[r]);
  Write(b, interruptLevel, 4, 0);
  manifest.runningTask = plan.tasks[kRowRunning].address;
  Write(b, runningTask, 4, manifest.runningTask);
  Put(b, timerInfo, k.timerInfo, "current_tick", manifest.currentTick);
  if (spec.fpu) {
    manifest.fpTask = plan.tasks[kRowFpOwner].address;
    Write(b, fpTask, 4, manifest.fpTask);
  }

  FillObjects(b, plan, &manifest);
  for (uint32_t i = 0; i < kTaskCount; ++i)
    FillTask(b, plan, i, &manifest);
  FillTimerRing(b, plan, timerInfo);
  std::vector<uint32_t> taskCores;
  uint64_t ready = 0;
  const uint32_t taskArray = schedInfo + Offset(b, k.schedInfo, "static_task_array");
  for (const ManifestTask& task : manifest.tasks) {
    taskCores.push_back(task.coreAddress);
    Write(b, taskArray + 4 * task.number, 4, task.address);
    if (task.status == 0) ready |= TaskBit(*b, task.number);
  }
  PutMask(b, schedInfo + Offset(b, k.schedInfo, "ready"), ready);
  LinkRing(b, taskCores);
  manifest.listHeads[kListTask] = taskCores.front();
  for (uint32_t list = 0; list < kListCount; ++list)
    Write(b, objectList + 4 * list, 4, manifest.listHeads[list]);
  FillTlsOffsets(*b, &manifest);

  // The target is stopped in the running task's code, called from the task shell.
  b->model->registers.values[kRegLr] = plan.shell + 0x21;
  if (!b->error.empty()) {
    if (error != nullptr)
      *error = "cannot build variant " + std::string(spec.name) + ": " + b->error;
    return false;
  }
  return true;
}

}  // namespace

bool BuildKernelModel(std::string_view variant, TargetModel* model, std::string* error) {
  const VariantSpec* spec = FindVariant(variant);
  if (spec == nullptr) {
    if (error != nullptr) *error = "unknown kernel variant \"" + std::string(variant) + "\"";
    return false;
  }
  return Build(*spec, model, error);
}

std::vector<std::string_view> KernelVariantNames() {
  std::vector<std::string_view> names;
  for (const VariantSpec& spec : Variants())
    names.push_back(spec.name);
  return names;
}

}  // namespace model
