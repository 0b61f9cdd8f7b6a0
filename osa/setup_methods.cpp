// Handlers of the setup, target and control methods: OsaInit, OsaCleanup,
// TargetInit, TargetCleanup, Poll, TargetNotify, OsaCmd_Execute,
// MessageInject and HistoryLogDump (Exit lives with the entry points).
#include <cstdint>
#include <string>
#include <vector>

#include "osa/context.h"
#include "osa/lists.h"
#include "osa/methods.h"
#include "osa/params.h"
#include "osa/plugin_api.h"
#include "osa/status.h"
#include "runtime/history_log.h"

namespace {

constexpr std::uint32_t kMinorCpuTypeCount = 10;
constexpr std::uint32_t kMinorCpuTypeEnd = 0xFFFFFFFF;

// The methods OsaInit lists: those offered always, and those whose slot is set.
bool IsOffered(const OsaMethodBinding& binding) {
  return binding.offer == OsaOffer::kAlways || OsaCallbackIsSet(OsaCallbacks(), binding.slot);
}

void CopyText(const JsonValue* params, std::string_view name, std::optional<std::string>* out) {
  const char* text = nullptr;
  if (OsaParamString(params, name, &text)) *out = std::string(text);
}

// The OsaInit parameters, in the order they are applied.
void ApplyOsaInitParams(const JsonValue* params, OSA_ServiceCntx* context) {
  context->info.versionRequired = OsaParamOr<std::uint32_t>(params, "versionRequired", 0);
  context->info.optionBits.treatMasterProcessAsKernel =
      OsaParamFlagOr(params, "treatMasterProcessAsKernel", true);
  CopyText(params, "sharedLibPath", &context->sharedLibPath);
  CopyText(params, "realSharedLibPath", &context->realSharedLibPath);
  CopyText(params, "vexloDir", &context->vexloDir);
  context->info.optionBits.fixOsaMemSpc = OsaParamFlagOr(params, "fixOsaMemSpc", false);
  context->showHiddenTasks = OsaParamFlagOr(params, "showHiddenTasks", false) ? 1 : 0;
}

void WriteOsaInitResult(JsonValue* result, const OSA_ServiceCntx& context) {
  const OsaPluginInfo& info = context.info;
  OsaResultInt32(result, "versionAcknowledge", info.versionAcknowledge);
  OsaResultInt32(result, "translateAddressOnMasterProcess",
                 info.optionBits.translateAddressOnMasterProcess ? 1 : 0);
  OsaResultInt32(result, "treatMasterProcessAsKernel",
                 info.optionBits.treatMasterProcessAsKernel ? 1 : 0);
  OsaResultInt32(result, "fixOsaMemSpc", info.optionBits.fixOsaMemSpc ? 1 : 0);
  OsaResultInt64(result, "fakeTidForMasterProcess", info.fakeTidForMasterProcess);

  std::vector<const char*> commands;
  for (const OsaMethodBinding& binding : OsaClientMethodTable()) {
    if (IsOffered(binding)) commands.push_back(binding.name);
  }
  OsaResultInt32(result, "commandCount", static_cast<std::uint32_t>(commands.size()));
  // Never empty, so never refused: some methods are offered always.
  (void)OsaPutList(result, "commands", commands.data(),
                   static_cast<std::uint32_t>(commands.size()));
}

// The ten minor CPU type codes: the array when the member exists at all
// (its first ten elements must be integers), else the single code followed
// by the end marker. False when neither can be read.
bool ReadMinorCpuTypes(const JsonValue* params, std::vector<std::uint32_t>* out) {
  if (OsaParamPresent(params, "minorCpuTypeArray")) {
    return OsaGetList(params, "minorCpuTypeArray", out, kMinorCpuTypeCount);
  }
  std::uint32_t code = 0;
  if (!OsaParam(params, "minorCpuType", &code)) return false;
  out->assign(kMinorCpuTypeCount, 0);
  (*out)[0] = code;
  (*out)[1] = kMinorCpuTypeEnd;
  return true;
}

// The TargetInit members from "bigEndianTarget" on, in table order. False
// when a required one is missing; the ones before it stay applied.
bool ApplyTargetParams(const JsonValue* params, OSA_ServiceCntx* context) {
  bool flag = false;
  if (!OsaParamLowBit(params, "bigEndianTarget", &flag)) return false;
  context->bigEndianTarget = flag;
  if (!OsaParamLowBit(params, "bigEndianHost", &flag)) return false;
  context->bigEndianHost = flag;
  if (OsaParamLowBit(params, "logCommunication", &flag)) context->logCommunication = flag;
  context->explorerIsActive = OsaParamFlagOr(params, "explorerIsActive", false);
  if (OsaParamFlag(params, "traecIsActive", &flag)) context->traecIsActive = flag;
  context->vexloInValidation = OsaParamFlagOr(params, "vexloInValidation", false);
  context->suppressErrMsg = OsaParamFlagOr(params, "suppressErrMsg", false);
  context->cpuAddressSize = OsaParamOr<std::uint32_t>(params, "cpuAddressSize", 0);
  context->isSimulator = OsaParamFlagOr(params, "isSimulator", false);
  context->coreCount = OsaParamOr<std::uint64_t>(params, "coreCount", 1);
  if (static_cast<std::int64_t>(context->coreCount) > 1) {
    // A list that cannot be read leaves no list; that is not an error.
    context->coreIdList.clear();
    std::vector<std::uint64_t> ids;
    if (OsaGetList(params, "coreIdList", &ids, static_cast<std::int32_t>(context->coreCount))) {
      context->coreIdList = std::move(ids);
    }
  }
  context->signExtendAddressFrom4BytesTo8Bytes =
      OsaParamOr<std::uint32_t>(params, "signExtendAddressFrom4BytesTo8Bytes", 0);
  OsaPluginInfo::OptionBits& bits = context->info.optionBits;
  bits.kernelInPhysicalAddress = OsaParamFlagOr(params, "kernelInPhysicalAddress", false);
  bits.distinguishCpuModes = OsaParamFlagOr(params, "distinguishCpuModes", true);
  if (OsaParamFlag(params, "fixOsaMemSpc", &flag)) bits.fixOsaMemSpc = flag;
  return true;
}

void WriteTargetInitResult(JsonValue* result, const OsaPluginInfo& info) {
  OsaResultInt32(result, "osaKernelMajorVersion", info.osaKernelMajorVersion);
  OsaResultInt32(result, "osaKernelMinorVersion", info.osaKernelMinorVersion);
  OsaResultInt32(result, "pageSize", info.pageSize);
  OsaResultInt32(result, "kernelInPhysicalAddress", info.optionBits.kernelInPhysicalAddress);
  OsaResultInt32(result, "distinguishCpuModes", info.optionBits.distinguishCpuModes);
  OsaResultInt32(result, "fixOsaMemSpc", info.optionBits.fixOsaMemSpc);
  OsaResultInt32(result, "noiceMask", info.noiceMask);
}

}  // namespace

// Creates the record itself: no decode, no scope.
JsonPtr OsaHandleOsaInit(const JsonValue* params) {
  JsonPtr result = JsonNewObject();
  const std::uint64_t handle = OsaParamOr<std::uint64_t>(params, "context", 0);
  // Held for the whole request, so a nested OsaCleanup cannot free it.
  const OsaContextPtr context = OsaContextHold(OsaContextCreate(handle));
  context->currentParams = params;
  ApplyOsaInitParams(params, context.get());
  context->info.versionAcknowledge = 2;

  const OsaStatus status = OsaCallSlot(OsaCallbacks().osaInit, context.get(), &context->info);
  OsaResultReturn(result.get(), status);
  if (status == OsaStatus::kOk) WriteOsaInitResult(result.get(), *context);
  OsaRequestForget(params, result.get());
  return result;
}

// Decodes but opens no scope; the record leaves the list whatever the
// callback says.
JsonPtr OsaHandleOsaCleanup(const JsonValue* params) {
  JsonPtr result = JsonNewObject();
  OSA_ServiceCntx* found = OsaRequestDecode(params, result.get());
  if (found == nullptr) {
    OsaResultReturn(result.get(), OsaStatus::kFailed);
    return result;
  }
  const OsaContextPtr context = OsaContextHold(found);
  const OsaStatus status = OsaCallSlot(OsaCallbacks().osaCleanup, context.get(), &context->info);
  OsaContextDestroy(context.get());
  OsaResultReturn(result.get(), status);
  OsaRequestForget(params, result.get());
  return result;
}

JsonPtr OsaHandleTargetInit(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);

  OsaParam(params, "vexloMajor", &context->vexloMajor);
  OsaParam(params, "vexloMinor", &context->vexloMinor);
  OsaParam(params, "vexloMicro", &context->vexloMicro);
  OsaParam(params, "debugMode", &context->debugMode);
  context->firstCoreIdOffset = OsaParamOr<std::uint64_t>(params, "firstCoreIdOffset", 0);

  std::uint32_t majorCpuType = 0;
  if (!OsaParam(params, "majorCpuType", &majorCpuType)) return request.Answer(OsaStatus::kFailed);
  context->majorCpuType = majorCpuType;
  context->majorCpuType16 = static_cast<std::uint16_t>(majorCpuType);

  std::vector<std::uint32_t> minorCpuTypes;
  if (!ReadMinorCpuTypes(params, &minorCpuTypes)) return request.Answer(OsaStatus::kFailed);
  context->minorCpuType16 = static_cast<std::uint16_t>(minorCpuTypes[0]);
  context->minorCpuTypes = std::move(minorCpuTypes);

  if (!ApplyTargetParams(params, context)) return request.Answer(OsaStatus::kFailed);

  const OsaStatus status =
      OsaCallSlot(OsaCallbacks().targetInit, context, &context->info, &context->privateData);
  WriteTargetInitResult(request.Result(), context->info);
  return request.Answer(status);
}

JsonPtr OsaHandleTargetCleanup(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  const OsaStatus status =
      OsaCallSlot(OsaCallbacks().targetCleanup, context, &context->info, &context->privateData);
  context->privateData.reset();
  return request.Answer(status);
}

JsonPtr OsaHandlePoll(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  const OsaStatus status = request.Call(OsaCallbacks().poll);
  return request.Answer(status);
}

JsonPtr OsaHandleTargetNotify(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::int32_t notice = 0;
  if (!OsaParam(params, "notice", &notice)) return request.Answer(OsaStatus::kFailed);
  context->explorerIsActive = OsaParamFlagOr(params, "explorerIsActive", false);
  context->traecIsActive = OsaParamFlagOr(params, "traecIsActive", false);
  context->wholeTargetHalted = OsaParamFlagOr(params, "wholeTargetHalted", false);
  const OsaStatus status = request.Call(OsaCallbacks().targetNotify, notice);
  return request.Answer(status);
}

// The callback may add members of its own through the record's current
// result; they come before "return".
JsonPtr OsaHandleOsaCmd_Execute(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  const char* command = nullptr;
  if (!OsaParamString(params, "command", &command)) return request.Answer(OsaStatus::kFailed);
  const OsaStatus status = request.Call(OsaCallbacks().osaCmdExecute, command);
  return request.Answer(status);
}

JsonPtr OsaHandleMessageInject(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::int32_t objTypeId = 0;
  std::uint64_t objId = 0;
  const char* message = nullptr;
  if (!OsaParam(params, "objTypeId", &objTypeId) || !OsaParam(params, "objId", &objId) ||
      !OsaParamString(params, "message", &message)) {
    return request.Answer(OsaStatus::kFailed);
  }
  const OsaStatus status = request.Call(OsaCallbacks().messageInject, objTypeId, objId, message);
  return request.Answer(status);
}

// Drives the runtime's history log; no record is involved and it cannot fail.
JsonPtr OsaHandleHistoryLogDump(const JsonValue* params) {
  JsonPtr result = JsonNewObject();
  const char* dirPath = nullptr;
  if (OsaParamString(params, "dirPath", &dirPath)) HistoryLogDump(dirPath);
  std::uint64_t bufferSize = 0;
  if (OsaParam(params, "bufferSize", &bufferSize) && bufferSize != UINT64_MAX) {
    HistoryLogSetBufferSize(bufferSize);
  }
  OsaResultReturn(result.get(), OsaStatus::kOk);
  return result;
}
