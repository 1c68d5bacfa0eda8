#include "storage/zfsrTempStorage.h"

#include "foundation/zfllErrors.h"

namespace zf {

namespace {

[[noreturn]] void NotSupported(const char16_t* aOperation) {
  throw EzfServerException(zfErrNotSupported, u"%s is not supported by %s",
                           {aOperation, TzfNullTempStorage::ClassInfo().Name});
}

}  // namespace

const TzfTempStorageClass* zfTempStorageClass = nullptr;

const TzfTempStorageClass& TzfNullTempStorage::ClassInfo() {
  static const TzfTempStorageClass info{u"TzfNullTempStorage", [](const rtl::UnicodeString& aDir) {
                                          return std::unique_ptr<TzfBaseTempStorage>(new TzfNullTempStorage(aDir));
                                        }};
  return info;
}

void TzfNullTempStorage::ReadBlock(TzfBlockTmpNum, TzfBlockSizeAll, PzfBlock) { NotSupported(u"ReadBlock"); }
void TzfNullTempStorage::PeekBlock(TzfBlockTmpNum, TzfBlockSizeAll, PzfBlock) { NotSupported(u"PeekBlock"); }
void TzfNullTempStorage::ReleaseBlock(TzfBlockTmpNum, TzfBlockSizeAll) { NotSupported(u"ReleaseBlock"); }
TzfBlockTmpNum TzfNullTempStorage::WriteBlock(PzfBlock, TzfBlockSizeAll) { NotSupported(u"WriteBlock"); }

void TzfLockFailureReason::Clear() {
  rtl::TStringList::Clear();
  SameSession = false;
}

}  // namespace zf
