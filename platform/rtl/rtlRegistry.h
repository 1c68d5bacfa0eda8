// Class infos (a class's name and parent, standing in for the platform's class references) and
// case-insensitive name registries. Registration is explicit: units fill registries from their
// register...() functions, called from the ordered start-up list.
#pragma once
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/rtlText.h"

namespace zf::rtl {

struct TClassInfo {
  const char16_t* Name;
  const TClassInfo* Parent;

  bool InheritsFrom(const TClassInfo* aOther) const {
    for (const TClassInfo* c = this; c; c = c->Parent)
      if (c == aOther) return true;
    return false;
  }
};

// Orders names without regard to ASCII case.
struct TTextLess {
  bool operator()(const UnicodeString& a, const UnicodeString& b) const { return CompareText(a, b) < 0; }
};

// A thread-safe map from case-insensitive names to values (class references, factories).
template <typename T>
class TNameRegistry {
 public:
  // False when the name is taken already.
  bool Add(const UnicodeString& aName, T aValue) {
    std::lock_guard<std::mutex> g(FLock);
    return FItems.emplace(aName, std::move(aValue)).second;
  }
  bool Remove(const UnicodeString& aName) {
    std::lock_guard<std::mutex> g(FLock);
    return FItems.erase(aName) > 0;
  }
  // Removes every name whose value satisfies aPred; answers how many went.
  template <typename Pred>
  size_t RemoveIf(Pred aPred) {
    std::lock_guard<std::mutex> g(FLock);
    size_t n = 0;
    for (auto it = FItems.begin(); it != FItems.end();) {
      if (aPred(it->second)) { it = FItems.erase(it); ++n; }
      else ++it;
    }
    return n;
  }
  bool Find(const UnicodeString& aName, T& aValue) const {
    std::lock_guard<std::mutex> g(FLock);
    auto it = FItems.find(aName);
    if (it == FItems.end()) return false;
    aValue = it->second;
    return true;
  }
  bool Contains(const UnicodeString& aName) const {
    std::lock_guard<std::mutex> g(FLock);
    return FItems.count(aName) > 0;
  }
  std::vector<std::pair<UnicodeString, T>> Items() const {
    std::lock_guard<std::mutex> g(FLock);
    return {FItems.begin(), FItems.end()};
  }
  size_t Count() const {
    std::lock_guard<std::mutex> g(FLock);
    return FItems.size();
  }
  void Clear() {
    std::lock_guard<std::mutex> g(FLock);
    FItems.clear();
  }

 private:
  mutable std::mutex FLock;
  std::map<UnicodeString, T, TTextLess> FItems;
};

}  // namespace zf::rtl
