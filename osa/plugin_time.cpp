// Timing scopes on the "OsaPluginTime" history channel.
#include "osa/plugin_time.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "runtime/history_log.h"

namespace {

constexpr const char* kChannel = "OsaPluginTime";

// Scopes nest with the service requests made from nested debugger requests.
std::uint32_t g_depth = 0;

__attribute__((format(printf, 1, 0))) std::string FormatLabel(const char* format,
                                                              std::va_list args) {
  if (format == nullptr) return {};
  std::va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return {};
  std::string label(static_cast<std::size_t>(length), '\0');
  std::vsnprintf(label.data(), label.size() + 1, format, args);
  return label;
}

}  // namespace

OsaTimingScope::OsaTimingScope(const char* format, ...)
    : depth_(++g_depth), start_(std::chrono::steady_clock::now()) {
  std::va_list args;
  va_start(args, format);
  const std::string label = FormatLabel(format, args);
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
