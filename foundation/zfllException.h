// The engine's exception root, EzfBaseException, and the routines every unit raises with.
//
// An engine exception carries an error code, an optional custom text, named custom informations,
// the operating-system error behind the failure and a tree of exception data, and builds one
// message from them: "ZofrinDB: <text> [$<hex code>/<code>]" or "ZofrinDB: <text> [no error code]".
//
// Inside a custom text:
//  - the table-text marker "<[!þOrgþ!>" stands for the code's own table text;
//  - blocks "<[--!þ" name "=" value "þ!--]>" carry custom informations and are taken out of the
//    text. "OSError" (decimal OS error number) and "$ExceptionData$" (exception data as an encoded
//    "EDV" stream) have a meaning of their own.
//
// Per thread there is one pair of code and text: the pending message set by zfSetMessage (taken by
// the next code-form construction with the same code) and the last converted exception.
#pragma once
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/zfllErrors.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"
#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

using rtl::UnicodeString;
using rtl::UnicodeStringView;

// Marker texts ("þ" is U+00FE).
inline constexpr const char16_t* zfOrgMarker = u"<[!\u00FEOrg\u00FE!>";
inline constexpr const char16_t* zfCustomInfoStart = u"<[--!\u00FE";
inline constexpr const char16_t* zfCustomInfoEnd = u"\u00FE!--]>";
inline constexpr const char16_t* zfCustomInfoOSError = u"OSError";
inline constexpr const char16_t* zfCustomInfoAction = u"Action";
inline constexpr const char16_t* zfCustomInfoExceptionData = u"$ExceptionData$";

// The exception-data tree is provided by the exception-data unit, which sits above this one. The
// exception holds it through this opaque reference and reaches it only through the hooks below.
class IzfExceptionDataContainer;
using TzfExceptionDataRef = std::shared_ptr<IzfExceptionDataContainer>;

struct TzfExceptionDataHooks {
  // Decodes the value of a "$ExceptionData$" block; returns null when the stream's top value is
  // not a container. May raise for a malformed stream.
  TzfExceptionDataRef (*Decode)(const UnicodeString& aText) = nullptr;
  // Creates an empty container with the given name.
  TzfExceptionDataRef (*Create)(const UnicodeString& aName) = nullptr;
};
// Installs the hooks (the exception-data unit does so at start-up and clears them at shut-down).
// Without hooks a "$ExceptionData$" block is dropped and GetExceptionData gives null.
void zfSetExceptionDataHooks(const TzfExceptionDataHooks& aHooks);
TzfExceptionDataHooks zfGetExceptionDataHooks();

// Named custom informations: name=value lines in the order added, names compared without regard
// to case; assigning an empty value removes the line.
class TzfCustomInfos {
 public:
  using Line = std::pair<UnicodeString, UnicodeString>;

  UnicodeString Value(UnicodeStringView aName) const;
  void SetValue(UnicodeStringView aName, UnicodeStringView aValue);
  int IndexOfName(UnicodeStringView aName) const;
  void Delete(int aIndex) { FLines.erase(FLines.begin() + aIndex); }
  int Count() const { return static_cast<int>(FLines.size()); }
  const Line& operator[](int aIndex) const { return FLines.at(static_cast<size_t>(aIndex)); }
  // The lines as "name=value" texts.
  std::vector<UnicodeString> Lines() const;

 private:
  std::vector<Line> FLines;
};

// The pieces every exception class of the engine builds its message from (the client's database
// error too):
// Takes every custom-information block out of aText and answers what remains. A block without
// its end marker runs to the end of the text; blocks with a name and a value go into aInfos (a
// later one replaces an earlier value of the same name), and aAnyStored is then set.
UnicodeString zfExtractCustomInfoBlocks(UnicodeStringView aText, TzfCustomInfos& aInfos, bool& aAnyStored);
// The trimmed text; an empty text, or the text around the table-text marker, gets the code's table
// text (with a "." after the part before the marker when that part is longer than one character).
UnicodeString zfProcessErrorString(UnicodeStringView aText, uint32_t aErrorCode);
// Reads "OSError" into aOSError (0 unless a number of 32 bits) and takes "$ExceptionData$" out of
// aInfos into aData (decoded through the hooks; a damaged value is dropped). Never raises for a
// malformed value.
void zfApplySpecialCustomInfos(TzfCustomInfos& aInfos, uint32_t& aOSError, TzfExceptionDataRef& aData);

// What code that holds only an object reference reads of an engine exception.
class IzfBaseException {
 public:
  virtual uint32_t GetErrorCode() const = 0;
  virtual UnicodeString GetErrorString() const = 0;
  virtual UnicodeString GetProcessedErrorString() const = 0;
  virtual bool GetExtendedMsg() const = 0;
  virtual uint32_t GetOSError() const = 0;
  virtual TzfCustomInfos& GetCustomInfos() = 0;
  virtual TzfExceptionDataRef GetExceptionData() = 0;

 protected:
  ~IzfBaseException() = default;
};

// Tag of the constructor that builds the exception for a failed operating-system call.
struct TzfOSErrorTag {};
inline constexpr TzfOSErrorTag zfOSErrorTag{};

class EzfBaseException : public rtl::Exception, public IzfBaseException {
 public:
  // Code form: the custom text is the thread's pending text when the pending code equals
  // aErrorCode and the text is not empty; otherwise there is none.
  explicit EzfBaseException(uint32_t aErrorCode);
  // Code with a custom text, or a format and its arguments.
  EzfBaseException(uint32_t aErrorCode, UnicodeStringView aAltMsg);
  EzfBaseException(uint32_t aErrorCode, UnicodeStringView aFormat, rtl::FormatArgs aArgs);
  // Without a code (code 0).
  explicit EzfBaseException(UnicodeStringView aMsg);
  EzfBaseException(UnicodeStringView aFormat, rtl::FormatArgs aArgs);
  // Failed operating-system call: reads the thread's last OS error first (see
  // zfCreateOSErrorException).
  EzfBaseException(TzfOSErrorTag, uint32_t aErrorCode, UnicodeStringView aAction);

  EzfBaseException(const EzfBaseException&) = default;
  EzfBaseException& operator=(const EzfBaseException&) = default;
  ~EzfBaseException() override = default;

  const char* ClassName() const noexcept override { return "EzfBaseException"; }

  // The per-thread pending message / last converted exception.
  static uint32_t zfSetMessage(uint32_t aErrorCode, UnicodeStringView aAltMsg);
  static uint32_t zfSetMessage(uint32_t aErrorCode, UnicodeStringView aFormat, rtl::FormatArgs aArgs);
  static void SetLastConvertedException(uint32_t aErrorCode, UnicodeStringView aCustomMessage);
  static void GetLastConvertedException(uint32_t& aErrorCode, UnicodeString& aCustomMessage);

  // The text of a code (the message table's).
  static UnicodeString ErrorCodeToText(uint32_t aErrorCode) { return zfErrorCodeToText(aErrorCode); }

  uint32_t GetErrorCode() const override { return beErrorCode; }
  UnicodeString GetErrorString() const override { return beErrorString; }
  UnicodeString GetProcessedErrorString() const override;
  bool GetExtendedMsg() const override { return beExtendedMsg; }
  uint32_t GetOSError() const override { return beOSError; }
  TzfCustomInfos& GetCustomInfos() override;
  TzfExceptionDataRef GetExceptionData() override;

  uint32_t ErrorCode() const { return beErrorCode; }
  // Read-only views that create nothing (for handlers holding a const reference).
  const TzfCustomInfos& CustomInfos() const { return beCustomInfos; }
  bool HasCustomInfos() const { return beHasCustomInfos; }
  const TzfExceptionDataRef& ExceptionData() const { return beExceptionData; }

 private:
  void ExtractCustomInfos(UnicodeStringView aText);
  void ApplyCustomInfos();
  void Finish(bool aHasCode);

  uint32_t beErrorCode = 0;
  UnicodeString beErrorString;
  bool beExtendedMsg = false;
  TzfCustomInfos beCustomInfos;
  bool beHasCustomInfos = false;  // the list is "created" on first use
  uint32_t beOSError = 0;
  TzfExceptionDataRef beExceptionData;
};

// Declares an engine exception class: derives from Parent (EzfBaseException or one of its
// descendants), keeps all its constructors and reports its own class name.
#define ZF_DECLARE_ENGINE_EXCEPTION(Name, Parent)                                         \
  static_assert(std::is_base_of_v<::zf::EzfBaseException, Parent>,                        \
                #Name " must descend from EzfBaseException");                             \
  ZF_DECLARE_EXCEPTION(Name, Parent)

// Raises EzfBaseException(aErrorCode) for a non-zero code (so a pending text for it is used).
void zfRaiseIfError(uint32_t aErrorCode);

// "<[--!þ" + aName + "=" + aValue + "þ!--]>".
UnicodeString zfEncodeCustomInfo(UnicodeStringView aName, UnicodeStringView aValue);

// Splits into lines, drops trailing blank lines; one line stays one line (right-trimmed), two or
// more become each line + CR LF followed by one more CR LF.
UnicodeString zfTidyMessage(UnicodeStringView aText);

// The exception of class E for a failed operating-system call, not raised: code aErrorCode (11047
// when 0), the thread's last OS error, custom informations "OSError" and "Action".
template <class E = EzfBaseException>
E zfCreateOSErrorException(uint32_t aErrorCode, UnicodeStringView aAction) {
  static_assert(std::is_base_of_v<EzfBaseException, E>);
  return E(zfOSErrorTag, aErrorCode, aAction);
}
template <class E = EzfBaseException>
E zfCreateOSErrorException(uint32_t aErrorCode, UnicodeStringView aFormat, rtl::FormatArgs aArgs) {
  static_assert(std::is_base_of_v<EzfBaseException, E>);
  const int osError = zf::os::GetLastError();  // formatting must not lose the call's error
  UnicodeString action = rtl::Format(aFormat, aArgs);
  zf::os::SetLastError(osError);
  return E(zfOSErrorTag, aErrorCode, action);
}

[[noreturn]] void zfRaiseLastOSError(UnicodeStringView aAction, uint32_t aErrorCode = 0);
[[noreturn]] void zfRaiseLastOSErrorUnknown();
// Raises zfRaiseLastOSError(aAction, 0) when aResult is false; returns aResult.
bool zfWin32Check(bool aResult, UnicodeStringView aAction);

// Resource-string forms: a resource string is plain text here.
[[noreturn]] inline void zfRaiseLastOSErrorRes(UnicodeStringView aActionRes, uint32_t aErrorCode = 0) {
  zfRaiseLastOSError(aActionRes, aErrorCode);
}
inline bool zfWin32CheckRes(bool aResult, UnicodeStringView aActionRes) { return zfWin32Check(aResult, aActionRes); }

rtl::TUnitInit& zfllExceptionUnit();

}  // namespace zf
