// The database's index operations: each opens an exclusive read-write cursor on the table and
// hands the work to the cursor (stcAddIndex, stcDropIndex), which also notes the structure change.
// The folder's extenders hear of the operation first and the database's after them; after success
// the database's hear first and the folder's last.
#include "foundation/zfllErrors.h"
#include "foundation/zfllUtils.h"
#include "server/zfsrServerDatabase.h"
#include "server/zfsrServerFolder.h"
#include "server/zfsrServerTableCursor.h"

namespace zf {

namespace {

// Runs aWork on an exclusive read-write cursor on aTableName of aDatabase, between the extenders'
// before and after notices of aAction.
uint32_t WithIndexCursor(TzfServerDatabase& aDatabase, TzfEngineAction aAction, const TzfActionArgs& aArgs,
                         const UnicodeString& aTableName, const UnicodeString& aPassword,
                         const std::function<uint32_t(TzfServerTableCursor&)>& aWork) {
  if (aDatabase.sdOpenMode == omReadOnly) return zfErrReadOnlyDb;
  if (const uint32_t veto = aDatabase.sdFolder->NotifyExtenders(aAction, true, aArgs)) return veto;
  if (const uint32_t veto = aDatabase.NotifyExtenders(aAction, true, aArgs)) return veto;
  TzfServerTableCursor* cursor = nullptr;
  if (const uint32_t r = zfOpenTableCursor(&aDatabase, aTableName, aPassword, omReadWrite, smExclusive,
                                           aDatabase.atoGetTimeout(), cursor))
    return r;
  uint32_t r = 0;
  try {
    r = aWork(*cursor);
  } catch (...) {
    cursor->Free();
    throw;
  }
  cursor->Free();
  if (r != 0) return r;
  if (const uint32_t n = aDatabase.NotifyExtenders(aAction, false, aArgs)) return n;
  return aDatabase.sdFolder->NotifyExtenders(aAction, false, aArgs);
}

}  // namespace

uint32_t TzfServerDatabase::TableAddIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                          TzfIndexDescriptor* aIndexDesc, bool aNewDefault) {
  if (const uint32_t r = zfCheckFullTableName(aTableName, true, false)) return r;
  return Framed([&] {
    return WithIndexCursor(*this, eaTableAddIndex, {aIndexDesc, aNewDefault}, aTableName, aPassword,
                           [&](TzfServerTableCursor& aCursor) { return aCursor.stcAddIndex(aIndexDesc, aNewDefault); });
  });
}

uint32_t TzfServerDatabase::TableDropIndex(const UnicodeString& aTableName, const UnicodeString& aPassword,
                                           const UnicodeString& aIndexName, int32_t aIndexID) {
  if (const uint32_t r = zfCheckFullTableName(aTableName, true, false)) return r;
  if (const uint32_t r = zfCheckIdentifier(aIndexName, zfErrInvalidIndexName, true, true)) return r;
  return Framed([&] {
    return WithIndexCursor(*this, eaTableDropIndex, {aIndexName, aIndexID}, aTableName, aPassword,
                           [&](TzfServerTableCursor& aCursor) { return aCursor.stcDropIndex(aIndexName, aIndexID); });
  });
}

}  // namespace zf
