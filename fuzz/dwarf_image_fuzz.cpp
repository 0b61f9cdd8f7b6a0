// Fuzz target: the program-file reader on mutated ELF files. The input is
// loaded as a program (types, symbols, section contents) and as a core file
// over the result; the tables must keep their invariants (every type
// reference in range, typedef chains that end), and C expressions over every
// named type and its members are evaluated as the plug-in's would be. libelf
// and libdw read from a file, so the input goes into an anonymous memory file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "dwarf/core_dump.h"
#include "dwarf/elf_image.h"

namespace {

// Expressions asked per input at most: enough to reach every type of a seed.
constexpr int kMaxExpressions = 400;

struct MemoryFile {
  int fd = -1;
  ~MemoryFile() {
    if (fd >= 0) close(fd);
  }
};

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckTables(const model::TargetModel& target) {
  const auto& types = target.types.types;
  for (size_t i = 0; i < types.size(); ++i) {
    const model::TypeInfo& info = types[i];
    Check(info.target < types.size());
    // The evaluator follows typedef chains without a bound: they must end.
    if (info.kind == model::TypeKind::kTypedef) Check(info.target < i);
    for (const model::TypeMember& member : info.members)
      Check(member.type < types.size());
  }
  for (const model::Symbol& symbol : target.symbols.symbols)
    Check(symbol.type < types.size() && !symbol.name.empty());
}

void Evaluate(const model::TargetModel& target) {
  int asked = 0;
  std::uint64_t value = 0;
  std::string error;
  for (const model::TypeInfo& info : target.types.types) {
    if (info.name.empty() || asked >= kMaxExpressions) continue;
    (void)model::ModelEvaluate(target, "sizeof(" + info.name + ")", &value, &error);
    ++asked;
    for (const model::TypeMember& member : info.members) {
      if (member.name.empty() || asked >= kMaxExpressions) continue;
      (void)model::ModelEvaluate(target, "&((" + info.name + " *)0x20000000)->" + member.name,
                                 &value, &error);
      (void)model::ModelEvaluate(target, "((" + info.name + " *)0x20000000)->" + member.name,
                                 &value, &error);
      asked += 2;
    }
  }
  for (const model::Symbol& symbol : target.symbols.symbols) {
    if (asked >= kMaxExpressions) break;
    (void)model::ModelEvaluate(target, symbol.name, &value, &error);
    ++asked;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryFile file;
  file.fd = memfd_create("dwarf_image_fuzz", 0);
  if (file.fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t wrote = write(file.fd, data + done, size - done);
    if (wrote <= 0) return 0;
    done += static_cast<std::size_t>(wrote);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(file.fd);
  model::TargetModel target;
  DwarfLoadOptions options;
  options.loadContents = true;
  std::string error;
  DwarfLoadSummary summary;
  if (DwarfLoadImage(path, options, &target, &error, &summary)) {
    CheckTables(target);
    Evaluate(target);
  }
  DumpContents contents;
  if (DumpLoadCore(path, &target, &error, &contents)) CheckTables(target);
  return 0;
}
