#include "storage/zfseBlobEngineSimple.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfseHeaderAccess.h"
#include "storage/zfsrFile.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfseBlobEngineSimple";

using THeld = TzfHeldBlock;

}  // namespace

TzfSimpleBlobEngine::TzfSimpleBlobEngine(TzfBaseBlobDescriptor* aDescriptor, TzfBaseTransaction* aTrans,
                                         const TzfBlockAccessList& aFiles)
    : TzfBaseBlobEngine(aDescriptor, aTrans, aFiles) {}

const TzfBlobEngineClass& TzfSimpleBlobEngine::ClassInfo() {
  static const TzfBlobEngineClass info(
      u"TzfSimpleBlobEngine", &TzfBaseBlobEngine::ClassInfo(), nullptr, nullptr,
      [](TzfBaseBlobDescriptor* d, TzfBaseTransaction* t,
         const TzfBlockAccessList& f) -> std::unique_ptr<TzfBaseBlobEngine> {
        return std::make_unique<TzfSimpleBlobEngine>(d, t, f);
      });
  return info;
}

uint32_t TzfSimpleBlobEngine::BlockNumberOf(int64_t aBlobNr) const {
  if (aBlobNr < 0 || aBlobNr > int64_t(0xFFFFFFFF)) rtl::RaiseRangeError();
  return uint32_t(aBlobNr);
}

void TzfSimpleBlobEngine::RaiseNotBlob(TzfBlockNumber aBlock) const {
  throw EzfSimpleBlobEngineException(zfErrBlobGeneral,
                                     u"Block just read from file is not a valid BLOB data block [%s, %d]",
                                     {bbeBlobFile->TableFileName(), aBlock});
}

PzfBlock TzfSimpleBlobEngine::ReadBlobBlock(TzfBaseTransaction* aTrans, bool aMarkDirty,
                                            TzfReleaseMethod& aReleaseMethod, TzfBlockNumber aBlockNumber) {
  if (aBlockNumber == 0)
    throw EzfSimpleBlobEngineException(zfErrInvalidBlobHandle, u"Number is not a valid ZofrinDB BLOB number [%s, (%d)]",
                                       {bbeBlobFile->TableFileName(), aBlockNumber});
  if (!bbeBlobFile->ValidBlock(aBlockNumber, aTrans))
    throw EzfSimpleBlobEngineException(zfErrBlockNumberOutOfRange,
                                       u"Block number is either < 0, or >= number of blocks in file [%s, block %d]",
                                       {bbeBlobFile->TableFileName(), aBlockNumber});
  // The owner is checked after the signature, so that a freed block (owner gone) reads as what it
  // is, not a BLOB block, whatever it still holds.
  PzfBlock p = bbeBlobFile->GetBlock(aTrans, aBlockNumber, 0, aMarkDirty, aReleaseMethod);
  bool valid = zfGetBlockSignature(p) == kzfSimpleBlobBlockSignature && zfGetThisBlock(p) == aBlockNumber;
  if (valid) {
    try {
      bbeBlobFile->baFile->fiHeaderAccessFactory->VerifyID(p, aBlockNumber, bseID);
    } catch (const EzfBaseException&) {
      valid = false;
    }
  }
  if (!valid) {
    aReleaseMethod(p);
    aReleaseMethod = {};
    RaiseNotBlob(aBlockNumber);
  }
  return p;
}

PzfBlock TzfSimpleBlobEngine::NewBlobBlock(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess* aHeaderAccess,
                                           TzfReleaseMethod& aReleaseMethod) {
  PzfBlock p = aHeaderAccess->GetNewBlock(aTrans, bseID, aReleaseMethod);
  zfSetBlockSignature(p, kzfSimpleBlobBlockSignature);
  p[kzfSimpleBlobKind] = 0;
  zfPutLE32(p + kzfSimpleBlobNext, kzfSimpleBlobEndOfChain);
  zfPutLE32(p + kzfSimpleBlobLength, 0);
  zfPutLE16(p + kzfSimpleBlobCount, 0);
  return p;
}

uint32_t TzfSimpleBlobEngine::CountOf(const uint8_t* aBlock, TzfBlockNumber aNumber) const {
  const uint32_t c = zfGetLE16(aBlock + kzfSimpleBlobCount);
  if (c > Room()) RaiseNotBlob(aNumber);
  return c;
}

TzfBlockNumber TzfSimpleBlobEngine::NextOf(const uint8_t* aBlock, std::unordered_set<TzfBlockNumber>& aVisited) const {
  const TzfBlockNumber next = zfGetLE32(aBlock + kzfSimpleBlobNext);
  // A walk visits each block once; a block met again can only be a loop.
  if (next != kzfSimpleBlobEndOfChain && !aVisited.insert(next).second) RaiseNotBlob(next);
  return next;
}

uint8_t TzfSimpleBlobEngine::KindOf(const uint8_t* aBlock, TzfBlockNumber aNumber) const {
  const uint8_t kind = aBlock[kzfSimpleBlobKind];
  if (kind > 2) RaiseNotBlob(aNumber);
  return kind;
}

UnicodeString TzfSimpleBlobEngine::FileNameOf(const uint8_t* aHead, TzfBlockNumber aNumber) const {
  const uint32_t len = zfGetLE16(aHead + kzfSimpleBlobData);
  if (len + 2 > Room()) RaiseNotBlob(aNumber);
  return rtl::AnsiToUnicode(rtl::AnsiString(std::string(reinterpret_cast<const char*>(aHead + kzfSimpleBlobData + 2), len)));
}

void TzfSimpleBlobEngine::LinkOf(const uint8_t* aHead, TzfBlockNumber aNumber, UnicodeString& aTable,
                                 int64_t& aSource) const {
  const uint32_t len = zfGetLE32(aHead + kzfSimpleBlobData);
  if (len > Room() || len + 12 > Room()) RaiseNotBlob(aNumber);
  const uint8_t* p = aHead + kzfSimpleBlobData + 4;
  aTable = rtl::AnsiToUnicode(rtl::AnsiString(std::string(reinterpret_cast<const char*>(p), len)));
  aSource = int64_t(zfGetLE64(p + len));
}

// ---- creating and deleting ----

void TzfSimpleBlobEngine::AddBlob(TzfBaseTransaction* aTrans, int64_t& aBlobNr) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bbeBlobFile->HeaderAccess(aTrans, true));
  THeld head;
  head.Block = NewBlobBlock(aTrans, ha.get(), head.Release);
  aBlobNr = zfGetThisBlock(head.Block);
}

void TzfSimpleBlobEngine::AddFileBlob(TzfBaseTransaction* aTrans, const UnicodeString& aFileName, int64_t& aBlobNr) {
  const std::string name = rtl::UnicodeToAnsi(aFileName).Bytes();
  ZF_ASSERT(name.size() <= Room() - 2 && name.size() <= 0xFFFF, kUnit);
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bbeBlobFile->HeaderAccess(aTrans, true));
  THeld head;
  head.Block = NewBlobBlock(aTrans, ha.get(), head.Release);
  head.Block[kzfSimpleBlobKind] = 1;
  zfPutLE32(head.Block + kzfSimpleBlobLength, uint32_t(name.size()) + 1);
  zfPutLE16(head.Block + kzfSimpleBlobData, uint16_t(name.size()));
  std::memcpy(head.Block + kzfSimpleBlobData + 2, name.data(), name.size());
  aBlobNr = zfGetThisBlock(head.Block);
}

void TzfSimpleBlobEngine::AddBlobLink(TzfBaseTransaction* aTrans, const UnicodeString& aTableName,
                                      int64_t aTableBlobNr, int64_t& aBlobNr) {
  const std::string name = rtl::UnicodeToAnsi(aTableName).Bytes();
  ZF_ASSERT(name.size() + 12 <= Room(), kUnit);
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bbeBlobFile->HeaderAccess(aTrans, true));
  THeld head;
  head.Block = NewBlobBlock(aTrans, ha.get(), head.Release);
  head.Block[kzfSimpleBlobKind] = 2;
  zfPutLE32(head.Block + kzfSimpleBlobLength, uint32_t(name.size()) + 12);
  zfPutLE32(head.Block + kzfSimpleBlobData, uint32_t(name.size()));
  std::memcpy(head.Block + kzfSimpleBlobData + 4, name.data(), name.size());
  zfPutLE64(head.Block + kzfSimpleBlobData + 4 + name.size(), uint64_t(aTableBlobNr));
  aBlobNr = zfGetThisBlock(head.Block);
}

void TzfSimpleBlobEngine::DeleteBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr) {
  const TzfBlockNumber first = BlockNumberOf(aBlobNr);
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bbeBlobFile->HeaderAccess(aTrans, true));
  std::unordered_set<TzfBlockNumber> visited{first};
  THeld head;
  head.Block = ReadBlobBlock(aTrans, true, head.Release, first);
  TzfBlockNumber next = NextOf(head.Block, visited);
  while (next != kzfSimpleBlobEndOfChain) {
    THeld b;
    b.Block = ReadBlobBlock(aTrans, true, b.Release, next);
    const TzfBlockNumber after = NextOf(b.Block, visited);
    ha->DeleteBlock(aTrans, b.Block);
    next = after;
  }
  ha->DeleteBlock(aTrans, head.Block);
}

bool TzfSimpleBlobEngine::FreeBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr) {
  {
    THeld head;
    head.Block = ReadBlobBlock(aTrans, false, head.Release, BlockNumberOf(aBlobNr));
    if (zfGetLE32(head.Block + kzfSimpleBlobLength) != 0) return false;
  }
  DeleteBlob(aTrans, aBlobNr);
  return true;
}

// ---- reading ----

bool TzfSimpleBlobEngine::IsFileBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr, UnicodeString& aFileName) {
  const TzfBlockNumber n = BlockNumberOf(aBlobNr);
  THeld head;
  head.Block = ReadBlobBlock(aTrans, false, head.Release, n);
  aFileName.clear();
  if (KindOf(head.Block, n) != 1) return false;
  aFileName = FileNameOf(head.Block, n);
  return true;
}

bool TzfSimpleBlobEngine::IsBlobLink(TzfBaseTransaction* aTrans, int64_t aBlobNr, UnicodeString& aSrcTableName,
                                     int64_t& aSrcTableBlobNr) {
  const TzfBlockNumber n = BlockNumberOf(aBlobNr);
  THeld head;
  head.Block = ReadBlobBlock(aTrans, false, head.Release, n);
  aSrcTableName.clear();
  aSrcTableBlobNr = 0;
  if (KindOf(head.Block, n) != 2) return false;
  LinkOf(head.Block, n, aSrcTableName, aSrcTableBlobNr);
  return true;
}

uint32_t TzfSimpleBlobEngine::GetBlobLength(TzfBaseTransaction* aTrans, int64_t aBlobNr,
                                            const TzfBlobLinkGetLength& aLengthMethod, uint32_t& aLength) {
  const TzfBlockNumber n = BlockNumberOf(aBlobNr);
  THeld head;
  head.Block = ReadBlobBlock(aTrans, false, head.Release, n);
  aLength = 0;
  switch (KindOf(head.Block, n)) {
    case 1: {
      const UnicodeString name = FileNameOf(head.Block, n);
      head.Drop();
      return ExternalFileLength(name, aLength);
    }
    case 2: {
      UnicodeString table;
      int64_t source = 0;
      LinkOf(head.Block, n, table, source);
      head.Drop();
      ZF_ASSERT(bool(aLengthMethod), kUnit);
      return aLengthMethod(table, source, aLength);
    }
    default:
      aLength = zfGetLE32(head.Block + kzfSimpleBlobLength);
      return 0;
  }
}

uint32_t TzfSimpleBlobEngine::Read(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                   const TzfBlobLinkRead& aReadMethod, rtl::TStream& aStream) {
  if (aLen == 0) return 0;
  const TzfBlockNumber first = BlockNumberOf(aBlobNr);
  THeld cur;
  cur.Block = ReadBlobBlock(aTrans, false, cur.Release, first);
  const uint8_t kind = KindOf(cur.Block, first);
  if (kind == 1) {
    const UnicodeString name = FileNameOf(cur.Block, first);
    cur.Drop();
    return ReadExternalFile(name, aOffset, aStream, aLen);
  }
  if (kind == 2) {
    UnicodeString table;
    int64_t source = 0;
    LinkOf(cur.Block, first, table, source);
    cur.Drop();
    ZF_ASSERT(bool(aReadMethod), kUnit);
    return aReadMethod(table, source, aOffset, aLen, aStream);
  }
  const uint32_t length = zfGetLE32(cur.Block + kzfSimpleBlobLength);
  if (aOffset >= length) return 0;
  uint32_t remaining = std::min(aLen, length - aOffset);
  std::unordered_set<TzfBlockNumber> visited{first};
  TzfBlockNumber number = first;
  uint64_t before = 0;
  for (;;) {
    const uint32_t count = CountOf(cur.Block, number);
    if (aOffset < before + count) {
      const uint32_t p = uint32_t(aOffset - before);
      const uint32_t k = std::min(remaining, count - p);
      aStream.WriteBuffer(cur.Block + kzfSimpleBlobData + p, k);
      remaining -= k;
      if (remaining == 0) return 0;
      aOffset += k;
    }
    before += count;
    const TzfBlockNumber next = NextOf(cur.Block, visited);
    cur.Drop();
    if (next == kzfSimpleBlobEndOfChain) RaiseNotBlob(number);  // the chain holds less than its length
    number = next;
    cur.Block = ReadBlobBlock(aTrans, false, cur.Release, number);
  }
}

// ---- changing ----

void TzfSimpleBlobEngine::Truncate(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aLen) {
  const TzfBlockNumber first = BlockNumberOf(aBlobNr);
  THeld head;
  head.Block = ReadBlobBlock(aTrans, true, head.Release, first);
  const uint32_t length = zfGetLE32(head.Block + kzfSimpleBlobLength);
  if (length == aLen) return;
  // A link's reference lives in its head block like a file BLOB's: both are read-only.
  if (KindOf(head.Block, first) != 0)
    throw EzfSimpleBlobEngineException(zfErrReadOnlyField, u"Cannot write to a file BLOB [%s, (%d)]",
                                       {bbeBlobFile->TableFileName(), aBlobNr});
  if (aLen > length)
    throw EzfSimpleBlobEngineException(
        zfErrInvalidBlobLen, u"Truncate length is greater than length of BLOB [%s, (%d), offset %d, length %d]",
        {bbeBlobFile->TableFileName(), aBlobNr, aLen, length});
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bbeBlobFile->HeaderAccess(aTrans, true));
  std::unordered_set<TzfBlockNumber> visited{first};
  // The block in which the new end falls.
  TzfBlockNumber number = first;
  uint64_t before = 0;
  for (;;) {
    THeld b;
    b.Block = ReadBlobBlock(aTrans, false, b.Release, number);
    const uint32_t count = CountOf(b.Block, number);
    if (before + count >= aLen) break;
    before += count;
    const TzfBlockNumber next = NextOf(b.Block, visited);
    if (next == kzfSimpleBlobEndOfChain) RaiseNotBlob(number);
    number = next;
  }
  TzfBlockNumber next;
  {
    THeld last;
    last.Block = ReadBlobBlock(aTrans, true, last.Release, number);
    // The count follows the new end, also in the head of an emptied BLOB: a later write relies on
    // counts that hold only live bytes.
    zfPutLE16(last.Block + kzfSimpleBlobCount, uint16_t(aLen - before));
    next = NextOf(last.Block, visited);
    zfPutLE32(last.Block + kzfSimpleBlobNext, kzfSimpleBlobEndOfChain);
  }
  while (next != kzfSimpleBlobEndOfChain) {
    THeld b;
    b.Block = ReadBlobBlock(aTrans, true, b.Release, next);
    const TzfBlockNumber after = NextOf(b.Block, visited);
    ha->DeleteBlock(aTrans, b.Block);
    next = after;
  }
  zfPutLE32(head.Block + kzfSimpleBlobLength, aLen);
}

void TzfSimpleBlobEngine::Write(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                const void* aBlob) {
  const TzfBlockNumber first = BlockNumberOf(aBlobNr);
  uint32_t length;
  {
    THeld head;
    head.Block = ReadBlobBlock(aTrans, true, head.Release, first);
    if (KindOf(head.Block, first) != 0)
      throw EzfSimpleBlobEngineException(zfErrReadOnlyField, u"Cannot write to a file BLOB [%s, (%d)]",
                                         {bbeBlobFile->TableFileName(), aBlobNr});
    length = zfGetLE32(head.Block + kzfSimpleBlobLength);
  }
  if (aOffset > length)
    throw EzfSimpleBlobEngineException(
        zfErrInvalidBlobOffset, u"Offset value is greater than the length of the BLOB [%s, (%d), offset %d, length %d]",
        {bbeBlobFile->TableFileName(), aBlobNr, aOffset, length});
  if (aLen == 0) return;
  if (uint64_t(aOffset) + aLen > 0xFFFFFFFFu) rtl::RaiseRangeError();
  const uint32_t room = Room();
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bbeBlobFile->HeaderAccess(aTrans, true));
  std::unordered_set<TzfBlockNumber> visited{first};
  // Position: the block in which the offset falls; an offset at the end of a block that has a
  // follower starts in the follower.
  TzfBlockNumber number = first;
  uint64_t before = 0;
  for (;;) {
    THeld b;
    b.Block = ReadBlobBlock(aTrans, false, b.Release, number);
    const uint32_t count = CountOf(b.Block, number);
    const TzfBlockNumber next = NextOf(b.Block, visited);
    if (aOffset < before + count || (aOffset == before + count && next == kzfSimpleBlobEndOfChain)) break;
    if (next == kzfSimpleBlobEndOfChain) RaiseNotBlob(number);  // the chain holds less than its length
    before += count;
    number = next;
  }
  uint32_t p = uint32_t(aOffset - before);
  visited = {number};
  const uint8_t* src = static_cast<const uint8_t*>(aBlob);
  uint32_t remaining = aLen;
  while (remaining > 0) {
    THeld b;
    b.Block = ReadBlobBlock(aTrans, true, b.Release, number);
    const uint32_t count = CountOf(b.Block, number);
    const TzfBlockNumber next = NextOf(b.Block, visited);
    const bool last = next == kzfSimpleBlobEndOfChain;
    // Inside the chain only the bytes a block holds are overwritten; the last block fills up.
    const uint32_t capacity = last ? room : count;
    if (p < capacity) {
      const uint32_t k = std::min(remaining, capacity - p);
      std::memcpy(b.Block + kzfSimpleBlobData + p, src, k);
      if (p + k > count) zfPutLE16(b.Block + kzfSimpleBlobCount, uint16_t(p + k));
      src += k;
      remaining -= k;
    }
    if (remaining == 0) break;
    if (last) {
      THeld fresh;
      fresh.Block = NewBlobBlock(aTrans, ha.get(), fresh.Release);
      number = zfGetThisBlock(fresh.Block);
      zfPutLE32(b.Block + kzfSimpleBlobNext, number);
      visited.insert(number);
    } else {
      number = next;
    }
    p = 0;
  }
  const uint32_t newLength = std::max(length, aOffset + aLen);
  if (newLength > length) {
    THeld head;
    head.Block = ReadBlobBlock(aTrans, true, head.Release, first);
    zfPutLE32(head.Block + kzfSimpleBlobLength, newLength);
  }
}

namespace {
void Init() { TzfBaseSubEngine::RegisterEngine(TzfSimpleBlobEngine::ClassInfo(), u"zf1xSimple"); }
void Fini() { TzfBaseSubEngine::UnregisterEngine(TzfSimpleBlobEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfseBlobEngineSimpleUnit() {
  static rtl::TUnitInit unit("zfseBlobEngineSimple", &Init, &Fini);
  return unit;
}

}  // namespace zf
