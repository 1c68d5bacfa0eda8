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
  TMemFile* NewTable(const char16_t* aName = u"/tmp/engine_test.dvl7") { return NewFile(aName, u"zf1xDefault"); }
};

}  // namespace zf::test
