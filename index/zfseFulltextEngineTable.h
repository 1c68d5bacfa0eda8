// Full-text table engines and bit-array storage.
//
// The full-text table engine is a tree of per-table objects, one per descriptor of the table's
// "Fulltext" descriptor: it creates the indices engine of the bit-array token B*-trees (header
// section "Fulltext$Indices") and the BLOB engine of their bit arrays ("Fulltext$Blob"), and hands
// each token index its index engines. It holds no per-cursor state; the cursor engines
// (zfseFulltextEngineCursor, zfseFulltextTokenIndex) are built from it. Built once per open table,
// inside the opening transaction; never rebuilt while the table is open.
//
// Bit-array BLOB (one BLOB per bit array; little-endian):
//   offset 0   4   number of bits set
//   offset 4   n   bitmap: bit b is bit (b and 7) of the byte at 4 + (b shr 3); the BLOB is only as
//                  long as its highest byte written
// SetBit of a bit already set, ClearBit of a bit not set, a BLOB too short for the bit and any
// failed length query or read answer 9729 "Key violation." (the bit is checked before anything is
// written, also when clearing the last bit).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "index/zfsrFulltextEngineBase.h"

namespace zf {

class TzfBaseBlobEngine;
class TzfBaseIndexEngine;
class TzfFulltextIndexTableEngine;
class TzfTokenExtractorHubTableEngine;
class TzfTokenFilterHubTableEngine;
class TzfTokenIndexHubTableEngine;
class TzfBitArrayTokenIndexTableEngine;
class TzfBaseBitArrayStorageHandlerTableEngine;

ZF_DECLARE_ENGINE_EXCEPTION(EzfSimpleBitArrayStorageHandlerTableEngineException, EzfBaseFulltextEngineException)

class TzfFulltextTableEngine : public TzfBaseFulltextTableEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfFulltextTableEngine(TzfFulltextDescriptor& aDescriptor, const TzfBlockAccessList& aFiles,
                         TzfBaseIndicesEngine* aMainIndicesEngine, TzfBaseTransaction* aTrans);
  // The index engines from the last to the first, then the indices and BLOB engines.
  ~TzfFulltextTableEngine() override;
  void Rollback(TzfBaseTransaction* aTrans) override;

  int32_t FulltextIndexCount() const { return static_cast<int32_t>(ftteFulltextIndices.size()); }

  TzfFulltextDescriptor* ftteFulltextDescriptor;
  TzfBlockAccessList ftteFiles;
  TzfBaseIndicesEngine* ftteMainIndicesEngine;
  std::vector<std::unique_ptr<TzfFulltextIndexTableEngine>> ftteFulltextIndices;
  std::unique_ptr<TzfBaseIndicesEngine> ftteIndicesEngine;
  std::unique_ptr<TzfBaseBlobEngine> ftteBlobEngine;
};

class TzfFulltextIndexTableEngine : public TzfBaseRegisterableEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfFulltextIndexTableEngine, TzfFulltextTableEngine*,
                                        TzfFulltextIndexDescriptor&, TzfBaseTransaction*>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfFulltextIndexTableEngine> CreateFor(TzfFulltextTableEngine* aParent,
                                                                TzfFulltextIndexDescriptor& aDescriptor,
                                                                TzfBaseTransaction* aTrans);
  TzfFulltextIndexTableEngine(TzfFulltextTableEngine* aParent, TzfFulltextIndexDescriptor& aDescriptor,
                              TzfBaseTransaction* aTrans);
  ~TzfFulltextIndexTableEngine() override;

  int32_t TokenExtractorCount() const;
  int32_t TokenFilterCount() const;
  int32_t TokenIndexCount() const;

  TzfFulltextTableEngine* fiteParentFulltextTableEngine;
  TzfFulltextIndexDescriptor* fiteFulltextIndexDescriptor;
  std::unique_ptr<TzfTokenExtractorHubTableEngine> fiteTokenExtractorHub;
  std::unique_ptr<TzfTokenFilterHubTableEngine> fiteTokenFilterHub;
  std::unique_ptr<TzfTokenIndexHubTableEngine> fiteTokenIndexHub;
};

class TzfBaseTokenSourceTableEngine : public TzfBaseRegisterableEngine {
 public:
  explicit TzfBaseTokenSourceTableEngine(TzfFulltextIndexTableEngine* aParent)
      : btsteParentFulltextIndexTableEngine(aParent) {}
  TzfFulltextIndexTableEngine* btsteParentFulltextIndexTableEngine;
};

// ---- Token extractors ----

class TzfBaseTokenExtractorTableEngine : public TzfBaseTokenSourceTableEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfBaseTokenExtractorTableEngine, TzfFulltextIndexTableEngine*,
                                        TzfBaseTokenExtractorDescriptor&, TzfBaseTransaction*>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfBaseTokenExtractorTableEngine> CreateFor(TzfFulltextIndexTableEngine* aParent,
                                                                     TzfBaseTokenExtractorDescriptor& aDescriptor,
                                                                     TzfBaseTransaction* aTrans);
  static std::unique_ptr<TzfBaseTokenExtractorTableEngine> CreateFor(TzfTokenExtractorHubTableEngine* aParent,
                                                                     TzfBaseTokenExtractorDescriptor& aDescriptor,
                                                                     TzfBaseTransaction* aTrans);
  // A filter hub engine only when the extractor lists filters of its own.
  TzfBaseTokenExtractorTableEngine(TzfFulltextIndexTableEngine* aParent, TzfBaseTokenExtractorDescriptor& aDescriptor,
                                   TzfBaseTransaction* aTrans);
  ~TzfBaseTokenExtractorTableEngine() override;
  int32_t TokenFilterCount() const;

  TzfTokenExtractorHubTableEngine* bteteParentTokenExtractorHubTableEngine = nullptr;
  TzfBaseTokenExtractorDescriptor* bteteTokenExtractorDescriptor;
  std::unique_ptr<TzfTokenFilterHubTableEngine> bteteTokenFilterHub;
};

class TzfTokenExtractorHubTableEngine : public TzfBaseTokenExtractorTableEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfTokenExtractorHubTableEngine(TzfFulltextIndexTableEngine* aParent, TzfBaseTokenExtractorDescriptor& aDescriptor,
                                  TzfBaseTransaction* aTrans);
  ~TzfTokenExtractorHubTableEngine() override;
  int32_t TokenExtractorCount() const { return static_cast<int32_t>(tehteTokenExtractors.size()); }
  // Range-checked.
  TzfBaseTokenExtractorTableEngine& TokenExtractor(int32_t aIndex) const;

  TzfTokenExtractorHubDescriptor* tehteTokenExtractorHubDescriptor;
  std::vector<std::unique_ptr<TzfBaseTokenExtractorTableEngine>> tehteTokenExtractors;
};

class TzfFieldTokenExtractorTableEngine : public TzfBaseTokenExtractorTableEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfFieldTokenExtractorTableEngine(TzfFulltextIndexTableEngine* aParent, TzfBaseTokenExtractorDescriptor& aDescriptor,
                                    TzfBaseTransaction* aTrans);
  TzfFieldTokenExtractorDescriptor* fteteFieldTokenExtractorDescriptor;
};

// ---- Token filters ----

class TzfBaseTokenFilterTableEngine : public TzfBaseTokenSourceTableEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfBaseTokenFilterTableEngine, TzfFulltextIndexTableEngine*,
                                        TzfBaseTokenFilterDescriptor&, TzfBaseTransaction*>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfBaseTokenFilterTableEngine> CreateFor(TzfFulltextIndexTableEngine* aParent,
                                                                  TzfBaseTokenFilterDescriptor& aDescriptor,
                                                                  TzfBaseTransaction* aTrans);
  static std::unique_ptr<TzfBaseTokenFilterTableEngine> CreateFor(TzfTokenFilterHubTableEngine* aParent,
                                                                  TzfBaseTokenFilterDescriptor& aDescriptor,
                                                                  TzfBaseTransaction* aTrans);
  TzfBaseTokenFilterTableEngine(TzfFulltextIndexTableEngine* aParent, TzfBaseTokenFilterDescriptor& aDescriptor,
                                TzfBaseTransaction*)
      : TzfBaseTokenSourceTableEngine(aParent), btfteTokenFilterDescriptor(&aDescriptor) {}

  TzfTokenFilterHubTableEngine* btfteParentTokenFilterHubTableEngine = nullptr;
  TzfBaseTokenFilterDescriptor* btfteTokenFilterDescriptor;
};

class TzfTokenFilterHubTableEngine : public TzfBaseTokenFilterTableEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  // The hub-class form of CreateFor: the result must be a filter hub engine.
  static std::unique_ptr<TzfTokenFilterHubTableEngine> CreateHubFor(TzfFulltextIndexTableEngine* aParent,
                                                                    TzfTokenFilterHubDescriptor& aDescriptor,
                                                                    TzfBaseTransaction* aTrans);
  TzfTokenFilterHubTableEngine(TzfFulltextIndexTableEngine* aParent, TzfBaseTokenFilterDescriptor& aDescriptor,
                               TzfBaseTransaction* aTrans);
  ~TzfTokenFilterHubTableEngine() override;
  int32_t TokenFilterCount() const { return static_cast<int32_t>(tfhteTokenFilters.size()); }
  TzfBaseTokenFilterTableEngine& TokenFilter(int32_t aIndex) const;

  TzfTokenFilterHubDescriptor* tfhteTokenFilterHubDescriptor;
  std::vector<std::unique_ptr<TzfBaseTokenFilterTableEngine>> tfhteTokenFilters;
};

// The filter table engines without state of their own: each filter descriptor class has one, and
// its cursor engine reads the settings from the descriptor.
#define ZF_FULLTEXT_FILTER_TABLE_ENGINE(T, Parent)                                                      \
  class T : public Parent {                                                                             \
   public:                                                                                              \
    static const TClass& ClassInfo();                                                                   \
    const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }                      \
    using Parent::Parent;                                                                               \
  };
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfBaseSeparatorTokenFilterTableEngine, TzfBaseTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfWideCharSeparatorTokenFilterTableEngine, TzfBaseSeparatorTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfCategorySeparatorTokenFilterTableEngine, TzfBaseSeparatorTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfBaseLocaleMappingTokenFilterTableEngine, TzfBaseTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfLowercaseLocaleMappingTokenFilterTableEngine,
                                TzfBaseLocaleMappingTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfUppercaseLocaleMappingTokenFilterTableEngine,
                                TzfBaseLocaleMappingTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfCustomLocaleMappingTokenFilterTableEngine,
                                TzfBaseLocaleMappingTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfBaseFoldStringTokenFilterTableEngine, TzfBaseTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfPreComposeFoldStringTokenFilterTableEngine, TzfBaseFoldStringTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfDecomposeFoldStringTokenFilterTableEngine, TzfBaseFoldStringTokenFilterTableEngine)
ZF_FULLTEXT_FILTER_TABLE_ENGINE(TzfCustomFoldStringTokenFilterTableEngine, TzfBaseFoldStringTokenFilterTableEngine)
#undef ZF_FULLTEXT_FILTER_TABLE_ENGINE

// ---- Token indexes ----

class TzfBaseTokenIndexTableEngine : public TzfBaseRegisterableEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfBaseTokenIndexTableEngine, TzfFulltextIndexTableEngine*,
                                        TzfBaseTokenIndexDescriptor&, TzfBaseTransaction*>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfBaseTokenIndexTableEngine> CreateFor(TzfFulltextIndexTableEngine* aParent,
                                                                 TzfBaseTokenIndexDescriptor& aDescriptor,
                                                                 TzfBaseTransaction* aTrans);
  static std::unique_ptr<TzfBaseTokenIndexTableEngine> CreateFor(TzfTokenIndexHubTableEngine* aParent,
                                                                 TzfBaseTokenIndexDescriptor& aDescriptor,
                                                                 TzfBaseTransaction* aTrans);
  TzfBaseTokenIndexTableEngine(TzfFulltextIndexTableEngine* aParent, TzfBaseTokenIndexDescriptor& aDescriptor,
                               TzfBaseTransaction* aTrans);
  ~TzfBaseTokenIndexTableEngine() override;
  int32_t TokenFilterCount() const;

  TzfFulltextIndexTableEngine* btiteParentFulltextIndexTableEngine;
  TzfTokenIndexHubTableEngine* btiteParentTokenIndexHubTableEngine = nullptr;
  TzfBaseTokenIndexDescriptor* btiteTokenIndexDescriptor;
  std::unique_ptr<TzfTokenFilterHubTableEngine> btiteTokenFilterHub;
};

class TzfTokenIndexHubTableEngine : public TzfBaseTokenIndexTableEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfTokenIndexHubTableEngine(TzfFulltextIndexTableEngine* aParent, TzfBaseTokenIndexDescriptor& aDescriptor,
                              TzfBaseTransaction* aTrans);
  ~TzfTokenIndexHubTableEngine() override;
  int32_t TokenIndexCount() const { return static_cast<int32_t>(tihteTokenIndexs.size()); }
  TzfBaseTokenIndexTableEngine& TokenIndex(int32_t aIndex) const;

  TzfTokenIndexHubDescriptor* tihteTokenIndexHubDescriptor;
  std::vector<std::unique_ptr<TzfBaseTokenIndexTableEngine>> tihteTokenIndexs;
};

class TzfBitArrayTokenIndexTableEngine : public TzfBaseTokenIndexTableEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfBitArrayTokenIndexTableEngine(TzfFulltextIndexTableEngine* aParent, TzfBaseTokenIndexDescriptor& aDescriptor,
                                   TzfBaseTransaction* aTrans);
  ~TzfBitArrayTokenIndexTableEngine() override;

  TzfBitArrayTokenIndexDescriptor* batiteBitArrayTokenIndexDescriptor;
  std::unique_ptr<TzfBaseBitArrayStorageHandlerTableEngine> batiteBitArrayStorageHandlerTableEngine;
  TzfBaseIndexEngine* batiteIndexEngine = nullptr;
  TzfBaseIndexEngine* batiteReverseIndexEngine = nullptr;
};

class TzfMainIndexTokenIndexTableEngine : public TzfBaseTokenIndexTableEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfMainIndexTokenIndexTableEngine(TzfFulltextIndexTableEngine* aParent, TzfBaseTokenIndexDescriptor& aDescriptor,
                                    TzfBaseTransaction* aTrans);

  TzfMainIndexTokenIndexDescriptor* mititeMainIndexTokenIndexDescriptor;
  TzfBaseIndexEngine* mititeMainIndexEngine;
};

// ---- Bit-array storage ----

class TzfBaseBitArrayStorageHandlerTableEngine : public TzfBaseRegisterableEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfBaseBitArrayStorageHandlerTableEngine, TzfBitArrayTokenIndexTableEngine*,
                                        TzfBaseBitArrayStorageHandlerDescriptor&, TzfBaseTransaction*>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  // nil for a nil descriptor.
  static std::unique_ptr<TzfBaseBitArrayStorageHandlerTableEngine> CreateFor(
      TzfBitArrayTokenIndexTableEngine* aParent, TzfBaseBitArrayStorageHandlerDescriptor* aDescriptor,
      TzfBaseTransaction* aTrans);
  explicit TzfBaseBitArrayStorageHandlerTableEngine(TzfBaseBitArrayStorageHandlerDescriptor& aDescriptor)
      : bbashBitArrayStorageHandlerDescriptor(&aDescriptor) {}

  // Sets bit aBit of the bit array aRefNr (9729 when it is set already).
  virtual void SetBit(TzfBaseTransaction* aTrans, int64_t aRefNr, uint32_t aBit) = 0;
  // Clears it (9729 when it is not set); True when that emptied the array, which is then deleted.
  virtual bool ClearBit(TzfBaseTransaction* aTrans, int64_t aRefNr, uint32_t aBit) = 0;
  // A new bit array with only aBit set; answers its number.
  virtual int64_t CreateNew(TzfBaseTransaction* aTrans, uint32_t aBit) = 0;

  TzfBaseBitArrayStorageHandlerDescriptor* bbashBitArrayStorageHandlerDescriptor;
};

class TzfSimpleBitArrayStorageHandlerTableEngine : public TzfBaseBitArrayStorageHandlerTableEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  // Takes the full-text table engine's BLOB engine (10004 when it has none).
  TzfSimpleBitArrayStorageHandlerTableEngine(TzfBitArrayTokenIndexTableEngine* aParent,
                                             TzfBaseBitArrayStorageHandlerDescriptor& aDescriptor,
                                             TzfBaseTransaction* aTrans);
  // Over a BLOB engine of one's own choosing.
  TzfSimpleBitArrayStorageHandlerTableEngine(TzfBaseBitArrayStorageHandlerDescriptor& aDescriptor,
                                             TzfBaseBlobEngine* aBlobEngine)
      : TzfBaseBitArrayStorageHandlerTableEngine(aDescriptor), sbashBlobEngine(aBlobEngine) {}

  void SetBit(TzfBaseTransaction* aTrans, int64_t aRefNr, uint32_t aBit) override;
  bool ClearBit(TzfBaseTransaction* aTrans, int64_t aRefNr, uint32_t aBit) override;
  int64_t CreateNew(TzfBaseTransaction* aTrans, uint32_t aBit) override;

  TzfBaseBlobEngine* sbashBlobEngine;

 private:
  uint32_t Length(TzfBaseTransaction* aTrans, int64_t aRefNr);
  uint8_t ReadByte(TzfBaseTransaction* aTrans, int64_t aRefNr, uint32_t aOffset);
  uint32_t ReadCount(TzfBaseTransaction* aTrans, int64_t aRefNr);
  void WriteCount(TzfBaseTransaction* aTrans, int64_t aRefNr, uint32_t aCount);
  // Exactly aLen bytes of the array from aOffset; anything less (or a failed read) is a key
  // violation.
  std::vector<uint8_t> ReadBytes(TzfBaseTransaction* aTrans, int64_t aRefNr, uint32_t aOffset, uint32_t aLen);
};

rtl::TUnitInit& zfseFulltextEngineTableUnit();

}  // namespace zf
