// Structure access against a hand-made model target: member reads in either
// byte order with their element layout, delivery by kind with sign
// extension and empty-if-zero, the messages of each failure, object names
// and target texts read in pieces, priorities, and expression evaluation.
#include "kernel/structure_access.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/kernel/kernel_harness.h"

namespace kernel_test {
namespace {

constexpr std::uint32_t kRamBase = 0x20000000;
constexpr std::uint32_t kRamSize = 0x1000;
constexpr std::uint32_t kObject = 0x20000100;  // a TEST_OBJ
constexpr std::uint32_t kCore = 0x20000800;    // a struct QX_OBJECT_STRUCT
constexpr std::uint32_t kText = 0x20000900;    // where name texts go

class StructureAccess : public ModelTarget {
 public:
  // An empty target with TEST_OBJ (members of 1, 2, 4, 8, 3 and 12 bytes) and
  // an object core that has only a name.
  [[nodiscard]] bool Make(bool bigEndian) {
    Close();
    model::ModelInit(&model, bigEndian);
    model::TypeTable* types = &model.types;
    const model::TypeId uchar = Type("unsigned char");
    const model::TypeId uint = Type("unsigned int");
    const model::MemberSpec members[] = {
        {"byte", uchar},
        {"half", Type("unsigned short")},
        {"word", uint},
        {"pair", Type("unsigned long long")},
        {"three", model::AddArrayType(types, uchar, 3)},
        {"wide", model::AddArrayType(types, uint, 3)},
    };
    const model::TypeId object =
        model::AddRecordType(types, model::TypeKind::kStruct, "struct TEST_OBJ_STRUCT", members);
    model::AddTypedef(types, "TEST_OBJ", object);
    const model::MemberSpec core[] = {{"name", model::AddPointerType(types, Type("char"))}};
    model::AddRecordType(types, model::TypeKind::kStruct, "struct QX_OBJECT_STRUCT", core);
    if (!model::MemoryMap(&model.memory, kRamBase, kRamSize)) return false;
    return OpenSession();
  }

  model::TypeId Type(std::string_view name) {
    model::TypeId type = 0;
    EXPECT_TRUE(model::FindTypeByName(model.types, name, &type)) << name;
    return type;
  }

  std::uint32_t MemberAddress(std::string_view member) {
    std::uint32_t offset = 0;
    model::TypeId type = 0;
    EXPECT_TRUE(model::MemberPathOffset(model.types, Type("TEST_OBJ"), member, &offset, &type));
    return kObject + offset;
  }

  void WriteBytes(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    ASSERT_TRUE(model::ModelMemoryWrite(&model, address, bytes.size(), bytes.data()));
  }

  // ReadObjectMember of TEST_OBJ's member into a value of `kind`.
  KernelStatus Read(const char* member, OsaValue* out, MemberReadOptions options = {}) {
    return ReadObjectMember(&context, kernel, {"TEST_OBJ", kObject, member}, options, out);
  }

  // The byte counts of the memory reads sent since the last Forget().
  Texts ReadCounts() {
    Texts counts;
    for (const std::string& request : RequestsWith("OSA_Service_MemoryRead")) {
      const std::size_t at = request.find("\"count\" : ");
      counts.push_back(request.substr(at + 10, request.find_first_of(", }", at + 10) - at - 10));
    }
    return counts;
  }

  // Puts `text` (bytes as given, no NUL added) where the core's name points.
  void SetName(const std::string& text, std::uint32_t address = kText) {
    ASSERT_TRUE(WriteWord(kCore, 4, address));
    if (address != 0 && !text.empty()) {
      WriteBytes(address, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
  }

  KernelContext kernel;
};

OsaValue Value(OsaValueKind kind) {
  OsaValue value;
  value.kind = kind;
  return value;
}

struct LayoutRow {
  const char* member;
  bool bigEndian;
  std::vector<std::uint8_t> bytes;  // at the member, lowest address first
  std::uint64_t expected;
  const char* readCount;  // bytes asked of the debugger
};

TEST_F(StructureAccess, ElementLayoutFollowsTheMemberSize) {
  const LayoutRow rows[] = {
      {"half", true, {0x12, 0x34}, 0x1234, "2"},
      {"word", true, {0x11, 0x22, 0x33, 0x44}, 0x11223344, "4"},
      // 8 bytes are two 4-byte elements; the lower address is the low half.
      {"pair", false, {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}, 0x5566778811223344, "8"},
      {"pair", true, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, 0x5566778811223344, "8"},
      // 3 bytes are one element of 3 bytes.
      {"three", false, {0x11, 0x22, 0x33}, 0x332211, "3"},
      {"three", true, {0x11, 0x22, 0x33}, 0x112233, "3"},
      // Longer members: only their first 8 bytes fit the value.
      {"wide", false, {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}, 0x0000000200000001, "8"},
  };
  for (const LayoutRow& row : rows) {
    SCOPED_TRACE(std::string(row.member) + (row.bigEndian ? " big-endian" : " little-endian"));
    ASSERT_TRUE(Make(row.bigEndian));
    kernel.version = 3;
    WriteBytes(MemberAddress(row.member), row.bytes);
    OsaValue value = Value(OsaValueKind::kUInt64);
    ASSERT_EQ(Read(row.member, &value), KernelStatus::kOk);
    EXPECT_EQ(value.payload, row.expected);
    EXPECT_EQ(ReadCounts(), Texts{row.readCount});
    EXPECT_TRUE(Messages().empty());
  }
}

TEST_F(StructureAccess, UnusualSizesOnVersionOneWarnAndStillDeliver) {
  ASSERT_TRUE(Make(false));
  kernel.version = 1;
  WriteBytes(MemberAddress("three"), {0x01, 0x02, 0x03});
  OsaValue value = Value(OsaValueKind::kUInt32);
  ASSERT_EQ(Read("three", &value), KernelStatus::kOk);
  EXPECT_EQ(value.payload, 0x030201u);
  EXPECT_EQ(Messages(), Texts{"Error: Unsupported object member size\n"});

  Forget();
  ASSERT_EQ(Read("pair", &value), KernelStatus::kOk);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(StructureAccess, SignExtensionNeedsFourBytesTheFlagAndTheSetting) {
  struct Row {
    std::uint32_t setting;  // signExtendAddressFrom4BytesTo8Bytes
    bool signExtend;
    OsaValueKind kind;
    const char* member;
    std::uint64_t stored;
    std::uint64_t expected;
  };
  const Row rows[] = {
      {1, true, OsaValueKind::kUInt64, "word", 0x80000000, 0xFFFFFFFF80000000},
      {1, true, OsaValueKind::kUInt32, "word", 0x80000000, 0x80000000},
      {0, true, OsaValueKind::kUInt64, "word", 0x80000000, 0x80000000},
      {1, false, OsaValueKind::kUInt64, "word", 0x80000000, 0x80000000},
      {1, true, OsaValueKind::kUInt64, "word", 0x7FFFFFFF, 0x7FFFFFFF},
      {1, true, OsaValueKind::kUInt64, "pair", 0x80000000, 0x80000000},
  };
  ASSERT_TRUE(Make(false));
  kernel.version = 3;
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.member << row.setting << row.signExtend
                                    << static_cast<int>(row.kind) << row.stored);
    context.signExtendAddressFrom4BytesTo8Bytes = row.setting;
    ASSERT_TRUE(WriteWord(MemberAddress(row.member), row.member[0] == 'p' ? 8 : 4, row.stored));
    OsaValue value = Value(row.kind);
    ASSERT_EQ(Read(row.member, &value, {.signExtendAddress = row.signExtend}), KernelStatus::kOk);
    EXPECT_EQ(value.payload, row.expected);
  }
}

TEST_F(StructureAccess, TextFormsOfAMember) {
  struct Row {
    MemberText form;
    std::uint64_t stored;
    const char* shown;
  };
  const Row rows[] = {
      {MemberText::kHex, 0x2A, "0x2a"},          {MemberText::kHex, 0, "0x0"},
      {MemberText::kDecimal, 0x2A, "42"},        {MemberText::kDecimal, 0, "0"},
      {MemberText::kDecimalOrEmpty, 0x2A, "42"}, {MemberText::kDecimalOrEmpty, 0, ""},
  };
  ASSERT_TRUE(Make(false));
  kernel.version = 3;
  for (const Row& row : rows) {
    ASSERT_TRUE(WriteWord(MemberAddress("word"), 4, row.stored));
    OsaValue value = Value(OsaValueKind::kText);
    ASSERT_EQ(Read("word", &value, {.text = row.form}), KernelStatus::kOk);
    EXPECT_EQ(value.text, std::optional<std::string>(row.shown)) << row.stored;
  }
}

TEST_F(StructureAccess, MemberFailuresShowTheirMessageAndLeaveTheValue) {
  ASSERT_TRUE(Make(false));
  kernel.version = 3;
  struct Row {
    const char* member;
    std::uint32_t base;
    OsaValueKind kind;
    const char* message;
  };
  const Row rows[] = {
      {"missing", kObject, OsaValueKind::kUInt32, "Error: Unable to parse kernel object member\n"},
      {"word", 0x10000000, OsaValueKind::kUInt32,
       "Error: Unable to read kernel object name address\n"},
      {"word", kObject, OsaValueKind::kInt16, "Error: Unsupported object member data format\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    Forget();
    OsaValue value = Value(row.kind);
    value.payload = 77;
    EXPECT_EQ(ReadObjectMember(&context, kernel, {"TEST_OBJ", row.base, row.member}, {}, &value),
              KernelStatus::kFailed);
    EXPECT_EQ(value.payload, 77u);
    EXPECT_EQ(Messages(), Texts{row.message});
  }
}

TEST_F(StructureAccess, KernelVariableMessagesNameTheDescription) {
  ASSERT_TRUE(Make(false));
  OsaValue value = Value(OsaValueKind::kText);
  EXPECT_NE(ReadKernelVariable(&context, &value, 4, "test word", "&((TEST_OBJ *)%u)->%s", kObject,
                               "nothing"),
            KernelStatus::kOk);
  EXPECT_NE(ReadKernelVariable(&context, &value, 4, "test word", "%u", 0x10000000u),
            KernelStatus::kOk);
  // A description is shown as it is, never read as a format.
  EXPECT_NE(ReadKernelVariable(&context, &value, 4, "100% %s %n", "%u", 0x10000000u),
            KernelStatus::kOk);
  EXPECT_EQ(Messages(),
            (Texts{"Error: Unable to parse test word\n", "Error: Unable to read test word\n",
                   "Error: Unable to read 100% %s %n\n"}));
  EXPECT_EQ(value.kind, OsaValueKind::kText);

  ASSERT_TRUE(WriteWord(MemberAddress("half"), 2, 0xBEEF));
  ASSERT_EQ(
      ReadKernelVariable(&context, &value, 2, "test half", "&((TEST_OBJ *)%u)->half", kObject),
      KernelStatus::kOk);
  EXPECT_EQ(value.kind, OsaValueKind::kUInt32);
  EXPECT_EQ(value.payload, 0xBEEFu);
}

struct NameRow {
  const char* what;
  std::string stored;  // bytes at the name pointer (a NUL follows in zeroed memory)
  std::uint32_t pointer;
  std::string expected;
  std::size_t pieces;  // reads of the text
};

TEST_F(StructureAccess, NamesAreCutAtUnprintableBytesAndAt127Characters) {
  const NameRow rows[] = {
      {"null pointer", "", 0, "", 0},
      {"tab ends it", "Work\tmore", kText, "Work", 1},
      {"DEL ends it",
       "ab\x7f"
       "cd",
       kText, "ab", 1},
      {"exactly 32", std::string(32, 'n'), kText, std::string(32, 'n'), 2},
      {"200 characters", std::string(200, 'x'), kText, std::string(127, 'x'), 4},
  };
  for (const NameRow& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(Make(false));
    SetName(row.stored, row.pointer);
    OsaValue value = Value(OsaValueKind::kText);
    ASSERT_EQ(ReadObjectName(&context, kCore, &value), KernelStatus::kOk);
    EXPECT_EQ(value.text, std::optional<std::string>(row.expected));
    EXPECT_EQ(ReadCounts().size(), 1 + row.pieces);
  }
}

TEST_F(StructureAccess, AFailedPieceDiscardsTheWholeName) {
  ASSERT_TRUE(Make(false));
  // 40 letters up to the end of memory: the second piece cannot be read.
  const std::uint32_t address = kRamBase + kRamSize - 40;
  SetName(std::string(40, 'q'), address);
  OsaValue value = Value(OsaValueKind::kText);
  value.text = "kept";
  EXPECT_EQ(ReadObjectName(&context, kCore, &value), KernelStatus::kFailed);
  EXPECT_EQ(value.text, std::optional<std::string>("kept"));
  EXPECT_EQ(ReadCounts(), (Texts{"4", "32", "32"}));

  EXPECT_EQ(ReadTargetString(&context, kKernelMemorySpace, kText, 0), std::nullopt);
  OsaValue number = Value(OsaValueKind::kUInt32);
  EXPECT_EQ(ReadObjectName(&context, kCore, &number), KernelStatus::kFailed);
}

TEST_F(StructureAccess, PrioritiesAreInvertedOnVersionOneOnly) {
  ASSERT_TRUE(Make(false));
  kernel.maxPriorities = 32;
  ASSERT_TRUE(WriteWord(MemberAddress("word"), 4, 5));
  for (const std::uint32_t version : {1u, 3u}) {
    kernel.version = version;
    OsaValue number = Value(OsaValueKind::kUInt64);
    OsaValue text = Value(OsaValueKind::kText);
    ASSERT_EQ(ReadPriority(&context, kernel, {"TEST_OBJ", kObject, "word"}, &number),
              KernelStatus::kOk);
    ASSERT_EQ(ReadPriority(&context, kernel, {"TEST_OBJ", kObject, "word"}, &text),
              KernelStatus::kOk);
    EXPECT_EQ(number.payload, version == 1 ? 26u : 5u);
    EXPECT_EQ(text.text, std::to_string(number.payload));
  }
  OsaValue value = Value(OsaValueKind::kInt8);
  EXPECT_EQ(ReadPriority(&context, kernel, {"TEST_OBJ", kObject, "word"}, &value),
            KernelStatus::kFailed);
  EXPECT_EQ(Messages(), Texts{"Error: Unsupported priority data format\n"});
}

TEST_F(StructureAccess, TextEvaluationPrintsAndLongExpressionsAreCut) {
  ASSERT_TRUE(Make(false));
  OsaValue value;
  ASSERT_EQ(EvaluateFormatted(&context, &value, OsaValueKind::kText, "%u", 42u), KernelStatus::kOk);
  EXPECT_EQ(value.kind, OsaValueKind::kText);
  EXPECT_EQ(value.text, std::optional<std::string>("0x2a"));
  const auto requests = RequestsWith("OSA_Service_StringEval");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find(R"("input" : "`print /a 42+0`")"), std::string::npos) << requests[0];
  // Expressions longer than 2047 bytes are cut, not overrun.
  const std::string longName(3000, 'z');
  EXPECT_NE(EvaluateFormatted(&context, &value, OsaValueKind::kUInt32, "%s", longName.c_str()),
            KernelStatus::kOk);
  const Texts cut = RequestsWith("OSA_Service_ExpressionEval");
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_NE(cut[0].find("\"" + std::string(2047, 'z') + "\""), std::string::npos);
}

// The member expressions made without printf read as printf writes them,
// null texts and cuts at the buffer's end included.
TEST(MemberExpressions, ReadAsPrintfWritesThem) {
  const std::string longName(3000, 't');
  struct Row {
    ObjectMember member;
    std::size_t bufferSize;
  };
  const Row rows[] = {
      {{"QX_TASK", 0x20000100, "wait_timer.active.next"}, 2048},
      {{"T", 0, "m"}, 2048},
      {{"T", 4294967295u, "m"}, 2048},
      {{nullptr, 7, nullptr}, 2048},
      {{longName.c_str(), 1, "m"}, 2048},
      {{"QX_TASK", 123, "name"}, 12},
      {{"QX_TASK", 123, "name"}, 1},
  };
  for (const Row& row : rows) {
    for (const MemberExpression which : {MemberExpression::kAddress, MemberExpression::kSize}) {
      const bool address = which == MemberExpression::kAddress;
      std::vector<char> expected(row.bufferSize);
      const auto* typeName = row.member.typeName != nullptr ? row.member.typeName : "(null)";
      const auto* path = row.member.path != nullptr ? row.member.path : "(null)";
      if (address) {
        std::snprintf(expected.data(), expected.size(), "&((%s *)%u)->%s", typeName,
                      row.member.base, path);
      } else {
        std::snprintf(expected.data(), expected.size(), "sizeof(((%s *)%u)->%s)", typeName,
                      row.member.base, path);
      }
      std::vector<char> made(row.bufferSize, 'x');
      const std::size_t length = FormatMemberExpression(row.member, which, made);
      EXPECT_STREQ(made.data(), expected.data()) << address << " " << row.bufferSize;
      EXPECT_EQ(length, std::strlen(expected.data()));
    }
  }
}

}  // namespace
}  // namespace kernel_test
