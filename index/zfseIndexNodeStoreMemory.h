// An index node store in memory: blocks by number, the index's header values in fields, a
// snapshot that brings all of it back (the rollback of the tests), and counts of held blocks so
// that a test sees a block that an operation did not give back.
//
// Block 0 stands for the file's header block and is never handed out. A new block is taken from
// the deleted ones (last deleted first) or appended, and is delivered zeroed. Every block read for
// modification or made new gets the store's current LSN at offset 8.
#pragma once
#include <deque>
#include <set>
#include <vector>

#include "index/zfseIndexBase.h"

namespace zf {

class TzfMemoryIndexNodeStore : public TzfIndexNodeStore {
 public:
  explicit TzfMemoryIndexNodeStore(uint32_t aUsableBlockSize, UnicodeString aFileName = u"memory.idx");

  uint32_t UsableBlockSize() const override { return FBlockSize; }
  UnicodeString FileName() const override { return FFileName; }
  bool ValidBlock(uint32_t aBlock) override { return aBlock > 0 && aBlock < FState.Used; }
  uint8_t* GetBlock(uint32_t aBlock, bool aForModify) override;
  void ReleaseBlock(uint32_t aBlock, uint8_t* aData) override;
  uint8_t* NewBlock(uint32_t& aBlock) override;
  void DeleteBlock(uint32_t aBlock) override;
  uint64_t LSN() override { return FState.LSN; }
  uint32_t GetRootNode() override { return FState.Root; }
  void SetRootNode(uint32_t aBlock) override { FState.Root = aBlock; }
  uint32_t GetNodeCount() override { return FState.NodeCount; }
  void SetNodeCount(uint32_t aCount) override { FState.NodeCount = aCount; }
  uint32_t GetStoredKeyCount() override { return FState.KeyCount; }
  void SetStoredKeyCount(uint32_t aCount) override { FState.KeyCount = aCount; }

  // ---- For tests and tools ----
  struct TState {
    std::deque<std::vector<uint8_t>> Blocks;  // blocks 0 .. Used - 1, deleted ones too (stable addresses)
    std::set<uint32_t> Free;                          // deleted blocks
    std::vector<uint32_t> FreeOrder;                  // reuse order (last deleted first)
    uint32_t Used = 1;                                // blocks 0 .. Used - 1 exist
    uint64_t LSN = 1;
    uint32_t Root = zfIndexNoBlock, NodeCount = 0, KeyCount = 0;
    bool operator==(const TState&) const = default;
  };
  TState Snapshot() const { return FState; }
  // Puts a snapshot back; no block may be held.
  void Rollback(const TState& aState);
  // Starts the next transaction: later changes carry a higher LSN.
  void NextLSN() { ++FState.LSN; }
  // Blocks in use (made and not deleted).
  std::set<uint32_t> LiveBlocks() const;
  // Number of blocks handed out and not given back.
  int32_t HeldCount() const;
  // Puts raw bytes in as block aBlock (the file grows to hold it); for readers of damaged blocks.
  void PutRawBlock(uint32_t aBlock, const uint8_t* aData, size_t aSize);
  std::vector<uint8_t>& RawBlock(uint32_t aBlock) { return FState.Blocks.at(aBlock); }
  // Blocks handed out by GetBlock so far (a measure of an operation's reads).
  uint64_t GetBlockCalls = 0;

 private:
  uint32_t FBlockSize;
  UnicodeString FFileName;
  TState FState;
  std::vector<int32_t> FHeld;  // per block: times handed out and not given back
  int32_t FHeldTotal = 0;
};

}  // namespace zf
