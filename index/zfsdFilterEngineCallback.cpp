#include "index/zfsdFilterEngineCallback.h"

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"

namespace zf {

void zfRaiseNoStreamForm(const char16_t* aClassName) {
  throw EzfBaseException(zfErrNotSupported, u"%s can not be created from a stream", {UnicodeString(aClassName)});
}

const TzfFilterDescriptorClass& TzfCallbackFilterDescriptor::ClassInfo() {
  static const TzfFilterDescriptorClass info(
      u"TzfCallbackFilterDescriptor", &TzfBaseFilterDescriptor::ClassInfo(),
      [](rtl::TStream&) -> std::unique_ptr<TzfBaseFilterDescriptor> {
        zfRaiseNoStreamForm(u"TzfCallbackFilterDescriptor");
      });
  return info;
}

const TzfFilterEngineClass& TzfCallbackFilterEngine::ClassInfo() {
  static const TzfFilterEngineClass info(
      u"TzfCallbackFilterEngine", &TzfBaseFilterEngine::ClassInfo(),
      [](TzfBaseFilterDescriptor* d, IzfFieldsSource* s) -> std::unique_ptr<TzfBaseFilterEngine> {
        return std::make_unique<TzfCallbackFilterEngine>(d, s);
      });
  return info;
}

TzfCallbackFilterEngine::TzfCallbackFilterEngine(TzfBaseFilterDescriptor* aDescriptor, IzfFieldsSource* aFieldsSource)
    : TzfBaseFilterEngine(aDescriptor, aFieldsSource) {
  auto* d = dynamic_cast<TzfCallbackFilterDescriptor*>(aDescriptor);
  if (!d) throw rtl::EInvalidCast(u"Invalid class typecast");
  cbfeCallback = d->cbfdCallback;
  cbfeCookie = d->cbfdCookie;
}

void TzfCallbackFilterEngine::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfBaseFilterEngine::AddExceptionData(aContainer);
  aContainer.AddInteger(u"Cookie", cbfeCookie);
}

std::unique_ptr<TzfBaseFilterDescriptor> TzfCallbackFilterEngine::CreateDescriptor() {
  return std::make_unique<TzfCallbackFilterDescriptor>(cbfeCookie, cbfeCallback);
}

bool TzfCallbackFilterEngine::MatchesBuffer(const uint8_t* aBuffer) {
  if (!IsActive() || !cbfeCallback) return true;
  return cbfeCallback(cbfeCookie, aBuffer);
}

namespace {

void Start() {
  TzfBaseFilterDescriptor::RegisterFilterDescriptor(TzfCallbackFilterDescriptor::ClassInfo());
  TzfBaseFilterEngine::RegisterFilterEngine(TzfCallbackFilterEngine::ClassInfo());
}

void Stop() {
  TzfBaseFilterEngine::UnregisterFilterEngine(TzfCallbackFilterEngine::ClassInfo());
  TzfBaseFilterDescriptor::UnregisterFilterDescriptor(TzfCallbackFilterDescriptor::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdFilterEngineCallbackUnit() {
  static rtl::TUnitInit unit("zfsdFilterEngineCallback", &Start, &Stop);
  return unit;
}

}  // namespace zf
