#include "storage/zfsrFile.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "foundation/zfllConst.h"
#include "foundation/zfllConvertException.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfsrFile";

// Removes "." and ".." components and doubled separators of an absolute path.
rtl::UnicodeString NormalisePath(const rtl::UnicodeString& aPath) {
  std::vector<rtl::UnicodeString> parts;
  for (const rtl::UnicodeString& p : rtl::SplitString(aPath, u'/')) {
    if (p.empty() || p == u".") continue;
    if (p == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(p);
  }
  rtl::UnicodeString r;
  for (const rtl::UnicodeString& p : parts) r += u"/" + p;
  return r.empty() ? rtl::UnicodeString(u"/") : r;
}

rtl::UnicodeString CurrentDir() {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof buf)) return u"/";
  return rtl::u16(buf);
}

// ---- factory registry ----

struct TFactoryRegistry {
  std::mutex Lock;
  std::unique_ptr<std::map<std::string, const TzfFileHeaderAccessFactoryClass*>> List;
};

TFactoryRegistry& Factories() {
  static TFactoryRegistry r;
  return r;
}

std::string SignatureKey(const TzfBlockSignature& aSignature) { return std::string(aSignature.data(), 4); }

// The registered class for aSignature; 15414 when nothing is registered, nullptr when the
// signature is unknown.
const TzfFileHeaderAccessFactoryClass* LookupFactory(const TzfBlockSignature& aSignature) {
  TFactoryRegistry& r = Factories();
  std::lock_guard<std::mutex> g(r.Lock);
  if (!r.List) throw EzfFileHeaderAccessException(zfErrNoFileHeaderAccessFactories);
  auto it = r.List->find(SignatureKey(aSignature));
  return it == r.List->end() ? nullptr : it->second;
}

const TzfFileHeaderAccessFactoryClass& RequireFactory(const TzfBlockSignature& aSignature) {
  const TzfFileHeaderAccessFactoryClass* c = LookupFactory(aSignature);
  if (!c) throw EzfFileHeaderAccessException(zfErrFileHeaderAccessNotSupported);
  return *c;
}

}  // namespace

rtl::UnicodeString zfFileFolderOf(const rtl::UnicodeString& aName) {
  rtl::UnicodeString folder = rtl::ExtractFilePath(aName);
  if (folder.empty() || folder[0] != u'/') folder = CurrentDir() + u"/" + folder;
  folder = NormalisePath(folder);
  char resolved[PATH_MAX];
  if (::realpath(rtl::u8(folder).c_str(), resolved)) folder = rtl::u16(resolved);
  if (folder.empty() || folder.back() != u'/') folder += u'/';
  return folder;
}

// ---------------------------------------------------------------------------------------------
// TzfBaseFile

const TzfFileClass* TzfBaseFile::TableFileInfoClass = nullptr;
const TzfFileClass* TzfBaseFile::DefaultFileInfoClass = nullptr;

TzfBaseFile::TzfBaseFile() = default;

// The cache detaches a file (its blocks and snapshot links) before the owner frees it; the
// encryption engine and the factory go with the object.
TzfBaseFile::~TzfBaseFile() = default;

std::unique_ptr<TzfBaseFile> TzfBaseFile::Alloc(bool aForTable, const rtl::UnicodeString& aName,
                                                TzfBufferManager* aBufMgr) {
  const TzfFileClass* cls = aForTable ? TableFileInfoClass : DefaultFileInfoClass;
  if (!cls) rtl::AssertionFailure(kUnit, __LINE__);
  std::unique_ptr<TzfBaseFile> file = cls->Create();
  file->fiName = aName;
  file->fiPath = zfFileFolderOf(aName);
  file->fiBufMgr = aBufMgr;
  return file;
}

rtl::UnicodeString TzfBaseFile::ExpandRelativeFileName(const rtl::UnicodeString& aFileName) {
  rtl::UnicodeString name = rtl::Trim(aFileName);
  if (!name.empty() && name[0] == u'/') return name;
  fiPath = zfFileFolderOf(fiName);
  return fiPath + name;
}

uint32_t TzfBaseFile::PhysicalBlockCount() {
  return rtl::RangeChecked<uint32_t>(FileSize() / static_cast<int64_t>(PhysicalBlockBytes()));
}

rtl::UnicodeString TzfBaseFile::FileName() const {
  if (HasAttribute(zffaTemporary)) return u"(memory)";
  return fiPath + rtl::ExtractFileName(fiName);
}

void TzfBaseFile::fiUpdateTableChecksum(PzfBlock aHeader) {
  ZF_ASSERT(fiEncryptionEngine != nullptr, kUnit);
  ZF_ASSERT(fiChecksum.size() == fiEncryptionEngine->ClassType().ChecksumSize(), kUnit);
  PzfByteArray area = fiHeaderAccessFactory ? fiHeaderAccessFactory->GetTableChecksum(aHeader) : nullptr;
  if (area && !fiChecksum.empty()) std::memcpy(area, fiChecksum.data(), fiChecksum.size());
}

uint32_t TzfBaseFile::InitHeader(PzfBlock aBlock0, const TzfUnicodeStrings& aPasswords,
                                 const TzfBlockSignature& aSignature) {
  fiHeaderAccessFactory.reset();
  fiHeaderSignature = aSignature;
  fiHeaderAccessFactory = TzfBaseFileHeaderAccessFactory::CreateFactory(aSignature, aBlock0, *this);
  fiEncryptionEngine.reset();
  uint32_t result = 0;
  if (!fiEncryptionEngineName.empty())
    result = TzfBaseEncryptionEngine::CreateEngine(fiEncryptionEngineName, aPasswords,
                                                   fiHeaderAccessFactory->GetEncryptionEngineHeader(aBlock0), true,
                                                   fiForServer, fiEncryptionEngine);
  if (result == 0) fiHeaderAccessFactory->InitTableChecksum(aBlock0, true);
  return result;
}

uint32_t TzfBaseFile::ReadHeader(const TzfUnicodeStrings& aPasswords, bool& aIsReadOnly) {
  aIsReadOnly = false;
  uint32_t result = 0;
  fiHeaderAccessFactory.reset();
  TzfPooledBlock buffer(TzfBlockSizeAll::zfbs64k);
  uint8_t* block = buffer.Data();
  try {
    ReadFileExactAt(0, kzfMinBlockSizeBytes, block);
    fiHeaderSignature = zfGetBlockSignature(block);
    fiHeaderAccessFactory = TzfBaseFileHeaderAccessFactory::CreateFactory(TzfBlockSignature{}, block, *this);
    if (PhysicalBlockBytes() > kzfMinBlockSizeBytes) ReadFileExactAt(0, PhysicalBlockBytes(), block);
    fiHeaderAccessFactory->CheckHeader(block);
    if (fiZofrinVersion > zfEngineVersion) {
      result = EzfBaseException::zfSetMessage(
          zfErrTableTooNew,
          u"Table \"%s\" was created with version %5.4f of ZofrinDB, which is newer than this server's version "
          u"(%5.4f).",
          {FileName(), fiZofrinVersion / 10000.0, zfEngineVersion / 10000.0});
    } else {
      int64_t maxBlocks = CalcMaxFileSize() >> BlockShift();
      fiMaxBlocks = maxBlocks > int64_t(0xFFFFFFFF) ? 0xFFFFFFFFu : static_cast<uint32_t>(maxBlocks < 0 ? 0 : maxBlocks);
      fiEncryptionEngine.reset();
      if (!fiEncryptionEngineName.empty()) {
        result = TzfBaseEncryptionEngine::CreateEngine(fiEncryptionEngineName, aPasswords,
                                                       fiHeaderAccessFactory->GetEncryptionEngineHeader(block), false,
                                                       fiForServer, fiEncryptionEngine);
        if (result == zfErrTableReadOnly) {
          aIsReadOnly = true;
          result = 0;
        }
      }
      if (result == 0) fiHeaderAccessFactory->InitTableChecksum(block, false);
      if (result == 0 && fiEncryptionEngine) fiEncryptionEngine->VerifyHeaderChecksum(block, PhysicalBlockBytes());
    }
  } catch (...) {
    fiHeaderAccessFactory.reset();
    fiEncryptionEngine.reset();
    throw;
  }
  if (result != 0) {
    fiHeaderAccessFactory.reset();
    fiEncryptionEngine.reset();
  }
  return result;
}

TzfBlockIteratorResult TzfBaseFile::Iterate(void* aCookie, bool aDecrypt, const TzfBlockCookieIterator& aIterator) {
  const uint32_t bytes = PhysicalBlockBytes();
  TzfPooledBlock buffer(zfBlockSizeAllOf(fiBlockSize));
  TzfByteDynArray cookie;
  TzfBlockIteratorResult result = birContinue;
  // A failure of FileSize passes on: it must not pass for an empty file.
  const int64_t size = FileSize();
  const uint32_t count = rtl::RangeChecked<uint32_t>(size / bytes);
  for (uint32_t i = 0; i < count && result != birStop; ++i) {
    TzfBlockReadFailure failure;
    bool ok = false;
    cookie.clear();
    try {
      const int64_t offset = static_cast<int64_t>(i) << BlockShift();
      if (aDecrypt)
        ReadDecryptFileExactAt(offset, bytes, buffer.Data(), cookie);
      else
        ReadFileExactAt(offset, bytes, buffer.Data());
      ok = true;
    } catch (const rtl::EOutOfMemory&) {
      throw;
    } catch (const EzfBaseException& e) {
      failure.ErrorCode = e.ErrorCode();
      failure.Message = e.Message();
    } catch (const std::exception& e) {
      failure.ErrorCode = zfConvertException(e, nullptr, nullptr);
      failure.Message = rtl::u16(e.what());
    }
    if (aIterator) result = aIterator(aCookie, i, ok ? buffer.Data() : nullptr, cookie, ok ? nullptr : &failure);
  }
  // A partial block at the end is a block that cannot be read in full: it is reported, not dropped.
  const int64_t tail = size - static_cast<int64_t>(count) * bytes;
  if (result != birStop && tail > 0 && aIterator) {
    TzfBlockReadFailure failure;
    failure.ErrorCode = zfErrReadErr;
    failure.Message = rtl::Format(u"INTERNAL: Could not read exact number of bytes from file [%s, %d bytes]",
                                  {FileName(), bytes});
    cookie.clear();
    result = aIterator(aCookie, count, nullptr, cookie, &failure);
  }
  return result;
}

TzfBlockIteratorResult TzfBaseFile::IterateBlocks(void* aCookie, const TzfBlockIterator& aIterator) {
  return Iterate(aCookie, true,
                 [&](void* c, TzfBlockNumber n, PzfBlock b, const TzfByteDynArray&, const TzfBlockReadFailure* f) {
                   return aIterator ? aIterator(c, n, b, f) : birContinue;
                 });
}

TzfBlockIteratorResult TzfBaseFile::IterateBlocksRaw(void* aCookie, const TzfBlockIterator& aIterator) {
  return Iterate(aCookie, false,
                 [&](void* c, TzfBlockNumber n, PzfBlock b, const TzfByteDynArray&, const TzfBlockReadFailure* f) {
                   return aIterator ? aIterator(c, n, b, f) : birContinue;
                 });
}

TzfBlockIteratorResult TzfBaseFile::IterateBlockCookies(void* aCookie, const TzfBlockCookieIterator& aIterator) {
  return Iterate(aCookie, true, aIterator);
}

// ---------------------------------------------------------------------------------------------
// TzfBaseFileHeaderAccess

TzfBaseFileHeaderAccess::TzfBaseFileHeaderAccess(TzfBaseFile& aFile, bool aMarkDirty, TzfBlockAccess* aBlockAccess)
    : bfhaHeaderFile(&aFile), bfhaIsDirty(aMarkDirty), bfhaBlockAccess(aBlockAccess) {}

TzfBaseFileHeaderAccess::~TzfBaseFileHeaderAccess() {
  if (Header && bfhaRelease) bfhaRelease(Header);
}

void TzfBaseFileHeaderAccess::ChangePassword(const rtl::UnicodeString&) {
  throw EzfFileHeaderAccessException(zfErrNotSupported, u"%s not supported by %s", {u"ChangePassword", ClassName()});
}

// ---------------------------------------------------------------------------------------------
// TzfBaseFileHeaderAccessFactory

void TzfBaseFileHeaderAccessFactory::RaiseBlockMismatch(TzfBlockNumber aExpected, TzfBlockNumber aStored) const {
  throw EzfFileHeaderAccessException(zfErrFileCorrupt,
                                     u"Block %d is identified as block %d in the block header in file \"%s\"",
                                     {aExpected, aStored, bfhafFile->FileName()});
}

void TzfBaseFileHeaderAccessFactory::VerifyID(const uint8_t* aBlock, TzfBlockNumber aBlockNum, int32_t aID) {
  if (!TzfBaseFileHeaderAccessFactory::Belongs(aBlock, aBlockNum, aID)) RaiseBlockMismatch(aBlockNum, zfGetThisBlock(aBlock));
}

bool TzfBaseFileHeaderAccessFactory::Belongs(const uint8_t* aBlock, TzfBlockNumber aBlockNum, int32_t aID) {
  const TzfBlockNumber stored = zfGetThisBlock(aBlock);
  return stored == aBlockNum || (aID == 0 && stored == 0);
}

void TzfBaseFileHeaderAccessFactory::ValidateBlock(const uint8_t* aBlock, TzfBlockNumber aBlockNum) {
  const TzfBlockNumber stored = zfGetThisBlock(aBlock);
  if (stored != aBlockNum) RaiseBlockMismatch(aBlockNum, stored);
}

void TzfBaseFileHeaderAccessFactory::Register(const TzfFileHeaderAccessFactoryClass& aClass,
                                              const TzfBlockSignature& aSignature) {
  TFactoryRegistry& r = Factories();
  std::lock_guard<std::mutex> g(r.Lock);
  if (!r.List) r.List = std::make_unique<std::map<std::string, const TzfFileHeaderAccessFactoryClass*>>();
  if (!r.List->emplace(SignatureKey(aSignature), &aClass).second)
    throw rtl::EStringListError(u"String list does not allow duplicates");
}

void TzfBaseFileHeaderAccessFactory::UnRegister(const TzfFileHeaderAccessFactoryClass& aClass) {
  TFactoryRegistry& r = Factories();
  std::lock_guard<std::mutex> g(r.Lock);
  if (!r.List) return;
  for (auto it = r.List->begin(); it != r.List->end();) it = it->second == &aClass ? r.List->erase(it) : std::next(it);
  if (r.List->empty()) r.List.reset();
}

const TzfFileHeaderAccessFactoryClass* TzfBaseFileHeaderAccessFactory::FindFactoryClass(
    const TzfBlockSignature& aSignature) {
  TFactoryRegistry& r = Factories();
  std::lock_guard<std::mutex> g(r.Lock);
  if (!r.List) return nullptr;
  auto it = r.List->find(SignatureKey(aSignature));
  return it == r.List->end() ? nullptr : it->second;
}

std::unique_ptr<TzfBaseFileHeaderAccessFactory> TzfBaseFileHeaderAccessFactory::CreateFactory(
    const TzfBlockSignature& aSignature, PzfBlock aHeader, TzfBaseFile& aFile) {
  const TzfBlockSignature sig = zfIsZeroSignature(aSignature) ? zfGetBlockSignature(aHeader) : aSignature;
  const TzfFileHeaderAccessFactoryClass* c = LookupFactory(sig);
  if (!c)
    throw EzfFileHeaderAccessException(zfErrCantOpenFile,
                                       u"\"%s\" is not a ZofrinDB formatted file, or its file header is corrupt",
                                       {aFile.FileName()});
  return c->Create(aSignature, aFile, aHeader);
}

void TzfBaseFileHeaderAccessFactory::CheckValid(TzfDataDictionary& aDictionary, bool aForBuild) {
  RequireFactory(aDictionary.HeaderSignature).CheckValid(aDictionary, aForBuild);
}

int32_t TzfBaseFileHeaderAccessFactory::GetAdditionalReservedSpace(const TzfBlockSignature& aSignature) {
  return RequireFactory(aSignature).GetAdditionalReservedSpace();
}

rtl::TUnitInit& zfsrFileUnit() {
  static rtl::TUnitInit unit("zfsrFile", nullptr, nullptr);
  return unit;
}

}  // namespace zf
