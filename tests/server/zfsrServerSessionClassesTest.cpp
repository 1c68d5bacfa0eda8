// The session's class lists, interfaces by name and the default locale of SQL string literals.
#include <gtest/gtest.h>

#include "foundation/zfllComponent.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfrbRegistries.h"
#include "platform/rtl/rtlStringList.h"
#include "server/zfsrServerSession.h"
#include "tests/server/zfsrServerCursorTestUtil.h"

namespace zf::test {
namespace {

class SessionClasses : public CursorTest {
 protected:
  void SetUp() override {
    CursorTest::SetUp();
    S = OpenSession();
    ASSERT_NE(S, nullptr);
  }
  TzfServerSession* S = nullptr;
};

TEST_F(SessionClasses, RegisteredClassLists) {
  struct Case {
    TzfClassListType Type;
    const char16_t* Expected;  // a name the list must hold
  } cases[] = {
      {setAutoIncEngines, u"zf1xDefault"},   {setBlobEngines, nullptr},          {setEncryptionEngines, u""},
      {setDefaultDescriptors, nullptr},      {setValidationDescriptors, nullptr}, {setRecordDescriptors, u"Static"},
      {setRecordDescriptors, u"Variable"},   {setRIActionDescriptors, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Type));
    rtl::TStringList list;
    list.Add(u"stale");
    ASSERT_EQ(S->GetRegisteredClassList(c.Type, list), 0u);
    EXPECT_EQ(list.IndexOf(u"stale"), -1) << "the list is cleared first";
    EXPECT_GT(list.Count(), 0);
    if (c.Expected) {
      EXPECT_GE(list.IndexOf(c.Expected), 0) << rtl::u8(c.Expected);
    }
  }
  rtl::TStringList list;
  list.Add(u"stale");
  EXPECT_EQ(S->GetRegisteredClassList(setIndicesEngines, list), zfErrObjNotFound);
  EXPECT_EQ(list.Count(), 0);
  // The encryption list starts with the entry for no encryption.
  ASSERT_EQ(S->GetRegisteredClassList(setEncryptionEngines, list), 0u);
  EXPECT_EQ(list[0], u"");
}

class TFactory : public IzfClassFactory {
 public:
  HRESULT CreateInstance(TzfInterfacedObject*, const rtl::TGUID&, RefPtr<TzfInterfacedObject>& aObject) override {
    aObject = RefPtr<TzfInterfacedObject>::Create();
    return S_OK;
  }
};

TEST_F(SessionClasses, InterfacesByName) {
  const rtl::TGUID cls{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
  RefPtr<TzfInterfacedObject> object;
  EXPECT_EQ(S->CreateInstanceFor(u"<registry>", cls, nullptr, cls, object), CO_E_OBJNOTREG);
  RefPtr<IzfClassFactoryRegistry> registry;
  zfGetClassFactoryRegistry(registry);
  RefPtr<IzfClassFactoryControl> control;
  ASSERT_EQ(registry->RegisterClassFactory(cls, RefPtr<IzfClassFactory>(RefPtr<TFactory>::Create()), &control), S_OK);
  EXPECT_EQ(S->CreateInstanceFor(u"<Registry>", cls, nullptr, cls, object), S_OK);
  EXPECT_NE(object.get(), nullptr);
  control->Unregister();
  control = nullptr;

  EXPECT_EQ(S->CreateInstanceFor(u"<ServerEngine>", CLSID_zfComponentInfo, nullptr, IID_IzfComponentInfo, object),
            S_OK);
  auto* info = dynamic_cast<TzfComponentInfo*>(object.get());
  ASSERT_NE(info, nullptr);
  UnicodeString name;
  EXPECT_EQ(info->GetName(name), S_OK);
  EXPECT_EQ(name, u"Engine");
  EXPECT_EQ(S->CreateInstanceFor(u"<ServerEngine>", cls, nullptr, cls, object), E_NOTIMPL);
  EXPECT_EQ(object.get(), nullptr) << "cleared on failure";
  EXPECT_EQ(S->CreateInstanceFor(u"NoSuchComponent", CLSID_zfComponentInfo, nullptr, IID_IzfComponentInfo, object),
            E_NOINTERFACE);
}

TEST_F(SessionClasses, ClientDefaultLocaleIsReadOnce) {
  ASSERT_EQ(S->OptionSet(u"SQL_DEFAULT_LOCALE", u"1033"), 0u);
  TzfLocaleDescriptor* locale = S->ClientDefaultLocale();
  ASSERT_NE(locale, nullptr);
  EXPECT_EQ(locale->ldLocale, 1033u);
  EXPECT_TRUE(locale->ldIsDefaultStringLiteralLocale);
  EXPECT_EQ(S->ClientDefaultLocale(), locale);

  TzfAbstractSession* other = nullptr;
  ASSERT_EQ(Engine->SessionOpen(other, u"bob", u"", u"test", 10000), 0u);
  auto* o = static_cast<TzfServerSession*>(other);
  EXPECT_EQ(o->ClientDefaultLocale(), nullptr);
  ASSERT_EQ(o->OptionSet(u"SQL_DEFAULT_LOCALE", u"1033"), 0u);
  EXPECT_EQ(o->ClientDefaultLocale(), nullptr) << "the option is read once per session";
  other->Free();
  for (const char16_t* bad : {u"0", u"-5", u"abc", u"$409", u"99999999999"}) {
    ASSERT_EQ(Engine->SessionOpen(other, u"carol", u"", u"test", 10000), 0u);
    ASSERT_EQ(other->OptionSet(u"SQL_DEFAULT_LOCALE", bad), 0u);
    EXPECT_EQ(static_cast<TzfServerSession*>(other)->ClientDefaultLocale(), nullptr) << rtl::u8(bad);
    other->Free();
  }
}

}  // namespace
}  // namespace zf::test
