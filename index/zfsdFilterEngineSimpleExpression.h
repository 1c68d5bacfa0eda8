// Simple-expression filters: a condition the client compiled into an expression blob.
//
// Descriptor stream body (after the class-name frame):
//   1 byte     version v, 1 to 4 (others: 15498 "Incompatible stream")
//   2 bytes    L, unsigned: the blob's length; then L bytes of blob (short: the stream's read error)
//   v = 2:     unsigned 16-bit t, then t 8-bit characters of the filter text
//   v = 3, 4:  unsigned 16-bit t, then t UTF-16 units of the filter text (short text: 15498)
//   v = 4:     the code page of the blob's 8-bit text constants, signed 32-bit
// The writer writes 4 for a client above 30001 when a code page is given, else 3 when there is a
// filter text, else 1. Versions 1 to 3 give code page -1 (none).
//
// Expression blob (little-endian):
//   0  iVer   2  iTotalSize   4  iNodes   6  iNodeStart   8  iLiteralStart     (16-bit each)
// A node offset o addresses byte iNodeStart + o; a literal offset, iLiteralStart + o. The root is
// node offset 0. A node: class (32-bit) at +0, operator (32-bit) at +4, 16-bit operands from +8:
//   1 unary     child                                  IS NULL / IS NOT NULL / NOT
//   2 binary    left, right                            AND, OR, or a plain comparison
//   3 compare   case-insensitive, partial length, left, right
//   4 field     field number from 1, literal offset of the zero-terminated 8-bit name
//   5 constant  data type, size, literal offset of the value
//   7 continue  flag
//   others      false
// Every offset is checked against the blob and nesting is limited (zfMaxExpressionDepth): a blob
// that points outside itself or nests too deep raises 10051 "Invalid filter" instead of being
// read out of bounds. One evaluation visits at most as many nodes as the blob has bytes (a tree
// always fits); a blob whose operands name shared nodes or itself, so that its work would grow
// past that, is refused with 10051 when the engine is built, and the evaluator stops at the same
// budget. Every 1024 node visits the evaluation calls zfCheckTimeout (15461 when cancelled or
// past the deadline).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "index/zfsdFilterEngineBase.h"

namespace zf {

// The expression blob.
using TzfCANExpr = std::vector<uint8_t>;

// Operators of expression nodes.
enum : uint32_t {
  canISBLANK = 1, canNOTBLANK = 2, canEQ = 3, canNE = 4, canGT = 5, canLT = 6, canGE = 7, canLE = 8,
  canNOT = 9, canAND = 10, canOR = 11, canLIKE = 30
};
// Node classes.
enum : uint32_t { nodeUNARY = 1, nodeBINARY = 2, nodeCOMPARE = 3, nodeFIELD = 4, nodeCONST = 5, nodeCONTINUE = 7 };
// Constant data types.
enum : uint16_t {
  fldZSTRING = 1, fldDATE = 2, fldBOOL = 4, fldINT16 = 5, fldINT32 = 6, fldFLOAT = 7, fldTIME = 10,
  fldTIMESTAMP = 11, fldUINT16 = 12, fldUINT32 = 13, fldFLOATIEEE = 14, fldINT64 = 18, fldSINGLE = 27,
  fldWIDESTRING = 0x1007
};

inline constexpr int32_t zfExpressionHeaderSize = 10;
inline constexpr int32_t zfMaxExpressionDepth = 256;

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseSimpleExpressionFilterDescriptorException, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSimpleExpressionFilterDescriptorException,
                            EzfBaseSimpleExpressionFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseSimpleExpressionFilterEngineException, EzfBaseFilterEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSimpleExpressionFilterEngineException, EzfBaseSimpleExpressionFilterEngineException)

class TzfBaseSimpleExpressionFilterDescriptor : public TzfBaseFilterDescriptor {
 public:
  static const TzfFilterDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  TzfBaseSimpleExpressionFilterDescriptor(TzfCANExpr aExpression, int32_t aCodePage, UnicodeString aFilterText = {})
      : bsfdExpression(std::move(aExpression)), bsfdCodePage(aCodePage), bsfdFilterText(std::move(aFilterText)) {}
  // Copies iTotalSize bytes of the blob at aExpression (nullptr or a size of 0: empty).
  TzfBaseSimpleExpressionFilterDescriptor(const uint8_t* aExpression, int32_t aCodePage, UnicodeString aFilterText = {});

  TzfCANExpr bsfdExpression;
  int32_t bsfdCodePage;  // -1: not given
  UnicodeString bsfdFilterText;
};

class TzfSimpleExpressionFilterDescriptor : public TzfBaseSimpleExpressionFilterDescriptor {
 public:
  static const TzfFilterDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  using TzfBaseSimpleExpressionFilterDescriptor::TzfBaseSimpleExpressionFilterDescriptor;

  static std::unique_ptr<TzfBaseFilterDescriptor> CreateStreamed(rtl::TStream& aStream);
  // A blob or text longer than 65535 cannot be stored: 9986 with nothing written.
  uint32_t WriteToStream(rtl::TStream& aStream, int32_t aVersion) override;
};

class TzfSimpleExpressionFilterEngine : public TzfBaseFilterEngine {
 public:
  static const TzfFilterEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // aDescriptor must be a TzfSimpleExpressionFilterDescriptor (else EInvalidCast). A negative code
  // page means the process's ANSI code page. A blob whose full evaluation would pass the work
  // budget raises 10051.
  TzfSimpleExpressionFilterEngine(TzfBaseFilterDescriptor* aDescriptor, IzfFieldsSource* aFieldsSource);

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
  std::unique_ptr<TzfBaseFilterDescriptor> CreateDescriptor() override;
  // True while inactive or for an empty blob; else the root node evaluated on aBuffer. A damaged
  // blob raises 10051.
  bool MatchesBuffer(const uint8_t* aBuffer) override;

  TzfCANExpr sfeExpression;
  UnicodeString sfeFilterText;
  bool sfeHasCodePage = false;
  uint16_t sfeCodePage = 0;
};

// Evaluates aExpression on aBuffer through aFieldsSource, 8-bit text constants in aCodePage; the
// evaluator the engine uses (an empty blob passes).
bool zfEvaluateExpression(const TzfCANExpr& aExpression, IzfFieldsSource& aFieldsSource, const uint8_t* aBuffer,
                          uint16_t aCodePage);

// Raises 10051 when a full evaluation of aExpression (both operands of every node) would visit more
// nodes than the blob has bytes; offsets outside the blob are left to the evaluation.
void zfCheckExpressionWork(const TzfCANExpr& aExpression);

rtl::TUnitInit& zfsdFilterEngineSimpleExpressionUnit();

}  // namespace zf
