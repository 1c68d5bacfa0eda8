// Fuzzes reading a "DICT" stream whose table carries full-text descriptors: a full-text index with
// nested extractor hubs, every filter kind, a bit-array token index with both B*-trees and a
// main-index token index. A damaged stream must be refused with an engine error code, never crash,
// hang, leak or allocate beyond what the input holds; a stream that reads must write back and
// read again equal.
//
// Seeds: run with ZF_FUZZ_WRITE_SEEDS=<folder> and the target writes the stream of its sample
// dictionary there ("fulltext_sample").
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "dictionary/zfsdDataDictionary.h"
#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdIndexDescriptor.h"
#include "dictionary/zfsdStartup.h"
#include "foundation/zfllConst.h"
#include "foundation/zfllException.h"
#include "foundation/zfllStreams.h"

namespace {

std::vector<uint8_t> SampleStream() {
  using namespace zf;
  TzfDataDictionary dict;
  dict.ddBaseName = u"Fuzz";
  TzfFieldsDescriptor& f = *dict.tdFieldsDescriptor;
  f.AddField(u"ID", u"", zftAutoInc, 0, 0, false, nullptr);
  f.AddField(u"Msg", u"", zftWideString, 40, 0, false, nullptr);
  f.AddField(u"Name", u"", zftShortString, 20, 0, false, nullptr);
  dict.AddRecordDescriptor(nullptr);
  TzfMainIndicesDescriptor* ix = dict.EnsureIndicesDescriptor();
  dynamic_cast<TzfCompKeyDescriptor*>(ix->AddIndex(u"ByID", 0, idNone, u"")->idKeyDescriptor.get())->Add(0);
  ix->AddIndex(u"Tokens", 0, idAll, u"", &TzfMainIndexTokenKeyDescriptor::ClassInfo());
  TzfFulltextDescriptor* fulltext = zfEnsureFulltextDescriptor(dict);
  TzfFulltextIndexDescriptor* body = fulltext->AddFulltextIndex(u"Body");
  body->AddFieldTokenExtractor(1)->AddTokenFilter(u"Space");
  body->AddTokenExtractorHub(u"Nested")->AddFieldTokenExtractor(2, u"N");
  body->AddTokenFilter(u"Words", &TzfCategorySeparatorTokenFilterDescriptor::ClassInfo());
  body->AddTokenFilter(u"Lower", &TzfLowercaseLocaleMappingTokenFilterDescriptor::ClassInfo());
  body->AddTokenFilter(u"Upper", &TzfUppercaseLocaleMappingTokenFilterDescriptor::ClassInfo());
  dynamic_cast<TzfCustomLocaleMappingTokenFilterDescriptor*>(
      body->AddTokenFilter(u"Map", &TzfCustomLocaleMappingTokenFilterDescriptor::ClassInfo()))
      ->SetFlags(0x100);
  body->AddTokenFilter(u"Pre", &TzfPreComposeFoldStringTokenFilterDescriptor::ClassInfo());
  body->AddTokenFilter(u"Dec", &TzfDecomposeFoldStringTokenFilterDescriptor::ClassInfo());
  dynamic_cast<TzfCustomFoldStringTokenFilterDescriptor*>(
      body->AddTokenFilter(u"Fold", &TzfCustomFoldStringTokenFilterDescriptor::ClassInfo()))
      ->SetFlags(0x20);
  auto* bits = dynamic_cast<TzfBitArrayTokenIndexDescriptor*>(body->AddTokenIndex(u"Bits"));
  bits->SetPerFieldIndex(true);
  bits->SetSegmentIndex(true);
  bits->AddIndex(0);
  bits->AddReverseIndex(0);
  auto* main = dynamic_cast<TzfMainIndexTokenIndexDescriptor*>(
      body->AddTokenIndex(u"Main", &TzfMainIndexTokenIndexDescriptor::ClassInfo()));
  main->SetMainIndexNumber(2);
  main->AddTokenFilter(u"Own");
  dict.CheckValid(false);
  TzfMemoryStream out(-1);
  dict.WriteToStream(out, zfEngineVersion);
  const auto* p = static_cast<const uint8_t*>(out.Memory());
  return std::vector<uint8_t>(p, p + out.Size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = [] {
    zf::zfStartDictionary();
    if (const char* folder = std::getenv("ZF_FUZZ_WRITE_SEEDS")) {
      const std::vector<uint8_t> seed = SampleStream();
      std::ofstream(std::string(folder) + "/fulltext_sample", std::ios::binary)
          .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
    }
    return true;
  }();
  (void)started;
  std::vector<uint8_t> bytes(aData, aData + aSize);
  zf::TzfStaticMemoryStream stream(bytes.data(), static_cast<int32_t>(bytes.size()));
  zf::TzfDataDictionary dict;
  try {
    dict.ReadFromStream(stream, u"Fuzz");
  } catch (const zf::EzfBaseException&) {
    return 0;
  }
  zf::TzfMemoryStream out(-1);
  try {
    dict.WriteToStream(out, zf::zfEngineVersion);
  } catch (const zf::EzfBaseException&) {
    return 0;
  }
  out.SetPosition(0);
  zf::TzfDataDictionary again;
  again.ReadFromStream(out, u"Fuzz");
  if (!again.IsEqual(&dict)) __builtin_trap();
  return 0;
}
