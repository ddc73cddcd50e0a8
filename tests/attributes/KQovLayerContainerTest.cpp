#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ShadingDoubles.h"
#include "attributes/KQovMesh.h"
#include "scene/KQovNode.h"
#include "scene/KQovPropertyHandler.h"

namespace {

using namespace attributes_test;

// A container with nothing of its own.
class Layers : public KQovLayerContainer {
public:
    Layers() : KQovLayerContainer(nullptr) {}
    int GetAttributeType() const override { return eMesh; }
};

TEST(KQovLayer, SettersHandBackThePreviousElement) {
    KQovLayer layer;
    auto first = std::make_unique<KQovLayerElementUV>();
    KQovLayerElementUV* kept = first.get();
    EXPECT_EQ(layer.SetUVs(std::move(first)), nullptr);
    auto previous = layer.SetUVs(std::make_unique<KQovLayerElementUV>());
    EXPECT_EQ(previous.get(), kept);
    EXPECT_NE(layer.GetUVs(), kept);
    EXPECT_EQ(layer.GetLayerElement(KQovLayer::eUV), layer.GetUVs());
    for (int type : {0, 7, -1}) EXPECT_EQ(layer.GetLayerElement(type), nullptr) << type;
}

TEST(KQovLayer, CopyTakesEveryElementAndKeepsReferences) {
    ShadingWorld world;
    KQovTexture* wood = world.Texture("wood");
    KQovLayer source;
    source.MakeTextures().SetAlpha(0.25);
    source.MakeTextures().SetBlendMode(3);
    source.MakeTextures().GetDirectArray().Add(wood);
    source.MakeNormals().GetDirectArray().Add(0, 1, 0);
    source.MakeNormals().SetMappingMode(KQovLayer::eByPolygonVertex);
    KQovLayer copy;
    copy.MakeUVs();
    copy.Copy(source);
    copy.Copy(copy);  // self-copy changes nothing
    EXPECT_EQ(copy.GetUVs(), nullptr);
    ASSERT_NE(copy.GetTextures(), source.GetTextures());
    EXPECT_EQ(copy.GetTextures()->GetAlpha(), 0.25);
    EXPECT_EQ(copy.GetTextures()->GetBlendMode(), 3);
    EXPECT_EQ(copy.GetTextures()->GetDirectArray().GetAt(0), wood);
    EXPECT_EQ(copy.GetNormals()->GetMappingMode(), KQovLayer::eByPolygonVertex);
    EXPECT_EQ(copy.GetNormals()->GetDirectArray().GetAt(0)[1], 1.0);
}

TEST(KQovLayerContainer, CountsAndIndicesByType) {
    Layers c;
    for (int i = 0; i < 3; ++i) c.CreateLayer();
    c.GetLayer(0)->MakeNormals();
    c.GetLayer(2)->MakeNormals();
    EXPECT_EQ(c.GetLayerCount(KQovLayer::eNormal), 2);
    EXPECT_EQ(c.GetLayerIndex(1, KQovLayer::eNormal), 2);
    EXPECT_EQ(c.GetLayerIndex(2, KQovLayer::eNormal), -1);
    EXPECT_EQ(c.GetLayerOfType(0, KQovLayer::eNormal), c.GetLayer(0));
    EXPECT_EQ(c.GetLayerCount(9), 0);
    EXPECT_EQ(c.GetLayer(3), nullptr);
    EXPECT_EQ(c.GetLayer(-1), nullptr);
}

TEST(KQovLayerContainer, AddTextureAndMaterial) {
    ShadingWorld world;
    KQovTexture* t = world.Texture("t");
    KQovMaterial* m = world.Material("m");
    Layers c;
    EXPECT_EQ(c.AddTexture(t, 2), 0);
    EXPECT_EQ(c.GetLayerCount(), 3);
    const KQovLayerElementTexture* e = c.GetLayer(2)->GetTextures();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetReferenceMode(), KQovLayer::eIndexToDirect);
    EXPECT_EQ(e->GetAlpha(), 1.0);
    EXPECT_EQ(c.AddTexture(t, 2), 0);  // already there: its position
    EXPECT_EQ(c.AddMaterial(m, 0), 0);
    EXPECT_EQ(c.AddMaterial(m, 0), -1);  // already there: -1
    EXPECT_EQ(c.AddMaterial(m, -1), -1);
    EXPECT_EQ(c.GetLayer(0)->GetMaterials()->GetReferenceMode(), KQovLayer::eDirect);
    EXPECT_EQ(c.GetTexture(0, 2), t);
    EXPECT_EQ(c.GetTexture(1, 2), nullptr);
    EXPECT_EQ(c.GetMaterialCount(0), 1);
    EXPECT_EQ(c.GetMaterialCount(5), 0);
}

TEST(KQovLayerContainer, IndexModeCountsDistinctValuesAgainstConnectedMaterials) {
    ShadingWorld world;
    KQovMaterial* a = world.Material("a");
    KQovMaterial* b = world.Material("b");
    KQovMaterial* c3 = world.Material("c");
    KQovNode node(nullptr, "Model::N");
    // The node's connected materials become exactly these, in order.
    auto connect = [&](std::vector<KQovMaterial*> materials) {
        for (KQovMaterial* m : {a, b, c3}) m->GetPropertyHandler()->DisconnectDst(node.GetPropertyHandler());
        for (KQovMaterial* m : materials) m->GetPropertyHandler()->ConnectDst(node.GetPropertyHandler());
    };
    auto* mesh = new KQovMesh(nullptr);
    KQovLayerElementMaterial& e = mesh->GetLayer(mesh->CreateLayer())->MakeMaterials();
    e.SetReferenceMode(KQovLayer::eIndex);
    for (int i : {0, 2, 2, 0}) e.GetIndexArray().Add(i);
    EXPECT_EQ(mesh->GetMaterialCount(0), 0);  // no node
    node.SetNodeAttribute(mesh);
    struct Row {
        std::vector<KQovMaterial*> connected;
        int count;
    };
    for (const Row& row : {Row{{a, b, c3}, 2}, Row{{a}, 1}, Row{{}, 0}}) {
        connect(row.connected);
        EXPECT_EQ(mesh->GetMaterialCount(0), row.count) << row.connected.size();
    }
    connect({a, b});
    EXPECT_EQ(mesh->GetMaterial(1, 0), b);
    EXPECT_EQ(mesh->GetMaterial(2, 0), nullptr);
    delete mesh;
}

TEST(KQovLayerContainer, FindsByNameWithOrWithoutThePrefix) {
    ShadingWorld world;
    Layers c;
    c.AddTexture(world.Texture("oak"), 0);
    c.AddTexture(world.Texture("wood"), 0);
    for (const char* name : {"wood", "Texture::wood", "Other::wood"})
        EXPECT_EQ(c.GetTextureIndex(name, 0), 1) << name;
    EXPECT_EQ(c.GetTextureIndex("Wood", 0), -1);
    EXPECT_EQ(c.GetTextureIndex(nullptr, 0), -1);
    EXPECT_EQ(c.GetMaterialIndex("wood", 0), -1);
}

TEST(KQovLayerContainer, UseCountsFollowSceneClearCopyAndDestruction) {
    ShadingWorld world;
    KQovMaterial* m = world.Material("m");
    KQovTexture* t = world.Texture("t");
    KQovMaterial* unused = world.Material("u");
    KQovEntityContainer* s = world.NewScene();
    KQovEntityContainer* other = world.NewScene();
    auto c = std::make_unique<Layers>();
    c->AddMaterial(m, 0);
    c->AddTexture(t, 1);
    // Index-mode materials are the node's, not the layer's: never counted.
    KQovLayerElementMaterial& indexed = c->GetLayer(1)->MakeMaterials();
    indexed.SetReferenceMode(KQovLayer::eIndex);
    indexed.GetDirectArray().Add(unused);
    c->SetScene(s);
    c->SetScene(s);
    EXPECT_EQ(Uses(s, m), 1);
    EXPECT_EQ(Uses(s, t), 1);
    EXPECT_EQ(Uses(s, unused), 0);
    c->SetScene(other);
    EXPECT_EQ(Uses(s, m), 0);
    EXPECT_EQ(Uses(other, m), 1);

    Layers copy;
    copy.SetScene(other);
    copy.CopyLayers(*c);
    EXPECT_EQ(Uses(other, m), 2);
    copy.CopyLayers(copy);
    EXPECT_EQ(Uses(other, m), 2);
    copy.ClearLayers();
    EXPECT_EQ(Uses(other, m), 1);
    c->AddMaterial(unused, 0);
    EXPECT_EQ(Uses(other, unused), 1);
    c.reset();
    EXPECT_EQ(Uses(other, m), 0);
    EXPECT_EQ(Uses(other, t), 0);
    EXPECT_EQ(Uses(other, unused), 0);
}

}  // namespace
