"""GDB's own answers for the layout comparison (run inside gdb-multiarch).

Run as:  QX_EXPRESSIONS_IN=FILE QX_EXPRESSIONS_OUT=FILE \
         gdb-multiarch -nx -batch -x gdb_layouts.py APP.elf
Reads expressions (one a line) from QX_EXPRESSIONS_IN, adds one for the size
of every named type, the offset and size of every member (nested records
and anonymous members followed, bit fields left out) and the address and
size of every variable with debug information, evaluates each with no
target (values come from the file's sections) and writes one JSON list
[expression, value or null] a line to QX_EXPRESSIONS_OUT.
"""

import json
import os
import re

import gdb

MAX_DEPTH = 4


def type_names():
    text = gdb.execute("info types", to_string=True)
    names = []
    for line in text.splitlines():
        line = re.sub(r"^\s*\d+:\s*", "", line).strip()
        m = re.match(r"^typedef .*?(\w+);$", line)
        if m:
            names.append(m.group(1))
            continue
        m = re.match(r"^(struct|union) (\w+);$", line)
        if m:
            names.append(m.group(1) + " " + m.group(2))
    return sorted(set(names))


def variable_names():
    text = gdb.execute("info variables", to_string=True)
    names = []
    for line in text.splitlines():
        if line.startswith("Non-debugging symbols"):
            break
        line = re.sub(r"^\s*\d+:\s*", "", line).strip()
        m = re.search(r"(\w+)(\[\d*\])*;$", line)
        if m and not line.startswith("File "):
            names.append(m.group(1))
    return sorted(set(names))


def member_paths(gdb_type, prefix, depth, out):
    t = gdb_type.strip_typedefs()
    if t.code not in (gdb.TYPE_CODE_STRUCT, gdb.TYPE_CODE_UNION) or depth > MAX_DEPTH:
        return
    for field in t.fields():
        if field.bitsize:
            continue
        if not field.name:
            member_paths(field.type, prefix, depth + 1, out)
            continue
        path = prefix + field.name
        out.append(path)
        member_paths(field.type, path + ".", depth + 1, out)


def generated():
    exprs = []
    for name in type_names():
        try:
            t = gdb.lookup_type(name) if not name.startswith(("struct ", "union ")) else (
                gdb.lookup_type(name.split()[1]) if name.startswith("struct ")
                else gdb.lookup_type(name.split()[1]))
        except gdb.error:
            try:
                t = gdb.parse_and_eval("(%s *)0" % name).type.target()
            except gdb.error:
                continue
        exprs.append("sizeof(%s)" % name)
        paths = []
        member_paths(t, "", 0, paths)
        for path in paths:
            exprs.append("&((%s *)0)->%s" % (name, path))
            exprs.append("sizeof(((%s *)0)->%s)" % (name, path))
    for name in variable_names():
        exprs.append("&%s" % name)
        exprs.append("sizeof(%s)" % name)
    return exprs


def evaluate(expr):
    try:
        try:
            value = gdb.parse_and_eval(expr)
        except gdb.error as error:
            # A symbol without debug information (a linker-script symbol)
            # stands for its address, as the plug-in's hosts answer it.
            if "unknown type" not in str(error) or not re.match(r"^\w+$", expr):
                raise
            value = gdb.parse_and_eval("&" + expr)
        if value.type.strip_typedefs().code == gdb.TYPE_CODE_FUNC:
            value = value.address
        if value.type.strip_typedefs().code == gdb.TYPE_CODE_PTR:
            value = value.cast(gdb.lookup_type("unsigned long"))
        return int(value) & 0xFFFFFFFFFFFFFFFF
    except (gdb.error, gdb.MemoryError, ValueError, TypeError):
        return None


def main():
    with open(os.environ["QX_EXPRESSIONS_IN"]) as f:
        exprs = [line.strip() for line in f if line.strip()]
    exprs += generated()
    seen = set()
    with open(os.environ["QX_EXPRESSIONS_OUT"], "w") as out:
        for expr in exprs:
            if expr in seen:
                continue
            seen.add(expr)
            out.write(json.dumps([expr, evaluate(expr)]) + "\n")


main()
