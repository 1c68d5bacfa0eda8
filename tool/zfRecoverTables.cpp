// The tables of a recover run as table components (TzfTable) on the tool's database.
#include <climits>

#include "client/zfdbTable.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "tool/zfRecoverComponents.h"

namespace zf {

namespace {

class TzfRecoverTableComponent final : public TzfRecoverTable {
 public:
  TzfRecoverTableComponent(TzfDatabase* aDatabase, const UnicodeString& aName) {
    FTable.SetName(aName);
    FTable.SetDatabase(aDatabase);
  }

  UnicodeString TableName() const override { return FTable.TableName(); }
  void SetTableName(const UnicodeString& aName) override { FTable.SetTableName(aName); }
  void Open() override { FTable.Open(); }
  void Close() override { FTable.Close(); }
  void SetCursorOption(const UnicodeString& aName, const UnicodeString& aValue) override {
    if (TzfAbstractCursor* cursor = FTable.AbstractCursor()) cursor->OptionSet(aName, aValue);
  }
  int32_t RecordCount() override { return FTable.RecordCount(); }
  int32_t CountInStorageOrder() override {
    TzfDatabase* database = FTable.Database();
    if (database == nullptr || database->AbstractDatabase() == nullptr) throw EzfBaseException(zfErrInvalidParam);
    TzfAbstractCursor* cursor = nullptr;
    const uint32_t code = database->AbstractDatabase()->CursorOpen(
        cursor, FTable.TableName(), FTable.Password(), omReadOnly, smShared, database->EffectiveTimeout(), false);
    struct TFree {
      TzfAbstractCursor*& C;
      ~TFree() {
        if (C) C->Free();
      }
    } freeCursor{cursor};
    zfRaiseIfError(code);
    uint32_t count = 0;
    zfRaiseIfError(cursor->GetRecordCount(count, false));
    return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
  }
  bool IsEmpty() override { return FTable.IsEmpty(); }
  void First() override { FTable.First(); }
  void Next() override { FTable.Next(); }
  bool Eof() override { return FTable.Eof(); }
  void Insert() override { FTable.Insert(); }
  void Post() override { FTable.Post(); }
  void Cancel() override { FTable.Cancel(); }
  int32_t FieldCount() override { return FTable.FieldCount(); }
  bool FieldReadOnly(int32_t aIndex) override { return FTable.Fields()[aIndex].ReadOnly(); }
  void AssignField(int32_t aIndex, TzfRecoverTable& aSource) override {
    TzfTable& source = static_cast<TzfRecoverTableComponent&>(aSource).FTable;
    FTable.Fields()[aIndex].Assign(&source.Fields()[aIndex]);
  }
  void RenameTable(const UnicodeString& aNewName) override { FTable.RenameTable(aNewName); }
  void DeleteTable() override { FTable.DeleteTable(); }

 private:
  TzfTable FTable;
};

}  // namespace

std::unique_ptr<TzfRecoverTable> zfCreateRecoverTable(TzfDatabase* aDatabase, const UnicodeString& aName) {
  return std::make_unique<TzfRecoverTableComponent>(aDatabase, aName);
}

}  // namespace zf
