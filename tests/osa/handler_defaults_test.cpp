// Every client method with an empty callback table (the presets it answers
// with, in member order, and the "return": 1 of a request naming no record),
// and the decoding of parameters and request-context members: integers only
// (true counts as absent), low-bit flags, 32-bit truncation, negative
// integers as unsigned values, defaults.
#include <cstdint>
#include <cstring>
#include <iterator>
#include <set>
#include <span>
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

// Registration order, the order OsaInit reports, leaves slot order at rows
// 18/19 and 23 to 26; with every slot set OsaInit lists all rows in it.
TEST_F(EmptySlotTest, RowsFollowRegistrationOrder) {
  constexpr std::int32_t kSlotOfRow[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                         13, 14, 15, 16, 17, 19, 18, 20, 21, 22, 26, 23, 24,
                                         25, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37};
  const std::span<const OsaMethodBinding> table = OsaClientMethodTable();
  ASSERT_EQ(table.size(), std::size(kSlotOfRow));
  std::string commands;
  for (std::size_t row = 0; row < table.size(); ++row) {
    EXPECT_EQ(table[row].slot, kSlotOfRow[row]) << table[row].name;
    commands += std::string(row == 0 ? "" : ", ") + '"' + table[row].name + '"';
  }

  // Only the OsaInit callback runs here, so the other slots need only be set.
  const OsaUnusedCallback any = [] { return std::int32_t{0}; };
  for (int slot = 0; slot < kOsaSlotCount; ++slot) {
    std::memcpy(reinterpret_cast<char*>(&OsaCallbacks()) + slot * sizeof any, &any, sizeof any);
  }
  OsaCallbacks().osaInit = [](OSA_ServiceCntx*, OsaPluginInfo*) { return 0; };
  opened.push_back(8);
  EXPECT_NE(Call("OsaInit", R"({ "context" : 8 })")
                .find(R"("commandCount" : 38, "commands" : [ )" + commands + " ] }"),
            std::string::npos);
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

struct MemoryAccessArgs {
  std::uint64_t taskId = 0;
  std::int32_t memorySpace = 0;
  OsaTargetAddress address;
  std::int32_t count = 0, size = 0, read = 0;
  int calls = 0;
};
MemoryAccessArgs gAccess;

// The request-scoped state of the record as a callback sees it.
struct RequestState {
  bool inUserMode, abortAction, vexloInValidation, traecIsActive;
  std::int64_t hostCoreIndex;
  std::uint8_t unifiedMcOsa, mcIsFrozen;
};
RequestState gState;

class ParamTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    gAccess = {};
    OsaCallbacks().taskMemoryAccessSetup =
        [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t taskId, std::int32_t memorySpace,
           OsaTargetAddress address, std::int32_t count, std::int32_t size, std::int32_t read) {
          gAccess = {taskId, memorySpace, address, count, size, read, gAccess.calls + 1};
          return 0;
        };
    OsaCallbacks().poll = [](OSA_ServiceCntx* c, OsaPluginInfo*, void*) {
      gState = {c->inUserMode,    c->abortAction,  c->vexloInValidation, c->traecIsActive,
                c->hostCoreIndex, c->unifiedMcOsa, c->mcIsFrozen};
      return 0;
    };
  }
};

TEST_F(ParamTest, MemoryAccessTakesLowBitsAndUnsignedIds) {
  // count 2^32 + 2^31 + 5 and size 2^31 arrive as their low 32 bits,
  // sign-extended; a negative task id is the unsigned value with its bits.
  EXPECT_EQ(Call("TaskMemoryAccessSetup",
                 WithContext(R"("taskId" : -2, "memorySpace" : 4294967299, )"
                             R"("address" : 81985529216486895, "count" : 6442450949, )"
                             R"("size" : 2147483648, "read" : 1)")),
            R"({ "return" : 0 })");
  EXPECT_EQ(gAccess.taskId, 0xFFFFFFFFFFFFFFFEu);
  EXPECT_EQ(gAccess.memorySpace, 3);
  EXPECT_EQ(gAccess.address.low, 0x89ABCDEFu);
  EXPECT_EQ(gAccess.address.high, 0x01234567u);
  EXPECT_EQ(gAccess.count, static_cast<std::int32_t>(0x80000005u));
  EXPECT_EQ(gAccess.size, INT32_MIN);
  EXPECT_EQ(gAccess.read, 1);
}

TEST_F(ParamTest, RequiredMembersMustBeIntegers) {
  const char* const kBadMembers[] = {
      R"("taskId" : true, "memorySpace" : 0, "address" : 0, "count" : 1, "size" : 1)",
      R"("taskId" : 1, "memorySpace" : "0", "address" : 0, "count" : 1, "size" : 1)",
      R"("taskId" : 1, "memorySpace" : 0, "address" : null, "count" : 1, "size" : 1)",
      R"("taskId" : 1, "memorySpace" : 0, "address" : 0, "count" : 1)",
  };
  for (const char* members : kBadMembers) {
    SCOPED_TRACE(members);
    EXPECT_EQ(Call("TaskMemoryAccessSetup", WithContext(std::string(members) + R"(, "read" : 1)")),
              R"({ "return" : 1 })");
  }
  EXPECT_EQ(gAccess.calls, 0);
}

TEST_F(ParamTest, RequestContextMembersAndTheirDefaults) {
  Call("Poll", WithContext(R"("inUserMode" : 2, "abortAction" : -1, "vexloInValidation" : 1, )"
                           R"("hostCoreId" : 3, "unifiedMcOsa" : 5, "mcIsFrozen" : 1, )"
                           R"("traecIsActive" : 1)"));
  EXPECT_TRUE(gState.inUserMode && gState.abortAction && gState.vexloInValidation);
  EXPECT_EQ(gState.hostCoreIndex, 2);
  EXPECT_EQ(gState.unifiedMcOsa, 1);
  EXPECT_EQ(gState.mcIsFrozen, 1);
  EXPECT_TRUE(gState.traecIsActive);

  // Absent members fall back to their defaults, except traecIsActive, which
  // keeps its value; true counts as absent.
  Call("Poll", WithContext(R"("inUserMode" : true, "hostCoreId" : 0)"));
  EXPECT_FALSE(gState.inUserMode || gState.abortAction || gState.vexloInValidation);
  EXPECT_EQ(gState.hostCoreIndex, -1);
  EXPECT_EQ(gState.unifiedMcOsa + gState.mcIsFrozen, 0);
  EXPECT_TRUE(gState.traecIsActive);
  Call("Poll", WithContext(R"("traecIsActive" : 0)"));
  EXPECT_FALSE(gState.traecIsActive);
}

TEST_F(ParamTest, TargetInitFlagsReadLowBitOrNonZero) {
  Call("TargetInit", WithContext(R"("majorCpuType" : 1, "minorCpuType" : 1, )"
                                 R"("bigEndianTarget" : 2, "bigEndianHost" : 3, )"
                                 R"("logCommunication" : 4, "isSimulator" : 2)"));
  EXPECT_FALSE(Record()->bigEndianTarget);
  EXPECT_TRUE(Record()->bigEndianHost);
  EXPECT_FALSE(Record()->logCommunication);
  EXPECT_TRUE(Record()->isSimulator);
}

TEST_F(ParamTest, TextsFromTheDebuggerPassThroughUnformatted) {
  OsaCallbacks().guiObjectCheck = [](OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                     const OsaGuiObjectInfo* in, OsaGuiObjectInfo* out) {
    out->typeName = *in->typeName + "%d";
    out->visible = in->visible + 1;
    return 0;
  };
  EXPECT_EQ(Call("GuiObjectCheck", WithContext(R"("objTypeName" : "%s%n%x", "objTypeId" : 1, )"
                                               R"("visible" : 4294967294)")),
            R"({ "objTypeName" : "%s%n%x%d", "visible" : -1, "return" : 0 })");
  EXPECT_EQ(Call("GuiObjectCheck", WithContext(R"("objTypeId" : 4, "visible" : 1)")),
            R"({ "return" : 1 })");
}

}  // namespace
}  // namespace handler_test
