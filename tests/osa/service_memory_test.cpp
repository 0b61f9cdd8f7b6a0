// Memory service wrappers: the hex text of the data, its length and digits,
// per-element byte swapping, and the refusal of absurd sizes.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <utility>

#include "osa/service_requests.h"
#include "tests/osa/service_script.h"

namespace service_test {
namespace {

using Bytes = std::array<std::uint8_t, 8>;
constexpr Bytes kUntouched = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};

class MemoryServiceTest : public ServiceTest {
 protected:
  std::uint32_t Read(std::int64_t count, std::int64_t size, const char* value) {
    Answer(std::string(R"("value" : ")") + value + R"(", "return" : 0)");
    return OSA_Service_MemoryRead(&context, 4, 0x1000, count, size, buffer.data(), 0, kOsaNoCore);
  }
  void SetOrders(bool target, bool host) {
    context.bigEndianTarget = target;
    context.bigEndianHost = host;
  }
  Bytes buffer = kUntouched;
};

TEST_F(MemoryServiceTest, ReadSwapsElementsOnlyWhenByteOrdersDiffer) {
  struct Case {
    bool target, host;
    std::int64_t count, size;
    const char* value;
    Bytes read;
  };
  const Case cases[] = {
      {true, false, 2, 4, "0102030405060708", {4, 3, 2, 1, 8, 7, 6, 5}},
      {true, true, 2, 4, "0102030405060708", {1, 2, 3, 4, 5, 6, 7, 8}},
      {false, true, 4, 2, "0102030405060708", {2, 1, 4, 3, 6, 5, 8, 7}},
      {false, true, 1, 8, "0102030405060708", {8, 7, 6, 5, 4, 3, 2, 1}},
      {false, true, 8, 1, "0102030405060708", {1, 2, 3, 4, 5, 6, 7, 8}},  // bytes: never
      {false, false, 1, 4, "aBcDeF09", {0xAB, 0xCD, 0xEF, 0x09, 0xEE, 0xEE, 0xEE, 0xEE}},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.value);
    SetOrders(row.target, row.host);
    buffer = kUntouched;
    EXPECT_EQ(Read(row.count, row.size, row.value), 0u);
    EXPECT_EQ(buffer, row.read);
  }
}

TEST_F(MemoryServiceTest, BadTextsFailKeepingOnlyTheBytesBeforeABadPair) {
  SetOrders(true, false);
  const Bytes kTwoStored = {1, 2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  const std::pair<const char*, Bytes> cases[] = {
      {"010203040506070", kUntouched},
      {"010203040506070809", kUntouched},
      {"", kUntouched},
      {"0102zz0405060708", kTwoStored},
      {"01020g0405060708", kTwoStored},
      {"0102 30405060708", kTwoStored},
  };
  for (const auto& [value, left] : cases) {
    SCOPED_TRACE(value);
    buffer = kUntouched;
    EXPECT_EQ(Read(2, 4, value), 1u);
    EXPECT_EQ(buffer, left);
  }
  buffer = kUntouched;
  Answer(R"("value" : 258, "return" : 0)");
  EXPECT_EQ(OSA_Service_MemoryRead(&context, 4, 0, 1, 2, buffer.data(), 0, kOsaNoCore), 1u);
  EXPECT_EQ(buffer, kUntouched);
}

TEST_F(MemoryServiceTest, AbsurdSizesAreRefusedBeforeSending) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const std::int64_t cases[][2] = {
      {-1, 4}, {2, -4}, {kMax, 2}, {kMax / 2 + 1, 1}, {1ll << 32, 1ll << 32}};
  for (const auto& [count, size] : cases) {
    SCOPED_TRACE(testing::Message() << count << " x " << size);
    EXPECT_EQ(OSA_Service_MemoryRead(&context, 4, 0, count, size, buffer.data(), 0, kOsaNoCore),
              1u);
    EXPECT_EQ(OSA_Service_MemoryWrite(&context, 4, 0, count, size, buffer.data(), kOsaNoCore), 1u);
  }
  EXPECT_EQ(OSA_Service_MemoryRead(&context, 4, 0, 1, 4, nullptr, 0, kOsaNoCore), 1u);
  EXPECT_EQ(OSA_Service_MemoryWrite(&context, 4, 0, 1, 4, nullptr, kOsaNoCore), 1u);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(buffer, kUntouched);
}

TEST_F(MemoryServiceTest, WriteSwapsACopyAndWritesLowerCaseDigits) {
  const Bytes data = {0xAB, 0x01, 0x02, 0x03, 0xC4, 0x05, 0x06, 0x07};
  struct Case {
    bool differ;
    std::int64_t count, size;
    const char* value;
  };
  const Case cases[] = {
      {true, 2, 4, "030201ab070605c4"},
      {false, 2, 4, "ab010203c4050607"},
      {true, 4, 2, "01ab030205c40706"},
      {true, 8, 1, "ab010203c4050607"},
      {true, 0, 4, ""},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.value);
    Script() = ScriptedDebugger{};
    JrInitService(OsaRpcService(), ScriptedSend);
    SetOrders(row.differ, false);
    Answer(R"("return" : 0)");
    EXPECT_EQ(OSA_Service_MemoryWrite(&context, 4, 0x10, row.count, row.size, data.data(), 0), 0u);
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], RequestText("OSA_Service_MemoryWrite",
                                     R"({ "context" : 5, "memorySpace" : 4, "address" : 16, )"
                                     R"("count" : )" +
                                         std::to_string(row.count * row.size) + R"(, "value" : ")" +
                                         row.value + R"(", "coreId" : 1 })"));
    EXPECT_EQ(data, (Bytes{0xAB, 0x01, 0x02, 0x03, 0xC4, 0x05, 0x06, 0x07}));
  }
}

}  // namespace
}  // namespace service_test
