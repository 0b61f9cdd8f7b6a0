"""One measured GDB session of the proxy benchmark (run by proxy_bench.py).

Run as:  gdb-multiarch -nx -batch -x bench/proxy_bench_gdb.py ELF
with QX_PROXY (osa_gdbproxy), QX_PROXY_OPTIONS (extra options, split on
blanks), QX_STATS (the proxy's counter file), QX_STEPS (how far to go:
0 connect, 1 stop at the stop routine, 2 then `info threads`, 3 then
`thread apply all bt`) and QX_TIMES (where the wall times of the steps are
written as JSON). QEMU runs as the proxy's child.
"""

import json
import os
import time

import gdb


def main():
    manifest = json.load(open(os.path.splitext(gdb.current_progspace().filename)[0] + ".json"))
    elf = gdb.current_progspace().filename
    qemu = ("setpriv --pdeathsig KILL qemu-system-arm -M %s -display none -monitor none "
            "-serial none -kernel %s -S -gdb stdio" % (manifest["machine"], elf))
    options = os.environ.get("QX_PROXY_OPTIONS", "").split()
    command = "%s --elf %s --remote-cmd '%s' --stats %s %s" % (
        os.environ["QX_PROXY"], elf, qemu, os.environ["QX_STATS"], " ".join(options))
    steps = int(os.environ["QX_STEPS"])
    times = {}
    gdb.execute("set pagination off")
    started = time.monotonic()
    gdb.execute("target remote | " + command, to_string=True)
    times["connect"] = time.monotonic() - started
    if steps >= 1:
        gdb.execute("break %s" % manifest["stop_routine"], to_string=True)
        started = time.monotonic()
        gdb.execute("continue", to_string=True)
        times["stop"] = time.monotonic() - started
    if steps >= 2:
        started = time.monotonic()
        text = gdb.execute("info threads", to_string=True)
        times["info threads"] = time.monotonic() - started
        times["threads shown"] = sum(1 for line in text.splitlines() if "Thread " in line)
    if steps >= 3:
        started = time.monotonic()
        text = gdb.execute("thread apply all bt", to_string=True)
        times["thread apply all bt"] = time.monotonic() - started
    with open(os.environ["QX_TIMES"], "w") as f:
        json.dump(times, f)
    gdb.execute("kill")


try:
    main()
    gdb.execute("quit 0")
except Exception as e:  # noqa: BLE001 - GDB's batch mode would exit 0
    print("proxy bench: %s: %s" % (type(e).__name__, e))
    gdb.execute("quit 1")
