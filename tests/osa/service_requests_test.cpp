// The service wrappers against a scripted debugger: the exact request texts,
// the members left out, and the status rules that every wrapper shares.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "osa/service_requests.h"
#include "tests/osa/service_script.h"

namespace service_test {
namespace {

struct WrapperCase {
  std::function<std::uint32_t(OSA_ServiceCntx*)> call;
  const char* method;
  const char* params;   // the exact params text sent
  const char* results;  // result members the wrapper needs, without "return"
  bool readsReturn = true;
};

// One row per wrapper form, with the members each one sends and needs.
const std::vector<WrapperCase>& WrapperCases() {
  static std::int64_t value = 0;
  static std::uint64_t address = 0;
  static std::uint32_t u32 = 0, u32b = 0, u32c = 0, u32d = 0;
  static std::string text;
  static OsaValue osaValue;
  static std::uint8_t buffer[8];
  static const std::uint8_t data[2] = {0xAB, 0x01};
  static const std::vector<WrapperCase> cases = {
      {[](OSA_ServiceCntx* c) { return OSA_Service_RegisterRead(c, 0, 13, 4, &value, 0, 0); },
       "RegisterRead",
       R"({ "context" : 5, "register" : 13, "width" : 4, "fromDebugger" : 0, "coreId" : 1 })", ""},
      {[](OSA_ServiceCntx* c) { return OSA_Service_RegisterWrite(c, 2, 15, -1, ~0ull, 1, 0, 9); },
       "RegisterWrite",
       R"({ "context" : 5, "register" : 15, "width" : -1, "forMemoryAccess" : 1, )"
       R"("fromDebugger" : 0, "value" : -1, "coreId" : 3, "taskId" : 9 })",
       ""},
      // The record forms send what the positional forms send; omitted
      // fields mean no core and no task.
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_RegisterRead(c, {.reg = 13, .width = 4, .fromDebugger = 1}, &value);
       },
       "RegisterRead", R"({ "context" : 5, "register" : 13, "width" : 4, "fromDebugger" : 1 })",
       ""},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_RegisterWrite(
             c, {.reg = 15, .width = -1, .forMemoryAccess = 1, .taskId = 9, .core = 2}, ~0ull);
       },
       "RegisterWrite",
       R"({ "context" : 5, "register" : 15, "width" : -1, "forMemoryAccess" : 1, )"
       R"("fromDebugger" : 0, "value" : -1, "coreId" : 3, "taskId" : 9 })",
       ""},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_ThreadRegisterRead(c, 16, 3, &value, kOsaNoCore);
       },
       "ThreadRegisterRead", R"({ "context" : 5, "threadId" : 16, "register" : 3 })",
       R"("value" : 1)"},
      {[](OSA_ServiceCntx* c) { return OSA_Service_ThreadRegisterWrite(c, 16, 3, 42, 0); },
       "ThreadRegisterWrite",
       R"({ "context" : 5, "threadId" : 16, "register" : 3, "value" : 42, "coreId" : 1 })", ""},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_MemoryRead(c, 4, 0x20000000, 2, 4, buffer, 3, 1);
       },
       "MemoryRead",
       R"({ "context" : 5, "memorySpace" : 4, "address" : 536870912, "count" : 8, )"
       R"("taskId" : 3, "coreId" : 2 })",
       R"("value" : "0102030405060708")"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_MemoryRead(
             c, {.memorySpace = 4, .address = 0x20000000, .count = 2, .size = 4}, buffer);
       },
       "MemoryRead", R"({ "context" : 5, "memorySpace" : 4, "address" : 536870912, "count" : 8 })",
       R"("value" : "0102030405060708")"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_MemoryWrite(c, 4, 0x100, 2, 1, data, kOsaNoCore);
       },
       "MemoryWrite",
       R"({ "context" : 5, "memorySpace" : 4, "address" : 256, "count" : 2, "value" : "ab01" })",
       ""},
      {[](OSA_ServiceCntx* c) { return OSA_Service_MemoryPreFetch(c, 4, 0x100, 2, 4, 16, 0); },
       "MemoryPreFetch",
       R"({ "context" : 5, "memorySpace" : 4, "address" : 256, "count" : 2, "size" : 4, )"
       R"("stride" : 16, "coreId" : 1 })",
       ""},
      {[](OSA_ServiceCntx* c) {
         osaValue = MakeValue(OsaValueKind::kUInt32);
         return OSA_Service_ExpressionEval(c, "sizeof(int)", &osaValue, 1, kOsaNoCore);
       },
       "ExpressionEval",
       R"j({ "context" : 5, "expression" : "sizeof(int)", "valueType" : 11, "searchFlag" : 1 })j",
       R"("output" : 4)"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_StringEval(c, "`print /a x+0`", &text, kOsaNoCore);
       },
       "StringEval", R"({ "context" : 5, "input" : "`print /a x+0`" })",
       R"("value" : "0x8000 <main>")"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_CommandExec(c, "info frame", 1, &text, 2, kOsaNoCore);
       },
       "CommandExec",
       R"({ "context" : 5, "command" : "info frame", "outputMask" : 1, "allowBpOps" : 0, )"
       R"("searchFlag" : 2 })",
       R"("output" : "frame")"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_SymbolLookup(c, "qx_kernel", &address, &u32, 0);
       },
       "SymbolLookup", R"({ "context" : 5, "name" : "qx_kernel", "coreId" : 1 })",
       R"("address" : 4096, "storageClass" : 2)"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_SymbolFromAddress(c, 0x8000, 6, &text, kOsaNoCore);
       },
       "SymbolFromAddress", R"({ "context" : 5, "address" : 32768, "symbolType" : 6 })",
       R"("name" : "main")"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_StructFieldSearch(c, "QX_TASK", "name", 1, &u32, &u32b, &u32c, &u32d,
                                              kOsaNoCore);
       },
       "StructFieldSearch",
       R"({ "context" : 5, "structName" : "QX_TASK", "fieldName" : "name", "useOsaSym" : 1 })",
       R"("byteOffset" : 8, "byteWidth" : 4, "bitOffset" : 0, "bitWidth" : 32)"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_StructFieldSearch(c, "QX_TASK", "name", 0,
                                              {.byteOffset = &u32, .bitWidth = &u32d}, 1);
       },
       "StructFieldSearch",
       R"({ "context" : 5, "structName" : "QX_TASK", "fieldName" : "name", "useOsaSym" : 0, )"
       R"("coreId" : 2 })",
       R"("byteOffset" : 8, "bitWidth" : 32)"},
      {[](OSA_ServiceCntx* c) { return OSA_Service_MacroGet(c, "QX_MAX", 0, &text, 0); },
       "MacroGet", R"({ "context" : 5, "macroName" : "QX_MAX", "useOsaSym" : 0, "coreId" : 1 })",
       R"("value" : "32")"},
      {[](OSA_ServiceCntx* c) {
         osaValue = MakeValue(OsaValueKind::kUInt32);
         return OSA_Service_MacroGetValue(c, "QX_MAX", 1, &osaValue, kOsaNoCore);
       },
       "MacroGet", R"({ "context" : 5, "macroName" : "QX_MAX", "useOsaSym" : 1 })",
       R"("value" : "32")"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_EnumValueGet(c, "QX_STATE", "QX_READY", 1, &value, kOsaNoCore);
       },
       "EnumValueGet",
       R"({ "context" : 5, "enumName" : "QX_STATE", "enumMemberName" : "QX_READY", )"
       R"("useOsaSym" : 1 })",
       R"("value" : 3)"},
      {[](OSA_ServiceCntx* c) { return OSA_Service_StructSizeGet(c, "QX_TASK", 0, &u32, 3); },
       "StructSizeGet", R"({ "context" : 5, "name" : "QX_TASK", "useOsaSym" : 0, "coreId" : 4 })",
       R"("value" : 120)"},
      {[](OSA_ServiceCntx* c) {
         return OSA_Service_MessageDisplay(c, 2, "Error: %s %d\n", "no kernel", 3);
       },
       "MessageDisplay",
       R"({ "context" : 5, "messageType" : 2, "message" : "Error: no kernel 3\n" })", ""},
      {[](OSA_ServiceCntx* c) {
         u32 = 1;
         return OSA_Service_YesNoChoose(c, &u32, "Go on with %u tasks?", 4u);
       },
       "YesNoChoose", R"({ "context" : 5, "default" : 1, "message" : "Go on with 4 tasks?" })",
       R"("choice" : 0)"},
      {[](OSA_ServiceCntx* c) { return OSA_Service_ConfigFileSearch(c, "osa.cfg", 4, 1, &text); },
       "ConfigFileSearch",
       R"({ "context" : 5, "fileName" : "osa.cfg", "permission" : 4, "onlySearchDistDir" : 1 })",
       R"("filePath" : "/opt/osa.cfg")"},
      {[](OSA_ServiceCntx* c) { return OSA_Service_TargetStatus(c, &u32, kOsaNoCore); },
       "TargetStatus", R"({ "context" : 5 })", R"("status" : 2)"},
      {[](OSA_ServiceCntx* c) { return OSA_Service_CpuModeGet(c, 2, &u32); }, "CpuModeGet",
       R"({ "context" : 5, "coreId" : 3 })", R"("inUserMode" : 1)", false},
  };
  return cases;
}

std::string WithReturn(const char* results, const char* status) {
  std::string members = results;
  if (!members.empty()) members += ", ";
  return members + R"("return" : )" + status;
}

TEST_F(ServiceTest, EveryWrapperSendsItsExactRequestText) {
  for (const WrapperCase& row : WrapperCases()) {
    SCOPED_TRACE(row.params);
    Script() = ScriptedDebugger{};
    JrInitService(OsaRpcService(), ScriptedSend);
    Answer(WithReturn(row.results, "0"));
    EXPECT_EQ(row.call(&context), 0u);
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], RequestText("OSA_Service_" + std::string(row.method), row.params));
  }
}

// The status rules every wrapper shares: a non-zero "return" passes through
// (CpuModeGet reads none), a missing or ill-typed one and every failed
// exchange give 1, and without a service record nothing is sent.
TEST_F(ServiceTest, StatusRulesOfEveryWrapper) {
  for (const WrapperCase& row : WrapperCases()) {
    SCOPED_TRACE(row.params);
    const std::string results = row.results;
    const std::string lead = results.empty() ? "" : results + ", ";
    Answer(WithReturn(row.results, "3"));
    EXPECT_EQ(row.call(&context), row.readsReturn ? 3u : 0u);
    for (const std::string& members : {results, lead + R"("return" : true)"}) {
      Answer(members);
      EXPECT_EQ(row.call(&context), row.readsReturn ? 1u : 0u) << members;
    }
    AnswerNothing();
    EXPECT_EQ(row.call(&context), 1u);
    AnswerRaw(R"({ "jsonrpc" : "2.0", "error" : { "code" : -32601, "message" : "unknown" }, )"
              R"("id" : 0 })");
    EXPECT_EQ(row.call(&context), 1u);
    const std::size_t sent = Sent().size();
    EXPECT_EQ(row.call(nullptr), 1u);
    EXPECT_EQ(Sent().size(), sent);
  }
}

// ---- Result members ---------------------------------------------------------

TEST_F(ServiceTest, RegisterReadValueIsOptional) {
  std::int64_t value = 77;
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_RegisterRead(&context, kOsaNoCore, 13, 4, &value, 0, 0), 0u);
  EXPECT_EQ(value, 77);
  Answer(R"("value" : "12", "return" : 0)");
  EXPECT_EQ(OSA_Service_RegisterRead(&context, kOsaNoCore, 13, 4, &value, 0, 0), 0u);
  EXPECT_EQ(value, 77);
  // The value is stored before the missing "return" is found.
  Answer(R"("value" : -2)");
  EXPECT_EQ(OSA_Service_RegisterRead(&context, kOsaNoCore, 13, 4, &value, 0, 0), 1u);
  EXPECT_EQ(value, -2);
}

TEST_F(ServiceTest, NeededMembersMissingOrIllTypedGiveOne) {
  std::int64_t value = 5;
  std::uint32_t u32 = 9;
  std::string text = "kept";
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_ThreadRegisterRead(&context, 1, 2, &value, kOsaNoCore), 1u);
  Answer(R"("value" : "1", "return" : 0)");
  EXPECT_EQ(OSA_Service_ThreadRegisterRead(&context, 1, 2, &value, kOsaNoCore), 1u);
  EXPECT_EQ(value, 5);
  // StringEval needs "value" even when the caller asks for no text.
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_StringEval(&context, "x", nullptr, kOsaNoCore), 1u);
  Answer(R"("value" : 4, "return" : 0)");
  EXPECT_EQ(OSA_Service_StringEval(&context, "x", &text, kOsaNoCore), 1u);
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_ConfigFileSearch(&context, "f", 0, 0, &text), 1u);
  EXPECT_EQ(text, "kept");
  Answer(R"("status" : null, "return" : 0)");
  EXPECT_EQ(OSA_Service_TargetStatus(&context, &u32, kOsaNoCore), 1u);
  EXPECT_EQ(u32, 9u);
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_CpuModeGet(&context, 0, &u32), 1u);
}

TEST_F(ServiceTest, IfAskedMembersAreReadOnlyWithAPlace) {
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_CommandExec(&context, "bt", 1, nullptr, kOsaNoCore), 0u);
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_EnumValueGet(&context, "e", "m", 0, nullptr, kOsaNoCore), 0u);
  std::string text;
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_CommandExec(&context, "bt", 1, &text, kOsaNoCore), 1u);
  Answer(R"("output" : "line 1\nline 2", "return" : 0)");
  EXPECT_EQ(OSA_Service_CommandExec(&context, "bt", 1, &text, kOsaNoCore), 0u);
  EXPECT_EQ(text, "line 1\nline 2");
}

TEST_F(ServiceTest, SymbolLookupReadsAddressThenLowStorageClassBits) {
  std::uint64_t address = 0;
  std::uint32_t storageClass = 0;
  Answer(R"("address" : -1, "storageClass" : 4294967298, "return" : 0)");
  EXPECT_EQ(OSA_Service_SymbolLookup(&context, "s", &address, &storageClass, kOsaNoCore), 0u);
  EXPECT_EQ(address, ~0ull);
  EXPECT_EQ(storageClass, 2u);
  Answer(R"("address" : 16, "return" : 0)");
  EXPECT_EQ(OSA_Service_SymbolLookup(&context, "s", &address, &storageClass, kOsaNoCore), 1u);
  EXPECT_EQ(address, 16u);
  EXPECT_EQ(storageClass, 2u);
}

TEST_F(ServiceTest, StructFieldSearchLeavesUndeliveredPlacesAllOnes) {
  std::uint32_t byteOffset = 0, bitWidth = 0;
  Answer(R"("byteOffset" : 12, "byteWidth" : 4, "return" : 0)");
  EXPECT_EQ(OSA_Service_StructFieldSearch(&context, "S", "f", 0, &byteOffset, nullptr, nullptr,
                                          &bitWidth, kOsaNoCore),
            1u);
  EXPECT_EQ(byteOffset, 12u);
  EXPECT_EQ(bitWidth, 0xFFFFFFFFu);
  AnswerNothing();
  byteOffset = 0;
  EXPECT_EQ(OSA_Service_StructFieldSearch(&context, "S", "f", 0, &byteOffset, nullptr, nullptr,
                                          nullptr, kOsaNoCore),
            1u);
  EXPECT_EQ(byteOffset, 0xFFFFFFFFu);
}

// ---- Messages -----------------------------------------------------------------

TEST_F(ServiceTest, MessagesThatCannotBeMadeSendNothing) {
  std::uint32_t choice = 1;
  EXPECT_EQ(OSA_Service_MessageDisplay(&context, 2, nullptr), 0u);
  EXPECT_EQ(OSA_Service_YesNoChoose(&context, &choice, nullptr), 0u);
  EXPECT_EQ(OSA_Service_YesNoChoose(&context, nullptr, "Go on?"), 1u);
  // A wide character that the C locale cannot convert makes formatting fail.
  EXPECT_EQ(OSA_Service_MessageDisplay(&context, 2, "%ls", L"\x100"), 1u);
  EXPECT_EQ(OSA_Service_YesNoChoose(&context, &choice, "%ls", L"\x100"), 1u);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ServiceTest, TargetTextTravelsOnlyAsAnArgumentAndChoiceComesBack) {
  Answer(R"("return" : 0)");
  EXPECT_EQ(OSA_Service_MessageDisplay(&context, 2, "Error: %s\n", "%s%n%x"), 0u);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_NE(Sent()[0].find(R"("message" : "Error: %s%n%x\n")"), std::string::npos);
  std::uint32_t choice = 1;
  Answer(R"("choice" : 0, "return" : 0)");
  EXPECT_EQ(OSA_Service_YesNoChoose(&context, &choice, "Go on?"), 0u);
  EXPECT_EQ(choice, 0u);
}

// ---- Memory blocks ----------------------------------------------------------------

TEST_F(ServiceTest, MemAllocPlacesZeroedBlocks) {
  void* block = nullptr;
  ASSERT_EQ(OsaMemAlloc(&context, 64, &block), 0u);
  ASSERT_NE(block, nullptr);
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  for (int i = 0; i < 64; ++i)
    EXPECT_EQ(bytes[i], 0u);
  EXPECT_EQ(OsaMemFree(&context, block), 0u);
  EXPECT_EQ(OsaMemFree(&context, nullptr), 0u);
  EXPECT_EQ(OsaMemAlloc(&context, 8, nullptr), 1u);
  EXPECT_TRUE(Sent().empty());
}

}  // namespace
}  // namespace service_test
