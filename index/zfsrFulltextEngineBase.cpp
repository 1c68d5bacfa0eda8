#include "index/zfsrFulltextEngineBase.h"

#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllErrors.h"

namespace zf {

PzfToken zfNewToken(TzfWideString aToken, int32_t aDistance, int16_t aField) {
  return PzfToken(RefPtr<TzfToken>::Create(std::move(aToken), aDistance, aField));
}

namespace {

// aText with every aFrom (case ignored) replaced by aTo.
UnicodeString ReplaceAllText(UnicodeStringView aText, UnicodeStringView aFrom, UnicodeStringView aTo) {
  const UnicodeString upper = rtl::UpperCase(UnicodeString(aText)), from = rtl::UpperCase(UnicodeString(aFrom));
  UnicodeString r;
  size_t i = 0;
  while (i < aText.size()) {
    if (!from.empty() && upper.compare(i, from.size(), from) == 0) {
      r += aTo;
      i += from.size();
    } else {
      r += aText[i++];
    }
  }
  return r;
}

}  // namespace

void zfRaiseUnknownFulltextEngine(UnicodeStringView aFamilyWord, UnicodeStringView aName) {
  throw EzfBaseFulltextEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                       {UnicodeString(aFamilyWord), UnicodeString(aName)});
}

const TzfRegisterableClass& zfFulltextEngineClass(const TzfRegisterableClass& aFamily, UnicodeStringView aFamilyWord,
                                                  UnicodeStringView aFromName, UnicodeStringView aFrom,
                                                  UnicodeStringView aTo) {
  const UnicodeString name = ReplaceAllText(aFromName, aFrom, aTo);
  const TzfRegisterableClass* cls = TzfBaseRegisterableEngine::FindEngineClass(aFamily, name);
  if (!cls) zfRaiseUnknownFulltextEngine(aFamilyWord, name);
  return *cls;
}

const TzfBaseFulltextTableEngine::TClass& TzfBaseFulltextTableEngine::ClassInfo() {
  static const TClass info(u"TzfBaseFulltextTableEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                           &zfFamilyList<TzfBaseFulltextTableEngine>, nullptr);
  return info;
}

std::unique_ptr<TzfBaseFulltextTableEngine> TzfBaseFulltextTableEngine::CreateFor(
    TzfBaseTableDescriptor& aDictionary, const TzfBlockAccessList& aFiles, TzfBaseIndicesEngine* aMainIndicesEngine,
    TzfBaseTransaction* aTrans) {
  TzfFulltextDescriptor* descriptor = zfFindFulltextDescriptor(aDictionary);
  if (!descriptor) return nullptr;
  return CreateFor(*descriptor, aFiles, aMainIndicesEngine, aTrans);
}

std::unique_ptr<TzfBaseFulltextTableEngine> TzfBaseFulltextTableEngine::CreateFor(
    TzfFulltextDescriptor& aDescriptor, const TzfBlockAccessList& aFiles, TzfBaseIndicesEngine* aMainIndicesEngine,
    TzfBaseTransaction* aTrans) {
  return zfMakeFulltextEngine<TzfBaseFulltextTableEngine>(u"Fulltext", aDescriptor.ClassName(), u"Descriptor",
                                                          u"TableEngine", aDescriptor, aFiles, aMainIndicesEngine,
                                                          aTrans);
}

const TzfBaseFulltextCursorEngine::TClass& TzfBaseFulltextCursorEngine::ClassInfo() {
  static const TClass info(u"TzfBaseFulltextCursorEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                           &zfFamilyList<TzfBaseFulltextCursorEngine>, nullptr);
  return info;
}

std::unique_ptr<TzfBaseFulltextCursorEngine> TzfBaseFulltextCursorEngine::CreateFor(
    TzfBaseFulltextTableEngine* aTableEngine, IzfFulltextCursor* aCursor) {
  if (!aTableEngine) return nullptr;
  return zfMakeFulltextEngine<TzfBaseFulltextCursorEngine>(u"Fulltext", aTableEngine->ClassName(), u"TableEngine",
                                                           u"CursorEngine", *aTableEngine, aCursor);
}

void zfRegisterFulltextEngines(const TzfRegisterableClass* const* aClasses) {
  for (const TzfRegisterableClass* const* c = aClasses; *c; ++c) TzfBaseRegisterableEngine::RegisterEngine(**c);
}

void zfUnregisterFulltextEngines(const TzfRegisterableClass* const* aClasses) {
  const TzfRegisterableClass* const* last = aClasses;
  while (*last) ++last;
  while (last != aClasses) TzfBaseRegisterableEngine::UnregisterEngine(**--last);
}

rtl::TUnitInit& zfsrFulltextEngineBaseUnit() {
  static rtl::TUnitInit unit("zfsrFulltextEngineBase", nullptr, nullptr);
  return unit;
}

}  // namespace zf
