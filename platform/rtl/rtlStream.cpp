#include "platform/rtl/rtlStream.h"

#include <algorithm>
#include <vector>

#include "platform/rtl/rtlException.h"

namespace zf::rtl {

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError(u"Stream does not support resizing"); }

void TStream::ReadBuffer(void* aBuffer, int64_t aCount) {
  auto* p = static_cast<uint8_t*>(aBuffer);
  while (aCount > 0) {
    int32_t chunk = static_cast<int32_t>(std::min<int64_t>(aCount, 0x40000000));
    int32_t got = Read(p, chunk);
    if (got <= 0) throw EReadError(u"Stream read error");
    p += got;
    aCount -= got;
  }
}

void TStream::WriteBuffer(const void* aBuffer, int64_t aCount) {
  auto* p = static_cast<const uint8_t*>(aBuffer);
  while (aCount > 0) {
    int32_t chunk = static_cast<int32_t>(std::min<int64_t>(aCount, 0x40000000));
    int32_t put = Write(p, chunk);
    if (put <= 0) throw EWriteError(u"Stream write error");
    p += put;
    aCount -= put;
  }
}

int64_t TStream::CopyFrom(TStream& aSource, int64_t aCount) {
  if (aCount == 0) {
    aSource.SetPosition(0);
    aCount = aSource.GetSize();
  }
  int64_t total = aCount;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(aCount, 1), 0xF000)));
  while (aCount > 0) {
    int64_t n = std::min<int64_t>(aCount, static_cast<int64_t>(buf.size()));
    aSource.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    aCount -= n;
  }
  return total;
}

}  // namespace zf::rtl
