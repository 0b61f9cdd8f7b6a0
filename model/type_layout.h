// C type layouts of the target's debug information: base types, pointers,
// arrays, structs, unions and typedefs, with offsets and sizes computed by
// natural alignment for a 32-bit target (pointers are 4 bytes).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace model {

using TypeId = uint32_t;  // index into TypeTable::types

enum class TypeKind : uint8_t { kBase, kVoid, kStruct, kUnion, kArray, kPointer, kTypedef };

struct TypeMember {
  std::string name;
  TypeId type = 0;
  uint32_t offset = 0;
};

// One type. `target` is the pointee, the element or the aliased type; `count`
// the element count of an array. Records are named with their keyword
// ("struct QX_OBJECT_STRUCT"); anonymous records have an empty name.
struct TypeInfo {
  TypeKind kind = TypeKind::kBase;
  std::string name;
  uint32_t size = 0;
  uint32_t align = 1;
  bool isSigned = false;
  TypeId target = 0;
  uint32_t count = 0;
  std::vector<TypeMember> members;
};

struct TypeTable {
  std::vector<TypeInfo> types;
};

struct MemberSpec {
  std::string_view name;
  TypeId type;
};

// Fills an empty table with void and the C base types of a 32-bit target
// ("char", "unsigned int", "long long", ...).
void TypeTableInit(TypeTable* table);

TypeId AddBaseType(TypeTable* table, std::string_view name, uint32_t size, bool isSigned);
// Returns the existing pointer type to `target` when there is one.
TypeId AddPointerType(TypeTable* table, TypeId target);
TypeId AddArrayType(TypeTable* table, TypeId element, uint32_t count);
// `kind` is kStruct or kUnion; members are laid out in order (a union puts
// every member at offset 0).
TypeId AddRecordType(TypeTable* table, TypeKind kind, std::string_view name,
                     std::span<const MemberSpec> members);
TypeId AddTypedef(TypeTable* table, std::string_view name, TypeId target);

// An incomplete struct or union that pointers may name before it is defined,
// then its definition (members laid out as by AddRecordType). Typedefs of it
// must be added after the definition so that they take its size.
TypeId DeclareRecordType(TypeTable* table, TypeKind kind, std::string_view name);
void DefineRecordType(TypeTable* table, TypeId record, std::span<const MemberSpec> members);

// A named type: a base type, a typedef or a record with its keyword.
[[nodiscard]] bool FindTypeByName(const TypeTable& table, std::string_view name, TypeId* type);

// The type behind any chain of typedefs.
TypeId ResolveTypedefs(const TypeTable& table, TypeId type);

// A direct member of a struct or union (typedefs are looked through).
[[nodiscard]] bool FindMember(const TypeTable& table, TypeId record, std::string_view name,
                              const TypeMember** member);

// Offset of a member path such as "core.u.pending.mask" (no indices) and the
// member's type; for layouts that the builder and the tests compute.
[[nodiscard]] bool MemberPathOffset(const TypeTable& table, TypeId record, std::string_view path,
                                    uint32_t* offset, TypeId* type);

}  // namespace model
