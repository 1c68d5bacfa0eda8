// The simple stream engine: the header section, chains of "ZFSH" blocks, the stream map, named
// streams and "DICT", and chains and maps damaged on purpose.
#include <gtest/gtest.h>

#include <string>

#include "foundation/zfllStreams.h"
#include "platform/rtl/rtlStringList.h"
#include "storage/zfseHeaderAccess.h"
#include "storage/zfseStreamEngineSimple.h"
#include "zfsrEngineTestSupport.h"

namespace zf::test {
namespace {

std::string Bytes(size_t aCount, char aFirst = 'a') {
  std::string s(aCount, '\0');
  for (size_t i = 0; i < aCount; ++i) s[i] = char(aFirst + i % 23);
  return s;
}

std::string ReadAll(TzfMemoryStream& aStream) {
  return std::string(static_cast<const char*>(aStream.Memory()), size_t(aStream.Size()));
}

class StreamEngineTest : public TEngineTest {
 protected:
  void SetUp() override {
    TEngineTest::SetUp();
    File = NewTable();
    Access = std::make_unique<TzfBlockAccess>(File, nullptr, u"engine_test", 0);
    TTestTrans t(BM.get());
    Engine = TzfBaseStreamEngine::CreateEngine(nullptr, Access.get(), &t);
    t.Commit();
  }
  void TearDown() override {
    Engine.reset();
    Access.reset();
    TEngineTest::TearDown();
  }

  // Writes a named stream in a transaction of its own.
  void Write(const UnicodeString& aName, const std::string& aContent) {
    TTestTrans t(BM.get());
    TzfMemoryStream ms;
    ms.WriteBuffer(aContent.data(), int64_t(aContent.size()));
    ASSERT_EQ(Engine->WriteNamedStream(&t, aName, ms), 0u);
    t.Commit();
  }
  uint32_t Read(const UnicodeString& aName, std::string& aContent) {
    TzfMemoryStream ms;
    const uint32_t r = Engine->ReadNamedStream(nullptr, aName, ms);
    aContent = ReadAll(ms);
    return r;
  }
  TzfSimpleStreamEngine& Simple() { return dynamic_cast<TzfSimpleStreamEngine&>(*Engine); }
  uint32_t Word(uint32_t aOffset) { return zfGetLE32(Committed(File, 0).data() + Simple().seHeaderSection + aOffset); }
  uint32_t MapEntry(const UnicodeString& aName) {
    for (const auto& [n, b] : Simple().ReadMap(nullptr))
      if (n == aName) return b;
    return 0;
  }

  TMemFile* File = nullptr;
  std::unique_ptr<TzfBlockAccess> Access;
  std::unique_ptr<TzfBaseStreamEngine> Engine;
};

TEST_F(StreamEngineTest, HeaderSectionAndBlocksAsStored) {
  const std::vector<uint8_t> block0 = Committed(File, 0);
  const uint32_t usable = File->fiBlockSizeBytes;
  ASSERT_EQ(usable, 4092u);
  EXPECT_EQ(zf2xFindHeaderSection(block0.data(), usable, "Stream", 8), Simple().seHeaderSection);
  EXPECT_EQ(Word(0), 0u);
  EXPECT_EQ(Word(4), 0u);

  Write(u"A", "hello");
  const uint32_t user = MapEntry(u"A");
  const uint32_t map = Word(4);
  ASSERT_NE(user, 0u);
  ASSERT_NE(map, 0u);
  EXPECT_EQ(Word(0), 0u) << "no dictionary stream";

  // The stream block, cell by cell.
  std::vector<uint8_t> want(usable, 0);
  std::memcpy(want.data(), "ZFSH", 4);
  zfPutLE32(want.data() + 4, user);
  zfPutLE32(want.data() + 16, 0xFFFFFFFF);
  std::memcpy(want.data() + 20, "USER", 4);
  zfPutLE32(want.data() + 24, 5);
  zfPutLE32(want.data() + 28, user);
  std::memcpy(want.data() + 32, "hello", 5);
  std::vector<uint8_t> got = Committed(File, user);
  got.resize(usable);
  std::memset(got.data() + 8, 0, 8);  // the LSN the cache stamps
  EXPECT_EQ(got, want);

  // The map block: one entry "A" -> user.
  std::vector<uint8_t> wantMap(usable, 0);
  std::memcpy(wantMap.data(), "ZFSH", 4);
  zfPutLE32(wantMap.data() + 4, map);
  zfPutLE32(wantMap.data() + 16, 0xFFFFFFFF);
  std::memcpy(wantMap.data() + 20, "SMAP", 4);
  zfPutLE32(wantMap.data() + 24, 10);
  zfPutLE32(wantMap.data() + 28, map);
  const uint8_t entry[] = {1, 0, 0, 0, 1, 'A'};
  std::memcpy(wantMap.data() + 32, entry, sizeof(entry));
  zfPutLE32(wantMap.data() + 38, user);
  got = Committed(File, map);
  got.resize(usable);
  std::memset(got.data() + 8, 0, 8);
  EXPECT_EQ(got, wantMap);
  // The owner ID of both blocks is the engine's (0 without a descriptor).
  EXPECT_EQ(zfGetLE32(Committed(File, user).data() + usable), 0u);
}

TEST_F(StreamEngineTest, LengthsAndTheBlocksTheyTake) {
  // 4092 usable bytes hold 4060 data bytes per block.
  struct Case {
    size_t Length;
    uint32_t Blocks;
  };
  const Case cases[] = {{0, 1}, {1, 1}, {4060, 1}, {4061, 2}, {3 * 4060, 3}, {3 * 4060 + 1, 4}};
  int serial = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Length);
    // One new stream first fixes the map's size, so the second stream's blocks can be counted.
    const UnicodeString name = u"S" + rtl::IntToStr(serial++);
    const uint32_t before = File->fiUsedBlocks;
    Write(name, Bytes(c.Length));
    const uint32_t mapBlocks = serial == 1 ? 1 : 0;
    EXPECT_EQ(File->fiUsedBlocks - before, c.Blocks + mapBlocks);
    std::string back;
    ASSERT_EQ(Read(name, back), 0u);
    EXPECT_EQ(back, Bytes(c.Length));
  }
}

TEST_F(StreamEngineTest, RewriteShorterKeepsTheFirstBlockAndFreesTheRest) {
  Write(u"Big", Bytes(3 * 4060));
  const uint32_t first = MapEntry(u"Big");
  const uint32_t used = File->fiUsedBlocks;
  const uint32_t freeBefore = zfGetLE32(Committed(File, 0).data() + kzfHdrFreeCount);
  Write(u"big", "short");
  EXPECT_EQ(MapEntry(u"Big"), first) << "the map entry keeps its name and block";
  EXPECT_EQ(Simple().ReadMap(nullptr).size(), 1u);
  EXPECT_EQ(File->fiUsedBlocks, used);
  EXPECT_EQ(zfGetLE32(Committed(File, 0).data() + kzfHdrFreeCount), freeBefore + 2);
  std::string back;
  ASSERT_EQ(Read(u"BIG", back), 0u);
  EXPECT_EQ(back, "short");
  // Stale bytes stay behind the new length.
  EXPECT_EQ(Committed(File, first)[32 + 5], uint8_t(Bytes(10)[5]));
}

TEST_F(StreamEngineTest, DictionaryStreamLivesInTheHeaderSectionUnderAnySpelling) {
  Write(u"b", "1");
  Write(u"A", "2");
  Write(u"c", "3");
  Write(u"dict", "dictionary bytes");
  EXPECT_NE(Word(0), 0u);
  std::string back;
  ASSERT_EQ(Read(u"DICT", back), 0u);
  EXPECT_EQ(back, "dictionary bytes");
  ASSERT_EQ(Read(u"Dict", back), 0u);
  EXPECT_EQ(Committed(File, Word(0)).data()[20], 'D');
  rtl::TStringList list;
  list.Add(u"stale");
  EXPECT_EQ(Engine->GetNamedStreamList(nullptr, list), 0u);
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Get(0), u"A");
  EXPECT_EQ(list.Get(1), u"b");
  EXPECT_EQ(list.Get(2), u"c");
  EXPECT_EQ(list.Get(3), u"DICT");
  uint32_t count = 0;
  EXPECT_EQ(Engine->GetNamedStreamCount(nullptr, count), 0u);
  EXPECT_EQ(count, 3u);
  // Stored in the order A, b, c.
  const TzfStreamMap map = Simple().ReadMap(nullptr);
  ASSERT_EQ(map.size(), 3u);
  EXPECT_EQ(map[0].first, u"A");
  EXPECT_EQ(map[2].first, u"c");
  // Deleting the dictionary clears its word.
  TTestTrans t(BM.get());
  EXPECT_EQ(Engine->DeleteNamedStream(&t, u"DiCt"), 0u);
  t.Commit();
  EXPECT_EQ(Word(0), 0u);
  EXPECT_EQ(Read(u"DICT", back), zfErrObjNotFound);
}

TEST_F(StreamEngineTest, MissingStreamsAnswer8712AndLeaveTheStreamAlone) {
  TzfMemoryStream ms;
  ms.WriteBuffer("keep", 4);
  EXPECT_EQ(Engine->ReadNamedStream(nullptr, u"none", ms), zfErrObjNotFound);
  EXPECT_EQ(Engine->ReadNamedStream(nullptr, u"DICT", ms), zfErrObjNotFound);
  EXPECT_EQ(ReadAll(ms), "keep");
  TTestTrans t(BM.get());
  EXPECT_EQ(Engine->DeleteNamedStream(&t, u"none"), zfErrObjNotFound);
  EXPECT_EQ(Engine->DeleteNamedStream(&t, u"DICT"), zfErrObjNotFound);
  t.Commit();
}

TEST_F(StreamEngineTest, DeletingTheLastNamedStreamDeletesTheMap) {
  Write(u"one", Bytes(5000));
  Write(u"two", "x");
  const uint32_t used = File->fiUsedBlocks;
  TTestTrans t(BM.get());
  EXPECT_EQ(Engine->DeleteNamedStream(&t, u"ONE"), 0u);
  EXPECT_EQ(Engine->DeleteNamedStream(&t, u"two"), 0u);
  t.Commit();
  EXPECT_EQ(Word(4), 0u);
  EXPECT_EQ(zfGetLE32(Committed(File, 0).data() + kzfHdrFreeCount), 4u) << "2 + 1 stream blocks and the map block";
  EXPECT_EQ(File->fiUsedBlocks, used);
  uint32_t count = 9;
  EXPECT_EQ(Engine->GetNamedStreamCount(nullptr, count), 0u);
  EXPECT_EQ(count, 0u);
}

TEST_F(StreamEngineTest, RolledBackWritesLeaveNothing) {
  Write(u"kept", "old");
  {
    TTestTrans t(BM.get());
    TzfMemoryStream ms;
    ms.WriteBuffer("new", 3);
    ASSERT_EQ(Engine->WriteNamedStream(&t, u"kept", ms), 0u);
    ASSERT_EQ(Engine->WriteNamedStream(&t, u"added", ms), 0u);
    t.Rollback();
  }
  std::string back;
  ASSERT_EQ(Read(u"kept", back), 0u);
  EXPECT_EQ(back, "old");
  EXPECT_EQ(Read(u"added", back), zfErrObjNotFound);
}

TEST_F(StreamEngineTest, NameTooLongForTheMapIsRefusedBeforeAnythingIsWritten) {
  const uint32_t used = File->fiUsedBlocks;
  TTestTrans t(BM.get());
  TzfMemoryStream ms;
  EXPECT_THROW(Engine->WriteNamedStream(&t, UnicodeString(256, u'n'), ms), rtl::ERangeError);
  t.Rollback();
  EXPECT_EQ(File->fiUsedBlocks, used);
}

// ---- damaged chains ----

struct DamageCase {
  const char* Name;
  // Damages the chain of stream "S" (blocks: its first three), given the other stream's first.
  std::function<void(StreamEngineTest&, TMemFile*, const std::vector<uint32_t>&, uint32_t)> Damage;
  uint32_t ReadCode;
  // What deleting the damaged chain answers: damage to the length alone does not stop it.
  uint32_t DeleteCode;
};

class StreamDamageTest : public StreamEngineTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(StreamDamageTest, ReadAndDeleteRefuseWithACodeAndFreeNothingElse) {
  Write(u"Other", "other stream");
  Write(u"S", Bytes(3 * 4060));
  const uint32_t other = MapEntry(u"Other");
  std::vector<uint32_t> chain{MapEntry(u"S")};
  for (int i = 0; i < 2; ++i) chain.push_back(zfGetLE32(Committed(File, chain.back()).data() + 16));
  GetParam().Damage(*this, File, chain, other);

  TzfMemoryStream ms;
  ms.WriteBuffer("untouched", 9);
  EXPECT_EQ(RaisedCode([&] { Engine->ReadNamedStream(nullptr, u"S", ms); }), GetParam().ReadCode);
  EXPECT_EQ(ms.Size(), 0) << "a failed read leaves an empty stream";
  std::string back;
  TTestTrans t(BM.get());
  EXPECT_EQ(RaisedCode([&] { Engine->DeleteNamedStream(&t, u"S"); }), GetParam().DeleteCode);
  t.Rollback();
  ASSERT_EQ(Read(u"Other", back), 0u);
  EXPECT_EQ(back, "other stream");
}

INSTANTIATE_TEST_SUITE_P(
    Chains, StreamDamageTest,
    ::testing::Values(
        DamageCase{"NextIsBlockZero",
                   [](StreamEngineTest& t, TMemFile* f, const std::vector<uint32_t>& c, uint32_t) { t.PokeLE32(f, c[0], 16, 0); },
                   zfErrBlockNumberOutOfRange, zfErrBlockNumberOutOfRange},
        DamageCase{"NextBeyondTheFile",
                   [](StreamEngineTest& t, TMemFile* f, const std::vector<uint32_t>& c, uint32_t) {
                     t.PokeLE32(f, c[1], 16, 100000);
                   },
                   zfErrBlockNumberOutOfRange, zfErrBlockNumberOutOfRange},
        DamageCase{"NextIsNotAStreamBlock",
                   [](StreamEngineTest& t, TMemFile* f, const std::vector<uint32_t>& c, uint32_t) {
                     t.PokeBytes(f, c[2], 0, {'T', 'E', 'S', 'T'});
                   },
                   zfErrNotAStreamBlock, zfErrNotAStreamBlock},
        DamageCase{"NextBelongsToAnotherStream",
                   [](StreamEngineTest& t, TMemFile* f, const std::vector<uint32_t>& c, uint32_t o) {
                     t.PokeLE32(f, c[1], 16, o);
                   },
                   zfErrNotAStreamBlock, zfErrNotAStreamBlock},
        DamageCase{"ChainRunsInACircle",
                   [](StreamEngineTest& t, TMemFile* f, const std::vector<uint32_t>& c, uint32_t) {
                     t.PokeLE32(f, c[2], 16, c[1]);
                     t.PokeLE32(f, c[0], 24, 5 * 4060);  // longer, so a read follows the circle
                   },
                   zfErrNotAStreamBlock, zfErrNotAStreamBlock},
        DamageCase{"ChainEndsBeforeItsLength",
                   [](StreamEngineTest& t, TMemFile* f, const std::vector<uint32_t>& c, uint32_t) {
                     t.PokeLE32(f, c[1], 16, 0xFFFFFFFF);
                   },
                   zfErrNotAStreamBlock, 0},
        DamageCase{"LengthBeyondTheFile",
                   [](StreamEngineTest& t, TMemFile* f, const std::vector<uint32_t>& c, uint32_t) {
                     t.PokeLE32(f, c[0], 24, 0xFFFFFFFF);
                   },
                   zfErrNotAStreamBlock, 0}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

// Deleting follows the chain, not the length: a chain whose only damage is its length is freed
// whole.
TEST_F(StreamEngineTest, ChainWithAWrongLengthIsStillDeletedWhole) {
  Write(u"S", Bytes(2 * 4060));
  const uint32_t first = MapEntry(u"S");
  PokeLE32(File, first, 24, 0xFFFFFFFF);
  const uint32_t freeBefore = zfGetLE32(Committed(File, 0).data() + kzfHdrFreeCount);
  TTestTrans t(BM.get());
  EXPECT_EQ(Engine->DeleteNamedStream(&t, u"S"), 0u);
  t.Commit();
  EXPECT_EQ(zfGetLE32(Committed(File, 0).data() + kzfHdrFreeCount), freeBefore + 3) << "two blocks and the map";
}

TEST_F(StreamEngineTest, DamagedMapsAreRefusedWith8962) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Map;
  };
  auto le = [](uint32_t v) { return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; };
  auto cat = [](std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  const Case cases[] = {
      {"short", {1, 0}},
      {"count beyond bytes", cat({le(0x40000000), {1, 'A'}, le(5)})},
      {"entry beyond bytes", cat({le(1), {9, 'A'}, le(5)})},
      {"name twice", cat({le(2), {1, 'a'}, le(5), {1, 'A'}, le(6)})},
      {"dictionary in the map", cat({le(1), {4, 'D', 'I', 'C', 'T'}, le(5)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string s;
    const uint32_t code = RaisedCode([&] {
      zfParseStreamMap(c.Map.data(), c.Map.size(), u"f");
    });
    EXPECT_EQ(code, zfErrFileCorrupt);
  }
  // Through the engine: a map chain whose count says more than it holds.
  Write(u"A", "a");
  PokeLE32(File, Word(4), 32, 1000);
  std::string back;
  EXPECT_EQ(RaisedCode([&] { Read(u"A", back); }), zfErrFileCorrupt);
}

TEST(StreamMapTest, UnsortedStoredEntriesAreReadSorted) {
  const uint8_t map[] = {2, 0, 0, 0, 1, 'b', 7, 0, 0, 0, 1, 'A', 9, 0, 0, 0};
  const TzfStreamMap m = zfParseStreamMap(map, sizeof(map), u"f");
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0], TzfStreamMapEntry(u"A", 9));
  EXPECT_EQ(m[1], TzfStreamMapEntry(u"b", 7));
  const std::string built = zfBuildStreamMap(m);
  const uint8_t want[] = {2, 0, 0, 0, 1, 'A', 9, 0, 0, 0, 1, 'b', 7, 0, 0, 0};
  EXPECT_EQ(built, std::string(reinterpret_cast<const char*>(want), sizeof(want)));
}

TEST_F(StreamEngineTest, UnknownStreamEngineNameInTheHeader) {
  File->fiStreamEngineName = u"Nope";
  std::unique_ptr<TzfBaseStreamEngine> e;
  EXPECT_EQ(StorageOutcome([&] { e = TzfBaseStreamEngine::CreateEngine(nullptr, Access.get(), nullptr); }),
            u"#15503: ZofrinDB: Unknown stream engine: \"Nope\" [$3C8F/15503]");
  File->fiStreamEngineName = u"ZF1XDEFAULT";
  e = TzfBaseStreamEngine::CreateEngine(nullptr, Access.get(), nullptr);
  EXPECT_EQ(dynamic_cast<TzfSimpleStreamEngine*>(e.get())->seHeaderSection, Simple().seHeaderSection);
}

}  // namespace
}  // namespace zf::test
