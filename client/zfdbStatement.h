// Statement datasets: a query or a stored procedure run through the engine's statement interface,
// its result cursor shown as a dataset.
//
//   TzfDataset > TzfStatementDataSet > TzfQuery, TzfStoredProc
//
// A statement dataset reaches the engine only through its database component's engine database:
// StatementAlloc gives a statement that is prepared (Prepare), or the whole run is one
// StatementExecDirect. Statements come from the SQL engine a server engine may link; without one
// every allocation answers 12289 "An SQL Engine is required", so Prepare, Open, ExecSQL and
// ExecProc raise that. Parameters, the scanner and the properties work without it.
//
// Streams the statement fills (read bounded by what the statement wrote; a short stream raises
// 15498 "Incompatible stream" naming the dataset):
//   execution stream, from where the statement leaves it:
//     with a result cursor:   1 byte  the result can be modified; 4 bytes not used
//     without one:            4 bytes rows affected (Int32)
//     always:                 4 bytes records read (Int32); 4 bytes line count N (Int32);
//                             N times 4 bytes length L, then L bytes of 8-bit text (the log)
//   error streams (prepare, set parameters, get parameters, execution), from position 0:
//     4 bytes length L, then L bytes of 8-bit text; L = 0: no text.
//
// Parameters go to the engine as a TzfSqlParamList (field type, and the value in the engine's
// storage form, text in UTF-8); output, in-out and result values come back the same way.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "client/zfdbDataset.h"
#include "platform/db/dbDataSource.h"
#include "platform/db/dbParams.h"
#include "platform/rtl/rtlStringList.h"

namespace zf {

class TzfStatementDataSet;

// One element of an open array of values (the parameter calls' "array of const").
struct TzfVarRec {
  enum TKind : uint8_t {
    vtInteger, vtBoolean, vtChar, vtExtended, vtString, vtPChar, vtAnsiString, vtCurrency, vtVariant, vtObject,
    vtWideChar, vtPWideChar, vtWideString, vtUnicodeString, vtInt64, vtPointer, vtClass, vtInterface
  };
  TKind Kind = vtPointer;
  rtl::Variant Value;                    // the value of every value kind
  const void* Pointer = nullptr;         // vtPointer, vtObject, vtClass, vtInterface
  const db::TParam* Persistent = nullptr;  // vtObject: a parameter whose value is taken

  TzfVarRec(int32_t aValue) : Kind(vtInteger), Value(aValue) {}
  TzfVarRec(bool aValue) : Kind(vtBoolean), Value(aValue) {}
  TzfVarRec(char aValue) : Kind(vtChar), Value(rtl::AnsiString(std::string(1, aValue))) {}
  TzfVarRec(double aValue) : Kind(vtExtended), Value(aValue) {}
  TzfVarRec(const char* aValue) : Kind(vtPChar), Value(rtl::AnsiString(aValue ? aValue : "")) {}
  TzfVarRec(const std::string& aValue) : Kind(vtAnsiString), Value(rtl::AnsiString(aValue)) {}
  TzfVarRec(rtl::Currency aValue) : Kind(vtCurrency), Value(aValue) {}
  TzfVarRec(const rtl::Variant& aValue) : Kind(vtVariant), Value(aValue) {}
  TzfVarRec(const char16_t* aValue) : Kind(vtPWideChar), Value(UnicodeString(aValue ? aValue : u"")) {}
  TzfVarRec(const UnicodeString& aValue) : Kind(vtUnicodeString), Value(aValue) {}
  TzfVarRec(int64_t aValue) : Kind(vtInt64), Value(aValue) {}
  TzfVarRec(std::nullptr_t) : Kind(vtPointer) {}
  TzfVarRec(char16_t aValue) : Kind(vtWideChar), Value(UnicodeString(1, aValue)) {}
  // An object: a parameter (persistent, its value is taken) or nil.
  static TzfVarRec Object(const db::TParam* aParam);
  // Kinds a parameter cannot take (refused unless nil).
  static TzfVarRec OtherObject(const void* aObject);
  static TzfVarRec RawPointer(const void* aPointer);
  static TzfVarRec Class(const void* aClass);
  static TzfVarRec Interface(const void* aInterface);

 private:
  TzfVarRec() = default;
  static TzfVarRec Make(TKind aKind, const void* aPointer, const db::TParam* aPersistent);
};
using TzfConstArray = std::vector<TzfVarRec>;
using TzfDynVariantArray = std::vector<rtl::Variant>;

// The values go in order to the parameters of unknown, input or in-out type (output and result
// parameters are skipped); extra values are ignored.
void AssignParamValues(db::TParams& aParams, const TzfConstArray& aValues);
// One value into aParam by its kind; aIndex names an unnamed parameter in the error "Invalid
// value for param '%s'" that a kind a parameter cannot take raises.
void AssignParamValue(db::TParam& aParam, const TzfVarRec& aValue, int32_t aIndex = 0);
// The values of the output, in-out and result parameters, in order, in a cleared aValues.
void GetOutputParamValues(const db::TParams& aParams, TzfDynVariantArray& aValues);

// The link to a master data source: its changes refresh an open statement dataset.
class TzfStatementDataSetDataLink : public db::TDataLink {
 public:
  explicit TzfStatementDataSetDataLink(TzfStatementDataSet* aDataSet) : sddlStatementDataSet(aDataSet) {}

 protected:
  void ActiveChanged() override;
  void RecordChanged(db::TField* aField) override;
  void CheckBrowseMode() override;

 private:
  void Refresh();
  TzfStatementDataSet* sddlStatementDataSet;
};

class TzfStatementDataSet : public TzfDataset {
 public:
  explicit TzfStatementDataSet(rtl::TComponent* aOwner = nullptr);
  // Unprepares first.
  ~TzfStatementDataSet() override;
  const char16_t* ClassName() const override { return u"TzfStatementDataSet"; }
  void BeforeDestruction() override;

  // Allocates and prepares the statement (nothing when prepared): "No SQL statement specified"
  // for an empty text, the engine's code, or "Query preparation failed: ..." with the
  // statement's text. A failure leaves it unprepared.
  virtual void Prepare();
  // Frees the statement; an inactive dataset also closes its cursor link.
  void Unprepare();
  bool Prepared() const { return sdAbstractStatement != nullptr; }
  void SetPrepared(bool aValue);

  db::TParams& Params() { return sdParams; }
  const db::TParams& Params() const { return sdParams; }
  // The values of aValue's parameters go to the parameters of the same names.
  void SetParams(const db::TParams& aValue) { sdParams.AssignValues(aValue); }
  db::TParam& ParamByName(const UnicodeString& aName) { return sdParams.ParamByName(aName); }
  uint16_t ParamCount() const;

  db::TDataSource* DataSource() const { return sdDataLink.DataSource(); }
  // Refuses a source this dataset feeds ("Circular data link with data source [%s]").
  void SetDataSource(db::TDataSource* aValue);
  db::TDataSource* GetDataSource() const override { return DataSource(); }
  bool RequestLive() const { return sdRequestLive; }
  // Inactive only.
  void SetRequestLive(bool aValue);
  bool ReadOnly() const { return sdReadOnly; }
  void SetReadOnly(bool aValue) { sdReadOnly = aValue; }
  // Active, a modifiable result, not ReadOnly and the database not read-only.
  bool CanModify() const override;
  int32_t RowsAffected() const { return sdRowsAffected; }
  int32_t RecordsRead() const { return sdRecordsRead; }
  const rtl::TStringList& Log() const { return sdLog; }

  // The engine list of the parameters; aHasOutput tells whether any is output, in-out or result.
  void ParamsToParamList(TzfSqlParamList& aList, bool& aHasOutput);
  // Output, in-out and result values back into Params; 9986 when the list does not match.
  void ParamListToParams(const TzfSqlParamList& aList);

  // The cursor link stopped: closes, then unprepares when the open prepared implicitly.
  void ShutdownFromCursor() override;
  // The inactive check, then always unprepares.
  void CheckInactiveFromCursor() override;
  // The database stops: the statement goes.
  void DatabaseStopping() override { Unprepare(); }

 protected:
  // The statement text and its kind.
  virtual void GetStatementTextAndType(UnicodeString& aText, TzfStatementType& aType) const = 0;
  // Runs the statement (prepared or directly) and takes its result cursor, if any.
  void OpenAbstractCursor() override;
  // Runs the statement on an inactive dataset; a result cursor is freed at once.
  void Execute();
  // Raises aCode naming the dataset, with aFormat filled from the error stream's text when
  // there is one.
  [[noreturn]] void RaiseStatementError(uint32_t aCode, const char16_t* aFormat, rtl::TStream* aStream) const;

 private:
  friend class TzfStatementDataSetDataLink;
  void ResetCounters();
  void ReadExecStream(rtl::TStream& aStream, bool aHasCursor);

  TzfAbstractStatement* sdAbstractStatement = nullptr;
  TzfStatementDataSetDataLink sdDataLink;
  int32_t sdRowsAffected = -1;
  int32_t sdRecordsRead = 0;
  db::TParams sdParams;
  bool sdRequestLive = false;
  bool sdReadOnly = false;
  bool sdCanModify = false;
  bool sdExecuted = false;
  bool sdWasPrepared = false;
  rtl::TStringList sdLog;
};

class TzfQuery : public TzfStatementDataSet {
 public:
  explicit TzfQuery(rtl::TComponent* aOwner = nullptr);
  const char16_t* ClassName() const override { return u"TzfQuery"; }

  // The SQL lines; SetSQL changes nothing for the same text, else it deactivates the cursor
  // link, unprepares and takes the lines (scanning them for parameters).
  const rtl::TStringList& SQL() const { return quSql; }
  UnicodeString SQLText() const;
  void SetSQL(const UnicodeString& aText);
  void SetSQL(const rtl::TStrings& aLines);
  // The text sent to the engine: parameters replaced by "?", cut at its first NUL.
  const UnicodeString& Text() const { return quText; }
  bool ParamCheck() const { return quParamCheck; }
  void SetParamCheck(bool aValue) { quParamCheck = aValue; }
  // Runs the statement on the inactive query.
  void ExecSQL() { Execute(); }

  // Answers aText with every parameter reference replaced by "?"; with aCreate and a list, each
  // name found (duplicates included) becomes a parameter of unknown type and direction. Comments
  // ("--", "//" to the line's end, "/* */" nesting) and literals (quotes of either kind, nested
  // by the other kind up to 5 levels) are copied unscanned; "::" stays. A quoted name (":\"a b\"")
  // runs to the next double quote; without one it takes the rest of the text.
  static UnicodeString ScanSQLParams(const UnicodeString& aText, bool aCreate, db::TParams* aParams);

 protected:
  void GetStatementTextAndType(UnicodeString& aText, TzfStatementType& aType) const override;

 private:
  void SQLChanged();
  UnicodeString quText;
  bool quParamCheck = true;
  rtl::TStringList quSql;
};

class TzfStoredProc : public TzfStatementDataSet {
 public:
  explicit TzfStoredProc(rtl::TComponent* aOwner = nullptr) : TzfStatementDataSet(aOwner) {}
  const char16_t* ClassName() const override { return u"TzfStoredProc"; }

  const UnicodeString& StoredProcName() const { return spStoredProcName; }
  // Inactive only; a new name unprepares and clears the parameters.
  void SetStoredProcName(const UnicodeString& aValue);
  // Also fetches the parameters when there are none.
  void Prepare() override;
  // Params from the catalogue again.
  void RefreshParam();
  void ExecProc() { Execute(); }

 protected:
  void GetStatementTextAndType(UnicodeString& aText, TzfStatementType& aType) const override;

 private:
  void FetchParams();
  UnicodeString spStoredProcName;
};

}  // namespace zf
