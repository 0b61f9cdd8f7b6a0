"""The host's answers when the plug-in cannot help: no kernel awareness, a
plug-in that dies in the middle of a request, a plug-in that cannot start.
Run as:  gdb-multiarch -nx -batch -x tests/gdb/host_failures.py
(no target needed). Exit status 0 when every check passes."""

import os
import sys

import gdb

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
failed = []


def check(ok, what):
    print(("ok: " if ok else "FAIL: ") + what)
    if not ok:
        failed.append(what)


def error_of(command):
    try:
        gdb.execute(command, to_string=True)
    except gdb.error as e:
        return str(e)
    return None


def main():
    gdb.execute("source %s" % os.path.join(HERE, "..", "..", "gdb", "osa.py"))
    gdb.execute("set osa-plugin %s" % os.path.join(HERE, "fake_plugin.py"))
    os.environ["FAKE_PLUGIN_MODE"] = "plain"
    out = gdb.execute("qx restart", to_string=True)
    check("offers no kernel awareness" in out and "OSA_Client_Exit" in out,
          "qx restart says plainly that there is no kernel awareness: %r" % out)
    for command in ("qx tasks", "qx objects timers", "qx regs 1", "qx init"):
        text = error_of(command)
        check(text is not None and "no kernel awareness" in text,
              "%s without kernel awareness: %r" % (command, text))

    os.environ["FAKE_PLUGIN_MODE"] = "dies"
    gdb.execute("qx restart", to_string=True)
    text = error_of("qx tasks")
    check(text is not None and "the plug-in ended (exit status 5)" in text,
          "a plug-in that dies: %r" % text)
    os.environ["FAKE_PLUGIN_MODE"] = "plain"
    out = gdb.execute("qx restart", to_string=True)
    check("no kernel awareness" in out, "a fresh plug-in after one died")

    gdb.execute("set osa-plugin %s" % os.path.join(HERE, "no-such-plugin"))
    text = error_of("qx restart")
    check(text is not None and "cannot start" in text, "a plug-in that cannot start: %r" % text)

    text = error_of("qx objects nothing")
    check(text is not None and "usage" in text, "unknown object kind: %r" % text)


try:
    main()
except Exception as e:  # noqa: BLE001 - GDB's batch mode would exit 0
    check(False, "%s: %s" % (type(e).__name__, e))
gdb.execute("quit %d" % (1 if failed else 0))
