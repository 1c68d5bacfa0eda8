// Fuzzes the building of the client exception from texts that come from outside: the server's
// converted message (taken by the code-only forms), custom texts with custom-information blocks
// and table-text markers, and the values of "OSError" and "$ExceptionData$" blocks.
// Input: 4 bytes of error code, 1 byte choosing the component, then text bytes (each one UTF-16
// unit, so "þ" is 0xFE); a 0xFF byte in the text separates the message from a custom-information
// name and value (split at the next 0xFF), which are added as a block of their own.
// Building must never raise anything and always give a message.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "client/zfdbBase.h"
#include "client/zfdbStartup.h"
#include "platform/db/dbFields.h"
#include "platform/rtl/rtlComponent.h"

namespace {

std::u16string Units(const uint8_t* aData, size_t aSize) {
  std::u16string s;
  for (size_t i = 0; i < aSize; ++i) s.push_back(static_cast<char16_t>(aData[i]));
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = (zf::zfStartClient(), true);
  (void)started;
  if (aSize < 5) return 0;
  uint32_t code;
  std::memcpy(&code, aData, 4);
  const uint8_t selector = aData[4];
  const uint8_t* text = aData + 5;
  const size_t textSize = aSize - 5;

  const uint8_t* split = static_cast<const uint8_t*>(std::memchr(text, 0xFF, textSize));
  std::u16string message = Units(text, split ? static_cast<size_t>(split - text) : textSize);
  if (split) {
    const uint8_t* rest = split + 1;
    const size_t restSize = textSize - static_cast<size_t>(rest - text);
    const uint8_t* eq = static_cast<const uint8_t*>(std::memchr(rest, 0xFF, restSize));
    const std::u16string name = Units(rest, eq ? static_cast<size_t>(eq - rest) : restSize);
    const std::u16string value = eq ? Units(eq + 1, restSize - static_cast<size_t>(eq + 1 - rest)) : u"";
    message += zf::zfEncodeCustomInfo(name, value);
  }

  zf::rtl::TComponent component;
  if (selector & 1) component.SetName(u"Table1");
  zf::db::TStringField field;
  field.SetFieldName(u"Name");
  zf::TzfErrorSource source;
  switch (selector % 3) {
    case 0: break;
    case 1: source = &component; break;
    default: source = &field; break;
  }
  try {
    zf::EzfBaseException::SetLastConvertedException(code, message);
    zf::EzfDatabaseError fromServer(source, code);
    zf::EzfDatabaseError altMsg(code, message);
    zf::EzfDatabaseError noCode(source, message);
    zf::EzfDatabaseError formatted(source, code, u"%s", {message});
    for (zf::EzfDatabaseError* e : {&fromServer, &altMsg, &noCode, &formatted}) {
      if (e->Message().empty()) __builtin_trap();
      (void)e->GetProcessedErrorString();
      (void)e->CustomInfos().Lines();
      (void)e->GetExceptionData();
    }
  } catch (...) {
    __builtin_trap();
  }
  return 0;
}
