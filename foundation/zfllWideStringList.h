// Wide string lists with pluggable ordering and normalisation.
//
// A TzfWideStringList holds counted UTF-16 strings (TzfWideString), each with an object reference
// that the list does not own. Every list is built with a comparer that orders two strings and a
// transformer that normalises a string before it is stored or looked up: inserting and replacing
// store the transformed string, and Find / IndexOf transform their key first, so the comparer
// always sees two transformed strings. The full-text engines collect the distinct tokens of a
// record in sorted lists without duplicates.
//
// Comparers: raw bytes (TzfWideStringByteComparer) or the locale comparison
// (TzfWideStringCompareStringWComparer). Transformers: none, fold-string (precompose among
// others), locale mapping (case), truncation that never splits a surrogate pair, and a hub that
// chains transformers. All are counted objects used through their interfaces; they keep nothing
// but their settings and may be shared by lists.
//
// Text form: the whole text joins the strings with U+2028 (LINE SEPARATOR); setting it splits at
// U+0000, U+000A..U+000D, U+2028 and U+2029 (CR LF is one break; a break at the very end adds no
// empty line). Errors of the list are EStringListError with the offending index.
#pragma once
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "foundation/zfllException.h"
#include "foundation/zfllMemoryManager.h"
#include "foundation/zfllPersistent.h"
#include "foundation/zfllWideString.h"
#include "platform/rtl/rtlStream.h"
#include "platform/rtl/rtlStringList.h"

namespace zf {

ZF_DECLARE_ENGINE_EXCEPTION(EzfWideStringLocaleMappingTransformerException, EzfBaseException)

// Orders two strings: -1, 0 or 1.
class IzfWideStringComparer {
 public:
  virtual int32_t _AddRef() = 0;
  virtual int32_t _Release() = 0;
  virtual int8_t CompareWideStrings(const TzfWideString& a, const TzfWideString& b) = 0;

 protected:
  ~IzfWideStringComparer() = default;
};

// Normalises a string.
class IzfWideStringTransformer {
 public:
  virtual int32_t _AddRef() = 0;
  virtual int32_t _Release() = 0;
  virtual void Transform(const TzfWideString& aSource, TzfWideString& aResult) = 0;

 protected:
  ~IzfWideStringTransformer() = default;
};

using PzfWideStringComparer = RefPtr<IzfWideStringComparer>;
using PzfWideStringTransformer = RefPtr<IzfWideStringTransformer>;

#define ZF_WIDE_STRING_INTERFACED                                         \
  int32_t _AddRef() override { return TzfInterfacedObject::_AddRef(); } \
  int32_t _Release() override { return TzfInterfacedObject::_Release(); }

// ---- Comparers ----

// The first min(length) units compared as raw little-endian bytes, unsigned; on equality the
// shorter string is smaller. So U+0100 (bytes 00 01) sorts before U+00FF (bytes FF 00).
class TzfWideStringByteComparer : public TzfInterfacedObject, public IzfWideStringComparer {
 public:
  ZF_WIDE_STRING_INTERFACED
  int8_t CompareWideStrings(const TzfWideString& a, const TzfWideString& b) override;
};

class TzfBaseWideStringCompareStringComparer : public TzfInterfacedObject, public IzfWideStringComparer {
 public:
  ZF_WIDE_STRING_INTERFACED
  TzfBaseWideStringCompareStringComparer(uint32_t aLocale, uint32_t aFlags)
      : bwscscLocale(aLocale), bwscscFlags(aFlags) {}
  uint32_t bwscscLocale;
  uint32_t bwscscFlags;
};

// An empty string is smaller than any other (two empty ones are equal); otherwise the locale
// comparison with the locale and flags. A failing comparison raises ERangeError.
class TzfWideStringCompareStringWComparer : public TzfBaseWideStringCompareStringComparer {
 public:
  using TzfBaseWideStringCompareStringComparer::TzfBaseWideStringCompareStringComparer;
  int8_t CompareWideStrings(const TzfWideString& a, const TzfWideString& b) override;
};

// ---- Transformers ----

class TzfWideStringNullTransformer : public TzfInterfacedObject, public IzfWideStringTransformer {
 public:
  ZF_WIDE_STRING_INTERFACED
  void Transform(const TzfWideString& aSource, TzfWideString& aResult) override { aResult = aSource; }
};

// Folds with the fold-string flags; a failure raises 11047 with the action text
// "TzfWideStringFoldStringTransformer.Transform/FoldStringW/1".
class TzfWideStringFoldStringTransformer : public TzfInterfacedObject, public IzfWideStringTransformer {
 public:
  ZF_WIDE_STRING_INTERFACED
  explicit TzfWideStringFoldStringTransformer(uint32_t aFlags) : wsfstFlags(aFlags) {}
  void Transform(const TzfWideString& aSource, TzfWideString& aResult) override;
  uint32_t wsfstFlags;
};

// Canonical composition (fold-string flag 32).
class TzfWideStringPreComposeTransformer : public TzfWideStringFoldStringTransformer {
 public:
  TzfWideStringPreComposeTransformer() : TzfWideStringFoldStringTransformer(0x20) {}
};

// The locale mapping (case and the other mapping flags). Sort keys are refused at construction:
// 12289 "LCMAP_SORTKEY is not supported by TzfWideStringLocaleMappingTransformer".
class TzfWideStringLocaleMappingTransformer : public TzfInterfacedObject, public IzfWideStringTransformer {
 public:
  ZF_WIDE_STRING_INTERFACED
  TzfWideStringLocaleMappingTransformer(uint32_t aLocale, uint32_t aFlags);
  void Transform(const TzfWideString& aSource, TzfWideString& aResult) override;
  uint32_t wslmtLocale;
  uint32_t wslmtFlags;
};

// Cuts to wsttMaxLength units, one fewer when the last kept unit would be a high surrogate.
class TzfWideStringTruncateTransformer : public TzfInterfacedObject, public IzfWideStringTransformer {
 public:
  ZF_WIDE_STRING_INTERFACED
  explicit TzfWideStringTruncateTransformer(int32_t aMaxLength) : wsttMaxLength(aMaxLength) {}
  void Transform(const TzfWideString& aSource, TzfWideString& aResult) override;
  int32_t wsttMaxLength;
};

// Applies its transformers in order, each to the previous result.
class TzfWideStringTransformerHub : public TzfInterfacedObject, public IzfWideStringTransformer {
 public:
  ZF_WIDE_STRING_INTERFACED
  explicit TzfWideStringTransformerHub(std::vector<PzfWideStringTransformer> aTransformers)
      : wsthTransformers(std::move(aTransformers)) {}
  void Transform(const TzfWideString& aSource, TzfWideString& aResult) override;
  std::vector<PzfWideStringTransformer> wsthTransformers;
};

#undef ZF_WIDE_STRING_INTERFACED

// ---- Lists ----

// The abstract list. Indexes are 0 .. Count() - 1; an 8-bit string is converted with its code
// page (65535: zfDefaultCodePage).
class TzfWideStrings : public TzfPersistent {
 public:
  // A nil comparer becomes a byte comparer, a nil transformer a null transformer.
  TzfWideStrings(PzfWideStringComparer aComparer, PzfWideStringTransformer aTransformer);
  ~TzfWideStrings() override = default;
  TzfWideStrings(const TzfWideStrings&) = delete;
  TzfWideStrings& operator=(const TzfWideStrings&) = delete;
  const char16_t* ClassName() const override { return u"TzfWideStrings"; }

  // ---- Virtual operations ----
  virtual void SetUpdateState(bool /*aUpdating*/) {}
  virtual int32_t GetCapacity() const { return Count(); }
  virtual void SetCapacity(int32_t /*aCapacity*/) {}
  virtual int32_t Count() const = 0;
  virtual const TzfWideString& Get(int32_t aIndex) const = 0;
  virtual void Put(int32_t aIndex, const TzfWideString& aString) = 0;
  virtual void* GetObject(int32_t /*aIndex*/) const { return nullptr; }
  virtual void PutObject(int32_t aIndex, void* aObject) = 0;
  virtual TzfWideString GetTextStr() const;
  virtual void SetTextStr(const TzfWideString& aText);
  virtual int8_t CompareStrings(const TzfWideString& a, const TzfWideString& b) const;
  virtual TzfWideString TransformString(const TzfWideString& aString) const;
  virtual void Clear() = 0;
  // Inserts at the end (a sorted list: at its place) and answers the index.
  virtual int32_t Add(const TzfWideString& aString);
  virtual void Insert(int32_t aIndex, const TzfWideString& aString) = 0;
  virtual void Delete(int32_t aIndex) = 0;
  virtual void Exchange(int32_t aIndex1, int32_t aIndex2);
  // The first index whose string compares 0 with the transformed aString; -1 when none.
  virtual int32_t IndexOf(const TzfWideString& aString) const;
  int32_t IndexOf(UnicodeStringView aString) const { return IndexOf(zfUnicodeStringToWideString(aString)); }

  // ---- Adding ----
  int32_t AddObject(const TzfWideString& aString, void* aObject);
  void Append(const TzfWideString& aString) { Add(aString); }
  void InsertObject(int32_t aIndex, const TzfWideString& aString, void* aObject);
  int32_t Add(UnicodeStringView aString) { return Add(zfUnicodeStringToWideString(aString)); }
  int32_t Add(std::string_view aString, uint16_t aCodePage) { return Add(Widen(aString, aCodePage)); }
  int32_t AddObject(UnicodeStringView aString, void* aObject) {
    return AddObject(zfUnicodeStringToWideString(aString), aObject);
  }
  int32_t AddObject(std::string_view aString, uint16_t aCodePage, void* aObject) {
    return AddObject(Widen(aString, aCodePage), aObject);
  }
  void Insert(int32_t aIndex, UnicodeStringView aString) { Insert(aIndex, zfUnicodeStringToWideString(aString)); }
  void Insert(int32_t aIndex, std::string_view aString, uint16_t aCodePage) {
    Insert(aIndex, Widen(aString, aCodePage));
  }
  void InsertObject(int32_t aIndex, UnicodeStringView aString, void* aObject) {
    InsertObject(aIndex, zfUnicodeStringToWideString(aString), aObject);
  }
  void InsertObject(int32_t aIndex, std::string_view aString, uint16_t aCodePage, void* aObject) {
    InsertObject(aIndex, Widen(aString, aCodePage), aObject);
  }
  // Inside one update: every string of a platform list (with its object).
  void AddStrings(const rtl::TStrings& aStrings);
  // The same from another list (nil: assertion failure).
  void AddStrings(const TzfWideStrings* aStrings);
  // Clears and adds all strings with their objects, inside one update.
  void Assign(const TzfWideStrings& aSource);
  void Assign(const rtl::TStrings& aSource);
  void AssignTo(rtl::TStrings& aDest) const;
  void AssignTo(TzfWideStrings& aDest) const { aDest.Assign(*this); }
  // Same count and every pair at the same index comparing 0 (nil: assertion failure).
  bool Equals(const TzfWideStrings* aStrings) const;
  void Move(int32_t aCurIndex, int32_t aNewIndex);
  // The first index whose string has "=" and whose part before the first "=" compares 0 with
  // the transformed aName.
  int32_t IndexOfName(const TzfWideString& aName) const;
  int32_t IndexOfObject(const void* aObject) const;
  TzfWideString GetSeparatedText(const TzfWideString& aSeparators) const;
  TzfWideString GetSeparatedText(char16_t aSeparator) const { return GetSeparatedText(TzfWideString{aSeparator}); }

  // ---- Update brackets ----
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return wsUpdateCount; }

  // ---- Streams and files ----
  // A byte-order mark FF FE or FE FF selects UTF-16 (big-endian swapped); otherwise UTF-16 LE
  // without a mark when aForceUnicode, else 8-bit text in aCodePage. An odd last byte of UTF-16
  // text is dropped.
  void LoadFromStream(rtl::TStream& aStream, bool aForceUnicode = false, uint16_t aCodePage = 65535);
  void LoadFromFile(const UnicodeString& aFileName, bool aForceUnicode = false, uint16_t aCodePage = 65535);
  void SaveToStream(rtl::TStream& aStream, bool aUnicode = true, bool aWithBOM = true, uint16_t aCodePage = 65535) const;
  void SaveToFile(const UnicodeString& aFileName, bool aUnicode = true, bool aWithBOM = true,
                  uint16_t aCodePage = 65535) const;

  IzfWideStringComparer* Comparer() const { return wsComparer.get(); }
  IzfWideStringTransformer* Transformer() const { return wsTransformer.get(); }

 protected:
  static TzfWideString Widen(std::string_view aString, uint16_t aCodePage);
  // EStringListError "List index out of bounds (%d)".
  [[noreturn]] static void IndexError(int32_t aIndex);

  int32_t wsUpdateCount = 0;
  PzfWideStringComparer wsComparer;
  PzfWideStringTransformer wsTransformer;
};

struct TzfWideStringItem {
  TzfWideString wsiString;
  void* wsiObject = nullptr;
};

class TzfWideStringList : public TzfWideStrings {
 public:
  TzfWideStringList(PzfWideStringComparer aComparer = nullptr, PzfWideStringTransformer aTransformer = nullptr)
      : TzfWideStrings(std::move(aComparer), std::move(aTransformer)) {}
  // Clears both events, then the list.
  ~TzfWideStringList() override;
  const char16_t* ClassName() const override { return u"TzfWideStringList"; }

  void SetUpdateState(bool aUpdating) override;
  int32_t GetCapacity() const override { return static_cast<int32_t>(wslList.size()); }
  // The array's length becomes aCapacity; a count above it is cut down.
  void SetCapacity(int32_t aCapacity) override;
  int32_t Count() const override { return wslCount; }
  const TzfWideString& Get(int32_t aIndex) const override;
  // A sorted list refuses: "Operation not allowed on sorted list".
  void Put(int32_t aIndex, const TzfWideString& aString) override;
  void* GetObject(int32_t aIndex) const override;
  void PutObject(int32_t aIndex, void* aObject) override;
  void Clear() override;
  // Sorted: dupIgnore answers the existing index, dupError raises "String list does not allow
  // duplicates", dupAccept inserts at the found place.
  int32_t Add(const TzfWideString& aString) override;
  using TzfWideStrings::Add;
  // A sorted list refuses ("Operation not allowed on sorted list"); aIndex 0 .. Count().
  void Insert(int32_t aIndex, const TzfWideString& aString) override;
  using TzfWideStrings::Insert;
  void Delete(int32_t aIndex) override;
  void Exchange(int32_t aIndex1, int32_t aIndex2) override;
  int32_t IndexOf(const TzfWideString& aString) const override;
  using TzfWideStrings::IndexOf;

  virtual void Changed();
  virtual void Changing();
  // Binary search for the transformed aString: True when found; else aIndex is the insert place.
  virtual bool Find(const TzfWideString& aString, int32_t& aIndex) const;
  virtual void Sort();

  bool Sorted() const { return wslSorted; }
  // True sorts first (while still unsorted) and then marks the list sorted; False only clears the mark.
  void SetSorted(bool aValue);
  rtl::TDuplicates Duplicates() const { return wslDuplicates; }
  void SetDuplicates(rtl::TDuplicates aValue) { wslDuplicates = aValue; }

  std::function<void(TzfWideStringList&)> wslOnChange;
  std::function<void(TzfWideStringList&)> wslOnChanging;

 private:
  void InsertItem(int32_t aIndex, const TzfWideString& aString);
  void Grow();
  void CheckIndex(int32_t aIndex) const;

  std::vector<TzfWideStringItem> wslList;  // length = capacity
  int32_t wslCount = 0;
  bool wslSorted = false;
  rtl::TDuplicates wslDuplicates = rtl::dupIgnore;
};

}  // namespace zf
