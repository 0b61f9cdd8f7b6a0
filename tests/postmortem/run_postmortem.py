#!/usr/bin/env python3
"""osa_postmortem on dumps of the model kernel taken under QEMU.

Run as:  run_postmortem.py SOURCE_DIR WORK_DIR OSA_POSTMORTEM OSA_PLUGIN m3|m4f
Builds the images, runs the board's image under QEMU through GDB to the
stop routine and takes three dumps there: GDB's gcore, QEMU's
dump-guest-memory (through GDB's monitor command) and a raw image of RAM
with `dump binary memory`. osa_postmortem must show every task of the
manifest in each, the running task as running, and the same windows from
all three. Exits 0 on success, 1 on a failure, 77 when a tool is missing.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

TOOLS = ["arm-none-eabi-gcc", "qemu-system-arm", "gdb-multiarch", "setpriv"]
RAM_START = 0x20000000


def fail(text):
    print("FAIL: " + text)
    return 1


def take_dumps(elf, machine, stop, work):
    core = os.path.join(work, "gcore.core")
    qemu_core = os.path.join(work, "qemu.core")
    ram = os.path.join(work, "ram.bin")
    qemu = ("target remote | exec setpriv --pdeathsig KILL qemu-system-arm -M %s -display none "
            "-monitor none -serial none -kernel %s -S -gdb stdio" % (machine, elf))
    commands = [qemu, "break " + stop, "continue", "gcore " + core,
                "dump binary memory %s 0x%x &__qx_msp_top" % (ram, RAM_START),
                "monitor dump-guest-memory " + qemu_core]
    args = ["gdb-multiarch", "-nx", "-batch"]
    for command in commands:
        args += ["-ex", command]
    subprocess.run(args + [elf], check=True, timeout=120, stdout=subprocess.DEVNULL)
    return core, qemu_core, ram


def windows(text):
    """The windows: everything after the "Plug-in:" line."""
    lines = text.splitlines()
    for i, line in enumerate(lines):
        if line.startswith("Plug-in:"):
            return "\n".join(lines[i + 1:])
    return ""


def task_rows(text):
    rows = {}
    in_tasks = False
    for line in text.splitlines():
        if line.startswith("Tasks ("):
            in_tasks = True
            continue
        if in_tasks and not line.strip():
            break
        m = re.match(r"^0x[0-9a-f]+\s+(\S+)\s+(\S+(?: \([^)]*\))?)", line)
        if in_tasks and m:
            rows[m.group(1)] = m.group(2)
    return rows


def check_run(label, args, manifest, failures):
    run = subprocess.run(args, capture_output=True, text=True, timeout=120)
    if run.returncode != 0:
        failures.append("%s: exit %d: %s" % (label, run.returncode, run.stderr.strip()))
        return ""
    rows = task_rows(run.stdout)
    for task in manifest["tasks"]:
        state = rows.get(task["name"])
        if state is None:
            failures.append("%s: task %s is not shown" % (label, task["name"]))
        elif task["running"] != (state == "Running"):
            failures.append("%s: task %s shows state %s" % (label, task["name"], state))
    if len(rows) != len(manifest["tasks"]):
        failures.append("%s: %d tasks shown, %d in the manifest" % (
            label, len(rows), len(manifest["tasks"])))
    print("%s: %d tasks" % (label, len(rows)))
    return windows(run.stdout)


def main():
    if len(sys.argv) != 6:
        print(__doc__)
        return 2
    src, work_root, postmortem, plugin, board = sys.argv[1:]
    src, work_root = os.path.abspath(src), os.path.abspath(work_root)
    for tool in TOOLS:
        if shutil.which(tool) is None:
            print("SKIPPED: %s is not installed" % tool)
            return 77
    sys.path.insert(0, os.path.join(src, "targets", "cortex-m"))
    sys.dont_write_bytecode = True
    import manifest as manifest_module

    manifest = manifest_module.manifest("model-" + board)
    os.makedirs(work_root, exist_ok=True)
    work = tempfile.mkdtemp(prefix="postmortem-%s." % board, dir=work_root)
    failures = []
    try:
        subprocess.run([os.path.join(src, "targets", "cortex-m", "build.sh"), work], check=True,
                       stdout=subprocess.DEVNULL)
        elf = os.path.join(work, "model-%s.elf" % board)
        core, qemu_core, ram = take_dumps(elf, manifest["machine"], manifest["stop_routine"], work)
        shown = [
            check_run("gcore", [postmortem, "--elf", elf, "--core", core], manifest, failures),
            check_run("dump-guest-memory", [postmortem, "--elf", elf, "--core", qemu_core],
                      manifest, failures),
            check_run("raw RAM image",
                      [postmortem, "--elf", elf, "--ram", "%s@0x%x" % (ram, RAM_START),
                       "--register", "pc=" + manifest["stop_routine"], "--plugin", plugin],
                      manifest, failures),
        ]
        if shown[0] and any(other != shown[0] for other in shown[1:] if other):
            failures.append("the windows differ between the dumps")
        # Without registers the plug-in cannot tell that the kernel runs: a
        # clear refusal, never windows of invented registers.
        run = subprocess.run([postmortem, "--elf", elf, "--ram", "%s@0x%x" % (ram, RAM_START)],
                             capture_output=True, text=True, timeout=120)
        if run.returncode != 0 or "Live registers: unknown" not in run.stdout or \
                "Tasks (" in run.stdout:
            failures.append("raw image without registers: %s" % run.stdout[-300:])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for text in failures:
        fail(text)
    print("FAIL" if failures else "PASS")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
