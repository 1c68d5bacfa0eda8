#include "storage/zfseHeaderAccess.h"

#include <cstring>

#include "foundation/zfllConst.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlException.h"

namespace zf {

namespace {

constexpr const char* kUnit = "zfseHeaderAccess";
constexpr TzfBlockSignature kSigCHOF{'C', 'H', 'O', 'F'};
constexpr TzfBlockSignature kSigFBMH{'F', 'B', 'M', 'H'};

[[noreturn]] void RaiseCorrupt() { throw Ezf2xFileHeaderAccessException(zfErrHeaderCorrupt); }

// An engine name field: a length byte and up to 31 bytes (one character each).
void PutNameField(uint8_t* aField, const rtl::UnicodeString& aName) {
  const size_t n = aName.size() < kzfHdrNameFieldSize - 1 ? aName.size() : kzfHdrNameFieldSize - 1;
  aField[0] = static_cast<uint8_t>(n);
  for (size_t i = 0; i < n; ++i) aField[1 + i] = aName[i] < 0x100 ? static_cast<uint8_t>(aName[i]) : uint8_t('?');
}

rtl::UnicodeString GetNameField(const uint8_t* aField) {
  const uint8_t n = aField[0];
  if (n > kzfHdrNameFieldSize - 1) throw EzfFileHeaderAccessException(zfErrHeaderCorrupt);
  rtl::UnicodeString s;
  for (uint8_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(aField[1 + i]));
  return s;
}

bool SameNameIC(const uint8_t* aStored, size_t aLen, std::string_view aName) {
  if (aLen != aName.size()) return false;
  for (size_t i = 0; i < aLen; ++i) {
    uint8_t a = aStored[i], b = static_cast<uint8_t>(aName[i]);
    if (a >= 'a' && a <= 'z') a = static_cast<uint8_t>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<uint8_t>(b - 32);
    if (a != b) return false;
  }
  return true;
}

// The section area of a v2 header block: [directory start, upper end). Raises 8961 when the
// encryption header size or the upper end do not fit the usable size.
uint32_t SectionUpper(const uint8_t* aHeader, uint32_t aUsable) {
  const uint32_t e = zfGetLE16(aHeader + kzfHdrEncryptionHeaderSize);
  const uint32_t upper = zfGetLE16(aHeader + kzfHdrSectionUpper);
  if (aUsable < kzfHdrDirectory + 2 || e + 1 > aUsable - kzfHdrDirectory - 1) RaiseCorrupt();
  if (upper <= kzfHdrDirectory || upper > aUsable - e - 1) RaiseCorrupt();
  return upper;
}

// One walk of the directory. Calls aVisit(pos, nameLen, offset, previous) for every entry until it
// answers true; answers the position of the ending zero byte (or of the entry visited last) and
// the previous section offset there. Every entry must lie before the upper end and point between
// the directory's end and the previous section.
template <typename F>
uint32_t WalkDirectory(const uint8_t* aHeader, uint32_t aUsable, uint32_t& aPrev, F&& aVisit) {
  const uint32_t upper = SectionUpper(aHeader, aUsable);
  aPrev = upper;
  uint32_t pos = kzfHdrDirectory;
  for (;;) {
    // The directory, its ending zero byte included, stays in front of every section.
    if (pos >= aPrev) RaiseCorrupt();
    const uint32_t len = aHeader[pos];
    if (len == 0) return pos;
    const uint32_t entryEnd = pos + 1 + len + 2;
    if (entryEnd >= aPrev) RaiseCorrupt();
    const uint32_t off = zfGetLE16(aHeader + pos + 1 + len);
    if (off > aPrev || off <= entryEnd) RaiseCorrupt();
    if (aVisit(pos, len, off, aPrev)) return pos;
    aPrev = off;
    pos = entryEnd;
  }
}

template <class T>
std::unique_ptr<TzfBaseFileHeaderAccessFactory> MakeFactory(const TzfBlockSignature& aSignature, TzfBaseFile& aFile,
                                                            PzfBlock aHeader) {
  auto f = std::make_unique<T>(aFile);
  f->Initialize(aSignature, aHeader);
  return f;
}

template <class T>
std::unique_ptr<TzfBaseFileHeaderAccess> MakeAccess(TzfBaseFile& aFile, TzfBaseTransaction* aTrans, bool aMarkDirty,
                                                    TzfBlockAccess* aBlockAccess) {
  std::unique_ptr<TzfBaseFileHeaderAccess> a = std::make_unique<T>(aFile, aMarkDirty, aBlockAccess);
  a->Init(aTrans);
  return a;
}

[[noreturn]] void RaiseNotSupported(const char16_t* aOperation, const char16_t* aClass) {
  throw EzfFileHeaderAccessException(zfErrNotSupported, u"%s not supported by %s", {aOperation, aClass});
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Section directory

uint16_t zf2xFindHeaderSection(const uint8_t* aHeader, uint32_t aUsable, std::string_view aName, uint8_t aSize) {
  uint32_t prev = 0;
  uint16_t found = 0;
  bool hit = false;
  WalkDirectory(aHeader, aUsable, prev, [&](uint32_t pos, uint32_t len, uint32_t off, uint32_t previous) {
    if (!SameNameIC(aHeader + pos + 1, len, aName)) return false;
    if (previous - off != aSize) RaiseCorrupt();
    found = static_cast<uint16_t>(off);
    hit = true;
    return true;
  });
  if (!hit) throw Ezf2xFileHeaderAccessException(zfErrObjNotFound);
  return found;
}

uint16_t zf2xCreateHeaderSection(uint8_t* aHeader, uint32_t aUsable, std::string_view aName, uint8_t aSize,
                                 bool aOverwrite) {
  if (aName.empty() || aName.size() > 255) throw Ezf2xFileHeaderAccessException(zfErrInvalidParam);
  uint32_t prev = 0;
  bool exists = false;
  const uint32_t end = WalkDirectory(aHeader, aUsable, prev, [&](uint32_t pos, uint32_t len, uint32_t, uint32_t) {
    exists = SameNameIC(aHeader + pos + 1, len, aName);
    return exists;
  });
  if (exists) {
    if (!aOverwrite) throw Ezf2xFileHeaderAccessException(zfErrNameNotUnique);
    return zf2xFindHeaderSection(aHeader, aUsable, aName, aSize);
  }
  const uint32_t len = static_cast<uint32_t>(aName.size());
  if (prev - end < aSize + len + 4) throw Ezf2xFileHeaderAccessException(zfErrNoMemory, u"File header is full");
  const uint16_t offset = static_cast<uint16_t>(prev - aSize);
  aHeader[end] = static_cast<uint8_t>(len);
  std::memcpy(aHeader + end + 1, aName.data(), len);
  zfPutLE16(aHeader + end + 1 + len, offset);
  aHeader[end + 3 + len] = 0;
  return offset;
}

void zf2xCheckSectionDirectory(const uint8_t* aHeader, uint32_t aUsable) {
  uint32_t prev = 0;
  WalkDirectory(aHeader, aUsable, prev, [](uint32_t, uint32_t, uint32_t, uint32_t) { return false; });
}

uint16_t zf1xHeaderSectionOffset(std::string_view aName) {
  static constexpr struct {
    const char* Name;
    uint16_t Offset;
  } kSections[] = {{"Encryption", 256}, {"Stream", 512}, {"AutoInc", 768},
                   {"Record", 1024},    {"Blob", 1280},  {"Indices", 1536}};
  for (const auto& s : kSections)
    if (SameNameIC(reinterpret_cast<const uint8_t*>(s.Name), std::strlen(s.Name), aName)) return s.Offset;
  throw Ezf1xFileHeaderAccessException(zfErrNotSupported, u"Custom HeaderSections are not supported in a v1 header");
}

// ---------------------------------------------------------------------------------------------
// Factories

const TzfFileHeaderAccessFactoryClass& TzfCommonFileHeaderAccessFactory::ClassInfo() {
  static const TzfFileHeaderAccessFactoryClass info{u"TzfCommonFileHeaderAccessFactory",
                                                    &MakeFactory<TzfCommonFileHeaderAccessFactory>,
                                                    &TzfCommonFileHeaderAccessFactory::ClassAdditionalReservedSpace,
                                                    &TzfCommonFileHeaderAccessFactory::ClassCheckValid};
  return info;
}

const TzfFileHeaderAccessClass& TzfCommonFileHeaderAccessFactory::GetFileHeaderAccessClass() const {
  return TzfCommonFileHeaderAccess::ClassInfo();
}

void TzfCommonFileHeaderAccessFactory::Initialize(const TzfBlockSignature& aSignature, PzfBlock aHeader) {
  TzfBaseFile& file = *bfhafFile;
  if (!zfIsZeroSignature(aSignature)) {
    CheckHeaderCreation(aHeader, true);
    const uint32_t physical = file.PhysicalBlockBytes();
    std::memset(aHeader, 0, physical);
    zfWriteBlockCommonHeader(aHeader, {aSignature, 0, 0});
    aHeader[kzfHdrBlockSizeCode] = static_cast<uint8_t>(file.fiBlockSize);
    uint32_t usable = physical;
    // The per-block reserve of the engine from the file's own list (server or client).
    if (!file.fiEncryptionEngineName.empty())
      usable -= TzfBaseEncryptionEngine::ReservedSpacePerBlock(file.fiEncryptionEngineName, file.fiForServer,
                                                               file.fiBlockSize);
    usable -= static_cast<uint32_t>(AdditionalReserve());
    zfPutLE32(aHeader + kzfHdrUsableSize, usable);
    file.fiBlockSizeBytes = usable;
    PutNameField(aHeader + kzfHdrEncryptionName, file.fiEncryptionEngineName);
    PutNameField(aHeader + kzfHdrStreamName, file.fiStreamEngineName);
    zfPutLE32(aHeader + kzfHdrUsedBlocks, 1);
    file.fiUsedBlocks = 1;
    zfPutLE32(aHeader + kzfHdrFreeCount, 0);
    zfPutLE32(aHeader + kzfHdrFreeHead, kzfNoBlock);
    zfPutLE32(aHeader + kzfHdrEngineVersion, static_cast<uint32_t>(file.fiZofrinVersion));
    return;
  }
  // Reading: every field is checked before the file takes it.
  const uint8_t code = aHeader[kzfHdrBlockSizeCode];
  if (!zfIsValidBlockSizeCode(code)) throw EzfFileHeaderAccessException(zfErrHeaderCorrupt);
  const TzfBlockSize blockSize = static_cast<TzfBlockSize>(code);
  const uint32_t physical = zfBlockBytes(blockSize);
  const uint32_t usable = zfGetLE32(aHeader + kzfHdrUsableSize);
  const rtl::UnicodeString encryption = GetNameField(aHeader + kzfHdrEncryptionName);
  const rtl::UnicodeString stream = GetNameField(aHeader + kzfHdrStreamName);
  const uint32_t used = zfGetLE32(aHeader + kzfHdrUsedBlocks);
  const uint32_t formatUsable = physical - static_cast<uint32_t>(AdditionalReserve());
  if (encryption.empty()) {
    if (usable != formatUsable) throw EzfFileHeaderAccessException(zfErrHeaderCorrupt);
  } else {
    // An engine's reserve is small; the exact figure is checked when the engine is known.
    const TzfEncryptionEngineClass* engine = TzfBaseEncryptionEngine::FindEngineClass(encryption, file.fiForServer);
    if (engine ? usable != formatUsable - engine->ReservedSpacePerBlock(blockSize)
               : (usable > formatUsable || usable + 1024 < formatUsable))
      throw EzfFileHeaderAccessException(zfErrHeaderCorrupt);
  }
  if (used < 1) throw EzfFileHeaderAccessException(zfErrHeaderCorrupt);
  file.fiBlockSize = blockSize;
  file.fiBlockSizeBytes = usable;
  file.fiUsedBlocks = used;
  file.fiEncryptionEngineName = encryption;
  file.fiStreamEngineName = stream;
  file.fiZofrinVersion = static_cast<int32_t>(zfGetLE32(aHeader + kzfHdrEngineVersion));
}

const TzfFileHeaderAccessFactoryClass& Tzf1xFileHeaderAccessFactory::ClassInfo() {
  static const TzfFileHeaderAccessFactoryClass info{u"Tzf1xFileHeaderAccessFactory",
                                                    &MakeFactory<Tzf1xFileHeaderAccessFactory>,
                                                    &Tzf1xFileHeaderAccessFactory::ClassAdditionalReservedSpace,
                                                    &Tzf1xFileHeaderAccessFactory::ClassCheckValid};
  return info;
}

const TzfFileHeaderAccessClass& Tzf1xFileHeaderAccessFactory::GetFileHeaderAccessClass() const {
  return Tzf1xFileHeaderAccess::ClassInfo();
}

void Tzf1xFileHeaderAccessFactory::CheckHeaderCreation(PzfBlock, bool aCreating) {
  if (aCreating) throw Ezf1xFileHeaderAccessException(zfErrNotSupported, u"Can't create new files with v1 header");
}

void Tzf1xFileHeaderAccessFactory::ClassCheckValid(TzfDataDictionary&, bool aForBuild) {
  if (aForBuild) throw Ezf1xFileHeaderAccessException(zfErrNotSupported, u"Can't create new files with v1 header");
}

const TzfFileHeaderAccessFactoryClass& Tzf2xFileHeaderAccessFactory::ClassInfo() {
  static const TzfFileHeaderAccessFactoryClass info{u"Tzf2xFileHeaderAccessFactory",
                                                    &MakeFactory<Tzf2xFileHeaderAccessFactory>,
                                                    &Tzf2xFileHeaderAccessFactory::ClassAdditionalReservedSpace,
                                                    &Tzf2xFileHeaderAccessFactory::ClassCheckValid};
  return info;
}

const TzfFileHeaderAccessClass& Tzf2xFileHeaderAccessFactory::GetFileHeaderAccessClass() const {
  return Tzf2xFileHeaderAccess::ClassInfo();
}

void Tzf2xFileHeaderAccessFactory::Initialize(const TzfBlockSignature& aSignature, PzfBlock aHeader) {
  TzfCommonFileHeaderAccessFactory::Initialize(aSignature, aHeader);
  TzfBaseFile& file = *bfhafFile;
  const uint32_t usable = file.fiBlockSizeBytes;
  if (!zfIsZeroSignature(aSignature)) {
    const uint32_t e = TzfBaseEncryptionEngine::ReservedHeaderSpace(file.fiEncryptionEngineName, file.fiForServer);
    if (e > 0xFFFF || e + 1 > usable - kzfHdrDirectory - 1)
      throw Ezf2xFileHeaderAccessException(zfErrNoMemory, u"File header is full");
    zfPutLE16(aHeader + kzfHdrEncryptionHeaderSize, static_cast<uint16_t>(e));
    zfPutLE16(aHeader + kzfHdrSectionUpper, static_cast<uint16_t>(usable - e - 1));
    aHeader[kzfHdrDirectory] = 0;
    return;
  }
  // The encryption header and the free-block cache must fit; the directory is checked once the
  // whole block is read (CheckHeader).
  const uint32_t e = zfGetLE16(aHeader + kzfHdrEncryptionHeaderSize);
  if (e + 1 > usable - kzfHdrDirectory - 1) RaiseCorrupt();
  // An engine's area smaller than the engine works on would let it read and write past the area.
  if (e != 0 && !file.fiEncryptionEngineName.empty())
    if (const TzfEncryptionEngineClass* engine =
            TzfBaseEncryptionEngine::FindEngineClass(file.fiEncryptionEngineName, file.fiForServer))
      if (e < engine->ReservedHeaderSpace() + engine->ChecksumSize()) RaiseCorrupt();
  if (zfGetLE32(aHeader + kzfHdrFreeCount) > kzfHdrFreeCacheEntries) RaiseCorrupt();
}

void Tzf2xFileHeaderAccessFactory::CheckHeader(const uint8_t* aHeader) {
  zf2xCheckSectionDirectory(aHeader, bfhafFile->fiBlockSizeBytes);
}

void Tzf2xFileHeaderAccessFactory::InitTableChecksum(PzfBlock aHeader, bool aCreating) {
  TzfBaseFile& file = *bfhafFile;
  if (!file.fiEncryptionEngine) {
    file.fiCheckSumSize = 0;
    file.fiChecksum.clear();
    return;
  }
  file.fiCheckSumSize = file.fiEncryptionEngine->ClassType().ChecksumSize();
  if (file.fiCheckSumSize > zfGetLE16(aHeader + kzfHdrEncryptionHeaderSize)) {
    if (aCreating) rtl::AssertionFailure(kUnit, __LINE__);
    RaiseCorrupt();
  }
  PzfByteArray area = GetTableChecksum(aHeader);
  if (!area) return;
  // A new file's running checksum starts at zero beside its zeroed area, so that every block
  // written from the start is folded into it.
  if (aCreating) std::memset(area, 0, file.fiCheckSumSize);
  file.fiChecksum.assign(area, area + file.fiCheckSumSize);
}

int32_t Tzf2xFileHeaderAccessFactory::GetID(const uint8_t* aBlock) {
  return static_cast<int32_t>(zfGetLE32(aBlock + bfhafFile->fiBlockSizeBytes));
}

PzfByteArray Tzf2xFileHeaderAccessFactory::GetEncryptionEngineHeader(PzfBlock aHeader) {
  const uint32_t e = zfGetLE16(aHeader + kzfHdrEncryptionHeaderSize);
  if (e == 0) return nullptr;
  return aHeader + bfhafFile->fiBlockSizeBytes - e - 1;
}

PzfByteArray Tzf2xFileHeaderAccessFactory::GetTableChecksum(PzfBlock aHeader) {
  const uint32_t cs = bfhafFile->fiCheckSumSize;
  if (cs == 0) return nullptr;
  ZF_ASSERT(zfGetLE16(aHeader + kzfHdrEncryptionHeaderSize) >= cs, kUnit);
  return aHeader + bfhafFile->fiBlockSizeBytes - cs - 1;
}

void Tzf2xFileHeaderAccessFactory::VerifyID(const uint8_t* aBlock, TzfBlockNumber aBlockNum, int32_t aID) {
  TzfBaseFileHeaderAccessFactory::VerifyID(aBlock, aBlockNum, aID);
  if (aID == 0) return;
  const int32_t found = GetID(aBlock);
  if (found != aID)
    throw Ezf2xFileHeaderAccessException(zfErrFileCorrupt, u"Expected BlockOwnerID %d but found %d in file \"%s\" for block %d",
                                         {aID, found, bfhafFile->FileName(), zfGetThisBlock(aBlock)});
}

bool Tzf2xFileHeaderAccessFactory::Belongs(const uint8_t* aBlock, TzfBlockNumber aBlockNum, int32_t aID) {
  return TzfBaseFileHeaderAccessFactory::Belongs(aBlock, aBlockNum, aID) && (aID == 0 || GetID(aBlock) == aID);
}

void Tzf2xFileHeaderAccessFactory::ValidateBlock(const uint8_t* aBlock, TzfBlockNumber aBlockNum) {
  TzfBaseFileHeaderAccessFactory::ValidateBlock(aBlock, aBlockNum);
  const TzfBlockSignature sig = zfGetBlockSignature(aBlock);
  if (zfGetThisBlock(aBlock) == 0) {
    if (sig != zfHeaderSignature2)
      throw Ezf2xFileHeaderAccessException(zfErrFileCorrupt, u"Block 0 has not the correct signature");
    return;
  }
  const int32_t id = GetID(aBlock);
  const rtl::UnicodeString name = bfhafFile->FileName();
  if (id == kzfOwnerHeaderOverflow) {
    if (sig != kSigCHOF)
      throw Ezf2xFileHeaderAccessException(
          zfErrFileCorrupt,
          u"Block %d in file \"%s\" has the BlockOwnerID of a child header overflow block but has a signature of \"%s\"",
          {aBlockNum, name, zfSignatureText(sig)});
  } else if (id == kzfOwnerFreeBlockMap) {
    if (sig != kSigFBMH)
      throw Ezf2xFileHeaderAccessException(
          zfErrFileCorrupt,
          u"Block %d in file \"%s\" has the BlockOwnerID of the free block map but has a signature of \"%s\"",
          {aBlockNum, name, zfSignatureText(sig)});
  } else if (id < 0 || id > bfhafFile->fiMaxID) {
    throw Ezf2xFileHeaderAccessException(
        zfErrFileCorrupt,
        u"Expected BlockOwnerID smaller or equal to %d but found %d in file \"%s\" for block %d. The header "
        u"signature is \"%s\"",
        {bfhafFile->fiMaxID, id, name, aBlockNum, zfSignatureText(sig)});
  }
}

// ---------------------------------------------------------------------------------------------
// Access classes

const TzfFileHeaderAccessClass& TzfCommonFileHeaderAccess::ClassInfo() {
  static const TzfFileHeaderAccessClass info{u"TzfCommonFileHeaderAccess", &MakeAccess<TzfCommonFileHeaderAccess>};
  return info;
}

uint32_t TzfCommonFileHeaderAccess::UsedBlockCount() {
  return bfhaMainHeader ? bfhaMainHeader->UsedBlockCount() : zfGetLE32(Header + kzfHdrUsedBlocks);
}

uint32_t TzfCommonFileHeaderAccess::FreeBlockCount() {
  return bfhaMainHeader ? bfhaMainHeader->FreeBlockCount() : zfGetLE32(Header + kzfHdrFreeCount);
}

PzfBlock TzfCommonFileHeaderAccess::GetNewBlock(TzfBaseTransaction*, int32_t, TzfReleaseMethod&) {
  RaiseNotSupported(u"GetNewBlock", ClassName());
}

void TzfCommonFileHeaderAccess::DeleteBlock(TzfBaseTransaction*, PzfBlock) { RaiseNotSupported(u"DeleteBlock", ClassName()); }

uint16_t TzfCommonFileHeaderAccess::RegisterHeaderSection(std::string_view, uint8_t, bool, bool) {
  RaiseNotSupported(u"RegisterHeaderSection", ClassName());
}

const TzfFileHeaderAccessClass& Tzf1xFileHeaderAccess::ClassInfo() {
  static const TzfFileHeaderAccessClass info{u"Tzf1xFileHeaderAccess", &MakeAccess<Tzf1xFileHeaderAccess>};
  return info;
}

uint16_t Tzf1xFileHeaderAccess::RegisterHeaderSection(std::string_view aName, uint8_t, bool aCreate, bool) {
  if (aCreate && !bfhaIsDirty) throw Ezf1xFileHeaderAccessException(zfErrWriteErr);
  return zf1xHeaderSectionOffset(aName);
}

const TzfFileHeaderAccessClass& Tzf2xFileHeaderAccess::ClassInfo() {
  static const TzfFileHeaderAccessClass info{u"Tzf2xFileHeaderAccess", &MakeAccess<Tzf2xFileHeaderAccess>};
  return info;
}

uint16_t Tzf2xFileHeaderAccess::RegisterHeaderSection(std::string_view aName, uint8_t aSize, bool aCreate,
                                                      bool aOverwrite) {
  const uint32_t usable = bfhaHeaderFile->fiBlockSizeBytes;
  if (!aCreate) return zf2xFindHeaderSection(Header, usable, aName, aSize);
  if (!bfhaIsDirty) throw Ezf2xFileHeaderAccessException(zfErrWriteErr);
  return zf2xCreateHeaderSection(Header, usable, aName, aSize, aOverwrite);
}

void Tzf2xFileHeaderAccess::ChangePassword(const rtl::UnicodeString& aNewPassword) {
  TzfBaseFile& file = *bfhaHeaderFile;
  if (!file.fiEncryptionEngine || !file.fiHeaderAccessFactory) TzfBaseFileHeaderAccess::ChangePassword(aNewPassword);
  // The engine's area lies in block 0: the root table's header for a nested table.
  PzfBlock block0 = bfhaMainHeader ? bfhaMainHeader->Header : Header;
  file.fiEncryptionEngine->ChangePassword(file.fiHeaderAccessFactory->GetEncryptionEngineHeader(block0), aNewPassword);
}

rtl::TUnitInit& zfseHeaderAccessUnit() {
  static rtl::TUnitInit unit(
      "zfseHeaderAccess",
      [] {
        TzfBaseFileHeaderAccessFactory::Register(Tzf1xFileHeaderAccessFactory::ClassInfo(), zfHeaderSignature1);
        TzfBaseFileHeaderAccessFactory::Register(Tzf2xFileHeaderAccessFactory::ClassInfo(), zfHeaderSignature2);
      },
      [] {
        TzfBaseFileHeaderAccessFactory::UnRegister(Tzf2xFileHeaderAccessFactory::ClassInfo());
        TzfBaseFileHeaderAccessFactory::UnRegister(Tzf1xFileHeaderAccessFactory::ClassInfo());
      });
  return unit;
}

}  // namespace zf
