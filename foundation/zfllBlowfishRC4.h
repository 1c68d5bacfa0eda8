// The engine's block cipher: a Blowfish-type 64-bit cipher in CBC, each ciphertext block
// whitened by an RC4 keystream, with an 8-byte MAC over a running XOR of the plaintext.
// Key-wrap algorithm "BlowfishRC4" (priority 1); alternative-mode cipher (priority 0).
//
// Words: every 32-bit word is read from and written to memory little-endian; an 8-byte block is
// (L, R) = (first word, second word).
//
// Where it differs from the published algorithms:
//   F(x)        ((S1[x & FF] + S2[(x >> 8) & FF]) xor S3[(x >> 16) & FF]) + S4[x >> 24]
//               (the first S-box indexed by the least significant byte);
//   key words   four consecutive key bytes, cycling through the key, least significant first;
//               an empty key keys the block cipher with a single blank (RC4: identity);
//   IV reset    init code (256 bytes) = for i in 0..31: words 2i, 2i+1 = E(IVl, i).L,
//               E(IVl, i).R xor IVr; RC4 := its keyed permutation with one more key-schedule pass
//               over the init code; chk := 0; KSF := the next two keystream words;
//   Encode      chk ^= P; (x, y) := E(P xor IV); C := (x xor KS, y xor KS); IV := C;
//   Final       m := chk xor (KS, KS); m := E(m); MAC := (m.L xor KSF.L, m.R xor KSF.L).
// Decode is the inverse with the same keystream use. RC4 keystream words take four generator
// bytes, the first in the least significant byte.
//
// Random source: the kernel's (getrandom), enciphered with the process-wide random cipher.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/zfllBaseCipher.h"

namespace zf {

using TzfRC4K = std::array<uint8_t, 256>;
using TzfBlowfishP = std::array<uint32_t, 18>;
using TzfBlowfishS = std::array<std::array<uint32_t, 256>, 4>;

// The published initial P-array and S-boxes (hexadecimal digits of pi).
extern const TzfBlowfishP zfBlowfishInitialP;
extern const TzfBlowfishS zfBlowfishInitialS;

struct TzfBlowfishBlock {
  uint32_t Xl = 0;
  uint32_t Xr = 0;
};

// RC4 keystream generator keyed once; Reset re-keys it on top of that key.
class TzfRC4 : public TzfObject {
 public:
  TzfRC4() { SetKeys(nullptr, 0); }
  explicit TzfRC4(std::string_view aKey) { SetKeys(aKey); }
  ~TzfRC4() override;
  // The published key schedule (first 256 key bytes); an empty key leaves the identity.
  void SetKeys(std::string_view aKey) { SetKeys(reinterpret_cast<const uint8_t*>(aKey.data()), aKey.size()); }
  void SetKeys(const uint8_t* aKey, size_t aKeyLen);
  // The keyed permutation with one more key-schedule pass over aInitCode; counters to 0.
  void Reset(const TzfRC4K& aInitCode);
  // One key-schedule pass over the current permutation with 128 bytes (aCode[i and 127]).
  void Mix128(const uint8_t* aCode);
  // Four generator bytes, the first in the least significant byte.
  uint32_t KeyStream();
  const TzfRC4K& Permutation() const { return rcK; }

 private:
  void KeyPass(const uint8_t* aCode, uint32_t aMask);
  TzfRC4K rcK{};
  TzfRC4K rcOrgK{};
  uint8_t rcI = 0;
  uint8_t rcJ = 0;
};

class TzfBlowFishRC4 : public TzfBaseCipher {
 public:
  explicit TzfBlowFishRC4(std::string_view aKey);
  ~TzfBlowFishRC4() override;
  static const TzfCipherClass& ClassInfo();
  const TzfCipherClass& ClassType() const override { return ClassInfo(); }

  static uint32_t BlockLength() { return 8; }
  static uint32_t AltPriority() { return 0; }
  static std::string KeyWrapName() { return "BlowfishRC4"; }
  static uint32_t KeyWrapPriority() { return 1; }
  static void GetRandomBlock(uint8_t* aData) { GetRandom64(aData); }
  // Eight random bytes: a kernel random value enciphered with the random cipher.
  static void GetRandom64(uint8_t* aData);
  // Alternative mode on a length that is a multiple of 256 (assertion failure otherwise); only
  // this process can undo it (the random cipher's key).
  static void AltEncode(uint8_t* aData, uint32_t aLen);
  static void AltDecode(uint8_t* aData, uint32_t aLen);
  // A cipher keyed with digest(salt) + digest(label) + digest(password), 48 bytes.
  static std::unique_ptr<TzfBaseCipher> DeriveKey(const uint8_t* aPwd, uint32_t aPwdLen, const uint8_t* aSalt,
                                                  uint32_t aSaltLen, std::string_view aLabel);
  // The 16-byte digest DeriveKey uses for one of its inputs.
  static std::array<uint8_t, 16> Digest(const uint8_t* aData, size_t aLen);

  void SetKeys(std::string_view aKey) override;
  void RandomIV(uint32_t& aIVl, uint32_t& aIVr);
  void RandomIVBlock(uint8_t* aIV) override;
  void ResetIV(uint32_t aIVl, uint32_t aIVr);
  void ResetIVBlock(const uint8_t* aIV) override;
  // aLen a multiple of 8, and an IV reset since the last Final (assertion failures otherwise).
  void Encode(uint8_t* aData, uint32_t aLen) override;
  void Decode(uint8_t* aData, uint32_t aLen) override;
  void Final(uint8_t* aMac) override;

  // The keyed block cipher on one block.
  void EncipherBlock(uint32_t& aL, uint32_t& aR) const;
  void DecipherBlock(uint32_t& aL, uint32_t& aR) const;
  const std::string& Key() const { return bfKey; }
  const TzfRC4& RC4() const { return *bfRC4; }

 private:
  uint32_t F(uint32_t aX) const;
  std::string bfKey;
  TzfBlowfishP bfP{};
  TzfBlowfishS bfS{};
  std::unique_ptr<TzfRC4> bfRC4;
  TzfBlowfishBlock bfChk;
  TzfBlowfishBlock bfKSF;
  bool bfMustReset = false;
  uint32_t bfIVl = 0;
  uint32_t bfIVr = 0;
};

// The process-wide random cipher, made once on first use (thread-safe) from the kernel's random
// source; freed when the unit stops.
TzfBlowFishRC4& zfRandomCipher();

// Registers the class for the alternative mode and as key-wrap algorithm "BlowfishRC4".
rtl::TUnitInit& zfllBlowfishRC4Unit();

}  // namespace zf
