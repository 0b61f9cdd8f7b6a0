// Object attributes, task names, states and offsets, the object windows and
// the "get_task_table" command through the whole plug-in against the model
// kernel of every build variant, compared with the model's manifest; then
// the cases a variant does not reach, made by changing the model's memory.
#include <bit>
#include <optional>
#include <string>
#include <vector>

#include "kernel/attribute_ids.h"
#include "kernel/attributes.h"
#include "kernel/task_status.h"
#include "tests/kernel/kernel_harness.h"

namespace kernel_test {
namespace {

using A = AttributeId;
constexpr std::int32_t kIdentity = AttributeNumber(A::kIdentity);

// One attribute as the debugger should see it; nullopt where it must fail.
struct Expected {
  AttributeId attribute;
  std::optional<std::string> text;
  std::optional<std::uint64_t> number;
};

Expected Num(AttributeId attribute, std::uint64_t x) {
  return {attribute, std::to_string(x), x};
}
Expected HexNum(AttributeId attribute, std::uint64_t x) {
  return {attribute, Hex(x), x};
}
Expected Text(AttributeId attribute, std::string text) {
  return {attribute, text, std::nullopt};
}
Expected Fails(AttributeId attribute) {
  return {attribute, std::nullopt, std::nullopt};
}
Expected Undefined(AttributeId attribute) {
  return Text(attribute, "(Undefined Attribute)");
}
// Empty text for a zero or absent value, with or without a number.
Expected NumOrEmpty(AttributeId attribute, bool shown, std::uint64_t x, bool zeroNumber) {
  if (shown) return Num(attribute, x);
  return {attribute, "", zeroNumber ? std::optional<std::uint64_t>(0) : std::nullopt};
}

struct StateRow {
  std::uint32_t code;
  const char* version1;
  const char* version3;
};
constexpr StateRow kStates[] = {
    {0, "Ready", "Ready"},
    {1, "Exited", "Exited"},
    {2, "Halted", "Halted"},
    {3, "Pended (sleep)", "Pended (sleep)"},
    {4, "Pended (queue)", "Pended (queue)"},
    {5, "Pended (semaphore)", "Pended (semaphore)"},
    {6, "Pended (event flags)", "Pended (event flags)"},
    {7, "Pended (block pool)", "Pended (mutex)"},
    {8, "Pended (mutex)", "Pended (mutex)"},
    {9, "Pended (malloc pool)", "Pended (malloc pool)"},
    {10, "Unknown", "Unknown"},
    {0xFFFFFFFF, "Unknown", "Unknown"},
};

std::string StateText(const model::KernelManifest& m, std::uint32_t code, bool running) {
  if (code == 0 && running) return "Running";
  const StateRow& row = kStates[code < 10 ? code : 10];
  return m.version == 3 ? row.version3 : row.version1;
}

const model::ManifestTask* FindTask(const model::KernelManifest& m, std::uint64_t address) {
  for (const model::ManifestTask& task : m.tasks) {
    if (task.address == address) return &task;
  }
  return nullptr;
}

// "0x<core> (<name>)", or the address alone for an object without a name.
std::string Reference(std::uint32_t core, const std::string& name) {
  return name.empty() ? Hex(core) : Hex(core) + " (" + name + ")";
}

std::vector<Expected> TaskExpectations(const model::KernelManifest& m,
                                       const model::ManifestTask& t) {
  const std::uint64_t tls = static_cast<std::uint64_t>(t.tlsOffset);
  std::vector<Expected> rows = {
      HexNum(A::kIdentity, t.address),
      Text(A::kName, t.name),
      {A::kTaskState, StateText(m, t.status, t.running), t.status},
      Num(A::kStaticPriority, t.staticPriority),
      NumOrEmpty(A::kActivePriority, t.activePriority != t.staticPriority, t.activePriority, false),
      Num(A::kOwnedMutexCount, t.ownedMutexCount),
      Num(A::kMutexWaiters, m.version == 3 ? 0 : std::popcount(t.mutexWaitersMask)),
      Num(A::kStackSize, t.stackSize),
      Fails(A::kPendingTaskCount),
      HexNum(A::kStackStart, t.stackStart),
      NumOrEmpty(A::kPreemptionThreshold, t.preemptThreshold != t.staticPriority,
                 t.preemptThreshold, false),
      Num(A::kTimeSlice, t.timeSlice),
      Num(A::kRemainingTimeSlice, t.remainingTimeSlice),
      NumOrEmpty(A::kWaitTicks, t.waitTimerActive, t.waitTicksLeft, true),
      {A::kTlsOffset,
       t.tlsOffset < (std::int64_t{1} << 32) ? Hex(static_cast<std::uint32_t>(tls)) : Hex(tls),
       tls},
      // Attributes of other kinds are undefined for a task.
      Undefined(A::kRemainingTicks),
      Undefined(A::kSemaphoreCount),
  };
  std::string parent;
  for (const model::ManifestObject& object : m.objects) {
    if (t.pendedOn != 0 && object.coreAddress == t.pendedOn) parent = object.name;
  }
  rows.push_back(Text(A::kPendedOn, t.pendedOn == 0 ? "" : Reference(t.pendedOn, parent)));
  const bool exitShown = t.status == 1 && !(m.hasTerminated && t.terminated);
  rows.push_back(exitShown ? HexNum(A::kExitCode, t.exitCode) : Text(A::kExitCode, ""));
  return rows;
}

std::uint64_t Field(const model::ManifestObject& object, std::string_view name) {
  const model::ManifestField* field = model::FindManifestField(object, name);
  EXPECT_NE(field, nullptr) << object.name << ": no field " << name;
  return field == nullptr ? 0 : field->value;
}

// The attributes that show one manifest field as it is, per object list.
struct PlainFigure {
  std::uint32_t list;
  AttributeId attribute;
  const char* field;
  bool hex;
};
constexpr PlainFigure kPlainFigures[] = {
    {4, A::kSemaphoreCount, "count", false},
    {5, A::kMessageCount, "num_msgs", false},
    {5, A::kQueueCapacity, "capacity", false},
    {5, A::kMessageSize, "msg_size", false},
    {6, A::kFlags, "flags", true},
    {6, A::kRequestedFlags, "requested_flags", true},
    {7, A::kBlockSize, "block_size", false},
    {7, A::kAvailableBlocks, "available_blocks", false},
    {7, A::kTotalBlocks, "total_blocks", false},
    {8, A::kAvailableBytes, "available_bytes", false},
    {8, A::kPoolSize, "buf_size", false},
    {8, A::kFragments, "fragments", false},
    {3, A::kNestingCount, "nesting_count", false},
    {3, A::kPriorityInherit, "priority_inherit", false},
    {2, A::kTimerActive, "active", false},
    {2, A::kAlarmTicks, "alarm_ticks", false},
    {2, A::kRepeating, "repeating", false},
    {2, A::kExpirationInput, "expiration_input", true},
};

std::vector<Expected> ObjectExpectations(const model::KernelManifest& m,
                                         const model::ManifestObject& o) {
  std::vector<Expected> rows = {HexNum(A::kIdentity, o.address), Text(A::kName, o.name),
                                Undefined(static_cast<AttributeId>(99))};
  const bool waiting = !o.waiters.empty();
  rows.push_back(o.listIndex == 2 ? Fails(A::kPendingTaskCount)
                                  : Num(A::kPendingTaskCount, o.waiters.size()));
  for (const PlainFigure& figure : kPlainFigures) {
    if (figure.list != o.listIndex) continue;
    const std::uint64_t x = Field(o, figure.field);
    rows.push_back(figure.hex ? HexNum(figure.attribute, x) : Num(figure.attribute, x));
  }
  switch (o.listIndex) {
    case 2:  // timers
      rows.push_back(
          NumOrEmpty(A::kRemainingTicks, Field(o, "active") != 0, Field(o, "ticks_left"), true));
      rows.push_back(Text(A::kExpirationRoutine, o.routine));
      // Kernels with "alarm_repeat" have no repeat count: the empty answer.
      rows.push_back(m.timerRepeatTicks ? NumOrEmpty(A::kRepeatTicks, Field(o, "repeat_ticks") != 0,
                                                     Field(o, "repeat_ticks"), true)
                                        : Text(A::kRepeatTicks, ""));
      rows.push_back(Undefined(A::kStaticPriority));
      break;
    case 3: {  // mutexes
      const model::ManifestTask* owner = FindTask(m, Field(o, "owner"));
      rows.push_back(
          Text(A::kOwner, owner == nullptr ? "" : Reference(owner->coreAddress, owner->name)));
      if (!waiting) {
        rows.push_back(Text(A::kInheritedPriority, ""));
      } else if (m.pendIsList) {
        rows.push_back(Num(A::kInheritedPriority, Field(o, "inherited_priority_shown")));
      } else {
        // Mask kernels show the priority of the waiter with the lowest task
        // number, the first one in the mask.
        rows.push_back(Num(A::kInheritedPriority, FindTask(m, o.waiters.front())->staticPriority));
      }
      break;
    }
    case 8:
      rows.push_back(NumOrEmpty(A::kSmallestPendingAllocation, waiting,
                                Field(o, "min_pending_allocation_size"), false));
      break;
    default:
      break;
  }
  return rows;
}

class AttributesByVariant : public ModelTarget,
                            public testing::WithParamInterface<std::string_view> {
 protected:
  void SetUp() override { ASSERT_TRUE(Start(GetParam())); }

  void Check(std::int32_t type, const std::vector<Expected>& rows, const std::string& label) {
    for (const Expected& row : rows) {
      const std::int32_t attribute = AttributeNumber(row.attribute);
      SCOPED_TRACE(label + " attribute " + std::to_string(attribute));
      std::string text = "unset";
      const std::int32_t textStatus =
          DbgObjectListAttributeText(S(), kContext, type, attribute, &text);
      EXPECT_EQ(textStatus == 0, row.text.has_value()) << text;
      if (row.text) {
        EXPECT_EQ(text, *row.text);
      }
      std::uint64_t number = 0xDEAD;
      const std::int32_t numberStatus =
          DbgObjectListAttributeNumber(S(), kContext, type, attribute, &number);
      EXPECT_EQ(numberStatus == 0, row.number.has_value()) << "number";
      if (row.number) {
        EXPECT_EQ(number, *row.number);
      }
    }
  }

  // The attribute-0 number of the object the walk stands on.
  std::uint64_t Identity(std::int32_t type) {
    std::uint64_t address = 0;
    EXPECT_EQ(DbgObjectListAttributeNumber(S(), kContext, type, kIdentity, &address), 0);
    return address;
  }
};

TEST_P(AttributesByVariant, EveryTaskMatchesTheManifest) {
  const model::KernelManifest& m = model.manifest;
  const std::int32_t type = m.pendIsList ? 9 : 1;
  std::string text;
  EXPECT_NE(DbgObjectListAttributeText(S(), kContext, type, kIdentity, &text), 0) << "no walk open";
  std::size_t visited = 0;
  DbgObjectListWalk(S(), kContext, type, [&] {
    const model::ManifestTask* task = FindTask(m, Identity(type));
    EXPECT_NE(task, nullptr);
    if (task == nullptr) return false;
    ++visited;
    Check(type, TaskExpectations(m, *task), task->name);
    return true;
  });
  EXPECT_EQ(visited, m.tasks.size());
  for (const model::ManifestTask& task : m.tasks) {
    SCOPED_TRACE(task.name);
    std::string name;
    std::string state;
    std::int64_t offset = 0;
    EXPECT_EQ(DbgTaskNameGet(S(), kContext, task.address, &name), 0);
    EXPECT_EQ(name, task.name);
    EXPECT_EQ(DbgTaskStatusGet(S(), kContext, task.address, &state), 0);
    EXPECT_EQ(state, StateText(m, task.status, task.running));
    EXPECT_EQ(DbgTaskLsoGet(S(), kContext, task.address, &offset), 0);
    EXPECT_EQ(offset, task.tlsOffset);
  }
  std::uint64_t current = 0;
  EXPECT_EQ(DbgCurrentTaskGet(S(), kContext, &current), 0);
  EXPECT_EQ(current, m.runningTask);
  EXPECT_TRUE(Messages().empty()) << testing::PrintToString(Messages());
}

TEST_P(AttributesByVariant, EveryObjectMatchesTheManifest) {
  const model::KernelManifest& m = model.manifest;
  for (std::uint32_t list = 2; list <= 8; ++list) {
    const std::int32_t type =
        static_cast<std::int32_t>(m.pendIsList && list <= 3 ? list + 8 : list);
    std::size_t expected = 0;
    for (const model::ManifestObject& object : m.objects) {
      if (object.listIndex == list && object.coreAddress != 0) ++expected;
    }
    std::size_t visited = 0;
    DbgObjectListWalk(S(), kContext, type, [&] {
      const std::uint64_t address = Identity(type);
      for (const model::ManifestObject& object : m.objects) {
        if (object.address != address) continue;
        ++visited;
        Check(type, ObjectExpectations(m, object), object.name);
        return true;
      }
      ADD_FAILURE() << "unknown object " << Hex(address);
      return false;
    });
    EXPECT_EQ(visited, expected) << "list " << list;
  }
  EXPECT_TRUE(Messages().empty()) << testing::PrintToString(Messages());
}

TEST_P(AttributesByVariant, WindowsFollowTheKernelLayout) {
  const bool list = model.manifest.pendIsList;
  const char* const kListNames[] = {"Task", "Timer", "Mutex"};
  for (std::int32_t type = 1; type <= 11; ++type) {
    const std::string asked = "window " + std::to_string(type);
    const bool pool = type == 7 || type == 8;
    const bool visible = (!pool || model.manifest.hasPoolCore) && (list ? type > 3 : type < 9);
    std::string shownName;
    std::int32_t shownVisible = -1;
    ASSERT_EQ(DbgGuiObjectCheck(S(), kContext, asked, type, 1, &shownName, &shownVisible), 0);
    EXPECT_EQ(shownName, list && type >= 9 ? kListNames[type - 9] : asked) << type;
    EXPECT_EQ(shownVisible, visible ? 1 : 0) << type;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, AttributesByVariant,
                         testing::ValuesIn(model::KernelVariantNames()), VariantName);

// ---- Cases made by changing the model's memory ---------------------------------

class AttributeEdges : public ModelTarget {
 protected:
  // Opens a walk of `type` and moves it to the object named `name`.
  void StandOn(std::int32_t type, const std::string& name) {
    ASSERT_EQ(DbgObjectListInit(S(), kContext, type), 0);
    for (int step = 0; step < 64; ++step) {
      std::string here;
      ASSERT_EQ(DbgObjectListAttributeText(S(), kContext, type, AttributeNumber(A::kName), &here),
                0);
      if (here == name) return;
      ASSERT_EQ(DbgObjectListNext(S(), kContext, type), 0);
    }
    FAIL() << name << " not in the ring";
  }
};

TEST_F(AttributeEdges, StatusCodesHaveTheirTextsOnBothVersions) {
  for (const char* variant : {"v1-mask-core-32", "v3-32"}) {
    SCOPED_TRACE(variant);
    ASSERT_TRUE(Start(variant));
    const model::ManifestTask& task = TaskNamed("sleeper");
    const model::ManifestTask& running = TaskNamed("");
    for (const StateRow& row : kStates) {
      WriteMember("QX_TASK", task.address, "status", row.code);
      WriteMember("QX_TASK", running.address, "status", row.code);
      std::string text;
      ASSERT_EQ(DbgTaskStatusGet(S(), kContext, task.address, &text), 0);
      EXPECT_EQ(text, model.manifest.version == 3 ? row.version3 : row.version1) << row.code;
      ASSERT_EQ(DbgTaskStatusGet(S(), kContext, running.address, &text), 0);
      EXPECT_EQ(text, StateText(model.manifest, row.code, true)) << row.code;
    }
    EXPECT_TRUE(Messages().empty());
  }
}

TEST_F(AttributeEdges, FirstWaiterScansTheHighHalfOfA64TaskMaskFirst) {
  struct Row {
    const char* variant;
    const char* maskMember;
  };
  for (const Row row :
       {Row{"v1-mask-core-32", "core.pending.mask"}, Row{"v1-mask-core-64", "core.pending.mask"},
        Row{"v1-mask-union-64", "core.u.pending.mask"}}) {
    SCOPED_TRACE(row.variant);
    ASSERT_TRUE(Start(row.variant));
    const model::ManifestObject& mutex = ObjectNamed("bus_lock");
    const model::ManifestTask& early = TaskNamed("lock_waiter_a");
    const model::ManifestTask& late = TaskNamed("lock_waiter_b");
    ASSERT_LT(early.number, late.number);
    // On 64-task kernels the later waiter sits in the mask's low word.
    EXPECT_TRUE(model.manifest.maxTasks == 32 || late.number >= 32u);
    StandOn(3, mutex.name);
    // The mask's leading zeros count the task number.
    const auto bit = [&](const model::ManifestTask& task) {
      return std::uint64_t{1} << (model.manifest.maxTasks - 1 - task.number);
    };
    struct Case {
      std::uint64_t mask;
      std::string shown;
    };
    for (const Case& c : {Case{bit(early) | bit(late), std::to_string(early.staticPriority)},
                          Case{bit(late), std::to_string(late.staticPriority)}, Case{0, ""}}) {
      WriteMember("QX_MUTEX", mutex.address, row.maskMember, c.mask);
      std::string text;
      EXPECT_EQ(DbgObjectListAttributeText(S(), kContext, 3, AttributeNumber(A::kInheritedPriority),
                                           &text),
                0);
      EXPECT_EQ(text, c.shown) << Hex(c.mask);
    }
  }
}

TEST_F(AttributeEdges, QueueCapacityNeverDividesByAWrappedMessageSize) {
  ASSERT_TRUE(Start("v1-mask-core-32"));
  const model::ManifestObject& queue = ObjectNamed("cmd_queue");
  const std::uint64_t bytes = Field(queue, "buf_end") - Field(queue, "buf_start");
  StandOn(5, queue.name);
  // A size of 0 counts as one word; 0x40000000 words exceed any buffer.
  for (const auto& [messageSize, capacity] : {std::pair<std::uint64_t, std::uint64_t>{0, bytes / 4},
                                              {0x40000000, 0},
                                              {0x80000000, 0},
                                              {0xFFFFFFFF, 0},
                                              {1, bytes / 4}}) {
    WriteMember("QX_QUEUE", queue.address, "msg_size", messageSize);
    std::uint64_t shown = 0xDEAD;
    EXPECT_EQ(
        DbgObjectListAttributeNumber(S(), kContext, 5, AttributeNumber(A::kQueueCapacity), &shown),
        0);
    EXPECT_EQ(shown, capacity) << Hex(messageSize);
  }
}

TEST_F(AttributeEdges, OffsetsBeyond32BitsAndBelowZero) {
  ASSERT_TRUE(Start("v1-mask-core-32"));
  const model::ManifestTask& worker = TaskNamed("net_worker");
  ASSERT_FALSE(worker.onStartupStack);
  struct Row {
    std::uint32_t stackStart;
    std::uint32_t stackSize;
    std::uint64_t tlsRwStart;
    std::string text;
    std::uint64_t number;
  };
  for (const Row& row : {Row{0xFFFF0000, 0x20000, 1, "0x10000ffff", 0x10000FFFF},
                         Row{0x20001000, 0x400, 0x20001410, "0xfffffff0", 0xFFFFFFFFFFFFFFF0}}) {
    WriteMember("QX_TASK", worker.address, "stack_start", row.stackStart);
    WriteMember("QX_TASK", worker.address, "stack_size", row.stackSize);
    Kernel()->tlsRwStart = row.tlsRwStart;
    ASSERT_EQ(DbgTargetNotify(S(), kContext, 0), 0);  // forget cached offsets
    StandOn(1, worker.name);
    std::string text;
    std::uint64_t number = 0;
    const std::int32_t tlsOffset = AttributeNumber(A::kTlsOffset);
    EXPECT_EQ(DbgObjectListAttributeText(S(), kContext, 1, tlsOffset, &text), 0);
    EXPECT_EQ(text, row.text);
    EXPECT_EQ(DbgObjectListAttributeNumber(S(), kContext, 1, tlsOffset, &number), 0);
    EXPECT_EQ(number, row.number);
  }
}

TEST_F(AttributeEdges, TlsOffsetsAreCachedUntilTheTargetRuns) {
  ASSERT_TRUE(Start("v1-mask-core-32"));
  const model::ManifestTask& task = TaskNamed("net_worker");
  std::int64_t offset = 0;
  ASSERT_EQ(DbgTaskLsoGet(S(), kContext, task.address, &offset), 0);
  WriteMember("QX_TASK", task.address, "stack_size", task.stackSize + 64);
  for (const auto& [notice, expected] : {std::pair<std::int32_t, std::int64_t>{-1, task.tlsOffset},
                                         {1, task.tlsOffset},
                                         {0, task.tlsOffset + 64}}) {
    if (notice >= 0) {
      ASSERT_EQ(DbgTargetNotify(S(), kContext, notice), 0);
    }
    ASSERT_EQ(DbgTaskLsoGet(S(), kContext, task.address, &offset), 0);
    EXPECT_EQ(offset, expected) << "after notice " << notice;
  }
}

TEST_F(AttributeEdges, UnsupportedKindsShowTheirOwnMessage) {
  ASSERT_TRUE(Start("v1-mask-core-32"));
  struct Row {
    std::int32_t type;
    const char* object;
    AttributeId attribute;
    Texts messages;
  };
  const Row rows[] = {
      {4, "rx_sem", A::kPendingTaskCount, {"Error: Unsupported priority data format\n"}},
      {2, "blink", A::kTimerActive, {"Error: Unsupported task member data format\n"}},
      {2, "blink", A::kRemainingTicks, {"Error: Unsupported object member data format\n"}},
      {1, "lock_owner", A::kIdentity, {}},      // status 1, no message
      {5, "cmd_queue", A::kQueueCapacity, {}},  // plain figure
  };
  for (const Row& row : rows) {
    StandOn(row.type, row.object);
    Forget();
    OsaValue value;
    value.kind = OsaValueKind::kFloat;
    EXPECT_EQ(KernelObjectListAttribute(Plugin(), &Plugin()->info, Kernel(), row.type, nullptr,
                                        AttributeNumber(row.attribute), &value),
              KernelStatus::kFailed)
        << row.object << " " << AttributeNumber(row.attribute);
    EXPECT_EQ(Messages(), row.messages) << row.object << " " << AttributeNumber(row.attribute);
    ASSERT_EQ(DbgObjectListCleanup(S(), kContext, row.type), 0);
  }
  OsaValue value;
  value.kind = OsaValueKind::kDouble;
  const std::uint64_t task = model.manifest.tasks.front().address;
  Forget();
  EXPECT_EQ(KernelTaskStatusGet(Plugin(), &Plugin()->info, Kernel(), task, &value),
            KernelStatus::kFailed);
  EXPECT_EQ(Messages(), Texts{"Error: Unsupported task status data format\n"});
}

TEST_F(AttributeEdges, EveryCallbackWithoutAKernelRecordFails) {
  ASSERT_TRUE(Start("v1-mask-core-32"));
  OSA_ServiceCntx* plugin = Plugin();
  OsaPluginInfo* info = &plugin->info;
  OsaValue value;
  std::uint64_t task = 0;
  OsaGuiObjectInfo in;
  OsaGuiObjectInfo out;
  EXPECT_EQ(KernelObjectListAttribute(plugin, info, nullptr, 1, nullptr, 0, &value),
            KernelStatus::kFailed);
  EXPECT_EQ(KernelTaskNameGet(plugin, info, nullptr, 0, &value), KernelStatus::kFailed);
  EXPECT_EQ(KernelTaskStatusGet(plugin, info, nullptr, 0, &value), KernelStatus::kFailed);
  EXPECT_EQ(KernelCurrentTaskGet(plugin, info, nullptr, -1, &task), KernelStatus::kFailed);
  EXPECT_EQ(KernelTaskLsoGet(plugin, info, nullptr, 0, 0, &value), KernelStatus::kFailed);
  EXPECT_EQ(KernelTargetNotify(plugin, info, nullptr, 0), KernelStatus::kFailed);
  EXPECT_EQ(KernelOsaCmd_Execute(plugin, info, nullptr, "get_task_table"), KernelStatus::kFailed);
  EXPECT_EQ(KernelGuiObjectCheck(plugin, info, nullptr, &in, &out), KernelStatus::kFailed);
  // Type numbers outside the table have no walk to stand on.
  for (std::int32_t type : {0, 12, -1, 0x7FFFFFFF}) {
    EXPECT_EQ(KernelObjectListAttribute(plugin, info, Kernel(), type, nullptr, 0, &value),
              KernelStatus::kFailed);
  }
}

TEST_F(AttributeEdges, TheTaskTableListsOneEntryPerMaskBit) {
  for (const char* variant : {"v1-mask-core-32", "v3-64"}) {
    SCOPED_TRACE(variant);
    ASSERT_TRUE(Start(variant));
    JsonPtr result;
    ASSERT_EQ(DbgOsaCmdExecute(S(), kContext, "get_task_table", &result), 0);
    const JsonValue* table = nullptr;
    ASSERT_TRUE(JsonObjectGet(result.get(), "task_table", &table));
    ASSERT_EQ(table->kind, JsonKind::JsonArray);
    ASSERT_EQ(table->count(), model.manifest.maxTasks);
    for (const model::ManifestTask& task : model.manifest.tasks) {
      EXPECT_EQ(table->elements[task.number]->number, task.address) << task.name;
    }
  }
  for (const char* command : {"get_task_table ", "GET_TASK_TABLE", "", "help"}) {
    JsonPtr result;
    EXPECT_EQ(DbgOsaCmdExecute(S(), kContext, command, &result), 0) << command;
    EXPECT_LT(JsonObjectIndexOf(result.get(), "task_table"), 0) << command;
  }
  // A record whose mask width is neither one nor two words is not trusted
  // with the loop bound: the command fails at once.
  Kernel()->maskWords = 0x10000;
  const std::uint64_t before = S()->service.answered;
  JsonPtr result;
  EXPECT_EQ(DbgOsaCmdExecute(S(), kContext, "get_task_table", &result), 1);
  EXPECT_LT(JsonObjectIndexOf(result.get(), "task_table"), 0);
  EXPECT_EQ(S()->service.answered, before);
}

}  // namespace
}  // namespace kernel_test
