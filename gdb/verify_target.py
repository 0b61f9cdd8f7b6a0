"""Checks a model kernel image under QEMU against its manifest, through GDB.

Run as:  gdb-multiarch -nx -batch -x gdb/verify_target.py ELF
The board comes from the image's qx_model_board; QEMU runs as GDB's pipe
child and dies with it. The script stops the model in qx_model_stop and
checks that every expression form the kernel-awareness code evaluates works
on this image, that the kernel's data match the manifest (targets/cortex-m/
manifest.py), that every object ring closes, and that the registers of every
task that is not running can be found through the kernel's register map and
frame description, word for word as the task loaded them.

Exit status 0 when every check passes, 1 when one fails, 2 when the target
could not be brought to the stop routine.
"""

import os
import sys
import threading
import time

import gdb

HERE = os.path.dirname(os.path.abspath(__file__))
TARGET_DIR = os.environ.get("QX_TARGET_DIR", os.path.join(HERE, "..", "targets", "cortex-m"))
sys.path.insert(0, TARGET_DIR)
sys.dont_write_bytecode = True  # keep the source tree clean
import manifest as manifest_module  # noqa: E402

sys.path.insert(0, HERE)
from script_checks import Checks, finish, value_int  # noqa: E402

TIMEOUT_SECONDS = float(os.environ.get("QX_VERIFY_TIMEOUT", "30"))
RESET_ENTRIES = ["qx_cpu_reset_handler", "entRESET", "_start", "_start_T", "__hrx_ind_crt0"]
MAP_NOT_SAVED, MAP_SP, MAP_SP_BIT31 = 0xFF, 0xFE, 0xFD
FP_CONTEXT_TOP_BYTES = 18 * 4  # s0-s15, FPSCR, reserved


def evaluate(expr):
    """The expression's value, or None when the debugger refuses it."""
    try:
        return value_int(gdb.parse_and_eval(expr))
    except (gdb.error, gdb.MemoryError):
        return None


def read32(addr):
    data = gdb.selected_inferior().read_memory(addr & 0xFFFFFFFF, 4)
    return int.from_bytes(bytes(data), "little")


def read8(addr):
    return bytes(gdb.selected_inferior().read_memory(addr & 0xFFFFFFFF, 1))[0]


def read_text(addr, limit=127):
    if addr == 0:
        return ""
    raw = bytes(gdb.selected_inferior().read_memory(addr, limit))
    return raw.split(b"\0", 1)[0].decode("ascii", "replace")


def member(type_name, base, path, size=None):
    """Reads a member the way the kernel-awareness code does: its address and
    size by evaluation, then the bytes."""
    addr = evaluate("&((%s *)%u)->%s" % (type_name, base, path))
    width = evaluate("sizeof(((%s *)%u)->%s)" % (type_name, base, path))
    if addr is None or width is None:
        raise gdb.error("member %s of %s does not evaluate" % (path, type_name))
    data = bytes(gdb.selected_inferior().read_memory(addr, min(width, 8)))
    return int.from_bytes(data, "little")


def object_name(core):
    return read_text(read32(evaluate("&((struct QX_OBJECT_STRUCT *)%u)->name" % core)))


def live_register_bits(name):
    text = gdb.execute("output/x $%s" % name, to_string=True).strip()
    return int(text, 16) & 0xFFFFFFFF


def run_to_stop(c, expected):
    """Connects QEMU, checks the start-up state, runs to the stop routine."""
    elf = gdb.current_progspace().filename
    gdb.execute("target remote | exec setpriv --pdeathsig KILL qemu-system-arm -M %s "
                "-display none -monitor none -serial none -kernel %s -S -gdb stdio"
                % (expected["machine"], elf))
    check_start_state(c, expected)
    gdb.execute("break %s" % expected["stop_routine"])
    gdb.execute("break %s" % expected["fault_routine"])
    timed_out = []

    def expire():
        timed_out.append(True)
        gdb.post_event(lambda: gdb.execute("interrupt"))

    watchdog = threading.Timer(TIMEOUT_SECONDS, expire)
    watchdog.start()
    try:
        gdb.execute("continue")
    finally:
        watchdog.cancel()
    return not timed_out


def check_start_state(c, expected):
    pc = evaluate("$pc")
    begin, end = evaluate("&__hrxbegin_reset"), evaluate("&__hrxend_reset")
    c.check(None not in (pc, begin, end), "pc and the reset section bounds evaluate at connect")
    if None in (pc, begin, end):
        return
    c.check(begin <= pc < end, "pc 0x%x lies in the reset section [0x%x, 0x%x) at connect"
            % (pc, begin, end))
    c.equal(evaluate("__hrxbegin_reset"), begin, "bare __hrxbegin_reset, taken as its address")
    c.equal(gdb.selected_frame().name(), expected["reset_routine"], "procedure at connect")


def check_expressions(c, expected, core_offset):
    """Every expression form the kernel-awareness code relies on."""
    fpu = expected["fpu"]
    c.equal(evaluate("qx_kernel_osa_version"), expected["osa_version"], "qx_kernel_osa_version")
    c.check(core_offset not in (None, 0), "&((QX_TASK *)0)->core evaluates to a non-zero offset")
    c.equal(evaluate("qx_kernel_max_priorities"), expected["max_priorities"],
            "qx_kernel_max_priorities")
    c.equal(evaluate("qx_kernel_max_tasks"), expected["max_tasks"], "qx_kernel_max_tasks")
    c.equal(evaluate("sizeof(struct QX_WAIT_LIST_STRUCT)*sizeof(QX_BYTE)"),
            expected["mask_bytes"], "task mask width")
    c.equal(evaluate("qx_kernel_reg_stack_size"), expected["reg_stack_size"],
            "qx_kernel_reg_stack_size")
    c.equal(evaluate("sizeof(qx_kernel_register_stack_offsets)"),
            len(expected["register_names"]), "register map size")
    c.check(evaluate("&qx_kernel_register_stack_offsets") is not None, "register map address")
    # The pending record is a mask in the core's union: the earlier forms of
    # the discovery order must fail so that this one decides.
    for expr, present in (("&((struct QX_OBJECT_STRUCT *)0)->pending.mask", False),
                          ("&((struct QX_OBJECT_STRUCT *)0)->pending.head", False),
                          ("&((struct QX_OBJECT_STRUCT *)0)->u.pending.mask", True),
                          ("&((struct QX_OBJECT_STRUCT *)0)->u.pending.head", False),
                          ("&((QX_MPOOL *)0)->core", True),
                          ("&((QX_BPOOL *)0)->core", True),
                          ("&((QX_TIMER *)0)->remaining_ticks", False),
                          ("&((QX_TASK *)0)->wait_timer.remaining_ticks", False),
                          ("&((QX_TASK *)0)->registers[0]", False),
                          ("&((QX_TASK *)0)->terminated", True),
                          ("&((QX_TIMER *)0)->repeat_ticks", True),
                          ("__c_tls_init", False)):
        c.equal(evaluate(expr) is not None, present, "evaluates: " + expr)
    c.check(gdb.lookup_global_symbol("qx_cpu_pendsv_enter") is not None,
            "qx_cpu_pendsv_enter is a global symbol")
    for expr in ("&qx_kernel_interrupt_level", "&qx_kernel_running_task",
                 "&qx_kernel_timer_info.current_tick", "&qx_cpu_fp_task",
                 "&qx_cpu_reg_offset_exc_return", "&qx_cpu_reg_offset_novfp_skip",
                 "&qx_cpu_reg_offset_novfp_count", "$pc"):
        c.check(evaluate(expr) is not None, "evaluates: " + expr)
    c.equal(evaluate("qx_cpu_reg_offset_exc_return"), expected["exc_return_offset"],
            "qx_cpu_reg_offset_exc_return")
    c.equal(evaluate("qx_cpu_reg_offset_novfp_skip"), expected["novfp_skip"],
            "qx_cpu_reg_offset_novfp_skip")
    c.equal(evaluate("qx_cpu_reg_offset_novfp_count"), expected["novfp_count"],
            "qx_cpu_reg_offset_novfp_count")
    c.equal(evaluate("sizeof(qx_cpu_reg_offset_novfp_skip)"), 1, "novfp_skip is one byte")
    for index in range(1, 9):
        c.check(evaluate("&qx_kernel_object_list[%u]" % index) is not None,
                "evaluates: &qx_kernel_object_list[%u]" % index)
    c.check(evaluate("qx_kernel_sched_info.static_task_array[0]->static_priority") is not None,
            "evaluates: qx_kernel_sched_info.static_task_array[0]->static_priority")
    members = {
        "QX_TASK": ["status", "static_priority", "active_priority", "preempt_threshold",
                    "pending.parent", "owned_mutex_count", "mutex_waiters_mask", "stack_start",
                    "stack_size", "stack_last", "time_slice", "remaining_time_slice",
                    "terminated", "exit_code", "wait_timer.active.next",
                    "wait_timer.expiration_tick", "core.u.pending.mask"],
        "QX_TIMER": ["active.next", "expiration_tick", "alarm_ticks", "repeat_ticks",
                     "expiration_function", "expiration_input"],
        "QX_MUTEX": ["owner", "nesting_count", "priority_inherit", "inherited_priority",
                     "core.u.pending.mask"],
        "QX_SEM": ["count", "core.u.pending.mask"],
        "QX_QUEUE": ["num_msgs", "buf_start", "buf_end", "msg_size", "core.u.pending.mask"],
        "QX_EFLAGS": ["flags", "requested_flags", "core.u.pending.mask"],
        "QX_BPOOL": ["block_size", "available_blocks", "total_blocks", "core.u.pending.mask"],
        "QX_MPOOL": ["available_bytes", "buf_size", "fragments", "min_pending_allocation_size",
                     "core.u.pending.mask"],
    }
    for type_name, paths in members.items():
        for path in paths:
            addr = evaluate("&((%s *)%u)->%s" % (type_name, 0, path))
            size = evaluate("sizeof(((%s *)%u)->%s)" % (type_name, 0, path))
            c.check(addr is not None and size in (1, 2, 4, 8),
                    "member %s of %s: offset %s, size %s" % (path, type_name, addr, size))
    c.check(evaluate("sizeof(((QX_TASK *)0)->core.u.pending.mask)") == 4,
            "sizeof(((QX_TASK *)0)->core.u.pending.mask) is 4")
    c.check(evaluate("&((struct QX_OBJECT_STRUCT *)0)->created.next") is not None,
            "evaluates: created.next of the object core")
    if fpu:
        c.check(gdb.selected_frame().read_register("fpscr") is not None, "fpscr is readable")


def walk_ring(c, kind, index):
    """Cores of one object type in ring order, or None when the ring is broken."""
    head = read32(evaluate("&qx_kernel_object_list[%u]" % index))
    cores = []
    core = head
    while core != 0 and len(cores) < 64:
        cores.append(core)
        following = read32(evaluate("&((struct QX_OBJECT_STRUCT *)%u)->created.next" % core))
        back = read32(evaluate("&((struct QX_OBJECT_STRUCT *)%u)->created.prev" % following))
        c.equal(back, core, "%s ring: prev of the next object points back" % kind)
        core = following
        if core == head:
            return cores
    c.check(False, "%s ring closes" % kind)
    return None


def check_objects(c, expected, tasks_by_name):
    kinds = {kind: (type_name, index) for kind, type_name, index in
             manifest_module.OBJECT_TYPES}
    number_to_name = {t["number"]: t["name"] for t in expected["tasks"]}
    cores_by_name = {}
    for kind, rows in expected["objects"].items():
        type_name, index = kinds[kind]
        cores = walk_ring(c, kind, index)
        if cores is None:
            continue
        names = [object_name(core) for core in cores]
        c.equal(names, [row["name"] for row in rows], "%s ring order" % kind)
        for core, row in zip(cores, rows):
            cores_by_name[(kind, row["name"])] = core
            what = "%s %s" % (kind, row["name"])
            mask = member(type_name, core, "core.u.pending.mask")
            if kind != "timer":
                c.equal(mask, row["waiters"], what + " pending mask")
                if mask:
                    n = 32 - mask.bit_length()
                    waiter = evaluate("qx_kernel_sched_info.static_task_array[%u]" % n)
                    c.equal(waiter, tasks_by_name[number_to_name[n]],
                            what + " first waiter via static_task_array")
            for field, want in row.items():
                if field in ("name", "waiters"):
                    continue
                if field == "active":
                    c.equal(member(type_name, core, "active.next") != 0, want, what + " active")
                elif field == "expiration_function":
                    addr = member(type_name, core, field)
                    block = gdb.block_for_pc(addr)
                    got = block.function.name if block and block.function else None
                    c.equal(got, want, what + " expiration routine")
                elif field == "owner":
                    owner = member(type_name, core, "owner")
                    c.equal(owner, tasks_by_name[want] if want else 0, what + " owner")
                elif field == "capacity":
                    start = member(type_name, core, "buf_start")
                    end = member(type_name, core, "buf_end")
                    size = member(type_name, core, "msg_size") or 1
                    c.equal((end - start) // (size * 4), want, what + " capacity")
                else:
                    c.equal(member(type_name, core, field), want, "%s %s" % (what, field))
    return cores_by_name


def check_tasks(c, expected, core_offset):
    cores = walk_ring(c, "task", 1)
    if cores is None:
        return {}, {}
    names = [object_name(core) for core in cores]
    c.equal(names, [t["name"] for t in expected["tasks"]], "task ring order")
    tasks_by_name = {name: core - core_offset for name, core in zip(names, cores)}
    for t in expected["tasks"]:
        addr = tasks_by_name.get(t["name"])
        if addr is None:
            continue
        what = "task " + t["name"]
        c.equal(evaluate("qx_kernel_sched_info.static_task_array[%u]" % t["number"]), addr,
                what + " in static_task_array")
        top = expected["max_priorities"] - 1
        for field in ("static_priority", "active_priority", "preempt_threshold"):
            c.equal(top - member("QX_TASK", addr, field), t[field], "%s %s" % (what, field))
        for field in ("status", "time_slice", "remaining_time_slice", "stack_size",
                      "owned_mutex_count", "mutex_waiters_mask", "exit_code", "terminated"):
            c.equal(member("QX_TASK", addr, field), t[field], "%s %s" % (what, field))
        active = member("QX_TASK", addr, "wait_timer.active.next") != 0
        c.equal(active, t["wait_timer_expiration"] is not None, what + " wait timer running")
        if active:
            expiration = member("QX_TASK", addr, "wait_timer.expiration_tick")
            c.equal(expiration, t["wait_timer_expiration"], what + " wait timer expiration")
            tick = evaluate("qx_kernel_timer_info.current_tick")
            c.equal((expiration - tick) & 0xFFFFFFFF, t["wait_timer_remaining"],
                    what + " wait timer ticks left")
    # The task table: one entry per task number, 0 where no task has it.
    by_number = {t["number"]: tasks_by_name.get(t["name"]) for t in expected["tasks"]}
    table = [evaluate("qx_kernel_sched_info.static_task_array[%u]" % n)
             for n in range(expected["max_tasks"])]
    c.equal(table, [by_number.get(n, 0) for n in range(expected["max_tasks"])],
            "static_task_array by task number")
    return tasks_by_name, dict(zip(names, cores))


def read_register_map():
    size = evaluate("sizeof(qx_kernel_register_stack_offsets)")
    base = evaluate("&qx_kernel_register_stack_offsets")
    return [read8(base + i) for i in range(size)]


def task_register(state, task, reg):
    """A task's register as the kernel-awareness code finds it: live, from the
    saved frame through the map, or from the FP save area. None when the
    register is not available for the task."""
    regmap = state["map"]
    running = task == state["running"] and state["level"] == 0
    owns_fpu = task == state["fp_task"]
    mapped = reg < len(regmap) and regmap[reg] != MAP_NOT_SAVED
    code = regmap[reg] if mapped else 0
    special = mapped and code in (MAP_SP, MAP_SP_BIT31)
    floating = mapped and not special and (code & 0x80) != 0
    if (not floating and running) or (floating and owns_fpu):
        return live_register_bits(state["names"][reg])
    if not mapped:
        return None
    if floating:
        start = read32(evaluate("&((QX_TASK *)%u)->stack_start" % task))
        size = read32(evaluate("&((QX_TASK *)%u)->stack_size" % task))
        return read32(start + size - 4 * (code & 0x7F))
    sp = read32(evaluate("&((QX_TASK *)%u)->stack_last" % task))
    skip = count = 0
    fp_context = False
    if evaluate("&qx_cpu_reg_offset_exc_return") is not None:
        k = read32(evaluate("&qx_cpu_reg_offset_exc_return"))
        exc_return = read32(sp + 4 * k)
        if exc_return & 0x10:
            skip = read8(evaluate("&qx_cpu_reg_offset_novfp_skip"))
            count = read8(evaluate("&qx_cpu_reg_offset_novfp_count"))
        else:
            fp_context = True
    if not special:
        if count:
            if ((code - 1) & 0xFFFFFFFF) < skip:
                return None
            code -= skip
            if code >= count:
                return None
        return read32(sp + 4 * code)
    value = sp + 4 * count if count else sp + state["reg_stack_size"]
    # The stacked xPSR ends the integer part; with FP context s0-s15, FPSCR
    # and the reserved word lie above it.
    xpsr_at = value - 4 - (FP_CONTEXT_TOP_BYTES if fp_context else 0)
    if state["has_pendsv"] and read32(xpsr_at) & 0x200:
        value += 4
    return value >> 31 if code == MAP_SP_BIT31 else value & 0xFFFFFFFF


def check_frames(c, expected, tasks_by_name):
    fpu = expected["fpu"]
    state = {
        "map": read_register_map(),
        "names": expected["register_names"],
        "running": tasks_by_name.get(expected["running_task"]),
        "fp_task": tasks_by_name.get(expected["fp_task"], 0) if expected["fp_task"] else 0,
        "level": evaluate("qx_kernel_interrupt_level"),
        "reg_stack_size": evaluate("qx_kernel_reg_stack_size"),
        "has_pendsv": gdb.lookup_global_symbol("qx_cpu_pendsv_enter") is not None,
    }
    resume_pc = evaluate("&qx_cpu_switch_resume")
    first_fp, last_fp = 17, len(state["names"])
    for t in expected["tasks"]:
        task = tasks_by_name.get(t["name"])
        if task is None:
            continue
        what = "task %s" % t["name"]
        want = {int(k): v for k, v in t["registers"].items()}
        if t["running"]:
            # Integer registers are the CPU's; FP ones come from its save area
            # unless it owns the FPU.
            c.equal(task_register(state, task, 15), evaluate("$pc"), what + " live pc")
            if fpu and not t["fp_owner"]:
                for reg in range(first_fp, last_fp):
                    c.equal(task_register(state, task, reg), want[reg],
                            "%s %s (save area)" % (what, state["names"][reg]))
            continue
        want[13] = evaluate(t["sp_symbol"])
        want[15] = resume_pc
        for reg in range(len(state["names"])):
            c.equal(task_register(state, task, reg), want[reg],
                    "%s %s" % (what, state["names"][reg]))
        check_raw_frame(c, t, task, want, fpu)


def check_raw_frame(c, t, task, want, fpu):
    """The words at the saved stack pointer, lowest address first."""
    what = "task %s frame" % t["name"]
    sp = read32(evaluate("&((QX_TASK *)%u)->stack_last" % task))
    words = [read32(sp + 4 * i) for i in range(51 if t["frame_fp"] else 17)]
    layout = ["exc_return"]
    if t["frame_fp"]:
        layout += ["s%d" % n for n in range(16, 32)]
    layout += ["r%d" % r for r in range(4, 12)]
    layout += ["r0", "r1", "r2", "r3", "r12", "lr", "pc", "xpsr"]
    if t["frame_fp"]:
        layout += ["s%d" % n for n in range(16)] + ["fpscr", "reserved"]
    names = ["r%d" % i for i in range(13)] + ["sp", "lr", "pc", "xpsr"]
    names += ["s%d" % i for i in range(32)] + ["fpscr"]
    by_name = {names[i]: v for i, v in want.items()}
    for i, slot in enumerate(layout):
        if slot == "exc_return":
            value = 0xFFFFFFED if t["frame_fp"] else 0xFFFFFFFD
        elif slot == "reserved":
            value = t["reserved_word"]  # left unwritten by the hardware
        else:
            value = by_name[slot]
        c.equal(words[i], value, "%s word %d (%s)" % (what, i, slot))
    end = sp + 4 * len(layout) + (4 if t["frame_pad"] else 0)
    c.equal(end, want[13], what + " end (with pad word) is the stack pointer before the save")
    c.equal(want[13] % 8, 4 if t["frame_pad"] else 0, what + " stack alignment at the switch")


def check_run_state(c, expected, tasks_by_name):
    c.equal(evaluate("qx_kernel_interrupt_level"), expected["interrupt_level"],
            "qx_kernel_interrupt_level")
    c.equal(evaluate("qx_kernel_running_task"), tasks_by_name.get(expected["running_task"]),
            "qx_kernel_running_task")
    c.equal(evaluate("qx_kernel_timer_info.current_tick"), expected["current_tick"],
            "qx_kernel_timer_info.current_tick")
    fp_task = tasks_by_name.get(expected["fp_task"], 0) if expected["fp_task"] else 0
    c.equal(evaluate("qx_cpu_fp_task"), fp_task, "qx_cpu_fp_task")
    c.equal(evaluate("qx_cpu_resume_count"), expected["resume_count"],
            "tasks switched back in")
    c.equal(evaluate("qx_cpu_resume_errors"), 0, "registers changed across a switch")
    for name, want in expected["counters"].items():
        c.equal(evaluate(name), want, name)
    frame = gdb.selected_frame()
    c.equal(frame.name(), expected["stop_routine"], "stopped in the stop routine")
    c.equal(frame.older().name() if frame.older() else None, "supervisor", "caller of stop")
    for name in (frame.name(), frame.older().name() if frame.older() else None):
        c.check(name not in RESET_ENTRIES and "_" + str(name) not in RESET_ENTRIES,
                "procedure %s is not a reset entry" % name)
    pc = evaluate("$pc")
    begin, end = evaluate("&__hrxbegin_reset"), evaluate("&__hrxend_reset")
    c.check(not begin <= pc < end, "pc outside the reset section at the stop")


def main():
    started = time.time()
    c = Checks()
    board = {385: "model-m3", 386: "model-m4f"}.get(evaluate("qx_model_board"))
    if board is None:
        print("ERROR: the image has no known qx_model_board")
        finish(2)
    expected = manifest_module.manifest(board)
    if not run_to_stop(c, expected):
        print("ERROR: the model did not reach %s within %.0f s"
              % (expected["stop_routine"], TIMEOUT_SECONDS))
        finish(2)
    stopped_in = gdb.selected_frame().name()
    if stopped_in != expected["stop_routine"]:
        print("ERROR: stopped in %s, not in %s" % (stopped_in, expected["stop_routine"]))
        finish(2)
    core_offset = evaluate("&((QX_TASK *)0)->core")
    check_expressions(c, expected, core_offset)
    tasks_by_name, _ = check_tasks(c, expected, core_offset)
    check_objects(c, expected, tasks_by_name)
    check_run_state(c, expected, tasks_by_name)
    check_frames(c, expected, tasks_by_name)
    print("%s: %d checks passed, %d failed (%.2f s)"
          % (board, c.passed, len(c.failed), time.time() - started))
    finish(1 if c.failed else 0)


main()
