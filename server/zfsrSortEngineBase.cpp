#include "server/zfsrSortEngineBase.h"

#include <atomic>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "index/zfsdKeyEngineBase.h"
#include "server/zfsrServerEngineComponent.h"

namespace zf {

namespace {

std::atomic<TzfSortEngineClass> gDefaultSortEngineClass{nullptr};

}  // namespace

TzfBaseSortEngine::TzfBaseSortEngine(TzfServerDatabase* aDB, TzfDataDictionary* aDict, TzfIndexDescriptor* aIndexDesc)
    : bsDB(aDB) {
  bsDict = std::make_unique<TzfDataDictionary>();
  bsDict->Assign(aDict);
  // A full-text index refuses the removal of the main indexes it keeps its tokens in; the sort
  // keeps no full-text index, so the copy leaves it out first.
  if (zfFindFulltextDescriptor(*bsDict)) bsDict->tdCustomDescsDescriptor->RemoveCustom(u"Fulltext");
  bsDict->RemoveIndicesDescriptor();
  // The scratch runs carry the records' fields only: the source's validations, defaults and
  // references have no business on them, and the record layout is the fields'.
  bsDictNoIdx = std::make_unique<TzfDataDictionary>();
  bsDictNoIdx->AssignOnlyFields(bsDict.get());
  bsDictNoIdx->RemoveIndicesDescriptor();
  TzfIndexDescriptor* index = bsDict->EnsureIndicesDescriptor()->AddIndex(*aIndexDesc);
  bsRecLen = static_cast<uint32_t>(bsDict->tdFieldsDescriptor->GetRecordLength());
  bsRecLenBuf = (bsRecLen + 15u) & ~15u;
  bsKeyEngine = TzfBaseKeyEngine::CreateFor(*index->idKeyDescriptor);
}

TzfBaseSortEngine::~TzfBaseSortEngine() {
  bsKeyEngine.reset();
  bsDictNoIdx.reset();
  bsDict.reset();
}

int TzfBaseSortEngine::Compare(const uint8_t* aRecord1, const uint8_t* aRecord2) const {
  return bsKeyEngine->CompareRecord(aRecord1, aRecord2);
}

TzfSortEngineClass zfGetDefaultSortEngineClass() { return gDefaultSortEngineClass.load(); }

void zfSetDefaultSortEngineClass(TzfSortEngineClass aClass) { gDefaultSortEngineClass.store(aClass); }

bool zfSetDefaultSortEngineClassIfNone(TzfSortEngineClass aClass) {
  TzfSortEngineClass none = nullptr;
  return gDefaultSortEngineClass.compare_exchange_strong(none, aClass);
}

bool zfClearDefaultSortEngineClassIf(TzfSortEngineClass aClass) {
  return gDefaultSortEngineClass.compare_exchange_strong(aClass, nullptr);
}

std::unique_ptr<TzfBaseSortEngine> zfCreateDefaultSortEngine(TzfServerDatabase* aDB, TzfDataDictionary* aDict,
                                                             TzfIndexDescriptor* aIndexDesc) {
  const TzfSortEngineClass cls = zfGetDefaultSortEngineClass();
  if (!cls) throw EzfServerEngineException(zfErrNotSupported, u"No sort engine is registered");
  return cls(aDB, aDict, aIndexDesc);
}

}  // namespace zf
