"""Expected state of the model kernel when it stops in qx_model_stop.

Written by hand from the scenario in qx_model.c, not derived from the image,
so that a check against the running target compares two independent
accounts. `manifest(board)` gives a dict; run as a script with "model-m3" or
"model-m4f" it prints the dict as JSON (build.sh stores it beside the ELF).

Addresses are not listed: tasks and objects are named, and a reader resolves
names on the target. Register values are given by debugger register number
(r0-r15 = 0-15, xPSR = 16, s0-s31 = 17-48, FPSCR = 49); the stack pointer
before the save is read from qx_cpu_switch_sp[task number] and the saved pc
is the address of qx_cpu_switch_resume, so both are given as symbols.
"""

import json
import sys

MAX_PRIORITIES = 32
MAX_TASKS = 32

BOARDS = {
    "model-m3": {"machine": "mps2-an385", "cpu": "cortex-m3", "fpu": False},
    "model-m4f": {"machine": "mps2-an386", "cpu": "cortex-m4", "fpu": True},
}

REGISTER_NAMES = (["r%d" % i for i in range(13)] + ["sp", "lr", "pc", "xpsr"] +
                  ["s%d" % i for i in range(32)] + ["fpscr"])

STATUS_READY, STATUS_EXITED, STATUS_HALTED, STATUS_SLEEP = 0, 1, 2, 3
STATUS_QUEUE, STATUS_SEM, STATUS_EFLAGS, STATUS_BPOOL = 4, 5, 6, 7
STATUS_MUTEX, STATUS_MPOOL = 8, 9

# number, name, priority, threshold, time slice, status, pended-on object,
# wait timer expiration tick (None: stopped), pad word, FP use
# ("keep": FP context in its frames, "save": values in the save area only).
_TASKS = [
    (0, "supervisor", 2, 2, 0, STATUS_READY, None, None, False, None),
    (1, "waker", 20, 15, 10, STATUS_READY, None, None, True, None),
    (2, "fp_worker", 6, 6, 0, STATUS_QUEUE, ("queue", "cmd_queue"), 1100, True, "keep"),
    (3, "fp_saver", 7, 7, 0, STATUS_SEM, ("sem", "rx_sem"), None, True, "save"),
    (4, "sleeper", 8, 8, 0, STATUS_SLEEP, None, 1025, False, None),
    (5, "ef_waiter", 9, 9, 4, STATUS_EFLAGS, ("eflags", "events"), None, False, "keep"),
    (6, "pool_user", 10, 10, 0, STATUS_BPOOL, ("bpool", "blocks"), None, False, None),
    (7, "lock_waiter", 11, 11, 0, STATUS_MUTEX, ("mutex", "bus_lock"), None, False, "keep"),
    (8, "lock_owner", 14, 12, 0, STATUS_MPOOL, ("mpool", "heap"), None, False, None),
    (9, "exiter", 16, 16, 0, STATUS_EXITED, None, None, False, None),
    (10, "halted", 18, 18, 0, STATUS_HALTED, None, None, False, None),
]

RUNNING_TASK = "supervisor"
FP_OWNER = "lock_waiter"  # boards with an FPU
CURRENT_TICK = 1005
STACK_SIZE = 1024


def int_mark(task, reg):
    return (task << 28) | (0x00A000A0 + reg * 0x00010001)


def fp_mark(task, n):
    return (task << 28) | (0x00C000C0 + n * 0x00010001)


def fpscr_mark(task):
    return (task << 28) | 0x80 | task


def stale_mark(task, pad):
    """The word the switch leaves where a frame's reserved word will lie: its
    bit 9 claims the opposite of the frame's real pad word."""
    return (task << 28) | 0x00DE00DE | (0 if pad else 0x200)


def task_bit(number):
    return 0x80000000 >> number


def _task(row, fpu):
    number, name, prio, threshold, slice_, status, pend, expiration, pad, fp = row
    fp = fp if fpu else None
    regs = {}
    for r in range(13):
        regs[r] = int_mark(number, r)
    regs[14] = int_mark(number, 14)
    regs[16] = (number << 28) | 0x01000000 | (0x200 if pad else 0)
    if fpu:
        for n in range(32):
            regs[17 + n] = fp_mark(number, n) if fp else 0
        regs[49] = fpscr_mark(number) if fp else 0
    active = prio
    owned = 0
    waiters = 0
    if name == "lock_owner":
        active, owned, waiters = 11, 2, task_bit(7)
    return {
        "number": number,
        "name": name,
        "status": status,
        "running": name == RUNNING_TASK,
        "fp_owner": fpu and name == FP_OWNER,
        "static_priority": prio,
        "active_priority": active,
        "preempt_threshold": threshold,
        "time_slice": slice_,
        "remaining_time_slice": slice_,
        "stack_size": STACK_SIZE,
        "pended_on": list(pend) if pend else None,
        "wait_timer_expiration": expiration,
        "wait_timer_remaining": None if expiration is None else expiration - CURRENT_TICK,
        "owned_mutex_count": owned,
        "mutex_waiters_mask": waiters,
        "exit_code": 0x2A if name == "exiter" else 0,
        "terminated": 0,
        "frame_fp": fp == "keep",
        "frame_pad": pad,
        "reserved_word": stale_mark(number, pad) if fp == "keep" else None,
        "fp_values": fp is not None,
        "registers": {str(k): v for k, v in regs.items()},
        "sp_symbol": "qx_cpu_switch_sp[%d]" % number,
        "pc_symbol": "qx_cpu_switch_resume",
    }


def _objects():
    t = {name: number for number, name, *_ in _TASKS}

    def waiters(*names):
        mask = 0
        for n in names:
            mask |= task_bit(t[n])
        return mask

    return {
        "timer": [
            {"name": "blink", "active": True, "expiration_tick": 1007, "alarm_ticks": 3,
             "repeat_ticks": 4, "expiration_function": "blink_expired", "expiration_input": 1},
            {"name": "oneshot", "active": False, "expiration_tick": 1002, "alarm_ticks": 2,
             "repeat_ticks": 0, "expiration_function": "oneshot_expired", "expiration_input": 7},
            {"name": "watchdog", "active": True, "expiration_tick": 1500, "alarm_ticks": 500,
             "repeat_ticks": 0, "expiration_function": "watchdog_expired",
             "expiration_input": 0x55},
            {"name": "standby", "active": False, "expiration_tick": 0, "alarm_ticks": 1000,
             "repeat_ticks": 0, "expiration_function": "watchdog_expired", "expiration_input": 0},
        ],
        "mutex": [
            {"name": "bus_lock", "owner": "lock_owner", "nesting_count": 2, "priority_inherit": 1,
             "inherited_priority": MAX_PRIORITIES - 1 - 11, "waiters": waiters("lock_waiter")},
            {"name": "spare_lock", "owner": "lock_owner", "nesting_count": 1,
             "priority_inherit": 0, "inherited_priority": 0, "waiters": 0},
            {"name": "free_lock", "owner": None, "nesting_count": 0, "priority_inherit": 1,
             "inherited_priority": 0, "waiters": 0},
        ],
        "sem": [
            {"name": "rx_sem", "count": 0, "waiters": waiters("fp_saver")},
            {"name": "free_slots", "count": 3, "waiters": 0},
        ],
        "queue": [
            {"name": "cmd_queue", "msg_size": 2, "capacity": 4, "num_msgs": 0,
             "waiters": waiters("fp_worker")},
            {"name": "log_queue", "msg_size": 1, "capacity": 8, "num_msgs": 3, "waiters": 0},
        ],
        "eflags": [
            {"name": "events", "flags": 0x2, "requested_flags": 0x5,
             "waiters": waiters("ef_waiter")},
            {"name": "errors", "flags": 0, "requested_flags": 0, "waiters": 0},
        ],
        "bpool": [
            {"name": "blocks", "block_size": 32, "available_blocks": 0, "total_blocks": 4,
             "waiters": waiters("pool_user")},
            {"name": "msgs", "block_size": 16, "available_blocks": 2, "total_blocks": 3,
             "waiters": 0},
        ],
        "mpool": [
            {"name": "heap", "available_bytes": 320, "buf_size": 1024, "fragments": 1,
             "min_pending_allocation_size": 512, "waiters": waiters("lock_owner")},
            {"name": "scratch", "available_bytes": 256, "buf_size": 256, "fragments": 1,
             "min_pending_allocation_size": 0, "waiters": 0},
        ],
    }


# Object kinds with their C type and index in qx_kernel_object_list.
OBJECT_TYPES = [
    ("task", "QX_TASK", 1),
    ("timer", "QX_TIMER", 2),
    ("mutex", "QX_MUTEX", 3),
    ("sem", "QX_SEM", 4),
    ("queue", "QX_QUEUE", 5),
    ("eflags", "QX_EFLAGS", 6),
    ("bpool", "QX_BPOOL", 7),
    ("mpool", "QX_MPOOL", 8),
]


def manifest(board):
    info = BOARDS[board]
    fpu = info["fpu"]
    map_count = 50 if fpu else 17
    return {
        "board": board,
        "machine": info["machine"],
        "cpu": info["cpu"],
        "fpu": fpu,
        "osa_version": 1,
        "max_priorities": MAX_PRIORITIES,
        "max_tasks": MAX_TASKS,
        "mask_bytes": 4,
        "reg_stack_size": 204 if fpu else 68,
        "register_names": REGISTER_NAMES[:map_count],
        "exc_return_offset": 0,
        "novfp_skip": 16,
        "novfp_count": 17,
        "running_task": RUNNING_TASK,
        "fp_task": FP_OWNER if fpu else None,
        "interrupt_level": 0,
        "current_tick": CURRENT_TICK,
        "stop_routine": "qx_model_stop",
        "fault_routine": "qx_cpu_fault_handler",
        "reset_routine": "qx_cpu_reset_handler",
        "resume_count": 3,
        # Timer routines run by the five ticks: blink once (input 1), the
        # one-shot once (input 7).
        "counters": {"qx_model_blink_fired": 1, "qx_model_oneshot_fired": 7},
        "tasks": [_task(row, fpu) for row in _TASKS],
        "objects": _objects(),
    }


if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in BOARDS:
        sys.exit("usage: manifest.py model-m3|model-m4f")
    json.dump(manifest(sys.argv[1]), sys.stdout, indent=1, sort_keys=True)
    sys.stdout.write("\n")
