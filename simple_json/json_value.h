// The JSON document model: one tree type, JsonValue, with free functions to
// build trees, hand ownership between containers and read typed members.
//
// Ownership: constructors return a JsonPtr that owns the new node. Putting a
// value into a container passes it to the container (a container owns its
// elements and members, a member its name and value). Getters lend pointers
// that stay valid until the tree is freed or that member is replaced or
// removed. No operation throws, prints or reports exhaustion: the runtime's
// allocator ends the process when memory runs out.
//
// Storage: a tree made by the parser lives in one arena per text: its nodes,
// names, texts and vectors are carved from a few large blocks, and the arena
// is released when its last node is freed, so a subtree taken out of a
// parsed tree (JsonObjectRemove) stays valid after the rest is freed. A new
// object or array starts an arena of its own in the same way, and what the
// typed setters and list appends add to a container goes into the
// container's arena, so a built answer also goes at once. Scalars made by
// the constructors live on the heap, one block each. All kinds mix freely in
// one tree; JsonPtr's deleter knows each node's home.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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
struct JsonArena;

// Frees a node and everything it owns, whether it lives on the heap or in a
// parser's arena.
struct JsonDeleter {
  void operator()(JsonValue* value) const noexcept;
};
using JsonPtr = std::unique_ptr<JsonValue, JsonDeleter>;

// Grants the library's own operations write access to the storage types.
struct JsonStorageAccess;

// A NUL-terminated byte string without a NUL inside: either owned on the heap
// or lent by the arena of the tree that holds it. Reads like a string view;
// converts to std::string for callers that keep a copy.
class JsonText {
 public:
  JsonText() = default;
  JsonText(const JsonText&) = delete;
  JsonText& operator=(const JsonText&) = delete;
  JsonText(JsonText&& other) noexcept
      : data_(other.data_), size_(other.size_), owned_(other.owned_) {
    other.data_ = kEmpty;
    other.size_ = 0;
    other.owned_ = 0;
  }
  JsonText& operator=(JsonText&& other) noexcept {
    if (this != &other) {
      Drop();
      data_ = other.data_;
      size_ = other.size_;
      owned_ = other.owned_;
      other.data_ = kEmpty;
      other.size_ = 0;
      other.owned_ = 0;
    }
    return *this;
  }
  ~JsonText() { Drop(); }

  const char* c_str() const { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return std::string_view(data_, size_); }
  operator std::string_view() const { return view(); }
  operator std::string() const { return std::string(data_, size_); }
  friend bool operator==(const JsonText& text, std::string_view other) {
    return text.view() == other;
  }

 private:
  friend struct JsonStorageAccess;
  static constexpr const char* kEmpty = "";
  // Lends `size` bytes at `data`, for the library's storage code.
  JsonText(const char* data, std::size_t size) : data_(data), size_(size), owned_(0) {}
  // Frees heap bytes and leaves the text empty.
  void Release() noexcept;
  void Drop() noexcept {
    if (owned_ != 0) Release();
  }

  const char* data_ = kEmpty;
  std::size_t size_ : 63 = 0;
  std::size_t owned_ : 1 = 0;  // data_ came from the heap and is freed here
};

// The element storage of a container: a plain array whose slots come from the
// heap or from the tree's arena. Reads like a std::vector; only the library's
// operations change it (an item moved out behind their back would outlive the
// arena of a parsed tree).
template <typename Item>
class JsonVector {
 public:
  JsonVector() = default;
  JsonVector(const JsonVector&) = delete;
  JsonVector& operator=(const JsonVector&) = delete;
  ~JsonVector() { Reset(); }

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  const Item* data() const { return data_; }
  const Item* begin() const { return data_; }
  const Item* end() const { return data_ + size_; }
  const Item& operator[](std::size_t i) const { return data_[i]; }

 private:
  friend struct JsonStorageAccess;
  // Destroys the items and frees heap slots; leaves the vector empty.
  void Reset() noexcept {
    for (std::uint32_t i = 0; i < size_; ++i)
      data_[i].~Item();
    if (owned_ != 0) std::allocator<Item>().deallocate(data_, capacity_);
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    owned_ = 0;
  }

  Item* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ : 31 = 0;
  std::uint32_t owned_ : 1 = 0;  // the slots came from the heap
};

struct JsonMember {
  JsonText name;
  JsonPtr value;
};

// Capacity of a new object or array; a full vector doubles (4, 8, 16, ...).
inline constexpr std::uint32_t kJsonInitialCapacity = 4;

// Objects up to this many members are searched by a plain scan, as fast as
// any table at that size; larger ones keep a name index.
inline constexpr std::size_t kJsonIndexThreshold = 16;

struct JsonValue {
  JsonKind kind = JsonKind::JsonNull;
  // JsonString: false when the node holds no text (JsonNewString(nullptr)).
  bool hasText = false;
  // JsonObject, JsonArray: slots reserved as the growth rule counts them;
  // never shrinks. A parsed container holds exactly its items at first.
  std::uint32_t capacity = 0;
  // JsonBoolean: the flag as given (non-zero is true); JsonInteger: the value.
  std::int64_t number = 0;
  // JsonString: the byte string; it never contains a NUL byte.
  JsonText text;
  // JsonObject: members in insertion order. Change them only through the
  // JsonObject* operations, which keep memberIndex in step.
  JsonVector<JsonMember> members;
  // JsonArray: elements in order.
  JsonVector<JsonPtr> elements;
  // JsonObject with more than kJsonIndexThreshold members: a hash table of
  // member positions that finds the first member of each name, so that
  // building and searching large objects stays linear; else empty.
  JsonVector<std::uint32_t> memberIndex;
  // The arena that holds this node, or null for a heap node.
  JsonArena* arena = nullptr;

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
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int8_t* out,
                                    std::uint32_t n);
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint8_t* out,
                                    std::uint32_t n);
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int16_t* out,
                                    std::uint32_t n);
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint16_t* out,
                                    std::uint32_t n);
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int32_t* out,
                                    std::uint32_t n);
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint32_t* out,
                                    std::uint32_t n);
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::int64_t* out,
                                    std::uint32_t n);
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, std::uint64_t* out,
                                    std::uint32_t n);
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, bool* out,
                                    std::uint32_t n);
[[nodiscard]] bool JsonArrayCopyOut(const JsonValue* array, std::uint32_t first, const char** out,
                                    std::uint32_t n);

// ---- Objects ---------------------------------------------------------------

// Index of the first member with that name, or -1. The object must be an
// object; callers check.
[[nodiscard]] std::int64_t JsonObjectIndexOf(const JsonValue* object, std::string_view name);

// The first member of each of `names` (null where there is none, and all
// null when `object` is not an object), found in one pass over the members
// instead of a search per name: for readers of a few known members. Inlined,
// so that comparisons with the caller's constant names are folded.
template <std::size_t kCount>
[[gnu::always_inline]] inline std::array<const JsonValue*, kCount> JsonObjectFindMembers(
    const JsonValue* object, const std::array<std::string_view, kCount>& names) {
  std::array<const JsonValue*, kCount> found{};
  if (object == nullptr || object->kind != JsonKind::JsonObject) return found;
  std::array<bool, kCount> seen{};
  for (const JsonMember& member : object->members) {
    const std::string_view name = member.name.view();
    for (std::size_t index = 0; index < kCount; ++index) {
      // Sizes and first bytes tell most names apart before a comparison.
      const std::string_view sought = names[index];
      if (name.size() != sought.size() || (!name.empty() && name.front() != sought.front()) ||
          name != sought) {
        continue;
      }
      if (!seen[index]) found[index] = member.value.get();
      seen[index] = true;
      break;
    }
  }
  return found;
}

// Appends a member (a copy of the name and the value) without looking for an
// existing one. False when the object or value is null or the first is not an
// object (the value is then freed).
bool JsonObjectAdd(JsonValue* object, std::string_view name, JsonPtr value);

// Replaces the value of the first member with that name in place, else adds.
bool JsonObjectSet(JsonValue* object, std::string_view name, JsonPtr value);

// Lends the value of the first member with that name. False when the object
// or out is null, the first is not an object, or no member has the name.
[[nodiscard]] bool JsonObjectGet(const JsonValue* object, std::string_view name,
                                 const JsonValue** out);
[[nodiscard]] bool JsonObjectGet(JsonValue* object, std::string_view name, JsonValue** out);

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
// A caller that reads an optional member into a preset default discards
// the status explicitly.
// Narrow integer forms store the low bits with no range check.
[[nodiscard]] bool JsonObjectGetInteger(const JsonValue* object, std::string_view name,
                                        std::int64_t* out);
[[nodiscard]] bool JsonObjectGetInteger(const JsonValue* object, std::string_view name,
                                        std::uint64_t* out);
[[nodiscard]] bool JsonObjectGetInteger(const JsonValue* object, std::string_view name,
                                        std::int32_t* out);
[[nodiscard]] bool JsonObjectGetInteger(const JsonValue* object, std::string_view name,
                                        std::uint32_t* out);
[[nodiscard]] bool JsonObjectGetInteger(const JsonValue* object, std::string_view name,
                                        std::int16_t* out);
[[nodiscard]] bool JsonObjectGetInteger(const JsonValue* object, std::string_view name,
                                        std::uint16_t* out);
[[nodiscard]] bool JsonObjectGetInteger(const JsonValue* object, std::string_view name,
                                        std::int8_t* out);
[[nodiscard]] bool JsonObjectGetInteger(const JsonValue* object, std::string_view name,
                                        std::uint8_t* out);
// Stores 1 when the payload is non-zero, else 0.
[[nodiscard]] bool JsonObjectGetBoolean(const JsonValue* object, std::string_view name,
                                        std::uint8_t* out);
// Lends the text (null when the node holds none).
[[nodiscard]] bool JsonObjectGetString(const JsonValue* object, std::string_view name,
                                       const char** out);
