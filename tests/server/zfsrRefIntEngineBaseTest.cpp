// The referential-integrity engine registry: a table without "RefIntegrity" descriptor gets no
// engine; one with such a descriptor is refused with 15503 while no engine class is registered,
// never opened without the checks its dictionary asks for; a registered class is found by name.
#include <gtest/gtest.h>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllErrors.h"
#include "server/zfsrRefIntEngineBase.h"
#include "tests/dictionary/zfsdTestUtil.h"

namespace zf::test {
namespace {

class RefIntegrityEngine : public DictionaryStarted {
 protected:
  void SetUp() override {
    dict.ddBaseName = u"T";
    dict.tdFieldsDescriptor->AddField(u"F0", u"", zftInt32, 0, 0, false, nullptr);
  }
  void AddRefIntegrity() {
    dict.tdCustomDescsDescriptor->AddCustom(u"RefIntegrity", &TzfRefIntegrityDescriptor::ClassInfo());
  }
  TzfDataDictionary dict;
};

TEST_F(RefIntegrityEngine, NoDescriptorNoEngine) {
  EXPECT_EQ(TzfBaseRefIntegrityEngine::CreateFor(&dict, nullptr), nullptr);
  EXPECT_EQ(TzfBaseRefIntegrityEngine::CreateFor(static_cast<TzfBaseTableDescriptor*>(nullptr), nullptr), nullptr);
}

TEST_F(RefIntegrityEngine, DescriptorWithoutEngineClassIsRefusedWith15503) {
  AddRefIntegrity();
  try {
    TzfBaseRefIntegrityEngine::CreateFor(&dict, nullptr);
    FAIL() << "a table with a RefIntegrity descriptor must not get a cursor without its engine";
  } catch (const EzfBaseRefIntegrityEngineException& e) {
    EXPECT_EQ(e.ErrorCode(), zfErrSubEngineNotSupported);
    EXPECT_NE(e.Message().find(u"Unknown RefIntegrity engine: \"TzfRefIntegrityEngine\""), UnicodeString::npos);
  }
}

class TStubRefIntegrityEngine : public TzfBaseRefIntegrityEngine {
 public:
  static const TzfRefIntegrityEngineClass& Info() {
    static const TzfRefIntegrityEngineClass info(u"TzfRefIntegrityEngine", &TzfBaseRefIntegrityEngine::ClassInfo(),
                                                 &New);
    return info;
  }
  const TzfRegisterableClass& ClassType() const override { return Info(); }
  uint32_t Notify(TzfEngineAction, bool, const uint8_t*, const uint8_t*) override { return 0; }
  static std::unique_ptr<TzfBaseRefIntegrityEngine> New(TzfRefIntegrityDescriptor&, TzfAbstractCursor*) {
    return std::make_unique<TStubRefIntegrityEngine>();
  }
};

TEST_F(RefIntegrityEngine, RegisteredClassIsFoundByTheDescriptorsName) {
  AddRefIntegrity();
  TzfBaseRegisterableEngine::RegisterEngine(TStubRefIntegrityEngine::Info());
  std::unique_ptr<TzfBaseRefIntegrityEngine> engine;
  EXPECT_NO_THROW(engine = TzfBaseRefIntegrityEngine::CreateFor(&dict, nullptr));
  TzfBaseRegisterableEngine::UnregisterEngine(TStubRefIntegrityEngine::Info());
  EXPECT_NE(dynamic_cast<TStubRefIntegrityEngine*>(engine.get()), nullptr);
}

}  // namespace
}  // namespace zf::test
