// The live-mode send function: writes one request of the plug-in to the
// debugger and waits for its answer, serving the debugger's own requests
// that arrive meanwhile.
#pragma once

#include "simple_json/json_value.h"

// Writes `request` to standard output and returns the next message that is
// not a request (no "method" member, not an object, or not parseable) as the
// answer; answers are taken in order, never matched by id. A request that
// arrives first is dispatched and answered at once, and the wait goes on.
// The answer is a heap copy that stays valid until the next call. Null when
// the request is null, cannot be written, no answer arrives, the answer is
// longer than a receive buffer, or the response to a served request cannot
// be written. Failures are reported on stderr.
const char* OSA__JSON__Exchange(const char* request);

// The same exchange, handing the answer's parsed tree to *tree as well (null
// when the answer does not parse), so that the JSON-RPC client need not
// parse it again; `tree` may be null. The client service's parsed send.
const char* OsaJsonExchangeParsed(void* context, const char* request, JsonPtr* tree);
