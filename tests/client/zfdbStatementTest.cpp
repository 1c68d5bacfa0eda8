// Query and stored-procedure datasets: the parameter scanner, parameter values, the runs without
// an SQL engine, and the whole statement path over real engine tables through a test SQL engine.
#include <gtest/gtest.h>

#include <fstream>

#include "client/zfdbStatement.h"
#include "foundation/zfllStreams.h"
#include "tests/client/zfdbTableTestUtil.h"
#include "tests/server/zfsrTestSqlEngine.h"

namespace zf::test {
namespace {

std::vector<UnicodeString> Names(const db::TParams& aParams) {
  std::vector<UnicodeString> names;
  for (int32_t i = 0; i < aParams.Count(); ++i) names.push_back(aParams[i].Name());
  return names;
}

// ---- the scanner -----------------------------------------------------------------------------------

struct ScanCase {
  const char* Name;
  const char16_t* Text;
  const char16_t* Expected;
  std::vector<UnicodeString> Params;
};

TEST(QueryScanner, RewritesParametersAndLeavesLiteralsAndCommentsAlone) {
  const ScanCase cases[] = {
      {"where, literal, line comment", u"SELECT * FROM T WHERE A = :A AND B = ':B' -- :C\n",
       u"SELECT * FROM T WHERE A = ? AND B = ':B' -- :C\n", {u"A"}},
      {"slash line comment ends at CR", u"// :x\r\n:y\n", u"// :x\r\n?\n", {u"y"}},
      {"quoted name with a blank", u"A = :\"first name\" AND B\n", u"A = ? AND B\n", {u"first name"}},
      {"double colon stays", u"CAST(A AS INT)::TEXT, :p\n", u"CAST(A AS INT)::TEXT, ?\n", {u"p"}},
      {"repeated names each make a parameter", u":a,:a\n", u"?,?\n", {u"a", u"a"}},
      {"terminators end a name", u"(:p1+:p2)*:p3<:p4;\n", u"(?+?)*?<?;\n", {u"p1", u"p2", u"p3", u"p4"}},
      {"dots and letters beyond ASCII continue a name", u":t.col\u00e9x\u4e2d=1\n", u"?=1\n",
       {u"t.col\u00e9x\u4e2d"}},
      {"block comments nest", u"/* :a /* :b */ :c */ :d\n", u"/* :a /* :b */ :c */ ?\n", {u"d"}},
      {"doubled quote reopens the literal", u"'it''s :a' :b\n", u"'it''s :a' ?\n", {u"b"}},
      {"other quote nests inside a literal", u"\"x 'y :a' z :c\" :b\n", u"\"x 'y :a' z :c\" ?\n", {u"b"}},
      {"unterminated literal runs to the end", u"'abc :x\n", u"'abc :x\n", {}},
      {"a lone minus is no comment", u"a - :x\n", u"a - ?\n", {u"x"}},
      {"unterminated quoted name takes the rest", u"A = :\"abc", u"A = ?", {u"abc"}},
      {"colon at the very end", u"A :", u"A ?", {u""}},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.Name);
    db::TParams params;
    EXPECT_EQ(UnicodeString(c.Expected), TzfQuery::ScanSQLParams(c.Text, true, &params));
    EXPECT_EQ(c.Params, Names(params));
    for (int32_t i = 0; i < params.Count(); ++i) {
      EXPECT_EQ(db::ftUnknown, params[i].DataType());
      EXPECT_EQ(db::ptUnknown, params[i].ParamType());
    }
  }
  // Without the create flag only the text is rewritten.
  db::TParams none;
  EXPECT_EQ(UnicodeString(u"?"), TzfQuery::ScanSQLParams(u":a", false, &none));
  EXPECT_EQ(0, none.Count());
}

// Five levels of literals at most: a sixth quote closes instead of nesting.
TEST(QueryScanner, LiteralsNestFiveLevelsDeep) {
  // Levels: ' " ' " ' then a " closes nothing new (it is not the innermost ') and stays text; the
  // following ' closes level 5 and the rest unwinds.
  const UnicodeString text = u"'\"'\"'\"'\"'\"' :p\n";
  db::TParams params;
  EXPECT_EQ(UnicodeString(u"'\"'\"'\"'\"'\"' ?\n"), TzfQuery::ScanSQLParams(text, true, &params));
  EXPECT_EQ(std::vector<UnicodeString>{u"p"}, Names(params));
}

// ---- parameter values -------------------------------------------------------------------------------

TEST(StatementParams, OpenArrayValuesTakeTheirKindsType) {
  db::TParams params;
  struct Case {
    TzfVarRec Value;
    db::TFieldType Type;
    rtl::Variant Expected;
  };
  const Case cases[] = {
      {TzfVarRec(int32_t{5}), db::ftInteger, rtl::Variant(5)},
      {TzfVarRec(true), db::ftBoolean, rtl::Variant(true)},
      {TzfVarRec('c'), db::ftString, rtl::Variant(u"c")},
      {TzfVarRec(2.5), db::ftFloat, rtl::Variant(2.5)},
      {TzfVarRec("ansi"), db::ftString, rtl::Variant(u"ansi")},
      {TzfVarRec(std::string("str")), db::ftString, rtl::Variant(u"str")},
      {TzfVarRec(rtl::Currency::FromScaled(12345)), db::ftCurrency, rtl::Variant(rtl::Currency::FromScaled(12345))},
      {TzfVarRec(u"wide"), db::ftWideString, rtl::Variant(u"wide")},
      {TzfVarRec(UnicodeString(u"uni")), db::ftWideString, rtl::Variant(u"uni")},
      {TzfVarRec(int64_t{1} << 40), db::ftLargeint, rtl::Variant(int64_t{1} << 40)},
  };
  for (const Case& c : cases) {
    db::TParam& p = params.CreateParam(db::ftUnknown, u"P", db::ptInput);
    AssignParamValue(p, c.Value);
    EXPECT_EQ(c.Type, p.DataType());
    EXPECT_EQ(c.Expected.AsString(), p.Value().AsString());
    EXPECT_TRUE(p.Bound());
  }
}

TEST(StatementParams, ValuesSkipOutputParametersAndRefuseWhatNoParameterTakes) {
  db::TParams params;
  params.CreateParam(db::ftUnknown, u"In", db::ptInput);
  params.CreateParam(db::ftUnknown, u"Out", db::ptOutput);
  params.CreateParam(db::ftUnknown, u"Both", db::ptInputOutput);
  params.CreateParam(db::ftUnknown, u"Res", db::ptResult);
  params.CreateParam(db::ftUnknown, u"", db::ptUnknown);
  AssignParamValues(params, {TzfVarRec(int32_t{1}), TzfVarRec(int32_t{2}), TzfVarRec(nullptr)});
  EXPECT_EQ(1, params[0].Value().AsInteger());
  EXPECT_TRUE(params[1].IsNull());
  EXPECT_EQ(2, params[2].Value().AsInteger());
  EXPECT_TRUE(params[4].IsNull());  // a nil pointer leaves it as it is

  // A cleared variant clears; another parameter is assigned as an object.
  AssignParamValue(params[0], TzfVarRec(rtl::Variant()));
  EXPECT_TRUE(params[0].IsNull());
  AssignParamValue(params[0], TzfVarRec::Object(&params[2]));
  EXPECT_EQ(2, params[0].Value().AsInteger());

  int anything = 0;
  for (const TzfVarRec& bad : {TzfVarRec::RawPointer(&anything), TzfVarRec::OtherObject(&anything),
                               TzfVarRec::Class(&anything), TzfVarRec::Interface(&anything), TzfVarRec(u'w')}) {
    EXPECT_TRUE(RaisesText([&] { AssignParamValue(params[0], bad, 0); }, u"Invalid value for param 'In'"));
    EXPECT_TRUE(RaisesText([&] { AssignParamValue(params[4], bad, 4); }, u"Invalid value for param '<UnnamedParam:4>'"));
  }

  TzfDynVariantArray out{rtl::Variant(99)};
  params[1].SetValue(rtl::Variant(7));
  GetOutputParamValues(params, out);
  ASSERT_EQ(3u, out.size());  // Out, Both, Res in order
  EXPECT_EQ(7, out[0].AsInteger());
  EXPECT_EQ(2, out[1].AsInteger());
  EXPECT_TRUE(out[2].IsEmptyOrNull());
}

// ---- query properties ---------------------------------------------------------------------------------

TEST(QueryProperties, SqlScansParametersAndKeepsValuesByName) {
  TzfQuery q;
  q.SetSQL(u"SELECT * FROM T WHERE A = :A AND B = :B");
  EXPECT_EQ(UnicodeString(u"SELECT * FROM T WHERE A = ? AND B = ?\n"), q.Text());
  ASSERT_EQ(2, q.Params().Count());
  q.ParamByName(u"B").SetValue(rtl::Variant(5));
  q.SetSQL(u"UPDATE T SET B = :B, C = :C");
  EXPECT_EQ((std::vector<UnicodeString>{u"B", u"C"}), Names(q.Params()));
  EXPECT_EQ(5, q.ParamByName(u"B").Value().AsInteger());

  q.SetParamCheck(false);
  q.SetSQL(u"SELECT :X FROM T");
  EXPECT_EQ(UnicodeString(u"SELECT :X FROM T\n"), q.Text());  // passed unchanged
  EXPECT_EQ((std::vector<UnicodeString>{u"B", u"C"}), Names(q.Params()));  // left as they were

  q.SetSQL(u"SELECT 1\nFROM T");
  EXPECT_EQ(2, q.SQL().Count());
}

TEST(QueryProperties, TextIsCutAtItsFirstNul) {
  TzfQuery q;
  UnicodeString text = u"SELECT :A ";
  text.push_back(u'\0');
  text += u" :B";
  q.SetSQL(text);
  EXPECT_EQ(UnicodeString(u"SELECT ? "), q.Text());
  EXPECT_EQ(2, q.Params().Count());  // scanned whole, cut afterwards
}

// ---- without an SQL engine ------------------------------------------------------------------------------

class NoSqlEngine : public ClientTableTest {
 protected:
  void SetUp() override {
    ClientTableTest::SetUp();
    Build(u"People");
    Fill(u"People", {1, 2, 3});
  }
};

TEST_F(NoSqlEngine, StatementsRaiseThatAnSqlEngineIsRequired) {
  TzfQuery q;
  q.SetName(u"Query1");
  q.SetDatabase(Db.get());
  q.SetSQL(u"SELECT * FROM People");
  const UnicodeString expected = u"ZofrinDB: Query1: An SQL Engine is required [$3001/12289]";
  EXPECT_EQ(expected, ClientErrorText([&] { q.Open(); }));
  EXPECT_EQ(expected, ClientErrorText([&] { q.Prepare(); }));
  EXPECT_EQ(expected, ClientErrorText([&] { q.ExecSQL(); }));
  EXPECT_FALSE(q.Prepared());
  EXPECT_FALSE(q.Active());

  TzfStoredProc p;
  p.SetDatabase(Db.get());
  p.SetStoredProcName(u"Proc");
  EXPECT_EQ(zfErrNotSupported, ClientErrorCode([&] { p.ExecProc(); }));

  TzfQuery empty;
  empty.SetDatabase(Db.get());
  EXPECT_TRUE(RaisesText([&] { empty.Open(); }, u"No SQL statement specified"));
}

TEST_F(NoSqlEngine, DatabaseAndSessionStatementCallsRaise12289) {
  rtl::TStringList list;
  TzfSqlParamList params;
  TzfDynVariantArray results;
  EXPECT_EQ(zfErrNotSupported, ClientErrorCode([&] { Db->ExecQuery(u"SELECT 1", {}, results); }));
  EXPECT_EQ(zfErrNotSupported, ClientErrorCode([&] { Db->OpenQuery(u"SELECT 1", {}, 0, false); }));
  EXPECT_EQ(zfErrNotSupported, ClientErrorCode([&] { Db->GetStoredProcNames(&list); }));
  EXPECT_EQ(zfErrNotSupported, ClientErrorCode([&] { Db->GetStoredFuncParams(u"F", params); }));
  EXPECT_EQ(zfErrNotSupported, ClientErrorCode([&] { Db->ExecStoredProc(u"P", {}, results); }));
  EXPECT_EQ(0, Db->DataSetCount());  // the short-lived datasets are gone

  Session->AddAlias(u"Data", rtl::u16(Dir.Path.string()), false);
  EXPECT_EQ(zfErrNotSupported, ClientErrorCode([&] { Session->GetStoredProcNames(u"Data", &list); }));
  EXPECT_FALSE(Session->FindDatabase(u"Data")->IsActive());  // its state put back
  EXPECT_EQ(zfErrInvalidParam, ClientErrorCode([&] { Session->GetStoredFuncNames(u"Data", nullptr); }));
  EXPECT_EQ(10014u, ClientErrorCode([&] { Session->GetStoredProcParams(u"", u"P", params); }));
  EXPECT_EQ(zfErrObjNotFound, ClientErrorCode([&] { Session->GetStoredProcParams(u"Data", u"", params); }));
}

TEST_F(NoSqlEngine, PassThroughWithoutATransportAnswersItsDefaults) {
  EXPECT_EQ(0, Session->PassThrough(5));
  int32_t result = -1;
  EXPECT_EQ(11278u, Session->TimedPassThrough(0, 5, result));
  EXPECT_EQ(11278u, Session->TimedPassThroughStream(100, nullptr, nullptr));
  Session->TimedNotify(0);
}

// ---- with a test SQL engine --------------------------------------------------------------------------------

class Statements : public ClientTableTest {
 protected:
  void SetUp() override {
    ClientTableTest::SetUp();
    Build(u"People");
    Fill(u"People", {1, 2, 3});
    Db->Close();
    Session->Close();
    Engine->Close();
    Sql.reset(new TTestSqlEngine());
    Engine->SetSqlEngine(Sql.get());
    Engine->Open();
    Db->Open();
  }
  void TearDown() override {
    ClientTableTest::TearDown();
    Engine.reset();
    Sql.reset();
  }
  rtl::TComponentPtr<TzfQuery> Query(const UnicodeString& aSql) {
    rtl::TComponentPtr<TzfQuery> q(new TzfQuery());
    q->SetName(u"Query1");
    q->SetDatabase(Db.get());
    q->SetSQL(aSql);
    return q;
  }
  static std::vector<int32_t> QueryIDs(TzfDataset& aDataSet) {
    std::vector<int32_t> ids;
    for (aDataSet.First(); !aDataSet.Eof(); aDataSet.Next()) ids.push_back(aDataSet.FieldByName(u"ID").GetAsInteger());
    return ids;
  }
  // A catalogue table of text columns, one record per row.
  void Catalogue(const UnicodeString& aName, const std::vector<UnicodeString>& aColumns,
                 const std::vector<std::vector<UnicodeString>>& aRows) {
    auto dict = std::make_unique<TzfServerDataDict>();
    for (const UnicodeString& c : aColumns) dict->tdFieldsDescriptor->AddField(c, u"", zftWideString, 40, 0, false, nullptr);
    ASSERT_EQ(Db->AbstractDatabase()->TableBuild(false, aName, u"", dict.get(), tsPersistent, false), 0u);
    TzfAbstractCursor* c = nullptr;
    ASSERT_EQ(Db->AbstractDatabase()->CursorOpen(c, aName, u"", omReadWrite, smShared, 2000, false), 0u);
    uint8_t* b = c->RecordBufferAlloc();
    for (const auto& row : aRows) {
      c->RecordBufferClear(b);
      for (size_t i = 0; i < row.size(); ++i) c->SetFieldFromVariant(b, static_cast<int32_t>(i), rtl::Variant(row[i]));
      EXPECT_EQ(c->RecordInsert(zfltNoLock, b), 0u);
    }
    c->RecordBufferFree(b);
    c->Free();
  }

  rtl::TComponentPtr<TTestSqlEngine> Sql;
};

TEST_F(Statements, AQueryShowsItsResultCursor) {
  auto q = Query(u"SELECT * FROM People");
  q->Open();
  EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), QueryIDs(*q));
  EXPECT_EQ(3, q->RecordsRead());
  EXPECT_EQ(-1, q->RowsAffected());
  ASSERT_EQ(1, q->Log().Count());
  EXPECT_EQ(u"ran", q->Log()[0]);
  EXPECT_FALSE(q->CanModify());
  EXPECT_FALSE(q->Prepared());  // run directly
  ASSERT_EQ(1u, Sql->Calls.size());
  EXPECT_TRUE(Sql->Calls[0].ExecDirect);
  EXPECT_EQ(1, Db->QueryCount());
  EXPECT_TRUE(RaisesText([&] { q->ExecSQL(); }, db::kSDataSetOpen));
  q->Close();

  q->SetRequestLive(true);
  q->Open();
  EXPECT_TRUE(q->CanModify());
  q->SetReadOnly(true);
  EXPECT_FALSE(q->CanModify());
}

TEST_F(Statements, PreparedStaysPreparedUntilTheTextChanges) {
  auto q = Query(u"SELECT * FROM People");
  q->Prepare();
  EXPECT_TRUE(q->Prepared());
  q->Open();
  q->Close();
  EXPECT_TRUE(q->Prepared());  // prepared before the open: kept
  EXPECT_FALSE(Sql->Calls.back().ExecDirect);
  q->SetSQL(u"SELECT * FROM People");  // the same text
  EXPECT_TRUE(q->Prepared());
  q->SetSQL(u"SELECT * FROM Other");
  EXPECT_FALSE(q->Prepared());
  q->Prepare();
  Db->Close();  // the database takes the statements with it
  EXPECT_FALSE(q->Prepared());
}

TEST_F(Statements, ParametersTravelInEngineFormAndOutputsComeBack) {
  auto q = Query(u"UPDATE People SET Name = :N WHERE ID = :ID RETURNING :Out, :Twice");
  q->ParamByName(u"N").SetDataType(db::ftWideString);
  q->ParamByName(u"N").SetValue(rtl::Variant(u"x"));
  q->ParamByName(u"ID").SetDataType(db::ftInteger);
  q->ParamByName(u"ID").SetValue(rtl::Variant(2));
  q->ParamByName(u"Out").SetParamType(db::ptOutput);
  q->ParamByName(u"Out").SetDataType(db::ftInteger);
  q->ParamByName(u"Twice").SetParamType(db::ptInputOutput);
  q->ParamByName(u"Twice").SetDataType(db::ftInteger);
  q->ParamByName(u"Twice").SetValue(rtl::Variant(21));
  q->ExecSQL();
  EXPECT_EQ(4, q->RowsAffected());
  ASSERT_EQ(1u, Sql->Calls.size());
  const TzfSqlParamList& sent = Sql->Calls[0].Params;
  ASSERT_EQ(4u, sent.size());
  EXPECT_EQ(u"N", sent[0].Name);
  EXPECT_EQ(zftWideString, sent[0].FieldType);
  EXPECT_EQ((TByteDynArray{u'x', 0, 0, 0}), sent[0].Data);  // UTF-16 with its terminator
  EXPECT_EQ(zftInt32, sent[1].FieldType);
  EXPECT_EQ((TByteDynArray{2, 0, 0, 0}), sent[1].Data);
  EXPECT_EQ(zfptOutput, sent[2].ParamType);
  EXPECT_TRUE(sent[2].Data.empty());  // NULL: no data
  EXPECT_EQ(7, q->ParamByName(u"Out").Value().AsInteger());
  EXPECT_EQ(42, q->ParamByName(u"Twice").Value().AsInteger());
  EXPECT_FALSE(q->Active());
}

TEST_F(Statements, EachFailingStepRaisesItsMessage) {
  struct Case {
    TTestSqlEngine::TStep Step;
    const char16_t* Message;
  };
  const Case cases[] = {{TTestSqlEngine::Prepare, u"Query preparation failed: \r\nbroken"},
                        {TTestSqlEngine::SetParams, u"Query set parameters failed: \r\nbroken"},
                        {TTestSqlEngine::Exec, u"Query execution failed: \r\nbroken"},
                        {TTestSqlEngine::GetParams, u"Query get parameters failed: \r\nbroken"}};
  for (bool prepared : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(rtl::u8(c.Message));
      SCOPED_TRACE(prepared);
      auto q = Query(u"SELECT * FROM People WHERE ID = :ID");
      q->ParamByName(u"ID").SetParamType(db::ptInputOutput);
      q->ParamByName(u"ID").SetValue(rtl::Variant(1));
      Sql->FailAt(TTestSqlEngine::None, 0, "");
      if (prepared) q->Prepare();
      Sql->FailAt(c.Step, zfErrInvalidParam, "broken");
      if (prepared && c.Step == TTestSqlEngine::Prepare) continue;  // prepared already
      const UnicodeString text = ClientErrorText([&] { q->Open(); });
      EXPECT_NE(text.find(c.Message), UnicodeString::npos) << rtl::u8(text);
      EXPECT_NE(text.find(u"[$2702/9986]"), UnicodeString::npos) << rtl::u8(text);
      EXPECT_FALSE(q->Active());
      EXPECT_EQ(nullptr, q->AbstractCursor());
    }
  }
  // Without an error text the plain code is raised.
  auto q = Query(u"SELECT * FROM People");
  Sql->FailAt(TTestSqlEngine::Exec, zfErrInvalidParam, "");
  EXPECT_EQ(UnicodeString(u"ZofrinDB: Query1: Invalid parameter. [$2702/9986]"), ClientErrorText([&] { q->Open(); }));
}

TEST_F(Statements, DamagedExecutionStreamIsAnErrorNotACrash) {
  auto q = Query(u"UPDATE People");
  Sql->MissingLogLines = 1000000;  // counts lines the stream does not hold
  EXPECT_EQ(zfErrIncompatibleStream, ClientErrorCode([&] { q->ExecSQL(); }));
  Sql->MissingLogLines = 0;
  Sql->LogLines = {"fine", ""};
  q->ExecSQL();
  ASSERT_EQ(2, q->Log().Count());
  EXPECT_EQ(u"fine", q->Log()[0]);
}

TEST_F(Statements, DatabaseOpensAndRunsStatements) {
  auto q = Db->OpenQuery(u"SELECT * FROM People", {}, 0, true);
  EXPECT_TRUE(q->Active());
  EXPECT_TRUE(q->RequestLive());
  EXPECT_EQ(3, static_cast<int32_t>(QueryIDs(*q).size()));
  q.reset();

  TzfDynVariantArray results;
  Db->ExecQuery(u"UPDATE People SET ID = :A WHERE ID = :B", {TzfVarRec(int32_t{4}), TzfVarRec(int32_t{1})}, results);
  ASSERT_EQ(2u, Sql->Calls.size());
  EXPECT_EQ(2u, Sql->Calls.back().Params.size());
  EXPECT_EQ(zftInt32, Sql->Calls.back().Params[0].FieldType);
  EXPECT_TRUE(results.empty());

  Db->ExecQuery(u"SELECT :Out", {}, results);
  EXPECT_TRUE(results.empty());  // a parameter of unknown direction is no output

  const std::filesystem::path file = Dir.Path / "statement.sql";
  std::ofstream(file) << "DELETE FROM People WHERE ID = :ID\n";
  Db->ExecQueryFromFile(rtl::u16(file.string()), {TzfVarRec(int32_t{3})}, results);
  EXPECT_EQ(u"DELETE FROM People WHERE ID = ?\n", Sql->Calls.back().Text);
  EXPECT_EQ(zfErrCantOpenFile,
            ClientErrorCode([&] { Db->ExecQueryFromFile(rtl::u16((Dir.Path / "missing.sql").string()), {}, results); }));

  TzfMemoryStream stream;
  const std::string skip = "--";
  const std::string text = "UPDATE People SET Name = :N";
  stream.Write(skip.data(), 2);
  stream.Write(text.data(), static_cast<int32_t>(text.size()));
  stream.SetPosition(2);  // from the position on
  Db->ExecQueryFromStream(stream, {TzfVarRec(u"abc")}, results);
  EXPECT_EQ(u"UPDATE People SET Name = ?\n", Sql->Calls.back().Text);
  EXPECT_EQ(zftWideString, Sql->Calls.back().Params[0].FieldType);
  EXPECT_EQ(0, Db->DataSetCount());
}

TEST_F(Statements, StoredProceduresTakeTheirParametersFromTheCatalogue) {
  Catalogue(u"PROCEDURES", {u"PROCEDURE_NAME"}, {{u"AddOne"}, {u"Reset"}});
  Catalogue(u"PROCEDURE_ARGUMENTS",
            {u"PROCEDURE_NAME", u"PROCEDURE_ARGUMENT_NAME", u"PROCEDURE_ARGUMENT_TYPE", u"PROCEDURE_ARGUMENT_KIND"},
            {{u"AddOne", u"Value", u"INTEGER", u"INOUT"}, {u"AddOne", u"Result", u"INTEGER", u"RESULT"}});
  Catalogue(u"FUNCTIONS", {u"FUNCTION_NAME"}, {{u"Twice"}});
  Catalogue(u"FUNCTION_ARGUMENTS",
            {u"FUNCTION_NAME", u"FUNCTION_ARGUMENT_NAME", u"FUNCTION_ARGUMENT_TYPE", u"FUNCTION_ARGUMENT_KIND"},
            {{u"Twice", u"X", u"BIGINT", u"IN"}});

  rtl::TStringList names;
  Db->GetStoredProcNames(&names);
  ASSERT_EQ(2, names.Count());
  EXPECT_EQ(u"AddOne", names[0]);
  Db->GetStoredFuncNames(&names);
  ASSERT_EQ(1, names.Count());
  EXPECT_EQ(u"Twice", names[0]);

  TzfSqlParamList params;
  Db->GetStoredProcParams(u"AddOne", params);
  ASSERT_EQ(2u, params.size());
  EXPECT_EQ(u"Value", params[0].Name);
  EXPECT_EQ(zftInt32, params[0].FieldType);
  EXPECT_EQ(zfptInputOutput, params[0].ParamType);
  EXPECT_EQ(zfptResult, params[1].ParamType);
  // The name went to the catalogue query as its one parameter.
  EXPECT_EQ(u"name", Sql->Calls.back().Params[0].Name);

  TzfDynVariantArray results;
  Db->ExecStoredProc(u"AddOne", {TzfVarRec(int32_t{8})}, results);
  EXPECT_EQ(stStoredProcedure, Sql->Calls.back().Type);
  EXPECT_EQ(u"AddOne", Sql->Calls.back().Text);
  ASSERT_EQ(2u, results.size());
  EXPECT_EQ(16, results[0].AsInteger());
  EXPECT_EQ(7, results[1].AsInteger());

  auto list = Db->OpenStoredProc(u"ListPeople", {}, 0);
  EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), QueryIDs(*list));
  EXPECT_EQ(stStoredProcedure, Sql->Calls.back().Type);
  list.reset();

  TzfStoredProc p;
  p.SetDatabase(Db.get());
  p.SetStoredProcName(u"AddOne");
  EXPECT_EQ(0, p.ParamCount());
  p.Prepare();  // fetches the parameters it has none of
  EXPECT_EQ(2, p.ParamCount());
  EXPECT_EQ(db::ftInteger, p.Params()[0].DataType());
  p.SetStoredProcName(u"Reset");
  EXPECT_FALSE(p.Prepared());
  EXPECT_EQ(0, p.ParamCount());

  Session->AddAlias(u"Data", rtl::u16(Dir.Path.string()), false);
  Session->GetStoredProcNames(u"Data", &names);
  EXPECT_EQ(2, names.Count());
  Session->GetStoredProcParams(u"Data", u"AddOne", params);
  EXPECT_EQ(2u, params.size());
  EXPECT_FALSE(Session->FindDatabase(u"Data")->IsActive());

  // A name without procedure arguments takes the function's.
  Db->GetStoredFuncParams(u"Twice", params);
  ASSERT_EQ(1u, params.size());
  EXPECT_EQ(zftInt64, params[0].FieldType);
  EXPECT_EQ(zfptInput, params[0].ParamType);
  Db->EmptyTable(u"PROCEDURE_ARGUMENTS", u"");  // (the test engine reads no WHERE)
  p.SetStoredProcName(u"Twice");
  p.RefreshParam();
  ASSERT_EQ(1, p.ParamCount());
  EXPECT_EQ(u"X", p.Params()[0].Name());
  EXPECT_EQ(db::ftLargeint, p.Params()[0].DataType());
  EXPECT_EQ(db::ptInput, p.Params()[0].ParamType());

}

TEST_F(Statements, DetailQueryTakesUnboundParametersFromItsMaster) {
  TzfTable* master = Table(u"People");
  master->Open();
  db::TDataSource source;
  source.SetName(u"Source1");
  source.SetDataSet(master);
  auto q = Query(u"SELECT * FROM People WHERE ID = :ID");
  q->SetDataSource(&source);
  q->Open();
  EXPECT_EQ((TByteDynArray{1, 0, 0, 0}), Sql->Calls.back().Params[0].Data);
  EXPECT_FALSE(q->ParamByName(u"ID").Bound());
  // The master's move runs the detail again with the new value.
  master->Next();
  EXPECT_TRUE(q->Active());
  EXPECT_EQ((TByteDynArray{2, 0, 0, 0}), Sql->Calls.back().Params[0].Data);
  // A bound parameter keeps its value.
  q->ParamByName(u"ID").SetValue(rtl::Variant(3));
  master->Next();
  EXPECT_EQ((TByteDynArray{3, 0, 0, 0}), Sql->Calls.back().Params[0].Data);

  // A source that this query feeds is refused.
  db::TDataSource own;
  own.SetName(u"Own");
  own.SetDataSet(q.get());
  EXPECT_TRUE(RaisesText([&] { q->SetDataSource(&own); }, u"Circular data link with data source [Own]"));
  q->Close();
}

}  // namespace
}  // namespace zf::test
