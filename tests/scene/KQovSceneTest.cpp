#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>

#include "attributes/KQovLayer.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "character/KQovCharacter.h"
#include "character/KQovCharacterPose.h"
#include "common/RefusingHeap.h"
#include "common/SceneDump.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovNodeCollector.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovNode.h"
#include "scene/KQovTakeInfo.h"
#include "scene/KQovVideo.h"
#include "scene/KSceneTestPlugs.h"
#include "KQovSceneFixture.h"

namespace {

class KQovSceneTest : public SceneTest {
protected:
    // A node listed in the scene, under the root.
    KQovNode* Node(const char* name) {
        KQovNode* node = manager.CreateNode(name);
        scene->GetRootNode()->AddChild(node);
        scene->GetEntityContainer()->AddNode(node);
        return node;
    }
    KQovMesh* MeshNode(const char* name) {
        KQovMesh* mesh = manager.CreateMesh();
        Node(name)->SetNodeAttribute(mesh);
        return mesh;
    }
};

TEST_F(KQovSceneTest, FreshSceneMatchesItsGoldenDump) {
    KQovNode* switcher = scene->GetCameraSwitcherNode();
    ASSERT_NE(switcher, nullptr);
    EXPECT_NE(switcher->GetNodeAttribute(), nullptr);
    EXPECT_FALSE(switcher->GetVisibility());
    EXPECT_EQ(scene->GetCharacterCount(), 0);
    EXPECT_EQ(scene->GetTakeInfoCount(), 0);
    EXPECT_STREQ(scene->GetCurrentTakeName(), "");
    const std::string dump = SceneDump::NodeTree(*scene->GetRootNode(), SceneDump::eTakes) +
                             SceneDump::NodeTree(*switcher, SceneDump::eTakes);
    if (std::getenv("QOV_WRITE_GOLDEN"))
        std::ofstream(QOV_SOURCE_DIR "/tests/scene/golden/FreshScene.txt") << dump;
    std::ifstream golden(QOV_SOURCE_DIR "/tests/scene/golden/FreshScene.txt");
    std::stringstream want;
    want << golden.rdbuf();
    EXPECT_EQ(dump, want.str());
}

TEST_F(KQovSceneTest, TakesSwitchEverythingAndAreListedOnce) {
    KQovNode* a = Node("A");
    KQovNode* b = Node("B");
    a->AddTakeNode("Take 001");
    b->AddTakeNode("Take 001");
    b->AddTakeNode("Take 002");
    std::vector<KString> names;
    scene->FillTakeNameArray(names);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[1], "Take 001");
    EXPECT_EQ(names[2], "Take 002");

    EXPECT_TRUE(scene->SetCurrentTake("Default"));
    EXPECT_FALSE(scene->SetCurrentTake("Take 002"));
    EXPECT_STREQ(scene->GetError().GetErrorText(), "Not all nodes have a take node called Take 002");
    EXPECT_STREQ(b->GetCurrentTakeNodeName(), "Take 002");

    KQovTakeInfo info;
    info.name = "Take 003";
    EXPECT_FALSE(scene->SetTakeInfo(info));
    info.name = "Take 001";
    info.comment = "walk";
    EXPECT_TRUE(scene->SetTakeInfo(info));
    EXPECT_TRUE(scene->SetTakeInfo(info));
    EXPECT_EQ(scene->GetTakeInfoCount(), 1);
    EXPECT_EQ(scene->GetTakeInfo("Take 001")->comment, "walk");

    // A record renamed through the pointer the scene gave is found by its new name, the first
    // of a name first; its old name is free for a record of its own.
    b->AddTakeNode("Take 003");
    info.name = "Take 003";
    info.comment = "run";
    EXPECT_TRUE(scene->SetTakeInfo(info));
    const KQovTakeInfo* run = scene->FindTakeInfo("Take 003");
    scene->GetTakeInfo("Take 001")->name = "Take 003";
    EXPECT_EQ(scene->FindTakeInfo("Take 001"), nullptr);
    EXPECT_EQ(scene->GetTakeInfo("Take 003")->comment, "walk");
    info.name = "Take 001";
    info.comment = "again";
    EXPECT_TRUE(scene->SetTakeInfo(info));
    EXPECT_EQ(scene->GetTakeInfoCount(), 3);
    EXPECT_EQ(scene->FindTakeInfo("Take 001")->comment, "again");
    scene->GetTakeInfo("Take 003")->name = "Take 002";
    EXPECT_EQ(scene->FindTakeInfo("Take 003"), run);
    EXPECT_EQ(scene->FindTakeInfo("Take 002")->comment, "walk");
    // Memory refused at each step of look-ups of names too long to be held inline, and of
    // handing a record out: nothing throws, and each finds the record it found before.
    const char* const kLong[] = {"A take of a name too long to hold inline", "Another take as long"};
    for (const char* name : kLong) {
        b->AddTakeNode(name);
        info.name = name;
        info.comment = name;
        ASSERT_TRUE(scene->SetTakeInfo(info));
    }
    for (long n = 0; n < 6; ++n) {
        LeaksNotChecked quiet;
        gThrowIn = n;
        KQovTakeInfo* lent = nullptr;
        const KQovTakeInfo* other = nullptr;
        EXPECT_NO_THROW(lent = scene->GetTakeInfo(kLong[n % 2]));
        EXPECT_NO_THROW(other = scene->FindTakeInfo(kLong[1 - n % 2]));
        gThrowIn = -1;
        ASSERT_TRUE(lent && other) << n;
        EXPECT_EQ(lent->comment, kLong[n % 2]);
        EXPECT_EQ(other->comment, kLong[1 - n % 2]);
        EXPECT_EQ(scene->FindTakeInfo("Take 003"), run) << n;
    }
    scene->Clear();
    EXPECT_EQ(scene->FindTakeInfo("Take 002"), nullptr);
}

// Each allocation of a first take info refused in turn: the scene holds the info or none, and
// no copy is left behind.
TEST_F(KQovSceneTest, ATakeInfoRefusedLeavesNoCopy) {
    Node("A")->AddTakeNode("Take 001");
    KQovTakeInfo info;
    info.name = "Take 001";
    info.comment = std::string(100, 'c').c_str();  // a copy that allocates
    for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        ASSERT_LT(n, 20);
        gThrowIn = n;
        bool set = false;
        try {
            set = scene->SetTakeInfo(info);
        } catch (const std::bad_alloc&) {
        }
        const bool done = gThrowIn.exchange(-1) >= 0;
        EXPECT_EQ(scene->GetTakeInfoCount(), set ? 1 : 0);
        if (done) break;
    }
    EXPECT_EQ(scene->GetTakeInfo("Take 001")->comment, info.comment);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

TEST_F(KQovSceneTest, ClearEndsWithGenericNodesListedAnyHow) {
    KQovEntityContainer* entity = scene->GetEntityContainer();
    KQovGenericNode* twice = manager.CreateGenericNode("Twice");
    twice->SetEntity(entity);
    entity->AddGenericNode(twice);
    entity->AddGenericNode(manager.CreateGenericNode("OnlyListed"));
    Node("Child")->AddChild(manager.CreateNode("Grandchild"));
    KQovNode* stranger = new KQovNode(&manager, "Model::Stranger");  // not the manager's
    scene->GetRootNode()->AddChild(stranger);
    scene->CreateCharacter("C");
    scene->GetRootNode()->AddTakeNode("Extra");
    scene->Clear();
    EXPECT_EQ(entity->GetGenericNodeCount(), 0);
    EXPECT_EQ(scene->GetRootNode()->GetChildCount(), 0);
    EXPECT_EQ(scene->GetRootNode()->GetTakeNodeCount(), 1);
    EXPECT_EQ(scene->GetCharacterCount(), 0);
    EXPECT_EQ(manager.FindGenericNode("Twice"), nullptr);
    stranger->PrepareDestroy();
    delete stranger;
}

TEST_F(KQovSceneTest, ScenesComeAndGoWithoutLeaks) {
    for (int i = 0; i < 100; ++i) {
        KQovScene* s = manager.CreateScene();
        ASSERT_NE(s, nullptr);
        s->Clear();
        ASSERT_TRUE(manager.DestroyScene(s, true));
    }
}

TEST_F(KQovSceneTest, CharacterPoseOwnsAPrivateSceneWithOneCharacter) {
    int index = scene->CreateCharacterPose("P");
    ASSERT_EQ(index, 0);
    KQovScene* own = scene->GetCharacterPose(0)->GetScene();
    ASSERT_NE(own, nullptr);
    ASSERT_EQ(own->GetCharacterCount(), 1);
    EXPECT_STREQ(own->GetCharacter(0)->GetName(), "Constraint::PoseCharacter");
    // The pose's own: refused, the pose and its scene as they were.
    for (bool recursive : {false, true}) {
        EXPECT_FALSE(manager.DestroyScene(own, recursive));
        EXPECT_EQ(manager.GetError().GetErrorCode(), KQovObjectManager::eSceneOfACharacterPose);
        EXPECT_STREQ(manager.GetError().GetErrorText(), "Scene belongs to a character pose");
    }
    EXPECT_EQ(own->GetCharacterCount(), 1);
    scene->DestroyCharacterPose(0);
    EXPECT_EQ(scene->GetCharacterPoseCount(), 0);
    EXPECT_FALSE(manager.DestroyScene(own, false));  // already gone
    EXPECT_EQ(manager.GetError().GetErrorCode(), KQovObjectManager::eObjectNotFound);
    // Cleared with the scene holding it; a scene made after is left alone.
    scene->CreateCharacterPose("Q");
    scene->Clear();
    KQovScene* next = manager.CreateScene();
    scene->Clear();
    EXPECT_EQ(next->GetCharacterCount(), 0);
    EXPECT_TRUE(manager.DestroyScene(next, true));
}

TEST_F(KQovSceneTest, LinksBecomeDeformersAndComeBack) {
    KQovMesh* mesh = MeshNode("Body");
    KQovNode* bone1 = Node("Bone");
    KQovNode* bone2 = Node("Bone");  // same name: the second cluster gets " 1"
    KQovNode* model = Node("Rig");
    for (KQovNode* bone : {bone1, bone2}) {
        KQovLink* link = manager.CreateLink();  // the geometry destroys it through the manager
        link->SetLink(bone);
        link->AddControlPointIndex(bone == bone1 ? 3 : 7, 0.25);
        link->AddControlPointIndex(9, 0.75);
        link->SetT(KQovLink::eTransformLink, KVector4(1, 2, 3));
        if (bone == bone2) link->SetAssociateModel(model);
        mesh->AddLink(link);
    }
    scene->CreateDeformersFromLinks();
    KQovEntityContainer* entity = scene->GetEntityContainer();
    EXPECT_EQ(entity->GetDeformerCount(1), 1);
    ASSERT_EQ(entity->GetDeformerCount(2), 2);
    EXPECT_STREQ(entity->GetDeformer(0, 2)->GetName(), "SubDeformer::Cluster Bone");
    EXPECT_STREQ(entity->GetDeformer(1, 2)->GetName(), "SubDeformer::Cluster Bone 1");

    // Still listed by the manager, which frees them.
    std::vector<KQovLink*> before = mesh->RemoveAllLinks();
    scene->CreateLinksFromDeformers();
    ASSERT_EQ(mesh->GetLinkCount(), 2);
    for (int i = 0; i < 2; ++i) {
        KQovLink* was = before[size_t(i)];
        KQovLink* now = mesh->GetLink(i);
        EXPECT_EQ(now->GetLink(), was->GetLink());
        EXPECT_EQ(now->GetAssociateModel(), was->GetAssociateModel());
        ASSERT_EQ(now->GetControlPointIndicesCount(), 2);
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(now->GetControlPointIndex(k), was->GetControlPointIndex(k));
            EXPECT_EQ(now->GetControlPointWeight(k), was->GetControlPointWeight(k));
        }
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(now->GetTransformLinkMatrix()[r][c], was->GetTransformLinkMatrix()[r][c], 1e-12);
    }
    const int deformers = manager.GetDeformerCount();
    entity->AddDeformer(entity->GetDeformer(0, 2));  // used twice: goes all the same
    scene->DestroyDeformers();
    EXPECT_EQ(entity->GetDeformerCount(), 0);
    EXPECT_EQ(manager.GetDeformerCount(), deformers - 3);
}

// Layer 0 direct (pre-filled with its first object), layer 1 index-to-direct.
template <class Item, class Element>
void LayerRoundTrip(KQovScene* scene, KQovMesh* mesh, Item* a, Item* b, Item* c,
                    Element& (KQovLayer::*make)()) {
    mesh->CreateLayer();
    mesh->CreateLayer();
    Element& direct = (mesh->GetLayer(0)->*make)();
    Element& indexed = (mesh->GetLayer(1)->*make)();
    direct.SetReferenceMode(0);
    indexed.SetReferenceMode(2);
    for (Item* item : {a, b, c}) {
        direct.GetDirectArray().Add(item);
        indexed.GetDirectArray().Add(item);
    }
    for (int v : {2, 1, 2, 7, -3}) indexed.GetIndexArray().Add(v);
    if constexpr (std::is_same_v<Item, KQovMaterial>)
        scene->ConnectLayerMaterials();
    else
        scene->ConnectLayerTextures();
    std::vector<int> want = {2, 1, 2, -1, -1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(indexed.GetIndexArray().GetAt(i), want[size_t(i)]);

    direct.GetDirectArray().Clear();
    direct.GetDirectArray().Add(a);
    indexed.GetDirectArray().Clear();
    if constexpr (std::is_same_v<Item, KQovMaterial>)
        scene->FillLayerMaterials();
    else
        scene->FillLayerTextures();
    ASSERT_EQ(direct.GetDirectArray().GetCount(), 3);
    EXPECT_EQ(direct.GetDirectArray().GetAt(2), c);
    // Only the used objects, in order; two of them never merge.
    ASSERT_EQ(indexed.GetDirectArray().GetCount(), 2);
    EXPECT_EQ(indexed.GetDirectArray().GetAt(0), b);
    EXPECT_EQ(indexed.GetDirectArray().GetAt(1), c);
    want = {1, 0, 1, -1, -1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(indexed.GetIndexArray().GetAt(i), want[size_t(i)]);
}

TEST_F(KQovSceneTest, LayerMaterialsRoundTrip) {
    LayerRoundTrip(scene, MeshNode("M"), manager.CreateMaterial("a"), manager.CreateMaterial("b"),
                   manager.CreateMaterial("c"), &KQovLayer::MakeMaterials);
}

TEST_F(KQovSceneTest, LayerTexturesRoundTrip) {
    LayerRoundTrip(scene, MeshNode("T"), manager.CreateTexture("a"), manager.CreateTexture("b"),
                   manager.CreateTexture("c"), &KQovLayer::MakeTextures);
}

TEST_F(KQovSceneTest, VideosFromTextureMedia) {
    KQovEntityContainer* entity = scene->GetEntityContainer();
    KQovTexture* bare = manager.CreateTexture("Wood");
    KQovTexture* named = manager.CreateTexture("Stone");
    KQovTexture* taken = manager.CreateTexture("Brick");
    bare->SetFileName("/work/maps/wood.png");
    named->SetFileName("/work/maps/stone.png");
    named->SetMediaName("Video::StoneClip");
    taken->SetFileName("/work/maps/brick.png");
    taken->GetPropertyHandler()->ConnectSrc(manager.CreateVideo("Old")->GetPropertyHandler());
    for (KQovTexture* t : {bare, named, taken}) entity->AddTexture(t);
    scene->CreateVideosFromMedia("/work/out/");
    KQovVideo* wood = manager.FindVideo("Wood");
    ASSERT_NE(wood, nullptr);
    EXPECT_STREQ(wood->GetFileName(), "/work/maps/wood.png");
    EXPECT_STREQ(wood->GetRelativeFileName(), "../maps/wood.png");
    EXPECT_NE(manager.FindVideo("StoneClip"), nullptr);
    EXPECT_EQ(manager.FindVideo("Brick"), nullptr);
    EXPECT_EQ(taken->GetPropertyHandler()->GetSrcCount(), 1);
}


TEST_F(KQovSceneTest, ReparentingInsideASceneKeepsItAndRelinkingIsRefused) {
    KQovEntityContainer* entity = scene->GetEntityContainer();
    KQovNode* root = scene->GetRootNode();
    KQovNode* a = Node("A");
    KQovNode* b = Node("B");
    KQovNode* loose = manager.CreateNode("Loose");
    ASSERT_TRUE(entity->AddNode(loose));  // listed, but under no parent

    const struct {
        KQovNode *parent, *child;
        bool linked;
        KQovNode* expectedParent;
    } rows[] = {
        {b, a, true, b},                // re-parenting goes through unlinking
        {root, a, true, root},          // and back
        {a, a, false, root},            // cycle: unchanged
        {root, loose, false, nullptr},  // already in the scene: refused
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.parent->AddChild(r.child), r.linked) << r.child->GetName();
        EXPECT_EQ(r.child->GetParent(), r.expectedParent) << r.child->GetName();
        EXPECT_EQ(r.child->GetEntityContainer(), entity) << r.child->GetName();
    }
    EXPECT_EQ(root->GetNodeError().GetErrorCode(), 6);
    EXPECT_EQ(entity->GetNodeCount(), 3);

    // A second parent in the same scene is refused; a look-at target is no parent.
    b->GetNodeError().ClearError();
    EXPECT_FALSE(b->GetNodeProperties()->ConnectSrc(a->GetNodeProperties()));
    EXPECT_EQ(b->GetNodeError().GetErrorCode(), 6);
    EXPECT_TRUE(b->GetNodeProperties()->GetLookAtProperty()->ConnectSrc(a->GetNodeProperties()));
    EXPECT_EQ(a->GetParent(), root);
}

TEST_F(KQovSceneTest, MovingInWithEmptyingReleasesWhatWasLeft) {
    KQovEntityContainer* entity = scene->GetEntityContainer();
    KQovNode* oldRoot = scene->GetRootNode();
    KQovNode* kept = Node("Kept");
    KQovNode* loose = manager.CreateNode("Loose");
    ASSERT_TRUE(entity->AddNode(loose));
    KQovMaterial* stray = manager.CreateMaterial("Stray");
    ASSERT_TRUE(entity->AddMaterial(stray));

    KQovNode* top = manager.CreateNode("Top");
    KQovNode* leaf = manager.CreateNode("Leaf");
    ASSERT_TRUE(top->AddChild(leaf));
    ASSERT_TRUE(top->SetEntityContainer(entity, 1));

    for (KQovNode* gone : {oldRoot, kept, loose}) EXPECT_EQ(gone->GetEntityContainer(), nullptr) << gone->GetName();
    for (KQovNode* in : {top, leaf}) EXPECT_EQ(in->GetEntityContainer(), entity) << in->GetName();
    EXPECT_EQ(entity->GetRootNode(), nullptr);
    EXPECT_EQ(entity->GetNodeCount(), 2);
    EXPECT_EQ(entity->GetMaterialCount(), 0);
    EXPECT_EQ(kept->GetParent(), oldRoot);  // the old tree stays whole, outside
    EXPECT_TRUE(top->SetEntityContainer(entity, 1));  // again: nothing to do
}

TEST_F(KQovSceneTest, LinkingUnderARootMovesTheSubtreeAndWhatItUses) {
    KQovScene* other = manager.CreateScene();
    KQovNode* body = manager.CreateNode("Body");
    KQovMesh* mesh = manager.CreateMesh();
    body->SetNodeAttribute(mesh);
    KQovMaterial* skin = manager.CreateMaterial("Skin");
    mesh->AddMaterial(skin, 0);
    KQovNode* hand = manager.CreateNode("Hand");
    body->AddChild(hand);

    KQovEntityContainer* entity = scene->GetEntityContainer();
    ASSERT_TRUE(scene->GetRootNode()->AddChild(body));
    EXPECT_EQ(body->GetEntityContainer(), entity);
    EXPECT_EQ(hand->GetEntityContainer(), entity);
    EXPECT_EQ(entity->FindMaterial(KString("Material::Skin")), skin);

    // A look-at target in another scene stays there.
    KQovNode* target = manager.CreateNode("Target");
    other->GetRootNode()->AddChild(target);
    body->GetNodeProperties()->GetLookAtProperty()->ConnectSrc(target->GetPropertyHandler());
    EXPECT_EQ(target->GetEntityContainer(), other->GetEntityContainer());

    // Moving to another scene takes everything along; unlinking leaves none.
    ASSERT_TRUE(other->GetRootNode()->AddChild(body));
    EXPECT_EQ(hand->GetEntityContainer(), other->GetEntityContainer());
    EXPECT_EQ(entity->GetMaterialCount(), 0);
    EXPECT_EQ(entity->GetNodeCount(), 0);  // the root is not listed
    other->GetRootNode()->RemoveChild(body);
    EXPECT_EQ(hand->GetEntityContainer(), nullptr);
}

TEST_F(KQovSceneTest, ClipConnectedTwiceIsListedOnce) {
    KQovNode* a = Node("A");
    KQovNode* b = Node("B");
    KQovVideo* clip = manager.CreateVideo("Clip");
    for (KQovNode* node : {a, b}) node->GetPropertyHandler()->ConnectSrc(clip->GetPropertyHandler());
    EXPECT_EQ(scene->GetEntityContainer()->GetVideoCount(), 1);
    EXPECT_EQ(scene->GetEntityContainer()->GetVideo(0), clip);
}

TEST_F(KQovSceneTest, CollectorFindsNameClashes) {
    // root: Leg (mesh with Skin) -> Leg (mesh with Skin and Bark)
    KQovNode* root = manager.CreateNode("Tree");
    KQovMaterial* skin = manager.CreateMaterial("Skin");
    KQovNode* parent = root;
    for (int i = 0; i < 2; ++i) {
        KQovNode* leg = manager.CreateNode("Leg");
        KQovMesh* mesh = manager.CreateMesh();
        leg->SetNodeAttribute(mesh);
        mesh->AddMaterial(skin, 0);
        if (i == 1) mesh->AddMaterial(manager.CreateMaterial("Bark"), 0);
        parent->AddChild(leg);
        parent = leg;
    }
    Node("Tree");  // a node of the root's name in the destination
    struct Row {
        const char* what;
        KQovEntityContainer* destination;
        bool nodes, materials;
        size_t accepted, clashingNodes, clashingMaterials;
    };
    const Row rows[] = {
        {"all off", nullptr, false, false, 0, 0, 0},
        {"nodes, no destination", nullptr, true, false, 1, 1, 0},
        {"nodes against the scene", scene->GetEntityContainer(), true, false, 2, 2, 0},
        {"materials: shared one met again", nullptr, false, true, 1, 0, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        KQovNodeCollector collector(r.destination);
        collector.SetCategoryEnabled(KQovNodeCollector::eNodes, r.nodes);
        collector.SetCategoryEnabled(KQovNodeCollector::eMaterials, r.materials);
        EXPECT_EQ(collector.Collect(root).size(), r.accepted);
        EXPECT_EQ(collector.GetNodes().size(), 3u);
        EXPECT_EQ(collector.GetMaterials().size(), 2u);
        EXPECT_EQ(collector.GetClashingNodes().size(), r.clashingNodes);
        EXPECT_EQ(collector.GetClashingMaterials().size(), r.clashingMaterials);
    }
}

}  // namespace

TEST(KQovSceneSources, SrcObjectOfClassGivesLiveObjectsOnly) {
    KSceneTestPlugs<KObject> plugs;
    KObject* user = plugs.Make();
    KObject* first = plugs.Make();
    KPlug* bare = plugs.Make<KPlug>();
    KObject* gone = plugs.Make();
    ASSERT_TRUE(user->ConnectSrc(first));
    ASSERT_TRUE(user->ConnectSrc(bare));
    ASSERT_TRUE(user->ConnectSrc(gone));
    const KWeakRef goneRef = gone->GetWeakRef();
    gone->Destroy();
    const struct {
        int index, classId;
        KWeakRef expected;
    } rows[] = {
        {0, KObject::ClassId(), first->GetWeakRef()},
        {1, KObject::ClassId(), KWeakRef{}},  // only objects reach that sub-plug
        {0, KPlug::ClassId(), first->GetWeakRef()},
        {1, KPlug::ClassId(), KWeakRef{}},  // a plug but no object
        {2, KPlug::ClassId(), KWeakRef{}},  // destroyed
        {-1, KObject::ClassId(), KWeakRef{}},
        {9, KObject::ClassId(), KWeakRef{}},
    };
    for (const auto& r : rows)
        EXPECT_EQ(GetSrcObjectOfClass(*user, r.index, r.classId), r.expected) << r.index << " " << r.classId;
    EXPECT_NE(goneRef, GetSrcObjectOfClass(*user, 1, KObject::ClassId()));
}

namespace {

// The scene's generic-node and deformer accessors answer as its entity container does, for
// every deformer type and index, in range or not.
TEST_F(KQovSceneTest, GenericNodesAndDeformersAreTheEntityContainers) {
    KQovEntityContainer* entity = scene->GetEntityContainer();
    entity->AddGenericNode(manager.CreateGenericNode("Notes"));
    KQovDeformer* skin = manager.CreateDeformer("S", "Skin");
    KQovDeformer* cluster = manager.CreateDeformer("C", "Cluster");
    KQovDeformer* second = manager.CreateDeformer("C2", "Cluster");
    for (KQovDeformer* d : {skin, cluster, second}) EXPECT_TRUE(scene->AddDeformer(d));
    EXPECT_TRUE(scene->AddDeformer(nullptr));  // nothing to list: no error
    const struct {
        int type;
        int count;
        std::vector<KQovDeformer*> at;  // indices 0, 1, ...
    } kCases[] = {{0, 3, {skin, cluster, second}},
                  {1, 1, {skin}},
                  {2, 2, {cluster, second}},
                  {3, 0, {}},
                  {-1, 0, {}}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(scene->GetDeformerCount(c.type), c.count);
        EXPECT_EQ(scene->GetDeformerCount(c.type), entity->GetDeformerCount(c.type));
        for (int i = -1; i <= int(c.at.size()); ++i) {
            KQovDeformer* expected = i >= 0 && i < int(c.at.size()) ? c.at[size_t(i)] : nullptr;
            EXPECT_EQ(scene->GetDeformer(i, c.type), expected) << i;
        }
    }
    EXPECT_EQ(scene->GetGenericNodeCount(), 1);
    EXPECT_STREQ(scene->GetGenericNode(0)->GetName(), "Notes");
    EXPECT_EQ(scene->GetGenericNode(1), nullptr);
    EXPECT_EQ(scene->GetGenericNode(-1), nullptr);
}

}  // namespace
