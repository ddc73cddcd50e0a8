#include <gtest/gtest.h>

#include <string>

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

}  // namespace
