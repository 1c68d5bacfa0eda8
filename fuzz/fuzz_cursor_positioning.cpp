// Fuzzes positioning a table cursor's index path from client bytes: bookmarks handed back in,
// bookmarks written into client buffers of any size, key searches and range ends with any length,
// field count and partial length. The index is a sound B*-tree in memory; the client bytes alone
// must never make a read outside their buffer, a crash or a held block: bad bookmarks answer
// 10021, too small buffers and bad keys 9986.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "index/zfseIndexEngineStaticKeyBstarTree.h"
#include "index/zfseIndexNodeStoreMemory.h"
#include "index/zfsrIndexStartup.h"
#include "server/zfsrCursorSupport.h"

namespace {

using namespace zf;

constexpr uint32_t kBlockSize = 128;

struct TIndex {
  TzfRefKeyDescriptor Descriptor{nullptr};
  std::unique_ptr<TzfStaticKeyBstarTreeIndexEngine> Engine;
  std::unique_ptr<TzfMemoryIndexNodeStore> Store;
  TIndex() {
    TzfIndexEngineParams p;
    p.IndexNumber = 1;
    p.KeysAreRefs = true;
    Engine = std::make_unique<TzfStaticKeyBstarTreeIndexEngine>(p, TzfBaseKeyEngine::CreateFor(Descriptor), kBlockSize,
                                                                [] { return uint16_t{7}; });
    Store = std::make_unique<TzfMemoryIndexNodeStore>(kBlockSize);
    std::vector<uint8_t> key(Engine->bieKeyEngine->bkeKeyLength);
    // Even reference numbers only, so that odd keys are missing ones.
    for (int64_t r = 2; r <= 600; r += 2) {
      Engine->bieKeyEngine->BuildKey(nullptr, key.data(), r, true);
      Engine->InsertKey(*Store, key.data(), r, nullptr);
    }
  }
};

TIndex& Index() {
  static TIndex index;
  return index;
}

// The client's bytes, taken one piece at a time; every piece is copied into a buffer of exactly its
// size, so a read past what the client handed in is caught.
struct TReader {
  const uint8_t* Data;
  size_t Size;
  size_t At = 0;
  bool More() const { return At < Size; }
  uint8_t Byte() { return At < Size ? Data[At++] : 0; }
  std::vector<uint8_t> Bytes(size_t aCount) {
    std::vector<uint8_t> v;
    while (aCount-- > 0 && At < Size) v.push_back(Data[At++]);
    return v;
  }
};

void Check(bool aCond) {
  if (!aCond) __builtin_trap();
}

void Run(const uint8_t* aData, size_t aSize) {
  TIndex& ix = Index();
  TzfBaseKeyEngine& keys = *ix.Engine->bieKeyEngine;
  const uint32_t keyLength = keys.bkeKeyLength;
  auto path = ix.Engine->CreateIndexPath();
  TReader in{aData, aSize};
  auto guarded = [&](auto&& f) {
    try {
      f();
    } catch (const EzfBaseException&) {
      // A coded refusal is an answer.
    }
    Check(ix.Store->HeldCount() == 0);
  };
  // A client key: the bytes as handed in, or nullptr when the client gave none.
  auto clientKey = [&](std::vector<uint8_t>& aBuf, int32_t& aFieldCount, int32_t& aPartialLen) {
    aBuf = in.Bytes(in.Byte() % 16);
    aFieldCount = static_cast<int8_t>(in.Byte());
    aPartialLen = static_cast<int8_t>(in.Byte());
    const uint32_t r = zfCheckClientKey(aBuf.empty() ? nullptr : aBuf.data(), static_cast<uint32_t>(aBuf.size()),
                                        keyLength, aFieldCount, 1, aPartialLen);
    Check(r == 0 || r == zfErrInvalidParam);
    return r == 0;
  };
  for (int step = 0; step < 64 && in.More(); ++step) {
    switch (in.Byte() % 4) {
      case 0: {  // a bookmark handed back in
        std::vector<uint8_t> bm = in.Bytes(in.Byte());
        const uint32_t r = path->SetToBookmark(bm.empty() ? nullptr : bm.data(), static_cast<uint32_t>(bm.size()));
        Check(r == 0 || r == zfErrBookmarkMismatch);
        if (r == 0)
          guarded([&] {
            ix.Engine->ValidateIndexPath(*ix.Store, *path);
            path->CheckCurrentState();
            if (in.Byte() & 1)
              ix.Engine->NextKey(*ix.Store, *path, nullptr);
            else
              ix.Engine->PrevKey(*ix.Store, *path, nullptr);
          });
        break;
      }
      case 1: {  // a bookmark written into a client buffer of the client's size
        std::vector<uint8_t> buf(in.Byte());
        const uint32_t r = path->GetBookmark(buf.empty() ? nullptr : buf.data(), static_cast<uint32_t>(buf.size()));
        Check(r == 0 || r == zfErrInvalidParam);
        Check(r != 0 || buf.size() >= path->BookmarkSize());
        if (r == 0) Check(path->SetToBookmark(buf.data(), static_cast<uint32_t>(buf.size())) == 0);
        break;
      }
      case 2: {  // a key search
        std::vector<uint8_t> key;
        int32_t fields = 0, partial = 0;
        const auto action = static_cast<TzfSearchKeyAction>(in.Byte() % 11);
        if (clientKey(key, fields, partial))
          guarded([&] { ix.Engine->FindKey(*ix.Store, key.data(), fields, partial, 0, *path, action, nullptr); });
        break;
      }
      default: {  // a range: walk from its start to its end
        std::vector<uint8_t> lo, hi;
        int32_t loFields = 0, loPartial = 0, hiFields = 0, hiPartial = 0;
        if (!clientKey(lo, loFields, loPartial) || !clientKey(hi, hiFields, hiPartial)) break;
        guarded([&] {
          ix.Engine->FindKey(*ix.Store, lo.data(), loFields, loPartial, 0, *path, TzfSearchKeyAction(0), nullptr);
          for (int i = 0; i < 400 && ix.Engine->NextKey(*ix.Store, *path, nullptr); ++i)
            if (path->KeyValid && keys.CompareKey(path->Key, hi.data(), hiFields, hiPartial) > 0) break;
        });
      }
    }
  }
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
