#include "foundation/zfllWideStringList.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "foundation/zfllErrors.h"
#include "foundation/zfllStreams.h"
#include "platform/locale/locCollation.h"
#include "platform/rtl/rtlException.h"
#include "platform/rtl/rtlFormat.h"

namespace zf {

namespace {

constexpr char16_t kLineSeparator = 0x2028;

bool IsLineBreak(char16_t c) {
  return c == 0 || c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x2028 || c == 0x2029;
}

UnicodeStringView View(const TzfWideString& s) { return UnicodeStringView(s.data(), s.size()); }

// Runs aBody inside one update bracket of aList.
template <class F>
void InUpdate(TzfWideStrings& aList, F&& aBody) {
  aList.BeginUpdate();
  try {
    aBody();
  } catch (...) {
    aList.EndUpdate();
    throw;
  }
  aList.EndUpdate();
}

std::string NativeName(const UnicodeString& aName) {
  return zfWideStringToString(aName, 65001).Bytes();
}

}  // namespace

// ---- Comparers ----

int8_t TzfWideStringByteComparer::CompareWideStrings(const TzfWideString& a, const TzfWideString& b) {
  const size_t n = std::min(a.size(), b.size());
  const int c = n ? std::memcmp(a.data(), b.data(), n * 2) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int8_t TzfWideStringCompareStringWComparer::CompareWideStrings(const TzfWideString& a, const TzfWideString& b) {
  if (a.empty() || b.empty()) return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  const int r = locale::CompareStringW(bwscscLocale, bwscscFlags, View(a), View(b));
  if (r < 1 || r > 3) throw rtl::ERangeError(u"Range check error");
  return static_cast<int8_t>(r - 2);
}

// ---- Transformers ----

void TzfWideStringFoldStringTransformer::Transform(const TzfWideString& aSource, TzfWideString& aResult) {
  if (aSource.empty()) {
    aResult.clear();
    return;
  }
  UnicodeString r;
  if (!locale::FoldStringW(wsfstFlags, View(aSource), r))
    zfRaiseLastOSError(u"TzfWideStringFoldStringTransformer.Transform/FoldStringW/1", 0);
  aResult.assign(r.begin(), r.end());
}

TzfWideStringLocaleMappingTransformer::TzfWideStringLocaleMappingTransformer(uint32_t aLocale, uint32_t aFlags)
    : wslmtLocale(aLocale), wslmtFlags(aFlags) {
  if (aFlags & locale::LCMAP_SORTKEY)
    throw EzfWideStringLocaleMappingTransformerException(
        zfErrNotSupported, u"LCMAP_SORTKEY is not supported by TzfWideStringLocaleMappingTransformer");
}

void TzfWideStringLocaleMappingTransformer::Transform(const TzfWideString& aSource, TzfWideString& aResult) {
  if (aSource.empty()) {
    aResult.clear();
    return;
  }
  const UnicodeString r = zfWideLCMapString(View(aSource), wslmtLocale, wslmtFlags);
  aResult.assign(r.begin(), r.end());
}

void TzfWideStringTruncateTransformer::Transform(const TzfWideString& aSource, TzfWideString& aResult) {
  if (static_cast<int64_t>(aSource.size()) <= wsttMaxLength) {
    aResult = aSource;
    return;
  }
  size_t n = static_cast<size_t>(std::max(0, wsttMaxLength));
  if (n > 0 && aSource[n - 1] >= 0xD800 && aSource[n - 1] <= 0xDBFF) --n;
  aResult.assign(aSource.begin(), aSource.begin() + static_cast<std::ptrdiff_t>(n));
}

void TzfWideStringTransformerHub::Transform(const TzfWideString& aSource, TzfWideString& aResult) {
  TzfWideString current = aSource;
  for (const auto& t : wsthTransformers) {
    TzfWideString next;
    t->Transform(current, next);
    current.swap(next);
  }
  aResult.swap(current);
}

// ---- TzfWideStrings ----

TzfWideStrings::TzfWideStrings(PzfWideStringComparer aComparer, PzfWideStringTransformer aTransformer)
    : wsComparer(std::move(aComparer)), wsTransformer(std::move(aTransformer)) {
  if (!wsComparer) wsComparer = PzfWideStringComparer(RefPtr<TzfWideStringByteComparer>::Create());
  if (!wsTransformer) wsTransformer = PzfWideStringTransformer(RefPtr<TzfWideStringNullTransformer>::Create());
}

TzfWideString TzfWideStrings::Widen(std::string_view aString, uint16_t aCodePage) {
  return zfStringToWideString(aString, aCodePage == 65535 ? zfDefaultCodePage : aCodePage);
}

void TzfWideStrings::IndexError(int32_t aIndex) {
  throw rtl::EStringListError(rtl::Format(u"List index out of bounds (%d)", {aIndex}));
}

int8_t TzfWideStrings::CompareStrings(const TzfWideString& a, const TzfWideString& b) const {
  return wsComparer->CompareWideStrings(a, b);
}

TzfWideString TzfWideStrings::TransformString(const TzfWideString& aString) const {
  TzfWideString r;
  wsTransformer->Transform(aString, r);
  return r;
}

int32_t TzfWideStrings::Add(const TzfWideString& aString) {
  const int32_t i = Count();
  Insert(i, aString);
  return i;
}

int32_t TzfWideStrings::AddObject(const TzfWideString& aString, void* aObject) {
  const int32_t i = Add(aString);
  PutObject(i, aObject);
  return i;
}

void TzfWideStrings::InsertObject(int32_t aIndex, const TzfWideString& aString, void* aObject) {
  Insert(aIndex, aString);
  PutObject(aIndex, aObject);
}

void TzfWideStrings::AddStrings(const rtl::TStrings& aStrings) {
  InUpdate(*this, [&] {
    for (int32_t i = 0; i < aStrings.Count(); ++i)
      AddObject(zfUnicodeStringToWideString(aStrings.Get(i)), aStrings.GetObject(i));
  });
}

void TzfWideStrings::AddStrings(const TzfWideStrings* aStrings) {
  ZF_ASSERT(aStrings != nullptr, "zfllWideStringList");
  InUpdate(*this, [&] {
    for (int32_t i = 0; i < aStrings->Count(); ++i) AddObject(aStrings->Get(i), aStrings->GetObject(i));
  });
}

void TzfWideStrings::Assign(const TzfWideStrings& aSource) {
  if (&aSource == this) return;
  InUpdate(*this, [&] {
    Clear();
    AddStrings(&aSource);
  });
}

void TzfWideStrings::Assign(const rtl::TStrings& aSource) {
  InUpdate(*this, [&] {
    Clear();
    AddStrings(aSource);
  });
}

void TzfWideStrings::AssignTo(rtl::TStrings& aDest) const {
  aDest.BeginUpdate();
  try {
    aDest.Clear();
    for (int32_t i = 0; i < Count(); ++i) aDest.AddObject(zfWideStringToUnicodeString(Get(i)), GetObject(i));
  } catch (...) {
    aDest.EndUpdate();
    throw;
  }
  aDest.EndUpdate();
}

bool TzfWideStrings::Equals(const TzfWideStrings* aStrings) const {
  ZF_ASSERT(aStrings != nullptr, "zfllWideStringList");
  if (Count() != aStrings->Count()) return false;
  for (int32_t i = 0; i < Count(); ++i)
    if (CompareStrings(Get(i), aStrings->Get(i)) != 0) return false;
  return true;
}

void TzfWideStrings::Exchange(int32_t aIndex1, int32_t aIndex2) {
  InUpdate(*this, [&] {
    const TzfWideString s1 = Get(aIndex1);
    void* o1 = GetObject(aIndex1);
    Put(aIndex1, Get(aIndex2));
    PutObject(aIndex1, GetObject(aIndex2));
    Put(aIndex2, s1);
    PutObject(aIndex2, o1);
  });
}

void TzfWideStrings::Move(int32_t aCurIndex, int32_t aNewIndex) {
  if (aCurIndex == aNewIndex) return;
  InUpdate(*this, [&] {
    const TzfWideString s = Get(aCurIndex);
    void* o = GetObject(aCurIndex);
    Delete(aCurIndex);
    InsertObject(aNewIndex, s, o);
  });
}

int32_t TzfWideStrings::IndexOf(const TzfWideString& aString) const {
  const TzfWideString key = TransformString(aString);
  for (int32_t i = 0; i < Count(); ++i)
    if (CompareStrings(Get(i), key) == 0) return i;
  return -1;
}

int32_t TzfWideStrings::IndexOfName(const TzfWideString& aName) const {
  const TzfWideString key = TransformString(aName);
  for (int32_t i = 0; i < Count(); ++i) {
    const TzfWideString& s = Get(i);
    const auto eq = std::find(s.begin(), s.end(), u'=');
    if (eq == s.end()) continue;
    if (CompareStrings(TzfWideString(s.begin(), eq), key) == 0) return i;
  }
  return -1;
}

int32_t TzfWideStrings::IndexOfObject(const void* aObject) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (GetObject(i) == aObject) return i;
  return -1;
}

TzfWideString TzfWideStrings::GetSeparatedText(const TzfWideString& aSeparators) const {
  TzfWideString r;
  for (int32_t i = 0; i < Count(); ++i) {
    if (i > 0) r.insert(r.end(), aSeparators.begin(), aSeparators.end());
    const TzfWideString& s = Get(i);
    r.insert(r.end(), s.begin(), s.end());
  }
  return r;
}

TzfWideString TzfWideStrings::GetTextStr() const { return GetSeparatedText(kLineSeparator); }

void TzfWideStrings::SetTextStr(const TzfWideString& aText) {
  InUpdate(*this, [&] {
    Clear();
    size_t start = 0;
    size_t i = 0;
    while (i < aText.size()) {
      if (!IsLineBreak(aText[i])) {
        ++i;
        continue;
      }
      Add(TzfWideString(aText.begin() + static_cast<std::ptrdiff_t>(start), aText.begin() + static_cast<std::ptrdiff_t>(i)));
      if (aText[i] == 0x0D && i + 1 < aText.size() && aText[i + 1] == 0x0A) ++i;
      start = ++i;
    }
    if (start < aText.size()) Add(TzfWideString(aText.begin() + static_cast<std::ptrdiff_t>(start), aText.end()));
  });
}

void TzfWideStrings::BeginUpdate() {
  if (wsUpdateCount++ == 0) SetUpdateState(true);
}

void TzfWideStrings::EndUpdate() {
  if (wsUpdateCount <= 0) return;
  if (--wsUpdateCount == 0) SetUpdateState(false);
}

void TzfWideStrings::LoadFromStream(rtl::TStream& aStream, bool aForceUnicode, uint16_t aCodePage) {
  InUpdate(*this, [&] {
    const int64_t start = aStream.GetPosition();
    uint8_t bom[2] = {0, 0};
    const int32_t got = aStream.Read(bom, 2);
    bool unicode = false;
    bool swap = false;
    if (got == 2 && bom[0] == 0xFF && bom[1] == 0xFE) {
      unicode = true;
    } else if (got == 2 && bom[0] == 0xFE && bom[1] == 0xFF) {
      unicode = swap = true;
    } else {
      aStream.SetPosition(start);
      unicode = aForceUnicode;
    }
    std::vector<uint8_t> bytes;
    uint8_t buf[4096];
    for (int32_t n; (n = aStream.Read(buf, sizeof buf)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
    TzfWideString text;
    if (unicode) {
      text.resize(bytes.size() / 2);
      for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t lo = bytes[2 * i + (swap ? 1 : 0)], hi = bytes[2 * i + (swap ? 0 : 1)];
        text[i] = static_cast<char16_t>(lo | hi << 8);
      }
    } else {
      text = Widen(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), aCodePage);
    }
    SetTextStr(text);
  });
}

void TzfWideStrings::LoadFromFile(const UnicodeString& aFileName, bool aForceUnicode, uint16_t aCodePage) {
  std::ifstream in(NativeName(aFileName), std::ios::binary);
  if (!in) throw rtl::EFOpenError(rtl::Format(u"Cannot open file \"%s\". %s", {aFileName, UnicodeString(u"")}));
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TzfMemoryStream ms;
  if (!bytes.empty()) ms.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  ms.SetPosition(0);
  LoadFromStream(ms, aForceUnicode, aCodePage);
}

void TzfWideStrings::SaveToStream(rtl::TStream& aStream, bool aUnicode, bool aWithBOM, uint16_t aCodePage) const {
  const TzfWideString text = GetTextStr();
  if (aUnicode) {
    if (aWithBOM) {
      const uint8_t bom[2] = {0xFF, 0xFE};
      aStream.WriteBuffer(bom, 2);
    }
    std::vector<uint8_t> bytes(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
      bytes[2 * i] = static_cast<uint8_t>(text[i]);
      bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    if (!bytes.empty()) aStream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return;
  }
  TzfBytes bytes;
  zfWideStringToString(text, aCodePage == 65535 ? zfDefaultCodePage : aCodePage, bytes);
  if (!bytes.empty()) aStream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TzfWideStrings::SaveToFile(const UnicodeString& aFileName, bool aUnicode, bool aWithBOM,
                                uint16_t aCodePage) const {
  TzfMemoryStream ms;
  SaveToStream(ms, aUnicode, aWithBOM, aCodePage);
  std::ofstream out(NativeName(aFileName), std::ios::binary | std::ios::trunc);
  if (!out) throw rtl::EFCreateError(rtl::Format(u"Cannot create file \"%s\". %s", {aFileName, UnicodeString(u"")}));
  std::vector<char> bytes(static_cast<size_t>(ms.GetSize()));
  ms.SetPosition(0);
  if (!bytes.empty()) ms.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw rtl::EWriteError(u"Stream write error");
}

// ---- TzfWideStringList ----

TzfWideStringList::~TzfWideStringList() {
  wslOnChange = nullptr;
  wslOnChanging = nullptr;
  Clear();
}

void TzfWideStringList::SetUpdateState(bool aUpdating) {
  if (aUpdating)
    Changing();
  else
    Changed();
}

void TzfWideStringList::Changed() {
  if (wsUpdateCount == 0 && wslOnChange) wslOnChange(*this);
}

void TzfWideStringList::Changing() {
  if (wsUpdateCount == 0 && wslOnChanging) wslOnChanging(*this);
}

void TzfWideStringList::CheckIndex(int32_t aIndex) const {
  if (aIndex < 0 || aIndex >= wslCount) IndexError(aIndex);
}

void TzfWideStringList::SetCapacity(int32_t aCapacity) {
  if (aCapacity < 0) aCapacity = 0;
  wslList.resize(static_cast<size_t>(aCapacity));
  if (wslCount > aCapacity) wslCount = aCapacity;
}

const TzfWideString& TzfWideStringList::Get(int32_t aIndex) const {
  CheckIndex(aIndex);
  return wslList[static_cast<size_t>(aIndex)].wsiString;
}

void TzfWideStringList::Put(int32_t aIndex, const TzfWideString& aString) {
  if (wslSorted) throw rtl::EStringListError(u"Operation not allowed on sorted list");
  CheckIndex(aIndex);
  Changing();
  wslList[static_cast<size_t>(aIndex)].wsiString = TransformString(aString);
  Changed();
}

void* TzfWideStringList::GetObject(int32_t aIndex) const {
  CheckIndex(aIndex);
  return wslList[static_cast<size_t>(aIndex)].wsiObject;
}

void TzfWideStringList::PutObject(int32_t aIndex, void* aObject) {
  CheckIndex(aIndex);
  Changing();
  wslList[static_cast<size_t>(aIndex)].wsiObject = aObject;
  Changed();
}

void TzfWideStringList::Clear() {
  if (wslCount == 0 && wslList.empty()) return;
  Changing();
  wslList.clear();
  wslList.shrink_to_fit();
  wslCount = 0;
  Changed();
}

int32_t TzfWideStringList::Add(const TzfWideString& aString) {
  if (!wslSorted) {
    const int32_t i = wslCount;
    InsertItem(i, aString);
    return i;
  }
  int32_t i = 0;
  if (Find(aString, i)) {
    if (wslDuplicates == rtl::dupIgnore) return i;
    if (wslDuplicates == rtl::dupError) throw rtl::EStringListError(u"String list does not allow duplicates");
  }
  InsertItem(i, aString);
  return i;
}

void TzfWideStringList::Insert(int32_t aIndex, const TzfWideString& aString) {
  if (wslSorted) throw rtl::EStringListError(u"Operation not allowed on sorted list");
  if (aIndex < 0 || aIndex > wslCount) IndexError(aIndex);
  InsertItem(aIndex, aString);
}

void TzfWideStringList::Grow() {
  const size_t cap = wslList.size();
  const size_t delta = cap <= 8 ? 4 : (cap <= 64 ? 16 : cap / 4);
  wslList.resize(cap + delta);
}

void TzfWideStringList::InsertItem(int32_t aIndex, const TzfWideString& aString) {
  TzfWideString stored = TransformString(aString);
  Changing();
  if (static_cast<size_t>(wslCount) == wslList.size()) Grow();
  for (int32_t i = wslCount; i > aIndex; --i) wslList[static_cast<size_t>(i)] = std::move(wslList[static_cast<size_t>(i - 1)]);
  wslList[static_cast<size_t>(aIndex)] = TzfWideStringItem{std::move(stored), nullptr};
  ++wslCount;
  Changed();
}

void TzfWideStringList::Delete(int32_t aIndex) {
  CheckIndex(aIndex);
  Changing();
  for (int32_t i = aIndex; i + 1 < wslCount; ++i)
    wslList[static_cast<size_t>(i)] = std::move(wslList[static_cast<size_t>(i + 1)]);
  --wslCount;
  wslList[static_cast<size_t>(wslCount)] = TzfWideStringItem{};
  Changed();
}

void TzfWideStringList::Exchange(int32_t aIndex1, int32_t aIndex2) {
  CheckIndex(aIndex1);
  CheckIndex(aIndex2);
  Changing();
  std::swap(wslList[static_cast<size_t>(aIndex1)], wslList[static_cast<size_t>(aIndex2)]);
  Changed();
}

bool TzfWideStringList::Find(const TzfWideString& aString, int32_t& aIndex) const {
  const TzfWideString key = TransformString(aString);
  int32_t lo = 0, hi = wslCount - 1;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int8_t c = CompareStrings(wslList[static_cast<size_t>(mid)].wsiString, key);
    if (c < 0) {
      lo = mid + 1;
    } else if (c > 0) {
      hi = mid - 1;
    } else {
      aIndex = mid;
      return true;
    }
  }
  aIndex = lo;
  return false;
}

int32_t TzfWideStringList::IndexOf(const TzfWideString& aString) const {
  if (!wslSorted) return TzfWideStrings::IndexOf(aString);
  int32_t i = 0;
  return Find(aString, i) ? i : -1;
}

void TzfWideStringList::Sort() {
  if (wslSorted || wslCount < 2) return;
  Changing();
  std::stable_sort(wslList.begin(), wslList.begin() + wslCount,
                   [this](const TzfWideStringItem& a, const TzfWideStringItem& b) {
                     return CompareStrings(a.wsiString, b.wsiString) < 0;
                   });
  Changed();
}

void TzfWideStringList::SetSorted(bool aValue) {
  if (aValue == wslSorted) return;
  if (aValue) Sort();
  wslSorted = aValue;
}

}  // namespace zf
