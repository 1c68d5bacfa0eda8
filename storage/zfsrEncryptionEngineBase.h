// Block encryption engines: the base and the two registries.
//
// A table file may be enciphered block by block by an engine chosen by name when the table is
// created; the name is stored in block 0 and the engine found again by it when the table opens.
// An engine reserves bytes at the end of every block and an area in block 0, codes and decodes
// blocks (every block but block 0, with the block number as randomizer), may keep a running file
// checksum and handles the table's passwords.
//
// Registries: one for user (client) tables and one for the server's own files. Each maps a name
// (case ignored) to the engines registered under it by priority; the priority is kept as eight
// upper-case hexadecimal digits (negative ones in two's complement) and the entry with the greatest
// such text is the engine used, so a later engine can take a name over.
//
// No engine is registered yet: a file that names one is refused with 15503
// 'Unknown encryption engine: "%s"', never read as plain.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dictionary/zfsdFileDescriptor.h"
#include "foundation/zfllException.h"
#include "foundation/zfllMemoryManager.h"
#include "platform/rtl/rtlStringList.h"
#include "platform/rtl/rtlText.h"
#include "storage/zfsrBlock.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseEncryptionEngineException, EzfBaseException)

using TzfUnicodeStrings = std::vector<rtl::UnicodeString>;

class TzfBaseEncryptionEngine;

// Class reference of an encryption engine: its name, its virtual constructor (CreateInstance) and
// its class functions. zfEncryptionEngineClassOf<T>() fills one from T's static members.
struct TzfEncryptionEngineClass {
  const char16_t* Name;
  // Creates the engine; 0 with aEngine set, else the converted error code with aEngine empty.
  uint32_t (*CreateInstance)(const rtl::UnicodeString& aName, const TzfUnicodeStrings& aPasswords, PzfByteArray aHeader,
                             bool aCreating, bool aForServer, std::unique_ptr<TzfBaseEncryptionEngine>& aEngine);
  // Bytes needed at the end of every block / in block 0 / for the file checksum (0: none kept).
  uint32_t (*ReservedSpacePerBlock)(TzfBlockSize aBlockSize);
  uint32_t (*ReservedHeaderSpace)();
  uint32_t (*ChecksumSize)();
  // Folds a block / a block's cookie into the file checksum.
  void (*AddChecksumForBlock)(const uint8_t* aBlock, uint32_t aBlockLen, uint32_t aRandomizer, TzfByteDynArray& aChecksum);
  void (*AddChecksumForCookie)(const TzfByteDynArray& aCookie, uint32_t aRandomizer, TzfByteDynArray& aChecksum);
};

class TzfBaseEncryptionEngine : public TzfObject {
 public:
  ~TzfBaseEncryptionEngine() override = default;
  virtual const TzfEncryptionEngineClass& ClassType() const = 0;
  const char16_t* ClassName() const { return ClassType().Name; }

  // ---- class functions of the base (engines hide them with their own) ----
  static uint32_t beeReservedSpacePerBlock(TzfBlockSize) { return 0; }
  static uint32_t beeReservedHeaderSpace() { return 0; }
  static uint32_t beeChecksumSize() { return 0; }
  // The base keeps no checksum: folding into one is an internal error.
  static void beeAddChecksumForBlock(const uint8_t* aBlock, uint32_t aBlockLen, uint32_t aRandomizer,
                                     TzfByteDynArray& aChecksum);
  static void beeAddChecksumForCookie(const TzfByteDynArray& aCookie, uint32_t aRandomizer, TzfByteDynArray& aChecksum);

  // ---- instance operations ----
  // Enciphers aBlockLen bytes of aBlockIn into aBlockOut.
  virtual void CodeBlock(const uint8_t* aBlockIn, uint8_t* aBlockOut, uint32_t aBlockLen, uint32_t aRandomizer) = 0;
  // Deciphers in place and checks the block; raises when it does not decode.
  virtual void DecodeBlock(uint8_t* aBlock, uint32_t aBlockLen, uint32_t aRandomizer) = 0;
  // Base: CodeBlock / DecodeBlock with the randomizer aRandomizer * aBlockLen (low 32 bits); the
  // cookie and the checksum are left alone.
  virtual void CodeBlockEx(const uint8_t* aBlockIn, uint8_t* aBlockOut, uint32_t aBlockLen, uint32_t aRandomizer,
                           TzfByteDynArray& aCookie, TzfByteDynArray& aChecksum);
  virtual void DecodeBlockEx(uint8_t* aBlock, uint32_t aBlockLen, uint32_t aRandomizer, const TzfByteDynArray& aCookie);
  // Stores / checks block 0's checksum; the base does nothing.
  virtual void UpdateHeaderChecksum(uint8_t* aBlock, uint32_t aBlockLen) {}
  virtual void VerifyHeaderChecksum(uint8_t* aBlock, uint32_t aBlockLen) {}
  // Whether the passwords open this table; base 0.
  virtual uint32_t AuthenticatePassword(const TzfUnicodeStrings& aPasswords) { return 0; }
  virtual rtl::UnicodeString ExtractPassword() { return {}; }
  // Base: 12289 "ChangePassword not supported by <class>".
  virtual void ChangePassword(PzfByteArray aHeader, const rtl::UnicodeString& aNewPassword);

  // ---- registries ----
  // Adds aClass under aName and aPriority; the same name and priority twice raises
  // EStringListError "String list does not allow duplicates".
  static void Register(const TzfEncryptionEngineClass& aClass, const rtl::UnicodeString& aName, bool aForServer,
                       int32_t aPriority);
  // Removes aClass from every name of both registries.
  static void Unregister(const TzfEncryptionEngineClass& aClass);
  // Clears aList, adds "" (no encryption) and every registered name in sorted order.
  static void GetRegisteredEngines(rtl::TStrings& aList, bool aForServer);
  // 0 for an empty name; an unknown name raises 15503; else header space + checksum size.
  static uint32_t ReservedHeaderSpace(const rtl::UnicodeString& aEngine, bool aForServer);
  // The engine's per-block reserve; an unknown name (the empty one too) raises 15503.
  static uint32_t ReservedSpacePerBlock(const rtl::UnicodeString& aEngine, bool aForServer, TzfBlockSize aBlockSize);
  // The class used for aName, nullptr when none.
  static const TzfEncryptionEngineClass* FindEngineClass(const rtl::UnicodeString& aName, bool aForServer);
  // Empties aEngine; an unknown name answers 15503 with the thread's pending message
  // 'Unknown encryption engine: "%s"' (nothing raised); else the class's CreateInstance.
  static uint32_t CreateEngine(const rtl::UnicodeString& aName, const TzfUnicodeStrings& aPasswords,
                               PzfByteArray aHeader, bool aCreating, bool aForServer,
                               std::unique_ptr<TzfBaseEncryptionEngine>& aEngine);
};

// CreateInstance for an engine class T constructible as T(aName, aPasswords, aHeader, aCreating,
// aForServer): exceptions become their error codes.
uint32_t zfEncryptionCreateGuarded(const std::function<TzfBaseEncryptionEngine*()>& aMake,
                                   std::unique_ptr<TzfBaseEncryptionEngine>& aEngine);

template <class T>
const TzfEncryptionEngineClass& zfEncryptionEngineClassOf(const char16_t* aName) {
  static const TzfEncryptionEngineClass info{
      aName,
      [](const rtl::UnicodeString& aEngineName, const TzfUnicodeStrings& aPasswords, PzfByteArray aHeader,
         bool aCreating, bool aForServer, std::unique_ptr<TzfBaseEncryptionEngine>& aEngine) -> uint32_t {
        return T::CreateInstance(aEngineName, aPasswords, aHeader, aCreating, aForServer, aEngine);
      },
      &T::beeReservedSpacePerBlock,
      &T::beeReservedHeaderSpace,
      &T::beeChecksumSize,
      &T::beeAddChecksumForBlock,
      &T::beeAddChecksumForCookie};
  return info;
}

rtl::TUnitInit& zfsrEncryptionEngineBaseUnit();

}  // namespace zf
