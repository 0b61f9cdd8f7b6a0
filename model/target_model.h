// The model target: a stopped 32-bit target with memory, debug information
// (types and symbols), the current context's registers and, when built by
// the kernel builder, the manifest of the kernel laid out in its memory.
// These functions are the whole surface a debugger stand-in needs; none of
// them keeps state outside the model, so one model can serve many requests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/kernel_manifest.h"
#include "model/register_file.h"
#include "model/symbol_table.h"
#include "model/target_memory.h"
#include "model/type_layout.h"

namespace model {

struct TargetModel {
  TargetMemory memory;
  TypeTable types;
  SymbolTable symbols;
  RegisterFile registers;
  KernelManifest manifest;
};

// Resets `model` to an empty target of that byte order with the C base types.
void ModelInit(TargetModel* model, bool bigEndian);

// Evaluates a C expression (see expression_eval.h for the forms). On failure
// `value` is untouched and `error` (when given) holds a readable reason;
// `readTarget` (when given) tells whether memory or a register was read.
[[nodiscard]] bool ModelEvaluate(const TargetModel& model, std::string_view expression,
                                 uint64_t* value, std::string* error, bool* readTarget = nullptr);

// The symbolic form of an expression's value, as "print /a" shows it:
// "0x20001234 <qx_kernel_sched_info+4>", "0x8000101 <app_blink_expired+1>" or
// just "0x2a" when no routine or variable covers the value. Accepts the
// expression alone or wrapped as "`print /a EXPR`".
[[nodiscard]] bool ModelPrintAddress(const TargetModel& model, std::string_view expression,
                                     std::string* text, std::string* error);

// Memory of the target; fails (touching nothing) when any byte is unmapped.
[[nodiscard]] bool ModelMemoryRead(const TargetModel& model, uint64_t address, uint64_t count,
                                   uint8_t* out);
[[nodiscard]] bool ModelMemoryWrite(TargetModel* model, uint64_t address, uint64_t count,
                                    const uint8_t* data);

// Live registers of the current context by number (register_file.h).
[[nodiscard]] bool ModelRegisterRead(const TargetModel& model, uint32_t number, uint64_t* value);
[[nodiscard]] bool ModelRegisterWrite(TargetModel* model, uint32_t number, uint64_t value);

// The routine whose code holds `address` (the Thumb bit is ignored).
[[nodiscard]] bool ModelRoutineAt(const TargetModel& model, uint64_t address, std::string* name);

// The routine of the current frame (at pc) and of the caller's frame (at lr).
[[nodiscard]] bool ModelCurrentRoutine(const TargetModel& model, std::string* name);
[[nodiscard]] bool ModelCallerRoutine(const TargetModel& model, std::string* name);

}  // namespace model
