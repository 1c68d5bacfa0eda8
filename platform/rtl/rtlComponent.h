// The platform's component class: a named object with an owner that frees what it owns, a few
// state flags (loading, designing, updating, destroying) and the end-of-loading hook.
//
// Destruction is two-phase like the platform's: Free (or TComponentPtr) calls the virtual
// BeforeDestruction while the whole object still stands, then deletes it. An owner frees its
// owned components the same way, last created first.
#pragma once
#include <memory>
#include <vector>

#include "platform/rtl/rtlText.h"

namespace zf::rtl {

class TComponent {
 public:
  explicit TComponent(TComponent* aOwner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // The original class name, shown in messages and registries.
  virtual const char16_t* ClassName() const { return u"TComponent"; }

  const UnicodeString& Name() const { return FName; }
  virtual void SetName(const UnicodeString& aName) { FName = aName; }
  TComponent* Owner() const { return FOwner; }
  const std::vector<TComponent*>& Components() const { return FComponents; }

  // ComponentState.
  bool IsLoading() const { return FLoading; }
  bool IsDesigning() const { return FDesigning; }
  bool IsUpdating() const { return FUpdating; }
  bool IsDestroying() const { return FDestroying; }
  void SetDesigning(bool aValue) { FDesigning = aValue; }
  void SetUpdating(bool aValue) { FUpdating = aValue; }
  // Streaming from a form: BeginLoading marks the component loading; EndLoading clears the mark
  // and calls Loaded.
  void BeginLoading() { FLoading = true; }
  void EndLoading();

  virtual void Loaded() {}
  // Called by Free before the destructor runs, while every derived part is alive.
  virtual void BeforeDestruction();
  // Frees the component: BeforeDestruction, then delete.
  void Free();

 private:
  void Insert(TComponent* aComponent);
  void Remove(TComponent* aComponent);

  UnicodeString FName;
  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
  bool FLoading = false;
  bool FDesigning = false;
  bool FUpdating = false;
  bool FDestroying = false;
};

struct TComponentFree {
  void operator()(TComponent* aComponent) const {
    if (aComponent) aComponent->Free();
  }
};
template <typename T>
using TComponentPtr = std::unique_ptr<T, TComponentFree>;

}  // namespace zf::rtl
