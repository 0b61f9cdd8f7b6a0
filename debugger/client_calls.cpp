// The debugger's OSA_Client_* requests (see client_calls.h).
#include "debugger/client_calls.h"

#include <utility>

namespace {

JsonPtr ContextParams(std::int64_t context) {
  JsonPtr params = JsonNewObject();
  JsonObjectAddInteger(params.get(), "context", context);
  return params;
}

JsonPtr ObjectParams(std::int64_t context, std::int32_t type) {
  JsonPtr params = ContextParams(context);
  JsonObjectAddInteger(params.get(), "objTypeId", type);
  return params;
}

JsonPtr TaskParams(std::int64_t context, std::uint64_t taskId) {
  JsonPtr params = ContextParams(context);
  JsonObjectAddInteger(params.get(), "taskId", taskId);
  return params;
}

// Sends the request and reads "return"; *result keeps the answer's members.
std::int32_t Call(DbgSession* session, std::string_view method, JsonPtr params, JsonPtr* result) {
  JsonPtr answer;
  if (!DbgSessionCall(session, method, std::move(params), &answer)) return kDbgNoAnswer;
  std::int32_t status = 0;
  if (!JsonObjectGetInteger(answer.get(), "return", &status)) {
    session->lastError = std::string(method) + ": the answer has no \"return\"";
    return kDbgNoAnswer;
  }
  *result = std::move(answer);
  return status;
}

std::int32_t CallStatus(DbgSession* session, std::string_view method, JsonPtr params) {
  JsonPtr result;
  return Call(session, method, std::move(params), &result);
}

// A status-0 answer that lacks a member the method promises is no answer.
std::int32_t Missing(DbgSession* session, std::string_view method, std::string_view member) {
  session->lastError = std::string(method) + ": the answer has no \"" + std::string(member) + "\"";
  return kDbgNoAnswer;
}

// The text member `member` of a status-0 answer into *out.
std::int32_t CallText(DbgSession* session, std::string_view method, JsonPtr params,
                      std::string_view member, std::string* out) {
  JsonPtr result;
  const std::int32_t status = Call(session, method, std::move(params), &result);
  if (status != 0) return status;
  const char* text = nullptr;
  if (!JsonObjectGetString(result.get(), member, &text)) return Missing(session, method, member);
  out->assign(text != nullptr ? text : "");
  return 0;
}

// The integer member `member` of a status-0 answer into *out.
template <typename Integer>
std::int32_t CallNumber(DbgSession* session, std::string_view method, JsonPtr params,
                        std::string_view member, Integer* out) {
  JsonPtr result;
  const std::int32_t status = Call(session, method, std::move(params), &result);
  if (status != 0) return status;
  if (!JsonObjectGetInteger(result.get(), member, out)) return Missing(session, method, member);
  return 0;
}

JsonPtr AttributeParams(std::int64_t context, std::int32_t type, std::int32_t attribute,
                        std::int32_t valueType) {
  JsonPtr params = ObjectParams(context, type);
  JsonObjectAddInteger(params.get(), "objAtrId", attribute);
  JsonObjectAddInteger(params.get(), "valueType", valueType);
  return params;
}

}  // namespace

std::int32_t DbgOsaInit(DbgSession* session, std::int64_t context, DbgOsaInitAnswer* answer) {
  JsonPtr result;
  const std::int32_t status = Call(session, "OSA_Client_OsaInit", ContextParams(context), &result);
  if (status != 0) return status;
  DbgOsaInitAnswer read;
  // Optional members: a missing one leaves the preset default.
  (void)JsonObjectGetInteger(result.get(), "versionAcknowledge", &read.versionAcknowledge);
  const JsonValue* commands = nullptr;
  if (!JsonObjectGet(result.get(), "commands", &commands) ||
      commands->kind != JsonKind::JsonArray) {
    return Missing(session, "OSA_Client_OsaInit", "commands");
  }
  for (const JsonPtr& element : commands->elements) {
    if (element->kind == JsonKind::JsonString) read.commands.push_back(element->text);
  }
  *answer = std::move(read);
  return 0;
}

std::int32_t DbgOsaCleanup(DbgSession* session, std::int64_t context) {
  return CallStatus(session, "OSA_Client_OsaCleanup", ContextParams(context));
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
  JsonPtr params = ContextParams(context);
  JsonObjectAddInteger(params.get(), "majorCpuType", kDbgCortexMMajorCpuType);
  JsonObjectAddInteger(params.get(), "minorCpuType", kDbgCortexMMinorCpuType);
  JsonObjectAddInteger(params.get(), "bigEndianTarget", std::int32_t{bigEndianTarget ? 1 : 0});
  JsonObjectAddInteger(params.get(), "bigEndianHost", std::int32_t{0});
  JsonObjectAddInteger(params.get(), "coreCount", std::int32_t{1});
  JsonPtr result;
  const std::int32_t status = Call(session, "OSA_Client_TargetInit", std::move(params), &result);
  if (status != 0) return status;
  DbgTargetInitAnswer read;
  // Optional members: a missing one leaves the preset default.
  (void)JsonObjectGetInteger(result.get(), "osaKernelMajorVersion", &read.osaKernelMajorVersion);
  (void)JsonObjectGetInteger(result.get(), "osaKernelMinorVersion", &read.osaKernelMinorVersion);
  (void)JsonObjectGetInteger(result.get(), "distinguishCpuModes", &read.distinguishCpuModes);
  *answer = read;
  return 0;
}

std::int32_t DbgTargetCleanup(DbgSession* session, std::int64_t context) {
  return CallStatus(session, "OSA_Client_TargetCleanup", ContextParams(context));
}

std::int32_t DbgTargetNotify(DbgSession* session, std::int64_t context, std::int32_t notice) {
  JsonPtr params = ContextParams(context);
  JsonObjectAddInteger(params.get(), "notice", notice);
  return CallStatus(session, "OSA_Client_TargetNotify", std::move(params));
}

std::int32_t DbgObjectListInit(DbgSession* session, std::int64_t context, std::int32_t type) {
  return CallStatus(session, "OSA_Client_ObjectListInit", ObjectParams(context, type));
}

std::int32_t DbgObjectListNext(DbgSession* session, std::int64_t context, std::int32_t type) {
  return CallStatus(session, "OSA_Client_ObjectListNext", ObjectParams(context, type));
}

std::int32_t DbgObjectListCleanup(DbgSession* session, std::int64_t context, std::int32_t type) {
  return CallStatus(session, "OSA_Client_ObjectListCleanup", ObjectParams(context, type));
}

std::int32_t DbgObjectListAttributeText(DbgSession* session, std::int64_t context,
                                        std::int32_t type, std::int32_t attribute,
                                        std::string* text) {
  return CallText(session, "OSA_Client_ObjectListAttribute",
                  AttributeParams(context, type, attribute, kDbgValueText), "objAtrValue", text);
}

std::int32_t DbgObjectListAttributeNumber(DbgSession* session, std::int64_t context,
                                          std::int32_t type, std::int32_t attribute,
                                          std::uint64_t* number) {
  return CallNumber(session, "OSA_Client_ObjectListAttribute",
                    AttributeParams(context, type, attribute, kDbgValueNumber), "objAtrValue",
                    number);
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
  JsonPtr params = TaskParams(context, taskId);
  JsonObjectAddInteger(params.get(), "register", reg);
  return CallNumber(session, "OSA_Client_TaskRegisterRead", std::move(params), "value", value);
}

std::int32_t DbgTaskRegisterWrite(DbgSession* session, std::int64_t context, std::uint64_t taskId,
                                  std::int32_t reg, std::uint64_t value) {
  JsonPtr params = TaskParams(context, taskId);
  JsonObjectAddInteger(params.get(), "register", reg);
  JsonObjectAddInteger(params.get(), "value", value);
  return CallStatus(session, "OSA_Client_TaskRegisterWrite", std::move(params));
}

std::int32_t DbgTaskStatusGet(DbgSession* session, std::int64_t context, std::uint64_t taskId,
                              std::string* status) {
  return CallText(session, "OSA_Client_TaskStatusGet", TaskParams(context, taskId), "status",
                  status);
}

std::int32_t DbgTaskNameGet(DbgSession* session, std::int64_t context, std::uint64_t taskId,
                            std::string* name) {
  return CallText(session, "OSA_Client_TaskNameGet", TaskParams(context, taskId), "name", name);
}

std::int32_t DbgCurrentTaskGet(DbgSession* session, std::int64_t context, std::uint64_t* taskId) {
  JsonPtr params = ContextParams(context);
  JsonObjectAddInteger(params.get(), "checkInKernel", std::int32_t{0});
  return CallNumber(session, "OSA_Client_CurrentTaskGet", std::move(params), "taskId", taskId);
}

std::int32_t DbgTaskLsoGet(DbgSession* session, std::int64_t context, std::uint64_t taskId,
                           std::int64_t* offset) {
  return CallNumber(session, "OSA_Client_TaskLsoGet", TaskParams(context, taskId), "offset",
                    offset);
}

std::int32_t DbgOsaCmdExecute(DbgSession* session, std::int64_t context, std::string_view command,
                              JsonPtr* result) {
  JsonPtr params = ContextParams(context);
  JsonObjectAddString(params.get(), "command", command);
  JsonPtr answer;
  const std::int32_t status =
      Call(session, "OSA_Client_OsaCmd_Execute", std::move(params), &answer);
  if (status == 0) *result = std::move(answer);
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
  JsonPtr params = ContextParams(context);
  JsonObjectAddString(params.get(), "objTypeName", typeName);
  JsonObjectAddInteger(params.get(), "objTypeId", type);
  JsonObjectAddInteger(params.get(), "visible", visible);
  JsonPtr result;
  const std::int32_t status =
      Call(session, "OSA_Client_GuiObjectCheck", std::move(params), &result);
  if (status != 0) return status;
  const char* name = nullptr;
  std::int32_t shown = 0;
  if (!JsonObjectGetString(result.get(), "objTypeName", &name)) {
    return Missing(session, "OSA_Client_GuiObjectCheck", "objTypeName");
  }
  if (!JsonObjectGetInteger(result.get(), "visible", &shown)) {
    return Missing(session, "OSA_Client_GuiObjectCheck", "visible");
  }
  shownName->assign(name != nullptr ? name : "");
  *shownVisible = shown;
  return 0;
}

std::int32_t DbgExit(DbgSession* session, std::int32_t* exitCode) {
  return CallNumber(session, "OSA_Client_Exit", JsonNewObject(), "exitCode", exitCode);
}
