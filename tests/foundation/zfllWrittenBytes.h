// The bytes a writer run puts on a memory stream: shared by the tests and the fuzz targets that
// compare streams written back.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"

namespace zf::test {

// The stream bytes of a writer run.
inline std::vector<uint8_t> Written(const std::function<void(TzfWriter&)>& aWrite) {
  TzfMemoryStream s;
  {
    TzfWriter w(s);
    aWrite(w);
  }
  std::vector<uint8_t> r(static_cast<size_t>(s.GetSize()));
  s.SetPosition(0);
  if (!r.empty()) s.Read(r.data(), static_cast<int32_t>(r.size()));
  return r;
}

}  // namespace zf::test
