// The table encryption engines on the Blowfish/RC4 cipher, registered as "zf1xDefault" (priority
// 0): TzfUserBlowfishRC4EncryptionEngine in the user list, TzfServerBlowfishRC4EncryptionEngine in
// the server list. They differ only in their built-in password.
//
// Every block but block 0 is enciphered under a random 16-byte data key chosen when the table is
// created. The data key lives in block 0, wrapped under a cipher keyed with a random salt followed
// by the table password (ANSI bytes in the system code page; the built-in password when the table
// has none). Changing the password wraps the data key again; no block is rewritten.
//
// Header area: 48 bytes in block 0, where the header format puts the encryption engine's area.
//   offset  size  content
//   0       16    salt: two GetRandom64 results
//   16      8     IV of the wrap: two 32-bit words (little-endian) from RandomIV
//   24      16    the data key, enciphered with the wrap cipher
//   40      8     MAC of the wrap (Final)
//
// Block trailer: the last 16 bytes of every enciphered block, after the usable part.
//   from end  size  content
//   -16       8     IV of the block: two 32-bit words from RandomIV
//   -8        8     MAC of the block (Final after the data)
// The block's first n = size - 16 bytes are enciphered; the trailer is not.
//
// Checks on read: a block whose MAC differs raises 8962 "Corrupt file - other than header."; a
// header area whose MAC no candidate password (nor the built-in one) reproduces answers 10015
// "Invalid password given.". Block 0 is never passed to the engine.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/zfllBlowfishRC4.h"
#include "foundation/zfllSync.h"
#include "storage/zfsrEncryptionEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBlowfishRC4EncryptionEngineException, EzfBaseEncryptionEngineException)

inline constexpr uint32_t kzfBfEngineHeaderSize = 48;
inline constexpr uint32_t kzfBfEngineTrailerSize = 16;
// Offsets in the header area.
inline constexpr uint32_t kzfBfHdrSalt = 0;
inline constexpr uint32_t kzfBfHdrIV = 16;
inline constexpr uint32_t kzfBfHdrKey = 24;
inline constexpr uint32_t kzfBfHdrMac = 40;

class TzfBlowfishRC4EncryptionEngine;

// A pooled cipher keyed with its engine's block key.
class TzfOwnedBlowFishRC4 : public TzfBlowFishRC4 {
 public:
  explicit TzfOwnedBlowFishRC4(TzfBlowfishRC4EncryptionEngine& aOwner);
  // Back onto the owner's pool.
  void Recycle();

 private:
  TzfBlowfishRC4EncryptionEngine& obfOwner;
};

class TzfBlowfishRC4EncryptionEngine : public TzfBaseEncryptionEngine {
 public:
  ~TzfBlowfishRC4EncryptionEngine() override;

  static uint32_t beeReservedSpacePerBlock(TzfBlockSize) { return kzfBfEngineTrailerSize; }
  static uint32_t beeReservedHeaderSpace() { return kzfBfEngineHeaderSize; }

  // Enciphers the first aBlockLen - 16 bytes into aBlockOut and writes the trailer behind them.
  void CodeBlock(const uint8_t* aBlockIn, uint8_t* aBlockOut, uint32_t aBlockLen, uint32_t aRandomizer) override;
  // Deciphers in place; a MAC that does not match raises 8962.
  void DecodeBlock(uint8_t* aBlock, uint32_t aBlockLen, uint32_t aRandomizer) override;
  // 0 for a table on the built-in password; else 0 only when one of aPasswords is the table's
  // password exactly (ANSI form, case kept), 10015 otherwise.
  uint32_t AuthenticatePassword(const TzfUnicodeStrings& aPasswords) override;
  rtl::UnicodeString ExtractPassword() override;
  // New salt, new IV, the data key wrapped under aNewPassword (the built-in one when empty).
  void ChangePassword(PzfByteArray aHeader, const rtl::UnicodeString& aNewPassword) override;

  // The variant's built-in password (64 ANSI bytes, windows-1252).
  virtual const std::string& DefaultPassword() const = 0;
  // Idle ciphers in the pool (grows to the most blocks coded at once).
  int32_t PooledCiphers() const { return beeBlowfishCache.Count(); }
  const std::string& BlowfishKey() const { return beeBlowfishKey; }

  // The shared body of the variants' CreateInstance: fills (creating) or checks (opening) the
  // header area and fixes the block key. Raises what fails.
  uint32_t Setup(const TzfUnicodeStrings& aPasswords, PzfByteArray aHeader, bool aCreating);

 protected:
  TzfBlowfishRC4EncryptionEngine() = default;

 private:
  friend class TzfOwnedBlowFishRC4;
  // Wraps beeDerivedKey into aHeader under aPassword with a new salt and IV.
  static void Wrap(PzfByteArray aHeader, const std::string& aPassword, const std::string& aDataKey);
  // True when aPassword unwraps the header's data key; then aDataKey holds it.
  static bool Unwrap(const uint8_t* aHeader, const std::string& aPassword, std::string& aDataKey);
  TzfOwnedBlowFishRC4* TakeCipher();

  std::string beeDerivedKey;
  std::string beeUsedKey;
  TzfThreadSafeStack beeBlowfishCache;
  std::string beeBlowfishKey;
  std::mutex beeUsedKeyLock;  // ChangePassword against AuthenticatePassword and ExtractPassword
};

class TzfUserBlowfishRC4EncryptionEngine : public TzfBlowfishRC4EncryptionEngine {
 public:
  static const TzfEncryptionEngineClass& ClassInfo();
  const TzfEncryptionEngineClass& ClassType() const override { return ClassInfo(); }
  static uint32_t CreateInstance(const rtl::UnicodeString& aName, const TzfUnicodeStrings& aPasswords,
                                 PzfByteArray aHeader, bool aCreating, bool aForServer,
                                 std::unique_ptr<TzfBaseEncryptionEngine>& aEngine);
  const std::string& DefaultPassword() const override;
};

class TzfServerBlowfishRC4EncryptionEngine : public TzfBlowfishRC4EncryptionEngine {
 public:
  static const TzfEncryptionEngineClass& ClassInfo();
  const TzfEncryptionEngineClass& ClassType() const override { return ClassInfo(); }
  static uint32_t CreateInstance(const rtl::UnicodeString& aName, const TzfUnicodeStrings& aPasswords,
                                 PzfByteArray aHeader, bool aCreating, bool aForServer,
                                 std::unique_ptr<TzfBaseEncryptionEngine>& aEngine);
  const std::string& DefaultPassword() const override;
};

// The built-in passwords as ANSI bytes (windows-1252, whatever the system code page).
const std::string& zfUserBlowfishDefaultPassword();
const std::string& zfServerBlowfishDefaultPassword();

rtl::TUnitInit& zfseEncryptionEngineBlowfishRC4Unit();

}  // namespace zf
