#include "foundation/zfllStreamsRW.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstring>
#include <exception>

#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

using rtl::UnicodeString;
using rtl::UnicodeStringView;

static_assert(std::endian::native == std::endian::little, "stored numbers are copied as little-endian");
static_assert(LDBL_MANT_DIG == 64, "long double must be the 80-bit extended format");

namespace {

constexpr int kExtendedSize = 10;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// True when the text holds a surrogate that is not part of a pair: UTF-8 cannot carry it.
bool HasLoneSurrogate(UnicodeStringView s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(s[i]) || IsLowSurrogate(s[i])) {
      return true;
    }
  }
  return false;
}

[[noreturn]] void StreamReadError() { throw rtl::EReadError(kSReadError); }

// 8-bit text of the tags vaString and vaLString is in the system's ANSI code page.
UnicodeString AnsiBytesToString(std::string_view aBytes) {
  return rtl::AnsiToUnicode(rtl::AnsiString(std::string(aBytes), rtl::CP_ACP));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TzfWriter

TzfWriter::TzfWriter(rtl::TStream& aStream) : FStream(aStream) {}

TzfWriter::~TzfWriter() noexcept(false) {
  if (std::uncaught_exceptions() > 0) {
    try {
      FlushBuffer();
    } catch (...) {
      // the exception already in flight is the one the caller sees
    }
  } else {
    FlushBuffer();
  }
}

void TzfWriter::FlushBuffer() {
  int32_t n = FBufPos;
  FBufPos = 0;
  if (n > 0) FStream.WriteBuffer(FBuffer, n);
}

void TzfWriter::Write(const void* aBuffer, int64_t aCount) {
  if (aCount <= 0) return;
  auto* p = static_cast<const uint8_t*>(aBuffer);
  while (aCount > 0) {
    if (FBufPos == kBufferSize) FlushBuffer();
    if (FBufPos == 0 && aCount >= kBufferSize) {
      FStream.WriteBuffer(p, aCount);
      return;
    }
    auto n = static_cast<int32_t>(std::min<int64_t>(aCount, kBufferSize - FBufPos));
    std::memcpy(FBuffer + FBufPos, p, static_cast<size_t>(n));
    FBufPos += n;
    p += n;
    aCount -= n;
  }
}

void TzfWriter::WriteValue(TValueType aValue) {
  uint8_t b = aValue;
  Write(&b, 1);
}

void TzfWriter::WriteInt32Raw(int32_t aValue) { Write(&aValue, 4); }

void TzfWriter::WriteInteger(int32_t aValue) {
  if (aValue >= -128 && aValue <= 127) {
    WriteValue(vaInt8);
    auto v = static_cast<int8_t>(aValue);
    Write(&v, 1);
  } else if (aValue >= -32768 && aValue <= 32767) {
    WriteValue(vaInt16);
    auto v = static_cast<int16_t>(aValue);
    Write(&v, 2);
  } else {
    WriteValue(vaInt32);
    WriteInt32Raw(aValue);
  }
}

void TzfWriter::WriteInteger(int64_t aValue) {
  if (aValue >= INT32_MIN && aValue <= INT32_MAX) {
    WriteInteger(static_cast<int32_t>(aValue));
  } else {
    WriteValue(vaInt64);
    Write(&aValue, 8);
  }
}

void TzfWriter::WriteBoolean(bool aValue) { WriteValue(aValue ? vaTrue : vaFalse); }

void TzfWriter::WriteLengthString(TValueType aShort, TValueType aLong, std::string_view aBytes) {
  if (aBytes.size() <= 255) {
    WriteValue(aShort);
    auto n = static_cast<uint8_t>(aBytes.size());
    Write(&n, 1);
  } else {
    const int32_t n = rtl::RangeChecked<int32_t>(aBytes.size());
    WriteValue(aLong);
    WriteInt32Raw(n);
  }
  Write(aBytes.data(), static_cast<int64_t>(aBytes.size()));
}

void TzfWriter::WriteString(UnicodeStringView aValue) {
  // The 8-bit forms are chosen only when they are shorter than the UTF-16 form. A text with a
  // lone surrogate always goes as UTF-16, the only form that keeps it.
  std::string u = rtl::Utf16ToUtf8(aValue);
  if (u.size() < 2 * aValue.size() && !HasLoneSurrogate(aValue)) {
    bool high = std::any_of(u.begin(), u.end(), [](char c) { return static_cast<uint8_t>(c) >= 0x80; });
    if (high) {
      const int32_t n = rtl::RangeChecked<int32_t>(u.size());
      WriteValue(vaUTF8String);
      WriteInt32Raw(n);
      Write(u.data(), n);
    } else {
      WriteLengthString(vaString, vaLString, u);
    }
  } else {
    WriteWideString(aValue);
  }
}

void TzfWriter::WriteIdent(UnicodeStringView aValue) {
  if (rtl::SameText(aValue, u"False")) return WriteValue(vaFalse);
  if (rtl::SameText(aValue, u"True")) return WriteValue(vaTrue);
  if (rtl::SameText(aValue, u"Null")) return WriteValue(vaNull);
  if (rtl::SameText(aValue, u"nil")) return WriteValue(vaNil);
  std::string u = rtl::Utf16ToUtf8(aValue);
  if (u.size() > 255) {
    // Cut to 255 bytes without leaving a partial character behind.
    size_t n = 255;
    while (n > 0 && (static_cast<uint8_t>(u[n]) & 0xC0) == 0x80) --n;
    u.resize(n);
  }
  WriteValue(vaIdent);
  auto n = static_cast<uint8_t>(u.size());
  Write(&n, 1);
  Write(u.data(), n);
}

void TzfWriter::WriteFloat(long double aValue) {
  WriteValue(vaExtended);
  uint8_t raw[sizeof(long double)] = {};
  std::memcpy(raw, &aValue, sizeof aValue);
  Write(raw, kExtendedSize);
}

void TzfWriter::WriteSingle(float aValue) {
  WriteValue(vaSingle);
  Write(&aValue, 4);
}

void TzfWriter::WriteDouble(double aValue) {
  WriteValue(vaDouble);
  Write(&aValue, 8);
}

void TzfWriter::WriteCurrency(int64_t aScaledValue) {
  WriteValue(vaCurrency);
  Write(&aScaledValue, 8);
}

void TzfWriter::WriteDate(double aValue) {
  WriteValue(vaDate);
  Write(&aValue, 8);
}

void TzfWriter::WriteWideString(UnicodeStringView aValue) {
  // The count is an Int32 of UTF-16 units: a longer text is refused before anything is written,
  // and its byte count (up to 4 GiB) is counted in 64 bits.
  const int32_t n = rtl::RangeChecked<int32_t>(aValue.size());
  WriteValue(vaWString);
  WriteInt32Raw(n);
  Write(aValue.data(), int64_t{n} * 2);
}

void TzfWriter::WriteAnsiString(const rtl::AnsiString& aValue) {
  // Raw bytes carry no code page to convert from: they go as they are, as in the string stream.
  const uint16_t cp = aValue.CodePage();
  if (cp == rtl::CP_RAWBYTES || rtl::ResolveCodePage(cp) == rtl::ResolveCodePage(rtl::CP_ACP)) {
    WriteLengthString(vaString, vaLString, aValue.View());
  } else {
    WriteLengthString(vaString, vaLString, rtl::UnicodeToAnsi(rtl::AnsiToUnicode(aValue)).View());
  }
}

void TzfWriter::WriteAnsiChar(char aValue) { WriteLengthString(vaString, vaLString, std::string_view(&aValue, 1)); }

void TzfWriter::WriteStrings(const std::vector<UnicodeString>& aStrings) {
  WriteListBegin();
  for (const auto& s : aStrings) WriteString(s);
  WriteListEnd();
}

void TzfWriter::WriteWideStrings(const std::vector<UnicodeString>& aStrings) {
  WriteListBegin();
  for (const auto& s : aStrings) WriteWideString(s);
  WriteListEnd();
}

void TzfWriter::WriteAnsiStrings(const std::vector<UnicodeString>& aStrings) {
  WriteListBegin();
  for (const auto& s : aStrings) WriteAnsiString(rtl::UnicodeToAnsi(s));
  WriteListEnd();
}

void TzfWriter::WriteBinary(const void* aValue, int32_t aSize) {
  if (aSize < 0) rtl::RaiseRangeError();
  WriteValue(vaBinary);
  WriteInt32Raw(aSize);
  Write(aValue, aSize);
}

void TzfWriter::WriteBytes(const std::vector<uint8_t>& aBytes) {
  WriteBinary(aBytes.data(), rtl::RangeChecked<int32_t>(aBytes.size()));
}

void TzfWriter::WriteGuid(const rtl::TGUID& aValue) {
  uint8_t raw[16];
  std::memcpy(raw, &aValue.D1, 4);
  std::memcpy(raw + 4, &aValue.D2, 2);
  std::memcpy(raw + 6, &aValue.D3, 2);
  std::memcpy(raw + 8, aValue.D4, 8);
  WriteBinary(raw, 16);
}

void TzfWriter::WriteVariant(const rtl::Variant& aValue) {
  const rtl::TVarType t = aValue.VarType();
  if (t & rtl::varArray) throw rtl::EWriteError(kSWriteError);
  switch (t) {
    case rtl::varEmpty: return WriteValue(vaNil);
    case rtl::varNull: return WriteValue(vaNull);
    case rtl::varShortInt: case rtl::varByte: case rtl::varSmallint: case rtl::varWord:
    case rtl::varInteger: case rtl::varLongWord: case rtl::varInt64:
      return WriteInteger(aValue.RawInt());
    case rtl::varSingle: return WriteSingle(static_cast<float>(aValue.RawDouble()));
    case rtl::varDouble: return WriteFloat(aValue.RawDouble());
    case rtl::varCurrency: return WriteCurrency(aValue.RawInt());
    case rtl::varDate: return WriteDate(aValue.RawDouble());
    case rtl::varBoolean: return WriteBoolean(aValue.RawInt() != 0);
    case rtl::varOleStr: case rtl::varUString: return WriteString(aValue.RawString());
    default: break;
  }
  UnicodeString text;
  try {
    text = aValue.AsString();
  } catch (const rtl::Exception&) {
    throw rtl::EWriteError(kSWriteError);
  }
  WriteString(text);
}

// ---------------------------------------------------------------------------------------------
// TzfReader

TzfReader::TzfReader(rtl::TStream& aStream) : FStream(aStream) {}

TzfReader::~TzfReader() {
  int32_t left = FBufEnd - FBufPos;
  if (left > 0) {
    try {
      FStream.Seek(-left, rtl::TSeekOrigin::soCurrent);
    } catch (...) {
      // a stream that cannot seek back simply stays where the buffer left it
    }
  }
}

void TzfReader::PropValueError() { throw rtl::EReadError(kSInvalidPropertyValue); }

bool TzfReader::FillBuffer() {
  if (FBufPos < FBufEnd) return true;
  int32_t n = FStream.Read(FBuffer, kBufferSize);
  FBufPos = 0;
  FBufEnd = n > 0 ? n : 0;
  return FBufEnd > 0;
}

int64_t TzfReader::BytesLeft() {
  int64_t inStream = FStream.GetSize() - FStream.GetPosition();
  return (FBufEnd - FBufPos) + std::max<int64_t>(inStream, 0);
}

void TzfReader::Read(void* aBuffer, int64_t aCount) {
  if (aCount <= 0) return;
  auto* p = static_cast<uint8_t*>(aBuffer);
  auto n = static_cast<int32_t>(std::min<int64_t>(aCount, FBufEnd - FBufPos));
  if (n > 0) {
    std::memcpy(p, FBuffer + FBufPos, static_cast<size_t>(n));
    FBufPos += n;
    p += n;
    aCount -= n;
  }
  if (aCount == 0) return;
  if (aCount >= kBufferSize) {
    FStream.ReadBuffer(p, aCount);
    return;
  }
  while (aCount > 0) {
    if (!FillBuffer()) StreamReadError();
    n = static_cast<int32_t>(std::min<int64_t>(aCount, FBufEnd - FBufPos));
    std::memcpy(p, FBuffer + FBufPos, static_cast<size_t>(n));
    FBufPos += n;
    p += n;
    aCount -= n;
  }
}

uint8_t TzfReader::ReadByte() {
  if (!FillBuffer()) StreamReadError();
  return FBuffer[FBufPos++];
}

int32_t TzfReader::ReadInt32Raw() {
  int32_t v;
  Read(&v, 4);
  return v;
}

int32_t TzfReader::ReadCount(int32_t aItemSize) {
  int32_t n = ReadInt32Raw();
  if (n < 0) PropValueError();
  int64_t bytes = int64_t{n} * aItemSize;
  if (bytes > FBufEnd - FBufPos && bytes > BytesLeft()) StreamReadError();
  return n;
}

std::string TzfReader::ReadBytesString(int32_t aCount) {
  std::string s(static_cast<size_t>(aCount), '\0');
  Read(s.data(), aCount);
  return s;
}

void TzfReader::SkipBytes(int64_t aCount) {
  int64_t n = std::min<int64_t>(aCount, FBufEnd - FBufPos);
  FBufPos += static_cast<int32_t>(n);
  aCount -= n;
  if (aCount <= 0) return;
  int64_t inStream = FStream.GetSize() - FStream.GetPosition();
  if (aCount > inStream) {
    FStream.Seek(0, rtl::TSeekOrigin::soEnd);
    StreamReadError();
  }
  FStream.Seek(aCount, rtl::TSeekOrigin::soCurrent);
}

TValueType TzfReader::ReadValue() { return static_cast<TValueType>(ReadByte()); }

TValueType TzfReader::NextValue() {
  if (!FillBuffer()) StreamReadError();
  return static_cast<TValueType>(FBuffer[FBufPos]);
}

template <typename T>
bool TzfReader::ReadFixed(TValueType aTag, T& aValue) {
  if (NextValue() != aTag) return false;
  ReadValue();
  Read(&aValue, sizeof(T));
  return true;
}

void TzfReader::CheckValue(TValueType aValue) {
  TValueType v = ReadValue();
  if (v != aValue) {
    SkipPayload(v);
    PropValueError();
  }
}

void TzfReader::SkipValue() { SkipPayload(ReadValue()); }

// Skips the payload of a value whose tag was consumed. Lists and collections are walked with an
// explicit stack, so deep nesting in a damaged stream costs memory in proportion to its bytes,
// never call depth.
void TzfReader::SkipPayload(TValueType aValue) {
  enum Frame : uint8_t { fList, fCollection, fItem };
  std::vector<Frame> stack;
  TValueType v = aValue;
  for (;;) {
    switch (v) {
      case vaNull: case vaFalse: case vaTrue: case vaNil: break;
      case vaList: stack.push_back(fList); break;
      case vaCollection: stack.push_back(fCollection); break;
      case vaInt8: SkipBytes(1); break;
      case vaInt16: SkipBytes(2); break;
      case vaInt32: case vaSingle: SkipBytes(4); break;
      case vaExtended: SkipBytes(kExtendedSize); break;
      case vaCurrency: case vaDate: case vaInt64: case vaDouble: SkipBytes(8); break;
      case vaString: case vaIdent: SkipBytes(ReadByte()); break;
      case vaBinary: case vaLString: case vaUTF8String: SkipBytes(ReadCount(1)); break;
      case vaWString: SkipBytes(int64_t{ReadCount(2)} * 2); break;
      case vaSet:
        for (uint8_t n = ReadByte(); n != 0; n = ReadByte()) SkipBytes(n);
        break;
      default: PropValueError();
    }
    // Find the next value to skip inside the innermost open list, collection or item.
    for (;;) {
      if (stack.empty()) return;
      Frame f = stack.back();
      if (f == fList) {
        v = ReadValue();
        if (v == vaNull) { stack.pop_back(); continue; }
        break;
      }
      if (f == fCollection) {
        TValueType t = ReadValue();
        if (t == vaNull) { stack.pop_back(); continue; }
        if (t == vaInt8 || t == vaInt16 || t == vaInt32) {
          SkipPayload(t);
          t = ReadValue();
        }
        if (t != vaList) PropValueError();
        stack.push_back(fItem);
        continue;
      }
      // fItem: properties, each a name (length byte and characters) and one value, up to an
      // empty name (the vaNull byte).
      uint8_t n = ReadByte();
      if (n == 0) { stack.pop_back(); continue; }
      SkipBytes(n);
      v = ReadValue();
      break;
    }
  }
}

int32_t TzfReader::ReadInteger() {
  switch (ReadValue()) {
    case vaInt8: { int8_t v; Read(&v, 1); return v; }
    case vaInt16: { int16_t v; Read(&v, 2); return v; }
    case vaInt32: return ReadInt32Raw();
    default: PropValueError();
  }
}

int64_t TzfReader::ReadInt64() {
  int64_t v;
  return ReadFixed(vaInt64, v) ? v : ReadInteger();
}

bool TzfReader::ReadBoolean() { return ReadValue() == vaTrue; }

UnicodeString TzfReader::ReadStringOf(TValueType aValue) {
  switch (aValue) {
    case vaString: return AnsiBytesToString(ReadBytesString(ReadByte()));
    case vaLString: return AnsiBytesToString(ReadBytesString(ReadCount(1)));
    case vaUTF8String: return rtl::Utf8ToUtf16(ReadBytesString(ReadCount(1)));
    case vaWString: {
      int32_t n = ReadCount(2);
      UnicodeString s(static_cast<size_t>(n), u'\0');
      Read(s.data(), int64_t{n} * 2);
      return s;
    }
    default: PropValueError();
  }
}

UnicodeString TzfReader::ReadString() { return ReadStringOf(ReadValue()); }

UnicodeString TzfReader::ReadWideString() { return ReadStringOf(ReadValue()); }

UnicodeString TzfReader::ReadIdent() {
  switch (ReadValue()) {
    case vaIdent: return rtl::Utf8ToUtf16(ReadBytesString(ReadByte()));
    case vaFalse: return u"False";
    case vaTrue: return u"True";
    case vaNull: return u"Null";
    case vaNil: return u"nil";
    default: PropValueError();
  }
}

long double TzfReader::ReadFloat() {
  if (NextValue() == vaExtended) {
    ReadValue();
    uint8_t raw[sizeof(long double)] = {};
    Read(raw, kExtendedSize);
    long double v;
    std::memcpy(&v, raw, sizeof v);
    return v;
  }
  return ReadDouble();
}

double TzfReader::ReadDouble() {
  double v;
  return ReadFixed(vaDouble, v) ? v : static_cast<double>(ReadInt64());
}

float TzfReader::ReadSingle() {
  float v;
  return ReadFixed(vaSingle, v) ? v : static_cast<float>(ReadInt64());
}

// An integer form is a whole amount: it is scaled by 10000 (one beyond the Currency range is an
// invalid value, not a wrapped one).
int64_t TzfReader::ReadCurrency() {
  int64_t v;
  if (ReadFixed(vaCurrency, v)) return v;
  if (__builtin_mul_overflow(ReadInt64(), int64_t{10000}, &v)) PropValueError();
  return v;
}

double TzfReader::ReadDate() {
  double v;
  return ReadFixed(vaDate, v) ? v : static_cast<double>(ReadInt64());
}

char16_t TzfReader::ReadChar() {
  UnicodeString s = ReadString();
  if (s.size() > 1) PropValueError();
  return s.empty() ? u'\0' : s[0];
}

char TzfReader::ReadAnsiChar() { return static_cast<char>(ReadChar() & 0xFF); }

void TzfReader::ReadBinary(void* aValue, int32_t aSize) {
  TValueType v = ReadValue();
  if (v != vaBinary) {
    SkipPayload(v);
    PropValueError();
  }
  if (ReadInt32Raw() != aSize) PropValueError();
  Read(aValue, aSize);
}

std::vector<uint8_t> TzfReader::ReadBytes() {
  CheckValue(vaBinary);
  int32_t n = ReadCount(1);
  std::vector<uint8_t> r(static_cast<size_t>(n));
  Read(r.data(), n);
  return r;
}

rtl::TGUID TzfReader::ReadGuid() {
  uint8_t raw[16];
  ReadBinary(raw, 16);
  rtl::TGUID g;
  std::memcpy(&g.D1, raw, 4);
  std::memcpy(&g.D2, raw + 4, 2);
  std::memcpy(&g.D3, raw + 6, 2);
  std::memcpy(g.D4, raw + 8, 8);
  return g;
}

void TzfReader::ReadStrings(std::vector<UnicodeString>& aStrings) {
  aStrings.clear();
  ReadListBegin();
  while (!EndOfList()) aStrings.push_back(ReadString());
  ReadListEnd();
}

rtl::Variant TzfReader::ReadVariant() {
  switch (NextValue()) {
    case vaNil: ReadValue(); return rtl::Variant();
    case vaNull: ReadValue(); return rtl::Variant::Null();
    case vaInt8: return rtl::Variant(static_cast<int8_t>(ReadInteger()));
    case vaInt16: return rtl::Variant(static_cast<int16_t>(ReadInteger()));
    case vaInt32: return rtl::Variant(ReadInteger());
    case vaInt64: return rtl::Variant(ReadInt64());
    case vaExtended: case vaSingle: case vaDouble: {
      // A damaged extended may be out of the double's range; it reads as an infinity then.
      if (NextValue() == vaSingle) return rtl::Variant(static_cast<double>(ReadSingle()));
      return rtl::Variant(static_cast<double>(ReadFloat()));
    }
    case vaCurrency: return rtl::Variant(rtl::Currency::FromScaled(ReadCurrency()));
    case vaDate: return rtl::Variant::FromDate(ReadDate());
    case vaString: case vaLString: return rtl::Variant(ReadString());
    case vaWString: case vaUTF8String: return rtl::Variant::FromOleStr(ReadString());
    case vaFalse: case vaTrue: return rtl::Variant(ReadBoolean());
    default: ReadValue(); StreamReadError();
  }
}

}  // namespace zf
