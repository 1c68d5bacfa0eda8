// Token index maintenance: the write side of full-text search.
//
// For a changed record the token index cursor engines read the old and the new token stream,
// make each a set of distinct tokens (sorted lists without duplicates; with a locale: the locale
// comparison and a cut to MaxTokenSize; without: byte order of the precomposed token cut to
// MaxTokenSize), compare the two sets and change only what differs:
//
//  - bit-array token index: the record's location (the value of the location index's single key
//    field; a NULL field has none) is bit (location and $7FFFF) of the token's array for segment
//    (location shr 19); with PerLocationIndex the tokens of all extractors count together (field
//    -1 in the key when per field), with PerFieldIndex each extractor's separately. With
//    SegmentIndex the token's array of segment $FFFF has bit G set while its segment G has an
//    array. Arrays live in BLOBs found through the B*-tree key (segment, token[, field]) and,
//    optionally, the reversed key.
//  - main-index token index: keys (token[, location]) with the record's reference number in an
//    index of the table's own indices; a record that fails the key filter has no keys.
//
// A token to remove that is not stored, a key that cannot be inserted or deleted and any bit-array
// storage error raise 9729. Containers live only during one update.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "index/zfseFulltextEngineCursor.h"

namespace zf {

class TzfBaseIndexEngine;
class TzfBaseIndexPath;
class TzfBitArrayTokenKeyEngine;
class TzfMainIndexTokenKeyEngine;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTokenIndexCursorEngineException, EzfBaseFulltextEngineException)

// The distinct tokens of one stream: all together (Combined) and/or per extractor (PerField).
class TzfUniqueTokenContainer : public TzfObject {
 public:
  TzfUniqueTokenContainer(TzfBaseTokenSourceCursorEngine& aTokenSource, PzfWideStringComparer aComparer,
                          PzfWideStringTransformer aTransformer, bool aCombined, bool aPerField);
  ~TzfUniqueTokenContainer() override;
  // The list of field aField (nil when it has no tokens).
  TzfWideStringList* utcFieldList(int32_t aField) const;
  int32_t HighestField() const { return static_cast<int32_t>(utcPerField.size()) - 1; }

  std::unique_ptr<TzfWideStringList> utcCombined;
  std::vector<std::unique_ptr<TzfWideStringList>> utcPerField;
  PzfWideStringComparer utcComparer;
  PzfWideStringTransformer utcTransformer;

 private:
  std::unique_ptr<TzfWideStringList> utcNewList() const;
};

class TzfBaseTokenIndexCursorEngine : public TzfBaseRegisterableEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfBaseTokenIndexCursorEngine, TzfFulltextIndexCursorEngine*,
                                        TzfBaseTokenIndexTableEngine&, TzfBaseTokenSourceCursorEngine*,
                                        TzfBaseTokenSourceCursorEngine*>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfBaseTokenIndexCursorEngine> CreateFor(TzfFulltextIndexCursorEngine* aParent,
                                                                  TzfBaseTokenIndexTableEngine& aTableEngine,
                                                                  TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                                                                  TzfBaseTokenSourceCursorEngine* aTokenSourceNew);
  // With filters of the token index's own, the two sources are read through two filter hubs.
  TzfBaseTokenIndexCursorEngine(TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenIndexTableEngine& aTableEngine,
                                TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                                TzfBaseTokenSourceCursorEngine* aTokenSourceNew);
  ~TzfBaseTokenIndexCursorEngine() override;

  // Base: 12289 "bticeUpdateIndex is not supported by %s".
  virtual uint32_t bticeUpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, int64_t aOldRefNr,
                                    const uint8_t* aNewRecord, int64_t aNewRefNr);

  TzfFulltextIndexCursorEngine* bticeParentFulltextIndexCursorEngine;
  class TzfTokenIndexHubCursorEngine* bticeParentTokenIndexHubCursorEngine = nullptr;
  TzfBaseTokenIndexTableEngine* bticeTokenIndexTableEngine;
  std::unique_ptr<TzfTokenFilterHubCursorEngine> bticeTokenFilterHubOld;
  std::unique_ptr<TzfTokenFilterHubCursorEngine> bticeTokenFilterHubNew;
  TzfBaseTokenSourceCursorEngine* bticeTokenSourceOld;
  TzfBaseTokenSourceCursorEngine* bticeTokenSourceNew;
};

class TzfTokenIndexHubCursorEngine : public TzfBaseTokenIndexCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  static std::unique_ptr<TzfTokenIndexHubCursorEngine> CreateHubFor(TzfFulltextIndexCursorEngine* aParent,
                                                                    TzfTokenIndexHubTableEngine& aTableEngine,
                                                                    TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                                                                    TzfBaseTokenSourceCursorEngine* aTokenSourceNew);
  TzfTokenIndexHubCursorEngine(TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenIndexTableEngine& aTableEngine,
                               TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                               TzfBaseTokenSourceCursorEngine* aTokenSourceNew);
  ~TzfTokenIndexHubCursorEngine() override;
  // Its token indexes in order; the first non-zero result.
  uint32_t bticeUpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, int64_t aOldRefNr,
                            const uint8_t* aNewRecord, int64_t aNewRefNr) override;
  int32_t TokenIndexCount() const { return static_cast<int32_t>(tihceTokenIndexs.size()); }

  TzfTokenIndexHubTableEngine* tihceTokenIndexHubTableEngine;
  std::vector<std::unique_ptr<TzfBaseTokenIndexCursorEngine>> tihceTokenIndexs;
};

class TzfBaseProcessingTokenIndexCursorEngine : public TzfBaseTokenIndexCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  using TzfBaseTokenIndexCursorEngine::TzfBaseTokenIndexCursorEngine;

  virtual uint32_t bpticeCompareFlags() const { return 0; }
  virtual int32_t bpticeMaxTokenSize() const = 0;
  // Stores (aInsert) or removes one token of context aContext (a location or a reference number)
  // and field aField (-1: all fields together).
  virtual void bpticeProcessToken(TzfBaseTransaction* aTrans, const TzfWideString& aToken, bool aInsert,
                                  int64_t aContext, int32_t aField) = 0;

 protected:
  // The comparer and transformer of the token sets (after the subclass has its key engines).
  void bpticeSetUp();
  void bpticeProcessList(TzfBaseTransaction* aTrans, const TzfWideStringList* aList, bool aInsert, int64_t aContext,
                         int32_t aField);
  void bpticeProcessListDifference(TzfBaseTransaction* aTrans, const TzfWideStringList* aOld,
                                   const TzfWideStringList* aNew, int64_t aContext, int32_t aField);
  void bpticeProcessDifference(TzfBaseTransaction* aTrans, const TzfUniqueTokenContainer& aOld,
                               const TzfUniqueTokenContainer& aNew, int64_t aContext);
  void bpticeProcessContainer(TzfBaseTransaction* aTrans, const TzfUniqueTokenContainer& aContainer, bool aInsert,
                              int64_t aContext);
  // The value of the location field in aRecord; False when it is NULL.
  bool bpticeLocation(const uint8_t* aRecord, uint32_t& aLocation) const;
  void bpticeFindLocationField();

  PzfWideStringComparer bpticeComparer;
  PzfWideStringTransformer bpticeTransformer;
  TzfFieldsDescriptor* bpticeFieldsDescriptor = nullptr;
  TzfFieldDescriptor* bpticeLocationField = nullptr;
};

class TzfBitArrayTokenIndexCursorEngine : public TzfBaseProcessingTokenIndexCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfBitArrayTokenIndexCursorEngine(TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenIndexTableEngine& aTableEngine,
                                    TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                                    TzfBaseTokenSourceCursorEngine* aTokenSourceNew);
  ~TzfBitArrayTokenIndexCursorEngine() override;

  int32_t bpticeMaxTokenSize() const override;
  void bpticeProcessToken(TzfBaseTransaction* aTrans, const TzfWideString& aToken, bool aInsert, int64_t aContext,
                          int32_t aField) override;
  uint32_t bticeUpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, int64_t aOldRefNr,
                            const uint8_t* aNewRecord, int64_t aNewRefNr) override;

  TzfBitArrayTokenIndexTableEngine* baticeBitArrayTokenIndexTableEngine;
  TzfBaseBitArrayStorageHandlerTableEngine* baticeBitArrayStorageHandlerTableEngine = nullptr;
  TzfBaseIndexEngine* baticeIndexEngine = nullptr;
  TzfBaseIndexEngine* baticeReverseIndexEngine = nullptr;
  TzfBitArrayTokenKeyEngine* baticeKeyEngine = nullptr;
  TzfBitArrayTokenKeyEngine* baticeReverseKeyEngine = nullptr;
  bool baticePerFieldIndex;
  bool baticePerLocationIndex;
  bool baticeSegmentIndex;
  uint8_t* baticeKeyBuffer = nullptr;
  uint8_t* baticeReverseKeyBuffer = nullptr;
  std::unique_ptr<TzfBaseIndexPath> baticeIndexPath;
  std::unique_ptr<TzfBaseIndexPath> baticeReverseIndexPath;

 private:
  // One bit of one array under one tree (the other tree, when given, follows with the same BLOB);
  // True when the array was created or emptied.
  bool ProcessBit(TzfBaseTransaction* aTrans, TzfBaseIndexEngine* aIndex, TzfBitArrayTokenKeyEngine* aKeyEngine,
                  uint8_t* aKey, TzfBaseIndexPath* aPath, TzfBaseIndexEngine* aOther,
                  TzfBitArrayTokenKeyEngine* aOtherKeyEngine, uint8_t* aOtherKey, TzfBaseIndexPath* aOtherPath,
                  uint16_t aSegment, const TzfWideString& aToken, int16_t aField, uint32_t aBit, bool aInsert);
};

class TzfMainIndexTokenIndexCursorEngine : public TzfBaseProcessingTokenIndexCursorEngine {
 public:
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  TzfMainIndexTokenIndexCursorEngine(TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenIndexTableEngine& aTableEngine,
                                     TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                                     TzfBaseTokenSourceCursorEngine* aTokenSourceNew);
  ~TzfMainIndexTokenIndexCursorEngine() override;

  uint32_t bpticeCompareFlags() const override;
  int32_t bpticeMaxTokenSize() const override;
  // aContext: the reference number; the location is the one of the side being processed.
  void bpticeProcessToken(TzfBaseTransaction* aTrans, const TzfWideString& aToken, bool aInsert, int64_t aContext,
                          int32_t aField) override;
  uint32_t bticeUpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, int64_t aOldRefNr,
                            const uint8_t* aNewRecord, int64_t aNewRefNr) override;

  TzfMainIndexTokenIndexTableEngine* miticeMainIndexTokenIndexTableEngine;
  TzfBaseIndexEngine* miticeIndexEngine;
  TzfMainIndexTokenKeyEngine* miticeKeyEngine;
  uint8_t* miticeKeyBuffer = nullptr;
  std::unique_ptr<TzfBaseIndexPath> miticeIndexPath;

 private:
  uint32_t miticeCurrentLocation = 0;
};

rtl::TUnitInit& zfseFulltextTokenIndexUnit();

}  // namespace zf
