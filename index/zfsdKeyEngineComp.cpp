#include "index/zfsdKeyEngineComp.h"

#include <algorithm>
#include <cstring>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

UnicodeString LowerAscii(UnicodeString s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return s;
}

UnicodeString KeyFieldName(TzfDefaultCKFE& aEngine) {
  const UnicodeString& engine = aEngine.KeyField().kfdKeyFieldEngine;
  return engine.empty() ? aEngine.ckfeFieldName : aEngine.ckfeFieldName + u"_" + engine;
}

TzfCompKeyDescriptor& CompDescriptor(TzfBaseKeyDescriptor& aDescriptor) {
  auto* d = dynamic_cast<TzfCompKeyDescriptor*>(&aDescriptor);
  if (!d) throw rtl::EInvalidCast(u"Invalid class typecast");
  return *d;
}

}  // namespace

const TzfKeyEngineClass& TzfCompKeyEngine::ClassInfo() {
  static const TzfKeyEngineClass info(
      u"TzfCompKeyEngine", &TzfBaseKeyEngine::ClassInfo(),
      [](TzfBaseKeyDescriptor& d) -> std::unique_ptr<TzfBaseKeyEngine> { return std::make_unique<TzfCompKeyEngine>(d); },
      &TzfCompKeyEngine::CheckValidFromDescriptor);
  return info;
}

const TzfKeyEngineClass& TzfNoNullCompKeyEngine::ClassInfo() {
  static const TzfKeyEngineClass info(
      u"TzfNoNullCompKeyEngine", &TzfCompKeyEngine::ClassInfo(),
      [](TzfBaseKeyDescriptor& d) -> std::unique_ptr<TzfBaseKeyEngine> {
        return std::make_unique<TzfNoNullCompKeyEngine>(d);
      },
      &TzfCompKeyEngine::CheckValidFromDescriptor);
  return info;
}

void TzfCompKeyEngine::CheckValidFromDescriptor(TzfBaseKeyDescriptor& aDescriptor) {
  TzfCompKeyDescriptor& d = CompDescriptor(aDescriptor);
  for (int32_t i = 0; i < d.GetKeyFieldCount(); ++i) {
    const UnicodeString& name = d.GetKeyField(i)->kfdKeyFieldEngine;
    const UnicodeString lookup = name.empty() ? UnicodeString(zfDefaultKeyFieldEngineName) : name;
    if (!zfFindEngineClass<TzfCompositeKeyFieldEngineClass>(TzfCompositeKeyFieldEngine::ClassInfo(), lookup))
      throw EzfCompositeKeyFieldEngineException(zfErrSubEngineNotSupported,
                                                u"CompositeKeyFieldEngine \"%s\" is not registered", {lookup});
  }
}

TzfCompKeyEngine::TzfCompKeyEngine(TzfBaseKeyDescriptor& aDescriptor, bool aWithNullFlags)
    : TzfBaseKeyEngine(aDescriptor), FWithNullFlags(aWithNullFlags) {
  TzfCompKeyDescriptor& d = CompDescriptor(aDescriptor);
  ckeFieldsDescriptor = RelatedFields(aDescriptor);
  ckeKeyFieldCount = d.GetKeyFieldCount();
  ckeKeyOffset = (ckeKeyFieldCount + 7) / 8;
  FPartsOffset = FWithNullFlags ? ckeKeyOffset : 0;
  int32_t offset = FPartsOffset;
  for (int32_t i = 0; i < ckeKeyFieldCount; ++i) {
    std::unique_ptr<TzfCompositeKeyFieldEngine> e = TzfCompositeKeyFieldEngine::CreateEngine(*d.GetKeyField(i));
    auto* full = dynamic_cast<TzfDefaultCKFE*>(e.get());
    if (!full)
      throw EzfCompKeyEngineException(zfErrSubEngineNotSupported, u"Key field engine %s cannot build keys",
                                      {UnicodeString(e->ClassName())});
    e.release();
    ckeKeyFieldEngines.emplace_back(full);
    if (full->ckfeNLSVersionChanged) bkeNLSVersionChanged = true;
    ckeKeyFieldNames.emplace_back(LowerAscii(KeyFieldName(*full)), i);
    ckeKeyFieldInvertNull.push_back(full->InvertNull ? -1 : 1);
    FPartOffsets.push_back(offset);
    offset += full->ckfeKeyLength;
  }
  // The parts must fit the key the descriptor measured.
  if (offset > bkeKeyLength)
    throw EzfCompKeyEngineException(zfErrInvalidIndexStruct, u"Key fields need %d bytes, the key has %d",
                                    {offset, int32_t{bkeKeyLength}});
  std::stable_sort(ckeKeyFieldNames.begin(), ckeKeyFieldNames.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  // Duplicates are ignored: the first key field of a name answers for it.
  ckeKeyFieldNames.erase(std::unique(ckeKeyFieldNames.begin(), ckeKeyFieldNames.end(),
                                     [](const auto& a, const auto& b) { return a.first == b.first; }),
                         ckeKeyFieldNames.end());
}

TzfCompKeyEngine::~TzfCompKeyEngine() { ckeKeyFieldEngines.clear(); }

bool TzfCompKeyEngine::IsFlagged(const uint8_t* aKey, int32_t aIndex) const {
  return FWithNullFlags && (aKey[aIndex / 8] >> (aIndex % 8) & 1) != 0;
}

bool TzfCompKeyEngine::GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType,
                                         uint16_t& aSize, bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) {
  if (aName && aName[0]) aField = GetFieldFromName(rtl::u16(aName));
  if (aField < 0 || aField >= ckeKeyFieldCount) return false;
  TzfDefaultCKFE& e = KeyFieldEngine(aField);
  aType = static_cast<uint16_t>(e.Setup().FieldType);
  aSize = static_cast<uint16_t>(e.ckfeKeyUnits);
  aIsNull = !aData || IsFlagged(aData, aField);
  aValue = aIsNull ? nullptr : aData + PartOffset(aField);
  aCodePage = e.GetStorageCodePage();
  if (aValue && e.Setup().FieldType == zftShortString) {
    aSize = std::min<uint16_t>(aValue[0], static_cast<uint16_t>(std::max(e.ckfeKeyLength - 1, 0)));
    ++aValue;
  }
  return true;
}

int32_t TzfCompKeyEngine::GetFieldFromName(const UnicodeString& aName) {
  const UnicodeString n = LowerAscii(aName);
  auto it = std::lower_bound(ckeKeyFieldNames.begin(), ckeKeyFieldNames.end(), n,
                             [](const auto& a, const UnicodeString& b) { return a.first < b; });
  return it != ckeKeyFieldNames.end() && it->first == n ? it->second : -1;
}

void TzfCompKeyEngine::GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) { aInfo = &KeyFieldEngine(aIndex); }

void TzfCompKeyEngine::ClearKey(uint8_t* aKey) {
  if (!aKey) return;
  std::memset(aKey, 0, bkeKeyLength);
  if (FWithNullFlags) std::memset(aKey, 0xFF, static_cast<size_t>(ckeKeyOffset));
}

uint32_t TzfCompKeyEngine::BuildKey(const uint8_t* aRecord, uint8_t* aKey, int64_t /*aRefNr*/, bool aIgnoreFilter) {
  if (!aRecord) return zfErrInvalidParam;
  if (!aIgnoreFilter && bkeFilter && !bkeFilter->MatchesBuffer(aRecord)) return 1;
  if (FWithNullFlags) ClearKey(aKey);
  for (int32_t i = 0; i < ckeKeyFieldCount; ++i) {
    TzfDefaultCKFE& e = KeyFieldEngine(i);
    const bool isNull = FWithNullFlags && ckeFieldsDescriptor &&
                        ckeFieldsDescriptor->IsRecordFieldNullFast(e.ckfeFieldNumber, aRecord);
    if (isNull) {
      if (e.FilterNull && !aIgnoreFilter) return 1;
      continue;
    }
    if (e.FilterNonNull && !aIgnoreFilter) return 1;
    e.BuildKey(aRecord + e.ckfeFieldOffset, aKey + PartOffset(i));
    if (FWithNullFlags) aKey[i / 8] &= static_cast<uint8_t>(~(1u << (i % 8)));
  }
  return zfErrNone;
}

template <typename TNull, typename TFull, typename TPartial>
int8_t TzfCompKeyEngine::CompareFields(int32_t aFieldCount, int32_t aPartialLen, TNull aIsNull, TFull aFull,
                                       TPartial aPartial) {
  const int32_t k = ckeKeyFieldCount;
  int32_t m;
  if (aFieldCount == 0) m = aPartialLen == 0 ? k : 0;
  else m = aPartialLen == 0 ? std::min(aFieldCount, k) : std::min(aFieldCount, k - 1);
  m = std::max(m, 0);
  auto nulls = [&](int32_t i, int8_t& r) {
    const bool n1 = aIsNull(1, i), n2 = aIsNull(2, i);
    if (!n1 && !n2) return false;
    r = n1 && n2 ? 0 : static_cast<int8_t>(n1 ? -ckeKeyFieldInvertNull[static_cast<size_t>(i)]
                                              : ckeKeyFieldInvertNull[static_cast<size_t>(i)]);
    return true;
  };
  for (int32_t i = 0; i < m; ++i) {
    int8_t r;
    if (!nulls(i, r)) r = aFull(i);
    if (r != 0) return r;
  }
  if (aPartialLen < 1 || m >= k) return 0;
  int8_t r;
  if (nulls(m, r)) return r;
  return aPartial(m);
}

int8_t TzfCompKeyEngine::CompareKey(const uint8_t* aKey1, const uint8_t* aKey2, int32_t aFieldCount,
                                    int32_t aPartialLen) {
  return CompareFields(
      aFieldCount, aPartialLen, [&](int which, int32_t i) { return IsFlagged(which == 1 ? aKey1 : aKey2, i); },
      [&](int32_t i) { return KeyFieldEngine(i).CompareKey(aKey1 + PartOffset(i), aKey2 + PartOffset(i)); },
      [&](int32_t i) {
        TzfDefaultCKFE& e = KeyFieldEngine(i);
        const uint8_t* a = aKey1 + PartOffset(i);
        const uint8_t* b = aKey2 + PartOffset(i);
        return e.PartialCompareKey ? e.PartialCompareKey(a, b, aPartialLen) : e.CompareKey(a, b);
      });
}

int8_t TzfCompKeyEngine::CompareRecord(const uint8_t* aRecord1, int64_t /*aRefNr1*/, const uint8_t* aRecord2,
                                       int64_t /*aRefNr2*/, int32_t aFieldCount, int32_t aPartialLen) {
  return CompareFields(
      aFieldCount, aPartialLen,
      [&](int which, int32_t i) {
        return FWithNullFlags && ckeFieldsDescriptor &&
               ckeFieldsDescriptor->IsRecordFieldNullFast(KeyFieldEngine(i).ckfeFieldNumber,
                                                          which == 1 ? aRecord1 : aRecord2);
      },
      [&](int32_t i) {
        TzfDefaultCKFE& e = KeyFieldEngine(i);
        return e.CompareFieldDirect(aRecord1 + e.ckfeFieldOffset, aRecord2 + e.ckfeFieldOffset);
      },
      [&](int32_t i) {
        TzfDefaultCKFE& e = KeyFieldEngine(i);
        const uint8_t* a = aRecord1 + e.ckfeFieldOffset;
        const uint8_t* b = aRecord2 + e.ckfeFieldOffset;
        return e.PartialCompareFieldDirect ? e.PartialCompareFieldDirect(a, b, aPartialLen) : e.CompareFieldDirect(a, b);
      });
}

rtl::Variant TzfCompKeyEngine::KeyAsVariant(const uint8_t* aKey, int32_t aField) {
  if (aField == -1 && ckeKeyFieldCount == 1) aField = 0;
  if (aField == -1) {
    // The whole key: one element per key field.
    std::vector<rtl::Variant> items;
    for (int32_t i = 0; i < ckeKeyFieldCount; ++i) items.push_back(KeyAsVariant(aKey, i));
    return rtl::Variant::ArrayOf(std::move(items));
  }
  if (aField < 0 || aField >= ckeKeyFieldCount) throw EzfCompKeyEngineException(zfErrInvalidDescNum);
  if (IsFlagged(aKey, aField)) return rtl::Variant::Null();
  TzfDefaultCKFE& e = KeyFieldEngine(aField);
  rtl::Variant v;
  if (e.KeyAsVariant) e.KeyAsVariant(aKey + PartOffset(aField), v);
  return v;
}

bool TzfCompKeyEngine::KeyContainsNulls(const uint8_t* aKey) {
  for (int32_t i = 0; i < ckeKeyFieldCount; ++i)
    if (IsFlagged(aKey, i)) return true;
  return false;
}

namespace {

void Start() {
  TzfBaseKeyEngine::RegisterKeyEngine(TzfCompKeyEngine::ClassInfo());
  TzfBaseKeyEngine::RegisterKeyEngine(TzfNoNullCompKeyEngine::ClassInfo());
}

void Stop() {
  TzfBaseKeyEngine::UnregisterKeyEngine(TzfNoNullCompKeyEngine::ClassInfo());
  TzfBaseKeyEngine::UnregisterKeyEngine(TzfCompKeyEngine::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdKeyEngineCompUnit() {
  static rtl::TUnitInit unit("zfsdKeyEngineComp", &Start, &Stop);
  return unit;
}

}  // namespace zf
