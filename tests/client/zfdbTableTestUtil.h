// A session, a database on a temporary folder and table components over real engine tables.
#pragma once
#include <gtest/gtest.h>

#include <functional>

#include "client/zfdbStartup.h"
#include "client/zfdbTable.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "tests/client/zfdbProbeCursor.h"
#include "tests/server/zfsrServerTestUtil.h"

namespace zf::test {

// The code of the EzfDatabaseError aWork raises; 0 when it raises none.
inline uint32_t ClientErrorCode(const std::function<void()>& aWork) {
  try {
    aWork();
  } catch (const EzfDatabaseError& e) {
    return e.ErrorCode();
  }
  return 0;
}

// Whether the message of the database error aWork raises contains aText.
inline bool RaisesText(const std::function<void()>& aWork, rtl::UnicodeStringView aText) {
  try {
    aWork();
  } catch (const db::EDatabaseError& e) {
    return e.Message().find(aText) != UnicodeString::npos;
  }
  return false;
}

// The message of the database error aWork raises; empty when it raises none.
inline UnicodeString ClientErrorText(const std::function<void()>& aWork) {
  try {
    aWork();
  } catch (const db::EDatabaseError& e) {
    return e.Message();
  }
  return {};
}

// A table component whose engine cursor stands behind a probe (searches and batches can be
// watched, batches refused).
class TProbedTable : public TzfTable {
 public:
  using TzfTable::TzfTable;
  TProbeCursor* Probe = nullptr;
  void SetIgnoreReadOnly(int32_t aValue) { dsIgnoreReadOnly = aValue; }
  using TzfTable::BatchPost;

 protected:
  uint32_t EngineCursorOpen(TzfOpenMode aOpenMode, TzfShareMode aShareMode, TzfAbstractCursor*& aCursor) override {
    TzfAbstractCursor* inner = nullptr;
    const uint32_t code = TzfTable::EngineCursorOpen(aOpenMode, aShareMode, inner);
    if (code != 0) return code;
    Probe = zfCreateServerObject<TProbeCursor>(inner);
    aCursor = Probe;
    return 0;
  }
};

class ClientTableTest : public ServerEngineTest {
 protected:
  static void SetUpTestSuite() {
    ServerEngineTest::SetUpTestSuite();
    zfStartClient();
  }
  static void TearDownTestSuite() {
    zfStopClient();
    ServerEngineTest::TearDownTestSuite();
  }
  void SetUp() override {
    ServerEngineTest::SetUp();
    Session.reset(new TzfSession());
    Session->SetName(u"Session1");
    Session->SetServerEngine(Engine.get());
    Db.reset(new TzfDatabase());
    Db->SetName(u"Database1");
    Db->SetSession(Session.get());
    Db->SetAliasPath(rtl::u16(Dir.Path.string()));
    Db->Open();
  }
  void TearDown() override {
    Tables.clear();
    Db.reset();
    Session.reset();
    ServerEngineTest::TearDown();
  }
  // Fields ID (Int32), Name (wide string 20), Score (Int32); with aIndexed a unique default
  // index "ByID" on ID and an index "ByName" on Name.
  void Build(const UnicodeString& aName, bool aIndexed = true) {
    auto dict = SmallDictionary();
    dict->tdFieldsDescriptor->AddField(u"Score", u"", zftInt32, 0, 0, false, nullptr);
    if (aIndexed) {
      TzfMainIndicesDescriptor* ixs = dict->EnsureIndicesDescriptor();
      TzfIndexDescriptor* ix = ixs->AddIndex(u"ByID", 0, idNone, u"");
      dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(0);
      TzfIndexDescriptor* byName = ixs->AddIndex(u"ByName", 0, idAll, u"");
      dynamic_cast<TzfCompKeyDescriptor&>(*byName->idKeyDescriptor).Add(1);
      ixs->SetDefaultIndex(ix->idNumber);
    }
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, aName, u"", dict.get(), tsPersistent, false), 0u);
  }
  // Records (ID, "n<ID>", ID * 10) straight through an engine cursor.
  void Fill(const UnicodeString& aTable, std::initializer_list<int32_t> aIDs) {
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->AbstractDatabase()->CursorOpen(c, aTable, u"", omReadWrite, smShared, 2000, false), 0u);
    uint8_t* b = c->RecordBufferAlloc();
    for (int32_t id : aIDs) {
      c->RecordBufferClear(b);
      c->SetFieldFromVariant(b, 0, rtl::Variant(id));
      c->SetFieldFromVariant(b, 1, rtl::Variant(u"n" + rtl::IntToStr(id)));
      c->SetFieldFromVariant(b, 2, rtl::Variant(id * 10));
      EXPECT_EQ(c->RecordInsert(zfltNoLock, b), 0u);
    }
    c->RecordBufferFree(b);
    c->Free();
  }
  // A table component on aName (closed).
  template <class T = TzfTable>
  T* Table(const UnicodeString& aName) {
    auto* t = new T();
    t->SetName(u"tbl" + aName);
    t->SetDatabase(Db.get());
    t->SetTableName(aName);
    Tables.emplace_back(t);
    return t;
  }
  static std::vector<int32_t> IDs(TzfTable& aTable) {
    std::vector<int32_t> ids;
    for (aTable.First(); !aTable.Eof(); aTable.Next()) ids.push_back(aTable.FieldByName(u"ID").GetAsInteger());
    return ids;
  }

  rtl::TComponentPtr<TzfSession> Session;
  rtl::TComponentPtr<TzfDatabase> Db;
  std::vector<rtl::TComponentPtr<TzfTable>> Tables;
};

}  // namespace zf::test
