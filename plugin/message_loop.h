// The live-mode top-level loop: answers one debugger request after the
// other until the input ends, a response cannot be made or written, or the
// Exit method has been answered.
#pragma once

#include <cstdint>

#include "plugin/transport.h"

// Runs the loop on `transport` (OSA_Client_CmdInit must have run, and the
// client service must send through the same transport) and returns the process
// exit code: the Exit status after Exit, the errno of a failed read (0 at a
// plain end of input), 2 for a response that is not a complete object, 3
// when writing a response failed. A request longer than the receive buffer
// is answered with an Invalid Request error (id null) and the loop goes on.
// Reports go to stderr and "OSA__Info".
std::int32_t OsaRunMessageLoop(OsaTransport* transport);
