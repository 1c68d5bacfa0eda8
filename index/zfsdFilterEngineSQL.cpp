#include "index/zfsdFilterEngineSQL.h"

#include <string>

#include "foundation/zfllErrors.h"
#include "foundation/zfllWideString.h"
#include "index/zfsdFilterEngineCallback.h"
#include "platform/rtl/rtlException.h"

namespace zf {

TzfSqlFilterStatementClass SqlFilterStatementClass = nullptr;

namespace {

constexpr uint8_t kSqlStreamVersion = 2;

[[noreturn]] void RaiseIncompatible() { throw EzfSqlFilterDescriptorException(zfErrIncompatibleStream); }

void ReadExact(rtl::TStream& aStream, void* aBuffer, int64_t aCount) {
  if (aCount > 0 && aStream.Read(aBuffer, static_cast<int32_t>(aCount)) != aCount) RaiseIncompatible();
}

}  // namespace

const TzfFilterDescriptorClass& TzfBaseSqlFilterDescriptor::ClassInfo() {
  static const TzfFilterDescriptorClass info(
      u"TzfBaseSqlFilterDescriptor", &TzfBaseFilterDescriptor::ClassInfo(),
      [](rtl::TStream&) -> std::unique_ptr<TzfBaseFilterDescriptor> {
        zfRaiseNoStreamForm(u"TzfBaseSqlFilterDescriptor");
      });
  return info;
}

const TzfFilterDescriptorClass& TzfSqlFilterDescriptor::ClassInfo() {
  static const TzfFilterDescriptorClass info(u"TzfSqlFilterDescriptor", &TzfBaseSqlFilterDescriptor::ClassInfo(),
                                             &TzfSqlFilterDescriptor::CreateStreamed);
  return info;
}

std::unique_ptr<TzfBaseFilterDescriptor> TzfSqlFilterDescriptor::CreateStreamed(rtl::TStream& aStream) {
  uint8_t version = 0;
  ReadExact(aStream, &version, 1);
  if (version == 253 || version == 254) RaiseIncompatible();
  uint8_t raw[4];
  ReadExact(aStream, raw, 4);
  const int32_t n = static_cast<int32_t>(raw[0] | raw[1] << 8 | raw[2] << 16 | static_cast<uint32_t>(raw[3]) << 24);
  if (n < 0) RaiseIncompatible();
  const int64_t bytes = version == 1 ? int64_t{n} : int64_t{n} * 2;
  // The text must be in the stream before anything is allocated for it.
  if (bytes > aStream.GetSize() - aStream.GetPosition()) RaiseIncompatible();
  UnicodeString text;
  if (version == 1) {
    std::string ansi(static_cast<size_t>(n), '\0');
    ReadExact(aStream, ansi.data(), n);
    zfStringToWideString(ansi, 0, text);
  } else {
    std::string units(static_cast<size_t>(bytes), '\0');
    ReadExact(aStream, units.data(), bytes);
    text.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
      text[static_cast<size_t>(i)] = static_cast<char16_t>(static_cast<uint8_t>(units[2 * i]) |
                                                           static_cast<uint8_t>(units[2 * i + 1]) << 8);
  }
  return std::make_unique<TzfSqlFilterDescriptor>(std::move(text));
}

uint32_t TzfSqlFilterDescriptor::WriteToStream(rtl::TStream& aStream, int32_t /*aVersion*/) {
  WriteClassName(aStream);
  aStream.WriteBuffer(&kSqlStreamVersion, 1);
  const uint32_t n = static_cast<uint32_t>(bsfdExpression.size());
  const uint8_t len[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                          static_cast<uint8_t>(n >> 24)};
  aStream.WriteBuffer(len, 4);
  std::string units;
  units.reserve(bsfdExpression.size() * 2);
  for (char16_t c : bsfdExpression) {
    units.push_back(static_cast<char>(c & 0xFF));
    units.push_back(static_cast<char>(c >> 8));
  }
  if (!units.empty()) aStream.WriteBuffer(units.data(), static_cast<int64_t>(units.size()));
  return zfErrNone;
}

bool TzfBaseSqlFilterStatement::MatchesBuffer(const uint8_t* aBuffer) {
  bsfsBuffer = aBuffer;
  bool r;
  try {
    r = Evaluate();
  } catch (...) {
    r = false;
  }
  bsfsBuffer = nullptr;
  return r;
}

const TzfFilterEngineClass& TzfSqlFilterEngine::ClassInfo() {
  static const TzfFilterEngineClass info(
      u"TzfSqlFilterEngine", &TzfBaseFilterEngine::ClassInfo(),
      [](TzfBaseFilterDescriptor* d, IzfFieldsSource* s) -> std::unique_ptr<TzfBaseFilterEngine> {
        return std::make_unique<TzfSqlFilterEngine>(d, s);
      });
  return info;
}

TzfSqlFilterEngine::TzfSqlFilterEngine(TzfBaseFilterDescriptor* aDescriptor, IzfFieldsSource* aFieldsSource)
    : TzfBaseFilterEngine(aDescriptor, aFieldsSource) {
  auto* d = dynamic_cast<TzfSqlFilterDescriptor*>(aDescriptor);
  if (!d) throw rtl::EInvalidCast(u"Invalid class typecast");
  sfeExpression = d->bsfdExpression;
  if (!SqlFilterStatementClass)
    throw EzfSqlFilterEngineException(zfErrNotSupported, u"SQL Filters require SqlFilterStatementClass to be assigned");
  sfeStatement = SqlFilterStatementClass(aFieldsSource, sfeExpression);
}

void TzfSqlFilterEngine::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfBaseFilterEngine::AddExceptionData(aContainer);
  aContainer.AddString(u"Expression", sfeExpression);
}

std::unique_ptr<TzfBaseFilterDescriptor> TzfSqlFilterEngine::CreateDescriptor() {
  return std::make_unique<TzfSqlFilterDescriptor>(sfeExpression);
}

bool TzfSqlFilterEngine::MatchesBuffer(const uint8_t* aBuffer) {
  if (!IsActive() || !aBuffer) return true;
  if (!sfeStatement)
    throw EzfSqlFilterEngineException(zfErrNotSupported,
                                      u"TzfSqlFilterEngine.MatchesBuffer requires sfeStatement to be assigned");
  return sfeStatement->MatchesBuffer(aBuffer);
}

namespace {

void Start() {
  TzfBaseFilterDescriptor::RegisterFilterDescriptor(TzfSqlFilterDescriptor::ClassInfo());
  TzfBaseFilterEngine::RegisterFilterEngine(TzfSqlFilterEngine::ClassInfo());
}

void Stop() {
  TzfBaseFilterEngine::UnregisterFilterEngine(TzfSqlFilterEngine::ClassInfo());
  TzfBaseFilterDescriptor::UnregisterFilterDescriptor(TzfSqlFilterDescriptor::ClassInfo());
}

}  // namespace

rtl::TUnitInit& zfsdFilterEngineSQLUnit() {
  static rtl::TUnitInit unit("zfsdFilterEngineSQL", &Start, &Stop);
  return unit;
}

}  // namespace zf
