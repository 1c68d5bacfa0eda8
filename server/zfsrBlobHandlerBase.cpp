#include "server/zfsrBlobHandlerBase.h"

#include "dictionary/zfsdFieldsDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "storage/zfsrTransaction.h"

namespace zf {

const rtl::TClassInfo& TzfBaseBlobHandler::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfBaseBlobHandler", &TzfExtendableServerObject::ClassInfo()};
  return info;
}

std::vector<int32_t> TzfBaseBlobHandler::BlobFieldsOf(const TzfFieldsDescriptor* aFieldsDescriptor) {
  std::vector<int32_t> fields;
  if (!aFieldsDescriptor) return fields;
  for (int32_t i = 0; i < aFieldsDescriptor->FieldCount; ++i)
    if (zfIsBlobType(aFieldsDescriptor->FieldDescriptor[static_cast<size_t>(i)]->fdType)) fields.push_back(i);
  return fields;
}

int64_t TzfBaseBlobHandler::BlobNrOf(const TzfFieldsDescriptor& aFieldsDescriptor, const uint8_t* aRecord,
                                     int32_t aField, bool& aIsNull) {
  int64_t nr = 0;
  aIsNull = true;
  aFieldsDescriptor.GetRecordField(aField, aRecord, aIsNull, &nr);
  return aIsNull ? 0 : nr;
}

uint32_t TzfBaseBlobHandler::RunRecordHook(TzfBaseTransaction* aTrans, const std::function<uint32_t()>& aWork) {
  uint32_t r = 0;
  try {
    r = aWork();
  } catch (const std::exception& e) {
    r = asoConvertException(e);
  }
  if (r != 0 && aTrans) aTrans->MarkCorrupted();
  return r;
}

const rtl::TClassInfo& TzfNullBlobHandler::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfNullBlobHandler", &TzfBaseBlobHandler::ClassInfo()};
  return info;
}

uint32_t TzfNullBlobHandler::NotSupported() {
  return EzfBaseException::zfSetMessage(zfErrNotSupported, u"Operation not supported by TzfNullBlobHandler");
}

}  // namespace zf
