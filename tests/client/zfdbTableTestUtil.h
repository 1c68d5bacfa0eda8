// A session, a database on a temporary folder and table components over real engine tables.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "client/zfdbStartup.h"
#include "client/zfdbTable.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "tests/client/zfdbErrorTestUtil.h"
#include "tests/server/zfsrServerTestUtil.h"

namespace zf::test {

// The client started for the suite; a session component "Session1" on the fixture's engine and an
// open database component "Database1" on its temporary folder for each test.
class ClientDatabaseTest : public ServerEngineTest {
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
    Db.reset();
    Session.reset();
    ServerEngineTest::TearDown();
  }
  // One record per ID in aTable, inserted straight through an engine cursor: field 0 takes the ID,
  // then aSetMore (when given) sets the other fields of the buffer.
  void InsertRecords(const UnicodeString& aTable, const std::vector<int32_t>& aIDs,
                     const std::function<void(TzfAbstractCursor&, uint8_t*, int32_t)>& aSetMore = {}) {
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->AbstractDatabase()->CursorOpen(c, aTable, u"", omReadWrite, smShared, 2000, false), 0u);
    uint8_t* b = c->RecordBufferAlloc();
    for (int32_t id : aIDs) {
      c->RecordBufferClear(b);
      c->SetFieldFromVariant(b, 0, rtl::Variant(id));
      if (aSetMore) aSetMore(*c, b, id);
      EXPECT_EQ(c->RecordInsert(zfltNoLock, b), 0u);
    }
    c->RecordBufferFree(b);
    c->Free();
  }
  // The IDs 1..aCount.
  static std::vector<int32_t> IDsUpTo(int32_t aCount) {
    std::vector<int32_t> ids;
    for (int32_t i = 1; i <= aCount; ++i) ids.push_back(i);
    return ids;
  }
  // Sets field 1 of a record to "n<ID>".
  static void SetName(TzfAbstractCursor& aCursor, uint8_t* aBuffer, int32_t aID) {
    aCursor.SetFieldFromVariant(aBuffer, 1, rtl::Variant(u"n" + rtl::IntToStr(aID)));
  }

  rtl::TComponentPtr<TzfSession> Session;
  rtl::TComponentPtr<TzfDatabase> Db;
};

class ClientTableTest : public ClientDatabaseTest {
 protected:
  void TearDown() override {
    Tables.clear();
    ClientDatabaseTest::TearDown();
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
    InsertRecords(aTable, aIDs, [](TzfAbstractCursor& aCursor, uint8_t* aBuffer, int32_t aID) {
      SetName(aCursor, aBuffer, aID);
      aCursor.SetFieldFromVariant(aBuffer, 2, rtl::Variant(aID * 10));
    });
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

  std::vector<rtl::TComponentPtr<TzfTable>> Tables;
};

}  // namespace zf::test
