#include "dictionary/zfsdDefaultValueEngine.h"

#include <cstring>
#include <random>

#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdNativeVariantConverter.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlDateTime.h"

namespace zf {

UnicodeString zfEngineNameForDescriptor(UnicodeStringView aDescriptorClassName) {
  static constexpr UnicodeStringView kFrom = u"Descriptor";
  UnicodeString r;
  size_t i = 0;
  while (i < aDescriptorClassName.size()) {
    if (aDescriptorClassName.size() - i >= kFrom.size() &&
        rtl::SameText(aDescriptorClassName.substr(i, kFrom.size()), kFrom)) {
      r += u"Engine";
      i += kFrom.size();
    } else {
      r += aDescriptorClassName[i++];
    }
  }
  return r;
}

// ---- TzfBaseDefaultValueEngine ----

const TzfDefaultValueEngineClass& TzfBaseDefaultValueEngine::ClassInfo() {
  static const TzfDefaultValueEngineClass info(u"TzfBaseDefaultValueEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                                               nullptr, &zfFamilyList<TzfBaseDefaultValueEngine>);
  return info;
}

TzfBaseDefaultValueEngine::TzfBaseDefaultValueEngine(TzfBaseDefaultValueDescriptor& aDescriptor,
                                                     IzfCursorContext* /*aCursor*/)
    : bdceDescriptor(aDescriptor), bdceFieldDescriptor(aDescriptor.Field()) {}

std::unique_ptr<TzfBaseDefaultValueEngine> TzfBaseDefaultValueEngine::CreateFor(
    TzfBaseDefaultValueDescriptor& aDescriptor, IzfCursorContext* aCursor) {
  const TzfDefaultValueEngineClass* cls = aDescriptor.bdvCachedEngineClass.load(std::memory_order_acquire);
  if (!cls) {
    const UnicodeString name = zfEngineNameForDescriptor(aDescriptor.ClassName());
    cls = zfFindEngineClass<TzfDefaultValueEngineClass>(ClassInfo(), name);
    if (!cls || !cls->Create)
      throw EzfBaseDefaultValueEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                               {UnicodeString(u"DefaultValue"), name});
    aDescriptor.bdvCachedEngineClass.store(cls, std::memory_order_release);
  }
  return cls->Create(aDescriptor, aCursor);
}

namespace {

template <class T>
std::unique_ptr<TzfBaseDefaultValueEngine> NewEngine(TzfBaseDefaultValueDescriptor& aDescriptor,
                                                     IzfCursorContext* aCursor) {
  return std::make_unique<T>(aDescriptor, aCursor);
}

// The constant in the field's native form.
class TzfConstDefaultValueEngine : public TzfBaseDefaultValueEngine {
 public:
  static const TzfDefaultValueEngineClass& ClassInfo() {
    static const TzfDefaultValueEngineClass info(u"TzfConstDefaultValueEngine", &TzfBaseDefaultValueEngine::ClassInfo(),
                                                 &NewEngine<TzfConstDefaultValueEngine>);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // The constant in the field's current setup, taken once: engines of many cursors share a
  // read-only dictionary, so the descriptor is only read.
  TzfConstDefaultValueEngine(TzfBaseDefaultValueDescriptor& aDescriptor, IzfCursorContext* aCursor)
      : TzfBaseDefaultValueEngine(aDescriptor, aCursor),
        cdveValue(static_cast<TzfConstDefaultValueDescriptor&>(aDescriptor).ValueForField()) {}

  bool SetDefaultValue(PzfByteArray aFieldValue) override {
    const size_t n = std::min(cdveValue.size(), static_cast<size_t>(std::max(bdceFieldDescriptor.fdLength, 0)));
    if (n > 0) std::memcpy(aFieldValue, cdveValue.data(), n);
    return true;
  }

  std::vector<uint8_t> cdveValue;
};

// Today's date, the time of day or both, in the field's native form.
class TzfCurrentDateTimeDefaultValueEngine : public TzfBaseDefaultValueEngine {
 public:
  static const TzfDefaultValueEngineClass& ClassInfo() {
    static const TzfDefaultValueEngineClass info(u"TzfCurrentDateTimeDefaultValueEngine",
                                                 &TzfBaseDefaultValueEngine::ClassInfo(),
                                                 &NewEngine<TzfCurrentDateTimeDefaultValueEngine>);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  using TzfBaseDefaultValueEngine::TzfBaseDefaultValueEngine;

  bool SetDefaultValue(PzfByteArray aFieldValue) override {
    const TzfFieldDescriptor& f = bdceFieldDescriptor;
    VariantToBuffer(f.fdType, 0, f.fdUnits, f.fdDecPl, rtl::Variant::FromDate(rtl::Now()), aFieldValue, f.fdLength);
    return true;
  }
};

// The session's user name, converted once when the engine is made.
class TzfCurrentUserDefaultValueEngine : public TzfBaseDefaultValueEngine {
 public:
  static const TzfDefaultValueEngineClass& ClassInfo() {
    static const TzfDefaultValueEngineClass info(u"TzfCurrentUserDefaultValueEngine",
                                                 &TzfBaseDefaultValueEngine::ClassInfo(),
                                                 &NewEngine<TzfCurrentUserDefaultValueEngine>);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfCurrentUserDefaultValueEngine(TzfBaseDefaultValueDescriptor& aDescriptor, IzfCursorContext* aCursor)
      : TzfBaseDefaultValueEngine(aDescriptor, aCursor),
        cudveUserName(static_cast<size_t>(std::max(bdceFieldDescriptor.fdLength, 0)), 0) {
    const UnicodeString user = aCursor ? aCursor->GetSessionUserName() : UnicodeString();
    bdceFieldDescriptor.VariantToValue(cudveUserName.data(), rtl::Variant(user));
  }

  bool SetDefaultValue(PzfByteArray aFieldValue) override {
    if (!cudveUserName.empty()) std::memcpy(aFieldValue, cudveUserName.data(), cudveUserName.size());
    return true;
  }

  std::vector<uint8_t> cudveUserName;
};

// A new random GUID (version 4); False when no random source is available.
class TzfAutoGuidDefaultValueEngine : public TzfBaseDefaultValueEngine {
 public:
  static const TzfDefaultValueEngineClass& ClassInfo() {
    static const TzfDefaultValueEngineClass info(u"TzfAutoGuidDefaultValueEngine",
                                                 &TzfBaseDefaultValueEngine::ClassInfo(),
                                                 &NewEngine<TzfAutoGuidDefaultValueEngine>);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  using TzfBaseDefaultValueEngine::TzfBaseDefaultValueEngine;

  bool SetDefaultValue(PzfByteArray aFieldValue) override {
    uint8_t g[16];
    try {
      std::random_device rd;
      for (size_t i = 0; i < sizeof g; i += 4) {
        const uint32_t r = rd();
        std::memcpy(g + i, &r, 4);
      }
    } catch (...) {
      return false;
    }
    g[7] = static_cast<uint8_t>((g[7] & 0x0F) | 0x40);  // version 4 (D3's high nibble, little-endian)
    g[8] = static_cast<uint8_t>((g[8] & 0x3F) | 0x80);  // variant
    std::memcpy(aFieldValue, g, sizeof g);
    return true;
  }
};

// Zeroes.
class TzfEmptyDefaultValueEngine : public TzfBaseDefaultValueEngine {
 public:
  static const TzfDefaultValueEngineClass& ClassInfo() {
    static const TzfDefaultValueEngineClass info(u"TzfEmptyDefaultValueEngine", &TzfBaseDefaultValueEngine::ClassInfo(),
                                                 &NewEngine<TzfEmptyDefaultValueEngine>);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  using TzfBaseDefaultValueEngine::TzfBaseDefaultValueEngine;

  bool SetDefaultValue(PzfByteArray aFieldValue) override {
    if (bdceFieldDescriptor.fdLength > 0) std::memset(aFieldValue, 0, static_cast<size_t>(bdceFieldDescriptor.fdLength));
    return true;
  }
};

}  // namespace

// ---- TzfDefaultValueHandler ----

std::unique_ptr<TzfDefaultValueHandler> TzfDefaultValueHandler::CreateFor(TzfFieldsDescriptor& aFieldsDescriptor,
                                                                          TzfApplyAt aApplyAt,
                                                                          IzfCursorContext* aCursor) {
  std::unique_ptr<TzfDefaultValueHandler> h(new TzfDefaultValueHandler(aFieldsDescriptor));
  h->dvhEnginesByIndex.assign(static_cast<size_t>(std::max(aFieldsDescriptor.FieldCount, 0)), nullptr);
  for (int32_t i = 0; i < aFieldsDescriptor.FieldCount; ++i) {
    TzfFieldDescriptor& f = *aFieldsDescriptor.FieldDescriptor[static_cast<size_t>(i)];
    auto* d = dynamic_cast<TzfBaseDefaultValueDescriptor*>(f.fdDefaultValue.get());
    if (!d || !d->bdvApplyAt.Contains(aApplyAt)) continue;
    h->dvhEngines.push_back(TzfBaseDefaultValueEngine::CreateFor(*d, aCursor));
    TzfBaseDefaultValueEngine* e = h->dvhEngines.back().get();
    if (d->bdvApplyOnInsert) h->dvhEnginesInsert[d->bdvOverwriteNonNull ? 1 : 0].push_back(e);
    if (d->bdvApplyOnModify) h->dvhEnginesModify[d->bdvOverwriteNonNull ? 1 : 0].push_back(e);
    h->dvhEnginesByIndex[static_cast<size_t>(i)] = e;
  }
  if (h->dvhEngines.empty()) return nullptr;
  return h;
}

bool TzfDefaultValueHandler::ApplyOne(TzfBaseDefaultValueEngine& aEngine, PzfByteArray aRecord) {
  const TzfFieldDescriptor& f = aEngine.bdceFieldDescriptor;
  const bool set = aEngine.SetDefaultValue(aRecord + f.fdOffset);
  dvhFieldsDescriptor.SetRecordFieldNull(f.fdNumber, aRecord, !set);
  return set;
}

void TzfDefaultValueHandler::Apply(const std::vector<TzfBaseDefaultValueEngine*> (&aLists)[2], PzfByteArray aRecord) {
  for (TzfBaseDefaultValueEngine* e : aLists[0])
    if (dvhFieldsDescriptor.IsRecordFieldNullFast(e->bdceFieldDescriptor.fdNumber, aRecord)) ApplyOne(*e, aRecord);
  for (TzfBaseDefaultValueEngine* e : aLists[1]) ApplyOne(*e, aRecord);
}

void TzfDefaultValueHandler::SetDefaultValuesInsert(PzfByteArray aRecord) { Apply(dvhEnginesInsert, aRecord); }

void TzfDefaultValueHandler::SetDefaultValuesModify(PzfByteArray aRecord) { Apply(dvhEnginesModify, aRecord); }

bool TzfDefaultValueHandler::SetDefaultValue(PzfByteArray aRecord, int32_t aField) {
  if (aField < 0 || aField >= static_cast<int32_t>(dvhEnginesByIndex.size()))
    throw rtl::ERangeError(u"Range check error");
  TzfBaseDefaultValueEngine* e = dvhEnginesByIndex[static_cast<size_t>(aField)];
  return e ? ApplyOne(*e, aRecord) : false;
}

// ---- Unit ----

namespace {

std::vector<const TzfDefaultValueEngineClass*> EngineClasses() {
  return {&TzfConstDefaultValueEngine::ClassInfo(), &TzfCurrentDateTimeDefaultValueEngine::ClassInfo(),
          &TzfCurrentUserDefaultValueEngine::ClassInfo(), &TzfAutoGuidDefaultValueEngine::ClassInfo(),
          &TzfEmptyDefaultValueEngine::ClassInfo()};
}

void StartDefaultValueEngines() {
  for (const auto* c : EngineClasses()) TzfBaseRegisterableEngine::RegisterEngine(*c);
}

void StopDefaultValueEngines() {
  for (const auto* c : EngineClasses()) TzfBaseRegisterableEngine::UnregisterEngine(*c);
}

}  // namespace

rtl::TUnitInit& zfsdDefaultValueEngineUnit() {
  static rtl::TUnitInit unit("zfsdDefaultValueEngine", &StartDefaultValueEngines, &StopDefaultValueEngines);
  return unit;
}

}  // namespace zf
