#include <gtest/gtest.h>

#include <functional>

#include "platform/rtl/rtlVariant.h"

using namespace zf::rtl;

namespace {
// Runs a conversion and gives its text result or "!" + the exception's class and message.
UnicodeString Outcome(const std::function<UnicodeString()>& f) {
  try {
    return f();
  } catch (const Exception& e) {
    return u"!" + u16(e.ClassName()) + u": " + e.Message();
  }
}
TBcd Bcd(const char16_t* t) {
  TBcd b;
  TryStrToBcd(t, b);
  return b;
}
}  // namespace

TEST(Variant, KindsAndEmptyVersusNull) {
  EXPECT_EQ(Variant().VarType(), varEmpty);
  EXPECT_EQ(Variant::Null().VarType(), varNull);
  EXPECT_FALSE(Variant() == Variant::Null());
  EXPECT_EQ(Variant(int16_t{1}).VarType(), varSmallint);
  EXPECT_EQ(Variant(uint32_t{1}).VarType(), varLongWord);
  EXPECT_EQ(Variant(u"x").VarType(), varUString);
  EXPECT_EQ(Variant::FromOleStr(u"x").VarType(), varOleStr);
  EXPECT_EQ(Variant(AnsiString("x")).VarType(), varString);
  EXPECT_EQ(Variant::FromBytes({1}).VarType(), varByteArray);
  EXPECT_EQ(Variant(Bcd(u"1")).VarType(), varFMTBcd);
  EXPECT_TRUE(Variant(1.5).IsNumeric());
  EXPECT_FALSE(Variant(true).IsNumeric());
  EXPECT_TRUE(Variant::FromOleStr(u"").IsStr());
  EXPECT_EQ(VarToStr(Variant::Null()), u"");
  EXPECT_EQ(Variant(1LL).VarType(), varInt64);
  EXPECT_EQ(Variant(1ULL).VarType(), varUInt64);
  EXPECT_EQ(Variant('a').VarType(), varInteger);
  static_assert(!std::is_constructible_v<Variant, const char*>, "8-bit literals must not become Booleans");
}

TEST(Variant, ConversionTable) {
  TFormatSettings de;
  de.DecimalSeparator = u',';
  de.DateSeparator = u'.';
  de.ShortDateFormat = u"dd/mm/yyyy";
  de.LongTimeFormat = u"hh:nn:ss";
  TFormatSettings us;
  struct Case { const char* name; std::function<UnicodeString()> run; const char16_t* expected; };
  const Case cases[] = {
      {"int to text", [] { return Variant(int32_t{-5}).AsString(); }, u"-5"},
      {"uint64 to text", [] { return Variant(UINT64_MAX).AsString(); }, u"18446744073709551615"},
      {"double to text", [&] { return Variant(1.5).AsString(de); }, u"1,5"},
      {"single to text", [] { return Variant(0.1f).AsString(); }, u"0.1"},
      {"currency to text", [] { return Variant(Currency{-125000}).AsString(); }, u"-12.5"},
      {"date to text", [&] { return Variant::FromDate(EncodeDate(2026, 12, 10) + 0.5).AsString(de); },
       u"10.12.2026 12:00:00"},
      {"boolean to text", [] { return Variant(true).AsString(); }, u"True"},
      {"bcd to text", [&] { return Variant(Bcd(u"-1.25")).AsString(de); }, u"-1,25"},
      {"empty to text", [] { return Variant().AsString(); }, u""},
      {"null to text", [] { return Variant::Null().AsString(); },
       u"!EVariantTypeCastError: Could not convert variant of type (Null) into type (UnicodeString)"},
      {"null to int", [] { return IntToStr(Variant::Null().AsInteger()); },
       u"!EVariantTypeCastError: Could not convert variant of type (Null) into type (Integer)"},
      {"empty to int", [] { return IntToStr(Variant().AsInteger()); }, u"0"},
      {"true is -1", [] { return IntToStr(Variant(true).AsInteger()); }, u"-1"},
      {"2.5 rounds to 2", [] { return IntToStr(Variant(2.5).AsInteger()); }, u"2"},
      {"3.5 rounds to 4", [] { return IntToStr(Variant(3.5).AsInteger()); }, u"4"},
      {"-2.5 rounds to -2", [] { return IntToStr(Variant(-2.5).AsInt64()); }, u"-2"},
      {"currency 2.5 to int", [] { return IntToStr(Variant(Currency{25000}).AsInteger()); }, u"2"},
      {"text to int", [] { return IntToStr(Variant(u" 12").AsInteger()); }, u"12"},
      {"text real to int", [&] { return IntToStr(Variant(u"7,5").AsInteger(de)); }, u"8"},
      {"bad text to int", [] { return IntToStr(Variant(u"abc").AsInteger()); },
       u"!EVariantTypeCastError: Could not convert variant of type (UnicodeString) into type (Integer)"},
      {"double overflow", [] { return IntToStr(Variant(3e10).AsInteger()); },
       u"!EVariantOverflowError: Overflow while converting variant of type (Double) into type (Integer)"},
      {"int64 overflow", [] { return IntToStr(Variant(int64_t{1} << 40).AsInteger()); },
       u"!EVariantOverflowError: Overflow while converting variant of type (Int64) into type (Integer)"},
      {"negative to longword", [] { return IntToStr(Variant(int32_t{-1}).AsLongWord()); },
       u"!EVariantOverflowError: Overflow while converting variant of type (Integer) into type (LongWord)"},
      {"text to double", [&] { return FloatToStr(Variant(u"1,5").AsDouble(de)); }, u"1.5"},
      {"text to double, wrong separator", [&] { return FloatToStr(Variant(u"1.5").AsDouble(de)); },
       u"!EVariantTypeCastError: Could not convert variant of type (UnicodeString) into type (Double)"},
      {"true text to double", [] { return FloatToStr(Variant(u"true").AsDouble()); }, u"-1"},
      // 1/32 and 3/32 are exact doubles lying on half a unit: ties go to the even unit.
      {"double to currency tie down", [] { return IntToStr(Variant(0.03125).AsCurrency().Value); }, u"312"},
      {"double to currency tie up", [] { return IntToStr(Variant(0.09375).AsCurrency().Value); }, u"938"},
      {"text to currency", [] { return IntToStr(Variant(u"1.00005").AsCurrency().Value); }, u"10000"},
      {"text too big for currency", [] { return IntToStr(Variant(u"1e16").AsCurrency().Value); },
       u"!EVariantOverflowError: Overflow while converting variant of type (UnicodeString) into type (Currency)"},
      {"int to currency", [] { return IntToStr(Variant(int32_t{3}).AsCurrency().Value); }, u"30000"},
      {"text to date", [&] { return FloatToStr(Variant(u"31.12.1899").AsDate(de)); }, u"1"},
      {"bad text to date", [&] { return FloatToStr(Variant(u"31.13.1899").AsDate(de)); },
       u"!EVariantTypeCastError: Could not convert variant of type (UnicodeString) into type (Date)"},
      {"int to date", [] { return FloatToStr(Variant(int32_t{2}).AsDate()); }, u"2"},
      {"text to boolean", [] { return Variant(u"FALSE").AsBoolean() ? u"T" : u"F"; }, u"F"},
      {"number text to boolean", [] { return Variant(u"2").AsBoolean() ? u"T" : u"F"; }, u"T"},
      {"bad text to boolean", [] { return Variant(u"yes").AsBoolean() ? u"T" : u"F"; },
       u"!EVariantTypeCastError: Could not convert variant of type (UnicodeString) into type (Boolean)"},
      {"bytes to text", [] { return Variant::FromBytes({65}).AsString(); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Byte) into type (UnicodeString)"},
      {"text to bytes", [] { return IntToStr(Variant(u"A").AsBytes().size()); },
       u"!EVariantTypeCastError: Could not convert variant of type (UnicodeString) into type (Array Byte)"},
      {"bcd to currency", [] { return IntToStr(Variant(Bcd(u"0.00015")).AsCurrency().Value); }, u"2"},
      {"text to bcd", [&] { return BcdToStr(Variant(u"-0,5").AsBcd(de)); }, u"-0.5"},
      {"int to bcd", [] { return BcdToStr(Variant(int64_t{-42}).AsBcd()); }, u"-42"},
      {"currency to bcd", [] { return BcdToStr(Variant(Currency{5}).AsBcd()); }, u"0.0005"},
      {"change type to byte", [] { return Variant(int32_t{256}).ChangeType(varByte).AsString(); },
       u"!EVariantOverflowError: Overflow while converting variant of type (Integer) into type (Byte)"},
      {"change type to smallint", [] { return VarTypeAsText(Variant(u"7").ChangeType(varSmallint).VarType()); },
       u"SmallInt"},
      {"null change to empty", [] { return VarTypeAsText(Variant::Null().ChangeType(varEmpty).VarType()); }, u"Empty"},
      {"null change to int", [] { return VarTypeAsText(Variant::Null().ChangeType(varInteger).VarType()); },
       u"!EVariantTypeCastError: Could not convert variant of type (Null) into type (Integer)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(c.run), c.expected) << c.name;
}

TEST(Variant, AnsiStringsKeepTheirCodePage) {
  Variant euro(AnsiString("\x80", CP_WINDOWS1252));
  EXPECT_EQ(euro.AsString(), u"\u20AC");
  EXPECT_EQ(Variant(u"\u20AC").AsAnsiString(CP_WINDOWS1252).Bytes(), "\x80");
  EXPECT_EQ(Variant(u"\u20AC").AsAnsiString(CP_UTF8).Bytes(), "\xE2\x82\xAC");
  EXPECT_EQ(Variant(u"\u20AC").AsAnsiString(CP_LATIN1).Bytes(), "?");
  // The same code page passes the bytes unchanged, also bytes that do not decode.
  Variant raw(AnsiString("\x81", CP_WINDOWS1252));
  EXPECT_EQ(raw.AsAnsiString(CP_WINDOWS1252).Bytes(), "\x81");
  EXPECT_EQ(raw.AsString(), u"\u0081");  // unassigned bytes keep their value
  EXPECT_THROW(Variant(AnsiString("a", 1)).AsString(), EConvertError);
}

TEST(VariantArray, MadeFromValuesBoundsAndElements) {
  Variant a = VarArrayOf({Variant(int32_t{7}), Variant(u"x"), Variant::Null()});
  EXPECT_EQ(a.VarType(), varVariantArray);
  EXPECT_TRUE(VarIsArray(a));
  EXPECT_EQ(VarArrayDimCount(a), 1);
  EXPECT_EQ(VarArrayLowBound(a, 1), 0);
  EXPECT_EQ(VarArrayHighBound(a, 1), 2);
  EXPECT_EQ(VarArrayGet(a, 0).AsInteger(), 7);
  EXPECT_EQ(VarArrayGet(a, 1).AsString(), u"x");
  EXPECT_TRUE(VarArrayGet(a, 2).IsNull());

  // A copy is a value of its own: putting into it leaves the original alone.
  Variant b = a;
  VarArrayPut(b, Variant(u"y"), 1);
  EXPECT_EQ(VarArrayGet(b, 1).AsString(), u"y");
  EXPECT_EQ(VarArrayGet(a, 1).AsString(), u"x");

  // Bounds other than 0, empty elements, an empty array, an array inside an array.
  Variant c = VarArrayCreate(-1, 1);
  EXPECT_EQ(VarArrayLowBound(c, 1), -1);
  EXPECT_EQ(VarArrayHighBound(c, 1), 1);
  EXPECT_TRUE(VarArrayGet(c, -1).IsEmpty());
  VarArrayPut(c, a, 1);
  EXPECT_EQ(VarArrayGet(VarArrayGet(c, 1), 0).AsInteger(), 7);
  Variant empty = VarArrayCreate(5, 4);
  EXPECT_EQ(VarArrayHighBound(empty, 1) - VarArrayLowBound(empty, 1) + 1, 0);

  // An array of bytes is an array too; its elements are Bytes.
  Variant bytes = Variant::FromBytes({1, 2});
  EXPECT_TRUE(VarIsArray(bytes));
  EXPECT_EQ(VarArrayHighBound(bytes, 1), 1);
  EXPECT_EQ(VarArrayGet(bytes, 1).VarType(), varByte);
  VarArrayPut(bytes, Variant(u"9"), 0);
  EXPECT_EQ(bytes.AsBytes(), (std::vector<uint8_t>{9, 2}));
  EXPECT_TRUE(bytes == Variant::FromBytes({9, 2}));

  EXPECT_FALSE(VarIsArray(Variant(int32_t{1})));
  EXPECT_EQ(VarArrayDimCount(Variant::Null()), 0);
}

TEST(VariantArray, RefusedOperations) {
  const Variant a = VarArrayOf({Variant(int32_t{1}), Variant(int32_t{2})});
  Variant bytes = Variant::FromBytes({1});
  const UnicodeString noInteger =
      u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Integer)";
  struct Case { const char* name; std::function<UnicodeString()> run; const char16_t* expected; };
  const Case cases[] = {
      {"to integer", [&] { return IntToStr(a.AsInteger()); }, noInteger.c_str()},
      {"to text", [&] { return a.AsString(); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (UnicodeString)"},
      {"VarToStr", [&] { return VarToStr(a); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (UnicodeString)"},
      {"to double", [&] { return FloatToStr(a.AsDouble()); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Double)"},
      {"to boolean", [&] { return a.AsBoolean() ? u"T" : u"F"; },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Boolean)"},
      {"to currency", [&] { return IntToStr(a.AsCurrency().Value); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Currency)"},
      {"to date", [&] { return FloatToStr(a.AsDate()); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Date)"},
      {"to bcd", [&] { return BcdToStr(a.AsBcd()); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (FMTBcd)"},
      {"to bytes", [&] { return IntToStr(a.AsBytes().size()); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Array Byte)"},
      {"change type", [&] { return VarTypeAsText(a.ChangeType(varInteger).VarType()); }, noInteger.c_str()},
      {"change type to empty", [&] { return VarTypeAsText(a.ChangeType(varEmpty).VarType()); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Empty)"},
      {"change to an array", [] { return VarTypeAsText(Variant(int32_t{1}).ChangeType(varVariantArray).VarType()); },
       u"!EVariantTypeCastError: Could not convert variant of type (Integer) into type (Array Variant)"},
      {"compared with a value", [&] { return a == Variant(int32_t{1}) ? u"T" : u"F"; }, noInteger.c_str()},
      {"a value compared with it", [&] { return Variant(int32_t{1}) == a ? u"T" : u"F"; }, noInteger.c_str()},
      {"compared with itself", [&] { return a == a ? u"T" : u"F"; },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Array Variant)"},
      {"bound of a value", [] { return IntToStr(VarArrayLowBound(Variant(int32_t{1}), 1)); },
       u"!EVariantInvalidArgError: Invalid argument"},
      {"high bound of null", [] { return IntToStr(VarArrayHighBound(Variant::Null(), 1)); },
       u"!EVariantInvalidArgError: Invalid argument"},
      {"second dimension", [&] { return IntToStr(VarArrayHighBound(a, 2)); },
       u"!EVariantInvalidArgError: Invalid argument"},
      {"bounds crossed", [] { return IntToStr(VarArrayDimCount(VarArrayCreate(3, 1))); },
       u"!EVariantInvalidArgError: Invalid argument"},
      {"element of a value", [] { return VarArrayGet(Variant(u"abc"), 0).AsString(); },
       u"!EVariantInvalidArgError: Invalid argument"},
      {"index below", [&] { return VarArrayGet(a, -1).AsString(); },
       u"!EVariantBadIndexError: Variant or safe array index out of bounds"},
      {"index above", [&] { return VarArrayGet(a, 2).AsString(); },
       u"!EVariantBadIndexError: Variant or safe array index out of bounds"},
      {"put above", [&] { Variant c = a; VarArrayPut(c, Variant(), 2); return UnicodeString(u"put"); },
       u"!EVariantBadIndexError: Variant or safe array index out of bounds"},
      {"byte out of range", [&] { VarArrayPut(bytes, Variant(int32_t{300}), 0); return UnicodeString(u"put"); },
       u"!EVariantOverflowError: Overflow while converting variant of type (Integer) into type (Byte)"},
      {"array into bytes", [&] { VarArrayPut(bytes, a, 0); return UnicodeString(u"put"); },
       u"!EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Byte)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(c.run), c.expected) << c.name;
  EXPECT_EQ(bytes.AsBytes(), std::vector<uint8_t>{1}) << "a refused put changes nothing";
}
