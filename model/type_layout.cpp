// C type layouts with natural alignment for a 32-bit target.
#include "model/type_layout.h"

#include <algorithm>

namespace model {
namespace {

constexpr uint32_t kPointerSize = 4;

uint32_t RoundUp(uint32_t value, uint32_t align) {
  return (value + align - 1) / align * align;
}

TypeId Push(TypeTable* table, TypeInfo info) {
  table->types.push_back(std::move(info));
  return static_cast<TypeId>(table->types.size() - 1);
}

struct BaseRow {
  std::string_view name;
  uint32_t size;
  bool isSigned;
};

constexpr BaseRow kBaseTypes[] = {
    {"char", 1, true},
    {"signed char", 1, true},
    {"unsigned char", 1, false},
    {"short", 2, true},
    {"unsigned short", 2, false},
    {"int", 4, true},
    {"unsigned int", 4, false},
    {"long", 4, true},
    {"unsigned long", 4, false},
    {"long long", 8, true},
    {"unsigned long long", 8, false},
};
static_assert(std::size(kBaseTypes) == 11);

}  // namespace

void TypeTableInit(TypeTable* table) {
  TypeInfo voidType;
  voidType.kind = TypeKind::kVoid;
  voidType.name = "void";
  voidType.size = 1;  // as C compilers do for arithmetic on void pointers
  Push(table, std::move(voidType));
  for (const BaseRow& row : kBaseTypes)
    AddBaseType(table, row.name, row.size, row.isSigned);
}

TypeId AddBaseType(TypeTable* table, std::string_view name, uint32_t size, bool isSigned) {
  TypeInfo info;
  info.kind = TypeKind::kBase;
  info.name = std::string(name);
  info.size = size;
  info.align = size;
  info.isSigned = isSigned;
  return Push(table, std::move(info));
}

TypeId AddPointerType(TypeTable* table, TypeId target) {
  for (size_t i = 0; i < table->types.size(); ++i) {
    const TypeInfo& info = table->types[i];
    if (info.kind == TypeKind::kPointer && info.target == target) return static_cast<TypeId>(i);
  }
  TypeInfo info;
  info.kind = TypeKind::kPointer;
  info.size = kPointerSize;
  info.align = kPointerSize;
  info.target = target;
  return Push(table, std::move(info));
}

TypeId AddArrayType(TypeTable* table, TypeId element, uint32_t count) {
  TypeInfo info;
  info.kind = TypeKind::kArray;
  info.size = table->types[element].size * count;
  info.align = table->types[element].align;
  info.target = element;
  info.count = count;
  return Push(table, std::move(info));
}

TypeId DeclareRecordType(TypeTable* table, TypeKind kind, std::string_view name) {
  TypeInfo info;
  info.kind = kind;
  info.name = std::string(name);
  return Push(table, std::move(info));
}

void DefineRecordType(TypeTable* table, TypeId record, std::span<const MemberSpec> members) {
  const TypeKind kind = table->types[record].kind;
  uint32_t align = 1;
  uint32_t end = 0;
  std::vector<TypeMember> laidOut;
  for (const MemberSpec& spec : members) {
    const TypeInfo& memberType = table->types[spec.type];
    align = std::max(align, memberType.align);
    const uint32_t offset = kind == TypeKind::kUnion ? 0 : RoundUp(end, memberType.align);
    laidOut.push_back(TypeMember{std::string(spec.name), spec.type, offset});
    end = kind == TypeKind::kUnion ? std::max(end, memberType.size) : offset + memberType.size;
  }
  TypeInfo& info = table->types[record];
  info.members = std::move(laidOut);
  info.align = align;
  info.size = RoundUp(end, align);
}

TypeId AddRecordType(TypeTable* table, TypeKind kind, std::string_view name,
                     std::span<const MemberSpec> members) {
  const TypeId record = DeclareRecordType(table, kind, name);
  DefineRecordType(table, record, members);
  return record;
}

TypeId AddTypedef(TypeTable* table, std::string_view name, TypeId target) {
  TypeInfo info;
  info.kind = TypeKind::kTypedef;
  info.name = std::string(name);
  info.size = table->types[target].size;
  info.align = table->types[target].align;
  info.isSigned = table->types[target].isSigned;
  info.target = target;
  return Push(table, std::move(info));
}

bool FindTypeByName(const TypeTable& table, std::string_view name, TypeId* type) {
  if (name.empty()) return false;
  for (size_t i = 0; i < table.types.size(); ++i) {
    const TypeInfo& info = table.types[i];
    if (info.kind != TypeKind::kPointer && info.kind != TypeKind::kArray && info.name == name) {
      *type = static_cast<TypeId>(i);
      return true;
    }
  }
  return false;
}

TypeId ResolveTypedefs(const TypeTable& table, TypeId type) {
  // Typedefs only ever name types added before them, so the chain ends.
  while (table.types[type].kind == TypeKind::kTypedef)
    type = table.types[type].target;
  return type;
}

bool FindMember(const TypeTable& table, TypeId record, std::string_view name,
                const TypeMember** member) {
  const TypeInfo& info = table.types[ResolveTypedefs(table, record)];
  if (info.kind != TypeKind::kStruct && info.kind != TypeKind::kUnion) return false;
  for (const TypeMember& candidate : info.members) {
    if (candidate.name == name) {
      *member = &candidate;
      return true;
    }
  }
  return false;
}

bool MemberPathOffset(const TypeTable& table, TypeId record, std::string_view path,
                      uint32_t* offset, TypeId* type) {
  uint32_t total = 0;
  TypeId current = record;
  while (true) {
    const size_t dot = path.find('.');
    const TypeMember* member = nullptr;
    if (!FindMember(table, current, path.substr(0, dot), &member)) return false;
    total += member->offset;
    current = member->type;
    if (dot == std::string_view::npos) break;
    path.remove_prefix(dot + 1);
  }
  *offset = total;
  *type = current;
  return true;
}

}  // namespace model
