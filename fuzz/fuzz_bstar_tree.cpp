// Fuzzes searching a B*-tree whose node blocks come from the input. Input: a flags byte (bit 0:
// duplicates allowed), the root block number (4 bytes), then the node blocks 1, 2, ... of the
// usable block size each; search keys are taken from the same bytes. Every search, step, revalidation
// and the tree check may only answer or raise the engine's coded errors (15409, 15424); they must
// never read outside a block, loop without end, overflow a stack or keep a block held.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "dictionary/zfsdKeyDescriptor.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndexNodeStoreMemory.h"
#include "index/zfsrIndexStartup.h"

namespace {

using namespace zf;

constexpr uint32_t kBlockSize = 128;

void Run(const uint8_t* aData, size_t aSize) {
  if (aSize < 5) return;
  TzfRefKeyDescriptor descriptor(nullptr);
  TzfIndexEngineParams p;
  p.IndexNumber = 1;
  p.KeysAreRefs = true;
  p.Dups = (aData[0] & 1) ? idAll : idNone;
  TzfStaticKeyBstarTreeIndexEngine engine(p, TzfBaseKeyEngine::CreateFor(descriptor), kBlockSize,
                                          [] { return uint16_t{7}; });
  TzfMemoryIndexNodeStore store(kBlockSize);
  const uint8_t* blocks = aData + 5;
  const size_t count = (aSize - 5) / kBlockSize;
  for (size_t i = 0; i < count && i < 64; ++i)
    store.PutRawBlock(static_cast<uint32_t>(i + 1), blocks + i * kBlockSize, kBlockSize);
  store.SetRootNode(zfGetLE32(aData + 1));
  store.SetNodeCount(static_cast<uint32_t>(count));
  store.SetStoredKeyCount(static_cast<uint32_t>(count));

  auto path = engine.CreateIndexPath();
  auto guarded = [&](auto&& f) {
    try {
      f();
    } catch (const EzfBaseException& e) {
      if (e.ErrorCode() != zfErrNotAnIndexBlock && e.ErrorCode() != zfErrBlockNumberOutOfRange) __builtin_trap();
    }
    if (store.HeldCount() != 0) __builtin_trap();
  };
  // Walks both ways.
  guarded([&] {
    for (int i = 0; i < 300 && engine.NextKey(store, *path, nullptr); ++i) {
    }
  });
  path->Clear();
  guarded([&] {
    for (int i = 0; i < 300 && engine.PrevKey(store, *path, nullptr); ++i) {
    }
  });
  // Every action with keys from the input, then a step from there and a revalidation.
  for (size_t at = 0; at + 8 <= aSize && at < 8 * 22; at += 8) {
    const auto action = static_cast<TzfSearchKeyAction>((at / 8) % 11);
    guarded([&] {
      engine.FindKey(store, aData + at, 0, 0, 0, *path, action, nullptr);
      if (path->IsOnKey() || path->IsOnCrack()) engine.NextKey(store, *path, nullptr);
    });
    guarded([&] {
      auto& bp = static_cast<TzfStaticKeyBstarTreeIndexPath&>(*path);
      bp.Position = ippOnCrackAfter;
      bp.KeyValid = true;
      std::memcpy(bp.Key, aData + at, 8);
      bp.RefNr = 1;
      bp.bpipPage = aData[at] % 8;
      bp.bpipItem = aData[at + 1];
      engine.ValidateIndexPath(store, *path);
      engine.PrevKey(store, *path, nullptr);
    });
  }
  TzfBstarTreeCheckResult result;
  engine.CheckTree(store, result);
  if (store.HeldCount() != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zf::zfStartIndex();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  Run(aData, aSize);
  return 0;
}
