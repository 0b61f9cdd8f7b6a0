// Service records and nested requests: shadowing by a second OsaInit, and
// debugger requests dispatched while a callback waits for the debugger's
// answer (same record, another record, a nested OsaCleanup or OsaInit). The
// outer request's state must come back and nothing may read a released tree
// or record (run under ASan).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jsonrpc/client.h"
#include "tests/osa/handler_harness.h"

namespace handler_test {
namespace {

constexpr const char* kPlainAnswer = R"({ "jsonrpc" : "2.0", "result" : { "return" : 0 }, )"
                                     R"("id" : 0 })";

// The request-scoped view of a record, to compare before and after a wait.
struct ScopedState {
  bool inUserMode, abortAction, vexloInValidation;
  std::int64_t hostCoreIndex;
  std::uint8_t unifiedMcOsa, mcIsFrozen;
  const JsonValue* currentParams;
  const JsonValue* currentResult;

  bool operator==(const ScopedState&) const = default;
};

ScopedState StateOf(const OSA_ServiceCntx* context) {
  return {context->inUserMode,    context->abortAction,  context->vexloInValidation,
          context->hostCoreIndex, context->unifiedMcOsa, context->mcIsFrozen,
          context->currentParams, context->currentResult};
}

// What the callbacks do and saw; one hook per callback, set per test.
struct Hooks {
  std::function<void(OSA_ServiceCntx*)> onName, onStatus, onPoll, onInit;
  std::vector<std::string> nestedAnswers;
  int released = 0;
};
Hooks gHooks;

int gKernelRecord = 0;

// Sends one service request; the scripted debugger serves its steps meanwhile.
bool WaitForDebugger() {
  JsonPtr result;
  return JrSendRequest(OsaRpcService(), "OSA_Service_TargetStatus", JsonNewObject(), &result);
}

// A debugger that, while the plug-in waits, sends the given requests and then
// answers the wait.
void DebuggerSendsMeanwhile(std::vector<std::pair<std::string, std::string>> requests) {
  Peer().steps.emplace_back([requests]() {
    for (const auto& [method, params] : requests) {
      gHooks.nestedAnswers.push_back(Call(method, params));
    }
    return std::string(kPlainAnswer);
  });
}

std::int32_t RunHook(const std::function<void(OSA_ServiceCntx*)>& hook, OSA_ServiceCntx* context) {
  if (hook) hook(context);
  return 0;
}

class NestingTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    gHooks = Hooks{};
    OsaPluginCallbacks& table = OsaCallbacks();
    table.taskNameGet = [](OSA_ServiceCntx* context, OsaPluginInfo*, void*, std::uint64_t,
                           OsaValue* value) {
      value->text = "outer";
      return RunHook(gHooks.onName, context);
    };
    table.taskStatusGet = [](OSA_ServiceCntx* context, OsaPluginInfo*, void*, std::uint64_t,
                             OsaValue*) { return RunHook(gHooks.onStatus, context); };
    table.poll = [](OSA_ServiceCntx* context, OsaPluginInfo*, void*) {
      return RunHook(gHooks.onPoll, context);
    };
    table.osaInit = [](OSA_ServiceCntx* context, OsaPluginInfo*) {
      return RunHook(gHooks.onInit, context);
    };
    table.targetInit = [](OSA_ServiceCntx*, OsaPluginInfo*, OsaPrivateData* place) {
      *place = OsaPrivateData(&gKernelRecord, OsaPrivateDeleter{[](void*) { ++gHooks.released; }});
      return 0;
    };
  }

  void GiveKernelRecord() {
    ASSERT_NE(Call("TargetInit", WithContext(R"("majorCpuType" : 1, "minorCpuType" : 1, )"
                                             R"("bigEndianTarget" : 0, "bigEndianHost" : 0)"))
                  .find(R"("return" : 0 })"),
              std::string::npos);
  }

  static void ExpectNoSlots(const OSA_ServiceCntx* context) {
    EXPECT_EQ(context->currentParams, nullptr);
    EXPECT_EQ(context->previousParams, nullptr);
    EXPECT_EQ(context->currentResult, nullptr);
    EXPECT_EQ(context->previousResult, nullptr);
  }
};

TEST_F(NestingTest, NewerRecordShadowsOlderUntilCleanedUp) {
  OSA_ServiceCntx* older = Record();
  OSA_ServiceCntx* newer = Open(kHandle, R"("showHiddenTasks" : 1)");
  ASSERT_NE(older, newer);
  OSA_ServiceCntx* reached = nullptr;
  gHooks.onPoll = [&reached](OSA_ServiceCntx* context) { reached = context; };
  Call("Poll", WithContext());
  EXPECT_EQ(reached, newer);
  EXPECT_EQ(Call("OsaCleanup", WithContext()), R"({ "return" : 0 })");
  Call("Poll", WithContext());
  EXPECT_EQ(reached, older);
  EXPECT_EQ(older->showHiddenTasks, 0);
}

TEST_F(NestingTest, OuterStateComesBackAfterNestedRequests) {
  Open(8);
  ScopedState before{};
  ScopedState after{};
  ScopedState nested{};
  gHooks.onName = [&](OSA_ServiceCntx* context) {
    before = StateOf(context);
    DebuggerSendsMeanwhile({{"TaskStatusGet", WithContext(R"("taskId" : 2, "hostCoreId" : 5)")},
                            {"Poll", R"({ "context" : 8, "inUserMode" : 1 })"},
                            {"TaskStatusGet", WithContext(R"("taskId" : 3)")}});
    EXPECT_TRUE(WaitForDebugger());
    after = StateOf(context);
  };
  gHooks.onStatus = [&](OSA_ServiceCntx* context) { nested = StateOf(context); };
  EXPECT_EQ(Call("TaskNameGet", WithContext(R"("taskId" : 1, "inUserMode" : 1, "abortAction" : 1, )"
                                            R"("vexloInValidation" : 1, "hostCoreId" : 2, )"
                                            R"("unifiedMcOsa" : 1, "mcIsFrozen" : 1)")),
            R"({ "name" : "outer", "return" : 0 })");
  EXPECT_EQ(gHooks.nestedAnswers.at(1), R"({ "return" : 0 })");
  EXPECT_TRUE(before.inUserMode && before.abortAction && before.mcIsFrozen);
  EXPECT_NE(before.currentResult, nullptr);
  EXPECT_TRUE(after == before);
  EXPECT_FALSE(nested.inUserMode);
  EXPECT_EQ(nested.hostCoreIndex, -1);
  EXPECT_EQ(OsaRequestNesting(), 0);
  ExpectNoSlots(Record());
  ExpectNoSlots(OsaContextFind(8));
}

TEST_F(NestingTest, RequestOnAnotherRecordDoesNotReviveItsAnsweredRequest) {
  OSA_ServiceCntx* other = Open(8);
  Call("Poll", R"({ "context" : 8, "inUserMode" : 1 })");
  gHooks.onName = [](OSA_ServiceCntx*) {
    DebuggerSendsMeanwhile({{"Poll", R"({ "context" : 8 })"}});
    EXPECT_TRUE(WaitForDebugger());
  };
  testing::internal::CaptureStderr();
  Call("TaskNameGet", WithContext(R"("taskId" : 1)"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(other->inUserMode);
  ExpectNoSlots(other);
}

TEST_F(NestingTest, NestedCleanupKeepsTheOuterRecordAlive) {
  GiveKernelRecord();
  OSA_ServiceCntx* outerSeen = nullptr;
  gHooks.onPoll = [&outerSeen](OSA_ServiceCntx* context) {
    outerSeen = context;
    DebuggerSendsMeanwhile({{"TaskNameGet", WithContext(R"("taskId" : 1)")}});
    EXPECT_TRUE(WaitForDebugger());
    // The record left the list but is still the outer request's to use.
    EXPECT_EQ(OsaContextFind(kHandle), nullptr);
    EXPECT_EQ(gHooks.released, 0);
    EXPECT_NE(context->privateData, nullptr);
    EXPECT_EQ(context->contextHandle, kHandle);
  };
  gHooks.onName = [](OSA_ServiceCntx* context) {
    DebuggerSendsMeanwhile({{"OsaCleanup", WithContext()}});
    EXPECT_TRUE(WaitForDebugger());
    EXPECT_EQ(context->contextHandle, kHandle);
  };
  testing::internal::CaptureStderr();
  EXPECT_EQ(Call("Poll", WithContext(R"("inUserMode" : 1)")), R"({ "return" : 0 })");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Got different OSA_ServiceCntx at restoration.\n");
  EXPECT_NE(outerSeen, nullptr);
  EXPECT_EQ(
      gHooks.nestedAnswers,
      (std::vector<std::string>{R"({ "return" : 0 })", R"({ "name" : "outer", "return" : 0 })"}));
  EXPECT_EQ(gHooks.released, 1);
  EXPECT_EQ(OsaRequestNesting(), 0);
}

// A nested TargetCleanup or TargetInit takes the kernel record off the
// service record; the outer callback still holds it until it returns.
TEST_F(NestingTest, NestedTargetCleanupOrInitKeepsTheOuterKernelRecord) {
  const std::string targetParams = WithContext(R"("majorCpuType" : 1, "minorCpuType" : 1, )"
                                               R"("bigEndianTarget" : 0, "bigEndianHost" : 0)");
  for (const auto& step :
       {std::pair{"TargetCleanup", WithContext()}, std::pair{"TargetInit", targetParams}}) {
    SCOPED_TRACE(step.first);
    GiveKernelRecord();
    gHooks.released = 0;
    int releasedDuringCallback = -1;
    gHooks.onStatus = [&](OSA_ServiceCntx*) {
      DebuggerSendsMeanwhile({step});
      EXPECT_TRUE(WaitForDebugger());
      releasedDuringCallback = gHooks.released;
    };
    EXPECT_EQ(Call("TaskStatusGet", WithContext(R"("taskId" : 1)")),
              R"({ "status" : "", "return" : 0 })");
    EXPECT_EQ(releasedDuringCallback, 0);
    EXPECT_EQ(gHooks.released, 1);
    Call("TargetCleanup", WithContext());
  }
}

TEST_F(NestingTest, NestedOsaInitShadowsWithoutLeavingStaleSlots) {
  OSA_ServiceCntx* outer = Record();
  gHooks.onPoll = [outer](OSA_ServiceCntx* context) {
    EXPECT_EQ(context, outer);
    DebuggerSendsMeanwhile({{"TaskNameGet", WithContext(R"("taskId" : 1)")}});
    EXPECT_TRUE(WaitForDebugger());
  };
  gHooks.onName = [this](OSA_ServiceCntx*) {
    opened.push_back(kHandle);
    DebuggerSendsMeanwhile({{"OsaInit", WithContext()}});
    EXPECT_TRUE(WaitForDebugger());
  };
  testing::internal::CaptureStderr();
  EXPECT_EQ(Call("Poll", WithContext()), R"({ "return" : 0 })");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Got different OSA_ServiceCntx at restoration.\n");
  // The restoration put the outer request into the newer record; answering
  // the outer request cleared it there too.
  OSA_ServiceCntx* newer = Record();
  EXPECT_NE(newer, outer);
  ExpectNoSlots(newer);
  ExpectNoSlots(outer);
}

TEST_F(NestingTest, RequestsInsideOsaInitAndItsOwnCleanup) {
  opened.push_back(9);
  gHooks.onInit = [](OSA_ServiceCntx* context) {
    DebuggerSendsMeanwhile(
        {{"Poll", R"({ "context" : 9 })"}, {"OsaCleanup", R"({ "context" : 9 })"}});
    EXPECT_TRUE(WaitForDebugger());
    context->info.fakeTidForMasterProcess = 12;
  };
  const std::string answer = Call("OsaInit", R"({ "context" : 9 })");
  EXPECT_EQ(answer.rfind(R"({ "return" : 0, )", 0), 0u) << answer;
  EXPECT_NE(answer.find(R"("fakeTidForMasterProcess" : 12)"), std::string::npos) << answer;
  EXPECT_EQ(gHooks.nestedAnswers,
            (std::vector<std::string>{R"({ "return" : 0 })", R"({ "return" : 0 })"}));
  EXPECT_EQ(OsaContextFind(9), nullptr);
}

TEST_F(NestingTest, SameRecordTwoLevelsDeepRestoresEachLevel) {
  std::vector<ScopedState> seen;
  gHooks.onPoll = [&seen](OSA_ServiceCntx* context) {
    seen.push_back(StateOf(context));
    DebuggerSendsMeanwhile({{"TaskNameGet", WithContext(R"("taskId" : 1, "hostCoreId" : 2)")}});
    EXPECT_TRUE(WaitForDebugger());
    seen.push_back(StateOf(context));
  };
  gHooks.onName = [&seen](OSA_ServiceCntx* context) {
    seen.push_back(StateOf(context));
    DebuggerSendsMeanwhile({{"TaskStatusGet", WithContext(R"("taskId" : 1, "abortAction" : 1)")}});
    EXPECT_TRUE(WaitForDebugger());
    seen.push_back(StateOf(context));
  };
  testing::internal::CaptureStderr();
  Call("Poll", WithContext(R"("inUserMode" : 1)"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_TRUE(seen[0] == seen[3]);
  EXPECT_TRUE(seen[1] == seen[2]);
  EXPECT_TRUE(seen[0].inUserMode);
  EXPECT_EQ(seen[1].hostCoreIndex, 1);
  EXPECT_FALSE(seen[1].abortAction);
  ExpectNoSlots(Record());
}

}  // namespace
}  // namespace handler_test
