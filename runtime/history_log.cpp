// The history log: per-thread in-memory rings of time-stamped entries. An
// entry is stored as a small header and its two texts in one byte ring, so
// recording costs a copy of the texts and no allocation once the rings have
// grown to the size the budget lets them reach. A second, dense ring holds
// each entry's stored size: dropping the oldest entry reads that, not the
// header written a whole byte ring ago and long gone from the caches.
#include "runtime/history_log.h"

#include <unistd.h>

#include <atomic>
#include <bit>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>

#include "runtime/text_format.h"

namespace {

// Bookkeeping bytes charged per entry on top of its two texts. The budget
// counts this charge, so it does not depend on how entries are stored.
constexpr std::uint64_t kEntryOverhead = 32;

// A ring starts the size of the budget, up to this much, and doubles from
// there when the budget is larger: pages of the ring not yet written cost
// nothing, while each doubling copies every entry held.
constexpr std::size_t kFirstRingSize = 4096;
constexpr std::size_t kLargestFirstRing = std::size_t{1} << 20;

// Ring bytes past the newest entry fetched into the cache after each entry:
// about what one message exchange records.
constexpr std::size_t kPrefetchedBytes = 512;

// What the histories of all threads share: the byte budget of each buffer
// and the numbering of buffers. Atomic, as any thread may log.
struct HistoryLogShared {
  std::atomic<std::uint64_t> bufferSize{kHistoryLogDefaultBufferSize};
  std::atomic<int> nextBufferNumber{0};
};
constinit HistoryLogShared gHistoryLog;

// What stands in front of an entry's channel and text bytes in the ring.
struct EntryHeader {
  std::int64_t timeMicros;
  std::uint32_t channelSize;
  std::uint32_t textSize;
};
static_assert(sizeof(EntryHeader) == 16 && sizeof(EntryHeader) <= kEntryOverhead,
              "an entry never stores more bytes than it is charged");

// Entries oldest first in ring[head .. head + used), wrapping at capacity,
// which is always a power of two so that offsets wrap with a mask.
// Because each entry stores fewer bytes than it is charged, a ring the size
// of the budget always holds every entry the budget keeps. sizes[] holds the
// stored size of each entry, the oldest at sizes[sizesHead], wrapping at
// sizesCapacity (a power of two as well).
struct HistoryBuffer {
  int number = gHistoryLog.nextBufferNumber.fetch_add(1);
  std::unique_ptr<char[]> ring;
  std::size_t capacity = 0;
  std::size_t head = 0;
  std::size_t used = 0;
  std::size_t count = 0;
  std::uint64_t bytes = 0;  // charged bytes of the entries held
  std::unique_ptr<std::uint32_t[]> sizes;
  std::size_t sizesCapacity = 0;
  std::size_t sizesHead = 0;
};

HistoryBuffer& ThreadBuffer() {
  thread_local HistoryBuffer buffer;
  return buffer;
}

constexpr std::uint64_t Cost(std::size_t channelSize, std::size_t textSize) {
  return channelSize + textSize + kEntryOverhead;
}

// The charge of an entry from its stored size (header and both texts).
constexpr std::uint64_t CostOfStored(std::size_t stored) {
  return stored - sizeof(EntryHeader) + kEntryOverhead;
}

// The ring position of a byte offset that may have passed its end.
std::size_t Wrap(const HistoryBuffer& buffer, std::size_t offset) {
  return offset & (buffer.capacity - 1);
}

void CopyIn(HistoryBuffer& buffer, std::size_t offset, const void* bytes, std::size_t size) {
  if (size == 0) return;
  const std::size_t at = Wrap(buffer, offset);
  const std::size_t first = size < buffer.capacity - at ? size : buffer.capacity - at;
  std::memcpy(buffer.ring.get() + at, bytes, first);
  if (first < size) {
    std::memcpy(buffer.ring.get(), static_cast<const char*>(bytes) + first, size - first);
  }
}

void CopyOut(const HistoryBuffer& buffer, std::size_t offset, void* bytes, std::size_t size) {
  const std::size_t at = Wrap(buffer, offset);
  const std::size_t first = size < buffer.capacity - at ? size : buffer.capacity - at;
  std::memcpy(bytes, buffer.ring.get() + at, first);
  std::memcpy(static_cast<char*>(bytes) + first, buffer.ring.get(), size - first);
}

EntryHeader HeaderAt(const HistoryBuffer& buffer, std::size_t offset) {
  EntryHeader header;
  const std::size_t at = Wrap(buffer, offset);
  if (at + sizeof header <= buffer.capacity) {
    std::memcpy(&header, buffer.ring.get() + at, sizeof header);  // the usual case, no wrap
  } else {
    CopyOut(buffer, at, &header, sizeof header);
  }
  return header;
}

void DropOldest(HistoryBuffer& buffer) {
  const std::size_t stored = buffer.sizes[buffer.sizesHead];
  buffer.sizesHead = (buffer.sizesHead + 1) & (buffer.sizesCapacity - 1);
  buffer.head = Wrap(buffer, buffer.head + stored);
  buffer.used -= stored;
  buffer.bytes -= CostOfStored(stored);
  --buffer.count;
  if (buffer.count == 0) {
    buffer.head = 0;
    buffer.sizesHead = 0;
  }
}

// Drops the oldest entries until `extra` more charged bytes fit the budget;
// inline, as once the buffer is full every entry drops one or two.
[[gnu::always_inline]] inline void Trim(HistoryBuffer& buffer, std::uint64_t extra) {
  const std::uint64_t budget = gHistoryLog.bufferSize.load();
  while (buffer.count > 0 && buffer.bytes + extra > budget)
    DropOldest(buffer);
}

// Makes room for `size` more stored bytes, moving the entries to the front
// of a larger ring when needed.
void Reserve(HistoryBuffer& buffer, std::size_t size) {
  if (buffer.used + size <= buffer.capacity) return;
  std::size_t capacity = buffer.capacity;
  if (capacity == 0) {
    const std::uint64_t budget = gHistoryLog.bufferSize.load();
    capacity = budget < kLargestFirstRing ? std::bit_ceil(static_cast<std::size_t>(budget))
                                          : kLargestFirstRing;
    if (capacity < kFirstRingSize) capacity = kFirstRingSize;
  }
  while (capacity < buffer.used + size)
    capacity *= 2;
  auto ring = std::make_unique_for_overwrite<char[]>(capacity);
  if (buffer.used > 0) CopyOut(buffer, buffer.head, ring.get(), buffer.used);
  buffer.ring = std::move(ring);
  buffer.capacity = capacity;
  buffer.head = 0;
}

// Appends an entry's stored size, moving the sizes to the front of a larger
// ring when it is full.
void PushSize(HistoryBuffer& buffer, std::size_t stored) {
  if (buffer.count == buffer.sizesCapacity) {
    const std::size_t capacity = buffer.sizesCapacity == 0 ? 256 : 2 * buffer.sizesCapacity;
    auto sizes = std::make_unique_for_overwrite<std::uint32_t[]>(capacity);
    for (std::size_t index = 0; index < buffer.count; ++index) {
      sizes[index] = buffer.sizes[(buffer.sizesHead + index) & (buffer.sizesCapacity - 1)];
    }
    buffer.sizes = std::move(sizes);
    buffer.sizesCapacity = capacity;
    buffer.sizesHead = 0;
  }
  buffer.sizes[(buffer.sizesHead + buffer.count) & (buffer.sizesCapacity - 1)] =
      static_cast<std::uint32_t>(stored);
}

// Calls visit(header, channel, text) for each entry, oldest first; `scratch`
// holds an entry that wraps round the end of the ring.
template <typename Visit>
void ForEachEntry(const HistoryBuffer& buffer, Visit visit) {
  std::string scratch;
  std::size_t offset = buffer.head;
  for (std::size_t index = 0; index < buffer.count; ++index) {
    const EntryHeader header = HeaderAt(buffer, offset);
    const std::size_t size = std::size_t{header.channelSize} + header.textSize;
    const std::size_t at = Wrap(buffer, offset + sizeof header);
    const char* bytes = buffer.ring.get() + at;
    if (at + size > buffer.capacity) {
      scratch.resize(size);
      CopyOut(buffer, at, scratch.data(), size);
      bytes = scratch.data();
    }
    visit(header, std::string_view(bytes, header.channelSize),
          std::string_view(bytes + header.channelSize, header.textSize));
    offset += sizeof header + size;
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

// Copies `size` bytes, at least one Word and at most two, as the first and
// the last Word of the range; where they overlap, bytes are written twice
// with the same value.
template <typename Word>
inline void CopyEnds(char* to, const char* from, std::size_t size) {
  Word head;
  Word last;
  std::memcpy(&head, from, sizeof head);
  std::memcpy(&last, from + size - sizeof last, sizeof last);
  std::memcpy(to, &head, sizeof head);
  std::memcpy(to + size - sizeof last, &last, sizeof last);
}

// Copies the short pieces most entries are made of (channel names, digits,
// separators) with a few word moves instead of a call; longer ones go to
// memcpy.
inline void CopyBytes(char* to, const char* from, std::size_t size) {
  if (size > 16) {
    std::memcpy(to, from, size);
  } else if (size >= 8) {
    CopyEnds<std::uint64_t>(to, from, size);
  } else if (size >= 4) {
    CopyEnds<std::uint32_t>(to, from, size);
  } else if (size > 0) {
    to[0] = from[0];
    to[size / 2] = from[size / 2];
    to[size - 1] = from[size - 1];
  }
}

// Copies `size` bytes of the concatenated parts into the ring from `offset`
// on, wrapping at its end.
void CopyPartsIn(HistoryBuffer& buffer, std::size_t offset, std::span<const std::string_view> parts,
                 std::size_t size) {
  for (const std::string_view part : parts) {
    if (size == 0) return;
    const std::size_t taken = part.size() < size ? part.size() : size;
    CopyIn(buffer, offset, part.data(), taken);
    offset += taken;
    size -= taken;
  }
}

}  // namespace

std::int64_t HistoryLogNowMicros() {
  // The wall clock read once, then the monotonic clock: one cheap reading
  // per stamp, and stamps never run backwards when the wall clock is set.
  const auto monotonicMicros = [] {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1'000;
  };
  static const std::int64_t wallAtZero = [&monotonicMicros] {
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    return std::int64_t{wall.tv_sec} * 1'000'000 + wall.tv_nsec / 1'000 - monotonicMicros();
  }();
  return wallAtZero + monotonicMicros();
}

void HistoryLogTraceParts(std::string_view channel, std::span<const std::string_view> parts,
                          std::int64_t timeMicros) {
  HistoryBuffer& buffer = ThreadBuffer();
  const std::uint64_t budget = gHistoryLog.bufferSize.load();
  std::size_t textSize = 0;
  for (const std::string_view part : parts)
    textSize += part.size();
  // An entry larger than the whole buffer keeps only what fits.
  if (Cost(channel.size(), textSize) > budget) {
    const std::uint64_t room =
        budget > channel.size() + kEntryOverhead ? budget - channel.size() - kEntryOverhead : 0;
    if (textSize > room) textSize = static_cast<std::size_t>(room);
  }
  // Stored sizes, header included, are kept in 32 bits; no message comes
  // near that.
  constexpr std::size_t kLargestTexts = UINT32_MAX - sizeof(EntryHeader);
  if (channel.size() > kLargestTexts) channel = channel.substr(0, kLargestTexts);
  if (textSize > kLargestTexts - channel.size()) textSize = kLargestTexts - channel.size();
  // An entry whose channel alone is over budget leaves nothing behind.
  if (Cost(channel.size(), textSize) > budget) {
    HistoryLogClear();
    return;
  }
  const std::uint64_t cost = Cost(channel.size(), textSize);
  if (buffer.bytes + cost > budget) Trim(buffer, cost);
  const EntryHeader header{timeMicros, static_cast<std::uint32_t>(channel.size()),
                           static_cast<std::uint32_t>(textSize)};
  const std::size_t stored = sizeof header + channel.size() + textSize;
  Reserve(buffer, stored);
  const std::size_t tail = Wrap(buffer, buffer.head + buffer.used);
  if (tail + stored <= buffer.capacity) {
    // The usual case: the entry fits before the end of the ring.
    char* place = buffer.ring.get() + tail;
    std::memcpy(place, &header, sizeof header);
    place += sizeof header;
    CopyBytes(place, channel.data(), channel.size());
    place += channel.size();
    std::size_t left = textSize;
    for (const std::string_view part : parts) {
      const std::size_t taken = part.size() < left ? part.size() : left;
      CopyBytes(place, part.data(), taken);
      place += taken;
      left -= taken;
    }
  } else {
    CopyIn(buffer, tail, &header, sizeof header);
    CopyIn(buffer, tail + sizeof header, channel.data(), channel.size());
    CopyPartsIn(buffer, tail + sizeof header + channel.size(), parts, textSize);
  }
  PushSize(buffer, stored);
  const std::size_t end = tail + stored;  // past the entry, before wrapping
  buffer.used += stored;
  buffer.bytes += cost;
  ++buffer.count;
  // The next entries go where the ring was last written a whole ring ago,
  // long gone from the caches: ask for those lines now, while the process
  // goes on to answer, rather than wait for them at the next entry. Lines
  // the entries before this one asked for already are not asked again.
  constexpr std::size_t kLine = 64;
  const char* ring = buffer.ring.get();
  for (std::size_t line = ((tail + kPrefetchedBytes - 1) / kLine + 1) * kLine;
       line < end + kPrefetchedBytes; line += kLine) {
    __builtin_prefetch(ring + Wrap(buffer, line), 1);
  }
}

void HistoryLogTrace(std::string_view channel, std::string_view text) {
  HistoryLogTraceParts(channel, {&text, 1}, HistoryLogNowMicros());
}

void HistoryLogTraceFormat(std::string_view channel, const char* format, ...) {
  if (format == nullptr) return;
  // Kept per thread, so formatting allocates nothing once it has grown.
  thread_local std::string text;
  text.clear();
  va_list args;
  va_start(args, format);
  (void)RtAppendFormat(&text, format, args);  // a failure records an empty text
  va_end(args);
  HistoryLogTrace(channel, text);
}

void HistoryLogSetBufferSize(std::uint64_t bytes) {
  if (bytes < kHistoryLogMinBufferSize) return;
  gHistoryLog.bufferSize.store(bytes);
  Trim(ThreadBuffer(), 0);
}

std::uint64_t HistoryLogBufferSize() {
  return gHistoryLog.bufferSize.load();
}

int HistoryLogBufferNumber() {
  return ThreadBuffer().number;
}

bool HistoryLogDump(const char* directory) {
  if (directory == nullptr) return false;
  const HistoryBuffer& buffer = ThreadBuffer();
  char path[4096];
  const int length = std::snprintf(path, sizeof path, "%s/%d_%d.rne", directory,
                                   static_cast<int>(::getpid()), buffer.number);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return false;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "w"));
  if (!file) return false;
  ForEachEntry(buffer,
               [&](const EntryHeader& header, std::string_view channel, std::string_view text) {
                 const std::time_t seconds = static_cast<std::time_t>(header.timeMicros / 1000000);
                 std::tm utc{};
                 gmtime_r(&seconds, &utc);
                 char stamp[32];
                 std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
                 std::fprintf(file.get(), "%s.%06lld %.*s: %.*s\n", stamp,
                              static_cast<long long>(header.timeMicros % 1000000),
                              static_cast<int>(channel.size()), channel.data(),
                              static_cast<int>(text.size()), text.data());
               });
  const bool ok = std::fflush(file.get()) == 0 && !std::ferror(file.get());
  return std::fclose(file.release()) == 0 && ok;
}

std::vector<HistoryLogEntry> HistoryLogEntries() {
  const HistoryBuffer& buffer = ThreadBuffer();
  std::vector<HistoryLogEntry> entries;
  entries.reserve(buffer.count);
  ForEachEntry(buffer,
               [&](const EntryHeader& header, std::string_view channel, std::string_view text) {
                 entries.push_back({header.timeMicros, std::string(channel), std::string(text)});
               });
  return entries;
}

void HistoryLogClear() {
  HistoryBuffer& buffer = ThreadBuffer();
  buffer.head = 0;
  buffer.used = 0;
  buffer.count = 0;
  buffer.bytes = 0;
  buffer.sizesHead = 0;
  // The memory goes too: the next ring is made for the budget of then.
  buffer.ring.reset();
  buffer.capacity = 0;
  buffer.sizes.reset();
  buffer.sizesCapacity = 0;
}
