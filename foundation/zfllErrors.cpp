#include "foundation/zfllErrors.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace zf {

namespace {

struct TErrorText {
  uint32_t Code;
  const char16_t* Text;
};

// Sorted by code.
constexpr TErrorText kErrorTexts[] = {
    {zfErrReentered, u"System has been illegally re-entered."},
    {zfErrBOF, u"At beginning of table."},
    {zfErrEOF, u"At end of table."},
    {zfErrKeyOrRecDeleted, u"Record/Key deleted."},
    {zfErrNoCurrRec, u"No current record."},
    {zfErrRecNotFound, u"Could not find record."},
    {zfErrEndOfBlob, u"End of BLOB."},
    {zfErrObjNotFound, u"Could not find object."},
    {zfErrHeaderCorrupt, u"Corrupt table/index header."},
    {zfErrFileCorrupt, u"Corrupt file - other than header."},
    {zfErrIndexCorrupt, u"Corrupt index."},
    {zfErrReadErr, u"Read failure."},
    {zfErrWriteErr, u"Write failure."},
    {zfErrDirBusy, u"Cannot access directory."},
    {zfErrFileBusy, u"Cannot access file. File may be in use by another process."},
    {zfErrNoMemory, u"Insufficient memory for this operation."},
    {zfErrTableFull, u"Table is full."},
    {zfErrTooManyClients, u"Too many clients."},
    {zfErrTooManyIndexes, u"Too many indexes on table."},
    {zfErrKeyViol, u"Key violation."},
    {zfErrMinValErr, u"Minimum validity check failed."},
    {zfErrMaxValErr, u"Maximum validity check failed."},
    {zfErrRequiredErr, u"Field value required."},
    {zfErrMasterMissing, u"Master record missing."},
    {zfErrDetailRecsExist, u"Master has detail records. Cannot delete or modify."},
    {zfErrFieldIsBlank, u"Field is blank."},
    {zfErrExprValErr, u"Expression validity check failed."},
    {zfErrOutOfRange, u"Number is out of range."},
    {zfErrInvalidParam, u"Invalid parameter."},
    {zfErrInvalidHndl, u"Invalid handle to the function."},
    {zfErrCantOpenFile, u"Cannot open file."},
    {zfErrNoSuchIndex, u"Index does not exist."},
    {zfErrInvalidBlobOffset, u"Invalid offset into the BLOB."},
    {zfErrInvalidDescNum, u"Invalid descriptor number."},
    {zfErrInvalidFieldType, u"Invalid field type."},
    {zfErrInvalidFieldDesc, u"Invalid field descriptor."},
    {zfErrInvalidFieldXForm, u"Invalid field transformation."},
    {zfErrInvalidRecStruct, u"Invalid record structure."},
    {zfErrInvalidDesc, u"Invalid descriptor."},
    {zfErrInvalidIndexStruct, u"Invalid array of index descriptors."},
    {zfErrNameNotUnique, u"Name not unique in this context."},
    {zfErrUnknownDb, u"Unknown database."},
    {zfErrInvalidPassword, u"Invalid password given."},
    {zfErrDirNotExists, u"The alias references a directory that does not exist."},
    {zfErrXlateOutOfBounds, u"Translate Error. Value out of bounds."},
    {zfErrDifferentTables, u"Cannot set cursor of one table to another."},
    {zfErrBookmarkMismatch, u"Bookmarks do not match table."},
    {zfErrInvalidIndexName, u"Invalid index name."},
    {zfErrInvalidIndexDesc, u"Invalid index descriptor."},
    {zfErrNoSuchTable, u"Table does not exist."},
    {zfErrIndexExists, u"Index already exists."},
    {zfErrInvalidBlobLen, u"Invalid BLOB length."},
    {zfErrInvalidBlobHandle, u"Invalid BLOB handle in record buffer."},
    {zfErrTableOpen, u"Table is open."},
    {zfErrInvalidUserPassword, u"Unknown user name or password."},
    {zfErrInvalidFieldName, u"Invalid field name."},
    {zfErrInvalidTableName, u"Invalid table name."},
    {zfErrInvalidFileExt, u"Invalid file extension."},
    {zfErrInvalidLangDriver, u"Invalid language Driver."},
    {zfErrInvalidFilterHandle, u"Filter handle is invalid"},
    {zfErrInvalidFilter, u"Invalid Filter"},
    {zfErrInvalidAliasName, u"Invalid alias name."},
    {zfErrInvalidName, u"Invalid name."},
    {zfErrLocked, u"Record locked by another user."},
    {zfErrFileLocked, u"File is locked."},
    {zfErrLockTimeout, u"Lock time out."},
    {zfErrNeedExclAccess, u"Object cannot be opened for exclusive use."},
    {zfErrSessionLockConflict, u"Conflicting lock in this session."},
    {zfErrDeadlock, u"A deadlock was detected. You need to rollback this transaction."},
    {zfErrActiveTran, u"A user transaction is already in progress."},
    {zfErrNoActiveTran, u"No user transaction is currently in progress."},
    {zfErrRecLockFailed, u"Record lock failed."},
    {zfErrRecChanged, u"Couldn't perform the edit because another user changed the record."},
    {zfErrRecDeletedOrMoved, u"Couldn't perform the edit because another user deleted or moved the record."},
    {zfErrNotSufficientRights, u"Insufficient table rights for operation."},
    {zfErrReadOnlyDb, u"Database is read only."},
    {zfErrReadOnlyField, u"Trying to modify read-only field."},
    {zfErrEncryptedTablesNotSupported, u"Encrypted tables not supported."},
    {zfErrNotABlob, u"Field is not a BLOB."},
    {zfErrNotApplicable, u"Operation not applicable."},
    {zfErrNotIndexed, u"Table is not indexed."},
    {zfErrDifferentSessions, u"Objects are not owned by the same session."},
    {zfErrTableReadOnly, u"Table is read only."},
    {zfErrNoAssocIndex, u"No associated index."},
    {zfErrOSUnknown, u"Unknown internal operating system error."},
    {zfErrNoServerEngine, u"No ServerEngine is connected to the CommandHandler."},
    {zfErrNetLost, u"Lost communication with network server."},
    {zfErrNetCannotConnect, u"Cannot locate or connect to network server."},
    {zfErrBlobGeneral, u"General BLOB error."},
    {zfErrIncompatibleVersion, u"Server is incompatible version."},
    {zfErrHigherTableLevelRequired, u"Higher table level required"},
    {zfErrNotSupported, u"Capability not supported."},
    {zfErrBlobModified, u"BLOB has been modified."},
    {zfErrTableExists, u"Table already exists."},
    {zfErrUpdateAborted, u"Update aborted."},
    {zfErrFileInvalidData, u"TzfBaseFile contains invalid data"},
    {zfErrFileCloseFailed, u"File could not be closed"},
    {zfErrFileCopyFailed, u"Error when copying a file"},
    {zfErrFileDeleteFailed, u"Error when deleting a file"},
    {zfErrFileRenameFailed, u"Error when renaming a file"},
    {zfErrBlockNumberOutOfRange, u"Block number is either < 0, or >= number of blocks in file"},
    {zfErrInvalidRecordRef, u"Record reference number is invalid"},
    {zfErrNotADataBlock, u"Block read from file is not a data block"},
    {zfErrNoFileHeaderAccessFactories, u"A TzfServerEngine without file header access factories has been detected. Please add \"zfseAllEngines\" to your program's USES clause, and recompile."},
    {zfErrTableTooNew, u"The table cannot be opened because it was created with a newer version of ZofrinDB."},
    {zfErrNotAHeapBlock, u"Block read from file is not a heap block"},
    {zfErrNotAStreamBlock, u"Block read from file is not a stream block"},
    {zfErrNotAnIndexBlock, u"Block read from file is not an index block"},
    {zfErrIndexNumberOutOfRange, u"Index number passed to routine is out of range"},
    {zfErrFileBlobOpen, u"An error occurred when opening the external file for a file BLOB"},
    {zfErrFileBlobRead, u"An error occurred when reading the external file for a file BLOB"},
    {zfErrFileBlobClose, u"An error occurred when closing the external file for a file BLOB"},
    {zfErrTransactionCorrupt, u"The transaction was corrupt due to an earlier failure. No commit took place. You need to rollback this transaction."},
    {zfErrFilterTimeout, u"The filter timed out."},
    {zfErrTimeout, u"The operation could not be completed in the allotted time."},
    {zfErrSessionNotConnected, u"The session is not connected to a server engine."},
    {zfErrIncompatibleDictionaries, u"The cursor dictionaries are incompatible. Verify the correct field types, lengths, units, and decimal places have been specified."},
    {zfErrSameTable, u"The cursors may not reference the same table for this operation."},
    {zfErrBlobTooLarge, u"BLOB size exceeds maximum size."},
    {zfErrSubEngineIncompatible, u"Sub-Engine is incompatible with the selected file header structure."},
    {zfErrInvalidSegment, u"Invalid segment number"},
    {zfErrSegmentDeleted, u"Segment has been deleted"},
    {zfErrMaxKeySizeExceeded, u"Maximum key size has been exceeded"},
    {zfErrMaxRecordSizeExceeded, u"Maximum record size has been exceeded"},
    {zfErrTempStoreInvalidBlock, u"Temporary Storage: Invalid block number"},
    {zfErrTempStoreFull, u"Temporary Storage: Full"},
    {zfErrIncompatibleStream, u"Incompatible stream"},
    {zfErrUnsupportedDescriptor, u"Unsupported dictionary descriptor"},
    {zfErrDictionaryReadOnly, u"The data dictionary is read only"},
    {zfErrDuplicateAutoInc, u"Duplicated autoinc field"},
    {zfErrObjectInUse, u"Object is currently in use"},
    {zfErrSubEngineNotSupported, u"Specified sub-engine is not supported"},
    {zfErrFileHeaderAccessNotSupported, u"Specified file header access is not supported"},
    {zfErrTransportServerNameNotSet, u"Servername of the transport is not set"},
    {zfErrDuplicateRecRev, u"Duplicated RecRev field"},
    {zfErrSignal, u"A SIGNAL has be raised"},
    {zfErrSameFolder, u"The databases may not reference the same folder for this operation."},
    {zfErrRecoveryFailed, u"Recovery failed."},
    {zfErrIndexNotEmpty, u"Index is not empty."},
    {zfErrUnexpectedException, u"Unknown (unexpected exception object raised)"},
    {zfErrMessageUnrecognized, u"Message is unrecognized."},
};

constexpr bool IsSorted() {
  for (size_t i = 1; i < std::size(kErrorTexts); ++i)
    if (kErrorTexts[i - 1].Code >= kErrorTexts[i].Code) return false;
  return true;
}
static_assert(IsSorted(), "the message table must be sorted by code without duplicates");
static_assert(std::size(kErrorTexts) == 141);

}  // namespace

rtl::UnicodeString zfErrorCodeToText(uint32_t aErrorCode) {
  const auto* end = std::end(kErrorTexts);
  const auto* it = std::lower_bound(std::begin(kErrorTexts), end, aErrorCode,
                                    [](const TErrorText& e, uint32_t c) { return e.Code < c; });
  if (it != end && it->Code == aErrorCode) return it->Text;
  return zfUnknownErrorCodeText;
}

rtl::TUnitInit& zfllErrorsUnit() {
  static rtl::TUnitInit unit("zfllErrors", nullptr, nullptr);
  return unit;
}

}  // namespace zf
