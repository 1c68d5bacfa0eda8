// A cursor for the client tests that stands in front of a real engine cursor: every operation goes
// to the inner cursor, except that the BLOB operations can be served by an in-memory BLOB store of
// its own (OwnBlobs) and every BLOB read can be watched and answered with a code (OnBlobRead), and
// RecordGet and RecordGetBatch can be answered by the test (records vanishing or changing under a
// reader, blocks as a test lays them out).
#pragma once
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "dictionary/zfsdAbstractCursor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"

namespace zf::test {

class TProbeCursor : public TzfAbstractCursor {
 public:
  // Takes aInner (freed with the probe).
  explicit TProbeCursor(TzfAbstractCursor* aInner)
      : TzfAbstractCursor(aInner->Database(), 10000), Inner(aInner) {}
  ~TProbeCursor() override { Inner->Free(); }
  static const rtl::TClassInfo& ClassInfo() {
    static const rtl::TClassInfo info{u"TProbeCursor", &TzfAbstractCursor::ClassInfo()};
    return info;
  }
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  // A read of aLen bytes at aOffset of BLOB aBlobNr; a code other than 0 is answered instead.
  std::function<uint32_t(int64_t aBlobNr, uint32_t aOffset, uint32_t aLen)> OnBlobRead;
  // Sees the inner cursor's answer and the record read; answers the code to give.
  std::function<uint32_t(uint32_t aCode, uint8_t* aData)> OnRecordGet;
  bool OwnBlobs = true;
  std::map<int64_t, std::vector<uint8_t>> Blobs;
  int64_t LastBlob = 0;
  std::vector<uint32_t> ReadSizes;  // aLen of every BlobRead
  int32_t WriteCalls = 0;

  TzfDataDictionary* acGetDictionary() override { return Inner->acGetDictionary(); }
  TzfBaseTableDescriptor* acGetTableDescriptor() override { return Inner->acGetTableDescriptor(); }
  UnicodeString acGetFullName() override { return Inner->acGetFullName(); }

  // ---- BLOBs ----
  uint32_t BlobCreate(int32_t aField, int64_t& aBlobNr) override {
    if (!OwnBlobs) return Inner->BlobCreate(aField, aBlobNr);
    aBlobNr = ++LastBlob;
    Blobs[aBlobNr];
    return 0;
  }
  uint32_t BlobCreateFile(int32_t aField, const UnicodeString& aName, int64_t& aBlobNr) override {
    return Inner->BlobCreateFile(aField, aName, aBlobNr);
  }
  uint32_t BlobDelete(int32_t aField, int64_t aBlobNr) override {
    if (!OwnBlobs) return Inner->BlobDelete(aField, aBlobNr);
    return Blobs.erase(aBlobNr) ? 0 : zfErrInvalidBlobOffset;
  }
  uint32_t BlobFree(int32_t aField, int64_t aBlobNr) override {
    return OwnBlobs ? 0 : Inner->BlobFree(aField, aBlobNr);
  }
  uint32_t BlobRead(int32_t aField, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream,
                    bool aReadOrg) override {
    ReadSizes.push_back(aLen);
    if (OnBlobRead)
      if (const uint32_t r = OnBlobRead(aBlobNr, aOffset, aLen)) return r;
    if (!OwnBlobs) return Inner->BlobRead(aField, aBlobNr, aOffset, aLen, aStream, aReadOrg);
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return zfErrSegmentDeleted;
    if (aOffset >= it->second.size()) return 0;
    const size_t n = std::min<size_t>(aLen, it->second.size() - aOffset);
    aStream.WriteBuffer(it->second.data() + aOffset, static_cast<int64_t>(n));
    return 0;
  }
  uint32_t BlobWrite(int32_t aField, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, const void* aBlob) override {
    ++WriteCalls;
    if (!OwnBlobs) return Inner->BlobWrite(aField, aBlobNr, aOffset, aLen, aBlob);
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return zfErrSegmentDeleted;
    if (it->second.size() < size_t{aOffset} + aLen) it->second.resize(size_t{aOffset} + aLen);
    if (aLen) std::memcpy(it->second.data() + aOffset, aBlob, aLen);
    return 0;
  }
  uint32_t BlobTruncate(int32_t aField, int64_t aBlobNr, uint32_t aLength) override {
    if (!OwnBlobs) return Inner->BlobTruncate(aField, aBlobNr, aLength);
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return zfErrSegmentDeleted;
    if (aLength > it->second.size()) return zfErrInvalidBlobOffset;
    it->second.resize(aLength);
    return 0;
  }
  uint32_t BlobGetLength(int32_t aField, int64_t aBlobNr, uint32_t& aLength, bool aReadOrg) override {
    if (!OwnBlobs) return Inner->BlobGetLength(aField, aBlobNr, aLength, aReadOrg);
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return zfErrSegmentDeleted;
    aLength = static_cast<uint32_t>(it->second.size());
    return 0;
  }
  uint32_t BlobModified(int32_t aField, int64_t aBlobNr, bool& aModified) override {
    return Inner->BlobModified(aField, aBlobNr, aModified);
  }

  // ---- everything else goes to the inner cursor ----
  uint32_t RecordGet(TzfLockType aLock, uint8_t* aData) override {
    const uint32_t r = Inner->RecordGet(aLock, aData);
    return OnRecordGet ? OnRecordGet(r, aData) : r;
  }
  uint32_t SetToBegin() override { return Inner->SetToBegin(); }
  uint32_t SetToCursor(TzfAbstractCursor* c) override { return Inner->SetToCursor(c); }
  uint32_t SetToEnd() override { return Inner->SetToEnd(); }
  uint32_t SetToFilter(TzfBaseFilterDescriptor* a, TzfBaseFilterDescriptor* b, bool f) override {
    return Inner->SetToFilter(a, b, f);
  }
  uint32_t GetBookmark(uint8_t* b, uint32_t s) override { return Inner->GetBookmark(b, s); }
  uint32_t CompareBookmarks(const uint8_t* a, const uint8_t* b, uint32_t s, TValueRelationship& r) override {
    return Inner->CompareBookmarks(a, b, s, r);
  }
  uint32_t SetToBookmark(const uint8_t* b, uint32_t s) override { return Inner->SetToBookmark(b, s); }
  uint32_t BookmarkAsVariant(const uint8_t* b, uint32_t s, rtl::Variant& v) override {
    return Inner->BookmarkAsVariant(b, s, v);
  }
  uint32_t RecNoSupported() override { return Inner->RecNoSupported(); }
  uint32_t RecNoGet(uint32_t& r, bool f) override { return Inner->RecNoGet(r, f); }
  uint32_t RecNoSet(uint32_t r, bool f) override { return Inner->RecNoSet(r, f); }
  uint32_t RecordGetNext(TzfLockType l, uint8_t* d) override {
    ++NextCalls;
    return Inner->RecordGetNext(l, d);
  }
  int32_t NextCalls = 0;
  uint32_t RecordGetPrior(TzfLockType l, uint8_t* d) override { return Inner->RecordGetPrior(l, d); }
  uint32_t RecordInsert(TzfLockType l, uint8_t* d) override { return Inner->RecordInsert(l, d); }
  uint32_t RecordModify(uint8_t* d, bool r) override { return Inner->RecordModify(d, r); }
  uint32_t RecordDelete(uint8_t* d) override { return Inner->RecordDelete(d); }
  uint32_t RecordIsLocked(TzfLockType l, TzfLockPresent& p) override { return Inner->RecordIsLocked(l, p); }
  uint32_t RecordLockRelease(bool a) override { return Inner->RecordLockRelease(a); }
  uint32_t AutoIncGet(uint32_t& v) override { return Inner->AutoIncGet(v); }
  uint32_t AutoIncSet(uint32_t v) override { return Inner->AutoIncSet(v); }
  uint32_t FilterAddCustom(TzfBaseFilterDescriptor* f, TzfFilterID& id) override {
    return Inner->FilterAddCustom(f, id);
  }
  uint32_t FilterSetTimeout(uint32_t t) override { return Inner->FilterSetTimeout(t); }
  uint32_t FilterActivate(TzfFilterID id) override { return Inner->FilterActivate(id); }
  uint32_t FilterDeactivate(TzfFilterID id) override { return Inner->FilterDeactivate(id); }
  uint32_t FilterRemove(TzfFilterID id) override { return Inner->FilterRemove(id); }
  uint32_t SwitchToIndex(const UnicodeString& n, int32_t i, bool p) override { return Inner->SwitchToIndex(n, i, p); }
  uint32_t GetIndexID(int32_t& i) override { return Inner->GetIndexID(i); }
  uint32_t SetToKey(TzfSearchKeyAction a, int32_t c, int32_t p, bool d, const uint8_t* k) override {
    return Inner->SetToKey(a, c, p, d, k);
  }
  uint32_t RecordGetForKey(int32_t c, int32_t p, bool d, const uint8_t* k, uint8_t* b, bool m, bool f) override {
    return Inner->RecordGetForKey(c, p, d, k, b, m, f);
  }
  uint32_t RangeReset() override { return Inner->RangeReset(); }
  uint32_t RangeSet(int32_t c1, int32_t p1, bool d1, const uint8_t* k1, bool i1, int32_t c2, int32_t p2, bool d2,
                    const uint8_t* k2, bool i2) override {
    return Inner->RangeSet(c1, p1, d1, k1, i1, c2, p2, d2, k2, i2);
  }
  uint32_t CompareKeys(int32_t c, int32_t p, bool d1, const uint8_t* k1, bool d2, const uint8_t* k2,
                       TValueRelationship& r) override {
    return Inner->CompareKeys(c, p, d1, k1, d2, k2, r);
  }
  uint32_t KeyFilterAddCustom(TzfBaseFilterDescriptor* f, TzfKeyFilterID& id) override {
    return Inner->KeyFilterAddCustom(f, id);
  }
  uint32_t KeyFilterActivate(TzfKeyFilterID id) override { return Inner->KeyFilterActivate(id); }
  uint32_t KeyFilterDeactivate(TzfKeyFilterID id) override { return Inner->KeyFilterDeactivate(id); }
  uint32_t KeyFilterRemove(TzfKeyFilterID id) override { return Inner->KeyFilterRemove(id); }
  uint32_t RecordGetBatch(int32_t c, TzfRecordGetBatchExOptions o, TzfMemoryStream& s, int32_t m, bool f) override {
    ++BatchCalls;
    if (OnRecordGetBatch) return OnRecordGetBatch(c, o, s, m, f);
    return Inner->RecordGetBatch(c, o, s, m, f);
  }
  std::function<uint32_t(int32_t, TzfRecordGetBatchExOptions, TzfMemoryStream&, int32_t, bool)> OnRecordGetBatch;
  int32_t BatchCalls = 0;
  // Answers every batch insert instead of the inner cursor when set.
  std::function<uint32_t(TzfCustomMemoryStream&)> OnRecordInsertBatch;
  uint32_t RecordInsertBatch(TzfCustomMemoryStream& s) override {
    return OnRecordInsertBatch ? OnRecordInsertBatch(s) : Inner->RecordInsertBatch(s);
  }
  uint32_t CopyRecords(TzfAbstractCursor* d, TzfBlobCopyMode m, int32_t t) override {
    return Inner->CopyRecords(d, m, t);
  }
  uint32_t CopyRecordsEx(TzfAbstractCursor* d, TzfBlobCopyMode m, int32_t t, bool c) override {
    return Inner->CopyRecordsEx(d, m, t, c);
  }
  uint32_t DeleteRecords() override { return Inner->DeleteRecords(); }
  uint32_t TableStreamGetList(rtl::TStrings& s) override { return Inner->TableStreamGetList(s); }
  uint32_t TableStreamWrite(const UnicodeString& n, rtl::TStream& s) override { return Inner->TableStreamWrite(n, s); }
  uint32_t TableStreamRead(const UnicodeString& n, rtl::TStream& s) override { return Inner->TableStreamRead(n, s); }
  uint32_t TableStreamDelete(const UnicodeString& n) override { return Inner->TableStreamDelete(n); }
  uint32_t TableIsLocked(TzfLockType l, TzfLockPresent& p) override { return Inner->TableIsLocked(l, p); }
  uint32_t TableLockAcquire(TzfLockType l) override { return Inner->TableLockAcquire(l); }
  uint32_t TableLockRelease(TzfLockType l, bool a) override { return Inner->TableLockRelease(l, a); }
  uint32_t Duplicate(TzfOpenMode m, TzfAbstractCursor*& c) override { return Inner->Duplicate(m, c); }
  uint32_t ChangePassword(const UnicodeString& p) override { return Inner->ChangePassword(p); }
  uint32_t GetRecordCount(uint32_t& c, bool e) override { return Inner->GetRecordCount(c, e); }
  uint32_t GetRecordCountAsync(TzfAbstractTaskInfo*& t) override { return Inner->GetRecordCountAsync(t); }
  uint32_t GetRecordCountEx(TzfRecordCountOption o, uint32_t& c, bool e) override {
    return Inner->GetRecordCountEx(o, c, e);
  }
  uint32_t GetRecordCountExAsync(TzfRecordCountOption o, TzfAbstractTaskInfo*& t) override {
    return Inner->GetRecordCountExAsync(o, t);
  }

  TzfAbstractCursor* Inner;
};

}  // namespace zf::test
