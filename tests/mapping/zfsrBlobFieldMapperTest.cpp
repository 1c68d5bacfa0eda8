// The BLOB-side mappers over cursors that keep their BLOBs in memory: plain copies, memo
// re-encoding, text fields into BLOBs and BLOB text into text fields, the no-value results, and
// the cursor failures a method answers. The same mappers between real tables are tested with the
// server (tests/server/zfsrBlobFieldMapperServerTest.cpp).
#include <gtest/gtest.h>

#include "mapping/zfsrFieldMapper.h"
#include "tests/mapping/zfsdTextMapperTestUtil.h"

namespace zf::test {
namespace {

class BlobFieldMapperTest : public MappingStarted {};

constexpr int64_t kSourceBlob = 77;
const std::string kNoBlob = "<no BLOB>";

std::string Hex(const std::string& aBytes) { return HexOf(std::vector<uint8_t>(aBytes.begin(), aBytes.end())); }

struct TBlobRun {
  TTestCursor Source, Target;
  TzfFieldDescriptor* S = nullptr;
  TzfFieldDescriptor* T = nullptr;
  std::unique_ptr<TzfBaseFieldMapper> Mapper;
  TzfMappingMethod Method;

  // A BLOB source holds BLOB kSourceBlob with content aValue (kNoBlob: number 0); a text source
  // holds the field bytes aValue.
  TBlobRun(const TField& aSource, const TField& aTarget, TAct aAct) {
    S = Source.Add(u"S", aSource.Type, aSource.Units, aSource.DecPl);
    T = Target.Add(u"T", aTarget.Type, aTarget.Units, aTarget.DecPl);
    SetLocale(*S, aSource);
    SetLocale(*T, aTarget);
    TzfFieldMapperDescriptor desc(u"S", u"T", aAct == B ? dlaBestFit : aAct == N ? dlaNull : dlaFail);
    Mapper = TzfBaseFieldMapper::CreateMapper(*S, &Source, *T, &Target, aAct == X ? nullptr : &desc, Method);
  }

  // Answers "-" without a method; for a BLOB target "blob:" + the new BLOB's bytes, else "E" (10002)
  // or "R" + code, the target number being 0; for a text target the field's bytes as MapText does.
  std::string Run(const std::string& aValue) {
    if (!Method.IsSet()) return "-";
    std::vector<uint8_t> from(static_cast<size_t>(S->fdLength), 0xCC);
    if (zfIsBlobType(S->fdType)) {
      zfStoreLE<int64_t>(from.data(), aValue == kNoBlob ? 0 : kSourceBlob);
      if (aValue != kNoBlob) Source.Blobs[kSourceBlob] = aValue;
    } else {
      for (size_t i = 0; i < aValue.size() && i < from.size(); ++i) from[i] = static_cast<uint8_t>(aValue[i]);
    }
    std::vector<uint8_t> to(static_cast<size_t>(T->fdLength), 0xEE);
    const uint32_t result = Method(from.data(), to.data());
    if (!zfIsBlobType(T->fdType)) {
      if (result == 0) return HexOf(to);
      if (result == 10002 && to == std::vector<uint8_t>(to.size(), 0xEE)) return "E";
      return "R" + std::to_string(result) + ":" + HexOf(to);
    }
    const int64_t number = zfLoadLE<int64_t>(to.data());
    if (result != 0) {
      if (number != 0) return "target refers to BLOB " + std::to_string(number);
      return result == 10002 ? "E" : "R" + std::to_string(result);
    }
    if (!Target.Blobs.count(number)) return "no BLOB " + std::to_string(number);
    return "blob:" + Hex(Target.Blobs[number]);
  }
};

std::string MapBlob(const TField& aSource, const std::string& aValue, const TField& aTarget, TAct aAct) {
  return TBlobRun(aSource, aTarget, aAct).Run(aValue);
}

struct TBlobCase {
  TField Source;
  std::string Value;
  TField Target;
  TAct Act;
  std::string Expected;
};

void RunBlobCases(const std::vector<TBlobCase>& aCases) {
  for (size_t i = 0; i < aCases.size(); ++i) {
    const TBlobCase& c = aCases[i];
    EXPECT_EQ(MapBlob(c.Source, c.Value, c.Target, c.Act), c.Expected)
        << "case " << i << ": type " << int(c.Source.Type) << " cp " << c.Source.Cp << " -> type "
        << int(c.Target.Type) << " cp " << c.Target.Cp << " action " << int(c.Act);
  }
}

const TField Blob{zftBlob}, Graphic{zftBlobGraphic}, Memo{zftBlobMemo}, WideMemo{zftBlobWideMemo};
TField MemoCp(uint16_t aCp) { return {zftBlobMemo, 0, 0, aCp}; }

TEST_F(BlobFieldMapperTest, BlobsCopyOrReEncodeBetweenBlobFields) {
  RunBlobCases({
      {Blob, "0123456789", Graphic, F, "blob:30 31 32 33 34 35 36 37 38 39"},
      {Graphic, "\x01\x02", WideMemo, F, "blob:01 02"},
      {WideMemo, "a", Blob, F, "blob:61"},
      {Blob, kNoBlob, Blob, F, "E"},
      {Blob, kNoBlob, Blob, B, "R1"},
      // Memo into memo: the same code page (or one without) copies, even an empty BLOB.
      {MemoCp(1252), "", MemoCp(1252), F, "blob:"},
      {Memo, "\xE9", MemoCp(1251), F, "blob:e9"},
      {MemoCp(1251), "\xC6", MemoCp(65001), F, "blob:d0 96"},
      {MemoCp(1251), "\xC6z", MemoCp(1252), F, "blob:3f 7a"},
      // An empty memo re-encoded has no value.
      {MemoCp(1252), "", MemoCp(1251), F, "E"},
      {MemoCp(1252), "", MemoCp(1251), N, "E"},
      {MemoCp(1252), "", MemoCp(1251), B, "R1"},
      {MemoCp(1252), kNoBlob, MemoCp(1251), B, "R1"},
      // Memo into wide memo: UTF-16 units without a terminator; no code page: the default one.
      {MemoCp(1251), "\xC6" "a", WideMemo, F, "blob:16 04 61 00"},
      {Memo, "\xE9", WideMemo, F, "blob:e9 00"},
      {Memo, "", WideMemo, F, "E"},
      // Wide memo into memo: the units encoded; an odd last byte is no unit.
      {WideMemo, std::string("\x16\x04" "A\0", 4), MemoCp(1251), F, "blob:c6 41"},
      {WideMemo, std::string("\x16\x04" "A", 3), MemoCp(1251), F, "blob:c6"},
      {WideMemo, "A", MemoCp(1251), F, "E"},
      {WideMemo, "", MemoCp(1251), B, "R1"},
  });
}

TEST_F(BlobFieldMapperTest, TextFieldsBecomeNewBlobs) {
  const TField ns{zftNullString, 10}, ss{zftShortString, 10}, ws{zftWideString, 10};
  RunBlobCases({
      {ns, NS("abc"), Blob, F, "blob:61 62 63"},
      {ns, NS("abc"), WideMemo, F, "blob:61 00 62 00 63 00"},
      {ns, NS("abc"), Graphic, F, "blob:61 62 63"},
      {{zftNullString, 10, 0, 1251}, NS("\xC6"), MemoCp(65001), F, "blob:d0 96"},
      {{zftNullString, 10, 0, 1251}, NS("\xC6"), Memo, F, "blob:c6"},
      {{zftNullString, 10, 0, 1251}, NS("\xC6"), Blob, F, "blob:c6"},
      {{zftShortString, 10, 0, 1251}, SS("\xC6"), WideMemo, F, "blob:16 04"},
      {ss, SS(""), Blob, F, "E"},
      {ss, SS(""), Memo, N, "E"},
      {ss, SS(""), WideMemo, B, "R1"},
      {ws, WS(u"\u0416"), MemoCp(1251), F, "blob:c6"},
      {ws, WS(u"\u0416"), Blob, F, "blob:16 04"},
      {ws, WS(u"\u0416"), WideMemo, F, "blob:16 04"},
      {ws, WS(u""), Graphic, F, "E"},
      // Damaged source fields give no more than their room.
      {{zftShortString, 3}, "\xC8" "abcd", Blob, F, "blob:61 62 63"},
      {{zftNullString, 3}, "abcd", Blob, F, "blob:61 62 63"},
      {{zftWideString, 1}, std::string("a\0b\0", 4), Blob, F, "blob:61 00"},
  });
}

TEST_F(BlobFieldMapperTest, BlobTextGoesIntoTextFields) {
  const std::string text300(300, 'x');
  RunBlobCases({
      {Memo, "abc", {zftNullString, 10}, F, "61 62 63 00 ee ee ee ee ee ee ee"},
      {Blob, "abc", {zftShortString, 5}, F, "03 61 62 63 ee ee"},
      {MemoCp(1251), "\xC6", {zftWideString, 3}, F, "16 04 00 00 ee ee ee ee"},
      {MemoCp(1251), "\xC6", {zftNullString, 3, 0, 65001}, F, "d0 96 00 ee"},
      {WideMemo, std::string("A\0B\0", 4), {zftWideString, 5}, F, "41 00 42 00 00 00 ee ee ee ee ee ee"},
      {WideMemo, std::string("A\0B\0", 4), {zftNullString, 5, 0, 1252}, F, "41 42 00 ee ee ee"},
      {WideMemo, std::string("\x16\x04", 2), {zftShortString, 3, 0, 1251}, F, "01 c6 ee ee"},
      // A text longer than the target: cut under best fit, refused otherwise.
      {Memo, "abcdefghij", {zftNullString, 4}, F, "E"},
      {Memo, "abcdefghij", {zftNullString, 4}, B, "61 62 63 64 00"},
      {WideMemo, std::string("A\0B\0C\0", 6), {zftWideString, 2}, F, "E"},
      {WideMemo, std::string("A\0B\0C\0", 6), {zftWideString, 2}, B, "41 00 42 00 00 00"},
      {Memo, "abcdefghij", {zftWideString, 2}, X, "E"},
      // No value: no BLOB or an empty one.
      {Memo, kNoBlob, {zftNullString, 4}, F, "E"},
      {Memo, kNoBlob, {zftNullString, 4}, B, "R1:ee ee ee ee ee"},
      {Memo, "", {zftShortString, 4}, F, "E"},
      {WideMemo, "", {zftWideString, 4}, B, "R1:ee ee ee ee ee ee ee ee ee ee"},
  });
  // A ShortString takes the first 255 bytes of a longer BLOB.
  const std::string first255 = "ff " + Hex(text300.substr(0, 255));
  EXPECT_EQ(MapBlob(Memo, text300, {zftShortString, 255}, F), first255);
  EXPECT_EQ(MapBlob(Memo, text300, {zftShortString, 10}, F), "E");
  EXPECT_EQ(MapBlob(Memo, text300, {zftShortString, 10}, B), "0a " + Hex(text300.substr(0, 10)));
}

TEST_F(BlobFieldMapperTest, CursorFailuresAreTheResultAndLeaveNoBlobBehind) {
  {
    TBlobRun run(Memo, WideMemo, F);
    run.Target.BlobWriteError = 9218;
    EXPECT_EQ(run.Run("abc"), "R9218");
    // The BLOB created for the write is deleted again.
    ASSERT_EQ(run.Target.Deleted.size(), 1u);
    EXPECT_EQ(run.Target.Blobs.count(run.Target.Deleted[0]), 0u);
  }
  {
    TBlobRun run({zftNullString, 5}, Blob, B);
    run.Target.BlobCreateError = 10240;
    EXPECT_EQ(run.Run(NS("abc")), "R10240");
  }
  {
    TBlobRun run(MemoCp(1251), MemoCp(1252), F);
    run.Source.BlobReadError = 9217;
    EXPECT_EQ(run.Run("abc"), "R9217");
  }
  {
    TBlobRun run(Memo, {zftNullString, 5}, B);
    run.Source.BlobReadError = 9217;
    EXPECT_EQ(run.Run("abc"), "R9217:ee ee ee ee ee ee");
  }
  {
    // A BLOB number the source table does not know: the cursor's code.
    TBlobRun run(Memo, {zftShortString, 5}, F);
    std::vector<uint8_t> from(8), to(6, 0xEE);
    zfStoreLE<int64_t>(from.data(), 4242);
    EXPECT_EQ(run.Method(from.data(), to.data()), TTestCursor::kNoBlob);
  }
}

// The rows of the matrix that text, character and BLOB sources fill: each cell's class, and a
// method for every such cell between two tables.
TEST_F(BlobFieldMapperTest, TheTextCharacterAndBlobRowsOfTheMatrix) {
  const TzfFieldType numeric[] = {zftBoolean, zftChar,   zftWideChar, zftByte,     zftWord16,    zftWord32,
                                  zftInt8,    zftInt16,  zftInt32,    zftInt64,    zftAutoInc,   zftSingle,
                                  zftDouble,  zftExtended, zftCurrency, zftByteArray, zftShortString,
                                  zftNullString, zftWideString, zftRecRev, zftBCD};
  const TzfFieldType blobs[] = {zftBlob, zftBlobMemo, zftBlobGraphic, zftBlobWideMemo};
  std::map<std::pair<TzfFieldType, TzfFieldType>, std::u16string> table;
  auto row = [&](TzfFieldType aSource, std::initializer_list<TzfFieldType> aTargets, const char16_t* aClass) {
    for (TzfFieldType t : aTargets) table[{aSource, t}] = aClass;
  };
  for (TzfFieldType t : numeric) {
    table[{zftChar, t}] = u"TzfCharMapper";
    table[{zftWideChar, t}] = u"TzfWideCharMapper";
  }
  const struct {
    TzfFieldType Source;
    const char16_t *Parse, *ToShort, *ToNull, *ToWide, *ToBlob;
  } texts[] = {
      {zftShortString, u"TzfShortStringMapper", u"TzfShortStringToShortStringMapper",
       u"TzfShortStringToNullStringMapper", u"TzfAnsiStringToWideStringMapper", u"TzfShortStringToBlobMapper"},
      {zftNullString, u"TzfNullStringMapper", u"TzfNullStringToShortStringMapper", u"TzfNullStringToNullStringMapper",
       u"TzfAnsiStringToWideStringMapper", u"TzfNullStringToBlobMapper"},
      {zftWideString, u"TzfWideStringMapper", u"TzfWideStringToAnsiStringMapper", u"TzfWideStringToAnsiStringMapper",
       u"TzfWideStringToWideStringMapper", u"TzfWideStringToBlobMapper"},
  };
  for (const auto& r : texts) {
    for (TzfFieldType t : numeric)
      if (!zfIsTextType(t)) table[{r.Source, t}] = r.Parse;
    row(r.Source, {zftDate, zftTime, zftDateTime, zftGuid}, r.Parse);
    row(r.Source, {zftShortString}, r.ToShort);
    row(r.Source, {zftNullString}, r.ToNull);
    row(r.Source, {zftWideString}, r.ToWide);
    for (TzfFieldType b : blobs) table[{r.Source, b}] = r.ToBlob;
  }
  for (TzfFieldType s : {zftBlob, zftBlobGraphic}) {
    for (TzfFieldType b : blobs) table[{s, b}] = u"TzfBlobMapper";
  }
  row(zftBlobMemo, {zftBlob, zftBlobGraphic}, u"TzfBlobMapper");
  row(zftBlobMemo, {zftBlobMemo}, u"TzfBlobMemoToBlobMemoMapper");
  row(zftBlobMemo, {zftBlobWideMemo}, u"TzfBlobMemoToBlobWideMemoMapper");
  row(zftBlobWideMemo, {zftBlob, zftBlobGraphic, zftBlobWideMemo}, u"TzfBlobMapper");
  row(zftBlobWideMemo, {zftBlobMemo}, u"TzfBlobWideMemoToBlobMemoMapper");
  for (TzfFieldType s : {zftBlob, zftBlobMemo, zftBlobGraphic}) {
    row(s, {zftShortString}, u"TzfBlobToShortStringMapper");
    row(s, {zftNullString}, u"TzfBlobToNullStringMapper");
    row(s, {zftWideString}, u"TzfBlobToWideStringMapper");
  }
  row(zftBlobWideMemo, {zftShortString, zftNullString}, u"TzfBlobWideMemoToAnsiStringMapper");
  row(zftBlobWideMemo, {zftWideString}, u"TzfBlobWideMemoToWideStringMapper");
  EXPECT_EQ(table.size(), 21u + 21u + 3 * 29u + 28u);

  const TzfFieldType sources[] = {zftChar, zftWideChar, zftShortString, zftNullString, zftWideString,
                                  zftBlob, zftBlobMemo, zftBlobGraphic, zftBlobWideMemo};
  for (TzfFieldType s : sources)
    for (int t = 0; t < zfFieldTypeCount; ++t) {
      const auto target = static_cast<TzfFieldType>(t);
      SCOPED_TRACE(::testing::Message() << int(s) << " -> " << t);
      const auto cell = zfFieldMapperCell(s, target);
      auto it = table.find({s, target});
      if (it == table.end()) {
        // Only the same-layout copy of the diagonal may sit in a cell the table leaves empty.
        for (const TzfFieldMapperClass* c : cell) EXPECT_EQ(rtl::UnicodeString(c->Name), u"TzfSameLayoutMapper");
        continue;
      }
      ASSERT_FALSE(cell.empty());
      EXPECT_EQ(rtl::UnicodeString(cell.back()->Name), it->second);
      const int32_t units = target == zftFmtBCD ? 10 : target == zftBCD ? 5 : 4;
      EXPECT_NE(MapBlob({s, 4}, "", {target, units}, F), "-");
    }
}

}  // namespace
}  // namespace zf::test
