// The kernel-awareness code's record for one target (KernelContext): the
// kernel's interface version, its build parameters and layout variant found
// at TargetInit, the register map, the object-list cursors, the latest run
// state and the thread-local-storage data. The service record owns it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <unordered_set>
#include <vector>

#include "kernel/target_cache.h"
#include "osa/plugin_api.h"

// The debugger's object type numbers; 9, 10 and 11 are a second presentation
// of tasks, timers and mutexes (the kernel's layout variant picks one).
enum class ObjectTypeId : std::int32_t {
  kTask = 1,
  kTimer = 2,
  kMutex = 3,
  kSemaphore = 4,
  kQueue = 5,
  kEventFlags = 6,
  kBlockPool = 7,
  kMemoryPool = 8,
  kTaskList = 9,
  kTimerList = 10,
  kMutexList = 11,
};
// Per-type arrays are indexed by the type number directly; index 0 is unused.
inline constexpr std::size_t kObjectTypeSlots = 12;

// Task id -> thread-local-storage offset, filled by TaskLsoGet, emptied by a
// target notice 0.
using TlsOffsetCache = std::map<std::uint64_t, std::int64_t>;

struct KernelContext {
  std::uint32_t version = 0;        // kernel OSA interface version: 1 or 3
  std::uint32_t coreOffset = 0;     // offset of `core` (struct QX_OBJECT_STRUCT) in QX_TASK
  std::uint32_t maxPriorities = 0;  // qx_kernel_max_priorities
  std::uint32_t maskWords = 0;      // 32-bit words in a task bit mask: 1 or 2
  // Run state, as fresh as the latest TargetInit or TargetNotify.
  std::uint32_t runningTask = 0;     // QX_TASK address of the running task
  std::uint32_t fpTask = 0;          // task owning the FPU registers, 0 for none
  std::uint32_t interruptLevel = 0;  // low 8 bits of the interrupt nesting level
  std::uint32_t currentTick = 0;
  std::uint32_t regStackSize = 0;  // bytes of register context saved on a task stack
  // One code per debugger register number (see task_registers.h).
  std::vector<std::uint32_t> registerMap;
  // Layout variant (PendMode and optional members).
  bool pendIsList = false;   // waiters kept as pending.head/count, not a bit mask
  bool pendInUnion = false;  // pending record inside the core's union `u`
  bool hasMemoryPoolCore = false;
  bool hasBlockPoolCore = false;
  bool hasPendSv = false;  // qx_cpu_pendsv_enter exists
  // Object-list walks per type: core address where the walk began and of
  // the current object (0: no walk open), and the steps taken so far.
  std::array<std::uint32_t, kObjectTypeSlots> listHead{};
  std::array<std::uint32_t, kObjectTypeSlots> listCursor{};
  std::array<std::uint32_t, kObjectTypeSlots> listSteps{};
  // Cores each open walk has shown, so a ring that loops back into itself
  // without reaching its head ends when an object comes round again.
  std::array<std::unordered_set<std::uint32_t>, kObjectTypeSlots> listSeen{};
  // Thread-local storage; all 0 when the program has none.
  std::uint64_t tlsRwStart = 0;
  std::uint64_t stackBegin = 0;
  std::uint64_t stackEnd = 0;
  std::optional<TlsOffsetCache> tlsOffsetCache;
  // The opt-in cache of layout answers and target memory. It changes no
  // answer, only how often the debugger is asked, so reads through a const
  // record may fill it.
  mutable TargetCache cache;
};

// The KernelContext a callback received as its private data, or null.
inline KernelContext* KernelContextOf(void* privateData) {
  return static_cast<KernelContext*>(privateData);
}

// Wraps a new record as the service record's private data (shared with the
// requests being served; the last holder destroys it with all it owns).
OsaPrivateData KernelContextAdopt(std::unique_ptr<KernelContext> kernel);
