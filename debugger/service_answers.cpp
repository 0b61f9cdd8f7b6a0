// Answers to the plug-in's service requests from a model target (see
// service_answers.h). One handler per method, found through a table; each
// reads its params, writes its result members as text straight into the
// answer and returns the "return" value.
#include "debugger/service_answers.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "debugger/member_layout.h"
#include "debugger/text_pieces.h"
#include "runtime/text_format.h"
#include "simple_json/json_write.h"

namespace {

// Reads params and appends the result's members to `result` (each as
// `"name" : value, `); the returned status becomes "return", written after
// the members the handler added.
using AnswerHandler = std::int32_t (*)(DbgServiceState* state, const JsonValue* params,
                                       std::string* result);

// Member names here are short plain words: they need no escapes.
void PutName(std::string* result, std::string_view name) {
  result->push_back('"');
  result->append(name);
  result->append("\" : ");
}

// `"name" : value, ` in one append; names are literals of a few letters.
template <std::size_t kSize>
void PutInteger(std::string* result, const char (&name)[kSize], std::int64_t value) {
  static_assert(kSize <= 16, "a longer name needs a larger buffer");
  char room[16 + 6 + kDbgIntegerDigits];
  char* out = room;
  *out++ = '"';
  out = DbgPutLiteral(out, name);
  out = DbgPutInteger(DbgPutLiteral(out, "\" : "), value);
  out = DbgPutLiteral(out, ", ");
  result->append(room, static_cast<std::size_t>(out - room));
}

void PutString(std::string* result, std::string_view name, std::string_view text) {
  PutName(result, name);
  JsonQuote(*result, text);
  result->append(", ");
}

bool IsInteger(const JsonValue* value) {
  return value != nullptr && value->kind == JsonKind::JsonInteger;
}

// The only value type that the plug-in asks expressions to be evaluated as.
constexpr std::int64_t kExpressionValueType = 11;

// Empties the memo when the model it was filled from is not the state's any
// more, or has gained types or symbols since.
void CheckMemo(DbgServiceState* state) {
  DbgExpressionMemo& memo = state->memo;
  const model::TargetModel& target = *state->model;
  if (memo.model == &target && memo.typeCount == target.types.types.size() &&
      memo.symbolCount == target.symbols.symbols.size()) {
    return;
  }
  memo.answers.clear();
  memo.last = nullptr;
  memo.textBytes = 0;
  memo.model = &target;
  memo.typeCount = target.types.types.size();
  memo.symbolCount = target.symbols.symbols.size();
}

// The expression's answer, from the memo when it was kept; an evaluation that
// read no target state is kept while the memo has room. False on a failure.
bool MemoAnswer(DbgServiceState* state, std::string_view expression, DbgMemoAnswer* answer) {
  if (!state->memo.enabled) {
    answer->ok = model::ModelEvaluate(*state->model, expression, &answer->value, nullptr);
    return answer->ok;
  }
  CheckMemo(state);
  DbgExpressionMemo& memo = state->memo;
  DbgMemoEntry* entry = memo.last != nullptr ? memo.last->next : nullptr;
  if (entry == nullptr || entry->key != expression) {
    const auto found = memo.answers.find(expression);
    entry = found != memo.answers.end() ? &found->second : nullptr;
  }
  if (entry != nullptr) {
    if (memo.last != nullptr) memo.last->next = entry;
    memo.last = entry;
    *answer = entry->answer;
    return answer->ok;
  }
  bool readTarget = true;
  answer->ok =
      model::ModelEvaluate(*state->model, expression, &answer->value, nullptr, &readTarget);
  if (!readTarget && memo.answers.size() < kDbgMemoMaxAnswers &&
      memo.textBytes + expression.size() <= kDbgMemoMaxTextBytes) {
    const auto kept = memo.answers.emplace(expression, DbgMemoEntry{*answer, {}, nullptr}).first;
    kept->second.key = kept->first;
    if (memo.last != nullptr) memo.last->next = &kept->second;
    memo.last = &kept->second;
    memo.textBytes += expression.size();
  }
  return answer->ok;
}

std::int32_t AnswerExpressionEval(DbgServiceState* state, const JsonValue* params,
                                  std::string* result) {
  static constexpr std::array<std::string_view, 2> kNames = {"expression", "valueType"};
  const std::array<const JsonValue*, 2> found =
      DbgHasLayout(params, "context", "expression", "valueType", "searchFlag")
          ? std::array<const JsonValue*, 2>{DbgMemberAt(params, 1), DbgMemberAt(params, 2)}
          : JsonObjectFindMembers(params, kNames);
  const JsonValue* const expression = found[0];
  if (expression == nullptr || expression->kind != JsonKind::JsonString || !expression->hasText ||
      !IsInteger(found[1]) || found[1]->number != kExpressionValueType) {
    return kDbgServiceFailed;
  }
  DbgMemoAnswer answer;
  if (!MemoAnswer(state, expression->text.view(), &answer)) return kDbgServiceFailed;
  PutInteger(result, "output", static_cast<std::int64_t>(answer.value));
  return 0;
}

std::int32_t AnswerStringEval(DbgServiceState* state, const JsonValue* params,
                              std::string* result) {
  const char* input = nullptr;
  if (!JsonObjectGetString(params, "input", &input) || input == nullptr) return kDbgServiceFailed;
  std::string text;
  if (!model::ModelPrintAddress(*state->model, input, &text, nullptr)) return kDbgServiceFailed;
  PutString(result, "value", text);
  return 0;
}

// The commands the model can run, each printing one routine name.
struct ProcedureCommand {
  std::string_view text;
  bool (*routine)(const model::TargetModel& model, std::string* name);
};

constexpr std::array<ProcedureCommand, 2> kProcedureCommands = {{
    {kDbgCallerProcedureCommand, model::ModelCallerRoutine},
    {kDbgCurrentProcedureCommand, model::ModelCurrentRoutine},
}};

std::int32_t AnswerCommandExec(DbgServiceState* state, const JsonValue* params,
                               std::string* result) {
  const char* command = nullptr;
  if (!JsonObjectGetString(params, "command", &command) || command == nullptr) {
    return kDbgServiceFailed;
  }
  for (const ProcedureCommand& row : kProcedureCommands) {
    if (row.text != command) continue;
    std::string name;
    if (!row.routine(*state->model, &name)) return kDbgServiceFailed;
    PutString(result, "output", name);
    return 0;
  }
  return kDbgServiceFailed;
}

// Address and byte count of a memory request; false when either is missing,
// the count is not positive or above the bound. *taskGiven tells whether the
// request names a task.
bool ReadMemoryRange(const JsonValue* params, std::uint64_t* address, std::uint64_t* count,
                     bool* taskGiven) {
  static constexpr std::array<std::string_view, 4> kNames = {"memorySpace", "address", "count",
                                                             "taskId"};
  const std::array<const JsonValue*, 4> found =
      DbgHasLayout(params, "context", "memorySpace", "address", "count")
          ? std::array<const JsonValue*, 4>{DbgMemberAt(params, 1), DbgMemberAt(params, 2),
                                            DbgMemberAt(params, 3), nullptr}
          : JsonObjectFindMembers(params, kNames);
  // Every memory space names the model's one address space.
  if (!IsInteger(found[0]) || !IsInteger(found[1]) || !IsInteger(found[2]) ||
      found[2]->number <= 0 || static_cast<std::uint64_t>(found[2]->number) > kDbgMaxMemoryBytes) {
    return false;
  }
  *address = static_cast<std::uint64_t>(found[1]->number);
  *count = static_cast<std::uint64_t>(found[2]->number);
  *taskGiven = found[3] != nullptr;
  return true;
}

// Two lower-case hex digits per byte into `digits`, which may overlap the
// bytes from their middle on: the digits of byte i end before byte i + 1.
void WriteHexDigits(const std::uint8_t* data, std::size_t count, char* digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t index = 0; index < count; ++index) {
    const std::uint8_t byte = data[index];
    digits[2 * index] = kDigits[byte >> 4];
    digits[2 * index + 1] = kDigits[byte & 0x0F];
  }
}

std::int32_t AnswerMemoryRead(DbgServiceState* state, const JsonValue* params,
                              std::string* result) {
  std::uint64_t address = 0;
  std::uint64_t count = 0;
  bool taskGiven = false;
  // The model holds one context; a request for another task's view of
  // memory cannot be answered.
  if (!ReadMemoryRange(params, &address, &count, &taskGiven) || taskGiven) {
    return kDbgServiceFailed;
  }
  // Hex digits need no escapes: they go straight into the answer. The bytes
  // are read into the back half of their digits' room and spread from the
  // front, so no buffer of their own is needed.
  PutName(result, "value");
  result->push_back('"');
  const std::size_t start = result->size();
  constexpr std::string_view kTail = "\", ";
  result->resize(start + 2 * count + kTail.size());
  char* const digits = result->data() + start;
  auto* const bytes = reinterpret_cast<std::uint8_t*>(digits + count);
  if (!model::ModelMemoryRead(*state->model, address, count, bytes)) return kDbgServiceFailed;
  WriteHexDigits(bytes, count, digits);
  std::copy_n(kTail.data(), kTail.size(), digits + 2 * count);
  return 0;
}

std::int32_t AnswerMemoryWrite(DbgServiceState* state, const JsonValue* params,
                               std::string* result) {
  (void)result;
  std::uint64_t address = 0;
  std::uint64_t count = 0;
  const char* text = nullptr;
  bool taskGiven = false;
  if (!ReadMemoryRange(params, &address, &count, &taskGiven) ||
      !JsonObjectGetString(params, "value", &text) || text == nullptr) {
    return kDbgServiceFailed;
  }
  std::vector<std::uint8_t> bytes;
  if (!DbgHexDecode(text, &bytes) || bytes.size() != count) return kDbgServiceFailed;
  if (!model::ModelMemoryWrite(state->model, address, count, bytes.data())) {
    return kDbgServiceFailed;
  }
  return 0;
}

// The register number of a register request; false when it is missing, out
// of range or names another task than the current context.
bool ReadRegisterNumber(const JsonValue* params, std::uint32_t* number, std::int32_t* width) {
  std::int64_t reg = -1;
  std::int32_t bytes = -1;
  if (!JsonObjectGetInteger(params, "register", &reg) || reg < 0 ||
      reg >= static_cast<std::int64_t>(model::kRegisterCount) ||
      JsonObjectIndexOf(params, "taskId") >= 0) {
    return false;
  }
  (void)JsonObjectGetInteger(params, "width", &bytes);  // -1 without one: the full width
  *number = static_cast<std::uint32_t>(reg);
  *width = bytes;
  return true;
}

// The value cut to `width` bytes; -1 (or 8 and more) keeps the register's own width.
std::uint64_t CutToWidth(std::uint64_t value, std::int32_t width) {
  if (width <= 0 || width >= 8) return value;
  return value & ((std::uint64_t{1} << (8 * width)) - 1);
}

std::int32_t AnswerRegisterRead(DbgServiceState* state, const JsonValue* params,
                                std::string* result) {
  std::uint32_t number = 0;
  std::int32_t width = -1;
  if (!ReadRegisterNumber(params, &number, &width)) return kDbgServiceFailed;
  std::uint64_t value = 0;
  if (!model::ModelRegisterRead(*state->model, number, &value)) return kDbgServiceFailed;
  PutInteger(result, "value", static_cast<std::int64_t>(CutToWidth(value, width)));
  return 0;
}

std::int32_t AnswerRegisterWrite(DbgServiceState* state, const JsonValue* params,
                                 std::string* result) {
  (void)result;
  std::uint32_t number = 0;
  std::int32_t width = -1;
  std::uint64_t value = 0;
  if (!ReadRegisterNumber(params, &number, &width) ||
      !JsonObjectGetInteger(params, "value", &value)) {
    return kDbgServiceFailed;
  }
  if (!model::ModelRegisterWrite(state->model, number, CutToWidth(value, width))) {
    return kDbgServiceFailed;
  }
  return 0;
}

std::int32_t AnswerSymbolFromAddress(DbgServiceState* state, const JsonValue* params,
                                     std::string* result) {
  std::uint64_t address = 0;
  if (!JsonObjectGetInteger(params, "address", &address)) return kDbgServiceFailed;
  std::string name;
  if (!model::ModelRoutineAt(*state->model, address, &name)) return kDbgServiceFailed;
  PutString(result, "name", name);
  return 0;
}

std::int32_t AnswerMessageDisplay(DbgServiceState* state, const JsonValue* params,
                                  std::string* result) {
  (void)result;
  DbgDisplayedMessage message;
  const char* text = nullptr;
  if (!JsonObjectGetInteger(params, "messageType", &message.type) ||
      !JsonObjectGetString(params, "message", &text)) {
    return kDbgServiceFailed;
  }
  message.text = text != nullptr ? text : "";
  message.during.assign(state->during);
  state->messages.push_back(std::move(message));
  return 0;
}

// The model's processor always runs in privileged mode.
std::int32_t AnswerCpuModeGet(DbgServiceState* state, const JsonValue* params,
                              std::string* result) {
  (void)state;
  (void)params;
  PutInteger(result, "inUserMode", 0);
  return 0;
}

// The model target is always stopped: status 0.
std::int32_t AnswerTargetStatus(DbgServiceState* state, const JsonValue* params,
                                std::string* result) {
  (void)state;
  (void)params;
  PutInteger(result, "status", 0);
  return 0;
}

struct AnswerRow {
  std::string_view method;
  AnswerHandler handler;
};

constexpr std::array<AnswerRow, 11> kAnswerTable = {{
    {"OSA_Service_ExpressionEval", AnswerExpressionEval},
    {"OSA_Service_StringEval", AnswerStringEval},
    {"OSA_Service_CommandExec", AnswerCommandExec},
    {"OSA_Service_MemoryRead", AnswerMemoryRead},
    {"OSA_Service_MemoryWrite", AnswerMemoryWrite},
    {"OSA_Service_RegisterRead", AnswerRegisterRead},
    {"OSA_Service_RegisterWrite", AnswerRegisterWrite},
    {"OSA_Service_SymbolFromAddress", AnswerSymbolFromAddress},
    {"OSA_Service_MessageDisplay", AnswerMessageDisplay},
    {"OSA_Service_CpuModeGet", AnswerCpuModeGet},
    {"OSA_Service_TargetStatus", AnswerTargetStatus},
}};

AnswerHandler FindHandler(std::string_view method) {
  for (const AnswerRow& row : kAnswerTable) {
    if (row.method == method) return row.handler;
  }
  return nullptr;
}

// The members of a request that every answer needs, found in one pass over
// its members; the first member of each name counts, as in a lookup.
struct RequestParts {
  const JsonValue* method = nullptr;
  const JsonValue* params = nullptr;
  const JsonValue* id = nullptr;
};

RequestParts FindRequestParts(const JsonValue* request) {
  if (DbgHasLayout(request, "jsonrpc", "method", "params", "id")) {
    return {DbgMemberAt(request, 1), DbgMemberAt(request, 2), DbgMemberAt(request, 3)};
  }
  if (DbgHasLayout(request, "jsonrpc", "result", "id"))
    return {nullptr, nullptr, DbgMemberAt(request, 2)};
  static constexpr std::array<std::string_view, 3> kNames = {"method", "params", "id"};
  const std::array<const JsonValue*, 3> found = JsonObjectFindMembers(request, kNames);
  return {found[0], found[1], found[2]};
}

// The answer to a request whose parts were found, written over *answer.
void WriteAnswer(DbgServiceState* state, const RequestParts& parts, std::string* answer) {
  ++state->answered;
  // Room for the usual answer, so that it is not grown piece by piece.
  constexpr std::size_t kUsualAnswer = 256;
  std::string& text = *answer;
  text.reserve(kUsualAnswer);
  text = "{ \"jsonrpc\" : \"2.0\", \"result\" : { ";
  const std::size_t members = text.size();
  std::int32_t status = kDbgServiceFailed;
  if (state->model != nullptr && state->answered <= state->answerBudget &&
      parts.method != nullptr && parts.method->kind == JsonKind::JsonString &&
      parts.method->hasText && parts.params != nullptr &&
      parts.params->kind == JsonKind::JsonObject) {
    const AnswerHandler handler = FindHandler(parts.method->text.view());
    if (handler != nullptr) status = handler(state, parts.params, &text);
  }
  // A failed answer carries "return" alone, whatever the handler added.
  if (status != 0) text.resize(members);
  // "return" and the id, which is nearly always an integer, in one append.
  char room[64];
  char* out = DbgPutInteger(DbgPutLiteral(room, "\"return\" : "), status);
  out = DbgPutLiteral(out, " }, \"id\" : ");
  if (parts.id != nullptr && parts.id->kind == JsonKind::JsonInteger) {
    out = DbgPutLiteral(DbgPutInteger(out, parts.id->number), " }");
    text.append(room, static_cast<std::size_t>(out - room));
    return;
  }
  text.append(room, static_cast<std::size_t>(out - room));
  if (parts.id != nullptr) {
    JsonWrite(text, parts.id);
  } else {
    text.append("null");
  }
  text.append(" }");
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool DbgIsRequest(const JsonValue* message) {
  return message != nullptr && message->kind == JsonKind::JsonObject &&
         JsonObjectIndexOf(message, "method") >= 0;
}

std::string DbgAnswerServiceRequest(DbgServiceState* state, const JsonValue& request) {
  std::string text;
  DbgWriteServiceAnswer(state, request, &text);
  return text;
}

void DbgWriteServiceAnswer(DbgServiceState* state, const JsonValue& request, std::string* answer) {
  WriteAnswer(state, FindRequestParts(&request), answer);
}

bool DbgServeIfRequest(DbgServiceState* state, const JsonValue* message, std::string* answer) {
  const RequestParts parts = FindRequestParts(message);
  if (parts.method == nullptr) return false;
  WriteAnswer(state, parts, answer);
  return true;
}

std::size_t DbgTextHashOf(std::string_view text) noexcept {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15;
  std::uint64_t hash = text.size() * kMultiplier;
  std::size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, 8);
    hash = (std::rotl(hash, 23) ^ word) * kMultiplier;
  }
  if (at < text.size()) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + at, text.size() - at);
    hash = (std::rotl(hash, 23) ^ word) * kMultiplier;
  }
  return static_cast<std::size_t>(hash ^ (hash >> 29));
}

std::string DbgHexEncode(const std::uint8_t* data, std::size_t count) {
  std::string text(2 * count, '\0');
  WriteHexDigits(data, count, text.data());
  return text;
}

bool DbgHexDecode(std::string_view text, std::vector<std::uint8_t>* out) {
  if (text.size() % 2 != 0) return false;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t index = 0; index < text.size(); index += 2) {
    const int high = HexDigit(text[index]);
    const int low = HexDigit(text[index + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  *out = std::move(bytes);
  return true;
}
