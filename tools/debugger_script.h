// What a debugger's kernel windows ask of the plug-in, as scripts over a
// model-debugger session: every attribute of every object type, the task
// questions, and the golden session that touches every client method once
// at least, from OsaInit to Exit.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/session.h"
#include "model/kernel_manifest.h"

// The service context handle every script opens.
inline constexpr std::int64_t kScriptContext = 1;

// One object type of the debugger's interface with the attribute numbers
// its windows show; the list presentations (9-11) share their kind's numbers.
struct ScriptObjectType {
  std::int32_t type;
  std::string_view name;
  std::span<const std::int32_t> attributes;
};

// Types 1 to 11, in type order.
std::span<const ScriptObjectType> ScriptObjectTypes();

// How each attribute is asked: as display text only (what a window
// refresh does) or as text and then as a 64-bit number.
enum class ScriptValues : unsigned char { kText, kTextAndNumber };

struct ScriptCounts {
  std::uint64_t objects = 0;     // objects the walks stood on
  std::uint64_t attributes = 0;  // ObjectListAttribute requests
  // Service requests the plug-in sent while it served those requests.
  std::uint64_t attributeServiceRoundTrips = 0;
};

// Walks every object of `type`, asking each listed attribute; with
// `askUndefined` the first object is also asked an attribute number that no
// type defines. Each object's id (attribute 0 as a number) is appended to
// *ids when `ids` is not null and values are kTextAndNumber. False with a
// reason in *error when the conversation failed.
[[nodiscard]] bool ScriptWalkType(DbgSession* session, const ScriptObjectType& type,
                                  ScriptValues values, bool askUndefined,
                                  std::vector<std::uint64_t>* ids, ScriptCounts* counts,
                                  std::string* error);

// A debugger's full refresh after the target halted: TargetNotify 0, then
// every attribute of every object of types 1 to 8 as text.
[[nodiscard]] bool ScriptRefresh(DbgSession* session, ScriptCounts* counts, std::string* error);

// The golden session against a fresh plug-in for the kernel `manifest`
// describes: OsaInit, TargetInit, GuiObjectCheck of types 1-11, the walk of
// every type with every attribute as text and as number, each task's name,
// status, thread-local-storage offset and registers, one register write,
// CurrentTaskGet, target notices 1 and 0, "get_task_table", every other
// client method once, then TargetCleanup, OsaCleanup and Exit. False with a
// reason in *error when a request got no answer or a set-up step failed.
[[nodiscard]] bool ScriptGoldenSession(DbgSession* session, const model::KernelManifest& manifest,
                                       std::string* error);
