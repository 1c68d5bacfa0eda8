// Full-text engines: the bases the server sees, the token, and the class lookup by name.
//
// A table whose dictionary has a "Fulltext" descriptor gets one full-text table engine when it
// opens (TzfBaseFulltextTableEngine::CreateFor, nil for a table without one); every cursor of such
// a table gets a full-text cursor engine from it (TzfBaseFulltextCursorEngine::CreateFor) and calls
// its UpdateIndex whenever a record changes. Everything else about full-text indexes stays behind
// these two classes (zfseFulltextEngineTable, zfseFulltextEngineCursor, zfseFulltextTokenIndex).
//
// Engine classes are found by name, family by family: a table engine's class is the descriptor's
// class name with "Descriptor" replaced by "TableEngine", a cursor engine's the table engine's with
// "TableEngine" replaced by "CursorEngine". A name not registered raises 15503
// 'Unknown %s engine: "%s"' with the family ("Fulltext", "FulltextIndex", "TokenExtractor",
// "TokenFilter", "TokenIndex", "BitArrayStorageHandler") and the class sought.
#pragma once
#include <cstdint>
#include <memory>

#include "dictionary/zfsdDataDictionaryFulltext.h"
#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllRegisterableEngine.h"
#include "foundation/zfllWideString.h"
#include "platform/rtl/rtlStream.h"
#include "storage/zfsrBlockAccess.h"

namespace zf {

class TzfBaseIndicesEngine;
class TzfBaseTransaction;
class TzfBaseTableDescriptor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseFulltextEngineException, EzfBaseException)

// One token of a stream: its text, its position increment against the previous token of the
// stream, and the position of the extractor it came from inside its hub.
class IzfToken {
 public:
  virtual int32_t _AddRef() = 0;
  virtual int32_t _Release() = 0;
  virtual const TzfWideString& Token() const = 0;
  virtual int32_t Distance() const = 0;
  virtual int16_t Field() const = 0;

 protected:
  ~IzfToken() = default;
};
using PzfToken = RefPtr<IzfToken>;

class TzfToken : public TzfInterfacedObject, public IzfToken {
 public:
  TzfToken(TzfWideString aToken, int32_t aDistance, int16_t aField)
      : tknToken(std::move(aToken)), tknDistance(aDistance), tknField(aField) {}
  int32_t _AddRef() override { return TzfInterfacedObject::_AddRef(); }
  int32_t _Release() override { return TzfInterfacedObject::_Release(); }
  const TzfWideString& Token() const override { return tknToken; }
  int32_t Distance() const override { return tknDistance; }
  int16_t Field() const override { return tknField; }

 private:
  const TzfWideString tknToken;
  const int32_t tknDistance;
  const int16_t tknField;
};

PzfToken zfNewToken(TzfWideString aToken, int32_t aDistance, int16_t aField);

// What the full-text engines need of the cursor that owns them: BLOB reads of the record being
// indexed. aReadOrg reads a BLOB as it was before the change in progress. Both answer an error code.
class IzfFulltextCursor {
 public:
  virtual uint32_t FulltextBlobGetLength(int32_t aFieldNo, int64_t aBlobNr, uint32_t& aLength, bool aReadOrg) = 0;
  virtual uint32_t FulltextBlobRead(int32_t aFieldNo, int64_t aBlobNr, uint32_t aOffset, uint32_t aLen,
                                    rtl::TStream& aStream, bool aReadOrg) = 0;

 protected:
  ~IzfFulltextCursor() = default;
};

class TzfBaseFulltextTableEngine;
class TzfBaseFulltextCursorEngine;

// Class info of an engine family member with its virtual constructor.
template <class TEngine, class... TArgs>
struct TzfFulltextEngineClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TEngine> (*)(TArgs...);
  TzfFulltextEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                         TCreate aCreate)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;  // nil for an abstract class
  // The constructor of a concrete class T of the family.
  template <class T>
  static std::unique_ptr<TEngine> New(TArgs... aArgs) {
    return std::make_unique<T>(aArgs...);
  }
};

// The engine class of aFamily named like aFromName with aFrom replaced by aTo (case ignored);
// none registered (or one without a constructor) raises 15503 naming aFamilyWord.
[[noreturn]] void zfRaiseUnknownFulltextEngine(UnicodeStringView aFamilyWord, UnicodeStringView aName);
const TzfRegisterableClass& zfFulltextEngineClass(const TzfRegisterableClass& aFamily, UnicodeStringView aFamilyWord,
                                                  UnicodeStringView aFromName, UnicodeStringView aFrom,
                                                  UnicodeStringView aTo);

// The engine of family TBase named like aFromName with aFrom replaced by aTo, made with aArgs.
template <class TBase, class... TArgs>
std::unique_ptr<TBase> zfMakeFulltextEngine(UnicodeStringView aFamilyWord, UnicodeStringView aFromName,
                                            UnicodeStringView aFrom, UnicodeStringView aTo, TArgs&&... aArgs) {
  const TzfRegisterableClass& cls = zfFulltextEngineClass(TBase::ClassInfo(), aFamilyWord, aFromName, aFrom, aTo);
  const auto* typed = dynamic_cast<const typename TBase::TClass*>(&cls);
  if (!typed || !typed->Create) zfRaiseUnknownFulltextEngine(aFamilyWord, cls.Name);
  return typed->Create(std::forward<TArgs>(aArgs)...);
}

// Registers (in order) / unregisters (backwards) a nil-terminated list of engine classes.
void zfRegisterFulltextEngines(const TzfRegisterableClass* const* aClasses);
void zfUnregisterFulltextEngines(const TzfRegisterableClass* const* aClasses);

// Class infos of the engine units: a family base keeps its registry (List) and has no
// constructor; a concrete class carries its constructor and shares its family's registry.
#define ZF_FT_ENGINE_CLASS(T, Parent, List, Create)                       \
  const T::TClass& T::ClassInfo() {                                       \
    static const TClass info(u## #T, &Parent::ClassInfo(), List, Create); \
    return info;                                                          \
  }
#define ZF_FT_CONCRETE(T, Parent) ZF_FT_ENGINE_CLASS(T, Parent, nullptr, &TClass::template New<T>)
#define ZF_FT_ABSTRACT(T, Parent, List) ZF_FT_ENGINE_CLASS(T, Parent, List, nullptr)

// The table side: lives as long as the open table; holds no per-cursor state.
class TzfBaseFulltextTableEngine : public TzfBaseRegisterableEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfBaseFulltextTableEngine, TzfFulltextDescriptor&, const TzfBlockAccessList&,
                                        TzfBaseIndicesEngine*, TzfBaseTransaction*>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // nil for a table without a "Fulltext" descriptor. aTrans: the table is being built (the
  // token B*-trees and bit-array BLOBs are made); nil: an existing table is opened.
  static std::unique_ptr<TzfBaseFulltextTableEngine> CreateFor(TzfBaseTableDescriptor& aDictionary,
                                                               const TzfBlockAccessList& aFiles,
                                                               TzfBaseIndicesEngine* aMainIndicesEngine,
                                                               TzfBaseTransaction* aTrans);
  static std::unique_ptr<TzfBaseFulltextTableEngine> CreateFor(TzfFulltextDescriptor& aDescriptor,
                                                               const TzfBlockAccessList& aFiles,
                                                               TzfBaseIndicesEngine* aMainIndicesEngine,
                                                               TzfBaseTransaction* aTrans);
  // Forgets what its BLOB engine kept for a transaction that is rolled back.
  virtual void Rollback(TzfBaseTransaction* aTrans) {}
};

// The cursor side: one per server cursor of a table with a full-text table engine.
class TzfBaseFulltextCursorEngine : public TzfBaseRegisterableEngine {
 public:
  using TClass = TzfFulltextEngineClass<TzfBaseFulltextCursorEngine, TzfBaseFulltextTableEngine&, IzfFulltextCursor*>;
  static const TClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // nil for a nil table engine.
  static std::unique_ptr<TzfBaseFulltextCursorEngine> CreateFor(TzfBaseFulltextTableEngine* aTableEngine,
                                                                IzfFulltextCursor* aCursor);
  // After a record changed inside aTrans: the side that does not exist is nil and 0 (insert: no
  // old record; delete: no new record; modify: both, same reference number). 0 or an error code;
  // errors may also be raised.
  virtual uint32_t UpdateIndex(TzfBaseTransaction* aTrans, const uint8_t* aOldRecord, int64_t aOldRefNr,
                               const uint8_t* aNewRecord, int64_t aNewRefNr) = 0;
};

rtl::TUnitInit& zfsrFulltextEngineBaseUnit();

}  // namespace zf
