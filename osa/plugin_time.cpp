// Timing scopes on the "OsaPluginTime" history channel.
#include "osa/plugin_time.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "runtime/history_log.h"
#include "runtime/text_format.h"

namespace {

constexpr const char* kChannel = "OsaPluginTime";

// Scopes nest with the service requests made from nested debugger requests.
std::uint32_t g_depth = 0;

}  // namespace

OsaTimingScope::OsaTimingScope(const char* format, ...)
    : depth_(++g_depth), start_(std::chrono::steady_clock::now()) {
  std::va_list args;
  va_start(args, format);
  std::string label;
  RtFormatText(&label, format, args);
  va_end(args);
  HistoryLogTraceFormat(kChannel, "begin depth %u: %s", depth_, label.c_str());
}

OsaTimingScope::~OsaTimingScope() {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start_)
                          .count();
  HistoryLogTraceFormat(kChannel, "end depth %u: %lld us", depth_, static_cast<long long>(micros));
  --g_depth;
}

std::uint32_t OsaPluginTimeDepth() {
  return g_depth;
}
