// The per-stop block cache of target memory (see block_cache.h).
#include "proxy/block_cache.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t kAddressLimit = std::uint64_t{1} << 32;

// Reads [address, address + count) in pieces of at most maxFetch bytes.
bool FetchDirect(const ProxyBlockCache& cache, std::uint64_t address, std::uint64_t count,
                 std::uint8_t* out, const ProxyFetch& fetch, std::uint64_t* fetches) {
  while (count > 0) {
    const auto piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, cache.maxFetch));
    ++*fetches;
    if (!fetch(address, piece, out)) return false;
    address += piece;
    out += piece;
    count -= piece;
  }
  return true;
}

// Fetches `blockCount` blocks from `first` into the cache; false when the
// combined read failed (nothing is stored then).
bool FetchRun(ProxyBlockCache* cache, std::uint64_t first, std::uint64_t blockCount,
              const ProxyFetch& fetch) {
  const std::uint64_t bytes = blockCount * cache->blockSize;
  std::vector<std::uint8_t> data(bytes);
  ++cache->fetches;
  if (!fetch(first, static_cast<std::uint32_t>(bytes), data.data())) return false;
  for (std::uint64_t index = 0; index < blockCount; ++index) {
    const auto begin = data.begin() + static_cast<std::ptrdiff_t>(index * cache->blockSize);
    cache->blocks[first + index * cache->blockSize].assign(begin, begin + cache->blockSize);
  }
  return true;
}

// Whether [begin, end) covers a range that failed to read before.
bool KnownToFail(const ProxyBlockCache& cache, std::uint64_t begin, std::uint64_t end) {
  for (auto range = cache.failedReads.lower_bound({begin, 0});
       range != cache.failedReads.end() && range->first < end; ++range) {
    if (range->second <= end) return true;
  }
  return false;
}

}  // namespace

bool ProxyCacheRead(ProxyBlockCache* cache, std::uint64_t address, std::uint64_t count,
                    std::uint8_t* out, const ProxyFetch& fetch) {
  if (count == 0) return true;
  if (address >= kAddressLimit || count > kAddressLimit - address) return false;
  if (!cache->enabled || cache->blockSize == 0) {
    return FetchDirect(*cache, address, count, out, fetch, &cache->fetches);
  }
  const std::uint64_t size = cache->blockSize;
  const std::uint64_t mask = ~(size - 1);
  const std::uint64_t end = address + count;
  const std::uint64_t perFetch = std::max<std::uint64_t>(1, cache->maxFetch / size);
  bool allCached = true;

  // First bring every block of the range in, missing runs fetched together.
  for (std::uint64_t block = address & mask; block < end;) {
    if (cache->blocks.count(block) != 0 || cache->failed.count(block) != 0) {
      block += size;
      continue;
    }
    allCached = false;
    std::uint64_t run = 1;
    while (run < perFetch && block + run * size < end &&
           cache->blocks.count(block + run * size) == 0 &&
           cache->failed.count(block + run * size) == 0) {
      ++run;
    }
    if (!FetchRun(cache, block, run, fetch)) {
      // Find the blocks that fail on their own; the rest are kept.
      for (std::uint64_t index = 0; index < run; ++index) {
        const std::uint64_t one = block + index * size;
        if (run == 1 || !FetchRun(cache, one, 1, fetch)) cache->failed.insert(one);
      }
    }
    block += run * size;
  }
  if (allCached) ++cache->hits;

  // Then copy, fetching the parts inside failed blocks exactly as asked.
  for (std::uint64_t at = address; at < end;) {
    const std::uint64_t block = at & mask;
    const std::uint64_t stop = std::min(end, block + size);
    const auto found = cache->blocks.find(block);
    if (found != cache->blocks.end()) {
      std::memcpy(out + (at - address), found->second.data() + (at - block), stop - at);
    } else if (KnownToFail(*cache, at, stop)) {
      return false;
    } else if (!FetchDirect(*cache, at, stop - at, out + (at - address), fetch, &cache->fetches)) {
      cache->failedReads.emplace(at, stop);
      return false;
    }
    at = stop;
  }
  return true;
}

void ProxyCacheClear(ProxyBlockCache* cache) {
  cache->blocks.clear();
  cache->failed.clear();
  cache->failedReads.clear();
}
