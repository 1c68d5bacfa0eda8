// Client data-access components: sessions, databases and transaction contexts.
//
// Every component here is a state component that holds one engine object: it opens the object
// in the transition to Started and releases it in the transition back to Stopped. Every error a
// component raises is an EzfDatabaseError naming the component.
//
//   TzfDataAccessStateComponent > TzfBaseSession > TzfSession
//   TzfDataAccessStateComponent > TzfSessionOwnedDataAccessStateComponent > TzfDatabase, TzfTransContext
//
// A session connects to one server engine and owns one engine session: it logs in with retries,
// can be the default session of its thread, manages aliases and table passwords and answers
// catalogue questions for an alias through implicit databases it makes on demand. A database
// opens one engine database by alias name or by folder path and is the entry to the engine's
// table maintenance operations and transactions; a transaction context holds one engine context
// that several databases can share.
//
// Timeouts: a negative Timeout inherits (database or context, then session, then 10000 ms); the
// effective value is handed to the engine object whenever it changes.
//
// Components are used from one thread at a time; the engine serialises a session's operations.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "client/zfdbBase.h"
#include "dictionary/zfsdServerEngine.h"
#include "foundation/zfllComponent.h"

namespace zf {

class TzfDatabase;
class TzfTransContext;
class TzfTable;
class TzfCursor;
class TzfQuery;
class TzfStoredProc;
struct TzfVarRec;
using TzfConstArray = std::vector<TzfVarRec>;
using TzfDynVariantArray = std::vector<rtl::Variant>;

// The base of every client component that holds an engine object: its errors are client
// exceptions naming the component.
class TzfDataAccessStateComponent : public TzfStateComponent {
 public:
  using TzfStateComponent::TzfStateComponent;
  const char16_t* ClassName() const override { return u"TzfDataAccessStateComponent"; }

 protected:
  [[noreturn]] void ThrowComponentException(bool aHasCode, uint32_t aErrorCode, const UnicodeString* aMsg) override;
};

// (aSender, var aUserName, var aPassword, var aResult).
using TzfLoginEvent = std::function<void(class TzfBaseSession* aSender, UnicodeString& aUserName,
                                         UnicodeString& aPassword, bool& aResult)>;
using TzfLoginHook = bool (*)(UnicodeString& aUserName, UnicodeString& aPassword);

// Stand in for an empty UserName or Password at login (empty unless the application sets them).
extern UnicodeString zfDefaultUserName;
extern UnicodeString zfDefaultPassword;
// Asked for new credentials on the main thread when a session has no OnLogin handler.
extern TzfLoginHook zfLoginHook;
// The platform's default beep; a test may replace it.
extern void (*zfLoginBeep)();

class TzfBaseSession : public TzfDataAccessStateComponent {
 public:
  explicit TzfBaseSession(TComponent* aOwner = nullptr);
  // Clears the default-session variable that still holds it, then closes.
  ~TzfBaseSession() override;
  const char16_t* ClassName() const override { return u"TzfBaseSession"; }

  virtual TzfBaseServerEngine* GetServerEngine() const = 0;
  // Timeout, or 10000 ms when Timeout is negative.
  virtual uint32_t EffectiveTimeout() const;
  // 15465 when there is no server engine.
  virtual void CheckServerEngine();
  // Hands the effective timeout to the engine session and tells every database and context.
  virtual void TimeoutChanged();
  // The implicit database for the alias (made when missing), opened.
  virtual TzfDatabase* OpenDatabase(const UnicodeString& aAliasName);
  // The implicit database for the alias, or nullptr; nothing is made.
  virtual TzfDatabase* FindDatabase(const UnicodeString& aAliasName);

  // Properties.
  const UnicodeString& UserName() const { return bsUserName; }
  void SetUserName(const UnicodeString& aValue);  // inactive only, unless unchanged
  const UnicodeString& Password() const { return bsPassword; }
  void SetPassword(const UnicodeString& aValue);  // inactive only, unless unchanged
  const UnicodeString& CurrentUserName() const { return bsCurrentUserName; }
  int32_t PasswordRetries() const { return bsPasswordRetries; }
  void SetPasswordRetries(int32_t aValue) { bsPasswordRetries = aValue; }
  bool BeepOnLoginError() const { return bsBeepOnLoginError; }
  void SetBeepOnLoginError(bool aValue) { bsBeepOnLoginError = aValue; }
  int32_t Timeout() const { return bsTimeout; }
  void SetTimeout(int32_t aValue);
  bool ClientLocaleAsDefault() const { return bsClientLocaleAsDefault; }
  void SetClientLocaleAsDefault(bool aValue);  // always inactive only
  TzfLoginEvent OnLogin;

  // The calling thread's default session: reading raises 8455 "Default session has been used in
  // another thread" when this session is the default of another thread.
  bool Default();
  void SetDefault(bool aValue);
  // The calling thread's default session, or nullptr.
  static TzfBaseSession* DefaultSession();

  // Aliases (plain forms raise, Ex forms answer the code).
  void AddAlias(const UnicodeString& aName, const UnicodeString& aPath, bool aEnforce);
  uint32_t AddAliasEx(const UnicodeString& aName, const UnicodeString& aPath, bool aEnforce);
  void DeleteAlias(const UnicodeString& aName);
  uint32_t DeleteAliasEx(const UnicodeString& aName);
  void ModifyAlias(const UnicodeString& aName, const UnicodeString& aNewName, const UnicodeString& aNewPath,
                   bool aEnforce);
  uint32_t ModifyAliasEx(const UnicodeString& aName, const UnicodeString& aNewName, const UnicodeString& aNewPath,
                         bool aEnforce);
  // The plain form empties the list first; names already in the list are not added again.
  void GetAliasNames(rtl::TStrings* aList);
  uint32_t GetAliasNamesEx(rtl::TStrings* aList, bool aEmptyList);
  UnicodeString GetAliasPath(const UnicodeString& aName);
  uint32_t GetAliasPathEx(const UnicodeString& aName, UnicodeString& aPath);
  // True when the alias is known with a non-empty path.
  bool IsAlias(const UnicodeString& aName);

  // Table passwords of the session.
  void PasswordAdd(const UnicodeString& aPassword);
  void PasswordRemove(const UnicodeString& aPassword);
  void PasswordRemoveAll();
  void CloseInactiveTables();
  // Closes the implicit databases none of whose datasets is active, then the engine's folders.
  void CloseInactiveFolders();
  // The list emptied; filled by the engine when there is one (its code is not checked).
  void GetRegisteredClassList(TzfClassListType aClassListType, rtl::TStrings* aList);

  // Catalogue by alias through the alias's implicit database (its active state is restored).
  void GetTableNames(const UnicodeString& aAliasName, rtl::TStrings* aList);
  bool TableExists(const UnicodeString& aAliasName, const UnicodeString& aTableName, const UnicodeString& aPassword);
  void GetChangedTables(const UnicodeString& aAliasName, rtl::TStrings* aList);
  // The stored-procedure and function catalogue of an alias (client/zfdbSqlCalls.cpp); they need
  // an SQL engine (12289 without one).
  void GetStoredProcNames(const UnicodeString& aAliasName, rtl::TStrings* aList);
  void GetStoredFuncNames(const UnicodeString& aAliasName, rtl::TStrings* aList);
  void GetStoredProcParams(const UnicodeString& aAliasName, const UnicodeString& aName, TzfSqlParamList& aParams);
  void GetStoredFuncParams(const UnicodeString& aAliasName, const UnicodeString& aName, TzfSqlParamList& aParams);

  // Pass-through calls for engines reached through a transport: forwarded to the engine session
  // when it implements the same interface. Otherwise PassThrough answers 0, the two timed calls
  // 11278 and TimedNotify does nothing. A timeout of 0 means the session's effective timeout.
  int32_t PassThrough(int32_t aValue);
  uint32_t TimedPassThrough(uint32_t aTimeout, int32_t aValue, int32_t& aResult);
  uint32_t TimedPassThroughStream(uint32_t aTimeout, rtl::TStream* aRequest, rtl::TStream* aReply);
  void TimedNotify(uint32_t aTimeout);

  TzfDatabase* DefaultDatabase() const { return bsDefaultDatabase; }
  TzfTransContext* DefaultTransContext() const { return bsDefaultTransContext; }
  bool IsConnected() { return IsActive(); }
  // Asks the engine session to cancel what it runs (nothing is checked).
  void CancelProcessing();
  int32_t GetServerVersion();

  // The session's notification list, made on first use (racing first uses keep one); its
  // registrants are told when the session stops or its engine session goes away.
  IzfSessionNotifications& SessionNotifications();

  // The engine session (nullptr unless Started).
  TzfAbstractSession* AbstractSession() const { return bsAbstractSession; }

  void AddDependent(TzfComponent* aComponent) override;
  void RemoveDependent(TzfComponent* aComponent) override;

 protected:
  // New credentials: OnLogin, else the login hook on the main thread, else False.
  virtual bool DoLogin(UnicodeString& aUserName, UnicodeString& aPassword);
  void DoInitializing() override;
  void DoStarting() override;
  void DoStopping() override;

 private:
  friend class TzfDatabase;
  friend class TzfTransContext;
  friend class TzfCursor;
  friend class TzfDataset;
  friend struct TzfDefaultSessionSlot;
  friend class TzfClientSessionNotifier;
  // Registers this session's notifier with the engine session's notifications (cookie not kept).
  void RegisterWithEngineSession();
  TzfDatabase* GetImplicitDatabase(const UnicodeString& aAliasName, bool aCreate);
  // Runs aWork with the alias's implicit database active, restoring its state afterwards.
  void WithImplicitDatabase(const UnicodeString& aAliasName, const std::function<void(TzfDatabase*)>& aWork);

  TzfAbstractSession* bsAbstractSession = nullptr;
  TzfBaseSession** bsDefaultRef = nullptr;  // under the default-session lock
  std::vector<TzfDatabase*> bsDatabases;
  std::vector<std::pair<UnicodeString, TzfDatabase*>> bsTempDatabases;  // names compare case-insensitively
  TzfDatabase* bsDefaultDatabase = nullptr;
  std::vector<TzfTransContext*> bsTransContexts;
  TzfTransContext* bsDefaultTransContext = nullptr;
  UnicodeString bsUserName;
  UnicodeString bsCurrentUserName;
  UnicodeString bsPassword;
  int32_t bsPasswordRetries = 3;
  bool bsBeepOnLoginError = true;
  int32_t bsTimeout = -1;
  bool bsClientLocaleAsDefault = false;
  std::atomic<TzfSessionNotifications*> bsSessionNotifications{nullptr};
};

class TzfSession : public TzfBaseSession {
 public:
  explicit TzfSession(TComponent* aOwner = nullptr) : TzfBaseSession(aOwner) {}
  ~TzfSession() override;
  const char16_t* ClassName() const override { return u"TzfSession"; }

  TzfBaseServerEngine* GetServerEngine() const override { return sesServerEngine; }
  // Inactive only (unless unchanged); links the new engine.
  virtual void SetServerEngine(TzfBaseServerEngine* aValue);
  TzfBaseServerEngine* ServerEngine() const { return sesServerEngine; }

  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;
  bool DependsOn(TzfComponent* aComponent) override;

 private:
  TzfBaseServerEngine* sesServerEngine = nullptr;
};

// The base of everything that belongs to a session.
class TzfSessionOwnedDataAccessStateComponent : public TzfDataAccessStateComponent {
 public:
  // Without an owner that is loading it, the component takes the thread's default session.
  explicit TzfSessionOwnedDataAccessStateComponent(TComponent* aOwner = nullptr);
  const char16_t* ClassName() const override { return u"TzfSessionOwnedDataAccessStateComponent"; }

  TzfBaseSession* Session() const { return soSession; }
  // Inactive only (unless unchanged); links the new session.
  virtual void SetSession(TzfBaseSession* aValue);
  virtual void UseDefaultSession();
  virtual void TimeoutChanged() = 0;
  int32_t Timeout() const { return soTimeout; }
  void SetTimeout(int32_t aValue);
  // Timeout when not negative, else the session's, else 10000.
  uint32_t EffectiveTimeout() const;

  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;
  bool DependsOn(TzfComponent* aComponent) override;

 protected:
  // "No owning session" without a session.
  void CheckSession();

  TzfBaseSession* soSession = nullptr;
  int32_t soTimeout = -1;
};

class TzfTransContext : public TzfSessionOwnedDataAccessStateComponent {
 public:
  explicit TzfTransContext(TComponent* aOwner = nullptr);
  ~TzfTransContext() override;
  const char16_t* ClassName() const override { return u"TzfTransContext"; }

  bool FailSafe() const { return tcFailSafe; }
  void SetFailSafe(bool aValue) { tcFailSafe = aValue; }
  bool Default() const;
  // While loading from a form the value is remembered and applied when loading ends.
  void SetDefault(bool aValue);
  void Loaded() override;

  void StartTransaction(bool aSnapShot);
  bool TryStartTransaction(bool aSnapShot);
  // A transaction that write-locks the tables' cursors at once; every table must be active
  // ("Table %d (%s) must be active").
  void StartTransactionWith(const std::vector<TzfTable*>& aTables, bool aSnapShot);
  uint32_t StartTransactionWithEx(const std::vector<TzfTable*>& aTables, bool aSnapShot);
  void Commit();
  void Rollback();
  void TransactionCorrupted();
  bool InTransaction();

  void TimeoutChanged() override;
  void AddDependent(TzfComponent* aComponent) override;
  void RemoveDependent(TzfComponent* aComponent) override;

  TzfAbstractTransContext* AbstractTransContext() const { return tcAbstractTransContext; }
  const std::vector<TzfDatabase*>& Databases() const { return tcDatabases; }

 protected:
  void DoInitializing() override;
  void DoStarting() override;
  void DoStopping() override;

 private:
  TzfAbstractTransContext* tcAbstractTransContext = nullptr;
  std::vector<TzfDatabase*> tcDatabases;
  bool tcFailSafe = false;
  bool tcLoadedDefault = false;
};

class TzfDatabase : public TzfSessionOwnedDataAccessStateComponent {
 public:
  explicit TzfDatabase(TComponent* aOwner = nullptr);
  ~TzfDatabase() override;
  const char16_t* ClassName() const override { return u"TzfDatabase"; }

  // Properties.
  const UnicodeString& AliasName() const { return dbAliasName; }
  // Trimmed; a non-empty value empties AliasPath. An implicit database refuses another name.
  void SetAliasName(const UnicodeString& aValue);
  const UnicodeString& AliasPath() const { return dbAliasPath; }
  // Trimmed and without a trailing "/" (the root "/" stays); a non-empty value empties AliasName.
  void SetAliasPath(const UnicodeString& aValue);
  bool ReadOnly() const { return dbReadOnly; }
  void SetReadOnly(bool aValue) { dbReadOnly = aValue; }
  bool Exclusive() const { return dbExclusive; }
  void SetExclusive(bool aValue) { dbExclusive = aValue; }
  bool FailSafe() const { return dbFailSafe; }
  void SetFailSafe(bool aValue) { dbFailSafe = aValue; }
  bool Implicit() const { return dbImplicit; }
  TzfTransContext* TransContext() const { return dbTransContext; }
  void SetTransContext(TzfTransContext* aValue);
  bool Default() const;
  // While loading from a form the value is remembered and applied when loading ends.
  void SetDefault(bool aValue);
  void Loaded() override;

  void SetSession(TzfBaseSession* aValue) override;
  void UseDefaultSession() override;
  void TimeoutChanged() override;

  // Table maintenance (plain forms raise; Ex forms answer the code). Every out task handle is set
  // to nullptr before anything else; the caller frees a returned task.
  void CreateTable(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                   TzfDataDictionary* aDictionary, TzfTableScope aTableScope);
  uint32_t CreateTableEx(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                         TzfDataDictionary* aDictionary, TzfTableScope aTableScope);
  // An empty name does nothing; a missing table (10024) is no error.
  void DeleteTable(const UnicodeString& aTableName, const UnicodeString& aPassword);
  void EmptyTable(const UnicodeString& aTableName, const UnicodeString& aPassword);
  void RenameTable(const UnicodeString& aOldName, const UnicodeString& aNewName, const UnicodeString& aPassword);
  TzfAbstractTaskInfo* PackTable(const UnicodeString& aTableName, const UnicodeString& aPassword);
  uint32_t PackTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                       TzfAbstractTaskInfo*& aTaskInfo);
  TzfAbstractTaskInfo* BackupTable(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                   TzfDatabase* aTarget);
  uint32_t BackupTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword, TzfDatabase* aTarget,
                         TzfAbstractTaskInfo*& aTaskInfo);
  // A nil dictionary answers 9986.
  TzfAbstractTaskInfo* RestructureTable(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                        TzfDataDictionary* aDictionary, TzfBaseTableMapperDescriptor* aMapperDesc);
  uint32_t RestructureTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                              TzfDataDictionary* aDictionary, TzfBaseTableMapperDescriptor* aMapperDesc,
                              TzfAbstractTaskInfo*& aTaskInfo);
  // Starts the engine's table recover; an empty name answers 10024, an invalid one 10039.
  TzfAbstractTaskInfo* RecoverTable(const UnicodeString& aTableName, const UnicodeString& aPassword);
  uint32_t RecoverTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                          TzfAbstractTaskInfo*& aTaskInfo);
  // Starts the rebuild of one index, by name or by number; an empty table name answers 10039.
  TzfAbstractTaskInfo* ReIndexTable(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                    const UnicodeString& aIndexName);
  uint32_t ReIndexTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                          const UnicodeString& aIndexName, TzfAbstractTaskInfo*& aTaskInfo);
  TzfAbstractTaskInfo* ReIndexTable(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                    int32_t aIndexNum);
  uint32_t ReIndexTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword, int32_t aIndexNum,
                          TzfAbstractTaskInfo*& aTaskInfo);
  TzfAbstractTaskInfo* VerifyChecksumTable(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                           bool aRaw, bool aForceRecheck);
  uint32_t VerifyChecksumTableEx(const UnicodeString& aTableName, const UnicodeString& aPassword, bool aRaw,
                                 bool aForceRecheck, TzfAbstractTaskInfo*& aTaskInfo);
  void ChangePassword(const UnicodeString& aTableName, const UnicodeString& aOldPassword,
                      const UnicodeString& aNewPassword);
  uint32_t ChangePasswordEx(const UnicodeString& aTableName, const UnicodeString& aOldPassword,
                            const UnicodeString& aNewPassword);
  // The stored dictionary of a table; a file extension of the name is dropped.
  void GetDataDictionary(const UnicodeString& aTableName, const UnicodeString& aPassword,
                         TzfDataDictionary* aDictionary);
  uint32_t GetDataDictionaryEx(const UnicodeString& aTableName, const UnicodeString& aPassword,
                               TzfDataDictionary* aDictionary);
  uint32_t GetAutoIncValue(const UnicodeString& aTableName, const UnicodeString& aPassword);
  bool TableExists(const UnicodeString& aTableName, const UnicodeString& aPassword);
  void GetTableNames(rtl::TStrings* aList);
  void GetChangedTables(rtl::TStrings* aList);
  int64_t GetFreeDiskSpace();
  uint32_t GetFreeDiskSpaceEx(int64_t& aFreeSpace);
  UnicodeString GetPath();
  // AliasPath when set, else the session's path of AliasName.
  UnicodeString DatabasePath();
  // Active: True; no session: False; by alias: the session knows it; by path: it opens (the
  // database is closed again and an open failure answers False); neither: True.
  bool Exists();
  // A new table component without owner on aTableName, with index aIndexName and block-read size
  // aBlockReadSize, opened; a failed open frees it and passes the error on. The caller owns it.
  rtl::TComponentPtr<TzfTable> OpenTable(const UnicodeString& aTableName, const UnicodeString& aIndexName,
                                         int32_t aBlockReadSize);

  // Statements (client/zfdbSqlCalls.cpp). They run through short-lived query and stored
  // procedure datasets and need an SQL engine (12289 "An SQL Engine is required" without one).
  // The Open forms answer an open dataset the caller owns (freed again when the open fails); the
  // Exec forms free theirs and answer the output parameters' values in aResults.
  rtl::TComponentPtr<TzfQuery> OpenQuery(const UnicodeString& aQueryText, const TzfConstArray& aParams,
                                         int32_t aBlockReadSize, bool aRequestLive);
  rtl::TComponentPtr<TzfStoredProc> OpenStoredProc(const UnicodeString& aStoredProcName, const TzfConstArray& aParams,
                                                   int32_t aBlockReadSize);
  void ExecQuery(const UnicodeString& aQueryText, const TzfConstArray& aParams, TzfDynVariantArray& aResults);
  // The statement text is the file's UTF-8 text; a file that cannot be read raises.
  void ExecQueryFromFile(const UnicodeString& aFileName, const TzfConstArray& aParams, TzfDynVariantArray& aResults);
  // The statement text is the stream's UTF-8 text from its position to its end.
  void ExecQueryFromStream(rtl::TStream& aStream, const TzfConstArray& aParams, TzfDynVariantArray& aResults);
  void ExecStoredProc(const UnicodeString& aStoredProcName, const TzfConstArray& aParams,
                      TzfDynVariantArray& aResults);
  // The catalogue of stored procedures and functions.
  void GetStoredProcNames(rtl::TStrings* aList);
  void GetStoredFuncNames(rtl::TStrings* aList);
  void GetStoredProcParams(const UnicodeString& aName, TzfSqlParamList& aParams);
  void GetStoredFuncParams(const UnicodeString& aName, TzfSqlParamList& aParams);

  // Transactions.
  void StartTransaction(bool aSnapShot);
  bool TryStartTransaction(bool aSnapShot);
  // A transaction that write-locks the tables' cursors at once; every table must be active
  // ("Table %d (%s) must be active").
  void StartTransactionWith(const std::vector<TzfTable*>& aTables, bool aSnapShot);
  uint32_t StartTransactionWithEx(const std::vector<TzfTable*>& aTables, bool aSnapShot);
  void Commit();
  void Rollback();
  void TransactionCorrupted();
  // Not active, or no transaction running (10257): False.
  bool InTransaction();

  TzfAbstractDatabase* AbstractDatabase() const { return dbAbstractDatabase; }
  // The cursor links of the datasets on this database.
  int32_t DataSetCount() const { return static_cast<int32_t>(dbDataSets.size()); }
  // Those among them whose dataset is a table component.
  int32_t TableCount() const;
  // Those among them whose dataset is a statement dataset.
  int32_t QueryCount() const;
  // Whether a dataset linked to it is open.
  bool HasActiveDataSets() const;

  void AddDependent(TzfComponent* aComponent) override;
  void RemoveDependent(TzfComponent* aComponent) override;
  void ReceiveNotification(TzfComponent* aSender, TzfNotificationKind aKind, const void* aData) override;
  bool DependsOn(TzfComponent* aComponent) override;

 protected:
  void DoInitializing() override;
  void DoStarting() override;
  void DoStopping() override;

 private:
  friend class TzfBaseSession;
  bool AllowSystem();
  // The state check and the answer of a task start in one place.
  TzfAbstractTaskInfo* TaskResult(uint32_t aCode, TzfAbstractTaskInfo* aTaskInfo);

  TzfTransContext* dbTransContext = nullptr;
  TzfAbstractDatabase* dbAbstractDatabase = nullptr;
  bool dbImplicit = false;
  UnicodeString dbAliasName;
  UnicodeString dbAliasPath;
  bool dbReadOnly = false;
  bool dbExclusive = false;
  bool dbFailSafe = false;
  bool dbLoadedDefault = false;
  std::vector<TzfCursor*> dbDataSets;
};

}  // namespace zf
