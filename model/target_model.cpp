// The model target's access functions.
#include "model/target_model.h"

#include <cinttypes>
#include <cstdio>

#include "model/expression_eval.h"

namespace model {
namespace {

EvalTarget TargetOf(const TargetModel& model) {
  return EvalTarget{&model.memory, &model.types, &model.symbols, &model.registers};
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

}  // namespace

void ModelInit(TargetModel* model, bool bigEndian) {
  *model = TargetModel{};
  model->memory.bigEndian = bigEndian;
  TypeTableInit(&model->types);
}

bool ModelEvaluate(const TargetModel& model, std::string_view expression, uint64_t* value,
                   std::string* error, bool* readTarget) {
  return EvaluateExpression(TargetOf(model), expression, value, error, readTarget);
}

bool ModelPrintAddress(const TargetModel& model, std::string_view expression, std::string* text,
                       std::string* error) {
  std::string_view body = Trim(expression);
  if (body.size() >= 2 && body.front() == '`' && body.back() == '`')
    body = Trim(body.substr(1, body.size() - 2));
  constexpr std::string_view kCommand = "print /a ";
  if (body.starts_with(kCommand)) body.remove_prefix(kCommand.size());
  uint64_t value = 0;
  if (!ModelEvaluate(model, body, &value, error)) return false;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, value);
  std::string result = buffer;
  const Symbol* symbol =
      value <= UINT32_MAX ? SymbolCovering(model.symbols, static_cast<uint32_t>(value)) : nullptr;
  if (symbol != nullptr) {
    result += " <" + symbol->name;
    if (value != symbol->address) result += "+" + std::to_string(value - symbol->address);
    result += ">";
  }
  *text = std::move(result);
  return true;
}

bool ModelMemoryRead(const TargetModel& model, uint64_t address, uint64_t count, uint8_t* out) {
  return MemoryRead(model.memory, address, count, out);
}

bool ModelMemoryWrite(TargetModel* model, uint64_t address, uint64_t count, const uint8_t* data) {
  return MemoryWrite(&model->memory, address, count, data);
}

bool ModelRegisterRead(const TargetModel& model, uint32_t number, uint64_t* value) {
  return RegisterRead(model.registers, number, value);
}

bool ModelRegisterWrite(TargetModel* model, uint32_t number, uint64_t value) {
  return RegisterWrite(&model->registers, number, value);
}

bool ModelRoutineAt(const TargetModel& model, uint64_t address, std::string* name) {
  if (address > UINT32_MAX) return false;
  const Symbol* routine = RoutineAt(model.symbols, static_cast<uint32_t>(address) & ~1u);
  if (routine == nullptr) return false;
  *name = routine->name;
  return true;
}

// pc and lr are read like any register, so a backing (a live target) is asked.
bool ModelCurrentRoutine(const TargetModel& model, std::string* name) {
  uint64_t pc = 0;
  return RegisterRead(model.registers, kRegPc, &pc) && ModelRoutineAt(model, pc, name);
}

bool ModelCallerRoutine(const TargetModel& model, std::string* name) {
  uint64_t lr = 0;
  return RegisterRead(model.registers, kRegLr, &lr) && ModelRoutineAt(model, lr, name);
}

}  // namespace model
