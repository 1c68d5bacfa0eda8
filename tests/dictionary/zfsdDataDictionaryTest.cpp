#include "dictionary/zfsdDataDictionary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <memory>
#include <string>
#include <vector>

#include "dictionary/zfsdDataDictionaryRefInt.h"
#include "dictionary/zfsdDefaultValueDescriptor.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "dictionary/zfsdStartup.h"
#include "dictionary/zfsdValidationDescriptor.h"
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

// Builds a stream by hand with the tagged encoding's rules: integers in their smallest form,
// strings as 8-bit text when that is shorter than UTF-16 (so the empty string as UTF-16).
class TGolden {
 public:
  TGolden& Int(int32_t v) {
    if (v >= -128 && v <= 127) return Tag(vaInt8).Le(v, 1);
    if (v >= -32768 && v <= 32767) return Tag(vaInt16).Le(v, 2);
    return Tag(vaInt32).Le(v, 4);
  }
  TGolden& Bool(bool v) { return Tag(v ? vaTrue : vaFalse); }
  TGolden& Str(const std::string& s) {
    if (s.empty()) return Tag(vaWString).Le(0, 4);
    Tag(vaString).Byte(static_cast<uint8_t>(s.size()));
    return Raw(s);
  }
  TGolden& WStr(const std::u16string& s) {
    Tag(vaWString).Le(static_cast<int32_t>(s.size()), 4);
    for (char16_t c : s) Le(c, 2);
    return *this;
  }
  TGolden& Ident(const std::string& s) {
    Tag(vaIdent).Byte(static_cast<uint8_t>(s.size()));
    return Raw(s);
  }
  TGolden& Raw(const std::string& s) {
    for (char c : s) Byte(static_cast<uint8_t>(c));
    return *this;
  }
  TGolden& Byte(uint8_t b) {
    Bytes.push_back(b);
    return *this;
  }
  // The item header of a descriptor: version 3, no custom strings, the ID, no constraint name.
  TGolden& Header(int32_t aID) { return Int(3).Tag(vaList).Tag(vaNull).Int(aID).Str(""); }
  // The locale part of an item without a locale of its own.
  TGolden& NoLocale() { return Int(1).Bool(false); }

  std::vector<uint8_t> Bytes;

 private:
  TGolden& Tag(TValueType t) { return Byte(t); }
  TGolden& Le(int64_t v, int n) {
    for (int i = 0; i < n; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
};

std::vector<uint8_t> Write(TzfDataDictionary& aDict, int32_t aClientVersion) {
  TzfMemoryStream stream(-1);
  aDict.WriteToStream(stream, aClientVersion);
  return StreamBytes(stream);
}

void Read(TzfDataDictionary& aDict, const std::vector<uint8_t>& aBytes, const UnicodeString& aBaseName = u"T") {
  TzfMemoryStream stream(-1);
  LoadBytes(stream, aBytes);
  aDict.ReadFromStream(stream, aBaseName);
}

class DataDictionaryTest : public test::DictionaryStarted {
 protected:
  void SetUp() override { zfSetDisable30900LocaleFixes(false); }
  void TearDown() override { zfSetDisable30900LocaleFixes(false); }

  // A small table: three fields of different types, a constant default and a CHECK validation on
  // the first, the table's own locale, and an index over two key fields beside the sequential
  // access index.
  static std::unique_ptr<TzfDataDictionary> SmallTable() {
    auto dict = std::make_unique<TzfDataDictionary>();
    TzfLocaleDescriptor* locale = dict->AddLocaleDescriptor(nullptr);
    locale->SetLocale(1033);
    TzfFieldsDescriptor& fields = *dict->tdFieldsDescriptor;
    TzfFieldDescriptor* id = fields.AddField(u"ID", u"Identifier", zftInt32, 0, 0, true, nullptr);
    auto* def = dynamic_cast<TzfConstDefaultValueDescriptor*>(id->AddDefaultValue(nullptr));
    if (!def) throw std::logic_error("no constant default");
    def->cdvDefaultValue = {42, 0, 0, 0};
    auto* check = dynamic_cast<TzfSqlCheckValidationDescriptor*>(
        dynamic_cast<TzfFieldValidationsDescriptor*>(id->AddValidations(nullptr))
            ->AddValidation(u"CheckID", &TzfSqlCheckValidationDescriptor::ClassInfo()));
    check->SetConstraint(u"ID > 0");
    check->SetErrorMessage(u"ID must be positive");
    fields.AddField(u"Active", u"", zftBoolean, 0, 0, false, nullptr);
    fields.AddField(u"Price", u"", zftDouble, 0, 0, false, nullptr);
    TzfIndexDescriptor* index = dict->tdIndicesDescriptor->AddIndex(u"ByIDPrice", 0, idNone, u"",
                                                                    &TzfCompKeyDescriptor::ClassInfo(), nullptr);
    auto* key = dynamic_cast<TzfCompKeyDescriptor*>(index->idKeyDescriptor.get());
    key->Add(0, nullptr);
    key->Add(2, nullptr);
    // A version-4 dictionary without a build NLS version (which would depend on the machine).
    dict->ddVersion = 4;
    dict->ddUseByteOrderForWideString = true;
    return dict;
  }

  // The "DICT" stream of SmallTable for the current client, assembled from the stream tables.
  static std::vector<uint8_t> SmallTableGolden() {
    TGolden g;
    GoldenOpening(g);
    g.Ident("LocaleDescriptor").Int(1).Bool(true).Str("TzfLocaleDescriptor").Header(11);
    g.Int(2).Int(1033).Bool(false).Bool(false).Bool(false).Bool(false).Bool(false).Int(0).Bool(false);
    GoldenRecordAndFieldsStart(g, 3);
    // ID: Int32, 10 digits, required, at 0 with 4 bytes; constant 42; one CHECK validation.
    g.Str("TzfFieldDescriptor").Str("ID").Str("Identifier").Str("zftInt32").Int(10).Int(0).Bool(true);
    g.Header(12).Int(3).Int(0).Int(4);
    g.Bool(true).Str("TzfConstDefaultValueDescriptor").Header(13);
    g.Ident("BDVD").Int(1).Bool(true).Bool(false).Bool(false).Bool(true).Bool(true);
    g.Int(1).Byte(42).Byte(0).Byte(0).Byte(0);
    g.Bool(false).NoLocale();
    g.Bool(true).Str("TzfFieldValidationsDescriptor").Header(14).Int(1).Int(1);
    g.Str("TzfSqlCheckValidationDescriptor").Str("CheckID").Header(15).Int(1).Bool(true).Bool(false);
    g.Int(1).WStr(u"ID > 0").Str("ID must be positive");
    // Active: Boolean at 4, 1 byte.
    g.Str("TzfFieldDescriptor").Str("Active").Str("").Str("zftBoolean").Int(0).Int(0).Bool(false);
    g.Header(16).Int(3).Int(4).Int(1).Bool(false).Bool(false).NoLocale().Bool(false);
    // Price: Double at 5, 8 bytes.
    g.Str("TzfFieldDescriptor").Str("Price").Str("").Str("zftDouble").Int(0).Int(0).Bool(false);
    g.Header(17).Int(3).Int(5).Int(8).Bool(false).Bool(false).NoLocale().Bool(false);
    g.Int(13).Int(16).Bool(false);

    g.Ident("IndicesDescriptor").Bool(true).Str("TzfMainIndicesDescriptor").Header(8);
    g.Int(1).Str("zf1xDefault").Int(2);
    GoldenSequentialIndex(g);
    g.Str("TzfIndexDescriptor").Str("TzfCompKeyDescriptor").Str("ByIDPrice").Int(0);
    g.Header(18).Int(1).Str("zf1xDefault").Str("").Bool(false);
    g.Header(19).Ident("BKD").Int(1).Bool(false).Int(1).Int(2);
    for (auto [field, id] : {std::pair{0, 20}, std::pair{2, 21}}) {
      g.Str("TzfKeyFieldDescriptor").Int(field).Header(id).Int(2).Str("").Str("").Bool(true);
      g.NoLocale().Int(0).Int(0).Str("nbTop");
    }
    g.Int(1).Int(0);  // default index
    GoldenClosing(g, 21);
    return g.Bytes;
  }

  // A table of text fields of both kinds: variable-width (decimals 0) and fixed-width (decimals
  // above 0, set up to the units), nothing else of its own.
  static std::unique_ptr<TzfDataDictionary> TextTable() {
    auto dict = std::make_unique<TzfDataDictionary>();
    TzfFieldsDescriptor& fields = *dict->tdFieldsDescriptor;
    fields.AddField(u"Name", u"", zftNullString, 20, 0, false, nullptr);
    fields.AddField(u"Note", u"", zftWideString, 10, 0, false, nullptr);
    fields.AddField(u"Code", u"", zftShortString, 6, 1, false, nullptr);
    dict->ddVersion = 4;
    dict->ddUseByteOrderForWideString = true;
    return dict;
  }

  static std::vector<uint8_t> TextTableGolden() {
    TGolden g;
    GoldenOpening(g);
    g.Ident("LocaleDescriptor").NoLocale();
    GoldenRecordAndFieldsStart(g, 3);
    // Name: NullString(20), decimals 0, at 0 with 21 bytes.
    g.Str("TzfFieldDescriptor").Str("Name").Str("").Str("zftNullString").Int(20).Int(0).Bool(false);
    g.Header(11).Int(3).Int(0).Int(21).Bool(false).Bool(false).NoLocale().Bool(false);
    // Note: WideString(10), decimals 0, at 21 with 22 bytes.
    g.Str("TzfFieldDescriptor").Str("Note").Str("").Str("zftWideString").Int(10).Int(0).Bool(false);
    g.Header(12).Int(3).Int(21).Int(22).Bool(false).Bool(false).NoLocale().Bool(false);
    // Code: ShortString(6), fixed-width: decimals 6, at 43 with 7 bytes.
    g.Str("TzfFieldDescriptor").Str("Code").Str("").Str("zftShortString").Int(6).Int(6).Bool(false);
    g.Header(13).Int(3).Int(43).Int(7).Bool(false).Bool(false).NoLocale().Bool(false);
    g.Int(50).Int(52).Bool(false);  // 50 bytes of fields, the bitmap at 52, no fields validations
    g.Ident("IndicesDescriptor").Bool(true).Str("TzfMainIndicesDescriptor").Header(8);
    g.Int(1).Str("zf1xDefault").Int(1);
    GoldenSequentialIndex(g);
    g.Int(1).Int(0);  // default index
    GoldenClosing(g, 13);
    return g.Bytes;
  }

  // The parts every table's stream shares, from the opening ident to the table's item header.
  static void GoldenOpening(TGolden& g) {
    g.Ident("ZofrinDB").Int(4).Raw("ZF!2").Str("");
    g.Bool(true);  // byte order for wide strings
    g.Ident("StreamDescriptor").Bool(true).Str("TzfBaseStreamDescriptor").Header(5).Int(1).Str("zf1xDefault");
    g.Ident("FilesDescriptor").Bool(true).Str("TzfFilesDescriptor").Header(4).Int(1).Int(1);
    g.Str("TzfFileDescriptor").Str("").Header(7).Int(1).Str("Data/DataDict File").Int(4096).Int(4).Int(1);
    // The dictionary's table part.
    g.Header(0).Int(1);
  }
  static void GoldenRecordAndFieldsStart(TGolden& g, int32_t aFieldCount) {
    g.Ident("RecordDescriptor").Bool(true).Str("TzfBaseRecordDescriptor").Header(6).Int(2).Str("zf1xDefault").Int(0);
    g.Ident("BlobDescriptor").Bool(false);
    g.Ident("FieldsDescriptor").Bool(true).Str("TzfFieldsDescriptor").Header(1).Int(2).Int(aFieldCount);
  }
  static void GoldenSequentialIndex(TGolden& g) {
    g.Str("TzfIndexDescriptor").Str("TzfRefKeyDescriptor").Str("Sequential Access Index").Int(0);
    g.Header(9).Int(1).Str("zf1xDefault").Str("Sequential Access Index").Bool(false);
    g.Header(10).Ident("BKD").Int(1).Bool(false).Int(1);
  }
  static void GoldenClosing(TGolden& g, int32_t aCurrentID) {
    g.Ident("AutoIncDescriptor").Bool(false);
    g.Ident("CustomDescsDescriptor").Bool(true).Str("TzfCustomDescsDescriptor").Header(2).Int(1).Int(0);
    g.Ident("TablesDescriptor").Bool(true).Str("TzfTablesDescriptor").Header(3).Int(1).Int(0);
    g.Ident("CurrentID").Int(aCurrentID);
    g.Ident("ZofrinDB");
  }
};

// ---- Golden bytes ----

TEST_F(DataDictionaryTest, SmallTableStreamMatchesHandAssembledBytes) {
  auto dict = SmallTable();
  EXPECT_EQ(Write(*dict, zfEngineVersion), SmallTableGolden());

  TzfDataDictionary read;
  Read(read, SmallTableGolden());
  EXPECT_TRUE(read.IsEqual(dict.get()));
  EXPECT_TRUE(dict->IsEqual(&read));
  EXPECT_EQ(read.ddVersion, 4);
  EXPECT_TRUE(read.ddUseByteOrderForWideString);
  EXPECT_EQ(read.ddCurrentID, 21);
  EXPECT_EQ(read.ddBaseName, u"T");
  EXPECT_EQ(read.btdFullName(), u"T");
  // Read back, it writes the same bytes again.
  EXPECT_EQ(Write(read, zfEngineVersion), SmallTableGolden());

  // Reading starts at the stream's position and leaves the stream right after the dictionary.
  const auto golden = SmallTableGolden();
  std::vector<uint8_t> framed{1, 2, 3};
  framed.insert(framed.end(), golden.begin(), golden.end());
  framed.push_back(0xEE);
  TzfMemoryStream stream(-1);
  LoadBytes(stream, framed);
  stream.SetPosition(3);
  TzfDataDictionary atOffset;
  atOffset.ReadFromStream(stream, u"T");
  EXPECT_TRUE(atOffset.IsEqual(dict.get()));
  EXPECT_EQ(stream.GetPosition(), static_cast<int64_t>(framed.size()) - 1);
}

// Text fields keep the width their creator chose: a stream whose text fields have decimals 0 reads
// them as variable-width and writes the same bytes back.
TEST_F(DataDictionaryTest, TextFieldsOfBothWidthsMatchHandAssembledBytes) {
  auto dict = TextTable();
  EXPECT_EQ(Write(*dict, zfEngineVersion), TextTableGolden());

  TzfDataDictionary read;
  Read(read, TextTableGolden());
  EXPECT_TRUE(read.IsEqual(dict.get()));
  EXPECT_EQ(Outcome([&] { read.CheckValid(false); }), u"ok");
  const TzfFieldsDescriptor& fields = *read.tdFieldsDescriptor;
  ASSERT_EQ(fields.FieldCount, 3);
  EXPECT_EQ(fields.FieldDescriptor[0]->fdDecPl, 0);
  EXPECT_EQ(fields.FieldDescriptor[1]->fdDecPl, 0);
  EXPECT_EQ(fields.FieldDescriptor[2]->fdDecPl, 6);
  EXPECT_EQ(Write(read, zfEngineVersion), TextTableGolden());

  // Values read back as written in the variable-width fields and padded in the fixed-width one.
  std::vector<uint8_t> rec(static_cast<size_t>(read.tdFieldsDescriptor->GetRecordLength()));
  read.tdFieldsDescriptor->InitRecord(rec.data());
  for (int32_t i = 0; i < 3; ++i) read.tdFieldsDescriptor->SetFieldAsVariant(rec.data(), i, rtl::Variant::FromOleStr(u"ab "));
  EXPECT_EQ(read.tdFieldsDescriptor->GetFieldAsVariant(rec.data(), 0).AsString(), u"ab ");
  EXPECT_EQ(read.tdFieldsDescriptor->GetFieldAsVariant(rec.data(), 1).AsString(), u"ab ");
  EXPECT_EQ(read.tdFieldsDescriptor->GetFieldAsVariant(rec.data(), 2).AsString(), u"ab    ");
}

TEST_F(DataDictionaryTest, EqualityIgnoresVersionSignatureNamesAndIDs) {
  auto dict = SmallTable();
  TzfDataDictionary other;
  other.Assign(dict.get());
  other.ddVersion = 3;
  other.HeaderSignature = zfHeaderSignature1;
  other.ddBaseName = u"Elsewhere";
  other.ddCurrentID = 1000;
  other.ddUseByteOrderForWideString = false;
  EXPECT_TRUE(other.IsEqual(dict.get()));
  dict->EncryptionEngine = u"Cipher";
  other.EncryptionEngine = u"CIPHER";
  EXPECT_TRUE(other.IsEqual(dict.get()));
  other.EncryptionEngine = u"Other";
  EXPECT_FALSE(other.IsEqual(dict.get()));
  other.EncryptionEngine = u"cipher";
  other.RemoveStreamDescriptor();
  EXPECT_FALSE(other.IsEqual(dict.get()));
}

// ---- Defaults and reset ----

TEST_F(DataDictionaryTest, NewDictionaryHoldsTheDefaultsAndUpgradesForABuild) {
  TzfDataDictionary dict;
  EXPECT_EQ(dict.ddVersion, 3);
  EXPECT_EQ(dict.HeaderSignature, zfHeaderSignature2);
  ASSERT_EQ(dict.ddFilesDescriptor->FileCount, 1);
  EXPECT_EQ(dict.ddFilesDescriptor->FileDescriptor[0]->fdExtension, u"");
  EXPECT_EQ(dict.ddFilesDescriptor->FileDescriptor[0]->fdDesc, u"Data/DataDict File");
  ASSERT_TRUE(dict.ddStreamDescriptor);
  ASSERT_TRUE(dict.tdRecordDescriptor);
  ASSERT_TRUE(dict.tdIndicesDescriptor);
  ASSERT_EQ(dict.tdIndicesDescriptor->IndexCount(), 1);
  const TzfIndexDescriptor& seq = *dict.tdIndicesDescriptor->IndexDescriptor[0];
  EXPECT_EQ(seq.idName, u"Sequential Access Index");
  EXPECT_EQ(seq.idDesc, u"Sequential Access Index");
  EXPECT_EQ(&seq.idKeyDescriptor->ClassType(), &TzfRefKeyDescriptor::ClassInfo());
  EXPECT_EQ(dict.GetBookmarkSize(0), 24 + 8);

  dict.tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  dict.CheckValid(true);
  EXPECT_EQ(dict.ddVersion, 4);
  EXPECT_TRUE(dict.ddUseByteOrderForWideString);

  zfSetDisable30900LocaleFixes(true);
  dict.CheckValid(true);
  EXPECT_EQ(dict.ddVersion, 3);
  EXPECT_FALSE(dict.ddUseByteOrderForWideString);
}

TEST_F(DataDictionaryTest, CheckValidRefusesATableWithoutFieldsOrStreamDescriptor) {
  TzfDataDictionary dict;
  EXPECT_NE(Outcome([&] { dict.CheckValid(false); }).find(u"#10003"), UnicodeString::npos);
  dict.tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  dict.RemoveStreamDescriptor();
  EXPECT_EQ(Outcome([&] { dict.CheckValid(false); }),
            u"!EzfDataDictionaryException #10004: ZofrinDB: A stream descriptor is required [$2714/10004]");
}

TEST_F(DataDictionaryTest, ReadOnlyRefusesChangesButAResetReadsAgain) {
  auto dict = SmallTable();
  const auto bytes = Write(*dict, zfEngineVersion);
  dict->MakeReadOnly();
  EXPECT_NE(Outcome([&] { dict->tdFieldsDescriptor->AddField(u"B", u"", zftInt32, 0, 0, false, nullptr); })
                .find(u"#15500"),
            UnicodeString::npos);
  TzfMemoryStream stream(-1);
  LoadBytes(stream, bytes);
  {
    TzfReader reader(stream);
    EXPECT_NE(Outcome([&] { dict->ReadFromReader(reader); }).find(u"#15500"), UnicodeString::npos);
  }
  EXPECT_EQ(dict->tdFieldsDescriptor->FieldCount, 3);
  Read(*dict, bytes);
  EXPECT_FALSE(dict->ddReadOnly);
  EXPECT_EQ(dict->tdFieldsDescriptor->FieldCount, 3);
}

// ---- Writer versions ----

TEST_F(DataDictionaryTest, EveryClientVersionReadsBackEqual) {
  // Old clients get the old layout, which has no place for a table locale or the CHECK
  // validation; the table without them travels through every version.
  auto plain = std::make_unique<TzfDataDictionary>();
  TzfFieldsDescriptor& fields = *plain->tdFieldsDescriptor;
  fields.AddField(u"ID", u"Identifier", zftInt32, 0, 0, true, nullptr);
  fields.AddField(u"Name", u"", zftShortString, 20, 0, false, nullptr);
  fields.AddField(u"Data", u"", zftBlob, 0, 0, false, nullptr);
  plain->ddFilesDescriptor->AddFile(u"blb", TzfBlockSize::zfbs8k, u"Blobs", nullptr);
  plain->CheckValid(true);
  plain->tdBlobDescriptor->SetFileNumber(1);
  TzfIndexDescriptor* index =
      plain->tdIndicesDescriptor->AddIndex(u"ByName", 1, idAll, u"", &TzfCompKeyDescriptor::ClassInfo(), nullptr);
  dynamic_cast<TzfCompKeyDescriptor*>(index->idKeyDescriptor.get())->Add(1, nullptr);
  plain->tdCustomDescsDescriptor->AddCustom(u"Extra", nullptr);
  // The old layout always names an auto-increment engine, so a reader always has the descriptor.
  plain->AddAutoIncDescriptor(nullptr);
  plain->CheckValid(false);

  struct Case {
    int32_t client;
    int32_t version;
  } cases[] = {{zfEngineVersion, 4}, {zfVersion30001, 3}, {zfVersion30000, 3}, {zfVersion20700, 3},
               {zfVersion20400, 3}, {zfVersion20000, 3}, {19999, 2}, {10000, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.client);
    const auto bytes = Write(*plain, c.client);
    TzfDataDictionary read;
    Read(read, bytes);
    EXPECT_EQ(read.ddVersion, c.version);
    EXPECT_TRUE(read.IsEqual(plain.get()));
    EXPECT_EQ(read.tdBlobDescriptor->bbdFileNumber, 1);
    EXPECT_EQ(read.tdFieldsDescriptor->fsdLogRecLenAlign, plain->tdFieldsDescriptor->fsdLogRecLenAlign);
  }

  // The full table reads back equal for every client of the tree layout.
  auto small = SmallTable();
  for (int32_t client : {zfEngineVersion, zfVersion30000, zfVersion20000}) {
    SCOPED_TRACE(client);
    TzfDataDictionary read;
    Read(read, Write(*small, client));
    EXPECT_TRUE(read.IsEqual(small.get()));
  }
}

TEST_F(DataDictionaryTest, OldClientsAreRefusedWhatTheOldLayoutCannotHold) {
  // A table locale is refused before any field is written, a GUID field when it comes.
  auto withLocale = SmallTable();
  EXPECT_EQ(Outcome([&] { Write(*withLocale, 19999); }),
            u"!EzfDataDictionaryException #15498: ZofrinDB: Higher dictionary version required [$3C8A/15498]");
  TzfDataDictionary guid;
  guid.tdFieldsDescriptor->AddField(u"G", u"", zftGuid, 0, 0, false, nullptr);
  EXPECT_EQ(Outcome([&] { Write(guid, 19999); }),
            u"!EzfDataDictionaryException #15498: ZofrinDB: Higher dictionary version required [$3C8A/15498]");
  // An index that keeps duplicates among nulls needs 20400.
  TzfDataDictionary nulls;
  nulls.tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  TzfIndexDescriptor* index =
      nulls.tdIndicesDescriptor->AddIndex(u"ByA", 0, idNull, u"", &TzfCompKeyDescriptor::ClassInfo(), nullptr);
  dynamic_cast<TzfCompKeyDescriptor*>(index->idKeyDescriptor.get())->Add(0, nullptr);
  EXPECT_NE(Outcome([&] { Write(nulls, 20300); }).find(u"#12039"), UnicodeString::npos);
  EXPECT_EQ(Outcome([&] { Write(nulls, zfVersion20400); }), u"ok");
}

// ---- Old layout ----

// A dictionary in the old layout with two fields of lengths 4 and 1, assembled by hand, with the
// stored length of the field data and (version 2 only) the stored bitmap offset given.
std::vector<uint8_t> OldLayoutStream(int32_t aVersion, int32_t aLogRecLen, int32_t aAlign) {
  TGolden g;
  g.Ident("ZofrinDB").Int(aVersion).Raw(aVersion == 1 ? "ZF!1" : "ZF!2").Str("");
  g.Str("zf1xDefault").Str("zf1xDefault").Str("zf1xDefault");
  g.Ident("RecordDescriptor").Bool(false);
  g.Ident("BlobDescriptor").Bool(false);
  // File 0; item headers of version 1 carry no ID.
  g.Ident("FileDescriptor").Int(1);
  g.Str("TzfFileDescriptor").Str("").Int(0);
  g.Int(1).Byte(vaList).Byte(vaNull).Int(1).Str("Data").Int(4096).Int(4).Int(1);
  g.Ident("FieldDescriptor").Int(2);
  g.Str("TzfFieldDescriptor").Str("A").Str("").Str("zftInt32").Int(10).Int(0).Bool(false);
  g.Int(1).Byte(vaList).Byte(vaNull).Int(1).Int(0).Int(4).Bool(false).Bool(false);
  g.Str("TzfFieldDescriptor").Str("B").Str("").Str("zftBoolean").Int(0).Int(0).Bool(false);
  g.Int(1).Byte(vaList).Byte(vaNull).Int(1).Int(4).Int(1).Bool(false).Bool(false);
  g.Ident("IndexDescriptor").Int(0).Int(-1);
  g.Int(aLogRecLen);  // fsdLogRecLen; version 1 stores no bitmap offset
  if (aVersion == 2) g.Int(aAlign);
  g.Ident("CustomDescriptor").Int(0);
  g.Ident("ZofrinDB");
  return g.Bytes;
}

// A version-1 dictionary in the old layout with two fields of lengths 4 and 1.
std::vector<uint8_t> Version1Stream() { return OldLayoutStream(1, 5, 5); }

TEST_F(DataDictionaryTest, OldClientStreamMatchesHandAssembledBytes) {
  // A new dictionary with one Int32 field, written for a client below 20000: the old layout of
  // version 2 with item headers of version 1 (no ID, no constraint name) and the older bodies.
  TzfDataDictionary dict;
  dict.tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  auto v1Header = [](TGolden& g) -> TGolden& { return g.Int(1).Byte(vaList).Byte(vaNull); };
  TGolden g;
  g.Ident("ZofrinDB").Int(2).Raw("ZF!2").Str("");
  g.Str("zf1xDefault").Str("zf1xDefault").Str("zf1xDefault");
  g.Ident("RecordDescriptor").Bool(true).Str("TzfBaseRecordDescriptor");
  v1Header(g).Int(1).Str("zf1xDefault");  // version 1: no file number
  g.Ident("BlobDescriptor").Bool(false);
  g.Ident("FileDescriptor").Int(1).Str("TzfFileDescriptor").Str("").Int(0);
  v1Header(g).Int(1).Str("Data/DataDict File").Int(4096).Int(4).Int(1);
  g.Ident("FieldDescriptor").Int(1);
  g.Str("TzfFieldDescriptor").Str("A").Str("").Str("zftInt32").Int(10).Int(0).Bool(false);
  v1Header(g).Int(1).Int(0).Int(4).Bool(false).Bool(false);
  g.Ident("IndexDescriptor").Int(1);
  g.Str("TzfIndexDescriptor").Str("TzfRefKeyDescriptor").Str("Sequential Access Index").Int(0);
  v1Header(g).Int(1).Str("zf1xDefault").Str("Sequential Access Index").Bool(false);
  v1Header(g).Int(1);  // the key: no filter block for an old client
  g.Int(0).Int(4).Int(4);  // default index, field data length, bitmap offset
  g.Ident("CustomDescriptor").Int(0);
  g.Ident("ZofrinDB");
  EXPECT_EQ(Write(dict, 19999), g.Bytes);
}

TEST_F(DataDictionaryTest, OldLayoutRecordLengthsMustHoldTheFieldsAndTheBitmap) {
  // Stored lengths that put the bitmap inside the field data, or the fields beyond the record
  // buffer, would have every record access write outside the buffer.
  struct Case { int32_t version, logRecLen, align; int32_t recordLength; } cases[] = {
      {1, 5, 5, 12}, {2, 5, 8, 12}, {2, 5, 5, 9},  // sound
      {1, 0, 0, 0},  {1, 4, 4, 0},  {2, 0, 0, 0},  {2, 4, 4, 0}, {2, 5, 4, 0}, {2, 5, 100, 0}, {2, -8, -8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.version << "/" << c.logRecLen << "/" << c.align);
    TzfDataDictionary dict;
    const UnicodeString outcome = Outcome([&] { Read(dict, OldLayoutStream(c.version, c.logRecLen, c.align)); });
    if (c.recordLength) {
      EXPECT_EQ(outcome, u"ok");
      EXPECT_EQ(dict.tdFieldsDescriptor->GetRecordLength(), c.recordLength);
    } else {
      EXPECT_NE(outcome.find(u"#15498"), UnicodeString::npos) << rtl::u8(outcome);
    }
  }
}

TEST_F(DataDictionaryTest, Version1StreamReadsAndUpgradesForABuild) {
  TzfDataDictionary dict;
  Read(dict, Version1Stream());
  EXPECT_EQ(dict.ddVersion, 1);
  EXPECT_EQ(dict.HeaderSignature, zfHeaderSignature1);
  EXPECT_FALSE(dict.ddUseByteOrderForWideString);
  EXPECT_EQ(dict.tdFieldsDescriptor->fsdLogRecLen, 5);
  EXPECT_EQ(dict.tdFieldsDescriptor->fsdLogRecLenAlign, 5);
  EXPECT_EQ(dict.tdFieldsDescriptor->GetRecordLength(), 12);
  EXPECT_FALSE(dict.tdIndicesDescriptor);  // no index stored
  ASSERT_TRUE(dict.tdAutoIncDescriptor);
  ASSERT_TRUE(dict.tdBlobDescriptor);

  dict.CheckValid(true);
  EXPECT_EQ(dict.ddVersion, 4);
  EXPECT_EQ(dict.HeaderSignature, zfHeaderSignature2);
  EXPECT_EQ(dict.tdFieldsDescriptor->fsdLogRecLenAlign, 8);
  EXPECT_EQ(dict.tdFieldsDescriptor->GetRecordLength(), 12);
  // Written again, it is a version-4 tree.
  TzfDataDictionary again;
  Read(again, Write(dict, zfEngineVersion));
  EXPECT_EQ(again.ddVersion, 4);
  EXPECT_TRUE(again.IsEqual(&dict));
}

TEST_F(DataDictionaryTest, OldLayoutRefusesASecondBlobFileAndAMisplacedMainFile) {
  auto withFiles = [](std::initializer_list<int32_t> aKinds) {
    TGolden g;
    g.Ident("ZofrinDB").Int(2).Raw("ZF!2").Str("");
    g.Str("zf1xDefault").Str("zf1xDefault").Str("zf1xDefault");
    g.Ident("RecordDescriptor").Bool(false);
    g.Ident("BlobDescriptor").Bool(false);
    g.Ident("FileDescriptor").Int(static_cast<int32_t>(aKinds.size()));
    int n = 0;
    for (int32_t kind : aKinds) {
      g.Str("TzfFileDescriptor").Str(n == 0 ? "" : "f" + std::to_string(n)).Int(kind);
      g.Int(1).Byte(vaList).Byte(vaNull).Int(1).Str("").Int(4096).Int(4).Int(1);
      ++n;
    }
    g.Ident("FieldDescriptor").Int(0).Ident("IndexDescriptor").Int(0).Int(-1).Int(0).Int(0);
    g.Ident("CustomDescriptor").Int(0).Ident("ZofrinDB");
    return g.Bytes;
  };
  TzfDataDictionary dict;
  EXPECT_EQ(Outcome([&] { Read(dict, withFiles({0, 2, 2})); }),
            u"!EzfDataDictionaryException #10004: ZofrinDB: A BLOB file has already been defined [$2714/10004]");
  EXPECT_NE(Outcome([&] { Read(dict, withFiles({0, 0})); }).find(u"#15498"), UnicodeString::npos);
  // After a failed read the dictionary holds its defaults.
  EXPECT_EQ(dict.ddFilesDescriptor->FileCount, 1);
  EXPECT_EQ(dict.tdFieldsDescriptor->FieldCount, 0);
  EXPECT_EQ(dict.ddVersion, 3);
}

// ---- Damaged streams ----

TEST_F(DataDictionaryTest, EveryTruncationIsRefusedWithIncompatibleStream) {
  const auto golden = SmallTableGolden();
  for (size_t n = 0; n < golden.size(); ++n) {
    std::vector<uint8_t> cut(golden.begin(), golden.begin() + static_cast<std::ptrdiff_t>(n));
    TzfDataDictionary dict;
    const UnicodeString outcome = Outcome([&] { Read(dict, cut); });
    ASSERT_NE(outcome.find(u"#15498"), UnicodeString::npos) << n << " " << rtl::Utf16ToUtf8(outcome);
    ASSERT_EQ(dict.tdFieldsDescriptor->FieldCount, 0);
    ASSERT_TRUE(dict.tdIndicesDescriptor);
  }
}

// Replaces the first occurrence of aFrom in aBytes by aTo (same length).
std::vector<uint8_t> Patch(std::vector<uint8_t> aBytes, const std::vector<uint8_t>& aFrom,
                           const std::vector<uint8_t>& aTo) {
  auto it = std::search(aBytes.begin(), aBytes.end(), aFrom.begin(), aFrom.end());
  EXPECT_NE(it, aBytes.end());
  if (it != aBytes.end()) std::copy(aTo.begin(), aTo.end(), it);
  return aBytes;
}

std::vector<uint8_t> Enc(const std::function<void(TGolden&)>& f) {
  TGolden g;
  f(g);
  return g.Bytes;
}

TEST_F(DataDictionaryTest, DamagedStreamsAreRefusedWithTheirCodes) {
  const auto golden = SmallTableGolden();
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char16_t* code;
  } cases[] = {
      {"wrong opening ident", Patch(golden, Enc([](TGolden& g) { g.Ident("ZofrinDB"); }),
                                    Enc([](TGolden& g) { g.Ident("ZofrinDX"); })),
       u"#15498"},
      {"version 5", Patch(golden, Enc([](TGolden& g) { g.Raw("ZofrinDB").Int(4); }),
                          Enc([](TGolden& g) { g.Raw("ZofrinDB").Int(5); })),
       u"#15498"},
      {"version 0", Patch(golden, Enc([](TGolden& g) { g.Raw("ZofrinDB").Int(4); }),
                          Enc([](TGolden& g) { g.Raw("ZofrinDB").Int(0); })),
       u"#15498"},
      {"unknown stream class", Patch(golden, Enc([](TGolden& g) { g.Str("TzfBaseStreamDescriptor"); }),
                                     Enc([](TGolden& g) { g.Str("TzfBaseStreamDescriptoX"); })),
       u"#15499"},
      {"record class in the stream place",
       Patch(golden, Enc([](TGolden& g) { g.Str("TzfBaseStreamDescriptor"); }),
             Enc([](TGolden& g) { g.Str("TzfBaseRecordDescriptor"); })),
       u"#15499"},
      {"fields class of another kind", Patch(golden, Enc([](TGolden& g) { g.Str("TzfFieldsDescriptor"); }),
                                             Enc([](TGolden& g) { g.Str("TzfTablesDescriptor"); })),
       u"#15499"},
      {"files not present", Patch(golden, Enc([](TGolden& g) { g.Ident("FilesDescriptor").Bool(true); }),
                                  Enc([](TGolden& g) { g.Ident("FilesDescriptor").Bool(false); })),
       u"#15498"},
      {"a Boolean that is no Boolean",
       Patch(golden, Enc([](TGolden& g) { g.Ident("BlobDescriptor").Bool(false); }),
             Enc([](TGolden& g) { g.Ident("BlobDescriptor").Byte(vaNil); })),
       u"#15498"},
      {"wrong closing ident", Patch(golden, Enc([](TGolden& g) { g.Ident("CurrentID"); }),
                                    Enc([](TGolden& g) { g.Ident("CurrentIX"); })),
       u"#15498"},
      {"huge field count", Patch(golden, Enc([](TGolden& g) { g.Header(1).Int(2).Int(3); }),
                                 Enc([](TGolden& g) { g.Header(1).Int(2).Byte(vaInt8).Byte(0x7F); })),
       u"#15498"},
      {"negative custom count",
       Patch(golden, Enc([](TGolden& g) { g.Str("TzfCustomDescsDescriptor").Header(2).Int(1).Int(0); }),
             Enc([](TGolden& g) { g.Str("TzfCustomDescsDescriptor").Header(2).Int(1).Int(-1); })),
       u"#15498"},
      {"string length beyond the end",
       Patch(golden, Enc([](TGolden& g) { g.Str("ID must be positive"); }),
             Enc([](TGolden& g) { g.Byte(vaLString).Byte(0xFF).Byte(0xFF).Byte(0xFF).Byte(0x7F).Raw("must be positive"); })),
       u"#15498"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TzfDataDictionary dict;
    const UnicodeString outcome = Outcome([&] { Read(dict, c.bytes); });
    EXPECT_NE(outcome.find(c.code), UnicodeString::npos) << rtl::Utf16ToUtf8(outcome);
    EXPECT_EQ(dict.tdFieldsDescriptor->FieldCount, 0);
  }
}

// A dictionary whose tables nest aDepth deep, as a stream.
std::vector<uint8_t> NestedTablesStream(int aDepth) {
  TzfDataDictionary dict;
  dict.tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  TzfBaseTableDescriptor* table = &dict;
  for (int i = 0; i < aDepth; ++i) {
    TzfNestedTableDescriptor* nested = table->tdTablesDescriptor->AddTable(u"N", nullptr);
    nested->tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
    nested->AddRecordDescriptor(nullptr);
    table = nested;
  }
  return Write(dict, zfEngineVersion);
}

TEST_F(DataDictionaryTest, RunawayNestingIsRefused) {
  TzfDataDictionary dict;
  EXPECT_EQ(Outcome([&] { Read(dict, NestedTablesStream(4)); }), u"ok");
  EXPECT_EQ(dict.GetChild(u"N:N:N:N")->btdFullName(), u"T:N:N:N:N");
  EXPECT_NE(Outcome([&] { Read(dict, NestedTablesStream(200)); }).find(u"#15498"), UnicodeString::npos);
}

// ---- Referential integrity in the stream ----

// A "RefIntegrity" part with one reference to the table itself through field 0 and a cascade
// delete, as its stream tables give it; aSourceVersion is the source's base-part version.
std::vector<uint8_t> RefIntPart(int32_t aSourceVersion) {
  TGolden g;
  g.Header(0).Int(1).Byte(vaList);
  g.Str("TzfReferenceDescriptor").Str("TzfCloneTargetCursorDescriptor");
  g.Header(0).Int(1);
  g.Header(0).Int(1).Int(1);  // target: base part, clone part
  g.Str("ByKey");
  g.Byte(vaList).Str("TzfFieldSourceDescriptor").Header(0).Int(aSourceVersion);
  if (aSourceVersion >= 2) g.Bool(true);
  g.Int(1).Int(0).Byte(vaNull);
  g.Byte(vaList).Str("TzfCascadeDeleteActionDescriptor").Header(0).Int(2).Bool(false).Int(1).Byte(vaNull);
  g.Byte(vaNull);
  return g.Bytes;
}

TEST_F(DataDictionaryTest, RefIntegrityPartMatchesHandAssembledBytes) {
  // Outside a dictionary every item has ID 0.
  TzfRefIntegrityDescriptor refInt(nullptr, u"RefIntegrity");
  TzfReferenceDescriptor* ref = refInt.AddReference(nullptr, &TzfCloneTargetCursorDescriptor::ClassInfo());
  ref->SetTargetIndex(u"ByKey");
  auto* source = dynamic_cast<TzfFieldSourceDescriptor*>(ref->AddSource());
  source->SetFieldNumber(0);
  source->SetSkipOnNull(true);
  ref->AddAction(&TzfCascadeDeleteActionDescriptor::ClassInfo());
  TzfMemoryStream out(-1);
  {
    TzfWriter writer(out);
    refInt.SaveToWriter(writer, zfEngineVersion);
  }
  EXPECT_EQ(StreamBytes(out), RefIntPart(2));

  for (int32_t version : {1, 2, 3}) {
    SCOPED_TRACE(version);
    TzfRefIntegrityDescriptor read(nullptr, u"RefIntegrity");
    TzfMemoryStream in(-1);
    LoadBytes(in, RefIntPart(version));
    TzfReader reader(in);
    const UnicodeString outcome = Outcome([&] { read.LoadFromReader(reader); });
    if (version == 3) {
      EXPECT_EQ(outcome, u"!EzfFieldSourceDescriptorException #15498: ZofrinDB: Incompatible stream [$3C8A/15498]");
    } else {
      EXPECT_EQ(outcome, u"ok");
      EXPECT_TRUE(read.IsEqual(&refInt));
      // Version 1 carries no skip-on-null (which equality does not compare).
      EXPECT_EQ(read.ridReferences[0]->rdSources[0]->bsdSkipOnNull, version == 2);
    }
  }
}

TEST_F(DataDictionaryTest, RelativeTargetsResolveFromTheirTableOrTheRoot) {
  TzfDataDictionary dict;
  dict.ddBaseName = u"T";
  dict.tdFieldsDescriptor->AddField(u"F", u"", zftInt32, 0, 0, false, nullptr);
  auto nested = [](TzfBaseTableDescriptor& aParent, const char16_t* aName) {
    TzfNestedTableDescriptor* t = aParent.tdTablesDescriptor->AddTable(aName, nullptr);
    t->tdFieldsDescriptor->AddField(u"F", u"", zftInt32, 0, 0, false, nullptr);
    t->AddRecordDescriptor(nullptr);
    return t;
  };
  TzfNestedTableDescriptor* sub = nested(dict, u"Sub");
  nested(*sub, u"X");
  nested(dict, u"X");
  auto* refInt = dynamic_cast<TzfRefIntegrityDescriptor*>(
      sub->tdCustomDescsDescriptor->AddCustom(u"RefIntegrity", &TzfRefIntegrityDescriptor::ClassInfo()));
  auto* target = dynamic_cast<TzfRelativeTargetCursorDescriptor*>(
      refInt->AddReference(nullptr, &TzfRelativeTargetCursorDescriptor::ClassInfo())->rdTargetCursor.get());
  target->SetTableName(u".:X");
  EXPECT_EQ(target->ReferencedTableName(), u"T:Sub:X");
  target->SetTableName(u"X");
  EXPECT_EQ(target->ReferencedTableName(), u"T:X");
  target->SetTableName(u"..:Sub");
  EXPECT_EQ(target->ReferencedTableName(), u"T:Sub");
  EXPECT_EQ(zfGetRefIntegrityDescriptor(sub), refInt);
  EXPECT_EQ(zfGetRefIntegrityDescriptor(&dict), nullptr);
}

// ---- Copies ----

TEST_F(DataDictionaryTest, AssignCopiesAWholeDictionaryWithItsIDs) {
  auto source = SmallTable();
  source->ddBaseName = u"Source";
  TzfDataDictionary copy;
  copy.Assign(source.get());
  EXPECT_TRUE(copy.IsEqual(source.get()));
  EXPECT_EQ(copy.ddCurrentID, source->ddCurrentID);
  EXPECT_EQ(copy.ddBaseName, u"Source");
  EXPECT_EQ(copy.tdFieldsDescriptor->FieldDescriptor[2]->diID, source->tdFieldsDescriptor->FieldDescriptor[2]->diID);

  // Assigned from itself, a dictionary stays what it was, its base name included.
  source->Assign(source.get());
  EXPECT_TRUE(source->IsEqual(&copy));
  EXPECT_EQ(source->ddBaseName, u"Source");
}

TEST_F(DataDictionaryTest, AssignOnlyFieldsCopiesTheFieldStructureOnly) {
  auto source = SmallTable();
  TzfNestedTableDescriptor* nested = source->tdTablesDescriptor->AddTable(u"Sub", nullptr);
  nested->tdFieldsDescriptor->AddField(u"X", u"", zftInt16, 0, 0, true, nullptr);
  nested->AddRecordDescriptor(nullptr);

  TzfDataDictionary failed;
  failed.AssignOnlyFields(source.get());
  EXPECT_FALSE(failed.tdIndicesDescriptor);
  ASSERT_TRUE(failed.ldiLocaleDescriptor);
  EXPECT_TRUE(failed.ldiLocaleDescriptor->IsEqual(source->ldiLocaleDescriptor.get()));
  ASSERT_EQ(failed.tdFieldsDescriptor->FieldCount, 3);
  for (int32_t i = 0; i < 3; ++i) {
    const TzfFieldDescriptor& f = *failed.tdFieldsDescriptor->FieldDescriptor[i];
    const TzfFieldDescriptor& s = *source->tdFieldsDescriptor->FieldDescriptor[i];
    EXPECT_EQ(f.fdName, s.fdName);
    EXPECT_EQ(f.fdType, s.fdType);
    EXPECT_FALSE(f.fdRequired);
    EXPECT_FALSE(f.fdDefaultValue);
    EXPECT_FALSE(f.fdValidations);
  }
  auto* record = dynamic_cast<TzfHeapRecordDescriptor*>(failed.tdRecordDescriptor.get());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->brdRecordEngine, u"Variable");
  ASSERT_TRUE(record->hrdRecordCompressionDescriptor);
  EXPECT_EQ(record->hrdRecordCompressionDescriptor->brcdRecordCompressionEngine, u"Smart");
  TzfBaseTableDescriptor* sub = failed.GetChild(u"Sub");
  EXPECT_FALSE(sub->tdFieldsDescriptor->FieldDescriptor[0]->fdRequired);
  EXPECT_TRUE(sub->tdIndicesDescriptor == nullptr);
  // The copy is a valid table that writes and reads back.
  failed.CheckValid(true);
  TzfDataDictionary read;
  Read(read, Write(failed, zfEngineVersion));
  EXPECT_TRUE(read.IsEqual(&failed));
}

}  // namespace
}  // namespace zf
