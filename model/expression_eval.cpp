// Recursive-descent evaluation of C expressions over the model target: a
// tokenizer, then one function per precedence level, each bounded in depth.
#include "model/expression_eval.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace model {
namespace {

enum class TokenKind : uint8_t { kNumber, kIdent, kDollar, kPunct, kEnd };

// `text` borrows from the expression text, which outlives the parse.
struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string_view text;
  uint64_t number = 0;
};

// A type as written in the expression: `base` with `pointers` more levels of
// pointer on top, so casts and address-of never add types to the table.
struct TypeRef {
  TypeId base = 0;
  uint32_t pointers = 0;
};

// An lvalue names memory at `address`; an rvalue carries `bits`. A designator
// (routine or linker symbol) is an rvalue whose address may be taken.
struct Value {
  bool lvalue = false;
  bool designator = false;
  uint32_t address = 0;
  uint64_t bits = 0;
  TypeRef type;
};

struct Parser {
  const EvalTarget& target;
  std::vector<Token> tokens;
  size_t pos = 0;
  uint32_t depth = 0;
  uint32_t unevaluated = 0;  // inside sizeof: no memory is read
  bool readTarget = false;   // a memory or register read was tried
  std::string error;
};

bool Fail(Parser* parser, std::string text) {
  if (parser->error.empty()) parser->error = std::move(text);
  return false;
}

bool IsIdentStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool ParseNumber(std::string_view text, size_t* length, uint64_t* number) {
  size_t i = 0;
  uint64_t value = 0;
  uint32_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  const size_t digitsStart = i;
  for (; i < text.size(); ++i) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else {
      break;
    }
    if (value > (UINT64_MAX - digit) / base) return false;
    value = value * base + digit;
  }
  if (i == digitsStart) return false;
  // C integer suffixes are accepted and ignored.
  while (i < text.size() && (text[i] == 'u' || text[i] == 'U' || text[i] == 'l' || text[i] == 'L'))
    ++i;
  if (i < text.size() && IsIdentChar(text[i])) return false;
  *length = i;
  *number = value;
  return true;
}

bool Tokenize(Parser* parser, std::string_view text) {
  // Every token but the end takes a byte at least: one allocation holds them.
  parser->tokens.reserve(text.size() + 1);
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    Token token;
    if (std::isdigit(static_cast<unsigned char>(c))) {
      size_t length = 0;
      if (!ParseNumber(text.substr(i), &length, &token.number))
        return Fail(parser, "invalid number at offset " + std::to_string(i));
      token.kind = TokenKind::kNumber;
      token.text = text.substr(i, length);
      i += length;
    } else if (IsIdentStart(c) || (c == '$' && i + 1 < text.size() && IsIdentStart(text[i + 1]))) {
      const size_t start = c == '$' ? i + 1 : i;
      size_t end = start;
      while (end < text.size() && IsIdentChar(text[end]))
        ++end;
      token.kind = c == '$' ? TokenKind::kDollar : TokenKind::kIdent;
      token.text = text.substr(start, end - start);
      i = end;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '>') {
      token.kind = TokenKind::kPunct;
      token.text = text.substr(i, 2);
      i += 2;
    } else if (std::string_view("()[].&*+-/,").find(c) != std::string_view::npos) {
      token.kind = TokenKind::kPunct;
      token.text = text.substr(i, 1);
      ++i;
    } else {
      return Fail(parser, std::string("unexpected character '") + c + "' in expression");
    }
    parser->tokens.push_back(token);
  }
  parser->tokens.push_back(Token{});
  return true;
}

const Token& Peek(const Parser& parser, size_t ahead = 0) {
  const size_t index = parser.pos + ahead;
  return parser.tokens[index < parser.tokens.size() ? index : parser.tokens.size() - 1];
}

bool IsPunct(const Token& token, std::string_view punct) {
  return token.kind == TokenKind::kPunct && token.text == punct;
}

bool Accept(Parser* parser, std::string_view punct) {
  if (!IsPunct(Peek(*parser), punct)) return false;
  ++parser->pos;
  return true;
}

bool Expect(Parser* parser, std::string_view punct) {
  if (Accept(parser, punct)) return true;
  const Token& token = Peek(*parser);
  const std::string found =
      token.kind == TokenKind::kEnd ? "end of expression" : "'" + std::string(token.text) + "'";
  return Fail(parser, "expected '" + std::string(punct) + "' but found " + found);
}

const TypeTable& Types(const Parser& parser) {
  return *parser.target.types;
}

bool BaseType(Parser* parser, std::string_view name, TypeId* type) {
  if (FindTypeByName(Types(*parser), name, type)) return true;
  return Fail(parser, "no type named \"" + std::string(name) + "\"");
}

// Resolves typedefs of a written type: the table type it stands for, or none
// when it carries extra pointer levels.
const TypeInfo* Resolved(const Parser& parser, const TypeRef& type) {
  if (type.pointers != 0) return nullptr;
  return &Types(parser).types[ResolveTypedefs(Types(parser), type.base)];
}

uint32_t SizeOf(const Parser& parser, const TypeRef& type) {
  if (type.pointers != 0) return 4;
  return Types(parser).types[type.base].size;
}

bool IsPointer(const Parser& parser, const TypeRef& type) {
  const TypeInfo* info = Resolved(parser, type);
  return info == nullptr || info->kind == TypeKind::kPointer;
}

TypeRef Pointee(const Parser& parser, const TypeRef& type) {
  if (type.pointers != 0) return TypeRef{type.base, type.pointers - 1};
  return TypeRef{Resolved(parser, type)->target, 0};
}

std::string TypeText(const Parser& parser, const TypeRef& type) {
  const TypeInfo& info = Types(parser).types[type.base];
  std::string text = info.name.empty() ? "<anonymous>" : info.name;
  if (info.kind == TypeKind::kPointer) text = "pointer";
  if (info.kind == TypeKind::kArray) text = "array";
  for (uint32_t i = 0; i < type.pointers; ++i)
    text += i == 0 ? " *" : "*";
  return text;
}

// Loads the value of an lvalue; arrays decay to the address of their first
// element, designators and rvalues pass through.
bool ToRvalue(Parser* parser, const Value& value, Value* out) {
  if (!value.lvalue) {
    *out = value;
    return true;
  }
  const TypeInfo* info = Resolved(*parser, value.type);
  Value result;
  result.type = value.type;
  if (info != nullptr && info->kind == TypeKind::kArray) {
    result.bits = value.address;
    result.type = TypeRef{info->target, 1};
    *out = result;
    return true;
  }
  if (info != nullptr && info->kind != TypeKind::kBase && info->kind != TypeKind::kPointer)
    return Fail(parser, "a value of type " + TypeText(*parser, value.type) + " is not a scalar");
  const uint32_t size = SizeOf(*parser, value.type);
  uint64_t bits = 0;
  if (parser->unevaluated == 0) {
    parser->readTarget = true;
    if (size < 1 || size > 8 ||
        !MemoryReadValue(*parser->target.memory, value.address, size, &bits)) {
      char text[64];
      std::snprintf(text, sizeof text, "cannot access memory at address 0x%x", value.address);
      return Fail(parser, text);
    }
    if (info != nullptr && info->isSigned && size < 8 && (bits >> (8 * size - 1)) != 0)
      bits |= ~uint64_t{0} << (8 * size);
  }
  result.bits = bits;
  *out = result;
  return true;
}

bool ParseExpression(Parser* parser, Value* out);
bool ParseUnary(Parser* parser, Value* out);

bool Enter(Parser* parser) {
  if (++parser->depth > kMaxExpressionDepth) return Fail(parser, "expression nested too deeply");
  return true;
}

constexpr std::string_view kBaseWords[] = {"void", "char",   "short",   "int",
                                           "long", "signed", "unsigned"};

bool IsBaseWord(std::string_view word) {
  for (std::string_view candidate : kBaseWords) {
    if (candidate == word) return true;
  }
  return false;
}

// Whether the tokens at the cursor start a type name: a record keyword, a
// base type word, or a typedef that no symbol shadows.
bool AtTypeName(const Parser& parser, size_t ahead) {
  const Token& token = Peek(parser, ahead);
  if (token.kind != TokenKind::kIdent) return false;
  if (token.text == "struct" || token.text == "union" || IsBaseWord(token.text)) return true;
  TypeId type = 0;
  return FindSymbol(*parser.target.symbols, token.text) == nullptr &&
         FindTypeByName(Types(parser), token.text, &type);
}

// type-name := ("struct"|"union") ident | base-words | typedef-name, then "*"s
bool ParseTypeName(Parser* parser, TypeRef* out) {
  const Token first = Peek(*parser);
  TypeId base = 0;
  if (first.text == "struct" || first.text == "union") {
    ++parser->pos;
    const Token tag = Peek(*parser);
    if (tag.kind != TokenKind::kIdent)
      return Fail(parser, "expected a tag after '" + std::string(first.text) + "'");
    ++parser->pos;
    const std::string name = std::string(first.text) + " " + std::string(tag.text);
    TypeId found = 0;
    if (!FindTypeByName(Types(*parser), name, &found))
      return Fail(parser, "no " + std::string(first.text) + " type named \"" +
                              std::string(tag.text) + "\"");
    base = found;
  } else if (IsBaseWord(first.text)) {
    std::string words;
    while (Peek(*parser).kind == TokenKind::kIdent && IsBaseWord(Peek(*parser).text)) {
      if (!words.empty()) words += ' ';
      words += Peek(*parser).text;
      ++parser->pos;
    }
    if (words == "unsigned" || words == "signed") words += " int";
    if (words == "signed int") words = "int";
    if (!BaseType(parser, words, &base)) return false;
  } else {
    ++parser->pos;
    if (!BaseType(parser, first.text, &base)) return false;
  }
  TypeRef type{base, 0};
  while (Accept(parser, "*"))
    ++type.pointers;
  *out = type;
  return true;
}

bool LiteralValue(Parser* parser, uint64_t number, Value* out) {
  const char* name = number <= 0x7FFFFFFF   ? "int"
                     : number <= 0xFFFFFFFF ? "unsigned int"
                                            : "unsigned long long";
  Value value;
  if (!BaseType(parser, name, &value.type.base)) return false;
  value.bits = number;
  *out = value;
  return true;
}

bool ParseDollar(Parser* parser, const Token& token, Value* out) {
  if (token.text == "M_sym_exists") {
    if (!Expect(parser, "(")) return false;
    const Token name = Peek(*parser);
    if (name.kind != TokenKind::kIdent) return Fail(parser, "$M_sym_exists expects a symbol name");
    ++parser->pos;
    if (!Expect(parser, ")")) return false;
    return LiteralValue(parser, FindSymbol(*parser->target.symbols, name.text) != nullptr ? 1 : 0,
                        out);
  }
  for (uint32_t number = 0; number < kRegisterCount; ++number) {
    if (token.text != RegisterName(number)) continue;
    parser->readTarget = true;
    uint64_t bits = 0;
    if (!RegisterRead(*parser->target.registers, number, &bits))
      return Fail(parser, "cannot read register $" + std::string(token.text));
    return LiteralValue(parser, bits, out);
  }
  return Fail(parser, "no register or function named \"$" + std::string(token.text) + "\"");
}

bool ParseIdentifier(Parser* parser, const Token& token, Value* out) {
  const Symbol* symbol = FindSymbol(*parser->target.symbols, token.text);
  if (symbol == nullptr)
    return Fail(parser, "no symbol \"" + std::string(token.text) + "\" in the current context");
  Value value;
  if (symbol->kind == SymbolKind::kVariable) {
    value.lvalue = true;
    value.address = symbol->address;
    value.type = TypeRef{symbol->type, 0};
  } else {
    // Routines and linker symbols stand for their address.
    value.designator = true;
    value.bits = symbol->address;
    if (!BaseType(parser, "void", &value.type.base)) return false;
    value.type.pointers = 1;
  }
  *out = value;
  return true;
}

bool ParsePrimary(Parser* parser, Value* out) {
  const Token token = Peek(*parser);
  switch (token.kind) {
    case TokenKind::kNumber:
      ++parser->pos;
      return LiteralValue(parser, token.number, out);
    case TokenKind::kDollar:
      ++parser->pos;
      return ParseDollar(parser, token, out);
    case TokenKind::kIdent:
      ++parser->pos;
      return ParseIdentifier(parser, token, out);
    case TokenKind::kPunct:
      if (Accept(parser, "(")) return ParseExpression(parser, out) && Expect(parser, ")");
      return Fail(parser, "unexpected '" + std::string(token.text) + "'");
    case TokenKind::kEnd:
      break;
  }
  return Fail(parser, "unexpected end of expression");
}

bool SelectMember(Parser* parser, const Value& record, bool arrow, Value* out) {
  const Token name = Peek(*parser);
  if (name.kind != TokenKind::kIdent) return Fail(parser, "expected a member name");
  ++parser->pos;
  Value base = record;
  if (arrow) {
    Value pointer;
    if (!ToRvalue(parser, record, &pointer)) return false;
    if (!IsPointer(*parser, pointer.type))
      return Fail(parser, "'->' applied to a value that is not a pointer");
    base.lvalue = true;
    base.address = static_cast<uint32_t>(pointer.bits);
    base.type = Pointee(*parser, pointer.type);
  }
  const TypeInfo* info = Resolved(*parser, base.type);
  if (!base.lvalue || info == nullptr ||
      (info->kind != TypeKind::kStruct && info->kind != TypeKind::kUnion))
    return Fail(parser, "member \"" + std::string(name.text) + "\" of a value that is not a " +
                            "struct or union");
  const TypeMember* member = nullptr;
  if (!FindMember(Types(*parser), base.type.base, name.text, &member))
    return Fail(parser, "there is no member named \"" + std::string(name.text) + "\" in " +
                            TypeText(*parser, base.type));
  Value result;
  result.lvalue = true;
  result.address = base.address + member->offset;
  result.type = TypeRef{member->type, 0};
  *out = result;
  return true;
}

bool IndexValue(Parser* parser, const Value& array, Value* out) {
  Value index;
  if (!ParseExpression(parser, &index) || !Expect(parser, "]")) return false;
  Value indexValue;
  if (!ToRvalue(parser, index, &indexValue)) return false;
  Value pointer;
  if (!ToRvalue(parser, array, &pointer)) return false;
  if (!IsPointer(*parser, pointer.type))
    return Fail(parser, "cannot subscript a value that is neither array nor pointer");
  Value result;
  result.lvalue = true;
  result.type = Pointee(*parser, pointer.type);
  result.address =
      static_cast<uint32_t>(pointer.bits + indexValue.bits * SizeOf(*parser, result.type));
  *out = result;
  return true;
}

bool ParsePostfix(Parser* parser, Value* out) {
  Value value;
  if (!ParsePrimary(parser, &value)) return false;
  while (true) {
    if (Accept(parser, ".")) {
      if (!SelectMember(parser, value, false, &value)) return false;
    } else if (Accept(parser, "->")) {
      if (!SelectMember(parser, value, true, &value)) return false;
    } else if (Accept(parser, "[")) {
      if (!Enter(parser) || !IndexValue(parser, value, &value)) return false;
      --parser->depth;
    } else {
      break;
    }
  }
  *out = value;
  return true;
}

bool ParseSizeof(Parser* parser, Value* out) {
  uint32_t size = 0;
  if (IsPunct(Peek(*parser), "(") && AtTypeName(*parser, 1)) {
    ++parser->pos;
    TypeRef type;
    if (!ParseTypeName(parser, &type) || !Expect(parser, ")")) return false;
    size = SizeOf(*parser, type);
  } else {
    Value operand;
    ++parser->unevaluated;
    const bool parsed = ParseUnary(parser, &operand);
    --parser->unevaluated;
    if (!parsed) return false;
    size = SizeOf(*parser, operand.type);
  }
  Value result;
  if (!BaseType(parser, "unsigned int", &result.type.base)) return false;
  result.bits = size;
  *out = result;
  return true;
}

bool ParseUnaryInner(Parser* parser, Value* out) {
  const Token token = Peek(*parser);
  if (token.kind == TokenKind::kIdent && token.text == "sizeof") {
    ++parser->pos;
    return ParseSizeof(parser, out);
  }
  if (Accept(parser, "&")) {
    Value operand;
    if (!ParseUnary(parser, &operand)) return false;
    if (operand.designator) {
      *out = operand;
      return true;
    }
    if (!operand.lvalue) return Fail(parser, "cannot take the address of a value");
    Value result;
    result.bits = operand.address;
    result.type = TypeRef{operand.type.base, operand.type.pointers + 1};
    *out = result;
    return true;
  }
  if (Accept(parser, "*")) {
    Value operand;
    Value pointer;
    if (!ParseUnary(parser, &operand) || !ToRvalue(parser, operand, &pointer)) return false;
    if (!IsPointer(*parser, pointer.type))
      return Fail(parser, "cannot dereference a value that is not a pointer");
    Value result;
    result.lvalue = true;
    result.address = static_cast<uint32_t>(pointer.bits);
    result.type = Pointee(*parser, pointer.type);
    *out = result;
    return true;
  }
  if (Accept(parser, "-")) {
    Value operand;
    if (!ParseUnary(parser, &operand) || !ToRvalue(parser, operand, out)) return false;
    out->bits = ~out->bits + 1;
    return true;
  }
  if (IsPunct(token, "(") && AtTypeName(*parser, 1)) {
    ++parser->pos;
    {
      TypeRef type;
      Value operand;
      Value scalar;
      if (!ParseTypeName(parser, &type) || !Expect(parser, ")") || !ParseUnary(parser, &operand) ||
          !ToRvalue(parser, operand, &scalar))
        return false;
      const uint32_t size = SizeOf(*parser, type);
      Value result;
      result.type = type;
      result.bits = size >= 8 ? scalar.bits : scalar.bits & ((uint64_t{1} << (8 * size)) - 1);
      const TypeInfo* info = Resolved(*parser, type);
      if (info != nullptr && info->isSigned && size < 8 && (result.bits >> (8 * size - 1)) != 0)
        result.bits |= ~uint64_t{0} << (8 * size);
      *out = result;
      return true;
    }
  }
  return ParsePostfix(parser, out);
}

bool ParseUnary(Parser* parser, Value* out) {
  if (!Enter(parser)) return false;
  const bool parsed = ParseUnaryInner(parser, out);
  --parser->depth;
  return parsed;
}

// Binary levels keep a lone operand as it is (an lvalue stays one, so that
// "(expr)->member" and "&(expr)" work) and load operands only for arithmetic.
bool ParseProduct(Parser* parser, Value* out) {
  Value left;
  if (!ParseUnary(parser, &left)) return false;
  while (IsPunct(Peek(*parser), "*") || IsPunct(Peek(*parser), "/")) {
    const bool multiply = Peek(*parser).text == "*";
    ++parser->pos;
    Value right;
    if (!ToRvalue(parser, left, &left) || !ParseUnary(parser, &right) ||
        !ToRvalue(parser, right, &right))
      return false;
    if (!multiply && right.bits == 0) return Fail(parser, "division by zero");
    left.bits = multiply ? left.bits * right.bits : left.bits / right.bits;
    left.designator = false;
  }
  *out = left;
  return true;
}

bool ParseSum(Parser* parser, Value* out) {
  Value left;
  if (!ParseProduct(parser, &left)) return false;
  while (IsPunct(Peek(*parser), "+") || IsPunct(Peek(*parser), "-")) {
    const bool add = Peek(*parser).text == "+";
    ++parser->pos;
    Value right;
    if (!ToRvalue(parser, left, &left) || !ParseProduct(parser, &right) ||
        !ToRvalue(parser, right, &right))
      return false;
    // Pointer arithmetic scales by the pointee's size, as in C.
    const bool pointer = IsPointer(*parser, left.type);
    const uint64_t scale = pointer ? SizeOf(*parser, Pointee(*parser, left.type)) : 1;
    left.bits = add ? left.bits + right.bits * scale : left.bits - right.bits * scale;
    if (pointer) left.bits &= 0xFFFFFFFF;
    left.designator = false;
  }
  *out = left;
  return true;
}

bool ParseExpression(Parser* parser, Value* out) {
  if (!Enter(parser)) return false;
  const bool parsed = ParseSum(parser, out);
  --parser->depth;
  return parsed;
}

}  // namespace

bool EvaluateExpression(const EvalTarget& target, std::string_view text, uint64_t* value,
                        std::string* error, bool* readTarget) {
  Parser parser{target, {}, 0, 0, 0, false, {}};
  Value result;
  bool ok = false;
  if (text.size() > kMaxExpressionLength) {
    Fail(&parser, "expression too long");
  } else if (Tokenize(&parser, text) && ParseExpression(&parser, &result) &&
             ToRvalue(&parser, result, &result)) {
    if (Peek(parser).kind != TokenKind::kEnd) {
      Fail(&parser, "unexpected '" + std::string(Peek(parser).text) + "' after the expression");
    } else {
      ok = true;
    }
  }
  if (readTarget != nullptr) *readTarget = parser.readTarget;
  if (!ok) {
    if (error != nullptr)
      *error = parser.error.empty() ? "cannot evaluate expression" : parser.error;
    return false;
  }
  *value = result.bits;
  return true;
}

}  // namespace model
