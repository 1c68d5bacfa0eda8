#include "storage/zfsrBlock.h"

namespace zf {

rtl::UnicodeString zfSignatureText(const TzfBlockSignature& aSignature) {
  rtl::UnicodeString s;
  for (char c : aSignature) s.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
  return s;
}

TzfPooledBlock::TzfPooledBlock(TzfBlockSizeAll aSize)
    : FSize(aSize), FData(static_cast<uint8_t*>(zfBlockPoolAlloc(aSize))) {}

TzfPooledBlock::~TzfPooledBlock() {
  void* p = FData;
  if (p) zfBlockPoolDispose(FSize, p);
}

}  // namespace zf
