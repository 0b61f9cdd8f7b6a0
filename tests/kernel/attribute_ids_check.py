#!/usr/bin/env python3
"""The GDB host's attribute numbers (ATTR_* in gdb/osahost/session.py) against
kernel/attribute_ids.def: every attribute in both, under the same number, and
no bare number left in the host's column lists. Prints one line per mismatch
and exits 1 when there is any."""

import re
import sys

DEF_LINE = re.compile(r"^OSA_ATTRIBUTE\((\w+),\s*(\w+),\s*(\d+)\)", re.M)
HOST_LINE = re.compile(r"^ATTR_([A-Z0-9_]+) = (\d+)\s*$", re.M)
# A column given as (<number>, "<title>") instead of by name.
BARE_COLUMN = re.compile(r"\(\s*(\d+)\s*,\s*\"([^\"]*)\"\s*\)")


def host_name(def_name):
    """TlsOffset -> TLS_OFFSET."""
    return re.sub(r"(?<!^)(?=[A-Z])", "_", def_name).upper()


def mismatches(def_text, host_text):
    listed = {host_name(name): int(number) for _, name, number in DEF_LINE.findall(def_text)}
    host = {name: int(number) for name, number in HOST_LINE.findall(host_text)}
    rows = []
    for name in sorted(listed.keys() | host.keys()):
        if name not in host:
            rows.append(("missing in session.py", name, listed[name], None))
        elif name not in listed:
            rows.append(("not in attribute_ids.def", name, None, host[name]))
        elif listed[name] != host[name]:
            rows.append(("number differs", name, listed[name], host[name]))
    start = host_text.find("TASK_ATTRIBUTES")
    end = host_text.find("TEXT_VALUE")
    for number, title in BARE_COLUMN.findall(host_text[start:end] if start >= 0 else ""):
        rows.append(("bare number in a column list", title, None, int(number)))
    return rows


def main(argv):
    if len(argv) != 3:
        print("usage: attribute_ids_check.py <attribute_ids.def> <session.py>")
        return 2
    with open(argv[1]) as f:
        def_text = f.read()
    with open(argv[2]) as f:
        host_text = f.read()
    if not DEF_LINE.search(def_text) or not HOST_LINE.search(host_text):
        print("no attribute found in one of the files")
        return 1
    rows = mismatches(def_text, host_text)
    for problem, name, listed, host in rows:
        print("%-30s %-34s def=%-6s host=%s" % (problem, name, listed, host))
    if rows:
        return 1
    print("attribute ids agree: %d names" % len(HOST_LINE.findall(host_text)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
