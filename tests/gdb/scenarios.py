"""Scenarios of the GDB host against the model kernel under QEMU.

Run as:  gdb-multiarch -nx -batch -x tests/gdb/scenarios.py ELF
with QX_SCENARIO (startup, objects, registers, write_resume), QX_PLUGIN (the
osa_plugin executable) and QX_RECORD (where the conversation is recorded).
The expected state comes from the manifest beside the image (ELF with .json).
Exit status 0 when every check passes, 1 when one fails, 2 when the target
could not be brought where the scenario needs it.
"""

import json
import os
import sys
import threading
import time

import gdb

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(HERE, "..", "..", "gdb"))

from osahost import commands  # noqa: E402
from osahost import session as session_module  # noqa: E402
from script_checks import STATUS_TEXT, Checks, evaluate, finish  # noqa: E402

TIMEOUT_SECONDS = float(os.environ.get("QX_SCENARIO_TIMEOUT", "30"))
REFUSAL = "Error: Cannot start OSA before data and bss are initialized.\n"
KIND_TYPE = {"timer": 2, "mutex": 3, "sem": 4, "queue": 5, "eflags": 6, "bpool": 7, "mpool": 8}
T = session_module


def read32(addr):
    return int.from_bytes(bytes(gdb.selected_inferior().read_memory(addr, 4)), "little")


def connect(expected):
    elf = gdb.current_progspace().filename
    gdb.execute("target remote | exec setpriv --pdeathsig KILL qemu-system-arm -M %s "
                "-display none -monitor none -serial none -kernel %s -S -gdb stdio"
                % (expected["machine"], elf))
    gdb.execute("break %s" % expected["fault_routine"])


def run(where):
    """Continues until the target stops; True when it stopped in `where`."""
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
    return not timed_out and gdb.newest_frame().name() == where


def run_to_stop(expected):
    gdb.execute("break %s" % expected["stop_routine"])
    return run(expected["stop_routine"])


def open_session(messages):
    return session_module.Session(os.environ["QX_PLUGIN"], os.environ["QX_RECORD"],
                                  show_message=lambda kind, text: messages.append((kind, text)))


def task_ids(expected):
    return {t["name"]: evaluate("qx_kernel_sched_info.static_task_array[%d]" % t["number"])
            for t in expected["tasks"]}


def popcount(x):
    return bin(x).count("1")


def first_waiter(mask):
    """Task number of the most significant set bit (task n owns bit 31 - n)."""
    return 32 - mask.bit_length() if mask else None


# Scenarios.

def scenario_startup(c, s, expected, messages):
    """Refused in the reset handler, accepted at the stop routine."""
    c.equal(gdb.newest_frame().name(), expected["reset_routine"], "stopped in the reset handler")
    c.equal(s.target_init(), 2, "TargetInit in the reset handler")
    c.equal(messages, [(2, REFUSAL)], "refusal message")
    c.check(not s.target_ready, "no kernel record after the refusal")
    del messages[:]
    if not run_to_stop(expected):
        return 2
    c.equal(s.target_init(), 0, "TargetInit at the stop routine")
    c.equal(messages, [], "no message at the stop routine")
    ids = task_ids(expected)
    c.equal(s.current_task(), (0, ids[expected["running_task"]]), "running task")
    return 0


def expected_task_attributes(t, expected, ids, object_ids):
    prio = t["static_priority"]
    pend = t["pended_on"]
    pended = ""
    if pend:
        pended = "0x%x (%s)" % (object_ids[pend[0]][pend[1]], pend[1])
    running = t["name"] == expected["running_task"]
    return {
        0: ids[t["name"]],
        1: t["name"],
        2: "Running" if running and t["status"] == 0 else STATUS_TEXT[t["status"]],
        3: str(prio),
        4: "" if t["active_priority"] == prio else str(t["active_priority"]),
        5: pended,
        6: str(t["owned_mutex_count"]),
        7: str(popcount(t["mutex_waiters_mask"])),
        8: str(t["stack_size"]),
        10: "0x%x" % evaluate("&stacks[%d]" % t["number"]),
        11: "" if t["preempt_threshold"] == prio else str(t["preempt_threshold"]),
        18: str(t["time_slice"]),
        19: str(t["remaining_time_slice"]),
        20: "0x%x" % t["exit_code"] if t["status"] == 1 else "",
        21: "" if t["wait_timer_remaining"] is None else str(t["wait_timer_remaining"]),
        22: "0x0",
    }


def expected_object_attributes(kind, o, tasks_by_name, ids, core_offset, tick, max_prio):
    waiting = str(popcount(o.get("waiters", 0)))
    if kind == "timer":
        return {1: o["name"], 13: "1" if o["active"] else "0",
                12: str(o["expiration_tick"] - tick) if o["active"] else "",
                14: str(o["alarm_ticks"]), 15: "1" if o["repeat_ticks"] else "0",
                26: str(o["repeat_ticks"]) if o["repeat_ticks"] else "",
                16: o["expiration_function"], 17: "0x%x" % o["expiration_input"]}
    if kind == "mutex":
        owner = ""
        if o["owner"]:
            owner = "0x%x (%s)" % (ids[o["owner"]] + core_offset, o["owner"])
        inherited = ""
        if o["waiters"]:
            waiter = [t for t in tasks_by_name.values()
                      if t["number"] == first_waiter(o["waiters"])][0]
            inherited = str(waiter["static_priority"])
        return {1: o["name"], 22: owner, 23: str(o["nesting_count"]),
                24: str(o["priority_inherit"]), 25: inherited, 9: waiting}
    if kind == "sem":
        return {1: o["name"], 32: str(o["count"]), 9: waiting}
    if kind == "queue":
        return {1: o["name"], 42: str(o["num_msgs"]), 43: str(o["capacity"]),
                44: str(o["msg_size"]), 9: waiting}
    if kind == "eflags":
        return {1: o["name"], 52: "0x%x" % o["flags"], 53: "0x%x" % o["requested_flags"],
                9: waiting}
    if kind == "bpool":
        return {1: o["name"], 62: str(o["block_size"]), 63: str(o["available_blocks"]),
                64: str(o["total_blocks"]), 9: waiting}
    if kind == "mpool":
        return {1: o["name"], 72: str(o["available_bytes"]), 73: str(o["buf_size"]),
                74: str(o["fragments"]),
                75: str(o["min_pending_allocation_size"]) if o["waiters"] else "", 9: waiting}
    raise KeyError(kind)


def scenario_objects(c, s, expected, messages):
    """Every object of every type, every attribute, against the manifest."""
    if not run_to_stop(expected):
        return 2
    if not c.equal(s.target_init(), 0, "TargetInit"):
        return 1
    ids = task_ids(expected)
    tasks_by_name = {t["name"]: t for t in expected["tasks"]}
    core_offset = evaluate("&((QX_TASK *)0)->core")

    object_ids = {}
    for kind, type_id in sorted(KIND_TYPE.items(), key=lambda kv: kv[1]):
        wanted = {o["name"]: o for o in expected["objects"][kind]}
        attrs = [a for a, _ in T.OBJECT_ATTRIBUTES[type_id]]
        rows = s.walk(type_id, attrs)
        c.equal(sorted(r[1] for r in rows), sorted(wanted), "%s names" % kind)
        object_ids[kind] = {r[1]: r[0] for r in rows}
        for row in rows:
            o = wanted.get(row[1])
            if o is None:
                continue
            want = expected_object_attributes(kind, o, tasks_by_name, ids, core_offset,
                                              expected["current_tick"],
                                              expected["max_priorities"])
            # The id is the object's address: GDB finds the same name there.
            at_id = gdb.parse_and_eval("((struct QX_OBJECT_STRUCT *)%u)->name" % row[0])
            want[0] = row[0] if at_id.string() == row[1] else None
            for attr in attrs:
                c.equal(row[attr], want[attr], "%s %s attribute %d" % (kind, row[1], attr))

    attrs = sorted(a for a, _ in T.TASK_ATTRIBUTES + T.TASK_EXTRA_ATTRIBUTES)
    rows = s.walk(T.TASKS, attrs)
    c.equal(sorted(r[1] for r in rows), sorted(tasks_by_name), "task names")
    for row in rows:
        t = tasks_by_name.get(row[1])
        if t is None:
            continue
        want = expected_task_attributes(t, expected, ids, object_ids)
        for attr in attrs:
            c.equal(row[attr], want[attr], "task %s attribute %d" % (t["name"], attr))
    # The same as numbers: state code, priorities, stack size.
    rows = s.walk(T.TASKS, [0, 2, 3, 8], numeric_ids=(0, 2, 3, 8))
    for row in rows:
        t = [t for t in expected["tasks"] if ids[t["name"]] == row[0]]
        if c.check(len(t) == 1, "task id 0x%x is known" % row[0]):
            t = t[0]
            c.equal((row[2], row[3], row[8]), (t["status"], t["static_priority"], t["stack_size"]),
                    "task %s state, priority and stack size as numbers" % t["name"])
    for t in expected["tasks"]:
        name = s.call("OSA_Client_TaskNameGet", {"context": T.CONTEXT, "taskId": ids[t["name"]]})
        c.equal(name.get("name"), t["name"], "TaskNameGet of %s" % t["name"])
    c.equal(s.current_task(), (0, ids[expected["running_task"]]), "running task")
    c.equal(messages, [], "no error messages")
    return 0


def expected_registers(t, expected):
    want = {int(k): v for k, v in t["registers"].items()}
    want[13] = evaluate(t["sp_symbol"])
    want[15] = evaluate("&" + t["pc_symbol"])
    return want


def scenario_registers(c, s, expected, messages):
    """Saved registers of every task that is not running, through the plug-in."""
    if not run_to_stop(expected):
        return 2
    if not c.equal(s.target_init(), 0, "TargetInit"):
        return 1
    ids = task_ids(expected)
    names = expected["register_names"]
    fp_words = 0
    for t in expected["tasks"]:
        task = ids[t["name"]]
        if t["running"]:
            c.equal(s.task_register_read(task, 15), (0, evaluate("$pc")),
                    "running task %s: live pc" % t["name"])
            if expected["fpu"] and not t["fp_owner"]:
                want = {int(k): v for k, v in t["registers"].items()}
                for reg in range(17, len(names)):
                    c.equal(s.task_register_read(task, reg), (0, want[reg]),
                            "running task %s %s (save area)" % (t["name"], names[reg]))
            continue
        want = expected_registers(t, expected)
        for reg in range(len(names)):
            c.equal(s.task_register_read(task, reg), (0, want[reg]),
                    "task %s %s" % (t["name"], names[reg]))
        if t["frame_fp"]:
            fp_words += 1
    c.check(not expected["fpu"] or fp_words > 0, "some frame holds FP context")
    c.check(any(t["frame_pad"] and not t["running"] for t in expected["tasks"]),
            "some frame has the alignment word")
    c.equal(messages, [], "no error messages")
    return 0


def task_line_with(text):
    """The line of the kernel source that holds text (for a breakpoint)."""
    path = os.path.join(HERE, "..", "..", "targets", "cortex-m", "qx_kernel.c")
    with open(path) as f:
        for number, line in enumerate(f, 1):
            if text in line:
                return "qx_kernel.c:%d" % number
    raise LookupError(text)


def check_fp_writes(c, s, ids, expected):
    """s registers as raw bits: live for the FPU owner, in the save area of
    another task; each put back afterwards."""
    owner, saver = ids[expected["fp_task"]], ids["fp_saver"]
    s5, s30 = 17 + 5, 17 + 30
    for task, reg, bits, what in ((owner, s5, 0x7F7FFFFF, "FPU owner s5 (live)"),
                                  (owner, s30, 0x00000001, "FPU owner s30 (live, denormal)"),
                                  (saver, s5, 0xC0490FDB, "fp_saver s5 (save area)")):
        status, before = s.task_register_read(task, reg)
        c.equal(s.task_register_write(task, reg, bits), 0, "write " + what)
        c.equal(s.task_register_read(task, reg), (0, bits), what + " reads back")
        if task == owner:
            name = "s%d" % (reg - 17)
            live = int(gdb.execute("output/x $%s" % name, to_string=True).strip(), 16)
            c.equal(live, bits, what + " is in the CPU")
        c.equal(s.task_register_write(task, reg, before), 0, "put back " + what)


def scenario_write_resume(c, s, expected, messages):
    """Registers written into a waiting task's frame are what it resumes
    with; every stop refreshes the running task and the interrupt level."""
    if not run_to_stop(expected):
        return 2
    if not c.equal(s.target_init(), 0, "TargetInit"):
        return 1
    ids = task_ids(expected)
    supervisor, halted = ids["supervisor"], ids["halted"]
    written = {1: 0x1234ABCD, 4: 0xCAFE0004, 12: 0x0BAD0012}
    for reg, value in written.items():
        c.equal(s.task_register_write(halted, reg, value), 0, "write r%d of halted" % reg)
        c.equal(s.task_register_read(halted, reg), (0, value), "r%d of halted reads back" % reg)
    c.equal(s.task_register_write(halted, 13, 0x20000000), 1, "the computed sp is read only")
    if expected["fpu"]:
        check_fp_writes(c, s, ids, expected)
    errors_before = evaluate("qx_cpu_resume_errors")
    count_before = evaluate("qx_cpu_resume_count")

    # Let the supervisor release the halted task. First stop: inside the
    # switch, the supervisor still the running task, interrupt level 1.
    gdb.execute("set var qx_model_release_halted = 1")
    gdb.execute("break %s" % task_line_with("qx_kernel_running_task = in;"))
    if not run("qx_cpu_switch_hook"):
        return 2
    c.equal(evaluate("qx_kernel_interrupt_level"), 1, "interrupt level inside the switch")
    c.equal(s.current_task(), (0, supervisor), "running task inside the switch")
    # At level 1 the plug-in takes the supervisor's registers from its fresh
    # frame, not from the CPU: look at one whose CPU value differs.
    saved = expected["tasks"][0]["registers"]
    differing = [r for r in (0, 1, 2, 3, 12, 4, 5, 6, 7, 8, 9, 10, 11)
                 if int(gdb.newest_frame().read_register("r%d" % r)) & 0xFFFFFFFF
                 != saved[str(r)]]
    if c.check(differing, "some CPU register differs from the supervisor's saved one"):
        reg = differing[0]
        c.equal(s.task_register_read(supervisor, reg), (0, saved[str(reg)]),
                "supervisor r%d from its frame" % reg)

    gdb.execute("delete")
    gdb.execute("break %s" % expected["fault_routine"])
    gdb.execute("break qx_cpu_check_resume")
    if not run("qx_cpu_check_resume"):
        return 2
    c.equal(s.current_task(), (0, halted), "running task after the switch")
    c.equal(s.task_status(halted), (0, "Running"), "halted task now runs")
    c.equal(s.task_status(supervisor), (0, "Halted"), "supervisor suspended itself")
    regs = evaluate("$r0")  # apsr, r0-r12, lr as the resumed task found them
    for reg, value in written.items():
        c.equal(read32(regs + 4 * (1 + reg)), value, "r%d the halted task resumed with" % reg)
    c.equal(s.task_register_read(halted, 1), (0, evaluate("$r1")),
            "the running task's r1 is the CPU's")

    gdb.execute("delete")
    gdb.execute("break %s" % expected["fault_routine"])
    if not run_to_stop(expected):
        return 2
    c.equal(evaluate("qx_cpu_resume_count"), count_before + 1, "one more resume")
    c.equal(evaluate("qx_cpu_resume_errors"), errors_before + len(written),
            "the resume check saw exactly the written registers changed")
    c.equal(s.current_task(), (0, halted), "running task at the stop routine")
    c.equal(messages, [], "no error messages")
    return 0


def scenario_commands(c, s, expected, messages):
    """The user's commands, recording through `qx record`."""
    if not run_to_stop(expected):
        return 2
    gdb.execute("source %s" % os.path.join(HERE, "..", "..", "gdb", "osa.py"))
    gdb.execute("set osa-plugin %s" % os.environ["QX_PLUGIN"])
    # The recorded conversation is the plug-in's specified one: no cache.
    gdb.execute("set osa-cache off")
    gdb.execute("qx record %s" % os.environ["QX_RECORD"], to_string=True)

    text = gdb.execute("qx tasks", to_string=True)
    lines = text.splitlines()
    c.check(lines[0].split()[:3] == ["id", "name", "state"], "qx tasks heading")
    c.equal(len(lines), 1 + len(expected["tasks"]), "qx tasks: one line per task")
    column = lines[0].index("state")
    for t in expected["tasks"]:
        line = [l for l in lines if " %s " % t["name"] in l]
        if c.check(len(line) == 1, "qx tasks lists %s" % t["name"]):
            state = "Running" if t["running"] else STATUS_TEXT[t["status"]]
            c.check(line[0][column:].startswith(state), "qx tasks: %s is %s, aligned" %
                    (t["name"], state))
    c.check("service requests" in gdb.execute("qx stats", to_string=True), "qx stats reports")

    for kind, names in (("timers", "timer"), ("mutexes", "mutex"), ("semaphores", "sem"),
                        ("queues", "queue"), ("events", "eflags")):
        text = gdb.execute("qx objects %s" % kind, to_string=True)
        for o in expected["objects"][names]:
            c.check(" %s " % o["name"] in text, "qx objects %s lists %s" % (kind, o["name"]))
    text = gdb.execute("qx objects pools", to_string=True)
    for kind in ("bpool", "mpool"):
        for o in expected["objects"][kind]:
            c.check(" %s " % o["name"] in text, "qx objects pools lists %s" % o["name"])

    t = [t for t in expected["tasks"] if t["name"] == "fp_worker"][0]
    want = expected_registers(t, expected)
    for spec in ("fp_worker", "0x%x" % task_ids(expected)["fp_worker"]):
        text = gdb.execute("qx regs %s" % spec, to_string=True)
        for reg, name in enumerate(expected["register_names"]):
            c.check("\n%-6s 0x%08x\n" % (name, want[reg]) in text,
                    "qx regs %s shows %s" % (spec, name))
    try:
        gdb.execute("qx objects nothing", to_string=True)
        c.check(False, "qx objects with an unknown kind fails")
    except gdb.error:
        c.check(True, "qx objects with an unknown kind fails")
    gdb.execute("qx record stop")
    return 0


def qx_windows(expected):
    """Every window the user can open, as text, and the service requests
    they cost."""
    parts = []
    requests = 0
    views = ["qx tasks all"] + ["qx objects %s" % kind for kind in commands.OBJECT_KINDS]
    views += ["qx regs %s" % t["name"] for t in expected["tasks"]]
    for view in views:
        parts.append(gdb.execute(view, to_string=True))
        requests += commands.HOST.last_stats.service_requests
    return parts, requests


def scenario_cache(c, s, expected, messages):
    """The same windows with the plug-in's cache off and on, before and after
    the target ran on, in far fewer service requests."""
    if not run_to_stop(expected):
        return 2
    gdb.execute("source %s" % os.path.join(HERE, "..", "..", "gdb", "osa.py"))
    gdb.execute("set osa-plugin %s" % os.environ["QX_PLUGIN"])
    c.check("on" in gdb.execute("show osa-cache", to_string=True), "the cache is on by default")
    gdb.execute("qx record %s" % os.environ["QX_RECORD"], to_string=True)
    for stop in range(2):
        gdb.execute("set osa-cache off")
        off, off_requests = qx_windows(expected)
        gdb.execute("set osa-cache on")
        c.check(commands.HOST.session.cache_on, "the plug-in turned its cache on")
        on, on_requests = qx_windows(expected)
        for view_off, view_on in zip(off, on):
            c.equal(view_on, view_off, "a window with the cache on (stop %d)" % stop)
        c.check(on_requests * 5 < off_requests, "the cache cuts the service requests: %d on, "
                "%d off (stop %d)" % (on_requests, off_requests, stop))
        print("%s cache: %d service requests off, %d on (stop %d)" % (
            expected["board"], off_requests, on_requests, stop))
        # Run on to the stop routine again: the windows change with the target.
        if stop == 0 and not run_to_stop(expected):
            return 2
    # A value written by the user between stops shows at once.
    t = expected["tasks"][0]
    gdb.execute("set var ((QX_TASK *)%d)->status = 2" % task_ids(expected)[t["name"]])
    text = gdb.execute("qx tasks", to_string=True)
    line = [l for l in text.splitlines() if " %s " % t["name"] in l]
    c.check(len(line) == 1 and "Halted" in line[0], "a status set by the user shows")
    gdb.execute("qx record stop")
    return 0


SCENARIOS = {
    "cache": scenario_cache,
    "commands": scenario_commands,
    "startup": scenario_startup,
    "objects": scenario_objects,
    "registers": scenario_registers,
    "write_resume": scenario_write_resume,
}


def main():
    name = os.environ.get("QX_SCENARIO", "")
    scenario = SCENARIOS.get(name)
    if scenario is None:
        print("unknown scenario %r; one of %s" % (name, ", ".join(SCENARIOS)))
        finish(2)
    elf = gdb.current_progspace().filename
    with open(os.path.splitext(elf)[0] + ".json") as f:
        expected = json.load(f)
    started = time.monotonic()
    connect(expected)
    c = Checks()
    messages = []
    s = None
    if name not in ("commands", "cache"):
        s = open_session(messages)
        # Stops reach the plug-in through the host's own stop handler.
        commands.HOST.session = s
        gdb.events.stop.connect(commands.HOST.on_stop)
    try:
        status = scenario(c, s, expected, messages)
    except Exception as e:  # report and fail rather than hang the batch run
        print("FAIL: %s: %s: %s" % (name, type(e).__name__, e))
        status = 1
    if s is not None:
        s.close()
    if status == 2:
        print("%s %s: the target did not stop where the scenario needs it" %
              (expected["board"], name))
    print("%s %s: %d checks passed, %d failed (%.2f s)" % (
        expected["board"], name, c.passed, len(c.failed), time.monotonic() - started))
    finish(status if status else (1 if c.failed else 0))


try:
    main()
except Exception as e:  # noqa: BLE001 - GDB's batch mode would exit 0
    print("FAIL: %s: %s" % (type(e).__name__, e))
    finish(1)
