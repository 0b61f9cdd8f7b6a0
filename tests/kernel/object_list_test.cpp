// Object-list walks against model kernels: every object type on every build
// variant visits the rings of the manifest; the cursors per type are
// independent; failures show their messages and keep the walk; a corrupted
// ring ends the walk instead of running forever.
#include "kernel/object_list.h"

#include <string>
#include <vector>

#include "tests/kernel/kernel_harness.h"

namespace kernel_test {
namespace {

constexpr std::int32_t kTask = 1;
constexpr std::int32_t kSemaphore = 4;
constexpr std::int32_t kTaskList = 9;

struct Visit {
  std::uint32_t object = 0;
  std::uint32_t core = 0;
  bool operator==(const Visit&) const = default;
};

class ObjectWalk : public ModelTarget {
 public:
  [[nodiscard]] bool OpenAndInit(std::string_view variant) {
    if (!Open(variant)) return false;
    std::int32_t status = -1;
    kernel = TargetInit(&status);
    Forget();
    return kernel != nullptr;
  }
  std::int32_t Init(std::int32_t type) {
    return KernelObjectListInit(&context, &context.info, kernel, type, nullptr);
  }
  std::int32_t Next(std::int32_t type) {
    return KernelObjectListNext(&context, &context.info, kernel, type, nullptr);
  }

  // Walks `type` to its end (at most 100 objects); the objects visited and
  // the final status. `stepsTaken` presets the walk's step count.
  std::vector<Visit> Walk(std::int32_t type, std::int32_t* end, std::uint32_t stepsTaken = 0) {
    std::vector<Visit> visits;
    *end = Init(type);
    if (*end != 0) return visits;
    kernel->listSteps[type] = stepsTaken;
    while (visits.size() < 100) {
      visits.push_back({CurrentObjectAddress(*kernel, type), kernel->listCursor[type]});
      if ((*end = Next(type)) != 0) break;
    }
    return visits;
  }

  // The objects of the manifest that `type` lists, in ring order.
  std::vector<Visit> Expected(std::int32_t type) {
    const std::uint32_t list = type >= kTaskList ? type - 8 : type;
    std::vector<Visit> expected;
    if (model.manifest.listHeads[list] == 0) return expected;
    for (const model::ManifestTask& task : model.manifest.tasks) {
      if (list == kTask) expected.push_back({task.address, task.coreAddress});
    }
    for (const model::ManifestObject& object : model.manifest.objects) {
      if (object.listIndex == list) expected.push_back({object.address, object.coreAddress});
    }
    return expected;
  }

  void SetLink(std::uint32_t core, std::uint32_t next) {
    ASSERT_TRUE(WriteWord(
        Evaluate("&((struct QX_OBJECT_STRUCT *)" + std::to_string(core) + ")->created.next"), 4,
        next));
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
    EXPECT_EQ(Walk(type, &end), expected);
    EXPECT_EQ(end, expected.empty() ? 1 : 2);
    EXPECT_EQ(kernel->listCursor[type], 0u);
    EXPECT_EQ(kernel->listHead[type], 0u);
  }
  EXPECT_TRUE(Messages().empty()) << testing::PrintToString(Messages());
}

INSTANTIATE_TEST_SUITE_P(EveryVariant, ObjectWalkVariant,
                         testing::ValuesIn(model::KernelVariantNames()), VariantName);

TEST_F(ObjectWalk, CorruptedRingsEndTheWalk) {
  struct Row {
    const char* what;
    std::size_t linkTo;  // the second task's core links to this core (kNull: none)
    bool neverCloses;    // the third core also links back to the second
    std::size_t visits;
  };
  constexpr std::size_t kNull = ~std::size_t{0};
  for (const Row& row : {Row{"null link", kNull, false, 2}, Row{"link to itself", 1, false, 2},
                         Row{"ring that never returns to its head", 2, true, 9}}) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(OpenAndInit("v3-32"));
    std::vector<std::uint32_t> cores;
    for (const model::ManifestTask& task : model.manifest.tasks)
      cores.push_back(task.coreAddress);
    ASSERT_GE(cores.size(), 4u);
    SetLink(cores[1], row.linkTo < cores.size() ? cores[row.linkTo] : 0);
    std::uint32_t stepsTaken = 0;
    if (row.neverCloses) {
      SetLink(cores[2], cores[1]);
      // Stand as if the walk had gone round the loop nearly to the bound.
      stepsTaken = kMaxObjectListSteps - 9;
    }
    std::int32_t end = -1;
    EXPECT_EQ(Walk(kTask, &end, stepsTaken).size(), row.visits);
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

TEST_F(ObjectWalk, WalksOutsideTheTableOrWithoutInitEndWithoutAsking) {
  ASSERT_TRUE(OpenAndInit("v3-64"));
  EXPECT_EQ(Next(kSemaphore), 2);
  for (const std::int32_t type : {0, 12, -1}) {
    EXPECT_EQ(Init(type), 1);
    EXPECT_EQ(Next(type), 2);
    EXPECT_EQ(ObjectTypeName(type), nullptr);
  }
  EXPECT_TRUE(RequestsWith("").empty());
  EXPECT_EQ(KernelObjectListInit(&context, &context.info, nullptr, kTask, nullptr), 1);
  EXPECT_EQ(KernelObjectListNext(&context, &context.info, nullptr, kTask, nullptr), 1);
  EXPECT_EQ(KernelObjectListCleanup(&context, &context.info, nullptr, kTask, nullptr), 1);
}

TEST_F(ObjectWalk, FailuresShowTheirMessageAndKeepTheWalk) {
  ASSERT_TRUE(OpenAndInit("v1-mask-core-64"));
  const std::vector<Visit> tasks = Expected(kTask);
  ASSERT_EQ(Init(kTask), 0);
  ASSERT_EQ(Next(kTask), 0);
  model::Symbol* list = Symbol("qx_kernel_object_list");
  const std::uint32_t listAddress = list->address;
  list->address = kUnmapped;
  EXPECT_NE(Init(kTask), 0);
  list->name = "qx_kernel_object_list_absent";
  EXPECT_NE(Init(kTask), 0);
  EXPECT_EQ(Messages(), (Texts{"Error: Unable to read kernel object list\n",
                               "Error: Unable to access kernel object list.  OSA requires\n"
                               "       the kernel to be built with QX_DEBUG_OBJECTS.\n"}));
  EXPECT_EQ(kernel->listCursor[kTask], tasks[1].core);
  EXPECT_EQ(kernel->listHead[kTask], tasks[0].core);
  list->name = "qx_kernel_object_list";
  list->address = listAddress;

  // A link into unmapped memory is followed; reading the next link fails
  // and leaves the cursor where it stands.
  Forget();
  SetLink(tasks[1].core, kUnmapped);
  ASSERT_EQ(Next(kTask), 0);
  const std::int32_t status = Next(kTask);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, 2);
  EXPECT_EQ(kernel->listCursor[kTask], kUnmapped);
  EXPECT_EQ(Messages(), Texts{"Error: Unable to read kernel object list member\n"});
}

}  // namespace
}  // namespace kernel_test
