// A minimal concrete engine over the abstract server level, for the tests: sessions, databases,
// transaction contexts, cursors with an in-memory BLOB store, task handles, and a monitor with an
// extender that records notifications and can veto.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdServerEngine.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "tests/dictionary/zfsdTestUtil.h"

namespace zf::test {

ZF_DECLARE_ENGINE_EXCEPTION(ETestEngineException, EzfBaseException)

inline constexpr uint32_t kNotHere = zfErrNotSupported;

// ---------------------------------------------------------------------------------------------

class TTestEngine : public TzfBaseServerEngine {
 public:
  using TzfBaseServerEngine::TzfBaseServerEngine;
  ~TTestEngine() override { Close(); }
  const char16_t* ClassName() const override { return u"TTestEngine"; }

  [[noreturn]] void bseRaiseException(uint32_t aErrorCode, const UnicodeString* aMessage) override {
    if (aMessage) throw ETestEngineException(aErrorCode, *aMessage);
    throw ETestEngineException(aErrorCode);
  }
  rtl::TGUID bseGetServerGuid() override { return {}; }
  UnicodeString bseGetServerName() override { return u"TestEngine"; }
  uint32_t SessionOpenEx(TzfAbstractSession*& aSession, const UnicodeString& aUserName,
                         const UnicodeString& aPassword, const UnicodeString& aConnectedFrom, uint32_t aTimeout,
                         int32_t aClientVersion) override;

  std::atomic<bool> FailContextCreate{false};
  std::atomic<int32_t> CleanupRuns{0};
  std::atomic<int32_t> LastClientVersion{0};
};

class TTestTransContext : public TzfAbstractTransContext {
 public:
  using TzfAbstractTransContext::TzfAbstractTransContext;
  static const rtl::TClassInfo& ClassInfo() {
    static const rtl::TClassInfo info{u"TTestTransContext", &TzfAbstractTransContext::ClassInfo()};
    return info;
  }
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  uint32_t TransactionStart(bool, bool) override {
    return PublicOperation(eaTransactionStart, {}, [&] {
      ++Level;
      return 0u;
    });
  }
  uint32_t TransactionStartWith(bool a, bool b, const std::vector<TzfAbstractCursor*>&) override {
    return TransactionStart(a, b);
  }
  uint32_t TransactionCommit() override {
    return PublicOperation(eaTransactionCommit, {}, [&] { return Level > 0 ? (--Level, 0u) : 8721u; });
  }
  uint32_t TransactionRollback() override {
    return PublicOperation(eaTransactionRollback, {}, [&] { return Level > 0 ? (--Level, 0u) : 8721u; });
  }
  uint32_t TransactionCorrupted() override { return 0; }
  uint32_t TransactionGetLevel(int32_t& aTransLevel) override {
    aTransLevel = Level - 1;
    return 0;
  }
  void atcForceRollback() override {
    Level = 0;
    ++ForcedRollbacks;
  }

  int32_t Level = 0;
  int32_t ForcedRollbacks = 0;
};

class TTestCursor;

class TTestDatabase : public TzfAbstractDatabase {
 public:
  using TzfAbstractDatabase::TzfAbstractDatabase;
  ~TTestDatabase() override {
    if (OnDestroy) OnDestroy();
  }
  // Runs in the destructor (a test holds a destruction half-way with it).
  std::function<void()> OnDestroy;
  static const rtl::TClassInfo& ClassInfo() {
    static const rtl::TClassInfo info{u"TTestDatabase", &TzfAbstractDatabase::ClassInfo()};
    return info;
  }
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  // A public operation whose work is aWork (action eaRecordGet, no arguments).
  uint32_t Run(const std::function<uint32_t()>& aWork) { return PublicOperation(eaRecordGet, {}, aWork); }

  uint32_t TableBuild(bool, const UnicodeString&, const UnicodeString&, TzfDataDictionary*, TzfTableScope,
                      bool) override { return kNotHere; }
  uint32_t TablePack(const UnicodeString&, const UnicodeString&, TzfAbstractTaskInfo*&) override { return kNotHere; }
  uint32_t TableBackup(const UnicodeString&, const UnicodeString&, TzfAbstractDatabase*,
                       TzfAbstractTaskInfo*&) override { return kNotHere; }
  uint32_t TableRebuildIndex(const UnicodeString&, const UnicodeString&, const UnicodeString&, int32_t,
                             TzfAbstractTaskInfo*&) override { return kNotHere; }
  uint32_t TableRestructure(const UnicodeString&, const UnicodeString&, TzfDataDictionary*,
                            TzfBaseTableMapperDescriptor*, bool, TzfAbstractTaskInfo*&) override { return kNotHere; }
  uint32_t TableAddIndex(const UnicodeString&, const UnicodeString&, TzfIndexDescriptor*, bool) override {
    return kNotHere;
  }
  uint32_t TableDropIndex(const UnicodeString&, const UnicodeString&, const UnicodeString&, int32_t) override {
    return kNotHere;
  }
  uint32_t TableRename(const UnicodeString&, const UnicodeString&, const UnicodeString&) override { return kNotHere; }
  uint32_t TableRecover(const UnicodeString&, const UnicodeString&, TzfAbstractTaskInfo*&) override {
    return kNotHere;
  }
  uint32_t TableVerifyChecksum(const UnicodeString&, const UnicodeString&, bool, bool,
                               TzfAbstractTaskInfo*&) override { return kNotHere; }
  uint32_t TableDelete(const UnicodeString&, const UnicodeString&) override { return kNotHere; }
  uint32_t TableEmpty(const UnicodeString&, const UnicodeString&) override { return kNotHere; }
  uint32_t TableChangePassword(const UnicodeString&, const UnicodeString&, const UnicodeString&) override {
    return kNotHere;
  }
  uint32_t TableExists(const UnicodeString&, const UnicodeString&, bool&, bool) override { return kNotHere; }
  uint32_t TableGetDictionary(const UnicodeString&, const UnicodeString&, TzfDataDictionary*) override {
    return kNotHere;
  }
  uint32_t TableGetList(rtl::TStrings&) override { return kNotHere; }
  uint32_t TableAutoIncGet(const UnicodeString&, const UnicodeString&, uint32_t&) override { return kNotHere; }
  uint32_t GetChangedTables(rtl::TStrings&) override { return kNotHere; }
  uint32_t CursorOpen(TzfAbstractCursor*& aCursor, const UnicodeString&, const UnicodeString&, TzfOpenMode,
                      TzfShareMode, uint32_t aTimeout, bool) override;
  uint32_t StatementAlloc(TzfAbstractStatement*&, uint32_t) override { return kNotHere; }
  uint32_t StatementExecDirect(uint32_t, TzfStatementType, const UnicodeString&, rtl::TStream*, TzfSqlParamList&,
                               rtl::TStream*, TzfAbstractCursor*& aCursor, TzfOpenMode, rtl::TStream*, rtl::TStream*,
                               TzfStatementExecDirectPhase& aPhase) override {
    aCursor = nullptr;
    aPhase = sedAlloc;
    return kNotHere;
  }
  uint32_t GetFreespace(int64_t&) override { return kNotHere; }
  uint32_t GetPath(UnicodeString&) override { return kNotHere; }

  // The table every cursor of this database reads (owned by the test).
  TzfDataDictionary* Table = nullptr;
};

class TTestSession : public TzfAbstractSession {
 public:
  TTestSession(TTestEngine* aEngine, uint32_t aTimeout, const UnicodeString& aUserName,
               const UnicodeString& aPassword, const UnicodeString& aConnectedFrom, int32_t aClientVersion)
      : TzfAbstractSession(aEngine, aTimeout, aUserName, aPassword, aConnectedFrom),
        Engine(aEngine),
        ClientVersion(aClientVersion) {}
  static const rtl::TClassInfo& ClassInfo() {
    static const rtl::TClassInfo info{u"TTestSession", &TzfAbstractSession::ClassInfo()};
    return info;
  }
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  int32_t asGetClientVersion() override { return ClientVersion; }
  void asFailedCleanup() override {
    Engine->CleanupRuns.fetch_add(1);
    TzfAbstractSession::asFailedCleanup();
  }

  uint32_t AliasAdd(const UnicodeString&, const UnicodeString&, bool) override { return kNotHere; }
  uint32_t AliasDelete(const UnicodeString&) override { return kNotHere; }
  uint32_t AliasModify(const UnicodeString&, const UnicodeString&, const UnicodeString&, bool) override {
    return kNotHere;
  }
  uint32_t AliasGetList(std::vector<std::pair<UnicodeString, UnicodeString>>&) override { return kNotHere; }
  uint32_t AliasGetPath(const UnicodeString&, UnicodeString&) override { return kNotHere; }
  uint32_t PasswordAdd(const UnicodeString&) override { return kNotHere; }
  uint32_t PasswordRemove(const UnicodeString&) override { return kNotHere; }
  uint32_t PasswordRemoveAll() override { return kNotHere; }
  uint32_t CloseInactiveFolders() override { return kNotHere; }
  uint32_t CloseInactiveTables() override { return kNotHere; }
  uint32_t GetRegisteredClassList(TzfClassListType, rtl::TStrings&) override { return kNotHere; }

  uint32_t DatabaseOpen(TzfAbstractDatabase*& aDatabase, const UnicodeString&, const UnicodeString& aAlias,
                        TzfAbstractTransContext* aTransContext, TzfOpenMode, TzfShareMode,
                        uint32_t aTimeout) override {
    aDatabase = nullptr;
    uint32_t r = zfCheckAliasName(aAlias, true);
    if (r != 0) return r;
    TzfOperationFrame frame;
    frame.TakeLock = false;
    return PublicOperation(frame, [&] {
      aDatabase = zfCreateServerObject<TTestDatabase>(this, aTransContext, aTimeout);
      return 0u;
    });
  }
  uint32_t TransContextCreate(TzfAbstractTransContext*& aTransContext, uint32_t aTimeout) override {
    aTransContext = nullptr;
    TzfOperationFrame frame;
    frame.TakeLock = false;
    frame.SetDeadline = false;
    return PublicOperation(frame, [&] {
      if (Engine->FailContextCreate.load()) return 9473u;
      aTransContext = zfCreateServerObject<TTestTransContext>(this, aTimeout);
      return 0u;
    });
  }
  // A public operation of the session itself.
  uint32_t Run(const std::function<uint32_t()>& aWork) { return PublicOperation(eaAliasGetPath, {}, aWork); }

  TTestEngine* Engine;
  int32_t ClientVersion;
};

inline uint32_t TTestEngine::SessionOpenEx(TzfAbstractSession*& aSession, const UnicodeString& aUserName,
                                           const UnicodeString& aPassword, const UnicodeString& aConnectedFrom,
                                           uint32_t aTimeout, int32_t aClientVersion) {
  aSession = nullptr;
  try {
    CheckStarted();
    LastClientVersion = aClientVersion;
    aSession = zfCreateServerObject<TTestSession>(this, aTimeout, aUserName, aPassword, aConnectedFrom,
                                                  aClientVersion);
    return 0;
  } catch (const std::exception& e) {
    return bseConvertException(e, nullptr);
  }
}

// ---------------------------------------------------------------------------------------------

class TTestCursor : public TzfAbstractCursor {
 public:
  TTestCursor(TTestDatabase* aDatabase, uint32_t aTimeout) : TzfAbstractCursor(aDatabase, aTimeout) {}
  static const rtl::TClassInfo& ClassInfo() {
    static const rtl::TClassInfo info{u"TTestCursor", &TzfAbstractCursor::ClassInfo()};
    return info;
  }
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }

  TzfDataDictionary* acGetDictionary() override { return static_cast<TTestDatabase*>(Database())->Table; }
  TzfBaseTableDescriptor* acGetTableDescriptor() override { return acGetDictionary(); }
  UnicodeString acGetFullName() override { return u"Test"; }

  // The BLOB store: numbers from 1, contents in memory.
  uint32_t BlobCreate(int32_t, int64_t& aBlobNr) override {
    aBlobNr = ++LastBlob;
    Blobs[aBlobNr];
    return 0;
  }
  uint32_t BlobDelete(int32_t, int64_t aBlobNr) override { return Blobs.erase(aBlobNr) ? 0 : 13057u; }
  uint32_t BlobRead(int32_t, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, rtl::TStream& aStream,
                    bool) override {
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return 13057;
    if (aOffset + static_cast<uint64_t>(aLen) > it->second.size()) return 13057;
    if (aLen) aStream.WriteBuffer(it->second.data() + aOffset, aLen);
    return 0;
  }
  uint32_t BlobWrite(int32_t, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen, const void* aBlob) override {
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return 13057;
    if (it->second.size() < aOffset + static_cast<size_t>(aLen)) it->second.resize(aOffset + static_cast<size_t>(aLen));
    if (aLen) std::memcpy(it->second.data() + aOffset, aBlob, aLen);
    return 0;
  }
  uint32_t BlobTruncate(int32_t, int64_t aBlobNr, uint32_t aLength) override {
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return 13057;
    if (it->second.size() > aLength) it->second.resize(aLength);
    return 0;
  }
  uint32_t BlobGetLength(int32_t, int64_t aBlobNr, uint32_t& aLength, bool) override {
    auto it = Blobs.find(aBlobNr);
    if (it == Blobs.end()) return 13057;
    aLength = static_cast<uint32_t>(it->second.size());
    return 0;
  }
  uint32_t FilterAddCustom(TzfBaseFilterDescriptor* aFilter, TzfFilterID& aFilterID) override {
    AddedFilters.push_back(aFilter);
    aFilterID = AddedFilters.size();
    return 0;
  }
  uint32_t KeyFilterAddCustom(TzfBaseFilterDescriptor* aFilter, TzfKeyFilterID& aKeyFilterID) override {
    return FilterAddCustom(aFilter, aKeyFilterID);
  }

  uint32_t BlobCreateFile(int32_t, const UnicodeString&, int64_t&) override { return kNotHere; }
  uint32_t BlobFree(int32_t, int64_t) override { return kNotHere; }
  uint32_t BlobModified(int32_t, int64_t, bool&) override { return kNotHere; }
  uint32_t SetToBegin() override { return kNotHere; }
  uint32_t SetToCursor(TzfAbstractCursor*) override { return kNotHere; }
  uint32_t SetToEnd() override { return kNotHere; }
  uint32_t SetToFilter(TzfBaseFilterDescriptor*, TzfBaseFilterDescriptor*, bool) override { return kNotHere; }
  uint32_t GetBookmark(uint8_t*, uint32_t) override { return kNotHere; }
  uint32_t CompareBookmarks(const uint8_t*, const uint8_t*, uint32_t, TValueRelationship&) override {
    return kNotHere;
  }
  uint32_t SetToBookmark(const uint8_t*, uint32_t) override { return kNotHere; }
  uint32_t BookmarkAsVariant(const uint8_t*, uint32_t, rtl::Variant&) override { return kNotHere; }
  uint32_t RecNoSupported() override { return kNotHere; }
  uint32_t RecNoGet(uint32_t&, bool) override { return kNotHere; }
  uint32_t RecNoSet(uint32_t, bool) override { return kNotHere; }
  uint32_t RecordGet(TzfLockType, uint8_t*) override { return kNotHere; }
  uint32_t RecordGetNext(TzfLockType, uint8_t*) override { return kNotHere; }
  uint32_t RecordGetPrior(TzfLockType, uint8_t*) override { return kNotHere; }
  uint32_t RecordInsert(TzfLockType, uint8_t*) override { return kNotHere; }
  uint32_t RecordModify(uint8_t*, bool) override { return kNotHere; }
  uint32_t RecordDelete(uint8_t*) override { return kNotHere; }
  uint32_t RecordIsLocked(TzfLockType, TzfLockPresent&) override { return kNotHere; }
  uint32_t RecordLockRelease(bool) override { return kNotHere; }
  uint32_t AutoIncGet(uint32_t&) override { return kNotHere; }
  uint32_t AutoIncSet(uint32_t) override { return kNotHere; }
  uint32_t FilterSetTimeout(uint32_t) override { return kNotHere; }
  uint32_t FilterActivate(TzfFilterID) override { return kNotHere; }
  uint32_t FilterDeactivate(TzfFilterID) override { return kNotHere; }
  uint32_t FilterRemove(TzfFilterID) override { return kNotHere; }
  uint32_t SwitchToIndex(const UnicodeString&, int32_t, bool) override { return kNotHere; }
  uint32_t GetIndexID(int32_t&) override { return kNotHere; }
  uint32_t SetToKey(TzfSearchKeyAction, int32_t, int32_t, bool, const uint8_t*) override { return kNotHere; }
  uint32_t RecordGetForKey(int32_t, int32_t, bool, const uint8_t*, uint8_t*, bool, bool) override { return kNotHere; }
  uint32_t RangeReset() override { return kNotHere; }
  uint32_t RangeSet(int32_t, int32_t, bool, const uint8_t*, bool, int32_t, int32_t, bool, const uint8_t*,
                    bool) override { return kNotHere; }
  uint32_t CompareKeys(int32_t, int32_t, bool, const uint8_t*, bool, const uint8_t*, TValueRelationship&) override {
    return kNotHere;
  }
  uint32_t KeyFilterActivate(TzfKeyFilterID) override { return kNotHere; }
  uint32_t KeyFilterDeactivate(TzfKeyFilterID) override { return kNotHere; }
  uint32_t KeyFilterRemove(TzfKeyFilterID) override { return kNotHere; }
  uint32_t RecordGetBatch(int32_t, TzfRecordGetBatchExOptions, TzfMemoryStream&, int32_t, bool) override {
    return kNotHere;
  }
  uint32_t RecordInsertBatch(TzfCustomMemoryStream&) override { return kNotHere; }
  uint32_t CopyRecords(TzfAbstractCursor*, TzfBlobCopyMode, int32_t) override { return kNotHere; }
  uint32_t CopyRecordsEx(TzfAbstractCursor*, TzfBlobCopyMode, int32_t, bool) override { return kNotHere; }
  uint32_t DeleteRecords() override { return kNotHere; }
  uint32_t TableStreamGetList(rtl::TStrings&) override { return kNotHere; }
  uint32_t TableStreamWrite(const UnicodeString&, rtl::TStream&) override { return kNotHere; }
  uint32_t TableStreamRead(const UnicodeString&, rtl::TStream&) override { return kNotHere; }
  uint32_t TableStreamDelete(const UnicodeString&) override { return kNotHere; }
  uint32_t TableIsLocked(TzfLockType, TzfLockPresent&) override { return kNotHere; }
  uint32_t TableLockAcquire(TzfLockType) override { return kNotHere; }
  uint32_t TableLockRelease(TzfLockType, bool) override { return kNotHere; }
  uint32_t Duplicate(TzfOpenMode, TzfAbstractCursor*&) override { return kNotHere; }
  uint32_t ChangePassword(const UnicodeString&) override { return kNotHere; }
  uint32_t GetRecordCount(uint32_t&, bool) override { return kNotHere; }
  uint32_t GetRecordCountAsync(TzfAbstractTaskInfo*&) override { return kNotHere; }
  uint32_t GetRecordCountEx(TzfRecordCountOption, uint32_t&, bool) override { return kNotHere; }
  uint32_t GetRecordCountExAsync(TzfRecordCountOption, TzfAbstractTaskInfo*&) override { return kNotHere; }

  std::map<int64_t, std::vector<uint8_t>> Blobs;
  int64_t LastBlob = 0;
  std::vector<TzfBaseFilterDescriptor*> AddedFilters;
};

inline uint32_t TTestDatabase::CursorOpen(TzfAbstractCursor*& aCursor, const UnicodeString& aTableName,
                                          const UnicodeString&, TzfOpenMode, TzfShareMode, uint32_t aTimeout, bool) {
  aCursor = nullptr;
  uint32_t r = zfCheckFullTableName(aTableName, true, false);
  if (r != 0) return r;
  return PublicOperation(eaOpenFile, {std::any(aTableName)}, [&] {
    aCursor = zfCreateServerObject<TTestCursor>(this, aTimeout);
    return 0u;
  });
}

// A task handle whose status the test sets directly.
class TTestTaskInfo : public TzfAbstractTaskInfo {
 public:
  using TzfAbstractTaskInfo::TzfAbstractTaskInfo;
  uint32_t GetStatus(bool& aCompleted, TzfTaskStatus& aStatus) override {
    aCompleted = Cancelled.load();
    aStatus = {};
    return 0;
  }
  uint32_t Cancel() override {
    Cancelled = true;
    return 0;
  }
  std::atomic<bool> Cancelled{false};
};

// ---------------------------------------------------------------------------------------------

// Records every notification; answers Veto for the action VetoAction when set.
class TTestExtender : public TzfBaseEngineExtender {
 public:
  using TzfBaseEngineExtender::TzfBaseEngineExtender;
  static const rtl::TClassInfo& ClassInfo() {
    static const rtl::TClassInfo info{u"TTestExtender", &TzfBaseEngineExtender::ClassInfo()};
    return info;
  }
  const rtl::TClassInfo& ClassType() const override { return ClassInfo(); }
  uint32_t Notify(TzfEngineAction aAction, bool aBefore, const TzfActionArgs&) override;
};

class TTestMonitor : public TzfBaseEngineMonitor {
 public:
  using TzfBaseEngineMonitor::TzfBaseEngineMonitor;
  ~TTestMonitor() override { Close(); }
  void ExtendableObjectCreated(TzfExtendableServerObject* aObject) override {
    bool attach;
    {
      std::lock_guard g(Lock);
      ++Created;
      attach = Attach;
    }
    // Not under Lock: the extender takes the object's extender lock, and Notify takes Lock under it.
    if (attach) new TTestExtender(this, aObject, Actions);
  }
  void ExtendableObjectDestroyed(TzfExtendableServerObject*) override {
    std::lock_guard g(Lock);
    ++Destroyed;
  }

  std::mutex Lock;
  int32_t Created = 0;
  int32_t Destroyed = 0;
  bool Attach = true;
  TzfEngineActions Actions;
  // Veto: the action and the code an extender answers (before and after alike).
  int VetoAction = -1;
  uint32_t VetoCode = 0;
  std::vector<std::pair<TzfEngineAction, bool>> Heard;
};

inline uint32_t TTestExtender::Notify(TzfEngineAction aAction, bool aBefore, const TzfActionArgs&) {
  auto* m = static_cast<TTestMonitor*>(Monitor());
  std::lock_guard g(m->Lock);
  m->Heard.emplace_back(aAction, aBefore);
  return aAction == m->VetoAction ? m->VetoCode : 0;
}

// Started dictionary and engine for a test; frees whatever the test left open.
class ServerTest : public DictionaryStarted {
 protected:
  void SetUp() override {
    Engine = std::make_unique<TTestEngine>();
    Engine->Open();
  }
  void TearDown() override { Engine.reset(); }

  TTestSession* OpenSession(const UnicodeString& aUser = u"", uint32_t aTimeout = 0) {
    TzfAbstractSession* s = nullptr;
    EXPECT_EQ(0u, Engine->SessionOpen(s, aUser, u"", u"direct", aTimeout));
    return static_cast<TTestSession*>(s);
  }
  TTestDatabase* OpenDatabase(TTestSession* aSession, TzfAbstractTransContext* aContext = nullptr) {
    TzfAbstractDatabase* d = nullptr;
    EXPECT_EQ(0u, aSession->DatabaseOpen(d, u"", u"Test", aContext, omReadWrite, smShared, 0));
    return static_cast<TTestDatabase*>(d);
  }

  std::unique_ptr<TTestEngine> Engine;
};

}  // namespace zf::test
