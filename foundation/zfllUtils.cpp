#include "foundation/zfllUtils.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllFastFillChar.h"
#include "foundation/zfmmMemoryLow.h"
#include "platform/locale/locCodePages.h"
#include "platform/locale/locCollation.h"
#include "platform/locale/locLocales.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlException.h"

namespace zf {

using rtl::u16;

namespace {

uint32_t SetMessage(uint32_t aErrorCode, const UnicodeString& aText) {
  return EzfBaseException::zfSetMessage(aErrorCode, aText);
}

constexpr uint32_t kErrInvalidTableName = zfErrInvalidTableName;
constexpr uint32_t kErrTableNotFound = zfErrNoSuchTable;

}  // namespace

// ---- Comparisons ----

int32_t zfCompareMem(const void* a, const void* b, size_t aLength) {
  if (aLength == 0) return 0;
  int r = std::memcmp(a, b, aLength);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int32_t zfCompareBytes(const TzfBytes& a, const TzfBytes& b) {
  if (!a.empty() && !b.empty()) {
    int32_t r = zfCompareMem(a.data(), b.data(), std::min(a.size(), b.size()));
    if (r != 0) return r;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

namespace {

template <bool kFold>
int32_t CompareShort(const uint8_t* s1, const uint8_t* s2, uint8_t aMaxLen) {
  uint8_t l1 = std::min(s1[0], aMaxLen), l2 = std::min(s2[0], aMaxLen);
  uint8_t n = std::min(l1, l2);
  for (uint8_t i = 1; i <= n; ++i) {
    uint8_t a = s1[i], b = s2[i];
    if constexpr (kFold) {
      if (a >= 'a' && a <= 'z') a = static_cast<uint8_t>(a - 32);
      if (b >= 'a' && b <= 'z') b = static_cast<uint8_t>(b - 32);
    }
    if (a != b) return a < b ? -1 : 1;
  }
  return zfCompareByte(l1, l2);
}

template <bool kFold>
int32_t WideLComp(const char16_t* s1, const char16_t* s2, uint32_t aMaxLen) {
  for (uint32_t i = 0; i < aMaxLen; ++i) {
    char16_t a = s1[i], b = s2[i];
    if constexpr (kFold) {
      a = rtl::AsciiUpper(a);
      b = rtl::AsciiUpper(b);
    }
    if (a != b) return static_cast<int32_t>(a) - static_cast<int32_t>(b);
    if (a == 0) break;
  }
  return 0;
}

}  // namespace

int32_t zfCompareShortStr(const uint8_t* s1, const uint8_t* s2, uint8_t aMaxLen) {
  return CompareShort<false>(s1, s2, aMaxLen);
}
int32_t zfCompareShortText(const uint8_t* s1, const uint8_t* s2, uint8_t aMaxLen) {
  return CompareShort<true>(s1, s2, aMaxLen);
}
int32_t zfWideStrLComp(const char16_t* s1, const char16_t* s2, uint32_t aMaxLen) {
  return WideLComp<false>(s1, s2, aMaxLen);
}
int32_t zfWideStrLIComp(const char16_t* s1, const char16_t* s2, uint32_t aMaxLen) {
  return WideLComp<true>(s1, s2, aMaxLen);
}

bool zfSameBytes(const TzfBytes& a, const TzfBytes& b) { return a == b; }

bool zfStrStartsWith(UnicodeStringView aText, UnicodeStringView aPrefix) {
  return aText.size() >= aPrefix.size() && aText.substr(0, aPrefix.size()) == aPrefix;
}

// ---- Bit sets ----

// Through the engine's fill routine; (count + 7) div 8 bytes always fit in 32 bits.
void zfClearAllBits(uint32_t* aBits, uint32_t aBitCount) {
  zfFastFillChar(aBits, static_cast<int32_t>((static_cast<uint64_t>(aBitCount) + 7) / 8), 0x00);
}
void zfSetAllBits(uint32_t* aBits, uint32_t aBitCount) {
  zfFastFillChar(aBits, static_cast<int32_t>((static_cast<uint64_t>(aBitCount) + 7) / 8), 0xFF);
}
void zfOrBits(uint32_t* aTarget, const uint32_t* aSource, uint32_t aBitCount) {
  auto* t = reinterpret_cast<uint8_t*>(aTarget);
  auto* s = reinterpret_cast<const uint8_t*>(aSource);
  size_t n = (static_cast<size_t>(aBitCount) + 7) / 8;
  for (size_t i = 0; i < n; ++i) t[i] |= s[i];
}

int32_t zfFindFirstClearBit(const uint32_t* aBits, uint32_t aBitCount) {
  // Word positions counted in 64 bits: with a count near 2^32, w * 32 would wrap to 0 in 32 bits
  // and the scan would run on past the set's last word.
  const uint64_t words = (static_cast<uint64_t>(aBitCount) + 31) / 32;
  for (uint64_t w = 0; w < words; ++w) {
    uint32_t word = aBits[w];
    if (word == 0xFFFFFFFFu) continue;
    uint64_t bit = w * 32 + static_cast<uint64_t>(__builtin_ctz(~word));
    return bit < aBitCount ? static_cast<int32_t>(bit) : -1;
  }
  return -1;
}

// ---- Hashing ----

uint32_t zfHashELF(const void* aData, size_t aLength) {
  auto* p = static_cast<const uint8_t*>(aData);
  uint32_t h = 0;
  for (size_t i = 0; i < aLength; ++i) {
    h = (h << 4) + p[i];
    uint32_t g = h & 0xF0000000u;
    if (g != 0) h ^= g >> 24;
    h &= ~g;
  }
  return h;
}

uint32_t zfHashString(UnicodeStringView aText) {
  uint32_t h = 0;
  for (char16_t c : aText) {
    for (uint8_t b : {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)}) {
      h = (h << 4) + b;
      uint32_t g = h & 0xF0000000u;
      if (g != 0) h ^= g >> 24;
      h &= ~g;
    }
  }
  return h;
}

// ---- Wide characters ----

void zfWidenBytes(const uint8_t* aSource, char16_t* aTarget, size_t aCount) {
  for (size_t i = 0; i < aCount; ++i) aTarget[i] = aSource[i];
}

void zfSwapWordBytes(void* aData, size_t aCount) {
  auto* p = static_cast<uint8_t*>(aData);
  for (size_t i = 0; i < aCount; ++i) std::swap(p[2 * i], p[2 * i + 1]);
}

const char16_t* zfWideStrPos(const char16_t* aText, const char16_t* aSub) {
  if (!aText || !aSub || !*aSub) return nullptr;
  UnicodeStringView t(aText), s(aSub);
  size_t p = t.find(s);
  return p == UnicodeStringView::npos ? nullptr : aText + p;
}

// ---- Texts and arrays ----

void zfSplitString(UnicodeStringView aText, const TzfCharSet& aDelimiters, UnicodeString& aLeft,
                   UnicodeString& aRight) {
  for (size_t i = 0; i < aText.size(); ++i) {
    if (aDelimiters.Contains(aText[i])) {
      aLeft = UnicodeString(aText.substr(0, i));
      aRight = UnicodeString(aText.substr(i + 1));
      return;
    }
  }
  aLeft = UnicodeString(aText);
  aRight.clear();
}

bool zfIsValidTableName(UnicodeStringView aName) {
  if (aName.empty()) return false;
  return aName.find_first_of(u"\"*./:<>?\\|") == UnicodeStringView::npos;
}

namespace {

}  // namespace

uint32_t zfCheckIdentifier(UnicodeStringView aName, uint32_t aErrorCode, bool aAllowEmpty, bool aAllowReserved) {
  const UnicodeString marker(zfOrgMarker);
  if (aName.empty()) {
    if (aAllowEmpty) return 0;
    return SetMessage(aErrorCode, marker + u" Empty string is not allowed.");
  }
  if (aName.front() == u' ' || aName.back() == u' ')
    return SetMessage(aErrorCode, marker + u" Leading/trailing spaces are not allowed.");
  if (aName.size() > 128)
    return SetMessage(aErrorCode, marker + u" Maximum length of 128 characters has been exceeded.");
  for (char16_t c : aName)
    if (!zfIsIdentifierChar(c))
      return SetMessage(aErrorCode, marker + u" \"" + UnicodeString(1, c) + u"\" is not a valid character.");
  if (!aAllowReserved && aName.front() == u'$')
    return SetMessage(aErrorCode, marker + u" Reserved Identifier not allowed.");
  return 0;
}

namespace {

const TzfCharSet& ColonSet() {
  static const TzfCharSet s{':'};
  return s;
}

}  // namespace

uint32_t zfCheckTableName(UnicodeStringView aName, bool aEmptyIsMissing, bool aAllowReserved) {
  UnicodeString left, right;
  zfSplitString(aName, ColonSet(), left, right);
  if (!right.empty())
    return SetMessage(kErrInvalidTableName,
                      UnicodeString(zfOrgMarker) + u" Child name separators \":\" are not allowed.");
  uint32_t r;
  if (aName.size() >= 3 && aName.front() == u'<' && aName.back() == u'>')
    r = zfCheckIdentifier(aName.substr(1, aName.size() - 2), kErrInvalidTableName, false, aAllowReserved);
  else
    r = zfCheckIdentifier(aName, kErrInvalidTableName, false, aAllowReserved);
  if (r != 0 && aName.empty() && aEmptyIsMissing) return kErrTableNotFound;
  return r;
}

uint32_t zfCheckTablePath(UnicodeStringView aPath) {
  UnicodeString rest(aPath), part;
  // Each round consumes one part and its ":"; the text shrinks, so the loop ends.
  do {
    UnicodeString tail;
    zfSplitString(rest, ColonSet(), part, tail);
    if (part != u"." && part != u"..") {
      uint32_t r = zfCheckIdentifier(part, kErrInvalidTableName, false, true);
      if (r != 0) return r;
    }
    rest = std::move(tail);
  } while (!rest.empty());
  return 0;
}

uint32_t zfCheckFullTableName(UnicodeStringView aName, bool aEmptyIsMissing, bool aAllowReserved) {
  UnicodeString root, rest;
  zfSplitString(aName, ColonSet(), root, rest);
  uint32_t r = zfCheckTableName(root, false, aAllowReserved);
  if (r == 0 && !rest.empty()) r = zfCheckTablePath(rest);
  if (r != 0 && aName.empty() && aEmptyIsMissing) return kErrTableNotFound;
  return r;
}

void zfStringsToDynArray(const std::vector<UnicodeString>* aList, TzfUnicodeStrings& aArray) {
  aArray.clear();
  if (aList) aArray = *aList;
}

void zfMakeUnicodeStrings(const UnicodeString& aText, TzfUnicodeStrings& aArray) {
  aArray.clear();
  if (!aText.empty()) aArray.push_back(aText);
}

void zfAppendUnicodeString(TzfUnicodeStrings& aArray, const UnicodeString& aText) { aArray.push_back(aText); }

void zfExtractUnicodeString(TzfUnicodeStrings& aArray, int32_t aIndex, UnicodeString& aText) {
  if (aIndex < 0 || static_cast<size_t>(aIndex) >= aArray.size()) rtl::RaiseRangeError();
  aText = std::move(aArray[static_cast<size_t>(aIndex)]);
  aArray.erase(aArray.begin() + aIndex);
}

// ---- Numbers, dates and GUIDs ----

namespace {

rtl::AnsiString Ascii(const std::string& aText) { return rtl::AnsiString(aText); }

}  // namespace

UnicodeString zfIntToStr(int32_t aValue) { return rtl::IntToStr(aValue); }
rtl::AnsiString zfIntToAnsiStr(int32_t aValue) { return Ascii(std::to_string(aValue)); }
UnicodeString zfInt64ToStr(int64_t aValue) { return rtl::IntToStr(aValue); }
rtl::AnsiString zfInt64ToAnsiStr(int64_t aValue) { return Ascii(std::to_string(aValue)); }

UnicodeString zfFloatToStr(long double aValue, const rtl::TFormatSettings& aSettings) {
  return rtl::FloatToStrF(aValue, rtl::TFloatFormat::ffGeneral, 15, 0, aSettings);
}
rtl::AnsiString zfFloatToAnsiStr(long double aValue, const rtl::TFormatSettings& aSettings) {
  return rtl::UnicodeToAnsi(zfFloatToStr(aValue, aSettings));
}

UnicodeString zfDateToStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings) {
  return rtl::DateToStr(aValue, aSettings);
}
rtl::AnsiString zfDateToAnsiStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings) {
  return rtl::UnicodeToAnsi(zfDateToStr(aValue, aSettings));
}
UnicodeString zfTimeToStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings) {
  return rtl::TimeToStr(aValue, aSettings);
}
rtl::AnsiString zfTimeToAnsiStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings) {
  return rtl::UnicodeToAnsi(zfTimeToStr(aValue, aSettings));
}
UnicodeString zfDateTimeToStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings) {
  return rtl::DateTimeToStr(aValue, aSettings);
}
rtl::AnsiString zfDateTimeToAnsiStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings) {
  return rtl::UnicodeToAnsi(zfDateTimeToStr(aValue, aSettings));
}

UnicodeString zfGUIDToStr(const rtl::TGUID& aGUID) { return rtl::GUIDToString(aGUID); }
rtl::AnsiString zfGUIDToAnsiStr(const rtl::TGUID& aGUID) { return Ascii(rtl::u8(rtl::GUIDToString(aGUID))); }

int32_t zfVarArrayLength(const rtl::Variant& aVariant) {
  return rtl::RangeChecked<int32_t>(int64_t{rtl::VarArrayHighBound(aVariant, 1)} - rtl::VarArrayLowBound(aVariant, 1) + 1);
}

int32_t zfAnsiStrToIntDef(std::string_view aText, int32_t aDefault) {
  int32_t v = 0;
  if (!rtl::TryStrToInt(u16(aText), v)) return aDefault;
  return v;
}

// ---- Command line ----

std::vector<UnicodeString> zfCmdLineParams() {
  std::vector<UnicodeString> r;
  for (const std::string& p : os::CommandLineParameters()) r.push_back(u16(p));
  return r;
}

bool zfFindCmdLineSwitch(const std::vector<UnicodeString>& aParams, UnicodeStringView aSwitch) {
  for (const UnicodeString& p : aParams)
    if (!p.empty() && (p[0] == u'-' || p[0] == u'/') && rtl::SameText(UnicodeStringView(p).substr(1), aSwitch))
      return true;
  return false;
}

bool zfFindCmdLineSwitch(UnicodeStringView aSwitch) { return zfFindCmdLineSwitch(zfCmdLineParams(), aSwitch); }

bool zfFindCmdLineSwitchValue(const std::vector<UnicodeString>& aParams, UnicodeStringView aSwitch,
                              UnicodeStringView aSwitchChars, bool aIgnoreCase, UnicodeString& aValue) {
  aValue.clear();
  for (const UnicodeString& p : aParams) {
    if (p.empty()) continue;
    if (!aSwitchChars.empty() && aSwitchChars.find(p[0]) == UnicodeStringView::npos) continue;
    UnicodeStringView name = UnicodeStringView(p).substr(1, aSwitch.size());
    bool match = aIgnoreCase ? rtl::SameText(name, aSwitch) : name == aSwitch;
    if (!match) continue;
    // The first parameter whose name part matches ends the scan, with or without a value.
    if (p.size() > aSwitch.size() + 2 && p[aSwitch.size() + 1] == u':') {
      aValue = p.substr(aSwitch.size() + 2);
      return true;
    }
    return false;
  }
  return false;
}

bool zfFindCmdLineSwitchValue(UnicodeStringView aSwitch, UnicodeStringView aSwitchChars, bool aIgnoreCase,
                              UnicodeString& aValue) {
  return zfFindCmdLineSwitchValue(zfCmdLineParams(), aSwitch, aSwitchChars, aIgnoreCase, aValue);
}

bool zfFindCmdLineSwitchValue(UnicodeStringView aSwitch, UnicodeString& aValue) {
  return zfFindCmdLineSwitchValue(aSwitch, u"-/", true, aValue);
}

// ---- Home directory ----

UnicodeString zfEscapeFolderName(UnicodeStringView aPath) {
  UnicodeString r;
  r.reserve(aPath.size());
  for (char16_t c : aPath) {
    bool escape = c < 0x20 || c >= 0x20AC;
    if (!escape) {
      switch (c) {
        case u' ': case u'#': case u'%': case u'*': case u'+': case u'/': case u':': case u'<':
        case u'>': case u'[': case u'\\': case u']':
          escape = true;
          break;
        default:
          break;
      }
    }
    if (escape) r += u"%" + rtl::IntToHex(c, 2);
    else r += c;
  }
  return r;
}

namespace {

UnicodeString WithDelimiter(UnicodeString aPath) {
  if (aPath.empty() || aPath.back() != u'/') aPath += u'/';
  return aPath;
}

UnicodeString WithoutDelimiter(UnicodeString aPath) {
  while (aPath.size() > 1 && aPath.back() == u'/') aPath.pop_back();
  return aPath;
}

void ForceDirectory(const UnicodeString& aPath) {
  std::error_code ec;
  std::filesystem::path p(rtl::u8(aPath));
  std::filesystem::create_directories(p, ec);
  if (ec || !std::filesystem::is_directory(p, ec))
    throw rtl::Exception(u"Could not create App Home Directory: " + aPath);
}

UnicodeString StateFolder() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && xdg[0] == '/') return WithDelimiter(u16(xdg));
  const char* home = std::getenv("HOME");
  std::string h = home ? home : "";
  if (h.empty()) {
    passwd pw{}, *res = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_dir) h = res->pw_dir;
  }
  if (h.empty()) return {};
  return WithDelimiter(u16(h)) + u".local/state/";
}

}  // namespace

TzfHomeContext zfCurrentHomeContext() {
  TzfHomeContext c;
  c.Params = zfCmdLineParams();
  c.ProgramFolder = WithDelimiter(rtl::ExtractFilePath(u16(os::ProcessPath())));
  c.StateFolder = StateFolder();
  return c;
}

void zfGetAppHomeDirectory(const TzfHomeContext& aContext, UnicodeStringView aSubPath, UnicodeString& aDir) {
  UnicodeString v;
  if (zfFindCmdLineSwitchValue(aContext.Params, u"CONFIG", u"-/", true, v)) {
    UnicodeString dir = v.front() == u'/' ? v : aContext.ProgramFolder + v;
    dir = WithoutDelimiter(dir);
    ForceDirectory(dir);
    aDir = WithDelimiter(dir);
    return;
  }
  UnicodeString dir;
  if (!aContext.StateFolder.empty()) {
    UnicodeString sub = rtl::StringReplaceAll(aSubPath, u"\\", u"/");
    dir = WithDelimiter(aContext.StateFolder + sub) + zfEscapeFolderName(aContext.ProgramFolder);
    ForceDirectory(dir);
    dir = WithDelimiter(dir);
  } else {
    dir = WithDelimiter(aContext.ProgramFolder);
  }
  UnicodeString s;
  if (zfFindCmdLineSwitchValue(aContext.Params, u"SERVICENAME", u"-/", true, s) &&
      rtl::UpperCase(s) != u"RADEREVIZIV3") {
    dir += s + u"/";
    ForceDirectory(dir);
  }
  aDir = dir;
}

void zfGetAppHomeDirectory(UnicodeStringView aSubPath, UnicodeString& aDir) {
  zfGetAppHomeDirectory(zfCurrentHomeContext(), aSubPath, aDir);
}

// ---- Handles ----

void (*zfRaiseHandleError)() = &zfRaiseLastOSErrorUnknown;

namespace {

void CloseExchanged(TzfHandle& aHandle, TzfHandle aEmpty) {
  TzfHandle old = std::atomic_ref<TzfHandle>(aHandle).exchange(aEmpty);
  if (old == 0 || old == zfInvalidHandle) return;
  if (::close(old) != 0) {
    os::SetLastError(errno);
    zfRaiseHandleError();
  }
}

}  // namespace

void zfCloseAndNilHandle(TzfHandle& aHandle) { CloseExchanged(aHandle, 0); }
void zfCloseAndInvalidateHandle(TzfHandle& aHandle) { CloseExchanged(aHandle, zfInvalidHandle); }

// ---- Live objects ----

namespace {

struct TLiveSlot {
  void* Object = nullptr;
  const rtl::TClassInfo* Class = nullptr;
  uint32_t Generation = 1;
  bool Live = false;
};

struct TLiveObjects {
  std::shared_mutex Lock;
  std::vector<TLiveSlot> Slots;
  std::vector<uint32_t> FreeSlots;
  size_t LiveCount = 0;
};

TLiveObjects& LiveObjects() {
  static TLiveObjects l;
  return l;
}

// Identity = generation in the high half, slot index + 1 in the low half (never 0).
bool DecodeIdentity(const TLiveObjects& l, TzfObjectIdentity aId, uint32_t& aSlot) {
  uint32_t low = static_cast<uint32_t>(aId);
  uint32_t gen = static_cast<uint32_t>(aId >> 32);
  if (low == 0 || low > l.Slots.size()) return false;
  const TLiveSlot& s = l.Slots[low - 1];
  if (!s.Live || s.Generation != gen) return false;
  aSlot = low - 1;
  return true;
}

}  // namespace

TzfObjectIdentity zfRegisterLiveObject(void* aObject, const rtl::TClassInfo* aClass) {
  TLiveObjects& l = LiveObjects();
  std::unique_lock g(l.Lock);
  uint32_t index;
  if (!l.FreeSlots.empty()) {
    index = l.FreeSlots.back();
    l.FreeSlots.pop_back();
  } else {
    if (l.Slots.size() >= 0xFFFFFFFEu) rtl::RaiseOutOfMemory();
    index = static_cast<uint32_t>(l.Slots.size());
    l.Slots.emplace_back();
  }
  TLiveSlot& s = l.Slots[index];
  s.Object = aObject;
  s.Class = aClass;
  s.Live = true;
  ++l.LiveCount;
  return (static_cast<uint64_t>(s.Generation) << 32) | (index + 1u);
}

bool zfUnregisterLiveObject(TzfObjectIdentity aIdentity) {
  TLiveObjects& l = LiveObjects();
  std::unique_lock g(l.Lock);
  uint32_t index;
  if (!DecodeIdentity(l, aIdentity, index)) return false;
  TLiveSlot& s = l.Slots[index];
  s.Object = nullptr;
  s.Class = nullptr;
  s.Live = false;
  --l.LiveCount;
  // A slot whose generations are used up is retired, so no identity ever names two objects.
  if (s.Generation != 0xFFFFFFFFu) {
    ++s.Generation;
    l.FreeSlots.push_back(index);
  }
  return true;
}

bool zfIsValidObject(TzfObjectIdentity aIdentity, void*& aObject, const rtl::TClassInfo*& aClass) {
  aObject = nullptr;
  aClass = nullptr;
  TLiveObjects& l = LiveObjects();
  std::shared_lock g(l.Lock);
  uint32_t index;
  if (!DecodeIdentity(l, aIdentity, index)) return false;
  aObject = l.Slots[index].Object;
  aClass = l.Slots[index].Class;
  return true;
}

bool zfVisitLiveObject(TzfObjectIdentity aIdentity, bool (*aVisit)(void*, const rtl::TClassInfo*, void*),
                       void* aCookie) {
  TLiveObjects& l = LiveObjects();
  std::shared_lock g(l.Lock);
  uint32_t index;
  if (!DecodeIdentity(l, aIdentity, index)) return false;
  return aVisit(l.Slots[index].Object, l.Slots[index].Class, aCookie);
}

size_t zfLiveObjectCount() {
  TLiveObjects& l = LiveObjects();
  std::shared_lock g(l.Lock);
  return l.LiveCount;
}

// ---- Locale and code-page facts ----

uint32_t zfDefaultCodePage = rtl::CP_THREAD_ACP;

namespace {

int32_t LocaleCompare(UnicodeStringView a, UnicodeStringView b, uint32_t aFlags) {
  int r = locale::CompareStringW(locale::LOCALE_SYSTEM_DEFAULT, aFlags, a, b);
  if (r == 0) rtl::RaiseRangeError();
  return r - locale::CSTR_EQUAL;
}

// A list the system gives, built once on first use.
template <typename T>
struct TCachedList {
  std::mutex Lock;
  bool Built = false;
  std::vector<T> Items;  // ascending
};

TCachedList<uint32_t>& LocaleList() {
  static TCachedList<uint32_t> l;
  return l;
}
TCachedList<uint16_t>& CodePageList() {
  static TCachedList<uint16_t> l;
  return l;
}

struct TThreadCodePage {
  bool Valid = false;
  locale::LCID Locale = 0;
  int32_t CodePage = -1;
};
thread_local TThreadCodePage tThreadCodePage;

struct TFormatSettingsCache {
  std::mutex Lock;
  std::map<UnicodeString, std::unique_ptr<rtl::TFormatSettings>> Items;  // by decimal locale number
};
TFormatSettingsCache& FormatSettingsCache() {
  static TFormatSettingsCache c;
  return c;
}

// A locale's date or time pattern in the letters FormatDateTime reads: era letters dropped, the
// am/pm letters ("t", "tt") as "AMPM"; quoted text kept.
UnicodeString TranslateLocaleFormat(UnicodeStringView aPattern) {
  UnicodeString r;
  for (size_t i = 0; i < aPattern.size();) {
    char16_t c = aPattern[i];
    if (c == u'\'' || c == u'"') {
      size_t j = aPattern.find(c, i + 1);
      if (j == UnicodeStringView::npos) j = aPattern.size() - 1;
      r.append(aPattern.substr(i, j - i + 1));
      i = j + 1;
      continue;
    }
    size_t run = 1;
    while (i + run < aPattern.size() && aPattern[i + run] == c) ++run;
    if (c == u't') r += u"AMPM";
    else if (c != u'g') r.append(run, c);
    i += run;
  }
  // "h:mm AMPM" leaves no blank doubled when an era was dropped at either end.
  return rtl::Trim(r);
}

std::unique_ptr<rtl::TFormatSettings> BuildFormatSettings(locale::LCID aLocale) {
  auto fs = std::make_unique<rtl::TFormatSettings>();
  UnicodeString v;
  auto get = [&](uint32_t aType) { v.clear(); return locale::GetLocaleInfo(aLocale, aType, v); };
  auto getChar = [&](uint32_t aType, char16_t& aChar) { if (get(aType) && !v.empty()) aChar = v[0]; };
  getChar(locale::LOCALE_SDECIMAL, fs->DecimalSeparator);
  getChar(locale::LOCALE_STHOUSAND, fs->ThousandSeparator);
  getChar(locale::LOCALE_SDATE, fs->DateSeparator);
  getChar(locale::LOCALE_STIME, fs->TimeSeparator);
  getChar(locale::LOCALE_SLIST, fs->ListSeparator);
  if (get(locale::LOCALE_SCURRENCY)) fs->CurrencyString = v;
  int32_t digits = 0;
  if (get(locale::LOCALE_ICURRDIGITS) && rtl::TryStrToInt(v, digits) && digits >= 0 && digits <= 18)
    fs->CurrencyDecimals = static_cast<uint8_t>(digits);
  if (get(locale::LOCALE_SSHORTDATE)) fs->ShortDateFormat = TranslateLocaleFormat(v);
  if (get(locale::LOCALE_SLONGDATE)) fs->LongDateFormat = TranslateLocaleFormat(v);
  if (get(locale::LOCALE_SSHORTTIME)) fs->ShortTimeFormat = TranslateLocaleFormat(v);
  if (get(locale::LOCALE_STIMEFORMAT)) fs->LongTimeFormat = TranslateLocaleFormat(v);
  if (get(locale::LOCALE_S1159)) fs->TimeAMString = v;
  if (get(locale::LOCALE_S2359)) fs->TimePMString = v;
  for (uint32_t m = 0; m < 12; ++m) {
    if (get(locale::LOCALE_SMONTHNAME1 + m)) fs->LongMonthNames[m] = v;
    if (get(locale::LOCALE_SABBREVMONTHNAME1 + m)) fs->ShortMonthNames[m] = v;
  }
  // The locale lists Monday first; the settings start with Sunday.
  for (uint32_t d = 0; d < 7; ++d) {
    size_t slot = (d + 1) % 7;
    if (get(locale::LOCALE_SDAYNAME1 + d)) fs->LongDayNames[slot] = v;
    if (get(locale::LOCALE_SABBREVDAYNAME1 + d)) fs->ShortDayNames[slot] = v;
  }
  return fs;
}

}  // namespace

int32_t zfLocaleCompareStr(UnicodeStringView a, UnicodeStringView b) { return LocaleCompare(a, b, 0); }
int32_t zfLocaleCompareText(UnicodeStringView a, UnicodeStringView b) {
  return LocaleCompare(a, b, locale::NORM_IGNORECASE);
}

char16_t* zfWideStrLower(char16_t* aText) {
  if (!aText) return aText;
  UnicodeStringView src(aText);
  UnicodeString lower;
  // The mapping is per character, so the text keeps its length and can be written back in place.
  if (locale::LCMapStringW(locale::LOCALE_SYSTEM_DEFAULT, locale::LCMAP_LOWERCASE, src, lower) &&
      lower.size() == src.size())
    std::copy(lower.begin(), lower.end(), aText);
  return aText;
}

int32_t zfThreadLocaleAnsiCodePage() {
  locale::LCID current = locale::GetThreadLocale();
  TThreadCodePage& c = tThreadCodePage;
  if (!c.Valid || c.Locale != current) {
    UnicodeString v;
    int32_t cp = -1;
    if (!locale::GetLocaleInfo(current, locale::LOCALE_IDEFAULTANSICODEPAGE, v) || !rtl::TryStrToInt(v, cp))
      cp = -1;
    c.Locale = current;
    c.CodePage = cp;
    c.Valid = true;
  }
  return c.CodePage;
}

bool zfIsValidLocale(uint32_t aLocale) {
  TCachedList<uint32_t>& l = LocaleList();
  std::lock_guard g(l.Lock);
  if (!l.Built) {
    l.Items = locale::SupportedLocales(true);
    if (l.Items.empty()) l.Items = locale::SupportedLocales(false);
    std::sort(l.Items.begin(), l.Items.end());
    l.Built = true;
  }
  return std::binary_search(l.Items.begin(), l.Items.end(), aLocale);
}

bool zfIsValidCodePage(uint32_t aCodePage) {
  if (aCodePage > 0xFFFF) return false;
  TCachedList<uint16_t>& l = CodePageList();
  {
    std::lock_guard g(l.Lock);
    if (!l.Built) {
      l.Items = locale::SupportedCodePages();
      std::sort(l.Items.begin(), l.Items.end());
      l.Built = true;
    }
    if (!std::binary_search(l.Items.begin(), l.Items.end(), static_cast<uint16_t>(aCodePage))) return false;
  }
  locale::TCPInfo info;
  return locale::GetCPInfo(aCodePage, info);
}

void zfGetLocaleNLSVersion(uint32_t aLocale, TzfNLSVersionInfoEx& aVersionInfo) {
  aVersionInfo = TzfNLSVersionInfoEx{};
  aVersionInfo.dwEffectiveId = aLocale;
  locale::TNLSVersionInfoEx info;
  info.dwNLSVersionInfoSize = 32;
  info.dwEffectiveId = aLocale;
  bool ok = locale::GetNLSVersion(aLocale, info);
  if (!ok) {
    // The short record: size, NLS version and defined version only.
    info.dwNLSVersionInfoSize = 12;
    ok = locale::GetNLSVersion(aLocale, info);
  }
  if (ok) {
    aVersionInfo.dwNLSVersionInfoSize = info.dwNLSVersionInfoSize;
    aVersionInfo.dwNLSVersion = info.dwNLSVersion;
    aVersionInfo.dwDefinedVersion = info.dwDefinedVersion;
    if (info.dwNLSVersionInfoSize >= 32) {
      aVersionInfo.dwEffectiveId = info.dwEffectiveId;
      std::memcpy(&aVersionInfo.guidCustomVersion, info.guidCustomVersion, 16);
    }
  }
  if (!zfIsValidLocale(aVersionInfo.dwEffectiveId)) aVersionInfo.dwEffectiveId = 0;
}

const rtl::TFormatSettings& zfGetLocaleFormatSettings(uint32_t aLocale) {
  TFormatSettingsCache& c = FormatSettingsCache();
  UnicodeString key = rtl::UIntToStr(aLocale);
  std::lock_guard g(c.Lock);
  auto it = c.Items.find(key);
  if (it == c.Items.end()) it = c.Items.emplace(key, BuildFormatSettings(aLocale)).first;
  return *it->second;
}

// ---- Memory status ----

namespace {

std::string ReadSmallFile(const char* aPath) {
  std::ifstream f(aPath, std::ios::binary);
  if (!f) return {};
  std::string s;
  char buf[4096];
  // Files of /proc are small; the bound keeps a strange one from growing without end.
  while (s.size() < (1u << 20) && f.read(buf, sizeof buf).gcount() > 0) s.append(buf, static_cast<size_t>(f.gcount()));
  return s;
}

bool LinuxMemoryStatus(TzfMemoryStatusEx& aStatus) {
  mm::TzfMemorySignal signal;
  if (!mm::zfmmReadMemorySignal(signal)) return false;
  std::string meminfo = ReadSmallFile("/proc/meminfo");
  uint64_t swapTotal = 0, swapFree = 0;
  mm::zfmmParseStatValue(meminfo.data(), meminfo.size(), "SwapTotal:", swapTotal);
  mm::zfmmParseStatValue(meminfo.data(), meminfo.size(), "SwapFree:", swapFree);
  if (!zfMemoryStatusFromSignal(signal, swapTotal * 1024, swapFree * 1024, aStatus)) return false;
  // The process's address space: 47 bits of user space, less what the process has mapped
  // (the first figure of /proc/self/statm, in pages).
  aStatus.ullTotalVirtual = uint64_t(1) << 47;
  aStatus.ullAvailVirtual = aStatus.ullTotalVirtual;
  std::string statm = ReadSmallFile("/proc/self/statm");
  uint64_t pages = 0;
  if (std::from_chars(statm.data(), statm.data() + statm.size(), pages).ec == std::errc()) {
    uint64_t mapped = pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    if (mapped < aStatus.ullTotalVirtual) aStatus.ullAvailVirtual = aStatus.ullTotalVirtual - mapped;
  }
  aStatus.ullAvailExtendedVirtual = 0;
  return true;
}

}  // namespace

bool zfMemoryStatusFromSignal(const mm::TzfMemorySignal& aSignal, uint64_t aSwapTotal, uint64_t aSwapFree,
                              TzfMemoryStatusEx& aStatus) {
  if (aSignal.MemTotal == 0) return false;
  uint64_t total = aSignal.MemTotal;
  uint64_t avail = std::min(aSignal.MemAvailable, total);
  if (aSignal.CgroupLimit > 0 && aSignal.CgroupLimit < total) {
    total = aSignal.CgroupLimit;
    uint64_t headroom = aSignal.CgroupUsage < aSignal.CgroupLimit ? aSignal.CgroupLimit - aSignal.CgroupUsage : 0;
    avail = std::min(avail, headroom);
  }
  TzfMemoryStatusEx s;
  s.ullTotalPhys = total;
  s.ullAvailPhys = avail;
  s.ullTotalPageFile = total + aSwapTotal;
  s.ullAvailPageFile = avail + std::min(aSwapFree, aSwapTotal);
  s.dwMemoryLoad = static_cast<uint32_t>((total - avail) * 100 / total);
  aStatus = s;
  return true;
}

TzfGlobalMemoryStatusExProc zfGlobalMemoryStatusEx = &LinuxMemoryStatus;

// ---- Unit start and stop ----

namespace {

void UtilsInit() {
  zfGlobalMemoryStatusEx = &LinuxMemoryStatus;
  zfDefaultCodePage = rtl::CP_THREAD_ACP;
}

void UtilsFini() {
  {
    TFormatSettingsCache& c = FormatSettingsCache();
    std::lock_guard g(c.Lock);
    c.Items.clear();
  }
  {
    TCachedList<uint32_t>& l = LocaleList();
    std::lock_guard g(l.Lock);
    l.Items.clear();
    l.Built = false;
  }
  TCachedList<uint16_t>& l = CodePageList();
  std::lock_guard g(l.Lock);
  l.Items.clear();
  l.Built = false;
}

}  // namespace

rtl::TUnitInit& zfllUtilsUnit() {
  static rtl::TUnitInit unit("zfllUtils", &UtilsInit, &UtilsFini);
  return unit;
}

}  // namespace zf
