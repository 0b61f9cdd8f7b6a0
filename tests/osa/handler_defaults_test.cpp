// Every client method with an empty callback table: the presets it answers
// with, in member order, and the "return": 1 of a request naming no record.
#include <set>
#include <string>

#include "osa/methods.h"
#include "tests/osa/handler_harness.h"

namespace handler_test {
namespace {

struct EmptySlotCase {
  const char* method;
  const char* members;  // after "context"
  const char* answer;
  bool needsRecord = true;
};

const EmptySlotCase kEmptySlotCases[] = {
    {"OsaInit", "",
     R"({ "return" : 0, "versionAcknowledge" : 2, "translateAddressOnMasterProcess" : 0, )"
     R"("treatMasterProcessAsKernel" : 1, "fixOsaMemSpc" : 0, "fakeTidForMasterProcess" : 0, )"
     R"("commandCount" : 3, "commands" : [ "OSA_Client_OsaCleanup", )"
     R"("OSA_Client_HistoryLogDump", "OSA_Client_Exit" ] })",
     false},
    {"TargetInit",
     R"("majorCpuType" : 1, "minorCpuType" : 2, "bigEndianTarget" : 0, "bigEndianHost" : 0)",
     R"({ "osaKernelMajorVersion" : 0, "osaKernelMinorVersion" : 0, "pageSize" : 0, )"
     R"("kernelInPhysicalAddress" : 0, "distinguishCpuModes" : 1, "fixOsaMemSpc" : 0, )"
     R"("noiceMask" : 0, "return" : 0 })"},
    {"TargetCleanup", "", R"({ "return" : 0 })"},
    {"ObjectListInit", R"("objTypeId" : 1)", R"({ "showObjectNumber" : 1, "return" : 0 })"},
    {"ObjectListCleanup", R"("objTypeId" : 1)", R"({ "return" : 0 })"},
    {"ObjectListNext", R"("objTypeId" : 1)", R"({ "return" : 0 })"},
    {"ObjectListAttribute", R"("objTypeId" : 1, "objAtrId" : 2, "valueType" : 0)",
     R"({ "objAtrValue" : "", "return" : 0 })"},
    {"TaskMemoryAccessSetup",
     R"("taskId" : 1, "memorySpace" : 0, "address" : 16, "count" : 1, "size" : 4, )"
     R"("read" : 1)",
     R"({ "return" : 0 })"},
    {"TaskMemoryAccessRestore",
     R"("taskId" : 1, "memorySpace" : 0, "address" : 16, "count" : 1, "size" : 4, )"
     R"("read" : 1)",
     R"({ "return" : 0 })"},
    {"TaskRegisterRead", R"("taskId" : 1, "register" : 2)", R"({ "value" : 0, "return" : 0 })"},
    {"TaskRegisterWrite", R"("taskId" : 1, "register" : 2, "value" : 3)", R"({ "return" : 0 })"},
    {"TaskAddressTranslate", R"("taskId" : 1, "memorySpace" : 3, "address" : 4)",
     R"({ "memorySpace" : 3, "address" : 0, "return" : 0 })"},
    {"TaskNameGet", R"("taskId" : 1)", R"({ "name" : "", "return" : 0 })"},
    {"TaskStatusGet", R"("taskId" : 1)", R"({ "status" : "", "return" : 0 })"},
    {"TaskExecGet", R"("taskId" : 1)", R"({ "executable" : "", "return" : 0 })"},
    {"TaskCpuGet", R"("taskId" : 1)", R"({ "cpu" : "", "return" : 0 })"},
    {"TaskAddressSpaceGet", R"("taskId" : 1, "wantName" : 0)",
     R"({ "addressSpace" : 0, "return" : 0 })"},
    {"TaskSymTabGet", R"("taskId" : 1)", R"({ "count" : 0, "return" : 1 })"},
    {"TaskRelocatableGet", R"("taskId" : 1)",
     R"({ "text" : 0, "rodata" : 0, "data" : 0, "bss" : 0, "extra" : 0, "return" : 0 })"},
    {"CurrentTaskGet", R"("checkInKernel" : 1)", R"({ "taskId" : 0, "return" : 0 })"},
    {"TaskInKernelCheck", R"("taskId" : 1)", R"({ "result" : 0, "return" : 0 })"},
    {"TaskInCurrentAddressSpaceCheck", R"("taskId" : 1)", R"({ "result" : 0, "return" : 0 })"},
    {"AddressSpaceNameGet", R"("addressSpaceId" : 1)", R"({ "name" : "", "return" : 0 })"},
    {"TaskIsHiddenCheck", R"("taskId" : 1)", R"({ "result" : 0, "return" : 0 })"},
    {"TaskLsoGet", R"("taskId" : 1)", R"({ "offset" : 0, "return" : 0 })"},
    {"TaskTksaGet", R"("taskId" : 1)", R"({ "value" : 0, "return" : 0 })"},
    {"Poll", "", R"({ "return" : 0 })"},
    {"TargetNotify", R"("notice" : 1)", R"({ "return" : 0 })"},
    {"OsaCmd_Execute", R"("command" : "help")", R"({ "return" : 0 })"},
    {"GuiObjectCheck", R"("objTypeName" : "Task", "objTypeId" : 1, "visible" : 1)",
     R"({ "objTypeName" : "Task", "visible" : 1, "return" : 0 })"},
    {"ObjectChangedCheck", "", R"({ "changeMask" : 0, "return" : 0 })"},
    {"LifeCycleCountsGet", "", R"({ "count" : 0, "return" : 1 })"},
    {"PageTableGet", "", R"({ "count" : 0, "return" : 1 })"},
    {"MessageInject", R"("objTypeId" : 1, "objId" : 2, "message" : "hi")", R"({ "return" : 0 })"},
    {"KernelMemoryRegionsGet", "", R"({ "numRegions" : 0, "return" : 0 })"},
    {"HistoryLogDump", "", R"({ "return" : 0 })", false},
    {"Exit", "", R"({ "exitCode" : 0, "return" : 0 })", false},
    {"OsaCleanup", "", R"({ "return" : 0 })"},
};

class EmptySlotTest : public HandlerTest {};

// Every method once, in table order: the Exit row raises the exit flag only
// after its answer, and the rows after it still answer.
TEST_F(EmptySlotTest, EveryMethodAnswersItsPresets) {
  std::set<std::string> covered;
  for (const EmptySlotCase& row : kEmptySlotCases) {
    SCOPED_TRACE(row.method);
    covered.insert(std::string("OSA_Client_") + row.method);
    EXPECT_EQ(Call(row.method, WithContext(row.members)), row.answer);
  }
  for (const OsaMethodBinding& binding : OsaClientMethodTable()) {
    EXPECT_EQ(covered.count(binding.name), 1u) << binding.name;
  }
  EXPECT_EQ(covered.size(), 38u);
  EXPECT_TRUE(OsaExitRequested());
  EXPECT_EQ(OsaExitStatus(), 0);
}

TEST_F(EmptySlotTest, RequestsNamingNoRecordAnswerOne) {
  for (const EmptySlotCase& row : kEmptySlotCases) {
    if (!row.needsRecord) continue;
    SCOPED_TRACE(row.method);
    const std::string members = row.members;
    EXPECT_EQ(
        Call(row.method, R"({ "context" : 99)" + (members.empty() ? "" : ", " + members) + " }"),
        R"({ "return" : 1 })");
    EXPECT_EQ(Call(row.method, R"({ "context" : "7" })"), R"({ "return" : 1 })");
    EXPECT_EQ(Call(row.method, "[ 7 ]"), R"({ "return" : 1 })");
  }
}

TEST_F(EmptySlotTest, SecondCmdInitKeepsTheService) {
  const JrSendFunction send = OsaRpcService()->send;
  OsaCallbacks().poll = [](OSA_ServiceCntx*, OsaPluginInfo*, void*) { return 4; };
  OSA_Client_CmdInit(0, nullptr, [](const char*) -> const char* { return nullptr; });
  EXPECT_EQ(OsaRpcService()->send, send);
  EXPECT_EQ(Call("Poll", WithContext()), R"({ "return" : 4 })");
}

}  // namespace
}  // namespace handler_test
