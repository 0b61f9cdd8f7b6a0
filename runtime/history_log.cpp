// The history log: per-thread in-memory rings of time-stamped entries. An
// entry is stored as a small header and its two texts in one byte ring, so
// recording costs a copy of the texts and no allocation once the rings have
// grown to the size the budget lets them reach. A second, dense ring holds
// each entry's stored size: dropping the oldest entry reads that, not the
// header written a whole byte ring ago and long gone from the caches.
// Channels are a handful of fixed names: each thread keeps a table of them
// and an entry stores its channel's number there, not the name.
#include "runtime/history_log.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "runtime/text_format.h"

namespace {

// Bookkeeping bytes charged per entry on top of its two texts. The budget
// counts this charge, so it does not depend on how entries are stored.
constexpr std::uint64_t kEntryOverhead = 32;

// A ring starts this small and doubles up to what the budget needs.
constexpr std::size_t kFirstRingSize = 4096;

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

// Names up to this size go into a thread's channel table, which holds at
// most kChannelTableSize of them; any other channel is stored in the entry.
constexpr std::size_t kTabledChannelSize = 64;
constexpr std::size_t kChannelTableSize = 64;

// Set in EntryHeader::channel when the name follows the header, its size
// in the other bits; clear when the rest is a number in the channel table.
constexpr std::uint32_t kInlineChannel = 0x80000000u;

// What stands in front of an entry's text (and stored channel name) in the
// ring.
struct EntryHeader {
  std::int64_t timeMicros;
  std::uint32_t channel;
  std::uint32_t textSize;
};
static_assert(sizeof(EntryHeader) == 16 && sizeof(EntryHeader) <= kEntryOverhead,
              "an entry never stores more bytes than it is charged");

// Entries oldest first in ring[head .. head + used), wrapping at capacity,
// which is always a power of two so that offsets wrap with a mask.
// Because each entry stores fewer bytes than it is charged, a ring the size
// of the budget always holds every entry the budget keeps. sizes[] holds the
// stored and charged sizes of each entry, the oldest at sizes[sizesHead],
// wrapping at sizesCapacity (a power of two as well).
struct EntrySize {
  std::uint32_t stored;
  std::uint32_t charged;
};

struct HistoryBuffer {
  int number = gHistoryLog.nextBufferNumber.fetch_add(1);
  std::unique_ptr<char[]> ring;
  std::size_t capacity = 0;
  std::size_t head = 0;
  std::size_t used = 0;
  std::size_t count = 0;
  std::uint64_t bytes = 0;  // charged bytes of the entries held
  std::unique_ptr<EntrySize[]> sizes;
  std::size_t sizesCapacity = 0;
  std::size_t sizesHead = 0;
  std::vector<std::string> channels;  // the channel table, by number
};

HistoryBuffer& ThreadBuffer() {
  thread_local HistoryBuffer buffer;
  return buffer;
}

constexpr std::uint64_t Cost(std::size_t channelSize, std::size_t textSize) {
  return channelSize + textSize + kEntryOverhead;
}

// The header's channel field for `channel`: its number in the table, added
// there when there is room, or the inline mark and its size.
std::uint32_t ChannelField(HistoryBuffer& buffer, std::string_view channel) {
  if (channel.size() <= kTabledChannelSize) {
    for (std::size_t index = 0; index < buffer.channels.size(); ++index) {
      if (buffer.channels[index] == channel) return static_cast<std::uint32_t>(index);
    }
    if (buffer.channels.size() < kChannelTableSize) {
      buffer.channels.emplace_back(channel);
      return static_cast<std::uint32_t>(buffer.channels.size() - 1);
    }
  }
  return kInlineChannel | static_cast<std::uint32_t>(channel.size());
}

// The bytes of the channel name stored in the entry.
constexpr std::size_t InlineChannelSize(std::uint32_t field) {
  return (field & kInlineChannel) != 0 ? field & ~kInlineChannel : 0;
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
  const EntrySize size = buffer.sizes[buffer.sizesHead];
  buffer.sizesHead = (buffer.sizesHead + 1) & (buffer.sizesCapacity - 1);
  buffer.head = Wrap(buffer, buffer.head + size.stored);
  buffer.used -= size.stored;
  buffer.bytes -= size.charged;
  --buffer.count;
  if (buffer.count == 0) {
    buffer.head = 0;
    buffer.sizesHead = 0;
  }
}

// Drops the oldest entries until `extra` more charged bytes fit the budget.
void Trim(HistoryBuffer& buffer, std::uint64_t extra) {
  const std::uint64_t budget = gHistoryLog.bufferSize.load();
  while (buffer.count > 0 && buffer.bytes + extra > budget)
    DropOldest(buffer);
}

// Makes room for `size` more stored bytes, moving the entries to the front
// of a larger ring when needed.
void Reserve(HistoryBuffer& buffer, std::size_t size) {
  if (buffer.used + size <= buffer.capacity) return;
  std::size_t capacity = buffer.capacity == 0 ? kFirstRingSize : buffer.capacity;
  while (capacity < buffer.used + size)
    capacity *= 2;
  auto ring = std::make_unique_for_overwrite<char[]>(capacity);
  if (buffer.used > 0) CopyOut(buffer, buffer.head, ring.get(), buffer.used);
  buffer.ring = std::move(ring);
  buffer.capacity = capacity;
  buffer.head = 0;
}

// Appends an entry's sizes, moving them to the front of a larger ring when
// it is full.
void PushSize(HistoryBuffer& buffer, EntrySize size) {
  if (buffer.count == buffer.sizesCapacity) {
    const std::size_t capacity = buffer.sizesCapacity == 0 ? 256 : 2 * buffer.sizesCapacity;
    auto sizes = std::make_unique_for_overwrite<EntrySize[]>(capacity);
    for (std::size_t index = 0; index < buffer.count; ++index) {
      sizes[index] = buffer.sizes[(buffer.sizesHead + index) & (buffer.sizesCapacity - 1)];
    }
    buffer.sizes = std::move(sizes);
    buffer.sizesCapacity = capacity;
    buffer.sizesHead = 0;
  }
  buffer.sizes[(buffer.sizesHead + buffer.count) & (buffer.sizesCapacity - 1)] = size;
}

std::int64_t NowMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// Calls visit(header, channel, text) for each entry, oldest first; `scratch`
// holds an entry that wraps round the end of the ring.
template <typename Visit>
void ForEachEntry(const HistoryBuffer& buffer, Visit visit) {
  std::string scratch;
  std::size_t offset = buffer.head;
  for (std::size_t index = 0; index < buffer.count; ++index) {
    const EntryHeader header = HeaderAt(buffer, offset);
    const std::size_t channelSize = InlineChannelSize(header.channel);
    const std::size_t size = channelSize + header.textSize;
    const std::size_t at = Wrap(buffer, offset + sizeof header);
    const char* bytes = buffer.ring.get() + at;
    if (at + size > buffer.capacity) {
      scratch.resize(size);
      CopyOut(buffer, at, scratch.data(), size);
      bytes = scratch.data();
    }
    const std::string_view channel = (header.channel & kInlineChannel) != 0
                                         ? std::string_view(bytes, channelSize)
                                         : std::string_view(buffer.channels[header.channel]);
    visit(header, channel, std::string_view(bytes + channelSize, header.textSize));
    offset += sizeof header + size;
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

}  // namespace

void HistoryLogTrace(std::string_view channel, std::string_view text) {
  HistoryBuffer& buffer = ThreadBuffer();
  const std::uint64_t budget = gHistoryLog.bufferSize.load();
  // An entry larger than the whole buffer keeps only what fits.
  if (Cost(channel.size(), text.size()) > budget) {
    const std::uint64_t room =
        budget > channel.size() + kEntryOverhead ? budget - channel.size() - kEntryOverhead : 0;
    text = text.substr(0, room);
  }
  // Stored and charged sizes are kept in 32 bits, and a stored channel's
  // size in 31; no message comes near that.
  constexpr std::size_t kLargestTexts = UINT32_MAX - kEntryOverhead;
  if (channel.size() >= kInlineChannel) channel = channel.substr(0, kInlineChannel - 1);
  if (text.size() > kLargestTexts - channel.size()) {
    text = text.substr(0, kLargestTexts - channel.size());
  }
  // An entry whose channel alone is over budget leaves nothing behind.
  if (Cost(channel.size(), text.size()) > budget) {
    HistoryLogClear();
    return;
  }
  const std::uint64_t charged = Cost(channel.size(), text.size());
  Trim(buffer, charged);
  const EntryHeader header{NowMicros(), ChannelField(buffer, channel),
                           static_cast<std::uint32_t>(text.size())};
  channel = channel.substr(0, InlineChannelSize(header.channel));
  const std::size_t stored = sizeof header + channel.size() + text.size();
  Reserve(buffer, stored);
  const std::size_t tail = Wrap(buffer, buffer.head + buffer.used);
  if (tail + stored <= buffer.capacity) {
    // The usual case: the entry fits before the end of the ring.
    char* place = buffer.ring.get() + tail;
    std::memcpy(place, &header, sizeof header);
    // Empty views may hold no pointer at all, which memcpy must not see.
    if (!channel.empty()) std::memcpy(place + sizeof header, channel.data(), channel.size());
    if (!text.empty())
      std::memcpy(place + sizeof header + channel.size(), text.data(), text.size());
  } else {
    CopyIn(buffer, tail, &header, sizeof header);
    CopyIn(buffer, tail + sizeof header, channel.data(), channel.size());
    CopyIn(buffer, tail + sizeof header + channel.size(), text.data(), text.size());
  }
  PushSize(buffer,
           EntrySize{static_cast<std::uint32_t>(stored), static_cast<std::uint32_t>(charged)});
  buffer.used += stored;
  buffer.bytes += charged;
  ++buffer.count;
  // The next entries go where the ring was last written a whole ring ago,
  // long gone from the caches: ask for those lines now, while the process
  // goes on to answer, rather than wait for them at the next entry.
  const std::size_t next = Wrap(buffer, buffer.head + buffer.used);
  for (std::size_t ahead = 0; ahead < kPrefetchedBytes; ahead += 64) {
    __builtin_prefetch(buffer.ring.get() + Wrap(buffer, next + ahead), 1);
  }
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
  buffer.channels.clear();
}
