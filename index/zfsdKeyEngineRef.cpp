#include "index/zfsdKeyEngineRef.h"

#include <cstring>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr int32_t kRefKeyLength = 8;

int8_t Cmp(int64_t a, int64_t b) { return a < b ? -1 : (b < a ? 1 : 0); }

}  // namespace

const TzfKeyEngineClass& TzfRefKeyEngine::ClassInfo() {
  static const TzfKeyEngineClass info(
      u"TzfRefKeyEngine", &TzfBaseKeyEngine::ClassInfo(),
      [](TzfBaseKeyDescriptor& d) -> std::unique_ptr<TzfBaseKeyEngine> { return std::make_unique<TzfRefKeyEngine>(d); },
      &TzfRefKeyEngine::CheckValidFromDescriptor);
  return info;
}

void TzfRefKeyEngine::CheckValidFromDescriptor(TzfBaseKeyDescriptor& aDescriptor) {
  if (!dynamic_cast<TzfRefKeyDescriptor*>(&aDescriptor)) throw rtl::EInvalidCast(u"Invalid class typecast");
}

TzfRefKeyEngine::TzfRefKeyEngine(TzfBaseKeyDescriptor& aDescriptor) : TzfBaseKeyEngine(aDescriptor, kRefKeyLength) {}

int64_t TzfRefKeyEngine::RefNrOf(const uint8_t* aKey) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | aKey[i];
  return static_cast<int64_t>(v);
}

bool TzfRefKeyEngine::GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType,
                                        uint16_t& aSize, bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) {
  if (aName && aName[0]) aField = GetFieldFromName(rtl::u16(aName));
  if (aField != 0) return false;
  aType = static_cast<uint16_t>(zftInt64);
  aSize = 0;
  aIsNull = aData == nullptr;
  aValue = aData;
  aCodePage = 0;
  return true;
}

int32_t TzfRefKeyEngine::GetFieldFromName(const UnicodeString& aName) { return rtl::SameText(aName, u"RefNr") ? 0 : -1; }

void TzfRefKeyEngine::CopyKey(const uint8_t* aFrom, uint8_t* aTo) { std::memcpy(aTo, aFrom, kRefKeyLength); }

void TzfRefKeyEngine::ClearKey(uint8_t* aKey) {
  if (aKey) std::memset(aKey, 0, kRefKeyLength);
}

uint32_t TzfRefKeyEngine::BuildKey(const uint8_t* /*aRecord*/, uint8_t* aKey, int64_t aRefNr, bool /*aIgnoreFilter*/) {
  const uint64_t v = static_cast<uint64_t>(aRefNr);
  for (int i = 0; i < 8; ++i) aKey[i] = static_cast<uint8_t>(v >> (8 * i));
  return zfErrNone;
}

int8_t TzfRefKeyEngine::CompareKey(const uint8_t* aKey1, const uint8_t* aKey2, int32_t, int32_t) {
  return Cmp(RefNrOf(aKey1), RefNrOf(aKey2));
}

int8_t TzfRefKeyEngine::CompareRecord(const uint8_t*, int64_t aRefNr1, const uint8_t*, int64_t aRefNr2, int32_t,
                                      int32_t) {
  return Cmp(aRefNr1, aRefNr2);
}

int8_t TzfRefKeyEngine::CompareRecord(const uint8_t*, int64_t aRefNr1, const uint8_t*, int64_t aRefNr2) {
  return Cmp(aRefNr1, aRefNr2);
}

rtl::Variant TzfRefKeyEngine::KeyAsVariant(const uint8_t* aKey, int32_t aField) {
  if (aField != -1 && aField != 0) throw EzfRefKeyEngineException(zfErrInvalidDescNum);
  return rtl::Variant(RefNrOf(aKey));
}

namespace {

void Start() { TzfBaseKeyEngine::RegisterKeyEngine(TzfRefKeyEngine::ClassInfo()); }
void Stop() { TzfBaseKeyEngine::UnregisterKeyEngine(TzfRefKeyEngine::ClassInfo()); }

}  // namespace

rtl::TUnitInit& zfsdKeyEngineRefUnit() {
  static rtl::TUnitInit unit("zfsdKeyEngineRef", &Start, &Stop);
  return unit;
}

}  // namespace zf
