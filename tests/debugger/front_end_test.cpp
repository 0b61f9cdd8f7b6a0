// The osa_modeldbg front end: its command line, its tables, and its output
// for the plug-in as it stands, run as a process and in-process.
#include "debugger/front_end.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <utility>

#include "debugger/client_calls.h"
#include "debugger/windows.h"
#include "model/kernel_builder.h"
#include "tests/plugin/child_pipes.h"

namespace {

TEST(FrontEndCommandLine, ReadsItsOptions) {
  const char* const argv[] = {"osa_modeldbg",  "--variant", "v3-64",  "--plugin",
                              "/x/osa_plugin", "--record",  "out.rec"};
  DbgFrontEndOptions options;
  std::string error;
  ASSERT_TRUE(DbgParseCommandLine(7, argv, &options, &error)) << error;
  EXPECT_EQ(options.variant, "v3-64");
  EXPECT_EQ(options.transport, DbgTransport::kPipe);
  EXPECT_EQ(options.pluginPath, "/x/osa_plugin");
  EXPECT_EQ(options.recordPath, "out.rec");

  const char* const defaults[] = {"osa_modeldbg"};
  ASSERT_TRUE(DbgParseCommandLine(1, defaults, &options, &error));
  EXPECT_EQ(options.variant, "v1-mask-core-32");
  EXPECT_EQ(options.transport, DbgTransport::kInProcess);
}

TEST(FrontEndCommandLine, RefusesWhatItCannotRun) {
  struct Row {
    std::vector<const char*> argv;
    const char* error;
  };
  const Row rows[] = {
      {{"osa_modeldbg", "--variant"}, "--variant needs a value"},
      {{"osa_modeldbg", "--record"}, "--record needs a value"},
      {{"osa_modeldbg", "--verbose"}, "unknown option --verbose"},
      {{"osa_modeldbg", "--plugin", "p", "--in-process"},
       "--plugin and --in-process exclude each other"},
  };
  for (const Row& row : rows) {
    DbgFrontEndOptions options;
    options.variant = "kept";
    std::string error;
    EXPECT_FALSE(
        DbgParseCommandLine(static_cast<int>(row.argv.size()), row.argv.data(), &options, &error));
    EXPECT_EQ(error, row.error);
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
  for (const std::string_view name : model::KernelVariantNames()) {
    expected.append(name);
    expected.push_back('\n');
  }
  EXPECT_EQ(out, expected);

  options.listVariants = false;
  options.variant = "v2-nothing";
  out.clear();
  EXPECT_EQ(DbgFrontEndRun(options, &out, &err), kDbgExitSession);
  EXPECT_EQ(err.rfind("osa_modeldbg: cannot build variant v2-nothing: ", 0), 0u) << err;
}

// The number of rows of the table whose title starts with `title` followed
// by " (object type", or -1 when there is no such table.
int TableRows(const std::string& output, const std::string& title) {
  const std::size_t at = output.find("\n" + title + " (object type ");
  if (at == std::string::npos) return -1;
  std::size_t line = output.find('\n', at + 1);
  for (int skip = 0; skip < 2 && line != std::string::npos; ++skip) {
    line = output.find('\n', line + 1);  // the headings and the rule
  }
  int rows = 0;
  while (line != std::string::npos && line + 1 < output.size() && output[line + 1] != '\n') {
    if (output.compare(line + 1, 7, "(none)\n") != 0) ++rows;
    line = output.find('\n', line + 1);
  }
  return rows;
}

// The cells of the table whose title starts with `title`, cut at the
// columns that its rule line marks; empty when there is no such table.
std::vector<std::vector<std::string>> TableCells(const std::string& output,
                                                 const std::string& title) {
  std::vector<std::vector<std::string>> rows;
  std::size_t at = output.rfind(title, 0) == 0 ? 0 : output.find("\n" + title);
  if (at == std::string::npos) return rows;
  std::vector<std::string> lines;
  std::size_t begin = output.find('\n', at + 1) + 1;
  while (begin < output.size() && output[begin] != '\n') {
    const std::size_t end = output.find('\n', begin);
    lines.push_back(output.substr(begin, end - begin));
    begin = end + 1;
  }
  if (lines.size() < 2) return rows;
  std::vector<std::size_t> starts;
  for (std::size_t index = 0; index < lines[1].size(); ++index) {
    if (lines[1][index] == '-' && (index == 0 || lines[1][index - 1] == ' ')) {
      starts.push_back(index);
    }
  }
  for (std::size_t line = 2; line < lines.size(); ++line) {
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
    rows.push_back(std::move(cells));
  }
  return rows;
}

// "0x" and the value in hex, padded to `digits` with zeros.
std::string Hex(std::uint64_t value, int digits = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*" PRIx64, digits, value);
  return text;
}

// Whether the plug-in as built offers kernel awareness, asked directly.
bool PluginIsKernelAware() {
  model::TargetModel target;
  model::ModelInit(&target, false);
  DbgSessionOptions options;
  options.transport = DbgTransport::kPipe;
  options.pluginPath = OSA_PLUGIN_PATH;
  std::unique_ptr<DbgSession> session;
  std::string error;
  EXPECT_TRUE(DbgSessionOpen(options, &target, &session, &error)) << error;
  DbgOsaInitAnswer init;
  EXPECT_EQ(DbgOsaInit(session.get(), 1, &init), 0);
  return DbgOffersKernelAwareness(init);
}

TEST(FrontEndRun, ShowsWhatThePluginOffersForTheDefaultVariant) {
  const bool aware = PluginIsKernelAware();
  std::string output;
  std::string error;
  const int exitCode =
      ChildPipesRun(OSA_MODELDBG_PATH, {"--plugin", OSA_PLUGIN_PATH}, {}, &output, &error);
  EXPECT_EQ(exitCode, 0) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(output.rfind("Model target: v1-mask-core-32 (kernel version 1, 32-task masks", 0), 0u)
      << output;
  EXPECT_NE(output.find("Plug-in: " OSA_PLUGIN_PATH " (child process)\n"), std::string::npos);
  const std::string none =
      "The plug-in offers no kernel awareness: its OSA_Client_OsaInit answer lists no "
      "OSA_Client_ObjectListInit, so there are no task or object windows to show.\n";
  if (!aware) {
    EXPECT_NE(output.find("Plug-in commands (3): OSA_Client_OsaCleanup, "
                          "OSA_Client_HistoryLogDump, OSA_Client_Exit\n" +
                          none),
              std::string::npos)
        << output;
  } else {
    EXPECT_EQ(output.find(none), std::string::npos) << output;
    model::TargetModel target;
    std::string buildError;
    ASSERT_TRUE(model::BuildKernelModel(kDbgDefaultVariant, &target, &buildError));
    EXPECT_EQ(TableRows(output, "Tasks"), static_cast<int>(target.manifest.tasks.size())) << output;
  }
}

// Every variant runs in-process to the end, and every window lists as many
// objects as the model laid out.
TEST(FrontEndRun, WalksEveryObjectOfEveryVariant) {
  if (!PluginIsKernelAware()) GTEST_SKIP() << "the plug-in offers no kernel awareness";
  constexpr std::pair<const char*, std::uint32_t> kTitles[] = {
      {"Timers", 2},      {"Mutexes", 3},     {"Semaphores", 4},   {"Queues", 5},
      {"Event flags", 6}, {"Block pools", 7}, {"Memory pools", 8},
  };
  for (const std::string_view variant : model::KernelVariantNames()) {
    model::TargetModel target;
    std::string error;
    ASSERT_TRUE(model::BuildKernelModel(variant, &target, &error)) << error;
    DbgFrontEndOptions options;
    options.variant = variant;
    std::string out;
    std::string err;
    EXPECT_EQ(DbgFrontEndRun(options, &out, &err), kDbgExitOk) << variant << "\n" << err;
    EXPECT_EQ(TableRows(out, "Tasks"), static_cast<int>(target.manifest.tasks.size()))
        << variant << "\n"
        << out;
    // The task list in ring order, and the saved registers of the task shown.
    const auto tasks = TableCells(out, "Tasks (object type ");
    for (std::size_t index = 0; index < tasks.size() && index < target.manifest.tasks.size();
         ++index) {
      const model::ManifestTask& task = target.manifest.tasks[index];
      EXPECT_EQ(tasks[index][0], Hex(task.address)) << variant;
      EXPECT_EQ(tasks[index][1], task.name) << variant;
    }
    const std::size_t shown = out.find("Registers of task 0x");
    ASSERT_NE(shown, std::string::npos) << variant;
    const std::uint64_t id = std::stoull(out.substr(shown + 18, 10), nullptr, 16);
    const auto task =
        std::find_if(target.manifest.tasks.begin(), target.manifest.tasks.end(),
                     [&](const model::ManifestTask& row) { return row.address == id; });
    ASSERT_NE(task, target.manifest.tasks.end()) << variant;
    EXPECT_FALSE(task->running) << variant;
    const auto registers = TableCells(out, "Registers of task ");
    ASSERT_EQ(registers.size(), 17u) << variant;
    for (std::size_t reg = 0; reg < registers.size(); ++reg) {
      EXPECT_EQ(registers[reg][1], Hex(task->registers[reg], 8))
          << variant << " " << registers[reg][0];
    }
    for (const auto& [title, listIndex] : kTitles) {
      const int expected = static_cast<int>(
          std::count_if(target.manifest.objects.begin(), target.manifest.objects.end(),
                        [&](const model::ManifestObject& object) {
                          return object.listIndex == listIndex && object.coreAddress != 0;
                        }));
      const int rows = TableRows(out, title);
      // A type the plug-in hides has no table at all.
      if (rows >= 0 || expected != 0) {
        EXPECT_EQ(rows, expected) << variant << " " << title;
      }
    }
  }
}

TEST(FrontEndRun, InProcessRunShowsTheSameAndRecordsIt) {
  DbgFrontEndOptions options;
  options.recordPath = testing::TempDir() + "osa_modeldbg_front_end.rec";
  std::string out;
  std::string err;
  EXPECT_EQ(DbgFrontEndRun(options, &out, &err), kDbgExitOk) << err;
  EXPECT_NE(out.find("Plug-in: linked into this process\n"), std::string::npos);
  EXPECT_NE(out.find("\nRecorded "), std::string::npos) << out;
  std::string played;
  std::string playError;
  EXPECT_EQ(ChildPipesRun(OSA_PLUGIN_PATH, {"-file", options.recordPath}, {}, &played, &playError),
            0)
      << played;
  EXPECT_EQ(played.rfind("Successfully played back all ", 0), 0u) << played;
  std::remove(options.recordPath.c_str());
}

}  // namespace
