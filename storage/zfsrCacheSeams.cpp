// Placeholders for the operations of the table file and its header access that the block cache,
// the block access and the storage transactions define. Until those units exist each raises
// 12289; the units that define them replace this file.
#include "storage/zfseHeaderAccess.h"
#include "storage/zfsrFile.h"

#include "foundation/zfllErrors.h"

namespace zf {

namespace {

[[noreturn]] void NotYet(const char16_t* aOperation) {
  throw EzfServerException(zfErrNotSupported, u"%s not supported by %s", {aOperation, u"this storage build"});
}

}  // namespace

uint32_t TzfBaseFile::AddHeader(TzfBaseTransaction*, const TzfUnicodeStrings&, const TzfBlockSignature&) {
  NotYet(u"AddHeader");
}
void TzfBaseFile::TouchedBy(TzfBaseTransaction*) { NotYet(u"TouchedBy"); }
void TzfBaseFile::LeaveTransaction() { NotYet(u"LeaveTransaction"); }

void TzfBaseFileHeaderAccess::Init(TzfBaseTransaction*) { NotYet(u"Init"); }
void TzfBaseFileHeaderAccess::ReadHeaderBlock(TzfBaseTransaction*) { NotYet(u"ReadHeaderBlock"); }
void TzfBaseFileHeaderAccess::MarkDirty(TzfBaseTransaction*) { NotYet(u"MarkDirty"); }
std::unique_ptr<TzfBaseFileHeaderAccess> TzfBaseFileHeaderAccessFactory::CreateFileHeaderAccess(TzfBaseTransaction*,
                                                                                               bool, TzfBlockAccess*) {
  NotYet(u"CreateFileHeaderAccess");
}

PzfBlock Tzf1xFileHeaderAccess::GetNewBlock(TzfBaseTransaction*, int32_t, TzfReleaseMethod&) { NotYet(u"GetNewBlock"); }
void Tzf1xFileHeaderAccess::DeleteBlock(TzfBaseTransaction*, PzfBlock) { NotYet(u"DeleteBlock"); }
void Tzf2xFileHeaderAccess::ReadHeaderBlock(TzfBaseTransaction*) { NotYet(u"ReadHeaderBlock"); }
PzfBlock Tzf2xFileHeaderAccess::GetNewBlock(TzfBaseTransaction*, int32_t, TzfReleaseMethod&) { NotYet(u"GetNewBlock"); }
void Tzf2xFileHeaderAccess::DeleteBlock(TzfBaseTransaction*, PzfBlock) { NotYet(u"DeleteBlock"); }
TzfBlockNumber Tzf2xFileHeaderAccess::GetHeaderBlockForID(TzfBaseTransaction*, int32_t) {
  NotYet(u"GetHeaderBlockForID");
}

}  // namespace zf
