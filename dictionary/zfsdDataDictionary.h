// The data dictionary: the root of a table's description and the table descriptor of the table
// file itself.
//
// Besides what every table descriptor holds it owns the table's files, the stream descriptor
// (the engine of the table's named streams), the dictionary version, the table file's header
// signature, the name of the block encryption engine, the table's base name, the last item ID
// handed out and a read-only flag. It is stored inside the table file as the named stream
// "DICT", always through ReadFromStream and WriteToStream below.
//
// Versions: 1 and 2 use the old flat layout (1 puts the null bitmap right after the field data);
// 3 stores the descriptor tree; 4 adds the byte-order flag of wide-character fields. A writer is
// given the version of the client that will read the stream and writes what that client reads,
// or refuses with 12039 what it cannot.
//
// The storage layer derives its server-side dictionary from this class: it overrides
// UsableBlockSize (encryption and header reserve space in every block), CheckValid (adds the
// header-access and sub-engine checks) and IsEqualClass.
#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "dictionary/zfsdKeyFieldEngine.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "platform/rtl/rtlStream.h"

namespace zf {

class TzfFilesDescriptor;

// The four signature bytes that open block 0 of a table file ("ZF!1", "ZF!2").
using TzfBlockSignature = std::array<char, 4>;
inline constexpr TzfBlockSignature zfHeaderSignature1{'Z', 'F', '!', '1'};
inline constexpr TzfBlockSignature zfHeaderSignature2{'Z', 'F', '!', '2'};

class TzfDataDictionary : public TzfBaseTableDescriptor, public IzfDictionaryRoot, public IzfWideStringOrder {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfDataDictionaryException)
 public:
  // A dictionary with its defaults: one data file, a stream and a record descriptor and the
  // sequential access index.
  TzfDataDictionary();
  ~TzfDataDictionary() override;

  TzfBaseStreamDescriptor* AddStreamDescriptor(const TzfSectionDescriptorClassInfo* aStreamClass = nullptr);
  void RemoveStreamDescriptor();
  // Refuses every change while the dictionary is read-only (15500).
  void CheckReadOnly() override;
  // Makes the dictionary read-only and switches the caches of the whole tree on.
  void MakeReadOnly();
  int32_t GetFileFromExt(const UnicodeString& aFileExt) const;

  // Usable bytes of a block of aBlockSize: here the whole block; the server-side dictionary
  // subtracts what encryption and the file header reserve in every block.
  uint32_t UsableBlockSize(TzfBlockSize aBlockSize) override;

  // Resets, reads the dictionary stream at aStream's position and checks it; on any failure the
  // dictionary is reset to its defaults and the error raised again (damaged input: 15498).
  void ReadFromStream(rtl::TStream& aStream, const UnicodeString& aBaseName);
  // Writes the dictionary stream for a client of version aClientVersion.
  void WriteToStream(rtl::TStream& aStream, int32_t aClientVersion);
  void ReadFromReader(TzfReader& aReader);
  void WriteToWriter(TzfWriter& aWriter, int32_t aClientVersion);

  // ---- Overrides ----

  void Assign(TzfPersistent* aSource) override;
  bool FindRelatedDescriptorOfType(const TzfRegisterableClass& aType, TzfDictionaryItem*& aDescriptor,
                                   TzfDictionaryItem* aFrom = nullptr) override;
  // The validity check; for a build (aForBuild) it first upgrades the version and signature.
  void CheckValid(bool aForBuild) override;
  bool IsEqual(const TzfDictionaryItem* aItem) const override;
  void InternalClear(bool aEmpty) override;
  UnicodeString btdFullName() const override { return ddBaseName; }
  // The table's operation, then no indexes.
  void AssignOnlyFields(TzfBaseTableDescriptor* aSource) override;

  // ---- The dictionary root ----

  int32_t NextItemID() override { return ++ddCurrentID; }
  void CheckDictionaryReadOnly() override;
  int32_t DictionaryVersion() const override { return ddVersion; }
  // Key field engines of wide text without a locale ask this (ddUseByteOrderForWideString).
  bool UseByteOrderForWideString() const override { return ddUseByteOrderForWideString; }

  // ---- Fields ----

  int32_t ddVersion = 3;
  int32_t ddCurrentID = 0;
  UnicodeString ddBaseName;
  bool ddReadOnly = false;
  std::unique_ptr<TzfFilesDescriptor> ddFilesDescriptor;
  std::unique_ptr<TzfBaseStreamDescriptor> ddStreamDescriptor;
  bool ddUseByteOrderForWideString = false;
  TzfBlockSignature HeaderSignature = zfHeaderSignature2;
  UnicodeString EncryptionEngine;

 private:
  void WriteTreeLayout(TzfWriter& aWriter, int32_t aVersion, int32_t aClientVersion);
  void WriteOldLayout(TzfWriter& aWriter, int32_t aVersion, int32_t aClientVersion);
  void ReadTreeLayout(TzfReader& aReader);
  void ReadOldLayout(TzfReader& aReader);
};

}  // namespace zf
