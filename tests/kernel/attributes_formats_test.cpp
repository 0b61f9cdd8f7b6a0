// Value kinds the debugger's handlers never ask for, the callbacks without a
// kernel record, and the text form of thread-local-storage offsets beyond 32
// bits and below 0: the callbacks are called directly on the in-process
// plug-in's service record, their service requests answered by the model.
#include <string>
#include <vector>

#include "tests/kernel/attributes_session.h"

namespace attributes_test {
namespace {

class AttributeFormats : public KernelSessionTest {
 protected:
  OSA_ServiceCntx* Context() { return OsaContextFind(kContext); }

  // Opens a walk of `type` and moves it to the object named `name`.
  void StandOn(std::int32_t type, const std::string& name) {
    ASSERT_EQ(DbgObjectListInit(S(), kContext, type), 0);
    for (int step = 0; step < 64; ++step) {
      std::string here;
      ASSERT_EQ(DbgObjectListAttributeText(S(), kContext, type, 1, &here), 0);
      if (here == name) return;
      ASSERT_EQ(DbgObjectListNext(S(), kContext, type), 0);
    }
    FAIL() << name << " not in the ring";
  }

  // Asks attribute `attribute` as a float, a kind no row delivers.
  std::int32_t AskAsFloat(std::int32_t type, std::int32_t attribute) {
    OsaValue value;
    value.kind = OsaValueKind::Float;
    return KernelObjectListAttribute(Context(), &Context()->info, Kernel(), type, nullptr,
                                     attribute, &value);
  }

  // Messages shown since the latest call, then forgotten.
  std::vector<std::string> TakeMessages() {
    std::vector<std::string> texts = Messages();
    S()->service.messages.clear();
    return texts;
  }
};

const std::vector<std::string> kNone;
const std::vector<std::string> kPriorityError = {"Error: Unsupported priority data format\n"};
const std::vector<std::string> kTaskMemberError = {"Error: Unsupported task member data format\n"};
const std::vector<std::string> kMemberError = {"Error: Unsupported object member data format\n"};

TEST_F(AttributeFormats, UnsupportedKindsShowTheAttributesOwnMessage) {
  Open("v1-mask-core-32");
  struct Row {
    std::int32_t type;
    const char* object;
    std::int32_t attribute;
    const std::vector<std::string>& messages;
  };
  const Row rows[] = {
      {1, "lock_owner", 7, kPriorityError},  // waiters of owned mutexes
      {4, "rx_sem", 9, kPriorityError},      // pending tasks from the mask
      {3, "bus_lock", 25, kPriorityError},   // first waiter's priority
      {2, "blink", 13, kTaskMemberError},    // active
      {2, "blink", 12, kMemberError},        // remaining_ticks read straight
      {2, "oneshot", 12, kTaskMemberError},  // a stopped timer
      {1, "lock_owner", 0, kNone},           // identity: status 1, no message
      {1, "lock_owner", 5, kNone},           // text only
      {1, "lock_owner", 99, kNone},          // undefined
      {5, "cmd_queue", 43, kNone},           // plain figure
  };
  for (const Row& row : rows) {
    StandOn(row.type, row.object);
    TakeMessages();
    EXPECT_EQ(AskAsFloat(row.type, row.attribute), 1) << row.object << " " << row.attribute;
    EXPECT_EQ(TakeMessages(), row.messages) << row.object << " " << row.attribute;
    ASSERT_EQ(DbgObjectListCleanup(S(), kContext, row.type), 0);
  }
  // A running timer of a kernel that keeps its expiration tick.
  Open("v1-mask-core-64");
  ASSERT_FALSE(M().timerRemainingTicks);
  StandOn(2, "blink");
  TakeMessages();
  EXPECT_EQ(AskAsFloat(2, 12), 1);
  EXPECT_EQ(TakeMessages(), kTaskMemberError);
}

TEST_F(AttributeFormats, TaskStatusRefusesOtherKindsWithItsMessage) {
  Open("v3-32");
  OsaValue value;
  value.kind = OsaValueKind::Double;
  EXPECT_EQ(
      KernelTaskStatusGet(Context(), &Context()->info, Kernel(), M().tasks.front().address, &value),
      1);
  EXPECT_EQ(TakeMessages(),
            std::vector<std::string>{"Error: Unsupported task status data format\n"});
  value.kind = OsaValueKind::UInt32;
  EXPECT_EQ(
      KernelTaskStatusGet(Context(), &Context()->info, Kernel(), M().tasks.front().address, &value),
      0);
  EXPECT_EQ(value.payload, M().tasks.front().status);
}

TEST_F(AttributeFormats, EveryCallbackWithoutAKernelRecordFails) {
  Open("v1-mask-core-32");
  OSA_ServiceCntx* context = Context();
  OsaValue value;
  std::uint64_t task = 0;
  OsaGuiObjectInfo in;
  OsaGuiObjectInfo out;
  EXPECT_EQ(KernelObjectListAttribute(context, &context->info, nullptr, 1, nullptr, 0, &value), 1);
  EXPECT_EQ(KernelTaskNameGet(context, &context->info, nullptr, 0, &value), 1);
  EXPECT_EQ(KernelTaskStatusGet(context, &context->info, nullptr, 0, &value), 1);
  EXPECT_EQ(KernelCurrentTaskGet(context, &context->info, nullptr, -1, &task), 1);
  EXPECT_EQ(KernelTaskLsoGet(context, &context->info, nullptr, 0, 0, &value), 1);
  EXPECT_EQ(KernelTargetNotify(context, &context->info, nullptr, 0), 1);
  EXPECT_EQ(KernelOsaCmd_Execute(context, &context->info, nullptr, "get_task_table"), 1);
  EXPECT_EQ(KernelGuiObjectCheck(context, &context->info, nullptr, &in, &out), 1);
  // Type numbers outside the table have no walk to stand on.
  for (std::int32_t type : {0, 12, -1, 0x7FFFFFFF}) {
    EXPECT_EQ(
        KernelObjectListAttribute(context, &context->info, Kernel(), type, nullptr, 0, &value), 1);
  }
}

TEST_F(AttributeFormats, OffsetsBeyond32BitsAndBelowZeroAsText) {
  Open("v1-mask-core-32");
  const model::ManifestTask* worker = nullptr;
  for (const model::ManifestTask& task : M().tasks) {
    if (task.name == "net_worker") worker = &task;
  }
  ASSERT_NE(worker, nullptr);
  ASSERT_FALSE(worker->onStartupStack);
  struct Row {
    std::uint32_t stackStart;
    std::uint32_t stackSize;
    std::uint64_t tlsRwStart;
    std::string text;
    std::uint64_t number;
  };
  const Row rows[] = {
      {0xFFFF0000, 0x20000, 1, "0x10000ffff", 0x10000FFFF},
      {0x20001000, 0x400, 0x20001410, "0xfffffff0", 0xFFFFFFFFFFFFFFF0},
      {0x20001000, 0x400, 0x20000000, "0x1400", 0x1400},
  };
  for (const Row& row : rows) {
    WriteMember("QX_TASK", worker->address, "stack_start", row.stackStart);
    WriteMember("QX_TASK", worker->address, "stack_size", row.stackSize);
    Kernel()->tlsRwStart = row.tlsRwStart;
    ASSERT_EQ(DbgTargetNotify(S(), kContext, 0), 0);  // forget cached offsets
    ASSERT_EQ(DbgObjectListInit(S(), kContext, 1), 0);
    for (int step = 0; step < 64; ++step) {
      std::uint64_t here = 0;
      ASSERT_EQ(DbgObjectListAttributeNumber(S(), kContext, 1, 0, &here), 0);
      if (here == worker->address) break;
      ASSERT_EQ(DbgObjectListNext(S(), kContext, 1), 0);
    }
    std::string text;
    std::uint64_t number = 0;
    EXPECT_EQ(DbgObjectListAttributeText(S(), kContext, 1, 22, &text), 0);
    EXPECT_EQ(text, row.text);
    EXPECT_EQ(DbgObjectListAttributeNumber(S(), kContext, 1, 22, &number), 0);
    EXPECT_EQ(number, row.number);
  }
}

}  // namespace
}  // namespace attributes_test
