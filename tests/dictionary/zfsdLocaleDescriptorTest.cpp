#include "dictionary/zfsdLocaleDescriptor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dictionary/zfsdStartup.h"
#include "foundation/zfllStreams.h"
#include "platform/locale/locLocales.h"
#include "zfsdDictTestRoot.h"
#include "zfsdTestUtil.h"

namespace zf {
namespace {

using test::LoadBytes;
using test::LoadItem;
using test::SavedItem;
using test::Outcome;
using test::StreamBytes;
using test::TTestDictionary;

// A localized item standing in for a table or a field.
class TTestLocalized : public TzfLocalizedDictionaryItem {
  ZF_DICTIONARY_ITEM_CLASS(TzfDictionaryItemClassInfo, EzfFieldDescriptorException)
 public:
  using TzfLocalizedDictionaryItem::TzfLocalizedDictionaryItem;
};
const TzfDictionaryItemClassInfo& TTestLocalized::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TTestLocalized", &TzfLocalizedDictionaryItem::ClassInfo(), nullptr,
                                               &zfNewDictionaryItem<TTestLocalized>);
  return info;
}

class LocaleDescriptorTest : public test::DictionaryStarted {
 protected:
  void SetUp() override { savedSwitch = zfDisable30900LocaleFixes(); }
  void TearDown() override { zfSetDisable30900LocaleFixes(savedSwitch); }
  bool savedSwitch = false;
};

TEST_F(LocaleDescriptorTest, NewDescriptorCarriesTheSystemDefaultLocale) {
  TzfLocaleDescriptor ld(nullptr);
  EXPECT_EQ(ld.ldLocale, locale::GetSystemDefaultLocale());
  EXPECT_EQ(ld.GetCompareCodepage(), 1252);
  ld.SetLocale(0x0419);
  EXPECT_EQ(ld.GetCompareCodepage(), 1251);
  ld.SetLocale(0);
  EXPECT_EQ(ld.ldLocale, 0u);
  EXPECT_EQ(ld.GetCompareCodepage(), 0);
  EXPECT_EQ(ld.GetStorageCodepage(), 0);
  ld.ldOverrideStorageCodepage = 850;
  EXPECT_EQ(ld.GetStorageCodepage(), 850);
  // A locale the layer cannot map has no code page: the lookup's OS error is raised.
  ld.ldLocale = 0x12345;
  EXPECT_EQ(Outcome([&] { ld.GetCompareCodepage(); }).substr(0, 22), u"!EzfBaseException #110");
}

TEST_F(LocaleDescriptorTest, FlagsMapToTheFiveOptions) {
  TzfLocaleDescriptor ld(nullptr);
  ld.ldUseStringSort = true;
  ld.SetFlags(NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS | 0x100);
  EXPECT_TRUE(ld.ldIgnoreKanaType && ld.ldIgnoreWidth && ld.ldIgnoreNonSpace && ld.ldIgnoreSymbols);
  EXPECT_FALSE(ld.ldUseStringSort);
  EXPECT_EQ(ld.GetFlags(), NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS);
}

TEST_F(LocaleDescriptorTest, GoldenBytesOfBothBodyVersions) {
  zfSetDisable30900LocaleFixes(false);
  TzfLocaleDescriptor ld(nullptr);
  ld.SetLocale(0x0407);
  ld.ldIgnoreWidth = true;
  ld.ldOverrideStorageCodepage = 1250;
  // Header version 3, no custom strings, ID 0, empty constraint name (a UTF-16 string of 0).
  const std::vector<uint8_t> header{2, 3, 1, 0, 2, 0, 18, 0, 0, 0, 0};
  std::vector<uint8_t> v1 = header;
  v1.insert(v1.end(), {2, 1, 3, 0x07, 0x04, 8, 8, 8, 9, 8, 3, 0xE2, 0x04});
  EXPECT_EQ(SavedItem(ld, 30000), v1);
  std::vector<uint8_t> v2 = header;
  v2.insert(v2.end(), {2, 2, 3, 0x07, 0x04, 8, 8, 8, 9, 8, 3, 0xE2, 0x04, 8});
  EXPECT_EQ(SavedItem(ld, 30900), v2);
  // With a recorded build version: three Integers and a GUID (a 16-byte binary value).
  ld.ldNLSVersionInfoBuild = std::make_unique<TzfNLSVersionInfoEx>();
  ld.ldNLSVersionInfoBuild->dwNLSVersion = 0x102;
  ld.ldNLSVersionInfoBuild->dwDefinedVersion = 7;
  ld.ldNLSVersionInfoBuild->dwEffectiveId = 0x407;
  ld.ldNLSVersionInfoBuild->guidCustomVersion.D1 = 0x11223344;
  std::vector<uint8_t> v2b = header;
  v2b.insert(v2b.end(), {2, 2, 3, 0x07, 0x04, 8, 8, 8, 9, 8, 3, 0xE2, 0x04, 9, 3, 0x02, 0x01, 2, 7, 3, 0x07, 0x04,
                         10, 16, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(SavedItem(ld, 30900), v2b);
  // The switch writes the old body whatever the client.
  zfSetDisable30900LocaleFixes(true);
  EXPECT_EQ(SavedItem(ld, 30900), v1);
  EXPECT_EQ(Outcome([&] { SavedItem(ld, 19999); }).substr(0, 39), u"!EzfLocaleDescriptorException #12039: Z");

  // Read back: equal, with the build version.
  TzfLocaleDescriptor back(nullptr);
  EXPECT_EQ(LoadItem(back, v2b), u"ok");
  EXPECT_TRUE(back.IsEqual(&ld));
  EXPECT_EQ(back.ldVersion, 2);
  ASSERT_TRUE(back.ldNLSVersionInfoBuild);
  EXPECT_EQ(back.ldNLSVersionInfoBuild->dwNLSVersion, 0x102u);
  EXPECT_EQ(back.ldNLSVersionInfoBuild->guidCustomVersion, ld.ldNLSVersionInfoBuild->guidCustomVersion);
  EXPECT_EQ(LoadItem(back, v1), u"ok");
  EXPECT_EQ(back.ldVersion, 1);
  EXPECT_FALSE(back.ldNLSVersionInfoBuild);
}

TEST_F(LocaleDescriptorTest, DamagedBodiesAreRefused) {
  const std::vector<uint8_t> header{2, 3, 1, 0, 2, 0, 18, 0, 0, 0, 0};
  const UnicodeString refused = u"!EzfLocaleDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]";
  const std::vector<std::pair<std::vector<uint8_t>, UnicodeString>> cases = {
      {{2, 3, 3, 0x07, 0x04, 8, 8, 8, 9, 8, 2, 0}, refused},                  // body version 3
      {{2, 1, 3, 0x07, 0x04, 8, 8, 2, 1, 8, 2, 0}, refused},                  // an Integer where a Boolean is
      {{2, 1, 3, 0x07, 0x04, 8, 8, 8, 9, 8, 4, 0, 0, 1, 0}, refused},         // code page 65536
      {{2, 1, 3, 0x07, 0x04, 8, 8, 8, 9, 8, 3, 0xFF, 0xFF}, refused},         // code page -1
      {{2, 1, 3, 0x07, 0x04, 8, 8, 8, 9, 8, 2, 0}, u"ok"},
  };
  for (const auto& [body, outcome] : cases) {
    std::vector<uint8_t> bytes = header;
    bytes.insert(bytes.end(), body.begin(), body.end());
    TzfLocaleDescriptor ld(nullptr);
    EXPECT_EQ(LoadItem(ld, bytes), outcome);
  }
}

TEST_F(LocaleDescriptorTest, CheckValidRefusesUnmappedLocalesAndRecordsTheBuildVersion) {
  TzfLocaleDescriptor ld(nullptr);
  ld.ldLocale = 0x12345;
  EXPECT_EQ(Outcome([&] { ld.CheckValid(false); }),
            u"!EzfLocaleDescriptorException #10043: ZofrinDB: Locale not supported/installed: 74565 [$273B/10043]");
  ld.SetLocale(0x0409);
  ld.ldOverrideStorageCodepage = 12345;
  EXPECT_EQ(Outcome([&] { ld.CheckValid(false); }),
            u"!EzfLocaleDescriptorException #10043: ZofrinDB: Invalid codepage: 12345 [$273B/10043]");
  ld.ldOverrideStorageCodepage = 0;

  zfSetDisable30900LocaleFixes(false);
  ld.CheckValid(true);
  ASSERT_TRUE(ld.ldNLSVersionInfoBuild);
  EXPECT_TRUE(ld.IsNLSVersionUnchanged());
  ld.ldNLSVersionInfoBuild->dwNLSVersion ^= 1;
  EXPECT_FALSE(ld.IsNLSVersionUnchanged());

  zfSetDisable30900LocaleFixes(true);
  ld.CheckValid(true);
  EXPECT_FALSE(ld.ldNLSVersionInfoBuild);
  EXPECT_TRUE(ld.IsNLSVersionUnchanged());
}

TEST_F(LocaleDescriptorTest, ConcurrentFirstVersionChecksInstallOneRecord) {
  zfSetDisable30900LocaleFixes(false);
  TzfLocaleDescriptor ld(nullptr);
  ld.SetLocale(0x0407);
  ld.CheckValid(true);
  std::atomic<int> unchanged{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&] { unchanged += ld.IsNLSVersionUnchanged() ? 1 : 0; });
  for (auto& t : threads) t.join();
  EXPECT_EQ(unchanged.load(), 8);
  EXPECT_NE(ld.ldNLSVersionInfoCurrent.load(), nullptr);
}

TEST_F(LocaleDescriptorTest, ItemsInheritTheLocaleAndCacheIt) {
  TTestDictionary dict;
  TTestLocalized table(&dict);
  TTestLocalized field(&table);
  EXPECT_EQ(field.GetUsedLocaleDescriptor(), nullptr);
  EXPECT_EQ(field.GetUsedStorageCodePage(), 0);
  TzfLocaleDescriptor* tl = table.AddLocaleDescriptor(nullptr);
  tl->SetLocale(0x0419);
  EXPECT_EQ(field.GetUsedLocaleDescriptor(), tl);
  EXPECT_EQ(field.GetUsedStorageCodePage(), 1251);
  TzfDictionaryItem* d = nullptr;
  EXPECT_TRUE(field.FindRelatedDescriptorOfType(TzfLocaleDescriptor::ClassInfo(), d));
  EXPECT_EQ(d, tl);

  dict.ActivateCache();
  tl->ldOverrideStorageCodepage = 866;  // ignored while cached
  EXPECT_EQ(field.GetUsedStorageCodePage(), 1251);
  dict.DeactivateCache();
  EXPECT_EQ(field.GetUsedStorageCodePage(), 866);

  TzfLocaleDescriptor* own = field.AddLocaleDescriptor(nullptr);
  own->SetLocale(0x0408);
  EXPECT_EQ(field.GetUsedStorageCodePage(), 1253);
  EXPECT_FALSE(field.IsEqual(&table));
  dict.ReadOnly = true;
  EXPECT_EQ(Outcome([&] { field.RemoveLocaleDescriptor(); }).substr(0, 36), u"!EzfDataDictionaryException #15500: ");
  dict.ReadOnly = false;
  field.RemoveLocaleDescriptor();
  EXPECT_EQ(field.GetUsedLocaleDescriptor(), tl);
}

TEST_F(LocaleDescriptorTest, LocalePartRoundTripAndRefusals) {
  zfSetDisable30900LocaleFixes(false);
  TTestLocalized src(nullptr);
  src.AddLocaleDescriptor(nullptr)->SetLocale(0x040C);
  TzfMemoryStream s(-1);
  {
    TzfWriter w(s);
    src.SaveLocaleToWriter(w, 30900);
  }
  std::vector<uint8_t> bytes = StreamBytes(s);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3), (std::vector<uint8_t>{2, 1, 9}));

  auto readPart = [](TTestLocalized& aItem, const std::vector<uint8_t>& aBytes) {
    TzfMemoryStream m(-1);
    LoadBytes(m, aBytes);
    return Outcome([&] {
      TzfReader r(m);
      aItem.LoadLocaleFromReader(r);
    });
  };
  TTestLocalized dst(nullptr);
  EXPECT_EQ(readPart(dst, bytes), u"ok");
  EXPECT_TRUE(dst.IsEqual(&src));
  // "No locale" keeps an existing own descriptor.
  EXPECT_EQ(readPart(dst, {2, 1, 8}), u"ok");
  EXPECT_TRUE(dst.ldiLocaleDescriptor);
  EXPECT_EQ(readPart(dst, {2, 2, 8}),
            u"!EzfLocaleizedDictionaryItemException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]");
  EXPECT_EQ(readPart(dst, {2, 1, 9, 6, 5, 'T', 'N', 'o', 'p', 'e'}),
            u"!EzfFieldDescriptorException #15499: ZofrinDB: LocaleDescriptor class is not supported: TNope "
            u"[$3C8B/15499]");
  EXPECT_EQ(Outcome([&] {
              TzfWriter w(s);
              src.SaveLocaleToWriter(w, 19999);
            }).substr(0, 47),
            u"!EzfLocaleizedDictionaryItemException #12039: Z");
}

}  // namespace
}  // namespace zf
