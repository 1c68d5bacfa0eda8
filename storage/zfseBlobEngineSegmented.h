// The segmented BLOB engine ("zf1xDefault"): every BLOB of a table is a tree of segments of a heap
// engine, named by the heap reference of its root segment (the BLOB number). The root is only ever
// resized in place, so the number stays valid while the BLOB grows and shrinks.
//
// Segment formats: the first byte is the type; integers little-endian.
//
// | type | role                                    | layout                                               |
// |------|-----------------------------------------|------------------------------------------------------|
// | 0    | root of an empty BLOB                   | 13 bytes: type, 12 bytes without meaning             |
// | 1    | root of a file BLOB, ANSI name          | type, name bytes, NUL-padded to at least 12           |
// | 2    | root of a BLOB link, ANSI name          | type, +1 Int64 source BLOB number, +9 table name     |
// | 3    | root of a BLOB of 1..11 bytes           | 13 bytes: type, +1..+11 data, +12 length byte        |
// | 4    | data segment (as root: the whole BLOB)  | type, data (segment size - 1 bytes); a root >= 13    |
// | 5    | index segment                           | type, n items of 12 bytes: +0 Int64 child reference, |
// |      |                                         | +8 UInt32 end offset (BLOB offset past the child)    |
// | 6    | root of a file BLOB, UTF-16LE name      | as 1, the name in UTF-16LE                           |
// | 7    | root of a BLOB link, UTF-16LE name      | as 2, the table name in UTF-16LE                     |
//
// Tables of engine version 30000 and later get the UTF-16 forms (6, 7), older ones the ANSI forms.
// The engine's 4-byte header section holds the heap's first management block.
//
// Reading a stored tree checks everything it walks: a child must be a data or an index segment,
// the end offsets of a segment's items ascend strictly from its start, a data segment holds
// exactly the bytes its item spans, an index child ends where its item ends, and the walk is at
// most kzfMaxBlobTreeDepth levels deep. A tree that breaks any of it is refused with 11896
// "General BLOB error." and a text naming the fault; every segment is reached through the heap,
// which refuses references that name no live segment, and at most once per read (a tree never
// shares a segment), so a read delivers no more bytes than the heap holds and visits each segment
// once, whatever the tree's shape.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrHeapEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfSegmentedBlobEngineException, EzfBaseBlobEngineException)

// Deeper than any tree the engine builds: a BLOB of 4 GB in index segments of two items needs 32.
inline constexpr int kzfMaxBlobTreeDepth = 40;

inline constexpr uint8_t kzfBlobSegEmpty = 0;
inline constexpr uint8_t kzfBlobSegFileAnsi = 1;
inline constexpr uint8_t kzfBlobSegLinkAnsi = 2;
inline constexpr uint8_t kzfBlobSegSmall = 3;
inline constexpr uint8_t kzfBlobSegData = 4;
inline constexpr uint8_t kzfBlobSegIndex = 5;
inline constexpr uint8_t kzfBlobSegFileWide = 6;
inline constexpr uint8_t kzfBlobSegLinkWide = 7;

// The handler of the engine's heap: the first management block in the engine's header section.
class TzfSegmentedBlobHeapHeaderHandler : public TzfHeapHeaderHandler {
 public:
  explicit TzfSegmentedBlobHeapHeaderHandler(uint16_t aHeaderSection) : bhhhHeaderSection(aHeaderSection) {}
  void BlockAdded(TzfBaseTransaction*, TzfBaseFileHeaderAccess*, PzfBlock) override {}
  void BlockRemoved(TzfBaseTransaction*, TzfBaseFileHeaderAccess*, PzfBlock) override {}
  uint32_t GetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeaderAccess) override;
  void SetFirstManagementBlock(TzfBaseFileHeaderAccess* aHeaderAccess, uint32_t aValue) override;

  uint16_t bhhhHeaderSection;
};

class TzfSegmentedBlobEngine : public TzfBaseBlobEngine {
 public:
  // The descriptor must be a TzfHeapBlobDescriptor (10004). With aTrans (a new table) creates the
  // 4-byte header section and zeroes it, else looks it up; then the heap engine named by the heap
  // descriptor, on the BLOB file, with this engine's header handler.
  TzfSegmentedBlobEngine(TzfBaseBlobDescriptor* aDescriptor, TzfBaseTransaction* aTrans,
                         const TzfBlockAccessList& aFiles);
  ~TzfSegmentedBlobEngine() override;

  static const TzfBlobEngineClass& ClassInfo();
  const TzfBlobEngineClass& ClassType() const override { return ClassInfo(); }
  // 10004 for a descriptor of another class or without a heap descriptor; else the heap's check.
  static void CheckValidEngineDescriptor(TzfBaseBlobDescriptor* aDescriptor);

  virtual std::unique_ptr<TzfHeapHeaderHandler> CreateHeaderHandler();

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
  void Rollback(TzfBaseTransaction* aTrans) override;

  // The whole tree of a BLOB checked as a read checks it; empty when sound, else the fault.
  UnicodeString CheckBlob(TzfBaseTransaction* aTrans, int64_t aBlobNr);

  uint16_t beHeaderSection = 0;
  std::unique_ptr<TzfBaseHeapEngine> beHeapEngine;

  // One link item of an index segment.
  struct TItem {
    int64_t Ref;
    uint32_t End;
  };

 private:
  class TSegment;
  struct TPieces;

  TzfBaseBlockHeapEngine& BlockHeap() const { return *beHeapEngine->bheBlockHeapEngine; }
  [[noreturn]] void RaiseDamaged(int64_t aBlobNr, const char16_t* aWhat) const;
  // The length of a root of type 0, 3, 4 or 5 (checked against its size).
  uint32_t TreeLength(const TSegment& aRoot, int64_t aBlobNr) const;
  std::vector<TItem> ItemsOf(const TSegment& aSegment, int64_t aBlobNr, uint32_t aStart, int64_t aEnd) const;
  void PutItems(uint8_t* aData, const std::vector<TItem>& aItems) const;
  UnicodeString FileNameOf(const TSegment& aRoot) const;
  void LinkOf(const TSegment& aRoot, int64_t aBlobNr, UnicodeString& aTable, int64_t& aSourceNr) const;

  void ReadItems(TzfBaseTransaction* aTrans, int64_t aBlobNr, const std::vector<TItem>& aItems, uint32_t aStart,
                 uint32_t& aPos, uint32_t& aRemaining, int aDepth, rtl::TStream* aStream,
                 std::unordered_set<int64_t>& aSeen);
  std::vector<TItem> AllocDataSegments(TzfBaseTransaction* aTrans, TPieces& aPieces, uint32_t aStart);
  std::vector<TItem> BuildIndexLevel(TzfBaseTransaction* aTrans, const std::vector<TItem>& aItems);
  void StoreRootItems(TzfBaseTransaction* aTrans, int64_t aBlobNr, std::vector<TItem> aItems);
  void WriteItems(TzfBaseTransaction* aTrans, int64_t aBlobNr, std::vector<TItem>& aItems, uint32_t aStart,
                  uint32_t aPos, const uint8_t*& aSrc, uint32_t& aRemaining, bool aGrow, int aDepth);
  uint32_t WriteChild(TzfBaseTransaction* aTrans, int64_t aBlobNr, TItem& aItem, uint32_t aStart, uint32_t aPos,
                      const uint8_t*& aSrc, uint32_t& aRemaining, bool aGrow, int aDepth, std::vector<TItem>& aNew);
  bool TruncateChild(TzfBaseTransaction* aTrans, int64_t aBlobNr, TItem& aItem, uint32_t aStart, uint32_t aLen,
                     int aDepth);
  void TruncateItems(TzfBaseTransaction* aTrans, int64_t aBlobNr, std::vector<TItem>& aItems, uint32_t aStart,
                     uint32_t aLen, int aDepth);
  void FreeSegment(TzfBaseTransaction* aTrans, int64_t aRef);
  uint32_t RootRoom(const TSegment& aRoot);
};

rtl::TUnitInit& zfseBlobEngineSegmentedUnit();

}  // namespace zf
