// The JSON library as it stood before its trees moved into arenas: one heap
// node per value, a std::string per text. Kept unchanged inside its own
// namespace as the reference that the differential fuzz target holds the
// library to: the same trees, the same written text, the same error lines.
#include "fuzz/json_reference.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace json_reference {

// Node kinds; other layers test them by these codes, so the order is fixed.
enum class JsonKind : std::uint32_t {
  JsonNull = 0,
  JsonBoolean = 1,
  JsonInteger = 2,
  JsonString = 3,
  JsonObject = 4,
  JsonArray = 5,
};

struct JsonValue;
using JsonPtr = std::unique_ptr<JsonValue>;

struct JsonMember {
  std::string name;
  JsonPtr value;
};

// Capacity of a new object or array; a full vector doubles (4, 8, 16, ...).
inline constexpr std::uint32_t kJsonInitialCapacity = 4;

// Objects up to this many members are searched by a plain scan, as fast as
// any table at that size; larger ones keep a name index.
inline constexpr std::size_t kJsonIndexThreshold = 16;

// Name index of an object with more than kJsonIndexThreshold members: a hash
// table of member positions that finds the first member of each name, so
// that building and searching large objects stays linear.
struct JsonMemberIndex {
  std::vector<std::uint32_t> slots;
};

struct JsonValue {
  JsonKind kind = JsonKind::JsonNull;
  // JsonString: false when the node holds no text (JsonNewString(nullptr)).
  bool hasText = false;
  // JsonObject, JsonArray: slots reserved; never shrinks.
  std::uint32_t capacity = 0;
  // JsonBoolean: the flag as given (non-zero is true); JsonInteger: the value.
  std::int64_t number = 0;
  // JsonString: the byte string; it never contains a NUL byte.
  std::string text;
  // JsonObject: members in insertion order. Change them only through the
  // JsonObject* operations, which keep memberIndex in step.
  std::vector<JsonMember> members;
  // JsonArray: elements in order.
  std::vector<JsonPtr> elements;
  // JsonObject: the name index once it has more than kJsonIndexThreshold
  // members, else null (a pointer keeps every node small).
  std::unique_ptr<JsonMemberIndex> memberIndex;

  // Number of members (objects) or elements (arrays); 0 for scalars.
  std::uint32_t count() const {
    return static_cast<std::uint32_t>(kind == JsonKind::JsonObject ? members.size()
                                                                   : elements.size());
  }
};

// ---- Constructors and release -------------------------------------------

JsonPtr JsonNewNull();
// Holds the flag zero-extended; any non-zero flag reads and writes as true.
JsonPtr JsonNewBoolean(std::uint8_t flag);
JsonPtr JsonNewInteger(std::int64_t value);
// A copy of the text up to its first NUL; null gives a string node with no text.
JsonPtr JsonNewString(const char* text);
JsonPtr JsonNewString(std::string_view text);
// Takes the text over without copying (cut at its first NUL, if any).
JsonPtr JsonNewStringOwned(std::string text);
JsonPtr JsonNewObject();
JsonPtr JsonNewArray();
// Frees a tree; null does nothing. Dropping a JsonPtr does the same.
void JsonFree(JsonPtr value);

// ---- Arrays ----------------------------------------------------------------

// False when the array is null or not an array (the value is then freed).
bool JsonArrayAppend(JsonValue* array, JsonPtr value);

// Appends n new nodes, one per list element: integer types become integer
// nodes (signed types sign-extended, unsigned zero-extended), bool flags
// Boolean nodes, texts string nodes holding copies. False when the array or
// the list is null or the first is not an array; true also for n == 0.
bool JsonArrayAppendList(JsonValue* array, const std::int8_t* list, std::uint32_t n);
bool JsonArrayAppendList(JsonValue* array, const std::uint8_t* list, std::uint32_t n);
bool JsonArrayAppendList(JsonValue* array, const std::int16_t* list, std::uint32_t n);
bool JsonArrayAppendList(JsonValue* array, const std::int32_t* list, std::uint32_t n);
bool JsonArrayAppendList(JsonValue* array, const std::uint32_t* list, std::uint32_t n);
bool JsonArrayAppendList(JsonValue* array, const std::int64_t* list, std::uint32_t n);
bool JsonArrayAppendList(JsonValue* array, const std::uint64_t* list, std::uint32_t n);
bool JsonArrayAppendList(JsonValue* array, const bool* list, std::uint32_t n);
bool JsonArrayAppendList(JsonValue* array, const char* const* list, std::uint32_t n);

// Copies elements first .. first+n-1 into out. Fails when array or out is
// null, the node is not an array, first+n (32-bit) is not greater than first
// (n == 0 or a wrapping range), or first+n exceeds the count. An element of
// the wrong kind stops the copy with false, earlier outputs staying written.
// Integer forms take the low bits of integer elements with no range check;
// the bool form takes Boolean elements; the text form lends string texts.
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int8_t* out,
                      std::uint32_t n);
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint8_t* out,
                      std::uint32_t n);
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int16_t* out,
                      std::uint32_t n);
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint16_t* out,
                      std::uint32_t n);
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int32_t* out,
                      std::uint32_t n);
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint32_t* out,
                      std::uint32_t n);
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int64_t* out,
                      std::uint32_t n);
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint64_t* out,
                      std::uint32_t n);
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, bool* out, std::uint32_t n);
bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, const char** out,
                      std::uint32_t n);

// ---- Objects ---------------------------------------------------------------

// Index of the first member with that name, or -1. The object must be an
// object; callers check.
std::int64_t JsonObjectIndexOf(const JsonValue* object, std::string_view name);

// Appends a member (a copy of the name and the value) without looking for an
// existing one. False when the object or value is null or the first is not an
// object (the value is then freed).
bool JsonObjectAdd(JsonValue* object, std::string_view name, JsonPtr value);

// Replaces the value of the first member with that name in place, else adds.
bool JsonObjectSet(JsonValue* object, std::string_view name, JsonPtr value);

// Lends the value of the first member with that name. False when the object
// or out is null, the first is not an object, or no member has the name.
bool JsonObjectGet(const JsonValue* object, std::string_view name, const JsonValue** out);
bool JsonObjectGet(JsonValue* object, std::string_view name, JsonValue** out);

// Removes the first member with that name. With an out pointer its value
// passes to the caller, else it is freed; later members keep their order.
bool JsonObjectRemove(JsonValue* object, std::string_view name, JsonPtr* out = nullptr);

// Typed setters: each creates a node and appends it with JsonObjectAdd.
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::int64_t value);
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint64_t value);
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::int32_t value);
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint32_t value);
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint16_t value);
bool JsonObjectAddInteger(JsonValue* object, std::string_view name, std::uint8_t value);
bool JsonObjectAddBoolean(JsonValue* object, std::string_view name, std::uint8_t flag);
// A null text adds a string node with no text.
bool JsonObjectAddString(JsonValue* object, std::string_view name, const char* text);
bool JsonObjectAddString(JsonValue* object, std::string_view name, std::string_view text);
bool JsonObjectAddNull(JsonValue* object, std::string_view name);

// Typed getters: false, with the output untouched, when out is null, the
// member is missing or of another kind. No getter converts between kinds.
// Narrow integer forms store the low bits with no range check.
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::int64_t* out);
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::uint64_t* out);
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::int32_t* out);
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::uint32_t* out);
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::int16_t* out);
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::uint16_t* out);
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::int8_t* out);
bool JsonObjectGetInteger(const JsonValue* object, std::string_view name, std::uint8_t* out);
// Stores 1 when the payload is non-zero, else 0.
bool JsonObjectGetBoolean(const JsonValue* object, std::string_view name, std::uint8_t* out);
// Lends the text (null when the node holds none).
bool JsonObjectGetString(const JsonValue* object, std::string_view name, const char** out);

// Containers nested deeper than this are refused with an error line, so that
// hostile input cannot overflow the stack.
inline constexpr int kJsonMaxDepth = 512;

// Parses the first JSON value of `text` (which ends at its first NUL byte or
// at its size, whichever comes first); text after that value is ignored.
// Returns the tree and empties *error, or returns null and sets *error to the
// error lines joined by line feeds. A line that quotes the rest of the input
// quotes at most 256 bytes of it, then "...". `error` may be null.
JsonPtr JsonParse(std::string_view text, std::string* error);

// Appends the text of value (null writes "null") to out and returns out.
std::string& JsonWrite(std::string& out, const JsonValue* value);

// Appends text as a JSON string: quotes around the escaped bytes. A null
// text is written as "(null)".
std::string& JsonQuote(std::string& out, const char* text);
std::string& JsonQuote(std::string& out, std::string_view text);

// Indented form: width 0 writes exactly what JsonWrite writes; otherwise
// containers span several lines, members at (level + 1) * width blanks.
std::string& JsonWriteIndented(std::string& out, const JsonValue* value, int width, int level);

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

namespace {

// Every message that the parser can report; the texts reach the debugger
// in parse-error answers, so their wording is part of the wire interface.
enum class ParseMessage : std::uint8_t {
  kExpected,
  kIntegerRange,
  kNegativeRange,
  kBoolean,
  kNull,
  kUnterminatedString,
  kArrayEnd,
  kArrayAfterComma,
  kArrayBeginning,
  kArrayAfterValue,
  kObjectEnd,
  kObjectBeginning,
  kObjectAfterComma,
  kObjectAfterColon,
  kObjectSetFailed,
  kObjectAfterValue,
  kValueEnd,
  kValueCharacter,
  kMinusWithoutDigit,
  kTooDeep,
  kCount,
};

// "%c" and "%s" each take the next argument as it is; nothing else is a
// directive, and the input is never used as a format.
constexpr std::array<std::string_view, static_cast<std::size_t>(ParseMessage::kCount)>
    kParseMessages = {
        "expected '%c' %s, got '%s'",
        "integer value out of range",
        "negative integer value out of range",
        "unable to parse Boolean, got '%s'",
        "unable to parse null, got '%s'",
        "unterminated string constant",
        "unexpected end of input while parsing array",
        "unexpected '%c' after comma in array contents, got '%s'",
        "unexpected '%c' at beginning of array contents, got '%s'",
        "unexpected '%c' after value in array contents, got '%s'",
        "unexpected end of input while parsing object",
        "unexpected '%c' at beginning of object contents, got '%s'",
        "unexpected '%c' after comma in object contents, got '%s'",
        "unexpected '%c' after colon in object contents, got '%s'",
        "failed to set '%s' property in object",
        "unexpected '%c' after value in object contents, got '%s'",
        "unexpected end of input, expected a value",
        "unexpected character '%c', expected a value, got: '%s'",
        "expected a digit after '-', got '%s'",
        "containers nested deeper than 512 levels",
};
static_assert(kParseMessages.size() == static_cast<std::size_t>(ParseMessage::kCount));
static_assert(!kParseMessages.back().empty(), "every message has a text");
static_assert(kJsonMaxDepth == 512, "the nesting message names the limit");

// Returned by SkipWhitespace at the end of the input; no byte value equals it.
constexpr int kEndOfInput = 256;

struct JsonParser {
  std::string_view text;  // the input, up to (not including) its first NUL
  std::size_t position = 0;
  int depth = 0;        // containers currently open
  bool gaveUp = false;  // nesting limit hit: every open container stops quietly
  std::string error;    // accumulated "Error: " lines; empty while none
};

// Formats one message and appends it as an "Error: " line. Always yields a
// null value so that a value step can return its result directly.
JsonPtr ReportError(JsonParser& parser, ParseMessage message,
                    std::initializer_list<std::string_view> args = {}) {
  std::string& error = parser.error;
  if (!error.empty()) error.push_back('\n');
  error.append("Error: ");
  const std::string_view format = kParseMessages[static_cast<std::size_t>(message)];
  const std::string_view* arg = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        (format[i + 1] == 'c' || format[i + 1] == 's') && arg != args.end()) {
      error.append(*arg++);
      ++i;
    } else {
      error.push_back(format[i]);
    }
  }
  return nullptr;
}

bool IsWhitespace(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}

bool IsDigit(int byte) {
  return byte >= '0' && byte <= '9';
}

bool IsHexDigit(unsigned char byte) {
  return IsDigit(byte) || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
}

int HexValue(unsigned char byte) {
  if (IsDigit(byte)) return byte - '0';
  return (byte | 0x20) - 'a' + 10;
}

unsigned char ByteAt(const JsonParser& parser, std::size_t index) {
  return static_cast<unsigned char>(parser.text[index]);
}

// Longest remainder of the input that an error line quotes in full.
constexpr std::size_t kQuotedRestLimit = 256;

// The rest of the input from the position, as an error line quotes it. Every
// level of a cascade quotes the same rest, so unbounded quotes would repeat
// the tail of a message once per level. A rest of more than kQuotedRestLimit
// bytes is cut to its first kQuotedRestLimit bytes, or up to three fewer so
// as not to split a UTF-8 sequence, and "..." follows; shorter rests are
// quoted whole. Only the quoted rest is cut: the message's own words and the
// quote marks around the rest always stay, so each line keeps its shape.
std::string RestOfInput(const JsonParser& parser) {
  const std::string_view rest = parser.text.substr(parser.position);
  if (rest.size() <= kQuotedRestLimit) return std::string(rest);
  std::size_t cut = kQuotedRestLimit;
  const auto isContinuation = [&rest](std::size_t at) {
    return (static_cast<unsigned char>(rest[at]) & 0xC0) == 0x80;
  };
  for (std::size_t back = 0; back < 3 && isContinuation(cut); ++back) {
    --cut;
  }
  if (isContinuation(cut)) cut = kQuotedRestLimit;  // no sequence to keep whole
  std::string quoted(rest.substr(0, cut));
  quoted.append("...");
  return quoted;
}

int SkipWhitespace(JsonParser& parser) {
  while (parser.position < parser.text.size() && IsWhitespace(ByteAt(parser, parser.position))) {
    ++parser.position;
  }
  return parser.position < parser.text.size() ? ByteAt(parser, parser.position) : kEndOfInput;
}

void SetPosition(JsonParser& parser, std::size_t position) {
  parser.position = position < parser.text.size() ? position : parser.text.size();
}

bool Consume(JsonParser& parser, char expected, std::string_view where) {
  if (parser.position < parser.text.size() && parser.text[parser.position] == expected) {
    ++parser.position;
    return true;
  }
  ReportError(parser, ParseMessage::kExpected,
              {std::string_view(&expected, 1), where, RestOfInput(parser)});
  return false;
}

bool MatchLiteral(JsonParser& parser, std::string_view word) {
  if (parser.text.size() - parser.position < word.size() ||
      parser.text.compare(parser.position, word.size(), word) != 0) {
    return false;
  }
  parser.position += word.size();
  return true;
}

// The byte c as a one-byte text for "%c"; c is never the end marker here.
std::string_view ByteText(const char& byte) {
  return std::string_view(&byte, 1);
}

JsonPtr ParseValue(JsonParser& parser);

JsonPtr ParseInteger(JsonParser& parser) {
  constexpr std::uint64_t kLastSafeMagnitude = 0x1999999999999999;  // 1844674407370955161
  constexpr std::uint64_t kLargestNegativeMagnitude = 0x8000000000000000;
  std::size_t cursor = parser.position;
  const std::size_t end = parser.text.size();
  const bool negative = ByteAt(parser, cursor) == '-';
  if (negative) ++cursor;
  // A lone '-' has no magnitude at all; refuse it rather than read past it.
  if (cursor >= end || !IsDigit(ByteAt(parser, cursor))) {
    return ReportError(parser, ParseMessage::kMinusWithoutDigit, {RestOfInput(parser)});
  }
  std::uint64_t magnitude = 0;
  bool outOfRange = false;
  for (; cursor < end && IsDigit(ByteAt(parser, cursor)); ++cursor) {
    const unsigned digit = ByteAt(parser, cursor) - '0';
    if (magnitude > kLastSafeMagnitude || (magnitude == kLastSafeMagnitude && digit > 5)) {
      outOfRange = true;
    }
    if (!outOfRange) magnitude = magnitude * 10 + digit;
  }
  if (outOfRange) return ReportError(parser, ParseMessage::kIntegerRange);
  if (negative && magnitude > kLargestNegativeMagnitude) {
    return ReportError(parser, ParseMessage::kNegativeRange);
  }
  SetPosition(parser, cursor);
  // Unsigned magnitudes above the signed range keep their 64-bit pattern.
  return JsonNewInteger(static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude));
}

JsonPtr ParseBoolean(JsonParser& parser) {
  if (MatchLiteral(parser, "true")) return JsonNewBoolean(1);
  if (MatchLiteral(parser, "false")) return JsonNewBoolean(0);
  return ReportError(parser, ParseMessage::kBoolean, {RestOfInput(parser)});
}

JsonPtr ParseNull(JsonParser& parser) {
  if (MatchLiteral(parser, "null")) return JsonNewNull();
  return ReportError(parser, ParseMessage::kNull, {RestOfInput(parser)});
}

// Decodes the escape whose letter is at cursor (below the end) and steps the
// cursor over what it read.
char DecodeEscape(const JsonParser& parser, std::size_t& cursor) {
  const unsigned char letter = ByteAt(parser, cursor);
  ++cursor;
  switch (letter) {
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    case 'u':
      break;
    default:
      return static_cast<char>(letter);
  }
  if (parser.text.size() - cursor < 4) return 'u';
  unsigned value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const unsigned char digit = ByteAt(parser, cursor + i);
    if (!IsHexDigit(digit)) return 'u';
    value = value * 16 + static_cast<unsigned>(HexValue(digit));
  }
  cursor += 4;
  // Only the low byte is kept: strings are byte strings.
  return static_cast<char>(value & 0xFF);
}

JsonPtr ParseString(JsonParser& parser) {
  if (!Consume(parser, '"', "at beginning of string")) return nullptr;
  const std::size_t end = parser.text.size();
  std::string buffer;
  std::size_t cursor = parser.position;
  bool escapePending = false;
  bool closed = false;
  while (cursor < end) {
    if (escapePending) {
      escapePending = false;
      buffer.push_back(DecodeEscape(parser, cursor));
      continue;
    }
    const char byte = parser.text[cursor];
    if (byte == '\\') {
      escapePending = true;
      ++cursor;
    } else if (byte == '"') {
      ++cursor;
      closed = true;
      break;
    } else {
      std::size_t runEnd = parser.text.find_first_of("\\\"", cursor);
      if (runEnd == std::string_view::npos) runEnd = end;
      buffer.append(parser.text.substr(cursor, runEnd - cursor));
      cursor = runEnd;
    }
  }
  if (!closed) return ReportError(parser, ParseMessage::kUnterminatedString);
  SetPosition(parser, cursor);
  // A decoded NUL ends the stored text.
  return JsonNewStringOwned(std::move(buffer));
}

// Opens one nesting level, or refuses it past the limit: then every open
// container stops without further lines, so hostile depth costs one line.
bool EnterContainer(JsonParser& parser) {
  if (parser.depth >= kJsonMaxDepth) {
    ReportError(parser, ParseMessage::kTooDeep);
    parser.gaveUp = true;
    return false;
  }
  ++parser.depth;
  return true;
}

JsonPtr ParseArray(JsonParser& parser) {
  if (!EnterContainer(parser)) return nullptr;
  if (!Consume(parser, '[', "at beginning of array")) {
    --parser.depth;
    return nullptr;
  }
  JsonPtr array = JsonNewArray();
  enum class State { kStart, kAfterValue, kAfterComma } state = State::kStart;
  for (;;) {
    if (parser.gaveUp) break;
    const int c = SkipWhitespace(parser);
    if (c == kEndOfInput) {
      ReportError(parser, ParseMessage::kArrayEnd);
      break;
    }
    const char byte = static_cast<char>(c);
    if (state == State::kAfterValue && c == ',') {
      Consume(parser, ',', "after value in array contents");
      state = State::kAfterComma;
    } else if (state != State::kAfterComma && c == ']') {
      Consume(parser, ']', "at end of array");
      break;
    } else if (state == State::kAfterComma && (c == ',' || c == ']')) {
      ReportError(parser, ParseMessage::kArrayAfterComma, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state == State::kStart && c == ',') {
      ReportError(parser, ParseMessage::kArrayBeginning, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state != State::kAfterValue) {
      JsonPtr element = ParseValue(parser);
      if (element == nullptr) break;
      JsonArrayAppend(array.get(), std::move(element));
      state = State::kAfterValue;
    } else {
      ReportError(parser, ParseMessage::kArrayAfterValue, {ByteText(byte), RestOfInput(parser)});
      break;
    }
  }
  --parser.depth;
  return array;
}

JsonPtr ParseObject(JsonParser& parser) {
  if (!EnterContainer(parser)) return nullptr;
  if (!Consume(parser, '{', "at beginning of object")) {
    --parser.depth;
    return nullptr;
  }
  JsonPtr object = JsonNewObject();
  JsonPtr name;  // the pending member name, a string node
  enum class State { kStart, kAfterName, kAfterColon, kAfterValue, kAfterComma };
  State state = State::kStart;
  for (;;) {
    if (parser.gaveUp) break;
    const int c = SkipWhitespace(parser);
    if (c == kEndOfInput) {
      ReportError(parser, ParseMessage::kObjectEnd);
      break;
    }
    const char byte = static_cast<char>(c);
    if ((state == State::kStart || state == State::kAfterComma) && c == '"') {
      name = ParseString(parser);
      // An unterminated name is no name: its line is recorded, the object stops.
      if (name == nullptr) break;
      state = State::kAfterName;
    } else if (state == State::kAfterName) {
      if (!Consume(parser, ':', "after name in object contents")) break;
      state = State::kAfterColon;
    } else if (state == State::kStart && c != '}') {
      ReportError(parser, ParseMessage::kObjectBeginning, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state == State::kAfterComma) {
      ReportError(parser, ParseMessage::kObjectAfterComma, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state == State::kAfterColon && (c == ',' || c == '}')) {
      ReportError(parser, ParseMessage::kObjectAfterColon, {ByteText(byte), RestOfInput(parser)});
      break;
    } else if (state == State::kAfterColon) {
      JsonPtr value = ParseValue(parser);
      if (parser.gaveUp) break;
      // A later duplicate name replaces the value and keeps the first position.
      if (value == nullptr || !JsonObjectSet(object.get(), name->text, std::move(value))) {
        ReportError(parser, ParseMessage::kObjectSetFailed, {name->text});
      }
      name.reset();
      state = State::kAfterValue;
    } else if (state == State::kAfterValue && c == ',') {
      Consume(parser, ',', "after value in object contents");
      state = State::kAfterComma;
    } else if (state == State::kAfterValue && c != '}') {
      ReportError(parser, ParseMessage::kObjectAfterValue, {ByteText(byte), RestOfInput(parser)});
      break;
    } else {
      Consume(parser, '}', "at end of object");
      break;
    }
  }
  --parser.depth;
  return object;
}

JsonPtr ParseValue(JsonParser& parser) {
  const int c = SkipWhitespace(parser);
  switch (c) {
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
    case '-':
      return ParseInteger(parser);
    case 't':
    case 'f':
      return ParseBoolean(parser);
    case 'n':
      return ParseNull(parser);
    case '"':
      return ParseString(parser);
    case '[':
      return ParseArray(parser);
    case '{':
      return ParseObject(parser);
    case kEndOfInput:
      return ReportError(parser, ParseMessage::kValueEnd);
    default: {
      const char byte = static_cast<char>(c);
      return ReportError(parser, ParseMessage::kValueCharacter,
                         {ByteText(byte), RestOfInput(parser)});
    }
  }
}

}  // namespace

JsonPtr JsonParse(std::string_view text, std::string* error) {
  JsonParser parser;
  parser.text = text.substr(0, text.find('\0'));
  JsonPtr tree = ParseValue(parser);
  if (!parser.error.empty()) {
    tree.reset();  // a partial tree from a cascade
    if (error != nullptr) *error = std::move(parser.error);
    return nullptr;
  }
  if (error != nullptr) error->clear();
  return tree;
}

namespace {

// Escape text for one byte value; length 0 means the byte is copied as it is.
struct JsonEscape {
  std::array<char, 6> text{};
  std::uint8_t length = 0;
};

constexpr JsonEscape TwoCharEscape(char letter) {
  JsonEscape escape;
  escape.text[0] = '\\';
  escape.text[1] = letter;
  escape.length = 2;
  return escape;
}

constexpr JsonEscape UnicodeEscape(unsigned byte) {
  constexpr char kHexDigits[] = "0123456789abcdef";
  JsonEscape escape;
  escape.text = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
  escape.length = 6;
  return escape;
}

// Control bytes and every byte above 0x7E leave the writer as "\u00xx", one
// escape per byte, so that byte strings survive a write and a parse unchanged
// whatever encoding they carry. '/' is not escaped.
constexpr std::array<JsonEscape, 256> MakeEscapeTable() {
  std::array<JsonEscape, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (byte < 0x20 || byte >= 0x7F) table[byte] = UnicodeEscape(byte);
  }
  table[0x08] = TwoCharEscape('b');
  table[0x09] = TwoCharEscape('t');
  table[0x0A] = TwoCharEscape('n');
  table[0x0C] = TwoCharEscape('f');
  table[0x0D] = TwoCharEscape('r');
  table[0x22] = TwoCharEscape('"');
  table[0x5C] = TwoCharEscape('\\');
  return table;
}

constexpr std::array<JsonEscape, 256> JsonEscapeTable = MakeEscapeTable();
static_assert(JsonEscapeTable.size() == 256, "one escape entry per byte value");
static_assert(JsonEscapeTable['/'].length == 0 && JsonEscapeTable[0x7F].length == 6 &&
                  JsonEscapeTable['\n'].length == 2,
              "escape table layout");

void AppendIndent(std::string& out, int width, int level) {
  if (level > 0) out.append(static_cast<std::size_t>(width) * static_cast<std::size_t>(level), ' ');
}

void WriteValue(std::string& out, const JsonValue* value, int width, int level);

// Writes the opening bracket, each item through `write_item`, and the closing
// bracket. Width 0 is the one-line wire form; otherwise one item per line.
template <typename WriteItem>
void WriteContainer(std::string& out, char open, char close, std::size_t count, int width,
                    int level, WriteItem write_item) {
  out.push_back(open);
  out.push_back(' ');
  if (width > 0) out.push_back('\n');
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out.append(width > 0 ? ", \n" : ", ");
    AppendIndent(out, width, level + 1);
    write_item(i);
  }
  if (width > 0) {
    out.push_back('\n');
    AppendIndent(out, width, level);
  } else {
    out.push_back(' ');
  }
  out.push_back(close);
}

void WriteValue(std::string& out, const JsonValue* value, int width, int level) {
  if (value == nullptr) {
    out.append("null");
    return;
  }
  switch (value->kind) {
    case JsonKind::JsonBoolean:
      out.append(value->number != 0 ? "true" : "false");
      return;
    case JsonKind::JsonInteger: {
      char digits[24];
      const auto result = std::to_chars(digits, digits + sizeof digits, value->number);
      out.append(digits, result.ptr);
      return;
    }
    case JsonKind::JsonString:
      if (value->hasText) {
        JsonQuote(out, std::string_view(value->text));
      } else {
        JsonQuote(out, static_cast<const char*>(nullptr));
      }
      return;
    case JsonKind::JsonObject:
      WriteContainer(out, '{', '}', value->members.size(), width, level, [&](std::size_t i) {
        const JsonMember& member = value->members[i];
        JsonQuote(out, std::string_view(member.name));
        out.append(" : ");
        WriteValue(out, member.value.get(), width, level + 1);
      });
      return;
    case JsonKind::JsonArray:
      WriteContainer(out, '[', ']', value->elements.size(), width, level, [&](std::size_t i) {
        WriteValue(out, value->elements[i].get(), width, level + 1);
      });
      return;
    case JsonKind::JsonNull:
      break;
  }
  // Null, and any kind code outside the known ones.
  out.append("null");
}

}  // namespace

std::string& JsonWrite(std::string& out, const JsonValue* value) {
  WriteValue(out, value, 0, 0);
  return out;
}

std::string& JsonQuote(std::string& out, const char* text) {
  if (text == nullptr) return out.append("\"(null)\"");
  return JsonQuote(out, std::string_view(text));
}

std::string& JsonQuote(std::string& out, std::string_view text) {
  out.push_back('"');
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const JsonEscape& escape = JsonEscapeTable[bytes[i]];
    if (escape.length != 0) {
      out.append(escape.text.data(), escape.length);
      ++i;
      continue;
    }
    std::size_t run_end = i + 1;
    while (run_end < size && JsonEscapeTable[bytes[run_end]].length == 0)
      ++run_end;
    out.append(text.data() + i, run_end - i);
    i = run_end;
  }
  out.push_back('"');
  return out;
}

std::string& JsonWriteIndented(std::string& out, const JsonValue* value, int width, int level) {
  WriteValue(out, value, width > 0 ? width : 0, level > 0 ? level : 0);
  return out;
}

bool ReferenceParse(std::string_view text, std::string* written, std::string* error) {
  const JsonPtr tree = JsonParse(text, error);
  if (tree == nullptr) return false;
  JsonWrite(*written, tree.get());
  return true;
}

}  // namespace json_reference
