// Evaluation of the C expressions that the kernel-awareness code sends:
// member addresses and sizes at any base through casts, nested member paths,
// array indices and pointer members, sizeof of types and expressions, bare
// variables (read from target memory), address-of, linker symbols and
// routines (their addresses), registers ("$pc", "$sp", "$r4", ...), the
// function "$M_sym_exists(name)", integer literals and + - * /.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/register_file.h"
#include "model/symbol_table.h"
#include "model/target_memory.h"
#include "model/type_layout.h"

namespace model {

// The target state an expression is evaluated over; every pointer must be set
// and outlive the call. The type table must have been set up with
// TypeTableInit (literals and sizes take its base types).
struct EvalTarget {
  const TargetMemory* memory = nullptr;
  const TypeTable* types = nullptr;
  const SymbolTable* symbols = nullptr;
  const RegisterFile* registers = nullptr;
};

// Longest expression text accepted, and deepest nesting of sub-expressions;
// both bound the work a hostile text can cause.
constexpr size_t kMaxExpressionLength = 4096;
constexpr uint32_t kMaxExpressionDepth = 64;

// Evaluates `text` to a value (signed types sign-extended to 64 bits, pointers
// and addresses zero-extended). On failure returns false, leaves `value`
// untouched and puts a readable reason into `error` (when given), for example
// `no symbol "qx_missing" in the current context`. `readTarget` (when given)
// tells whether the evaluation tried to read memory or a register, failing or
// not: without such a read the outcome depends on the text, types and symbols
// alone.
[[nodiscard]] bool EvaluateExpression(const EvalTarget& target, std::string_view text,
                                      uint64_t* value, std::string* error,
                                      bool* readTarget = nullptr);

}  // namespace model
