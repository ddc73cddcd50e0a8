#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "attributes/KQovMaterial.h"
#include "attributes/KQovMaterialProperties.h"
#include "attributes/KQovShadingScene.h"
#include "attributes/KQovTexture.h"
#include "scene/KQovNode.h"
#include "scene/KQovPropertyHandler.h"

namespace {

// A scene of two nodes that records the uses it is given.
class FakeScene : public KQovShadingScene {
public:
    KQovMaterial* FindMaterial(const char* name) override {
        for (KQovMaterial* m : materials)
            if (std::string(m->GetName()) == name) return m;
        return nullptr;
    }
    KQovTexture* FindTexture(const char* name) override {
        for (KQovTexture* t : textures)
            if (std::string(t->GetName()) == name) return t;
        return nullptr;
    }
    bool AddMaterialUse(KQovMaterial* material) override {
        materials.push_back(material);
        return true;
    }
    bool AddTextureUse(KQovTexture* texture) override {
        textures.push_back(texture);
        return true;
    }

    std::vector<KQovMaterial*> materials;
    std::vector<KQovTexture*> textures;
    KQovNode a{nullptr, "Model::a"};
    KQovNode b{nullptr, "Model::b"};
};

FakeScene* gScene = nullptr;

KQovShadingScene* FindScene(KQovObject* object) {
    return gScene && (object == &gScene->a || object == &gScene->b) ? gScene : nullptr;
}

class KQovShadingSceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        gScene = &scene;
        KQovShadingScene::SetFinder(&FindScene);
    }
    void TearDown() override {
        KQovShadingScene::SetFinder(nullptr);
        gScene = nullptr;
    }
    FakeScene scene;
};

TEST_F(KQovShadingSceneTest, ConnectingToNodesOfASceneRegistersOnce) {
    KQovMaterial material(nullptr, "Material::m");
    KQovMaterial namesake(nullptr, "Material::m");
    KQovTexture texture(nullptr, "Texture::t");
    KQovNode outside(nullptr, "Model::outside");
    // Into a node of no scene, and the wrong way round: nothing.
    EXPECT_TRUE(material.GetPropertyHandler()->ConnectDst(outside.GetPropertyHandler()));
    EXPECT_TRUE(scene.a.GetPropertyHandler()->ConnectDst(material.GetPropertyHandler()));
    EXPECT_TRUE(scene.materials.empty());
    for (KQovNode* node : {&scene.a, &scene.b}) {
        EXPECT_TRUE(material.GetPropertyHandler()->ConnectDst(node->GetPropertyHandler()));
        EXPECT_TRUE(texture.GetPropertyHandler()->ConnectDst(node->GetPropertyHandler()));
    }
    // A second material of a registered name is not registered.
    EXPECT_TRUE(namesake.GetPropertyHandler()->ConnectDst(scene.b.GetPropertyHandler()));
    EXPECT_EQ(scene.materials, std::vector<KQovMaterial*>{&material});
    EXPECT_EQ(scene.textures, std::vector<KQovTexture*>{&texture});
    EXPECT_EQ(scene.a.GetChildCount(), 0);  // shading objects are no children
    // The node lists its materials in connection order.
    const int id = KQovMaterialProperties::ClassId();
    ASSERT_EQ(scene.b.GetPropertyHandler()->GetConnectedObjectCount(id), 2);
    EXPECT_EQ(scene.b.GetPropertyHandler()->GetConnectedObject(1, id),
              namesake.GetPropertyHandler());
}

}  // namespace
