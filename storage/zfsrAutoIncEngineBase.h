// The auto-increment kind of sub-engines: hands out the values of a table's auto-increment field
// from a counter kept in a header section of one of the table's files, so that the counter changes
// inside the caller's storage transaction.
#pragma once
#include <cstdint>
#include <memory>

#include "dictionary/zfsdStorageDescriptor.h"
#include "storage/zfsrBlockAccess.h"
#include "storage/zfsrSubEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseAutoIncEngineException, EzfBaseSubEngineException)

class TzfBaseAutoIncEngine;

struct TzfAutoIncEngineClass : TzfSubEngineClass {
  using TCreate = std::unique_ptr<TzfBaseAutoIncEngine> (*)(TzfBaseAutoIncDescriptor* aDescriptor,
                                                           TzfBaseTransaction* aTrans, const TzfBlockAccessList& aFiles);
  using TCheckValidEngineDescriptor = void (*)(TzfBaseAutoIncDescriptor* aDescriptor);
  constexpr TzfAutoIncEngineClass(const char16_t* aName, const TzfRegisterableClass* aParent, TzfGetListProc aGetList,
                                  TCheckValidDescriptor aCheckValidDescriptor, TCreate aCreate,
                                  TCheckValidEngineDescriptor aCheckValidEngineDescriptor = nullptr)
      : TzfSubEngineClass(aName, aParent, aGetList, u"autoinc", aCheckValidDescriptor),
        Create(aCreate),
        CheckValidEngineDescriptor(aCheckValidEngineDescriptor) {}

  TCreate Create;
  TCheckValidEngineDescriptor CheckValidEngineDescriptor;
};

class TzfBaseAutoIncEngine : public TzfBaseSubEngine {
 public:
  // The data file is aFiles[descriptor's file number] (a range error outside the list); bseID from
  // the descriptor, the table version from the first file of the list.
  TzfBaseAutoIncEngine(TzfBaseAutoIncDescriptor* aDescriptor, TzfBaseTransaction* aTrans,
                       const TzfBlockAccessList& aFiles);

  static const TzfAutoIncEngineClass& ClassInfo();
  const TzfAutoIncEngineClass& ClassType() const override { return ClassInfo(); }

  // The engine of the table's auto-increment descriptor; nil without one.
  static std::unique_ptr<TzfBaseAutoIncEngine> CreateEngine(TzfBaseTableDescriptor& aTable,
                                                            const TzfBlockAccessList& aFiles, TzfBaseTransaction* aTrans);
  // The engine named by aDescriptor (15503 "Unknown autoinc engine"); nil for a nil descriptor.
  static std::unique_ptr<TzfBaseAutoIncEngine> CreateEngine(TzfBaseAutoIncDescriptor* aDescriptor,
                                                            const TzfBlockAccessList& aFiles, TzfBaseTransaction* aTrans);
  static void CheckValidDescriptor(TzfBaseTableDescriptor& aTable);
  static void CheckValidFromDescriptor(TzfBaseAutoIncDescriptor* aDescriptor);

  // Advances the counter and answers the new value.
  virtual uint32_t NextAutoIncValue(TzfBaseTransaction* aTrans) = 0;
  // The last value handed out.
  virtual uint32_t ReadAutoIncValue(TzfBaseTransaction* aTrans) = 0;
  // Sets the last value handed out.
  virtual void SetAutoIncValue(TzfBaseTransaction* aTrans, uint32_t aValue) = 0;

  TzfBlockAccess* baieDataFile;
};

rtl::TUnitInit& zfsrAutoIncEngineBaseUnit();

}  // namespace zf
