"""Answers to the plug-in's OSA_Service_* requests, from GDB.

Each handler takes the request's params and returns (status, members):
status becomes the answer's "return", members (in order) go before it. A
status other than 0 means the debugger could not do what was asked; the
plug-in shows its own messages for that. Registers use the kernel's
numbering (r0-r12 = 0-12, sp 13, lr 14, pc 15, xPSR 16, s0-s31 17-48,
FPSCR 49) and are mapped by name onto GDB's, which depend on the target
description.
"""

import re
import struct

import gdb

from .wire import to_wire_int

FAILED = (1, {})
MAX_MEMORY_BYTES = 1 << 20

REGISTER_NAMES = (["r%d" % i for i in range(13)] + ["sp", "lr", "pc", "xpsr"] +
                  ["s%d" % i for i in range(32)] + ["fpscr"])
FLOAT_REGISTER = re.compile(r"^s\d+$")

SYM_EXISTS = re.compile(r"^\s*\$M_sym_exists\s*\(\s*([A-Za-z_.$][\w.$]*)\s*\)\s*$")
STRING_EVAL = re.compile(r"^\s*`(.*)`\s*$", re.S)
PRINT_PREFIX = re.compile(r"^\$\d+ = ", re.S)
CALLER_ROUTINE = 'E 1; mprintf("%s", $_PROCEDURE);'
CURRENT_ROUTINE = 'E; mprintf("%s", $_PROCEDURE);'


def _int(params, name):
    value = params.get(name)
    if isinstance(value, bool) or not isinstance(value, int):
        raise KeyError(name)
    return value


# Expressions come from the plug-in and are only ever read: no assignment,
# no increment or decrement, no calls into the target.
_LITERALS = re.compile(r"'(?:[^'\\]|\\.)*'|\"(?:[^\"\\]|\\.)*\"")
_SIDE_EFFECT = re.compile(r"(?<![=!<>])=(?!=)|<<=|>>=|\+\+|--")


def has_side_effect(expression):
    return _SIDE_EFFECT.search(_LITERALS.sub("", expression)) is not None


class NoTargetCalls:
    """Forbids calls into the target while the plug-in's expressions are
    evaluated (for one whole client request), and puts the user's setting
    back afterwards."""

    def __enter__(self):
        self.saved = gdb.parameter("may-call-functions")
        if self.saved:
            gdb.execute("set may-call-functions off", to_string=True)

    def __exit__(self, *exc):
        if self.saved:
            gdb.execute("set may-call-functions on", to_string=True)
        return False


def value_to_int(value):
    """A GDB value as an integer; routines and labels without debug type
    give their address."""
    code = value.type.strip_typedefs().code
    if code == gdb.TYPE_CODE_VOID:
        raise gdb.error("the expression has no value")
    if code == gdb.TYPE_CODE_FUNC:
        value = value.address
    return int(value)


def symbol_exists(name):
    """True when the program has the symbol: globals, file statics, and
    symbols only the linker script defines."""
    try:
        if gdb.lookup_global_symbol(name) is not None:
            return True
        if gdb.lookup_static_symbol(name) is not None:
            return True
    except gdb.error:
        pass
    try:
        text = gdb.execute("info address %s" % name, to_string=True)
    except gdb.error:
        return False
    return not text.startswith("No symbol")


class _NewestFrame:
    """Selects the innermost frame for a register access and puts the
    user's selection back afterwards: the plug-in asks for the registers the
    CPU holds, whatever frame the user looks at."""

    def __enter__(self):
        self.saved = gdb.selected_frame()
        self.newest = gdb.newest_frame()
        if self.saved != self.newest:
            self.newest.select()
        return self.newest

    def __exit__(self, *exc):
        try:
            if self.saved != self.newest and self.saved.is_valid():
                self.saved.select()
        except gdb.error:
            pass
        return False


def register_name(number):
    if not 0 <= number < len(REGISTER_NAMES):
        return None
    return REGISTER_NAMES[number]


def read_register_bits(name):
    """The register's bits as an unsigned 32-bit number."""
    with _NewestFrame() as frame:
        if FLOAT_REGISTER.match(name):
            text = gdb.execute("output/x $%s" % name, to_string=True).strip()
            return int(text, 16) & 0xFFFFFFFF
        return int(frame.read_register(name)) & 0xFFFFFFFF


def write_register_bits(name, bits):
    bits &= 0xFFFFFFFF
    with _NewestFrame():
        if FLOAT_REGISTER.match(name):
            value = struct.unpack("<f", struct.pack("<I", bits))[0]
            if value != value or value in (float("inf"), float("-inf")):
                raise gdb.error("cannot write NaN or infinity bits to %s" % name)
            # A float widened to a double is exact, and repr() gives the
            # double back exactly; GDB narrows it to the same float again.
            gdb.execute("set var $%s = %r" % (name, value), to_string=True)
        else:
            gdb.execute("set var $%s = %d" % (name, bits), to_string=True)
    if read_register_bits(name) != bits:
        raise gdb.error("%s did not take the value" % name)


class GdbServices:
    """Dispatches service requests by method name."""

    def __init__(self, show_message=None):
        self.messages = []  # every text the plug-in asked to show, in order
        self._show = show_message or (lambda kind, text: gdb.write(text, gdb.STDERR))
        self._handlers = {
            "OSA_Service_ExpressionEval": self.expression_eval,
            "OSA_Service_StringEval": self.string_eval,
            "OSA_Service_CommandExec": self.command_exec,
            "OSA_Service_MemoryRead": self.memory_read,
            "OSA_Service_MemoryWrite": self.memory_write,
            "OSA_Service_RegisterRead": self.register_read,
            "OSA_Service_RegisterWrite": self.register_write,
            "OSA_Service_SymbolFromAddress": self.symbol_from_address,
            "OSA_Service_MessageDisplay": self.message_display,
            "OSA_Service_CpuModeGet": self.cpu_mode_get,
            "OSA_Service_TargetStatus": self.target_status,
        }

    def __call__(self, method, params):
        handler = self._handlers.get(method)
        if handler is None:
            return FAILED
        try:
            return handler(params)
        except (KeyError, ValueError, OverflowError, gdb.error, gdb.MemoryError):
            return FAILED

    def expression_eval(self, params):
        expression = params["expression"]
        if not isinstance(expression, str):
            return FAILED
        match = SYM_EXISTS.match(expression)
        if match:
            return 0, {"output": 1 if symbol_exists(match.group(1)) else 0}
        if has_side_effect(expression):
            return FAILED
        value = value_to_int(gdb.parse_and_eval(expression))
        return 0, {"output": to_wire_int(value)}

    def string_eval(self, params):
        text = params["input"]
        if not isinstance(text, str):
            return FAILED
        match = STRING_EVAL.match(text)
        command = match.group(1) if match else text
        if not command.lstrip().startswith(("print ", "p ", "output ")) or \
                has_side_effect(command):
            return FAILED  # only printing: the plug-in never changes state this way
        printed = gdb.execute(command, to_string=True)
        printed = PRINT_PREFIX.sub("", printed, count=1).rstrip("\n")
        return 0, {"value": printed}

    def command_exec(self, params):
        command = params["command"]
        if command == CURRENT_ROUTINE:
            frame = gdb.newest_frame()
        elif command == CALLER_ROUTINE:
            frame = gdb.newest_frame().older()
        else:
            return FAILED
        name = frame.name() if frame is not None else None
        if not name:
            return FAILED
        return 0, {"output": name}

    def memory_read(self, params):
        address, count = _int(params, "address"), _int(params, "count")
        if count <= 0 or count > MAX_MEMORY_BYTES or address < 0:
            return FAILED
        data = bytes(gdb.selected_inferior().read_memory(address, count))
        return 0, {"value": data.hex()}

    def memory_write(self, params):
        address, count = _int(params, "address"), _int(params, "count")
        text = params["value"]
        if (count <= 0 or count > MAX_MEMORY_BYTES or address < 0 or not isinstance(text, str)
                or len(text) != 2 * count):
            return FAILED
        gdb.selected_inferior().write_memory(address, bytes.fromhex(text))
        return 0, {}

    def register_read(self, params):
        name = register_name(_int(params, "register"))
        if name is None or "taskId" in params:
            return FAILED
        bits = read_register_bits(name)
        width = params.get("width", -1)
        if isinstance(width, int) and 0 < width < 4:
            bits &= (1 << (8 * width)) - 1
        return 0, {"value": bits}

    def register_write(self, params):
        name = register_name(_int(params, "register"))
        if name is None or "taskId" in params:
            return FAILED
        write_register_bits(name, _int(params, "value"))
        return 0, {}

    def symbol_from_address(self, params):
        address = _int(params, "address") & 0xFFFFFFFF
        try:
            block = gdb.block_for_pc(address)
        except RuntimeError:
            block = None
        if block is not None and block.function is not None:
            return 0, {"name": block.function.name}
        text = gdb.execute("info symbol 0x%x" % address, to_string=True)
        if text.startswith("No symbol"):
            return FAILED
        name = text.split(" in section ", 1)[0].strip()
        return 0, {"name": name.split(" + ", 1)[0]}

    def message_display(self, params):
        text = params.get("message")
        if not isinstance(text, str):
            return FAILED
        kind = params.get("messageType")
        self.messages.append(text)
        self._show(kind, text)
        return 0, {}

    def cpu_mode_get(self, params):
        # The emulated M-profile cores run the kernel privileged, tasks
        # included: never user mode.
        return 0, {"inUserMode": 0}

    def target_status(self, params):
        thread = gdb.selected_thread()
        if thread is None or not thread.is_valid():
            return FAILED
        return 0, {"status": 0 if thread.is_stopped() else 1}
