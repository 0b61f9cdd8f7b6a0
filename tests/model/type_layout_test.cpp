// Tests of C type layouts: natural alignment, unions, arrays, typedefs and
// incomplete records completed later.
#include "model/type_layout.h"

#include <gtest/gtest.h>

namespace model {
namespace {

TypeId Named(const TypeTable& table, const char* name) {
  TypeId type = 0;
  EXPECT_TRUE(FindTypeByName(table, name, &type)) << name;
  return type;
}

TEST(TypeLayout, LaysOutMembersWithNaturalAlignment) {
  TypeTable table;
  TypeTableInit(&table);
  const TypeId charType = Named(table, "char");
  const TypeId shortType = Named(table, "short");
  const TypeId uint = Named(table, "unsigned int");
  const TypeId wide = Named(table, "unsigned long long");
  const MemberSpec unionMembers[] = {{"word", uint}, {"bytes", AddArrayType(&table, charType, 6)}};
  const TypeId unionType = AddRecordType(&table, TypeKind::kUnion, "union U", unionMembers);
  EXPECT_EQ(8u, table.types[unionType].size);  // 6 rounded up to the word's alignment
  const TypeId self = DeclareRecordType(&table, TypeKind::kStruct, "struct S");
  const MemberSpec members[] = {{"c", charType},   {"i", uint},
                                {"s", shortType},  {"u", unionType},
                                {"w", wide},       {"next", AddPointerType(&table, self)},
                                {"tail", charType}};
  DefineRecordType(&table, self, members);
  const TypeId alias = AddTypedef(&table, "S_T", self);

  struct Case {
    const char* path;
    uint32_t offset;
  };
  const Case cases[] = {{"c", 0},        {"i", 4},  {"s", 8},     {"u", 12},
                        {"u.bytes", 12}, {"w", 24}, {"next", 32}, {"tail", 36}};
  for (const Case& c : cases) {
    uint32_t offset = 0;
    TypeId type = 0;
    ASSERT_TRUE(MemberPathOffset(table, alias, c.path, &offset, &type)) << c.path;
    EXPECT_EQ(c.offset, offset) << c.path;
  }
  EXPECT_EQ(40u, table.types[alias].size);
  EXPECT_EQ(8u, table.types[alias].align);
  EXPECT_EQ(self, ResolveTypedefs(table, alias));
  EXPECT_EQ(alias, Named(table, "S_T"));
  EXPECT_EQ(self, Named(table, "struct S"));
  uint32_t offset = 0;
  TypeId type = 0;
  EXPECT_FALSE(MemberPathOffset(table, alias, "u.missing", &offset, &type));
  EXPECT_FALSE(MemberPathOffset(table, alias, "c.deeper", &offset, &type));
  EXPECT_FALSE(FindTypeByName(table, "S", &type));  // a tag needs its keyword
}

}  // namespace
}  // namespace model
