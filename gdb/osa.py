"""Loads the OSA plug-in host into GDB:  source gdb/osa.py

Then `set osa-plugin /path/to/osa_plugin` (or export OSA_PLUGIN) and use the
`qx` commands (`help qx`).
"""

import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
_here = os.path.dirname(os.path.abspath(__file__))
if _here not in sys.path:
    sys.path.insert(0, _here)

import osahost.commands  # noqa: E402

if not getattr(osahost.commands, "registered", False):
    osahost.commands.register()
    osahost.commands.registered = True
