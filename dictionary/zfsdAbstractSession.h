// Abstract session, database and transaction context, and the handle of a long task.
//
// Clients reach the engine through these classes; the concrete server classes implement the
// abstract operations. What the abstract level does itself:
// - ownership: a session owns its databases, transaction contexts and task handles, a database
//   its cursors and statements (TzfServerChain: claimed and freed once, never spun on);
// - counting in the engine's statistics (interlocked, after construction and before destruction);
// - versions and the user information of a session;
// - failure and clean-up: destroying a session (or killing it) marks its lock permanently failed;
//   the clean-up prepares every task handle, database and context of the session for destruction
//   and then frees them (tasks first, then databases, then contexts);
// - a database forwards transaction control to its transaction context and inherits options from
//   it; freeing a context that databases still use gives each of them a new private context.
//
// The links between databases and the contexts they use are guarded by one lock per session
// (asTransLinksLock), so that a context being freed and a database being freed never meet
// half-linked.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "dictionary/zfsdOpenModes.h"
#include "dictionary/zfsdServerChain.h"
#include "dictionary/zfsdSimpleLock.h"
#include "dictionary/zfsdTypes.h"
#include "foundation/zfllSessionNotifications.h"
#include "platform/rtl/rtlDateTime.h"
#include "platform/rtl/rtlGuid.h"

namespace zf {

class TzfAbstractDatabase;
class TzfAbstractTransContext;
class TzfAbstractCursor;
class TzfAbstractStatement;
namespace rtl {
class TStream;
}
class TzfDataDictionary;
class TzfBaseTableDescriptor;
class TzfIndexDescriptor;
class TzfBaseTableMapperDescriptor;

enum TzfStatementType : uint8_t { stQuery, stStoredProcedure };
enum TzfStatementExecDirectPhase : uint8_t { sedAlloc, sedPrepare, sedSetParams, sedExec, sedGetParams, sedFree };
enum TzfClassListType : uint8_t {
  setAutoIncEngines, setBlobEngines, setIndicesEngines, setEncryptionEngines, setDefaultDescriptors,
  setValidationDescriptors, setRecordDescriptors, setRIActionDescriptors
};

// The progress of a long task as any thread reads it.
struct TzfTaskStatus {
  uint32_t tsStartTime = 0;     // tick (ms, wrapping at 32 bits) when the task was created
  uint32_t tsSnapshotTime = 0;  // tick of the last update
  uint32_t tsTotalRecs = 0;
  uint32_t tsRecsRead = 0;
  uint32_t tsRecsWritten = 0;
  uint32_t tsErrorCode = 0;
  uint8_t tsPercentDone = 0;
  bool tsFinished = false;
  UnicodeString tsErrorMessage;
};

// ---------------------------------------------------------------------------------------------

class TzfAbstractTaskInfo : public TzfExtendableServerObject {
 public:
  // Appended to the session's task handles.
  explicit TzfAbstractTaskInfo(TzfAbstractSession* aSession);
  ~TzfAbstractTaskInfo() override;  // leaves the session's chain
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  virtual uint32_t GetStatus(bool& aCompleted, TzfTaskStatus& aStatus) = 0;
  virtual uint32_t Cancel() = 0;
  // Cancels first.
  void PrepareDestroy() override;
  TzfServerChain* asoOwnerChain() override;
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
};

// ---------------------------------------------------------------------------------------------

class TzfAbstractSession : public TzfAbstractTimeoutObject {
 public:
  // Creates the session's lock and joins the engine's chain of sessions.
  TzfAbstractSession(TzfBaseServerEngine* aServerEngine, uint32_t aTimeout, const UnicodeString& aUserName,
                     const UnicodeString& aPassword, const UnicodeString& aConnectedFrom);
  ~TzfAbstractSession() override;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  void AfterConstruction() override;    // counted in the engine's sessions
  void BeforeDestruction() override;    // uncounted; then marked failed and cleaned up
  // Marks the session permanently failed and waits for its clean-up (at once when idle, else
  // when the operation running on another thread ends).
  void PrepareDestroy() override;
  TzfServerChain* asoOwnerChain() override;
  // A session is never destroyed from inside one of its own operations ("Assertion failure").
  void asoCheckDestroyAllowed() override;

  int32_t asoGetVersion() override;     // the lower of client and server version
  TzfBaseServerEngine* asoGetServerEngine() override { return asServerEngine; }
  virtual int32_t asGetClientVersion();
  virtual int32_t asGetServerVersion();
  virtual void asRemoveFromServerEngine();
  virtual void asMarkFailed(bool aPermanent, bool aWait);
  // The clean-up after a permanent failure (runs once, through the lock).
  virtual void asFailedCleanup();

  // 0 and the session for the identity of a live session; else 9990.
  static uint32_t LookupByID(TzfSessionID aSessionID, TzfAbstractSession*& aSession);
  // A client's cancel (False) or a kill (True); nothing for a session being destroyed. True when
  // a new cancel was made pending.
  bool Failed(bool aPermanent);

  virtual uint32_t AliasAdd(const UnicodeString& aAlias, const UnicodeString& aPath, bool aEnforce) = 0;
  virtual uint32_t AliasDelete(const UnicodeString& aAlias) = 0;
  virtual uint32_t AliasModify(const UnicodeString& aAlias, const UnicodeString& aNewName,
                               const UnicodeString& aNewPath, bool aEnforce) = 0;
  virtual uint32_t AliasGetList(std::vector<std::pair<UnicodeString, UnicodeString>>& aList) = 0;
  virtual uint32_t AliasGetPath(const UnicodeString& aAlias, UnicodeString& aPath) = 0;
  virtual uint32_t PasswordAdd(const UnicodeString& aPassword) = 0;
  virtual uint32_t PasswordRemove(const UnicodeString& aPassword) = 0;
  virtual uint32_t PasswordRemoveAll() = 0;
  virtual uint32_t CloseInactiveFolders() = 0;
  virtual uint32_t CloseInactiveTables() = 0;
  virtual uint32_t DatabaseOpen(TzfAbstractDatabase*& aDatabase, const UnicodeString& aAliasType,
                                const UnicodeString& aAlias, TzfAbstractTransContext* aTransContext,
                                TzfOpenMode aOpenMode, TzfShareMode aShareMode, uint32_t aTimeout) = 0;
  virtual uint32_t TransContextCreate(TzfAbstractTransContext*& aTransContext, uint32_t aTimeout) = 0;
  virtual uint32_t GetRegisteredClassList(TzfClassListType aClassListType, rtl::TStrings& aList) = 0;

  // The session's notification list, made on first request (racing first requests keep one);
  // its registrants are told when the session is destroyed.
  IzfSessionNotifications& SessionNotifications();

  // Up to three lines: identity and connection time, the user, where the client connects from.
  void GetUserInfo(rtl::TStrings& aStrings);

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  bool CleanedUp() const { return asCleanedUp.load(); }
  const UnicodeString& UserName() const { return asUserName; }
  const UnicodeString& Password() const { return asPassword; }
  const UnicodeString& ConnectedFrom() const { return asConnectedFrom; }
  rtl::TDateTime ConnectedSince() const { return asConnectedSince; }

  // Owned objects (rule: tasks, then databases, then contexts when cleaning up).
  TzfServerChain asDatabases;
  TzfServerChain asTransContexts;
  TzfServerChain asTaskInfos;
  // Guards every database <-> transaction context link of the session.
  std::mutex asTransLinksLock;
  bool asAuthenticated = false;

 protected:
  TzfBaseServerEngine* asServerEngine;

 private:
  std::atomic<bool> asCleanedUp{false};
  std::atomic<TzfSessionNotifications*> asSessionNotifications{nullptr};
  rtl::TDateTime asConnectedSince;
  bool asLockedIncDone = false;
  UnicodeString asUserName, asPassword, asConnectedFrom;
  TzfSimpleLock* asOwnLock;
};

// ---------------------------------------------------------------------------------------------

// Transaction control shared by a database and a transaction context.
class TzfBaseTransContext : public TzfAbstractTimeoutObject {
 public:
  using TzfAbstractTimeoutObject::TzfAbstractTimeoutObject;
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  virtual uint32_t TransactionStart(bool aFailSafe, bool aSnapShot) = 0;
  virtual uint32_t TransactionStartWith(bool aFailSafe, bool aSnapShot,
                                        const std::vector<TzfAbstractCursor*>& aCursors) = 0;
  virtual uint32_t TransactionCommit() = 0;
  virtual uint32_t TransactionRollback() = 0;
  virtual uint32_t TransactionCorrupted() = 0;
  virtual uint32_t TransactionGetLevel(int32_t& aTransLevel) = 0;
};

class TzfAbstractTransContext : public TzfBaseTransContext {
 public:
  TzfAbstractTransContext(TzfAbstractSession* aSession, uint32_t aTimeout);
  ~TzfAbstractTransContext() override;  // leaves the session's chain
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  void AfterConstruction() override;
  // Uncounted; rolls back; every database still attached gets a private context.
  void BeforeDestruction() override;
  void PrepareDestroy() override;  // the base part, then Failed
  TzfServerChain* asoOwnerChain() override;

  virtual void atcForceRollback() {}
  virtual void Failed();
  bool atcGetFailed() const { return atcFailed.load(); }
  // The databases attached now (a copy, read under the session's link lock).
  std::vector<TzfAbstractDatabase*> AttachedDatabases();

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

 private:
  friend class TzfAbstractDatabase;
  std::atomic<bool> atcFailed{false};
  bool atcLockedIncDone = false;
  std::vector<TzfAbstractDatabase*> atcDatabases;  // under the session's asTransLinksLock
};

class TzfAbstractDatabase : public TzfBaseTransContext {
 public:
  // Uses aTransContext, or a context of its own made through the session; when that cannot be
  // made the database is not created: the constructor raises the code.
  TzfAbstractDatabase(TzfAbstractSession* aSession, TzfAbstractTransContext* aTransContext, uint32_t aTimeout);
  ~TzfAbstractDatabase() override;  // leaves the session's chain
  static const rtl::TClassInfo& ClassInfo();
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  void AfterConstruction() override;
  // Uncounted; prepared; then its statements, cursors and own context are freed and it leaves
  // its context.
  void BeforeDestruction() override;
  void PrepareDestroy() override;
  TzfServerChain* asoOwnerChain() override;

  // Options are inherited from the transaction context.
  TzfExtendableServerObject* esoGetOptionParent() override;
  void atoSetTimeout(uint32_t aTimeout) override;

  // Forwarded to the transaction context (9990 when the database has none).
  uint32_t TransactionStart(bool aFailSafe, bool aSnapShot) override;
  uint32_t TransactionStartWith(bool aFailSafe, bool aSnapShot, const std::vector<TzfAbstractCursor*>& aCursors) override;
  uint32_t TransactionCommit() override;
  uint32_t TransactionRollback() override;
  uint32_t TransactionCorrupted() override;
  uint32_t TransactionGetLevel(int32_t& aTransLevel) override;

  // True exactly when the database's own option "ALLOWSYSTEMTABLEACCESS" is "1".
  bool IsSystemTableAccessAllowed();

  virtual uint32_t TableBuild(bool aOverWrite, const UnicodeString& aTableName, const UnicodeString& aPassword,
                              TzfDataDictionary* aDictionary, TzfTableScope aTableScope, bool aAllowSystem) = 0;
  virtual uint32_t TablePack(const UnicodeString& aTableName, const UnicodeString& aPassword,
                             TzfAbstractTaskInfo*& aTaskInfo) = 0;
  virtual uint32_t TableBackup(const UnicodeString& aTableName, const UnicodeString& aPassword,
                               TzfAbstractDatabase* aTargetDatabase, TzfAbstractTaskInfo*& aTaskInfo) = 0;
  virtual uint32_t TableRebuildIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                     const UnicodeString& aIndexName, int32_t aIndexID,
                                     TzfAbstractTaskInfo*& aTaskInfo) = 0;
  virtual uint32_t TableRestructure(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                    TzfDataDictionary* aDictionary, TzfBaseTableMapperDescriptor* aMapperDesc,
                                    bool aAllowSystem, TzfAbstractTaskInfo*& aTaskInfo) = 0;
  virtual uint32_t TableAddIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                 TzfIndexDescriptor* aIndexDesc, bool aNewDefault) = 0;
  virtual uint32_t TableDropIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                  const UnicodeString& aIndexName, int32_t aIndexID) = 0;
  virtual uint32_t TableRename(const UnicodeString& aOldName, const UnicodeString& aNewName,
                               const UnicodeString& aPassword) = 0;
  virtual uint32_t TableRecover(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                TzfAbstractTaskInfo*& aTaskInfo) = 0;
  virtual uint32_t TableVerifyChecksum(const UnicodeString& aTableName, const UnicodeString& aPassword, bool aRaw,
                                       bool aForceRecheck, TzfAbstractTaskInfo*& aTaskInfo) = 0;
  virtual uint32_t TableDelete(const UnicodeString& aTableName, const UnicodeString& aPassword) = 0;
  virtual uint32_t TableEmpty(const UnicodeString& aTableName, const UnicodeString& aPassword) = 0;
  virtual uint32_t TableChangePassword(const UnicodeString& aTableName, const UnicodeString& aOldPassword,
                                       const UnicodeString& aNewPassword) = 0;
  virtual uint32_t TableExists(const UnicodeString& aTableName, const UnicodeString& aPassword, bool& aExists,
                               bool aAllowSystem) = 0;
  virtual uint32_t TableGetDictionary(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                      TzfDataDictionary* aDictionary) = 0;
  virtual uint32_t TableGetList(rtl::TStrings& aList) = 0;
  virtual uint32_t TableAutoIncGet(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                   uint32_t& aValue) = 0;
  virtual uint32_t GetChangedTables(rtl::TStrings& aTables) = 0;
  virtual uint32_t CursorOpen(TzfAbstractCursor*& aCursor, const UnicodeString& aTableName,
                              const UnicodeString& aPassword, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                              uint32_t aTimeout, bool aAllowSystem) = 0;
  virtual uint32_t StatementAlloc(TzfAbstractStatement*& aStatement, uint32_t aTimeout) = 0;
  // One statement run start to end (allocate, prepare, set parameters, execute, read the
  // parameters back when aGetParamsStream is given, free); aPhase is the step that answered.
  virtual uint32_t StatementExecDirect(uint32_t aTimeout, TzfStatementType aStatementType,
                                       const UnicodeString& aQueryText, rtl::TStream* aPrepareStream,
                                       TzfSqlParamList& aParams, rtl::TStream* aSetParamsStream,
                                       TzfAbstractCursor*& aCursor, TzfOpenMode aOpenMode, rtl::TStream* aExecStream,
                                       rtl::TStream* aGetParamsStream, TzfStatementExecDirectPhase& aPhase) = 0;
  virtual uint32_t GetFreespace(int64_t& aFreeSpace) = 0;
  virtual uint32_t GetPath(UnicodeString& aPath) = 0;

  TzfAbstractTransContext* TransContext() const { return adTransContext.load(std::memory_order_acquire); }
  TzfAbstractTransContext* OwnedTransContext() const { return adOwnedTransContext; }

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  TzfServerChain adCursors;
  TzfServerChain adStatements;

 private:
  friend class TzfAbstractTransContext;
  // Leaves the context it uses (under the session's link lock).
  void DetachFromContext();

  std::atomic<TzfAbstractTransContext*> adTransContext{nullptr};
  TzfAbstractTransContext* adOwnedTransContext = nullptr;  // under the session's link lock
  bool adLockedIncDone = false;
};

}  // namespace zf
