#include "foundation/zfllWideString.h"

#include <climits>

#include "foundation/zfllException.h"
#include "platform/locale/locCodePages.h"
#include "platform/locale/locCollation.h"
#include "platform/locale/locLocales.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlException.h"

namespace zf {

UnicodeString (*zfWideLCMapString)(UnicodeStringView, uint32_t, uint32_t) = &zfWideLCMapStringW;

namespace {

constexpr const char* kUnit = "zfllWideString";

uint32_t UsedCodePage(uint32_t aCodePage) { return aCodePage == 0 ? zfDefaultCodePage : aCodePage; }

int32_t CheckedLength(size_t aLength) {
  // Longer texts than the services take are refused like any invalid argument.
  if (aLength > static_cast<size_t>(INT32_MAX)) {
    os::SetLastError(EINVAL);
    return -1;
  }
  return static_cast<int32_t>(aLength);
}

// One conversion in two passes (length, then conversion), each failure raised with its action;
// the second pass must fill exactly what the first announced. aConvert(code page, destination,
// destination length) is the locale layer's buffer form.
template <class In, class Out, class Convert>
void TwoPass(In aText, uint32_t aCodePage, Out& aResult, UnicodeStringView aAction1, UnicodeStringView aAction2,
             Convert aConvert) {
  aResult.clear();
  if (aText.empty()) return;
  uint32_t cp = UsedCodePage(aCodePage);
  if (CheckedLength(aText.size()) < 0) zfRaiseLastOSError(aAction1, 0);
  os::SetLastError(0);
  int32_t n = aConvert(cp, static_cast<typename Out::value_type*>(nullptr), 0);
  if (n == 0) {
    if (os::GetLastError() == 0) return;  // bytes that stand for no character (a lone shift)
    zfRaiseLastOSError(aAction1, 0);
  }
  aResult.resize(static_cast<size_t>(n));
  int32_t m = aConvert(cp, aResult.data(), n);
  if (m == 0) zfRaiseLastOSError(aAction2, 0);
  ZF_ASSERT(m == n, kUnit);
}

// 8-bit text to UTF-16.
template <class Out>
void Decode(std::string_view aText, uint32_t aCodePage, Out& aResult, UnicodeStringView aAction1,
            UnicodeStringView aAction2) {
  TwoPass(aText, aCodePage, aResult, aAction1, aAction2, [&](uint32_t cp, char16_t* aDest, int32_t aLen) {
    return locale::MultiByteToWideChar(cp, 0, aText, aDest, aLen);
  });
}

// UTF-16 to 8-bit text.
template <class Out>
void Encode(UnicodeStringView aText, uint32_t aCodePage, Out& aResult, UnicodeStringView aAction1,
            UnicodeStringView aAction2) {
  TwoPass(aText, aCodePage, aResult, aAction1, aAction2, [&](uint32_t cp, auto* aDest, int32_t aLen) {
    return locale::WideCharToMultiByte(cp, 0, aText, reinterpret_cast<char*>(aDest), aLen);
  });
}

UnicodeStringView View(const TzfWideString& aText) { return UnicodeStringView(aText.data(), aText.size()); }

constexpr const char16_t* kToWide1 = u"zfStringToWideString/MultiByteToWideChar/1";
constexpr const char16_t* kToWide2 = u"zfStringToWideString/MultiByteToWideChar/2";
constexpr const char16_t* kToString1 = u"zfWideStringToString/WideCharToMultiByte/1";
constexpr const char16_t* kToString2 = u"zfWideStringToString/WideCharToMultiByte/2";

void EncodeAnsi(UnicodeStringView aText, uint32_t aCodePage, rtl::AnsiString& aResult) {
  std::string bytes;
  Encode(aText, aCodePage, bytes, kToString1, kToString2);
  aResult = rtl::AnsiString(std::move(bytes), rtl::ResolveCodePage(static_cast<uint16_t>(UsedCodePage(aCodePage))));
}

void Start() {
  zfWideLCMapString = &zfWideLCMapStringW;
  // From here on the run time's 8-bit conversions know every code page of the locale layer.
  locale::InstallCodePageConverter();
}

void Stop() { locale::RemoveCodePageConverter(); }

}  // namespace

void zfStringToWideString(std::string_view aText, uint32_t aCodePage, TzfWideString& aResult) {
  Decode(aText, aCodePage, aResult, kToWide1, kToWide2);
}
void zfStringToWideString(std::string_view aText, uint32_t aCodePage, UnicodeString& aResult) {
  Decode(aText, aCodePage, aResult, kToWide1, kToWide2);
}
TzfWideString zfStringToWideString(std::string_view aText, uint32_t aCodePage) {
  TzfWideString r;
  zfStringToWideString(aText, aCodePage, r);
  return r;
}

void zfWideStringToString(const TzfWideString& aText, uint32_t aCodePage, rtl::AnsiString& aResult) {
  EncodeAnsi(View(aText), aCodePage, aResult);
}
void zfWideStringToString(UnicodeStringView aText, uint32_t aCodePage, rtl::AnsiString& aResult) {
  EncodeAnsi(aText, aCodePage, aResult);
}
void zfWideStringToString(UnicodeStringView aText, uint32_t aCodePage, TzfBytes& aResult) {
  Encode(aText, aCodePage, aResult, kToString1, kToString2);
}
void zfWideStringToString(const TzfWideString& aText, uint32_t aCodePage, TzfBytes& aResult) {
  Encode(View(aText), aCodePage, aResult, kToString1, kToString2);
}
rtl::AnsiString zfWideStringToString(UnicodeStringView aText, uint32_t aCodePage) {
  rtl::AnsiString r;
  EncodeAnsi(aText, aCodePage, r);
  return r;
}

TzfBytes zfWideStringBufferToBytes(const char16_t* aBuffer, int32_t aCount, uint32_t aCodePage) {
  TzfBytes r;
  if (aCount <= 0 || !aBuffer) return r;
  Encode(UnicodeStringView(aBuffer, static_cast<size_t>(aCount)), aCodePage, r,
         u"zfWideStringBufferToBytes/WideCharToMultiByte/1", u"zfWideStringBufferToBytes/WideCharToMultiByte/2");
  return r;
}

TzfWideString zfUnicodeStringToWideString(UnicodeStringView aText) { return TzfWideString(aText.begin(), aText.end()); }
TzfWideString zfWideStrToWideString(UnicodeStringView aText) { return TzfWideString(aText.begin(), aText.end()); }
UnicodeString zfWideStringToWideStr(const TzfWideString& aText) { return UnicodeString(View(aText)); }
UnicodeString zfWideStringToUnicodeString(const TzfWideString& aText) { return UnicodeString(View(aText)); }

uint32_t zfLocaleCodePage(uint32_t aLocale) {
  UnicodeString text;
  int32_t cp = 0;
  if (!locale::GetLocaleInfo(aLocale, locale::LOCALE_IDEFAULTANSICODEPAGE, text) || !rtl::TryStrToInt(text, cp) ||
      cp < 0)
    return zfDefaultCodePage;
  return static_cast<uint32_t>(cp);
}

UnicodeString zfWideLCMapStringW(UnicodeStringView aText, uint32_t aLocale, uint32_t aFlags) {
  UnicodeString r;
  if (aText.empty()) return r;
  if (CheckedLength(aText.size()) < 0 || !locale::LCMapStringW(aLocale, aFlags, aText, r))
    zfRaiseLastOSError(u"zfPravikWideLCMapStringW", 0);
  return r;
}

UnicodeString zfWideLCMapStringA(UnicodeStringView aText, uint32_t aLocale, uint32_t aFlags) {
  constexpr const char16_t* kAction = u"zfPravikWideLCMapStringA";
  UnicodeString r;
  if (aText.empty()) return r;
  uint32_t cp = zfLocaleCodePage(aLocale);
  std::string bytes, mapped;
  Encode(aText, cp, bytes, kAction, kAction);
  if (!locale::LCMapStringA(aLocale, aFlags, bytes, mapped)) zfRaiseLastOSError(kAction, 0);
  Decode(mapped, cp, r, kAction, kAction);
  return r;
}

rtl::TUnitInit& zfllWideStringUnit() {
  static rtl::TUnitInit unit("zfllWideString", &Start, &Stop);
  return unit;
}

}  // namespace zf
