#include "foundation/zfllErrors.h"

#include <gtest/gtest.h>

#include <set>

namespace zf {
namespace {

struct Row {
  uint32_t Code;
  const char16_t* Text;
};

// Every row of the message table, written out independently of the engine's own table.
const Row kRows[] = {
    {8455, u"System has been illegally re-entered."},
    {8705, u"At beginning of table."},
    {8706, u"At end of table."},
    {8708, u"Record/Key deleted."},
    {8709, u"No current record."},
    {8710, u"Could not find record."},
    {8711, u"End of BLOB."},
    {8712, u"Could not find object."},
    {8961, u"Corrupt table/index header."},
    {8962, u"Corrupt file - other than header."},
    {8965, u"Corrupt index."},
    {9217, u"Read failure."},
    {9218, u"Write failure."},
    {9219, u"Cannot access directory."},
    {9221, u"Cannot access file. File may be in use by another process."},
    {9473, u"Insufficient memory for this operation."},
    {9479, u"Table is full."},
    {9486, u"Too many clients."},
    {9487, u"Too many indexes on table."},
    {9729, u"Key violation."},
    {9730, u"Minimum validity check failed."},
    {9731, u"Maximum validity check failed."},
    {9732, u"Field value required."},
    {9733, u"Master record missing."},
    {9734, u"Master has detail records. Cannot delete or modify."},
    {9740, u"Field is blank."},
    {9751, u"Expression validity check failed."},
    {9985, u"Number is out of range."},
    {9986, u"Invalid parameter."},
    {9990, u"Invalid handle to the function."},
    {9992, u"Cannot open file."},
    {9997, u"Index does not exist."},
    {9998, u"Invalid offset into the BLOB."},
    {9999, u"Invalid descriptor number."},
    {10000, u"Invalid field type."},
    {10001, u"Invalid field descriptor."},
    {10002, u"Invalid field transformation."},
    {10003, u"Invalid record structure."},
    {10004, u"Invalid descriptor."},
    {10005, u"Invalid array of index descriptors."},
    {10009, u"Name not unique in this context."},
    {10014, u"Unknown database."},
    {10015, u"Invalid password given."},
    {10018, u"The alias references a directory that does not exist."},
    {10019, u"Translate Error. Value out of bounds."},
    {10020, u"Cannot set cursor of one table to another."},
    {10021, u"Bookmarks do not match table."},
    {10022, u"Invalid index name."},
    {10023, u"Invalid index descriptor."},
    {10024, u"Table does not exist."},
    {10027, u"Index already exists."},
    {10029, u"Invalid BLOB length."},
    {10030, u"Invalid BLOB handle in record buffer."},
    {10031, u"Table is open."},
    {10036, u"Unknown user name or password."},
    {10038, u"Invalid field name."},
    {10039, u"Invalid table name."},
    {10042, u"Invalid file extension."},
    {10043, u"Invalid language Driver."},
    {10050, u"Filter handle is invalid"},
    {10051, u"Invalid Filter"},
    {10067, u"Invalid alias name."},
    {10068, u"Invalid name."},
    {10241, u"Record locked by another user."},
    {10245, u"File is locked."},
    {10249, u"Lock time out."},
    {10253, u"Object cannot be opened for exclusive use."},
    {10254, u"Conflicting lock in this session."},
    {10255, u"A deadlock was detected. You need to rollback this transaction."},
    {10256, u"A user transaction is already in progress."},
    {10257, u"No user transaction is currently in progress."},
    {10258, u"Record lock failed."},
    {10259, u"Couldn't perform the edit because another user changed the record."},
    {10260, u"Couldn't perform the edit because another user deleted or moved the record."},
    {10498, u"Insufficient table rights for operation."},
    {10501, u"Database is read only."},
    {10502, u"Trying to modify read-only field."},
    {10503, u"Encrypted tables not supported."},
    {10753, u"Field is not a BLOB."},
    {10756, u"Operation not applicable."},
    {10757, u"Table is not indexed."},
    {10760, u"Objects are not owned by the same session."},
    {10763, u"Table is read only."},
    {10764, u"No associated index."},
    {11047, u"Unknown internal operating system error."},
    {11114, u"No ServerEngine is connected to the CommandHandler."},
    {11276, u"Lost communication with network server."},
    {11278, u"Cannot locate or connect to network server."},
    {11896, u"General BLOB error."},
    {12039, u"Server is incompatible version."},
    {12040, u"Higher table level required"},
    {12289, u"Capability not supported."},
    {13058, u"BLOB has been modified."},
    {13060, u"Table already exists."},
    {13062, u"Update aborted."},
    {15360, u"TzfBaseFile contains invalid data"},
    {15363, u"File could not be closed"},
    {15392, u"Error when copying a file"},
    {15393, u"Error when deleting a file"},
    {15394, u"Error when renaming a file"},
    {15409, u"Block number is either < 0, or >= number of blocks in file"},
    {15412, u"Record reference number is invalid"},
    {15413, u"Block read from file is not a data block"},
    {15414, u"A TzfServerEngine without file header access factories has been detected. Please add \"zfseAllEngines\" to your program's USES clause, and recompile."},
    {15415, u"The table cannot be opened because it was created with a newer version of ZofrinDB."},
    {15416, u"Block read from file is not a heap block"},
    {15421, u"Block read from file is not a stream block"},
    {15424, u"Block read from file is not an index block"},
    {15425, u"Index number passed to routine is out of range"},
    {15440, u"An error occurred when opening the external file for a file BLOB"},
    {15441, u"An error occurred when reading the external file for a file BLOB"},
    {15442, u"An error occurred when closing the external file for a file BLOB"},
    {15443, u"The transaction was corrupt due to an earlier failure. No commit took place. You need to rollback this transaction."},
    {15444, u"The filter timed out."},
    {15461, u"The operation could not be completed in the allotted time."},
    {15465, u"The session is not connected to a server engine."},
    {15488, u"The cursor dictionaries are incompatible. Verify the correct field types, lengths, units, and decimal places have been specified."},
    {15489, u"The cursors may not reference the same table for this operation."},
    {15490, u"BLOB size exceeds maximum size."},
    {15491, u"Sub-Engine is incompatible with the selected file header structure."},
    {15492, u"Invalid segment number"},
    {15493, u"Segment has been deleted"},
    {15494, u"Maximum key size has been exceeded"},
    {15495, u"Maximum record size has been exceeded"},
    {15496, u"Temporary Storage: Invalid block number"},
    {15497, u"Temporary Storage: Full"},
    {15498, u"Incompatible stream"},
    {15499, u"Unsupported dictionary descriptor"},
    {15500, u"The data dictionary is read only"},
    {15501, u"Duplicated autoinc field"},
    {15502, u"Object is currently in use"},
    {15503, u"Specified sub-engine is not supported"},
    {15504, u"Specified file header access is not supported"},
    {15505, u"Servername of the transport is not set"},
    {15506, u"Duplicated RecRev field"},
    {15507, u"A SIGNAL has be raised"},
    {15508, u"The databases may not reference the same folder for this operation."},
    {15509, u"Recovery failed."},
    {15511, u"Index is not empty."},
    {15521, u"Unknown (unexpected exception object raised)"},
    {15522, u"Message is unrecognized."},
};

TEST(ErrorTable, EveryCodeHasItsExactText) {
  std::set<uint32_t> codes;
  for (const Row& r : kRows) {
    EXPECT_EQ(rtl::u8(zfErrorCodeToText(r.Code)), rtl::u8(r.Text)) << r.Code;
    EXPECT_LT(r.Code, 65536u);
    codes.insert(r.Code);
  }
  EXPECT_EQ(codes.size(), 141u);
}

TEST(ErrorTable, CodesOutsideTheTableShareTheUnknownText) {
  const std::u16string unknown = u"Unknown (server exception object has unknown error code)";
  for (uint32_t code : {0u, 1u, 8704u, 15520u, 65535u, 65536u + 9729u, uint32_t(-1), uint32_t(-9729)})
    EXPECT_EQ(zfErrorCodeToText(code), unknown) << code;
}

TEST(ErrorTable, CategoryIsHighByteOfCode) {
  EXPECT_EQ(zfErrorCategory(9729), 38);
  EXPECT_EQ(zfErrorCategory(15498), 60);
  EXPECT_EQ(zfErrorCategory(8710), zfErrCatPositioning);
  EXPECT_EQ(zfErrorCategory(8965), zfErrCatCorruption);
  EXPECT_EQ(zfErrorCategory(10249), zfErrCatLocking);
  EXPECT_EQ(zfErrorCategory(0), 0);
  EXPECT_EQ(zfErrorCategory(65535), 255);
}

TEST(ErrorTable, NamedConstantsMatchTheirCodes) {
  EXPECT_EQ(zfErrKeyViol, 9729u);
  EXPECT_EQ(zfErrIncompatibleStream, 15498u);
  EXPECT_EQ(zfErrOSUnknown, 11047u);
  EXPECT_EQ(zfErrNoMemory, 9473u);
  EXPECT_EQ(zfErrIncompatibleVersion, 12039u);
  EXPECT_EQ(zfErrUpdateAborted, 13062u);
}

}  // namespace
}  // namespace zf
