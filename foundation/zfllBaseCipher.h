// The abstract 8-byte block cipher under the table encryption engines.
//
// Every cipher follows one calling pattern: keyed at construction, then an IV reset, then any
// number of Encode or Decode calls over whole blocks, then Final, which writes the MAC of all the
// data coded since the reset. Three uses share it:
//   transport  RandomIVBlock(aIV); Encode(data); Final(aMac) -- the caller sends IV, data and MAC;
//              DecodeTransport resets to aIV, decodes in place and answers whether Final equals
//              aMac byte for byte (the data stays decoded either way);
//   storage    the transport pattern on a copy (EncodeStorage) or in place (DecodeStorage; a
//              non-empty cookie gets its first four bytes zeroed); the randomizer is unused;
//   key        the transport pattern (EncodeKey / DecodeKey).
//
// Two process-wide registries: key-wrap classes by algorithm name (case ignored; within a name by
// KeyWrapPriority, the greatest wins), and the alternative-mode ciphers that scramble buffers in
// memory (the registered class of greatest AltPriority is current unless the mode is locked).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/zfllException.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlStringList.h"
#include "platform/rtl/rtlUnits.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseCipherException, EzfBaseException)

class TzfBaseCipher;
using TzfByteDynArray = std::vector<uint8_t>;

// Class reference of a cipher: its name and class functions. zfCipherClassOf<T>() fills one from
// T's static members.
struct TzfCipherClass {
  const char16_t* Name;
  // Bytes per block and per MAC.
  uint32_t (*BlockLength)();
  // Virtual constructor: a cipher keyed with aKey.
  std::unique_ptr<TzfBaseCipher> (*Create)(std::string_view aKey);
  // One random block of BlockLength bytes.
  void (*GetRandomBlock)(uint8_t* aData);
  // In-place reversible scrambling of a buffer (alternative mode) and its inverse.
  void (*AltEncode)(uint8_t* aData, uint32_t aLen);
  void (*AltDecode)(uint8_t* aData, uint32_t aLen);
  uint32_t (*AltPriority)();
  std::string (*KeyWrapName)();
  uint32_t (*KeyWrapPriority)();
  bool (*SelfTest)();
  // A new cipher keyed from a password, salt and label; nullptr when the class has no derivation.
  std::unique_ptr<TzfBaseCipher> (*DeriveKey)(const uint8_t* aPwd, uint32_t aPwdLen, const uint8_t* aSalt,
                                              uint32_t aSaltLen, std::string_view aLabel);
};

class TzfBaseCipher : public TzfObject {
 public:
  ~TzfBaseCipher() override = default;
  virtual const TzfCipherClass& ClassType() const = 0;
  TzfBaseCipher* TheCipher() { return this; }

  // ---- class functions of the base (ciphers hide them with their own) ----
  static uint32_t BlockLength() { return 0; }
  static uint32_t AltPriority() { return 0; }
  static std::string KeyWrapName() { return {}; }
  static uint32_t KeyWrapPriority() { return 0; }
  static bool SelfTest() { return true; }
  // The base has no random source, no alternative mode and no key derivation: the first two are
  // assertion failures, the last answers nullptr.
  static void GetRandomBlock(uint8_t* aData);
  static void AltEncode(uint8_t* aData, uint32_t aLen);
  static void AltDecode(uint8_t* aData, uint32_t aLen);
  static std::unique_ptr<TzfBaseCipher> DeriveKey(const uint8_t*, uint32_t, const uint8_t*, uint32_t,
                                                  std::string_view) {
    return nullptr;
  }
  // Fills aLength bytes with random blocks of aClass; aLength must be a multiple of its
  // BlockLength (assertion failure otherwise).
  static void GenerateRandom(const TzfCipherClass& aClass, uint8_t* aData, uint32_t aLength);

  // ---- instance operations ----
  virtual void SetKeys(std::string_view aKey) = 0;
  // Chooses a fresh IV, writes it to aIV (BlockLength bytes) and resets the chaining to it.
  virtual void RandomIVBlock(uint8_t* aIV) = 0;
  // Resets the chaining to the IV read from aIV.
  virtual void ResetIVBlock(const uint8_t* aIV) = 0;
  virtual void Encode(uint8_t* aData, uint32_t aLen) = 0;
  virtual void Decode(uint8_t* aData, uint32_t aLen) = 0;
  // Writes the MAC of everything coded since the last IV reset.
  virtual void Final(uint8_t* aMac) = 0;

  virtual void EncodeTransport(uint8_t* aIV, uint8_t* aData, uint32_t aLen, uint8_t* aMac);
  // True when the MAC matches; the data is decoded in place whatever the answer.
  virtual bool DecodeTransport(const uint8_t* aIV, uint8_t* aData, uint32_t aLen, const uint8_t* aMac);
  virtual void EncodeStorage(uint8_t* aIV, uint32_t aRandomizer, TzfByteDynArray& aCookie, const uint8_t* aDataIn,
                             uint8_t* aDataOut, uint32_t aLen, uint8_t* aMac);
  virtual bool DecodeStorage(const uint8_t* aIV, uint32_t aRandomizer, TzfByteDynArray& aCookie, uint8_t* aData,
                             uint32_t aLen, const uint8_t* aMac);
  virtual void EncodeKey(uint8_t* aIV, uint8_t* aData, uint32_t aLen, uint8_t* aMac);
  virtual bool DecodeKey(const uint8_t* aIV, uint8_t* aData, uint32_t aLen, const uint8_t* aMac);

  // ---- key-wrap registry ----
  // A class without a key-wrap name is not registered; the same name and priority twice raises
  // EStringListError "String list does not allow duplicates".
  static void RegisterKeyWrapClass(const TzfCipherClass& aClass);
  static void UnregisterKeyWrapClass(const TzfCipherClass& aClass);
  // The class of highest priority registered under aName (case ignored), or nullptr.
  static const TzfCipherClass* FindKeyWrapClass(std::string_view aName);
  // The same; none raises EzfBaseCipherException 'Unable to find key wrap class with algorithm
  // name "<name>"'.
  static const TzfCipherClass& MustFindKeyWrapClass(std::string_view aName);
  // Clears aList and adds every name in name order, the name's highest priority as the object.
  static void GetRegisteredKeyWrapClasses(rtl::TStrings& aList);
  // The highest-priority class of all names with the greatest priority (first name on ties);
  // priority 0 never; nullptr when none.
  static const TzfCipherClass* PreferedKeyWrapClass();

  // ---- alternative mode ----
  static void AltRegister(const TzfCipherClass& aClass);
  // The current class while locked: 10241; the registry is then unchanged.
  static void AltUnregister(const TzfCipherClass& aClass);
  // No current class: 12289 "No alternative mode cipher class registered".
  static void AltLock();
  static void AltUnLock();
  // The current class's AltEncode / AltDecode; none: 12289 as AltLock.
  static void EncodeAlt(uint8_t* aData, uint32_t aLen);
  static void DecodeAlt(uint8_t* aData, uint32_t aLen);
  // The current alternative-mode class, nullptr for none.
  static const TzfCipherClass* AltCurrent();
};

template <class T>
const TzfCipherClass& zfCipherClassOf(const char16_t* aName) {
  static const TzfCipherClass info{
      aName,
      &T::BlockLength,
      [](std::string_view aKey) -> std::unique_ptr<TzfBaseCipher> { return std::make_unique<T>(aKey); },
      &T::GetRandomBlock,
      &T::AltEncode,
      &T::AltDecode,
      &T::AltPriority,
      &T::KeyWrapName,
      &T::KeyWrapPriority,
      &T::SelfTest,
      &T::DeriveKey};
  return info;
}

// Frees the alternative-mode list and the key-wrap registry when the unit stops.
rtl::TUnitInit& zfllBaseCipherUnit();

}  // namespace zf
