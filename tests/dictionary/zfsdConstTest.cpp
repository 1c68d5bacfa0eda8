#include <gtest/gtest.h>

#include "dictionary/zfsdConst.h"
#include "zfsdTestUtil.h"

using namespace zf;
using rtl::u8;

TEST(FieldTypes, StoredOrdinalsAndNames) {
  struct Case { TzfFieldType type; int ordinal; const char16_t* display; const char16_t* sql; };
  // The ordinals are stored in table files: pin every one.
  const Case cases[] = {
      {zftBoolean, 0, u"Boolean", u"BOOLEAN"},        {zftChar, 1, u"Char", u"SINGLECHAR"},
      {zftWideChar, 2, u"Wide Char", u"NSINGLECHAR"}, {zftByte, 3, u"Byte", u"BYTE"},
      {zftWord16, 4, u"Word16", u"WORD"},             {zftWord32, 5, u"Word32", u"DWORD"},
      {zftInt8, 6, u"Int8", u"SHORTINT"},             {zftInt16, 7, u"Int16", u"SMALLINT"},
      {zftInt32, 8, u"Int32", u"INTEGER"},            {zftInt64, 9, u"Int64", u"BIGINT"},
      {zftAutoInc, 10, u"AutoInc", u"AUTOINC"},       {zftSingle, 11, u"Single", u"FLOAT"},
      {zftDouble, 12, u"Double", u"DOUBLE PRECISION"}, {zftExtended, 13, u"Extended", u"EXTENDED"},
      {zftCurrency, 14, u"Currency", u"MONEY"},       {zftDate, 15, u"Date", u"DATE"},
      {zftTime, 16, u"Time", u"TIME"},                {zftDateTime, 17, u"DateTime", u"TIMESTAMP"},
      {zftInterval, 18, u"Interval", u""},            {zftBlob, 19, u"BLOB", u"BINARY LARGE OBJECT"},
      {zftBlobMemo, 20, u"BLOB Memo", u"CHARACTER LARGE OBJECT"},
      {zftBlobGraphic, 21, u"BLOB Graphic", u"IMAGE"}, {zftByteArray, 22, u"Byte Array", u"BYTEARRAY"},
      {zftShortString, 23, u"ShortString", u"SHORTSTRING"}, {zftNullString, 24, u"NullString", u"CHARACTER"},
      {zftWideString, 25, u"WideString", u"NATIONAL CHARACTER"}, {zftRecRev, 26, u"RecRev", u"RECREV"},
      {zftGuid, 27, u"GUID", u"GUID"},                {zftBCD, 28, u"BCD", u"DECIMAL"},
      {zftBlobWideMemo, 29, u"BLOB Wide Memo", u"NATIONAL CHARACTER LARGE OBJECT"},
      {zftFmtBCD, 30, u"Formatted BCD", u"DECIMAL"},
  };
  ASSERT_EQ(std::size(cases), static_cast<size_t>(zfFieldTypeCount));
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<int>(c.type), c.ordinal);
    EXPECT_EQ(zfFieldTypeDisplayName(c.type), c.display);
    EXPECT_EQ(zfFieldTypeSqlName(c.type), c.sql);
  }
  EXPECT_EQ(zfFieldTypeAltSqlName(zftNullString), u"CHARACTER VARYING");
  EXPECT_EQ(zfFieldTypeDisplayName(static_cast<TzfFieldType>(31)), u"");
  EXPECT_TRUE(zfIsBlobType(zftBlobWideMemo));
  EXPECT_FALSE(zfIsBlobType(zftByteArray));
}

TEST(FieldTypes, FromSqlName) {
  struct Case { const char16_t* name; TzfFieldType type; };
  const Case cases[] = {
      {u"decimal", zftBCD},  // the first type to claim DECIMAL keeps it
      {u"Character Varying", zftNullString},
      {u"national character varying", zftWideString},
      {u"", zftInterval},
      {u"TIMESTAMP", zftDateTime},
      {u"national character large object", zftBlobWideMemo},
  };
  for (const auto& c : cases) EXPECT_EQ(zfFieldTypeFromName(c.name), c.type) << u8(c.name);
  EXPECT_EQ(test::Outcome([] { zfFieldTypeFromName(u"VARCHAR"); }),
            u"!EzfBaseException #8712: ZofrinDB: Could not find object. [$2208/8712]");
}

TEST(FieldTypes, ParamTypeFromName) {
  EXPECT_EQ(zfParamTypeFromName(u"inout"), zfptInputOutput);
  EXPECT_EQ(zfParamTypeFromName(u"In"), zfptInput);
  EXPECT_EQ(zfParamTypeFromName(u"OUT"), zfptOutput);
  EXPECT_EQ(zfParamTypeFromName(u"result"), zfptResult);
  EXPECT_EQ(zfParamTypeFromName(u"IN OUT"), zfptUnknown);
  EXPECT_EQ(zfParamTypeFromName(u""), zfptUnknown);
  EXPECT_EQ(zfParamTypeName(zfptInputOutput), u"INOUT");
}
