// A small B*-tree over a memory store for the scan, bulk-build and indices tests: keys of two Int32
// fields (A, B), unique or with duplicates, node blocks small enough for deep trees.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndexNodeStoreMemory.h"
#include "tests/index/zfsrIndexTestUtil.h"

namespace zf::test {

class TSmallTree {
 public:
  using TBytes = std::vector<uint8_t>;
  using TPath = TzfStaticKeyBstarTreeIndexPath;
  TSmallTree(bool aDups, uint32_t aExtraBytes, uint32_t aSeed = 7) {
    AddTestField(*Table.Fields, u"A", zftInt32);
    AddTestField(*Table.Fields, u"B", zftInt32);
    auto comp = std::make_unique<TzfCompKeyDescriptor>(&Table);
    comp->Add(0);
    comp->Add(1);
    KeyDescriptor = std::move(comp);
    TzfIndexEngineParams p;
    p.IndexNumber = 0;
    p.IndexName = u"ByAB";
    p.FileName = u"test.idx";
    p.Dups = aDups ? idAll : idNone;
    auto keyEngine = TzfBaseKeyEngine::CreateFor(*KeyDescriptor);
    const uint32_t need = TzfStaticKeyBstarTreeIndexEngine::NeededUsableBlockSize(keyEngine->bkeKeyLength, aDups,
                                                                                  false, true, false);
    Store = std::make_unique<TzfMemoryIndexNodeStore>(need + aExtraBytes, u"test.idx");
    auto gen = std::make_shared<std::mt19937>(aSeed);
    Engine = std::make_unique<TzfStaticKeyBstarTreeIndexEngine>(
        p, std::move(keyEngine), need + aExtraBytes, [gen] { return static_cast<uint16_t>((*gen)() % 65535); });
  }
  TBytes Key(int32_t aA, int32_t aB) {
    TBytes r = MakeRecord(*Table.Fields, {rtl::Variant(aA), rtl::Variant(aB)});
    TBytes k(Engine->bieKeyEngine->bkeKeyLength);
    EXPECT_EQ(Engine->bieKeyEngine->BuildKey(r.data(), k.data(), 0, true), 0u);
    return k;
  }
  std::unique_ptr<TPath> Path() { return std::unique_ptr<TPath>(static_cast<TPath*>(Engine->CreateIndexPath().release())); }
  int32_t A(const uint8_t* aKey) { return Engine->bieKeyEngine->KeyAsVariant(aKey, 0).AsInteger(); }
  // Every invariant, no block leaked or still held.
  void Check(const std::string& aWhere) {
    TzfBstarTreeCheckResult r;
    Engine->CheckTree(*Store, r);
    for (const std::string& p : r.Problems) ADD_FAILURE() << aWhere << ": " << p;
    EXPECT_EQ(r.Blocks, Store->LiveBlocks()) << aWhere;
    EXPECT_EQ(Store->HeldCount(), 0) << aWhere;
  }

  TTestTable Table;
  std::unique_ptr<TzfBaseKeyDescriptor> KeyDescriptor;
  std::unique_ptr<TzfMemoryIndexNodeStore> Store;
  std::unique_ptr<TzfStaticKeyBstarTreeIndexEngine> Engine;
};

}  // namespace zf::test
