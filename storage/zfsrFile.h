// One physical file of a table as the storage layer sees it (TzfBaseFile), the base classes of
// its header block's access (factory and per-use access, registered by block-0 signature), the
// part of a cached block that the file's reads and write-out use, and the replication log
// interface fed during write-out.
//
// A file object is made by Alloc, opened by OpenFile, gets its header by AddHeader (new file) or
// ReadHeader (existing file, called by the buffer manager's AddFile), is detached from the cache
// by the buffer manager's RemoveFile, then closed and freed by its owner. Its OS operations are
// abstract here; zfsrFileImpl puts them on operating-system files.
//
// The whole-file iterations (IterateBlocks and its raw and cookie forms) read the disk, never the
// cache, with a private buffer and no lock: they are the road of every table recovery. They hand
// every readable block to the iterator and report every block they cannot read with its number
// and the reason; a failed read never ends the walk early and never passes for the end of the file.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdOpenModes.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlText.h"
#include "storage/zfsrBlock.h"
#include "storage/zfsrEncryptionEngineBase.h"
#include "storage/zfsrExceptions.h"

namespace zf {

// The cache, block objects, transactions and block access (the buffer-manager cluster).
class TzfBufferManager;
class TzfBaseTransaction;
class TzfBaseTransactionLevel;
class TzfBlockAccess;
class TzfReadOnlyBlock;
class TzfFileSnapShotLink;
struct TzfBlockContainer;
class TzfBaseTempStorage;

class TzfBaseFile;
class TzfBaseFileHeaderAccess;
class TzfBaseFileHeaderAccessFactory;

ZF_DECLARE_ENGINE_EXCEPTION(EzfFileHeaderAccessException, EzfServerException)


// zffaTemporary: no OS file, the blocks live in the cache and the temporary store;
// zffaTransWriteThrough: never queued for a deferred flush; zffaReplicationLog: its writes are
// passed to the replication log.
enum TzfFileAttribute : uint8_t { zffaTemporary, zffaMemTable, zffaTransWriteThrough, zffaReplicationLog };
using TzfFileAttributes = uint8_t;
constexpr TzfFileAttributes zfFileAttr(TzfFileAttribute a) { return static_cast<TzfFileAttributes>(1u << a); }

enum TzfBlockIteratorResult : uint8_t { birContinue, birStop };

// Why a block of a whole-file iteration could not be read: the engine code and message of the
// failure (a short read of a truncated tail, an OS read error, a header checksum or decoding
// failure).
struct TzfBlockReadFailure {
  uint32_t ErrorCode = 0;
  rtl::UnicodeString Message;
};

// Called for every physical block in order. aBlock is the block's bytes (the file's physical block
// size), or nullptr when it could not be read; aFailure then says why (nullptr otherwise).
using TzfBlockIterator = std::function<TzfBlockIteratorResult(void* aCookie, TzfBlockNumber aBlockNr, PzfBlock aBlock,
                                                              const TzfBlockReadFailure* aFailure)>;
// The same with the block's encryption cookie.
using TzfBlockCookieIterator =
    std::function<TzfBlockIteratorResult(void* aCookie, TzfBlockNumber aBlockNr, PzfBlock aBlock,
                                         const TzfByteDynArray& aBlockCookie, const TzfBlockReadFailure* aFailure)>;

// ---------------------------------------------------------------------------------------------
// What the file's block read and write-out use of a cached block. The buffer manager's block
// objects (TzfReadOnlyBlock) implement it.

class TzfBaseCachedBlock {
 public:
  virtual ~TzfBaseCachedBlock() = default;
  virtual TzfBlockNumber CachedBlockNumber() const = 0;
  // The block's cache memory in the mapped state. For a read it must be mapped already (asserted
  // by the caller's state); for the write-out the block brings it there under the buffer
  // manager's lock, updates its list position without counting and lets the cache trim.
  virtual PzfBlock MappedMemory(bool aForWriteOut) = 0;
  virtual TzfByteDynArray& EncryptionCookie() = 0;
  // LSN of the image being written (for the replication log).
  virtual TzfLSN LastLSN() const = 0;
  virtual bool Unwritten() const = 0;
  virtual void SetUnwritten(bool aValue) = 0;
  // Takes the block's pending write back (the commit failed).
  virtual void RollbackUnwritten() = 0;
  // The buffer manager's read and written counters.
  virtual void CountRead() = 0;
  virtual void CountWritten() = 0;
};

// ---------------------------------------------------------------------------------------------
// Replication log: no concrete class exists; every caller tests for nil.

class TzfBaseReplicationLog : public TzfObject {
 public:
  virtual void BeginTrans(TzfLSN aLSN) = 0;
  virtual void EndTrans() = 0;
  virtual void BeginFile(const rtl::UnicodeString& aAlias, const rtl::UnicodeString& aTable,
                         const rtl::UnicodeString& aFile, TzfBlockSize aBlockSize) = 0;
  virtual void EndFile() = 0;
  virtual void WriteBlock(TzfBlockNumber aBlockNumber, TzfLSN aOldLSN, const uint8_t* aBlock) = 0;
};

// ---------------------------------------------------------------------------------------------
// Table file

// Class reference of a file class: its name and virtual constructor.
struct TzfFileClass {
  const char16_t* Name;
  std::unique_ptr<TzfBaseFile> (*Create)();
};

class TzfBaseFile : public TzfObject {
 public:
  TzfBaseFile();
  ~TzfBaseFile() override;
  TzfBaseFile(const TzfBaseFile&) = delete;
  TzfBaseFile& operator=(const TzfBaseFile&) = delete;
  virtual const TzfFileClass& ClassType() const = 0;
  const char16_t* ClassName() const { return ClassType().Name; }

  // The classes Alloc makes for tables and for every other file (set by the file unit's start
  // when nothing set them before).
  static const TzfFileClass* TableFileInfoClass;
  static const TzfFileClass* DefaultFileInfoClass;

  // A file object of TableFileInfoClass (aForTable) or DefaultFileInfoClass; fiName := aName,
  // fiPath := its folder (expanded, with a trailing delimiter), fiBufMgr := aBufMgr. An unset
  // class is an assertion failure.
  static std::unique_ptr<TzfBaseFile> Alloc(bool aForTable, const rtl::UnicodeString& aName, TzfBufferManager* aBufMgr);

  // ---- virtual operations in slot order ----

  // Trims blanks; an absolute name stays as it is; any other is put into fiPath.
  virtual rtl::UnicodeString ExpandRelativeFileName(const rtl::UnicodeString& aFileName);
  virtual void CloseFile() = 0;
  virtual bool FileIsOpen() = 0;
  // Orders the pending write-outs and grows the file before a commit writes any block.
  virtual void PrepareFlushFile() = 0;
  // Writes the pending blocks; aFailSafe flushes to the device now, else the flush is deferred.
  virtual void FlushFile(bool aFailSafe, TzfBaseReplicationLog* aReplicationLog) = 0;
  virtual void OpenFile(TzfOpenMode aOpenMode, TzfShareMode aShareMode, bool aWriteThru, bool aCreateFile) = 0;
  // Size of the file (64-bit), positioned at its end.
  virtual int64_t PositionFileEOF() = 0;
  virtual int64_t FileSize() = 0;
  // Sequential and positioned transfers; the exact forms raise when fewer bytes moved.
  virtual uint32_t ReadFile(uint32_t aToRead, void* aBuffer) = 0;
  virtual void ReadFileExact(uint32_t aToRead, void* aBuffer) = 0;
  virtual uint32_t ReadFileAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) = 0;
  virtual void ReadFileExactAt(int64_t aOffset, uint32_t aToRead, void* aBuffer) = 0;
  virtual void WriteFileExact(uint32_t aToWrite, const void* aBuffer) = 0;
  virtual void WriteFileExactAt(int64_t aOffset, uint32_t aToWrite, const void* aBuffer) = 0;
  // The largest file the volume of the file allows (0 when it cannot be told).
  virtual int64_t CalcMaxFileSize() = 0;
  // Reads exactly, then with an encryption engine verifies block 0's checksum (offset 0) or
  // decodes the block (offset div length as block number). The cookie is cleared first.
  virtual void ReadDecryptFileExactAt(int64_t aOffset, uint32_t aToRead, uint8_t* aBuffer, TzfByteDynArray& aCookie) = 0;
  // Direct write outside the commit path, enciphered as the write-out does.
  virtual void WriteEncryptFileExactAt(int64_t aOffset, uint32_t aToWrite, uint8_t* aBuffer,
                                       TzfByteDynArray& aCookie) = 0;
  // Reads one cached block from the file / queues it for the next write-out.
  virtual void ReadBlock(TzfBaseCachedBlock& aBlock) = 0;
  virtual void WriteBlock(TzfBaseCachedBlock& aBlock) = 0;
  // Takes back every queued write-out (RollbackUnwritten of each block) and empties the queue.
  virtual void RollbackUnwritten() = 0;

  // ---- header ----

  // Creates block 0 of a new file: obtains block 0 from the cache (AddBlock, dirty for aTrans),
  // InitHeader on it and releases it. 0 or the encryption engine's code. Defined with the buffer
  // manager.
  uint32_t AddHeader(TzfBaseTransaction* aTrans, const TzfUnicodeStrings& aPasswords, const TzfBlockSignature& aSignature);
  // AddHeader's work on a zero-filled block 0 in memory: the factory for aSignature initialises
  // it and the file's fields, then the named encryption engine is made and the factory's
  // InitTableChecksum runs. 0 or the encryption engine's code (15503 for an unknown engine).
  uint32_t InitHeader(PzfBlock aBlock0, const TzfUnicodeStrings& aPasswords, const TzfBlockSignature& aSignature);
  // Reads and checks block 0 of an existing file into the file's fields. 0; 15415 (newer engine
  // version, message pending); the encryption engine's code (10763 becomes 0 with aIsReadOnly).
  // A damaged block 0 raises 8961, an unknown signature 9992. On failure no factory is left.
  uint32_t ReadHeader(const TzfUnicodeStrings& aPasswords, bool& aIsReadOnly);

  // ---- whole-file iterations (disk, not cache) ----

  // Every physical block in order, decoded (block 0 checksum-verified), until birStop.
  TzfBlockIteratorResult IterateBlocks(void* aCookie, const TzfBlockIterator& aIterator);
  // The same without decryption.
  TzfBlockIteratorResult IterateBlocksRaw(void* aCookie, const TzfBlockIterator& aIterator);
  // As IterateBlocks, passing each block's encryption cookie too.
  TzfBlockIteratorResult IterateBlockCookies(void* aCookie, const TzfBlockCookieIterator& aIterator);

  // FileSize div the physical block size, partial tail block not counted (must fit 32 bits).
  uint32_t PhysicalBlockCount();
  // "(memory)" for a temporary file, else fiPath + the name part of fiName.
  rtl::UnicodeString FileName() const;
  // Copies fiChecksum into the header's table-checksum area (asserts engine and size).
  void fiUpdateTableChecksum(PzfBlock aHeader);

  // Physical block size in bytes and the shift from block number to offset.
  uint32_t PhysicalBlockBytes() const { return zfBlockBytes(fiBlockSize); }
  uint32_t BlockShift() const { return zfBlockShift(fiBlockSize); }
  bool HasAttribute(TzfFileAttribute a) const { return (fiAttributes & zfFileAttr(a)) != 0; }

  // ---- transaction membership (defined with the storage transactions) ----

  // Binds the file to aTrans on first touch and records the level.
  void TouchedBy(TzfBaseTransaction* aTrans);
  // Unlinks the file from its transaction.
  void LeaveTransaction();

  // ---- fields ----

  // Transaction membership (changed under the buffer manager's lock).
  TzfBaseTransaction* fiTrans = nullptr;
  TzfBaseTransactionLevel* fiTransLevel = nullptr;
  TzfBaseFile* fiTransNext = nullptr;
  TzfBaseFile* fiTransPrev = nullptr;
  // Snapshot links (Part of the cache; changed under the buffer manager's lock).
  std::vector<uint8_t> fiSnapShotFlags;
  std::vector<TzfFileSnapShotLink*> fiSnapShotLinks;
  TzfFileSnapShotLink* fiSnapShotLinkHead = nullptr;
  TzfFileSnapShotLink* fiSnapShotLinkTail = nullptr;
  uint32_t fiSnapShotCounter = 0;

  rtl::UnicodeString fiName;
  rtl::UnicodeString fiPath;
  TzfOpenMode fiOpenMode = omReadOnly;
  TzfShareMode fiShareMode = smExclusive;
  bool fiWriteThru = false;
  TzfBlockSignature fiHeaderSignature{};
  rtl::UnicodeString fiEncryptionEngineName;
  rtl::UnicodeString fiStreamEngineName;
  // Engine version recorded at block 0 offset 36: read from block 0, or set by the creator
  // before AddHeader (the engine's own version unless it sets another).
  int32_t fiZofrinVersion = zfEngineVersion;
  uint32_t fiCheckSumSize = 0;
  TzfByteDynArray fiChecksum;
  bool fiCheckSumVerified = false;
  TzfFileAttributes fiAttributes = 0;
  bool fiForServer = false;
  std::unique_ptr<TzfBaseEncryptionEngine> fiEncryptionEngine;
  TzfBaseTempStorage* fiTempStore = nullptr;
  TzfBufferManager* fiBufMgr = nullptr;
  std::unique_ptr<TzfBaseFileHeaderAccessFactory> fiHeaderAccessFactory;
  TzfBlockSize fiBlockSize = TzfBlockSize::zfbs4k;
  // Usable bytes per block as set by the header factory.
  uint32_t fiBlockSizeBytes = 0;
  uint32_t fiMaxBlocks = 0;
  uint32_t fiUsedBlocks = 0;
  uint32_t fiTransUsedBlocks = 0;
  TzfGrowSize fiInitialSize = 1;
  TzfGrowSize fiGrowSize = 1;
  // Cache index (the buffer manager's).
  TzfReadOnlyBlock* fiBlockListHead = nullptr;
  TzfReadOnlyBlock* fiBlockListTail = nullptr;
  TzfReadOnlyBlock* fiBlockZero = nullptr;
  TzfBlockContainer* fiBlockContainerList = nullptr;
  std::array<void*, 256> fiBlocks{};
  uint32_t* fiSnapshotBlockCount = nullptr;
  // Highest block owner ID accepted; the root table sets the dictionary's current ID.
  int32_t fiMaxID = 2147483647;
  rtl::UnicodeString fiLogAlias;
  rtl::UnicodeString fiLogTable;
  rtl::UnicodeString fiLogFile;

 private:
  TzfBlockIteratorResult Iterate(void* aCookie, bool aDecrypt, const TzfBlockCookieIterator& aIterator);
};

// fiPath's rule: the folder of aName, expanded to a full path, with a trailing delimiter.
rtl::UnicodeString zfFileFolderOf(const rtl::UnicodeString& aName);

// ---------------------------------------------------------------------------------------------
// Header access: one short-lived object per use of a (sub-)file's header block, made by the
// file's factory and freed by the caller.

class TzfBaseFileHeaderAccess;

// Class reference of a header-access class: name and virtual constructor (construct, then Init).
struct TzfFileHeaderAccessClass {
  const char16_t* Name;
  std::unique_ptr<TzfBaseFileHeaderAccess> (*Create)(TzfBaseFile& aFile, TzfBaseTransaction* aTrans, bool aMarkDirty,
                                                     TzfBlockAccess* aBlockAccess);
};

class TzfBaseFileHeaderAccess : public TzfObject {
 public:
  TzfBaseFileHeaderAccess(TzfBaseFile& aFile, bool aMarkDirty, TzfBlockAccess* aBlockAccess);
  // Releases the header block (when one is held) and frees the root table's access.
  ~TzfBaseFileHeaderAccess() override;
  virtual const TzfFileHeaderAccessClass& ClassType() const = 0;
  const char16_t* ClassName() const { return ClassType().Name; }

  // Second phase of the virtual constructor: for a sub-file first the root table's access of the
  // same kind (bfhaMainHeader), then ReadHeaderBlock. Defined with the block access.
  void Init(TzfBaseTransaction* aTrans);

  // For a nested table the root table's answer, else the values at offsets 32 and 28 of block 0.
  virtual uint32_t UsedBlockCount() = 0;
  virtual uint32_t FreeBlockCount() = 0;
  // Gets the header block through the block access (for change when dirty). Defined with the
  // block access.
  virtual void ReadHeaderBlock(TzfBaseTransaction* aTrans);
  // A new block owned by aID, writable; released through aReleaseMethod.
  virtual PzfBlock GetNewBlock(TzfBaseTransaction* aTrans, int32_t aID, TzfReleaseMethod& aReleaseMethod) = 0;
  // Gives a block obtained for change back to the free blocks.
  virtual void DeleteBlock(TzfBaseTransaction* aTrans, PzfBlock aBlock) = 0;
  // The offset in the header block of the named section of aSize bytes (creating it with aCreate).
  virtual uint16_t RegisterHeaderSection(std::string_view aName, uint8_t aSize, bool aCreate, bool aOverwrite) = 0;
  // Base: 12289 "ChangePassword not supported by <class>".
  virtual void ChangePassword(const rtl::UnicodeString& aNewPassword);

  // Releases the header block and fetches it again for change (no-op when dirty already).
  // Defined with the block access.
  void MarkDirty(TzfBaseTransaction* aTrans);
  TzfLSN ReadHeaderLSN() const { return zfGetBlockLSN(Header); }

  TzfBaseFile* bfhaHeaderFile;
  bool bfhaIsDirty;
  TzfReleaseMethod bfhaRelease;
  TzfBlockAccess* bfhaBlockAccess;
  std::unique_ptr<TzfBaseFileHeaderAccess> bfhaMainHeader;
  PzfBlock Header = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Header-access factory: one per open file, chosen by the block-0 signature.

// Class reference of a factory class: name, virtual constructor and class functions.
struct TzfFileHeaderAccessFactoryClass {
  const char16_t* Name;
  // A non-zero aSignature initialises a new block 0 in aHeader and the file's matching fields;
  // a zero one reads an existing block 0 into the file (raising 8961 when it is damaged).
  std::unique_ptr<TzfBaseFileHeaderAccessFactory> (*Create)(const TzfBlockSignature& aSignature, TzfBaseFile& aFile,
                                                            PzfBlock aHeader);
  // Bytes the format reserves in every block besides the encryption engine's.
  int32_t (*GetAdditionalReservedSpace)();
  // The format's own check of a dictionary.
  void (*CheckValid)(TzfDataDictionary& aDictionary, bool aForBuild);
};

class TzfBaseFileHeaderAccessFactory : public TzfObject {
 public:
  explicit TzfBaseFileHeaderAccessFactory(TzfBaseFile& aFile) : bfhafFile(&aFile) {}
  virtual const TzfFileHeaderAccessFactoryClass& ClassType() const = 0;
  const char16_t* ClassName() const { return ClassType().Name; }

  // ---- virtual operations in slot order ----
  virtual const TzfFileHeaderAccessClass& GetFileHeaderAccessClass() const = 0;
  // Refuses to create a header of a format that cannot be created; base nothing.
  virtual void CheckHeaderCreation(PzfBlock aHeader, bool aCreating) {}
  // After the encryption engine was made: sets the file's checksum size and zero-fills (creating)
  // or loads (opening) the table checksum; base nothing.
  virtual void InitTableChecksum(PzfBlock aHeader, bool aCreating) {}
  // Checks the whole header block once it is read in full (block 0's section area and
  // directory); raises 8961 when it is damaged. Base nothing.
  virtual void CheckHeader(const uint8_t* aHeader) {}
  // A new header access of GetFileHeaderAccessClass (asserting that aBlockAccess belongs to this
  // file). Defined with the block access.
  std::unique_ptr<TzfBaseFileHeaderAccess> CreateFileHeaderAccess(TzfBaseTransaction* aTrans, bool aMarkDirty,
                                                                   TzfBlockAccess* aBlockAccess);
  // The stored block number must equal aBlockNum (or be 0 when aID is 0); else 8962.
  virtual void VerifyID(const uint8_t* aBlock, TzfBlockNumber aBlockNum, int32_t aID);
  // True when VerifyID would pass: the block is aBlockNum of the sub-file aID.
  virtual bool Belongs(const uint8_t* aBlock, TzfBlockNumber aBlockNum, int32_t aID);
  // The stored block number must equal aBlockNum; else 8962.
  virtual void ValidateBlock(const uint8_t* aBlock, TzfBlockNumber aBlockNum);
  // The block's owner ID; base 0.
  virtual int32_t GetID(const uint8_t* aBlock) { return 0; }
  virtual uint32_t GetUsedBlocks(const uint8_t* aHeader) = 0;
  // The encryption engine's area / the table checksum in block 0; base nullptr.
  virtual PzfByteArray GetEncryptionEngineHeader(PzfBlock aHeader) { return nullptr; }
  virtual PzfByteArray GetTableChecksum(PzfBlock aHeader) { return nullptr; }
  static int32_t ClassAdditionalReservedSpace() { return 0; }
  static void ClassCheckValid(TzfDataDictionary&, bool) {}

  // ---- registry ----
  // Adds aClass under the four signature characters; a taken signature raises EStringListError.
  static void Register(const TzfFileHeaderAccessFactoryClass& aClass, const TzfBlockSignature& aSignature);
  // Removes every entry of aClass (the registry goes when it is empty).
  static void UnRegister(const TzfFileHeaderAccessFactoryClass& aClass);
  // The factory for aSignature, or for the first four bytes of aHeader when aSignature is zero:
  // 15414 without any factory, 9992 '"%s" is not a ZofrinDB formatted file, or its file header is
  // corrupt' (file name) for an unknown signature.
  static std::unique_ptr<TzfBaseFileHeaderAccessFactory> CreateFactory(const TzfBlockSignature& aSignature,
                                                                       PzfBlock aHeader, TzfBaseFile& aFile);
  // 15414 without factories, 15504 for an unregistered signature, else the class's check.
  static void CheckValid(TzfDataDictionary& aDictionary, bool aForBuild);
  // The class's additional reserve (same errors).
  static int32_t GetAdditionalReservedSpace(const TzfBlockSignature& aSignature);
  // The class registered for aSignature, nullptr when none.
  static const TzfFileHeaderAccessFactoryClass* FindFactoryClass(const TzfBlockSignature& aSignature);

  TzfBaseFile* bfhafFile;

 protected:
  // 8962 "Block %d is identified as block %d in the block header in file "%s"".
  [[noreturn]] void RaiseBlockMismatch(TzfBlockNumber aExpected, TzfBlockNumber aStored) const;
};

rtl::TUnitInit& zfsrFileUnit();

}  // namespace zf
