#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovGeometry.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "character/KQovCharacterPose.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "attributes/KQovTexture.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "common/RefusingHeap.h"
#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovWriterQov5.h"
#include "scene/KPlug.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPose.h"
#include "scene/KQovRenamer.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovThumbnail.h"
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

// What a geometry, scene or scene information holds leaves it when destroyed through the
// manager; a QOV write of what is left then reads no freed object.
TEST(KQovObjectManager, DestroyedHeldObjectsLeaveTheirHolders) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    KQovObjectManager m;
    KQovScene* scene = m.CreateScene();
    KQovNode* node = m.CreateNode("Body");
    KQovNode* bone = m.CreateNode("Bone");
    scene->GetRootNode()->AddChild(node);
    scene->GetRootNode()->AddChild(bone);
    KQovMesh* mesh = m.CreateMesh();
    mesh->InitControlPoints(3);
    mesh->BeginPolygon();
    for (int v : {0, 1, 2}) mesh->AddPolygonVertex(v);
    node->SetNodeAttribute(mesh);
    KQovShape* shapes[3] = {m.CreateShape(), m.CreateShape(), m.CreateShape()};
    for (KQovShape* shape : shapes) shape->InitControlPoints(3);
    ASSERT_EQ(mesh->AddShape(shapes[0], "Smile"), 0);
    ASSERT_EQ(mesh->AddShape(shapes[1], "Frown"), 1);
    ASSERT_EQ(mesh->AddShape(shapes[2], "Blink"), 2);
    KQovLink* links[2] = {m.CreateLink(), m.CreateLink()};
    for (KQovLink* link : links) {
        link->SetLink(bone);
        link->AddControlPointIndex(0, 1.0);
        ASSERT_GE(mesh->AddLink(link), 0);
    }
    KQovPose* pose = m.CreatePose("Bind", true);
    KQovPose* kept = m.CreatePose("Rest", false);
    ASSERT_TRUE(scene->AddPose(pose) && scene->AddPose(kept));
    KQovSceneInfo* info = m.CreateSceneInfo();
    KQovSceneInfo* loose = m.CreateSceneInfo();
    KQovThumbnail* thumbnail = m.CreateThumbnail();
    info->SetThumbnail(thumbnail);
    loose->SetThumbnail(thumbnail);
    scene->SetSceneInfo(info);

    ASSERT_TRUE(m.DestroyShape(shapes[1]));
    ASSERT_EQ(mesh->GetShapeCount(), 2);
    EXPECT_EQ(mesh->GetShape(1), shapes[2]);
    EXPECT_STREQ(mesh->GetShapeName(1), "Blink");
    KFCurveNode* channels = node->GetDefaultTakeNode()->GetRoot();
    EXPECT_EQ(channels->Find("Frown"), nullptr);
    EXPECT_NE(channels->Find("Blink"), nullptr);
    ASSERT_TRUE(m.DestroyLink(links[0]));
    ASSERT_EQ(mesh->GetLinkCount(), 1);
    EXPECT_EQ(mesh->GetLink(0), links[1]);
    // A node a link names leaves the link; its name stays.
    KQovNode* hand = m.CreateNode("Hand");
    links[1]->SetAssociateModel(hand);
    ASSERT_TRUE(m.DestroyNode(hand, true));
    EXPECT_EQ(links[1]->GetAssociateModel(), nullptr);
    ASSERT_TRUE(m.DestroyNode(bone, true));
    EXPECT_EQ(links[1]->GetLink(), nullptr);
    EXPECT_STREQ(links[1]->GetLinkName().Buffer(), "Model::Bone");
    ASSERT_TRUE(m.DestroyPose(pose));
    ASSERT_EQ(scene->GetPoseCount(), 1);
    EXPECT_EQ(scene->GetPose(0), kept);
    // A record two objects list (and one of a node's own) leaves them all.
    KQovUserProperty* weight = m.CreateUserProperty("Weight", "Real", "Weight");
    node->AddUserProperty(weight);
    kept->AddUserProperty(weight);
    scene->GetCharacterPose(scene->CreateCharacterPose("Stance"))->AddUserProperty(weight);
    const int records = node->GetUserPropertyCount();
    ASSERT_TRUE(m.DestroyUserProperty(weight));
    ASSERT_TRUE(m.DestroyUserProperty(node->GetUserProperty(0)));
    EXPECT_EQ(node->GetUserPropertyCount(), records - 2);
    EXPECT_EQ(node->FindUserProperty("Weight"), nullptr);
    EXPECT_EQ(kept->FindUserProperty("Weight"), nullptr);
    EXPECT_EQ(scene->GetCharacterPose(0)->GetUserPropertyCount(), 0);
    ASSERT_TRUE(m.DestroyThumbnail(thumbnail));
    EXPECT_EQ(info->GetThumbnail(), nullptr);
    EXPECT_EQ(loose->GetThumbnail(), nullptr);
    ASSERT_TRUE(m.DestroySceneInfo(info));
    EXPECT_EQ(scene->GetSceneInfo(), nullptr);
    KQovExporter* exporter = m.CreateExporter();
    ASSERT_TRUE(exporter->Initialize((out / "held.qov").c_str()));
    EXPECT_TRUE(exporter->Export(scene, nullptr)) << exporter->GetLastErrorString();
    // Held twice it would be destroyed twice: a second holder is refused.
    KQovMesh* other = m.CreateMesh();
    EXPECT_EQ(other->AddShape(shapes[0], "Smile"), -1);
    EXPECT_EQ(other->GetError().GetErrorCode(), KQovGeometry::eShapeAlreadyAdded);
    EXPECT_EQ(other->AddLink(links[1]), -1);
    EXPECT_EQ(mesh->AddLink(links[1]), -1);
    // Taken back, a link is the caller's: destroying it touches the mesh no more.
    std::vector<KQovLink*> taken = mesh->RemoveAllLinks();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(other->AddLink(taken[0]), 0);
    EXPECT_TRUE(m.DestroyNodeAttribute(other));
    EXPECT_FALSE(m.DestroyLink(taken[0]));  // went with the mesh
}

// Destroyed one by one in any order, links and shapes leave their geometry and bone in order;
// a node's own record that another node lists leaves that list with the node, and a record
// outlives a node that listed it; a version-5 write of what is left reads no freed record.
TEST(KQovObjectManager, ObjectsDestroyedOneByOneLeaveEveryList) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    KQovObjectManager m;
    KQovScene* scene = m.CreateScene();
    KQovNode* body = m.CreateNode("Body");
    KQovNode* bone = m.CreateNode("Bone");
    KQovNode* lender = m.CreateNode("Lender");
    for (KQovNode* n : {body, bone, lender}) scene->GetRootNode()->AddChild(n);
    KQovMesh* mesh = m.CreateMesh();
    body->SetNodeAttribute(mesh);
    std::vector<KQovLink*> links;
    std::vector<KQovShape*> shapes;
    for (int i = 0; i < 6; ++i) {
        links.push_back(m.CreateLink());
        links.back()->SetLink(bone);
        ASSERT_EQ(mesh->AddLink(links.back()), i);
        shapes.push_back(m.CreateShape());
        ASSERT_EQ(mesh->AddShape(shapes.back(), ("S" + std::to_string(i)).c_str()), i);
    }
    for (int i : {2, 0, 5, 3}) {  // middle, front, back, middle
        ASSERT_TRUE(m.DestroyLink(links[size_t(i)]));
        ASSERT_TRUE(m.DestroyShape(shapes[size_t(i)]));
    }
    EXPECT_FALSE(m.DestroyLink(links[2]));
    ASSERT_EQ(mesh->GetLinkCount(), 2);
    EXPECT_EQ(mesh->GetLink(0), links[1]);
    EXPECT_EQ(mesh->GetLink(1), links[4]);
    EXPECT_EQ(bone->GetCharacterLinkCount(), 2);
    ASSERT_EQ(mesh->GetShapeCount(), 2);
    EXPECT_EQ(mesh->GetShape(1), shapes[4]);
    EXPECT_STREQ(mesh->GetShapeName(0), "S1");
    EXPECT_STREQ(mesh->GetShapeName(1), "S4");
    EXPECT_EQ(body->GetDefaultTakeNode()->GetRoot()->Find("S3"), nullptr);
    EXPECT_NE(body->GetDefaultTakeNode()->GetRoot()->Find("S4"), nullptr);
    EXPECT_EQ(mesh->AddShape(m.CreateShape(), "S3"), 2);  // a freed name is free
    // Among many, on a node of two takes, shapes going last first take their channels from
    // both takes and leave the others'.
    ASSERT_NE(body->AddTakeNode("Walk"), nullptr);
    std::vector<KQovShape*> more;
    for (int i = 0; i < 20; ++i) {
        more.push_back(m.CreateShape());
        ASSERT_GE(mesh->AddShape(more.back(), ("M" + std::to_string(i)).c_str()), 0);
    }
    for (int i = 19; i >= 0; i -= 2) ASSERT_TRUE(m.DestroyShape(more[size_t(i)]));
    for (int t = 0; t < body->GetTakeNodeCount(); ++t)
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(body->GetTakeNode(t)->GetRoot()->Find(("M" + std::to_string(i)).c_str()) !=
                          nullptr,
                      i % 2 == 0)
                << t << " M" << i;
    KQovUserProperty* lent = lender->GetUserProperty(0);
    ASSERT_NE(lent, nullptr);
    body->AddUserProperty(lent);
    const int listed = body->GetUserPropertyCount();
    ASSERT_TRUE(m.DestroyNode(lender, true));
    ASSERT_EQ(body->GetUserPropertyCount(), listed - 1);
    for (int i = 0; i < body->GetUserPropertyCount(); ++i)
        EXPECT_FALSE(body->GetUserProperty(i)->GetName().IsEmpty());
    KQovUserProperty* weight = m.CreateUserProperty("Weight", "Real", "Weight");
    KQovNode* brief = m.CreateNode("Brief");
    brief->AddUserProperty(weight);
    body->AddUserProperty(weight);
    body->AddUserProperty(weight);  // listed once
    ASSERT_TRUE(m.DestroyNode(brief, false));
    EXPECT_EQ(body->GetUserPropertyCount(), listed);
    EXPECT_EQ(body->FindUserProperty("Weight"), weight);
    // Listed by many, each going in any order, and listed once by each.
    std::vector<KQovNode*> many;
    for (int i = 0; i < 12; ++i) {
        many.push_back(m.CreateNode(("Many" + std::to_string(i)).c_str()));
        many.back()->AddUserProperty(weight);
        many.back()->AddUserProperty(weight);
    }
    for (int i : {0, 11, 5, 6, 1}) ASSERT_TRUE(m.DestroyNode(many[size_t(i)], false));
    for (int i : {2, 3, 4, 7, 8, 9, 10}) {
        KQovNode* node = many[size_t(i)];
        const int count = node->GetUserPropertyCount();
        node->AddUserProperty(weight);
        ASSERT_EQ(node->GetUserPropertyCount(), count);
        EXPECT_EQ(node->GetUserProperty(count - 1), weight);
    }
    KStreamOptionsQov all;
    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) all.SetSwitch(i, true);
    KQovWriterQov5 writer(&m, nullptr);
    writer.SetFileMode(KQovWriterQov5::eAscii);
    ASSERT_TRUE(writer.FileCreate((out / "lent.qov").c_str()));
    EXPECT_TRUE(writer.Write(scene, &all));
    EXPECT_TRUE(writer.FileClose());
    ASSERT_TRUE(m.DestroyUserProperty(weight));
    EXPECT_EQ(body->FindUserProperty("Weight"), nullptr);
    for (int i : {2, 3, 4, 7, 8, 9, 10})
        EXPECT_EQ(many[size_t(i)]->FindUserProperty("Weight"), nullptr);
}

// A scene's root, camera switcher and producer cameras, and their attributes, are the scene's
// to destroy: the manager refuses them, and the scene clears, switches takes and goes after.
TEST(KQovObjectManager, AScenesOwnNodesAreRefused) {
    KQovObjectManager m;
    KQovScene* scene = m.CreateScene();
    KQovNode* producer = scene->GetGlobalCameraSettings().GetProducerNode(0);
    KQovNode* switcher = scene->GetCameraSwitcherNode();
    ASSERT_TRUE(producer && switcher);
    const int nodes = m.GetNodeCount();
    const struct {
        const char* what;
        bool (*destroy)(KQovObjectManager&, KQovScene*);
    } rows[] = {
        {"root", [](KQovObjectManager& a, KQovScene* s) { return a.DestroyNode(s->GetRootNode(), false); }},
        {"root tree", [](KQovObjectManager& a, KQovScene* s) { return a.DestroyNode(s->GetRootNode(), true); }},
        {"switcher", [](KQovObjectManager& a, KQovScene* s) { return a.DestroyNode(s->GetCameraSwitcherNode(), true); }},
        {"switcher attribute", [](KQovObjectManager& a, KQovScene* s) {
             return a.DestroyNodeAttribute(s->GetCameraSwitcherNode()->GetNodeAttribute()); }},
        {"producer", [](KQovObjectManager& a, KQovScene* s) {
             return a.DestroyNode(s->GetGlobalCameraSettings().GetProducerNode(6), true); }},
        {"producer camera", [](KQovObjectManager& a, KQovScene* s) {
             return a.DestroyNodeAttribute(s->GetGlobalCameraSettings().GetProducerNode(0)->GetNodeAttribute()); }},
        {"producer camera off its node", [](KQovObjectManager& a, KQovScene* s) {
             KQovNode* node = s->GetGlobalCameraSettings().GetProducerNode(1);
             KQovNodeAttribute* camera = node->SetNodeAttribute(nullptr);
             const bool destroyed = a.DestroyNodeAttribute(camera);
             if (!destroyed) node->SetNodeAttribute(camera);
             return destroyed; }},
    };
    for (const auto& r : rows) {
        m.GetError().ClearError();
        EXPECT_FALSE(r.destroy(m, scene)) << r.what;
        EXPECT_EQ(m.GetError().GetErrorCode(), KQovObjectManager::eObjectOfAScene) << r.what;
        EXPECT_STREQ(m.GetError().GetErrorText(), "Object belongs to a scene") << r.what;
    }
    EXPECT_EQ(m.GetNodeCount(), nodes);
    // Made another scene's switcher, a node the scene owns would go with the next change.
    KQovScene* second = m.CreateScene();
    for (KQovNode* owned : {scene->GetRootNode(), producer, switcher}) {
        EXPECT_FALSE(second->SetCameraSwitcherNode(owned)) << owned->GetName();
        EXPECT_TRUE(owned->IsSceneOwned()) << owned->GetName();
    }
    EXPECT_FALSE(scene->SetCameraSwitcherNode(second->GetCameraSwitcherNode()));
    // A node under the switcher it replaces stays.
    KQovNode* under = m.CreateNode("Under");
    second->GetCameraSwitcherNode()->AddChild(under);
    ASSERT_TRUE(second->SetCameraSwitcherNode(under));
    EXPECT_TRUE(second->SetCurrentTake("Default"));
    ASSERT_TRUE(m.DestroyScene(second, true));
    // Hung under the root, the switcher is passed over by a destroy of the tree and by Clear.
    KQovNode* child = m.CreateNode("Child");
    KQovNode* leaf = m.CreateNode("Leaf");
    child->AddChild(leaf);
    leaf->AddChild(switcher);
    scene->GetRootNode()->AddChild(child);
    // Refused whole, before anything of the subtree goes, with the switcher, a producer or a
    // producer camera in it.
    KQovNode* lens = scene->GetGlobalCameraSettings().GetProducerNode(2);
    for (KQovNode* owned : {switcher, producer, lens}) {
        if (owned == producer) {
            scene->GetRootNode()->AddChild(switcher);
            child->AddChild(producer);
        }
        if (owned == lens) {
            scene->GetRootNode()->AddChild(producer);
            leaf->SetNodeAttribute(lens->GetNodeAttribute());
        }
        m.GetError().ClearError();
        EXPECT_FALSE(m.DestroyNode(child, true)) << owned->GetName();
        EXPECT_EQ(m.GetError().GetErrorCode(), KQovObjectManager::eObjectOfAScene);
        EXPECT_EQ(m.FindNode("Child"), child);
        EXPECT_EQ(m.FindNode("Leaf"), leaf);
    }
    // A leaf holding one is refused too.
    EXPECT_FALSE(m.DestroyNode(leaf, true));
    EXPECT_EQ(m.FindNode("Leaf"), leaf);
    EXPECT_NE(leaf->GetCamera(), nullptr);
    child->AddChild(producer);
    // Beside them, children holding nothing of a scene go whole; another live scene's producer
    // camera on a child of the root stays that scene's.
    KQovScene* third = m.CreateScene();
    KQovNodeAttribute* lensOfThird = third->GetGlobalCameraSettings().GetProducerAttribute(3);
    KQovNode* holder = m.CreateNode("Holder");
    holder->SetNodeAttribute(lensOfThird);
    for (KQovNode* top : {m.CreateNode("Plain"), holder}) {
        top->AddChild(m.CreateNode("Under"));
        scene->GetRootNode()->AddChild(top);
    }
    scene->Clear();
    EXPECT_EQ(m.FindNode("Child"), nullptr);
    EXPECT_EQ(m.FindNode("Leaf"), nullptr);
    for (const char* name : {"Plain", "Holder", "Under"}) EXPECT_EQ(m.FindNode(name), nullptr) << name;
    EXPECT_EQ(third->GetGlobalCameraSettings().GetProducerAttribute(3), lensOfThird);
    EXPECT_EQ(lensOfThird->GetNode(), nullptr);
    EXPECT_TRUE(m.DestroyScene(third, true));
    EXPECT_EQ(scene->GetCameraSwitcherNode(), switcher);
    EXPECT_NE(switcher->GetCameraSwitcher(), nullptr);
    EXPECT_NE(producer->GetCamera(), nullptr);
    EXPECT_TRUE(scene->SetCurrentTake("Default"));
    // Their scene gone, they are the manager's like any other node.
    KQovNode* root = scene->GetRootNode();
    EXPECT_TRUE(m.DestroyScene(scene, false));
    EXPECT_TRUE(m.DestroyNode(root, true));
    EXPECT_EQ(m.GetNodeCount(), 0);
}

// A root below a camera switcher or producer camera would be destroyed with that node while
// its scene still holds it: refused, for the scene's own root and another's, and for a subtree
// holding one; the scenes then go cleanly.
TEST(KQovObjectManager, RootsStayOutOfSwitchersAndProducerCameras) {
    KQovObjectManager m;
    KQovScene* scene = m.CreateScene();
    KQovScene* other = m.CreateScene();
    KQovNode* switcher = scene->GetCameraSwitcherNode();
    KQovNode* below = m.CreateNode("Below");
    KQovNode* holder = m.CreateNode("Holder");
    ASSERT_TRUE(switcher->AddChild(below));
    ASSERT_TRUE(holder->AddChild(other->GetRootNode()));
    const KQovGlobalCameraSettings& cameras = scene->GetGlobalCameraSettings();
    for (KQovNode* parent : {switcher, cameras.GetProducerNode(0), cameras.GetProducerNode(6),
                             below, other->GetCameraSwitcherNode()})
        for (KQovNode* child : {scene->GetRootNode(), other->GetRootNode(), holder}) {
            KQovNode* former = child->GetParent();
            parent->GetNodeError().ClearError();
            EXPECT_FALSE(parent->AddChild(child)) << parent->GetName() << " <- " << child->GetName();
            EXPECT_EQ(parent->GetNodeError().GetErrorCode(), KQovNode::eRootBelowSettings);
            EXPECT_EQ(child->GetParent(), former);
        }
    EXPECT_STREQ(switcher->GetNodeError().GetErrorText(),
                 "A scene's root cannot go below a camera switcher or producer camera");
    EXPECT_FALSE(scene->SetCameraSwitcherNode(holder));
    EXPECT_EQ(scene->GetCameraSwitcherNode(), switcher);
    // The other way round stays open: a switcher below a root.
    EXPECT_TRUE(holder->AddChild(other->GetCameraSwitcherNode()));
    EXPECT_TRUE(m.DestroyScene(scene, true));
    EXPECT_TRUE(m.DestroyScene(other, true));
    EXPECT_EQ(m.FindNode("Below"), nullptr);
    EXPECT_TRUE(m.DestroyNode(holder, true));
    EXPECT_EQ(m.GetNodeCount(), 0);
}

// The tree's rules hold however two node sets are linked, not in AddChild alone: a root linked
// below a switcher or producer camera would be freed with it while its scene still holds it
// (DestroyScene and Clear then read freed memory), and a root taken by another scene's node
// would leave its scene rootless once let go.
TEST(KQovObjectManager, NodeLinksOfEveryCallKeepTheTreesRules) {
    KQovObjectManager m;
    KQovScene* scene = m.CreateScene();
    KQovScene* other = m.CreateScene();
    KQovNode* root = scene->GetRootNode();
    KQovNode* switcher = scene->GetCameraSwitcherNode();
    KQovNode* producer = scene->GetGlobalCameraSettings().GetProducerNode(3);
    KQovNode* inOther = m.CreateNode("InOther");
    ASSERT_TRUE(other->GetRootNode()->AddChild(inOther));
    KQovNode* top = m.CreateNode("Top");
    KQovNode* below = m.CreateNode("Below");
    ASSERT_TRUE(root->AddChild(top));
    ASSERT_TRUE(top->AddChild(below));
    using Link = bool (*)(KQovNodeProperties* parent, KQovNodeProperties* child);
    const struct {
        const char* call;
        Link link;
    } calls[] = {
        {"ConnectSrc", [](KQovNodeProperties* p, KQovNodeProperties* c) { return p->ConnectSrc(c); }},
        {"ConnectDst", [](KQovNodeProperties* p, KQovNodeProperties* c) { return c->ConnectDst(p); }},
        {"ConnectSrcAt", [](KQovNodeProperties* p, KQovNodeProperties* c) { return p->ConnectSrcAt(0, c); }},
        {"ConnectDstAt", [](KQovNodeProperties* p, KQovNodeProperties* c) { return c->ConnectDstAt(0, p); }},
        {"ReplaceSrcAt", [](KQovNodeProperties* p, KQovNodeProperties* c) { return p->ReplaceSrcAt(99, c); }},
    };
    const struct {
        KQovNode *parent, *child;
        int error;
    } rows[] = {
        {switcher, root, KQovNode::eRootBelowSettings},
        {producer, root, KQovNode::eRootBelowSettings},
        {switcher, other->GetRootNode(), KQovNode::eRootBelowSettings},
        {below, root, KQovNode::eCyclicGraph},
        {below, top, KQovNode::eCyclicGraph},
        {inOther, root, KQovNode::eRootOfAnotherScene},
        {other->GetRootNode(), root, KQovNode::eRootOfAnotherScene},
        {inOther, below, KQovNode::eSecondParent},
    };
    for (const auto& c : calls)
        for (const auto& r : rows) {
            KQovNode* former = r.child->GetParent();
            r.parent->GetNodeError().ClearError();
            EXPECT_FALSE(c.link(r.parent->GetNodeProperties(), r.child->GetNodeProperties()))
                << c.call << ": " << r.parent->GetName() << " <- " << r.child->GetName();
            EXPECT_EQ(r.parent->GetNodeError().GetErrorCode(), r.error) << c.call << ": " << r.child->GetName();
            EXPECT_EQ(r.child->GetParent(), former);
        }
    EXPECT_STREQ(switcher->GetNodeError().GetErrorText(),
                 "A scene's root cannot go below a camera switcher or producer camera");
    // A one-sided link would give a parent its child does not know.
    KQovNode* loose = m.CreateNode("Loose");
    EXPECT_FALSE(top->GetNodeProperties()->ConnectSrc(loose->GetNodeProperties(), KPlug::eOneSided));
    EXPECT_EQ(top->GetNodeError().GetErrorCode(), KQovNode::eSecondParent);
    // A node of no scene may hold a root, and lets it go back to its scene; such a holder does
    // not join another scene.
    KQovNode* holder = m.CreateNode("Holder");
    ASSERT_TRUE(holder->GetNodeProperties()->ConnectSrc(root->GetNodeProperties()));
    EXPECT_FALSE(other->GetRootNode()->AddChild(holder));
    EXPECT_EQ(other->GetRootNode()->GetNodeError().GetErrorCode(), KQovNode::eRootOfAnotherScene);
    EXPECT_FALSE(switcher->AddChild(holder));
    holder->RemoveChild(root);
    ASSERT_EQ(scene->GetRootNode(), root);
    EXPECT_EQ(root->GetEntityContainer(), scene->GetEntityContainer());
    EXPECT_EQ(top->GetEntityContainer(), scene->GetEntityContainer());
    // So a motion reader still imports below it.
    KQovImporter* importer = m.CreateImporter();
    ASSERT_TRUE(importer->Initialize((std::string(QOV_TESTDATA_DIR) + "/bvh/01_01.bvh").c_str()));
    EXPECT_TRUE(importer->Import(scene, nullptr)) << importer->GetLastErrorString();
    EXPECT_GT(root->GetChildCount(), 1);
    // Nothing of a scene hangs below another's switcher: both go cleanly, the clear first.
    scene->Clear();
    EXPECT_TRUE(m.DestroyScene(scene, true));
    EXPECT_TRUE(m.DestroyScene(other, true));
    EXPECT_TRUE(m.DestroyNode(holder, true));
    EXPECT_TRUE(m.DestroyNode(loose, true));
    EXPECT_EQ(m.GetNodeCount(), 0);
}

// Objects of another manager would outlive it in what this one holds: refused.
TEST(KQovObjectManager, ObjectsOfAnotherManagerAreRefused) {
    KQovObjectManager m;
    KQovMesh* mesh = m.CreateMesh();
    KQovScene* scene = m.CreateScene();
    KQovScene* borrower = m.CreateScene();
    {
        KQovObjectManager other;
        EXPECT_EQ(mesh->AddMaterial(other.CreateMaterial("M"), 0), -1);
        EXPECT_EQ(mesh->AddTexture(other.CreateTexture("T"), 0), -1);
        EXPECT_EQ(mesh->AddLink(other.CreateLink()), -1);
        EXPECT_EQ(mesh->AddShape(other.CreateShape(), "S"), -1);
        EXPECT_EQ(mesh->GetError().GetErrorCode(), KQovGeometry::eOtherManager);
        KQovMesh* source = other.CreateMesh();
        source->AddMaterial(other.CreateMaterial("M"), 0);
        source->AddLink(other.CreateLink());
        mesh->Copy(*source);
        EXPECT_EQ(mesh->GetError().GetErrorCode(), KQovGeometry::eOtherManager);
        EXPECT_EQ(mesh->GetLayerCount(), 0);
        EXPECT_EQ(mesh->GetLinkCount(), 0);
        EXPECT_FALSE(m.CreateScene()->AddPose(other.CreatePose("P", true)));
        KQovImporter* importer = other.CreateImporter();
        ASSERT_TRUE(importer->Initialize((std::string(QOV_TESTDATA_DIR) + "/obj/spider.obj").c_str()));
        EXPECT_FALSE(importer->Import(m.CreateScene(), nullptr));
        EXPECT_NE(std::string(importer->GetLastErrorString()).find("another object manager"),
                  std::string::npos);
        EXPECT_FALSE(scene->SetCameraSwitcherNode(other.CreateNode("Switcher")));
        KQovNode* node = m.CreateNode("Holder");
        const int records = node->GetUserPropertyCount();
        node->AddUserProperty(other.CreateUserProperty("Weight", "Real", "Weight"));
        EXPECT_EQ(node->GetUserPropertyCount(), records);
        // What a scene cannot tell from its own goes from it with its manager.
        KQovSceneInfo* info = m.CreateSceneInfo();
        info->SetThumbnail(other.CreateThumbnail());
        scene->SetSceneInfo(info);
        borrower->SetSceneInfo(other.CreateSceneInfo());
    }
    EXPECT_EQ(scene->GetSceneInfo()->GetThumbnail(), nullptr);
    EXPECT_EQ(borrower->GetSceneInfo(), nullptr);
    EXPECT_EQ(mesh->AddMaterial(m.CreateMaterial("M"), 0), 0);
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
