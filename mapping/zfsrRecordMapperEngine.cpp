#include "mapping/zfsrRecordMapperEngine.h"

#include <algorithm>
#include <atomic>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "index/zfsdKeyEngineBase.h"
#include "mapping/zfsdFieldMapperEngineBase.h"
#include "mapping/zfsdMapperCursor.h"
#include "mapping/zfsdRecordMapperDescriptor.h"

namespace zf {

namespace {

constexpr const char16_t* kCrLf = u"\r\n";

// The key line's text through the index's own key engine: the key built from the record (the
// index was chosen without a key filter) rendered by KeyAsString; False when no key is built.
bool IndexKeyText(IzfMapperCursor&, TzfIndexDescriptor& aIndex, const uint8_t* aRecord, rtl::UnicodeString& aText) {
  if (!aIndex.idKeyDescriptor) return false;
  std::unique_ptr<TzfBaseKeyEngine> engine = TzfBaseKeyEngine::CreateFor(*aIndex.idKeyDescriptor);
  uint8_t* key = engine->AllocKey();
  struct FreeKey {
    TzfBaseKeyEngine& engine;
    uint8_t*& key;
    ~FreeKey() { engine.FreeKey(key); }
  } freeKey{*engine, key};
  if (engine->BuildKey(aRecord, key, 0, true) != 0) return false;
  aText = engine->KeyAsString(key);
  return true;
}

std::atomic<TzfMapperKeyTextProc> gKeyTextProc{&IndexKeyText};

std::unique_ptr<TzfBaseRecordMapperEngine> NewEngine(TzfBaseRecordMapperDescriptor& aDescriptor,
                                                     IzfMapperCursor& aSourceCursor, IzfMapperCursor& aTargetCursor) {
  return std::make_unique<TzfRecordMapperEngine>(aDescriptor, aSourceCursor, aTargetCursor);
}

TzfRecordMapperDescriptor& AsRecordMapper(TzfBaseRecordMapperDescriptor& aDescriptor) {
  auto* d = dynamic_cast<TzfRecordMapperDescriptor*>(&aDescriptor);
  if (!d) rtl::AssertionFailure("zfsrRecordMapperEngine", __LINE__);
  return *d;
}

// Whether a key of aIndex identifies one record: duplicates at most for NULL keys of required
// fields, a composite key without a filter, and no key field that filters NULL or non-NULL keys.
enum class TKeyFit { No, Unique, UniqueIfRequired };
TKeyFit KeyFit(const TzfIndexDescriptor& aIndex) {
  if (aIndex.idDups == idAll) return TKeyFit::No;
  const auto* key = dynamic_cast<const TzfCompKeyDescriptor*>(aIndex.idKeyDescriptor.get());
  if (!key || key->Filter) return TKeyFit::No;
  for (const auto& kf : key->ckdKeyFields)
    if (kf->kfdNullBehaviour == nbFilterNull || kf->kfdNullBehaviour == nbFilterNonNull) return TKeyFit::No;
  return aIndex.idDups == idNone ? TKeyFit::Unique : TKeyFit::UniqueIfRequired;
}

void StartUnit() { TzfBaseRegisterableEngine::RegisterEngine(TzfRecordMapperEngine::ClassInfo()); }
void StopUnit() { TzfBaseRegisterableEngine::UnregisterEngine(TzfRecordMapperEngine::ClassInfo()); }

}  // namespace

TzfMapperKeyTextProc zfSetMapperKeyTextProc(TzfMapperKeyTextProc aProc) { return gKeyTextProc.exchange(aProc); }

TzfMapperKeyTextProc zfIndexKeyTextProc() { return &IndexKeyText; }

const TzfRecordMapperEngineClass& TzfRecordMapperEngine::ClassInfo() {
  static const TzfRecordMapperEngineClass info(u"TzfRecordMapperEngine", &TzfBaseRecordMapperEngine::ClassInfo(),
                                               &NewEngine);
  return info;
}

TzfRecordMapperEngine::TzfRecordMapperEngine(TzfBaseRecordMapperDescriptor& aDescriptor,
                                             IzfMapperCursor& aSourceCursor, IzfMapperCursor& aTargetCursor)
    : rmeSourceCursor(aSourceCursor) {
  TzfRecordMapperDescriptor& descriptor = AsRecordMapper(aDescriptor);
  rmeFieldMapper.reserve(static_cast<size_t>(descriptor.FieldMapperCount()));
  std::vector<UnicodeString> mapped;
  for (const auto& entry : descriptor.rmdFieldMapperDescriptors) {
    rmeFieldMapper.push_back(TzfBaseFieldMapperEngine::CreateFor(*entry.Descriptor, aSourceCursor, aTargetCursor));
    if (!entry.Descriptor->bfcdTargetName.empty()) mapped.push_back(entry.Descriptor->bfcdTargetName);
  }

  // The target fields no mapping names, in name order.
  std::vector<std::pair<UnicodeString, TzfFieldDescriptor*>> fields;
  aTargetCursor.acGetTableDescriptor()->tdFieldsDescriptor->GetFields(fields);
  std::stable_sort(fields.begin(), fields.end(),
                   [](const auto& a, const auto& b) { return rtl::CompareText(a.first, b.first) < 0; });
  std::vector<UnicodeString> names;
  for (const auto& f : fields) names.push_back(f.first);
  std::vector<bool> isMapped(fields.size(), false);
  zfPairByName(names, mapped, [&](size_t aField, size_t) { isMapped[aField] = true; });

  for (size_t i = 0; i < fields.size(); ++i) {
    if (isMapped[i]) continue;
    TzfFieldDescriptor* field = fields[i].second;
    if ((descriptor.rmdApplyDefaultForUnmapped && field->fdDefaultValue) ||
        TzfBaseFieldMapperEngine::HasSpecialMapper(field->fdType)) {
      auto d = std::make_unique<TzfFieldMapperDescriptor>(UnicodeString(), field->fdName, dlaFail);
      d->bfcdApplyDefault = descriptor.rmdApplyDefaultForUnmapped;
      rmeFieldMapperDescriptors.push_back(std::move(d));
      rmeFieldMapper.push_back(
          TzfBaseFieldMapperEngine::CreateFor(*rmeFieldMapperDescriptors.back(), aSourceCursor, aTargetCursor));
    }
  }
}

TzfRecordMapperEngine::~TzfRecordMapperEngine() {
  // The engines refer to the descriptors made here: they go first.
  rmeFieldMapper.clear();
  rmeFieldMapperDescriptors.clear();
}

void TzfRecordMapperEngine::BeforeFirstRecord() {
  for (auto& e : rmeFieldMapper) e->BeforeFirstRecord();
}

void TzfRecordMapperEngine::BeforeCommit() {
  for (auto& e : rmeFieldMapper) e->BeforeCommit();
}

uint32_t TzfRecordMapperEngine::MapRecord(const uint8_t* aSource, uint8_t* aTarget) {
  for (auto& e : rmeFieldMapper)
    if (const uint32_t result = e->MapField(aSource, aTarget); result != 0) return AddErrorContext(result, aSource);
  return 0;
}

TzfIndexDescriptor* TzfRecordMapperEngine::ChooseKeyIndex() const {
  TzfBaseTableDescriptor* table = rmeSourceCursor.acGetTableDescriptor();
  if (!table->tdIndicesDescriptor) return nullptr;
  TzfFieldsDescriptor& fields = *table->tdFieldsDescriptor;
  for (const auto& index : table->tdIndicesDescriptor->IndexDescriptor) {
    switch (KeyFit(*index)) {
      case TKeyFit::No: break;
      case TKeyFit::Unique: return index.get();
      case TKeyFit::UniqueIfRequired: {
        const auto& key = static_cast<const TzfCompKeyDescriptor&>(*index->idKeyDescriptor);
        const bool allRequired = std::all_of(key.ckdKeyFields.begin(), key.ckdKeyFields.end(), [&](const auto& kf) {
          return kf->kfdFieldNumber >= 0 && kf->kfdFieldNumber < fields.FieldCount &&
                 fields.Field(kf->kfdFieldNumber)->fdRequired;
        });
        if (allRequired) return index.get();
        break;
      }
    }
  }
  return nullptr;
}

uint32_t TzfRecordMapperEngine::AddErrorContext(uint32_t aErrorCode, const uint8_t* aSource) {
  uint32_t code = 0;
  UnicodeString text;
  EzfBaseException::GetLastConvertedException(code, text);
  if (code != aErrorCode || text.empty()) text = zfOrgMarker;
  text += kCrLf;
  text += UnicodeString(kCrLf) + u"Source Table: " + rmeSourceCursor.acGetFullName();
  // The key line is a help, never a second failure: anything going wrong here leaves it out.
  try {
    if (TzfMapperKeyTextProc proc = gKeyTextProc.load())
      if (TzfIndexDescriptor* index = ChooseKeyIndex()) {
        UnicodeString key;
        if (proc(rmeSourceCursor, *index, aSource, key))
          text += UnicodeString(kCrLf) + u"Source Key (Index: " + index->idName + u"): " + key;
      }
  } catch (...) {
  }
  EzfBaseException::SetLastConvertedException(aErrorCode, text);
  return aErrorCode;
}

rtl::TUnitInit& zfsrRecordMapperEngineUnit() {
  static rtl::TUnitInit unit("zfsrRecordMapperEngine", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
