// A debugger's conversation with the plug-in: it sends OSA_Client_* requests
// with its own ids and, while it waits for each answer, answers every
// OSA_Service_* request of the plug-in from a model target. The plug-in is
// either a child process on pipes or the plug-in code linked into this
// process. The whole conversation can be kept as a record file that the
// plug-in's playback mode replays.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/plugin_process.h"
#include "debugger/service_answers.h"
#include "model/target_model.h"
#include "simple_json/json_value.h"

enum class DbgTransport : unsigned char {
  kPipe,       // the osa_plugin executable as a child process
  kInProcess,  // OSA_Client_CmdInit / OSA_Client_CmdParser in this process
};

struct DbgSessionOptions {
  DbgTransport transport = DbgTransport::kInProcess;
  std::string pluginPath;                     // kPipe: the executable to start
  std::vector<std::string> pluginArguments;   // kPipe: argv[1] on; none for live mode
  std::chrono::milliseconds timeout{10'000};  // kPipe: bound of every wait
  bool record = false;                        // keep the conversation as record lines
  // Answer layout expressions from a memo (see DbgExpressionMemo): only for a
  // model whose types and symbols are not edited while the session lasts.
  bool expressionMemo = false;
};

// Service requests answered during one client request beyond this make the
// request fail: a plug-in that never stops asking cannot keep the debugger.
inline constexpr std::uint64_t kDbgMaxServiceRequestsPerCall = 1'000'000;

struct DbgSession {
  DbgTransport transport = DbgTransport::kInProcess;
  DbgServiceState service;  // answers from the model, messages collected
  std::chrono::milliseconds timeout{10'000};
  std::int64_t nextId = 1;  // id of the next client request
  bool broken = false;      // an exchange failed; nothing more is sent
  std::string lastError;    // why the latest call failed
  bool recording = false;
  std::string record;  // "VEXLO: ..." and "PLUGIN: ..." lines, in sending order
  std::uint64_t recordLines = 0;
  DbgPluginProcess process;     // kPipe
  std::string inProcessAnswer;  // kInProcess: the answer last handed to the plug-in
  // Rooms reused from call to call, so a call allocates nothing once they
  // have grown: the client request, the params text the client calls write,
  // and the service answer being sent.
  std::string request;
  std::string params;
  std::string reply;

  DbgSession() = default;
  DbgSession(const DbgSession&) = delete;
  DbgSession& operator=(const DbgSession&) = delete;
  ~DbgSession();  // kInProcess: frees the in-process slot; kPipe: the child is killed if alive
};

// Opens a session that answers from `model` (borrowed; it must outlive the
// session). kPipe starts the plug-in; kInProcess sets the linked plug-in up
// once per process and restarts its request ids at 0, so that a record of
// the session replays; only one in-process session may be open at a time.
// False with a reason in *error.
[[nodiscard]] bool DbgSessionOpen(const DbgSessionOptions& options, model::TargetModel* model,
                                  std::unique_ptr<DbgSession>* session, std::string* error);

// Sends `method` with `params` (taken over) and serves the plug-in until its
// answer arrives. True with the answer's "result" member in *result (an empty
// object when the answer has none); false with a reason in lastError when the
// exchange fails, the answer is an error, or its id is not the request's.
// After a failed exchange the session is broken and every later call fails.
[[nodiscard]] bool DbgSessionCall(DbgSession* session, std::string_view method, JsonPtr params,
                                  JsonPtr* result);

// A client answer kept whole: its tree and, lent from it, the "result"
// member when that is an object (null otherwise).
struct DbgAnswer {
  JsonPtr tree;
  const JsonValue* result = nullptr;
};

// As DbgSessionCall, with the params given as the text the JSON writer makes
// of them and the answer kept whole, so that no tree is built for the request
// and none is taken apart for the answer.
[[nodiscard]] bool DbgSessionCallText(DbgSession* session, std::string_view method,
                                      std::string_view params, DbgAnswer* answer);

// Ends the conversation: kPipe closes the plug-in's input and returns its
// exit code (-1 when it could not be had; a child that does not end within
// the timeout is killed); kInProcess returns 0.
int DbgSessionClose(DbgSession* session);

// Writes the record lines to `path`; false with a reason in *error.
[[nodiscard]] bool DbgSessionWriteRecord(const DbgSession& session, const std::string& path,
                                         std::string* error);
