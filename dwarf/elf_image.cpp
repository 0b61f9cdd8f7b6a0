// Loading a model target from an ELF file: libelf for the header, sections
// and symbol table, libdw for the DWARF types and variables.
#include "dwarf/elf_image.h"

#include <dwarf.h>
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dwarf/core_dump.h"
#include "dwarf/elf_file.h"

namespace {

using model::Symbol;
using model::SymbolKind;
using model::TypeId;
using model::TypeInfo;
using model::TypeKind;
using model::TypeMember;

constexpr TypeId kVoidType = 0;  // TypeTableInit puts void first
constexpr uint32_t kPointerSize = 4;
constexpr uint64_t kAddressLimit = uint64_t{1} << 32;
// DIEs visited in all units at most; a damaged tree cannot keep the loader.
constexpr uint64_t kMaxDies = 50'000'000;
// Members of one record and dimensions of one array at most.
constexpr uint32_t kMaxMembers = 100'000;
constexpr uint32_t kMaxDimensions = 64;
// Members of all records together at most: anonymous members copy their
// members into every record that holds them.
constexpr uint64_t kMaxTotalMembers = 4'000'000;
// Longer names are dropped: many entries naming one long string of a
// hostile file must not cost its length each time.
constexpr size_t kMaxNameLength = 1024;

using dwarf::ElfHandle;
using dwarf::FileCloser;

struct DwarfEnd {
  void operator()(Dwarf* dwarf) const { dwarf_end(dwarf); }
};
using DwarfHandle = std::unique_ptr<Dwarf, DwarfEnd>;

// A variable found in DWARF, made a symbol once every type is complete.
struct PendingVariable {
  std::string name;
  uint32_t address = 0;
  TypeId type = kVoidType;
};

// A pointer whose target is converted after the walk, so that chains of
// records linked by pointers never deepen the recursion.
struct PendingPointer {
  TypeId pointer = 0;
  Dwarf_Die target{};
};

// A split unit's .dwo file opened by the loader itself.
struct DwoFile {
  FileCloser file;
  DwarfHandle dwarf;  // ended before the file closes
};

struct Loader {
  model::TargetModel* model = nullptr;
  DwarfLoadSummary summary;
  std::unordered_map<const void*, TypeId> converted;  // DIE -> type
  std::unordered_set<const void*> converting;         // DIEs on the recursion path
  std::unordered_map<std::string, TypeId> named;      // type name -> type
  std::unordered_set<TypeId> incomplete;              // records known only by declaration
  std::unordered_set<TypeId> sizedArrays;             // arrays with their own DW_AT_byte_size
  std::vector<PendingPointer> pointers;
  std::vector<PendingVariable> variables;
  std::unordered_map<std::string, TypeId> declaredVariables;  // extern declarations
  std::unordered_set<std::string> symbolNames;
  uint32_t depth = 0;
  uint64_t dies = 0;
  uint64_t members = 0;
  bool full = false;  // a table bound was reached
  // Split units opened beside the ELF file, and while one is walked, the
  // address table of its skeleton (.debug_addr of the ELF file from
  // DW_AT_addr_base), which resolves its DW_OP_addrx operands.
  std::string elfDirectory;
  Elf* elf = nullptr;
  std::vector<std::unique_ptr<DwoFile>> dwoFiles;
  const uint8_t* addressTable = nullptr;
  uint64_t addressTableSize = 0;
};

model::TypeTable& Types(Loader* loader) {
  return loader->model->types;
}

bool CountDie(Loader* loader) {
  if (++loader->dies > kMaxDies) {
    loader->full = true;
    return false;
  }
  return true;
}

TypeId Push(Loader* loader, TypeInfo info) {
  if (Types(loader).types.size() >= kDwarfMaxTypes) {
    loader->full = true;
    ++loader->summary.skipped;
    return kVoidType;
  }
  Types(loader).types.push_back(std::move(info));
  ++loader->summary.types;
  return static_cast<TypeId>(Types(loader).types.size() - 1);
}

std::string DieName(Dwarf_Die* die) {
  const char* name = dwarf_diename(die);
  if (name == nullptr || strnlen(name, kMaxNameLength + 1) > kMaxNameLength) return std::string();
  return std::string(name);
}

bool UnsignedAttribute(Dwarf_Die* die, unsigned int code, Dwarf_Word* value) {
  Dwarf_Attribute attribute;
  if (dwarf_attr_integrate(die, code, &attribute) == nullptr) return false;
  return dwarf_formudata(&attribute, value) == 0;
}

bool HasFlag(Dwarf_Die* die, unsigned int code) {
  Dwarf_Attribute attribute;
  bool flag = false;
  return dwarf_attr_integrate(die, code, &attribute) != nullptr &&
         dwarf_formflag(&attribute, &flag) == 0 && flag;
}

// The DIE that an attribute refers to (DW_AT_type and the like).
bool ReferencedDie(Dwarf_Die* die, unsigned int code, Dwarf_Die* out) {
  Dwarf_Attribute attribute;
  if (dwarf_attr_integrate(die, code, &attribute) == nullptr) return false;
  return dwarf_formref_die(&attribute, out) != nullptr;
}

// Walks the children of `die` in order. The next DIE must lie past the
// previous one, so that a damaged sibling link cannot loop.
template <typename Visit>
void ForEachChild(Loader* loader, Dwarf_Die* die, Visit visit) {
  Dwarf_Die child;
  if (dwarf_child(die, &child) != 0) return;
  while (CountDie(loader)) {
    const void* at = child.addr;
    if (!visit(&child)) return;
    Dwarf_Die next;
    if (dwarf_siblingof(&child, &next) != 0 || next.addr <= at) return;
    child = next;
  }
}

TypeId ConvertType(Loader* loader, Dwarf_Die* die);

// The type an attribute names; no attribute is void.
TypeId ConvertReferenced(Loader* loader, Dwarf_Die* die, unsigned int code = DW_AT_type) {
  Dwarf_Die target;
  if (!ReferencedDie(die, code, &target)) return kVoidType;
  return ConvertType(loader, &target);
}

uint32_t Clamp32(uint64_t value) {
  return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

// Reuses the first type of that name, so that a header's types included by
// many units exist once.
bool FindNamed(Loader* loader, const std::string& name, TypeId* type) {
  if (name.empty()) return false;
  const auto it = loader->named.find(name);
  if (it == loader->named.end()) return false;
  *type = it->second;
  return true;
}

void Name(Loader* loader, const std::string& name, TypeId type) {
  if (!name.empty() && type != kVoidType) loader->named.emplace(name, type);
}

TypeId ConvertBase(Loader* loader, Dwarf_Die* die, bool isEnum) {
  Dwarf_Word size = 0;
  if (!UnsignedAttribute(die, DW_AT_byte_size, &size) || size == 0 || size > 64) {
    if (!isEnum) return kVoidType;
    size = 4;
  }
  bool isSigned = false;
  Dwarf_Word encoding = 0;
  if (isEnum) {
    Dwarf_Die underlying;
    if (ReferencedDie(die, DW_AT_type, &underlying) &&
        UnsignedAttribute(&underlying, DW_AT_encoding, &encoding)) {
      isSigned = encoding == DW_ATE_signed || encoding == DW_ATE_signed_char;
    }
  } else if (UnsignedAttribute(die, DW_AT_encoding, &encoding)) {
    isSigned = encoding == DW_ATE_signed || encoding == DW_ATE_signed_char;
  }
  std::string name = DieName(die);
  if (isEnum && !name.empty()) name = "enum " + name;
  TypeId existing = 0;
  if (FindNamed(loader, name, &existing)) {
    TypeInfo& info = Types(loader).types[existing];
    // The program's own debug information says what its base types are
    // (char is unsigned on ARM), over the defaults the table starts with.
    if (info.kind == TypeKind::kBase) {
      info.size = static_cast<uint32_t>(size);
      info.align = std::min<uint32_t>(info.size, 8);
      info.isSigned = isSigned;
    }
    return existing;
  }
  TypeInfo info;
  info.kind = TypeKind::kBase;
  info.name = name;
  info.size = static_cast<uint32_t>(size);
  info.align = std::min<uint32_t>(info.size, 8);
  info.isSigned = isSigned;
  const TypeId type = Push(loader, std::move(info));
  Name(loader, name, type);
  return type;
}

// A member's byte offset: a constant, a DWARF 2 location expression
// (DW_OP_plus_uconst), or for a bit field its DW_AT_data_bit_offset / 8;
// none at all (union members) is 0.
bool MemberOffset(Dwarf_Die* member, uint32_t* offset) {
  Dwarf_Attribute attribute;
  if (dwarf_attr(member, DW_AT_data_member_location, &attribute) != nullptr) {
    Dwarf_Word value = 0;
    if (dwarf_formudata(&attribute, &value) == 0) {
      if (value > UINT32_MAX) return false;
      *offset = static_cast<uint32_t>(value);
      return true;
    }
    Dwarf_Op* ops = nullptr;
    size_t count = 0;
    if (dwarf_getlocation(&attribute, &ops, &count) != 0 || count != 1) return false;
    if (ops[0].atom != DW_OP_plus_uconst && ops[0].atom != DW_OP_constu) return false;
    if (ops[0].number > UINT32_MAX) return false;
    *offset = static_cast<uint32_t>(ops[0].number);
    return true;
  }
  Dwarf_Word bits = 0;
  if (UnsignedAttribute(member, DW_AT_data_bit_offset, &bits)) {
    if (bits / 8 > UINT32_MAX) return false;
    *offset = static_cast<uint32_t>(bits / 8);
    return true;
  }
  *offset = 0;
  return true;
}

void FillRecord(Loader* loader, Dwarf_Die* die, TypeId record) {
  std::vector<TypeMember> members;
  uint32_t align = 1;
  ForEachChild(loader, die, [&](Dwarf_Die* child) {
    if (dwarf_tag(child) != DW_TAG_member) return true;
    if (members.size() >= kMaxMembers || loader->members >= kMaxTotalMembers) {
      ++loader->summary.skipped;
      return false;
    }
    uint32_t offset = 0;
    if (!MemberOffset(child, &offset)) {
      ++loader->summary.skipped;
      return true;
    }
    TypeMember member;
    member.name = DieName(child);
    member.type = ConvertReferenced(loader, child);
    member.offset = offset;
    const TypeInfo& memberType = Types(loader).types[member.type];
    align = std::max(align, memberType.align);
    const bool anonymousRecord = member.name.empty() && (memberType.kind == TypeKind::kStruct ||
                                                         memberType.kind == TypeKind::kUnion);
    // C11 anonymous structs and unions: their members are reached as
    // members of the enclosing record (theirs are already flattened).
    std::vector<TypeMember> inner;
    if (anonymousRecord) inner = memberType.members;
    members.push_back(std::move(member));
    for (TypeMember& nested : inner) {
      if (members.size() >= kMaxMembers || loader->members + members.size() >= kMaxTotalMembers)
        break;
      nested.offset = Clamp32(uint64_t{nested.offset} + offset);
      members.push_back(std::move(nested));
    }
    return true;
  });
  loader->members += members.size();
  TypeInfo& info = Types(loader).types[record];
  info.members = std::move(members);
  info.align = align;
}

TypeId ConvertRecord(Loader* loader, Dwarf_Die* die, TypeKind kind) {
  // A declaration that refers to a type unit holds no members itself.
  Dwarf_Die signature;
  if (ReferencedDie(die, DW_AT_signature, &signature) && signature.addr != die->addr)
    return ConvertType(loader, &signature);
  const std::string tag = DieName(die);
  const std::string name =
      tag.empty() ? std::string() : (kind == TypeKind::kStruct ? "struct " : "union ") + tag;
  const bool declaration = HasFlag(die, DW_AT_declaration);
  TypeId record = 0;
  if (FindNamed(loader, name, &record)) {
    const TypeInfo& existing = Types(loader).types[record];
    if (existing.kind != kind) return record;
    if (declaration || loader->incomplete.count(record) == 0) return record;
    loader->incomplete.erase(record);  // the definition completes the declaration
  } else {
    TypeInfo info;
    info.kind = kind;
    info.name = name;
    record = Push(loader, std::move(info));
    if (record == kVoidType) return kVoidType;
    Name(loader, name, record);
    if (declaration) {
      loader->incomplete.insert(record);
      return record;
    }
  }
  Dwarf_Word size = 0;
  if (UnsignedAttribute(die, DW_AT_byte_size, &size))
    Types(loader).types[record].size = Clamp32(size);
  loader->converted.emplace(die->addr, record);
  FillRecord(loader, die, record);
  return record;
}

TypeId ConvertPointer(Loader* loader, Dwarf_Die* die) {
  TypeInfo info;
  info.kind = TypeKind::kPointer;
  info.size = kPointerSize;
  info.align = kPointerSize;
  info.target = kVoidType;
  const TypeId pointer = Push(loader, std::move(info));
  if (pointer == kVoidType) return kVoidType;
  loader->converted.emplace(die->addr, pointer);
  Dwarf_Die target;
  if (ReferencedDie(die, DW_AT_type, &target)) loader->pointers.push_back({pointer, target});
  return pointer;
}

TypeId ConvertTypedef(Loader* loader, Dwarf_Die* die) {
  const std::string name = DieName(die);
  TypeId existing = 0;
  if (FindNamed(loader, name, &existing)) return existing;
  const TypeId target = ConvertReferenced(loader, die);
  if (name.empty()) return target;
  const TypeInfo& aliased = Types(loader).types[target];
  TypeInfo info;
  info.kind = TypeKind::kTypedef;
  info.name = name;
  info.target = target;
  info.size = aliased.size;
  info.align = aliased.align;
  info.isSigned = aliased.isSigned;
  const TypeId type = Push(loader, std::move(info));
  Name(loader, name, type);
  return type;
}

// The element count of one subrange: DW_AT_count, or upper bound minus lower
// bound plus one; none (a flexible array) or a bound that is not a constant
// is 0.
uint32_t SubrangeCount(Dwarf_Die* subrange) {
  Dwarf_Word count = 0;
  if (UnsignedAttribute(subrange, DW_AT_count, &count)) return Clamp32(count);
  Dwarf_Attribute attribute;
  if (dwarf_attr_integrate(subrange, DW_AT_upper_bound, &attribute) == nullptr) return 0;
  // libdw sign-extends the fixed-size data forms: a bound of 255 stored in
  // one byte would read as -1. Only sdata carries a signed bound.
  Dwarf_Sword upper = 0;
  if (dwarf_whatform(&attribute) == DW_FORM_sdata) {
    if (dwarf_formsdata(&attribute, &upper) != 0) return 0;
  } else {
    Dwarf_Word value = 0;
    if (dwarf_formudata(&attribute, &value) != 0 || value > INT64_MAX) return 0;
    upper = static_cast<Dwarf_Sword>(value);
  }
  Dwarf_Word lower = 0;
  UnsignedAttribute(subrange, DW_AT_lower_bound, &lower);
  if (upper < 0 || static_cast<Dwarf_Word>(upper) < lower) return 0;
  return Clamp32(static_cast<Dwarf_Word>(upper) - lower + 1);
}

TypeId ConvertArray(Loader* loader, Dwarf_Die* die) {
  std::vector<uint32_t> counts;
  ForEachChild(loader, die, [&](Dwarf_Die* child) {
    if (dwarf_tag(child) != DW_TAG_subrange_type) return true;
    if (counts.size() >= kMaxDimensions) return false;
    counts.push_back(SubrangeCount(child));
    return true;
  });
  if (counts.empty()) counts.push_back(0);
  TypeId type = ConvertReferenced(loader, die);
  // int a[2][3] is an array of 2 arrays of 3: build from the innermost.
  for (size_t i = counts.size(); i-- > 0;) {
    const TypeInfo& element = Types(loader).types[type];
    TypeInfo info;
    info.kind = TypeKind::kArray;
    info.target = type;
    info.count = counts[i];
    info.size = Clamp32(uint64_t{element.size} * counts[i]);
    info.align = element.align;
    type = Push(loader, std::move(info));
    if (type == kVoidType) return kVoidType;
  }
  Dwarf_Word size = 0;
  if (counts.size() == 1 && UnsignedAttribute(die, DW_AT_byte_size, &size)) {
    Types(loader).types[type].size = Clamp32(size);
    loader->sizedArrays.insert(type);
  }
  return type;
}

TypeId ConvertTag(Loader* loader, Dwarf_Die* die) {
  switch (dwarf_tag(die)) {
    case DW_TAG_base_type:
      return ConvertBase(loader, die, false);
    case DW_TAG_enumeration_type:
      return ConvertBase(loader, die, true);
    case DW_TAG_structure_type:
    case DW_TAG_class_type:
      return ConvertRecord(loader, die, TypeKind::kStruct);
    case DW_TAG_union_type:
      return ConvertRecord(loader, die, TypeKind::kUnion);
    case DW_TAG_pointer_type:
    case DW_TAG_reference_type:
    case DW_TAG_rvalue_reference_type:
      return ConvertPointer(loader, die);
    case DW_TAG_typedef:
      return ConvertTypedef(loader, die);
    case DW_TAG_array_type:
      return ConvertArray(loader, die);
    case DW_TAG_const_type:
    case DW_TAG_volatile_type:
    case DW_TAG_restrict_type:
    case DW_TAG_atomic_type:
    case DW_TAG_immutable_type:
    case DW_TAG_packed_type:
      // Qualifiers change no layout: the table holds the unqualified type.
      return ConvertReferenced(loader, die);
    default:
      // Function types and whatever else has no data layout stand as void.
      return kVoidType;
  }
}

// Converts a type DIE once; a DIE met again on its own conversion path (a
// damaged file whose types contain themselves) or past the depth bound
// becomes void.
TypeId ConvertType(Loader* loader, Dwarf_Die* die) {
  const auto done = loader->converted.find(die->addr);
  if (done != loader->converted.end()) return done->second;
  if (loader->full || loader->depth >= kDwarfMaxTypeDepth ||
      loader->converting.count(die->addr) != 0 || !CountDie(loader)) {
    ++loader->summary.skipped;
    return kVoidType;
  }
  loader->converting.insert(die->addr);
  ++loader->depth;
  const TypeId type = ConvertTag(loader, die);
  --loader->depth;
  loader->converting.erase(die->addr);
  loader->converted.emplace(die->addr, type);
  return type;
}

// The address of a variable: DW_OP_addr or DW_OP_addrx (split units),
// optionally followed by DW_OP_plus_uconst.
// Entry `index` of the address table of a split unit opened beside the ELF.
bool TableAddress(const Loader& loader, uint64_t index, uint64_t* address) {
  if (loader.addressTable == nullptr || index >= loader.addressTableSize / 4) return false;
  const uint8_t* entry = loader.addressTable + index * 4;
  uint64_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= uint64_t{entry[loader.model->memory.bigEndian ? 3 - i : i]} << (8 * i);
  *address = value;
  return true;
}

bool VariableAddress(const Loader& loader, Dwarf_Die* die, uint32_t* address) {
  Dwarf_Attribute attribute;
  if (dwarf_attr(die, DW_AT_location, &attribute) == nullptr) return false;
  Dwarf_Op* ops = nullptr;
  size_t count = 0;
  if (dwarf_getlocation(&attribute, &ops, &count) != 0 || count < 1 || count > 2) return false;
  uint64_t value = 0;
  switch (ops[0].atom) {
    case DW_OP_addr:
      value = ops[0].number;
      break;
    case DW_OP_addrx:
    case DW_OP_GNU_addr_index: {
      Dwarf_Attribute indexed;
      Dwarf_Addr resolved = 0;
      if (dwarf_getlocation_attr(&attribute, &ops[0], &indexed) == 0 &&
          dwarf_formaddr(&indexed, &resolved) == 0) {
        value = resolved;
      } else if (!TableAddress(loader, ops[0].number, &value)) {
        return false;
      }
      break;
    }
    default:
      return false;
  }
  if (count == 2) {
    if (ops[1].atom != DW_OP_plus_uconst) return false;
    value += ops[1].number;
  }
  if (value >= kAddressLimit) return false;
  *address = static_cast<uint32_t>(value);
  return true;
}

void TakeVariable(Loader* loader, Dwarf_Die* die) {
  const std::string name = DieName(die);
  if (name.empty()) return;
  uint32_t address = 0;
  if (!VariableAddress(*loader, die, &address)) {
    // An extern declaration: its type serves an ELF symbol that has no
    // definition in the debug information.
    if (HasFlag(die, DW_AT_declaration) && loader->declaredVariables.count(name) == 0)
      loader->declaredVariables.emplace(name, ConvertReferenced(loader, die));
    return;
  }
  loader->variables.push_back({name, address, ConvertReferenced(loader, die)});
}

// The top level of a unit: every type with a name is converted (so sizeof
// works on types no variable uses), and every variable with an address.
void WalkScope(Loader* loader, Dwarf_Die* scope, uint32_t nesting) {
  ForEachChild(loader, scope, [&](Dwarf_Die* child) {
    switch (dwarf_tag(child)) {
      case DW_TAG_variable:
        TakeVariable(loader, child);
        break;
      case DW_TAG_base_type:
      case DW_TAG_structure_type:
      case DW_TAG_class_type:
      case DW_TAG_union_type:
      case DW_TAG_typedef:
      case DW_TAG_enumeration_type:
        if (dwarf_hasattr(child, DW_AT_name)) ConvertType(loader, child);
        break;
      case DW_TAG_namespace:
        if (nesting < kDwarfMaxTypeDepth) WalkScope(loader, child, nesting + 1);
        break;
      default:
        break;
    }
    return !loader->full;
  });
}

void ResolvePointers(Loader* loader) {
  // Converting a target may add pointers; the vector grows while it is read.
  for (size_t i = 0; i < loader->pointers.size() && !loader->full; ++i) {
    Dwarf_Die target = loader->pointers[i].target;
    const TypeId type = ConvertType(loader, &target);
    Types(loader).types[loader->pointers[i].pointer].target = type;
  }
}

// Typedefs take the size of what they name, and arrays count times their
// element's size, once every record is complete (a struct declared in one
// unit and defined in another). Both only ever name types added before them,
// so one pass in table order sees every target complete.
void CompleteSizes(Loader* loader) {
  std::vector<TypeInfo>& types = Types(loader).types;
  for (size_t i = 0; i < types.size(); ++i) {
    TypeInfo& info = types[i];
    if (info.target >= i) continue;
    const TypeInfo& target = types[info.target];
    if (info.kind == TypeKind::kTypedef) {
      info.size = target.size;
      info.align = target.align;
      info.isSigned = target.isSigned;
    } else if (info.kind == TypeKind::kArray &&
               loader->sizedArrays.count(static_cast<TypeId>(i)) == 0) {
      info.size = Clamp32(uint64_t{target.size} * info.count);
      info.align = target.align;
    }
  }
}

// The bytes of the ELF file's section of that name, or none.
bool SectionBytes(Elf* elf, std::string_view name, const uint8_t** bytes, uint64_t* size) {
  size_t names = 0;
  if (elf_getshdrstrndx(elf, &names) != 0) return false;
  for (Elf_Scn* section = elf_nextscn(elf, nullptr); section != nullptr;
       section = elf_nextscn(elf, section)) {
    GElf_Shdr header;
    if (gelf_getshdr(section, &header) == nullptr) continue;
    const char* sectionName = elf_strptr(elf, names, header.sh_name);
    if (sectionName == nullptr || name != sectionName) continue;
    Elf_Data* data = elf_rawdata(section, nullptr);
    if (data == nullptr || data->d_buf == nullptr) return false;
    *bytes = static_cast<const uint8_t*>(data->d_buf);
    *size = data->d_size;
    return true;
  }
  return false;
}

// A skeleton unit whose split unit libdw did not find where the skeleton
// names it (the build was moved): its .dwo file is looked for beside the ELF
// file, and walked with the skeleton's address table.
void WalkDwoBeside(Loader* loader, Dwarf_Die* skeleton) {
  Dwarf_Attribute attribute;
  const char* dwoName = nullptr;
  if (dwarf_attr(skeleton, DW_AT_dwo_name, &attribute) != nullptr ||
      dwarf_attr(skeleton, DW_AT_GNU_dwo_name, &attribute) != nullptr)
    dwoName = dwarf_formstring(&attribute);
  Dwarf_Word addressBase = 0;
  if (dwoName == nullptr || loader->elf == nullptr ||
      (!UnsignedAttribute(skeleton, DW_AT_addr_base, &addressBase) &&
       !UnsignedAttribute(skeleton, DW_AT_GNU_addr_base, &addressBase)))
    return;
  const std::string_view name(dwoName);
  const size_t slash = name.rfind('/');
  const std::string path =
      loader->elfDirectory + "/" +
      std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
  auto dwo = std::make_unique<DwoFile>();
  dwo->file.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (dwo->file.fd < 0) return;
  dwo->dwarf.reset(dwarf_begin(dwo->file.fd, DWARF_C_READ));
  const uint8_t* table = nullptr;
  uint64_t tableSize = 0;
  if (dwo->dwarf == nullptr || !SectionBytes(loader->elf, ".debug_addr", &table, &tableSize) ||
      addressBase > tableSize)
    return;
  loader->addressTable = table + addressBase;
  loader->addressTableSize = tableSize - addressBase;
  Dwarf_CU* unit = nullptr;
  Dwarf_CU* next = nullptr;
  Dwarf_Half version = 0;
  uint8_t unitType = 0;
  Dwarf_Die unitDie;
  Dwarf_Die splitDie;
  // One .dwo file holds the one split unit of its skeleton.
  if (dwarf_get_units(dwo->dwarf.get(), unit, &next, &version, &unitType, &unitDie, &splitDie) ==
          0 &&
      dwarf_tag(&unitDie) == DW_TAG_compile_unit)
    WalkScope(loader, &unitDie, 0);
  loader->addressTable = nullptr;
  loader->addressTableSize = 0;
  loader->dwoFiles.push_back(std::move(dwo));
}

void WalkUnits(Loader* loader, Dwarf* dwarf) {
  Dwarf_CU* unit = nullptr;
  Dwarf_CU* next = nullptr;
  Dwarf_Half version = 0;
  uint8_t unitType = 0;
  Dwarf_Die unitDie;
  Dwarf_Die splitDie;
  while (!loader->full &&
         dwarf_get_units(dwarf, unit, &next, &version, &unitType, &unitDie, &splitDie) == 0) {
    unit = next;
    ++loader->summary.units;
    // A skeleton unit's types and variables live in its split unit (.dwo).
    if (unitType == DW_UT_skeleton && dwarf_tag(&splitDie) != DW_TAG_compile_unit) {
      WalkDwoBeside(loader, &unitDie);
      continue;
    }
    Dwarf_Die* top = &unitDie;
    if ((unitType == DW_UT_skeleton || unitType == DW_UT_split_compile) &&
        dwarf_tag(&splitDie) == DW_TAG_compile_unit)
      top = &splitDie;
    WalkScope(loader, top, 0);
  }
}

bool AddSymbolOnce(Loader* loader, Symbol symbol) {
  if (symbol.name.empty() || loader->symbolNames.count(symbol.name) != 0) return false;
  if (loader->model->symbols.symbols.size() >= kDwarfMaxSymbols) {
    loader->full = true;
    ++loader->summary.skipped;
    return false;
  }
  loader->symbolNames.insert(symbol.name);
  loader->model->symbols.symbols.push_back(std::move(symbol));
  return true;
}

void AddVariables(Loader* loader) {
  for (PendingVariable& variable : loader->variables) {
    Symbol symbol;
    symbol.name = std::move(variable.name);
    symbol.kind = SymbolKind::kVariable;
    symbol.address = variable.address;
    symbol.type = variable.type;
    symbol.size = Types(loader).types[variable.type].size;
    if (AddSymbolOnce(loader, std::move(symbol))) ++loader->summary.variables;
  }
}

struct ElfSymbol {
  std::string name;
  uint8_t type = 0;
  uint32_t address = 0;
  uint32_t size = 0;
};

std::vector<ElfSymbol> ReadElfSymbols(Elf* elf) {
  std::vector<ElfSymbol> result;
  Elf_Scn* section = nullptr;
  for (Elf_Scn* candidate = elf_nextscn(elf, nullptr); candidate != nullptr;
       candidate = elf_nextscn(elf, candidate)) {
    GElf_Shdr header;
    if (gelf_getshdr(candidate, &header) != nullptr && header.sh_type == SHT_SYMTAB) {
      section = candidate;
      break;
    }
  }
  if (section == nullptr) return result;
  GElf_Shdr header;
  Elf_Data* data = elf_getdata(section, nullptr);
  if (gelf_getshdr(section, &header) == nullptr || data == nullptr || header.sh_entsize == 0)
    return result;
  const uint64_t count = std::min<uint64_t>(data->d_size / header.sh_entsize, kDwarfMaxSymbols);
  for (uint64_t i = 1; i < count; ++i) {
    GElf_Sym symbol;
    if (gelf_getsym(data, static_cast<int>(i), &symbol) == nullptr) continue;
    const char* name = elf_strptr(elf, header.sh_link, symbol.st_name);
    if (name == nullptr || name[0] == '\0' || name[0] == '$' ||  // ARM mapping symbols
        strnlen(name, kMaxNameLength + 1) > kMaxNameLength)
      continue;
    if (symbol.st_shndx == SHN_UNDEF || symbol.st_value >= kAddressLimit) continue;
    const uint8_t type = GELF_ST_TYPE(symbol.st_info);
    if (type != STT_FUNC && type != STT_OBJECT && type != STT_NOTYPE) continue;
    ElfSymbol entry;
    entry.name = name;
    entry.type = type;
    entry.address = static_cast<uint32_t>(symbol.st_value);
    entry.size = Clamp32(symbol.st_size);
    result.push_back(std::move(entry));
  }
  return result;
}

// "x.lto_priv.0" -> "x"; empty when the name carries no such suffix.
std::string LtoPlainName(const std::string& name) {
  const size_t at = name.find(".lto_priv.");
  return at == std::string::npos || at == 0 ? std::string() : name.substr(0, at);
}

void AddElfSymbols(Loader* loader, const std::vector<ElfSymbol>& symbols) {
  // A plain name serves a renamed static only when one symbol claims it.
  std::unordered_map<std::string, uint32_t> plainClaims;
  for (const ElfSymbol& entry : symbols) {
    const std::string plain = LtoPlainName(entry.name);
    if (!plain.empty()) ++plainClaims[plain];
  }
  for (const ElfSymbol& entry : symbols) {
    Symbol symbol;
    symbol.address = entry.address;
    if (entry.type == STT_FUNC) {
      symbol.kind = SymbolKind::kRoutine;
      symbol.address &= ~1u;  // the Thumb bit
      symbol.size = entry.size;
    } else if (entry.type == STT_OBJECT) {
      // An object takes the type of an extern declaration or of the static
      // it was renamed from; without one (data defined in assembly) it
      // stands for its address, as a linker symbol does.
      const auto declared = loader->declaredVariables.find(entry.name);
      const std::string plain = LtoPlainName(entry.name);
      const Symbol* original = nullptr;
      if (!plain.empty() && loader->symbolNames.count(plain) != 0)
        original = model::FindSymbol(loader->model->symbols, plain);
      symbol.kind = SymbolKind::kVariable;
      if (declared != loader->declaredVariables.end()) {
        symbol.type = declared->second;
      } else if (original != nullptr && original->kind == SymbolKind::kVariable) {
        symbol.type = original->type;
      } else {
        symbol.kind = SymbolKind::kLinker;
      }
      if (symbol.kind == SymbolKind::kVariable) symbol.size = Types(loader).types[symbol.type].size;
    } else {
      symbol.kind = SymbolKind::kLinker;
    }
    const std::string plain = LtoPlainName(entry.name);
    if (!plain.empty() && plainClaims[plain] == 1 && loader->symbolNames.count(plain) == 0) {
      Symbol alias = symbol;
      alias.name = plain;
      if (AddSymbolOnce(loader, std::move(alias)) && symbol.kind == SymbolKind::kVariable)
        ++loader->summary.variables;
    }
    symbol.name = entry.name;
    const SymbolKind kind = symbol.kind;
    if (!AddSymbolOnce(loader, std::move(symbol))) continue;
    if (kind == SymbolKind::kRoutine) ++loader->summary.routines;
    if (kind == SymbolKind::kLinker) ++loader->summary.linkerSymbols;
    if (kind == SymbolKind::kVariable) ++loader->summary.variables;
  }
}

void LoadContents(Loader* loader, Elf* elf) {
  uint64_t total = 0;
  for (Elf_Scn* section = elf_nextscn(elf, nullptr); section != nullptr;
       section = elf_nextscn(elf, section)) {
    GElf_Shdr header;
    if (gelf_getshdr(section, &header) == nullptr) continue;
    if ((header.sh_flags & SHF_ALLOC) == 0 || header.sh_type == SHT_NOBITS || header.sh_size == 0 ||
        header.sh_addr >= kAddressLimit || header.sh_size > kAddressLimit - header.sh_addr)
      continue;
    if (total + header.sh_size > kDwarfMaxContents) {
      ++loader->summary.skipped;
      continue;
    }
    Elf_Data* data = elf_rawdata(section, nullptr);
    if (data == nullptr || data->d_buf == nullptr || data->d_size != header.sh_size) {
      ++loader->summary.skipped;
      continue;
    }
    if (!DumpOverlayMemory(&loader->model->memory, static_cast<uint32_t>(header.sh_addr),
                           static_cast<const uint8_t*>(data->d_buf), data->d_size)) {
      ++loader->summary.skipped;
      continue;
    }
    total += header.sh_size;
    ++loader->summary.regions;
  }
}

}  // namespace

bool DwarfLoadImage(std::string_view elfPath, const DwarfLoadOptions& options,
                    model::TargetModel* model, std::string* error, DwarfLoadSummary* summary) {
  model::ModelInit(model, false);
  DumpForgetRegisters(model);
  const std::string path(elfPath);
  FileCloser file;
  if (!dwarf::OpenForReading(path, &file, error)) return false;
  elf_version(EV_CURRENT);
  ElfHandle elf(elf_begin(file.fd, ELF_C_READ_MMAP, nullptr));
  if (elf == nullptr || elf_kind(elf.get()) != ELF_K_ELF) {
    *error = path + " is not an ELF file";
    return false;
  }
  const char* ident = elf_getident(elf.get(), nullptr);
  GElf_Ehdr header;
  if (ident == nullptr || gelf_getehdr(elf.get(), &header) == nullptr ||
      ident[EI_CLASS] != ELFCLASS32) {
    *error = path + " is not a 32-bit ELF file";
    return false;
  }
  model->memory.bigEndian = ident[EI_DATA] == ELFDATA2MSB;

  Loader loader;
  loader.model = model;
  loader.elf = elf.get();
  const size_t slash = path.rfind('/');
  loader.elfDirectory = slash == std::string::npos ? "." : path.substr(0, slash);
  for (size_t i = 0; i < model->types.types.size(); ++i)
    loader.named.emplace(model->types.types[i].name, static_cast<TypeId>(i));

  // Without debug information the symbol table still gives routines and
  // linker symbols.
  DwarfHandle dwarf(dwarf_begin_elf(elf.get(), DWARF_C_READ, nullptr));
  if (dwarf != nullptr) {
    WalkUnits(&loader, dwarf.get());
    ResolvePointers(&loader);
    CompleteSizes(&loader);
    AddVariables(&loader);
  }
  AddElfSymbols(&loader, ReadElfSymbols(elf.get()));
  if (options.loadContents) LoadContents(&loader, elf.get());
  if (summary != nullptr) *summary = loader.summary;
  return true;
}
