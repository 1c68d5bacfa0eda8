// The table file header (block 0) in its two versions, "ZF!1" (read only) and "ZF!2" (every new
// file), with their factories and access classes.
//
// Block 0, fields common to both versions (little-endian; a new block is zero-filled first):
//
// | offset | size | content                                                                      |
// |--------|------|------------------------------------------------------------------------------|
// | 0      | 4    | signature "ZF!1" or "ZF!2"                                                   |
// | 4      | 4    | block number, always 0                                                       |
// | 8      | 8    | LSN, 0 when created                                                          |
// | 16     | 1    | block size code 0..4                                                         |
// | 20     | 4    | usable block size                                                            |
// | 24     | 4    | v1: first block of the free chain; v2: first free-block map block (-1: none) |
// | 28     | 4    | v1: blocks in the free chain; v2: entries of the free-block cache, 0..20     |
// | 32     | 4    | blocks in use, block 0 included; 1 when created                              |
// | 36     | 4    | engine version that created the file                                         |
// | 40     | 32   | encryption engine name: length byte and up to 31 characters                  |
// | 72     | 32   | stream engine name: length byte and up to 31 characters                      |
//
// Version 2 adds:
//
// | offset        | size      | content                                                         |
// |---------------|-----------|-----------------------------------------------------------------|
// | 17            | 2         | size E of the encryption engine's header area (0 without one)   |
// | 104           | 80        | free-block cache: 20 block numbers                              |
// | 256           | 2         | upper end U of the section area: usable - E - 1 when created    |
// | 258           | ...       | section directory, growing upwards, ended by a zero byte        |
// | ...           | ...       | section data, growing downwards from U                          |
// | usable - E - 1| E         | encryption engine's header area (table checksum at its end)     |
// | usable - 1    | 1         | zero                                                            |
//
// Directory entry: name as a length byte and ANSI characters, then the 2-byte offset at which the
// section starts; a section ends where the previous one starts (the first at U).
//
// Usable size = physical size - the encryption engine's per-block reserve - the format's reserve
// (4 in version 2: the block owner ID, stored at offset usable of every block).
//
// Checks when block 0 is read (a failure is 8961 "Corrupt table/index header."): size code 0..4;
// usable size equal to physical - format reserve when no encryption engine is named, else within
// it and above the fixed fields; engine name lengths at most 31; used blocks at least 1; v2: free
// cache count at most 20, E and U inside the usable size, and a directory that ends before U with
// entries whose sections lie between the directory's end and the previous section.
#pragma once
#include <cstdint>
#include <string_view>

#include "storage/zfsrFile.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(Ezf1xFileHeaderAccessException, EzfFileHeaderAccessException)
ZF_DECLARE_ENGINE_EXCEPTION(Ezf2xFileHeaderAccessException, EzfFileHeaderAccessException)

// Block-0 offsets.
inline constexpr uint32_t kzfHdrBlockSizeCode = 16;
inline constexpr uint32_t kzfHdrEncryptionHeaderSize = 17;  // v2
inline constexpr uint32_t kzfHdrUsableSize = 20;
inline constexpr uint32_t kzfHdrFreeHead = 24;
inline constexpr uint32_t kzfHdrFreeCount = 28;
inline constexpr uint32_t kzfHdrUsedBlocks = 32;
inline constexpr uint32_t kzfHdrEngineVersion = 36;
inline constexpr uint32_t kzfHdrEncryptionName = 40;
inline constexpr uint32_t kzfHdrStreamName = 72;
inline constexpr uint32_t kzfHdrNameFieldSize = 32;
inline constexpr uint32_t kzfHdrFreeCache = 104;  // v2
inline constexpr uint32_t kzfHdrFreeCacheEntries = 20;
inline constexpr uint32_t kzfHdrSectionUpper = 256;  // v2
inline constexpr uint32_t kzfHdrDirectory = 258;     // v2
inline constexpr uint32_t kzfNoBlock = 0xFFFFFFFF;

// Block owner IDs of version 2 files.
inline constexpr int32_t kzfOwnerFreeBlockMap = 0x7FFFFFFF;
inline constexpr int32_t kzfOwnerHeaderOverflow = 0x7FFFFFFE;

// ---- version 2 section directory on a header block in memory ----

// The offset of an existing section: 8712 when the name is not in the directory, 8961 when its
// size differs from aSize or the directory is damaged.
uint16_t zf2xFindHeaderSection(const uint8_t* aHeader, uint32_t aUsable, std::string_view aName, uint8_t aSize);
// Creates a section of aSize bytes (or, with aOverwrite, answers an existing one as
// zf2xFindHeaderSection does): 10009 for a taken name without aOverwrite, 9473 "File header is
// full" when the area has no room; the directory is unchanged on failure.
uint16_t zf2xCreateHeaderSection(uint8_t* aHeader, uint32_t aUsable, std::string_view aName, uint8_t aSize,
                                 bool aOverwrite);
// Walks the whole directory of a v2 block 0 and raises 8961 when an entry or the upper end lies
// outside the section area (used when block 0 is read).
void zf2xCheckSectionDirectory(const uint8_t* aHeader, uint32_t aUsable);
// The fixed section offset of a v1 header for a name (case ignored); 12289 "Custom HeaderSections
// are not supported in a v1 header" for any other.
uint16_t zf1xHeaderSectionOffset(std::string_view aName);

// ---- factories ----

class TzfCommonFileHeaderAccessFactory : public TzfBaseFileHeaderAccessFactory {
 public:
  explicit TzfCommonFileHeaderAccessFactory(TzfBaseFile& aFile) : TzfBaseFileHeaderAccessFactory(aFile) {}
  // Second phase of the virtual constructor. Creating (non-zero aSignature): zero-fills the
  // physical block and writes the common fields (and the file's usable size and used blocks);
  // reading: checks the common fields and takes them into the file (8961 when damaged).
  virtual void Initialize(const TzfBlockSignature& aSignature, PzfBlock aHeader);
  static const TzfFileHeaderAccessFactoryClass& ClassInfo();
  const TzfFileHeaderAccessFactoryClass& ClassType() const override { return ClassInfo(); }
  const TzfFileHeaderAccessClass& GetFileHeaderAccessClass() const override;
  uint32_t GetUsedBlocks(const uint8_t* aHeader) override { return zfGetLE32(aHeader + kzfHdrUsedBlocks); }

 protected:
  // Reserve of the format (virtual class function of the subclasses).
  virtual int32_t AdditionalReserve() const { return 0; }
};

class Tzf1xFileHeaderAccessFactory : public TzfCommonFileHeaderAccessFactory {
 public:
  // Creating raises 12289 "Can't create new files with v1 header".
  using TzfCommonFileHeaderAccessFactory::TzfCommonFileHeaderAccessFactory;
  static const TzfFileHeaderAccessFactoryClass& ClassInfo();
  const TzfFileHeaderAccessFactoryClass& ClassType() const override { return ClassInfo(); }
  const TzfFileHeaderAccessClass& GetFileHeaderAccessClass() const override;
  void CheckHeaderCreation(PzfBlock aHeader, bool aCreating) override;
  static void ClassCheckValid(TzfDataDictionary& aDictionary, bool aForBuild);
};

class Tzf2xFileHeaderAccessFactory : public TzfCommonFileHeaderAccessFactory {
 public:
  using TzfCommonFileHeaderAccessFactory::TzfCommonFileHeaderAccessFactory;
  // The common fields, then the encryption header size, the section area's upper end and the
  // empty directory (creating), or their checks (reading).
  void Initialize(const TzfBlockSignature& aSignature, PzfBlock aHeader) override;
  static const TzfFileHeaderAccessFactoryClass& ClassInfo();
  const TzfFileHeaderAccessFactoryClass& ClassType() const override { return ClassInfo(); }
  const TzfFileHeaderAccessClass& GetFileHeaderAccessClass() const override;
  void InitTableChecksum(PzfBlock aHeader, bool aCreating) override;
  void CheckHeader(const uint8_t* aHeader) override;
  // Base check plus the owner ID: 8962 with the "Expected BlockOwnerID %d" message.
  void VerifyID(const uint8_t* aBlock, TzfBlockNumber aBlockNum, int32_t aID) override;
  bool Belongs(const uint8_t* aBlock, TzfBlockNumber aBlockNum, int32_t aID) override;
  // Base check plus block 0's signature and the owner ID's range and kinds (8962).
  void ValidateBlock(const uint8_t* aBlock, TzfBlockNumber aBlockNum) override;
  // The 4 bytes at offset usable of the block.
  int32_t GetID(const uint8_t* aBlock) override;
  PzfByteArray GetEncryptionEngineHeader(PzfBlock aHeader) override;
  PzfByteArray GetTableChecksum(PzfBlock aHeader) override;
  static int32_t ClassAdditionalReservedSpace() { return 4; }

 protected:
  int32_t AdditionalReserve() const override { return 4; }
};

// ---- access classes ----

class TzfCommonFileHeaderAccess : public TzfBaseFileHeaderAccess {
 public:
  using TzfBaseFileHeaderAccess::TzfBaseFileHeaderAccess;
  static const TzfFileHeaderAccessClass& ClassInfo();
  const TzfFileHeaderAccessClass& ClassType() const override { return ClassInfo(); }
  uint32_t UsedBlockCount() override;
  uint32_t FreeBlockCount() override;
  // The common format keeps no free blocks and no sections: 12289.
  PzfBlock GetNewBlock(TzfBaseTransaction* aTrans, int32_t aID, TzfReleaseMethod& aReleaseMethod) override;
  void DeleteBlock(TzfBaseTransaction* aTrans, PzfBlock aBlock) override;
  uint16_t RegisterHeaderSection(std::string_view aName, uint8_t aSize, bool aCreate, bool aOverwrite) override;
};

class Tzf1xFileHeaderAccess : public TzfCommonFileHeaderAccess {
 public:
  using TzfCommonFileHeaderAccess::TzfCommonFileHeaderAccess;
  static const TzfFileHeaderAccessClass& ClassInfo();
  const TzfFileHeaderAccessClass& ClassType() const override { return ClassInfo(); }
  // Free chain of version 1 files (defined with the free-block management).
  PzfBlock GetNewBlock(TzfBaseTransaction* aTrans, int32_t aID, TzfReleaseMethod& aReleaseMethod) override;
  void DeleteBlock(TzfBaseTransaction* aTrans, PzfBlock aBlock) override;
  // 9218 with aCreate on a header not obtained for change; the fixed offset of the name.
  uint16_t RegisterHeaderSection(std::string_view aName, uint8_t aSize, bool aCreate, bool aOverwrite) override;
};

class Tzf2xFileHeaderAccess : public TzfCommonFileHeaderAccess {
 public:
  using TzfCommonFileHeaderAccess::TzfCommonFileHeaderAccess;
  static const TzfFileHeaderAccessClass& ClassInfo();
  const TzfFileHeaderAccessClass& ClassType() const override { return ClassInfo(); }
  // Resolves a sub-file's header block first (defined with the nested-table headers).
  void ReadHeaderBlock(TzfBaseTransaction* aTrans) override;
  // Free-block cache and map blocks (defined with the free-block management).
  PzfBlock GetNewBlock(TzfBaseTransaction* aTrans, int32_t aID, TzfReleaseMethod& aReleaseMethod) override;
  void DeleteBlock(TzfBaseTransaction* aTrans, PzfBlock aBlock) override;
  // 9218 with aCreate on a header not obtained for change; the section directory of block 0.
  uint16_t RegisterHeaderSection(std::string_view aName, uint8_t aSize, bool aCreate, bool aOverwrite) override;
  // Hands the encryption header area and the new password to the file's engine (12289 without).
  void ChangePassword(const rtl::UnicodeString& aNewPassword) override;
  // The header block number of a nested table's ID (defined with the nested-table headers).
  TzfBlockNumber GetHeaderBlockForID(TzfBaseTransaction* aTrans, int32_t aID);
};

rtl::TUnitInit& zfseHeaderAccessUnit();

}  // namespace zf
