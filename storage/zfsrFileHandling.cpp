#include "storage/zfsrFileHandling.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "platform/os/osSystem.h"

namespace zf {

namespace {
std::string Native(const rtl::UnicodeString& aName) { return rtl::u8(aName); }
}  // namespace

void zfDeleteFile(const rtl::UnicodeString& aFileName) {
  if (::unlink(Native(aFileName).c_str()) != 0) {
    os::SetLastError(errno);
    throw zfCreateOSErrorException<EzfFileManagementException>(zfErrFileDeleteFailed, u"DeleteFile (\"%s\")",
                                                               {aFileName});
  }
}

void zfMoveFile(const rtl::UnicodeString& aOldName, const rtl::UnicodeString& aNewName) {
  if (std::rename(Native(aOldName).c_str(), Native(aNewName).c_str()) != 0) {
    os::SetLastError(errno);
    throw zfCreateOSErrorException<EzfFileManagementException>(
        zfErrFileRenameFailed, u"RenameFile (from \"%s\" to \"%s\")", {aOldName, aNewName});
  }
}

rtl::UnicodeString zfCombinePath(const rtl::UnicodeString& aDirectory, const rtl::UnicodeString& aFileName) {
  if (aDirectory.empty() || aDirectory.back() == u'/' || aDirectory.back() == u'\\') return aDirectory + aFileName;
  return aDirectory + kzfPathDelim + aFileName;
}

rtl::UnicodeString zfAddExtension(const rtl::UnicodeString& aFileName, const rtl::UnicodeString& aExtension) {
  return aFileName + u"." + aExtension;
}

rtl::TUnitInit& zfsrFileHandlingUnit() {
  static rtl::TUnitInit unit("zfsrFileHandling", nullptr, nullptr);
  return unit;
}

}  // namespace zf
