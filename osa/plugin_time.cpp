// Timing scopes on the "OsaPluginTime" history channel. The entries are put
// together in a reused text without printf for the parts the scope adds.
#include "osa/plugin_time.h"

#include <cstdarg>
#include <string>

#include "osa/process_state.h"
#include "runtime/history_log.h"
#include "runtime/text_format.h"

namespace {

constexpr const char* kChannel = "OsaPluginTime";

// The entry being put together; each is recorded before the next is begun.
std::string& EntryText() {
  thread_local std::string text;
  text.clear();
  return text;
}

}  // namespace

OsaTimingScope::OsaTimingScope(const char* format, ...)
    : depth_(++OsaProcess().timingDepth), start_(std::chrono::steady_clock::now()) {
  std::string& text = EntryText();
  text.append("begin depth ");
  RtAppendInteger(&text, depth_);
  text.append(": ");
  std::va_list args;
  va_start(args, format);
  (void)RtAppendFormat(&text, format, args);  // a label that cannot be made stays empty
  va_end(args);
  HistoryLogTrace(kChannel, text);
}

OsaTimingScope::OsaTimingScope(const OsaTimingLabel& label)
    : depth_(++OsaProcess().timingDepth), start_(std::chrono::steady_clock::now()) {
  std::string& text = EntryText();
  text.append("begin depth ");
  RtAppendInteger(&text, depth_);
  text.append(": ");
  text.append(label.head);
  text.append(label.body);
  text.append(label.tail);
  HistoryLogTrace(kChannel, text);
}

OsaTimingScope::~OsaTimingScope() {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start_)
                          .count();
  std::string& text = EntryText();
  text.append("end depth ");
  RtAppendInteger(&text, depth_);
  text.append(": ");
  RtAppendInteger(&text, static_cast<long long>(micros));
  text.append(" us");
  HistoryLogTrace(kChannel, text);
  --OsaProcess().timingDepth;
}

std::uint32_t OsaPluginTimeDepth() {
  return OsaProcess().timingDepth;
}
