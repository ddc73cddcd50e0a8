// Version-5 models as the version-5 writer lays them out: the camera section's own "Version"
// after the model's, and top-level models in the order of the file.

#include <gtest/gtest.h>

#include <string>

#include "TextReadTestUtil.h"
#include "attributes/KQovCamera.h"
#include "scene/KQovNode.h"

namespace {

std::string CameraModel(const std::string& versions) {
    return "Model: \"Model::Cam\" {\n" + versions +
           "    Type: \"Camera\"\n    Aperture: 30\n    FocalLength: 50\n}\n";
}

}  // namespace

// Below 210 the camera keeps a field of view ("Aperture"), from 210 on its focal length.
TEST(KQovReaderQovVersion5, TheCameraSectionsVersionFollowsTheModels) {
    const struct {
        const char* versions;
        bool focalLength;
    } kCases[] = {
        {"    Version: 194\n    Version: 220\n", true},  // model, then camera section
        {"    Version: 194\n    Version: 200\n", false},
        {"    Version: 220\n", true},  // one section version only
        {"    Version: 116\n", false},
        {"", false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.versions);
        qovtest::TextRead read(qovtest::QovText(5000, CameraModel(c.versions)));
        ASSERT_TRUE(read.ok);
        KQovNode* node = read.scene->GetRootNode()->FindChild("Cam");
        ASSERT_NE(node, nullptr);
        KQovCamera* camera = node->GetCamera();
        ASSERT_NE(camera, nullptr);
        if (c.focalLength) {
            EXPECT_DOUBLE_EQ(camera->GetFocalLength(), 50.0);
        } else {
            EXPECT_NE(camera->GetFocalLength(), 50.0);
        }
    }
}

TEST(KQovReaderQovVersion5, TopLevelModelsKeepTheOrderOfTheFile) {
    const char* const kNames[] = {"Zeta", "Alpha", "Mid", "Beta"};
    std::string body;
    for (const char* name : kNames) body += std::string("Model: \"Model::") + name + "\" {\n}\n";
    // A child listed before its parent stays under it.
    body += "Model: \"Model::Kid\" {\n}\nModel: \"Model::Parent\" {\n    Children: \"Kid\"\n}\n";
    qovtest::TextRead read(qovtest::QovText(5000, body));
    ASSERT_TRUE(read.ok);
    KQovNode* root = read.scene->GetRootNode();
    std::string order;
    for (int i = 0; i < root->GetChildCount(); ++i)
        order += std::string(root->GetChild(i)->GetName()) + " ";
    EXPECT_EQ(order, "Model::Zeta Model::Alpha Model::Mid Model::Beta Model::Parent ");
    ASSERT_NE(root->FindChild("Parent"), nullptr);
    EXPECT_EQ(root->FindChild("Parent")->GetChildCount(), 1);
}
