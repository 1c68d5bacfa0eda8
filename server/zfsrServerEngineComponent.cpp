#include "server/zfsrServerEngineComponent.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "dictionary/zfsdDictionaryItem.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreamsRW.h"
#include "foundation/zfllUtils.h"
#include "server/zfsrServerFolder.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrFileImpl.h"
#include "storage/zfsrTimeoutHandling.h"
#include "storage/zfseJournalEngine.h"

namespace zf {

namespace {

TzfServerEngine::TzfSessionFactory& SessionFactory() {
  static TzfServerEngine::TzfSessionFactory f;
  return f;
}
TzfServerEngine::TzfAuthenticatedProc& AuthenticatedProc() {
  static TzfServerEngine::TzfAuthenticatedProc p;
  return p;
}

// Used when the system gives no random bytes.
constexpr rtl::TGUID kFallbackGuid{0x6C2B1F0Au, 0x3D41u, 0x4E8Au, {0x9B, 0x27, 0x51, 0xC0, 0x8E, 0x14, 0xA3, 0x5D}};

rtl::TGUID MakeGuid() {
  uint8_t b[16];
  if (::getrandom(b, sizeof b, 0) != static_cast<ssize_t>(sizeof b)) return kFallbackGuid;
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  rtl::TGUID g{};
  g.D1 = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  g.D2 = static_cast<uint16_t>(b[4] | b[5] << 8);
  g.D3 = static_cast<uint16_t>(b[6] | b[7] << 8);
  for (int i = 0; i < 8; ++i) g.D4[i] = b[8 + i];
  return g;
}

const char16_t* const kOptionNames[] = {u"seoReadOnly",  u"seoForceFailSafe", u"seoCloseInactiveFolders",
                                        u"seoCloseInactiveTables", u"seoInMemOnly", u"seoIsSecure",
                                        u"seoVerifyTableNames"};

int OptionFromName(const UnicodeString& aName) {
  for (int i = 0; i < kzfServerEngineOptionCount; ++i)
    if (rtl::SameText(aName, kOptionNames[i])) return i;
  return -1;
}

// The journal class of a name; nullptr for an unknown name.
const TzfJournalEngineClass* JournalClassOf(const UnicodeString& aName) { return zfFindJournalEngineClass(aName); }

bool DirectoryExists(const UnicodeString& aPath) {
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::path(rtl::u8(aPath)), ec);
}

TzfRegisterableComponent* CreateServerEngine(TComponent* aOwner) { return new TzfServerEngine(aOwner); }

void StartUnit() { TzfRegisterableComponent::RegisterComponentClass(TzfServerEngine::ClassInfo()); }
void StopUnit() { TzfRegisterableComponent::UnregisterComponentClass(TzfServerEngine::ClassInfo()); }

}  // namespace

const char16_t* zfServerEngineOptionName(TzfServerEngineOption aOption) { return kOptionNames[aOption]; }

int64_t zfDefaultMaxRAM(int64_t aTotalMiB) {
  const int64_t half = aTotalMiB / 2;
  const int64_t reserve = std::max<int64_t>(aTotalMiB * 2 / 10, 2048);
  return std::max(half, aTotalMiB - reserve);
}

int64_t zfDefaultTempStoreSize(int64_t aMaxRAM, int64_t aFreeBytes, int64_t aMaxFileSize) {
  constexpr int64_t kThird = 3145728;
  int64_t s = aMaxRAM > INT64_MAX / 10 ? INT64_MAX : aMaxRAM * 10;
  s = std::min(s, aFreeBytes / kThird);
  s = std::min(s, aMaxFileSize / kThird);
  return std::max<int64_t>(s, 0);
}

int64_t zfTotalMemoryMiB() {
  TzfMemoryStatusEx status;
  if (zfGlobalMemoryStatusEx && zfGlobalMemoryStatusEx(status) && status.ullTotalPhys > 0)
    return static_cast<int64_t>(status.ullTotalPhys / 1048576);
  const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page <= 0) return 0;
  return static_cast<int64_t>(static_cast<uint64_t>(pages) * static_cast<uint64_t>(page) / 1048576);
}

UnicodeString zfSystemTempFolder() {
  const char* t = std::getenv("TMPDIR");
  UnicodeString r = t && *t ? rtl::u16(t) : UnicodeString(u"/tmp");
  if (r.size() > 260) r.resize(260);
  return r;
}

// ---------------------------------------------------------------------------------------------
// Alias handlers

void TzfBaseAliasHandler::GetConfigSettings(TzfBaseSettings& aSettings) {
  TzfComponent::GetConfigSettings(aSettings);
  TzfBaseSetting& s = aSettings.AddSetting(std::make_unique<TzfBaseSetting>());
  s.fName = u"Aliases";
  s.fPropertyName = u"Aliases";
  s.fSettingType = zfstAliases;
}

void TzfBaseAliasHandler::SaveConfig(TzfBaseComponentConfiguration& aConfig) {
  TzfComponent::SaveConfig(aConfig);
  std::vector<TzfAliasDescriptor> list;
  GetList(list);
  UnicodeString text;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) text += u";";
    text += list[i].adAlias + u"=" + list[i].adPath;
  }
  aConfig.SetValue(u"Aliases", rtl::Variant(text));
}

void TzfBaseAliasHandler::LoadConfig(TzfBaseComponentConfiguration& aConfig) {
  TzfComponent::LoadConfig(aConfig);
  ConfigErrors.clear();
  Clear();
  const UnicodeString text = aConfig.GetValue(u"Aliases", rtl::Variant(UnicodeString())).AsString();
  for (const UnicodeString& pair : rtl::SplitString(text, u';')) {
    const size_t eq = pair.find(u'=');
    if (pair.empty() || eq == UnicodeString::npos) continue;
    const UnicodeString alias = pair.substr(0, eq), path = pair.substr(eq + 1);
    Add(alias, path, false);
    if (!DirectoryExists(path))
      ConfigErrors += u"WARNING: Database folder for \"" + alias + u"\" does not exist: \"" + path + u"\"\r\n";
  }
}

void TzfBaseAliasHandler::SaveSettingsToStream(TzfWriter& aWriter) {
  TzfComponent::SaveSettingsToStream(aWriter);
  aWriter.WriteInteger(int32_t{1});
  std::vector<TzfAliasDescriptor> list;
  GetList(list);
  aWriter.WriteListBegin();
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    aWriter.WriteString(it->adAlias);
    aWriter.WriteString(it->adPath);
  }
  aWriter.WriteListEnd();
}

void TzfBaseAliasHandler::LoadSettingsFromStream(TzfReader& aReader) {
  TzfComponent::LoadSettingsFromStream(aReader);
  if (aReader.ReadInteger() != 1) throw EzfComponentException(this, zfErrIncompatibleStream);
  Clear();
  aReader.ReadListBegin();
  while (!aReader.EndOfList()) {
    const UnicodeString alias = aReader.ReadString();
    const UnicodeString path = aReader.ReadString();
    Add(alias, path, false);
  }
  aReader.ReadListEnd();
}

void TzfSimpleAliasHandler::Clear() {
  std::lock_guard g(sahLock);
  sahList.clear();
}

uint32_t TzfSimpleAliasHandler::AddLocked(const UnicodeString& aAlias, const UnicodeString& aPath, bool aEnforce) {
  if (sahList.count(rtl::UpperCase(aAlias))) return zfErrNameNotUnique;
  if (aEnforce) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(rtl::u8(aPath)), ec);
    if (!DirectoryExists(aPath)) return zfErrDirBusy;
  }
  sahList.emplace(rtl::UpperCase(aAlias), std::make_pair(aAlias, aPath));
  return 0;
}

uint32_t TzfSimpleAliasHandler::Add(const UnicodeString& aAlias, const UnicodeString& aPath, bool aEnforce) {
  std::lock_guard g(sahLock);
  return AddLocked(aAlias, aPath, aEnforce);
}

uint32_t TzfSimpleAliasHandler::Delete(const UnicodeString& aAlias) {
  std::lock_guard g(sahLock);
  return sahList.erase(rtl::UpperCase(aAlias)) ? 0 : zfErrUnknownDb;
}

uint32_t TzfSimpleAliasHandler::Modify(const UnicodeString& aAlias, const UnicodeString& aNewName,
                                       const UnicodeString& aNewPath, bool aEnforce) {
  std::lock_guard g(sahLock);
  auto it = sahList.find(rtl::UpperCase(aAlias));
  uint32_t code = it == sahList.end() ? zfErrUnknownDb : 0;
  const UnicodeString path = !aNewPath.empty() ? aNewPath : it != sahList.end() ? it->second.second : UnicodeString();
  if (!aNewName.empty() && aNewName != aAlias) {
    if (code != 0) return code;
    if (!rtl::SameText(aNewName, aAlias) && sahList.count(rtl::UpperCase(aNewName))) return zfErrNameNotUnique;
    const auto saved = *it;
    sahList.erase(it);
    code = AddLocked(aNewName, path, aEnforce);
    if (code != 0) sahList.insert(saved);  // a failed rename keeps the old alias
    return code;
  }
  if (code != 0) return code;
  if (aEnforce) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(rtl::u8(path)), ec);
    if (!DirectoryExists(path)) return zfErrDirBusy;
  }
  it->second.second = path;
  return 0;
}

uint32_t TzfSimpleAliasHandler::GetList(std::vector<TzfAliasDescriptor>& aList) {
  std::lock_guard g(sahLock);
  for (auto& [key, entry] : sahList) aList.push_back({entry.first, entry.second});
  return 0;
}

uint32_t TzfSimpleAliasHandler::GetPath(const UnicodeString& aAlias, UnicodeString& aPath) {
  std::lock_guard g(sahLock);
  auto it = sahList.find(rtl::UpperCase(aAlias));
  if (it == sahList.end()) return zfErrUnknownDb;
  aPath = it->second.second;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// TzfServerEngine

const TzfComponentClass& TzfServerEngine::ClassInfo() {
  static const TzfComponentClass info{u"TzfServerEngine", &TzfStateComponent::ClassInfo(), &CreateServerEngine};
  return info;
}

TzfServerEngine::TzfServerEngine(TComponent* aOwner) : TzfBaseServerEngine(aOwner) {
  seServerGuid = MakeGuid();
  SetAliasHandler(seCreateDefaultAliasHandler());
  seOwnsAliasHandler = true;
}

TzfServerEngine::~TzfServerEngine() {
  try {
    Close();
  } catch (...) {
  }
  seFreeFolders();
  seBufferManager.reset();
  if (seAliasHandler) {
    RemoveDependent(seAliasHandler);
    if (seOwnsAliasHandler) delete seAliasHandler;
    seAliasHandler = nullptr;
  }
}

TzfBaseAliasHandler* TzfServerEngine::seCreateDefaultAliasHandler() { return new TzfSimpleAliasHandler(nullptr); }

void TzfServerEngine::SetName(const UnicodeString& aName) {
  TzfBaseServerEngine::SetName(aName);
  if (seAliasHandler) seAliasHandler->SetName(aName.empty() ? UnicodeString() : aName + u"_AliasHandler");
}

void TzfServerEngine::ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) {
  TzfBaseServerEngine::ReceiveNotification(aSender, aKind, aData);
  if (aKind == zfcnDestroying && aSender && aSender == seAliasHandler) {
    Close();
    seAliasHandler = nullptr;
    seOwnsAliasHandler = false;
  }
  if (aKind == zfcnDestroying && aSender && aSender == seSqlEngine) {
    // The SQL engine is being destroyed: it is forgotten before the engine stops, so the stop
    // does not call into what is left of it.
    seSqlEngine = nullptr;
    Close();
  }
}

void TzfServerEngine::SetMaxRAM(int32_t aValue) {
  if (aValue == seMaxRAM) return;
  CheckInactive();
  seMaxRAM = aValue;
}

void TzfServerEngine::SetTempStoreSize(int32_t aValue) {
  if (aValue == seTempStoreSize) return;
  CheckInactive();
  seTempStoreSize = aValue;
}

void TzfServerEngine::SetTempStorePath(const UnicodeString& aValue) {
  if (aValue == seTempStorePath) return;
  CheckInactive();
  seTempStorePath = aValue;
}

void TzfServerEngine::SetTableExtension(const UnicodeString& aValue) {
  if (aValue == seTableExtension) return;
  CheckInactive();
  const uint32_t code = zfCheckIdentifier(aValue, zfErrInvalidFileExt, false, true);
  if (code != 0) throw EzfServerEngineException(code);
  seTableExtension = aValue;
}

void TzfServerEngine::SetServerName(const UnicodeString& aValue) {
  CheckInactive();
  seServerName = aValue;
}

void TzfServerEngine::SetOptions(TzfServerEngineOptions aValue) {
  CheckInactive();
  seOptions = static_cast<TzfServerEngineOptions>(aValue & 0x7F);
}

void TzfServerEngine::SetAliasHandler(TzfBaseAliasHandler* aValue) {
  if (aValue == seAliasHandler) return;
  CheckInactive();
  if (seAliasHandler) {
    RemoveDependent(seAliasHandler);
    if (seOwnsAliasHandler) delete seAliasHandler;
  }
  seAliasHandler = aValue;
  seOwnsAliasHandler = false;
  if (aValue) {
    aValue->SetDisplayName(u"Aliases");
    AddDependent(aValue);
  }
}

void TzfServerEngine::SetSqlEngine(TzfBaseSqlEngine* aValue) {
  if (aValue == seSqlEngine) return;
  CheckInactive();
  if (seSqlEngine) UnlinkDependent(seSqlEngine);
  seSqlEngine = aValue;
  if (aValue) LinkDependent(aValue);
}

bool TzfServerEngine::DependsOn(TzfComponent* aComponent) {
  return (aComponent && aComponent == seSqlEngine) || TzfBaseServerEngine::DependsOn(aComponent);
}

[[noreturn]] void TzfServerEngine::bseRaiseException(uint32_t aErrorCode, const UnicodeString* aMessage) {
  if (aMessage) throw EzfServerEngineException(aErrorCode, *aMessage);
  throw EzfServerEngineException(aErrorCode);
}

void TzfServerEngine::seSetSessionFactory(TzfSessionFactory aFactory) { SessionFactory() = std::move(aFactory); }
void TzfServerEngine::seSetAuthenticatedProc(TzfAuthenticatedProc aProc) { AuthenticatedProc() = std::move(aProc); }

uint32_t TzfServerEngine::seCreateSession(TzfAbstractSession*& aSession, const UnicodeString& aUserName,
                                          const UnicodeString& aPassword, const UnicodeString& aConnectedFrom,
                                          uint32_t aTimeout, int32_t aClientVersion) {
  aSession = nullptr;
  if (!SessionFactory()) return zfErrNotSupported;
  return SessionFactory()(this, aSession, aUserName, aPassword, aConnectedFrom, aTimeout, aClientVersion);
}

uint32_t TzfServerEngine::SessionOpenEx(TzfAbstractSession*& aSession, const UnicodeString& aUserName,
                                        const UnicodeString& aPassword, const UnicodeString& aConnectedFrom,
                                        uint32_t aTimeout, int32_t aClientVersion) {
  aSession = nullptr;
  try {
    CheckStarted();
    zfSetTimeout(aTimeout);
    uint32_t code = seCreateSession(aSession, aUserName, aPassword, aConnectedFrom, aTimeout, aClientVersion);
    if (code == 0 && aSession && HasOption(seoIsSecure) && !(AuthenticatedProc() && AuthenticatedProc()(aSession))) {
      aSession->Free();
      aSession = nullptr;
      code = zfErrInvalidUserPassword;
    }
    return code;
  } catch (const std::exception& e) {
    return bseConvertException(e, nullptr);
  }
}

void TzfServerEngine::DoInitializing() {
  UnicodeString temp = rtl::Trim(seTempStorePath);
  if (temp.empty()) temp = zfSystemTempFolder();
  int64_t m = seMaxRAM;
  if (m < 1) m = zfDefaultMaxRAM(zfTotalMemoryMiB());
  if (m < 1) m = 1;
  if (m > INT32_MAX) m = INT32_MAX;
  int64_t s = seTempStoreSize;
  if (s < 0) {
    s = 0;
    struct statvfs vfs {};
    if (::statvfs(rtl::u8(temp).c_str(), &vfs) == 0)
      s = zfDefaultTempStoreSize(m, static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize),
                                 zfMaxFileSizeForPath(temp));
  }
  seBufferManager = std::make_unique<TzfBufferManager>(temp);
  seBufferManager->ApplyMaxRAM(static_cast<int32_t>(m));
  seBufferManager->ApplyTempStoreSize(s);
  TzfBaseServerEngine::DoInitializing();
}

void TzfServerEngine::DoStopping() {
  // An SQL engine on its way out (its own stop stops this engine) is not called any more.
  if (seSqlEngine && !seSqlEngine->Destroying() && !seSqlEngine->IsDestroying()) seSqlEngine->PrepareShutdown();
  TzfBaseServerEngine::DoStopping();
  seFreeFolders();
}

void TzfServerEngine::DoDeactivating() {
  TzfBaseServerEngine::DoDeactivating();
  seBufferManager.reset();
}

void TzfServerEngine::seFreeFolders() {
  TzfPadlockGuard g(seFoldersPadlock);
  while (!seFolders.empty()) {
    TzfServerFolder* f = std::prev(seFolders.end())->second;
    try {
      f->Free();
    } catch (...) {
      seRemoveFolder(f->sfPath, f);
    }
  }
}

uint32_t TzfServerEngine::seFolderOpen(const UnicodeString& aDirectory, TzfServerFolder*& aFolder) {
  aFolder = nullptr;
  try {
    UnicodeString path;
    const uint32_t code = zfNormaliseFolderPath(aDirectory, path);
    if (code != 0) return code;
    TzfPadlockGuard g(seFoldersPadlock);
    auto it = seFolders.find(path);
    aFolder = it != seFolders.end() ? it->second : TzfServerFolder::Create(this, path);
    return 0;
  } catch (const std::exception& e) {
    return bseConvertException(e, nullptr);
  }
}

void TzfServerEngine::seAddFolder(const UnicodeString& aPath, TzfServerFolder* aFolder) {
  TzfPadlockGuard g(seFoldersPadlock);
  if (!seFolders.emplace(aPath, aFolder).second) throw EzfServerEngineException(zfErrNameNotUnique);
}

void TzfServerEngine::seRemoveFolder(const UnicodeString& aPath, TzfServerFolder* aFolder) {
  TzfPadlockGuard g(seFoldersPadlock);
  auto it = seFolders.find(aPath);
  if (it != seFolders.end() && it->second == aFolder) seFolders.erase(it);
}

int32_t TzfServerEngine::seFolderListCount() {
  TzfPadlockGuard g(seFoldersPadlock);
  return static_cast<int32_t>(seFolders.size());
}

uint32_t TzfServerEngine::seCloseInactiveFolders() {
  uint32_t answer = 0;
  TzfPadlockGuard g(seFoldersPadlock);
  bool freed = true;
  while (freed) {
    freed = false;
    std::vector<TzfServerFolder*> folders;
    for (auto& [path, f] : seFolders) folders.push_back(f);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
      if (!(*it)->sfIsInactive(false, true)) continue;
      try {
        (*it)->Free();
        freed = true;
      } catch (const std::exception& e) {
        answer = bseConvertException(e, nullptr);
      }
    }
  }
  return answer;
}

uint32_t TzfServerEngine::seCloseInactiveTables() {
  TzfPadlockGuard g(seFoldersPadlock);
  for (auto it = seFolders.rbegin(); it != seFolders.rend(); ++it) {
    const uint32_t code = it->second->sfCloseInactiveTables();
    if (code != 0) return code;
  }
  return 0;
}

void TzfServerEngine::seLogWarning(const UnicodeString& aMessage) {
  try {
    lcLog(aMessage, 0, lpWarn, u"Server");
  } catch (...) {
  }
}

void TzfServerEngine::GetStatsCaptions(std::vector<UnicodeString>& aList) {
  TzfBaseServerEngine::GetStatsCaptions(aList);
  aList.push_back(u"Folders");
  aList.push_back(u"Tables");
  TzfBufferManager::GetStatsCaptions(aList);
}

void TzfServerEngine::GetStatsValues(std::vector<UnicodeString>& aList) {
  TzfBaseServerEngine::GetStatsValues(aList);
  aList.push_back(zfFormatInt64(seFolderCount.load()));
  aList.push_back(zfFormatInt64(seTableCount.load()));
  if (seBufferManager) seBufferManager->GetStatsValues(aList);
  else TzfBufferManager::GetStatsValuesStatic(aList);
}

UnicodeString TzfServerEngine::GetDisplayOnlyValue(const UnicodeString& aValueName) {
  if (!rtl::SameText(aValueName, u"ActiveOptions")) return TzfBaseServerEngine::GetDisplayOnlyValue(aValueName);
  UnicodeString options = u"SecureServer, ZF_PROTECT_SERVER_ON_CRITICAL_ERROR";
  if (zfDisable30900LocaleFixes()) options += u", Disable30900LocaleFixes";
  return options;
}

void TzfServerEngine::GetConfigSettings(TzfBaseSettings& aSettings) {
  TzfBaseServerEngine::GetConfigSettings(aSettings);
  const auto add = [&](const char16_t* aName, TzfSettingType aType, rtl::Variant aDefault) -> TzfBaseSetting& {
    TzfBaseSetting& s = aSettings.AddSetting(std::make_unique<TzfBaseSetting>());
    s.fName = aName;
    s.fPropertyName = aName;
    s.fSettingType = aType;
    s.fDefaultValue = aDefault;
    return s;
  };
  add(u"ServerName", zfstString, rtl::Variant(u"ZofrinDB"));
  TzfBaseSetting& ram = add(u"MaxRam", zfstInteger, rtl::Variant(int32_t{-1}));
  ram.fMin = rtl::Variant(int32_t{-1});
  ram.fMax = rtl::Variant(int32_t{131072});
  add(u"TempStoreSize", zfstInteger, rtl::Variant(int32_t{-1})).fMin = rtl::Variant(int32_t{-1});
  add(u"TempStorePath", zfstString, rtl::Variant(u""));
  TzfBaseSetting& journal = add(u"JournalEngineClass", zfstString, rtl::Variant(u""));
  journal.fEnforceValues = true;
  journal.fValueList = u"Tzf1xRollbackJournalEngine,Tzf1xJournalEngine,Tzf1xCommitJournalEngine";
  add(u"Options", zfstMultiOption, rtl::Variant(u"")).fValueList =
      u"ReadOnly,ForceFailSafe,CloseInactiveFolders,CloseInactiveTables,InMemOnly,IsSecure,VerifyTableNames";
  add(u"ActiveOptions", zfstCaption, rtl::Variant(u"")).fLabel = u"Active Options";
}

void TzfServerEngine::SaveConfig(TzfBaseComponentConfiguration& aConfig) {
  TzfBaseServerEngine::SaveConfig(aConfig);
  aConfig.SetValue(u"ServerName", rtl::Variant(seServerName));
  aConfig.SetValue(u"MaxRAM", rtl::Variant(seMaxRAM));
  aConfig.SetValue(u"TempStorePath", rtl::Variant(seTempStorePath));
  aConfig.SetValue(u"TempStoreSize", rtl::Variant(seTempStoreSize));
  aConfig.SetValue(u"JournalEngineClass",
                   rtl::Variant(zfJournalEngineClassSetting ? UnicodeString(zfJournalEngineClassSetting->Name)
                                                            : UnicodeString()));
  const int32_t previous = aConfig.GetValue(u"OptionsCount", rtl::Variant(int32_t{0})).AsInteger();
  for (int32_t i = 1; i <= std::min<int32_t>(previous, 64); ++i)
    aConfig.SetValue(u"Options" + rtl::IntToStr(i), rtl::Variant(UnicodeString()));
  int32_t k = 0;
  for (int i = 0; i < kzfServerEngineOptionCount; ++i)
    if (seOptions & (1u << i)) aConfig.SetValue(u"Options" + rtl::IntToStr(++k), rtl::Variant(kOptionNames[i]));
  aConfig.SetValue(u"OptionsCount", rtl::Variant(k));
  aConfig.SetValue(u"Options", rtl::Variant(int32_t{seOptions}));
  aConfig.SetValue(u"NewOptionsLogic", rtl::Variant(int32_t{1}));
}

void TzfServerEngine::LoadConfig(TzfBaseComponentConfiguration& aConfig) {
  TzfBaseServerEngine::LoadConfig(aConfig);
  seServerName = aConfig.GetValue(u"ServerName", rtl::Variant(seServerName)).AsString();
  seMaxRAM = aConfig.GetValue(u"MaxRAM", rtl::Variant(seMaxRAM)).AsInteger();
  seTempStorePath = aConfig.GetValue(u"TempStorePath", rtl::Variant(seTempStorePath)).AsString();
  seTempStoreSize = aConfig.GetValue(u"TempStoreSize", rtl::Variant(seTempStoreSize)).AsInteger();
  const UnicodeString journal = aConfig.GetValue(u"JournalEngineClass", rtl::Variant(UnicodeString())).AsString();
  if (const TzfJournalEngineClass* c = JournalClassOf(journal)) zfJournalEngineClassSetting = c;
  seOptions = 0;
  if (aConfig.GetValue(u"NewOptionsLogic", rtl::Variant(int32_t{0})).AsInteger() == 1) {
    seOptions = static_cast<TzfServerEngineOptions>(aConfig.GetValue(u"Options", rtl::Variant(int32_t{0})).AsInteger() & 0x7F);
  } else {
    const int32_t count = aConfig.GetValue(u"OptionsCount", rtl::Variant(int32_t{0})).AsInteger();
    for (int32_t i = 1; i <= std::min<int32_t>(count, 64); ++i) {
      const int o = OptionFromName(aConfig.GetValue(u"Options" + rtl::IntToStr(i), rtl::Variant(UnicodeString())).AsString());
      if (o >= 0) seOptions = static_cast<TzfServerEngineOptions>(seOptions | (1u << o));
    }
  }
}

void TzfServerEngine::SaveSettingsToStream(TzfWriter& aWriter) {
  TzfBaseServerEngine::SaveSettingsToStream(aWriter);
  aWriter.WriteInteger(int32_t{1});
  aWriter.WriteString(seServerName);
  aWriter.WriteInteger(seMaxRAM);
  aWriter.WriteInteger(seTempStoreSize);
  aWriter.WriteString(seTempStorePath);
  aWriter.WriteString(zfJournalEngineClassSetting ? UnicodeString(zfJournalEngineClassSetting->Name) : UnicodeString());
  aWriter.WriteListBegin();
  for (int i = 0; i < kzfServerEngineOptionCount; ++i)
    if (seOptions & (1u << i)) aWriter.WriteString(kOptionNames[i]);
  aWriter.WriteListEnd();
}

void TzfServerEngine::LoadSettingsFromStream(TzfReader& aReader) {
  TzfBaseServerEngine::LoadSettingsFromStream(aReader);
  if (aReader.ReadInteger() != 1) throw EzfComponentException(this, zfErrIncompatibleStream);
  // Read whole before anything changes: a damaged stream changes no setting.
  const UnicodeString name = aReader.ReadString();
  const int32_t maxRam = aReader.ReadInteger();
  const int32_t tempSize = aReader.ReadInteger();
  const UnicodeString tempPath = aReader.ReadString();
  const UnicodeString journal = aReader.ReadString();
  const TzfJournalEngineClass* journalClass = nullptr;
  if (!journal.empty()) {
    journalClass = JournalClassOf(journal);
    if (!journalClass) throw EzfServerEngineException(zfErrSubEngineNotSupported, u"Class " + journal + u" not found");
  }
  TzfServerEngineOptions options = 0;
  aReader.ReadListBegin();
  for (int guard = 0; !aReader.EndOfList(); ++guard) {
    const int o = OptionFromName(aReader.ReadString());
    if (o >= 0) options = static_cast<TzfServerEngineOptions>(options | (1u << o));
  }
  aReader.ReadListEnd();
  seServerName = name;
  seMaxRAM = maxRam;
  seTempStoreSize = tempSize;
  seTempStorePath = tempPath;
  if (journalClass) zfJournalEngineClassSetting = journalClass;
  seOptions = options;
}

rtl::TUnitInit& zfsrServerEngineComponentUnit() {
  static rtl::TUnitInit unit("zfsrServerEngineComponent", &StartUnit, &StopUnit);
  return unit;
}

}  // namespace zf
