// Handlers of the task methods: memory access set-up and restore, register
// read and write, address translation, task texts and checks, relocation,
// symbol tables, the current task and address-space names.
#include <cstdint>
#include <string>
#include <vector>

#include "osa/context.h"
#include "osa/cpu_mode.h"
#include "osa/methods.h"
#include "osa/params.h"
#include "osa/plugin_api.h"
#include "osa/status.h"

namespace {

// The methods that take a task id and hand one value back differ only in
// their slot, the value's preset kind, the result member and its width.
enum class ValueWidth { kWhole, kLow32 };

JsonPtr ServeTaskValue(const JsonValue* params, OsaTaskValueCallback callback, OsaValueKind kind,
                       std::string_view member, ValueWidth width = ValueWidth::kWhole) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t taskId = 0;
  if (!OsaParam(params, "taskId", &taskId)) return request.Answer(OsaStatus::kFailed);
  OsaValue value = OsaPresetValue(kind);
  const OsaStatus status = request.Call(callback, taskId, &value);
  if (status == OsaStatus::kOk) {
    if (width == ValueWidth::kLow32 && value.kind != OsaValueKind::kText) {
      OsaResultInt32(request.Result(), member, static_cast<std::uint32_t>(value.payload));
    } else {
      OsaResultValue(request.Result(), member, value);
    }
  }
  return request.Answer(status);
}

JsonPtr ServeTaskMemoryAccess(const JsonValue* params, OsaTaskMemoryAccessCallback callback) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t taskId = 0;
  std::int32_t memorySpace = 0;
  std::uint64_t address = 0;
  std::int64_t count = 0;
  std::int64_t size = 0;
  std::int32_t read = 0;
  if (!OsaParam(params, "taskId", &taskId) || !OsaParam(params, "memorySpace", &memorySpace) ||
      !OsaParam(params, "address", &address) || !OsaParam(params, "count", &count) ||
      !OsaParam(params, "size", &size) || !OsaParam(params, "read", &read)) {
    return request.Answer(OsaStatus::kFailed);
  }
  // Count and size travel as 64-bit integers but reach the kernel code as
  // their low 32 bits.
  const OsaStatus status =
      request.Call(callback, taskId, memorySpace, OsaAddressFromU64(address),
                   static_cast<std::int32_t>(count), static_cast<std::int32_t>(size), read);
  return request.Answer(status);
}

JsonPtr ServeTaskAttribute(const JsonValue* params, OsaTaskAttributeCallback callback,
                           std::string_view member) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t taskId = 0;
  if (!OsaParam(params, "taskId", &taskId)) return request.Answer(OsaStatus::kFailed);
  const std::uint64_t taskAttribute = OsaParamOr<std::uint64_t>(params, "taskAttribute", 0);
  OsaValue value = OsaPresetValue(OsaValueKind::kInt64);
  const OsaStatus status = request.Call(callback, taskId, taskAttribute, &value);
  if (status == OsaStatus::kOk) OsaResultInt64(request.Result(), member, value.payload);
  return request.Answer(status);
}

// A file's named sections as two inner arrays; false when they cannot be
// formed (a missing names or offsets array for a positive count, or fewer
// entries than the count).
bool NamedSectionsOfFile(const OsaSymTab& table, std::size_t file, JsonPtr* names,
                         JsonPtr* offsets) {
  const std::vector<std::int32_t>& counts = *table.namedSectionCounts;
  if (file >= counts.size()) return false;
  const std::int32_t count = counts[file];
  *names = JsonNewArray();
  *offsets = JsonNewArray();
  if (count <= 0) return true;
  if (file >= table.namedSectionNames.size() || file >= table.namedSectionOffsets.size()) {
    return false;
  }
  const auto& fileNames = table.namedSectionNames[file];
  const auto& fileOffsets = table.namedSectionOffsets[file];
  const auto n = static_cast<std::size_t>(count);
  if (!fileNames || !fileOffsets || fileNames->size() < n || fileOffsets->size() < n) {
    return false;
  }
  for (std::size_t i = 0; i < n; ++i) {
    JsonArrayAppend(names->get(), JsonNewString(std::string_view((*fileNames)[i])));
    JsonArrayAppend(offsets->get(),
                    JsonNewInteger(static_cast<std::int64_t>((*fileOffsets)[i].payload)));
  }
  return true;
}

// Writes the symbol table's members in order; each one that cannot be
// formed makes the status 1 and the next one is still tried.
[[nodiscard]] OsaStatus WriteSymTab(JsonValue* result, const OsaSymTab& table) {
  OsaStatus status = OsaStatus::kOk;
  const auto fail = [&status](bool formed) {
    if (!formed) status = OsaStatus::kFailed;
  };
  const std::int64_t count = table.count;
  OsaResultInt32(result, "count", static_cast<std::uint32_t>(table.count));
  fail(OsaResultList(result, "fileName", table.fileNames, count));
  std::vector<std::int64_t> masks(table.masks.begin(), table.masks.end());
  fail(OsaResultList(result, "mask", masks, count));
  fail(OsaResultList(result, "text", OsaValuePayloads(table.text), count));
  fail(OsaResultList(result, "rodata", OsaValuePayloads(table.rodata), count));
  fail(OsaResultList(result, "data", OsaValuePayloads(table.data), count));
  fail(OsaResultList(result, "bss", OsaValuePayloads(table.bss), count));
  fail(OsaResultList(result, "extra", OsaValuePayloads(table.extra), count));
  if (!table.namedSectionCounts) return status;

  fail(OsaResultList(result, "namedSectionCounts", *table.namedSectionCounts, count));
  JsonPtr allNames = JsonNewArray();
  JsonPtr allOffsets = JsonNewArray();
  for (std::int64_t file = 0; file < count; ++file) {
    JsonPtr names;
    JsonPtr offsets;
    if (!NamedSectionsOfFile(table, static_cast<std::size_t>(file), &names, &offsets)) {
      status = OsaStatus::kFailed;
      continue;
    }
    JsonArrayAppend(allNames.get(), std::move(names));
    JsonArrayAppend(allOffsets.get(), std::move(offsets));
  }
  JsonObjectAdd(result, "namedSectionNames", std::move(allNames));
  JsonObjectAdd(result, "namedSectionOffsets", std::move(allOffsets));
  return status;
}

}  // namespace

JsonPtr OsaHandleTaskMemoryAccessSetup(const JsonValue* params) {
  return ServeTaskMemoryAccess(params, OsaCallbacks().taskMemoryAccessSetup);
}

JsonPtr OsaHandleTaskMemoryAccessRestore(const JsonValue* params) {
  return ServeTaskMemoryAccess(params, OsaCallbacks().taskMemoryAccessRestore);
}

JsonPtr OsaHandleTaskRegisterRead(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t taskId = 0;
  std::int32_t reg = 0;
  if (!OsaParam(params, "taskId", &taskId) || !OsaParam(params, "register", &reg)) {
    return request.Answer(OsaStatus::kFailed);
  }
  std::uint64_t value = 0;
  const OsaStatus status = request.Call(OsaCallbacks().taskRegisterRead, taskId, reg, &value);
  if (status == OsaStatus::kOk) OsaResultInt64(request.Result(), "value", value);
  return request.Answer(status);
}

JsonPtr OsaHandleTaskRegisterWrite(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t taskId = 0;
  std::int32_t reg = 0;
  std::uint64_t value = 0;
  if (!OsaParam(params, "taskId", &taskId) || !OsaParam(params, "register", &reg) ||
      !OsaParam(params, "value", &value)) {
    return request.Answer(OsaStatus::kFailed);
  }
  const OsaStatus status = request.Call(OsaCallbacks().taskRegisterWrite, taskId, reg, value);
  return request.Answer(status);
}

JsonPtr OsaHandleTaskAddressTranslate(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t taskId = 0;
  std::int32_t memorySpace = 0;
  std::uint64_t address = 0;
  if (!OsaParam(params, "taskId", &taskId) || !OsaParam(params, "memorySpace", &memorySpace) ||
      !OsaParam(params, "address", &address)) {
    return request.Answer(OsaStatus::kFailed);
  }
  context->wantPhysicalAddress = OsaParamFlagOr(params, "wantPhysicalAddress", false) ? 1 : 0;
  const std::int32_t toTask = OsaParamFlagOr(params, "fromTask", true) ? 0 : 1;
  OsaValue translated = OsaPresetValue(OsaValueKind::kAddress);
  const OsaStatus status = request.Call(OsaCallbacks().taskAddressTranslate, taskId, &memorySpace,
                                        OsaAddressFromU64(address), toTask, &translated);
  if (status == OsaStatus::kOk) {
    OsaResultInt32(request.Result(), "memorySpace", static_cast<std::uint32_t>(memorySpace));
    OsaResultInt64(request.Result(), "address", translated.payload);
  }
  return request.Answer(status);
}

JsonPtr OsaHandleTaskNameGet(const JsonValue* params) {
  return ServeTaskValue(params, OsaCallbacks().taskNameGet, OsaValueKind::kText, "name");
}

JsonPtr OsaHandleTaskStatusGet(const JsonValue* params) {
  return ServeTaskValue(params, OsaCallbacks().taskStatusGet, OsaValueKind::kText, "status");
}

JsonPtr OsaHandleTaskExecGet(const JsonValue* params) {
  return ServeTaskValue(params, OsaCallbacks().taskExecGet, OsaValueKind::kText, "executable");
}

JsonPtr OsaHandleTaskCpuGet(const JsonValue* params) {
  const std::int32_t valueType = OsaParamOr<std::int32_t>(params, "valueType", 0);
  // The kind the callback leaves decides between integer and text.
  return ServeTaskValue(params, OsaCallbacks().taskCpuGet,
                        valueType != 0 ? OsaValueKind::kUInt64 : OsaValueKind::kText, "cpu");
}

// The answer's type follows "wantName", not the kind the callback leaves.
JsonPtr OsaHandleTaskAddressSpaceGet(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t taskId = 0;
  std::int32_t wantName = 0;
  if (!OsaParam(params, "taskId", &taskId) || !OsaParam(params, "wantName", &wantName)) {
    return request.Answer(OsaStatus::kFailed);
  }
  OsaValue value = OsaPresetValue(wantName != 0 ? OsaValueKind::kText : OsaValueKind::kUInt64);
  const OsaStatus status = request.Call(OsaCallbacks().taskAddressSpaceGet, taskId, &value);
  if (status == OsaStatus::kOk) {
    if (wantName != 0) {
      OsaResultString(request.Result(), "addressSpace", value.text ? value.text->c_str() : "");
    } else {
      OsaResultInt64(request.Result(), "addressSpace", value.payload);
    }
  }
  return request.Answer(status);
}

JsonPtr OsaHandleTaskRelocatableGet(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t taskId = 0;
  if (!OsaParam(params, "taskId", &taskId)) return request.Answer(OsaStatus::kFailed);
  OsaValue text = OsaPresetValue(OsaValueKind::kAddress);
  OsaValue rodata = text;
  OsaValue data = text;
  OsaValue bss = text;
  OsaValue extra = text;
  const OsaStatus status =
      request.Call(OsaCallbacks().taskRelocatableGet, taskId, &text, &rodata, &data, &bss, &extra);
  if (status == OsaStatus::kOk) {
    OsaResultInt64(request.Result(), "text", text.payload);
    OsaResultInt64(request.Result(), "rodata", rodata.payload);
    OsaResultInt64(request.Result(), "data", data.payload);
    OsaResultInt64(request.Result(), "bss", bss.payload);
    OsaResultInt64(request.Result(), "extra", extra.payload);
  }
  return request.Answer(status);
}

JsonPtr OsaHandleTaskSymTabGet(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t taskId = 0;
  if (!OsaParam(params, "taskId", &taskId)) return request.Answer(OsaStatus::kFailed);
  const char* kernelExecName = nullptr;
  OsaParamString(params, "kernelExecName", &kernelExecName);
  OsaSymTab table;
  OsaStatus status = request.Call(OsaCallbacks().taskSymTabGet, taskId, kernelExecName, &table);
  if (status == OsaStatus::kOk) status = WriteSymTab(request.Result(), table);
  return request.Answer(status);
}

JsonPtr OsaHandleCurrentTaskGet(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::int32_t checkInKernel = 0;
  if (!OsaParam(params, "checkInKernel", &checkInKernel)) return request.Answer(OsaStatus::kFailed);
  context->noKernelCheck = checkInKernel == 0;
  std::uint64_t coreId = 0;
  // 1-based on the wire; without it, the request's host core (or none).
  const std::int64_t core = OsaParam(params, "coreId", &coreId)
                                ? static_cast<std::int64_t>(coreId - 1)
                                : OsaHostCore(context, kOsaNoCore);
  OsaCoreModeRecord(context, core, OsaParamOr<std::uint32_t>(params, "coreInUserMode", 0));
  std::uint64_t taskId = 0;
  const OsaStatus status = request.Call(OsaCallbacks().currentTaskGet, core, &taskId);
  if (status == OsaStatus::kOk) OsaResultInt64(request.Result(), "taskId", taskId);
  return request.Answer(status);
}

JsonPtr OsaHandleTaskInKernelCheck(const JsonValue* params) {
  return ServeTaskValue(params, OsaCallbacks().taskInKernelCheck, OsaValueKind::kUInt32, "result",
                        ValueWidth::kLow32);
}

JsonPtr OsaHandleTaskInCurrentAddressSpaceCheck(const JsonValue* params) {
  return ServeTaskValue(params, OsaCallbacks().taskInCurrentAddressSpaceCheck,
                        OsaValueKind::kUInt32, "result", ValueWidth::kLow32);
}

JsonPtr OsaHandleTaskIsHiddenCheck(const JsonValue* params) {
  return ServeTaskValue(params, OsaCallbacks().taskIsHiddenCheck, OsaValueKind::kUInt32, "result",
                        ValueWidth::kLow32);
}

JsonPtr OsaHandleTaskLsoGet(const JsonValue* params) {
  return ServeTaskAttribute(params, OsaCallbacks().taskLsoGet, "offset");
}

JsonPtr OsaHandleTaskTksaGet(const JsonValue* params) {
  return ServeTaskAttribute(params, OsaCallbacks().taskTksaGet, "value");
}

JsonPtr OsaHandleAddressSpaceNameGet(const JsonValue* params) {
  OsaServedRequest request(params);
  OSA_ServiceCntx* context = request.Context();
  if (context == nullptr) return request.Answer(OsaStatus::kFailed);
  std::uint64_t addressSpaceId = 0;
  if (!OsaParam(params, "addressSpaceId", &addressSpaceId)) {
    return request.Answer(OsaStatus::kFailed);
  }
  OsaValue name = OsaPresetValue(OsaValueKind::kText);
  const OsaStatus status = request.Call(OsaCallbacks().addressSpaceNameGet, addressSpaceId, &name);
  if (status == OsaStatus::kOk) OsaResultValue(request.Result(), "name", name);
  return request.Answer(status);
}
