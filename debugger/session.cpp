// A debugger's conversation with the plug-in (see session.h).
#include "debugger/session.h"

#include <array>
#include <cstdio>
#include <utility>

#include "debugger/member_layout.h"
#include "jsonrpc/client.h"
#include "kernel/registration.h"
#include "osa/entry.h"
#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

constexpr std::string_view kDebuggerTag = "VEXLO";
constexpr std::string_view kPluginTag = "PLUGIN";

// The session that the linked plug-in's service requests go to; one at a time.
DbgSession* gInProcessSession = nullptr;

void Record(DbgSession* session, std::string_view tag, std::string_view message) {
  if (!session->recording) return;
  session->record.append(tag);
  session->record.append(": ");
  session->record.append(message);
  session->record.push_back('\n');
  ++session->recordLines;
}

bool Fail(DbgSession* session, std::string reason) {
  session->lastError = std::move(reason);
  session->broken = true;
  return false;
}

// The linked plug-in's send function: the request is answered from the model
// at once. The answer stays valid until the next request.
const char* InProcessExchange(void* context, const char* request) {
  DbgSession* const session = static_cast<DbgSession*>(context);
  if (session == nullptr || request == nullptr) return nullptr;
  Record(session, kPluginTag, request);
  const JsonPtr tree = JsonParse(request, nullptr);
  // Only requests come from the plug-in while it serves one of ours.
  if (!DbgIsRequest(tree.get())) return nullptr;
  DbgWriteServiceAnswer(&session->service, *tree, &session->inProcessAnswer);
  Record(session, kDebuggerTag, session->inProcessAnswer);
  return session->inProcessAnswer.c_str();
}

const char* InProcessExchangeNoContext(const char* request) {
  return InProcessExchange(gInProcessSession, request);
}

bool OpenInProcess(DbgSession* session, std::string* error) {
  if (gInProcessSession != nullptr) {
    *error = "an in-process session is already open";
    return false;
  }
  static const char* const kArguments[] = {"osa_modeldbg", nullptr};
  // The linked plug-in is the kernel's: it joins the interface here.
  OsaSetCallbackRegistrar(RegisterKernelCallbacks);
  OSA_Client_CmdInit(1, kArguments, InProcessExchangeNoContext);
  JsonRpcService* const service = OsaRpcService();
  if (service == nullptr) {
    *error = "the linked plug-in did not set itself up";
    return false;
  }
  // The plug-in numbers its requests from 0 in every process; a record made
  // here replays in a fresh process only if this session starts there too.
  service->sendWithContext = InProcessExchange;
  service->sendContext = session;
  service->nextId = 0;
  gInProcessSession = session;
  return true;
}

// Sends the session's request over the pipe and serves the plug-in's
// requests until a message that is not a request arrives; that message is
// the answer, handed back with its parse (null when it is not JSON) so that
// it is parsed once. The answer's text stays valid until the next exchange.
bool PipeExchange(DbgSession* session, std::string_view* answer, JsonPtr* answerTree) {
  DbgIoStatus status = DbgPluginSend(&session->process, session->request, session->timeout);
  if (status != DbgIoStatus::kOk) {
    return Fail(session, std::string("sending a request: ") + DbgIoStatusText(status));
  }
  for (std::uint64_t served = 0;; ++served) {
    std::string_view message;
    JsonPtr tree;
    status = DbgPluginReceiveParsed(&session->process, &message, &tree, session->timeout);
    if (status != DbgIoStatus::kOk) {
      return Fail(session, std::string("waiting for the plug-in: ") + DbgIoStatusText(status));
    }
    Record(session, kPluginTag, message);
    if (served >= kDbgMaxServiceRequestsPerCall && DbgIsRequest(tree.get())) {
      return Fail(session, "the plug-in sent too many service requests for one request");
    }
    if (!DbgServeIfRequest(&session->service, tree.get(), &session->reply)) {
      *answer = message;
      *answerTree = std::move(tree);
      return true;
    }
    Record(session, kDebuggerTag, session->reply);
    status = DbgPluginSend(&session->process, session->reply, session->timeout);
    if (status != DbgIoStatus::kOk) {
      return Fail(session, std::string("answering the plug-in: ") + DbgIoStatusText(status));
    }
  }
}

// The members of a client answer that the session looks at, found in one
// pass; the first member of each name counts, as in a lookup.
struct AnswerParts {
  const JsonValue* id = nullptr;
  const JsonValue* error = nullptr;
  const JsonValue* result = nullptr;
};

AnswerParts FindAnswerParts(const JsonValue& answer) {
  if (DbgHasLayout(&answer, "jsonrpc", "result", "id")) {
    return {DbgMemberAt(&answer, 2), nullptr, DbgMemberAt(&answer, 1)};
  }
  static constexpr std::array<std::string_view, 3> kNames = {"id", "error", "result"};
  const std::array<const JsonValue*, 3> found = JsonObjectFindMembers(&answer, kNames);
  return {found[0], found[1], found[2]};
}

}  // namespace

DbgSession::~DbgSession() {
  if (gInProcessSession == this) {
    JsonRpcService* const service = OsaRpcService();
    if (service != nullptr) {
      service->sendWithContext = nullptr;
      service->sendContext = nullptr;
    }
    gInProcessSession = nullptr;
  }
}

bool DbgSessionOpen(const DbgSessionOptions& options, model::TargetModel* model,
                    std::unique_ptr<DbgSession>* session, std::string* error) {
  if (model == nullptr) {
    *error = "no model target";
    return false;
  }
  auto opened = std::make_unique<DbgSession>();
  opened->transport = options.transport;
  opened->service.model = model;
  opened->service.memo.enabled = options.expressionMemo;
  opened->timeout = options.timeout;
  opened->recording = options.record;
  if (options.transport == DbgTransport::kPipe) {
    if (!DbgPluginStart(options.pluginPath, options.pluginArguments, &opened->process, error)) {
      return false;
    }
  } else if (!OpenInProcess(opened.get(), error)) {
    return false;
  }
  *session = std::move(opened);
  return true;
}

bool DbgSessionCallText(DbgSession* session, std::string_view method, std::string_view params,
                        DbgAnswer* answer) {
  if (session->broken) {
    session->lastError = "the conversation with the plug-in has already failed";
    return false;
  }
  const std::int64_t id = session->nextId++;
  JrWriteRequest(&session->request, method, params, id);
  Record(session, kDebuggerTag, session->request);
  session->service.during = session->request;

  std::string_view text;
  JsonPtr tree;
  if (session->transport == DbgTransport::kPipe) {
    if (!PipeExchange(session, &text, &tree)) return false;
  } else {
    const char* const response = OSA_Client_CmdParser(session->request.c_str());
    if (response == nullptr) return Fail(session, "the plug-in made no response");
    text = response;
    Record(session, kPluginTag, text);
    tree = JsonParse(text, nullptr);
  }

  if (tree == nullptr || tree->kind != JsonKind::JsonObject) {
    return Fail(session, "the plug-in's response is not a JSON object: " + std::string(text));
  }
  const AnswerParts parts = FindAnswerParts(*tree);
  if (parts.id == nullptr || parts.id->kind != JsonKind::JsonInteger || parts.id->number != id) {
    return Fail(session,
                "the plug-in's response does not carry the request's id: " + std::string(text));
  }
  if (parts.error != nullptr) {
    // An error response is an answer: the conversation goes on.
    session->lastError = "the plug-in answered with an error: " + std::string(text);
    return false;
  }
  answer->tree = std::move(tree);
  answer->result = parts.result != nullptr && parts.result->kind == JsonKind::JsonObject
                       ? parts.result
                       : nullptr;
  return true;
}

bool DbgSessionCall(DbgSession* session, std::string_view method, JsonPtr params, JsonPtr* result) {
  std::string text;
  if (params != nullptr) {
    JsonWrite(text, params.get());
  } else {
    const JsonPtr empty = JsonNewObject();
    JsonWrite(text, empty.get());
  }
  DbgAnswer answer;
  if (!DbgSessionCallText(session, method, text, &answer)) return false;
  JsonPtr member;
  if (!JsonObjectRemove(answer.tree.get(), "result", &member) || member == nullptr ||
      member->kind != JsonKind::JsonObject) {
    member = JsonNewObject();
  }
  *result = std::move(member);
  return true;
}

int DbgSessionClose(DbgSession* session) {
  if (session->transport == DbgTransport::kInProcess) return 0;
  return DbgPluginFinish(&session->process, session->timeout);
}

bool DbgSessionWriteRecord(const DbgSession& session, const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot write " + path;
    return false;
  }
  const bool written =
      std::fwrite(session.record.data(), 1, session.record.size(), file) == session.record.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}
