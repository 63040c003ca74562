// SPDX-License-Identifier: Apache-2.0
#include "common/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wct {
namespace {

// Records the destruction notices it receives and drops its reference like a framer.
class TWatcher : public TComponent {
public:
    using TComponent::TComponent;
    TComponent* target = nullptr;
    std::vector<std::string> notices;

protected:
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == TOperation::opRemove) {
            notices.push_back(component->Name());
            if (component == target) target = nullptr;
        }
    }
};

class TCounted : public TComponent {
public:
    TCounted(TComponent* owner, int& alive) : TComponent(owner), alive_(alive) { ++alive_; }
    ~TCounted() override { --alive_; }

private:
    int& alive_;
};

TEST(ComponentOwnership, OwnerFreesWhatItOwns) {
    int alive = 0;
    {
        TComponent owner;
        new TCounted(&owner, alive);
        new TCounted(&owner, alive);
        EXPECT_EQ(alive, 2);
        EXPECT_EQ(owner.Components().size(), 2u);
    }
    EXPECT_EQ(alive, 0);
}

TEST(ComponentOwnership, FreeingAnOwnedComponentRemovesItFromItsOwner) {
    int alive = 0;
    TComponent owner;
    auto* child = new TCounted(&owner, alive);
    delete child;
    EXPECT_TRUE(owner.Components().empty());
    EXPECT_EQ(alive, 0);
}

TEST(ComponentOwnership, FindsOwnedComponentsByNameIgnoringCase) {
    TComponent owner;
    auto* port = new TComponent(&owner);
    port->SetName("ComPort1");
    EXPECT_EQ(owner.FindComponent("comport1"), port);
    EXPECT_EQ(owner.FindComponent("ComPort2"), nullptr);
    EXPECT_EQ(owner.FindComponent(""), nullptr);
}

TEST(ComponentNotices, SubscriberIsToldWhenTheReferencedComponentGoes) {
    TWatcher watcher;
    auto* port = new TComponent;
    port->SetName("port");
    watcher.target = port;
    port->FreeNotification(&watcher);
    delete port;
    EXPECT_EQ(watcher.target, nullptr);
    EXPECT_EQ(watcher.notices, std::vector<std::string>{"port"});
}

TEST(ComponentNotices, RemovedSubscriptionSendsNothing) {
    TWatcher watcher;
    auto* port = new TComponent;
    port->FreeNotification(&watcher);
    port->RemoveFreeNotification(&watcher);
    delete port;
    EXPECT_TRUE(watcher.notices.empty());
}

TEST(ComponentNotices, SubscriberThatGoesFirstLeavesNoDanglingEntry) {
    auto* early = new TWatcher;
    TWatcher late;
    auto* port = new TComponent;
    port->SetName("port");
    port->FreeNotification(early);
    port->FreeNotification(&late);
    delete early;  // a stale entry would be called below (the sanitizer build catches it)
    delete port;
    EXPECT_EQ(late.notices, std::vector<std::string>{"port"});
}

TEST(ComponentNotices, NoticeArrivesWhileTheGoingComponentIsStillMarkedDestroying) {
    struct TObserved : TWatcher {
        using TWatcher::TWatcher;
        bool sawDestroying = false;
        void Notification(TComponent* c, TOperation op) override {
            TWatcher::Notification(c, op);
            if (op == TOperation::opRemove) sawDestroying = c->Destroying();
        }
    };
    TObserved watcher;
    auto* port = new TComponent;
    port->FreeNotification(&watcher);
    delete port;
    EXPECT_TRUE(watcher.sawDestroying);
}

TEST(ComponentState, LoadingLastsFromBeginLoadingToLoaded) {
    TComponent c;
    EXPECT_FALSE(c.Loading());
    c.BeginLoading();
    EXPECT_TRUE(c.Loading());
    c.Loaded();
    EXPECT_FALSE(c.Loading());
}

}  // namespace
}  // namespace wct
