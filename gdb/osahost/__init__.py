"""GDB host for the OSA plug-in: runs osa_plugin as a child process, answers
its service requests from GDB and offers the `qx` commands."""
