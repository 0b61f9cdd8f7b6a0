// The kernel code's opt-in cache: layout answers kept until TargetInit,
// copies of target memory kept until the target runs or is written, and the
// reads served from them.
#include "kernel/target_cache.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "osa/service_requests.h"

namespace {

// Element sizes the memory wrapper swaps when the byte orders differ.
constexpr std::uint32_t kMinSwapSize = 2;
constexpr std::uint32_t kMaxSwapSize = 8;

bool NeedsSwap(const OSA_ServiceCntx* context, std::uint32_t size) {
  return size >= kMinSwapSize && size <= kMaxSwapSize &&
         context->bigEndianTarget != context->bigEndianHost;
}

// Reverses each element in place: turns bytes as sent into bytes as the
// wrapper delivers them, and back.
void SwapElements(std::span<std::uint8_t> bytes, std::uint32_t size) {
  for (std::size_t at = 0; at + size <= bytes.size(); at += size) {
    std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
  }
}

std::uint64_t BlockKey(std::uint32_t start, std::uint32_t size) {
  return (static_cast<std::uint64_t>(start) << 32) | size;
}

// A copy of target memory is good only until the plug-in writes to the
// target: every write it sends counts in the service record.
void DropStaleMemory(const OSA_ServiceCntx* context, TargetCache* cache) {
  if (context->targetWrites == cache->writesSeen) return;
  CacheForgetMemory(cache);
  cache->writesSeen = context->targetWrites;
}

// Copies [address, address + length) out of a kept region; false when no
// region holds all of it. Regions are at most a block long, so only those
// starting within a block below the address can hold it.
bool Serve(const TargetCache& cache, std::uint32_t address, std::size_t length, std::uint8_t* out) {
  const std::uint64_t end = std::uint64_t{address} + length;
  auto it = cache.regions.upper_bound(address);
  while (it != cache.regions.begin()) {
    --it;
    const std::uint64_t start = it->first;
    if (start + kCacheMaxBlockBytes <= address) break;
    if (start + it->second.size() >= end) {
      if (length > 0) std::memcpy(out, it->second.data() + (address - start), length);
      return true;
    }
  }
  return false;
}

bool Covered(const TargetCache& cache, std::uint32_t address, std::size_t length) {
  const std::uint64_t end = std::uint64_t{address} + length;
  auto it = cache.regions.upper_bound(address);
  while (it != cache.regions.begin()) {
    --it;
    if (std::uint64_t{it->first} + kCacheMaxBlockBytes <= address) break;
    if (std::uint64_t{it->first} + it->second.size() >= end) return true;
  }
  return false;
}

// Keeps bytes as the debugger sent them; past the byte bound everything kept
// so far goes first.
void Keep(TargetCache* cache, std::uint32_t start, std::vector<std::uint8_t> bytes) {
  if (!cache->enabled || bytes.empty() || bytes.size() > kCacheMaxBlockBytes) return;
  if (cache->regionBytes + bytes.size() > kCacheMaxRegionBytes) CacheForgetMemory(cache);
  std::vector<std::uint8_t>& kept = cache->regions[start];
  if (kept.size() >= bytes.size()) return;
  cache->regionBytes += bytes.size() - kept.size();
  kept = std::move(bytes);
}

// Reads [start, start + size) as plain bytes in one request and keeps it.
bool ReadBlock(OSA_ServiceCntx* context, TargetCache* cache, std::uint32_t start,
               std::uint32_t size) {
  if (cache->failedBlocks.contains(BlockKey(start, size))) return false;
  std::vector<std::uint8_t> bytes(size);
  if (OSA_Service_MemoryRead(context, kKernelMemorySpace, start, size, 1, bytes.data(), 0,
                             kOsaNoCore) != 0) {
    // Bounded like the regions: a corrupted list can name many bad blocks.
    if (cache->failedBlocks.size() >= kCacheMaxLayoutEntries) cache->failedBlocks.clear();
    cache->failedBlocks.insert(BlockKey(start, size));
    return false;
  }
  Keep(cache, start, std::move(bytes));
  return true;
}

// A member path that follows a pointer lands at an address that depends on
// target memory, not on the base alone.
bool CacheablePath(std::string_view path) {
  return path.find("->") == std::string_view::npos && path.find('*') == std::string_view::npos &&
         path.find('(') == std::string_view::npos;
}

std::string MemberKey(const char* typeName, const char* memberPath) {
  std::string key(typeName);
  key.push_back('\n');
  key.append(memberPath);
  return key;
}

}  // namespace

TargetCache* ActiveCache(TargetCache* cache) {
  return cache != nullptr && cache->enabled ? cache : nullptr;
}

void CacheSetEnabled(TargetCache* cache, bool enabled) {
  if (cache == nullptr) return;
  *cache = TargetCache{};
  cache->enabled = enabled;
}

void CacheForgetMemory(TargetCache* cache) {
  if (cache == nullptr) return;
  cache->regions.clear();
  cache->regionBytes = 0;
  cache->failedBlocks.clear();
}

KernelStatus CacheEvaluateLayout(OSA_ServiceCntx* context, TargetCache* cache,
                                 const std::string& expression, OsaValue* out) {
  if (cache != nullptr) {
    const auto found = cache->evaluations.find(expression);
    if (found != cache->evaluations.end()) {
      if (found->second.status == KernelStatus::kOk) {
        out->kind = OsaValueKind::kUInt32;
        out->payload = found->second.value;
        out->text.reset();
      }
      return found->second.status;
    }
  }
  OsaValue value;
  value.kind = OsaValueKind::kUInt32;
  const KernelStatus status =
      ServiceStatus(OSA_Service_ExpressionEval(context, expression.c_str(), &value, kOsaNoCore));
  // A nested request may have turned the cache off while this one waited.
  if (cache != nullptr && cache->enabled && cache->evaluations.size() < kCacheMaxLayoutEntries) {
    cache->evaluations.emplace(expression, CachedEvaluation{status, value.payload});
  }
  if (status == KernelStatus::kOk) *out = std::move(value);
  return status;
}

bool CacheFindMember(const TargetCache* cache, const char* typeName, const char* memberPath,
                     CachedMemberLayout* layout) {
  if (cache == nullptr || !CacheablePath(memberPath)) return false;
  const auto found = cache->members.find(MemberKey(typeName, memberPath));
  if (found == cache->members.end()) return false;
  *layout = found->second;
  return true;
}

void CacheKeepMember(TargetCache* cache, const char* typeName, const char* memberPath,
                     const CachedMemberLayout& layout) {
  if (cache == nullptr || !cache->enabled || !CacheablePath(memberPath)) return;
  std::string key = MemberKey(typeName, memberPath);
  const auto found = cache->members.find(key);
  if (found != cache->members.end()) {
    found->second = layout;
  } else if (cache->members.size() < kCacheMaxLayoutEntries) {
    cache->members.emplace(std::move(key), layout);
  }
}

KernelStatus CacheReadMemory(OSA_ServiceCntx* context, TargetCache* cache, std::uint32_t address,
                             std::uint32_t count, std::uint32_t size, std::uint8_t* buffer,
                             TargetBlock block) {
  const std::uint64_t length = std::uint64_t{count} * size;
  if (cache == nullptr || length == 0 || length > kCacheMaxBlockBytes) {
    return ServiceStatus(OSA_Service_MemoryRead(context, kKernelMemorySpace, address, count, size,
                                                buffer, 0, kOsaNoCore));
  }
  DropStaleMemory(context, cache);
  const std::span<std::uint8_t> out(buffer, static_cast<std::size_t>(length));
  const bool inBlock = block.size > 0 && block.size <= kCacheMaxBlockBytes &&
                       block.start <= address &&
                       address + length <= std::uint64_t{block.start} + block.size;
  if (Serve(*cache, address, out.size(), buffer) ||
      (inBlock && ReadBlock(context, cache, block.start, block.size) &&
       Serve(*cache, address, out.size(), buffer))) {
    if (NeedsSwap(context, size)) SwapElements(out, size);
    return KernelStatus::kOk;
  }
  const KernelStatus status = ServiceStatus(OSA_Service_MemoryRead(
      context, kKernelMemorySpace, address, count, size, buffer, 0, kOsaNoCore));
  if (status != KernelStatus::kOk) return status;
  std::vector<std::uint8_t> sent(out.begin(), out.end());
  if (NeedsSwap(context, size)) SwapElements(sent, size);
  Keep(cache, address, std::move(sent));
  return KernelStatus::kOk;
}

bool CacheObjectSize(OSA_ServiceCntx* context, TargetCache* cache, const char* typeName,
                     std::uint32_t* size) {
  if (cache == nullptr) return false;
  OsaValue value;
  if (CacheEvaluateLayout(context, cache, "sizeof(" + std::string(typeName) + ")", &value) !=
      KernelStatus::kOk) {
    return false;
  }
  const auto bytes = static_cast<std::uint32_t>(value.payload);
  if (bytes == 0) return false;
  *size = bytes;
  return true;
}

void CachePrefetchObject(OSA_ServiceCntx* context, TargetCache* cache, const char* typeName,
                         std::uint32_t base) {
  if (cache == nullptr || typeName == nullptr) return;
  DropStaleMemory(context, cache);
  std::uint32_t size = 0;
  if (!CacheObjectSize(context, cache, typeName, &size) || size > kCacheMaxBlockBytes) return;
  if (std::uint64_t{base} + size > (std::uint64_t{1} << 32)) return;
  if (Covered(*cache, base, size)) return;
  (void)ReadBlock(context, cache, base, size);
}
