"""Loads the OSA plug-in host into GDB:  source gdb/osa.py

Then `set osa-plugin /path/to/osa_plugin` (or export OSA_PLUGIN) and use the
`qx` commands (`help qx`).
"""

import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
# GDB runs sourced scripts in one shared namespace where __file__ may name
# the outer script: take this file's name from its own code object.
_here = os.path.dirname(os.path.abspath(sys._getframe().f_code.co_filename))
if _here not in sys.path:
    sys.path.insert(0, _here)

import osahost.commands  # noqa: E402

if not getattr(osahost.commands, "registered", False):
    osahost.commands.register()
    osahost.commands.registered = True
