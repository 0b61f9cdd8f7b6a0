// Tests of the register layout from target descriptions and the 'g' data
// encoded from and decoded into kernel register numbers.
#include "proxy/registers.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "model/register_file.h"

namespace {

// A description split over includes, as QEMU serves the M4F's.
const std::map<std::string, std::string, std::less<>> kQemuM4f = {
    {"target.xml",
     "<?xml version=\"1.0\"?><target><architecture>arm</architecture>"
     "<xi:include href=\"core.xml\"/><xi:include href=\"vfp.xml\"/>"
     "<xi:include href=\"sys.xml\"/></target>"},
    {"core.xml",
     "<!-- <reg name=\"bogus\" bitsize=\"32\"/> -->"
     "<feature name=\"org.gnu.gdb.arm.m-profile\">"
     "<reg name=\"r0\" bitsize=\"32\"/><reg name=\"r1\" bitsize=\"32\"/>"
     "<reg name=\"r2\" bitsize=\"32\"/><reg name=\"r3\" bitsize=\"32\"/>"
     "<reg name=\"r4\" bitsize=\"32\"/><reg name=\"r5\" bitsize=\"32\"/>"
     "<reg name=\"r6\" bitsize=\"32\"/><reg name=\"r7\" bitsize=\"32\"/>"
     "<reg name=\"r8\" bitsize=\"32\"/><reg name=\"r9\" bitsize=\"32\"/>"
     "<reg name=\"r10\" bitsize=\"32\"/><reg name=\"r11\" bitsize=\"32\"/>"
     "<reg name=\"r12\" bitsize=\"32\"/><reg name=\"sp\" bitsize=\"32\" type=\"data_ptr\"/>"
     "<reg name=\"lr\" bitsize=\"32\"/><reg name=\"pc\" bitsize=\"32\" type=\"code_ptr\"/>"
     "<reg name=\"xpsr\" bitsize=\"32\"/></feature>"},
    {"vfp.xml",
     "<feature name=\"org.gnu.gdb.arm.vfp\">"
     "<reg name=\"d0\" bitsize=\"64\" type=\"float\"/><reg name=\"d1\" bitsize=\"64\"/>"
     "<reg name=\"d2\" bitsize=\"64\"/><reg name=\"d3\" bitsize=\"64\"/>"
     "<reg name=\"d4\" bitsize=\"64\"/><reg name=\"d5\" bitsize=\"64\"/>"
     "<reg name=\"d6\" bitsize=\"64\"/><reg name=\"d7\" bitsize=\"64\"/>"
     "<reg name=\"d8\" bitsize=\"64\"/><reg name=\"d9\" bitsize=\"64\"/>"
     "<reg name=\"d10\" bitsize=\"64\"/><reg name=\"d11\" bitsize=\"64\"/>"
     "<reg name=\"d12\" bitsize=\"64\"/><reg name=\"d13\" bitsize=\"64\"/>"
     "<reg name=\"d14\" bitsize=\"64\"/><reg name=\"d15\" bitsize=\"64\"/>"
     "<reg name=\"fpscr\" bitsize=\"32\" type=\"int\" group=\"float\"/></feature>"},
    {"sys.xml", "<feature name=\"org.qemu.gdb.arm.sys.regs\"></feature>"},
};

ProxyAnnexFetch FetchFrom(const std::map<std::string, std::string, std::less<>>& documents) {
  return [&documents](std::string_view annex, std::string* text) {
    const auto found = documents.find(annex);
    if (found == documents.end()) return false;
    *text = found->second;
    return true;
  };
}

ProxyRegisterLayout Parse(const std::map<std::string, std::string, std::less<>>& documents,
                          bool bigEndian = false) {
  ProxyRegisterLayout layout;
  std::string error;
  EXPECT_TRUE(ProxyParseDescription(FetchFrom(documents), bigEndian, &layout, &error)) << error;
  return layout;
}

TEST(ProxyRegisters, KernelNumbersOfNames) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"r0", 0},     {"r12", 12},  {"sp", 13},   {"r13", 13}, {"lr", 14},
      {"pc", 15},    {"xpsr", 16}, {"cpsr", 16}, {"s0", 17},  {"s31", 48},
      {"fpscr", 49}, {"r13x", -1}, {"s32", -1},  {"msp", -1}, {"r", -1},
  };
  for (const auto& [name, number] : cases) {
    EXPECT_EQ(number, ProxyKernelRegisterOf(name)) << name;
  }
}

TEST(ProxyRegisters, LayoutFollowsIncludesInOrder) {
  const ProxyRegisterLayout layout = Parse(kQemuM4f);
  ASSERT_EQ(34u, layout.registers.size());
  EXPECT_EQ(17u * 4 + 16 * 8 + 4, layout.bytes);
  EXPECT_EQ(17u * 4, layout.gBytes);  // the FPU's registers go by 'p'
  const ProxyRegisterLayout m3 =
      Parse({{"target.xml", std::string(ProxyBuiltinDescription(false))}});
  EXPECT_EQ(m3.bytes, m3.gBytes);
  const ProxyRegister& xpsr = layout.registers[16];
  EXPECT_EQ("xpsr", xpsr.name);
  EXPECT_EQ(16u, xpsr.number);
  EXPECT_EQ(64u, xpsr.offset);
  EXPECT_EQ(16, xpsr.kernel);
  const ProxyRegister& d1 = layout.registers[18];
  EXPECT_EQ("d1", d1.name);
  EXPECT_EQ(76u, d1.offset);
  EXPECT_EQ(static_cast<std::int32_t>(model::kRegS0 + 2), d1.kernel);
  EXPECT_EQ(static_cast<std::int32_t>(model::kRegS0 + 3), d1.kernelHigh);
  EXPECT_EQ(49, layout.registers[33].kernel);
  EXPECT_EQ(&layout.registers[18], ProxyRegisterOfKernel(layout, model::kRegS0 + 3));
  EXPECT_EQ(&layout.registers[33], ProxyFindRegister(layout, 33));
  EXPECT_EQ(nullptr, ProxyFindRegister(layout, 34));
}

TEST(ProxyRegisters, RegnumAttributeSetsTheNumbering) {
  const std::map<std::string, std::string, std::less<>> documents = {
      {"target.xml",
       "<target><reg name=\"xpsr\" bitsize=\"32\" regnum=\"25\"/>"
       "<reg name=\"r0\" bitsize=\"32\" regnum=\"0\"/><reg name=\"r1\" bitsize=\"32\"/></target>"}};
  const ProxyRegisterLayout layout = Parse(documents);
  ASSERT_EQ(3u, layout.registers.size());
  EXPECT_EQ("r0", layout.registers[0].name);
  EXPECT_EQ("r1", layout.registers[1].name);
  EXPECT_EQ("xpsr", layout.registers[2].name);
  EXPECT_EQ(25u, layout.registers[2].number);
  EXPECT_EQ(8u, layout.registers[2].offset);
}

TEST(ProxyRegisters, BadDescriptionsFail) {
  const std::pair<const char*, const char*> cases[] = {
      {"<target></target>", "the target description names no register"},
      {"<target><xi:include href=\"missing.xml\"/></target>",
       "cannot read target description missing.xml"},
      {"<target><reg name=\"r0\" bitsize=\"12\"/></target>",
       "register r0 has an unusable bit size 12"},
      {"<target><xi:include href=\"target.xml\"/></target>",
       "target description includes nest too deep at target.xml"},
  };
  for (const auto& [text, reason] : cases) {
    const std::map<std::string, std::string, std::less<>> documents = {{"target.xml", text}};
    ProxyRegisterLayout layout;
    std::string error;
    EXPECT_FALSE(ProxyParseDescription(FetchFrom(documents), false, &layout, &error)) << text;
    EXPECT_EQ(reason, error);
  }
}

TEST(ProxyRegisters, BuiltinDescriptionsParse) {
  for (const bool fpu : {false, true}) {
    const std::map<std::string, std::string, std::less<>> documents = {
        {"target.xml", std::string(ProxyBuiltinDescription(fpu))}};
    const ProxyRegisterLayout layout = Parse(documents);
    EXPECT_EQ(fpu ? 34u : 17u, layout.registers.size());
    EXPECT_EQ(16, layout.registers[16].kernel);
  }
}

TEST(ProxyRegisters, EncodeMarksWhatCannotBeRead) {
  const std::map<std::string, std::string, std::less<>> documents = {
      {"target.xml",
       "<target><reg name=\"r0\" bitsize=\"32\"/><reg name=\"msp\" bitsize=\"32\"/>"
       "<reg name=\"d0\" bitsize=\"64\"/><reg name=\"pc\" bitsize=\"32\"/></target>"}};
  const ProxyKernelRead read = [](std::int32_t kernel, std::uint32_t* value) {
    if (kernel == static_cast<std::int32_t>(model::kRegPc)) return false;
    *value = kernel == 0 ? 0x11223344 : 0xA0000000u + static_cast<std::uint32_t>(kernel);
    return true;
  };
  EXPECT_EQ("44332211xxxxxxxx110000a0120000a0xxxxxxxx",
            ProxyEncodeRegisters(Parse(documents), read));
  EXPECT_EQ("11223344xxxxxxxxa0000012a0000011xxxxxxxx",
            ProxyEncodeRegisters(Parse(documents, true), read));
}

TEST(ProxyRegisters, DecodeGivesKernelRegisters) {
  const ProxyRegisterLayout layout = Parse(kQemuM4f);
  std::string hex;
  for (std::uint32_t index = 0; index < 17; ++index) {
    hex += index == 5 ? "xxxxxxxx" : "0" + std::to_string(index % 10) + "000010";
  }
  hex += "44332211887766550000000000000000";  // d0, d1
  ProxyRegisterData data;
  ASSERT_TRUE(ProxyDecodeRegisterData(layout, hex, &data));
  std::uint32_t value = 0;
  ASSERT_TRUE(ProxyKernelFromData(layout, data, 4, &value));
  EXPECT_EQ(0x10000004u, value);
  EXPECT_FALSE(ProxyKernelFromData(layout, data, 5, &value));  // sent as xx
  ASSERT_TRUE(ProxyKernelFromData(layout, data, model::kRegS0, &value));
  EXPECT_EQ(0x11223344u, value);
  ASSERT_TRUE(ProxyKernelFromData(layout, data, model::kRegS0 + 1, &value));
  EXPECT_EQ(0x55667788u, value);
  EXPECT_FALSE(ProxyKernelFromData(layout, data, model::kRegS0 + 4, &value));  // not sent
  EXPECT_FALSE(ProxyKernelFromData(layout, data, model::kRegFpscr + 1, &value));
  EXPECT_FALSE(ProxyDecodeRegisterData(layout, "123", &data));
  EXPECT_FALSE(ProxyDecodeRegisterData(layout, "zz", &data));
  EXPECT_FALSE(ProxyDecodeRegisterData(layout, "x0", &data));
}

TEST(ProxyRegisters, RegisterValuesDecodeInTargetOrder) {
  const ProxyRegisterLayout layout = Parse(kQemuM4f);
  std::uint64_t value = 0;
  ASSERT_TRUE(ProxyDecodeRegisterValue(layout, layout.registers[4], "78563412", &value));
  EXPECT_EQ(0x12345678u, value);
  ASSERT_TRUE(ProxyDecodeRegisterValue(layout, layout.registers[17], "0807060504030201", &value));
  EXPECT_EQ(0x0102030405060708u, value);
  EXPECT_FALSE(ProxyDecodeRegisterValue(layout, layout.registers[4], "785634", &value));
  EXPECT_FALSE(ProxyDecodeRegisterValue(layout, layout.registers[4], "7856341g", &value));
}

}  // namespace
