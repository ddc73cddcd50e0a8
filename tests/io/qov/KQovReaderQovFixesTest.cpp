// Reader faults mended after review: user-property lists, texture registration, the camera
// switcher's round trip and the channels of wrapped texture properties.

#include <gtest/gtest.h>

#include <string>

#include "KQovWriterQov5TestUtil.h"
#include "ReaderTestUtil.h"
#include "TextReadTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovTexture.h"
#include "io/KQovExporter.h"
#include "scene/KQovUserProperty.h"

namespace {

using qovtest::QovText;
using qovtest::TextRead;

TEST(KQovReaderQovFixes, UserPropertiesGoOnPastAFieldWithoutABlock) {
    // What precedes the two good blocks.
    const char* const cases[] = {"", "    UserProperty: \"no block\"\n",
                                 "    UserProperty: 1\n    UserProperty: \"again\"\n"};
    for (const char* before : cases) {
        SCOPED_TRACE(before);
        const std::string body =
            std::string("Model: \"Model::A\" {\n    Type: \"Null\"\n") + before +
            "    UserProperty:  {\n        Name: \"Weight\"\n        Type: \"Real\"\n"
            "        Value: 2.5\n    }\n"
            "    UserProperty: \"between\"\n"
            "    UserProperty:  {\n        Name: \"Aim\"\n        Type: \"Vector\"\n"
            "        Value: 1,2,3\n    }\n}\n";
        TextRead read(QovText(5000, body));
        ASSERT_TRUE(read.ok);
        KQovNode* node = read.scene->GetRootNode()->FindChild("A", true);
        ASSERT_NE(node, nullptr);
        KQovUserProperty* weight = node->FindUserProperty("Weight (Real)");
        KQovUserProperty* aim = node->FindUserProperty("Aim");
        ASSERT_TRUE(weight && aim);
        double value = 0.0, x = 0.0, y = 0.0, z = 0.0;
        weight->GetValue(value);
        aim->GetVector(x, y, z);
        EXPECT_EQ(value, 2.5);
        EXPECT_EQ(z, 3.0);
    }
}

// "Connections" name a texture by its header; "TextureName" may rename it.
TEST(KQovReaderQovFixes, TexturesAreRegisteredUnderTheirHeaderName) {
    const struct {
        const char* textureName;
        const char* named;  // the texture's name once read
    } cases[] = {{"", "Wood"}, {"Texture::Wood", "Wood"}, {"Texture::Oak", "Oak"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.textureName);
        std::string body = "Objects:  {\n    Texture: \"Texture::Wood\", \"\" {\n";
        if (*c.textureName) body += std::string("        TextureName: \"") + c.textureName + "\"\n";
        body += "        FileName: \"wood.png\"\n    }\n}\n";
        TextRead read(QovText(6000, body, "Texture"));
        ASSERT_TRUE(read.ok);
        KQovTexture* texture = read.manager.FindTexture(c.named);
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(read.reader.GetFieldFile()->FindObject("Texture::Wood"),
                  texture->GetPropertyHandler());
    }
}


// Written by the version-6 writer (whose switcher model has no "Type") and read back, the
// switcher keeps its camera index and stays the scene's switcher, not a mesh under the root.
TEST(KQovReaderQovFixes, CameraSwitcherRoundTrip) {
    for (int index : {0, 1, 2}) {
        SCOPED_TRACE(index);
        v5test::Scene built;
        built.Add("CamA", built.manager.CreateCamera());
        built.Add("CamB", built.manager.CreateCamera());
        KQovNode* switcherNode = built.scene->GetCameraSwitcherNode();
        ASSERT_TRUE(switcherNode && switcherNode->GetCameraSwitcher());
        switcherNode->GetCameraSwitcher()->SetDefaultCameraIndex(index);
        qovtest::TempFolder tmp;
        const std::string name = tmp / "switcher.qov";
        KQovExporter exporter(&built.manager);
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(1);
        ASSERT_TRUE(exporter.Export(built.scene, nullptr));
        Read read(name);
        ASSERT_TRUE(read.ok);
        KQovNode* node = read.scene->GetCameraSwitcherNode();
        ASSERT_TRUE(node && node->GetCameraSwitcher());
        EXPECT_EQ(node->GetVisibility(), switcherNode->GetVisibility());
        EXPECT_EQ(node->GetCameraSwitcher()->GetDefaultCameraIndex(), index);
        EXPECT_EQ(read.scene->GetRootNode()->FindChild("Camera Switcher", true), nullptr);
        EXPECT_EQ(read.scene->GetRootNode()->GetChildCount(), 2);
    }
}


// A texture's wrapped "Texture alpha" is carried by its "Alpha" channel, not a second one.
TEST(KQovReaderQovFixes, TextureAlphaKeepsOneChannel) {
    for (const char* alpha : {"", "0.5"}) {
        SCOPED_TRACE(alpha);
        std::string body = "Objects:  {\n    Texture: \"Texture::Wood\", \"\" {\n";
        if (*alpha)
            body += std::string("        Properties60:  {\n            Property: \"Texture alpha\", "
                                "\"Number\", \"A\", 8,") +
                    alpha + "\n        }\n";
        body += "    }\n}\n";
        TextRead read(QovText(6000, body, "Texture"));
        ASSERT_TRUE(read.ok);
        KQovTexture* texture = read.manager.FindTexture("Wood");
        ASSERT_NE(texture, nullptr);
        const double expected = *alpha ? 0.5 : 1.0;
        EXPECT_EQ(texture->GetDefaultAlpha(), expected);
        for (int t = 0; t < texture->GetTakeNodeCount(); ++t) {
            KFCurveNode* root = texture->GetTakeNode(t)->GetRoot();
            ASSERT_NE(root, nullptr);
            EXPECT_EQ(root->Find("Texture alpha"), nullptr);
            KFCurveNode* channel = root->Find("Alpha");
            ASSERT_TRUE(channel && channel->GetCurve());
            EXPECT_EQ(channel->GetCurve()->GetValue(), expected);
        }
    }
}

}  // namespace
