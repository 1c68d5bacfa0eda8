// SQL filters: a condition written in SQL, evaluated by a statement an SQL layer supplies.
//
// The engine has no SQL evaluator of its own. An SQL layer plugs one in by assigning
// SqlFilterStatementClass; until then an SQL filter can be described, stored and streamed, but
// making its engine fails with 12289.
//
// Stream body (after the class-name frame):
//   1 byte   version (2 when written; 1: the text is 8-bit; 253 and 254 are refused)
//   4 bytes  n, signed little-endian
//   n bytes (version 1) or 2n bytes of UTF-16 (otherwise): the condition
// A negative n or a text shorter than n is 15498 "Incompatible stream".
#pragma once
#include <cstdint>
#include <memory>

#include "index/zfsdFilterEngineBase.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseSqlFilterDescriptorException, EzfBaseException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSqlFilterDescriptorException, EzfBaseSqlFilterDescriptorException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfBaseSqlFilterEngineException, EzfBaseFilterEngineException)
ZF_DECLARE_ENGINE_EXCEPTION(EzfSqlFilterEngineException, EzfBaseSqlFilterEngineException)

class TzfBaseSqlFilterDescriptor : public TzfBaseFilterDescriptor {
 public:
  static const TzfFilterDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  explicit TzfBaseSqlFilterDescriptor(UnicodeString aExpression) : bsfdExpression(std::move(aExpression)) {}

  UnicodeString bsfdExpression;
};

class TzfSqlFilterDescriptor : public TzfBaseSqlFilterDescriptor {
 public:
  static const TzfFilterDescriptorClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }
  using TzfBaseSqlFilterDescriptor::TzfBaseSqlFilterDescriptor;

  // Reads the body above; failures raise EzfSqlFilterDescriptorException 15498.
  static std::unique_ptr<TzfBaseFilterDescriptor> CreateStreamed(rtl::TStream& aStream);
  uint32_t WriteToStream(rtl::TStream& aStream, int32_t aVersion) override;
};

// The evaluation of one SQL condition, supplied by an SQL layer.
class TzfBaseSqlFilterStatement {
 public:
  TzfBaseSqlFilterStatement(IzfFieldsSource* aFieldsSource, const UnicodeString& /*aSqlText*/)
      : bsfsFieldsSource(aFieldsSource) {}
  virtual ~TzfBaseSqlFilterStatement() = default;

  // The condition's truth for bsfsBuffer; False when Evaluate raises (the exception is dropped).
  bool MatchesBuffer(const uint8_t* aBuffer);

 protected:
  // The condition's truth for bsfsBuffer, read through bsfsFieldsSource.
  virtual bool Evaluate() = 0;

  IzfFieldsSource* bsfsFieldsSource;
  const uint8_t* bsfsBuffer = nullptr;  // set only during MatchesBuffer
};

// The statement class an SQL layer assigns (its virtual constructor); nullptr until then.
using TzfSqlFilterStatementClass = std::unique_ptr<TzfBaseSqlFilterStatement> (*)(IzfFieldsSource* aFieldsSource,
                                                                                   const UnicodeString& aSqlText);
extern TzfSqlFilterStatementClass SqlFilterStatementClass;

class TzfSqlFilterEngine : public TzfBaseFilterEngine {
 public:
  static const TzfFilterEngineClass& ClassInfo();
  const TzfRegisterableClass& ClassType() const override { return ClassInfo(); }

  // aDescriptor must be a TzfSqlFilterDescriptor (else EInvalidCast). Without a statement class:
  // EzfSqlFilterEngineException 12289 "SQL Filters require SqlFilterStatementClass to be assigned".
  TzfSqlFilterEngine(TzfBaseFilterDescriptor* aDescriptor, IzfFieldsSource* aFieldsSource);

  void AddExceptionData(IzfExceptionDataContainer& aContainer) override;
  std::unique_ptr<TzfBaseFilterDescriptor> CreateDescriptor() override;
  // True while inactive or for a nullptr buffer; else the statement's answer.
  bool MatchesBuffer(const uint8_t* aBuffer) override;

  UnicodeString sfeExpression;
  std::unique_ptr<TzfBaseSqlFilterStatement> sfeStatement;
};

rtl::TUnitInit& zfsdFilterEngineSQLUnit();

}  // namespace zf
