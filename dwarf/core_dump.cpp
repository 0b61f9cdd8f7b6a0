// Dump files laid over a model target: ELF core files through libelf (load
// segments and register notes) and raw memory images.
#include "dwarf/core_dump.h"

#include <elf.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "dwarf/elf_file.h"

namespace {

constexpr uint64_t kAddressLimit = uint64_t{1} << 32;

// The ARM prstatus note: pr_reg (r0-r15, cpsr, orig_r0) starts 72 bytes in.
constexpr size_t kPrstatusRegisterOffset = 72;
constexpr size_t kPrstatusRegisterWords = 18;
// The ARM VFP note: d0-d31 as 64-bit values, then fpscr.
constexpr uint32_t kNoteArmVfp = 0x400;
constexpr size_t kVfpDoubleCount = 32;
constexpr size_t kVfpFpscrOffset = kVfpDoubleCount * 8;

using dwarf::ElfHandle;
using dwarf::FileCloser;

bool UnknownRegisterRead(void*, uint32_t, uint32_t*) {
  return false;
}
bool UnknownRegisterWrite(void*, uint32_t, uint32_t) {
  return false;
}

bool KnownRegisterRead(void* context, uint32_t number, uint32_t* value) {
  const auto* known = static_cast<const DumpKnownRegisters*>(context);
  if (number >= known->known.size() || !known->known[number]) return false;
  *value = known->values[number];
  return true;
}
bool KnownRegisterWrite(void* context, uint32_t number, uint32_t value) {
  auto* known = static_cast<DumpKnownRegisters*>(context);
  if (number >= known->known.size() || !known->known[number]) return false;
  known->values[number] = value;
  return true;
}

uint32_t Word(const uint8_t* bytes, bool bigEndian) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= uint32_t{bytes[bigEndian ? 3 - i : i]} << (8 * i);
  return value;
}

// The xPSR of the register note's cpsr word. GDB writes an M-profile core's
// xPSR there; a physical-memory dump writes an A-profile CPSR (a mode in the
// low bits, bit 24 clear), which no running M-profile core has, as its
// Thumb bit is bit 24: keep its flags and set the Thumb bit; the exception
// number is not known (0, thread mode).
uint32_t XpsrOfCpsr(uint32_t cpsr) {
  constexpr uint32_t kThumb = 1u << 24;
  constexpr uint32_t kModeBit = 1u << 4;
  constexpr uint32_t kFlagsAndGe = 0xF80F0000;
  if ((cpsr & kThumb) != 0 || (cpsr & kModeBit) == 0) return cpsr;
  return (cpsr & kFlagsAndGe) | kThumb;
}

// r0-r15 and cpsr (xPSR on an M-profile core) of the first prstatus note.
bool TakePrstatus(const uint8_t* desc, size_t size, bool bigEndian, model::RegisterFile* file) {
  if (size < kPrstatusRegisterOffset + kPrstatusRegisterWords * 4) return false;
  for (uint32_t number = 0; number <= model::kRegXpsr; ++number)
    file->values[number] = Word(desc + kPrstatusRegisterOffset + number * 4, bigEndian);
  file->values[model::kRegXpsr] = XpsrOfCpsr(file->values[model::kRegXpsr]);
  return true;
}

// s0-s31 from the halves of d0-d15, and fpscr.
bool TakeVfp(const uint8_t* desc, size_t size, bool bigEndian, model::RegisterFile* file) {
  if (size < kVfpFpscrOffset + 4) return false;
  for (uint32_t d = 0; d < 16; ++d) {
    const uint8_t* value = desc + d * 8;
    const uint32_t low = Word(value + (bigEndian ? 4 : 0), bigEndian);
    const uint32_t high = Word(value + (bigEndian ? 0 : 4), bigEndian);
    file->values[model::kRegS0 + 2 * d] = low;
    file->values[model::kRegS0 + 2 * d + 1] = high;
  }
  file->values[model::kRegFpscr] = Word(desc + kVfpFpscrOffset, bigEndian);
  return true;
}

void ReadNotes(Elf* elf, const GElf_Phdr& segment, uint64_t fileSize, bool bigEndian,
               model::RegisterFile* registers, DumpContents* found) {
  if (segment.p_offset > fileSize || segment.p_filesz > fileSize - segment.p_offset) return;
  Elf_Data* data = elf_getdata_rawchunk(elf, static_cast<int64_t>(segment.p_offset),
                                        segment.p_filesz, ELF_T_NHDR);
  if (data == nullptr) return;
  size_t offset = 0;
  GElf_Nhdr note;
  size_t nameOffset = 0;
  size_t descOffset = 0;
  while (offset < data->d_size) {
    const size_t next = gelf_getnote(data, offset, &note, &nameOffset, &descOffset);
    if (next == 0 || next <= offset) break;
    const uint8_t* desc = static_cast<const uint8_t*>(data->d_buf) + descOffset;
    if (note.n_type == NT_PRSTATUS && !found->hasRegisters) {
      found->hasRegisters = TakePrstatus(desc, note.n_descsz, bigEndian, registers);
    } else if (note.n_type == kNoteArmVfp && !found->hasFpRegisters) {
      found->hasFpRegisters = TakeVfp(desc, note.n_descsz, bigEndian, registers);
    }
    offset = next;
  }
}

}  // namespace

bool DumpOverlayMemory(model::TargetMemory* memory, uint32_t address, const uint8_t* data,
                       uint64_t size) {
  if (size == 0 || address + size > kAddressLimit) return false;
  uint64_t start = address;
  uint64_t end = address + size;
  // Regions that overlap or touch the range merge with it into one region.
  auto first = memory->regions.lower_bound(address);
  if (first != memory->regions.begin()) {
    auto previous = std::prev(first);
    if (uint64_t{previous->first} + previous->second.size() >= start) first = previous;
  }
  auto last = first;
  while (last != memory->regions.end() && last->first <= end) {
    start = std::min<uint64_t>(start, last->first);
    end = std::max<uint64_t>(end, uint64_t{last->first} + last->second.size());
    ++last;
  }
  if (first == last) {
    memory->regions.emplace(address, std::vector<uint8_t>(data, data + size));
    return true;
  }
  std::vector<uint8_t> merged;
  if (first->first == start) {
    // Grow the lowest region in place: a large image takes no second copy.
    merged = std::move(first->second);
  }
  merged.resize(end - start, 0);
  for (auto it = first; it != last; ++it) {
    if (it->first == start && it == first) continue;
    std::copy(it->second.begin(), it->second.end(), merged.begin() + (it->first - start));
  }
  std::copy(data, data + size, merged.begin() + (address - start));
  memory->regions.erase(first, last);
  memory->regions.emplace(static_cast<uint32_t>(start), std::move(merged));
  return true;
}

bool DumpLoadCore(std::string_view corePath, model::TargetModel* model, std::string* error,
                  DumpContents* contents) {
  const std::string path(corePath);
  FileCloser file;
  if (!dwarf::OpenForReading(path, &file, error)) return false;
  elf_version(EV_CURRENT);
  ElfHandle elf(elf_begin(file.fd, ELF_C_READ_MMAP, nullptr));
  GElf_Ehdr header;
  if (elf == nullptr || elf_kind(elf.get()) != ELF_K_ELF ||
      gelf_getehdr(elf.get(), &header) == nullptr || header.e_type != ET_CORE) {
    *error = path + " is not an ELF core file";
    return false;
  }
  size_t fileSize = 0;
  const char* raw = elf_rawfile(elf.get(), &fileSize);
  const char* ident = elf_getident(elf.get(), nullptr);
  size_t segments = 0;
  if (raw == nullptr || ident == nullptr || elf_getphdrnum(elf.get(), &segments) != 0) {
    *error = path + ": cannot read the core file's segments";
    return false;
  }
  const bool bigEndian = ident[EI_DATA] == ELFDATA2MSB;
  DumpContents found;
  model::RegisterFile registers = model->registers;
  uint64_t total = 0;
  for (size_t i = 0; i < segments; ++i) {
    GElf_Phdr segment;
    if (gelf_getphdr(elf.get(), static_cast<int>(i), &segment) == nullptr) continue;
    if (segment.p_type == PT_NOTE) {
      ReadNotes(elf.get(), segment, fileSize, bigEndian, &registers, &found);
      continue;
    }
    if (segment.p_type != PT_LOAD || segment.p_filesz == 0) continue;
    // A dump of physical memory leaves the virtual address 0 and names the
    // physical one.
    const uint64_t address = segment.p_vaddr != 0 ? segment.p_vaddr : segment.p_paddr;
    const uint64_t size = std::min(segment.p_filesz, segment.p_memsz);
    if (size == 0 || segment.p_offset > fileSize || size > fileSize - segment.p_offset ||
        address >= kAddressLimit || size > kAddressLimit - address)
      continue;
    if (total + size > kDumpMaxBytes) {
      *error = path + ": the dump holds more than " + std::to_string(kDumpMaxBytes) + " bytes";
      return false;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(raw + segment.p_offset);
    if (!DumpOverlayMemory(&model->memory, static_cast<uint32_t>(address), bytes, size)) continue;
    total += size;
    ++found.regions;
    found.bytes += size;
  }
  if (found.hasRegisters) {
    registers.backing = model::RegisterBacking{};
    model->registers = registers;
  }
  if (contents != nullptr) *contents = found;
  return true;
}

bool DumpLoadRaw(std::string_view path, uint32_t address, model::TargetModel* model,
                 std::string* error, DumpContents* contents) {
  const std::string name(path);
  FileCloser file;
  if (!dwarf::OpenForReading(name, &file, error)) return false;
  struct stat status;
  if (fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *error = name + " is not a regular file";
    return false;
  }
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (size == 0 || size > kDumpMaxBytes || address + size > kAddressLimit) {
    *error = name + ": " + std::to_string(size) + " bytes do not fit at that address";
    return false;
  }
  std::vector<uint8_t> bytes(size);
  uint64_t done = 0;
  while (done < size) {
    const ssize_t got = read(file.fd, bytes.data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *error = "cannot read " + name;
      return false;
    }
    done += static_cast<uint64_t>(got);
  }
  if (!DumpOverlayMemory(&model->memory, address, bytes.data(), size)) {
    *error = name + ": cannot place the image";
    return false;
  }
  if (contents != nullptr) {
    *contents = DumpContents{};
    contents->regions = 1;
    contents->bytes = size;
  }
  return true;
}

bool DumpParseRawArgument(std::string_view argument, std::string* path, uint32_t* address,
                          std::string* error) {
  const size_t at = argument.rfind('@');
  if (at == std::string_view::npos || at == 0) {
    *error = "expected FILE@ADDRESS, got \"" + std::string(argument) + "\"";
    return false;
  }
  std::string_view digits = argument.substr(at + 1);
  uint32_t base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  uint64_t value = 0;
  bool valid = !digits.empty();
  for (const char c : digits) {
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      valid = false;
      break;
    }
    value = value * base + digit;
    if (value > UINT32_MAX) {
      valid = false;
      break;
    }
  }
  if (!valid) {
    *error = "the address of \"" + std::string(argument) + "\" is not a 32-bit number";
    return false;
  }
  *path = std::string(argument.substr(0, at));
  *address = static_cast<uint32_t>(value);
  return true;
}

void DumpForgetRegisters(model::TargetModel* model) {
  model->registers.backing =
      model::RegisterBacking{nullptr, UnknownRegisterRead, UnknownRegisterWrite};
}

bool DumpHasRegisters(const model::TargetModel& model) {
  return model.registers.backing.read != UnknownRegisterRead;
}

void DumpUseKnownRegisters(model::TargetModel* model, DumpKnownRegisters* known) {
  model->registers.values = known->values;
  model->registers.backing = model::RegisterBacking{known, KnownRegisterRead, KnownRegisterWrite};
}

bool DumpParseRegisterArgument(std::string_view argument, const model::TargetModel& model,
                               DumpKnownRegisters* known, std::string* error) {
  const size_t equals = argument.find('=');
  if (equals == std::string_view::npos) {
    *error = "expected NAME=VALUE, got \"" + std::string(argument) + "\"";
    return false;
  }
  const std::string_view name = argument.substr(0, equals);
  uint32_t number = 0;
  while (number < known->known.size() && name != model::RegisterName(number))
    ++number;
  if (number >= known->known.size()) {
    *error = "no register named \"" + std::string(name) + "\"";
    return false;
  }
  uint64_t value = 0;
  std::string reason;
  if (!model::ModelEvaluate(model, argument.substr(equals + 1), &value, &reason) ||
      value > UINT32_MAX) {
    *error = "the value of " + std::string(name) + " does not evaluate to 32 bits" +
             (reason.empty() ? std::string() : ": " + reason);
    return false;
  }
  known->known[number] = true;
  known->values[number] = static_cast<uint32_t>(value);
  return true;
}
