// The debugger's kernel windows as text tables (see windows.h).
#include "debugger/windows.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <span>

#include "debugger/client_calls.h"
#include "kernel/attribute_ids.h"
#include "model/register_file.h"

namespace {

struct Column {
  AttributeId attribute;
  std::string_view heading;
};

// One window: the object type, the type of its second presentation (0 when
// there is none), the name given to GuiObjectCheck, the attribute kind and
// the columns shown.
struct ObjectWindow {
  std::int32_t type;
  std::int32_t secondType;
  std::string_view typeName;
  std::string_view title;
  AttributeKind kind;
  std::span<const Column> columns;
};

constexpr std::int32_t kTaskType = 1;

using A = AttributeId;

constexpr Column kTaskColumns[] = {
    {A::kIdentity, "Id"},
    {A::kName, "Name"},
    {A::kTaskState, "State"},
    {A::kStaticPriority, "Static prio"},
    {A::kActivePriority, "Active prio"},
    {A::kStackStart, "Stack start"},
    {A::kStackSize, "Stack size"},
    {A::kPendedOn, "Pended on"},
    {A::kWaitTicks, "Wait ticks"},
    {A::kTlsOffset, "TLS offset"},
};
// The task walk takes each task's name and state from these two columns.
constexpr std::size_t kTaskNameColumn = 1;
constexpr std::size_t kTaskStateColumn = 2;
static_assert(kTaskColumns[kTaskNameColumn].attribute == A::kName, "task name column");
static_assert(kTaskColumns[kTaskStateColumn].attribute == A::kTaskState, "task state column");

constexpr Column kTimerColumns[] = {
    {A::kIdentity, "Id"},
    {A::kName, "Name"},
    {A::kTimerActive, "Active"},
    {A::kRemainingTicks, "Remaining"},
    {A::kAlarmTicks, "Alarm ticks"},
    {A::kRepeating, "Repeating"},
    {A::kRepeatTicks, "Repeat ticks"},
    {A::kExpirationRoutine, "Expiration routine"},
    {A::kExpirationInput, "Input"},
};
constexpr Column kMutexColumns[] = {
    {A::kIdentity, "Id"},
    {A::kName, "Name"},
    {A::kOwner, "Owner"},
    {A::kNestingCount, "Nesting"},
    {A::kPriorityInherit, "Inherit"},
    {A::kInheritedPriority, "Inherited prio"},
    {A::kPendingTaskCount, "Waiting"},
};
constexpr Column kSemaphoreColumns[] = {
    {A::kIdentity, "Id"},
    {A::kName, "Name"},
    {A::kSemaphoreCount, "Count"},
    {A::kPendingTaskCount, "Waiting"},
};
constexpr Column kQueueColumns[] = {
    {A::kIdentity, "Id"},
    {A::kName, "Name"},
    {A::kMessageCount, "Messages"},
    {A::kQueueCapacity, "Capacity"},
    {A::kMessageSize, "Message size"},
    {A::kPendingTaskCount, "Waiting"},
};
constexpr Column kEventFlagsColumns[] = {
    {A::kIdentity, "Id"},
    {A::kName, "Name"},
    {A::kFlags, "Flags"},
    {A::kRequestedFlags, "Requested"},
    {A::kPendingTaskCount, "Waiting"},
};
constexpr Column kBlockPoolColumns[] = {
    {A::kIdentity, "Id"},          {A::kName, "Name"},
    {A::kBlockSize, "Block size"}, {A::kAvailableBlocks, "Available"},
    {A::kTotalBlocks, "Total"},    {A::kPendingTaskCount, "Waiting"},
};
constexpr Column kMemoryPoolColumns[] = {
    {A::kIdentity, "Id"},
    {A::kName, "Name"},
    {A::kAvailableBytes, "Available bytes"},
    {A::kPoolSize, "Size"},
    {A::kFragments, "Fragments"},
    {A::kSmallestPendingAllocation, "Smallest pending"},
    {A::kPendingTaskCount, "Waiting"},
};

constexpr std::array<ObjectWindow, 8> kWindows = {{
    {1, 9, "Task", "Tasks", AttributeKind::kTask, kTaskColumns},
    {2, 10, "Timer", "Timers", AttributeKind::kTimer, kTimerColumns},
    {3, 11, "Mutex", "Mutexes", AttributeKind::kMutex, kMutexColumns},
    {4, 0, "Semaphore", "Semaphores", AttributeKind::kSemaphore, kSemaphoreColumns},
    {5, 0, "Queue", "Queues", AttributeKind::kQueue, kQueueColumns},
    {6, 0, "Event flags", "Event flags", AttributeKind::kEventFlags, kEventFlagsColumns},
    {7, 0, "Block pool", "Block pools", AttributeKind::kBlockPool, kBlockPoolColumns},
    {8, 0, "Memory pool", "Memory pools", AttributeKind::kMemoryPool, kMemoryPoolColumns},
}};
static_assert(kWindows.size() == 8, "one window per kernel object type");

constexpr bool ColumnsBelongToTheirWindows() {
  for (const ObjectWindow& window : kWindows) {
    for (const Column& column : window.columns) {
      if (!AttributeBelongsTo(window.kind, column.attribute)) return false;
    }
  }
  return true;
}
static_assert(ColumnsBelongToTheirWindows(), "every column is an attribute of its window's kind");

// Registers shown for a task that is not running: r0-r15 and xPSR.
constexpr std::int32_t kShownRegisterCount = 17;

std::string FormatHex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIx64, value);
  return text;
}

std::string FormatRegister(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08" PRIx64, value);
  return text;
}

// What the plug-in offers that the windows use.
struct Offered {
  bool guiObjectCheck = false;
  bool attributes = false;
  bool currentTask = false;
  bool taskRegisters = false;
};

// Which presentation of a window's objects the plug-in shows: its type, the
// second type, or 0 when it hides both. *name receives the name to show.
// Without GuiObjectCheck the first presentation is shown.
std::int32_t ShownType(DbgSession* session, std::int64_t context, const Offered& offered,
                       const ObjectWindow& window, std::string* name, bool* answered) {
  *answered = true;
  *name = window.typeName;
  if (!offered.guiObjectCheck) return window.type;
  for (const std::int32_t type : {window.type, window.secondType}) {
    if (type == 0) continue;
    std::string shownName;
    std::int32_t visible = 0;
    const std::int32_t status =
        DbgGuiObjectCheck(session, context, window.typeName, type, 1, &shownName, &visible);
    if (status == kDbgNoAnswer) {
      *answered = false;
      return 0;
    }
    // A plug-in that cannot judge the type leaves it visible.
    if (status != 0 || visible != 0) {
      if (status == 0 && !shownName.empty()) *name = shownName;
      return type;
    }
  }
  return 0;
}

struct TaskSeen {
  std::uint64_t id = 0;
  std::string name;
  std::string state;
};

// One row of attribute texts for the object the walk stands on; a task's
// id, name and state also go to *tasks. False when no answer came.
bool ReadRow(DbgSession* session, std::int64_t context, const ObjectWindow& window,
             std::int32_t type, std::vector<std::string>* row, std::vector<TaskSeen>* tasks) {
  for (const Column& column : window.columns) {
    std::string text;
    const std::int32_t status = DbgObjectListAttributeText(
        session, context, type, AttributeNumber(column.attribute), &text);
    if (status == kDbgNoAnswer) return false;
    row->push_back(status == 0 ? text : std::string(kDbgMissingCell));
  }
  if (window.type != kTaskType) return true;
  TaskSeen task;
  const std::int32_t status =
      DbgObjectListAttributeNumber(session, context, type, AttributeNumber(A::kIdentity), &task.id);
  if (status == kDbgNoAnswer) return false;
  if (status == 0) {
    task.name = (*row)[kTaskNameColumn];
    task.state = (*row)[kTaskStateColumn];
    tasks->push_back(std::move(task));
  }
  return true;
}

// Fills the window's table by walking `type`; without attributes the
// objects are only numbered.
bool WalkWindow(DbgSession* session, std::int64_t context, const Offered& offered,
                const ObjectWindow& window, std::int32_t type, DbgTextTable* table,
                std::vector<TaskSeen>* tasks) {
  if (offered.attributes) {
    for (const Column& column : window.columns)
      table->columns.emplace_back(column.heading);
  } else {
    table->columns.emplace_back("#");
  }
  bool answered = true;
  const DbgWalkEnd end = DbgObjectListWalk(session, context, type, [&]() {
    std::vector<std::string> row;
    if (!offered.attributes) {
      row.push_back(std::to_string(table->rows.size() + 1));
    } else if (!ReadRow(session, context, window, type, &row, tasks)) {
      answered = false;
      return false;
    }
    table->rows.push_back(std::move(row));
    return true;
  });
  if (end == DbgWalkEnd::kBoundReached) {
    table->title += " (walk stopped after " + std::to_string(kDbgMaxWalkSteps) + " objects)";
  }
  return answered && !session->broken;
}

// The registers of the first listed task that is not the running one.
bool ShowTaskRegisters(DbgSession* session, std::int64_t context, const Offered& offered,
                       const std::vector<TaskSeen>& tasks, std::string* out) {
  std::uint64_t running = 0;
  bool knowRunning = false;
  if (offered.currentTask) {
    const std::int32_t status = DbgCurrentTaskGet(session, context, &running);
    if (status == kDbgNoAnswer) return false;
    knowRunning = status == 0;
  }
  const auto found = std::find_if(tasks.begin(), tasks.end(), [&](const TaskSeen& task) {
    return (!knowRunning || task.id != running) && task.state != "Running";
  });
  if (found == tasks.end()) {
    out->append("Registers: no listed task is known not to run.\n\n");
    return true;
  }
  DbgTextTable table;
  table.title =
      "Registers of task " + FormatHex(found->id) + " (" + found->name + ", " + found->state + ")";
  table.columns = {"Register", "Value"};
  for (std::int32_t reg = 0; reg < kShownRegisterCount; ++reg) {
    std::uint64_t value = 0;
    const std::int32_t read = DbgTaskRegisterRead(session, context, found->id, reg, &value);
    if (read == kDbgNoAnswer) return false;
    table.rows.push_back({model::RegisterName(static_cast<std::uint32_t>(reg)),
                          read == 0 ? FormatRegister(value) : std::string("(not saved)")});
  }
  out->append(DbgRenderTable(table));
  out->push_back('\n');
  return true;
}

}  // namespace

std::string DbgRenderTable(const DbgTextTable& table) {
  std::vector<std::size_t> widths;
  for (const std::string& column : table.columns)
    widths.push_back(column.size());
  for (const std::vector<std::string>& row : table.rows) {
    for (std::size_t index = 0; index < row.size() && index < widths.size(); ++index) {
      widths[index] = std::max(widths[index], row[index].size());
    }
  }
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t index = 0; index < widths.size(); ++index) {
      const std::string empty;
      const std::string& cell = index < cells.size() ? cells[index] : empty;
      if (index > 0) text.append("  ");
      text.append(cell);
      text.append(widths[index] - cell.size(), ' ');
    }
    while (!text.empty() && text.back() == ' ')
      text.pop_back();
    text.push_back('\n');
    return text;
  };
  std::string text = table.title + "\n";
  text.append(line(table.columns));
  std::vector<std::string> rule;
  for (const std::size_t width : widths)
    rule.emplace_back(width, '-');
  text.append(line(rule));
  if (table.rows.empty()) text.append("(none)\n");
  for (const std::vector<std::string>& row : table.rows)
    text.append(line(row));
  return text;
}

bool DbgShowKernelWindows(DbgSession* session, std::int64_t context,
                          const DbgOsaInitAnswer& offeredMethods, std::string* out) {
  Offered offered;
  offered.guiObjectCheck = DbgOffersCommand(offeredMethods, "OSA_Client_GuiObjectCheck");
  offered.attributes = DbgOffersCommand(offeredMethods, "OSA_Client_ObjectListAttribute");
  offered.currentTask = DbgOffersCommand(offeredMethods, "OSA_Client_CurrentTaskGet");
  offered.taskRegisters = DbgOffersCommand(offeredMethods, "OSA_Client_TaskRegisterRead");
  if (!offered.attributes) {
    out->append(
        "The plug-in offers no OSA_Client_ObjectListAttribute: objects are numbered, not "
        "described.\n\n");
  }
  std::vector<TaskSeen> tasks;
  for (const ObjectWindow& window : kWindows) {
    std::string name;
    bool answered = true;
    const std::int32_t type = ShownType(session, context, offered, window, &name, &answered);
    if (!answered) return false;
    if (type == 0) {
      out->append(std::string(window.title) +
                  ": not shown (the plug-in hides this object type)\n\n");
      continue;
    }
    DbgTextTable table;
    table.title =
        std::string(window.title) + " (object type " + std::to_string(type) + ", " + name + ")";
    const bool walked = WalkWindow(session, context, offered, window, type, &table, &tasks);
    out->append(DbgRenderTable(table));
    out->push_back('\n');
    if (!walked) return false;
    if (window.type == kTaskType && offered.attributes && offered.taskRegisters &&
        !ShowTaskRegisters(session, context, offered, tasks, out)) {
      return false;
    }
  }
  return true;
}
