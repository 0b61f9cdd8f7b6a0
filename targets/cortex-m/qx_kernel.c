/* The kernel: debugger-visible build parameters and register map, object
 * rings, the priority scheduler, blocking and waking, ticks and timers, and
 * the C half of the context switch. Switches happen only when a kernel call
 * blocks or wakes a more urgent task; there is no tick interrupt. */
#include <stddef.h>

#include "qx_kernel.h"

#define QX_ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))

/* Word indices of the saved context (see qx_cpu.S): the full frame with
 * floating-point context. */
enum {
  QX_FRAME_EXC_RETURN = 0,
  QX_FRAME_S16 = 1,
  QX_FRAME_R4 = 17,
  QX_FRAME_R0 = 25,
  QX_FRAME_R12 = 29,
  QX_FRAME_LR = 30,
  QX_FRAME_PC = 31,
  QX_FRAME_XPSR = 32,
  QX_FRAME_S0 = 33,
  QX_FRAME_FPSCR = 49,
  QX_FRAME_RESERVED = 50,
  QX_FRAME_WORDS_FP = 51,
  QX_FRAME_WORDS_NOFP = 17,
};

/* Map codes: an integer register's word index, 0xFE for the stack pointer
 * before the save, 0x80 + words down from the stack top for FP registers. */
#define QX_MAP_SP 0xFEu
#define QX_MAP_FP(words_from_top) (0x80u | (words_from_top))
/* s<n> lies 33 - n words below the stack top (FPSCR in the top word). */
#define QX_MAP_S(n) QX_MAP_FP(33u - (n))

const QX_UINT qx_kernel_osa_version = 1;
const QX_UINT qx_kernel_max_priorities = QX_MAX_PRIORITIES;
const QX_UINT qx_kernel_max_tasks = QX_MAX_TASKS;
const QX_UINT qx_kernel_reg_stack_size =
    (QX_HAS_FPU ? QX_FRAME_WORDS_FP : QX_FRAME_WORDS_NOFP) * 4u;

/* One code per debugger register number: r0-r15 = 0-15, xPSR = 16 and, with
 * an FPU, s0-s31 = 17-48 and FPSCR = 49. FP registers of a task that does not
 * own the FPU lie in the save area at the top of its stack: s0 lowest, FPSCR
 * in the top word. */
const QX_BYTE qx_kernel_register_stack_offsets[QX_HAS_FPU ? 50 : 17] = {
    QX_FRAME_R0,     QX_FRAME_R0 + 1, QX_FRAME_R0 + 2, QX_FRAME_R0 + 3, /* r0-r3 */
    QX_FRAME_R4,     QX_FRAME_R4 + 1, QX_FRAME_R4 + 2, QX_FRAME_R4 + 3, /* r4-r7 */
    QX_FRAME_R4 + 4, QX_FRAME_R4 + 5, QX_FRAME_R4 + 6, QX_FRAME_R4 + 7, /* r8-r11 */
    QX_FRAME_R12,    QX_MAP_SP,       QX_FRAME_LR,     QX_FRAME_PC,     /* r12-r15 */
    QX_FRAME_XPSR,                                                      /* xPSR */
#if QX_HAS_FPU
    QX_MAP_S(0),     QX_MAP_S(1),     QX_MAP_S(2),     QX_MAP_S(3),  /* s0-s3 */
    QX_MAP_S(4),     QX_MAP_S(5),     QX_MAP_S(6),     QX_MAP_S(7),  /* s4-s7 */
    QX_MAP_S(8),     QX_MAP_S(9),     QX_MAP_S(10),    QX_MAP_S(11), /* s8-s11 */
    QX_MAP_S(12),    QX_MAP_S(13),    QX_MAP_S(14),    QX_MAP_S(15), /* s12-s15 */
    QX_MAP_S(16),    QX_MAP_S(17),    QX_MAP_S(18),    QX_MAP_S(19), /* s16-s19 */
    QX_MAP_S(20),    QX_MAP_S(21),    QX_MAP_S(22),    QX_MAP_S(23), /* s20-s23 */
    QX_MAP_S(24),    QX_MAP_S(25),    QX_MAP_S(26),    QX_MAP_S(27), /* s24-s27 */
    QX_MAP_S(28),    QX_MAP_S(29),    QX_MAP_S(30),    QX_MAP_S(31), /* s28-s31 */
    QX_MAP_FP(1),                                                    /* FPSCR */
#endif
};

/* Frame description: EXC_RETURN is word 0; a frame without FP context (bit 4
 * set) lacks words 1-16, so its codes shift down by 16 and end at 17 words. */
const QX_UINT qx_cpu_reg_offset_exc_return = QX_FRAME_EXC_RETURN;
const QX_BYTE qx_cpu_reg_offset_novfp_skip = QX_FRAME_R4 - 1;
const QX_BYTE qx_cpu_reg_offset_novfp_count = QX_FRAME_WORDS_NOFP;

struct QX_OBJECT_STRUCT* qx_kernel_object_list[QX_TYPE_COUNT];
volatile QX_UINT qx_kernel_interrupt_level;
QX_TASK* volatile qx_kernel_running_task;
QX_TASK* volatile qx_kernel_next_task;
struct QX_TIMER_INFO_STRUCT qx_kernel_timer_info;
struct QX_SCHED_INFO_STRUCT qx_kernel_sched_info;
QX_TASK* volatile qx_cpu_fp_task;
QX_UINT qx_cpu_switch_sp[QX_MAX_TASKS];
volatile QX_UINT qx_cpu_resume_count;
volatile QX_UINT qx_cpu_resume_errors;

/* Sizes of every kernel type, so that each typedef reaches the debug
 * information whether or not the model uses it. */
const volatile QX_UINT qx_kernel_type_sizes[] = {
    sizeof(QX_BYTE),
    sizeof(QX_UINT),
    sizeof(struct QX_WAIT_LIST_STRUCT),
    sizeof(struct QX_OBJECT_STRUCT),
    sizeof(QX_TASK),
    sizeof(QX_TIMER),
    sizeof(QX_MUTEX),
    sizeof(QX_SEM),
    sizeof(QX_QUEUE),
    sizeof(QX_EFLAGS),
    sizeof(QX_BPOOL),
    sizeof(QX_MPOOL),
    sizeof(struct QX_SCHED_INFO_STRUCT),
    sizeof(struct QX_TIMER_INFO_STRUCT),
};

_Static_assert(offsetof(QX_TASK, stack_last) == 0, "the switch code stores stack_last at 0");
_Static_assert(offsetof(QX_TASK, core) != 0, "the core lies inside the task");
_Static_assert(sizeof(struct QX_WAIT_LIST_STRUCT) == 4, "32-task masks");

/* The context the first switch saves; never resumed, never listed. */
static QX_TASK qx_kernel_boot_task;
static unsigned long long qx_kernel_boot_stack[32];

static QX_UINT task_bit(const QX_TASK* task) {
  return 0x80000000u >> task->task_number;
}

static QX_TASK* task_of_wait_link(struct QX_TIMER_LINK_STRUCT* link) {
  return (QX_TASK*)((char*)link - offsetof(QX_TASK, wait_timer.active));
}

static QX_TIMER* timer_of_link(struct QX_TIMER_LINK_STRUCT* link) {
  return (QX_TIMER*)((char*)link - offsetof(QX_TIMER, active));
}

static void object_register(struct QX_OBJECT_STRUCT* core, const char* name, QX_UINT type) {
  core->name = name;
  core->type_id = type;
  core->u.raw[0] = 0;
  core->u.raw[1] = 0;
  struct QX_OBJECT_STRUCT* head = qx_kernel_object_list[type];
  if (head == 0) {
    core->created.next = core;
    core->created.prev = core;
    qx_kernel_object_list[type] = core;
    return;
  }
  /* Appended at the tail, so a walk from the head meets objects in creation order. */
  core->created.next = head;
  core->created.prev = head->created.prev;
  head->created.prev->created.next = core;
  head->created.prev = core;
}

static void link_insert(struct QX_TIMER_LINK_STRUCT* list, struct QX_TIMER_LINK_STRUCT* link) {
  link->next = list;
  link->prev = list->prev;
  list->prev->next = link;
  list->prev = link;
}

static void link_remove(struct QX_TIMER_LINK_STRUCT* link) {
  link->prev->next = link->next;
  link->next->prev = link->prev;
  link->next = 0;
  link->prev = 0;
}

static void set_status(QX_TASK* task, QX_UINT status) {
  task->status = status;
  if (status == QX_READY) {
    qx_kernel_sched_info.ready.words[0] |= task_bit(task);
  } else {
    qx_kernel_sched_info.ready.words[0] &= ~task_bit(task);
  }
}

static QX_TASK* most_urgent_ready(void) {
  QX_TASK* best = 0;
  for (QX_UINT n = 0; n < QX_MAX_TASKS; ++n) {
    QX_TASK* task = qx_kernel_sched_info.static_task_array[n];
    if (task != 0 && task->status == QX_READY &&
        (best == 0 || task->active_priority > best->active_priority)) {
      best = task;
    }
  }
  return best;
}

/* Switches to the most urgent ready task, if that is not the running one. */
static void schedule(void) {
  QX_TASK* self = qx_kernel_running_task;
  QX_TASK* next = most_urgent_ready();
  if (next == 0 || next == self) return;
  qx_kernel_next_task = next;
  qx_cpu_switch(self->task_number, self->switch_flags);
}

/* Makes the running task wait: status, the object's mask, the wait timer. */
static void block(QX_UINT status, struct QX_OBJECT_STRUCT* parent, QX_UINT request,
                  QX_UINT timeout) {
  QX_TASK* self = qx_kernel_running_task;
  set_status(self, status);
  self->pending.parent = parent;
  self->pending.request = request;
  if (parent != 0) parent->u.pending.mask.words[0] |= task_bit(self);
  if (timeout != 0) {
    self->wait_timer.expiration_tick = qx_kernel_timer_info.current_tick + timeout;
    link_insert(&qx_kernel_timer_info.wait_list, &self->wait_timer.active);
  }
  schedule();
}

/* Ends a wait; the caller decides whether to reschedule. */
static void wake(QX_TASK* task) {
  if (task->pending.parent != 0) task->pending.parent->u.pending.mask.words[0] &= ~task_bit(task);
  task->pending.parent = 0;
  if (task->wait_timer.active.next != 0) link_remove(&task->wait_timer.active);
  set_status(task, QX_READY);
}

static void preempt_if_more_urgent(const QX_TASK* task) {
  if (task->active_priority > qx_kernel_running_task->active_priority) schedule();
}

void qx_kernel_init(void) {
  for (QX_UINT i = 0; i < QX_TYPE_COUNT; ++i)
    qx_kernel_object_list[i] = 0;
  qx_kernel_timer_info.current_tick = 0;
  qx_kernel_timer_info.active_list.next = &qx_kernel_timer_info.active_list;
  qx_kernel_timer_info.active_list.prev = &qx_kernel_timer_info.active_list;
  qx_kernel_timer_info.wait_list.next = &qx_kernel_timer_info.wait_list;
  qx_kernel_timer_info.wait_list.prev = &qx_kernel_timer_info.wait_list;
  qx_kernel_boot_task.task_number = QX_MAX_TASKS - 1;
  qx_kernel_running_task = &qx_kernel_boot_task;
  qx_cpu_fp_task = 0;
}

static void task_return(void) {
  /* A task whose entry returns exits with code 0. */
  qx_task_exit(0);
}

void qx_task_create(QX_TASK* task, const char* name, QX_UINT number, QX_UINT priority,
                    QX_UINT threshold, QX_UINT time_slice, void* stack, QX_UINT stack_size,
                    void (*entry)(QX_UINT), QX_UINT input) {
  object_register(&task->core, name, QX_TYPE_TASK);
  task->task_number = number;
  task->static_priority = (QX_BYTE)(QX_MAX_PRIORITIES - 1 - priority);
  task->active_priority = task->static_priority;
  task->preempt_threshold = (QX_BYTE)(QX_MAX_PRIORITIES - 1 - threshold);
  task->switch_flags = 0;
  task->time_slice = time_slice;
  task->remaining_time_slice = time_slice;
  task->stack_start = stack;
  task->stack_size = stack_size;
  task->pending.parent = 0;
  task->pending.request = 0;
  task->owned_mutex_count = 0;
  task->mutex_waiters_mask.words[0] = 0;
  task->wait_timer.active.next = 0;
  task->wait_timer.active.prev = 0;
  task->wait_timer.expiration_tick = 0;
  task->entry_function = entry;
  task->entry_input = input;
  task->exit_code = 0;
  task->terminated = 0;

  QX_UINT* top = (QX_UINT*)((char*)stack + stack_size);
#if QX_HAS_FPU
  for (QX_UINT i = 0; i < QX_FP_SAVE_AREA_BYTES / 4u; ++i)
    top[-1 - (int)i] = 0;
  top -= QX_FP_SAVE_AREA_BYTES / 4u;
#endif
  top = (QX_UINT*)((unsigned long)top & ~7ul);
  /* A first frame without FP context, as if the task had been switched out
   * just before its entry. */
  QX_UINT* frame = top - QX_FRAME_WORDS_NOFP;
  for (QX_UINT i = 0; i < QX_FRAME_WORDS_NOFP; ++i)
    frame[i] = 0;
  frame[0] = 0xFFFFFFFDu; /* thread mode, process stack, no FP context */
  frame[QX_FRAME_R0 - 16] = input;
  frame[QX_FRAME_LR - 16] = (QX_UINT)(unsigned long)task_return;
  frame[QX_FRAME_PC - 16] = (QX_UINT)(unsigned long)entry & ~1u;
  frame[QX_FRAME_XPSR - 16] = 0x01000000u;
  task->stack_last = frame;

  qx_kernel_sched_info.static_task_array[number] = task;
  set_status(task, QX_READY);
}

void qx_kernel_start(void) {
  qx_kernel_next_task = most_urgent_ready();
  qx_cpu_start(&qx_kernel_boot_stack[QX_ARRAY_SIZE(qx_kernel_boot_stack)]);
}

QX_TASK* qx_task_self(void) {
  return qx_kernel_running_task;
}

void qx_task_sleep(QX_UINT ticks) {
  block(QX_SLEEP, 0, 0, ticks);
}

void qx_task_suspend(void) {
  block(QX_HALTED, 0, 0, 0);
}

void qx_task_resume(QX_TASK* task) {
  if (task->status != QX_HALTED) return;
  wake(task);
  preempt_if_more_urgent(task);
}

void qx_task_exit(QX_UINT code) {
  QX_TASK* self = qx_kernel_running_task;
  self->exit_code = code;
  block(QX_EXITED, 0, 0, 0);
  for (;;) {
  }
}

void qx_kernel_tick(void) {
  struct QX_TIMER_INFO_STRUCT* info = &qx_kernel_timer_info;
  ++info->current_tick;
  struct QX_TIMER_LINK_STRUCT* link = info->active_list.next;
  while (link != &info->active_list) {
    struct QX_TIMER_LINK_STRUCT* following = link->next;
    QX_TIMER* timer = timer_of_link(link);
    if (timer->expiration_tick == info->current_tick) {
      link_remove(link);
      if (timer->repeat_ticks != 0) {
        timer->expiration_tick += timer->repeat_ticks;
        link_insert(&info->active_list, link);
      }
      timer->expiration_function(timer->expiration_input);
    }
    link = following;
  }
  link = info->wait_list.next;
  while (link != &info->wait_list) {
    struct QX_TIMER_LINK_STRUCT* following = link->next;
    QX_TASK* task = task_of_wait_link(link);
    if (task->wait_timer.expiration_tick == info->current_tick) wake(task);
    link = following;
  }
}

void qx_timer_create(QX_TIMER* timer, const char* name, void (*function)(QX_UINT), QX_UINT input,
                     QX_UINT ticks, QX_UINT repeat_ticks, int start) {
  object_register(&timer->core, name, QX_TYPE_TIMER);
  timer->active.next = 0;
  timer->active.prev = 0;
  timer->alarm_ticks = ticks;
  timer->repeat_ticks = repeat_ticks;
  timer->expiration_function = function;
  timer->expiration_input = input;
  timer->expiration_tick = 0;
  if (start) {
    timer->expiration_tick = qx_kernel_timer_info.current_tick + ticks;
    link_insert(&qx_kernel_timer_info.active_list, &timer->active);
  }
}

void qx_mutex_create(QX_MUTEX* mutex, const char* name, int inherit) {
  object_register(&mutex->core, name, QX_TYPE_MUTEX);
  mutex->owner = 0;
  mutex->nesting_count = 0;
  mutex->priority_inherit = (QX_BYTE)(inherit != 0);
  mutex->inherited_priority = 0;
  mutex->owner_priority = 0;
}

void qx_mutex_get(QX_MUTEX* mutex) {
  QX_TASK* self = qx_kernel_running_task;
  if (mutex->owner == 0) {
    mutex->owner = self;
    mutex->nesting_count = 1;
    ++self->owned_mutex_count;
    return;
  }
  if (mutex->owner == self) {
    ++mutex->nesting_count;
    return;
  }
  QX_TASK* owner = mutex->owner;
  owner->mutex_waiters_mask.words[0] |= task_bit(self);
  if (mutex->priority_inherit && self->active_priority > owner->active_priority) {
    mutex->owner_priority = owner->active_priority;
    owner->active_priority = self->active_priority;
    mutex->inherited_priority = self->active_priority;
  }
  block(QX_PEND_MUTEX, &mutex->core, 0, 0);
}

void qx_sem_create(QX_SEM* sem, const char* name, QX_UINT count) {
  object_register(&sem->core, name, QX_TYPE_SEM);
  sem->count = count;
}

void qx_sem_get(QX_SEM* sem) {
  if (sem->count != 0) {
    --sem->count;
    return;
  }
  block(QX_PEND_SEM, &sem->core, 1, 0);
}

void qx_queue_create(QX_QUEUE* queue, const char* name, QX_UINT msg_words, QX_UINT* buffer,
                     QX_UINT buffer_bytes) {
  object_register(&queue->core, name, QX_TYPE_QUEUE);
  queue->buf_start = buffer;
  queue->buf_end = buffer + buffer_bytes / 4u;
  queue->read_ptr = buffer;
  queue->write_ptr = buffer;
  queue->msg_size = msg_words;
  queue->num_msgs = 0;
}

void qx_queue_send(QX_QUEUE* queue, const QX_UINT* msg) {
  QX_UINT capacity = (QX_UINT)(queue->buf_end - queue->buf_start) / queue->msg_size;
  if (queue->num_msgs == capacity) return;
  for (QX_UINT i = 0; i < queue->msg_size; ++i)
    queue->write_ptr[i] = msg[i];
  queue->write_ptr += queue->msg_size;
  if (queue->write_ptr == queue->buf_end) queue->write_ptr = queue->buf_start;
  ++queue->num_msgs;
}

void qx_queue_receive(QX_QUEUE* queue, QX_UINT* msg, QX_UINT timeout) {
  if (queue->num_msgs == 0) {
    block(QX_PEND_QUEUE, &queue->core, (QX_UINT)(unsigned long)msg, timeout);
    return;
  }
  for (QX_UINT i = 0; i < queue->msg_size; ++i)
    msg[i] = queue->read_ptr[i];
  queue->read_ptr += queue->msg_size;
  if (queue->read_ptr == queue->buf_end) queue->read_ptr = queue->buf_start;
  --queue->num_msgs;
}

void qx_eflags_create(QX_EFLAGS* group, const char* name) {
  object_register(&group->core, name, QX_TYPE_EFLAGS);
  group->flags = 0;
  group->requested_flags = 0;
}

void qx_eflags_set(QX_EFLAGS* group, QX_UINT flags) {
  group->flags |= flags;
  QX_TASK* woken = 0;
  for (QX_UINT n = 0; n < QX_MAX_TASKS; ++n) {
    QX_TASK* task = qx_kernel_sched_info.static_task_array[n];
    if (task == 0 || task->pending.parent != &group->core) continue;
    if ((group->flags & task->pending.request) != task->pending.request) continue;
    group->flags &= ~task->pending.request;
    wake(task);
    if (woken == 0 || task->active_priority > woken->active_priority) woken = task;
  }
  if (woken != 0) preempt_if_more_urgent(woken);
}

void qx_eflags_get_all(QX_EFLAGS* group, QX_UINT flags) {
  if ((group->flags & flags) == flags) {
    group->flags &= ~flags;
    return;
  }
  group->requested_flags |= flags;
  block(QX_PEND_EFLAGS, &group->core, flags, 0);
}

void qx_bpool_create(QX_BPOOL* pool, const char* name, void* area, QX_UINT block_size,
                     QX_UINT blocks) {
  object_register(&pool->core, name, QX_TYPE_BPOOL);
  pool->block_size = block_size;
  pool->available_blocks = blocks;
  pool->total_blocks = blocks;
  pool->pool_start = area;
  /* Free blocks are chained through their first word. */
  pool->free_list = 0;
  for (QX_UINT i = blocks; i-- > 0;) {
    void** block_start = (void**)((QX_BYTE*)area + i * block_size);
    *block_start = pool->free_list;
    pool->free_list = block_start;
  }
}

void* qx_bpool_allocate(QX_BPOOL* pool) {
  if (pool->available_blocks == 0) {
    block(QX_PEND_BPOOL, &pool->core, pool->block_size, 0);
    return 0;
  }
  void** block_start = pool->free_list;
  pool->free_list = *block_start;
  --pool->available_blocks;
  return block_start;
}

void qx_mpool_create(QX_MPOOL* pool, const char* name, void* area, QX_UINT bytes) {
  object_register(&pool->core, name, QX_TYPE_MPOOL);
  pool->available_bytes = bytes;
  pool->buf_size = bytes;
  pool->fragments = 1;
  pool->min_pending_allocation_size = 0;
  pool->pool_start = area;
  pool->next_free = area;
}

void* qx_mpool_allocate(QX_MPOOL* pool, QX_UINT bytes) {
  bytes = (bytes + 7u) & ~7u;
  if (bytes > pool->available_bytes) {
    if (pool->min_pending_allocation_size == 0 || bytes < pool->min_pending_allocation_size) {
      pool->min_pending_allocation_size = bytes;
    }
    block(QX_PEND_MPOOL, &pool->core, bytes, 0);
    return 0;
  }
  void* memory = pool->next_free;
  pool->next_free += bytes;
  pool->available_bytes -= bytes;
  if (pool->available_bytes == 0) pool->fragments = 0;
  return memory;
}

void qx_cpu_fp_claim(QX_TASK* task) {
  /* The previous owner's values are already in its save area: every switch
   * away from an FP frame and every release stores them there. */
  qx_cpu_fp_task = task;
}

void qx_cpu_switch_hook(void) {
  QX_TASK* in = qx_kernel_next_task;
  ++qx_kernel_interrupt_level;
#if QX_HAS_FPU
  QX_TASK* out = qx_kernel_running_task;
  QX_UINT* frame = out->stack_last;
  const int out_fp = (frame[QX_FRAME_EXC_RETURN] & 0x10u) == 0;
  if (out_fp) {
    QX_UINT* area = (QX_UINT*)((char*)out->stack_start + out->stack_size - QX_FP_SAVE_AREA_BYTES);
    for (QX_UINT n = 0; n < 16; ++n) {
      area[n] = frame[QX_FRAME_S0 + n];
      area[16 + n] = frame[QX_FRAME_S16 + n];
    }
    area[32] = frame[QX_FRAME_FPSCR];
    qx_cpu_fp_task = out;
  }
  const QX_UINT* in_frame = in->stack_last;
  if ((in_frame[QX_FRAME_EXC_RETURN] & 0x10u) == 0) {
    qx_cpu_fp_task = in;
  } else if (out_fp) {
    /* The FPU keeps the outgoing task's values; the switch's own FP use
     * reset FPSCR, so put its value back. */
    qx_cpu_set_fpscr(frame[QX_FRAME_FPSCR]);
  }
#endif
  qx_kernel_running_task = in;
  --qx_kernel_interrupt_level;
}

void qx_cpu_check_resume(const QX_UINT* regs, QX_UINT task_number, QX_UINT flags,
                         const QX_UINT* fp) {
  const QX_UINT top = task_number << 28;
  QX_UINT errors = 0;
  if ((regs[0] & 0xF8000000u) != top) ++errors;
  for (QX_UINT r = 0; r <= 12; ++r) {
    if (regs[1 + r] != (top | (0x00A000A0u + r * 0x00010001u))) ++errors;
  }
  if (regs[14] != (top | (0x00A000A0u + 14u * 0x00010001u))) ++errors;
  if (fp != 0 && (flags & QX_SWITCH_FP_KEEP) != 0) {
    for (QX_UINT n = 0; n < 32; ++n) {
      if (fp[n] != (top | (0x00C000C0u + n * 0x00010001u))) ++errors;
    }
    if (fp[32] != (top | 0x80u | task_number)) ++errors;
  }
  qx_cpu_resume_errors += errors;
  ++qx_cpu_resume_count;
}
