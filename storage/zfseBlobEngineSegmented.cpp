#include "storage/zfseBlobEngineSegmented.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "foundation/zfllStreams.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfseHeaderAccess.h"
#include "storage/zfsrFile.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfseBlobEngineSegmented";
constexpr uint32_t kRootMin = 13;
constexpr uint32_t kItemSize = 12;
constexpr int32_t kWideNameVersion = 30000;

}  // namespace

// ---- header handler ----

uint32_t TzfSegmentedBlobHeapHeaderHandler::GetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeaderAccess) {
  return zfGetLE32(aHeaderAccess->Header + bhhhHeaderSection);
}

void TzfSegmentedBlobHeapHeaderHandler::SetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeaderAccess,
                                                                uint32_t aValue) {
  zfPutLE32(aHeaderAccess->Header + bhhhHeaderSection, aValue);
}

// ---- segment references ----

// One segment reached through the heap, its block held until Release or the end of the scope.
class TzfSegmentedBlobEngine::TSegment {
 public:
  TSegment(TzfSegmentedBlobEngine& aEngine, TzfBaseTransaction* aTrans, int64_t aRef, bool aDirty, int64_t aBlobNr)
      : Ref(aRef), FEngine(aEngine) {
    Data = aEngine.beHeapEngine->GetSegment(aTrans, aRef, aDirty, Size, Block, FRelease);
    if (!Data || Size == 0) {
      Release();
      aEngine.RaiseDamaged(aBlobNr, u"a segment without bytes");
    }
  }
  ~TSegment() { Release(); }
  TSegment(const TSegment&) = delete;
  TSegment& operator=(const TSegment&) = delete;

  void Release() {
    if (Block) FRelease(Block);
    Block = nullptr;
    Data = nullptr;
  }
  uint8_t Type() const { return Data[0]; }
  // Resizes in place; false (nothing changed) when the block cannot hold the new size.
  bool Resize(uint32_t aNewSize) {
    if (aNewSize == Size) return true;
    if (aNewSize > 0xFFFF) return false;
    PzfByteArray p = FEngine.BlockHeap().ReAllocSegment(Block, uint16_t(aNewSize), zfHeapRefSegment(Ref));
    if (!p) return false;
    Data = p;
    Size = uint16_t(aNewSize);
    return true;
  }

  uint8_t* Data = nullptr;
  uint16_t Size = 0;
  PzfBlock Block = nullptr;
  int64_t Ref;

 private:
  TzfSegmentedBlobEngine& FEngine;
  TzfReleaseMethod FRelease;
};

// Bytes to be stored, in spans; consumed from the front.
struct TzfSegmentedBlobEngine::TPieces {
  std::vector<std::pair<const uint8_t*, uint32_t>> Spans;

  uint32_t Total() const {
    uint64_t n = 0;
    for (const auto& s : Spans) n += s.second;
    return uint32_t(n);
  }
  void Advance(uint32_t aCount) {
    for (auto& s : Spans) {
      const uint32_t k = std::min(aCount, s.second);
      s.first += k;
      s.second -= k;
      aCount -= k;
    }
    std::erase_if(Spans, [](const auto& s) { return s.second == 0; });
  }
};

// ---- engine ----

TzfSegmentedBlobEngine::TzfSegmentedBlobEngine(TzfBaseBlobDescriptor* aDescriptor, TzfBaseTransaction* aTrans,
                                               const TzfBlockAccessList& aFiles)
    : TzfBaseBlobEngine(aDescriptor, aTrans, aFiles) {
  auto* heapBlob = dynamic_cast<TzfHeapBlobDescriptor*>(aDescriptor);
  if (!heapBlob) throw EzfSegmentedBlobEngineException(zfErrInvalidDesc, u"TzfHeapBlobDescriptor is required");
  {
    std::unique_ptr<TzfBaseFileHeaderAccess> ha(bbeBlobFile->HeaderAccess(aTrans, aTrans != nullptr));
    beHeaderSection = ha->RegisterHeaderSection(aDescriptor->bbdHeaderSection, 4, aTrans != nullptr, false);
    if (aTrans) zfPutLE32(ha->Header + beHeaderSection, 0);
  }
  beHeapEngine = TzfBaseHeapEngine::CreateEngine(heapBlob->hbdHeapDescriptor.get(), bbeBlobFile, CreateHeaderHandler());
  if (!beHeapEngine || !beHeapEngine->bheBlockHeapEngine)
    throw EzfSegmentedBlobEngineException(zfErrInvalidDesc, u"A HeapDescriptor is required");
}

TzfSegmentedBlobEngine::~TzfSegmentedBlobEngine() = default;

const TzfBlobEngineClass& TzfSegmentedBlobEngine::ClassInfo() {
  static const TzfBlobEngineClass info(
      u"TzfSegmentedBlobEngine", &TzfBaseBlobEngine::ClassInfo(), nullptr, nullptr,
      [](TzfBaseBlobDescriptor* d, TzfBaseTransaction* t,
         const TzfBlockAccessList& f) -> std::unique_ptr<TzfBaseBlobEngine> {
        return std::make_unique<TzfSegmentedBlobEngine>(d, t, f);
      },
      &TzfSegmentedBlobEngine::CheckValidEngineDescriptor);
  return info;
}

void TzfSegmentedBlobEngine::CheckValidEngineDescriptor(TzfBaseBlobDescriptor* aDescriptor) {
  auto* heapBlob = dynamic_cast<TzfHeapBlobDescriptor*>(aDescriptor);
  if (!heapBlob)
    throw EzfSegmentedBlobEngineException(zfErrInvalidDesc,
                                          u"Blob descriptor must be a TzfHeapBlobDescriptor is required");
  if (!heapBlob->hbdHeapDescriptor)
    throw EzfSegmentedBlobEngineException(zfErrInvalidDesc, u"A HeapDescriptor is required");
  TzfBaseHeapEngine::CheckValidBaseFromDescriptor(heapBlob->hbdHeapDescriptor.get());
}

std::unique_ptr<TzfHeapHeaderHandler> TzfSegmentedBlobEngine::CreateHeaderHandler() {
  return std::make_unique<TzfSegmentedBlobHeapHeaderHandler>(beHeaderSection);
}

void TzfSegmentedBlobEngine::RaiseDamaged(int64_t aBlobNr, const char16_t* aWhat) const {
  throw EzfSegmentedBlobEngineException(zfErrBlobGeneral, u"General BLOB error. [%s, (%d), %s]",
                                        {bbeBlobFile->TableFileName(), aBlobNr, aWhat});
}

uint32_t TzfSegmentedBlobEngine::TreeLength(const TSegment& aRoot, int64_t aBlobNr) const {
  if (aRoot.Size < kRootMin) RaiseDamaged(aBlobNr, u"a root shorter than 13 bytes");
  switch (aRoot.Type()) {
    case kzfBlobSegEmpty:
      return 0;
    case kzfBlobSegSmall:
      if (aRoot.Data[12] > 12) RaiseDamaged(aBlobNr, u"a small root longer than its room");
      return aRoot.Data[12];
    case kzfBlobSegData:
      return aRoot.Size - 1u;
    case kzfBlobSegIndex:
      return ItemsOf(aRoot, aBlobNr, 0, -1).back().End;
    default:
      RaiseDamaged(aBlobNr, u"an unknown segment type");
  }
}

std::vector<TzfSegmentedBlobEngine::TItem> TzfSegmentedBlobEngine::ItemsOf(const TSegment& aSegment, int64_t aBlobNr,
                                                                           uint32_t aStart, int64_t aEnd) const {
  if (aSegment.Size < 1 + kItemSize || (aSegment.Size - 1u) % kItemSize != 0)
    RaiseDamaged(aBlobNr, u"an index segment of a wrong size");
  const uint32_t n = (aSegment.Size - 1u) / kItemSize;
  std::vector<TItem> items(n);
  uint32_t previous = aStart;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* p = aSegment.Data + 1 + i * kItemSize;
    items[i] = {int64_t(zfGetLE64(p)), zfGetLE32(p + 8)};
    // Every item spans at least one byte: this bounds any walk by the bytes it covers.
    if (items[i].End <= previous) RaiseDamaged(aBlobNr, u"end offsets that do not ascend");
    previous = items[i].End;
  }
  if (aEnd >= 0 && int64_t(previous) != aEnd) RaiseDamaged(aBlobNr, u"an index segment that ends off its item");
  return items;
}

void TzfSegmentedBlobEngine::PutItems(uint8_t* aData, const std::vector<TItem>& aItems) const {
  for (size_t i = 0; i < aItems.size(); ++i) {
    zfPutLE64(aData + i * kItemSize, uint64_t(aItems[i].Ref));
    zfPutLE32(aData + i * kItemSize + 8, aItems[i].End);
  }
}

UnicodeString TzfSegmentedBlobEngine::FileNameOf(const TSegment& aRoot) const {
  const uint8_t* p = aRoot.Data + 1;
  const uint32_t n = aRoot.Size - 1u;
  if (aRoot.Type() == kzfBlobSegFileAnsi) {
    const uint32_t len = uint32_t(std::find(p, p + n, 0) - p);
    return rtl::AnsiToUnicode(rtl::AnsiString(std::string(reinterpret_cast<const char*>(p), len)));
  }
  UnicodeString name;
  for (uint32_t i = 0; i + 1 < n; i += 2) {
    const char16_t c = char16_t(zfGetLE16(p + i));
    if (c == 0) break;
    name.push_back(c);
  }
  return name;
}

void TzfSegmentedBlobEngine::LinkOf(const TSegment& aRoot, int64_t aBlobNr, UnicodeString& aTable,
                                    int64_t& aSourceNr) const {
  if (aRoot.Size < 9) RaiseDamaged(aBlobNr, u"a link root shorter than its number");
  aSourceNr = int64_t(zfGetLE64(aRoot.Data + 1));
  const uint8_t* p = aRoot.Data + 9;
  const uint32_t n = aRoot.Size - 9u;
  aTable.clear();
  if (aRoot.Type() == kzfBlobSegLinkAnsi) {
    aTable = rtl::AnsiToUnicode(rtl::AnsiString(std::string(reinterpret_cast<const char*>(p), n)));
  } else {
    for (uint32_t i = 0; i + 1 < n; i += 2) aTable.push_back(char16_t(zfGetLE16(p + i)));
  }
}

uint32_t TzfSegmentedBlobEngine::RootRoom(const TSegment& aRoot) {
  return std::min<uint32_t>(0xFFFF, uint32_t(aRoot.Size) + BlockHeap().GetFreespace(aRoot.Block));
}

void TzfSegmentedBlobEngine::FreeSegment(TzfBaseTransaction* aTrans, int64_t aRef) {
  TSegment s(*this, aTrans, aRef, true, aRef);
  BlockHeap().FreeSegment(s.Block, zfHeapRefSegment(aRef));
}

// ---- creating ----

void TzfSegmentedBlobEngine::AddBlob(TzfBaseTransaction* aTrans, int64_t& aBlobNr) {
  const uint8_t type = kzfBlobSegEmpty;
  aBlobNr = beHeapEngine->AllocSegment(aTrans, {&type, nullptr}, {1, 12});
}

void TzfSegmentedBlobEngine::AddFileBlob(TzfBaseTransaction* aTrans, const UnicodeString& aFileName,
                                         int64_t& aBlobNr) {
  std::string bytes;
  uint8_t type;
  if (bseTableVersion >= kWideNameVersion) {
    type = kzfBlobSegFileWide;
    for (char16_t c : aFileName) {
      bytes.push_back(char(c & 0xFF));
      bytes.push_back(char(c >> 8));
    }
  } else {
    type = kzfBlobSegFileAnsi;
    bytes = rtl::UnicodeToAnsi(aFileName).Bytes();
  }
  if (bytes.size() < 12) bytes.resize(12, '\0');
  if (bytes.size() > 0xFFFE) rtl::RaiseRangeError();
  aBlobNr = beHeapEngine->AllocSegment(aTrans, {&type, bytes.data()}, {1, uint16_t(bytes.size())});
}

void TzfSegmentedBlobEngine::AddBlobLink(TzfBaseTransaction* aTrans, const UnicodeString& aTableName,
                                         int64_t aTableBlobNr, int64_t& aBlobNr) {
  std::string bytes;
  uint8_t type;
  if (bseTableVersion >= kWideNameVersion) {
    type = kzfBlobSegLinkWide;
    for (char16_t c : aTableName) {
      bytes.push_back(char(c & 0xFF));
      bytes.push_back(char(c >> 8));
    }
  } else {
    type = kzfBlobSegLinkAnsi;
    bytes = rtl::UnicodeToAnsi(aTableName).Bytes();
  }
  if (bytes.size() > 0xFFFF - 9) rtl::RaiseRangeError();
  uint8_t number[8];
  zfPutLE64(number, uint64_t(aTableBlobNr));
  aBlobNr = beHeapEngine->AllocSegment(aTrans, {&type, number, bytes.data()}, {1, 8, uint16_t(bytes.size())});
}

// ---- reading ----

bool TzfSegmentedBlobEngine::IsFileBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr, UnicodeString& aFileName) {
  TSegment root(*this, aTrans, aBlobNr, false, aBlobNr);
  aFileName.clear();
  if (root.Type() != kzfBlobSegFileAnsi && root.Type() != kzfBlobSegFileWide) return false;
  aFileName = FileNameOf(root);
  return true;
}

bool TzfSegmentedBlobEngine::IsBlobLink(TzfBaseTransaction* aTrans, int64_t aBlobNr, UnicodeString& aSrcTableName,
                                        int64_t& aSrcTableBlobNr) {
  TSegment root(*this, aTrans, aBlobNr, false, aBlobNr);
  aSrcTableName.clear();
  aSrcTableBlobNr = 0;
  if (root.Type() != kzfBlobSegLinkAnsi && root.Type() != kzfBlobSegLinkWide) return false;
  LinkOf(root, aBlobNr, aSrcTableName, aSrcTableBlobNr);
  return true;
}

uint32_t TzfSegmentedBlobEngine::GetBlobLength(TzfBaseTransaction* aTrans, int64_t aBlobNr,
                                               const TzfBlobLinkGetLength& aLengthMethod, uint32_t& aLength) {
  TSegment root(*this, aTrans, aBlobNr, false, aBlobNr);
  aLength = 0;
  switch (root.Type()) {
    case kzfBlobSegEmpty:
    case kzfBlobSegSmall:
    case kzfBlobSegData:
    case kzfBlobSegIndex:
      aLength = TreeLength(root, aBlobNr);
      return 0;
    case kzfBlobSegFileAnsi:
    case kzfBlobSegFileWide: {
      const UnicodeString name = FileNameOf(root);
      root.Release();
      return ExternalFileLength(name, aLength);
    }
    case kzfBlobSegLinkAnsi:
    case kzfBlobSegLinkWide: {
      UnicodeString table;
      int64_t source = 0;
      LinkOf(root, aBlobNr, table, source);
      root.Release();
      ZF_ASSERT(bool(aLengthMethod), kUnit);
      return aLengthMethod(table, source, aLength);
    }
    default:
      return EzfBaseException::zfSetMessage(zfErrBlobGeneral, u"General BLOB error. [%s, (%d), %s]",
                                            {bbeBlobFile->TableFileName(), aBlobNr, u"an unknown root type"});
  }
}

void TzfSegmentedBlobEngine::ReadItems(TzfBaseTransaction* aTrans, int64_t aBlobNr, const std::vector<TItem>& aItems,
                                       uint32_t aStart, uint32_t& aPos, uint32_t& aRemaining, int aDepth,
                                       rtl::TStream* aStream, std::unordered_set<int64_t>& aSeen) {
  if (aDepth > kzfMaxBlobTreeDepth) RaiseDamaged(aBlobNr, u"a tree deeper than any the engine builds");
  // The first item that ends past the position (ends ascend, as ItemsOf checked).
  size_t i = size_t(std::upper_bound(aItems.begin(), aItems.end(), aPos,
                                     [](uint32_t v, const TItem& it) { return v < it.End; }) -
                    aItems.begin());
  for (; aRemaining > 0 && i < aItems.size(); ++i) {
    const uint32_t start = i == 0 ? aStart : aItems[i - 1].End;
    const uint32_t end = aItems[i].End;
    if (aPos < start || aPos >= end) RaiseDamaged(aBlobNr, u"a position outside its item");
    // A tree never shares a segment: one reached twice is a loop or a copy that would repeat bytes.
    if (!aSeen.insert(aItems[i].Ref).second) RaiseDamaged(aBlobNr, u"a segment reached twice");
    TSegment child(*this, aTrans, aItems[i].Ref, false, aBlobNr);
    if (child.Type() == kzfBlobSegData) {
      if (uint32_t(child.Size - 1u) != end - start) RaiseDamaged(aBlobNr, u"a data segment that differs from its item");
      const uint32_t k = std::min(aRemaining, end - aPos);
      if (aStream) aStream->WriteBuffer(child.Data + 1 + (aPos - start), k);
      aPos += k;
      aRemaining -= k;
    } else if (child.Type() == kzfBlobSegIndex) {
      const std::vector<TItem> items = ItemsOf(child, aBlobNr, start, end);
      child.Release();
      ReadItems(aTrans, aBlobNr, items, start, aPos, aRemaining, aDepth + 1, aStream, aSeen);
    } else {
      RaiseDamaged(aBlobNr, u"a child that is neither data nor index");
    }
  }
}

uint32_t TzfSegmentedBlobEngine::Read(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                      const TzfBlobLinkRead& aReadMethod, rtl::TStream& aStream) {
  TSegment root(*this, aTrans, aBlobNr, false, aBlobNr);
  switch (root.Type()) {
    case kzfBlobSegEmpty:
      TreeLength(root, aBlobNr);
      return 0;
    case kzfBlobSegSmall:
    case kzfBlobSegData: {
      const uint32_t length = TreeLength(root, aBlobNr);
      if (aOffset < length) aStream.WriteBuffer(root.Data + 1 + aOffset, std::min(length - aOffset, aLen));
      return 0;
    }
    case kzfBlobSegFileAnsi:
    case kzfBlobSegFileWide: {
      const UnicodeString name = FileNameOf(root);
      root.Release();
      return ReadExternalFile(name, aOffset, aStream, aLen);
    }
    case kzfBlobSegLinkAnsi:
    case kzfBlobSegLinkWide: {
      UnicodeString table;
      int64_t source = 0;
      LinkOf(root, aBlobNr, table, source);
      root.Release();
      ZF_ASSERT(bool(aReadMethod), kUnit);
      return aReadMethod(table, source, aOffset, aLen, aStream);
    }
    case kzfBlobSegIndex: {
      const std::vector<TItem> items = ItemsOf(root, aBlobNr, 0, -1);
      root.Release();
      const uint32_t length = items.back().End;
      if (aOffset >= length) return 0;
      uint32_t pos = aOffset;
      uint32_t remaining = std::min(aLen, length - aOffset);
      std::unordered_set<int64_t> seen{aBlobNr};
      ReadItems(aTrans, aBlobNr, items, 0, pos, remaining, 1, &aStream, seen);
      return 0;
    }
    default:
      // An unknown root is a damaged BLOB, never an empty one.
      return EzfBaseException::zfSetMessage(zfErrBlobGeneral, u"General BLOB error. [%s, (%d), %s]",
                                            {bbeBlobFile->TableFileName(), aBlobNr, u"an unknown root type"});
  }
}

UnicodeString TzfSegmentedBlobEngine::CheckBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr) {
  try {
    TSegment root(*this, aTrans, aBlobNr, false, aBlobNr);
    const uint8_t type = root.Type();
    if (type > kzfBlobSegLinkWide) RaiseDamaged(aBlobNr, u"an unknown root type");
    if (type == kzfBlobSegIndex) {
      const std::vector<TItem> items = ItemsOf(root, aBlobNr, 0, -1);
      root.Release();
      uint32_t pos = 0;
      uint32_t remaining = items.back().End;
      std::unordered_set<int64_t> seen{aBlobNr};
      ReadItems(aTrans, aBlobNr, items, 0, pos, remaining, 1, nullptr, seen);
      if (remaining != 0) RaiseDamaged(aBlobNr, u"a tree shorter than its length");
    } else if (type != kzfBlobSegFileAnsi && type != kzfBlobSegFileWide && type != kzfBlobSegLinkAnsi &&
               type != kzfBlobSegLinkWide) {
      TreeLength(root, aBlobNr);
    }
    return {};
  } catch (const EzfBaseException& e) {
    return e.Message();
  }
}

// ---- writing ----

std::vector<TzfSegmentedBlobEngine::TItem> TzfSegmentedBlobEngine::AllocDataSegments(TzfBaseTransaction* aTrans,
                                                                                     TPieces& aPieces,
                                                                                     uint32_t aStart) {
  static const uint8_t type = kzfBlobSegData;
  std::vector<TItem> out;
  uint32_t end = aStart;
  while (aPieces.Total() > 0) {
    std::vector<const void*> items{&type};
    std::vector<uint32_t> sizes{1};
    for (const auto& s : aPieces.Spans) {
      items.push_back(s.first);
      sizes.push_back(s.second);
    }
    uint16_t got = 0;
    const int64_t ref = beHeapEngine->AllocSegmentEx(aTrans, items, sizes, 2, got, 0, 1, false);
    ZF_ASSERT(ref != 0 && got >= 2 && got - 1u <= aPieces.Total(), kUnit);
    aPieces.Advance(got - 1u);
    end += got - 1u;
    out.push_back({ref, end});
  }
  return out;
}

std::vector<TzfSegmentedBlobEngine::TItem> TzfSegmentedBlobEngine::BuildIndexLevel(TzfBaseTransaction* aTrans,
                                                                                   const std::vector<TItem>& aItems) {
  static const uint8_t type = kzfBlobSegIndex;
  std::vector<uint8_t> bytes(aItems.size() * kItemSize);
  PutItems(bytes.data(), aItems);
  std::vector<TItem> out;
  size_t pos = 0;
  while (pos < aItems.size()) {
    uint16_t got = 0;
    const int64_t ref =
        beHeapEngine->AllocSegmentEx(aTrans, {&type, bytes.data() + pos * kItemSize},
                                     {1, uint32_t((aItems.size() - pos) * kItemSize)}, 1 + kItemSize, got, 1,
                                     kItemSize, true);
    const size_t k = (got - 1u) / kItemSize;
    ZF_ASSERT(ref != 0 && k >= 1 && k <= aItems.size() - pos, kUnit);
    pos += k;
    out.push_back({ref, aItems[pos - 1].End});
  }
  return out;
}

void TzfSegmentedBlobEngine::StoreRootItems(TzfBaseTransaction* aTrans, int64_t aBlobNr, std::vector<TItem> aItems) {
  for (;;) {
    TSegment root(*this, aTrans, aBlobNr, true, aBlobNr);
    const uint32_t need = 1 + kItemSize * uint32_t(aItems.size());
    if (need <= RootRoom(root) && root.Resize(need)) {
      root.Data[0] = kzfBlobSegIndex;
      PutItems(root.Data + 1, aItems);
      return;
    }
    root.Release();
    // One item always fits: a root is at least 13 bytes.
    ZF_ASSERT(aItems.size() > 1, kUnit);
    aItems = BuildIndexLevel(aTrans, aItems);
  }
}

void TzfSegmentedBlobEngine::WriteItems(TzfBaseTransaction* aTrans, int64_t aBlobNr, std::vector<TItem>& aItems,
                                        uint32_t aStart, uint32_t aPos, const uint8_t*& aSrc, uint32_t& aRemaining,
                                        bool aGrow, int aDepth) {
  if (aDepth > kzfMaxBlobTreeDepth) RaiseDamaged(aBlobNr, u"a tree deeper than any the engine builds");
  const size_t n = aItems.size();
  size_t i = size_t(std::upper_bound(aItems.begin(), aItems.end(), aPos,
                                     [](uint32_t v, const TItem& it) { return v < it.End; }) -
                    aItems.begin());
  if (i == n) i = n - 1;  // an append goes to the last item
  while (aRemaining > 0 && i < n) {
    const uint32_t start = i == 0 ? aStart : aItems[i - 1].End;
    if (aPos < start || aPos > aItems[i].End) RaiseDamaged(aBlobNr, u"a position outside its item");
    // Only the last item of the last path may grow the BLOB.
    const bool last = aGrow && i == n - 1;
    std::vector<TItem> added;
    const uint32_t before = aRemaining;
    aItems[i].End = WriteChild(aTrans, aBlobNr, aItems[i], start, aPos, aSrc, aRemaining, last, aDepth, added);
    aPos += before - aRemaining;
    if (last) aItems.insert(aItems.end(), added.begin(), added.end());
    ++i;
  }
}

uint32_t TzfSegmentedBlobEngine::WriteChild(TzfBaseTransaction* aTrans, int64_t aBlobNr, TItem& aItem,
                                            uint32_t aStart, uint32_t aPos, const uint8_t*& aSrc,
                                            uint32_t& aRemaining, bool aGrow, int aDepth, std::vector<TItem>& aNew) {
  TSegment child(*this, aTrans, aItem.Ref, true, aBlobNr);
  if (child.Type() == kzfBlobSegData) {
    const uint32_t d = child.Size - 1u;
    if (d != aItem.End - aStart) RaiseDamaged(aBlobNr, u"a data segment that differs from its item");
    const uint32_t k = std::min(aRemaining, aItem.End - aPos);
    std::memcpy(child.Data + 1 + (aPos - aStart), aSrc, k);
    aSrc += k;
    aRemaining -= k;
    uint32_t end = aItem.End;
    if (!aGrow || aRemaining == 0) return end;
    child.Release();
    // The last data segment grows in place first, then new segments follow it.
    const uint32_t wanted = std::min<uint64_t>(0xFFFF, uint64_t(child.Size) + aRemaining);
    const uint16_t size = beHeapEngine->GrowSegmentInPlace(aTrans, aItem.Ref, wanted, 0, 1);
    if (size > d + 1) {
      TSegment grown(*this, aTrans, aItem.Ref, true, aBlobNr);
      const uint32_t g = size - 1u - d;
      ZF_ASSERT(g <= aRemaining && grown.Size == size, kUnit);
      std::memcpy(grown.Data + 1 + d, aSrc, g);
      aSrc += g;
      aRemaining -= g;
      end += g;
    }
    if (aRemaining > 0) {
      TPieces pieces{{{aSrc, aRemaining}}};
      aNew = AllocDataSegments(aTrans, pieces, end);
      aSrc += aRemaining;
      aRemaining = 0;
    }
    return end;
  }
  if (child.Type() != kzfBlobSegIndex) RaiseDamaged(aBlobNr, u"a child that is neither data nor index");
  std::vector<TItem> items = ItemsOf(child, aBlobNr, aStart, aItem.End);
  const size_t oldCount = items.size();
  child.Release();
  WriteItems(aTrans, aBlobNr, items, aStart, aPos, aSrc, aRemaining, aGrow, aDepth + 1);
  size_t keep = items.size();
  bool stored = false;
  if (items.size() != oldCount) {
    const uint16_t size =
        beHeapEngine->GrowSegmentInPlace(aTrans, aItem.Ref, uint32_t(1 + kItemSize * items.size()), 1, kItemSize);
    keep = std::min<size_t>(items.size(), (size - 1u) / kItemSize);
    ZF_ASSERT(keep >= oldCount, kUnit);
    if (keep < items.size()) {
      // Where its block is too small, the segment moves to a place that takes more of its items
      // (its parent's item follows it), so the tree grows in width before it grows in depth.
      static const uint8_t type = kzfBlobSegIndex;
      std::vector<uint8_t> bytes(items.size() * kItemSize);
      PutItems(bytes.data(), items);
      uint16_t got = 0;
      const int64_t moved = beHeapEngine->AllocSegmentEx(aTrans, {&type, bytes.data()}, {1, uint32_t(bytes.size())},
                                                         1 + kItemSize, got, 1, kItemSize, true);
      const size_t movedKeep = std::min<size_t>(items.size(), (got - 1u) / kItemSize);
      if (movedKeep > keep) {
        FreeSegment(aTrans, aItem.Ref);
        aItem.Ref = moved;
        keep = movedKeep;
        stored = true;
      } else {
        FreeSegment(aTrans, moved);
      }
    }
  }
  if (!stored) {
    TSegment segment(*this, aTrans, aItem.Ref, true, aBlobNr);
    ZF_ASSERT(segment.Size == 1 + kItemSize * keep, kUnit);
    PutItems(segment.Data + 1, std::vector<TItem>(items.begin(), items.begin() + ptrdiff_t(keep)));
  }
  if (keep < items.size()) aNew = BuildIndexLevel(aTrans, std::vector<TItem>(items.begin() + ptrdiff_t(keep), items.end()));
  return items[keep - 1].End;
}

void TzfSegmentedBlobEngine::Write(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                   const void* aBlob) {
  TSegment root(*this, aTrans, aBlobNr, true, aBlobNr);
  const uint8_t type = root.Type();
  if (type > kzfBlobSegLinkWide) RaiseDamaged(aBlobNr, u"an unknown root type");
  if (type == kzfBlobSegFileAnsi || type == kzfBlobSegFileWide || type == kzfBlobSegLinkAnsi ||
      type == kzfBlobSegLinkWide)
    throw EzfSegmentedBlobEngineException(zfErrReadOnlyField, u"Trying to modify read-only field.");
  const uint32_t length = TreeLength(root, aBlobNr);
  if (aOffset > length)
    throw EzfSegmentedBlobEngineException(
        zfErrInvalidBlobOffset, u"Offset value is greater than the length of the BLOB [%s, (%d), offset %d, length %d]",
        {bbeBlobFile->TableFileName(), aBlobNr, aOffset, length});
  if (aLen == 0) return;
  if (uint64_t(aOffset) + aLen > 0xFFFFFFFFu) rtl::RaiseRangeError();
  const uint8_t* src = static_cast<const uint8_t*>(aBlob);
  const uint32_t newLength = std::max(aOffset + aLen, length);

  if (type == kzfBlobSegIndex) {
    std::vector<TItem> items = ItemsOf(root, aBlobNr, 0, -1);
    root.Release();
    uint32_t remaining = aLen;
    WriteItems(aTrans, aBlobNr, items, 0, aOffset, src, remaining, true, 1);
    StoreRootItems(aTrans, aBlobNr, std::move(items));
    return;
  }
  if (newLength <= 11) {
    std::memcpy(root.Data + 1 + aOffset, src, aLen);
    root.Data[12] = uint8_t(newLength);
    root.Data[0] = kzfBlobSegSmall;
    return;
  }
  if ((newLength == length || newLength + 1 <= RootRoom(root)) && root.Resize(newLength + 1)) {
    std::memcpy(root.Data + 1 + aOffset, src, aLen);
    root.Data[0] = kzfBlobSegData;
    return;
  }
  // The root cannot hold it: the old leading bytes and the new ones go into data segments.
  std::vector<uint8_t> old(root.Data + 1, root.Data + 1 + aOffset);
  root.Release();
  TPieces pieces{{{old.data(), aOffset}, {src, aLen}}};
  StoreRootItems(aTrans, aBlobNr, AllocDataSegments(aTrans, pieces, 0));
}

// ---- truncating and deleting ----

bool TzfSegmentedBlobEngine::TruncateChild(TzfBaseTransaction* aTrans, int64_t aBlobNr, TItem& aItem, uint32_t aStart,
                                           uint32_t aLen, int aDepth) {
  if (aDepth > kzfMaxBlobTreeDepth) RaiseDamaged(aBlobNr, u"a tree deeper than any the engine builds");
  TSegment child(*this, aTrans, aItem.Ref, true, aBlobNr);
  if (child.Type() == kzfBlobSegData) {
    if (uint32_t(child.Size - 1u) != aItem.End - aStart)
      RaiseDamaged(aBlobNr, u"a data segment that differs from its item");
    if (aLen > aStart) {
      if (!child.Resize(aLen - aStart + 1)) RaiseDamaged(aBlobNr, u"a segment that cannot shrink");
      aItem.End = aLen;
      return true;
    }
    BlockHeap().FreeSegment(child.Block, zfHeapRefSegment(aItem.Ref));
    return false;
  }
  if (child.Type() != kzfBlobSegIndex) RaiseDamaged(aBlobNr, u"a child that is neither data nor index");
  std::vector<TItem> items = ItemsOf(child, aBlobNr, aStart, aItem.End);
  child.Release();
  TruncateItems(aTrans, aBlobNr, items, aStart, aLen, aDepth + 1);
  TSegment again(*this, aTrans, aItem.Ref, true, aBlobNr);
  if (items.empty()) {
    BlockHeap().FreeSegment(again.Block, zfHeapRefSegment(aItem.Ref));
    return false;
  }
  if (!again.Resize(1 + kItemSize * uint32_t(items.size()))) RaiseDamaged(aBlobNr, u"a segment that cannot shrink");
  PutItems(again.Data + 1, items);
  aItem.End = items.back().End;
  return true;
}

void TzfSegmentedBlobEngine::TruncateItems(TzfBaseTransaction* aTrans, int64_t aBlobNr, std::vector<TItem>& aItems,
                                           uint32_t aStart, uint32_t aLen, int aDepth) {
  while (!aItems.empty() && aItems.back().End > aLen) {
    const uint32_t start = aItems.size() >= 2 ? aItems[aItems.size() - 2].End : aStart;
    if (TruncateChild(aTrans, aBlobNr, aItems.back(), start, aLen, aDepth)) break;
    aItems.pop_back();
  }
}

void TzfSegmentedBlobEngine::Truncate(TzfBaseTransaction* aTrans, int64_t aBlobNr, uint32_t aLen) {
  TSegment root(*this, aTrans, aBlobNr, true, aBlobNr);
  const uint8_t type = root.Type();
  if (type > kzfBlobSegLinkWide) RaiseDamaged(aBlobNr, u"an unknown root type");
  uint32_t length;
  if (type == kzfBlobSegFileAnsi || type == kzfBlobSegFileWide || type == kzfBlobSegLinkAnsi ||
      type == kzfBlobSegLinkWide) {
    if (aLen != 0) throw EzfSegmentedBlobEngineException(zfErrReadOnlyField, u"Trying to modify read-only field.");
    length = root.Size - 1u;
  } else {
    length = TreeLength(root, aBlobNr);
  }
  if (aLen > length)
    throw EzfSegmentedBlobEngineException(
        zfErrInvalidBlobLen, u"Truncate length is greater than length of BLOB [%s, (%d), offset %d, length %d]",
        {bbeBlobFile->TableFileName(), aBlobNr, aLen, length});
  if (aLen == length) return;
  if (type != kzfBlobSegIndex) {
    const bool ok = root.Resize(aLen > 11 ? aLen + 1 : kRootMin);
    ZF_ASSERT(ok, kUnit);
    if (aLen > 11) {
      root.Data[0] = kzfBlobSegData;
    } else {
      root.Data[0] = aLen ? kzfBlobSegSmall : kzfBlobSegEmpty;
      if (aLen) root.Data[12] = uint8_t(aLen);
    }
    return;
  }
  std::vector<TItem> items = ItemsOf(root, aBlobNr, 0, -1);
  root.Release();
  TruncateItems(aTrans, aBlobNr, items, 0, aLen, 1);
  if (items.empty()) {
    TSegment r(*this, aTrans, aBlobNr, true, aBlobNr);
    const bool ok = r.Resize(kRootMin);
    ZF_ASSERT(ok, kUnit);
    r.Data[0] = kzfBlobSegEmpty;
    return;
  }
  // Levels of a single item collapse into the root while it can take them in place.
  for (int depth = 0; items.size() == 1 && depth < kzfMaxBlobTreeDepth; ++depth) {
    TSegment child(*this, aTrans, items[0].Ref, false, aBlobNr);
    if (child.Type() != kzfBlobSegIndex) break;
    std::vector<TItem> inner = ItemsOf(child, aBlobNr, 0, items[0].End);
    const uint32_t size = child.Size;
    child.Release();
    TSegment root2(*this, aTrans, aBlobNr, true, aBlobNr);
    if (size > RootRoom(root2)) break;
    root2.Release();
    FreeSegment(aTrans, items[0].Ref);
    TSegment r2(*this, aTrans, aBlobNr, true, aBlobNr);
    if (!r2.Resize(size)) {
      // Keep the tree whole: the freed child's items go into a new segment again.
      r2.Release();
      inner = BuildIndexLevel(aTrans, inner);
    }
    items = std::move(inner);
  }
  if (items.size() == 1 && aLen <= BlockHeap().bbheMaxSegmentSize) {
    // What is left may fit the root itself.
    TSegment r(*this, aTrans, aBlobNr, true, aBlobNr);
    const uint32_t want = std::max(aLen + 1, kRootMin);
    uint32_t room = RootRoom(r);
    // A data child in the root's own block gives its room back when it goes (less the margin the
    // block heap keeps).
    if (zfHeapRefBlock(items[0].Ref) == zfHeapRefBlock(aBlobNr)) {
      TSegment only(*this, aTrans, items[0].Ref, false, aBlobNr);
      if (only.Type() == kzfBlobSegData && only.Size > 8) room = std::min<uint32_t>(0xFFFF, room + only.Size - 8u);
    }
    r.Release();
    if (want <= room) {
      TzfMemoryStream content;
      uint32_t pos = 0;
      uint32_t remaining = aLen;
      std::unordered_set<int64_t> seen{aBlobNr};
      ReadItems(aTrans, aBlobNr, items, 0, pos, remaining, 1, &content, seen);
      TruncateItems(aTrans, aBlobNr, items, 0, 0, 1);
      TSegment again(*this, aTrans, aBlobNr, true, aBlobNr);
      if (again.Resize(want)) {
        std::memcpy(again.Data + 1, content.Memory(), aLen);
        again.Data[0] = aLen > 11 ? kzfBlobSegData : kzfBlobSegSmall;
        if (aLen <= 11) again.Data[12] = uint8_t(aLen);
        return;
      }
      // The room went elsewhere: store the bytes as a tree again.
      again.Release();
      TPieces pieces{{{static_cast<const uint8_t*>(content.Memory()), aLen}}};
      items = AllocDataSegments(aTrans, pieces, 0);
    }
  }
  StoreRootItems(aTrans, aBlobNr, std::move(items));
}

void TzfSegmentedBlobEngine::DeleteBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr) {
  uint8_t type;
  {
    TSegment root(*this, aTrans, aBlobNr, true, aBlobNr);
    type = root.Type();
  }
  if (type > kzfBlobSegLinkWide) return;
  if (type == kzfBlobSegIndex) Truncate(aTrans, aBlobNr, 0);
  FreeSegment(aTrans, aBlobNr);
}

bool TzfSegmentedBlobEngine::FreeBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr) {
  if (!aTrans) return false;
  TSegment root(*this, aTrans, aBlobNr, true, aBlobNr);
  if (root.Type() != kzfBlobSegEmpty) return false;
  BlockHeap().FreeSegment(root.Block, zfHeapRefSegment(aBlobNr));
  return true;
}

void TzfSegmentedBlobEngine::Rollback(TzfBaseTransaction* aTrans) {
  beHeapEngine->Rollback(aTrans);
  TzfBaseBlobEngine::Rollback(aTrans);
}

namespace {
void Init() { TzfBaseSubEngine::RegisterEngine(TzfSegmentedBlobEngine::ClassInfo(), zfDefaultEngineName); }
void Fini() { TzfBaseSubEngine::UnregisterEngine(TzfSegmentedBlobEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfseBlobEngineSegmentedUnit() {
  static rtl::TUnitInit unit("zfseBlobEngineSegmented", &Init, &Fini);
  return unit;
}

}  // namespace zf
