#include "index/zfseFulltextTokenIndex.h"

#include <algorithm>
#include <cstring>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllErrors.h"
#include "index/zfsdKeyEngineToken.h"
#include "index/zfseIndicesEngineKind.h"
#include "index/zfsrIndexEngineBase.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {


constexpr uint16_t kSegmentIndexSegment = 0xFFFF;

[[noreturn]] void KeyViolation() { throw EzfBaseTokenIndexCursorEngineException(zfErrKeyViol); }

// The node store of an index engine of aIndices, inside aTrans.
TzfIndexNodeStore& StoreOf(TzfBaseIndicesEngine& aIndices, TzfBaseTransaction* aTrans, TzfBaseIndexEngine& aIndex) {
  aIndices.SetTransaction(aTrans);
  return aIndices.Indices().Store(aIndex.bieIndexNumber);
}

}  // namespace

// ---- TzfUniqueTokenContainer ----

TzfUniqueTokenContainer::TzfUniqueTokenContainer(TzfBaseTokenSourceCursorEngine& aTokenSource,
                                                 PzfWideStringComparer aComparer, PzfWideStringTransformer aTransformer,
                                                 bool aCombined, bool aPerField)
    : utcComparer(std::move(aComparer)), utcTransformer(std::move(aTransformer)) {
  if (aCombined) utcCombined = utcNewList();
  aTokenSource.Reset();
  for (PzfToken t = aTokenSource.NextToken(); t; t = aTokenSource.NextToken()) {
    if (t->Token().empty()) continue;  // an empty token names nothing that a key could hold
    if (aPerField) {
      const int32_t field = t->Field();
      if (field < 0) continue;
      if (static_cast<size_t>(field) >= utcPerField.size()) utcPerField.resize(static_cast<size_t>(field) + 1);
      auto& list = utcPerField[static_cast<size_t>(field)];
      if (!list) list = utcNewList();
      list->Add(t->Token());
    } else if (aCombined) {
      utcCombined->Add(t->Token());
    }
  }
  if (aPerField && aCombined)
    for (const auto& list : utcPerField)
      if (list)
        for (int32_t i = 0; i < list->Count(); ++i) utcCombined->Add(list->Get(i));
}

TzfUniqueTokenContainer::~TzfUniqueTokenContainer() = default;

std::unique_ptr<TzfWideStringList> TzfUniqueTokenContainer::utcNewList() const {
  auto list = std::make_unique<TzfWideStringList>(utcComparer, utcTransformer);
  list->SetSorted(true);
  list->SetDuplicates(rtl::dupIgnore);
  return list;
}

TzfWideStringList* TzfUniqueTokenContainer::utcFieldList(int32_t aField) const {
  if (aField < 0 || static_cast<size_t>(aField) >= utcPerField.size()) return nullptr;
  return utcPerField[static_cast<size_t>(aField)].get();
}

// ---- TzfBaseTokenIndexCursorEngine ----

ZF_FT_ABSTRACT(TzfBaseTokenIndexCursorEngine, TzfBaseRegisterableEngine, &zfFamilyList<TzfBaseTokenIndexCursorEngine>)

std::unique_ptr<TzfBaseTokenIndexCursorEngine> TzfBaseTokenIndexCursorEngine::CreateFor(
    TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenIndexTableEngine& aTableEngine,
    TzfBaseTokenSourceCursorEngine* aTokenSourceOld, TzfBaseTokenSourceCursorEngine* aTokenSourceNew) {
  return zfMakeFulltextEngine<TzfBaseTokenIndexCursorEngine>(u"TokenIndex", aTableEngine.ClassName(), u"TableEngine",
                                                             u"CursorEngine", aParent, aTableEngine, aTokenSourceOld,
                                                             aTokenSourceNew);
}

TzfBaseTokenIndexCursorEngine::TzfBaseTokenIndexCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                                             TzfBaseTokenIndexTableEngine& aTableEngine,
                                                             TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                                                             TzfBaseTokenSourceCursorEngine* aTokenSourceNew)
    : bticeParentFulltextIndexCursorEngine(aParent),
      bticeTokenIndexTableEngine(&aTableEngine),
      bticeTokenSourceOld(aTokenSourceOld),
      bticeTokenSourceNew(aTokenSourceNew) {
  if (aTableEngine.btiteTokenFilterHub) {
    bticeTokenFilterHubOld =
        TzfTokenFilterHubCursorEngine::CreateHubFor(aParent, aTokenSourceOld, *aTableEngine.btiteTokenFilterHub);
    bticeTokenFilterHubNew =
        TzfTokenFilterHubCursorEngine::CreateHubFor(aParent, aTokenSourceNew, *aTableEngine.btiteTokenFilterHub);
    bticeTokenSourceOld = bticeTokenFilterHubOld.get();
    bticeTokenSourceNew = bticeTokenFilterHubNew.get();
  }
}

TzfBaseTokenIndexCursorEngine::~TzfBaseTokenIndexCursorEngine() {
  bticeTokenFilterHubNew.reset();
  bticeTokenFilterHubOld.reset();
}

uint32_t TzfBaseTokenIndexCursorEngine::bticeUpdateIndex(TzfBaseTransaction*, const uint8_t*, int64_t, const uint8_t*,
                                                         int64_t) {
  return EzfBaseException::zfSetMessage(zfErrNotSupported, u"bticeUpdateIndex is not supported by %s",
                                        {UnicodeString(ClassName())});
}

// ---- TzfTokenIndexHubCursorEngine ----

ZF_FT_CONCRETE(TzfTokenIndexHubCursorEngine, TzfBaseTokenIndexCursorEngine)

std::unique_ptr<TzfTokenIndexHubCursorEngine> TzfTokenIndexHubCursorEngine::CreateHubFor(
    TzfFulltextIndexCursorEngine* aParent, TzfTokenIndexHubTableEngine& aTableEngine,
    TzfBaseTokenSourceCursorEngine* aTokenSourceOld, TzfBaseTokenSourceCursorEngine* aTokenSourceNew) {
  auto r = TzfBaseTokenIndexCursorEngine::CreateFor(aParent, aTableEngine, aTokenSourceOld, aTokenSourceNew);
  auto* hub = dynamic_cast<TzfTokenIndexHubCursorEngine*>(r.get());
  if (!hub) throw rtl::EInvalidCast(u"Invalid class typecast");
  r.release();
  return std::unique_ptr<TzfTokenIndexHubCursorEngine>(hub);
}

TzfTokenIndexHubCursorEngine::TzfTokenIndexHubCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                                           TzfBaseTokenIndexTableEngine& aTableEngine,
                                                           TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                                                           TzfBaseTokenSourceCursorEngine* aTokenSourceNew)
    : TzfBaseTokenIndexCursorEngine(aParent, aTableEngine, aTokenSourceOld, aTokenSourceNew),
      tihceTokenIndexHubTableEngine(&dynamic_cast<TzfTokenIndexHubTableEngine&>(aTableEngine)) {
  for (int32_t i = 0; i < tihceTokenIndexHubTableEngine->TokenIndexCount(); ++i) {
    tihceTokenIndexs.push_back(CreateFor(aParent, tihceTokenIndexHubTableEngine->TokenIndex(i), bticeTokenSourceOld,
                                         bticeTokenSourceNew));
    tihceTokenIndexs.back()->bticeParentTokenIndexHubCursorEngine = this;
  }
}

TzfTokenIndexHubCursorEngine::~TzfTokenIndexHubCursorEngine() {
  while (!tihceTokenIndexs.empty()) tihceTokenIndexs.pop_back();
}

uint32_t TzfTokenIndexHubCursorEngine::bticeUpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord,
                                                        int64_t aOldRefNr, const uint8_t* aNewRecord,
                                                        int64_t aNewRefNr) {
  for (auto& index : tihceTokenIndexs)
    if (const uint32_t r = index->bticeUpdateIndex(aTrans, aOldRecord, aOldRefNr, aNewRecord, aNewRefNr)) return r;
  return 0;
}

// ---- TzfBaseProcessingTokenIndexCursorEngine ----

ZF_FT_ABSTRACT(TzfBaseProcessingTokenIndexCursorEngine, TzfBaseTokenIndexCursorEngine, nullptr)

void TzfBaseProcessingTokenIndexCursorEngine::bpticeSetUp() {
  TzfLocaleDescriptor* locale = bticeTokenIndexTableEngine->btiteTokenIndexDescriptor->GetUsedLocaleDescriptor();
  const int32_t max = bpticeMaxTokenSize();
  auto truncate = PzfWideStringTransformer(RefPtr<TzfWideStringTruncateTransformer>::Create(std::max(1, max)));
  if (locale && locale->ldLocale != 0) {
    bpticeComparer = PzfWideStringComparer(RefPtr<TzfWideStringCompareStringWComparer>::Create(
        locale->ldLocale, bpticeCompareFlags() | static_cast<uint32_t>(locale->GetFlags())));
    bpticeTransformer = truncate;
  } else {
    bpticeComparer = PzfWideStringComparer(RefPtr<TzfWideStringByteComparer>::Create());
    bpticeTransformer = PzfWideStringTransformer(RefPtr<TzfWideStringTransformerHub>::Create(
        std::vector<PzfWideStringTransformer>{
            PzfWideStringTransformer(RefPtr<TzfWideStringPreComposeTransformer>::Create()), truncate}));
  }
}

void TzfBaseProcessingTokenIndexCursorEngine::bpticeFindLocationField() {
  TzfFulltextIndexDescriptor* index =
      bticeParentFulltextIndexCursorEngine->ficeFulltextIndexTableEngine->fiteFulltextIndexDescriptor;
  bpticeFieldsDescriptor = index->FindRelated<TzfFieldsDescriptor>();
  bpticeLocationField = index->LocationField();
}

bool TzfBaseProcessingTokenIndexCursorEngine::bpticeLocation(const uint8_t* aRecord, uint32_t& aLocation) const {
  aLocation = 0;
  if (!aRecord || !bpticeFieldsDescriptor || !bpticeLocationField) return false;
  const uint8_t* data = bpticeFieldsDescriptor->GetRecordFieldForFilter(bpticeLocationField->fdNumber, aRecord);
  if (!data) return false;
  aLocation = static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16) | static_cast<uint32_t>(data[3]) << 24;
  return true;
}

void TzfBaseProcessingTokenIndexCursorEngine::bpticeProcessList(TzfBaseTransaction* aTrans,
                                                                const TzfWideStringList* aList, bool aInsert,
                                                                int64_t aContext, int32_t aField) {
  if (!aList) return;
  for (int32_t i = 0; i < aList->Count(); ++i) bpticeProcessToken(aTrans, aList->Get(i), aInsert, aContext, aField);
}

void TzfBaseProcessingTokenIndexCursorEngine::bpticeProcessListDifference(TzfBaseTransaction* aTrans,
                                                                          const TzfWideStringList* aOld,
                                                                          const TzfWideStringList* aNew,
                                                                          int64_t aContext, int32_t aField) {
  if (!aOld || !aNew) {
    bpticeProcessList(aTrans, aOld, false, aContext, aField);
    bpticeProcessList(aTrans, aNew, true, aContext, aField);
    return;
  }
  int32_t i = 0, j = 0;
  while (i < aOld->Count() && j < aNew->Count()) {
    const int8_t c = bpticeComparer->CompareWideStrings(aOld->Get(i), aNew->Get(j));
    if (c < 0) {
      bpticeProcessToken(aTrans, aOld->Get(i++), false, aContext, aField);
    } else if (c > 0) {
      bpticeProcessToken(aTrans, aNew->Get(j++), true, aContext, aField);
    } else {
      ++i;
      ++j;
    }
  }
  for (; i < aOld->Count(); ++i) bpticeProcessToken(aTrans, aOld->Get(i), false, aContext, aField);
  for (; j < aNew->Count(); ++j) bpticeProcessToken(aTrans, aNew->Get(j), true, aContext, aField);
}

void TzfBaseProcessingTokenIndexCursorEngine::bpticeProcessDifference(TzfBaseTransaction* aTrans,
                                                                      const TzfUniqueTokenContainer& aOld,
                                                                      const TzfUniqueTokenContainer& aNew,
                                                                      int64_t aContext) {
  bpticeProcessListDifference(aTrans, aOld.utcCombined.get(), aNew.utcCombined.get(), aContext, -1);
  const int32_t highest = std::max(aOld.HighestField(), aNew.HighestField());
  if (highest > INT16_MAX) rtl::RaiseRangeError();
  for (int32_t f = 0; f <= highest; ++f)
    bpticeProcessListDifference(aTrans, aOld.utcFieldList(f), aNew.utcFieldList(f), aContext, f);
}

void TzfBaseProcessingTokenIndexCursorEngine::bpticeProcessContainer(TzfBaseTransaction* aTrans,
                                                                     const TzfUniqueTokenContainer& aContainer,
                                                                     bool aInsert, int64_t aContext) {
  bpticeProcessList(aTrans, aContainer.utcCombined.get(), aInsert, aContext, -1);
  if (aContainer.HighestField() > INT16_MAX) rtl::RaiseRangeError();
  for (int32_t f = 0; f <= aContainer.HighestField(); ++f)
    bpticeProcessList(aTrans, aContainer.utcFieldList(f), aInsert, aContext, f);
}

// ---- TzfBitArrayTokenIndexCursorEngine ----

ZF_FT_CONCRETE(TzfBitArrayTokenIndexCursorEngine, TzfBaseProcessingTokenIndexCursorEngine)

TzfBitArrayTokenIndexCursorEngine::TzfBitArrayTokenIndexCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                                                     TzfBaseTokenIndexTableEngine& aTableEngine,
                                                                     TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                                                                     TzfBaseTokenSourceCursorEngine* aTokenSourceNew)
    : TzfBaseProcessingTokenIndexCursorEngine(aParent, aTableEngine, aTokenSourceOld, aTokenSourceNew),
      baticeBitArrayTokenIndexTableEngine(&dynamic_cast<TzfBitArrayTokenIndexTableEngine&>(aTableEngine)) {
  const TzfBitArrayTokenIndexDescriptor& d = *baticeBitArrayTokenIndexTableEngine->batiteBitArrayTokenIndexDescriptor;
  baticePerFieldIndex = d.batidPerFieldIndex;
  baticePerLocationIndex = d.batidPerLocationIndex;
  baticeSegmentIndex = d.batidSegmentIndex;
  bpticeFindLocationField();
  if (baticePerFieldIndex || baticePerLocationIndex) {
    baticeIndexEngine = baticeBitArrayTokenIndexTableEngine->batiteIndexEngine;
    baticeReverseIndexEngine = baticeBitArrayTokenIndexTableEngine->batiteReverseIndexEngine;
    if (baticeIndexEngine || baticeReverseIndexEngine)
      baticeBitArrayStorageHandlerTableEngine =
          baticeBitArrayTokenIndexTableEngine->batiteBitArrayStorageHandlerTableEngine.get();
    if (baticeIndexEngine) {
      baticeIndexPath = baticeIndexEngine->CreateIndexPath();
      baticeKeyEngine = dynamic_cast<TzfBitArrayTokenKeyEngine*>(baticeIndexEngine->bieKeyEngine.get());
      if (!baticeKeyEngine) throw rtl::EInvalidCast(u"Invalid class typecast");
      baticeKeyBuffer = baticeKeyEngine->AllocKey();
    }
    if (baticeReverseIndexEngine) {
      baticeReverseIndexPath = baticeReverseIndexEngine->CreateIndexPath();
      baticeReverseKeyEngine = dynamic_cast<TzfBitArrayTokenKeyEngine*>(baticeReverseIndexEngine->bieKeyEngine.get());
      if (!baticeReverseKeyEngine) throw rtl::EInvalidCast(u"Invalid class typecast");
      baticeReverseKeyBuffer = baticeReverseKeyEngine->AllocKey();
    }
  }
  bpticeSetUp();
}

TzfBitArrayTokenIndexCursorEngine::~TzfBitArrayTokenIndexCursorEngine() {
  baticeIndexPath.reset();
  baticeReverseIndexPath.reset();
  if (baticeKeyBuffer) baticeKeyEngine->FreeKey(baticeKeyBuffer);
  if (baticeReverseKeyBuffer) baticeReverseKeyEngine->FreeKey(baticeReverseKeyBuffer);
}

int32_t TzfBitArrayTokenIndexCursorEngine::bpticeMaxTokenSize() const {
  if (baticeKeyEngine) return baticeKeyEngine->batkeMaxTokenSize;
  if (baticeReverseKeyEngine) return baticeReverseKeyEngine->batkeMaxTokenSize;
  return 0;
}

uint32_t TzfBitArrayTokenIndexCursorEngine::bticeUpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord,
                                                             int64_t, const uint8_t* aNewRecord, int64_t) {
  if (!baticeBitArrayStorageHandlerTableEngine) return 0;
  uint32_t oldLocation = 0, newLocation = 0;
  const bool hasOld = bpticeLocation(aOldRecord, oldLocation);
  const bool hasNew = bpticeLocation(aNewRecord, newLocation);
  std::unique_ptr<TzfUniqueTokenContainer> oldTokens, newTokens;
  if (hasOld)
    oldTokens = std::make_unique<TzfUniqueTokenContainer>(*bticeTokenSourceOld, bpticeComparer, bpticeTransformer,
                                                          baticePerLocationIndex, baticePerFieldIndex);
  if (hasNew)
    newTokens = std::make_unique<TzfUniqueTokenContainer>(*bticeTokenSourceNew, bpticeComparer, bpticeTransformer,
                                                          baticePerLocationIndex, baticePerFieldIndex);
  if (hasOld && hasNew && oldLocation == newLocation) {
    bpticeProcessDifference(aTrans, *oldTokens, *newTokens, oldLocation);
  } else {
    if (oldTokens) bpticeProcessContainer(aTrans, *oldTokens, false, oldLocation);
    if (newTokens) bpticeProcessContainer(aTrans, *newTokens, true, newLocation);
  }
  return 0;
}

bool TzfBitArrayTokenIndexCursorEngine::ProcessBit(TzfBaseTransaction* aTrans, TzfBaseIndexEngine* aIndex,
                                                   TzfBitArrayTokenKeyEngine* aKeyEngine, uint8_t* aKey,
                                                   TzfBaseIndexPath* aPath, TzfBaseIndexEngine* aOther,
                                                   TzfBitArrayTokenKeyEngine* aOtherKeyEngine, uint8_t* aOtherKey,
                                                   TzfBaseIndexPath* aOtherPath, uint16_t aSegment,
                                                   const TzfWideString& aToken, int16_t aField, uint32_t aBit,
                                                   bool aInsert) {
  TzfBaseIndicesEngine& indices =
      *baticeBitArrayTokenIndexTableEngine->btiteParentFulltextIndexTableEngine->fiteParentFulltextTableEngine
           ->ftteIndicesEngine;
  TzfBaseBitArrayStorageHandlerTableEngine& storage = *baticeBitArrayStorageHandlerTableEngine;
  aKeyEngine->ClearKey(aKey);
  aKeyEngine->InternalBuildKey(aSegment, aToken, aField, aKey);
  if (aOther) {
    aOtherKeyEngine->ClearKey(aOtherKey);
    aOtherKeyEngine->InternalBuildKey(aSegment, aToken, aField, aOtherKey);
  }
  TzfIndexNodeStore& store = StoreOf(indices, aTrans, *aIndex);
  const bool found = aIndex->FindKey(store, aKey, 0, 0, 0, *aPath, skaEqualFirst, nullptr);
  if (!found) {
    if (!aInsert) KeyViolation();
    const int64_t blob = storage.CreateNew(aTrans, aBit);
    if (!aIndex->InsertKey(StoreOf(indices, aTrans, *aIndex), aKey, blob, aPath)) KeyViolation();
    if (aOther && !aOther->InsertKey(StoreOf(indices, aTrans, *aOther), aOtherKey, blob, aOtherPath)) KeyViolation();
    return true;
  }
  const int64_t blob = aPath->RefNr;
  if (aInsert) {
    storage.SetBit(aTrans, blob, aBit);
    return false;
  }
  if (!storage.ClearBit(aTrans, blob, aBit)) return false;
  if (!aIndex->DeleteKey(StoreOf(indices, aTrans, *aIndex), aKey, blob, aPath)) KeyViolation();
  if (aOther) {
    TzfIndexNodeStore& other = StoreOf(indices, aTrans, *aOther);
    if (!aOther->FindKey(other, aOtherKey, 0, 0, 0, *aOtherPath, skaEqualFirst, nullptr)) KeyViolation();
    if (!aOther->DeleteKey(StoreOf(indices, aTrans, *aOther), aOtherKey, aOtherPath->RefNr, aOtherPath))
      KeyViolation();
  }
  return true;
}

void TzfBitArrayTokenIndexCursorEngine::bpticeProcessToken(TzfBaseTransaction* aTrans, const TzfWideString& aToken,
                                                           bool aInsert, int64_t aContext, int32_t aField) {
  const auto location = static_cast<uint32_t>(aContext);
  uint16_t segment = static_cast<uint16_t>(location >> 19);
  uint32_t bit = location & 0x7FFFF;
  if (aField < INT16_MIN || aField > INT16_MAX) rtl::RaiseRangeError();
  const auto field = static_cast<int16_t>(aField);
  // A token the keys cannot hold (a lone high surrogate) is left out on both sides alike.
  if (zfTokenKeyUnits(aToken, bpticeMaxTokenSize()) <= 0) return;
  for (;;) {
    bool again = false;
    if (baticeIndexEngine)
      again = ProcessBit(aTrans, baticeIndexEngine, baticeKeyEngine, baticeKeyBuffer, baticeIndexPath.get(),
                         baticeReverseIndexEngine, baticeReverseKeyEngine, baticeReverseKeyBuffer,
                         baticeReverseIndexPath.get(), segment, aToken, field, bit, aInsert);
    else if (baticeReverseIndexEngine)
      again = ProcessBit(aTrans, baticeReverseIndexEngine, baticeReverseKeyEngine, baticeReverseKeyBuffer,
                         baticeReverseIndexPath.get(), nullptr, nullptr, nullptr, nullptr, segment, aToken, field, bit,
                         aInsert);
    // The segment's array came or went: its bit in the token's array of segment $FFFF follows.
    if (!again || !baticeSegmentIndex || segment == kSegmentIndexSegment) return;
    bit = segment;
    segment = kSegmentIndexSegment;
  }
}

// ---- TzfMainIndexTokenIndexCursorEngine ----

ZF_FT_CONCRETE(TzfMainIndexTokenIndexCursorEngine, TzfBaseProcessingTokenIndexCursorEngine)

TzfMainIndexTokenIndexCursorEngine::TzfMainIndexTokenIndexCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                                                       TzfBaseTokenIndexTableEngine& aTableEngine,
                                                                       TzfBaseTokenSourceCursorEngine* aTokenSourceOld,
                                                                       TzfBaseTokenSourceCursorEngine* aTokenSourceNew)
    : TzfBaseProcessingTokenIndexCursorEngine(aParent, aTableEngine, aTokenSourceOld, aTokenSourceNew),
      miticeMainIndexTokenIndexTableEngine(&dynamic_cast<TzfMainIndexTokenIndexTableEngine&>(aTableEngine)),
      miticeIndexEngine(miticeMainIndexTokenIndexTableEngine->mititeMainIndexEngine) {
  miticeIndexPath = miticeIndexEngine->CreateIndexPath();
  miticeKeyEngine = dynamic_cast<TzfMainIndexTokenKeyEngine*>(miticeIndexEngine->bieKeyEngine.get());
  if (!miticeKeyEngine) throw rtl::EInvalidCast(u"Invalid class typecast");
  miticeKeyBuffer = miticeKeyEngine->AllocKey();
  if (miticeKeyEngine->mitkeIncludeLocation) bpticeFindLocationField();
  bpticeSetUp();
}

TzfMainIndexTokenIndexCursorEngine::~TzfMainIndexTokenIndexCursorEngine() {
  miticeIndexPath.reset();
  if (miticeKeyBuffer) miticeKeyEngine->FreeKey(miticeKeyBuffer);
}

uint32_t TzfMainIndexTokenIndexCursorEngine::bpticeCompareFlags() const {
  return miticeMainIndexTokenIndexTableEngine->mititeMainIndexTokenIndexDescriptor->mitidIgnoreCase ? 1u : 0u;
}

int32_t TzfMainIndexTokenIndexCursorEngine::bpticeMaxTokenSize() const { return miticeKeyEngine->mitkeMaxTokenSize; }

void TzfMainIndexTokenIndexCursorEngine::bpticeProcessToken(TzfBaseTransaction* aTrans, const TzfWideString& aToken,
                                                            bool aInsert, int64_t aContext, int32_t) {
  if (zfTokenKeyUnits(aToken, miticeKeyEngine->mitkeMaxTokenSize) <= 0) return;
  miticeKeyEngine->ClearKey(miticeKeyBuffer);
  miticeKeyEngine->InternalBuildKey(aToken, miticeCurrentLocation, miticeKeyBuffer);
  TzfBaseIndicesEngine& indices =
      *miticeMainIndexTokenIndexTableEngine->btiteParentFulltextIndexTableEngine->fiteParentFulltextTableEngine
           ->ftteMainIndicesEngine;
  TzfIndexNodeStore& store = StoreOf(indices, aTrans, *miticeIndexEngine);
  const bool done = aInsert ? miticeIndexEngine->InsertKey(store, miticeKeyBuffer, aContext, miticeIndexPath.get())
                            : miticeIndexEngine->DeleteKey(store, miticeKeyBuffer, aContext, miticeIndexPath.get());
  if (!done) KeyViolation();
}

uint32_t TzfMainIndexTokenIndexCursorEngine::bticeUpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord,
                                                              int64_t aOldRefNr, const uint8_t* aNewRecord,
                                                              int64_t aNewRefNr) {
  bool hasOld = aOldRefNr != 0 && aOldRecord;
  bool hasNew = aNewRefNr != 0 && aNewRecord;
  if (TzfBaseFilterEngine* filter = miticeKeyEngine->bkeFilter.get()) {
    if (hasOld && !filter->MatchesBuffer(aOldRecord)) hasOld = false;
    if (hasNew && !filter->MatchesBuffer(aNewRecord)) hasNew = false;
  }
  uint32_t oldLocation = 0, newLocation = 0;
  if (miticeKeyEngine->mitkeIncludeLocation) {
    if (hasOld) bpticeLocation(aOldRecord, oldLocation);
    if (hasNew) bpticeLocation(aNewRecord, newLocation);
  }
  std::unique_ptr<TzfUniqueTokenContainer> oldTokens, newTokens;
  if (hasOld)
    oldTokens = std::make_unique<TzfUniqueTokenContainer>(*bticeTokenSourceOld, bpticeComparer, bpticeTransformer, true,
                                                          false);
  if (hasNew)
    newTokens = std::make_unique<TzfUniqueTokenContainer>(*bticeTokenSourceNew, bpticeComparer, bpticeTransformer, true,
                                                          false);
  if (hasOld && hasNew && aOldRefNr == aNewRefNr && oldLocation == newLocation) {
    miticeCurrentLocation = newLocation;
    bpticeProcessDifference(aTrans, *oldTokens, *newTokens, aNewRefNr);
  } else {
    if (oldTokens) {
      miticeCurrentLocation = oldLocation;
      bpticeProcessContainer(aTrans, *oldTokens, false, aOldRefNr);
    }
    if (newTokens) {
      miticeCurrentLocation = newLocation;
      bpticeProcessContainer(aTrans, *newTokens, true, aNewRefNr);
    }
  }
  return 0;
}

// ---- Unit ----

namespace {

const TzfRegisterableClass* const* TokenIndexEngineClasses() {
  static const TzfRegisterableClass* const classes[] = {&TzfTokenIndexHubCursorEngine::ClassInfo(),
                                                        &TzfBitArrayTokenIndexCursorEngine::ClassInfo(),
                                                        &TzfMainIndexTokenIndexCursorEngine::ClassInfo(), nullptr};
  return classes;
}

void Start() { zfRegisterFulltextEngines(TokenIndexEngineClasses()); }
void Stop() { zfUnregisterFulltextEngines(TokenIndexEngineClasses()); }

}  // namespace

rtl::TUnitInit& zfseFulltextTokenIndexUnit() {
  static rtl::TUnitInit unit("zfseFulltextTokenIndex", &Start, &Stop);
  return unit;
}

}  // namespace zf
