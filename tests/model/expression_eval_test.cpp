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

  const struct {
    uint32_t address, size;
    uint64_t value;
  } words[] = {{kNode, 4, 7},         {kNode + 4, 2, 0xFFFE}, {kNode + 12, 4, kNode2},
               {kNode + 16, 4, 0x11}, {kNode + 20, 4, 0x22},  {kNode2, 4, 9},
               {kList, 4, kNode},     {kList + 4, 4, kNode2}, {kCount, 4, 0x12345678},
               {kNeg, 4, 0xFFFFFFFB}};
  for (const auto& w : words)
    ASSERT_TRUE(MemoryWriteValue(&model->memory, w.address, w.size, w.value));
  ASSERT_TRUE(RegisterWrite(&model->registers, kRegPc, 0x08000014));
}

struct ValueCase {
  const char* expression;
  uint64_t expected;
};

// Both byte orders: values are read in the target's order.
TEST(ExpressionEval, EvaluatesTheFormsTheKernelCodeSends) {
  const ValueCase cases[] = {
      {"0x1234", 0x1234},
      {"&((NODE *)4660)->words[1]", 4660 + 16 + 4},
      {"&((struct NODE_STRUCT *)0)->inner.c[2]", 8},
      {"sizeof(((NODE *)0)->inner)", 6},
      {"sizeof(((NODE *)0)->next->id)", 4},  // sizeof reads no memory
      {"sizeof(struct INNER_STRUCT)*sizeof(char)", 6},
      {"sizeof(NODE)", 24},
      {"sizeof(g_list)", 12},
      {"g_count", 0x12345678},
      {"g_neg", 0xFFFFFFFFFFFFFFFB},
      {"g_node.inner.b", 0xFFFFFFFFFFFFFFFE},
      {"&g_list[2]", kList + 8},
      {"&g_unmapped", 0x30000000},
      {"g_list[0]->next->id", 9},
      {"(*g_list[1]).id", 9},
      {"g_node.words[1]", 0x22},
      {"__stack_top", 0x20001000},
      {"do_work", 0x08000010},
      {"$pc", 0x08000014},
      {"$M_sym_exists(g_count)", 1},
      {"$M_sym_exists(nothing_here)", 0},
      {"g_count * 2 + 1 - 1", 0x2468ACF0},
      {"(unsigned char)g_count", 0x78},
      {"(NODE *)g_list[1] + 1", kNode2 + 24},
  };
  for (const bool bigEndian : {false, true}) {
    TargetModel model;
    BuildImage(&model, bigEndian);
    for (const ValueCase& c : cases) {
      uint64_t value = 0;
      std::string error;
      EXPECT_TRUE(ModelEvaluate(model, c.expression, &value, &error))
          << c.expression << ": " << error;
      EXPECT_EQ(c.expected, value) << c.expression << (bigEndian ? " (big-endian)" : "");
    }
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

// Only an answer that read no memory or register may be kept for the next
// time the same text is asked; a tried read counts even when it failed.
TEST(ExpressionEval, TellsWhetherItReadTargetState) {
  TargetModel model;
  BuildImage(&model, false);
  const std::pair<const char*, bool> cases[] = {
      {"sizeof(((NODE *)0)->next->id)", false},
      {"&g_list[2]", false},
      {"$M_sym_exists(g_count)", false},
      {"g_missing", false},
      {"g_count", true},
      {"g_unmapped", true},
      {"&g_list[0]->next", true},
      {"$pc", true},
  };
  for (const auto& [expression, reads] : cases) {
    uint64_t value = 0;
    bool readTarget = !reads;
    (void)ModelEvaluate(model, expression, &value, nullptr, &readTarget);
    EXPECT_EQ(reads, readTarget) << expression;
  }
}

TEST(ExpressionEval, PrintsAddressesWithTheirSymbolAndNamesRoutines) {
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
    ASSERT_TRUE(ModelPrintAddress(model, expression, &text, nullptr)) << expression;
    EXPECT_EQ(expected, text);
  }
  std::string text = "kept";
  EXPECT_FALSE(ModelPrintAddress(model, "`print /a g_missing+0`", &text, nullptr));
  EXPECT_EQ("kept", text);
  ASSERT_TRUE(ModelRoutineAt(model, 0x08000011, &text));  // Thumb bit ignored
  EXPECT_EQ("do_work", text);
  EXPECT_FALSE(ModelRoutineAt(model, 0x08000030, &text));
  EXPECT_FALSE(ModelCallerRoutine(model, &text));  // lr 0 lies in no routine

  // With a backing (a live target) pc and lr come from it, not from values.
  model.registers.backing.read = [](void*, uint32_t number, uint32_t* value) {
    *value = number == kRegLr ? 0x08000011 : 0;
    return true;
  };
  ASSERT_TRUE(ModelCallerRoutine(model, &text));
  EXPECT_EQ("do_work", text);
  model.registers.backing.read = [](void*, uint32_t, uint32_t*) { return false; };
  EXPECT_FALSE(ModelCurrentRoutine(model, &text));
}

}  // namespace
}  // namespace model
