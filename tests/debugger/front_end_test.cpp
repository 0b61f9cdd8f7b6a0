// The osa_modeldbg front end: its command line, its tables, and its output
// for the plug-in as it stands, run as a process and in-process.
#include "debugger/front_end.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <utility>

#include "debugger/client_calls.h"
#include "debugger/windows.h"
#include "model/kernel_builder.h"
#include "tests/plugin/child_pipes.h"

namespace {

// A refused command line gives its reason and leaves the options alone.
TEST(FrontEndCommandLine, ReadsItsOptionsAndRefusesWhatItCannotRun) {
  const char* const argv[] = {"osa_modeldbg",  "--variant", "v3-64",  "--plugin",
                              "/x/osa_plugin", "--record",  "out.rec"};
  DbgFrontEndOptions options;
  std::string error;
  ASSERT_TRUE(DbgParseCommandLine(7, argv, &options, &error)) << error;
  EXPECT_EQ(options.variant, "v3-64");
  EXPECT_EQ(options.transport, DbgTransport::kPipe);
  EXPECT_EQ(options.pluginPath, "/x/osa_plugin");
  EXPECT_EQ(options.recordPath, "out.rec");
  EXPECT_TRUE(options.cache);
  ASSERT_TRUE(DbgParseCommandLine(1, argv, &options, &error));
  EXPECT_EQ(options.variant, "v1-mask-core-32");
  EXPECT_EQ(options.transport, DbgTransport::kInProcess);
  const char* const noCache[] = {"osa_modeldbg", "--no-cache"};
  ASSERT_TRUE(DbgParseCommandLine(2, noCache, &options, &error));
  EXPECT_FALSE(options.cache);

  const std::pair<std::vector<const char*>, const char*> rows[] = {
      {{"osa_modeldbg", "--variant"}, "--variant needs a value"},
      {{"osa_modeldbg", "--record"}, "--record needs a value"},
      {{"osa_modeldbg", "--verbose"}, "unknown option --verbose"},
      {{"osa_modeldbg", "--plugin", "p", "--in-process"},
       "--plugin and --in-process exclude each other"},
  };
  for (const auto& [words, reason] : rows) {
    options.variant = "kept";
    EXPECT_FALSE(
        DbgParseCommandLine(static_cast<int>(words.size()), words.data(), &options, &error));
    EXPECT_EQ(error, reason);
    EXPECT_EQ(options.variant, "kept");
  }
}

TEST(FrontEndTables, AlignsColumnsToTheWidestCell) {
  DbgTextTable table;
  table.title = "Tasks";
  table.columns = {"Id", "Name", "State"};
  table.rows = {{"0x20000100", "idle", "Ready"}, {"0x8", "main_loop", ""}};
  EXPECT_EQ(DbgRenderTable(table),
            "Tasks\n"
            "Id          Name       State\n"
            "----------  ---------  -----\n"
            "0x20000100  idle       Ready\n"
            "0x8         main_loop\n");
  table.rows.clear();
  EXPECT_EQ(DbgRenderTable(table), "Tasks\nId  Name  State\n--  ----  -----\n(none)\n");
}

TEST(FrontEndRun, ListsTheVariantsAndRefusesAnUnknownOne) {
  DbgFrontEndOptions options;
  options.listVariants = true;
  std::string out;
  std::string err;
  EXPECT_EQ(DbgFrontEndRun(options, &out, &err), kDbgExitOk);
  std::string expected;
  for (const std::string_view name : model::KernelVariantNames())
    expected += std::string(name) + "\n";
  EXPECT_EQ(out, expected);

  options.listVariants = false;
  options.variant = "v2-nothing";
  out.clear();
  EXPECT_EQ(DbgFrontEndRun(options, &out, &err), kDbgExitSession);
  EXPECT_EQ(err.rfind("osa_modeldbg: cannot build variant v2-nothing: ", 0), 0u) << err;
}

// The cells of the first table whose title starts with `title`, cut at the
// columns its rule line marks, without the "(none)" row of an empty table.
// False when there is no such table.
bool Table(const std::string& output, const std::string& title,
           std::vector<std::vector<std::string>>* rows) {
  rows->clear();
  const std::size_t at = output.rfind(title, 0) == 0 ? 0 : output.find("\n" + title);
  if (at == std::string::npos) return false;
  std::vector<std::string> lines;
  std::size_t begin = output.find('\n', at + 1) + 1;
  while (begin < output.size() && output[begin] != '\n') {
    const std::size_t end = output.find('\n', begin);
    lines.push_back(output.substr(begin, end - begin));
    begin = end + 1;
  }
  if (lines.size() < 2) return false;
  std::vector<std::size_t> starts;
  for (std::size_t index = 0; index < lines[1].size(); ++index) {
    if (lines[1][index] == '-' && (index == 0 || lines[1][index - 1] == ' ')) {
      starts.push_back(index);
    }
  }
  for (std::size_t line = 2; line < lines.size(); ++line) {
    if (lines[line] == "(none)") continue;
    std::vector<std::string> cells;
    for (std::size_t column = 0; column < starts.size(); ++column) {
      const std::size_t from = std::min(starts[column], lines[line].size());
      const std::size_t to =
          column + 1 < starts.size() ? starts[column + 1] - 2 : std::string::npos;
      std::string cell = lines[line].substr(from, to == std::string::npos ? to : to - from);
      while (!cell.empty() && cell.back() == ' ')
        cell.pop_back();
      cells.push_back(cell);
    }
    rows->push_back(std::move(cells));
  }
  return true;
}

// "0x" and the value in hex, padded to `digits` with zeros.
std::string Hex(std::uint64_t value, int digits = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*" PRIx64, digits, value);
  return text;
}

TEST(FrontEndRun, AsAProcessShowsTheDefaultVariantThroughThePluginProcess) {
  std::string output;
  std::string error;
  EXPECT_EQ(ChildPipesRun(OSA_MODELDBG_PATH, {"--plugin", OSA_PLUGIN_PATH}, {}, &output, &error), 0)
      << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(output.rfind("Model target: v1-mask-core-32 (kernel version 1, 32-task masks", 0), 0u)
      << output;
  EXPECT_NE(output.find("Plug-in: " OSA_PLUGIN_PATH " (child process)\n"), std::string::npos);
  model::TargetModel target;
  ASSERT_TRUE(model::BuildKernelModel(kDbgDefaultVariant, &target, nullptr));
  std::vector<std::vector<std::string>> tasks;
  ASSERT_TRUE(Table(output, "Tasks (object type ", &tasks)) << output;
  EXPECT_EQ(tasks.size(), target.manifest.tasks.size()) << output;
}

// The plug-in's cache changes no window, only the conversation's length.
TEST(FrontEndRun, ShowsTheSameWindowsWithAndWithoutTheCache) {
  for (const std::string_view variant : model::KernelVariantNames()) {
    SCOPED_TRACE(variant);
    std::string windows[2];
    std::uint64_t lines[2] = {};
    for (const bool cache : {false, true}) {
      DbgFrontEndOptions options;
      options.variant = variant;
      options.cache = cache;
      options.recordPath = testing::TempDir() + "osa_modeldbg_cache.rec";
      std::string out;
      std::string err;
      ASSERT_EQ(DbgFrontEndRun(options, &out, &err), kDbgExitOk) << err;
      std::remove(options.recordPath.c_str());
      const std::size_t recorded = out.rfind("Recorded ");
      ASSERT_NE(recorded, std::string::npos) << out;
      lines[cache ? 1 : 0] = std::stoull(out.substr(recorded + 9));
      windows[cache ? 1 : 0] = out.substr(0, recorded);
    }
    EXPECT_EQ(windows[1], windows[0]);
    // One cold walk: the layouts are asked once and set-up is the same.
    EXPECT_LT(lines[1] * 2, lines[0]) << "the cache cuts the conversation";
  }
}

// Every variant runs in-process to the end (the default one recording a
// record that plays back): the task window lists the tasks
// in ring order, the register window shows the saved registers of a task
// that is not running, and every object window lists as many objects as the
// model laid out.
TEST(FrontEndRun, WalksEveryObjectOfEveryVariant) {
  constexpr std::pair<const char*, std::uint32_t> kTitles[] = {
      {"Timers", 2},      {"Mutexes", 3},     {"Semaphores", 4},   {"Queues", 5},
      {"Event flags", 6}, {"Block pools", 7}, {"Memory pools", 8},
  };
  for (const std::string_view variant : model::KernelVariantNames()) {
    SCOPED_TRACE(variant);
    model::TargetModel target;
    std::string error;
    ASSERT_TRUE(model::BuildKernelModel(variant, &target, &error)) << error;
    const model::KernelManifest& m = target.manifest;
    DbgFrontEndOptions options;
    options.variant = variant;
    const bool recorded = variant == kDbgDefaultVariant;
    if (recorded) options.recordPath = testing::TempDir() + "osa_modeldbg_front_end.rec";
    std::string out;
    std::string err;
    EXPECT_EQ(DbgFrontEndRun(options, &out, &err), kDbgExitOk) << err;
    EXPECT_NE(out.find("Plug-in: linked into this process\n"), std::string::npos);
    if (recorded) {
      EXPECT_NE(out.find("\nRecorded "), std::string::npos) << out;
      std::string played;
      EXPECT_EQ(ChildPipesRun(OSA_PLUGIN_PATH, {"-file", options.recordPath}, {}, &played, &err),
                0);
      EXPECT_EQ(played.rfind("Successfully played back all ", 0), 0u) << played;
      std::remove(options.recordPath.c_str());
    }
    std::vector<std::vector<std::string>> rows;
    ASSERT_TRUE(Table(out, "Tasks (object type ", &rows)) << out;
    ASSERT_EQ(rows.size(), m.tasks.size()) << out;
    for (std::size_t index = 0; index < rows.size(); ++index) {
      EXPECT_EQ(rows[index][0], Hex(m.tasks[index].address));
      EXPECT_EQ(rows[index][1], m.tasks[index].name);
    }
    const std::size_t shown = out.find("Registers of task 0x");
    ASSERT_NE(shown, std::string::npos);
    const std::uint64_t id = std::stoull(out.substr(shown + 18, 10), nullptr, 16);
    const auto task = std::find_if(m.tasks.begin(), m.tasks.end(),
                                   [&](const auto& row) { return row.address == id; });
    ASSERT_NE(task, m.tasks.end());
    EXPECT_FALSE(task->running);
    ASSERT_TRUE(Table(out, "Registers of task ", &rows));
    ASSERT_EQ(rows.size(), 17u);
    for (std::size_t reg = 0; reg < rows.size(); ++reg)
      EXPECT_EQ(rows[reg][1], Hex(task->registers[reg], 8)) << rows[reg][0];
    for (const auto& [title, index] : kTitles) {
      // clang 14 cannot capture a structured binding; the lambda takes a copy.
      const auto listIndex = index;
      const auto expected = static_cast<std::size_t>(
          std::count_if(m.objects.begin(), m.objects.end(), [&](const auto& object) {
            return object.listIndex == listIndex && object.coreAddress != 0;
          }));
      // A type the plug-in hides has no window at all.
      if (Table(out, std::string(title) + " (object type ", &rows) || expected != 0) {
        EXPECT_EQ(rows.size(), expected) << title;
      }
    }
  }
}

// The conversation both front ends share: its diagnostics name the program
// that holds it, and its exit code says which step failed.
TEST(DbgConverse, NamesTheProgramAndTheStepThatFailed) {
  struct Case {
    const char* what;
    DbgTransport transport;
    std::string pluginPath;
    std::string recordPath;
    bool listCommands;
    int code;
    const char* outHas;
  };
  const Case cases[] = {
      {"in-process", DbgTransport::kInProcess, "", "", false, kDbgExitOk,
       "Plug-in: linked into this process\n"},
      {"commands listed", DbgTransport::kInProcess, "", "", true, kDbgExitOk, "Plug-in commands ("},
      {"no plug-in", DbgTransport::kPipe, "/nonexistent/osa_plugin", "", false, kDbgExitSession,
       ""},
      {"record not written", DbgTransport::kInProcess, "", "/nonexistent/dir/run.rec", false,
       kDbgExitRecord, "Tasks (object type "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::TargetModel target;
    ASSERT_TRUE(model::BuildKernelModel(kDbgDefaultVariant, &target, nullptr));
    DbgConversation conversation;
    conversation.program = "some_front_end";
    conversation.session.transport = c.transport;
    conversation.session.pluginPath = c.pluginPath;
    conversation.session.record = !c.recordPath.empty();
    conversation.recordPath = c.recordPath;
    conversation.bigEndianTarget = target.manifest.bigEndian;
    conversation.listCommands = c.listCommands;
    std::string out;
    std::string err;
    EXPECT_EQ(DbgConverse(conversation, &target, &out, &err), c.code) << err;
    EXPECT_NE(out.find(c.outHas), std::string::npos) << out;
    EXPECT_EQ(out.find("Plug-in commands (") != std::string::npos, c.listCommands) << out;
    if (c.code == kDbgExitOk) {
      EXPECT_EQ(err, "");
    } else {
      EXPECT_EQ(err.rfind("some_front_end: ", 0), 0u) << err;
      EXPECT_EQ(err.back(), '\n');
    }
  }
}

}  // namespace
