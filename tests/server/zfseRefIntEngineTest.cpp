// Referential integrity through real server cursors: a Master table (ID, Name) whose reference
// points at the records of a Detail table (ID, MasterID) with the master's key, and a Detail table
// whose reference demands its master. Every delete and modify action, the check of the target, the
// violation message, and what a refused or failed action leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "dictionary/zfsdDefaultValueDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllException.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfseRefIntEngine.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

// What a reference of a test table holds.
struct RefSetup {
  std::vector<TzfDictionaryItemClass> Actions;
  bool SkipOnNull = false;        // of the source
  bool ActionSkipOnNull = false;  // of every action
  const char16_t* TargetIndex = nullptr;
};

// Tables of a case are opened through the fixture's session and database; cursors opened by
// OpenTable are freed at the end.
class RefIntEngines : public PeopleCursorTest {
 protected:
  void SetUp() override {
    PeopleCursorTest::SetUp();
    Open();
  }
  void TearDown() override {
    for (auto it = Cursors.rbegin(); it != Cursors.rend(); ++it) (*it)->Free();
    Cursors.clear();
    PeopleCursorTest::TearDown();
  }

  static void AddIndex(TzfServerDataDict& aDict, const char16_t* aName, std::initializer_list<int32_t> aFields,
                       bool aDups) {
    TzfIndexDescriptor* ix = aDict.EnsureIndicesDescriptor()->AddIndex(aName, 0, aDups ? idAll : idNone, u"");
    for (int32_t f : aFields) dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(f);
  }
  // A reference of aDict to table aTarget, sources aSources.
  static void AddReference(TzfServerDataDict& aDict, const char16_t* aTarget, const char16_t* aIndex,
                           std::initializer_list<int32_t> aSources, const RefSetup& aSetup) {
    auto* refInt = dynamic_cast<TzfRefIntegrityDescriptor*>(zfGetRefIntegrityDescriptor(&aDict));
    if (!refInt)
      refInt = dynamic_cast<TzfRefIntegrityDescriptor*>(
          aDict.tdCustomDescsDescriptor->AddCustom(u"RefIntegrity", &TzfRefIntegrityDescriptor::ClassInfo()));
    TzfReferenceDescriptor* ref = refInt->AddReference();
    dynamic_cast<TzfTableTargetCursorDescriptor&>(*ref->rdTargetCursor).SetTableName(aTarget);
    ref->SetTargetIndex(aSetup.TargetIndex ? aSetup.TargetIndex : aIndex);
    for (int32_t f : aSources) {
      auto* s = dynamic_cast<TzfFieldSourceDescriptor*>(ref->AddSource());
      s->SetFieldNumber(f);
      s->SetSkipOnNull(aSetup.SkipOnNull);
    }
    for (TzfDictionaryItemClass a : aSetup.Actions) ref->AddAction(a)->SetSkipOnNull(aSetup.ActionSkipOnNull);
  }

  // Master(ID, Name) on ByID, referring to Detail.ByMaster with its ID.
  void BuildMaster(const RefSetup& aSetup) {
    auto master = std::make_unique<TzfServerDataDict>();
    master->tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
    master->tdFieldsDescriptor->AddField(u"Name", u"", zftWideString, 20, 0, false, nullptr);
    AddIndex(*master, u"ByID", {0}, false);
    if (!aSetup.Actions.empty()) AddReference(*master, u"Detail", u"ByMaster", {0}, aSetup);
    ASSERT_EQ(Db->TableBuild(false, u"Master", u"", master.get(), tsPersistent, false), 0u);
  }
  // Detail(ID, MasterID) with MasterID's default 0 (used only when asked for), referring to
  // Master.ByID with MasterID.
  void BuildDetail(const RefSetup& aSetup) {
    auto detail = std::make_unique<TzfServerDataDict>();
    detail->tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
    TzfFieldDescriptor* masterID = detail->tdFieldsDescriptor->AddField(u"MasterID", u"", zftInt32, 0, 0, false, nullptr);
    auto* def = static_cast<TzfConstDefaultValueDescriptor*>(masterID->AddDefaultValue(nullptr));
    def->SetAsVariant(rtl::Variant(int32_t{0}));
    def->SetApplyOnInsert(false);
    def->SetApplyOnModify(false);
    AddIndex(*detail, u"ByMaster", {1}, true);
    if (!aSetup.Actions.empty()) AddReference(*detail, u"Master", u"ByID", {1}, aSetup);
    ASSERT_EQ(Db->TableBuild(false, u"Detail", u"", detail.get(), tsPersistent, false), 0u);
  }
  void Build(const RefSetup& aMaster, const RefSetup& aDetail = {}) {
    BuildMaster(aMaster);
    BuildDetail(aDetail);
  }
  // Deletes the tables of a case.
  void Drop(std::initializer_list<const char16_t*> aNames = {u"Master", u"Detail"}) {
    for (const char16_t* name : aNames) ASSERT_EQ(Db->TableDelete(name, u""), 0u) << rtl::u8(name);
  }

  TzfServerTableCursor* OpenTable(const char16_t* aName, uint32_t aTimeout = 2000) {
    TzfAbstractCursor* c = nullptr;
    const uint32_t r = Db->CursorOpen(c, aName, u"", omReadWrite, smShared, aTimeout, false);
    EXPECT_EQ(r, 0u) << Message(r);
    if (c) Cursors.push_back(static_cast<TzfServerTableCursor*>(c));
    return static_cast<TzfServerTableCursor*>(c);
  }
  void Close(TzfServerTableCursor* aCursor) {
    std::erase(Cursors, aCursor);
    aCursor->Free();
  }

  // The thread's message for aCode, the code's own text put in.
  static std::string Message(uint32_t aCode) {
    uint32_t code = 0;
    UnicodeString text;
    EzfBaseException::GetLastConvertedException(code, text);
    if (code != aCode) text.clear();
    UnicodeString processed = zfProcessErrorString(text, aCode);
    // Custom informations (the cursor's exception data) follow the text.
    if (const size_t at = processed.find(zfCustomInfoStart); at != UnicodeString::npos) processed.resize(at);
    return rtl::u8(processed);
  }

  // A record of aCursor's table from values (an empty variant: NULL).
  uint32_t Insert(TzfServerTableCursor* aCursor, std::initializer_list<rtl::Variant> aValues) {
    std::vector<uint8_t> rec(RecLen(aCursor));
    aCursor->RecordBufferClear(rec.data());
    int32_t i = 0;
    for (const rtl::Variant& v : aValues) aCursor->SetFieldFromVariant(rec.data(), i++, v);
    return aCursor->RecordInsert(zfltNoLock, rec.data());
  }
  static size_t RecLen(TzfAbstractCursor* aCursor) {
    return static_cast<size_t>(aCursor->acGetTableDescriptor()->tdFieldsDescriptor->GetRecordLength());
  }
  // Stands aCursor on the record whose field 0 is aID, its record in aRec.
  void Seek(TzfServerTableCursor* aCursor, int32_t aID, std::vector<uint8_t>& aRec) {
    aRec.assign(RecLen(aCursor), 0);
    ASSERT_EQ(aCursor->SetToBegin(), 0u);
    while (aCursor->RecordGetNext(zfltNoLock, aRec.data()) == 0)
      if (aCursor->GetFieldAsVariant(aRec.data(), 0).AsInteger() == aID) return;
    FAIL() << "no record " << aID;
  }
  uint32_t Delete(TzfServerTableCursor* aCursor, int32_t aID) {
    std::vector<uint8_t> rec;
    Seek(aCursor, aID, rec);
    return aCursor->RecordDelete(nullptr);
  }
  // Field aField of the record aID set to aValue and written.
  uint32_t Modify(TzfServerTableCursor* aCursor, int32_t aID, int32_t aField, const rtl::Variant& aValue) {
    std::vector<uint8_t> rec;
    Seek(aCursor, aID, rec);
    aCursor->SetFieldFromVariant(rec.data(), aField, aValue);
    return aCursor->RecordModify(rec.data(), true);
  }
  // Every record of table aName as "f0:f1", sorted and joined by ",", NULL as "-".
  std::string Rows(const char16_t* aName) {
    TzfServerTableCursor* c = OpenTable(aName);
    std::vector<uint8_t> rec(RecLen(c));
    std::vector<std::string> rows;
    EXPECT_EQ(c->SetToBegin(), 0u);
    while (c->RecordGetNext(zfltNoLock, rec.data()) == 0) {
      std::string row;
      for (int32_t f = 0; f < c->GetFieldCount(); ++f) {
        const rtl::Variant v = c->GetFieldAsVariant(rec.data(), f);
        if (f) row += ":";
        row += v.IsNull() ? std::string("-") : rtl::u8(v.AsString());
      }
      rows.push_back(row);
    }
    Close(c);
    std::sort(rows.begin(), rows.end());
    std::string all;
    for (const std::string& row : rows) all += (all.empty() ? "" : ",") + row;
    return all;
  }
  // Masters 1 and 2; details 10 and 11 of master 1, 20 of master 2.
  void Fill() {
    TzfServerTableCursor* m = OpenTable(u"Master");
    TzfServerTableCursor* d = OpenTable(u"Detail");
    for (int32_t id : {1, 2}) ASSERT_EQ(Insert(m, {rtl::Variant(id), rtl::Variant(UnicodeString(u"m"))}), 0u);
    for (auto [id, master] : {std::pair{10, 1}, {11, 1}, {20, 2}})
      ASSERT_EQ(Insert(d, {rtl::Variant(id), rtl::Variant(master)}), 0u);
    Close(d);
    Close(m);
  }

  std::vector<TzfServerTableCursor*> Cursors;
};

const std::string kAllDetails = "10:1,11:1,20:2";

TEST_F(RefIntEngines, TableWithoutReferencesGetsNoEngine) {
  Build({});
  TzfServerTableCursor* m = OpenTable(u"Master");
  EXPECT_EQ(m->sbcRefIntegrity, nullptr);
  EXPECT_FALSE(m->sbcUseNestedTransaction);
}

TEST_F(RefIntEngines, EachActionOnTheDetailsOfADeletedOrRekeyedMaster) {
  // Master 1 is deleted, or its key changed to 5.
  struct Case {
    const char* Name;
    TzfDictionaryItemClass Action;
    bool Rekey;
    uint32_t Answer;
    std::string Masters, Details;
  } cases[] = {
      {"cascade delete", &TzfCascadeDeleteActionDescriptor::ClassInfo(), false, 0, "2:m", "20:2"},
      {"clear on delete", &TzfClearDeleteActionDescriptor::ClassInfo(), false, 0, "2:m", "10:-,11:-,20:2"},
      {"default on delete", &TzfSetDefaultDeleteActionDescriptor::ClassInfo(), false, 0, "2:m", "10:0,11:0,20:2"},
      {"block delete", &TzfBlockDeleteActionDescriptor::ClassInfo(), false, zfErrDetailRecsExist, "1:m,2:m",
       kAllDetails},
      {"cascade modify", &TzfCascadeModifyActionDescriptor::ClassInfo(), true, 0, "2:m,5:m", "10:5,11:5,20:2"},
      {"clear on modify", &TzfClearModifyActionDescriptor::ClassInfo(), true, 0, "2:m,5:m", "10:-,11:-,20:2"},
      {"default on modify", &TzfSetDefaultModifyActionDescriptor::ClassInfo(), true, 0, "2:m,5:m", "10:0,11:0,20:2"},
      {"block modify", &TzfBlockModifyActionDescriptor::ClassInfo(), true, zfErrDetailRecsExist, "1:m,2:m",
       kAllDetails},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Build({{c.Action}});
    Fill();
    TzfServerTableCursor* m = OpenTable(u"Master");
    // A change that leaves the key alone runs no action.
    EXPECT_EQ(Modify(m, 1, 1, rtl::Variant(UnicodeString(u"m"))), 0u);
    EXPECT_EQ(Rows(u"Detail"), kAllDetails);
    uint32_t r = c.Rekey ? Modify(m, 1, 0, rtl::Variant(int32_t{5})) : Delete(m, 1);
    EXPECT_EQ(r, c.Answer) << Message(r);
    EXPECT_EQ(Rows(u"Master"), c.Masters);
    EXPECT_EQ(Rows(u"Detail"), c.Details);
    // A master without details goes, or changes its key, under every action.
    ASSERT_EQ(Insert(m, {rtl::Variant(int32_t{3}), rtl::Variant(UnicodeString(u"m"))}), 0u);
    r = c.Rekey ? Modify(m, 3, 0, rtl::Variant(int32_t{4})) : Delete(m, 3);
    EXPECT_EQ(r, 0u) << Message(r);
    Close(m);
    Drop();
  }
}

TEST_F(RefIntEngines, ViolationMessageNamesBothTablesAndTheirFields) {
  Build({{&TzfBlockDeleteActionDescriptor::ClassInfo()}});
  Fill();
  TzfServerTableCursor* m = OpenTable(u"Master");
  ASSERT_EQ(Delete(m, 1), zfErrDetailRecsExist);
  EXPECT_EQ(Message(zfErrDetailRecsExist),
            "Referential Integrity Violation. Master(ID) -> Detail(MasterID): Master has detail records. Cannot "
            "delete or modify.");
}

TEST_F(RefIntEngines, TargetRequiredOnInsertAndModifyOfADetail) {
  Build({}, {{&TzfTargetRequiredActionDescriptor::ClassInfo()}});
  Fill();
  TzfServerTableCursor* d = OpenTable(u"Detail");
  uint32_t r = Insert(d, {rtl::Variant(int32_t{30}), rtl::Variant(int32_t{3})});
  EXPECT_EQ(r, zfErrMasterMissing);
  EXPECT_EQ(Message(r), "Referential Integrity Violation. Detail(MasterID) -> Master(ID): Master record missing.");
  // Moving a detail to a master that does not exist is refused the same way; to one that does is not.
  r = Modify(d, 10, 1, rtl::Variant(int32_t{7}));
  EXPECT_EQ(r, zfErrMasterMissing) << Message(r);
  EXPECT_EQ(Modify(d, 10, 1, rtl::Variant(int32_t{2})), 0u);
  // A detail without a master value is checked too (no master has a NULL key).
  EXPECT_EQ(Insert(d, {rtl::Variant(int32_t{31}), rtl::Variant()}), zfErrMasterMissing);
  Close(d);
  EXPECT_EQ(Rows(u"Detail"), "10:2,11:1,20:2");
}

// Batch inserts and record copies check every record they add as a single insert does.
TEST_F(RefIntEngines, BatchInsertAndCopyCheckEveryRecord) {
  Build({}, {{&TzfTargetRequiredActionDescriptor::ClassInfo()}});
  Fill();
  TzfServerTableCursor* d = OpenTable(u"Detail");
  const auto batch = [&](std::initializer_list<std::pair<int32_t, int32_t>> aRows) {
    const size_t rl = RecLen(d);
    std::vector<uint8_t> bytes(8, 0), rec(rl);
    for (auto [id, master] : aRows) {
      d->RecordBufferClear(rec.data());
      d->SetFieldFromVariant(rec.data(), 0, rtl::Variant(id));
      d->SetFieldFromVariant(rec.data(), 1, rtl::Variant(master));
      const size_t at = bytes.size();
      bytes.resize(at + 4 + rl);
      zfPutLE32(bytes.data() + at, static_cast<uint32_t>(rl));
      std::memcpy(bytes.data() + at + 4, rec.data(), rl);
    }
    zfPutLE32(bytes.data() + 4, static_cast<uint32_t>(aRows.size()));
    TzfMemoryStream ms;
    ms.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
    return d->RecordInsertBatch(ms);
  };
  uint32_t r = batch({{30, 1}, {31, 3}});
  EXPECT_EQ(r, zfErrMasterMissing);
  EXPECT_EQ(Message(r), "Referential Integrity Violation. Detail(MasterID) -> Master(ID): Master record missing.");
  EXPECT_EQ(Rows(u"Detail"), kAllDetails) << "the whole batch is refused";
  EXPECT_EQ(batch({{30, 1}, {31, 2}}), 0u);
  EXPECT_EQ(Rows(u"Detail"), "10:1,11:1,20:2,30:1,31:2");

  // A table of the same layout without references, copied into Detail.
  auto loose = std::make_unique<TzfServerDataDict>();
  loose->tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
  loose->tdFieldsDescriptor->AddField(u"MasterID", u"", zftInt32, 0, 0, false, nullptr);
  ASSERT_EQ(Db->TableBuild(false, u"Loose", u"", loose.get(), tsPersistent, false), 0u);
  TzfServerTableCursor* l = OpenTable(u"Loose");
  ASSERT_EQ(Insert(l, {rtl::Variant(int32_t{40}), rtl::Variant(int32_t{9})}), 0u);
  r = l->CopyRecords(d, zfbcmNoCopy, 0);
  EXPECT_EQ(r, zfErrMasterMissing) << Message(r);
  EXPECT_EQ(Rows(u"Detail"), "10:1,11:1,20:2,30:1,31:2");
  ASSERT_EQ(Modify(l, 40, 1, rtl::Variant(int32_t{2})), 0u);
  EXPECT_EQ(l->CopyRecords(d, zfbcmNoCopy, 0), 0u);
  EXPECT_EQ(Rows(u"Detail"), "10:1,11:1,20:2,30:1,31:2,40:2");
}

TEST_F(RefIntEngines, NullSourceSkipsTheReferenceOrTheAction) {
  struct Case {
    const char* Name;
    bool SkipSource, SkipAction;
  } cases[] = {{"source skips on NULL", true, false}, {"action skips on NULL", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RefSetup detail{{&TzfTargetRequiredActionDescriptor::ClassInfo()}, c.SkipSource, c.SkipAction};
    Build({}, detail);
    TzfServerTableCursor* d = OpenTable(u"Detail");
    EXPECT_EQ(Insert(d, {rtl::Variant(int32_t{1}), rtl::Variant()}), 0u);
    // A value is still checked.
    EXPECT_EQ(Insert(d, {rtl::Variant(int32_t{2}), rtl::Variant(int32_t{9})}), zfErrMasterMissing);
    Close(d);
    EXPECT_EQ(Rows(u"Detail"), "1:-");
    Drop();
  }
}

TEST_F(RefIntEngines, RefusedWriteInsideATransactionLeavesItUsable) {
  // The master cascades its deletes; the detail demands its master. Inside one transaction a
  // refused detail insert takes back only itself; the cascade before it stays and commits.
  Build({{&TzfCascadeDeleteActionDescriptor::ClassInfo()}}, {{&TzfTargetRequiredActionDescriptor::ClassInfo()}});
  Fill();
  TzfServerTableCursor* m = OpenTable(u"Master");
  TzfServerTableCursor* d = OpenTable(u"Detail");
  ASSERT_EQ(Db->TransactionStart(false, false), 0u);
  EXPECT_EQ(Delete(m, 1), 0u);
  EXPECT_EQ(Insert(d, {rtl::Variant(int32_t{12}), rtl::Variant(int32_t{1})}), zfErrMasterMissing);
  EXPECT_EQ(Insert(d, {rtl::Variant(int32_t{21}), rtl::Variant(int32_t{2})}), 0u);
  ASSERT_EQ(Db->TransactionCommit(), 0u);
  Close(d);
  Close(m);
  EXPECT_EQ(Rows(u"Master"), "2:m");
  EXPECT_EQ(Rows(u"Detail"), "20:2,21:2");
}

TEST_F(RefIntEngines, FailedCascadeLeavesBothTablesAsTheyWere) {
  // A detail record locked by another session cannot be deleted: the master's delete fails and
  // the details already deleted by the cascade come back with the master.
  Build({{&TzfCascadeDeleteActionDescriptor::ClassInfo()}});
  Fill();
  TzfAbstractSession* s2 = nullptr;
  ASSERT_EQ(Engine->SessionOpen(s2, u"bob", u"", u"test", 10000), 0u);
  TzfAbstractDatabase* db2 = nullptr;
  ASSERT_EQ(s2->DatabaseOpen(db2, u"Path", rtl::u16(Dir.Path.string()), nullptr, omReadWrite, smShared, 10000), 0u);
  TzfAbstractCursor* other = nullptr;
  ASSERT_EQ(db2->CursorOpen(other, u"Detail", u"", omReadWrite, smShared, 0, false), 0u);
  std::vector<uint8_t> rec(RecLen(other));
  ASSERT_EQ(other->SetToBegin(), 0u);
  while (other->RecordGetNext(zfltNoLock, rec.data()) == 0)
    if (other->GetFieldAsVariant(rec.data(), 0).AsInteger() == 11) break;
  ASSERT_EQ(other->RecordGet(zfltWriteLock, rec.data()), 0u);

  // A short timeout: the cascade waits that long for the lock before it fails.
  TzfServerTableCursor* m = OpenTable(u"Master", 20);
  EXPECT_NE(Delete(m, 1), 0u);
  ASSERT_EQ(Db->TransactionStart(false, false), 0u);
  EXPECT_NE(Delete(m, 1), 0u);
  // The transaction goes on after the refusal.
  EXPECT_EQ(Delete(m, 2), 0u);
  ASSERT_EQ(Db->TransactionCommit(), 0u);
  Close(m);
  other->Free();
  db2->Free();
  s2->Free();
  EXPECT_EQ(Rows(u"Master"), "1:m");
  EXPECT_EQ(Rows(u"Detail"), "10:1,11:1");
}

TEST_F(RefIntEngines, TargetIndexProblemsAnswerOnFirstUse) {
  struct Case {
    const char* Name;
    const char16_t* Index;
    uint32_t Answer;
  } cases[] = {
      {"missing index", u"NoSuch", zfErrNoSuchIndex},
      {"index with fewer key fields than sources", u"ByMaster", zfErrInvalidDesc},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Build({});
    // Detail refers to Master with two sources, on c.Index of Master.
    auto dict = std::make_unique<TzfServerDataDict>();
    dict->tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
    dict->tdFieldsDescriptor->AddField(u"B", u"", zftInt32, 0, 0, false, nullptr);
    AddIndex(*dict, u"ByA", {0}, true);
    RefSetup setup{{&TzfCascadeDeleteActionDescriptor::ClassInfo()}};
    setup.TargetIndex = c.Index;
    AddReference(*dict, u"Detail", u"", {0, 1}, setup);
    ASSERT_EQ(Db->TableBuild(false, u"Two", u"", dict.get(), tsPersistent, false), 0u);
    TzfServerTableCursor* t = OpenTable(u"Two");
    ASSERT_EQ(Insert(t, {rtl::Variant(int32_t{1}), rtl::Variant(int32_t{1})}), 0u);
    EXPECT_EQ(Delete(t, 1), c.Answer);
    Close(t);
    EXPECT_EQ(Rows(u"Two"), "1:1");
    Drop({u"Two", u"Master", u"Detail"});
  }
}

TEST_F(RefIntEngines, UnopenableTargetIsAViolation) {
  Build({});
  auto dict = std::make_unique<TzfServerDataDict>();
  dict->tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  AddReference(*dict, u"Gone", u"ByX", {0}, {{&TzfBlockDeleteActionDescriptor::ClassInfo()}});
  ASSERT_EQ(Db->TableBuild(false, u"Lonely", u"", dict.get(), tsPersistent, false), 0u);
  TzfServerTableCursor* t = OpenTable(u"Lonely");
  ASSERT_EQ(Insert(t, {rtl::Variant(int32_t{1})}), 0u);
  const uint32_t r = Delete(t, 1);
  EXPECT_NE(r, 0u);
  EXPECT_EQ(Message(r).rfind("Referential Integrity Violation. Lonely(A) -> Gone(): ", 0), 0u) << Message(r);
  Close(t);
  EXPECT_EQ(Rows(u"Lonely"), "1");
}

TEST_F(RefIntEngines, SelfReferenceThroughACloneCursor) {
  // Parent links of one table: deleting a node clears the parent of its children.
  auto dict = std::make_unique<TzfServerDataDict>();
  dict->tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
  dict->tdFieldsDescriptor->AddField(u"Parent", u"", zftInt32, 0, 0, false, nullptr);
  AddIndex(*dict, u"ByParent", {1}, true);
  auto* refInt = dynamic_cast<TzfRefIntegrityDescriptor*>(
      dict->tdCustomDescsDescriptor->AddCustom(u"RefIntegrity", &TzfRefIntegrityDescriptor::ClassInfo()));
  TzfReferenceDescriptor* ref = refInt->AddReference(nullptr, &TzfCloneTargetCursorDescriptor::ClassInfo());
  ref->SetTargetIndex(u"ByParent");
  dynamic_cast<TzfFieldSourceDescriptor*>(ref->AddSource())->SetFieldNumber(0);
  ref->AddAction(&TzfClearDeleteActionDescriptor::ClassInfo());
  ASSERT_EQ(Db->TableBuild(false, u"Tree", u"", dict.get(), tsPersistent, false), 0u);
  TzfServerTableCursor* t = OpenTable(u"Tree");
  for (auto [id, parent] : {std::pair{1, 0}, {2, 1}, {3, 1}, {4, 2}})
    ASSERT_EQ(Insert(t, {rtl::Variant(int32_t{id}), rtl::Variant(int32_t{parent})}), 0u);
  // The cursor sees only node 1; its references still see the children.
  TzfFilterID onlyOne = 0;
  ASSERT_EQ(t->FilterAddCallback(0, [t](int32_t, const uint8_t* aData) {
    return t->GetFieldAsVariant(aData, 0).AsInteger() == 1;
  }, onlyOne), 0u);
  ASSERT_EQ(t->FilterActivate(onlyOne), 0u);
  EXPECT_EQ(Delete(t, 1), 0u);
  EXPECT_EQ(Rows(u"Tree"), "2:-,3:-,4:2");
}

TEST_F(RefIntEngines, TargetCursorClosesWhenItsTableAsksAndReopens) {
  Build({{&TzfCascadeDeleteActionDescriptor::ClassInfo()}});
  Fill();
  TzfServerTableCursor* m = OpenTable(u"Master");
  ASSERT_EQ(Delete(m, 1), 0u);
  auto* engine = dynamic_cast<TzfRefIntegrityEngine*>(m->sbcRefIntegrity.get());
  ASSERT_NE(engine, nullptr);
  TzfBaseTargetCursorEngine& target = *engine->rieReferences[0]->reTargetCursor;
  ASSERT_NE(target.btceCursor, nullptr);
  // The detail table goes: its cursors are asked to close, and the one not in use does.
  EXPECT_EQ(Db->TableDelete(u"Detail", u""), 0u) << Message(zfErrFileLocked);
  EXPECT_EQ(target.btceCursor, nullptr);
  EXPECT_FALSE(engine->rieReferences[0]->reTargetCursorPrepared);
  // Without its target the reference is a violation; with a new one it works again.
  EXPECT_NE(Delete(m, 2), 0u);
  BuildDetail({});
  EXPECT_EQ(Delete(m, 2), 0u);
  // A cursor in use stays open when its table asks, and keeps the table; an end without a begin
  // before that must not have made the use count too small to say so.
  target.EndUse();
  target.BeginUse();
  EXPECT_NE(Db->TableDelete(u"Detail", u""), 0u);
  EXPECT_NE(target.btceCursor, nullptr);
  target.EndUse();
  EXPECT_EQ(Db->TableDelete(u"Detail", u""), 0u);
  EXPECT_EQ(target.btceCursor, nullptr);
}

TEST_F(RefIntEngines, DatabaseFreedWithOpenTargetCursors) {
  // The database frees its cursors from the last opened: the target cursors, opened after the
  // cursors whose engines name them, must not be freed before those engines let them go.
  Build({{&TzfCascadeDeleteActionDescriptor::ClassInfo()}}, {{&TzfTargetRequiredActionDescriptor::ClassInfo()}});
  Fill();
  TzfServerTableCursor* m = OpenTable(u"Master");
  TzfServerTableCursor* d = OpenTable(u"Detail");
  EXPECT_EQ(Insert(d, {rtl::Variant(int32_t{12}), rtl::Variant(int32_t{2})}), 0u);
  EXPECT_EQ(Delete(m, 1), 0u);
  Cursors.clear();
  Db->Free();
  Db = nullptr;
}

TEST_F(RefIntEngines, RelativeTargetInANestedTable) {
  // Root table T refers to its nested table Sub by a path from the root.
  auto dict = std::make_unique<TzfServerDataDict>();
  dict->tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
  TzfNestedTableDescriptor* sub = dict->tdTablesDescriptor->AddTable(u"Sub");
  sub->tdFieldsDescriptor->AddField(u"V", u"", zftInt32, 0, 0, false, nullptr);
  sub->AddRecordDescriptor();
  TzfIndexDescriptor* ix = sub->EnsureIndicesDescriptor()->AddIndex(u"ByV", 0, idAll, u"");
  dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(0);
  auto* refInt = dynamic_cast<TzfRefIntegrityDescriptor*>(
      dict->tdCustomDescsDescriptor->AddCustom(u"RefIntegrity", &TzfRefIntegrityDescriptor::ClassInfo()));
  TzfReferenceDescriptor* ref = refInt->AddReference(nullptr, &TzfRelativeTargetCursorDescriptor::ClassInfo());
  dynamic_cast<TzfRelativeTargetCursorDescriptor&>(*ref->rdTargetCursor).SetTableName(u"Sub");
  ref->SetTargetIndex(u"ByV");
  dynamic_cast<TzfFieldSourceDescriptor*>(ref->AddSource())->SetFieldNumber(0);
  ref->AddAction(&TzfCascadeDeleteActionDescriptor::ClassInfo());
  ASSERT_EQ(Db->TableBuild(false, u"T", u"", dict.get(), tsPersistent, false), 0u) << Message(zfErrInvalidDesc);
  TzfServerTableCursor* t = OpenTable(u"T");
  TzfServerTableCursor* n = OpenTable(u"T:Sub");
  ASSERT_NE(n, nullptr);
  for (int32_t id : {1, 2}) ASSERT_EQ(Insert(t, {rtl::Variant(id)}), 0u);
  for (int32_t v : {1, 1, 2}) ASSERT_EQ(Insert(n, {rtl::Variant(v)}), 0u);
  Close(n);
  const uint32_t r = Delete(t, 1);
  EXPECT_EQ(r, 0u) << Message(r);
  EXPECT_EQ(Rows(u"T"), "2");
  EXPECT_EQ(Rows(u"T:Sub"), "2");
}

TEST_F(RefIntEngines, DeleteAllRunsTheReferencesForEveryRecord) {
  struct Case {
    const char* Name;
    TzfDictionaryItemClass Action;
    uint32_t Answer;
    std::string Masters, Details;
  } cases[] = {
      {"cascade", &TzfCascadeDeleteActionDescriptor::ClassInfo(), 0, "", ""},
      {"block", &TzfBlockDeleteActionDescriptor::ClassInfo(), zfErrDetailRecsExist, "1:m,2:m", kAllDetails},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Build({{c.Action}});
    Fill();
    TzfServerTableCursor* m = OpenTable(u"Master");
    const uint32_t r = m->DeleteRecords();
    EXPECT_EQ(r, c.Answer) << Message(r);
    Close(m);
    EXPECT_EQ(Rows(u"Master"), c.Masters);
    EXPECT_EQ(Rows(u"Detail"), c.Details);
    Drop();
  }
}

}  // namespace
}  // namespace zf::test
