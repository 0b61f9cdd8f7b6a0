// The history log: per-thread in-memory buffers of time-stamped entries.
#include "runtime/history_log.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>

#include "runtime/text_format.h"

namespace {

// Bookkeeping bytes charged per entry on top of its two texts.
constexpr std::uint64_t kEntryOverhead = 32;

std::atomic<std::uint64_t> gBufferSize{kHistoryLogDefaultBufferSize};
std::atomic<int> gNextBufferNumber{0};

struct HistoryBuffer {
  int number = gNextBufferNumber.fetch_add(1);
  std::deque<HistoryLogEntry> entries;
  std::uint64_t bytes = 0;
};

HistoryBuffer& ThreadBuffer() {
  thread_local HistoryBuffer buffer;
  return buffer;
}

std::uint64_t Cost(const HistoryLogEntry& entry) {
  return entry.channel.size() + entry.text.size() + kEntryOverhead;
}

void Trim(HistoryBuffer& buffer) {
  const std::uint64_t budget = gBufferSize.load();
  while (buffer.bytes > budget && !buffer.entries.empty()) {
    buffer.bytes -= Cost(buffer.entries.front());
    buffer.entries.pop_front();
  }
}

std::int64_t NowMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

}  // namespace

void HistoryLogTrace(std::string_view channel, std::string_view text) {
  HistoryBuffer& buffer = ThreadBuffer();
  const std::uint64_t budget = gBufferSize.load();
  // An entry larger than the whole buffer keeps only what fits.
  if (text.size() + channel.size() + kEntryOverhead > budget) {
    const std::uint64_t room =
        budget > channel.size() + kEntryOverhead ? budget - channel.size() - kEntryOverhead : 0;
    text = text.substr(0, room);
  }
  HistoryLogEntry entry{NowMicros(), std::string(channel), std::string(text)};
  buffer.bytes += Cost(entry);
  buffer.entries.push_back(std::move(entry));
  Trim(buffer);
}

void HistoryLogTraceFormat(std::string_view channel, const char* format, ...) {
  if (format == nullptr) return;
  va_list args;
  va_start(args, format);
  std::string text;
  RtFormatText(&text, format, args);
  va_end(args);
  HistoryLogTrace(channel, text);
}

void HistoryLogSetBufferSize(std::uint64_t bytes) {
  if (bytes < kHistoryLogMinBufferSize) return;
  gBufferSize.store(bytes);
  Trim(ThreadBuffer());
}

std::uint64_t HistoryLogBufferSize() {
  return gBufferSize.load();
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
  for (const HistoryLogEntry& entry : buffer.entries) {
    const std::time_t seconds = static_cast<std::time_t>(entry.timeMicros / 1000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
    std::fprintf(file.get(), "%s.%06lld %.*s: %.*s\n", stamp,
                 static_cast<long long>(entry.timeMicros % 1000000),
                 static_cast<int>(entry.channel.size()), entry.channel.data(),
                 static_cast<int>(entry.text.size()), entry.text.data());
  }
  const bool ok = std::fflush(file.get()) == 0 && !std::ferror(file.get());
  return std::fclose(file.release()) == 0 && ok;
}

std::vector<HistoryLogEntry> HistoryLogEntries() {
  const HistoryBuffer& buffer = ThreadBuffer();
  return {buffer.entries.begin(), buffer.entries.end()};
}

void HistoryLogClear() {
  HistoryBuffer& buffer = ThreadBuffer();
  buffer.entries.clear();
  buffer.bytes = 0;
}
