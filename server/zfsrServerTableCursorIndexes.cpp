// Table-wide changes through a table cursor: adding and dropping indexes, the password, the field
// names of a private result table.
//
// Index changes run outside transactions (10256 inside one), in an implicit transaction of their
// own under the exclusive content lock: the dictionary changes in memory, the indices engine
// follows, and the dictionary is written to the table file as "DICT" inside the level. What the
// level changed on disk goes with a rollback; what changed in memory (the dictionary's index list
// and default index, the indices engine) is put back by hand, so a failed add or drop leaves the
// table exactly as it was.
//
// Adding an index to a table that already holds records has the indices engine index them inside
// the same level: a record whose key the new index refuses (9729) makes the whole add fail.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "index/zfsdKeyEngineBase.h"
#include "index/zfseIndicesEngineKind.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "storage/zfsrRecordEngineBase.h"

namespace zf {

namespace {

constexpr int32_t kMaxIndexes = 256;
constexpr int32_t kDictionaryStreamVersion = 30900;

uint32_t HigherLevelRequired() {
  return EzfBaseException::zfSetMessage(zfErrHigherTableLevelRequired, u"Higher table level required");
}

// An index descriptor kept as its classes and stream, to be put back where it was.
struct TSavedIndex {
  int32_t Number = -1;
  UnicodeString Name, Desc;
  int32_t FileNumber = 0;
  TzfIndexDups Dups = idNone;
  TzfKeyDescriptorClass KeyClass = nullptr;
  TzfIndexDescriptorClass IndexClass = nullptr;
  int32_t ID = 0;
  TzfMemoryStream Stream;

  void Save(TzfIndexDescriptor& aDesc) {
    Number = aDesc.idNumber;
    Name = aDesc.idName;
    Desc = aDesc.idDesc;
    FileNumber = aDesc.idFileNumber;
    Dups = aDesc.idDups;
    KeyClass = static_cast<TzfKeyDescriptorClass>(&aDesc.idKeyDescriptor->ClassType());
    IndexClass = static_cast<TzfIndexDescriptorClass>(&aDesc.ClassType());
    ID = aDesc.diID;
    TzfWriter w(Stream);
    aDesc.SaveToWriter(w, kDictionaryStreamVersion);
    w.FlushBuffer();
  }
  void Restore(TzfBaseIndicesDescriptor& aIndices) {
    TzfIndexDescriptor* d = aIndices.InsertIndexAt(Number, Name, FileNumber, Dups, Desc, KeyClass, IndexClass);
    Stream.SetPosition(0);
    TzfReader r(Stream);
    d->LoadFromReader(r);
    d->diID = ID;
  }
};

}  // namespace

uint32_t TzfServerTableCursor::stcRefuseIndexChangeWithFulltext() {
  // The full-text engines of the table and of its cursors hold index engines of the indices
  // engine that an index change rebuilds or renumbers.
  if (!stcTable->sbtFulltextEngine) return 0;
  return EzfBaseException::zfSetMessage(zfErrNotSupported,
                                        u"The indexes of a table with full-text indexes cannot change while it is open");
}

uint32_t TzfServerTableCursor::stcRefuseInTransaction() {
  TzfServerTransaction* t = CurrentTrans();
  if (!t) return 0;
  if (const uint32_t s = t->CheckState()) return s;
  return zfErrActiveTran;
}

void TzfServerTableCursor::stcEndFailedIndexChange(bool aCommitted, bool aReopenEngine) {
  if (!aCommitted)
    stcContext->stcTransactionRollback();
  else
    stcContext->stcTransactionMarkCorrupted();
  if (!aReopenEngine) return;
  stcTable->sbtIndicesEngine.reset();
  try {
    stcTable->sbtIndicesEngine = zfCreateIndicesEngine(*stcTable->sbtTableDescriptor, stcTable->sbtBlockAccess,
                                                       stcTable->sbtRecordEngine.get(), nullptr);
  } catch (const EzfBaseException&) {
  }
}

uint32_t TzfServerTableCursor::stcAddIndex(TzfIndexDescriptor* aIndexDesc, bool aIsNewDefault) {
  if (!aIndexDesc) return zfErrInvalidIndexDesc;
  if (!stcContext) return zfErrNoActiveTran;
  if (const uint32_t s = stcRefuseInTransaction()) return s;
  if (const uint32_t f = stcRefuseIndexChangeWithFulltext()) return f;
  TzfServerDataDict& dict = *stcRoot->srtDictionary;
  TzfBaseTableDescriptor& table = *stcTable->sbtTableDescriptor;
  if (dict.ddVersion < 3) return HigherLevelRequired();
  try {
    if (!table.IsIndexDescValid(aIndexDesc)) return zfErrInvalidIndexDesc;
  } catch (const EzfBaseException&) {
    return zfErrInvalidIndexDesc;
  }
  if (table.GetIndexFromName(aIndexDesc->idName) >= 0) return zfErrIndexExists;
  if (table.tdIndicesDescriptor && table.tdIndicesDescriptor->IndexCount() >= kMaxIndexes) return zfErrTooManyIndexes;

  if (const uint32_t r = stcContext->stcTransactionStart(false, false, false, true, false)) return r;
  TzfServerTransaction* trans = CurrentTrans();
  // What changed in memory, to be put back on failure.
  bool madeIndices = false, addedDesc = false, madeEngine = false, addedToEngine = false, committed = false,
       reopenEngine = false;
  int32_t number = -1;
  int32_t oldDefault = table.tdIndicesDescriptor ? table.tdIndicesDescriptor->midDefaultIndex : -1;
  uint32_t r = 0;
  try {
    r = stcContentLock->Begin(trans, true, false, &sbcLockFailureReason);
    if (r == 0) {
      TContentLockEnd end{*stcContentLock};
      dict.ForceOffReadOnly();
      madeIndices = !table.tdIndicesDescriptor;
      TzfMainIndicesDescriptor* indices = table.EnsureIndicesDescriptor();
      oldDefault = indices->midDefaultIndex;
      TzfIndexDescriptor* added = indices->AddIndex(*aIndexDesc);
      addedDesc = true;
      number = added->idNumber;
      if (aIsNewDefault) indices->SetDefaultIndex(number);
      dict.ForceOnReadOnly();
      stcRoot->srtUpdateMaxID();
      dict.WriteToFile(*stcRoot->srtStreamEngine, trans, kDictionaryStreamVersion);

      // The new index is filled from the records the table holds; a refused key raises with the
      // indices engine as it was.
      if (!stcTable->sbtIndicesEngine) {
        stcTable->sbtIndicesEngine =
            zfCreateIndicesEngine(table, stcTable->sbtBlockAccess, stcTable->sbtRecordEngine.get(), trans, true);
        madeEngine = true;
      } else {
        zfIndicesAddIndex(*stcTable->sbtIndicesEngine, trans, number, true);
        addedToEngine = true;
      }
    }
    if (r == 0) {
      committed = true;
      r = stcContext->stcTransactionCommit();
    }
  } catch (const EzfBaseException& e) {
    r = e.ErrorCode();
  }
  if (r == 0) {
    if (stcRoot->srtTableScope < tsTempUnnamed)
      stcDatabase->sdStructureChanged(stcRoot->srtTableScope == tsPersistent || stcRoot->srtTableScope == tsTempGlobal);
    return 0;
  }
  // Put memory back as it was: the engine first (it reads the descriptor), then the dictionary.
  if (madeEngine) stcTable->sbtIndicesEngine.reset();
  if (addedDesc || madeIndices) {
    dict.ForceOffReadOnly();
    if (addedDesc) table.tdIndicesDescriptor->RemoveIndex(number);
    if (addedToEngine) {
      try {
        // While the level (and with it the blocks the engine touches) is still open.
        zfIndicesRemoveIndex(*stcTable->sbtIndicesEngine, committed ? nullptr : trans, number);
      } catch (const EzfBaseException&) {
        stcTable->sbtIndicesEngine.reset();
        reopenEngine = true;
      }
    }
    if (madeIndices)
      table.RemoveIndicesDescriptor();
    else
      table.tdIndicesDescriptor->midDefaultIndex = oldDefault;
    dict.ForceOnReadOnly();
  }
  stcEndFailedIndexChange(committed, reopenEngine);
  return r;
}

uint32_t TzfServerTableCursor::stcDropIndex(const UnicodeString& aIndexName, int32_t aIndexID) {
  if (!stcContext) return zfErrNoActiveTran;
  if (const uint32_t s = stcRefuseInTransaction()) return s;
  if (const uint32_t f = stcRefuseIndexChangeWithFulltext()) return f;
  TzfServerDataDict& dict = *stcRoot->srtDictionary;
  TzfBaseTableDescriptor& table = *stcTable->sbtTableDescriptor;
  int32_t id = aIndexName.empty() ? aIndexID : table.GetIndexFromName(aIndexName);
  if (dict.ddVersion < 3) return HigherLevelRequired();
  if (!table.tdIndicesDescriptor) return zfErrNotIndexed;
  if (id < 0 || id >= table.tdIndicesDescriptor->IndexCount()) return zfErrNoSuchIndex;
  {
    // Another cursor reading in index order would keep an engine this drop frees or renumbers.
    TzfPadlockGuard g(stcTable->sbtCursorsPadlock);
    for (TzfAbstractCursor* c : stcTable->sbtCursors) {
      auto* other = dynamic_cast<TzfServerTableCursor*>(c);
      if (other && other != this && other->stcIndexEngine) return zfErrTableOpen;
    }
  }

  if (const uint32_t r = stcContext->stcTransactionStart(false, false, false, true, false)) return r;
  TzfServerTransaction* trans = CurrentTrans();
  TSavedIndex saved;
  int32_t savedIndicesID = 0, savedDefault = -1;
  UnicodeString savedEngineName;
  bool removedDesc = false, removedIndices = false, engineChanged = false, committed = false;
  uint32_t r = 0;
  try {
    r = stcContentLock->Begin(trans, true, false, &sbcLockFailureReason);
    if (r == 0) {
      TContentLockEnd end{*stcContentLock};
      r = sbcSwitchToIndex(u"", -1, false);
      if (r == 0) {
        TzfMainIndicesDescriptor& indices = *table.tdIndicesDescriptor;
        saved.Save(*indices.IndexDescriptor[static_cast<size_t>(id)]);
        savedIndicesID = indices.diID;
        savedDefault = indices.midDefaultIndex;
        savedEngineName = indices.IndicesEngine;
        dict.ForceOffReadOnly();
        indices.RemoveIndex(id);
        removedDesc = true;
        // The engine follows the descriptor (it reads it): keys deleted, later indexes renumbered;
        // without indexes left it goes before the indices descriptor does.
        if (TzfBaseIndicesEngine* ix = stcTable->sbtIndicesEngine.get()) {
          engineChanged = true;
          zfIndicesRemoveIndex(*ix, trans, id);
          if (indices.IndexCount() == 0) stcTable->sbtIndicesEngine.reset();
        }
        if (indices.IndexCount() == 0) {
          table.RemoveIndicesDescriptor();
          removedIndices = true;
        }
        dict.WriteToFile(*stcRoot->srtStreamEngine, trans, kDictionaryStreamVersion);
      }
    }
    if (r == 0) {
      committed = true;
      r = stcContext->stcTransactionCommit();
    }
  } catch (const EzfBaseException& e) {
    r = e.ErrorCode();
  }
  if (r != 0) {
    try {
      if (removedDesc) {
        dict.ForceOffReadOnly();
        if (removedIndices) {
          TzfMainIndicesDescriptor* indices = table.EnsureIndicesDescriptor();
          indices->diID = savedIndicesID;
          indices->IndicesEngine = savedEngineName;
        }
        saved.Restore(*table.tdIndicesDescriptor);
        table.tdIndicesDescriptor->midDefaultIndex = savedDefault;
        dict.ForceOnReadOnly();
      }
    } catch (const EzfBaseException&) {
      dict.ForceOnReadOnly();
    }
    stcEndFailedIndexChange(committed, engineChanged);
  } else if (stcRoot->srtTableScope < tsTempUnnamed) {
    stcDatabase->sdStructureChanged(stcRoot->srtTableScope == tsPersistent || stcRoot->srtTableScope == tsTempGlobal);
  }
  // Back on the default index whatever the commit answered, while the table has indexes.
  if (table.tdIndicesDescriptor && stcTable->sbtIndicesEngine && table.tdIndicesDescriptor->IndexCount() > 0)
    sbcSwitchToIndex(u"", std::max(0, table.tdIndicesDescriptor->midDefaultIndex), false);
  return r;
}

uint32_t TzfServerTableCursor::ChangePassword(const UnicodeString& aNewPassword) {
  return FramedWrite([&]() -> uint32_t {
    if (!stcContext) return zfErrNoActiveTran;
    if (const uint32_t s = sbcCheckTransactionState()) return s;
    bool selfNew = false;
    if (const uint32_t l = SelfLock(selfNew)) return l;
    uint32_t r = stcContext->stcTransactionStart(false, false, false, true, false);
    if (r == 0) {
      TzfServerTransaction* trans = CurrentTrans();
      bool open = true;
      try {
        r = stcContentLock->Begin(trans, true, false, &sbcLockFailureReason);
        if (r == 0) {
          TContentLockEnd end{*stcContentLock};
          for (TzfBlockAccess* f : stcRoot->sbtBlockAccess)
            if (f) f->ChangePassword(trans, aNewPassword);
        }
        if (r == 0) {
          open = false;
          r = stcContext->stcTransactionCommit();
        }
      } catch (const EzfBaseException& e) {
        r = e.ErrorCode();
      }
      if (r != 0 && open) stcContext->stcTransactionRollback();
    }
    SelfUnlock(selfNew);
    return r;
  });
}

uint32_t TzfServerTableCursor::sbcRenameField(int32_t aFieldNo, const UnicodeString& aNewName) {
  if (stcRoot->srtTableScope != tsTempUnnamed || stcTable != stcRoot || stcTable->sbtCursorCountLocked() != 1)
    return EzfBaseException::zfSetMessage(zfErrNotSupported, u"%s is not supported by %s",
                                          {UnicodeString(u"sbcRenameField"), UnicodeString(ClassType().Name)});
  TzfFieldsDescriptor& fields = *stcTable->sbtFieldsDescriptor;
  if (aFieldNo < 0 || aFieldNo >= fields.FieldCount) return zfErrInvalidDescNum;
  if (fields.GetFieldFromName(aNewName) >= 0) return zfErrNameNotUnique;
  TzfServerDataDict& dict = *stcRoot->srtDictionary;
  dict.ForceOffReadOnly();
  struct ReadOnlyAgain {
    TzfServerDataDict& Dict;
    ~ReadOnlyAgain() { Dict.ForceOnReadOnly(); }
  } again{dict};
  fields.FieldDescriptor[static_cast<size_t>(aFieldNo)]->ChangeName(aNewName);
  return 0;
}

}  // namespace zf
