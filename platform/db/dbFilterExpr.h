// The filter-expression parser: turns the text of a dataset's Filter and its options into the
// expression blob a descendant hands to its filter engine, and the writer of that blob.
//
// Expression blob (little-endian):
//   0  iVer (1)   2  iTotalSize   4  iNodes   6  iNodeStart   8  iLiteralStart     (16-bit each)
// then the nodes, the root first (node offset 0), then the literals. A node offset o addresses
// byte iNodeStart + o, a literal offset iLiteralStart + o. A node: class (32-bit), operator
// (32-bit), then 16-bit operands:
//   1 unary     child                                  IS NULL / IS NOT NULL / NOT
//   2 binary    left, right                            AND, OR, or a comparison without options
//   3 compare   case-insensitive, partial length, left, right
//   4 field     field number from 1, literal offset of the zero-terminated 8-bit name
//   5 constant  data type, size, literal offset of the value
// The whole blob must stay within 65535 bytes.
//
// Filter texts:
//   condition  := term { OR term }            term := factor { AND factor }
//   factor     := NOT factor | ( condition ) | predicate
//   predicate  := operand [ op operand | IS [NOT] NULL | [NOT] LIKE operand
//                           | [NOT] IN ( operand { , operand } ) ]
//   op         := = | <> | != | < | > | <= | >=
//   operand    := field | 'text' ('' is a quote) | number | - number | TRUE | FALSE | NULL
//   field      := name | [any name] | "any name"
// Keywords ignore case. Constants take the type of the field they are compared with: a text is
// read as a number, a date ("yyyy-mm-dd", or the short date format), a time or a Boolean as the
// field needs. A text constant ending in "*" compares only its leading characters unless
// foNoPartialCompare; foCaseInsensitive compares text without regard to case. "F = NULL" is
// "F IS NULL" and "F <> NULL" is "F IS NOT NULL". A Boolean field alone is a condition
// ("Active" is "Active = TRUE"). LIKE is a test for the text anywhere in the field: the pattern
// may be wrapped in "%", and any other "%" is refused. Chains of AND and of OR are written as
// balanced trees, so a long chain nests only as deep as its logarithm.
//
// Refused with EDatabaseError: syntax errors, unknown fields and fields that are not stored
// (calculated, lookup), values that do not fit their field, comparisons of values of different
// kinds, arithmetic and functions (the engine cannot evaluate them), nesting deeper than
// MaxFilterNesting and blobs past 65535 bytes. The parser never recurses past the nesting limit.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/db/dbTypes.h"

namespace zf::db {

class TDataSet;

// Node classes, operators and constant data types of the expression blob.
enum : uint32_t { nodeExprUnary = 1, nodeExprBinary = 2, nodeExprCompare = 3, nodeExprField = 4, nodeExprConst = 5 };
enum : uint32_t {
  opExprIsBlank = 1, opExprNotBlank = 2, opExprEQ = 3, opExprNE = 4, opExprGT = 5, opExprLT = 6, opExprGE = 7,
  opExprLE = 8, opExprNot = 9, opExprAnd = 10, opExprOr = 11, opExprLike = 30
};
enum : uint16_t {
  fldExprDate = 2, fldExprBool = 4, fldExprFloat = 7, fldExprTime = 10, fldExprTimeStamp = 11, fldExprInt64 = 18,
  fldExprWideString = 0x1007
};

inline constexpr int32_t ExprHeaderSize = 10;
inline constexpr size_t MaxExprSize = 0xFFFF;
// Parentheses and NOT nested deeper than this are refused.
inline constexpr int32_t MaxFilterNesting = 64;
// The depth of the node tree written for a filter text stays within this.
inline constexpr int32_t MaxFilterTreeDepth = 200;

// Writes an expression blob: nodes are added root first and their operands patched in later.
class TFilterExprWriter {
 public:
  // A node of aClass with aOperands operand words; answers its node offset.
  size_t Node(uint32_t aClass, uint32_t aOperator, size_t aOperands);
  void Patch(size_t aNode, size_t aOperand, size_t aValue);
  // A field node: aFieldNo counted from 1, the name kept as 8-bit text ("?" for other characters).
  size_t Field(int32_t aFieldNo, const UnicodeString& aName);
  // A constant node of aType holding aBytes.
  size_t Constant(uint16_t aType, const std::vector<uint8_t>& aBytes);
  // The constants the parser and the dataset's own filters write.
  static std::vector<uint8_t> WideText(const UnicodeString& aText);  // 16-bit byte count, UTF-16
  static std::vector<uint8_t> Int64(int64_t aValue);
  static std::vector<uint8_t> Double(double aValue);
  static std::vector<uint8_t> Bool(bool aValue);
  // The blob; False when it would pass MaxExprSize.
  bool Finish(std::vector<uint8_t>& aBlob) const;

 private:
  size_t Literal(const std::vector<uint8_t>& aBytes);
  std::vector<uint8_t> FNodes;
  std::vector<uint8_t> FLiterals;
  uint16_t FCount = 0;
};

// A field a filter text may name.
struct TFilterField {
  int32_t FieldNo = 0;  // counted from 1; 0 or below: not stored, refused
  TFieldType DataType = ftUnknown;
  UnicodeString Name;
};
// Finds a field by name (case ignored); False when there is none.
using TFilterFieldLookup = std::function<bool(const UnicodeString& aName, TFilterField& aField)>;

// The expression blob of aText; an empty text gives an empty blob (no filter). Raises
// EDatabaseError for a text that cannot be compiled (see above).
std::vector<uint8_t> ParseFilterExpression(const UnicodeString& aText, TFilterOptions aOptions,
                                           const TFilterFieldLookup& aFields);
// The same over the fields of aDataSet (its field numbers).
std::vector<uint8_t> ParseFilterExpression(const UnicodeString& aText, TFilterOptions aOptions,
                                           const TDataSet& aDataSet);

}  // namespace zf::db
