// The kernel code's cache: with it on, every model variant gives the same
// answers and shows the same messages as with it off, through walks of every
// type with every attribute, task questions, register writes, a target that
// changed between stops and a broken name; a full refresh of the 32-task
// model costs at most 0.3 service round trips per attribute; and the
// commands, the switch's life and the bounds of what is kept.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/target_cache.h"
#include "model/variants.h"
#include "tests/kernel/kernel_harness.h"
#include "tools/debugger_script.h"

namespace kernel_test {
namespace {

constexpr std::int32_t kWrittenRegister = 4;  // r4, a word of the saved context
constexpr std::uint64_t kWrittenValue = 0x5A5A0004;

// The plug-in's side of the conversation that a debugger sees: its answers
// and the texts it shows. Service requests and their ids are left out, as
// they are what the cache changes.
std::vector<std::string> Answers(std::string_view record) {
  std::vector<std::string> answers;
  constexpr std::string_view kTag = "PLUGIN: ";
  while (!record.empty()) {
    const std::size_t end = std::min(record.find('\n'), record.size());
    std::string_view line = record.substr(0, end);
    record.remove_prefix(std::min(end + 1, record.size()));
    if (!line.starts_with(kTag)) continue;
    line.remove_prefix(kTag.size());
    if (line.find("\"result\"") != std::string_view::npos) {
      answers.emplace_back(line);
    } else if (line.find("OSA_Service_MessageDisplay") != std::string_view::npos) {
      answers.emplace_back(line.substr(0, line.rfind("\"id\"")));
    }
  }
  return answers;
}

class CacheTest : public ModelTarget {
 public:
  // Turns the cache on or off; both answers say the command was understood.
  void SetCache(bool on) {
    bool understood = false;
    ASSERT_EQ(DbgCacheSet(S(), kContext, on, &understood), 0);
    EXPECT_TRUE(understood);
    ASSERT_NE(Kernel(), nullptr);
    EXPECT_EQ(Kernel()->cache.enabled, on);
  }

  // Every type with every attribute as text and number, and the questions
  // about each task.
  void AskEverything() {
    std::vector<std::uint64_t> taskIds;
    ScriptCounts counts;
    std::string error;
    for (const ScriptObjectType& type : ScriptObjectTypes()) {
      ASSERT_TRUE(ScriptWalkType(S(), type, ScriptValues::kTextAndNumber, true,
                                 type.type == 1 ? &taskIds : nullptr, &counts, &error))
          << error;
    }
    for (const std::uint64_t task : taskIds) {
      std::string text;
      std::int64_t offset = 0;
      (void)DbgTaskNameGet(S(), kContext, task, &text);
      (void)DbgTaskStatusGet(S(), kContext, task, &text);
      (void)DbgTaskLsoGet(S(), kContext, task, &offset);
      // Every mapped register (floating-point ones included) and one beyond.
      const auto registers = static_cast<std::int32_t>(Kernel()->registerMap.size()) + 1;
      for (std::int32_t reg = 0; reg < registers; ++reg) {
        std::uint64_t value = 0;
        (void)DbgTaskRegisterRead(S(), kContext, task, reg, &value);
      }
    }
    JsonPtr table;
    (void)DbgOsaCmdExecute(S(), kContext, "get_task_table", &table);
  }

  // What the debugger sees of a session on `variant`: everything asked, a
  // register written and read back, the target changed while it ran, then
  // everything asked again; finally a corrupted object.
  std::vector<std::string> Session(std::string_view variant, bool cache) {
    if (!Start(variant)) return {};
    SetCache(cache);
    Forget();
    EXPECT_EQ(DbgTargetNotify(S(), kContext, 0), 0);
    AskEverything();

    const model::ManifestTask& idle = TaskNamed("net_worker");
    std::uint64_t before = 0;
    std::uint64_t after = 0;
    (void)DbgTaskRegisterRead(S(), kContext, idle.address, kWrittenRegister, &before);
    (void)DbgTaskRegisterWrite(S(), kContext, idle.address, kWrittenRegister, kWrittenValue);
    (void)DbgTaskRegisterRead(S(), kContext, idle.address, kWrittenRegister, &after);
    EXPECT_EQ(after, kWrittenValue);

    // The target ran: a task changed its state and a semaphore its count.
    WriteMember("QX_TASK", idle.address, "status", 3);
    const model::ManifestObject& semaphore = ObjectInList(4);
    WriteMember("QX_SEM", semaphore.address, "count", 77);
    EXPECT_EQ(DbgTargetNotify(S(), kContext, 1), 0);
    AskEverything();

    // A name pointer into unmapped memory.
    WriteMember("struct QX_OBJECT_STRUCT", semaphore.address, "name", kUnmapped);
    EXPECT_EQ(DbgTargetNotify(S(), kContext, 0), 0);
    AskEverything();
    return Answers(S()->record);
  }

  const model::ManifestObject& ObjectInList(std::uint32_t listIndex) const {
    for (const model::ManifestObject& object : model.manifest.objects) {
      if (object.listIndex == listIndex) return object;
    }
    ADD_FAILURE() << "no object in list " << listIndex;
    return model.manifest.objects.front();
  }
};

class CacheEveryVariant : public CacheTest, public testing::WithParamInterface<std::string_view> {};

TEST_P(CacheEveryVariant, AnswersAndMessagesAreTheSameOnAndOff) {
  const std::vector<std::string> off = Session(GetParam(), false);
  Close();
  const std::vector<std::string> on = Session(GetParam(), true);
  ASSERT_GT(off.size(), 100u);
  ASSERT_EQ(on.size(), off.size());
  for (std::size_t i = 0; i < off.size(); ++i) {
    ASSERT_EQ(on[i], off[i]) << "answer " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, CacheEveryVariant,
                         testing::ValuesIn(model::KernelVariantNames()), VariantName);

// Round trips of a full refresh per attribute, with the cache on or off.
struct RefreshCost {
  double attributeTrips = 0;  // of the attribute requests alone
  double allTrips = 0;        // of the whole refresh, walks and notice included
};

class CacheRefresh : public CacheTest {
 public:
  RefreshCost Measure(bool cache) {
    if (!Start("v1-mask-core-32")) return {};
    SetCache(cache);
    std::string error;
    ScriptCounts warm;
    EXPECT_TRUE(ScriptRefresh(S(), &warm, &error)) << error;
    const std::uint64_t before = S()->service.answered;
    ScriptCounts counts;
    EXPECT_TRUE(ScriptRefresh(S(), &counts, &error)) << error;
    const auto attributes = static_cast<double>(counts.attributes);
    return {static_cast<double>(counts.attributeServiceRoundTrips) / attributes,
            static_cast<double>(S()->service.answered - before) / attributes};
  }
};

TEST_F(CacheRefresh, CutsRoundTripsPerAttributeTenfold) {
  const RefreshCost off = Measure(false);
  Close();
  const RefreshCost on = Measure(true);
  std::printf(
      "full refresh of v1-mask-core-32, service round trips per attribute: "
      "cache off %.3f (attribute requests alone %.3f), cache on %.3f (%.3f)\n",
      off.allTrips, off.attributeTrips, on.allTrips, on.attributeTrips);
  EXPECT_GT(off.allTrips, 3.0);
  EXPECT_LE(on.allTrips, 0.3);
  EXPECT_LE(on.attributeTrips, on.allTrips);
}

TEST_F(CacheTest, CommandsAnswerZeroAndSayTheState) {
  ASSERT_TRUE(Start("v1-mask-core-32"));
  EXPECT_FALSE(Kernel()->cache.enabled);
  SetCache(true);
  SetCache(false);
  // Near misses are commands the plug-in does not know: 0 and nothing added.
  for (const char* command : {"cache", "cache on ", "Cache on", "cache  off"}) {
    JsonPtr result;
    ASSERT_EQ(DbgOsaCmdExecute(S(), kContext, command, &result), 0) << command;
    EXPECT_EQ(JsonObjectIndexOf(result.get(), "cache"), -1) << command;
    EXPECT_FALSE(Kernel()->cache.enabled) << command;
  }
}

TEST_F(CacheTest, OffSendsTheSameRequestsAsBefore) {
  ASSERT_TRUE(Start("v3-64"));
  SetCache(true);
  SetCache(false);
  Forget();
  std::string error;
  ScriptCounts counts;
  ASSERT_TRUE(ScriptRefresh(S(), &counts, &error)) << error;
  // No request a cache would add: no type sizes, no block reads.
  EXPECT_TRUE(RequestsWith("sizeof(QX_").empty());
  EXPECT_TRUE(RequestsWith("sizeof(struct").empty());
  EXPECT_TRUE(RequestsWith("&qx_kernel_object_list\"").empty());
}

TEST_F(CacheTest, SwitchOutlivesTargetInitButNotTargetCleanup) {
  ASSERT_TRUE(Start("v1-mask-core-32"));
  SetCache(true);
  std::string error;
  ScriptCounts counts;
  ASSERT_TRUE(ScriptRefresh(S(), &counts, &error)) << error;
  EXPECT_FALSE(Kernel()->cache.evaluations.empty());

  DbgTargetInitAnswer answer;
  ASSERT_EQ(DbgTargetInit(S(), kContext, model.manifest.bigEndian, &answer), 0);
  ASSERT_NE(Kernel(), nullptr);
  EXPECT_TRUE(Kernel()->cache.enabled);
  EXPECT_TRUE(Kernel()->cache.evaluations.empty()) << "layouts are asked again after TargetInit";

  ASSERT_EQ(DbgTargetCleanup(S(), kContext), 0);
  ASSERT_EQ(DbgTargetInit(S(), kContext, model.manifest.bigEndian, &answer), 0);
  EXPECT_FALSE(Kernel()->cache.enabled);
}

TEST_F(CacheTest, MemoryIsAskedAgainAfterEveryStopAndWrite) {
  ASSERT_TRUE(Start("v1-mask-core-32"));
  SetCache(true);
  const model::ManifestTask& idle = TaskNamed("net_worker");
  std::string state;
  ASSERT_EQ(DbgTaskStatusGet(S(), kContext, idle.address, &state), 0);
  Forget();
  ASSERT_EQ(DbgTaskStatusGet(S(), kContext, idle.address, &state), 0);
  EXPECT_TRUE(RequestsWith("OSA_Service_").empty()) << "served from the kept copy";

  WriteMember("QX_TASK", idle.address, "status", 2);
  ASSERT_EQ(DbgTaskStatusGet(S(), kContext, idle.address, &state), 0);
  EXPECT_NE(state, "Halted") << "no stop reported yet: the kept copy stands";
  ASSERT_EQ(DbgTargetNotify(S(), kContext, 1), 0);
  ASSERT_EQ(DbgTaskStatusGet(S(), kContext, idle.address, &state), 0);
  EXPECT_EQ(state, "Halted");

  // A write by the plug-in drops the copies, even with no stop between.
  WriteMember("QX_TASK", idle.address, "status", 3);
  ASSERT_EQ(DbgTaskRegisterWrite(S(), kContext, idle.address, kWrittenRegister, 1), 0);
  ASSERT_EQ(DbgTaskStatusGet(S(), kContext, idle.address, &state), 0);
  EXPECT_EQ(state, "Pended (sleep)");
}

TEST_F(CacheTest, KeptMemoryStaysWithinItsBound) {
  ASSERT_TRUE(Start("v1-mask-core-32"));
  OSA_ServiceCntx* plugin = Plugin();
  TargetCache cache;
  CacheSetEnabled(&cache, true);
  const auto base = static_cast<std::uint32_t>(TaskNamed("net_worker").address);
  // Nearly full: the next block read makes room by dropping the rest.
  cache.regions.emplace(0x100000u, std::vector<std::uint8_t>(16));
  cache.regionBytes = kCacheMaxRegionBytes - 16;
  std::uint8_t byte = 0;
  ASSERT_EQ(CacheReadMemory(plugin, &cache, base, 1, 1, &byte, {base, 64}), KernelStatus::kOk);
  EXPECT_EQ(cache.regionBytes, 64u);
  EXPECT_EQ(cache.regions.size(), 1u);

  // Larger than a block: read as asked, nothing kept.
  std::vector<std::uint8_t> large(kCacheMaxBlockBytes + 4);
  // Only what is kept matters here, not whether the read succeeds.
  static_cast<void>(CacheReadMemory(plugin, &cache, base, static_cast<std::uint32_t>(large.size()),
                                    1, large.data()));
  EXPECT_EQ(cache.regionBytes, 64u);
}

}  // namespace
}  // namespace kernel_test
