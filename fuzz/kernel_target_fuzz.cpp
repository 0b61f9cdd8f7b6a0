// Fuzz target: the target memory that the kernel-awareness code walks. The
// input picks a model kernel variant and patches its memory (object links,
// counts, sizes, name pointers and texts, masks, the register-map table, the
// saved task frames, live registers); the linked plug-in is then driven
// through its JSON-RPC entry points as a debugger refreshing its kernel
// windows drives it: TargetInit, the window choices, every object type's
// walk with every attribute as text and as a number, and each task's name,
// state, thread-local-storage offset and registers, target notices and the
// task-table command. The answers may say anything; the plug-in must answer
// every request (a JSON-RPC response with the request's id) without a crash.
//
// The work per input is bounded: walks stop after a few objects, only a few
// task ids are asked about, and the model debugger refuses service requests
// past a budget, so that a ring that never closes costs no more than a
// target that is not there.
//
// Input: byte 0 the variant, byte 1 the drive flags, byte 2 the walk bound
// (low 5 bits) and the stride of the objects asked for attributes (high 3),
// byte 3 the object type walked (0: every type), byte 4 the number of task
// ids asked about, then patches (see ApplyPatches) up to the end. Most
// inputs walk one type and ask about a few tasks, which keeps an input to a
// few hundred service requests.
//
// Each input is refreshed twice, with the plug-in's target-read cache off and
// on; the answers to the debugger and the messages shown must be the same.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/client_calls.h"
#include "debugger/session.h"
#include "model/kernel_builder.h"
#include "model/target_memory.h"
#include "model/target_model.h"

namespace {

constexpr std::int64_t kContext = 1;

// Service requests one input may cost before the model debugger refuses
// them; walking every type of an intact kernel needs about 6000.
constexpr std::uint64_t kServiceBudget = 8'000;
// Objects visited per walk: the intact kernels have at most 15 per type.
constexpr std::uint32_t kMaxWalkRows = 18;
// Distinct task ids collected, and the most the task methods are asked about.
constexpr std::size_t kMaxTaskIds = 20;
constexpr std::size_t kMaxTasksAsked = 4;
// Patches applied per input, and the longest byte run of one patch.
constexpr std::size_t kMaxPatches = 64;
constexpr std::size_t kMaxPatchBytes = 16;

// ---- Input bytes ------------------------------------------------------------

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;

  bool More() const { return at < size; }
  // Past the end every byte reads as 0.
  std::uint8_t Byte() { return at < size ? data[at++] : 0; }
  std::uint16_t Half() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t Word() { return Half() | static_cast<std::uint32_t>(Half()) << 16; }
};

// ---- Kernel images ----------------------------------------------------------

// A stretch of target memory worth patching: a kernel variable or object, a
// task's saved frame, an object's name text.
struct Anchor {
  std::uint32_t address;
  std::uint32_t extent;
};

struct Image {
  model::TargetModel model;
  std::vector<Anchor> anchors;
};

std::uint64_t Evaluate(const model::TargetModel& model, const std::string& expression) {
  std::uint64_t value = 0;
  return model::ModelEvaluate(model, expression, &value, nullptr) ? value : 0;
}

void AddNameAnchor(Image* image, std::uint32_t core) {
  if (core == 0) return;
  const std::uint64_t name =
      Evaluate(image->model, "((struct QX_OBJECT_STRUCT *)" + std::to_string(core) + ")->name");
  if (name != 0) image->anchors.push_back({static_cast<std::uint32_t>(name), 32});
}

// Builds every variant once; inputs patch copies.
const std::vector<Image>& Images() {
  static const std::vector<Image> images = [] {
    std::vector<Image> built;
    for (std::string_view name : model::KernelVariantNames()) {
      Image image;
      std::string error;
      if (!model::BuildKernelModel(name, &image.model, &error)) {
        std::fprintf(stderr, "kernel_target_fuzz: %s\n", error.c_str());
        std::abort();
      }
      for (const model::Symbol& symbol : image.model.symbols.symbols) {
        if (symbol.kind == model::SymbolKind::kVariable && symbol.size != 0) {
          image.anchors.push_back({symbol.address, symbol.size});
        }
      }
      for (const model::ManifestTask& task : image.model.manifest.tasks) {
        image.anchors.push_back({task.savedSp, task.stackStart + task.stackSize - task.savedSp});
        AddNameAnchor(&image, task.coreAddress);
      }
      for (const model::ManifestObject& object : image.model.manifest.objects) {
        AddNameAnchor(&image, object.coreAddress);
      }
      built.push_back(std::move(image));
    }
    return built;
  }();
  return images;
}

// Words that kernels treat specially, that wrap, or that point nowhere;
// 0x08000000 and 0x08000084 lie in the reset handler and the boot code.
constexpr std::array<std::uint32_t, 32> kSpecialWords = {
    0,          1,          2,          3,          4,          7,          8,          9,
    0x10,       0x1F,       0x20,       0x21,       0x40,       0x7F,       0x80,       0xFD,
    0xFE,       0xFF,       0x200,      0xFFFF,     0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE,
    0xFFFFFFFC, 0xFFFFFF00, 0x20000000, 0x2000FFFC, 0x20010000, 0x08000000, 0x08000084, 0xDEADBEEF,
};

// Each patch starts with an operation byte:
//   0 write bytes   anchor, offset (2), length, bytes
//   1 xor bytes     anchor, offset (2), length, bytes
//   2 link          anchor, offset (2), anchor B, delta: the word at the
//                   place becomes B's address plus the signed delta
//   3 special word  anchor, offset (2), index into kSpecialWords
//   4 raw write     RAM offset (2), length, bytes
//   5 live register number, then an even byte and a value (4), or an odd
//                   byte and an index into kSpecialWords
// Offsets are taken modulo the anchor's extent. Bytes that would fall on
// unmapped memory are not written.
void ApplyPatches(Input* in, const Image& image, model::TargetModel* model) {
  const std::vector<Anchor>& anchors = image.anchors;
  constexpr std::uint32_t kRamBase = 0x20000000;
  for (std::size_t patch = 0; patch < kMaxPatches && in->More(); ++patch) {
    const std::uint8_t op = in->Byte() % 6;
    std::uint32_t address = 0;
    if (op <= 3) {
      const Anchor& anchor = anchors[in->Byte() % anchors.size()];
      address = anchor.address + in->Half() % std::max<std::uint32_t>(anchor.extent, 1);
    } else if (op == 4) {
      address = kRamBase + in->Half();
    }
    switch (op) {
      case 0:
      case 1:
      case 4: {
        const std::size_t length = 1 + in->Byte() % kMaxPatchBytes;
        for (std::size_t i = 0; i < length; ++i) {
          std::uint8_t byte = in->Byte();
          const std::uint64_t at = std::uint64_t{address} + i;
          if (op == 1) {
            std::uint8_t old = 0;
            if (!model::MemoryRead(model->memory, at, 1, &old)) continue;
            byte ^= old;
          }
          (void)model::MemoryWrite(&model->memory, at, 1, &byte);
        }
        break;
      }
      case 2: {
        const Anchor& target = anchors[in->Byte() % anchors.size()];
        const auto delta = static_cast<std::int8_t>(in->Byte());
        (void)model::MemoryWriteValue(&model->memory, address, 4,
                                      static_cast<std::uint32_t>(target.address + delta));
        break;
      }
      case 3:
        (void)model::MemoryWriteValue(&model->memory, address, 4,
                                      kSpecialWords[in->Byte() % kSpecialWords.size()]);
        break;
      default: {
        const std::uint32_t number = in->Byte() % model->registers.values.size();
        model->registers.values[number] =
            (in->Byte() & 1) == 0 ? in->Word() : kSpecialWords[in->Byte() % kSpecialWords.size()];
        break;
      }
    }
  }
}

// ---- The debugger's refresh -------------------------------------------------

// Drive flags (byte 1 of the input).
constexpr std::uint8_t kAskNumbers = 0x01;    // attributes also as 64-bit numbers
constexpr std::uint8_t kAllRegisters = 0x02;  // every register number, else a sample
constexpr std::uint8_t kWriteRegisters = 0x04;
constexpr std::uint8_t kNotifyBetween = 0x08;  // a target notice between the walks
constexpr std::uint8_t kInitTwice = 0x10;      // a second TargetInit without a cleanup
constexpr std::uint8_t kBogusTaskIds = 0x20;   // task ids 0 and an unmapped one come first
constexpr std::uint8_t kTaskTable = 0x40;      // "get_task_table", whose entries become task ids
// TargetInit describes a target of CPU type 10 on a debugger that wants
// 32-bit addresses sign-extended, instead of the model's Cortex-M.
constexpr std::uint8_t kOtherTarget = 0x80;

// Attribute numbers per object type (index: the type number); the common
// ones and one that no type defines are asked of every type.
constexpr std::int32_t kCommonAttributes[] = {0, 1, 9, 99};
constexpr std::int32_t kTaskAttributes[] = {2, 3, 4, 5, 6, 7, 8, 10, 11, 18, 19, 20, 21, 22};
constexpr std::int32_t kTimerAttributes[] = {12, 13, 14, 15, 16, 17, 26};
constexpr std::int32_t kMutexAttributes[] = {22, 23, 24, 25};
constexpr std::int32_t kSemaphoreAttributes[] = {32};
constexpr std::int32_t kQueueAttributes[] = {42, 43, 44};
constexpr std::int32_t kEventFlagsAttributes[] = {52, 53};
constexpr std::int32_t kBlockPoolAttributes[] = {62, 63, 64};
constexpr std::int32_t kMemoryPoolAttributes[] = {72, 73, 74, 75};

std::span<const std::int32_t> TypeAttributes(std::int32_t type) {
  switch (type) {
    case 1:
    case 9:
      return kTaskAttributes;
    case 2:
    case 10:
      return kTimerAttributes;
    case 3:
    case 11:
      return kMutexAttributes;
    case 4:
      return kSemaphoreAttributes;
    case 5:
      return kQueueAttributes;
    case 6:
      return kEventFlagsAttributes;
    case 7:
      return kBlockPoolAttributes;
    default:
      return kMemoryPoolAttributes;
  }
}

constexpr std::array<std::string_view, 12> kTypeNames = {
    "",      "Task",       "Timer",       "Mutex",       "Semaphore",    "Queue",
    "Event", "Block pool", "Memory pool", "Task (list)", "Timer (list)", "Mutex (list)"};

// Register numbers asked of every task without kAllRegisters: integer, stack
// pointer, status word, floating-point, the computed bit-31 view, and two
// numbers past the map.
constexpr std::int32_t kSampleRegisters[] = {0, 4, 12, 13, 14, 15, 16, 17, 40, 49, 66, 67, -1};

struct Refresh {
  DbgSession* session;
  bool bigEndian;  // the target's byte order, as the debugger reports it
  std::uint8_t flags;
  std::uint32_t rows;      // objects visited per walk
  std::uint32_t stride;    // attributes are asked of every stride-th object
  std::int32_t type;       // the type walked, 0 for every type
  std::size_t tasksAsked;  // task ids the task methods are asked about
  bool cacheOn;            // "cache on" after TargetInit, else "cache off"
  std::vector<std::uint64_t> taskIds;
};

// An exchange that failed outright means the plug-in gave no usable
// response: that is the fault this target looks for.
void Check(const Refresh& r, std::string_view what) {
  if (!r.session->broken) return;
  std::fprintf(stderr, "kernel_target_fuzz: %.*s: %s\n", static_cast<int>(what.size()), what.data(),
               r.session->lastError.c_str());
  std::abort();
}

void NoteTask(Refresh* r, std::uint64_t id) {
  if (r->taskIds.size() >= kMaxTaskIds) return;
  if (std::find(r->taskIds.begin(), r->taskIds.end(), id) == r->taskIds.end()) {
    r->taskIds.push_back(id);
  }
}

void AskAttributes(Refresh* r, std::int32_t type, std::span<const std::int32_t> attributes) {
  for (const std::int32_t attribute : attributes) {
    std::string text;
    (void)DbgObjectListAttributeText(r->session, kContext, type, attribute, &text);
    Check(*r, "ObjectListAttribute");
    if ((r->flags & kAskNumbers) == 0) continue;
    std::uint64_t number = 0;
    (void)DbgObjectListAttributeNumber(r->session, kContext, type, attribute, &number);
    Check(*r, "ObjectListAttribute");
  }
}

void WalkType(Refresh* r, std::int32_t type) {
  std::string shown;
  std::int32_t visible = 0;
  (void)DbgGuiObjectCheck(r->session, kContext, kTypeNames[static_cast<std::size_t>(type)], type, 1,
                          &shown, &visible);
  Check(*r, "GuiObjectCheck");
  const std::int32_t first = DbgObjectListInit(r->session, kContext, type);
  Check(*r, "ObjectListInit");
  if (first == 0) {
    for (std::uint32_t row = 0; row < r->rows; ++row) {
      if (type == 1 || type == 9) {
        std::uint64_t id = 0;
        if (DbgObjectListAttributeNumber(r->session, kContext, type, 0, &id) == 0) NoteTask(r, id);
        Check(*r, "ObjectListAttribute");
      }
      if (row % r->stride == 0) {
        AskAttributes(r, type, kCommonAttributes);
        AskAttributes(r, type, TypeAttributes(type));
      }
      const std::int32_t next = DbgObjectListNext(r->session, kContext, type);
      Check(*r, "ObjectListNext");
      if (next != 0) break;
    }
  }
  (void)DbgObjectListCleanup(r->session, kContext, type);
  Check(*r, "ObjectListCleanup");
  // Attributes of a closed walk are refused.
  AskAttributes(r, type, std::span(kCommonAttributes).first(1));
}

void TaskTable(Refresh* r) {
  JsonPtr result;
  if (DbgOsaCmdExecute(r->session, kContext, "get_task_table", &result) == 0) {
    const JsonValue* table = nullptr;
    if (JsonObjectGet(result.get(), "task_table", &table) && table->kind == JsonKind::JsonArray) {
      for (const JsonPtr& entry : table->elements) {
        if (entry->kind == JsonKind::JsonInteger && entry->number != 0) {
          NoteTask(r, static_cast<std::uint64_t>(entry->number));
        }
      }
    }
  }
  Check(*r, "OsaCmd_Execute");
}

void AskTask(Refresh* r, std::uint64_t id) {
  std::string text;
  (void)DbgTaskNameGet(r->session, kContext, id, &text);
  Check(*r, "TaskNameGet");
  (void)DbgTaskStatusGet(r->session, kContext, id, &text);
  Check(*r, "TaskStatusGet");
  std::int64_t offset = 0;
  (void)DbgTaskLsoGet(r->session, kContext, id, &offset);
  Check(*r, "TaskLsoGet");
  std::vector<std::int32_t> registers(std::begin(kSampleRegisters), std::end(kSampleRegisters));
  if ((r->flags & kAllRegisters) != 0) {
    for (std::int32_t number = 0; number <= static_cast<std::int32_t>(model::kRegisterCount);
         ++number) {
      registers.push_back(number);
    }
  }
  for (const std::int32_t number : registers) {
    std::uint64_t value = 0;
    const std::int32_t status = DbgTaskRegisterRead(r->session, kContext, id, number, &value);
    Check(*r, "TaskRegisterRead");
    if ((r->flags & kWriteRegisters) != 0 && (number == 4 || number == 13 || number == 20)) {
      // Written back as read, so that the frame stays what the input made it.
      (void)DbgTaskRegisterWrite(r->session, kContext, id, number, status == 0 ? value : 0);
      Check(*r, "TaskRegisterWrite");
    }
  }
}

std::int32_t TargetInit(Refresh* r) {
  std::int32_t status = kDbgNoAnswer;
  if ((r->flags & kOtherTarget) == 0) {
    DbgTargetInitAnswer target;
    status = DbgTargetInit(r->session, kContext, r->bigEndian, &target);
  } else {
    JsonPtr params = JsonNewObject();
    JsonObjectAddInteger(params.get(), "context", kContext);
    JsonObjectAddInteger(params.get(), "majorCpuType", std::int32_t{10});
    JsonObjectAddInteger(params.get(), "minorCpuType", std::int32_t{0});
    JsonObjectAddInteger(params.get(), "bigEndianTarget", std::int32_t{r->bigEndian ? 1 : 0});
    JsonObjectAddInteger(params.get(), "bigEndianHost", std::int32_t{0});
    JsonObjectAddInteger(params.get(), "signExtendAddressFrom4BytesTo8Bytes", std::int32_t{1});
    JsonPtr result;
    if (DbgSessionCall(r->session, "OSA_Client_TargetInit", std::move(params), &result)) {
      (void)JsonObjectGetInteger(result.get(), "return", &status);
    }
  }
  Check(*r, "TargetInit");
  return status;
}

void RunRefresh(Refresh* r) {
  DbgOsaInitAnswer osa;
  (void)DbgOsaInit(r->session, kContext, &osa);
  Check(*r, "OsaInit");
  const std::int32_t init = TargetInit(r);
  // Both runs send the switch, so the two conversations keep the same ids.
  bool understood = false;
  (void)DbgCacheSet(r->session, kContext, r->cacheOn, &understood);
  Check(*r, "OsaCmd_Execute");
  if (init == 0 && (r->flags & kInitTwice) != 0) (void)TargetInit(r);
  if ((r->flags & kBogusTaskIds) != 0) {
    NoteTask(r, 0);
    NoteTask(r, 0xFFFFFF00);
  }
  // Without a kernel record every method still answers; one walk shows it.
  JsonPtr polled;
  JsonPtr params = JsonNewObject();
  JsonObjectAddInteger(params.get(), "context", kContext);
  (void)DbgSessionCall(r->session, "OSA_Client_Poll", std::move(params), &polled);
  Check(*r, "Poll");
  // Numbers that name no object type, and a walk that was never opened.
  for (const std::int32_t type : {0, 12}) {
    (void)DbgObjectListInit(r->session, kContext, type);
    Check(*r, "ObjectListInit");
  }
  (void)DbgObjectListNext(r->session, kContext, r->type == 0 ? 1 : r->type);
  Check(*r, "ObjectListNext");
  std::uint64_t current = 0;
  if (DbgCurrentTaskGet(r->session, kContext, &current) == 0) NoteTask(r, current);
  Check(*r, "CurrentTaskGet");
  if ((r->flags & kTaskTable) != 0) TaskTable(r);
  for (std::int32_t type = 1; type <= 11; ++type) {
    if (r->type != 0 && r->type != type) continue;
    WalkType(r, type);
    if (init != 0) break;
    if ((r->flags & kNotifyBetween) != 0 && type == 5) {
      (void)DbgTargetNotify(r->session, kContext, type & 1);
      Check(*r, "TargetNotify");
    }
  }
  const std::vector<std::uint64_t> ids = r->taskIds;
  for (std::size_t i = 0; i < ids.size() && i < r->tasksAsked; ++i) {
    AskTask(r, ids[i]);
    if (init != 0) break;
  }
  // The offsets cached so far are kept by notice 1 and dropped by notice 0.
  for (const std::int32_t notice : {1, 0}) {
    (void)DbgTargetNotify(r->session, kContext, notice);
    Check(*r, "TargetNotify");
    std::int64_t offset = 0;
    (void)DbgTaskLsoGet(r->session, kContext, r->taskIds.empty() ? 0 : r->taskIds.front(), &offset);
    Check(*r, "TaskLsoGet");
  }
  (void)DbgTargetCleanup(r->session, kContext);
  Check(*r, "TargetCleanup");
  (void)DbgOsaCleanup(r->session, kContext);
  Check(*r, "OsaCleanup");
}

// What the debugger sees of a conversation: the plug-in's answers to its
// requests and the messages shown to the user (without the service ids), in
// order. Service exchanges are left out, since the cache changes them, and
// so is the answer to the cache switch itself.
std::vector<std::string> DebuggerView(std::string_view record) {
  constexpr std::string_view kPluginLine = "PLUGIN: ";
  std::vector<std::string> view;
  while (!record.empty()) {
    const std::size_t end = std::min(record.find('\n'), record.size());
    std::string_view line = record.substr(0, end);
    record.remove_prefix(std::min(end + 1, record.size()));
    if (!line.starts_with(kPluginLine)) continue;
    line.remove_prefix(kPluginLine.size());
    if (line.find("\"cache\" :") != std::string_view::npos) continue;
    if (line.find("\"method\"") != std::string_view::npos) {
      if (line.find("OSA_Service_MessageDisplay") == std::string_view::npos) continue;
      line = line.substr(0, line.rfind("\"id\""));
    }
    view.emplace_back(line);
  }
  return view;
}

struct RefreshRun {
  std::vector<std::string> view;
  bool overBudget = false;  // the model debugger refused requests
};

RefreshRun RunOnce(const model::TargetModel& patched, const Refresh& shape, bool cacheOn) {
  model::TargetModel model = patched;
  DbgSessionOptions options;
  options.record = true;
  std::unique_ptr<DbgSession> session;
  std::string error;
  if (!DbgSessionOpen(options, &model, &session, &error)) {
    std::fprintf(stderr, "kernel_target_fuzz: %s\n", error.c_str());
    std::abort();
  }
  session->service.answerBudget = kServiceBudget;
  Refresh refresh = shape;
  refresh.session = session.get();
  refresh.cacheOn = cacheOn;
  RunRefresh(&refresh);
  RefreshRun run;
  run.view = DebuggerView(session->record);
  run.overBudget = session->service.answered > kServiceBudget;
  (void)DbgSessionClose(session.get());
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<Image>& images = Images();
  Input in{data, size};
  const Image& image = images[in.Byte() % images.size()];
  const std::uint8_t flags = in.Byte();
  const std::uint8_t walk = in.Byte();
  const std::uint32_t rows = 1 + (walk & 0x1F) % kMaxWalkRows;
  const std::uint32_t stride = 1 + (walk >> 5);
  const std::uint8_t typeByte = in.Byte();
  const std::int32_t type = typeByte == 0 ? 0 : 1 + (typeByte - 1) % 11;
  const std::size_t tasksAsked = in.Byte() % (kMaxTasksAsked + 1);

  model::TargetModel model = image.model;
  ApplyPatches(&in, image, &model);

  const Refresh shape{nullptr, model.memory.bigEndian, flags, rows, stride, type, tasksAsked, false,
                      {}};
  const RefreshRun off = RunOnce(model, shape, false);
  const RefreshRun on = RunOnce(model, shape, true);
  // A refresh cut short by the budget legitimately answers differently.
  if (off.overBudget || on.overBudget || off.view == on.view) return 0;
  const std::size_t count = std::min(off.view.size(), on.view.size());
  std::size_t i = 0;
  while (i < count && off.view[i] == on.view[i])
    ++i;
  std::fprintf(stderr,
               "kernel_target_fuzz: answer %zu differs with the cache on\n off: %s\n on:  %s\n", i,
               i < off.view.size() ? off.view[i].c_str() : "(none)",
               i < on.view.size() ? on.view[i].c_str() : "(none)");
  std::abort();
}
