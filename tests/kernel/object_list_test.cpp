// Object-list walks against model kernels: every object type on every build
// variant visits the rings of the manifest; the cursors per type are
// independent; failures show their messages and keep the walk; a corrupted
// ring ends the walk with each object shown once instead of running forever.
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
  // The statuses as the interface returns them.
  std::int32_t Init(std::int32_t type) {
    return InterfaceStatus(KernelObjectListInit(&context, &context.info, kernel, type, nullptr));
  }
  std::int32_t Next(std::int32_t type) {
    return InterfaceStatus(KernelObjectListNext(&context, &context.info, kernel, type, nullptr));
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

TEST_F(ObjectWalk, CorruptedRingsEndTheWalkWithEachObjectOnce) {
  constexpr std::size_t kNone = ~std::size_t{0};  // from: no link changed; to: a null link
  constexpr std::size_t kLast = kNone - 1;        // from: the last core; visits: every core
  struct Row {
    const char* what;
    std::size_t from;  // the core whose link is changed
    std::size_t to;    // the core it now links to
    std::uint32_t stepsTaken;
    std::size_t visits;
  };
  for (const Row& row : {Row{"null link", 1, kNone, 0, 2}, Row{"link to itself", 1, 1, 0, 2},
                         Row{"tail back to the second", kLast, 1, 0, kLast},
                         Row{"tail back to the third", kLast, 2, 0, kLast},
                         Row{"short loop back to the second", 2, 1, 0, 3},
                         Row{"walk at the step bound", kNone, 0, kMaxObjectListSteps - 2, 2}}) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(OpenAndInit("v3-32"));
    std::vector<std::uint32_t> cores;
    for (const model::ManifestTask& task : model.manifest.tasks)
      cores.push_back(task.coreAddress);
    ASSERT_GE(cores.size(), 4u);
    const std::size_t from = row.from == kLast ? cores.size() - 1 : row.from;
    if (from != kNone) SetLink(cores[from], row.to == kNone ? 0 : cores[row.to]);
    std::int32_t end = -1;
    std::vector<std::uint32_t> visited;
    for (const Visit& visit : Walk(kTask, &end, row.stepsTaken))
      visited.push_back(visit.core);
    const std::size_t visits = row.visits == kLast ? cores.size() : row.visits;
    EXPECT_EQ(visited, std::vector<std::uint32_t>(cores.begin(), cores.begin() + visits));
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
  EXPECT_EQ(KernelObjectListCleanup(&context, &context.info, kernel, kTask, nullptr),
            KernelStatus::kOk);
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
  EXPECT_EQ(KernelObjectListInit(&context, &context.info, nullptr, kTask, nullptr),
            KernelStatus::kFailed);
  EXPECT_EQ(KernelObjectListNext(&context, &context.info, nullptr, kTask, nullptr),
            KernelStatus::kFailed);
  EXPECT_EQ(KernelObjectListCleanup(&context, &context.info, nullptr, kTask, nullptr),
            KernelStatus::kFailed);
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
