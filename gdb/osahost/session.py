"""One debugging session with the plug-in: its context, the target's
description, stop notices, and the object and task requests the commands
use.

The session opens context 1 with OSA_Client_OsaInit as soon as the plug-in
runs; OSA_Client_TargetInit follows when a command first needs the kernel
(the target must be stopped past its start-up code, or the plug-in answers
2). After that every stop of the target is reported with
OSA_Client_TargetNotify, notice 0.
"""

import gdb

from . import plugin as plugin_module
from .services import GdbServices, NoTargetCalls
from .wire import to_wire_int

CONTEXT = 1
# The Cortex-M family as the debugger describes it to the plug-in.
MAJOR_CPU_TYPE = 7
MINOR_CPU_TYPE = 0

# Object types, as the plug-in numbers them.
TASKS, TIMERS, MUTEXES, SEMAPHORES, QUEUES, EVENTS, BLOCK_POOLS, MEMORY_POOLS = range(1, 9)
END_OF_LIST = 2
STARTUP_REFUSED = 2

# Attribute numbers by their names in kernel/attribute_ids.def (the test
# gdb_host_attribute_ids holds the two lists together).
ATTR_IDENTITY = 0
ATTR_NAME = 1
ATTR_PENDING_TASK_COUNT = 9
ATTR_TASK_STATE = 2
ATTR_STATIC_PRIORITY = 3
ATTR_ACTIVE_PRIORITY = 4
ATTR_PENDED_ON = 5
ATTR_OWNED_MUTEX_COUNT = 6
ATTR_MUTEX_WAITERS = 7
ATTR_STACK_SIZE = 8
ATTR_STACK_START = 10
ATTR_PREEMPTION_THRESHOLD = 11
ATTR_TIME_SLICE = 18
ATTR_REMAINING_TIME_SLICE = 19
ATTR_EXIT_CODE = 20
ATTR_WAIT_TICKS = 21
ATTR_TLS_OFFSET = 22
ATTR_REMAINING_TICKS = 12
ATTR_TIMER_ACTIVE = 13
ATTR_ALARM_TICKS = 14
ATTR_REPEATING = 15
ATTR_EXPIRATION_ROUTINE = 16
ATTR_EXPIRATION_INPUT = 17
ATTR_REPEAT_TICKS = 26
ATTR_OWNER = 22
ATTR_NESTING_COUNT = 23
ATTR_PRIORITY_INHERIT = 24
ATTR_INHERITED_PRIORITY = 25
ATTR_SEMAPHORE_COUNT = 32
ATTR_MESSAGE_COUNT = 42
ATTR_QUEUE_CAPACITY = 43
ATTR_MESSAGE_SIZE = 44
ATTR_FLAGS = 52
ATTR_REQUESTED_FLAGS = 53
ATTR_BLOCK_SIZE = 62
ATTR_AVAILABLE_BLOCKS = 63
ATTR_TOTAL_BLOCKS = 64
ATTR_AVAILABLE_BYTES = 72
ATTR_POOL_SIZE = 73
ATTR_FRAGMENTS = 74
ATTR_SMALLEST_PENDING_ALLOCATION = 75

# Attributes and their column titles, per object type.
TASK_ATTRIBUTES = [(ATTR_IDENTITY, "id"), (ATTR_NAME, "name"), (ATTR_TASK_STATE, "state"),
                   (ATTR_STATIC_PRIORITY, "prio"), (ATTR_ACTIVE_PRIORITY, "active"),
                   (ATTR_STACK_START, "stack start"), (ATTR_STACK_SIZE, "stack size"),
                   (ATTR_PENDED_ON, "pended on")]
TASK_EXTRA_ATTRIBUTES = [(ATTR_PREEMPTION_THRESHOLD, "threshold"),
                         (ATTR_OWNED_MUTEX_COUNT, "mutexes"),
                         (ATTR_MUTEX_WAITERS, "mutex waiters"), (ATTR_TIME_SLICE, "slice"),
                         (ATTR_REMAINING_TIME_SLICE, "slice left"), (ATTR_EXIT_CODE, "exit code"),
                         (ATTR_WAIT_TICKS, "wait ticks"), (ATTR_TLS_OFFSET, "tls offset")]
OBJECT_ATTRIBUTES = {
    TIMERS: [(ATTR_IDENTITY, "id"), (ATTR_NAME, "name"), (ATTR_TIMER_ACTIVE, "active"),
             (ATTR_REMAINING_TICKS, "remaining"), (ATTR_ALARM_TICKS, "alarm ticks"),
             (ATTR_REPEATING, "repeating"), (ATTR_REPEAT_TICKS, "repeat ticks"),
             (ATTR_EXPIRATION_ROUTINE, "routine"), (ATTR_EXPIRATION_INPUT, "input")],
    MUTEXES: [(ATTR_IDENTITY, "id"), (ATTR_NAME, "name"), (ATTR_OWNER, "owner"),
              (ATTR_NESTING_COUNT, "nesting"), (ATTR_PRIORITY_INHERIT, "inherit"),
              (ATTR_INHERITED_PRIORITY, "inherited prio"), (ATTR_PENDING_TASK_COUNT, "waiting")],
    SEMAPHORES: [(ATTR_IDENTITY, "id"), (ATTR_NAME, "name"), (ATTR_SEMAPHORE_COUNT, "count"),
                 (ATTR_PENDING_TASK_COUNT, "waiting")],
    QUEUES: [(ATTR_IDENTITY, "id"), (ATTR_NAME, "name"), (ATTR_MESSAGE_COUNT, "messages"),
             (ATTR_QUEUE_CAPACITY, "capacity"), (ATTR_MESSAGE_SIZE, "message size"),
             (ATTR_PENDING_TASK_COUNT, "waiting")],
    EVENTS: [(ATTR_IDENTITY, "id"), (ATTR_NAME, "name"), (ATTR_FLAGS, "flags"),
             (ATTR_REQUESTED_FLAGS, "requested"), (ATTR_PENDING_TASK_COUNT, "waiting")],
    BLOCK_POOLS: [(ATTR_IDENTITY, "id"), (ATTR_NAME, "name"), (ATTR_BLOCK_SIZE, "block size"),
                  (ATTR_AVAILABLE_BLOCKS, "available"), (ATTR_TOTAL_BLOCKS, "total"),
                  (ATTR_PENDING_TASK_COUNT, "waiting")],
    MEMORY_POOLS: [(ATTR_IDENTITY, "id"), (ATTR_NAME, "name"),
                   (ATTR_AVAILABLE_BYTES, "available bytes"), (ATTR_POOL_SIZE, "size"),
                   (ATTR_FRAGMENTS, "fragments"),
                   (ATTR_SMALLEST_PENDING_ALLOCATION, "smallest pending"),
                   (ATTR_PENDING_TASK_COUNT, "waiting")],
}
TEXT_VALUE, NUMBER_VALUE = 0, 11


class SessionError(Exception):
    pass


def target_is_big_endian():
    try:
        return "big endian" in gdb.execute("show endian", to_string=True)
    except gdb.error:
        return False


class Session:
    def __init__(self, plugin_path, record_path=None, show_message=None, timeout=60.0,
                 cache=False):
        self.services = GdbServices(show_message)
        recorder = plugin_module.Recorder(record_path) if record_path else None
        try:
            self.plugin = plugin_module.PluginProcess(plugin_path, self.services, timeout,
                                                      recorder)
        except plugin_module.PluginError:
            if recorder:
                recorder.close()
            raise
        self.recorder = recorder
        self.commands = []
        self.target_ready = False
        self.last_target_init = None
        # The plug-in's cache: wanted after every TargetInit, and whether the
        # plug-in turned it on (one without it answers 0 and adds nothing).
        self.want_cache = cache
        self.cache_on = False
        self.busy = False
        try:
            answer = self.call("OSA_Client_OsaInit", {"context": CONTEXT})
        except plugin_module.PluginError:
            self.close(exit_request=False)
            raise
        if answer.get("return") != 0:
            raise SessionError("the plug-in refused the session (return %s)"
                               % answer.get("return"))
        self.commands = list(answer.get("commands") or [])

    def call(self, method, params):
        self.busy = True
        try:
            with NoTargetCalls():
                return self.plugin.call(method, params)
        finally:
            self.busy = False

    def close(self, exit_request=True):
        self.plugin.close(exit_request)
        if self.recorder:
            self.recorder.close()
            self.recorder = None

    def stop_recording(self):
        if self.recorder:
            self.plugin.recorder = None
            self.recorder.close()
            self.recorder = None

    def kernel_aware(self):
        return "OSA_Client_ObjectListInit" in self.commands

    # The target.

    def target_init(self):
        """Describes the target; returns the plug-in's status (2: the target
        is still in its start-up code)."""
        answer = self.call("OSA_Client_TargetInit", {
            "context": CONTEXT,
            "majorCpuType": MAJOR_CPU_TYPE,
            "minorCpuType": MINOR_CPU_TYPE,
            "bigEndianTarget": 1 if target_is_big_endian() else 0,
            "bigEndianHost": 0,
        })
        self.last_target_init = answer
        status = answer.get("return")
        self.target_ready = status == 0
        self.cache_on = False
        if self.target_ready and self.want_cache:
            self.set_cache(True)
        return status

    def set_cache(self, on):
        """Wants the plug-in's cache on or off; tells the plug-in at once when
        the target is described. True when the plug-in knows the command."""
        self.want_cache = on
        if not self.target_ready:
            return False
        answer = self.call("OSA_Client_OsaCmd_Execute", {
            "context": CONTEXT, "command": "cache on" if on else "cache off"})
        self.cache_on = on and answer.get("cache") == 1
        return "cache" in answer

    def target_changed(self):
        """The user changed memory or a register between stops: the plug-in
        drops what it kept of the target (a notice that is not a halt)."""
        if self.cache_on and self.target_ready and not self.busy:
            self.notify(1)

    def ensure_target(self):
        """TargetInit unless it has succeeded already; raises with the reason."""
        if not self.kernel_aware():
            raise SessionError("the plug-in offers no kernel awareness (its OsaInit lists "
                               "no object-list methods)")
        if self.target_ready:
            return
        status = self.target_init()
        if status == STARTUP_REFUSED:
            raise SessionError("the target is still in its start-up code; run it further")
        if status != 0:
            raise SessionError("the plug-in could not recognise the kernel (return %s)" % status)

    def notify(self, notice=0):
        if not self.target_ready:
            return None
        return self.call("OSA_Client_TargetNotify", {"context": CONTEXT, "notice": notice})

    def target_cleanup(self):
        if self.target_ready:
            self.target_ready = False
            self.call("OSA_Client_TargetCleanup", {"context": CONTEXT})

    # Objects and tasks.

    def attribute(self, type_id, attr, numeric=False):
        """One attribute of the object the walk stands on: (status, value)."""
        answer = self.call("OSA_Client_ObjectListAttribute", {
            "context": CONTEXT, "objTypeId": type_id, "objAtrId": attr,
            "valueType": NUMBER_VALUE if numeric else TEXT_VALUE})
        return answer.get("return"), answer.get("objAtrValue")

    def walk(self, type_id, attributes, numeric_ids=(0,)):
        """Every object of a type: a list of {attribute: value or None}.
        Attributes in numeric_ids are asked as numbers, the rest as text."""
        self.ensure_target()
        rows = []
        answer = self.call("OSA_Client_ObjectListInit", {"context": CONTEXT, "objTypeId": type_id})
        status = answer.get("return")
        try:
            while status == 0:
                row = {}
                for attr in attributes:
                    got, value = self.attribute(type_id, attr, attr in numeric_ids)
                    row[attr] = value if got == 0 else None
                rows.append(row)
                answer = self.call("OSA_Client_ObjectListNext",
                                   {"context": CONTEXT, "objTypeId": type_id})
                status = answer.get("return")
                if status not in (0, END_OF_LIST):
                    raise SessionError("the object list broke off (return %s)" % status)
        finally:
            self.call("OSA_Client_ObjectListCleanup", {"context": CONTEXT, "objTypeId": type_id})
        return rows

    def current_task(self):
        self.ensure_target()
        answer = self.call("OSA_Client_CurrentTaskGet", {"context": CONTEXT, "checkInKernel": 0})
        return answer.get("return"), answer.get("taskId")

    def task_status(self, task_id):
        answer = self.call("OSA_Client_TaskStatusGet", {"context": CONTEXT, "taskId": task_id})
        return answer.get("return"), answer.get("status")

    def task_register_read(self, task_id, register):
        answer = self.call("OSA_Client_TaskRegisterRead",
                           {"context": CONTEXT, "taskId": task_id, "register": register})
        value = answer.get("value")
        if isinstance(value, int):
            value &= 0xFFFFFFFFFFFFFFFF
        return answer.get("return"), value

    def task_register_write(self, task_id, register, value):
        answer = self.call("OSA_Client_TaskRegisterWrite",
                           {"context": CONTEXT, "taskId": task_id, "register": register,
                            "value": to_wire_int(value)})
        return answer.get("return")

    def find_task(self, spec):
        """A task id from a number (decimal or 0x hex) or a task name."""
        rows = self.walk(TASKS, [0, 1])
        number = None
        try:
            number = int(spec, 0)
        except ValueError:
            pass
        for row in rows:
            if row[1] == spec or (number is not None and row[0] == number):
                return row[0], row[1]
        if number is not None:
            return number, ""
        raise SessionError("no task named %s" % spec)
