#include "platform/rtl/rtlStringList.h"

#include <algorithm>

#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf::rtl {

// ---------------------------------------------------------------------------------------------
// TStrings

int32_t TStrings::AddObject(const UnicodeString& aString, void* aObject) {
  int32_t result = Count();
  InsertObject(result, aString, aObject);
  return result;
}

int32_t TStrings::IndexOf(UnicodeStringView aString) const {
  for (int32_t i = 0, n = Count(); i < n; ++i)
    if (CompareStrings(Get(i), aString) == 0) return i;
  return -1;
}

int TStrings::CompareStrings(UnicodeStringView a, UnicodeStringView b) const { return CompareText(a, b); }

int32_t TStrings::IndexOfObject(const void* aObject) const {
  for (int32_t i = 0, n = Count(); i < n; ++i)
    if (GetObject(i) == aObject) return i;
  return -1;
}

void TStrings::AddStrings(const TStrings& aStrings) {
  BeginUpdate();
  try {
    for (int32_t i = 0, n = aStrings.Count(); i < n; ++i) AddObject(aStrings.Get(i), aStrings.GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

UnicodeString TStrings::Names(int32_t aIndex) const {
  const UnicodeString& s = Get(aIndex);
  size_t p = s.find(u'=');
  return p == UnicodeString::npos ? UnicodeString() : s.substr(0, p);
}

UnicodeString TStrings::ValueFromIndex(int32_t aIndex) const {
  const UnicodeString& s = Get(aIndex);
  size_t p = s.find(u'=');
  return p == UnicodeString::npos ? UnicodeString() : s.substr(p + 1);
}

int32_t TStrings::IndexOfName(UnicodeStringView aName) const {
  for (int32_t i = 0, n = Count(); i < n; ++i) {
    UnicodeStringView s = Get(i);
    size_t p = s.find(u'=');
    if (p != UnicodeStringView::npos && CompareStrings(s.substr(0, p), aName) == 0) return i;
  }
  return -1;
}

UnicodeString TStrings::Values(UnicodeStringView aName) const {
  int32_t i = IndexOfName(aName);
  return i < 0 ? UnicodeString() : ValueFromIndex(i);
}

void TStrings::SetValue(UnicodeStringView aName, UnicodeStringView aValue) {
  int32_t i = IndexOfName(aName);
  if (aValue.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  UnicodeString line(aName);
  line += u'=';
  line += aValue;
  if (i >= 0)
    Put(i, line);
  else
    Add(line);
}

void TStrings::BeginUpdate() {
  if (FUpdateCount == 0) SetUpdateState(true);
  ++FUpdateCount;
}

void TStrings::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) SetUpdateState(false);
}

// ---------------------------------------------------------------------------------------------
// TStringList

TStringList::TStringList(TObjectFreer aFreer) : FOwnsObjects(aFreer != nullptr), FObjectFreer(aFreer) {}

TStringList::~TStringList() { ClearEntries(FOwnsObjects); }

void TStringList::Error(const char16_t* aMessage, int32_t aData) {
  throw EStringListError(Format(aMessage, {aData}));
}

void TStringList::CheckIndex(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) Error(u"List index out of bounds (%d)", aIndex);
}

void TStringList::FreeObject(void* aObject) const {
  if (aObject && FObjectFreer) FObjectFreer(aObject);
}

void TStringList::ClearEntries(bool aFreeObjects) {
  // The entries leave the list before their objects are freed, so that a freer reaching back into
  // the list never sees a dangling object.
  std::vector<TStringItem> old;
  old.swap(FList);
  if (aFreeObjects)
    for (const TStringItem& item : old) FreeObject(item.FObject);
}

const UnicodeString& TStringList::Get(int32_t aIndex) const {
  CheckIndex(aIndex);
  return FList[static_cast<size_t>(aIndex)].FString;
}

void TStringList::Put(int32_t aIndex, const UnicodeString& aString) {
  if (FSorted) throw EStringListError(u"Operation not allowed on sorted list");
  CheckIndex(aIndex);
  FList[static_cast<size_t>(aIndex)].FString = aString;
}

void* TStringList::GetObject(int32_t aIndex) const {
  CheckIndex(aIndex);
  return FList[static_cast<size_t>(aIndex)].FObject;
}

void TStringList::PutObject(int32_t aIndex, void* aObject) {
  CheckIndex(aIndex);
  FList[static_cast<size_t>(aIndex)].FObject = aObject;
}

void TStringList::Clear() { ClearEntries(FOwnsObjects); }

void TStringList::Delete(int32_t aIndex) {
  CheckIndex(aIndex);
  void* object = FList[static_cast<size_t>(aIndex)].FObject;
  FList.erase(FList.begin() + aIndex);
  if (FOwnsObjects) FreeObject(object);
}

void TStringList::InsertObject(int32_t aIndex, const UnicodeString& aString, void* aObject) {
  if (FSorted) throw EStringListError(u"Operation not allowed on sorted list");
  if (aIndex < 0 || aIndex > Count()) Error(u"List index out of bounds (%d)", aIndex);
  FList.insert(FList.begin() + aIndex, TStringItem{aString, aObject});
}

int32_t TStringList::AddObject(const UnicodeString& aString, void* aObject) {
  int32_t index = Count();
  if (FSorted && Find(aString, index)) {
    if (FDuplicates == dupIgnore) return index;
    if (FDuplicates == dupError) throw EStringListError(u"String list does not allow duplicates");
  }
  FList.insert(FList.begin() + index, TStringItem{aString, aObject});
  return index;
}

int32_t TStringList::IndexOf(UnicodeStringView aString) const {
  if (!FSorted) return TStrings::IndexOf(aString);
  int32_t index;
  return Find(aString, index) ? index : -1;
}

int TStringList::CompareStrings(UnicodeStringView a, UnicodeStringView b) const {
  return FCaseSensitive ? CompareStr(a, b) : CompareText(a, b);
}

bool TStringList::Find(UnicodeStringView aString, int32_t& aIndex) const {
  // Lower bound: the first entry not ordered before aString.
  int32_t l = 0, h = Count();
  while (l < h) {
    int32_t m = l + (h - l) / 2;
    if (CompareStrings(FList[static_cast<size_t>(m)].FString, aString) < 0)
      l = m + 1;
    else
      h = m;
  }
  aIndex = l;
  return l < Count() && CompareStrings(FList[static_cast<size_t>(l)].FString, aString) == 0;
}

void TStringList::Sort() {
  std::stable_sort(FList.begin(), FList.end(), [this](const TStringItem& a, const TStringItem& b) {
    return CompareStrings(a.FString, b.FString) < 0;
  });
}

void TStringList::SetSorted(bool aValue) {
  if (aValue == FSorted) return;
  if (aValue) Sort();
  FSorted = aValue;
}

void TStringList::SetCaseSensitive(bool aValue) {
  if (aValue == FCaseSensitive) return;
  FCaseSensitive = aValue;
  if (FSorted) Sort();
}

void TStringList::SetOwnsObjects(bool aValue) {
  ZF_ASSERT(!aValue || FObjectFreer != nullptr, "rtlStringList");
  FOwnsObjects = aValue;
}

}  // namespace zf::rtl
