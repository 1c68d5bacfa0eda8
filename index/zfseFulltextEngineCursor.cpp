#include "index/zfseFulltextEngineCursor.h"

#include <algorithm>
#include <cstring>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllWideStringCategories.h"
#include "index/zfseFulltextTokenIndex.h"
#include "platform/rtl/rtlException.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {


// Keeps the thread's deadline from interrupting a BLOB read.
class TSuspendTimeout {
 public:
  TSuspendTimeout() { zfSuspendTimeout(); }
  ~TSuspendTimeout() { zfResumeTimeout(); }
  TSuspendTimeout(const TSuspendTimeout&) = delete;
  TSuspendTimeout& operator=(const TSuspendTimeout&) = delete;
};

TzfWideString Widen(const uint8_t* aBytes, size_t aCount, uint16_t aCodePage) {
  if (aCount == 0) return {};
  if (aCodePage != 0)
    return zfStringToWideString(std::string_view(reinterpret_cast<const char*>(aBytes), aCount), aCodePage);
  return TzfWideString(aBytes, aBytes + aCount);
}

}  // namespace

// ---- TzfFulltextCursorEngine ----

ZF_FT_CONCRETE(TzfFulltextCursorEngine, TzfBaseFulltextCursorEngine)

TzfFulltextCursorEngine::TzfFulltextCursorEngine(TzfBaseFulltextTableEngine& aTableEngine, IzfFulltextCursor* aCursor)
    : ftceFulltextTableEngine(&dynamic_cast<TzfFulltextTableEngine&>(aTableEngine)), ftceFulltextCursor(aCursor) {
  for (const auto& index : ftceFulltextTableEngine->ftteFulltextIndices)
    ftceFulltextIndices.push_back(TzfFulltextIndexCursorEngine::CreateFor(this, *index));
}

TzfFulltextCursorEngine::~TzfFulltextCursorEngine() {
  while (!ftceFulltextIndices.empty()) ftceFulltextIndices.pop_back();
}

uint32_t TzfFulltextCursorEngine::UpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, int64_t aOldRefNr,
                                              const uint8_t* aNewRecord, int64_t aNewRefNr) {
  for (size_t i = ftceFulltextIndices.size(); i-- > 0;)
    if (const uint32_t r = ftceFulltextIndices[i]->ficeUpdateIndex(aTrans, aOldRecord, aOldRefNr, aNewRecord, aNewRefNr))
      return r;
  return 0;
}

// ---- TzfFulltextIndexCursorEngine ----

ZF_FT_ENGINE_CLASS(TzfFulltextIndexCursorEngine, TzfBaseRegisterableEngine,
                   &zfFamilyList<TzfFulltextIndexCursorEngine>, &TClass::template New<TzfFulltextIndexCursorEngine>)

std::unique_ptr<TzfFulltextIndexCursorEngine> TzfFulltextIndexCursorEngine::CreateFor(
    TzfFulltextCursorEngine* aParent, TzfFulltextIndexTableEngine& aTableEngine) {
  return zfMakeFulltextEngine<TzfFulltextIndexCursorEngine>(u"FulltextIndex", aTableEngine.ClassName(),
                                                            u"TableEngine", u"CursorEngine", aParent, aTableEngine);
}

TzfFulltextIndexCursorEngine::TzfFulltextIndexCursorEngine(TzfFulltextCursorEngine* aParent,
                                                           TzfFulltextIndexTableEngine& aTableEngine)
    : ficeParentFulltextCursorEngine(aParent), ficeFulltextIndexTableEngine(&aTableEngine) {
  ficeTokenExtractorHubOld = TzfTokenExtractorHubCursorEngine::CreateHubFor(this, *aTableEngine.fiteTokenExtractorHub);
  ficeTokenExtractorHubNew = TzfTokenExtractorHubCursorEngine::CreateHubFor(this, *aTableEngine.fiteTokenExtractorHub);
  ficeTokenFilterHubOld =
      TzfTokenFilterHubCursorEngine::CreateHubFor(this, ficeTokenExtractorHubOld.get(), *aTableEngine.fiteTokenFilterHub);
  ficeTokenFilterHubNew =
      TzfTokenFilterHubCursorEngine::CreateHubFor(this, ficeTokenExtractorHubNew.get(), *aTableEngine.fiteTokenFilterHub);
  ficeTokenIndexHub = TzfTokenIndexHubCursorEngine::CreateHubFor(this, *aTableEngine.fiteTokenIndexHub,
                                                                 ficeTokenFilterHubOld.get(), ficeTokenFilterHubNew.get());
}

TzfFulltextIndexCursorEngine::~TzfFulltextIndexCursorEngine() {
  ficeTokenIndexHub.reset();
  ficeTokenFilterHubNew.reset();
  ficeTokenFilterHubOld.reset();
  ficeTokenExtractorHubNew.reset();
  ficeTokenExtractorHubOld.reset();
}

uint32_t TzfFulltextIndexCursorEngine::ficeUpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord,
                                                       int64_t aOldRefNr, const uint8_t* aNewRecord,
                                                       int64_t aNewRefNr) {
  ficeTokenExtractorHubOld->Initialize(aOldRecord, aOldRefNr, true);
  ficeTokenExtractorHubNew->Initialize(aNewRecord, aNewRefNr, false);
  // The records are bound only for this call.
  struct TUnbind {
    TzfFulltextIndexCursorEngine& e;
    ~TUnbind() {
      e.ficeTokenExtractorHubOld->Initialize(nullptr, 0, true);
      e.ficeTokenExtractorHubNew->Initialize(nullptr, 0, false);
    }
  } unbind{*this};
  return ficeTokenIndexHub->bticeUpdateIndex(aTrans, aOldRecord, aOldRefNr, aNewRecord, aNewRefNr);
}

int32_t TzfFulltextIndexCursorEngine::TokenExtractorCount() const {
  return ficeTokenExtractorHubNew->TokenExtractorCount();
}
int32_t TzfFulltextIndexCursorEngine::TokenFilterCount() const { return ficeTokenFilterHubNew->TokenFilterCount(); }
int32_t TzfFulltextIndexCursorEngine::TokenIndexCount() const { return ficeTokenIndexHub->TokenIndexCount(); }

// ---- Extractors ----

void TzfTokenExtractorSourceRedirectorCursorEngine::Reset() { tesrceParent->ResetInternal(); }
PzfToken TzfTokenExtractorSourceRedirectorCursorEngine::NextToken() { return tesrceParent->NextTokenInternal(); }

ZF_FT_ABSTRACT(TzfBaseTokenExtractorCursorEngine, TzfBaseRegisterableEngine,
               &zfFamilyList<TzfBaseTokenExtractorCursorEngine>)

std::unique_ptr<TzfBaseTokenExtractorCursorEngine> TzfBaseTokenExtractorCursorEngine::CreateFor(
    TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenExtractorTableEngine& aTableEngine) {
  return zfMakeFulltextEngine<TzfBaseTokenExtractorCursorEngine>(u"TokenExtractor", aTableEngine.ClassName(),
                                                                 u"TableEngine", u"CursorEngine", aParent,
                                                                 aTableEngine);
}

std::unique_ptr<TzfBaseTokenExtractorCursorEngine> TzfBaseTokenExtractorCursorEngine::CreateFor(
    TzfTokenExtractorHubCursorEngine* aParent, TzfBaseTokenExtractorTableEngine& aTableEngine) {
  auto r = CreateFor(aParent->btsceParentFulltextIndexCursorEngine, aTableEngine);
  r->bteceParentTokenExtractorHubCursorEngine = aParent;
  return r;
}

TzfBaseTokenExtractorCursorEngine::TzfBaseTokenExtractorCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                                                     TzfBaseTokenExtractorTableEngine& aTableEngine)
    : TzfBaseTokenSourceCursorEngine(aParent), bteceTokenExtractorTableEngine(&aTableEngine) {
  if (aTableEngine.bteteTokenFilterHub) {
    bteceTokenFilterHubSource = std::make_unique<TzfTokenExtractorSourceRedirectorCursorEngine>(aParent, *this);
    bteceTokenFilterHub = TzfTokenFilterHubCursorEngine::CreateHubFor(aParent, bteceTokenFilterHubSource.get(),
                                                                      *aTableEngine.bteteTokenFilterHub);
  }
}

TzfBaseTokenExtractorCursorEngine::~TzfBaseTokenExtractorCursorEngine() {
  bteceTokenFilterHub.reset();
  bteceTokenFilterHubSource.reset();
}

void TzfBaseTokenExtractorCursorEngine::Reset() {
  if (bteceTokenFilterHub)
    bteceTokenFilterHub->Reset();
  else
    ResetInternal();
}

PzfToken TzfBaseTokenExtractorCursorEngine::NextToken() {
  return bteceTokenFilterHub ? bteceTokenFilterHub->NextToken() : NextTokenInternal();
}

int32_t TzfBaseTokenExtractorCursorEngine::TokenFilterCount() const {
  return bteceTokenFilterHub ? bteceTokenFilterHub->TokenFilterCount() : 0;
}

ZF_FT_CONCRETE(TzfTokenExtractorHubCursorEngine, TzfBaseTokenExtractorCursorEngine)

std::unique_ptr<TzfTokenExtractorHubCursorEngine> TzfTokenExtractorHubCursorEngine::CreateHubFor(
    TzfFulltextIndexCursorEngine* aParent, TzfTokenExtractorHubTableEngine& aTableEngine) {
  auto r = TzfBaseTokenExtractorCursorEngine::CreateFor(aParent, aTableEngine);
  auto* hub = dynamic_cast<TzfTokenExtractorHubCursorEngine*>(r.get());
  if (!hub) throw rtl::EInvalidCast(u"Invalid class typecast");
  r.release();
  return std::unique_ptr<TzfTokenExtractorHubCursorEngine>(hub);
}

TzfTokenExtractorHubCursorEngine::TzfTokenExtractorHubCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                                                   TzfBaseTokenExtractorTableEngine& aTableEngine)
    : TzfBaseTokenExtractorCursorEngine(aParent, aTableEngine),
      tehceTokenExtractorHubTableEngine(&dynamic_cast<TzfTokenExtractorHubTableEngine&>(aTableEngine)) {
  for (int32_t i = 0; i < tehceTokenExtractorHubTableEngine->TokenExtractorCount(); ++i)
    tehceTokenExtractors.push_back(CreateFor(this, tehceTokenExtractorHubTableEngine->TokenExtractor(i)));
}

TzfTokenExtractorHubCursorEngine::~TzfTokenExtractorHubCursorEngine() {
  while (!tehceTokenExtractors.empty()) tehceTokenExtractors.pop_back();
}

void TzfTokenExtractorHubCursorEngine::Initialize(const uint8_t* aRecord, int64_t aRefNr, bool aReadOrg) {
  for (auto& e : tehceTokenExtractors) e->Initialize(aRecord, aRefNr, aReadOrg);
}

void TzfTokenExtractorHubCursorEngine::ResetInternal() {
  for (auto& e : tehceTokenExtractors) e->Reset();
  tehceCurrentExtractor = 0;
}

PzfToken TzfTokenExtractorHubCursorEngine::NextTokenInternal() {
  while (tehceCurrentExtractor < TokenExtractorCount()) {
    PzfToken t = tehceTokenExtractors[static_cast<size_t>(tehceCurrentExtractor)]->NextToken();
    if (!t) {
      ++tehceCurrentExtractor;
      continue;
    }
    if (tehceCurrentExtractor > INT16_MAX) rtl::RaiseRangeError();
    const auto field = static_cast<int16_t>(tehceCurrentExtractor);
    if (t->Field() != field) t = zfNewToken(t->Token(), t->Distance(), field);
    return t;
  }
  return nullptr;
}

ZF_FT_CONCRETE(TzfFieldTokenExtractorCursorEngine, TzfBaseTokenExtractorCursorEngine)

TzfFieldTokenExtractorCursorEngine::TzfFieldTokenExtractorCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                                                       TzfBaseTokenExtractorTableEngine& aTableEngine)
    : TzfBaseTokenExtractorCursorEngine(aParent, aTableEngine),
      fteceFieldTokenExtractorTableEngine(&dynamic_cast<TzfFieldTokenExtractorTableEngine&>(aTableEngine)) {
  TzfFieldTokenExtractorDescriptor* d = fteceFieldTokenExtractorTableEngine->fteteFieldTokenExtractorDescriptor;
  fteceFieldsDescriptor = d->FindRelated<TzfFieldsDescriptor>();
  fteceField = d->Field();
  if (fteceField) {
    TzfLocaleDescriptor* locale = fteceField->GetUsedLocaleDescriptor();
    fteceCodepage = locale ? locale->GetStorageCodepage() : 0;
  }
}

void TzfFieldTokenExtractorCursorEngine::Initialize(const uint8_t* aRecord, int64_t, bool aReadOrg) {
  fteceRecord = aRecord;
  fteceReadOrg = aReadOrg;
}

bool TzfFieldTokenExtractorCursorEngine::FieldText(const uint8_t* aRecord, TzfWideString& aText) {
  aText.clear();
  if (!aRecord || !fteceField || !fteceFieldsDescriptor) return false;
  const int32_t number = fteceField->fdNumber;
  const uint8_t* data = fteceFieldsDescriptor->GetRecordFieldForFilter(number, aRecord);
  if (!data) return false;
  const auto units = static_cast<size_t>(std::max(0, fteceField->fdUnits));
  const auto length = static_cast<size_t>(std::max(0, fteceField->fdLength));
  switch (fteceField->fdType) {
    case zftShortString: {
      // The stored length byte cannot reach past the field's units.
      const size_t n = std::min<size_t>({data[0], units, length > 0 ? length - 1 : 0});
      aText = Widen(data + 1, n, fteceCodepage);
      break;
    }
    case zftNullString: {
      const size_t limit = std::min(units, length);
      const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, limit));
      aText = Widen(data, end ? static_cast<size_t>(end - data) : limit, fteceCodepage);
      break;
    }
    case zftWideString: {
      const size_t limit = std::min(units, length / 2);
      for (size_t i = 0; i < limit; ++i) {
        const auto u = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
        if (u == 0) break;
        aText.push_back(u);
      }
      break;
    }
    case zftBlobMemo:
    case zftBlobWideMemo: {
      int64_t blob = 0;
      std::memcpy(&blob, data, sizeof blob);
      IzfFulltextCursor* cursor = btsceParentFulltextIndexCursorEngine->Cursor();
      if (blob == 0 || !cursor) return false;
      TSuspendTimeout suspend;
      uint32_t len = 0;
      if (cursor->FulltextBlobGetLength(number, blob, len, fteceReadOrg) != 0 || len == 0) return false;
      TzfMemoryStream ms;
      if (cursor->FulltextBlobRead(number, blob, 0, len, ms, fteceReadOrg) != 0) return false;
      const auto* p = static_cast<const uint8_t*>(ms.Memory());
      const auto got = static_cast<size_t>(ms.Size());
      if (fteceField->fdType == zftBlobMemo) {
        aText = fteceCodepage != 0
                    ? zfStringToWideString(std::string_view(reinterpret_cast<const char*>(p), got), fteceCodepage)
                    : Widen(p, got, 0);
      } else {
        aText.resize(got / 2);
        for (size_t i = 0; i < aText.size(); ++i) aText[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
      }
      break;
    }
    default:
      return false;
  }
  return !aText.empty();
}

PzfToken TzfFieldTokenExtractorCursorEngine::NextTokenInternal() {
  if (fteceUsed) return nullptr;
  fteceUsed = true;
  TzfWideString text;
  if (!FieldText(fteceRecord, text)) return nullptr;
  return zfNewToken(std::move(text), 0, 0);
}

// ---- Filters ----

ZF_FT_ABSTRACT(TzfBaseTokenFilterCursorEngine, TzfBaseRegisterableEngine, &zfFamilyList<TzfBaseTokenFilterCursorEngine>)

std::unique_ptr<TzfBaseTokenFilterCursorEngine> TzfBaseTokenFilterCursorEngine::CreateFor(
    TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
    TzfBaseTokenFilterTableEngine& aTableEngine) {
  return zfMakeFulltextEngine<TzfBaseTokenFilterCursorEngine>(u"TokenFilter", aTableEngine.ClassName(), u"TableEngine",
                                                              u"CursorEngine", aParent, aTokenSource, aTableEngine);
}

std::unique_ptr<TzfBaseTokenFilterCursorEngine> TzfBaseTokenFilterCursorEngine::CreateFor(
    TzfTokenFilterHubCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
    TzfBaseTokenFilterTableEngine& aTableEngine) {
  auto r = CreateFor(aParent->btsceParentFulltextIndexCursorEngine, aTokenSource, aTableEngine);
  r->btfceParentTokenFilterHubCursorEngine = aParent;
  return r;
}

ZF_FT_CONCRETE(TzfTokenFilterHubCursorEngine, TzfBaseTokenFilterCursorEngine)

std::unique_ptr<TzfTokenFilterHubCursorEngine> TzfTokenFilterHubCursorEngine::CreateHubFor(
    TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
    TzfTokenFilterHubTableEngine& aTableEngine) {
  auto r = TzfBaseTokenFilterCursorEngine::CreateFor(aParent, aTokenSource, aTableEngine);
  auto* hub = dynamic_cast<TzfTokenFilterHubCursorEngine*>(r.get());
  if (!hub) throw rtl::EInvalidCast(u"Invalid class typecast");
  r.release();
  return std::unique_ptr<TzfTokenFilterHubCursorEngine>(hub);
}

TzfTokenFilterHubCursorEngine::TzfTokenFilterHubCursorEngine(TzfFulltextIndexCursorEngine* aParent,
                                                             TzfBaseTokenSourceCursorEngine* aTokenSource,
                                                             TzfBaseTokenFilterTableEngine& aTableEngine)
    : TzfBaseTokenFilterCursorEngine(aParent, aTokenSource, aTableEngine),
      tfhceTokenFilterHubTableEngine(&dynamic_cast<TzfTokenFilterHubTableEngine&>(aTableEngine)),
      tfhceTokenSource(aTokenSource) {
  for (int32_t i = 0; i < tfhceTokenFilterHubTableEngine->TokenFilterCount(); ++i) {
    tfhceTokenFilters.push_back(CreateFor(this, tfhceTokenSource, tfhceTokenFilterHubTableEngine->TokenFilter(i)));
    tfhceTokenSource = tfhceTokenFilters.back().get();
  }
}

TzfTokenFilterHubCursorEngine::~TzfTokenFilterHubCursorEngine() {
  while (!tfhceTokenFilters.empty()) tfhceTokenFilters.pop_back();
}

ZF_FT_ABSTRACT(TzfBaseSeparatorTokenFilterCursorEngine, TzfBaseTokenFilterCursorEngine, nullptr)

TzfBaseSeparatorTokenFilterCursorEngine::TzfBaseSeparatorTokenFilterCursorEngine(
    TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
    TzfBaseTokenFilterTableEngine& aTableEngine)
    : TzfBaseTokenFilterCursorEngine(aParent, aTokenSource, aTableEngine),
      bstfceSeparatorDistance(dynamic_cast<TzfBaseSeparatorTokenFilterDescriptor&>(
                                  *aTableEngine.btfteTokenFilterDescriptor).bstfsSeparatorDistance) {}

void TzfBaseSeparatorTokenFilterCursorEngine::Reset() {
  bstfceInputToken = nullptr;
  bstfceInputPos = 0;
  TzfBaseTokenFilterCursorEngine::Reset();
}

PzfToken TzfBaseSeparatorTokenFilterCursorEngine::NextToken() {
  PzfToken result;
  while (!result) {
    if (!bstfceInputToken) {
      bstfceInputToken = TzfBaseTokenFilterCursorEngine::NextToken();
      bstfceInputPos = 0;
      if (!bstfceInputToken) break;
      bstfceNextDistance = bstfceInputToken->Distance();
    }
    const TzfWideString& t = bstfceInputToken->Token();
    const auto len = static_cast<int32_t>(t.size());
    int32_t start = bstfceInputPos;
    while (bstfceInputPos < len && bstfceIsSeparator(t[static_cast<size_t>(bstfceInputPos)])) ++bstfceInputPos;
    if (bstfceInputPos != start) bstfceNextDistance = std::max(bstfceNextDistance, bstfceSeparatorDistance);
    start = bstfceInputPos;
    while (bstfceInputPos < len && !bstfceIsSeparator(t[static_cast<size_t>(bstfceInputPos)])) ++bstfceInputPos;
    if (start == 0 && bstfceInputPos >= len) {
      // No separator at all (or an empty text): the token passes unchanged.
      result = bstfceInputToken;
      bstfceInputToken = nullptr;
      continue;
    }
    if (start != bstfceInputPos)
      result = zfNewToken(TzfWideString(t.begin() + start, t.begin() + bstfceInputPos), bstfceNextDistance,
                          bstfceInputToken->Field());
    if (bstfceInputPos >= len)
      bstfceInputToken = nullptr;
    else
      bstfceNextDistance = 1;
  }
  return result;
}

ZF_FT_CONCRETE(TzfWideCharSeparatorTokenFilterCursorEngine, TzfBaseSeparatorTokenFilterCursorEngine)

TzfWideCharSeparatorTokenFilterCursorEngine::TzfWideCharSeparatorTokenFilterCursorEngine(
    TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
    TzfBaseTokenFilterTableEngine& aTableEngine)
    : TzfBaseSeparatorTokenFilterCursorEngine(aParent, aTokenSource, aTableEngine),
      wcstfceSeparatorChar(dynamic_cast<TzfWideCharSeparatorTokenFilterDescriptor&>(
                               *aTableEngine.btfteTokenFilterDescriptor).wcstfsSeparatorChar) {}

ZF_FT_CONCRETE(TzfCategorySeparatorTokenFilterCursorEngine, TzfBaseSeparatorTokenFilterCursorEngine)

TzfCategorySeparatorTokenFilterCursorEngine::TzfCategorySeparatorTokenFilterCursorEngine(
    TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
    TzfBaseTokenFilterTableEngine& aTableEngine)
    : TzfBaseSeparatorTokenFilterCursorEngine(aParent, aTokenSource, aTableEngine),
      cstfceSeparatorCategories(dynamic_cast<TzfCategorySeparatorTokenFilterDescriptor&>(
                                    *aTableEngine.btfteTokenFilterDescriptor).cstfsSeparatorCategories) {}

bool TzfCategorySeparatorTokenFilterCursorEngine::bstfceIsSeparator(char16_t aChar) const {
  return zfCharInCategories(aChar, cstfceSeparatorCategories);
}

ZF_FT_ABSTRACT(TzfTransformerTokenFilterCursorEngine, TzfBaseTokenFilterCursorEngine, nullptr)

PzfToken TzfTransformerTokenFilterCursorEngine::NextToken() {
  PzfToken t = TzfBaseTokenFilterCursorEngine::NextToken();
  if (!t || !ttfceTransformer) return t;
  TzfWideString out;
  ttfceTransformer->Transform(t->Token(), out);
  return zfNewToken(std::move(out), t->Distance(), t->Field());
}

ZF_FT_ABSTRACT(TzfBaseLocaleMappingTokenFilterCursorEngine, TzfTransformerTokenFilterCursorEngine, nullptr)

TzfBaseLocaleMappingTokenFilterCursorEngine::TzfBaseLocaleMappingTokenFilterCursorEngine(
    TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
    TzfBaseTokenFilterTableEngine& aTableEngine)
    : TzfTransformerTokenFilterCursorEngine(aParent, aTokenSource, aTableEngine) {
  auto& d = dynamic_cast<TzfBaseLocaleMappingTokenFilterDescriptor&>(*aTableEngine.btfteTokenFilterDescriptor);
  TzfLocaleDescriptor* locale = d.GetUsedLocaleDescriptor();
  ttfceTransformer = PzfWideStringTransformer(
      RefPtr<TzfWideStringLocaleMappingTransformer>::Create(locale ? locale->ldLocale : 0u, d.Flags()));
}

ZF_FT_ABSTRACT(TzfBaseFoldStringTokenFilterCursorEngine, TzfTransformerTokenFilterCursorEngine, nullptr)

TzfBaseFoldStringTokenFilterCursorEngine::TzfBaseFoldStringTokenFilterCursorEngine(
    TzfFulltextIndexCursorEngine* aParent, TzfBaseTokenSourceCursorEngine* aTokenSource,
    TzfBaseTokenFilterTableEngine& aTableEngine)
    : TzfTransformerTokenFilterCursorEngine(aParent, aTokenSource, aTableEngine) {
  auto& d = dynamic_cast<TzfBaseFoldStringTokenFilterDescriptor&>(*aTableEngine.btfteTokenFilterDescriptor);
  ttfceTransformer = PzfWideStringTransformer(RefPtr<TzfWideStringFoldStringTransformer>::Create(d.Flags()));
}

ZF_FT_CONCRETE(TzfLowercaseLocaleMappingTokenFilterCursorEngine, TzfBaseLocaleMappingTokenFilterCursorEngine)
ZF_FT_CONCRETE(TzfUppercaseLocaleMappingTokenFilterCursorEngine, TzfBaseLocaleMappingTokenFilterCursorEngine)
ZF_FT_CONCRETE(TzfCustomLocaleMappingTokenFilterCursorEngine, TzfBaseLocaleMappingTokenFilterCursorEngine)
ZF_FT_CONCRETE(TzfPreComposeFoldStringTokenFilterCursorEngine, TzfBaseFoldStringTokenFilterCursorEngine)
ZF_FT_CONCRETE(TzfDecomposeFoldStringTokenFilterCursorEngine, TzfBaseFoldStringTokenFilterCursorEngine)
ZF_FT_CONCRETE(TzfCustomFoldStringTokenFilterCursorEngine, TzfBaseFoldStringTokenFilterCursorEngine)

// ---- Unit ----

namespace {

const TzfRegisterableClass* const* CursorEngineClasses() {
  static const TzfRegisterableClass* const classes[] = {
      &TzfFulltextCursorEngine::ClassInfo(),
      &TzfFulltextIndexCursorEngine::ClassInfo(),
      &TzfTokenExtractorHubCursorEngine::ClassInfo(),
      &TzfFieldTokenExtractorCursorEngine::ClassInfo(),
      &TzfTokenFilterHubCursorEngine::ClassInfo(),
      &TzfWideCharSeparatorTokenFilterCursorEngine::ClassInfo(),
      &TzfCategorySeparatorTokenFilterCursorEngine::ClassInfo(),
      &TzfLowercaseLocaleMappingTokenFilterCursorEngine::ClassInfo(),
      &TzfUppercaseLocaleMappingTokenFilterCursorEngine::ClassInfo(),
      &TzfCustomLocaleMappingTokenFilterCursorEngine::ClassInfo(),
      &TzfPreComposeFoldStringTokenFilterCursorEngine::ClassInfo(),
      &TzfDecomposeFoldStringTokenFilterCursorEngine::ClassInfo(),
      &TzfCustomFoldStringTokenFilterCursorEngine::ClassInfo(),
      nullptr};
  return classes;
}

void Start() {
  zfLoadCharacterCategories();
  zfRegisterFulltextEngines(CursorEngineClasses());
}

void Stop() { zfUnregisterFulltextEngines(CursorEngineClasses()); }

}  // namespace

rtl::TUnitInit& zfseFulltextEngineCursorUnit() {
  static rtl::TUnitInit unit("zfseFulltextEngineCursor", &Start, &Stop);
  return unit;
}

}  // namespace zf
