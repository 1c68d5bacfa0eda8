// A small table for the descriptor tests: a test dictionary that owns a files descriptor, a
// fields descriptor and main indices, and answers for them as a table descriptor does.
#pragma once
#include <memory>
#include <string_view>
#include <vector>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "tests/dictionary/zfsdDictTestRoot.h"

namespace zf::test {

class TTestTable : public TTestDictionary {
 public:
  explicit TTestTable(int32_t aFiles = 1) {
    Files = std::make_unique<TzfFilesDescriptor>(this);
    for (int32_t i = 0; i < aFiles; ++i) InsertFile(i);
    Fields = std::make_unique<TzfFieldsDescriptor>(this);
    Indices = std::make_unique<TzfMainIndicesDescriptor>(this, "Indices");
  }
  ~TTestTable() override {
    Indices.reset();
    Fields.reset();
    Files.reset();
  }

  // Inserts a file at aAt (the first without an extension, as the main file; the others each
  // with one of its own).
  void InsertFile(int32_t aAt) {
    const UnicodeString ext = Files->FileCount == 0 ? UnicodeString() : u"x" + rtl::IntToStr(++FileSerial);
    Files->InsertFileAt(aAt, ext, TzfBlockSize::zfbs4k, u"", nullptr);
  }

  bool FindRelatedDescriptorOfType(const TzfRegisterableClass& aType, TzfDictionaryItem*& aDescriptor,
                                   TzfDictionaryItem* aFrom) override {
    if (aType.InheritsFrom(&TzfFilesDescriptor::ClassInfo())) return Answer(Files.get(), aDescriptor);
    if (aType.InheritsFrom(&TzfFieldsDescriptor::ClassInfo())) return Answer(Fields.get(), aDescriptor);
    if (aType.InheritsFrom(&TzfMainIndicesDescriptor::ClassInfo())) return Answer(Indices.get(), aDescriptor);
    return TTestDictionary::FindRelatedDescriptorOfType(aType, aDescriptor, aFrom);
  }

  std::unique_ptr<TzfFilesDescriptor> Files;
  int32_t FileSerial = 0;
  std::unique_ptr<TzfFieldsDescriptor> Fields;
  std::unique_ptr<TzfMainIndicesDescriptor> Indices;

 private:
  static bool Answer(TzfDictionaryItem* aOwned, TzfDictionaryItem*& aDescriptor) {
    aDescriptor = aOwned;
    return true;
  }
};

// Adds a field without description or class.
inline TzfFieldDescriptor* AddTestField(TzfFieldsDescriptor& aFields, const UnicodeString& aName, TzfFieldType aType,
                                        int32_t aUnits = 0, int32_t aDecPl = 0, bool aRequired = false) {
  return aFields.AddField(aName, u"", aType, aUnits, aDecPl, aRequired, nullptr);
}

// The item header of an item outside a dictionary written for a current client (the empty
// constraint name is written as an empty UTF-16 string).
inline std::vector<uint8_t> ItemHeaderBytes() {
  return {0x02, 0x03, 0x01, 0x00, 0x02, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00};
}
inline void AppendBytes(std::vector<uint8_t>& a, std::initializer_list<uint8_t> b) { a.insert(a.end(), b); }
// A string as the writer stores it: empty as UTF-16, ASCII as an 8-bit string.
inline void AppendString(std::vector<uint8_t>& a, std::string_view s) {
  if (s.empty()) return AppendBytes(a, {0x12, 0x00, 0x00, 0x00, 0x00});
  a.push_back(0x06);
  a.push_back(static_cast<uint8_t>(s.size()));
  a.insert(a.end(), s.begin(), s.end());
}

// aItem's part of a stream written for aClientVersion.
inline std::vector<uint8_t> SavedBytes(TzfDictionaryItem& aItem, int32_t aClientVersion) {
  TzfMemoryStream s(-1);
  {
    TzfWriter w(s);
    aItem.SaveToWriter(w, aClientVersion);
  }
  return StreamBytes(s);
}

// Reads aBytes into aItem.
inline void LoadSaved(TzfDictionaryItem& aItem, const std::vector<uint8_t>& aBytes) {
  TzfMemoryStream s(-1);
  LoadBytes(s, aBytes);
  TzfReader r(s);
  aItem.LoadFromReader(r);
}

}  // namespace zf::test
