// The program-file reader on stored and hand-made files: C layouts and
// values of the layout program (DWARF 5, 4 and 2 builds kept as fuzz seeds,
// values as GDB prints them), symbols, section contents, bad files, ELF core
// files with register notes, raw images, and registers known by other means.
#include <elf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "dwarf/core_dump.h"
#include "dwarf/elf_image.h"

namespace {

const std::string kCorpus = std::string(OSA_SOURCE_DIR) + "/fuzz/corpus/dwarf_image/";

// A file in a private temporary directory, removed with the test.
class TempFiles {
 public:
  TempFiles() {
    char pattern[] = "/tmp/dwarf_test.XXXXXX";
    const char* made = mkdtemp(pattern);
    dir_ = made != nullptr ? made : "/tmp";
  }
  ~TempFiles() {
    for (const std::string& path : paths_)
      std::remove(path.c_str());
    rmdir(dir_.c_str());
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    paths_.push_back(path);
    return path;
  }

 private:
  std::string dir_;
  std::vector<std::string> paths_;
};

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct ExprRow {
  const char* expression;
  uint64_t value;
};

// GDB 13's answers on the layout program (the same in all three builds).
constexpr ExprRow kLayoutRows[] = {
    {"sizeof(outer_t)", 104},
    {"&((outer_t *)0)->hi", 6},  // in an anonymous struct inside an anonymous union
    {"&((outer_t *)0)->word", 4},
    {"&((outer_t *)0)->flags", 8},
    {"sizeof(struct bits)", 8},
    {"&((outer_t *)0)->values[2].w", 0x20},
    {"&((outer_t *)0)->grid[1][3]", 0x38},
    {"&((outer_t *)0)->stamp", 0x48},
    {"&((outer_t *)0)->trailing", 0x60},
    {"sizeof(struct flex)", 4},
    {"&((struct flex *)0)->items[5]", 0x18},
    {"sizeof(opaque_t)", 28},  // declared in one unit, defined in the other
    {"&((struct opaque *)0)->inner[1].name", 0x18},
    {"sizeof(octet_t)", 1},
    {"sizeof(union value)", 8},
    {"&((struct bits *)0)->tail", 2},
    {"layout_table[4]", 5},
    {"layout_value.h", 30600},
    {"layout_schar", static_cast<uint64_t>(-3)},
    {"layout_char", 120},
    {"layout_long_long", static_cast<uint64_t>(-5)},
    {"sizeof(layout_table)", 24},
    {"&layout_outer", 0x20000020},
    {"&layout_use", 0x1000},
    {"layout_use", 0x1000},
    {"sizeof(unsigned int)", 4},
};

class LayoutProgram : public ::testing::TestWithParam<const char*> {};

TEST_P(LayoutProgram, GivesGdbsLayoutsAndValues) {
  model::TargetModel target;
  DwarfLoadOptions options;
  options.loadContents = true;
  std::string error;
  DwarfLoadSummary summary;
  ASSERT_TRUE(DwarfLoadImage(kCorpus + GetParam(), options, &target, &error, &summary)) << error;
  EXPECT_EQ(summary.units, 2u);
  EXPECT_EQ(summary.skipped, 0u);
  EXPECT_FALSE(target.memory.bigEndian);
  for (const ExprRow& row : kLayoutRows) {
    uint64_t value = 0;
    EXPECT_TRUE(model::ModelEvaluate(target, row.expression, &value, &error))
        << row.expression << ": " << error;
    EXPECT_EQ(value, row.value) << row.expression;
  }
}

TEST_P(LayoutProgram, SymbolsAndContents) {
  model::TargetModel target;
  DwarfLoadOptions options;
  options.loadContents = true;
  std::string error;
  ASSERT_TRUE(DwarfLoadImage(kCorpus + GetParam(), options, &target, &error)) << error;
  const model::Symbol* use = model::FindSymbol(target.symbols, "layout_use");
  ASSERT_NE(use, nullptr);
  EXPECT_EQ(use->kind, model::SymbolKind::kRoutine);
  EXPECT_EQ(use->address, 0x1000u);  // the Thumb bit of the ELF symbol is cleared
  EXPECT_GT(use->size, 0u);
  const model::Symbol* outer = model::FindSymbol(target.symbols, "layout_outer");
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(outer->kind, model::SymbolKind::kVariable);
  EXPECT_EQ(outer->size, 104u);
  std::string name;
  EXPECT_TRUE(model::ModelRoutineAt(target, 0x1003, &name));
  EXPECT_EQ(name, "layout_use");
  // .bss has no bytes in the file: it stays unmapped rather than reading 0.
  uint64_t value = 0;
  EXPECT_FALSE(model::ModelEvaluate(target, "layout_zeroed[1]", &value, &error));
  // An ELF file has no registers.
  EXPECT_FALSE(DumpHasRegisters(target));
  EXPECT_FALSE(model::ModelRegisterRead(target, model::kRegPc, &value));
}

TEST_P(LayoutProgram, WithoutContentsVariablesAreUnreadable) {
  model::TargetModel target;
  std::string error;
  ASSERT_TRUE(DwarfLoadImage(kCorpus + GetParam(), DwarfLoadOptions{}, &target, &error));
  uint64_t value = 0;
  EXPECT_TRUE(model::ModelEvaluate(target, "&layout_table[2]", &value, &error)) << error;
  EXPECT_FALSE(model::ModelEvaluate(target, "layout_table[2]", &value, &error));
  EXPECT_TRUE(target.memory.regions.empty());
}

INSTANTIATE_TEST_SUITE_P(Builds, LayoutProgram,
                         ::testing::Values("layouts-dwarf5.elf", "layouts-dwarf4.elf",
                                           "layouts-dwarf2.elf"));

// Link-time optimisation renames statics "name.lto_priv.N": the plain name
// serves too when one symbol alone claims it.
TEST(DwarfLoadImage, RenamedStaticsAlsoAnswerToTheirPlainName) {
  model::TargetModel target;
  std::string error;
  ASSERT_TRUE(
      DwarfLoadImage(kCorpus + "layouts-lto-names.elf", DwarfLoadOptions{}, &target, &error))
      << error;
  const struct {
    const char* name;
    bool present;
    model::SymbolKind kind;
    uint32_t address;
    uint32_t size;
  } rows[] = {
      {"layout_use.lto_priv.0", true, model::SymbolKind::kRoutine, 0x1000, 28},
      {"layout_use", true, model::SymbolKind::kRoutine, 0x1000, 28},
      {"layout_twin.lto_priv.0", true, model::SymbolKind::kRoutine, 0x101c, 8},
      {"layout_twin.lto_priv.1", true, model::SymbolKind::kRoutine, 0x1024, 20},
      {"layout_twin", false, model::SymbolKind::kRoutine, 0, 0},  // two claims
      {"layout_opaque.lto_priv.0", true, model::SymbolKind::kVariable, 0x20000090, 28},
      {"layout_opaque", true, model::SymbolKind::kVariable, 0x20000090, 28},
  };
  for (const auto& row : rows) {
    const model::Symbol* symbol = model::FindSymbol(target.symbols, row.name);
    ASSERT_EQ(symbol != nullptr, row.present) << row.name;
    if (symbol == nullptr) continue;
    EXPECT_EQ(symbol->kind, row.kind) << row.name;
    EXPECT_EQ(symbol->address, row.address) << row.name;
    EXPECT_EQ(symbol->size, row.size) << row.name;
  }
  std::string routine;
  EXPECT_TRUE(model::ModelRoutineAt(target, 0x1001, &routine));
  EXPECT_EQ(routine, "layout_use");
}

TEST(DwarfLoadImage, RefusesWhatIsNotA32BitElfFile) {
  TempFiles files;
  std::vector<uint8_t> elf64(64, 0);
  std::memcpy(elf64.data(), ELFMAG, SELFMAG);
  elf64[EI_CLASS] = ELFCLASS64;
  elf64[EI_DATA] = ELFDATA2LSB;
  elf64[EI_VERSION] = EV_CURRENT;
  const struct {
    std::string path;
    const char* reason;
  } rows[] = {
      {"/nonexistent/app.elf", "cannot open"},
      {files.Write("text.elf", {'h', 'e', 'l', 'l', 'o'}), "not an ELF file"},
      {files.Write("empty.elf", {}), "not an ELF file"},
      {files.Write("elf64.elf", elf64), "not"},
  };
  for (const auto& row : rows) {
    model::TargetModel target;
    std::string error;
    EXPECT_FALSE(DwarfLoadImage(row.path, DwarfLoadOptions{}, &target, &error)) << row.path;
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
  }
}

TEST(DwarfLoadImage, TruncatedFilesGiveAnErrorOrPartialTables) {
  TempFiles files;
  const std::vector<uint8_t> whole = ReadFile(kCorpus + "layouts-dwarf5.elf");
  ASSERT_GT(whole.size(), 1000u);
  for (size_t size : {size_t{16}, size_t{52}, size_t{300}, whole.size() / 2, whole.size() - 1}) {
    const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(size));
    const std::string path = files.Write("cut" + std::to_string(size) + ".elf", part);
    model::TargetModel target;
    DwarfLoadOptions options;
    options.loadContents = true;
    std::string error;
    if (DwarfLoadImage(path, options, &target, &error)) {
      uint64_t value = 0;
      (void)model::ModelEvaluate(target, "sizeof(outer_t)", &value, &error);
    }
  }
}

// --- ELF core files, built byte by byte -------------------------------------

void Put32(std::vector<uint8_t>* bytes, size_t at, uint32_t value) {
  if (bytes->size() < at + 4) bytes->resize(at + 4, 0);
  for (int i = 0; i < 4; ++i)
    (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Put16(std::vector<uint8_t>* bytes, size_t at, uint16_t value) {
  if (bytes->size() < at + 2) bytes->resize(at + 2, 0);
  (*bytes)[at] = static_cast<uint8_t>(value);
  (*bytes)[at + 1] = static_cast<uint8_t>(value >> 8);
}

void AppendNote(std::vector<uint8_t>* notes, const char* name, uint32_t type,
                const std::vector<uint8_t>& desc) {
  const size_t nameSize = std::strlen(name) + 1;
  const size_t at = notes->size();
  Put32(notes, at, static_cast<uint32_t>(nameSize));
  Put32(notes, at + 4, static_cast<uint32_t>(desc.size()));
  Put32(notes, at + 8, type);
  notes->insert(notes->end(), name, name + nameSize);
  notes->resize((notes->size() + 3) & ~size_t{3}, 0);
  notes->insert(notes->end(), desc.begin(), desc.end());
  notes->resize((notes->size() + 3) & ~size_t{3}, 0);
}

struct Segment {
  uint32_t type;
  uint32_t vaddr;
  uint32_t paddr;
  std::vector<uint8_t> bytes;
};

// A little-endian ELF32 ARM core file with these segments.
std::vector<uint8_t> BuildCore(const std::vector<Segment>& segments, uint16_t fileType = ET_CORE) {
  constexpr size_t kHeader = 52;
  constexpr size_t kPhdr = 32;
  std::vector<uint8_t> out(kHeader + kPhdr * segments.size(), 0);
  std::memcpy(out.data(), ELFMAG, SELFMAG);
  out[EI_CLASS] = ELFCLASS32;
  out[EI_DATA] = ELFDATA2LSB;
  out[EI_VERSION] = EV_CURRENT;
  Put16(&out, 16, fileType);
  Put16(&out, 18, EM_ARM);
  Put32(&out, 20, EV_CURRENT);
  Put32(&out, 28, kHeader);  // e_phoff
  Put16(&out, 40, kHeader);  // e_ehsize
  Put16(&out, 42, kPhdr);    // e_phentsize
  Put16(&out, 44, static_cast<uint16_t>(segments.size()));
  Put16(&out, 46, 40);  // e_shentsize
  for (size_t i = 0; i < segments.size(); ++i) {
    const size_t at = kHeader + kPhdr * i;
    const size_t offset = out.size();
    out.insert(out.end(), segments[i].bytes.begin(), segments[i].bytes.end());
    Put32(&out, at, segments[i].type);
    Put32(&out, at + 4, static_cast<uint32_t>(offset));
    Put32(&out, at + 8, segments[i].vaddr);
    Put32(&out, at + 12, segments[i].paddr);
    Put32(&out, at + 16, static_cast<uint32_t>(segments[i].bytes.size()));
    Put32(&out, at + 20, static_cast<uint32_t>(segments[i].bytes.size()));
    Put32(&out, at + 28, 1);
  }
  return out;
}

std::vector<uint8_t> PrstatusNote() {
  std::vector<uint8_t> desc(148, 0);
  for (uint32_t r = 0; r < 16; ++r)
    Put32(&desc, 72 + 4 * r, 0x100 + r);
  Put32(&desc, 72 + 64, 0x61000000);  // cpsr: the xPSR of an M-profile core
  Put32(&desc, 72 + 68, 0xDEAD);      // orig_r0
  return desc;
}

std::vector<uint8_t> VfpNote() {
  std::vector<uint8_t> desc(32 * 8 + 4, 0);
  for (uint32_t s = 0; s < 32; ++s)
    Put32(&desc, 4 * s, 0x3F800000 + s);
  Put32(&desc, 32 * 8, 0x03000000);
  return desc;
}

std::vector<uint8_t> Bytes(size_t count, uint8_t first) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

TEST(DumpLoadCore, LoadSegmentsReplaceSectionBytesAndNotesGiveRegisters) {
  std::vector<uint8_t> notes;
  AppendNote(&notes, "CORE", NT_PRSTATUS, PrstatusNote());
  AppendNote(&notes, "LINUX", 0x400, VfpNote());
  TempFiles files;
  const std::string core =
      files.Write("app.core", BuildCore({{PT_NOTE, 0, 0, notes},
                                         {PT_LOAD, 0x20000004, 0, Bytes(8, 0x10)},
                                         // A physical-memory dump names only the physical address.
                                         {PT_LOAD, 0, 0x30000000, Bytes(4, 0x40)}}));
  model::TargetModel target;
  model::ModelInit(&target, false);
  DumpForgetRegisters(&target);
  // Bytes from the program file around the dump's range: the dump wins.
  ASSERT_TRUE(
      DumpOverlayMemory(&target.memory, 0x20000000, std::vector<uint8_t>(16, 0xAA).data(), 16));
  std::string error;
  DumpContents contents;
  ASSERT_TRUE(DumpLoadCore(core, &target, &error, &contents)) << error;
  EXPECT_TRUE(contents.hasRegisters);
  EXPECT_TRUE(contents.hasFpRegisters);
  EXPECT_EQ(contents.regions, 2u);
  EXPECT_EQ(contents.bytes, 12u);
  uint8_t ram[16] = {};
  ASSERT_TRUE(model::ModelMemoryRead(target, 0x20000000, 16, ram));
  const uint8_t want[16] = {0xAA, 0xAA, 0xAA, 0xAA, 0x10, 0x11, 0x12, 0x13,
                            0x14, 0x15, 0x16, 0x17, 0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(std::memcmp(ram, want, 16), 0);
  uint64_t value = 0;
  ASSERT_TRUE(model::MemoryReadValue(target.memory, 0x30000000, 4, &value));
  EXPECT_EQ(value, 0x43424140u);
  EXPECT_TRUE(DumpHasRegisters(target));
  for (uint32_t r = 0; r < 16; ++r) {
    ASSERT_TRUE(model::ModelRegisterRead(target, r, &value));
    EXPECT_EQ(value, 0x100u + r);
  }
  ASSERT_TRUE(model::ModelRegisterRead(target, model::kRegXpsr, &value));
  EXPECT_EQ(value, 0x61000000u);
  ASSERT_TRUE(model::ModelRegisterRead(target, model::kRegS0 + 5, &value));
  EXPECT_EQ(value, 0x3F800005u);
  ASSERT_TRUE(model::ModelRegisterRead(target, model::kRegD0 + 1, &value));
  EXPECT_EQ(value, 0x3F8000033F800002u);
  ASSERT_TRUE(model::ModelRegisterRead(target, model::kRegFpscr, &value));
  EXPECT_EQ(value, 0x03000000u);
}

TEST(DumpLoadCore, AnAProfileCpsrBecomesAnXpsr) {
  const struct {
    uint32_t cpsr;
    uint32_t xpsr;
  } rows[] = {
      {0x61000000, 0x61000000},  // an xPSR as GDB writes it stays
      {0x41000003, 0x41000003},  // in handler mode 3
      {0x400001F3, 0x41000000},  // QEMU's dump: flags kept, Thumb bit, mode bits gone
      {0xF80F0030, 0xF90F0000},
  };
  TempFiles files;
  for (const auto& row : rows) {
    std::vector<uint8_t> prstatus = PrstatusNote();
    Put32(&prstatus, 72 + 64, row.cpsr);
    std::vector<uint8_t> notes;
    AppendNote(&notes, "CORE", NT_PRSTATUS, prstatus);
    const std::string core = files.Write("cpsr.core", BuildCore({{PT_NOTE, 0, 0, notes}}));
    model::TargetModel target;
    model::ModelInit(&target, false);
    std::string error;
    ASSERT_TRUE(DumpLoadCore(core, &target, &error)) << error;
    uint64_t value = 0;
    ASSERT_TRUE(model::ModelRegisterRead(target, model::kRegXpsr, &value));
    EXPECT_EQ(value, row.xpsr) << std::hex << row.cpsr;
  }
}

TEST(DumpLoadCore, WithoutPrstatusTheRegistersStayUnknown) {
  TempFiles files;
  const std::string core =
      files.Write("ram.core", BuildCore({{PT_LOAD, 0x20000000, 0x20000000, Bytes(32, 1)}}));
  model::TargetModel target;
  model::ModelInit(&target, false);
  DumpForgetRegisters(&target);
  std::string error;
  DumpContents contents;
  ASSERT_TRUE(DumpLoadCore(core, &target, &error, &contents)) << error;
  EXPECT_FALSE(contents.hasRegisters);
  EXPECT_FALSE(DumpHasRegisters(target));
  uint64_t value = 0;
  EXPECT_FALSE(model::ModelRegisterRead(target, 0, &value));
}

TEST(DumpLoadCore, RefusesFilesThatAreNotCores) {
  TempFiles files;
  std::vector<uint8_t> note(8, 0);
  const struct {
    std::string path;
    const char* reason;
  } rows[] = {
      {"/nonexistent/app.core", "cannot open"},
      {kCorpus + "layouts-dwarf5.elf", "not an ELF core"},
      {files.Write("exec.core", BuildCore({{PT_LOAD, 0, 0, Bytes(4, 0)}}, ET_EXEC)),
       "not an ELF core"},
      {files.Write("junk.core", Bytes(100, 7)), "not an ELF core"},
  };
  for (const auto& row : rows) {
    model::TargetModel target;
    std::string error;
    EXPECT_FALSE(DumpLoadCore(row.path, &target, &error)) << row.path;
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
  }
}

TEST(DumpLoadCore, SegmentsAndNotesPastTheFileEndAreSkipped) {
  std::vector<uint8_t> notes;
  AppendNote(&notes, "CORE", NT_PRSTATUS, PrstatusNote());
  std::vector<uint8_t> core = BuildCore({{PT_NOTE, 0, 0, notes},
                                         {PT_LOAD, 0x20000000, 0, Bytes(64, 0)},
                                         {PT_LOAD, 0xFFFFFFF0, 0, Bytes(32, 0)}});
  core.resize(core.size() - 40);  // the second load segment is cut short
  TempFiles files;
  const std::string path = files.Write("cut.core", core);
  model::TargetModel target;
  model::ModelInit(&target, false);
  std::string error;
  DumpContents contents;
  ASSERT_TRUE(DumpLoadCore(path, &target, &error, &contents)) << error;
  EXPECT_TRUE(contents.hasRegisters);
  EXPECT_EQ(contents.regions, 0u);  // one cut short, one past 4 GiB
}

// --- raw images, overlays and arguments --------------------------------------

TEST(DumpLoadRaw, PlacesTheImageOverWhatIsMapped) {
  TempFiles files;
  const std::string image = files.Write("ram.bin", Bytes(8, 0x50));
  model::TargetModel target;
  model::ModelInit(&target, true);
  ASSERT_TRUE(model::MemoryMap(&target.memory, 0x1000, 4));
  std::string error;
  DumpContents contents;
  ASSERT_TRUE(DumpLoadRaw(image, 0x1002, &target, &error, &contents)) << error;
  EXPECT_EQ(contents.bytes, 8u);
  EXPECT_FALSE(contents.hasRegisters);
  uint64_t value = 0;
  ASSERT_TRUE(model::MemoryReadValue(target.memory, 0x1000, 4, &value));
  EXPECT_EQ(value, 0x00005051u);  // big-endian: two old zero bytes, then the image
  EXPECT_EQ(target.memory.regions.size(), 1u);

  EXPECT_FALSE(DumpLoadRaw(image, 0xFFFFFFFC, &target, &error));
  EXPECT_FALSE(DumpLoadRaw(files.Write("empty.bin", {}), 0, &target, &error));
  EXPECT_FALSE(DumpLoadRaw("/nonexistent.bin", 0, &target, &error));
  EXPECT_FALSE(DumpLoadRaw("/tmp", 0, &target, &error));
}

TEST(DumpOverlayMemory, MergesWhatItOverlapsOrTouches) {
  struct Row {
    const char* what;
    std::vector<std::pair<uint32_t, uint32_t>> before;  // base, size (bytes 0xEE)
    uint32_t address;
    uint32_t size;
    std::vector<std::pair<uint32_t, uint32_t>> after;
  };
  const Row rows[] = {
      {"alone", {{0x100, 4}}, 0x200, 4, {{0x100, 4}, {0x200, 4}}},
      {"inside", {{0x100, 16}}, 0x104, 4, {{0x100, 16}}},
      {"across a gap", {{0x100, 4}, {0x110, 4}}, 0x102, 0x10, {{0x100, 0x14}}},
      {"touching both", {{0x100, 4}, {0x108, 4}}, 0x104, 4, {{0x100, 12}}},
      {"covering", {{0x104, 4}}, 0x100, 16, {{0x100, 16}}},
      {"at the top", {}, 0xFFFFFFFC, 4, {{0xFFFFFFFC, 4}}},
  };
  for (const Row& row : rows) {
    model::TargetMemory memory;
    for (const auto& [base, size] : row.before) {
      ASSERT_TRUE(model::MemoryMap(&memory, base, size));
      std::fill(memory.regions[base].begin(), memory.regions[base].end(), 0xEE);
    }
    const std::vector<uint8_t> data = Bytes(row.size, 1);
    ASSERT_TRUE(DumpOverlayMemory(&memory, row.address, data.data(), data.size())) << row.what;
    std::vector<std::pair<uint32_t, uint32_t>> after;
    for (const auto& [base, bytes] : memory.regions)
      after.emplace_back(base, static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(after, row.after) << row.what;
    std::vector<uint8_t> read(row.size);
    ASSERT_TRUE(model::MemoryRead(memory, row.address, row.size, read.data())) << row.what;
    EXPECT_EQ(read, data) << row.what;
    for (const auto& [base, size] : row.before) {
      for (uint32_t i = 0; i < size; ++i) {
        if (base + i >= row.address && base + i < row.address + row.size) continue;
        uint8_t byte = 0;
        ASSERT_TRUE(model::MemoryRead(memory, base + i, 1, &byte));
        EXPECT_EQ(byte, 0xEE) << row.what << " keeps byte " << base + i;
      }
    }
  }
  model::TargetMemory memory;
  const uint8_t byte = 0;
  EXPECT_FALSE(DumpOverlayMemory(&memory, 0, &byte, 0));
  EXPECT_FALSE(DumpOverlayMemory(&memory, 0xFFFFFFFF, &byte, 2));
}

TEST(DumpParseRawArgument, SplitsFileAndAddress) {
  const struct {
    const char* argument;
    bool ok;
    const char* path;
    uint32_t address;
  } rows[] = {
      {"ram.bin@0x20000000", true, "ram.bin", 0x20000000},
      {"ram.bin@536870912", true, "ram.bin", 0x20000000},
      {"dir@x/ram.bin@0XFFFFFFFF", true, "dir@x/ram.bin", 0xFFFFFFFF},
      {"ram.bin@0x100000000", false, "", 0},
      {"ram.bin@99999999999999999999999", false, "", 0},
      {"ram.bin@", false, "", 0},
      {"ram.bin@0x", false, "", 0},
      {"ram.bin@12ab", false, "", 0},
      {"@0x1000", false, "", 0},
      {"ram.bin", false, "", 0},
  };
  for (const auto& row : rows) {
    std::string path = "untouched";
    uint32_t address = 7;
    std::string error;
    EXPECT_EQ(DumpParseRawArgument(row.argument, &path, &address, &error), row.ok) << row.argument;
    if (row.ok) {
      EXPECT_EQ(path, row.path);
      EXPECT_EQ(address, row.address);
    } else {
      EXPECT_EQ(path, "untouched");
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(DumpKnownRegisters, OnlyTheGivenRegistersRead) {
  model::TargetModel target;
  std::string error;
  ASSERT_TRUE(DwarfLoadImage(kCorpus + "layouts-dwarf5.elf", DwarfLoadOptions{}, &target, &error));
  DumpKnownRegisters known;
  ASSERT_TRUE(DumpParseRegisterArgument("pc=layout_use", target, &known, &error)) << error;
  ASSERT_TRUE(DumpParseRegisterArgument("lr=0x1234", target, &known, &error)) << error;
  EXPECT_FALSE(DumpParseRegisterArgument("pc", target, &known, &error));
  EXPECT_FALSE(DumpParseRegisterArgument("r99=1", target, &known, &error));
  EXPECT_FALSE(DumpParseRegisterArgument("r0=no_such_symbol", target, &known, &error));
  EXPECT_FALSE(DumpParseRegisterArgument("r0=0x100000000", target, &known, &error));
  EXPECT_FALSE(known.known[0]);
  DumpUseKnownRegisters(&target, &known);
  EXPECT_TRUE(DumpHasRegisters(target));
  uint64_t value = 0;
  ASSERT_TRUE(model::ModelRegisterRead(target, model::kRegPc, &value));
  EXPECT_EQ(value, 0x1000u);
  EXPECT_FALSE(model::ModelRegisterRead(target, 0, &value));
  EXPECT_FALSE(model::ModelRegisterWrite(&target, 0, 1));
  ASSERT_TRUE(model::ModelRegisterWrite(&target, model::kRegLr, 0x2000));
  EXPECT_EQ(known.values[model::kRegLr], 0x2000u);
  std::string routine;
  EXPECT_TRUE(model::ModelCurrentRoutine(target, &routine));
  EXPECT_EQ(routine, "layout_use");
}

}  // namespace
