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
     "{ \"return\" : 0, \"versionAcknowledge\" : 2, \"translateAddressOnMasterProcess\" : 0, "
     "\"treatMasterProcessAsKernel\" : 1, \"fixOsaMemSpc\" : 0, \"fakeTidForMasterProcess\" : 0, "
     "\"commandCount\" : 3, \"commands\" : [ \"OSA_Client_OsaCleanup\", "
     "\"OSA_Client_HistoryLogDump\", \"OSA_Client_Exit\" ] }",
     false},
    {"TargetInit",
     "\"majorCpuType\" : 1, \"minorCpuType\" : 2, \"bigEndianTarget\" : 0, \"bigEndianHost\" : 0",
     "{ \"osaKernelMajorVersion\" : 0, \"osaKernelMinorVersion\" : 0, \"pageSize\" : 0, "
     "\"kernelInPhysicalAddress\" : 0, \"distinguishCpuModes\" : 1, \"fixOsaMemSpc\" : 0, "
     "\"noiceMask\" : 0, \"return\" : 0 }"},
    {"TargetCleanup", "", "{ \"return\" : 0 }"},
    {"ObjectListInit", "\"objTypeId\" : 1", "{ \"showObjectNumber\" : 1, \"return\" : 0 }"},
    {"ObjectListCleanup", "\"objTypeId\" : 1", "{ \"return\" : 0 }"},
    {"ObjectListNext", "\"objTypeId\" : 1", "{ \"return\" : 0 }"},
    {"ObjectListAttribute", "\"objTypeId\" : 1, \"objAtrId\" : 2, \"valueType\" : 0",
     "{ \"objAtrValue\" : \"\", \"return\" : 0 }"},
    {"TaskMemoryAccessSetup",
     "\"taskId\" : 1, \"memorySpace\" : 0, \"address\" : 16, \"count\" : 1, \"size\" : 4, "
     "\"read\" : 1",
     "{ \"return\" : 0 }"},
    {"TaskMemoryAccessRestore",
     "\"taskId\" : 1, \"memorySpace\" : 0, \"address\" : 16, \"count\" : 1, \"size\" : 4, "
     "\"read\" : 1",
     "{ \"return\" : 0 }"},
    {"TaskRegisterRead", "\"taskId\" : 1, \"register\" : 2", "{ \"value\" : 0, \"return\" : 0 }"},
    {"TaskRegisterWrite", "\"taskId\" : 1, \"register\" : 2, \"value\" : 3", "{ \"return\" : 0 }"},
    {"TaskAddressTranslate", "\"taskId\" : 1, \"memorySpace\" : 3, \"address\" : 4",
     "{ \"memorySpace\" : 3, \"address\" : 0, \"return\" : 0 }"},
    {"TaskNameGet", "\"taskId\" : 1", "{ \"name\" : \"\", \"return\" : 0 }"},
    {"TaskStatusGet", "\"taskId\" : 1", "{ \"status\" : \"\", \"return\" : 0 }"},
    {"TaskExecGet", "\"taskId\" : 1", "{ \"executable\" : \"\", \"return\" : 0 }"},
    {"TaskCpuGet", "\"taskId\" : 1", "{ \"cpu\" : \"\", \"return\" : 0 }"},
    {"TaskAddressSpaceGet", "\"taskId\" : 1, \"wantName\" : 0",
     "{ \"addressSpace\" : 0, \"return\" : 0 }"},
    {"TaskSymTabGet", "\"taskId\" : 1", "{ \"count\" : 0, \"return\" : 1 }"},
    {"TaskRelocatableGet", "\"taskId\" : 1",
     "{ \"text\" : 0, \"rodata\" : 0, \"data\" : 0, \"bss\" : 0, \"extra\" : 0, \"return\" : 0 }"},
    {"CurrentTaskGet", "\"checkInKernel\" : 1", "{ \"taskId\" : 0, \"return\" : 0 }"},
    {"TaskInKernelCheck", "\"taskId\" : 1", "{ \"result\" : 0, \"return\" : 0 }"},
    {"TaskInCurrentAddressSpaceCheck", "\"taskId\" : 1", "{ \"result\" : 0, \"return\" : 0 }"},
    {"AddressSpaceNameGet", "\"addressSpaceId\" : 1", "{ \"name\" : \"\", \"return\" : 0 }"},
    {"TaskIsHiddenCheck", "\"taskId\" : 1", "{ \"result\" : 0, \"return\" : 0 }"},
    {"TaskLsoGet", "\"taskId\" : 1", "{ \"offset\" : 0, \"return\" : 0 }"},
    {"TaskTksaGet", "\"taskId\" : 1", "{ \"value\" : 0, \"return\" : 0 }"},
    {"Poll", "", "{ \"return\" : 0 }"},
    {"TargetNotify", "\"notice\" : 1", "{ \"return\" : 0 }"},
    {"OsaCmd_Execute", "\"command\" : \"help\"", "{ \"return\" : 0 }"},
    {"GuiObjectCheck", "\"objTypeName\" : \"Task\", \"objTypeId\" : 1, \"visible\" : 1",
     "{ \"objTypeName\" : \"Task\", \"visible\" : 1, \"return\" : 0 }"},
    {"ObjectChangedCheck", "", "{ \"changeMask\" : 0, \"return\" : 0 }"},
    {"LifeCycleCountsGet", "", "{ \"count\" : 0, \"return\" : 1 }"},
    {"PageTableGet", "", "{ \"count\" : 0, \"return\" : 1 }"},
    {"MessageInject", "\"objTypeId\" : 1, \"objId\" : 2, \"message\" : \"hi\"",
     "{ \"return\" : 0 }"},
    {"KernelMemoryRegionsGet", "", "{ \"numRegions\" : 0, \"return\" : 0 }"},
    {"HistoryLogDump", "", "{ \"return\" : 0 }", false},
    {"Exit", "", "{ \"exitCode\" : 0, \"return\" : 0 }", false},
    {"OsaCleanup", "", "{ \"return\" : 0 }"},
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
        Call(row.method, "{ \"context\" : 99" + (members.empty() ? "" : ", " + members) + " }"),
        "{ \"return\" : 1 }");
    EXPECT_EQ(Call(row.method, "{ \"context\" : \"7\" }"), "{ \"return\" : 1 }");
    EXPECT_EQ(Call(row.method, "[ 7 ]"), "{ \"return\" : 1 }");
  }
}

TEST_F(EmptySlotTest, SecondCmdInitKeepsTheService) {
  const JrSendFunction send = OsaRpcService()->send;
  OsaCallbacks().poll = [](OSA_ServiceCntx*, OsaPluginInfo*, void*) { return 4; };
  OSA_Client_CmdInit(0, nullptr, [](const char*) -> const char* { return nullptr; });
  EXPECT_EQ(OsaRpcService()->send, send);
  EXPECT_EQ(Call("Poll", WithContext()), "{ \"return\" : 4 }");
}

}  // namespace
}  // namespace handler_test
