"""Tasks as threads: GDB against the model kernel through osa_gdbproxy.

Run as:  gdb-multiarch -nx -batch -x tests/proxy/gdb_threads.py ELF
with QX_SCENARIO (live, control, postmortem, silent_upstream, plugin_fails),
QX_PROXY (the osa_gdbproxy executable) and QX_WORK (a private directory for
dumps and counters). The proxy starts QEMU itself (--remote-cmd); the
expected state comes from the manifest beside the image (ELF with .json).

- live: one thread and no error at connection; at the stop routine every
  task is a thread with its name and state, the running task first and
  current; blocked tasks' registers are their marker values and their
  backtraces reach the entry function through the kernel's wait routine;
  task records made to point at garbage give "?" texts, not a hang.
- control: stepi, next, continue and an interrupt keep thread identity; a
  step asked for a blocked task is refused and nothing moves; a register
  written into a blocked task is what the task finds when it runs again.
- silent_upstream: an upstream that stops answering (no QEMU): GDB, with
  its default remote timeout, and the proxy stay in step.
- plugin_fails: a plug-in that ends at once or never answers: one thread
  that says why, the target still debuggable.
- postmortem: gcore and a raw RAM image taken at the stop, served by the
  proxy with no target: the same threads and backtraces as live; resuming
  is refused.

Exit status 0 when every check passes, 1 when one fails, 2 when the target
could not be brought where the scenario needs it.
"""

import json
import os
import re
import sys
import threading
import time

import gdb

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(HERE, "..", "..", "gdb"))

from script_checks import STATUS_TEXT, Checks, evaluate, finish  # noqa: E402

TIMEOUT_SECONDS = float(os.environ.get("QX_SCENARIO_TIMEOUT", "20"))
WAIT_ROUTINE = "schedule"  # the kernel routine every blocking call switches from
SWITCH_ROUTINE = "qx_cpu_switch"


def register(name):
    """A register of the selected thread's innermost frame, as raw bits;
    its text when GDB shows no number (e.g. "<unavailable>")."""
    text = gdb.execute("output/x $%s" % name, to_string=True).strip()
    try:
        return int(text, 16) & 0xFFFFFFFF
    except ValueError:
        return text


def execute(command):
    """Runs a command; (output, error text or None)."""
    try:
        return gdb.execute(command, to_string=True), None
    except gdb.error as e:
        return "", str(e)


def refused(out, err):
    """GDB reports a refused resume as an error, or (the reply to vCont
    being a stop reply) as a warning with the proxy's text."""
    return err is not None or "Remote failure reply: E" in (out or "")


def proxy_command(elf, *source):
    """The command GDB starts, and the proxy's counter file."""
    stats = os.path.join(os.environ["QX_WORK"], "stats-%d.txt" % proxy_command.count)
    proxy_command.count += 1
    words = [os.environ["QX_PROXY"], "--elf", elf] + list(source) + ["--stats", stats]
    return " ".join(shell_quote(w) for w in words), stats


proxy_command.count = 0


def shell_quote(word):
    if re.fullmatch(r"[A-Za-z0-9_./:@=,+-]+", word):
        return word
    return "'" + word.replace("'", "'\\''") + "'"


def qemu_command(expected, elf):
    return ("setpriv --pdeathsig KILL qemu-system-arm -M %s -display none -monitor none "
            "-serial none -kernel %s -S -gdb stdio" % (expected["machine"], elf))


def connect(c, command, what):
    """target remote through the proxy; True when GDB accepted it."""
    out, err = execute("target remote | " + command)
    return c.check(err is None, "%s: GDB connects (%s)" % (what, err))


def run(where, interrupt_after=None):
    """Continues until the target stops; True when it stopped in `where`.
    With interrupt_after, GDB interrupts the target after that many seconds."""
    timed_out = []

    def expire():
        timed_out.append(True)
        gdb.post_event(lambda: gdb.execute("interrupt"))

    watchdog = threading.Timer(interrupt_after or TIMEOUT_SECONDS, expire)
    watchdog.start()
    try:
        gdb.execute("continue", to_string=True)
    finally:
        watchdog.cancel()
    if interrupt_after is None and timed_out:
        return False
    return gdb.newest_frame().name() == where


def run_to(expected, routine):
    """Runs to `routine` with breakpoints there and at the kernel's fault
    routine; True when the target stopped in `routine`."""
    gdb.execute("break %s" % expected["fault_routine"])
    gdb.execute("break %s" % routine)
    return run(routine)


def task_ids(expected):
    return {t["name"]: evaluate("qx_kernel_sched_info.static_task_array[%d]" % t["number"])
            for t in expected["tasks"]}


def threads():
    """Every thread after GDB refreshed its list, by GDB number:
    (number, id, name, details)."""
    gdb.execute("info threads", to_string=True)
    rows = []
    for t in gdb.selected_inferior().threads():
        rows.append((t.num, t.ptid[1] or t.ptid[2], t.name, t.details))
    return sorted(rows)


def listed_ids():
    """Thread ids in the order the proxy lists them (qXfer:threads:read);
    GDB's own numbers keep the order in which it first saw each thread."""
    out, err = execute("maint packet qXfer:threads:read::0,fff")
    return [int(m, 16) for m in re.findall(r'<thread id=\\?"(?:p[0-9a-fA-F]+\.)?([0-9a-fA-F]+)',
                                           out)]


def select(thread_id):
    for t in gdb.selected_inferior().threads():
        if (t.ptid[1] or t.ptid[2]) == thread_id:
            t.switch()
            return True
    return False


def selected_id():
    t = gdb.selected_thread()
    return None if t is None else (t.ptid[1] or t.ptid[2])


def frame_names(limit=16):
    names = []
    frame = gdb.newest_frame()
    while frame is not None and len(names) < limit:
        names.append(frame.name())
        try:
            frame = frame.older()
        except gdb.error:
            break
    return names


def expected_state(t, expected):
    if t["running"]:
        return "Running"
    return STATUS_TEXT[t["status"]]


def check_start(c, where):
    """Right after connecting, in the reset handler: exactly one thread."""
    out, err = execute("info threads")
    c.check(err is None, "%s: info threads at connection gives no error (%s)" % (where, err))
    rows = threads()
    c.equal(len(rows), 1, "%s: one thread at connection" % where)
    c.check("error" not in out.lower(), "%s: info threads at connection shows no error: %r"
            % (where, out))
    c.equal(gdb.newest_frame().name(), "qx_cpu_reset_handler", "%s: frame at connection" % where)


def check_thread_list(c, expected, ids, where):
    """Every task once, with name and state; the running task first and
    current. Returns {name: id} of the threads seen."""
    rows = threads()
    by_id = {row[1]: row for row in rows}
    c.equal(sorted(by_id), sorted(ids.values()), "%s: thread ids are the tasks' addresses" % where)
    c.equal(len(rows), len(expected["tasks"]), "%s: one thread per task" % where)
    running = [t for t in expected["tasks"] if t["running"]][0]
    if rows:
        c.equal(rows[0][1], ids[running["name"]], "%s: the running task is thread 1" % where)
    c.equal(listed_ids()[:1], [ids[running["name"]]], "%s: the running task is listed first"
            % where)
    c.equal(selected_id(), ids[running["name"]], "%s: the running task is current" % where)
    for t in expected["tasks"]:
        row = by_id.get(ids[t["name"]])
        if not c.check(row is not None, "%s: %s is a thread" % (where, t["name"])):
            continue
        c.equal(row[2], t["name"], "%s: thread name of %s" % (where, t["name"]))
        details = row[3] or ""
        state = expected_state(t, expected)
        c.check(state.lower() in details.lower(), "%s: state of %s is %r: %r"
                % (where, t["name"], state, details))
        if t["pended_on"]:
            c.check(t["pended_on"][1] in details, "%s: %s shows the object it waits on (%s): %r"
                    % (where, t["name"], t["pended_on"][1], details))
    text, err = execute("info threads")
    for t in expected["tasks"]:
        c.check('"%s"' % t["name"] in text, "%s: info threads shows %s" % (where, t["name"]))
    return rows


def check_registers(c, expected, ids, where):
    """A blocked task's registers are the values it loaded before it was
    switched out; sp and pc are where the switch left them."""
    fpu = expected["fpu"]
    names = expected["register_names"]
    for t in expected["tasks"]:
        if t["running"] or not select(ids[t["name"]]):
            continue
        want = {int(k): v for k, v in t["registers"].items()}
        want[13] = evaluate(t["sp_symbol"])
        want[15] = evaluate("&" + t["pc_symbol"])
        for reg in range(len(names)):
            if reg > 16 and not fpu:
                break
            c.equal(register(names[reg]), want[reg], "%s: %s %s" % (where, t["name"], names[reg]))


def check_backtraces(c, expected, ids, where):
    """Each blocked task unwinds from the switch through the wait routine
    to its entry function (named as the task); returns {id: bt text}."""
    texts = {}
    for t in expected["tasks"]:
        if not select(ids[t["name"]]):
            continue
        text, err = execute("bt")
        c.check(err is None, "%s: bt of %s (%s)" % (where, t["name"], err))
        texts[ids[t["name"]]] = text
        names = frame_names()
        if t["running"]:
            c.equal(names[:2], [expected["stop_routine"], t["name"]],
                    "%s: running %s's innermost frames" % (where, t["name"]))
            continue
        c.equal(names[:1], [SWITCH_ROUTINE], "%s: %s's innermost frame" % (where, t["name"]))
        ok = WAIT_ROUTINE in names and t["name"] in names[names.index(WAIT_ROUTINE):]
        what = " (FP frame)" if t["frame_fp"] else ""
        c.check(ok, "%s: %s%s unwinds through %s to its entry: %s"
                % (where, t["name"], what, WAIT_ROUTINE, names))
    text, err = execute("thread apply all bt")
    c.check(err is None, "%s: thread apply all bt completes (%s)" % (where, err))
    for t in expected["tasks"]:
        c.check(" in %s (" % t["name"] in text,
                "%s: thread apply all bt reaches %s's entry" % (where, t["name"]))
    return texts


def check_garbage(c, expected, ids):
    """Task records that point at unreadable memory or loop: at the next
    stop the list comes back quickly, with "?" where nothing could be read;
    with the words put back it is whole again."""
    unreadable = 0x90000000
    task = "qx_kernel_sched_info.static_task_array[%d]"
    number = {t["name"]: t["number"] for t in expected["tasks"]}
    words = [
        ("sleeper", "core.name", unreadable),
        ("fp_worker", "pending.parent", unreadable),
        ("waker", "status", 0x77),
        ("lock_owner", "stack_last", unreadable),
        ("exiter", "core.created.next", None),  # loops back to its own core
    ]
    saved = []
    for name, member, value in words:
        addr = evaluate("&(%s->%s)" % (task % number[name], member))
        if value is None:
            value = evaluate("&(%s->core)" % (task % number[name]))
        saved.append((addr, evaluate("*(unsigned int *)%d" % addr)))
        gdb.execute("set var *(unsigned int *)%d = %d" % (addr, value))
    started = time.monotonic()
    out, err = execute("stepi")
    c.check(err is None, "garbage: stepi (%s)" % err)
    rows = threads()
    seen = [r[1] for r in rows]
    c.equal(len(seen), len(set(seen)), "garbage: every thread once")
    c.equal(listed_ids()[:1], [ids[expected["running_task"]]], "garbage: running task first")
    by_id = {r[1]: r for r in rows}
    for name, what in (("sleeper", "name"), ("fp_worker", "object waited on")):
        row = by_id.get(ids[name])
        c.check(row is not None and "?" in "%s %s" % (row[2], row[3]),
                "garbage: %s's unreadable %s shows as ?: %r" % (name, what, row))
    text, err = execute("thread apply all bt")
    c.check(err is None, "garbage: thread apply all bt completes (%s)" % err)
    elapsed = time.monotonic() - started
    c.check(elapsed < 10, "garbage: list and backtraces within 10 s (%.2f s)" % elapsed)
    select(ids[expected["running_task"]])
    for addr, value in saved:
        gdb.execute("set var *(unsigned int *)%d = %d" % (addr, value))
    out, err = execute("stepi")
    check_thread_list(c, expected, ids, "garbage put back")


def check_exit(c, stats, where):
    """The proxy wrote its counters, which it does only when it ends."""
    for _ in range(50):
        if os.path.exists(stats) and os.path.getsize(stats) > 0:
            break
        time.sleep(0.05)
    c.check(os.path.exists(stats), "%s: the proxy ended and wrote its counters" % where)


def scenario_live(c, expected, elf):
    command, stats = proxy_command(elf, "--remote-cmd", qemu_command(expected, elf))
    if not connect(c, command, "live"):
        return 2
    check_start(c, "live")
    if not run_to(expected, expected["stop_routine"]):
        return 2
    ids = task_ids(expected)
    check_thread_list(c, expected, ids, "live")
    check_registers(c, expected, ids, "live")
    check_backtraces(c, expected, ids, "live")
    c.equal(threads()[0][1], ids[expected["running_task"]], "live: list unchanged by reading")
    check_garbage(c, expected, ids)
    gdb.execute("kill")
    check_exit(c, stats, "live")
    return 0


def scenario_control(c, expected, elf):
    command, stats = proxy_command(elf, "--remote-cmd", qemu_command(expected, elf))
    if not connect(c, command, "control"):
        return 2
    if not run_to(expected, expected["stop_routine"]):
        return 2
    ids = task_ids(expected)
    running = ids[expected["running_task"]]
    all_ids = sorted(ids.values())

    def same_threads(what):
        rows = threads()
        c.equal(selected_id(), running, "%s: the running task stays current" % what)
        c.equal(sorted(r[1] for r in rows), all_ids, "%s: the same thread ids" % what)
        c.equal(listed_ids()[:1], [running], "%s: the running task listed first" % what)

    for command in ("stepi", "next", "stepi"):
        out, err = execute(command)
        c.check(err is None, "%s in the running task (%s)" % (command, err))
        same_threads(command)
    c.check(run(expected["stop_routine"]), "continue back to the stop routine")
    same_threads("continue")
    gdb.execute("disable 2")
    run(None, interrupt_after=0.3)
    c.check(gdb.newest_frame().name() in (expected["stop_routine"], expected["running_task"]),
            "interrupt stops in the running task's loop")
    same_threads("interrupt")
    gdb.execute("enable 2")

    # A step asked for a task that is not running is refused: nothing moves.
    waiting = ids["fp_worker"]
    select(waiting)
    pc_before = register("pc")
    stops_before = evaluate("qx_model_stop_count")
    out, err = execute("stepi")
    text = (out or "") + (err or "")
    c.check(refused(out, err) and "fp_worker" in text,
            "stepi in a blocked task is refused with a message naming it: %r" % text)
    rows = threads()
    c.equal(sorted(r[1] for r in rows), all_ids, "after the refused step: the same threads")
    if select(waiting):
        c.equal(register("pc"), pc_before, "after the refused step: the blocked task's pc")
    c.equal(evaluate("qx_model_stop_count"), stops_before, "after the refused step: no progress")
    select(running)

    # A register written into the halted task is what it resumes with.
    halted = ids["halted"]
    select(halted)
    written = {"r4": 0xCAFE0004, "r7": 0x0BAD0007}
    for name, value in written.items():
        gdb.execute("set $%s = 0x%x" % (name, value))
        c.equal(register(name), value, "halted %s reads back after the write" % name)
    select(running)
    c.equal(register("r4") != written["r4"], True, "the running task's r4 is its own")
    errors_before = evaluate("qx_cpu_resume_errors")
    gdb.execute("set var qx_model_release_halted = 1")
    gdb.execute("delete")
    if not run_to(expected, "qx_cpu_check_resume"):
        return 2
    c.equal(selected_id(), halted, "the released task is current at its resume check")
    regs = evaluate("$r0")  # apsr, r0-r12, lr as the resumed task found them
    for name, value in written.items():
        seen = int.from_bytes(bytes(gdb.selected_inferior().read_memory(
            regs + 4 * (1 + int(name[1:])), 4)), "little")
        c.equal(seen, value, "the halted task resumed with the written %s" % name)
    gdb.execute("delete")
    if not run_to(expected, expected["stop_routine"]):
        return 2
    c.equal(evaluate("qx_cpu_resume_errors"), errors_before + len(written),
            "the resume check counted the written registers")
    rows = {r[1]: r for r in threads()}
    c.equal(selected_id(), halted, "the released task is current at the next stop")
    c.equal(listed_ids()[:1], [halted], "the released task is listed first at the next stop")
    c.check("running" in (rows.get(halted, (0, 0, 0, ""))[3] or "").lower(),
            "the released task shows as running: %r" % (rows.get(halted),))
    c.check("halted" in (rows.get(running, (0, 0, 0, ""))[3] or "").lower(),
            "the supervisor shows as halted: %r" % (rows.get(running),))
    gdb.execute("kill")
    check_exit(c, stats, "control")
    return 0


def snapshot(expected, ids):
    rows = [(r[1], r[2], r[3]) for r in threads()]
    texts = {}
    for t in expected["tasks"]:
        if select(ids[t["name"]]):
            texts[t["name"]] = execute("bt")[0]
    return rows, texts


def ram_range():
    """The RAM in use: from RAM's origin in the image's linker script to the
    end of its last section (the boot stack). The rest of the 4 MiB is never
    written, and reading it over the pipe costs about 10 s."""
    path = os.path.join(HERE, "..", "..", "targets", "cortex-m", "model.ld")
    with open(path) as f:
        m = re.search(r"RAM\s*\([a-z]*\)\s*:\s*ORIGIN\s*=\s*(0x[0-9A-Fa-f]+)", f.read())
    return int(m.group(1), 16), evaluate("&__qx_msp_top")


def check_dump(c, expected, ids, live, elf, source, where, running_too):
    command, stats = proxy_command(elf, *source)
    if not connect(c, command, where):
        return
    # The running task is named in the very first stop reply: GDB's thread
    # 1, current, holding the registers GDB read before it had the list.
    first = sorted(gdb.selected_inferior().threads(), key=lambda t: t.num)[:1]
    running = ids[expected["running_task"]]
    if running_too:
        c.equal([t.ptid[1] or t.ptid[2] for t in first], [running],
                "%s: the running task is thread 1" % where)
        c.equal(selected_id(), running, "%s: the running task is current" % where)
    rows, texts = snapshot(expected, ids)
    live_rows, live_texts = live
    c.equal(rows, live_rows, "%s: info threads as live" % where)
    for t in expected["tasks"]:
        if t["running"] and not running_too:
            continue
        c.equal(texts.get(t["name"]), live_texts.get(t["name"]), "%s: bt of %s as live"
                % (where, t["name"]))
    text, err = execute("thread apply all bt")
    c.check(err is None, "%s: thread apply all bt completes (%s)" % (where, err))
    for command in ("continue", "stepi"):
        select(ids[expected["running_task"]])
        out, err = execute(command)
        c.check(refused(out, err), "%s: %s is refused with a message: %r"
                % (where, command, (out or "") + (err or "")))
        c.equal(len(threads()), len(expected["tasks"]), "%s: threads after %s" % (where, command))
    execute("detach")
    check_exit(c, stats, where)


def scenario_postmortem(c, expected, elf):
    work = os.environ["QX_WORK"]
    command, stats = proxy_command(elf, "--remote-cmd", qemu_command(expected, elf))
    if not connect(c, command, "postmortem"):
        return 2
    if not run_to(expected, expected["stop_routine"]):
        return 2
    ids = task_ids(expected)
    live = snapshot(expected, ids)
    select(ids[expected["running_task"]])
    core = os.path.join(work, "model.core")
    ram = os.path.join(work, "model.ram")
    out, err = execute("gcore %s" % core)
    c.check(err is None and os.path.exists(core), "gcore through the proxy (%s)" % err)
    base, end = ram_range()
    out, err = execute("dump binary memory %s 0x%x 0x%x" % (ram, base, end))
    c.check(err is None and os.path.exists(ram), "dump of the RAM through the proxy (%s)" % err)
    gdb.execute("kill")
    check_exit(c, stats, "postmortem live")
    gdb.execute("delete")
    if os.path.exists(core):
        check_dump(c, expected, ids, live, elf, ["--core", core], "core", True)
    # A raw RAM image holds no CPU registers: the running task's frames
    # cannot be the live ones; the blocked tasks' must be.
    if os.path.exists(ram):
        check_dump(c, expected, ids, live, elf, ["--ram", "%s@0x%x" % (ram, base)], "ram", False)
    return 0


def scenario_silent_upstream(c, expected, elf):
    """An upstream that stops answering (fake_upstream.py in noise mode once
    memory at 0x90000000 is read), with GDB's default remote timeout: the
    read fails, and GDB and the proxy stay in step (each later request gets
    its own reply, not the late reply of an earlier one)."""
    fake = "python3 %s noise 0x%x" % (os.path.join(HERE, "fake_upstream.py"),
                                      evaluate("&qx_cpu_reset_handler"))
    command, stats = proxy_command(elf, "--remote-cmd", fake)
    if not connect(c, command, "silent upstream"):
        return 2
    started = time.monotonic()
    out, err = execute("x/x 0x90000000")
    c.check(err is not None, "silent upstream: the read fails (%r)" % (err or out))
    for _ in range(3):
        out, err = execute("maint packet qC")
        c.check(err is None and 'received: "QC' in out,
                "silent upstream: qC gets its own reply: %r" % (err or out))
    rows = threads()
    c.equal(len(rows), 1, "silent upstream: one thread")
    print("silent upstream: %.2f s" % (time.monotonic() - started))
    execute("detach")
    return 0


def scenario_plugin_fails(c, expected, elf):
    """A plug-in that ends at once, and one that never answers: GDB sees one
    thread for the CPU whose text says why, memory and stepping still work,
    and GDB and the proxy stay in step."""
    work = os.environ["QX_WORK"]
    hang = os.path.join(work, "hanging_plugin.sh")
    with open(hang, "w") as f:
        f.write("#!/bin/sh\nexec sleep 600\n")
    os.chmod(hang, 0o755)
    for what, plugin in (("plug-in ends", "/bin/true"), ("plug-in hangs", hang)):
        started = time.monotonic()
        command, stats = proxy_command(elf, "--remote-cmd", qemu_command(expected, elf),
                                       "--plugin", plugin)
        if not connect(c, command, what):
            return 2
        gdb.execute("break %s" % expected["stop_routine"])
        if not run(expected["stop_routine"]):
            return 2
        rows = threads()
        c.equal(len(rows), 1, "%s: one thread" % what)
        c.check(rows and "plug-in" in (rows[0][3] or ""), "%s: its text says why: %r"
                % (what, rows[0][3] if rows else None))
        c.equal(evaluate("qx_model_board"), 385 if not expected["fpu"] else 386,
                "%s: memory reads" % what)
        out, err = execute("stepi")
        c.check(err is None, "%s: stepi (%s)" % (what, err))
        out, err = execute("maint packet qC")
        c.check(err is None and 'received: "QC' in out, "%s: qC gets its own reply: %r"
                % (what, err or out))
        print("%s: %.2f s" % (what, time.monotonic() - started))
        gdb.execute("kill")
        gdb.execute("delete")
        check_exit(c, stats, what)
    return 0


SCENARIOS = {
    "plugin_fails": scenario_plugin_fails,
    "silent_upstream": scenario_silent_upstream,
    "live": scenario_live,
    "control": scenario_control,
    "postmortem": scenario_postmortem,
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
    gdb.execute("set pagination off")
    gdb.execute("set confirm off")
    started = time.monotonic()
    c = Checks()
    try:
        status = scenario(c, expected, elf)
    except Exception as e:  # report and fail rather than hang the batch run
        print("FAIL: %s: %s: %s" % (name, type(e).__name__, e))
        status = 1
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
