#include "storage/zfsrRecordEngineBase.h"

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "storage/zfsrFile.h"

namespace zf {

TzfBaseRecordEngine::TzfBaseRecordEngine(TzfBaseRecordDescriptor* aDescriptor, TzfFieldsDescriptor* aFields,
                                         TzfBaseTransaction*, const TzfBlockAccessList& aFiles)
    : TzfBaseSubEngine(aDescriptor ? aDescriptor->diID : 0,
                       zfSubEngineFile(aFiles, 0)->baFile->fiZofrinVersion),
      breDataFile(zfSubEngineFile(aFiles, aDescriptor ? aDescriptor->brdFileNumber : 0)),
      breRecordLength(0) {
  const int32_t len = aFields ? aFields->GetRecordLength() : 0;
  if (len <= 0 || len >= 65536)
    throw EzfBaseRecordEngineException(zfErrInvalidRecStruct, u"Record length out of range: %d", {int64_t(len)});
  breRecordLength = uint32_t(len);
  TempRecBuf.resize(breRecordLength);
}

const TzfRecordEngineClass& TzfBaseRecordEngine::ClassInfo() {
  static const TzfRecordEngineClass info(u"TzfBaseRecordEngine", &TzfBaseSubEngine::ClassInfo(),
                                         &zfFamilyList<TzfBaseRecordEngine>, &TzfBaseRecordEngine::CheckValidDescriptor,
                                         nullptr);
  return info;
}

std::unique_ptr<TzfBaseRecordEngine> TzfBaseRecordEngine::CreateEngine(TzfBaseTableDescriptor& aTable,
                                                                       const TzfBlockAccessList& aFiles,
                                                                       TzfBaseTransaction* aTrans) {
  TzfBaseRecordDescriptor* d = aTable.tdRecordDescriptor.get();
  if (!d) return nullptr;
  const TzfRecordEngineClass& c =
      zfFindSubEngine<TzfRecordEngineClass, EzfBaseRecordEngineException>(ClassInfo(), d->brdRecordEngine);
  if (!c.Create) zfRaiseUnknownSubEngine<EzfBaseRecordEngineException>(ClassInfo(), d->brdRecordEngine);
  return c.Create(d, aTable.tdFieldsDescriptor.get(), aTrans, aFiles);
}

void TzfBaseRecordEngine::CheckValidDescriptor(TzfBaseTableDescriptor& aTable) {
  TzfBaseRecordDescriptor* d = aTable.tdRecordDescriptor.get();
  if (!d) return;
  const TzfRecordEngineClass& c =
      zfFindSubEngine<TzfRecordEngineClass, EzfBaseRecordEngineException>(ClassInfo(), d->brdRecordEngine);
  if (c.CheckValidEngineDescriptor) c.CheckValidEngineDescriptor(aTable);
}

void zfFitRecordFileBlockSize(TzfBaseTableDescriptor& aTable, uint32_t aNeeded) {
  auto* dict = dynamic_cast<TzfDataDictionary*>(&aTable);
  auto usable = [&](TzfBlockSize aSize) {
    return dict ? dict->UsableBlockSize(aSize) : zfFileBlockSizeBytes(aSize) - 4;
  };
  int code = 0;
  while (code <= int(zfbsLastFileBlockSize) && usable(TzfBlockSize(code)) < aNeeded) ++code;
  if (code > int(zfbsLastFileBlockSize)) throw EzfBaseRecordEngineException(zfErrMaxRecordSizeExceeded);
  if (!dict || !dict->ddFilesDescriptor || !aTable.tdRecordDescriptor) return;
  const int32_t n = aTable.tdRecordDescriptor->brdFileNumber;
  TzfFilesDescriptor& files = *dict->ddFilesDescriptor;
  if (n < 0 || n >= files.FileCount || !files.FileDescriptor[size_t(n)]) return;
  TzfFileDescriptor& f = *files.FileDescriptor[size_t(n)];
  if (int(f.fdBlockSize) < code) f.SetBlockSize(TzfBlockSize(code));
}

namespace {
void Init() { zfRegisterSubEngineBase(TzfBaseRecordEngine::ClassInfo()); }
void Fini() { zfUnregisterSubEngineBase(TzfBaseRecordEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfsrRecordEngineBaseUnit() {
  static rtl::TUnitInit unit("zfsrRecordEngineBase", &Init, &Fini);
  return unit;
}

}  // namespace zf
