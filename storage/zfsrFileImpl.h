// Table files on operating-system files (POSIX), the write-out of committed blocks, the
// process-wide flush thread and the largest file a volume allows.
//
// - TzfDualWin32File is the class of every table file: all writes go through one descriptor, all
//   block reads through a second one. TzfBaseWin32File (one descriptor) is the class of every
//   other engine file (transaction configuration, journals, external BLOB files). The classes keep
//   the engine's established names; nothing in them is specific to one system but the calls of
//   TzfFileSystemCalls.
// - Positioned transfers are pread/pwrite loops that finish short transfers and retry EINTR; an
//   exact transfer that still moves fewer bytes (end of file, a full disk) raises its error, so no
//   block is ever half-written without an error. Write-through opens with O_DSYNC; a flush is
//   fdatasync. A created file's folder is synced so the new name is durable.
// - Share modes are advisory locks (flock) on the write descriptor: smExclusive takes an exclusive
//   lock, the other modes a shared one; a conflicting open fails with 9221.
// - The flush thread flushes queued files to the device: it wakes 500 ms after a file was queued
//   and every 5000 ms in any case. A deferred flush that fails is written to the storage event log
//   (zfSetStorageEventLog) and marks the file failed: its next operation raises that failure
//   (9218) instead of going on as if the committed data were on the device.
#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "foundation/zfllSync.h"
#include "foundation/zfllThread.h"
#include "storage/zfsrFile.h"

namespace zf {

class TzfBaseLog;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseWin32FileException, EzfServerException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfDualWin32FileException, EzfBaseWin32FileException)

// Process-wide settings.
inline constexpr bool zfFlushThreadEnabled = true;
inline constexpr uint32_t zfFlushMaxInterval = 5000;
inline constexpr uint32_t zfFlushMinDelay = 500;
inline constexpr uint32_t zfReopenRetryDelay = 25;

// ---------------------------------------------------------------------------------------------
// The system calls the file classes make. Tests install their own table to inject short
// transfers, EINTR, a full disk or failing flushes; every entry follows the POSIX contract
// (-1 with errno on failure).

struct TzfFileSystemCalls {
  int (*Open)(const char* aPath, int aFlags, mode_t aMode);
  int (*Close)(int aFd);
  ssize_t (*PRead)(int aFd, void* aBuffer, size_t aCount, off_t aOffset);
  ssize_t (*PWrite)(int aFd, const void* aBuffer, size_t aCount, off_t aOffset);
  int (*FDataSync)(int aFd);
  int (*FTruncate)(int aFd, off_t aLength);
  int (*FStat)(int aFd, struct stat* aStat);
  int (*Flock)(int aFd, int aOperation);
};

// The table in use (the system's own unless a test installed another).
const TzfFileSystemCalls& zfFileSystemCalls();
// Installs aCalls (nullptr: the system's own); the table must outlive its use.
void zfSetFileSystemCalls(const TzfFileSystemCalls* aCalls);
// The system's own table.
const TzfFileSystemCalls& zfSystemFileCalls();

// The log that deferred-flush failures are written to (not owned; nullptr: standard error).
void zfSetStorageEventLog(TzfBaseLog* aLog);
// Writes aMessage at ERROR to that log (standard error without one); never raises.
void zfWriteStorageLog(const rtl::UnicodeString& aMessage, uint32_t aCode);

// The largest file size the volume of aPath allows: the file system's own limit (ext2/3/4 by their
// block size, FAT 4294967295, others by the size bits the system reports); 0 when the volume
// cannot be asked.
int64_t zfMaxFileSizeForPath(const rtl::UnicodeString& aPath);

// Makes a new name durable: fsync of the folder of aFileName (failures are ignored where the file
// system cannot sync folders).
void zfSyncFolderOf(const rtl::UnicodeString& aFileName);
// Renames or moves a file without ever replacing an existing one: 15394 with the OS error when
// aNewName exists or the rename fails; syncs both folders afterwards.
void zfRenameFileNoReplace(const rtl::UnicodeString& aOldName, const rtl::UnicodeString& aNewName);
// Renames each pair (old name, new name) in order with zfRenameFileNoReplace. When one fails, the
// files renamed before it get their old names back, the last first, and the failure goes on.
void zfRenameFilesNoReplace(const std::vector<std::pair<rtl::UnicodeString, rtl::UnicodeString>>& aRenames);

// Exclusive advisory locks (flock) on a table's files, taken without waiting and held until the
// holder is destroyed: renaming or deleting a table's files needs them, so that no file another
// process (or another open of this one) holds with a share lock is moved or removed under it.
class TzfExclusiveFileLocks {
 public:
  TzfExclusiveFileLocks() = default;
  TzfExclusiveFileLocks(const TzfExclusiveFileLocks&) = delete;
  TzfExclusiveFileLocks& operator=(const TzfExclusiveFileLocks&) = delete;
  // Releases every lock held.
  ~TzfExclusiveFileLocks();
  // Locks aFileName exclusively; a file that does not exist is passed over. Raises 10245 "File is
  // locked." when any other open of the file holds a lock, 9221 when it cannot be opened.
  void Lock(const rtl::UnicodeString& aFileName);
  // True when aFileName exists and another open holds a lock on it (nothing is kept).
  static bool IsLocked(const rtl::UnicodeString& aFileName);

 private:
  std::vector<int> FDescriptors;
};

// ---------------------------------------------------------------------------------------------

class TzfBaseWin32File : public TzfBaseFile {
 public:
  TzfBaseWin32File();
  ~TzfBaseWin32File() override;
  static const TzfFileClass& ClassInfo();
  const TzfFileClass& ClassType() const override { return ClassInfo(); }

  void CloseFile() override;
  bool FileIsOpen() override { return dfiHandle >= 0; }
  void PrepareFlushFile() override;
  void FlushFile(bool aFailSafe, TzfBaseReplicationLog* aReplicationLog) override;
  void OpenFile(TzfOpenMode aOpenMode, TzfShareMode aShareMode, bool aWriteThru, bool aCreateFile) override;
  int64_t PositionFileEOF() override;
  // Not available on single-descriptor files.
  int64_t FileSize() override;
  uint32_t ReadFile(uint32_t aToRead, void* aBuffer) override;
  void ReadFileExact(uint32_t aToRead, void* aBuffer) override;
  uint32_t ReadFileAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override;
  void ReadFileExactAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override;
  void WriteFileExact(uint32_t aToWrite, const void* aBuffer) override;
  void WriteFileExactAt(int64_t aOffset, uint32_t aToWrite, const void* aBuffer) override;
  int64_t CalcMaxFileSize() override;
  void ReadDecryptFileExactAt(int64_t aOffset, uint32_t aToRead, uint8_t* aBuffer, TzfByteDynArray& aCookie) override;
  void WriteEncryptFileExactAt(int64_t aOffset, uint32_t aToWrite, uint8_t* aBuffer, TzfByteDynArray& aCookie) override;
  void ReadBlock(TzfBaseCachedBlock& aBlock) override;
  void WriteBlock(TzfBaseCachedBlock& aBlock) override;
  void RollbackUnwritten() override;

  // Opens a descriptor: mode, share lock, O_DSYNC for write-through writers, O_CREAT|O_TRUNC
  // when creating. Failure: dfiOpenError and 9221 "INTERNAL: File could not be opened [...]".
  virtual int CreateFileHandle(const rtl::UnicodeString& aName, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                               bool aWriteThru, bool aCreate, int aExtraFlags);
  // Closes the write descriptor and opens it again with the stored modes (one retry after
  // zfReopenRetryDelay ms; a second failure leaves the file failed).
  virtual void ReopenFile();

  // The file is queued for the flush thread.
  bool FlushQueued() const { return dfiFlushRequestAdded; }
  // Blocks waiting for write-out, in list order.
  const std::vector<TzfBaseCachedBlock*>& WriteRequests() const { return dfiWriteRequest; }
  // Flushes the write descriptor to the device now (the flush thread's work); raises 9218.
  void FlushToDevice();
  // Marks the file failed by a deferred flush: every later operation raises aFailure's code and
  // message until the file is closed.
  void MarkFlushFailed(uint32_t aCode, const rtl::UnicodeString& aMessage);

  int dfiHandle = -1;
  std::vector<TzfBaseCachedBlock*> dfiWriteRequest;
  // Queued for the flush thread (changed under its queue lock; read anywhere).
  std::atomic<bool> dfiFlushRequestAdded{false};
  TzfBaseWin32File* dfiFlushRequestPrev = nullptr;
  TzfBaseWin32File* dfiFlushRequestNext = nullptr;
  TzfPadlock dfiFlushingPadlock;
  // Set while no background flush of this file runs (manual reset, created set).
  TzfThreadEvent dfiFlushingEvent{true};
  int dfiOpenError = 0;
  // A deferred flush failed (code and message), 0 when none.
  uint32_t dfiFlushFailure = 0;
  rtl::UnicodeString dfiFlushFailureMessage;
  // Position of the sequential transfers.
  int64_t dfiPosition = 0;

 protected:
  // (True) the file must be open: 9221 after a failed open, 9218 after a failed deferred flush,
  // else 15360; (False) it must be closed: 15360.
  void CheckFileState(bool aMustBeOpen);
  [[noreturn]] void RaiseOpenError(int aError);
  [[noreturn]] void RaiseIOError(uint32_t aCode, const char16_t* aFormat, int aError, int64_t aOffset = -1);
  // Exact positioned transfers on a descriptor (loops over short counts and EINTR).
  uint32_t ReadAt(int aFd, int64_t aOffset, uint32_t aToRead, void* aBuffer, uint32_t aErrorCode);
  void WriteExactAt(int aFd, int64_t aOffset, uint32_t aToWrite, const void* aBuffer);
  void CloseHandle(int& aFd);
  void SetFileBlocks(uint64_t aBlocks);
  int64_t DescriptorSize(int aFd, uint32_t aErrorCode);
  void WaitForBackgroundFlush();
  void RemoveFromFlushQueue();
  // Closes the descriptors (the dual file closes both).
  virtual void CloseDescriptors();
  // The open without the descriptors: state check, long name, read-only attribute.
  TzfOpenMode PrepareOpen(TzfOpenMode aOpenMode, bool aCreateFile);
  void OpenWithRetry(int& aFd, TzfOpenMode aMode, TzfShareMode aShare, int aExtraFlags);

  std::mutex dfiFailureLock;
};

class TzfDualWin32File : public TzfBaseWin32File {
 public:
  TzfDualWin32File() = default;
  ~TzfDualWin32File() override;
  static const TzfFileClass& ClassInfo();
  const TzfFileClass& ClassType() const override { return ClassInfo(); }

  void CloseFile() override;
  void OpenFile(TzfOpenMode aOpenMode, TzfShareMode aShareMode, bool aWriteThru, bool aCreateFile) override;
  // Sequential transfers are not supported: 9217/9218 with OS error 50.
  int64_t PositionFileEOF() override;
  int64_t FileSize() override;
  uint32_t ReadFile(uint32_t aToRead, void* aBuffer) override;
  void ReadFileExact(uint32_t aToRead, void* aBuffer) override;
  uint32_t ReadFileAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override;
  void ReadFileExactAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) override;
  void WriteFileExact(uint32_t aToWrite, const void* aBuffer) override;
  void ReopenFile() override;

 protected:
  void CloseDescriptors() override;

 public:
  // The read descriptor.
  int ofiHandle = -1;
};

// ---------------------------------------------------------------------------------------------
// The flush thread: one per process ("FlushThread").

class TzfFlushThread : public TzfThread {
 public:
  TzfFlushThread();
  const char* ClassName() const override { return "TzfFlushThread"; }

  // Appends a file that is not yet queued and arms the one-shot wake-up (zfFlushMinDelay).
  void Enqueue(TzfBaseWin32File& aFile);
  // Unlinks a queued file.
  void Remove(TzfBaseWin32File& aFile);
  // Files flushed / failed since start (for tests and statistics).
  uint64_t FlushCount() const { return ftFlushCount.load(); }
  uint64_t FailureCount() const { return ftFailureCount.load(); }

  TzfPadlock ftFileListPadlock;
  TzfBaseWin32File* ftFileListHead = nullptr;
  TzfBaseWin32File* ftFileListTail = nullptr;

 protected:
  void ThreadMain() override;
  void WakeUp() override;

 private:
  TzfBaseWin32File* TakeHead();
  void ResetMaxTimer();
  void ResetMinTimer();
  void Wait();

  std::mutex ftTimerLock;
  std::condition_variable ftTimerCond;
  int64_t ftMaxDue = 0;  // tick of the periodic wake-up
  int64_t ftMinDue = 0;  // tick of the one-shot wake-up, 0 when not armed
  bool ftWake = false;
  std::atomic<uint64_t> ftFlushCount{0};
  std::atomic<uint64_t> ftFailureCount{0};
};

// The process's flush thread (nullptr while the file unit is stopped).
TzfFlushThread* zfFlushThread();

rtl::TUnitInit& zfsrFileImplUnit();

}  // namespace zf
