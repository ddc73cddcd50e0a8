#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ReaderTestUtil.h"
#include "TextReadTestUtil.h"
#include "scene/KQovNode.h"

namespace {

std::string Model(const std::string& name) {
    return "    Model: \"Model::" + name + "\", \"Null\" {\n        Type: \"Null\"\n    }\n";
}

std::string Connect(const std::string& child, const std::string& parent) {
    return "    Connect: \"OO\", \"Model::" + child + "\", \"Model::" + parent + "\"\n";
}

// A parent with many children reads in time linear in them (a quadratic path would take
// minutes here); the children keep the file's order, a link given twice is made once and
// a later parent takes the child over.
TEST(KQovReaderQovConnections, ManyChildrenReadInOrder) {
    constexpr int kChildren = 20000;
    std::string body = "Objects:  {\n";
    for (int i = 0; i < kChildren; ++i) body += Model("N" + std::to_string(i));
    body += "}\nConnections:  {\n";
    for (int i = 0; i < kChildren; ++i) body += Connect("N" + std::to_string(i), "Scene");
    body += Connect("N0", "Scene") + Connect("N7", "N1") + Connect("N7", "N1") + "}\n";
    qovtest::TextRead read(qovtest::QovText(6000, body, "Model"));
    ASSERT_TRUE(read.ok);
    KQovNode* root = read.scene->GetRootNode();
    ASSERT_EQ(root->GetChildCount(), kChildren - 1);
    for (int i = 0, k = 0; i < kChildren; ++i) {
        if (i == 7) continue;
        ASSERT_STREQ(root->GetChild(k++)->GetName(), ("Model::N" + std::to_string(i)).c_str());
    }
    KQovNode* n1 = root->GetChild(1);
    ASSERT_EQ(n1->GetChildCount(), 1);
    EXPECT_STREQ(n1->GetChild(0)->GetName(), "Model::N7");
    EXPECT_EQ(n1->GetChild(0)->GetParent(), n1);
}

// Models of one name (or of the root's, "Scene"), as files written before names were made
// unique hold them: none is lost, each takes the parent of its own connection, and what is
// connected to the name goes to the first (to the root for "Scene"), with a warning. Models
// left out of the root's tree are named too.
TEST(KQovReaderQovConnections, ModelsSharingANameAreEachPlaced) {
    const struct {
        // one name a letter: S "Scene", A "A", B "B", h "hand", f "foot", P "Producer Top"
        const char* models;
        std::vector<std::pair<const char*, const char*>> connections;
        const char* tree;
        const char* warnings;
    } kCases[] = {
        {"Sh",
         {{"Scene", "Scene"}, {"hand", "Scene"}},
         "Scene hand",
         "A model is named \"Scene\", as the file's root is: what the file connects to that "
         "name is read under the root\n"},
        {"SSh",
         {{"Scene", "Scene"}, {"Scene", "Scene"}, {"hand", "Scene"}},
         "Scene Scene hand",
         "2 models are named \"Scene\", as the file's root is: what the file connects to that "
         "name is read under the root\n"},
        {"AAhf",
         {{"A", "Scene"}, {"hand", "A"}, {"A", "Scene"}, {"foot", "A"}},
         "A(hand foot) A",
         "2 models are named \"A\": what the file connects to that name goes "
         "to the first\n"},
        {"BAAh",
         {{"B", "Scene"}, {"A", "Scene"}, {"A", "B"}, {"hand", "B"}},
         "B(A hand) A",
         "2 models are named \"A\": what the file connects to that name goes to the first\n"},
        // The root below a model would take the scene's tree out of the scene.
        {"ABh",
         {{"B", "Scene"}, {"hand", "B"}, {"Scene", "A"}},
         "B(hand)",
         "Model \"Scene\" is not read below \"A\": the file's root is no model's child\n"
         "Model \"A\" is not read: no connection leads from it to the file's root\n"},
        // Models no connection leads from to the root are named, in file order: one without
        // a connection and its child, one below itself, one below a name of no model, one below
        // a producer camera (which is the scene's, without a word).
        {"ABhfP",
         {{"hand", "B"}, {"A", "Scene"}, {"foot", "foot"}, {"Scene", "Scene"}},
         "A",
         "Model \"foot\" is not read below \"foot\": Operation with a target of the entity would "
         "generate a cyclic graph\n"
         "Model \"Scene\" is not read below \"Scene\": the file's root is no model's child\n"
         "Model \"B\" is not read: no connection leads from it to the file's root\n"
         "Model \"hand\" is not read: no connection leads from it to the file's root\n"
         "Model \"foot\" is not read: no connection leads from it to the file's root\n"},
        {"AhfP",
         {{"A", "Scene"}, {"hand", "Nowhere"}, {"foot", "Producer Top"}},
         "A",
         "Model \"hand\" is not read: no connection leads from it to the file's root\n"
         "Model \"foot\" is not read: no connection leads from it to the file's root\n"},
        // Names that differ are read as ever, without a word.
        {"ABh", {{"A", "Scene"}, {"B", "A"}, {"hand", "B"}}, "A(B(hand))", ""},
    };
    auto name = [](char c) {
        return std::string(c == 'S'   ? "Scene"
                           : c == 'h' ? "hand"
                           : c == 'f' ? "foot"
                           : c == 'P' ? "Producer Top"
                                      : std::string(1, c));
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.models);
        std::string body = "Objects:  {\n";
        for (const char* m = c.models; *m; ++m) body += Model(name(*m));
        body += "}\nConnections:  {\n";
        for (const auto& connection : c.connections)
            body += Connect(connection.first, connection.second);
        body += "}\n";
        qovtest::TextRead read(qovtest::QovText(6000, body, "Model"));
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(qovtest::NameTree(read.scene->GetRootNode()), c.tree);
        KString status;
        read.reader.GetStatusText(status);
        EXPECT_STREQ(status.Buffer(), c.warnings);
    }
}

// A file that links its root below the camera switcher, or closes a cycle, keeps its models
// below the root, says which links it left out, and comes back whole from a binary file.
TEST(KQovReaderQovConnections, RefusedLinksAreLeftOutWithAWord) {
    qovtest::TextRead read(qovtest::GoldenText("root_below_switcher_v6.qov"));
    ASSERT_TRUE(read.ok);
    KQovNode* root = read.scene->GetRootNode();
    EXPECT_EQ(root->GetParent(), nullptr);
    EXPECT_EQ(qovtest::NameTree(root), "Hips(Spine(Head))");
    KQovNode* switcher = read.scene->GetCameraSwitcherNode();
    EXPECT_STREQ(switcher->GetName(), "Model::Camera Switcher");
    EXPECT_EQ(switcher->GetChildCount(), 0);
    KString status;
    read.reader.GetStatusText(status);
    EXPECT_STREQ(status.Buffer(),
                 "Model \"Scene\" is not read below \"Camera Switcher\": the file's root is no "
                 "model's child\n"
                 "Model \"Hips\" is not read below \"Head\": Operation with a target of the entity "
                 "would generate a cyclic graph\n");
    const std::string binary = read.folder / "binary.qov";
    ASSERT_TRUE(Export(read.scene, binary, 0));
    Read back(binary);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(qovtest::NameTree(back.scene->GetRootNode()), "Hips(Spine(Head))");
    EXPECT_TRUE(read.manager.DestroyScene(read.scene, true));
}

}  // namespace
