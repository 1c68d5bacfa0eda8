// Shared helpers of the server tests: a started server layer with one engine (small cache, no
// temporary store) and a private folder, and the dictionaries of small tables.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerStartup.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrDataDictionary.h"
#include "tests/storage/zfsrTestUtil.h"

namespace zf::test {

// A table of two fields; aFiles further files ("x1", "x2", ...); aNested nested tables.
inline std::unique_ptr<TzfServerDataDict> SmallDictionary(int aFiles = 0, int aNested = 0) {
  auto d = std::make_unique<TzfServerDataDict>();
  d->tdFieldsDescriptor->AddField(u"ID", u"", zftInt32, 0, 0, false, nullptr);
  d->tdFieldsDescriptor->AddField(u"Name", u"", zftWideString, 20, 0, false, nullptr);
  for (int i = 1; i <= aFiles; ++i)
    d->ddFilesDescriptor->AddFile(u"x" + rtl::IntToStr(i), TzfBlockSize::zfbs4k, u"", nullptr);
  for (int i = 1; i <= aNested; ++i) {
    TzfNestedTableDescriptor* n = d->tdTablesDescriptor->AddTable(u"Sub" + rtl::IntToStr(i));
    n->tdFieldsDescriptor->AddField(u"V", u"", zftInt32, 0, 0, false, nullptr);
    n->AddRecordDescriptor();
    if (i == 1) {
      TzfNestedTableDescriptor* deeper = n->tdTablesDescriptor->AddTable(u"Deep");
      deeper->tdFieldsDescriptor->AddField(u"W", u"", zftInt32, 0, 0, false, nullptr);
      deeper->AddRecordDescriptor();
    }
  }
  return d;
}

class ServerEngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartServer(); }
  static void TearDownTestSuite() { zfStopServer(); }
  void SetUp() override { StartEngine(0); }
  void TearDown() override { Engine.reset(); }

  void StartEngine(TzfServerEngineOptions aOptions) {
    Engine.reset();
    Engine = std::make_unique<TzfServerEngine>();
    Engine->SetName(u"Engine");
    Engine->SetMaxRAM(64);
    Engine->SetTempStoreSize(0);
    Engine->SetOptions(aOptions);
    Engine->Open();
  }
  TzfServerFolder* Folder() {
    TzfServerFolder* f = nullptr;
    EXPECT_EQ(0u, Engine->seFolderOpen(rtl::u16(Dir.Path.string()), f));
    return f;
  }
  UnicodeString File(const std::string& aName) const { return Dir.File(aName); }
  bool Exists(const std::string& aName) const { return std::filesystem::exists(Dir.Path / aName); }

  TempDir Dir;
  std::unique_ptr<TzfServerEngine> Engine;
};

// A case of a share rule: the open and share modes of what is open, in chain order, and the answer
// to a request.
struct ShareCase {
  const char* Name;
  std::vector<std::pair<TzfOpenMode, TzfShareMode>> Open;
  TzfOpenMode Mode;
  TzfShareMode Share;
  uint32_t Answer;
};

// Checks each case against aRule (zfCheckDatabaseShare, zfCheckCursorShare).
template <class Rule>
void ExpectShareAnswers(Rule aRule, std::initializer_list<ShareCase> aCases) {
  for (const ShareCase& c : aCases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(aRule(c.Mode, c.Share, c.Open), c.Answer);
  }
}

}  // namespace zf::test
