// The recorder's relay: forwards bytes unchanged between the debugger and
// the recorded command in both directions and records each whole message.
#pragma once

#include <cstdio>

#include "process/child.h"

// Relays until the child's output ends, then returns the child's exit code.
// Bytes from `debuggerInput` go to the child and are recorded as "VEXLO"
// lines; bytes from the child go to `debuggerOutput` as "PLUGIN" lines. When
// the debugger's input ends (or its output closes), the child's input is
// closed once everything has been passed on, and the child is sent SIGTERM
// if it is still there a few seconds later. The child's exit code is 127
// when it cannot be reaped.
int RelayRun(ProcRunning* child, int debuggerInput, int debuggerOutput, std::FILE* record);
