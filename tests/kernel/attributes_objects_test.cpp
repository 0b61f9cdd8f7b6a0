// Object attributes through the whole plug-in against the model kernel of
// every build variant: each attribute of each object as text and as number,
// compared with the model's manifest; the first-waiter search on 32- and
// 64-task masks; queue capacity with corrupted message sizes.
#include <bit>
#include <map>
#include <string>
#include <vector>

#include "tests/kernel/attributes_session.h"

namespace attributes_test {
namespace {

// One attribute as the debugger should see it: its text and its number;
// nullopt where the request must fail.
struct Expected {
  std::int32_t attribute;
  std::optional<std::string> text;
  std::optional<std::uint64_t> number;
};

Expected Num(std::int32_t attribute, std::uint64_t x) {
  return {attribute, std::to_string(x), x};
}
Expected HexNum(std::int32_t attribute, std::uint64_t x) {
  return {attribute, Hex(x), x};
}
Expected TextOnly(std::int32_t attribute, std::string text) {
  return {attribute, std::move(text), std::nullopt};
}
Expected Empty(std::int32_t attribute) {
  return {attribute, std::string(), std::nullopt};
}
Expected Fails(std::int32_t attribute) {
  return {attribute, std::nullopt, std::nullopt};
}
Expected Undefined(std::int32_t attribute) {
  return {attribute, "(Undefined Attribute)", std::nullopt};
}

std::string TaskStateText(const model::KernelManifest& m, const model::ManifestTask& task) {
  static const char* const kTexts[] = {"Ready",
                                       "Exited",
                                       "Halted",
                                       "Pended (sleep)",
                                       "Pended (queue)",
                                       "Pended (semaphore)",
                                       "Pended (event flags)",
                                       "Pended (block pool)",
                                       "Pended (mutex)",
                                       "Pended (malloc pool)"};
  if (task.status == 0 && task.running) return "Running";
  if (task.status == 7 && m.version == 3) return "Pended (mutex)";
  return task.status < 10 ? kTexts[task.status] : "Unknown";
}

std::string Offset(std::int64_t offset) {
  if (offset < (std::int64_t{1} << 32)) return Hex(static_cast<std::uint32_t>(offset));
  return Hex(static_cast<std::uint64_t>(offset));
}

// "0x<core> (<name>)", or the address alone for an object without a name.
std::string Reference(std::uint32_t core, const std::string& name) {
  return name.empty() ? Hex(core) : Hex(core) + " (" + name + ")";
}

std::vector<Expected> TaskExpectations(const model::KernelManifest& m,
                                       const model::ManifestTask& t) {
  std::vector<Expected> rows = {
      HexNum(0, t.address),
      TextOnly(1, t.name),
      {2, TaskStateText(m, t), t.status},
      Num(3, t.staticPriority),
      t.activePriority == t.staticPriority ? Empty(4) : Num(4, t.activePriority),
      Num(6, t.ownedMutexCount),
      Num(7, m.version == 3 ? 0 : std::popcount(t.mutexWaitersMask)),
      Num(8, t.stackSize),
      Fails(9),
      HexNum(10, t.stackStart),
      t.preemptThreshold == t.staticPriority ? Empty(11) : Num(11, t.preemptThreshold),
      Num(18, t.timeSlice),
      Num(19, t.remainingTimeSlice),
      t.waitTimerActive ? Num(21, t.waitTicksLeft) : Expected{21, "", 0},
      {22, Offset(t.tlsOffset), static_cast<std::uint64_t>(t.tlsOffset)},
      Undefined(12),
      Undefined(32),
  };
  if (t.pendedOn == 0) {
    rows.push_back(Empty(5));
  } else {
    const model::ManifestObject* parent = nullptr;
    for (const model::ManifestObject& object : m.objects) {
      if (object.coreAddress == t.pendedOn) parent = &object;
    }
    EXPECT_NE(parent, nullptr) << t.name;
    rows.push_back(TextOnly(5, Reference(t.pendedOn, parent == nullptr ? "" : parent->name)));
  }
  if (t.status != 1 || (m.hasTerminated && t.terminated)) {
    rows.push_back(Empty(20));
  } else {
    rows.push_back(HexNum(20, t.exitCode));
  }
  return rows;
}

// The shown priority of the first task waiting on an object with a mask.
bool FirstWaiterPriorityKnown(const model::KernelManifest& m) {
  return m.version == 1 || m.hasStaticPriority;
}

std::vector<Expected> ObjectExpectations(const model::KernelManifest& m,
                                         const model::ManifestObject& o) {
  std::vector<Expected> rows = {HexNum(0, o.address), TextOnly(1, o.name), Undefined(99)};
  const bool waiting = !o.waiters.empty();
  if (o.listIndex != 2) rows.push_back(Num(9, o.waiters.size()));
  switch (o.listIndex) {
    case 2: {  // timers
      const bool active = Field(o, "active") != 0;
      rows.push_back(Fails(9));
      rows.push_back(active ? Num(12, Field(o, "ticks_left")) : Expected{12, "", 0});
      rows.push_back(Num(13, Field(o, "active")));
      rows.push_back(Num(14, Field(o, "alarm_ticks")));
      rows.push_back(Num(15, Field(o, "repeating")));
      rows.push_back(TextOnly(16, o.routine));
      rows.push_back(HexNum(17, Field(o, "expiration_input")));
      if (m.timerRepeatTicks) {
        const std::uint64_t repeat = Field(o, "repeat_ticks");
        rows.push_back(repeat == 0 ? Expected{26, "", 0} : Num(26, repeat));
      } else {
        rows.push_back(Fails(26));
      }
      rows.push_back(Undefined(3));
      break;
    }
    case 3: {  // mutexes
      const std::uint64_t owner = Field(o, "owner");
      if (owner == 0) {
        rows.push_back(Empty(22));
      } else {
        const model::ManifestTask* task = FindTask(m, owner);
        EXPECT_NE(task, nullptr);
        if (task != nullptr) rows.push_back(TextOnly(22, Reference(task->coreAddress, task->name)));
      }
      rows.push_back(Num(23, Field(o, "nesting_count")));
      rows.push_back(Num(24, Field(o, "priority_inherit")));
      if (!waiting) {
        rows.push_back(Empty(25));
      } else if (m.pendIsList) {
        rows.push_back(Num(25, Field(o, "inherited_priority_shown")));
      } else if (FirstWaiterPriorityKnown(m)) {
        // Mask kernels show the priority of the waiter with the lowest task
        // number, the first one in the mask.
        const model::ManifestTask* first = FindTask(m, o.waiters.front());
        EXPECT_NE(first, nullptr);
        if (first != nullptr) rows.push_back(Num(25, first->staticPriority));
      } else {
        rows.push_back(Fails(25));
      }
      break;
    }
    case 4:
      rows.push_back(Num(32, Field(o, "count")));
      break;
    case 5:
      rows.push_back(Num(42, Field(o, "num_msgs")));
      rows.push_back(Num(43, Field(o, "capacity")));
      rows.push_back(Num(44, Field(o, "msg_size")));
      break;
    case 6:
      rows.push_back(HexNum(52, Field(o, "flags")));
      rows.push_back(HexNum(53, Field(o, "requested_flags")));
      break;
    case 7:
      rows.push_back(Num(62, Field(o, "block_size")));
      rows.push_back(Num(63, Field(o, "available_blocks")));
      rows.push_back(Num(64, Field(o, "total_blocks")));
      break;
    case 8:
      rows.push_back(Num(72, Field(o, "available_bytes")));
      rows.push_back(Num(73, Field(o, "buf_size")));
      rows.push_back(Num(74, Field(o, "fragments")));
      // Version 3 kernels name their mask task_mask, which the smallest
      // pending allocation does not read.
      if (!m.pendIsList && m.version == 3) {
        rows.push_back(Fails(75));
      } else {
        rows.push_back(waiting ? Num(75, Field(o, "min_pending_allocation_size")) : Empty(75));
      }
      break;
    default:
      break;
  }
  return rows;
}

class AttributesByVariant : public KernelSessionTest,
                            public testing::WithParamInterface<std::string_view> {
 protected:
  void SetUp() override { Open(GetParam()); }

  void Check(std::int32_t type, const std::vector<Expected>& rows, const std::string& label) {
    for (const Expected& row : rows) {
      std::string text = "unset";
      const std::int32_t textStatus =
          DbgObjectListAttributeText(S(), kContext, type, row.attribute, &text);
      if (row.text) {
        EXPECT_EQ(textStatus, 0) << label << " attribute " << row.attribute;
        EXPECT_EQ(text, *row.text) << label << " attribute " << row.attribute;
      } else {
        EXPECT_NE(textStatus, 0) << label << " attribute " << row.attribute << " gave " << text;
      }
      std::uint64_t number = 0xDEAD;
      const std::int32_t numberStatus =
          DbgObjectListAttributeNumber(S(), kContext, type, row.attribute, &number);
      if (row.number) {
        EXPECT_EQ(numberStatus, 0) << label << " attribute " << row.attribute << " (number)";
        EXPECT_EQ(number, *row.number) << label << " attribute " << row.attribute;
      } else {
        EXPECT_NE(numberStatus, 0) << label << " attribute " << row.attribute << " (number)";
      }
    }
  }

  // The attribute-0 number of the object the walk stands on.
  std::uint64_t Identity(std::int32_t type) {
    std::uint64_t address = 0;
    EXPECT_EQ(DbgObjectListAttributeNumber(S(), kContext, type, 0, &address), 0);
    return address;
  }
};

TEST_P(AttributesByVariant, EveryTaskAttributeMatchesTheManifest) {
  std::size_t visited = 0;
  const std::int32_t type = TaskType(M());
  DbgObjectListWalk(S(), kContext, type, [&] {
    const model::ManifestTask* task = FindTask(M(), Identity(type));
    EXPECT_NE(task, nullptr);
    if (task == nullptr) return false;
    ++visited;
    Check(type, TaskExpectations(M(), *task), std::string(GetParam()) + " " + task->name);
    return true;
  });
  EXPECT_EQ(visited, M().tasks.size());
}

TEST_P(AttributesByVariant, EveryObjectAttributeMatchesTheManifest) {
  for (std::uint32_t list = 2; list <= 8; ++list) {
    const std::int32_t type = list == 2   ? TimerType(M())
                              : list == 3 ? MutexType(M())
                                          : static_cast<std::int32_t>(list);
    std::size_t expected = 0;
    for (const model::ManifestObject& object : M().objects) {
      if (object.listIndex == list && object.coreAddress != 0) ++expected;
    }
    std::size_t visited = 0;
    DbgObjectListWalk(S(), kContext, type, [&] {
      const model::ManifestObject* object = FindObject(M(), Identity(type));
      EXPECT_NE(object, nullptr);
      if (object == nullptr) return false;
      ++visited;
      Check(type, ObjectExpectations(M(), *object),
            std::string(GetParam()) + " " + std::to_string(list) + " " + object->name);
      return true;
    });
    EXPECT_EQ(visited, expected) << "list " << list;
  }
}

TEST_P(AttributesByVariant, WithoutAnOpenWalkEveryAttributeFails) {
  std::string text;
  EXPECT_NE(DbgObjectListAttributeText(S(), kContext, TaskType(M()), 0, &text), 0);
  EXPECT_NE(DbgObjectListAttributeText(S(), kContext, 4, 99, &text), 0);
}

INSTANTIATE_TEST_SUITE_P(Variants, AttributesByVariant,
                         testing::ValuesIn(model::KernelVariantNames()),
                         [](const testing::TestParamInfo<std::string_view>& info) {
                           std::string name(info.param);
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

// ---- Mutated model memory ------------------------------------------------------

class AttributeEdges : public KernelSessionTest {
 protected:
  // Walks type `type` to the object at `address` (the walk stays open).
  void StandOn(std::int32_t type, std::uint32_t address) {
    ASSERT_EQ(DbgObjectListInit(S(), kContext, type), 0);
    for (int step = 0; step < 64; ++step) {
      std::uint64_t here = 0;
      ASSERT_EQ(DbgObjectListAttributeNumber(S(), kContext, type, 0, &here), 0);
      if (here == address) return;
      ASSERT_EQ(DbgObjectListNext(S(), kContext, type), 0);
    }
    FAIL() << "object not in the ring";
  }

  const model::ManifestObject& ObjectNamed(const std::string& name) {
    for (const model::ManifestObject& object : M().objects) {
      if (object.name == name) return object;
    }
    ADD_FAILURE() << name;
    return M().objects.front();
  }
  const model::ManifestTask& TaskNamed(const std::string& name) {
    for (const model::ManifestTask& task : M().tasks) {
      if (task.name == name) return task;
    }
    ADD_FAILURE() << name;
    return M().tasks.front();
  }

  // The pending-mask bit of a task: the mask's leading zeros count its number.
  std::uint64_t MaskBit(const model::ManifestTask& task) {
    return std::uint64_t{1} << (M().maxTasks - 1 - task.number);
  }
};

TEST_F(AttributeEdges, FirstWaiterScansTheHighHalfOfA64TaskMaskFirst) {
  struct Row {
    const char* variant;
    const char* maskMember;
  };
  for (const Row row :
       {Row{"v1-mask-core-32", "core.pending.mask"}, Row{"v1-mask-core-64", "core.pending.mask"},
        Row{"v1-mask-union-64", "core.u.pending.mask"}}) {
    SCOPED_TRACE(row.variant);
    Open(row.variant);
    const model::ManifestObject& mutex = ObjectNamed("bus_lock");
    const model::ManifestTask& early = TaskNamed("lock_waiter_a");  // lower task number
    const model::ManifestTask& late = TaskNamed("lock_waiter_b");
    ASSERT_LT(early.number, late.number);
    StandOn(3, mutex.address);
    struct Case {
      std::uint64_t mask;
      std::string shown;
    };
    for (const Case& c :
         {Case{MaskBit(early) | MaskBit(late), std::to_string(early.staticPriority)},
          Case{MaskBit(late), std::to_string(late.staticPriority)}, Case{0, ""}}) {
      WriteMember("QX_MUTEX", mutex.address, row.maskMember, c.mask);
      std::string text;
      EXPECT_EQ(DbgObjectListAttributeText(S(), kContext, 3, 25, &text), 0);
      EXPECT_EQ(text, c.shown) << Hex(c.mask);
    }
    if (M().maxTasks == 64) {
      // A waiter numbered 32 or more sits in the low half of the mask.
      EXPECT_GE(late.number, 32u);
    }
  }
}

TEST_F(AttributeEdges, QueueCapacityNeverDividesByAWrappedMessageSize) {
  Open("v1-mask-core-32");
  const model::ManifestObject& queue = ObjectNamed("cmd_queue");
  const std::uint64_t bytes = Field(queue, "buf_end") - Field(queue, "buf_start");
  StandOn(5, queue.address);
  struct Case {
    std::uint64_t messageSize;
    std::uint64_t capacity;
  };
  // A size of 0 counts as one word; 0x40000000 words exceed any buffer.
  for (const Case c : {Case{0, bytes / 4}, Case{0x40000000, 0}, Case{0x80000000, 0},
                       Case{0xFFFFFFFF, 0}, Case{1, bytes / 4}}) {
    WriteMember("QX_QUEUE", queue.address, "msg_size", c.messageSize);
    std::uint64_t capacity = 0xDEAD;
    EXPECT_EQ(DbgObjectListAttributeNumber(S(), kContext, 5, 43, &capacity), 0);
    EXPECT_EQ(capacity, c.capacity) << Hex(c.messageSize);
  }
}

}  // namespace
}  // namespace attributes_test
