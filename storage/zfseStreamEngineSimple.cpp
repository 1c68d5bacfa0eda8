#include "storage/zfseStreamEngineSimple.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "foundation/zfllStreams.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrFile.h"

namespace zf {

namespace {

constexpr uint32_t kOffNext = 16;
constexpr uint32_t kOffStreamSig = 20;
constexpr uint32_t kOffLength = 24;
constexpr uint32_t kOffFirst = 28;
constexpr uint32_t kWordDict = 0;
constexpr uint32_t kWordMap = 4;

using THeld = TzfHeldBlock;

[[noreturn]] void RaiseNotAStreamBlock(TzfBlockAccess* aFile, uint32_t aBlock, const char16_t* aWhy = nullptr) {
  UnicodeString msg = u"Block just read from file is not a valid stream block [%s, block %d]";
  if (aWhy) msg += UnicodeString(u": ") + aWhy;
  throw EzfseStreamEngineExcpetion(zfErrNotAStreamBlock, msg, {aFile->baFile->FileName(), aBlock});
}

// Blocks of the file that aTrans sees (a bound for chains; every block is checked on its own).
uint32_t UsedBlocks(TzfBlockAccess* aFile, TzfBaseTransaction* aTrans) {
  TzfBaseFile* f = aFile->baFile;
  if (aTrans && f->fiTrans == aTrans) return std::max(f->fiTransUsedBlocks, f->fiUsedBlocks);
  return f->fiUsedBlocks;
}

// Gets block aNumber into aHeld: a valid block number (15409), "ZFSH" and its own number (15421).
void FetchStreamBlock(TzfBlockAccess* aFile, TzfBaseTransaction* aTrans, uint32_t aNumber, int32_t aID, bool aDirty,
                      THeld& aHeld) {
  aHeld.Drop();
  if (!aFile->ValidBlock(aNumber, aTrans))
    throw EzfseStreamEngineExcpetion(zfErrBlockNumberOutOfRange,
                                     u"Block number is either < 0, or >= number of blocks in file [%s, block %d]",
                                     {aFile->baFile->FileName(), aNumber});
  aHeld.Block = aFile->GetBlock(aTrans, aNumber, aID, aDirty, aHeld.Release);
  if (zfGetBlockSignature(aHeld.Block) != kzfStreamBlockSignature || zfGetThisBlock(aHeld.Block) != aNumber) {
    aHeld.Drop();
    RaiseNotAStreamBlock(aFile, aNumber);
  }
}

// A following block of the chain aFirst with stream signature aSig must name both.
void CheckFollower(TzfBlockAccess* aFile, const THeld& aHeld, uint32_t aNumber, uint32_t aFirst,
                   const TzfBlockSignature& aSig) {
  TzfBlockSignature sig;
  std::memcpy(sig.data(), aHeld.Block + kOffStreamSig, 4);
  if (zfGetLE32(aHeld.Block + kOffFirst) != aFirst || sig != aSig)
    RaiseNotAStreamBlock(aFile, aNumber, u"the block belongs to another stream");
}

void InitStreamBlock(PzfBlock aBlock, uint32_t aUsable) {
  const TzfBlockNumber self = zfGetThisBlock(aBlock);
  std::memset(aBlock + kzfStreamBlockHeaderSize, 0, aUsable - kzfStreamBlockHeaderSize);
  zfSetBlockSignature(aBlock, kzfStreamBlockSignature);
  zfSetThisBlock(aBlock, self);
  zfSetBlockLSN(aBlock, 0);
  zfPutLE32(aBlock + kOffNext, kzfStreamLastBlock);
  zfPutLE32(aBlock + kOffStreamSig, 0);
  zfPutLE32(aBlock + kOffLength, 0);
  zfPutLE32(aBlock + kOffFirst, 0);
}

bool IsDictName(const UnicodeString& aName) { return rtl::SameText(aName, u"DICT"); }

[[noreturn]] void RaiseBadMap(const UnicodeString& aFileName, const char16_t* aWhy) {
  throw EzfseStreamEngineExcpetion(zfErrFileCorrupt, u"The stream map of file \"%s\" is damaged: %s",
                                   {aFileName, UnicodeString(aWhy)});
}

// Position of aName in the sorted map (case ignored); aFound tells whether it is there.
size_t MapFind(const TzfStreamMap& aMap, const UnicodeString& aName, bool& aFound) {
  auto it = std::lower_bound(aMap.begin(), aMap.end(), aName,
                             [](const TzfStreamMapEntry& e, const UnicodeString& n) { return rtl::CompareText(e.first, n) < 0; });
  aFound = it != aMap.end() && rtl::CompareText(it->first, aName) == 0;
  return size_t(it - aMap.begin());
}

std::string AnsiName(const UnicodeString& aName) {
  std::string bytes = rtl::UnicodeToAnsi(aName).Bytes();
  if (bytes.size() > 255) rtl::RaiseRangeError();
  return bytes;
}

}  // namespace

// ---- the stream map --------------------------------------------------------------------------

TzfStreamMap zfParseStreamMap(const uint8_t* aData, size_t aSize, const UnicodeString& aFileName) {
  if (aSize < 4) RaiseBadMap(aFileName, u"no entry count");
  const uint32_t count = zfGetLE32(aData);
  // Every entry takes at least 5 bytes: a count beyond that is damage, not a reason to allocate.
  if (count > (aSize - 4) / 5) RaiseBadMap(aFileName, u"entry count beyond its bytes");
  TzfStreamMap map;
  map.reserve(count);
  size_t pos = 4;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t len = aData[pos++];
    if (aSize - pos < len + 4) RaiseBadMap(aFileName, u"entry beyond its bytes");
    UnicodeString name = rtl::AnsiToUnicode(rtl::AnsiString(std::string(reinterpret_cast<const char*>(aData + pos), len)));
    pos += len;
    const uint32_t first = zfGetLE32(aData + pos);
    pos += 4;
    if (IsDictName(name)) RaiseBadMap(aFileName, u"\"DICT\" in the map");
    bool found = false;
    const size_t at = MapFind(map, name, found);
    if (found) RaiseBadMap(aFileName, u"a name twice");
    map.insert(map.begin() + ptrdiff_t(at), {std::move(name), first});
  }
  return map;
}

std::string zfBuildStreamMap(const TzfStreamMap& aMap) {
  std::string out(4, '\0');
  zfPutLE32(reinterpret_cast<uint8_t*>(out.data()), uint32_t(aMap.size()));
  for (const auto& [name, first] : aMap) {
    const std::string bytes = AnsiName(name);
    out.push_back(char(uint8_t(bytes.size())));
    out += bytes;
    uint8_t nr[4];
    zfPutLE32(nr, first);
    out.append(reinterpret_cast<const char*>(nr), 4);
  }
  return out;
}

// ---- engine ------------------------------------------------------------------------------------

TzfSimpleStreamEngine::TzfSimpleStreamEngine(TzfBaseStreamDescriptor* aDescriptor, TzfBaseTransaction* aTrans,
                                             TzfBlockAccess* aDataFile)
    : TzfBaseStreamEngine(aDescriptor, aTrans, aDataFile) {
  const std::string name = aDescriptor ? aDescriptor->bsdHeaderSection : std::string("Stream");
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bseDataFile->HeaderAccess(aTrans, aTrans != nullptr));
  seHeaderSection = ha->RegisterHeaderSection(name, 8, aTrans != nullptr, false);
  if (aTrans) {
    zfPutLE32(ha->Header + seHeaderSection + kWordDict, 0);
    zfPutLE32(ha->Header + seHeaderSection + kWordMap, 0);
  }
}

const TzfStreamEngineClass& TzfSimpleStreamEngine::ClassInfo() {
  static const TzfStreamEngineClass info(
      u"TzfSimpleStreamEngine", &TzfBaseStreamEngine::ClassInfo(), nullptr, nullptr,
      [](TzfBaseStreamDescriptor* d, TzfBaseTransaction* t, TzfBlockAccess* f) -> std::unique_ptr<TzfBaseStreamEngine> {
        return std::make_unique<TzfSimpleStreamEngine>(d, t, f);
      });
  return info;
}

uint32_t TzfSimpleStreamEngine::DictWord(TzfBaseTransaction* aTrans) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bseDataFile->HeaderAccess(aTrans, false));
  return zfGetLE32(ha->Header + seHeaderSection + kWordDict);
}

uint32_t TzfSimpleStreamEngine::MapWord(TzfBaseTransaction* aTrans) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bseDataFile->HeaderAccess(aTrans, false));
  return zfGetLE32(ha->Header + seHeaderSection + kWordMap);
}

void TzfSimpleStreamEngine::SetWord(TzfBaseTransaction* aTrans, uint32_t aOffset, uint32_t aValue) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bseDataFile->HeaderAccess(aTrans, true));
  zfPutLE32(ha->Header + seHeaderSection + aOffset, aValue);
}

void TzfSimpleStreamEngine::ReadStream(TzfBaseTransaction* aTrans, uint32_t aStreamNr, rtl::TStream& aStream) {
  aStream.SetSize(0);
  try {
    const uint32_t data = bseDataFile->BlockSizeBytes() - kzfStreamBlockHeaderSize;
    THeld b;
    FetchStreamBlock(bseDataFile, aTrans, aStreamNr, bseID, false, b);
    const uint32_t length = zfGetLE32(b.Block + kOffLength);
    TzfBlockSignature sig;
    std::memcpy(sig.data(), b.Block + kOffStreamSig, 4);
    // The length must fit the blocks the file has before a byte is copied.
    const uint64_t blocks = length == 0 ? 1 : (uint64_t(length) + data - 1) / data;
    if (blocks >= UsedBlocks(bseDataFile, aTrans))
      RaiseNotAStreamBlock(bseDataFile, aStreamNr, u"the stream is longer than the file");
    std::unordered_set<uint32_t> seen{aStreamNr};
    uint32_t remaining = length;
    uint32_t current = aStreamNr;
    for (;;) {
      const uint32_t n = std::min(data, remaining);
      aStream.WriteBuffer(b.Block + kzfStreamBlockHeaderSize, n);
      remaining -= n;
      if (remaining == 0) break;
      const uint32_t next = zfGetLE32(b.Block + kOffNext);
      if (next == kzfStreamLastBlock) RaiseNotAStreamBlock(bseDataFile, current, u"the chain ends before the stream");
      if (!seen.insert(next).second) RaiseNotAStreamBlock(bseDataFile, next, u"the chain runs in a circle");
      FetchStreamBlock(bseDataFile, aTrans, next, bseID, false, b);
      CheckFollower(bseDataFile, b, next, aStreamNr, sig);
      current = next;
    }
    aStream.SetPosition(0);
  } catch (...) {
    aStream.SetSize(0);
    throw;
  }
}

void TzfSimpleStreamEngine::DeleteChain(TzfBaseTransaction* aTrans, TzfBaseFileHeaderAccess& aHeader,
                                        uint32_t aStreamNr, bool aSpareFirst) {
  THeld b;
  FetchStreamBlock(bseDataFile, aTrans, aStreamNr, bseID, true, b);
  TzfBlockSignature sig;
  std::memcpy(sig.data(), b.Block + kOffStreamSig, 4);
  uint32_t next = zfGetLE32(b.Block + kOffNext);
  if (!aSpareFirst) aHeader.DeleteBlock(aTrans, b.Block);
  b.Drop();
  // Only blocks that say they belong to this chain are freed, each once.
  std::unordered_set<uint32_t> seen{aStreamNr};
  while (next != kzfStreamLastBlock) {
    if (!seen.insert(next).second) RaiseNotAStreamBlock(bseDataFile, next, u"the chain runs in a circle");
    FetchStreamBlock(bseDataFile, aTrans, next, bseID, true, b);
    CheckFollower(bseDataFile, b, next, aStreamNr, sig);
    const uint32_t after = zfGetLE32(b.Block + kOffNext);
    aHeader.DeleteBlock(aTrans, b.Block);
    b.Drop();
    next = after;
  }
}

void TzfSimpleStreamEngine::DeleteStream(TzfBaseTransaction* aTrans, uint32_t aStreamNr) {
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bseDataFile->HeaderAccess(aTrans, true));
  DeleteChain(aTrans, *ha, aStreamNr, false);
}

void TzfSimpleStreamEngine::WriteStream(TzfBaseTransaction* aTrans, uint32_t& aStreamNr, rtl::TStream& aStream,
                                        bool aCreateNew, const TzfBlockSignature& aStreamSig) {
  const int64_t size = aStream.GetSize();
  if (size < 0 || size > int64_t(UINT32_MAX)) rtl::RaiseRangeError();
  const uint32_t usable = bseDataFile->BlockSizeBytes();
  const uint32_t data = usable - kzfStreamBlockHeaderSize;
  std::unique_ptr<TzfBaseFileHeaderAccess> ha(bseDataFile->HeaderAccess(aTrans, true));
  THeld cur;
  if (aCreateNew) {
    cur.Block = ha->GetNewBlock(aTrans, bseID, cur.Release);
    InitStreamBlock(cur.Block, usable);
    aStreamNr = zfGetThisBlock(cur.Block);
    zfPutLE32(cur.Block + kOffFirst, aStreamNr);
  } else {
    DeleteChain(aTrans, *ha, aStreamNr, true);
    FetchStreamBlock(bseDataFile, aTrans, aStreamNr, bseID, true, cur);
    zfPutLE32(cur.Block + kOffNext, kzfStreamLastBlock);
  }
  zfSetBlockSignature(cur.Block + kOffStreamSig, aStreamSig);
  zfPutLE32(cur.Block + kOffLength, uint32_t(size));
  aStream.SetPosition(0);
  uint32_t remaining = uint32_t(size);
  uint32_t n = std::min(data, remaining);
  aStream.ReadBuffer(cur.Block + kzfStreamBlockHeaderSize, n);
  remaining -= n;
  while (remaining > 0) {
    THeld fresh;
    fresh.Block = ha->GetNewBlock(aTrans, bseID, fresh.Release);
    InitStreamBlock(fresh.Block, usable);
    zfPutLE32(cur.Block + kOffNext, zfGetThisBlock(fresh.Block));
    cur.Take(fresh);
    zfPutLE32(cur.Block + kOffFirst, aStreamNr);
    zfSetBlockSignature(cur.Block + kOffStreamSig, aStreamSig);
    n = std::min(data, remaining);
    aStream.ReadBuffer(cur.Block + kzfStreamBlockHeaderSize, n);
    remaining -= n;
  }
}

TzfStreamMap TzfSimpleStreamEngine::ReadMap(TzfBaseTransaction* aTrans) {
  const uint32_t word = MapWord(aTrans);
  if (word == 0) return {};
  TzfMemoryStream ms;
  ReadStream(aTrans, word, ms);
  return zfParseStreamMap(static_cast<const uint8_t*>(ms.Memory()), size_t(ms.Size()), bseDataFile->baFile->FileName());
}

void TzfSimpleStreamEngine::WriteMap(TzfBaseTransaction* aTrans, const TzfStreamMap& aMap) {
  uint32_t word = MapWord(aTrans);
  if (aMap.empty()) {
    if (word != 0) {
      DeleteStream(aTrans, word);
      SetWord(aTrans, kWordMap, 0);
    }
    return;
  }
  const std::string bytes = zfBuildStreamMap(aMap);
  TzfMemoryStream ms;
  ms.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  const bool fresh = word == 0;
  WriteStream(aTrans, word, ms, fresh, kzfStreamSigMap);
  if (fresh) SetWord(aTrans, kWordMap, word);
}

uint32_t TzfSimpleStreamEngine::GetNamedStreamList(TzfBaseTransaction* aTrans, rtl::TStrings& aStreams) {
  const TzfStreamMap map = ReadMap(aTrans);
  const bool dict = DictWord(aTrans) != 0;
  aStreams.BeginUpdate();
  try {
    aStreams.Clear();
    for (const auto& e : map) aStreams.Add(e.first);
    if (dict) aStreams.Add(u"DICT");
  } catch (...) {
    aStreams.EndUpdate();
    throw;
  }
  aStreams.EndUpdate();
  return 0;
}

uint32_t TzfSimpleStreamEngine::GetNamedStreamCount(TzfBaseTransaction* aTrans, uint32_t& aCount) {
  aCount = uint32_t(ReadMap(aTrans).size());
  return 0;
}

uint32_t TzfSimpleStreamEngine::DeleteNamedStream(TzfBaseTransaction* aTrans, const UnicodeString& aName) {
  if (IsDictName(aName)) {
    const uint32_t word = DictWord(aTrans);
    if (word == 0) return zfErrObjNotFound;
    DeleteStream(aTrans, word);
    SetWord(aTrans, kWordDict, 0);
    return 0;
  }
  TzfStreamMap map = ReadMap(aTrans);
  bool found = false;
  const size_t at = MapFind(map, aName, found);
  if (!found) return zfErrObjNotFound;
  DeleteStream(aTrans, map[at].second);
  map.erase(map.begin() + ptrdiff_t(at));
  WriteMap(aTrans, map);
  return 0;
}

uint32_t TzfSimpleStreamEngine::ReadNamedStream(TzfBaseTransaction* aTrans, const UnicodeString& aName,
                                                rtl::TStream& aStream) {
  uint32_t nr = 0;
  if (IsDictName(aName)) {
    nr = DictWord(aTrans);
  } else {
    const TzfStreamMap map = ReadMap(aTrans);
    bool found = false;
    const size_t at = MapFind(map, aName, found);
    if (found) nr = map[at].second;
  }
  if (nr == 0) return zfErrObjNotFound;
  ReadStream(aTrans, nr, aStream);
  return 0;
}

uint32_t TzfSimpleStreamEngine::WriteNamedStream(TzfBaseTransaction* aTrans, const UnicodeString& aName,
                                                 rtl::TStream& aStream) {
  if (IsDictName(aName)) {
    uint32_t word = DictWord(aTrans);
    const bool fresh = word == 0;
    WriteStream(aTrans, word, aStream, fresh, kzfStreamSigDictionary);
    if (fresh) SetWord(aTrans, kWordDict, word);
    return 0;
  }
  AnsiName(aName);  // a name the map cannot hold is refused before anything is written
  TzfStreamMap map = ReadMap(aTrans);
  bool found = false;
  const size_t at = MapFind(map, aName, found);
  if (found) {
    WriteStream(aTrans, map[at].second, aStream, false, kzfStreamSigUser);
  } else {
    uint32_t nr = 0;
    WriteStream(aTrans, nr, aStream, true, kzfStreamSigUser);
    map.insert(map.begin() + ptrdiff_t(at), {aName, nr});
  }
  WriteMap(aTrans, map);
  return 0;
}

namespace {
void Init() { TzfBaseSubEngine::RegisterEngine(TzfSimpleStreamEngine::ClassInfo(), zfDefaultEngineName); }
void Fini() { TzfBaseSubEngine::UnregisterEngine(TzfSimpleStreamEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfseStreamEngineSimpleUnit() {
  static rtl::TUnitInit unit("zfseStreamEngineSimple", &Init, &Fini);
  return unit;
}

}  // namespace zf
