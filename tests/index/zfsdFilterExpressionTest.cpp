// The simple-expression evaluator: every node class, operator and constant type against a record,
// nulls, text rules, and damaged blobs refused without reading outside them.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "index/zfsdFilterEngineSimpleExpression.h"
#include "tests/index/zfsrIndexTestUtil.h"

namespace zf::test {
namespace {

const rtl::Variant Null = rtl::Variant::Null();
rtl::Variant S(const char16_t* s) { return rtl::Variant(UnicodeString(s)); }

class FilterExpressionTest : public IndexStarted {
 protected:
  FilterExpressionTest() {
    const struct {
      const char16_t* Name;
      TzfFieldType Type;
      int32_t Units;
    } defs[] = {
        {u"B", zftBoolean, 0},  {u"I", zftInt32, 0},     {u"L", zftInt64, 0},        {u"W", zftWord16, 0},
        {u"Y", zftByte, 0},     {u"D", zftDouble, 0},    {u"C", zftCurrency, 0},     {u"DA", zftDate, 0},
        {u"TI", zftTime, 0},    {u"DT", zftDateTime, 0}, {u"SS", zftShortString, 20}, {u"NS", zftNullString, 20},
        {u"WS", zftWideString, 20}, {u"CH", zftChar, 0}, {u"WC", zftWideChar, 0},   {u"G", zftGuid, 0},
        {u"BA", zftByteArray, 3}, {u"F", zftSingle, 0},  {u"X", zftExtended, 0},    {u"I8", zftInt8, 0},
    };
    for (const auto& d : defs) AddTestField(fields, d.Name, d.Type, d.Units);
    record = MakeRecord(fields, {rtl::Variant(true), rtl::Variant(int32_t{-5}), rtl::Variant(int64_t{1} << 40),
                                 rtl::Variant(int32_t{60000}), rtl::Variant(int32_t{200}), rtl::Variant(2.5),
                                 rtl::Variant(2.25), rtl::Variant::FromDate(2.0),
                                 rtl::Variant::FromDate(0.5), rtl::Variant::FromDate(2.25), S(u"salvage-database"),
                                 S(u"Anna"), S(u"Andreas"), S(u"q"), S(u"\u00e9"),
                                 S(u"{00000001-0000-0000-0000-000000000000}"), rtl::Variant::FromBytes({1, 2, 3}),
                                 rtl::Variant(1.25f), rtl::Variant(-7.0), rtl::Variant(int32_t{-3})});
    nulls = MakeRecord(fields, {});
  }

  bool Eval(const TzfCANExpr& aBlob, const std::vector<uint8_t>& aRecord) {
    return zfEvaluateExpression(aBlob, fields, aRecord.data(), 1252);
  }

  TTestTable table;
  TzfFieldsDescriptor& fields = *table.Fields;
  std::vector<uint8_t> record, nulls;
};

// Field numbers count from 1.
enum : uint16_t { fB = 1, fI, fL, fW, fY, fD, fC, fDA, fTI, fDT, fSS, fNS, fWS, fCH, fWC, fG, fBA, fF, fX, fI8 };

using TBuild = std::function<void(TBlobBuilder&)>;

struct TCase {
  const char* Name;
  TBuild Build;
  bool OnRecord;
  bool OnNulls;
};

// field <op> constant, as a two-operand node at the root.
template <typename T>
TBuild Cmp(uint32_t aOp, uint16_t aField, uint16_t aType, T aValue) {
  return [=](TBlobBuilder& b) { b.SetRoot(nodeBINARY, aOp, {b.Field(aField), b.Const<T>(aType, aValue)}); };
}
TBuild CmpText(uint32_t aOp, uint16_t aField, std::string aText, uint16_t aCase = 0, uint16_t aPartial = 0) {
  return [=](TBlobBuilder& b) {
    b.SetRoot(nodeCOMPARE, aOp, {aCase, aPartial, b.Field(aField), b.ConstText(aText)});
  };
}
TBuild CmpWide(uint32_t aOp, uint16_t aField, std::u16string aText) {
  return [=](TBlobBuilder& b) { b.SetRoot(nodeBINARY, aOp, {b.Field(aField), b.ConstWide(aText)}); };
}

const double kMsPerDay = 86400000.0;

TEST_F(FilterExpressionTest, NodesOperatorsAndConstants) {
  const TCase cases[] = {
      // integers of every constant type, against signed and unsigned fields
      {"I = -5 (int16)", Cmp<int16_t>(canEQ, fI, fldINT16, -5), true, false},
      {"I <> -5", Cmp<int32_t>(canNE, fI, fldINT32, -5), false, true},
      {"I < 0", Cmp<int32_t>(canLT, fI, fldINT32, 0), true, true},
      {"I > -6", Cmp<int32_t>(canGT, fI, fldINT32, -6), true, false},
      {"I >= -5", Cmp<int32_t>(canGE, fI, fldINT32, -5), true, false},
      {"I <= -6", Cmp<int32_t>(canLE, fI, fldINT32, -6), false, true},
      {"W = 60000 (uint16)", Cmp<uint16_t>(canEQ, fW, fldUINT16, 60000), true, false},
      {"W > 4000000000 (uint32)", Cmp<uint32_t>(canGT, fW, fldUINT32, 4000000000u), false, false},
      {"Y = 200", Cmp<int32_t>(canEQ, fY, fldINT32, 200), true, false},
      {"I8 < 0", Cmp<int32_t>(canLT, fI8, fldINT32, 0), true, true},
      {"L = 2^40 (int64)", Cmp<int64_t>(canEQ, fL, fldINT64, int64_t{1} << 40), true, false},
      // reals, money, integer against real
      {"D = 2.5", Cmp<double>(canEQ, fD, fldFLOAT, 2.5), true, false},
      {"D > 2 (int)", Cmp<int32_t>(canGT, fD, fldINT32, 2), true, false},
      {"F = 1.25 (single)", Cmp<float>(canEQ, fF, fldSINGLE, 1.25f), true, false},
      {"C = 2.25", Cmp<double>(canEQ, fC, fldFLOAT, 2.25), true, false},
      {"I < 2.5", Cmp<double>(canLT, fI, fldFLOAT, 2.5), true, true},
      {"D < NaN", Cmp<double>(canLT, fD, fldFLOAT, NAN), true, true},  // NaN after every number
      // dates and times on one millisecond scale
      {"DA = date 2", Cmp<int32_t>(canEQ, fDA, fldDATE, 2), false, false},
      {"TI = 12:00", Cmp<int32_t>(canEQ, fTI, fldTIME, 43200000), true, false},
      {"DA = date 693596", Cmp<int32_t>(canEQ, fDA, fldDATE, 693596), true, false},
      {"DT = timestamp", Cmp<double>(canEQ, fDT, fldTIMESTAMP, (693596 + 0.25) * kMsPerDay), true, false},
      {"DT > date 693596", Cmp<int32_t>(canGT, fDT, fldDATE, 693596), true, false},
      {"DA > time 0", Cmp<int32_t>(canGT, fDA, fldTIME, 0), true, false},
      // Boolean
      {"B = true", Cmp<uint16_t>(canEQ, fB, fldBOOL, 1), true, false},
      {"B > false", Cmp<uint16_t>(canGT, fB, fldBOOL, 0), true, false},
      // different kinds of value never compare
      {"I = 'x'", CmpText(canEQ, fI, "x"), false, false},
      {"SS = 5", Cmp<int32_t>(canEQ, fSS, fldINT32, 5), false, false},
      // text
      {"SS like 'base'", CmpText(canLIKE, fSS, "base"), true, false},
      {"SS like ''", CmpText(canLIKE, fSS, ""), false, false},
      {"SS like 'BASE' ci", CmpText(canLIKE, fSS, "BASE", 1), true, false},
      {"SS like 'BASE' cs", CmpText(canLIKE, fSS, "BASE"), false, false},
      {"NS = 'ANNA' ci", CmpText(canEQ, fNS, "ANNA", 1), true, false},
      {"NS = 'ANNA' cs", CmpText(canEQ, fNS, "ANNA"), false, false},
      {"NS < 'ANNA' cs", CmpText(canLT, fNS, "ANNA"), true, true},
      {"WS = 'Andrew' partial 3", CmpText(canEQ, fWS, "Andrew", 0, 3), true, false},
      {"WS = 'Andrew'", CmpText(canEQ, fWS, "Andrew"), false, false},
      {"WS = wide 'Andreas'", CmpWide(canEQ, fWS, u"Andreas"), true, false},
      {"CH = 'q'", CmpText(canEQ, fCH, "q"), true, false},
      {"WC = wide e-acute", CmpWide(canEQ, fWC, u"\u00e9"), true, false},
      {"WC = 8-bit e-acute", CmpText(canEQ, fWC, "\xe9"), true, false},
      {"G = guid text", CmpText(canEQ, fG, "{00000001-0000-0000-0000-000000000000}"), true, false},
      // bytes
      {"BA > bytes", [](TBlobBuilder& b) {
         const uint8_t v[3] = {1, 2, 2};
         b.SetRoot(nodeBINARY, canGT, {b.Field(fBA), b.Node(nodeCONST, 0, {99, 3, b.Literal(v, 3)})});
       }, true, false},
      // nulls: a null equals a null and is below every value
      {"I = null field", [](TBlobBuilder& b) { b.SetRoot(nodeBINARY, canEQ, {b.Field(fI), b.Field(fL)}); }, false,
       true},
      {"I > null", [](TBlobBuilder& b) { b.SetRoot(nodeBINARY, canGT, {b.Field(fI), b.Field(fL)}); }, false, false},
      {"I is blank", [](TBlobBuilder& b) { b.SetRoot(nodeUNARY, canISBLANK, {b.Field(fI)}); }, false, true},
      {"I not blank", [](TBlobBuilder& b) { b.SetRoot(nodeUNARY, canNOTBLANK, {b.Field(fI)}); }, true, false},
      {"field 99 is blank", [](TBlobBuilder& b) { b.SetRoot(nodeUNARY, canISBLANK, {b.Field(99)}); }, false, false},
      {"field 99 not blank", [](TBlobBuilder& b) { b.SetRoot(nodeUNARY, canNOTBLANK, {b.Field(99)}); }, false,
       false},
      {"field 99 = 1", Cmp<int32_t>(canEQ, 99, fldINT32, 1), false, false},
      // logic
      {"not (I = -5)", [](TBlobBuilder& b) {
         b.SetRoot(nodeUNARY, canNOT, {b.Node(nodeBINARY, canEQ, {b.Field(fI), b.Const<int32_t>(fldINT32, -5)})});
       }, false, true},
      {"I < 0 and D > 2", [](TBlobBuilder& b) {
         b.SetRoot(nodeBINARY, canAND, {b.Node(nodeBINARY, canLT, {b.Field(fI), b.Const<int32_t>(fldINT32, 0)}),
                                        b.Node(nodeBINARY, canGT, {b.Field(fD), b.Const<int32_t>(fldINT32, 2)})});
       }, true, false},
      {"I > 0 or D > 2", [](TBlobBuilder& b) {
         b.SetRoot(nodeBINARY, canOR, {b.Node(nodeBINARY, canGT, {b.Field(fI), b.Const<int32_t>(fldINT32, 0)}),
                                       b.Node(nodeBINARY, canGT, {b.Field(fD), b.Const<int32_t>(fldINT32, 2)})});
       }, true, false},
      {"I > 0 or I is blank", [](TBlobBuilder& b) {
         b.SetRoot(nodeBINARY, canOR, {b.Node(nodeBINARY, canGT, {b.Field(fI), b.Const<int32_t>(fldINT32, 0)}),
                                       b.Node(nodeUNARY, canISBLANK, {b.Field(fI)})});
       }, false, true},
      {"conditions are no values", [](TBlobBuilder& b) {
         const uint16_t c1 = b.Node(nodeCONTINUE, 0, {1}), c2 = b.Node(nodeCONTINUE, 0, {1});
         b.SetRoot(nodeBINARY, canEQ, {c1, c2});
       }, false, false},
      {"is blank of a condition", [](TBlobBuilder& b) {
         b.SetRoot(nodeUNARY, canISBLANK, {b.Node(nodeBINARY, canEQ, {b.Field(fB), b.Field(fB)})});
       }, false, false},
      {"unknown comparison operator", Cmp<int32_t>(99, fI, fldINT32, -5), false, false},
      // node classes as conditions
      {"field as condition", [](TBlobBuilder& b) { b.SetRoot(nodeFIELD, 0, {fI, b.Text("")}); }, true, true},
      {"field 0 as condition", [](TBlobBuilder& b) { b.SetRoot(nodeFIELD, 0, {0, b.Text("")}); }, false, false},
      {"true constant", [](TBlobBuilder& b) {
         const uint16_t t = 1;
         b.SetRoot(nodeCONST, 0, {fldBOOL, 2, b.Literal(&t, 2)});
       }, true, true},
      {"integer constant", [](TBlobBuilder& b) {
         const int32_t t = 1;
         b.SetRoot(nodeCONST, 0, {fldINT32, 4, b.Literal(&t, 4)});
       }, false, false},
      {"continue 1", [](TBlobBuilder& b) { b.SetRoot(nodeCONTINUE, 0, {1}); }, true, true},
      {"continue 0", [](TBlobBuilder& b) { b.SetRoot(nodeCONTINUE, 0, {0}); }, false, false},
      {"class 0", [](TBlobBuilder& b) { b.SetRoot(0, 0, {}); }, false, false},
      {"class 6", [](TBlobBuilder& b) { b.SetRoot(6, 0, {}); }, false, false},
      {"class 11", [](TBlobBuilder& b) { b.SetRoot(11, 0, {}); }, false, false},
      {"extended constant", [](TBlobBuilder& b) {
         long double x = -7.0L;
         uint8_t raw[10];
         std::memcpy(raw, &x, 10);
         b.SetRoot(nodeBINARY, canEQ, {b.Field(fX), b.Node(nodeCONST, 0, {fldFLOATIEEE, 10, b.Literal(raw, 10)})});
       }, true, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBlobBuilder b;
    c.Build(b);
    const TzfCANExpr blob = b.Build();
    EXPECT_EQ(Eval(blob, record), c.OnRecord);
    EXPECT_EQ(Eval(blob, nulls), c.OnNulls);
  }
}

TEST_F(FilterExpressionTest, EngineSwitchesAndEmptyBlobs) {
  TBlobBuilder b;
  b.SetRoot(nodeCONTINUE, 0, {0});
  TzfSimpleExpressionFilterDescriptor d(b.Build(), -1, u"False");
  auto e = TzfBaseFilterEngine::CreateFor(d, &fields);
  EXPECT_TRUE(e->MatchesBuffer(record.data()));  // inactive
  e->ActivateFilter(0);
  EXPECT_FALSE(e->MatchesBuffer(record.data()));
  TzfSimpleExpressionFilterDescriptor empty(TzfCANExpr{}, -1);
  auto all = TzfBaseFilterEngine::CreateFor(empty, &fields);
  all->ActivateFilter(0);
  EXPECT_TRUE(all->MatchesBuffer(record.data()));
  // The descriptor made back from the engine keeps blob, text and the missing code page.
  auto back = e->CreateDescriptor();
  auto* sd = dynamic_cast<TzfSimpleExpressionFilterDescriptor*>(back.get());
  ASSERT_NE(sd, nullptr);
  EXPECT_EQ(sd->bsfdExpression, d.bsfdExpression);
  EXPECT_EQ(sd->bsfdCodePage, -1);
  EXPECT_EQ(sd->bsfdFilterText, u"False");
  // A copy from a pointer takes iTotalSize bytes.
  const TzfCANExpr blob = b.Build();
  TzfSimpleExpressionFilterDescriptor fromPointer(blob.data(), 1252);
  EXPECT_EQ(fromPointer.bsfdExpression, blob);
}

// Damaged blobs: every offset points outside the blob, or nests without end.
TEST_F(FilterExpressionTest, DamagedBlobsAreRefused) {
  auto blobWith = [](const TBuild& f) {
    TBlobBuilder b;
    f(b);
    return b.Build();
  };
  const TzfCANExpr good = blobWith(CmpText(canEQ, fNS, "Anna"));
  std::vector<TzfCANExpr> damaged;
  damaged.push_back(TzfCANExpr(good.begin(), good.begin() + 6));  // no header
  {
    TzfCANExpr b = good;
    b[6] = 0xF0;  // node area beyond the blob
    damaged.push_back(b);
  }
  {
    TzfCANExpr b = good;
    b[8] = 0xFF;  // literal area beyond the blob
    b[9] = 0xFF;
    damaged.push_back(b);
  }
  {
    TzfCANExpr b = good;
    b.pop_back();  // the text constant loses its terminator
    damaged.push_back(b);
  }
  // A unary node whose child is itself.
  damaged.push_back(blobWith([](TBlobBuilder& b) { b.SetRoot(nodeUNARY, canNOT, {0}); }));
  // A constant whose value lies past the end.
  damaged.push_back(blobWith([](TBlobBuilder& b) {
    b.SetRoot(nodeBINARY, canEQ, {b.Field(fD), b.Node(nodeCONST, 0, {fldFLOAT, 8, b.Literal("\1", 1)})});
  }));
  // A wide text constant whose byte count runs past the end.
  damaged.push_back(blobWith([](TBlobBuilder& b) {
    const uint8_t v[4] = {0xFF, 0x00, 'a', 0};
    b.SetRoot(nodeBINARY, canEQ, {b.Field(fWS), b.Node(nodeCONST, 0, {fldWIDESTRING, 4, b.Literal(v, 4)})});
  }));
  for (size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Outcome([&] { Eval(damaged[i], record); }).substr(0, 59),
              u"!EzfSimpleExpressionFilterEngineException #10051: ZofrinDB:");
  }
  // Every single byte changed to every value: a result or the coded error, nothing else.
  for (size_t at = 0; at < good.size(); ++at)
    for (int v : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      TzfCANExpr b = good;
      b[at] = static_cast<uint8_t>(v);
      try {
        Eval(b, record);
      } catch (const EzfSimpleExpressionFilterEngineException& e) {
        EXPECT_EQ(e.ErrorCode(), zfErrInvalidFilter);
      }
    }
}

}  // namespace
}  // namespace zf::test

namespace zf::test {
namespace {

// A chain of aLevels AND nodes whose two operands name the same node, over a true leaf: a few
// kilobytes of blob whose full evaluation doubles at every level.
TzfCANExpr SharedChain(int aLevels, bool aCycle) {
  TBlobBuilder b;
  uint16_t below = b.Node(nodeCONTINUE, 0, {1});
  for (int i = 0; i < aLevels; ++i) below = b.Node(nodeBINARY, canAND, {below, below});
  if (aCycle) below = 0;  // the root names itself
  b.SetRoot(nodeBINARY, canAND, {below, below});
  return b.Build();
}

// A balanced tree of AND nodes with 2^aLevels true leaves, every node its own.
uint16_t Balanced(TBlobBuilder& b, int aLevels) {
  if (aLevels == 0) return b.Node(nodeCONTINUE, 0, {1});
  const uint16_t l = Balanced(b, aLevels - 1), r = Balanced(b, aLevels - 1);
  return b.Node(nodeBINARY, canAND, {l, r});
}

TEST_F(FilterExpressionTest, WorkOfOneEvaluationIsBounded) {
  const struct {
    const char* Name;
    TzfCANExpr Blob;
  } cases[] = {{"shared operands", SharedChain(250, false)}, {"root names itself", SharedChain(0, true)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_LT(c.Blob.size(), 4096u);
    // Building the filter refuses the blob with the filter's error ...
    TzfSimpleExpressionFilterDescriptor d(c.Blob, -1);
    EXPECT_EQ(Outcome([&] { TzfBaseFilterEngine::CreateFor(d, &fields); }).substr(0, 59),
              u"!EzfSimpleExpressionFilterEngineException #10051: ZofrinDB:");
    // ... and the evaluator alone stops at the same budget instead of running for ever.
    EXPECT_EQ(Outcome([&] { Eval(c.Blob, record); }).substr(0, 59),
              u"!EzfSimpleExpressionFilterEngineException #10051: ZofrinDB:");
  }
  // A tree of the same kind with every node its own is built and evaluated in full.
  TBlobBuilder b;
  const uint16_t l = Balanced(b, 10), r = Balanced(b, 10);
  b.SetRoot(nodeBINARY, canAND, {l, r});
  TzfSimpleExpressionFilterDescriptor d(b.Build(), -1);
  auto e = TzfBaseFilterEngine::CreateFor(d, &fields);
  e->ActivateFilter(0);
  EXPECT_TRUE(e->MatchesBuffer(record.data()));
  // A long evaluation looks at the thread's deadline: a cancel stops it with 15461.
  zfGetCancelFlagAddress()->store(true);
  const UnicodeString cancelled = Outcome([&] { e->MatchesBuffer(record.data()); });
  zfGetCancelFlagAddress()->store(false);
  EXPECT_NE(cancelled.find(u"#15461"), UnicodeString::npos) << rtl::u8(cancelled);
}

}  // namespace
}  // namespace zf::test
