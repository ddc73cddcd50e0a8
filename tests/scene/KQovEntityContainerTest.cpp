#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/RemovalOrders.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovVideo.h"
#include "scene/SceneObjectDoubles.h"

namespace {

using scene_test::TestAttribute;
using scene_test::TestObject;

// A container whose root the manager makes and owns.
struct Container {
    Container() : entity(std::make_unique<KQovEntityContainer>(&manager)) {}
    KQovEntityContainer* operator->() { return entity.get(); }
    KQovObjectManager manager;
    std::unique_ptr<KQovEntityContainer> entity;
};

TEST(KQovEntityContainer, UseCountsKeepAnObjectUntilItsLastUser) {
    Container c;
    TestObject material(nullptr, "Material::M"), texture(nullptr, "Texture::T");
    KQovVideo video(nullptr, "Video::V");
    KQovGenericNode generic(nullptr, "G");
    KQovDeformer deformer(nullptr, "D", "Skin");
    using Add = bool (*)(KQovEntityContainer*);
    struct Row {
        const char* kind;
        Add add, remove;
        int (*count)(KQovEntityContainer*);
        int inUse, notFound;
        const char* inUseText;
    };
    static KQovObject* m;
    static KQovObject* t;
    static KQovVideo* v;
    static KQovGenericNode* g;
    static KQovDeformer* d;
    m = &material, t = &texture, v = &video, g = &generic, d = &deformer;
    const Row rows[] = {
        {"material", [](KQovEntityContainer* e) { return e->AddMaterial(m); },
         [](KQovEntityContainer* e) { return e->RemoveMaterial(m); },
         [](KQovEntityContainer* e) { return e->GetMaterialCount(); }, 4, 5,
         "Material still in use."},
        {"texture", [](KQovEntityContainer* e) { return e->AddTexture(t); },
         [](KQovEntityContainer* e) { return e->RemoveTexture(t); },
         [](KQovEntityContainer* e) { return e->GetTextureCount(); }, 6, 7,
         "Texture still in use."},
        {"video", [](KQovEntityContainer* e) { return e->AddVideo(v); },
         [](KQovEntityContainer* e) { return e->RemoveVideo(v); },
         [](KQovEntityContainer* e) { return e->GetVideoCount(); }, 8, 9, "Video still in use."},
        {"generic", [](KQovEntityContainer* e) { return e->AddGenericNode(g); },
         [](KQovEntityContainer* e) { return e->RemoveGenericNode(g); },
         [](KQovEntityContainer* e) { return e->GetGenericNodeCount(); }, 11, 12, ""},
        {"deformer", [](KQovEntityContainer* e) { return e->AddDeformer(d); },
         [](KQovEntityContainer* e) { return e->RemoveDeformer(d); },
         [](KQovEntityContainer* e) { return e->GetDeformerCount(0); }, 14, 15, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.kind);
        KQovEntityContainer* e = c.entity.get();
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(r.add(e));
        EXPECT_EQ(r.count(e), 1);
        for (int i = 0; i < 2; ++i) {
            EXPECT_FALSE(r.remove(e));
            EXPECT_EQ(e->GetError().GetErrorCode(), r.inUse);
            EXPECT_STREQ(e->GetError().GetErrorText(), r.inUseText);
            EXPECT_EQ(r.count(e), 1);
        }
        EXPECT_TRUE(r.remove(e));
        EXPECT_EQ(r.count(e), 0);
        EXPECT_FALSE(r.remove(e));
        EXPECT_EQ(e->GetError().GetErrorCode(), r.notFound);
    }
    generic.SetEntity(nullptr);
}

TEST(KQovEntityContainer, LookupsIndicesAndNodes) {
    Container c;
    TestObject texture(nullptr, "Texture::T");
    c->AddTexture(&texture);
    EXPECT_EQ(c->FindTexture(KString("Texture::T")), &texture);
    EXPECT_EQ(c->FindTexture(KString("T")), nullptr);
    EXPECT_STREQ(c->GetError().GetErrorText(), "Texture not found.");
    for (int index : {-1, 1}) {
        c->GetError().ClearError();
        EXPECT_EQ(c->GetTexture(index), nullptr);
        EXPECT_STREQ(c->GetError().GetErrorText(), "Parameter is out of range.");
        c->GetError().ClearError();
        EXPECT_EQ(c->GetMaterial(index), nullptr);
        EXPECT_EQ(c->GetError().GetErrorCode(), KQovEntityContainer::eOutOfRange);
    }
    EXPECT_EQ(c->GetTexture(0), &texture);

    KQovNode* root = c->GetRootNode();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->GetName(), "Model::RootNode");
    KQovNode a(nullptr, "Model::A");
    struct Step {
        bool add;
        KQovNode* node;
        bool result;
        int code;
    };
    const Step steps[] = {
        {true, nullptr, false, 0}, {true, root, true, -1},     {true, &a, true, -1},
        {true, &a, false, 1},      {false, nullptr, false, 0}, {false, &a, true, -1},
        {false, &a, false, 2},     {false, root, true, -1},
    };
    for (const Step& s : steps) {
        c->GetError().ClearError();
        EXPECT_EQ(s.add ? c->AddNode(s.node) : c->RemoveNode(s.node), s.result);
        EXPECT_EQ(c->GetError().GetErrorCode(), s.code);
    }
    EXPECT_EQ(c->GetNodeCount(), 0);
    EXPECT_EQ(c->GetRootNode(), nullptr);
}

TEST(KQovEntityContainer, VideoNameClash) {
    Container c;
    KQovVideo v1(nullptr, "Video::Clip"), v2(nullptr, "Video::Clip"), v3(nullptr, "Video::Other");
    EXPECT_TRUE(c->AddVideo(&v1));
    EXPECT_FALSE(c->AddVideo(&v2));
    EXPECT_STREQ(c->GetError().GetErrorText(), "Video name clash.");
    EXPECT_TRUE(c->AddVideo(&v1));
    EXPECT_TRUE(c->AddVideo(&v3));
    EXPECT_EQ(c->GetVideoCount(), 2);
    EXPECT_EQ(c->GetVideoUseCount(&v1), 2);
    EXPECT_EQ(c->GetVideoUseCount(&v2), 0);
    EXPECT_EQ(c->FindVideo(KString("Video::Other")), &v3);
}

TEST(KQovEntityContainer, DeformersByType) {
    Container c;
    KQovDeformer s1(nullptr, "S1", "Skin"), k1(nullptr, "K1", "CLUSTER"), s2(nullptr, "S2", ""),
        k2(nullptr, "K2", "cluster");
    for (KQovDeformer* d : {&s1, &k1, &s2, &k2}) c->AddDeformer(d);
    struct Row {
        int type, count;
        std::vector<KQovDeformer*> order;
    };
    const Row rows[] = {
        {0, 4, {&s1, &k1, &s2, &k2}},
        {1, 2, {&s1, &s2}},
        {2, 2, {&k1, &k2}},
        {3, 0, {}},
        {-1, 0, {}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(c->GetDeformerCount(r.type), r.count) << r.type;
        for (int i = 0; i < int(r.order.size()); ++i)
            EXPECT_EQ(c->GetDeformer(i, r.type), r.order[size_t(i)]);
        EXPECT_EQ(c->GetDeformer(int(r.order.size()), r.type), nullptr);
        EXPECT_EQ(c->GetDeformer(-1, r.type), nullptr);
    }
    EXPECT_EQ(c->FindDeformer("K2"), &k2);
    EXPECT_EQ(c->FindDeformer("none"), nullptr);
}

TEST(KQovEntityContainer, CollectsByAttributeInTreeOrListOrder) {
    KQovNode a(nullptr, "Model::A"), a1(nullptr, "Model::A1"), b(nullptr, "Model::B");
    TestAttribute la(KQovNodeAttribute::eLight), la1(KQovNodeAttribute::eLight),
        lb(KQovNodeAttribute::eLight), mesh(KQovNodeAttribute::eMesh);
    Container c;  // listed nodes outlive the container
    KQovNode* root = c->GetRootNode();
    root->AddChild(&a);
    a.AddChild(&a1);
    root->AddChild(&b);
    a.SetNodeAttribute(&la);
    a1.SetNodeAttribute(&la1);
    b.SetNodeAttribute(&lb);
    root->SetNodeAttribute(&mesh);
    c->RemoveNode(&a);  // linked nodes are listed in link order; the list now differs from the tree
    std::vector<KQovNode*> out{&a};
    c->CollectNodesByAttributeType(out, KQovNodeAttribute::eLight, true);
    EXPECT_EQ(out, (std::vector<KQovNode*>{&a, &a1, &b}));
    c->CollectNodesByAttributeType(out, KQovNodeAttribute::eLight, false);
    EXPECT_EQ(out, (std::vector<KQovNode*>{&a1, &b}));
    c->CollectNodesByAttributeType(out, KQovNodeAttribute::eCamera, true);
    EXPECT_TRUE(out.empty());
    for (KQovNode* n : {root, &a, &a1, &b}) n->SetNodeAttribute(nullptr);
    root->RemoveChild(&a);
    root->RemoveChild(&b);
}

TEST(KQovEntityContainer, GenericNodeEntityUsesAndLifetimes) {
    auto g = std::make_unique<KQovGenericNode>(nullptr, "G");
    {
        Container first, second;
        EXPECT_TRUE(g->SetEntity(first.entity.get()));
        EXPECT_TRUE(g->SetEntity(first.entity.get()));
        EXPECT_EQ(first->GetGenericNodeUseCount(g.get()), 1);
        g->SetEntity(second.entity.get());
        EXPECT_EQ(first->GetGenericNodeCount(), 0);
        EXPECT_EQ(second->FindGenericNode("G"), g.get());
        // A generic node going first leaves no pointer behind.
        KQovGenericNode other(nullptr, "H");
        other.SetEntity(second.entity.get());
        EXPECT_EQ(second->GetGenericNodeCount(), 2);
    }
    // The containers went first: the node forgot them.
    EXPECT_EQ(g->GetEntity(), nullptr);
    // Listed only through the container (its entity never set): the container
    // still lets it go when it dies, instead of asking it again for ever.
    {
        Container only;
        only->AddGenericNode(g.get());
        EXPECT_EQ(only->GetGenericNodeCount(), 1);
    }
    EXPECT_EQ(g->GetEntity(), nullptr);
}

// Nodes removed or destroyed one at a time in any order, new ones added meanwhile: the list
// a caller sees matches a plain vector that erases at once.
TEST(KQovEntityContainer, NodesLeaveInAnyOrderAsErasing) {
    for (Order order : {eForward, eBackward, eShuffled, eEndsInTurn}) {
        SCOPED_TRACE(int(order));
        Container c;
        std::vector<KQovNode*> model;
        for (int i = 0; i < 150; ++i) {
            model.push_back(c.manager.CreateNode(("N" + std::to_string(i)).c_str()));
            ASSERT_TRUE(c->AddNode(model.back()));
        }
        std::vector<KQovNode*> doomed;
        for (size_t at : Positions(order, model.size())) doomed.push_back(model[at]);
        for (size_t k = 0; k < doomed.size(); ++k) {
            if (k % 2)
                ASSERT_TRUE(c.manager.DestroyNode(doomed[k], false));
            else
                ASSERT_TRUE(c->RemoveNode(doomed[k]));
            model.erase(std::find(model.begin(), model.end(), doomed[k]));
            if (k % 2 == 0) {
                c->GetError().ClearError();
                EXPECT_FALSE(c->RemoveNode(doomed[k]));
                EXPECT_EQ(c->GetError().GetErrorCode(), KQovEntityContainer::eNodeNotOwned);
                // Taken out, it can come back at the end.
                if (k % 6 == 0) {
                    ASSERT_TRUE(c->AddNode(doomed[k]));
                    model.push_back(doomed[k]);
                }
            }
            if (k % 5 == 1) {
                model.push_back(c.manager.CreateNode(("M" + std::to_string(k)).c_str()));
                ASSERT_TRUE(c->AddNode(model.back()));
                EXPECT_FALSE(c->AddNode(model.back()));
            }
            ASSERT_EQ(c->GetNodeCount(), int(model.size()));
            for (size_t i = 0; i < model.size(); ++i) ASSERT_EQ(c->GetNode(int(i)), model[i]) << i;
            c->GetError().ClearError();
            EXPECT_EQ(c->GetNode(int(model.size())), nullptr);
            EXPECT_EQ(c->GetError().GetErrorCode(), KQovEntityContainer::eOutOfRange);
        }
    }
}

// 20,000 nodes under the root, so listed in the container, destroyed by one recursive destroy:
// a pass over the root's children or the container's list per node would take minutes here.
TEST(KQovEntityContainer, AWideRootGoesInLinearTime) {
    constexpr int kCount = 20000;
    Container c;
    const int nodes = c.manager.GetNodeCount();
    KQovNode* root = c->GetRootNode();
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(c->AddNode(root));
    for (int i = 0; i < kCount; ++i) {
        KQovNode* node = c.manager.CreateNode("N");
        // A child of a listed node is listed with it.
        ASSERT_TRUE(root->AddChild(node));
    }
    ASSERT_EQ(root->GetChildCount(), kCount);
    ASSERT_EQ(c->GetNodeCount(), kCount + 1);
    ASSERT_TRUE(c.manager.DestroyNode(root, true));
    EXPECT_EQ(c->GetNodeCount(), 0);
    EXPECT_EQ(c->GetRootNode(), nullptr);
    EXPECT_EQ(c.manager.GetNodeCount(), nodes - 1);
}

// Names past the inline length live on the heap: a rename frees the old text, which an index
// of views would still hash and compare when another object of that name is added.
TEST(KQovEntityContainer, LookupsFollowRenames) {
    const std::string old = "Material::" + std::string(70, 'o');
    const std::string renamed = "Material::" + std::string(70, 'r');
    Container c;
    TestObject first(nullptr, old.c_str()), second(nullptr, old.c_str());
    c->AddMaterial(&first);
    EXPECT_EQ(c->FindMaterial(KString(old.c_str())), &first);
    first.SetName(renamed.c_str());
    c->AddMaterial(&second);
    EXPECT_EQ(c->FindMaterial(KString(old.c_str())), &second);
    EXPECT_EQ(c->FindMaterial(KString(renamed.c_str())), &first);
}

// Adds, removals, renames by every call and objects destroyed while listed, in random order:
// each look-up gives what a search of the list in order gives.
TEST(KQovEntityContainer, LookupsMatchASearchInOrder) {
    const std::string tail(64, 'x');  // names that live on the heap
    const std::vector<std::string> names = {"Material::a", "Material::b" + tail,
                                            "Material::c" + tail, "Material::d"};
    std::mt19937 random(61);
    auto pick = [&](size_t n) { return size_t(random() % n); };
    Container c;
    std::vector<std::unique_ptr<TestObject>> objects;
    for (int step = 0; step < 1500; ++step) {
        if (objects.size() < 12)
            objects.push_back(std::make_unique<TestObject>(nullptr, names[pick(4)].c_str()));
        TestObject* object = objects[pick(objects.size())].get();
        const char* name = names[pick(names.size())].c_str();
        KQovNamePair pair = object->GetNamePair();
        switch (pick(7)) {
            case 0:
            case 1:
                c->AddMaterial(object);
                break;
            case 2:
                c->RemoveMaterial(object);
                break;
            case 3:
                object->SetName(name);
                break;
            case 4:
                object->SetInitialName(name);
                break;
            case 5:
                pair.currentName = name;
                object->SetNamePair(pair);
                break;
            default:
                objects.erase(std::find_if(objects.begin(), objects.end(),
                                           [&](const auto& o) { return o.get() == object; }));
        }
        for (const std::string& wanted : names) {
            KQovObject* first = nullptr;
            for (int i = 0; i < c->GetMaterialCount() && !first; ++i)
                if (wanted == c->GetMaterial(i)->GetName()) first = c->GetMaterial(i);
            ASSERT_EQ(c->FindMaterial(KString(wanted.c_str())), first) << step << ' ' << wanted;
        }
    }
    // Destroyed while listed: gone from the list.
    const int listed = c->GetMaterialCount();
    objects.clear();
    EXPECT_GT(listed, 0);
    EXPECT_EQ(c->GetMaterialCount(), 0);
}

}  // namespace
