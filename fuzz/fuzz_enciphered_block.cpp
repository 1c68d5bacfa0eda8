// Fuzzes reading enciphered table bytes: the engine's 48-byte area of block 0 checked against the
// passwords given (first byte 1), or one enciphered block deciphered and checked against its
// trailer (first byte 0; the rest is the block, any length). Damaged input must be refused with an
// engine error code (10015 for a header area no password opens, 8962 for a block whose trailer
// does not match), never crash or read outside the bytes given.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "storage/zfseEncryptionEngineBlowfishRC4.h"
#include "storage/zfsrStartup.h"

namespace {

// Area of a table on the built-in password whose data key is A0h..AFh (the seed blocks' key).
const uint8_t kArea[48] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                           0x0C, 0x0D, 0x0E, 0x0F, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22,
                           0x90, 0x39, 0x19, 0x6E, 0x34, 0x9D, 0x70, 0xA5, 0x16, 0x69, 0xBA, 0x17,
                           0x96, 0xEC, 0x58, 0x9E, 0x84, 0x4D, 0xAB, 0xDB, 0xBE, 0x34, 0xE6, 0xA0};

zf::TzfBaseEncryptionEngine& Engine() {
  static std::unique_ptr<zf::TzfBaseEncryptionEngine> engine = [] {
    std::vector<uint8_t> area(kArea, kArea + 48);
    std::unique_ptr<zf::TzfBaseEncryptionEngine> e;
    if (zf::TzfBaseEncryptionEngine::CreateEngine(u"zf1xDefault", {}, area.data(), false, false, e) != 0) __builtin_trap();
    return e;
  }();
  return *engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const bool started = [] {
    zf::zfStartStorage();
    return true;
  }();
  (void)started;
  if (aSize < 1) return 0;
  const uint8_t mode = aData[0];
  ++aData;
  --aSize;
  if (mode == 1) {
    if (aSize < 48) return 0;
    std::vector<uint8_t> area(aData, aData + 48);
    // Passwords: the rest split at zero bytes, each byte one character.
    zf::TzfUnicodeStrings passwords(1);
    for (size_t i = 48; i < aSize && passwords.size() < 8; ++i) {
      if (aData[i] == 0)
        passwords.emplace_back();
      else
        passwords.back().push_back(static_cast<char16_t>(aData[i]));
    }
    std::unique_ptr<zf::TzfBaseEncryptionEngine> e;
    const uint32_t r = zf::TzfBaseEncryptionEngine::CreateEngine(u"zf1xDefault", passwords, area.data(), false, true, e);
    if (r != 0 && r != zf::zfErrInvalidPassword) __builtin_trap();
    if (r == 0 && !e) __builtin_trap();
    return 0;
  }
  // The block in a buffer of exactly its size, so that any read past it is seen.
  std::unique_ptr<uint8_t[]> block(new uint8_t[aSize ? aSize : 1]);
  if (aSize) std::memcpy(block.get(), aData, aSize);
  try {
    Engine().DecodeBlock(block.get(), static_cast<uint32_t>(aSize), 1);
  } catch (const zf::EzfBaseException& e) {
    if (e.ErrorCode() != zf::zfErrFileCorrupt) __builtin_trap();
  }
  return 0;
}
