// What a new table cursor is before its first call: on index 0, read-only where the stored table
// must be packed first (an old dictionary, keys sorted under other sorting rules), with its
// options inherited from the table before the database, and the exception data and statistics
// it reports. Stored dictionaries that this engine would not write itself are put in place by
// hand, as another program could have written them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllExceptionData.h"
#include "foundation/zfllStreams.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrStreamEngineBase.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class CursorCreation : public PeopleCursorTest {
 protected:
  void SetUp() override {
    PeopleCursorTest::SetUp();
    Open();
  }
  // "People" with ID and Name, under the table locale en-US; with aIndexes a unique index "ByName"
  // (number 0) and "ByID" (number 1); with aOldLayout a memo, a BLOB engine and an
  // auto-increment engine, which the old dictionary layout always names.
  void Build(bool aIndexes, bool aOldLayout = false) {
    auto dict = SmallDictionary();
    dict->RemoveIndicesDescriptor();
    if (aOldLayout) {
      dict->tdFieldsDescriptor->AddField(u"Memo", u"", zftBlobMemo, 0, 0, false, nullptr);
      dict->AddBlobDescriptor();
      dict->AddAutoIncDescriptor();
    }
    dict->AddLocaleDescriptor(nullptr)->SetLocale(0x409);
    if (aIndexes) {
      TzfMainIndicesDescriptor* ix = dict->EnsureIndicesDescriptor();
      for (const auto& [name, field] : {std::pair{u"ByName", 1}, std::pair{u"ByID", 0}}) {
        auto d = TzfIndexDescriptor::CreateStandalone(0, name, 0, nullptr);
        d->SetDups(idNone);
        dynamic_cast<TzfCompKeyDescriptor&>(*d->idKeyDescriptor).Add(field);
        ix->AddIndex(*d);
      }
    }
    ASSERT_EQ(Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
    OpenCursor();
    for (const auto& [id, name] : {std::pair{3, u"a"}, std::pair{1, u"c"}, std::pair{2, u"b"}}) {
      C->SetFieldFromVariant(Rec, 0, rtl::Variant(id));
      C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(name)));
      ASSERT_EQ(C->RecordInsert(zfltNoLock, Rec), 0u);
    }
  }
  TzfServerRootTable& Root() { return *C->Table()->sbtRoot; }
  // Stores the table's dictionary as aChange leaves a copy of it, then starts the engine again
  // with no table open.
  template <typename F>
  void StoreDictionary(F aChange) {
    TzfDataDictionary dict;
    dict.Assign(Root().srtDictionary.get());
    aChange(dict);
    TzfMemoryStream ms;
    dict.WriteToStream(ms, 30900);
    TzfAbstractTransContext* ctx = Db->TransContext();
    ASSERT_EQ(ctx->TransactionStart(false, false), 0u);
    auto* trans = static_cast<TzfServerTransContext*>(ctx)->Transaction();
    ASSERT_NE(trans, nullptr);
    ASSERT_EQ(Root().srtStreamEngine->WriteNamedStream(trans, u"DICT", ms), 0u);
    ASSERT_EQ(ctx->TransactionCommit(), 0u);
    Close();
    StartEngine(0);
    Open();
  }
  std::vector<int32_t> Walk() {
    std::vector<int32_t> ids;
    EXPECT_EQ(C->SetToBegin(), 0u);
    while (C->RecordGetNext(zfltNoLock, Rec) == 0) ids.push_back(C->GetFieldAsVariant(Rec, 0).AsInteger());
    return ids;
  }
  int32_t IndexID() {
    int32_t id = -2;
    EXPECT_EQ(C->GetIndexID(id), 0u);
    return id;
  }
  // Every write the cursor offers answers aCode with aText as its message.
  void ExpectWritesRefused(uint32_t aCode, const char16_t* aText) {
    ASSERT_EQ(C->SetToBegin(), 0u);
    ASSERT_EQ(C->RecordGetNext(zfltNoLock, Rec), 0u);
    const std::vector<std::pair<const char*, std::function<uint32_t()>>> writes = {
        {"insert", [&] { return C->RecordInsert(zfltNoLock, Rec); }},
        {"modify", [&] { return C->RecordModify(Rec, true); }},
        {"delete", [&] { return C->RecordDelete(nullptr); }},
        {"auto-increment", [&] { return C->AutoIncSet(7); }},
    };
    for (const auto& [what, write] : writes) {
      EXPECT_EQ(write(), aCode) << what;
      EXPECT_NE(EzfBaseException(aCode).Message().find(aText), UnicodeString::npos) << what;
    }
  }
};

TEST_F(CursorCreation, ANewCursorStandsBeforeTheFirstKeyOfIndexZero) {
  Build(true);
  CloseCursor();
  OpenCursor();
  EXPECT_EQ(IndexID(), 0);
  EXPECT_EQ(Walk(), (std::vector<int32_t>{3, 2, 1})) << "in the order of ByName";
  EXPECT_EQ(C->SwitchToIndex(u"", -1, false), 0u);
  EXPECT_EQ(IndexID(), -1);

  Close();
  StartEngine(0);
  Open();
  OpenCursor();
  EXPECT_EQ(IndexID(), 0) << "also the first cursor of a table opened anew";
}

TEST_F(CursorCreation, WithoutIndexesACursorWalksTheRecordOrder) {
  Build(false);
  CloseCursor();
  OpenCursor();
  EXPECT_EQ(IndexID(), -1);
  EXPECT_EQ(Walk(), (std::vector<int32_t>{3, 1, 2}));
}

TEST_F(CursorCreation, AnOldDictionaryMakesEveryCursorReadOnlyUntilThePack) {
  Build(false, true);
  StoreDictionary([](TzfDataDictionary& d) {
    d.ddVersion = 1;
    d.RemoveLocaleDescriptor();  // the old layout has no place for it
  });
  OpenCursor();
  EXPECT_EQ(Walk(), (std::vector<int32_t>{3, 1, 2})) << "reads go on";
  ExpectWritesRefused(zfErrHigherTableLevelRequired, u"Table format outdated. Table must be packed to enable write access");
  CloseCursor();
  C = OpenPeople(omReadOnly);
  ASSERT_NE(C, nullptr);
  Rec = C->RecordBufferAlloc();
  ExpectWritesRefused(zfErrTableReadOnly, u"read only");
}

TEST_F(CursorCreation, KeysSortedUnderOtherRulesMakeTheCursorReadOnly) {
  Build(true);
  StoreDictionary([](TzfDataDictionary& d) {
    TzfLocaleDescriptor* ld = d.ldiLocaleDescriptor.get();
    ASSERT_NE(ld, nullptr);
    ASSERT_NE(ld->ldNLSVersionInfoBuild, nullptr) << "a build records the sorting rules of its day";
    ld->ldNLSVersionInfoBuild->dwNLSVersion ^= 0x5A5A;
  });
  OpenCursor();
  EXPECT_EQ(IndexID(), -1) << "index 0 cannot be used: the cursor stays on the record order";
  EXPECT_EQ(Walk(), (std::vector<int32_t>{3, 1, 2}));
  ExpectWritesRefused(zfErrHigherTableLevelRequired,
                      u"Table contains one or more indices where NLS version of stored keys differs from current NLS "
                      u"version. Table must be packed to enable write access");
  EXPECT_EQ(C->SwitchToIndex(u"ByID", -1, false), zfErrHigherTableLevelRequired);
  EXPECT_NE(EzfBaseException(zfErrHigherTableLevelRequired).Message().find(u"packed before index can be used"),
            UnicodeString::npos);
}

TEST_F(CursorCreation, OptionsComeFromTheTableBeforeTheDatabase) {
  Build(false);
  ASSERT_EQ(Db->OptionSet(u"SHARED", u"database"), 0u);
  ASSERT_EQ(Db->OptionSet(u"DB_ONLY", u"database"), 0u);
  ASSERT_EQ(C->Table()->OptionSet(u"SHARED", u"table"), 0u);
  ASSERT_EQ(C->Table()->OptionSet(u"TABLE_ONLY", u"table"), 0u);
  struct Case {
    const char16_t* Name;
    uint32_t Result;
    const char16_t* Value;
  };
  for (const Case& c : std::vector<Case>{{u"SHARED", 0, u"table"},
                                         {u"TABLE_ONLY", 0, u"table"},
                                         {u"DB_ONLY", 0, u"database"},
                                         {u"NOWHERE", zfErrObjNotFound, u""}}) {
    UnicodeString v;
    EXPECT_EQ(C->OptionGetEffective(c.Name, v), c.Result) << rtl::Utf16ToUtf8(c.Name);
    if (c.Result == 0) {
      EXPECT_EQ(v, c.Value) << rtl::Utf16ToUtf8(c.Name);
    }
  }
  ASSERT_EQ(C->OptionSet(u"SHARED", u"cursor"), 0u);
  rtl::TStringList list;
  ASSERT_EQ(C->OptionListEffective(list), 0u);
  std::map<UnicodeString, UnicodeString> effective;
  for (int32_t i = 0; i < list.Count(); ++i) effective[list.Names(i)] = list.ValueFromIndex(i);
  EXPECT_EQ(effective[u"SHARED"], u"cursor");
  EXPECT_EQ(effective[u"TABLE_ONLY"], u"table");
  EXPECT_EQ(effective[u"DB_ONLY"], u"database");
}

TEST_F(CursorCreation, ExceptionDataNamesShareModeIndexPathAndRange) {
  Build(true);
  C->SetFieldFromVariant(Rec, 1, rtl::Variant(UnicodeString(u"b")));
  ASSERT_EQ(C->RangeSet(1, 0, false, Rec, true, 1, 0, false, Rec, false), 0u);
  auto data = zfCreateExceptionDataContainer(u"c");
  C->AddExceptionData(*data);
  std::map<std::string, TzfExceptionDataValueRef> items;
  for (int32_t i = 0; i < data->GetCount(); ++i) items[rtl::Utf16ToUtf8(data->GetItem(i)->GetName())] = data->GetItem(i);
  ASSERT_TRUE(items.count("ShareMode"));
  EXPECT_EQ(items["ShareMode"]->AsString(), u"smShared");
  ASSERT_TRUE(items.count("IndexPath"));
  ASSERT_TRUE(items.count("Range"));
  TzfExceptionDataRef range = items["Range"]->AsContainer();
  ASSERT_TRUE(range);
  ASSERT_EQ(range->GetCount(), 2);
  const auto field = [](TzfExceptionDataRef aEnd, const char16_t* aName) -> TzfExceptionDataValueRef {
    for (int32_t i = 0; i < aEnd->GetCount(); ++i)
      if (aEnd->GetItem(i)->GetName() == aName) return aEnd->GetItem(i);
    return nullptr;
  };
  for (int32_t e = 0; e < 2; ++e) {
    TzfExceptionDataRef end = range->GetItem(e)->AsContainer();
    EXPECT_EQ(range->GetItem(e)->GetName(), e == 0 ? u"Start" : u"End");
    ASSERT_TRUE(field(end, u"Valid"));
    EXPECT_TRUE(field(end, u"Valid")->AsBoolean());
    EXPECT_EQ(field(end, u"FieldCount")->AsInteger(), 1);
    EXPECT_EQ(field(end, u"Partitial")->AsInteger(), 0);
    EXPECT_EQ(field(end, u"Exclusive")->AsBoolean(), e == 1);
    EXPECT_TRUE(field(end, u"Key")) << "the range key as the key engine shows it";
  }
}

TEST_F(CursorCreation, StatisticsThroughTheCursor) {
  Build(true);
  TzfServerTableCursor* second = OpenPeople(omReadOnly);
  ASSERT_NE(second, nullptr);
  const TzfServerTableStats s = C->sbcGetStats();
  EXPECT_GT(s.stsUsedBlocks, 0u);
  EXPECT_EQ(s.stsOpenCursors, 2u);
  EXPECT_EQ(s.stsOpenByDatabases, 1u);
  EXPECT_GT(s.stsMainFileSize, 0);
  second->Free();
}

// A dictionary whose file count is out of range refuses the open and keeps none of the table's
// files open.
TEST_F(CursorCreation, ABadFileCountClosesTheFilesOfTheFailedOpen) {
  Build(false);
  const std::filesystem::path file = Root().srtMainFile->fiName.empty()
                                         ? std::filesystem::path()
                                         : std::filesystem::path(rtl::Utf16ToUtf8(Root().srtMainFile->fiName));
  ASSERT_FALSE(file.empty());
  StoreDictionary([](TzfDataDictionary& d) { d.ddFilesDescriptor->FileCount = 0; });
  const auto openDescriptors = [&] {
    int n = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const auto target = std::filesystem::read_symlink(fd.path(), ec);
      if (!ec && std::filesystem::equivalent(target, file, ec) && !ec) ++n;
    }
    return n;
  };
  ASSERT_EQ(openDescriptors(), 0);
  TzfAbstractCursor* c = nullptr;
  EXPECT_NE(Db->CursorOpen(c, u"People", u"", omReadWrite, smShared, 2000, false), 0u);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(openDescriptors(), 0);
}

}  // namespace
}  // namespace zf::test
