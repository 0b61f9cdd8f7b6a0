// The JSON document model: node constructors, container growth, member
// lookup and the typed append, copy-out, setter and getter families.
#include "simple_json/json_value.h"

#include <functional>
#include <utility>

namespace {

JsonPtr NewContainer(JsonKind kind) {
  auto node = std::make_unique<JsonValue>();
  node->kind = kind;
  node->capacity = kJsonInitialCapacity;
  if (kind == JsonKind::JsonObject) {
    node->members.reserve(kJsonInitialCapacity);
  } else {
    node->elements.reserve(kJsonInitialCapacity);
  }
  return node;
}

// Doubles the reserved slots of a full container before an insertion, so
// that capacity runs 4, 8, 16, ... and never shrinks.
template <typename Slot>
void MakeRoomForOne(JsonValue* container, std::vector<Slot>& slots) {
  if (slots.size() < container->capacity) return;
  container->capacity = container->capacity == 0 ? kJsonInitialCapacity : container->capacity * 2;
  slots.reserve(container->capacity);
}

bool IsArray(const JsonValue* value) {
  return value != nullptr && value->kind == JsonKind::JsonArray;
}

bool IsObject(const JsonValue* value) {
  return value != nullptr && value->kind == JsonKind::JsonObject;
}

template <typename Item, typename MakeNode>
bool AppendList(JsonValue* array, const Item* list, std::uint32_t n, MakeNode make) {
  if (!IsArray(array) || list == nullptr) return false;
  for (std::uint32_t i = 0; i < n; ++i) {
    MakeRoomForOne(array, array->elements);
    array->elements.push_back(make(list[i]));
  }
  return true;
}

template <typename Integer>
bool AppendIntegers(JsonValue* array, const Integer* list, std::uint32_t n) {
  return AppendList(array, list, n,
                    [](Integer item) { return JsonNewInteger(static_cast<std::int64_t>(item)); });
}

// Walks elements first .. first+n-1; `take` stores one element and says
// whether its kind was the wanted one.
template <typename Out, typename Take>
bool CopyOut(const JsonValue* array, std::uint32_t first, Out* out, std::uint32_t n, Take take) {
  if (!IsArray(array) || out == nullptr) return false;
  const std::uint32_t end = first + n;  // wraps on purpose: a wrapped range fails below
  if (end <= first || end > array->count()) return false;
  for (std::uint32_t i = first; i < end; ++i) {
    const JsonValue* element = array->elements[i].get();
    if (element == nullptr || !take(*element, &out[i - first])) return false;
  }
  return true;
}

template <typename Integer>
bool CopyOutIntegers(const JsonValue* array, std::uint32_t first, Integer* out, std::uint32_t n) {
  return CopyOut(array, first, out, n, [](const JsonValue& element, Integer* slot) {
    if (element.kind != JsonKind::JsonInteger) return false;
    *slot = static_cast<Integer>(element.number);
    return true;
  });
}

// The member's value when it exists and has the wanted kind, else null.
const JsonValue* MemberOfKind(const JsonValue* object, std::string_view name, JsonKind kind) {
  const JsonValue* value = nullptr;
  if (!JsonObjectGet(object, name, &value) || value == nullptr || value->kind != kind) {
    return nullptr;
  }
  return value;
}

template <typename Integer>
bool GetInteger(const JsonValue* object, std::string_view name, Integer* out) {
  if (out == nullptr) return false;
  const JsonValue* value = MemberOfKind(object, name, JsonKind::JsonInteger);
  if (value == nullptr) return false;
  *out = static_cast<Integer>(value->number);
  return true;
}

// ---- Member name index ------------------------------------------------------
//
// An open-addressing table with linear probing. Each slot holds a member
// position plus one, 0 marking a free slot. Only the first member of a name
// is entered, since that is the one every lookup must find. The table has a
// power-of-two size of at least twice the member count, so a probe always
// meets a free slot. The hash is not seeded: names crafted to collide make
// probes long, which costs no more than the scan the table replaces.

// The slot that holds the position of `name`, or the free slot where it goes.
std::size_t FindSlot(const JsonValue* object, std::string_view name) {
  const std::vector<std::uint32_t>& slots = object->memberIndex->slots;
  const std::size_t mask = slots.size() - 1;
  const std::size_t hash = std::hash<std::string_view>{}(name);
  std::size_t slot = hash & mask;
  while (slots[slot] != 0 && object->members[slots[slot] - 1].name != name) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

// Enters the member at `position` unless an earlier member has its name.
void IndexMember(JsonValue* object, std::size_t position) {
  std::uint32_t& slot =
      object->memberIndex->slots[FindSlot(object, object->members[position].name)];
  if (slot == 0) slot = static_cast<std::uint32_t>(position + 1);
}

// Builds the table afresh for the current members, with room for the count
// to double before the next rebuild; drops it when the object is small.
void RebuildIndex(JsonValue* object) {
  const std::size_t count = object->members.size();
  if (count <= kJsonIndexThreshold) {
    object->memberIndex.reset();
    return;
  }
  std::size_t size = 4 * kJsonIndexThreshold;
  while (size < 4 * count)
    size *= 2;
  if (object->memberIndex == nullptr) object->memberIndex = std::make_unique<JsonMemberIndex>();
  object->memberIndex->slots.assign(size, 0);
  for (std::size_t i = 0; i < count; ++i)
    IndexMember(object, i);
}

// Keeps the table in step after a member was appended.
void IndexAppendedMember(JsonValue* object) {
  const std::size_t count = object->members.size();
  if (count <= kJsonIndexThreshold) return;
  if (object->memberIndex == nullptr || object->memberIndex->slots.size() < 2 * count) {
    RebuildIndex(object);
  } else {
    IndexMember(object, count - 1);
  }
}

}  // namespace

// ---- Constructors and release -------------------------------------------

JsonPtr JsonNewNull() {
  return std::make_unique<JsonValue>();
}

JsonPtr JsonNewBoolean(std::uint8_t flag) {
  auto node = std::make_unique<JsonValue>();
  node->kind = JsonKind::JsonBoolean;
  node->number = flag;
  return node;
}

JsonPtr JsonNewInteger(std::int64_t value) {
  auto node = std::make_unique<JsonValue>();
  node->kind = JsonKind::JsonInteger;
  node->number = value;
  return node;
}

JsonPtr JsonNewString(const char* text) {
  if (text == nullptr) {
    auto node = std::make_unique<JsonValue>();
    node->kind = JsonKind::JsonString;
    return node;
  }
  return JsonNewStringOwned(std::string(text));
}

JsonPtr JsonNewString(std::string_view text) {
  return JsonNewStringOwned(std::string(text.substr(0, text.find('\0'))));
}

JsonPtr JsonNewStringOwned(std::string text) {
  auto node = std::make_unique<JsonValue>();
  node->kind = JsonKind::JsonString;
  node->hasText = true;
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  node->text = std::move(text);
  return node;
}

JsonPtr JsonNewObject() {
  return NewContainer(JsonKind::JsonObject);
}

JsonPtr JsonNewArray() {
  return NewContainer(JsonKind::JsonArray);
}

void JsonFree(JsonPtr value) {
  value.reset();
}

// ---- Arrays ----------------------------------------------------------------

bool JsonArrayAppend(JsonValue* array, JsonPtr value) {
  if (!IsArray(array) || value == nullptr) return false;
  MakeRoomForOne(array, array->elements);
  array->elements.push_back(std::move(value));
  return true;
}

bool JsonArrayAppendList(JsonValue* array, const std::int8_t* list, std::uint32_t n) {
  return AppendIntegers(array, list, n);
}
bool JsonArrayAppendList(JsonValue* array, const std::uint8_t* list, std::uint32_t n) {
  return AppendIntegers(array, list, n);
}
bool JsonArrayAppendList(JsonValue* array, const std::int16_t* list, std::uint32_t n) {
  return AppendIntegers(array, list, n);
}
bool JsonArrayAppendList(JsonValue* array, const std::int32_t* list, std::uint32_t n) {
  return AppendIntegers(array, list, n);
}
bool JsonArrayAppendList(JsonValue* array, const std::uint32_t* list, std::uint32_t n) {
  return AppendIntegers(array, list, n);
}
bool JsonArrayAppendList(JsonValue* array, const std::int64_t* list, std::uint32_t n) {
  return AppendIntegers(array, list, n);
}
bool JsonArrayAppendList(JsonValue* array, const std::uint64_t* list, std::uint32_t n) {
  return AppendIntegers(array, list, n);
}
bool JsonArrayAppendList(JsonValue* array, const bool* list, std::uint32_t n) {
  return AppendList(array, list, n, [](bool flag) { return JsonNewBoolean(flag ? 1 : 0); });
}
bool JsonArrayAppendList(JsonValue* array, const char* const* list, std::uint32_t n) {
  return AppendList(array, list, n, [](const char* text) { return JsonNewString(text); });
}

bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int8_t* out,
                      std::uint32_t n) {
  return CopyOutIntegers(array, first, out, n);
}
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint8_t* out,
                      std::uint32_t n) {
  return CopyOutIntegers(array, first, out, n);
}
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int16_t* out,
                      std::uint32_t n) {
  return CopyOutIntegers(array, first, out, n);
}
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint16_t* out,
                      std::uint32_t n) {
  return CopyOutIntegers(array, first, out, n);
}
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int32_t* out,
                      std::uint32_t n) {
  return CopyOutIntegers(array, first, out, n);
}
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint32_t* out,
                      std::uint32_t n) {
  return CopyOutIntegers(array, first, out, n);
}
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int64_t* out,
                      std::uint32_t n) {
  return CopyOutIntegers(array, first, out, n);
}
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint64_t* out,
                      std::uint32_t n) {
  return CopyOutIntegers(array, first, out, n);
}
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, bool* out, std::uint32_t n) {
  return CopyOut(array, first, out, n, [](const JsonValue& element, bool* slot) {
    if (element.kind != JsonKind::JsonBoolean) return false;
    *slot = element.number != 0;
    return true;
  });
}
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, const char** out,
                      std::uint32_t n) {
  return CopyOut(array, first, out, n, [](const JsonValue& element, const char** slot) {
    if (element.kind != JsonKind::JsonString) return false;
    *slot = element.hasText ? element.text.c_str() : nullptr;
    return true;
  });
}

// ---- Objects ---------------------------------------------------------------

std::int64_t JsonObjectIndexOf(const JsonValue* object, std::string_view name) {
  if (object == nullptr) return -1;
  if (object->memberIndex != nullptr) {
    return static_cast<std::int64_t>(object->memberIndex->slots[FindSlot(object, name)]) - 1;
  }
  for (std::size_t i = 0; i < object->members.size(); ++i) {
    if (object->members[i].name == name) return static_cast<std::int64_t>(i);
  }
  return -1;
}

bool JsonObjectAdd(JsonValue* object, std::string_view name, JsonPtr value) {
  if (!IsObject(object) || value == nullptr) return false;
  MakeRoomForOne(object, object->members);
  object->members.push_back(JsonMember{std::string(name), std::move(value)});
  IndexAppendedMember(object);
  return true;
}

bool JsonObjectSet(JsonValue* object, std::string_view name, JsonPtr value) {
  if (!IsObject(object) || value == nullptr) return false;
  const std::int64_t index = JsonObjectIndexOf(object, name);
  if (index < 0) return JsonObjectAdd(object, name, std::move(value));
  object->members[static_cast<std::size_t>(index)].value = std::move(value);
  return true;
}

bool JsonObjectGet(const JsonValue* object, std::string_view name, const JsonValue** out) {
  if (!IsObject(object) || out == nullptr) return false;
  const std::int64_t index = JsonObjectIndexOf(object, name);
  if (index < 0) return false;
  *out = object->members[static_cast<std::size_t>(index)].value.get();
  return true;
}

bool JsonObjectGet(JsonValue* object, std::string_view name, JsonValue** out) {
  if (!IsObject(object) || out == nullptr) return false;
  const std::int64_t index = JsonObjectIndexOf(object, name);
  if (index < 0) return false;
  *out = object->members[static_cast<std::size_t>(index)].value.get();
  return true;
}

bool JsonObjectRemove(JsonValue* object, std::string_view name, JsonPtr* out) {
  if (!IsObject(object)) return false;
  const std::int64_t index = JsonObjectIndexOf(object, name);
  if (index < 0) return false;
  const auto member = object->members.begin() + index;
  if (out != nullptr) *out = std::move(member->value);
  object->members.erase(member);
  // Later positions moved down and a later member of the same name may now
  // be the first; the erase is linear already, and so is the rebuild.
  if (object->memberIndex != nullptr) RebuildIndex(object);
  return true;
}

bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::int64_t value) {
  return JsonObjectAdd(object, name, JsonNewInteger(value));
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint64_t value) {
  return JsonObjectAdd(object, name, JsonNewInteger(static_cast<std::int64_t>(value)));
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::int32_t value) {
  return JsonObjectAdd(object, name, JsonNewInteger(value));
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint32_t value) {
  return JsonObjectAdd(object, name, JsonNewInteger(value));
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint16_t value) {
  return JsonObjectAdd(object, name, JsonNewInteger(value));
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint8_t value) {
  return JsonObjectAdd(object, name, JsonNewInteger(value));
}

bool JsonObjectAddBoolean(JsonValue* object, std::string_view name, std::uint8_t flag) {
  return JsonObjectAdd(object, name, JsonNewBoolean(flag));
}

bool JsonObjectAddString(JsonValue* object, std::string_view name, const char* text) {
  return JsonObjectAdd(object, name, JsonNewString(text));
}

bool JsonObjectAddString(JsonValue* object, std::string_view name, std::string_view text) {
  return JsonObjectAdd(object, name, JsonNewString(text));
}

bool JsonObjectAddNull(JsonValue* object, std::string_view name) {
  return JsonObjectAdd(object, name, JsonNewNull());
}

bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::int64_t* out) {
  return GetInteger(object, name, out);
}
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::uint64_t* out) {
  return GetInteger(object, name, out);
}
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::int32_t* out) {
  return GetInteger(object, name, out);
}
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::uint32_t* out) {
  return GetInteger(object, name, out);
}
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::int16_t* out) {
  return GetInteger(object, name, out);
}
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::uint16_t* out) {
  return GetInteger(object, name, out);
}
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::int8_t* out) {
  return GetInteger(object, name, out);
}
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::uint8_t* out) {
  return GetInteger(object, name, out);
}

bool JsonObjectGetBoolean(const JsonValue* object, std::string_view name, std::uint8_t* out) {
  if (out == nullptr) return false;
  const JsonValue* value = MemberOfKind(object, name, JsonKind::JsonBoolean);
  if (value == nullptr) return false;
  *out = value->number != 0 ? 1 : 0;
  return true;
}

bool JsonObjectGetString(const JsonValue* object, std::string_view name, const char** out) {
  if (out == nullptr) return false;
  const JsonValue* value = MemberOfKind(object, name, JsonKind::JsonString);
  if (value == nullptr) return false;
  *out = value->hasText ? value->text.c_str() : nullptr;
  return true;
}
