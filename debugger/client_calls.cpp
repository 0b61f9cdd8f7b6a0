// The debugger's OSA_Client_* requests (see client_calls.h).
#include "debugger/client_calls.h"

#include <initializer_list>
#include <utility>

#include "debugger/member_layout.h"
#include "debugger/text_pieces.h"
#include "runtime/text_format.h"
#include "simple_json/json_write.h"

namespace {

// Params are written as text, exactly as the JSON writer writes an object
// ("{ ", members joined by ", ", " }"), into the session's reused room; the
// member names are plain words that need no escapes.
std::string* BeginParams(DbgSession* session) {
  session->params.assign("{ ");
  return &session->params;
}

void PutName(std::string* params, std::string_view name) {
  if (params->size() > 2) params->append(", ");
  params->push_back('"');
  params->append(name);
  params->append("\" : ");
}

void AddInteger(std::string* params, std::string_view name, std::int64_t value) {
  PutName(params, name);
  RtAppendInteger(params, value);
}

// A text value ends at its first NUL byte, as a tree's string does.
void AddText(std::string* params, std::string_view name, std::string_view value) {
  PutName(params, name);
  JsonQuote(*params, value.substr(0, value.find('\0')));
}

std::string_view EndParams(std::string* params) {
  params->append(" }");
  return *params;
}

// Params of integers alone, each member by its name and value.
using IntegerMember = std::pair<std::string_view, std::int64_t>;

// The same text as the steps above, written straight into the session's
// room, sized for the longest numbers first: these params go with nearly
// every request.
std::string_view IntegerParams(DbgSession* session, std::initializer_list<IntegerMember> members) {
  std::size_t bound = 4;  // "{ " and " }"
  for (const auto& member : members)
    bound += member.first.size() + 7 + kDbgIntegerDigits;  // ", ", quotes and " : "
  std::string& params = session->params;
  params.resize(bound);
  char* const start = params.data();
  char* out = DbgPutLiteral(start, "{ ");
  for (const auto& [name, value] : members) {
    if (out != start + 2) out = DbgPutLiteral(out, ", ");
    *out++ = '"';
    out = DbgPutInteger(DbgPutLiteral(DbgPutText(out, name), "\" : "), value);
  }
  out = DbgPutLiteral(out, " }");
  params.resize(static_cast<std::size_t>(out - start));
  return params;
}

std::string_view ContextParams(DbgSession* session, std::int64_t context) {
  return IntegerParams(session, {{"context", context}});
}

std::string_view ObjectParams(DbgSession* session, std::int64_t context, std::int32_t type) {
  return IntegerParams(session, {{"context", context}, {"objTypeId", type}});
}

std::string_view TaskParams(DbgSession* session, std::int64_t context, std::uint64_t taskId) {
  return IntegerParams(session,
                       {{"context", context}, {"taskId", static_cast<std::int64_t>(taskId)}});
}

// The integer "return" of a result in the plug-in's layout, where it comes
// last and alone or after one other member, into *status; false for any other
// result, which the search by name settles.
bool ReadLastReturn(const JsonValue* result, std::int32_t* status) {
  if (result == nullptr || result->kind != JsonKind::JsonObject) return false;
  const std::size_t count = result->members.size();
  if (count == 0 || count > 2 || !DbgNameIs(result->members[count - 1], "return") ||
      (count == 2 && DbgNameIs(result->members[0], "return"))) {
    return false;
  }
  const JsonValue* const value = result->members[count - 1].value.get();
  if (value == nullptr || value->kind != JsonKind::JsonInteger) return false;
  *status = static_cast<std::int32_t>(value->number);
  return true;
}

// Sends the request and reads "return"; *answer keeps the whole answer.
std::int32_t Call(DbgSession* session, std::string_view method, std::string_view params,
                  DbgAnswer* answer) {
  if (!DbgSessionCallText(session, method, params, answer)) return kDbgNoAnswer;
  std::int32_t status = 0;
  if (!ReadLastReturn(answer->result, &status) &&
      !JsonObjectGetInteger(answer->result, "return", &status)) {
    session->lastError = std::string(method) + ": the answer has no \"return\"";
    return kDbgNoAnswer;
  }
  return status;
}

std::int32_t CallStatus(DbgSession* session, std::string_view method, std::string_view params) {
  DbgAnswer answer;
  return Call(session, method, params, &answer);
}

// A status-0 answer that lacks a member the method promises is no answer.
std::int32_t Missing(DbgSession* session, std::string_view method, std::string_view member) {
  session->lastError = std::string(method) + ": the answer has no \"" + std::string(member) + "\"";
  return kDbgNoAnswer;
}

// The text member `member` of a status-0 answer into *out.
std::int32_t CallText(DbgSession* session, std::string_view method, std::string_view params,
                      std::string_view member, std::string* out) {
  DbgAnswer answer;
  const std::int32_t status = Call(session, method, params, &answer);
  if (status != 0) return status;
  const JsonValue* text = nullptr;
  if (!JsonObjectGet(answer.result, member, &text) || text->kind != JsonKind::JsonString) {
    return Missing(session, method, member);
  }
  out->assign(text->text.view());
  return 0;
}

// The integer member `member` of a status-0 answer into *out.
template <typename Integer>
std::int32_t CallNumber(DbgSession* session, std::string_view method, std::string_view params,
                        std::string_view member, Integer* out) {
  DbgAnswer answer;
  const std::int32_t status = Call(session, method, params, &answer);
  if (status != 0) return status;
  if (!JsonObjectGetInteger(answer.result, member, out)) return Missing(session, method, member);
  return 0;
}

std::string_view AttributeParams(DbgSession* session, std::int64_t context, std::int32_t type,
                                 std::int32_t attribute, std::int32_t valueType) {
  return IntegerParams(session, {{"context", context},
                                 {"objTypeId", type},
                                 {"objAtrId", attribute},
                                 {"valueType", valueType}});
}

}  // namespace

std::int32_t DbgOsaInit(DbgSession* session, std::int64_t context, DbgOsaInitAnswer* answer) {
  DbgAnswer reply;
  const std::int32_t status =
      Call(session, "OSA_Client_OsaInit", ContextParams(session, context), &reply);
  if (status != 0) return status;
  const JsonValue* const result = reply.result;
  DbgOsaInitAnswer read;
  // Optional members: a missing one leaves the preset default.
  (void)JsonObjectGetInteger(result, "versionAcknowledge", &read.versionAcknowledge);
  const JsonValue* commands = nullptr;
  if (!JsonObjectGet(result, "commands", &commands) || commands->kind != JsonKind::JsonArray) {
    return Missing(session, "OSA_Client_OsaInit", "commands");
  }
  for (const JsonPtr& element : commands->elements) {
    if (element->kind == JsonKind::JsonString) read.commands.push_back(element->text);
  }
  *answer = std::move(read);
  return 0;
}

std::int32_t DbgOsaCleanup(DbgSession* session, std::int64_t context) {
  return CallStatus(session, "OSA_Client_OsaCleanup", ContextParams(session, context));
}

bool DbgOffersCommand(const DbgOsaInitAnswer& answer, std::string_view method) {
  for (const std::string& command : answer.commands) {
    if (command == method) return true;
  }
  return false;
}

bool DbgOffersKernelAwareness(const DbgOsaInitAnswer& answer) {
  return DbgOffersCommand(answer, "OSA_Client_ObjectListInit");
}

std::int32_t DbgTargetInit(DbgSession* session, std::int64_t context, bool bigEndianTarget,
                           DbgTargetInitAnswer* answer) {
  const std::string_view params =
      IntegerParams(session, {{"context", context},
                              {"majorCpuType", kDbgCortexMMajorCpuType},
                              {"minorCpuType", kDbgCortexMMinorCpuType},
                              {"bigEndianTarget", bigEndianTarget ? 1 : 0},
                              {"bigEndianHost", 0},
                              {"coreCount", 1}});
  DbgAnswer reply;
  const std::int32_t status = Call(session, "OSA_Client_TargetInit", params, &reply);
  if (status != 0) return status;
  const JsonValue* const result = reply.result;
  DbgTargetInitAnswer read;
  // Optional members: a missing one leaves the preset default.
  (void)JsonObjectGetInteger(result, "osaKernelMajorVersion", &read.osaKernelMajorVersion);
  (void)JsonObjectGetInteger(result, "osaKernelMinorVersion", &read.osaKernelMinorVersion);
  (void)JsonObjectGetInteger(result, "distinguishCpuModes", &read.distinguishCpuModes);
  *answer = read;
  return 0;
}

std::int32_t DbgTargetCleanup(DbgSession* session, std::int64_t context) {
  return CallStatus(session, "OSA_Client_TargetCleanup", ContextParams(session, context));
}

std::int32_t DbgTargetNotify(DbgSession* session, std::int64_t context, std::int32_t notice) {
  return CallStatus(session, "OSA_Client_TargetNotify",
                    IntegerParams(session, {{"context", context}, {"notice", notice}}));
}

std::int32_t DbgObjectListInit(DbgSession* session, std::int64_t context, std::int32_t type) {
  return CallStatus(session, "OSA_Client_ObjectListInit", ObjectParams(session, context, type));
}

std::int32_t DbgObjectListNext(DbgSession* session, std::int64_t context, std::int32_t type) {
  return CallStatus(session, "OSA_Client_ObjectListNext", ObjectParams(session, context, type));
}

std::int32_t DbgObjectListCleanup(DbgSession* session, std::int64_t context, std::int32_t type) {
  return CallStatus(session, "OSA_Client_ObjectListCleanup", ObjectParams(session, context, type));
}

std::int32_t DbgObjectListAttributeText(DbgSession* session, std::int64_t context,
                                        std::int32_t type, std::int32_t attribute,
                                        std::string* text) {
  return CallText(session, "OSA_Client_ObjectListAttribute",
                  AttributeParams(session, context, type, attribute, kDbgValueText), "objAtrValue",
                  text);
}

std::int32_t DbgObjectListAttributeNumber(DbgSession* session, std::int64_t context,
                                          std::int32_t type, std::int32_t attribute,
                                          std::uint64_t* number) {
  return CallNumber(session, "OSA_Client_ObjectListAttribute",
                    AttributeParams(session, context, type, attribute, kDbgValueNumber),
                    "objAtrValue", number);
}

DbgWalkEnd DbgObjectListWalk(DbgSession* session, std::int64_t context, std::int32_t type,
                             const std::function<bool()>& visit) {
  if (DbgObjectListInit(session, context, type) != 0) {
    // A failed Init may still have opened a walk on the plug-in's side.
    (void)DbgObjectListCleanup(session, context, type);
    return DbgWalkEnd::kEmpty;
  }
  DbgWalkEnd end = DbgWalkEnd::kBoundReached;
  for (std::uint32_t step = 0; step < kDbgMaxWalkSteps; ++step) {
    if (!visit()) {
      end = DbgWalkEnd::kFailed;
      break;
    }
    const std::int32_t status = DbgObjectListNext(session, context, type);
    if (status == 2) {
      end = DbgWalkEnd::kEnded;
      break;
    }
    if (status != 0) {
      end = DbgWalkEnd::kFailed;
      break;
    }
  }
  (void)DbgObjectListCleanup(session, context, type);
  return end;
}

std::int32_t DbgTaskRegisterRead(DbgSession* session, std::int64_t context, std::uint64_t taskId,
                                 std::int32_t reg, std::uint64_t* value) {
  const std::string_view params = IntegerParams(
      session,
      {{"context", context}, {"taskId", static_cast<std::int64_t>(taskId)}, {"register", reg}});
  return CallNumber(session, "OSA_Client_TaskRegisterRead", params, "value", value);
}

std::int32_t DbgTaskRegisterWrite(DbgSession* session, std::int64_t context, std::uint64_t taskId,
                                  std::int32_t reg, std::uint64_t value) {
  const std::string_view params =
      IntegerParams(session, {{"context", context},
                              {"taskId", static_cast<std::int64_t>(taskId)},
                              {"register", reg},
                              {"value", static_cast<std::int64_t>(value)}});
  return CallStatus(session, "OSA_Client_TaskRegisterWrite", params);
}

std::int32_t DbgTaskStatusGet(DbgSession* session, std::int64_t context, std::uint64_t taskId,
                              std::string* status) {
  return CallText(session, "OSA_Client_TaskStatusGet", TaskParams(session, context, taskId),
                  "status", status);
}

std::int32_t DbgTaskNameGet(DbgSession* session, std::int64_t context, std::uint64_t taskId,
                            std::string* name) {
  return CallText(session, "OSA_Client_TaskNameGet", TaskParams(session, context, taskId), "name",
                  name);
}

std::int32_t DbgCurrentTaskGet(DbgSession* session, std::int64_t context, std::uint64_t* taskId) {
  const std::string_view params =
      IntegerParams(session, {{"context", context}, {"checkInKernel", 0}});
  return CallNumber(session, "OSA_Client_CurrentTaskGet", params, "taskId", taskId);
}

std::int32_t DbgTaskLsoGet(DbgSession* session, std::int64_t context, std::uint64_t taskId,
                           std::int64_t* offset) {
  return CallNumber(session, "OSA_Client_TaskLsoGet", TaskParams(session, context, taskId),
                    "offset", offset);
}

std::int32_t DbgOsaCmdExecute(DbgSession* session, std::int64_t context, std::string_view command,
                              JsonPtr* result) {
  std::string* params = BeginParams(session);
  AddInteger(params, "context", context);
  AddText(params, "command", command);
  DbgAnswer answer;
  const std::int32_t status =
      Call(session, "OSA_Client_OsaCmd_Execute", EndParams(params), &answer);
  if (status == 0) {
    // The caller owns the result's members: they are taken out of the answer.
    JsonPtr member;
    (void)JsonObjectRemove(answer.tree.get(), "result", &member);
    *result = std::move(member);
  }
  return status;
}

std::int32_t DbgCacheSet(DbgSession* session, std::int64_t context, bool on, bool* understood) {
  JsonPtr result;
  const std::int32_t status =
      DbgOsaCmdExecute(session, context, on ? "cache on" : "cache off", &result);
  std::int32_t state = 0;
  *understood =
      status == 0 && JsonObjectGetInteger(result.get(), "cache", &state) && state == (on ? 1 : 0);
  return status;
}

std::int32_t DbgGuiObjectCheck(DbgSession* session, std::int64_t context, std::string_view typeName,
                               std::int32_t type, std::int32_t visible, std::string* shownName,
                               std::int32_t* shownVisible) {
  std::string* params = BeginParams(session);
  AddInteger(params, "context", context);
  AddText(params, "objTypeName", typeName);
  AddInteger(params, "objTypeId", type);
  AddInteger(params, "visible", visible);
  DbgAnswer answer;
  const std::int32_t status =
      Call(session, "OSA_Client_GuiObjectCheck", EndParams(params), &answer);
  if (status != 0) return status;
  const char* name = nullptr;
  std::int32_t shown = 0;
  if (!JsonObjectGetString(answer.result, "objTypeName", &name)) {
    return Missing(session, "OSA_Client_GuiObjectCheck", "objTypeName");
  }
  if (!JsonObjectGetInteger(answer.result, "visible", &shown)) {
    return Missing(session, "OSA_Client_GuiObjectCheck", "visible");
  }
  shownName->assign(name != nullptr ? name : "");
  *shownVisible = shown;
  return 0;
}

std::int32_t DbgExit(DbgSession* session, std::int32_t* exitCode) {
  return CallNumber(session, "OSA_Client_Exit", EndParams(BeginParams(session)), "exitCode",
                    exitCode);
}
