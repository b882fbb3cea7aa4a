#include "common/MMObj.h"

#include <gtest/gtest.h>

#include <string>

TEST(MMObjTest, NestedUpdatesRaiseOneChangingAndOneChanged) {
    TMMObject obj;
    std::string events;
    obj.OnChanging = {[&](void* data, TMMObject* sender) {
                          EXPECT_EQ(sender, &obj);
                          EXPECT_EQ(data, &events);
                          events += "<";
                      },
                      &events};
    obj.OnChanged = {[&](void*, TMMObject*) { events += ">"; }, nullptr};

    obj.BeginUpdate();
    obj.BeginUpdate();
    EXPECT_EQ(obj.UpdateCount(), 2);
    obj.EndUpdate();
    EXPECT_EQ(events, "<");
    obj.EndUpdate();
    EXPECT_EQ(events, "<>");
    EXPECT_EQ(obj.UpdateCount(), 0);
}

TEST(MMObjTest, UnassignedSlotsAreSkipped) {
    TMMObject obj;
    obj.BeginUpdate();
    obj.EndUpdate();
    EXPECT_EQ(obj.UpdateCount(), 0);
}

TEST(MMObjTest, DesignModeReachesChildrenAndDestroyedChildLeavesOwner) {
    struct Owner : TMMComponent {
        TMMComponent* gone = nullptr;
        void Notification(TMMComponent* c) override { gone = c; }
    } owner;
    auto* child = new TMMNonVisualComponent(&owner);
    owner.SetDesigning(true);
    EXPECT_TRUE(child->Designing());
    delete child;
    EXPECT_EQ(owner.gone, child);
    owner.SetDesigning(false);  // must not touch the freed child
}
