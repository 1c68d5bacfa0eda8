// A stand-in SQL engine for tests of the statement paths (no SQL engine is part of the system).
//
// Its statements understand two texts: "SELECT * FROM <table>" (a "#" before the name is dropped)
// opens a cursor on that real engine table, in the open mode asked for, and so does the stored
// procedure "List<table>"; any other text runs
// without a result and reports the number of parameters it was given as rows affected. Output
// and result parameters come back as the Int32 7; an in-out Int32 comes back doubled. The
// execution stream is left at the start of what the statement wrote. A test can
// make one step fail with a code and an error text, and reads what the statements were given.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "dictionary/zfsdAbstractCursor.h"
#include "foundation/zfllErrors.h"
#include "platform/rtl/rtlStream.h"
#include "server/zfsrServerLinks.h"

namespace zf::test {

class TTestSqlEngine;

struct TTestSqlCall {
  TzfStatementType Type = stQuery;
  UnicodeString Text;
  TzfSqlParamList Params;
  bool ExecDirect = false;
};

class TTestStatement : public TzfAbstractStatement {
 public:
  TTestStatement(TzfAbstractDatabase* aDatabase, uint32_t aTimeout, TTestSqlEngine* aEngine)
      : TzfAbstractStatement(aDatabase, aTimeout), tsEngine(aEngine) {}
  uint32_t Prepare(TzfStatementType aStatementType, const UnicodeString& aQueryText, rtl::TStream* aStream) override;
  uint32_t Exec(TzfAbstractCursor*& aCursor, TzfOpenMode aOpenMode, rtl::TStream* aStream) override;
  uint32_t SetParams(const TzfSqlParamList& aParams, rtl::TStream* aStream) override;
  uint32_t GetParams(TzfSqlParamList& aParams, rtl::TStream* aStream) override;

 private:
  TTestSqlEngine* tsEngine;
  TTestSqlCall tsCall;
};

class TTestSqlEngine : public TzfBaseSqlEngine {
 public:
  using TzfBaseSqlEngine::TzfBaseSqlEngine;
  enum TStep { None, Prepare, SetParams, Exec, GetParams };

  void PrepareShutdown() override { ++Shutdowns; }
  uint32_t StatementAlloc(TzfAbstractDatabase* aDatabase, TzfAbstractStatement*& aStatement,
                          uint32_t aTimeout) override {
    ++Allocations;
    aStatement = zfCreateServerObject<TTestStatement>(aDatabase, aTimeout, this);
    return 0;
  }

  // Fails aStep with aCode; aText goes into the step's stream ("" writes a length of 0).
  void FailAt(TStep aStep, uint32_t aCode, const std::string& aText) {
    Fail = aStep;
    FailCode = aCode;
    FailText = aText;
  }
  uint32_t Failing(TStep aStep, rtl::TStream* aStream) const {
    if (Fail != aStep) return 0;
    if (aStream) {
      const auto n = static_cast<int32_t>(FailText.size());
      aStream->SetPosition(0);
      aStream->Write(&n, 4);
      aStream->Write(FailText.data(), n);
    }
    return FailCode;
  }

  int32_t Shutdowns = 0;
  int32_t Allocations = 0;
  TStep Fail = None;
  uint32_t FailCode = 0;
  std::string FailText;
  // A log line each result writes.
  std::vector<std::string> LogLines{"ran"};
  // Lines the log count promises beyond those written (a damaged stream).
  int32_t MissingLogLines = 0;
  std::vector<TTestSqlCall> Calls;  // one per Exec
};

inline void zfTestWriteInt32(rtl::TStream& aStream, int32_t aValue) { aStream.Write(&aValue, 4); }

inline uint32_t TTestStatement::Prepare(TzfStatementType aStatementType, const UnicodeString& aQueryText,
                                        rtl::TStream* aStream) {
  tsCall.Type = aStatementType;
  tsCall.Text = aQueryText;
  tsCall.ExecDirect = ExecDirect();
  return tsEngine->Failing(TTestSqlEngine::Prepare, aStream);
}

inline uint32_t TTestStatement::SetParams(const TzfSqlParamList& aParams, rtl::TStream* aStream) {
  tsCall.Params = aParams;
  return tsEngine->Failing(TTestSqlEngine::SetParams, aStream);
}

inline uint32_t TTestStatement::Exec(TzfAbstractCursor*& aCursor, TzfOpenMode aOpenMode, rtl::TStream* aStream) {
  aCursor = nullptr;
  tsEngine->Calls.push_back(tsCall);
  if (const uint32_t r = tsEngine->Failing(TTestSqlEngine::Exec, aStream)) return r;
  const int64_t start = aStream->GetPosition();  // the client reads from where the result starts
  const UnicodeString select = u"SELECT * FROM ";
  UnicodeString text = tsCall.Text;
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) text.pop_back();
  const bool listProc = tsCall.Type == stStoredProcedure && text.substr(0, 4) == u"List";
  if (listProc || (tsCall.Type == stQuery && rtl::SameText(text.substr(0, select.size()), select))) {
    UnicodeString table = text.substr(listProc ? 4 : select.size());
    table = table.substr(0, table.find(u' '));
    if (!table.empty() && table[0] == u'#') table.erase(0, 1);
    if (const uint32_t r = Database()->CursorOpen(aCursor, table, u"", aOpenMode, smShared, 2000, false)) return r;
    const uint8_t modifiable = aOpenMode == omReadWrite ? 1 : 0;
    aStream->Write(&modifiable, 1);
    zfTestWriteInt32(*aStream, 0);
  } else {
    zfTestWriteInt32(*aStream, static_cast<int32_t>(tsCall.Params.size()));
  }
  zfTestWriteInt32(*aStream, 3);  // records read
  zfTestWriteInt32(*aStream, static_cast<int32_t>(tsEngine->LogLines.size()) + tsEngine->MissingLogLines);
  for (const std::string& line : tsEngine->LogLines) {
    zfTestWriteInt32(*aStream, static_cast<int32_t>(line.size()));
    aStream->Write(line.data(), static_cast<int32_t>(line.size()));
  }
  aStream->SetPosition(start);
  return 0;
}

inline uint32_t TTestStatement::GetParams(TzfSqlParamList& aParams, rtl::TStream* aStream) {
  if (const uint32_t r = tsEngine->Failing(TTestSqlEngine::GetParams, aStream)) return r;
  for (TzfSqlParamDesc& p : aParams) {
    if (p.ParamType == zfptOutput || p.ParamType == zfptResult) {
      p.FieldType = zftInt32;
      const int32_t seven = 7;
      p.Data.assign(4, 0);
      std::memcpy(p.Data.data(), &seven, 4);
    } else if (p.ParamType == zfptInputOutput && p.FieldType == zftInt32 && p.Data.size() == 4) {
      int32_t v = 0;
      std::memcpy(&v, p.Data.data(), 4);
      v *= 2;
      std::memcpy(p.Data.data(), &v, 4);
    }
  }
  return 0;
}

}  // namespace zf::test
