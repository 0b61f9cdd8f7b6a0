"""The user's commands (`qx ...`) and the stop notices.

One plug-in process serves the GDB session; it starts on the first command
that needs it. `qx restart` and `qx record FILE` replace it with a fresh
process (a record must start from a fresh plug-in, whose request ids start
at 0).
"""

import os
import shutil

import gdb

from . import plugin as plugin_module
from . import session as session_module
from .services import REGISTER_NAMES

OBJECT_KINDS = {
    "timers": [session_module.TIMERS],
    "mutexes": [session_module.MUTEXES],
    "semaphores": [session_module.SEMAPHORES],
    "queues": [session_module.QUEUES],
    "events": [session_module.EVENTS],
    "pools": [session_module.BLOCK_POOLS, session_module.MEMORY_POOLS],
}
KIND_TITLES = {
    session_module.TIMERS: "Timers", session_module.MUTEXES: "Mutexes",
    session_module.SEMAPHORES: "Semaphores", session_module.QUEUES: "Queues",
    session_module.EVENTS: "Event flags", session_module.BLOCK_POOLS: "Block pools",
    session_module.MEMORY_POOLS: "Memory pools",
}


class Host:
    """The GDB side of the conversation: which plug-in, the open session."""

    def __init__(self):
        self.session = None
        self.last_stats = None

    def plugin_path(self):
        path = PLUGIN_PARAMETER.value if PLUGIN_PARAMETER.value else os.environ.get("OSA_PLUGIN")
        path = path or shutil.which("osa_plugin") or "osa_plugin"
        return os.path.expanduser(path)

    def start(self, record_path=None):
        self.stop()
        self.session = session_module.Session(self.plugin_path(), record_path,
                                              cache=CACHE_PARAMETER.value)
        return self.session

    def stop(self):
        if self.session is not None:
            try:
                self.session.close()
            finally:
                self.session = None

    def drop(self):
        """Forgets a broken plug-in: no Exit request, the process is ended."""
        if self.session is not None:
            try:
                self.session.close(exit_request=False)
            except (plugin_module.PluginError, OSError):
                pass
            self.session = None

    def get(self):
        if self.session is None or not self.session.plugin.alive():
            self.session = None
            return self.start()
        return self.session

    def measured(self, action):
        """Runs action(session) with fresh counters kept as the last figures."""
        s = self.get()
        s.plugin.stats = plugin_module.Stats()
        try:
            return action(s)
        finally:
            self.last_stats = s.plugin.stats

    def on_stop(self, event):
        s = self.session
        if s is None or not s.target_ready:
            return
        try:
            s.notify(0)
        except plugin_module.PluginError as e:
            gdb.write("qx: target notice failed: %s\n" % e, gdb.STDERR)

    def on_target_changed(self, event):
        s = self.session
        if s is None:
            return
        try:
            s.target_changed()
        except plugin_module.PluginError as e:
            gdb.write("qx: target notice failed: %s\n" % e, gdb.STDERR)

    def on_exit(self, event):
        s = self.session
        if s is None or not s.target_ready:
            return
        try:
            s.target_cleanup()
        except plugin_module.PluginError:
            pass


HOST = Host()


class PluginParameter(gdb.Parameter):
    """Path of the osa_plugin executable (default: $OSA_PLUGIN, then PATH)."""

    set_doc = "Set the path of the OSA plug-in executable."
    show_doc = "Show the path of the OSA plug-in executable."

    def __init__(self):
        super().__init__("osa-plugin", gdb.COMMAND_DATA, gdb.PARAM_OPTIONAL_FILENAME)
        self.value = ""

    def get_set_string(self):
        return ""

    def get_show_string(self, value):
        return value or "(from $OSA_PLUGIN or PATH: %s)" % HOST.plugin_path()


PLUGIN_PARAMETER = PluginParameter()


class CacheParameter(gdb.Parameter):
    """Whether the plug-in keeps layouts and target memory between requests
    (on by default; the answers are the same, the round trips far fewer).
    Off, the conversation is exactly the plug-in's specified one."""

    set_doc = "Set whether the OSA plug-in caches layouts and target memory."
    show_doc = "Show whether the OSA plug-in caches layouts and target memory."

    def __init__(self):
        super().__init__("osa-cache", gdb.COMMAND_DATA, gdb.PARAM_BOOLEAN)
        self.value = True

    def get_set_string(self):
        s = HOST.session
        if s is not None and s.plugin.alive():
            try:
                s.set_cache(bool(self.value))
            except plugin_module.PluginError as e:
                return "qx: the plug-in did not take the cache setting: %s" % e
        return ""

    def get_show_string(self, value):
        return value


CACHE_PARAMETER = CacheParameter()


def _cell(value):
    if value is None:
        return "?"
    if value == "":
        return "-"
    if isinstance(value, int):
        return "0x%x" % value
    return str(value)


def format_table(titles, rows):
    """Rows of cells as text columns, each as wide as its widest cell."""
    cells = [[_cell(v) for v in row] for row in rows]
    widths = [len(t) for t in titles]
    for row in cells:
        widths = [max(w, len(c)) for w, c in zip(widths, row)]
    lines = ["  ".join(t.ljust(w) for t, w in zip(titles, widths)).rstrip()]
    for row in cells:
        lines.append("  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip())
    return "\n".join(lines) + "\n"


def _run(action):
    try:
        return HOST.measured(action)
    except session_module.SessionError as e:
        raise gdb.GdbError("qx: %s" % e)
    except plugin_module.PluginError as e:
        HOST.drop()
        raise gdb.GdbError("qx: %s (the plug-in starts afresh on the next command)" % e)


def tasks_table(s, everything=False):
    columns = session_module.TASK_ATTRIBUTES
    if everything:
        columns = columns + session_module.TASK_EXTRA_ATTRIBUTES
    rows = s.walk(session_module.TASKS, [a for a, _ in columns])
    return format_table([t for _, t in columns], [[r[a] for a, _ in columns] for r in rows])


def objects_table(s, type_id):
    columns = session_module.OBJECT_ATTRIBUTES[type_id]
    rows = s.walk(type_id, [a for a, _ in columns])
    return format_table([t for _, t in columns], [[r[a] for a, _ in columns] for r in rows])


def target_register_names():
    """The kernel's register numbers that this target has, by name."""
    try:
        have = {r.name for r in gdb.selected_frame().architecture().registers()}
    except (gdb.error, AttributeError):
        have = set(REGISTER_NAMES[:17])
    return [(n, name) for n, name in enumerate(REGISTER_NAMES) if name in have]


class QxCommand(gdb.Command):
    """Kernel awareness through the OSA plug-in.

qx init               describe the stopped target to the plug-in
qx tasks [all]        the task list (all: every task attribute)
qx objects KIND       timers, mutexes, semaphores, queues, events or pools
qx regs TASK          saved registers of a task (id or name)
qx record FILE        restart the plug-in and record the conversation
qx record stop        stop recording
qx restart            start a fresh plug-in process
qx stats              requests and times of the last command
set osa-cache off     ask the target afresh for every request (on by default)"""

    def __init__(self):
        super().__init__("qx", gdb.COMMAND_USER, prefix=True)

    def invoke(self, arg, from_tty):
        gdb.execute("help qx")


class QxInit(gdb.Command):
    """Describe the stopped target to the plug-in (OSA_Client_TargetInit)."""

    def __init__(self):
        super().__init__("qx init", gdb.COMMAND_USER)

    def invoke(self, arg, from_tty):
        def action(s):
            if not s.kernel_aware():
                raise session_module.SessionError("the plug-in offers no kernel awareness")
            status = s.target_init()
            answer = s.last_target_init
            if status == 0:
                major = answer.get("osaKernelMajorVersion")
                version = " (kernel %s.%s)" % (major, answer.get("osaKernelMinorVersion")) \
                    if major else ""
                gdb.write("Kernel awareness on%s.\n" % version)
            elif status == session_module.STARTUP_REFUSED:
                gdb.write("The target is still in its start-up code; run it further.\n")
            else:
                gdb.write("The plug-in could not recognise the kernel (return %s).\n" % status)
        _run(action)


class QxTasks(gdb.Command):
    """The task list: qx tasks [all]."""

    def __init__(self):
        super().__init__("qx tasks", gdb.COMMAND_USER)

    def invoke(self, arg, from_tty):
        everything = arg.strip() == "all"
        if arg.strip() not in ("", "all"):
            raise gdb.GdbError("usage: qx tasks [all]")
        gdb.write(_run(lambda s: tasks_table(s, everything)))


class QxObjects(gdb.Command):
    """Kernel objects: qx objects timers|mutexes|semaphores|queues|events|pools."""

    def __init__(self):
        super().__init__("qx objects", gdb.COMMAND_USER)

    def invoke(self, arg, from_tty):
        kinds = OBJECT_KINDS.get(arg.strip())
        if kinds is None:
            raise gdb.GdbError("usage: qx objects " + "|".join(OBJECT_KINDS))

        def action(s):
            parts = []
            for type_id in kinds:
                if len(kinds) > 1:
                    parts.append(KIND_TITLES[type_id] + ":\n")
                parts.append(objects_table(s, type_id))
            return "".join(parts)
        gdb.write(_run(action))

    def complete(self, text, word):
        return [k for k in OBJECT_KINDS if k.startswith(text.strip())]


class QxRegs(gdb.Command):
    """Registers of a task as the plug-in finds them: qx regs TASK (id or name)."""

    def __init__(self):
        super().__init__("qx regs", gdb.COMMAND_USER)

    def invoke(self, arg, from_tty):
        spec = arg.strip()
        if not spec:
            raise gdb.GdbError("usage: qx regs TASK")

        def action(s):
            task_id, name = s.find_task(spec)
            lines = ["Task 0x%x %s\n" % (task_id, name)]
            for number, reg in target_register_names():
                status, value = s.task_register_read(task_id, number)
                shown = "0x%08x" % value if status == 0 else "<unavailable>"
                lines.append("%-6s %s\n" % (reg, shown))
            return "".join(lines)
        gdb.write(_run(action))


class QxRecord(gdb.Command):
    """Record the conversation with a fresh plug-in: qx record FILE | qx record stop."""

    def __init__(self):
        super().__init__("qx record", gdb.COMMAND_USER)

    def invoke(self, arg, from_tty):
        path = arg.strip()
        if not path:
            raise gdb.GdbError("usage: qx record FILE | qx record stop")
        if path == "stop":
            if HOST.session is not None:
                HOST.session.stop_recording()
            return
        try:
            HOST.start(os.path.expanduser(path))
        except (session_module.SessionError, plugin_module.PluginError, OSError) as e:
            HOST.session = None
            raise gdb.GdbError("qx: %s" % e)
        gdb.write("Recording the plug-in conversation to %s\n" % path)


class QxRestart(gdb.Command):
    """Start a fresh plug-in process."""

    def __init__(self):
        super().__init__("qx restart", gdb.COMMAND_USER)

    def invoke(self, arg, from_tty):
        try:
            s = HOST.start()
        except (session_module.SessionError, plugin_module.PluginError) as e:
            HOST.session = None
            raise gdb.GdbError("qx: %s" % e)
        if not s.kernel_aware():
            gdb.write("The plug-in offers no kernel awareness: its OsaInit lists only %s.\n"
                      % ", ".join(s.commands))


class QxStats(gdb.Command):
    """Requests and times of the last qx command."""

    def __init__(self):
        super().__init__("qx stats", gdb.COMMAND_USER)

    def invoke(self, arg, from_tty):
        st = HOST.last_stats
        if st is None:
            gdb.write("No qx command has run yet.\n")
            return
        gdb.write(format_stats(st))


def format_stats(st):
    lines = ["client requests %d, service requests %d\n" % (st.client_requests,
                                                               st.service_requests),
             "wall %.1f ms: GDB and target %.1f ms, plug-in and pipe %.1f ms, "
             "host framing and JSON %.1f ms\n" % (
                 1e3 * st.total_seconds, 1e3 * st.host_seconds, 1e3 * st.wait_seconds,
                 1e3 * st.overhead_seconds())]
    for method, (count, spent) in sorted(st.by_method.items(), key=lambda kv: -kv[1][0]):
        lines.append("  %-30s %6d  %8.1f ms\n" % (method, count, 1e3 * spent))
    return "".join(lines)


def register():
    QxCommand()
    QxInit()
    QxTasks()
    QxObjects()
    QxRegs()
    QxRecord()
    QxRestart()
    QxStats()
    gdb.events.stop.connect(HOST.on_stop)
    gdb.events.exited.connect(HOST.on_exit)
    gdb.events.memory_changed.connect(HOST.on_target_changed)
    gdb.events.register_changed.connect(HOST.on_target_changed)
