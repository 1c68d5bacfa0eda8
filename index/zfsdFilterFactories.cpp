#include "index/zfsdFilterFactories.h"

#include "dictionary/zfsdAbstractCursor.h"
#include "index/zfsdFilterEngineCallback.h"
#include "index/zfsdFilterEngineSimpleExpression.h"

namespace zf {

namespace {

std::unique_ptr<TzfBaseFilterDescriptor> CreateCallback(int32_t aCookie, const TzfFilterCallback& aCallback) {
  return std::make_unique<TzfCallbackFilterDescriptor>(aCookie, aCallback);
}

std::unique_ptr<TzfBaseFilterDescriptor> CreateSimpleExpression(const uint8_t* aExpression, int32_t aCodePage) {
  return std::make_unique<TzfSimpleExpressionFilterDescriptor>(aExpression, aCodePage);
}

void Start() {
  TzfFilterDescriptorFactories factories;
  factories.CreateCallback = &CreateCallback;
  factories.CreateSimpleExpression = &CreateSimpleExpression;
  zfSetFilterDescriptorFactories(factories);
}

void Stop() { zfSetFilterDescriptorFactories({}); }

}  // namespace

rtl::TUnitInit& zfsdFilterFactoriesUnit() {
  static rtl::TUnitInit unit("zfsdFilterFactories", &Start, &Stop);
  return unit;
}

}  // namespace zf
