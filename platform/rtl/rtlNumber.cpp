#include "platform/rtl/rtlNumber.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/rtl/rtlException.h"

namespace zf::rtl {

// ---- decimal text ------------------------------------------------------------------------------

bool ParseDecimalText(UnicodeStringView s, char16_t aSep, TDecimalText& r) {
  size_t i = 0, n = s.size();
  while (i < n && s[i] == u' ') ++i;
  bool neg = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) neg = s[i++] == u'-';
  std::string digits;
  int32_t intDigits = 0;
  bool seenSep = false, any = false;
  for (; i < n; ++i) {
    char16_t c = s[i];
    if (c >= u'0' && c <= u'9') {
      any = true;
      if (digits.empty() && c == u'0') {  // leading zero: only moves the point
        if (seenSep) --intDigits;
        continue;
      }
      if (digits.size() >= 4096) return false;  // far beyond any precision we hold
      digits.push_back(static_cast<char>(c));
      if (!seenSep) ++intDigits;
    } else if (c == aSep && !seenSep) {
      seenSep = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  int64_t exp = 0;
  if (i < n && (s[i] == u'e' || s[i] == u'E')) {
    ++i;
    bool eneg = false;
    if (i < n && (s[i] == u'+' || s[i] == u'-')) eneg = s[i++] == u'-';
    size_t start = i;
    while (i < n && s[i] >= u'0' && s[i] <= u'9') {
      if (exp < 100000) exp = exp * 10 + (s[i] - u'0');
      ++i;
    }
    if (i == start) return false;
    if (eneg) exp = -exp;
  }
  while (i < n && s[i] == u' ') ++i;
  if (i != n) return false;
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  r.Negative = neg && !digits.empty();
  r.Digits = digits;
  r.Exponent = digits.empty() ? 0 : static_cast<int32_t>(intDigits + exp);
  return true;
}

namespace {

bool DecimalToFloat(const TDecimalText& d, long double& v) {
  if (d.Digits.empty()) { v = 0; return true; }
  std::string t = (d.Negative ? "-0." : "0.") + d.Digits + "e" + std::to_string(d.Exponent);
  errno = 0;
  char* end = nullptr;
  long double x = std::strtold(t.c_str(), &end);
  if (errno == ERANGE && std::isinf(x)) return false;
  v = x;
  return true;
}

// The amount of a decimal rounded to 4 decimals (ties to even), in units of 1/10000.
bool DecimalToCurrency(const TDecimalText& d, Currency& c) {
  if (d.Digits.empty()) { c.Value = 0; return true; }
  int64_t k = static_cast<int64_t>(d.Exponent) + 4;  // digits of the scaled integer part
  if (k > 19) return false;
  unsigned __int128 acc = 0;
  int64_t len = static_cast<int64_t>(d.Digits.size());
  for (int64_t j = 0; j < k; ++j) acc = acc * 10 + static_cast<unsigned>(j < len ? d.Digits[static_cast<size_t>(j)] - '0' : 0);
  if (k >= 0 && k < len) {
    int first = d.Digits[static_cast<size_t>(k)] - '0';
    bool restNonZero = k + 1 < len;  // digits hold no trailing zeros
    if (first > 5 || (first == 5 && (restNonZero || (acc & 1)))) ++acc;
  } else if (k < 0) {
    // every digit lies below half a unit
  }
  unsigned __int128 limit = d.Negative ? (static_cast<unsigned __int128>(1) << 63) : ((static_cast<unsigned __int128>(1) << 63) - 1);
  if (acc > limit) return false;
  c.Value = d.Negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(acc)) : static_cast<int64_t>(acc);
  return true;
}

}  // namespace

bool TryStrToFloat(UnicodeStringView aText, long double& aValue, const TFormatSettings& fs) {
  TDecimalText d;
  return ParseDecimalText(aText, fs.DecimalSeparator, d) && DecimalToFloat(d, aValue);
}

bool TryStrToFloat(UnicodeStringView aText, double& aValue, const TFormatSettings& fs) {
  long double v;
  if (!TryStrToFloat(aText, v, fs) || std::fabs(v) > DBL_MAX) return false;
  aValue = static_cast<double>(v);
  return true;
}

long double StrToFloat(UnicodeStringView aText, const TFormatSettings& fs) {
  long double v;
  if (!TryStrToFloat(aText, v, fs))
    throw EConvertError(Format(u"'%s' is not a valid floating point value", {aText}));
  return v;
}

// ---- Currency ----------------------------------------------------------------------------------

bool TryFloatToCurrency(long double aValue, Currency& aResult) {
  if (!std::isfinite(aValue)) return false;
  long double r = std::nearbyintl(aValue * 10000.0L);  // default rounding: to nearest, ties to even
  if (!(r >= -9223372036854775808.0L && r < 9223372036854775808.0L)) return false;
  aResult.Value = static_cast<int64_t>(r);
  return true;
}

long double CurrencyToFloat(Currency aValue) { return static_cast<long double>(aValue.Value) / 10000.0L; }

bool TryStrToCurr(UnicodeStringView aText, Currency& aValue, const TFormatSettings& fs) {
  TDecimalText d;
  return ParseDecimalText(aText, fs.DecimalSeparator, d) && DecimalToCurrency(d, aValue);
}

Currency StrToCurr(UnicodeStringView aText, const TFormatSettings& fs) {
  Currency c;
  if (!TryStrToCurr(aText, c, fs))
    throw EConvertError(Format(u"'%s' is not a valid floating point value", {aText}));
  return c;
}

UnicodeString CurrToStr(Currency aValue, const TFormatSettings& fs) {
  bool neg = aValue.Value < 0;
  uint64_t a = neg ? 0 - static_cast<uint64_t>(aValue.Value) : static_cast<uint64_t>(aValue.Value);
  UnicodeString r = neg ? u"-" : u"";
  r += UIntToStr(a / 10000);
  uint64_t f = a % 10000;
  if (f) {
    UnicodeString fr = UIntToStr(f);
    while (fr.size() < 4) fr.insert(fr.begin(), u'0');
    while (fr.back() == u'0') fr.pop_back();
    r += fs.DecimalSeparator;
    r += fr;
  }
  return r;
}

int64_t DivRoundHalfEven(int64_t a, int64_t b) {
  int64_t q = a / b, r = a % b;
  uint64_t ar = r < 0 ? 0 - static_cast<uint64_t>(r) : static_cast<uint64_t>(r);
  uint64_t rest = static_cast<uint64_t>(b) - ar;
  if (ar > rest || (ar == rest && (q & 1))) q += (a < 0) ? -1 : 1;
  return q;
}

// ---- Extended ----------------------------------------------------------------------------------

long double ExtendedFromBytes(const uint8_t* aBytes) {
  long double v = 0;
  std::memset(&v, 0, sizeof v);
  std::memcpy(&v, aBytes, ExtendedSize);
  return v;
}

void ExtendedToBytes(long double aValue, uint8_t* aBytes) { std::memcpy(aBytes, &aValue, ExtendedSize); }

// ---- TBcd --------------------------------------------------------------------------------------

bool BcdIsValid(const TBcd& b) {
  if (b.Precision > MaxBcdDigits || BcdPlaces(b) > b.Precision) return false;
  for (int i = 0; i < b.Precision; ++i)
    if (BcdDigit(b, i) > 9) return false;
  return true;
}

bool BcdToDecimal(const TBcd& b, TDecimalText& r) {
  if (!BcdIsValid(b)) return false;
  int intDigits = b.Precision - BcdPlaces(b);
  r.Digits.clear();
  int lead = 0;
  for (int i = 0; i < b.Precision; ++i) {
    int d = BcdDigit(b, i);
    if (r.Digits.empty() && d == 0) { ++lead; continue; }
    r.Digits.push_back(static_cast<char>('0' + d));
  }
  while (!r.Digits.empty() && r.Digits.back() == '0') r.Digits.pop_back();
  r.Negative = BcdIsNegative(b) && !r.Digits.empty();
  r.Exponent = r.Digits.empty() ? 0 : intDigits - lead;
  return true;
}

bool DecimalToBcd(const TDecimalText& d, TBcd& b) {
  int32_t len = static_cast<int32_t>(d.Digits.size());
  int64_t intDigits = d.Exponent > 0 ? d.Exponent : 0;
  int64_t places = len - static_cast<int64_t>(d.Exponent);
  if (places < 0) places = 0;
  int64_t precision = intDigits + places;
  if (precision == 0) precision = 1;
  if (precision > MaxBcdDigits || places > 63) return false;
  TBcd r;
  r.Precision = static_cast<uint8_t>(precision);
  r.SignSpecialPlaces = static_cast<uint8_t>(places | (d.Negative && len ? 0x80 : 0));
  for (int32_t j = 0; j < len; ++j)
    SetBcdDigit(r, static_cast<int>(intDigits - d.Exponent + j), d.Digits[static_cast<size_t>(j)] - '0');
  b = r;
  return true;
}

UnicodeString BcdToStr(const TBcd& b, char16_t aSep) {
  TDecimalText d;
  if (!BcdToDecimal(b, d) || d.Digits.empty()) return u"0";
  UnicodeString r = d.Negative ? u"-" : u"";
  UnicodeString digits = u16(d.Digits);
  int32_t len = static_cast<int32_t>(digits.size());
  if (d.Exponent <= 0) {
    r += u'0';
    r += aSep;
    r.append(static_cast<size_t>(-d.Exponent), u'0');
    r += digits;
  } else if (d.Exponent >= len) {
    r += digits;
    r.append(static_cast<size_t>(d.Exponent - len), u'0');
  } else {
    r += digits.substr(0, static_cast<size_t>(d.Exponent));
    r += aSep;
    r += digits.substr(static_cast<size_t>(d.Exponent));
  }
  return r;
}

bool TryStrToBcd(UnicodeStringView aText, TBcd& b, char16_t aSep) {
  TDecimalText d;
  return ParseDecimalText(aText, aSep, d) && DecimalToBcd(d, b);
}

long double BcdToFloat(const TBcd& b) {
  TDecimalText d;
  long double v = 0;
  if (BcdToDecimal(b, d)) DecimalToFloat(d, v);
  return v;
}

bool TryFloatToBcd(long double aValue, TBcd& b) {
  if (!std::isfinite(aValue)) return false;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14Le", aValue);
  TDecimalText d;
  return ParseDecimalText(u16(buf), u'.', d) && DecimalToBcd(d, b);
}

bool TryBcdToCurrency(const TBcd& b, Currency& aValue) {
  TDecimalText d;
  return BcdToDecimal(b, d) && DecimalToCurrency(d, aValue);
}

TBcd CurrencyToBcd(Currency aValue) {
  TBcd b;
  b.Precision = 32;
  bool neg = aValue.Value < 0;
  uint64_t a = neg ? 0 - static_cast<uint64_t>(aValue.Value) : static_cast<uint64_t>(aValue.Value);
  b.SignSpecialPlaces = static_cast<uint8_t>(4 | (neg ? 0x80 : 0));
  for (int i = 31; i >= 0 && a; --i, a /= 10) SetBcdDigit(b, i, static_cast<int>(a % 10));
  return b;
}

int BcdCompare(const TBcd& a, const TBcd& b) {
  TDecimalText x, y;
  if (!BcdToDecimal(a, x)) x = TDecimalText{};
  if (!BcdToDecimal(b, y)) y = TDecimalText{};
  int sx = x.Digits.empty() ? 0 : (x.Negative ? -1 : 1);
  int sy = y.Digits.empty() ? 0 : (y.Negative ? -1 : 1);
  if (sx != sy) return sx < sy ? -1 : 1;
  if (sx == 0) return 0;
  int mag;
  if (x.Exponent != y.Exponent) mag = x.Exponent < y.Exponent ? -1 : 1;
  else {
    int c = x.Digits.compare(y.Digits);
    mag = c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  return sx < 0 ? -mag : mag;
}

}  // namespace zf::rtl
