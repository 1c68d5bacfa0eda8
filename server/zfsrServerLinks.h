// Three small pieces other parts of the server hold by interface or reference: the key fields
// source of a table cursor, a database's table mapper and the abstract SQL engine link.
//
// - TzfKeyFieldsSource lets filters and key comparisons read the key fields of a cursor's
//   current index as if they were a record's fields: every call asks the owner, at that moment,
//   for the current index's key engine and forwards to it, so switching the index changes the
//   answers from the next call on.
// - TzfTableMapper maps names (case ignored, no duplicates) to the open tables only one database
//   sees (its database-local temporary tables); it owns them and frees them, last first.
// - TzfBaseSqlEngine is the component a server engine may link for SQL statements. The engine
//   has none; zfSqlStatementAlloc answers a database's request without one with 12289 "An SQL
//   Engine is required".
#pragma once
#include <memory>

#include "dictionary/zfsdServerEngine.h"
#include "foundation/zfllComponent.h"

namespace zf {

// What a key fields source asks of the cursor that owns it (the table cursor implements it).
class IzfKeyFieldsOwner {
 public:
  // The fields source of the current index's key engine; nullptr when the cursor has no index.
  virtual IzfFieldsSource* GetCurrentKeyFieldsSource() = 0;
  // The cursor itself.
  virtual TzfPersistent* GetKeyFieldsOwnerCursor() = 0;

 protected:
  ~IzfKeyFieldsOwner() = default;
};

class TzfKeyFieldsSource : public TzfInterfacedObject, public IzfFieldsSource {
 public:
  explicit TzfKeyFieldsSource(IzfKeyFieldsOwner* aOwner) : kfsOwner(aOwner) {}

  // Forwarded to the current key engine; without a current index 8712 is raised.
  bool GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType, uint16_t& aSize,
                         bool& aIsNull, const uint8_t*& aValue, uint16_t& aCodePage) override;
  rtl::Variant GetFieldAsVariant(const uint8_t* aData, int32_t aField) override;
  bool GetSourceFlag() override;
  int32_t GetFieldFromName(const UnicodeString& aName) override;
  int32_t GetFieldCount() override;
  void GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) override;
  int32_t GetDataOffset() override;
  // The owner cursor (not forwarded).
  TzfPersistent* GetOwnerCursor() override { return kfsOwner->GetKeyFieldsOwnerCursor(); }

 private:
  IzfFieldsSource& Current();
  IzfKeyFieldsOwner* kfsOwner;
};

// The table mapper's interface.
class IzfTableMapper {
 public:
  // Takes the mapper's padlock and answers the list (names with their tables as objects); the
  // caller gives it back with UnlockList.
  virtual rtl::TStringList& LockList() = 0;
  virtual void UnlockList() = 0;
  // Under the padlock: whether aName is mapped (case ignored).
  virtual bool ContainsName(const UnicodeString& aName) = 0;
  // The list without locking (for callers holding the padlock).
  virtual rtl::TStringList& MappingList() = 0;

 protected:
  ~IzfTableMapper() = default;
};

class TzfTableMapper : public TzfInterfacedObject, public IzfTableMapper {
 public:
  TzfTableMapper();
  // Frees every mapped table, last entry first, under the padlock.
  ~TzfTableMapper() override;

  rtl::TStringList& LockList() override;
  void UnlockList() override;
  bool ContainsName(const UnicodeString& aName) override;
  rtl::TStringList& MappingList() override { return tmMappings; }
  // Maps aName to aTable (owned from now on); a name mapped already raises the list's error and
  // the table stays the caller's.
  void AddMapping(const UnicodeString& aName, TzfAbstractServerObject* aTable);

  // For callers that hold the padlock (LockList or TzfTableMapperLock):
  // the table mapped to aName (case ignored), or nullptr;
  TzfAbstractServerObject* FindMapping(const UnicodeString& aName);
  // maps aName to aTable, replacing the table of a name mapped already (which is not freed);
  void SetMapping(const UnicodeString& aName, TzfAbstractServerObject* aTable);
  // forgets aName (its table is not freed).
  void RemoveMapping(const UnicodeString& aName);

 private:
  rtl::TStringList tmMappings;
  TzfPadlock tmPadlock;
};

// Holds a table mapper's padlock for its lifetime.
class TzfTableMapperLock {
 public:
  explicit TzfTableMapperLock(IzfTableMapper& aMapper) : tmlMapper(aMapper) { tmlMapper.LockList(); }
  ~TzfTableMapperLock() { tmlMapper.UnlockList(); }
  TzfTableMapperLock(const TzfTableMapperLock&) = delete;
  TzfTableMapperLock& operator=(const TzfTableMapperLock&) = delete;

 private:
  IzfTableMapper& tmlMapper;
};

// The SQL engine component a server engine may link.
class TzfBaseSqlEngine : public TzfStateComponent {
 public:
  using TzfStateComponent::TzfStateComponent;
  const char16_t* ClassName() const override { return u"TzfBaseSqlEngine"; }
  // Called first when the server engine stops.
  virtual void PrepareShutdown() = 0;
  virtual uint32_t StatementAlloc(TzfAbstractDatabase* aDatabase, TzfAbstractStatement*& aStatement,
                                  uint32_t aTimeout) = 0;
};

// A database's statement request: the linked SQL engine's answer, or without one 12289 with the
// message "An SQL Engine is required".
uint32_t zfSqlStatementAlloc(TzfBaseSqlEngine* aSqlEngine, TzfAbstractDatabase* aDatabase,
                             TzfAbstractStatement*& aStatement, uint32_t aTimeout);

}  // namespace zf
