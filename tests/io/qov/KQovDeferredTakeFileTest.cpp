// Nodes make their "Default" take on first use: the files written from a scene must not tell
// whether its nodes made it at creation, late, or never.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KQovWriterQov5TestUtil.h"
#include "common/TempTestFolder.h"
#include "io/KQovImporter.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

namespace {

struct Built {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
};

// Nulls plain, moved after creation and nested, a light and a node with a user property.
void Build(Built& built, bool makeAtOnce) {
    KQovObjectManager& m = built.manager;
    auto node = [&](const char* name, KQovNode* parent) {
        KQovNode* n = m.CreateNode(name);
        if (makeAtOnce) n->GetDefaultTakeNode();
        parent->AddChild(n);
        return n;
    };
    KQovNode* root = built.scene->GetRootNode();
    node("Plain", root)->SetNodeAttribute(m.CreateNull());
    KQovNode* moved = node("Moved", root);
    moved->SetNodeAttribute(m.CreateNull());
    moved->SetLocalTranslation(1.0, 2.0, 3.0);
    moved->SetLocalRotation(0.0, 45.0, 0.0);
    KQovNode* inner = node("Inner", moved);
    inner->SetLocalScaling(2.0, 2.0, 2.0);
    inner->WritePropertyDefaults();
    inner->SetVisibility(false);
    KQovNode* lamp = node("Lamp", root);
    lamp->SetLocalTranslation(0.0, 5.0, 0.0);
    lamp->SetNodeAttribute(m.CreateLight());
    KQovNode* weighted = node("Weighted", root);
    KQovUserProperty* up = m.CreateUserProperty("Weight", "Real", "");
    up->SetFlag(KQovUserProperty::eFlagAnimatable, true);
    up->SetFlag(KQovUserProperty::eFlagUserProperty, true);
    weighted->AddUserProperty(up);
    up->SetValue(0.25);
}

void MakeEveryTake(KQovNode* node) {
    node->GetDefaultTakeNode();
    for (int i = 0; i < node->GetChildCount(); ++i) MakeEveryTake(node->GetChild(i));
}

TEST(KQovDeferredTakeFile, WrittenFilesDoNotTellWhenTakesWereMade) {
    // Version-6 and version-5 text: the two writers read the default takes differently.
    for (int id : {1, 4}) {
        SCOPED_TRACE(id);
        TempTestFolder tmp;
        Built atOnce, late;
        Build(atOnce, true);
        Build(late, false);
        const std::string expected = v5test::ExportStable(atOnce.scene, tmp / "at_once.qov", id);
        EXPECT_EQ(v5test::ExportStable(late.scene, tmp / "late.qov", id), expected);

        // Read back: written again untouched, and after every take was made.
        std::string untouched;
        for (bool make : {false, true}) {
            SCOPED_TRACE(make);
            Built read;
            KQovImporter importer(&read.manager);
            const std::string source = tmp / "at_once.qov";
            ASSERT_TRUE(importer.Initialize(source.c_str()));
            ASSERT_TRUE(importer.Import(read.scene, nullptr));
            if (make) MakeEveryTake(read.scene->GetRootNode());
            const std::string again = v5test::ExportStable(read.scene, tmp / "again.qov", id);
            if (!make)
                untouched = again;
            else
                EXPECT_EQ(again, untouched);
        }
    }
}

// The writer makes one take for nodes alike and reuses it: nodes whose plans differ only in a
// channel's name or a value, one after the other, must each be written as their own take.
TEST(KQovDeferredTakeFile, NodesAlikeShareNoWrongTake) {
    struct Weight {
        const char* node;
        const char* property;  // null: a plain null
        double value;
        double x;
    };
    const Weight kNodes[] = {{"A", nullptr, 0.0, 0.0},   {"B", nullptr, 0.0, 0.0},
                             {"C", "Weight", 0.25, 0.0}, {"D", "Other", 0.25, 0.0},
                             {"E", "Other", 0.5, 0.0},   {"F", "Other", 0.5, 1.5},
                             {"G", nullptr, 0.0, 1.5},   {"H", nullptr, 0.0, 0.0}};
    auto build = [&](Built& built, bool makeAtOnce) {
        KQovObjectManager& m = built.manager;
        for (const Weight& w : kNodes) {
            KQovNode* n = m.CreateNode(w.node);
            if (makeAtOnce) n->GetDefaultTakeNode();
            built.scene->GetRootNode()->AddChild(n);
            n->SetNodeAttribute(m.CreateNull());
            n->SetLocalTranslation(w.x, 0.0, 0.0);
            if (!w.property) continue;
            KQovUserProperty* up = m.CreateUserProperty(w.property, "Real", "");
            up->SetFlag(KQovUserProperty::eFlagAnimatable, true);
            up->SetFlag(KQovUserProperty::eFlagUserProperty, true);
            n->AddUserProperty(up);
            up->SetValue(w.value);
        }
    };
    for (int id : {1, 4}) {
        SCOPED_TRACE(id);
        TempTestFolder tmp;
        Built atOnce, late;
        build(atOnce, true);
        build(late, false);
        std::vector<bool> deferred;
        std::vector<int> links;
        KQovNode* root = late.scene->GetRootNode();
        for (int i = 0; i < root->GetChildCount(); ++i) {
            deferred.push_back(root->GetChild(i)->IsDefaultTakeDeferred());
            links.push_back(root->GetChild(i)->GetPropertyLinkCount());
        }
        const std::string expected = v5test::ExportStable(atOnce.scene, tmp / "at_once.qov", id);
        ASSERT_NE(expected.find("Other"), std::string::npos);
        EXPECT_EQ(v5test::ExportStable(late.scene, tmp / "late.qov", id), expected);
        // Written without making a take or a link on the nodes.
        for (int i = 0; i < root->GetChildCount(); ++i) {
            EXPECT_EQ(root->GetChild(i)->IsDefaultTakeDeferred(), deferred[size_t(i)]) << i;
            EXPECT_EQ(root->GetChild(i)->GetPropertyLinkCount(), links[size_t(i)]) << i;
        }
    }
}

}  // namespace
