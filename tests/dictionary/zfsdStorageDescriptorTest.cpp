// Storage descriptors: file numbers, nested descriptors, versions and the auto-increment step.
#include <gtest/gtest.h>

#include "dictionary/zfsdStartup.h"
#include "dictionary/zfsdStorageDescriptor.h"
#include "tests/dictionary/zfsdTestTable.h"
#include "tests/dictionary/zfsdTestUtil.h"

namespace zf::test {
namespace {

class StorageDescriptorTest : public test::DictionaryStarted {
 protected:
  TTestTable table{3};
};

// Writes aItem for aVersion and reads it into a fresh one made by aMake.
template <class T>
std::unique_ptr<T> RoundTrip(T& aItem, int32_t aVersion, const std::function<std::unique_ptr<T>()>& aMake) {
  auto back = aMake();
  LoadSaved(*back, SavedBytes(aItem, aVersion));
  return back;
}

TEST_F(StorageDescriptorTest, EveryDescriptorRoundTrips) {
  TzfHeapRecordDescriptor record(&table, "Record");
  record.SetFileNumber(2);
  record.SetRecordEngine(u"Variable");
  record.AddHeapDescriptor(nullptr)->AddBlockHeapDescriptor(nullptr)->SetBlockHeapEngine(u"BH");
  record.AddRecordCompressionDescriptor(nullptr)->SetRecordCompressionEngine(u"Null");
  TzfHeapBlobDescriptor blob(&table, "Blob");
  blob.SetFileNumber(1);
  blob.AddHeapDescriptor(nullptr)->SetHeapEngine(u"H");
  TzfAdvAutoIncDescriptor autoInc(&table, "AutoInc");
  autoInc.SetFileNumber(1);
  autoInc.SetInitialValue(4294967295u);
  autoInc.SetStep(3);
  TzfBaseStreamDescriptor stream(&table, "Stream");
  stream.SetStreamEngine(u"S");

  auto r = RoundTrip<TzfHeapRecordDescriptor>(record, 30900, [&] { return std::make_unique<TzfHeapRecordDescriptor>(&table, "Record"); });
  EXPECT_TRUE(r->IsEqual(&record));
  EXPECT_EQ(r->brdHeaderSection, "Record");
  auto b = RoundTrip<TzfHeapBlobDescriptor>(blob, 30900, [&] { return std::make_unique<TzfHeapBlobDescriptor>(&table, "Blob"); });
  EXPECT_TRUE(b->IsEqual(&blob));
  auto a = RoundTrip<TzfAdvAutoIncDescriptor>(autoInc, 30900, [&] { return std::make_unique<TzfAdvAutoIncDescriptor>(&table, "AutoInc"); });
  EXPECT_TRUE(a->IsEqual(&autoInc));
  EXPECT_EQ(a->aaidInitialValue, 4294967295u);
  auto s = RoundTrip<TzfBaseStreamDescriptor>(stream, 30900, [&] { return std::make_unique<TzfBaseStreamDescriptor>(&table, "Stream"); });
  EXPECT_TRUE(s->IsEqual(&stream));
  EXPECT_FALSE(s->IsEqual(&record));

  // An old client gets the first versions: no compression part, no file numbers.
  auto oldRecord = RoundTrip<TzfHeapRecordDescriptor>(record, 19999, [&] { return std::make_unique<TzfHeapRecordDescriptor>(&table, "Record"); });
  EXPECT_EQ(oldRecord->brdFileNumber, 0);
  EXPECT_EQ(oldRecord->hrdRecordCompressionDescriptor, nullptr);
  EXPECT_EQ(oldRecord->hrdHeapDescriptor->bhdBlockHeapDescriptor->bbhdBlockHeapEngine, u"BH");
  auto oldBlob = RoundTrip<TzfHeapBlobDescriptor>(blob, 19999, [&] { return std::make_unique<TzfHeapBlobDescriptor>(&table, "Blob"); });
  EXPECT_EQ(oldBlob->bbdFileNumber, 0);
}

TEST_F(StorageDescriptorTest, MissingNestedDescriptors) {
  // Version 1 without a heap gets a default one; a later version stays without, until checked.
  TzfHeapRecordDescriptor record(&table, "Record");
  auto old = RoundTrip<TzfHeapRecordDescriptor>(record, 19999, [&] { return std::make_unique<TzfHeapRecordDescriptor>(&table, "Record"); });
  ASSERT_NE(old->hrdHeapDescriptor, nullptr);
  EXPECT_EQ(old->hrdHeapDescriptor->bhdHeapEngine, u"zf1xDefault");
  TzfBaseHeapDescriptor heap(&table);
  auto h = RoundTrip<TzfBaseHeapDescriptor>(heap, 30900, [&] { return std::make_unique<TzfBaseHeapDescriptor>(&table); });
  EXPECT_EQ(h->bhdBlockHeapDescriptor, nullptr);
  h->CheckValid(false);
  ASSERT_NE(h->bhdBlockHeapDescriptor, nullptr);
  EXPECT_EQ(h->bhdBlockHeapDescriptor->bbhdBlockHeapEngine, u"zf1xDefault");
  record.CheckValid(false);
  EXPECT_NE(record.hrdHeapDescriptor, nullptr);
  EXPECT_EQ(TzfBaseRecordCompressionDescriptor(&table).brcdRecordCompressionEngine, u"Smart");
}

TEST_F(StorageDescriptorTest, FileNumbers) {
  TzfBaseRecordDescriptor record(&table, "Record");
  TzfBaseBlobDescriptor blob(&table, "Blob");
  TzfBaseAutoIncDescriptor autoInc(&table, "AutoInc");
  EXPECT_EQ(Outcome([&] { record.SetFileNumber(3); }),
            u"!EzfBaseRecordDescriptorException #9999: ZofrinDB: Invalid file number: 3 [$270F/9999]");
  record.SetFileNumber(1);
  blob.SetFileNumber(2);
  autoInc.SetFileNumber(2);
  table.InsertFile(1);
  EXPECT_EQ(record.brdFileNumber, 2);
  EXPECT_EQ(blob.bbdFileNumber, 3);
  table.Files->RemoveFile(1);
  EXPECT_EQ(record.brdFileNumber, 1);
  EXPECT_EQ(Outcome([&] { table.Files->RemoveFile(1); }),
            u"!EzfBaseRecordDescriptorException #15502: ZofrinDB: Cannot remove file 1 because it is still "
            u"referenced by a record engine [$3C8E/15502]");
  record.SetFileNumber(0);
  EXPECT_EQ(Outcome([&] { table.Files->RemoveFile(2); }),
            u"!EzfBaseBlobDescriptorException #15502: ZofrinDB: Cannot remove file 2 because it is still "
            u"referenced by a blob engine [$3C8E/15502]");
  blob.SetFileNumber(0);
  EXPECT_EQ(Outcome([&] { table.Files->RemoveFile(2); }),
            u"!EzfBaseAutoIncDescriptorException #15502: ZofrinDB: Cannot remove file 2 because it is still "
            u"referenced by an autoinc engine [$3C8E/15502]");
  table.InsertFile(3);
  autoInc.baidFileNumber = 9;
  EXPECT_TRUE(Outcome([&] { autoInc.CheckValid(false); }).starts_with(u"!EzfBaseAutoIncDescriptorException #9999"));
}

TEST_F(StorageDescriptorTest, AutoIncrementStepOfZeroIsRefused) {
  TzfAdvAutoIncDescriptor autoInc(&table, "AutoInc");
  EXPECT_EQ(Outcome([&] { autoInc.SetStep(0); }),
            u"!EzfAdvAutoIncDescriptorException #9986: ZofrinDB: The auto-increment step must not be 0 [$2702/9986]");
  EXPECT_EQ(autoInc.aaidStep, 1u);
  autoInc.aaidStep = 0;  // as a damaged dictionary might hold it
  EXPECT_TRUE(Outcome([&] { autoInc.CheckValid(false); }).starts_with(u"!EzfAdvAutoIncDescriptorException #9986"));
  // Stored with step 0: refused when read.
  std::vector<uint8_t> bytes = SavedBytes(autoInc, 30900);
  TzfAdvAutoIncDescriptor back(&table, "AutoInc");
  EXPECT_EQ(Outcome([&] { LoadSaved(back, bytes); }),
            u"!EzfAdvAutoIncDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]");
}

TEST_F(StorageDescriptorTest, OldAutoIncrementForm) {
  // Version 1 stored the last value handed out: the first value is the next one.
  auto stream = [&](uint8_t aStart, std::initializer_list<uint8_t> aStep) {
    TzfBaseAutoIncDescriptor base(&table, "AutoInc");
    std::vector<uint8_t> b = SavedBytes(base, 30900);
    b.insert(b.end(), {0x02, 0x01, 0x02, aStart});
    b.insert(b.end(), aStep);
    return b;
  };
  TzfAdvAutoIncDescriptor a(&table, "AutoInc");
  LoadSaved(a, stream(99, {0x02, 0x01}));
  EXPECT_EQ(a.aaidInitialValue, 100u);
  EXPECT_EQ(a.aaidStep, 1u);
  // 0xFFFFFFFF + 2 does not fit.
  std::vector<uint8_t> over = stream(0, {0x02, 0x02});
  over[over.size() - 3] = 0xFF;  // the start as Int8 -1 = 0xFFFFFFFF
  EXPECT_EQ(Outcome([&] { LoadSaved(a, over); }), u"!EIntOverflow: Integer overflow");
}

TEST_F(StorageDescriptorTest, UnknownNestedClassAndVersions) {
  TzfHeapBlobDescriptor blob(&table, "Blob");
  blob.AddHeapDescriptor(nullptr);
  std::vector<uint8_t> b = SavedBytes(blob, 30900);
  const std::string name = "TzfBaseHeapDescriptor";
  auto it = std::search(b.begin(), b.end(), name.begin(), name.end());
  it[3] = 'X';
  TzfHeapBlobDescriptor back(&table, "Blob");
  EXPECT_EQ(Outcome([&] { LoadSaved(back, b); }),
            u"!EzfHeapBlobDescriptorException #15499: ZofrinDB: HeapDescriptor class is not supported: "
            u"TzfXaseHeapDescriptor [$3C8B/15499]");
  TzfBaseStreamDescriptor stream(&table, "Stream");
  std::vector<uint8_t> s = SavedBytes(stream, 30900);
  s[s.size() - 14] = 2;  // the body version before "zf1xDefault"
  TzfBaseStreamDescriptor sBack(&table, "Stream");
  EXPECT_EQ(Outcome([&] { LoadSaved(sBack, s); }),
            u"!EzfBaseStreamDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]");
}

TEST_F(StorageDescriptorTest, CustomDescriptorNames) {
  EXPECT_EQ(Outcome([&] { TzfBaseCustomDescriptor(&table, u""); }).substr(0, 40),
            UnicodeString(u"!EzfBaseCustomDescriptorException #10068").substr(0, 40));
  TzfBaseCustomDescriptor c(&table, u"$Mine");
  TzfBaseCustomDescriptor d(&table, u"$mine");
  EXPECT_FALSE(c.IsEqual(&d));  // names compare exactly
  EXPECT_NO_THROW(c.CheckValid(false));
}

TEST_F(StorageDescriptorTest, ChangesOfAReadOnlyDictionaryAreRefused) {
  TzfAdvAutoIncDescriptor autoInc(&table, "AutoInc");
  TzfHeapRecordDescriptor record(&table, "Record");
  table.ReadOnly = true;
  const std::function<void()> changes[] = {
      [&] { autoInc.SetStep(2); }, [&] { autoInc.SetFileNumber(0); }, [&] { record.SetRecordEngine(u"X"); },
      [&] { record.AddHeapDescriptor(nullptr); },
  };
  for (const auto& change : changes)
    EXPECT_EQ(Outcome(change),
              u"!EzfDataDictionaryException #15500: ZofrinDB: The data dictionary is read only [$3C8C/15500]");
}

}  // namespace
}  // namespace zf::test
