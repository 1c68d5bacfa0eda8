#include "server/zfsrTaskRestructure.h"

#include <cstring>

#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "index/zfseIndicesEngineKind.h"
#include "index/zfseIndicesEngineSimple.h"
#include "index/zfsrIndexBulkBuilder.h"
#include "mapping/zfsdMapperCursor.h"
#include "mapping/zfsdRecordMapperEngineBase.h"
#include "mapping/zfsdTableMapperDescriptor.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlStringList.h"
#include "platform/rtl/rtlText.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerMapperCursor.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrAutoIncEngineBase.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf {

namespace {

constexpr uint32_t kSnapshotEvery = 10;  // records between two snapshots of a copy

void FreeCursor(TzfServerTableCursor*& aCursor) {
  if (aCursor) aCursor->Free();
  aCursor = nullptr;
}

TzfServerDatabase* DatabaseOf(TzfServerTableCursor* aCursor) {
  return static_cast<TzfServerDatabase*>(aCursor->Database());
}

uint32_t CodeOf(const std::exception& aException, TzfAbstractServerObject& aConverter) {
  const uint32_t code = aConverter.asoConvertException(aException);
  return code != 0 ? code : zfErrUnexpectedException;
}

}  // namespace

std::function<void(TzfServerRestructureTaskInfo&, uint32_t)> TzfServerRestructureContainer::OnProgress;

// ---- TzfServerRestructureNode -----------------------------------------------------------------

TzfServerRestructureNode::TzfServerRestructureNode(TzfServerRestructureContainer* aOwner,
                                                   TzfServerTableCursor* aSourceCursor,
                                                   TzfServerTableCursor* aTargetCursor,
                                                   TzfBaseRecordMapperDescriptor* aMapperDesc)
    : srnOwner(aOwner), srnSourceCursor(aSourceCursor), srnTargetCursor(aTargetCursor), srnMapperDesc(aMapperDesc) {
  try {
    if (srnMapperDesc) {
      if (const uint32_t r = srnSourceCursor->sbcGetRecordCount(rcoTotalRecordCount, srnRecordCount, false))
        throw EzfServerEngineException(r);
    }
  } catch (...) {
    FreeCursor(srnTargetCursor);
    FreeCursor(srnSourceCursor);
    throw;
  }
}

TzfServerRestructureNode::~TzfServerRestructureNode() {
  RecordMapper.reset();
  srnSourceMapper.reset();
  srnTargetMapper.reset();
  FreeCursor(srnTargetCursor);
  FreeCursor(srnSourceCursor);
}

bool TzfServerRestructureNode::MakeSnapshot(uint32_t aRecordsRead, uint32_t aRecordsWritten, uint32_t aErrorCode) {
  return srnOwner->MakeSnapshot(aRecordsRead, aRecordsWritten, aErrorCode);
}

void TzfServerRestructureNode::Execute() {
  if (!srnMapperDesc) return;
  RecordMapper.reset();
  srnError = 0;
  RecordsRead = RecordsWritten = 0;
  TzfServerTransContext* context = srnTargetCursor->stcTransContext();
  TzfServerBaseTable& target = *srnTargetCursor->Table();
  bool locked = false;
  try {
    // Records in the record engine's own order.
    if (const uint32_t r = srnSourceCursor->sbcSwitchToIndex(UnicodeString(), -1, false))
      throw EzfServerEngineException(r);
    srnSourceMapper = std::make_unique<TzfServerMapperCursor>(*srnSourceCursor);
    srnTargetMapper = std::make_unique<TzfServerMapperCursor>(*srnTargetCursor);
    RecordMapper = TzfBaseRecordMapperEngine::CreateFor(*srnMapperDesc, *srnSourceMapper, *srnTargetMapper);
    srnBuffer.assign(size_t(std::max<int32_t>(srnSourceCursor->Table()->sbtFieldsDescriptor->GetRecordLength(), 1)), 0);
    srnTargetBuffer.assign(size_t(std::max<int32_t>(target.sbtFieldsDescriptor->GetRecordLength(), 1)), 0);

    srnError = context->stcTransactionStart(false, false, false, true, false);
    TransactionStarted = srnError == 0;
    if (srnError == 0) {
      if (const uint32_t r = srnTargetCursor->sbcBeginContentLock(true, false)) throw EzfServerEngineException(r);
      locked = true;
      // The new table's indexes are empty: they are built from the copied records in one go.
      if (TzfBaseIndicesEngine* ix = target.sbtIndicesEngine.get()) {
        ix->SetTransaction(context->Transaction());
        srnBulkBuilder = ix->Indices().CreateBulkBuilder();
      }
      RecordMapper->BeforeFirstRecord();
      uint8_t* data = srnBuffer.data();
      try {
        srnSourceCursor->sbcIterate(
            &data, [this](void*, int64_t aRefNr, const uint8_t* aRecord) { return srnCopyRecord(aRefNr, aRecord); },
            false, nullptr);
      } catch (const EzfBaseException& e) {
        if (e.ErrorCode() != zfErrEOF) throw;
      }
    }
  } catch (const std::exception& e) {
    if (srnError == 0) srnError = CodeOf(e, *srnOwner->srcOwner);
  }

  if (srnError == 0) {
    try {
      if (srnBulkBuilder) srnError = srnBulkBuilder->Finalize();
      srnBulkBuilder.reset();
      if (srnError == 0) {
        RecordMapper->BeforeCommit();
        srnError = context->stcTransactionCommit();
        if (srnError == 0) {
          RecordsWritten = RecordsRead;
          TransactionStarted = false;
        }
      }
    } catch (const std::exception& e) {
      if (srnError == 0) srnError = CodeOf(e, *srnOwner->srcOwner);
    }
  }
  srnBulkBuilder.reset();
  if (srnError != 0 && TransactionStarted) {
    if (context->Transaction())
      context->stcTransactionRollback();
    else
      context->stcTransactionMarkCorrupted();
    TransactionStarted = false;
  }
  if (locked) srnTargetCursor->sbcEndContentLock();

  if (srnError == 0) {
    // Every record read must have arrived.
    uint32_t sourceCount = 0, targetCount = 0;
    uint32_t r = srnSourceCursor->sbcGetRecordCount(rcoTotalRecordCount, sourceCount, false);
    if (r == 0) r = srnTargetCursor->sbcGetRecordCount(rcoTotalRecordCount, targetCount, false);
    if (r == 0 && sourceCount != targetCount) r = zfErrFileCorrupt;
    srnError = r;
  }
  if (MakeSnapshot(RecordsRead, RecordsWritten, 0)) srnError = zfErrUpdateAborted;
  MakeSnapshot(RecordsRead, RecordsWritten, srnError);
  RecordMapper.reset();
  zfRaiseIfError(srnError);
}

TzfRecordIteratorResult TzfServerRestructureNode::srnCopyRecord(int64_t, const uint8_t* aRecord) {
  if (srnError != 0) return TzfRecordIteratorResult::rirStop;
  ++RecordsRead;
  TzfServerBaseTable& target = *srnTargetCursor->Table();
  uint8_t* buffer = srnTargetBuffer.data();
  target.sbtFieldsDescriptor->InitRecord(buffer);
  try {
    srnError = RecordMapper->MapRecord(aRecord, buffer);
  } catch (const std::exception& e) {
    srnError = CodeOf(e, *srnTargetCursor);
  }
  if (srnError == 0 && srnTargetCursor->sbcValidationsHandler) {
    try {
      srnTargetCursor->sbcValidationsHandler->ValidateRecord(nullptr, buffer);
    } catch (const std::exception& e) {
      srnError = CodeOf(e, *srnTargetCursor);
    }
  }
  if (srnError == 0) {
    try {
      TzfServerTransaction* trans = srnTargetCursor->stcTransContext()->Transaction();
      if (target.sbtRecRevField >= 0) target.sbtInitRecRev(buffer);
      int64_t refNr = 0;
      target.sbtRecordEngine->AddRecord(trans, refNr, buffer);
      if (srnBulkBuilder) srnError = srnBulkBuilder->InsertKey(refNr, buffer);
      // The full-text index takes the record as an insert does (the bulk builder gives its
      // main-index token keys none: they come from here).
      if (srnError == 0) srnError = srnTargetCursor->stcUpdateFulltext(trans, nullptr, 0, buffer, refNr);
    } catch (const std::exception& e) {
      srnError = CodeOf(e, *srnTargetCursor);
    }
  }
  if (srnError == 0 && RecordsRead % kSnapshotEvery == 0) {
    if (MakeSnapshot(RecordsRead, RecordsWritten, 0)) srnError = zfErrUpdateAborted;
    if (srnError == 0 && TzfServerRestructureContainer::OnProgress)
      TzfServerRestructureContainer::OnProgress(*srnOwner->srcOwner, srnOwner->srcCurrentRecordsRead);
  }
  return srnError != 0 ? TzfRecordIteratorResult::rirStop : TzfRecordIteratorResult::rirContinue;
}

// ---- TzfServerRestructureContainer ------------------------------------------------------------

TzfServerRestructureContainer::TzfServerRestructureContainer(TzfServerTableCursor* aSourceCursor,
                                                             TzfServerTableCursor* aTargetCursor,
                                                             TzfBaseTableMapperDescriptor& aMapperDesc) {
  try {
    srcMapperDesc = aMapperDesc.Duplicate();
    srcSourceDatabase = DatabaseOf(aSourceCursor);
    srcTargetDatabase = DatabaseOf(aTargetCursor);
    srcPassword = aSourceCursor->Table()->sbtRoot->srtExtractPassword();
    srcSourceName = aSourceCursor->Table()->sbtRoot->sbtNameInScope;
    srcTargetName = aTargetCursor->Table()->sbtRoot->sbtNameInScope;
    // The target's records reach the disk at its commit, not with a deferred flush.
    TzfServerRootTable* root = aTargetCursor->Table()->sbtRoot;
    if (!root->srtFiles.empty() && root->srtFiles[0] && !root->srtFiles[0]->HasAttribute(zffaTemporary) &&
        !root->srtFiles[0]->HasAttribute(zffaMemTable))
      for (auto& file : root->srtFiles)
        if (file) file->fiAttributes |= zfFileAttr(zffaTransWriteThrough);
    TzfServerTableCursor *source = aSourceCursor, *target = aTargetCursor;
    aSourceCursor = aTargetCursor = nullptr;
    srcNodes.push_back(std::make_unique<TzfServerRestructureNode>(this, source, target, srcMapperDesc->RecordMapper()));
    AddNestedNodes(UnicodeString(), *srcMapperDesc);
  } catch (...) {
    FreeCursor(aTargetCursor);
    FreeCursor(aSourceCursor);
    srcNodes.clear();
    throw;
  }
}

TzfServerRestructureContainer::~TzfServerRestructureContainer() {
  try {
    // A job that never ran (its task was freed or cancelled before it began) leaves no table.
    if (!srcExecuted && srcOwnsDatabases) DropTarget();
  } catch (...) {
  }
  FreeNodes(true);
  FreeDatabases();
}

void TzfServerRestructureContainer::DropTarget() {
  TzfServerDatabase& db = *srcTargetDatabase;
  TzfPadlockGuard tables(db.sdFolder->sfTablesPadlock);
  FreeNodes(true);
  if (const uint32_t r = db.sdTableDelete(srcTargetName, srcPassword))
    Log(u"Copy of \"" + srcSourceName + u"\": the new table could not be deleted and stays as \"" + srcTargetName +
        u"\" in \"" + db.sdFolder->sfPath + u"\" (" + rtl::IntToStr(int64_t(r)) + u")");
}

void TzfServerRestructureContainer::AdoptDatabases() { srcOwnsDatabases = true; }

void TzfServerRestructureContainer::AddNestedNodes(const UnicodeString& aPath, TzfBaseTableMapperDescriptor& aMapper) {
  for (int32_t i = 0; i < aMapper.TableCount(); ++i) {
    TzfBaseTableMapperDescriptor& child = *aMapper.TableDescriptor(i);
    const UnicodeString path = aPath + u":" + child.btmdName;
    const UnicodeString mapTo = child.btmdMapTo.empty() ? UnicodeString(u".") : child.btmdMapTo;
    const UnicodeString targetName =
        mapTo[0] == u'.' ? srcTargetName + path + u":" + mapTo : srcTargetName + u":" + mapTo;
    TzfServerTableCursor* source = nullptr;
    TzfServerTableCursor* target = nullptr;
    uint32_t code = zfOpenTableCursor(srcSourceDatabase, srcSourceName + path, srcPassword, omReadOnly, smExclusive,
                                      srcSourceDatabase->atoGetTimeout(), source);
    // The copy writes into the target: its cursor writes too.
    if (code == 0)
      code = zfOpenTableCursor(srcTargetDatabase, targetName, srcPassword, omReadWrite, smExclusive,
                               srcTargetDatabase->atoGetTimeout(), target);
    if (code != 0) {
      FreeCursor(target);
      FreeCursor(source);
      throw EzfServerEngineException(code);
    }
    srcNodes.push_back(std::make_unique<TzfServerRestructureNode>(this, source, target, child.RecordMapper()));
    AddNestedNodes(path, child);
  }
}

uint32_t TzfServerRestructureContainer::GetRecordCount() const {
  uint64_t total = 0;
  for (const auto& node : srcNodes) total += node->srnRecordCount;
  if (total > UINT32_MAX) throw rtl::EIntOverflow(u"Integer overflow");
  return static_cast<uint32_t>(total);
}

TzfServerSession* TzfServerRestructureContainer::GetSession() const { return srcSourceDatabase->sdSession; }

bool TzfServerRestructureContainer::MakeSnapshot(uint32_t aRecordsRead, uint32_t aRecordsWritten, uint32_t aErrorCode) {
  const uint64_t read = uint64_t(aRecordsRead) + srcBaseRecordsRead;
  const uint64_t written = uint64_t(aRecordsWritten) + srcBaseRecordsWritten;
  if (read > UINT32_MAX || written > UINT32_MAX) throw rtl::EIntOverflow(u"Integer overflow");
  srcCurrentRecordsRead = static_cast<uint32_t>(read);
  srcCurrentRecordsWritten = static_cast<uint32_t>(written);
  return srcOwner->MakeSnapshot(srcCurrentRecordsRead, srcCurrentRecordsWritten, aErrorCode);
}

void TzfServerRestructureContainer::Log(const UnicodeString& aText) {
  try {
    srcSourceDatabase->sdFolder->sfServerEngine->seLogWarning(aText);
  } catch (...) {
  }
}

uint32_t TzfServerRestructureContainer::CopyTableStreams() {
  // The root table's named streams but its dictionary and name. A stream that cannot be copied
  // fails the job: the finish would otherwise replace the old table by one without it.
  try {
    TzfServerTableCursor* source = srcNodes[0]->srnSourceCursor;
    TzfServerTableCursor* target = srcNodes[0]->srnTargetCursor;
    rtl::TStringList names;
    if (const uint32_t r = source->sbcTableStreamGetList(names, true)) return r;
    for (int32_t i = 0; i < names.Count(); ++i) {
      const UnicodeString name = names[i];
      if (rtl::SameText(name, u"DICT") || rtl::SameText(name, u"$TableName")) continue;
      TzfMemoryStream ms;
      if (const uint32_t r = source->sbcTableStreamRead(name, ms, true)) return r;
      ms.SetPosition(0);
      if (const uint32_t r = target->sbcTableStreamWrite(name, ms, true)) return r;
    }
  } catch (const std::exception& e) {
    return CodeOf(e, *srcOwner);
  }
  return 0;
}

void TzfServerRestructureContainer::FreeNodes(bool aBackwards) {
  if (aBackwards)
    while (!srcNodes.empty()) srcNodes.pop_back();
  srcNodes.clear();
}

void TzfServerRestructureContainer::FreeDatabases() {
  TzfServerDatabase* source = srcSourceDatabase;
  TzfServerDatabase* target = srcTargetDatabase;
  const bool owns = srcOwnsDatabases;
  srcOwnsDatabases = false;
  if (!owns) return;
  srcSourceDatabase = srcTargetDatabase = nullptr;
  TzfServerFolder* sourceFolder = source ? source->sdFolder : nullptr;
  TzfServerFolder* targetFolder = target ? target->sdFolder : nullptr;
  if (target && target != source) target->Free();
  if (source) source->Free();
  // The job's tables close with it.
  if (sourceFolder) sourceFolder->sfCloseInactiveTables();
  if (targetFolder && targetFolder != sourceFolder) targetFolder->sfCloseInactiveTables();
}

uint32_t TzfServerRestructureContainer::FinishSameDatabase(uint32_t aError) {
  TzfServerDatabase& db = *srcSourceDatabase;
  TzfPadlockGuard tables(db.sdFolder->sfTablesPadlock);
  FreeNodes(false);
  const UnicodeString what = u"Copy of \"" + srcSourceName + u"\": ";
  auto deleteTarget = [&] { DropTarget(); };
  // A cancel that came after the copy still stops the job before the source is touched.
  if (aError == 0 && srcOwner->Cancelled()) aError = zfErrUpdateAborted;
  if (aError != 0) {
    deleteTarget();
    return aError;
  }
  UnicodeString backup;
  uint32_t r = db.sdFolder->sfTableMakeUniqueName(srcSourceName + u"_Backup", backup);
  if (r == 0) r = db.sdTableRename(srcSourceName, backup, srcPassword);
  if (r != 0) {
    deleteTarget();
    return r;
  }
  r = db.sdTableRename(srcTargetName, srcSourceName, srcPassword);
  if (r != 0) {
    // The old table goes back to its name; when even that fails both stay where they are.
    if (const uint32_t back = db.sdTableRename(backup, srcSourceName, srcPassword)) {
      Log(what + u"the old table stays as \"" + backup + u"\" and the new one as \"" + srcTargetName + u"\" (" +
          rtl::IntToStr(int64_t(r)) + u", " + rtl::IntToStr(int64_t(back)) + u")");
    } else {
      deleteTarget();
    }
    return r;
  }
  r = db.sdTableDelete(backup, srcPassword);
  if (r != 0)
    Log(what + u"the old table could not be deleted and stays as \"" + backup + u"\" (" + rtl::IntToStr(int64_t(r)) +
        u")");
  return r;
}

void TzfServerRestructureContainer::Execute() {
  srcExecuted = true;
  uint32_t error = CopyTableStreams();
  srcBaseRecordsRead = srcBaseRecordsWritten = 0;
  try {
    for (auto& node : srcNodes) {
      if (error != 0) break;
      node->Execute();
      srcBaseRecordsRead = srcCurrentRecordsRead;
      srcBaseRecordsWritten = srcCurrentRecordsWritten;
    }
  } catch (const std::exception& e) {
    error = CodeOf(e, *srcOwner);
  }
  try {
    if (srcSourceDatabase == srcTargetDatabase) {
      error = FinishSameDatabase(error);
    } else {
      FreeNodes(true);
      if (error == 0 && srcOwner->Cancelled()) error = zfErrUpdateAborted;
      // A backup that did not complete is no backup: the table it built goes again.
      if (error != 0) DropTarget();
    }
    FreeDatabases();
  } catch (const std::exception& e) {
    if (error == 0) error = CodeOf(e, *srcOwner);
  }
  MakeSnapshot(0, 0, error);
}

// ---- TzfServerRestructureTaskInfo -------------------------------------------------------------

TzfServerRestructureTaskInfo::TzfServerRestructureTaskInfo(TzfServerRestructureContainer* aContainer)
    : TzfServerTaskInfo(aContainer->GetSession(), aContainer->GetRecordCount(), zftpNormal), rtiContainer(aContainer) {
  rtiContainer->srcOwner = this;
}

TzfServerRestructureTaskInfo::~TzfServerRestructureTaskInfo() {
  delete rtiContainer;
  rtiContainer = nullptr;
}

const rtl::TClassInfo& TzfServerRestructureTaskInfo::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerRestructureTaskInfo", &TzfServerTaskInfo::ClassInfo()};
  return info;
}

void TzfServerRestructureTaskInfo::Execute() { rtiContainer->Execute(); }

// ---- The database operations that start the jobs ----------------------------------------------

namespace {

// What the preparation of a job holds until the container and the task take it over. Whatever it
// still holds when it goes is given back: the target cursor, the table it built (deleted), the
// source cursor, the private databases.
struct TCopyJob {
  TzfServerDatabase* SourceDb = nullptr;
  TzfServerDatabase* TargetDb = nullptr;  // the source's for restructure and pack
  TzfServerTableCursor* Source = nullptr;
  TzfServerTableCursor* Target = nullptr;
  UnicodeString BuiltName;  // the table built in TargetDb; empty: none
  UnicodeString Password;

  ~TCopyJob() {
    try {
      FreeCursor(Target);
      if (!BuiltName.empty() && TargetDb) TargetDb->sdTableDelete(BuiltName, Password);
      FreeCursor(Source);
      if (TargetDb && TargetDb != SourceDb) TargetDb->Free();
      if (SourceDb) SourceDb->Free();
    } catch (...) {
    }
  }
  // The container over both cursors and the task over the container; the job hands everything
  // over on success.
  uint32_t MakeTask(TzfBaseTableMapperDescriptor& aMapper, TzfAbstractTaskInfo*& aTaskInfo) {
    TzfServerTableCursor *source = Source, *target = Target;
    Source = Target = nullptr;
    auto* container = new TzfServerRestructureContainer(source, target, aMapper);
    try {
      aTaskInfo = zfCreateServerObject<TzfServerRestructureTaskInfo>(container);
    } catch (...) {
      delete container;
      throw;
    }
    container->AdoptDatabases();
    SourceDb = TargetDb = nullptr;
    BuiltName.clear();
    return 0;
  }
};

// Restructure and pack: the source opened exclusively in a private database, a new table under a
// unique name from aBaseName built there with the dictionary aMakeDictionary gives (the source's
// password and scope), its cursor, and the job over them with the mapper aMakeMapper gives.
uint32_t zfPrepareCopyIntoNewTable(
    TzfServerDatabase& aCaller, const UnicodeString& aTableName, const UnicodeString& aPassword,
    const UnicodeString& aBaseName, bool aAllowSystem, bool aRefuseSnapshots,
    const std::function<TzfDataDictionary*(TzfServerRootTable&)>& aMakeDictionary,
    const std::function<TzfBaseTableMapperDescriptor*(TzfServerRootTable&, TzfDataDictionary&)>& aMakeMapper,
    TzfAbstractTaskInfo*& aTaskInfo) {
  TCopyJob job;
  uint32_t code = aCaller.sdOpenPrivate(nullptr, true, job.SourceDb);
  if (code != 0) return code;
  job.TargetDb = job.SourceDb;
  if (aAllowSystem) job.SourceDb->OptionSet(u"ALLOWSYSTEMTABLEACCESS", u"1");
  const uint32_t timeout = aCaller.atoGetTimeout();
  code = zfOpenTableCursor(job.SourceDb, aTableName, aPassword, omReadOnly, smExclusive, timeout, job.Source);
  if (code != 0) return code;
  TzfServerRootTable& root = *job.Source->Table()->sbtRoot;
  job.Password = root.srtExtractPassword();
  if (aRefuseSnapshots && root.srtSnapshotBlockCount > 0) return zfErrTableOpen;
  TzfPadlockGuard tables(aCaller.sdFolder->sfTablesPadlock);
  UnicodeString name;
  if ((code = aCaller.sdFolder->sfTableMakeUniqueName(aBaseName, name)) != 0) return code;
  TzfDataDictionary* dictionary = aMakeDictionary(root);
  if ((code = job.SourceDb->sdTableBuild(false, name, job.Password, dictionary, root.srtTableScope)) != 0) return code;
  job.BuiltName = name;
  code = zfOpenTableCursor(job.SourceDb, name, job.Password, omReadWrite, smExclusive, timeout, job.Target);
  if (code != 0) return code;
  return job.MakeTask(*aMakeMapper(root, *dictionary), aTaskInfo);
}

}  // namespace

uint32_t TzfServerDatabase::TableRestructure(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                             TzfDataDictionary* aDictionary, TzfBaseTableMapperDescriptor* aMapperDesc,
                                             bool aAllowSystem, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (const uint32_t r = zfCheckTableName(aTableName, true, aAllowSystem)) return r;
  return LaunchTask(
      [&](TzfAbstractTaskInfo*& aTask) {
        return sdTableRestructure(aTableName, aPassword, aDictionary, aMapperDesc, aTask);
      },
      aTaskInfo);
}

uint32_t TzfServerDatabase::sdTableRestructure(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                               TzfDataDictionary* aDictionary,
                                               TzfBaseTableMapperDescriptor* aMapperDesc,
                                               TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (aTableName.find(u':') != UnicodeString::npos) return zfErrInvalidParam;
  if (sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
  // Without a dictionary there is nothing to build, and without a mapper nothing would be copied
  // into the table that replaces the source.
  if (!aDictionary || !aMapperDesc) return zfErrInvalidParam;
  const TzfActionArgs args{aTableName, aDictionary, aMapperDesc};
  if (const uint32_t veto = sdFolder->NotifyExtenders(eaTableRestructure, true, args)) return veto;
  if (const uint32_t veto = NotifyExtenders(eaTableRestructure, true, args)) return veto;
  try {
    return zfPrepareCopyIntoNewTable(
        *this, aTableName, aPassword, u"_REST", IsSystemTableAccessAllowed(), true,
        [&](TzfServerRootTable&) {
          aDictionary->CheckValid(true);
          return aDictionary;
        },
        [&](TzfServerRootTable&, TzfDataDictionary&) { return aMapperDesc; }, aTaskInfo);
  } catch (const std::exception& e) {
    return asoConvertException(e);
  }
}

uint32_t TzfServerDatabase::TablePack(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                      TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (const uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  return LaunchTask(
      [&](TzfAbstractTaskInfo*& aTask) -> uint32_t {
        if (sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
        const TzfActionArgs args{aTableName};
        if (const uint32_t veto = sdFolder->NotifyExtenders(eaTablePack, true, args)) return veto;
        if (const uint32_t veto = NotifyExtenders(eaTablePack, true, args)) return veto;
        TzfServerDataDict copy;
        TzfTableMapperDescriptor mapper;
        return zfPrepareCopyIntoNewTable(
            *this, aTableName, aPassword, u"_PACK", false, false,
            [&](TzfServerRootTable& aRoot) -> TzfDataDictionary* {
              // The same structure; the build records the sorting rules in force now, so locale
              // indexes are made anew under them.
              copy.Assign(aRoot.srtDictionary.get());
              copy.CheckValid(true);
              return &copy;
            },
            [&](TzfServerRootTable& aRoot, TzfDataDictionary&) -> TzfBaseTableMapperDescriptor* {
              mapper.MapAllTablesAndFieldsByName(*aRoot.srtDictionary, *aRoot.srtDictionary,
                                                 TzfDataLossAction::dlaFail);
              return &mapper;
            },
            aTask);
      },
      aTaskInfo);
}

uint32_t TzfServerDatabase::TableBackup(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                        TzfAbstractDatabase* aTargetDatabase, TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (const uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  auto* targetDb = dynamic_cast<TzfServerDatabase*>(aTargetDatabase);
  if (!targetDb) return zfErrInvalidParam;
  if (targetDb->sdSession != sdSession) return zfErrDifferentSessions;
  if (targetDb->sdFolder == sdFolder) return zfErrSameTable;
  return LaunchTask(
      [&](TzfAbstractTaskInfo*& aTask) -> uint32_t {
        if (targetDb->sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
        if (const uint32_t veto = NotifyExtenders(eaTableBackup, true, {aTableName, aTargetDatabase})) return veto;
        TCopyJob job;
        // The source is read in the caller's transaction when the caller runs one of a context it
        // shares; a context the caller's database owns goes with that database, so the job does
        // not borrow it.
        TzfAbstractTransContext* context = TransContext() != OwnedTransContext() ? TransContext() : nullptr;
        uint32_t r = sdOpenPrivate(context, true, job.SourceDb);
        if (r != 0) return r;
        const uint32_t timeout = atoGetTimeout();
        r = zfOpenTableCursor(job.SourceDb, aTableName, aPassword, omReadOnly, smShared, timeout, job.Source);
        if (r != 0) return r;
        TzfServerRootTable& root = *job.Source->Table()->sbtRoot;
        job.Password = root.srtExtractPassword();
        if ((r = targetDb->sdOpenPrivate(nullptr, false, job.TargetDb)) != 0) return r;
        TzfPadlockGuard tables(targetDb->sdFolder->sfTablesPadlock);
        TzfServerDataDict fields;
        fields.AssignOnlyFields(root.srtDictionary.get());
        fields.CheckValid(true);
        const UnicodeString name = root.sbtNameInScope;
        if ((r = job.TargetDb->sdTableBuild(false, name, job.Password, &fields, root.srtTableScope)) != 0) return r;
        job.BuiltName = name;
        r = zfOpenTableCursor(job.TargetDb, name, job.Password, omReadWrite, smExclusive, targetDb->atoGetTimeout(),
                              job.Target);
        if (r != 0) return r;
        TzfTableMapperDescriptor mapper;
        mapper.MapAllTablesAndFieldsByName(*root.srtDictionary, *job.Target->Table()->sbtRoot->srtDictionary,
                                           TzfDataLossAction::dlaFail);
        return job.MakeTask(mapper, aTask);
      },
      aTaskInfo);
}

}  // namespace zf
