#include "client/zfdb.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllException.h"
#include "tool/zfRecoverComponents.h"

namespace zf {

namespace {

// Stand-in until the table component exists: every operation answers 12289.
class TzfRecoverTableStub final : public TzfRecoverTable {
 public:
  UnicodeString TableName() const override { return FName; }
  void SetTableName(const UnicodeString& aName) override { FName = aName; }
  void Open() override { Fail(); }
  void Close() override {}
  void SetCursorOption(const UnicodeString&, const UnicodeString&) override { Fail(); }
  int32_t RecordCount() override { Fail(); }
  bool IsEmpty() override { Fail(); }
  void First() override { Fail(); }
  void Next() override { Fail(); }
  bool Eof() override { Fail(); }
  void Insert() override { Fail(); }
  void Post() override { Fail(); }
  void Cancel() override { Fail(); }
  int32_t FieldCount() override { Fail(); }
  bool FieldReadOnly(int32_t) override { Fail(); }
  void AssignField(int32_t, TzfRecoverTable&) override { Fail(); }
  void RenameTable(const UnicodeString&) override { Fail(); }
  void DeleteTable() override { Fail(); }

 private:
  [[noreturn]] static void Fail() { throw EzfBaseException(zfErrNotSupported); }
  UnicodeString FName;
};

}  // namespace

std::unique_ptr<TzfRecoverTable> zfCreateRecoverTable(TzfDatabase*, const UnicodeString&) {
  return std::make_unique<TzfRecoverTableStub>();
}

}  // namespace zf
