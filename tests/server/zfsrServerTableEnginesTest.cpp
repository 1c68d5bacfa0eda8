// The sub-engines a root table makes from its dictionary by name: a segmented BLOB engine and the
// simple indices engine on a built table, reopened, none where the dictionary declares
// none, and a dictionary with full-text indexes refused.
#include <gtest/gtest.h>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndicesEngineHandle.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfseBlobEngineSegmented.h"
#include "tests/server/zfsrServerTestUtil.h"

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

TEST_F(ServerTableEngines, FulltextDictionaryRefused) {
  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary();
  dict->tdCustomDescsDescriptor->AddCustom(u"Fulltext");
  EXPECT_EQ(zfErrSubEngineNotSupported, f->sfTableBuild(false, u"FT", u"", false, dict.get(), tsPersistent));
  EXPECT_EQ(zfErrObjNotFound, f->sfTableExists(u"FT"));
}

}  // namespace
}  // namespace zf::test
