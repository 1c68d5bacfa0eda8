// Fuzzes loading the server engine's settings stream. Any input must load or be refused with an
// exception; a refused stream changes no setting of the engine; nothing crashes, hangs or leaks.
// ZF_FUZZ_WRITE_SEED=<file> writes a stream saved by the engine.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "foundation/zfllStreams.h"
#include "foundation/zfllStreamsRW.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerStartup.h"
#include "storage/zfseJournalEngine.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zf::zfStartServer();
  if (const char* seed = std::getenv("ZF_FUZZ_WRITE_SEED")) {
    zf::TzfServerEngine e;
    e.SetName(u"Engine");
    e.SetServerName(u"Main");
    e.SetMaxRAM(256);
    e.SetTempStorePath(u"/tmp");
    e.SetOptions((1u << zf::seoReadOnly) | (1u << zf::seoIsSecure));
    zf::TzfMemoryStream ms;
    {
      zf::TzfWriter w(ms);
      e.SaveSettingsToStream(w);
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(ms.GetSize()));
    ms.SetPosition(0);
    ms.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    std::ofstream(seed, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  std::vector<uint8_t> bytes(aData, aData + aSize);
  zf::TzfStaticMemoryStream stream(bytes.data(), static_cast<int32_t>(bytes.size()));
  const zf::TzfJournalEngineClass* journal = zf::zfJournalEngineClassSetting;
  zf::TzfServerEngine e;
  e.SetName(u"Engine");
  try {
    zf::TzfReader r(stream);
    e.LoadSettingsFromStream(r);
  } catch (const std::exception&) {
    if (e.MaxRAM() != -1 || e.TempStoreSize() != -1 || !e.ServerName().empty() || e.Options() != 0) __builtin_trap();
  }
  zf::zfJournalEngineClassSetting = journal;
  return 0;
}
