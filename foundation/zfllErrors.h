// The engine's numeric error codes and their message texts.
//
// An error code is a 32-bit unsigned value, 0 meaning success; every code the engine defines lies
// below 65536. The high byte of the 16-bit code is its category: other units test categories
// (34 positioning results, 35 corruption, 40 lock and transaction conflicts) rather than codes.
#pragma once
#include <cstdint>

#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

using TzfErrorCode = uint32_t;

inline constexpr uint32_t zfErrNone = 0;

inline constexpr uint32_t zfErrReentered = 8455;
inline constexpr uint32_t zfErrBOF = 8705;
inline constexpr uint32_t zfErrEOF = 8706;
inline constexpr uint32_t zfErrKeyOrRecDeleted = 8708;
inline constexpr uint32_t zfErrNoCurrRec = 8709;
inline constexpr uint32_t zfErrRecNotFound = 8710;
inline constexpr uint32_t zfErrEndOfBlob = 8711;
inline constexpr uint32_t zfErrObjNotFound = 8712;
inline constexpr uint32_t zfErrHeaderCorrupt = 8961;
inline constexpr uint32_t zfErrFileCorrupt = 8962;
inline constexpr uint32_t zfErrIndexCorrupt = 8965;
inline constexpr uint32_t zfErrReadErr = 9217;
inline constexpr uint32_t zfErrWriteErr = 9218;
inline constexpr uint32_t zfErrDirBusy = 9219;
inline constexpr uint32_t zfErrFileBusy = 9221;
inline constexpr uint32_t zfErrNoMemory = 9473;
inline constexpr uint32_t zfErrTableFull = 9479;
inline constexpr uint32_t zfErrTooManyClients = 9486;
inline constexpr uint32_t zfErrTooManyIndexes = 9487;
inline constexpr uint32_t zfErrKeyViol = 9729;
inline constexpr uint32_t zfErrMinValErr = 9730;
inline constexpr uint32_t zfErrMaxValErr = 9731;
inline constexpr uint32_t zfErrRequiredErr = 9732;
inline constexpr uint32_t zfErrMasterMissing = 9733;
inline constexpr uint32_t zfErrDetailRecsExist = 9734;
inline constexpr uint32_t zfErrFieldIsBlank = 9740;
inline constexpr uint32_t zfErrExprValErr = 9751;
inline constexpr uint32_t zfErrOutOfRange = 9985;
inline constexpr uint32_t zfErrInvalidParam = 9986;
inline constexpr uint32_t zfErrInvalidHndl = 9990;
inline constexpr uint32_t zfErrCantOpenFile = 9992;
inline constexpr uint32_t zfErrNoSuchIndex = 9997;
inline constexpr uint32_t zfErrInvalidBlobOffset = 9998;
inline constexpr uint32_t zfErrInvalidDescNum = 9999;
inline constexpr uint32_t zfErrInvalidFieldType = 10000;
inline constexpr uint32_t zfErrInvalidFieldDesc = 10001;
inline constexpr uint32_t zfErrInvalidFieldXForm = 10002;
inline constexpr uint32_t zfErrInvalidRecStruct = 10003;
inline constexpr uint32_t zfErrInvalidDesc = 10004;
inline constexpr uint32_t zfErrInvalidIndexStruct = 10005;
inline constexpr uint32_t zfErrNameNotUnique = 10009;
inline constexpr uint32_t zfErrUnknownDb = 10014;
inline constexpr uint32_t zfErrInvalidPassword = 10015;
inline constexpr uint32_t zfErrDirNotExists = 10018;
inline constexpr uint32_t zfErrXlateOutOfBounds = 10019;
inline constexpr uint32_t zfErrDifferentTables = 10020;
inline constexpr uint32_t zfErrBookmarkMismatch = 10021;
inline constexpr uint32_t zfErrInvalidIndexName = 10022;
inline constexpr uint32_t zfErrInvalidIndexDesc = 10023;
inline constexpr uint32_t zfErrNoSuchTable = 10024;
inline constexpr uint32_t zfErrIndexExists = 10027;
inline constexpr uint32_t zfErrInvalidBlobLen = 10029;
inline constexpr uint32_t zfErrInvalidBlobHandle = 10030;
inline constexpr uint32_t zfErrTableOpen = 10031;
inline constexpr uint32_t zfErrInvalidUserPassword = 10036;
inline constexpr uint32_t zfErrInvalidFieldName = 10038;
inline constexpr uint32_t zfErrInvalidTableName = 10039;
inline constexpr uint32_t zfErrInvalidFileExt = 10042;
inline constexpr uint32_t zfErrInvalidLangDriver = 10043;
inline constexpr uint32_t zfErrInvalidFilterHandle = 10050;
inline constexpr uint32_t zfErrInvalidFilter = 10051;
inline constexpr uint32_t zfErrInvalidAliasName = 10067;
inline constexpr uint32_t zfErrInvalidName = 10068;
inline constexpr uint32_t zfErrLocked = 10241;
inline constexpr uint32_t zfErrFileLocked = 10245;
inline constexpr uint32_t zfErrLockTimeout = 10249;
inline constexpr uint32_t zfErrNeedExclAccess = 10253;
inline constexpr uint32_t zfErrSessionLockConflict = 10254;
inline constexpr uint32_t zfErrDeadlock = 10255;
inline constexpr uint32_t zfErrActiveTran = 10256;
inline constexpr uint32_t zfErrNoActiveTran = 10257;
inline constexpr uint32_t zfErrRecLockFailed = 10258;
inline constexpr uint32_t zfErrRecChanged = 10259;
inline constexpr uint32_t zfErrRecDeletedOrMoved = 10260;
inline constexpr uint32_t zfErrNotSufficientRights = 10498;
inline constexpr uint32_t zfErrReadOnlyDb = 10501;
inline constexpr uint32_t zfErrReadOnlyField = 10502;
inline constexpr uint32_t zfErrEncryptedTablesNotSupported = 10503;
inline constexpr uint32_t zfErrNotABlob = 10753;
inline constexpr uint32_t zfErrNotApplicable = 10756;
inline constexpr uint32_t zfErrNotIndexed = 10757;
inline constexpr uint32_t zfErrDifferentSessions = 10760;
inline constexpr uint32_t zfErrTableReadOnly = 10763;
inline constexpr uint32_t zfErrNoAssocIndex = 10764;
inline constexpr uint32_t zfErrOSUnknown = 11047;
inline constexpr uint32_t zfErrNoServerEngine = 11114;
inline constexpr uint32_t zfErrNetLost = 11276;
inline constexpr uint32_t zfErrNetCannotConnect = 11278;
inline constexpr uint32_t zfErrBlobGeneral = 11896;
inline constexpr uint32_t zfErrIncompatibleVersion = 12039;
inline constexpr uint32_t zfErrHigherTableLevelRequired = 12040;
inline constexpr uint32_t zfErrNotSupported = 12289;
inline constexpr uint32_t zfErrBlobModified = 13058;
inline constexpr uint32_t zfErrTableExists = 13060;
inline constexpr uint32_t zfErrUpdateAborted = 13062;
inline constexpr uint32_t zfErrFileInvalidData = 15360;
inline constexpr uint32_t zfErrFileCloseFailed = 15363;
inline constexpr uint32_t zfErrFileCopyFailed = 15392;
inline constexpr uint32_t zfErrFileDeleteFailed = 15393;
inline constexpr uint32_t zfErrFileRenameFailed = 15394;
inline constexpr uint32_t zfErrBlockNumberOutOfRange = 15409;
inline constexpr uint32_t zfErrInvalidRecordRef = 15412;
inline constexpr uint32_t zfErrNotADataBlock = 15413;
inline constexpr uint32_t zfErrNoFileHeaderAccessFactories = 15414;
inline constexpr uint32_t zfErrTableTooNew = 15415;
inline constexpr uint32_t zfErrNotAHeapBlock = 15416;
inline constexpr uint32_t zfErrNotAStreamBlock = 15421;
inline constexpr uint32_t zfErrNotAnIndexBlock = 15424;
inline constexpr uint32_t zfErrIndexNumberOutOfRange = 15425;
inline constexpr uint32_t zfErrFileBlobOpen = 15440;
inline constexpr uint32_t zfErrFileBlobRead = 15441;
inline constexpr uint32_t zfErrFileBlobClose = 15442;
inline constexpr uint32_t zfErrTransactionCorrupt = 15443;
inline constexpr uint32_t zfErrFilterTimeout = 15444;
inline constexpr uint32_t zfErrTimeout = 15461;
inline constexpr uint32_t zfErrSessionNotConnected = 15465;
inline constexpr uint32_t zfErrIncompatibleDictionaries = 15488;
inline constexpr uint32_t zfErrSameTable = 15489;
inline constexpr uint32_t zfErrBlobTooLarge = 15490;
inline constexpr uint32_t zfErrSubEngineIncompatible = 15491;
inline constexpr uint32_t zfErrInvalidSegment = 15492;
inline constexpr uint32_t zfErrSegmentDeleted = 15493;
inline constexpr uint32_t zfErrMaxKeySizeExceeded = 15494;
inline constexpr uint32_t zfErrMaxRecordSizeExceeded = 15495;
inline constexpr uint32_t zfErrTempStoreInvalidBlock = 15496;
inline constexpr uint32_t zfErrTempStoreFull = 15497;
inline constexpr uint32_t zfErrIncompatibleStream = 15498;
inline constexpr uint32_t zfErrUnsupportedDescriptor = 15499;
inline constexpr uint32_t zfErrDictionaryReadOnly = 15500;
inline constexpr uint32_t zfErrDuplicateAutoInc = 15501;
inline constexpr uint32_t zfErrObjectInUse = 15502;
inline constexpr uint32_t zfErrSubEngineNotSupported = 15503;
inline constexpr uint32_t zfErrFileHeaderAccessNotSupported = 15504;
inline constexpr uint32_t zfErrTransportServerNameNotSet = 15505;
inline constexpr uint32_t zfErrDuplicateRecRev = 15506;
inline constexpr uint32_t zfErrSignal = 15507;
inline constexpr uint32_t zfErrSameFolder = 15508;
inline constexpr uint32_t zfErrRecoveryFailed = 15509;
inline constexpr uint32_t zfErrIndexNotEmpty = 15511;
inline constexpr uint32_t zfErrUnexpectedException = 15521;
inline constexpr uint32_t zfErrMessageUnrecognized = 15522;

// Categories tested by other units.
inline constexpr uint16_t zfErrCatPositioning = 34;
inline constexpr uint16_t zfErrCatCorruption = 35;
inline constexpr uint16_t zfErrCatLocking = 40;

// The text shared by every code that is not in the table, 0 included.
inline constexpr const char16_t* zfUnknownErrorCodeText = u"Unknown (server exception object has unknown error code)";

// The text of the code's table row, else the unknown-code text. Pure lookup, any thread.
rtl::UnicodeString zfErrorCodeToText(uint32_t aErrorCode);

// The category of a code below 65536: the code shifted right by 8.
constexpr uint16_t zfErrorCategory(uint16_t aErrorCode) { return static_cast<uint16_t>(aErrorCode >> 8); }

rtl::TUnitInit& zfllErrorsUnit();

}  // namespace zf
