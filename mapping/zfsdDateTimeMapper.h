// The date, time and GUID value mappers: converters from a Date, Time, DateTime or Guid field
// into the date and time types, Double (DateTime only), byte arrays and the three text types.
//
// Stored forms:
//   Date      4 bytes  signed 32-bit day number, day 1 = 1 January of year 1 (30 December 1899
//                      is day 693594)
//   Time      4 bytes  signed 32-bit milliseconds since midnight
//   DateTime  8 bytes  double: day number x 86400000 + milliseconds of the day
//   Guid      16 bytes the GUID's bytes
//
// What each pair does (best fit: a descriptor with dlaBestFit; checking: anything else):
//   Date     -> Date, DateTime     the day number, as it is or x 86400000
//   Date     -> Time               only under best fit: midnight (0)
//   Time     -> Time               the milliseconds
//   Time     -> Date, DateTime     only under best fit: 0
//   DateTime -> DateTime           the 8 bytes
//   DateTime -> Date               the day; checking answers 10002 when there is a time of day
//   DateTime -> Time               the time of day; checking answers 10002 when there is a day
//   DateTime -> Double             the platform's date-time number (days since 30 December 1899
//                                  with the time as a fraction)
//   Date, Time, DateTime -> ByteArray   the 4 or 8 bytes, into a byte array of at least 8 bytes
//   Date, Time, DateTime -> text   the short date, long time or date-and-time ("c") text in the
//                                  target locale's settings; checking answers 10002 for a text
//                                  longer than the target holds, best fit cuts it
//   Guid     -> Guid, ByteArray    the 16 bytes (a byte array of at least 16)
//   Guid     -> text               the 38-character text in braces, into a text of more units
// A stored value that is no date or time (a day before year 1, a time outside the day, a
// DateTime that is not a number or beyond the 32-bit day numbers) answers 10002 wherever it
// would have to be read as one.
#pragma once
#include <cstdint>

#include "mapping/zfsdFieldMapperBase.h"
#include "mapping/zfsdMapperText.h"

namespace zf {

// The state of a date or time mapper made for a text target (and of the Time mapper made for a
// date target).
class TzfDateTimeMapperBase : public TzfBaseFieldMapper {
 public:
  TzfDateTimeMapperBase(TzfFieldType aSourceType, TzfFieldDescriptor& aTargetField);

  TzfFieldType dtmSourceType;              // Date, Time or DateTime
  int32_t dtmTargetLength;                 // fdLength of the target
  rtl::TFormatSettings dtmFormatSettings;  // of the target field's locale, read at construction
  TzfTextTarget dtmTextTarget;
};

struct TzfDateMapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfTimeMapper { static const TzfFieldMapperClass& ClassInfo(); };
struct TzfDateTimeMapper { static const TzfFieldMapperClass& ClassInfo(); };
// Class-level methods only.
struct TzfGuidMapper { static const TzfFieldMapperClass& ClassInfo(); };

}  // namespace zf
