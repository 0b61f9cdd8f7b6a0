// Allocation: zeroed blocks, and the fatal report when memory runs out.
#include "runtime/allocation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

TEST(Allocation, BlocksAreZeroFilled) {
  std::unique_ptr<unsigned char, RtFreeDeleter> block(static_cast<unsigned char*>(RtAlloc(64)));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i)
    EXPECT_EQ(block.get()[i], 0);
}

TEST(Allocation, ZeroSizeGivesABlock) {
  std::unique_ptr<void, RtFreeDeleter> block(RtAlloc(0));
  EXPECT_NE(block, nullptr);
}

TEST(AllocationDeathTest, OutOfMemoryReportsSizeAndExitsWith3) {
  EXPECT_EXIT(RtOutOfMemory(0x1234), testing::ExitedWithCode(3),
              "fatal: Out of memory \\(0x0000000000001234 bytes requested\\)\n");
}

TEST(AllocationDeathTest, OperatorNewFollowsTheSameRule) {
  // More than the address space can hold: malloc fails at once.
  const std::size_t huge = std::numeric_limits<std::size_t>::max() / 2;
  EXPECT_EXIT(
      {
        std::vector<char> v;
        v.reserve(huge);
      },
      testing::ExitedWithCode(3), "fatal: Out of memory \\(0x7FFFFFFFFFFFFFFF bytes requested\\)");
}

}  // namespace
