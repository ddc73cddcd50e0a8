#include <gtest/gtest.h>

#include "ShadingDoubles.h"
#include "attributes/KQovMaterialProperties.h"
#include "scene/KQovPropertyHandler.h"

namespace {

using namespace attributes_test;

TEST(KQovShadingScene, ConnectingToNodesOfASceneRegistersOnce) {
    ShadingWorld world;
    KQovEntityContainer* scene = world.NewScene();
    KQovNode* a = world.NodeOf(scene, "a");
    KQovNode* b = world.NodeOf(scene, "b");
    KQovMaterial* material = world.Material("m");
    KQovMaterial* namesake = world.Material("m");
    KQovTexture* texture = world.Texture("t");
    KQovNode* outside = world.manager.CreateNode("outside");
    // Into a node of no scene, and the wrong way round: nothing.
    EXPECT_TRUE(material->GetPropertyHandler()->ConnectDst(outside->GetPropertyHandler()));
    EXPECT_TRUE(a->GetPropertyHandler()->ConnectDst(material->GetPropertyHandler()));
    EXPECT_EQ(scene->GetMaterialCount(), 0);
    for (KQovNode* node : {a, b}) {
        EXPECT_TRUE(material->GetPropertyHandler()->ConnectDst(node->GetPropertyHandler()));
        EXPECT_TRUE(texture->GetPropertyHandler()->ConnectDst(node->GetPropertyHandler()));
    }
    // A second material of a registered name is not registered.
    EXPECT_TRUE(namesake->GetPropertyHandler()->ConnectDst(b->GetPropertyHandler()));
    ASSERT_EQ(scene->GetMaterialCount(), 1);
    EXPECT_EQ(scene->GetMaterial(0), material);
    EXPECT_EQ(Uses(scene, material), 1);
    ASSERT_EQ(scene->GetTextureCount(), 1);
    EXPECT_EQ(scene->GetTexture(0), texture);
    EXPECT_EQ(a->GetChildCount(), 0);  // shading objects are no children
    // The node lists its materials in connection order.
    const int id = KQovMaterialProperties::ClassId();
    ASSERT_EQ(b->GetPropertyHandler()->GetConnectedObjectCount(id), 2);
    EXPECT_EQ(b->GetPropertyHandler()->GetConnectedObject(1, id), namesake->GetPropertyHandler());
}

}  // namespace
