#include "storage/zfsrBlobEngineBase.h"

#include <algorithm>
#include <vector>

#include "storage/zfsrFile.h"

namespace zf {

TzfBlobLinkGetLength zfBlobLinkGetLengthOf(TzfBaseBlobLinkHandler* aHandler) {
  if (!aHandler) return {};
  return [aHandler](const UnicodeString& aTable, int64_t aBlobNr, uint32_t& aLength) {
    return aHandler->BlobLinkGetLength(aTable, aBlobNr, aLength);
  };
}

TzfBlobLinkRead zfBlobLinkReadOf(TzfBaseBlobLinkHandler* aHandler) {
  if (!aHandler) return {};
  return [aHandler](const UnicodeString& aTable, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                    rtl::TStream& aStream) { return aHandler->BlobLinkRead(aTable, aBlobNr, aOffset, aLen, aStream); };
}

TzfBaseBlobEngine::TzfBaseBlobEngine(TzfBaseBlobDescriptor* aDescriptor, TzfBaseTransaction*,
                                     const TzfBlockAccessList& aFiles)
    : TzfBaseSubEngine(aDescriptor ? aDescriptor->diID : 0, zfSubEngineFile(aFiles, 0)->baFile->fiZofrinVersion),
      bbeBlobFile(zfSubEngineFile(aFiles, aDescriptor ? aDescriptor->bbdFileNumber : 0)) {}

const TzfBlobEngineClass& TzfBaseBlobEngine::ClassInfo() {
  static const TzfBlobEngineClass info(u"TzfBaseBlobEngine", &TzfBaseSubEngine::ClassInfo(),
                                       &zfFamilyList<TzfBaseBlobEngine>, &TzfBaseBlobEngine::CheckValidDescriptor,
                                       nullptr);
  return info;
}

std::unique_ptr<TzfBaseBlobEngine> TzfBaseBlobEngine::CreateEngine(TzfBaseTableDescriptor& aTable,
                                                                   const TzfBlockAccessList& aFiles,
                                                                   TzfBaseTransaction* aTrans) {
  return CreateEngine(aTable.tdBlobDescriptor.get(), aFiles, aTrans);
}

std::unique_ptr<TzfBaseBlobEngine> TzfBaseBlobEngine::CreateEngine(TzfBaseBlobDescriptor* aDescriptor,
                                                                   const TzfBlockAccessList& aFiles,
                                                                   TzfBaseTransaction* aTrans) {
  if (!aDescriptor) return nullptr;
  const auto& c =
      zfFindSubEngine<TzfBlobEngineClass, EzfBaseBlobEngineException>(ClassInfo(), aDescriptor->bbdBlobEngine);
  if (!c.Create) zfRaiseUnknownSubEngine<EzfBaseBlobEngineException>(ClassInfo(), aDescriptor->bbdBlobEngine);
  return c.Create(aDescriptor, aTrans, aFiles);
}

void TzfBaseBlobEngine::CheckValidDescriptor(TzfBaseTableDescriptor& aTable) {
  CheckValidFromDescriptor(aTable.tdBlobDescriptor.get());
}

void TzfBaseBlobEngine::CheckValidFromDescriptor(TzfBaseBlobDescriptor* aDescriptor) {
  if (!aDescriptor) return;
  const auto& c =
      zfFindSubEngine<TzfBlobEngineClass, EzfBaseBlobEngineException>(ClassInfo(), aDescriptor->bbdBlobEngine);
  if (c.CheckValidEngineDescriptor) c.CheckValidEngineDescriptor(aDescriptor);
}

void TzfBaseBlobEngine::Rollback(TzfBaseTransaction*) {}

namespace {

// Runs aWork on the external file opened read-only and shared, without the buffer manager, and
// closes it; the engine's open, read and close failures become the file BLOB codes.
uint32_t WithExternalFile(TzfBlockAccess* aBlobFile, const UnicodeString& aFileName,
                          const std::function<void(TzfBaseFile&)>& aWork) {
  try {
    const UnicodeString name = aBlobFile->baFile->ExpandRelativeFileName(aFileName);
    std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, name, nullptr);
    file->OpenFile(omReadOnly, smShared, false, false);
    try {
      aWork(*file);
    } catch (...) {
      try {
        file->CloseFile();
      } catch (...) {
      }
      throw;
    }
    file->CloseFile();
    return 0;
  } catch (const EzfBaseException& e) {
    switch (e.ErrorCode()) {
      case zfErrReadErr:
        return zfErrFileBlobRead;
      case zfErrFileBusy:
        return zfErrFileBlobOpen;
      case zfErrFileCloseFailed:
        return zfErrFileBlobClose;
      default:
        throw;
    }
  }
}

}  // namespace

uint32_t TzfBaseBlobEngine::ExternalFileLength(const UnicodeString& aFileName, uint32_t& aLength) {
  return WithExternalFile(bbeBlobFile, aFileName,
                          [&](TzfBaseFile& f) { aLength = rtl::RangeChecked<uint32_t>(f.FileSize()); });
}

uint32_t TzfBaseBlobEngine::ReadExternalFile(const UnicodeString& aFileName, uint32_t aOffset, rtl::TStream& aStream,
                                             uint32_t aLen) {
  return WithExternalFile(bbeBlobFile, aFileName, [&](TzfBaseFile& f) {
    // Only what the file holds is read, so a damaged length never sizes the buffer.
    const int64_t size = f.FileSize();
    if (aLen == 0 || int64_t(aOffset) >= size) return;
    const uint32_t n = uint32_t(std::min<int64_t>(aLen, size - int64_t(aOffset)));
    std::vector<uint8_t> buffer(n);
    const uint32_t got = f.ReadFileAt(aOffset, n, buffer.data());
    aStream.WriteBuffer(buffer.data(), got);
  });
}

namespace {
void Init() { zfRegisterSubEngineBase(TzfBaseBlobEngine::ClassInfo()); }
void Fini() { zfUnregisterSubEngineBase(TzfBaseBlobEngine::ClassInfo()); }
}  // namespace

rtl::TUnitInit& zfsrBlobEngineBaseUnit() {
  static rtl::TUnitInit unit("zfsrBlobEngineBase", &Init, &Fini);
  return unit;
}

}  // namespace zf
