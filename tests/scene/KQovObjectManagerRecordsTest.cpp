#include <gtest/gtest.h>

#include "scene/KPlugHandlePool.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

namespace {

struct Counts {
    int nodes;
    int records;
    int handleBlocks;
};

Counts Take(const KQovObjectManager& manager) {
    return {manager.GetNodeCount(), manager.GetUserPropertyCount(),
            KPlugHandlePool::GetBlockCount()};
}

void ExpectSame(const Counts& a, const Counts& b) {
    EXPECT_EQ(a.nodes, b.nodes);
    EXPECT_EQ(a.records, b.records);
    EXPECT_EQ(a.handleBlocks, b.handleBlocks);
}

TEST(KQovObjectManagerRecords, CreateDestroyCyclesStayFlat) {
    KQovObjectManager manager;
    KQovNode* warm = manager.CreateNode("Warm");
    ASSERT_GT(warm->GetUserPropertyCount(), 0);
    ASSERT_TRUE(manager.DestroyNode(warm, false));
    const Counts before = Take(manager);
    for (int i = 0; i < 10000; ++i) {
        KQovNode* node = manager.CreateNode("Node");
        ASSERT_TRUE(manager.DestroyNode(node, i % 2 == 0));
    }
    ExpectSame(Take(manager), before);
}

// Every way a tree of nodes goes gives back its records; a non-recursive destroy keeps the
// children, and with them their records; a record a node goes with, that another node going
// with it lists first, goes too.
TEST(KQovObjectManagerRecords, TreesGiveBackTheirRecords) {
    enum Way { eNodeRecursive, eNodeAlone, eSceneRecursive, eNodeRecursiveLent };
    for (Way way : {eNodeRecursive, eNodeAlone, eSceneRecursive, eNodeRecursiveLent}) {
        SCOPED_TRACE(int(way));
        KQovObjectManager manager;
        const Counts before = Take(manager);
        KQovScene* scene = manager.CreateScene();
        KQovNode* top = manager.CreateNode("Top");
        scene->GetRootNode()->AddChild(top);
        KQovNode* child = manager.CreateNode("Child");
        top->AddChild(child);
        KQovNode* sibling = manager.CreateNode("Sibling");
        top->AddChild(sibling);
        child->AddChild(manager.CreateNode("Leaf"));
        const int perNode = child->GetUserPropertyCount();
        if (way == eNodeRecursiveLent) child->AddUserProperty(sibling->GetUserProperty(0));
        const Counts full = Take(manager);

        if (way == eSceneRecursive) {
            ASSERT_TRUE(manager.DestroyScene(scene, true));
            ExpectSame(Take(manager), before);
            continue;
        }
        ASSERT_TRUE(manager.DestroyNode(top, way != eNodeAlone));
        const int gone = way == eNodeAlone ? 1 : 4;
        EXPECT_EQ(manager.GetNodeCount(), full.nodes - gone);
        EXPECT_EQ(manager.GetUserPropertyCount(), full.records - gone * perNode);
    }
}

TEST(KQovObjectManagerRecords, CallersRecordsOutliveTheNode) {
    KQovObjectManager manager;
    const Counts before = Take(manager);
    KQovNode* node = manager.CreateNode("Holder");
    KQovUserProperty* mine = manager.CreateUserProperty("Weight", "Real", "Weight");
    ASSERT_NE(mine, nullptr);
    node->AddUserProperty(mine);
    ASSERT_NE(mine->GetProperty(), nullptr);
    // A bare wrapper the caller made of one of the node's properties.
    KQovUserProperty* wrapper =
        manager.CreateUserPropertyFromProperty(node->GetUserProperty(1)->GetProperty());
    ASSERT_NE(wrapper, nullptr);
    node->AddUserProperty(wrapper);
    // One of the node's own records already gone through the manager.
    KQovUserProperty* own = node->GetUserProperty(0);
    ASSERT_NE(own, mine);
    ASSERT_TRUE(manager.DestroyUserProperty(own));

    ASSERT_TRUE(manager.DestroyNode(node, true));
    EXPECT_EQ(manager.GetUserPropertyCount(), before.records + 2);
    EXPECT_EQ(wrapper->GetProperty(), nullptr);
    EXPECT_TRUE(manager.DestroyUserProperty(wrapper));
    EXPECT_EQ(manager.FindUserProperty("Weight"), mine);
    EXPECT_EQ(mine->GetOwner(), nullptr);
    EXPECT_EQ(mine->GetProperty(), nullptr);
    mine->SetValue(2.5);  // nothing to reach: must neither crash nor touch the dead node
    EXPECT_TRUE(manager.DestroyUserProperty(mine));
    ExpectSame(Take(manager), before);
}

// A record two nodes list keeps the owner it has while that owner lives.
TEST(KQovObjectManagerRecords, SharedRecordKeepsItsLivingOwner) {
    KQovObjectManager manager;
    KQovNode* first = manager.CreateNode("First");
    KQovNode* second = manager.CreateNode("Second");
    KQovUserProperty* shared = manager.CreateUserProperty("Weight", "Real", "Weight");
    first->AddUserProperty(shared);
    second->AddUserProperty(shared);
    KQovUserPropertyOwner* owner = shared->GetOwner();
    ASSERT_NE(owner, nullptr);
    ASSERT_TRUE(manager.DestroyNode(second, false));
    EXPECT_EQ(shared->GetOwner(), owner);
    EXPECT_NE(shared->GetProperty(), nullptr);
    ASSERT_TRUE(manager.DestroyNode(first, false));
    EXPECT_EQ(shared->GetOwner(), nullptr);
    EXPECT_EQ(manager.FindUserProperty("Weight"), shared);
}

// Run alone (as ctest does), the list of live scenes is made after this manager and so
// would be destroyed first at exit, under the scene the manager still holds.
TEST(KQovObjectManagerRecords, ManagerInStaticStorageEndsCleanly) {
    static KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(KQovScene::GetLiveScenes().back(), scene);
}

}  // namespace
