/* The model application: eleven tasks and objects of every kind, driven into
 * a fixed state (every wait kind, a sleeper, an exited and a halted task, a
 * preempted ready task, mutexes with owners and waiters), after which the
 * most urgent task calls qx_model_stop for ever. The expected state is listed
 * in manifest.py; keep the two in step. */
#include "qx_kernel.h"

#define STACK_BYTES 1024u

/* Task numbers, also the index in the static task array. */
enum {
  T_SUPERVISOR,
  T_WAKER,
  T_FP_WORKER,
  T_FP_SAVER,
  T_SLEEPER,
  T_EF_WAITER,
  T_POOL_USER,
  T_LOCK_WAITER,
  T_LOCK_OWNER,
  T_EXITER,
  T_HALTED,
  T_COUNT
};

const QX_UINT qx_model_board = QX_HAS_FPU ? 386u : 385u;
volatile QX_UINT qx_model_stop_count;
volatile QX_UINT qx_model_oneshot_fired;
volatile QX_UINT qx_model_blink_fired;
/* A debugger sets this to let the halted task run again: the supervisor
 * resumes it and suspends itself, so the halted task's saved registers pass
 * through the resume check and it becomes the running task in
 * qx_model_stop. Left at 0 the model keeps its stopped state for ever. */
volatile QX_UINT qx_model_release_halted;

static QX_TASK tasks[T_COUNT];
static unsigned long long stacks[T_COUNT][STACK_BYTES / 8u];

QX_TIMER qx_model_timers[4];
QX_MUTEX qx_model_mutexes[3];
QX_SEM qx_model_sems[2];
QX_QUEUE qx_model_queues[2];
QX_EFLAGS qx_model_eflags[2];
QX_BPOOL qx_model_bpools[2];
QX_MPOOL qx_model_mpools[2];

static QX_UINT cmd_buffer[8]; /* 4 messages of 2 words */
static QX_UINT log_buffer[8]; /* 8 messages of 1 word */
static QX_UINT block_area[4 * 32 / 4];
static QX_UINT msg_area[3 * 16 / 4];
static QX_UINT heap_area[1024 / 4];
static QX_UINT scratch_area[256 / 4];

/* The debugger stops the model here; the loop keeps it here. */
void __attribute__((noinline)) qx_model_stop(void) {
  ++qx_model_stop_count;
  __asm__ volatile("" ::: "memory");
}

static void set_flags(QX_UINT flags) {
  qx_task_self()->switch_flags = (QX_BYTE)flags;
}

/* Loads the task's FP marker values and makes it the FPU owner. With keep,
 * the FP context stays active and the task's frames hold it; without, the
 * values go to the task's save area and its frames hold none. */
static void use_fp(int keep) {
#if QX_HAS_FPU
  QX_TASK* self = qx_task_self();
  qx_cpu_fp_claim(self);
  qx_cpu_fp_load(self->task_number);
  if (keep) {
    self->switch_flags |= QX_SWITCH_FP | QX_SWITCH_FP_KEEP;
  } else {
    qx_cpu_fp_release((char*)self->stack_start + self->stack_size - QX_FP_SAVE_AREA_BYTES);
    self->switch_flags |= QX_SWITCH_FP;
  }
#else
  (void)keep;
#endif
}

static void oneshot_expired(QX_UINT input) {
  qx_model_oneshot_fired += input;
}
static void blink_expired(QX_UINT input) {
  qx_model_blink_fired += input;
}
static void watchdog_expired(QX_UINT input) {
  (void)input;
}

static void supervisor(QX_UINT input) {
  (void)input;
  set_flags(0);
  qx_task_suspend(); /* resumed by the waker, last of all */
  for (;;) {
    qx_model_stop();
    if (qx_model_release_halted != 0u) {
      qx_model_release_halted = 0u;
      qx_task_resume(&tasks[T_HALTED]);
      qx_task_suspend();
    }
  }
}

static void waker(QX_UINT input) {
  (void)input;
  for (int i = 0; i < 5; ++i)
    qx_kernel_tick();
  qx_eflags_set(&qx_model_eflags[0], 0x2);
  for (QX_UINT i = 1; i <= 3; ++i)
    qx_queue_send(&qx_model_queues[1], &i);
  set_flags(QX_SWITCH_PAD);
  qx_task_resume(&tasks[T_SUPERVISOR]); /* preempted here: stays ready */
  for (;;)
    qx_model_stop();
}

static void fp_worker(QX_UINT input) {
  QX_UINT msg[2];
  (void)input;
  set_flags(QX_SWITCH_PAD);
  use_fp(1);
  qx_queue_receive(&qx_model_queues[0], msg, 100);
}

static void fp_saver(QX_UINT input) {
  (void)input;
  set_flags(QX_SWITCH_PAD);
  use_fp(0);
  qx_sem_get(&qx_model_sems[0]);
}

static void sleeper(QX_UINT input) {
  (void)input;
  set_flags(0);
  qx_task_sleep(25);
}

static void ef_waiter(QX_UINT input) {
  (void)input;
  set_flags(0);
  use_fp(1);
  qx_eflags_get_all(&qx_model_eflags[0], 0x5);
}

static void pool_user(QX_UINT input) {
  (void)input;
  set_flags(0);
  (void)qx_mpool_allocate(&qx_model_mpools[0], 700);
  (void)qx_bpool_allocate(&qx_model_bpools[1]);
  for (int i = 0; i < 4; ++i)
    (void)qx_bpool_allocate(&qx_model_bpools[0]);
  (void)qx_bpool_allocate(&qx_model_bpools[0]);
}

static void lock_waiter(QX_UINT input) {
  (void)input;
  set_flags(0);
  use_fp(1);
  qx_task_suspend(); /* resumed by the lock owner once it holds the lock */
  qx_mutex_get(&qx_model_mutexes[0]);
}

static void lock_owner(QX_UINT input) {
  (void)input;
  set_flags(0);
  qx_mutex_get(&qx_model_mutexes[0]);
  qx_mutex_get(&qx_model_mutexes[0]);
  qx_mutex_get(&qx_model_mutexes[1]);
  qx_task_resume(&tasks[T_LOCK_WAITER]); /* preempted; inherits its priority */
  (void)qx_mpool_allocate(&qx_model_mpools[0], 512);
}

static void exiter(QX_UINT input) {
  set_flags(0);
  qx_task_exit(input);
}

static void halted(QX_UINT input) {
  (void)input;
  set_flags(0);
  qx_task_suspend(); /* resumed only when a debugger releases it */
  for (;;)
    qx_model_stop();
}

struct task_row {
  const char* name;
  QX_UINT priority;
  QX_UINT threshold;
  QX_UINT time_slice;
  void (*entry)(QX_UINT);
  QX_UINT input;
};

static const struct task_row task_rows[T_COUNT] = {
    [T_SUPERVISOR] = {"supervisor", 2, 2, 0, supervisor, 0},
    [T_WAKER] = {"waker", 20, 15, 10, waker, 0},
    [T_FP_WORKER] = {"fp_worker", 6, 6, 0, fp_worker, 0},
    [T_FP_SAVER] = {"fp_saver", 7, 7, 0, fp_saver, 0},
    [T_SLEEPER] = {"sleeper", 8, 8, 0, sleeper, 0},
    [T_EF_WAITER] = {"ef_waiter", 9, 9, 4, ef_waiter, 0},
    [T_POOL_USER] = {"pool_user", 10, 10, 0, pool_user, 0},
    [T_LOCK_WAITER] = {"lock_waiter", 11, 11, 0, lock_waiter, 0},
    [T_LOCK_OWNER] = {"lock_owner", 14, 12, 0, lock_owner, 0},
    [T_EXITER] = {"exiter", 16, 16, 0, exiter, 0x2A},
    [T_HALTED] = {"halted", 18, 18, 0, halted, 0},
};

void qx_model_main(void) {
  qx_kernel_init();
  qx_kernel_timer_info.current_tick = 1000;

  qx_timer_create(&qx_model_timers[0], "blink", blink_expired, 1, 3, 4, 1);
  qx_timer_create(&qx_model_timers[1], "oneshot", oneshot_expired, 7, 2, 0, 1);
  qx_timer_create(&qx_model_timers[2], "watchdog", watchdog_expired, 0x55, 500, 0, 1);
  qx_timer_create(&qx_model_timers[3], "standby", watchdog_expired, 0, 1000, 0, 0);

  qx_mutex_create(&qx_model_mutexes[0], "bus_lock", 1);
  qx_mutex_create(&qx_model_mutexes[1], "spare_lock", 0);
  qx_mutex_create(&qx_model_mutexes[2], "free_lock", 1);

  qx_sem_create(&qx_model_sems[0], "rx_sem", 0);
  qx_sem_create(&qx_model_sems[1], "free_slots", 3);

  qx_queue_create(&qx_model_queues[0], "cmd_queue", 2, cmd_buffer, sizeof cmd_buffer);
  qx_queue_create(&qx_model_queues[1], "log_queue", 1, log_buffer, sizeof log_buffer);

  qx_eflags_create(&qx_model_eflags[0], "events");
  qx_eflags_create(&qx_model_eflags[1], "errors");

  qx_bpool_create(&qx_model_bpools[0], "blocks", block_area, 32, 4);
  qx_bpool_create(&qx_model_bpools[1], "msgs", msg_area, 16, 3);

  qx_mpool_create(&qx_model_mpools[0], "heap", heap_area, sizeof heap_area);
  qx_mpool_create(&qx_model_mpools[1], "scratch", scratch_area, sizeof scratch_area);

  for (QX_UINT n = 0; n < T_COUNT; ++n) {
    const struct task_row* row = &task_rows[n];
    qx_task_create(&tasks[n], row->name, n, row->priority, row->threshold, row->time_slice,
                   stacks[n], sizeof stacks[n], row->entry, row->input);
  }
  qx_kernel_start();
}
