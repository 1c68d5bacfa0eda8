// The whole list of engine kinds once the index layer has started: the indices kind stands in front
// of the record compression kind, so a dictionary with several unknown engine names reports the
// indices engine before the compression engine.
#include <gtest/gtest.h>

#include "dictionary/zfsdIndexDescriptor.h"
#include "index/zfseIndicesEngineKind.h"
#include "index/zfsrIndexStartup.h"
#include "storage/zfsrAutoIncEngineBase.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrDataDictionary.h"
#include "storage/zfsrHeapEngineBase.h"
#include "storage/zfsrRecordCompressionEngineBase.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfsrStreamEngineBase.h"
#include "tests/storage/zfsrTestUtil.h"

namespace zf::test {
namespace {

TEST(EngineKindsOrder, IndicesKindBeforeRecordCompression) {
  zfStartIndex();
  const std::vector<const TzfSubEngineClass*> expected = {
      &TzfBaseStreamEngine::ClassInfo(),  &TzfBaseAutoIncEngine::ClassInfo(),
      &TzfBaseBlobEngine::ClassInfo(),    &TzfBaseBlockHeapEngine::ClassInfo(),
      &TzfBaseHeapEngine::ClassInfo(),    &TzfBaseRecordEngine::ClassInfo(),
      &TzfBaseIndicesEngine::ClassInfo(), &TzfBaseRecordCompressionEngine::ClassInfo()};
  EXPECT_EQ(zfSubEngineBases(), expected);

  TzfServerDataDict d;
  auto* r = dynamic_cast<TzfHeapRecordDescriptor*>(d.AddRecordDescriptor(&TzfHeapRecordDescriptor::ClassInfo()));
  r->AddRecordCompressionDescriptor()->brcdRecordCompressionEngine = u"NoCompression";
  r->brdRecordEngine = u"Static";
  d.AddIndicesDescriptor()->IndicesEngine = u"NoIndices";
  EXPECT_EQ(StorageOutcome([&] { TzfBaseSubEngine::CheckValidAll(d); }),
            u"#15503: ZofrinDB: Unknown indices engine: \"NoIndices\" [$3C8F/15503]");
  zfStopIndex();
}

}  // namespace
}  // namespace zf::test
