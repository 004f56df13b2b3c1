// The component model's ownership, notifications and the palette registry.
#include "platform/core/Component.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace ovelta {

namespace {

void EraseOne(std::vector<TComponent*>& List, TComponent* Item) {
  auto it = std::find(List.begin(), List.end(), Item);
  if (it != List.end()) List.erase(it);
}

}  // namespace

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  FDestroying = true;
  // Tell those who watch this component, then free what it owns, newest first.
  std::vector<TComponent*> watchers = std::move(FFreeNotifies);
  FFreeNotifies.clear();
  for (TComponent* watcher : watchers) {
    watcher->RemoveFreeNotification(this);
    watcher->Notification(this, TOperation::opRemove);
  }
  while (!FComponents.empty()) {
    TComponent* child = FComponents.back();
    FComponents.pop_back();
    child->FOwner = nullptr;
    delete child;
  }
  if (FOwner) {
    TComponent* owner = FOwner;
    FOwner = nullptr;
    EraseOne(owner->FComponents, this);
    owner->Notification(this, TOperation::opRemove);
  }
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this) ==
      AComponent->FFreeNotifies.end())
    AComponent->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  EraseOne(FFreeNotifies, AComponent);
  EraseOne(AComponent->FFreeNotifies, this);
}

void TComponent::Loaded() { FLoading = false; }

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  Notification(AComponent, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner != this) return;
  EraseOne(FComponents, AComponent);
  AComponent->FOwner = nullptr;
  if (!FDestroying) Notification(AComponent, TOperation::opRemove);
}

namespace {

struct PaletteRegistry {
  std::mutex Lock;
  std::vector<std::pair<std::string, std::vector<std::string>>> Pages;
};

PaletteRegistry& Palette() {
  static PaletteRegistry registry;
  return registry;
}

}  // namespace

void RegisterComponents(const std::string& Page, const std::vector<std::string>& ClassNames) {
  PaletteRegistry& registry = Palette();
  std::lock_guard<std::mutex> guard(registry.Lock);
  auto page = std::find_if(registry.Pages.begin(), registry.Pages.end(),
                           [&](const auto& entry) { return entry.first == Page; });
  if (page == registry.Pages.end()) {
    registry.Pages.emplace_back(Page, std::vector<std::string>{});
    page = std::prev(registry.Pages.end());
  }
  for (const std::string& name : ClassNames) {
    if (std::find(page->second.begin(), page->second.end(), name) == page->second.end())
      page->second.push_back(name);
  }
}

std::vector<std::string> RegisteredComponents(const std::string& Page) {
  PaletteRegistry& registry = Palette();
  std::lock_guard<std::mutex> guard(registry.Lock);
  for (const auto& entry : registry.Pages)
    if (entry.first == Page) return entry.second;
  return {};
}

}  // namespace ovelta
