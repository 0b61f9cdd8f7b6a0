// The object-list and task methods with test callbacks: value kinds, parent
// decoding, address translation, current-task core modes, and the lists that
// TaskSymTabGet, PageTableGet, KernelMemoryRegionsGet and LifeCycleCountsGet
// form (or cannot form).
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "tests/osa/handler_harness.h"

namespace handler_test {
namespace {

struct Seen {
  OsaValueKind kind = OsaValueKind::kText;
  std::int32_t number = 0;
  std::int64_t core = 0;
  bool hasParent = false;
  OsaParentRef parent;
  std::uint64_t taskId = 0;
};
Seen gSeen;

// What the callbacks hand back, set per test.
struct Script {
  OsaValue value;
  std::int32_t status = 0;
  OsaSymTab symTab;
  std::vector<OsaTargetAddress> physLow, virtLow;
  std::vector<OsaValue> values;
  std::vector<std::uint64_t> ids;
  std::int32_t regionCount = 0;
  std::vector<OsaMemoryRegion> regions;
};
Script gScript;

OsaValue Number(std::uint64_t payload, OsaValueKind kind = OsaValueKind::kUInt64) {
  OsaValue value;
  value.kind = kind;
  value.payload = payload;
  return value;
}

OsaValue Text(const char* text) {
  OsaValue value;
  value.text = text;
  return value;
}

// Records the preset kind, then hands back the scripted value.
std::int32_t HandValue(OsaValue* value) {
  gSeen.kind = value->kind;
  if (gScript.value.text || gScript.value.payload != 0 ||
      gScript.value.kind != OsaValueKind::kText) {
    *value = gScript.value;
  }
  return gScript.status;
}

std::int32_t TaskValue(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t taskId,
                       OsaValue* value) {
  gSeen.taskId = taskId;
  return HandValue(value);
}

std::int32_t Attribute(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t objTypeId,
                       const OsaParentRef* parent, std::int32_t attributeId, OsaValue* value) {
  gSeen.number = objTypeId * 100 + attributeId;
  gSeen.hasParent = parent != nullptr;
  if (parent != nullptr) gSeen.parent = *parent;
  return HandValue(value);
}

class MethodTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    gSeen = {};
    gScript = {};
    OsaPluginCallbacks& table = OsaCallbacks();
    table.objectListAttribute = Attribute;
    table.taskNameGet = TaskValue;
    table.taskCpuGet = TaskValue;
    table.taskAddressSpaceGet = TaskValue;
    table.taskInKernelCheck = TaskValue;
    table.objectListNext = [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t,
                              const OsaParentRef* parent) {
      gSeen.hasParent = parent != nullptr;
      return gScript.status;
    };
  }
};

TEST_F(MethodTest, AttributeKindFollowsValueType) {
  // Types 1-7, 10 and 11 are numbers, the rest text; only the low 32 bits count.
  const std::int64_t kTypes[] = {0, 1, 7, 8, 9, 10, 11, 12, 4294967297};
  const bool kNumber[] = {false, true, true, false, false, true, true, false, true};
  for (std::size_t i = 0; i < std::size(kTypes); ++i) {
    SCOPED_TRACE(kTypes[i]);
    EXPECT_EQ(Call("ObjectListAttribute",
                   WithContext(R"("objTypeId" : 2, "objAtrId" : 3, "valueType" : )" +
                               std::to_string(kTypes[i]))),
              kNumber[i] ? R"({ "objAtrValue" : 0, "return" : 0 })"
                         : R"({ "objAtrValue" : "", "return" : 0 })");
    EXPECT_EQ(gSeen.kind, kNumber[i] ? OsaValueKind::kUInt64 : OsaValueKind::kText);
    EXPECT_EQ(gSeen.number, 203);
  }
  // The kind the callback leaves decides how the value is written.
  const std::string members = R"("objTypeId" : 2, "objAtrId" : 3, "valueType" : 11)";
  gScript.value = Number(~std::uint64_t{0}, OsaValueKind::kDouble);
  EXPECT_EQ(Call("ObjectListAttribute", WithContext(members)),
            R"({ "objAtrValue" : -1, "return" : 0 })");
  gScript.value = Text("Ready");
  EXPECT_EQ(Call("ObjectListAttribute", WithContext(members)),
            R"({ "objAtrValue" : "Ready", "return" : 0 })");
  gScript.status = 9;
  EXPECT_EQ(Call("ObjectListAttribute", WithContext(members)), R"({ "return" : 9 })");
  EXPECT_EQ(Call("ObjectListAttribute", WithContext(R"("objTypeId" : 2, "objAtrId" : 3)")),
            R"({ "return" : 1 })");
}

TEST_F(MethodTest, ObjectListParentDecoding) {
  const std::string attribute = R"("objAtrId" : 1, "valueType" : 0, )";
  EXPECT_EQ(Call("ObjectListAttribute",
                 WithContext(attribute + R"("objTypeId" : 1, "parentObjTypeId" : 2)")),
            R"({ "return" : 1 })");
  EXPECT_EQ(Call("ObjectListNext", WithContext(R"("objTypeId" : 1, "parentObjTypeId" : 2)")),
            R"({ "return" : 1 })");
  EXPECT_EQ(Call("ObjectListAttribute",
                 WithContext(attribute + R"("objTypeId" : 1, "parentObjTypeId" : 4294967295, )"
                                         R"("parentObjId" : 5)")),
            R"({ "objAtrValue" : "", "return" : 0 })");
  EXPECT_FALSE(gSeen.hasParent);
  EXPECT_EQ(Call("ObjectListAttribute",
                 WithContext(attribute + R"("objTypeId" : 1, "parentObjTypeId" : 2, )"
                                         R"("parentObjId" : -1, "parentObjListId" : 3)")),
            R"({ "objAtrValue" : "", "return" : 0 })");
  ASSERT_TRUE(gSeen.hasParent);
  EXPECT_EQ(gSeen.parent.parentObjId, ~std::uint64_t{0});
  EXPECT_EQ(gSeen.parent.parentObjTypeId, 2u);
  EXPECT_EQ(gSeen.parent.parentObjListId, 3u);
  gScript.status = 2;
  EXPECT_EQ(Call("ObjectListNext", WithContext(R"("objTypeId" : 1)")), R"({ "return" : 2 })");
}

TEST_F(MethodTest, ObjectListInitShowAllObjectsIsPerRequest) {
  OsaCallbacks().objectListInit = [](OSA_ServiceCntx* context, OsaPluginInfo* info, void*,
                                     std::int32_t, const OsaParentRef*) {
    gSeen.number = context->showAllObjects;
    info->optionBits.showObjectNumber = false;
    return 4;
  };
  EXPECT_EQ(Call("ObjectListInit", WithContext(R"("objTypeId" : 1, "showAllObjects" : 3)")),
            R"({ "showObjectNumber" : 0, "return" : 4 })");
  EXPECT_EQ(gSeen.number, 1);
  Call("ObjectListInit", WithContext(R"("objTypeId" : 1)"));
  EXPECT_EQ(gSeen.number, 0);
}

TEST_F(MethodTest, TaskValueMembers) {
  gScript.value = Text("idle");
  EXPECT_EQ(Call("TaskNameGet", WithContext(R"("taskId" : -1)")),
            R"({ "name" : "idle", "return" : 0 })");
  EXPECT_EQ(gSeen.taskId, ~std::uint64_t{0});
  // "wantName" alone decides the member's type, and it is required.
  EXPECT_EQ(Call("TaskAddressSpaceGet", WithContext(R"("taskId" : 1, "wantName" : 0)")),
            R"({ "addressSpace" : 0, "return" : 0 })");
  EXPECT_EQ(gSeen.kind, OsaValueKind::kUInt64);
  EXPECT_EQ(Call("TaskAddressSpaceGet", WithContext(R"("taskId" : 1)")), R"({ "return" : 1 })");

  gScript.value = Number(0x100000002);
  EXPECT_EQ(Call("TaskCpuGet", WithContext(R"("taskId" : 1, "valueType" : 5)")),
            R"({ "cpu" : 4294967298, "return" : 0 })");
  EXPECT_EQ(gSeen.kind, OsaValueKind::kUInt64);
  EXPECT_EQ(Call("TaskAddressSpaceGet", WithContext(R"("taskId" : 1, "wantName" : 1)")),
            R"({ "addressSpace" : "", "return" : 0 })");
  EXPECT_EQ(gSeen.kind, OsaValueKind::kText);
  // Check results are 32-bit values.
  EXPECT_EQ(Call("TaskInKernelCheck", WithContext(R"("taskId" : 1)")),
            R"({ "result" : 2, "return" : 0 })");
  EXPECT_EQ(gSeen.kind, OsaValueKind::kUInt32);
  gScript.status = 7;
  EXPECT_EQ(Call("TaskNameGet", WithContext(R"("taskId" : 1)")), R"({ "return" : 7 })");
}

// A callback's status reaches "return" with the same 32 bits, negative ones
// included, and any status but 0 leaves the result members out.
TEST_F(MethodTest, CallbackStatusesPassThroughUnchanged) {
  const struct {
    std::int32_t status;
    const char* answer;
  } cases[] = {
      {-1, R"({ "return" : -1 })"},
      {INT32_MIN, R"({ "return" : -2147483648 })"},
      {INT32_MAX, R"({ "return" : 2147483647 })"},
      {2, R"({ "return" : 2 })"},
  };
  gScript.value = Text("idle");
  for (const auto& row : cases) {
    gScript.status = row.status;
    EXPECT_EQ(Call("TaskNameGet", WithContext(R"("taskId" : 1)")), row.answer);
    EXPECT_EQ(Call("ObjectListNext", WithContext(R"("objTypeId" : 1)")), row.answer);
  }
}

TEST_F(MethodTest, AddressTranslationDirectionAndResult) {
  OsaCallbacks().taskAddressTranslate =
      [](OSA_ServiceCntx* context, OsaPluginInfo*, void*, std::uint64_t, std::int32_t* memorySpace,
         OsaTargetAddress address, std::int32_t toTask, OsaValue* value) {
        gSeen.number = toTask;
        gSeen.kind = value->kind;
        gSeen.core = context->wantPhysicalAddress;
        *memorySpace = -2;
        value->payload = OsaAddressToU64({address.low + 1, address.high});
        return 0;
      };
  EXPECT_EQ(Call("TaskAddressTranslate",
                 WithContext(R"("taskId" : 1, "memorySpace" : 0, "address" : 8589934593)")),
            R"({ "memorySpace" : -2, "address" : 8589934594, "return" : 0 })");
  EXPECT_EQ(gSeen.number, 0);
  EXPECT_EQ(gSeen.kind, OsaValueKind::kAddress);
  EXPECT_EQ(gSeen.core, 0);
  Call("TaskAddressTranslate", WithContext(R"("taskId" : 1, "memorySpace" : 0, "address" : 1, )"
                                           R"("fromTask" : 0, "wantPhysicalAddress" : 2)"));
  EXPECT_EQ(gSeen.number, 1);
  EXPECT_EQ(gSeen.core, 1);
}

TEST_F(MethodTest, CurrentTaskCoreAndModes) {
  OsaCallbacks().currentTaskGet = [](OSA_ServiceCntx* context, OsaPluginInfo*, void*,
                                     std::int64_t core, std::uint64_t* taskId) {
    gSeen.core = core;
    gSeen.number = context->noKernelCheck;
    *taskId = 0x8000000000000000u;
    return 0;
  };
  EXPECT_EQ(Call("CurrentTaskGet", WithContext(R"("checkInKernel" : 0, "coreId" : 1, )"
                                               R"("coreInUserMode" : 1)")),
            R"({ "taskId" : -9223372036854775808, "return" : 0 })");
  EXPECT_EQ(gSeen.core, 0);
  EXPECT_EQ(gSeen.number, 1);
  Call("CurrentTaskGet", WithContext(R"("checkInKernel" : 1)"));
  EXPECT_EQ(gSeen.core, -1);
  EXPECT_EQ(gSeen.number, 0);
  Call("CurrentTaskGet", WithContext(R"("checkInKernel" : 1, "hostCoreId" : 3)"));
  EXPECT_EQ(gSeen.core, 2);
  Call("CurrentTaskGet", WithContext(R"("checkInKernel" : 1, "coreId" : 1)"));
  // Every request records its core's mode over the core's earlier entry;
  // an absent coreInUserMode records 0.
  const std::vector<CoreModeEntry>& modes = Record()->coreModes;
  ASSERT_EQ(modes.size(), 3u);
  EXPECT_EQ(modes[0].inUserMode, 0u);
  EXPECT_EQ(modes[2].core, 2);
  EXPECT_EQ(Call("CurrentTaskGet", WithContext(R"("coreId" : 1)")), R"({ "return" : 1 })");
}

TEST_F(MethodTest, LifeCycleCountsNeedAsManyEntriesAsTheCount) {
  OsaCallbacks().lifeCycleCountsGet =
      [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::int32_t objTypeId, std::uint64_t,
         std::int32_t subObjTypeId, OsaValue* count, std::vector<OsaValue>* lifeCycle) {
        gSeen.number = objTypeId + subObjTypeId;
        *count = gScript.value;
        *lifeCycle = gScript.values;
        return 0;
      };
  gScript.value = Number(3);
  gScript.values = {Number(5), Number(~std::uint64_t{0})};
  EXPECT_EQ(Call("LifeCycleCountsGet", WithContext()), R"({ "count" : 3, "return" : 1 })");
  EXPECT_EQ(gSeen.number, -2);
  gScript.value = Number(2);
  EXPECT_EQ(Call("LifeCycleCountsGet", WithContext(R"("objTypeId" : 4, "subObjTypeId" : 1)")),
            R"({ "count" : 2, "lifeCycle" : [ 5, -1 ], "return" : 0 })");
  EXPECT_EQ(gSeen.number, 5);
}

TEST_F(MethodTest, PageTableListsEachFormedOnItsOwn) {
  OsaCallbacks().pageTableGet =
      [](OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t domain,
         std::vector<OsaTargetAddress>* physLow, std::vector<OsaTargetAddress>* virtLow,
         std::vector<OsaValue>* regionSize, std::vector<std::uint64_t>* aid, OsaValue* count) {
        gSeen.taskId = domain;
        *physLow = gScript.physLow;
        *virtLow = gScript.virtLow;
        *regionSize = gScript.values;
        *aid = gScript.ids;
        *count = gScript.value;
        return 0;
      };
  gScript.value = Number(2);
  gScript.physLow = {{1, 0}, {2, 1}};
  gScript.virtLow = {{3, 0}, {0xFFFFFFFF, 0xFFFFFFFF}};
  gScript.values = {Number(4096), Number(8192)};
  gScript.ids = {7, 8};
  EXPECT_EQ(Call("PageTableGet", WithContext(R"("domainId" : 6)")),
            R"({ "count" : 2, "physLowArray" : [ 1, 4294967298 ], "virtLowArray" : [ 3, -1 ], )"
            R"("regionSize" : [ 4096, 8192 ], "aidArray" : [ 7, 8 ], "return" : 0 })");
  EXPECT_EQ(gSeen.taskId, 6u);
  gScript.virtLow.pop_back();
  EXPECT_EQ(Call("PageTableGet", WithContext()),
            R"({ "count" : 2, "physLowArray" : [ 1, 4294967298 ], )"
            R"("regionSize" : [ 4096, 8192 ], "aidArray" : [ 7, 8 ], "return" : 1 })");
  EXPECT_EQ(gSeen.taskId, 0u);
}

TEST_F(MethodTest, KernelMemoryRegionsSkipListsWithoutRegions) {
  OsaCallbacks().kernelMemoryRegionsGet = [](OSA_ServiceCntx*, OsaPluginInfo*, void*,
                                             std::int32_t* count,
                                             std::vector<OsaMemoryRegion>* regions) {
    *count = gScript.regionCount;
    *regions = gScript.regions;
    return 0;
  };
  gScript.regionCount = 2;
  gScript.regions = {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}};
  EXPECT_EQ(Call("KernelMemoryRegionsGet", WithContext()),
            R"({ "numRegions" : 2, "beginArray" : [ 1, 6 ], "physicalBeginArray" : [ 4, 9 ], )"
            R"("endArray" : [ 2, 7 ], "physicalEndArray" : [ 5, 10 ], )"
            R"("attributesArray" : [ 3, 8 ], "return" : 0 })");
  gScript.regionCount = 3;
  EXPECT_EQ(Call("KernelMemoryRegionsGet", WithContext()), R"({ "numRegions" : 3, "return" : 1 })");
  gScript.regionCount = -1;
  EXPECT_EQ(Call("KernelMemoryRegionsGet", WithContext()),
            R"({ "numRegions" : -1, "return" : 0 })");
}

std::int32_t HandSymTab(OSA_ServiceCntx*, OsaPluginInfo*, void*, std::uint64_t,
                        const char* kernelExecName, OsaSymTab* table) {
  gSeen.hasParent = kernelExecName != nullptr;
  *table = gScript.symTab;
  return 0;
}

TEST_F(MethodTest, SymbolTableLists) {
  OsaCallbacks().taskSymTabGet = HandSymTab;
  OsaSymTab& table = gScript.symTab;
  table.count = 2;
  table.fileNames = {"kernel.elf", "app.elf"};
  table.masks = {-1, 3};
  table.text = {Number(0x100), Number(0x200)};
  table.rodata = {Number(1), Number(2)};
  table.data = {Number(3), Number(4)};
  table.bss = {Number(5), Number(6)};
  table.extra = {Number(7), Number(8)};
  const std::string lists =
      R"("count" : 2, "fileName" : [ "kernel.elf", "app.elf" ], "mask" : [ -1, 3 ], )"
      R"("text" : [ 256, 512 ], "rodata" : [ 1, 2 ], "data" : [ 3, 4 ], )"
      R"("bss" : [ 5, 6 ], "extra" : [ 7, 8 ])";
  table.namedSectionCounts = std::vector<std::int32_t>{1, 0};
  table.namedSectionNames = {std::vector<std::string>{".fast"}, std::nullopt};
  table.namedSectionOffsets = {std::vector<OsaValue>{Number(64)}, std::nullopt};
  const std::string named =
      R"(, "namedSectionCounts" : [ 1, 0 ], "namedSectionNames" : [ [ ".fast" ], [  ] ], )"
      R"("namedSectionOffsets" : [ [ 64 ], [  ] ])";
  EXPECT_EQ(Call("TaskSymTabGet", WithContext(R"("taskId" : 1, "kernelExecName" : "k")")),
            "{ " + lists + named + R"(, "return" : 0 })");
  EXPECT_TRUE(gSeen.hasParent);

  // A file whose names are missing contributes nothing and fails the answer;
  // the files after it still do.
  table.namedSectionCounts = std::vector<std::int32_t>{2, 1};
  table.namedSectionNames = {std::nullopt, std::vector<std::string>{".slow"}};
  table.namedSectionOffsets = {std::vector<OsaValue>{Number(1), Number(2)},
                               std::vector<OsaValue>{Number(9)}};
  EXPECT_EQ(Call("TaskSymTabGet", WithContext(R"("taskId" : 1)")),
            "{ " + lists +
                R"(, "namedSectionCounts" : [ 2, 1 ], "namedSectionNames" : [ [ ".slow" ] ], )"
                R"("namedSectionOffsets" : [ [ 9 ] ], "return" : 1 })");

  // Lists shorter than the count are never read past their end.
  table.namedSectionCounts.reset();
  table.masks.pop_back();
  table.extra.clear();
  EXPECT_EQ(Call("TaskSymTabGet", WithContext(R"("taskId" : 1)")),
            R"({ "count" : 2, "fileName" : [ "kernel.elf", "app.elf" ], )"
            R"("text" : [ 256, 512 ], "rodata" : [ 1, 2 ], "data" : [ 3, 4 ], )"
            R"("bss" : [ 5, 6 ], "return" : 1 })");
}

}  // namespace
}  // namespace handler_test
