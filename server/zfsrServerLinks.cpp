#include "server/zfsrServerLinks.h"

#include "foundation/zfllErrors.h"

namespace zf {

// ---------------------------------------------------------------------------------------------
// TzfKeyFieldsSource

IzfFieldsSource& TzfKeyFieldsSource::Current() {
  IzfFieldsSource* src = kfsOwner->GetCurrentKeyFieldsSource();
  if (!src) throw EzfBaseException(zfErrObjNotFound, u"The cursor has no current index");
  return *src;
}

bool TzfKeyFieldsSource::GetFieldForFilter(int32_t aField, const char* aName, const uint8_t* aData, uint16_t& aType,
                                           uint16_t& aSize, bool& aIsNull, const uint8_t*& aValue,
                                           uint16_t& aCodePage) {
  return Current().GetFieldForFilter(aField, aName, aData, aType, aSize, aIsNull, aValue, aCodePage);
}
rtl::Variant TzfKeyFieldsSource::GetFieldAsVariant(const uint8_t* aData, int32_t aField) {
  return Current().GetFieldAsVariant(aData, aField);
}
bool TzfKeyFieldsSource::GetSourceFlag() { return Current().GetSourceFlag(); }
int32_t TzfKeyFieldsSource::GetFieldFromName(const UnicodeString& aName) { return Current().GetFieldFromName(aName); }
int32_t TzfKeyFieldsSource::GetFieldCount() { return Current().GetFieldCount(); }
void TzfKeyFieldsSource::GetFieldInfo(int32_t aIndex, IzfFieldInfo*& aInfo) { Current().GetFieldInfo(aIndex, aInfo); }
int32_t TzfKeyFieldsSource::GetDataOffset() { return Current().GetDataOffset(); }

// ---------------------------------------------------------------------------------------------
// TzfTableMapper

TzfTableMapper::TzfTableMapper() {
  tmMappings.SetSorted(true);
  tmMappings.SetDuplicates(rtl::dupError);
  tmMappings.SetCaseSensitive(false);
}

TzfTableMapper::~TzfTableMapper() {
  TzfPadlockGuard g(tmPadlock);
  for (int32_t i = tmMappings.Count() - 1; i >= 0; --i) {
    auto* table = static_cast<TzfAbstractServerObject*>(tmMappings.GetObject(i));
    tmMappings.Delete(i);
    if (table) table->Free();
  }
}

rtl::TStringList& TzfTableMapper::LockList() {
  tmPadlock.Lock();
  return tmMappings;
}

void TzfTableMapper::UnlockList() { tmPadlock.Unlock(); }

bool TzfTableMapper::ContainsName(const UnicodeString& aName) {
  TzfPadlockGuard g(tmPadlock);
  int32_t index;
  return tmMappings.Find(aName, index);
}

void TzfTableMapper::AddMapping(const UnicodeString& aName, TzfAbstractServerObject* aTable) {
  TzfPadlockGuard g(tmPadlock);
  tmMappings.AddObject(aName, aTable);
}

TzfAbstractServerObject* TzfTableMapper::FindMapping(const UnicodeString& aName) {
  int32_t index;
  if (!tmMappings.Find(aName, index)) return nullptr;
  return static_cast<TzfAbstractServerObject*>(tmMappings.GetObject(index));
}

void TzfTableMapper::SetMapping(const UnicodeString& aName, TzfAbstractServerObject* aTable) {
  int32_t index;
  if (tmMappings.Find(aName, index)) {
    tmMappings.Delete(index);  // the new spelling of the name replaces the old one
  }
  tmMappings.AddObject(aName, aTable);
}

void TzfTableMapper::RemoveMapping(const UnicodeString& aName) {
  int32_t index;
  if (tmMappings.Find(aName, index)) tmMappings.Delete(index);
}

// ---------------------------------------------------------------------------------------------

uint32_t zfSqlStatementAlloc(TzfBaseSqlEngine* aSqlEngine, TzfAbstractDatabase* aDatabase,
                             TzfAbstractStatement*& aStatement, uint32_t aTimeout) {
  aStatement = nullptr;
  if (!aSqlEngine) return EzfBaseException::zfSetMessage(zfErrNotSupported, u"An SQL Engine is required");
  return aSqlEngine->StatementAlloc(aDatabase, aStatement, aTimeout);
}

}  // namespace zf
