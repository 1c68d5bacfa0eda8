// File-name and file routines of the server and the journal. Paths use the platform's folder
// delimiter ("/"); a folder already ending in "/" or "\" gets no second one.
#pragma once
#include "foundation/zfllException.h"
#include "platform/rtl/rtlText.h"
#include "platform/rtl/rtlUnits.h"
#include "storage/zfsrExceptions.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfFileManagementException, EzfServerException)

inline constexpr char16_t kzfPathDelim = u'/';

// Deletes the file; failure raises 15393 with the OS error and the action "DeleteFile ("%s")".
void zfDeleteFile(const rtl::UnicodeString& aFileName);
// Renames or moves the file; failure raises 15394 with "RenameFile (from "%s" to "%s")".
void zfMoveFile(const rtl::UnicodeString& aOldName, const rtl::UnicodeString& aNewName);
// aDirectory + delimiter + aFileName; no delimiter is added to an empty folder or one ending in one.
rtl::UnicodeString zfCombinePath(const rtl::UnicodeString& aDirectory, const rtl::UnicodeString& aFileName);
// aFileName + "." + aExtension.
rtl::UnicodeString zfAddExtension(const rtl::UnicodeString& aFileName, const rtl::UnicodeString& aExtension);

rtl::TUnitInit& zfsrFileHandlingUnit();

}  // namespace zf
