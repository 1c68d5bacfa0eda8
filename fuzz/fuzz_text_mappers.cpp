// Fuzzes the text, character and BLOB-side field mappers with the field bytes of damaged records.
// The first seven input bytes choose the pair and its settings: source kind, target type, source
// and target units, action and fixed-length flags, source and target code page; the rest is the
// source field's bytes (exactly the field's length, so any read past it is caught) and, for a BLOB
// source, the BLOB's content. A mapping may answer any result or raise an engine error or a range
// error, but never read or write outside the two fields.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllException.h"
#include "mapping/zfsdFieldMapperBase.h"
#include "mapping/zfsdFieldMapperDescriptor.h"
#include "mapping/zfsdMapperCursor.h"
#include "mapping/zfsrMappingStartup.h"
#include "platform/rtl/rtlException.h"

namespace {

using namespace zf;

constexpr TzfFieldType kSources[] = {zftChar,       zftWideChar, zftShortString, zftNullString,
                                     zftWideString, zftBlob,     zftBlobMemo,    zftBlobWideMemo};
constexpr uint16_t kCodePages[] = {0, 1252, 1251, 65001, 932, 936, 1250, 874};

// A table of its own whose BLOBs live in memory.
class TFuzzCursor final : public IzfMapperCursor {
 public:
  TzfBaseTableDescriptor* acGetTableDescriptor() override { return &Dict; }
  rtl::UnicodeString acGetFullName() override { return u"T"; }
  uint32_t sbcAutoIncGet() override { return 0; }
  void sbcAutoIncSetDirect(uint32_t) override {}
  uint32_t sbcBlobCopyPrim(IzfMapperCursor* aSrc, int32_t, int64_t aBlobNr, int32_t, int64_t& aDest,
                           uint32_t) override {
    auto* src = static_cast<TFuzzCursor*>(aSrc);
    auto it = src->Blobs.find(aBlobNr);
    if (it == src->Blobs.end()) return 10260;
    aDest = Next++;
    Blobs[aDest] = it->second;
    return 0;
  }
  uint32_t sbcBlobGetLength(int32_t, int64_t aBlobNr, uint32_t& aLength, bool) override {
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return 10260;
    aLength = static_cast<uint32_t>(it->second.size());
    return 0;
  }
  uint32_t sbcBlobRead(int32_t, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream,
                       bool) override {
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return 10260;
    if (aOffset < it->second.size())
      aStream.WriteBuffer(it->second.data() + aOffset, std::min<size_t>(aLen, it->second.size() - aOffset));
    return 0;
  }
  uint32_t sbcBlobCreate(int32_t, int64_t& aBlobNr) override {
    aBlobNr = Next++;
    Blobs[aBlobNr];
    return 0;
  }
  uint32_t sbcBlobWrite(int32_t, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, const void* aBlob) override {
    std::string& b = Blobs[aBlobNr];
    if (b.size() < size_t{aOffset} + aLen) b.resize(size_t{aOffset} + aLen);
    std::memcpy(b.data() + aOffset, aBlob, aLen);
    return 0;
  }
  uint32_t sbcBlobDelete(int32_t, int64_t aBlobNr) override { return Blobs.erase(aBlobNr) ? 0 : 10260; }

  TzfDataDictionary Dict;
  std::map<int64_t, std::string> Blobs;
  int64_t Next = 1;
};

TzfFieldDescriptor* AddField(TFuzzCursor& aCursor, TzfFieldType aType, uint8_t aUnits, bool aFixed, uint16_t aCp) {
  const int32_t units = aType == zftFmtBCD ? aUnits % 64 + 1 : aUnits;
  const int32_t decPl = aType == zftBCD || aType == zftFmtBCD ? aUnits % 5 : aFixed ? 1 : 0;
  TzfFieldDescriptor* f = aCursor.Dict.tdFieldsDescriptor->AddField(u"F", u"", aType, units, decPl, false, nullptr);
  if (aCp) f->AddLocaleDescriptor(nullptr)->ldOverrideStorageCodepage = aCp;
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zfStartMapping();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 7) return 0;
  const TzfFieldType sourceType = kSources[aData[0] % std::size(kSources)];
  const auto targetType = static_cast<TzfFieldType>(aData[1] % zfFieldTypeCount);
  const uint8_t flags = aData[4];
  try {
    TFuzzCursor source, target;
    TzfFieldDescriptor* s = AddField(source, sourceType, aData[2], flags & 4, kCodePages[aData[5] % std::size(kCodePages)]);
    TzfFieldDescriptor* t = AddField(target, targetType, aData[3], flags & 8, kCodePages[aData[6] % std::size(kCodePages)]);
    const auto action = static_cast<TzfDataLossAction>((flags & 3) % 3);
    TzfFieldMapperDescriptor desc(u"F", u"F", action);
    TzfMappingMethod method;
    auto mapper = TzfBaseFieldMapper::CreateMapper(*s, &source, *t, &target, flags & 16 ? nullptr : &desc, method);
    if (!method.IsSet()) return 0;
    const uint8_t* rest = aData + 7;
    const size_t restSize = aSize - 7;
    std::vector<uint8_t> from(static_cast<size_t>(s->fdLength), 0xCC);
    std::vector<uint8_t> to(static_cast<size_t>(t->fdLength), 0xEE);
    if (zfIsBlobType(sourceType)) {
      // The BLOB's content is the rest of the input; its number is 1 (or 0 for an empty input).
      if (restSize > 0) source.Blobs[1] = std::string(reinterpret_cast<const char*>(rest), restSize);
      zfStoreLE<int64_t>(from.data(), restSize > 0 ? 1 : 0);
      source.Next = 2;
    } else {
      std::memcpy(from.data(), rest, std::min(from.size(), restSize));
    }
    method(from.data(), to.data());
  } catch (const EzfBaseException&) {
  } catch (const rtl::ERangeError&) {
  }
  return 0;
}
