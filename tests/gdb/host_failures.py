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

    check_service_answers()


def check_service_answers():
    """Service answers that need no target."""
    from osahost.services import GdbServices
    serve = GdbServices(show_message=lambda kind, text: None)
    cases = [
        ("OSA_Service_ExpressionEval", {"expression": "(3 + 4) * 2"}, (0, {"output": 14})),
        ("OSA_Service_ExpressionEval", {"expression": "-1"}, (0, {"output": -1})),
        ("OSA_Service_ExpressionEval", {"expression": "sizeof(int) == 4"}, (0, {"output": 1})),
        ("OSA_Service_ExpressionEval", {"expression": "$no_such_variable"}, (1, {})),
        ("OSA_Service_ExpressionEval", {"expression": "$qx_probe = 5"}, (1, {})),
        ("OSA_Service_ExpressionEval", {"expression": "$qx_probe++"}, (1, {})),
        ("OSA_Service_ExpressionEval", {"expression": "$qx_probe <<= 1"}, (1, {})),
        ("OSA_Service_ExpressionEval", {"expression": "no_such_symbol"}, (1, {})),
        ("OSA_Service_ExpressionEval", {"expression": "$M_sym_exists(no_such_symbol)"},
         (0, {"output": 0})),
        ("OSA_Service_ExpressionEval", {"expression": 5}, (1, {})),
        ("OSA_Service_StringEval", {"input": "`print /a 16+0`"}, (0, {"value": "0x10"})),
        ("OSA_Service_StringEval", {"input": "`shell true`"}, (1, {})),
        ("OSA_Service_StringEval", {"input": "`print $qx_probe = 1`"}, (1, {})),
        ("OSA_Service_CommandExec", {"command": "shell true"}, (1, {})),
        ("OSA_Service_MemoryRead", {"address": 0, "count": 4}, (1, {})),
        ("OSA_Service_RegisterRead", {"register": 50, "width": -1}, (1, {})),
        ("OSA_Service_MessageDisplay", {"messageType": 2, "message": "Error: x\n"}, (0, {})),
        ("OSA_Service_YesNoChoose", {"default": 0, "message": "?"}, (1, {})),
    ]
    for method, params, want in cases:
        got = serve(method, params)
        check(got == want, "%s %r: %r" % (method, params, got))
    check(serve.messages == ["Error: x\n"], "shown messages are kept")
    from osahost.services import NoTargetCalls
    with NoTargetCalls():
        check(gdb.parameter("may-call-functions") is False, "no target calls during a request")
    check(gdb.parameter("may-call-functions") is True, "the user's setting is put back")


try:
    main()
except Exception as e:  # noqa: BLE001 - GDB's batch mode would exit 0
    check(False, "%s: %s" % (type(e).__name__, e))
gdb.execute("quit %d" % (1 if failed else 0))
