#include "platform/db/dbFilterExpr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/db/dbConsts.h"
#include "platform/db/dbDataSet.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlNumber.h"
#include "platform/rtl/rtlVariant.h"

namespace zf::db {

// ---- TFilterExprWriter ----

namespace {

void Put16(std::vector<uint8_t>& aTo, size_t aAt, uint16_t aValue) {
  aTo[aAt] = static_cast<uint8_t>(aValue);
  aTo[aAt + 1] = static_cast<uint8_t>(aValue >> 8);
}

void Put32(std::vector<uint8_t>& aTo, size_t aAt, uint32_t aValue) {
  for (size_t i = 0; i < 4; ++i) aTo[aAt + i] = static_cast<uint8_t>(aValue >> (8 * i));
}

std::vector<uint8_t> LittleEndian(uint64_t aValue, size_t aSize) {
  std::vector<uint8_t> bytes(aSize);
  for (size_t i = 0; i < aSize; ++i) bytes[i] = static_cast<uint8_t>(aValue >> (8 * i));
  return bytes;
}

}  // namespace

size_t TFilterExprWriter::Node(uint32_t aClass, uint32_t aOperator, size_t aOperands) {
  const size_t at = FNodes.size();
  FNodes.resize(at + 8 + 2 * aOperands);
  Put32(FNodes, at, aClass);
  Put32(FNodes, at + 4, aOperator);
  ++FCount;
  return at;
}

// Offsets past 16 bits are cut here; Finish refuses such a blob as a whole.
void TFilterExprWriter::Patch(size_t aNode, size_t aOperand, size_t aValue) {
  Put16(FNodes, aNode + 8 + 2 * aOperand, static_cast<uint16_t>(aValue));
}

size_t TFilterExprWriter::Literal(const std::vector<uint8_t>& aBytes) {
  const size_t at = FLiterals.size();
  FLiterals.insert(FLiterals.end(), aBytes.begin(), aBytes.end());
  return at;
}

size_t TFilterExprWriter::Field(int32_t aFieldNo, const UnicodeString& aName) {
  const size_t at = Node(nodeExprField, 0, 2);
  std::vector<uint8_t> bytes;
  for (char16_t c : aName) bytes.push_back(c < 0x80 ? static_cast<uint8_t>(c) : uint8_t{'?'});
  bytes.push_back(0);
  Patch(at, 0, static_cast<size_t>(aFieldNo));
  Patch(at, 1, Literal(bytes));
  return at;
}

size_t TFilterExprWriter::Constant(uint16_t aType, const std::vector<uint8_t>& aBytes) {
  const size_t at = Node(nodeExprConst, 0, 3);
  Patch(at, 0, aType);
  Patch(at, 1, aBytes.size());
  Patch(at, 2, Literal(aBytes));
  return at;
}

std::vector<uint8_t> TFilterExprWriter::WideText(const UnicodeString& aText) {
  // A text too long for its count cannot fit a blob either: Finish refuses it.
  const size_t units = std::min<size_t>(aText.size(), 0x7FFF);
  std::vector<uint8_t> bytes(2 + 2 * units);
  Put16(bytes, 0, static_cast<uint16_t>(2 * aText.size()));
  for (size_t i = 0; i < units; ++i) Put16(bytes, 2 + 2 * i, aText[i]);
  return bytes;
}

std::vector<uint8_t> TFilterExprWriter::Int64(int64_t aValue) { return LittleEndian(static_cast<uint64_t>(aValue), 8); }

std::vector<uint8_t> TFilterExprWriter::Double(double aValue) {
  uint64_t u;
  std::memcpy(&u, &aValue, 8);
  return LittleEndian(u, 8);
}

std::vector<uint8_t> TFilterExprWriter::Bool(bool aValue) { return LittleEndian(aValue ? 1 : 0, 2); }

bool TFilterExprWriter::Finish(std::vector<uint8_t>& aBlob) const {
  const size_t total = static_cast<size_t>(ExprHeaderSize) + FNodes.size() + FLiterals.size();
  // Every node offset must fit 16 bits as well as the whole; a text constant's count likewise.
  if (total > MaxExprSize) return false;
  aBlob.assign(static_cast<size_t>(ExprHeaderSize), 0);
  Put16(aBlob, 0, 1);
  Put16(aBlob, 2, static_cast<uint16_t>(total));
  Put16(aBlob, 4, FCount);
  Put16(aBlob, 6, static_cast<uint16_t>(ExprHeaderSize));
  Put16(aBlob, 8, static_cast<uint16_t>(ExprHeaderSize + FNodes.size()));
  aBlob.insert(aBlob.end(), FNodes.begin(), FNodes.end());
  aBlob.insert(aBlob.end(), FLiterals.begin(), FLiterals.end());
  return true;
}

// ---- Parser ----

namespace {

constexpr const char16_t* kSFilterSyntax = u"Filter expression error at position %d: %s";
constexpr const char16_t* kSFilterFieldNotStored = u"Field '%s' cannot be used in a filter expression";
constexpr const char16_t* kSFilterBadValue = u"'%s' is not a valid value for field '%s'";
constexpr const char16_t* kSFilterTypeMismatch = u"Type mismatch in filter expression at position %d";
constexpr const char16_t* kSFilterNotSupported = u"Filter expressions cannot use %s (position %d)";
constexpr const char16_t* kSFilterTooDeep = u"Filter expression nests too deeply";
constexpr const char16_t* kSFilterTooLong = u"Filter expression is too long";
constexpr const char16_t* kSFilterCondition = u"Filter expression error at position %d: a condition is expected";
constexpr const char16_t* kSFilterLikePattern = u"LIKE pattern '%s' is not supported: only %%text%% is";

enum class TTok { End, Name, Text, Number, LParen, RParen, Comma, Op, Minus, Arith, Keyword, Bad };

struct TToken {
  TTok Kind = TTok::End;
  UnicodeString Text;  // name, text constant, number, keyword (upper case) or operator
  uint32_t Op = 0;     // comparison operator of TTok::Op
  int32_t Pos = 0;     // counted from 1
};

bool IsNameStart(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0x80; }
bool IsNamePart(char16_t c) { return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'$' || c == u'#'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

UnicodeString AsciiUpper(UnicodeString s) {
  for (char16_t& c : s)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return s;
}

class TLexer {
 public:
  explicit TLexer(const UnicodeString& aText) : FText(aText) {}

  TToken Next() {
    while (FAt < FText.size() && (FText[FAt] == u' ' || FText[FAt] == u'\t' || FText[FAt] == u'\r' ||
                                  FText[FAt] == u'\n'))
      ++FAt;
    TToken t;
    t.Pos = static_cast<int32_t>(FAt + 1);
    if (FAt >= FText.size()) return t;
    const char16_t c = FText[FAt];
    if (c == u'\'') {
      t.Kind = TTok::Text;
      t.Text = Quoted(u'\'', t.Pos, u"unterminated text constant");
    } else if (c == u'[' || c == u'"') {
      t.Kind = TTok::Name;
      t.Text = Quoted(c == u'[' ? u']' : u'"', t.Pos, u"unterminated field name");
      if (t.Text.empty()) Fail(t.Pos, u"empty field name");
    } else if (IsDigit(c) || (c == u'.' && FAt + 1 < FText.size() && IsDigit(FText[FAt + 1]))) {
      t.Kind = TTok::Number;
      t.Text = Number();
    } else if (IsNameStart(c)) {
      const size_t from = FAt;
      while (FAt < FText.size() && IsNamePart(FText[FAt])) ++FAt;
      t.Text = FText.substr(from, FAt - from);
      const UnicodeString up = AsciiUpper(t.Text);
      static const char16_t* const kKeywords[] = {u"AND", u"OR", u"NOT", u"IS", u"NULL", u"LIKE", u"IN",
                                                  u"TRUE", u"FALSE"};
      t.Kind = TTok::Name;
      for (const char16_t* k : kKeywords)
        if (up == k) {
          t.Kind = TTok::Keyword;
          t.Text = up;
        }
    } else {
      ++FAt;
      t.Text = UnicodeString(1, c);
      const char16_t d = FAt < FText.size() ? FText[FAt] : u'\0';
      switch (c) {
        case u'(': t.Kind = TTok::LParen; break;
        case u')': t.Kind = TTok::RParen; break;
        case u',': t.Kind = TTok::Comma; break;
        case u'-': t.Kind = TTok::Minus; break;
        case u'+': case u'*': case u'/': case u'%': case u'|': t.Kind = TTok::Arith; break;
        case u'=': Op(t, opExprEQ); break;
        case u'!':
          if (d != u'=') Fail(t.Pos, u"unexpected '!'");
          ++FAt;
          Op(t, opExprNE);
          break;
        case u'<':
          if (d == u'>' || d == u'=') ++FAt;
          Op(t, d == u'>' ? opExprNE : d == u'=' ? opExprLE : opExprLT);
          break;
        case u'>':
          if (d == u'=') ++FAt;
          Op(t, d == u'=' ? opExprGE : opExprGT);
          break;
        default: t.Kind = TTok::Bad; break;
      }
    }
    return t;
  }

  [[noreturn]] static void Fail(int32_t aPos, const UnicodeString& aWhat) {
    DatabaseErrorFmt(kSFilterSyntax, {aPos, aWhat});
  }

 private:
  static void Op(TToken& t, uint32_t aOp) {
    t.Kind = TTok::Op;
    t.Op = aOp;
  }

  // The text between aClose and the opening character at FAt; a doubled aClose stands for itself.
  UnicodeString Quoted(char16_t aClose, int32_t aPos, const char16_t* aUnterminated) {
    UnicodeString r;
    ++FAt;
    for (;;) {
      if (FAt >= FText.size()) Fail(aPos, aUnterminated);
      const char16_t c = FText[FAt++];
      if (c == aClose) {
        if (FAt < FText.size() && FText[FAt] == aClose && aClose != u']') {
          r.push_back(c);
          ++FAt;
          continue;
        }
        return r;
      }
      r.push_back(c);
    }
  }

  UnicodeString Number() {
    const size_t from = FAt;
    while (FAt < FText.size() && IsDigit(FText[FAt])) ++FAt;
    if (FAt < FText.size() && FText[FAt] == u'.') {
      ++FAt;
      while (FAt < FText.size() && IsDigit(FText[FAt])) ++FAt;
    }
    if (FAt < FText.size() && (FText[FAt] == u'e' || FText[FAt] == u'E')) {
      size_t at = FAt + 1;
      if (at < FText.size() && (FText[at] == u'+' || FText[at] == u'-')) ++at;
      if (at < FText.size() && IsDigit(FText[at])) {
        FAt = at;
        while (FAt < FText.size() && IsDigit(FText[FAt])) ++FAt;
      }
    }
    if (FAt < FText.size() && IsNamePart(FText[FAt])) Fail(static_cast<int32_t>(FAt + 1), u"malformed number");
    return FText.substr(from, FAt - from);
  }

  const UnicodeString& FText;
  size_t FAt = 0;
};

// The syntax tree of a filter text.
enum class TKind { Field, Text, Number, Bool, Null, Compare, Like, And, Or, Not, IsNull, IsNotNull, In };

struct TAst {
  TKind Kind;
  int32_t Pos = 0;
  uint32_t Op = 0;      // Compare
  UnicodeString Text;   // Field: name; Text: the text; Number: its digits
  bool Value = false;   // Bool
  std::vector<std::unique_ptr<TAst>> Kids;
};
using TAstPtr = std::unique_ptr<TAst>;

TAstPtr MakeAst(TKind aKind, int32_t aPos) {
  auto a = std::make_unique<TAst>();
  a->Kind = aKind;
  a->Pos = aPos;
  return a;
}

// Recursive descent over the grammar in the header; every level that can nest (parentheses, NOT)
// counts against MaxFilterNesting before it recurses.
class TParser {
 public:
  explicit TParser(const UnicodeString& aText) : FLexer(aText) { Advance(); }

  TAstPtr Parse() {
    TAstPtr root = Condition();
    if (FTok.Kind != TTok::End) Unexpected();
    return root;
  }

 private:
  void Advance() { FTok = FLexer.Next(); }
  bool IsKeyword(const char16_t* aWord) const { return FTok.Kind == TTok::Keyword && FTok.Text == aWord; }

  [[noreturn]] void Unexpected() const {
    if (FTok.Kind == TTok::End) TLexer::Fail(FTok.Pos, u"unexpected end of the expression");
    if (FTok.Kind == TTok::Arith || FTok.Kind == TTok::Minus)
      DatabaseErrorFmt(kSFilterNotSupported, {u"arithmetic", FTok.Pos});
    TLexer::Fail(FTok.Pos, u"unexpected '" + FTok.Text + u"'");
  }

  void Enter() {
    if (++FNesting > MaxFilterNesting) DatabaseError(kSFilterTooDeep);
  }

  // A chain of aKind: one node with every operand, operands of the same kind merged into it.
  TAstPtr Chain(TKind aKind, const char16_t* aKeyword, TAstPtr (TParser::*aNext)()) {
    TAstPtr first = (this->*aNext)();
    if (!IsKeyword(aKeyword)) return first;
    TAstPtr chain = MakeAst(aKind, FTok.Pos);
    auto add = [&](TAstPtr a) {
      if (a->Kind == aKind)
        for (auto& k : a->Kids) chain->Kids.push_back(std::move(k));
      else
        chain->Kids.push_back(std::move(a));
    };
    add(std::move(first));
    while (IsKeyword(aKeyword)) {
      Advance();
      add((this->*aNext)());
    }
    return chain;
  }

  TAstPtr Condition() { return Chain(TKind::Or, u"OR", &TParser::Term); }
  TAstPtr Term() { return Chain(TKind::And, u"AND", &TParser::Factor); }

  TAstPtr Factor() {
    if (IsKeyword(u"NOT")) {
      TAstPtr n = MakeAst(TKind::Not, FTok.Pos);
      Advance();
      Enter();
      n->Kids.push_back(Factor());
      --FNesting;
      return n;
    }
    if (FTok.Kind == TTok::LParen) {
      Advance();
      Enter();
      TAstPtr inner = Condition();
      --FNesting;
      if (FTok.Kind != TTok::RParen) {
        if (FTok.Kind == TTok::End) TLexer::Fail(FTok.Pos, u"missing ')'");
        Unexpected();
      }
      Advance();
      // "(A) = 1": a value in parentheses may still be compared.
      if (IsValue(*inner)) return Predicate(std::move(inner));
      return inner;
    }
    return Predicate(Operand());
  }

  static bool IsValue(const TAst& a) {
    return a.Kind == TKind::Field || a.Kind == TKind::Text || a.Kind == TKind::Number || a.Kind == TKind::Bool ||
           a.Kind == TKind::Null;
  }

  TAstPtr Predicate(TAstPtr aLeft) {
    const int32_t pos = FTok.Pos;
    if (FTok.Kind == TTok::Op) {
      TAstPtr c = MakeAst(TKind::Compare, pos);
      c->Op = FTok.Op;
      Advance();
      c->Kids.push_back(std::move(aLeft));
      c->Kids.push_back(Operand());
      return c;
    }
    if (IsKeyword(u"IS")) {
      Advance();
      bool negated = false;
      if (IsKeyword(u"NOT")) {
        negated = true;
        Advance();
      }
      if (!IsKeyword(u"NULL")) Unexpected();
      Advance();
      TAstPtr n = MakeAst(negated ? TKind::IsNotNull : TKind::IsNull, pos);
      n->Kids.push_back(std::move(aLeft));
      return n;
    }
    bool negated = false;
    if (IsKeyword(u"NOT")) {
      negated = true;
      Advance();
      if (!IsKeyword(u"LIKE") && !IsKeyword(u"IN")) Unexpected();
    }
    TAstPtr n;
    if (IsKeyword(u"LIKE")) {
      Advance();
      n = MakeAst(TKind::Like, pos);
      n->Kids.push_back(std::move(aLeft));
      n->Kids.push_back(Operand());
    } else if (IsKeyword(u"IN")) {
      Advance();
      if (FTok.Kind != TTok::LParen) Unexpected();
      Advance();
      n = MakeAst(TKind::In, pos);
      n->Kids.push_back(std::move(aLeft));
      for (;;) {
        n->Kids.push_back(Operand());
        if (FTok.Kind == TTok::RParen) break;
        if (FTok.Kind != TTok::Comma) Unexpected();
        Advance();
      }
      Advance();
    } else {
      if (FTok.Kind == TTok::Arith || FTok.Kind == TTok::Minus) Unexpected();
      return aLeft;  // a value standing alone; the compiler decides whether it is a condition
    }
    if (!negated) return n;
    TAstPtr no = MakeAst(TKind::Not, pos);
    no->Kids.push_back(std::move(n));
    return no;
  }

  TAstPtr Operand() {
    const int32_t pos = FTok.Pos;
    TAstPtr a;
    switch (FTok.Kind) {
      case TTok::Name:
        a = MakeAst(TKind::Field, pos);
        a->Text = FTok.Text;
        Advance();
        if (FTok.Kind == TTok::LParen) DatabaseErrorFmt(kSFilterNotSupported, {u"function " + a->Text, pos});
        return a;
      case TTok::Text:
        a = MakeAst(TKind::Text, pos);
        a->Text = FTok.Text;
        break;
      case TTok::Number:
        a = MakeAst(TKind::Number, pos);
        a->Text = FTok.Text;
        break;
      case TTok::Minus:
        Advance();
        if (FTok.Kind != TTok::Number) DatabaseErrorFmt(kSFilterNotSupported, {u"arithmetic", pos});
        a = MakeAst(TKind::Number, pos);
        a->Text = u"-" + FTok.Text;
        break;
      case TTok::Keyword:
        if (FTok.Text == u"TRUE" || FTok.Text == u"FALSE") {
          a = MakeAst(TKind::Bool, pos);
          a->Value = FTok.Text == u"TRUE";
        } else if (FTok.Text == u"NULL") {
          a = MakeAst(TKind::Null, pos);
        } else {
          Unexpected();
        }
        break;
      default: Unexpected();
    }
    Advance();
    return a;
  }

  TLexer FLexer;
  TToken FTok;
  int32_t FNesting = 0;
};

// ---- Compiling the tree into a blob ----

// What a value is compared as.
enum class TFam { Text, Integer, Float, Date, Time, DateTime, Boolean, None };

TFam FamilyOf(TFieldType aType) {
  switch (aType) {
    case ftString: case ftFixedChar: case ftWideString: case ftFixedWideChar: case ftGuid: return TFam::Text;
    case ftSmallint: case ftInteger: case ftWord: case ftAutoInc: case ftLargeint: case ftLongWord: case ftShortint:
    case ftByte:
      return TFam::Integer;
    case ftFloat: case ftCurrency: case ftBCD: case ftFMTBcd: case ftExtended: case ftSingle: return TFam::Float;
    case ftDate: return TFam::Date;
    case ftTime: return TFam::Time;
    case ftDateTime: case ftTimeStamp: return TFam::DateTime;
    case ftBoolean: return TFam::Boolean;
    default: return TFam::None;
  }
}

bool Numeric(TFam f) { return f == TFam::Integer || f == TFam::Float; }
bool Temporal(TFam f) { return f == TFam::Date || f == TFam::Time || f == TFam::DateTime; }
bool Comparable(TFam a, TFam b) {
  if (a == TFam::None || b == TFam::None) return false;
  return a == b || (Numeric(a) && Numeric(b)) || (Temporal(a) && Temporal(b));
}

class TCompiler {
 public:
  TCompiler(TFilterOptions aOptions, const TFilterFieldLookup& aFields) : FOptions(aOptions), FFields(aFields) {}

  std::vector<uint8_t> Compile(const TAst& aRoot) {
    Condition(aRoot, 1);
    std::vector<uint8_t> blob;
    if (!FWriter.Finish(blob)) DatabaseError(kSFilterTooLong);
    return blob;
  }

 private:
  // Every node written at aDepth (the root at 1) counts against MaxFilterTreeDepth.
  void Deeper(int32_t aDepth) const {
    if (aDepth > MaxFilterTreeDepth) DatabaseError(kSFilterTooDeep);
  }

  size_t Condition(const TAst& a, int32_t aDepth) {
    Deeper(aDepth);
    switch (a.Kind) {
      case TKind::And: return Balanced(a, opExprAnd, 0, a.Kids.size(), aDepth);
      case TKind::Or: return Balanced(a, opExprOr, 0, a.Kids.size(), aDepth);
      case TKind::Not: {
        const size_t node = FWriter.Node(nodeExprUnary, opExprNot, 1);
        FWriter.Patch(node, 0, Condition(*a.Kids[0], aDepth + 1));
        return node;
      }
      case TKind::IsNull: case TKind::IsNotNull: {
        const TAst& operand = *a.Kids[0];
        if (operand.Kind != TKind::Field) DatabaseErrorFmt(kSFilterTypeMismatch, {operand.Pos});
        return Blank(a.Kind == TKind::IsNull, Lookup(operand), aDepth);
      }
      case TKind::Compare: return Comparison(a.Op, *a.Kids[0], *a.Kids[1], a.Pos, aDepth);
      case TKind::Like: return Like(a, aDepth);
      case TKind::In: return InList(a, 1, a.Kids.size(), aDepth);
      case TKind::Field: {
        // A Boolean field alone holds when it is true.
        const TFilterField f = Lookup(a);
        if (FamilyOf(f.DataType) != TFam::Boolean) DatabaseErrorFmt(kSFilterCondition, {a.Pos});
        const size_t node = FWriter.Node(nodeExprBinary, opExprEQ, 2);
        FWriter.Patch(node, 0, Field(f, aDepth + 1));
        Deeper(aDepth + 1);
        FWriter.Patch(node, 1, FWriter.Constant(fldExprBool, TFilterExprWriter::Bool(true)));
        return node;
      }
      case TKind::Bool: return FWriter.Constant(fldExprBool, TFilterExprWriter::Bool(a.Value));
      default: DatabaseErrorFmt(kSFilterCondition, {a.Pos});
    }
  }

  // The chain's operands [aFrom, aTo) joined by aOp, halved at every level.
  size_t Balanced(const TAst& a, uint32_t aOp, size_t aFrom, size_t aTo, int32_t aDepth) {
    Deeper(aDepth);
    if (aTo - aFrom == 1) return Condition(*a.Kids[aFrom], aDepth);
    const size_t node = FWriter.Node(nodeExprBinary, aOp, 2);
    const size_t middle = aFrom + (aTo - aFrom) / 2;
    FWriter.Patch(node, 0, Balanced(a, aOp, aFrom, middle, aDepth + 1));
    FWriter.Patch(node, 1, Balanced(a, aOp, middle, aTo, aDepth + 1));
    return node;
  }

  // "F IN (a, b, ...)": F = a OR F = b ..., balanced like any chain.
  size_t InList(const TAst& a, size_t aFrom, size_t aTo, int32_t aDepth) {
    Deeper(aDepth);
    if (aTo - aFrom == 1) return Comparison(opExprEQ, *a.Kids[0], *a.Kids[aFrom], a.Pos, aDepth);
    const size_t node = FWriter.Node(nodeExprBinary, opExprOr, 2);
    const size_t middle = aFrom + (aTo - aFrom) / 2;
    FWriter.Patch(node, 0, InList(a, aFrom, middle, aDepth + 1));
    FWriter.Patch(node, 1, InList(a, middle, aTo, aDepth + 1));
    return node;
  }

  size_t Blank(bool aIsNull, const TFilterField& aField, int32_t aDepth) {
    const size_t node = FWriter.Node(nodeExprUnary, aIsNull ? opExprIsBlank : opExprNotBlank, 1);
    FWriter.Patch(node, 0, Field(aField, aDepth + 1));
    return node;
  }

  TFilterField Lookup(const TAst& a) {
    TFilterField f;
    if (!FFields || !FFields(a.Text, f)) DatabaseErrorFmt(kSFieldNotFound, {a.Text});
    if (f.FieldNo < 1) DatabaseErrorFmt(kSFilterFieldNotStored, {a.Text});
    if (f.Name.empty()) f.Name = a.Text;
    return f;
  }

  size_t Field(const TFilterField& f, int32_t aDepth) {
    Deeper(aDepth);
    return FWriter.Field(f.FieldNo, f.Name);
  }

  // The family a literal has when nothing else types it.
  static TFam LiteralFamily(const TAst& a) {
    switch (a.Kind) {
      case TKind::Text: return TFam::Text;
      case TKind::Number: return IsIntegerText(a.Text) ? TFam::Integer : TFam::Float;
      case TKind::Bool: return TFam::Boolean;
      default: return TFam::None;
    }
  }

  static bool IsIntegerText(const UnicodeString& s) {
    int64_t v;
    return s.find_first_of(u".eE") == UnicodeString::npos && rtl::TryStrToInt64(s, v);
  }

  // One side of a comparison.
  struct TSide {
    const TAst* Ast;
    TFilterField Field;  // for a field
    TFam Fam = TFam::None;
    bool IsField = false;
    UnicodeString Against;  // a constant: the field it is compared with, for messages
  };

  // A constant compared with a field takes the field's type.
  static void TypeConstants(TSide& l, TSide& r) {
    if (l.IsField && !r.IsField) {
      r.Fam = l.Fam;
      r.Against = l.Field.Name;
    }
    if (r.IsField && !l.IsField) {
      l.Fam = r.Fam;
      l.Against = r.Field.Name;
    }
  }

  TSide Side(const TAst& a) {
    TSide s{&a, {}, TFam::None, false, {}};
    if (a.Kind == TKind::Field) {
      s.Field = Lookup(a);
      s.Fam = FamilyOf(s.Field.DataType);
      s.IsField = true;
      if (s.Fam == TFam::None) DatabaseErrorFmt(kSFilterTypeMismatch, {a.Pos});
    } else if (a.Kind == TKind::Null) {
      s.Fam = TFam::None;
    } else {
      s.Fam = LiteralFamily(a);
    }
    return s;
  }

  size_t Comparison(uint32_t aOp, const TAst& aLeft, const TAst& aRight, int32_t aPos, int32_t aDepth) {
    Deeper(aDepth + 1);
    TSide l = Side(aLeft), r = Side(aRight);
    // "F = NULL" and "F <> NULL" ask whether F is blank.
    if (aLeft.Kind == TKind::Null || aRight.Kind == TKind::Null) {
      const TSide& other = aLeft.Kind == TKind::Null ? r : l;
      if (!other.IsField || (aOp != opExprEQ && aOp != opExprNE)) DatabaseErrorFmt(kSFilterTypeMismatch, {aPos});
      return Blank(aOp == opExprEQ, other.Field, aDepth);
    }
    TypeConstants(l, r);
    if (!Comparable(l.Fam, r.Fam)) DatabaseErrorFmt(kSFilterTypeMismatch, {aPos});
    const bool text = l.Fam == TFam::Text;
    // A text constant ending in "*" compares only the characters before it.
    UnicodeString partialText;
    uint16_t partial = 0;
    const TSide* starred = nullptr;
    if (text && !FOptions.Contains(foNoPartialCompare)) {
      for (const TSide* s : {&r, &l})
        if (!starred && s->Ast->Kind == TKind::Text && s->Ast->Text.size() > 1 && s->Ast->Text.back() == u'*') {
          starred = s;
          partialText = s->Ast->Text.substr(0, s->Ast->Text.size() - 1);
          partial = static_cast<uint16_t>(std::min<size_t>(partialText.size(), 0xFFFF));
        }
    }
    const bool ignoreCase = text && FOptions.Contains(foCaseInsensitive);
    size_t node;
    if (ignoreCase || partial > 0) {
      node = FWriter.Node(nodeExprCompare, aOp, 4);
      FWriter.Patch(node, 0, ignoreCase ? 1 : 0);
      FWriter.Patch(node, 1, partial);
      FWriter.Patch(node, 2, Value(l, starred == &l ? &partialText : nullptr, aDepth + 1));
      FWriter.Patch(node, 3, Value(r, starred == &r ? &partialText : nullptr, aDepth + 1));
    } else {
      node = FWriter.Node(nodeExprBinary, aOp, 2);
      FWriter.Patch(node, 0, Value(l, nullptr, aDepth + 1));
      FWriter.Patch(node, 1, Value(r, nullptr, aDepth + 1));
    }
    return node;
  }

  size_t Like(const TAst& a, int32_t aDepth) {
    Deeper(aDepth + 1);
    TSide l = Side(*a.Kids[0]), r = Side(*a.Kids[1]);
    TypeConstants(l, r);
    if (l.Fam != TFam::Text || r.Fam != TFam::Text) DatabaseErrorFmt(kSFilterTypeMismatch, {a.Pos});
    // The engine looks for the text anywhere: "%text%" says the same, other wildcards cannot be.
    UnicodeString pattern;
    const UnicodeString* patternPtr = nullptr;
    if (r.Ast->Kind == TKind::Text) {
      pattern = r.Ast->Text;
      if (pattern.size() >= 2 && pattern.front() == u'%' && pattern.back() == u'%')
        pattern = pattern.substr(1, pattern.size() - 2);
      if (pattern.find(u'%') != UnicodeString::npos) DatabaseErrorFmt(kSFilterLikePattern, {r.Ast->Text});
      patternPtr = &pattern;
    }
    const bool ignoreCase = FOptions.Contains(foCaseInsensitive);
    const size_t node = FWriter.Node(nodeExprCompare, opExprLike, 4);
    FWriter.Patch(node, 0, ignoreCase ? 1 : 0);
    FWriter.Patch(node, 1, 0);
    FWriter.Patch(node, 2, Value(l, nullptr, aDepth + 1));
    FWriter.Patch(node, 3, Value(r, patternPtr, aDepth + 1));
    return node;
  }

  // A field or a constant of family aSide.Fam; aText replaces a text constant's own text.
  size_t Value(const TSide& aSide, const UnicodeString* aText, int32_t aDepth) {
    Deeper(aDepth);
    if (aSide.IsField) return FWriter.Field(aSide.Field.FieldNo, aSide.Field.Name);
    const TAst& a = *aSide.Ast;
    const UnicodeString& text = aText ? *aText : a.Text;
    auto bad = [&]() -> size_t { DatabaseErrorFmt(kSFilterBadValue, {text, aSide.Against}); };
    switch (aSide.Fam) {
      case TFam::Text:
        if (a.Kind == TKind::Bool) return bad();
        return FWriter.Constant(fldExprWideString, TFilterExprWriter::WideText(text));
      case TFam::Integer: case TFam::Float: {
        if (a.Kind == TKind::Bool) return bad();
        int64_t i;
        if (text.find_first_of(u".eE") == UnicodeString::npos && rtl::TryStrToInt64(rtl::Trim(text), i))
          return FWriter.Constant(fldExprInt64, TFilterExprWriter::Int64(i));
        double d;
        if (!rtl::TryStrToFloat(rtl::Trim(text), d, PointSettings()) || !std::isfinite(d)) return bad();
        return FWriter.Constant(fldExprFloat, TFilterExprWriter::Double(d));
      }
      case TFam::Boolean: {
        bool b = a.Value;
        if (a.Kind != TKind::Bool && (a.Kind != TKind::Text || !rtl::TryStrToBool(rtl::Trim(text), b))) return bad();
        return FWriter.Constant(fldExprBool, TFilterExprWriter::Bool(b));
      }
      case TFam::Date: case TFam::Time: case TFam::DateTime: {
        rtl::TTimeStamp stamp;
        if (a.Kind != TKind::Text || !ParseDateTime(rtl::Trim(text), aSide.Fam, stamp)) return bad();
        if (aSide.Fam == TFam::Date) return FWriter.Constant(fldExprDate, Int32(stamp.Date));
        if (aSide.Fam == TFam::Time) return FWriter.Constant(fldExprTime, Int32(stamp.Time));
        return FWriter.Constant(fldExprTimeStamp,
                                TFilterExprWriter::Double(static_cast<double>(rtl::TimeStampToMSecs(stamp))));
      }
      default: return bad();
    }
  }

  static std::vector<uint8_t> Int32(int32_t aValue) {
    std::vector<uint8_t> bytes = TFilterExprWriter::Int64(aValue);
    bytes.resize(4);
    return bytes;
  }

  static const rtl::TFormatSettings& PointSettings() {
    static const rtl::TFormatSettings settings = [] {
      rtl::TFormatSettings s;
      s.DecimalSeparator = u'.';
      s.ThousandSeparator = u'\0';
      return s;
    }();
    return settings;
  }

  // "yyyy-mm-dd[ hh:nn[:ss[.zzz]]]" first, then the short date and time formats.
  static bool ParseDateTime(const UnicodeString& aText, TFam aFam, rtl::TTimeStamp& aStamp) {
    static const rtl::TFormatSettings iso = [] {
      rtl::TFormatSettings s;
      s.DateSeparator = u'-';
      s.ShortDateFormat = u"yyyy/mm/dd";
      s.TimeSeparator = u':';
      return s;
    }();
    rtl::TDateTime value;
    bool ok;
    if (aFam == TFam::Time)
      ok = rtl::TryStrToTime(aText, value, iso) || rtl::TryStrToTime(aText, value);
    else
      ok = rtl::TryStrToDateTime(aText, value, iso) || rtl::TryStrToDateTime(aText, value);
    return ok && rtl::TryDateTimeToTimeStamp(value, aStamp);
  }

  TFilterOptions FOptions;
  const TFilterFieldLookup& FFields;
  TFilterExprWriter FWriter;
};

}  // namespace

std::vector<uint8_t> ParseFilterExpression(const UnicodeString& aText, TFilterOptions aOptions,
                                           const TFilterFieldLookup& aFields) {
  if (rtl::Trim(aText).empty()) return {};
  TAstPtr root = TParser(aText).Parse();
  return TCompiler(aOptions, aFields).Compile(*root);
}

std::vector<uint8_t> ParseFilterExpression(const UnicodeString& aText, TFilterOptions aOptions,
                                           const TDataSet& aDataSet) {
  return ParseFilterExpression(aText, aOptions, [&aDataSet](const UnicodeString& aName, TFilterField& aField) {
    const TField* f = aDataSet.FindField(aName);
    if (!f) return false;
    aField.FieldNo = f->FieldKind() == fkData ? f->FieldNo() : 0;
    aField.DataType = f->DataType();
    aField.Name = f->FieldName();
    return true;
  });
}

}  // namespace zf::db
