// What a debugger's kernel windows show, as aligned text tables: the task
// list, the registers of a task that is not running, and one table per other
// object type, each filled by walking the plug-in's object lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/client_calls.h"
#include "debugger/session.h"

struct DbgTextTable {
  std::string title;
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;  // cells beyond the columns are not shown
};

// The title line, the column headings, a rule and the rows, each column as
// wide as its widest cell and two blanks between columns; no trailing blanks.
// A table without rows shows "(none)" under the rule.
std::string DbgRenderTable(const DbgTextTable& table);

// The cell shown for an attribute the plug-in did not deliver.
inline constexpr std::string_view kDbgMissingCell = "-";

// Walks every object type the plug-in shows and appends the rendered
// windows to *out, using only the methods that `offered` lists: GuiObjectCheck
// chooses between the two presentations of tasks, timers and mutexes;
// without ObjectListAttribute the objects are only numbered; the registers
// window needs TaskRegisterRead. False when the conversation failed on the
// way; what was gathered up to then is appended all the same.
[[nodiscard]] bool DbgShowKernelWindows(DbgSession* session, std::int64_t context,
                                        const DbgOsaInitAnswer& offered, std::string* out);
