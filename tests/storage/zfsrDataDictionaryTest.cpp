// The server-side dictionary in a table file: a table built from a dictionary with its "DICT"
// stream, named streams and an auto-increment counter, closed and opened again; the storage checks
// and usable block sizes; the file-name routines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllStreams.h"
#include "storage/zfsrDataDictionary.h"
#include "storage/zfsrFileHandling.h"
#include "storage/zfseAutoIncEngineSimple.h"
#include "storage/zfseStreamEngineSimple.h"
#include "zfsrEngineTestSupport.h"

namespace zf::test {
namespace {

std::string Content(rtl::TStream& aStream) {
  std::string s(size_t(aStream.GetSize()), '\0');
  aStream.SetPosition(0);
  aStream.ReadBuffer(s.data(), int64_t(s.size()));
  return s;
}

class ServerDataDictTest : public TEngineTest {};

TEST_F(ServerDataDictTest, TableBuiltFromADictionaryReadsBackEqual) {
  TempDir dir;
  const UnicodeString name = dir.File("orders.dvl7");
  TzfServerDataDict dict;
  dict.tdFieldsDescriptor->AddField(u"ID", u"", zftAutoInc, 0, 0, false, nullptr);
  dict.tdFieldsDescriptor->AddField(u"Name", u"", zftWideString, 20, 0, false, nullptr);
  auto* ai = static_cast<TzfAdvAutoIncDescriptor*>(dict.AddAutoIncDescriptor(&TzfAdvAutoIncDescriptor::ClassInfo()));
  ai->aaidInitialValue = 1000;
  ai->aaidStep = 5;
  const std::string notes(5000, 'n');
  std::string expectedDict;
  {
    std::unique_ptr<TzfBaseFile> f = TzfBaseFile::Alloc(true, name, BM.get());
    f->fiZofrinVersion = 30900;
    f->fiMaxBlocks = 1u << 20;
    f->fiStreamEngineName = dict.ddStreamDescriptor->bsdStreamEngine;
    f->OpenFile(omReadWrite, smExclusive, false, true);
    TTestTrans t(BM.get());
    ASSERT_EQ(f->AddHeader(&t, {}, dict.HeaderSignature), 0u);
    TzfBlockAccess access(f.get(), nullptr, u"orders", 0);
    auto streams = TzfBaseStreamEngine::CreateEngine(dict, &access, &t);
    dict.WriteToFile(*streams, &t, 30900);
    EXPECT_TRUE(dict.ddReadOnly);
    EXPECT_EQ(dict.ddBaseName, u"orders");
    TzfMemoryStream own;
    dict.WriteToStream(own, 30900);
    expectedDict = Content(own);
    auto counter = TzfBaseAutoIncEngine::CreateEngine(dict, {&access}, &t);
    for (uint32_t v : {1000u, 1005u, 1010u}) EXPECT_EQ(counter->NextAutoIncValue(&t), v);
    TzfMemoryStream ms;
    ms.WriteBuffer("Orders", 6);
    ASSERT_EQ(streams->WriteNamedStream(&t, u"$TableName", ms), 0u);
    TzfMemoryStream big;
    big.WriteBuffer(notes.data(), int64_t(notes.size()));
    ASSERT_EQ(streams->WriteNamedStream(&t, u"Notes", big), 0u);
    t.Commit();
    BM->RemoveFile(f.get());
    f->CloseFile();
  }

  std::unique_ptr<TzfBaseFile> g = TzfBaseFile::Alloc(true, name, BM.get());
  g->OpenFile(omReadWrite, smExclusive, false, false);
  TzfReleaseMethod rm;
  PzfBlock b0 = nullptr;
  bool ro = false;
  ASSERT_EQ(BM->AddFile(g.get(), nullptr, {}, false, rm, b0, ro), 0u);
  rm(b0);
  {
    TzfBlockAccess access(g.get(), nullptr, u"orders", 0);
    // The root table's order: the engine without a descriptor, the dictionary, then Initialize.
    auto streams = TzfBaseStreamEngine::CreateEngine(nullptr, &access, nullptr);
    TzfServerDataDict back;
    back.ReadFromFile(*streams, nullptr);
    streams->Initialize(back);
    EXPECT_EQ(streams->bseID, back.ddStreamDescriptor->diID);
    EXPECT_TRUE(back.IsEqual(&dict));
    EXPECT_TRUE(back.ddReadOnly);
    EXPECT_EQ(back.ddBaseName, u"orders");
    EXPECT_EQ(back.HeaderSignature, zfHeaderSignature2);
    TzfMemoryStream stored;
    ASSERT_EQ(streams->ReadNamedStream(nullptr, u"DICT", stored), 0u);
    EXPECT_EQ(Content(stored), expectedDict) << "the stored bytes are the dictionary's own stream";
    rtl::TStringList list;
    ASSERT_EQ(streams->GetNamedStreamList(nullptr, list), 0u);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Get(0), u"$TableName");
    EXPECT_EQ(list.Get(1), u"Notes");
    EXPECT_EQ(list.Get(2), u"DICT");
    TzfMemoryStream ms;
    ASSERT_EQ(streams->ReadNamedStream(nullptr, u"notes", ms), 0u);
    EXPECT_EQ(Content(ms), notes);
    auto counter = TzfBaseAutoIncEngine::CreateEngine(back, {&access}, nullptr);
    EXPECT_EQ(counter->ReadAutoIncValue(nullptr), 1010u);
    TTestTrans t(BM.get());
    EXPECT_EQ(counter->NextAutoIncValue(&t), 1015u);
    t.Rollback();
  }
  BM->RemoveFile(g.get());
  g->CloseFile();
}

TEST_F(ServerDataDictTest, MissingDictionaryStreamIs9992WithTheFileName) {
  TMemFile* f = NewTable(u"/tmp/nodict.dvl7");
  TzfBlockAccess access(f, nullptr, u"nodict", 0);
  TTestTrans t(BM.get());
  auto streams = TzfBaseStreamEngine::CreateEngine(nullptr, &access, &t);
  t.Commit();
  TzfServerDataDict d;
  EXPECT_EQ(StorageOutcome([&] { d.ReadFromFile(*streams, nullptr); }),
            u"#9992: ZofrinDB: The data dictionary is missing (/tmp/nodict.dvl7) [$2708/9992]");
}

TEST_F(ServerDataDictTest, WriteToFileWritesNothingWhenTheCheckFails) {
  TMemFile* f = NewTable(u"/tmp/bad.dvl7");
  TzfBlockAccess access(f, nullptr, u"bad", 0);
  TzfServerDataDict d;
  d.tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  d.AddAutoIncDescriptor()->SetAutoIncEngine(u"Nope");
  TTestTrans t(BM.get());
  auto streams = TzfBaseStreamEngine::CreateEngine(nullptr, &access, &t);
  EXPECT_EQ(RaisedCode([&] { d.WriteToFile(*streams, &t, 30900); }), zfErrSubEngineNotSupported);
  TzfMemoryStream ms;
  EXPECT_EQ(streams->ReadNamedStream(&t, u"DICT", ms), zfErrObjNotFound);
  EXPECT_FALSE(d.ddReadOnly);
  t.Commit();
}

TEST_F(ServerDataDictTest, UsableBlockSizeAndHeaderFormatChecks) {
  TzfServerDataDict d;
  d.tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  EXPECT_EQ(d.UsableBlockSize(TzfBlockSize::zfbs4k), 4092u);
  EXPECT_EQ(d.UsableBlockSize(TzfBlockSize::zfbs64k), 65532u);
  static const TzfEncryptionEngineClass reserve16{
      u"TReserve16", nullptr, [](TzfBlockSize) -> uint32_t { return 16; }, [] { return 0u; }, nullptr, nullptr, nullptr};
  TzfBaseEncryptionEngine::Register(reserve16, u"Reserve16", false, 0);
  d.EncryptionEngine = u"Reserve16";
  EXPECT_EQ(d.UsableBlockSize(TzfBlockSize::zfbs4k), 4076u);
  TzfBaseEncryptionEngine::Unregister(reserve16);
  d.EncryptionEngine.clear();
  d.HeaderSignature = zfHeaderSignature1;
  EXPECT_EQ(d.UsableBlockSize(TzfBlockSize::zfbs4k), 4096u);
  d.HeaderSignature = {'N', 'O', 'P', 'E'};
  EXPECT_EQ(RaisedCode([&] { d.CheckValid(false); }), zfErrFileHeaderAccessNotSupported);
  d.HeaderSignature = zfHeaderSignature2;
  d.CheckValid(false);
  // Equal in class to a plain dictionary, both ways.
  TzfDataDictionary plain;
  plain.tdFieldsDescriptor->AddField(u"A", u"", zftInt32, 0, 0, false, nullptr);
  EXPECT_TRUE(d.IsEqualClass(&plain));
  EXPECT_TRUE(plain.IsEqual(&d));
  EXPECT_TRUE(d.IsEqual(&plain));
  // Read-only on and off.
  d.ForceOnReadOnly();
  EXPECT_EQ(RaisedCode([&] { d.tdFieldsDescriptor->AddField(u"B", u"", zftInt32, 0, 0, false, nullptr); }),
            zfErrDictionaryReadOnly);
  d.ForceOffReadOnly();
  d.tdFieldsDescriptor->AddField(u"B", u"", zftInt32, 0, 0, false, nullptr);
}

// ---- file routines ----

TEST(FileHandlingTest, PathsAndExtensions) {
  EXPECT_EQ(zfCombinePath(u"/data", u"t.z$2"), u"/data/t.z$2");
  EXPECT_EQ(zfCombinePath(u"/data/", u"t.z$2"), u"/data/t.z$2");
  EXPECT_EQ(zfCombinePath(u"C:\\data\\", u"t.z$2"), u"C:\\data\\t.z$2");
  EXPECT_EQ(zfCombinePath(u"", u"t.z$2"), u"t.z$2");
  EXPECT_EQ(zfAddExtension(u"t", u"dvl7"), u"t.dvl7");
}

TEST(FileHandlingTest, DeleteAndMoveReportTheOperatingSystemsError) {
  TempDir dir;
  const UnicodeString a = dir.File("a.dat");
  const UnicodeString b = dir.File("b.dat");
  std::ofstream(dir.FilePath("a.dat")) << "x";
  zfMoveFile(a, b);
  EXPECT_FALSE(std::filesystem::exists(dir.FilePath("a.dat")));
  EXPECT_TRUE(std::filesystem::exists(dir.FilePath("b.dat")));
  zfDeleteFile(b);
  EXPECT_FALSE(std::filesystem::exists(dir.FilePath("b.dat")));
  try {
    zfDeleteFile(b);
    ADD_FAILURE() << "no exception";
  } catch (const EzfFileManagementException& e) {
    EXPECT_EQ(e.ErrorCode(), zfErrFileDeleteFailed);
    EXPECT_NE(e.Message().find(u"DeleteFile (\"" + b + u"\")"), UnicodeString::npos) << rtl::u8(e.Message());
  }
  EXPECT_EQ(RaisedCode([&] { zfMoveFile(a, b); }), zfErrFileRenameFailed);
}

}  // namespace
}  // namespace zf::test
