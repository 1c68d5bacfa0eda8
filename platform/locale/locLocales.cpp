#include "platform/locale/locLocales.h"

#include <unicode/coll.h>
#include <unicode/datefmt.h>
#include <unicode/dcfmtsym.h>
#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/locale/locCollation.h"
#include "platform/locale/locLocaleTable.h"
#include "platform/os/osSystem.h"

namespace zf::locale {

namespace {

using detail::TLocaleRow;
using rtl::UnicodeString;

std::atomic<LCID> gSystemDefaultLocale{0x0409};

bool Fail(int aError) {
  os::SetLastError(aError);
  return false;
}

const TLocaleRow* FindRow(LCID aLocale) {
  size_t n = 0;
  const TLocaleRow* rows = detail::LocaleRows(n);
  const TLocaleRow* end = rows + n;
  const TLocaleRow* it =
      std::lower_bound(rows, end, aLocale, [](const TLocaleRow& r, LCID l) { return r.lcid < l; });
  return it != end && it->lcid == aLocale ? it : nullptr;
}

bool IsDefaultId(LCID aLocale) {
  return aLocale == LOCALE_NEUTRAL || aLocale == LOCALE_USER_DEFAULT || aLocale == LOCALE_SYSTEM_DEFAULT ||
         aLocale == LOCALE_CUSTOM_DEFAULT || aLocale == LOCALE_CUSTOM_UNSPECIFIED ||
         aLocale == LOCALE_CUSTOM_UI_DEFAULT;
}

// A row names a specific locale when its ICU id carries a region (neutral rows name a language).
bool IsSpecific(const TLocaleRow& r) {
  if (std::strcmp(r.icu, "root") == 0) return true;
  UErrorCode err = U_ZERO_ERROR;
  char country[16];
  int32_t n = uloc_getCountry(r.icu, country, sizeof country, &err);
  return U_SUCCESS(err) && n > 0;
}

std::string Canonical(std::string_view aName) {
  std::string in(aName);
  char buf[ULOC_FULLNAME_CAPACITY];
  UErrorCode err = U_ZERO_ERROR;
  if (in.find('-') != std::string::npos) {
    int32_t parsed = 0;
    uloc_forLanguageTag(in.c_str(), buf, sizeof buf, &parsed, &err);
    if (U_FAILURE(err)) return {};
    in = buf;
    err = U_ZERO_ERROR;
  }
  uloc_canonicalize(in.c_str(), buf, sizeof buf, &err);
  return U_SUCCESS(err) ? std::string(buf) : std::string();
}

std::string Maximized(const std::string& aCanonical) {
  char buf[ULOC_FULLNAME_CAPACITY];
  UErrorCode err = U_ZERO_ERROR;
  // Without the keywords: likely subtags are a matter of language, script and region.
  char base[ULOC_FULLNAME_CAPACITY];
  uloc_getBaseName(aCanonical.c_str(), base, sizeof base, &err);
  if (U_FAILURE(err)) return {};
  uloc_addLikelySubtags(base, buf, sizeof buf, &err);
  return U_SUCCESS(err) ? std::string(buf) : std::string();
}

struct TNameIndex {
  std::map<std::string, LCID> exact;      // canonical id -> identifier
  std::map<std::string, LCID> maximized;  // maximized base name -> specific identifier, default sort
};

const TNameIndex& NameIndex() {
  static const TNameIndex index = [] {
    TNameIndex x;
    size_t n = 0;
    const TLocaleRow* rows = detail::LocaleRows(n);
    for (size_t i = 0; i < n; ++i) {
      const TLocaleRow& r = rows[i];
      std::string c = std::strcmp(r.icu, "root") == 0 ? std::string("root") : Canonical(r.icu);
      x.exact.emplace(c, r.lcid);  // the first (lowest) identifier of a name wins
      if (SortIdOf(r.lcid) == 0 && IsSpecific(r) && c != "root") x.maximized.emplace(Maximized(c), r.lcid);
    }
    return x;
  }();
  return index;
}

const TLocaleRow* ResolvedRow(LCID aLocale) { return FindRow(ConvertDefaultLocale(aLocale)); }

icu::Locale IcuLocaleOf(const TLocaleRow& r) {
  return std::strcmp(r.icu, "root") == 0 ? icu::Locale::getRoot() : icu::Locale(r.icu);
}

UnicodeString FromIcu(const icu::UnicodeString& s) {
  return UnicodeString(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<size_t>(s.length()));
}

// ICU date pattern letters to the platform's: yyyy, M..MMMM, d/dd, ddd/dddd for week days,
// h/hh/H/HH, m/mm, s/ss, tt for the AM/PM marker; quoted text stays quoted; ICU's narrow
// no-break space before the marker becomes a blank. Letters without a platform equivalent
// (eras, zones, fractions) are dropped. Years always get four digits: ICU's short dates use two
// ("M/d/yy") where the system's use four ("M/d/yyyy"), and a date written as text with two would
// come back in another century when it is read again.
UnicodeString ConvertDatePattern(const icu::UnicodeString& aPattern) {
  UnicodeString p = FromIcu(aPattern), r;
  size_t i = 0;
  while (i < p.size()) {
    char16_t c = p[i];
    if (c == u'\'') {
      size_t j = i + 1;
      while (j < p.size() && p[j] != u'\'') ++j;
      r.append(p, i, std::min(j + 1, p.size()) - i);
      i = j + 1;
      continue;
    }
    size_t j = i;
    while (j < p.size() && p[j] == c) ++j;
    size_t run = j - i;
    i = j;
    switch (c) {
      case u'y': case u'Y': case u'u': r += u"yyyy"; break;
      case u'M': case u'L': r += UnicodeString(std::min<size_t>(run, 4), u'M'); break;
      case u'd': r += UnicodeString(std::min<size_t>(run, 2), u'd'); break;
      case u'E': case u'c': case u'e': r += run <= 3 ? u"ddd" : u"dddd"; break;
      case u'h': case u'K': r += UnicodeString(std::min<size_t>(run, 2), u'h'); break;
      case u'H': case u'k': r += UnicodeString(std::min<size_t>(run, 2), u'H'); break;
      case u'm': r += UnicodeString(std::min<size_t>(run, 2), u'm'); break;
      case u's': r += UnicodeString(std::min<size_t>(run, 2), u's'); break;
      case u'a': case u'b': case u'B': r += u"tt"; break;
      case u'G': case u'z': case u'Z': case u'v': case u'V': case u'O': case u'X': case u'x': case u'S':
        break;
      case 0x202F: case 0x00A0: r += UnicodeString(run, u' '); break;
      default: r += UnicodeString(run, c); break;
    }
  }
  // Blanks left at either end by dropped letters.
  while (!r.empty() && r.back() == u' ') r.pop_back();
  while (!r.empty() && r.front() == u' ') r.erase(0, 1);
  return r;
}

UnicodeString PatternOf(icu::DateFormat::EStyle aDate, icu::DateFormat::EStyle aTime, const icu::Locale& aLoc) {
  std::unique_ptr<icu::DateFormat> f(icu::DateFormat::createDateTimeInstance(aDate, aTime, aLoc));
  auto* s = dynamic_cast<icu::SimpleDateFormat*>(f.get());
  if (!s) return {};
  icu::UnicodeString p;
  s->toPattern(p);
  return ConvertDatePattern(p);
}

// The first character between two fields of a converted pattern that is no letter.
UnicodeString SeparatorOf(const UnicodeString& aPattern, char16_t aAfter) {
  size_t i = aPattern.find(aAfter);
  if (i == UnicodeString::npos) return {};
  while (i < aPattern.size() && aPattern[i] == aAfter) ++i;
  size_t j = i;
  while (j < aPattern.size() && !u_isalpha(aPattern[j]) && aPattern[j] != u'\'') ++j;
  return aPattern.substr(i, j - i);
}

UnicodeString DecimalText(uint32_t aValue) {
  std::string s = std::to_string(aValue);
  return UnicodeString(s.begin(), s.end());
}

const char* SortSuffix(LCID aLocale) {
  switch (aLocale) {
    case 0x10407: return "_phoneb";
    case 0x1040E: return "_tchncl";
    case 0x10437: return "_modern";
    case 0x1007F: return "_mathan";
    case 0x10411: case 0x10412: return "_unicod";
    case 0x20004: case 0x20404: case 0x20804: case 0x21004: case 0x21404: return "_stroke";
    case 0x30404: return "_pronun";
    default: return SortIdOf(aLocale) == 4 ? "_radstr" : "";
  }
}

}  // namespace

LCID GetSystemDefaultLocale() { return gSystemDefaultLocale.load(std::memory_order_relaxed); }

bool SetSystemDefaultLocale(LCID aLocale) {
  const TLocaleRow* r = FindRow(aLocale);
  if (!r || !IsSpecific(*r)) return Fail(EINVAL);
  gSystemDefaultLocale.store(aLocale, std::memory_order_relaxed);
  return true;
}

LCID ConvertDefaultLocale(LCID aLocale) {
  if (IsDefaultId(aLocale)) return GetSystemDefaultLocale();
  if (SubLangIdOf(aLocale) == 0 && SortIdOf(aLocale) == 0 && (aLocale >> 16) == 0) {
    LCID specific = 0x0400u | PrimaryLangIdOf(aLocale);
    if (FindRow(specific)) return specific;
  }
  return aLocale;
}

bool IsValidLocale(LCID aLocale) { return !IsDefaultId(aLocale) && FindRow(aLocale) != nullptr; }

std::vector<LCID> SupportedLocales(bool aWithAlternateSorts) {
  std::vector<LCID> r;
  size_t n = 0;
  const TLocaleRow* rows = detail::LocaleRows(n);
  for (size_t i = 0; i < n; ++i) {
    if (!IsSpecific(rows[i])) continue;
    if (!aWithAlternateSorts && SortIdOf(rows[i].lcid) != 0) continue;
    r.push_back(rows[i].lcid);
  }
  return r;
}

bool LocaleToIcuName(LCID aLocale, std::string& aIcuName) {
  const TLocaleRow* r = ResolvedRow(aLocale);
  if (!r) return Fail(EINVAL);
  aIcuName = std::strcmp(r->icu, "root") == 0 ? std::string() : std::string(r->icu);
  return true;
}

LCID IcuNameToLocale(std::string_view aName) {
  if (aName.empty() || aName == "root" || aName == "und") return LOCALE_INVARIANT;
  std::string c = Canonical(aName);
  if (c.empty()) return 0;
  const TNameIndex& x = NameIndex();
  auto it = x.exact.find(c);
  if (it != x.exact.end()) return it->second;
  auto m = x.maximized.find(Maximized(c));
  return m != x.maximized.end() ? m->second : 0;
}

bool LocaleAnsiCodePage(LCID aLocale, uint16_t& aCodePage) {
  const TLocaleRow* r = ResolvedRow(aLocale);
  if (!r) return Fail(EINVAL);
  aCodePage = r->ansiCodePage;
  return true;
}

bool GetLocaleInfo(LCID aLocale, uint32_t aType, UnicodeString& aValue) {
  aValue.clear();
  const TLocaleRow* row = ResolvedRow(aLocale);
  if (!row) return Fail(EINVAL);
  uint32_t type = aType & ~LOCALE_NOUSEROVERRIDE;
  icu::Locale loc = IcuLocaleOf(*row);
  UErrorCode err = U_ZERO_ERROR;
  icu::UnicodeString u;
  switch (type) {
    case LOCALE_IDEFAULTANSICODEPAGE: aValue = DecimalText(row->ansiCodePage); return true;
    case LOCALE_ILANGUAGE: {
      static const char16_t kHex[] = u"0123456789abcdef";
      uint16_t id = LangIdOf(row->lcid);
      for (int s = 12; s >= 0; s -= 4) aValue.push_back(kHex[(id >> s) & 0xF]);
      return true;
    }
    case LOCALE_SNAME: {
      char base[ULOC_FULLNAME_CAPACITY], tag[ULOC_FULLNAME_CAPACITY];
      uloc_getBaseName(std::strcmp(row->icu, "root") == 0 ? "" : row->icu, base, sizeof base, &err);
      int32_t n = uloc_toLanguageTag(base, tag, sizeof tag, false, &err);
      if (U_FAILURE(err)) return Fail(EINVAL);
      std::string name = row->lcid == LOCALE_INVARIANT || n == 0 || std::strcmp(tag, "und") == 0 ? "" : tag;
      name += SortSuffix(row->lcid);
      aValue.assign(name.begin(), name.end());
      return true;
    }
    case LOCALE_SENGLANGUAGE: loc.getDisplayLanguage(icu::Locale::getEnglish(), u); break;
    case LOCALE_SENGCOUNTRY: loc.getDisplayCountry(icu::Locale::getEnglish(), u); break;
    case LOCALE_SNATIVELANGNAME: loc.getDisplayLanguage(loc, u); break;
    case LOCALE_SDECIMAL:
    case LOCALE_STHOUSAND:
    case LOCALE_SCURRENCY:
    case LOCALE_SLIST: {
      icu::DecimalFormatSymbols sym(loc, err);
      if (U_FAILURE(err)) return Fail(EINVAL);
      if (type == LOCALE_SDECIMAL) u = sym.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
      else if (type == LOCALE_STHOUSAND) u = sym.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol);
      else if (type == LOCALE_SCURRENCY) u = sym.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol);
      else u = sym.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol) == u"," ? u";" : u",";
      break;
    }
    case LOCALE_ICURRDIGITS: {
      std::unique_ptr<icu::NumberFormat> f(icu::NumberFormat::createCurrencyInstance(loc, err));
      if (U_FAILURE(err) || !f) return Fail(EINVAL);
      aValue = DecimalText(static_cast<uint32_t>(f->getMaximumFractionDigits()));
      return true;
    }
    case LOCALE_SSHORTDATE: aValue = PatternOf(icu::DateFormat::kShort, icu::DateFormat::kNone, loc); return true;
    case LOCALE_SLONGDATE: aValue = PatternOf(icu::DateFormat::kFull, icu::DateFormat::kNone, loc); return true;
    case LOCALE_STIMEFORMAT: aValue = PatternOf(icu::DateFormat::kNone, icu::DateFormat::kMedium, loc); return true;
    case LOCALE_SSHORTTIME: aValue = PatternOf(icu::DateFormat::kNone, icu::DateFormat::kShort, loc); return true;
    case LOCALE_SDATE:
      aValue = SeparatorOf(PatternOf(icu::DateFormat::kShort, icu::DateFormat::kNone, loc), u'M');
      if (aValue.empty()) aValue = SeparatorOf(PatternOf(icu::DateFormat::kShort, icu::DateFormat::kNone, loc), u'd');
      return true;
    case LOCALE_STIME: {
      UnicodeString p = PatternOf(icu::DateFormat::kNone, icu::DateFormat::kMedium, loc);
      aValue = SeparatorOf(p, p.find(u'H') != UnicodeString::npos ? u'H' : u'h');
      return true;
    }
    default: {
      icu::DateFormatSymbols sym(loc, err);
      if (U_FAILURE(err)) return Fail(EINVAL);
      int32_t count = 0;
      if (type == LOCALE_S1159 || type == LOCALE_S2359) {
        const icu::UnicodeString* s = sym.getAmPmStrings(count);
        if (count < 2) return Fail(EINVAL);
        u = s[type == LOCALE_S1159 ? 0 : 1];
      } else if (type >= LOCALE_SDAYNAME1 && type < LOCALE_SABBREVDAYNAME1 + 7) {
        bool abbrev = type >= LOCALE_SABBREVDAYNAME1;
        uint32_t day = type - (abbrev ? LOCALE_SABBREVDAYNAME1 : LOCALE_SDAYNAME1);  // 0 = Monday
        const icu::UnicodeString* s =
            sym.getWeekdays(count, icu::DateFormatSymbols::FORMAT,
                            abbrev ? icu::DateFormatSymbols::ABBREVIATED : icu::DateFormatSymbols::WIDE);
        int32_t index = static_cast<int32_t>(day == 6 ? 1 : day + 2);  // ICU: 1 = Sunday
        if (index >= count) return Fail(EINVAL);
        u = s[index];
      } else if (type >= LOCALE_SMONTHNAME1 && type < LOCALE_SABBREVMONTHNAME1 + 12 &&
                 !(type > LOCALE_SMONTHNAME1 + 11 && type < LOCALE_SABBREVMONTHNAME1)) {
        bool abbrev = type >= LOCALE_SABBREVMONTHNAME1;
        int32_t month = static_cast<int32_t>(type - (abbrev ? LOCALE_SABBREVMONTHNAME1 : LOCALE_SMONTHNAME1));
        const icu::UnicodeString* s =
            sym.getMonths(count, icu::DateFormatSymbols::FORMAT,
                          abbrev ? icu::DateFormatSymbols::ABBREVIATED : icu::DateFormatSymbols::WIDE);
        if (month >= count) return Fail(EINVAL);
        u = s[month];
      } else {
        return Fail(EINVAL);
      }
      break;
    }
  }
  aValue = FromIcu(u);
  return true;
}

bool GetNLSVersion(LCID aLocale, TNLSVersionInfoEx& aInfo) {
  if (aInfo.dwNLSVersionInfoSize != 32 && aInfo.dwNLSVersionInfoSize != 12) return Fail(EINVAL);
  const TLocaleRow* row = ResolvedRow(aLocale);
  if (!row) return Fail(EINVAL);
  UErrorCode err = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(IcuLocaleOf(*row), err));
  if (U_FAILURE(err) || !c) return Fail(EINVAL);
  UVersionInfo v, uca, uni;
  c->getVersion(v);
  ucol_getUCAVersion(c->toUCollator(), uca);
  u_getUnicodeVersion(uni);
  auto pack = [](const UVersionInfo x) {
    return (uint32_t(x[0]) << 24) | (uint32_t(x[1]) << 16) | (uint32_t(x[2]) << 8) | uint32_t(x[3]);
  };
  aInfo.dwNLSVersion = pack(v);
  aInfo.dwDefinedVersion = pack(uni);
  if (aInfo.dwNLSVersionInfoSize == 12) return true;
  aInfo.dwEffectiveId = row->lcid;
  // "zfLC", the comparison revision, the collation algorithm's version, the collator version
  // and the identifier: bytes no record of the original services carries.
  uint8_t* g = aInfo.guidCustomVersion;
  const uint8_t head[4] = {'z', 'f', 'L', 'C'};
  std::memcpy(g, head, 4);
  g[4] = static_cast<uint8_t>(kCompareRulesRevision & 0xFF);
  g[5] = static_cast<uint8_t>(kCompareRulesRevision >> 8);
  g[6] = uca[0];
  g[7] = uca[1];
  std::memcpy(g + 8, v, 4);
  for (int i = 0; i < 4; ++i) g[12 + i] = static_cast<uint8_t>(row->lcid >> (8 * i));
  return true;
}

}  // namespace zf::locale
