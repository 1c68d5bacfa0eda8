// Table mapper descriptors: how the records of one table (the root or a nested table) and of its
// nested tables are carried into another table layout.
//
// Stream of a table mapper descriptor (tagged value encoding):
//
//   #  value                       meaning
//   1  Ident                       class name
//   2  Integer 1                   body version of the base table mapper
//   3  String                      btmdName
//   4  String                      btmdMapTo
//   5  Boolean                     a record mapper follows
//   6  record mapper descriptor    only when 5 is True
//   7  Integer                     TableCount
//   8  table mapper descriptors    TableCount children in this same format
//   9  Integer 1                   TzfTableMapperDescriptor only: its own version, after the children
//
// A reader refuses a version other than 1, a non-Boolean flag, a negative child count or one the
// remaining bytes cannot hold, children nested deeper than zfMaxTableMapperNesting and any value
// past the end with 15498, and an unknown class with 15499; nothing half-built is left behind.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "mapping/zfsdRecordMapperDescriptor.h"

namespace zf {

class TzfBaseTableMapperDescriptor;
class TzfBaseTableDescriptor;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseTableMapperDescriptorException, EzfBaseRegisterableDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfTableMapperDescriptorException, EzfBaseTableMapperDescriptorException)

// How deep a stream may nest child table mappers (tables nest far less deeply in practice).
inline constexpr int32_t zfMaxTableMapperNesting = 64;

// Class reference of table mapper descriptors: the virtual constructor.
struct TzfTableMapperDescriptorClass : TzfRegisterableClass {
  using TCreate = std::unique_ptr<TzfBaseTableMapperDescriptor> (*)();
  TzfTableMapperDescriptorClass(const char16_t* aName, const TzfRegisterableClass* aParent, TCreate aCreate,
                                TzfGetListProc aGetList = nullptr)
      : TzfRegisterableClass(aName, aParent, aGetList), Create(aCreate) {}
  TCreate Create;
};

class TzfBaseTableMapperDescriptor : public TzfBaseRegisterableDescriptor {
 public:
  static const TzfTableMapperDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  const TzfTableMapperDescriptorClass& TableMapperClass() const {
    return static_cast<const TzfTableMapperDescriptorClass&>(ClassType());
  }

  // Both names ".", no record mapper, no children.
  TzfBaseTableMapperDescriptor() = default;
  ~TzfBaseTableMapperDescriptor() override;

  // Adds a child of aClass (nullptr: TzfBaseTableMapperDescriptor) named aName; a name a child
  // has already (case ignored) raises 10009 "Duplicated table name: %s" through RaiseError (the
  // exception class of this descriptor's class). The child's map-to name stays ".".
  TzfBaseTableMapperDescriptor* AddTable(const UnicodeString& aName, const TzfTableMapperDescriptorClass* aClass = nullptr);
  // Frees the child at aInx; an index outside the children does nothing.
  void RemoveTable(int32_t aInx);
  // Frees the child named aName; nothing when there is none.
  void RemoveTable(const UnicodeString& aName);
  // The child named aName (case ignored): its position, -1 when none.
  int32_t GetTableIndexFromName(const UnicodeString& aName) const;
  // The child named aName; none raises 10024 "Table does not exist.".
  TzfBaseTableMapperDescriptor* GetTableDescriptorFromName(const UnicodeString& aName) const;
  TzfBaseTableMapperDescriptor* TableDescriptor(int32_t aIndex) const { return btmdTables.at(aIndex).get(); }
  int32_t TableCount() const { return static_cast<int32_t>(btmdTables.size()); }

  // Replaces the record mapper by a new one of aClass (nullptr: TzfRecordMapperDescriptor).
  TzfBaseRecordMapperDescriptor* AddRecordMapper(const TzfRecordMapperDescriptorClass* aClass = nullptr);
  void RemoveRecordMapper() { btmdRecordMapper.reset(); }
  TzfBaseRecordMapperDescriptor* RecordMapper() const { return btmdRecordMapper.get(); }
  // Frees the record mapper and every child.
  void Clear();

  void WriteToWriter(TzfWriter& aWriter, int32_t aClientVersion) const;
  // Reads a descriptor of a registered class; the caller owns it. Damaged input raises 15498 or
  // 15499 and leaves nothing behind.
  static std::unique_ptr<TzfBaseTableMapperDescriptor> CreateFromReader(TzfReader& aReader);
  // A deep copy of the same class (through a stream); the caller owns it; its parent is nullptr.
  std::unique_ptr<TzfBaseTableMapperDescriptor> Duplicate() const;

  virtual void WriteData(TzfWriter& aWriter, int32_t aClientVersion) const;
  virtual void ReadData(TzfReader& aReader);
  // Raises aErrorCode with this class's exception class (a pending text for the code is used).
  [[noreturn]] virtual void RaiseError(uint32_t aErrorCode) const;

  TzfBaseTableMapperDescriptor* btmdParent = nullptr;  // nullptr for the root
  UnicodeString btmdName = u".";
  UnicodeString btmdMapTo = u".";
  std::vector<std::unique_ptr<TzfBaseTableMapperDescriptor>> btmdTables;
  std::unique_ptr<TzfBaseRecordMapperDescriptor> btmdRecordMapper;

};

class TzfTableMapperDescriptor : public TzfBaseTableMapperDescriptor {
 public:
  static const TzfTableMapperDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // Replaces the record mapper by one mapping every field of aOldTable to the equally named field
  // of aNewTable with aDataLossAction (defaults for unmapped fields on), then adds one child per
  // nested table present in both (named with the old table's name) and maps it the same way,
  // recursively. Existing children are kept; a nested name that already has one raises 10009.
  void MapAllTablesAndFieldsByName(TzfBaseTableDescriptor& aOldTable, TzfBaseTableDescriptor& aNewTable,
                                   TzfDataLossAction aDataLossAction);

  void WriteData(TzfWriter& aWriter, int32_t aClientVersion) const override;
  void ReadData(TzfReader& aReader) override;
  [[noreturn]] void RaiseError(uint32_t aErrorCode) const override;
};

// Registers the table mapper descriptor classes (unit start) and removes them (unit stop).
rtl::TUnitInit& zfsdTableMapperDescriptorUnit();

}  // namespace zf
