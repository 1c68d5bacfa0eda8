#include "platform/rtl/rtlFormat.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/rtl/rtlException.h"

namespace zf::rtl {

TFormatSettings& DefaultFormatSettings() {
  static TFormatSettings settings;
  return settings;
}

namespace {

// A decimal value 0.d1d2d3... x 10^exp; digits hold no trailing zeros; empty digits = zero.
struct TDecimal {
  bool negative = false;
  int exp = 0;
  std::string digits;
  bool special = false;  // NaN or infinity: text holds the form
  UnicodeString text;
};

TDecimal ToDecimal(long double v) {
  TDecimal d;
  if (std::isnan(v)) { d.special = true; d.text = u"NAN"; return d; }
  if (std::isinf(v)) { d.special = true; d.text = v < 0 ? u"-INF" : u"INF"; return d; }
  d.negative = std::signbit(v);
  if (v == 0) return d;
  // 18 significant digits, as the platform converts an Extended.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17Le", std::fabs(v));
  const char* p = buf;
  std::string digits;
  while (*p && *p != 'e') {
    if (*p >= '0' && *p <= '9') digits.push_back(*p);
    ++p;
  }
  int e10 = (*p == 'e') ? std::atoi(p + 1) : 0;
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  d.digits = digits;
  d.exp = e10 + 1;
  return d;
}

// Rounds half away from zero so that at most aKeep digits remain.
void RoundDigits(TDecimal& d, int aKeep) {
  if (static_cast<int>(d.digits.size()) <= aKeep) return;
  if (aKeep < 0) { d.digits.clear(); return; }
  bool up = d.digits[static_cast<size_t>(aKeep)] >= '5';
  d.digits.resize(static_cast<size_t>(aKeep));
  if (up) {
    int i = aKeep - 1;
    for (; i >= 0; --i) {
      if (d.digits[static_cast<size_t>(i)] == '9') { d.digits[static_cast<size_t>(i)] = '0'; }
      else { d.digits[static_cast<size_t>(i)]++; break; }
    }
    if (i < 0) { d.digits.insert(d.digits.begin(), '1'); d.exp++; }
  }
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
}

char DigitAt(const TDecimal& d, int aPos) {  // aPos 0 = first digit after "0."
  return (aPos >= 0 && aPos < static_cast<int>(d.digits.size())) ? d.digits[static_cast<size_t>(aPos)] : '0';
}

UnicodeString ExponentText(int aExp, int aMinDigits, bool aPlus) {
  UnicodeString r = u"E";
  if (aExp < 0) r += u'-';
  else if (aPlus) r += u'+';
  UnicodeString n = UIntToStr(static_cast<uint64_t>(aExp < 0 ? -static_cast<int64_t>(aExp) : aExp));
  while (static_cast<int>(n.size()) < aMinDigits) n.insert(n.begin(), u'0');
  return r + n;
}

// Unsigned fixed text of d with aDecimals decimals, thousands separators when aGroup.
UnicodeString FixedBody(const TDecimal& d, int aDecimals, bool aGroup, const TFormatSettings& fs) {
  UnicodeString intPart;
  if (d.exp <= 0 || d.digits.empty()) intPart = u"0";
  else
    for (int i = 0; i < d.exp; ++i) intPart += static_cast<char16_t>(DigitAt(d, i));
  if (aGroup && fs.ThousandSeparator != 0) {
    UnicodeString g;
    int n = static_cast<int>(intPart.size());
    for (int i = 0; i < n; ++i) {
      if (i > 0 && (n - i) % 3 == 0) g += fs.ThousandSeparator;
      g += intPart[static_cast<size_t>(i)];
    }
    intPart = g;
  }
  if (aDecimals > 0) {
    intPart += fs.DecimalSeparator;
    for (int i = 0; i < aDecimals; ++i) intPart += static_cast<char16_t>(DigitAt(d, d.exp + i));
  }
  return intPart;
}

UnicodeString ExponentForm(TDecimal d, int aPrecision, int aDigits, const TFormatSettings& fs) {
  RoundDigits(d, aPrecision);
  UnicodeString r = d.negative && !d.digits.empty() ? u"-" : u"";
  r += static_cast<char16_t>(DigitAt(d, 0));
  if (aPrecision > 1) {
    r += fs.DecimalSeparator;
    for (int i = 1; i < aPrecision; ++i) r += static_cast<char16_t>(DigitAt(d, i));
  }
  return r + ExponentText(d.digits.empty() ? 0 : d.exp - 1, aDigits, true);
}

UnicodeString GeneralForm(TDecimal d, int aPrecision, int aDigits, const TFormatSettings& fs) {
  RoundDigits(d, aPrecision);
  if (d.digits.empty()) return u"0";
  UnicodeString r = d.negative ? u"-" : u"";
  int n = static_cast<int>(d.digits.size());
  // Fixed notation from 0.0001 up to the precision; smaller magnitudes go to exponent form (1E-5).
  if (d.exp <= aPrecision && d.exp >= -3) {
    int decimals = n - d.exp;
    if (decimals < 0) decimals = 0;
    return r + FixedBody(d, decimals, false, fs);
  }
  r += static_cast<char16_t>(d.digits[0]);
  if (n > 1) {
    r += fs.DecimalSeparator;
    for (int i = 1; i < n; ++i) r += static_cast<char16_t>(d.digits[static_cast<size_t>(i)]);
  }
  return r + ExponentText(d.exp - 1, aDigits, false);
}

UnicodeString CurrencyForm(const UnicodeString& body, bool neg, const TFormatSettings& fs) {
  const UnicodeString& c = fs.CurrencyString;
  if (!neg) {
    switch (fs.CurrencyFormat) {
      case 1: return body + c;
      case 2: return c + u" " + body;
      case 3: return body + u" " + c;
      default: return c + body;
    }
  }
  switch (fs.NegCurrFormat) {
    case 1: return u"-" + c + body;
    case 2: return c + u"-" + body;
    case 3: return c + body + u"-";
    case 4: return u"(" + body + c + u")";
    case 5: return u"-" + body + c;
    case 6: return body + u"-" + c;
    case 7: return body + c + u"-";
    case 8: return u"-" + body + u" " + c;
    case 9: return u"-" + c + u" " + body;
    case 10: return body + u" " + c + u"-";
    case 11: return c + u" " + body + u"-";
    case 12: return c + u" -" + body;
    case 13: return body + u"- " + c;
    case 14: return u"(" + c + u" " + body + u")";
    case 15: return u"(" + body + u" " + c + u")";
    default: return u"(" + c + body + u")";
  }
}

}  // namespace

UnicodeString FloatToStrF(long double aValue, TFloatFormat aFormat, int aPrecision, int aDigits,
                          const TFormatSettings& fs) {
  if (aPrecision < 1) aPrecision = 1;
  if (aPrecision > 18) aPrecision = 18;
  TDecimal d = ToDecimal(aValue);
  if (d.special) return d.text;
  switch (aFormat) {
    case TFloatFormat::ffGeneral: return GeneralForm(d, aPrecision, aDigits, fs);
    case TFloatFormat::ffExponent: return ExponentForm(d, aPrecision, aDigits, fs);
    default: break;
  }
  // Fixed, number and currency: more integer digits than the precision holds go scientific.
  if (!d.digits.empty() && d.exp > aPrecision) return GeneralForm(d, aPrecision, aDigits, fs);
  if (aDigits < 0) aDigits = 0;
  if (aDigits > 18) aDigits = 18;
  RoundDigits(d, std::min(aPrecision, d.exp + aDigits));
  bool neg = d.negative && !d.digits.empty();
  UnicodeString body = FixedBody(d, aDigits, aFormat != TFloatFormat::ffFixed, fs);
  if (aFormat == TFloatFormat::ffCurrency) return CurrencyForm(body, neg, fs);
  return neg ? u"-" + body : body;
}

UnicodeString FloatToStr(long double aValue, const TFormatSettings& fs) {
  return FloatToStrF(aValue, TFloatFormat::ffGeneral, 15, 0, fs);
}

UnicodeString Format(UnicodeStringView aFormat, FormatArgs aArgs) {
  return Format(aFormat, aArgs.begin(), aArgs.size(), DefaultFormatSettings());
}

UnicodeString Format(UnicodeStringView aFormat, FormatArgs aArgs, const TFormatSettings& aSettings) {
  return Format(aFormat, aArgs.begin(), aArgs.size(), aSettings);
}

UnicodeString Format(UnicodeStringView aFormat, const FormatArg* aArgs, size_t aCount,
                     const TFormatSettings& fs) {
  auto fail = [&]() -> void {
    throw EConvertError(u"Format '" + UnicodeString(aFormat) + u"' invalid or incompatible with argument");
  };
  UnicodeString out;
  size_t argIndex = 0;
  const size_t n = aFormat.size();
  size_t i = 0;
  auto nextArg = [&]() -> const FormatArg& {
    if (argIndex >= aCount) fail();
    return aArgs[argIndex++];
  };
  auto isInt = [](const FormatArg& a) {
    return a.kind() == FormatArg::Kind::Int32 || a.kind() == FormatArg::Kind::Int64;
  };
  // Reads digits or "*" (from the arguments); -1 when neither stands here. Both are bounded, so
  // that no width or precision pads a text to an unbounded length.
  constexpr int64_t kMaxNumber = 1000000;
  auto readNumber = [&]() -> int64_t {
    if (i < n && aFormat[i] == u'*') {
      ++i;
      const FormatArg& a = nextArg();
      if (!isInt(a) || a.AsInt() > kMaxNumber) fail();
      return a.AsInt();
    }
    if (i >= n || aFormat[i] < u'0' || aFormat[i] > u'9') return -1;
    int64_t v = 0;
    while (i < n && aFormat[i] >= u'0' && aFormat[i] <= u'9') {
      v = v * 10 + (aFormat[i] - u'0');
      if (v > kMaxNumber) fail();
      ++i;
    }
    return v;
  };
  while (i < n) {
    char16_t c = aFormat[i];
    if (c != u'%') { out += c; ++i; continue; }
    ++i;
    if (i >= n) fail();
    if (aFormat[i] == u'%') { out += u'%'; ++i; continue; }
    int64_t num = readNumber();
    if (i < n && aFormat[i] == u':') {
      ++i;
      if (num < 0) num = 0;
      argIndex = static_cast<size_t>(num);
      num = -1;
    }
    bool left = false;
    if (num < 0 && i < n && aFormat[i] == u'-') { left = true; ++i; }
    int64_t width = num >= 0 ? num : readNumber();
    int64_t prec = -1;
    if (i < n && aFormat[i] == u'.') {
      ++i;
      prec = readNumber();
      if (prec < 0) prec = 0;
    }
    if (i >= n) fail();
    char16_t type = AsciiLower(aFormat[i++]);
    const FormatArg& a = nextArg();
    UnicodeString s;
    switch (type) {
      case u'd': {
        if (!isInt(a)) fail();
        int64_t v = a.AsInt();
        uint64_t mag = v < 0 ? static_cast<uint64_t>(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        s = UIntToStr(mag);
        if (prec > static_cast<int64_t>(s.size())) s.insert(0, static_cast<size_t>(prec) - s.size(), u'0');
        if (v < 0) s.insert(s.begin(), u'-');
        break;
      }
      case u'u':
      case u'x': {
        if (!isInt(a)) fail();
        uint64_t v = a.kind() == FormatArg::Kind::Int32 ? static_cast<uint32_t>(a.AsInt())
                                                        : static_cast<uint64_t>(a.AsInt());
        s = type == u'u' ? UIntToStr(v) : IntToHex(v, 0);
        if (prec > static_cast<int64_t>(s.size())) s.insert(0, static_cast<size_t>(prec) - s.size(), u'0');
        break;
      }
      case u'e':
      case u'f':
      case u'g':
      case u'n':
      case u'm': {
        long double v;
        if (a.kind() == FormatArg::Kind::Float) v = a.AsFloat();
        else if (a.kind() == FormatArg::Kind::Currency) v = static_cast<long double>(a.AsInt()) / 10000.0L;
        else { fail(); v = 0; }
        int p = prec < 0 ? -1 : static_cast<int>(std::min<int64_t>(prec, 18));
        switch (type) {
          case u'e': s = FloatToStrF(v, TFloatFormat::ffExponent, p < 0 ? 15 : p, 3, fs); break;
          case u'f': s = FloatToStrF(v, TFloatFormat::ffFixed, 18, p < 0 ? 2 : p, fs); break;
          case u'g': s = FloatToStrF(v, TFloatFormat::ffGeneral, p < 0 ? 15 : p, 3, fs); break;
          case u'n': s = FloatToStrF(v, TFloatFormat::ffNumber, 18, p < 0 ? 2 : p, fs); break;
          default: s = FloatToStrF(v, TFloatFormat::ffCurrency, 18, p < 0 ? fs.CurrencyDecimals : p, fs); break;
        }
        break;
      }
      case u'p': {
        if (a.kind() != FormatArg::Kind::Pointer) fail();
        s = IntToHex(static_cast<uint64_t>(a.AsInt()), 16);
        break;
      }
      case u's': {
        if (a.kind() != FormatArg::Kind::String) fail();
        s = a.AsString();
        if (prec >= 0 && static_cast<int64_t>(s.size()) > prec) s.resize(static_cast<size_t>(prec));
        break;
      }
      default:
        fail();
    }
    if (width > 0 && static_cast<int64_t>(s.size()) < width) {
      UnicodeString pad(static_cast<size_t>(width) - s.size(), u' ');
      s = left ? s + pad : pad + s;
    }
    out += s;
  }
  return out;
}

}  // namespace zf::rtl
