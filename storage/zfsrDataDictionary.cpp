#include "storage/zfsrDataDictionary.h"

#include "foundation/zfllStreams.h"
#include "storage/zfsrEncryptionEngineBase.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {

const TzfDictionaryItemClassInfo& TzfServerDataDict::ClassInfo() {
  static const TzfDictionaryItemClassInfo info(u"TzfServerDataDict", &TzfDataDictionary::ClassInfo(), nullptr, nullptr);
  return info;
}

void TzfServerDataDict::ReadFromFile(TzfBaseStreamEngine& aStreamEngine, TzfBaseTransaction* aTrans) {
  TzfBlockAccess* file = aStreamEngine.bseDataFile;
  TzfMemoryStream ms;
  if (aStreamEngine.ReadNamedStream(aTrans, u"DICT", ms) != 0)
    throw EzfServerDataDictException(zfErrCantOpenFile, u"The data dictionary is missing (%s)", {file->baFile->FileName()});
  ms.SetPosition(0);
  ReadFromStream(ms, file->baBaseName);
  HeaderSignature = file->baFile->fiHeaderSignature;
  ForceOnReadOnly();
}

void TzfServerDataDict::WriteToFile(TzfBaseStreamEngine& aStreamEngine, TzfBaseTransaction* aTrans, int32_t aVersion) {
  CheckValid(false);
  ddBaseName = aStreamEngine.bseDataFile->baBaseName;
  TzfMemoryStream ms;
  WriteToStream(ms, aVersion);
  zfRaiseIfError(aStreamEngine.WriteNamedStream(aTrans, u"DICT", ms));
  MakeReadOnly();
}

void TzfServerDataDict::ForceOffReadOnly() {
  ddReadOnly = false;
  DeactivateCache();
}

void TzfServerDataDict::CheckValid(bool aForBuild) {
  TzfDataDictionary::CheckValid(aForBuild);
  TzfBaseFileHeaderAccessFactory::CheckValid(*this, aForBuild);
  TzfBaseSubEngine::CheckValidAll(*this);
}

uint32_t TzfServerDataDict::UsableBlockSize(TzfBlockSize aBlockSize) {
  uint32_t size = TzfDataDictionary::UsableBlockSize(aBlockSize);
  if (!EncryptionEngine.empty()) size -= TzfBaseEncryptionEngine::ReservedSpacePerBlock(EncryptionEngine, false, aBlockSize);
  size -= uint32_t(TzfBaseFileHeaderAccessFactory::GetAdditionalReservedSpace(HeaderSignature));
  return size;
}

bool TzfServerDataDict::IsEqualClass(const TzfDictionaryItem* aItem) const {
  if (TzfDataDictionary::IsEqualClass(aItem)) return true;
  return aItem && &ClassType() == &TzfServerDataDict::ClassInfo() && &aItem->ClassType() == &TzfDataDictionary::ClassInfo();
}

rtl::TUnitInit& zfsrDataDictionaryUnit() {
  static rtl::TUnitInit unit("zfsrDataDictionary", nullptr, nullptr);
  return unit;
}

}  // namespace zf
