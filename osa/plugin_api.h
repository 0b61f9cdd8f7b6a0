// The plug-in interface's shared types: the typed value that callbacks hand
// results back in, the per-context service record, the plug-in facts, and
// the 38-slot callback table that the kernel-awareness code fills.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "simple_json/json_value.h"

// ---- Typed values ----------------------------------------------------------

// Kinds of an OsaValue. Integer kinds come in pairs (odd signed, even
// unsigned) that the interface handles alike.
enum class OsaValueKind : std::uint32_t {
  kText = 0,
  kInt8 = 1,
  kUInt8 = 2,
  kInt16 = 3,
  kUInt16 = 4,
  kInt32 = 5,
  kUInt32 = 6,
  kAddress = 7,  // OsaTargetAddress: low half in payload bits 0-31
  kFloat = 8,    // bit pattern in payload bits 0-31
  kDouble = 9,   // bit pattern in the whole payload
  kInt64 = 10,
  kUInt64 = 11,
};

// A typed single result. A callback may change the kind the handler preset.
struct OsaValue {
  OsaValueKind kind = OsaValueKind::kText;
  std::uint64_t payload = 0;
  std::optional<std::string> text;  // kind Text: the text; nullopt is a null text
};

// Stores x by the value's kind: 1-2 keep the low 8 bits, 3-4 the low 16, 5-6
// the low 32, 7, 10 and 11 all 64; 8 and 9 convert x (unsigned) to float or
// double. Text and kinds above 11: false, the value unchanged.
[[nodiscard]] bool OsaValueStoreNumber(OsaValue* value, std::uint64_t x);

// A target address as two 32-bit halves; on the wire high * 2^32 + low.
struct OsaTargetAddress {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
};

inline std::uint64_t OsaAddressToU64(OsaTargetAddress address) {
  return (static_cast<std::uint64_t>(address.high) << 32) | address.low;
}
inline OsaTargetAddress OsaAddressFromU64(std::uint64_t value) {
  return {static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(value >> 32)};
}

// The parent of an object list; parentObjTypeId 0xFFFFFFFF means none.
struct OsaParentRef {
  std::uint64_t parentObjId = 0;
  std::uint32_t parentObjTypeId = 0xFFFFFFFF;
  std::uint32_t parentObjListId = 0xFFFFFFFF;
};

// An object type as the debugger's windows show it.
struct OsaGuiObjectInfo {
  std::optional<std::string> typeName;  // out record: nullopt keeps the request's name
  std::uint32_t typeId = 0;
  std::uint32_t visible = 0;
};

// Symbol files of a task (TaskSymTabGet); every list has `count` entries.
struct OsaSymTab {
  std::int32_t count = 0;
  std::vector<std::string> fileNames;
  std::vector<std::int32_t> masks;
  std::vector<OsaValue> text, rodata, data, bss, extra;  // section bases per file
  // Named sections: nullopt when no file has any; per file, nullopt is a
  // missing array.
  std::optional<std::vector<std::int32_t>> namedSectionCounts;
  std::vector<std::optional<std::vector<std::string>>> namedSectionNames;
  std::vector<std::optional<std::vector<OsaValue>>> namedSectionOffsets;
};

// A kernel memory region (KernelMemoryRegionsGet).
struct OsaMemoryRegion {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  std::uint64_t attributes = 0;
  std::uint64_t physicalBegin = 0;
  std::uint64_t physicalEnd = 0;
};

// ---- Plug-in facts and the service record -----------------------------------

struct OsaPluginInfo {
  std::uint32_t versionAcknowledge = 0;
  std::uint32_t versionRequired = 0;
  struct OptionBits {  // bit 0 to 5
    bool kernelInPhysicalAddress : 1 = false;
    bool translateAddressOnMasterProcess : 1 = false;
    bool treatMasterProcessAsKernel : 1 = false;
    bool showObjectNumber : 1 = false;
    bool fixOsaMemSpc : 1 = false;
    bool distinguishCpuModes : 1 = false;
  } optionBits;
  std::uint64_t fakeTidForMasterProcess = 0;
  std::uint32_t pageSize = 0;
  std::uint32_t osaKernelMajorVersion = 0;
  std::uint32_t osaKernelMinorVersion = 0;
  std::uint32_t noiceMask = 0;
};

// The kernel-awareness code's record for one target, destroyed with the
// release function the kernel code sets. The service record holds it, and so
// does every request being served for the length of its callback: a nested
// TargetCleanup or TargetInit takes it off the service record, but the outer
// callback goes on with the record it started with, released after it ends.
struct OsaPrivateDeleter {
  void (*release)(void* record) = nullptr;
  void operator()(void* record) const noexcept {
    if (release != nullptr) release(record);
  }
};
using OsaPrivateData = std::shared_ptr<void>;

// A core's CPU mode as the debugger reported it (core index 0-based).
struct CoreModeEntry {
  std::int64_t core = 0;
  std::uint32_t inUserMode = 0;
};

// Core index meaning "no particular core".
inline constexpr std::int64_t kOsaNoCore = -1;

// One record per "context" handle the debugger opens with OsaInit.
struct OSA_ServiceCntx {
  std::uint16_t majorCpuType16 = 0;  // 16-bit copy of majorCpuType
  std::uint16_t minorCpuType16 = 0;  // 16-bit copy of the first minor CPU type
  // Flags, bit order 0 to 11.
  bool bigEndianTarget : 1 = false;
  bool bigEndianHost : 1 = false;
  bool logCommunication : 1 = false;
  bool abortAction : 1 = false;
  bool inUserMode : 1 = false;
  bool noKernelCheck : 1 = false;
  bool isSimulator : 1 = false;
  bool explorerIsActive : 1 = false;
  bool traecIsActive : 1 = false;
  bool wholeTargetHalted : 1 = false;
  bool vexloInValidation : 1 = false;
  bool suppressErrMsg : 1 = false;
  std::vector<std::uint32_t> minorCpuTypes;  // 10 codes once TargetInit gave them
  std::uint32_t majorCpuType = 0;
  std::uint32_t cpuAddressSize = 0;
  std::uint32_t signExtendAddressFrom4BytesTo8Bytes = 0;
  std::optional<std::string> sharedLibPath;
  std::optional<std::string> realSharedLibPath;
  std::optional<std::string> vexloDir;
  std::uint64_t contextHandle = 0;
  OsaPluginInfo info;
  OsaPrivateData privateData;
  std::int64_t hostCoreIndex = kOsaNoCore;  // "hostCoreId" - 1 of the latest request
  std::uint64_t firstCoreIdOffset = 0;
  std::vector<std::uint64_t> coreIdList;  // empty stands for none
  std::uint64_t coreCount = 0;
  std::uint8_t unifiedMcOsa = 0;
  std::uint8_t mcIsFrozen = 0;
  std::uint8_t showHiddenTasks = 0;
  std::uint8_t showAllObjects = 1;
  std::uint8_t wantPhysicalAddress = 0;
  // Request scope: the request being served and the one it displaced. They
  // point into request trees owned by the dispatcher and are cleared when
  // their request is answered.
  const JsonValue* currentParams = nullptr;
  const JsonValue* previousParams = nullptr;
  JsonValue* currentResult = nullptr;
  JsonValue* previousResult = nullptr;
  std::vector<CoreModeEntry> coreModes;  // at most one entry per core
  std::int32_t vexloMajor = 0;
  std::int32_t vexloMinor = 0;
  std::int32_t vexloMicro = 0;
  std::int32_t debugMode = -1;
  // Memory and register writes the plug-in has sent: whoever keeps copies
  // of target data drops them when this count moves.
  std::uint64_t targetWrites = 0;
};

// ---- Callback table -----------------------------------------------------------
// Every callback returns a status (0 success) and receives the service record
// and its plug-in info first; all but slots 0 and 1 then receive the kernel
// record (slots 2 and 3: the place that owns it), then their own arguments.
// Texts, arrays and records handed out through the out-parameters belong to
// the handler, which releases them after building the answer.

using OsaContextCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*);
using OsaTargetCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, OsaPrivateData*);
using OsaObjectListCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                               std::int32_t objTypeId, const OsaParentRef*);
using OsaObjectListAttributeCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                        std::int32_t objTypeId, const OsaParentRef*,
                                                        std::int32_t attributeId, OsaValue*);
using OsaTaskMemoryAccessCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                     std::uint64_t taskId, std::int32_t memorySpace,
                                                     OsaTargetAddress address, std::int32_t count,
                                                     std::int32_t size, std::int32_t read);
using OsaTaskRegisterReadCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                     std::uint64_t taskId, std::int32_t reg,
                                                     std::uint64_t* value);
using OsaTaskRegisterWriteCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                      std::uint64_t taskId, std::int32_t reg,
                                                      std::uint64_t value);
using OsaTaskAddressTranslateCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                         std::uint64_t taskId,
                                                         std::int32_t* memorySpace,
                                                         OsaTargetAddress address,
                                                         std::int32_t toTask, OsaValue*);
using OsaTaskValueCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                              std::uint64_t taskId, OsaValue*);
using OsaTaskRelocatableCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                    std::uint64_t taskId, OsaValue* text,
                                                    OsaValue* rodata, OsaValue* data, OsaValue* bss,
                                                    OsaValue* extra);
using OsaTaskSymTabCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                               std::uint64_t taskId, const char* kernelExecName,
                                               OsaSymTab*);
using OsaCurrentTaskCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                std::int64_t coreIndex, std::uint64_t* taskId);
using OsaTaskAttributeCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                  std::uint64_t taskId, std::uint64_t taskAttribute,
                                                  OsaValue*);
using OsaAddressSpaceNameCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                     std::uint64_t addressSpaceId, OsaValue*);
using OsaPollCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*);
using OsaTargetNotifyCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                 std::int32_t notice);
using OsaCommandCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                            const char* command);
using OsaGuiObjectCheckCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                   const OsaGuiObjectInfo* in,
                                                   OsaGuiObjectInfo* out);
using OsaObjectChangedCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                  std::int32_t objTypeId, std::uint64_t objId,
                                                  std::int32_t subObjTypeId, OsaValue* changeMask);
using OsaLifeCycleCountsCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                    std::int32_t objTypeId, std::uint64_t objId,
                                                    std::int32_t subObjTypeId, OsaValue* count,
                                                    std::vector<OsaValue>* lifeCycle);
using OsaPageTableCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                              std::uint64_t domainId,
                                              std::vector<OsaTargetAddress>* physLow,
                                              std::vector<OsaTargetAddress>* virtLow,
                                              std::vector<OsaValue>* regionSize,
                                              std::vector<std::uint64_t>* aid, OsaValue* count);
using OsaMessageInjectCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                  std::int32_t objTypeId, std::uint64_t objId,
                                                  const char* message);
using OsaKernelMemoryRegionsCallback = std::int32_t (*)(OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                                        std::int32_t* count,
                                                        std::vector<OsaMemoryRegion>* regions);
// Slots 36 and 37 (HistoryLogDump, Exit) exist but are never called.
using OsaUnusedCallback = std::int32_t (*)();

// One pointer per slot, in slot order (the rows of client_methods.def); a
// null slot makes the interface answer that method with its defaults.
struct OsaPluginCallbacks {
#define OSA_CLIENT_METHOD(row, slot, name, handler, member, Callback, offer) Callback member;
#include "osa/client_methods.def"
};

inline constexpr int kOsaSlotCount = 0
#define OSA_CLIENT_METHOD(row, slot, name, handler, member, Callback, offer) +1
#include "osa/client_methods.def"
    ;
static_assert(kOsaSlotCount == 38, "the interface has 38 client methods");
static_assert(sizeof(OsaPluginCallbacks) == kOsaSlotCount * sizeof(OsaUnusedCallback),
              "one pointer per slot");

// The process-wide callback table.
OsaPluginCallbacks& OsaCallbacks();

// Whether slot `slot` (0 to 37) of the table is set.
bool OsaCallbackIsSet(const OsaPluginCallbacks& table, int slot);

// Fills a callback table for one kernel: zero-fills every slot, then sets the
// ones that kernel's code implements (kernel/registration.h has the kernel's).
using OsaCallbackRegistrar = void (*)(OsaPluginCallbacks* table, int argc, const char* const* argv);

// Sets the registrar OSA_Client_CmdInit calls; the plug-in's executable and
// shared library set the kernel's before the first call. With none set every
// method answers with the interface defaults.
void OsaSetCallbackRegistrar(OsaCallbackRegistrar registrar);
