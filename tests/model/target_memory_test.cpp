// Tests of the sparse target memory and the register file.
#include "model/target_memory.h"
#include "model/register_file.h"

#include <gtest/gtest.h>

#include <cstring>

namespace model {
namespace {

TEST(TargetMemory, ReadsAndWritesOnlyMappedBytes) {
  TargetMemory memory;
  ASSERT_TRUE(MemoryMap(&memory, 0x1000, 16));
  ASSERT_TRUE(MemoryMap(&memory, 0x1010, 16));  // adjacent: reads may span both
  EXPECT_FALSE(MemoryMap(&memory, 0x1008, 4));  // overlaps
  EXPECT_FALSE(MemoryMap(&memory, 0xFFFFFFF0, 0x20));

  const uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_TRUE(MemoryWrite(&memory, 0x100E, 4, data));
  uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_TRUE(MemoryRead(memory, 0x100E, 4, out));
  EXPECT_EQ(0, memcmp(out, data, 4));

  uint8_t untouched[4] = {7, 7, 7, 7};
  EXPECT_FALSE(MemoryRead(memory, 0x101E, 4, untouched));  // last two bytes unmapped
  EXPECT_EQ(7, untouched[0]);
  EXPECT_FALSE(MemoryWrite(&memory, 0x0FFF, 2, data));
  EXPECT_FALSE(MemoryRead(memory, uint64_t{1} << 32, 1, out));
  uint8_t first = 0;
  ASSERT_TRUE(MemoryRead(memory, 0x1000, 1, &first));
  EXPECT_EQ(0, first);  // the failed write stored nothing
}

TEST(TargetMemory, TypedValuesFollowTheByteOrder) {
  for (bool bigEndian : {false, true}) {
    TargetMemory memory;
    memory.bigEndian = bigEndian;
    ASSERT_TRUE(MemoryMap(&memory, 0, 8));
    ASSERT_TRUE(MemoryWriteValue(&memory, 0, 4, 0x11223344));
    uint8_t bytes[4] = {};
    ASSERT_TRUE(MemoryRead(memory, 0, 4, bytes));
    EXPECT_EQ(bigEndian ? 0x11 : 0x44, bytes[0]);
    uint64_t value = 0;
    ASSERT_TRUE(MemoryReadValue(memory, 0, 4, &value));
    EXPECT_EQ(0x11223344u, value);
    EXPECT_FALSE(MemoryReadValue(memory, 6, 4, &value));
  }
}

TEST(RegisterFile, DoubleRegistersAliasSinglePairs) {
  RegisterFile file;
  ASSERT_TRUE(RegisterWrite(&file, kRegD0 + 1, 0x1111111122222222));
  uint64_t value = 0;
  ASSERT_TRUE(RegisterRead(file, kRegS0 + 2, &value));
  EXPECT_EQ(0x22222222u, value);
  ASSERT_TRUE(RegisterRead(file, kRegS0 + 3, &value));
  EXPECT_EQ(0x11111111u, value);
  ASSERT_TRUE(RegisterWrite(&file, kRegSp, 0x80000010));
  ASSERT_TRUE(RegisterRead(file, kRegSpBit31, &value));
  EXPECT_EQ(1u, value);
  EXPECT_FALSE(RegisterWrite(&file, kRegSpBit31, 0));
  EXPECT_FALSE(RegisterRead(file, kRegisterCount, &value));
  EXPECT_STREQ("xpsr", RegisterName(kRegXpsr));
}

}  // namespace
}  // namespace model
