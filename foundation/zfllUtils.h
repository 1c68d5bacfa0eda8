// Small routines every engine unit shares: three-way comparisons, bit sets, the string hash,
// number, date and GUID texts under explicit format settings, command-line switches, the engine's
// home directory, identifier and table-name checks, the registry of live objects handed out to
// clients, memory status and locale facts.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/zfmmMemoryLow.h"
#include "platform/rtl/rtlAnsiString.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlFormat.h"
#include "platform/rtl/rtlGuid.h"
#include "platform/rtl/rtlRegistry.h"
#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlUnits.h"
#include "platform/rtl/rtlVariant.h"

namespace zf {

using rtl::UnicodeString;
using rtl::UnicodeStringView;
using TzfUnicodeStrings = std::vector<UnicodeString>;
using TzfBytes = std::vector<uint8_t>;

// ---- Three-way comparisons: -1 when the first is smaller, 0 when equal, 1 when greater ----

inline int32_t zfCompareByte(uint8_t a, uint8_t b) { return a < b ? -1 : (a > b ? 1 : 0); }
inline int32_t zfCompareWord(uint16_t a, uint16_t b) { return a < b ? -1 : (a > b ? 1 : 0); }
inline int32_t zfCompareCardinal(uint32_t a, uint32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }
inline int32_t zfCompareShortInt(int8_t a, int8_t b) { return a < b ? -1 : (a > b ? 1 : 0); }
inline int32_t zfCompareSmallInt(int16_t a, int16_t b) { return a < b ? -1 : (a > b ? 1 : 0); }
inline int32_t zfCompareInteger(int32_t a, int32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }
inline int32_t zfCompareInt64(int64_t a, int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }
inline int8_t zfCompareInt64Ref(const int64_t* a, const int64_t* b) { return *a < *b ? -1 : (*a > *b ? 1 : 0); }
// Addresses compared unsigned: the default order of sorted lists.
inline int32_t zfComparePointer(const void* a, const void* b) {
  auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}
inline int32_t zfCompareObject(const void* a, const void* b) { return zfComparePointer(a, b); }

// Bytes compared unsigned, the first difference decides; 0 for length 0.
int32_t zfCompareMem(const void* a, const void* b, size_t aLength);
// Both non-empty: bytes over the shorter length; when equal there (or either is empty) the
// shorter array is the smaller.
int32_t zfCompareBytes(const TzfBytes& a, const TzfBytes& b);
// Short strings: a length byte followed by that many bytes. Compares the bytes over
// min(len1, len2, aMaxLen), then min(len1, aMaxLen) against min(len2, aMaxLen).
int32_t zfCompareShortStr(const uint8_t* s1, const uint8_t* s2, uint8_t aMaxLen);
// As zfCompareShortStr with "a" to "z" folded to upper case.
int32_t zfCompareShortText(const uint8_t* s1, const uint8_t* s2, uint8_t aMaxLen);
// Wide character buffers: the difference of the first differing characters, comparing at most
// aMaxLen characters and stopping after a zero character; 0 when equal.
int32_t zfWideStrLComp(const char16_t* s1, const char16_t* s2, uint32_t aMaxLen);
int32_t zfWideStrLIComp(const char16_t* s1, const char16_t* s2, uint32_t aMaxLen);

inline int32_t zfMinInteger(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t zfMaxInteger(int32_t a, int32_t b) { return a > b ? a : b; }
inline uint32_t zfMinCardinal(uint32_t a, uint32_t b) { return a < b ? a : b; }
inline uint16_t zfMaxWord(uint16_t a, uint16_t b) { return a > b ? a : b; }
inline const void* zfMaxPointer(const void* a, const void* b) { return zfComparePointer(a, b) >= 0 ? a : b; }
inline int64_t zfMinInt64(int64_t a, int64_t b) { return a < b ? a : b; }
inline int64_t zfMaxInt64(int64_t a, int64_t b) { return a > b ? a : b; }

bool zfSameBytes(const TzfBytes& a, const TzfBytes& b);
inline bool zfSameGUID(const rtl::TGUID& a, const rtl::TGUID& b) { return a == b; }
// aText is at least as long as aPrefix and starts with it exactly (an empty prefix matches).
bool zfStrStartsWith(UnicodeStringView aText, UnicodeStringView aPrefix);

// ---- Bit sets: bit i is bit (i and 31) of word (i shr 5) ----

inline int32_t zfTestBit(const uint32_t* aBits, uint32_t aIndex) { return (aBits[aIndex >> 5] >> (aIndex & 31)) & 1; }
inline void zfSetBit(uint32_t* aBits, uint32_t aIndex) { aBits[aIndex >> 5] |= (1u << (aIndex & 31)); }
inline void zfClearBit(uint32_t* aBits, uint32_t aIndex) { aBits[aIndex >> 5] &= ~(1u << (aIndex & 31)); }
// Fill (aBitCount + 7) div 8 bytes with $00 / $FF.
void zfClearAllBits(uint32_t* aBits, uint32_t aBitCount);
void zfSetAllBits(uint32_t* aBits, uint32_t aBitCount);
// ORs (aBitCount + 7) div 8 bytes of aSource into aTarget.
void zfOrBits(uint32_t* aTarget, const uint32_t* aSource, uint32_t aBitCount);
// Lowest clear bit below aBitCount, or -1.
int32_t zfFindFirstClearBit(const uint32_t* aBits, uint32_t aBitCount);

// ---- Hashing ----

uint32_t zfHashELF(const void* aData, size_t aLength);
// ELF hash over the UTF-16 little-endian bytes of the text; 0 for an empty text.
uint32_t zfHashString(UnicodeStringView aText);

// ---- Wide characters ----

void zfWidenBytes(const uint8_t* aSource, char16_t* aTarget, size_t aCount);
void zfSwapWordBytes(void* aData, size_t aCount);
// First occurrence of aSub in the zero-terminated aText, or nullptr (also for an empty aSub).
const char16_t* zfWideStrPos(const char16_t* aText, const char16_t* aSub);
inline int32_t zfWideStrPosCompare(const char16_t* aText, const char16_t* aSub) {
  return zfWideStrPos(aText, aSub) ? 0 : -1;
}

// ---- Texts and arrays ----

// A set of 8-bit characters (as the platform's set of AnsiChar).
class TzfCharSet {
 public:
  TzfCharSet() = default;
  TzfCharSet(std::initializer_list<char> aChars) {
    for (char c : aChars) Include(static_cast<uint8_t>(c));
  }
  void Include(uint8_t c) { FBits[c >> 5] |= 1u << (c & 31); }
  bool Contains(char16_t c) const { return c < 256 && ((FBits[c >> 5] >> (c & 31)) & 1); }

 private:
  uint32_t FBits[8] = {};
};

// Splits at the first character in aDelimiters (characters above 255 never are) and drops it;
// without one, aLeft = aText and aRight is empty.
void zfSplitString(UnicodeStringView aText, const TzfCharSet& aDelimiters, UnicodeString& aLeft,
                   UnicodeString& aRight);

// Not empty and none of the characters " * . / : < > ? \ |.
bool zfIsValidTableName(UnicodeStringView aName);

// 0, or aErrorCode with the thread's pending message naming the reason. Never raises.
uint32_t zfCheckIdentifier(UnicodeStringView aName, uint32_t aErrorCode, bool aAllowEmpty, bool aAllowReserved);

// Table names. A root name may not hold ":"; a bracketed name ("<x>") is checked without its
// brackets. aEmptyIsMissing turns the failure of an empty name into 10024.
uint32_t zfCheckTableName(UnicodeStringView aName, bool aEmptyIsMissing, bool aAllowReserved);
// A ":"-separated path of child names; "." and ".." are allowed as parts. 0 or 10039.
uint32_t zfCheckTablePath(UnicodeStringView aPath);
// A root table name, optionally followed by ":" and a child path.
uint32_t zfCheckFullTableName(UnicodeStringView aName, bool aEmptyIsMissing, bool aAllowReserved);

void zfStringsToDynArray(const std::vector<UnicodeString>* aList, TzfUnicodeStrings& aArray);
void zfMakeUnicodeStrings(const UnicodeString& aText, TzfUnicodeStrings& aArray);
void zfAppendUnicodeString(TzfUnicodeStrings& aArray, const UnicodeString& aText);
// Returns element aIndex and removes it; an index outside the array is a range error.
void zfExtractUnicodeString(TzfUnicodeStrings& aArray, int32_t aIndex, UnicodeString& aText);

// ---- Numbers, dates and GUIDs ----

// Each text in two forms: a string, and 8-bit text in the system ANSI code page.
UnicodeString zfIntToStr(int32_t aValue);
rtl::AnsiString zfIntToAnsiStr(int32_t aValue);
UnicodeString zfInt64ToStr(int64_t aValue);
rtl::AnsiString zfInt64ToAnsiStr(int64_t aValue);
// General format, 15 significant digits, the settings' decimal separator.
UnicodeString zfFloatToStr(long double aValue, const rtl::TFormatSettings& aSettings);
rtl::AnsiString zfFloatToAnsiStr(long double aValue, const rtl::TFormatSettings& aSettings);
// Short date format; long time format; both joined by a blank, the time omitted at midnight.
UnicodeString zfDateToStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings);
rtl::AnsiString zfDateToAnsiStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings);
UnicodeString zfTimeToStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings);
rtl::AnsiString zfTimeToAnsiStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings);
UnicodeString zfDateTimeToStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings);
rtl::AnsiString zfDateTimeToAnsiStr(rtl::TDateTime aValue, const rtl::TFormatSettings& aSettings);
// "{" 8-4-4-4-12 upper-case hexadecimal digits "}".
UnicodeString zfGUIDToStr(const rtl::TGUID& aGUID);
rtl::AnsiString zfGUIDToAnsiStr(const rtl::TGUID& aGUID);
// The decimal value of an 8-bit text, or aDefault.
int32_t zfAnsiStrToIntDef(std::string_view aText, int32_t aDefault);

inline rtl::TTimeStamp zfMakeTimeStamp(int32_t aDate, int32_t aTime) {
  rtl::TTimeStamp t;
  t.Date = aDate;
  t.Time = aTime;
  return t;
}

// Element count of dimension 1 of a variant array (high bound - low bound + 1); a value that is
// no array raises EVariantError.
int32_t zfVarArrayLength(const rtl::Variant& aVariant);

// ---- Command line ----

// The program's parameters, without the program path.
std::vector<UnicodeString> zfCmdLineParams();

// True when some parameter is "-" or "/" followed by aSwitch (case ignored) and nothing else.
bool zfFindCmdLineSwitch(UnicodeStringView aSwitch);
bool zfFindCmdLineSwitch(const std::vector<UnicodeString>& aParams, UnicodeStringView aSwitch);
// The value of "<switch char><aSwitch>:<value>"; the scan stops at the first parameter whose name
// part matches. aSwitchChars empty: any first character qualifies.
bool zfFindCmdLineSwitchValue(const std::vector<UnicodeString>& aParams, UnicodeStringView aSwitch,
                              UnicodeStringView aSwitchChars, bool aIgnoreCase, UnicodeString& aValue);
bool zfFindCmdLineSwitchValue(UnicodeStringView aSwitch, UnicodeStringView aSwitchChars, bool aIgnoreCase,
                              UnicodeString& aValue);
// "-" or "/", case ignored.
bool zfFindCmdLineSwitchValue(UnicodeStringView aSwitch, UnicodeString& aValue);

// ---- Home directory ----

// Turns a path into one folder name: blank # % * + / : < > [ \ ], characters below U+0020 and
// from U+20AC up become "%" and their code in upper-case hexadecimal (at least two digits).
UnicodeString zfEscapeFolderName(UnicodeStringView aPath);

// Where the engine's home directory is derived from; zfCurrentHomeContext() reads the process's.
struct TzfHomeContext {
  std::vector<UnicodeString> Params;  // command-line parameters
  UnicodeString ProgramFolder;        // with trailing "/"
  UnicodeString StateFolder;          // $XDG_STATE_HOME, else ~/.local/state; with trailing "/"
};
TzfHomeContext zfCurrentHomeContext();

// The engine's home directory with a trailing "/", created when missing: the "CONFIG" switch's
// folder (relative to the program folder unless absolute); otherwise the state folder + aSubPath
// + the escaped program folder, plus a "SERVICENAME" sub-folder. Creation failure raises
// rtl::Exception "Could not create App Home Directory: " + path.
void zfGetAppHomeDirectory(UnicodeStringView aSubPath, UnicodeString& aDir);
void zfGetAppHomeDirectory(const TzfHomeContext& aContext, UnicodeStringView aSubPath, UnicodeString& aDir);

// ---- Handles ----

// An operating-system handle (a file descriptor here); 0 and -1 both mean "no handle".
using TzfHandle = int32_t;
inline constexpr TzfHandle zfInvalidHandle = -1;

// Raises the failure of closing a handle; holds zfRaiseLastOSErrorUnknown (code 11047, action
// "[unknown]").
extern void (*zfRaiseHandleError)();
// Exchange the variable atomically with 0 (or -1) and close the old handle when there was one, so
// two threads closing the same variable close the handle once.
void zfCloseAndNilHandle(TzfHandle& aHandle);
void zfCloseAndInvalidateHandle(TzfHandle& aHandle);

// ---- Live objects handed to clients ----
//
// Clients refer to server objects by an identity. The server answers whether an identity is a
// live object only from this registry, never by reading memory at an address: an identity is
// (slot, generation), and a freed slot's next user gets a new generation, so an identity that
// was never handed out, or whose object has gone, is simply not valid.

using TzfObjectIdentity = uint64_t;
inline constexpr TzfObjectIdentity zfNoObjectIdentity = 0;

// Registers a live object of class aClass; answers its identity (never 0).
TzfObjectIdentity zfRegisterLiveObject(void* aObject, const rtl::TClassInfo* aClass);
// Forgets the object; False when the identity is not a live object.
bool zfUnregisterLiveObject(TzfObjectIdentity aIdentity);
// True when aIdentity names a live object; aObject and aClass are then set, else cleared.
bool zfIsValidObject(TzfObjectIdentity aIdentity, void*& aObject, const rtl::TClassInfo*& aClass);
// Calls aVisit with the object and its class under the registry's read lock when aIdentity names a
// live object, so that the object cannot leave the registry (and so cannot be freed by an owner
// that unregisters it first) while aVisit reads it. Answers aVisit's answer; False when not live.
// aVisit must not register or unregister objects.
bool zfVisitLiveObject(TzfObjectIdentity aIdentity, bool (*aVisit)(void* aObject, const rtl::TClassInfo* aClass,
                                                                    void* aCookie),
                       void* aCookie);
// Number of live objects (for leak checks).
size_t zfLiveObjectCount();

// ---- Locale and code-page facts ----

// The code page conversions use when none is given: 3, the calling thread's ANSI code page.
extern uint32_t zfDefaultCodePage;

// Compare by the system default locale's rules, case-sensitive or ignoring case: -1, 0 or 1. A
// failing comparison is a range error.
int32_t zfLocaleCompareStr(UnicodeStringView a, UnicodeStringView b);
int32_t zfLocaleCompareText(UnicodeStringView a, UnicodeStringView b);
// Lower-cases the zero-terminated text in place by the system default locale; returns it.
char16_t* zfWideStrLower(char16_t* aText);

// The default ANSI code page of the calling thread's locale; -1 when the locale gives none.
// Cached per thread with the locale it was read for.
int32_t zfThreadLocaleAnsiCodePage();
// True when the system lists the locale (alternate sorts included) / the code page.
bool zfIsValidLocale(uint32_t aLocale);
bool zfIsValidCodePage(uint32_t aCodePage);

// The 32-byte extended NLS version record stored by locale descriptors.
struct TzfNLSVersionInfoEx {
  uint32_t dwNLSVersionInfoSize = 0;
  uint32_t dwNLSVersion = 0;
  uint32_t dwDefinedVersion = 0;
  uint32_t dwEffectiveId = 0;
  rtl::TGUID guidCustomVersion;
};
static_assert(sizeof(TzfNLSVersionInfoEx) == 32);
// Clears the record, sets its effective locale to aLocale and asks for the locale's
// string-comparison version (full record, else the short one); the effective locale becomes 0
// when it is not a valid locale.
void zfGetLocaleNLSVersion(uint32_t aLocale, TzfNLSVersionInfoEx& aVersionInfo);

// The format settings of a locale, built from the locale data on first request and kept for the
// process's life.
const rtl::TFormatSettings& zfGetLocaleFormatSettings(uint32_t aLocale);

// ---- Operating-system facts ----

// The extended memory status, as the engine sizes its caches with it.
struct TzfMemoryStatusEx {
  uint32_t dwLength = sizeof(TzfMemoryStatusEx);
  uint32_t dwMemoryLoad = 0;  // percent of physical memory in use
  uint64_t ullTotalPhys = 0;
  uint64_t ullAvailPhys = 0;
  uint64_t ullTotalPageFile = 0;
  uint64_t ullAvailPageFile = 0;
  uint64_t ullTotalVirtual = 0;
  uint64_t ullAvailVirtual = 0;
  uint64_t ullAvailExtendedVirtual = 0;
};
using TzfGlobalMemoryStatusExProc = bool (*)(TzfMemoryStatusEx& aStatus);
// Bound at start-up; reads /proc/meminfo and, when one is set, the cgroup's memory limit.
extern TzfGlobalMemoryStatusExProc zfGlobalMemoryStatusEx;

// Builds the status from the kernel's figures: a cgroup limit below the machine's memory bounds
// the physical total and what is available.
bool zfMemoryStatusFromSignal(const mm::TzfMemorySignal& aSignal, uint64_t aSwapTotal, uint64_t aSwapFree,
                              TzfMemoryStatusEx& aStatus);

// The unit's start and stop.
rtl::TUnitInit& zfllUtilsUnit();

}  // namespace zf
