// Fuzzes the readers of the dictionary's descriptor parts. The first input byte picks the part
// (fields, files, locale, one field) and the dictionary version; the rest is the stored part. A
// part that reads must describe a record buffer that holds every field: the record is then
// initialised and every field read and set through it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdFileDescriptor.h"
#include "dictionary/zfsdStartup.h"
#include "foundation/zfllStreams.h"

namespace {

class TFuzzDictionary : public zf::TzfDictionaryItem, public zf::IzfDictionaryRoot {
 public:
  explicit TFuzzDictionary(int32_t aVersion) : TzfDictionaryItem(nullptr), FVersion(aVersion) {}
  int32_t NextItemID() override { return ++FCurrentID; }
  void CheckDictionaryReadOnly() override {}
  int32_t DictionaryVersion() const override { return FVersion; }
  uint32_t UsableBlockSize(zf::TzfBlockSize aBlockSize) override { return zf::zfFileBlockSizeBytes(aBlockSize) - 16; }

 private:
  int32_t FVersion;
  int32_t FCurrentID = 0;
};

void ExerciseRecord(zf::TzfFieldsDescriptor& aFields) {
  std::vector<uint8_t> rec(static_cast<size_t>(aFields.GetRecordLength()));
  aFields.InitRecord(rec.data());
  for (int32_t i = 0; i < aFields.FieldCount; ++i) {
    try {
      aFields.SetRecordFieldNull(i, rec.data(), false);
      aFields.GetFieldAsVariant(rec.data(), i);
      aFields.SetFieldAsVariant(rec.data(), i, zf::rtl::Variant(int32_t{1}));
      aFields.GetFieldAsVariant(rec.data(), i);
    } catch (const zf::rtl::Exception&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = (zf::zfStartDictionary(), true);
  (void)started;
  if (aSize < 1) return 0;
  TFuzzDictionary dict((aData[0] & 0x10) ? 1 : 4);
  zf::TzfMemoryStream stream(-1);
  if (aSize > 1) stream.Write(aData + 1, static_cast<int32_t>(aSize - 1));
  stream.SetPosition(0);
  try {
    zf::TzfReader reader(stream);
    switch (aData[0] & 3) {
      case 0: {
        zf::TzfFieldsDescriptor fields(&dict);
        fields.LoadFromReader(reader);
        ExerciseRecord(fields);
        dict.ActivateCache();
        ExerciseRecord(fields);
        try {
          fields.CheckValid(false);
        } catch (const zf::rtl::Exception&) {
        }
        break;
      }
      case 1: {
        zf::TzfFilesDescriptor files(&dict);
        files.LoadFromReader(reader);
        files.CheckValid(false);
        break;
      }
      case 2: {
        zf::TzfLocaleDescriptor locale(&dict);
        locale.LoadFromReader(reader);
        locale.CheckValid(false);
        locale.GetStorageCodepage();
        break;
      }
      default: {
        zf::TzfFieldDescriptor field(&dict, u"F", u"", zf::zftInt32, 0, 0, false);
        field.LoadFromReader(reader);
        field.CheckValid(false);
        break;
      }
    }
  } catch (const zf::rtl::Exception&) {
  }
  return 0;
}
