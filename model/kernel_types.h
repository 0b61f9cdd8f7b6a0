// The kernel's C types as its debug information describes them, for one
// build variant: object core, tasks, timers, mutexes, semaphores, queues,
// event flags, pools and the kernel's bookkeeping records.
#pragma once

#include "model/type_layout.h"
#include "model/variants.h"

namespace model {

struct KernelTypes {
  TypeId byte = 0;        // QX_BYTE
  TypeId uint = 0;        // unsigned int
  TypeId stackWord = 0;   // unsigned long long: stacks are arrays of it, for 8-byte alignment
  TypeId waitList = 0;    // struct QX_WAIT_LIST_STRUCT: the task mask, 4 or 8 bytes
  TypeId objectCore = 0;  // struct QX_OBJECT_STRUCT
  TypeId objectPointer = 0;
  TypeId task = 0;  // QX_TASK
  TypeId taskPointer = 0;
  TypeId timer = 0;      // QX_TIMER
  TypeId mutex = 0;      // QX_MUTEX
  TypeId sem = 0;        // QX_SEM
  TypeId queue = 0;      // QX_QUEUE
  TypeId eflags = 0;     // QX_EFLAGS
  TypeId bpool = 0;      // QX_BPOOL
  TypeId mpool = 0;      // QX_MPOOL
  TypeId schedInfo = 0;  // struct QX_SCHED_INFO_STRUCT (qx_kernel_sched_info)
  TypeId timerInfo = 0;  // struct QX_TIMER_INFO_STRUCT (qx_kernel_timer_info)
};

// Adds the kernel's types of that variant to a table set up by TypeTableInit.
KernelTypes AddKernelTypes(TypeTable* table, const VariantSpec& spec);

}  // namespace model
