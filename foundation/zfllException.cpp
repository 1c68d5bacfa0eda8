#include "foundation/zfllException.h"

#include <mutex>

namespace zf {

namespace {

constexpr size_t kOrgMarkerLen = 10;
constexpr size_t kInfoMarkerLen = 6;

// The thread's pending message, which is also its last converted exception.
struct TPendingPair {
  uint32_t Code = 0;
  UnicodeString Text;
};
thread_local TPendingPair tPending;

std::mutex gHooksLock;
TzfExceptionDataHooks gHooks;

}  // namespace

UnicodeString zfExtractCustomInfoBlocks(UnicodeStringView aText, TzfCustomInfos& aInfos, bool& aAnyStored) {
  UnicodeString text(aText);
  const UnicodeStringView start(zfCustomInfoStart), stop(zfCustomInfoEnd);
  for (;;) {
    const size_t b = text.find(start);
    if (b == UnicodeString::npos) break;
    const size_t contentStart = b + kInfoMarkerLen;
    const size_t e = text.find(stop, contentStart);
    const size_t contentEnd = e == UnicodeString::npos ? text.size() : e;
    const size_t blockEnd = e == UnicodeString::npos ? text.size() : e + kInfoMarkerLen;
    const UnicodeString content = text.substr(contentStart, contentEnd - contentStart);
    text.erase(b, blockEnd - b);
    const size_t eq = content.find(u'=');
    const UnicodeString name = eq == UnicodeString::npos ? content : content.substr(0, eq);
    const UnicodeString value = eq == UnicodeString::npos ? UnicodeString() : content.substr(eq + 1);
    if (!name.empty() && !value.empty()) {
      aInfos.SetValue(name, value);
      aAnyStored = true;
    }
  }
  return text;
}

UnicodeString zfProcessErrorString(UnicodeStringView aText, uint32_t aErrorCode) {
  const UnicodeString t = rtl::Trim(aText);
  const size_t pos = t.find(zfOrgMarker);
  if (pos == UnicodeString::npos && !t.empty()) return t;
  UnicodeString r = pos == UnicodeString::npos ? UnicodeString() : t.substr(0, pos);
  r += EzfBaseException::ErrorCodeToText(aErrorCode);
  if (pos != UnicodeString::npos) {
    if (r.size() > 1 && r.back() != u'.') r += u'.';
    r += t.substr(pos + kOrgMarkerLen);
  }
  return r;
}

void zfSetExceptionDataHooks(const TzfExceptionDataHooks& aHooks) {
  std::lock_guard<std::mutex> g(gHooksLock);
  gHooks = aHooks;
}

TzfExceptionDataHooks zfGetExceptionDataHooks() {
  std::lock_guard<std::mutex> g(gHooksLock);
  return gHooks;
}

// A malformed value is ignored rather than allowed to fail the construction: the exception must
// still report the failure it was raised for.
void zfApplySpecialCustomInfos(TzfCustomInfos& aInfos, uint32_t& aOSError, TzfExceptionDataRef& aData) {
  const UnicodeString osText = aInfos.Value(zfCustomInfoOSError);
  if (!osText.empty()) {
    int64_t v = 0;
    aOSError = rtl::TryStrToInt64(osText, v) && v >= 0 && v <= int64_t(UINT32_MAX) ? static_cast<uint32_t>(v) : 0;
  }
  const int dataIndex = aInfos.IndexOfName(zfCustomInfoExceptionData);
  if (dataIndex >= 0) {
    const UnicodeString encoded = aInfos[dataIndex].second;
    aInfos.Delete(dataIndex);
    aData.reset();
    const TzfExceptionDataHooks hooks = zfGetExceptionDataHooks();
    if (hooks.Decode) {
      try {
        aData = hooks.Decode(encoded);
      } catch (...) {
        aData.reset();  // a damaged block is dropped; the message stands
      }
    }
  }
}

// ---- TzfCustomInfos ----

int TzfCustomInfos::IndexOfName(UnicodeStringView aName) const {
  for (size_t i = 0; i < FLines.size(); ++i)
    if (rtl::SameText(FLines[i].first, aName)) return static_cast<int>(i);
  return -1;
}

UnicodeString TzfCustomInfos::Value(UnicodeStringView aName) const {
  const int i = IndexOfName(aName);
  return i < 0 ? UnicodeString() : FLines[static_cast<size_t>(i)].second;
}

void TzfCustomInfos::SetValue(UnicodeStringView aName, UnicodeStringView aValue) {
  const int i = IndexOfName(aName);
  if (aValue.empty()) {
    if (i >= 0) Delete(i);
  } else if (i >= 0) {
    FLines[static_cast<size_t>(i)].second = UnicodeString(aValue);
  } else {
    FLines.emplace_back(UnicodeString(aName), UnicodeString(aValue));
  }
}

std::vector<UnicodeString> TzfCustomInfos::Lines() const {
  std::vector<UnicodeString> r;
  r.reserve(FLines.size());
  for (const auto& [n, v] : FLines) r.push_back(n + u"=" + v);
  return r;
}

// ---- EzfBaseException ----

EzfBaseException::EzfBaseException(uint32_t aErrorCode) : beErrorCode(aErrorCode) {
  if (tPending.Code == aErrorCode && !tPending.Text.empty()) {
    const UnicodeString text = tPending.Text;
    beErrorString = zfExtractCustomInfoBlocks(text, beCustomInfos, beHasCustomInfos);
    beExtendedMsg = true;
    ApplyCustomInfos();
  }
  Finish(true);
}

EzfBaseException::EzfBaseException(uint32_t aErrorCode, UnicodeStringView aAltMsg) : beErrorCode(aErrorCode) {
  ExtractCustomInfos(aAltMsg);
  Finish(true);
}

EzfBaseException::EzfBaseException(uint32_t aErrorCode, UnicodeStringView aFormat, rtl::FormatArgs aArgs)
    : beErrorCode(aErrorCode) {
  ExtractCustomInfos(rtl::Format(aFormat, aArgs));
  Finish(true);
}

EzfBaseException::EzfBaseException(UnicodeStringView aMsg) {
  ExtractCustomInfos(aMsg);
  Finish(false);
}

EzfBaseException::EzfBaseException(UnicodeStringView aFormat, rtl::FormatArgs aArgs) {
  ExtractCustomInfos(rtl::Format(aFormat, aArgs));
  Finish(false);
}

EzfBaseException::EzfBaseException(TzfOSErrorTag, uint32_t aErrorCode, UnicodeStringView aAction)
    : beErrorCode(aErrorCode != 0 ? aErrorCode : zfErrOSUnknown) {
  // The failing call's error, read before anything here can change it.
  const int osError = zf::os::GetLastError();
  beOSError = static_cast<uint32_t>(osError);
  beHasCustomInfos = true;
  beCustomInfos.SetValue(zfCustomInfoOSError, rtl::UIntToStr(beOSError));
  beCustomInfos.SetValue(zfCustomInfoAction, aAction);
  const UnicodeString action = zfExtractCustomInfoBlocks(aAction, beCustomInfos, beHasCustomInfos);

  UnicodeString text;
  if (beOSError != 0) {
    const UnicodeString sysText = rtl::u16(zf::os::SysErrorMessage(osError));
    if (!action.empty())
      text = rtl::Format(u"Operating system error in %s: %s ($%x/%d)", {action, sysText, beOSError, beOSError});
    else
      text = rtl::Format(u"Operating system error: %s ($%x/%d)", {sysText, beOSError, beOSError});
  } else if (!action.empty()) {
    text = rtl::Format(u"A call to an OS function failed in %s", {action});
  } else {
    text = u"A call to an OS function failed.";
  }
  ExtractCustomInfos(text);
  Finish(true);
}

void EzfBaseException::ExtractCustomInfos(UnicodeStringView aText) {
  beErrorString = zfExtractCustomInfoBlocks(aText, beCustomInfos, beHasCustomInfos);
  beExtendedMsg = true;
  ApplyCustomInfos();
}

void EzfBaseException::ApplyCustomInfos() {
  if (beHasCustomInfos) zfApplySpecialCustomInfos(beCustomInfos, beOSError, beExceptionData);
}

void EzfBaseException::Finish(bool aHasCode) {
  const UnicodeString text = zfTidyMessage(zfProcessErrorString(beErrorString, beErrorCode));
  if (aHasCode)  // "ZofrinDB: %s [$%x/%d]", put together directly: every raise passes here
    SetMessage(u"ZofrinDB: " + text + u" [$" + rtl::IntToHex(beErrorCode, 0) + u"/" + rtl::UIntToStr(beErrorCode) +
               u"]");
  else
    SetMessage(u"ZofrinDB: " + rtl::Format(u"%s [no error code]", {text}));
  tPending.Text.clear();
}

UnicodeString EzfBaseException::GetProcessedErrorString() const {
  return zfProcessErrorString(beErrorString, beErrorCode);
}

TzfCustomInfos& EzfBaseException::GetCustomInfos() {
  beHasCustomInfos = true;
  return beCustomInfos;
}

TzfExceptionDataRef EzfBaseException::GetExceptionData() {
  if (!beExceptionData) {
    const TzfExceptionDataHooks hooks = zfGetExceptionDataHooks();
    if (hooks.Create) beExceptionData = hooks.Create(u"ExceptionData");
  }
  return beExceptionData;
}

uint32_t EzfBaseException::zfSetMessage(uint32_t aErrorCode, UnicodeStringView aAltMsg) {
  tPending.Code = aErrorCode;
  tPending.Text = UnicodeString(aAltMsg);
  return aErrorCode;
}

uint32_t EzfBaseException::zfSetMessage(uint32_t aErrorCode, UnicodeStringView aFormat, rtl::FormatArgs aArgs) {
  tPending.Code = aErrorCode;
  tPending.Text = rtl::Format(aFormat, aArgs);
  return aErrorCode;
}

void EzfBaseException::SetLastConvertedException(uint32_t aErrorCode, UnicodeStringView aCustomMessage) {
  tPending.Code = aErrorCode;
  tPending.Text = UnicodeString(aCustomMessage);
}

void EzfBaseException::GetLastConvertedException(uint32_t& aErrorCode, UnicodeString& aCustomMessage) {
  aErrorCode = tPending.Code;
  aCustomMessage = tPending.Text;
}

// ---- free routines ----

void zfRaiseIfError(uint32_t aErrorCode) {
  if (aErrorCode != 0) throw EzfBaseException(aErrorCode);
}

UnicodeString zfEncodeCustomInfo(UnicodeStringView aName, UnicodeStringView aValue) {
  UnicodeString r(zfCustomInfoStart);
  r += aName;
  r += u'=';
  r += aValue;
  r += zfCustomInfoEnd;
  return r;
}

UnicodeString zfTidyMessage(UnicodeStringView aText) {
  // One line (the common case): only its trailing blanks go.
  if (aText.find_first_of(u"\r\n") == UnicodeStringView::npos) return rtl::TrimRight(aText);
  std::vector<UnicodeString> lines;
  size_t i = 0;
  for (;;) {
    size_t j = i;
    while (j < aText.size() && aText[j] != u'\r' && aText[j] != u'\n') ++j;
    lines.emplace_back(aText.substr(i, j - i));
    if (j >= aText.size()) break;
    i = j + ((aText[j] == u'\r' && j + 1 < aText.size() && aText[j + 1] == u'\n') ? 2 : 1);
  }
  while (!lines.empty() && rtl::Trim(lines.back()).empty()) lines.pop_back();
  if (lines.empty()) return UnicodeString();
  if (lines.size() == 1) return rtl::TrimRight(lines[0]);
  UnicodeString r;
  for (const auto& l : lines) r += l + u"\r\n";
  r += u"\r\n";
  return r;
}

void zfRaiseLastOSError(UnicodeStringView aAction, uint32_t aErrorCode) {
  throw zfCreateOSErrorException<EzfBaseException>(aErrorCode, aAction);
}

void zfRaiseLastOSErrorUnknown() { zfRaiseLastOSError(u"[unknown]", 0); }

bool zfWin32Check(bool aResult, UnicodeStringView aAction) {
  if (!aResult) zfRaiseLastOSError(aAction, 0);
  return aResult;
}

// ---- unit ----

namespace {
void FinalizeException() { tPending = TPendingPair{}; }
}  // namespace

rtl::TUnitInit& zfllExceptionUnit() {
  static rtl::TUnitInit unit("zfllException", nullptr, FinalizeException);
  return unit;
}

}  // namespace zf
