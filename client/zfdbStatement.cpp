#include "client/zfdbStatement.h"

#include <algorithm>
#include <cstring>

#include "client/zfdbConversion.h"
#include "client/zfdbCursor.h"
#include "dictionary/zfsdNativeVariantConverter.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "platform/db/dbConsts.h"
#include "platform/rtl/rtlAnsi.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

namespace {

constexpr const char16_t* kSNoSQLStatement = u"No SQL statement specified";
constexpr const char16_t* kSPrepareFailed = u"Query preparation failed: %s%s";
constexpr const char16_t* kSSetParamsFailed = u"Query set parameters failed: %s%s";
constexpr const char16_t* kSExecFailed = u"Query execution failed: %s%s";
constexpr const char16_t* kSGetParamsFailed = u"Query get parameters failed: %s%s";
constexpr const char16_t* kSCircularDataLink = u"Circular data link with data source [%s]";
constexpr const char16_t* kSInvalidParamValue = u"Invalid value for param '%s'";
constexpr uint16_t kParamCodePage = rtl::CP_UTF8;

bool IsOutput(TzfParamType aType) {
  return aType == zfptOutput || aType == zfptInputOutput || aType == zfptResult;
}

bool IsOutput(db::TParamType aType) {
  return aType == db::ptOutput || aType == db::ptInputOutput || aType == db::ptResult;
}

// Reads exactly aCount bytes of a stream a statement wrote; a short one is damaged.
void ReadExact(rtl::TStream& aStream, void* aBuffer, int64_t aCount) {
  if (aCount < 0 || aStream.GetSize() - aStream.GetPosition() < aCount)
    throw EzfBaseException(zfErrIncompatibleStream);
  if (aCount > 0 && aStream.Read(aBuffer, static_cast<int32_t>(aCount)) != aCount)
    throw EzfBaseException(zfErrIncompatibleStream);
}

int32_t ReadInt32(rtl::TStream& aStream) {
  uint8_t b[4];
  ReadExact(aStream, b, 4);
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
}

// A length-prefixed 8-bit text (system ANSI code page); the length is bounded by the stream.
UnicodeString ReadText(rtl::TStream& aStream) {
  const int32_t length = ReadInt32(aStream);
  std::string bytes(static_cast<size_t>(length < 0 ? 0 : length), '\0');
  ReadExact(aStream, bytes.data(), length);
  return rtl::AnsiToUnicode(rtl::AnsiString(std::move(bytes)));
}

// The platform type of a value assigned to a parameter of unknown type.
db::TFieldType FieldTypeOfVariant(const rtl::Variant& aValue) {
  switch (aValue.VarType()) {
    case rtl::varBoolean: return db::ftBoolean;
    case rtl::varShortInt: case rtl::varSmallint: case rtl::varByte: case rtl::varWord: case rtl::varInteger:
      return db::ftInteger;
    case rtl::varLongWord: case rtl::varInt64: case rtl::varUInt64: return db::ftLargeint;
    case rtl::varSingle: case rtl::varDouble: return db::ftFloat;
    case rtl::varCurrency: return db::ftCurrency;
    case rtl::varDate: return db::ftDateTime;
    case rtl::varOleStr: case rtl::varUString: return db::ftWideString;
    case rtl::varString: return db::ftString;
    case rtl::varByteArray: return db::ftBlob;
    default: return db::ftUnknown;
  }
}

// A comma text into its items: items are separated by commas, and an item in double quotes may
// hold commas and doubled quotes.
void SplitCommaText(const UnicodeString& aText, rtl::TStrings& aList) {
  size_t i = 0;
  const size_t n = aText.size();
  while (i <= n) {
    UnicodeString item;
    if (i < n && aText[i] == u'"') {
      ++i;
      while (i < n) {
        if (aText[i] == u'"') {
          if (i + 1 < n && aText[i + 1] == u'"') {
            item.push_back(u'"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item.push_back(aText[i++]);
      }
      while (i < n && aText[i] != u',') ++i;
    } else {
      const size_t end = std::min(aText.find(u',', i), n);
      item = aText.substr(i, end - i);
      i = end;
    }
    aList.Add(item);
    ++i;  // past the comma (or the end)
  }
}

void SetTyped(db::TParam& aParam, db::TFieldType aType, const rtl::Variant& aValue) {
  aParam.SetDataType(aType);
  aParam.SetValue(aValue);
}

}  // namespace

// ---- open arrays of values -----------------------------------------------------------------------

TzfVarRec TzfVarRec::Make(TKind aKind, const void* aPointer, const db::TParam* aPersistent) {
  TzfVarRec r;
  r.Kind = aKind;
  r.Pointer = aPointer;
  r.Persistent = aPersistent;
  return r;
}

TzfVarRec TzfVarRec::Object(const db::TParam* aParam) { return Make(vtObject, aParam, aParam); }
TzfVarRec TzfVarRec::OtherObject(const void* aObject) { return Make(vtObject, aObject, nullptr); }
TzfVarRec TzfVarRec::RawPointer(const void* aPointer) { return Make(vtPointer, aPointer, nullptr); }
TzfVarRec TzfVarRec::Class(const void* aClass) { return Make(vtClass, aClass, nullptr); }
TzfVarRec TzfVarRec::Interface(const void* aInterface) { return Make(vtInterface, aInterface, nullptr); }

void AssignParamValue(db::TParam& aParam, const TzfVarRec& aValue, int32_t aIndex) {
  switch (aValue.Kind) {
    case TzfVarRec::vtInteger: SetTyped(aParam, db::ftInteger, aValue.Value); return;
    case TzfVarRec::vtBoolean: SetTyped(aParam, db::ftBoolean, aValue.Value); return;
    case TzfVarRec::vtExtended: SetTyped(aParam, db::ftFloat, aValue.Value); return;
    case TzfVarRec::vtChar: case TzfVarRec::vtString: case TzfVarRec::vtPChar: case TzfVarRec::vtAnsiString:
      SetTyped(aParam, db::ftString, aValue.Value);
      return;
    case TzfVarRec::vtCurrency: SetTyped(aParam, db::ftCurrency, aValue.Value); return;
    case TzfVarRec::vtVariant:
      if (aValue.Value.IsEmptyOrNull()) {
        aParam.Clear();
      } else {
        if (aParam.DataType() == db::ftUnknown) aParam.SetDataType(FieldTypeOfVariant(aValue.Value));
        aParam.SetValue(aValue.Value);
      }
      return;
    case TzfVarRec::vtPWideChar: case TzfVarRec::vtWideString: case TzfVarRec::vtUnicodeString:
      SetTyped(aParam, db::ftWideString, aValue.Value);
      return;
    case TzfVarRec::vtInt64: SetTyped(aParam, db::ftLargeint, aValue.Value); return;
    case TzfVarRec::vtPointer:
      if (!aValue.Pointer) return;  // nil leaves the parameter as it is
      break;
    case TzfVarRec::vtObject:
      if (!aValue.Pointer) return;
      if (aValue.Persistent) {
        aParam.SetDataType(aValue.Persistent->DataType());
        aParam.SetValue(aValue.Persistent->Value());
        return;
      }
      break;
    default: break;
  }
  const UnicodeString name =
      aParam.Name().empty() ? rtl::Format(u"<UnnamedParam:%d>", {aIndex}) : aParam.Name();
  db::DatabaseErrorFmt(kSInvalidParamValue, {name});
}

void AssignParamValues(db::TParams& aParams, const TzfConstArray& aValues) {
  size_t next = 0;
  for (int32_t i = 0; i < aParams.Count() && next < aValues.size(); ++i) {
    db::TParam& p = aParams[i];
    if (p.ParamType() == db::ptOutput || p.ParamType() == db::ptResult) continue;
    AssignParamValue(p, aValues[next++], i);
  }
}

void GetOutputParamValues(const db::TParams& aParams, TzfDynVariantArray& aValues) {
  aValues.clear();
  for (int32_t i = 0; i < aParams.Count(); ++i)
    if (IsOutput(aParams[i].ParamType())) aValues.push_back(aParams[i].Value());
}

// ---- master link ---------------------------------------------------------------------------------

void TzfStatementDataSetDataLink::Refresh() {
  TzfStatementDataSet& ds = *sddlStatementDataSet;
  if (!ds.Active() || !Active() || (DataSet() && DataSet()->State() == db::dsSetKey)) return;
  // Closed and opened again with its controls disabled, so they see one change.
  ds.DisableControls();
  struct TEnable {
    TzfStatementDataSet& DataSet;
    ~TEnable() { DataSet.EnableControls(); }
  } enable{ds};
  ds.Close();
  ds.Open();
}

void TzfStatementDataSetDataLink::ActiveChanged() { Refresh(); }

void TzfStatementDataSetDataLink::RecordChanged(db::TField* aField) {
  if (!aField) Refresh();
}

void TzfStatementDataSetDataLink::CheckBrowseMode() {
  if (sddlStatementDataSet->Active()) sddlStatementDataSet->CheckBrowseMode();
}

// ---- statement dataset -----------------------------------------------------------------------------

TzfStatementDataSet::TzfStatementDataSet(rtl::TComponent* aOwner) : TzfDataset(aOwner), sdDataLink(this) {}

TzfStatementDataSet::~TzfStatementDataSet() = default;

void TzfStatementDataSet::BeforeDestruction() {
  try {
    Unprepare();
  } catch (...) {
    // The statement goes with the dataset whatever its engine answers.
  }
  TzfDataset::BeforeDestruction();
}

uint16_t TzfStatementDataSet::ParamCount() const {
  const int32_t n = sdParams.Count();
  if (n > 0xFFFF) throw rtl::ERangeError(u"Range check error");
  return static_cast<uint16_t>(n);
}

void TzfStatementDataSet::SetPrepared(bool aValue) {
  if (aValue) {
    Prepare();
  } else {
    Unprepare();
  }
}

void TzfStatementDataSet::SetDataSource(db::TDataSource* aValue) {
  if (aValue && aValue->IsLinkedTo(this))
    throw EzfDatabaseError(TzfErrorSource(this), kSCircularDataLink, {aValue->Name()});
  sdDataLink.SetDataSource(aValue);
}

void TzfStatementDataSet::SetRequestLive(bool aValue) {
  if (aValue == sdRequestLive) return;
  CheckInactive();
  sdRequestLive = aValue;
}

bool TzfStatementDataSet::CanModify() const {
  return Active() && sdCanModify && !sdReadOnly && !(Database() && Database()->ReadOnly());
}

void TzfStatementDataSet::ResetCounters() {
  sdRowsAffected = -1;
  sdRecordsRead = 0;
  sdCanModify = false;
  sdExecuted = false;
}

[[noreturn]] void TzfStatementDataSet::RaiseStatementError(uint32_t aCode, const char16_t* aFormat,
                                                           rtl::TStream* aStream) const {
  UnicodeString text;
  if (aStream && aStream->GetSize() >= 4) {
    try {
      aStream->SetPosition(0);
      text = ReadText(*aStream);
    } catch (const EzfBaseException&) {
      text.clear();  // a damaged error text is no text
    }
  }
  if (aCode == 0) aCode = zfErrNotSupported;
  if (text.empty()) throw EzfDatabaseError(TzfErrorSource(this), aCode);
  throw EzfDatabaseError(TzfErrorSource(this), aCode, aFormat, {UnicodeString(u"\r\n"), text});
}

void TzfStatementDataSet::Prepare() {
  if (sdAbstractStatement) return;
  CursorLink()->Open();
  ResetCounters();
  UnicodeString text;
  TzfStatementType type = stQuery;
  GetStatementTextAndType(text, type);
  if (text.empty()) throw EzfDatabaseError(TzfErrorSource(this), kSNoSQLStatement);
  TzfAbstractDatabase* engine = Database() ? Database()->AbstractDatabase() : nullptr;
  if (!engine) RaiseError(zfErrInvalidParam);
  TzfAbstractStatement* statement = nullptr;
  const uint32_t code = engine->StatementAlloc(statement, EffectiveTimeout());
  if (code != 0) {
    if (statement) statement->Free();
    RaiseError(code);
  }
  try {
    TzfMemoryStream errors(-1);
    if (const uint32_t r = statement->Prepare(type, text, &errors)) RaiseStatementError(r, kSPrepareFailed, &errors);
  } catch (...) {
    statement->Free();
    throw;
  }
  sdAbstractStatement = statement;
}

void TzfStatementDataSet::Unprepare() {
  if (TzfAbstractStatement* statement = sdAbstractStatement) {
    sdAbstractStatement = nullptr;
    statement->Free();
  }
  if (!Active() && State() != db::dsOpening && CursorLink() &&
      CursorLink()->StateTransition() == zfstNone) CursorLink()->Close();
}

void TzfStatementDataSet::ShutdownFromCursor() {
  const bool wasPrepared = sdWasPrepared;
  TzfDataset::ShutdownFromCursor();
  if (!wasPrepared) {
    if (TzfAbstractStatement* statement = sdAbstractStatement) {
      sdAbstractStatement = nullptr;
      statement->Free();
    }
  }
}

void TzfStatementDataSet::CheckInactiveFromCursor() {
  TzfDataset::CheckInactiveFromCursor();
  if (TzfAbstractStatement* statement = sdAbstractStatement) {
    sdAbstractStatement = nullptr;
    statement->Free();
  }
}

void TzfStatementDataSet::ParamsToParamList(TzfSqlParamList& aList, bool& aHasOutput) {
  aList.clear();
  aHasOutput = false;
  aList.reserve(static_cast<size_t>(sdParams.Count()));
  for (int32_t i = 0; i < sdParams.Count(); ++i) {
    const db::TParam& p = sdParams[i];
    TzfSqlParamDesc desc;
    desc.Name = p.Name();
    desc.ParamType = static_cast<TzfParamType>(p.ParamType());
    db::TFieldType type = p.DataType();
    if (type == db::ftUnknown && !p.IsNull()) type = FieldTypeOfVariant(p.Value());
    int32_t size = 0;
    switch (type) {
      case db::ftWideString: case db::ftFixedWideChar: case db::ftWideMemo:
        size = p.IsNull() ? 0 : static_cast<int32_t>(p.Value().AsString().size());
        break;
      case db::ftLargeint: size = 8; break;
      case db::ftGuid: size = 16; break;
      case db::ftString: case db::ftFixedChar: case db::ftMemo:
        size = p.IsNull() ? 0 : static_cast<int32_t>(p.Value().AsString().size()) + 1;
        break;
      default: size = 0; break;
    }
    int32_t storage = 0;
    const bool mapped = type != db::ftUnknown && zfVclMapperByVclType[type] != nullptr;
    if (mapped) TzfBaseVclFieldMapper::MapParamTypeAndSizeToZofrin(type, size, desc.FieldType, storage);
    if (!p.IsNull()) {
      if (!mapped) RaiseError(zfErrInvalidParam);  // a value of a type the engine has no field for
      if (type == db::ftBlob || type == db::ftGraphic) {
        if (p.Value().IsByteArray()) {
          desc.Data = p.Value().AsBytes();
        } else {
          const rtl::AnsiString raw = p.Value().AsAnsiString(kParamCodePage);
          desc.Data.assign(raw.Bytes().begin(), raw.Bytes().end());
        }
      } else {
        VariantToByteArray(desc.FieldType, kParamCodePage, size, 0, desc.Data, p.Value());
      }
    }
    if (IsOutput(desc.ParamType)) aHasOutput = true;
    aList.push_back(std::move(desc));
  }
}

void TzfStatementDataSet::ParamListToParams(const TzfSqlParamList& aList) {
  if (static_cast<int32_t>(aList.size()) != sdParams.Count()) RaiseError(zfErrInvalidParam);
  for (int32_t i = 0; i < sdParams.Count(); ++i)
    if (static_cast<uint8_t>(aList[static_cast<size_t>(i)].ParamType) != static_cast<uint8_t>(sdParams[i].ParamType()))
      RaiseError(zfErrInvalidParam);
  for (int32_t i = 0; i < sdParams.Count(); ++i) {
    const TzfSqlParamDesc& desc = aList[static_cast<size_t>(i)];
    if (!IsOutput(desc.ParamType)) continue;
    db::TParam& p = sdParams[i];
    if (desc.Data.empty()) {
      p.Clear();
      continue;
    }
    rtl::Variant v;
    const auto length = static_cast<int32_t>(desc.Data.size());
    VariantFromBuffer(desc.FieldType, kParamCodePage, length, 0, desc.Data.data(), length, v);
    p.SetValue(v);
  }
}

void TzfStatementDataSet::ReadExecStream(rtl::TStream& aStream, bool aHasCursor) {
  if (aHasCursor) {
    uint8_t modifiable = 0;
    ReadExact(aStream, &modifiable, 1);
    ReadInt32(aStream);  // not used
    sdCanModify = sdRequestLive && modifiable != 0;
  } else {
    sdRowsAffected = ReadInt32(aStream);
  }
  sdRecordsRead = ReadInt32(aStream);
  const int32_t lines = ReadInt32(aStream);
  if (lines < 0) throw EzfBaseException(zfErrIncompatibleStream);
  for (int32_t i = 0; i < lines; ++i) sdLog.Add(ReadText(aStream));
}

void TzfStatementDataSet::OpenAbstractCursor() {
  sdWasPrepared = sdAbstractStatement != nullptr;
  try {
    // Unbound parameters take the values of the master's fields of the same names.
    if (sdDataLink.Active() && sdDataLink.DataSet()) {
      db::TDataSet& master = *sdDataLink.DataSet();
      for (int32_t i = 0; i < sdParams.Count(); ++i) {
        db::TParam& p = sdParams[i];
        if (p.Bound()) continue;
        if (db::TField* f = master.FindField(p.Name())) {
          p.SetDataType(f->DataType());
          p.SetValue(f->Value());
          p.SetBound(false);
        }
      }
    }
    TzfSqlParamList list;
    bool hasOutput = false;
    if (sdParams.Count() > 0) {
      ParamsToParamList(list, hasOutput);
      if (sdAbstractStatement) {
        TzfMemoryStream errors(-1);
        if (const uint32_t r = sdAbstractStatement->SetParams(list, &errors))
          RaiseStatementError(r, kSSetParamsFailed, &errors);
      }
    }
    const TzfOpenMode openMode = sdRequestLive ? omReadWrite : omReadOnly;
    TzfMemoryStream exec(-1);
    std::unique_ptr<TzfMemoryStream> getParams;
    if (hasOutput) getParams = std::make_unique<TzfMemoryStream>(-1);
    sdLog.Clear();
    TzfAbstractCursor* cursor = nullptr;
    if (sdAbstractStatement) {
      if (const uint32_t r = sdAbstractStatement->Exec(cursor, openMode, &exec)) {
        if (cursor) cursor->Free();
        RaiseStatementError(r, kSExecFailed, &exec);
      }
    } else {
      UnicodeString text;
      TzfStatementType type = stQuery;
      GetStatementTextAndType(text, type);
      if (text.empty()) throw EzfDatabaseError(TzfErrorSource(this), kSNoSQLStatement);
      CursorLink()->Open();
      ResetCounters();
      TzfAbstractDatabase* engine = Database() ? Database()->AbstractDatabase() : nullptr;
      if (!engine) RaiseError(zfErrInvalidParam);
      TzfMemoryStream prepare(-1);
      TzfMemoryStream setParams(-1);
      TzfStatementExecDirectPhase phase = sedAlloc;
      const uint32_t r = engine->StatementExecDirect(EffectiveTimeout(), type, text, &prepare, list, &setParams,
                                                     cursor, openMode, &exec, getParams.get(), phase);
      if (r != 0) {
        if (cursor) cursor->Free();
        switch (phase) {
          case sedPrepare: RaiseStatementError(r, kSPrepareFailed, &prepare);
          case sedSetParams: RaiseStatementError(r, kSSetParamsFailed, &setParams);
          case sedExec: RaiseStatementError(r, kSExecFailed, &exec);
          case sedGetParams: RaiseStatementError(r, kSGetParamsFailed, getParams.get());
          default: RaiseError(r);
        }
      }
    }
    dsAbstractCursor = cursor;
    sdExecuted = true;
    if (cursor) {
      int32_t recRev = -1;
      dsRecRevField = cursor->acFields().HasRecRevField(recRev);
    } else {
      dsRecRevField = false;
    }
    try {
      ReadExecStream(exec, cursor != nullptr);
    } catch (const EzfBaseException& e) {
      RaiseError(e.GetErrorCode());
    }
    if (hasOutput) {
      if (sdAbstractStatement) {
        if (const uint32_t r = sdAbstractStatement->GetParams(list, getParams.get()))
          RaiseStatementError(r, kSGetParamsFailed, getParams.get());
      }
      ParamListToParams(list);
    }
  } catch (std::exception& e) {
    CloseAbstractCursor();
    if (sdLog.Count() == 0)
      if (auto* engineError = dynamic_cast<IzfBaseException*>(&e)) {
        const UnicodeString log = engineError->GetCustomInfos().Value(u"SqlLog");
        if (!log.empty()) SplitCommaText(log, sdLog);
      }
    throw;
  }
}

void TzfStatementDataSet::Execute() {
  CheckInactive();
  OpenAbstractCursor();
  CloseAbstractCursor();
}

// ---- query ------------------------------------------------------------------------------------------

TzfQuery::TzfQuery(rtl::TComponent* aOwner) : TzfStatementDataSet(aOwner) {}

void TzfQuery::GetStatementTextAndType(UnicodeString& aText, TzfStatementType& aType) const {
  aText = quText;
  aType = stQuery;
}

UnicodeString TzfQuery::SQLText() const {
  UnicodeString text;
  for (int32_t i = 0; i < quSql.Count(); ++i) {
    text += quSql[i];
    text += u'\n';
  }
  return text;
}

void TzfQuery::SetSQL(const UnicodeString& aText) {
  rtl::TStringList lines;
  size_t start = 0;
  while (start < aText.size()) {
    size_t end = aText.find_first_of(u"\r\n", start);
    if (end == UnicodeString::npos) end = aText.size();
    lines.Add(aText.substr(start, end - start));
    if (end < aText.size() && aText[end] == u'\r' && end + 1 < aText.size() && aText[end + 1] == u'\n') ++end;
    start = end + 1;
  }
  SetSQL(lines);
}

void TzfQuery::SetSQL(const rtl::TStrings& aLines) {
  bool same = aLines.Count() == quSql.Count();
  for (int32_t i = 0; same && i < aLines.Count(); ++i) same = aLines[i] == quSql[i];
  if (same) return;
  CursorLink()->Close();
  Unprepare();
  quSql.Clear();
  quSql.AddStrings(aLines);
  SQLChanged();
}

void TzfQuery::SQLChanged() {
  const UnicodeString text = SQLText();
  if (IsLoading()) {
    quText = ScanSQLParams(text, false, nullptr);
  } else {
    CursorLink()->Close();
    Unprepare();
    if (quParamCheck || IsDesigning()) {
      db::TParams fresh;
      quText = ScanSQLParams(text, true, &fresh);
      fresh.AssignValues(Params());
      Params().Clear();
      for (int32_t i = 0; i < fresh.Count(); ++i) {
        db::TParam& p = Params().CreateParam(fresh[i].DataType(), fresh[i].Name(), fresh[i].ParamType());
        p.Assign(fresh[i]);
      }
    } else {
      quText = text;
    }
    DataEvent(db::dePropertyChange, 0);
  }
  const size_t nul = quText.find(u'\0');
  if (nul != UnicodeString::npos) quText.resize(nul);
}

UnicodeString TzfQuery::ScanSQLParams(const UnicodeString& aText, bool aCreate, db::TParams* aParams) {
  const size_t n = aText.size();
  UnicodeString out;
  out.reserve(n);
  const auto isTerminator = [](char16_t c) {
    switch (c) {
      case u'\t': case u'\n': case u'\r': case u' ': case u'(': case u')': case u'*': case u'+': case u',':
      case u'-': case u'/': case u';': case u'<': case u'=': case u'>':
        return true;
      default: return false;
    }
  };
  size_t i = 0;
  while (i < n) {
    const char16_t c = aText[i];
    const char16_t next = i + 1 < n ? aText[i + 1] : u'\0';
    if ((c == u'-' || c == u'/') && next == c) {
      // A line comment runs to the line's end.
      size_t end = aText.find_first_of(u"\r\n", i);
      if (end == UnicodeString::npos) end = n;
      out.append(aText, i, end - i);
      i = end;
    } else if (c == u'/' && next == u'*') {
      // Block comments nest.
      size_t depth = 0;
      do {
        if (i + 1 < n && aText[i] == u'/' && aText[i + 1] == u'*') {
          ++depth;
          out.append(aText, i, 2);
          i += 2;
        } else if (i + 1 < n && aText[i] == u'*' && aText[i + 1] == u'/') {
          --depth;
          out.append(aText, i, 2);
          i += 2;
        } else {
          out.push_back(aText[i++]);
        }
      } while (i < n && depth > 0);
    } else if (c == u'\'' || c == u'"') {
      // Literals: the innermost opening quote closes; the other kind nests, up to 5 levels.
      char16_t stack[5];
      size_t depth = 0;
      stack[depth++] = c;
      out.push_back(c);
      ++i;
      while (i < n && depth > 0) {
        const char16_t q = aText[i++];
        out.push_back(q);
        if (q == stack[depth - 1]) {
          --depth;
        } else if ((q == u'\'' || q == u'"') && depth < 5) {
          stack[depth++] = q;
        }
      }
    } else if (c == u':' && next == u':') {
      out.append(u"::");
      i += 2;
    } else if (c == u':') {
      UnicodeString name;
      if (next == u'"') {
        const size_t close = aText.find(u'"', i + 2);
        const size_t end = close == UnicodeString::npos ? n : close;
        name = aText.substr(i + 2, end - (i + 2));
        i = close == UnicodeString::npos ? n : close + 1;
      } else {
        size_t end = i + 1;
        while (end < n && !isTerminator(aText[end])) ++end;
        name = aText.substr(i + 1, end - (i + 1));
        i = end;
      }
      if (aCreate && aParams) aParams->CreateParam(db::ftUnknown, name, db::ptUnknown);
      out.push_back(u'?');
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return out;
}

// ---- stored procedure -------------------------------------------------------------------------------

void TzfStoredProc::GetStatementTextAndType(UnicodeString& aText, TzfStatementType& aType) const {
  aText = spStoredProcName;
  aType = stStoredProcedure;
}

void TzfStoredProc::SetStoredProcName(const UnicodeString& aValue) {
  if (IsLoading()) {
    spStoredProcName = aValue;
    return;
  }
  CheckInactive();
  if (aValue == spStoredProcName) return;
  Unprepare();
  spStoredProcName = aValue;
  Params().Clear();
  if (IsDesigning()) {
    try {
      FetchParams();
    } catch (const std::exception&) {
      // At design time a catalogue that cannot be read leaves the list empty.
    }
  }
}

void TzfStoredProc::FetchParams() {
  TzfDatabase* database = Database();
  if (!database) throw EzfDatabaseError(TzfErrorSource(this), u"DataSet cannot open its database");
  TzfSqlParamList list;
  database->GetStoredProcParams(spStoredProcName, list);
  if (list.empty()) database->GetStoredFuncParams(spStoredProcName, list);
  for (const TzfSqlParamDesc& d : list)
    Params().CreateParam(TzfBaseVclFieldMapper::MapZofrinToParamType(d.FieldType), d.Name,
                         static_cast<db::TParamType>(d.ParamType));
}

void TzfStoredProc::Prepare() {
  TzfStatementDataSet::Prepare();
  if (Params().Count() == 0) FetchParams();
}

void TzfStoredProc::RefreshParam() {
  Params().Clear();
  FetchParams();
}

}  // namespace zf
