// The build variants of the kernel that the model can lay out, one row each.
//
// Names are "v<version>-<mask|list>-<core|union>-<32|64>" for version 1 and
// "v3-<32|64>" for version 3, with a suffix for a variant of a variant:
//   -nopoolcore  QX_BPOOL and QX_MPOOL have no `core`; their list heads are 0
//   -nofpu       no floating point: a 16-word frame without EXC_RETURN word,
//                no qx_cpu_fp_task and no qx_cpu_reg_offset_* symbols
//   -be          a big-endian target
//   -maskbytes   version 3 with qx_kernel_max_tasks holding the mask's byte
//                size (4) instead of the task count
// Version 3 kernels keep the pending mask as core.u.pending.task_mask, the
// priorities as static_sched_info.priority and active_sched_info.priority,
// the saved stack pointer in registers[0], and stack_end (the last byte of
// the stack) beside stack_start and stack_size. qx_kernel_max_tasks holds the
// task count (32 or 64) except in -maskbytes. Only v3-64 also has the
// version-1 member `static_priority`, stored inverted as version 1 stores it,
// and it has thread-local storage, so that the start-up task is told by it.
// The other columns (timer fields, `terminated`, qx_cpu_pendsv_enter,
// thread-local storage, boot section symbols, priority count) are spread over
// the rows so that each kind of kernel appears with and without them.
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
