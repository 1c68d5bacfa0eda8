#include "mapping/zfsdDateTimeMapper.h"

#include <cmath>
#include <cstring>

#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlGuid.h"

namespace zf {

namespace {

using TCode = TzfMappingMethod::TCode;

constexpr uint32_t kNoFit = zfErrInvalidFieldXForm;
constexpr double kDay = rtl::MSecsPerDay;
// Length of a GUID's text: "{" 8-4-4-4-12 hexadecimal digits "}".
constexpr size_t kGuidTextLength = 38;

double LoadDouble(const uint8_t* p) {
  double d;
  std::memcpy(&d, p, sizeof d);
  return d;
}

// A stored DateTime split into a time stamp: the whole days and the milliseconds of the day
// (computed exactly, without a rounded division). False when it is not a number or its day lies
// outside the 32-bit range.
bool SplitDateTime(double aMSecs, int64_t& aDays, double& aTime) {
  if (!std::isfinite(aMSecs)) return false;
  aTime = std::fmod(aMSecs, kDay);
  const double days = (aMSecs - aTime) / kDay;
  if (!(days >= INT32_MIN && days <= INT32_MAX)) return false;
  aDays = static_cast<int64_t>(days);
  return true;
}

// The value of a Date, Time or DateTime field as a valid time stamp; False when it is none.
bool TimeStampOf(TzfFieldType aType, const uint8_t* aSource, rtl::TTimeStamp& aStamp) {
  switch (aType) {
    case zftDate: aStamp = zfMakeTimeStamp(zfLoadLE<int32_t>(aSource), 0); break;
    case zftTime: aStamp = zfMakeTimeStamp(rtl::DateDelta, zfLoadLE<int32_t>(aSource)); break;
    default: {
      int64_t days;
      double time;
      if (!SplitDateTime(LoadDouble(aSource), days, time)) return false;
      aStamp = zfMakeTimeStamp(static_cast<int32_t>(days), static_cast<int32_t>(std::trunc(time)));
      break;
    }
  }
  return rtl::IsValidTimeStamp(aStamp);
}

// The pairs that always lose the value (a time into a date and the like) store the target's
// zero: midnight, or day 0 of a freshly initialised record. It is written, so that nothing of an
// earlier record stays behind.
template <size_t N>
uint32_t StoreZero(const void*, const uint8_t*, uint8_t* aTarget) {
  std::memset(aTarget, 0, N);
  return 0;
}

uint32_t DateToDateTime(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const double ms = static_cast<double>(int64_t{zfLoadLE<int32_t>(aSource)} * rtl::MSecsPerDay);
  std::memcpy(aTarget, &ms, sizeof ms);
  return 0;
}

// Negative milliseconds lie before day 0: no date and no time of day.
template <bool BestFit>
uint32_t DateTimeToDate(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  int64_t days;
  double time;
  if (!SplitDateTime(LoadDouble(aSource), days, time) || time < 0) return kNoFit;
  if (!BestFit && time != 0) return kNoFit;
  zfStoreLE<int32_t>(aTarget, static_cast<int32_t>(days));
  return 0;
}

template <bool BestFit>
uint32_t DateTimeToTime(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const double ms = LoadDouble(aSource);
  if (!(ms >= 0) || std::isinf(ms)) return kNoFit;
  // Checking: a value with a whole day in it is more than a time of day.
  if (!BestFit && std::fabs(ms) >= kDay) return kNoFit;
  zfStoreLE<int32_t>(aTarget, static_cast<int32_t>(std::trunc(std::fmod(ms, kDay))));
  return 0;
}

uint32_t DateTimeToDouble(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  rtl::TTimeStamp stamp;
  if (!TimeStampOf(zftDateTime, aSource, stamp)) return kNoFit;
  const double v = rtl::TimeStampToDateTime(stamp);
  std::memcpy(aTarget, &v, sizeof v);
  return 0;
}

// ---- Text targets ---------------------------------------------------------------------------------

class TzfDateTimeTextMapper : public TzfDateTimeMapperBase {
 public:
  using TzfDateTimeMapperBase::TzfDateTimeMapperBase;

  // Best fit cuts a text longer than the target; checking refuses it.
  uint32_t ToTextCut(const uint8_t* aSource, uint8_t* aTarget) { return ToText(aSource, aTarget, true); }
  uint32_t ToTextCheck(const uint8_t* aSource, uint8_t* aTarget) { return ToText(aSource, aTarget, false); }

 private:
  uint32_t ToText(const uint8_t* aSource, uint8_t* aTarget, bool aCut) {
    rtl::TTimeStamp stamp;
    if (!TimeStampOf(dtmSourceType, aSource, stamp)) return kNoFit;
    const rtl::TDateTime v = rtl::TimeStampToDateTime(stamp);
    rtl::UnicodeString text;
    switch (dtmSourceType) {
      case zftDate: text = zfDateToStr(v, dtmFormatSettings); break;
      case zftTime: text = zfTimeToStr(v, dtmFormatSettings); break;
      default: text = zfDateTimeToStr(v, dtmFormatSettings); break;
    }
    return dtmTextTarget.Store(text, aCut, aTarget);
  }
};

// The method of a Date, Time or DateTime source for a target that is no text; nullptr for a pair
// that is not offered under these settings.
TCode DateTimeCode(TzfFieldType aSource, TzfFieldDescriptor& aTarget, bool aBestFit) {
  const TzfFieldType target = aTarget.fdType;
  if (target == zftByteArray) {
    if (aTarget.fdUnits < 8) return nullptr;
    return aSource == zftDateTime ? &zfCopyFieldBytes<8> : &zfCopyFieldBytes<4>;
  }
  switch (aSource) {
    case zftDate:
      if (target == zftDate) return &zfCopyFieldBytes<4>;
      if (target == zftDateTime) return &DateToDateTime;
      if (target == zftTime) return aBestFit ? &StoreZero<4> : nullptr;
      return nullptr;
    case zftTime:
      if (target == zftTime) return &zfCopyFieldBytes<4>;
      if (target == zftDate) return aBestFit ? &StoreZero<4> : nullptr;
      if (target == zftDateTime) return aBestFit ? &StoreZero<8> : nullptr;
      return nullptr;
    default:
      switch (target) {
        case zftDouble: return &DateTimeToDouble;
        case zftDate: return aBestFit ? &DateTimeToDate<true> : &DateTimeToDate<false>;
        case zftTime: return aBestFit ? &DateTimeToTime<true> : &DateTimeToTime<false>;
        case zftDateTime: return &zfCopyFieldBytes<8>;
        default: return nullptr;
      }
  }
}

template <TzfFieldType Source>
std::unique_ptr<TzfBaseFieldMapper> TryDateTime(const TzfFieldMapperClass& aClass, TzfFieldDescriptor& aSourceField,
                                                IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                                const TzfFieldMapperDescriptor* aMapperDesc,
                                                TzfMappingMethod& aMapper) {
  aMapper.Clear();
  if (aSourceField.fdType != Source) return nullptr;
  const bool bestFit = zfIsBestFit(aMapperDesc);
  const TzfFieldType target = aTargetField.fdType;
  if (zfIsTextMappingTarget(target)) {
    auto mapper = std::make_unique<TzfDateTimeTextMapper>(Source, aTargetField);
    aMapper = bestFit ? zfMapperMethod<&TzfDateTimeTextMapper::ToTextCut>(mapper.get())
                      : zfMapperMethod<&TzfDateTimeTextMapper::ToTextCheck>(mapper.get());
    return mapper;
  }
  const TCode code = DateTimeCode(Source, aTargetField, bestFit);
  if (!code) return nullptr;
  // The Time mapper keeps an instance for the date and time targets as well.
  if (Source == zftTime && (target == zftDate || target == zftTime || target == zftDateTime)) {
    auto mapper = std::make_unique<TzfDateTimeTextMapper>(Source, aTargetField);
    aMapper = {code, mapper.get()};
    return mapper;
  }
  aMapper = {code, &aClass};
  return nullptr;
}

// ---- Guid source ----------------------------------------------------------------------------------

template <TzfFieldType K>
uint32_t GuidToText(const void*, const uint8_t* aSource, uint8_t* aTarget) {
  const rtl::UnicodeString text = rtl::GUIDToString(rtl::GUIDFromBytes(aSource));
  const size_t n = text.size();
  if constexpr (K == zftWideString) {
    for (size_t i = 0; i < n; ++i) zfStoreLE<uint16_t>(aTarget + 2 * i, text[i]);
    zfStoreLE<uint16_t>(aTarget + 2 * n, 0);
  } else {
    // Braces, hexadecimal digits and hyphens: the same bytes in every 8-bit code page used here.
    uint8_t* at = aTarget;
    if constexpr (K == zftShortString) *at++ = static_cast<uint8_t>(n);
    for (size_t i = 0; i < n; ++i) at[i] = static_cast<uint8_t>(text[i]);
    if constexpr (K == zftNullString) at[n] = 0;
  }
  return 0;
}

std::unique_ptr<TzfBaseFieldMapper> TryGuid(const TzfFieldMapperClass& aClass, TzfFieldDescriptor& aSourceField,
                                            IzfMapperCursor*, TzfFieldDescriptor& aTargetField, IzfMapperCursor*,
                                            const TzfFieldMapperDescriptor*, TzfMappingMethod& aMapper) {
  aMapper.Clear();
  if (aSourceField.fdType != zftGuid) return nullptr;
  const bool textFits = aTargetField.fdUnits > static_cast<int32_t>(kGuidTextLength);
  TCode code = nullptr;
  switch (aTargetField.fdType) {
    case zftGuid: code = &zfCopyFieldBytes<rtl::GUIDSize>; break;
    case zftByteArray:
      if (aTargetField.fdUnits >= static_cast<int32_t>(rtl::GUIDSize)) code = &zfCopyFieldBytes<rtl::GUIDSize>;
      break;
    case zftShortString: if (textFits) code = &GuidToText<zftShortString>; break;
    case zftNullString: if (textFits) code = &GuidToText<zftNullString>; break;
    case zftWideString: if (textFits) code = &GuidToText<zftWideString>; break;
    default: break;
  }
  if (code) aMapper = {code, &aClass};
  return nullptr;
}

}  // namespace

TzfDateTimeMapperBase::TzfDateTimeMapperBase(TzfFieldType aSourceType, TzfFieldDescriptor& aTargetField)
    : dtmSourceType(aSourceType),
      dtmTargetLength(aTargetField.fdLength),
      dtmFormatSettings(zfFieldFormatSettings(aTargetField)) {
  if (zfIsTextMappingTarget(aTargetField.fdType)) dtmTextTarget = TzfTextTarget::Of(aTargetField);
}

const TzfFieldMapperClass& TzfDateMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfDateMapper", &TryDateTime<zftDate>};
  return info;
}
const TzfFieldMapperClass& TzfTimeMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfTimeMapper", &TryDateTime<zftTime>};
  return info;
}
const TzfFieldMapperClass& TzfDateTimeMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfDateTimeMapper", &TryDateTime<zftDateTime>};
  return info;
}
const TzfFieldMapperClass& TzfGuidMapper::ClassInfo() {
  static const TzfFieldMapperClass info{u"TzfGuidMapper", &TryGuid};
  return info;
}

}  // namespace zf
