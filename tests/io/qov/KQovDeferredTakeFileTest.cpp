// Nodes make their "Default" take on first use: the files written from a scene must not tell
// whether its nodes made it at creation, late, or never.

#include <gtest/gtest.h>

#include <string>

#include "KQovWriterQov5TestUtil.h"
#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
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

std::string Write(KQovScene* scene, const std::string& name, int id) {
    KQovExporter exporter(scene->GetObjectManager());
    if (!exporter.Initialize(name.c_str())) return "cannot create " + name;
    exporter.SetFileFormat(id);
    if (!exporter.Export(scene, nullptr)) return "cannot write " + name;
    return v5test::Stable(v5test::ReadText(name));
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
        const std::string expected = Write(atOnce.scene, tmp / "at_once.qov", id);
        EXPECT_EQ(Write(late.scene, tmp / "late.qov", id), expected);

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
            const std::string again = Write(read.scene, tmp / "again.qov", id);
            if (!make)
                untouched = again;
            else
                EXPECT_EQ(again, untouched);
        }
    }
}

}  // namespace
