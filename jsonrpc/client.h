// Outgoing JSON-RPC requests: the client service record, which numbers
// requests from 0, hands their text to a send function and unpacks the
// answer's "result" or "error". Answers are never matched by id.
//
// JrInitService, JrSendRequest and JrLog are the interface's operations;
// JrSendTree and JrSendText are the same send with a status that says why
// a request failed.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "simple_json/json_value.h"

// Transport: one complete request text in, the complete answer text out, or
// null when no answer could be had. The answer belongs to the send function
// and stays valid until its next call.
using JrSendFunction = const char* (*)(const char* request);
using JrSendWithContextFunction = const char* (*)(void* context, const char* request);
using JrLogFunction = void (*)(const char* tag, const char* text);
// Transport that has parsed the answer already: returns the answer text as
// JrSendFunction does and passes its tree to *tree (left null when the text
// does not parse), so that the answer is not parsed a second time. Gets the
// service's sendContext.
using JrSendParsedFunction = const char* (*)(void* context, const char* request, JsonPtr* tree);

struct JsonRpcService {
  JrLogFunction log = nullptr;                          // trace sink; none in the plug-in
  JrSendFunction send = nullptr;                        // plain transport
  JrSendWithContextFunction sendWithContext = nullptr;  // preferred when set
  std::int64_t nextId = 0;                              // id of the next request built
  void* sendContext = nullptr;                          // passed to sendWithContext and sendParsed
  JrSendParsedFunction sendParsed = nullptr;            // before `send` when set
  // One request text per level of nested sends, kept between requests so
  // that building a request reuses its storage. A level's text is rebuilt
  // only once its send has returned; a deque keeps texts in place as levels
  // are added.
  std::deque<std::string> requestTexts;
  std::size_t sendDepth = 0;  // sends open now
};

// Writes the text of request `id` for `method` with the params object
// already written as `params` over *text, as every request goes on the wire:
// { "jsonrpc" : "2.0", "method" : ..., "params" : ..., "id" : ... }.
void JrWriteRequest(std::string* text, std::string_view method, std::string_view params,
                    std::int64_t id);

// Why a request failed, or that it did not.
enum class JrSendStatus {
  kAnswered,     // the answer parsed and holds no "error" member
  kNoService,    // no service or no send function: nothing sent, no id used
  kNoAnswer,     // the send function gave no answer
  kUnparsable,   // the answer is not JSON
  kErrorAnswer,  // the answer holds an "error" member
};

// Sets the log function to none, the send function to `send` (and no parsed
// send) and the next id to 0.
void JrInitService(JsonRpcService* service, JrSendFunction send);

// Sends `method` with `params` (taken over; null sends null) and waits for
// the answer. *result must be null on entry; when the answer is taken it
// receives the answer's "result" member if there is one (the caller owns
// it). The id is used up once the text is built.
[[nodiscard]] JrSendStatus JrSendTree(JsonRpcService* service, const char* method, JsonPtr params,
                                      JsonPtr* result);

// JrSendTree with params already written as JSON text (what JsonWrite
// makes of a tree), so that a request built often costs no tree.
[[nodiscard]] JrSendStatus JrSendText(JsonRpcService* service, const char* method,
                                      std::string_view params, JsonPtr* result);

// JrSendText that keeps the whole answer instead of taking its "result"
// member out: when the answer is taken, *answer holds its tree and *result
// lends its "result" member (null when it has none), valid while *answer
// lives; otherwise both stay null.
[[nodiscard]] JrSendStatus JrSendTextKeep(JsonRpcService* service, const char* method,
                                          std::string_view params, JsonPtr* answer,
                                          const JsonValue** result);

// JrSendTree, true when the answer was taken.
[[nodiscard]] bool JrSendRequest(JsonRpcService* service, const char* method, JsonPtr params,
                                 JsonPtr* result);

// JrSendText, true when the answer was taken.
[[nodiscard]] bool JrSendRequestText(JsonRpcService* service, const char* method,
                                     std::string_view params, JsonPtr* result);

// Formats a trace text and hands it to the service's log function, if any.
void JrLog(JsonRpcService* service, const char* tag, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
