// The debugger's object attribute numbers by name, expanded from
// attribute_ids.def: the AttributeId enumeration, the kind each attribute
// belongs to, and the checks that tables keyed by attribute use.
// Header only and free of other project headers, so tools above the
// kernel layer (the model debugger's windows) share the same names.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// Attribute numbers as the interface carries them. Two enumerators may
// share a number (kTlsOffset of a task, kOwner of a mutex).
enum class AttributeId : std::int32_t {
#define OSA_ATTRIBUTE(kind, name, number) k##name = (number),
#include "kernel/attribute_ids.def"
};

// The object kinds of attribute_ids.def; kCommon belongs to every kind.
enum class AttributeKind : std::uint8_t {
  kCommon,
  kTask,
  kTimer,
  kMutex,
  kSemaphore,
  kQueue,
  kEventFlags,
  kBlockPool,
  kMemoryPool,
};

struct AttributeInfo {
  AttributeKind kind;
  AttributeId id;
  std::string_view name;  // the name in attribute_ids.def
};

inline constexpr std::array kAttributeInfos = {
#define OSA_ATTRIBUTE(kind, name, number) \
  AttributeInfo{AttributeKind::k##kind, AttributeId::k##name, #name},
#include "kernel/attribute_ids.def"
};

// The number sent on the interface.
constexpr std::int32_t AttributeNumber(AttributeId id) {
  return static_cast<std::int32_t>(id);
}

// Whether `id` is an attribute of objects of `kind` (its own or a common one).
constexpr bool AttributeBelongsTo(AttributeKind kind, AttributeId id) {
  for (const AttributeInfo& info : kAttributeInfos) {
    if (info.id == id && (info.kind == kind || info.kind == AttributeKind::kCommon)) return true;
  }
  return false;
}
