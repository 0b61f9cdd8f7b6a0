// Inside the JSON library: the arenas of parsed and built trees, and write
// access to the text and vector storage of nodes. Nothing outside
// simple_json/ includes this.
//
// An arena serves one parsed text or one built container. Its first block
// holds the arena record and is sized from the text's length (small for a
// built one); later blocks double. Every node carved from it counts in
// liveNodes, plus one hold while the parser runs. While the arena
// is "pure" (every live node is reachable from one of its holders, the root
// and the few subtrees taken out of the tree, and no node owns heap storage
// or a node from elsewhere), a holder is freed without visiting its nodes and
// the last one releases every block at once. The first change that breaks
// this clears `pure`; from then on each node is destroyed on its own and the
// last one releases the blocks. While it is pure, what is added to its
// containers (names, slots, nodes made beside them) is carved from it too.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "simple_json/json_value.h"

struct JsonArenaBlock;

// Trees that may keep a pure arena alive: the root and up to three subtrees
// taken out of it (a request's "params", an answer's "result"); a subtree
// taken out beyond them ends the arena's purity.
inline constexpr std::size_t kJsonArenaHolders = 4;

struct JsonArena {
  std::byte* cursor = nullptr;  // next free byte of the current block
  std::byte* limit = nullptr;   // end of the current block
  JsonArenaBlock* blocks = nullptr;
  std::size_t nextBlockSize = 0;
  std::size_t liveNodes = 1;  // the parser's hold until JsonArenaFinish
  // While pure: the root, then subtrees taken out of the tree; null once freed.
  std::array<const JsonValue*, kJsonArenaHolders> holders{};
  std::size_t holderCount = 0;  // holders not yet freed
  bool pure = true;
  // A holder was freed without its nodes being counted off, so liveNodes
  // must be counted afresh before the arena stops being pure.
  bool countStale = false;
};

// A new arena whose first block suits a text of `textSize` bytes.
JsonArena* JsonArenaCreate(std::size_t textSize);

// A new arena for a tree built by the constructors, which starts small.
JsonArena* JsonArenaCreateForBuild();

// Carves `size` bytes aligned to 8 from a new block (the slow path).
void* JsonArenaGrow(JsonArena* arena, std::size_t size);

// Releases every block; nodes in them are not visited.
void JsonArenaRelease(JsonArena* arena) noexcept;

// `size` bytes aligned to 8; never null.
inline void* JsonArenaAllocate(JsonArena* arena, std::size_t size) {
  size = (size + 7) & ~std::size_t{7};
  if (static_cast<std::size_t>(arena->limit - arena->cursor) < size) {
    return JsonArenaGrow(arena, size);
  }
  void* block = arena->cursor;
  arena->cursor += size;
  return block;
}

// A new node of the given kind in the arena.
inline JsonValue* JsonArenaNewNode(JsonArena* arena, JsonKind kind) {
  auto* node = new (JsonArenaAllocate(arena, sizeof(JsonValue))) JsonValue;
  node->kind = kind;
  node->arena = arena;
  ++arena->liveNodes;
  return node;
}

// Ends a parse. With a root the tree owns the arena from now on; without one
// (a failed parse) every block is released at once.
inline void JsonArenaFinish(JsonArena* arena, const JsonValue* root) noexcept {
  if (root == nullptr) {
    JsonArenaRelease(arena);
    return;
  }
  arena->holders[0] = root;
  arena->holderCount = 1;
  --arena->liveNodes;  // the parser's hold; the root's own count keeps it
}

// Ends the arena's purity, counting its live nodes afresh when needed.
void JsonArenaSpoil(JsonArena* arena) noexcept;

// The container is about to change in a way that an arena release without
// visiting the nodes would not undo.
inline void JsonArenaTouch(const JsonValue* container) {
  if (container->arena != nullptr && container->arena->pure) JsonArenaSpoil(container->arena);
}

// True when `value` may go into `container` with the arena staying pure:
// both live in the same pure arena and the value is no holder (a fresh node
// made beside the container, not a subtree taken out earlier).
inline bool JsonArenaKeepsPure(const JsonValue* container, const JsonValue* value) {
  const JsonArena* arena = container->arena;
  if (arena == nullptr || !arena->pure || value->arena != arena) return false;
  for (const JsonValue* holder : arena->holders) {
    if (holder == value) return false;
  }
  return true;
}

// The pure arena that additions to `container` are carved from, or null
// when they go to the heap.
inline JsonArena* JsonPureArena(const JsonValue* container) {
  JsonArena* arena = container->arena;
  return arena != nullptr && arena->pure ? arena : nullptr;
}

// Makes `value`, about to be taken out of `container` in the same pure
// arena, one of the arena's holders. False when it is not in such an arena
// or every holder's place is taken.
bool JsonArenaDetach(const JsonValue* container, const JsonValue* value) noexcept;

struct JsonStorageAccess {
  // A text lending `size` bytes at `data` that stay valid as long as the arena.
  static JsonText Lent(const char* data, std::size_t size) { return JsonText(data, size); }

  // Lends `size` bytes at `data` that stay valid as long as the arena.
  static void Borrow(JsonText& text, const char* data, std::size_t size) {
    text.Drop();
    text.data_ = data;
    text.size_ = size;
  }

  // A heap copy of the bytes up to the first NUL.
  static void Copy(JsonText& text, std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    auto owner = std::make_unique_for_overwrite<char[]>(bytes.size() + 1);
    std::memcpy(owner.get(), bytes.data(), bytes.size());
    owner[bytes.size()] = '\0';
    text.Drop();
    text.data_ = owner.release();
    text.size_ = bytes.size();
    text.owned_ = 1;
  }

  // An arena copy of the bytes up to the first NUL.
  static void CopyInto(JsonText& text, JsonArena* arena, std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    auto* copy = static_cast<char*>(JsonArenaAllocate(arena, bytes.size() + 1));
    std::memcpy(copy, bytes.data(), bytes.size());
    copy[bytes.size()] = '\0';
    Borrow(text, copy, bytes.size());
  }

  // Points the vector, empty as in a new node, at `size` items already built
  // in arena slots.
  template <typename Item>
  static void Adopt(JsonVector<Item>& vector, Item* data, std::uint32_t size) {
    vector.data_ = data;
    vector.size_ = size;
    vector.capacity_ = size;
  }

  // Arena slots for `count` items, not yet constructed.
  // Moves the items into `slots` (room for `capacity`), freeing heap slots
  // left behind; `heap` tells whether the new slots are the heap's.
  template <typename Item>
  static void MoveTo(JsonVector<Item>& vector, Item* slots, std::uint32_t capacity, bool heap) {
    for (std::uint32_t i = 0; i < vector.size_; ++i) {
      new (&slots[i]) Item(std::move(vector.data_[i]));
      vector.data_[i].~Item();
    }
    if (vector.owned_ != 0) std::allocator<Item>().deallocate(vector.data_, vector.capacity_);
    vector.data_ = slots;
    vector.capacity_ = capacity;
    vector.owned_ = heap ? 1 : 0;
  }

  template <typename Item>
  static Item* ArenaSlots(JsonArena* arena, std::size_t count) {
    return static_cast<Item*>(JsonArenaAllocate(arena, count * sizeof(Item)));
  }

  // Moves the items to heap slots for at least `capacity` items.
  template <typename Item>
  static void Reserve(JsonVector<Item>& vector, std::uint32_t capacity) {
    if (capacity <= vector.capacity_) return;
    MoveTo(vector, std::allocator<Item>().allocate(capacity), capacity, true);
  }

  // Moves the items to arena slots for at least `capacity` items; the old
  // arena slots stay with the arena until it goes.
  template <typename Item>
  static void ReserveIn(JsonVector<Item>& vector, JsonArena* arena, std::uint32_t capacity) {
    if (capacity <= vector.capacity_) return;
    MoveTo(vector, ArenaSlots<Item>(arena, capacity), capacity, false);
  }

  // Appends into a free slot; the caller made room.
  template <typename Item>
  static void Push(JsonVector<Item>& vector, Item&& item) {
    new (&vector.data_[vector.size_]) Item(std::move(item));
    ++vector.size_;
  }

  template <typename Item>
  static Item& At(JsonVector<Item>& vector, std::size_t i) {
    return vector.data_[i];
  }

  // Removes item i; later items move down one place.
  template <typename Item>
  static void Erase(JsonVector<Item>& vector, std::size_t i) {
    for (std::size_t j = i + 1; j < vector.size_; ++j)
      vector.data_[j - 1] = std::move(vector.data_[j]);
    vector.data_[vector.size_ - 1].~Item();
    --vector.size_;
  }

  // Heap slots for `size` items, each set to `fill`.
  static void Fill(JsonVector<std::uint32_t>& vector, std::uint32_t size, std::uint32_t fill) {
    vector.Reset();
    Reserve(vector, size);
    for (std::uint32_t i = 0; i < size; ++i)
      vector.data_[i] = fill;
    vector.size_ = size;
  }

  static void Clear(JsonVector<std::uint32_t>& vector) { vector.Reset(); }

  static std::uint32_t* Slots(JsonVector<std::uint32_t>& vector) { return vector.data_; }
};

// Name index probing, shared by the parser (which builds the index of a large
// parsed object) and the model's operations: the slot of `slots` (a power of
// two in size; each holds a member position plus one, 0 when free) that holds
// the first member named `name`, or the free slot where it goes.
inline std::size_t JsonIndexFindSlot(const JsonMember* members, const std::uint32_t* slots,
                                     std::size_t size, std::string_view name) {
  const std::size_t mask = size - 1;
  std::size_t slot = std::hash<std::string_view>{}(name)&mask;
  while (slots[slot] != 0 && members[slots[slot] - 1].name.view() != name) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

// Slots of the name index for an object of `count` members: a power of two
// of at least four times the count, and at least 4 * kJsonIndexThreshold.
inline std::size_t JsonIndexSize(std::size_t count) {
  std::size_t size = 4 * kJsonIndexThreshold;
  while (size < 4 * count)
    size *= 2;
  return size;
}
