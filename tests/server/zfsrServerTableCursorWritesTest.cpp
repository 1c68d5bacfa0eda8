// Table cursor writes against the transaction state and the locks: writes refused inside snapshot
// transactions, the answers of every record and table lock request, and what a refused insert
// leaves behind inside a client transaction.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dictionary/zfsdDefaultValueDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdValidationDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class CursorWrites : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    S = OpenSession();
    Db = OpenDb(S);
    auto dict = SmallDictionary();
    Build(Db, u"People", dict.get());
    C = Open(Db, u"People");
  }
  static uint32_t Insert(TzfAbstractCursor* aC, int32_t aID, const char16_t* aName = u"n",
                         TzfLockType aLock = zfltNoLock) {
    Buffer b(aC);
    aC->SetFieldFromVariant(b.P, 0, rtl::Variant(aID));
    aC->SetFieldFromVariant(b.P, 1, rtl::Variant(UnicodeString(aName)));
    return aC->RecordInsert(aLock, b.P);
  }
  // The IDs of the table, read by a fresh walk of aC in storage order.
  static std::vector<int32_t> Ids(TzfAbstractCursor* aC) {
    std::vector<int32_t> ids;
    Buffer b(aC);
    EXPECT_EQ(aC->SetToBegin(), 0u);
    while (aC->RecordGetNext(zfltNoLock, b.P) == 0) ids.push_back(aC->GetFieldAsVariant(b.P, 0).AsInteger());
    return ids;
  }
  TzfServerTransContext* Ctx() { return dynamic_cast<TzfServerTransContext*>(Db->TransContext()); }

  TzfServerSession* S = nullptr;
  TzfServerDatabase* Db = nullptr;
  TzfServerTableCursor* C = nullptr;
};

// Every write of a cursor inside a snapshot transaction is refused with 10763, also when it is the
// transaction's first request on the table, and leaves the table as it was.
TEST_F(CursorWrites, SnapshotTransactionRefusesEveryWrite) {
  struct Case {
    const char* Name;
    std::function<uint32_t(TzfServerTableCursor*, uint8_t*)> Write;
  };
  const std::vector<Case> cases{
      {"insert", [](TzfServerTableCursor* c, uint8_t*) { return Insert(c, 9, u"new"); }},
      {"modify",
       [](TzfServerTableCursor* c, uint8_t* rec) {
         c->SetFieldFromVariant(rec, 1, rtl::Variant(UnicodeString(u"changed")));
         return c->RecordModify(rec, true);
       }},
      {"delete", [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordDelete(rec); }},
      {"delete all", [](TzfServerTableCursor* c, uint8_t*) { return c->DeleteRecords(); }},
  };
  ASSERT_EQ(Insert(C, 1, u"one"), 0u);
  for (bool readFirst : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (readFirst ? ", after a read in the snapshot" : ", first request"));
      Buffer rec(C);
      ASSERT_EQ(C->SetToBegin(), 0u);
      ASSERT_EQ(C->RecordGetNext(zfltNoLock, rec.P), 0u);
      ASSERT_EQ(Db->TransContext()->TransactionStart(false, true), 0u);
      if (readFirst) {
        Buffer other(C);
        ASSERT_EQ(C->RecordGet(zfltNoLock, other.P), 0u);
      }
      EXPECT_EQ(c.Write(C, rec.P), zfErrTableReadOnly);
      EXPECT_EQ(Db->TransContext()->TransactionCommit(), 0u) << "the refusal leaves the snapshot usable";
      EXPECT_EQ(Ids(C), std::vector<int32_t>{1});
      Buffer now(C);
      ASSERT_EQ(C->SetToBegin(), 0u);
      ASSERT_EQ(C->RecordGetNext(zfltNoLock, now.P), 0u);
      EXPECT_EQ(C->GetFieldAsVariant(now.P, 1).AsString(), u"one");
    }
  }
}

// Every lock a cursor asks for, against a lock another session's cursor holds, and its answer:
// reads and deletes 10241, modify and the lock on a new record 10258, the self lock and table
// locks 10245 (zfltNoLock too); within one session the conflict turns into 10254. Nothing of a
// refused request stays: no record, no lock.
TEST_F(CursorWrites, EveryLockRequestAndItsAnswer) {
  ASSERT_EQ(Insert(C, 1), 0u);
  ASSERT_EQ(Insert(C, 2), 0u);
  TzfServerTableCursor* other = Open(OpenDb(OpenSession()), u"People");
  TzfServerTableCursor* mine = Open(Db, u"People");
  // The reference number the next insert gets: taken by an insert that is rolled back.
  const auto nextRef = [&]() -> int64_t {
    EXPECT_EQ(Ctx()->TransactionStart(false, false), 0u);
    EXPECT_EQ(Insert(C, 99), 0u);
    const int64_t ref = C->RefNr();
    EXPECT_EQ(Ctx()->TransactionRollback(), 0u);
    return ref;
  };
  const auto onFirst = [](TzfServerTableCursor* c, TzfLockType aLock) {
    Buffer b(c);
    EXPECT_EQ(c->SetToBegin(), 0u);
    EXPECT_EQ(c->RecordGetNext(aLock, b.P), 0u);
  };
  using Hold = std::function<void(TzfServerTableCursor*)>;
  const Hold recordLock = [&](TzfServerTableCursor* h) { onFirst(h, zfltWriteLock); };
  const Hold readLock = [](TzfServerTableCursor* h) { EXPECT_EQ(h->TableLockAcquire(zfltReadLock), 0u); };
  const Hold writeLock = [](TzfServerTableCursor* h) { EXPECT_EQ(h->TableLockAcquire(zfltWriteLock), 0u); };
  const Hold nothing = [](TzfServerTableCursor*) {};
  const Hold newRecordsLock = [&](TzfServerTableCursor* h) {
    const int64_t ref = nextRef();
    EXPECT_EQ(h->Table()->sbtLocks->GetRecordLock(nullptr, h, ref, true, nullptr), TzfLockResult::lrGrantedNew);
  };
  struct Case {
    const char* Name;
    Hold HeldByOther;
    std::function<uint32_t(TzfServerTableCursor*, uint8_t*)> Ask;
    uint32_t Answer;
  };
  const std::vector<Case> cases{
      {"read with lock, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordGet(zfltWriteLock, rec); }, zfErrLocked},
      {"modify, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordModify(rec, true); }, zfErrRecLockFailed},
      {"modify keeping the lock, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordModify(rec, false); }, zfErrRecLockFailed},
      {"delete, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t* rec) { return c->RecordDelete(rec); }, zfErrLocked},
      {"insert, table write-locked", writeLock, [](TzfServerTableCursor* c, uint8_t*) { return Insert(c, 5); },
       zfErrFileLocked},
      {"insert, table read-locked", readLock, [](TzfServerTableCursor* c, uint8_t*) { return Insert(c, 5); },
       zfErrFileLocked},
      {"insert with lock, the new record's number locked", newRecordsLock,
       [](TzfServerTableCursor* c, uint8_t*) { return Insert(c, 5, u"n", zfltWriteLock); }, zfErrRecLockFailed},
      {"table read lock, table write-locked", writeLock,
       [](TzfServerTableCursor* c, uint8_t*) { return c->TableLockAcquire(zfltReadLock); }, zfErrFileLocked},
      {"table write lock, table read-locked", readLock,
       [](TzfServerTableCursor* c, uint8_t*) { return c->TableLockAcquire(zfltWriteLock); }, zfErrFileLocked},
      {"table write lock, record locked", recordLock,
       [](TzfServerTableCursor* c, uint8_t*) { return c->TableLockAcquire(zfltWriteLock); }, zfErrFileLocked},
      {"table lock of no kind", nothing,
       [](TzfServerTableCursor* c, uint8_t*) { return c->TableLockAcquire(zfltNoLock); }, zfErrFileLocked},
  };
  for (bool sameSession : {false, true}) {
    TzfServerTableCursor* holder = sameSession ? mine : other;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (sameSession ? ", same session" : ", another session"));
      Buffer rec(C);
      ASSERT_EQ(C->SetToBegin(), 0u);
      ASSERT_EQ(C->RecordGetNext(zfltNoLock, rec.P), 0u);
      c.HeldByOther(holder);
      C->atoSetTimeout(50);
      const bool conflict = std::string(c.Name) != "table lock of no kind";
      const uint32_t expected = sameSession && conflict ? zfErrSessionLockConflict : c.Answer;
      EXPECT_EQ(c.Ask(C, rec.P), expected);
      C->atoSetTimeout(2000);
      EXPECT_NE(C->Table()->sbtLocks->IsRecordLocked(C, C->RefNr()), lpYesByUs) << "no lock of the request stays";
      EXPECT_EQ(holder->RecordLockRelease(true), 0u);
      EXPECT_EQ(holder->TableLockRelease(zfltNoLock, true), 0u);
      EXPECT_EQ(C->Table()->sbtLocks->CheckInvariants(), u"");
      EXPECT_EQ(Ids(C), (std::vector<int32_t>{1, 2}));
    }
  }
}

// A cursor's table-lock query per lock type: zfltNoLock asks nothing.
TEST_F(CursorWrites, TableIsLockedPerLockType) {
  ASSERT_EQ(C->TableLockAcquire(zfltReadLock), 0u);
  for (auto [type, present] : {std::pair{zfltReadLock, lpYesByUs}, std::pair{zfltWriteLock, lpNotAtAll},
                               std::pair{zfltNoLock, lpNotAtAll}}) {
    TzfLockPresent got = lpYesByAnother;
    EXPECT_EQ(C->TableIsLocked(type, got), 0u);
    EXPECT_EQ(got, present) << "lock type " << static_cast<int>(type);
  }
  ASSERT_EQ(C->TableLockRelease(zfltReadLock, false), 0u);
}

// A table with rules: 0 "ID" (indexed), 1 "Qty" between 0 and 10, 2 "Name" required, 3 "Stamp" set
// to 7 by a server default on every modify (not on insert).
class ModifyRules : public CursorWrites {
 protected:
  void SetUp() override {
    CursorWrites::SetUp();
    auto d = std::make_unique<TzfServerDataDict>();
    TzfFieldsDescriptor& f = *d->tdFieldsDescriptor;
    f.AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
    TzfFieldDescriptor* qty = f.AddField(u"Qty", u"", zftInt32, 0, 0, false, nullptr);
    f.AddField(u"Name", u"", zftWideString, 20, 0, true, nullptr);
    TzfFieldDescriptor* stamp = f.AddField(u"Stamp", u"", zftInt32, 0, 0, false, nullptr);
    auto& range = static_cast<TzfMinMaxValidationDescriptor&>(
        *static_cast<TzfFieldValidationsDescriptor&>(*qty->EnsureValidations())
             .AddValidation(u"Range", &TzfMinMaxValidationDescriptor::ClassInfo()));
    range.AddKeyField(nullptr);
    range.SetMinAsVariant(rtl::Variant(int32_t{0}));
    range.SetMaxAsVariant(rtl::Variant(int32_t{10}));
    auto* def = static_cast<TzfConstDefaultValueDescriptor*>(stamp->AddDefaultValue(nullptr));
    def->SetAsVariant(rtl::Variant(int32_t{7}));
    def->SetApplyOnInsert(false);
    def->SetApplyOnModify(true);
    def->SetOverwriteNonNull(true);
    TzfIndexDescriptor* ix = d->EnsureIndicesDescriptor()->AddIndex(u"ByID", 0, idNone, u"");
    dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(0);
    Build(Db, u"Rules", d.get());
    R = Open(Db, u"Rules");
    ASSERT_EQ(R->SwitchToIndex(u"ByID", 0, false), 0u);
    for (int32_t id : {1, 2, 3}) {
      Buffer b(R);
      R->SetFieldFromVariant(b.P, 0, rtl::Variant(id));
      R->SetFieldFromVariant(b.P, 1, rtl::Variant(int32_t{5}));
      R->SetFieldFromVariant(b.P, 2, rtl::Variant(UnicodeString(u"a")));
      ASSERT_EQ(R->RecordInsert(zfltNoLock, b.P), 0u);
    }
  }
  // The stored record of aID as "ID/Qty/Name/Stamp" (NULL as "-"), read by a cursor of its own.
  std::string Stored(int32_t aID) {
    TzfServerTableCursor* c = Open(Db, u"Rules");
    std::string found = "none";
    {
      Buffer b(c);
      EXPECT_EQ(c->SetToBegin(), 0u);
      while (c->RecordGetNext(zfltNoLock, b.P) == 0) {
        if (c->GetFieldAsVariant(b.P, 0).AsInteger() != aID) continue;
        found.clear();
        for (int32_t i = 0; i < 4; ++i) {
          const rtl::Variant v = c->GetFieldAsVariant(b.P, i);
          found += (i ? "/" : "") + (v.IsNull() ? std::string("-") : rtl::Utf16ToUtf8(v.AsString()));
        }
      }
    }
    Close(c);
    return found;
  }
  TzfServerTableCursor* R = nullptr;
};

// Modify runs the table's validations against the new record, applies the server's modify
// defaults, and with the lock kept refuses a record the cursor could no longer stand on, before
// anything is written.
TEST_F(ModifyRules, ValidationsDefaultsAndStayingVisible) {
  // In order, on record 2 inside the range 1..3; those refused leave it as inserted.
  struct Case {
    const char* Name;
    std::function<void(uint8_t*)> Change;
    bool KeepLock;
    uint32_t Answer;
    std::string StoredAfter;  // record 2
  };
  const std::vector<Case> cases{
      {"above the maximum", [&](uint8_t* r) { R->SetFieldFromVariant(r, 1, rtl::Variant(int32_t{11})); }, false,
       9731, "2/5/a/-"},
      {"below the minimum", [&](uint8_t* r) { R->SetFieldFromVariant(r, 1, rtl::Variant(int32_t{-1})); }, false,
       9730, "2/5/a/-"},
      {"required field emptied", [&](uint8_t* r) { R->SetFieldFromVariant(r, 2, rtl::Variant()); }, true, 9732,
       "2/5/a/-"},
      {"out of the range, lock kept", [&](uint8_t* r) { R->SetFieldFromVariant(r, 0, rtl::Variant(int32_t{20})); },
       true, zfErrRecLockFailed, "2/5/a/-"},
      {"valid, the modify default applied", [&](uint8_t* r) { R->SetFieldFromVariant(r, 1, rtl::Variant(int32_t{6})); },
       false, 0, "2/6/a/7"},
      {"valid, lock kept", [&](uint8_t* r) { R->SetFieldFromVariant(r, 1, rtl::Variant(int32_t{8})); }, true, 0,
       "2/8/a/7"},
      {"out of the range, lock released", [&](uint8_t* r) { R->SetFieldFromVariant(r, 0, rtl::Variant(int32_t{20})); },
       false, 0, "none"},
  };
  std::vector<uint8_t> lo, hi;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Buffer b(R);
    const auto key = [&](int32_t aID, std::vector<uint8_t>& aKey) {
      aKey.assign(b.P, b.P + R->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordLength());
      R->SetFieldFromVariant(aKey.data(), 0, rtl::Variant(aID));
      return aKey.data();
    };
    ASSERT_EQ(R->RangeSet(0, 0, false, key(1, lo), true, 0, 0, false, key(3, hi), true), 0u);
    ASSERT_EQ(R->SetToBegin(), 0u);
    ASSERT_EQ(R->RecordGetNext(zfltNoLock, b.P), 0u);
    ASSERT_EQ(R->RecordGetNext(zfltNoLock, b.P), 0u);
    ASSERT_EQ(R->GetFieldAsVariant(b.P, 0).AsInteger(), 2);
    c.Change(b.P);
    EXPECT_EQ(R->RecordModify(b.P, !c.KeepLock), c.Answer);
    if (c.Answer == 0 && c.StoredAfter != "none") {
      EXPECT_EQ(R->GetFieldAsVariant(b.P, 3).AsInteger(), 7) << "the default went into the caller's record too";
    }
    EXPECT_EQ(Stored(2), c.StoredAfter);
    TzfLockPresent locked = lpNotAtAll;
    if (c.StoredAfter != "none") {
      EXPECT_EQ(R->RecordIsLocked(zfltWriteLock, locked), 0u);
    }
    EXPECT_EQ(locked, c.KeepLock && c.Answer == 0 ? lpYesByUs : lpNotAtAll) << "the lock stays only when kept";
    ASSERT_EQ(R->RecordLockRelease(true), 0u);
  }
}

// Vetoes the after-notification of an insert while VetoAfter is set.
class TAfterInsertVeto : public TzfBaseEngineExtender {
 public:
  using TzfBaseEngineExtender::TzfBaseEngineExtender;
  uint32_t Notify(TzfEngineAction aAction, bool aBefore, const TzfActionArgs&) override {
    return VetoAfter && !aBefore && aAction == eaRecordInsert ? 7777u : 0u;
  }
  bool VetoAfter = false;
};

// A table of an auto-increment "ID" and a "Name" under a unique index, holding "a" (ID 1).
class InsertInTransaction : public CursorWrites {
 protected:
  void SetUp() override {
    CursorWrites::SetUp();
    auto d = std::make_unique<TzfServerDataDict>();
    d->tdFieldsDescriptor->AddField(u"ID", u"", zftAutoInc, 0, 0, false, nullptr);
    d->tdFieldsDescriptor->AddField(u"Name", u"", zftWideString, 20, 0, false, nullptr);
    TzfIndexDescriptor* ix = d->EnsureIndicesDescriptor()->AddIndex(u"ByName", 0, idNone, u"");
    dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(1);
    Build(Db, u"Auto", d.get());
    A = Open(Db, u"Auto");
    Veto = new TAfterInsertVeto(nullptr, A, {});  // the cursor frees it
    ASSERT_EQ(Put(u"a"), 0u);
  }
  uint32_t Put(const char16_t* aName, TzfLockType aLock = zfltNoLock) {
    Buffer b(A);
    A->SetFieldFromVariant(b.P, 1, rtl::Variant(UnicodeString(aName)));
    const uint32_t r = A->RecordInsert(aLock, b.P);
    LastID = A->GetFieldAsVariant(b.P, 0);
    return r;
  }
  // "name:ID" of every record, in storage order.
  std::vector<std::string> Content() {
    std::vector<std::string> all;
    Buffer b(A);
    EXPECT_EQ(A->SetToBegin(), 0u);
    while (A->RecordGetNext(zfltNoLock, b.P) == 0)
      all.push_back(rtl::Utf16ToUtf8(A->GetFieldAsVariant(b.P, 1).AsString()) + ":" +
                    std::to_string(A->GetFieldAsVariant(b.P, 0).AsInteger()));
    return all;
  }
  uint32_t Counter() {
    uint32_t v = 0;
    EXPECT_EQ(A->AutoIncGet(v), 0u);
    return v;
  }
  TzfServerTableCursor* A = nullptr;
  TAfterInsertVeto* Veto = nullptr;
  rtl::Variant LastID;
};

// An insert refused after its record was written, inside a client transaction: a refused key
// takes the record out and winds the counter back, the transaction going on; a refused lock on the
// new record or a vetoing after-notification leave the transaction only to be rolled back. Either
// way nothing of the insert stays and the caller's record does not keep the generated value.
TEST_F(InsertInTransaction, RefusedInsertLeavesNothingBehind) {
  TzfServerTableCursor* other = Open(OpenDb(OpenSession()), u"Auto");
  struct Case {
    const char* Name;
    std::function<void()> Before;
    std::function<uint32_t()> Insert;
    uint32_t Answer;
    uint32_t Commit;  // the transaction's commit after the refusal
  };
  const std::vector<Case> cases{
      {"key refused", [] {}, [&] { return Put(u"a"); }, 9729, 0},
      {"lock on the new record refused",
       [&] {
         // The number the next insert gets, taken by an insert that is rolled back.
         ASSERT_EQ(Ctx()->TransactionStart(false, false), 0u);
         ASSERT_EQ(Put(u"probe"), 0u);
         const int64_t ref = A->RefNr();
         ASSERT_EQ(Ctx()->TransactionRollback(), 0u);
         ASSERT_EQ(other->Table()->sbtLocks->GetRecordLock(nullptr, other, ref, true, nullptr),
                   TzfLockResult::lrGrantedNew);
       },
       [&] { return Put(u"b", zfltWriteLock); }, zfErrRecLockFailed, 15443},
      {"after-notification vetoed", [&] { Veto->VetoAfter = true; }, [&] { return Put(u"b"); }, 7777, 15443},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Before();
    ASSERT_EQ(Ctx()->TransactionStart(false, false), 0u);
    EXPECT_EQ(c.Insert(), c.Answer);
    Veto->VetoAfter = false;
    EXPECT_TRUE(LastID.IsNull()) << "the generated value is taken from the caller's record";
    EXPECT_EQ(Ctx()->TransactionCommit(), c.Commit);
    if (c.Commit != 0) {
      EXPECT_EQ(Ctx()->TransactionRollback(), 0u);
    }
    EXPECT_EQ(other->RecordLockRelease(true), 0u);
    EXPECT_EQ(Content(), std::vector<std::string>{"a:1"});
    EXPECT_EQ(Counter(), 1u) << "the counter as before";
  }
  // Inside a transaction that goes on after the refused key, the next insert takes the value the
  // refused one had.
  ASSERT_EQ(Ctx()->TransactionStart(false, false), 0u);
  EXPECT_EQ(Put(u"a"), 9729u);
  ASSERT_EQ(Put(u"c"), 0u);
  EXPECT_EQ(LastID.AsInteger(), 2);
  ASSERT_EQ(Ctx()->TransactionCommit(), 0u);
  EXPECT_EQ(Content(), (std::vector<std::string>{"a:1", "c:2"}));
}

// After RequestNestedTransactions every write runs in a level of its own: a refused insert or
// modify inside a client transaction is rolled back alone and the transaction goes on. The
// cursor's exception data tells so.
TEST_F(InsertInTransaction, NestedTransactionsOnRequest) {
  const auto data = [&] {
    auto c = zfCreateExceptionDataContainer(u"c");
    A->AddExceptionData(*c);
    std::map<std::string, std::string> items;
    for (int32_t i = 0; i < c->GetCount(); ++i) {
      auto v = c->GetItem(i);
      items[rtl::Utf16ToUtf8(v->GetName())] = v->GetKind() == edkContainer ? "{...}" : rtl::Utf16ToUtf8(v->AsString());
    }
    return items;
  };
  EXPECT_EQ(data()["UseNestedTransaction"], "False");
  EXPECT_NO_THROW(A->RequestNestedTransactions());
  const auto items = data();
  EXPECT_EQ(items.at("UseNestedTransaction"), "True");
  EXPECT_EQ(items.at("OpenMode"), "omReadWrite");
  EXPECT_EQ(items.at("IsReadOnly"), "False");
  EXPECT_EQ(items.at("IsWriteOnly"), "False");
  EXPECT_EQ(items.at("IsResultSet"), "False");

  ASSERT_EQ(Ctx()->TransactionStart(false, false), 0u);
  ASSERT_EQ(Put(u"b"), 0u);
  Veto->VetoAfter = true;
  EXPECT_EQ(Put(u"c"), 7777u);
  Veto->VetoAfter = false;
  EXPECT_EQ(Put(u"b"), 9729u);
  {
    Buffer r(A);
    ASSERT_EQ(A->SetToBegin(), 0u);
    ASSERT_EQ(A->RecordGetNext(zfltNoLock, r.P), 0u);
    A->SetFieldFromVariant(r.P, 1, rtl::Variant(UnicodeString(u"b")));
    EXPECT_EQ(A->RecordModify(r.P, true), 9729u);
  }
  EXPECT_EQ(Ctx()->TransactionCommit(), 0u) << "only the refused writes' own levels were rolled back";
  EXPECT_EQ(Content(), (std::vector<std::string>{"a:1", "b:2"}));
  EXPECT_EQ(Counter(), 2u);
}

}  // namespace
}  // namespace zf::test
