// Support of the sub-engine tests: the whole storage layer started around the cache fixture, a
// table file in memory with a stream engine name, and block pokes that damage committed blocks.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "storage/zfsrStartup.h"
#include "zfsrCacheTestSupport.h"
#include "zfsrTestUtil.h"

namespace zf::test {

class TEngineTest : public TCacheTest {
 protected:
  void SetUp() override {
    zfStartStorage();
    TCacheTest::SetUp();
  }
  void TearDown() override {
    TCacheTest::TearDown();
    zfStopStorage();
  }

  // A new version-2 table file of 4 KB blocks in memory whose header names the stream engine
  // "zf1xDefault".
  TMemFile* NewTable(const char16_t* aName = u"/tmp/engine_test.dvl7") {
    auto f = std::make_unique<TMemFile>();
    f->fiName = aName;
    f->fiPath = u"/tmp/";
    f->fiBufMgr = BM.get();
    f->fiZofrinVersion = 30900;
    f->fiMaxBlocks = 1u << 20;
    f->fiStreamEngineName = u"zf1xDefault";
    TTestTrans t(BM.get());
    EXPECT_EQ(f->AddHeader(&t, {}, zfHeaderSignature2), 0u);
    t.Commit();
    Files.push_back(std::move(f));
    return Files.back().get();
  }
};

}  // namespace zf::test
