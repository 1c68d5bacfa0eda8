#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlVariant.h"

using namespace zf;
using zf::rtl::UnicodeString;
using Bytes = std::vector<uint8_t>;

namespace {

// A memory stream filled with the given bytes and positioned at its start.
class TVecStream : public TzfMemoryStream {
 public:
  TVecStream() = default;
  explicit TVecStream(const Bytes& aData) {
    if (!aData.empty()) WriteBuffer(aData.data(), static_cast<int64_t>(aData.size()));
    SetPosition(0);
  }
  Bytes Data() const {
    auto* p = static_cast<const uint8_t*>(Memory());
    return p ? Bytes(p, p + Size()) : Bytes{};
  }
};

Bytes Written(const std::function<void(TzfWriter&)>& aWrite) {
  TVecStream s;
  {
    TzfWriter w(s);
    aWrite(w);
  }
  return s.Data();
}

Bytes Cat(std::initializer_list<Bytes> aParts) {
  Bytes r;
  for (const auto& p : aParts) r.insert(r.end(), p.begin(), p.end());
  return r;
}
Bytes Ascii(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

struct GoldenCase {
  const char* name;
  std::function<void(TzfWriter&)> write;
  Bytes expected;
};

}  // namespace

TEST(TzfWriter, GoldenBytes) {
  const rtl::TGUID guid{0xF6E104CC, 0x017F, 0x458F, {0x83, 0x98, 0x47, 0x21, 0xFA, 0xE6, 0xD4, 0x5F}};
  const std::vector<GoldenCase> cases = {
      {"int 0", [](TzfWriter& w) { w.WriteInteger(0); }, {2, 0}},
      {"int 127", [](TzfWriter& w) { w.WriteInteger(127); }, {2, 0x7F}},
      {"int 128", [](TzfWriter& w) { w.WriteInteger(128); }, {3, 0x80, 0}},
      {"int -128", [](TzfWriter& w) { w.WriteInteger(-128); }, {2, 0x80}},
      {"int -129", [](TzfWriter& w) { w.WriteInteger(-129); }, {3, 0x7F, 0xFF}},
      {"int 32767", [](TzfWriter& w) { w.WriteInteger(32767); }, {3, 0xFF, 0x7F}},
      {"int 32768", [](TzfWriter& w) { w.WriteInteger(32768); }, {4, 0, 0x80, 0, 0}},
      {"int -32768", [](TzfWriter& w) { w.WriteInteger(-32768); }, {3, 0, 0x80}},
      {"int -32769", [](TzfWriter& w) { w.WriteInteger(-32769); }, {4, 0xFF, 0x7F, 0xFF, 0xFF}},
      {"int min", [](TzfWriter& w) { w.WriteInteger(INT32_MIN); }, {4, 0, 0, 0, 0x80}},
      {"int64 small", [](TzfWriter& w) { w.WriteInteger(int64_t{5}); }, {2, 5}},
      {"int64 int32 max", [](TzfWriter& w) { w.WriteInteger(int64_t{INT32_MAX}); }, {4, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"int64 2^31", [](TzfWriter& w) { w.WriteInteger(int64_t{2147483648}); }, {19, 0, 0, 0, 0x80, 0, 0, 0, 0}},
      {"int64 -2^31-1", [](TzfWriter& w) { w.WriteInteger(int64_t{-2147483649}); },
       {19, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"true", [](TzfWriter& w) { w.WriteBoolean(true); }, {9}},
      {"false", [](TzfWriter& w) { w.WriteBoolean(false); }, {8}},
      {"string abc", [](TzfWriter& w) { w.WriteString(u"abc"); }, {6, 3, 'a', 'b', 'c'}},
      {"string empty", [](TzfWriter& w) { w.WriteString(u""); }, {18, 0, 0, 0, 0}},
      {"string 255 ascii", [](TzfWriter& w) { w.WriteString(UnicodeString(255, u'a')); },
       Cat({{6, 255}, Repeat('a', 255)})},
      {"string 256 ascii", [](TzfWriter& w) { w.WriteString(UnicodeString(256, u'a')); },
       Cat({{12, 0, 1, 0, 0}, Repeat('a', 256)})},
      {"string 300 ascii", [](TzfWriter& w) { w.WriteString(UnicodeString(300, u'a')); },
       Cat({{12, 0x2C, 1, 0, 0}, Repeat('a', 300)})},
      {"string e-acute + 10 ascii", [](TzfWriter& w) { w.WriteString(u"\u00E9abcdefghij"); },
       Cat({{20, 12, 0, 0, 0, 0xC3, 0xA9}, Ascii("abcdefghij")})},
      {"string e-acute + 1 ascii", [](TzfWriter& w) { w.WriteString(u"\u00E9a"); },
       {20, 3, 0, 0, 0, 0xC3, 0xA9, 'a'}},
      {"string e-acute alone (not shorter)", [](TzfWriter& w) { w.WriteString(u"\u00E9"); },
       {18, 1, 0, 0, 0, 0xE9, 0}},
      {"string CJK", [](TzfWriter& w) { w.WriteString(u"\u65E5\u672C"); }, {18, 2, 0, 0, 0, 0xE5, 0x65, 0x2C, 0x67}},
      {"string surrogate pair alone", [](TzfWriter& w) { w.WriteString(u"\U0001F600"); },
       {18, 2, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE}},
      {"string surrogate pair + ascii", [](TzfWriter& w) { w.WriteString(u"\U0001F600abc"); },
       {20, 7, 0, 0, 0, 0xF0, 0x9F, 0x98, 0x80, 'a', 'b', 'c'}},
      {"string lone surrogate stays UTF-16", [](TzfWriter& w) { w.WriteString(u"\xD800\u00E9abcdef"); },
       {18, 8, 0, 0, 0, 0x00, 0xD8, 0xE9, 0, 'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 'f', 0}},
      {"ident", [](TzfWriter& w) { w.WriteIdent(u"Name"); }, {7, 4, 'N', 'a', 'm', 'e'}},
      {"ident false", [](TzfWriter& w) { w.WriteIdent(u"fALSE"); }, {8}},
      {"ident true", [](TzfWriter& w) { w.WriteIdent(u"TRUE"); }, {9}},
      {"ident null", [](TzfWriter& w) { w.WriteIdent(u"null"); }, {0}},
      {"ident nil", [](TzfWriter& w) { w.WriteIdent(u"NIL"); }, {13}},
      {"ident utf8", [](TzfWriter& w) { w.WriteIdent(u"\u00E9"); }, {7, 2, 0xC3, 0xA9}},
      {"ident cut to 255", [](TzfWriter& w) { w.WriteIdent(UnicodeString(300, u'x')); },
       Cat({{7, 255}, Repeat('x', 255)})},
      {"ident cut before a partial character",
       [](TzfWriter& w) { w.WriteIdent(UnicodeString(254, u'x') + u"\u00E9"); }, Cat({{7, 254}, Repeat('x', 254)})},
      {"extended 1", [](TzfWriter& w) { w.WriteFloat(1.0L); }, {5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
      {"extended -2", [](TzfWriter& w) { w.WriteFloat(-2.0L); }, {5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0xC0}},
      {"single 1", [](TzfWriter& w) { w.WriteSingle(1.0f); }, {15, 0, 0, 0x80, 0x3F}},
      {"double 1", [](TzfWriter& w) { w.WriteDouble(1.0); }, {21, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {"currency 1.2345", [](TzfWriter& w) { w.WriteCurrency(12345); }, {16, 0x39, 0x30, 0, 0, 0, 0, 0, 0}},
      {"date 2.5", [](TzfWriter& w) { w.WriteDate(2.5); }, {17, 0, 0, 0, 0, 0, 0, 0x04, 0x40}},
      {"list", [](TzfWriter& w) { w.WriteListBegin(); w.WriteListEnd(); }, {1, 0}},
      {"raw", [](TzfWriter& w) { w.Write("xy", 2); }, {'x', 'y'}},
      {"wide string ascii", [](TzfWriter& w) { w.WriteWideString(u"ab"); }, {18, 2, 0, 0, 0, 'a', 0, 'b', 0}},
      {"wide string empty", [](TzfWriter& w) { w.WriteWideString(u""); }, {18, 0, 0, 0, 0}},
      {"ansi string", [](TzfWriter& w) { w.WriteAnsiString(rtl::AnsiString("a\x80")); }, {6, 2, 'a', 0x80}},
      {"ansi string empty", [](TzfWriter& w) { w.WriteAnsiString(rtl::AnsiString()); }, {6, 0}},
      {"ansi string of raw bytes as they are",
       [](TzfWriter& w) { w.WriteAnsiString(rtl::AnsiString("\x81\xFF", rtl::CP_RAWBYTES)); }, {6, 2, 0x81, 0xFF}},
      {"ansi string 256", [](TzfWriter& w) { w.WriteAnsiString(rtl::AnsiString(std::string(256, 'q'))); },
       Cat({{12, 0, 1, 0, 0}, Repeat('q', 256)})},
      {"ansi char", [](TzfWriter& w) { w.WriteAnsiChar('Z'); }, {6, 1, 'Z'}},
      {"strings", [](TzfWriter& w) { w.WriteStrings({u"a", u"\u65E5"}); },
       {1, 6, 1, 'a', 18, 1, 0, 0, 0, 0xE5, 0x65, 0}},
      {"wide strings", [](TzfWriter& w) { w.WriteWideStrings({u"a"}); }, {1, 18, 1, 0, 0, 0, 'a', 0, 0}},
      {"ansi strings", [](TzfWriter& w) { w.WriteAnsiStrings({u"a", u"\u20AC", u"\u65E5"}); },
       {1, 6, 1, 'a', 6, 1, 0x80, 6, 1, '?', 0}},
      {"binary", [](TzfWriter& w) { w.WriteBinary("\x01\x02", 2); }, {10, 2, 0, 0, 0, 1, 2}},
      {"bytes empty", [](TzfWriter& w) { w.WriteBytes({}); }, {10, 0, 0, 0, 0}},
      {"bytes", [](TzfWriter& w) { w.WriteBytes({7, 8, 9}); }, {10, 3, 0, 0, 0, 7, 8, 9}},
      {"guid", [&](TzfWriter& w) { w.WriteGuid(guid); },
       {10, 16, 0, 0, 0, 0xCC, 0x04, 0xE1, 0xF6, 0x7F, 0x01, 0x8F, 0x45, 0x83, 0x98, 0x47, 0x21, 0xFA, 0xE6,
        0xD4, 0x5F}},
  };
  for (const auto& c : cases) EXPECT_EQ(Written(c.write), c.expected) << c.name;
}

TEST(TzfWriter, StreamHoldsEncodingOnlyAfterFlush) {
  TVecStream s;
  {
    TzfWriter w(s);
    w.WriteInteger(1);
    EXPECT_TRUE(s.Data().empty());
    w.FlushBuffer();
    EXPECT_EQ(s.Data(), (Bytes{2, 1}));
    w.WriteInteger(2);
  }
  EXPECT_EQ(s.Data(), (Bytes{2, 1, 2, 2}));
}

TEST(TzfReaderWriter, RoundTripAcrossBufferBoundaries) {
  // Enough values of mixed sizes that payloads straddle the 4096-byte buffers on both sides.
  const UnicodeString big(5000, u'\u00E9');
  TVecStream s;
  {
    TzfWriter w(s);
    for (int i = 0; i < 400; ++i) {
      w.WriteInteger(i * 1000);
      w.WriteString(i % 7 == 0 ? big : u"x" + rtl::IntToStr(i));
      w.WriteDouble(i / 4.0);
      w.WriteBytes(Bytes(static_cast<size_t>(i % 50), static_cast<uint8_t>(i)));
    }
    w.WriteIdent(u"End");
  }
  s.SetPosition(0);
  TzfReader r(s);
  for (int i = 0; i < 400; ++i) {
    ASSERT_EQ(r.ReadInteger(), i * 1000);
    ASSERT_EQ(r.ReadString(), i % 7 == 0 ? big : u"x" + rtl::IntToStr(i));
    ASSERT_EQ(r.ReadDouble(), i / 4.0);
    ASSERT_EQ(r.ReadBytes(), Bytes(static_cast<size_t>(i % 50), static_cast<uint8_t>(i)));
  }
  EXPECT_EQ(r.ReadIdent(), u"End");
}

TEST(TzfReader, ReadsWhatTheWriterWrites) {
  const rtl::TGUID guid{0x899B9703, 0x1FB0, 0x4CFD, {0xA3, 0xA4, 0x8E, 0x69, 0xCF, 0x13, 0x1D, 0xC3}};
  const std::vector<UnicodeString> strings = {u"a", u"\u20ACuro", u"", UnicodeString(300, u'z')};
  TVecStream s;
  {
    TzfWriter w(s);
    w.WriteInteger(int64_t{-5000000000});
    w.WriteString(u"\u00E9abcdefghij");
    w.WriteString(UnicodeString(300, u'a'));
    w.WriteString(u"\u65E5\u672C");
    w.WriteString(u"\xD800\u00E9abcdef");
    w.WriteWideString(u"plain");
    w.WriteAnsiString(rtl::AnsiString("\x80uro"));
    w.WriteIdent(u"nil");
    w.WriteIdent(u"Caf\u00E9");
    w.WriteFloat(1.5L);
    w.WriteSingle(0.25f);
    w.WriteCurrency(-15000);
    w.WriteDate(45000.5);
    w.WriteGuid(guid);
    w.WriteAnsiStrings(strings);
    w.WriteWideStrings(strings);
    w.WriteStrings(strings);
    w.WriteAnsiChar('\xE9');
    w.WriteString(u"Q");
  }
  s.SetPosition(0);
  TzfReader r(s);
  EXPECT_EQ(r.ReadInt64(), -5000000000);
  EXPECT_EQ(r.ReadString(), u"\u00E9abcdefghij");
  EXPECT_EQ(r.ReadString(), UnicodeString(300, u'a'));
  EXPECT_EQ(r.ReadWideString(), u"\u65E5\u672C");
  EXPECT_EQ(r.ReadString(), u"\xD800\u00E9abcdef");
  EXPECT_EQ(r.ReadString(), u"plain");
  EXPECT_EQ(r.ReadString(), u"\u20ACuro");
  EXPECT_EQ(r.ReadIdent(), u"nil");
  EXPECT_EQ(r.ReadIdent(), u"Caf\u00E9");
  EXPECT_EQ(r.ReadFloat(), 1.5L);
  EXPECT_EQ(r.ReadSingle(), 0.25f);
  EXPECT_EQ(r.ReadCurrency(), -15000);
  EXPECT_EQ(r.ReadDate(), 45000.5);
  EXPECT_EQ(r.ReadGuid(), guid);
  for (int i = 0; i < 3; ++i) {
    std::vector<UnicodeString> got = {u"stale"};
    r.ReadStrings(got);
    EXPECT_EQ(got, strings) << "string list form " << i;
  }
  EXPECT_EQ(r.ReadAnsiChar(), '\xE9');
  EXPECT_EQ(r.ReadChar(), u'Q');
}

TEST(TzfReader, IntegerFormsWidenButNeverNarrow) {
  TVecStream s(Bytes{2, 0xFF, 3, 0x00, 0x80, 4, 0, 0, 0, 0x80, 19, 1, 0, 0, 0, 1, 0, 0, 0});
  TzfReader r(s);
  EXPECT_EQ(r.ReadInt64(), -1);
  EXPECT_EQ(r.ReadInt64(), -32768);
  EXPECT_EQ(r.ReadInt64(), INT32_MIN);
  EXPECT_EQ(r.NextValue(), vaInt64);
  EXPECT_THROW(r.ReadInteger(), rtl::EReadError);

  // The float, currency and date readers take an integer form as well.
  TVecStream t(Bytes{2, 3, 3, 0x10, 0x27, 2, 7, 2, 9});
  TzfReader q(t);
  EXPECT_EQ(q.ReadFloat(), 3.0L);
  EXPECT_EQ(q.ReadCurrency(), 10000LL * 10000);
  EXPECT_EQ(q.ReadDate(), 7.0);
  EXPECT_EQ(q.ReadDouble(), 9.0);
}

TEST(TzfReader, ReadBooleanConsumesOnlyTheTag) {
  TVecStream s(Bytes{9, 8, 2, 5});
  TzfReader r(s);
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_FALSE(r.ReadBoolean());
  EXPECT_FALSE(r.ReadBoolean());  // the integer's tag
  uint8_t payload = 0;
  r.Read(&payload, 1);
  EXPECT_EQ(payload, 5);
}

TEST(TzfReader, FreeingTheReaderLeavesTheStreamOnTheNextValue) {
  TVecStream s(Written([](TzfWriter& w) {
    w.WriteInteger(1000);
    w.WriteString(u"next");
  }));
  {
    TzfReader r(s);
    EXPECT_EQ(r.ReadInteger(), 1000);
  }
  EXPECT_EQ(s.GetPosition(), 3);
  TzfReader r(s);
  EXPECT_EQ(r.ReadString(), u"next");
}

TEST(TzfReader, SkipValueWalksEveryKind) {
  const Bytes values = Cat({
      {0}, {1, 1, 2, 5, 0, 6, 1, 'a', 0},                                  // null, nested list
      {2, 1}, {3, 1, 2}, {4, 1, 2, 3, 4}, {5}, Repeat(0, 10),              // integers, extended
      {6, 2, 'a', 'b'}, {7, 1, 'N'}, {8}, {9}, {10, 2, 0, 0, 0, 1, 2},     // strings, booleans
      {11, 1, 'A', 2, 'B', 'C', 0}, {12, 1, 0, 0, 0, 'z'}, {13},          // set, long string, nil
      // a collection: an item with index 3 and the property Name = "a", then an empty item
      {14, 2, 3, 1, 4, 'N', 'a', 'm', 'e', 6, 1, 'a', 0, 1, 0, 0},
      {15, 0, 0, 0, 0}, {16}, Repeat(0, 8), {17}, Repeat(0, 8),
      {18, 2, 0, 0, 0, 'a', 0, 'b', 0}, {19}, Repeat(0, 8), {20, 1, 0, 0, 0, 'u'}, {21}, Repeat(0, 8),
  });
  TVecStream s(Cat({values, {2, 42}}));
  TzfReader r(s);
  for (int i = 0; i < 22; ++i) r.SkipValue();
  EXPECT_EQ(r.ReadInteger(), 42);
}

TEST(TzfReader, CheckValueSkipsTheUnexpectedValue) {
  TVecStream s(Bytes{6, 1, 'a', 2, 7});
  TzfReader r(s);
  EXPECT_THROW(
      try { r.ReadListBegin(); } catch (const rtl::EReadError& e) {
        EXPECT_EQ(e.Message(), kSInvalidPropertyValue);
        throw;
      },
      rtl::EReadError);
  EXPECT_EQ(r.ReadInteger(), 7);
}

struct DamagedCase {
  const char* name;
  Bytes bytes;
  std::function<void(TzfReader&)> read;
  const char16_t* message;
};

// Damaged input gives the filer's errors: a wrong tag or an impossible count is an invalid
// property value, a count or payload beyond the end a read error, never a huge allocation.
TEST(TzfReader, DamagedStreams) {
  const auto readString = [](TzfReader& r) { r.ReadString(); };
  const auto skip = [](TzfReader& r) { r.SkipValue(); };
  Bytes deepList(100000, vaList);
  Bytes deepCollection;
  for (int i = 0; i < 50000; ++i) deepCollection.insert(deepCollection.end(), {14, 1, 1, 'p'});
  const std::vector<DamagedCase> cases = {
      {"empty stream", {}, [](TzfReader& r) { r.ReadValue(); }, kSReadError},
      {"truncated int32", {4, 1, 2}, [](TzfReader& r) { r.ReadInteger(); }, kSReadError},
      {"truncated int64", {19, 1, 2, 3}, [](TzfReader& r) { r.ReadInt64(); }, kSReadError},
      {"truncated extended", {5, 1, 2}, [](TzfReader& r) { r.ReadFloat(); }, kSReadError},
      {"short string past the end", {6, 200, 'a'}, readString, kSReadError},
      {"long string huge count", {12, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}, readString, kSReadError},
      {"long string negative count", {12, 0xFF, 0xFF, 0xFF, 0xFF}, readString, kSInvalidPropertyValue},
      {"wide string count overflowing bytes", {18, 0, 0, 0, 0x40, 'a', 0}, readString, kSReadError},
      {"wide string odd payload", {18, 2, 0, 0, 0, 'a', 0, 'b'}, readString, kSReadError},
      {"utf8 string truncated", {20, 5, 0, 0, 0, 'a'}, readString, kSReadError},
      {"binary huge count", {10, 0xFF, 0xFF, 0xFF, 0x7F, 1}, [](TzfReader& r) { r.ReadBytes(); }, kSReadError},
      {"binary negative count", {10, 0, 0, 0, 0x80}, [](TzfReader& r) { r.ReadBytes(); },
       kSInvalidPropertyValue},
      {"integer expected, string found", {6, 1, 'a'}, [](TzfReader& r) { r.ReadInteger(); },
       kSInvalidPropertyValue},
      {"string expected, integer found", {2, 5}, readString, kSInvalidPropertyValue},
      {"ident expected, string found", {6, 1, 'a'}, [](TzfReader& r) { r.ReadIdent(); }, kSInvalidPropertyValue},
      {"double expected, extended found", {5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F},
       [](TzfReader& r) { r.ReadDouble(); }, kSInvalidPropertyValue},
      {"currency from an integer beyond its range", {19, 0, 0, 0, 0, 0, 0, 0, 0x40},
       [](TzfReader& r) { r.ReadCurrency(); }, kSInvalidPropertyValue},
      {"char of two characters", {6, 2, 'a', 'b'}, [](TzfReader& r) { r.ReadChar(); }, kSInvalidPropertyValue},
      {"guid of 15 bytes", Cat({{10, 15, 0, 0, 0}, Repeat(1, 15)}), [](TzfReader& r) { r.ReadGuid(); },
       kSInvalidPropertyValue},
      {"guid from a string", {6, 1, 'a'}, [](TzfReader& r) { r.ReadGuid(); }, kSInvalidPropertyValue},
      {"binary of the wrong size", {10, 2, 0, 0, 0, 1, 2},
       [](TzfReader& r) { char b[3]; r.ReadBinary(b, 3); }, kSInvalidPropertyValue},
      {"string list without list tag", {6, 1, 'a'},
       [](TzfReader& r) { std::vector<UnicodeString> v; r.ReadStrings(v); }, kSInvalidPropertyValue},
      {"string list with an integer", {1, 2, 5, 0},
       [](TzfReader& r) { std::vector<UnicodeString> v; r.ReadStrings(v); }, kSInvalidPropertyValue},
      {"string list without end", {1, 6, 1, 'a'},
       [](TzfReader& r) { std::vector<UnicodeString> v; r.ReadStrings(v); }, kSReadError},
      {"skip unknown tag", {22}, skip, kSInvalidPropertyValue},
      {"skip huge binary", {10, 0xFF, 0xFF, 0xFF, 0x7F}, skip, kSReadError},
      {"skip huge wide string", {18, 0xFF, 0xFF, 0xFF, 0x7F}, skip, kSReadError},
      {"skip unterminated set", {11, 1, 'A'}, skip, kSReadError},
      {"skip deep unterminated lists", deepList, skip, kSReadError},
      {"skip deep unterminated collections", deepCollection, skip, kSReadError},
      {"skip collection item without list", {14, 2, 1, 6, 0}, skip, kSInvalidPropertyValue},
  };
  for (const auto& c : cases) {
    TVecStream s(c.bytes);
    TzfReader r(s);
    try {
      c.read(r);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const rtl::EReadError& e) {
      EXPECT_EQ(e.Message(), c.message) << c.name;
    }
  }
}

TEST(TzfReader, CharOfAnEmptyStringIsZero) {
  TVecStream s(Bytes{6, 0});
  TzfReader r(s);
  EXPECT_EQ(r.ReadChar(), u'\0');
}

TEST(TzfWriter, VariantGoldenBytes) {
  using rtl::Variant;
  const std::vector<GoldenCase> cases = {
      {"empty", [](TzfWriter& w) { w.WriteVariant(Variant()); }, {13}},
      {"null", [](TzfWriter& w) { w.WriteVariant(Variant::Null()); }, {0}},
      {"shortint", [](TzfWriter& w) { w.WriteVariant(Variant(int8_t{-3})); }, {2, 0xFD}},
      {"word", [](TzfWriter& w) { w.WriteVariant(Variant(uint16_t{40000})); }, {4, 0x40, 0x9C, 0, 0}},
      {"longword", [](TzfWriter& w) { w.WriteVariant(Variant(uint32_t{4000000000})); },
       {19, 0x00, 0x28, 0x6B, 0xEE, 0, 0, 0, 0}},
      {"int64 small", [](TzfWriter& w) { w.WriteVariant(Variant(int64_t{300})); }, {3, 0x2C, 1}},
      {"single", [](TzfWriter& w) { w.WriteVariant(Variant(1.0f)); }, {15, 0, 0, 0x80, 0x3F}},
      {"double as extended", [](TzfWriter& w) { w.WriteVariant(Variant(1.0)); },
       {5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
      {"currency", [](TzfWriter& w) { w.WriteVariant(Variant(rtl::Currency::FromScaled(12345))); },
       {16, 0x39, 0x30, 0, 0, 0, 0, 0, 0}},
      {"date", [](TzfWriter& w) { w.WriteVariant(Variant::FromDate(2.5)); }, {17, 0, 0, 0, 0, 0, 0, 0x04, 0x40}},
      {"boolean", [](TzfWriter& w) { w.WriteVariant(Variant(true)); }, {9}},
      {"unicode string", [](TzfWriter& w) { w.WriteVariant(Variant(u"ab")); }, {6, 2, 'a', 'b'}},
      {"wide string", [](TzfWriter& w) { w.WriteVariant(Variant::FromOleStr(u"\u65E5")); },
       {18, 1, 0, 0, 0, 0xE5, 0x65}},
      {"uint64 as its text", [](TzfWriter& w) { w.WriteVariant(Variant(uint64_t{18446744073709551615u})); },
       Cat({{6, 20}, Ascii("18446744073709551615")})},
  };
  for (const auto& c : cases) EXPECT_EQ(Written(c.write), c.expected) << c.name;

  TVecStream s;
  TzfWriter w(s);
  try {
    w.WriteVariant(rtl::Variant::FromBytes({1, 2}));
    ADD_FAILURE() << "an array was written";
  } catch (const rtl::EWriteError& e) {
    EXPECT_EQ(e.Message(), kSWriteError);
  }
}

TEST(TzfReader, ReadVariantKinds) {
  using rtl::Variant;
  struct Case { Bytes bytes; rtl::TVarType type; Variant value; };
  const std::vector<Case> cases = {
      {{13}, rtl::varEmpty, Variant()},
      {{0}, rtl::varNull, Variant::Null()},
      {{2, 0xFD}, rtl::varShortInt, Variant(int8_t{-3})},
      {{3, 0x2C, 1}, rtl::varSmallint, Variant(int16_t{300})},
      {{4, 0, 0, 1, 0}, rtl::varInteger, Variant(int32_t{65536})},
      {{19, 0, 0, 0, 0, 1, 0, 0, 0}, rtl::varInt64, Variant(int64_t{1} << 32)},
      {{5, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}, rtl::varDouble, Variant(1.0)},
      {{15, 0, 0, 0x80, 0x3F}, rtl::varDouble, Variant(1.0)},
      {{21, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, rtl::varDouble, Variant(1.0)},
      {{16, 0x39, 0x30, 0, 0, 0, 0, 0, 0}, rtl::varCurrency, Variant(rtl::Currency::FromScaled(12345))},
      {{17, 0, 0, 0, 0, 0, 0, 0x04, 0x40}, rtl::varDate, Variant::FromDate(2.5)},
      {{6, 2, 'a', 'b'}, rtl::varUString, Variant(u"ab")},
      {{12, 2, 0, 0, 0, 'a', 'b'}, rtl::varUString, Variant(u"ab")},
      {{18, 1, 0, 0, 0, 'a', 0}, rtl::varOleStr, Variant::FromOleStr(u"a")},
      {{20, 1, 0, 0, 0, 'a'}, rtl::varOleStr, Variant::FromOleStr(u"a")},
      {{8}, rtl::varBoolean, Variant(false)},
      {{9}, rtl::varBoolean, Variant(true)},
  };
  for (const auto& c : cases) {
    TVecStream s(c.bytes);
    TzfReader r(s);
    Variant v = r.ReadVariant();
    EXPECT_EQ(v.VarType(), c.type) << int(c.bytes[0]);
    EXPECT_TRUE(v == c.value) << int(c.bytes[0]);
  }
  for (uint8_t tag : std::vector<uint8_t>{vaList, vaIdent, vaBinary, vaSet, vaCollection, 22}) {
    TVecStream s(Bytes{tag, 0, 0, 0, 0});
    TzfReader r(s);
    try {
      r.ReadVariant();
      ADD_FAILURE() << int(tag);
    } catch (const rtl::EReadError& e) {
      EXPECT_EQ(e.Message(), kSReadError) << int(tag);
    }
  }
}

// ---- wide strings whose byte count passes 2 GiB ------------------------------------------------

namespace {

// A stream that only counts what is written to it and keeps the first bytes.
class TCountingSink : public rtl::TStream {
 public:
  int64_t Count = 0;
  Bytes Head;
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* aBuffer, int32_t aCount) override {
    auto* p = static_cast<const uint8_t*>(aBuffer);
    for (int32_t i = 0; i < aCount && Head.size() < 8; ++i) Head.push_back(p[i]);
    Count += aCount;
    return aCount;
  }
  int64_t Seek(int64_t, rtl::TSeekOrigin) override { return Count; }
};

// aUnits UTF-16 units of address space that is never touched (reads see zero pages).
struct TUntouchedText {
  explicit TUntouchedText(size_t aUnits) : Bytes(aUnits * 2) {
    Memory = ::mmap(nullptr, Bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  }
  ~TUntouchedText() {
    if (Memory != MAP_FAILED) ::munmap(Memory, Bytes);
  }
  rtl::UnicodeStringView View() const { return {static_cast<const char16_t*>(Memory), Bytes / 2}; }
  size_t Bytes;
  void* Memory;
};

}  // namespace

TEST(TzfWriter, WideStringsOfMoreThanAGigaunitAreWrittenWhole) {
  constexpr size_t kUnits = (size_t(1) << 30) + 3;  // 2 GiB and 6 bytes of text
  TUntouchedText text(kUnits);
  ASSERT_NE(text.Memory, MAP_FAILED);
  TCountingSink sink;
  {
    TzfWriter w(sink);
    w.WriteWideString(text.View());
  }
  EXPECT_EQ(sink.Count, int64_t{5} + int64_t{2} * int64_t(kUnits));
  const Bytes head = {18, 3, 0, 0, 64, 0, 0, 0};  // tag, Int32 count 2^30 + 3, the first units
  EXPECT_EQ(sink.Head, head);
}

TEST(TzfWriter, AWideStringBeyondTheInt32CountIsRefusedBeforeAByteIsWritten) {
  constexpr size_t kUnits = size_t(1) << 31;
  TUntouchedText text(kUnits);
  ASSERT_NE(text.Memory, MAP_FAILED);
  TCountingSink sink;
  TzfWriter w(sink);
  EXPECT_THROW(w.WriteWideString(text.View()), rtl::Exception);
  w.FlushBuffer();
  EXPECT_EQ(sink.Count, 0) << "no tag or count of a value that is not there";
}

namespace {

// A read-only stream of 2^31 + 16 bytes: a vaWString tag, the count 2^30 + 4, then units that
// are each their index's low 16 bits; made up as it is read.
class TGeneratedWideString : public rtl::TStream {
 public:
  static constexpr int32_t kUnits = (int32_t(1) << 30) + 4;
  static constexpr int64_t kSize = 5 + int64_t{2} * kUnits + 3;
  int32_t Read(void* aBuffer, int32_t aCount) override {
    auto* p = static_cast<uint8_t*>(aBuffer);
    int32_t n = static_cast<int32_t>(std::min<int64_t>(aCount, kSize - FPos));
    for (int32_t i = 0; i < n; ++i, ++FPos) p[i] = ByteAt(FPos);
    return n;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t aOffset, rtl::TSeekOrigin aOrigin) override {
    FPos = (aOrigin == rtl::TSeekOrigin::soBeginning ? 0 : aOrigin == rtl::TSeekOrigin::soEnd ? kSize : FPos) + aOffset;
    return FPos;
  }
  static uint8_t ByteAt(int64_t aPos) {
    if (aPos == 0) return 18;
    if (aPos < 5) return static_cast<uint8_t>(uint32_t(kUnits) >> (8 * (aPos - 1)));
    int64_t unit = (aPos - 5) / 2;
    if (unit >= kUnits) return 0xEE;
    return static_cast<uint8_t>((aPos - 5) % 2 == 0 ? unit : unit >> 8);
  }

 private:
  int64_t FPos = 0;
};

}  // namespace

// Reads 2 GiB of text: behind the slow label.
TEST(TzfReader, SlowWideStringsOfMoreThanAGigaunitAreReadWhole) {
  TGeneratedWideString stream;
  UnicodeString s;
  {
    TzfReader r(stream);
    s = r.ReadString();
  }
  ASSERT_EQ(s.size(), size_t(TGeneratedWideString::kUnits));
  for (size_t i : {size_t(0), size_t(1), size_t(65537), s.size() - 1}) EXPECT_EQ(s[i], char16_t(i & 0xFFFF)) << i;
  EXPECT_EQ(stream.GetPosition(), TGeneratedWideString::kSize - 3) << "the stream stands after the value";
}
