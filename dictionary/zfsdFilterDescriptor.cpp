#include "dictionary/zfsdFilterDescriptor.h"

#include <exception>
#include <string>

#include "foundation/zfllConvertException.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"

namespace zf {

namespace {

// Class names are identifiers: ASCII both ways; anything else cannot name a registered class.
std::string ToAsciiName(UnicodeStringView aName) {
  std::string r;
  r.reserve(aName.size());
  for (char16_t c : aName) r.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return r;
}

UnicodeString FromStoredName(const std::string& aBytes) {
  UnicodeString r;
  r.reserve(aBytes.size());
  for (unsigned char c : aBytes) r.push_back(static_cast<char16_t>(c));
  return r;
}

}  // namespace

const TzfFilterDescriptorClass& TzfBaseFilterDescriptor::ClassInfo() {
  static const TzfFilterDescriptorClass info(u"TzfBaseFilterDescriptor", &TzfBaseRegisterableDescriptor::ClassInfo(),
                                             nullptr, &zfFamilyList<TzfBaseFilterDescriptor>);
  return info;
}

void TzfBaseFilterDescriptor::RegisterFilterDescriptor(const TzfFilterDescriptorClass& aClass,
                                                       UnicodeStringView aName) {
  RegisterDescriptor(aClass, aName);
}

void TzfBaseFilterDescriptor::UnregisterFilterDescriptor(const TzfFilterDescriptorClass& aClass) {
  UnregisterDescriptor(aClass);
}

uint32_t TzfBaseFilterDescriptor::CreateFromStream(rtl::TStream& aStream,
                                                   std::unique_ptr<TzfBaseFilterDescriptor>& aFilter) {
  aFilter.reset();
  try {
    uint8_t len = 0;
    if (aStream.Read(&len, 1) != 1) return zfErrInvalidParam;
    std::string bytes(len, '\0');
    if (len > 0 && aStream.Read(bytes.data(), len) != len) return zfErrInvalidParam;
    const UnicodeString name = FromStoredName(bytes);
    const TzfFilterDescriptorClass* cls = zfFindDescriptorClass<TzfFilterDescriptorClass>(ClassInfo(), name);
    if (!cls) cls = zfFindDescriptorClass<TzfFilterDescriptorClass>(ClassInfo(), name + u"Descriptor");
    if (!cls || !cls->CreateFromStreamProc)
      return EzfBaseException::zfSetMessage(zfErrNotSupported, u"Filter descriptor not supported: %s", {name});
    aFilter = cls->CreateFromStreamProc(aStream);
    return zfErrNone;
  } catch (...) {
    aFilter.reset();
    return zfConvertException(std::current_exception(), nullptr, nullptr);
  }
}

uint32_t TzfBaseFilterDescriptor::WriteToStream(rtl::TStream& /*aStream*/, int32_t /*aVersion*/) {
  return EzfBaseException::zfSetMessage(zfErrNotSupported, u"WriteToStream is not supported by %s",
                                        {UnicodeString(ClassName())});
}

void TzfBaseFilterDescriptor::WriteClassName(rtl::TStream& aStream) const {
  std::string name = ToAsciiName(ClassName());
  if (name.size() > 255) rtl::RaiseRangeError();  // the length byte cannot hold it
  const uint8_t len = static_cast<uint8_t>(name.size());
  aStream.WriteBuffer(&len, 1);
  if (len > 0) aStream.WriteBuffer(name.data(), len);
}

}  // namespace zf
