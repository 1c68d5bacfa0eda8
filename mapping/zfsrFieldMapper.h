// The BLOB-side field mappers. A BLOB field holds in the record only the 8-byte number of a BLOB
// stored in its table's BLOB engine (0: no BLOB), so these mappers work through the source and
// target cursors: they copy a BLOB into a new BLOB of the target table, re-encode memo text
// between code pages or between 8-bit text and UTF-16, write the text of a ShortString,
// NullString or WideString field into a new BLOB, and hand a BLOB's text to the string mapper of
// the text field it goes into. Without both cursors no method is set.
//
//   source -> target                               class
//   Blob, BlobGraphic -> any BLOB type             TzfBlobMapper (plain copy)
//   BlobMemo -> Blob, BlobGraphic                  TzfBlobMapper
//   BlobMemo -> BlobMemo                           TzfBlobMemoToBlobMemoMapper
//   BlobMemo -> BlobWideMemo                       TzfBlobMemoToBlobWideMemoMapper
//   BlobWideMemo -> Blob, BlobGraphic, WideMemo    TzfBlobMapper
//   BlobWideMemo -> BlobMemo                       TzfBlobWideMemoToBlobMemoMapper
//   ShortString / NullString / WideString -> BLOB  TzfShortStringToBlobMapper, ...NullString...,
//                                                  TzfWideStringToBlobMapper
//   Blob, BlobMemo, BlobGraphic -> text            TzfBlobToShortStringMapper, ...NullString...,
//                                                  TzfBlobToWideStringMapper
//   BlobWideMemo -> ShortString, NullString        TzfBlobWideMemoToAnsiStringMapper
//   BlobWideMemo -> WideString                     TzfBlobWideMemoToWideStringMapper
//
// Every method first sets the target number to 0. "No value" (source number 0, an empty BLOB or
// text, a conversion that yields nothing) answers 10002, or 1 (store NULL) under dlaBestFit. A
// cursor's error is the method's result. A new BLOB is created, then written at offset 0; a failed
// write deletes it, so the target never refers to a half-written BLOB.
//
// Memo text is re-encoded only between two code pages that are both set and differ; a wide memo
// holds UTF-16LE code units without a terminator (an odd last byte is no unit). A BLOB's text
// goes to a text field through the string mapper of the pair (text of the BLOB's kind, target
// field), chosen for the BLOB content's real room rather than for the 8-byte BLOB number: so a
// text longer than the target is cut under dlaBestFit and answers 10002 otherwise. A ShortString
// target takes at most the BLOB's first 255 bytes.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mapping/zfsdFieldMapperBase.h"
#include "mapping/zfsdStringMapper.h"

namespace zf {

class TzfBlobMapper : public TzfBaseFieldMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();

  // Sets the plain copy as the method (subclasses then choose their own).
  TzfBlobMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor, TzfFieldDescriptor& aTargetField,
                IzfMapperCursor& aTargetCursor, const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);

  // Target number 0; a source number 0 has no value (bmNullError); else the target cursor copies
  // the source BLOB into a new BLOB and its code is the result.
  uint32_t PlainCopy(const uint8_t* aSource, uint8_t* aTarget);

  IzfMapperCursor& bmSourceCursor;
  IzfMapperCursor& bmTargetCursor;
  TzfFieldDescriptor& bmSourceField;
  TzfFieldDescriptor& bmTargetField;
  // The result when there is no value: 10002, or 1 under dlaBestFit.
  uint32_t bmNullError;

 protected:
  // The source BLOB's bytes (at most aMax): 0, or the cursor's code. aBlobNr is not 0.
  uint32_t ReadSource(int64_t aBlobNr, std::string& aBytes, uint32_t aMax = UINT32_MAX);
  // aCount bytes as a new BLOB of the target field, its number stored in aTarget: 0 or the code.
  uint32_t StoreNewBlob(const void* aData, size_t aCount, uint8_t* aTarget);
  // A BLOB-to-BLOB conversion: the source BLOB's bytes (when there are any) through aConvert into
  // a new target BLOB; no source BLOB, no bytes or nothing converted is no value.
  uint32_t ConvertBlob(const uint8_t* aSource, uint8_t* aTarget,
                       const std::function<std::string(const std::string&)>& aConvert);
  // The 8-bit text in a code page as UTF-16 and back (0: the engine's default code page).
  static rtl::UnicodeString Decode(std::string_view aBytes, uint16_t aCodepage);
  static std::string Encode(rtl::UnicodeStringView aText, uint16_t aCodepage);
  // UTF-16 units as little-endian bytes, and back (an odd last byte is dropped).
  static std::string UnitsToBytes(rtl::UnicodeStringView aText);
  static rtl::UnicodeString BytesToUnits(std::string_view aBytes);
};

class TzfBlobMemoToBlobMemoMapper : public TzfBlobMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfBlobMemoToBlobMemoMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                              TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                              const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
  uint32_t ReEncode(const uint8_t* aSource, uint8_t* aTarget);

  uint16_t mtmSourceCodepage;
  uint16_t mtmTargetCodepage;
};

class TzfBlobMemoToBlobWideMemoMapper : public TzfBlobMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfBlobMemoToBlobWideMemoMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                                  TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                                  const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
  uint32_t ToWide(const uint8_t* aSource, uint8_t* aTarget);

  uint16_t mtwSourceCodepage;
};

class TzfBlobWideMemoToBlobMemoMapper : public TzfBlobMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfBlobWideMemoToBlobMemoMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                                  TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                                  const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
  uint32_t ToAnsi(const uint8_t* aSource, uint8_t* aTarget);

  uint16_t wtmTargetCodepage;
};

// ShortString and NullString text into a new BLOB.
class TzfAnsiTextToBlobMapper : public TzfBlobMapper {
 public:
  TzfAnsiTextToBlobMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                          TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                          const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
  uint32_t ToBlob(const uint8_t* aSource, uint8_t* aTarget);

  uint16_t atbSourceCodepage;
  uint16_t atbTargetCodepage;
  int32_t atbSourceUnits;
};

class TzfShortStringToBlobMapper : public TzfAnsiTextToBlobMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  using TzfAnsiTextToBlobMapper::TzfAnsiTextToBlobMapper;
};

class TzfNullStringToBlobMapper : public TzfAnsiTextToBlobMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  using TzfAnsiTextToBlobMapper::TzfAnsiTextToBlobMapper;
};

class TzfWideStringToBlobMapper : public TzfBlobMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  TzfWideStringToBlobMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                            TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                            const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
  uint32_t ToBlob(const uint8_t* aSource, uint8_t* aTarget);

  uint16_t wtbSourceCodepage;
  uint16_t wtbTargetCodepage;
  int32_t wtbSourceUnits;
};

// A BLOB's text handed to the string mapper of a text field. The inner mapper and its method are
// owned here.
class TzfBlobToTextMapper : public TzfBlobMapper {
 public:
  TzfBlobToTextMapper(TzfFieldDescriptor& aSourceField, IzfMapperCursor& aSourceCursor,
                      TzfFieldDescriptor& aTargetField, IzfMapperCursor& aTargetCursor,
                      const TzfFieldMapperDescriptor* aMapperDesc, TzfMappingMethod& aMapper);
  uint32_t ToText(const uint8_t* aSource, uint8_t* aTarget);

  // The text kind the BLOB's content is read as: ShortString (at most 255 bytes), NullString,
  // or WideString (8-bit content decoded with the BLOB field's code page, or wide memo units).
  TzfFieldType bttContentType;
  uint16_t bttSourceCodepage;
  std::unique_ptr<TzfStringMapperBase> bttInnerMapper;
  TzfMappingMethod bttMappingMethod;
};

class TzfBlobToShortStringMapper : public TzfBlobToTextMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  using TzfBlobToTextMapper::TzfBlobToTextMapper;
};
class TzfBlobToNullStringMapper : public TzfBlobToTextMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  using TzfBlobToTextMapper::TzfBlobToTextMapper;
};
class TzfBlobToWideStringMapper : public TzfBlobToTextMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  using TzfBlobToTextMapper::TzfBlobToTextMapper;
};
class TzfBlobWideMemoToAnsiStringMapper : public TzfBlobToTextMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  using TzfBlobToTextMapper::TzfBlobToTextMapper;
};
class TzfBlobWideMemoToWideStringMapper : public TzfBlobToTextMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();
  using TzfBlobToTextMapper::TzfBlobToTextMapper;
};

// Registers the 40 BLOB-side pairs (unit start); the registry empties the cells.
rtl::TUnitInit& zfsrFieldMapperUnit();

}  // namespace zf
