#include "storage/zfsrRecordCompressionEngineBase.h"

#include "foundation/zfllErrors.h"
#include "storage/zfseRecordCompressionEngineSmart.h"

namespace zf {

namespace {

// The record compression engines by name. Fixed: two engines exist, both in this layer.
enum class TKind { Unknown, Null, Smart };

TKind KindOf(const UnicodeString& aName) {
  if (rtl::SameText(aName, u"Null")) return TKind::Null;
  if (rtl::SameText(aName, u"Smart")) return TKind::Smart;
  return TKind::Unknown;
}

[[noreturn]] void RaiseUnknown(const UnicodeString& aName) {
  throw EzfBaseRecordCompressionEngineException(zfErrSubEngineNotSupported, u"Unknown %s engine: \"%s\"",
                                                {u"RecordCompression", aName});
}

}  // namespace

TzfBaseRecordCompressionEngine::TzfBaseRecordCompressionEngine(TzfBaseRecordCompressionDescriptor* aDescriptor,
                                                               TzfFieldsDescriptor* aFields, int32_t aTableVersion)
    : brceDescriptor(aDescriptor),
      brceFields(aFields),
      bseID(aDescriptor ? aDescriptor->diID : 0),
      bseTableVersion(aTableVersion) {}

std::unique_ptr<TzfBaseRecordCompressionEngine> TzfBaseRecordCompressionEngine::CreateEngine(
    TzfBaseRecordCompressionDescriptor* aDescriptor, TzfFieldsDescriptor* aFields, int32_t aTableVersion) {
  if (!aDescriptor) return std::make_unique<TzfNullRecordCompressionEngine>(nullptr, aFields, aTableVersion);
  switch (KindOf(aDescriptor->brcdRecordCompressionEngine)) {
    case TKind::Null:
      return std::make_unique<TzfNullRecordCompressionEngine>(aDescriptor, aFields, aTableVersion);
    case TKind::Smart:
      return std::make_unique<TzfSmartRecordCompressionEngine>(aDescriptor, aFields, aTableVersion);
    default:
      RaiseUnknown(aDescriptor->brcdRecordCompressionEngine);
  }
}

void TzfBaseRecordCompressionEngine::CheckValidBaseFromDescriptor(TzfBaseRecordCompressionDescriptor* aDescriptor) {
  if (aDescriptor && KindOf(aDescriptor->brcdRecordCompressionEngine) == TKind::Unknown)
    RaiseUnknown(aDescriptor->brcdRecordCompressionEngine);
}

void TzfNullRecordCompressionEngine::DecompressRecord(const uint8_t*, uint16_t, uint8_t*) {
  throw EzfNullRecordCompressionEngineException(
      zfErrNotSupported, u"DecompressRecord is not supported by TzfNullRecordCompressionEngine");
}

}  // namespace zf
