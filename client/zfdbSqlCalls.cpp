// The session's and the database's statement calls: the stored-procedure catalogue, queries and
// procedures run through short-lived statement datasets, transactions started with tables, and
// the session's pass-through calls.
#include <fstream>
#include <iterator>

#include "client/zfdb.h"
#include "client/zfdbCursor.h"
#include "client/zfdbStatement.h"
#include "client/zfdbTable.h"
#include "dictionary/zfsdConst.h"
#include "dictionary/zfsdSessionPassThrough.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

namespace {

constexpr const char16_t* kSTableMustBeActive = u"Table %d (%s) must be active";
constexpr int32_t kCatalogueBlockReadSize = 524288;

// Empties aList and fills it between one update bracket.
template <typename F>
void Refill(rtl::TStrings& aList, F&& aFill) {
  struct TUpdate {
    rtl::TStrings& List;
    explicit TUpdate(rtl::TStrings& aL) : List(aL) { List.BeginUpdate(); }
    ~TUpdate() { List.EndUpdate(); }
  } update(aList);
  aList.Clear();
  aFill();
}

// Starts a transaction on aEngine that locks the engine cursors of aTables, in order; a closed
// table raises (aRaise) its position and name.
uint32_t StartWithTables(TzfBaseTransContext* aEngine, bool aFailSafe, bool aSnapShot,
                         const std::vector<TzfTable*>& aTables,
                         const std::function<void(const UnicodeString&)>& aRaise) {
  std::vector<TzfAbstractCursor*> cursors;
  cursors.reserve(aTables.size());
  for (size_t i = 0; i < aTables.size(); ++i) {
    TzfTable* t = aTables[i];
    if (!t || !t->Active() || !t->AbstractCursor())
      aRaise(rtl::Format(kSTableMustBeActive,
                         {static_cast<int32_t>(i), t ? t->TableName() : UnicodeString()}));
    cursors.push_back(t ? t->AbstractCursor() : nullptr);
  }
  return aEngine->TransactionStartWith(aFailSafe, aSnapShot, cursors);
}

// One catalogue column of every row of "SELECT * from <table>".
void ReadCatalogueNames(TzfDatabase& aDatabase, const UnicodeString& aQuery, const UnicodeString& aColumn,
                        rtl::TStrings& aList) {
  auto query = aDatabase.OpenQuery(aQuery, {}, kCatalogueBlockReadSize, false);
  for (query->First(); !query->Eof(); query->Next()) aList.Add(query->FieldByName(aColumn).GetAsString());
}

void ReadCatalogueParams(TzfDatabase& aDatabase, const UnicodeString& aQuery, const UnicodeString& aPrefix,
                         const UnicodeString& aName, TzfSqlParamList& aParams) {
  aParams.clear();
  auto query = aDatabase.OpenQuery(aQuery, {TzfVarRec(aName)}, kCatalogueBlockReadSize, false);
  for (query->First(); !query->Eof(); query->Next()) {
    TzfSqlParamDesc d;
    d.Name = query->FieldByName(aPrefix + u"_ARGUMENT_NAME").GetAsString();
    d.FieldType = zfFieldTypeFromName(query->FieldByName(aPrefix + u"_ARGUMENT_TYPE").GetAsString());
    d.ParamType = zfParamTypeFromName(query->FieldByName(aPrefix + u"_ARGUMENT_KIND").GetAsString());
    aParams.push_back(std::move(d));
  }
}

}  // namespace

// ---- session ------------------------------------------------------------------------------------------

void TzfBaseSession::GetStoredProcNames(const UnicodeString& aAliasName, rtl::TStrings* aList) {
  CheckResult(zfCheckAliasName(aAliasName, true));
  if (!aList) RaiseError(zfErrInvalidParam);
  Refill(*aList, [&] { WithImplicitDatabase(aAliasName, [&](TzfDatabase* d) { d->GetStoredProcNames(aList); }); });
}

void TzfBaseSession::GetStoredFuncNames(const UnicodeString& aAliasName, rtl::TStrings* aList) {
  CheckResult(zfCheckAliasName(aAliasName, true));
  if (!aList) RaiseError(zfErrInvalidParam);
  Refill(*aList, [&] { WithImplicitDatabase(aAliasName, [&](TzfDatabase* d) { d->GetStoredFuncNames(aList); }); });
}

void TzfBaseSession::GetStoredProcParams(const UnicodeString& aAliasName, const UnicodeString& aName,
                                         TzfSqlParamList& aParams) {
  aParams.clear();
  CheckResult(zfCheckAliasName(aAliasName, true));
  CheckResult(zfCheckProcedureName(aName, true));
  WithImplicitDatabase(aAliasName, [&](TzfDatabase* d) { d->GetStoredProcParams(aName, aParams); });
}

void TzfBaseSession::GetStoredFuncParams(const UnicodeString& aAliasName, const UnicodeString& aName,
                                         TzfSqlParamList& aParams) {
  aParams.clear();
  CheckResult(zfCheckAliasName(aAliasName, true));
  CheckResult(zfCheckProcedureName(aName, true));
  WithImplicitDatabase(aAliasName, [&](TzfDatabase* d) { d->GetStoredFuncParams(aName, aParams); });
}

int32_t TzfBaseSession::PassThrough(int32_t aValue) {
  if (auto* p = dynamic_cast<IzfSessionPassThrough*>(bsAbstractSession)) return p->PassThrough(aValue);
  return 0;
}

uint32_t TzfBaseSession::TimedPassThrough(uint32_t aTimeout, int32_t aValue, int32_t& aResult) {
  if (aTimeout == 0) aTimeout = EffectiveTimeout();
  if (auto* p = dynamic_cast<IzfSessionTimedPassThrough*>(bsAbstractSession))
    return p->TimedPassThrough(aTimeout, aValue, aResult);
  return zfErrNetCannotConnect;
}

uint32_t TzfBaseSession::TimedPassThroughStream(uint32_t aTimeout, rtl::TStream* aRequest, rtl::TStream* aReply) {
  if (aTimeout == 0) aTimeout = EffectiveTimeout();
  if (auto* p = dynamic_cast<IzfSessionTimedPassThrough*>(bsAbstractSession))
    return p->TimedPassThroughStream(aTimeout, aRequest, aReply);
  return zfErrNetCannotConnect;
}

void TzfBaseSession::TimedNotify(uint32_t aTimeout) {
  if (aTimeout == 0) aTimeout = EffectiveTimeout();
  if (auto* p = dynamic_cast<IzfSessionTimedPassThrough*>(bsAbstractSession)) p->TimedNotify(aTimeout);
}

// ---- transactions with tables ---------------------------------------------------------------------------

uint32_t TzfTransContext::StartTransactionWithEx(const std::vector<TzfTable*>& aTables, bool aSnapShot) {
  CheckStarted();
  return StartWithTables(tcAbstractTransContext, tcFailSafe, aSnapShot, aTables,
                         [&](const UnicodeString& aMsg) { RaiseError(aMsg); });
}

void TzfTransContext::StartTransactionWith(const std::vector<TzfTable*>& aTables, bool aSnapShot) {
  CheckResult(StartTransactionWithEx(aTables, aSnapShot));
}

uint32_t TzfDatabase::StartTransactionWithEx(const std::vector<TzfTable*>& aTables, bool aSnapShot) {
  CheckStarted();
  return StartWithTables(dbAbstractDatabase, dbFailSafe, aSnapShot, aTables,
                         [&](const UnicodeString& aMsg) { RaiseError(aMsg); });
}

void TzfDatabase::StartTransactionWith(const std::vector<TzfTable*>& aTables, bool aSnapShot) {
  CheckResult(StartTransactionWithEx(aTables, aSnapShot));
}

// ---- statements -----------------------------------------------------------------------------------------

int32_t TzfDatabase::QueryCount() const {
  int32_t n = 0;
  for (TzfCursor* c : dbDataSets)
    if (dynamic_cast<TzfStatementDataSet*>(c->DataSet())) ++n;
  return n;
}

rtl::TComponentPtr<TzfQuery> TzfDatabase::OpenQuery(const UnicodeString& aQueryText, const TzfConstArray& aParams,
                                                    int32_t aBlockReadSize, bool aRequestLive) {
  rtl::TComponentPtr<TzfQuery> query(new TzfQuery(nullptr));
  query->SetDatabase(this);
  query->SetSQL(aQueryText);
  AssignParamValues(query->Params(), aParams);
  query->SetBlockReadSize(aBlockReadSize);
  query->SetRequestLive(aRequestLive);
  query->Open();
  return query;
}

rtl::TComponentPtr<TzfStoredProc> TzfDatabase::OpenStoredProc(const UnicodeString& aStoredProcName,
                                                              const TzfConstArray& aParams, int32_t aBlockReadSize) {
  rtl::TComponentPtr<TzfStoredProc> proc(new TzfStoredProc(nullptr));
  proc->SetDatabase(this);
  proc->SetStoredProcName(aStoredProcName);
  AssignParamValues(proc->Params(), aParams);
  proc->SetBlockReadSize(aBlockReadSize);
  proc->Open();
  return proc;
}

void TzfDatabase::ExecQuery(const UnicodeString& aQueryText, const TzfConstArray& aParams,
                            TzfDynVariantArray& aResults) {
  aResults.clear();
  rtl::TComponentPtr<TzfQuery> query(new TzfQuery(nullptr));
  query->SetDatabase(this);
  query->SetSQL(aQueryText);
  AssignParamValues(query->Params(), aParams);
  query->ExecSQL();
  GetOutputParamValues(query->Params(), aResults);
}

void TzfDatabase::ExecQueryFromFile(const UnicodeString& aFileName, const TzfConstArray& aParams,
                                    TzfDynVariantArray& aResults) {
  aResults.clear();
  std::ifstream file(rtl::u8(aFileName), std::ios::binary);
  if (!file) RaiseError(zfErrCantOpenFile);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) RaiseError(zfErrReadErr);
  ExecQuery(rtl::u16(text), aParams, aResults);
}

void TzfDatabase::ExecQueryFromStream(rtl::TStream& aStream, const TzfConstArray& aParams,
                                      TzfDynVariantArray& aResults) {
  aResults.clear();
  const int64_t left = aStream.GetSize() - aStream.GetPosition();
  std::string text(static_cast<size_t>(left > 0 ? left : 0), '\0');
  size_t done = 0;
  while (done < text.size()) {
    const auto chunk = static_cast<int32_t>(std::min<size_t>(text.size() - done, 1u << 30));
    const int32_t got = aStream.Read(text.data() + done, chunk);
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  text.resize(done);
  ExecQuery(rtl::u16(text), aParams, aResults);
}

void TzfDatabase::ExecStoredProc(const UnicodeString& aStoredProcName, const TzfConstArray& aParams,
                                 TzfDynVariantArray& aResults) {
  aResults.clear();
  rtl::TComponentPtr<TzfStoredProc> proc(new TzfStoredProc(nullptr));
  proc->SetDatabase(this);
  proc->SetStoredProcName(aStoredProcName);
  proc->RefreshParam();
  AssignParamValues(proc->Params(), aParams);
  proc->ExecProc();
  GetOutputParamValues(proc->Params(), aResults);
}

void TzfDatabase::GetStoredProcNames(rtl::TStrings* aList) {
  if (!aList) RaiseError(zfErrInvalidParam);
  CheckStarted();
  Refill(*aList, [&] { ReadCatalogueNames(*this, u"SELECT * from #PROCEDURES", u"PROCEDURE_NAME", *aList); });
}

void TzfDatabase::GetStoredFuncNames(rtl::TStrings* aList) {
  if (!aList) RaiseError(zfErrInvalidParam);
  CheckStarted();
  Refill(*aList, [&] { ReadCatalogueNames(*this, u"SELECT * from #FUNCTIONS", u"FUNCTION_NAME", *aList); });
}

void TzfDatabase::GetStoredProcParams(const UnicodeString& aName, TzfSqlParamList& aParams) {
  ReadCatalogueParams(*this, u"SELECT * FROM #PROCEDURE_ARGUMENTS WHERE PROCEDURE_NAME = :name", u"PROCEDURE",
                      aName, aParams);
}

void TzfDatabase::GetStoredFuncParams(const UnicodeString& aName, TzfSqlParamList& aParams) {
  ReadCatalogueParams(*this, u"SELECT * FROM #FUNCTION_ARGUMENTS WHERE FUNCTION_NAME = :name", u"FUNCTION", aName,
                      aParams);
}

}  // namespace zf
