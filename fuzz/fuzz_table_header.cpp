// Fuzzes opening a table file: block 0 of either version with its section directory, then the
// block checks and the whole-file iteration over the rest of the file. A damaged file must be
// refused with an engine error code, never crash, hang or read outside a block; a header that
// opens must keep a valid section directory when a section is added to it.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/zfllException.h"
#include "storage/zfseHeaderAccess.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrStartup.h"

namespace {

const std::string& FuzzFile() {
  static const std::string path = "/tmp/zfsr_fuzz_header_" + std::to_string(::getpid()) + ".dvl7";
  return path;
}

bool WriteFile(const uint8_t* aData, size_t aSize) {
  const int fd = ::open(FuzzFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < aSize) {
    const ssize_t n = ::pwrite(fd, aData + done, aSize - done, static_cast<off_t>(done));
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == aSize;
}

void ExerciseSections(zf::TzfBaseFile& aFile, std::vector<uint8_t> aBlock) {
  if (aFile.fiHeaderSignature != zf::zfHeaderSignature2) return;
  zf::Tzf2xFileHeaderAccess access(aFile, true, nullptr);
  access.Header = aBlock.data();
  for (const char* name : {"Stream", "SubHeaders", "AutoInc"}) {
    try {
      access.RegisterHeaderSection(name, 8, false, false);
    } catch (const zf::EzfBaseException&) {
    }
  }
  try {
    access.RegisterHeaderSection("FuzzSection", 16, true, false);
  } catch (const zf::EzfBaseException&) {
    return;
  }
  // The directory written must still read as valid.
  zf::zf2xCheckSectionDirectory(aBlock.data(), aFile.fiBlockSizeBytes);
  access.Header = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = [] {
    zf::zfStartStorage();
    return true;
  }();
  (void)started;
  if (!WriteFile(aData, aSize)) return 0;
  std::unique_ptr<zf::TzfBaseFile> file = zf::TzfBaseFile::Alloc(true, zf::rtl::u16(FuzzFile()), nullptr);
  try {
    file->OpenFile(zf::omReadOnly, zf::smShared, false, false);
  } catch (const zf::EzfBaseException&) {
    ::unlink(FuzzFile().c_str());
    return 0;
  }
  // The open descriptors keep the data; the name goes at once, so no run leaves a file behind.
  ::unlink(FuzzFile().c_str());
  try {
    bool readOnly = false;
    if (file->ReadHeader({}, readOnly) == 0) {
      // An exact-size copy of block 0, so any read past it is caught by the sanitizer.
      std::vector<uint8_t> block(file->PhysicalBlockBytes());
      file->ReadFileExactAt(0, static_cast<uint32_t>(block.size()), block.data());
      ExerciseSections(*file, block);
      zf::TzfBaseFileHeaderAccessFactory& factory = *file->fiHeaderAccessFactory;
      file->fiMaxID = 1000;
      file->IterateBlocks(nullptr, [&](void*, zf::TzfBlockNumber aNumber, zf::PzfBlock aBlock,
                                       const zf::TzfBlockReadFailure*) {
        if (!aBlock) return zf::birContinue;
        const int32_t id = factory.GetID(aBlock);
        try {
          factory.ValidateBlock(aBlock, aNumber);
        } catch (const zf::EzfBaseException&) {
        }
        try {
          factory.VerifyID(aBlock, aNumber, id);
        } catch (const zf::EzfBaseException&) {
        }
        return aNumber < 64 ? zf::birContinue : zf::birStop;
      });
    }
  } catch (const zf::EzfBaseException&) {
  }
  file->CloseFile();
  return 0;
}
