// Record mapper descriptors: the field mappings of one table, kept sorted by target field name.
//
// Stream of a record mapper descriptor (tagged value encoding):
//
//   #  value                       meaning
//   1  Ident                       class name
//   2  Integer 1                   body version
//   3  List start                  (TzfRecordMapperDescriptor only, as 3 to 6)
//   4  field mapper descriptors    one per mapping, in sorted order
//   5  List end
//   6  Boolean                     rmdApplyDefaultForUnmapped
//
// A reader refuses a version other than 1, a missing list start or end, a non-Boolean flag or a
// value past the end with 15498, an unknown class with 15499, and a second mapping for a target
// name with the list's duplicate error.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "mapping/zfsdFieldMapperDescriptor.h"

namespace zf {

class TzfBaseRecordMapperDescriptor;
class TzfFieldsDescriptor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseRecordMapperDescriptorException, EzfBaseRegisterableDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfRecordMapperDescriptorException, EzfBaseRecordMapperDescriptorException)

// Class reference of record mapper descriptors: the virtual constructor.
struct TzfRecordMapperDescriptorClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseRecordMapperDescriptor> (*)();
  TzfRecordMapperDescriptorClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                                 TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

// Root of the record mappings; writes only its class name and version. Not registered.
class TzfBaseRecordMapperDescriptor : public TzfBaseRegisterableDescriptor {
 public:
  static const TzfRecordMapperDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  const TzfRecordMapperDescriptorClass& RecordMapperClass() const {
    return static_cast<const TzfRecordMapperDescriptorClass&>(ClassType());
  }

  void WriteToWriter(TzfWriter& aWriter, int32_t aClientVersion) const;
  // Reads a descriptor of a registered class; the caller owns it. Damaged input raises 15498 or
  // 15499 and leaves nothing behind.
  static std::unique_ptr<TzfBaseRecordMapperDescriptor> CreateFromReader(TzfReader& aReader);
  // A deep copy of the same class (through a stream); the caller owns it.
  std::unique_ptr<TzfBaseRecordMapperDescriptor> Duplicate() const;

  virtual void WriteData(TzfWriter& aWriter, int32_t aClientVersion) const;
  virtual void ReadData(TzfReader& aReader);
  [[noreturn]] virtual void RaiseError(uint32_t aErrorCode) const;
};

class TzfRecordMapperDescriptor : public TzfBaseRecordMapperDescriptor {
 public:
  static const TzfRecordMapperDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // Adds a mapping of aDescriptorClass (nullptr: TzfFieldMapperDescriptor) under its target name;
  // a target name already present raises EStringListError "String list does not allow
  // duplicates" and adds nothing. The descriptor stays owned by this one.
  TzfFieldMapperDescriptor* AddMapping(const UnicodeString& aSourceName, const UnicodeString& aTargetName,
                                       TzfDataLossAction aDataLossAction,
                                       const TzfFieldMapperDescriptorClass* aDescriptorClass = nullptr);
  // Removes the mapping of aTargetName; an unknown name raises the list's index error.
  void DeleteMapping(const UnicodeString& aTargetName);
  // The position of the mapping of aTargetName in sorted order, -1 when absent.
  int32_t FieldMapperIndexOf(const UnicodeString& aTargetName) const;
  int32_t FieldMapperCount() const { return static_cast<int32_t>(rmdFieldMapperDescriptors.size()); }
  // The mapping at aIndex; outside the list the list's index error.
  TzfFieldMapperDescriptor* FieldMapper(int32_t aIndex) const;
  // Sets the source name of the mapping of aTargetName (unknown: the list's index error).
  TzfFieldMapperDescriptor* UpdateSourceName(const UnicodeString& aTargetName, const UnicodeString& aNewSourceName);
  // Renames a mapping's target. A change of letter case only keeps the entry where it is;
  // otherwise the entry moves to its sorted place (a name already present: the duplicate error,
  // nothing changed). Unknown old name: the list's index error.
  TzfFieldMapperDescriptor* UpdateTargetName(const UnicodeString& aOldTargetName,
                                             const UnicodeString& aNewTargetName);
  // One mapping per pair of equally named fields (ASCII case ignored), old name as source.
  void MapAllFieldsByName(const TzfFieldsDescriptor& aOldFields, const TzfFieldsDescriptor& aNewFields,
                          TzfDataLossAction aDataLossAction);
  // One mapping per position up to the smaller field count, old name as source.
  void MapAllFieldsByPosition(const TzfFieldsDescriptor& aOldFields, const TzfFieldsDescriptor& aNewFields,
                              TzfDataLossAction aDataLossAction);

  void WriteData(TzfWriter& aWriter, int32_t aClientVersion) const override;
  void ReadData(TzfReader& aReader) override;
  [[noreturn]] void RaiseError(uint32_t aErrorCode) const override;

  // Entries sorted by their key (the target name they were entered under), compared by the
  // locale's rules ignoring case.
  struct TzfFieldMapperEntry {
    UnicodeString Key;
    std::unique_ptr<TzfFieldMapperDescriptor> Descriptor;
  };
  std::vector<TzfFieldMapperEntry> rmdFieldMapperDescriptors;
  bool rmdApplyDefaultForUnmapped = true;

 private:
  // Binary search: True when an entry's key equals aName, aIndex then being it; else aIndex is
  // the insertion point.
  bool Find(const UnicodeString& aName, int32_t& aIndex) const;
  // Enters aDescriptor under aKey, refusing a duplicate.
  TzfFieldMapperDescriptor* Enter(const UnicodeString& aKey, std::unique_ptr<TzfFieldMapperDescriptor> aDescriptor);
  int32_t IndexOrError(const UnicodeString& aTargetName) const;
};

// Pairs two lists of names: both are sorted by ASCII case-insensitive comparison (other
// characters by code unit) and walked together; aPair is called for each equal pair with the
// indexes into the lists as given.
void zfPairByName(const std::vector<UnicodeString>& aOld, const std::vector<UnicodeString>& aNew,
                  const std::function<void(size_t aOldIndex, size_t aNewIndex)>& aPair);

// Registers the record mapper descriptor class (unit start) and removes it (unit stop).
rtl::TUnitInit& zfsdRecordMapperDescriptorUnit();

}  // namespace zf
