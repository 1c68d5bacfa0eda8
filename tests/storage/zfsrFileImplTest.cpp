// Table files on OS files: exact transfers through an injected file layer (short transfers,
// EINTR, a full disk, read errors, failing flushes), the write-out order and growth, the flush
// thread, share modes, the read-only attribute, renames that never replace, and the whole-file
// iterations over damaged files.
#include <gtest/gtest.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "foundation/zfCaptureLog.h"
#include "foundation/zfllErrors.h"
#include "storage/zfseHeaderAccess.h"
#include "zfsrTestUtil.h"

namespace zf::test {
namespace {

// ---- an injectable file layer ----

struct Knobs {
  size_t MaxChunk = 0;           // 0: whole transfers; else at most this many bytes per call
  bool Interrupt = false;        // every other read and write call fails with EINTR first
  int64_t SpaceLeft = -1;        // bytes that may still be written; then ENOSPC (-1: no limit)
  int64_t ReadErrorAt = -1;      // a read touching this offset fails with EIO
  int SyncError = 0;             // fdatasync fails with this errno
  std::vector<int64_t> WriteOffsets;  // offset of every write call that wrote something
  std::vector<std::pair<std::string, int>> Opens;  // path and flags of every open
  int Calls = 0;
};
Knobs gKnobs;
std::mutex gKnobsLock;

ssize_t FakePRead(int aFd, void* aBuffer, size_t aCount, off_t aOffset) {
  std::lock_guard<std::mutex> g(gKnobsLock);
  if (gKnobs.Interrupt && (gKnobs.Calls++ % 2) == 0) {
    errno = EINTR;
    return -1;
  }
  if (gKnobs.ReadErrorAt >= 0 && gKnobs.ReadErrorAt >= aOffset && gKnobs.ReadErrorAt < aOffset + int64_t(aCount)) {
    errno = EIO;
    return -1;
  }
  if (gKnobs.MaxChunk && aCount > gKnobs.MaxChunk) aCount = gKnobs.MaxChunk;
  return zfSystemFileCalls().PRead(aFd, aBuffer, aCount, aOffset);
}

ssize_t FakePWrite(int aFd, const void* aBuffer, size_t aCount, off_t aOffset) {
  std::lock_guard<std::mutex> g(gKnobsLock);
  if (gKnobs.Interrupt && (gKnobs.Calls++ % 2) == 0) {
    errno = EINTR;
    return -1;
  }
  if (gKnobs.MaxChunk && aCount > gKnobs.MaxChunk) aCount = gKnobs.MaxChunk;
  if (gKnobs.SpaceLeft >= 0) {
    if (gKnobs.SpaceLeft == 0) {
      errno = ENOSPC;
      return -1;
    }
    if (int64_t(aCount) > gKnobs.SpaceLeft) aCount = size_t(gKnobs.SpaceLeft);  // the disk fills up mid-write
  }
  const ssize_t n = zfSystemFileCalls().PWrite(aFd, aBuffer, aCount, aOffset);
  if (n > 0) {
    if (gKnobs.SpaceLeft >= 0) gKnobs.SpaceLeft -= n;
    gKnobs.WriteOffsets.push_back(aOffset);
  }
  return n;
}

int FakeOpen(const char* aPath, int aFlags, mode_t aMode) {
  {
    std::lock_guard<std::mutex> g(gKnobsLock);
    gKnobs.Opens.emplace_back(aPath, aFlags);
  }
  return zfSystemFileCalls().Open(aPath, aFlags, aMode);
}

int FakeFDataSync(int aFd) {
  int err;
  {
    std::lock_guard<std::mutex> g(gKnobsLock);
    err = gKnobs.SyncError;
  }
  if (err) {
    errno = err;
    return -1;
  }
  return zfSystemFileCalls().FDataSync(aFd);
}

class FileImplTest : public StorageStarted {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> g(gKnobsLock);
      gKnobs = Knobs();
    }
    Fake = zfSystemFileCalls();
    Fake.PRead = &FakePRead;
    Fake.PWrite = &FakePWrite;
    Fake.FDataSync = &FakeFDataSync;
    Fake.Open = &FakeOpen;
    zfSetFileSystemCalls(&Fake);
  }
  void TearDown() override { zfSetFileSystemCalls(nullptr); }

  Knobs& K() { return gKnobs; }  // set before the calls that use them

  // A version 2 table file of aBlocks blocks of 4096 bytes: block 0 from the engine, block i
  // filled with i and carrying its own number and owner 1. Opened read-write with its header read.
  std::unique_ptr<TzfBaseFile> MakeTable(const rtl::UnicodeString& aName, uint32_t aBlocks) {
    CreateTableFile(aName, zfHeaderSignature2);
    std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, aName, nullptr);
    file->OpenFile(omReadWrite, smExclusive, false, false);
    bool readOnly = false;
    zfRaiseIfError(file->ReadHeader({}, readOnly));
    for (uint32_t i = 1; i < aBlocks; ++i) file->WriteFileExactAt(int64_t(i) * 4096, 4096, DataBlock(*file, i).data());
    return file;
  }

  static std::vector<uint8_t> DataBlock(TzfBaseFile& aFile, TzfBlockNumber aNumber) {
    std::vector<uint8_t> b(aFile.PhysicalBlockBytes(), static_cast<uint8_t>(aNumber));
    std::memcpy(b.data(), "TEST", 4);
    zfSetThisBlock(b.data(), aNumber);
    zfPutLE32(b.data() + aFile.fiBlockSizeBytes, 1);
    return b;
  }

  TzfFileSystemCalls Fake{};
};

// A cached block as the write-out sees it.
class TestBlock : public TzfBaseCachedBlock {
 public:
  TestBlock(TzfBlockNumber aNumber, std::vector<uint8_t> aData) : Number(aNumber), Data(std::move(aData)) {}
  TzfBlockNumber CachedBlockNumber() const override { return Number; }
  PzfBlock MappedMemory(bool) override { return Data.data(); }
  TzfByteDynArray& EncryptionCookie() override { return Cookie; }
  TzfLSN LastLSN() const override { return 0; }
  bool Unwritten() const override { return IsUnwritten; }
  void SetUnwritten(bool aValue) override { IsUnwritten = aValue; }
  void RollbackUnwritten() override {
    RolledBack = true;
    IsUnwritten = false;
  }
  void CountRead() override { ++Reads; }
  void CountWritten() override { ++Writes; }

  TzfBlockNumber Number;
  std::vector<uint8_t> Data;
  TzfByteDynArray Cookie;
  bool IsUnwritten = false;
  bool RolledBack = false;
  int Reads = 0;
  int Writes = 0;
};

TEST_F(FileImplTest, ShortTransfersAndInterruptionsStillMoveEveryByte) {
  TempDir dir;
  K().MaxChunk = 100;
  K().Interrupt = true;
  std::unique_ptr<TzfBaseFile> file = MakeTable(dir.File("t.dvl7"), 4);
  for (uint32_t i = 1; i < 4; ++i) {
    std::vector<uint8_t> back(4096);
    file->ReadFileExactAt(int64_t(i) * 4096, 4096, back.data());
    EXPECT_EQ(DataBlock(*file, i), back) << i;
  }
  // Through the cache path too.
  TestBlock block(2, std::vector<uint8_t>(4096));
  file->ReadBlock(block);
  EXPECT_EQ(DataBlock(*file, 2), block.Data);
  EXPECT_EQ(1, block.Reads);
  EXPECT_GT(K().WriteOffsets.size(), 3u * 40);  // each block took many calls
  file->CloseFile();
}

TEST_F(FileImplTest, FullDiskFailsTheWriteAndKeepsTheBlocksUnwritten) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = MakeTable(dir.File("t.dvl7"), 4);
  file->PrepareFlushFile();
  TestBlock b1(1, DataBlock(*file, 1)), b3(3, DataBlock(*file, 3));
  b1.Data[100] = 0xEE;
  b3.Data[100] = 0xEE;
  file->WriteBlock(b3);
  file->WriteBlock(b1);
  K().SpaceLeft = 4096 + 1000;  // block 3 fits, block 1 stops after 1000 bytes
  const rtl::UnicodeString outcome = StorageOutcome([&] { file->FlushFile(true, nullptr); });
  EXPECT_EQ(0u, outcome.find(u"#9218:")) << rtl::u8(outcome);
  EXPECT_NE(rtl::UnicodeString::npos, outcome.find(u"Error when writing to file"));
  EXPECT_TRUE(b1.Unwritten());  // never taken for written
  auto* osFile = dynamic_cast<TzfBaseWin32File*>(file.get());
  ASSERT_NE(nullptr, osFile);
  EXPECT_EQ(2u, osFile->WriteRequests().size());  // the commit path rolls them back
  file->RollbackUnwritten();
  EXPECT_TRUE(b1.RolledBack);
  EXPECT_TRUE(b3.RolledBack);
  EXPECT_TRUE(osFile->WriteRequests().empty());
  // A plain exact write that meets a full disk raises too.
  K().SpaceLeft = 10;
  EXPECT_EQ(zfErrWriteErr, RaisedCode([&] { file->WriteFileExactAt(4096, 4096, b1.Data.data()); }));
  file->CloseFile();
}

TEST_F(FileImplTest, WriteOutOrderGrowthAndDuplicates) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = MakeTable(dir.File("t.dvl7"), 10);
  std::vector<uint8_t> header(4096);
  file->ReadFileExactAt(0, 4096, header.data());
  TestBlock b0(0, header), b1(1, DataBlock(*file, 1)), b7(7, DataBlock(*file, 7)), b12(12, DataBlock(*file, 12));
  TestBlock b7again(7, DataBlock(*file, 7));
  for (TestBlock* b : {&b0, &b1, &b7, &b12, &b7again}) file->WriteBlock(*b);
  EXPECT_TRUE(b12.Unwritten());
  file->PrepareFlushFile();
  EXPECT_EQ(13 * 4096, file->FileSize());  // grown to cover block 12 before any block is written
  K().WriteOffsets.clear();
  file->FlushFile(true, nullptr);
  const std::vector<int64_t> expected = {12 * 4096, 7 * 4096, 1 * 4096, 0};
  EXPECT_EQ(expected, K().WriteOffsets);
  EXPECT_EQ(1, b7.Writes + b7again.Writes);
  EXPECT_FALSE(b12.Unwritten());
  std::vector<uint8_t> back(4096);
  file->ReadFileExactAt(12 * 4096, 4096, back.data());
  EXPECT_EQ(b12.Data, back);
  file->CloseFile();
}

TEST_F(FileImplTest, WriteOutRefusesABlockWhoseNumberDiffers) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = MakeTable(dir.File("t.dvl7"), 4);
  TestBlock wrong(2, DataBlock(*file, 3));
  file->WriteBlock(wrong);
  file->PrepareFlushFile();
  K().WriteOffsets.clear();
  EXPECT_EQ(zfErrFileCorrupt, RaisedCode([&] { file->FlushFile(true, nullptr); }));
  EXPECT_TRUE(K().WriteOffsets.empty());
  file->RollbackUnwritten();
  file->CloseFile();
}

TEST_F(FileImplTest, TemporaryFileWritesNothing) {
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, u"/nonexistent/folder/tmp.dvl7", nullptr);
  file->fiAttributes = zfFileAttr(zffaTemporary);
  file->OpenFile(omReadWrite, smExclusive, false, true);
  EXPECT_TRUE(file->FileIsOpen());
  EXPECT_EQ(u"(memory)", file->FileName());
  TestBlock b(1, std::vector<uint8_t>(4096));
  file->WriteBlock(b);
  file->FlushFile(true, nullptr);
  EXPECT_EQ(1u, dynamic_cast<TzfBaseWin32File&>(*file).WriteRequests().size());
  EXPECT_TRUE(K().WriteOffsets.empty());
  file->RollbackUnwritten();
  file->CloseFile();
}

TEST_F(FileImplTest, FailedDeferredFlushIsLoggedAndFailsTheNextOperation) {
  TempDir dir;
  CaptureLog log;
  zfSetStorageEventLog(&log);
  std::unique_ptr<TzfBaseFile> file = MakeTable(dir.File("t.dvl7"), 4);
  auto& osFile = dynamic_cast<TzfBaseWin32File&>(*file);
  TestBlock b2(2, DataBlock(*file, 2));
  file->WriteBlock(b2);
  file->PrepareFlushFile();
  {
    std::lock_guard<std::mutex> g(gKnobsLock);
    K().SyncError = EIO;
  }
  file->FlushFile(false, nullptr);  // the commit is done; the device flush is deferred
  EXPECT_TRUE(osFile.FlushQueued() || zfFlushThread()->FailureCount() > 0);
  uint32_t code = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::vector<uint8_t> back(4096);
  while (code == 0 && std::chrono::steady_clock::now() < until) {
    code = RaisedCode([&] { file->ReadFileExactAt(0, 4096, back.data()); });
    if (code == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(zfErrWriteErr, code);
  EXPECT_NE(rtl::UnicodeString::npos,
            StorageOutcome([&] { file->ReadFileExactAt(0, 4096, back.data()); }).find(u"Error when flushing file"));
  zfSetStorageEventLog(nullptr);
  ASSERT_EQ(1u, log.Entries.size());
  EXPECT_NE(rtl::UnicodeString::npos, log.Entries[0].Msg.find(u"Deferred flush failed"));
  EXPECT_EQ(zfErrWriteErr, log.Entries[0].Number);
  EXPECT_EQ(lpError, log.Entries[0].Priority);
  file->CloseFile();  // closing clears the failure
  file->OpenFile(omReadOnly, smShared, false, false);
  EXPECT_NO_THROW(file->ReadFileExactAt(0, 4096, back.data()));
  file->CloseFile();
}

TEST_F(FileImplTest, DeferredFlushRunsOnTheFlushThread) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = MakeTable(dir.File("t.dvl7"), 2);
  TestBlock b1(1, DataBlock(*file, 1));
  file->WriteBlock(b1);
  file->PrepareFlushFile();
  const uint64_t before = zfFlushThread()->FlushCount();
  file->FlushFile(false, nullptr);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (zfFlushThread()->FlushCount() == before && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GT(zfFlushThread()->FlushCount(), before);
  EXPECT_FALSE(dynamic_cast<TzfBaseWin32File&>(*file).FlushQueued());
  // A file closed while queued leaves the queue.
  file->WriteBlock(b1);
  file->FlushFile(false, nullptr);
  file->CloseFile();
  EXPECT_FALSE(dynamic_cast<TzfBaseWin32File&>(*file).FlushQueued());
}

TEST_F(FileImplTest, WriteThroughAndCreationAreDurable) {
  TempDir dir;
  const std::string path = dir.FilePath("w.dvl7");
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("w.dvl7"), nullptr);
  file->OpenFile(omReadWrite, smExclusive, true, true);
  file->CloseFile();
  // The write descriptor is write-through; the folder is opened and synced after the create; the
  // read descriptor opens the existing file.
  ASSERT_EQ(3u, K().Opens.size());
  EXPECT_NE(0, K().Opens[0].second & O_DSYNC);
  EXPECT_NE(0, K().Opens[0].second & O_CREAT);
  EXPECT_EQ(0, K().Opens[1].second & O_CREAT);
  EXPECT_NE(0, K().Opens[2].second & O_DIRECTORY);
  K().Opens.clear();
  file->OpenFile(omReadWrite, smExclusive, false, false);
  file->CloseFile();
  ASSERT_EQ(2u, K().Opens.size());
  EXPECT_EQ(0, K().Opens[0].second & O_DSYNC);
}

TEST_F(FileImplTest, DualFileRefusesSequentialTransfers) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = MakeTable(dir.File("t.dvl7"), 2);
  uint8_t buf[16];
  const rtl::UnicodeString read = StorageOutcome([&] { file->ReadFile(16, buf); });
  EXPECT_EQ(0u, read.find(u"#9217:"));
  EXPECT_NE(rtl::UnicodeString::npos, read.find(u"error 50,"));
  EXPECT_EQ(zfErrWriteErr, RaisedCode([&] { file->WriteFileExact(16, buf); }));
  EXPECT_EQ(zfErrWriteErr, RaisedCode([&] { file->PositionFileEOF(); }));
  file->CloseFile();
}

TEST_F(FileImplTest, OpenFailuresAndCloseStates) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("missing.dvl7"), nullptr);
  const rtl::UnicodeString outcome = StorageOutcome([&] { file->OpenFile(omReadOnly, smShared, false, false); });
  EXPECT_EQ(0u, outcome.find(u"#9221: "));
  EXPECT_NE(rtl::UnicodeString::npos, outcome.find(u"INTERNAL: File could not be opened"));
  EXPECT_EQ(zfErrFileBusy, RaisedCode([&] { file->FileSize(); }));  // failed: every operation says so
  EXPECT_NO_THROW(file->CloseFile());                                // closing only clears the failure
  EXPECT_EQ(zfErrFileInvalidData, RaisedCode([&] { file->FileSize(); }));
  EXPECT_EQ(zfErrFileInvalidData, RaisedCode([&] { file->CloseFile(); }));
}

TEST_F(FileImplTest, ExclusiveShareModeKeepsOtherOpenersOut) {
  TempDir dir;
  const rtl::UnicodeString name = dir.File("t.dvl7");
  std::unique_ptr<TzfBaseFile> first = MakeTable(name, 2);  // opened exclusively
  std::unique_ptr<TzfBaseFile> second = TzfBaseFile::Alloc(true, name, nullptr);
  EXPECT_EQ(zfErrFileBusy, RaisedCode([&] { second->OpenFile(omReadOnly, smShared, false, false); }));
  second->CloseFile();
  first->CloseFile();
  first->OpenFile(omReadOnly, smShared, false, false);
  EXPECT_NO_THROW(second->OpenFile(omReadOnly, smShareRead, false, false));
  std::unique_ptr<TzfBaseFile> third = TzfBaseFile::Alloc(true, name, nullptr);
  EXPECT_EQ(zfErrFileBusy, RaisedCode([&] { third->OpenFile(omReadWrite, smExclusive, false, false); }));
  third->CloseFile();
  second->CloseFile();
  first->CloseFile();
}

TEST_F(FileImplTest, ReadOnlyFileOpensReadOnly) {
  TempDir dir;
  const rtl::UnicodeString name = dir.File("ro.dvl7");
  CreateTableFile(name, zfHeaderSignature2);
  ::chmod(dir.FilePath("ro.dvl7").c_str(), 0444);
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, name, nullptr);
  file->OpenFile(omReadWrite, smExclusive, false, false);
  EXPECT_EQ(omReadOnly, file->fiOpenMode);
  uint8_t buf[4096] = {};
  EXPECT_EQ(zfErrWriteErr, RaisedCode([&] { file->WriteFileExactAt(4096, 4096, buf); }));
  file->CloseFile();
}

TEST_F(FileImplTest, RenameNeverReplacesAnExistingFile) {
  TempDir dir;
  std::ofstream(dir.FilePath("a")) << "A";
  std::ofstream(dir.FilePath("b")) << "B";
  const rtl::UnicodeString outcome = StorageOutcome([&] { zfRenameFileNoReplace(dir.File("a"), dir.File("b")); });
  EXPECT_EQ(0u, outcome.find(u"#15394:"));
  std::string content;
  std::ifstream(dir.FilePath("b")) >> content;
  EXPECT_EQ("B", content);
  EXPECT_TRUE(std::filesystem::exists(dir.Path / "a"));
  zfRenameFileNoReplace(dir.File("a"), dir.File("c"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path / "a"));
  std::ifstream(dir.FilePath("c")) >> content;
  EXPECT_EQ("A", content);
}

// A failed rename in a list gives the files renamed before it their old names back.
TEST_F(FileImplTest, RenameListUndoesTheRenamesBeforeAFailure) {
  TempDir dir;
  for (const char* name : {"t.1", "t.2", "t.3", "u.3"}) std::ofstream(dir.FilePath(name)) << name;
  const rtl::UnicodeString outcome = StorageOutcome([&] {
    zfRenameFilesNoReplace({{dir.File("t.1"), dir.File("u.1")},
                            {dir.File("t.2"), dir.File("u.2")},
                            {dir.File("t.3"), dir.File("u.3")}});
  });
  EXPECT_EQ(0u, outcome.find(u"#15394:"));
  for (const char* name : {"t.1", "t.2", "t.3", "u.3"}) {
    std::string content;
    std::ifstream(dir.FilePath(name)) >> content;
    EXPECT_EQ(name, content);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path / "u.1"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path / "u.2"));
}

TEST_F(FileImplTest, VolumeLimitAndNames) {
  TempDir dir;
  EXPECT_GE(zfMaxFileSizeForPath(dir.File("x.dvl7")), int64_t(4294967294));
  EXPECT_EQ(0, zfMaxFileSizeForPath(u"/no/such/folder/at/all/x"));
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, dir.File("sub/../t.dvl7"), nullptr);
  const rtl::UnicodeString folder = rtl::u16(std::filesystem::canonical(dir.Path).string()) + u"/";
  EXPECT_EQ(folder, file->fiPath);
  EXPECT_EQ(folder + u"t.dvl7", file->FileName());
  EXPECT_EQ(folder + u"blob.bin", file->ExpandRelativeFileName(u"  blob.bin "));
  EXPECT_EQ(u"/abs/file", file->ExpandRelativeFileName(u"/abs/file"));
}

// ---- whole-file iterations ----

struct Seen {
  TzfBlockNumber Number;
  bool Readable;
  uint32_t Code;
  uint8_t Fill;  // byte 100 of a readable block
};

std::vector<Seen> Walk(TzfBaseFile& aFile, bool aRaw, TzfBlockNumber aStopAt = 0xFFFFFFFF) {
  std::vector<Seen> seen;
  auto it = [&](void*, TzfBlockNumber n, PzfBlock b, const TzfBlockReadFailure* f) {
    seen.push_back({n, b != nullptr, f ? f->ErrorCode : 0, b ? b[100] : uint8_t(0)});
    EXPECT_EQ(b == nullptr, f != nullptr);
    return n == aStopAt ? birStop : birContinue;
  };
  aRaw ? aFile.IterateBlocksRaw(nullptr, it) : aFile.IterateBlocks(nullptr, it);
  return seen;
}

TEST_F(FileImplTest, IterationHandsOnDamagedBlocksAndReportsUnreadableOnes) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = MakeTable(dir.File("t.dvl7"), 6);
  std::vector<uint8_t> zero(4096, 0);
  file->WriteFileExactAt(2 * 4096, 4096, zero.data());  // a zeroed block
  std::vector<uint8_t> flipped = DataBlock(*file, 3);
  flipped[4] ^= 0x10;  // its block number
  flipped[100] ^= 0xFF;
  file->WriteFileExactAt(3 * 4096, 4096, flipped.data());
  file->WriteFileExactAt(6 * 4096, 1000, zero.data());  // a truncated last block
  K().ReadErrorAt = 4 * 4096 + 10;                         // a device error inside block 4

  for (bool raw : {false, true}) {
    SCOPED_TRACE(raw ? "raw" : "decoded");
    const std::vector<Seen> seen = Walk(*file, raw);
    ASSERT_EQ(7u, seen.size());
    for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(i, seen[i].Number);
    EXPECT_TRUE(seen[0].Readable);
    EXPECT_EQ(1, seen[1].Fill);
    EXPECT_TRUE(seen[2].Readable);
    EXPECT_EQ(0, seen[2].Fill);
    EXPECT_TRUE(seen[3].Readable);
    EXPECT_EQ(uint8_t(3 ^ 0xFF), seen[3].Fill);
    EXPECT_FALSE(seen[4].Readable);  // the device error is reported, and the walk goes on
    EXPECT_EQ(zfErrReadErr, seen[4].Code);
    EXPECT_TRUE(seen[5].Readable);
    EXPECT_EQ(5, seen[5].Fill);
    EXPECT_FALSE(seen[6].Readable);  // the partial tail is reported, not dropped
    EXPECT_EQ(zfErrReadErr, seen[6].Code);
  }
  EXPECT_EQ(1u, Walk(*file, false, 0).size());  // birStop on block 0: called once
  EXPECT_EQ(4u, Walk(*file, false, 3).size());
  file->CloseFile();
}

TEST_F(FileImplTest, IterationOfAFileThatCannotBeSizedRaises) {
  TempDir dir;
  std::unique_ptr<TzfBaseFile> file = MakeTable(dir.File("t.dvl7"), 2);
  file->CloseFile();
  // Closed: no size, no walk; never an empty iteration.
  EXPECT_EQ(zfErrFileInvalidData, RaisedCode([&] { Walk(*file, false); }));
}

}  // namespace
}  // namespace zf::test
