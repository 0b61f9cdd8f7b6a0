// The OSA_Service_* wrappers: one request to the debugger each, with its
// params members in their fixed order, and the answer unpacked into plain
// values and a status. The status is the answer's "return" (0 success), or 1
// when the exchange failed or a needed result member is missing, ill-typed
// or cannot be decoded (kOsaServiceOk and kOsaServiceFailed in
// osa/status.h). Places filled before a failing step stay filled.
//
// Core arguments are 0-based indexes, kOsaNoCore for none ("coreId" is the
// index plus 1 on the wire and left out for none); a task id of 0 leaves
// "taskId" out. Optional places may be null; texts are copied out.
#pragma once

#include <cstdint>
#include <string>

#include "osa/plugin_api.h"
#include "osa/status.h"

// A register access in named fields, for callers that would otherwise pass
// a row of bare flags; the interface's positional forms below send the same
// request. Flags travel as the integers given.
struct OsaRegisterAccess {
  std::int64_t reg = 0;
  std::int32_t width = 0;
  std::int32_t forMemoryAccess = 0;  // writes only
  std::int32_t fromDebugger = 0;
  std::uint64_t taskId = 0;
  std::int64_t core = kOsaNoCore;
};
[[nodiscard]] std::uint32_t OSA_Service_RegisterRead(OSA_ServiceCntx* context,
                                                     const OsaRegisterAccess& access,
                                                     std::int64_t* value);
[[nodiscard]] std::uint32_t OSA_Service_RegisterWrite(OSA_ServiceCntx* context,
                                                      const OsaRegisterAccess& access,
                                                      std::uint64_t value);
// The interface's positional forms.
[[nodiscard]] std::uint32_t OSA_Service_RegisterRead(OSA_ServiceCntx* context, std::int64_t core,
                                                     std::int64_t reg, std::int32_t width,
                                                     std::int64_t* value, std::int32_t fromDebugger,
                                                     std::uint64_t taskId);
[[nodiscard]] std::uint32_t OSA_Service_RegisterWrite(OSA_ServiceCntx* context, std::int64_t core,
                                                      std::int64_t reg, std::int32_t width,
                                                      std::uint64_t value,
                                                      std::int32_t forMemoryAccess,
                                                      std::int32_t fromDebugger,
                                                      std::uint64_t taskId);
[[nodiscard]] std::uint32_t OSA_Service_ThreadRegisterRead(OSA_ServiceCntx* context,
                                                           std::uint64_t threadId, std::int64_t reg,
                                                           std::int64_t* value, std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_ThreadRegisterWrite(OSA_ServiceCntx* context,
                                                            std::uint64_t threadId,
                                                            std::int64_t reg, std::uint64_t value,
                                                            std::int64_t core);

// The memory a read names: count elements of size bytes each.
struct OsaMemoryRange {
  std::int32_t memorySpace = 0;
  std::uint64_t address = 0;
  std::int64_t count = 0;
  std::int64_t size = 0;
  std::uint64_t taskId = 0;
  std::int64_t core = kOsaNoCore;
};

// Reads count * size bytes into buffer; elements of 2 to 8 bytes are
// byte-swapped when the target's and the host's byte orders differ.
[[nodiscard]] std::uint32_t OSA_Service_MemoryRead(OSA_ServiceCntx* context,
                                                   const OsaMemoryRange& range,
                                                   std::uint8_t* buffer);
// The interface's positional form.
[[nodiscard]] std::uint32_t OSA_Service_MemoryRead(OSA_ServiceCntx* context,
                                                   std::int32_t memorySpace, std::uint64_t address,
                                                   std::int64_t count, std::int64_t size,
                                                   std::uint8_t* buffer, std::uint64_t taskId,
                                                   std::int64_t core);
// Writes count * size bytes; the caller's data stay untouched when swapped.
[[nodiscard]] std::uint32_t OSA_Service_MemoryWrite(OSA_ServiceCntx* context,
                                                    std::int32_t memorySpace, std::uint64_t address,
                                                    std::int64_t count, std::int64_t size,
                                                    const std::uint8_t* data, std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_MemoryPreFetch(OSA_ServiceCntx* context,
                                                       std::int32_t memorySpace,
                                                       std::uint64_t address, std::int64_t count,
                                                       std::int64_t size, std::int64_t stride,
                                                       std::int64_t core);

// Evaluates a C expression; "output" is decoded by the kind already set in
// *value (text, integer kinds, float, double). A null value reads nothing.
[[nodiscard]] std::uint32_t OSA_Service_ExpressionEval(OSA_ServiceCntx* context,
                                                       const char* expression, OsaValue* value,
                                                       std::int32_t searchFlag, std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_ExpressionEval(OSA_ServiceCntx* context,
                                                       const char* expression, OsaValue* value,
                                                       std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_StringEval(OSA_ServiceCntx* context, const char* input,
                                                   std::string* value, std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_CommandExec(OSA_ServiceCntx* context, const char* command,
                                                    std::uint64_t outputMask, std::string* output,
                                                    std::int32_t searchFlag, std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_CommandExec(OSA_ServiceCntx* context, const char* command,
                                                    std::uint64_t outputMask, std::string* output,
                                                    std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_SymbolLookup(OSA_ServiceCntx* context, const char* name,
                                                     std::uint64_t* address,
                                                     std::uint32_t* storageClass,
                                                     std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_SymbolFromAddress(OSA_ServiceCntx* context,
                                                          std::uint64_t address,
                                                          std::int32_t symbolType,
                                                          std::string* name, std::int64_t core);
// The places a structure field search fills; null ones are not asked for.
struct OsaFieldPlaces {
  std::uint32_t* byteOffset = nullptr;
  std::uint32_t* byteWidth = nullptr;
  std::uint32_t* bitOffset = nullptr;
  std::uint32_t* bitWidth = nullptr;
};

// Each asked place is first set to 0xFFFFFFFF.
[[nodiscard]] std::uint32_t OSA_Service_StructFieldSearch(
    OSA_ServiceCntx* context, const char* structName, const char* fieldName, std::int32_t useOsaSym,
    const OsaFieldPlaces& places, std::int64_t core);
// The interface's positional form.
[[nodiscard]] std::uint32_t OSA_Service_StructFieldSearch(
    OSA_ServiceCntx* context, const char* structName, const char* fieldName, std::int32_t useOsaSym,
    std::uint32_t* byteOffset, std::uint32_t* byteWidth, std::uint32_t* bitOffset,
    std::uint32_t* bitWidth, std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_MacroGet(OSA_ServiceCntx* context, const char* macroName,
                                                 std::int32_t useOsaSym, std::string* value,
                                                 std::int64_t core);
// Typed form: a text value takes the macro's text, any other kind the text
// converted like strtoull with base 0 and stored by kind.
[[nodiscard]] std::uint32_t OSA_Service_MacroGetValue(OSA_ServiceCntx* context,
                                                      const char* macroName, std::int32_t useOsaSym,
                                                      OsaValue* value, std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_EnumValueGet(OSA_ServiceCntx* context, const char* enumName,
                                                     const char* enumMemberName,
                                                     std::int32_t useOsaSym, std::int64_t* value,
                                                     std::int64_t core);
[[nodiscard]] std::uint32_t OSA_Service_StructSizeGet(OSA_ServiceCntx* context, const char* name,
                                                      std::int32_t useOsaSym, std::uint32_t* size,
                                                      std::int64_t core);

// Shows a message formatted from the plug-in's own pattern; text from the
// debugger or the target only ever travels as an argument.
[[nodiscard]] std::uint32_t OSA_Service_MessageDisplay(OSA_ServiceCntx* context,
                                                       std::int32_t messageType, const char* format,
                                                       ...) __attribute__((format(printf, 3, 4)));
// *choice holds the default on entry and receives the answer.
[[nodiscard]] std::uint32_t OSA_Service_YesNoChoose(OSA_ServiceCntx* context, std::uint32_t* choice,
                                                    const char* format, ...)
    __attribute__((format(printf, 3, 4)));
[[nodiscard]] std::uint32_t OSA_Service_ConfigFileSearch(OSA_ServiceCntx* context,
                                                         const char* fileName,
                                                         std::uint64_t permission,
                                                         std::int32_t onlySearchDistDir,
                                                         std::string* filePath);
[[nodiscard]] std::uint32_t OSA_Service_TargetStatus(OSA_ServiceCntx* context,
                                                     std::uint32_t* status, std::int64_t core);
// "coreId" is always sent; "return" is not read.
[[nodiscard]] std::uint32_t OSA_Service_CpuModeGet(OSA_ServiceCntx* context, std::int64_t core,
                                                   std::uint32_t* inUserMode);

// Zeroed blocks for the kernel code: 0 with *block set, 1 when none was placed.
[[nodiscard]] std::uint32_t OsaMemAlloc(OSA_ServiceCntx* context, std::size_t size, void** block);
[[nodiscard]] std::uint32_t OsaMemFree(OSA_ServiceCntx* context, void* block);
