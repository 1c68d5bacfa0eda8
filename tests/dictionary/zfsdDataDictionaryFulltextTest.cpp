#include "dictionary/zfsdDataDictionaryFulltext.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdStartup.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "zfsdDictTestRoot.h"
#include "zfsdTestUtil.h"

namespace zf {
namespace {

using test::LoadBytes;
using test::Outcome;
using test::StreamBytes;

bool Has(const UnicodeString& aOutcome, UnicodeStringView aPart) { return aOutcome.find(aPart) != UnicodeString::npos; }

// Table T: ID (auto-increment), Msg (wide string), Body (wide memo), Big (Int64), Name (short
// string); indexes (after the sequential-access index 0) ByBig (unique over Big), ByID (unique
// over ID), Tokens (main-index token key).
class FulltextDescriptorTest : public test::DictionaryStarted {
 protected:
  void SetUp() override {
    dict.ddBaseName = u"T";
    TzfFieldsDescriptor& f = *dict.tdFieldsDescriptor;
    f.AddField(u"ID", u"", zftAutoInc, 0, 0, false, nullptr);
    f.AddField(u"Msg", u"", zftWideString, 60, 0, false, nullptr);
    f.AddField(u"Body", u"", zftBlobWideMemo, 0, 0, false, nullptr);
    f.AddField(u"Big", u"", zftInt64, 0, 0, false, nullptr);
    f.AddField(u"Name", u"", zftShortString, 20, 0, false, nullptr);
    dict.AddRecordDescriptor(nullptr);
    TzfMainIndicesDescriptor* ix = dict.EnsureIndicesDescriptor();
    dynamic_cast<TzfCompKeyDescriptor*>(ix->AddIndex(u"ByBig", 0, idNone, u"")->idKeyDescriptor.get())->Add(3);
    dynamic_cast<TzfCompKeyDescriptor*>(ix->AddIndex(u"ByID", 0, idNone, u"")->idKeyDescriptor.get())->Add(0);
    tokens = ix->AddIndex(u"Tokens", 0, idAll, u"", &TzfMainIndexTokenKeyDescriptor::ClassInfo());
    fulltext = zfEnsureFulltextDescriptor(dict);
  }

  // A full-text index "Body" with a field extractor, two filters, a bit-array token index with
  // both B*-trees and a main-index token index.
  TzfFulltextIndexDescriptor* BuildBody() {
    TzfFulltextIndexDescriptor* body = fulltext->AddFulltextIndex(u"Body");
    body->AddFieldTokenExtractor(1);
    body->AddTokenFilter(u"Words", &TzfCategorySeparatorTokenFilterDescriptor::ClassInfo());
    body->AddTokenFilter(u"Lower", &TzfLowercaseLocaleMappingTokenFilterDescriptor::ClassInfo());
    auto* bits = dynamic_cast<TzfBitArrayTokenIndexDescriptor*>(body->AddTokenIndex(u""));
    bits->SetPerFieldIndex(true);
    bits->SetSegmentIndex(true);
    bits->AddIndex(0);
    bits->AddReverseIndex(0);
    auto* main = dynamic_cast<TzfMainIndexTokenIndexDescriptor*>(
        body->AddTokenIndex(u"Main", &TzfMainIndexTokenIndexDescriptor::ClassInfo()));
    main->SetMainIndexNumber(3);
    return body;
  }

  std::vector<uint8_t> WriteDict(int32_t aClient = zfEngineVersion) {
    TzfMemoryStream stream(-1);
    dict.WriteToStream(stream, aClient);
    return StreamBytes(stream);
  }

  UnicodeString ReadDict(const std::vector<uint8_t>& aBytes, TzfDataDictionary& aRead) {
    TzfMemoryStream stream(-1);
    LoadBytes(stream, aBytes);
    return Outcome([&] { aRead.ReadFromStream(stream, u"T"); });
  }

  TzfDataDictionary dict;
  TzfIndexDescriptor* tokens = nullptr;
  TzfFulltextDescriptor* fulltext = nullptr;
};

TEST_F(FulltextDescriptorTest, IndexNamesAndLocationIndexRules) {
  // Empty names become "Default"; a second one is not unique; the location index defaults to
  // the lowest valid one (ByID: ByBig is over a 64-bit field).
  TzfFulltextIndexDescriptor* first = fulltext->AddFulltextIndex(u"");
  EXPECT_EQ(first->fidName, u"Default");
  EXPECT_EQ(first->fidLocationIndexNumber, 2);
  EXPECT_EQ(first->LocationField()->fdName, u"ID");
  EXPECT_TRUE(Has(Outcome([&] { fulltext->AddFulltextIndex(u"default"); }), u"#10009"));
  EXPECT_TRUE(Has(Outcome([&] { fulltext->AddFulltextIndex(u" Bad"); }), u"#10068"));
  EXPECT_TRUE(Has(Outcome([&] { fulltext->AddFulltextIndex(u"Other", nullptr, 1); }),
                  u"#10004: ZofrinDB: Invalid location index (1)"));
  EXPECT_EQ(fulltext->FulltextIndexCount(), 1);

  // A table whose only unique index is over a 64-bit field cannot take a full-text index.
  dict.tdIndicesDescriptor->RemoveIndex(u"Tokens");
  TzfFulltextDescriptor* keep = fulltext;
  keep->RemoveFulltextIndex(u"Default");
  dict.tdIndicesDescriptor->RemoveIndex(u"ByID");
  EXPECT_TRUE(Has(Outcome([&] { fulltext->AddFulltextIndex(u"X"); }), u"Invalid location index (-1)"));
}

TEST_F(FulltextDescriptorTest, ReferencesFollowIndexAndFieldChanges) {
  TzfFulltextIndexDescriptor* body = BuildBody();
  auto* main = dynamic_cast<TzfMainIndexTokenIndexDescriptor*>(body->fidTokenIndexHub->Item(1));
  auto* extractor = dynamic_cast<TzfFieldTokenExtractorDescriptor*>(body->fidTokenExtractorHub->Item(0));
  TzfMainIndicesDescriptor* ix = dict.tdIndicesDescriptor.get();
  // Moving ByBig (1) behind the location index at 2 makes it 1; inserting one at 1 makes it 2.
  ix->MoveIndex(1, 2);
  EXPECT_EQ(body->fidLocationIndexNumber, 1);
  EXPECT_EQ(main->mitidMainIndexNumber, 3);
  ix->InsertIndexAt(1, u"New", 0, idAll, u"");
  EXPECT_EQ(body->fidLocationIndexNumber, 2);
  EXPECT_EQ(main->mitidMainIndexNumber, 4);
  EXPECT_TRUE(Has(Outcome([&] { ix->RemoveIndex(u"ByID"); }),
                  u"#15502: ZofrinDB: Cannot remove index ByID because it is still referenced by a fulltext index"));
  EXPECT_TRUE(Has(Outcome([&] { ix->RemoveIndex(u"Tokens"); }), u"#15502"));
  EXPECT_EQ(ix->IndexCount(), 5);
  // The extractor's field follows the fields; its own field cannot go.
  dict.tdFieldsDescriptor->InsertFieldAt(0, u"First", u"", zftInt32, 0, 0, false, nullptr);
  EXPECT_EQ(extractor->ftedFieldNumber, 2);
  EXPECT_TRUE(Has(Outcome([&] { dict.tdFieldsDescriptor->RemoveField(2); }),
                  u"Cannot remove field Msg because it is still referenced by an index"));
}

TEST_F(FulltextDescriptorTest, HubsNumberTheirItemsByPosition) {
  TzfFulltextIndexDescriptor* body = fulltext->AddFulltextIndex(u"Body");
  for (const char16_t* name : {u"A", u"B", u"C"}) body->AddTokenFilter(name);
  EXPECT_TRUE(Has(Outcome([&] { body->AddTokenFilter(u"b"); }), u"#10009"));
  EXPECT_TRUE(Has(Outcome([&] { body->AddTokenFilter(u"x "); }), u"#10068"));
  body->RemoveTokenFilter(u"B");
  TzfTokenFilterHubDescriptor& hub = *body->fidTokenFilterHub;
  ASSERT_EQ(hub.Count(), 2);
  EXPECT_EQ(hub.Item(1)->nfidiNumber, 1);
  EXPECT_EQ(hub.Item(1)->Name(), u"C");
  // An extractor added with a blank name is listed under its field's name; a bad field is
  // refused and leaves the hub as it was.
  EXPECT_EQ(body->AddFieldTokenExtractor(4, u"  ")->Name(), u"Name");
  EXPECT_TRUE(Has(Outcome([&] { body->AddFieldTokenExtractor(9, u"Nine"); }), u"#9999: ZofrinDB: Invalid field number: 9"));
  EXPECT_EQ(body->TokenExtractorCount(), 1);
  // The extractor hub has no default name; the filter and token index hubs do.
  EXPECT_TRUE(Has(Outcome([&] { body->AddTokenExtractor(u""); }), u"#10068"));
  EXPECT_EQ(body->AddTokenIndex(u"")->Name(), u"Default");
}

TEST_F(FulltextDescriptorTest, ValidationCompletesBitArrayIndexes) {
  TzfFulltextIndexDescriptor* body = fulltext->AddFulltextIndex(u"Body");
  body->AddFieldTokenExtractor(1);
  auto* bits = dynamic_cast<TzfBitArrayTokenIndexDescriptor*>(body->AddTokenIndex(u""));
  bits->SetMaxTokenSize(0);
  EXPECT_EQ(bits->batidMaxTokenSize, 1);
  bits->SetMaxTokenSize(5000);
  EXPECT_EQ(bits->batidMaxTokenSize, 1024);
  bits->SetMaxTokenSize(20);
  TzfIndexDescriptor* forward = bits->AddIndex(0);
  EXPECT_EQ(forward->idName, u"Body$Default");
  EXPECT_EQ(forward->idKeyDescriptor->GetKeyLength(), 44);
  EXPECT_FALSE(bits->batidBitArrayStorageHandler);
  EXPECT_FALSE(fulltext->ftdBlobDescriptor);
  // Validation brings the key in step (per field: 46 bytes), adds the storage handler and with it
  // the BLOB descriptor "Fulltext$Blob".
  bits->batidPerFieldIndex = true;
  dict.CheckValid(false);
  EXPECT_EQ(forward->idKeyDescriptor->GetKeyLength(), 46);
  ASSERT_TRUE(bits->batidBitArrayStorageHandler);
  EXPECT_EQ(bits->batidBitArrayStorageHandler->ClassName(), UnicodeString(u"TzfSimpleBitArrayStorageHandlerDescriptor"));
  ASSERT_TRUE(fulltext->ftdBlobDescriptor);
  EXPECT_EQ(fulltext->ftdBlobDescriptor->bbdHeaderSection, "Fulltext$Blob");
  // A forward tree with another key class is invalid.
  bits->RemoveIndex();
  fulltext->EnsureIndicesDescriptor()->AddIndex(u"Body$Default", 0, idNone, u"");
  EXPECT_TRUE(Has(Outcome([&] { dict.CheckValid(false); }), u"#10004"));
}

TEST_F(FulltextDescriptorTest, MainIndexTokenIndexChecks) {
  TzfFulltextIndexDescriptor* body = fulltext->AddFulltextIndex(u"Body");
  body->AddFieldTokenExtractor(1);
  auto* main = dynamic_cast<TzfMainIndexTokenIndexDescriptor*>(
      body->AddTokenIndex(u"Main", &TzfMainIndexTokenIndexDescriptor::ClassInfo()));
  EXPECT_TRUE(Has(Outcome([&] { dict.CheckValid(false); }), u"#9997"));
  EXPECT_TRUE(Has(Outcome([&] { main->SetMainIndexNumber(2); }),
                  u"#10004: ZofrinDB: Index must use a TzfMainIndexTokenIndexKeyDescriptor"));
  main->SetMainIndexNumber(3);
  dict.CheckValid(false);
  auto* key = dynamic_cast<TzfMainIndexTokenKeyDescriptor*>(tokens->idKeyDescriptor.get());
  EXPECT_EQ(key->mitkdFlags & 1u, 1u);  // IgnoreCase
  EXPECT_EQ(key->GetKeyLength(), 42);
  key->SetIncludeLocation(true);
  EXPECT_EQ(key->GetKeyLength(), 46);
  TzfMemoryStream out(-1);
  TzfWriter writer(out);
  EXPECT_TRUE(Has(Outcome([&] { key->SaveToWriter(writer, zfVersion20400); }), u"#12039"));
}

TEST_F(FulltextDescriptorTest, DictStreamRoundTrips) {
  BuildBody();
  fulltext->AddFulltextIndex(u"Second")->AddTokenExtractorHub(u"Nested")->AddFieldTokenExtractor(4, u"N");
  dict.CheckValid(false);
  for (int32_t client : {zfEngineVersion, zfVersion20700}) {
    TzfDataDictionary read;
    ASSERT_EQ(ReadDict(WriteDict(client), read), u"ok");
    EXPECT_TRUE(read.IsEqual(&dict));
    TzfFulltextDescriptor* f = zfFindFulltextDescriptor(read);
    ASSERT_TRUE(f);
    ASSERT_EQ(f->FulltextIndexCount(), 2);
    TzfFulltextIndexDescriptor* body = f->FulltextIndex(0);
    EXPECT_EQ(body->fidTokenFilterHub->ItemName(1), u"Lower");
    auto* bits = dynamic_cast<TzfBitArrayTokenIndexDescriptor*>(body->fidTokenIndexHub->Item(0));
    ASSERT_TRUE(bits);
    EXPECT_TRUE(bits->batidPerFieldIndex && bits->batidSegmentIndex && bits->batidPerLocationIndex);
    // The storage handler is not stored: validation after reading gave it back.
    EXPECT_TRUE(bits->batidBitArrayStorageHandler);
    ASSERT_TRUE(bits->ReverseIndexDescriptor());
    EXPECT_TRUE(dynamic_cast<TzfBitArrayTokenKeyDescriptor*>(bits->ReverseIndexDescriptor()->idKeyDescriptor.get())
                    ->batkdReverse);
  }
}

// One category separator filter's own part, cell by cell: the item header (version 3, no custom
// strings, its ID, no constraint name), then the version of each level, the number, the
// distance and the seven bytes of the default category set.
TEST_F(FulltextDescriptorTest, CategoryFilterBytes) {
  TzfFulltextIndexDescriptor* body = fulltext->AddFulltextIndex(u"Body");
  body->AddTokenFilter(u"A");
  auto* filter = dynamic_cast<TzfCategorySeparatorTokenFilterDescriptor*>(
      body->AddTokenFilter(u"B", &TzfCategorySeparatorTokenFilterDescriptor::ClassInfo()));
  filter->SetSeparatorDistance(3);
  filter->diID = 7;
  TzfMemoryStream out(-1);
  {
    TzfWriter writer(out);
    filter->SaveToWriter(writer, zfEngineVersion);
  }
  const std::vector<uint8_t> expected = {
      2, 3, 1, 0, 2, 7, 0x12, 0, 0, 0, 0,        // item header (the empty name as a wide string)
      2, 1,                                      // fulltext item
      2, 1,                                      // fulltext index item
      2, 1, 2, 1,                                // numbered: version, number 1
      2, 1,                                      // token source
      2, 1,                                      // token filter
      2, 1, 2, 3,                                // separator: version, distance 3
      2, 1, 0x00, 0x0E, 0xE0, 0x03, 0x00, 0x30, 0x20  // category set
  };
  EXPECT_EQ(StreamBytes(out), expected);
}

TEST_F(FulltextDescriptorTest, DamagedStreamsAreRefused) {
  TzfFulltextIndexDescriptor* body = fulltext->AddFulltextIndex(u"Body");
  body->AddFieldTokenExtractor(1);
  body->AddTokenFilter(u"Words", &TzfCategorySeparatorTokenFilterDescriptor::ClassInfo());
  body->AddTokenIndex(u"");
  dict.CheckValid(false);
  const auto bytes = WriteDict();
  auto patched = [&](const std::string& aFrom, const std::string& aTo) {
    std::vector<uint8_t> b = bytes;
    auto it = std::search(b.begin(), b.end(), aFrom.begin(), aFrom.end());
    EXPECT_NE(it, b.end());
    std::copy(aTo.begin(), aTo.end(), it);
    TzfDataDictionary read;
    return ReadDict(b, read);
  };
  EXPECT_TRUE(Has(patched("TzfCategorySeparatorTokenFilterDescriptor", "TzfCategorySeparatorTokenFilterDescriptoX"),
                  u"TokenFilterDescriptor class is not supported"));
  EXPECT_TRUE(Has(patched("TzfFulltextIndexDescriptor", "TzfFulltextIndexDescriptoX"),
                  u"FulltextIndexDescriptor class is not supported"));
  // The filter's number 0 (after its name and class) made 5: not its position.
  const std::string cls = "TzfCategorySeparatorTokenFilterDescriptor";
  std::vector<uint8_t> b = bytes;
  auto it = std::search(b.begin(), b.end(), cls.begin(), cls.end()) + static_cast<std::ptrdiff_t>(cls.size());
  // header 11 bytes, two versions, then the numbered version and the number.
  it += 11 + 2 + 2 + 2;
  ASSERT_EQ(*it, 2);
  ASSERT_EQ(*(it + 1), 0);
  *(it + 1) = 5;
  TzfDataDictionary read;
  EXPECT_TRUE(Has(ReadDict(b, read), u"#15498"));
  // Every cut of the stream is refused with the dictionary's stream error, never read half.
  for (size_t cut = bytes.size() / 2; cut < bytes.size(); cut += 7) {
    TzfDataDictionary part;
    const UnicodeString r = ReadDict(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)), part);
    EXPECT_TRUE(Has(r, u"#15498")) << cut;
  }
}

}  // namespace
}  // namespace zf
