#!/usr/bin/env python3
"""Checks that every source of the plug-in's layers includes only headers of
its own layer and of the layers below it, the way the libraries link:
plugin -> osa -> jsonrpc -> simple_json -> runtime, kernel -> osa.

usage: check_layers.py [SOURCE_DIR]   (default: the checkout holding this file)
Runs a self-check on made-up lines first, then scans the tree; exit 1 on any
include that points up or sideways.
"""
import pathlib
import re
import sys

# Each layer and the layers right below it, as in their CMakeLists.txt.
# include/ holds the installed header, which must stand alone.
BELOW = {
    "runtime": [],
    "simple_json": ["runtime"],
    "jsonrpc": ["simple_json"],
    "osa": ["jsonrpc"],
    "kernel": ["osa"],
    "plugin": ["osa"],
    "include": [],
}

# Files outside their folder's library: the executable's and the shared
# library's entries, where the kernel meets the interface.
JOINS = {
    "plugin/main.cpp": ["kernel"],
    "plugin/library_join.cpp": ["kernel", "include"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def reach(layer):
    """The layer and every layer below it."""
    seen, todo = set(), [layer]
    while todo:
        name = todo.pop()
        if name not in seen:
            seen.add(name)
            todo.extend(BELOW.get(name, []))
    return seen


def allowed_folders(path):
    """Folders whose headers the file at `path` (relative, '/') may include."""
    layer = path.split("/", 1)[0]
    allowed = reach(layer)
    for extra in JOINS.get(path, []):
        allowed |= reach(extra)
    return allowed


def violations(path, lines):
    """(line number, included path) of each include `path` may not make."""
    allowed = allowed_folders(path)
    found = []
    for number, line in enumerate(lines, 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        target = match.group(1)
        folder = target.split("/", 1)[0] if "/" in target else path.split("/", 1)[0]
        if folder not in allowed:
            found.append((number, target))
    return found


# (file, line, allowed?): the forms a wrong include takes, and the right ones.
SELF_CHECK = [
    ("osa/entry.cpp", '#include "kernel/registration.h"', False),  # the interface on the kernel
    ("plugin/exchange.cpp", '#include "kernel/kernel_context.h"', False),  # beside, not below
    ("kernel/discovery.cpp", '#include "plugin/transport.h"', False),
    ("runtime/allocation.cpp", '#include "simple_json/json_value.h"', False),
    ("jsonrpc/client.cpp", '#  include "osa/entry.h"', False),
    ("osa/context.cpp", '#include "tests/osa/handler_harness.h"', False),
    ("include/osa_plugin.h", '#include "osa/entry.h"', False),
    ("plugin/transport.cpp", '#include "process/child.h"', False),
    ("kernel/discovery.cpp", '#include "runtime/allocation.h"', True),  # two layers down
    ("osa/entry.cpp", '#include "osa/methods.h"', True),
    ("osa/entry.cpp", '#include "methods.h"', True),
    ("plugin/main.cpp", '#include "kernel/registration.h"', True),
    ("plugin/library_join.cpp", '#include "include/osa_plugin.h"', True),
    ("simple_json/json_parse.cpp", "#include <vector>", True),
]


def self_check():
    failures = 0
    for path, line, allowed in SELF_CHECK:
        if (not violations(path, [line])) != allowed:
            print(f"self-check: {path}: {line!r} should be {'allowed' if allowed else 'refused'}")
            failures += 1
    return failures


def main():
    top = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[1])
    if self_check():
        return 1
    files = includes = 0
    problems = []
    for layer in BELOW:
        for source in sorted((top / layer).glob("*")):
            if source.suffix not in (".cpp", ".h", ".def", ".inc"):
                continue
            path = source.relative_to(top).as_posix()
            lines = source.read_text(encoding="utf-8", errors="replace").splitlines()
            files += 1
            includes += sum(1 for line in lines if INCLUDE.match(line))
            for number, target in violations(path, lines):
                below = ", ".join(sorted(allowed_folders(path)))
                problems.append(f"{path}:{number}: includes {target} (may include: {below})")
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"layers ok: {includes} includes in {files} files")
    return 0


if __name__ == "__main__":
    sys.exit(main())
