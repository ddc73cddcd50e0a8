#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "attributes/KQovCamera.h"
#include "attributes/KQovGeometry.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "attributes/KQovTexture.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "common/RefusingHeap.h"
#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "scene/KPlug.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPose.h"
#include "scene/KQovRenamer.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"
#include "scene/KQovVideo.h"

namespace {

bool NotFound(KQovObjectManager& m) {
    return m.GetError().GetErrorCode() == KQovObjectManager::eObjectNotFound &&
           std::string(m.GetError().GetErrorText()) == "Object not found";
}

TEST(KQovObjectManager, NodesAreFoundByEitherNameFormAndOccurrence) {
    KQovObjectManager m;
    KQovNode* first = m.CreateNode("Hip");
    KQovNode* second = m.CreateNode("Model::Hip");
    ASSERT_TRUE(first && second);
    EXPECT_STREQ(second->GetName(), "Model::Hip");
    const struct {
        const char* name;
        int occurrence;
        KQovNode* expected;
    } rows[] = {{"Hip", 0, first},        {"Model::Hip", 0, first}, {"Hip", 1, second},
                {"Model::Hip", 1, second}, {"Hip", 2, nullptr},      {"Model::Hip", 2, nullptr},
                {"hip", 0, nullptr}};
    for (const auto& r : rows) {
        m.GetError().ClearError();
        EXPECT_EQ(m.FindNode(r.name, r.occurrence), r.expected) << r.name << " " << r.occurrence;
        EXPECT_EQ(NotFound(m), r.expected == nullptr) << r.name;
    }
    EXPECT_EQ(m.GetNode(1), second);
    EXPECT_EQ(m.GetNode(2), nullptr);
    EXPECT_EQ(m.GetNode(-1), nullptr);
}

TEST(KQovObjectManager, KindsNameTheirObjects) {
    KQovObjectManager m;
    const struct {
        const char* name;
        const char* kind;
        const char* expected;  // null: nothing made
    } rows[] = {{"Arm", "Cluster", "SubDeformer::Arm"}, {"Arm", "cLuStEr", "SubDeformer::Arm"},
                {"Deformer::Body", "Skin", "Deformer::Body"}, {"Body", "Blend", "Deformer::Body"},
                {nullptr, "Skin", nullptr}, {"Body", nullptr, nullptr}};
    for (const auto& r : rows) {
        KQovDeformer* d = m.CreateDeformer(r.name, r.kind);
        EXPECT_STREQ(d ? d->GetName() : nullptr, r.expected) << (r.kind ? r.kind : "null");
    }
    EXPECT_EQ(m.GetDeformerCount(), 4);
    EXPECT_STREQ(m.CreateMaterial("Material::Wood")->GetName(), "Material::Wood");
    EXPECT_STREQ(m.CreateTexture("Grain")->GetName(), "Texture::Grain");
    EXPECT_STREQ(m.CreateVideo("Clip")->GetName(), "Video::Clip");
    EXPECT_NE(m.FindMaterial("Wood"), nullptr);
    EXPECT_NE(m.FindTexture("Texture::Grain"), nullptr);
    EXPECT_NE(m.FindVideo("Clip"), nullptr);
    // Poses and generic nodes are found by the stored name only.
    KQovPose* pose = m.CreatePose("Bind", true);
    KQovGenericNode* generic = m.CreateGenericNode("Model::Gen");
    EXPECT_EQ(m.FindPose("Pose::Bind"), pose);
    EXPECT_EQ(m.FindPose("Bind"), nullptr);
    EXPECT_TRUE(NotFound(m));
    EXPECT_EQ(m.FindGenericNode("Model::Gen"), generic);
    EXPECT_EQ(m.FindGenericNode("Gen"), nullptr);
    EXPECT_EQ(m.CreateGenericNode(nullptr), nullptr);
    EXPECT_EQ(m.CreateUserProperty(nullptr, "Real", "l"), nullptr);
    EXPECT_EQ(m.CreateUserPropertyFromProperty(nullptr), nullptr);
    KQovUserProperty* u = m.CreateUserProperty("Weight", "Real", "Weight");
    EXPECT_EQ(m.FindUserProperty("Weight"), u);
}

TEST(KQovObjectManager, RenamersRenameNewObjectsAndAreResetByDestroyAll) {
    KQovObjectManager m;
    m.SetNodeRenamer(std::make_unique<KQovNumberingRenamer>());
    m.SetMaterialRenamer(std::make_unique<KQovNumberingRenamer>());
    EXPECT_STREQ(m.CreateNode("Bone")->GetName(), "Model::Bone");
    EXPECT_STREQ(m.CreateNode("Bone")->GetName(), "Model::Bone1");
    EXPECT_STREQ(m.CreateMaterial("Bone")->GetName(), "Material::Bone");  // own renamer
    EXPECT_STREQ(m.CreateTexture("T")->GetName(), "Texture::T");
    EXPECT_STREQ(m.CreateTexture("T")->GetName(), "Texture::T");  // no renamer
    m.DestroyAll();
    EXPECT_STREQ(m.CreateNode("Bone")->GetName(), "Model::Bone");
}

TEST(KQovObjectManager, ForeignOrDestroyedObjectsAreNotFound) {
    KQovObjectManager m, other;
    const struct {
        const char* kind;
        bool (*destroy)(KQovObjectManager&, KQovObjectManager&);
    } rows[] = {
        {"node", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyNode(b.CreateNode("N"), true); }},
        {"attribute", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyNodeAttribute(b.CreateNull()); }},
        {"link", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyLink(b.CreateLink()); }},
        {"material", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyMaterial(b.CreateMaterial("M")); }},
        {"shape", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyShape(b.CreateShape()); }},
        {"texture", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyTexture(b.CreateTexture("T")); }},
        {"video", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyVideo(b.CreateVideo("V")); }},
        {"pose", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyPose(b.CreatePose("P", false)); }},
        {"scene", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyScene(b.CreateScene(), true); }},
        {"deformer", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyDeformer(b.CreateDeformer("D", "Skin")); }},
        {"thumbnail", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyThumbnail(b.CreateThumbnail()); }},
        {"exporter", [](KQovObjectManager& a, KQovObjectManager& b) { return a.DestroyExporter(b.CreateExporter()); }},
    };
    for (const auto& r : rows) {
        m.GetError().ClearError();
        EXPECT_FALSE(r.destroy(m, other)) << r.kind;
        EXPECT_TRUE(NotFound(m)) << r.kind;
    }
    KQovNode* node = m.CreateNode("Twice");
    EXPECT_TRUE(m.DestroyNode(node, false));
    EXPECT_FALSE(m.DestroyNode(node, false));
    EXPECT_TRUE(NotFound(m));
    EXPECT_FALSE(m.DestroyUserProperty(nullptr));
}

TEST(KQovObjectManager, ScenesLeaveOrTakeTheirRoot) {
    KQovObjectManager m;
    for (bool recursive : {false, true}) {
        KQovScene* scene = m.CreateScene();
        KQovNode* root = scene->GetRootNode();
        root->AddChild(m.CreateNode("Child"));
        root->SetNodeAttribute(m.CreateNull());
        EXPECT_TRUE(m.DestroyScene(scene, recursive));
        EXPECT_EQ(m.FindNode("RootNode") == root, !recursive);
        EXPECT_EQ(m.FindNode("Child") != nullptr, !recursive);
        if (!recursive) {
            EXPECT_EQ(root->GetEntityContainer(), nullptr);
            EXPECT_TRUE(m.DestroyNode(root, true));
        }
    }
    EXPECT_EQ(m.GetNodeCount(), 0);
}

TEST(KQovObjectManager, DestroyingASubtreeTakesItsAttributes) {
    KQovObjectManager m;
    KQovNode* root = m.CreateNode("Root");
    KQovNode* arm = m.CreateNode("Arm");
    KQovNode* hand = m.CreateNode("Hand");
    KQovNode* keep = m.CreateNode("Keep");
    ASSERT_TRUE(root->AddChild(arm) && arm->AddChild(hand) && root->AddChild(m.CreateNode("Leg")));
    root->SetNodeAttribute(m.CreateNull());
    hand->SetNodeAttribute(m.CreateSkeleton());
    KQovMesh* kept = m.CreateMesh();
    keep->SetNodeAttribute(kept);
    EXPECT_TRUE(m.DestroyNode(root, true));
    EXPECT_EQ(m.GetNodeCount(), 1);
    EXPECT_EQ(m.FindNode("Hand"), nullptr);
    // Without recursion the attribute stays alive but lets go of the node.
    KQovNode* child = m.CreateNode("Child");
    keep->AddChild(child);
    EXPECT_TRUE(m.DestroyNode(keep, false));
    EXPECT_EQ(kept->GetNode(), nullptr);
    EXPECT_EQ(m.FindNode("Child"), child);
    EXPECT_EQ(child->GetParent(), nullptr);
    EXPECT_TRUE(m.DestroyNodeAttribute(kept));
    EXPECT_FALSE(m.DestroyNodeAttribute(kept));  // only two were made above
}

TEST(KQovObjectManager, OneOfEverythingLeavesNothingBehind) {
    const int plugsBefore = KPlug::GetLivePlugCount();
    {
        KQovObjectManager m;
        m.SetNodeRenamer(std::make_unique<KQovNumberingRenamer>());
        m.SetVideoRenamer(std::make_unique<KQovNumberingRenamer>());
        KQovScene* scene = m.CreateScene();
        ASSERT_NE(scene->GetRootNode(), nullptr);
        KQovNode* node = m.CreateNode("Mesh");
        scene->GetRootNode()->AddChild(node);
        scene->GetEntityContainer()->AddNode(node);
        // The scene goes first: the mesh must not release its uses into it later.
        KQovMesh* mesh = m.CreateMesh();
        KQovMaterial* material = m.CreateMaterial("M");
        mesh->AddMaterial(material, 0);
        ASSERT_EQ(mesh->AddShape(new KQovShape(&m), "Smile"), 0);  // the mesh's own
        node->SetNodeAttribute(mesh);
        EXPECT_EQ(scene->GetEntityContainer()->GetMaterialUseCount(material), 1);
        mesh->AddLink(new KQovLink());
        m.CreateNode("Cam")->SetNodeAttribute(m.CreateCamera());
        m.CreateNode("Lamp")->SetNodeAttribute(m.CreateLight());
        KQovTexture* texture = m.CreateTexture("T");
        KQovVideo* video = m.CreateVideo("V");
        ASSERT_TRUE(texture->GetPropertyHandler()->ConnectSrc(video->GetProperties()));
        ASSERT_TRUE(material->GetPropertyHandler()->ConnectDst(node->GetPropertyHandler()));
        m.CreatePose("P", true);
        node->AddUserProperty(m.CreateUserProperty("Extra", "Real", "Extra"));
        KQovGenericNode* generic = m.CreateGenericNode("G");
        generic->SetEntity(scene->GetEntityContainer());
        m.CreateDeformer("D", "Cluster");
        m.CreateDeformer("D", "Skin");
        for (void* p : {static_cast<void*>(m.CreateNull()), static_cast<void*>(m.CreateMarker()),
                        static_cast<void*>(m.CreateSkeleton()), static_cast<void*>(m.CreatePatch()),
                        static_cast<void*>(m.CreateNurb()), static_cast<void*>(m.CreateOpticalReference()),
                        static_cast<void*>(m.CreateCameraSwitcher()), static_cast<void*>(m.CreateLink()),
                        static_cast<void*>(m.CreateShape()), static_cast<void*>(m.CreateThumbnail()), static_cast<void*>(m.CreateSceneInfo()),
                        static_cast<void*>(m.CreateGeometryConverter()),
                        static_cast<void*>(m.CreateImageConverterRegistry()),
                        static_cast<void*>(m.CreateExporter()), static_cast<void*>(m.CreateImporter())})
            ASSERT_NE(p, nullptr);
        m.DestroyAll();
        EXPECT_EQ(m.GetNodeCount(), 0);
        EXPECT_EQ(m.GetMaterialCount(), 0);
        EXPECT_EQ(m.GetDeformerCount(), 2);  // left for the destructor
    }
    EXPECT_EQ(KPlug::GetLivePlugCount(), plugsBefore);
}

TEST(KQovObjectManager, ConvertingAListedGeometryDestroysItThroughTheManager) {
    KQovObjectManager m;
    KQovNode* node = m.CreateNode("Shell");
    KQovMesh* listed = m.CreateMesh();
    node->SetNodeAttribute(listed);
    ASSERT_TRUE(m.CreateGeometryConverter()->ConvertToMesh(node));
    EXPECT_NE(node->GetMesh(), listed);
    EXPECT_FALSE(m.DestroyNodeAttribute(listed));  // already gone, not twice
}

TEST(KQovObjectManager, ClipsTellConnectedTexturesAndGobosOnce) {
    KQovObjectManager m;
    KQovVideo* video = m.CreateVideo("Clip");
    ASSERT_TRUE(video->SetFileName("a.png"));
    ASSERT_TRUE(video->SetRelativeFileName("r/a.png"));
    KQovTexture* texture = m.CreateTexture("T");
    KQovTexture* other = m.CreateTexture("Other");
    ASSERT_TRUE(texture->GetPropertyHandler()->ConnectSrc(video->GetProperties()));
    EXPECT_STREQ(texture->GetFileName(), "a.png");
    EXPECT_STREQ(texture->GetRelativeFileName(), "r/a.png");
    EXPECT_STREQ(texture->GetMediaName(), "Video::Clip");

    KQovNode* lamp = m.CreateNode("Lamp");
    KQovLight* light = m.CreateLight();
    lamp->SetNodeAttribute(light);
    ASSERT_TRUE(lamp->GetNodeProperties()->ConnectSrc(video->GetProperties()));
    EXPECT_STREQ(light->GetGoboFileName(), "a.png");

    // A new name reaches connected textures, not the gobo nor other textures.
    EXPECT_TRUE(video->SetFileName("b.png"));
    EXPECT_STREQ(texture->GetFileName(), "b.png");
    EXPECT_STREQ(light->GetGoboFileName(), "a.png");
    EXPECT_EQ(other->GetFileName()[0], '\0');
}

}  // namespace

// A scene read and written (meshes, materials, textures, and the videos a QOV write makes and
// drops) and a skeleton's take, then taken apart with every allocation refused: teardown allocates nothing, so a
// program that ran out of memory still gets its objects destroyed, never std::terminate.
TEST(KQovObjectManager, TeardownAllocatesNothing) {
    const std::string input = std::string(QOV_TESTDATA_DIR) + "/obj/spider.obj";
    ASSERT_TRUE(std::ifstream(input).good()) << "the OBJ test data is missing: " << input;
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    auto manager = std::make_unique<KQovObjectManager>();
    KQovScene* scene = manager->CreateScene();
    KQovImporter* importer = manager->CreateImporter();
    ASSERT_TRUE(importer->Initialize(input.c_str()));
    ASSERT_TRUE(importer->Import(scene, nullptr)) << importer->GetLastErrorString();
    KQovExporter* exporter = manager->CreateExporter();
    ASSERT_TRUE(exporter->Initialize((out / "spider.qov").c_str()));
    ASSERT_TRUE(exporter->Export(scene, nullptr)) << exporter->GetLastErrorString();
    ASSERT_GT(manager->GetMaterialCount(), 0);
    // A skeleton with its take beside it.
    const std::string motion = std::string(QOV_TESTDATA_DIR) + "/bvh/sinusoidal.bvh";
    KQovImporter* motionImporter = manager->CreateImporter();
    ASSERT_TRUE(motionImporter->Initialize(motion.c_str())) << "missing: " << motion;
    ASSERT_TRUE(motionImporter->Import(manager->CreateScene(), nullptr));
    gRefuseAll = true;
    manager.reset();
    gRefuseAll = false;
}
