// The string-to-string mappers: converters between the three text field types, and the text
// helpers the character, text-source and BLOB-side mappers share.
//
// Text layouts in a record buffer (fdUnits = U):
//
//   type         bytes (fdLength)  content
//   ShortString  U + 1 (U <= 255)  byte 0: length n; bytes 1..n: the text
//   NullString   U + 1             the text, ended by a 0 byte
//   WideString   2 U + 2           UTF-16LE code units, ended by a 0 unit
//
// Reading is bounded by the field, never by what the bytes claim: a length byte above U counts as
// U, a NullString or WideString with no terminator among its first U characters holds those U
// characters (records come from damaged files too). Writing sets the length byte or the
// terminator after the text; the bytes of the field behind it are left as they were.
//
// A field's room C is U characters (bytes for 8-bit text, UTF-16 units for WideString). A text
// field is fixed-length when fdDecPl is above 0; trailing blanks (0x20, U+0020) are dropped
// exactly when a variable-length source goes into a fixed-length target, and always before the
// room is checked.
//
// The code page of an 8-bit text field is the storage code page of its used locale descriptor,
// 0 without one; 0 handed to a conversion means the process's ANSI code page.
//
// 8-bit into 8-bit (TzfShortStringToShortStringMapper, TzfShortStringToNullStringMapper,
// TzfNullStringToNullStringMapper, TzfNullStringToShortStringMapper): the text passes through
// UTF-16 only when both code pages are set and differ, or when a multi-byte target code page
// meets a target shorter than the source; otherwise the bytes are copied. Under dlaBestFit a text
// that does not fit is cut at its end (at whole characters of the target code page when
// converting) and stored; under the other actions it answers 10002 and, when converting, leaves
// the empty text in the target. A character the target code page lacks becomes its default
// character and is no loss.
//
// TzfWideStringToAnsiStringMapper always encodes with the target code page and
// TzfAnsiStringToWideStringMapper always decodes with the source code page, cutting or checking as
// above. TzfWideStringToWideStringMapper copies code units.
//
// A conversion that fails for another reason than room raises the operating-system error 11047
// naming the class, the conversion and the platform call.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "mapping/zfsdFieldMapperBase.h"
#include "platform/rtl/rtlText.h"

namespace zf {

// ---- Text fields ------------------------------------------------------------------------------

// The room of a text field in characters (fdUnits; 0 for a field too short to hold any).
int32_t zfTextFieldRoom(const TzfFieldDescriptor& aField);
// True when the field is fixed-length (fdDecPl above 0).
bool zfIsFixedTextField(const TzfFieldDescriptor& aField);

// The text of a ShortString or NullString field of room aUnits, bounded as described above.
std::string_view zfAnsiFieldText(TzfFieldType aType, const uint8_t* aField, int32_t aUnits);
// The text of a WideString field of room aUnits.
rtl::UnicodeString zfWideFieldText(const uint8_t* aField, int32_t aUnits);
// Writes aCount bytes as a ShortString (length byte first) or NullString (0 byte after).
void zfStoreAnsiText(TzfFieldType aType, uint8_t* aField, const char* aText, size_t aCount);
// Writes aCount UTF-16 units little-endian, then the 0 unit.
void zfStoreWideText(uint8_t* aField, const char16_t* aText, size_t aCount);

// ---- Code-page conversion ---------------------------------------------------------------------

// Decodes non-empty 8-bit text into at most aMaxUnits UTF-16 units. False on failure, with the
// reason in the thread's last OS error (ENOBUFS when more units would be needed).
bool zfDecodeText(uint16_t aCodePage, std::string_view aText, rtl::UnicodeString& aResult, size_t aMaxUnits);
enum class TzfEncodeResult { erOk, erNoRoom, erFailed };
// Encodes non-empty UTF-16 text into at most aRoom bytes (aRoom may be 0).
TzfEncodeResult zfEncodeText(uint16_t aCodePage, rtl::UnicodeStringView aText, std::string& aResult, int32_t aRoom);
// Encodes the longest leading part of aText (never half a surrogate pair) that fits aRoom bytes;
// the empty text when not even one character fits. False on a failure other than room.
bool zfEncodeTextCut(uint16_t aCodePage, rtl::UnicodeStringView aText, std::string& aResult, int32_t aRoom);
// Raises the operating-system error 11047 for a failed conversion: aAction + "/" + aCall.
[[noreturn]] void zfRaiseConversionError(const char16_t* aAction, const char16_t* aCall);

// ---- The mappers ------------------------------------------------------------------------------

// What a string mapper knows of its source: its type, its room and storage length, its code page
// and whether it is fixed-length. Taken from the source field, or given by a BLOB-side mapper that
// passes the text of a BLOB on (then the room is the content's, not the 8-byte BLOB number's).
struct TzfTextSource {
  TzfFieldType Type;
  int32_t Units;
  int32_t Length;
  uint16_t Codepage;
  bool Fixed;
  // The room of a decoding buffer for this source (256 units for ShortString, 65,536 for the
  // others); 0 for no limit.
  size_t DecodeLimit;

  static TzfTextSource FromField(TzfFieldDescriptor& aField);
};

// State shared by the seven string mappers; the classes differ in the pairs they serve and in the
// methods they choose.
class TzfStringMapperBase : public TzfBaseFieldMapper {
 public:
  TzfStringMapperBase(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField, const char16_t* aAction);

  // The conversions, named after the procedures they carry out.
  uint32_t ConvertBestFit(const uint8_t* aSource, uint8_t* aTarget);   // decode, cut, encode
  uint32_t ConvertCheck(const uint8_t* aSource, uint8_t* aTarget);     // decode, encode or 10002
  uint32_t CopyBestFit(const uint8_t* aSource, uint8_t* aTarget);      // copy bytes, cut
  uint32_t CopyCheck(const uint8_t* aSource, uint8_t* aTarget);        // copy bytes or 10002
  uint32_t CopyWhole(const uint8_t* aSource, uint8_t* aTarget);        // ShortString copied whole
  uint32_t WideToAnsiBestFit(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t WideToAnsiCheck(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t AnsiToWideBestFit(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t AnsiToWideCheck(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t WideToWideBestFit(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t WideToWideCheck(const uint8_t* aSource, uint8_t* aTarget);

  TzfTextSource smSource;
  TzfFieldType smTargetType;
  int32_t smTargetLength;  // target fdLength
  int32_t smTargetRoom;    // C: characters the target holds
  uint16_t smSourceCodepage;
  uint16_t smTargetCodepage;
  bool smTrim;             // variable-length source into a fixed-length target
  const char16_t* smAction;  // class and method named in a conversion error

 protected:
  std::string_view SourceAnsi(const uint8_t* aSource) const;
  rtl::UnicodeString SourceWide(const uint8_t* aSource) const;
  // Stores the empty text in the target.
  void StoreEmpty(uint8_t* aTarget) const;
  // Cuts aText to the target's room under best fit, trims it for a fixed-length target and stores
  // it encoded: under best fit the longest part that fits, else all of it or the empty text and
  // 10002.
  uint32_t StoreEncoded(rtl::UnicodeString aText, uint8_t* aTarget, bool aBestFit);
  // Decodes the 8-bit source and stores it encoded as StoreEncoded does.
  uint32_t Convert(const uint8_t* aSource, uint8_t* aTarget, bool aBestFit);
};

class TzfShortStringToShortStringMapper : public TzfStringMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfShortStringToShortStringMapper(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField,
                                    const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
};

class TzfShortStringToNullStringMapper : public TzfStringMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfShortStringToNullStringMapper(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField,
                                   const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
};

class TzfNullStringToNullStringMapper : public TzfStringMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfNullStringToNullStringMapper(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField,
                                  const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
};

class TzfNullStringToShortStringMapper : public TzfStringMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfNullStringToShortStringMapper(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField,
                                   const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
};

// WideString into NullString or ShortString.
class TzfWideStringToAnsiStringMapper : public TzfStringMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfWideStringToAnsiStringMapper(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField,
                                  const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
};

// ShortString or NullString into WideString.
class TzfAnsiStringToWideStringMapper : public TzfStringMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfAnsiStringToWideStringMapper(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField,
                                  const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
};

// WideString into WideString. Always an instance: even a copy into a target at least as long
// needs the source's room to bound what it reads.
class TzfWideStringToWideStringMapper : public TzfStringMapperBase {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfWideStringToWideStringMapper(const TzfTextSource& aSource, TzfFieldDescriptor& aTargetField,
                                  const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
};

// The string mapper for a source of aSource.Type into aTargetField (both text types), as
// TryCreateMapper builds it; nullptr with aMapper unset for any other pair. Used by the BLOB-side
// mappers that hand a BLOB's text on.
std::unique_ptr<TzfStringMapperBase> zfCreateStringMapper(const TzfTextSource& aSource,
                                                          TzfFieldDescriptor& aTargetField,
                                                          const TzfFieldMapperDescriptor* aMapperDesc,
                                                          TzfMappingMethod& aMapper);

// Registers the nine text-to-text pairs (unit start); the registry empties the cells.
rtl::TUnitInit& zfsdStringMapperUnit();

// True for ShortString, NullString and WideString.
constexpr bool zfIsTextType(TzfFieldType aType) {
  return aType == zftShortString || aType == zftNullString || aType == zftWideString;
}

}  // namespace zf
