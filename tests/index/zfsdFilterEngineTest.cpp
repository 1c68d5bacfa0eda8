// Filter framework: descriptor streams, engines by name, identities, switching, callback filters,
// SQL filters without an SQL layer, and hubs.
#include <gtest/gtest.h>

#include <set>

#include "foundation/zfllStreams.h"
#include "index/zfsdFilterEngineCallback.h"
#include "index/zfsdFilterEngineHub.h"
#include "index/zfsdFilterEngineSQL.h"
#include "index/zfsdFilterEngineSimpleExpression.h"
#include "tests/index/zfsrIndexTestUtil.h"

namespace zf::test {
namespace {

using TBytes = std::vector<uint8_t>;

class FilterEngineTest : public IndexStarted {
 protected:
  void TearDown() override { SqlFilterStatementClass = nullptr; }

  // The descriptor read from aBytes, or the code.
  uint32_t Read(const TBytes& aBytes, std::unique_ptr<TzfBaseFilterDescriptor>& aFilter) {
    TzfMemoryStream s(-1);
    LoadBytes(s, aBytes);
    return TzfBaseFilterDescriptor::CreateFromStream(s, aFilter);
  }
  TBytes Written(TzfBaseFilterDescriptor& aFilter, int32_t aVersion) {
    TzfMemoryStream s(-1);
    EXPECT_EQ(aFilter.WriteToStream(s, aVersion), zfErrNone);
    return StreamBytes(s);
  }
  static TBytes Framed(const std::string& aName, TBytes aBody) {
    TBytes b{static_cast<uint8_t>(aName.size())};
    b.insert(b.end(), aName.begin(), aName.end());
    b.insert(b.end(), aBody.begin(), aBody.end());
    return b;
  }
  std::unique_ptr<TzfBaseFilterEngine> Callback(int32_t aCookie, bool aResult, int* aCalls = nullptr) {
    TzfCallbackFilterDescriptor d(aCookie, [aResult, aCalls](int32_t, const uint8_t*) {
      if (aCalls) ++*aCalls;
      return aResult;
    });
    return TzfBaseFilterEngine::CreateFor(d, nullptr);
  }

  const uint8_t buffer[4] = {1, 2, 3, 4};
};

TEST_F(FilterEngineTest, DescriptorStreamFrame) {
  std::unique_ptr<TzfBaseFilterDescriptor> f;
  EXPECT_EQ(Read({}, f), zfErrInvalidParam);
  EXPECT_EQ(Read({5, 'T', 'z'}, f), zfErrInvalidParam);
  EXPECT_EQ(Read({0}, f), zfErrNotSupported);
  EXPECT_EQ(f, nullptr);
  // The name without "Descriptor" finds the class registered with it.
  ASSERT_EQ(Read(Framed("TzfSimpleExpressionFilter", {1, 0, 0}), f), zfErrNone);
  EXPECT_EQ(UnicodeString(f->ClassName()), u"TzfSimpleExpressionFilterDescriptor");
  // Classes without a stream form.
  EXPECT_EQ(Read(Framed("TzfCallbackFilterDescriptor", {}), f), zfErrNotSupported);
  EXPECT_EQ(Read(Framed("TzfFilterDescriptorHub", {}), f), zfErrNotSupported);
  TzfCallbackFilterDescriptor cb(1, nullptr);
  TzfMemoryStream s(-1);
  EXPECT_EQ(cb.WriteToStream(s, 30900), zfErrNotSupported);
  EXPECT_EQ(s.Size(), 0);
}

TEST_F(FilterEngineTest, SimpleExpressionDescriptorStreams) {
  const TBytes blob = {1, 2, 3};
  const std::string name = "TzfSimpleExpressionFilterDescriptor";
  struct TCase {
    int32_t CodePage;
    const char16_t* Text;
    int32_t Version;
    TBytes Body;
  } cases[] = {
      {-1, u"", 30900, {1, 3, 0, 1, 2, 3}},
      {-1, u"A", 30900, {3, 3, 0, 1, 2, 3, 1, 0, 'A', 0}},
      {1250, u"", 30001, {1, 3, 0, 1, 2, 3}},
      {1250, u"\u0161", 30001, {3, 3, 0, 1, 2, 3, 1, 0, 0x61, 0x01}},
      {1250, u"", 30002, {4, 3, 0, 1, 2, 3, 0, 0, 0xE2, 0x04, 0, 0}},
  };
  for (const auto& c : cases) {
    TzfSimpleExpressionFilterDescriptor d(blob, c.CodePage, c.Text);
    const TBytes bytes = Written(d, c.Version);
    EXPECT_EQ(bytes, Framed(name, c.Body));
    std::unique_ptr<TzfBaseFilterDescriptor> f;
    ASSERT_EQ(Read(bytes, f), zfErrNone);
    auto* back = dynamic_cast<TzfSimpleExpressionFilterDescriptor*>(f.get());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->bsfdExpression, blob);
    EXPECT_EQ(back->bsfdFilterText, c.Text);
    EXPECT_EQ(back->bsfdCodePage, c.Body[0] == 4 ? c.CodePage : -1);
  }
  // Version 2 carries 8-bit text and no code page.
  std::unique_ptr<TzfBaseFilterDescriptor> f;
  ASSERT_EQ(Read(Framed(name, {2, 1, 0, 9, 2, 0, 'h', 'i'}), f), zfErrNone);
  auto* v2 = static_cast<TzfSimpleExpressionFilterDescriptor*>(f.get());
  EXPECT_EQ(v2->bsfdFilterText, u"hi");
  EXPECT_EQ(v2->bsfdCodePage, -1);
  // Refused: versions 0 and 5, a short text, a short code page, a blob shorter than its length.
  for (const TBytes& body : {TBytes{0, 0, 0}, TBytes{5, 0, 0}, TBytes{3, 0, 0, 4, 0, 'a', 0},
                             TBytes{4, 0, 0, 0, 0, 1}, TBytes{1, 9, 0, 1, 2}}) {
    EXPECT_NE(Read(Framed(name, body), f), zfErrNone);
    EXPECT_EQ(f, nullptr);
  }
  EXPECT_EQ(Read(Framed(name, {5, 0, 0}), f), zfErrIncompatibleStream);
  EXPECT_EQ(Read(Framed(name, {3, 0, 0, 4, 0, 'a', 0}), f), zfErrIncompatibleStream);
}

TEST_F(FilterEngineTest, SqlDescriptorStreamsAndTheMissingEvaluator) {
  TzfSqlFilterDescriptor d(u"Name = '\u0161\u4e2d'");
  const TBytes bytes = Written(d, 30900);
  TBytes body = {2, 11, 0, 0, 0};
  for (char16_t c : d.bsfdExpression) {
    body.push_back(static_cast<uint8_t>(c));
    body.push_back(static_cast<uint8_t>(c >> 8));
  }
  EXPECT_EQ(bytes, Framed("TzfSqlFilterDescriptor", body));
  std::unique_ptr<TzfBaseFilterDescriptor> f;
  ASSERT_EQ(Read(bytes, f), zfErrNone);
  EXPECT_EQ(static_cast<TzfSqlFilterDescriptor*>(f.get())->bsfdExpression, d.bsfdExpression);
  ASSERT_EQ(Read(Framed("TzfSqlFilterDescriptor", {1, 2, 0, 0, 0, 'o', 'k'}), f), zfErrNone);
  EXPECT_EQ(static_cast<TzfSqlFilterDescriptor*>(f.get())->bsfdExpression, u"ok");
  for (const TBytes& bad : {TBytes{254, 0, 0, 0, 0}, TBytes{253, 0, 0, 0, 0}, TBytes{2, 1, 0}, TBytes{2, 2, 0, 0, 0, 'a', 0},
                            TBytes{2, 0xFF, 0xFF, 0xFF, 0xFF}, TBytes{2, 0xFF, 0xFF, 0xFF, 0x7F}})
    EXPECT_EQ(Read(Framed("TzfSqlFilterDescriptor", bad), f), zfErrIncompatibleStream);

  EXPECT_EQ(Outcome([&] { TzfBaseFilterEngine::CreateFor(d, nullptr); }),
            u"!EzfSqlFilterEngineException #12289: ZofrinDB: SQL Filters require SqlFilterStatementClass to be "
            u"assigned [$3001/12289]");

  // An SQL layer's statement decides; one that raises lets nothing pass.
  class TStatement : public TzfBaseSqlFilterStatement {
   public:
    using TzfBaseSqlFilterStatement::TzfBaseSqlFilterStatement;
    bool Evaluate() override {
      if (bsfsBuffer[0] == 9) throw rtl::Exception(u"boom");
      return bsfsBuffer[0] == 1;
    }
  };
  SqlFilterStatementClass = [](IzfFieldsSource* s, const UnicodeString& t) -> std::unique_ptr<TzfBaseSqlFilterStatement> {
    return std::make_unique<TStatement>(s, t);
  };
  auto e = TzfBaseFilterEngine::CreateFor(d, nullptr);
  const uint8_t one = 1, two = 2, nine = 9;
  EXPECT_TRUE(e->MatchesBuffer(&two));  // inactive
  e->ActivateFilter(0);
  EXPECT_TRUE(e->MatchesBuffer(&one));
  EXPECT_FALSE(e->MatchesBuffer(&two));
  EXPECT_FALSE(e->MatchesBuffer(&nine));
  EXPECT_TRUE(e->MatchesBuffer(nullptr));
}

TEST_F(FilterEngineTest, EnginesByNameIdentitiesAndSwitching) {
  TzfSqlFilterDescriptor sql(u"x");
  class TUnknown : public TzfBaseFilterDescriptor {
   public:
    const TzfRegisterableClass& ClassType() const override {
      static const TzfFilterDescriptorClass info(u"TzfNoSuchFilterDescriptor", &TzfBaseFilterDescriptor::ClassInfo(),
                                                 nullptr);
      return info;
    }
  } unknown;
  EXPECT_EQ(Outcome([&] { TzfBaseFilterEngine::CreateFor(unknown, nullptr); }),
            u"!EzfBaseFilterEngineException #15503: ZofrinDB: Unknown Filter engine: \"TzfNoSuchFilterEngine\" "
            u"[$3C8F/15503]");

  std::vector<std::unique_ptr<TzfBaseFilterEngine>> many;
  std::set<TzfFilterID> ids;
  for (int i = 0; i < 1000; ++i) {
    many.push_back(Callback(i, true));
    EXPECT_NE(many.back()->FilterID(), 0u);
    ids.insert(many.back()->FilterID());
  }
  EXPECT_EQ(ids.size(), many.size());

  auto a = Callback(1, false), b = Callback(2, false);
  EXPECT_FALSE(a->IsActive());
  EXPECT_EQ(a->ActivateFilter(b->FilterID()), zfErrInvalidFilterHandle);
  EXPECT_FALSE(a->IsActive());
  EXPECT_EQ(a->ActivateFilter(a->FilterID()), zfErrNone);
  EXPECT_TRUE(a->IsActive());
  EXPECT_EQ(a->DeactivateFilter(0), zfErrNone);
  EXPECT_FALSE(a->IsActive());
  EXPECT_EQ(a->ActivateFilter(0), zfErrNone);
  EXPECT_TRUE(a->IsEvalLocal());
  EXPECT_FALSE(a->IsEvalRemote());

  std::unique_ptr<TzfBaseFilterEngine> slot = std::move(a);
  EXPECT_EQ(slot->RemoveFilter(b->FilterID(), slot), zfErrInvalidFilterHandle);
  EXPECT_NE(slot, nullptr);
  EXPECT_EQ(slot->RemoveFilter(slot->FilterID(), slot), zfErrNone);
  EXPECT_EQ(slot, nullptr);
}

TEST_F(FilterEngineTest, CallbackFilters) {
  int calls = 0;
  auto e = Callback(42, false, &calls);
  EXPECT_TRUE(e->MatchesBuffer(buffer));
  EXPECT_EQ(calls, 0);
  e->ActivateFilter(0);
  EXPECT_FALSE(e->MatchesBuffer(buffer));
  EXPECT_EQ(calls, 1);
  auto d = e->Duplicate(nullptr);
  EXPECT_TRUE(d->IsActive());
  EXPECT_NE(d->FilterID(), e->FilterID());
  EXPECT_EQ(static_cast<TzfCallbackFilterEngine*>(d.get())->cbfeCookie, 42);
  EXPECT_FALSE(d->MatchesBuffer(buffer));
  EXPECT_EQ(calls, 2);
  TzfCallbackFilterDescriptor none(1, nullptr);
  auto n = TzfBaseFilterEngine::CreateFor(none, nullptr);
  n->ActivateFilter(0);
  EXPECT_TRUE(n->MatchesBuffer(buffer));
}

TEST_F(FilterEngineTest, HubsPassWhenEveryMemberPasses) {
  auto pass = Callback(1, true), fail = Callback(2, false);
  pass->ActivateFilter(0);
  fail->ActivateFilter(0);
  const TzfFilterID failID = fail->FilterID(), passID = pass->FilterID();
  std::unique_ptr<TzfBaseFilterEngine> slot = std::make_unique<TzfFilterEngineHub>(std::move(pass), std::move(fail));
  EXPECT_TRUE(slot->IsActive());
  EXPECT_FALSE(slot->MatchesBuffer(buffer));
  EXPECT_EQ(slot->DeactivateFilter(failID), zfErrNone);
  EXPECT_TRUE(slot->MatchesBuffer(buffer));
  EXPECT_EQ(slot->ActivateFilter(0), zfErrNone);
  EXPECT_FALSE(slot->MatchesBuffer(buffer));
  EXPECT_EQ(slot->ActivateFilter(12345678), zfErrInvalidFilterHandle);

  // Duplicates keep the members' order and states.
  auto dup = slot->Duplicate(nullptr);
  auto* dh = dynamic_cast<TzfFilterEngineHub*>(dup.get());
  ASSERT_NE(dh, nullptr);
  ASSERT_EQ(dh->Count(), 2);
  EXPECT_EQ(static_cast<TzfCallbackFilterEngine*>(dh->Filter(0))->cbfeCookie, 1);
  EXPECT_EQ(static_cast<TzfCallbackFilterEngine*>(dh->Filter(1))->cbfeCookie, 2);
  EXPECT_TRUE(dh->Filter(1)->IsActive());

  // Removing a member collapses the hub into the other member.
  EXPECT_EQ(slot->RemoveFilter(failID, slot), zfErrNone);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->FilterID(), passID);
  EXPECT_EQ(dynamic_cast<TzfFilterEngineHub*>(slot.get()), nullptr);

  // A one-member hub emptied leaves an empty slot.
  auto single = std::make_unique<TzfFilterEngineHub>(nullptr, nullptr);
  single->AddFilter(Callback(3, true));
  const TzfFilterID only = single->Filter(0)->FilterID();
  std::unique_ptr<TzfBaseFilterEngine> slot2 = std::move(single);
  EXPECT_EQ(slot2->RemoveFilter(only, slot2), zfErrNone);
  EXPECT_EQ(slot2, nullptr);
  // An empty hub passes everything and knows no IDs.
  TzfFilterEngineHub empty(nullptr, nullptr);
  EXPECT_TRUE(empty.MatchesBuffer(buffer));
  EXPECT_EQ(empty.ActivateFilter(0), zfErrInvalidFilterHandle);
}

TEST_F(FilterEngineTest, HubMembersAddressedByIdentity) {
  auto hub = std::make_unique<TzfFilterEngineHub>(Callback(1, true), Callback(2, true));
  hub->AddFilter(Callback(3, true));
  EXPECT_EQ(hub->ActivateFilter(hub->Filter(1)->FilterID()), zfErrNone);
  EXPECT_FALSE(hub->Filter(0)->IsActive());
  EXPECT_TRUE(hub->Filter(1)->IsActive());
  EXPECT_FALSE(hub->Filter(2)->IsActive());
  // The hub's own ID frees it with all members.
  std::unique_ptr<TzfBaseFilterEngine> slot = std::move(hub);
  EXPECT_EQ(slot->RemoveFilter(slot->FilterID(), slot), zfErrNone);
  EXPECT_EQ(slot, nullptr);
}

TEST_F(FilterEngineTest, HubDescriptorsMakeHubEngines) {
  TzfFilterDescriptorHub d;
  TBlobBuilder b;
  b.SetRoot(nodeCONTINUE, 0, {1});
  d.AddFilter(std::make_unique<TzfSimpleExpressionFilterDescriptor>(b.Build(), -1));
  d.AddFilter(std::make_unique<TzfCallbackFilterDescriptor>(7, nullptr));
  auto e = TzfBaseFilterEngine::CreateFor(d, nullptr);
  auto* hub = dynamic_cast<TzfFilterEngineHub*>(e.get());
  ASSERT_NE(hub, nullptr);
  ASSERT_EQ(hub->Count(), 2);
  EXPECT_FALSE(hub->Filter(0)->IsActive());
  EXPECT_FALSE(hub->Filter(1)->IsActive());
  auto back = hub->CreateDescriptor();
  EXPECT_EQ(static_cast<TzfFilterDescriptorHub*>(back.get())->Count(), 2);
  d.RemoveFilter(0);
  EXPECT_EQ(d.Count(), 1);
  EXPECT_THROW(d.RemoveFilter(5), rtl::EListError);
  TzfCallbackFilterDescriptor stranger(1, nullptr);
  EXPECT_THROW(d.RemoveFilter(&stranger), rtl::EListError);
}

// A class name that does not fit its length byte is a range error, with nothing written.
class TLongNamedFilterDescriptor : public TzfBaseFilterDescriptor {
 public:
  explicit TLongNamedFilterDescriptor(size_t aLength) : FName(aLength, u'N') {}
  const char16_t* ClassName() const override { return FName.c_str(); }
  uint32_t WriteToStream(rtl::TStream& aStream, int32_t) override {
    WriteClassName(aStream);
    return 0;
  }

 private:
  UnicodeString FName;
};

TEST_F(FilterEngineTest, ClassNameLongerThanItsLengthByteIsARangeError) {
  for (size_t length : {255u, 256u, 300u}) {
    SCOPED_TRACE(length);
    TLongNamedFilterDescriptor d(length);
    TzfMemoryStream s(-1);
    if (length <= 255) {
      EXPECT_EQ(d.WriteToStream(s, 0), 0u);
      EXPECT_EQ(s.Size(), static_cast<int64_t>(length + 1));
    } else {
      EXPECT_THROW(d.WriteToStream(s, 0), rtl::ERangeError);
      EXPECT_EQ(s.Size(), 0);
    }
  }
}

}  // namespace
}  // namespace zf::test
