// The client exception: the four message formats, component and field texts, custom-information
// blocks, the table-text marker and the reuse of the thread's last converted text.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "client/zfdbBase.h"
#include "client/zfdbStartup.h"
#include "foundation/zfllExceptionData.h"
#include "platform/rtl/rtlComponent.h"
#include "platform_db/dbTestDataSet.h"

namespace zf {
namespace {

using rtl::UnicodeString;

class ClientExceptionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartClient(); }
  static void TearDownTestSuite() { zfStopClient(); }
  void SetUp() override { EzfBaseException::SetLastConvertedException(0, u""); }
};

rtl::TComponent* Named(rtl::TComponent& aComponent, const char16_t* aName) {
  aComponent.SetName(aName);
  return &aComponent;
}

TEST_F(ClientExceptionTest, MessageFormats) {
  rtl::TComponent table1;
  table1.SetName(u"Table1");
  rtl::TComponent unnamed;
  const UnicodeString marked = UnicodeString(u"Could not post: ") + zfOrgMarker + u" Retry later";
  struct Case {
    const char* Name;
    std::function<EzfDatabaseError()> Make;
    const char16_t* Message;
    uint32_t Code;
  };
  const Case cases[] = {
      {"component and code", [&] { return EzfDatabaseError(&table1, zfErrEOF); },
       u"ZofrinDB: Table1: At end of table. [$2202/8706]", zfErrEOF},
      {"component, no code", [&] { return EzfDatabaseError(&table1, u"Value missing"); },
       u"ZofrinDB: Table1: Value missing [no error code]", 0},
      {"no component, code", [&] { return EzfDatabaseError(zfErrEOF); }, u"At end of table. [$2202/8706]", zfErrEOF},
      {"no component, no code", [&] { return EzfDatabaseError(u"Value missing"); }, u"Value missing [no error code]",
       0},
      {"alternative text", [&] { return EzfDatabaseError(&table1, zfErrEOF, u"  Ran out  "); },
       u"ZofrinDB: Table1: Ran out [$2202/8706]", zfErrEOF},
      {"format with code", [&] { return EzfDatabaseError(zfErrEOF, u"Row %d of %s", {7, u"T"}); },
       u"Row 7 of T [$2202/8706]", zfErrEOF},
      {"format without code", [&] { return EzfDatabaseError(&table1, u"Row %d", {7}); },
       u"ZofrinDB: Table1: Row 7 [no error code]", 0},
      {"unnamed component", [&] { return EzfDatabaseError(&unnamed, u"x"); },
       u"ZofrinDB: <unnamed TComponent instance>: x [no error code]", 0},
      {"nil component", [&] { return EzfDatabaseError(static_cast<rtl::TComponent*>(nullptr), u"x"); },
       u"ZofrinDB: <nil pointer>: x [no error code]", 0},
      {"marker with code", [&] { return EzfDatabaseError(zfErrKeyViol, marked); },
       u"Could not post: Key violation. Retry later [$2601/9729]", zfErrKeyViol},
      {"marker in alternative text", [&] { return EzfDatabaseError(zfErrKeyViol, zfOrgMarker); },
       u"Key violation. [$2601/9729]", zfErrKeyViol},
      {"empty text shows the code's text", [&] { return EzfDatabaseError(zfErrKeyViol, u"   "); },
       u"Key violation. [$2601/9729]", zfErrKeyViol},
      {"code above the signed range", [&] { return EzfDatabaseError(0xFFFFFFFFu, u"big"); },
       u"big [$FFFFFFFF/4294967295]", 0xFFFFFFFFu},
      {"format that does not fit its arguments", [&] { return EzfDatabaseError(u"Row %d", {u"seven"}); },
       u"Row %d [no error code]", 0},
      {"several lines", [&] { return EzfDatabaseError(u"one\r\ntwo\r\n\r\n"); },
       u"one\r\ntwo\r\n\r\n [no error code]", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const EzfDatabaseError e = c.Make();
    EXPECT_EQ(e.Message(), c.Message);
    EXPECT_EQ(e.GetErrorCode(), c.Code);
  }
}

TEST_F(ClientExceptionTest, FieldsAreNamedThroughTheirDataSet) {
  db::test::TTestDataSet named({});
  named.SetName(u"Orders");
  db::TStringField field;
  field.SetFieldName(u"Customer");
  field.SetDataSet(&named);
  EXPECT_EQ(EzfDatabaseError(&field, zfErrEOF).Message(),
            u"ZofrinDB: Orders (FieldName: Customer): At end of table. [$2202/8706]");

  db::test::TTestDataSet unnamed({});
  field.SetDataSet(&unnamed);
  EXPECT_EQ(EzfDatabaseError::ComponentText(&field),
            UnicodeString(u"<unnamed ") + unnamed.ClassName() + u" instance> (FieldName: Customer)");
  field.SetDataSet(nullptr);
  EXPECT_EQ(EzfDatabaseError::ComponentText(&field), u"<nil pointer> (FieldName: Customer)");
}

TEST_F(ClientExceptionTest, CustomInformationIsCutOut) {
  const UnicodeString text = u"Value missing " + zfEncodeCustomInfo(u"OSError", u"5");
  EzfDatabaseError e(text);
  EXPECT_EQ(e.GetOSError(), 5u);
  ASSERT_EQ(e.CustomInfos().Count(), 1);
  EXPECT_EQ(e.CustomInfos()[0].first, u"OSError");
  EXPECT_EQ(e.GetErrorString(), u"Value missing ");
  EXPECT_EQ(e.GetProcessedErrorString(), u"Value missing");
  EXPECT_TRUE(e.GetExtendedMsg());
  EXPECT_EQ(e.Message(), u"Value missing [no error code]");

  // A block without its end runs to the end of the text; blocks without a name or a value are
  // dropped; a later block replaces an earlier value.
  EzfDatabaseError open(UnicodeString(u"Head ") + zfCustomInfoStart + u"A=1" + zfCustomInfoEnd + u"mid " +
                        zfCustomInfoStart + u"=v" + zfCustomInfoEnd + zfCustomInfoStart + u"A=2" + zfCustomInfoEnd +
                        zfCustomInfoStart + u"Tail=never closed");
  EXPECT_EQ(open.GetErrorString(), u"Head mid ");
  EXPECT_EQ(open.CustomInfos().Value(u"A"), u"2");
  EXPECT_EQ(open.CustomInfos().Value(u"Tail"), u"never closed");
  EXPECT_EQ(open.CustomInfos().Count(), 2);
}

// Building the exception must report the failure it was made for, whatever the blocks hold.
TEST_F(ClientExceptionTest, MalformedBlocksAreIgnored) {
  const struct {
    const char16_t* Name;
    const char16_t* Value;
  } cases[] = {{u"OSError", u"4294967296"}, {u"OSError", u"-1"}, {u"OSError", u"five"},
               {u"$ExceptionData$", u"not base64 at all"}, {u"$ExceptionData$", u"QUJD"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(rtl::u8(UnicodeString(c.Name) + u"=" + c.Value));
    try {
      EzfDatabaseError e(zfErrKeyViol, u"Failed " + zfEncodeCustomInfo(c.Name, c.Value));
      EXPECT_EQ(e.GetOSError(), 0u);
      EXPECT_EQ(e.Message(), u"Failed [$2601/9729]");
    } catch (...) {
      ADD_FAILURE() << "construction raised";
    }
  }
}

TEST_F(ClientExceptionTest, ExceptionDataTravelsInABlock) {
  TzfExceptionDataRef data = zfCreateExceptionDataContainer(u"ExceptionData");
  data->AddString(u"ClassName", u"TzfTable");
  const UnicodeString encoded = data->SaveToString(0);
  EzfDatabaseError e(zfErrKeyViol, u"With data" + zfEncodeCustomInfo(zfCustomInfoExceptionData, encoded));
  EXPECT_EQ(e.CustomInfos().Count(), 0);
  ASSERT_TRUE(e.GetExceptionData());
  EXPECT_EQ(e.GetExceptionData()->SaveToString(0), encoded);

  // Without data an empty container is made once and kept.
  EzfDatabaseError plain(zfErrKeyViol);
  TzfExceptionDataRef first = plain.GetExceptionData();
  ASSERT_TRUE(first);
  EXPECT_EQ(plain.GetExceptionData(), first);
}

TEST_F(ClientExceptionTest, LastConvertedTextIsUsedOnce) {
  rtl::TComponent db;
  EzfBaseException::SetLastConvertedException(zfErrKeyViol, UnicodeString(u"Server: ") + zfOrgMarker + u" In table X");
  EzfDatabaseError first(Named(db, u"DB"), zfErrKeyViol);
  EXPECT_EQ(first.Message(), u"ZofrinDB: DB: Server: Key violation. In table X [$2601/9729]");
  EXPECT_TRUE(first.GetExtendedMsg());
  EzfDatabaseError second(&db, zfErrKeyViol);
  EXPECT_EQ(second.Message(), u"ZofrinDB: DB: Key violation. [$2601/9729]");
  EXPECT_FALSE(second.GetExtendedMsg());

  // A text converted for another code is not taken, and is cleared all the same.
  EzfBaseException::SetLastConvertedException(zfErrEOF, u"Other");
  EXPECT_EQ(EzfDatabaseError(zfErrKeyViol).Message(), u"Key violation. [$2601/9729]");
  uint32_t code = 1;
  UnicodeString text = u"x";
  EzfBaseException::GetLastConvertedException(code, text);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(text.empty());
}

TEST_F(ClientExceptionTest, CaughtAsTheFrameworkError) {
  try {
    throw EzfDatabaseError(zfErrEOF);
  } catch (const db::EDatabaseError& e) {
    EXPECT_STREQ(e.ClassName(), "EzfDatabaseError");
    const auto* info = dynamic_cast<const IzfBaseException*>(&e);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->GetErrorCode(), zfErrEOF);
  }
}

}  // namespace
}  // namespace zf
