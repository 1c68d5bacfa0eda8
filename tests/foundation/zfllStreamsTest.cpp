#include "foundation/zfllStreams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "foundation/zfllException.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlException.h"

using namespace zf;
using zf::rtl::AnsiString;
using zf::rtl::TSeekOrigin;

namespace {

std::vector<uint8_t> Pattern(size_t aCount, uint8_t aSeed) {
  std::vector<uint8_t> v(aCount);
  for (size_t i = 0; i < aCount; ++i) v[i] = static_cast<uint8_t>(aSeed + i * 7 + (i >> 8));
  return v;
}

std::vector<uint8_t> Content(TzfCustomMemoryStream& s) {
  auto* p = static_cast<uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.Size());
}

}  // namespace

TEST(MemoryStream, FirstGrowthReservesByHintAndCommitsOnePage) {
  struct Case {
    int32_t initial;
    int64_t reserved;
  };
  const Case cases[] = {{-1, 65536}, {0, 524288}, {-7, 524288}, {65535, 524288}, {65536, 65536}, {100000, 131072}};
  for (const auto& c : cases) {
    TzfMemoryStream s(c.initial);
    EXPECT_EQ(s.Reserved(), 0) << c.initial;
    uint8_t b = 0x5A;
    EXPECT_EQ(s.Write(&b, 1), 1);
    EXPECT_EQ(s.Reserved(), c.reserved) << c.initial;
    EXPECT_EQ(s.Capacity(), 4096) << c.initial;
    EXPECT_EQ(s.Size(), 1);
    EXPECT_EQ(s.Position(), 1);
  }
}

TEST(MemoryStream, GrowsBeyondReservationKeepingContent) {
  TzfMemoryStream s(-1);
  auto data = Pattern(300000, 3);
  // Uneven chunks so writes straddle page and reservation borders.
  size_t off = 0, chunk = 1;
  while (off < data.size()) {
    size_t n = std::min(chunk, data.size() - off);
    ASSERT_EQ(s.Write(data.data() + off, static_cast<int32_t>(n)), static_cast<int32_t>(n));
    off += n;
    chunk = chunk * 3 + 1;
  }
  EXPECT_EQ(s.Size(), 300000);
  EXPECT_EQ(s.Reserved(), 524288);  // 64K doubled until it holds the content
  EXPECT_EQ(s.Capacity(), (300000 + 4095) / 4096 * 4096);
  EXPECT_EQ(Content(s), data);

  s.SetPosition(0);
  std::vector<uint8_t> back(data.size());
  s.ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
  EXPECT_EQ(back, data);
  EXPECT_EQ(s.Read(back.data(), 1), 0);
}

TEST(MemoryStream, MovesAndCopiesWhenTheAdjacentRangeIsTaken) {
  TzfMemoryStream s(-1);
  auto data = Pattern(5000, 9);
  s.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  auto* oldMem = static_cast<uint8_t*>(s.Memory());
  // Occupy the address range right after the reservation so it cannot be extended in place
  // (often it is taken already: the system tends to place new mappings downwards).
  void* blocker = ::mmap(oldMem + s.Reserved(), 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (blocker != MAP_FAILED && blocker != oldMem + s.Reserved()) {
    ::munmap(blocker, 4096);
    GTEST_SKIP() << "the system ignores the no-replace flag";
  }
  s.SetSize(70000);
  EXPECT_NE(s.Memory(), oldMem);
  EXPECT_EQ(s.Reserved(), 131072);
  std::vector<uint8_t> head(static_cast<uint8_t*>(s.Memory()), static_cast<uint8_t*>(s.Memory()) + 5000);
  EXPECT_EQ(head, data);
  if (blocker != MAP_FAILED) ::munmap(blocker, 4096);
}

TEST(MemoryStream, SizeCapacityAndPosition) {
  TzfMemoryStream s(-1);
  auto data = Pattern(10000, 1);
  s.WriteBuffer(data.data(), 10000);
  EXPECT_EQ(s.Capacity(), 12288);

  s.SetSize(100);  // below the position: the position follows, the capacity stays
  EXPECT_EQ(s.Position(), 100);
  EXPECT_EQ(s.Size(), 100);
  EXPECT_EQ(s.Capacity(), 12288);

  s.SetCapacity(4096);  // below what is committed: kept
  EXPECT_EQ(s.Capacity(), 12288);
  s.SetCapacity(20000);
  EXPECT_EQ(s.Capacity(), 20480);
  EXPECT_EQ(s.Size(), 100);

  // Writing past the end leaves the bytes in between as they are in the committed pages.
  s.Seek(200, TSeekOrigin::soBeginning);
  uint8_t b = 1;
  s.WriteBuffer(&b, 1);
  EXPECT_EQ(s.Size(), 201);
  EXPECT_EQ(static_cast<uint8_t*>(s.Memory())[150], data[150]);

  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Capacity(), 0);
  EXPECT_EQ(s.Reserved(), 0);
  EXPECT_EQ(s.Memory(), nullptr);
}

TEST(MemoryStream, NegativeAndEmptyTransfersMoveNothing) {
  TzfMemoryStream s;
  uint8_t buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(s.Write(buf, 0), 0);
  EXPECT_EQ(s.Write(buf, -1), 0);
  EXPECT_EQ(s.Reserved(), 0);
  s.WriteBuffer(buf, 4);
  EXPECT_EQ(s.Read(buf, -1), 0);
  s.Seek(-3, TSeekOrigin::soEnd);
  EXPECT_EQ(s.Position(), 1);
  s.Seek(-2, TSeekOrigin::soCurrent);  // below 0 is allowed, and then nothing moves
  EXPECT_EQ(s.Position(), -1);
  EXPECT_EQ(s.Read(buf, 4), 0);
  EXPECT_EQ(s.Write(buf, 4), 0);
  EXPECT_EQ(s.Size(), 4);
}

// Growth is computed in 64 bits: a write or size past the stream's limit is a clean out-of-memory
// error that leaves the stream as it was.
TEST(MemoryStream, PastTheLimitIsOutOfMemory) {
  TzfMemoryStream s(-1);
  uint8_t buf[16] = {};
  s.WriteBuffer(buf, 16);
  s.Seek(TzfCustomMemoryStream::kMaxSize - 4, TSeekOrigin::soBeginning);
  EXPECT_THROW(s.Write(buf, 16), zf::rtl::EOutOfMemory);
  EXPECT_EQ(s.Size(), 16);
  EXPECT_EQ(s.Capacity(), 4096);
  s.Seek(0x7FFFFFF0, TSeekOrigin::soCurrent);  // far beyond the 32-bit range
  EXPECT_THROW(s.Write(buf, 16), zf::rtl::EOutOfMemory);
  EXPECT_THROW(s.SetSize(int64_t{3} << 30), zf::rtl::EOutOfMemory);
  EXPECT_THROW(s.SetCapacity(TzfCustomMemoryStream::kMaxSize + 1), zf::rtl::EOutOfMemory);
  EXPECT_EQ(s.Size(), 16);
  EXPECT_EQ(s.Capacity(), 4096);

  // A reservation that would have to double from 1 GB or more is refused the same way.
  TzfMemoryStream big(0x40000000);
  EXPECT_THROW(big.Write(buf, 1), zf::rtl::EOutOfMemory);
  EXPECT_EQ(big.Size(), 0);
  EXPECT_EQ(big.Reserved(), 0);
}

// A position may be set anywhere; a write there is measured without overflowing: the growable
// stream refuses it as out of memory, the static one stores nothing.
TEST(MemoryStream, WriteAtTheFarthestPositionsStoresNothing) {
  uint8_t buf[16] = {};
  for (int64_t pos : {INT64_MAX, INT64_MAX - 8}) {
    TzfMemoryStream s(-1);
    s.WriteBuffer(buf, 4);
    s.Seek(pos, TSeekOrigin::soBeginning);
    EXPECT_THROW(s.Write(buf, 16), zf::rtl::EOutOfMemory);
    EXPECT_EQ(s.Size(), 4);

    uint8_t mem[8] = {};
    TzfStaticMemoryStream st(mem, 8);
    st.Seek(pos, TSeekOrigin::soBeginning);
    EXPECT_EQ(st.Write(buf, 16), 0);
    EXPECT_EQ(st.Position(), 8);
  }
}

TEST(MemoryStream, LoadAndSave) {
  auto data = Pattern(9000, 5);
  TzfStaticMemoryStream src(data.data(), static_cast<int32_t>(data.size()));
  src.Seek(100, TSeekOrigin::soBeginning);

  TzfMemoryStream s;
  s.WriteBuffer("old content that is longer", 26);
  s.LoadFromStream(src);  // from the source's start, whatever its position
  EXPECT_EQ(Content(s), data);

  TzfMemoryStream copy;
  s.SaveToStream(copy);
  EXPECT_EQ(Content(copy), data);

  std::vector<uint8_t> none;
  TzfStaticMemoryStream empty(nullptr, 0);
  s.LoadFromStream(empty);
  EXPECT_EQ(s.Size(), 0);
  TzfMemoryStream target;
  s.SaveToStream(target);
  EXPECT_EQ(target.Size(), 0);

  auto dir = std::filesystem::temp_directory_path() / ("zfstreams_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto file = zf::rtl::u16((dir / "content.bin").string());
  copy.SaveToFile(file);
  TzfMemoryStream loaded;
  loaded.LoadFromFile(file);
  EXPECT_EQ(Content(loaded), data);
  EXPECT_THROW(loaded.LoadFromFile(zf::rtl::u16((dir / "missing.bin").string())), zf::rtl::EStreamError);
  EXPECT_EQ(Content(loaded), data);
  std::filesystem::remove_all(dir);
}

TEST(StaticMemoryStream, WritesOnlyWhatFits) {
  struct Case {
    int64_t pos;
    int32_t count;
    int32_t written;
    int64_t endPos;
  };
  const Case cases[] = {
      {8, 5, 2, 10},   // only the part below the fixed size
      {0, 10, 10, 10},
      {10, 1, 0, 10},  // full: 0, never a negative count
      {14, 3, 0, 10},  // beyond the end: 0 and the position at the size
      {3, 0, 0, 3},
      {3, -2, 0, 3},
      {-1, 4, 0, -1},
  };
  for (const auto& c : cases) {
    uint8_t mem[10] = {};
    uint8_t src[16];
    for (int i = 0; i < 16; ++i) src[i] = static_cast<uint8_t>(0xA0 + i);
    TzfStaticMemoryStream s(mem, 10);
    s.Seek(c.pos, TSeekOrigin::soBeginning);
    EXPECT_EQ(s.Write(src, c.count), c.written) << c.pos << "/" << c.count;
    EXPECT_EQ(s.Position(), c.endPos) << c.pos << "/" << c.count;
    EXPECT_EQ(s.Size(), 10);
    for (int i = 0; i < c.written; ++i) EXPECT_EQ(mem[c.pos + i], src[i]);
  }
  uint8_t mem[4];
  TzfStaticMemoryStream s(mem, 4);
  s.SetSize(100);  // fixed: ignored
  EXPECT_EQ(s.Size(), 4);
  EXPECT_THROW(s.WriteBuffer("abcdef", 6), zf::rtl::EWriteError);
}

TEST(AnsiStringStream, SeekFollowsTheStreamContract) {
  struct Case {
    int64_t offset;
    TSeekOrigin origin;
    int64_t pos;
  };
  const Case cases[] = {
      {-2, TSeekOrigin::soEnd, 8},  {2, TSeekOrigin::soEnd, 10},       {0, TSeekOrigin::soEnd, 10},
      {-20, TSeekOrigin::soEnd, 0}, {4, TSeekOrigin::soBeginning, 4},   {40, TSeekOrigin::soBeginning, 10},
      {-1, TSeekOrigin::soBeginning, 0}, {3, TSeekOrigin::soCurrent, 8}, {-9, TSeekOrigin::soCurrent, 0},
  };
  for (const auto& c : cases) {
    TzfAnsiStringStream s(AnsiString("0123456789"));
    s.Seek(5, TSeekOrigin::soBeginning);
    EXPECT_EQ(s.Seek(c.offset, c.origin), c.pos) << c.offset << " " << static_cast<int>(c.origin);
  }
  TzfAnsiStringStream s(AnsiString("0123456789"));
  EXPECT_EQ(s.GetSize(), 10);
  s.Seek(-3, TSeekOrigin::soEnd);
  EXPECT_EQ(s.ReadString(10).Bytes(), "789");
}

TEST(AnsiStringStream, ReadWriteAndSize) {
  TzfAnsiStringStream s(AnsiString("abc"));
  s.Seek(1, TSeekOrigin::soBeginning);
  EXPECT_EQ(s.Write("XYZW", 4), 4);  // extends the string
  EXPECT_EQ(s.DataString().Bytes(), "aXYZW");
  EXPECT_EQ(s.Write("q", 0), 0);
  EXPECT_EQ(s.Write("q", -3), 0);  // never a negative count
  EXPECT_EQ(s.DataString().Bytes(), "aXYZW");
  s.WriteString(AnsiString("!!"));
  EXPECT_EQ(s.DataString().Bytes(), "aXYZW!!");

  char buf[8] = {};
  s.Seek(0, TSeekOrigin::soBeginning);
  EXPECT_EQ(s.Read(buf, -1), 0);
  EXPECT_EQ(s.Read(buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "aXY");
  EXPECT_EQ(s.ReadString(-1).Bytes(), "");
  EXPECT_EQ(s.ReadString(2).Bytes(), "ZW");

  s.SetSize(2);  // the position comes down to the new length
  EXPECT_EQ(s.GetPosition(), 2);
  EXPECT_EQ(s.DataString().Bytes(), "aX");
  EXPECT_EQ(s.Read(buf, 4), 0);
  EXPECT_EQ(s.ReadString(4).Bytes(), "");
  EXPECT_THROW(s.SetSize(-1), zf::rtl::ERangeError);
}

TEST(AnsiStringStream, WriteStringConvertsToTheSystemCodePage) {
  TzfAnsiStringStream s;
  // "\xE9" in windows-1252 and in Latin-1 is the same letter; in UTF-8 it takes two bytes.
  s.WriteString(AnsiString("caf\xC3\xA9", zf::rtl::CP_UTF8));
  s.WriteString(AnsiString("\xE9", zf::rtl::CP_ACP));
  s.WriteString(AnsiString("\xFF", zf::rtl::CP_RAWBYTES));
  EXPECT_EQ(s.DataString().Bytes(), "caf\xE9\xE9\xFF");
}
