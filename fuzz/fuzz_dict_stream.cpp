// Fuzzes reading a "DICT" stream into a data dictionary. A damaged stream must be refused with an
// engine error code (leaving the dictionary at its defaults), never crash, hang, leak or allocate
// beyond what the input can hold. A stream that reads must give a record layout that holds its
// fields, and must also write back for the current client and read again equal.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdStartup.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllException.h"
#include "foundation/zfllStreams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = [] {
    zf::zfStartDictionary();
    return true;
  }();
  (void)started;
  // An exact-size copy, so any read past the stream is caught by the sanitizer.
  std::vector<uint8_t> bytes(aData, aData + aSize);
  zf::TzfStaticMemoryStream stream(bytes.data(), static_cast<int32_t>(bytes.size()));
  zf::TzfDataDictionary dict;
  try {
    dict.ReadFromStream(stream, u"Fuzz");
  } catch (const zf::EzfBaseException&) {
    return 0;
  }
  // The record layout the stream gave must hold every field and its null bit inside a buffer of
  // exactly the record length.
  if (zf::TzfFieldsDescriptor* fields = dict.tdFieldsDescriptor.get()) {
    std::vector<uint8_t> record(static_cast<size_t>(fields->GetRecordLength()));
    fields->InitRecord(record.data());
    for (int32_t i = 0; i < fields->FieldCount; ++i) {
      fields->SetRecordFieldNull(i, record.data(), true);
      fields->SetRecordFieldNull(i, record.data(), false);
      bool isNull = false;
      fields->GetRecordField(i, record.data(), isNull, nullptr);
    }
  }
  zf::TzfMemoryStream out(-1);
  try {
    dict.WriteToStream(out, zf::zfEngineVersion);
  } catch (const zf::EzfBaseException&) {
    // A stream may hold what the writer refuses (a stored default that no longer fits its field).
    return 0;
  }
  out.SetPosition(0);
  zf::TzfDataDictionary again;
  again.ReadFromStream(out, u"Fuzz");
  if (!again.IsEqual(&dict)) __builtin_trap();
  return 0;
}
