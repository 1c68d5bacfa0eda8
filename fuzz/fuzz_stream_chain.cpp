// Stream chains and the stream map read from a damaged table file: a clean version-2 file with a
// dictionary stream, a map and two named streams (one of three blocks) is made by the engine; the
// input is XORed onto the stream engine's header section and onto blocks 1.., then every stream is
// listed and read, and (by the first input byte) one is rewritten or deleted and committed. Every
// failure must be a coded engine error; no loop, no huge allocation, no read outside a block.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/zfllStreams.h"
#include "platform/rtl/rtlStringList.h"
#include "storage/zfseStreamEngineSimple.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrStartup.h"
#include "zfsrFuzzMemFile.h"

using namespace zf;
using namespace zf::fuzz;

namespace {

struct TClean {
  std::vector<uint8_t> Image;
  uint16_t Section = 0;
};

void Put(TzfBaseStreamEngine& aEngine, TzfBaseTransaction* aTrans, const char16_t* aName, size_t aSize, char aFill) {
  TzfMemoryStream ms;
  const std::string s(aSize, aFill);
  ms.WriteBuffer(s.data(), int64_t(s.size()));
  aEngine.WriteNamedStream(aTrans, aName, ms);
}

const TClean& Clean(TzfBufferManager& aBM) {
  static TClean clean = [&] {
    TClean c;
    TFuzzMemFile f;
    f.fiName = u"/tmp/fuzz_stream.dvl7";
    f.fiBufMgr = &aBM;
    f.fiZofrinVersion = 30900;
    f.fiMaxBlocks = 1u << 16;
    f.fiStreamEngineName = u"zf1xDefault";
    {
      TFuzzTrans t(&aBM);
      f.AddHeader(&t, {}, zfHeaderSignature2);
      TzfBlockAccess access(&f, nullptr, u"fuzz", 0);
      auto engine = TzfBaseStreamEngine::CreateEngine(nullptr, &access, &t);
      Put(*engine, &t, u"DICT", 100, 'd');
      Put(*engine, &t, u"Notes", 9000, 'n');
      Put(*engine, &t, u"$TableName", 5, 't');
      c.Section = dynamic_cast<TzfSimpleStreamEngine&>(*engine).seHeaderSection;
      t.Commit();
    }
    aBM.RemoveFile(&f);
    c.Image = f.Disk;
    return c;
  }();
  return clean;
}

void ReadAll(TzfBaseStreamEngine& aEngine, TzfBaseTransaction* aTrans) {
  rtl::TStringList names;
  aEngine.GetNamedStreamList(aTrans, names);
  uint32_t count = 0;
  aEngine.GetNamedStreamCount(aTrans, count);
  for (int32_t i = 0; i < names.Count(); ++i) {
    TzfMemoryStream ms;
    try {
      aEngine.ReadNamedStream(aTrans, names.Get(i), ms);
    } catch (const EzfBaseException&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = (zfStartStorage(), true);
  (void)started;
  TzfBufferManager bm(u"/tmp");
  const TClean& clean = Clean(bm);
  TFuzzMemFile file;
  file.fiName = u"/tmp/fuzz_stream.dvl7";
  file.fiBufMgr = &bm;
  file.Disk = clean.Image;
  if (aSize < 1) return 0;
  const uint8_t ops = aData[0];
  // Input after the first byte: 8 bytes onto the header section, then blocks 1.. in order.
  size_t pos = 1;
  for (uint32_t i = 0; i < 8 && pos < aSize; ++i) file.Disk[clean.Section + i] ^= aData[pos++];
  for (size_t at = 4096; at < file.Disk.size() && pos < aSize; ++at) file.Disk[at] ^= aData[pos++];
  if (!AttachFuzzFile(bm, file)) return 0;
  {
    TzfBlockAccess access(&file, nullptr, u"fuzz", 0);
    std::unique_ptr<TzfBaseStreamEngine> engine;
    try {
      engine = TzfBaseStreamEngine::CreateEngine(nullptr, &access, nullptr);
      ReadAll(*engine, nullptr);
    } catch (const EzfBaseException&) {
    }
    if (engine && (ops & 3)) {
      TFuzzTrans t(&bm);
      try {
        const char16_t* name = (ops & 4) ? u"DICT" : u"Notes";
        if ((ops & 3) == 1) {
          engine->DeleteNamedStream(&t, name);
        } else {
          Put(*engine, &t, name, (ops >> 3) * 700u, 'x');
        }
        ReadAll(*engine, &t);
        if (ops & 0x80) {
          t.Commit();
          ReadAll(*engine, nullptr);
        } else {
          t.Rollback();
        }
      } catch (const EzfBaseException&) {
        try {
          t.Rollback();
        } catch (const EzfBaseException&) {
        }
      }
    }
  }
  bm.RemoveFile(&file);
  return 0;
}
