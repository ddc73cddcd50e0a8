#include <gtest/gtest.h>

#include <string>

#include "scene/KQovNode.h"
#include "scene/KQovRootHelper.h"

namespace {

// The file's Y-up axes turned to Z-up; "Model::Top" is a further root.
class TestFilter : public KQovRootFilterHelper {
public:
    void GetConversionMatrix(KMatrix& matrix) override { matrix = KMatrix(-90.0, 0.0, 0.0); }
    bool IsExtraRoot(KQovNode* node) override { return std::string(node->GetName()) == "Model::Top"; }
};

TEST(KQovRootHelper, RootNames) {
    struct Row {
        const char* name;
        bool plain, filter;
    };
    const Row rows[] = {
        {"Model::Qov_Root", true, true},   {"Model::Qov_Root_7", true, true},
        {"Model::A_Qov_Root", true, true}, {"Model::qov_root", false, false},
        {"Model::Top", false, true},       {"Model::Qov", false, false},
    };
    KQovRootHelper helper;
    TestFilter filter;
    EXPECT_STREQ(helper.GetRootName().Buffer(), "Qov_Root");
    for (const Row& row : rows) {
        KQovNode node(nullptr, row.name);
        EXPECT_EQ(helper.IsRoot(&node), row.plain) << row.name;
        EXPECT_EQ(filter.IsRoot(&node), row.filter) << row.name;
    }
    EXPECT_FALSE(helper.IsRoot(nullptr));
}

TEST(KQovRootHelper, DissolvesRootsThatOnlyUndoTheConversion) {
    KQovNode scene(nullptr, "Model::Scene");
    KQovNode undoing(nullptr, "Model::Qov_Root"), child1(nullptr, "Model::C1"),
        child2(nullptr, "Model::C2");
    KQovNode moved(nullptr, "Model::Qov_Root1"), plain(nullptr, "Model::Plain");
    scene.AddChild(&undoing);
    undoing.AddChild(&child1);
    undoing.AddChild(&child2);
    scene.AddChild(&moved);
    scene.AddChild(&plain);
    undoing.SetLocalRotation(90, 0, 0);  // the conversion's inverse

    TestFilter filter;
    filter.DissolveRoots(nullptr);
    filter.DissolveRoots(&scene);
    EXPECT_EQ(filter.GetMovedNodes(), (std::vector<KQovNode*>{&child1, &child2, &moved}));
    EXPECT_EQ(filter.GetDissolvedRoots(), (std::vector<KQovNode*>{&undoing}));
    struct Plain {
        KQovNode* node;
        bool plain;
    };
    for (const Plain& p : {Plain{&scene, true}, Plain{&undoing, false}, Plain{&child1, false},
                           Plain{&moved, false}, Plain{&plain, true}})
        EXPECT_EQ(filter.IsPlainNode(p.node), p.plain) << p.node->GetName();
    EXPECT_TRUE(filter.IsDissolvedRoot(&undoing));
    EXPECT_FALSE(filter.IsDissolvedRoot(&moved));

    // The conversion now sits on the scene root.
    KVector4 r;
    scene.GetLocalRotation(r);
    EXPECT_NEAR(r[0], -90.0, 1e-9);
    EXPECT_EQ(KMatrixCompareAffine(undoing.GetGlobalMatrix(0, true), KMatrix(), 1e-9), 0);
}

}  // namespace
