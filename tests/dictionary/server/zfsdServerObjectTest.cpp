// Server object model: name checks, options along the option parents, extenders and their veto,
// identities, ownership chains, statistics and the contexts a database uses.
#include <gtest/gtest.h>

#include "tests/dictionary/server/zfsdTestEngine.h"

namespace zf::test {
namespace {

UnicodeString PendingMessage(uint32_t aCode) {
  try {
    zfRaiseIfError(aCode);
  } catch (const EzfBaseException& e) {
    return e.Message();
  }
  return {};
}

// ---------------------------------------------------------------------------------------------
// Name checks

struct NameCase {
  const char16_t* Name;
  uint32_t (*Check)(UnicodeStringView);
  uint32_t Expected;
  const char16_t* MessagePart;  // nullptr: not checked
};

uint32_t AliasUnknown(UnicodeStringView n) { return zfCheckAliasName(n, true); }
uint32_t AliasPlain(UnicodeStringView n) { return zfCheckAliasName(n, false); }
uint32_t ProcMissing(UnicodeStringView n) { return zfCheckProcedureName(n, true); }
uint32_t ProcPlain(UnicodeStringView n) { return zfCheckProcedureName(n, false); }
uint32_t TableStrict(UnicodeStringView n) { return zfCheckTableName(n, true, false); }
uint32_t TableReserved(UnicodeStringView n) { return zfCheckTableName(n, true, true); }
uint32_t TableNoMissing(UnicodeStringView n) { return zfCheckTableName(n, false, false); }
uint32_t FullName(UnicodeStringView n) { return zfCheckFullTableName(n, true, false); }

TEST(ServerNameChecks, Table) {
  const UnicodeString long129(129, u'a');
  const NameCase cases[] = {
      {u"Customers", TableStrict, 0, nullptr},
      {u"Root:Child", TableStrict, 10039, u"Child name separators \":\" are not allowed."},
      {u"<Temp>", TableStrict, 0, nullptr},
      {u"<a:b>", TableStrict, 10039, nullptr},
      {u"<>", TableStrict, 10039, u"\"<\" is not a valid character."},
      {u"", TableStrict, 10024, nullptr},
      {u"", TableNoMissing, 10039, u"Empty string is not allowed."},
      {u"$sys", TableStrict, 10039, u"Reserved Identifier not allowed."},
      {u"$sys", TableReserved, 0, nullptr},
      {u"Root:Child:..", FullName, 0, nullptr},
      {u"Root::Child", FullName, 10039, nullptr},
      {u"Root:", FullName, 0, nullptr},
      {u"", FullName, 10024, nullptr},
      {u"a", AliasUnknown, 0, nullptr},
      {u"", AliasUnknown, 10014, nullptr},
      {u"", AliasPlain, 10067, nullptr},
      {u" lead", AliasUnknown, 10067, u"Leading/trailing spaces are not allowed."},
      {long129.c_str(), AliasUnknown, 10067, u"Maximum length of 128 characters has been exceeded."},
      {u"$alias", AliasUnknown, 0, nullptr},
      {u"proc_1", ProcMissing, 0, nullptr},
      {u"", ProcMissing, 8712, nullptr},
      {u"", ProcPlain, 10068, nullptr},
      {u"a*b", ProcPlain, 10068, u"\"*\" is not a valid character."},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Name));
    EXPECT_EQ(c.Expected, c.Check(c.Name));
    if (c.MessagePart) {
      EXPECT_NE(PendingMessage(c.Expected).find(c.MessagePart), UnicodeString::npos);
    }
  }
}

TEST(ServerNameChecks, TemporaryNames) {
  struct Case {
    const char16_t* Name;
    bool Global, Database;
  } cases[] = {
      {u"##a", false, true},  {u"###a", true, false}, {u"###", false, false}, {u"<a>", true, false},
      {u"<>", false, false},  {u"##", false, false},  {u"#a", false, false},  {u"####a", false, false},
      {u"abc", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(rtl::u8(c.Name));
    EXPECT_EQ(c.Global, zfIsTempGlobalTableName(c.Name));
    EXPECT_EQ(c.Database, zfIsTempDatabaseTableName(c.Name));
  }
}

TEST(ServerEngineActions, SetKeepsOnlyFortyEightBits) {
  TzfEngineActions s = TzfEngineActions::All();
  EXPECT_TRUE(s.Contains(eaStatementGetParams));
  EXPECT_FALSE(s.Contains(41));
  s.Include(47);
  EXPECT_TRUE(s.Contains(47));
  s.Include(48);
  EXPECT_FALSE(s.Contains(48));
}

// ---------------------------------------------------------------------------------------------

class ServerObjects : public ServerTest {};

TEST_F(ServerObjects, OptionsAreFoundAlongTheOptionParents) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  TzfDataDictionary dd;
  db->Table = &dd;
  TzfAbstractCursor* c = nullptr;
  ASSERT_EQ(0u, db->CursorOpen(c, u"T", u"", omReadWrite, smShared, 0, false));
  TzfAbstractTransContext* ctx = db->TransContext();

  ASSERT_EQ(0u, s->OptionSet(u"A", u"session"));
  ASSERT_EQ(0u, ctx->OptionSet(u"B", u"context"));
  ASSERT_EQ(0u, db->OptionSet(u"C", u"database"));
  ASSERT_EQ(0u, s->OptionSet(u"C", u"session-c"));
  ASSERT_EQ(0u, c->OptionSet(u"D", u"cursor"));

  struct Case {
    const char16_t* Name;
    uint32_t Code;
    const char16_t* Value;
  } cases[] = {{u"a", 0, u"session"}, {u"B", 0, u"context"}, {u"c", 0, u"database"}, {u"D", 0, u"cursor"},
               {u"E", 8712, u""}};
  for (const Case& k : cases) {
    UnicodeString v = u"junk";
    EXPECT_EQ(k.Code, c->OptionGetEffective(k.Name, v)) << rtl::u8(k.Name);
    EXPECT_EQ(UnicodeString(k.Value), v);
  }
  UnicodeString v;
  EXPECT_EQ(8712u, c->OptionGet(u"A", v));  // own options only

  // Listing reaches one level up: the cursor's own and the database's own options.
  rtl::TStringList list;
  ASSERT_EQ(0u, c->OptionListEffective(list));
  ASSERT_EQ(2, list.Count());
  EXPECT_EQ(u"D=cursor", list[0]);
  EXPECT_EQ(u"C=database", list[1]);

  // An empty value removes the option: the parent's value shows through.
  ASSERT_EQ(0u, db->OptionSet(u"C", u""));
  EXPECT_EQ(8712u, db->OptionGet(u"C", v));
  EXPECT_EQ(0u, c->OptionGetEffective(u"C", v));
  EXPECT_EQ(u"session-c", v);
  EXPECT_EQ(0u, s->OptionClear(u"c"));
  EXPECT_EQ(8712u, s->OptionClear(u"C"));
  EXPECT_EQ(8712u, c->OptionGetEffective(u"C", v));
  s->Free();
}

TEST_F(ServerObjects, SystemTableAccessReadsOnlyTheDatabasesOwnOption) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  struct Case {
    const char16_t* Session;
    const char16_t* Database;
    bool Allowed;
  } cases[] = {{u"", u"1", true}, {u"", u"True", false}, {u"1", u"", false}, {u"", u"", false}};
  for (const Case& k : cases) {
    s->OptionSet(u"ALLOWSYSTEMTABLEACCESS", k.Session);
    db->OptionSet(u"ALLOWSYSTEMTABLEACCESS", k.Database);
    EXPECT_EQ(k.Allowed, db->IsSystemTableAccessAllowed()) << rtl::u8(k.Session) << "/" << rtl::u8(k.Database);
  }
  s->Free();
}

TEST_F(ServerObjects, StatisticsCountLiveObjectsAndStoppingFreesSessions) {
  TTestSession* s1 = OpenSession();
  OpenSession();
  std::vector<UnicodeString> captions, values;
  Engine->GetStatsCaptions(captions);
  Engine->GetStatsValues(values);
  ASSERT_EQ(6u, captions.size());
  EXPECT_EQ(u"Uptime", captions[0]);
  EXPECT_EQ(u"Sessions", captions[1]);
  EXPECT_EQ(u"Statements", captions[5]);
  EXPECT_EQ(u"2", values[1]);
  TTestDatabase* db = OpenDatabase(s1);
  TzfAbstractCursor* c = nullptr;
  TzfDataDictionary dd;
  db->Table = &dd;
  ASSERT_EQ(0u, db->CursorOpen(c, u"T", u"", omReadWrite, smShared, 0, false));
  values.clear();
  Engine->GetStatsValues(values);
  EXPECT_EQ((std::vector<UnicodeString>{u"2", u"1", u"1", u"1", u"0"}),
            std::vector<UnicodeString>(values.begin() + 1, values.end()));
  Engine->Close();
  EXPECT_EQ(0, Engine->bseSessionCount.load());
  EXPECT_EQ(0, Engine->bseDatabaseCount.load());
  EXPECT_EQ(0, Engine->bseTransContextCount.load());
  EXPECT_EQ(0, Engine->bseCursorCount.load());
  EXPECT_EQ(0u, Engine->bseSessions.Count());
  EXPECT_EQ(2, Engine->CleanupRuns.load());
}

TEST_F(ServerObjects, SessionOpenNeedsAStartedEngineAndUsesTheCurrentVersion) {
  TzfAbstractSession* s = nullptr;
  ASSERT_EQ(0u, Engine->SessionOpen(s, u"u", u"p", u"direct", 0));
  EXPECT_EQ(30900, Engine->LastClientVersion.load());
  EXPECT_EQ(30900, s->asoGetVersion());
  s->Free();
  TzfAbstractSession* old = nullptr;
  ASSERT_EQ(0u, Engine->SessionOpenEx(old, u"", u"", u"", 0, 20000));
  EXPECT_EQ(20000, old->asoGetVersion());
  old->Free();
  Engine->Close();
  EXPECT_NE(0u, Engine->SessionOpen(s, u"", u"", u"", 0));
  EXPECT_EQ(nullptr, s);
}

TEST_F(ServerObjects, LookupByIdAnswersFromTheRegistryOfLiveObjects) {
  TTestSession* s1 = OpenSession();
  TTestSession* s2 = OpenSession();
  TTestDatabase* db = OpenDatabase(s1);
  TzfAbstractSession* found = nullptr;
  EXPECT_EQ(0u, TzfAbstractSession::LookupByID(s1->asoGetID(), found));
  EXPECT_EQ(s1, found);
  TzfAbstractServerObject* base = nullptr;
  EXPECT_EQ(0u, TzfAbstractServerObject::LookupByID(TzfAbstractDatabase::ClassInfo(), s1->asoGetID(),
                                                    db->asoGetID(), base));
  EXPECT_EQ(db, base);
  struct Case {
    const char* What;
    const rtl::TClassInfo* Class;
    TzfSessionID Session;
    TzfBaseID Object;
  } refused[] = {
      {"other session", &TzfAbstractDatabase::ClassInfo(), s2->asoGetID(), db->asoGetID()},
      {"other class", &TzfAbstractCursor::ClassInfo(), s1->asoGetID(), db->asoGetID()},
      {"never handed out", &TzfAbstractDatabase::ClassInfo(), s1->asoGetID(), 0x123456789ull},
      {"zero", &TzfAbstractDatabase::ClassInfo(), s1->asoGetID(), 0},
  };
  for (const Case& c : refused) {
    base = db;
    EXPECT_EQ(9990u, TzfAbstractServerObject::LookupByID(*c.Class, c.Session, c.Object, base)) << c.What;
    EXPECT_EQ(nullptr, base);
  }
  const TzfBaseID dbId = db->asoGetID(), s1Id = s1->asoGetID();
  s1->Free();  // the clean-up frees the database too
  EXPECT_EQ(9990u, TzfAbstractSession::LookupByID(s1Id, found));
  EXPECT_EQ(9990u, TzfAbstractServerObject::LookupByID(TzfAbstractDatabase::ClassInfo(), s1Id, dbId, base));
  s2->Free();
}

TEST_F(ServerObjects, ADatabaseWithoutItsOwnContextIsNotCreated) {
  TTestSession* s = OpenSession();
  Engine->FailContextCreate = true;
  TzfAbstractDatabase* db = reinterpret_cast<TzfAbstractDatabase*>(1);
  EXPECT_EQ(9473u, s->DatabaseOpen(db, u"", u"Test", nullptr, omReadWrite, smShared, 0));
  EXPECT_EQ(nullptr, db);
  EXPECT_EQ(0u, s->asDatabases.Count());
  EXPECT_EQ(0, Engine->bseDatabaseCount.load());
  s->Free();
}

TEST_F(ServerObjects, FreeingASharedContextGivesEachDatabaseAPrivateOne) {
  TTestSession* s = OpenSession();
  TzfAbstractTransContext* shared = nullptr;
  ASSERT_EQ(0u, s->TransContextCreate(shared, 0));
  TTestDatabase* d1 = OpenDatabase(s, shared);
  TTestDatabase* d2 = OpenDatabase(s, shared);
  EXPECT_EQ(shared, d1->TransContext());
  EXPECT_EQ(nullptr, d1->OwnedTransContext());
  EXPECT_EQ(2u, shared->AttachedDatabases().size());
  ASSERT_EQ(0u, d1->TransactionStart(false, false));
  int32_t level = -5;
  EXPECT_EQ(0u, d2->TransactionGetLevel(level));
  EXPECT_EQ(0, level);  // one context: the level d1 started

  shared->Free();
  for (TTestDatabase* d : {d1, d2}) {
    ASSERT_NE(nullptr, d->TransContext());
    EXPECT_EQ(d->TransContext(), d->OwnedTransContext());
    EXPECT_EQ(1u, d->TransContext()->AttachedDatabases().size());
    EXPECT_EQ(0u, d->TransactionStart(false, false));
    EXPECT_EQ(0u, d->TransactionGetLevel(level));
    EXPECT_EQ(0, level);
  }
  EXPECT_NE(d1->TransContext(), d2->TransContext());
  EXPECT_EQ(2, Engine->bseTransContextCount.load());
  d1->Free();
  EXPECT_EQ(1, Engine->bseTransContextCount.load());
  s->Free();
  EXPECT_EQ(0, Engine->bseTransContextCount.load());
}

TEST_F(ServerObjects, UserInfo) {
  TTestSession* anon = OpenSession();
  TTestSession* named = OpenSession(u"bob");
  rtl::TStringList a, n;
  anon->GetUserInfo(a);
  named->GetUserInfo(n);
  ASSERT_EQ(3, a.Count());
  EXPECT_EQ(0u, a[1].find(u"anonymous User"));
  EXPECT_EQ(u"Connected from: direct", a[2]);
  EXPECT_NE(a[0].find(u"Connected since: "), UnicodeString::npos);
  EXPECT_NE(a[0].find(zfEncodeCustomInfo(u"Session.ID", rtl::IntToStr(static_cast<int64_t>(anon->asoGetID())))),
            UnicodeString::npos);
  EXPECT_EQ(0u, n[1].find(u"Username: bob [not authenticated]"));
  EXPECT_NE(n[1].find(zfEncodeCustomInfo(u"Session.Authenticated", u"0")), UnicodeString::npos);
}

// ---------------------------------------------------------------------------------------------
// Monitors and extenders

class ServerExtenders : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    Monitor = std::make_unique<TTestMonitor>();
    Monitor->SetServerEngine(Engine.get());
    Monitor->Open();
  }
  void TearDown() override {
    Engine->Close();
    Monitor.reset();
    ServerTest::TearDown();
  }
  std::unique_ptr<TTestMonitor> Monitor;
};

TEST_F(ServerExtenders, AVetoOfCreationEndsTheConstruction) {
  TTestSession* s = OpenSession();
  ASSERT_NE(nullptr, s);
  struct Case {
    TzfEngineAction Action;
  } cases[] = {{eaCreate}, {eaChildCreate}};
  for (const Case& c : cases) {
    Monitor->VetoAction = c.Action;
    Monitor->VetoCode = 10250;
    TzfAbstractDatabase* db = nullptr;
    EXPECT_EQ(10250u, s->DatabaseOpen(db, u"", u"Test", nullptr, omReadWrite, smShared, 0));
    EXPECT_EQ(nullptr, db);
    EXPECT_EQ(0u, s->asDatabases.Count());
    EXPECT_EQ(0, Engine->bseDatabaseCount.load());
  }
  Monitor->VetoAction = -1;
  s->Free();
}

TEST_F(ServerExtenders, OperationsAreAnnouncedBeforeAndAfterAndMayBeVetoed) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  {
    std::lock_guard g(Monitor->Lock);
    Monitor->Heard.clear();
  }
  int ran = 0;
  EXPECT_EQ(0u, db->Run([&] { return ++ran, 0u; }));
  Monitor->VetoAction = eaRecordGet;
  Monitor->VetoCode = 9729;
  EXPECT_EQ(9729u, db->Run([&] { return ++ran, 0u; }));
  EXPECT_EQ(1, ran);
  std::vector<std::pair<TzfEngineAction, bool>> expect{{eaRecordGet, true}, {eaRecordGet, false}, {eaRecordGet, true}};
  EXPECT_EQ(expect, Monitor->Heard);
  Monitor->VetoAction = -1;
  s->Free();
}

TEST_F(ServerExtenders, AStoppedMonitorIsNotToldAndStoppingFreesItsExtenders) {
  TTestSession* s = OpenSession();
  const int32_t created = Monitor->Created;
  EXPECT_GT(created, 0);
  EXPECT_FALSE(Monitor->Extenders().empty());
  EXPECT_NE(nullptr, s->GetExtenderOfType(TTestExtender::ClassInfo()));
  Monitor->GotoState(zfsStopped);
  EXPECT_TRUE(Monitor->Extenders().empty());
  EXPECT_EQ(nullptr, s->GetExtenderOfType(TTestExtender::ClassInfo()));
  OpenDatabase(s);
  EXPECT_EQ(created, Monitor->Created);
  s->Free();
}

TEST_F(ServerExtenders, AnObjectFreesItsExtendersAndTheMonitorHearsOfIt) {
  TTestSession* s = OpenSession();
  TTestDatabase* db = OpenDatabase(s);
  const size_t before = Monitor->Extenders().size();
  db->Free();
  EXPECT_EQ(before - 2, Monitor->Extenders().size());  // the database and its own context
  EXPECT_GE(Monitor->Destroyed, 2);
  s->Free();
  EXPECT_TRUE(Monitor->Extenders().empty());
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

class TNotifier : public TzfInterfacedObject, public IzfSessionNotifier {
 public:
  int32_t _AddRef() override { return TzfInterfacedObject::_AddRef(); }
  int32_t _Release() override { return TzfInterfacedObject::_Release(); }
  void SessionDisconnected() override {
    ++Told;
    if (Throw) throw rtl::Exception(u"notifier failed");
  }
  std::atomic<int32_t> Told{0};
  bool Throw = false;
};

TEST_F(ServerObjects, SessionNotificationsTellEachRegistrantOnceWhenTheSessionGoes) {
  TTestSession* s = OpenSession();
  RefPtr<TNotifier> a = RefPtr<TNotifier>::Create(), b = RefPtr<TNotifier>::Create(),
                    gone = RefPtr<TNotifier>::Create();
  a->Throw = true;  // does not stop the others
  IzfSessionNotifications& n = s->SessionNotifications();
  EXPECT_EQ(&n, &s->SessionNotifications());
  rtl::TGUID ca, cb, cg, empty;
  n.Register(a.get(), ca);
  n.Register(b.get(), cb);
  n.Register(gone.get(), cg);
  n.Register(nullptr, empty);
  EXPECT_EQ(rtl::TGUID{}, empty);
  // Forged and foreign cookies do nothing; the right one drops its registration once.
  rtl::TGUID forged = cg;
  forged.D4[0] ^= 1;  // the tick word
  n.Unregister(forged);
  n.Unregister(empty);
  EXPECT_EQ(3, static_cast<TzfSessionNotifications&>(n).Count());
  n.Unregister(cg);
  n.Unregister(cg);
  EXPECT_EQ(2, static_cast<TzfSessionNotifications&>(n).Count());
  s->Free();
  EXPECT_EQ(1, a->Told.load());
  EXPECT_EQ(1, b->Told.load());
  EXPECT_EQ(0, gone->Told.load());
  EXPECT_EQ(1, b->RefCount());  // the list's reference was given back
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

TEST_F(ServerObjects, AMonitorFollowsItsEnginesStartAndStop) {
  TTestEngine engine;
  TTestMonitor monitor;
  monitor.SetServerEngine(&engine);
  engine.Open();
  EXPECT_EQ(zfsStarted, monitor.State());
  engine.GotoState(zfsStopped);
  EXPECT_EQ(zfsStopped, monitor.State());
  engine.Open();
  EXPECT_EQ(zfsStarted, monitor.State());
  engine.Close();
  EXPECT_NE(zfsStarted, monitor.State());
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// Name -> value text of a container's direct items ("{...}" for a nested container).
std::vector<std::pair<UnicodeString, UnicodeString>> Items(IzfExceptionDataContainer& aContainer) {
  std::vector<std::pair<UnicodeString, UnicodeString>> r;
  for (int32_t i = 0; i < aContainer.GetCount(); ++i) {
    auto v = aContainer.GetItem(i);
    r.emplace_back(v->GetName(), v->GetKind() == edkContainer ? u"{...}" : v->AsString());
  }
  return r;
}

TEST_F(ServerObjects, ExceptionDataDescribesTheObjects) {
  TTestSession* s = OpenSession(u"carol", 250);
  TzfAbstractTransContext* shared = nullptr;
  ASSERT_EQ(0u, s->TransContextCreate(shared, 0));
  TTestDatabase* d1 = OpenDatabase(s, shared);
  d1->OptionSet(u"X", u"1");
  struct Case {
    TzfAbstractServerObject* Object;
    std::vector<std::pair<UnicodeString, UnicodeString>> Expected;
  };
  auto ctxItems = [&] {
    auto c = zfCreateExceptionDataContainer(u"c");
    shared->AddExceptionData(*c);
    return Items(*c);
  };
  EXPECT_EQ((std::vector<std::pair<UnicodeString, UnicodeString>>{{u"ClassName", u"TTestTransContext"},
                                                                  {u"Destroying", u"False"},
                                                                  {u"Timeout", u"0"},
                                                                  {u"Session", u"{...}"},
                                                                  {u"AttachedDatabases", u"One"}}),
            ctxItems());
  OpenDatabase(s, shared);
  EXPECT_EQ(u"Multiple", ctxItems().back().second);

  auto c = zfCreateExceptionDataContainer(u"d");
  d1->AddExceptionData(*c);
  EXPECT_EQ((std::vector<std::pair<UnicodeString, UnicodeString>>{{u"ClassName", u"TTestDatabase"},
                                                                  {u"Destroying", u"False"},
                                                                  {u"Options", u"{...}"},
                                                                  {u"Timeout", u"0"},
                                                                  {u"TransContext", u"{...}"}}),
            Items(*c));
  auto sc = zfCreateExceptionDataContainer(u"s");
  s->AddExceptionData(*sc);
  auto si = Items(*sc);
  ASSERT_EQ(8u, si.size());
  EXPECT_EQ(std::make_pair(UnicodeString(u"Timeout"), UnicodeString(u"250")), si[2]);
  EXPECT_EQ(std::make_pair(UnicodeString(u"UserName"), UnicodeString(u"carol")), si[4]);
  EXPECT_EQ(std::make_pair(UnicodeString(u"CleanedUp"), UnicodeString(u"False")), si[7]);
  // A conversion through the object answers the exception's own code.
  EXPECT_EQ(9729u, d1->asoConvertException(EzfBaseException(9729u)));
  s->Free();
}

}  // namespace
}  // namespace zf::test
