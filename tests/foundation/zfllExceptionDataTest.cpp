#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/zfllBase64.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllExceptionData.h"
#include "foundation/zfllStreams.h"

using namespace zf;
using Bytes = std::vector<uint8_t>;

namespace {

class ExceptionDataTest : public ::testing::Test {
 protected:
  void SetUp() override { zfllExceptionDataUnit().Initialize(); }
  void TearDown() override { zfllExceptionDataUnit().Finalize(); }
};

Bytes StreamOf(const IzfExceptionDataValue& aValue, int32_t aVersion = 30900) {
  TzfMemoryStream s;
  {
    TzfWriter w(s);
    zfWriteExceptionData(w, dynamic_cast<const IzfExceptionDataValueInternal&>(aValue), aVersion);
  }
  auto* p = static_cast<const uint8_t*>(s.Memory());
  return Bytes(p, p + s.Size());
}

TzfExceptionDataValueRef ReadBytes(const Bytes& aBytes) {
  Bytes copy = aBytes;
  TzfStaticMemoryStream s(copy.data(), static_cast<int32_t>(copy.size()));
  TzfReader r(s);
  return zfReadExceptionData(r);
}

UnicodeString Base64Of(const Bytes& aBytes) {
  std::string b64 = StrToBase64(std::string(aBytes.begin(), aBytes.end()));
  return UnicodeString(b64.begin(), b64.end());
}

class TTable : public IzfExceptionDataProvider {
 public:
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override {
    aContainer.AddString(u"ClassName", u"TzfTable");
    aContainer.AddContainer(u"Stats")->AddInteger(u"Reads", 12);
  }
};

const Bytes kHeader = {7, 3, 'E', 'D', 'V', 3, 0xB4, 0x78};  // "EDV", version 30900

}  // namespace

TEST_F(ExceptionDataTest, StreamGoldenBytes) {
  auto empty = zfCreateExceptionDataContainer(u"X");
  Bytes expected = kHeader;
  expected.insert(expected.end(), {2, 5, 6, 1, 'X', 1, 0});
  EXPECT_EQ(StreamOf(*empty), expected);

  auto c = zfCreateExceptionDataContainer(u"D");
  c->AddString(u"s", u"v");
  c->AddInteger(u"i", 300);
  c->AddInteger(u"l", int64_t{1} << 40);
  c->AddBoolean(u"b", true);
  c->AddFloat(u"f", 1.0);
  c->AddVariant(u"n", rtl::Variant::Null());
  c->AddVariant(u"d", rtl::Variant(2.0));
  c->AddContainer(u"e");
  expected = kHeader;
  expected.insert(expected.end(), {2, 5, 6, 1, 'D', 1,                          //
                                   2, 0, 6, 1, 's', 6, 1, 'v',                  //
                                   2, 1, 6, 1, 'i', 3, 0x2C, 0x01,              //
                                   2, 1, 6, 1, 'l', 19, 0, 0, 0, 0, 0, 1, 0, 0, //
                                   2, 2, 6, 1, 'b', 9,                          //
                                   2, 3, 6, 1, 'f', 5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F,
                                   2, 4, 6, 1, 'n', 0,                          //
                                   2, 4, 6, 1, 'd', 5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0x40,
                                   2, 5, 6, 1, 'e', 1, 0,                       //
                                   0});
  EXPECT_EQ(StreamOf(*c), expected);
  EXPECT_EQ(c->SaveToString(30900), Base64Of(expected));
}

TEST_F(ExceptionDataTest, RoundTripKeepsEveryKindAndTheListing) {
  auto c = zfCreateExceptionDataContainer(u"ExceptionData");
  c->AddString(u"Text", u"line1\r\nline2");
  c->AddInteger(u"Big", INT64_MIN);
  c->AddBoolean(u"Flag", false);
  c->AddFloat(u"Ratio", 0.1);
  c->AddVariant(u"Wide", rtl::Variant::FromOleStr(u"it's"));
  c->AddVariant(u"Empty", rtl::Variant());
  auto inner = c->AddContainer(u"Inner");
  inner->AddContainer(u"Deeper")->AddString(u"Name", u"\u65E5\u672C");

  auto back = zfStringToExceptionData(c->SaveToString(30900));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->GetKind(), edkContainer);
  // The wide string went out in its shortest form and reads back as a Unicode string, which the
  // listing does not quote.
  EXPECT_NE(c->ToString().find(u"Wide: 'it''s'"), UnicodeString::npos);
  EXPECT_EQ(back->ToString(),
            u"ExceptionData:\r\n"
            u"  Text:\r\n"
            u"    line1\r\n"
            u"    line2\r\n"
            u"  Big: -9223372036854775808\r\n"
            u"  Flag: False\r\n"
            u"  Ratio: 0.1\r\n"
            u"  Wide: it's\r\n"
            u"  Empty: EMPTY\r\n"
            u"  Inner:\r\n"
            u"    Deeper:\r\n"
            u"      Name: \u65E5\u672C\r\n");
  auto bc = back->AsContainer();
  ASSERT_EQ(bc->GetCount(), 7);
  EXPECT_EQ(bc->GetItem(1)->AsInteger(), INT64_MIN);
  EXPECT_EQ(bc->GetItem(3)->AsFloat(), 0.1);
}

TEST_F(ExceptionDataTest, Listing) {
  auto c = zfCreateExceptionDataContainer(u"ExceptionData");
  TTable table;
  c->AddObject(u"Table", &table);
  c->AddObject(u"Nobody", static_cast<IzfExceptionDataProvider*>(nullptr));
  c->AddString(u"OneLine", u"text\r\n");
  c->AddVariant(u"Null", rtl::Variant::Null());
  c->AddVariant(u"Unicode", rtl::Variant(u"plain"));
  c->AddVariant(u"Int", rtl::Variant(int32_t{5}));
  c->AddFloat(u"Third", 1.0 / 3);
  EXPECT_EQ(c->ToString(),
            u"ExceptionData:\r\n"
            u"  Table:\r\n"
            u"    ClassName: TzfTable\r\n"
            u"    Stats:\r\n"
            u"      Reads: 12\r\n"
            u"  OneLine: text\r\n\r\n"
            u"  Null: NULL\r\n"
            u"  Unicode: plain\r\n"
            u"  Int: 5\r\n"
            u"  Third: 0.333333333333333\r\n");
}

TEST_F(ExceptionDataTest, StringListObject) {
  const std::vector<UnicodeString> lines = {u"plain", u"a=b", u"x=", u"=abc"};
  auto c = zfCreateExceptionDataContainer(u"C");
  c->AddObject(u"List", &lines);
  const std::vector<UnicodeString> none;
  c->AddObject(u"None", &none);
  ASSERT_EQ(c->GetCount(), 1);
  auto list = c->GetItem(0)->AsContainer();
  EXPECT_EQ(list->GetName(), u"List");
  struct Expect { const char16_t* name; const char16_t* value; };
  const Expect expected[] = {{u"[0]", u"plain"}, {u"a", u"b"}, {u"x", u""}, {u"[3]", u"abc"}};
  ASSERT_EQ(list->GetCount(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(list->GetItem(i)->GetName(), expected[i].name);
    EXPECT_EQ(list->GetItem(i)->AsString(), expected[i].value);
  }
}

TEST_F(ExceptionDataTest, Accessors) {
  auto c = zfCreateExceptionDataContainer(u"C");
  c->AddInteger(u"i", 42);
  c->AddString(u"s", u"7");
  c->AddString(u"x", u"no number");
  c->AddBoolean(u"b", true);
  EXPECT_EQ(c->GetItem(0)->AsString(), u"42");
  EXPECT_EQ(c->GetItem(1)->AsInteger(), 7);
  EXPECT_THROW(c->GetItem(2)->AsInteger(), rtl::Exception);
  EXPECT_EQ(c->GetItem(3)->AsString(), u"True");
  EXPECT_THROW(c->GetItem(4), rtl::ERangeError);
  EXPECT_THROW(c->GetItem(-1), rtl::ERangeError);

  try {
    c->AsString();
    ADD_FAILURE();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.GetErrorCode(), zfErrNotSupported);
    EXPECT_EQ(e.GetErrorString(), u"AsVariant not supported by TzfExceptionDataBaseValue");
  }
  try {
    c->GetItem(0)->AsContainer();
    ADD_FAILURE();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(e.GetErrorCode(), zfErrNotSupported);
    EXPECT_EQ(e.GetErrorString(), u"AsContainer not supported for TzfExceptionDataBaseValue");
  }
}

TEST_F(ExceptionDataTest, ReadingAcceptsAnyCaseOfTheIdentifierAndAnyVersion) {
  Bytes b = {7, 3, 'e', 'd', 'v', 2, 1, 2, 0, 6, 1, 'k', 6, 1, 'v'};
  auto v = ReadBytes(b);
  EXPECT_EQ(v->GetKind(), edkString);
  EXPECT_EQ(v->GetName(), u"k");
  EXPECT_EQ(v->AsString(), u"v");
  // Only the kind's low byte counts: 261 is a container.
  v = ReadBytes({7, 3, 'E', 'D', 'V', 2, 1, 3, 5, 1, 6, 0, 1, 0});
  EXPECT_EQ(v->GetKind(), edkContainer);
}

// Damaged streams: the identifier or kind gives 15498, the bytes the reader's own errors.
TEST_F(ExceptionDataTest, DamagedStreams) {
  const auto withHeader = [](Bytes aTail) {
    Bytes b = kHeader;
    b.insert(b.end(), aTail.begin(), aTail.end());
    return b;
  };
  struct Case { const char* name; Bytes bytes; uint32_t code; const char16_t* readError; };
  Bytes deep = kHeader;
  for (int i = 0; i <= zfExceptionDataMaxDepth; ++i) deep.insert(deep.end(), {2, 5, 6, 0, 1});
  Bytes deepOk = kHeader;
  for (int i = 0; i < zfExceptionDataMaxDepth; ++i) deepOk.insert(deepOk.end(), {2, 5, 6, 0, 1});
  deepOk.insert(deepOk.end(), static_cast<size_t>(zfExceptionDataMaxDepth), 0);
  const std::vector<Case> cases = {
      {"wrong identifier", {7, 3, 'E', 'D', 'X', 2, 1, 2, 0, 6, 0, 6, 0}, zfErrIncompatibleStream, nullptr},
      {"identifier as a string", {6, 3, 'E', 'D', 'V'}, 0, kSInvalidPropertyValue},
      {"kind 6", withHeader({2, 6, 6, 1, 'k'}), zfErrIncompatibleStream, nullptr},
      {"kind as a string", withHeader({6, 1, '0'}), 0, kSInvalidPropertyValue},
      {"truncated name", withHeader({2, 0, 6, 5, 'k'}), 0, kSReadError},
      {"string with huge length", withHeader({2, 0, 6, 1, 'k', 12, 0xFF, 0xFF, 0xFF, 0x7F}), 0, kSReadError},
      {"integer payload is a string", withHeader({2, 1, 6, 1, 'k', 6, 0}), 0, kSInvalidPropertyValue},
      {"container without list", withHeader({2, 5, 6, 1, 'k', 2, 0}), 0, kSInvalidPropertyValue},
      {"unterminated container", withHeader({2, 5, 6, 1, 'k', 1, 2, 2, 6, 0, 9}), 0, kSReadError},
      {"variant of an unknown tag", withHeader({2, 4, 6, 1, 'k', 1}), 0, kSReadError},
      {"nesting too deep", deep, zfErrIncompatibleStream, nullptr},
      {"empty", {}, 0, kSReadError},
  };
  for (const auto& c : cases) {
    try {
      ReadBytes(c.bytes);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const EzfBaseException& e) {
      EXPECT_EQ(e.GetErrorCode(), c.code) << c.name;
    } catch (const rtl::EReadError& e) {
      ASSERT_NE(c.readError, nullptr) << c.name;
      EXPECT_EQ(e.Message(), c.readError) << c.name;
    }
  }
  EXPECT_EQ(ReadBytes(deepOk)->GetKind(), edkContainer);
}

TEST_F(ExceptionDataTest, Base64Errors) {
  try {
    zfStringToExceptionData(u"abc");
    ADD_FAILURE();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), u"Base64ToStr: illegal input length!");
  }
  EXPECT_THROW(zfStringToExceptionData(u"A==="), rtl::EReadError);  // an empty stream
}

TEST_F(ExceptionDataTest, EngineExceptionDecodesItsBlock) {
  auto c = zfCreateExceptionDataContainer(u"ExceptionData");
  c->AddString(u"ClassName", u"TzfTable");
  EzfBaseException e(10024, u"No table X" + zfEncodeCustomInfo(zfCustomInfoExceptionData, c->SaveToString(30900)));
  EXPECT_EQ(e.GetErrorString(), u"No table X");
  EXPECT_EQ(e.GetCustomInfos().IndexOfName(zfCustomInfoExceptionData), -1);
  ASSERT_TRUE(e.GetExceptionData());
  EXPECT_EQ(e.GetExceptionData()->ToString(), c->ToString());

  // A top value that is no container leaves the exception without data of its own.
  Bytes notContainer = kHeader;
  notContainer.insert(notContainer.end(), {2, 1, 6, 1, 'k', 2, 1});
  EzfBaseException f(10024, zfEncodeCustomInfo(zfCustomInfoExceptionData, Base64Of(notContainer)));
  EXPECT_FALSE(f.ExceptionData());

  // An exception creates its container on first use, named "ExceptionData".
  EzfBaseException g(10024);
  ASSERT_TRUE(g.GetExceptionData());
  EXPECT_EQ(g.GetExceptionData()->GetName(), u"ExceptionData");
}
