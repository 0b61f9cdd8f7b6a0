#!/usr/bin/env python3
"""The DWARF loader against GDB: for every type, member and variable of the
model kernel images (default DWARF 5, -gdwarf-4, -gsplit-dwarf) and of a
small layout program (DWARF 5, 4, 2 and split), and for every expression the
plug-in sent in the recorded GDB sessions, the loader's model must give the
value GDB gives (`print sizeof(...)`, `print &((T *)0)->m`, variables read
from the file), and fail where GDB fails.

Run as:  compare_with_gdb.py SOURCE_DIR DWARF_EVAL WORK_DIR
Exits 0 when every answer matches, 1 on a mismatch, 77 when a tool is missing.
"""

import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

TOOLS = ["arm-none-eabi-gcc", "gdb-multiarch"]
FIRMWARE_VARIANTS = [("dwarf5", ""), ("dwarf4", "-gdwarf-4"), ("split", "-gsplit-dwarf")]
LAYOUT_VARIANTS = [("dwarf5", "-gdwarf-5"), ("dwarf4", "-gdwarf-4"), ("dwarf2", "-gdwarf-2"),
                   ("split", "-gsplit-dwarf"), ("split4", "-gdwarf-4 -gsplit-dwarf"),
                   ("lto", "-flto")]
# Forms that need a live target or are the host's own functions.
SKIPPED = re.compile(r"^\$")
# GDB reads .bss from the file as zeros; the loader leaves it unmapped, so
# that a missing RAM dump reads as unknown rather than as an empty kernel.
UNMAPPED_IN_LOADER = {"qx_kernel_sched_info.static_task_array[7]->static_priority"}


def recorded_expressions(src):
    exprs = set()
    for path in glob.glob(os.path.join(src, "tests", "records", "*.rec")):
        with open(path, encoding="utf-8") as f:
            for m in re.finditer(r'"expression" : "((?:[^"\\]|\\.)*)"', f.read()):
                expr = json.loads('"' + m.group(1) + '"')
                if not SKIPPED.match(expr):
                    exprs.add(expr)
    return sorted(exprs)


def gdb_answers(elf, exprs, work):
    src_list = os.path.join(work, "exprs.txt")
    out_list = os.path.join(work, "gdb.jsonl")
    with open(src_list, "w") as f:
        f.write("\n".join(exprs) + "\n")
    env = dict(os.environ, QX_EXPRESSIONS_IN=src_list, QX_EXPRESSIONS_OUT=out_list)
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gdb_layouts.py")
    subprocess.run(["gdb-multiarch", "-nx", "-batch", "-x", script, elf], env=env, check=True,
                   stdout=subprocess.DEVNULL, timeout=300)
    with open(out_list) as f:
        return [json.loads(line) for line in f]


def loader_answers(dwarf_eval, elf, exprs):
    run = subprocess.run([dwarf_eval, elf], input="\n".join(exprs) + "\n", text=True,
                         capture_output=True, check=True, timeout=300)
    answers = []
    for line in run.stdout.splitlines():
        answers.append(int(line[2:], 16) if line.startswith("= ") else None)
    return answers


def compare(label, dwarf_eval, elf, exprs, work, moved=None):
    pairs = gdb_answers(elf, exprs, work)
    ours = loader_answers(dwarf_eval, elf, [p[0] for p in pairs])
    if moved is not None:
        # Split units where the skeleton names them no longer exist: the
        # loader finds the .dwo files beside the moved ELF file.
        old_dir, new_dir = os.path.dirname(elf), moved
        os.rename(old_dir, new_dir)
        try:
            elsewhere = loader_answers(dwarf_eval, os.path.join(new_dir, os.path.basename(elf)),
                                       [p[0] for p in pairs])
        finally:
            os.rename(new_dir, old_dir)
        if elsewhere != ours:
            print("FAIL %s: the moved build gives other answers" % label)
            return 1
    failures = 0
    answered = 0
    gdb_says = dict((p[0], p[1]) for p in pairs)
    for (expr, want), got in zip(pairs, ours):
        if expr in UNMAPPED_IN_LOADER:
            want = None
        # A variable optimised away has a type but no address: GDB still
        # gives its size, the loader has no symbol for it.
        m = re.match(r"^sizeof\((\w+)\)$", expr)
        if m and got is None and gdb_says.get("&" + m.group(1), 0) is None:
            want = None
        if want is not None:
            answered += 1
        if got != want:
            failures += 1
            print("MISMATCH %s: %s: loader %s, GDB %s" % (
                label, expr, "fails" if got is None else hex(got),
                "fails" if want is None else hex(want)))
    print("%s: %d expressions, %d answered by GDB, %d mismatches" % (
        label, len(pairs), answered, failures))
    if answered < len(pairs) // 2:
        print("FAIL %s: GDB answered too few expressions" % label)
        failures += 1
    return failures


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    src, dwarf_eval, work_root = [os.path.abspath(a) for a in sys.argv[1:]]
    for tool in TOOLS:
        if shutil.which(tool) is None:
            print("SKIPPED: %s is not installed" % tool)
            return 77
    os.makedirs(work_root, exist_ok=True)
    work = tempfile.mkdtemp(prefix="dwarf-compare.", dir=work_root)
    failures = 0
    try:
        recorded = recorded_expressions(src)
        for name, flags in FIRMWARE_VARIANTS:
            out = os.path.join(work, "fw-" + name)
            env = dict(os.environ, QX_EXTRA_CFLAGS=flags)
            # Split units are written beside the objects; build inside `out`.
            os.makedirs(out)
            subprocess.run([os.path.join(src, "targets", "cortex-m", "build.sh"), out], env=env,
                           cwd=out, check=True, stdout=subprocess.DEVNULL)
            for board in ("m3", "m4f"):
                elf = os.path.join(out, "model-%s.elf" % board)
                moved = out + "-moved" if name == "split" else None
                failures += compare("model-%s %s" % (board, name), dwarf_eval, elf, recorded, work,
                                    moved)
        here = os.path.dirname(os.path.abspath(__file__))
        layout_exprs = [line.strip() for line in open(os.path.join(here, "layouts.exprs"))
                        if line.strip() and not line.startswith("#")]
        for name, flags in LAYOUT_VARIANTS:
            out = os.path.join(work, "layouts-" + name)
            os.makedirs(out)
            elf = os.path.join(out, "layouts.elf")
            command = ["arm-none-eabi-gcc", "-g"] + flags.split() + [
                "-O1", "-mthumb", "-mcpu=cortex-m4", "-ffreestanding", "-nostdlib", "-std=c11",
                "-Wl,-e,layout_start", "-Wl,-Ttext=0x1000", "-Wl,-Tdata=0x20000000", "-o", elf,
                os.path.join(here, "layouts.c"), os.path.join(here, "layouts_other.c")]
            subprocess.run(command, cwd=out, check=True)
            failures += compare("layouts " + name, dwarf_eval, elf, layout_exprs, work,
                                out + "-moved" if name.startswith("split") else None)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("FAIL" if failures else "PASS")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
