// The simple BLOB engine ("zf1xSimple"): each BLOB is a chain of whole "ZFBH" blocks of the BLOB
// sub-file; the BLOB number is the number of the chain's head block. No header section, nothing
// kept in memory.
//
// Block "ZFBH" (U = usable block size, R = U - 27 data bytes per block; integers little-endian):
//
// | offset | width | content                                                                 |
// |--------|-------|-------------------------------------------------------------------------|
// | 0      | 16    | common block header, signature "ZFBH", own block number at 4            |
// | 16     | 1     | kind (head block): 0 data BLOB, 1 file BLOB, 2 BLOB link                |
// | 17     | 4     | next block of the chain, 0xFFFFFFFF for the last                        |
// | 21     | 4     | head: data BLOB length; file BLOB: name length + 1; link: name length + 12 |
// | 25     | 2     | data bytes held in this block (data BLOBs)                              |
// | 27     | R     | data bytes, or the reference of a file BLOB or link                     |
//
// File BLOB reference at 27: a 2-byte name length L, then L bytes of the name (system ANSI code
// page). Link reference at 27: a 4-byte name length L, L ANSI bytes of the source table's name,
// then the 8-byte BLOB number in that table.
//
// Reading checks what it reads: every block of a chain must be a "ZFBH" block of this engine with
// its own number (11896 otherwise), a block's count at most R, a kind 0..2, reference lengths
// inside the block, and a chain is followed at most as many blocks as the file holds (a loop or a
// chain shorter than the length gives 11896). Writes inside the data keep the surrounding bytes.
#pragma once
#include <cstdint>
#include <unordered_set>

#include "storage/zfsrBlobEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfSimpleBlobEngineException, EzfBaseBlobEngineException)

inline constexpr TzfBlockSignature kzfSimpleBlobBlockSignature{'Z', 'F', 'B', 'H'};
inline constexpr uint32_t kzfSimpleBlobKind = 16;
inline constexpr uint32_t kzfSimpleBlobNext = 17;
inline constexpr uint32_t kzfSimpleBlobLength = 21;
inline constexpr uint32_t kzfSimpleBlobCount = 25;
inline constexpr uint32_t kzfSimpleBlobData = 27;
inline constexpr uint32_t kzfSimpleBlobEndOfChain = 0xFFFFFFFF;

class TzfSimpleBlobEngine : public TzfBaseBlobEngine {
 public:
  TzfSimpleBlobEngine(TzfBaseBlobDescriptor* aDescriptor, TzfBaseTransaction* aTrans, const TzfBlockAccessList& aFiles);

  static const TzfBlobEngineClass& ClassInfo();
  const TzfBlobEngineClass& ClassType() const override { return ClassInfo(); }

  void AddBlob(TzfBaseTransaction* aTrans, int64_t& aBlobNr) override;
  void AddBlobLink(TzfBaseTransaction* aTrans, const UnicodeString& aTableName, int64_t aTableBlobNr,
                   int64_t& aBlobNr) override;
  void AddFileBlob(TzfBaseTransaction* aTrans, const UnicodeString& aFileName, int64_t& aBlobNr) override;
  void DeleteBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr) override;
  bool FreeBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr) override;
  uint32_t GetBlobLength(TzfBaseTransaction* aTrans, int64_t aBlobNr, const TzfBlobLinkGetLength& aLengthMethod,
                         uint32_t& aLength) override;
  bool IsFileBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr, UnicodeString& aFileName) override;
  bool IsBlobLink(TzfBaseTransaction* aTrans, int64_t aBlobNr, UnicodeString& aSrcTableName,
                  int64_t& aSrcTableBlobNr) override;
  uint32_t Read(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                const TzfBlobLinkRead& aReadMethod, rtl::TStream& aStream) override;
  void Truncate(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aLen) override;
  void Write(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
             const void* aBlob) override;

  // A block of a chain: 10030 for block 0, 15409 outside the file, 11896 when it is not a "ZFBH"
  // block of this engine with its own number. The caller releases it through aReleaseMethod.
  PzfBlock ReadBlobBlock(TzfBaseTransaction* aTrans, bool aMarkDirty, TzfReleaseMethod& aReleaseMethod,
                         TzfBlockNumber aBlockNumber);
  // A new head-like block (kind 0, end of chain, length 0, count 0), writable.
  PzfBlock NewBlobBlock(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeaderAccess,
                        TzfReleaseMethod& aReleaseMethod);

 private:
  uint32_t Room() const { return bbeBlobFile->BlockSizeBytes() - kzfSimpleBlobData; }
  uint32_t BlockNumberOf(int64_t aBlobNr) const;
  [[noreturn]] void RaiseNotBlob(TzfBlockNumber aBlock) const;
  // The number of data bytes of a block, checked against the room.
  uint32_t CountOf(const uint8_t* aBlock, TzfBlockNumber aNumber) const;
  // The next block of a chain; a block met before on the walk is a loop (11896).
  TzfBlockNumber NextOf(const uint8_t* aBlock, std::unordered_set<TzfBlockNumber>& aVisited) const;
  uint8_t KindOf(const uint8_t* aBlock, TzfBlockNumber aNumber) const;
  UnicodeString FileNameOf(const uint8_t* aHead, TzfBlockNumber aNumber) const;
  void LinkOf(const uint8_t* aHead, TzfBlockNumber aNumber, UnicodeString& aTable, int64_t& aSource) const;
};

rtl::TUnitInit& zfseBlobEngineSimpleUnit();

}  // namespace zf
