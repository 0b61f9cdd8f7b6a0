// The conversation record: everything the plug-in process keeps while it
// talks to the debugger, in live mode or in playback mode. The process has
// one (OsaProcessConversation), reached by the interface's operations that
// name no record; tests make fresh ones.
#pragma once

#include "jsonrpc/client.h"
#include "plugin/exchange.h"
#include "plugin/nesting.h"
#include "plugin/playback.h"
#include "plugin/transport.h"

struct OsaConversation {
  OsaTransport transport;  // live mode: the two descriptors, bytes read ahead
  OsaPlayback playback;    // playback mode: the record replayed
  OsaWaits waits;          // both modes: open waits, their cap, the last answer
};

// The process's conversation: the plug-in talks to one debugger. Made on
// first use.
inline OsaConversation& OsaProcessConversation() {
  static OsaConversation conversation;
  return conversation;
}

// Which exchange the client service's requests go through.
enum class OsaConversationMode { kLive, kPlayback };

// The client service's send functions; `context` is the conversation.
inline const char* OsaLiveSend(void* context, const char* request, JsonPtr* tree) {
  OsaConversation* conversation = static_cast<OsaConversation*>(context);
  return OsaLiveExchange(&conversation->transport, &conversation->waits, request, tree);
}

inline const char* OsaPlaybackSend(void* context, const char* request, JsonPtr* tree) {
  OsaConversation* conversation = static_cast<OsaConversation*>(context);
  return OsaPlaybackExchange(&conversation->playback, &conversation->waits, request, tree);
}

// Lets `service` send through `conversation` in `mode`, with the answer's
// tree handed over so that it is not parsed twice; ids and log are kept.
inline void OsaSendThrough(JsonRpcService* service, OsaConversation* conversation,
                           OsaConversationMode mode) {
  service->sendParsed = mode == OsaConversationMode::kLive ? OsaLiveSend : OsaPlaybackSend;
  service->sendContext = conversation;
}
