// The setup, target and control methods: OsaInit's presets and command list,
// TargetInit's members, CPU-type and core lists, TargetCleanup's release of
// the kernel record, TargetNotify, OsaCmd_Execute, MessageInject and
// HistoryLogDump.
#include <cstdint>
#include <string>

#include "runtime/history_log.h"
#include "tests/osa/handler_harness.h"

namespace handler_test {
namespace {

struct Seen {
  int calls = 0;
  std::int32_t number = 0;
  std::uint64_t id = 0;
  std::string text;
  bool flag = false;
  int released = 0;
};
Seen gSeen;
int gKernelRecord = 0;

std::int32_t SetPrivateData(OSA_ServiceCntx*, OsaPluginInfo* info, OsaPrivateData* place) {
  ++gSeen.calls;
  *place = OsaPrivateData(&gKernelRecord, OsaPrivateDeleter{[](void*) { ++gSeen.released; }});
  info->osaKernelMajorVersion = 3;
  info->pageSize = 0xFFFFFFFF;  // a 32-bit member comes out sign-extended
  info->optionBits.kernelInPhysicalAddress = true;
  return gSeen.number;
}

class SetupTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    gSeen = {};
  }

  static std::string TargetInit(std::string_view extra) {
    return Call("TargetInit", WithContext(R"("majorCpuType" : 65537, "bigEndianTarget" : 1, )"
                                          R"("bigEndianHost" : 0, )" +
                                          std::string(extra)));
  }
};

TEST_F(SetupTest, OsaInitListsSetSlotsInRegistrationOrder) {
  OsaPluginCallbacks& table = OsaCallbacks();
  table.taskRelocatableGet = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t, OsaValue*,
                                OsaValue*, OsaValue*, OsaValue*, OsaValue*) { return 0; };
  table.taskIsHiddenCheck = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t, OsaValue*) {
    return 0;
  };
  table.osaInit = [](OSA_ServiceCntx* context, OsaPluginInfo* info) {
    gSeen.id = info->versionRequired;
    gSeen.text = *context->sharedLibPath + "|" + context->vexloDir.value_or("(none)");
    gSeen.flag = context->realSharedLibPath.has_value();
    info->fakeTidForMasterProcess = ~std::uint64_t{0};
    info->optionBits.translateAddressOnMasterProcess = true;
    return 0;
  };
  opened.push_back(8);
  EXPECT_EQ(
      Call("OsaInit", R"({ "context" : 8, "versionRequired" : 4294967299, )"
                      R"("treatMasterProcessAsKernel" : 0, "sharedLibPath" : "/lib", )"
                      R"("realSharedLibPath" : 1, "fixOsaMemSpc" : 9, "showHiddenTasks" : 2 })"),
      R"({ "return" : 0, "versionAcknowledge" : 2, "translateAddressOnMasterProcess" : 1, )"
      R"("treatMasterProcessAsKernel" : 0, "fixOsaMemSpc" : 1, )"
      R"("fakeTidForMasterProcess" : -1, "commandCount" : 6, "commands" : [ )"
      R"("OSA_Client_OsaInit", "OSA_Client_OsaCleanup", "OSA_Client_TaskRelocatableGet", )"
      R"("OSA_Client_TaskIsHiddenCheck", "OSA_Client_HistoryLogDump", "OSA_Client_Exit" ] })");
  EXPECT_EQ(gSeen.id, 3u);
  EXPECT_EQ(gSeen.text, "/lib|(none)");
  EXPECT_FALSE(gSeen.flag);
  EXPECT_EQ(OsaContextFind(8)->showHiddenTasks, 1);
  EXPECT_EQ(OsaContextFind(8)->currentParams, nullptr);

  // A failed OsaInit answers only its status and still keeps the record.
  table.osaInit = [](OSA_ServiceCntx*, OsaPluginInfo*) { return 5; };
  opened.push_back(0);
  EXPECT_EQ(Call("OsaInit", R"({ "context" : true })"), R"({ "return" : 5 })");
  EXPECT_EQ(Call("Poll", R"({ "context" : 0 })"), R"({ "return" : 0 })");
}

TEST_F(SetupTest, TargetInitStoresTheTargetAndReportsKernelFactsWhateverTheStatus) {
  OsaCallbacks().targetInit = SetPrivateData;
  gSeen.number = 6;
  EXPECT_EQ(TargetInit(R"("minorCpuType" : 5, "coreCount" : 4, "coreIdList" : [ 1, 2, 3 ], )"
                       R"("distinguishCpuModes" : 0, "vexloMinor" : 7)"),
            R"({ "osaKernelMajorVersion" : 3, "osaKernelMinorVersion" : 0, "pageSize" : -1, )"
            R"("kernelInPhysicalAddress" : 1, "distinguishCpuModes" : 0, "fixOsaMemSpc" : 0, )"
            R"("noiceMask" : 0, "return" : 6 })");
  const OSA_ServiceCntx* record = Record();
  EXPECT_EQ(record->majorCpuType, 65537u);
  EXPECT_EQ(record->majorCpuType16, 1u);
  EXPECT_EQ(record->minorCpuTypes,
            (std::vector<std::uint32_t>{5, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(record->coreCount, 4u);
  EXPECT_TRUE(record->coreIdList.empty());  // fewer entries than the count
  EXPECT_EQ(record->vexloMinor, 7);
  EXPECT_EQ(record->debugMode, -1);

  // The kernel record goes after TargetCleanup's callback has seen it.
  OsaCallbacks().targetCleanup = [](OSA_ServiceCntx*, OsaPluginInfo*, OsaPrivateData* place) {
    gSeen.flag = *place != nullptr;
    return 3;
  };
  EXPECT_EQ(Call("TargetCleanup", WithContext()), R"({ "return" : 3 })");
  EXPECT_TRUE(gSeen.flag);
  EXPECT_EQ(gSeen.released, 1);
  EXPECT_EQ(Record()->privateData, nullptr);
}

TEST_F(SetupTest, TargetInitCpuTypeAndCoreLists) {
  ASSERT_NE(TargetInit(R"("minorCpuTypeArray" : [ 9, 8, 7, 6, 5, 4, 3, 2, 1, 0 ], )"
                       R"("minorCpuType" : 5, "coreCount" : 2, "coreIdList" : [ -1, 4 ])")
                .find(R"("return" : 0 })"),
            std::string::npos);
  EXPECT_EQ(Record()->minorCpuTypes, (std::vector<std::uint32_t>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(Record()->minorCpuType16, 9u);
  EXPECT_EQ(Record()->coreIdList, (std::vector<std::uint64_t>{~std::uint64_t{0}, 4}));

  // Without "coreCount" the count is 1 and the earlier list stays.
  TargetInit(R"("minorCpuType" : 1)");
  EXPECT_EQ(Record()->coreCount, 1u);
  EXPECT_EQ(Record()->coreIdList.size(), 2u);

  for (const char* members : {R"("minorCpuTypeArray" : [ 1, 2, 3 ], "minorCpuType" : 5)",
                              R"("minorCpuTypeArray" : [ 1, 2, "3", 4, 5, 6, 7, 8, 9, 10 ])",
                              R"("minorCpuType" : true)"}) {
    SCOPED_TRACE(members);
    EXPECT_EQ(TargetInit(members), R"({ "return" : 1 })");
  }
  EXPECT_EQ(Record()->minorCpuType16, 1u);
}

TEST_F(SetupTest, TargetInitMissingRequiredMemberKeepsEarlierMembers) {
  Open(kHandle, R"("fixOsaMemSpc" : 1)");
  OsaCallbacks().targetInit = SetPrivateData;
  EXPECT_EQ(Call("TargetInit", WithContext(R"("majorCpuType" : 4, "minorCpuType" : 2, )"
                                           R"("bigEndianTarget" : 1, "bigEndianHost" : true)")),
            R"({ "return" : 1 })");
  EXPECT_EQ(gSeen.calls, 0);
  EXPECT_EQ(Record()->majorCpuType, 4u);
  EXPECT_TRUE(Record()->bigEndianTarget);
  // fixOsaMemSpc keeps OsaInit's value when TargetInit omits it.
  EXPECT_NE(TargetInit(R"("minorCpuType" : 2)").find(R"("fixOsaMemSpc" : 1)"), std::string::npos);
}

TEST_F(SetupTest, TargetNotifyClearsItsFlagsBeforeApplyingThem) {
  OsaCallbacks().targetNotify = [](OSA_ServiceCntx* context, OsaPluginInfo*, void*,
                                   std::int32_t notice) {
    gSeen.number = notice;
    gSeen.calls =
        context->explorerIsActive * 1 + context->traecIsActive * 2 + context->wholeTargetHalted * 4;
    return 0;
  };
  EXPECT_EQ(Call("TargetNotify", WithContext(R"("traecIsActive" : 1)")), R"({ "return" : 1 })");
  EXPECT_EQ(Call("TargetNotify", WithContext(R"("notice" : 4294967295, "traecIsActive" : 1, )"
                                             R"("wholeTargetHalted" : 1)")),
            R"({ "return" : 0 })");
  EXPECT_EQ(gSeen.number, -1);
  EXPECT_EQ(gSeen.calls, 6);
  Call("TargetNotify", WithContext(R"("notice" : 1)"));
  EXPECT_EQ(gSeen.calls, 0);
}

TEST_F(SetupTest, CommandAndMessageMethods) {
  OsaCallbacks().osaCmdExecute = [](OSA_ServiceCntx* context, OsaPluginInfo*, void*,
                                    const char* command) {
    gSeen.text = command;
    JsonPtr table = JsonNewArray();
    JsonArrayAppend(table.get(), JsonNewInteger(1));
    JsonObjectAdd(context->currentResult, "task_table", std::move(table));
    return 0;
  };
  // Members a command adds come before "return".
  EXPECT_EQ(Call("OsaCmd_Execute", WithContext(R"("command" : "get_task_table")")),
            R"({ "task_table" : [ 1 ], "return" : 0 })");
  EXPECT_EQ(gSeen.text, "get_task_table");
  EXPECT_EQ(Call("OsaCmd_Execute", WithContext(R"("command" : 1)")), R"({ "return" : 1 })");

  OsaCallbacks().messageInject = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t type,
                                    std::uint64_t id, const char* message) {
    gSeen = {++gSeen.calls, type, id, message};
    return 2;
  };
  EXPECT_EQ(Call("MessageInject", WithContext(R"("objTypeId" : 1, "objId" : 2)")),
            R"({ "return" : 1 })");
  EXPECT_EQ(gSeen.calls, 0);
  EXPECT_EQ(
      Call("MessageInject", WithContext(R"("objTypeId" : 3, "objId" : -5, "message" : "go")")),
      R"({ "return" : 2 })");
  EXPECT_EQ(gSeen.number, 3);
  EXPECT_EQ(gSeen.id, ~std::uint64_t{4});
  EXPECT_EQ(gSeen.text, "go");
}

TEST_F(SetupTest, HistoryLogDumpDrivesTheLogAndAlwaysAnswersZero) {
  const std::uint64_t before = HistoryLogBufferSize();
  EXPECT_EQ(Call("HistoryLogDump", R"({ "bufferSize" : -1 })"), R"({ "return" : 0 })");
  EXPECT_EQ(HistoryLogBufferSize(), before);
  Call("HistoryLogDump", R"({ "bufferSize" : 20000 })");
  EXPECT_EQ(HistoryLogBufferSize(), 20000u);
  HistoryLogSetBufferSize(before);

  EXPECT_EQ(Call("HistoryLogDump", R"({ "dirPath" : "/nonexistent/dir" })"), R"({ "return" : 0 })");
}

}  // namespace
}  // namespace handler_test
