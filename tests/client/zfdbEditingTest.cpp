// Editing through table components over real engine tables: insert, edit, post, cancel, delete,
// read-only fields, optimistic locks, batch append, whole record sets and callback filters.
#include <gtest/gtest.h>

#include "client/zfdbTable.h"
#include "foundation/zfllStreams.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

class ClientEditing : public ClientTableTest {
 protected:
  // A table "Revs" with ID, Name and a record-revision field.
  void BuildWithRecRev() {
    auto dict = SmallDictionary();
    dict->tdFieldsDescriptor->AddField(u"Rev", u"", zftRecRev, 0, 0, false, nullptr);
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, u"Revs", u"", dict.get(), tsPersistent, false), 0u);
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->AbstractDatabase()->CursorOpen(c, u"Revs", u"", omReadWrite, smShared, 2000, false), 0u);
    uint8_t* b = c->RecordBufferAlloc();
    for (int32_t id : {1, 2}) {
      c->RecordBufferClear(b);
      c->SetFieldFromVariant(b, 0, rtl::Variant(id));
      c->SetFieldFromVariant(b, 1, rtl::Variant(UnicodeString(u"r")));
      EXPECT_EQ(c->RecordInsert(zfltNoLock, b), 0u);
    }
    c->RecordBufferFree(b);
    c->Free();
  }
  static void InsertRecord(TzfTable& aTable, int32_t aID, const UnicodeString& aName) {
    aTable.Insert();
    aTable.FieldByName(u"ID").SetAsInteger(aID);
    aTable.FieldByName(u"Name").SetAsString(aName);
    aTable.Post();
  }
};

TEST_F(ClientEditing, InsertEditCancelAndDelete) {
  Build(u"People");
  TzfTable* t = Table(u"People");
  t->Open();
  InsertRecord(*t, 2, u"two");
  InsertRecord(*t, 1, u"one");
  t->Append();
  t->FieldByName(u"ID").SetAsInteger(3);
  t->Post();
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(t->RecordCount(), 3);

  ASSERT_TRUE(t->Locate(u"ID", rtl::Variant(2), {}));
  t->Edit();
  t->FieldByName(u"Name").SetAsString(u"zwei");
  t->Post();
  t->Edit();
  t->FieldByName(u"Name").SetAsString(u"dropped");
  t->Cancel();
  EXPECT_EQ(t->FieldByName(u"Name").GetAsString(), u"zwei");

  TzfTable* other = Table(u"People");
  other->Open();
  ASSERT_TRUE(other->Locate(u"ID", rtl::Variant(2), {}));
  EXPECT_EQ(other->FieldByName(u"Name").GetAsString(), u"zwei") << "what was posted is in the table";
  EXPECT_TRUE(other->FieldByName(u"Score").IsNull());

  // An insert that is cancelled leaves nothing.
  t->Insert();
  t->FieldByName(u"ID").SetAsInteger(9);
  t->Cancel();
  EXPECT_EQ(t->RecordCount(), 3);

  ASSERT_TRUE(t->Locate(u"ID", rtl::Variant(1), {}));
  t->Delete();
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{2, 3}));
}

TEST_F(ClientEditing, FailedPostKeepsTheStateAndTheBuffer) {
  Build(u"People");
  Fill(u"People", {1});
  TzfTable* t = Table(u"People");
  t->Open();
  t->Insert();
  t->FieldByName(u"ID").SetAsInteger(1);  // the unique index refuses it
  t->FieldByName(u"Name").SetAsString(u"again");
  EXPECT_NE(ClientErrorCode([&] { t->Post(); }), 0u);
  EXPECT_EQ(t->State(), db::dsInsert);
  EXPECT_EQ(t->FieldByName(u"Name").GetAsString(), u"again");
  t->FieldByName(u"ID").SetAsInteger(5);
  t->Post();
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 5}));
}

TEST_F(ClientEditing, WritingOutsideAnEditIsRefused) {
  Build(u"People");
  Fill(u"People", {1});
  TzfTable* t = Table(u"People");
  t->Open();
  EXPECT_TRUE(RaisesText([&] { t->FieldByName(u"Name").SetAsString(u"x"); }, u"DataSet not in editing mode"));
}

TEST_F(ClientEditing, ReadOnlyFieldsAreRefused) {
  BuildWithRecRev();
  auto* t = Table<TProbedTable>(u"Revs");
  t->Open();
  t->Edit();
  // A record-revision field, and a field marked read-only, refuse writes with 10502.
  EXPECT_EQ(ClientErrorCode([&] { t->FieldByName(u"Rev").SetAsInteger(7); }), zfErrReadOnlyField);
  t->FieldByName(u"Name").SetReadOnly(true);
  EXPECT_EQ(ClientErrorCode([&] { t->FieldByName(u"Name").SetAsString(u"x"); }), zfErrReadOnlyField);
  // Unless read-only fields are ignored for the moment.
  t->SetIgnoreReadOnly(1);
  t->FieldByName(u"Name").SetAsString(u"x");
  t->SetIgnoreReadOnly(0);
  t->Post();
  EXPECT_EQ(t->FieldByName(u"Name").GetAsString(), u"x");
}

TEST_F(ClientEditing, OptimisticLocking) {
  Build(u"People");
  Fill(u"People", {1});
  TzfTable* plain = Table(u"People");
  plain->SetOptions(TzfDatasetOptions{dsoOptimisticLocks});
  plain->Open();
  try {
    plain->Edit();
    FAIL() << "optimistic locks need a RecRev field";
  } catch (const EzfDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), zfErrNotSupported);
    EXPECT_NE(e.Message().find(u"A RecRev field is required for optimistic locking"), UnicodeString::npos);
  }
  EXPECT_EQ(plain->State(), db::dsBrowse);

  BuildWithRecRev();
  TzfTable* a = Table(u"Revs");
  TzfTable* b = Table(u"Revs");
  a->SetOptions(TzfDatasetOptions{dsoOptimisticLocks});
  a->Open();
  b->Open();
  EXPECT_TRUE(RaisesText([&] {
    a->Edit();
    a->SetOptions({});
  }, u"DataSet in editing mode"));
  a->Cancel();

  // Changed by another meanwhile: 10259.
  a->First();
  a->Edit();
  a->FieldByName(u"Name").SetAsString(u"mine");
  b->First();
  b->Edit();
  b->FieldByName(u"Name").SetAsString(u"theirs");
  b->Post();
  EXPECT_EQ(ClientErrorCode([&] { a->Post(); }), zfErrRecChanged);
  a->Cancel();

  // Deleted by another meanwhile: 10260.
  a->Last();
  a->Edit();
  a->FieldByName(u"Name").SetAsString(u"mine");
  b->Last();
  b->Delete();
  EXPECT_EQ(ClientErrorCode([&] { a->Post(); }), zfErrRecDeletedOrMoved);
  a->Cancel();  // the optimistic cancel of a vanished record is no error
  EXPECT_EQ(a->State(), db::dsBrowse);
}

TEST_F(ClientEditing, DeletingAVanishedRecordSucceedsSilently) {
  Build(u"People");
  Fill(u"People", {1, 2, 3});
  TzfTable* a = Table(u"People");
  TzfTable* b = Table(u"People");
  a->Open();
  b->Open();
  ASSERT_TRUE(a->Locate(u"ID", rtl::Variant(2), {}));
  ASSERT_TRUE(b->Locate(u"ID", rtl::Variant(2), {}));
  b->Delete();
  a->Delete();
  EXPECT_EQ(IDs(*a), (std::vector<int32_t>{1, 3}));
}

TEST_F(ClientEditing, PessimisticEditLocksTheRecord) {
  Build(u"People");
  Fill(u"People", {1});
  TzfTable* a = Table(u"People");
  a->Open();
  EXPECT_EQ(a->IsRecordLocked(), lpNotAtAll);
  a->Edit();
  EXPECT_EQ(a->IsRecordLocked(), lpYesByUs);
  a->Cancel();
  EXPECT_EQ(a->IsRecordLocked(), lpNotAtAll) << "the cancel releases the lock";
}

TEST_F(ClientEditing, PostAndEditKeepsTheRecordLocked) {
  Build(u"People");
  Fill(u"People", {1, 2});
  TzfTable* t = Table(u"People");
  TzfTable* other = Table(u"People");
  t->Open();
  other->Open();
  ASSERT_TRUE(t->Locate(u"ID", rtl::Variant(2), {}));
  t->Edit();
  t->FieldByName(u"Name").SetAsString(u"kept");
  t->PostAndEdit();
  EXPECT_EQ(t->State(), db::dsEdit);
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 2);
  EXPECT_EQ(t->IsRecordLocked(), lpYesByUs);
  ASSERT_TRUE(other->Locate(u"ID", rtl::Variant(2), {}));
  EXPECT_EQ(other->FieldByName(u"Name").GetAsString(), u"kept") << "posted";
  // An insert goes on as an edit of the new record.
  t->Cancel();
  t->Insert();
  t->FieldByName(u"ID").SetAsInteger(3);
  t->PostAndEdit();
  EXPECT_EQ(t->State(), db::dsEdit);
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 3);
  t->FieldByName(u"Name").SetAsString(u"three");
  t->Post();
  EXPECT_EQ(t->IsRecordLocked(), lpNotAtAll);
  ASSERT_TRUE(other->Locate(u"ID", rtl::Variant(3), {}));
  EXPECT_EQ(other->FieldByName(u"Name").GetAsString(), u"three");
}

TEST_F(ClientEditing, TableLocks) {
  Build(u"People");
  TzfTable* t = Table(u"People");
  t->Open();
  EXPECT_EQ(t->IsTableLocked(zfltWriteLock), lpNotAtAll);
  t->LockTable(zfltWriteLock);
  EXPECT_EQ(t->IsTableLocked(zfltWriteLock), lpYesByUs);
  t->UnlockTable(zfltWriteLock);
  EXPECT_EQ(t->IsTableLocked(zfltWriteLock), lpNotAtAll);
  t->LockTable(zfltReadLock);
  t->UnlockTableAll();
  EXPECT_EQ(t->IsTableLocked(zfltReadLock), lpNotAtAll);
}

TEST_F(ClientEditing, AddFileBlobRefusals) {
  Build(u"People");
  Fill(u"People", {1});
  TzfTable* t = Table(u"People");
  t->Open();
  db::TField* name = &t->FieldByName(u"Name");
  EXPECT_EQ(ClientErrorCode([&] { t->AddFileBlobEx(name, u""); }), zfErrInvalidParam);
  EXPECT_TRUE(RaisesText([&] { t->AddFileBlobEx(name, u"f.bin"); }, u"DataSet not in editing mode"));
  t->Edit();
  EXPECT_EQ(t->AddFileBlobEx(name, u"f.bin"), zfErrNotABlob);
  EXPECT_EQ(ClientErrorCode([&] { t->AddFileBlob(name, u"f.bin"); }), zfErrNotABlob);
  t->Cancel();
}

// ---- batch append ----

class ClientBatchAppend : public ClientEditing {
 protected:
  void SetUp() override {
    ClientEditing::SetUp();
    Build(u"People");
    Fill(u"People", {1});
    T = Table<TProbedTable>(u"People");
    T->Open();
    // The batch as the cursor's batch insert reads it, taken apart by hand: 0, the record count,
    // then per record its entry length and the record. The records go in one by one.
    T->Probe->OnRecordInsertBatch = [this](TzfCustomMemoryStream& aStream) -> uint32_t {
      if (Refuse) return Refuse;
      const auto* p = static_cast<const uint8_t*>(aStream.Memory());
      const int64_t size = aStream.Size();
      EXPECT_GE(size, 8);
      EXPECT_EQ(Le32(p), 0u);
      const uint32_t count = Le32(p + 4);
      Batches.push_back(static_cast<int32_t>(count));
      int64_t at = 8;
      for (uint32_t i = 0; i < count; ++i) {
        EXPECT_LE(at + 4, size);
        const uint32_t length = Le32(p + at);
        EXPECT_EQ(length, static_cast<uint32_t>(T->RecordLength())) << "an entry without BLOBs is the record";
        EXPECT_LE(at + 4 + length, size);
        std::vector<uint8_t> record(p + at + 4, p + at + 4 + length);
        if (const uint32_t code = T->Probe->Inner->RecordInsert(zfltNoLock, record.data())) return code;
        at += 4 + length;
      }
      EXPECT_EQ(at, size) << "nothing follows the last entry";
      return 0;
    };
  }
  static uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
  }
  void Add(std::initializer_list<int32_t> aIDs) {
    for (int32_t id : aIDs) InsertRecord(*T, id, u"b" + rtl::IntToStr(id));
  }
  TProbedTable* T = nullptr;
  std::vector<int32_t> Batches;  // record count of every batch sent
  uint32_t Refuse = 0;
};

TEST_F(ClientBatchAppend, RecordsGoInBatchesAtTheCutoffAndAtTheEnd) {
  const int32_t entry = 4 + T->RecordLength();
  T->BeginBatchAppend(8 + 3 * entry);  // a batch is sent once it holds more than three records
  Add({10, 11, 12});
  EXPECT_TRUE(Batches.empty());
  EXPECT_EQ(T->BatchAppendPending(), 3);
  EXPECT_EQ(T->RecordCount(), 1) << "nothing is in the table before the batch is sent";
  Add({13, 14});
  EXPECT_EQ(Batches, (std::vector<int32_t>{4}));
  T->EndBatchAppend();
  EXPECT_EQ(Batches, (std::vector<int32_t>{4, 1}));
  EXPECT_FALSE(T->InBatchAppend());
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{1, 10, 11, 12, 13, 14}));
}

TEST_F(ClientBatchAppend, CancelledLevelRemovesOnlyItsRecords) {
  T->BeginBatchAppend(1 << 20);
  Add({10, 11});
  T->BeginBatchAppend(1 << 20);
  Add({20, 21, 22});
  EXPECT_EQ(T->BatchAppendPending(), 5);
  T->CancelBatchAppend();
  EXPECT_EQ(T->BatchAppendPending(), 2);
  T->BeginBatchAppend(1 << 20);
  T->CancelBatchAppend();  // right after its begin: nothing of the outer level goes
  EXPECT_EQ(T->BatchAppendPending(), 2);
  Add({12});
  T->EndBatchAppend();
  EXPECT_EQ(Batches, (std::vector<int32_t>{3}));
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{1, 10, 11, 12}));
  // Cancelling the only level leaves batch mode.
  T->BeginBatchAppend(1 << 20);
  Add({30});
  T->CancelBatchAppend();
  EXPECT_FALSE(T->InBatchAppend());
  EXPECT_EQ(T->BatchAppendPending(), 0);
  EXPECT_EQ(T->RecordCount(), 4);
}

TEST_F(ClientBatchAppend, CancelAfterAFlushCutsBackToTheHeader) {
  T->BeginBatchAppend(1 << 20);
  Add({10, 11});
  T->BeginBatchAppend(1 << 20);
  Add({20});
  T->FlushBatchAppend();  // sent: no level can take these back
  EXPECT_EQ(Batches, (std::vector<int32_t>{3}));
  Add({21});
  EXPECT_EQ(T->BatchAppendPending(), 1);
  T->CancelBatchAppend();  // the level began before this stream: it keeps its header only
  EXPECT_EQ(T->BatchAppendPending(), 0);
  Add({12});
  T->EndBatchAppend();
  EXPECT_EQ(Batches, (std::vector<int32_t>{3, 1}));
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{1, 10, 11, 12, 20}));
}

TEST_F(ClientBatchAppend, FailedFlushKeepsTheRecordsForARetry) {
  T->BeginBatchAppend(1 << 20);
  Add({10, 11, 12});
  Refuse = zfErrKeyViol;
  EXPECT_EQ(ClientErrorCode([&] { T->EndBatchAppend(); }), zfErrKeyViol);
  EXPECT_EQ(T->BatchAppendPending(), 3) << "the refused batch is still collected";
  EXPECT_EQ(T->RecordCount(), 1);
  Refuse = 0;
  T->FlushBatchAppend();
  EXPECT_EQ(T->BatchAppendPending(), 0);
  EXPECT_EQ(IDs(*T), (std::vector<int32_t>{1, 10, 11, 12}));
}

TEST_F(ClientBatchAppend, OutsideBatchModePostInserts) {
  T->Insert();
  T->FieldByName(u"ID").SetAsInteger(5);
  T->Post();
  EXPECT_TRUE(Batches.empty());
  EXPECT_EQ(T->RecordCount(), 2);
  EXPECT_TRUE(RaisesText([&] { T->EndBatchAppend(); T->BatchPost(); }, u"BeginBatchAppend was not called"));
}

// ---- whole record sets ----

TEST_F(ClientEditing, CopyRecordsAndDeleteRecords) {
  Build(u"Source");
  Build(u"Target");
  Fill(u"Source", {1, 2, 3});
  Fill(u"Target", {9});
  TzfTable* source = Table(u"Source");
  TzfTable* target = Table(u"Target");
  source->Open();
  target->Open();
  EXPECT_EQ(ClientErrorCode([&] { target->CopyRecords(nullptr, false, 0); }), zfErrInvalidParam);
  {
    // Another session's table: 10760.
    rtl::TComponentPtr<TzfSession> session2(new TzfSession());
    session2->SetName(u"Session2");
    session2->SetServerEngine(Engine.get());
    rtl::TComponentPtr<TzfDatabase> db2(new TzfDatabase());
    db2->SetName(u"Database2");
    db2->SetSession(session2.get());
    db2->SetAliasPath(rtl::u16(Dir.Path.string()));
    rtl::TComponentPtr<TzfTable> foreign(new TzfTable());
    foreign->SetDatabase(db2.get());
    foreign->SetTableName(u"Source");
    foreign->Open();
    EXPECT_EQ(ClientErrorCode([&] { target->CopyRecords(foreign.get(), false, 0); }), zfErrDifferentSessions);
  }
  const uint32_t code = ClientErrorCode([&] { target->CopyRecords(source, false, 0); });
  if (code == zfErrNotSupported) GTEST_SKIP() << "the engine cursor cannot copy records yet";
  ASSERT_EQ(code, 0u);
  EXPECT_EQ(IDs(*target), (std::vector<int32_t>{1, 2, 3, 9}));
  EXPECT_EQ(IDs(*source), (std::vector<int32_t>{1, 2, 3})) << "the source keeps its records";
  source->DeleteRecords();
  EXPECT_TRUE(source->IsEmpty());
  EXPECT_EQ(source->RecordCount(), 0);
}

// ---- filters and searches ----

TEST_F(ClientEditing, CallbackFilterAndFind) {
  Build(u"People");
  Fill(u"People", {1, 2, 3, 4, 5});
  TzfTable* t = Table(u"People");
  t->Open();
  t->SetOnFilterRecord([](db::TDataSet& aDataSet, bool& aAccept) {
    aAccept = aDataSet.FieldByName(u"ID").GetAsInteger() % 2 == 0;
  });
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2, 3, 4, 5})) << "not filtered yet";
  // Find* apply the record filter while not filtered.
  EXPECT_TRUE(t->FindFirst());
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 2);
  EXPECT_TRUE(t->FindNext());
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 4);
  EXPECT_FALSE(t->FindNext());
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 4) << "a failed find does not move";
  EXPECT_TRUE(t->FindLast());
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 4);
  EXPECT_TRUE(t->FindPrior());
  EXPECT_EQ(t->FieldByName(u"ID").GetAsInteger(), 2);

  t->SetFiltered(true);
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{2, 4}));
  t->SetFiltered(false);
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  // A filter set before the open is installed by it.
  t->Close();
  t->SetFiltered(true);
  t->Open();
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{2, 4}));
  t->SetOnFilterRecord(nullptr);
  EXPECT_EQ(IDs(*t), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace zf::test
