// The indices engine kind (kind word "indices"): the engine that keeps a table's indexes in step
// with its records, found by the indices descriptor's engine name. "zf1xDefault" is the simple
// indices engine (`TzfSimpleIndicesEngine`) over the table's own files: one index engine per index
// descriptor, in index-number order, each made by the index descriptor's engine name with the key
// engine of its key descriptor, its blocks in the file its descriptor names.
//
// The engine lives as long as the table; `SetTransaction` names the transaction the calls that
// follow run in (blocks are read and changed inside it, an undo that fails marks it corrupted).
#pragma once
#include <memory>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "index/zfseIndexFileBlockAccess.h"
#include "index/zfseIndicesEngineSimple.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {

class TzfBaseIndicesEngine;

struct TzfIndicesEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseIndicesEngine> (*)(TzfBaseIndicesDescriptor* aDescriptor,
                                                            const TzfBlockAccessList& aFiles,
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
  TzfBaseIndicesEngine(TzfBaseIndicesDescriptor* aDescriptor, const TzfBlockAccessList& aFiles);

  static const TzfIndicesEngineClass& ClassInfo();
  const TzfIndicesEngineClass& ClassType() const override { return ClassInfo(); }

  // The engine named by the descriptor (15503 "Unknown indices engine"); nil for a nil
  // descriptor. With a transaction the indexes are being made (table build, restructure), without
  // one an existing table is opened and every index header is verified (8961).
  static std::unique_ptr<TzfBaseIndicesEngine> CreateEngine(TzfBaseIndicesDescriptor* aDescriptor,
                                                            const TzfBlockAccessList& aFiles,
                                                            TzfBaseTransaction* aTrans, bool aAddToExisting = false);
  static std::unique_ptr<TzfBaseIndicesEngine> CreateEngine(TzfBaseTableDescriptor& aTable,
                                                            const TzfBlockAccessList& aFiles,
                                                            TzfBaseTransaction* aTrans, bool aAddToExisting = false);
  // The table's indices descriptor, when it has one, checked by the engine it names.
  static void CheckValidDescriptor(TzfBaseTableDescriptor& aTable);
  // Engine-name check (15503) and the engine's own check of the descriptor.
  static void CheckValidBaseFromDescriptor(TzfBaseIndicesDescriptor* aDescriptor);

  virtual void SetTransaction(TzfBaseTransaction* aTrans) = 0;
  // The engine keeping the indexes (key maintenance, index engines and their stores).
  virtual TzfSimpleIndicesEngine& Indices() = 0;

  TzfBaseIndicesDescriptor* biseDescriptor;
  TzfBlockAccessList biseFiles;
};

class TzfSimpleIndicesSubEngine : public TzfBaseIndicesEngine {
 public:
  // 10004 for an index whose file number names no file of the table or that has no key.
  TzfSimpleIndicesSubEngine(TzfBaseIndicesDescriptor* aDescriptor, const TzfBlockAccessList& aFiles,
                            TzfBaseTransaction* aTrans);
  ~TzfSimpleIndicesSubEngine() override;

  static const TzfIndicesEngineClass& ClassInfo();
  const TzfIndicesEngineClass& ClassType() const override { return ClassInfo(); }
  // Every index descriptor names a registered index engine and a key its key engines can make.
  static void CheckValidEngineDescriptor(TzfBaseIndicesDescriptor* aDescriptor);

  void SetTransaction(TzfBaseTransaction* aTrans) override;
  TzfSimpleIndicesEngine& Indices() override { return *ineEngine; }

 private:
  std::vector<std::unique_ptr<TzfBlockAccessIndexFile>> ineFiles;
  std::unique_ptr<TzfSimpleIndicesEngine> ineEngine;
};

rtl::TUnitInit& zfseIndicesEngineKindUnit();

}  // namespace zf
