// Timing scopes on the "OsaPluginTime" history channel. Each event is one
// clock reading, which stamps the entry and times the scope, and its pieces
// go into the history without being put together first.
#include "osa/plugin_time.h"

#include <array>
#include <charconv>
#include <cstdarg>
#include <string>
#include <string_view>

#include "osa/process_state.h"
#include "runtime/history_log.h"
#include "runtime/text_format.h"

namespace {

constexpr std::string_view kChannel = "OsaPluginTime";

// Room for the decimal digits of any 64-bit integer and its sign.
using Digits = std::array<char, 24>;

std::string_view DecimalText(Digits& digits, std::int64_t value) {
  const char* const end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  return std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data()));
}

// Records "begin depth N: " and the label's pieces, stamped `now`.
void TraceBegin(std::uint32_t depth, std::int64_t now, std::string_view head,
                std::string_view body = {}, std::string_view tail = {}) {
  Digits digits;
  const std::array<std::string_view, 6> parts = {
      "begin depth ", DecimalText(digits, depth), ": ", head, body, tail};
  HistoryLogTraceParts(kChannel, parts, now);
}

}  // namespace

// The label is formatted once into a reused text; the entry's other pieces
// go into the history as they are.
OsaTimingScope::OsaTimingScope(const char* format, ...)
    : depth_(++OsaProcess().timingDepth), startMicros_(HistoryLogNowMicros()) {
  thread_local std::string label;
  label.clear();
  std::va_list args;
  va_start(args, format);
  (void)RtAppendFormat(&label, format, args);  // a label that cannot be made stays empty
  va_end(args);
  TraceBegin(depth_, startMicros_, label);
}

OsaTimingScope::OsaTimingScope(const OsaTimingLabel& label)
    : depth_(++OsaProcess().timingDepth), startMicros_(HistoryLogNowMicros()) {
  TraceBegin(depth_, startMicros_, label.head, label.body, label.tail);
}

OsaTimingScope::~OsaTimingScope() {
  const std::int64_t now = HistoryLogNowMicros();
  Digits depth;
  Digits micros;
  const std::array<std::string_view, 5> parts = {"end depth ", DecimalText(depth, depth_), ": ",
                                                 DecimalText(micros, now - startMicros_), " us"};
  HistoryLogTraceParts(kChannel, parts, now);
  --OsaProcess().timingDepth;
}

std::uint32_t OsaPluginTimeDepth() {
  return OsaProcess().timingDepth;
}
