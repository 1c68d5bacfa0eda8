#include "platform/rtl/rtlComponent.h"

#include <algorithm>

namespace zf::rtl {

TComponent::TComponent(TComponent* aOwner) : FOwner(aOwner) {
  if (FOwner) FOwner->Insert(this);
}

TComponent::~TComponent() {
  FDestroying = true;
  // Owned components go first, the last created first.
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    FComponents.pop_back();
    c->FOwner = nullptr;
    c->Free();
  }
  if (FOwner) FOwner->Remove(this);
}

void TComponent::EndLoading() {
  FLoading = false;
  Loaded();
}

void TComponent::BeforeDestruction() { FDestroying = true; }

void TComponent::Free() {
  BeforeDestruction();
  delete this;
}

void TComponent::Insert(TComponent* aComponent) { FComponents.push_back(aComponent); }

void TComponent::Remove(TComponent* aComponent) {
  auto it = std::find(FComponents.begin(), FComponents.end(), aComponent);
  if (it != FComponents.end()) FComponents.erase(it);
}

}  // namespace zf::rtl
