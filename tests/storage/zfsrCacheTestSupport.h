// Test support of the block cache: a table file held in memory (with injectable write failures),
// a temporary store in memory, a transaction that commits and rolls back the way the server's does,
// and a fixture that starts the storage units the cache needs.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "storage/zfsrStartup.h"
#include "foundation/zfllErrors.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrEncryptionEngineBase.h"
#include "storage/zfsrTempStorage.h"
#include "storage/zfsrTransaction.h"
#include "storage/zfseHeaderAccess.h"

namespace zf::test {

// A table file whose disk is a byte vector. Write-out copies queued blocks in the order
// PrepareFlushFile sorted them; FailWritesAfter >= 0 makes the write-out fail after that many
// blocks (the blocks written so far stay written).
class TMemFile : public TzfBaseFile {
 public:
  static const TzfFileClass& Info() {
    static const TzfFileClass info{u"TMemFile", nullptr};
    return info;
  }
  const TzfFileClass& ClassType() const override { return Info(); }

  void CloseFile() override {}
  bool FileIsOpen() override { return true; }
  void PrepareFlushFile() override {
    std::sort(FQueue.begin(), FQueue.end(), [](TzfBaseCachedBlock* a, TzfBaseCachedBlock* b) {
      auto group = [](TzfBlockNumber n) { return n == 0 ? 2 : n <= 2 ? 1 : 0; };
      auto ka = std::make_pair(group(a->CachedBlockNumber()), a->CachedBlockNumber());
      auto kb = std::make_pair(group(b->CachedBlockNumber()), b->CachedBlockNumber());
      return ka < kb;
    });
    ++Prepared;
  }
  void FlushFile(bool aFailSafe, TzfBaseReplicationLog*) override {
    TzfBlockNumber last = 0xFFFFFFFE;
    for (TzfBaseCachedBlock* b : FQueue) {
      if (b->CachedBlockNumber() == last) continue;
      if (FailWritesAfter == 0) throw EzfBaseException(zfErrWriteErr, u"injected write failure");
      if (FailWritesAfter > 0) --FailWritesAfter;
      PzfBlock p = b->MappedMemory(true);
      fiHeaderAccessFactory->ValidateBlock(p, b->CachedBlockNumber());
      b->CountWritten();
      WriteDisk(b->CachedBlockNumber(), p);
      last = b->CachedBlockNumber();
      b->SetUnwritten(false);
    }
    FQueue.clear();
    if (aFailSafe) ++FailSafeFlushes;
  }
  void OpenFile(TzfOpenMode, TzfShareMode, bool, bool) override {}
  int64_t PositionFileEOF() override { return FileSize(); }
  int64_t FileSize() override {
    std::lock_guard<std::mutex> g(FDiskLock);
    return int64_t(FDisk.size());
  }
  uint32_t ReadFile(uint32_t, void*) override { return 0; }
  void ReadFileExact(uint32_t, void*) override {}
  uint32_t ReadFileAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override {
    std::lock_guard<std::mutex> g(FDiskLock);
    std::memset(aBuffer, 0, aToRead);
    if (aOffset >= int64_t(FDisk.size())) return 0;
    const uint32_t n = uint32_t(std::min<int64_t>(aToRead, int64_t(FDisk.size()) - aOffset));
    std::memcpy(aBuffer, FDisk.data() + aOffset, n);
    return n;
  }
  void ReadFileExactAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override {
    if (ReadFileAt(aOffset, aToRead, aBuffer) != aToRead) throw EzfBaseException(zfErrReadErr, u"short read");
  }
  void WriteFileExact(uint32_t, const void*) override {}
  void WriteFileExactAt(int64_t aOffset, uint32_t aToWrite, const void* aBuffer) override {
    std::lock_guard<std::mutex> g(FDiskLock);
    if (FDisk.size() < size_t(aOffset) + aToWrite) FDisk.resize(size_t(aOffset) + aToWrite);
    std::memcpy(FDisk.data() + aOffset, aBuffer, aToWrite);
  }
  int64_t CalcMaxFileSize() override { return int64_t(1) << 40; }
  void ReadDecryptFileExactAt(int64_t aOffset, uint32_t aToRead, uint8_t* aBuffer, TzfByteDynArray& aCookie) override {
    aCookie.clear();
    ReadFileExactAt(aOffset, aToRead, aBuffer);
  }
  void WriteEncryptFileExactAt(int64_t aOffset, uint32_t aToWrite, uint8_t* aBuffer, TzfByteDynArray&) override {
    WriteFileExactAt(aOffset, aToWrite, aBuffer);
  }
  void ReadBlock(TzfBaseCachedBlock& aBlock) override {
    ++Reads;
    ReadFileAt(int64_t(aBlock.CachedBlockNumber()) * PhysicalBlockBytes(), PhysicalBlockBytes(), aBlock.MappedMemory(false));
    aBlock.CountRead();
  }
  void WriteBlock(TzfBaseCachedBlock& aBlock) override {
    aBlock.SetUnwritten(true);
    FQueue.push_back(&aBlock);
  }
  void RollbackUnwritten() override {
    for (TzfBaseCachedBlock* b : FQueue) b->RollbackUnwritten();
    FQueue.clear();
  }

  void WriteDisk(TzfBlockNumber aNumber, const uint8_t* aBlock) {
    WriteFileExactAt(int64_t(aNumber) * PhysicalBlockBytes(), PhysicalBlockBytes(), aBlock);
  }
  std::vector<uint8_t> DiskBlock(TzfBlockNumber aNumber) {
    std::vector<uint8_t> b(PhysicalBlockBytes());
    ReadFileAt(int64_t(aNumber) * PhysicalBlockBytes(), PhysicalBlockBytes(), b.data());
    return b;
  }
  size_t Queued() const { return FQueue.size(); }

  int FailWritesAfter = -1;
  int Prepared = 0;
  int FailSafeFlushes = 0;
  int Reads = 0;

 private:
  std::mutex FDiskLock;
  std::vector<uint8_t> FDisk;
  std::vector<TzfBaseCachedBlock*> FQueue;
};

// A temporary store in memory with room for Capacity blocks.
class TMemTempStorage : public TzfBaseTempStorage {
 public:
  explicit TMemTempStorage(size_t aCapacity) : Capacity(aCapacity) {}
  static const TzfTempStorageClass& Info() {
    static const TzfTempStorageClass info{u"TMemTempStorage", nullptr};
    return info;
  }
  const TzfTempStorageClass& ClassType() const override { return Info(); }
  int64_t StorageSize() override { return int64_t(Capacity) * 4096; }
  int64_t StorageInUse() override {
    int64_t n = 0;
    for (auto& [k, v] : Slots) n += int64_t(v.size());
    return n;
  }
  bool HasSpaceFor(TzfBlockSizeAll) override { return Slots.size() < Capacity; }
  void ReadBlock(TzfBlockTmpNum aNum, TzfBlockSizeAll aSize, PzfBlock aBlock) override {
    PeekBlock(aNum, aSize, aBlock);
    ReleaseBlock(aNum, aSize);
  }
  void PeekBlock(TzfBlockTmpNum aNum, TzfBlockSizeAll, PzfBlock aBlock) override {
    auto it = Slots.find(aNum);
    if (it == Slots.end()) throw EzfBaseException(zfErrReadErr, u"no such slot");
    std::memcpy(aBlock, it->second.data(), it->second.size());
  }
  void ReleaseBlock(TzfBlockTmpNum aNum, TzfBlockSizeAll) override { Slots.erase(aNum); }
  TzfBlockTmpNum WriteBlock(PzfBlock aBlock, TzfBlockSizeAll aSize) override {
    ++Writes;
    Slots[Next] = std::vector<uint8_t>(aBlock, aBlock + zfBlockSizeBytes(aSize));
    return Next++;
  }
  size_t Capacity;
  std::map<TzfBlockTmpNum, std::vector<uint8_t>> Slots;
  TzfBlockTmpNum Next = 0;
  int Writes = 0;
};

// Commits and rolls back as the server's transaction does: a nested level commits one level out,
// the outermost level commits, prepares the flush under the cache's padlock and writes outside it.
class TTestTrans : public TzfBaseTransaction {
 public:
  TTestTrans(TzfBufferManager* aBM, bool aSnapshot = false) : TzfBaseTransaction(aBM, nullptr, aSnapshot, false) {}
  void Commit() override {
    TzfBaseTransactionLevel* level = CurrentLevel();
    if (level->EffectiveLevel() > 0) {
      if (level->StopNested()) {
        btBufferManager->CommitTransaction(this, nullptr, false);
        delete level;
      }
      return;
    }
    TzfFlushList list;
    btBufferManager->CommitTransaction(this, &list, false);
    list.Flush(false);
  }
  void Rollback() override {
    TzfBaseTransactionLevel* level = CurrentLevel();
    if (!level->StopNested()) {
      level->MarkCorrupted();
      return;
    }
    btBufferManager->RollbackTransaction(this);
    if (level->tlLevel > 0) delete level;
  }
};

// Starts the units the cache needs and makes a buffer manager; new table files are made in memory.
class TCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zfStartStorage();
    FSavedLow = TzfBufferManager::bmMemoryLow;
    TzfBufferManager::bmMemoryLow = [] { return false; };
    BM = std::make_unique<TzfBufferManager>(u"/tmp");
  }
  void TearDown() override {
    for (auto& f : Files) BM->RemoveFile(f.get());
    Files.clear();
    BM.reset();
    TzfBufferManager::bmMemoryLow = FSavedLow;
    zfStopStorage();
  }

  // A new version-2 table file of 4 KB blocks, its header committed and written; the header names
  // aStreamEngine when one is given.
  TMemFile* NewFile(const char16_t* aName = u"/tmp/cache_test.dvl7", const char16_t* aStreamEngine = nullptr) {
    auto f = std::make_unique<TMemFile>();
    f->fiName = aName;
    f->fiPath = u"/tmp/";
    f->fiBufMgr = BM.get();
    f->fiZofrinVersion = 30900;
    f->fiMaxBlocks = 1u << 20;
    if (aStreamEngine) f->fiStreamEngineName = aStreamEngine;
    TTestTrans t(BM.get());
    EXPECT_EQ(f->AddHeader(&t, {}, zfHeaderSignature2), 0u);
    t.Commit();
    Files.push_back(std::move(f));
    return Files.back().get();
  }
  // Attaches a file whose disk was filled by the test (its header read from block 0).
  TMemFile* AttachFile(std::unique_ptr<TMemFile> aFile) {
    aFile->fiBufMgr = BM.get();
    TzfReleaseMethod rm;
    PzfBlock b = nullptr;
    bool ro = false;
    EXPECT_EQ(BM->AddFile(aFile.get(), nullptr, {}, false, rm, b, ro), 0u);
    rm(b);
    Files.push_back(std::move(aFile));
    return Files.back().get();
  }

  // Allocates n blocks through the header access, each stamped with aFill from offset 16.
  std::vector<TzfBlockNumber> Allocate(TMemFile* aFile, TzfBaseTransaction* aTrans, int aCount, uint8_t aFill,
                                       int32_t aID = 1) {
    TzfBlockAccess access(aFile, nullptr, u"t", 0);
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(access.HeaderAccess(aTrans, true));
    std::vector<TzfBlockNumber> out;
    for (int i = 0; i < aCount; ++i) {
      TzfReleaseMethod rm;
      PzfBlock p = ha->GetNewBlock(aTrans, aID, rm);
      std::memcpy(p, "TEST", 4);
      std::memset(p + 16, aFill, aFile->fiBlockSizeBytes - 16);
      out.push_back(zfGetLE32(p + 4));
      rm(p);
    }
    return out;
  }
  // The first data byte of a block as aTrans sees it.
  uint8_t Peek(TMemFile* aFile, TzfBaseTransaction* aTrans, TzfBlockNumber aNumber) {
    TzfReleaseMethod rm;
    PzfBlock p = BM->GetBlock(aFile, aTrans, aNumber, false, rm);
    uint8_t v = p[16];
    rm(p);
    return v;
  }
  void Poke(TMemFile* aFile, TzfBaseTransaction* aTrans, TzfBlockNumber aNumber, uint8_t aValue) {
    TzfReleaseMethod rm;
    PzfBlock p = BM->GetBlock(aFile, aTrans, aNumber, true, rm);
    std::memset(p + 16, aValue, aFile->fiBlockSizeBytes - 16);
    rm(p);
  }

 public:
  // Changes committed bytes of a block in a transaction of its own (damage made on purpose).
  void PokeBytes(TMemFile* aFile, TzfBlockNumber aBlock, uint32_t aOffset, const std::vector<uint8_t>& aBytes) {
    TTestTrans t(BM.get());
    TzfReleaseMethod rm;
    PzfBlock p = BM->GetBlock(aFile, &t, aBlock, true, rm);
    std::memcpy(p + aOffset, aBytes.data(), aBytes.size());
    rm(p);
    t.Commit();
  }
  void PokeLE32(TMemFile* aFile, TzfBlockNumber aBlock, uint32_t aOffset, uint32_t aValue) {
    std::vector<uint8_t> b(4);
    zfPutLE32(b.data(), aValue);
    PokeBytes(aFile, aBlock, aOffset, b);
  }
  // The committed bytes of a block as the cache holds them.
  std::vector<uint8_t> Committed(TMemFile* aFile, TzfBlockNumber aBlock) {
    TzfReleaseMethod rm;
    PzfBlock p = BM->GetBlock(aFile, nullptr, aBlock, false, rm);
    std::vector<uint8_t> out(p, p + aFile->PhysicalBlockBytes());
    rm(p);
    return out;
  }

 protected:
  std::unique_ptr<TzfBufferManager> BM;
  std::vector<std::unique_ptr<TMemFile>> Files;

 private:
  bool (*FSavedLow)() = nullptr;
};

}  // namespace zf::test
