// Tests of the sparse target memory and the register file.
#include "model/target_memory.h"
#include "model/register_file.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <utility>
#include <vector>

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
  EXPECT_TRUE(MemoryRead(memory, 0x101C, 4, out));  // up to the last mapped byte

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

// A backing stands for a live target: it gets what the regions do not wholly
// cover, and d registers reach it as two single-register accesses.
struct FakeLiveTarget {
  std::vector<std::pair<uint64_t, uint64_t>> reads;  // address, count
  std::array<uint32_t, kRegFpscr + 1> registers{};
};

TEST(TargetBacking, TakesWhatTheModelDoesNotHold) {
  FakeLiveTarget live;
  TargetMemory memory;
  ASSERT_TRUE(MemoryMap(&memory, 0x1000, 4));
  memory.backing.context = &live;
  memory.backing.read = [](void* context, uint64_t address, uint64_t count, uint8_t* out) {
    static_cast<FakeLiveTarget*>(context)->reads.emplace_back(address, count);
    std::memset(out, 0xAB, count);
    return address < 0x2000;
  };
  uint8_t out[8] = {};
  EXPECT_TRUE(MemoryRead(memory, 0x1000, 4, out));  // mapped: no backing read
  EXPECT_TRUE(MemoryRead(memory, 0x1002, 4, out));  // partly mapped
  EXPECT_FALSE(MemoryRead(memory, 0x3000, 4, out));
  EXPECT_FALSE(MemoryWrite(&memory, 0x1002, 4, out));  // no write function
  const std::vector<std::pair<uint64_t, uint64_t>> expected = {{0x1002, 4}, {0x3000, 4}};
  EXPECT_EQ(expected, live.reads);

  RegisterFile file;
  file.backing.context = &live;
  file.backing.read = [](void* context, uint32_t number, uint32_t* value) {
    *value = static_cast<FakeLiveTarget*>(context)->registers[number];
    return true;
  };
  file.backing.write = [](void* context, uint32_t number, uint32_t value) {
    static_cast<FakeLiveTarget*>(context)->registers[number] = value;
    return true;
  };
  ASSERT_TRUE(RegisterWrite(&file, kRegD0 + 1, 0x1111111122222222));
  EXPECT_EQ(0x22222222u, live.registers[kRegS0 + 2]);
  EXPECT_EQ(0x11111111u, live.registers[kRegS0 + 3]);
  EXPECT_EQ(0u, file.values[kRegS0 + 2]);
  live.registers[kRegSp] = 0x80000000;
  uint64_t value = 0;
  ASSERT_TRUE(RegisterRead(file, kRegSpBit31, &value));
  EXPECT_EQ(1u, value);
}

}  // namespace
}  // namespace model
