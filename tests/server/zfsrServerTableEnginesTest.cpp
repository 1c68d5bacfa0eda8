// The sub-engines a root table makes from its dictionary by name: a segmented BLOB engine and the
// simple indices engine on a built table, reopened, none where the dictionary declares
// none, and a dictionary with full-text indexes refused.
#include <gtest/gtest.h>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndicesEngineHandle.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfseBlobEngineSegmented.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class ServerTableEngines : public ServerEngineTest {};

TEST_F(ServerTableEngines, BlobAndIndicesEnginesMadeByName) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  dict->AddBlobDescriptor();
  TzfIndexDescriptor* ix = dict->EnsureIndicesDescriptor()->AddIndex(u"ByID", 0, idNone, u"");
  dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(0);
  uint32_t code = 0;
  UnicodeString msg;
  const uint32_t built = f->sfTableBuild(false, u"T", u"", false, dict.get(), tsPersistent);
  EzfBaseException::GetLastConvertedException(code, msg);
  ASSERT_EQ(0u, built) << rtl::u8(msg);

  TzfServerRootTable* t = nullptr;
  const uint32_t opened = f->sfTableOpen(u"T", {}, false, omReadWrite, smShared, t);
  EzfBaseException::GetLastConvertedException(code, msg);
  ASSERT_EQ(0u, opened) << rtl::u8(msg);
  EXPECT_NE(nullptr, dynamic_cast<TzfSegmentedBlobEngine*>(t->sbtBlobEngine.get()));
  ASSERT_NE(nullptr, t->sbtIndicesEngine);
  // One index engine per index of the dictionary (its own reference index and ours).
  EXPECT_EQ(dict->tdIndicesDescriptor->IndexCount(), zfIndicesEngineIndexCount(*t->sbtIndicesEngine));
  EXPECT_NE(nullptr, t->sbtRecordEngine);
  EXPECT_EQ(0u, f->sfCloseInactiveTables());
}

TEST_F(ServerTableEngines, NoDescriptorsNoEngines) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  dict->RemoveIndicesDescriptor();
  ASSERT_EQ(0u, f->sfTableBuild(false, u"Plain", u"", false, dict.get(), tsPersistent));
  TzfServerRootTable* t = nullptr;
  ASSERT_EQ(0u, f->sfTableOpen(u"Plain", {}, false, omReadWrite, smShared, t));
  EXPECT_EQ(nullptr, t->sbtBlobEngine);
  EXPECT_EQ(nullptr, t->sbtIndicesEngine);
  EXPECT_EQ(0u, f->sfCloseInactiveTables());
}

// A "Fulltext" custom descriptor that is not a full-text descriptor names nothing the engine can
// build.
TEST_F(ServerTableEngines, FulltextNameOfAnotherClassRefused) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  dict->tdCustomDescsDescriptor->AddCustom(u"Fulltext");
  EXPECT_EQ(zfErrUnsupportedDescriptor, f->sfTableBuild(false, u"FT", u"", false, dict.get(), tsPersistent));
  EXPECT_EQ(zfErrObjNotFound, f->sfTableExists(u"FT"));
}

// A 2000-byte key on a 4 KB file: validating the dictionary raises the index file's block size
// until three leaf entries fit, so the table builds, takes records and finds them by key.
class ServerTableLongKey : public PeopleCursorTest {};

TEST_F(ServerTableLongKey, LongKeyRaisesTheBlockSizeOfItsFile) {
  Open();
  auto dict = SmallDictionary();
  dict->tdFieldsDescriptor->AddField(u"Long", u"", zftNullString, 2000, 0, false, nullptr);
  TzfIndexDescriptor* ix = dict->EnsureIndicesDescriptor()->AddIndex(u"ByLong", 0, idNone, u"");
  dynamic_cast<TzfCompKeyDescriptor&>(*ix->idKeyDescriptor).Add(2);
  ASSERT_EQ(ix->GetIndexFile()->fdBlockSize, TzfBlockSize::zfbs4k);
  uint32_t code = 0;
  UnicodeString msg;
  const uint32_t built = Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false);
  EzfBaseException::GetLastConvertedException(code, msg);
  ASSERT_EQ(built, 0u) << rtl::u8(msg);
  OpenCursor();
  const TzfFileDescriptor& file = *C->acGetTableDescriptor()->tdIndicesDescriptor->IndexDescriptor.back()->GetIndexFile();
  EXPECT_GT(file.fdBlockSize, TzfBlockSize::zfbs4k);
  for (int32_t id : {3, 1, 2}) {
    C->SetFieldFromVariant(Rec, 0, rtl::Variant(id));
    C->SetFieldFromVariant(Rec, 2, rtl::Variant(UnicodeString(1990, u'a') + rtl::IntToStr(id)));
    ASSERT_EQ(C->RecordInsert(zfltNoLock, Rec), 0u);
  }
  ASSERT_EQ(C->SwitchToIndex(u"ByLong", -1, false), 0u);
  std::vector<int32_t> ids;
  ASSERT_EQ(C->SetToBegin(), 0u);
  while (C->RecordGetNext(zfltNoLock, Rec) == 0) ids.push_back(C->GetFieldAsVariant(Rec, 0).AsInteger());
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3}));
}

}  // namespace
}  // namespace zf::test
