#include "index/zfseFulltextEngineTable.h"

#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "index/zfseIndicesEngineKind.h"
#include "index/zfsrIndexEngineBase.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrBlock.h"

namespace zf {

namespace {


template <class T>
T& ItemAt(const std::vector<std::unique_ptr<T>>& aList, int32_t aIndex) {
  if (aIndex < 0 || aIndex >= static_cast<int32_t>(aList.size())) rtl::RaiseRangeError();
  return *aList[static_cast<size_t>(aIndex)];
}

}  // namespace

// ---- TzfFulltextTableEngine ----

ZF_FT_CONCRETE(TzfFulltextTableEngine, TzfBaseFulltextTableEngine)

TzfFulltextTableEngine::TzfFulltextTableEngine(TzfFulltextDescriptor& aDescriptor, const TzfBlockAccessList& aFiles,
                                               TzfBaseIndicesEngine* aMainIndicesEngine, TzfBaseTransaction* aTrans)
    : ftteFulltextDescriptor(&aDescriptor), ftteFiles(aFiles), ftteMainIndicesEngine(aMainIndicesEngine) {
  if (aDescriptor.ftdIndicesDescriptor)
    ftteIndicesEngine = TzfBaseIndicesEngine::CreateEngine(aDescriptor.ftdIndicesDescriptor.get(), aFiles, aTrans, false);
  if (aDescriptor.ftdBlobDescriptor)
    ftteBlobEngine = TzfBaseBlobEngine::CreateEngine(aDescriptor.ftdBlobDescriptor.get(), aFiles, aTrans);
  for (const auto& index : aDescriptor.ftdFulltextIndices)
    ftteFulltextIndices.push_back(TzfFulltextIndexTableEngine::CreateFor(this, *index, aTrans));
}

TzfFulltextTableEngine::~TzfFulltextTableEngine() {
  while (!ftteFulltextIndices.empty()) ftteFulltextIndices.pop_back();
  ftteIndicesEngine.reset();
  ftteBlobEngine.reset();
}

void TzfFulltextTableEngine::Rollback(TzfBaseTransaction* aTrans) {
  if (ftteBlobEngine) ftteBlobEngine->Rollback(aTrans);
}

// ---- TzfFulltextIndexTableEngine ----

ZF_FT_ENGINE_CLASS(TzfFulltextIndexTableEngine, TzfBaseRegisterableEngine, &zfFamilyList<TzfFulltextIndexTableEngine>,
                   &TClass::template New<TzfFulltextIndexTableEngine>)

std::unique_ptr<TzfFulltextIndexTableEngine> TzfFulltextIndexTableEngine::CreateFor(
    TzfFulltextTableEngine* aParent, TzfFulltextIndexDescriptor& aDescriptor, TzfBaseTransaction* aTrans) {
  return zfMakeFulltextEngine<TzfFulltextIndexTableEngine>(u"FulltextIndex", aDescriptor.ClassName(), u"Descriptor",
                                                           u"TableEngine", aParent, aDescriptor, aTrans);
}

TzfFulltextIndexTableEngine::TzfFulltextIndexTableEngine(TzfFulltextTableEngine* aParent,
                                                         TzfFulltextIndexDescriptor& aDescriptor,
                                                         TzfBaseTransaction* aTrans)
    : fiteParentFulltextTableEngine(aParent), fiteFulltextIndexDescriptor(&aDescriptor) {
  auto extractors = TzfBaseTokenExtractorTableEngine::CreateFor(this, *aDescriptor.fidTokenExtractorHub, aTrans);
  fiteTokenExtractorHub.reset(dynamic_cast<TzfTokenExtractorHubTableEngine*>(extractors.get()));
  if (!fiteTokenExtractorHub) throw rtl::EInvalidCast(u"Invalid class typecast");
  extractors.release();
  fiteTokenFilterHub = TzfTokenFilterHubTableEngine::CreateHubFor(this, *aDescriptor.fidTokenFilterHub, aTrans);
  auto indexes = TzfBaseTokenIndexTableEngine::CreateFor(this, *aDescriptor.fidTokenIndexHub, aTrans);
  fiteTokenIndexHub.reset(dynamic_cast<TzfTokenIndexHubTableEngine*>(indexes.get()));
  if (!fiteTokenIndexHub) throw rtl::EInvalidCast(u"Invalid class typecast");
  indexes.release();
}

TzfFulltextIndexTableEngine::~TzfFulltextIndexTableEngine() {
  fiteTokenIndexHub.reset();
  fiteTokenFilterHub.reset();
  fiteTokenExtractorHub.reset();
}

int32_t TzfFulltextIndexTableEngine::TokenExtractorCount() const { return fiteTokenExtractorHub->TokenExtractorCount(); }
int32_t TzfFulltextIndexTableEngine::TokenFilterCount() const { return fiteTokenFilterHub->TokenFilterCount(); }
int32_t TzfFulltextIndexTableEngine::TokenIndexCount() const { return fiteTokenIndexHub->TokenIndexCount(); }

// ---- Token extractors ----

ZF_FT_ABSTRACT(TzfBaseTokenExtractorTableEngine, TzfBaseRegisterableEngine,
               &zfFamilyList<TzfBaseTokenExtractorTableEngine>)

std::unique_ptr<TzfBaseTokenExtractorTableEngine> TzfBaseTokenExtractorTableEngine::CreateFor(
    TzfFulltextIndexTableEngine* aParent, TzfBaseTokenExtractorDescriptor& aDescriptor, TzfBaseTransaction* aTrans) {
  return zfMakeFulltextEngine<TzfBaseTokenExtractorTableEngine>(u"TokenExtractor", aDescriptor.ClassName(),
                                                                u"Descriptor", u"TableEngine", aParent, aDescriptor,
                                                                aTrans);
}

std::unique_ptr<TzfBaseTokenExtractorTableEngine> TzfBaseTokenExtractorTableEngine::CreateFor(
    TzfTokenExtractorHubTableEngine* aParent, TzfBaseTokenExtractorDescriptor& aDescriptor,
    TzfBaseTransaction* aTrans) {
  auto r = CreateFor(aParent->btsteParentFulltextIndexTableEngine, aDescriptor, aTrans);
  r->bteteParentTokenExtractorHubTableEngine = aParent;
  return r;
}

TzfBaseTokenExtractorTableEngine::TzfBaseTokenExtractorTableEngine(TzfFulltextIndexTableEngine* aParent,
                                                                   TzfBaseTokenExtractorDescriptor& aDescriptor,
                                                                   TzfBaseTransaction* aTrans)
    : TzfBaseTokenSourceTableEngine(aParent), bteteTokenExtractorDescriptor(&aDescriptor) {
  if (aDescriptor.btedTokenFilterHub->Count() > 0)
    bteteTokenFilterHub = TzfTokenFilterHubTableEngine::CreateHubFor(aParent, *aDescriptor.btedTokenFilterHub, aTrans);
}

TzfBaseTokenExtractorTableEngine::~TzfBaseTokenExtractorTableEngine() = default;

int32_t TzfBaseTokenExtractorTableEngine::TokenFilterCount() const {
  return bteteTokenFilterHub ? bteteTokenFilterHub->TokenFilterCount() : 0;
}

ZF_FT_CONCRETE(TzfTokenExtractorHubTableEngine, TzfBaseTokenExtractorTableEngine)

TzfTokenExtractorHubTableEngine::TzfTokenExtractorHubTableEngine(TzfFulltextIndexTableEngine* aParent,
                                                                 TzfBaseTokenExtractorDescriptor& aDescriptor,
                                                                 TzfBaseTransaction* aTrans)
    : TzfBaseTokenExtractorTableEngine(aParent, aDescriptor, aTrans),
      tehteTokenExtractorHubDescriptor(&dynamic_cast<TzfTokenExtractorHubDescriptor&>(aDescriptor)) {
  for (int32_t i = 0; i < tehteTokenExtractorHubDescriptor->Count(); ++i)
    tehteTokenExtractors.push_back(CreateFor(this, *tehteTokenExtractorHubDescriptor->Item(i), aTrans));
}

TzfTokenExtractorHubTableEngine::~TzfTokenExtractorHubTableEngine() {
  while (!tehteTokenExtractors.empty()) tehteTokenExtractors.pop_back();
}

TzfBaseTokenExtractorTableEngine& TzfTokenExtractorHubTableEngine::TokenExtractor(int32_t aIndex) const {
  return ItemAt(tehteTokenExtractors, aIndex);
}

ZF_FT_CONCRETE(TzfFieldTokenExtractorTableEngine, TzfBaseTokenExtractorTableEngine)

TzfFieldTokenExtractorTableEngine::TzfFieldTokenExtractorTableEngine(TzfFulltextIndexTableEngine* aParent,
                                                                     TzfBaseTokenExtractorDescriptor& aDescriptor,
                                                                     TzfBaseTransaction* aTrans)
    : TzfBaseTokenExtractorTableEngine(aParent, aDescriptor, aTrans),
      fteteFieldTokenExtractorDescriptor(&dynamic_cast<TzfFieldTokenExtractorDescriptor&>(aDescriptor)) {}

// ---- Token filters ----

ZF_FT_ABSTRACT(TzfBaseTokenFilterTableEngine, TzfBaseRegisterableEngine, &zfFamilyList<TzfBaseTokenFilterTableEngine>)

std::unique_ptr<TzfBaseTokenFilterTableEngine> TzfBaseTokenFilterTableEngine::CreateFor(
    TzfFulltextIndexTableEngine* aParent, TzfBaseTokenFilterDescriptor& aDescriptor, TzfBaseTransaction* aTrans) {
  return zfMakeFulltextEngine<TzfBaseTokenFilterTableEngine>(u"TokenFilter", aDescriptor.ClassName(), u"Descriptor",
                                                             u"TableEngine", aParent, aDescriptor, aTrans);
}

std::unique_ptr<TzfBaseTokenFilterTableEngine> TzfBaseTokenFilterTableEngine::CreateFor(
    TzfTokenFilterHubTableEngine* aParent, TzfBaseTokenFilterDescriptor& aDescriptor, TzfBaseTransaction* aTrans) {
  auto r = CreateFor(aParent->btsteParentFulltextIndexTableEngine, aDescriptor, aTrans);
  r->btfteParentTokenFilterHubTableEngine = aParent;
  return r;
}

ZF_FT_CONCRETE(TzfTokenFilterHubTableEngine, TzfBaseTokenFilterTableEngine)

std::unique_ptr<TzfTokenFilterHubTableEngine> TzfTokenFilterHubTableEngine::CreateHubFor(
    TzfFulltextIndexTableEngine* aParent, TzfTokenFilterHubDescriptor& aDescriptor, TzfBaseTransaction* aTrans) {
  auto r = TzfBaseTokenFilterTableEngine::CreateFor(aParent, aDescriptor, aTrans);
  auto* hub = dynamic_cast<TzfTokenFilterHubTableEngine*>(r.get());
  if (!hub) throw rtl::EInvalidCast(u"Invalid class typecast");
  r.release();
  return std::unique_ptr<TzfTokenFilterHubTableEngine>(hub);
}

TzfTokenFilterHubTableEngine::TzfTokenFilterHubTableEngine(TzfFulltextIndexTableEngine* aParent,
                                                           TzfBaseTokenFilterDescriptor& aDescriptor,
                                                           TzfBaseTransaction* aTrans)
    : TzfBaseTokenFilterTableEngine(aParent, aDescriptor, aTrans),
      tfhteTokenFilterHubDescriptor(&dynamic_cast<TzfTokenFilterHubDescriptor&>(aDescriptor)) {
  for (int32_t i = 0; i < tfhteTokenFilterHubDescriptor->Count(); ++i)
    tfhteTokenFilters.push_back(CreateFor(this, *tfhteTokenFilterHubDescriptor->Item(i), aTrans));
}

TzfTokenFilterHubTableEngine::~TzfTokenFilterHubTableEngine() {
  while (!tfhteTokenFilters.empty()) tfhteTokenFilters.pop_back();
}

TzfBaseTokenFilterTableEngine& TzfTokenFilterHubTableEngine::TokenFilter(int32_t aIndex) const {
  return ItemAt(tfhteTokenFilters, aIndex);
}

ZF_FT_ABSTRACT(TzfBaseSeparatorTokenFilterTableEngine, TzfBaseTokenFilterTableEngine, nullptr)
ZF_FT_CONCRETE(TzfWideCharSeparatorTokenFilterTableEngine, TzfBaseSeparatorTokenFilterTableEngine)
ZF_FT_CONCRETE(TzfCategorySeparatorTokenFilterTableEngine, TzfBaseSeparatorTokenFilterTableEngine)
ZF_FT_ABSTRACT(TzfBaseLocaleMappingTokenFilterTableEngine, TzfBaseTokenFilterTableEngine, nullptr)
ZF_FT_CONCRETE(TzfLowercaseLocaleMappingTokenFilterTableEngine, TzfBaseLocaleMappingTokenFilterTableEngine)
ZF_FT_CONCRETE(TzfUppercaseLocaleMappingTokenFilterTableEngine, TzfBaseLocaleMappingTokenFilterTableEngine)
ZF_FT_CONCRETE(TzfCustomLocaleMappingTokenFilterTableEngine, TzfBaseLocaleMappingTokenFilterTableEngine)
ZF_FT_ABSTRACT(TzfBaseFoldStringTokenFilterTableEngine, TzfBaseTokenFilterTableEngine, nullptr)
ZF_FT_CONCRETE(TzfPreComposeFoldStringTokenFilterTableEngine, TzfBaseFoldStringTokenFilterTableEngine)
ZF_FT_CONCRETE(TzfDecomposeFoldStringTokenFilterTableEngine, TzfBaseFoldStringTokenFilterTableEngine)
ZF_FT_CONCRETE(TzfCustomFoldStringTokenFilterTableEngine, TzfBaseFoldStringTokenFilterTableEngine)

// ---- Token indexes ----

ZF_FT_ABSTRACT(TzfBaseTokenIndexTableEngine, TzfBaseRegisterableEngine, &zfFamilyList<TzfBaseTokenIndexTableEngine>)

std::unique_ptr<TzfBaseTokenIndexTableEngine> TzfBaseTokenIndexTableEngine::CreateFor(
    TzfFulltextIndexTableEngine* aParent, TzfBaseTokenIndexDescriptor& aDescriptor, TzfBaseTransaction* aTrans) {
  return zfMakeFulltextEngine<TzfBaseTokenIndexTableEngine>(u"TokenIndex", aDescriptor.ClassName(), u"Descriptor",
                                                            u"TableEngine", aParent, aDescriptor, aTrans);
}

std::unique_ptr<TzfBaseTokenIndexTableEngine> TzfBaseTokenIndexTableEngine::CreateFor(
    TzfTokenIndexHubTableEngine* aParent, TzfBaseTokenIndexDescriptor& aDescriptor, TzfBaseTransaction* aTrans) {
  auto r = CreateFor(aParent->btiteParentFulltextIndexTableEngine, aDescriptor, aTrans);
  r->btiteParentTokenIndexHubTableEngine = aParent;
  return r;
}

TzfBaseTokenIndexTableEngine::TzfBaseTokenIndexTableEngine(TzfFulltextIndexTableEngine* aParent,
                                                           TzfBaseTokenIndexDescriptor& aDescriptor,
                                                           TzfBaseTransaction* aTrans)
    : btiteParentFulltextIndexTableEngine(aParent), btiteTokenIndexDescriptor(&aDescriptor) {
  if (aDescriptor.btidTokenFilterHub->Count() > 0)
    btiteTokenFilterHub = TzfTokenFilterHubTableEngine::CreateHubFor(aParent, *aDescriptor.btidTokenFilterHub, aTrans);
}

TzfBaseTokenIndexTableEngine::~TzfBaseTokenIndexTableEngine() = default;

int32_t TzfBaseTokenIndexTableEngine::TokenFilterCount() const {
  return btiteTokenFilterHub ? btiteTokenFilterHub->TokenFilterCount() : 0;
}

ZF_FT_CONCRETE(TzfTokenIndexHubTableEngine, TzfBaseTokenIndexTableEngine)

TzfTokenIndexHubTableEngine::TzfTokenIndexHubTableEngine(TzfFulltextIndexTableEngine* aParent,
                                                         TzfBaseTokenIndexDescriptor& aDescriptor,
                                                         TzfBaseTransaction* aTrans)
    : TzfBaseTokenIndexTableEngine(aParent, aDescriptor, aTrans),
      tihteTokenIndexHubDescriptor(&dynamic_cast<TzfTokenIndexHubDescriptor&>(aDescriptor)) {
  for (int32_t i = 0; i < tihteTokenIndexHubDescriptor->Count(); ++i)
    tihteTokenIndexs.push_back(CreateFor(this, *tihteTokenIndexHubDescriptor->Item(i), aTrans));
}

TzfTokenIndexHubTableEngine::~TzfTokenIndexHubTableEngine() {
  while (!tihteTokenIndexs.empty()) tihteTokenIndexs.pop_back();
}

TzfBaseTokenIndexTableEngine& TzfTokenIndexHubTableEngine::TokenIndex(int32_t aIndex) const {
  return ItemAt(tihteTokenIndexs, aIndex);
}

ZF_FT_CONCRETE(TzfBitArrayTokenIndexTableEngine, TzfBaseTokenIndexTableEngine)

TzfBitArrayTokenIndexTableEngine::TzfBitArrayTokenIndexTableEngine(TzfFulltextIndexTableEngine* aParent,
                                                                   TzfBaseTokenIndexDescriptor& aDescriptor,
                                                                   TzfBaseTransaction* aTrans)
    : TzfBaseTokenIndexTableEngine(aParent, aDescriptor, aTrans),
      batiteBitArrayTokenIndexDescriptor(&dynamic_cast<TzfBitArrayTokenIndexDescriptor&>(aDescriptor)) {
  batiteBitArrayStorageHandlerTableEngine = TzfBaseBitArrayStorageHandlerTableEngine::CreateFor(
      this, batiteBitArrayTokenIndexDescriptor->batidBitArrayStorageHandler.get(), aTrans);
  TzfBaseIndicesEngine* indices = aParent->fiteParentFulltextTableEngine->ftteIndicesEngine.get();
  if (TzfIndexDescriptor* d = batiteBitArrayTokenIndexDescriptor->IndexDescriptor()) {
    if (!indices) rtl::RaiseRangeError();
    batiteIndexEngine = &indices->GetIndexEngine(d->idNumber);
  }
  if (TzfIndexDescriptor* d = batiteBitArrayTokenIndexDescriptor->ReverseIndexDescriptor()) {
    if (!indices) rtl::RaiseRangeError();
    batiteReverseIndexEngine = &indices->GetIndexEngine(d->idNumber);
  }
}

TzfBitArrayTokenIndexTableEngine::~TzfBitArrayTokenIndexTableEngine() = default;

ZF_FT_CONCRETE(TzfMainIndexTokenIndexTableEngine, TzfBaseTokenIndexTableEngine)

TzfMainIndexTokenIndexTableEngine::TzfMainIndexTokenIndexTableEngine(TzfFulltextIndexTableEngine* aParent,
                                                                     TzfBaseTokenIndexDescriptor& aDescriptor,
                                                                     TzfBaseTransaction* aTrans)
    : TzfBaseTokenIndexTableEngine(aParent, aDescriptor, aTrans),
      mititeMainIndexTokenIndexDescriptor(&dynamic_cast<TzfMainIndexTokenIndexDescriptor&>(aDescriptor)) {
  TzfBaseIndicesEngine* main = aParent->fiteParentFulltextTableEngine->ftteMainIndicesEngine;
  if (!main) throw EzfBaseFulltextEngineException(zfErrNoSuchIndex);
  mititeMainIndexEngine = &main->GetIndexEngine(mititeMainIndexTokenIndexDescriptor->mitidMainIndexNumber);
}

// ---- Bit-array storage ----

ZF_FT_ABSTRACT(TzfBaseBitArrayStorageHandlerTableEngine, TzfBaseRegisterableEngine,
               &zfFamilyList<TzfBaseBitArrayStorageHandlerTableEngine>)

std::unique_ptr<TzfBaseBitArrayStorageHandlerTableEngine> TzfBaseBitArrayStorageHandlerTableEngine::CreateFor(
    TzfBitArrayTokenIndexTableEngine* aParent, TzfBaseBitArrayStorageHandlerDescriptor* aDescriptor,
    TzfBaseTransaction* aTrans) {
  if (!aDescriptor) return nullptr;
  return zfMakeFulltextEngine<TzfBaseBitArrayStorageHandlerTableEngine>(
      u"BitArrayStorageHandler", aDescriptor->ClassName(), u"Descriptor", u"TableEngine", aParent, *aDescriptor, aTrans);
}

ZF_FT_CONCRETE(TzfSimpleBitArrayStorageHandlerTableEngine, TzfBaseBitArrayStorageHandlerTableEngine)

TzfSimpleBitArrayStorageHandlerTableEngine::TzfSimpleBitArrayStorageHandlerTableEngine(
    TzfBitArrayTokenIndexTableEngine* aParent, TzfBaseBitArrayStorageHandlerDescriptor& aDescriptor,
    TzfBaseTransaction*)
    : TzfBaseBitArrayStorageHandlerTableEngine(aDescriptor),
      sbashBlobEngine(aParent->btiteParentFulltextIndexTableEngine->fiteParentFulltextTableEngine->ftteBlobEngine.get()) {
  if (!sbashBlobEngine) throw EzfSimpleBitArrayStorageHandlerTableEngineException(zfErrInvalidDesc);
}

namespace {
[[noreturn]] void KeyViolation() { throw EzfSimpleBitArrayStorageHandlerTableEngineException(zfErrKeyViol); }
}  // namespace

uint32_t TzfSimpleBitArrayStorageHandlerTableEngine::Length(TzfBaseTransaction* aTrans, int64_t aRefNr) {
  uint32_t length = 0;
  try {
    if (sbashBlobEngine->GetBlobLength(aTrans, aRefNr, {}, length) != 0) KeyViolation();
  } catch (const EzfSimpleBitArrayStorageHandlerTableEngineException&) {
    throw;
  } catch (const std::exception&) {
    KeyViolation();
  }
  return length;
}

std::vector<uint8_t> TzfSimpleBitArrayStorageHandlerTableEngine::ReadBytes(TzfBaseTransaction* aTrans,
                                                                          int64_t aRefNr, uint32_t aOffset,
                                                                          uint32_t aLen) {
  TzfMemoryStream ms;
  try {
    if (sbashBlobEngine->Read(aTrans, aRefNr, aOffset, aLen, {}, ms) != 0) KeyViolation();
  } catch (const EzfSimpleBitArrayStorageHandlerTableEngineException&) {
    throw;
  } catch (const std::exception&) {
    KeyViolation();
  }
  if (ms.Size() != static_cast<int64_t>(aLen)) KeyViolation();
  const auto* p = static_cast<const uint8_t*>(ms.Memory());
  return std::vector<uint8_t>(p, p + aLen);
}

uint8_t TzfSimpleBitArrayStorageHandlerTableEngine::ReadByte(TzfBaseTransaction* aTrans, int64_t aRefNr,
                                                             uint32_t aOffset) {
  return ReadBytes(aTrans, aRefNr, aOffset, 1)[0];
}

uint32_t TzfSimpleBitArrayStorageHandlerTableEngine::ReadCount(TzfBaseTransaction* aTrans, int64_t aRefNr) {
  return zfGetLE32(ReadBytes(aTrans, aRefNr, 0, 4).data());
}

void TzfSimpleBitArrayStorageHandlerTableEngine::WriteCount(TzfBaseTransaction* aTrans, int64_t aRefNr,
                                                            uint32_t aCount) {
  uint8_t c[4];
  zfPutLE32(c, aCount);
  sbashBlobEngine->Write(aTrans, aRefNr, 0, 4, c);
}

int64_t TzfSimpleBitArrayStorageHandlerTableEngine::CreateNew(TzfBaseTransaction* aTrans, uint32_t aBit) {
  const uint32_t b = aBit >> 3;
  std::vector<uint8_t> bytes(4 + static_cast<size_t>(b) + 1, 0);
  bytes[0] = 1;
  bytes[4 + b] = static_cast<uint8_t>(1u << (aBit & 7));
  int64_t blob = 0;
  sbashBlobEngine->AddBlob(aTrans, blob);
  try {
    sbashBlobEngine->Write(aTrans, blob, 0, static_cast<uint32_t>(bytes.size()), bytes.data());
  } catch (...) {
    sbashBlobEngine->DeleteBlob(aTrans, blob);
    throw;
  }
  return blob;
}

void TzfSimpleBitArrayStorageHandlerTableEngine::SetBit(TzfBaseTransaction* aTrans, int64_t aRefNr, uint32_t aBit) {
  const uint32_t p = (aBit >> 3) + 4;
  const uint8_t m = static_cast<uint8_t>(1u << (aBit & 7));
  const uint32_t length = Length(aTrans, aRefNr);
  if (length < 4) KeyViolation();
  uint8_t byte = 0;
  if (p < length) {
    byte = ReadByte(aTrans, aRefNr, p);
    if (byte & m) KeyViolation();
  } else if (p > length) {
    const std::vector<uint8_t> zeros(p - length, 0);
    sbashBlobEngine->Write(aTrans, aRefNr, length, static_cast<uint32_t>(zeros.size()), zeros.data());
  }
  byte = static_cast<uint8_t>(byte | m);
  sbashBlobEngine->Write(aTrans, aRefNr, p, 1, &byte);
  WriteCount(aTrans, aRefNr, ReadCount(aTrans, aRefNr) + 1);
}

bool TzfSimpleBitArrayStorageHandlerTableEngine::ClearBit(TzfBaseTransaction* aTrans, int64_t aRefNr, uint32_t aBit) {
  const uint32_t p = (aBit >> 3) + 4;
  const uint8_t m = static_cast<uint8_t>(1u << (aBit & 7));
  if (Length(aTrans, aRefNr) <= p) KeyViolation();
  // The bit is looked at before anything changes: clearing a bit that is not set must neither
  // drop the whole array (count 1) nor leave a lowered count behind.
  uint8_t byte = ReadByte(aTrans, aRefNr, p);
  if (!(byte & m)) KeyViolation();
  const uint32_t count = ReadCount(aTrans, aRefNr);
  if (count <= 1) {
    sbashBlobEngine->DeleteBlob(aTrans, aRefNr);
    return true;
  }
  WriteCount(aTrans, aRefNr, count - 1);
  byte = static_cast<uint8_t>(byte & ~m);
  sbashBlobEngine->Write(aTrans, aRefNr, p, 1, &byte);
  return false;
}

// ---- Unit ----

namespace {

const TzfRegisterableClass* const* TableEngineClasses() {
  static const TzfRegisterableClass* const classes[] = {
      &TzfFulltextTableEngine::ClassInfo(),
      &TzfFulltextIndexTableEngine::ClassInfo(),
      &TzfTokenExtractorHubTableEngine::ClassInfo(),
      &TzfFieldTokenExtractorTableEngine::ClassInfo(),
      &TzfTokenFilterHubTableEngine::ClassInfo(),
      &TzfWideCharSeparatorTokenFilterTableEngine::ClassInfo(),
      &TzfCategorySeparatorTokenFilterTableEngine::ClassInfo(),
      &TzfLowercaseLocaleMappingTokenFilterTableEngine::ClassInfo(),
      &TzfUppercaseLocaleMappingTokenFilterTableEngine::ClassInfo(),
      &TzfCustomLocaleMappingTokenFilterTableEngine::ClassInfo(),
      &TzfPreComposeFoldStringTokenFilterTableEngine::ClassInfo(),
      &TzfDecomposeFoldStringTokenFilterTableEngine::ClassInfo(),
      &TzfCustomFoldStringTokenFilterTableEngine::ClassInfo(),
      &TzfTokenIndexHubTableEngine::ClassInfo(),
      &TzfSimpleBitArrayStorageHandlerTableEngine::ClassInfo(),
      &TzfBitArrayTokenIndexTableEngine::ClassInfo(),
      &TzfMainIndexTokenIndexTableEngine::ClassInfo(),
      nullptr};
  return classes;
}

void Start() {
  zfRegisterFulltextEngines(TableEngineClasses());
}

void Stop() { zfUnregisterFulltextEngines(TableEngineClasses()); }

}  // namespace

rtl::TUnitInit& zfseFulltextEngineTableUnit() {
  static rtl::TUnitInit unit("zfseFulltextEngineTable", &Start, &Stop);
  return unit;
}

}  // namespace zf
