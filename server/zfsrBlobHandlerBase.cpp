#include "server/zfsrBlobHandlerBase.h"

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"

namespace zf {

const rtl::TClassInfo& TzfBaseBlobHandler::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfBaseBlobHandler", &TzfExtendableServerObject::ClassInfo()};
  return info;
}

const rtl::TClassInfo& TzfNullBlobHandler::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfNullBlobHandler", &TzfBaseBlobHandler::ClassInfo()};
  return info;
}

uint32_t TzfNullBlobHandler::NotSupported() {
  return EzfBaseException::zfSetMessage(zfErrNotSupported, u"Operation not supported by TzfNullBlobHandler");
}

}  // namespace zf
