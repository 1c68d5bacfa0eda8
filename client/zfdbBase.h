// The client exception: EzfDatabaseError, what every client data-access component raises when an
// engine operation answers an error code or when the component refuses a call itself.
//
// It is the framework's EDatabaseError (so applications catch it like any database error) and
// carries what the engine exception carries: the code, the custom text with its custom-information
// blocks cut out, the "OSError" value and the exception data, offered through IzfBaseException.
// Its message names the component or field that failed:
//
//   with a component     "ZofrinDB: <component>: <text> [$<hex code>/<code>]"
//                        "ZofrinDB: <component>: <text> [no error code]"
//   without a component  "<text> [$<hex code>/<code>]"   "<text> [no error code]"
//
// <text> is the processed custom text (the table-text marker replaced by the code's table text;
// an empty text is the table text) tidied to its lines. The component text is the component's
// name ("<unnamed <class> instance>" without one); for a field the component text of its dataset
// followed by " (FieldName: <full name>)"; "<nil pointer>" for none.
//
// Building one never raises anything but the run time's out-of-memory error: a custom-information
// block that cannot be read is ignored, a format that does not fit its arguments shows the format
// text itself, and the code is any unsigned 32-bit value. Every constructor ends by clearing the
// calling thread's last converted exception, so the server text it may have taken is used once.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/zfllException.h"
#include "platform/db/dbConsts.h"
#include "platform/db/dbFields.h"
#include "platform/rtl/rtlComponent.h"

namespace zf {

// What a client exception names: a component, a field (named through its dataset) or nothing.
class TzfErrorSource {
 public:
  TzfErrorSource(std::nullptr_t = nullptr) {}
  TzfErrorSource(const rtl::TComponent* aComponent) : FComponent(aComponent) {}
  TzfErrorSource(const db::TField* aField) : FField(aField), FIsField(aField != nullptr) {}

  const rtl::TComponent* Component() const { return FComponent; }
  const db::TField* Field() const { return FField; }
  bool IsField() const { return FIsField; }

 private:
  const rtl::TComponent* FComponent = nullptr;
  const db::TField* FField = nullptr;
  bool FIsField = false;
};

class EzfDatabaseError : public db::EDatabaseError, public IzfBaseException {
 public:
  // Code only: the thread's last converted text when its code is aErrorCode and it is not
  // empty (the server's detailed message), else the code's table text.
  EzfDatabaseError(TzfErrorSource aComponent, uint32_t aErrorCode);
  explicit EzfDatabaseError(uint32_t aErrorCode);
  // Code with a custom text, or with a format and its arguments.
  EzfDatabaseError(TzfErrorSource aComponent, uint32_t aErrorCode, UnicodeStringView aAltMsg);
  EzfDatabaseError(uint32_t aErrorCode, UnicodeStringView aAltMsg);
  EzfDatabaseError(TzfErrorSource aComponent, uint32_t aErrorCode, UnicodeStringView aFormat,
                   rtl::FormatArgs aArgs);
  EzfDatabaseError(uint32_t aErrorCode, UnicodeStringView aFormat, rtl::FormatArgs aArgs);
  // No code: a custom text, or a format and its arguments (resource strings are plain texts here).
  EzfDatabaseError(TzfErrorSource aComponent, UnicodeStringView aMsg);
  explicit EzfDatabaseError(UnicodeStringView aMsg);
  EzfDatabaseError(TzfErrorSource aComponent, UnicodeStringView aFormat, rtl::FormatArgs aArgs);
  EzfDatabaseError(UnicodeStringView aFormat, rtl::FormatArgs aArgs);

  EzfDatabaseError(const EzfDatabaseError&) = default;
  EzfDatabaseError& operator=(const EzfDatabaseError&) = default;
  ~EzfDatabaseError() override = default;

  const char* ClassName() const noexcept override { return "EzfDatabaseError"; }

  // The code's text from the engine's message table.
  static UnicodeString ErrorCodeToText(uint32_t aErrorCode) { return zfErrorCodeToText(aErrorCode); }
  // The text that names aComponent in the message (see above).
  static UnicodeString ComponentText(TzfErrorSource aComponent);

  // IzfBaseException
  uint32_t GetErrorCode() const override { return deErrorCode; }
  UnicodeString GetErrorString() const override { return deErrorString; }
  UnicodeString GetProcessedErrorString() const override;
  bool GetExtendedMsg() const override { return deExtendedMsg; }
  uint32_t GetOSError() const override { return deOSError; }
  // The custom informations (the list exists from the first call on).
  TzfCustomInfos& GetCustomInfos() override;
  // The exception data; an empty container named "ExceptionData" is made on the first call when
  // the message carried none, and the same one is answered afterwards.
  TzfExceptionDataRef GetExceptionData() override;

  uint32_t ErrorCode() const { return deErrorCode; }
  const TzfCustomInfos& CustomInfos() const { return deCustomInfos; }
  bool HasCustomInfos() const { return deHasCustomInfos; }

 private:
  void BuildFromCode(const TzfErrorSource* aComponent, uint32_t aErrorCode);
  void BuildFromText(const TzfErrorSource* aComponent, bool aHasCode, UnicodeStringView aText);
  void Finish(const TzfErrorSource* aComponent, bool aHasCode);

  uint32_t deErrorCode = 0;
  UnicodeString deErrorString;
  bool deExtendedMsg = false;
  TzfCustomInfos deCustomInfos;
  bool deHasCustomInfos = false;
  uint32_t deOSError = 0;
  TzfExceptionDataRef deExceptionData;
};

}  // namespace zf
