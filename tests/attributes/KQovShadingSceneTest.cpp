#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ShadingDoubles.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovMaterialProperties.h"
#include "common/RefusingHeap.h"
#include "scene/KQovEntityContainer.h"
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

namespace {

// Every order of giving a node its mesh, linking it into a scene and giving the mesh a material
// and a texture lists both in the scene once; taking the node out lists neither.
TEST(KQovShadingScene, ListsDoNotDependOnTheBuildOrder) {
    enum Step { eAttach, eLink, eShade };
    std::vector<Step> order = {eAttach, eLink, eShade};
    do {
        ShadingWorld world;
        KQovEntityContainer* scene = world.NewScene();
        KQovNode* node = world.manager.CreateNode("n");
        KQovMesh* mesh = world.manager.CreateMesh();
        KQovMaterial* m = world.Material("m");
        KQovTexture* t = world.Texture("t");
        for (Step step : order) {
            if (step == eAttach) node->SetNodeAttribute(mesh);
            if (step == eLink) scene->GetRootNode()->AddChild(node);
            if (step == eShade) mesh->AddMaterial(m, 0), mesh->AddTexture(t, 0);
        }
        SCOPED_TRACE(testing::Message() << order[0] << order[1] << order[2]);
        EXPECT_EQ(scene->FindMaterial(KString("Material::m")), m);
        EXPECT_EQ(scene->FindTexture(KString("Texture::t")), t);
        EXPECT_EQ(Uses(scene, m), 1);
        EXPECT_EQ(Uses(scene, t), 1);
        scene->GetRootNode()->RemoveChild(node);
        EXPECT_EQ(scene->GetMaterialCount(), 0);
        EXPECT_EQ(scene->GetTextureCount(), 0);
    } while (std::next_permutation(order.begin(), order.end()));

    // Two users linked as one subtree: the one that leaves takes only its own use along, into
    // the scene it joins.
    ShadingWorld world;
    KQovEntityContainer* scene = world.NewScene();
    KQovEntityContainer* other = world.NewScene();
    KQovMaterial* m = world.Material("m");
    KQovNode* parent = world.manager.CreateNode("p");
    KQovNode* kids[2] = {world.manager.CreateNode("a"), world.manager.CreateNode("b")};
    for (KQovNode* kid : kids) {
        parent->AddChild(kid);
        kid->SetNodeAttribute(world.manager.CreateMesh());
        kid->GetMesh()->AddMaterial(m, 0);
    }
    scene->GetRootNode()->AddChild(parent);
    EXPECT_EQ(Uses(scene, m), 2);
    other->GetRootNode()->AddChild(parent->RemoveChild(kids[0]));
    EXPECT_EQ(Uses(scene, m), 1);
    EXPECT_EQ(Uses(other, m), 1);
    kids[1]->SetNodeAttribute(nullptr);
    EXPECT_EQ(scene->GetMaterialCount(), 0);

    // An element by index names the node's connections: a material added to it is no use.
    KQovMesh* indexed = world.manager.CreateMesh();
    indexed->GetLayer(indexed->CreateLayer())->MakeMaterials().SetReferenceMode(KQovLayer::eIndex);
    kids[1]->SetNodeAttribute(indexed);
    indexed->AddMaterial(m, 0);
    kids[1]->SetNodeAttribute(nullptr);
    EXPECT_EQ(scene->GetMaterialCount(), 0);
}

// A material or texture destroyed while layers name it leaves every one of them, in a scene
// or not, shapes too: later positions move down, the polygons that named it name none.
TEST(KQovShadingScene, ADestroyedMaterialOrTextureLeavesEveryLayer) {
    ShadingWorld world;
    KQovEntityContainer* scene = world.NewScene();
    KQovMaterial* kept = world.Material("kept");
    KQovMaterial* gone = world.Material("gone");
    KQovTexture* wood = world.Texture("wood");
    KQovNode* node = world.manager.CreateNode("n");
    scene->GetRootNode()->AddChild(node);
    KQovMesh* mesh = world.manager.CreateMesh();
    mesh->InitControlPoints(3);
    mesh->InitMaterialIndices(KQovLayer::eByPolygon);
    mesh->InitTextureIndices(KQovLayer::eByPolygon);
    for (int material : {1, 0, 2}) {
        mesh->BeginPolygon(material, material == 0 ? -1 : 0);
        for (int v : {0, 1, 2}) mesh->AddPolygonVertex(v);
    }
    node->SetNodeAttribute(mesh);
    mesh->AddMaterial(kept, 0);
    mesh->AddMaterial(gone, 0);
    mesh->AddMaterial(world.Material("last"), 0);
    mesh->AddTexture(wood, 0);
    // Named twice in one element, by index alone, and by a shape: out of any scene.
    KQovMesh* loose = world.manager.CreateMesh();
    KQovLayerElementMaterial& twice = loose->GetLayer(loose->CreateLayer())->MakeMaterials();
    twice.SetReferenceMode(KQovLayer::eIndexToDirect);
    twice.GetDirectArray().Add(gone);
    twice.GetDirectArray().Add(gone);
    twice.GetIndexArray().Add(1);
    KQovLayerElementMaterial& indexed = loose->GetLayer(loose->CreateLayer())->MakeMaterials();
    indexed.SetReferenceMode(KQovLayer::eIndex);
    indexed.GetDirectArray().Add(gone);
    indexed.GetIndexArray().Add(3);
    KQovShape* shape = world.manager.CreateShape();
    shape->AddTexture(wood, 0);
    EXPECT_EQ(Uses(scene, gone), 1);

    ASSERT_TRUE(world.manager.DestroyMaterial(gone));
    ASSERT_TRUE(world.manager.DestroyTexture(wood));
    const KQovLayerElementMaterial* materials = mesh->GetLayer(0)->GetMaterials();
    ASSERT_EQ(materials->GetDirectArray().GetCount(), 2);
    EXPECT_EQ(materials->GetDirectArray().GetAt(0), kept);
    const std::vector<int> indices(materials->GetIndexArray().GetArray(),
                                   materials->GetIndexArray().GetArray() + 3);
    EXPECT_EQ(indices, (std::vector<int>{-1, 0, 1}));
    EXPECT_EQ(mesh->GetTextureCount(0), 0);
    EXPECT_EQ(mesh->GetTextureIndices()->GetAt(0), -1);
    EXPECT_EQ(scene->GetMaterialCount(), 2);
    EXPECT_EQ(scene->GetTextureCount(), 0);
    EXPECT_EQ(Uses(scene, kept), 1);
    EXPECT_EQ(twice.GetDirectArray().GetCount(), 0);
    EXPECT_EQ(twice.GetIndexArray().GetAt(0), -1);
    EXPECT_EQ(indexed.GetDirectArray().GetCount(), 0);
    EXPECT_EQ(indexed.GetIndexArray().GetAt(0), 3);  // the node's materials, not the array's
    EXPECT_EQ(shape->GetTextureCount(0), 0);
    // Several at once: one not the manager's (gone already) fails alone.
    KQovMaterial* last = materials->GetDirectArray().GetAt(1);
    EXPECT_FALSE(world.manager.DestroyMaterials({last, gone, kept}));
    EXPECT_EQ(materials->GetDirectArray().GetCount(), 0);
    const std::vector<int> none(materials->GetIndexArray().GetArray(),
                                materials->GetIndexArray().GetArray() + 3);
    EXPECT_EQ(none, (std::vector<int>{-1, -1, -1}));
    EXPECT_EQ(scene->GetMaterialCount(), 0);
    node->SetNodeAttribute(nullptr);
    EXPECT_EQ(scene->GetMaterialCount(), 0);
}


// Out of memory at each allocation of linking a node or attaching its mesh: the mesh counts its
// uses where its node is, or the call throws and the node holds it nowhere.
TEST(KQovShadingScene, JoiningOutOfMemoryLeavesNoUncountedMesh) {
    for (const bool link : {true, false})
        for (long at = 0;; ++at) {
            KQovObjectManager manager;
            KQovEntityContainer* into = manager.CreateScene()->GetEntityContainer();
            KQovNode* node = manager.CreateNode("n");
            KQovMesh* mesh = manager.CreateMesh();
            mesh->AddMaterial(manager.CreateMaterial("m"), 0);
            mesh->AddTexture(manager.CreateTexture("t"), 1);
            if (link) node->SetNodeAttribute(mesh);
            if (!link) into->GetRootNode()->AddChild(node);
            bool threw = false;
            gThrowIn = at;
            try {
                if (link) into->GetRootNode()->AddChild(node);
                if (!link) node->SetNodeAttribute(mesh);
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            gThrowIn = -1;
            ASSERT_EQ(mesh->GetScene(), mesh->GetNode() ? node->GetEntityContainer() : nullptr) << at;
            EXPECT_EQ(into->GetMaterialCount(), mesh->GetScene() ? 1 : 0) << at;
            if (!threw) break;
        }
}

}  // namespace
