// The request pattern of the service wrappers, and the wrappers for
// registers, target status, CPU mode, messages, configuration files and the
// memory blocks handed to the kernel code.
#include "osa/service_requests.h"

#include <array>
#include <charconv>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "jsonrpc/client.h"
#include "osa/entry.h"
#include "osa/plugin_time.h"
#include "osa/service_exchange.h"
#include "runtime/allocation.h"
#include "runtime/text_format.h"
#include "simple_json/json_write.h"

// ---- The request pattern ------------------------------------------------------

JsonPtr OsaServiceParams(const OSA_ServiceCntx* context) {
  if (context == nullptr) return nullptr;
  JsonPtr params = JsonNewObject();
  JsonObjectAddInteger(params.get(), "context", context->contextHandle);
  return params;
}

void OsaServiceAddCore(JsonValue* params, std::int64_t core) {
  if (core != kOsaNoCore) JsonObjectAddInteger(params, "coreId", core + 1);
}

void OsaServiceAddTask(JsonValue* params, std::uint64_t taskId) {
  if (taskId != 0) JsonObjectAddInteger(params, "taskId", taskId);
}

bool OsaServiceSend(const char* method, JsonPtr params, JsonPtr* result) {
  if (params == nullptr) return false;
  return JrSendRequest(OsaRpcService(), method, std::move(params), result);
}

std::string* OsaParamsBegin(const OSA_ServiceCntx* context) {
  if (context == nullptr) return nullptr;
  thread_local std::string text;
  text.assign("{ \"context\" : ");
  RtAppendInteger(&text, static_cast<std::int64_t>(context->contextHandle));
  return &text;
}

// The piece and the digits are put together on the stack and appended once.
void OsaParamsInteger(std::string* params, const OsaParamName& name, std::int64_t value) {
  std::array<char, OsaParamName::kLongestPiece + 24> text;
  std::memcpy(text.data(), name.piece.data(), OsaParamName::kLongestPiece);
  const char* const end =
      std::to_chars(text.data() + name.size, text.data() + text.size(), value).ptr;
  params->append(text.data(), static_cast<std::size_t>(end - text.data()));
}

void OsaParamsString(std::string* params, const OsaParamName& name, const char* text) {
  params->append(name.piece.data(), name.size);
  JsonQuote(*params, text);
}

void OsaParamsCore(std::string* params, std::int64_t core) {
  if (core != kOsaNoCore) OsaParamsInteger(params, "coreId", core + 1);
}

void OsaParamsTask(std::string* params, std::uint64_t taskId) {
  if (taskId != 0) OsaParamsInteger(params, "taskId", static_cast<std::int64_t>(taskId));
}

bool OsaServiceSendText(const char* method, std::string* params, JsonPtr* answer,
                        const JsonValue** result) {
  *result = nullptr;
  if (params == nullptr) return false;
  params->append(" }");
  return JrSendTextKeep(OsaRpcService(), method, *params, answer, result) ==
         JrSendStatus::kAnswered;
}

std::uint32_t OsaServiceReturn(const JsonValue* result) {
  std::uint32_t status = 0;
  if (!JsonObjectGetInteger(result, "return", &status)) return kOsaServiceFailed;
  return status;
}

std::uint32_t OsaServiceReturnOf(const JsonValue* status) {
  if (status == nullptr || status->kind != JsonKind::JsonInteger) return kOsaServiceFailed;
  return static_cast<std::uint32_t>(status->number);
}

std::uint32_t OsaServiceCall(const char* method, JsonPtr params) {
  JsonPtr result;
  if (!OsaServiceSend(method, std::move(params), &result)) return kOsaServiceFailed;
  return OsaServiceReturn(result.get());
}

bool OsaServiceGetText(const JsonValue* result, std::string_view name, std::string* place) {
  const char* text = nullptr;
  if (!JsonObjectGetString(result, name, &text)) return false;
  if (place != nullptr) place->assign(text != nullptr ? text : "");
  return true;
}

// ---- Registers ------------------------------------------------------------------

std::uint32_t OSA_Service_RegisterRead(OSA_ServiceCntx* context, const OsaRegisterAccess& access,
                                       std::int64_t* value) {
  OsaTimingScope timing("RegRead(%" PRId64 ")", access.reg);
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "register", access.reg);
  JsonObjectAddInteger(params.get(), "width", access.width);
  JsonObjectAddInteger(params.get(), "fromDebugger", access.fromDebugger);
  OsaServiceAddCore(params.get(), access.core);
  OsaServiceAddTask(params.get(), access.taskId);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_RegisterRead", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  // "value" is optional: without it the place keeps its contents.
  (void)JsonObjectGetInteger(result.get(), "value", value);
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_RegisterWrite(OSA_ServiceCntx* context, const OsaRegisterAccess& access,
                                        std::uint64_t value) {
  OsaTimingScope timing("RegWrite(%" PRId64 ")", access.reg);
  // Counted before it is sent: a write that fails may still have changed
  // the target.
  if (context != nullptr) ++context->targetWrites;
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "register", access.reg);
  JsonObjectAddInteger(params.get(), "width", access.width);
  JsonObjectAddInteger(params.get(), "forMemoryAccess", access.forMemoryAccess);
  JsonObjectAddInteger(params.get(), "fromDebugger", access.fromDebugger);
  JsonObjectAddInteger(params.get(), "value", value);
  OsaServiceAddCore(params.get(), access.core);
  OsaServiceAddTask(params.get(), access.taskId);
  return OsaServiceCall("OSA_Service_RegisterWrite", std::move(params));
}

std::uint32_t OSA_Service_RegisterRead(OSA_ServiceCntx* context, std::int64_t core,
                                       std::int64_t reg, std::int32_t width, std::int64_t* value,
                                       std::int32_t fromDebugger, std::uint64_t taskId) {
  return OSA_Service_RegisterRead(
      context,
      {.reg = reg, .width = width, .fromDebugger = fromDebugger, .taskId = taskId, .core = core},
      value);
}

std::uint32_t OSA_Service_RegisterWrite(OSA_ServiceCntx* context, std::int64_t core,
                                        std::int64_t reg, std::int32_t width, std::uint64_t value,
                                        std::int32_t forMemoryAccess, std::int32_t fromDebugger,
                                        std::uint64_t taskId) {
  return OSA_Service_RegisterWrite(context,
                                   {.reg = reg,
                                    .width = width,
                                    .forMemoryAccess = forMemoryAccess,
                                    .fromDebugger = fromDebugger,
                                    .taskId = taskId,
                                    .core = core},
                                   value);
}

std::uint32_t OSA_Service_ThreadRegisterRead(OSA_ServiceCntx* context, std::uint64_t threadId,
                                             std::int64_t reg, std::int64_t* value,
                                             std::int64_t core) {
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "threadId", threadId);
  JsonObjectAddInteger(params.get(), "register", reg);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_ThreadRegisterRead", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  std::int64_t read = 0;
  if (!JsonObjectGetInteger(result.get(), "value", &read)) return kOsaServiceFailed;
  if (value != nullptr) *value = read;
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_ThreadRegisterWrite(OSA_ServiceCntx* context, std::uint64_t threadId,
                                              std::int64_t reg, std::uint64_t value,
                                              std::int64_t core) {
  if (context != nullptr) ++context->targetWrites;
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "threadId", threadId);
  JsonObjectAddInteger(params.get(), "register", reg);
  JsonObjectAddInteger(params.get(), "value", value);
  OsaServiceAddCore(params.get(), core);
  return OsaServiceCall("OSA_Service_ThreadRegisterWrite", std::move(params));
}

// ---- Target state -------------------------------------------------------------

std::uint32_t OSA_Service_TargetStatus(OSA_ServiceCntx* context, std::uint32_t* status,
                                       std::int64_t core) {
  JsonPtr params = OsaServiceParams(context);
  OsaServiceAddCore(params.get(), core);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_TargetStatus", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  std::uint32_t read = 0;
  if (!JsonObjectGetInteger(result.get(), "status", &read)) return kOsaServiceFailed;
  if (status != nullptr) *status = read;
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_CpuModeGet(OSA_ServiceCntx* context, std::int64_t core,
                                     std::uint32_t* inUserMode) {
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "coreId", core + 1);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_CpuModeGet", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  std::uint32_t read = 0;
  if (!JsonObjectGetInteger(result.get(), "inUserMode", &read)) return kOsaServiceFailed;
  if (inUserMode != nullptr) *inUserMode = read;
  return kOsaServiceOk;
}

// ---- Messages and files ----------------------------------------------------------

namespace {}  // namespace

std::uint32_t OSA_Service_MessageDisplay(OSA_ServiceCntx* context, std::int32_t messageType,
                                         const char* format, ...) {
  if (format == nullptr) return kOsaServiceOk;
  std::string message;
  std::va_list args;
  va_start(args, format);
  const bool formatted = RtFormatText(&message, format, args);
  va_end(args);
  if (!formatted) return kOsaServiceFailed;
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "messageType", messageType);
  JsonObjectAddString(params.get(), "message", std::string_view(message));
  return OsaServiceCall("OSA_Service_MessageDisplay", std::move(params));
}

std::uint32_t OSA_Service_YesNoChoose(OSA_ServiceCntx* context, std::uint32_t* choice,
                                      const char* format, ...) {
  if (format == nullptr) return kOsaServiceOk;
  if (choice == nullptr) return kOsaServiceFailed;
  std::string message;
  std::va_list args;
  va_start(args, format);
  const bool formatted = RtFormatText(&message, format, args);
  va_end(args);
  if (!formatted) return kOsaServiceFailed;
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddInteger(params.get(), "default", *choice);
  JsonObjectAddString(params.get(), "message", std::string_view(message));
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_YesNoChoose", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  if (!JsonObjectGetInteger(result.get(), "choice", choice)) return kOsaServiceFailed;
  return OsaServiceReturn(result.get());
}

std::uint32_t OSA_Service_ConfigFileSearch(OSA_ServiceCntx* context, const char* fileName,
                                           std::uint64_t permission, std::int32_t onlySearchDistDir,
                                           std::string* filePath) {
  JsonPtr params = OsaServiceParams(context);
  JsonObjectAddString(params.get(), "fileName", fileName);
  JsonObjectAddInteger(params.get(), "permission", permission);
  JsonObjectAddInteger(params.get(), "onlySearchDistDir", onlySearchDistDir);
  JsonPtr result;
  if (!OsaServiceSend("OSA_Service_ConfigFileSearch", std::move(params), &result)) {
    return kOsaServiceFailed;
  }
  if (!OsaServiceGetText(result.get(), "filePath", filePath)) return kOsaServiceFailed;
  return OsaServiceReturn(result.get());
}

// ---- Memory blocks for the kernel code ------------------------------------------

std::uint32_t OsaMemAlloc(OSA_ServiceCntx* /*context*/, std::size_t size, void** block) {
  if (block == nullptr) return kOsaServiceFailed;
  // The runtime's allocator ends the process when memory runs out, so a
  // block is always placed; ownership passes to the caller at this edge.
  std::unique_ptr<void, RtFreeDeleter> owner(RtAlloc(size));
  *block = owner.release();
  return kOsaServiceOk;
}

std::uint32_t OsaMemFree(OSA_ServiceCntx* /*context*/, void* block) {
  std::unique_ptr<void, RtFreeDeleter> owner(block);
  return kOsaServiceOk;
}
