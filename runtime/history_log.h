// The history log: an in-memory account of what the process does, kept per
// thread on named channels with time stamps, that can be dumped to a file on
// request. It never writes to stdout or stderr.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Buffer sizes below this are ignored by HistoryLogSetBufferSize.
inline constexpr std::uint64_t kHistoryLogMinBufferSize = 16656;
// The size each thread's buffer starts with.
inline constexpr std::uint64_t kHistoryLogDefaultBufferSize = 1u << 20;

struct HistoryLogEntry {
  std::int64_t timeMicros;  // wall-clock time stamp, microseconds since the epoch
  std::string channel;
  std::string text;
};

// Records `text` on `channel` in the calling thread's history.
void HistoryLogTrace(std::string_view channel, std::string_view text);

// The time stamp an entry made now gets: microseconds since the epoch, by
// the wall clock at the first stamp and a steady clock since, so stamps of
// one process never go backwards.
std::int64_t HistoryLogNowMicros();

// Records the concatenation of `parts` on `channel`, stamped `timeMicros`
// (from HistoryLogNowMicros), without putting the text together first.
void HistoryLogTraceParts(std::string_view channel, std::span<const std::string_view> parts,
                          std::int64_t timeMicros);

// Records a printf-formatted text on `channel`.
void HistoryLogTraceFormat(std::string_view channel, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Sets the byte budget of every history buffer; the oldest entries are
// dropped first when a buffer is over budget. Sizes below
// kHistoryLogMinBufferSize are ignored.
void HistoryLogSetBufferSize(std::uint64_t bytes);
std::uint64_t HistoryLogBufferSize();

// The number of the calling thread's history buffer (0 for the first thread
// that logs, then 1, 2, ...).
int HistoryLogBufferNumber();

// Writes the calling thread's history into "<directory>/<pid>_<buffer>.rne",
// oldest entry first. False when the file cannot be written.
bool HistoryLogDump(const char* directory);

// The calling thread's history, oldest entry first.
std::vector<HistoryLogEntry> HistoryLogEntries();

// Forgets the calling thread's history (tests start from an empty log).
void HistoryLogClear();
