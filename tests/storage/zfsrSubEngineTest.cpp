// The sub-engine framework (kinds, registries, the check of a dictionary) and the simple
// auto-increment engine.
#include <gtest/gtest.h>

#include "dictionary/zfsdTableDescriptor.h"
#include "storage/zfsrDataDictionary.h"
#include "storage/zfseAutoIncEngineSimple.h"
#include "storage/zfseStreamEngineSimple.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrHeapEngineBase.h"
#include "storage/zfsrRecordCompressionEngineBase.h"
#include "storage/zfsrRecordEngineBase.h"
#include "zfsrEngineTestSupport.h"

namespace zf::test {
namespace {

// Two kinds of test engines with a class each.
struct TKindA {};
struct TKindB {};
const TzfSubEngineClass kKindA(u"TKindA", &TzfBaseSubEngine::ClassInfo(), &zfFamilyList<TKindA>, u"KindA", nullptr);
const TzfSubEngineClass kKindB(u"TKindB", &TzfBaseSubEngine::ClassInfo(), &zfFamilyList<TKindB>, u"KindB", nullptr);
const TzfSubEngineClass kEngineA1(u"TEngineA1", &kKindA, nullptr, u"", nullptr);
const TzfSubEngineClass kEngineA2(u"TEngineA2", &kKindA, nullptr, u"", nullptr);
const TzfSubEngineClass kEngineB(u"TEngineB", &kKindB, nullptr, u"", nullptr);

TEST(SubEngineRegistryTest, NamesPerKindCaseIgnoredListFreedWithItsLastEntry) {
  TzfBaseSubEngine::RegisterEngine(kEngineA1, u"zf1xDefault");
  TzfBaseSubEngine::RegisterEngine(kEngineA1, u"Other");
  TzfBaseSubEngine::RegisterEngine(kEngineB, u"zf1xDefault");  // the same name in another kind
  EXPECT_EQ(TzfBaseSubEngine::FindEngineClass(kKindA, u"ZF1XDEFAULT"), &kEngineA1);
  EXPECT_EQ(TzfBaseSubEngine::FindEngineClass(kKindB, u"zf1xdefault"), &kEngineB);
  EXPECT_THROW(TzfBaseSubEngine::RegisterEngine(kEngineA2, u"ZF1XDefault"), rtl::EStringListError);
  EXPECT_EQ(TzfBaseSubEngine::FindEngineClass(kKindA, u"zf1xDefault"), &kEngineA1);
  EXPECT_EQ(TzfBaseSubEngine::FindEngineClass(kKindA, u"none"), nullptr);

  TzfBaseSubEngine::UnregisterEngine(kEngineA1);  // both names
  EXPECT_EQ(*TzfBaseSubEngine::GetList(kKindA), nullptr) << "the emptied list is freed";
  EXPECT_EQ(TzfBaseSubEngine::FindEngineClass(kKindA, u"Other"), nullptr);
  TzfBaseSubEngine::UnregisterEngine(kEngineA1);  // no list: nothing happens
  TzfBaseSubEngine::RegisterEngine(kEngineA2, u"zf1xDefault");
  EXPECT_EQ(TzfBaseSubEngine::FindEngineClass(kKindA, u"zf1xDefault"), &kEngineA2);
  TzfBaseSubEngine::UnregisterEngine(kEngineA2);
  TzfBaseSubEngine::UnregisterEngine(kEngineB);
  EXPECT_EQ(*TzfBaseSubEngine::GetList(kKindB), nullptr);
  // The base class has no kind.
  EXPECT_THROW(TzfBaseSubEngine::RegisterEngine(TzfBaseSubEngine::ClassInfo(), u"x"), rtl::Exception);
}

TEST(SubEngineRegistryTest, KindsKeepTheirOrderAndGoWithTheirLastOccurrence) {
  const size_t before = zfSubEngineBases().size();
  zfRegisterSubEngineBase(kKindA);
  zfRegisterSubEngineBase(kKindB);
  zfRegisterSubEngineBase(kKindA);
  auto kinds = zfSubEngineBases();
  ASSERT_EQ(kinds.size(), before + 3);
  EXPECT_EQ(kinds[before], &kKindA);
  EXPECT_EQ(kinds[before + 1], &kKindB);
  zfUnregisterSubEngineBase(kKindA);
  kinds = zfSubEngineBases();
  ASSERT_EQ(kinds.size(), before + 1);
  EXPECT_EQ(kinds[before], &kKindB);
  zfUnregisterSubEngineBase(kKindB);
  EXPECT_EQ(zfSubEngineBases().size(), before);
}

// ---- the check of a dictionary against the registered engines ----

class SubEngineCheckTest : public StorageStarted {};

TEST_F(SubEngineCheckTest, StartUpRegistersTheKindsAndTheirEngines) {
  const auto kinds = zfSubEngineBases();
  // The storage layer's kinds in their order (the indices kind joins in front of the record
  // compression kind when the index layer starts).
  const std::vector<const TzfSubEngineClass*> expected = {
      &TzfBaseStreamEngine::ClassInfo(),    &TzfBaseAutoIncEngine::ClassInfo(),
      &TzfBaseBlobEngine::ClassInfo(),      &TzfBaseBlockHeapEngine::ClassInfo(),
      &TzfBaseHeapEngine::ClassInfo(),      &TzfBaseRecordEngine::ClassInfo(),
      &TzfBaseRecordCompressionEngine::ClassInfo()};
  EXPECT_EQ(kinds, expected);
  EXPECT_EQ(TzfBaseSubEngine::FindEngineClass(TzfBaseStreamEngine::ClassInfo(), u"ZF1XDEFAULT"),
            &TzfSimpleStreamEngine::ClassInfo());
  EXPECT_EQ(TzfBaseSubEngine::FindEngineClass(TzfBaseAutoIncEngine::ClassInfo(), u"zf1xDefault"),
            &TzfSimpleAutoIncEngine::ClassInfo());
  // A second start changes nothing; the stop that matches it leaves the registrations.
  zfStartStorage();
  zfStopStorage();
  EXPECT_EQ(zfSubEngineBases().size(), kinds.size());
}

TEST_F(SubEngineCheckTest, UnknownEngineNamesAreRefusedInTheTableAndInNestedTables) {
  struct Case {
    const char* Name;
    std::function<void(TzfServerDataDict&)> Edit;
    UnicodeString Outcome;
  };
  const UnicodeString ok = u"ok";
  const Case cases[] = {
      {"no auto-increment descriptor", [](TzfServerDataDict&) {}, ok},
      {"auto-increment engine unknown",
       [](TzfServerDataDict& d) { d.AddAutoIncDescriptor()->SetAutoIncEngine(u"Nope"); },
       u"#15503: ZofrinDB: Unknown autoinc engine: \"Nope\" [$3C8F/15503]"},
      {"auto-increment engine in capitals", [](TzfServerDataDict& d) { d.AddAutoIncDescriptor()->SetAutoIncEngine(u"ZF1XDEFAULT"); },
       ok},
      {"stream engine unknown", [](TzfServerDataDict& d) { d.ddStreamDescriptor->SetStreamEngine(u"Gone"); },
       u"#15503: ZofrinDB: Unknown stream engine: \"Gone\" [$3C8F/15503]"},
      {"nested table's auto-increment engine unknown",
       [](TzfServerDataDict& d) {
         if (!d.tdTablesDescriptor) d.tdTablesDescriptor = std::make_unique<TzfTablesDescriptor>(&d);
         TzfNestedTableDescriptor* n = d.tdTablesDescriptor->AddTable(u"Lines");
         n->AddAutoIncDescriptor()->SetAutoIncEngine(u"Deep");
       },
       u"#15503: ZofrinDB: Unknown autoinc engine: \"Deep\" [$3C8F/15503]"},
      // Several unknown names: the first kind in the list's order reports.
      {"BLOB and record engines unknown",
       [](TzfServerDataDict& d) {
         d.AddBlobDescriptor()->bbdBlobEngine = u"NoBlob";
         d.AddRecordDescriptor()->brdRecordEngine = u"NoRecord";
       },
       u"#15503: ZofrinDB: Unknown BLOB engine: \"NoBlob\" [$3C8F/15503]"},
      {"record and compression engines unknown",
       [](TzfServerDataDict& d) {
         auto* r = dynamic_cast<TzfHeapRecordDescriptor*>(d.AddRecordDescriptor(&TzfHeapRecordDescriptor::ClassInfo()));
         r->brdRecordEngine = u"NoRecord";
         r->AddRecordCompressionDescriptor()->brcdRecordCompressionEngine = u"NoCompression";
       },
       u"#15503: ZofrinDB: Unknown Record engine: \"NoRecord\" [$3C8F/15503]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TzfServerDataDict d;
    c.Edit(d);
    EXPECT_EQ(StorageOutcome([&] { TzfBaseSubEngine::CheckValidAll(d); }), c.Outcome);
  }
}

// The variable record engine's check takes its heap descriptor through the heap kind, which
// requires a block heap descriptor and checks both engine names.
TEST_F(SubEngineCheckTest, VariableRecordEngineChecksItsHeapDescriptor) {
  struct Case {
    const char* Name;
    std::function<void(TzfHeapRecordDescriptor&)> Edit;
    UnicodeString Outcome;
  };
  const Case cases[] = {
      {"default heap", [](TzfHeapRecordDescriptor&) {}, u"ok"},
      {"no heap descriptor", [](TzfHeapRecordDescriptor& r) { r.hrdHeapDescriptor.reset(); },
       u"#10004: ZofrinDB: A HeapDescriptor is required [$2714/10004]"},
      {"heap engine unknown", [](TzfHeapRecordDescriptor& r) { r.hrdHeapDescriptor->bhdHeapEngine = u"Nope"; },
       u"#15503: ZofrinDB: Unknown Heap engine: \"Nope\" [$3C8F/15503]"},
      {"block heap engine unknown",
       [](TzfHeapRecordDescriptor& r) { r.hrdHeapDescriptor->bhdBlockHeapDescriptor->bbhdBlockHeapEngine = u"Gone"; },
       u"#15503: ZofrinDB: Unknown BlockHeap engine: \"Gone\" [$3C8F/15503]"},
      {"no block heap descriptor", [](TzfHeapRecordDescriptor& r) { r.hrdHeapDescriptor->bhdBlockHeapDescriptor.reset(); },
       u"#10004: ZofrinDB: A block heap descriptor is required [$2714/10004]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TzfServerDataDict d;
    auto* hrd = dynamic_cast<TzfHeapRecordDescriptor*>(d.AddRecordDescriptor(&TzfHeapRecordDescriptor::ClassInfo()));
    ASSERT_NE(hrd, nullptr);
    hrd->brdRecordEngine = u"Variable";
    hrd->AddHeapDescriptor()->AddBlockHeapDescriptor();
    c.Edit(*hrd);
    EXPECT_EQ(StorageOutcome([&] { TzfBaseSubEngine::CheckValidAll(d); }), c.Outcome);
  }
}

// ---- auto-increment engine ----

class AutoIncEngineTest : public TEngineTest {
 protected:
  // A table file with the counter of aDescriptor, created in a committed transaction.
  std::unique_ptr<TzfBaseAutoIncEngine> Create(TzfBaseAutoIncDescriptor* aDescriptor) {
    if (!File) {
      File = NewTable();
      Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"engine_test", 0);
    }
    TTestTrans t(BM.get());
    auto e = TzfBaseAutoIncEngine::CreateEngine(aDescriptor, {Access.get()}, &t);
    t.Commit();
    return e;
  }
  uint32_t Next(TzfBaseAutoIncEngine& aEngine) {
    TTestTrans t(BM.get());
    const uint32_t v = aEngine.NextAutoIncValue(&t);
    t.Commit();
    return v;
  }
  void TearDown() override {
    Access.reset();
    TEngineTest::TearDown();
  }

  TMemFile* File = nullptr;
  std::unique_ptr<TzfBlockAccess> Access;
};

TEST_F(AutoIncEngineTest, ValuesFromTheInitialValueInSteps) {
  struct Case {
    uint32_t Initial, Step;
    uint32_t Stored;  // after creation
    std::vector<uint32_t> Values;
  };
  const Case cases[] = {
      {1, 1, 0, {1, 2, 3}},
      {100, 10, 90, {100, 110}},
      {3, 10, uint32_t(3 - 10), {3, 13, 23}},  // initial value below the step: handed out first
      {0, 1, 0xFFFFFFFF, {0, 1}},
      {0xFFFFFFFF, 1, 0xFFFFFFFE, {0xFFFFFFFF}},
  };
  int serial = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(serial);
    TzfDataDictionary dict;
    auto* d = static_cast<TzfAdvAutoIncDescriptor*>(dict.AddAutoIncDescriptor(&TzfAdvAutoIncDescriptor::ClassInfo()));
    d->baidHeaderSection = "AutoInc" + std::to_string(serial++);
    d->aaidInitialValue = c.Initial;
    d->aaidStep = c.Step;
    auto e = Create(d);
    EXPECT_EQ(e->ReadAutoIncValue(nullptr), c.Stored);
    for (uint32_t v : c.Values) EXPECT_EQ(Next(*e), v);
    EXPECT_EQ(e->ReadAutoIncValue(nullptr), c.Values.back());
  }
}

TEST_F(AutoIncEngineTest, PlainDescriptorSetAndExhaustion) {
  TzfDataDictionary dict;
  TzfBaseAutoIncDescriptor* d = dict.AddAutoIncDescriptor();
  auto e = Create(d);
  EXPECT_EQ(e->bseID, d->diID);
  EXPECT_EQ(e->ReadAutoIncValue(nullptr), 0u);
  EXPECT_EQ(Next(*e), 1u);
  {
    TTestTrans t(BM.get());
    e->SetAutoIncValue(&t, 0xFFFFFFFE);
    t.Commit();
  }
  EXPECT_EQ(Next(*e), 0xFFFFFFFFu);
  TTestTrans t(BM.get());
  EXPECT_EQ(StorageOutcome([&] { e->NextAutoIncValue(&t); }),
            u"#9731: ZofrinDB: Maximum AutoInc value has been reached [$2603/9731]");
  EXPECT_EQ(e->ReadAutoIncValue(&t), 0xFFFFFFFFu) << "nothing stored";
  t.Rollback();
  // The counter follows its transaction.
  TTestTrans u(BM.get());
  e->SetAutoIncValue(&u, 5);
  EXPECT_EQ(e->ReadAutoIncValue(nullptr), 0xFFFFFFFFu);
  u.Rollback();
  EXPECT_EQ(e->ReadAutoIncValue(nullptr), 0xFFFFFFFFu);
  // An engine opening the table finds the counter in its section.
  auto again = TzfBaseAutoIncEngine::CreateEngine(d, {Access.get()}, nullptr);
  EXPECT_EQ(again->ReadAutoIncValue(nullptr), 0xFFFFFFFFu);
}

TEST_F(AutoIncEngineTest, SetValueThenStepTwo) {
  TzfDataDictionary dict;
  auto* d = static_cast<TzfAdvAutoIncDescriptor*>(dict.AddAutoIncDescriptor(&TzfAdvAutoIncDescriptor::ClassInfo()));
  d->aaidStep = 2;
  auto e = Create(d);
  TTestTrans t(BM.get());
  e->SetAutoIncValue(&t, 5);
  EXPECT_EQ(e->NextAutoIncValue(&t), 7u);
  t.Commit();
}

TEST_F(AutoIncEngineTest, NoDescriptorNoEngineAndFileNumbersAreRangeChecked) {
  File = NewTable();
  Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"engine_test", 0);
  TzfDataDictionary dict;
  EXPECT_EQ(TzfBaseAutoIncEngine::CreateEngine(dict, {Access.get()}, nullptr), nullptr);
  TzfBaseAutoIncDescriptor* d = dict.AddAutoIncDescriptor();
  d->baidFileNumber = 1;
  EXPECT_THROW(TzfBaseAutoIncEngine::CreateEngine(d, {Access.get()}, nullptr), rtl::ERangeError);
  d->baidFileNumber = 0;
  // A damaged descriptor with a step of 0 would hand out one value forever.
  TzfDataDictionary advDict;
  auto* adv = static_cast<TzfAdvAutoIncDescriptor*>(advDict.AddAutoIncDescriptor(&TzfAdvAutoIncDescriptor::ClassInfo()));
  adv->aaidStep = 0;
  EXPECT_EQ(RaisedCode([&] { TzfBaseAutoIncEngine::CreateEngine(adv, {Access.get()}, nullptr); }), zfErrInvalidDesc);
  d->baidAutoIncEngine = u"Nope";
  EXPECT_EQ(RaisedCode([&] { TzfBaseAutoIncEngine::CreateEngine(d, {Access.get()}, nullptr); }), zfErrSubEngineNotSupported);
}

}  // namespace
}  // namespace zf::test
