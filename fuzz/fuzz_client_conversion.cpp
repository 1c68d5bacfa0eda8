// Fuzzes the conversion of engine record bytes into the framework's fields, the path salvaged
// records take to the tool's copy-back. Input: engine field type, units (2 bytes), decimals, a
// byte choosing the storage code page and whether the bound string field translates, then the
// field's bytes in the record (cut or filled with zeros to the field's length). Every type of
// the engine is read into a buffer exactly as big as the framework field's value, then written
// back into a record field exactly as big as the engine's: a damaged length or a missing
// terminator must never make a conversion read or write outside either, and failures may only be
// the engine's or the run time's exceptions.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "client/zfdbConversion.h"
#include "client/zfdbStartup.h"
#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFieldDescriptor.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdLocaleDescriptor.h"
#include "platform/db/dbFields.h"
#include "platform/rtl/rtlException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = (zf::zfStartClient(), true);
  (void)started;
  if (aSize < 5) return 0;
  static const uint16_t kCodePages[] = {0, 850, 1251, 932, 65001};
  const auto type = static_cast<zf::TzfFieldType>(aData[0] % zf::zfFieldTypeCount);
  const int32_t units = (aData[1] | (aData[2] << 8)) % 2048;
  const int32_t decimals = static_cast<int8_t>(aData[3]);
  const uint16_t codePage = kCodePages[(aData[4] & 0x7F) % 5];
  const bool transliterate = (aData[4] & 0x80) == 0;

  zf::TzfDataDictionary dict;
  zf::TzfFieldDescriptor* fd = nullptr;
  try {
    if (codePage != 0) {
      zf::TzfLocaleDescriptor* locale = dict.AddLocaleDescriptor(nullptr);
      locale->SetLocale(0x0407);
      locale->ldOverrideStorageCodepage = codePage;
    }
    fd = dict.tdFieldsDescriptor->AddField(u"F", u"", type, units, decimals, false, nullptr);
  } catch (const zf::rtl::Exception&) {
    return 0;
  }

  zf::db::TFieldType vclType;
  uint16_t vclSize;
  zf::db::TFieldAttributes attributes;
  zf::TzfBaseVclFieldMapper::MapZofrinDescriptorToVcl(*fd, vclType, vclSize, attributes);
  const zf::db::TFieldFactory factory = zf::db::DefaultFieldClass(vclType);
  if (!factory) __builtin_trap();  // every engine type shows as a framework field
  std::unique_ptr<zf::db::TField> field = factory();
  field->SetSize(vclSize);
  if (auto* text = dynamic_cast<zf::db::TStringField*>(field.get())) text->SetTransliterate(transliterate);
  // BLOB fields show no value of their own: the dataset keeps their 8-byte BLOB number.
  const size_t vclLength = field->IsBlob() ? 8 : static_cast<size_t>(field->DataSize());

  zf::TzfVclMapperMethod toVcl, toZofrin;
  std::unique_ptr<zf::TzfBaseVclFieldMapper> mapper;
  try {
    mapper = zf::TzfBaseVclFieldMapper::GetMapperForDescriptor(*fd, toVcl, toZofrin);
  } catch (const zf::rtl::Exception&) {
    return 0;
  }
  if (!toVcl.IsSet() || !toZofrin.IsSet()) __builtin_trap();
  if (mapper) mapper->Bind(field.get());

  // Exact-size buffers, so any access outside them is caught by the sanitizer.
  std::vector<uint8_t> record(aData + 5, aData + 5 + std::min<size_t>(aSize - 5, static_cast<size_t>(fd->fdLength)));
  record.resize(static_cast<size_t>(fd->fdLength));
  std::vector<uint8_t> vcl(vclLength);
  try {
    toVcl(record.data(), vcl.data());
  } catch (const zf::rtl::Exception&) {
    return 0;
  }
  std::vector<uint8_t> back(static_cast<size_t>(fd->fdLength));
  try {
    toZofrin(vcl.data(), back.data());
  } catch (const zf::rtl::Exception&) {
  }
  return 0;
}
