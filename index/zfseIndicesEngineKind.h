// The indices engine kind (kind word "indices"): the engine that keeps a table's indexes in step
// with its records, found by the indices descriptor's engine name. "zf1xDefault" is the simple
// indices engine (`TzfSimpleIndicesEngine`) over the table's own files: one index engine per index
// descriptor, in index-number order, each made by the index descriptor's engine name with the key
// engine of its key descriptor, its blocks in the file its descriptor names.
//
// The engine lives as long as the table; `SetTransaction` names the transaction the calls that
// follow run in (blocks are read and changed inside it, records are read inside it, an undo that
// fails marks it corrupted). It is handed the table's record engine (may be nil): paths rebuild
// their keys from records, and indexes added to a table that holds records index them at once.
#pragma once
#include <memory>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "index/zfseIndexFileBlockAccess.h"
#include "index/zfseIndexRecordSource.h"
#include "index/zfseIndicesEngineSimple.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {

class TzfBaseIndicesEngine;
class TzfBaseRecordEngine;

struct TzfIndicesEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseIndicesEngine> (*)(TzfBaseIndicesDescriptor* aDescriptor,
                                                            const TzfBlockAccessList& aFiles,
                                                            TzfBaseRecordEngine* aRecordEngine,
                                                            TzfBaseTransaction* aTrans, bool aAddToExisting);
  using TCheckValidEngineDescriptor = void (*)(TzfBaseIndicesDescriptor* aDescriptor);
  constexpr TzfIndicesEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent,
                                  TzfGetListProc aGetList, TCreate aCreate,
                                  TCheckValidEngineDescriptor aCheckValidEngineDescriptor,
                                  TCheckValidDescriptor aCheckValidDescriptor = nullptr)
      : TzfSubEngineClass(aName, aParent, aGetList, u"indices", aCheckValidDescriptor),
        Create(aCreate),
        CheckValidEngineDescriptor(aCheckValidEngineDescriptor) {}

  TCreate Create;
  TCheckValidEngineDescriptor CheckValidEngineDescriptor;
};

class TzfBaseIndicesEngine : public TzfBaseSubEngine {
 public:
  TzfBaseIndicesEngine(TzfBaseIndicesDescriptor* aDescriptor, const TzfBlockAccessList& aFiles,
                       TzfBaseRecordEngine* aRecordEngine);

  static const TzfIndicesEngineClass& ClassInfo();
  const TzfIndicesEngineClass& ClassType() const override { return ClassInfo(); }

  // The engine named by the descriptor (15503 "Unknown indices engine"); nil for a nil
  // descriptor. With a transaction the indexes are being made (table build, restructure, the first
  // index of a table), without one an existing table is opened and every index header is verified
  // (8961). aAddToExisting (with a transaction and a record engine): the table already holds
  // records, and every index is filled from them (bulk built; 9729 for equal keys a unique index
  // forbids; the caller rolls back on failure).
  static std::unique_ptr<TzfBaseIndicesEngine> CreateEngine(TzfBaseIndicesDescriptor* aDescriptor,
                                                            const TzfBlockAccessList& aFiles,
                                                            TzfBaseRecordEngine* aRecordEngine,
                                                            TzfBaseTransaction* aTrans, bool aAddToExisting = false);
  static std::unique_ptr<TzfBaseIndicesEngine> CreateEngine(TzfBaseTableDescriptor& aTable,
                                                            const TzfBlockAccessList& aFiles,
                                                            TzfBaseRecordEngine* aRecordEngine,
                                                            TzfBaseTransaction* aTrans, bool aAddToExisting = false);
  // The same without a record engine.
  static std::unique_ptr<TzfBaseIndicesEngine> CreateEngine(TzfBaseIndicesDescriptor* aDescriptor,
                                                            const TzfBlockAccessList& aFiles,
                                                            TzfBaseTransaction* aTrans, bool aAddToExisting = false) {
    return CreateEngine(aDescriptor, aFiles, nullptr, aTrans, aAddToExisting);
  }
  // The table's indices descriptor, when it has one, checked by the engine it names.
  static void CheckValidDescriptor(TzfBaseTableDescriptor& aTable);
  // Engine-name check (15503) and the engine's own check of the descriptor.
  static void CheckValidBaseFromDescriptor(TzfBaseIndicesDescriptor* aDescriptor);

  virtual void SetTransaction(TzfBaseTransaction* aTrans) = 0;
  // The engine keeping the indexes (key maintenance, index engines and their stores).
  virtual TzfSimpleIndicesEngine& Indices() = 0;

  // The index engine of an index number; a range error outside the list.
  TzfBaseIndexEngine& GetIndexEngine(int32_t aIndex) { return Indices().GetIndexEngine(aIndex); }
  int32_t IndexEngineCount() { return Indices().IndexEngineCount(); }
  // The block access of a file number of the table; a range error outside the list.
  TzfBlockAccess& GetFile(int32_t aFile);
  int32_t IndexFileCount() const { return static_cast<int32_t>(biseFiles.size()); }
  // After the indices descriptor gained its last index (aIndex): that index gets its engine and an
  // empty root; with aAddToExisting and a record engine the table's records are indexed at once.
  // 15425 unless aIndex is the descriptor's last index and exactly that engine is missing. A
  // failed fill (9729, key or read errors) raises with the engine as before the call.
  virtual void AddIndex(TzfBaseTransaction* aTrans, int32_t aIndex, bool aAddToExisting = true) = 0;
  // After the indices descriptor lost index aIndex: its keys are deleted and the later indexes
  // move down one number. 15425 unless aIndex names an engine and the descriptor has one fewer.
  virtual void RemoveIndex(TzfBaseTransaction* aTrans, int32_t aIndex) = 0;
  // The header values of one index for one operation, inside aTrans; the caller owns the access.
  virtual std::unique_ptr<TzfBaseIndexHeaderAccess> CreateIndexHeaderAccess(TzfBaseTransaction* aTrans,
                                                                            TzfBaseIndexEngine& aIndexEngine,
                                                                            bool aFileMarkDirty, bool aIndexMarkDirty,
                                                                            int32_t aFieldCount,
                                                                            int32_t aPartialLen) = 0;

  TzfBaseIndicesDescriptor* biseDescriptor;
  TzfBlockAccessList biseFiles;
  TzfBaseRecordEngine* biseRecordEngine;
};

class TzfSimpleIndicesSubEngine : public TzfBaseIndicesEngine {
 public:
  // 10004 for an index whose file number names no file of the table or that has no key.
  TzfSimpleIndicesSubEngine(TzfBaseIndicesDescriptor* aDescriptor, const TzfBlockAccessList& aFiles,
                            TzfBaseRecordEngine* aRecordEngine, TzfBaseTransaction* aTrans,
                            bool aAddToExisting = false);
  ~TzfSimpleIndicesSubEngine() override;

  static const TzfIndicesEngineClass& ClassInfo();
  const TzfIndicesEngineClass& ClassType() const override { return ClassInfo(); }
  // Every index descriptor passes the check of the index engine it names (15503 for a name not
  // registered): its key, and for the B*-tree the key size, which may raise its file's block size.
  static void CheckValidEngineDescriptor(TzfBaseIndicesDescriptor* aDescriptor);

  void SetTransaction(TzfBaseTransaction* aTrans) override;
  TzfSimpleIndicesEngine& Indices() override { return *ineEngine; }
  void AddIndex(TzfBaseTransaction* aTrans, int32_t aIndex, bool aAddToExisting = true) override;
  void RemoveIndex(TzfBaseTransaction* aTrans, int32_t aIndex) override;
  std::unique_ptr<TzfBaseIndexHeaderAccess> CreateIndexHeaderAccess(TzfBaseTransaction* aTrans,
                                                                    TzfBaseIndexEngine& aIndexEngine,
                                                                    bool aFileMarkDirty, bool aIndexMarkDirty,
                                                                    int32_t aFieldCount,
                                                                    int32_t aPartialLen) override;

 private:
  // The engine of one index descriptor over its file (10004 for a file or key that is not there).
  TzfSimpleIndicesEngine::TIndex MakeIndex(TzfIndexDescriptor& aDescriptor);
  std::vector<std::unique_ptr<TzfBlockAccessIndexFile>> ineFiles;
  std::unique_ptr<TzfRecordEngineRecordSource> ineRecords;
  std::unique_ptr<TzfSimpleIndicesEngine> ineEngine;
};

rtl::TUnitInit& zfseIndicesEngineKindUnit();

}  // namespace zf
