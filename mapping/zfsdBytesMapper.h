// The byte-array and FmtBCD value mappers.
//
// TzfByteArrayMapper converts a ByteArray field (raw bytes of a fixed length) into another
// ByteArray, a Guid, or one of the three text types; for text the bytes are read as 8-bit text in
// the source field's storage code page, up to the first zero byte.
//   ByteArray, Guid   the first min(source, target) bytes (Guid: 16); the rest of the target keeps
//                     its bytes. Checking offers this only when every source byte fits (a Guid
//                     needs 16 source bytes).
//   ShortString,      without re-encoding the bytes are copied as they are, zero bytes included
//   NullString        (checking: only when the source is shorter than the target). With
//                     re-encoding (both code pages set and different, or a multi-byte target
//                     code page and a target shorter than the source) the text is converted:
//                     best fit keeps the longest whole-character prefix that fits, checking
//                     answers 10002 for a text that does not fit.
//   WideString        the decoded text: best fit keeps its first code units, checking (offered
//                     only when the source is shorter than half the target) answers 10002 for a
//                     text that does not fit.
//
// TzfFmtBCDMapper converts an FmtBCD field into another FmtBCD of other precision or scale. The
// stored form is the leading (units + 1) div 2 + 2 bytes of a 34-byte TBcd: precision, sign and
// places, then the packed digits. Equal layouts copy their bytes; otherwise the digits are aligned
// on the decimal point at the target's precision and scale: best fit drops what does not fit,
// checking answers 10002 when a non-zero digit would be dropped. Stored bytes that are no value
// of the source field answer 10002.
#pragma once
#include <cstdint>

#include "mapping/zfsdFieldMapperBase.h"
#include "mapping/zfsdMapperText.h"

namespace zf {

class TzfByteArrayMapper : public TzfBaseFieldMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();

  TzfByteArrayMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField);

  int32_t bamSourceLength;     // fdLength of the source
  int32_t bamTargetLength;     // fdLength of the target
  uint16_t bamSourceCodepage;  // storage code pages; 0 for a field without a locale
  uint16_t bamTargetCodepage;
  TzfTextTarget bamTextTarget;  // for text targets

  // True when the text must be converted between the two code pages (see above).
  bool NeedsReencoding() const;

  uint32_t Copy(const uint8_t* aSource, uint8_t* aTarget);
  uint32_t RawCopy(const uint8_t* aSource, uint8_t* aTarget);
  // The source's text converted into the target; Cut keeps what fits, else 10002 for a text that
  // does not fit.
  template <bool Cut>
  uint32_t Convert(const uint8_t* aSource, uint8_t* aTarget);

 private:
  int32_t bamCopyLength = 0;
};

class TzfFmtBCDMapper : public TzfBaseFieldMapper {
 public:
  static const TzfFieldMapperClass& ClassInfo();

  TzfFmtBCDMapper(TzfFieldDescriptor& aSourceField, TzfFieldDescriptor& aTargetField);

  int32_t fbmSourceLength, fbmSourceUnits, fbmSourceDecPl;
  int32_t fbmTargetLength, fbmTargetUnits, fbmTargetDecPl;

  uint32_t Copy(const uint8_t* aSource, uint8_t* aTarget);
  template <bool BestFit>
  uint32_t Normalize(const uint8_t* aSource, uint8_t* aTarget);
};

}  // namespace zf
