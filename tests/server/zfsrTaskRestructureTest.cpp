// Restructure, pack and backup through the server database: the copy tasks run
// to their end while the test polls their status; then the records and
// dictionary of the table under its name, what else is left in the folder, the
// start failures that make no task, cancels part-way, and the finishing renames
// when one of them is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "mapping/zfsdTableMapperDescriptor.h"
#include "platform/rtl/rtlStringList.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"
#include "server/zfsrTaskRestructure.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrTimeoutHandling.h"
#include "tests/foundation/zfCaptureLog.h"
#include "tests/server/zfsrServerCursorTestUtil.h"
#include "tests/server/zfsrServerFulltextReader.h"
#include "tools/zftableLog.h"

namespace zf::test {
namespace {

// A field of a dictionary made for a test: name, type, length (0 where the type
// fixes it).
struct TField {
  const char16_t* Name;
  TzfFieldType Type;
  int32_t Length = 0;
};

// A dictionary of aFields with a unique index "ByID" on the field named "ID".
std::unique_ptr<TzfServerDataDict> Dictionary(std::initializer_list<TField> aFields) {
  auto d = std::make_unique<TzfServerDataDict>();
  int32_t id = -1;
  for (const TField& f : aFields) {
    if (UnicodeString(f.Name) == u"ID") id = d->tdFieldsDescriptor->FieldCount;
    d->tdFieldsDescriptor->AddField(f.Name, u"", f.Type, f.Length, 0, false, nullptr);
  }
  if (id >= 0) {
    TzfIndexDescriptor* ix = d->EnsureIndicesDescriptor()->AddIndex(u"ByID", 0, idNone, u"");
    dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(id);
  }
  return d;
}

// The source layout of most tests.
std::unique_ptr<TzfServerDataDict> SourceDictionary() {
  return Dictionary({{u"ID", zftInt32}, {u"Name", zftWideString, 20}, {u"Small", zftInt16}, {u"Gone", zftInt32}});
}

// A record as text per field name ("null" for NULL), keyed by its ID.
using TRows = std::map<int32_t, std::map<std::string, std::string>>;

// Fails every request of aAction before it runs whose first argument (a name)
// starts with aPrefix.
class TVeto : public TzfBaseEngineExtender {
 public:
  TVeto(TzfExtendableServerObject* aObject, TzfEngineAction aAction, UnicodeString aPrefix)
      : TzfBaseEngineExtender(nullptr, aObject, {}), Action(aAction), Prefix(std::move(aPrefix)) {}
  uint32_t Notify(TzfEngineAction aAction, bool aBefore, const TzfActionArgs& aArgs) override {
    if (!aBefore || aAction != Action || aArgs.empty()) return 0;
    const auto* name = std::any_cast<UnicodeString>(&aArgs[0]);
    return name && name->rfind(Prefix, 0) == 0 ? 4242u : 0u;
  }
  TzfEngineAction Action;
  UnicodeString Prefix;
};

class CopyTask : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    S = OpenSession();
    Db = OpenDb(S);
  }
  void TearDown() override {
    TzfServerRestructureContainer::OnProgress = nullptr;
    CursorTest::TearDown();
  }

  // Builds aName with aDictionary and aCount records: ID 1..aCount, Name
  // "n<ID>", Small ID*3-500 (NULL for every 7th), Gone ID*10. Every
  // aDeleteEvery-th record is deleted again.
  void Make(const UnicodeString& aName, uint32_t aCount, uint32_t aDeleteEvery = 0,
            std::unique_ptr<TzfServerDataDict> aDictionary = SourceDictionary(), TzfServerDatabase* aDb = nullptr) {
    TzfServerDatabase* db = aDb ? aDb : Db;
    Build(db, aName, aDictionary.get());
    TzfServerTableCursor* c = Open(db, aName);
    {
      Buffer b(c);
      TzfFieldsDescriptor& f = *c->acGetTableDescriptor()->tdFieldsDescriptor;
      for (int32_t id = 1; id <= int32_t(aCount); ++id) {
        f.InitRecord(b.P);
        c->SetFieldFromVariant(b.P, 0, rtl::Variant(id));
        c->SetFieldFromVariant(b.P, 1, rtl::Variant(u"n" + rtl::IntToStr(id)));
        if (id % 7 != 0) c->SetFieldFromVariant(b.P, 2, rtl::Variant(id * 3 - 500));
        c->SetFieldFromVariant(b.P, 3, rtl::Variant(id * 10));
        ASSERT_EQ(c->RecordInsert(zfltNoLock, b.P), 0u);
      }
      if (aDeleteEvery > 0) {
        ASSERT_EQ(c->SetToBegin(), 0u);
        while (c->RecordGetNext(zfltNoLock, b.P) == 0)
          if (c->GetFieldAsVariant(b.P, 0).AsInteger() % int32_t(aDeleteEvery) == 0) {
            ASSERT_EQ(c->RecordDelete(nullptr), 0u);
          }
      }
    }
    Close(c);
  }

  TRows Rows(const UnicodeString& aName, TzfServerDatabase* aDb = nullptr) {
    TRows rows;
    TzfServerTableCursor* c = Open(aDb ? aDb : Db, aName, omReadOnly);
    if (!c) return rows;
    {
      Buffer b(c);
      TzfFieldsDescriptor& f = *c->acGetTableDescriptor()->tdFieldsDescriptor;
      const int32_t id = f.GetFieldFromName(u"ID");
      while (c->RecordGetNext(zfltNoLock, b.P) == 0) {
        auto& row = rows[c->GetFieldAsVariant(b.P, id).AsInteger()];
        for (int32_t i = 0; i < f.FieldCount; ++i) {
          const rtl::Variant v = c->GetFieldAsVariant(b.P, i);
          row[rtl::u8(f.Field(i)->fdName)] = v.IsNull() ? "null" : rtl::u8(v.AsString());
        }
      }
    }
    Close(c);
    return rows;
  }
  // The field names and types of aName's dictionary, in field order.
  std::vector<std::pair<std::string, TzfFieldType>> Layout(const UnicodeString& aName) {
    std::vector<std::pair<std::string, TzfFieldType>> layout;
    TzfServerDataDict d;
    EXPECT_EQ(Db->TableGetDictionary(aName, u"", &d), 0u);
    for (int32_t i = 0; i < d.tdFieldsDescriptor->FieldCount; ++i)
      layout.emplace_back(rtl::u8(d.tdFieldsDescriptor->Field(i)->fdName), d.tdFieldsDescriptor->Field(i)->fdType);
    return layout;
  }
  std::vector<std::string> Tables(TzfServerDatabase* aDb = nullptr) {
    rtl::TStringList list;
    EXPECT_EQ((aDb ? aDb : Db)->TableGetList(list), 0u);
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.Count(); ++i) names.push_back(rtl::u8(list[i]));
    return names;
  }
  // The IDs in the order of index "ByID".
  std::vector<int32_t> ByID(const UnicodeString& aName) {
    std::vector<int32_t> ids;
    TzfServerTableCursor* c = Open(Db, aName, omReadOnly);
    EXPECT_EQ(c->SwitchToIndex(u"ByID", -1, false), 0u);
    {
      Buffer b(c);
      const int32_t id = c->acGetTableDescriptor()->tdFieldsDescriptor->GetFieldFromName(u"ID");
      while (c->RecordGetNext(zfltNoLock, b.P) == 0) ids.push_back(c->GetFieldAsVariant(b.P, id).AsInteger());
    }
    Close(c);
    return ids;
  }
  // Polls aTask to its end and frees it.
  static TzfTaskStatus Wait(TzfAbstractTaskInfo* aTask) {
    TzfTaskStatus status;
    bool done = false;
    for (;;) {
      aTask->GetStatus(done, status);
      if (done) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    aTask->Free();
    return status;
  }
  // Table mapper mapping every field of aFrom to the equally named one of aTo.
  static std::unique_ptr<TzfTableMapperDescriptor> MapByName(TzfDataDictionary& aFrom, TzfDataDictionary& aTo) {
    auto m = std::make_unique<TzfTableMapperDescriptor>();
    m->MapAllTablesAndFieldsByName(aFrom, aTo, TzfDataLossAction::dlaFail);
    return m;
  }
  // Restructures "T" into aNew (fields mapped by name) and waits for the end.
  TzfTaskStatus Restructure(TzfServerDataDict& aNew) {
    auto old = SourceDictionary();
    auto mapper = MapByName(*old, aNew);
    TzfAbstractTaskInfo* task = nullptr;
    EXPECT_EQ(Db->TableRestructure(u"T", u"", &aNew, mapper.get(), false, task), 0u);
    return task ? Wait(task) : TzfTaskStatus{};
  }
  // Cancels the running task once it has read aRecords records.
  static void CancelAfter(uint32_t aRecords) {
    TzfServerRestructureContainer::OnProgress = [aRecords](TzfServerRestructureTaskInfo& aTask, uint32_t aRead) {
      if (aRead >= aRecords) aTask.Cancel();
    };
  }
  uintmax_t FileSize(const std::string& aName) {
    EXPECT_EQ(S->CloseInactiveTables(), 0u);
    return std::filesystem::file_size(Dir.Path / (aName + ".zf1"));
  }

  TzfServerSession* S = nullptr;
  TzfServerDatabase* Db = nullptr;
};

// The expected rows of Make's records after aRestructured.
TRows Expected(uint32_t aCount, uint32_t aDeleteEvery = 0) {
  TRows rows;
  for (int32_t id = 1; id <= int32_t(aCount); ++id) {
    if (aDeleteEvery && id % int32_t(aDeleteEvery) == 0) continue;
    rows[id] = {{"ID", std::to_string(id)},
                {"Name", "n" + std::to_string(id)},
                {"Small", id % 7 == 0 ? "null" : std::to_string(id * 3 - 500)},
                {"Gone", std::to_string(id * 10)}};
  }
  return rows;
}

bool HasPrefix(const std::vector<std::string>& aNames, const std::string& aPrefix) {
  for (const auto& n : aNames)
    if (n.rfind(aPrefix, 0) == 0) return true;
  return false;
}

TEST_F(CopyTask, RestructureAddsRemovesRetypesAndReordersKeepingEveryRecord) {
  Make(u"T", 250);
  // Small widened and moved first, Gone removed, ID narrowed to 16 bits (every
  // value fits), Name kept, Added new (NULL in every record).
  auto next = Dictionary({{u"Small", zftInt64}, {u"Name", zftWideString, 20}, {u"ID", zftInt16}, {u"Added", zftInt32}});
  const TzfTaskStatus status = Restructure(*next);
  ASSERT_EQ(status.tsErrorCode, 0u);
  EXPECT_TRUE(status.tsFinished);
  EXPECT_EQ(status.tsTotalRecs, 250u);
  EXPECT_EQ(status.tsRecsRead, 250u);
  EXPECT_EQ(status.tsRecsWritten, 250u);

  EXPECT_EQ(Layout(u"T"), (std::vector<std::pair<std::string, TzfFieldType>>{
                              {"Small", zftInt64}, {"Name", zftWideString}, {"ID", zftInt16}, {"Added", zftInt32}}));
  TRows expected = Expected(250);
  for (auto& [id, row] : expected) {
    row.erase("Gone");
    row["Added"] = "null";
  }
  EXPECT_EQ(Rows(u"T"), expected);
  // The new table's index was built from the copied records.
  std::vector<int32_t> ids(250);
  for (int32_t i = 0; i < 250; ++i) ids[size_t(i)] = i + 1;
  EXPECT_EQ(ByID(u"T"), ids);
  const auto tables = Tables();
  EXPECT_FALSE(HasPrefix(tables, "_REST"));
  EXPECT_FALSE(HasPrefix(tables, "T_Backup"));
}

TEST_F(CopyTask, RestructureThatCannotMapAValueLeavesTheSourceAsItWas) {
  Make(u"T", 40);
  // Gone holds up to 400: it does not fit into 8 bits, and dlaFail refuses it.
  auto next = Dictionary({{u"ID", zftInt32}, {u"Gone", zftInt8}});
  const TzfTaskStatus status = Restructure(*next);
  EXPECT_EQ(status.tsErrorCode, zfErrInvalidFieldXForm);
  EXPECT_TRUE(status.tsFinished);
  EXPECT_EQ(Layout(u"T").size(), 4u);
  EXPECT_EQ(Rows(u"T"), Expected(40));
  const auto tables = Tables();
  EXPECT_FALSE(HasPrefix(tables, "_REST"));
  EXPECT_FALSE(HasPrefix(tables, "T_Backup"));
}

TEST_F(CopyTask, RestructureBuildsUnderTheNextFreeName) {
  Make(u"T", 20);
  Make(u"_REST", 3);
  auto next = Dictionary({{u"ID", zftInt32}, {u"Name", zftWideString, 20}});
  auto old = SourceDictionary();
  auto mapper = MapByName(*old, *next);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TableRestructure(u"T", u"", next.get(), mapper.get(), false, task), 0u);
  auto* container = static_cast<TzfServerRestructureTaskInfo*>(task)->Container();
  EXPECT_EQ(rtl::u8(container->srcTargetName), "_REST1");
  EXPECT_EQ(Wait(task).tsErrorCode, 0u);
  EXPECT_EQ(Rows(u"_REST").size(), 3u) << "the table that had the name is not touched";
  EXPECT_EQ(Layout(u"T").size(), 2u);
}

TEST_F(CopyTask, PackShrinksATableWithDeletedRecordsAndKeepsTheLiveOnes) {
  Make(u"T", 3000, 3);
  const TRows before = Rows(u"T");
  ASSERT_EQ(before, Expected(3000, 3));
  const auto layout = Layout(u"T");
  const uintmax_t sizeBefore = FileSize("T");
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TablePack(u"T", u"", task), 0u);
  const TzfTaskStatus status = Wait(task);
  ASSERT_EQ(status.tsErrorCode, 0u);
  EXPECT_EQ(status.tsRecsRead, 2000u);
  EXPECT_EQ(status.tsRecsWritten, 2000u);
  EXPECT_LT(FileSize("T"), sizeBefore * 3 / 4);
  EXPECT_EQ(Rows(u"T"), before);
  EXPECT_EQ(Layout(u"T"), layout);
  EXPECT_EQ(ByID(u"T").size(), 2000u);
  const auto tables = Tables();
  EXPECT_FALSE(HasPrefix(tables, "_PACK"));
  EXPECT_FALSE(HasPrefix(tables, "T_Backup"));
  EXPECT_EQ(tables, std::vector<std::string>{"T"});
}

// The table's named streams go with it into the packed table. A stream that cannot be read (its
// block damaged on disk) fails the pack with the read's code: the source stays as it was, with its
// records and under its name, and no table of the job is left.
TEST_F(CopyTask, PackCarriesTheNamedStreamsAndAnUnreadableOneFailsIt) {
  const std::string marker = "named-stream-marker-0123456789";
  const auto writeStream = [&](const UnicodeString& aName, const std::string& aBytes) {
    TzfServerTableCursor* c = Open(Db, u"T");
    TzfMemoryStream data;
    data.Write(aBytes.data(), int32_t(aBytes.size()));
    data.SetPosition(0);
    EXPECT_EQ(c->TableStreamWrite(aName, data), 0u);
    Close(c);
  };
  const auto readStream = [&](const UnicodeString& aName, std::string& aBytes) {
    TzfServerTableCursor* c = Open(Db, u"T", omReadOnly);
    TzfMemoryStream data;
    const uint32_t r = c->TableStreamRead(aName, data);
    aBytes.assign(static_cast<const char*>(data.Memory()), size_t(data.Size()));
    Close(c);
    return r;
  };
  Make(u"T", 300, 3);
  writeStream(u"Notes", "kept notes");
  writeStream(u"Settings", marker + std::string(100, 's'));

  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TablePack(u"T", u"", task), 0u);
  ASSERT_EQ(Wait(task).tsErrorCode, 0u);
  std::string back;
  ASSERT_EQ(readStream(u"Notes", back), 0u);
  EXPECT_EQ(back, "kept notes");
  ASSERT_EQ(readStream(u"Settings", back), 0u);
  EXPECT_EQ(back, marker + std::string(100, 's'));

  // Damage the signature of the block that holds "Settings".
  const TRows rows = Rows(u"T");
  FileSize("T");  // closes the table
  const std::filesystem::path file = Dir.Path / "T.zf1";
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const size_t data = bytes.find(marker);
  ASSERT_NE(data, std::string::npos);
  ASSERT_GE(data, 32u);
  ASSERT_EQ(bytes.compare(data - 32, 4, "ZFSH"), 0);
  ASSERT_EQ(bytes.compare(data - 12, 4, "USER"), 0);
  {
    std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(std::streamoff(data - 32));
    io.write("XXXX", 4);
  }
  ASSERT_NE(readStream(u"Settings", back), 0u);

  ASSERT_EQ(Db->TablePack(u"T", u"", task), 0u);
  const TzfTaskStatus status = Wait(task);
  EXPECT_NE(status.tsErrorCode, 0u);
  EXPECT_EQ(Rows(u"T"), rows);
  ASSERT_EQ(readStream(u"Notes", back), 0u);
  EXPECT_EQ(back, "kept notes");
  EXPECT_EQ(Tables(), std::vector<std::string>{"T"});
}

TEST_F(CopyTask, PackOfAnEmptyTableReadsNothingAndSucceeds) {
  Make(u"T", 0);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TablePack(u"T", u"", task), 0u);
  const TzfTaskStatus status = Wait(task);
  EXPECT_EQ(status.tsErrorCode, 0u);
  EXPECT_EQ(status.tsRecsRead, 0u);
  EXPECT_EQ(status.tsRecsWritten, 0u);
  EXPECT_EQ(Tables(), std::vector<std::string>{"T"});
}

// A table with nested tables gets a node per table: each is copied into the same nested table of
// the new one, and the status sums the tables.
TEST_F(CopyTask, PackCopiesNestedTablesToo) {
  auto dict = SmallDictionary(0, 1);  // "Sub1" with "Deep" inside
  Build(Db, u"T", dict.get());
  const std::pair<const char16_t*, int32_t> fills[] = {{u"T", 120}, {u"T:Sub1", 70}, {u"T:Sub1:Deep", 30}};
  for (const auto& [table, count] : fills) {
    TzfServerTableCursor* c = Open(Db, table);
    {
      Buffer b(c);
      for (int32_t i = 1; i <= count; ++i) {
        c->SetFieldFromVariant(b.P, 0, rtl::Variant(i));
        ASSERT_EQ(c->RecordInsert(zfltNoLock, b.P), 0u);
      }
    }
    Close(c);
  }
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TablePack(u"T", u"", task), 0u);
  const TzfTaskStatus status = Wait(task);
  ASSERT_EQ(status.tsErrorCode, 0u);
  EXPECT_EQ(status.tsTotalRecs, 220u);
  EXPECT_EQ(status.tsRecsRead, 220u);
  EXPECT_EQ(status.tsRecsWritten, 220u);
  for (const auto& [table, count] : fills) {
    SCOPED_TRACE(rtl::u8(table));
    TzfServerTableCursor* c = Open(Db, table, omReadOnly);
    uint32_t n = 0;
    EXPECT_EQ(c->GetRecordCount(n, false), 0u);
    EXPECT_EQ(n, uint32_t(count));
    Close(c);
  }
  EXPECT_EQ(Tables(), std::vector<std::string>{"T"});
}

// A table whose locale index was built under other sorting rules can no longer use that index;
// its pack builds every index anew under the rules in force now.
TEST_F(CopyTask, PackRebuildsLocaleIndexesUnderTheCurrentSortingRules) {
  auto dict = SourceDictionary();
  dict->AddLocaleDescriptor(nullptr)->SetLocale(0x409);
  TzfIndexDescriptor* byName = dict->EnsureIndicesDescriptor()->AddIndex(u"ByName", 0, idAll, u"");
  dynamic_cast<TzfCompKeyDescriptor&>(*byName->idKeyDescriptor).Add(1);
  Make(u"T", 60, 0, std::move(dict));
  {
    // The stored dictionary says its keys were built under another version of the rules.
    TzfServerRootTable* root = nullptr;
    bool readOnly = false;
    ASSERT_EQ(Db->sdGetTable(root, u"T", u"", false, readOnly), 0u);
    TzfServerDataDict stored;
    stored.Assign(root->srtDictionary.get());
    ASSERT_TRUE(stored.ldiLocaleDescriptor && stored.ldiLocaleDescriptor->ldNLSVersionInfoBuild);
    stored.ldiLocaleDescriptor->ldNLSVersionInfoBuild->dwNLSVersion ^= 0x5A5A;
    TzfServerTransaction trans(Engine->seBufferManager.get(), nullptr, nullptr, false, false);
    stored.WriteToFile(*root->srtStreamEngine, &trans, zfEngineVersion);
    trans.Commit();
  }
  ASSERT_EQ(S->CloseInactiveTables(), 0u);
  {
    TzfServerTableCursor* c = Open(Db, u"T", omReadOnly);
    EXPECT_EQ(c->SwitchToIndex(u"ByName", -1, false), zfErrHigherTableLevelRequired);
    Close(c);
  }
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TablePack(u"T", u"", task), 0u);
  ASSERT_EQ(Wait(task).tsErrorCode, 0u);
  TzfServerTableCursor* c = Open(Db, u"T", omReadOnly);
  ASSERT_EQ(c->SwitchToIndex(u"ByName", -1, false), 0u);
  std::vector<std::string> names;
  {
    Buffer b(c);
    while (c->RecordGetNext(zfltNoLock, b.P) == 0) names.push_back(rtl::u8(c->GetFieldAsVariant(b.P, 1).AsString()));
  }
  Close(c);
  ASSERT_EQ(names.size(), 60u);
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << "n1, n10, n11, ... in the locale's order";
}

// BLOBs go with their records: the mapper copies each into the new table.
TEST_F(CopyTask, PackCopiesBlobs) {
  auto dict = BlobDictionary();
  Build(Db, u"T", dict.get());
  TzfServerTableCursor* c = Open(Db, u"T");
  {
    Buffer b(c);
    for (int32_t id = 1; id <= 12; ++id) {
      c->acGetTableDescriptor()->tdFieldsDescriptor->InitRecord(b.P);
      c->SetFieldFromVariant(b.P, 0, rtl::Variant(id));
      if (id % 4 != 0) SetBlob(c, b.P, 2, MakeBlob(c, std::string(size_t(id) * 700, char('a' + id))));
      ASSERT_EQ(c->RecordInsert(zfltNoLock, b.P), 0u);
    }
  }
  Close(c);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TablePack(u"T", u"", task), 0u);
  ASSERT_EQ(Wait(task).tsErrorCode, 0u);
  c = Open(Db, u"T", omReadOnly);
  std::map<int32_t, std::string> blobs;
  {
    Buffer b(c);
    while (c->RecordGetNext(zfltNoLock, b.P) == 0) {
      const int64_t nr = BlobOf(c, b.P, 2);
      blobs[c->GetFieldAsVariant(b.P, 0).AsInteger()] = nr ? ReadBlob(c, nr) : "null";
    }
  }
  Close(c);
  ASSERT_EQ(blobs.size(), 12u);
  for (const auto& [id, content] : blobs)
    EXPECT_EQ(content, id % 4 != 0 ? std::string(size_t(id) * 700, char('a' + id)) : "null") << id;
}

// A job whose task is freed before its thread ran it leaves no new table behind.
TEST_F(CopyTask, AJobThatNeverRanLeavesNoTable) {
  Make(u"T", 10);
  auto next = Dictionary({{u"ID", zftInt32}});
  auto old = SourceDictionary();
  auto mapper = MapByName(*old, *next);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->sdTableRestructure(u"T", u"", next.get(), mapper.get(), task), 0u);
  ASSERT_NE(task, nullptr);
  EXPECT_TRUE(HasPrefix(Tables(), "_REST"));
  task->Free();
  EXPECT_EQ(Tables(), std::vector<std::string>{"T"});
  EXPECT_EQ(Rows(u"T"), Expected(10));
}

// Freeing the session while its job runs cancels and joins the job first: the source stays as it
// was and no new table is left.
TEST_F(CopyTask, FreeingTheSessionStopsARunningJob) {
  Make(u"T", 3000);
  auto next = Dictionary({{u"ID", zftInt64}, {u"Name", zftWideString, 20}});
  auto old = SourceDictionary();
  auto mapper = MapByName(*old, *next);
  for (const bool pack : {false, true}) {
    SCOPED_TRACE(pack ? "pack" : "restructure");
    TzfAbstractSession* s = nullptr;
    ASSERT_EQ(Engine->SessionOpen(s, u"bob", u"", u"test", 10000), 0u);
    TzfAbstractDatabase* d = nullptr;
    ASSERT_EQ(s->DatabaseOpen(d, u"Path", rtl::u16(Dir.Path.string()), nullptr, omReadWrite, smShared, 10000), 0u);
    TzfAbstractTaskInfo* task = nullptr;
    ASSERT_EQ(
        pack ? d->TablePack(u"T", u"", task) : d->TableRestructure(u"T", u"", next.get(), mapper.get(), false, task),
        0u);
    s->Free();  // frees the task, its private database and d
    ASSERT_EQ(S->CloseInactiveTables(), 0u);
    const auto tables = Tables();
    EXPECT_FALSE(HasPrefix(tables, "_REST"));
    EXPECT_FALSE(HasPrefix(tables, "_PACK"));
    EXPECT_FALSE(HasPrefix(tables, "T_Backup"));
    EXPECT_EQ(Rows(u"T").size(), 3000u);
  }
}

// The job's private database shares the caller's own temporary tables: a database temporary
// table is packed in place like a file table.
TEST_F(CopyTask, PackOfADatabaseTemporaryTable) {
  Make(u"##T", 300, 2);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TablePack(u"##T", u"", task), 0u);
  const TzfTaskStatus status = Wait(task);
  ASSERT_EQ(status.tsErrorCode, 0u);
  EXPECT_EQ(status.tsRecsWritten, 150u);
  EXPECT_EQ(Rows(u"##T"), Expected(300, 2));
  EXPECT_EQ(Tables(), std::vector<std::string>{"##T"});
}

// A second folder with a database of the same session.
class Backup : public CopyTask {
 protected:
  TzfServerDatabase* OtherDb(TzfServerSession* aSession, TzfOpenMode aMode = omReadWrite) {
    TzfAbstractDatabase* d = nullptr;
    EXPECT_EQ(aSession->DatabaseOpen(d, u"Path", rtl::u16(Other.Path.string()), nullptr, aMode, smShared, 10000), 0u);
    Dbs.push_back(static_cast<TzfServerDatabase*>(d));
    return Dbs.back();
  }
  TempDir Other;
};

TEST_F(Backup, MakesATableEqualToTheSourceInTheOtherFolder) {
  Make(u"T", 500, 4);
  TzfServerDatabase* target = OtherDb(S);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TableBackup(u"T", u"", target, task), 0u);
  const TzfTaskStatus status = Wait(task);
  ASSERT_EQ(status.tsErrorCode, 0u);
  EXPECT_EQ(status.tsRecsWritten, 375u);
  EXPECT_EQ(Rows(u"T", target), Expected(500, 4));
  EXPECT_EQ(Rows(u"T"), Expected(500, 4)) << "the source is unchanged";
  EXPECT_EQ(Tables(target), std::vector<std::string>{"T"});
}

TEST_F(Backup, RefusedTargetsMakeNoTask) {
  Make(u"T", 5);
  TzfServerSession* other = OpenSession();
  struct TCase {
    const char* Name;
    std::function<TzfAbstractDatabase*(Backup&)> Target;
    uint32_t Code;
  };
  const TCase cases[] = {
      {"no database", [](Backup&) -> TzfAbstractDatabase* { return nullptr; }, zfErrInvalidParam},
      {"same folder", [this](Backup&) -> TzfAbstractDatabase* { return OpenDb(S); }, zfErrSameTable},
      {"another session", [this, other](Backup&) -> TzfAbstractDatabase* { return OtherDb(other); },
       zfErrDifferentSessions},
      {"read-only target", [this](Backup&) -> TzfAbstractDatabase* { return OtherDb(S, omReadOnly); }, zfErrReadOnlyDb},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TzfAbstractTaskInfo* task = reinterpret_cast<TzfAbstractTaskInfo*>(1);
    EXPECT_EQ(Db->TableBackup(u"T", u"", c.Target(*this), task), c.Code);
    EXPECT_EQ(task, nullptr);
  }
  EXPECT_FALSE(std::filesystem::exists(Other.Path / "T.zf1"));
}

TEST_F(CopyTask, StartFailuresMakeNoTaskAndNoTable) {
  Make(u"T", 5);
  auto next = Dictionary({{u"ID", zftInt32}});
  auto old = SourceDictionary();
  auto mapper = MapByName(*old, *next);
  TzfServerDatabase* readOnly = OpenDb(S, omReadOnly);
  struct TCase {
    const char* Name;
    std::function<uint32_t(CopyTask&, TzfAbstractTaskInfo*&)> Start;
    uint32_t Code;
  };
  const TCase cases[] = {
      {"restructure, read-only database",
       [&](CopyTask&, TzfAbstractTaskInfo*& k) {
         return readOnly->TableRestructure(u"T", u"", next.get(), mapper.get(), false, k);
       },
       zfErrReadOnlyDb},
      {"pack, read-only database",
       [&](CopyTask&, TzfAbstractTaskInfo*& k) { return readOnly->TablePack(u"T", u"", k); }, zfErrReadOnlyDb},
      {"restructure, nested name",
       [&](CopyTask&, TzfAbstractTaskInfo*& k) {
         return Db->TableRestructure(u"T:Sub", u"", next.get(), mapper.get(), false, k);
       },
       zfErrInvalidTableName},
      {"restructure, no dictionary",
       [&](CopyTask&, TzfAbstractTaskInfo*& k) {
         return Db->TableRestructure(u"T", u"", nullptr, mapper.get(), false, k);
       },
       zfErrInvalidParam},
      {"restructure, no mapper",
       [&](CopyTask&, TzfAbstractTaskInfo*& k) {
         return Db->TableRestructure(u"T", u"", next.get(), nullptr, false, k);
       },
       zfErrInvalidParam},
      {"pack, missing table", [&](CopyTask&, TzfAbstractTaskInfo*& k) { return Db->TablePack(u"Nope", u"", k); },
       zfErrNoSuchTable},
      {"pack, the caller's own cursor on the table",
       [&](CopyTask&, TzfAbstractTaskInfo*& k) {
         TzfServerTableCursor* c = Open(Db, u"T");
         const uint32_t r = Db->TablePack(u"T", u"", k);
         Close(c);
         return r;
       },
       zfErrNeedExclAccess},
      {"restructure, snapshot blocks held",
       [&](CopyTask&, TzfAbstractTaskInfo*& k) {
         TzfServerRootTable* root = nullptr;
         bool ro = false;
         EXPECT_EQ(Db->sdGetTable(root, u"T", u"", false, ro), 0u);
         root->srtSnapshotBlockCount = 1;
         const uint32_t r = Db->TableRestructure(u"T", u"", next.get(), mapper.get(), false, k);
         root->srtSnapshotBlockCount = 0;
         return r;
       },
       zfErrTableOpen},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TzfAbstractTaskInfo* task = reinterpret_cast<TzfAbstractTaskInfo*>(1);
    EXPECT_EQ(c.Start(*this, task), c.Code);
    EXPECT_EQ(task, nullptr);
    const auto tables = Tables();
    EXPECT_FALSE(HasPrefix(tables, "_REST"));
    EXPECT_FALSE(HasPrefix(tables, "_PACK"));
  }
  EXPECT_EQ(Rows(u"T"), Expected(5));
}

// A cancel part-way through the copy: 13062, the source as it was, no new table
// left.
TEST_F(CopyTask, CancelPartWayLeavesTheSourceAsItWas) {
  TempDir other;
  struct TCase {
    const char* Name;
    std::function<uint32_t(CopyTask&, TzfAbstractTaskInfo*&)> Start;
  };
  auto next = Dictionary({{u"ID", zftInt64}, {u"Name", zftWideString, 20}});
  auto old = SourceDictionary();
  auto mapper = MapByName(*old, *next);
  TzfAbstractDatabase* target = nullptr;
  ASSERT_EQ(S->DatabaseOpen(target, u"Path", rtl::u16(other.Path.string()), nullptr, omReadWrite, smShared, 10000), 0u);
  Dbs.push_back(static_cast<TzfServerDatabase*>(target));
  const TCase cases[] = {
      {"restructure",
       [&](CopyTask&, TzfAbstractTaskInfo*& k) {
         return Db->TableRestructure(u"T", u"", next.get(), mapper.get(), false, k);
       }},
      {"pack", [&](CopyTask&, TzfAbstractTaskInfo*& k) { return Db->TablePack(u"T", u"", k); }},
      {"backup", [&](CopyTask&, TzfAbstractTaskInfo*& k) { return Db->TableBackup(u"T", u"", target, k); }},
  };
  Make(u"T", 1000, 5);
  const TRows before = Rows(u"T");
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    CancelAfter(100);
    TzfAbstractTaskInfo* task = nullptr;
    ASSERT_EQ(c.Start(*this, task), 0u);
    const TzfTaskStatus status = Wait(task);
    EXPECT_EQ(status.tsErrorCode, zfErrUpdateAborted);
    EXPECT_GE(status.tsRecsRead, 100u);
    EXPECT_LT(status.tsRecsRead, 800u) << "the copy stopped part-way";
    EXPECT_EQ(status.tsRecsWritten, 0u);
    EXPECT_EQ(Rows(u"T"), before);
    EXPECT_EQ(Layout(u"T").size(), 4u);
    EXPECT_EQ(Tables(), std::vector<std::string>{"T"});
    EXPECT_FALSE(std::filesystem::exists(other.Path / "T.zf1")) << "no incomplete backup is left";
  }
}

// The finishing renames: a refused step is undone so that "T" always holds a
// whole table, and what stays under another name is in the event log.
TEST_F(CopyTask, RefusedFinishingStepsKeepATableUnderTheName) {
  auto next = Dictionary({{u"ID", zftInt32}, {u"Name", zftWideString, 20}});
  auto old = SourceDictionary();
  auto mapper = MapByName(*old, *next);
  struct TCase {
    const char* Name;
    std::vector<std::pair<TzfEngineAction, const char16_t*>> Vetoes;
    size_t FieldsUnderName;           // 4: the old table, 2: the new one
    std::vector<std::string> Tables;  // what the folder holds afterwards
    const char16_t* Logged;           // a text of the event log, or nullptr
  };
  const TCase cases[] = {
      {"source cannot be moved aside", {{eaTableRename, u"T"}}, 4, {"T"}, nullptr},
      {"new table cannot take the name", {{eaTableRename, u"_REST"}}, 4, {"T"}, nullptr},
      {"neither can move back",
       {{eaTableRename, u"_REST"}, {eaTableRename, u"T_Backup"}},
       0,
       {"T_Backup", "_REST"},
       u"the old table stays as \"T_Backup\" and the new one as \"_REST\""},
      {"old table cannot be deleted",
       {{eaTableDelete, u"T_Backup"}},
       2,
       {"T", "T_Backup"},
       u"the old table could not be deleted and stays as \"T_Backup\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    for (const auto& t : Tables()) ASSERT_EQ(Db->TableDelete(rtl::u16(t), u""), 0u);
    Make(u"T", 30);
    std::vector<TVeto*> vetoes;
    for (const auto& [action, prefix] : c.Vetoes) vetoes.push_back(new TVeto(Db->sdFolder, action, prefix));
    CaptureLog log;
    Engine->SetEventLog(&log);
    Engine->SetEventLogEnabled(true);
    TzfAbstractTaskInfo* task = nullptr;
    ASSERT_EQ(Db->TableRestructure(u"T", u"", next.get(), mapper.get(), false, task), 0u);
    const TzfTaskStatus status = Wait(task);
    Engine->SetEventLog(nullptr);
    for (TVeto* v : vetoes) TzfBaseEngineExtender::UnlinkAndFree(v, nullptr);
    EXPECT_EQ(status.tsErrorCode, 4242u);
    EXPECT_EQ(Tables(), c.Tables);
    if (c.FieldsUnderName != 0) {
      EXPECT_EQ(Layout(u"T").size(), c.FieldsUnderName);
      EXPECT_EQ(Rows(u"T").size(), 30u);
    }
    bool logged = false;
    for (const auto& e : log.Entries)
      if (c.Logged && e.Msg.find(c.Logged) != UnicodeString::npos) logged = true;
    EXPECT_EQ(logged, c.Logged != nullptr);
  }
}

// ---- Tables with a full-text index ----------------------------------------------------------

constexpr int32_t kLogID = 0, kLogLevel = 2, kLogText = 3;
constexpr int32_t kLogBitsIndex = 1;  // the bit-array token index of the full-text index "Words"

// The log table's full-text index "Words": its main-index token keys as (word, reference number
// of the record) and its bit arrays as (segment, word, 0, bit) of the record's location, its ID.
struct TWords {
  std::multiset<std::pair<UnicodeString, int64_t>> Keys;
  std::set<TBitEntry> Bits;
  bool operator==(const TWords&) const = default;
};
void PrintTo(const TWords& aWords, std::ostream* aOut) {
  *aOut << aWords.Keys.size() << " keys, " << aWords.Bits.size() << " bits";
}

TWords StoredWords(TzfServerTableCursor& aCursor) {
  TIndexReader read(aCursor);
  const int32_t tokens = aCursor.acGetTableDescriptor()->tdIndicesDescriptor->GetDescriptorFromName(u"Tokens")->idNumber;
  return {read.MainKeyRefs(tokens), read.Bits(0, kLogBitsIndex)};
}

// What the index must hold for the records as they are stored now, each at its reference number.
TWords WordsOfRecords(TzfServerTableCursor& aCursor) {
  TWords w;
  TzfServerBaseTable& table = *aCursor.Table();
  TzfFieldsDescriptor& fields = *table.sbtFieldsDescriptor;
  std::vector<uint8_t> record(size_t(fields.GetRecordLength()));
  uint8_t* data = record.data();
  int64_t ref = 0;
  table.sbtRecordEngine->Iterate(
      nullptr, ref, &data,
      [&](void*, int64_t aRefNr, const uint8_t* aRecord) {
        const auto id = uint32_t(fields.GetFieldAsVariant(aRecord, kLogID).AsInt64());
        const rtl::Variant text = fields.GetFieldAsVariant(aRecord, kLogText);
        for (const UnicodeString& word : Words(text.IsNull() ? UnicodeString() : text.AsString())) {
          w.Keys.emplace(word, aRefNr);
          w.Bits.emplace(uint16_t(id >> 19), word, int16_t{0}, id & 0x7FFFF);
        }
        return TzfRecordIteratorResult::rirContinue;
      },
      nullptr, nullptr);
  return w;
}

// The log table's dictionary with its full-text index and a field "Added" after the others.
std::unique_ptr<TzfDataDictionary> WidenedLogDictionary() {
  auto d = kit::LogDictionary(true);
  d->tdFieldsDescriptor->AddField(u"Added", u"", zftInt32, 0, 0, false, nullptr);
  return d;
}

// A sort index on the log table's level.
std::unique_ptr<TzfIndexDescriptor> ByLevel(bool aAscending) {
  auto d = TzfIndexDescriptor::CreateStandalone(0, u"ByLevel", 0, nullptr);
  d->SetDups(idAll);
  dynamic_cast<TzfCompKeyDescriptor&>(*d->idKeyDescriptor).Add(kLogLevel)->SetAscend(aAscending);
  return d;
}

class FulltextCopy : public Backup {
 protected:
  // The log table aName with aCount records and a full-text index (aFulltext); every
  // aDeleteEvery-th ID is deleted again.
  void MakeLog(const UnicodeString& aName, uint32_t aCount, uint32_t aDeleteEvery, bool aFulltext = true) {
    kit::TLogOptions o;
    o.Records = aCount;
    o.Fulltext = aFulltext;
    kit::FillLogTable(*Db, aName, o);
    if (aDeleteEvery == 0) return;
    TzfServerTableCursor* c = Open(Db, aName);
    {
      Buffer b(c);
      while (c->RecordGetNext(zfltNoLock, b.P) == 0)
        if (c->GetFieldAsVariant(b.P, kLogID).AsInteger() % int32_t(aDeleteEvery) == 0) {
          ASSERT_EQ(c->RecordDelete(nullptr), 0u);
        }
    }
    Close(c);
  }
  // Level and text of every record by ID.
  std::map<int32_t, std::string> Log(const UnicodeString& aName, TzfServerDatabase* aDb = nullptr) {
    std::map<int32_t, std::string> rows;
    TzfServerTableCursor* c = Open(aDb ? aDb : Db, aName, omReadOnly);
    if (!c) return rows;
    {
      Buffer b(c);
      while (c->RecordGetNext(zfltNoLock, b.P) == 0)
        rows[c->GetFieldAsVariant(b.P, kLogID).AsInteger()] =
            rtl::u8(c->GetFieldAsVariant(b.P, kLogLevel).AsString() + u"|" + c->GetFieldAsVariant(b.P, kLogText).AsString());
    }
    Close(c);
    return rows;
  }
  // The index of aName as its records say; what it holds is returned.
  TWords ExpectWordsOfRecords(const UnicodeString& aName) {
    TzfServerTableCursor* c = Open(Db, aName, omReadOnly);
    if (!c) return {};
    const TWords stored = StoredWords(*c), expected = WordsOfRecords(*c);
    EXPECT_EQ(stored.Keys, expected.Keys);
    EXPECT_EQ(stored.Bits, expected.Bits);
    EXPECT_FALSE(stored.Keys.empty());
    Close(c);
    return stored;
  }
};

// Sorted in place, the records take other reference numbers: every word's key follows its record
// there, the bit arrays (by ID) stay, and the index stays true enough for every record to be deleted.
TEST_F(FulltextCopy, SortMovesTheWordsWithTheRecords) {
  MakeLog(u"Log", 400, 6);
  const auto rows = Log(u"Log");
  const TWords before = ExpectWordsOfRecords(u"Log");
  TzfServerTableCursor* c = Open(Db, u"Log");
  ASSERT_EQ(c->SwitchToIndex(u"", -1, false), 0u);
  auto byLevel = ByLevel(false);
  zfSetTimeout(0, true);  // a worker called outside an operation
  ASSERT_EQ(c->stcSortRecords(byLevel.get()), 0u);

  std::vector<int32_t> levels;
  {
    Buffer b(c);
    ASSERT_EQ(c->SetToBegin(), 0u);
    while (c->RecordGetNext(zfltNoLock, b.P) == 0) levels.push_back(c->GetFieldAsVariant(b.P, kLogLevel).AsInteger());
  }
  EXPECT_TRUE(std::is_sorted(levels.rbegin(), levels.rend())) << "stored by level, highest first";
  Close(c);
  EXPECT_EQ(Log(u"Log"), rows);
  const TWords after = ExpectWordsOfRecords(u"Log");
  EXPECT_NE(after.Keys, before.Keys) << "the records moved";
  EXPECT_EQ(after.Bits, before.Bits);

  c = Open(Db, u"Log");
  {
    Buffer b(c);
    ASSERT_EQ(c->SwitchToIndex(u"", -1, false), 0u);
    while (c->RecordGetNext(zfltNoLock, b.P) == 0) ASSERT_EQ(c->RecordDelete(nullptr), 0u);
  }
  EXPECT_EQ(StoredWords(*c), TWords{});
}

// A sort that fails after the full-text entries were taken out (a filter hides records from the
// sort engine, so the rewrite runs out of records) rolls them back with the records, on its own
// and as a level inside the caller's transaction, which then commits.
TEST_F(FulltextCopy, AFailedSortLeavesTheRecordsAndTheirWords) {
  for (const bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "inside a transaction" : "on its own");
    MakeLog(u"Log", 200, 0);
    const auto rows = Log(u"Log");
    const TWords before = ExpectWordsOfRecords(u"Log");
    TzfServerTableCursor* c = Open(Db, u"Log");
    ASSERT_EQ(c->SwitchToIndex(u"", -1, false), 0u);
    TzfFilterID odd = 0;
    ASSERT_EQ(c->FilterAddCallback(
                  0, [c](int32_t, const uint8_t* aData) { return c->GetFieldAsVariant(aData, kLogID).AsInteger() % 2 == 1; },
                  odd),
              0u);
    ASSERT_EQ(c->FilterActivate(odd), 0u);
    auto byLevel = ByLevel(true);
    zfSetTimeout(0, true);
    if (inTransaction) {
      ASSERT_EQ(Db->TransactionStart(false, false), 0u);
    }
    EXPECT_NE(c->stcSortRecords(byLevel.get()), 0u);
    if (inTransaction) {
      ASSERT_EQ(Db->TransactionCommit(), 0u);
    }
    Close(c);
    EXPECT_EQ(Log(u"Log"), rows);
    EXPECT_EQ(ExpectWordsOfRecords(u"Log"), before);
  }
}

// Pack and restructure add every record to the new table's full-text index as an insert does: it
// holds the words of the copied records, none of the deleted ones.
TEST_F(FulltextCopy, CopiesKeepTheWordsOfEveryCopiedRecord) {
  auto widened = WidenedLogDictionary();
  struct TCase {
    const char* Name;
    bool SourceFulltext;
    TzfDataDictionary* Restructured;  // nil: pack
  };
  const TCase cases[] = {
      {"pack", true, nullptr},
      {"restructure with a field added", true, widened.get()},
      {"restructure that adds the full-text index", false, widened.get()},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.Name);
    for (const auto& t : Tables()) ASSERT_EQ(Db->TableDelete(rtl::u16(t), u""), 0u);
    MakeLog(u"Log", 600, 3, k.SourceFulltext);
    const auto rows = Log(u"Log");
    TzfAbstractTaskInfo* task = nullptr;
    if (k.Restructured) {
      auto old = kit::LogDictionary(k.SourceFulltext);
      auto mapper = MapByName(*old, *k.Restructured);
      ASSERT_EQ(Db->TableRestructure(u"Log", u"", k.Restructured, mapper.get(), false, task), 0u);
    } else {
      ASSERT_EQ(Db->TablePack(u"Log", u"", task), 0u);
    }
    const TzfTaskStatus status = Wait(task);
    ASSERT_EQ(status.tsErrorCode, 0u);
    EXPECT_EQ(status.tsRecsWritten, 400u);
    EXPECT_EQ(Log(u"Log"), rows);
    ExpectWordsOfRecords(u"Log");
    EXPECT_EQ(Tables(), std::vector<std::string>{"Log"});
  }
}

// A backup's table holds the source's fields only: the records arrive, no index with them.
TEST_F(FulltextCopy, BackupCopiesTheRecordsOfAFulltextTable) {
  MakeLog(u"Log", 300, 4);
  const auto rows = Log(u"Log");
  const TWords words = ExpectWordsOfRecords(u"Log");
  TzfServerDatabase* other = OtherDb(S);
  TzfAbstractTaskInfo* task = nullptr;
  ASSERT_EQ(Db->TableBackup(u"Log", u"", other, task), 0u);
  ASSERT_EQ(Wait(task).tsErrorCode, 0u);
  EXPECT_EQ(Log(u"Log", other), rows);
  TzfServerTableCursor* c = Open(other, u"Log", omReadOnly);
  EXPECT_EQ(c->Table()->sbtFulltextEngine, nullptr);
  Close(c);
  EXPECT_EQ(Log(u"Log"), rows);
  EXPECT_EQ(ExpectWordsOfRecords(u"Log"), words);
}

TEST_F(FulltextCopy, CancelledCopiesLeaveTheSourceAndItsWordsAsTheyWere) {
  auto widened = WidenedLogDictionary();
  auto old = kit::LogDictionary(true);
  auto mapper = MapByName(*old, *widened);
  TzfServerDatabase* other = OtherDb(S);
  const std::vector<std::pair<const char*, std::function<uint32_t(TzfAbstractTaskInfo*&)>>> starts = {
      {"restructure",
       [&](TzfAbstractTaskInfo*& k) {
         return Db->TableRestructure(u"Log", u"", widened.get(), mapper.get(), false, k);
       }},
      {"pack", [&](TzfAbstractTaskInfo*& k) { return Db->TablePack(u"Log", u"", k); }},
      {"backup", [&](TzfAbstractTaskInfo*& k) { return Db->TableBackup(u"Log", u"", other, k); }},
  };
  MakeLog(u"Log", 1000, 5);
  const auto rows = Log(u"Log");
  const TWords words = ExpectWordsOfRecords(u"Log");
  for (const auto& [what, start] : starts) {
    SCOPED_TRACE(what);
    CancelAfter(100);
    TzfAbstractTaskInfo* task = nullptr;
    ASSERT_EQ(start(task), 0u);
    const TzfTaskStatus status = Wait(task);
    EXPECT_EQ(status.tsErrorCode, zfErrUpdateAborted);
    EXPECT_LT(status.tsRecsRead, 700u) << "the copy stopped part-way";
    EXPECT_EQ(Log(u"Log"), rows);
    EXPECT_EQ(ExpectWordsOfRecords(u"Log"), words);
    EXPECT_EQ(Tables(), std::vector<std::string>{"Log"});
    EXPECT_FALSE(std::filesystem::exists(Other.Path / "Log.zf1")) << "no incomplete backup is left";
  }
}

}  // namespace
}  // namespace zf::test
