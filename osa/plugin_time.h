// Timing scopes on the "OsaPluginTime" history channel: when a scope
// closes it leaves one entry with its nesting depth, its duration in
// microseconds and its label. While it is open, the request it waits on is
// in the history already (on "OSA__JSON__Write"), so a scope that never
// closes still shows what it waited for.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
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
  void KeepLabel(const OsaTimingLabel& label);
  std::string_view Label() const;

  std::uint32_t depth_;
  std::int64_t startMicros_;
  // The label is copied at once, as the texts it is made from may be reused
  // by scopes nested in this one: in place when it is short, as the labels of
  // the frequent requests are, else (and when formatted) in longLabel_.
  std::array<char, 120> shortLabel_;
  std::size_t labelSize_ = 0;
  std::string longLabel_;
};

// Current nesting depth of open scopes.
std::uint32_t OsaPluginTimeDepth();
