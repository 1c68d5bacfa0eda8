// The database's operations that stand on table cursors: opening a cursor under the share rules
// of the table's existing cursors, the auto-increment value and the password change through a
// cursor of their own, and the tables changed since the database last asked.
#include <set>

#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlStringList.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerLinks.h"
#include "server/zfsrServerSession.h"
#include "server/zfsrServerTable.h"
#include "server/zfsrServerTableCursor.h"
#include "server/zfsrServerTransaction.h"

namespace zf {

uint32_t zfCheckCursorShare(TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                            const std::vector<std::pair<TzfOpenMode, TzfShareMode>>& aOpen) {
  if (aOpen.empty()) return 0;
  if (aOpen.front().second == smExclusive) return zfErrNeedExclAccess;
  const bool writes = aOpenMode != omReadOnly;
  switch (aShareMode) {
    case smExclusive:
      return zfErrNeedExclAccess;
    case smShared:
      if (!writes) return 0;
      for (const auto& [mode, share] : aOpen) {
        if (share == smShareRead) return zfErrNeedExclAccess;
        if (share == smShared && mode != omReadOnly) return 0;  // already shared with a writer
      }
      return 0;
    case smShareRead:
      for (const auto& [mode, share] : aOpen) {
        if (mode != omReadOnly) return zfErrNeedExclAccess;
        if (writes && share == smShareRead) return zfErrNeedExclAccess;
      }
      return 0;
  }
  return 0;
}

namespace {

// The open and share modes of the table's cursors, in chain order (under sbtCursorsPadlock).
std::vector<std::pair<TzfOpenMode, TzfShareMode>> CursorModes(TzfServerBaseTable* aTable) {
  std::vector<std::pair<TzfOpenMode, TzfShareMode>> modes;
  for (TzfAbstractCursor* c : aTable->sbtCursors)
    if (auto* tc = dynamic_cast<TzfServerTableCursor*>(c)) modes.emplace_back(tc->OpenMode(), tc->ShareMode());
  return modes;
}

}  // namespace

uint32_t TzfServerDatabase::sdCursorOpen(TzfServerTableCursor*& aCursor, const UnicodeString& aTableName,
                                         const UnicodeString& aPassword, bool aForServer, TzfOpenMode aOpenMode,
                                         TzfShareMode aShareMode, bool aIgnoreExcl, uint32_t aTimeout,
                                         bool aInternal, bool aBlobCache) {
  aCursor = nullptr;
  TzfOpenMode mode = aOpenMode == omWriteOnly ? omReadWrite : aOpenMode;
  if (sdOpenMode == omReadOnly && mode != omReadOnly) return zfErrReadOnlyDb;
  try {
    TzfPadlockGuard tables(sdFolder->sfTablesPadlock);
    TzfTableMapperLock mapper(*sdTables);
    TzfServerRootTable* root = nullptr;
    bool readOnly = false;
    const size_t colon = aTableName.find(u':');
    if (const uint32_t r = sdGetTable(root, aTableName.substr(0, colon), aPassword, aForServer, readOnly, aInternal))
      return r;
    if (!root) return zfErrObjNotFound;
    TzfServerBaseTable* table = root;
    if (colon != UnicodeString::npos)
      if (const uint32_t r = root->GetChild(aTableName.substr(colon + 1), table)) return r;
    if (!table->sbtRecordEngine) return zfErrNotSupported;
    if (readOnly) mode = omReadOnly;  // the passwords grant only reading
    TzfPadlockGuard cursors(table->sbtCursorsPadlock);
    if (!aIgnoreExcl && zfCheckCursorShare(mode, aShareMode, CursorModes(table)) != 0) {
      // Cursors that close on request may go; the second answer is final.
      sdIsUnused(root);
      if (const uint32_t r = zfCheckCursorShare(mode, aShareMode, CursorModes(table))) return r;
    }
    if (mode != omReadOnly && root->srtOpenMode == omReadOnly) return zfErrTableReadOnly;
    aCursor = zfCreateServerObject<TzfServerTableCursor>(this, table, mode, aShareMode, mode == omReadOnly, aTimeout,
                                                          aBlobCache);
    return 0;
  } catch (const std::exception& e) {
    if (aCursor) {
      aCursor->Free();
      aCursor = nullptr;
    }
    return asoConvertException(e);
  }
}

uint32_t TzfServerDatabase::CursorOpen(TzfAbstractCursor*& aCursor, const UnicodeString& aTableName,
                                       const UnicodeString& aPassword, TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                                       uint32_t aTimeout, bool aAllowSystem) {
  aCursor = nullptr;
  if (const uint32_t r = zfCheckFullTableName(aTableName, true, aAllowSystem)) return r;
  return Framed([&]() -> uint32_t {
    TzfServerTableCursor* cursor = nullptr;
    // The engine's own clients (version 20000 and later) get record-level BLOB changes.
    const uint32_t r = sdCursorOpen(cursor, aTableName, aPassword, false, aOpenMode, aShareMode, false, aTimeout, false,
                                    sdSession && sdSession->asGetClientVersion() >= 20000);
    aCursor = cursor;
    return r;
  });
}

uint32_t TzfServerDatabase::sdWithCursor(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                         TzfOpenMode aOpenMode, TzfShareMode aShareMode,
                                         const std::function<uint32_t(TzfServerTableCursor*)>& aWork) {
  TzfServerTableCursor* cursor = nullptr;
  if (const uint32_t r =
          sdCursorOpen(cursor, aTableName, aPassword, false, aOpenMode, aShareMode, false, atoTimeout, false))
    return r;
  uint32_t r = 0;
  try {
    r = aWork(cursor);
  } catch (...) {
    cursor->Free();
    throw;
  }
  cursor->Free();
  return r;
}

uint32_t TzfServerDatabase::TableAutoIncGet(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                            uint32_t& aValue) {
  aValue = 0;
  if (const uint32_t r = zfCheckFullTableName(aTableName, true, false)) return r;
  return Framed([&] {
    return sdWithCursor(aTableName, aPassword, omReadOnly, smShared,
                        [&](TzfServerTableCursor* aCursor) { return aCursor->AutoIncGet(aValue); });
  });
}

uint32_t TzfServerDatabase::TableChangePassword(const UnicodeString& aTableName, const UnicodeString& aOldPassword,
                                                const UnicodeString& aNewPassword) {
  if (const uint32_t r = zfCheckTableName(aTableName, true, false)) return r;
  return Framed([&] {
    return sdWithCursor(aTableName, aOldPassword, omReadWrite, smShared,
                        [&](TzfServerTableCursor* aCursor) { return aCursor->ChangePassword(aNewPassword); });
  });
}

uint32_t TzfServerDatabase::GetChangedTables(rtl::TStrings& aTables) {
  return Framed([&]() -> uint32_t {
    if (const uint32_t veto = NotifyExtenders(eaGetChangedTables, true, {&aTables})) return veto;
    TzfBufferManager* bm = sdFolder->sfServerEngine->seBufferManager.get();
    auto* context = dynamic_cast<TzfServerTransSlot*>(TransContext());
    TzfServerTransaction* trans = context ? context->Transaction() : nullptr;
    const TzfLSN bound = trans ? trans->btLSN - 1 : bm->ReadCurrentLSN();
    {
      std::set<UnicodeString> seen;  // upper-cased full names: each table is looked at once
      aTables.BeginUpdate();
      try {
        adCursors.ForEachLive([&](TzfAbstractServerObject* aObject) {
          auto* cursor = dynamic_cast<TzfServerTableCursor*>(aObject);
          if (!cursor) return;
          const UnicodeString name = cursor->acGetFullName();
          if (!seen.insert(rtl::UpperCase(name)).second) return;
          if (cursor->Table()->sbtGetLSN(trans) > sdLastCheckLSN) aTables.Add(name);
        });
      } catch (...) {
        aTables.EndUpdate();
        throw;
      }
      aTables.EndUpdate();
    }
    if (const uint32_t r = NotifyExtenders(eaGetChangedTables, false, {&aTables})) return r;
    sdLastCheckLSN = bound;
    return 0;
  });
}

}  // namespace zf
