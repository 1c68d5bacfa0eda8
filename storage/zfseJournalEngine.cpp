#include "storage/zfseJournalEngine.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlRegistry.h"
#include "storage/zfsrBlockObjects.h"
#include "storage/zfsrFileHandling.h"

namespace zf {

const TzfJournalEngineClass* zfJournalEngineClassSetting = nullptr;
TzfJournalCheckCallback zfJournalCheckCallback;
TzfJournalCrashHook zfJournalCrashHook;

namespace {

constexpr uint32_t kComplete = 0xFFFFFFFF;
constexpr uint8_t kBeforeImage = 0xFF;
constexpr uint32_t kNameField = 12;

rtl::TNameRegistry<const TzfJournalEngineClass*>& Registry() {
  static rtl::TNameRegistry<const TzfJournalEngineClass*> r;
  return r;
}

bool HasSig(const uint8_t* aBytes, const char* aSig) { return std::memcmp(aBytes, aSig, 4) == 0; }

[[noreturn]] void RaiseShortRead(const UnicodeString& aFile, uint32_t aBytes) {
  throw Ezf1xJournalEngineException(zfErrReadErr,
                                    u"INTERNAL: Could not read exact number of bytes from file [%s, %d bytes]",
                                    {aFile, aBytes});
}

[[noreturn]] void RaiseBadRecord(const UnicodeString& aFile, int64_t aOffset, const char16_t* aWhy) {
  throw Ezf1xJournalEngineException(zfErrReadErr, u"The journal \"%s\" holds a damaged record at offset %d: %s",
                                    {aFile, aOffset, UnicodeString(aWhy)});
}

UnicodeString WithDelimiter(const UnicodeString& aPath) {
  if (aPath.empty() || aPath.back() == kzfPathDelim) return aPath;
  return aPath + kzfPathDelim;
}

// One image to apply: the target file, the block and where its image lies in the journal.
struct TReplayItem {
  UnicodeString Target;
  uint32_t Block;
  int64_t ImageAt;
  uint32_t Size;
};

// What a target table file is: its size code and how many blocks it holds on disk.
struct TTargetInfo {
  uint8_t SizeCode;
  uint64_t Blocks;
  uint64_t Records = 0;
};

// Checks a target named by a record: a plain name (or a name in the journal's folder), an existing
// file whose block 0 carries a registered header signature.
UnicodeString ResolveTarget(const UnicodeString& aStored, const UnicodeString& aFolder, const UnicodeString& aJournal,
                            int64_t aOffset) {
  UnicodeString name = aStored;
  const size_t cut = name.find_last_of(u"/\\");
  if (cut != UnicodeString::npos) {
    UnicodeString folder = name.substr(0, cut + 1);
    if (!folder.empty() && folder.back() == u'\\') folder.back() = kzfPathDelim;
    if (folder != aFolder) RaiseBadRecord(aJournal, aOffset, u"the table file lies in another folder");
    name = name.substr(cut + 1);
  }
  if (name.empty() || name == u"." || name == u"..") RaiseBadRecord(aJournal, aOffset, u"no table file name");
  return aFolder + name;
}

TTargetInfo InspectTarget(const UnicodeString& aTarget, const UnicodeString& aJournal, int64_t aOffset) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(rtl::u8(aTarget), ec))
    RaiseBadRecord(aJournal, aOffset, u"the table file does not exist");
  std::unique_ptr<TzfBaseFile> f = TzfBaseFile::Alloc(false, aTarget, nullptr);
  f->OpenFile(omReadOnly, smShareRead, false, false);
  uint8_t head[kzfBlockCommonHeaderSize + 1] = {};
  const uint32_t got = f->ReadFileAt(0, sizeof(head), head);
  const int64_t size = f->FileSize();
  f->CloseFile();
  TzfBlockSignature sig;
  std::memcpy(sig.data(), head, 4);
  if (got != sizeof(head) || !TzfBaseFileHeaderAccessFactory::FindFactoryClass(sig) ||
      !zfIsValidBlockSizeCode(head[kzfBlockCommonHeaderSize]))
    RaiseBadRecord(aJournal, aOffset, u"the target is not a table file");
  const uint8_t code = head[kzfBlockCommonHeaderSize];
  return {code, uint64_t(size) >> zfBlockShift(TzfBlockSize(code))};
}

}  // namespace

void zfRegisterJournalEngineClass(const TzfJournalEngineClass& aClass) {
  if (!Registry().Add(aClass.Name, &aClass)) throw rtl::EStringListError(u"String list does not allow duplicates");
}

void zfUnregisterJournalEngineClass(const TzfJournalEngineClass& aClass) {
  Registry().RemoveIf([&](const TzfJournalEngineClass* c) { return c == &aClass; });
}

const TzfJournalEngineClass* zfFindJournalEngineClass(const UnicodeString& aName) {
  const TzfJournalEngineClass* c = nullptr;
  return Registry().Find(aName, c) ? c : nullptr;
}

// ---- classes -----------------------------------------------------------------------------------

const TzfJournalEngineClass& Tzf1xJournalEngine::ClassInfo() {
  static const TzfJournalEngineClass info{u"Tzf1xJournalEngine", 0, [](const UnicodeString& n) {
                                            return std::make_unique<Tzf1xJournalEngine>(n);
                                          }};
  return info;
}

const TzfJournalEngineClass& Tzf1xCommitJournalEngine::ClassInfo() {
  static const TzfJournalEngineClass info{u"Tzf1xCommitJournalEngine", 1,
                                          [](const UnicodeString& n) -> std::unique_ptr<Tzf1xJournalEngine> {
                                            return std::make_unique<Tzf1xCommitJournalEngine>(n);
                                          }};
  return info;
}

const TzfJournalEngineClass& Tzf1xRollbackJournalEngine::ClassInfo() {
  static const TzfJournalEngineClass info{u"Tzf1xRollbackJournalEngine", 2,
                                          [](const UnicodeString& n) -> std::unique_ptr<Tzf1xJournalEngine> {
                                            return std::make_unique<Tzf1xRollbackJournalEngine>(n);
                                          }};
  return info;
}

// ---- writing -----------------------------------------------------------------------------------

Tzf1xJournalEngine::~Tzf1xJournalEngine() {
  try {
    if (!jeAbandoned && jeJournalFile) CrashPoint(TzfJournalCrashPoint::jcpBeforeDelete);
  } catch (...) {
  }
  try {
    if (jeJournalFile && jeJournalFile->FileIsOpen()) jeJournalFile->CloseFile();
  } catch (...) {
  }
  jeJournalFile.reset();
  // Only a file this object made is removed: a journal left by another commit stays for the check.
  if (!jeCreated || jeAbandoned || jeKeep) return;
  try {
    std::error_code ec;
    if (std::filesystem::exists(rtl::u8(bjeFileName), ec)) zfDeleteFile(bjeFileName);
  } catch (...) {
  }
}

void Tzf1xJournalEngine::CrashPoint(TzfJournalCrashPoint aPoint) {
  if (!zfJournalCrashHook || !zfJournalCrashHook(aPoint, jeRecords)) return;
  jeAbandoned = true;
  if (jeJournalFile && jeJournalFile->FileIsOpen()) jeJournalFile->CloseFile();
  throw Ezf1xJournalEngineException(zfErrWriteErr, u"The process stopped at a crash point of the journal \"%s\"",
                                    {bjeFileName});
}

void Tzf1xJournalEngine::WriteJournalHeader(bool aComplete) {
  uint8_t h[kzfJournalHeaderSize];
  std::memcpy(h, "ZFJH", 4);
  zfPutLE32(h + 4, aComplete ? kComplete : 0);
  zfPutLE32(h + 8, uint32_t(JournalKind()));
  jeJournalFile->WriteFileExactAt(0, kzfJournalHeaderSize, h);
  if (jeWritePos < kzfJournalHeaderSize) jeWritePos = kzfJournalHeaderSize;
}

void Tzf1xJournalEngine::PrepareJournal() {
  ZF_ASSERT(!jeJournalFile, "zfseJournalEngine");
  std::error_code ec;
  if (std::filesystem::exists(rtl::u8(bjeFileName), ec))
    throw Ezf1xJournalEngineException(zfErrTableExists, u"The journal \"%s\" exists already", {bjeFileName});
  jeJournalFile = TzfBaseFile::Alloc(false, bjeFileName, nullptr);
  jeJournalFile->OpenFile(omReadWrite, smExclusive, true, true);
  jeCreated = true;
  jeWritePos = 0;
  jeRecords = 0;
  WriteJournalHeader(false);
  jeJournalFile->FlushFile(true, nullptr);
  CrashPoint(TzfJournalCrashPoint::jcpPrepared);
}

void Tzf1xJournalEngine::AddBlock(TzfBaseTransaction* aTrans, TzfReadOnlyBlock* aBlock) {
  ZF_ASSERT(jeJournalFile && jeJournalFile->FileIsOpen(), "zfseJournalEngine");
  const TzfBlockSize size = aBlock->robFile->fiBlockSize;
  const int32_t kind = JournalKind();
  if (kind == 0 || kind == 2) WriteJournalRecord(aBlock, aTrans, size, true);
  if (kind == 0 || kind == 1) WriteJournalRecord(aBlock, aTrans, size, false);
}

void Tzf1xJournalEngine::WriteJournalRecord(TzfReadOnlyBlock* aBlock, TzfBaseTransaction* aTrans,
                                            TzfBlockSize aBlockSize, bool aBefore) {
  TzfBaseFile* file = aBlock->robFile;
  const uint32_t size = zfBlockBytes(aBlockSize);
  uint8_t h[kzfJournalRecordHeaderSize] = {};
  std::memcpy(h, "ZFJR", 4);
  zfPutLE32(h + 4, aBlock->robBlockNum);
  h[8] = uint8_t(aBlockSize);
  h[9] = aBefore ? kBeforeImage : 0;
  const bool noImage = aBefore && aBlock->robNew;
  h[10] = noImage ? 1 : 0;
  // The name without its folder: replay finds the file in the journal's folder.
  const UnicodeString name = rtl::ExtractFileName(file->fiName);
  const rtl::AnsiString ansi = rtl::UnicodeToAnsi(name);
  if (ansi.Length() == 0 || ansi.Length() > 255 || rtl::AnsiToUnicode(ansi) != name)
    throw Ezf1xJournalEngineException(zfErrInvalidTableName, u"The table file name \"%s\" cannot be journalled", {name});
  h[kNameField] = uint8_t(ansi.Length());
  std::memcpy(h + kNameField + 1, ansi.View().data(), ansi.Length());

  std::vector<uint8_t> image(size, 0);
  if (!noImage) {
    TzfReleaseMethod rm;
    PzfBlock p = aBlock->Block(aBefore ? nullptr : aTrans, false, rm);
    std::memcpy(image.data(), p, size);
    rm(p);
    if (file->fiEncryptionEngine) {
      // The form the table file stores; the cookie and the table checksum of the file stay as
      // they are (copies are coded with).
      if (aBlock->robBlockNum == 0) {
        if (!file->fiChecksum.empty()) file->fiUpdateTableChecksum(image.data());
        file->fiEncryptionEngine->UpdateHeaderChecksum(image.data(), size);
      } else {
        std::vector<uint8_t> coded(size);
        TzfByteDynArray cookie = aBlock->EncryptionCookie();
        TzfByteDynArray checksum = file->fiChecksum;
        file->fiEncryptionEngine->CodeBlockEx(image.data(), coded.data(), size, aBlock->robBlockNum, cookie, checksum);
        image.swap(coded);
      }
    }
  }
  jeJournalFile->WriteFileExactAt(jeWritePos, kzfJournalRecordHeaderSize, h);
  jeJournalFile->WriteFileExactAt(jeWritePos + kzfJournalRecordHeaderSize, size, image.data());
  jeWritePos += kzfJournalRecordHeaderSize + size;
  ++jeRecords;
  CrashPoint(TzfJournalCrashPoint::jcpRecord);
}

void Tzf1xJournalEngine::FinalizeJournal() {
  ZF_ASSERT(jeJournalFile && jeJournalFile->FileIsOpen(), "zfseJournalEngine");
  jeJournalFile->FlushFile(true, nullptr);
  WriteJournalHeader(true);
  jeJournalFile->FlushFile(true, nullptr);
  jeFinalized = true;
  CrashPoint(TzfJournalCrashPoint::jcpFinalized);
}

// ---- replay ------------------------------------------------------------------------------------

void Tzf1xJournalEngine::ReplayJournal(TzfBaseFile& aJournalFile, bool aAfterImages, const UnicodeString& aFolder) {
  const UnicodeString journal = aJournalFile.fiName;
  const int64_t end = aJournalFile.FileSize();
  const UnicodeString folder = WithDelimiter(aFolder);
  std::vector<TReplayItem> items;
  std::map<UnicodeString, TTargetInfo> targets;
  std::vector<std::pair<UnicodeString, uint32_t>> blocks;  // target and block of every record
  // Pass 1: every record is checked before anything is written.
  int64_t pos = kzfJournalHeaderSize;
  uint8_t h[kzfJournalRecordHeaderSize];
  while (pos < end) {
    if (end - pos < kzfJournalRecordHeaderSize ||
        aJournalFile.ReadFileAt(pos, kzfJournalRecordHeaderSize, h) != kzfJournalRecordHeaderSize)
      RaiseShortRead(journal, kzfJournalRecordHeaderSize);
    if (!HasSig(h, "ZFJR")) RaiseBadRecord(journal, pos, u"no record signature");
    if (!zfIsValidBlockSizeCode(h[8])) RaiseBadRecord(journal, pos, u"an invalid block size code");
    if ((h[9] != 0 && h[9] != kBeforeImage) || h[10] > 1 || h[11] != 0 || (h[10] == 1 && h[9] != kBeforeImage))
      RaiseBadRecord(journal, pos, u"invalid image flags");
    const uint8_t len = h[kNameField];
    if (len == 0) RaiseBadRecord(journal, pos, u"no table file name");
    const UnicodeString stored = rtl::AnsiToUnicode(
        rtl::AnsiString(std::string(reinterpret_cast<const char*>(h + kNameField + 1), len)));
    const uint32_t size = zfBlockBytes(TzfBlockSize(h[8]));
    if (end - pos - kzfJournalRecordHeaderSize < int64_t(size)) RaiseShortRead(journal, size);
    const UnicodeString target = ResolveTarget(stored, folder, journal, pos);
    auto it = targets.find(target);
    if (it == targets.end()) it = targets.emplace(target, InspectTarget(target, journal, pos)).first;
    if (it->second.SizeCode != h[8]) RaiseBadRecord(journal, pos, u"the block size differs from the table file's");
    ++it->second.Records;
    const uint32_t block = zfGetLE32(h + 4);
    blocks.emplace_back(target, block);
    const bool before = h[9] == kBeforeImage;
    if (before != aAfterImages && h[10] == 0)
      items.push_back({target, block, pos + kzfJournalRecordHeaderSize, size});
    pos += kzfJournalRecordHeaderSize + size;
  }
  // A commit adds at most one block per record to a file: a block beyond that is no block of it.
  for (const auto& [target, block] : blocks) {
    const TTargetInfo& t = targets.at(target);
    if (uint64_t(block) >= t.Blocks + t.Records)
      throw Ezf1xJournalEngineException(zfErrReadErr, u"The journal \"%s\" names block %d beyond the table file \"%s\"",
                                        {journal, block, target});
  }
  // Pass 2: the images, each read in full again before it is written.
  std::vector<uint8_t> image(kzfMaxBlockSizeBytes);
  std::map<UnicodeString, std::unique_ptr<TzfBaseFile>> open;
  try {
    for (const TReplayItem& item : items) {
      if (aJournalFile.ReadFileAt(item.ImageAt, item.Size, image.data()) != item.Size) RaiseShortRead(journal, item.Size);
      std::unique_ptr<TzfBaseFile>& f = open[item.Target];
      if (!f) {
        f = TzfBaseFile::Alloc(false, item.Target, nullptr);
        f->OpenFile(omReadWrite, smExclusive, true, false);
      }
      f->WriteFileExactAt(int64_t(item.Block) * item.Size, item.Size, image.data());
    }
    for (auto& [name, f] : open) {
      f->FlushFile(true, nullptr);
      f->CloseFile();
    }
  } catch (...) {
    for (auto& [name, f] : open) {
      try {
        if (f && f->FileIsOpen()) f->CloseFile();
      } catch (...) {
      }
    }
    throw;
  }
}

void Tzf1xJournalEngine::Check(const TzfJournalEngineClass& aClass, const UnicodeString& aAlias,
                               const UnicodeString& aPath) {
  const UnicodeString folder = WithDelimiter(aPath);
  std::error_code ec;
  if (!std::filesystem::is_directory(rtl::u8(folder), ec))
    throw Ezf1xJournalEngineException(zfErrDirNotExists);
  std::vector<UnicodeString> journals;
  const UnicodeString suffix = UnicodeString(u".") + kzfJournalExtension;
  for (const auto& entry : std::filesystem::directory_iterator(rtl::u8(folder), ec)) {
    const UnicodeString name = rtl::u16(entry.path().filename().string());
    if (name.size() > suffix.size() && rtl::SameText(name.substr(name.size() - suffix.size()), suffix))
      journals.push_back(name);
  }
  std::sort(journals.begin(), journals.end());
  auto tell = [&](TzfJournalCheckEvent aEvent, const UnicodeString& aError, const UnicodeString& aFile) {
    return zfJournalCheckCallback ? zfJournalCheckCallback(aEvent, aAlias, aPath, aError, aFile) : false;
  };
  for (const UnicodeString& name : journals) {
    const UnicodeString full = folder + name;
    std::unique_ptr<TzfBaseFile> f;
    bool replaying = false;
    try {
      f = TzfBaseFile::Alloc(false, full, nullptr);
      f->OpenFile(omReadOnly, smExclusive, false, false);
      uint8_t h[kzfJournalHeaderSize] = {};
      const uint32_t flag = f->ReadFileAt(0, kzfJournalHeaderSize, h) == kzfJournalHeaderSize ? zfGetLE32(h + 4) : 1;
      const uint32_t kind = zfGetLE32(h + 8);
      if (!HasSig(h, "ZFJH") || (flag != 0 && flag != kComplete) || kind > 2)
        throw Ezf1xJournalEngineException(
            zfErrCantOpenFile, u"\"%s\" is not a ZofrinDB formatted file, or its file header is corrupt", {full});
      if (flag == kComplete) {
        bool after = kind == 1;
        if (kind == 0) after = aClass.Kind == 0 ? (!zfJournalCheckCallback || tell(jceChooseImages, {}, full)) : aClass.Kind != 2;
        replaying = true;
        ReplayJournal(*f, after, folder);
      } else {
        tell(jceIncomplete, {}, full);
      }
      f->CloseFile();
      f.reset();
      zfDeleteFile(full);
    } catch (const rtl::Exception& e) {
      try {
        if (f && f->FileIsOpen()) f->CloseFile();
      } catch (...) {
      }
      tell(replaying ? jceReplayFailed : jceOpenFailed, e.Message(), full);
    }
  }
}

namespace {

void Init() {
  zfRegisterJournalEngineClass(Tzf1xJournalEngine::ClassInfo());
  zfRegisterJournalEngineClass(Tzf1xCommitJournalEngine::ClassInfo());
  zfRegisterJournalEngineClass(Tzf1xRollbackJournalEngine::ClassInfo());
  if (!zfJournalEngineClassSetting) zfJournalEngineClassSetting = &Tzf1xRollbackJournalEngine::ClassInfo();
}

void Fini() {
  const TzfJournalEngineClass* s = zfJournalEngineClassSetting;
  if (s == &Tzf1xJournalEngine::ClassInfo() || s == &Tzf1xCommitJournalEngine::ClassInfo() ||
      s == &Tzf1xRollbackJournalEngine::ClassInfo())
    zfJournalEngineClassSetting = nullptr;
  zfUnregisterJournalEngineClass(Tzf1xRollbackJournalEngine::ClassInfo());
  zfUnregisterJournalEngineClass(Tzf1xCommitJournalEngine::ClassInfo());
  zfUnregisterJournalEngineClass(Tzf1xJournalEngine::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfseJournalEngineUnit() {
  static rtl::TUnitInit unit("zfseJournalEngine", &Init, &Fini);
  return unit;
}

}  // namespace zf
