// The server engine component: the memory and temporary-store formulas, statistics rows, the
// settings stream and the configuration, properties of an active engine, and the alias handler.
#include <gtest/gtest.h>

#include <map>

#include "dictionary/zfsdDictionaryItem.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "storage/zfseJournalEngine.h"
#include "zfsrServerTestUtil.h"

namespace zf::test {
namespace {

TEST(ServerEngineFormula, MemoryLimit) {
  struct Case {
    int64_t Total, Limit;
  } cases[] = {
      {8192, 6144},    // half 4096, reserve 2048
      {2048, 1024},    // half wins
      {16384, 13108},  // reserve a fifth: 3276
      {4096, 2048},    // half and total - 2048 agree
      {0, 0},
      {1, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Limit, zfDefaultMaxRAM(c.Total)) << c.Total;
}

TEST(ServerEngineFormula, TempStoreSize) {
  constexpr int64_t MiB3 = 3145728;
  EXPECT_EQ(100, zfDefaultTempStoreSize(10, 1000 * MiB3, INT64_MAX));       // ten times the memory
  EXPECT_EQ(7, zfDefaultTempStoreSize(1000, 7 * MiB3 + 5, INT64_MAX));      // a third of the free space
  EXPECT_EQ(1365, zfDefaultTempStoreSize(1000, INT64_MAX, 4294967294));     // a third of the largest file
  EXPECT_EQ(0, zfDefaultTempStoreSize(1000, 0, INT64_MAX));
  EXPECT_EQ(INT64_MAX / MiB3, zfDefaultTempStoreSize(INT64_MAX, INT64_MAX, INT64_MAX));  // no overflow
}

TEST(ServerEngineFormula, SystemFacts) {
  EXPECT_GT(zfTotalMemoryMiB(), 0);
  EXPECT_FALSE(zfSystemTempFolder().empty());
}

class ServerEngine : public ServerEngineTest {};

TEST_F(ServerEngine, StatisticsRowsMatchTheirCaptions) {
  std::vector<UnicodeString> captions, values;
  Engine->GetStatsCaptions(captions);
  Engine->GetStatsValues(values);
  ASSERT_EQ(captions.size(), values.size());
  std::vector<UnicodeString> bm;
  TzfBufferManager::GetStatsCaptions(bm);
  ASSERT_GE(captions.size(), bm.size() + 2);
  const size_t folders = captions.size() - bm.size() - 2;
  EXPECT_EQ(u"Folders", captions[folders]);
  EXPECT_EQ(u"Tables", captions[folders + 1]);
  EXPECT_EQ(u"Sessions", captions[folders - 5]);
  EXPECT_EQ(u"0", values[folders]);
  EXPECT_EQ(u"0", values[folders + 1]);

  TzfServerFolder* f = Folder();
  auto dict = SmallDictionary(0, 1);
  const uint32_t built = f->sfTableBuild(false, u"T", u"", false, dict.get(), tsTempGlobal);  // stays open
  uint32_t code = 0;
  UnicodeString msg;
  EzfBaseException::GetLastConvertedException(code, msg);
  ASSERT_EQ(0u, built) << rtl::u8(msg);
  values.clear();
  Engine->GetStatsValues(values);
  EXPECT_EQ(u"1", values[folders]);
  EXPECT_EQ(u"3", values[folders + 1]);  // the root, its nested table and the one inside it

  // A stopped engine still answers every row, from the buffer manager's class values.
  Engine->Close();
  values.clear();
  Engine->GetStatsValues(values);
  EXPECT_EQ(captions.size(), values.size());
  EXPECT_EQ(u"0", values[folders]);
}

TEST_F(ServerEngine, PropertiesOfAnActiveEngineCannotChange) {
  EXPECT_ANY_THROW(Engine->SetMaxRAM(128));
  Engine->SetMaxRAM(64);  // unchanged: no check
  Engine->Close();
  Engine->SetMaxRAM(128);
  EXPECT_EQ(128, Engine->MaxRAM());
  try {
    Engine->SetTableExtension(u" ab");
    FAIL();
  } catch (const EzfBaseException& e) {
    EXPECT_EQ(zfErrInvalidFileExt, e.ErrorCode());
  }
  EXPECT_ANY_THROW(Engine->SetTableExtension(u""));
  Engine->SetTableExtension(u"dat");
  EXPECT_EQ(u"dat", Engine->TableExtension());
  Engine->SetName(u"Srv");
  EXPECT_EQ(u"Srv_AliasHandler", Engine->AliasHandler()->Name());
}

TEST_F(ServerEngine, SettingsStreamRoundTripAndDamage) {
  Engine->Close();
  Engine->SetServerName(u"Main");
  Engine->SetMaxRAM(512);
  Engine->SetTempStoreSize(7);
  Engine->SetTempStorePath(u"/var/tmp");
  Engine->SetOptions((1u << seoReadOnly) | (1u << seoVerifyTableNames));
  const TzfJournalEngineClass* saved = zfJournalEngineClassSetting;
  zfJournalEngineClassSetting = &Tzf1xCommitJournalEngine::ClassInfo();
  TzfMemoryStream ms;
  {
    TzfWriter w(ms);
    Engine->SaveSettingsToStream(w);
  }
  zfJournalEngineClassSetting = saved;

  TzfServerEngine other;
  other.SetName(u"Engine");
  ms.SetPosition(0);
  {
    TzfReader r(ms);
    other.LoadSettingsFromStream(r);
  }
  EXPECT_EQ(u"Main", other.ServerName());
  EXPECT_EQ(512, other.MaxRAM());
  EXPECT_EQ(7, other.TempStoreSize());
  EXPECT_EQ(u"/var/tmp", other.TempStorePath());
  EXPECT_EQ((1u << seoReadOnly) | (1u << seoVerifyTableNames), other.Options());
  EXPECT_EQ(&Tzf1xCommitJournalEngine::ClassInfo(), zfJournalEngineClassSetting);
  zfJournalEngineClassSetting = saved;

  // Every truncation raises a coded error and changes no setting.
  std::vector<uint8_t> bytes(static_cast<size_t>(ms.GetSize()));
  ms.SetPosition(0);
  ms.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  for (size_t n = 0; n < bytes.size(); ++n) {
    TzfServerEngine e;
    e.SetName(u"Engine");
    TzfMemoryStream part;
    part.WriteBuffer(bytes.data(), static_cast<int64_t>(n));
    part.SetPosition(0);
    TzfReader r(part);
    EXPECT_ANY_THROW(e.LoadSettingsFromStream(r)) << n;
    EXPECT_EQ(-1, e.MaxRAM());
  }
  EXPECT_EQ(saved, zfJournalEngineClassSetting);
}

// A configuration store in memory.
class TMapConfig : public TzfBaseComponentConfiguration {
 public:
  TMapConfig() : TzfBaseComponentConfiguration(nullptr) {}
  void SetValue(const UnicodeString& aName, const rtl::Variant& aValue) override { Values[aName] = aValue.AsString(); }
  rtl::Variant GetValue(const UnicodeString& aName, const rtl::Variant& aDefault) override {
    auto it = Values.find(aName);
    return it == Values.end() ? aDefault : rtl::Variant(it->second);
  }
  std::map<UnicodeString, UnicodeString> Values;
};

TEST_F(ServerEngine, ConfigurationOptions) {
  Engine->Close();
  Engine->SetOptions((1u << seoForceFailSafe) | (1u << seoInMemOnly));
  TMapConfig c;
  c.Values[u"OptionsCount"] = u"4";
  c.Values[u"Options4"] = u"stale";
  Engine->SaveConfig(c);
  EXPECT_EQ(u"seoForceFailSafe", c.Values[u"Options1"]);
  EXPECT_EQ(u"seoInMemOnly", c.Values[u"Options2"]);
  EXPECT_EQ(u"", c.Values[u"Options4"]);
  EXPECT_EQ(u"2", c.Values[u"OptionsCount"]);
  EXPECT_EQ(u"18", c.Values[u"Options"]);
  EXPECT_EQ(u"1", c.Values[u"NewOptionsLogic"]);

  // Both forms present: the bit mask alone counts.
  c.Values[u"Options"] = u"1";
  TzfServerEngine e;
  e.LoadConfig(c);
  EXPECT_EQ(1u, e.Options());
  // The old form by names; unknown names are ignored.
  c.Values[u"NewOptionsLogic"] = u"0";
  c.Values[u"Options2"] = u"nonsense";
  e.LoadConfig(c);
  EXPECT_EQ(1u << seoForceFailSafe, e.Options());
}

TEST_F(ServerEngine, Aliases) {
  TzfBaseAliasHandler& a = *Engine->AliasHandler();
  const UnicodeString dir = rtl::u16(Dir.Path.string());
  EXPECT_EQ(0u, a.Add(u"Data", dir, false));
  EXPECT_EQ(zfErrNameNotUnique, a.Add(u"DATA", dir, false));
  UnicodeString path;
  EXPECT_EQ(0u, a.GetPath(u"data", path));
  EXPECT_EQ(dir, path);
  EXPECT_TRUE(a.IsAlias(u"DATA"));
  EXPECT_EQ(zfErrUnknownDb, a.GetPath(u"none", path));
  EXPECT_EQ(0u, a.Add(u"Deep", dir + u"/a/b/c", true));
  EXPECT_TRUE(std::filesystem::is_directory(Dir.Path / "a/b/c"));
  EXPECT_EQ(zfErrDirBusy, a.Add(u"Bad", u"/proc/no/such", true));
  EXPECT_EQ(0u, a.Modify(u"Deep", u"Deeper", u"", false));
  EXPECT_FALSE(a.IsAlias(u"Deep"));
  EXPECT_EQ(0u, a.GetPath(u"Deeper", path));
  EXPECT_EQ(dir + u"/a/b/c", path);
  EXPECT_EQ(zfErrNameNotUnique, a.Modify(u"Deeper", u"Data", u"", false));
  EXPECT_TRUE(a.IsAlias(u"Deeper"));  // a refused rename keeps the alias
  EXPECT_EQ(zfErrUnknownDb, a.Modify(u"none", u"", u"/x", false));
  EXPECT_EQ(0u, a.Delete(u"deeper"));
  EXPECT_EQ(zfErrUnknownDb, a.Delete(u"deeper"));

  TMapConfig c;
  a.Add(u"Missing", u"/no/such/dir", false);
  a.SaveConfig(c);
  EXPECT_EQ(u"Data=" + dir + u";Missing=/no/such/dir", c.Values[u"Aliases"]);
  a.Clear();
  a.LoadConfig(c);
  EXPECT_TRUE(a.IsAlias(u"missing"));
  EXPECT_EQ(u"WARNING: Database folder for \"Missing\" does not exist: \"/no/such/dir\"\r\n", a.ConfigErrors);

  TzfMemoryStream ms;
  {
    TzfWriter w(ms);
    a.SaveSettingsToStream(w);
  }
  a.Clear();
  ms.SetPosition(0);
  TzfReader r(ms);
  a.LoadSettingsFromStream(r);
  std::vector<TzfAliasDescriptor> list;
  a.GetList(list);
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(u"Data", list[0].adAlias);
}

TEST_F(ServerEngine, FolderLookupNormalisesPaths) {
  TzfServerFolder* f = Folder();
  const std::string base = Dir.Path.string();
  TzfServerFolder* g = nullptr;
  ASSERT_EQ(0u, Engine->seFolderOpen(rtl::u16(" " + base + "/./sub/../ "), g));
  EXPECT_EQ(f, g);
  EXPECT_EQ(rtl::u16(base + "/"), f->sfPath);
  EXPECT_EQ(zfErrDirNotExists, Engine->seFolderOpen(rtl::u16(base + "/none"), g));
  ASSERT_EQ(0u, Engine->seFolderOpen(u"#mem", g));
  EXPECT_TRUE(g->sfInMemOnly);
  EXPECT_EQ(2, Engine->seFolderListCount());
  EXPECT_EQ(0u, Engine->seCloseInactiveFolders());
  EXPECT_EQ(0, Engine->seFolderListCount());
  EXPECT_EQ(0, Engine->seFolderCount.load());
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
// The display-only "ActiveOptions" lists the locale switch only while it is on.
TEST_F(ServerEngine, ActiveOptionsListTheLocaleSwitch) {
  const bool was = zfDisable30900LocaleFixes();
  for (bool on : {false, true}) {
    zfSetDisable30900LocaleFixes(on);
    EXPECT_EQ(Engine->GetDisplayOnlyValue(u"activeoptions"),
              on ? u"SecureServer, ZF_PROTECT_SERVER_ON_CRITICAL_ERROR, Disable30900LocaleFixes"
                 : u"SecureServer, ZF_PROTECT_SERVER_ON_CRITICAL_ERROR");
  }
  zfSetDisable30900LocaleFixes(was);
}
}  // namespace zf::test
