// The parser's arena (blocks, growth, release) and the deleter that frees a
// node wherever it lives, with the text storage it needs.
#include <algorithm>
#include <array>
#include <cstdint>

#include "simple_json/json_storage.h"

// The head of every block: the chain and the size to hand back.
struct JsonArenaBlock {
  JsonArenaBlock* next = nullptr;
  std::size_t size = 0;
};

namespace {

constexpr std::size_t kBlockHead = (sizeof(JsonArenaBlock) + 7) & ~std::size_t{7};
constexpr std::size_t kArenaHead = (sizeof(JsonArena) + 7) & ~std::size_t{7};

// Smallest and largest first blocks. A parsed tree takes about 8 to 25
// bytes per byte of text (a node per value, a slot per item, the texts).
constexpr std::size_t kFirstBlockMin = 2048;
constexpr std::size_t kFirstBlockMax = std::size_t{1} << 20;
constexpr std::size_t kBytesPerTextByte = 12;

// First block of a built tree: a root object with a few scalar members
// (a handler's answer) fits it.
constexpr std::size_t kBuildFirstBlock = 1024;

JsonArenaBlock* NewBlock(std::size_t size) {
  std::byte* bytes = std::allocator<std::byte>().allocate(size);
  return new (bytes) JsonArenaBlock{nullptr, size};
}

void FreeBlock(JsonArenaBlock* block) noexcept {
  const std::size_t size = block->size;
  block->~JsonArenaBlock();
  std::allocator<std::byte>().deallocate(reinterpret_cast<std::byte*>(block), size);
}

// A few released first blocks kept per thread for the next trees: a request
// tree, its answer being built and the service answers parsed meanwhile come
// and go in turn, so this saves a heap round trip per tree. Blocks above
// kSpareMax go back to the heap.
constexpr std::size_t kSpareMax = 64 * 1024;
constexpr std::size_t kSpareCount = 4;

// The spare blocks live in plain thread_locals, which every new arena reads
// without a guard. The holder whose destructor frees the blocks when the
// thread ends is armed when the thread first keeps one; once it is gone
// (trees freed later, during the thread's or the process's exit), blocks go
// straight back to the heap.
enum class SpareState : std::uint8_t { kUnarmed, kArmed, kClosed };

thread_local std::array<JsonArenaBlock*, kSpareCount> gSpareBlocks{};  // [0, gSpareCount)
thread_local std::size_t gSpareCount = 0;                              // 0 whenever closed
thread_local SpareState gSpareState = SpareState::kUnarmed;

struct SpareHolder {
  bool armed = false;
  ~SpareHolder();
};

thread_local SpareHolder gSpareHolder;

SpareHolder::~SpareHolder() {
  gSpareState = SpareState::kClosed;
  for (std::size_t i = 0; i < gSpareCount; ++i)
    FreeBlock(gSpareBlocks[i]);
  gSpareCount = 0;
}

// The smallest spare block of at least `size` bytes, else a new one.
JsonArenaBlock* TakeBlock(std::size_t size) {
  std::size_t best = kSpareCount;
  for (std::size_t i = 0; i < gSpareCount; ++i) {
    const std::size_t candidate = gSpareBlocks[i]->size;
    if (candidate >= size && (best == kSpareCount || candidate < gSpareBlocks[best]->size)) {
      best = i;
    }
  }
  if (best == kSpareCount) return NewBlock(size);
  JsonArenaBlock* block = gSpareBlocks[best];
  gSpareBlocks[best] = gSpareBlocks[--gSpareCount];
  return block;  // kept with no next block
}

// GiveBackBlock when every spare place is taken or none is armed yet: the
// smallest block of all goes back to the heap.
[[gnu::noinline]] void KeepOrFreeBlock(JsonArenaBlock* block) noexcept {
  if (gSpareState == SpareState::kClosed || block->size > kSpareMax) {
    FreeBlock(block);
    return;
  }
  if (gSpareState == SpareState::kUnarmed) {
    gSpareHolder.armed = true;  // its first use registers its destructor
    gSpareState = SpareState::kArmed;
  }
  if (gSpareCount < kSpareCount) {
    gSpareBlocks[gSpareCount++] = block;
    return;
  }
  std::size_t smallest = 0;
  for (std::size_t i = 1; i < kSpareCount; ++i) {
    if (gSpareBlocks[i]->size < gSpareBlocks[smallest]->size) smallest = i;
  }
  if (gSpareBlocks[smallest]->size < block->size) std::swap(gSpareBlocks[smallest], block);
  FreeBlock(block);
}

// Keeps the block, which has no next block, as a spare or frees it.
void GiveBackBlock(JsonArenaBlock* block) noexcept {
  if (gSpareCount < kSpareCount && gSpareState == SpareState::kArmed && block->size <= kSpareMax) {
    gSpareBlocks[gSpareCount++] = block;
    return;
  }
  KeepOrFreeBlock(block);
}

// A new arena whose first block has at least `size` bytes.
JsonArena* CreateArena(std::size_t size) {
  JsonArenaBlock* block = TakeBlock(size);
  size = block->size;
  std::byte* start = reinterpret_cast<std::byte*>(block) + kBlockHead;
  // Built aside and copied in: the copy takes a few wide stores where
  // building in place starts with a string store over the whole record.
  const JsonArena fresh{.cursor = start + kArenaHead,
                        .limit = reinterpret_cast<std::byte*>(block) + size,
                        .blocks = block,
                        .nextBlockSize = size * 2};
  return new (start) JsonArena(fresh);
}

}  // namespace

JsonArena* JsonArenaCreate(std::size_t textSize) {
  std::size_t size = kFirstBlockMin;
  if (textSize < kFirstBlockMax / kBytesPerTextByte) {
    size = std::max(size, textSize * kBytesPerTextByte);
  } else {
    size = kFirstBlockMax;
  }
  return CreateArena(size);
}

JsonArena* JsonArenaCreateForBuild() {
  return CreateArena(kBuildFirstBlock);
}

void* JsonArenaGrow(JsonArena* arena, std::size_t size) {
  const std::size_t blockSize = std::max(arena->nextBlockSize, size + kBlockHead);
  JsonArenaBlock* block = NewBlock(blockSize);
  // The first block holds the arena itself, so it stays first in the chain.
  block->next = arena->blocks->next;
  arena->blocks->next = block;
  arena->nextBlockSize = std::min(blockSize * 2, kFirstBlockMax * 8);
  std::byte* start = reinterpret_cast<std::byte*>(block) + kBlockHead;
  arena->cursor = start + size;
  arena->limit = reinterpret_cast<std::byte*>(block) + blockSize;
  return start;
}

void JsonArenaRelease(JsonArena* arena) noexcept {
  JsonArenaBlock* first = arena->blocks;
  JsonArenaBlock* block = first->next;
  while (block != nullptr) {
    JsonArenaBlock* next = block->next;
    FreeBlock(block);
    block = next;
  }
  arena->~JsonArena();
  first->next = nullptr;
  GiveBackBlock(first);
}

namespace {

// Nodes of the tree; in a pure arena every one of them lives in it.
std::size_t CountNodes(const JsonValue* value) {
  std::size_t count = 1;
  for (const JsonMember& member : value->members) {
    if (member.value != nullptr) count += CountNodes(member.value.get());
  }
  for (const JsonPtr& element : value->elements) {
    if (element != nullptr) count += CountNodes(element.get());
  }
  return count;
}

// Frees a holder of a pure arena without visiting its nodes, releasing the
// arena with the last one. False when the value holds no place.
bool DropHolder(JsonArena* arena, const JsonValue* value) noexcept {
  std::size_t at = 0;
  while (at < kJsonArenaHolders && arena->holders[at] != value)
    ++at;
  if (at == kJsonArenaHolders) return false;
  arena->holders[at] = nullptr;
  if (--arena->holderCount == 0) {
    JsonArenaRelease(arena);
  } else {
    arena->countStale = true;
  }
  return true;
}

}  // namespace

void JsonArenaSpoil(JsonArena* arena) noexcept {
  if (arena->countStale) {
    std::size_t count = 0;
    for (const JsonValue* holder : arena->holders) {
      if (holder != nullptr) count += CountNodes(holder);
    }
    arena->liveNodes = count;
  }
  arena->pure = false;
}

bool JsonArenaDetach(const JsonValue* container, const JsonValue* value) noexcept {
  JsonArena* arena = container->arena;
  if (arena == nullptr || !arena->pure || value->arena != arena) return false;
  for (const JsonValue*& holder : arena->holders) {
    if (holder == nullptr) {
      holder = value;
      ++arena->holderCount;
      return true;
    }
  }
  return false;
}

void JsonDeleter::operator()(JsonValue* value) const noexcept {
  JsonArena* arena = value->arena;
  if (arena == nullptr) {
    // A heap node, made by std::make_unique_for_overwrite in the constructors.
    std::unique_ptr<JsonValue> owner(value);
    return;
  }
  if (arena->pure) {
    // The usual case: a whole parsed tree goes.
    if (arena->holderCount == 1 && arena->holders[0] == value) {
      JsonArenaRelease(arena);
      return;
    }
    if (DropHolder(arena, value)) return;
  }
  value->~JsonValue();
  if (--arena->liveNodes == 0) JsonArenaRelease(arena);
}

void JsonText::Release() noexcept {
  if (owned_ != 0) std::unique_ptr<char[]> owner(const_cast<char*>(data_));
  data_ = kEmpty;
  size_ = 0;
  owned_ = 0;
}
