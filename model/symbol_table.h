// Symbols of the target program: variables with C types, linker symbols that
// stand for their address, and routines with address ranges.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/type_layout.h"

namespace model {

enum class SymbolKind : uint8_t {
  kVariable,  // evaluates to its value; `type` and its size give the extent
  kLinker,    // evaluates to its address; no extent
  kRoutine,   // evaluates to its address; [address, address + size) is its code
};

struct Symbol {
  std::string name;
  SymbolKind kind = SymbolKind::kVariable;
  uint32_t address = 0;
  uint32_t size = 0;  // bytes of a variable or routine
  TypeId type = 0;    // variables only
};

struct SymbolTable {
  std::vector<Symbol> symbols;
};

// Adds a symbol; fails (adding nothing) when the name is already taken.
[[nodiscard]] bool AddSymbol(SymbolTable* table, Symbol symbol);

// The symbol of that exact name, or null. The pointer lives until the next
// addition.
const Symbol* FindSymbol(const SymbolTable& table, std::string_view name);

// The routine whose code holds `address`, or null.
const Symbol* RoutineAt(const SymbolTable& table, uint32_t address);

// The variable or routine whose extent holds `address` (routines first), or
// null; used for the symbolic form of an address.
const Symbol* SymbolCovering(const SymbolTable& table, uint32_t address);

}  // namespace model
