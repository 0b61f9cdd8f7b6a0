// Parameter and request-context decoding: integers only (true counts as
// absent), low-bit flags, 32-bit truncation, negative integers as unsigned
// values, defaults, and the request-scoped members of the service record.
#include <cstdint>
#include <string>

#include "tests/osa/handler_harness.h"

namespace handler_test {
namespace {

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
