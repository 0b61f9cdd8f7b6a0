"""Helpers shared by the scripts that check the model kernel through GDB.

A tally of checks that prints each failure, the task state texts the checks
expect, and the GDB calls every such script makes. GDB's module is imported
where it is used, so that scripts run by plain Python (no GDB) share the
tally too.
"""

# The state the plug-in shows for each task status the model kernel keeps.
STATUS_TEXT = {0: "Ready", 1: "Exited", 2: "Halted", 3: "Pended (sleep)", 4: "Pended (queue)",
               5: "Pended (semaphore)", 6: "Pended (event flags)", 7: "Pended (block pool)",
               8: "Pended (mutex)", 9: "Pended (malloc pool)"}


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = []

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed.append(what)
            print("FAIL: " + what)
        return ok

    def equal(self, got, want, what):
        if got == want:
            return self.check(True, what)
        return self.check(False, "%s: got %s, want %s" % (what, show(got), show(want)))


def show(v):
    """A value as a failure line shows it: numbers in hex."""
    return hex(v) if isinstance(v, int) else repr(v)


def finish(status):
    """Ends the target if there is one, then GDB with this exit status."""
    import gdb

    try:
        gdb.execute("kill")
    except gdb.error:
        pass
    gdb.execute("quit %d" % status)


def value_int(value):
    """A value as an unsigned 32-bit number; code symbols give their address."""
    import gdb

    if value.type.strip_typedefs().code == gdb.TYPE_CODE_FUNC:
        value = value.address
    return int(value) & 0xFFFFFFFF


def evaluate(expr):
    """The expression's value as value_int gives it; GDB's error when it
    refuses the expression."""
    import gdb

    return value_int(gdb.parse_and_eval(expr))
