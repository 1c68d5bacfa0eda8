// The tagged value encoding in which the engine stores every descriptor, setting and exception
// data value: one tag byte naming the kind of value, then its payload, all numbers little-endian.
// TzfWriter produces it and TzfReader reads it back over any TStream, each through a 4096-byte
// buffer. The tags, payload layouts and the writer's choice of form are part of the table file
// format: stored dictionaries must read back in every build.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/rtlAnsiString.h"
#include "platform/rtl/rtlGuid.h"
#include "platform/rtl/rtlStream.h"
#include "platform/rtl/rtlText.h"

namespace zf::rtl {
class Variant;
}

namespace zf {

// The value tags (stored bytes).
enum TValueType : uint8_t {
  vaNull = 0,        // none; ends a list; as an identifier "Null"
  vaList = 1,        // values up to a vaNull
  vaInt8 = 2,        // 1 byte, signed
  vaInt16 = 3,       // 2 bytes, signed
  vaInt32 = 4,       // 4 bytes, signed
  vaExtended = 5,    // 10 bytes, 80-bit extended float
  vaString = 6,      // 1 length byte, then 8-bit characters
  vaIdent = 7,       // 1 length byte, then UTF-8 bytes
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,     // Int32 byte count, then the bytes
  vaSet = 11,        // identifiers (length byte + characters) up to an empty one
  vaLString = 12,    // Int32 length, then 8-bit characters
  vaNil = 13,        // an unassigned value
  vaCollection = 14, // items up to a vaNull
  vaSingle = 15,     // 4-byte float
  vaCurrency = 16,   // 64-bit integer scaled by 10000
  vaDate = 17,       // 8-byte float date-time
  vaWString = 18,    // Int32 count of UTF-16 units, then 2 bytes per unit
  vaInt64 = 19,      // 8 bytes, signed
  vaUTF8String = 20, // Int32 byte length, then UTF-8 bytes
  vaDouble = 21,     // 8-byte float
};
inline constexpr uint8_t kValueTypeLast = vaDouble;

// The platform's filer messages.
inline constexpr const char16_t* kSInvalidPropertyValue = u"Invalid property value";
inline constexpr const char16_t* kSReadError = u"Stream read error";
inline constexpr const char16_t* kSWriteError = u"Stream write error";

class TzfWriter {
 public:
  static constexpr int32_t kBufferSize = 4096;

  explicit TzfWriter(rtl::TStream& aStream);
  // Writes what is still buffered. A failure raises, unless another exception is already on its
  // way; call FlushBuffer first where a failed write must be seen.
  ~TzfWriter() noexcept(false);
  TzfWriter(const TzfWriter&) = delete;
  TzfWriter& operator=(const TzfWriter&) = delete;

  TzfWriter& TheWriter() { return *this; }
  // Hands the buffered bytes to the stream; the stream then holds everything written so far.
  void FlushBuffer();

  void WriteValue(TValueType aValue);
  void WriteInteger(int32_t aValue);  // smallest of vaInt8, vaInt16, vaInt32
  void WriteInteger(int64_t aValue);  // as the 32-bit form when it fits, else vaInt64
  void WriteBoolean(bool aValue);
  void WriteString(rtl::UnicodeStringView aValue);
  void WriteIdent(rtl::UnicodeStringView aValue);
  void WriteFloat(long double aValue);  // vaExtended
  void WriteSingle(float aValue);
  void WriteDouble(double aValue);
  void WriteCurrency(int64_t aScaledValue);  // the value times 10000
  void WriteDate(double aValue);
  void WriteListBegin() { WriteValue(vaList); }
  void WriteListEnd() { WriteValue(vaNull); }
  // Raw bytes without a tag.
  void Write(const void* aBuffer, int64_t aCount);

  void WriteWideString(rtl::UnicodeStringView aValue);  // always vaWString
  // The text in the system's ANSI code page (converted when it is held in another).
  void WriteAnsiString(const rtl::AnsiString& aValue);
  void WriteAnsiChar(char aValue);  // one byte in the system's ANSI code page
  void WriteStrings(const std::vector<rtl::UnicodeString>& aStrings);
  void WriteWideStrings(const std::vector<rtl::UnicodeString>& aStrings);
  void WriteAnsiStrings(const std::vector<rtl::UnicodeString>& aStrings);
  void WriteBinary(const void* aValue, int32_t aSize);
  void WriteBytes(const std::vector<uint8_t>& aBytes);
  void WriteGuid(const rtl::TGUID& aValue);
  // Empty as vaNil, Null as vaNull, integers in their smallest form, Single, Double (as
  // vaExtended), Currency, Date, Boolean and the string kinds by their own tags; any other kind
  // as the string of its text. Arrays, and values with no text, raise "Stream write error".
  void WriteVariant(const rtl::Variant& aValue);

 private:
  void WriteInt32Raw(int32_t aValue);
  void WriteLengthString(TValueType aShort, TValueType aLong, std::string_view aBytes);

  rtl::TStream& FStream;
  uint8_t FBuffer[kBufferSize];
  int32_t FBufPos = 0;
};

class TzfReader {
 public:
  static constexpr int32_t kBufferSize = 4096;

  explicit TzfReader(rtl::TStream& aStream);
  // Moves the stream back over the buffered bytes not consumed, so that it stands right after
  // the last value read.
  ~TzfReader();
  TzfReader(const TzfReader&) = delete;
  TzfReader& operator=(const TzfReader&) = delete;

  TzfReader& TheReader() { return *this; }

  TValueType ReadValue();  // the next tag, consumed
  TValueType NextValue();  // the next tag, not consumed
  bool EndOfList() { return NextValue() == vaNull; }
  // Consumes the next tag; a different one is skipped with its payload and refused.
  void CheckValue(TValueType aValue);
  void ReadListBegin() { CheckValue(vaList); }
  void ReadListEnd() { CheckValue(vaNull); }
  void SkipValue();

  int32_t ReadInteger();
  int64_t ReadInt64();
  // Consumes one tag: True exactly when it is vaTrue; any other tag is False, its payload stays.
  bool ReadBoolean();
  rtl::UnicodeString ReadString();
  rtl::UnicodeString ReadWideString();
  rtl::UnicodeString ReadIdent();
  long double ReadFloat();
  double ReadDouble();
  float ReadSingle();
  int64_t ReadCurrency();  // the value times 10000
  double ReadDate();
  char16_t ReadChar();
  char ReadAnsiChar();
  // Raw bytes without a tag.
  void Read(void* aBuffer, int64_t aCount);

  void ReadBinary(void* aValue, int32_t aSize);
  std::vector<uint8_t> ReadBytes();
  rtl::TGUID ReadGuid();
  void ReadStrings(std::vector<rtl::UnicodeString>& aStrings);
  // Any tag the writer's variant forms produce; others raise "Stream read error". The system has
  // no variant kind that streams itself, so a binary block is refused the same way.
  rtl::Variant ReadVariant();

  // Bytes left to read: the unconsumed buffer and what the stream still holds.
  int64_t BytesLeft();

 private:
  bool FillBuffer();
  uint8_t ReadByte();
  int32_t ReadInt32Raw();
  // Reads an Int32 count of items of aItemSize bytes and checks them against what is left.
  int32_t ReadCount(int32_t aItemSize);
  std::string ReadBytesString(int32_t aCount);
  void SkipBytes(int64_t aCount);
  void SkipPayload(TValueType aValue);
  rtl::UnicodeString ReadStringOf(TValueType aValue);
  // When the next tag is aTag: consumes it, reads the fixed payload into aValue, answers true.
  template <typename T>
  bool ReadFixed(TValueType aTag, T& aValue);
  [[noreturn]] void PropValueError();

  rtl::TStream& FStream;
  uint8_t FBuffer[kBufferSize];
  int32_t FBufPos = 0;
  int32_t FBufEnd = 0;
};

}  // namespace zf
