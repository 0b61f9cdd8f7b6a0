#!/usr/bin/env python3
"""Checks the plug-in's shared library against its executable: it exports the
two entry points and nothing else, and loaded in-process it answers the same
requests with the same texts, the kernel's callbacks joined in.

usage: check_shared_library.py LIBRARY PLUGIN   (built or installed files)
"""
import ctypes
import json
import shutil
import subprocess
import sys

ENTRY_POINTS = {"OSA_Client_CmdInit", "OSA_Client_CmdParser"}

# Requests that need no answer from a debugger; the OsaInit answer lists the
# methods the kernel's callbacks serve, so a library without them differs.
REQUESTS = [
    '{ "jsonrpc" : "2.0", "method" : "OSA_Client_OsaInit", '
    '"params" : { "context" : 1, "versionRequired" : 3 }, "id" : 1 }',
    '{ "jsonrpc" : "2.0", "method" : "OSA_Client_TaskInKernelCheck", '
    '"params" : { "context" : 1, "taskId" : 1 }, "id" : 2 }',
    '{ "jsonrpc" : "2.0", "method" : "OSA_Client_NoSuchMethod", "id" : 3 }',
]


def exported_symbols(library):
    """The defined dynamic symbols of `library`, or None without nm."""
    if shutil.which("nm") is None:
        return None
    listing = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                             capture_output=True, text=True).stdout
    return {line.split()[-1].split("@")[0] for line in listing.splitlines() if line.strip()}


def library_answers(library):
    plugin = ctypes.CDLL(library)
    send_type = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_char_p)
    plugin.OSA_Client_CmdInit.argtypes = [ctypes.c_int, ctypes.POINTER(ctypes.c_char_p), send_type]
    plugin.OSA_Client_CmdInit.restype = None
    plugin.OSA_Client_CmdParser.argtypes = [ctypes.c_char_p]
    plugin.OSA_Client_CmdParser.restype = ctypes.c_char_p
    arguments = (ctypes.c_char_p * 2)(b"osa", None)
    send = send_type(lambda request: None)  # kept alive while the plug-in may call it
    plugin.OSA_Client_CmdInit(1, arguments, send)
    return [plugin.OSA_Client_CmdParser(request.encode()).decode() for request in REQUESTS]


def process_answers(executable):
    """The executable's answers: one message each, written without line ends."""
    out = subprocess.run([executable], input="\n".join(REQUESTS) + "\n", capture_output=True,
                         text=True, timeout=30, check=True).stdout
    decoder, answers, at = json.JSONDecoder(), [], 0
    while at < len(out):
        if out[at].isspace():
            at += 1
            continue
        _, end = decoder.raw_decode(out, at)
        answers.append(out[at:end])
        at = end
    return answers

def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    library, executable = sys.argv[1], sys.argv[2]
    failures = []
    symbols = exported_symbols(library)
    if symbols is not None and symbols != ENTRY_POINTS:
        failures.append(f"exports {sorted(symbols)}, not only {sorted(ENTRY_POINTS)}")
    inside, outside = library_answers(library), process_answers(executable)
    for request, got, want in zip(REQUESTS, inside, outside):
        if got != want:
            failures.append(f"{request}\n  library:    {got}\n  executable: {want}")
    if len(outside) != len(REQUESTS):
        failures.append(f"the executable gave {len(outside)} answers to {len(REQUESTS)} requests")
    for failure in failures:
        print(failure)
    if not failures:
        print(f"{library}: the entry points only; {len(REQUESTS)} answers as {executable} gives")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
