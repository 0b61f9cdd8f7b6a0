// The plug-in's exported entry points (the interface's OSA_Client_CmdInit and
// OSA_Client_CmdParser) and the parts of the interface's process record
// (osa/process_state.h) that the plug-in process reads: the outgoing-request
// service and the Exit state.
#pragma once

#include <cstdint>

#include "jsonrpc/client.h"

#define OSA_EXPORT __attribute__((visibility("default")))

extern "C" {
// Sets the plug-in up once: binds the 38 client methods, creates the
// outgoing-request service around `send`, registers the kernel callbacks.
// Later calls do nothing.
OSA_EXPORT void OSA_Client_CmdInit(int argc, const char* const* argv, JrSendFunction send);

// Answers one complete incoming message; the response text stays valid until
// the next response is made.
OSA_EXPORT const char* OSA_Client_CmdParser(const char* text);
}

// OSA_Client_CmdParser for a message whose parse the caller made on the way
// in (`request`, or null when the text still needs its parse).
const char* OsaClientCmdParserParsed(const char* text, JsonPtr request);

// The outgoing-request service; null until OSA_Client_CmdInit has run.
JsonRpcService* OsaRpcService();

// Set once OSA_Client_Exit has been answered; the message loop then ends
// the process with OsaExitStatus().
bool OsaExitRequested();
std::int32_t OsaExitStatus();
