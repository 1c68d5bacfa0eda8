// Callback filters: a buffer passes when a function of the caller says so.
//
// The descriptor keeps a cookie and the callback; it has no stream form (a stored callback would
// mean nothing to another process), so reading one from a stream is refused.
#pragma once
#include <cstdint>
#include <functional>

#include "index/zfsdFilterEngineBase.h"

namespace zf {

// (cookie, buffer): True when the buffer passes.
using TzfFilterCallback = std::function<bool(int32_t aCookie, const uint8_t* aBuffer)>;

ZF_DECLARE_ENGINE_EXCEPTION(EzfCallbackFilterDescriptorException, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfCallbackFilterEngineException, EzfBaseFilterEngineException)

class TzfCallbackFilterDescriptor : public TzfBaseFilterDescriptor {
 public:
  static const TzfFilterDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfCallbackFilterDescriptor(int32_t aCookie, TzfFilterCallback aCallback)
      : cbfdCallback(std::move(aCallback)), cbfdCookie(aCookie) {}

  TzfFilterCallback cbfdCallback;
  int32_t cbfdCookie;
};

class TzfCallbackFilterEngine : public TzfBaseFilterEngine {
 public:
  static const TzfFilterEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // aDescriptor must be a TzfCallbackFilterDescriptor (else EInvalidCast).
  TzfCallbackFilterEngine(TzfBaseFilterDescriptor* aDescriptor, IzfFieldsSource* aFieldsSource);

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
  std::unique_ptr<TzfBaseFilterDescriptor> CreateDescriptor() override;
  // True while inactive or without a callback; else the callback's answer.
  bool MatchesBuffer(const uint8_t* aBuffer) override;

  TzfFilterCallback cbfeCallback;
  int32_t cbfeCookie = 0;
};

// Raises 12289 "<class> can not be created from a stream": the stream constructor of filter
// descriptors without a stream form.
[[noreturn]] void zfRaiseNoStreamForm(const char16_t* aClassName);

rtl::TUnitInit& zfsdFilterEngineCallbackUnit();

}  // namespace zf
