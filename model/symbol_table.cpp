// Symbols of the target program and address look-ups.
#include "model/symbol_table.h"

namespace model {
namespace {

bool Covers(const Symbol& symbol, uint32_t address) {
  return address >= symbol.address && uint64_t{address} < uint64_t{symbol.address} + symbol.size;
}

}  // namespace

bool AddSymbol(SymbolTable* table, Symbol symbol) {
  if (symbol.name.empty() || FindSymbol(*table, symbol.name) != nullptr) return false;
  table->symbols.push_back(std::move(symbol));
  return true;
}

const Symbol* FindSymbol(const SymbolTable& table, std::string_view name) {
  for (const Symbol& symbol : table.symbols) {
    if (symbol.name == name) return &symbol;
  }
  return nullptr;
}

const Symbol* RoutineAt(const SymbolTable& table, uint32_t address) {
  for (const Symbol& symbol : table.symbols) {
    if (symbol.kind == SymbolKind::kRoutine && Covers(symbol, address)) return &symbol;
  }
  return nullptr;
}

const Symbol* SymbolCovering(const SymbolTable& table, uint32_t address) {
  if (const Symbol* routine = RoutineAt(table, address)) return routine;
  for (const Symbol& symbol : table.symbols) {
    if (symbol.kind == SymbolKind::kVariable && Covers(symbol, address)) return &symbol;
  }
  return nullptr;
}

}  // namespace model
