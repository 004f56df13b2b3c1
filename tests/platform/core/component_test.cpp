// The component model: ownership, removal notifications and the palette registry.
#include <gtest/gtest.h>

#include "platform/core/Component.h"

namespace ovelta {
namespace {

class Probe : public TComponent {
 public:
  Probe(TComponent* AOwner, std::vector<std::string>* Log, std::string Tag)
      : TComponent(AOwner), FLog(Log), FTag(std::move(Tag)) {
    SetName(FTag);
  }
  ~Probe() override { FLog->push_back("free " + FTag); }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == TOperation::opRemove)
      FLog->push_back(FTag + " told of " + AComponent->Name());  // only the base is left by now
  }

 private:
  std::vector<std::string>* FLog;
  std::string FTag;
};

TEST(ComponentOwnership, OwnerFreesOwnedNewestFirstAndWatchersAreTold) {
  std::vector<std::string> log;
  auto* watcher = new Probe(nullptr, &log, "watcher");
  {
    Probe owner(nullptr, &log, "owner");
    new Probe(&owner, &log, "a");
    auto* b = new Probe(&owner, &log, "b");
    watcher->FreeNotification(b);
    EXPECT_EQ(owner.ComponentCount(), 2);
  }
  // A derived destructor's body runs before the base frees what it owns and tells the watchers.
  std::vector<std::string> expected = {"free owner", "free b", "watcher told of b", "free a"};
  EXPECT_EQ(log, expected);
  log.clear();
  delete watcher;  // b is gone: nothing left to tell
  EXPECT_EQ(log, std::vector<std::string>{"free watcher"});
}

TEST(ComponentOwnership, FreeingAnOwnedComponentTellsTheOwnerAndLeavesItsList) {
  std::vector<std::string> log;
  Probe owner(nullptr, &log, "owner");
  auto* a = new Probe(&owner, &log, "a");
  delete a;
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"free a", "owner told of a"}));
}

TEST(ComponentOwnership, LoadedEndsTheLoadingState) {
  TComponent component(nullptr);
  EXPECT_TRUE(component.Loading());
  component.Loaded();
  EXPECT_FALSE(component.Loading());
}

TEST(ComponentPalette, RegistrationIsQueryableAndOnce) {
  RegisterComponents("TestPage", {"TOne", "TTwo"});
  RegisterComponents("TestPage", {"TOne"});
  EXPECT_EQ(RegisteredComponents("TestPage"), (std::vector<std::string>{"TOne", "TTwo"}));
  EXPECT_TRUE(RegisteredComponents("NoSuchPage").empty());
}

TEST(NotifyEvent, EmptyEventIsNotCalledAndSenderIsPassed) {
  TNotifyEvent empty;
  Fire(empty, nullptr);  // must not throw std::bad_function_call
  TObject sender;
  TObject* seen = nullptr;
  Fire([&](TObject* s) { seen = s; }, &sender);
  EXPECT_EQ(seen, &sender);
}

}  // namespace
}  // namespace ovelta
