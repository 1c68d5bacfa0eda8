// The BLOB-side field mappers between two real tables: memos and wide memos of no bytes, of a
// block and of several megabytes copied and re-encoded through the server cursors, text fields
// into BLOBs and back, each mapping run in a transaction of the target's database.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "mapping/zfsdFieldMapperDescriptor.h"
#include "mapping/zfsrFieldMapper.h"
#include "server/zfsrServerMapperCursor.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

// Fields of both tables: 0 "ID" Int32, then the BLOB and text fields below.
enum : int32_t { kMemo1251 = 1, kMemo65001 = 2, kMemoNone = 3, kWide = 4, kData = 5, kText = 6, kWideText = 7 };

class BlobFieldMapperServerTest : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    Db = OpenDb(OpenSession(10000));
    for (const char16_t* name : {u"Src", u"Dst"}) {
      auto dict = std::make_unique<TzfServerDataDict>();
      TzfFieldsDescriptor& f = *dict->tdFieldsDescriptor;
      f.AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
      f.AddField(u"Memo1251", u"", zftBlobMemo, 0, 0, false, nullptr)->AddLocaleDescriptor(nullptr)
          ->ldOverrideStorageCodepage = 1251;
      f.AddField(u"Memo65001", u"", zftBlobMemo, 0, 0, false, nullptr)->AddLocaleDescriptor(nullptr)
          ->ldOverrideStorageCodepage = 65001;
      f.AddField(u"MemoNone", u"", zftBlobMemo, 0, 0, false, nullptr);
      f.AddField(u"Wide", u"", zftBlobWideMemo, 0, 0, false, nullptr);
      f.AddField(u"Data", u"", zftBlob, 0, 0, false, nullptr);
      f.AddField(u"Text", u"", zftNullString, 40, 0, false, nullptr)->AddLocaleDescriptor(nullptr)
          ->ldOverrideStorageCodepage = 1251;
      f.AddField(u"WideText", u"", zftWideString, 40, 0, false, nullptr);
      dict->AddBlobDescriptor();
      Build(Db, name, dict.get());
    }
    Src = Open(Db, u"Src");
    Dst = Open(Db, u"Dst");
    ASSERT_NE(Src, nullptr);
    ASSERT_NE(Dst, nullptr);
  }

  TzfFieldDescriptor& Field(TzfServerTableCursor* aCursor, int32_t aField) {
    return *aCursor->acGetTableDescriptor()->tdFieldsDescriptor->Field(aField);
  }

  // Maps field aFrom of Src (holding aSourceBytes) into field aTo of Dst in a transaction that is
  // committed on success; answers the method's result and the target field's bytes.
  uint32_t Map(int32_t aFrom, const std::string& aSourceBytes, int32_t aTo, TzfDataLossAction aAction,
               std::string& aTarget) {
    TzfServerMapperCursor source(*Src), target(*Dst);
    TzfFieldMapperDescriptor desc(u"S", u"T", aAction);
    TzfMappingMethod method;
    auto mapper = TzfBaseFieldMapper::CreateMapper(Field(Src, aFrom), &source, Field(Dst, aTo), &target, &desc,
                                                   method);
    EXPECT_TRUE(method.IsSet());
    if (!method.IsSet()) return 0xFFFFFFFF;
    std::string from = aSourceBytes;
    from.resize(static_cast<size_t>(Field(Src, aFrom).fdLength), '\0');
    aTarget.assign(static_cast<size_t>(Field(Dst, aTo).fdLength), '\xEE');
    TzfAbstractTransContext* ctx = Db->TransContext();
    EXPECT_EQ(ctx->TransactionStart(false, false), 0u);
    const uint32_t r = method(reinterpret_cast<const uint8_t*>(from.data()), reinterpret_cast<uint8_t*>(aTarget.data()));
    EXPECT_EQ(r == 0 ? ctx->TransactionCommit() : ctx->TransactionRollback(), 0u);
    return r;
  }

  // Maps BLOB field aFrom holding aContent (a new BLOB) into BLOB field aTo: the new BLOB's content,
  // or "<result N>" when the method answers N (the target number then 0).
  std::string MapBlob(int32_t aFrom, const std::string& aContent, int32_t aTo,
                      TzfDataLossAction aAction = dlaFail) {
    const int64_t source = MakeBlob(Src, aContent, aFrom);
    std::string number(8, '\0');
    zfStoreLE<int64_t>(reinterpret_cast<uint8_t*>(number.data()), source);
    std::string target;
    const uint32_t r = Map(aFrom, number, aTo, aAction, target);
    const int64_t made = zfLoadLE<int64_t>(reinterpret_cast<const uint8_t*>(target.data()));
    if (r != 0) return "<result " + std::to_string(r) + (made ? " with a BLOB>" : ">");
    EXPECT_NE(made, 0);
    return ReadBlob(Dst, made, false, aTo);
  }

  static std::string Repeat(const std::string& aUnit, size_t aCount) {
    std::string s;
    s.reserve(aUnit.size() * aCount);
    for (size_t i = 0; i < aCount; ++i) s += aUnit;
    return s;
  }

  TzfServerDatabase* Db = nullptr;
  TzfServerTableCursor* Src = nullptr;
  TzfServerTableCursor* Dst = nullptr;
};

// "Zhe" and "a" in windows-1251, UTF-8 and UTF-16LE.
const std::string kCp1251 = "\xC6" "a", kUtf8 = "\xD0\x96" "a", kUtf16 = std::string("\x16\x04" "a\0", 4);

TEST_F(BlobFieldMapperServerTest, MemosReEncodeAtEverySize) {
  // No bytes, about a block, and several megabytes (the pair repeated).
  for (size_t count : {size_t{1000}, size_t{1500000}}) {
    SCOPED_TRACE(count);
    EXPECT_EQ(MapBlob(kMemo1251, Repeat(kCp1251, count), kMemo65001), Repeat(kUtf8, count));
    EXPECT_EQ(MapBlob(kMemo1251, Repeat(kCp1251, count), kWide), Repeat(kUtf16, count));
    EXPECT_EQ(MapBlob(kWide, Repeat(kUtf16, count), kMemo1251), Repeat(kCp1251, count));
    EXPECT_EQ(MapBlob(kWide, Repeat(kUtf16, count), kWide), Repeat(kUtf16, count));
    EXPECT_EQ(MapBlob(kMemo65001, Repeat(kUtf8, count), kMemo1251), Repeat(kCp1251, count));
    // No re-encoding where either side has no code page: the bytes as they are.
    EXPECT_EQ(MapBlob(kMemo1251, Repeat(kCp1251, count), kMemoNone), Repeat(kCp1251, count));
    EXPECT_EQ(MapBlob(kMemo1251, Repeat(kCp1251, count), kData), Repeat(kCp1251, count));
  }
  // An empty memo: copied as it is where nothing is re-encoded, otherwise no value.
  EXPECT_EQ(MapBlob(kMemo1251, "", kMemoNone), "");
  EXPECT_EQ(MapBlob(kWide, "", kWide), "");
  EXPECT_EQ(MapBlob(kMemo1251, "", kMemo65001), "<result 10002>");
  EXPECT_EQ(MapBlob(kMemo1251, "", kMemo65001, dlaBestFit), "<result 1>");
  EXPECT_EQ(MapBlob(kMemo1251, "", kWide), "<result 10002>");
  EXPECT_EQ(MapBlob(kWide, "", kMemo1251, dlaNull), "<result 10002>");
}

TEST_F(BlobFieldMapperServerTest, TextFieldsAndBlobsCrossOver) {
  std::string target;
  // A NullString of windows-1251 text into memos and a wide memo.
  const std::string text = "\xC6" "abc";
  ASSERT_EQ(Map(kText, text, kMemo65001, dlaFail, target), 0u);
  EXPECT_EQ(ReadBlob(Dst, zfLoadLE<int64_t>(reinterpret_cast<const uint8_t*>(target.data())), false, kMemo65001),
            "\xD0\x96" "abc");
  ASSERT_EQ(Map(kText, text, kWide, dlaFail, target), 0u);
  EXPECT_EQ(ReadBlob(Dst, zfLoadLE<int64_t>(reinterpret_cast<const uint8_t*>(target.data())), false, kWide),
            std::string("\x16\x04" "a\0b\0c\0", 8));
  EXPECT_EQ(Map(kText, "", kData, dlaFail, target), 10002u);
  EXPECT_EQ(Map(kText, "", kData, dlaBestFit, target), 1u);

  // A memo into the text fields: decoded, cut or refused by the text field's room.
  std::string number(8, '\0');
  zfStoreLE<int64_t>(reinterpret_cast<uint8_t*>(number.data()), MakeBlob(Src, Repeat(kUtf8, 20), kMemo65001));
  ASSERT_EQ(Map(kMemo65001, number, kWideText, dlaFail, target), 0u);
  EXPECT_EQ(target.substr(0, 82), Repeat(kUtf16, 20) + std::string(2, '\0'));
  zfStoreLE<int64_t>(reinterpret_cast<uint8_t*>(number.data()), MakeBlob(Src, Repeat(kUtf8, 30), kMemo65001));
  ASSERT_EQ(Map(kMemo65001, number, kWideText, dlaFail, target), 10002u);
  ASSERT_EQ(Map(kMemo65001, number, kText, dlaFail, target), 10002u);
  ASSERT_EQ(Map(kMemo65001, number, kText, dlaBestFit, target), 0u);
  EXPECT_EQ(target.substr(0, 41), Repeat(kCp1251, 20) + std::string(1, '\0'));
  // A wide memo into a text field.
  zfStoreLE<int64_t>(reinterpret_cast<uint8_t*>(number.data()), MakeBlob(Src, Repeat(kUtf16, 3), kWide));
  ASSERT_EQ(Map(kWide, number, kText, dlaFail, target), 0u);
  EXPECT_EQ(target.substr(0, 7), Repeat(kCp1251, 3) + std::string(1, '\0'));
}

}  // namespace
}  // namespace zf::test
