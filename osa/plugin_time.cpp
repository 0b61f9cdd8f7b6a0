// Timing scopes on the "OsaPluginTime" history channel. The scope reads the
// clock when it opens and when it closes, and its one entry is stamped with
// the second reading; the entry's pieces go into the history without being
// put together first.
#include "osa/plugin_time.h"

#include <charconv>
#include <cstdarg>
#include <cstring>

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

}  // namespace

OsaTimingScope::OsaTimingScope(const char* format, ...)
    : depth_(++OsaProcess().timingDepth), startMicros_(HistoryLogNowMicros()) {
  // These labels belong to the rarer requests: they are formatted straight
  // into the scope's own text.
  std::va_list args;
  va_start(args, format);
  (void)RtAppendFormat(&longLabel_, format, args);  // a label that cannot be made stays empty
  va_end(args);
}

OsaTimingScope::OsaTimingScope(const OsaTimingLabel& label)
    : depth_(++OsaProcess().timingDepth), startMicros_(HistoryLogNowMicros()) {
  KeepLabel(label);
}

void OsaTimingScope::KeepLabel(const OsaTimingLabel& label) {
  const std::size_t size = label.head.size() + label.body.size() + label.tail.size();
  if (size > shortLabel_.size()) {
    longLabel_.reserve(size);
    longLabel_.append(label.head).append(label.body).append(label.tail);
    return;
  }
  char* place = shortLabel_.data();
  for (const std::string_view piece : {label.head, label.body, label.tail}) {
    if (!piece.empty()) std::memcpy(place, piece.data(), piece.size());
    place += piece.size();
  }
  labelSize_ = size;
}

std::string_view OsaTimingScope::Label() const {
  if (!longLabel_.empty()) return longLabel_;
  return std::string_view(shortLabel_.data(), labelSize_);
}

OsaTimingScope::~OsaTimingScope() {
  const std::int64_t now = HistoryLogNowMicros();
  Digits depth;
  Digits micros;
  const std::array<std::string_view, 6> parts = {"depth ", DecimalText(depth, depth_),
                                                 ", ",     DecimalText(micros, now - startMicros_),
                                                 " us: ",  Label()};
  HistoryLogTraceParts(kChannel, parts, now);
  --OsaProcess().timingDepth;
}

std::uint32_t OsaPluginTimeDepth() {
  return OsaProcess().timingDepth;
}
