#include "server/zfsrServerRecover.h"

#include <algorithm>

#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "mapping/zfsdTableMapperDescriptor.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlStringList.h"
#include "platform/rtl/rtlText.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTransaction.h"
#include "storage/zfsrBufferManager.h"
#include "storage/zfsrRecordEngineBase.h"
#include "storage/zfsrStreamEngineBase.h"
#include "storage/zfsrTimeoutHandling.h"

namespace zf {

namespace {

constexpr uint32_t kRecoverDeadlineMs = 86400000;  // the walk's own deadline: 24 hours
constexpr uint32_t kUnknownServerCode = 15520;      // a level still counted after the closing commit
// Owner IDs and file numbers come from a damaged file's dictionary: the map never grows past
// these, so a wild value cannot make it allocate without bound.
constexpr int32_t kMaxRecoverID = 65535;
constexpr int32_t kMaxRecoverFiles = 255;
// Blocks salvaged in one nested level: each level costs a copy of every block it changes (the
// index header, the tree's path, the heap's block), so a group of blocks shares them.
constexpr size_t kGroupBlocks = 32;

void FreeCursor(TzfServerTableCursor*& aCursor) {
  if (aCursor) aCursor->Free();
  aCursor = nullptr;
}

}  // namespace

// ---- TzfServerRecoverNode ---------------------------------------------------------------------

TzfServerRecoverNode::TzfServerRecoverNode(TzfServerRecoverContainer* aOwner, TzfServerTableCursor* aSourceCursor,
                                           TzfServerTableCursor* aTargetCursor, TzfServerTableCursor* aFailedCursor)
    : srnOwner(aOwner), srnSourceCursor(aSourceCursor), srnTargetCursor(aTargetCursor), srnFailedCursor(aFailedCursor) {
  try {
    TzfServerBaseTable* source = srnSourceCursor->Table();
    srnID = source->sbtRecordEngine->GetRecoverID();
    srnFileNumber = source->sbtTableDescriptor->tdRecordDescriptor
                        ? source->sbtTableDescriptor->tdRecordDescriptor->brdFileNumber
                        : 0;
    TzfList blobs;
    srnTargetCursor->Table()->sbtFieldsDescriptor->HasSameFields(source->sbtFieldsDescriptor, &blobs);
    for (int32_t i = 0; i < blobs.Count(); ++i)
      srnBlobFields.push_back(static_cast<int32_t>(reinterpret_cast<intptr_t>(blobs[i])));
    srnTargetBuffer.assign(static_cast<size_t>(srnTargetCursor->Table()->sbtFieldsDescriptor->GetRecordLength()), 0);
    srnFailedBuffer.assign(static_cast<size_t>(srnFailedCursor->Table()->sbtFieldsDescriptor->GetRecordLength()), 0);
    TzfServerTableCursor* self = srnSourceCursor;
    srnIterator = [self](void* aCookie, int64_t aRefNr, const uint8_t* aRecord) {
      return self->stcRecoverRecord(aCookie, aRefNr, aRecord);
    };
    // The new tables continue the source's counter; 12289 (no auto-increment engine) is fine.
    uint32_t value = 0;
    uint32_t code = srnSourceCursor->AutoIncGet(value);
    if (code == 0) {
      code = srnTargetCursor->AutoIncSet(value);
      if (code == zfErrNotSupported) code = 0;
      if (code == 0) code = srnFailedCursor->AutoIncSet(value);
      if (code == zfErrNotSupported) code = 0;
    }
    if (code != 0) throw EzfServerEngineException(code);
  } catch (...) {
    FreeCursor(srnFailedCursor);
    FreeCursor(srnTargetCursor);
    FreeCursor(srnSourceCursor);
    throw;
  }
}

TzfServerRecoverNode::~TzfServerRecoverNode() {
  FreeCursor(srnFailedCursor);
  FreeCursor(srnTargetCursor);
  FreeCursor(srnSourceCursor);
}

TzfRecordIteratorResult TzfServerRecoverNode::SalvageBlock(TzfRecoverCookie& aCookie, TzfBlockNumber aBlockNr,
                                                             const uint8_t* aBlock, int32_t aBaseLevel) {
  aCookie.rcTargetCursor = srnTargetCursor;
  aCookie.rcFailedCursor = srnFailedCursor;
  aCookie.rcBlobFields = &srnBlobFields;
  aCookie.rcBlockNr = aBlockNr;
  aCookie.rcTargetBuffer = &srnTargetBuffer;
  aCookie.rcFailedBuffer = &srnFailedBuffer;
  aCookie.rcAutoIncField = srnSourceCursor->Table()->sbtAutoIncField;
  aCookie.rcRecord = nullptr;  // the engine points it at each record in the block: no copy
  aCookie.rcBaseLevel = aBaseLevel;
  aCookie.rcRedo = false;
  aCookie.rcMaxAutoInc = 0;
  TzfBaseRecordEngine& engine = *srnSourceCursor->Table()->sbtRecordEngine;
  TzfRecordIteratorResult r = TzfRecordIteratorResult::rirContinue;
  try {
    r = engine.RecoverIterate(aBlock, aBlockNr, &aCookie.rcRecord, srnIterator, &aCookie);
  } catch (const std::exception& e) {
    const uint32_t code = srnSourceCursor->asoConvertException(e);
    if (aBaseLevel == 2) {
      aCookie.rcRedo = true;  // whatever the group's level holds is doubtful: once more, record by record
    } else if (aCookie.rcErrorCode == 0) {
      // The salvage of this block failed; the walk goes on unless the walk itself must stop.
      srnOwner->LogBlock(aCookie.rcFileIndex, aBlockNr, code, u"could not be salvaged");
    }
  }
  aCookie.rcBaseLevel = 1;
  return r;
}

// ---- TzfServerRecoverContainer ----------------------------------------------------------------

TzfServerRecoverContainer::TzfServerRecoverContainer(TzfServerTableCursor* aSourceCursor,
                                                     TzfServerTableCursor* aTargetCursor,
                                                     TzfServerTableCursor* aFailedCursor, TzfServerDatabase* aDatabase)
    : srcSourceDatabase(aDatabase), srcTargetDatabase(aDatabase) {
  try {
    srcNodes.push_back(std::make_unique<TzfServerRecoverNode>(this, aSourceCursor, aTargetCursor, aFailedCursor));
    srcSourceRootTable = aSourceCursor->Table()->sbtRoot;
    srcPassword = srcSourceRootTable->srtExtractPassword();
    srcSourceName = srcSourceRootTable->sbtNameInScope;
    srcTargetName = aTargetCursor->Table()->sbtRoot->sbtNameInScope;
    srcFailedName = aFailedCursor->Table()->sbtRoot->sbtNameInScope;

    TzfTableMapperDescriptor mapper;
    mapper.MapAllTablesAndFieldsByName(*srcSourceRootTable->srtDictionary,
                                       *aTargetCursor->Table()->sbtRoot->srtDictionary, TzfDataLossAction::dlaFail);
    AddNestedNodes(UnicodeString(), mapper);

    for (auto& node : srcNodes) {
      const int32_t f = node->srnFileNumber;
      const int32_t id = node->srnID;
      if (f < 0 || f >= kMaxRecoverFiles || f >= static_cast<int32_t>(srcSourceRootTable->srtFiles.size()) || id < 0 ||
          id > kMaxRecoverID)
        continue;  // a record file or owner no walk can reach
      if (srcIDMap.size() <= static_cast<size_t>(f)) srcIDMap.resize(static_cast<size_t>(f) + 1);
      auto& ids = srcIDMap[static_cast<size_t>(f)];
      if (ids.size() <= static_cast<size_t>(id)) ids.resize(static_cast<size_t>(id) + 1, nullptr);
      ids[static_cast<size_t>(id)] = node.get();
    }
    srcFiles.assign(srcIDMap.size(), nullptr);
    for (size_t f = 0; f < srcIDMap.size(); ++f)
      if (!srcIDMap[f].empty()) srcFiles[f] = srcSourceRootTable->srtFiles[f].get();

    // The salvaged records reach the disk at each commit, not with a deferred flush.
    for (TzfServerRootTable* root : {aTargetCursor->Table()->sbtRoot, aFailedCursor->Table()->sbtRoot}) {
      if (root->srtFiles.empty() || !root->srtFiles[0]) continue;
      const TzfBaseFile& first = *root->srtFiles[0];
      if (first.HasAttribute(zffaTemporary) || first.HasAttribute(zffaMemTable)) continue;
      for (auto& file : root->srtFiles)
        if (file) file->fiAttributes |= zfFileAttr(zffaTransWriteThrough);
    }
  } catch (...) {
    FreeAll();
    throw;
  }
}

TzfServerRecoverContainer::~TzfServerRecoverContainer() { FreeAll(); }

void TzfServerRecoverContainer::FreeAll() {
  srcFiles.clear();
  srcIDMap.clear();
  srcNodes.clear();
  TzfServerDatabase* db = srcTargetDatabase;
  srcSourceDatabase = srcTargetDatabase = nullptr;
  if (db) {
    TzfServerFolder* folder = db->sdFolder;
    db->Free();
    // The recover's tables are closed with it.
    if (folder) folder->sfCloseInactiveTables();
  }
}

void TzfServerRecoverContainer::AddNestedNodes(const UnicodeString& aPath, TzfBaseTableMapperDescriptor& aMapper) {
  for (int32_t i = 0; i < aMapper.TableCount(); ++i) {
    TzfBaseTableMapperDescriptor& child = *aMapper.TableDescriptor(i);
    const UnicodeString path = aPath + u":" + child.btmdName;
    UnicodeString mapTo = child.btmdMapTo.empty() ? UnicodeString(u".") : child.btmdMapTo;
    const bool relative = mapTo[0] == u'.';
    const UnicodeString targetName = relative ? srcTargetName + path + u":" + mapTo : srcTargetName + u":" + mapTo;
    const UnicodeString failedName = relative ? srcFailedName + path + u":" + mapTo : srcFailedName + u":" + mapTo;
    TzfServerTableCursor* source = nullptr;
    TzfServerTableCursor* target = nullptr;
    TzfServerTableCursor* failed = nullptr;
    const uint32_t timeout = srcSourceDatabase->atoGetTimeout();
    uint32_t code = zfOpenTableCursor(srcSourceDatabase, srcSourceName + path, srcPassword, omReadOnly, smExclusive,
                                      timeout, source);
    if (code == 0)
      code = zfOpenTableCursor(srcTargetDatabase, targetName, srcPassword, omWriteOnly, smExclusive, timeout, target);
    if (code == 0)
      code = zfOpenTableCursor(srcTargetDatabase, failedName, srcPassword, omWriteOnly, smExclusive, timeout, failed);
    if (code != 0) {
      FreeCursor(failed);
      FreeCursor(target);
      FreeCursor(source);
      throw EzfServerEngineException(code);
    }
    srcNodes.push_back(std::make_unique<TzfServerRecoverNode>(this, source, target, failed));
    AddNestedNodes(path, child);
  }
}

TzfServerSession* TzfServerRecoverContainer::GetSession() { return srcSourceDatabase->sdSession; }

uint32_t TzfServerRecoverContainer::GetTotalBlockCount() {
  uint64_t total = 0;
  for (TzfBaseFile* f : srcFiles)
    if (f) total += f->PhysicalBlockCount();
  if (total > UINT32_MAX) throw rtl::EIntOverflow(u"Integer overflow");
  return static_cast<uint32_t>(total);
}

TzfServerRecoverNode* TzfServerRecoverContainer::NodeFor(int32_t aFile, int32_t aID) const {
  if (aFile < 0 || aID < 0 || static_cast<size_t>(aFile) >= srcIDMap.size()) return nullptr;
  const auto& ids = srcIDMap[static_cast<size_t>(aFile)];
  return static_cast<size_t>(aID) < ids.size() ? ids[static_cast<size_t>(aID)] : nullptr;
}

void TzfServerRecoverContainer::LogBlock(int32_t aFile, TzfBlockNumber aBlock, uint32_t aCode,
                                         const UnicodeString& aWhat) {
  try {
    TzfBaseFile* file =
        aFile >= 0 && static_cast<size_t>(aFile) < srcFiles.size() ? srcFiles[static_cast<size_t>(aFile)] : nullptr;
    const UnicodeString name = file ? file->FileName() : rtl::IntToStr(aFile);
    srcSourceDatabase->sdFolder->sfServerEngine->seLogWarning(u"Recover of \"" + srcSourceName + u"\": file \"" + name +
                                                              u"\", block " + rtl::IntToStr(int64_t(aBlock)) + u" " +
                                                              aWhat + u" (" + rtl::IntToStr(int64_t(aCode)) + u")");
  } catch (...) {
  }
}

bool TzfServerRecoverContainer::MakeSnapshot(uint32_t aBlocksRead, uint32_t aBlocksWritten, uint32_t aErrorCode) {
  const uint64_t read = uint64_t(aBlocksRead) + srcBaseBlocksRead;
  const uint64_t written = uint64_t(aBlocksWritten) + srcBaseBlocksWritten;
  if (read > UINT32_MAX || written > UINT32_MAX) throw rtl::EIntOverflow(u"Integer overflow");
  srcCurrentBlocksRead = static_cast<uint32_t>(read);
  srcCurrentBlocksWritten = static_cast<uint32_t>(written);
  return srcOwner->MakeSnapshot(srcCurrentBlocksRead, srcCurrentBlocksWritten, aErrorCode);
}

void TzfServerRecoverContainer::CopyNamedStreams() {
  // Whatever can be copied is; a failure never fails the task.
  try {
    TzfServerRootTable* target = srcNodes[0]->srnTargetCursor->Table()->sbtRoot;
    TzfBaseStreamEngine* from = srcSourceRootTable->srtStreamEngine.get();
    TzfBaseStreamEngine* to = target->srtStreamEngine.get();
    if (!from || !to) return;
    rtl::TStringList names;
    if (from->GetNamedStreamList(nullptr, names) != 0) return;
    TzfServerTransaction trans(srcTargetDatabase->sdFolder->sfServerEngine->seBufferManager.get(), nullptr, nullptr,
                               false, false);
    bool any = false;
    for (int32_t i = 0; i < names.Count(); ++i) {
      const UnicodeString name = names[i];
      if (rtl::SameText(name, u"DICT") || rtl::SameText(name, u"$TableName")) continue;
      try {
        TzfMemoryStream ms;
        if (from->ReadNamedStream(nullptr, name, ms) != 0) continue;
        ms.SetPosition(0);
        if (to->WriteNamedStream(&trans, name, ms) == 0) any = true;
      } catch (...) {
      }
    }
    if (any)
      trans.Commit();
    else
      trans.Rollback();
  } catch (...) {
  }
}

std::atomic<bool> TzfServerRecoverContainer::BulkKeys{true};

void TzfServerRecoverContainer::DeferKeys() {
  if (!BulkKeys.load()) return;
  // The bulk build's keys live outside the cache: a node defers only while the keys of as many
  // records as its file could hold fit in a quarter of the cache budget.
  const int64_t budget =
      int64_t(std::max<int32_t>(srcTargetDatabase->sdFolder->sfServerEngine->seBufferManager->bmMaxRAM, 0)) << 18;
  for (auto& node : srcNodes) {
    const int32_t f = node->srnFileNumber;
    TzfBaseFile* file = f >= 0 && size_t(f) < srcFiles.size() ? srcFiles[size_t(f)] : nullptr;
    const int64_t length = node->srnSourceCursor->Table()->sbtFieldsDescriptor->GetRecordLength();
    int64_t records = -1;  // unknown: no deferral
    try {
      if (file && length > 0) records = file->FileSize() / length;
    } catch (const std::exception&) {
    }
    node->srnTargetCursor->stcDeferKeys(records, budget);
  }
}

uint32_t TzfServerRecoverContainer::BuildDeferredKeys() {
  uint32_t result = 0;
  for (auto& node : srcNodes) {
    const uint32_t r = node->srnTargetCursor->stcBuildDeferredKeys();
    if (r != 0 && result == 0) result = r;
  }
  return result;
}

void TzfServerRecoverContainer::EndDeferral() {
  for (auto& node : srcNodes) node->srnTargetCursor->stcEndDeferral();
}

TzfBlockIteratorResult TzfServerRecoverContainer::GroupBlock(TzfRecoverCookie& aCookie, TzfServerRecoverNode* aNode,
                                                             TzfBlockNumber aBlockNr, const uint8_t* aBlock,
                                                             uint32_t aBytes) {
  if (srcGroupNode != aNode && CloseGroup(aCookie) != 0) return birStop;
  TzfServerTransContext* context = aNode->srnTargetCursor->stcTransContext();
  if (!srcGroupNode) {
    aCookie.rcErrorCode = context->stcTransactionStart(false, false, false, false, false);
    if (aCookie.rcErrorCode != 0) return birStop;
    aCookie.rcTransLevel = 2;
    srcGroupNode = aNode;
    srcGroupMaxAutoInc = 0;
    srcGroupBlocks.clear();
    srcGroupData.clear();
  }
  // The block is kept for a pass record by record, should the group's level be rolled back.
  srcGroupBlocks.push_back({aBlockNr, static_cast<uint32_t>(srcGroupData.size()), aBytes});
  srcGroupData.insert(srcGroupData.end(), aBlock, aBlock + aBytes);
  aNode->SalvageBlock(aCookie, aBlockNr, aBlock, 2);
  srcGroupMaxAutoInc = std::max(srcGroupMaxAutoInc, aCookie.rcMaxAutoInc);
  if (aCookie.rcRedo || srcGroupBlocks.size() >= kGroupBlocks) {
    if (CloseGroup(aCookie) != 0) return birStop;
  }
  return birContinue;
}

uint32_t TzfServerRecoverContainer::CloseGroup(TzfRecoverCookie& aCookie) {
  TzfServerRecoverNode* node = srcGroupNode;
  if (!node) return 0;
  srcGroupNode = nullptr;
  TzfServerTransContext* context = node->srnTargetCursor->stcTransContext();
  const bool redo = aCookie.rcRedo;
  uint32_t code = 0;
  if (!redo) {
    code = context->stcTransactionCommit();
    if (code == 0) {
      aCookie.rcTransLevel = 1;
      node->srnMaxAutoInc = std::max(node->srnMaxAutoInc, srcGroupMaxAutoInc);
    }
  }
  while (aCookie.rcTransLevel > 1) {
    context->stcTransactionRollback();
    --aCookie.rcTransLevel;
  }
  if (code != 0) {
    if (aCookie.rcErrorCode == 0) aCookie.rcErrorCode = code;
    return code;
  }
  if (redo && aCookie.rcErrorCode == 0) {
    // Every block of the group once more, in walk order, each record in a level of its own.
    for (const TGroupBlock& b : srcGroupBlocks) {
      const TzfRecordIteratorResult r = node->SalvageBlock(aCookie, b.BlockNr, srcGroupData.data() + b.Offset, 1);
      node->srnMaxAutoInc = std::max(node->srnMaxAutoInc, aCookie.rcMaxAutoInc);
      if (aCookie.rcErrorCode != 0) break;
      if (r == TzfRecordIteratorResult::rirStop) {
        aCookie.rcErrorCode = zfErrRecoveryFailed;
        break;
      }
    }
  }
  aCookie.rcRedo = false;
  srcGroupBlocks.clear();
  srcGroupData.clear();
  return aCookie.rcErrorCode;
}

uint32_t TzfServerRecoverContainer::Walk(TzfRecoverCookie& aCookie) {
  for (size_t f = 0; f < srcFiles.size(); ++f) {
    TzfBaseFile* file = srcFiles[f];
    if (!file) continue;
    srcBlocksRead = srcBlocksWritten = 0;
    aCookie.rcFileIndex = static_cast<int32_t>(f);
    TzfBaseFileHeaderAccessFactory* factory = file->fiHeaderAccessFactory.get();
    const uint32_t bytes = file->PhysicalBlockBytes();
    TzfBlockIteratorResult r = birContinue;
    try {
      r = file->IterateBlocks(
          &aCookie, [&](void*, TzfBlockNumber aBlockNr, PzfBlock aBlock, const TzfBlockReadFailure* aFailure) {
            ++srcBlocksRead;
            TzfBlockIteratorResult answer = birContinue;
            if (aBlock) {
              ++srcBlocksWritten;
              const int32_t id = factory ? factory->GetID(aBlock) : -1;
              if (TzfServerRecoverNode* node = NodeFor(static_cast<int32_t>(f), id))
                answer = GroupBlock(aCookie, node, aBlockNr, aBlock, bytes);
            } else {
              LogBlock(static_cast<int32_t>(f), aBlockNr, aFailure ? aFailure->ErrorCode : 0,
                       u"could not be read" + (aFailure && !aFailure->Message.empty() ? u": " + aFailure->Message
                                                                                    : UnicodeString()));
            }
            if (MakeSnapshot(srcBlocksRead, srcBlocksWritten, 0)) {
              aCookie.rcErrorCode = zfErrUpdateAborted;
              answer = birStop;
            }
            return answer;
          });
    } catch (...) {
      try {
        CloseGroup(aCookie);
      } catch (...) {
      }
      throw;
    }
    // The last group of the file is closed also when the walk stopped: what it placed is kept.
    if (CloseGroup(aCookie) != 0) r = birStop;
    if (r == birStop) {
      if (aCookie.rcErrorCode == 0) aCookie.rcErrorCode = zfErrRecoveryFailed;
      break;
    }
    srcBaseBlocksRead = srcCurrentBlocksRead;
    srcBaseBlocksWritten = srcCurrentBlocksWritten;
  }
  return aCookie.rcErrorCode;
}

void TzfServerRecoverContainer::Execute() {
  CopyNamedStreams();
  zfSetTimeout(kRecoverDeadlineMs, true);
  zfSuspendTimeout();
  uint32_t result = 0;
  TzfRecoverCookie cookie;
  cookie.rcContainer = this;
  TzfServerTransContext* context = srcNodes[0]->srnTargetCursor->stcTransContext();
  try {
    result = context->stcTransactionStart(false, false, false, false, false);
    if (result == 0) {
      cookie.rcTransLevel = 1;
      srcBaseBlocksRead = srcBaseBlocksWritten = 0;
      bool keysBuilt = true;
      try {
        DeferKeys();
        Walk(cookie);
      } catch (const std::exception& e) {
        if (cookie.rcErrorCode == 0) cookie.rcErrorCode = srcOwner->asoConvertException(e);
      }
      // The deferred indexes take the keys of whatever records the walk placed, also when it
      // stopped early; with levels still open nothing is committed and no build is needed.
      if (cookie.rcTransLevel == 1) {
        if (const uint32_t r = BuildDeferredKeys()) {
          keysBuilt = false;
          if (cookie.rcErrorCode == 0) cookie.rcErrorCode = r;
        }
      }
      EndDeferral();
      if (!keysBuilt) {
        // Records whose index is incomplete are never committed.
        for (; cookie.rcTransLevel > 0; --cookie.rcTransLevel) context->stcTransactionRollback();
      }
      // Later inserts never reuse a salvaged auto-increment value, whatever the source's counter said.
      if (keysBuilt && cookie.rcTransLevel == 1)
        for (auto& node : srcNodes)
          if (node->srnMaxAutoInc != 0) {
            const uint32_t r = node->srnTargetCursor->stcRaiseAutoInc(node->srnMaxAutoInc);
            if (r != 0 && cookie.rcErrorCode == 0) cookie.rcErrorCode = r;
          }
      // The records salvaged so far are committed also when the walk stopped early; the walk's
      // own code stands as the result, the commit's when the walk ended clean.
      if (keysBuilt) {
        const uint32_t commit = context->stcTransactionCommit();
        if (commit == 0) --cookie.rcTransLevel;
        result = cookie.rcErrorCode != 0 ? cookie.rcErrorCode : commit;
        if (commit == 0 && cookie.rcTransLevel > 0 && result == 0) result = kUnknownServerCode;
      } else {
        result = cookie.rcErrorCode;
      }
      for (; cookie.rcTransLevel > 0; --cookie.rcTransLevel) context->stcTransactionRollback();
    }
  } catch (const std::exception& e) {
    if (result == 0) result = srcOwner->asoConvertException(e);
  }
  EndDeferral();
  zfResumeTimeout();
  MakeSnapshot(0, 0, result);
}

// ---- TzfServerRecoverTaskInfo -----------------------------------------------------------------

TzfServerRecoverTaskInfo::TzfServerRecoverTaskInfo(TzfServerRecoverContainer* aContainer)
    : TzfServerTaskInfo(aContainer->GetSession(), aContainer->GetTotalBlockCount(), zftpNormal),
      rtiContainer(aContainer) {
  rtiContainer->srcOwner = this;
}

TzfServerRecoverTaskInfo::~TzfServerRecoverTaskInfo() {
  delete rtiContainer;
  rtiContainer = nullptr;
}

const rtl::TClassInfo& TzfServerRecoverTaskInfo::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfServerRecoverTaskInfo", &TzfServerTaskInfo::ClassInfo()};
  return info;
}

void TzfServerRecoverTaskInfo::Execute() { rtiContainer->Execute(); }

// ---- TzfServerDatabase::TableRecover ----------------------------------------------------------

uint32_t TzfServerDatabase::TableRecover(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                         TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (const uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  // The tables a recovery built stay when its task does not start: the caller sees the code and may
  // delete them.
  return LaunchTask([&](TzfAbstractTaskInfo*& aTask) { return sdTableRecover(aTableName, aPassword, aTask); },
                    aTaskInfo);
}

uint32_t TzfServerDatabase::sdTableRecover(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                           TzfAbstractTaskInfo*& aTaskInfo) {
  aTaskInfo = nullptr;
  if (aTableName.find(u':') != UnicodeString::npos) return zfErrInvalidParam;
  if (sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
  if (const uint32_t veto = NotifyExtenders(eaTableRecover, true, {aTableName})) return veto;

  TzfServerDatabase* privateDb = nullptr;
  TzfServerTableCursor* source = nullptr;
  TzfServerTableCursor* recovered = nullptr;
  TzfServerTableCursor* failed = nullptr;
  bool builtRecovered = false, builtFailed = false;
  UnicodeString password;
  const UnicodeString recoveredName = aTableName + u"_Recovered";
  const UnicodeString failedName = aTableName + u"_Failed";
  const uint32_t timeout = atoGetTimeout();
  uint32_t code = 0;
  try {
    code = sdOpenPrivate(nullptr, true, privateDb);
    if (code == 0) {
      TzfIndexTolerantOpen tolerant;  // the walk needs no index: a damaged one does not stop it
      code = zfOpenTableCursor(privateDb, aTableName, aPassword, omReadOnly, smExclusive, timeout, source);
    }
    if (code == 0) {
      TzfServerRootTable* root = source->Table()->sbtRoot;
      password = root->srtExtractPassword();
      if (root->srtSnapshotBlockCount > 0) code = zfErrTableOpen;
    }
    if (code == 0) {
      TzfServerRootTable* root = source->Table()->sbtRoot;
      TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
      code = privateDb->sdTableBuild(true, recoveredName, password, root->srtDictionary.get(), root->srtTableScope);
      builtRecovered = code == 0;
      if (code == 0)
        code = zfOpenTableCursor(privateDb, recoveredName, password, omReadWrite, smExclusive, timeout, recovered);
      if (code == 0) {
        TzfDataDictionary fields;
        fields.AssignOnlyFields(root->srtDictionary.get());
        code = privateDb->sdTableBuild(true, failedName, password, &fields, root->srtTableScope);
        builtFailed = code == 0;
      }
      if (code == 0)
        code = zfOpenTableCursor(privateDb, failedName, password, omReadWrite, smExclusive, timeout, failed);
      if (code == 0) {
        // The container takes the cursors and the private database, also when it raises.
        TzfServerTableCursor *s = source, *r = recovered, *f = failed;
        TzfServerDatabase* p = privateDb;
        source = recovered = failed = nullptr;
        privateDb = nullptr;
        auto* container = new TzfServerRecoverContainer(s, r, f, p);
        try {
          aTaskInfo = zfCreateServerObject<TzfServerRecoverTaskInfo>(container);
        } catch (...) {
          delete container;
          throw;
        }
      }
    }
  } catch (const std::exception& e) {
    code = asoConvertException(e);
    if (code == 0) code = zfErrRecoveryFailed;
  }
  if (code != 0) {
    // Inside out; only the tables this call built are deleted.
    FreeCursor(failed);
    if (builtFailed) sdTableDelete(failedName, password);
    FreeCursor(recovered);
    if (builtRecovered) sdTableDelete(recoveredName, password);
    FreeCursor(source);
    if (privateDb) privateDb->Free();
    if (aTaskInfo) {
      aTaskInfo->Free();
      aTaskInfo = nullptr;
    }
    return code;
  }
  return NotifyExtenders(eaTableRecover, false, {aTableName});
}

}  // namespace zf
