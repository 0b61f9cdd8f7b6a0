// Formatting: the directly formatted conversions give printf's text byte
// for byte, and patterns beyond them still come out as printf makes them.
#include "runtime/text_format.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::string Formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Formatted(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = "unchanged";
  EXPECT_TRUE(RtFormatText(&text, format, args));
  va_end(args);
  return text;
}

std::string Printed(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printed(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  char text[4096];
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return std::string(text, static_cast<std::size_t>(length));
}

// A null text the compiler cannot see through.
[[gnu::noinline]] const char* NoText() {
  return nullptr;
}

#define EXPECT_AS_PRINTF(...) EXPECT_EQ(Formatted(__VA_ARGS__), Printed(__VA_ARGS__))

TEST(RtFormatText, DirectConversionsMatchPrintf) {
  EXPECT_AS_PRINTF("plain text");
  EXPECT_AS_PRINTF("%s", "");
  EXPECT_AS_PRINTF("&((%s *)%u)->%s", "QX_TASK", 0u, "core");
  EXPECT_EQ(Formatted("%s|%s", NoText(), "b"), "(null)|b");  // as glibc's printf
  EXPECT_AS_PRINTF("%d %d %d %i", 0, -1, INT_MIN, INT_MAX);
  EXPECT_AS_PRINTF("%u %x %X", UINT_MAX, 0xabcdefu, 0xabcdefu);
  // Narrow conversions of wider ints are the point here: printf truncates them.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat"
#endif
  EXPECT_AS_PRINTF("%hhd %hhu %hd %hu %hhx", -129, 300, 70000, 70000, 0x1ff);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
  EXPECT_AS_PRINTF("%ld %lu %lx", LONG_MIN, ULONG_MAX, ULONG_MAX);
  EXPECT_AS_PRINTF("%lld %llu %llX", LLONG_MIN, ULLONG_MAX, ULLONG_MAX);
  EXPECT_AS_PRINTF("%zu %zd %zx", SIZE_MAX, static_cast<std::ptrdiff_t>(-5), std::size_t{255});
  EXPECT_AS_PRINTF("%jd %ju %td", INTMAX_MIN, UINTMAX_MAX, static_cast<std::ptrdiff_t>(-7));
  EXPECT_AS_PRINTF("MemRead(0x%" PRIx64 ", count %" PRId64 ", size %" PRId64 ")",
                   std::uint64_t{0x20000000}, std::int64_t{-2}, std::int64_t{4});
  EXPECT_AS_PRINTF("100%% %c%c", 'o', 'k');
  EXPECT_EQ(Formatted("%c|", 0), std::string("\0|", 2));
}

TEST(RtFormatText, OtherPatternsGoThroughPrintf) {
  EXPECT_AS_PRINTF("%5d|%-4s|%04x|%+d|% d", 42, "ab", 0x1fu, 7, 7);
  EXPECT_AS_PRINTF("%.3s|%.*s", "abcdef", 2, "xyz");
  EXPECT_AS_PRINTF("%o %e %g %p", 8u, 1.5, 0.25, static_cast<void*>(nullptr));
  EXPECT_AS_PRINTF("%s then %08.3f", "mixed", 3.14159);
  const std::string longText(1000, 'q');
  EXPECT_AS_PRINTF("%10s%s", "w", longText.c_str());
}

bool AppendTo(std::string* text, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool AppendTo(std::string* text, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const bool made = RtAppendFormat(text, format, args);
  va_end(args);
  return made;
}

TEST(RtAppendFormat, AppendsBehindWhatTheTextHolds) {
  std::string text = "head:";
  EXPECT_TRUE(AppendTo(&text, "%d,%s", 5, "x"));
  EXPECT_TRUE(AppendTo(&text, "|%3d", 7));
  EXPECT_EQ(text, "head:5,x|  7");
}

}  // namespace
