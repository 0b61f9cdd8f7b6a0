// Fuzz target: any text handed to OSA_Client_CmdParser must be answered (the
// response is never null) without a crash, a leak or a read of released
// memory. A callback table fills every slot and hands back texts, numbers of
// every kind, lists short of, equal to and beyond their counts, and failure
// statuses, chosen from the input; callbacks also wait on the debugger, whose
// canned answers may dispatch a nested request first.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "jsonrpc/client.h"
#include "osa/context.h"
#include "osa/entry.h"
#include "osa/plugin_api.h"
#include "osa/process_state.h"
#include "simple_json/json_parse.h"

namespace {

std::uint64_t gState = 1;  // reseeded from every input

std::uint32_t Pick(std::uint32_t n) {
  gState ^= gState << 13;
  gState ^= gState >> 7;
  gState ^= gState << 17;
  return n == 0 ? 0 : static_cast<std::uint32_t>(gState % n);
}

// ---- The debugger at the other end -------------------------------------------

constexpr std::array<const char*, 5> kAnswers = {
    "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"value\" : \"0a0b\", \"return\" : 0 }, \"id\" : 0 }",
    "{ \"jsonrpc\" : \"2.0\", \"result\" : { \"return\" : 3 }, \"id\" : 0 }",
    "{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : -32601, \"message\" : \"unknown\"}, "
    "\"id\" : 0 }",
    "{ \"jsonrpc\" : \"2.0\", \"result\" : [ 1 ], \"id\" : 0 }",
    "not json",
};

// Requests the debugger may send while the plug-in waits for an answer.
constexpr std::array<const char*, 6> kNestedRequests = {
    "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_Poll\", \"params\" : { \"context\" : 1, "
    "\"inUserMode\" : 1 }, \"id\" : 90 }",
    "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_TaskNameGet\", \"params\" : { "
    "\"context\" : 1, \"taskId\" : 2, \"hostCoreId\" : 2 }, \"id\" : 91 }",
    "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_OsaCleanup\", \"params\" : { "
    "\"context\" : 1 }, \"id\" : 92 }",
    "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_OsaInit\", \"params\" : { \"context\" : 1 "
    "}, \"id\" : 93 }",
    "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_TargetCleanup\", \"params\" : { "
    "\"context\" : 2 }, \"id\" : 94 }",
    "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_OsaCmd_Execute\", \"params\" : { "
    "\"context\" : 2, \"command\" : \"x\" }, \"id\" : 95 }",
};

int gNestedDepth = 0;

const char* CannedSend(const char* /*request*/) {
  // One level of nesting is enough to reach every restoration path and keeps
  // a callback from recursing without end.
  if (gNestedDepth == 0 && Pick(3) == 0) {
    ++gNestedDepth;
    if (OSA_Client_CmdParser(kNestedRequests[Pick(kNestedRequests.size())]) == nullptr) {
      std::abort();
    }
    --gNestedDepth;
  }
  if (Pick(8) == 0) return nullptr;
  return kAnswers[Pick(kAnswers.size())];
}

// ---- Callback outputs ------------------------------------------------------------

std::int32_t Status() {
  constexpr std::array<std::int32_t, 6> kStatuses = {0, 0, 0, 1, 2, -7};
  return kStatuses[Pick(kStatuses.size())];
}

void MaybeWait() {
  if (Pick(4) != 0) return;
  JsonPtr result;
  // Only the wait matters here, not whether the canned answer was taken.
  (void)JrSendRequest(OsaRpcService(), "OSA_Service_TargetStatus", JsonNewObject(), &result);
}

std::string SomeText() {
  constexpr std::array<std::string_view, 4> kTexts = {"", "Ready", "%s%n\"\\\n\x01",
                                                      std::string_view("a\0b", 3)};
  return std::string(kTexts[Pick(kTexts.size())]);
}

// Leaves the preset, or hands back a text, a null text or a number of any
// kind (kinds past the last one included).
void FillValue(OsaValue* value) {
  switch (Pick(4)) {
    case 0:
      return;
    case 1:
      value->kind = OsaValueKind::kText;
      value->text = SomeText();
      return;
    case 2:
      value->kind = OsaValueKind::kText;
      value->text.reset();
      return;
    default:
      value->kind = static_cast<OsaValueKind>(Pick(13));
      value->payload = (static_cast<std::uint64_t>(Pick(0xFFFFFFFF)) << 32) | Pick(0xFFFFFFFF);
      return;
  }
}

// A count and a list length around it.
std::int64_t Count() {
  return static_cast<std::int64_t>(Pick(5)) - (Pick(8) == 0 ? 3 : 0);
}
std::size_t LengthAround(std::int64_t count) {
  const std::int64_t length = count + static_cast<std::int64_t>(Pick(3)) - 1;
  return length < 0 ? 0 : static_cast<std::size_t>(length);
}

std::vector<OsaValue> Values(std::int64_t count) {
  std::vector<OsaValue> values(LengthAround(count));
  for (OsaValue& value : values)
    FillValue(&value);
  return values;
}

int gKernelRecord = 0;

std::int32_t ContextStep(OSA_ServiceCntx*, OsaPluginInfo* info) {
  MaybeWait();
  info->fakeTidForMasterProcess = Pick(3);
  info->optionBits.translateAddressOnMasterProcess = Pick(2) != 0;
  return Status();
}

std::int32_t TargetStep(OSA_ServiceCntx*, OsaPluginInfo* info, OsaPrivateData* place) {
  MaybeWait();
  if (Pick(2) != 0) *place = OsaPrivateData(&gKernelRecord, OsaPrivateDeleter{[](void*) {}});
  info->pageSize = Pick(0xFFFFFFFF);
  return Status();
}

std::int32_t ListStep(OSA_ServiceCntx*, OsaPluginInfo* info, void*, std::int32_t,
                      const OsaParentRef*) {
  MaybeWait();
  info->optionBits.showObjectNumber = Pick(2) != 0;
  return Status();
}

std::int32_t Attribute(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t, const OsaParentRef*,
                       std::int32_t, OsaValue* value) {
  MaybeWait();
  FillValue(value);
  return Status();
}

std::int32_t MemoryAccess(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t, std::int32_t,
                          OsaTargetAddress, std::int32_t, std::int32_t, std::int32_t) {
  MaybeWait();
  return Status();
}

std::int32_t TaskValue(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t, OsaValue* value) {
  MaybeWait();
  FillValue(value);
  return Status();
}

std::int32_t TaskAttribute(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t, std::uint64_t,
                           OsaValue* value) {
  FillValue(value);
  return Status();
}

std::int32_t SymTab(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t, const char*,
                    OsaSymTab* table) {
  MaybeWait();
  const std::int64_t count = Count();
  table->count = static_cast<std::int32_t>(count);
  table->fileNames.assign(LengthAround(count), SomeText());
  table->masks.assign(LengthAround(count), -1);
  table->text = Values(count);
  table->rodata = Values(count);
  table->data = Values(count);
  table->bss = Values(count);
  table->extra = Values(count);
  if (Pick(3) == 0) return Status();
  std::vector<std::int32_t> counts(LengthAround(count));
  for (std::int32_t& n : counts)
    n = static_cast<std::int32_t>(Count());
  for (std::size_t file = 0; file < LengthAround(count); ++file) {
    const std::int64_t n = file < counts.size() ? counts[file] : 0;
    if (Pick(4) == 0) {
      table->namedSectionNames.emplace_back(std::nullopt);
    } else {
      table->namedSectionNames.emplace_back(std::vector<std::string>(LengthAround(n), ".s"));
    }
    if (Pick(4) == 0) {
      table->namedSectionOffsets.emplace_back(std::nullopt);
    } else {
      table->namedSectionOffsets.emplace_back(Values(n));
    }
  }
  table->namedSectionCounts = std::move(counts);
  return Status();
}

std::int32_t CurrentTask(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int64_t core,
                         std::uint64_t* taskId) {
  MaybeWait();
  *taskId = static_cast<std::uint64_t>(core);
  return Status();
}

std::int32_t Command(OSA_ServiceCntx* context, OsaPluginInfo*, void*, const char* command) {
  MaybeWait();
  // Members of its own go into the answer being built, if there is one.
  if (context->currentResult != nullptr) {
    JsonObjectAddString(context->currentResult, "task_table", command);
  }
  return Status();
}

std::int32_t GuiObject(OSA_ServiceCntx*, OsaPluginInfo*, void*, const OsaGuiObjectInfo* in,
                       OsaGuiObjectInfo* out) {
  if (Pick(2) != 0) out->typeName = in->typeName.value_or("") + SomeText();
  out->visible = Pick(3);
  return Status();
}

std::int32_t ObjectChanged(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t, std::uint64_t,
                           std::int32_t, OsaValue* mask) {
  FillValue(mask);
  return Status();
}

std::int32_t LifeCycle(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t, std::uint64_t,
                       std::int32_t, OsaValue* count, std::vector<OsaValue>* lifeCycle) {
  const std::int64_t n = Count();
  count->payload = static_cast<std::uint64_t>(n);
  *lifeCycle = Values(n);
  return Status();
}

std::int32_t PageTable(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t,
                       std::vector<OsaTargetAddress>* physLow,
                       std::vector<OsaTargetAddress>* virtLow, std::vector<OsaValue>* regionSize,
                       std::vector<std::uint64_t>* aid, OsaValue* count) {
  const std::int64_t n = Count();
  count->payload = static_cast<std::uint64_t>(n);
  physLow->assign(LengthAround(n), {1, 2});
  virtLow->assign(LengthAround(n), {3, 4});
  *regionSize = Values(n);
  aid->assign(LengthAround(n), ~std::uint64_t{0});
  return Status();
}

std::int32_t MemoryRegions(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t* count,
                           std::vector<OsaMemoryRegion>* regions) {
  const std::int64_t n = Count();
  *count = static_cast<std::int32_t>(n);
  regions->assign(LengthAround(n), {1, 2, 3, 4, 5});
  return Status();
}

void InstallCallbacks(OsaPluginCallbacks* table) {
  table->osaInit = ContextStep;
  table->osaCleanup = ContextStep;
  table->targetInit = TargetStep;
  table->targetCleanup = TargetStep;
  table->objectListInit = ListStep;
  table->objectListCleanup = ListStep;
  table->objectListNext = ListStep;
  table->objectListAttribute = Attribute;
  table->taskMemoryAccessSetup = MemoryAccess;
  table->taskMemoryAccessRestore = MemoryAccess;
  table->taskRegisterRead = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t,
                               std::int32_t reg, std::uint64_t* value) {
    *value = static_cast<std::uint64_t>(reg);
    return Status();
  };
  table->taskRegisterWrite = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t,
                                std::int32_t, std::uint64_t) { return Status(); };
  table->taskAddressTranslate = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t,
                                   std::int32_t* memorySpace, OsaTargetAddress, std::int32_t toTask,
                                   OsaValue* value) {
    *memorySpace += toTask;
    FillValue(value);
    return Status();
  };
  table->taskNameGet = TaskValue;
  table->taskStatusGet = TaskValue;
  table->taskExecGet = TaskValue;
  table->taskCpuGet = TaskValue;
  table->taskAddressSpaceGet = TaskValue;
  table->taskRelocatableGet = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t,
                                 OsaValue* text, OsaValue* rodata, OsaValue* data, OsaValue* bss,
                                 OsaValue* extra) {
    for (OsaValue* value : {text, rodata, data, bss, extra})
      FillValue(value);
    return Status();
  };
  table->taskSymTabGet = SymTab;
  table->currentTaskGet = CurrentTask;
  table->taskInKernelCheck = TaskValue;
  table->taskInCurrentAddressSpaceCheck = TaskValue;
  table->taskIsHiddenCheck = TaskValue;
  table->taskLsoGet = TaskAttribute;
  table->taskTksaGet = TaskAttribute;
  table->addressSpaceNameGet = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t,
                                  OsaValue* value) {
    FillValue(value);
    return Status();
  };
  table->poll = [](OSA_ServiceCntx*, OsaPluginInfo*, void*) {
    MaybeWait();
    return Status();
  };
  table->targetNotify = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t) {
    return Status();
  };
  table->osaCmdExecute = Command;
  table->guiObjectCheck = GuiObject;
  table->objectChangedCheck = ObjectChanged;
  table->lifeCycleCountsGet = LifeCycle;
  table->pageTableGet = PageTable;
  table->messageInject = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t, std::uint64_t,
                            const char*) { return Status(); };
  table->kernelMemoryRegionsGet = MemoryRegions;
}

// HistoryLogDump with "dirPath" writes history files into a directory the
// input names; the check uses the dispatcher's own parser and getters, so
// escapes cannot hide the names.
bool WritesHistoryFiles(std::string_view text) {
  const JsonPtr tree = JsonParse(text, nullptr);
  const char* method = nullptr;
  const JsonValue* params = nullptr;
  return tree != nullptr && JsonObjectGetString(tree.get(), "method", &method) &&
         method != nullptr && std::string_view(method) == "OSA_Client_HistoryLogDump" &&
         JsonObjectGet(tree.get(), "params", &params) && params != nullptr &&
         params->kind == JsonKind::JsonObject && JsonObjectIndexOf(params, "dirPath") >= 0;
}

void Dispatch(const char* text) {
  if (OSA_Client_CmdParser(text) == nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool initialised = [] {
    OSA_Client_CmdInit(0, nullptr, CannedSend);
    InstallCallbacks(&OsaCallbacks());
    return true;
  }();
  (void)initialised;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (WritesHistoryFiles(text)) return 0;

  // Each run starts from the same two records, so records cannot pile up.
  gState = 0x9E3779B97F4A7C15u;
  for (char c : text)
    gState = (gState ^ static_cast<std::uint8_t>(c)) * 0x100000001B3u;
  if (gState == 0) gState = 1;
  OsaProcess().contexts = OsaContextRegistry{};
  Dispatch(
      "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_OsaInit\", \"params\" : { "
      "\"context\" : 2 }, \"id\" : 1 }");
  Dispatch(
      "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_OsaInit\", \"params\" : { "
      "\"context\" : 1 }, \"id\" : 2 }");
  Dispatch(
      "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_TargetInit\", \"params\" : { "
      "\"context\" : 1, \"majorCpuType\" : 1, \"minorCpuType\" : 1, \"bigEndianTarget\" : 0, "
      "\"bigEndianHost\" : 0 }, \"id\" : 3 }");
  Dispatch(text.c_str());
  if (OsaRequestNesting() != 0) std::abort();
  return 0;
}
