// The stream kind of sub-engines: whole streams kept in a table's main file, the table's data
// dictionary ("DICT") and any number of named streams that clients store with a table. The engine
// class is found by the stream engine name stored in the table file's header, not through the
// dictionary; the root table opens a table with CreateEngine (no descriptor, no transaction), reads
// the dictionary from "DICT", then calls Initialize with the dictionary.
#pragma once
#include <cstdint>
#include <memory>

#include "dictionary/zfsdStorageDescriptor.h"
#include "platform/rtl/rtlStream.h"
#include "platform/rtl/rtlStringList.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfStreamEngineException, EzfBaseSubEngineException)

class TzfBaseStreamEngine;

struct TzfStreamEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseStreamEngine> (*)(TzfBaseStreamDescriptor* aDescriptor,
                                                          TzfBaseTransaction* aTrans, TzfBlockAccess* aDataFile);
  using TCheckValidEngineDescriptor = void (*)(TzfBaseStreamDescriptor* aDescriptor);
  constexpr TzfStreamEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                                 TCheckValidDescriptor aCheckValidDescriptor, TCreate aCreate,
                                 TCheckValidEngineDescriptor aCheckValidEngineDescriptor = nullptr)
      : TzfSubEngineClass(aName, aParent, aGetList, u"stream", aCheckValidDescriptor),
        Create(aCreate),
        CheckValidEngineDescriptor(aCheckValidEngineDescriptor) {}

  // The virtual constructor (nullptr on the kind base: it is abstract).
  TCreate Create;
  // Engine-specific check of a stream descriptor; nullptr: nothing.
  TCheckValidEngineDescriptor CheckValidEngineDescriptor;
};

class TzfBaseStreamEngine : public TzfBaseSubEngine {
 public:
  // bseID from the descriptor (0 without one), the table version from the file's engine version.
  TzfBaseStreamEngine(TzfBaseStreamDescriptor* aDescriptor, TzfBaseTransaction* aTrans, TzfBlockAccess* aDataFile);

  static const TzfStreamEngineClass& ClassInfo();
  const TzfStreamEngineClass& ClassType() const override { return ClassInfo(); }

  // The engine named by the stream engine name in the data file's header (15503 "Unknown stream
  // engine" otherwise), made with the three arguments; the caller owns it. aDescriptor may be nil.
  static std::unique_ptr<TzfBaseStreamEngine> CreateEngine(TzfBaseStreamDescriptor* aDescriptor,
                                                           TzfBlockAccess* aDataFile, TzfBaseTransaction* aTrans);
  // The same with the dictionary's stream descriptor.
  static std::unique_ptr<TzfBaseStreamEngine> CreateEngine(TzfDataDictionary& aDictionary, TzfBlockAccess* aDataFile,
                                                           TzfBaseTransaction* aTrans);
  // The kind's check: a data dictionary's stream descriptor; other tables have none.
  static void CheckValidDescriptor(TzfBaseTableDescriptor& aTable);
  // The descriptor's engine name must be registered (15503); nil: nothing to check.
  static void CheckValidFromDescriptor(TzfBaseStreamDescriptor* aDescriptor);

  // bseID := the descriptor's dictionary ID (0 without one).
  virtual void Initialize(TzfBaseStreamDescriptor* aDescriptor);
  void Initialize(TzfDataDictionary& aDictionary);

  // Frees every block of the stream whose first block is aStreamNr.
  virtual void DeleteStream(TzfBaseTransaction* aTrans, uint32_t aStreamNr) = 0;
  // Replaces aStream's content by the stream's bytes, positioned at 0.
  virtual void ReadStream(TzfBaseTransaction* aTrans, uint32_t aStreamNr, rtl::TStream& aStream) = 0;
  // Writes aStream's whole content: as a new stream (aStreamNr receives its number) or over the
  // existing one, which keeps its first block.
  virtual void WriteStream(TzfBaseTransaction* aTrans, uint32_t& aStreamNr, rtl::TStream& aStream, bool aCreateNew,
                           const TzfBlockSignature& aStreamSig) = 0;
  // The named streams ("DICT" last when the table has one); 0.
  virtual uint32_t GetNamedStreamList(TzfBaseTransaction* aTrans, rtl::TStrings& aStreams) = 0;
  // The named streams without "DICT"; 0.
  virtual uint32_t GetNamedStreamCount(TzfBaseTransaction* aTrans, uint32_t& aCount) = 0;
  // 0, or 8712 when there is no such stream.
  virtual uint32_t DeleteNamedStream(TzfBaseTransaction* aTrans, const UnicodeString& aName) = 0;
  // 0, or 8712 when there is no such stream (aStream is then untouched).
  virtual uint32_t ReadNamedStream(TzfBaseTransaction* aTrans, const UnicodeString& aName, rtl::TStream& aStream) = 0;
  // Creates or replaces the stream; 0.
  virtual uint32_t WriteNamedStream(TzfBaseTransaction* aTrans, const UnicodeString& aName, rtl::TStream& aStream) = 0;

  TzfBlockAccess* bseDataFile;
};

rtl::TUnitInit& zfsrStreamEngineBaseUnit();

}  // namespace zf
