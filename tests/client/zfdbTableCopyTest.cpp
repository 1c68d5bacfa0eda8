// The table component's pack and restructure and the database component's backup, over real
// engine tables: each starts the engine's copy task, which the test polls to its end.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "mapping/zfsdTableMapperDescriptor.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerFolder.h"
#include "tests/client/zfdbTableTestUtil.h"

namespace zf::test {
namespace {

class TableCopy : public ClientTableTest {
 protected:
  // Polls aTask to its end, frees it and answers its code.
  static uint32_t Wait(TzfAbstractTaskInfo* aTask) {
    EXPECT_NE(aTask, nullptr);
    if (!aTask) return 0;
    TzfTaskStatus status;
    bool done = false;
    while (aTask->GetStatus(done, status), !done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    aTask->Free();
    return status.tsErrorCode;
  }
  uintmax_t FileSize(const std::string& aName) {
    static_cast<TzfServerDatabase*>(Db->AbstractDatabase())->sdFolder->sfCloseInactiveTables();
    return std::filesystem::file_size(Dir.Path / (aName + ".zf1"));
  }
};

TEST_F(TableCopy, PackMakesATableWithDeletedRecordsSmaller) {
  Build(u"T");
  InsertRecords(u"T", IDsUpTo(3000), SetName);
  TzfTable* t = Table(u"T");
  t->Open();
  std::vector<int32_t> live;
  for (int32_t id : IDsUpTo(3000))
    if (id % 3 != 0) live.push_back(id);
  for (t->First(); !t->Eof();) {
    if (t->FieldByName(u"ID").GetAsInteger() % 3 == 0)
      t->Delete();
    else
      t->Next();
  }
  ASSERT_EQ(IDs(*t), live);
  t->Close();
  const uintmax_t before = FileSize("T");
  EXPECT_EQ(Wait(t->PackTable()), 0u);
  EXPECT_LT(FileSize("T"), before * 3 / 4);
  t->Open();
  EXPECT_EQ(IDs(*t), live);
}

TEST_F(TableCopy, RestructureAddsAFieldAndKeepsEveryRecord) {
  Build(u"T");
  InsertRecords(u"T", IDsUpTo(120), SetName);
  TzfServerDataDict old, next;
  ASSERT_EQ(Db->AbstractDatabase()->TableGetDictionary(u"T", u"", &old), 0u);
  next.Assign(&old);
  next.tdFieldsDescriptor->AddField(u"Extra", u"", zftInt32, 0, 0, false, nullptr);
  TzfTableMapperDescriptor mapper;
  mapper.MapAllTablesAndFieldsByName(old, next, TzfDataLossAction::dlaFail);
  TzfTable* t = Table(u"T");
  EXPECT_EQ(Wait(t->RestructureTable(&next, &mapper)), 0u);
  t->Open();
  ASSERT_NE(t->FindField(u"Extra"), nullptr);
  EXPECT_EQ(IDs(*t), IDsUpTo(120));
  t->First();
  EXPECT_EQ(t->FieldByName(u"Name").GetAsString(), u"n1");
  EXPECT_TRUE(t->FieldByName(u"Extra").IsNull());
  t->Close();
  TzfAbstractTaskInfo* task = reinterpret_cast<TzfAbstractTaskInfo*>(1);
  EXPECT_EQ(t->RestructureTableEx(nullptr, &mapper, task), zfErrInvalidParam);
  EXPECT_EQ(task, nullptr);
}

TEST_F(TableCopy, BackupCopiesIntoTheOtherDatabasesFolder) {
  Build(u"T");
  InsertRecords(u"T", IDsUpTo(50), SetName);
  TempDir other;
  rtl::TComponentPtr<TzfDatabase> target(new TzfDatabase());
  target->SetName(u"Database2");
  target->SetSession(Session.get());
  target->SetAliasPath(rtl::u16(other.Path.string()));
  target->Open();
  EXPECT_EQ(Wait(Db->BackupTable(u"T", u"", target.get())), 0u);
  rtl::TComponentPtr<TzfTable> copy(new TzfTable());
  copy->SetName(u"tblCopy");
  copy->SetDatabase(target.get());
  copy->SetTableName(u"T");
  copy->Open();
  EXPECT_EQ(IDs(*copy), IDsUpTo(50)) << "storage order of the copy is the order of the source";
  copy->Close();
  copy.reset();
  target.reset();
}

}  // namespace
}  // namespace zf::test
