// The platform's string lists: TStrings, the abstract list of strings with an attached object
// pointer each, and TStringList, its concrete form that can keep itself sorted.
//
// Objects are untyped pointers. A list that owns its objects frees them with its object freer
// (set by whoever knows what the objects are) when an entry is deleted, the list is cleared or the
// list goes away.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/rtl/rtlText.h"

namespace zf::rtl {

// What a sorted list does with a string it already holds.
enum TDuplicates : uint8_t {
  dupIgnore,  // the add is ignored; the existing entry's index is answered
  dupAccept,  // the string is added again
  dupError    // EStringListError "String list does not allow duplicates"
};

using TObjectFreer = void (*)(void* aObject);

class TStrings {
 public:
  TStrings() = default;
  TStrings(const TStrings&) = delete;
  TStrings& operator=(const TStrings&) = delete;
  virtual ~TStrings() = default;

  virtual int32_t Count() const = 0;
  // The string at aIndex; a bad index raises EStringListError "List index out of bounds (%d)".
  virtual const UnicodeString& Get(int32_t aIndex) const = 0;
  virtual void Put(int32_t aIndex, const UnicodeString& aString) = 0;
  virtual void* GetObject(int32_t aIndex) const = 0;
  virtual void PutObject(int32_t aIndex, void* aObject) = 0;
  virtual void Clear() = 0;
  virtual void Delete(int32_t aIndex) = 0;
  virtual void InsertObject(int32_t aIndex, const UnicodeString& aString, void* aObject) = 0;
  // Appends (or, for a sorted list, inserts in order); answers the entry's index.
  virtual int32_t AddObject(const UnicodeString& aString, void* aObject);
  // The first entry comparing equal by CompareStrings, -1 when none.
  virtual int32_t IndexOf(UnicodeStringView aString) const;
  // Negative, 0 or positive. The base ignores ASCII case.
  virtual int CompareStrings(UnicodeStringView a, UnicodeStringView b) const;

  const UnicodeString& operator[](int32_t aIndex) const { return Get(aIndex); }
  int32_t Add(const UnicodeString& aString) { return AddObject(aString, nullptr); }
  void Insert(int32_t aIndex, const UnicodeString& aString) { InsertObject(aIndex, aString, nullptr); }
  int32_t IndexOfObject(const void* aObject) const;
  // Copies every string with its object (the objects are shared, not copied).
  void AddStrings(const TStrings& aStrings);

  // "name=value" lines: the name is the text before the first "=" (empty without one), the value
  // the text after it. Names are compared with CompareStrings.
  UnicodeString Names(int32_t aIndex) const;
  UnicodeString ValueFromIndex(int32_t aIndex) const;
  int32_t IndexOfName(UnicodeStringView aName) const;
  UnicodeString Values(UnicodeStringView aName) const;  // empty when the name is absent
  // Replaces the value of the first line with that name or appends a line; an empty value removes
  // the line.
  void SetValue(UnicodeStringView aName, UnicodeStringView aValue);

  // Update brackets nest; the list is told when the outermost one opens and closes.
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return FUpdateCount; }

 protected:
  virtual void SetUpdateState(bool /*aUpdating*/) {}

 private:
  int32_t FUpdateCount = 0;
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  // A list owning its objects, which it frees with aFreer.
  explicit TStringList(TObjectFreer aFreer);
  ~TStringList() override;

  int32_t Count() const override { return static_cast<int32_t>(FList.size()); }
  const UnicodeString& Get(int32_t aIndex) const override;
  // Not allowed on a sorted list.
  void Put(int32_t aIndex, const UnicodeString& aString) override;
  void* GetObject(int32_t aIndex) const override;
  void PutObject(int32_t aIndex, void* aObject) override;
  void Clear() override;
  void Delete(int32_t aIndex) override;
  // Not allowed on a sorted list; aIndex may be 0 .. Count.
  void InsertObject(int32_t aIndex, const UnicodeString& aString, void* aObject) override;
  int32_t AddObject(const UnicodeString& aString, void* aObject) override;
  // Sorted: by Find. Unsorted: the first equal entry.
  int32_t IndexOf(UnicodeStringView aString) const override;
  // Ordered by code units when case-sensitive, else with ASCII case ignored.
  int CompareStrings(UnicodeStringView a, UnicodeStringView b) const override;

  // Binary search of a sorted list (linear scan is IndexOf's business): True when an entry
  // compares equal, aIndex then being the first such entry; otherwise aIndex is where the string
  // would be inserted.
  bool Find(UnicodeStringView aString, int32_t& aIndex) const;
  void Sort();

  bool Sorted() const { return FSorted; }
  void SetSorted(bool aValue);  // switching it on sorts the list
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates aValue) { FDuplicates = aValue; }
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool aValue);  // a sorted list re-sorts
  bool OwnsObjects() const { return FOwnsObjects; }
  // Owning needs an object freer.
  void SetOwnsObjects(bool aValue);
  TObjectFreer ObjectFreer() const { return FObjectFreer; }
  void SetObjectFreer(TObjectFreer aFreer) { FObjectFreer = aFreer; }

 protected:
  [[noreturn]] static void Error(const char16_t* aMessage, int32_t aData);
  void CheckIndex(int32_t aIndex) const;
  // Frees one object with the object freer (nothing for nil or without a freer).
  void FreeObject(void* aObject) const;
  // Removes every entry; frees the objects in index order first when aFreeObjects is set.
  void ClearEntries(bool aFreeObjects);

 private:
  struct TStringItem {
    UnicodeString FString;
    void* FObject;
  };
  std::vector<TStringItem> FList;
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
  bool FCaseSensitive = false;
  bool FOwnsObjects = false;
  TObjectFreer FObjectFreer = nullptr;
};

}  // namespace zf::rtl
