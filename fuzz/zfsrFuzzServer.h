// A server engine on a temporary folder of its own, for the fuzz targets that drive whole tables:
// made once in LLVMFuzzerInitialize, taken down at exit. A set-up step that fails traps: the target
// cannot run without it.
#pragma once
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerStartup.h"

namespace zf::fuzz {

struct TFuzzServer {
  std::filesystem::path Dir;
  TzfServerEngine* Engine = nullptr;
  TzfAbstractSession* Session = nullptr;  // with OpenDatabase only
  TzfAbstractDatabase* Db = nullptr;      // with OpenDatabase only

  // Starts the server, makes the folder "<temp>/<aPrefix><pid>" and opens an engine of 32 MiB
  // without a temporary store. With aInMemory the folder is made on the memory file system
  // (/dev/shm) where there is one, so that the table files never wait for a disk.
  void Start(const std::string& aPrefix, bool aInMemory = false) {
    zfStartServer();
    std::error_code ec;
    const std::filesystem::path shm("/dev/shm");
    const std::filesystem::path base =
        aInMemory && std::filesystem::is_directory(shm, ec) ? shm : std::filesystem::temp_directory_path();
    Dir = base / (aPrefix + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
    Engine = new TzfServerEngine();
    Engine->SetName(u"FuzzEngine");
    Engine->SetMaxRAM(32);
    Engine->SetTempStoreSize(0);
    Engine->Open();
  }
  // A session "fuzz" that says it is client aClientVersion, and a database by path on the folder.
  void OpenDatabase(int32_t aClientVersion) {
    if (Engine->SessionOpenEx(Session, u"fuzz", u"", u"fuzz", 10000, aClientVersion) != 0) __builtin_trap();
    if (Session->DatabaseOpen(Db, u"Path", rtl::u16(Dir.string()), nullptr, omReadWrite, smShared, 10000) != 0)
      __builtin_trap();
  }
  // Frees the database, the session and the engine, and removes the folder.
  void Stop() {
    if (Db) Db->Free();
    if (Session) Session->Free();
    delete Engine;
    Db = nullptr;
    Session = nullptr;
    Engine = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
};

inline void WriteFile(const std::filesystem::path& aPath, const uint8_t* aData, size_t aSize) {
  std::ofstream o(aPath, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(aData), static_cast<std::streamsize>(aSize));
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& aPath) {
  std::ifstream i(aPath, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(i), {});
}

}  // namespace zf::fuzz
