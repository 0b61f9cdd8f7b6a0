// The JSON document model: one tree type, JsonValue, with free functions to
// build trees, hand ownership between containers and read typed members.
//
// Ownership: constructors return a JsonPtr that owns the new node. Putting a
// value into a container passes it to the container (a container owns its
// elements and members, a member its name and value). Getters lend pointers
// that stay valid until the tree is freed or that member is replaced or
// removed. No operation throws, prints or reports exhaustion: the runtime's
// allocator ends the process when memory runs out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
