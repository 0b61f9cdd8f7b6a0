// The kernel code's opt-in cache of what it asks the debugger. Off unless a
// debugger turns it on ("cache on"), so that the conversation stays as it is.
// When on, it keeps two kinds of answers:
//
//  - layout answers that cannot change while the program is loaded (member
//    offsets and sizes, type sizes, addresses of static symbols, whether a
//    member exists), kept until the next TargetInit;
//  - copies of target memory (an object's whole structure read at once, and
//    every smaller piece read), kept only until the target runs again or the
//    plug-in writes memory or a register.
//
// Every answer the kernel code gives is the same with the cache on or off;
// only the number of requests to the debugger falls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kernel/kernel_status.h"
#include "osa/plugin_api.h"

// Memory space of every target access the kernel code makes.
inline constexpr std::int32_t kKernelMemorySpace = 4;

// The answer of one layout expression: the service's status and, on
// success, the value as kind UInt32 delivered it.
struct CachedEvaluation {
  KernelStatus status = KernelStatus::kOk;
  std::uint64_t value = 0;
};

// A member of a type: its offset from the object's base and its size, each
// with the status of the evaluation that found it.
struct CachedMemberLayout {
  KernelStatus addressStatus = KernelStatus::kOk;
  std::uint32_t offset = 0;
  bool haveSize = false;  // the size has been asked for
  KernelStatus sizeStatus = KernelStatus::kOk;
  std::uint32_t size = 0;
};

// Bounds of what the cache keeps: a structure larger than a block is not
// read as a whole; past the byte bound every region is dropped and reading
// starts afresh; past the entry bound new layout answers are not kept.
inline constexpr std::uint32_t kCacheMaxBlockBytes = 4096;
inline constexpr std::size_t kCacheMaxRegionBytes = 1 << 20;
inline constexpr std::size_t kCacheMaxLayoutEntries = 4096;

struct TargetCache {
  bool enabled = false;
  // Layout answers, by the expression text as sent ("sizeof(QX_TASK)").
  std::unordered_map<std::string, CachedEvaluation> evaluations;
  // Member layouts, by type name and member path.
  std::unordered_map<std::string, CachedMemberLayout> members;
  // Target memory read since the latest stop, by start address, as the
  // debugger sent it (target byte order); no region is longer than a block.
  std::map<std::uint32_t, std::vector<std::uint8_t>> regions;
  std::size_t regionBytes = 0;
  // Structures (start and size) whose read as a whole failed since the
  // latest stop; their members are read one by one.
  std::unordered_set<std::uint64_t> failedBlocks;
  // The service record's count of writes when the regions were filled.
  std::uint64_t writesSeen = 0;
};

// The cache to use, or null when it is off (or there is no record).
TargetCache* ActiveCache(TargetCache* cache);

// Turns the cache on or off; off forgets everything kept.
void CacheSetEnabled(TargetCache* cache, bool enabled);

// Forgets the copies of target memory (the target ran or was written).
void CacheForgetMemory(TargetCache* cache);

// Evaluates a layout expression as kind UInt32, once while the cache is on:
// later calls deliver the first answer (failures included) without asking.
// Without a cache it is a plain evaluation.
[[nodiscard]] KernelStatus CacheEvaluateLayout(OSA_ServiceCntx* context, TargetCache* cache,
                                               const std::string& expression, OsaValue* out);

// Copies out the member layout of "typeName"/"memberPath"; false when none
// is kept yet or the path cannot be cached (one that follows a pointer).
bool CacheFindMember(const TargetCache* cache, const char* typeName, const char* memberPath,
                     CachedMemberLayout* layout);
// Keeps (or updates) a member layout, unless the path cannot be cached, the
// bound is reached or the cache was turned off meanwhile.
void CacheKeepMember(TargetCache* cache, const char* typeName, const char* memberPath,
                     const CachedMemberLayout& layout);

// The structure around a read, [start, start + size): with the cache on it
// is read as a whole when the read falls inside it. Size 0: none.
struct TargetBlock {
  std::uint32_t start = 0;
  std::uint32_t size = 0;
};

// Reads count elements of `size` bytes at `address` into buffer, delivered
// as OSA_Service_MemoryRead delivers them (elements swapped when the
// target's and the host's byte orders differ). With a cache, the bytes come
// from a kept copy when one holds them; otherwise `block` is read as a whole
// first when it holds them, and failing that the elements are read as
// without a cache and kept.
[[nodiscard]] KernelStatus CacheReadMemory(OSA_ServiceCntx* context, TargetCache* cache,
                                           std::uint32_t address, std::uint32_t count,
                                           std::uint32_t size, std::uint8_t* buffer,
                                           TargetBlock block = {});

// Reads the structure `typeName` at `base` in one request unless a kept copy
// already holds it; nothing happens without a cache or when its size is
// unknown or too large. Later member reads are served from the copy.
void CachePrefetchObject(OSA_ServiceCntx* context, TargetCache* cache, const char* typeName,
                         std::uint32_t base);

// The size of structure `typeName` (a layout answer); false when unknown.
bool CacheObjectSize(OSA_ServiceCntx* context, TargetCache* cache, const char* typeName,
                     std::uint32_t* size);
