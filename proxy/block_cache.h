// A per-stop cache of target memory in aligned blocks: a read takes whole
// blocks from the target once and answers later reads inside them without
// a round trip. The owner empties it whenever the target may have changed
// (resume, step, memory or register write).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

// Reads count bytes at address from the target; false when it cannot.
using ProxyFetch =
    std::function<bool(std::uint64_t address, std::uint32_t count, std::uint8_t* out)>;

struct ProxyBlockCache {
  bool enabled = true;
  std::uint32_t blockSize = 1024;  // a power of two
  // The most bytes one fetch may ask for (the upstream's packet size).
  std::uint32_t maxFetch = 2048;
  std::map<std::uint64_t, std::vector<std::uint8_t>> blocks;  // by block address
  // Blocks whose whole read failed (a range partly unmapped): reads inside
  // them go to the target exactly as asked, uncached.
  std::set<std::uint64_t> failed;
  // Exact reads inside failed blocks that failed too, as [begin, end): a
  // read that covers one fails without asking again (GDB and the plug-in
  // repeat reads of bad pointers).
  std::set<std::pair<std::uint64_t, std::uint64_t>> failedReads;
  std::uint64_t hits = 0;     // reads answered without a fetch
  std::uint64_t fetches = 0;  // fetches made
};

// Reads [address, address + count) through the cache. Missing neighbouring
// blocks are fetched together, up to maxFetch bytes per fetch; a block whose
// fetch fails is remembered and its part of the request fetched alone. False
// (with `out` unspecified) when some byte cannot be read or the range passes
// 4 GiB. With the cache disabled every read goes straight to `fetch`.
[[nodiscard]] bool ProxyCacheRead(ProxyBlockCache* cache, std::uint64_t address,
                                  std::uint64_t count, std::uint8_t* out, const ProxyFetch& fetch);

// Forgets every block (the target may have changed).
void ProxyCacheClear(ProxyBlockCache* cache);
