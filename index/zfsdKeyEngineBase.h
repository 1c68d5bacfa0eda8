// Key engines: turn records into index keys and order keys.
//
// Every index has one key engine, made from its key descriptor by name (the descriptor's class
// name with "Descriptor" replaced by "Engine", in the key engine registry). A key is a byte buffer
// of exactly bkeKeyLength bytes whose layout belongs to the concrete engine; keys are stored
// verbatim in index blocks, so each layout is a file format (see the concrete units). The engine
// is immutable after construction and shared by all cursors of a table; callers bring their own
// key buffers (AllocKey/FreeKey, from the pool of the key length).
//
// As IzfFieldsSource the engine reads the key fields of its index from a key buffer, so filters
// can test keys.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "dictionary/zfsdFieldsDescriptor.h"
#include "dictionary/zfsdKeyDescriptor.h"
#include "foundation/zfllException.h"
#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllRegisterableEngine.h"
#include "index/zfsdFilterEngineBase.h"

namespace zf {

class TzfBaseKeyEngine;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseKeyEngineException, EzfBaseException)

// Class reference of key engines: the virtual constructor and the descriptor check.
struct TzfKeyEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseKeyEngine> (*)(TzfBaseKeyDescriptor& aDescriptor);
  using TCheckValid = void (*)(TzfBaseKeyDescriptor& aDescriptor);
  TzfKeyEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                    TCheckValid aCheckValid = nullptr, TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate), CheckValidFromDescriptor(aCheckValid) {}
  TCreate Create;
  TCheckValid CheckValidFromDescriptor;  // nullptr: nothing to check
};

class TzfBaseKeyEngine : public TzfBaseRegisterableEngine, public IzfFieldsSource {
 public:
  static const TzfKeyEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  ~TzfBaseKeyEngine() override;

  // The engine for aDescriptor; none registered raises 15503 'Unknown Key engine: "<name>"'.
  static std::unique_ptr<TzfBaseKeyEngine> CreateFor(TzfBaseKeyDescriptor& aDescriptor);
  // The same answering 15503 (with the message as the thread's pending text) and an empty aKeyEngine;
  // an exception of the engine's constructor passes.
  static uint32_t TryCreateFor(TzfBaseKeyDescriptor& aDescriptor, std::unique_ptr<TzfBaseKeyEngine>& aKeyEngine);
  // Checks aDescriptor for the engine class CreateFor would choose (15503 when there is none).
  static void CheckValidBaseFromDescriptor(TzfBaseKeyDescriptor& aDescriptor);
  static void RegisterKeyEngine(const TzfKeyEngineClass& aClass, UnicodeStringView aName = {});
  static void UnregisterKeyEngine(const TzfKeyEngineClass& aClass);

  // Whether indexes of this engine can be rebuilt from records.
  virtual bool SupportsReindex() const { return true; }

  // "ClassName", "KeyLength", "Fields" (type name per key field) and the key filter as "Filter".
  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;

  // ---- IzfFieldsSource over a key buffer ----
  rtl::Variant GetFieldAsVariant(const uint8_t* aData, int32_t aField) override { return KeyAsVariant(aData, aField); }
  bool GetSourceFlag() override { return false; }
  TzfPersistent* GetOwnerCursor() override { return nullptr; }

  // ---- Keys ----
  // A cleared key from the pool of the key length; the caller gives it back with FreeKey.
  uint8_t* AllocKey();
  void FreeKey(uint8_t*& aKey);
  virtual void CopyKey(const uint8_t* aFrom, uint8_t* aTo);
  virtual void ClearKey(uint8_t* aKey) = 0;
  // 0: key built; 1: the record has no key in this index; else an error code (9986 for nullptr).
  virtual uint32_t BuildKey(const uint8_t* aRecord, uint8_t* aKey, int64_t aRefNr, bool aIgnoreFilter) = 0;
  // -1, 0, 1; aFieldCount and aPartialLen 0 and 0 compare everything.
  virtual int8_t CompareKey(const uint8_t* aKey1, const uint8_t* aKey2, int32_t aFieldCount, int32_t aPartialLen) = 0;
  virtual int8_t CompareKey(const uint8_t* aKey1, const uint8_t* aKey2) { return CompareKey(aKey1, aKey2, 0, 0); }
  // Builds both keys (ignoring the key filter) and compares them; a failed build raises its code.
  virtual int8_t CompareRecord(const uint8_t* aRecord1, int64_t aRefNr1, const uint8_t* aRecord2, int64_t aRefNr2,
                               int32_t aFieldCount, int32_t aPartialLen);
  virtual int8_t CompareRecord(const uint8_t* aRecord1, int64_t aRefNr1, const uint8_t* aRecord2, int64_t aRefNr2) {
    return CompareRecord(aRecord1, aRefNr1, aRecord2, aRefNr2, 0, 0);
  }
  virtual int8_t CompareRecord(const uint8_t* aRecord1, const uint8_t* aRecord2) {
    return CompareRecord(aRecord1, 0, aRecord2, 0, 0, 0);
  }
  // One key field's value (Null for a null field); -1 asks for the whole key: the value itself for
  // a one-field key, else a variant array of one element per key field. A field outside the key
  // raises 9999.
  virtual rtl::Variant KeyAsVariant(const uint8_t* aKey, int32_t aField) = 0;
  // Every key field's value, in key order.
  std::vector<rtl::Variant> KeyAsVariants(const uint8_t* aKey);
  // "5, NULL, 'O''Neil'": the values rendered and joined; "" when the key cannot be read.
  UnicodeString KeyAsString(const uint8_t* aKey);
  // Adds each key field's value under its field's name (exceptions are swallowed).
  void KeyAsExceptionData(const uint8_t* aKey, IzfExceptionDataContainer& aContainer);
  virtual bool KeyContainsNulls(const uint8_t* /*aKey*/) { return false; }

  TzfBaseKeyDescriptor* bkeKeyDescriptor;  // not owned
  uint16_t bkeKeyLength = 0;
  TzfMemoryPool bkeMemoryPool;
  std::unique_ptr<TzfBaseFilterEngine> bkeFilter;  // the key filter over records; nullptr without one
  bool bkeNLSVersionChanged = false;

 protected:
  // Takes the key length (above 65535: range error) and its pool; builds and activates the key
  // filter over the table's record layout when the descriptor carries one. aKeyLength < 0: the
  // descriptor's key length.
  explicit TzfBaseKeyEngine(TzfBaseKeyDescriptor& aDescriptor, int32_t aKeyLength = -1);
  // The table's fields descriptor related to aDescriptor; nullptr when there is none.
  static TzfFieldsDescriptor* RelatedFields(TzfBaseKeyDescriptor& aDescriptor);
};

rtl::TUnitInit& zfsdKeyEngineBaseUnit();

}  // namespace zf
