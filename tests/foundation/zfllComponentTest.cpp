// Dependents and notifications, names and errors of components, and the state machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "foundation/zfllComponent.h"
#include "foundation/zfllConvertException.h"
#include "foundation/zfllExceptionData.h"
#include "zfCaptureLog.h"

using namespace zf;
using zf::rtl::UnicodeString;

namespace {

using zf::test::CaptureLog;

// Counts the notifications it receives; may unlink a victim from the sender when told.
class Counter : public TzfComponent {
 public:
  using TzfComponent::TzfComponent;
  std::map<TzfNotificationKind, int> Received;
  TzfComponent* Victim = nullptr;
  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override {
    ++Received[aKind];
    if (aKind == 77 && Victim && aSender) aSender->UnlinkDependent(Victim);
    TzfComponent::ReceiveNotification(aSender, aKind, aData);
  }
};

template <typename T>
using Ptr = zf::rtl::TComponentPtr<T>;

}  // namespace

TEST(Component, LinkingIgnoresNilSelfAndDyingComponents) {
  Ptr<Counter> a(new Counter()), b(new Counter());
  a->LinkDependent(nullptr);
  a->LinkDependent(a.get());
  EXPECT_TRUE(a->Dependents().empty());
  a->LinkDependent(b.get());
  EXPECT_TRUE(a->IsDependent(b.get()));
  EXPECT_TRUE(b->IsDependent(a.get()));
  a->UnlinkDependent(b.get());
  EXPECT_FALSE(a->IsDependent(b.get()));
  EXPECT_FALSE(b->IsDependent(a.get()));
}

TEST(Component, DestroyingTellsEachDependentOnce) {
  Ptr<Counter> b(new Counter()), c(new Counter());
  {
    Ptr<Counter> a(new Counter());
    a->LinkDependent(b.get());
    a->LinkDependent(c.get());
  }
  EXPECT_EQ(b->Received[zfcnDestroying], 1);
  EXPECT_EQ(c->Received[zfcnDestroying], 1);
  EXPECT_TRUE(b->Dependents().empty());
  EXPECT_TRUE(c->Dependents().empty());
}

TEST(Component, AReceiverUnlinkingAnotherNeitherSkipsNorRepeats) {
  // Whoever is told first unlinks the dependent that sorts first, before its turn came.
  for (int round = 0; round < 4; ++round) {
    Ptr<Counter> sender(new Counter());
    std::vector<Ptr<Counter>> deps;
    for (int i = 0; i < 5; ++i) {
      deps.emplace_back(new Counter());
      sender->LinkDependent(deps.back().get());
    }
    std::vector<TzfComponent*> order = sender->Dependents();
    TzfComponent* victim = order.front();
    for (auto& d : deps) d->Victim = victim;
    sender->NotifyDependents(77, nullptr, nullptr);
    for (auto& d : deps) {
      if (d.get() == victim) {
        EXPECT_EQ(d->Received[77], 0) << "an unlinked component is no longer told";
        EXPECT_FALSE(sender->IsDependent(d.get()));
      } else {
        EXPECT_EQ(d->Received[77], 1) << "each remaining dependent is told exactly once";
      }
    }
  }
}

TEST(Component, IterationCollectsEachOnceByDisplayName) {
  Ptr<Counter> a(new Counter()), b(new Counter()), c(new Counter()), d(new Counter());
  a->SetName(u"bravo");
  b->SetName(u"Alpha");
  c->SetName(u"charlie");
  d->SetName(u"delta");
  a->LinkDependent(b.get());
  b->LinkDependent(c.get());
  c->LinkDependent(a.get());  // a ring
  c->LinkDependent(d.get());
  auto list = a->IterateDependents();
  ASSERT_EQ(list->Count(), 4);
  EXPECT_EQ(list->Items(0), b.get());
  EXPECT_EQ(list->Items(1), a.get());
  EXPECT_EQ(list->Items(2), c.get());
  EXPECT_EQ(list->Items(3), d.get());

  Ptr<Counter> lone(new Counter());
  EXPECT_EQ(lone->IterateDependents()->Count(), 1);
}

namespace {
class Blocker : public Counter {
 public:
  using Counter::Counter;
  const char16_t* ClassName() const override { return u"TBlocker"; }
};
}  // namespace

TEST(Component, IgnoredClassStopsTheIteration) {
  Ptr<Counter> a(new Counter()), behind(new Counter());
  Ptr<Blocker> gate(new Blocker());
  a->SetName(u"a");
  gate->SetName(u"gate");
  behind->SetName(u"behind");
  a->LinkDependent(gate.get());
  gate->LinkDependent(behind.get());
  auto list = a->IterateDependentsEx({u"tblocker"});
  ASSERT_EQ(list->Count(), 1);
  EXPECT_EQ(list->Items(0), a.get());

  // Same display name in another case: listed once, and what lies only behind the second is not.
  Ptr<Counter> twin(new Counter());
  twin->SetName(u"A");
  Ptr<Counter> hidden(new Counter());
  hidden->SetName(u"hidden");
  a->LinkDependent(twin.get());
  twin->LinkDependent(hidden.get());
  auto list2 = a->IterateDependentsEx({u"TBlocker"});
  ASSERT_EQ(list2->Count(), 1);
}

TEST(Component, NamesAndVersion) {
  Ptr<TzfComponent> c(new TzfComponent());
  EXPECT_EQ(c->DisplayName(), u"TzfComponent");
  c->SetName(u"Engine");
  EXPECT_EQ(c->DisplayName(), u"Engine");
  c->SetDisplayName(u"ENGINE");
  EXPECT_FALSE(c->DisplayNameStored());
  c->SetDisplayName(u"Main engine");
  EXPECT_TRUE(c->DisplayNameStored());
  EXPECT_EQ(c->DisplayName(), u"Main engine");
  EXPECT_EQ(TzfComponent::Version(), u"3.0900 Release (P14)");
  EXPECT_EQ(zfFormatInt64(1234567), u"1,234,567");
  EXPECT_EQ(zfFormatInt64(-5), u"-5");
}

TEST(Component, ErrorsNameTheComponent) {
  Ptr<TzfStateComponent> c(new TzfStateComponent());
  EXPECT_NO_THROW(c->CheckResult(0));
  try {
    c->CheckResult(15498);
    FAIL();
  } catch (const EzfStateComponentException& e) {
    EXPECT_EQ(e.ErrorCode(), 15498u);
    const UnicodeString m = e.Message();
    EXPECT_EQ(m.substr(0, 48), u"ZofrinDB: <unnamed TzfStateComponent instance>: ");
    EXPECT_EQ(m.substr(m.size() - 13), u"[$3C8A/15498]");
  }
  c->SetName(u"Session");
  try {
    c->RaiseError(u"Plain %s", {u"text"});
    FAIL();
  } catch (const EzfComponentException& e) {
    EXPECT_EQ(e.Message(), u"ZofrinDB: Session: Plain text [no error code]");
  }
  EXPECT_EQ(EzfComponentException::ComponentName(nullptr), u"<nil pointer>");
}

// ---------------------------------------------------------------------------------------------
// The state machine

namespace {

class Machine : public TzfStateComponent {
 public:
  explicit Machine(std::vector<std::string>* aCalls = nullptr, const char* aTag = "") : Calls(aCalls), Tag(aTag) {}
  std::vector<std::string>* Calls;
  std::string Tag;
  std::string FailIn;  // hook that raises
  Machine* Needs = nullptr;
  bool Uptime = false;

  void Note(const std::string& s) {
    if (Calls) Calls->push_back(Tag + s);
  }
  bool DependsOn(TzfComponent* aComponent) override { return aComponent && aComponent == Needs; }
  bool HasUptimeStat() override { return Uptime; }

 protected:
  void Hook(const char* aName) {
    Note(aName);
    if (FailIn == aName) throw zf::rtl::EConvertError(zf::rtl::u16(std::string(aName) + " failed"));
  }
  void DoInitializing() override { Hook("DoInitializing"); }
  void DoDeactivating() override { Hook("DoDeactivating"); }
  void DoStarting() override { Hook("DoStarting"); }
  void DoStopping() override { Hook("DoStopping"); }
  bool StateChanging(TzfState o, TzfState n) override {
    Note("StateChanging(" + zf::rtl::u8(zfStateToStr(o)) + "," + zf::rtl::u8(zfStateToStr(n)) + ")");
    return TzfStateComponent::StateChanging(o, n);
  }
  void StateChanged(TzfState o, TzfState n) override {
    Note("StateChanged(" + zf::rtl::u8(zfStateToStr(o)) + "," + zf::rtl::u8(zfStateToStr(n)) + ")");
    TzfStateComponent::StateChanged(o, n);
  }
  void StateTransitionChanged(TzfStateTransition t) override {
    Note("Transition(" + zf::rtl::u8(zfStateTransitionToStr(t)) + ")");
    TzfStateComponent::StateTransitionChanged(t);
  }
};

class Refuser : public TzfComponent {
 public:
  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override {
    TzfComponent::ReceiveNotification(aSender, aKind, aData);
    if (aKind == zfcnStateChanging && static_cast<const uint8_t*>(aData)[1] == zfsStarted) throw EzfAbortStateChange();
  }
};

}  // namespace

TEST(StateMachine, StartingCallsEveryHookInOrder) {
  std::vector<std::string> calls;
  Ptr<Machine> m(new Machine(&calls));
  m->GotoState(zfsStarted);
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "Transition(Initializing)", "StateChanging(Inactive,Stopped)", "DoInitializing",
                       "StateChanged(Inactive,Stopped)", "Transition(None)", "Transition(Starting)",
                       "StateChanging(Stopped,Started)", "DoStarting", "StateChanged(Stopped,Started)",
                       "Transition(None)"}));
  EXPECT_EQ(m->State(), zfsStarted);
  EXPECT_TRUE(m->ActiveRuntime());
  calls.clear();
  m->Close();
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "Transition(Stopping)", "StateChanging(Started,Stopped)", "DoStopping",
                       "StateChanged(Started,Stopped)", "Transition(None)", "Transition(Deactivating)",
                       "StateChanging(Stopped,Inactive)", "DoDeactivating", "StateChanged(Stopped,Inactive)",
                       "Transition(None)"}));
}

TEST(StateMachine, FailedStartIsUndoneLoggedAndReraised) {
  std::vector<std::string> calls;
  Ptr<CaptureLog> log(new CaptureLog());
  Ptr<Machine> m(new Machine(&calls));
  m->SetEventLog(log.get());
  m->SetEventLogEnabled(true);
  m->FailIn = "DoStarting";
  try {
    m->Open();
    FAIL() << "the start must fail";
  } catch (const zf::rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), u"DoStarting failed");
  }
  EXPECT_EQ(m->State(), zfsInactive);
  EXPECT_EQ(m->StateTransition(), zfstNone);
  std::vector<std::string> hooks;
  for (const auto& c : calls)
    if (c.rfind("Do", 0) == 0) hooks.push_back(c);
  EXPECT_EQ(hooks, (std::vector<std::string>{"DoInitializing", "DoStarting", "DoStopping", "DoDeactivating"}));
  ASSERT_EQ(log->Entries.size(), 1u);
  EXPECT_EQ(log->Entries[0].Msg, u"Error while changing state (Stopped -> Started): EConvertError: DoStarting failed");
  EXPECT_EQ(log->Entries[0].Number, 15521u);
  EXPECT_EQ(log->Entries[0].Priority, lpError);
  EXPECT_EQ(log->Entries[0].Category, u"default");
}

TEST(StateMachine, FailureOnTheWayDownIsLoggedAndTheComponentStillStops) {
  Ptr<CaptureLog> log(new CaptureLog());
  Ptr<Machine> m(new Machine());
  m->SetEventLog(log.get());
  m->SetEventLogEnabled(true);
  m->Open();
  m->FailIn = "DoStopping";
  EXPECT_NO_THROW(m->Close());
  EXPECT_EQ(m->State(), zfsInactive);
  ASSERT_EQ(log->Entries.size(), 1u);
  EXPECT_EQ(log->Entries[0].Msg, u"Error while changing state (Started -> Stopped): EConvertError: DoStopping failed");
}

TEST(StateMachine, UnsupportedAbortAndDisabled) {
  struct Unsupported : Machine {
    void GoUnsupported() { GotoState(zfsUnsupported); }
  };
  std::vector<std::string> calls;
  Ptr<Unsupported> u(new Unsupported());
  u->GoUnsupported();
  ASSERT_EQ(u->State(), zfsUnsupported);
  u->Calls = &calls;
  u->Open();
  u->Close();
  EXPECT_EQ(u->State(), zfsUnsupported);
  for (const auto& c : calls) EXPECT_NE(c.rfind("Do", 0), 0u) << c;

  Ptr<Machine> m(new Machine());
  Ptr<Refuser> r(new Refuser());
  m->LinkDependent(r.get());
  EXPECT_NO_THROW(m->Open());
  EXPECT_EQ(m->State(), zfsStopped);
  m->UnlinkDependent(r.get());
  m->Open();
  ASSERT_EQ(m->State(), zfsStarted);
  m->SetEnabled(false);
  EXPECT_EQ(m->State(), zfsInactive);
  try {
    m->Open();
    FAIL();
  } catch (const EzfStateComponentException& e) {
    EXPECT_NE(e.Message().find(u"The Component is disabled."), UnicodeString::npos);
  }
  EXPECT_EQ(m->State(), zfsInactive);
}

TEST(StateMachine, OpeningFollowsDependenciesAndClosingFollowsDependents) {
  std::vector<std::string> calls;
  Ptr<Machine> session(new Machine(&calls, "session."));
  Ptr<Machine> database(new Machine(&calls, "database."));
  database->Needs = session.get();
  database->LinkDependent(session.get());
  database->Open();
  EXPECT_EQ(session->State(), zfsStarted);
  std::vector<std::string> hooks;
  for (const auto& c : calls)
    if (c.find(".Do") != std::string::npos) hooks.push_back(c);
  EXPECT_EQ(hooks, (std::vector<std::string>{"session.DoInitializing", "database.DoInitializing", "session.DoStarting",
                                              "database.DoStarting"}));
  calls.clear();
  session->Close();
  EXPECT_EQ(database->State(), zfsInactive);
  hooks.clear();
  for (const auto& c : calls)
    if (c.find(".Do") != std::string::npos) hooks.push_back(c);
  EXPECT_EQ(hooks, (std::vector<std::string>{"database.DoStopping", "session.DoStopping", "database.DoDeactivating",
                                              "session.DoDeactivating"}));

  // A session that cannot start makes the database's start fail with the same exception.
  session->FailIn = "DoStarting";
  EXPECT_THROW(database->Open(), zf::rtl::EConvertError);
  EXPECT_EQ(database->State(), zfsInactive);
}

TEST(StateMachine, CheckOperationsAndUptime) {
  Ptr<Machine> m(new Machine());
  m->Uptime = true;
  EXPECT_THROW(m->CheckStarted(), EzfStateComponentException);
  std::vector<UnicodeString> captions, values;
  m->GetStatsCaptions(captions);
  m->GetStatsValues(values);
  EXPECT_EQ(captions, (std::vector<UnicodeString>{u"Uptime"}));
  EXPECT_EQ(values, (std::vector<UnicodeString>{u""}));
  m->Open();
  EXPECT_NO_THROW(m->CheckStarted());
  EXPECT_THROW(m->CheckInactive(), EzfStateComponentException);
  EXPECT_THROW(m->CheckInactiveOrStopped(), EzfStateComponentException);
  values.clear();
  m->GetStatsValues(values);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].substr(0, 7), u"0.00:00");
  EXPECT_EQ(values[0].size(), 10u);
  m->SetUpdating(true);
  m->CheckInactive();  // switches instead of raising
  EXPECT_EQ(m->State(), zfsInactive);
}

TEST(StateMachine, DestroyingAStartedComponentClosesItFirst) {
  std::vector<std::string> calls;
  {
    Ptr<Machine> m(new Machine(&calls));
    m->Open();
    calls.clear();
  }
  ASSERT_GE(calls.size(), 2u);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "DoStopping"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "DoDeactivating"), calls.end());
}

// ---------------------------------------------------------------------------------------------
// Settings streams

#include "foundation/zflgEventLog.h"
#include "foundation/zfllStreams.h"

namespace {

std::vector<uint8_t> Bytes(TzfMemoryStream& aStream) {
  std::vector<uint8_t> out(static_cast<size_t>(aStream.GetSize()));
  aStream.SetPosition(0);
  aStream.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
  aStream.SetPosition(0);
  return out;
}

template <typename F>
void Write(TzfMemoryStream& aStream, F aWrite) {
  TzfWriter w(aStream);
  aWrite(w);
  w.FlushBuffer();
}

}  // namespace

TEST(ComponentSettings, StateComponentBlockGoldenBytes) {
  Ptr<Machine> m(new Machine());
  m->SetName(u"Engine");
  m->SetEventLogEnabled(true);
  m->Open();
  TzfMemoryStream s;
  Write(s, [&](TzfWriter& w) { m->SaveSettingsToStream(w); });
  EXPECT_EQ(Bytes(s), (std::vector<uint8_t>{0x02, 0x01, 0x06, 0x06, 'E', 'n', 'g', 'i', 'n', 'e', 0x02, 0x01, 0x09, 0x09}));

  Ptr<Machine> back(new Machine());
  back->SetName(u"Engine");
  {
    TzfReader r(s);
    back->LoadSettingsFromStream(r);
  }
  EXPECT_TRUE(back->EventLogEnabled());
  EXPECT_EQ(back->State(), zfsInactive);  // the activation is only remembered
  back->SwitchToSavedActive();
  EXPECT_EQ(back->State(), zfsStarted);
}

TEST(ComponentSettings, UnknownVersionsAreRefused) {
  Ptr<Machine> m(new Machine());
  m->SetName(u"Engine");
  TzfMemoryStream s;
  Write(s, [](TzfWriter& w) {
    w.WriteInteger(int32_t{1});
    w.WriteString(u"Engine");
    w.WriteInteger(int32_t{2});  // the state block has only version 1
  });
  s.SetPosition(0);
  TzfReader r(s);
  try {
    m->LoadSettingsFromStream(r);
    FAIL();
  } catch (const EzfComponentException& e) {
    EXPECT_EQ(e.ErrorCode(), 15498u);
  }
}

TEST(ComponentSettings, EventLogBlockReadsBothVersions) {
  Ptr<TzfEventLog> log(new TzfEventLog());
  log->SetName(u"EventLog");
  log->SetFileName(u"/tmp/x/zfRecoverEvent.log");
  TzfMemoryStream s;
  Write(s, [&](TzfWriter& w) { log->SaveSettingsToStream(w); });
  s.SetPosition(0);
  Ptr<TzfEventLog> back(new TzfEventLog());
  back->SetName(u"EventLog");
  {
    TzfReader r(s);
    back->LoadSettingsFromStream(r);
  }
  EXPECT_EQ(back->FileName(), u"/tmp/x/zfRecoverEvent.log");

  TzfMemoryStream old;
  Write(old, [](TzfWriter& w) {
    w.WriteInteger(int32_t{1});
    w.WriteString(u"EventLog");
    w.WriteInteger(int32_t{1});
    w.WriteInteger(int32_t{4096});  // read and dropped
    w.WriteString(u"old.log");
  });
  old.SetPosition(0);
  TzfReader r(old);
  back->LoadSettingsFromStream(r);
  EXPECT_EQ(back->FileName(), u"old.log");
}

TEST(ComponentSettings, IterationStreamSkipsUnknownComponentsAndRefusesDamage) {
  Ptr<Machine> a(new Machine()), b(new Machine());
  a->SetName(u"Alpha");
  b->SetName(u"Beta");
  a->SetEventLogEnabled(true);
  a->LinkDependent(b.get());
  TzfMemoryStream s;
  Write(s, [&](TzfWriter& w) {
    w.WriteInteger(int32_t{2});
    w.WriteListBegin();
    // A component that is not listed: its bytes are skipped.
    w.WriteString(u"Ghost");
    w.WriteInteger(int64_t{3});
    const uint8_t junk[3] = {0xFF, 0xFE, 0xFD};
    w.Write(junk, 3);
    w.WriteListEnd();
  });
  // The real list, as the iteration list saves it.
  TzfMemoryStream real;
  Write(real, [&](TzfWriter& w) { a->IterateDependents()->SaveSettingsToStream(w); });

  Ptr<Machine> a2(new Machine()), b2(new Machine());
  a2->SetName(u"Alpha");
  b2->SetName(u"Beta");
  a2->LinkDependent(b2.get());
  auto list = a2->IterateDependents();
  {
    s.SetPosition(0);
    TzfReader r(s);
    list->LoadSetttingsFromStream(r);
  }
  EXPECT_FALSE(a2->EventLogEnabled());
  {
    real.SetPosition(0);
    TzfReader r(real);
    list->LoadSetttingsFromStream(r);
  }
  EXPECT_TRUE(a2->EventLogEnabled());
  EXPECT_FALSE(b2->EventLogEnabled());

  // A block length beyond the end of the stream is refused, not read.
  TzfMemoryStream damaged;
  Write(damaged, [](TzfWriter& w) {
    w.WriteInteger(int32_t{2});
    w.WriteListBegin();
    w.WriteString(u"Alpha");
    w.WriteInteger(int64_t{1} << 40);
  });
  damaged.SetPosition(0);
  TzfReader r(damaged);
  EXPECT_THROW(list->LoadSetttingsFromStream(r), EzfComponentException);
}

TEST(ComponentExceptionData, StateComponentDescribesItself) {
  Ptr<Machine> m(new Machine());
  m->SetName(u"Engine");
  m->SetDisplayName(u"Main engine");
  m->SetDisplayCategory(u"Server");
  m->Uptime = true;
  TzfExceptionDataRef data = zfCreateExceptionDataContainer(u"ExceptionData");
  m->AddExceptionData(*data);
  std::vector<std::pair<UnicodeString, UnicodeString>> values;
  for (int32_t i = 0; i < data->GetCount(); ++i) {
    auto v = data->GetItem(i);
    values.emplace_back(v->GetName(), v->GetKind() == edkContainer ? u"<container>" : v->AsString());
  }
  EXPECT_EQ(values, (std::vector<std::pair<UnicodeString, UnicodeString>>{{u"ClassName", u"TzfStateComponent"},
                                                                          {u"DisplayName", u"Main engine"},
                                                                          {u"DisplayCategory", u"Server"},
                                                                          {u"Stats", u"<container>"},
                                                                          {u"State", u"Inactive"},
                                                                          {u"StateTransition", u"None"}}));
  EXPECT_EQ(data->GetItem(3)->AsContainer()->GetCount(), 1);  // Uptime

  // A failed start hands the component's description on with the converted code.
  m->FailIn = "DoStarting";
  EXPECT_THROW(m->Open(), zf::rtl::EConvertError);
  uint32_t code = 0;
  UnicodeString text;
  EzfBaseException::GetLastConvertedException(code, text);
  EXPECT_EQ(code, 15521u);
  EXPECT_NE(text.find(u"$ExceptionData$="), UnicodeString::npos);
}

// ---------------------------------------------------------------------------------------------
// Configuration

namespace {

struct ListSettings : TzfBaseSettings {
  std::vector<std::unique_ptr<TzfBaseSetting>> Items;
  TzfBaseSetting& AddSetting(std::unique_ptr<TzfBaseSetting> aSetting) override {
    Items.push_back(std::move(aSetting));
    return *Items.back();
  }
  void RemoveSetting(int aIndex) override { Items.erase(Items.begin() + aIndex); }
};

struct MapConfig : TzfBaseComponentConfiguration {
  MapConfig() : TzfBaseComponentConfiguration(nullptr) {}
  std::map<UnicodeString, zf::rtl::Variant> Values;
  void SetValue(const UnicodeString& aName, const zf::rtl::Variant& aValue) override { Values[aName] = aValue; }
  zf::rtl::Variant GetValue(const UnicodeString& aName, const zf::rtl::Variant& aDefault) override {
    auto it = Values.find(aName);
    return it == Values.end() ? aDefault : it->second;
  }
};

}  // namespace

TEST(ComponentConfig, StateComponentSettingsAndStore) {
  Ptr<Machine> m(new Machine());
  ListSettings settings;
  m->GetConfigSettings(settings);
  ASSERT_EQ(settings.Items.size(), 2u);
  EXPECT_EQ(settings.Items[0]->fName, u"Active");
  EXPECT_EQ(settings.Items[1]->Label(), u"Event Log Enabled");
  EXPECT_EQ(settings.Items[1]->fSettingType, zfstBoolean);

  MapConfig config;
  config.Values[u"Active"] = true;
  config.Values[u"EventLogEnabled"] = true;
  int loaded = 0;
  m->OnSettingsLoaded = [&](TzfComponent*) { ++loaded; };
  m->DoLoadConfig(config);
  EXPECT_EQ(loaded, 1);
  EXPECT_TRUE(m->EventLogEnabled());
  EXPECT_EQ(m->State(), zfsInactive);  // loading activates nothing
  m->SwitchToSavedActive();
  EXPECT_EQ(m->State(), zfsStarted);

  MapConfig saved;
  m->SaveConfig(saved);
  EXPECT_TRUE(saved.Values[u"Active"].AsBoolean());

  Ptr<TzfEventLog> log(new TzfEventLog());
  MapConfig logConfig;
  logConfig.Values[u"FileName"] = u"x.log";
  log->LoadConfig(logConfig);
  EXPECT_EQ(log->FileName(), u"x.log");
  EXPECT_EQ(log->MaxSize(), 0);
}

TEST(ComponentInfo, CreateInstanceAndInterfaces) {
  RefPtr<TzfComponentInfo> info;
  {
    Ptr<Machine> m(new Machine());
    m->SetName(u"Engine");
    const zf::rtl::TGUID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(m->zfcCreateInstance(nullptr, other, nullptr, IID_IzfComponentInfo, info), E_NOTIMPL);
    EXPECT_FALSE(info);
    int outer = 0;
    EXPECT_EQ(m->zfcCreateInstance(nullptr, CLSID_zfComponentInfo, &outer, IID_IzfComponentInfo, info), E_NOTIMPL);
    EXPECT_FALSE(info);

    ASSERT_EQ(m->zfcCreateInstance(nullptr, CLSID_zfComponentInfo, nullptr, IID_IzfStateComponentInfo, info), S_OK);
    RefPtr<TzfComponentInfo> again;
    ASSERT_EQ(m->zfcCreateInstance(nullptr, CLSID_zfComponentInfo, nullptr, IID_IzfComponentInfo, again), S_OK);
    EXPECT_EQ(info.get(), again.get()) << "one info object per component";
    UnicodeString text;
    EXPECT_EQ(info->GetClassName(text), S_OK);
    EXPECT_EQ(text, u"TzfStateComponent");
    EXPECT_EQ(info->GetComponentDisplayName(text), S_OK);
    EXPECT_EQ(text, u"Engine");
    m->Open();
    uint8_t state = 0;
    auto* stateInfo = dynamic_cast<TzfStateComponentInfo*>(info.get());
    ASSERT_NE(stateInfo, nullptr);
    EXPECT_EQ(stateInfo->GetState(state), S_OK);
    EXPECT_EQ(state, zfsStarted);
    RefPtr<TzfComponentInfo> logInfo;
    EXPECT_EQ(stateInfo->GetEventLogInfo(logInfo), S_OK);
    EXPECT_FALSE(logInfo);
    Ptr<CaptureLog> log(new CaptureLog());
    log->SetName(u"EventLog");
    m->SetEventLog(log.get());
    EXPECT_EQ(stateInfo->GetEventLogInfo(logInfo), S_OK);
    ASSERT_TRUE(logInfo);
    EXPECT_EQ(logInfo->GetName(text), S_OK);
    EXPECT_EQ(text, u"EventLog");

    Ptr<TzfComponent> plain(new TzfComponent());
    RefPtr<TzfComponentInfo> none;
    EXPECT_EQ(plain->zfcCreateInstance(nullptr, CLSID_zfComponentInfo, nullptr, IID_IzfStateComponentInfo, none),
              E_NOINTERFACE);
    EXPECT_FALSE(none);
  }
  // The component is gone: its info object was detached, calls fail instead of reaching it.
  UnicodeString text = u"stale";
  EXPECT_EQ(info->GetName(text), E_FAIL);
  EXPECT_EQ(text, u"");
}

TEST(StateMachine, LoadingAppliesTheStoredActivationAtTheEnd) {
  Ptr<Machine> m(new Machine());
  m->BeginLoading();
  m->SetActiveRuntime(true);
  EXPECT_EQ(m->State(), zfsInactive) << "nothing is activated while loading";
  m->EndLoading();
  EXPECT_EQ(m->State(), zfsStarted);
  m->SetActiveRuntime(false);
  EXPECT_EQ(m->State(), zfsInactive);
  EXPECT_FALSE(m->ActiveRuntime());

  // A failing activation leaves the stored flag at what the component really is.
  m->FailIn = "DoInitializing";
  EXPECT_THROW(m->SetActiveRuntime(true), zf::rtl::EConvertError);
  EXPECT_FALSE(m->ActiveRuntime());
}

TEST(Component, RaisingAConvertedCodeCarriesItsText) {
  Ptr<TzfComponent> c(new TzfComponent());
  c->SetName(u"Database");
  zfConvertException(zf::rtl::EConvertError(u"bad"), nullptr, nullptr);
  try {
    c->CheckResult(15521);
    FAIL();
  } catch (const EzfComponentException& e) {
    EXPECT_EQ(e.Message(), u"ZofrinDB: Database: Unexpected exception object raised: [EConvertError] bad [$3CA1/15521]");
    EXPECT_EQ(e.CustomInfos().Value(u"Exception.Class"), u"EConvertError");
  }
}

// A second registration of a class name is refused with the exception class of the component
// class being registered: its own level's, not a parent's.
TEST(ComponentRegistry, DuplicateRegistrationRaisesTheClassesOwnException) {
  static TzfRegisterableComponent* (*const none)(zf::rtl::TComponent*) = [](zf::rtl::TComponent*) {
    return static_cast<TzfRegisterableComponent*>(nullptr);
  };
  static const TzfComponentClass registerable{u"TDupRegisterable", &TzfRegisterableComponent::ClassInfo(), none};
  static const TzfComponentClass log{u"TDupLog", &TzfBaseLog::ClassInfo(), none};
  static const TzfComponentClass loggable{u"TDupLoggable", &TzfLoggableComponent::ClassInfo(), none};
  static const TzfComponentClass state{u"TDupState", &TzfStateComponent::ClassInfo(), none};
  struct Case {
    const TzfComponentClass* Class;
    const std::type_info& Raised;
  };
  const Case cases[] = {{&registerable, typeid(EzfRegisterableComponentException)},
                        {&log, typeid(EzfBaseLogException)},
                        {&loggable, typeid(EzfLoggableComponentException)},
                        {&state, typeid(EzfStateComponentException)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(zf::rtl::u8(c.Class->Name));
    TzfRegisterableComponent::RegisterComponentClass(*c.Class);
    try {
      TzfRegisterableComponent::RegisterComponentClass(*c.Class);
      ADD_FAILURE() << "a second registration must be refused";
    } catch (const zf::rtl::Exception& e) {
      EXPECT_EQ(std::string(typeid(e).name()), std::string(c.Raised.name()));
      EXPECT_NE(e.Message().find(u"is already registered"), UnicodeString::npos);
    }
    EXPECT_EQ(TzfRegisterableComponent::FindRegisteredClass(c.Class->Name), c.Class);
    TzfRegisterableComponent::UnregisterComponentClass(*c.Class);
  }
}
