// Full-text cursor engines and token extraction.
//
// Every server cursor of a table with a full-text table engine owns one TzfFulltextCursorEngine.
// UpdateIndex runs, for each full-text index from the last to the first, the index's chain of
// token extractors and filters twice (over the old record and over the new one) and hands both
// token streams to the token indexes, which store the difference (zfseFulltextTokenIndex).
//
// Streams: Reset, then NextToken until it gives nil. A filter hub chains its filters (filter 0
// reads the hub's source, filter i reads filter i - 1) and is read at its last filter, so a reset
// travels down the whole chain to the extractors.
//
// Field extraction by type (the field's used locale gives the storage code page; 0: none):
//   ShortString   length byte L (clamped to the field's units), then L bytes: converted with the
//                 code page, or each byte widened to the unit of the same value without one
//   NullString    bytes up to the terminating zero (at most the field's units), likewise
//   WideString    UTF-16 units up to the terminating zero (at most the field's units)
//   BlobMemo      the BLOB as 8-bit text, likewise
//   BlobWideMemo  the BLOB as UTF-16 (length div 2 units)
//   other types   no tokens
// The token is the field's whole text (distance 0); a NULL field, an empty text, BLOB number 0, an
// empty BLOB or a failed BLOB read give none. The extractor hub then sets the token's Field to the
// extractor's position.
//
// Separator filter (S = the descriptor's separator distance): each input token is split at
// separator characters into words; the first word keeps the input's distance when the text starts
// with a word and gets at least S after leading separators; every further word gets Max(1, S); a
// text without separators (or an empty one) passes unchanged; a text of separators only gives
// nothing. Transformer filters map each token's text (locale mapping: case; fold-string:
// composition and the like) and keep its distance and field.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/zfllWideStringList.h"
#include "index/zfseFulltextEngineTable.h"

namespace zf {

class TzfFieldDescriptor;
class TzfFieldsDescriptor;
class TzfFulltextIndexCursorEngine;
class TzfTokenExtractorHubCursorEngine;
class TzfTokenFilterHubCursorEngine;
class TzfTokenIndexHubCursorEngine;

class TzfFulltextCursorEngine : public TzfBaseFulltextCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfFulltextCursorEngine(TzfBaseFulltextTableEngine& aTableEngine, IzfFulltextCursor* aCursor);
  ~TzfFulltextCursorEngine() override;

  // The full-text indexes from the last to the first; the first non-zero result ends the call.
  uint32_t UpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, int64_t aOldRefNr,
                       const uint8_t* aNewRecord, int64_t aNewRefNr) override;

  TzfFulltextTableEngine* ftceFulltextTableEngine;
  IzfFulltextCursor* ftceFulltextCursor;
  std::vector<std::unique_ptr<TzfFulltextIndexCursorEngine>> ftceFulltextIndices;
};

class TzfBaseTokenSourceCursorEngine : public TzfBaseRegisterableEngine {
 public:
  explicit TzfBaseTokenSourceCursorEngine(TzfFulltextIndexCursorEngine* aParent)
      : btsceParentFulltextIndexCursorEngine(aParent) {}
  virtual void Reset() {}
  // nil at the end of the stream.
  virtual PzfToken NextToken() { return nullptr; }

  TzfFulltextIndexCursorEngine* btsceParentFulltextIndexCursorEngine;
};

class TzfFulltextIndexCursorEngine : public TzfBaseRegisterableEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfFulltextIndexCursorEngine, TzfFulltextCursorEngine*,
                                        TzfFulltextIndexTableEngine&>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfFulltextIndexCursorEngine> CreateFor(TzfFulltextCursorEngine* aParent,
                                                                 TzfFulltextIndexTableEngine& aTableEngine);
  TzfFulltextIndexCursorEngine(TzfFulltextCursorEngine* aParent, TzfFulltextIndexTableEngine& aTableEngine);
  ~TzfFulltextIndexCursorEngine() override;

  // Binds the old and the new record to the two extractor hubs and lets the token indexes store
  // the difference.
  virtual uint32_t ficeUpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, int64_t aOldRefNr,
                                   const uint8_t* aNewRecord, int64_t aNewRefNr);
  int32_t TokenExtractorCount() const;
  int32_t TokenFilterCount() const;
  int32_t TokenIndexCount() const;
  IzfFulltextCursor* Cursor() const { return ficeParentFulltextCursorEngine->ftceFulltextCursor; }

  TzfFulltextCursorEngine* ficeParentFulltextCursorEngine;
  TzfFulltextIndexTableEngine* ficeFulltextIndexTableEngine;
  std::unique_ptr<TzfTokenExtractorHubCursorEngine> ficeTokenExtractorHubOld;
  std::unique_ptr<TzfTokenExtractorHubCursorEngine> ficeTokenExtractorHubNew;
  std::unique_ptr<TzfTokenFilterHubCursorEngine> ficeTokenFilterHubOld;
  std::unique_ptr<TzfTokenFilterHubCursorEngine> ficeTokenFilterHubNew;
  std::unique_ptr<TzfTokenIndexHubCursorEngine> ficeTokenIndexHub;
};

// ---- Token extractors ----

class TzfBaseTokenExtractorCursorEngine;

// Feeds an extractor's own stream into its own filter hub.
class TzfTokenExtractorSourceRedirectorCursorEngine : public TzfBaseTokenSourceCursorEngine {
 public:
  TzfTokenExtractorSourceRedirectorCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                                TzfBaseTokenExtractorCursorEngine& aExtractor)
      : TzfBaseTokenSourceCursorEngine(aParent), tesrceParent(&aExtractor) {}
  void Reset() override;
  PzfToken NextToken() override;
  TzfBaseTokenExtractorCursorEngine* tesrceParent;
};

class TzfBaseTokenExtractorCursorEngine : public TzfBaseTokenSourceCursorEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfBaseTokenExtractorCursorEngine, TzfFulltextIndexCursorEngine*,
                                        TzfBaseTokenExtractorTableEngine&>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfBaseTokenExtractorCursorEngine> CreateFor(TzfFulltextIndexCursorEngine* aParent,
                                                                      TzfBaseTokenExtractorTableEngine& aTableEngine);
  static std::unique_ptr<TzfBaseTokenExtractorCursorEngine> CreateFor(TzfTokenExtractorHubCursorEngine* aParent,
                                                                      TzfBaseTokenExtractorTableEngine& aTableEngine);
  TzfBaseTokenExtractorCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                    TzfBaseTokenExtractorTableEngine& aTableEngine);
  ~TzfBaseTokenExtractorCursorEngine() override;

  // Binds the record (aReadOrg: read its BLOBs as they were before the change).
  virtual void Initialize(const uint8_t* aRecord, int64_t aRefNr, bool aReadOrg) {}
  virtual void ResetInternal() {}
  virtual PzfToken NextTokenInternal() { return nullptr; }
  // Through the own filter hub when there is one.
  void Reset() override;
  PzfToken NextToken() override;
  int32_t TokenFilterCount() const;

  TzfTokenExtractorHubCursorEngine* bteceParentTokenExtractorHubCursorEngine = nullptr;
  TzfBaseTokenExtractorTableEngine* bteceTokenExtractorTableEngine;
  std::unique_ptr<TzfTokenExtractorSourceRedirectorCursorEngine> bteceTokenFilterHubSource;
  std::unique_ptr<TzfTokenFilterHubCursorEngine> bteceTokenFilterHub;
};

class TzfTokenExtractorHubCursorEngine : public TzfBaseTokenExtractorCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  // The hub-class form of CreateFor: the result must be an extractor hub engine.
  static std::unique_ptr<TzfTokenExtractorHubCursorEngine> CreateHubFor(TzfFulltextIndexCursorEngine* aParent,
                                                                        TzfTokenExtractorHubTableEngine& aTableEngine);
  TzfTokenExtractorHubCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                   TzfBaseTokenExtractorTableEngine& aTableEngine);
  ~TzfTokenExtractorHubCursorEngine() override;

  void Initialize(const uint8_t* aRecord, int64_t aRefNr, bool aReadOrg) override;
  void ResetInternal() override;
  // The tokens of all extractors, extractor by extractor, each with Field = the extractor's
  // position.
  PzfToken NextTokenInternal() override;
  int32_t TokenExtractorCount() const { return static_cast<int32_t>(tehceTokenExtractors.size()); }

  TzfTokenExtractorHubTableEngine* tehceTokenExtractorHubTableEngine;
  std::vector<std::unique_ptr<TzfBaseTokenExtractorCursorEngine>> tehceTokenExtractors;
  int32_t tehceCurrentExtractor = 0;
};

class TzfFieldTokenExtractorCursorEngine : public TzfBaseTokenExtractorCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfFieldTokenExtractorCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                     TzfBaseTokenExtractorTableEngine& aTableEngine);

  void Initialize(const uint8_t* aRecord, int64_t aRefNr, bool aReadOrg) override;
  void ResetInternal() override { fteceUsed = false; }
  PzfToken NextTokenInternal() override;
  // The field's text in aRecord (see the table above); False when it gives no token.
  bool FieldText(const uint8_t* aRecord, TzfWideString& aText);

  TzfFieldTokenExtractorTableEngine* fteceFieldTokenExtractorTableEngine;
  TzfFieldsDescriptor* fteceFieldsDescriptor = nullptr;
  TzfFieldDescriptor* fteceField = nullptr;
  const uint8_t* fteceRecord = nullptr;
  bool fteceReadOrg = false;
  bool fteceUsed = false;
  uint16_t fteceCodepage = 0;
};

// ---- Token filters ----

class TzfBaseTokenFilterCursorEngine : public TzfBaseTokenSourceCursorEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfBaseTokenFilterCursorEngine, TzfFulltextIndexCursorEngine*,
                                        TzfBaseTokenSourceCursorEngine*, TzfBaseTokenFilterTableEngine&>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfBaseTokenFilterCursorEngine> CreateFor(TzfFulltextIndexCursorEngine* aParent,
                                                                   TzfBaseTokenSourceCursorEngine* aTokenSource,
                                                                   TzfBaseTokenFilterTableEngine& aTableEngine);
  static std::unique_ptr<TzfBaseTokenFilterCursorEngine> CreateFor(TzfTokenFilterHubCursorEngine* aParent,
                                                                   TzfBaseTokenSourceCursorEngine* aTokenSource,
                                                                   TzfBaseTokenFilterTableEngine& aTableEngine);
  TzfBaseTokenFilterCursorEngine(TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
                                 TzfBaseTokenFilterTableEngine& aTableEngine)
      : TzfBaseTokenSourceCursorEngine(aParent), btfceTokenFilterTableEngine(&aTableEngine), btfceTokenSource(aTokenSource) {}
  void Reset() override {
    if (btfceTokenSource) btfceTokenSource->Reset();
  }
  PzfToken NextToken() override { return btfceTokenSource ? btfceTokenSource->NextToken() : nullptr; }

  TzfTokenFilterHubCursorEngine* btfceParentTokenFilterHubCursorEngine = nullptr;
  TzfBaseTokenFilterTableEngine* btfceTokenFilterTableEngine;
  TzfBaseTokenSourceCursorEngine* btfceTokenSource;
};

class TzfTokenFilterHubCursorEngine : public TzfBaseTokenFilterCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfTokenFilterHubCursorEngine> CreateHubFor(TzfFulltextIndexCursorEngine* aParent,
                                                                     TzfBaseTokenSourceCursorEngine* aTokenSource,
                                                                     TzfTokenFilterHubTableEngine& aTableEngine);
  TzfTokenFilterHubCursorEngine(TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
                                TzfBaseTokenFilterTableEngine& aTableEngine);
  ~TzfTokenFilterHubCursorEngine() override;
  void Reset() override { tfhceTokenSource->Reset(); }
  PzfToken NextToken() override { return tfhceTokenSource->NextToken(); }
  int32_t TokenFilterCount() const { return static_cast<int32_t>(tfhceTokenFilters.size()); }

  TzfTokenFilterHubTableEngine* tfhceTokenFilterHubTableEngine;
  std::vector<std::unique_ptr<TzfBaseTokenFilterCursorEngine>> tfhceTokenFilters;
  TzfBaseTokenSourceCursorEngine* tfhceTokenSource;
};

class TzfBaseSeparatorTokenFilterCursorEngine : public TzfBaseTokenFilterCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfBaseSeparatorTokenFilterCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                          TzfBaseTokenSourceCursorEngine* aTokenSource,
                                          TzfBaseTokenFilterTableEngine& aTableEngine);
  virtual bool bstfceIsSeparator(char16_t aChar) const = 0;
  void Reset() override;
  PzfToken NextToken() override;

  PzfToken bstfceInputToken;
  int32_t bstfceInputPos = 0;
  int32_t bstfceNextDistance = 0;
  int32_t bstfceSeparatorDistance;
};

class TzfWideCharSeparatorTokenFilterCursorEngine : public TzfBaseSeparatorTokenFilterCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfWideCharSeparatorTokenFilterCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                              TzfBaseTokenSourceCursorEngine* aTokenSource,
                                              TzfBaseTokenFilterTableEngine& aTableEngine);
  bool bstfceIsSeparator(char16_t aChar) const override { return aChar == wcstfceSeparatorChar; }
  char16_t wcstfceSeparatorChar;
};

class TzfCategorySeparatorTokenFilterCursorEngine : public TzfBaseSeparatorTokenFilterCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfCategorySeparatorTokenFilterCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                              TzfBaseTokenSourceCursorEngine* aTokenSource,
                                              TzfBaseTokenFilterTableEngine& aTableEngine);
  bool bstfceIsSeparator(char16_t aChar) const override;
  TzfCharacterCategories cstfceSeparatorCategories;
};

class TzfTransformerTokenFilterCursorEngine : public TzfBaseTokenFilterCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  using TzfBaseTokenFilterCursorEngine::TzfBaseTokenFilterCursorEngine;
  PzfToken NextToken() override;
  PzfWideStringTransformer ttfceTransformer;
};

// Locale mapping with the locale of the filter's used locale descriptor (0 without) and its flags.
class TzfBaseLocaleMappingTokenFilterCursorEngine : public TzfTransformerTokenFilterCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfBaseLocaleMappingTokenFilterCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                              TzfBaseTokenSourceCursorEngine* aTokenSource,
                                              TzfBaseTokenFilterTableEngine& aTableEngine);
};

// Fold-string mapping with the filter's flags.
class TzfBaseFoldStringTokenFilterCursorEngine : public TzfTransformerTokenFilterCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfBaseFoldStringTokenFilterCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                           TzfBaseTokenSourceCursorEngine* aTokenSource,
                                           TzfBaseTokenFilterTableEngine& aTableEngine);
};

#define ZF_FULLTEXT_FILTER_CURSOR_ENGINE(T, Parent)                                                     \
  class T : public Parent {                                                                             \
   public:                                                                                              \
    static const TClass& ClassInfo();                                                                   \
    const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }                      \
    using Parent::Parent;                                                                               \
  };
ZF_FULLTEXT_FILTER_CURSOR_ENGINE(TzfLowercaseLocaleMappingTokenFilterCursorEngine,
                                 TzfBaseLocaleMappingTokenFilterCursorEngine)
ZF_FULLTEXT_FILTER_CURSOR_ENGINE(TzfUppercaseLocaleMappingTokenFilterCursorEngine,
                                 TzfBaseLocaleMappingTokenFilterCursorEngine)
ZF_FULLTEXT_FILTER_CURSOR_ENGINE(TzfCustomLocaleMappingTokenFilterCursorEngine,
                                 TzfBaseLocaleMappingTokenFilterCursorEngine)
ZF_FULLTEXT_FILTER_CURSOR_ENGINE(TzfPreComposeFoldStringTokenFilterCursorEngine,
                                 TzfBaseFoldStringTokenFilterCursorEngine)
ZF_FULLTEXT_FILTER_CURSOR_ENGINE(TzfDecomposeFoldStringTokenFilterCursorEngine,
                                 TzfBaseFoldStringTokenFilterCursorEngine)
ZF_FULLTEXT_FILTER_CURSOR_ENGINE(TzfCustomFoldStringTokenFilterCursorEngine, TzfBaseFoldStringTokenFilterCursorEngine)
#undef ZF_FULLTEXT_FILTER_CURSOR_ENGINE

rtl::TUnitInit& zfseFulltextEngineCursorUnit();

}  // namespace zf
