// The OSA_Client_* requests a debugger sends, one helper each: params built
// in the order the plug-in documents them, the answer's "return" passed back
// as the status and its members unpacked into out-parameters, which are
// written only when the status is 0. Every request but Exit carries the
// service context handle as "context".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/session.h"

// The status of a request that got no usable answer (the exchange failed, or
// the answer has no "return"); the reason is in the session's lastError.
inline constexpr std::int32_t kDbgNoAnswer = -1;

// The CPU type that the debugger reports for the model's Cortex-M target.
inline constexpr std::int32_t kDbgCortexMMajorCpuType = 7;
inline constexpr std::int32_t kDbgCortexMMinorCpuType = 0;

// Value types of ObjectListAttribute: display text or a 64-bit number.
inline constexpr std::int32_t kDbgValueText = 0;
inline constexpr std::int32_t kDbgValueNumber = 11;

// Walks stop after this many objects, whatever the plug-in says, so that a
// broken object ring cannot keep the debugger.
inline constexpr std::uint32_t kDbgMaxWalkSteps = 10'000;

struct DbgOsaInitAnswer {
  std::uint32_t versionAcknowledge = 0;
  std::vector<std::string> commands;  // the client methods the plug-in offers
};

struct DbgTargetInitAnswer {
  std::uint32_t osaKernelMajorVersion = 0;
  std::uint32_t osaKernelMinorVersion = 0;
  std::uint32_t distinguishCpuModes = 0;
};

// Why an object-list walk ended.
enum class DbgWalkEnd : unsigned char {
  kEnded,         // ObjectListNext said there is no further object (2)
  kEmpty,         // ObjectListInit did not stand on an object (empty or unreadable list)
  kFailed,        // ObjectListNext failed otherwise, or the visitor stopped the walk
  kBoundReached,  // kDbgMaxWalkSteps objects visited
};

[[nodiscard]] std::int32_t DbgOsaInit(DbgSession* session, std::int64_t context,
                                      DbgOsaInitAnswer* answer);
[[nodiscard]] std::int32_t DbgOsaCleanup(DbgSession* session, std::int64_t context);

// Whether the plug-in lists `method` among its commands.
bool DbgOffersCommand(const DbgOsaInitAnswer& answer, std::string_view method);
// Whether it can walk kernel objects at all (it offers ObjectListInit).
bool DbgOffersKernelAwareness(const DbgOsaInitAnswer& answer);

// A Cortex-M target of the given byte order on a little-endian host.
[[nodiscard]] std::int32_t DbgTargetInit(DbgSession* session, std::int64_t context,
                                         bool bigEndianTarget, DbgTargetInitAnswer* answer);
[[nodiscard]] std::int32_t DbgTargetCleanup(DbgSession* session, std::int64_t context);
[[nodiscard]] std::int32_t DbgTargetNotify(DbgSession* session, std::int64_t context,
                                           std::int32_t notice);

[[nodiscard]] std::int32_t DbgObjectListInit(DbgSession* session, std::int64_t context,
                                             std::int32_t type);
[[nodiscard]] std::int32_t DbgObjectListNext(DbgSession* session, std::int64_t context,
                                             std::int32_t type);
[[nodiscard]] std::int32_t DbgObjectListCleanup(DbgSession* session, std::int64_t context,
                                                std::int32_t type);
[[nodiscard]] std::int32_t DbgObjectListAttributeText(DbgSession* session, std::int64_t context,
                                                      std::int32_t type, std::int32_t attribute,
                                                      std::string* text);
[[nodiscard]] std::int32_t DbgObjectListAttributeNumber(DbgSession* session, std::int64_t context,
                                                        std::int32_t type, std::int32_t attribute,
                                                        std::uint64_t* number);

// Walks every object of `type`: ObjectListInit, then `visit` on each object
// (the walk stands on it, so attributes can be asked) and ObjectListNext
// until it is non-zero, at most kDbgMaxWalkSteps objects; ObjectListCleanup
// is sent at the end whenever ObjectListInit was. `visit` returns false to
// stop the walk.
DbgWalkEnd DbgObjectListWalk(DbgSession* session, std::int64_t context, std::int32_t type,
                             const std::function<bool()>& visit);

[[nodiscard]] std::int32_t DbgTaskRegisterRead(DbgSession* session, std::int64_t context,
                                               std::uint64_t taskId, std::int32_t reg,
                                               std::uint64_t* value);
[[nodiscard]] std::int32_t DbgTaskRegisterWrite(DbgSession* session, std::int64_t context,
                                                std::uint64_t taskId, std::int32_t reg,
                                                std::uint64_t value);
[[nodiscard]] std::int32_t DbgTaskStatusGet(DbgSession* session, std::int64_t context,
                                            std::uint64_t taskId, std::string* status);
[[nodiscard]] std::int32_t DbgTaskNameGet(DbgSession* session, std::int64_t context,
                                          std::uint64_t taskId, std::string* name);
[[nodiscard]] std::int32_t DbgCurrentTaskGet(DbgSession* session, std::int64_t context,
                                             std::uint64_t* taskId);
[[nodiscard]] std::int32_t DbgTaskLsoGet(DbgSession* session, std::int64_t context,
                                         std::uint64_t taskId, std::int64_t* offset);

// Runs the plug-in's own command; *result receives the whole result object
// (members such as "task_table" before "return").
[[nodiscard]] std::int32_t DbgOsaCmdExecute(DbgSession* session, std::int64_t context,
                                            std::string_view command, JsonPtr* result);

// Turns the plug-in's cache on or off ("cache on", "cache off"); *understood
// tells whether the plug-in knows the command (its answer carries "cache"),
// a plug-in without the cache answers 0 all the same.
[[nodiscard]] std::int32_t DbgCacheSet(DbgSession* session, std::int64_t context, bool on,
                                       bool* understood);

// Asks whether and under which name an object type's window is shown.
[[nodiscard]] std::int32_t DbgGuiObjectCheck(DbgSession* session, std::int64_t context,
                                             std::string_view typeName, std::int32_t type,
                                             std::int32_t visible, std::string* shownName,
                                             std::int32_t* shownVisible);

// Ends the plug-in; *exitCode receives the code it announces.
[[nodiscard]] std::int32_t DbgExit(DbgSession* session, std::int32_t* exitCode);
