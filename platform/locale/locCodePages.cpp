#include "platform/locale/locCodePages.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/os/osSystem.h"
#include "platform/rtl/rtlAnsi.h"

namespace zf::locale {

namespace {

// 0 and 3 stand for the system ANSI code page; values above 16 bits name no code page.
uint16_t ResolveCodePage(uint32_t aCodePage) {
  return aCodePage > 0xFFFF ? 0xFFFF : rtl::ResolveCodePage(static_cast<uint16_t>(aCodePage));
}

// Code page -> ICU converter. Pages ICU's data lacks are dropped when the list is built.
struct TCodePageName {
  uint16_t codePage;
  const char* icu;
};
constexpr TCodePageName kCodePageNames[] = {
    {37, "ibm-37"},        {437, "ibm-437"},     {500, "ibm-500"},        {708, "ibm-1089"},
    {720, "ibm-720"},      {737, "ibm-737"},     {775, "ibm-775"},        {850, "ibm-850"},
    {852, "ibm-852"},      {855, "ibm-855"},     {857, "ibm-857"},        {858, "ibm-858"},
    {860, "ibm-860"},      {861, "ibm-861"},     {862, "ibm-862"},        {863, "ibm-863"},
    {864, "ibm-864"},      {865, "ibm-865"},     {866, "ibm-866"},        {869, "ibm-869"},
    {870, "ibm-870"},      {874, "windows-874"}, {875, "ibm-875"},        {932, "windows-932"},
    {936, "windows-936"},  {949, "windows-949"}, {950, "windows-950"},    {1026, "ibm-1026"},
    {1047, "ibm-1047"},    {1140, "ibm-1140"},   {1141, "ibm-1141"},      {1142, "ibm-1142"},
    {1143, "ibm-1143"},    {1144, "ibm-1144"},   {1145, "ibm-1145"},      {1146, "ibm-1146"},
    {1147, "ibm-1147"},    {1148, "ibm-1148"},   {1149, "ibm-1149"},      {1250, "windows-1250"},
    {1251, "windows-1251"}, {1252, "windows-1252"}, {1253, "windows-1253"}, {1254, "windows-1254"},
    {1255, "windows-1255"}, {1256, "windows-1256"}, {1257, "windows-1257"}, {1258, "windows-1258"},
    {1361, "windows-1361-2000"}, {10000, "macintosh"}, {10004, "x-mac-arabic"}, {10006, "x-mac-greek"},
    {10007, "x-mac-cyrillic"}, {10029, "x-mac-ce"}, {10081, "x-mac-turkish"}, {10082, "x-mac-croatian"},
    {20127, "US-ASCII"},   {20866, "koi8-r"},    {20932, "euc-jp"},       {21866, "koi8-u"},
    {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"}, {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"}, {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"}, {38598, "ISO-8859-8-I"},
    {50220, "ISO-2022-JP"}, {50225, "ISO-2022-KR"}, {51932, "euc-jp"},    {51936, "EUC-CN"},
    {51949, "euc-kr"},     {52936, "HZ"},        {54936, "gb18030"},      {65000, "UTF-7"},
    {65001, "UTF-8"},
};

bool IsUnicodePage(uint16_t aCodePage) { return aCodePage == rtl::CP_UTF7 || aCodePage == rtl::CP_UTF8; }

struct TCodePageList {
  std::vector<uint16_t> pages;  // ascending, only those ICU can open
  std::map<uint16_t, std::string> names;
};

const TCodePageList& CodePageList() {
  static const TCodePageList list = [] {
    TCodePageList l;
    for (const auto& e : kCodePageNames) {
      UErrorCode err = U_ZERO_ERROR;
      UConverter* c = ucnv_open(e.icu, &err);
      if (U_SUCCESS(err) && c) {
        l.pages.push_back(e.codePage);
        l.names.emplace(e.codePage, e.icu);
      }
      if (c) ucnv_close(c);
    }
    std::sort(l.pages.begin(), l.pages.end());
    return l;
  }();
  return list;
}

// Converters are stateful, so each thread keeps its own, one per code page, closed when the
// thread ends.
class TThreadConverters {
 public:
  ~TThreadConverters() {
    for (auto& [cp, c] : FConverters) ucnv_close(c);
  }
  UConverter* Get(uint16_t aCodePage) {
    auto it = FConverters.find(aCodePage);
    if (it != FConverters.end()) {
      ucnv_reset(it->second);
      return it->second;
    }
    const auto& names = CodePageList().names;
    auto n = names.find(aCodePage);
    if (n == names.end()) return nullptr;
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open(n->second.c_str(), &err);
    if (U_FAILURE(err) || !c) {
      if (c) ucnv_close(c);
      return nullptr;
    }
    if (!IsUnicodePage(aCodePage)) {
      err = U_ZERO_ERROR;
      ucnv_setSubstChars(c, "?", 1, &err);
    }
    FConverters.emplace(aCodePage, c);
    return c;
  }

 private:
  std::unordered_map<uint16_t, UConverter*> FConverters;
};

UConverter* ConverterFor(uint16_t aCodePage) {
  thread_local TThreadConverters converters;
  return converters.Get(aCodePage);
}

int32_t Fail(int aError) {
  os::SetLastError(aError);
  return 0;
}

void SetToUnicodeMode(UConverter* c, bool aStrict) {
  UErrorCode err = U_ZERO_ERROR;
  ucnv_setToUCallBack(c, aStrict ? UCNV_TO_U_CALLBACK_STOP : UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr,
                      nullptr, &err);
}

}  // namespace

bool IsValidCodePage(uint32_t aCodePage) {
  if (aCodePage > 0xFFFF) return false;
  const auto& names = CodePageList().names;
  return names.count(ResolveCodePage(aCodePage)) != 0;
}

std::vector<uint16_t> SupportedCodePages() { return CodePageList().pages; }

std::string CodePageIcuName(uint32_t aCodePage) {
  if (aCodePage > 0xFFFF) return {};
  const auto& names = CodePageList().names;
  auto it = names.find(ResolveCodePage(aCodePage));
  return it == names.end() ? std::string() : it->second;
}

bool GetCPInfo(uint32_t aCodePage, TCPInfo& aInfo) {
  if (!IsValidCodePage(aCodePage)) return Fail(EINVAL) != 0;
  uint16_t cp = ResolveCodePage(aCodePage);
  UConverter* c = ConverterFor(cp);
  if (!c) return Fail(EINVAL) != 0;
  aInfo = TCPInfo{};
  if (cp == rtl::CP_UTF8) {
    aInfo.MaxCharSize = 4;
  } else if (cp == rtl::CP_UTF7) {
    aInfo.MaxCharSize = 5;
  } else {
    aInfo.MaxCharSize = static_cast<uint32_t>(ucnv_getMaxCharSize(c));
  }
  if (aInfo.MaxCharSize == 2) {
    // Lead bytes of a DBCS page, as ranges.
    UBool starters[256];
    UErrorCode err = U_ZERO_ERROR;
    ucnv_getStarters(c, starters, &err);
    if (U_SUCCESS(err)) {
      size_t out = 0;
      for (int b = 0; b < 256 && out + 2 < sizeof aInfo.LeadByte;) {
        if (!starters[b]) {
          ++b;
          continue;
        }
        int first = b;
        while (b + 1 < 256 && starters[b + 1]) ++b;
        aInfo.LeadByte[out++] = static_cast<uint8_t>(first);
        aInfo.LeadByte[out++] = static_cast<uint8_t>(b);
        ++b;
      }
    }
  }
  return true;
}

bool IsDBCSLeadByteEx(uint32_t aCodePage, uint8_t aByte) {
  TCPInfo info;
  if (!GetCPInfo(aCodePage, info)) return false;
  for (size_t i = 0; i + 1 < sizeof info.LeadByte && info.LeadByte[i] != 0; i += 2)
    if (aByte >= info.LeadByte[i] && aByte <= info.LeadByte[i + 1]) return true;
  return false;
}

int32_t MultiByteToWideChar(uint32_t aCodePage, uint32_t aFlags, std::string_view aSource, char16_t* aDest,
                            int32_t aDestLen) {
  // MB_PRECOMPOSED (1) is what every conversion does anyway.
  if ((aFlags & ~(MB_ERR_INVALID_CHARS | 1u)) != 0) return Fail(EINVAL);
  if (aSource.empty() || aDestLen < 0 || (aDestLen > 0 && !aDest) || aSource.size() > INT32_MAX)
    return Fail(EINVAL);
  if (!IsValidCodePage(aCodePage)) return Fail(EINVAL);
  UConverter* c = ConverterFor(ResolveCodePage(aCodePage));
  if (!c) return Fail(EINVAL);
  SetToUnicodeMode(c, (aFlags & MB_ERR_INVALID_CHARS) != 0);
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(c, reinterpret_cast<UChar*>(aDest), aDestLen, aSource.data(),
                            static_cast<int32_t>(aSource.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR || err == U_STRING_NOT_TERMINATED_WARNING) {
    if (aDestLen == 0) return n;
    if (err == U_BUFFER_OVERFLOW_ERROR) return Fail(ENOBUFS);
  }
  if (U_FAILURE(err)) return Fail((aFlags & MB_ERR_INVALID_CHARS) ? EILSEQ : EINVAL);
  return n;
}

int32_t WideCharToMultiByte(uint32_t aCodePage, uint32_t aFlags, rtl::UnicodeStringView aSource, char* aDest,
                            int32_t aDestLen) {
  // WC_NO_BEST_FIT_CHARS (0x400) is what every conversion does anyway.
  if ((aFlags & ~0x400u) != 0) return Fail(EINVAL);
  if (aSource.empty() || aDestLen < 0 || (aDestLen > 0 && !aDest) || aSource.size() > INT32_MAX)
    return Fail(EINVAL);
  if (!IsValidCodePage(aCodePage)) return Fail(EINVAL);
  UConverter* c = ConverterFor(ResolveCodePage(aCodePage));
  if (!c) return Fail(EINVAL);
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(c, aDest, aDestLen, reinterpret_cast<const UChar*>(aSource.data()),
                              static_cast<int32_t>(aSource.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR || err == U_STRING_NOT_TERMINATED_WARNING) {
    if (aDestLen == 0) return n;
    if (err == U_BUFFER_OVERFLOW_ERROR) return Fail(ENOBUFS);
  }
  if (U_FAILURE(err)) return Fail(EINVAL);
  return n;
}

bool BytesToUnicode(uint32_t aCodePage, std::string_view aSource, rtl::UnicodeString& aDest, uint32_t aFlags) {
  aDest.clear();
  if (aSource.empty()) {
    if (!IsValidCodePage(aCodePage)) return Fail(EINVAL) != 0;
    return true;
  }
  os::SetLastError(0);
  int32_t n = MultiByteToWideChar(aCodePage, aFlags, aSource, nullptr, 0);
  if (n == 0) return os::GetLastError() == 0;  // text that decodes to nothing (an escape alone)
  aDest.resize(static_cast<size_t>(n));
  int32_t m = MultiByteToWideChar(aCodePage, aFlags, aSource, aDest.data(), n);
  if (m == 0) return false;
  aDest.resize(static_cast<size_t>(m));
  return true;
}

bool UnicodeToBytes(uint32_t aCodePage, rtl::UnicodeStringView aSource, std::string& aDest) {
  aDest.clear();
  if (aSource.empty()) {
    if (!IsValidCodePage(aCodePage)) return Fail(EINVAL) != 0;
    return true;
  }
  os::SetLastError(0);
  int32_t n = WideCharToMultiByte(aCodePage, 0, aSource, nullptr, 0);
  if (n == 0) return os::GetLastError() == 0;
  aDest.resize(static_cast<size_t>(n));
  int32_t m = WideCharToMultiByte(aCodePage, 0, aSource, aDest.data(), n);
  if (m == 0) return false;
  aDest.resize(static_cast<size_t>(m));
  return true;
}

namespace {

class TLocaleCodePageConverter : public rtl::TCodePageConverter {
 public:
  bool Decode(uint16_t aCodePage, std::string_view aBytes, rtl::UnicodeString& aText) override {
    return BytesToUnicode(aCodePage, aBytes, aText);
  }
  bool Encode(uint16_t aCodePage, rtl::UnicodeStringView aText, std::string& aBytes) override {
    return UnicodeToBytes(aCodePage, aText, aBytes);
  }
  bool IsKnown(uint16_t aCodePage) override { return IsValidCodePage(aCodePage); }
};

std::mutex gInstallLock;
int gInstallCount = 0;

}  // namespace

void InstallCodePageConverter() {
  static TLocaleCodePageConverter converter;
  std::lock_guard<std::mutex> g(gInstallLock);
  if (gInstallCount++ == 0) rtl::SetCodePageConverter(&converter);
}

void RemoveCodePageConverter() {
  std::lock_guard<std::mutex> g(gInstallLock);
  if (gInstallCount > 0 && --gInstallCount == 0) rtl::SetCodePageConverter(nullptr);
}

bool SetSystemAnsiCodePage(uint32_t aCodePage) {
  if (aCodePage == rtl::CP_ACP || aCodePage == rtl::CP_THREAD_ACP || !IsValidCodePage(aCodePage))
    return Fail(EINVAL) != 0;
  rtl::SetSystemAnsiCodePage(static_cast<uint16_t>(aCodePage));
  return true;
}

}  // namespace zf::locale
