#include "platform/locale/locCollation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

#include "platform/locale/locCodePages.h"
#include "platform/os/osSystem.h"

namespace zf::locale {

namespace {

using rtl::UnicodeString;
using rtl::UnicodeStringView;

constexpr uint32_t LINGUISTIC_IGNORECASE = 0x00000010;
constexpr uint32_t LINGUISTIC_IGNOREDIACRITIC = 0x00000020;
constexpr uint32_t NORM_LINGUISTIC_CASING = 0x08000000;
constexpr uint32_t kAcceptedCompareFlags =
    kCompareFlags | LINGUISTIC_IGNORECASE | LINGUISTIC_IGNOREDIACRITIC | NORM_LINGUISTIC_CASING;

bool Fail(int aError) {
  os::SetLastError(aError);
  return false;
}

// --- code points ------------------------------------------------------------------------------

template <typename F>
void ForEachCodePoint(UnicodeStringView s, F&& f) {
  size_t i = 0;
  while (i < s.size()) {
    UChar32 c = s[i++];
    if (U16_IS_LEAD(c) && i < s.size() && U16_IS_TRAIL(s[i])) c = U16_GET_SUPPLEMENTARY(c, s[i++]);
    f(c);
  }
}

void Append(UnicodeString& s, UChar32 c) {
  if (c <= 0xFFFF) {
    s.push_back(static_cast<char16_t>(c));
  } else {
    s.push_back(static_cast<char16_t>(U16_LEAD(c)));
    s.push_back(static_cast<char16_t>(U16_TRAIL(c)));
  }
}

icu::UnicodeString ToIcu(UnicodeStringView s) {
  return icu::UnicodeString(reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()));
}
UnicodeString FromIcu(const icu::UnicodeString& s) {
  return UnicodeString(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<size_t>(s.length()));
}

bool IsSymbol(UChar32 c) {
  return (U_GET_GC_MASK(c) & (U_GC_P_MASK | U_GC_S_MASK | U_GC_Z_MASK)) != 0;
}

const icu::Normalizer2& Nfd() {
  UErrorCode err = U_ZERO_ERROR;
  return *icu::Normalizer2::getNFDInstance(err);
}
const icu::Normalizer2& Nfc() {
  UErrorCode err = U_ZERO_ERROR;
  return *icu::Normalizer2::getNFCInstance(err);
}
const icu::Normalizer2& Nfkc() {
  UErrorCode err = U_ZERO_ERROR;
  return *icu::Normalizer2::getNFKCInstance(err);
}
const icu::Normalizer2& Nfkd() {
  UErrorCode err = U_ZERO_ERROR;
  return *icu::Normalizer2::getNFKDInstance(err);
}

UnicodeString Normalize(const icu::Normalizer2& n, UnicodeStringView s) {
  UErrorCode err = U_ZERO_ERROR;
  icu::UnicodeString r = n.normalize(ToIcu(s), err);
  return U_SUCCESS(err) ? FromIcu(r) : UnicodeString(s);
}

// Half-width and full-width forms to their ordinary characters (half-width katakana become
// full-width katakana with combining sound marks).
UnicodeString FoldWidth(UnicodeStringView s) {
  UnicodeString r;
  r.reserve(s.size());
  ForEachCodePoint(s, [&](UChar32 c) {
    if (c < 0x80) {
      r.push_back(static_cast<char16_t>(c));
      return;
    }
    int dt = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
    if (dt == U_DT_WIDE || dt == U_DT_NARROW) {
      icu::UnicodeString d;
      if (Nfkd().getDecomposition(c, d)) {
        r += FromIcu(d);
        return;
      }
    }
    Append(r, c);
  });
  return r;
}

UChar32 HiraganaToKatakana(UChar32 c) {
  if ((c >= 0x3041 && c <= 0x3096) || c == 0x309D || c == 0x309E) return c + 0x60;
  return c;
}
UChar32 KatakanaToHiragana(UChar32 c) {
  if ((c >= 0x30A1 && c <= 0x30F6) || c == 0x30FD || c == 0x30FE) return c - 0x60;
  return c;
}

UnicodeString RemoveNonSpacing(UnicodeStringView s) {
  UnicodeString d = Normalize(Nfd(), s), r;
  r.reserve(d.size());
  ForEachCodePoint(d, [&](UChar32 c) {
    if (u_charType(c) != U_NON_SPACING_MARK) Append(r, c);
  });
  return Normalize(Nfc(), r);
}

// --- collators ----------------------------------------------------------------------------------

// Full: every difference counts (ICU's identical level), so that texts are equal only when they
// are canonically equivalent once the flags' rewriting is done; without it ICU would merge width
// and kana-type variants in some locales (Japanese) that the flags are meant to control.
// PrimaryWithCase: base letters and case only (ignoring non-spacing marks). Primary: base letters.
enum class TStrength { Full, PrimaryWithCase, Primary };

// One collator per ICU locale and strength, built on first use and never changed afterwards, so
// that many threads compare with it at once.
const icu::Collator* CollatorFor(const std::string& aIcuName, TStrength aStrength) {
  static std::mutex lock;
  static std::map<std::pair<std::string, int>, std::unique_ptr<icu::Collator>> cache;
  std::lock_guard<std::mutex> g(lock);
  auto key = std::make_pair(aIcuName, static_cast<int>(aStrength));
  auto it = cache.find(key);
  if (it != cache.end()) return it->second.get();
  UErrorCode err = U_ZERO_ERROR;
  icu::Locale loc = aIcuName.empty() || aIcuName == "root" ? icu::Locale::getRoot() : icu::Locale(aIcuName.c_str());
  std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(loc, err));
  if (U_FAILURE(err) || !c) return nullptr;
  c->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, err);
  switch (aStrength) {
    case TStrength::Full:
      c->setAttribute(UCOL_STRENGTH, UCOL_IDENTICAL, err);
      break;
    case TStrength::PrimaryWithCase:
      c->setAttribute(UCOL_STRENGTH, UCOL_PRIMARY, err);
      c->setAttribute(UCOL_CASE_LEVEL, UCOL_ON, err);
      break;
    case TStrength::Primary:
      c->setAttribute(UCOL_STRENGTH, UCOL_PRIMARY, err);
      break;
  }
  if (U_FAILURE(err)) return nullptr;
  auto* r = c.get();
  cache.emplace(key, std::move(c));
  return r;
}

// What a set of comparison flags turns into: a collator and the rewriting of both texts.
struct TComparison {
  const icu::Collator* collator = nullptr;
  uint32_t flags = 0;
};

bool PrepareComparison(LCID aLocale, uint32_t aFlags, TComparison& aCmp) {
  if ((aFlags & ~kAcceptedCompareFlags) != 0) return Fail(EINVAL);
  if (aFlags & LINGUISTIC_IGNORECASE) aFlags |= NORM_IGNORECASE;
  if (aFlags & LINGUISTIC_IGNOREDIACRITIC) aFlags |= NORM_IGNORENONSPACE;
  aFlags &= kCompareFlags;
  TStrength strength = TStrength::Full;
  if (aFlags & NORM_IGNORENONSPACE) strength = (aFlags & NORM_IGNORECASE) ? TStrength::Primary : TStrength::PrimaryWithCase;
  aCmp.flags = aFlags;
  // Key engines compare under one or two locales again and again: each thread remembers the
  // collators it used last (collators live as long as the process), which spares the shared
  // cache's lock.
  struct TRecent {
    LCID locale;
    TStrength strength;
    const icu::Collator* collator;
  };
  thread_local TRecent recent[4] = {};
  thread_local unsigned next = 0;
  aLocale = ConvertDefaultLocale(aLocale);  // the default may be changed meanwhile
  for (const TRecent& r : recent)
    if (r.collator && r.locale == aLocale && r.strength == strength) {
      aCmp.collator = r.collator;
      return true;
    }
  std::string icu;
  if (!LocaleToIcuName(aLocale, icu)) return false;
  aCmp.collator = CollatorFor(icu, strength);
  if (!aCmp.collator) return Fail(EINVAL);
  recent[next++ % 4] = TRecent{aLocale, strength, aCmp.collator};
  return true;
}

bool NeedsRewrite(uint32_t aFlags) {
  return (aFlags & (NORM_IGNORECASE | NORM_IGNORESYMBOLS | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH)) != 0;
}

// Rewrites a text so that the differences the flags ignore disappear before ICU compares.
UnicodeString Rewrite(UnicodeStringView s, uint32_t aFlags) {
  if (!NeedsRewrite(aFlags)) return UnicodeString(s);
  UnicodeString w = (aFlags & NORM_IGNOREWIDTH) ? FoldWidth(s) : UnicodeString(s);
  UnicodeString r;
  r.reserve(w.size());
  ForEachCodePoint(w, [&](UChar32 c) {
    if (c < 0x80) {  // ASCII: symbols are the printable characters other than letters and digits
      bool alnum = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
      if ((aFlags & NORM_IGNORESYMBOLS) && !alnum && c >= 0x20 && c != 0x7F) return;
      if ((aFlags & NORM_IGNORECASE) && c >= u'A' && c <= u'Z') c += 0x20;
      r.push_back(static_cast<char16_t>(c));
      return;
    }
    if ((aFlags & NORM_IGNORESYMBOLS) && IsSymbol(c)) return;
    if (aFlags & NORM_IGNORECASE) c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    if (aFlags & NORM_IGNOREKANATYPE) c = HiraganaToKatakana(c);
    Append(r, c);
  });
  return r;
}

// Word sort: hyphen and apostrophe only break ties.
bool IsWordSortIgnored(char16_t c) { return c == u'-' || c == u'\''; }
bool HasWordSortIgnored(UnicodeStringView s) {
  for (char16_t c : s)
    if (IsWordSortIgnored(c)) return true;
  return false;
}
UnicodeString StripWordSortIgnored(UnicodeStringView s) {
  UnicodeString r;
  r.reserve(s.size());
  for (char16_t c : s)
    if (!IsWordSortIgnored(c)) r.push_back(c);
  return r;
}

int Collate(const icu::Collator& c, UnicodeStringView a, UnicodeStringView b) {
  UErrorCode err = U_ZERO_ERROR;
  UCollationResult r = c.compare(reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                                 reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()), err);
  return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

void AppendSortKey(const icu::Collator& c, UnicodeStringView s, std::string& aKey) {
  icu::UnicodeString u = ToIcu(s);
  int32_t n = c.getSortKey(u, nullptr, 0);
  size_t at = aKey.size();
  aKey.resize(at + static_cast<size_t>(n));
  c.getSortKey(u, reinterpret_cast<uint8_t*>(aKey.data() + at), n);
}

// Transliterators for the mappings that are not one character to one character.
bool Transliterate(const char* aId, UnicodeString& aText) {
  static std::mutex lock;
  static std::map<std::string, std::unique_ptr<icu::Transliterator>> cache;
  std::lock_guard<std::mutex> g(lock);
  auto it = cache.find(aId);
  if (it == cache.end()) {
    UErrorCode err = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(
        icu::Transliterator::createInstance(icu::UnicodeString(aId), UTRANS_FORWARD, err));
    if (U_FAILURE(err) || !t) return false;
    it = cache.emplace(aId, std::move(t)).first;
  }
  icu::UnicodeString u = ToIcu(aText);
  it->second->transliterate(u);
  aText = FromIcu(u);
  return true;
}

uint16_t TextCodePage(LCID aLocale) {
  uint16_t cp = 0;
  if (!LocaleAnsiCodePage(aLocale, cp) || cp == 0) cp = rtl::SystemAnsiCodePage();
  return cp;
}

}  // namespace

int CompareStringW(LCID aLocale, uint32_t aFlags, UnicodeStringView a, UnicodeStringView b) {
  TComparison cmp;
  if (!PrepareComparison(aLocale, aFlags, cmp)) return 0;
  UnicodeString ra, rb;
  if (NeedsRewrite(cmp.flags)) {
    ra = Rewrite(a, cmp.flags);
    rb = Rewrite(b, cmp.flags);
    a = ra;
    b = rb;
  }
  int r = 0;
  if ((cmp.flags & SORT_STRINGSORT) == 0 && (HasWordSortIgnored(a) || HasWordSortIgnored(b)))
    r = Collate(*cmp.collator, StripWordSortIgnored(a), StripWordSortIgnored(b));
  if (r == 0) r = Collate(*cmp.collator, a, b);
  return r + 2;
}

int CompareStringA(LCID aLocale, uint32_t aFlags, std::string_view a, std::string_view b) {
  TComparison cmp;
  if (!PrepareComparison(aLocale, aFlags, cmp)) return 0;
  uint16_t cp = TextCodePage(aLocale);
  UnicodeString ua, ub;
  if (!BytesToUnicode(cp, a, ua) || !BytesToUnicode(cp, b, ub)) return 0;
  return CompareStringW(aLocale, aFlags, ua, ub);
}

int CompareStringOrdinal(UnicodeStringView a, UnicodeStringView b, bool aIgnoreCase) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (aIgnoreCase) {
      // Simple upper-case mapping of single units, as file names are compared.
      x = static_cast<char16_t>(U16_IS_SURROGATE(x) ? x : u_toupper(x));
      y = static_cast<char16_t>(U16_IS_SURROGATE(y) ? y : u_toupper(y));
    }
    if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  if (a.size() == b.size()) return CSTR_EQUAL;
  return a.size() < b.size() ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

bool LCMapSortKey(LCID aLocale, uint32_t aFlags, UnicodeStringView aSource, std::string& aKey) {
  aKey.clear();
  TComparison cmp;
  if (!PrepareComparison(aLocale, aFlags & ~LCMAP_SORTKEY, cmp)) return false;
  UnicodeString r = Rewrite(aSource, cmp.flags);
  // ICU's keys end with their only zero byte, so two keys placed one after the other still
  // compare as the pair they stand for.
  if ((cmp.flags & SORT_STRINGSORT) == 0) AppendSortKey(*cmp.collator, StripWordSortIgnored(r), aKey);
  AppendSortKey(*cmp.collator, r, aKey);
  return true;
}

bool LCMapStringW(LCID aLocale, uint32_t aFlags, UnicodeStringView aSource, UnicodeString& aDest) {
  aDest.clear();
  constexpr uint32_t kCase = LCMAP_LOWERCASE | LCMAP_UPPERCASE;
  constexpr uint32_t kAccepted = kCase | LCMAP_BYTEREV | LCMAP_HIRAGANA | LCMAP_KATAKANA | LCMAP_HALFWIDTH |
                                 LCMAP_FULLWIDTH | LCMAP_LINGUISTIC_CASING | LCMAP_SIMPLIFIED_CHINESE |
                                 LCMAP_TRADITIONAL_CHINESE | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS;
  if (aFlags == 0 || (aFlags & ~kAccepted) != 0) return Fail(EINVAL);
  if ((aFlags & LCMAP_HIRAGANA) && (aFlags & LCMAP_KATAKANA)) return Fail(EINVAL);
  if ((aFlags & LCMAP_HALFWIDTH) && (aFlags & LCMAP_FULLWIDTH)) return Fail(EINVAL);
  if ((aFlags & LCMAP_SIMPLIFIED_CHINESE) && (aFlags & LCMAP_TRADITIONAL_CHINESE)) return Fail(EINVAL);
  if ((aFlags & LCMAP_LINGUISTIC_CASING) && (aFlags & kCase) == 0) return Fail(EINVAL);
  std::string icuName;
  if (!LocaleToIcuName(aLocale, icuName)) return false;
  if (aSource.empty()) return true;

  UnicodeString s(aSource);
  if (aFlags & NORM_IGNORENONSPACE) s = RemoveNonSpacing(s);
  if (aFlags & NORM_IGNORESYMBOLS) {
    UnicodeString r;
    ForEachCodePoint(s, [&](UChar32 c) {
      if (!IsSymbol(c)) Append(r, c);
    });
    s = std::move(r);
  }
  if ((aFlags & LCMAP_HALFWIDTH) && !Transliterate("Fullwidth-Halfwidth", s)) return Fail(EINVAL);
  if ((aFlags & LCMAP_FULLWIDTH) && !Transliterate("Halfwidth-Fullwidth", s)) return Fail(EINVAL);
  if (aFlags & (LCMAP_HIRAGANA | LCMAP_KATAKANA)) {
    UnicodeString r;
    r.reserve(s.size());
    ForEachCodePoint(s, [&](UChar32 c) { Append(r, (aFlags & LCMAP_HIRAGANA) ? KatakanaToHiragana(c) : HiraganaToKatakana(c)); });
    s = std::move(r);
  }
  if ((aFlags & LCMAP_SIMPLIFIED_CHINESE) && !Transliterate("Hant-Hans", s)) return Fail(EINVAL);
  if ((aFlags & LCMAP_TRADITIONAL_CHINESE) && !Transliterate("Hans-Hant", s)) return Fail(EINVAL);
  if (uint32_t casing = aFlags & kCase) {
    if (casing == LCMAP_TITLECASE || (aFlags & LCMAP_LINGUISTIC_CASING)) {
      icu::Locale loc = (aFlags & LCMAP_LINGUISTIC_CASING) ? icu::Locale(icuName.c_str()) : icu::Locale::getRoot();
      icu::UnicodeString u = ToIcu(s);
      if (casing == LCMAP_LOWERCASE) u.toLower(loc);
      else if (casing == LCMAP_UPPERCASE) u.toUpper(loc);
      else u.toTitle(nullptr, loc);
      s = FromIcu(u);
    } else {
      UnicodeString r;
      r.reserve(s.size());
      ForEachCodePoint(s, [&](UChar32 c) { Append(r, casing == LCMAP_LOWERCASE ? u_tolower(c) : u_toupper(c)); });
      s = std::move(r);
    }
  }
  if (aFlags & LCMAP_BYTEREV)
    for (char16_t& c : s) c = static_cast<char16_t>((c >> 8) | (c << 8));
  aDest = std::move(s);
  return true;
}

bool LCMapStringA(LCID aLocale, uint32_t aFlags, std::string_view aSource, std::string& aDest) {
  aDest.clear();
  if (!IsValidLocale(ConvertDefaultLocale(aLocale))) return Fail(EINVAL);
  uint16_t cp = TextCodePage(aLocale);
  UnicodeString u, m;
  if (!BytesToUnicode(cp, aSource, u)) return false;
  if (!LCMapStringW(aLocale, aFlags, u, m)) return false;
  return UnicodeToBytes(cp, m, aDest);
}

bool FoldStringW(uint32_t aFlags, UnicodeStringView aSource, UnicodeString& aDest) {
  aDest.clear();
  constexpr uint32_t kAccepted = MAP_FOLDCZONE | MAP_PRECOMPOSED | MAP_COMPOSITE | MAP_FOLDDIGITS | MAP_EXPAND_LIGATURES;
  if (aFlags == 0 || (aFlags & ~kAccepted) != 0) return Fail(EINVAL);
  if ((aFlags & MAP_PRECOMPOSED) && (aFlags & MAP_COMPOSITE)) return Fail(EINVAL);
  if ((aFlags & MAP_EXPAND_LIGATURES) && (aFlags & (MAP_PRECOMPOSED | MAP_COMPOSITE))) return Fail(EINVAL);
  if (aSource.empty()) return true;
  UnicodeString r;
  r.reserve(aSource.size());
  ForEachCodePoint(aSource, [&](UChar32 c) {
    if ((aFlags & MAP_FOLDCZONE) && c >= 0xF900 && c <= 0xFFEF) {
      icu::UnicodeString d;
      if (Nfkc().getDecomposition(c, d)) {
        r += Normalize(Nfkc(), FromIcu(d));
        return;
      }
    }
    if (aFlags & MAP_FOLDDIGITS) {
      int nt = u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE);
      if (nt == U_NT_DECIMAL || nt == U_NT_DIGIT) {
        int v = static_cast<int>(u_getNumericValue(c));
        if (v >= 0 && v <= 9) {
          r.push_back(static_cast<char16_t>(u'0' + v));
          return;
        }
      }
    }
    if (aFlags & MAP_EXPAND_LIGATURES) {
      switch (c) {
        case 0x00C6: r += u"AE"; return;
        case 0x00E6: r += u"ae"; return;
        case 0x0152: r += u"OE"; return;
        case 0x0153: r += u"oe"; return;
        case 0x00DF: r += u"ss"; return;
        default: break;
      }
      if ((c >= 0x0132 && c <= 0x0133) || (c >= 0x01C4 && c <= 0x01CC) || (c >= 0x01F1 && c <= 0x01F3) ||
          (c >= 0xFB00 && c <= 0xFB06)) {
        icu::UnicodeString d;
        if (Nfkd().getDecomposition(c, d)) {
          r += Normalize(Nfc(), FromIcu(d));
          return;
        }
      }
    }
    Append(r, c);
  });
  if (aFlags & MAP_PRECOMPOSED) r = Normalize(Nfc(), r);
  if (aFlags & MAP_COMPOSITE) r = Normalize(Nfd(), r);
  aDest = std::move(r);
  return true;
}

}  // namespace zf::locale
