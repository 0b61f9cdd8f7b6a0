// The build variants of the kernel that the model can lay out, one row each.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace model {

// Where the object core keeps the tasks pending on the object: a bit mask or
// a list head with a count, directly in the core or in its union `u`.
enum class PendLayout : uint8_t { kMaskCore, kListCore, kMaskUnion, kListUnion };

struct VariantSpec {
  std::string_view name;
  uint32_t version;        // qx_kernel_osa_version: 1 or 3
  PendLayout pend;         // version 3 kernels always keep a mask in the union (task_mask)
  uint32_t maxTasks;       // 32 or 64: bits of a task mask
  uint32_t maxPriorities;  // qx_kernel_max_priorities
  uint32_t maxTasksValue;  // version 3: what qx_kernel_max_tasks holds (task count, or mask bytes)
  bool poolCore;           // QX_BPOOL and QX_MPOOL have `core` (and are in the object list)
  bool timerRemaining;     // timers count `remaining_ticks`, else hold `expiration_tick`
  bool timerRepeatTicks;   // timers have `repeat_ticks`, else `alarm_repeat`
  bool terminated;         // QX_TASK has `terminated`
  bool fpu;                // floating-point frames, FP save area, qx_cpu_fp_task, EXC_RETURN word
  bool pendSv;             // qx_cpu_pendsv_enter exists
  bool tls;                // thread-local storage symbols exist
  bool bigEndian;
  bool staticPriority;        // version 3: QX_TASK also has `static_priority`
  bool tripleUnderscoreBoot;  // boot section bounds are ___hrxbegin_/___hrxend_boottext
};

// Every variant, in a fixed order; names are unique.
std::span<const VariantSpec> Variants();

// The variant of that name, or null.
const VariantSpec* FindVariant(std::string_view name);

}  // namespace model
