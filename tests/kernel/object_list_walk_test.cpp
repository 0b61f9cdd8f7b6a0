// Object-list walks against model kernels: every object type on every build
// variant visits the rings of the manifest, directly and over the wire; the
// cursors per type are independent; failures show their messages; and a
// corrupted ring ends the walk instead of running forever.
#include "kernel/object_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "debugger/client_calls.h"
#include "tests/kernel/kernel_harness.h"

namespace kernel_test {
namespace {

constexpr std::uint32_t kUnmapped = 0xFFFFFF00;
constexpr std::int32_t kTask = 1;
constexpr std::int32_t kSemaphore = 4;
constexpr std::int32_t kTaskList = 9;

struct Visit {
  std::uint32_t object = 0;
  std::uint32_t core = 0;
};

class ObjectWalk : public ModelTarget {
 public:
  [[nodiscard]] bool OpenAndInit(std::string_view variant) {
    if (!Open(variant)) return false;
    std::int32_t status = -1;
    kernel = TargetInit(&status);
    EXPECT_EQ(status, 0) << testing::PrintToString(Messages());
    Forget();
    return kernel != nullptr;
  }

  std::int32_t Init(std::int32_t type) {
    return KernelObjectListInit(&context, &context.info, kernel, type, nullptr);
  }
  std::int32_t Next(std::int32_t type) {
    return KernelObjectListNext(&context, &context.info, kernel, type, nullptr);
  }

  // Walks `type` to its end; the objects visited and the final status of
  // ObjectListNext (or of ObjectListInit when it found nothing).
  // `stepsTaken` presets the walk's step count after ObjectListInit.
  std::vector<Visit> Walk(std::int32_t type, std::int32_t* end, std::uint32_t bound = 1000,
                          std::uint32_t stepsTaken = 0) {
    std::vector<Visit> visits;
    *end = Init(type);
    if (*end != 0) return visits;
    kernel->listSteps[type] = stepsTaken;
    while (visits.size() < bound) {
      visits.push_back({CurrentObjectAddress(*kernel, type), kernel->listCursor[type]});
      *end = Next(type);
      if (*end != 0) break;
    }
    return visits;
  }

  // The objects of the manifest that `type` lists, in ring order.
  std::vector<Visit> Expected(std::int32_t type) {
    const std::uint32_t list = type >= kTaskList ? type - 8 : type;
    std::vector<Visit> expected;
    if (model.manifest.listHeads[list] == 0) return expected;
    if (list == kTask) {
      for (const model::ManifestTask& task : model.manifest.tasks) {
        expected.push_back({task.address, task.coreAddress});
      }
    } else {
      for (const model::ManifestObject& object : model.manifest.objects) {
        if (object.listIndex == list) expected.push_back({object.address, object.coreAddress});
      }
    }
    return expected;
  }

  std::uint32_t LinkAddress(std::uint32_t core) {
    std::uint64_t address = 0;
    const std::string expression =
        "&((struct QX_OBJECT_STRUCT *)" + std::to_string(core) + ")->created.next";
    EXPECT_TRUE(model::ModelEvaluate(model, expression, &address, nullptr));
    return static_cast<std::uint32_t>(address);
  }

  void SetLink(std::uint32_t core, std::uint32_t next) {
    ASSERT_TRUE(WriteWord(LinkAddress(core), 4, next));
  }

  KernelContext* kernel = nullptr;
};

class ObjectWalkVariant : public ObjectWalk,
                          public testing::WithParamInterface<std::string_view> {};

TEST_P(ObjectWalkVariant, EveryTypeVisitsItsRingOfTheManifest) {
  ASSERT_TRUE(OpenAndInit(GetParam()));
  for (std::int32_t type = 1; type <= 11; ++type) {
    SCOPED_TRACE(testing::Message() << "type " << type);
    const std::vector<Visit> expected = Expected(type);
    std::int32_t end = -1;
    const std::vector<Visit> visits = Walk(type, &end);
    ASSERT_EQ(visits.size(), expected.size());
    for (std::size_t i = 0; i < visits.size(); ++i) {
      EXPECT_EQ(visits[i].object, expected[i].object) << "object " << i;
      EXPECT_EQ(visits[i].core, expected[i].core) << "object " << i;
    }
    EXPECT_EQ(end, expected.empty() ? 1 : 2);
    EXPECT_EQ(kernel->listCursor[type], 0u);
    EXPECT_EQ(kernel->listHead[type], 0u);
  }
  EXPECT_TRUE(Messages().empty()) << testing::PrintToString(Messages());

  // The same walks as the debugger makes them, over the wire.
  DbgOsaInitAnswer osa;
  ASSERT_EQ(DbgOsaInit(session.get(), 1, &osa), 0);
  DbgTargetInitAnswer target;
  ASSERT_EQ(DbgTargetInit(session.get(), 1, model.manifest.bigEndian, &target), 0);
  for (std::int32_t type = 1; type <= 11; ++type) {
    std::size_t visited = 0;
    const DbgWalkEnd end = DbgObjectListWalk(session.get(), 1, type, [&visited] {
      ++visited;
      return true;
    });
    const std::size_t expected = Expected(type).size();
    EXPECT_EQ(end, expected == 0 ? DbgWalkEnd::kEmpty : DbgWalkEnd::kEnded) << "type " << type;
    EXPECT_EQ(visited, expected) << "type " << type;
  }
  EXPECT_EQ(DbgTargetCleanup(session.get(), 1), 0);
  EXPECT_EQ(DbgOsaCleanup(session.get(), 1), 0);
}

std::string VariantTestName(const testing::TestParamInfo<std::string_view>& info) {
  std::string name(info.param);
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, ObjectWalkVariant,
                         testing::ValuesIn(model::KernelVariantNames()), VariantTestName);

struct CorruptRow {
  const char* what;
  // The new link of the second task's core, given the first three cores.
  std::uint32_t (*link)(const std::vector<std::uint32_t>& cores);
  bool neverCloses;  // the third core also links back to the second
  std::size_t visits;
};

TEST_F(ObjectWalk, CorruptedRingsEndTheWalk) {
  const CorruptRow rows[] = {
      {"null link", [](const std::vector<std::uint32_t>&) { return 0u; }, false, 2},
      {"link to itself", [](const std::vector<std::uint32_t>& c) { return c[1]; }, false, 2},
      {"ring that never returns to its head",
       [](const std::vector<std::uint32_t>& c) { return c[2]; }, true, 9},
  };
  for (const CorruptRow& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(OpenAndInit("v3-32"));
    std::vector<std::uint32_t> cores;
    for (const model::ManifestTask& task : model.manifest.tasks)
      cores.push_back(task.coreAddress);
    ASSERT_GE(cores.size(), 4u);
    SetLink(cores[1], row.link(cores));
    std::uint32_t stepsTaken = 0;
    if (row.neverCloses) {
      SetLink(cores[2], cores[1]);
      // Stand as if the walk had gone round the loop nearly to the bound.
      stepsTaken = kMaxObjectListSteps - 9;
    }
    std::int32_t end = -1;
    const std::vector<Visit> visits = Walk(kTask, &end, 100, stepsTaken);
    EXPECT_EQ(visits.size(), row.visits);
    EXPECT_EQ(end, 2);
    EXPECT_EQ(kernel->listCursor[kTask], 0u);
    EXPECT_EQ(Next(kTask), 2);
    EXPECT_TRUE(Messages().empty());
  }
}

TEST_F(ObjectWalk, TaskPresentationsKeepTheirOwnCursors) {
  ASSERT_TRUE(OpenAndInit("v1-list-core-64"));
  const std::vector<Visit> tasks = Expected(kTask);
  ASSERT_GE(tasks.size(), 2u);
  ASSERT_EQ(Init(kTask), 0);
  ASSERT_EQ(Next(kTask), 0);
  ASSERT_EQ(Init(kTaskList), 0);
  EXPECT_EQ(CurrentObjectAddress(*kernel, kTask), tasks[1].object);
  EXPECT_EQ(CurrentObjectAddress(*kernel, kTaskList), tasks[0].object);
  // A second Init restarts only its own type's walk.
  ASSERT_EQ(Init(kTaskList), 0);
  EXPECT_EQ(CurrentObjectAddress(*kernel, kTask), tasks[1].object);
  EXPECT_EQ(KernelObjectListCleanup(&context, &context.info, kernel, kTask, nullptr), 0);
  EXPECT_EQ(CurrentObjectAddress(*kernel, kTask), 0u);
  EXPECT_EQ(CurrentObjectAddress(*kernel, kTaskList), tasks[0].object);
  EXPECT_EQ(Next(kTask), 2);
}

TEST_F(ObjectWalk, RingOfOneObjectEndsAtTheFirstNext) {
  ASSERT_TRUE(OpenAndInit("v1-mask-union-32"));
  const std::vector<Visit> semaphores = Expected(kSemaphore);
  ASSERT_FALSE(semaphores.empty());
  SetLink(semaphores[0].core, semaphores[0].core);
  ASSERT_EQ(Init(kSemaphore), 0);
  EXPECT_EQ(CurrentObjectAddress(*kernel, kSemaphore), semaphores[0].object);
  EXPECT_EQ(Next(kSemaphore), 2);
  EXPECT_EQ(kernel->listHead[kSemaphore], 0u);
}

TEST_F(ObjectWalk, NextWithoutInitEndsWithoutAsking) {
  ASSERT_TRUE(OpenAndInit("v3-64"));
  EXPECT_EQ(Next(kSemaphore), 2);
  EXPECT_TRUE(Requests().empty());
  for (const std::int32_t type : {0, 12, -1}) {
    EXPECT_EQ(Init(type), 1);
    EXPECT_EQ(Next(type), 2);
    EXPECT_EQ(ObjectTypeName(type), nullptr);
  }
  EXPECT_STREQ(ObjectTypeName(kTaskList), "QX_TASK");
  EXPECT_STREQ(ObjectTypeName(8), "QX_MPOOL");
  EXPECT_STREQ(ObjectTypeName(11), "QX_MUTEX");
}

TEST_F(ObjectWalk, WalksNeedAKernelRecord) {
  EXPECT_EQ(KernelObjectListInit(&context, &context.info, nullptr, kTask, nullptr), 1);
  EXPECT_EQ(KernelObjectListNext(&context, &context.info, nullptr, kTask, nullptr), 1);
  EXPECT_EQ(KernelObjectListCleanup(&context, &context.info, nullptr, kTask, nullptr), 1);
}

TEST_F(ObjectWalk, FailuresShowTheirMessageAndKeepTheWalk) {
  ASSERT_TRUE(OpenAndInit("v1-mask-core-64"));
  const std::vector<Visit> tasks = Expected(kTask);
  ASSERT_EQ(Init(kTask), 0);
  ASSERT_EQ(Next(kTask), 0);

  const std::uint32_t listAddress = Symbol("qx_kernel_object_list")->address;
  Symbol("qx_kernel_object_list")->address = kUnmapped;
  EXPECT_NE(Init(kTask), 0);
  Symbol("qx_kernel_object_list")->name = "qx_kernel_object_list_absent";
  EXPECT_NE(Init(kTask), 0);
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{"Error: Unable to read kernel object list\n",
                                      "Error: Unable to access kernel object list.  OSA requires\n"
                                      "       the kernel to be built with QX_DEBUG_OBJECTS.\n"}));
  EXPECT_EQ(kernel->listCursor[kTask], tasks[1].core);
  EXPECT_EQ(kernel->listHead[kTask], tasks[0].core);
  Symbol("qx_kernel_object_list_absent")->name = "qx_kernel_object_list";
  Symbol("qx_kernel_object_list")->address = listAddress;

  // A link into unmapped memory is followed; reading the next link fails
  // and leaves the cursor where it stands.
  Forget();
  SetLink(tasks[1].core, kUnmapped);
  ASSERT_EQ(Next(kTask), 0);
  EXPECT_EQ(kernel->listCursor[kTask], kUnmapped);
  const std::int32_t status = Next(kTask);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, 2);
  EXPECT_EQ(kernel->listCursor[kTask], kUnmapped);
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"Error: Unable to read kernel object list member\n"});
}

}  // namespace
}  // namespace kernel_test
