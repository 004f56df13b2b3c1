// The component model: objects with a class name, components owned by an owner component (the owner
// frees what it owns), removal notifications, the loaded and design-mode states, notify events, and
// the palette registry into which each unit's Register puts its component classes.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ovelta {

class TComponent;

// Root of the framework's classes. ClassName gives the class's own name ("TOvPack",
// "ESocketError").
class TObject {
 public:
  virtual ~TObject() = default;
  virtual std::string ClassName() const { return "TObject"; }
};

// A notify event: a bound callable taking the sender. An unset event is empty and is not called;
// call it through Fire so that the empty case needs no check at each site.
using TNotifyEvent = std::function<void(TObject* Sender)>;
inline void Fire(const TNotifyEvent& Event, TObject* Sender) {
  if (Event) Event(Sender);
}

enum class TOperation { opInsert, opRemove };

// A component: owned by its owner (which may be null) and freed by it. Destroying a component first
// destroys the components it owns (last inserted first), then tells every component that was told
// of it (its owner and the components that called FreeNotification on it) through
// Notification(this, opRemove), so no one keeps a dangling pointer.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  std::string ClassName() const override { return "TComponent"; }

  TComponent* Owner() const { return FOwner; }
  const std::vector<TComponent*>& Components() const { return FComponents; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value) { FName = Value; }

  // Design mode: set while a form designer holds the component. Components skip run-time effects
  // (shell calls, windows) while it is set.
  bool Designing() const { return FDesigning; }
  void SetDesigning(bool Value) { FDesigning = Value; }

  // True between construction and the call of Loaded (the streaming of stored properties).
  bool Loading() const { return FLoading; }

  // Ask to be told (through Notification) when AComponent is destroyed, as the owner is.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Called once all stored properties are in place; the base clears the loading state.
  virtual void Loaded();

  // Called on the owner and on the components that asked for it when AComponent is inserted or
  // removed. The base does nothing.
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  // Takes AComponent into this component's ownership (removing it from its previous owner).
  void InsertComponent(TComponent* AComponent);
  // Gives up the ownership of AComponent without freeing it.
  void RemoveComponent(TComponent* AComponent);

 private:
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  std::string FName;
  bool FDesigning = false;
  bool FLoading = true;
  bool FDestroying = false;
};

// The palette registry. A component class is recorded by its name; each unit's Register puts its
// classes on the page "Ovelta". Registering the same class twice on a page records it once.
void RegisterComponents(const std::string& Page, const std::vector<std::string>& ClassNames);
// The class names registered on Page, in registration order; empty when the page does not exist.
std::vector<std::string> RegisteredComponents(const std::string& Page);

// The palette page of the library's own components.
inline constexpr const char* kOveltaPage = "Ovelta";

}  // namespace ovelta
