// Tests of the expression evaluator over a small hand-made image.
#include "model/expression_eval.h"
#include "model/target_model.h"

#include <gtest/gtest.h>

#include <string>

namespace model {
namespace {

constexpr uint32_t kNode = 0x20000000;
constexpr uint32_t kNode2 = 0x20000020;
constexpr uint32_t kList = 0x20000040;
constexpr uint32_t kCount = 0x20000050;
constexpr uint32_t kNeg = 0x20000054;

void AddVariable(TargetModel* model, const char* name, uint32_t address, const char* typeName) {
  TypeId type = 0;
  ASSERT_TRUE(FindTypeByName(model->types, typeName, &type)) << typeName;
  ASSERT_TRUE(AddSymbol(&model->symbols, Symbol{name, SymbolKind::kVariable, address,
                                                model->types.types[type].size, type}));
}

// struct NODE_STRUCT { unsigned int id; struct INNER_STRUCT { short b; char c[3]; } inner;
//                      struct NODE_STRUCT *next; unsigned int words[2]; };  typedef NODE.
void BuildImage(TargetModel* model, bool bigEndian) {
  ModelInit(model, bigEndian);
  ASSERT_TRUE(MemoryMap(&model->memory, 0x20000000, 0x100));
  TypeTable* t = &model->types;
  TypeId uint = 0, shortType = 0, charType = 0;
  ASSERT_TRUE(FindTypeByName(*t, "unsigned int", &uint));
  ASSERT_TRUE(FindTypeByName(*t, "short", &shortType));
  ASSERT_TRUE(FindTypeByName(*t, "char", &charType));
  const MemberSpec inner[] = {{"b", shortType}, {"c", AddArrayType(t, charType, 3)}};
  const TypeId innerType = AddRecordType(t, TypeKind::kStruct, "struct INNER_STRUCT", inner);
  const TypeId node = DeclareRecordType(t, TypeKind::kStruct, "struct NODE_STRUCT");
  const TypeId nodePointer = AddPointerType(t, node);
  const MemberSpec members[] = {{"id", uint},
                                {"inner", innerType},
                                {"next", nodePointer},
                                {"words", AddArrayType(t, uint, 2)}};
  DefineRecordType(t, node, members);
  const TypeId nodeTypedef = AddTypedef(t, "NODE", node);
  const TypeId list = AddArrayType(t, AddPointerType(t, nodeTypedef), 3);

  AddVariable(model, "g_node", kNode, "NODE");
  AddVariable(model, "g_node2", kNode2, "NODE");
  ASSERT_TRUE(AddSymbol(&model->symbols, Symbol{"g_list", SymbolKind::kVariable, kList, 12, list}));
  AddVariable(model, "g_count", kCount, "unsigned int");
  AddVariable(model, "g_neg", kNeg, "int");
  AddVariable(model, "g_unmapped", 0x30000000, "unsigned int");
  ASSERT_TRUE(AddSymbol(&model->symbols, Symbol{"__stack_top", SymbolKind::kLinker, 0x20001000}));
  ASSERT_TRUE(
      AddSymbol(&model->symbols, Symbol{"do_work", SymbolKind::kRoutine, 0x08000010, 0x20}));

  TargetMemory* m = &model->memory;
  ASSERT_TRUE(MemoryWriteValue(m, kNode, 4, 7));
  ASSERT_TRUE(MemoryWriteValue(m, kNode + 4, 2, 0xFFFE));
  ASSERT_TRUE(MemoryWriteValue(m, kNode + 12, 4, kNode2));
  ASSERT_TRUE(MemoryWriteValue(m, kNode + 16, 4, 0x11));
  ASSERT_TRUE(MemoryWriteValue(m, kNode + 20, 4, 0x22));
  ASSERT_TRUE(MemoryWriteValue(m, kNode2, 4, 9));
  ASSERT_TRUE(MemoryWriteValue(m, kList, 4, kNode));
  ASSERT_TRUE(MemoryWriteValue(m, kList + 4, 4, kNode2));
  ASSERT_TRUE(MemoryWriteValue(m, kCount, 4, 0x12345678));
  ASSERT_TRUE(MemoryWriteValue(m, kNeg, 4, 0xFFFFFFFB));
  ASSERT_TRUE(RegisterWrite(&model->registers, kRegPc, 0x08000014));
}

struct ValueCase {
  const char* expression;
  uint64_t expected;
};

TEST(ExpressionEval, EvaluatesTheFormsTheKernelCodeSends) {
  TargetModel model;
  BuildImage(&model, false);
  const ValueCase cases[] = {
      {"4660", 4660},
      {"0x1234", 0x1234},
      {"&((NODE *)4660)->words[1]", 4660 + 16 + 4},
      {"&((struct NODE_STRUCT *)0)->inner.c[2]", 8},
      {"&((NODE *)0)->inner", 4},
      {"sizeof(((NODE *)0)->inner)", 6},
      {"sizeof(((NODE *)0)->inner.c)", 3},
      {"sizeof(((NODE *)0)->next->id)", 4},  // sizeof reads no memory
      {"sizeof(struct INNER_STRUCT)*sizeof(char)", 6},
      {"sizeof(NODE)", 24},
      {"sizeof(unsigned int)", 4},
      {"sizeof(g_list)", 12},
      {"sizeof(g_unmapped)", 4},
      {"g_count", 0x12345678},
      {"g_neg", 0xFFFFFFFFFFFFFFFB},
      {"g_node.inner.b", 0xFFFFFFFFFFFFFFFE},
      {"&g_list[2]", kList + 8},
      {"&g_node.words[1]", kNode + 20},
      {"&g_unmapped", 0x30000000},
      {"g_list[1]->id", 9},
      {"g_node.next->id", 9},
      {"g_list[0]->next->id", 9},
      {"(*g_list[1]).id", 9},
      {"g_node.words[1]", 0x22},
      {"__stack_top", 0x20001000},
      {"&do_work", 0x08000010},
      {"do_work", 0x08000010},
      {"$pc", 0x08000014},
      {"$M_sym_exists(g_count)", 1},
      {"$M_sym_exists(nothing_here)", 0},
      {"g_count * 2 + 1 - 1", 0x2468ACF0},
      {"(unsigned char)g_count", 0x78},
      {"(NODE *)g_list[1] + 1", kNode2 + 24},
  };
  for (const ValueCase& c : cases) {
    uint64_t value = 0;
    std::string error;
    EXPECT_TRUE(ModelEvaluate(model, c.expression, &value, &error))
        << c.expression << ": " << error;
    EXPECT_EQ(c.expected, value) << c.expression;
  }
}

struct ErrorCase {
  std::string expression;
  const char* errorPart;
};

TEST(ExpressionEval, FailsWithAReadableReason) {
  TargetModel model;
  BuildImage(&model, false);
  const ErrorCase cases[] = {
      {"g_missing", "no symbol \"g_missing\""},
      {"&((NODE *)0)->missing", "no member named \"missing\""},
      {"sizeof(((NODE *)0)->inner.missing)", "no member named \"missing\""},
      {"&((struct NOPE *)0)->id", "no struct type named \"NOPE\""},
      {"sizeof(NOPE_T)", "\"NOPE_T\""},
      {"g_unmapped", "cannot access memory at address 0x30000000"},
      {"g_node", "not a scalar"},
      {"g_count +", "unexpected end"},
      {"1/0", "division by zero"},
      {"$nosuch", "no register or function named \"$nosuch\""},
      {"g_count)", "unexpected ')'"},
      {"&5", "cannot take the address"},
      {"g_count->id", "not a pointer"},
      {"g_count[1]", "cannot subscript"},
      {"@", "unexpected character"},
      {"0x", "invalid number"},
      {"99999999999999999999", "invalid number"},
      {"", "unexpected end"},
      {std::string(200, '(') + "1" + std::string(200, ')'), "nested too deeply"},
      {std::string(kMaxExpressionLength + 1, '1'), "too long"},
  };
  for (const ErrorCase& c : cases) {
    uint64_t value = 42;
    std::string error;
    EXPECT_FALSE(ModelEvaluate(model, c.expression, &value, &error)) << c.expression;
    EXPECT_NE(std::string::npos, error.find(c.errorPart)) << c.expression << " gave: " << error;
    EXPECT_EQ(42u, value) << c.expression;
  }
}

TEST(ExpressionEval, ReadsValuesInTheTargetsByteOrder) {
  TargetModel model;
  BuildImage(&model, true);
  uint64_t value = 0;
  ASSERT_TRUE(ModelEvaluate(model, "g_count", &value, nullptr));
  EXPECT_EQ(0x12345678u, value);
  ASSERT_TRUE(ModelEvaluate(model, "g_list[1]->id", &value, nullptr));
  EXPECT_EQ(9u, value);
  uint8_t first = 0;
  ASSERT_TRUE(ModelMemoryRead(model, kCount, 1, &first));
  EXPECT_EQ(0x12, first);
}

TEST(ExpressionEval, PrintsAddressesWithTheirSymbol) {
  TargetModel model;
  BuildImage(&model, false);
  const std::pair<const char*, const char*> cases[] = {
      {"`print /a &g_node.words[1]+0`", "0x20000014 <g_node+20>"},
      {"print /a do_work+0", "0x8000010 <do_work>"},
      {"$pc+0", "0x8000014 <do_work+4>"},
      {"5+0", "0x5"},
  };
  for (const auto& [expression, expected] : cases) {
    std::string text;
    std::string error;
    ASSERT_TRUE(ModelPrintAddress(model, expression, &text, &error)) << expression << error;
    EXPECT_EQ(expected, text);
  }
  std::string text = "kept";
  EXPECT_FALSE(ModelPrintAddress(model, "`print /a g_missing+0`", &text, nullptr));
  EXPECT_EQ("kept", text);
}

TEST(ExpressionEval, NamesRoutinesAtAddresses) {
  TargetModel model;
  BuildImage(&model, false);
  std::string name;
  ASSERT_TRUE(ModelRoutineAt(model, 0x08000011, &name));  // Thumb bit ignored
  EXPECT_EQ("do_work", name);
  EXPECT_FALSE(ModelRoutineAt(model, 0x08000030, &name));
  ASSERT_TRUE(ModelCurrentRoutine(model, &name));
  EXPECT_EQ("do_work", name);
  EXPECT_FALSE(ModelCallerRoutine(model, &name));  // lr 0 lies in no routine
}

}  // namespace
}  // namespace model
