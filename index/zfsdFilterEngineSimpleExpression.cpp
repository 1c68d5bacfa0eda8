#include "index/zfsdFilterEngineSimpleExpression.h"

#include <cmath>
#include <cstring>
#include <string>

#include "dictionary/zfsdFieldBytes.h"
#include "dictionary/zfsdFmtBcd.h"
#include "dictionary/zfsdTypes.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"
#include "foundation/zfllWideString.h"
#include "platform/locale/locCollation.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlGuid.h"
#include "platform/rtl/rtlNumber.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {

constexpr uint32_t kSystemDefaultLocale = 0x800;
constexpr double kMsPerDay = 86400000.0;
constexpr double kTimeDay = 693594.0;  // the day a time of day lies on

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void Put16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}

[[noreturn]] void RaiseDamaged(const char16_t* aWhat) {
  throw EzfSimpleExpressionFilterEngineException(zfErrInvalidFilter, u"Damaged filter expression: %s",
                                                 {UnicodeString(aWhat)});
}

// ---- Descriptor stream helpers ----

[[noreturn]] void RaiseIncompatible() { throw EzfSimpleExpressionFilterDescriptorException(zfErrIncompatibleStream); }

bool TryRead(rtl::TStream& aStream, void* aBuffer, int64_t aCount) {
  return aCount <= 0 || aStream.Read(aBuffer, static_cast<int32_t>(aCount)) == aCount;
}

// ---- Evaluation ----

// The value of one operand while a comparison is evaluated.
struct TOperand {
  uint16_t DataType = 0;      // a constant's data type, or the field's TzfFieldType
  uint16_t Size = 0;
  const uint8_t* Value = nullptr;
  uint16_t CodePage = 0;
  bool IsNull = false;
  bool IsConstant = false;
  size_t Avail = 0;           // bytes of a constant's value inside the blob
  bool HasValue = false;      // a field or a constant filled it (other nodes give no value)
};

enum class TFamily { Integer, Float, DateTime, Boolean, Bytes, Text, None };

TFamily FamilyOf(const TOperand& v) {
  if (v.IsConstant) {
    switch (v.DataType) {
      case fldZSTRING: case fldWIDESTRING: return TFamily::Text;
      case fldDATE: case fldTIME: case fldTIMESTAMP: return TFamily::DateTime;
      case fldBOOL: return TFamily::Boolean;
      case fldINT16: case fldINT32: case fldUINT16: case fldUINT32: case fldINT64: return TFamily::Integer;
      case fldFLOAT: case fldFLOATIEEE: case fldSINGLE: return TFamily::Float;
      default: return TFamily::Bytes;
    }
  }
  switch (static_cast<TzfFieldType>(v.DataType)) {
    case zftBoolean: return TFamily::Boolean;
    case zftByte: case zftWord16: case zftWord32: case zftInt8: case zftInt16: case zftInt32: case zftInt64:
    case zftAutoInc: case zftRecRev:
      return TFamily::Integer;
    case zftSingle: case zftDouble: case zftExtended: case zftCurrency: case zftBCD: case zftFmtBCD:
      return TFamily::Float;
    case zftDate: case zftTime: case zftDateTime: case zftInterval: return TFamily::DateTime;
    case zftBlob: case zftBlobMemo: case zftBlobGraphic: case zftByteArray: case zftBlobWideMemo:
      return TFamily::Bytes;
    case zftChar: case zftWideChar: case zftShortString: case zftNullString: case zftWideString: case zftGuid:
      return TFamily::Text;
    default: return TFamily::None;
  }
}

// Fixed-size constants must lie inside the blob.
const uint8_t* Need(const TOperand& v, size_t aBytes) {
  if (v.IsConstant && v.Avail < aBytes) RaiseDamaged(u"constant beyond the blob");
  return v.Value;
}

int64_t ReadInteger(const TOperand& v) {
  if (v.IsConstant) {
    switch (v.DataType) {
      case fldINT16: return zfLoadField<int16_t>(Need(v, 2));
      case fldINT32: return zfLoadField<int32_t>(Need(v, 4));
      case fldUINT16: return zfLoadField<uint16_t>(Need(v, 2));
      case fldUINT32: return zfLoadField<uint32_t>(Need(v, 4));
      default: return zfLoadField<int64_t>(Need(v, 8));
    }
  }
  switch (static_cast<TzfFieldType>(v.DataType)) {
    case zftByte: return v.Value[0];
    case zftWord16: return zfLoadField<uint16_t>(v.Value);
    case zftWord32: case zftAutoInc: case zftRecRev: return zfLoadField<uint32_t>(v.Value);
    case zftInt8: return static_cast<int8_t>(v.Value[0]);
    case zftInt16: return zfLoadField<int16_t>(v.Value);
    case zftInt32: return zfLoadField<int32_t>(v.Value);
    default: return zfLoadField<int64_t>(v.Value);
  }
}

long double ReadFloat(const TOperand& v) {
  if (v.IsConstant) {
    switch (v.DataType) {
      case fldFLOAT: return zfLoadField<double>(Need(v, 8));
      case fldFLOATIEEE: return rtl::ExtendedFromBytes(Need(v, 10));
      default: return zfLoadField<float>(Need(v, 4));
    }
  }
  switch (static_cast<TzfFieldType>(v.DataType)) {
    case zftSingle: return zfLoadField<float>(v.Value);
    case zftDouble: return zfLoadField<double>(v.Value);
    case zftExtended: return rtl::ExtendedFromBytes(v.Value);
    case zftCurrency: case zftBCD: return static_cast<long double>(zfLoadField<int64_t>(v.Value)) / 10000.0L;
    default: {  // FmtBCD: its units are the digits
      rtl::TBcd bcd;
      const int32_t len = (v.Size + 1) / 2 + 2;
      if (!zfFmtBcdFromBytes(v.Value, len, bcd)) return NAN;
      return rtl::BcdToFloat(bcd);
    }
  }
}

double ReadDateTime(const TOperand& v) {
  if (v.IsConstant) {
    switch (v.DataType) {
      case fldDATE: return zfLoadField<int32_t>(Need(v, 4)) * kMsPerDay;
      case fldTIME: return kTimeDay * kMsPerDay + zfLoadField<int32_t>(Need(v, 4));
      default: return zfLoadField<double>(Need(v, 8));
    }
  }
  switch (static_cast<TzfFieldType>(v.DataType)) {
    case zftDate: return zfLoadField<int32_t>(v.Value) * kMsPerDay;
    case zftTime: return kTimeDay * kMsPerDay + zfLoadField<int32_t>(v.Value);
    default: return zfLoadField<double>(v.Value);
  }
}

bool ReadBoolean(const TOperand& v) {
  if (v.IsConstant) return zfLoadField<uint16_t>(Need(v, 2)) != 0;
  return v.Value[0] != 0;
}

// Three-way order of reals in which NaN sorts after every number and equals NaN: a total order,
// so a damaged value never makes a comparison both true and false.
template <typename T>
int RealCompare(T a, T b) {
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
  return a < b ? -1 : (b < a ? 1 : 0);
}

template <typename T>
int Compare3(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

size_t ZeroTerminated(const uint8_t* p, size_t aMax) {
  size_t n = 0;
  while (n < aMax && p[n] != 0) ++n;
  return n;
}

UnicodeString ReadText(const TOperand& v) {
  UnicodeString r;
  auto bytes = [&](const uint8_t* p, size_t n) {
    zfStringToWideString(std::string_view(reinterpret_cast<const char*>(p), n), v.CodePage, r);
  };
  if (v.IsConstant) {
    if (v.DataType == fldWIDESTRING) {
      const uint16_t count = zfLoadField<uint16_t>(Need(v, 2));
      if (size_t{count} + 2 > v.Avail) RaiseDamaged(u"constant beyond the blob");
      const size_t units = count / 2;
      r.resize(units);
      for (size_t i = 0; i < units; ++i) r[i] = static_cast<char16_t>(Get16(v.Value + 2 + 2 * i));
      return r;
    }
    const size_t n = ZeroTerminated(v.Value, v.Avail);
    if (n == v.Avail) RaiseDamaged(u"text constant without terminator");
    bytes(v.Value, n);
    return r;
  }
  switch (static_cast<TzfFieldType>(v.DataType)) {
    case zftChar: case zftShortString: bytes(v.Value, v.Size); break;
    case zftNullString: bytes(v.Value, ZeroTerminated(v.Value, v.Size)); break;
    case zftWideChar: {
      const char16_t c = static_cast<char16_t>(Get16(v.Value));
      if (c != 0) r.push_back(c);
      break;
    }
    case zftWideString:
      for (size_t i = 0; i < v.Size; ++i) {
        const char16_t c = static_cast<char16_t>(Get16(v.Value + 2 * i));
        if (c == 0) break;
        r.push_back(c);
      }
      break;
    case zftGuid: r = rtl::GUIDToString(rtl::GUIDFromBytes(v.Value)); break;
    default: break;
  }
  return r;
}

UnicodeString Lower(const UnicodeString& s) {
  UnicodeString r;
  if (s.empty() || !locale::LCMapStringW(kSystemDefaultLocale, locale::LCMAP_LOWERCASE, s, r)) return s;
  return r;
}

int CompareW(uint32_t aFlags, const UnicodeString& a, const UnicodeString& b) {
  const int r = locale::CompareStringW(kSystemDefaultLocale, aFlags, a, b);
  if (r == 0) zfRaiseLastOSError(u"CompareStringW");
  return r - 2;
}

// The node visits one evaluation may make: a blob whose nodes form a tree has at most one node per
// byte, however they are laid out, so its full evaluation fits; one whose operands name shared nodes
// (or itself) would double its work at every level and is refused instead.
size_t WorkBudget(const TzfCANExpr& aBlob) { return aBlob.size(); }

// Every 1024 node visits a long evaluation looks at the thread's deadline and cancel flag.
constexpr size_t kVisitsPerTimeoutCheck = 1024;

// Walks every node that an evaluation can reach, both operands of every AND, OR and comparison,
// counting visits; more than the budget refuses the blob. Nodes outside the blob and nesting past
// the limit end the walk there: the evaluation reports them if it ever reaches them.
class TWorkCounter {
 public:
  explicit TWorkCounter(const TzfCANExpr& aBlob) : FBlob(aBlob), FBudget(WorkBudget(aBlob)) {}

  void Check() {
    if (FBlob.size() < static_cast<size_t>(zfExpressionHeaderSize)) return;
    FNodeStart = Get16(FBlob.data() + 6);
    Walk(0, 0);
  }

 private:
  const uint8_t* Node(uint32_t aNode, size_t aOperands) const {
    const size_t at = size_t{FNodeStart} + aNode;
    return at + 8 + 2 * aOperands > FBlob.size() ? nullptr : FBlob.data() + at;
  }

  void Walk(uint32_t aNode, int32_t aDepth) {
    if (aDepth > zfMaxExpressionDepth) return;
    if (++FVisits > FBudget) RaiseDamaged(u"evaluation too long");
    const uint8_t* head = Node(aNode, 0);
    if (!head) return;
    switch (Get32(head)) {
      case nodeUNARY:
        if (const uint8_t* n = Node(aNode, 1)) Walk(Get16(n + 8), aDepth + 1);
        break;
      case nodeBINARY:
        if (const uint8_t* n = Node(aNode, 2)) {
          Walk(Get16(n + 8), aDepth + 1);
          Walk(Get16(n + 10), aDepth + 1);
        }
        break;
      case nodeCOMPARE:
        if (const uint8_t* n = Node(aNode, 4)) {
          Walk(Get16(n + 12), aDepth + 1);
          Walk(Get16(n + 14), aDepth + 1);
        }
        break;
      default: break;
    }
  }

  const TzfCANExpr& FBlob;
  const size_t FBudget;
  size_t FVisits = 0;
  uint16_t FNodeStart = 0;
};

class TEvaluator {
 public:
  TEvaluator(const TzfCANExpr& aBlob, IzfFieldsSource& aSource, const uint8_t* aBuffer, uint16_t aCodePage)
      : FBlob(aBlob), FSource(aSource), FBuffer(aBuffer), FCodePage(aCodePage) {
    if (FBlob.size() < static_cast<size_t>(zfExpressionHeaderSize)) RaiseDamaged(u"header beyond the blob");
    FNodeStart = Get16(FBlob.data() + 6);
    FLiteralStart = Get16(FBlob.data() + 8);
  }

  bool Root() { return Eval(0, nullptr, 0); }

 private:
  // The node at node offset aNode with aOperands operand words.
  const uint8_t* Node(uint32_t aNode, size_t aOperands) {
    const size_t at = size_t{FNodeStart} + aNode;
    if (at + 8 + 2 * aOperands > FBlob.size()) RaiseDamaged(u"node beyond the blob");
    return FBlob.data() + at;
  }
  const uint8_t* Literal(uint16_t aOffset, size_t& aAvail) {
    const size_t at = size_t{FLiteralStart} + aOffset;
    if (at >= FBlob.size()) RaiseDamaged(u"literal beyond the blob");
    aAvail = FBlob.size() - at;
    return FBlob.data() + at;
  }

  bool Eval(uint32_t aNode, TOperand* aValue, int32_t aDepth) {
    if (aDepth > zfMaxExpressionDepth) RaiseDamaged(u"nesting too deep");
    if (++FVisits > FBudget) RaiseDamaged(u"evaluation too long");
    if (FVisits % kVisitsPerTimeoutCheck == 0) zfCheckTimeout();
    if (aValue) *aValue = TOperand();
    const uint8_t* head = Node(aNode, 0);
    const uint32_t cls = Get32(head);
    const uint32_t op = Get32(head + 4);
    switch (cls) {
      case nodeUNARY: {
        const uint8_t* n = Node(aNode, 1);
        TOperand v;
        if (Eval(Get16(n + 8), &v, aDepth + 1)) {
          if (op == canISBLANK) return v.IsNull;
          if (op == canNOTBLANK) return !v.IsNull;
          return false;
        }
        return op == canNOT;
      }
      case nodeBINARY: {
        const uint8_t* n = Node(aNode, 2);
        const uint16_t left = Get16(n + 8), right = Get16(n + 10);
        if (op == canAND) return Eval(left, nullptr, aDepth + 1) && Eval(right, nullptr, aDepth + 1);
        if (op == canOR) return Eval(left, nullptr, aDepth + 1) || Eval(right, nullptr, aDepth + 1);
        return Comparison(op, left, right, false, 0, aDepth);
      }
      case nodeCOMPARE: {
        const uint8_t* n = Node(aNode, 4);
        return Comparison(op, Get16(n + 12), Get16(n + 14), Get16(n + 8) != 0, Get16(n + 10), aDepth);
      }
      case nodeFIELD: {
        const uint8_t* n = Node(aNode, 2);
        const uint16_t number = Get16(n + 8);
        if (!aValue) return number != 0 && number <= FSource.GetFieldCount();
        size_t avail = 0;
        const uint8_t* name = Literal(Get16(n + 10), avail);
        const size_t len = ZeroTerminated(name, avail);
        if (len == avail) RaiseDamaged(u"field name without terminator");
        const std::string fieldName(reinterpret_cast<const char*>(name), len);
        aValue->CodePage = 0;
        const bool ok = FSource.GetFieldForFilter(static_cast<int32_t>(number) - 1, fieldName.c_str(), FBuffer,
                                                  aValue->DataType, aValue->Size, aValue->IsNull, aValue->Value,
                                                  aValue->CodePage);
        // A value that is neither null nor anywhere cannot be read.
        aValue->HasValue = ok && (aValue->IsNull || aValue->Value);
        return ok;
      }
      case nodeCONST: {
        const uint8_t* n = Node(aNode, 3);
        TOperand v;
        v.DataType = Get16(n + 8);
        v.Size = Get16(n + 10);
        v.Value = Literal(Get16(n + 12), v.Avail);
        v.CodePage = FCodePage;
        v.IsConstant = true;
        v.HasValue = true;
        if (aValue) {
          *aValue = v;
          return true;
        }
        // A constant standing alone as a condition: a Boolean gives its value, anything else fails.
        return v.DataType == fldBOOL && ReadBoolean(v);
      }
      case nodeCONTINUE: return Get16(Node(aNode, 1) + 8) != 0;
      default: return false;
    }
  }

  bool Comparison(uint32_t aOp, uint16_t aLeft, uint16_t aRight, bool aIgnoreCase, uint16_t aPartial,
                  int32_t aDepth) {
    TOperand l, r;
    if (!Eval(aLeft, &l, aDepth + 1) || !Eval(aRight, &r, aDepth + 1)) return false;
    // Only fields and constants are values: a comparison of conditions is false.
    if (!l.HasValue || !r.HasValue) return false;
    int cmp;
    if (l.IsNull || r.IsNull) {
      cmp = l.IsNull == r.IsNull ? 0 : (l.IsNull ? -1 : 1);
    } else if (!CompareValues(aOp, l, r, aIgnoreCase, aPartial, cmp)) {
      return false;
    }
    switch (aOp) {
      case canEQ: case canLIKE: return cmp == 0;
      case canNE: return cmp != 0;
      case canGT: return cmp > 0;
      case canLT: return cmp < 0;
      case canGE: return cmp >= 0;
      case canLE: return cmp <= 0;
      default: return false;
    }
  }

  // False when the two operands cannot be compared (different kinds of value).
  bool CompareValues(uint32_t aOp, const TOperand& l, const TOperand& r, bool aIgnoreCase, uint16_t aPartial,
                     int& aCmp) {
    const TFamily fl = FamilyOf(l), fr = FamilyOf(r);
    auto numeric = [](TFamily f) { return f == TFamily::Integer || f == TFamily::Float; };
    if (fl == TFamily::Integer && fr == TFamily::Integer) {
      aCmp = Compare3(ReadInteger(l), ReadInteger(r));
      return true;
    }
    if (numeric(fl) && numeric(fr)) {
      auto read = [](const TOperand& v, TFamily f) {
        return f == TFamily::Integer ? static_cast<long double>(ReadInteger(v)) : ReadFloat(v);
      };
      aCmp = RealCompare(read(l, fl), read(r, fr));
      return true;
    }
    if (fl != fr || fl == TFamily::None) return false;
    switch (fl) {
      case TFamily::DateTime: aCmp = RealCompare(ReadDateTime(l), ReadDateTime(r)); return true;
      case TFamily::Boolean: aCmp = Compare3(ReadBoolean(l), ReadBoolean(r)); return true;
      case TFamily::Bytes: {
        const size_t n = std::min(BytesSize(l), BytesSize(r));
        const int c = n == 0 ? 0 : std::memcmp(Need(l, n), Need(r, n), n);
        aCmp = c < 0 ? -1 : (c > 0 ? 1 : 0);
        return true;
      }
      case TFamily::Text: aCmp = CompareText(aOp, ReadText(l), ReadText(r), aIgnoreCase, aPartial); return true;
      default: return false;
    }
  }

  static size_t BytesSize(const TOperand& v) {
    if (v.IsConstant) return v.Size;
    switch (static_cast<TzfFieldType>(v.DataType)) {
      case zftBlob: case zftBlobMemo: case zftBlobGraphic: case zftBlobWideMemo: return 8;  // the BLOB number
      default: return v.Size;
    }
  }

  static int CompareText(uint32_t aOp, UnicodeString a, UnicodeString b, bool aIgnoreCase, uint16_t aPartial) {
    if (aOp == canLIKE) {
      if (aIgnoreCase) {
        a = Lower(a);
        b = Lower(b);
      }
      return zfWideStrPosCompare(a.c_str(), b.c_str()) == 0 ? 0 : 1;
    }
    if (aPartial > 0) {
      if (a.size() > aPartial) a.resize(aPartial);
      if (b.size() > aPartial) b.resize(aPartial);
    }
    if (aIgnoreCase) return CompareW(locale::NORM_IGNORECASE, a, b);
    if (aOp == canGT || aOp == canLT || aOp == canGE || aOp == canLE) return CompareW(0, a, b);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int c = a.empty() ? 0 : std::memcmp(a.data(), b.data(), a.size() * 2);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }

  const TzfCANExpr& FBlob;
  IzfFieldsSource& FSource;
  const uint8_t* FBuffer;
  uint16_t FCodePage;
  uint16_t FNodeStart = 0;
  uint16_t FLiteralStart = 0;
  const size_t FBudget = WorkBudget(FBlob);
  size_t FVisits = 0;
};

}  // namespace

void zfCheckExpressionWork(const TzfCANExpr& aExpression) { TWorkCounter(aExpression).Check(); }

bool zfEvaluateExpression(const TzfCANExpr& aExpression, IzfFieldsSource& aFieldsSource, const uint8_t* aBuffer,
                          uint16_t aCodePage) {
  if (aExpression.empty()) return true;
  return TEvaluator(aExpression, aFieldsSource, aBuffer, aCodePage).Root();
}

// ---- Descriptors ----

const TzfFilterDescriptorClass& TzfBaseSimpleExpressionFilterDescriptor::ClassInfo() {
  static const TzfFilterDescriptorClass info(
      u"TzfBaseSimpleExpressionFilterDescriptor", &TzfBaseFilterDescriptor::ClassInfo(),
      [](rtl::TStream&) -> std::unique_ptr<TzfBaseFilterDescriptor> {
        throw EzfBaseException(zfErrNotSupported, u"%s can not be created from a stream",
                               {UnicodeString(u"TzfBaseSimpleExpressionFilterDescriptor")});
      });
  return info;
}

TzfBaseSimpleExpressionFilterDescriptor::TzfBaseSimpleExpressionFilterDescriptor(const uint8_t* aExpression,
                                                                                 int32_t aCodePage,
                                                                                 UnicodeString aFilterText)
    : bsfdCodePage(aCodePage), bsfdFilterText(std::move(aFilterText)) {
  if (!aExpression) return;
  const uint16_t total = Get16(aExpression + 2);
  bsfdExpression.assign(aExpression, aExpression + total);
}

const TzfFilterDescriptorClass& TzfSimpleExpressionFilterDescriptor::ClassInfo() {
  static const TzfFilterDescriptorClass info(u"TzfSimpleExpressionFilterDescriptor",
                                             &TzfBaseSimpleExpressionFilterDescriptor::ClassInfo(),
                                             &TzfSimpleExpressionFilterDescriptor::CreateStreamed);
  return info;
}

std::unique_ptr<TzfBaseFilterDescriptor> TzfSimpleExpressionFilterDescriptor::CreateStreamed(rtl::TStream& aStream) {
  uint8_t version = 0;
  if (!TryRead(aStream, &version, 1) || version < 1 || version > 4) RaiseIncompatible();
  uint8_t raw[4];
  if (!TryRead(aStream, raw, 2)) RaiseIncompatible();
  TzfCANExpr blob(Get16(raw));
  if (!blob.empty()) aStream.ReadBuffer(blob.data(), static_cast<int64_t>(blob.size()));
  UnicodeString text;
  int32_t codePage = -1;
  if (version >= 2) {
    if (!TryRead(aStream, raw, 2)) RaiseIncompatible();
    const uint16_t t = Get16(raw);
    if (version == 2) {
      std::string ansi(t, '\0');
      if (!TryRead(aStream, ansi.data(), t)) RaiseIncompatible();
      zfStringToWideString(ansi, 0, text);
    } else {
      std::string units(size_t{t} * 2, '\0');
      if (!TryRead(aStream, units.data(), static_cast<int64_t>(units.size()))) RaiseIncompatible();
      text.resize(t);
      for (size_t i = 0; i < t; ++i) text[i] = static_cast<char16_t>(Get16(reinterpret_cast<uint8_t*>(&units[2 * i])));
    }
    if (version == 4) {
      if (!TryRead(aStream, raw, 4)) RaiseIncompatible();
      codePage = static_cast<int32_t>(Get32(raw));
    }
  }
  return std::make_unique<TzfSimpleExpressionFilterDescriptor>(std::move(blob), codePage, std::move(text));
}

uint32_t TzfSimpleExpressionFilterDescriptor::WriteToStream(rtl::TStream& aStream, int32_t aVersion) {
  if (bsfdExpression.size() > 0xFFFF || bsfdFilterText.size() > 0xFFFF)
    return EzfBaseException::zfSetMessage(zfErrInvalidParam, u"Filter expression too long to be stored");
  uint8_t version = 1;
  if (aVersion > 30001 && bsfdCodePage >= 0) version = 4;
  else if (!bsfdFilterText.empty()) version = 3;
  std::string body;
  body.push_back(static_cast<char>(version));
  Put16(body, static_cast<uint16_t>(bsfdExpression.size()));
  body.append(reinterpret_cast<const char*>(bsfdExpression.data()), bsfdExpression.size());
  if (version >= 3) {
    Put16(body, static_cast<uint16_t>(bsfdFilterText.size()));
    for (char16_t c : bsfdFilterText) Put16(body, c);
  }
  if (version == 4) {
    const uint32_t cp = static_cast<uint32_t>(bsfdCodePage);
    Put16(body, static_cast<uint16_t>(cp & 0xFFFF));
    Put16(body, static_cast<uint16_t>(cp >> 16));
  }
  WriteClassName(aStream);
  aStream.WriteBuffer(body.data(), static_cast<int64_t>(body.size()));
  return zfErrNone;
}

// ---- Engine ----

const TzfFilterEngineClass& TzfSimpleExpressionFilterEngine::ClassInfo() {
  static const TzfFilterEngineClass info(
      u"TzfSimpleExpressionFilterEngine", &TzfBaseFilterEngine::ClassInfo(),
      [](TzfBaseFilterDescriptor* d, IzfFieldsSource* s) -> std::unique_ptr<TzfBaseFilterEngine> {
        return std::make_unique<TzfSimpleExpressionFilterEngine>(d, s);
      });
  return info;
}

TzfSimpleExpressionFilterEngine::TzfSimpleExpressionFilterEngine(TzfBaseFilterDescriptor* aDescriptor,
                                                                 IzfFieldsSource* aFieldsSource)
    : TzfBaseFilterEngine(aDescriptor, aFieldsSource) {
  auto* d = dynamic_cast<TzfSimpleExpressionFilterDescriptor*>(aDescriptor);
  if (!d) throw rtl::EInvalidCast(u"Invalid class typecast");
  sfeExpression = d->bsfdExpression;
  sfeFilterText = d->bsfdFilterText;
  sfeHasCodePage = d->bsfdCodePage >= 0;
  sfeCodePage = static_cast<uint16_t>(sfeHasCodePage ? d->bsfdCodePage : zfDefaultCodePage);
  zfCheckExpressionWork(sfeExpression);
}

void TzfSimpleExpressionFilterEngine::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfBaseFilterEngine::AddExceptionData(aContainer);
  if (!sfeFilterText.empty()) aContainer.AddString(u"FilterText", sfeFilterText);
  if (sfeHasCodePage) aContainer.AddInteger(u"CodePage", sfeCodePage);
}

std::unique_ptr<TzfBaseFilterDescriptor> TzfSimpleExpressionFilterEngine::CreateDescriptor() {
  return std::make_unique<TzfSimpleExpressionFilterDescriptor>(sfeExpression, sfeHasCodePage ? sfeCodePage : -1,
                                                               sfeFilterText);
}

bool TzfSimpleExpressionFilterEngine::MatchesBuffer(const uint8_t* aBuffer) {
  if (!IsActive() || sfeExpression.empty()) return true;
  if (!bfFieldsSource) return false;
  return zfEvaluateExpression(sfeExpression, *bfFieldsSource, aBuffer, sfeCodePage);
}

namespace {

void Start() {
  TzfBaseFilterDescriptor::RegisterFilterDescriptor(TzfSimpleExpressionFilterDescriptor::ClassInfo());
  TzfBaseFilterEngine::RegisterFilterEngine(TzfSimpleExpressionFilterEngine::ClassInfo());
}

void Stop() {
  TzfBaseFilterEngine::UnregisterFilterEngine(TzfSimpleExpressionFilterEngine::ClassInfo());
  TzfBaseFilterDescriptor::UnregisterFilterDescriptor(TzfSimpleExpressionFilterDescriptor::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdFilterEngineSimpleExpressionUnit() {
  static rtl::TUnitInit unit("zfsdFilterEngineSimpleExpression", &Start, &Stop);
  return unit;
}

}  // namespace zf
