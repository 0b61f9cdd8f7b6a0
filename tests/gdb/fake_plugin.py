#!/usr/bin/env python3
"""A stand-in plug-in for the host's failure paths. FAKE_PLUGIN_MODE:
  plain  OsaInit lists only the methods every plug-in has (no kernel code);
  dies   OsaInit lists the object methods, then the process ends on the
         next request without answering it."""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "gdb"))
from osahost import wire  # noqa: E402

MODE = os.environ.get("FAKE_PLUGIN_MODE", "plain")
BASIC = ["OSA_Client_OsaCleanup", "OSA_Client_HistoryLogDump", "OSA_Client_Exit"]
KERNEL = ["OSA_Client_OsaInit", "OSA_Client_TargetInit", "OSA_Client_ObjectListInit"] + BASIC


def answer(request_id, result):
    os.write(1, wire.dumps({"jsonrpc": "2.0", "result": result, "id": request_id}).encode())


framer = wire.Framer()
while True:
    data = os.read(0, 4096)
    if not data:
        sys.exit(0)
    for text in framer.feed(data):
        message = wire.loads(text)
        method = message.get("method")
        if method == "OSA_Client_OsaInit":
            commands = BASIC if MODE == "plain" else KERNEL
            answer(message["id"], {"return": 0, "commandCount": len(commands),
                                   "commands": commands})
        elif MODE == "dies":
            sys.exit(5)
        else:
            answer(message["id"], {"return": 1})
