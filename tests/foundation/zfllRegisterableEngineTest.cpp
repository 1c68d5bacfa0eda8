#include "foundation/zfllRegisterableEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/zfllExceptionData.h"
#include "foundation/zfrbClassFactoryRegistry.h"
#include "foundation/zfrbRegistries.h"
#include "platform/rtl/rtlException.h"

using namespace zf;

namespace {

// ---- Engine and descriptor registries ----

// A family of test engines with its own virtual constructor.
class TTestEngine : public TzfBaseRegisterableEngine {
 public:
  explicit TTestEngine(int aArg) : FArg(aArg) {}
  int FArg;
};

struct TTestEngineClass : TzfRegisterableClass {
  using TzfRegisterableClass::TzfRegisterableClass;
  TTestEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                   TTestEngine* (*aCreate)(int))
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TTestEngine* (*Create)(int) = nullptr;
};

class TTestEngineA : public TTestEngine {
 public:
  using TTestEngine::TTestEngine;
  static const TTestEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
};
class TTestEngineB : public TTestEngine {
 public:
  using TTestEngine::TTestEngine;
  static const TTestEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
};

const TTestEngineClass& FamilyInfo() {
  static const TTestEngineClass info(u"TTestEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                                     &zfFamilyList<TTestEngine>, nullptr);
  return info;
}
const TTestEngineClass& TTestEngineA::ClassInfo() {
  static const TTestEngineClass info(u"TTestEngineA", &FamilyInfo(), nullptr,
                                     [](int a) -> TTestEngine* { return new TTestEngineA(a); });
  return info;
}
const TTestEngineClass& TTestEngineB::ClassInfo() {
  static const TTestEngineClass info(u"TTestEngineB", &FamilyInfo(), nullptr,
                                     [](int a) -> TTestEngine* { return new TTestEngineB(a); });
  return info;
}

// A second family, to show that families do not share names.
class TOtherEngine : public TzfBaseRegisterableEngine {};
const TzfRegisterableClass& OtherFamily() {
  static const TzfRegisterableClass info(u"TOtherEngine", &TzfBaseRegisterableEngine::ClassInfo(),
                                         &zfFamilyList<TOtherEngine>);
  return info;
}
const TzfRegisterableClass& OtherA() {
  static const TzfRegisterableClass info(u"TTestEngineA", &OtherFamily());
  return info;
}

class EngineRegistry : public ::testing::Test {
 protected:
  void TearDown() override {
    TzfBaseRegisterableEngine::UnregisterEngine(TTestEngineA::ClassInfo());
    TzfBaseRegisterableEngine::UnregisterEngine(TTestEngineB::ClassInfo());
    TzfBaseRegisterableEngine::UnregisterEngine(OtherA());
    ASSERT_EQ(*zfFamilyList<TTestEngine>(), nullptr);
  }
  const TzfRegisterableClass* Find(UnicodeStringView aName) {
    return TzfBaseRegisterableEngine::FindEngineClass(FamilyInfo(), aName);
  }
};

TEST_F(EngineRegistry, FindByNameOrAliasIgnoringCase) {
  EXPECT_EQ(Find(u"TTestEngineA"), nullptr);  // no registry yet
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo());
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo(), u"AliasA");
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineB::ClassInfo());
  EXPECT_EQ(Find(u"ttestenginea"), &TTestEngineA::ClassInfo());
  EXPECT_EQ(Find(u"ALIASA"), &TTestEngineA::ClassInfo());
  EXPECT_EQ(Find(u"TTestEngineB"), &TTestEngineB::ClassInfo());
  EXPECT_EQ(Find(u"Unknown"), nullptr);
  // A lookup on any class of the family reaches the family's registry.
  EXPECT_EQ(TzfBaseRegisterableEngine::FindEngineClass(TTestEngineB::ClassInfo(), u"AliasA"),
            &TTestEngineA::ClassInfo());

  // The typed lookup hands out the family's virtual constructor.
  const TTestEngineClass* c = zfFindEngineClass<TTestEngineClass>(FamilyInfo(), u"aliasa");
  ASSERT_NE(c, nullptr);
  std::unique_ptr<TTestEngine> e(c->Create(7));
  EXPECT_EQ(e->FArg, 7);
  EXPECT_EQ(UnicodeString(e->ClassName()), u"TTestEngineA");
}

TEST_F(EngineRegistry, FamiliesAreSeparate) {
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo());
  TzfBaseRegisterableEngine::RegisterEngine(OtherA());  // same name, other family: no clash
  EXPECT_EQ(Find(u"TTestEngineA"), &TTestEngineA::ClassInfo());
  EXPECT_EQ(TzfBaseRegisterableEngine::FindEngineClass(OtherFamily(), u"TTestEngineA"), &OtherA());
  // The typed lookup refuses a class of another class-info type.
  EXPECT_EQ(zfFindEngineClass<TTestEngineClass>(OtherFamily(), u"TTestEngineA"), nullptr);
}

TEST_F(EngineRegistry, DuplicateNameRefusedAndRegistryUnchanged) {
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo(), u"Shared");
  try {
    TzfBaseRegisterableEngine::RegisterEngine(TTestEngineB::ClassInfo(), u"shared");
    FAIL() << "duplicate accepted";
  } catch (const rtl::EStringListError& e) {
    EXPECT_EQ(e.Message(), u"String list does not allow duplicates");
  }
  EXPECT_EQ(Find(u"Shared"), &TTestEngineA::ClassInfo());
  EXPECT_EQ(TzfBaseRegisterableEngine::GetRegisteredEngines(FamilyInfo(), true).size(), 1u);
  EXPECT_THROW(TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo(), u"Shared"), rtl::EStringListError);
}

TEST_F(EngineRegistry, ListWithAndWithoutAliases) {
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineB::ClassInfo(), u"Zeta");
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo(), u"Alpha");
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo(), u"ttestengineA");  // the class name
  TzfRegisteredClasses all = TzfBaseRegisterableEngine::GetRegisteredEngines(FamilyInfo(), true);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].first, u"Alpha");  // name order
  EXPECT_EQ(all[1].first, u"ttestengineA");
  EXPECT_EQ(all[2].first, u"Zeta");
  TzfRegisteredClasses plain = TzfBaseRegisterableEngine::GetRegisteredEngines(FamilyInfo(), false);
  ASSERT_EQ(plain.size(), 1u);  // only the entry named like its class (case ignored)
  EXPECT_EQ(plain[0].second, &TTestEngineA::ClassInfo());
}

TEST_F(EngineRegistry, UnregisterRemovesEveryNameAndFreesTheEmptyRegistry) {
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo());
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo(), u"A1");
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineA::ClassInfo(), u"A2");
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineB::ClassInfo());
  TzfBaseRegisterableEngine::UnregisterEngine(TTestEngineA::ClassInfo());
  EXPECT_EQ(Find(u"TTestEngineA"), nullptr);
  EXPECT_EQ(Find(u"A1"), nullptr);
  EXPECT_EQ(Find(u"A2"), nullptr);
  EXPECT_EQ(Find(u"TTestEngineB"), &TTestEngineB::ClassInfo());
  ASSERT_NE(*zfFamilyList<TTestEngine>(), nullptr);

  TzfBaseRegisterableEngine::UnregisterEngine(TTestEngineB::ClassInfo());
  EXPECT_EQ(*zfFamilyList<TTestEngine>(), nullptr);  // the last removal freed the registry
  EXPECT_EQ(Find(u"TTestEngineB"), nullptr);
  EXPECT_TRUE(TzfBaseRegisterableEngine::GetRegisteredEngines(FamilyInfo(), true).empty());
  TzfBaseRegisterableEngine::UnregisterEngine(TTestEngineB::ClassInfo());  // nothing to do

  // A later registration creates a new registry.
  TzfBaseRegisterableEngine::RegisterEngine(TTestEngineB::ClassInfo());
  EXPECT_EQ(Find(u"TTestEngineB"), &TTestEngineB::ClassInfo());
}

TEST(Registries, DescribesItselfByClassName) {
  TTestEngineB engine(1);
  TzfExceptionDataRef data = zfCreateExceptionDataContainer(u"ExceptionData");
  data->AddObject(u"Engine", &engine);
  ASSERT_EQ(data->GetCount(), 1);
  TzfExceptionDataRef sub = data->GetItem(0)->AsContainer();
  ASSERT_EQ(sub->GetCount(), 1);
  EXPECT_EQ(sub->GetItem(0)->GetName(), u"ClassName");
  EXPECT_EQ(sub->GetItem(0)->AsString(), u"TTestEngineB");
}

TEST(Registries, BasesCannotRegister) {
  class TStray : public TzfBaseRegisterableDescriptor {};
  static const TzfRegisterableClass stray(u"TStray", &TzfBaseRegisterableDescriptor::ClassInfo());
  try {
    TzfBaseRegisterableEngine::RegisterEngine(TzfBaseRegisterableEngine::ClassInfo());
    FAIL();
  } catch (const rtl::EAssertionFailed& e) {
    EXPECT_NE(e.Message().find(u"zfllRegisterableEngine, line 88"), UnicodeString::npos);
  }
  try {
    TzfBaseRegisterableDescriptor::RegisterDescriptor(stray);  // no family on the way up
    FAIL();
  } catch (const rtl::EAssertionFailed& e) {
    EXPECT_NE(e.Message().find(u"zfllRegisterableEngine, line 165"), UnicodeString::npos);
  }
  EXPECT_THROW(TzfBaseRegisterableDescriptor::FindDescriptorClass(stray, u"x"), rtl::EAssertionFailed);
}

TEST(Registries, DescriptorFamily) {
  class TTestDescriptor : public TzfBaseRegisterableDescriptor {};
  static const TzfRegisterableClass family(u"TTestDescriptor", &TzfBaseRegisterableDescriptor::ClassInfo(),
                                           &zfFamilyList<TTestDescriptor>);
  static const TzfRegisterableClass child(u"TTestChildDescriptor", &family);
  TzfBaseRegisterableDescriptor::RegisterDescriptor(child);
  TzfBaseRegisterableDescriptor::RegisterDescriptor(child, u"Child");
  EXPECT_EQ(TzfBaseRegisterableDescriptor::FindDescriptorClass(family, u"CHILD"), &child);
  EXPECT_EQ(TzfBaseRegisterableDescriptor::GetRegisteredDescriptors(family, false).size(), 1u);
  EXPECT_THROW(TzfBaseRegisterableDescriptor::RegisterDescriptor(child), rtl::EStringListError);
  TzfBaseRegisterableDescriptor::UnregisterDescriptor(child);
  EXPECT_EQ(*zfFamilyList<TTestDescriptor>(), nullptr);
  EXPECT_TRUE(child.InheritsFrom(&TzfBaseRegisterableDescriptor::ClassInfo()));
  EXPECT_FALSE(family.InheritsFrom(&child));
}

// ---- Class-factory registry ----

constexpr rtl::TGUID kClassA{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr rtl::TGUID kClassB{0xAAAAAAAA, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr rtl::TGUID kIID{0x01020304, 0x0506, 0x0708, {1, 2, 3, 4, 5, 6, 7, 8}};

class TProduct : public TzfInterfacedObject {
 public:
  explicit TProduct(int aTag) : Tag(aTag) {}
  int Tag;
};

class TFactory : public IzfClassFactory {
 public:
  explicit TFactory(int aTag) : FTag(aTag) {}
  HRESULT CreateInstance(TzfInterfacedObject* aOuter, const rtl::TGUID& aInterfaceID,
                         RefPtr<TzfInterfacedObject>& aObject) override {
    if (aOuter) return static_cast<HRESULT>(0x80040110u);  // no aggregation
    if (!(aInterfaceID == kIID)) return E_NOINTERFACE;
    aObject = RefPtr<TProduct>::Create(FTag);
    return S_OK;
  }

 private:
  int FTag;
};

class TNotifyingFactory : public TFactory, public IzfClassFactoryNotify {
 public:
  TNotifyingFactory(int aTag, HRESULT aResult, std::vector<int>* aLog) : TFactory(aTag), FResult(aResult), FLog(aLog), FTag(aTag) {}
  HRESULT Notify() override {
    FLog->push_back(FTag);
    return FResult;
  }

 private:
  HRESULT FResult;
  std::vector<int>* FLog;
  int FTag;
};

TEST(ClassFactoryRegistry, CreateRegisterAndUnregister) {
  RefPtr<TzfClassFactoryRegistry> reg = RefPtr<TzfClassFactoryRegistry>::Create();
  RefPtr<TzfInterfacedObject> obj;
  EXPECT_EQ(reg->CreateInstance(kClassA, nullptr, kIID, obj), CO_E_OBJNOTREG);

  RefPtr<IzfClassFactoryControl> control;
  ASSERT_EQ(reg->RegisterClassFactory(kClassA, RefPtr<TFactory>::Create(1), &control), S_OK);
  ASSERT_TRUE(control);
  ASSERT_EQ(reg->CreateInstance(kClassA, nullptr, kIID, obj), S_OK);
  EXPECT_EQ(dynamic_cast<TProduct*>(obj.get())->Tag, 1);
  // The factory's own results pass through.
  EXPECT_EQ(reg->CreateInstance(kClassA, nullptr, kClassB, obj), E_NOINTERFACE);
  EXPECT_EQ(obj, nullptr);

  // A second registration of the class ID changes nothing.
  RefPtr<IzfClassFactoryControl> second;
  EXPECT_EQ(reg->RegisterClassFactory(kClassA, RefPtr<TFactory>::Create(2), &second), CO_E_OBJISREG);
  EXPECT_EQ(second, nullptr);
  ASSERT_EQ(reg->CreateInstance(kClassA, nullptr, kIID, obj), S_OK);
  EXPECT_EQ(dynamic_cast<TProduct*>(obj.get())->Tag, 1);
  EXPECT_EQ(reg->RegisterClassFactory(kClassB, nullptr, &second), E_INVALIDARG);
  EXPECT_EQ(reg->Count(), 1u);

  EXPECT_EQ(control->Unregister(), S_OK);
  EXPECT_EQ(control->Unregister(), S_FALSE);
  EXPECT_EQ(reg->CreateInstance(kClassA, nullptr, kIID, obj), CO_E_OBJNOTREG);
  // The class ID is free again.
  EXPECT_EQ(reg->RegisterClassFactory(kClassA, RefPtr<TFactory>::Create(3), &second), S_OK);
}

TEST(ClassFactoryRegistry, RegistrationLastsAsLongAsTheControl) {
  RefPtr<TzfClassFactoryRegistry> reg = RefPtr<TzfClassFactoryRegistry>::Create();
  RefPtr<IzfClassFactoryControl> control;
  ASSERT_EQ(reg->RegisterClassFactory(kClassA, RefPtr<TFactory>::Create(1), &control), S_OK);
  RefPtr<IzfClassFactoryControl> copy = control;
  control.reset();
  EXPECT_EQ(reg->Count(), 1u);  // still held
  copy.reset();
  EXPECT_EQ(reg->Count(), 0u);  // the last release unregistered it
  // Without an out control nobody holds the registration: it is gone at once.
  EXPECT_EQ(reg->RegisterClassFactory(kClassB, RefPtr<TFactory>::Create(1), nullptr), S_OK);
  EXPECT_EQ(reg->Count(), 0u);
}

TEST(ClassFactoryRegistry, NotifyFactories) {
  RefPtr<TzfClassFactoryRegistry> reg = RefPtr<TzfClassFactoryRegistry>::Create();
  EXPECT_EQ(reg->NotifyFactories(), S_OK);
  std::vector<int> log;
  RefPtr<IzfClassFactoryControl> cPlain, cA, cB;
  constexpr rtl::TGUID kClassC{0x55555555, 0, 0, {}};
  ASSERT_EQ(reg->RegisterClassFactory(kClassC, RefPtr<TFactory>::Create(9), &cPlain), S_OK);
  ASSERT_EQ(reg->RegisterClassFactory(kClassB, RefPtr<TNotifyingFactory>::Create(2, S_FALSE, &log), &cB), S_OK);
  ASSERT_EQ(reg->RegisterClassFactory(kClassA, RefPtr<TNotifyingFactory>::Create(1, S_OK, &log), &cA), S_OK);
  // Class-ID text order: {1111...}, {5555...} (no notification), {AAAA...}; the last result counts.
  EXPECT_EQ(reg->NotifyFactories(), S_FALSE);
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  EXPECT_EQ(cPlain->NotifyFactory(), E_NOINTERFACE);
  EXPECT_EQ(cB->NotifyFactory(), S_FALSE);

  // A negative result stops the walk.
  cA.reset();
  ASSERT_EQ(reg->RegisterClassFactory(kClassA, RefPtr<TNotifyingFactory>::Create(1, E_UNEXPECTED, &log), &cA), S_OK);
  log.clear();
  EXPECT_EQ(reg->NotifyFactories(), E_UNEXPECTED);
  EXPECT_EQ(log, (std::vector<int>{1}));
}

// A factory whose notification uses the registry (here: registers a further factory) must not
// deadlock: factories are told outside the registry's lock.
class TReentrantFactory : public TFactory, public IzfClassFactoryNotify {
 public:
  explicit TReentrantFactory(TzfClassFactoryRegistry* aRegistry) : TFactory(0), FRegistry(aRegistry) {}
  HRESULT Notify() override {
    RefPtr<TzfInterfacedObject> obj;
    if (FRegistry->CreateInstance(kClassA, nullptr, kIID, obj) != S_OK) return E_UNEXPECTED;
    return FRegistry->RegisterClassFactory(kClassB, RefPtr<TFactory>::Create(5), &Control);
  }
  RefPtr<IzfClassFactoryControl> Control;

 private:
  TzfClassFactoryRegistry* FRegistry;
};

TEST(ClassFactoryRegistry, NotificationMayUseTheRegistry) {
  RefPtr<TzfClassFactoryRegistry> reg = RefPtr<TzfClassFactoryRegistry>::Create();
  RefPtr<TReentrantFactory> f = RefPtr<TReentrantFactory>::Create(reg.get());
  RefPtr<IzfClassFactoryControl> control;
  ASSERT_EQ(reg->RegisterClassFactory(kClassA, f, &control), S_OK);
  EXPECT_EQ(reg->NotifyFactories(), S_OK);
  EXPECT_EQ(reg->Count(), 2u);
  f->Control.reset();
}

TEST(ClassFactoryRegistry, ProcessWideInstanceIsShared) {
  std::vector<RefPtr<IzfClassFactoryRegistry>> got(8);
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (size_t i = 0; i < got.size(); ++i)
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      zfGetClassFactoryRegistry(got[i]);
    });
  go = true;
  for (std::thread& t : threads) t.join();
  for (const auto& r : got) {
    ASSERT_TRUE(r);
    EXPECT_EQ(r.get(), got[0].get());
  }
  // The process-wide variable keeps its own reference besides ours.
  EXPECT_EQ(got[0]->RefCount(), static_cast<int32_t>(got.size()) + 1);
}

}  // namespace
