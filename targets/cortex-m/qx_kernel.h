/* A small cooperative real-time kernel for Cortex-M: the records a debugger
 * reads (tasks, timers, mutexes, semaphores, queues, event flags, pools and
 * the kernel's bookkeeping) and the kernel calls the model application uses.
 * Interface version 1, 32 tasks, the pending record as a task mask inside the
 * object core's union. Priorities are stored inverted: the stored value is
 * QX_MAX_PRIORITIES - 1 - the priority shown, so a larger stored value is
 * more urgent. A task number n owns bit (31 - n) of every task mask. */
#ifndef QX_KERNEL_H
#define QX_KERNEL_H

#include "qx_config.h"

#define QX_MAX_PRIORITIES 32u
#define QX_MAX_TASKS 32u

/* Task status codes. */
#define QX_READY 0u
#define QX_EXITED 1u
#define QX_HALTED 2u
#define QX_SLEEP 3u
#define QX_PEND_QUEUE 4u
#define QX_PEND_SEM 5u
#define QX_PEND_EFLAGS 6u
#define QX_PEND_BPOOL 7u
#define QX_PEND_MUTEX 8u
#define QX_PEND_MPOOL 9u

/* Object type ids, also the index into qx_kernel_object_list. */
#define QX_TYPE_TASK 1u
#define QX_TYPE_TIMER 2u
#define QX_TYPE_MUTEX 3u
#define QX_TYPE_SEM 4u
#define QX_TYPE_QUEUE 5u
#define QX_TYPE_EFLAGS 6u
#define QX_TYPE_BPOOL 7u
#define QX_TYPE_MPOOL 8u
#define QX_TYPE_COUNT 9u

/* Bytes at the top of every task stack that hold s0-s31 and FPSCR of a task
 * that does not own the FPU (floating-point builds only). */
#define QX_FP_SAVE_AREA_BYTES (33u * 4u)

typedef unsigned char QX_BYTE;
typedef unsigned int QX_UINT;

struct QX_WAIT_LIST_STRUCT {
  QX_UINT words[QX_MAX_TASKS / 32u];
};

struct QX_OBJECT_STRUCT;
struct QX_TASK_STRUCT;

struct QX_OBJECT_LINK_STRUCT {
  struct QX_OBJECT_STRUCT* next;
  struct QX_OBJECT_STRUCT* prev;
};

struct QX_PEND_MASK_STRUCT {
  struct QX_WAIT_LIST_STRUCT mask;
};

union QX_OBJECT_UNION {
  struct QX_PEND_MASK_STRUCT pending;
  QX_UINT raw[2];
};

/* The core every object starts with (tasks hold it further in). */
struct QX_OBJECT_STRUCT {
  const char* name;
  QX_UINT type_id;
  struct QX_OBJECT_LINK_STRUCT created; /* ring of all objects of the type */
  union QX_OBJECT_UNION u;
};

struct QX_TIMER_LINK_STRUCT {
  struct QX_TIMER_LINK_STRUCT* next; /* 0 while the timer is stopped */
  struct QX_TIMER_LINK_STRUCT* prev;
};

struct QX_WAIT_TIMER_STRUCT {
  struct QX_TIMER_LINK_STRUCT active;
  QX_UINT expiration_tick;
};

struct QX_TASK_PEND_STRUCT {
  struct QX_OBJECT_STRUCT* parent; /* core of the object waited on, 0 when none */
  QX_UINT request;                 /* bytes, flags or message address asked for */
};

typedef struct QX_TASK_STRUCT {
  void* stack_last; /* saved stack pointer; offset 0, the switch code relies on it */
  QX_UINT task_number;
  struct QX_OBJECT_STRUCT core;
  QX_UINT status;
  QX_BYTE static_priority; /* stored inverted */
  QX_BYTE active_priority;
  QX_BYTE preempt_threshold;
  QX_BYTE switch_flags; /* QX_SWITCH_* for the next context save */
  QX_UINT time_slice;
  QX_UINT remaining_time_slice;
  void* stack_start;
  QX_UINT stack_size;
  struct QX_TASK_PEND_STRUCT pending;
  QX_UINT owned_mutex_count;
  struct QX_WAIT_LIST_STRUCT mutex_waiters_mask;
  struct QX_WAIT_TIMER_STRUCT wait_timer;
  void (*entry_function)(QX_UINT);
  QX_UINT entry_input;
  QX_UINT exit_code;
  QX_BYTE terminated;
} QX_TASK;

typedef struct QX_TIMER_STRUCT {
  struct QX_OBJECT_STRUCT core;
  struct QX_TIMER_LINK_STRUCT active;
  QX_UINT expiration_tick;
  QX_UINT alarm_ticks;
  QX_UINT repeat_ticks;
  void (*expiration_function)(QX_UINT);
  QX_UINT expiration_input;
} QX_TIMER;

typedef struct QX_MUTEX_STRUCT {
  struct QX_OBJECT_STRUCT core;
  QX_TASK* owner;
  QX_UINT nesting_count;
  QX_BYTE priority_inherit;
  QX_BYTE inherited_priority; /* stored priority the owner was raised to, 0 when none */
  QX_BYTE owner_priority;     /* the owner's active priority before it was raised */
} QX_MUTEX;

typedef struct QX_SEM_STRUCT {
  struct QX_OBJECT_STRUCT core;
  QX_UINT count;
} QX_SEM;

typedef struct QX_QUEUE_STRUCT {
  struct QX_OBJECT_STRUCT core;
  QX_UINT* buf_start;
  QX_UINT* buf_end;
  QX_UINT* read_ptr;
  QX_UINT* write_ptr;
  QX_UINT msg_size; /* in 32-bit words */
  QX_UINT num_msgs;
} QX_QUEUE;

typedef struct QX_EFLAGS_STRUCT {
  struct QX_OBJECT_STRUCT core;
  QX_UINT flags;
  QX_UINT requested_flags; /* union of the flags waiting tasks ask for */
} QX_EFLAGS;

typedef struct QX_BPOOL_STRUCT {
  struct QX_OBJECT_STRUCT core;
  QX_UINT block_size;
  QX_UINT available_blocks;
  QX_UINT total_blocks;
  QX_BYTE* pool_start;
  void* free_list;
} QX_BPOOL;

typedef struct QX_MPOOL_STRUCT {
  struct QX_OBJECT_STRUCT core;
  QX_UINT available_bytes;
  QX_UINT buf_size;
  QX_UINT fragments;
  QX_UINT min_pending_allocation_size;
  QX_BYTE* pool_start;
  QX_BYTE* next_free;
} QX_MPOOL;

struct QX_SCHED_INFO_STRUCT {
  struct QX_WAIT_LIST_STRUCT ready;
  QX_TASK* static_task_array[QX_MAX_TASKS];
};

struct QX_TIMER_INFO_STRUCT {
  QX_UINT current_tick;
  struct QX_TIMER_LINK_STRUCT active_list; /* running QX_TIMERs */
  struct QX_TIMER_LINK_STRUCT wait_list;   /* running task wait timers */
};

/* Kernel data a debugger reads. */
extern const QX_UINT qx_kernel_osa_version;
extern const QX_UINT qx_kernel_max_priorities;
extern const QX_UINT qx_kernel_max_tasks;
extern const QX_UINT qx_kernel_reg_stack_size;
extern struct QX_OBJECT_STRUCT* qx_kernel_object_list[QX_TYPE_COUNT];
extern volatile QX_UINT qx_kernel_interrupt_level;
extern QX_TASK* volatile qx_kernel_running_task;
extern QX_TASK* volatile qx_kernel_next_task;
extern struct QX_TIMER_INFO_STRUCT qx_kernel_timer_info;
extern struct QX_SCHED_INFO_STRUCT qx_kernel_sched_info;
extern QX_TASK* volatile qx_cpu_fp_task;

/* Kernel calls. The blocking ones switch to the most urgent ready task. */
void qx_kernel_init(void);
void qx_task_create(QX_TASK* task, const char* name, QX_UINT number, QX_UINT priority,
                    QX_UINT threshold, QX_UINT time_slice, void* stack, QX_UINT stack_size,
                    void (*entry)(QX_UINT), QX_UINT input);
void qx_kernel_start(void);
QX_TASK* qx_task_self(void);
void qx_task_sleep(QX_UINT ticks);
void qx_task_suspend(void);
void qx_task_resume(QX_TASK* task);
void qx_task_exit(QX_UINT code);
void qx_kernel_tick(void);

void qx_timer_create(QX_TIMER* timer, const char* name, void (*function)(QX_UINT), QX_UINT input,
                     QX_UINT ticks, QX_UINT repeat_ticks, int start);
void qx_mutex_create(QX_MUTEX* mutex, const char* name, int inherit);
void qx_mutex_get(QX_MUTEX* mutex);
void qx_sem_create(QX_SEM* sem, const char* name, QX_UINT count);
void qx_sem_get(QX_SEM* sem);
void qx_queue_create(QX_QUEUE* queue, const char* name, QX_UINT msg_words, QX_UINT* buffer,
                     QX_UINT buffer_bytes);
void qx_queue_send(QX_QUEUE* queue, const QX_UINT* msg);
void qx_queue_receive(QX_QUEUE* queue, QX_UINT* msg, QX_UINT timeout);
void qx_eflags_create(QX_EFLAGS* group, const char* name);
void qx_eflags_set(QX_EFLAGS* group, QX_UINT flags);
void qx_eflags_get_all(QX_EFLAGS* group, QX_UINT flags);
void qx_bpool_create(QX_BPOOL* pool, const char* name, void* area, QX_UINT block_size,
                     QX_UINT blocks);
void* qx_bpool_allocate(QX_BPOOL* pool);
void qx_mpool_create(QX_MPOOL* pool, const char* name, void* area, QX_UINT bytes);
void* qx_mpool_allocate(QX_MPOOL* pool, QX_UINT bytes);

/* CPU layer (qx_cpu.S). */
void qx_cpu_switch(QX_UINT task_number, QX_UINT flags);
void qx_cpu_start(void* boot_stack_top);
void qx_cpu_fp_load(QX_UINT task_number);
void qx_cpu_fp_release(void* save_area);
void qx_cpu_fp_claim(QX_TASK* task);
void qx_cpu_pendsv_enter(void);
void qx_cpu_set_fpscr(QX_UINT value);
extern QX_UINT qx_cpu_switch_sp[QX_MAX_TASKS];

/* Called by the context switch between saving and restoring (handler mode). */
void qx_cpu_switch_hook(void);
/* Called when a task is switched back in, with the values its registers hold
 * then: apsr, r0-r12, lr, and s0-s31, FPSCR when fp is not 0. */
void qx_cpu_check_resume(const QX_UINT* regs, QX_UINT task_number, QX_UINT flags,
                         const QX_UINT* fp);

#endif
