// Filling a model target from a program's ELF file: C types and variables
// from its DWARF debug information (read with libdw, DWARF 2 to 5; split
// units from the .dwo files where the skeleton units name them or, for a
// moved build, beside the ELF file), routines and linker symbols from its
// symbol table, the byte order from its header and, on request, the
// contents of its loaded sections (code, constants, initialised data) as
// mapped memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/target_model.h"

struct DwarfLoadOptions {
  // Map every allocated section that has bytes in the file (SHT_PROGBITS with
  // SHF_ALLOC) at its address with those bytes, so that flash and the initial
  // values of data read as the program image holds them. Sections without
  // bytes in the file (.bss, stacks) stay unmapped.
  bool loadContents = false;
};

// What one load took from the file, for reports and tests.
struct DwarfLoadSummary {
  std::uint32_t units = 0;          // compilation units walked (split units counted once)
  std::uint32_t types = 0;          // type records added to the table
  std::uint32_t variables = 0;      // variables from DWARF
  std::uint32_t routines = 0;       // STT_FUNC symbols
  std::uint32_t linkerSymbols = 0;  // other ELF symbols with an address
  std::uint32_t regions = 0;        // memory regions mapped from section contents
  std::uint32_t skipped = 0;        // entries dropped as malformed or past a bound
};

// Limits that keep a hostile file from costing unbounded time or memory.
inline constexpr std::uint32_t kDwarfMaxTypeDepth = 64;         // nested type references
inline constexpr std::uint32_t kDwarfMaxTypes = 1'000'000;      // type records in the table
inline constexpr std::uint32_t kDwarfMaxSymbols = 1'000'000;    // symbols in the table
inline constexpr std::uint64_t kDwarfMaxContents = 256u << 20;  // bytes of mapped sections

// Resets `model` to an empty target of the ELF's byte order and fills it as
// described above. Type names are those the evaluator looks up: "struct X",
// "union X", typedef names and C base type names ("unsigned int"); anonymous
// records keep an empty name, and the members of C11 anonymous structs and
// unions are also members of the record that holds them; offsets and sizes
// are DWARF's own; qualifiers are dropped; enums are base types named
// "enum X"; function types are void. Variables at file scope (globals and
// statics, with their DWARF types; those optimised away are left out) are
// kVariable symbols, STT_FUNC symbols kRoutine (Thumb bit cleared, with
// their size), other named ELF symbols with an address kLinker; an object
// symbol without a definition in DWARF takes the type of its extern
// declaration, if any, and is a kLinker symbol otherwise. The first of several same-named types or
// variables wins. A static renamed "x.lto_priv.0" by
// link-time optimisation is also registered as "x" when no other symbol
// takes that name. The live registers are left unknown: reads and writes of
// them fail until a dump (core_dump.h) or a live target supplies them.
//
// Fails with a reason in *error when the file cannot be read or is not a
// 32-bit ELF file; damaged debug information does not fail the load but
// drops the entries it spoils (counted in summary->skipped). `summary` may
// be null. On failure `model` holds whatever was loaded so far.
[[nodiscard]] bool DwarfLoadImage(std::string_view elfPath, const DwarfLoadOptions& options,
                                  model::TargetModel* model, std::string* error,
                                  DwarfLoadSummary* summary = nullptr);
