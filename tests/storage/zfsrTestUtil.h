// Shared helpers of the storage tests: the started storage layer, a private folder per test,
// building table files through the engine, and the outcome of a call as text.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/zfllException.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlText.h"
#include "storage/zfsrFile.h"
#include "storage/zfsrFileImpl.h"
#include "storage/zfsrStartup.h"
#include "tests/foundation/zfTempFolder.h"

namespace zf::test {

// Runs f and gives "ok", or "#code: message" for engine exceptions, "!class: message" otherwise.
inline rtl::UnicodeString StorageOutcome(const std::function<void()>& f) {
  try {
    f();
    return u"ok";
  } catch (const EzfBaseException& e) {
    return u"#" + rtl::IntToStr(e.ErrorCode()) + u": " + e.Message();
  } catch (const rtl::Exception& e) {
    return u"!" + rtl::u16(e.ClassName()) + u": " + e.Message();
  }
}

// The code of the engine exception f raises (0 when it raises none).
inline uint32_t RaisedCode(const std::function<void()>& f) {
  try {
    f();
  } catch (const EzfBaseException& e) {
    return e.ErrorCode();
  }
  return 0;
}

class StorageStarted : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { zfStartStorage(); }
  static void TearDownTestSuite() { zfStopStorage(); }
};

// A private folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() : Path(MakeTempFolder("zfsr_")) {}
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  rtl::UnicodeString File(const std::string& aName) const { return rtl::u16((Path / aName).string()); }
  std::string FilePath(const std::string& aName) const { return (Path / aName).string(); }

  std::filesystem::path Path;
};

// Creates a table file with a fresh block 0 in the given format, written with the direct write
// path, and closes it. aPrepare may set fields of the file before the header is made.
inline void CreateTableFile(const rtl::UnicodeString& aName, const TzfBlockSignature& aSignature,
                            TzfBlockSize aBlockSize = TzfBlockSize::zfbs4k,
                            const std::function<void(TzfBaseFile&)>& aPrepare = {}) {
  std::unique_ptr<TzfBaseFile> file = TzfBaseFile::Alloc(true, aName, nullptr);
  file->fiBlockSize = aBlockSize;
  if (aPrepare) aPrepare(*file);
  file->OpenFile(omReadWrite, smExclusive, false, true);
  std::vector<uint8_t> block(file->PhysicalBlockBytes());
  zfRaiseIfError(file->InitHeader(block.data(), {}, aSignature));
  TzfByteDynArray cookie;
  file->WriteEncryptFileExactAt(0, file->PhysicalBlockBytes(), block.data(), cookie);
  file->CloseFile();
}

}  // namespace zf::test
