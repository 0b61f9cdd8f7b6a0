// Tests of the per-stop block cache: which fetches a read makes, and what
// happens around memory that cannot be read.
#include "proxy/block_cache.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Memory that reads as the low byte of each address and fails outside
// [begin, end); it records every fetch.
struct FakeMemory {
  std::uint64_t begin = 0x1000;
  std::uint64_t end = 0x3000;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> fetches;

  ProxyFetch Fetch() {
    return [this](std::uint64_t address, std::uint32_t count, std::uint8_t* out) {
      fetches.emplace_back(address, count);
      if (address < begin || address + count > end) return false;
      for (std::uint32_t index = 0; index < count; ++index)
        out[index] = static_cast<std::uint8_t>(address + index);
      return true;
    };
  }
};

ProxyBlockCache SmallCache() {
  ProxyBlockCache cache;
  cache.blockSize = 0x100;
  cache.maxFetch = 0x200;
  return cache;
}

using Fetches = std::vector<std::pair<std::uint64_t, std::uint32_t>>;

TEST(ProxyBlockCache, ReadsWholeBlocksOnceAndRunsTogether) {
  FakeMemory memory;
  ProxyBlockCache cache = SmallCache();
  std::uint8_t out[0x300] = {};
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x1010, 4, out, memory.Fetch()));
  EXPECT_EQ(0x10, out[0]);
  EXPECT_EQ(0x13, out[3]);
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x10f0, 4, out, memory.Fetch()));  // same block
  EXPECT_EQ(1u, cache.hits);
  // Spans the cached block and three more: two fetches of at most maxFetch.
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x10fe, 0x300, out, memory.Fetch()));
  EXPECT_EQ(0xfe, out[0]);
  EXPECT_EQ(0x00, out[2]);
  const Fetches expected = {{0x1000, 0x100}, {0x1100, 0x200}, {0x1300, 0x100}};
  EXPECT_EQ(expected, memory.fetches);
  ProxyCacheClear(&cache);
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x1010, 4, out, memory.Fetch()));
  EXPECT_EQ(4u, memory.fetches.size());
}

TEST(ProxyBlockCache, BlocksThatFailAreReadExactly) {
  FakeMemory memory;
  memory.end = 0x1180;  // the block at 0x1100 is only half readable
  ProxyBlockCache cache = SmallCache();
  std::uint8_t out[16] = {};
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x1170, 8, out, memory.Fetch()));
  EXPECT_EQ(0x70, out[0]);
  // The failed block is remembered: the next read goes straight to its bytes.
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x1100, 4, out, memory.Fetch()));
  EXPECT_FALSE(ProxyCacheRead(&cache, 0x117c, 8, out, memory.Fetch()));
  // A read that failed, and any read covering it, fail at once until cleared.
  EXPECT_FALSE(ProxyCacheRead(&cache, 0x117c, 8, out, memory.Fetch()));
  EXPECT_FALSE(ProxyCacheRead(&cache, 0x1178, 0x10, out, memory.Fetch()));
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x117c, 4, out, memory.Fetch()));
  const Fetches expected = {{0x1100, 0x100}, {0x1170, 8}, {0x1100, 4}, {0x117c, 8}, {0x117c, 4}};
  EXPECT_EQ(expected, memory.fetches);
  ProxyCacheClear(&cache);
  EXPECT_FALSE(ProxyCacheRead(&cache, 0x117c, 8, out, memory.Fetch()));
  EXPECT_EQ(expected.size() + 2, memory.fetches.size());
}

TEST(ProxyBlockCache, AFailedRunIsSplitIntoItsBlocks) {
  FakeMemory memory;
  memory.begin = 0x1100;
  ProxyBlockCache cache = SmallCache();
  std::uint8_t out[0x200] = {};
  EXPECT_FALSE(ProxyCacheRead(&cache, 0x1000, 0x200, out, memory.Fetch()));
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x1100, 0x100, out, memory.Fetch()));
  const Fetches expected = {{0x1000, 0x200}, {0x1000, 0x100}, {0x1100, 0x100}, {0x1000, 0x100}};
  EXPECT_EQ(expected, memory.fetches);
  EXPECT_EQ(1u, cache.hits);
}

TEST(ProxyBlockCache, DisabledOrOutOfRange) {
  FakeMemory memory;
  ProxyBlockCache cache = SmallCache();
  cache.enabled = false;
  std::uint8_t out[0x300] = {};
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x1010, 0x300, out, memory.Fetch()));
  ASSERT_TRUE(ProxyCacheRead(&cache, 0x1010, 4, out, memory.Fetch()));
  const Fetches expected = {{0x1010, 0x200}, {0x1210, 0x100}, {0x1010, 4}};
  EXPECT_EQ(expected, memory.fetches);
  cache.enabled = true;
  EXPECT_FALSE(ProxyCacheRead(&cache, 0xFFFFFFFE, 4, out, memory.Fetch()));
  EXPECT_FALSE(ProxyCacheRead(&cache, 0x100000000, 1, out, memory.Fetch()));
  EXPECT_TRUE(ProxyCacheRead(&cache, 0x5000, 0, out, memory.Fetch()));
  EXPECT_EQ(3u, memory.fetches.size());
}

}  // namespace
