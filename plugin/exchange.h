// The live-mode exchange: writes one request of the plug-in to the debugger
// and waits for its answer, serving the debugger's own requests that arrive
// meanwhile. OSA__JSON__Exchange is the interface's send function and works
// on the process conversation.
#pragma once

#include "plugin/nesting.h"
#include "plugin/transport.h"
#include "simple_json/json_value.h"

// Writes `request` to the transport and returns the next message that is not
// a request (no "method" member, not an object, or not parseable) as the
// answer; answers are taken in order, never matched by id. A request that
// arrives first is dispatched and answered at once, and the wait goes on.
// The answer is kept in waits->lastAnswer, valid until the next exchange,
// and its parsed tree handed to *tree (null when it does not parse; `tree`
// may be null). Null when the request is null, cannot be written, no answer
// arrives, the answer is longer than a receive buffer, or the response to a
// served request cannot be written. Failures are reported on stderr.
const char* OsaLiveExchange(OsaTransport* transport, OsaWaits* waits, const char* request,
                            JsonPtr* tree);

// OsaLiveExchange on the process conversation, without the tree.
const char* OSA__JSON__Exchange(const char* request);
