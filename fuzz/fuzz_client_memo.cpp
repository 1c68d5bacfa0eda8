// Fuzzes a memo's way through the tool's copy-back: the stored BLOB bytes of a memo field of the
// failed table are decoded into text (TzfMemoField::DecodeMemo), and that text is stored into the
// memo field of the recovered table, whose storage code page or width may differ
// (TzfMemoField::EncodeMemo, what setting the field's text does), and read back from there.
//
// Input: byte 0 the source memo, byte 1 the target memo: bit 7 a wide memo, the rest the storage
// code page of the memo's locale; the remaining bytes are the source BLOB's content.
//
// A wide memo must give exactly half its byte count in UTF-16 units (an odd last byte dropped)
// and never read past the bytes; a memo of any code page must decode and encode without a crash,
// answering the run time's or the engine's exceptions at most. Text stored into a wide memo reads
// back unchanged, and a wide memo copied into a wide memo keeps its bytes.
//
// The first fifteen code pages are the ones the seeds name; the rest reach the converters with
// state or several bytes a character (ISO-2022, HZ, GB 18030, EUC, Johab, EBCDIC, right-to-left).
// fuzz/corpus/fuzz_client_memo.dict holds lead bytes, escape sequences and surrogates of these.
// The crash log is quiet for the run: a refused conversion raises, and a report of each would cost
// more than the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "client/zfdbBlob.h"
#include "client/zfdbStartup.h"
#include "foundation/zfExceptionHook.h"
#include "foundation/zfllException.h"
#include "platform/rtl/rtlException.h"

namespace {

const uint16_t kCodePages[] = {0,     850,   1250,  1251,  1252,  932,   936,   949,   950,   65001, 20127,
                               437,   1200,  65000, 42,    50220, 50225, 52936, 54936, 20932, 51949, 1361,
                               37,    1026,  864,   1255,  1256,  1258,  874,   10004, 20866, 28596};

struct TMemo {
  bool Wide;
  uint16_t CodePage;
};

TMemo MemoOf(uint8_t aByte) {
  return {(aByte & 0x80) != 0, kCodePages[(aByte & 0x7F) % (sizeof(kCodePages) / sizeof(kCodePages[0]))]};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = (zf::zfStartClient(), true);
  static zf::TzfExceptionHook quiet(u"");
  (void)started;
  if (aSize < 2) return 0;
  const TMemo source = MemoOf(aData[0]), target = MemoOf(aData[1]);
  const size_t length = aSize - 2;
  zf::rtl::UnicodeString text;
  try {
    text = zf::TzfMemoField::DecodeMemo(aData + 2, length, source.Wide, source.CodePage);
    if (source.Wide && text.size() != length / 2) __builtin_trap();
    if (!source.Wide && text.size() > length * 2) __builtin_trap();  // no code page makes more than 2 units of a byte
  } catch (const zf::EzfBaseException&) {
    return 0;
  } catch (const zf::rtl::Exception&) {
    return 0;
  }
  try {
    const std::vector<uint8_t> stored = zf::TzfMemoField::EncodeMemo(text, target.Wide, target.CodePage);
    if (target.Wide && stored.size() != text.size() * 2) __builtin_trap();
    const zf::rtl::UnicodeString back =
        zf::TzfMemoField::DecodeMemo(stored.data(), stored.size(), target.Wide, target.CodePage);
    if (target.Wide && back != text) __builtin_trap();
    // Bytes a wide memo stored go back into the wide form unchanged.
    if (source.Wide && target.Wide) {
      const std::vector<uint8_t> again = zf::TzfMemoField::EncodeMemo(back, true, 0);
      if (again.size() != (length & ~size_t(1)) || !std::equal(again.begin(), again.end(), aData + 2)) __builtin_trap();
    }
  } catch (const zf::EzfBaseException&) {
  } catch (const zf::rtl::Exception&) {
  }
  return 0;
}
