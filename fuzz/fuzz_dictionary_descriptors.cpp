// Fuzzes the readers of the key, index, storage, default-value and validation descriptors. The
// first input byte chooses the descriptor; the rest is its part of a dictionary stream, read into
// a fresh descriptor inside a small table (an Int32, a ShortString and a WideString field, three
// files). Damaged input may only fail with the run time's or the engine's exceptions, never crash,
// hang or allocate beyond the input.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "dictionary/zfsdDefaultValueDescriptor.h"
#include "dictionary/zfsdStartup.h"
#include "dictionary/zfsdValidationDescriptor.h"
#include "platform/rtl/rtlException.h"
#include "tests/dictionary/zfsdTestTable.h"

namespace {

using namespace zf;

void ReadInto(TzfDictionaryItem& aItem, const uint8_t* aData, size_t aSize) {
  TzfStaticMemoryStream s(const_cast<uint8_t*>(aData), static_cast<int32_t>(aSize));
  TzfReader r(s);
  aItem.LoadFromReader(r);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zfStartDictionary();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 1 || aSize > (1u << 20)) return 0;
  test::TTestTable table(3);
  test::AddTestField(*table.Fields, u"I", zftInt32);
  test::AddTestField(*table.Fields, u"S", zftShortString, 10);
  test::AddTestField(*table.Fields, u"W", zftWideString, 10);
  const uint8_t* p = aData + 1;
  const size_t n = aSize - 1;
  try {
    switch (aData[0] % 8) {
      case 0: ReadInto(*table.Indices, p, n); break;
      case 1: { TzfCompKeyDescriptor k(table.Indices.get()); ReadInto(k, p, n); k.GetKeyLength(); break; }
      case 2: { TzfHeapRecordDescriptor d(&table, "Record"); ReadInto(d, p, n); break; }
      case 3: { TzfHeapBlobDescriptor d(&table, "Blob"); ReadInto(d, p, n); break; }
      case 4: { TzfAdvAutoIncDescriptor d(&table, "AutoInc"); ReadInto(d, p, n); break; }
      case 5: {
        auto* list = table.Fields->FieldDescriptor[0]->EnsureValidations();
        ReadInto(*list, p, n);
        break;
      }
      case 6: {
        auto* d = table.Fields->FieldDescriptor[1]->AddDefaultValue(nullptr);
        ReadInto(*d, p, n);
        break;
      }
      default: {
        auto* list = table.Fields->EnsureValidations();
        ReadInto(*list, p, n);
        break;
      }
    }
  } catch (const rtl::Exception&) {
  }
  return 0;
}
