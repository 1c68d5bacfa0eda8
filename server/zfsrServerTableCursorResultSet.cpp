// Table cursor: result sets, cursors on unnamed temporary tables that live as long as their
// cursors. The table is made through the folder (scope tsTempUnnamed, blocks held by the cache
// and the temporary store, never a file on disk) and freed under the folder's table padlock by
// the last cursor that leaves it, unless a pin or a transaction link still holds it; such a table
// goes when the folder closes its inactive tables.
#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"

namespace zf {

TzfServerTableCursor* TzfServerTableCursor::CreateResultSet(TzfServerDatabase* aDatabase,
                                                            TzfDataDictionary* aDictionary, uint32_t aTimeout) {
  TzfServerFolder* folder = aDatabase->sdFolder;
  TzfServerRootTable* table = nullptr;
  {
    TzfPadlockGuard g(folder->sfTablesPadlock);
    TzfFilesDescriptor& files = *aDictionary->ddFilesDescriptor;
    for (int32_t i = 0; i < files.FileCount; ++i) files.FileDescriptor[static_cast<size_t>(i)]->SetBlockSize(TzfBlockSize::zfbs4k);
    if (const uint32_t r = folder->sfTableCreate(u"", u"", table, tsTempUnnamed, aDictionary, false))
      throw EzfServerEngineException(r);
  }
  TzfServerTableCursor* cursor = nullptr;
  try {
    cursor = new TzfServerTableCursor(aDatabase, table, omReadWrite, smExclusive, false, aTimeout, false);
    cursor->sbcIsResultSet = true;
    cursor->AfterConstruction();
  } catch (...) {
    // A cursor whose construction failed never joined the table: the table goes here.
    if (cursor) cursor->Free();
    TzfPadlockGuard g(folder->sfTablesPadlock);
    table->Free();
    throw;
  }
  return cursor;
}

void TzfServerTableCursor::stcReleaseResultSetTable() {
  TzfServerRootTable* root = stcRoot;
  if (stcTable != root) return;
  TzfPadlockGuard g(stcDatabase->sdFolder->sfTablesPadlock);
  if (root->sbtCursorCountLocked() != 0 || root->sbtLockIsInactive.load() != 0) return;
  if (!root->srtTransLinksEmpty()) return;
  root->Free();
}

}  // namespace zf
