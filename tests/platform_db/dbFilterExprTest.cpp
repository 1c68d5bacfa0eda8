// The filter-expression parser's blobs, pinned byte by byte from the blob layout.
#include <gtest/gtest.h>

#include "platform/db/dbConsts.h"
#include "platform/db/dbFilterExpr.h"

namespace zf::db::test {
namespace {

// Fields Name (wide text, number 2) and Age (integer, number 3); Calc is not stored.
bool Lookup(const UnicodeString& aName, TFilterField& aField) {
  if (aName == u"Age") aField = {3, ftInteger, u"Age"};
  else if (aName == u"Name") aField = {2, ftWideString, u"Name"};
  else if (aName == u"Calc") aField = {0, ftInteger, u"Calc"};
  else return false;
  return true;
}

struct TGolden {
  const char16_t* Text;
  TFilterOptions Options;
  std::vector<uint8_t> Blob;
};

TEST(FilterExpressionBlobs, MatchTheLayoutByteByByte) {
  const TGolden cases[] = {
      {u"Age > 5",
       {},
       {0x01, 0x00, 60, 0x00, 3, 0x00, 10, 0x00, 48, 0x00,  // version, total, nodes, node and literal starts
        2, 0, 0, 0, 5, 0, 0, 0, 12, 0, 24, 0,                 // 0: binary, greater, left 12, right 24
        4, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0,                   // 12: field 3, name at literal 0
        5, 0, 0, 0, 0, 0, 0, 0, 18, 0, 8, 0, 4, 0,            // 24: constant, 64-bit integer, 8 bytes at 4
        'A', 'g', 'e', 0, 5, 0, 0, 0, 0, 0, 0, 0}},
      {u"Name = 'Jo*'",
       {foCaseInsensitive},
       {0x01, 0x00, 63, 0x00, 3, 0x00, 10, 0x00, 52, 0x00,
        3, 0, 0, 0, 3, 0, 0, 0, 1, 0, 2, 0, 16, 0, 28, 0,     // 0: compare, equal, case-insensitive, partial 2
        4, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0,                   // 16: field 2, name at literal 0
        5, 0, 0, 0, 0, 0, 0, 0, 0x07, 0x10, 6, 0, 5, 0,       // 28: constant, wide text, 6 bytes at 5
        'N', 'a', 'm', 'e', 0, 4, 0, 'J', 0, 'o', 0}},
      {u"NOT Age IS NULL",
       {},
       {0x01, 0x00, 46, 0x00, 3, 0x00, 10, 0x00, 42, 0x00,
        1, 0, 0, 0, 9, 0, 0, 0, 10, 0,                        // 0: unary not, child 10
        1, 0, 0, 0, 1, 0, 0, 0, 20, 0,                        // 10: unary is-blank, child 20
        4, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0,                   // 20: field 3, name at literal 0
        'A', 'g', 'e', 0}},
  };
  for (const TGolden& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Text));
    EXPECT_EQ(ParseFilterExpression(c.Text, c.Options, &Lookup), c.Blob);
  }
}

TEST(FilterExpressionBlobs, EmptyTextsGiveNoBlobAndUnstoredFieldsAreRefused) {
  EXPECT_TRUE(ParseFilterExpression(u" \t ", {}, &Lookup).empty());
  try {
    ParseFilterExpression(u"Calc = 1", {}, &Lookup);
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), u"Field 'Calc' cannot be used in a filter expression");
  }
}

}  // namespace
}  // namespace zf::db::test
