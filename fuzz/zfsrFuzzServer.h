// A server engine on a temporary folder of its own, for the fuzz targets that drive whole tables:
// made once in LLVMFuzzerInitialize, taken down at exit. A set-up step that fails traps: the target
// cannot run without it. While it runs the crash log is quiet: a fuzz run raises coded errors by the
// thousand, and a report of each would cost more than the input.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/zfExceptionHook.h"
#include "server/zfsrServerEngineComponent.h"
#include "server/zfsrServerStartup.h"

namespace zf::fuzz {

struct TFuzzServer {
  std::filesystem::path Dir;
  TzfServerEngine* Engine = nullptr;
  TzfAbstractSession* Session = nullptr;  // with OpenDatabase only
  TzfAbstractDatabase* Db = nullptr;      // with OpenDatabase only
  std::unique_ptr<TzfExceptionHook> QuietLog;

  // Starts the server, makes the folder "<temp>/<aPrefix><pid>" and opens an engine of 32 MiB
  // without a temporary store. With aInMemory the folder is made on the memory file system
  // (/dev/shm) where there is one, so that the table files never wait for a disk.
  void Start(const std::string& aPrefix, bool aInMemory = false) {
    zfStartServer();
    QuietLog = std::make_unique<TzfExceptionHook>(u"");
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
    QuietLog.reset();
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

// For LLVMFuzzerInitialize of a target whose every input touches thousands of edges of the engine:
// libFuzzer's entropic schedule keeps a frequency of each edge per input and then costs more than
// the input itself. Adds -entropic=0 to the command line unless it names an -entropic of its own.
inline void PlainScheduleByDefault(int* aArgc, char*** aArgv) {
  static std::vector<char*> args;
  static char flag[] = "-entropic=0";
  for (int i = 1; i < *aArgc; ++i)
    if (std::strncmp((*aArgv)[i], "-entropic=", 10) == 0) return;
  args.assign(*aArgv, *aArgv + *aArgc);
  args.insert(args.begin() + 1, flag);
  args.push_back(nullptr);
  *aArgc += 1;
  *aArgv = args.data();
}

// A file that holds a sound image with some of its bytes changed: each Apply puts back only what
// the one before changed and writes only what it changes, so an input costs its own bytes rather
// than the whole image. The descriptor stays open while the object lives (the engine's own opens and
// closes of the file are not disturbed by it).
class TPatchedFile {
 public:
  TPatchedFile(const std::filesystem::path& aPath, std::vector<uint8_t> aImage) : fImage(std::move(aImage)) {
    fFd = ::open(aPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fFd < 0) __builtin_trap();
  }
  ~TPatchedFile() { ::close(fFd); }
  TPatchedFile(const TPatchedFile&) = delete;
  TPatchedFile& operator=(const TPatchedFile&) = delete;

  const std::vector<uint8_t>& Image() const { return fImage; }
  // Changes the bytes at aOffset (cut at the image's end); a later Apply puts them back.
  void Patch(size_t aOffset, const uint8_t* aData, size_t aSize) {
    if (aOffset >= fImage.size()) return;
    aSize = std::min(aSize, fImage.size() - aOffset);
    if (aSize == 0) return;
    fDirty.push_back({aOffset, aSize});
    Write(aOffset, aData, aSize);
  }
  // Cuts the file to aSize bytes (at most the image's size).
  void Cut(size_t aSize) {
    if (aSize >= fImage.size()) return;
    if (::ftruncate(fFd, off_t(aSize)) != 0) __builtin_trap();
    fCut = true;
  }
  // The sound image again, as far as the changes since the last call reach.
  void Restore() {
    if (fCut) {
      Write(0, fImage.data(), fImage.size());
      fCut = false;
    } else {
      for (const auto& [offset, size] : fDirty) Write(offset, fImage.data() + offset, size);
    }
    fDirty.clear();
  }

 private:
  void Write(size_t aOffset, const uint8_t* aData, size_t aSize) {
    if (::pwrite(fFd, aData, aSize, off_t(aOffset)) != ssize_t(aSize)) __builtin_trap();
  }
  std::vector<uint8_t> fImage;
  std::vector<std::pair<size_t, size_t>> fDirty;
  bool fCut = false;
  int fFd = -1;
};

}  // namespace zf::fuzz
