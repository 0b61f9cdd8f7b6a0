// Test helper: loads an ELF file into a model target (with section contents)
// and evaluates one C expression per input line, printing "= VALUE" (hex,
// 64 bits) or "! REASON" per line, so that a script can set the loader's
// answers beside GDB's.
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <string>

#include "dwarf/elf_image.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s APP.elf < expressions\n", argc > 0 ? argv[0] : "dwarf_eval");
    return 1;
  }
  model::TargetModel target;
  DwarfLoadOptions options;
  options.loadContents = true;
  std::string error;
  if (!DwarfLoadImage(argv[1], options, &target, &error)) {
    std::fprintf(stderr, "dwarf_eval: %s\n", error.c_str());
    return 2;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    std::uint64_t value = 0;
    if (model::ModelEvaluate(target, line, &value, &error)) {
      std::printf("= 0x%" PRIx64 "\n", value);
    } else {
      std::printf("! %s\n", error.c_str());
    }
  }
  return 0;
}
