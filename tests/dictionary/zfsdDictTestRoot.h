// A small stand-in for the data dictionary at the root of an item tree: issues IDs, can be made
// read-only, has a version, and keeps the constraint names of its tree as a table does.
#pragma once
#include <algorithm>
#include <cstring>
#include <vector>

#include "dictionary/zfsdDictionaryItem.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "zfsdTestUtil.h"

namespace zf::test {

class TTestDictionary : public TzfDictionaryItem, public IzfDictionaryRoot, public IzfFieldStorageOwner {
 public:
  explicit TTestDictionary(int32_t aVersion = 4) : TzfDictionaryItem(nullptr), Version(aVersion) {}
  ~TTestDictionary() override {
    // Children are owned by the test through their own pointers; nothing to free here.
  }

  static const TzfDictionaryItemClassInfo& ClassInfo() {
    static const TzfDictionaryItemClassInfo info(u"TTestDictionary", &TzfDictionaryItem::ClassInfo(), nullptr,
                                                 nullptr);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  int32_t NextItemID() override { return ++CurrentID; }
  void CheckDictionaryReadOnly() override {
    if (ReadOnly) throw EzfDataDictionaryException(zfErrDictionaryReadOnly);
  }
  int32_t DictionaryVersion() const override { return Version; }
  uint32_t UsableBlockSize(TzfBlockSize aBlockSize) override {
    return (4096u << static_cast<uint8_t>(aBlockSize)) - 16u;
  }

  void AddConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName) override {
    for (const auto& n : Constraints)
      if (rtl::SameText(n, aName)) throw EzfBaseTableDescriptorException(zfErrNameNotUnique);
    Constraints.push_back(aName);
  }
  void RemoveConstraintName(TzfDictionaryItem* aItem, const UnicodeString& aName) override {
    std::erase_if(Constraints, [&](const UnicodeString& n) { return rtl::SameText(n, aName); });
  }

  void EnsureAutoIncDescriptor() override { ++AutoIncEnsured; }
  void EnsureBlobDescriptor() override { ++BlobEnsured; }

  int32_t AutoIncEnsured = 0;
  int32_t BlobEnsured = 0;
  int32_t CurrentID = 0;
  int32_t Version;
  bool ReadOnly = false;
  std::vector<UnicodeString> Constraints;
};

// The bytes of a memory stream.
inline std::vector<uint8_t> StreamBytes(TzfCustomMemoryStream& aStream) {
  const auto* p = static_cast<const uint8_t*>(aStream.Memory());
  return std::vector<uint8_t>(p, p + aStream.Size());
}

// A memory stream holding aBytes, positioned at the start.
inline void LoadBytes(TzfMemoryStream& aStream, const std::vector<uint8_t>& aBytes) {
  aStream.SetSize(0);
  if (!aBytes.empty()) aStream.Write(aBytes.data(), static_cast<int32_t>(aBytes.size()));
  aStream.SetPosition(0);
}

// An item's stream for a client version.
inline std::vector<uint8_t> SavedItem(TzfDictionaryItem& aItem, int32_t aClientVersion) {
  TzfMemoryStream s(-1);
  {
    TzfWriter w(s);
    aItem.SaveToWriter(w, aClientVersion);
  }
  return StreamBytes(s);
}

// Reads aBytes into aItem; "ok" or the failure as Outcome words it.
inline rtl::UnicodeString LoadItem(TzfDictionaryItem& aItem, const std::vector<uint8_t>& aBytes) {
  TzfMemoryStream s(-1);
  LoadBytes(s, aBytes);
  return Outcome([&] {
    TzfReader r(s);
    aItem.LoadFromReader(r);
  });
}

}  // namespace zf::test
