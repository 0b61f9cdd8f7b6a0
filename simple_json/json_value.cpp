// The JSON document model: node constructors, container growth, member
// lookup and the typed append, copy-out, setter and getter families.
#include "simple_json/json_value.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "simple_json/json_storage.h"

namespace {

using Storage = JsonStorageAccess;

JsonPtr NewHeapNode(JsonKind kind) {
  // Default-initialised: the members' own initialisers set every field.
  auto owner = std::make_unique_for_overwrite<JsonValue>();
  owner->kind = kind;
  return JsonPtr(owner.release());
}

// A new node beside `container`: in its arena while that is pure, so that
// the tree can still go at once, else (and with no container) on the heap.
JsonPtr NewNodeBeside(const JsonValue* container, JsonKind kind) {
  JsonArena* arena = container != nullptr ? JsonPureArena(container) : nullptr;
  if (arena == nullptr) return NewHeapNode(kind);
  return JsonPtr(JsonArenaNewNode(arena, kind));
}

// A built container is the root of a tree in an arena of its own, so that
// what is added with the typed operations comes from a few blocks and the
// whole tree goes at once, as a parsed one does.
JsonPtr NewContainer(JsonKind kind) {
  JsonArena* arena = JsonArenaCreateForBuild();
  JsonValue* node = JsonArenaNewNode(arena, kind);
  node->capacity = kJsonInitialCapacity;
  if (kind == JsonKind::JsonObject) {
    Storage::ReserveIn(node->members, arena, kJsonInitialCapacity);
  } else {
    Storage::ReserveIn(node->elements, arena, kJsonInitialCapacity);
  }
  JsonArenaFinish(arena, node);
  return JsonPtr(node);
}

// The text of a string node, or the name of a member of `container`, kept
// where the container keeps its storage.
void CopyTextBeside(const JsonValue* container, JsonText& text, std::string_view bytes) {
  JsonArena* arena = JsonPureArena(container);
  if (arena == nullptr) {
    Storage::Copy(text, bytes);
  } else {
    Storage::CopyInto(text, arena, bytes);
  }
}

JsonPtr NewNumberBeside(const JsonValue* container, JsonKind kind, std::int64_t number) {
  JsonPtr node = NewNodeBeside(container, kind);
  node->number = number;
  return node;
}

JsonPtr NewStringBeside(const JsonValue* container, std::string_view text) {
  JsonPtr node = NewNodeBeside(container, JsonKind::JsonString);
  node->hasText = true;
  CopyTextBeside(node.get(), node->text, text);
  return node;
}

// A null text gives a string node with no text.
JsonPtr NewStringBeside(const JsonValue* container, const char* text) {
  if (text == nullptr) return NewNodeBeside(container, JsonKind::JsonString);
  return NewStringBeside(container, std::string_view(text));
}

// Doubles the counted capacity of a full container before an insertion, so
// that it runs 4, 8, 16, ... and never shrinks, and makes sure a slot is
// free. A parsed container's slots hold exactly its items, so its first
// insertion moves them: to new slots in its arena while that is pure, else
// to the heap.
template <typename Slot>
void MakeRoomForOne(JsonValue* container, JsonVector<Slot>& slots) {
  if (slots.size() >= container->capacity) {
    container->capacity = container->capacity == 0 ? kJsonInitialCapacity : container->capacity * 2;
  }
  if (slots.size() >= slots.capacity()) {
    const auto wanted =
        static_cast<std::uint32_t>(std::max<std::size_t>(container->capacity, slots.size() + 1));
    if (JsonArena* arena = JsonPureArena(container)) {
      Storage::ReserveIn(slots, arena, wanted);
    } else {
      Storage::Reserve(slots, wanted);
    }
  }
}

bool IsArray(const JsonValue* value) {
  return value != nullptr && value->kind == JsonKind::JsonArray;
}

bool IsObject(const JsonValue* value) {
  return value != nullptr && value->kind == JsonKind::JsonObject;
}

bool IsScalar(const JsonValue* value) {
  return value->kind != JsonKind::JsonObject && value->kind != JsonKind::JsonArray;
}

// A heap node equal to a scalar node.
JsonPtr CopyScalar(const JsonValue& value) {
  JsonPtr copy = NewHeapNode(value.kind);
  copy->hasText = value.hasText;
  copy->number = value.number;
  if (value.hasText) Storage::Copy(copy->text, value.text);
  return copy;
}

void Append(JsonValue* array, JsonPtr value) {
  if (!JsonArenaKeepsPure(array, value.get())) JsonArenaTouch(array);
  MakeRoomForOne(array, array->elements);
  Storage::Push(array->elements, std::move(value));
}

template <typename Item, typename MakeNode>
bool AppendList(JsonValue* array, const Item* list, std::uint32_t n, MakeNode make) {
  if (!IsArray(array) || list == nullptr) return false;
  for (std::uint32_t i = 0; i < n; ++i)
    Append(array, make(list[i]));
  return true;
}

template <typename Integer>
bool AppendIntegers(JsonValue* array, const Integer* list, std::uint32_t n) {
  return AppendList(array, list, n, [array](Integer item) {
    return NewNumberBeside(array, JsonKind::JsonInteger, static_cast<std::int64_t>(item));
  });
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

// ---- Member lookup ------------------------------------------------------------

// True when the `size` bytes at a and b are equal. Names are short, so up to
// sixteen bytes are compared in one or two words loaded from both ends (they
// may overlap), never reading outside either text.
inline bool SameBytes(const char* a, const char* b, std::size_t size) {
  const auto load = [](const char* p, auto word) {
    std::memcpy(&word, p, sizeof word);
    return word;
  };
  if (size > 16) return std::memcmp(a, b, size) == 0;
  if (size >= 8) {
    return ((load(a, std::uint64_t{}) ^ load(b, std::uint64_t{})) |
            (load(a + size - 8, std::uint64_t{}) ^ load(b + size - 8, std::uint64_t{}))) == 0;
  }
  if (size >= 4) {
    return ((load(a, std::uint32_t{}) ^ load(b, std::uint32_t{})) |
            (load(a + size - 4, std::uint32_t{}) ^ load(b + size - 4, std::uint32_t{}))) == 0;
  }
  // One to three bytes: the first, the middle and the last cover them all.
  return size == 0 || (a[0] == b[0] && a[size / 2] == b[size / 2] && a[size - 1] == b[size - 1]);
}

std::size_t FindSlot(const JsonValue* object, std::string_view name);

// Position of the first member named `name` in an object, or -1.
inline std::int64_t FindMember(const JsonValue* object, std::string_view name) {
  if (!object->memberIndex.empty()) {
    return static_cast<std::int64_t>(object->memberIndex[FindSlot(object, name)]) - 1;
  }
  const std::size_t count = object->members.size();
  const JsonMember* members = object->members.data();
  for (std::size_t i = 0; i < count; ++i) {
    const JsonText& candidate = members[i].name;
    if (candidate.size() == name.size() && SameBytes(candidate.data(), name.data(), name.size())) {
      return static_cast<std::int64_t>(i);
    }
  }
  return -1;
}

// The member's value when it exists and has the wanted kind, else null.
const JsonValue* MemberOfKind(const JsonValue* object, std::string_view name, JsonKind kind) {
  if (!IsObject(object)) return nullptr;
  const std::int64_t index = FindMember(object, name);
  if (index < 0) return nullptr;
  const JsonValue* value = object->members[static_cast<std::size_t>(index)].value.get();
  if (value == nullptr || value->kind != kind) return nullptr;
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
  return JsonIndexFindSlot(object->members.data(), object->memberIndex.data(),
                           object->memberIndex.size(), name);
}

// Enters the member at `position` unless an earlier member has its name.
void IndexMember(JsonValue* object, std::size_t position) {
  std::uint32_t* slots = Storage::Slots(object->memberIndex);
  std::uint32_t& slot = slots[FindSlot(object, object->members[position].name)];
  if (slot == 0) slot = static_cast<std::uint32_t>(position + 1);
}

// Builds the table afresh for the current members, with room for the count
// to double before the next rebuild; drops it when the object is small.
void RebuildIndex(JsonValue* object) {
  const std::size_t count = object->members.size();
  JsonArenaTouch(object);
  if (count <= kJsonIndexThreshold) {
    Storage::Clear(object->memberIndex);
    return;
  }
  Storage::Fill(object->memberIndex, static_cast<std::uint32_t>(JsonIndexSize(count)), 0);
  for (std::size_t i = 0; i < count; ++i)
    IndexMember(object, i);
}

// Keeps the table in step after a member was appended.
void IndexAppendedMember(JsonValue* object) {
  const std::size_t count = object->members.size();
  if (count <= kJsonIndexThreshold) return;
  if (object->memberIndex.size() < 2 * count) {
    RebuildIndex(object);
  } else {
    IndexMember(object, count - 1);
  }
}

}  // namespace

// ---- Constructors and release -------------------------------------------

// Scalars made on their own live on the heap.
JsonPtr JsonNewNull() {
  return NewNodeBeside(nullptr, JsonKind::JsonNull);
}

JsonPtr JsonNewBoolean(std::uint8_t flag) {
  return NewNumberBeside(nullptr, JsonKind::JsonBoolean, flag);
}

JsonPtr JsonNewInteger(std::int64_t value) {
  return NewNumberBeside(nullptr, JsonKind::JsonInteger, value);
}

JsonPtr JsonNewString(const char* text) {
  return NewStringBeside(nullptr, text);
}

JsonPtr JsonNewString(std::string_view text) {
  return NewStringBeside(nullptr, text);
}

JsonPtr JsonNewStringOwned(std::string text) {
  return JsonNewString(std::string_view(text));
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
  Append(array, std::move(value));
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
  return AppendList(array, list, n, [array](bool flag) {
    return NewNumberBeside(array, JsonKind::JsonBoolean, flag ? 1 : 0);
  });
}
bool JsonArrayAppendList(JsonValue* array, const char* const* list, std::uint32_t n) {
  return AppendList(array, list, n,
                    [array](const char* text) { return NewStringBeside(array, text); });
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
  return FindMember(object, name);
}

bool JsonObjectAdd(JsonValue* object, std::string_view name, JsonPtr value) {
  if (!IsObject(object) || value == nullptr) return false;
  if (!JsonArenaKeepsPure(object, value.get())) JsonArenaTouch(object);
  MakeRoomForOne(object, object->members);
  JsonMember member;
  CopyTextBeside(object, member.name, name);
  member.value = std::move(value);
  Storage::Push(object->members, std::move(member));
  IndexAppendedMember(object);
  return true;
}

bool JsonObjectSet(JsonValue* object, std::string_view name, JsonPtr value) {
  if (!IsObject(object) || value == nullptr) return false;
  const std::int64_t index = FindMember(object, name);
  if (index < 0) return JsonObjectAdd(object, name, std::move(value));
  JsonArenaTouch(object);
  Storage::At(object->members, static_cast<std::size_t>(index)).value = std::move(value);
  return true;
}

bool JsonObjectGet(const JsonValue* object, std::string_view name, const JsonValue** out) {
  if (!IsObject(object) || out == nullptr) return false;
  const std::int64_t index = FindMember(object, name);
  if (index < 0) return false;
  *out = object->members[static_cast<std::size_t>(index)].value.get();
  return true;
}

bool JsonObjectGet(JsonValue* object, std::string_view name, JsonValue** out) {
  if (!IsObject(object) || out == nullptr) return false;
  const std::int64_t index = FindMember(object, name);
  if (index < 0) return false;
  *out = object->members[static_cast<std::size_t>(index)].value.get();
  return true;
}

bool JsonObjectRemove(JsonValue* object, std::string_view name, JsonPtr* out) {
  if (!IsObject(object)) return false;
  const std::int64_t index = FindMember(object, name);
  if (index < 0) return false;
  const auto position = static_cast<std::size_t>(index);
  JsonMember& member = Storage::At(object->members, position);
  // Taking a scalar out of a parsed tree hands out a heap copy, so that the
  // tree can still be released at once (requests lose their "id" this way).
  const JsonValue* value = member.value.get();
  const bool copyOut = out != nullptr && value->arena != nullptr && value->arena->pure &&
                       value->arena == object->arena && IsScalar(value);
  if (copyOut) {
    *out = CopyScalar(*value);
  } else if (out != nullptr) {
    // A subtree taken out of a parsed tree becomes a holder of its arena,
    // so that both still go without visiting their nodes.
    if (!JsonArenaDetach(object, value)) JsonArenaTouch(object);
    *out = std::move(member.value);
  }
  member.value.reset();
  Storage::Erase(object->members, position);
  // Later positions moved down and a later member of the same name may now
  // be the first; the erase is linear already, and so is the rebuild.
  if (!object->memberIndex.empty()) RebuildIndex(object);
  return true;
}

namespace {

// A typed setter's node, made beside the object.
bool AddBeside(JsonValue* object, std::string_view name, JsonKind kind, std::int64_t number) {
  if (!IsObject(object)) return false;
  return JsonObjectAdd(object, name, NewNumberBeside(object, kind, number));
}

}  // namespace

bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::int64_t value) {
  return AddBeside(object, name, JsonKind::JsonInteger, value);
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint64_t value) {
  return AddBeside(object, name, JsonKind::JsonInteger, static_cast<std::int64_t>(value));
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::int32_t value) {
  return AddBeside(object, name, JsonKind::JsonInteger, value);
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint32_t value) {
  return AddBeside(object, name, JsonKind::JsonInteger, value);
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint16_t value) {
  return AddBeside(object, name, JsonKind::JsonInteger, value);
}
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint8_t value) {
  return AddBeside(object, name, JsonKind::JsonInteger, value);
}

bool JsonObjectAddBoolean(JsonValue* object, std::string_view name, std::uint8_t flag) {
  return AddBeside(object, name, JsonKind::JsonBoolean, flag);
}

bool JsonObjectAddString(JsonValue* object, std::string_view name, const char* text) {
  if (!IsObject(object)) return false;
  return JsonObjectAdd(object, name, NewStringBeside(object, text));
}

bool JsonObjectAddString(JsonValue* object, std::string_view name, std::string_view text) {
  if (!IsObject(object)) return false;
  return JsonObjectAdd(object, name, NewStringBeside(object, text));
}

bool JsonObjectAddNull(JsonValue* object, std::string_view name) {
  return AddBeside(object, name, JsonKind::JsonNull, 0);
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
