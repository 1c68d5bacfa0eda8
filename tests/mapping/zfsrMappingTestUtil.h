// Shared helpers of the mapping tests: the started layer, a cursor over a data dictionary, record
// buffers and stream bytes.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllException.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "mapping/zfsdFieldMapperBase.h"
#include "mapping/zfsdMapperCursor.h"
#include "mapping/zfsrMappingStartup.h"
#include "platform/rtl/rtlException.h"
#include "tests/foundation/zfllWrittenBytes.h"

namespace zf::test {

// An engine message without its "ZofrinDB: " prefix and its " [$hex/dec]" suffix.
inline rtl::UnicodeString BareMessage(const EzfBaseException& e) {
  rtl::UnicodeString m = e.Message();
  const rtl::UnicodeString prefix = u"ZofrinDB: ";
  if (m.starts_with(prefix)) m.erase(0, prefix.size());
  if (m.ends_with(u" [no error code]")) m.erase(m.size() - 16);
  if (const size_t at = m.rfind(u" [$"); at != rtl::UnicodeString::npos && m.ends_with(u"]")) m.erase(at);
  return m;
}

// Runs f and gives "ok", or "!" + class + " #code: " + the bare message for engine exceptions,
// or "!" + class + ": " + message for the others.
inline rtl::UnicodeString Outcome(const std::function<void()>& f) {
  try {
    f();
    return u"ok";
  } catch (const EzfBaseException& e) {
    return u"!" + rtl::u16(e.ClassName()) + u" #" + rtl::IntToStr(e.ErrorCode()) + u": " + BareMessage(e);
  } catch (const rtl::Exception& e) {
    return u"!" + rtl::u16(e.ClassName()) + u": " + e.Message();
  }
}

// Base of the suites that need the mapping layer (and the layers below) started.
class MappingStarted : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartMapping(); }
  static void TearDownTestSuite() { zfStopMapping(); }
};

// A cursor over a table of its own: a data dictionary, a name, an auto-increment counter and a
// BLOB store that copies by handing out new numbers.
class TTestCursor : public IzfMapperCursor {
 public:
  explicit TTestCursor(rtl::UnicodeString aName = u"T") : Name(std::move(aName)) {}

  TzfBaseTableDescriptor* acGetTableDescriptor() override {
    ++TableLookups;
    return &Dict;
  }
  rtl::UnicodeString acGetFullName() override { return Name; }
  uint32_t sbcAutoIncGet() override { return AutoInc; }
  void sbcAutoIncSetDirect(uint32_t aAutoInc) override {
    AutoInc = aAutoInc;
    AutoIncSets.push_back(aAutoInc);
  }
  uint32_t sbcBlobCopyPrim(IzfMapperCursor* aSrcCursor, int32_t aSrcFieldNo, int64_t aBlobNr, int32_t aDestFieldNo,
                           int64_t& aDestBlobNr, uint32_t aMaxLength) override {
    if (BlobCopyError) return BlobCopyError;
    aDestBlobNr = NextBlob++;
    BlobCopies.push_back({aSrcCursor, aSrcFieldNo, aBlobNr, aDestFieldNo, aMaxLength});
    if (auto* src = dynamic_cast<TTestCursor*>(aSrcCursor); src && src->Blobs.count(aBlobNr))
      Blobs[aDestBlobNr] = src->Blobs[aBlobNr];
    return 0;
  }
  // BLOBs held in memory by number; a number the store lacks answers 10260.
  uint32_t sbcBlobGetLength(int32_t, int64_t aBlobNr, uint32_t& aLength, bool) override {
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return kNoBlob;
    aLength = static_cast<uint32_t>(it->second.size());
    return 0;
  }
  uint32_t sbcBlobRead(int32_t, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream,
                       bool) override {
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return kNoBlob;
    if (BlobReadError) return BlobReadError;
    const std::string& b = it->second;
    if (aOffset < b.size()) aStream.WriteBuffer(b.data() + aOffset, std::min<size_t>(aLen, b.size() - aOffset));
    return 0;
  }
  uint32_t sbcBlobCreate(int32_t, int64_t& aBlobNr) override {
    if (BlobCreateError) return BlobCreateError;
    aBlobNr = NextBlob++;
    Blobs[aBlobNr];
    return 0;
  }
  uint32_t sbcBlobWrite(int32_t, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, const void* aBlob) override {
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return kNoBlob;
    if (BlobWriteError) return BlobWriteError;
    std::string& b = it->second;
    if (b.size() < aOffset + size_t{aLen}) b.resize(aOffset + size_t{aLen});
    std::memcpy(b.data() + aOffset, aBlob, aLen);
    return 0;
  }
  uint32_t sbcBlobDelete(int32_t, int64_t aBlobNr) override {
    Deleted.push_back(aBlobNr);
    return Blobs.erase(aBlobNr) ? 0 : kNoBlob;
  }

  TzfFieldsDescriptor& Fields() { return *Dict.tdFieldsDescriptor; }
  TzfFieldDescriptor* Add(const rtl::UnicodeString& aName, TzfFieldType aType, int32_t aUnits = 0,
                          int32_t aDecPl = 0, bool aRequired = false) {
    return Fields().AddField(aName, u"", aType, aUnits, aDecPl, aRequired, nullptr);
  }
  int32_t FieldNo(const rtl::UnicodeString& aName) { return Fields().GetFieldFromName(aName); }

  // A record buffer with every field NULL.
  std::vector<uint8_t> NewRecord() {
    std::vector<uint8_t> r(static_cast<size_t>(Fields().GetRecordLength()));
    Fields().InitRecord(r.data());
    return r;
  }
  void Set(std::vector<uint8_t>& aRecord, const rtl::UnicodeString& aField, const rtl::Variant& aValue) {
    Fields().SetFieldAsVariant(aRecord.data(), FieldNo(aField), aValue);
  }
  rtl::Variant Get(const std::vector<uint8_t>& aRecord, const rtl::UnicodeString& aField) {
    return Fields().GetFieldAsVariant(aRecord.data(), FieldNo(aField));
  }
  bool IsNull(const std::vector<uint8_t>& aRecord, const rtl::UnicodeString& aField) {
    return Fields().IsRecordFieldNull(FieldNo(aField), aRecord.data());
  }

  struct TCopy {
    IzfMapperCursor* Source;
    int32_t SourceField;
    int64_t Blob;
    int32_t TargetField;
    uint32_t MaxLength;
  };

  TzfDataDictionary Dict;
  rtl::UnicodeString Name;
  uint32_t AutoInc = 0;
  std::vector<uint32_t> AutoIncSets;
  int64_t NextBlob = 1000;
  uint32_t BlobCopyError = 0;
  std::vector<TCopy> BlobCopies;
  static constexpr uint32_t kNoBlob = 10260;
  std::map<int64_t, std::string> Blobs;
  uint32_t BlobReadError = 0, BlobCreateError = 0, BlobWriteError = 0;
  std::vector<int64_t> Deleted;
  int32_t TableLookups = 0;
};

// Runs aRead on a reader over exactly aBytes.
template <class F>
auto ReadFrom(const std::vector<uint8_t>& aBytes, F&& aRead) {
  std::vector<uint8_t> copy = aBytes;
  TzfStaticMemoryStream s(copy.data(), static_cast<int32_t>(copy.size()));
  TzfReader r(s);
  return aRead(r);
}

// Stream byte builders: an identifier, an 8-bit string, a small integer.
inline void Ident(std::vector<uint8_t>& a, std::string_view s) {
  a.push_back(vaIdent);
  a.push_back(static_cast<uint8_t>(s.size()));
  a.insert(a.end(), s.begin(), s.end());
}
inline void Str(std::vector<uint8_t>& a, std::string_view s) {
  a.push_back(vaString);
  a.push_back(static_cast<uint8_t>(s.size()));
  a.insert(a.end(), s.begin(), s.end());
}
inline void Int8(std::vector<uint8_t>& a, int8_t v) {
  a.push_back(vaInt8);
  a.push_back(static_cast<uint8_t>(v));
}

}  // namespace zf::test
