#include "storage/zfsrStartup.h"

#include "dictionary/zfsdStartup.h"
#include "foundation/zfllBaseCipher.h"
#include "foundation/zfllBlowfishRC4.h"
#include "storage/zfseAutoIncEngineSimple.h"
#include "storage/zfseBlobEngineSegmented.h"
#include "storage/zfseBlobEngineSimple.h"
#include "storage/zfseEncryptionEngineBlowfishRC4.h"
#include "storage/zfseHeaderAccess.h"
#include "storage/zfseHeapEngineKinds.h"
#include "storage/zfseJournalEngine.h"
#include "storage/zfseRecordEngineStatic.h"
#include "storage/zfseRecordEngineVariable.h"
#include "storage/zfsrRecordCompressionEngineBase.h"
#include "storage/zfseStreamEngineSimple.h"
#include "storage/zfseTemporaryStorageChunked.h"
#include "storage/zfsrEncryptionEngineBase.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrFileImpl.h"
#include "storage/zfsrAutoIncEngineBase.h"
#include "storage/zfsrBlobEngineBase.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrDataDictionary.h"
#include "storage/zfsrFileHandling.h"
#include "storage/zfsrHeapEngineBase.h"
#include "storage/zfsrStreamEngineBase.h"
#include "storage/zfsrSubEngineBase.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {

// Units in link order. Each unit declares `zf::rtl::TUnitInit& <unit>Unit()` in its header.
zf::rtl::TStartupList BuildList() {
  zf::rtl::TStartupList list;
  list.Add(zfsrTimeoutHandlingUnit());
  list.Add(zfsrEncryptionEngineBaseUnit());
  list.Add(zfsrFileUnit());
  list.Add(zfsrFileImplUnit());
  list.Add(zfsrBufferManagerUnit());
  list.Add(zfseTemporaryStorageChunkedUnit());
  list.Add(zfsrBlockAccessUnit());
  list.Add(zfsrSubEngineBaseUnit());
  list.Add(zfsrStreamEngineBaseUnit());
  list.Add(zfseStreamEngineSimpleUnit());
  list.Add(zfsrAutoIncEngineBaseUnit());
  list.Add(zfseAutoIncEngineSimpleUnit());
  // The engine kinds register in this order: stream, auto-increment, BLOB, block heap, heap,
  // record, (indices, from the index layer), record compression.
  list.Add(zfsrBlobEngineBaseUnit());
  list.Add(zfsrHeapEngineBaseUnit());
  list.Add(zfseHeapEngineKindsUnit());
  list.Add(zfsrRecordEngineBaseUnit());
  list.Add(zfseRecordEngineStaticUnit());
  list.Add(zfsrRecordCompressionEngineBaseUnit());
  list.Add(zfseRecordEngineVariableUnit());
  list.Add(zfseBlobEngineSegmentedUnit());
  list.Add(zfseBlobEngineSimpleUnit());
  list.Add(zfllBaseCipherUnit());
  list.Add(zfllBlowfishRC4Unit());
  list.Add(zfseEncryptionEngineBlowfishRC4Unit());
  list.Add(zfseHeaderAccessUnit());
  list.Add(zfsrFileHandlingUnit());
  list.Add(zfsrDataDictionaryUnit());
  list.Add(zfseJournalEngineUnit());
  return list;
}

zf::rtl::TLayerStartup& Layer() {
  static zf::rtl::TLayerStartup layer(&BuildList, &zfStartDictionary, &zfStopDictionary);
  return layer;
}

}  // namespace

void zfStartStorage() { Layer().Start(); }

void zfStopStorage() { Layer().Stop(); }

}  // namespace zf
