// Statements on the server database: allocation through the engine's SQL engine link, the direct
// execution and its phases, the link's life with the engine, and the dictionary walk.
#include <gtest/gtest.h>

#include "foundation/zfllStreams.h"
#include "tests/server/zfsrServerCursorTestUtil.h"
#include "tests/server/zfsrTestSqlEngine.h"

namespace zf::test {
namespace {

class ServerStatement : public PeopleCursorTest {
 protected:
  void SetUp() override {
    PeopleCursorTest::SetUp();
    Open();
    auto dict = SmallDictionary();
    ASSERT_EQ(Db->TableBuild(false, u"People", u"", dict.get(), tsPersistent, false), 0u);
  }
  // Links the test SQL engine (the engine is stopped for it and started again).
  void LinkSqlEngine() {
    Close();
    Engine->Close();
    Sql.reset(new TTestSqlEngine());
    Engine->SetSqlEngine(Sql.get());
    Engine->Open();
    Open();
  }
  void TearDown() override {
    Close();
    Engine.reset();  // before the SQL engine it links
    Sql.reset();
    PeopleCursorTest::TearDown();
  }
  uint32_t ExecDirect(const UnicodeString& aText, TzfAbstractCursor*& aCursor, TzfStatementExecDirectPhase& aPhase,
                      TzfSqlParamList& aParams, bool aGetParams = true) {
    TzfMemoryStream prepare, setParams, exec, getParams;
    return Db->StatementExecDirect(1000, stQuery, aText, &prepare, aParams, &setParams, aCursor, omReadOnly, &exec,
                                   aGetParams ? &getParams : nullptr, aPhase);
  }

  rtl::TComponentPtr<TTestSqlEngine> Sql;
};

TEST_F(ServerStatement, WithoutAnSqlEngineAllocationAndDirectExecutionAnswer12289) {
  TzfAbstractStatement* st = nullptr;
  EXPECT_EQ(12289u, Db->StatementAlloc(st, 1000));
  EXPECT_EQ(nullptr, st);
  uint32_t code = 0;
  UnicodeString text;
  EzfBaseException::GetLastConvertedException(code, text);
  EXPECT_EQ(12289u, code);
  EXPECT_EQ(u"An SQL Engine is required", text);

  TzfAbstractCursor* cursor = reinterpret_cast<TzfAbstractCursor*>(1);
  TzfStatementExecDirectPhase phase = sedFree;
  TzfSqlParamList params;
  EXPECT_EQ(12289u, ExecDirect(u"SELECT * FROM People", cursor, phase, params));
  EXPECT_EQ(nullptr, cursor);
  EXPECT_EQ(sedAlloc, phase);
}

TEST_F(ServerStatement, DirectExecutionRunsEveryStepAndKeepsOnlyTheCursor) {
  LinkSqlEngine();
  TzfAbstractCursor* cursor = nullptr;
  TzfStatementExecDirectPhase phase = sedAlloc;
  TzfSqlParamList params(1);
  params[0].Name = u"Out";
  params[0].ParamType = zfptOutput;
  ASSERT_EQ(0u, ExecDirect(u"SELECT * FROM People", cursor, phase, params));
  EXPECT_EQ(sedFree, phase);
  ASSERT_NE(nullptr, cursor);
  EXPECT_EQ(u"ID", cursor->acFields().Field(0)->fdName);
  cursor->Free();
  ASSERT_EQ(1u, Sql->Calls.size());
  EXPECT_TRUE(Sql->Calls[0].ExecDirect);
  EXPECT_EQ(4u, params[0].Data.size());  // read back: the statement's output value
  EXPECT_EQ(0, Engine->bseStatementCount.load());

  // Without a get-parameters stream the parameters are not read back.
  TzfSqlParamList again(1);
  again[0].ParamType = zfptOutput;
  ASSERT_EQ(0u, ExecDirect(u"UPDATE People", cursor, phase, again, false));
  EXPECT_EQ(nullptr, cursor);
  EXPECT_TRUE(again[0].Data.empty());
}

TEST_F(ServerStatement, AFailingStepStopsTheRunAndFreesStatementAndCursor) {
  LinkSqlEngine();
  struct Case {
    TTestSqlEngine::TStep Step;
    TzfStatementExecDirectPhase Phase;
  };
  for (const Case& c : {Case{TTestSqlEngine::Prepare, sedPrepare}, Case{TTestSqlEngine::SetParams, sedSetParams},
                        Case{TTestSqlEngine::Exec, sedExec}, Case{TTestSqlEngine::GetParams, sedGetParams}}) {
    SCOPED_TRACE(static_cast<int>(c.Step));
    Sql->FailAt(c.Step, zfErrInvalidParam, "no");
    const int32_t cursors = Engine->bseCursorCount.load();
    TzfAbstractCursor* cursor = nullptr;
    TzfStatementExecDirectPhase phase = sedFree;
    TzfSqlParamList params;
    EXPECT_EQ(zfErrInvalidParam, ExecDirect(u"SELECT * FROM People", cursor, phase, params));
    EXPECT_EQ(c.Phase, phase);
    EXPECT_EQ(nullptr, cursor);
    EXPECT_EQ(cursors, Engine->bseCursorCount.load());  // a cursor the run opened is gone again
    EXPECT_EQ(0, Engine->bseStatementCount.load());
  }
}

TEST_F(ServerStatement, PreparedStatementComesFromTheLinkedEngine) {
  LinkSqlEngine();
  TzfAbstractStatement* st = nullptr;
  ASSERT_EQ(0u, Db->StatementAlloc(st, 1000));
  ASSERT_NE(nullptr, st);
  EXPECT_FALSE(st->ExecDirect());
  EXPECT_EQ(Db, st->Database());
  EXPECT_EQ(1, Engine->bseStatementCount.load());
  st->Free();
  EXPECT_EQ(0, Engine->bseStatementCount.load());
}

TEST_F(ServerStatement, EngineAndSqlEngineAreLinkedBothWays) {
  LinkSqlEngine();
  EXPECT_TRUE(Engine->DependsOn(Sql.get()));
  EXPECT_TRUE(Engine->IsDependent(Sql.get()));
  EXPECT_ANY_THROW(Engine->SetSqlEngine(nullptr));  // only while inactive
  Close();
  Engine->Close();
  EXPECT_EQ(1, Sql->Shutdowns);  // told first when the engine stops
  Engine->Open();
  // An SQL engine that goes away takes the engine down and is forgotten.
  Sql.reset();
  EXPECT_EQ(nullptr, Engine->SqlEngine());
  EXPECT_FALSE(Engine->IsActive());
}

TEST_F(ServerStatement, DictionaryWalkCoversOpenClosedAndDatabaseTables) {
  auto dict = SmallDictionary();
  ASSERT_EQ(Db->TableBuild(false, u"Closed", u"", dict.get(), tsPersistent, false), 0u);
  ASSERT_EQ(Db->TableBuild(false, u"##Mine", u"", dict.get(), tsPersistent, false), 0u);
  OpenCursor();  // "People" is open, "Closed" is not
  std::vector<UnicodeString> seen;
  auto collect = [&](TzfDataDictionary* aDictionary, void*) {
    seen.push_back(aDictionary->ddBaseName);
    return irContinue;
  };
  EXPECT_EQ(irContinue, Db->sdIterateDictionaries(collect, nullptr));
  EXPECT_EQ((std::vector<UnicodeString>{u"##Mine", u"Closed", u"People"}), seen);

  seen.clear();
  auto stopAtFirst = [&](TzfDataDictionary* aDictionary, void*) {
    seen.push_back(aDictionary->ddBaseName);
    return irStop;
  };
  EXPECT_EQ(irStop, Db->sdIterateDictionaries(stopAtFirst, nullptr));
  EXPECT_EQ(1u, seen.size());
}

}  // namespace
}  // namespace zf::test
