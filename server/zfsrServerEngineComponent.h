// The concrete embedded server engine and the alias handler.
//
// TzfServerEngine adds to the base engine its settings (server name, memory limit, temporary
// store, table extension, options, journal class), the buffer manager it creates when it starts,
// the folders (one per directory, made by the folder unit) and the alias handler. Sessions are
// made by a session factory that the session unit installs; without one, opening a session
// answers 12289.
//
// Linux: the total memory comes from the system's memory status (lowered to the cgroup's limit
// when one is set), the temporary folder from TMPDIR or the standard one, free space from
// statvfs, the server GUID from the system's random source.
//
// Settings stream (after the state component's block), in the tagged value encoding:
//   Integer 1; String ServerName; Integer MaxRAM; Integer TempStoreSize; String TempStorePath;
//   String journal class name; list of option names ("seoReadOnly", ...), end-of-list.
// The alias handler's stream: Integer 1; list of string pairs (alias, path), last alias first.
//
// Lock order: seFoldersPadlock first (held across folder lookup, creation and the opening of a
// database), then a folder's padlocks.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "dictionary/zfsdServerEngine.h"
#include "foundation/zfllComponent.h"
#include "foundation/zfllSync.h"
#include "platform/rtl/rtlGuid.h"
#include "server/zfsrServerLinks.h"

namespace zf {

class TzfBufferManager;
class TzfServerFolder;

ZF_DECLARE_ENGINE_EXCEPTION(EzfServerEngineException, EzfBaseException)

enum TzfServerEngineOption : uint8_t {
  seoReadOnly, seoForceFailSafe, seoCloseInactiveFolders, seoCloseInactiveTables, seoInMemOnly, seoIsSecure,
  seoVerifyTableNames
};
using TzfServerEngineOptions = uint8_t;  // bit i = option i
inline constexpr int32_t kzfServerEngineOptionCount = 7;
const char16_t* zfServerEngineOptionName(TzfServerEngineOption aOption);

// The memory limit in MiB for a machine of aTotalMiB when MaxRAM is below 1: the larger of half
// the memory and the memory less max(a fifth, 2048).
int64_t zfDefaultMaxRAM(int64_t aTotalMiB);
// The temporary store size in MiB: min(aMaxRAM * 10, free / 3 MiB, largest file / 3 MiB).
int64_t zfDefaultTempStoreSize(int64_t aMaxRAM, int64_t aFreeBytes, int64_t aMaxFileSize);
// The machine's total memory in MiB (the cgroup's limit when lower); 0 when unknown.
int64_t zfTotalMemoryMiB();
// The system's temporary folder: TMPDIR when set, else "/tmp".
UnicodeString zfSystemTempFolder();

// Alias descriptors handed out by GetList (owned by the caller's list).
struct TzfAliasDescriptor {
  UnicodeString adAlias;
  UnicodeString adPath;
};

class TzfBaseAliasHandler : public TzfComponent {
 public:
  using TzfComponent::TzfComponent;
  const char16_t* ClassName() const override { return u"TzfBaseAliasHandler"; }
  virtual void Clear() = 0;
  // 10009 for an existing alias; with aEnforce the directories are made (9219 on failure).
  virtual uint32_t Add(const UnicodeString& aAlias, const UnicodeString& aPath, bool aEnforce) = 0;
  // 10014 for an unknown alias.
  virtual uint32_t Delete(const UnicodeString& aAlias) = 0;
  virtual uint32_t Modify(const UnicodeString& aAlias, const UnicodeString& aNewName, const UnicodeString& aNewPath,
                          bool aEnforce) = 0;
  virtual uint32_t GetList(std::vector<TzfAliasDescriptor>& aList) = 0;
  virtual uint32_t GetPath(const UnicodeString& aAlias, UnicodeString& aPath) = 0;
  bool IsAlias(const UnicodeString& aAlias) {
    UnicodeString p;
    return GetPath(aAlias, p) == 0;
  }

  void LoadConfig(TzfBaseComponentConfiguration& aConfig) override;
  void SaveConfig(TzfBaseComponentConfiguration& aConfig) override;
  void GetConfigSettings(TzfBaseSettings& aSettings) override;
  void SaveSettingsToStream(TzfWriter& aWriter) override;
  void LoadSettingsFromStream(TzfReader& aReader) override;
  // Warnings of the last LoadConfig (one line per alias whose folder does not exist).
  UnicodeString ConfigErrors;
};

class TzfSimpleAliasHandler : public TzfBaseAliasHandler {
 public:
  using TzfBaseAliasHandler::TzfBaseAliasHandler;
  const char16_t* ClassName() const override { return u"TzfSimpleAliasHandler"; }
  void Clear() override;
  uint32_t Add(const UnicodeString& aAlias, const UnicodeString& aPath, bool aEnforce) override;
  uint32_t Delete(const UnicodeString& aAlias) override;
  uint32_t Modify(const UnicodeString& aAlias, const UnicodeString& aNewName, const UnicodeString& aNewPath,
                  bool aEnforce) override;
  uint32_t GetList(std::vector<TzfAliasDescriptor>& aList) override;
  uint32_t GetPath(const UnicodeString& aAlias, UnicodeString& aPath) override;

 private:
  uint32_t AddLocked(const UnicodeString& aAlias, const UnicodeString& aPath, bool aEnforce);
  std::mutex sahLock;
  // Upper-cased alias -> (alias as given, path); sorted, duplicates refused.
  std::map<UnicodeString, std::pair<UnicodeString, UnicodeString>> sahList;
};

class TzfServerEngine : public TzfBaseServerEngine {
 public:
  explicit TzfServerEngine(TComponent* aOwner = nullptr);
  ~TzfServerEngine() override;
  const char16_t* ClassName() const override { return u"TzfServerEngine"; }
  static const TzfComponentClass& ClassInfo();

  void SetName(const UnicodeString& aName) override;
  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;

  // Properties (writers require the engine inactive).
  int32_t MaxRAM() const { return seMaxRAM; }
  void SetMaxRAM(int32_t aValue);
  int32_t TempStoreSize() const { return seTempStoreSize; }
  void SetTempStoreSize(int32_t aValue);
  const UnicodeString& TempStorePath() const { return seTempStorePath; }
  void SetTempStorePath(const UnicodeString& aValue);
  const UnicodeString& TableExtension() const { return seTableExtension; }
  // 10042 (raised) for a text that is not an identifier.
  void SetTableExtension(const UnicodeString& aValue);
  const UnicodeString& ServerName() const { return seServerName; }
  void SetServerName(const UnicodeString& aValue);
  TzfServerEngineOptions Options() const { return seOptions; }
  void SetOptions(TzfServerEngineOptions aValue);
  bool HasOption(TzfServerEngineOption aOption) const { return seOptions & (1u << aOption); }
  TzfBaseAliasHandler* AliasHandler() const { return seAliasHandler; }
  void SetAliasHandler(TzfBaseAliasHandler* aValue);
  // The linked SQL engine (none by default). Linking makes the two components dependents of
  // each other; the engine then depends on it, and tells it first when stopping.
  TzfBaseSqlEngine* SqlEngine() const { return seSqlEngine; }
  void SetSqlEngine(TzfBaseSqlEngine* aValue);
  bool DependsOn(TzfComponent* aComponent) override;

  void GetStatsCaptions(std::vector<UnicodeString>& aList) override;
  void GetStatsValues(std::vector<UnicodeString>& aList) override;
  UnicodeString GetDisplayOnlyValue(const UnicodeString& aValueName) override;
  void GetConfigSettings(TzfBaseSettings& aSettings) override;
  void LoadConfig(TzfBaseComponentConfiguration& aConfig) override;
  void SaveConfig(TzfBaseComponentConfiguration& aConfig) override;
  void SaveSettingsToStream(TzfWriter& aWriter) override;
  void LoadSettingsFromStream(TzfReader& aReader) override;

  [[noreturn]] void bseRaiseException(uint32_t aErrorCode, const UnicodeString* aMessage = nullptr) override;
  rtl::TGUID bseGetServerGuid() override { return seServerGuid; }
  UnicodeString bseGetServerName() override { return seServerName; }
  uint32_t SessionOpenEx(TzfAbstractSession*& aSession, const UnicodeString& aUserName, const UnicodeString& aPassword,
                         const UnicodeString& aConnectedFrom, uint32_t aTimeout, int32_t aClientVersion) override;

  // The session factory (installed by the session unit); answers 0 and the new session.
  using TzfSessionFactory = std::function<uint32_t(TzfServerEngine* aEngine, TzfAbstractSession*& aSession,
                                                   const UnicodeString& aUserName, const UnicodeString& aPassword,
                                                   const UnicodeString& aConnectedFrom, uint32_t aTimeout,
                                                   int32_t aClientVersion)>;
  static void seSetSessionFactory(TzfSessionFactory aFactory);
  // Whether a session passed the engine's authentication (the session unit decides; true here).
  using TzfAuthenticatedProc = std::function<bool(TzfAbstractSession* aSession)>;
  static void seSetAuthenticatedProc(TzfAuthenticatedProc aProc);
  virtual uint32_t seCreateSession(TzfAbstractSession*& aSession, const UnicodeString& aUserName,
                                   const UnicodeString& aPassword, const UnicodeString& aConnectedFrom,
                                   uint32_t aTimeout, int32_t aClientVersion);

  // Folders. seFolderOpen finds or creates the folder of a directory; the caller holds
  // seFoldersPadlock for as long as it uses the answer to open a database.
  uint32_t seFolderOpen(const UnicodeString& aDirectory, TzfServerFolder*& aFolder);
  void seAddFolder(const UnicodeString& aPath, TzfServerFolder* aFolder);
  void seRemoveFolder(const UnicodeString& aPath, TzfServerFolder* aFolder);
  int32_t seFolderListCount();
  uint32_t seCloseInactiveFolders();
  uint32_t seCloseInactiveTables();
  void seLogWarning(const UnicodeString& aMessage);

  std::unique_ptr<TzfBufferManager> seBufferManager;
  rtl::TGUID seServerGuid{};
  TzfPadlock seFoldersPadlock;
  std::atomic<int32_t> seFolderCount{0};
  std::atomic<int32_t> seTableCount{0};

 protected:
  void DoInitializing() override;
  void DoDeactivating() override;
  void DoStopping() override;
  virtual TzfBaseAliasHandler* seCreateDefaultAliasHandler();

 private:
  void seFreeFolders();
  int32_t seMaxRAM = -1;
  UnicodeString seTempStorePath;
  int32_t seTempStoreSize = -1;
  UnicodeString seTableExtension = u"zf1";
  std::map<UnicodeString, TzfServerFolder*> seFolders;
  TzfBaseAliasHandler* seAliasHandler = nullptr;
  bool seOwnsAliasHandler = false;
  TzfBaseSqlEngine* seSqlEngine = nullptr;
  UnicodeString seServerName;
  TzfServerEngineOptions seOptions = 0;
};

rtl::TUnitInit& zfsrServerEngineComponentUnit();

}  // namespace zf
