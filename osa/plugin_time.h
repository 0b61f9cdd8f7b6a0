// Timing scopes on the "OsaPluginTime" history channel: a labelled begin
// event with the nesting depth, and an end event with the depth and the
// duration in microseconds.
#pragma once

#include <cstdint>
#include <string_view>

// A label already put together, in up to three pieces written one after
// the other, for the scopes opened for nearly every attribute.
struct OsaTimingLabel {
  std::string_view head;
  std::string_view body = {};
  std::string_view tail = {};
};

class OsaTimingScope {
 public:
  explicit OsaTimingScope(const char* format, ...) __attribute__((format(printf, 2, 3)));
  explicit OsaTimingScope(const OsaTimingLabel& label);
  ~OsaTimingScope();
  OsaTimingScope(const OsaTimingScope&) = delete;
  OsaTimingScope& operator=(const OsaTimingScope&) = delete;

 private:
  std::uint32_t depth_;
  std::int64_t startMicros_;  // the begin event's time stamp
};

// Current nesting depth of open scopes.
std::uint32_t OsaPluginTimeDepth();
