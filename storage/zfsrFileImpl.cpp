#include "storage/zfsrFileImpl.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <thread>

#include "foundation/zfllComponent.h"
#include "foundation/zfllErrors.h"
#include "platform/os/osSystem.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrBlockIndex.h"
#include "storage/zfsrBufferManager.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfsrFileImpl";
// The descriptor value of a temporary file: open, but no OS file behind it.
constexpr int kTemporaryHandle = INT_MAX;
// CreateFileHandle flag: take no share lock (the dual file's read descriptor).
constexpr int kNoShareLock = 0x40000000;
// The error of the operations a dual file does not support (the request is not supported).
constexpr int kErrNotSupportedRequest = 50;

// ---- system calls ----

int SysOpen(const char* aPath, int aFlags, mode_t aMode) { return ::open(aPath, aFlags, aMode); }
int SysClose(int aFd) { return ::close(aFd); }
ssize_t SysPRead(int aFd, void* aBuffer, size_t aCount, off_t aOffset) { return ::pread(aFd, aBuffer, aCount, aOffset); }
ssize_t SysPWrite(int aFd, const void* aBuffer, size_t aCount, off_t aOffset) {
  return ::pwrite(aFd, aBuffer, aCount, aOffset);
}
int SysFDataSync(int aFd) { return ::fdatasync(aFd); }
int SysFTruncate(int aFd, off_t aLength) { return ::ftruncate(aFd, aLength); }
int SysFStat(int aFd, struct stat* aStat) { return ::fstat(aFd, aStat); }
int SysFlock(int aFd, int aOperation) { return ::flock(aFd, aOperation); }

const TzfFileSystemCalls kSystemCalls{&SysOpen,      &SysClose,     &SysPRead, &SysPWrite,
                                      &SysFDataSync, &SysFTruncate, &SysFStat, &SysFlock};

std::atomic<const TzfFileSystemCalls*> gCalls{&kSystemCalls};
std::atomic<TzfBaseLog*> gStorageLog{nullptr};

const TzfFileSystemCalls& Calls() { return *gCalls.load(std::memory_order_acquire); }

std::string SysPath(const rtl::UnicodeString& aName) { return rtl::u8(aName); }

rtl::UnicodeString OSText(int aError) { return rtl::u16(zf::os::SysErrorMessage(aError)); }

// ---- the flush thread of the process ----

std::mutex gFlushThreadLock;
TzfThreadPtr<TzfFlushThread> gFlushThreadOwner;
std::atomic<TzfFlushThread*> gFlushThread{nullptr};

}  // namespace

void zfWriteStorageLog(const rtl::UnicodeString& aMessage, uint32_t aCode) {
  if (TzfBaseLog* log = gStorageLog.load(std::memory_order_acquire)) {
    try {
      log->WriteString(aMessage, aCode, lpError, u"Storage");
      return;
    } catch (...) {
      // fall through to standard error: the failure must not be lost
    }
  }
  std::fprintf(stderr, "%s\n", rtl::u8(aMessage).c_str());
}

const TzfFileSystemCalls& zfFileSystemCalls() { return Calls(); }
void zfSetFileSystemCalls(const TzfFileSystemCalls* aCalls) {
  gCalls.store(aCalls ? aCalls : &kSystemCalls, std::memory_order_release);
}
const TzfFileSystemCalls& zfSystemFileCalls() { return kSystemCalls; }

void zfSetStorageEventLog(TzfBaseLog* aLog) { gStorageLog.store(aLog, std::memory_order_release); }

TzfFlushThread* zfFlushThread() { return gFlushThread.load(std::memory_order_acquire); }

// ---------------------------------------------------------------------------------------------
// Volumes and names

int64_t zfMaxFileSizeForPath(const rtl::UnicodeString& aPath) {
  std::string path = SysPath(aPath);
  struct statfs fs {};
  if (::statfs(path.c_str(), &fs) != 0) {
    path = SysPath(rtl::ExtractFilePath(aPath));
    if (path.empty()) path = ".";
    if (::statfs(path.c_str(), &fs) != 0) return 0;
  }
  switch (static_cast<uint64_t>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2, ext3 and ext4: 2^32 blocks of the file system
      return static_cast<int64_t>(fs.f_bsize) << 32;
    case MSDOS_SUPER_MAGIC:
      return 4294967294;
    default:
      break;
  }
  errno = 0;
  const long bits = ::pathconf(path.c_str(), _PC_FILESIZEBITS);
  if (bits < 0) return errno == 0 ? INT64_MAX : 0;
  if (bits >= 64) return INT64_MAX;
  if (bits < 2) return 0;
  return (int64_t(1) << (bits - 1)) - 1;
}

void zfSyncFolderOf(const rtl::UnicodeString& aFileName) {
  rtl::UnicodeString folder = rtl::ExtractFilePath(aFileName);
  if (folder.empty()) folder = u".";
  const TzfFileSystemCalls& calls = Calls();
  int fd = calls.Open(SysPath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;
  calls.FDataSync(fd);  // some file systems cannot sync folders; the name is written all the same
  calls.Close(fd);
}

void zfRenameFileNoReplace(const rtl::UnicodeString& aOldName, const rtl::UnicodeString& aNewName) {
  const std::string from = SysPath(aOldName), to = SysPath(aNewName);
  int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // The file system cannot rename without replacing: a hard link fails when the name exists.
    rc = ::link(from.c_str(), to.c_str());
    if (rc == 0 && ::unlink(from.c_str()) != 0) {
      const int err = errno;
      ::unlink(to.c_str());
      errno = err;
      rc = -1;
    }
  }
  if (rc != 0) {
    zf::os::SetLastError(errno);
    throw zfCreateOSErrorException<EzfServerException>(zfErrFileRenameFailed, u"zfRenameFileNoReplace/rename %s -> %s",
                                                       {aOldName, aNewName});
  }
  zfSyncFolderOf(aNewName);
  if (rtl::ExtractFilePath(aOldName) != rtl::ExtractFilePath(aNewName)) zfSyncFolderOf(aOldName);
}

void zfRenameFilesNoReplace(const std::vector<std::pair<rtl::UnicodeString, rtl::UnicodeString>>& aRenames) {
  size_t done = 0;
  try {
    for (; done < aRenames.size(); ++done) zfRenameFileNoReplace(aRenames[done].first, aRenames[done].second);
  } catch (...) {
    while (done > 0) {
      --done;
      try {
        zfRenameFileNoReplace(aRenames[done].second, aRenames[done].first);
      } catch (...) {
      }
    }
    throw;
  }
}

// ---------------------------------------------------------------------------------------------
// TzfExclusiveFileLocks

namespace {

// Opens aFileName and asks for an exclusive lock without waiting: the descriptor holding it, -1
// when the file does not exist; aLocked tells another open holds a lock. Other failures raise 9221.
int LockExclusive(const rtl::UnicodeString& aFileName, bool& aLocked) {
  aLocked = false;
  const TzfFileSystemCalls& calls = Calls();
  const std::string path = SysPath(aFileName);
  int fd;
  do {
    fd = calls.Open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENOENT) return -1;
    const int error = errno;
    zf::os::SetLastError(error);
    throw EzfBaseWin32FileException(zfErrFileBusy, u"INTERNAL: File could not be opened [%s, error %d, %s]",
                                    {aFileName, error, OSText(error)});
  }
  int rc;
  do {
    rc = calls.Flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return fd;
  const int error = errno;
  calls.Close(fd);
  if (error == EWOULDBLOCK) {
    aLocked = true;
    return -1;
  }
  zf::os::SetLastError(error);
  throw EzfBaseWin32FileException(zfErrFileBusy, u"INTERNAL: File could not be opened [%s, error %d, %s]",
                                  {aFileName, error, OSText(error)});
}

}  // namespace

TzfExclusiveFileLocks::~TzfExclusiveFileLocks() {
  for (const int fd : FDescriptors) Calls().Close(fd);
}

void TzfExclusiveFileLocks::Lock(const rtl::UnicodeString& aFileName) {
  bool locked = false;
  const int fd = LockExclusive(aFileName, locked);
  if (locked) throw EzfBaseWin32FileException(zfErrFileLocked);
  if (fd >= 0) FDescriptors.push_back(fd);
}

bool TzfExclusiveFileLocks::IsLocked(const rtl::UnicodeString& aFileName) {
  bool locked = false;
  const int fd = LockExclusive(aFileName, locked);
  if (fd >= 0) Calls().Close(fd);
  return locked;
}

// ---------------------------------------------------------------------------------------------
// TzfBaseWin32File

const TzfFileClass& TzfBaseWin32File::ClassInfo() {
  static const TzfFileClass info{u"TzfBaseWin32File", [] { return std::unique_ptr<TzfBaseFile>(new TzfBaseWin32File()); }};
  return info;
}

TzfBaseWin32File::TzfBaseWin32File() {
  dfiWriteRequest.reserve(512);
  dfiFlushingEvent.SetEvent();  // created signalled: no background flush runs
}

TzfBaseWin32File::~TzfBaseWin32File() {
  RemoveFromFlushQueue();
  WaitForBackgroundFlush();
  // A file freed while still open does not keep its descriptors.
  try {
    if (dfiHandle >= 0 && !HasAttribute(zffaTemporary)) CloseDescriptors();
  } catch (...) {
  }
}

void TzfBaseWin32File::RaiseOpenError(int aError) {
  throw EzfBaseWin32FileException(zfErrFileBusy, u"INTERNAL: File could not be opened [%s, error %d, %s]",
                                  {fiName, aError, OSText(aError)});
}

void TzfBaseWin32File::RaiseIOError(uint32_t aCode, const char16_t* aFormat, int aError, int64_t aOffset) {
  zf::os::SetLastError(aError);
  if (aOffset >= 0) throw EzfBaseWin32FileException(aCode, aFormat, {fiName, aOffset, aError, OSText(aError)});
  throw EzfBaseWin32FileException(aCode, aFormat, {fiName, aError, OSText(aError)});
}

void TzfBaseWin32File::CheckFileState(bool aMustBeOpen) {
  if (aMustBeOpen) {
    if (fiName.empty() || dfiHandle < 0) {
      if (dfiOpenError != 0) RaiseOpenError(dfiOpenError);
      throw EzfBaseWin32FileException(zfErrFileInvalidData);
    }
    std::lock_guard<std::mutex> g(dfiFailureLock);
    if (dfiFlushFailure != 0) throw EzfBaseWin32FileException(dfiFlushFailure, dfiFlushFailureMessage);
  } else if (fiName.empty() || dfiHandle >= 0) {
    throw EzfBaseWin32FileException(zfErrFileInvalidData);
  }
}

void TzfBaseWin32File::MarkFlushFailed(uint32_t aCode, const rtl::UnicodeString& aMessage) {
  std::lock_guard<std::mutex> g(dfiFailureLock);
  if (dfiFlushFailure == 0) {
    dfiFlushFailure = aCode;
    dfiFlushFailureMessage = aMessage;
  }
}

int TzfBaseWin32File::CreateFileHandle(const rtl::UnicodeString& aName, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                                       bool aWriteThru, bool aCreate, int aExtraFlags) {
  int flags = O_CLOEXEC;
  switch (aOpenMode) {
    case omReadOnly: flags |= O_RDONLY; break;
    case omWriteOnly: flags |= O_WRONLY; break;
    case omReadWrite: flags |= O_RDWR; break;
  }
  if (aCreate) flags |= O_CREAT | O_TRUNC;
  if (aWriteThru && aOpenMode != omReadOnly) flags |= O_DSYNC;
  const TzfFileSystemCalls& calls = Calls();
  const std::string path = SysPath(aName);
  int fd;
  do {
    fd = calls.Open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  int error = fd < 0 ? errno : 0;
  if (fd >= 0 && !(aExtraFlags & kNoShareLock)) {
    const int op = (aShareMode == smExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int rc;
    do {
      rc = calls.Flock(fd, op);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      error = errno;
      calls.Close(fd);
      fd = -1;
    }
  }
  if (fd < 0) {
    dfiOpenError = error;
    RaiseOpenError(error);
  }
  return fd;
}

TzfOpenMode TzfBaseWin32File::PrepareOpen(TzfOpenMode aOpenMode, bool aCreateFile) {
  CheckFileState(false);
  dfiOpenError = 0;
  {
    std::lock_guard<std::mutex> g(dfiFailureLock);
    dfiFlushFailure = 0;
    dfiFlushFailureMessage.clear();
  }
  if (HasAttribute(zffaTemporary) || aCreateFile) return aOpenMode;
  // The name as stored, and the read-only attribute (no write permission bit at all).
  char resolved[PATH_MAX];
  const std::string path = SysPath(fiName);
  if (::realpath(path.c_str(), resolved)) fiName = rtl::u16(resolved);
  struct stat st {};
  if (::stat(SysPath(fiName).c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
    return omReadOnly;
  return aOpenMode;
}

void TzfBaseWin32File::OpenFile(TzfOpenMode aOpenMode, TzfShareMode aShareMode, bool aWriteThru, bool aCreateFile) {
  const TzfOpenMode mode = PrepareOpen(aOpenMode, aCreateFile);
  if (HasAttribute(zffaTemporary)) {
    dfiHandle = kTemporaryHandle;
  } else {
    dfiHandle = CreateFileHandle(fiName, mode, aShareMode, aWriteThru, aCreateFile, 0);
    if (aCreateFile) zfSyncFolderOf(fiName);
  }
  dfiPosition = 0;
  fiOpenMode = mode;
  fiShareMode = aShareMode;
  fiWriteThru = aWriteThru;
}

void TzfBaseWin32File::RemoveFromFlushQueue() {
  std::lock_guard<std::mutex> g(gFlushThreadLock);
  if (TzfFlushThread* t = zfFlushThread()) t->Remove(*this);
}

void TzfBaseWin32File::WaitForBackgroundFlush() {
  TzfPadlockGuard g(dfiFlushingPadlock);
  dfiFlushingEvent.WaitFor(-1);
}

void TzfBaseWin32File::CloseHandle(int& aFd) {
  if (aFd < 0) return;
  const int fd = aFd;
  aFd = -1;
  // A close interrupted by a signal has still released the descriptor on Linux.
  if (Calls().Close(fd) != 0 && errno != EINTR)
    RaiseIOError(zfErrFileCloseFailed, u"INTERNAL: File could not be closed [%s, error %d, %s]", errno);
}

void TzfBaseWin32File::CloseDescriptors() { CloseHandle(dfiHandle); }

void TzfBaseWin32File::CloseFile() {
  RemoveFromFlushQueue();
  WaitForBackgroundFlush();
  if (dfiOpenError != 0) {
    dfiOpenError = 0;
    return;
  }
  if (fiName.empty() || dfiHandle < 0) throw EzfBaseWin32FileException(zfErrFileInvalidData);
  ZF_ASSERT(dfiWriteRequest.empty(), kUnit);
  {
    std::lock_guard<std::mutex> g(dfiFailureLock);
    dfiFlushFailure = 0;
    dfiFlushFailureMessage.clear();
  }
  if (HasAttribute(zffaTemporary)) {
    dfiHandle = -1;
    return;
  }
  CloseDescriptors();
}

uint32_t TzfBaseWin32File::ReadAt(int aFd, int64_t aOffset, uint32_t aToRead, void* aBuffer, uint32_t aErrorCode) {
  const TzfFileSystemCalls& calls = Calls();
  uint8_t* p = static_cast<uint8_t*>(aBuffer);
  uint32_t done = 0;
  while (done < aToRead) {
    const ssize_t n = calls.PRead(aFd, p + done, aToRead - done, static_cast<off_t>(aOffset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseIOError(aErrorCode, u"INTERNAL: Error when reading from file [%s, error %d, %s]", errno);
    }
    if (n == 0) break;  // end of file
    done += static_cast<uint32_t>(n);
  }
  return done;
}

void TzfBaseWin32File::WriteExactAt(int aFd, int64_t aOffset, uint32_t aToWrite, const void* aBuffer) {
  const TzfFileSystemCalls& calls = Calls();
  const uint8_t* p = static_cast<const uint8_t*>(aBuffer);
  uint32_t done = 0;
  while (done < aToWrite) {
    const ssize_t n = calls.PWrite(aFd, p + done, aToWrite - done, static_cast<off_t>(aOffset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseIOError(zfErrWriteErr, u"INTERNAL: Error when writing to file [%s, error %d, %s]", errno);
    }
    if (n == 0)
      throw EzfBaseWin32FileException(zfErrWriteErr,
                                      u"INTERNAL: Could not write exact number of bytes to file [%s, %d bytes]",
                                      {fiName, aToWrite});
    done += static_cast<uint32_t>(n);
  }
}

int64_t TzfBaseWin32File::DescriptorSize(int aFd, uint32_t aErrorCode) {
  struct stat st {};
  if (Calls().FStat(aFd, &st) != 0)
    RaiseIOError(aErrorCode, u"INTERNAL: Error when seeking to position in file [%s, offset %d, error %d, %s]", errno, 0);
  return static_cast<int64_t>(st.st_size);
}

void TzfBaseWin32File::SetFileBlocks(uint64_t aBlocks) {
  const off_t size = static_cast<off_t>(aBlocks << BlockShift());
  int rc;
  do {
    rc = Calls().FTruncate(dfiHandle, size);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) RaiseIOError(zfErrWriteErr, u"INTERNAL: Error when setting end-of-file [%s, error %d, %s]", errno);
}

int64_t TzfBaseWin32File::PositionFileEOF() {
  CheckFileState(true);
  dfiPosition = DescriptorSize(dfiHandle, zfErrReadErr);
  return dfiPosition;
}

int64_t TzfBaseWin32File::FileSize() {
  CheckFileState(true);
  if (HasAttribute(zffaTemporary)) {
    // No file on disk: the blocks the cache holds, in usable bytes. The index belongs to the
    // buffer manager and is read under its padlock.
    uint32_t cached;
    if (fiBufMgr) {
      fiBufMgr->Lock();
      cached = zfCacheBlockCount(this);
      fiBufMgr->Unlock();
    } else {
      cached = zfCacheBlockCount(this);
    }
    return int64_t(cached) * fiBlockSizeBytes;
  }
  return DescriptorSize(dfiHandle, zfErrReadErr);
}

uint32_t TzfBaseWin32File::ReadFile(uint32_t aToRead, void* aBuffer) {
  CheckFileState(true);
  const uint32_t n = ReadAt(dfiHandle, dfiPosition, aToRead, aBuffer, zfErrReadErr);
  dfiPosition += n;
  return n;
}

void TzfBaseWin32File::ReadFileExact(uint32_t aToRead, void* aBuffer) {
  if (ReadFile(aToRead, aBuffer) != aToRead)
    throw EzfBaseWin32FileException(zfErrReadErr,
                                    u"INTERNAL: Could not read exact number of bytes from file [%s, %d bytes]",
                                    {fiName, aToRead});
}

uint32_t TzfBaseWin32File::ReadFileAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) {
  CheckFileState(true);
  return ReadAt(dfiHandle, aOffset, aToRead, aBuffer, zfErrReadErr);
}

void TzfBaseWin32File::ReadFileExactAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) {
  if (ReadFileAt(aOffset, aToRead, aBuffer) != aToRead)
    throw EzfBaseWin32FileException(zfErrReadErr,
                                    u"INTERNAL: Could not read exact number of bytes from file [%s, %d bytes]",
                                    {fiName, aToRead});
}

void TzfBaseWin32File::WriteFileExact(uint32_t aToWrite, const void* aBuffer) {
  CheckFileState(true);
  WriteExactAt(dfiHandle, dfiPosition, aToWrite, aBuffer);
  dfiPosition += aToWrite;
}

void TzfBaseWin32File::WriteFileExactAt(int64_t aOffset, uint32_t aToWrite, const void* aBuffer) {
  CheckFileState(true);
  WriteExactAt(dfiHandle, aOffset, aToWrite, aBuffer);
}

int64_t TzfBaseWin32File::CalcMaxFileSize() {
  CheckFileState(true);
  return zfMaxFileSizeForPath(fiName);
}

void TzfBaseWin32File::ReadDecryptFileExactAt(int64_t aOffset, uint32_t aToRead, uint8_t* aBuffer,
                                              TzfByteDynArray& aCookie) {
  CheckFileState(true);
  aCookie.clear();
  ReadFileExactAt(aOffset, aToRead, aBuffer);
  if (!fiEncryptionEngine) return;
  if (aOffset == 0)
    fiEncryptionEngine->VerifyHeaderChecksum(aBuffer, aToRead);
  else
    fiEncryptionEngine->DecodeBlockEx(aBuffer, aToRead, static_cast<uint32_t>(aOffset / aToRead), aCookie);
}

void TzfBaseWin32File::WriteEncryptFileExactAt(int64_t aOffset, uint32_t aToWrite, uint8_t* aBuffer,
                                               TzfByteDynArray& aCookie) {
  CheckFileState(true);
  if (!fiEncryptionEngine) {
    WriteFileExactAt(aOffset, aToWrite, aBuffer);
    return;
  }
  if (aOffset == 0) {
    if (!fiChecksum.empty()) fiUpdateTableChecksum(aBuffer);
    fiEncryptionEngine->UpdateHeaderChecksum(aBuffer, aToWrite);
    WriteFileExactAt(aOffset, aToWrite, aBuffer);
    return;
  }
  TzfPooledBlock scratch(zfBlockSizeAllOf(fiBlockSize));
  ZF_ASSERT(aToWrite <= scratch.Size(), kUnit);
  fiEncryptionEngine->CodeBlockEx(aBuffer, scratch.Data(), aToWrite, static_cast<uint32_t>(aOffset / aToWrite), aCookie,
                                  fiChecksum);
  WriteFileExactAt(aOffset, aToWrite, scratch.Data());
}

void TzfBaseWin32File::ReadBlock(TzfBaseCachedBlock& aBlock) {
  CheckFileState(true);
  PzfBlock memory = aBlock.MappedMemory(false);
  ReadDecryptFileExactAt(static_cast<int64_t>(aBlock.CachedBlockNumber()) << BlockShift(), PhysicalBlockBytes(), memory,
                         aBlock.EncryptionCookie());
  aBlock.CountRead();
}

void TzfBaseWin32File::WriteBlock(TzfBaseCachedBlock& aBlock) {
  CheckFileState(true);
  aBlock.SetUnwritten(true);
  dfiWriteRequest.push_back(&aBlock);
}

// Runs also on a failed file: the blocks of a failed commit must be taken back.
void TzfBaseWin32File::RollbackUnwritten() {
  for (TzfBaseCachedBlock* b : dfiWriteRequest) b->RollbackUnwritten();
  dfiWriteRequest.clear();
}

void TzfBaseWin32File::PrepareFlushFile() {
  CheckFileState(true);
  if (HasAttribute(zffaTemporary) || dfiWriteRequest.empty()) return;
  const uint32_t blocksInFile = rtl::RangeChecked<uint32_t>(DescriptorSize(dfiHandle, zfErrReadErr) >> BlockShift());
  auto group = [blocksInFile](TzfBlockNumber n) {
    if (n == 0) return 3;
    if (n <= 2) return 2;
    return n >= blocksInFile ? 0 : 1;
  };
  std::stable_sort(dfiWriteRequest.begin(), dfiWriteRequest.end(),
                   [&](TzfBaseCachedBlock* a, TzfBaseCachedBlock* b) {
                     const TzfBlockNumber na = a->CachedBlockNumber(), nb = b->CachedBlockNumber();
                     const int ga = group(na), gb = group(nb);
                     return ga != gb ? ga < gb : na < nb;
                   });
  uint64_t highest = std::max<uint64_t>(static_cast<uint64_t>(std::max<TzfGrowSize>(fiInitialSize, 0)), 3);
  for (TzfBaseCachedBlock* b : dfiWriteRequest)
    if (group(b->CachedBlockNumber()) == 0) highest = std::max<uint64_t>(highest, b->CachedBlockNumber());
  if (highest < blocksInFile) return;
  const uint64_t grow = std::max<uint64_t>(static_cast<uint64_t>(std::max<TzfGrowSize>(fiGrowSize, 1)), highest / 10);
  const uint64_t newBlocks = (grow > 1 && static_cast<uint64_t>(fiInitialSize) < highest)
                                 ? ((highest / grow) + 1) * grow
                                 : highest + 1;
  SetFileBlocks(newBlocks);
  // A background flush of this file ends before the write-out goes on. The descriptor stays
  // open: the new size is made durable by the flush that follows the write-out.
  WaitForBackgroundFlush();
}

void TzfBaseWin32File::FlushToDevice() {
  int rc;
  do {
    rc = Calls().FDataSync(dfiHandle);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) RaiseIOError(zfErrWriteErr, u"INTERNAL: Error when flushing file [%s, error %d, %s]", errno);
}

void TzfBaseWin32File::FlushFile(bool aFailSafe, TzfBaseReplicationLog* aReplicationLog) {
  CheckFileState(true);
  if (HasAttribute(zffaTemporary)) return;
  if (!dfiWriteRequest.empty()) {
    const uint32_t size = PhysicalBlockBytes();
    std::unique_ptr<TzfPooledBlock> scratch;
    if (fiEncryptionEngine) scratch = std::make_unique<TzfPooledBlock>(zfBlockSizeAllOf(fiBlockSize));
    TzfBaseReplicationLog* log = HasAttribute(zffaReplicationLog) ? aReplicationLog : nullptr;
    if (log) log->BeginFile(fiLogAlias, fiLogTable, fiLogFile, fiBlockSize);
    TzfBlockNumber last = 0xFFFFFFFE;
    for (TzfBaseCachedBlock* b : dfiWriteRequest) {
      const TzfBlockNumber n = b->CachedBlockNumber();
      if (n == last) continue;
      PzfBlock memory = b->MappedMemory(true);
      b->CountWritten();
      if (fiHeaderAccessFactory) fiHeaderAccessFactory->ValidateBlock(memory, n);
      const uint8_t* data = memory;
      if (fiEncryptionEngine) {
        if (n == 0) {
          if (!fiChecksum.empty()) fiUpdateTableChecksum(memory);
          fiEncryptionEngine->UpdateHeaderChecksum(memory, size);
        } else {
          fiEncryptionEngine->CodeBlockEx(memory, scratch->Data(), size, n, b->EncryptionCookie(), fiChecksum);
          data = scratch->Data();
        }
      }
      if (log) log->WriteBlock(n, b->LastLSN(), data);
      WriteExactAt(dfiHandle, static_cast<int64_t>(n) << BlockShift(), size, data);
      last = n;
      b->SetUnwritten(false);
    }
    if (log) log->EndFile();
    dfiWriteRequest.clear();
  }
  if (aFailSafe) {
    TzfPadlockGuard g(dfiFlushingPadlock);
    FlushToDevice();
    return;
  }
  if (HasAttribute(zffaTransWriteThrough) || !zfFlushThreadEnabled) return;
  std::lock_guard<std::mutex> g(gFlushThreadLock);
  if (TzfFlushThread* t = zfFlushThread()) t->Enqueue(*this);
}

void TzfBaseWin32File::OpenWithRetry(int& aFd, TzfOpenMode aMode, TzfShareMode aShare, int aExtraFlags) {
  try {
    aFd = CreateFileHandle(fiName, aMode, aShare, fiWriteThru, false, aExtraFlags);
  } catch (const EzfBaseException&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(zfReopenRetryDelay));
    dfiOpenError = 0;
    aFd = CreateFileHandle(fiName, aMode, aShare, fiWriteThru, false, aExtraFlags);
  }
}

void TzfBaseWin32File::ReopenFile() {
  if (dfiOpenError != 0) RaiseOpenError(dfiOpenError);
  CloseHandle(dfiHandle);
  OpenWithRetry(dfiHandle, fiOpenMode, fiShareMode, 0);
}

// ---------------------------------------------------------------------------------------------
// TzfDualWin32File

const TzfFileClass& TzfDualWin32File::ClassInfo() {
  static const TzfFileClass info{u"TzfDualWin32File", [] { return std::unique_ptr<TzfBaseFile>(new TzfDualWin32File()); }};
  return info;
}

TzfDualWin32File::~TzfDualWin32File() {
  RemoveFromFlushQueue();
  WaitForBackgroundFlush();
  try {
    if (dfiHandle >= 0 && !HasAttribute(zffaTemporary)) CloseDescriptors();
  } catch (...) {
  }
}

void TzfDualWin32File::CloseDescriptors() {
  int read = ofiHandle;
  ofiHandle = -1;
  try {
    CloseHandle(dfiHandle);
  } catch (...) {
    CloseHandle(read);
    throw;
  }
  CloseHandle(read);
}

void TzfDualWin32File::CloseFile() {
  TzfBaseWin32File::CloseFile();
  if (HasAttribute(zffaTemporary)) ofiHandle = -1;
}

void TzfDualWin32File::OpenFile(TzfOpenMode aOpenMode, TzfShareMode aShareMode, bool aWriteThru, bool aCreateFile) {
  const TzfOpenMode mode = PrepareOpen(aOpenMode, aCreateFile);
  if (HasAttribute(zffaTemporary)) {
    dfiHandle = kTemporaryHandle;
    ofiHandle = kTemporaryHandle;
  } else {
    // The share lock sits on the write descriptor; the read descriptor takes none, so the two
    // descriptors of one file never conflict with each other.
    dfiHandle = CreateFileHandle(fiName, mode == omReadOnly ? omReadOnly : omWriteOnly, aShareMode, aWriteThru,
                                 aCreateFile, 0);
    try {
      ofiHandle = CreateFileHandle(fiName, mode == omWriteOnly ? omWriteOnly : omReadOnly, smShared, aWriteThru, false,
                                   kNoShareLock);
    } catch (...) {
      const int error = dfiOpenError;
      try {
        CloseHandle(dfiHandle);
      } catch (...) {
      }
      dfiOpenError = error;
      throw;
    }
    if (aCreateFile) zfSyncFolderOf(fiName);
  }
  fiOpenMode = mode;
  fiShareMode = aShareMode;
  fiWriteThru = aWriteThru;
}

int64_t TzfDualWin32File::PositionFileEOF() {
  CheckFileState(true);
  RaiseIOError(zfErrWriteErr, u"INTERNAL: Error when setting end-of-file [%s, error %d, %s]", kErrNotSupportedRequest);
}

int64_t TzfDualWin32File::FileSize() { return TzfBaseWin32File::FileSize(); }

uint32_t TzfDualWin32File::ReadFile(uint32_t, void*) {
  CheckFileState(true);
  RaiseIOError(zfErrReadErr, u"INTERNAL: Error when reading from file [%s, error %d, %s]", kErrNotSupportedRequest);
}

void TzfDualWin32File::ReadFileExact(uint32_t aToRead, void* aBuffer) { ReadFile(aToRead, aBuffer); }

uint32_t TzfDualWin32File::ReadFileAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) {
  CheckFileState(true);
  return ReadAt(ofiHandle, aOffset, aToRead, aBuffer, zfErrReadErr);
}

void TzfDualWin32File::ReadFileExactAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) {
  if (ReadFileAt(aOffset, aToRead, aBuffer) != aToRead)
    throw EzfDualWin32FileException(zfErrReadErr,
                                    u"INTERNAL: Could not read exact number of bytes from file [%s, %d bytes]",
                                    {fiName, aToRead});
}

void TzfDualWin32File::WriteFileExact(uint32_t, const void*) {
  CheckFileState(true);
  RaiseIOError(zfErrWriteErr, u"INTERNAL: Error when writing to file [%s, error %d, %s]", kErrNotSupportedRequest);
}

void TzfDualWin32File::ReopenFile() {
  if (dfiOpenError != 0) RaiseOpenError(dfiOpenError);
  CloseHandle(dfiHandle);
  try {
    OpenWithRetry(dfiHandle, fiOpenMode == omReadOnly ? omReadOnly : omWriteOnly, fiShareMode, 0);
  } catch (...) {
    try {
      CloseHandle(ofiHandle);
    } catch (...) {
    }
    throw;
  }
}

// ---------------------------------------------------------------------------------------------
// TzfFlushThread

TzfFlushThread::TzfFlushThread() : TzfThread(false, zftpNormal, u"FlushThread") {}

void TzfFlushThread::Enqueue(TzfBaseWin32File& aFile) {
  {
    TzfPadlockGuard g(ftFileListPadlock);
    if (!aFile.dfiFlushRequestAdded) {
      aFile.dfiFlushRequestPrev = ftFileListTail;
      aFile.dfiFlushRequestNext = nullptr;
      if (ftFileListTail)
        ftFileListTail->dfiFlushRequestNext = &aFile;
      else
        ftFileListHead = &aFile;
      ftFileListTail = &aFile;
      aFile.dfiFlushRequestAdded = true;
    }
  }
  ResetMinTimer();
}

void TzfFlushThread::Remove(TzfBaseWin32File& aFile) {
  TzfPadlockGuard g(ftFileListPadlock);
  if (!aFile.dfiFlushRequestAdded) return;
  if (aFile.dfiFlushRequestPrev)
    aFile.dfiFlushRequestPrev->dfiFlushRequestNext = aFile.dfiFlushRequestNext;
  else
    ftFileListHead = aFile.dfiFlushRequestNext;
  if (aFile.dfiFlushRequestNext)
    aFile.dfiFlushRequestNext->dfiFlushRequestPrev = aFile.dfiFlushRequestPrev;
  else
    ftFileListTail = aFile.dfiFlushRequestPrev;
  aFile.dfiFlushRequestPrev = aFile.dfiFlushRequestNext = nullptr;
  aFile.dfiFlushRequestAdded = false;
}

TzfBaseWin32File* TzfFlushThread::TakeHead() {
  TzfPadlockGuard g(ftFileListPadlock);
  TzfBaseWin32File* file = ftFileListHead;
  if (!file) return nullptr;
  TzfPadlockGuard f(file->dfiFlushingPadlock);
  Remove(*file);
  file->dfiFlushingEvent.ResetEvent();
  return file;
}

void TzfFlushThread::ResetMaxTimer() {
  std::lock_guard<std::mutex> g(ftTimerLock);
  ftMaxDue = static_cast<int64_t>(zf::os::GetTickCount64()) + zfFlushMaxInterval;
}

void TzfFlushThread::ResetMinTimer() {
  {
    std::lock_guard<std::mutex> g(ftTimerLock);
    ftMinDue = static_cast<int64_t>(zf::os::GetTickCount64()) + zfFlushMinDelay;
  }
  ftTimerCond.notify_all();
}

void TzfFlushThread::WakeUp() {
  {
    std::lock_guard<std::mutex> g(ftTimerLock);
    ftWake = true;
  }
  ftTimerCond.notify_all();
}

void TzfFlushThread::Wait() {
  std::unique_lock<std::mutex> l(ftTimerLock);
  while (!Terminated() && !ftWake) {
    const int64_t now = static_cast<int64_t>(zf::os::GetTickCount64());
    int64_t due = ftMaxDue;
    if (ftMinDue != 0 && ftMinDue < due) due = ftMinDue;
    if (now >= due) {
      if (ftMinDue != 0 && now >= ftMinDue) ftMinDue = 0;
      break;
    }
    ftTimerCond.wait_for(l, std::chrono::milliseconds(due - now));
  }
  ftWake = false;
}

void TzfFlushThread::ThreadMain() {
  ResetMaxTimer();
  Wait();
  while (!Terminated()) {
    try {
      while (TzfBaseWin32File* file = TakeHead()) {
        try {
          file->FlushToDevice();
          ftFlushCount.fetch_add(1);
        } catch (const EzfBaseException& e) {
          // The commit was reported done: the failure must reach the log and the file's next user.
          // Logged first: whoever sees the file failed also sees the log line.
          zfWriteStorageLog(u"Deferred flush failed: " + e.Message(), e.ErrorCode());
          ftFailureCount.fetch_add(1);
          file->MarkFlushFailed(e.ErrorCode(), e.Message());
        }
        file->dfiFlushingEvent.SetEvent();
      }
    } catch (...) {
      // The round ends; the loop goes on.
    }
    ResetMaxTimer();
    Wait();
  }
}

// ---------------------------------------------------------------------------------------------

rtl::TUnitInit& zfsrFileImplUnit() {
  static rtl::TUnitInit unit(
      "zfsrFileImpl",
      [] {
        if (!TzfBaseFile::TableFileInfoClass) TzfBaseFile::TableFileInfoClass = &TzfDualWin32File::ClassInfo();
        if (!TzfBaseFile::DefaultFileInfoClass) TzfBaseFile::DefaultFileInfoClass = &TzfBaseWin32File::ClassInfo();
        std::lock_guard<std::mutex> g(gFlushThreadLock);
        gFlushThreadOwner = zfCreateThread<TzfFlushThread>();
        gFlushThread.store(gFlushThreadOwner.get(), std::memory_order_release);
      },
      [] {
        TzfThreadPtr<TzfFlushThread> thread;
        {
          std::lock_guard<std::mutex> g(gFlushThreadLock);
          gFlushThread.store(nullptr, std::memory_order_release);
          thread = std::move(gFlushThreadOwner);
        }
        thread.reset();  // stops and joins
      });
  return unit;
}

}  // namespace zf
