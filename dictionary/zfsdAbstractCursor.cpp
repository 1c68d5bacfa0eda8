#include "dictionary/zfsdAbstractCursor.h"

#include <cstring>

#include "dictionary/zfsdServerEngine.h"
#include "dictionary/zfsdTableDescriptor.h"
#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "foundation/zfllWideString.h"

namespace zf {

namespace {

std::atomic<std::unique_ptr<TzfBaseFilterDescriptor> (*)(int32_t, const TzfFilterCallback&)> gCreateCallback{
    nullptr};
std::atomic<std::unique_ptr<TzfBaseFilterDescriptor> (*)(const uint8_t*, int32_t)> gCreateExpression{nullptr};

void CountUp(TzfBaseServerEngine* aEngine, std::atomic<int32_t> TzfBaseServerEngine::*aCounter, bool& aDone) {
  if (!aEngine) return;
  (aEngine->*aCounter).fetch_add(1);
  aDone = true;
}

void CountDown(TzfBaseServerEngine* aEngine, std::atomic<int32_t> TzfBaseServerEngine::*aCounter, bool& aDone) {
  if (!aDone) return;
  aDone = false;
  if (aEngine) (aEngine->*aCounter).fetch_sub(1);
}

// The 8-byte BLOB number stored in a record's BLOB field.
int64_t ReadBlobNr(const uint8_t* aField) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | aField[i];
  return static_cast<int64_t>(v);
}

void WriteBlobNr(uint8_t* aField, int64_t aValue) {
  uint64_t v = static_cast<uint64_t>(aValue);
  for (int i = 0; i < 8; ++i) aField[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void zfSetFilterDescriptorFactories(const TzfFilterDescriptorFactories& aFactories) {
  gCreateCallback.store(aFactories.CreateCallback);
  gCreateExpression.store(aFactories.CreateSimpleExpression);
}

// ---------------------------------------------------------------------------------------------
// TzfAbstractCursor

const rtl::TClassInfo& TzfAbstractCursor::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfAbstractCursor", &TzfAbstractTimeoutObject::ClassInfo()};
  return info;
}

TzfAbstractCursor::TzfAbstractCursor(TzfAbstractDatabase* aDatabase, uint32_t aTimeout)
    : TzfAbstractTimeoutObject(aDatabase, aTimeout), acDatabase(aDatabase) {
  atoLock = aDatabase->atoGetLock();
  aDatabase->adCursors.Append(this);
}

TzfAbstractCursor::~TzfAbstractCursor() { acDatabase->adCursors.Remove(this); }

TzfServerChain* TzfAbstractCursor::asoOwnerChain() { return &acDatabase->adCursors; }

void TzfAbstractCursor::AfterConstruction() {
  TzfAbstractTimeoutObject::AfterConstruction();
  CountUp(asoGetServerEngine(), &TzfBaseServerEngine::bseCursorCount, acLockedIncDone);
}

void TzfAbstractCursor::BeforeDestruction() {
  CountDown(asoGetServerEngine(), &TzfBaseServerEngine::bseCursorCount, acLockedIncDone);
  TzfAbstractTimeoutObject::BeforeDestruction();
}

TzfFieldsDescriptor& TzfAbstractCursor::acFields() {
  TzfBaseTableDescriptor* table = acGetTableDescriptor();
  if (!table || !table->tdFieldsDescriptor) throw EzfBaseException(zfErrObjNotFound);
  return *table->tdFieldsDescriptor;
}

rtl::Variant TzfAbstractCursor::GetFieldAsVariant(const uint8_t* aData, int32_t aField) {
  TzfFieldsDescriptor& fields = acFields();
  if (aField < 0 || aField >= fields.FieldCount) rtl::RaiseRangeError();
  TzfFieldDescriptor* field = fields.Field(aField);
  if (!zfIsBlobType(field->fdType)) return field->ValueToVariant(fields.GetRecordFieldForFilter(aField, aData));
  const uint8_t* bytes = fields.GetRecordFieldForFilter(aField, aData);
  if (!bytes) return rtl::Variant::Null();
  const int64_t blobNr = ReadBlobNr(bytes);
  uint32_t length = 0;
  zfRaiseIfError(BlobGetLength(aField, blobNr, length, false));
  if (length == 0) return rtl::Variant::Null();
  TzfMemoryStream stream(static_cast<int32_t>(std::min<uint32_t>(length, 0x7FFFFFFF)));
  zfRaiseIfError(BlobRead(aField, blobNr, 0, length, stream, false));
  // Only the bytes actually delivered are used.
  const size_t got = static_cast<size_t>(std::min<int64_t>(stream.Size(), length));
  const auto* p = static_cast<const uint8_t*>(stream.Memory());
  switch (field->fdType) {
    case zftBlobWideMemo: {
      UnicodeString s(got / 2, u'\0');
      if (!s.empty()) std::memcpy(s.data(), p, s.size() * 2);
      return rtl::Variant(std::move(s));
    }
    case zftBlobMemo: {
      UnicodeString s;
      zfStringToWideString(std::string_view(reinterpret_cast<const char*>(p), got), field->GetUsedStorageCodePage(),
                           s);
      return rtl::Variant(std::move(s));
    }
    default:
      return rtl::Variant::FromBytes(std::vector<uint8_t>(p, p + got));
  }
}

void TzfAbstractCursor::SetFieldFromVariant(uint8_t* aData, int32_t aField, const rtl::Variant& aValue) {
  TzfFieldsDescriptor& fields = acFields();
  if (aField < 0 || aField >= fields.FieldCount) rtl::RaiseRangeError();
  TzfFieldDescriptor* field = fields.Field(aField);
  if (!zfIsBlobType(field->fdType)) {
    fields.SetFieldAsVariant(aData, aField, aValue);
    return;
  }
  std::vector<uint8_t> content;
  if (!aValue.IsEmptyOrNull()) {
    if (field->fdType == zftBlobWideMemo) {
      UnicodeString s = aValue.AsString();
      content.resize(s.size() * 2);
      if (!s.empty()) std::memcpy(content.data(), s.data(), content.size());
    } else if (field->fdType == zftBlobMemo) {
      rtl::AnsiString bytes = zfWideStringToString(aValue.AsString(), field->GetUsedStorageCodePage());
      content.assign(bytes.Bytes().begin(), bytes.Bytes().end());
    } else {
      content = aValue.AsBytes();
    }
  }
  if (content.size() > 0xFFFFFFFFu) rtl::RaiseRangeError();
  uint8_t* bytes = aData + field->fdOffset;
  const bool isNull = fields.IsRecordFieldNull(aField, aData);
  if (!content.empty()) {
    int64_t blobNr;
    if (isNull) {
      WriteBlobNr(bytes, 0);
      zfRaiseIfError(BlobCreate(aField, blobNr));
      WriteBlobNr(bytes, blobNr);
      fields.SetRecordFieldNull(aField, aData, false);
      WriteBlobNr(bytes, blobNr);
    } else {
      blobNr = ReadBlobNr(bytes);
    }
    const auto len = static_cast<uint32_t>(content.size());
    zfRaiseIfError(BlobWrite(aField, blobNr, 0, len, content.data()));
    zfRaiseIfError(BlobTruncate(aField, blobNr, len));
  } else if (!isNull) {
    zfRaiseIfError(BlobDelete(aField, ReadBlobNr(bytes)));
    WriteBlobNr(bytes, 0);
    fields.SetRecordFieldNull(aField, aData, true);
  }
}

void TzfAbstractCursor::RequestNestedTransactions() {
  UnicodeString msg = rtl::Format(u"RequestNestedTransactions is not supported by %s", {UnicodeString(ClassName())});
  if (TzfBaseServerEngine* engine = asoGetServerEngine()) engine->bseRaiseException(zfErrNotSupported, &msg);
  throw EzfBaseException(zfErrNotSupported, msg);
}

uint8_t* TzfAbstractCursor::RecordBufferAlloc() {
  const int32_t length = acFields().GetRecordLength();
  auto* p = static_cast<uint8_t*>(zfGetMem(static_cast<size_t>(std::max<int32_t>(length, 1))));
  RecordBufferClear(p);
  return p;
}

void TzfAbstractCursor::RecordBufferFree(uint8_t* aBuffer) { zfFreeMem(aBuffer); }

void TzfAbstractCursor::RecordBufferClear(uint8_t* aBuffer) {
  if (aBuffer) acFields().InitRecord(aBuffer);
}

bool TzfAbstractCursor::GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType,
                                          uint16_t& aSize, bool& aIsNull, const uint8_t*& aValue,
                                          uint16_t& aCodePage) {
  return acFields().GetFieldForFilter(aField, aName, aData, aType, aSize, aIsNull, aValue, aCodePage);
}

int32_t TzfAbstractCursor::GetFieldFromName(const UnicodeString& aName) { return acFields().GetFieldFromName(aName); }
int32_t TzfAbstractCursor::GetFieldCount() { return acFields().FieldCount; }

void TzfAbstractCursor::GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) {
  TzfFieldsDescriptor& fields = acFields();
  if (aIndex < 0 || aIndex >= fields.FieldCount) rtl::RaiseRangeError();
  aInfo = fields.Field(aIndex);
}

UnicodeString TzfAbstractCursor::GetSessionUserName() {
  return asoSession ? asoSession->UserName() : UnicodeString();
}

uint32_t TzfAbstractCursor::AddWrapped(std::unique_ptr<TzfBaseFilterDescriptor> aDescriptor, const char16_t* aKind,
                                       const std::function<uint32_t(TzfBaseFilterDescriptor*)>& aAdd) {
  if (!aDescriptor)
    return EzfBaseException::zfSetMessage(zfErrNotSupported, u"Filter descriptor not supported: %s",
                                          {UnicodeString(aKind)});
  return aAdd(aDescriptor.get());
}

uint32_t TzfAbstractCursor::FilterAddExpression(const uint8_t* aExpression, TzfFilterID& aFilterID) {
  auto create = gCreateExpression.load();
  return AddWrapped(create ? create(aExpression, zfThreadLocaleAnsiCodePage()) : nullptr,
                    u"TzfSimpleExpressionFilterDescriptor",
                    [&](TzfBaseFilterDescriptor* d) { return FilterAddCustom(d, aFilterID); });
}

uint32_t TzfAbstractCursor::FilterAddCallback(int32_t aCookie, const TzfFilterCallback& aCallback,
                                              TzfFilterID& aFilterID) {
  auto create = gCreateCallback.load();
  return AddWrapped(create ? create(aCookie, aCallback) : nullptr, u"TzfCallbackFilterDescriptor",
                    [&](TzfBaseFilterDescriptor* d) { return FilterAddCustom(d, aFilterID); });
}

uint32_t TzfAbstractCursor::KeyFilterAddExpression(const uint8_t* aExpression, TzfKeyFilterID& aKeyFilterID) {
  auto create = gCreateExpression.load();
  return AddWrapped(create ? create(aExpression, zfThreadLocaleAnsiCodePage()) : nullptr,
                    u"TzfSimpleExpressionFilterDescriptor",
                    [&](TzfBaseFilterDescriptor* d) { return KeyFilterAddCustom(d, aKeyFilterID); });
}

uint32_t TzfAbstractCursor::KeyFilterAddCallback(int32_t aCookie, const TzfFilterCallback& aCallback,
                                                 TzfKeyFilterID& aKeyFilterID) {
  auto create = gCreateCallback.load();
  return AddWrapped(create ? create(aCookie, aCallback) : nullptr, u"TzfCallbackFilterDescriptor",
                    [&](TzfBaseFilterDescriptor* d) { return KeyFilterAddCustom(d, aKeyFilterID); });
}

void TzfAbstractCursor::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfAbstractTimeoutObject::AddExceptionData(aContainer);
  aContainer.AddObject(u"Database", acDatabase);
}

// ---------------------------------------------------------------------------------------------
// TzfAbstractStatement

const rtl::TClassInfo& TzfAbstractStatement::ClassInfo() {
  static const rtl::TClassInfo info{u"TzfAbstractStatement", &TzfAbstractTimeoutObject::ClassInfo()};
  return info;
}

TzfAbstractStatement::TzfAbstractStatement(TzfAbstractDatabase* aDatabase, uint32_t aTimeout, bool aExecDirect)
    : TzfAbstractTimeoutObject(aDatabase, aTimeout), asDatabase(aDatabase), asExecDirect(aExecDirect) {
  atoLock = aDatabase->atoGetLock();
  aDatabase->adStatements.Append(this);
}

TzfAbstractStatement::~TzfAbstractStatement() { asDatabase->adStatements.Remove(this); }

TzfServerChain* TzfAbstractStatement::asoOwnerChain() { return &asDatabase->adStatements; }

void TzfAbstractStatement::AfterConstruction() {
  TzfAbstractTimeoutObject::AfterConstruction();
  CountUp(asoGetServerEngine(), &TzfBaseServerEngine::bseStatementCount, asLockedIncDone);
}

void TzfAbstractStatement::BeforeDestruction() {
  CountDown(asoGetServerEngine(), &TzfBaseServerEngine::bseStatementCount, asLockedIncDone);
  TzfAbstractTimeoutObject::BeforeDestruction();
}

void TzfAbstractStatement::AddExceptionData(IzfExceptionDataContainer& aContainer) {
  TzfAbstractTimeoutObject::AddExceptionData(aContainer);
  aContainer.AddObject(u"Database", asDatabase);
}

}  // namespace zf
