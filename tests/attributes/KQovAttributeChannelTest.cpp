#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "scene/KQovNode.h"

namespace {

using Names = std::vector<std::string>;

// The channels under a take's root that the node did not have of its own.
Names AddedChannels(KQovTakeNode* take, const Names& own) {
    Names added;
    KFCurveNode* root = take->GetRoot();
    for (int i = 0; i < root->GetCount(); ++i) {
        const std::string name = root->Get(i)->GetName();
        if (std::find(own.begin(), own.end(), name) == own.end()) added.push_back(name);
    }
    return added;
}

Names AllChannels(KQovTakeNode* take) {
    return AddedChannels(take, {});
}

// A node with the takes "Default" and "Take 001".
struct TwoTakes {
    TwoTakes() {
        node.AddTakeNode("Take 001");
        own = AllChannels(node.GetDefaultTakeNode());
        links = node.GetPropertyLinkCount();
    }
    KQovTakeNode* Take(int i) { return node.GetTakeNode(i); }
    KQovNode node{nullptr, "Model::A"};
    Names own;
    int links = 0;
};

TEST(KQovAttributeChannels, EachTakeGetsExactlyItsChannelsLinkedInDefault) {
    const struct {
        const char* label;
        std::function<KQovNodeAttribute*()> make;
        Names channels;
        int linkedCurves;
    } cases[] = {
        {"null", [] { return new KQovNull(nullptr); }, {}, 0},
        {"skeleton", [] { return new KQovSkeleton(nullptr); }, {}, 0},
        {"marker", [] { return new KQovMarker(nullptr); }, {}, 0},
        {"light",
         [] { return new KQovLight(nullptr); },
         {"Color", "Intensity", "Cone angle", "Fog"},
         6},
        {"switcher", [] { return new KQovCameraSwitcher(nullptr); }, {"Camera Index"}, 0},
    };
    for (const auto& test : cases) {
        TwoTakes scene;
        std::unique_ptr<KQovNodeAttribute> attribute(test.make());
        scene.node.SetNodeAttribute(attribute.get());
        for (int t = 0; t < 2; ++t)
            EXPECT_EQ(AddedChannels(scene.Take(t), scene.own), test.channels) << test.label << t;
        EXPECT_EQ(scene.node.GetPropertyLinkCount() - scene.links, test.linkedCurves) << test.label;
        scene.node.SetNodeAttribute(nullptr);
        EXPECT_EQ(attribute->GetNode(), nullptr);
        for (int t = 0; t < 2; ++t)
            EXPECT_EQ(AddedChannels(scene.Take(t), scene.own), Names{}) << test.label << t;
        EXPECT_EQ(scene.node.GetPropertyLinkCount(), scene.links) << test.label;
    }
}

TEST(KQovAttributeChannels, LightCurvesDriveThePropertiesOnlyInDefault) {
    TwoTakes scene;
    KQovLight light(nullptr);
    KProperty* intensity = light.GetPropertySet()->FindProperty("Intensity");
    KProperty* color = light.GetPropertySet()->FindProperty("Color");
    intensity->SetDouble(200.0);
    // Linking in "Default" carries the channel's default into the property.
    scene.node.SetNodeAttribute(&light);
    EXPECT_EQ(intensity->GetDouble(), 100.0);
    const struct {
        int take;
        KFCurve* (KQovTakeNode::*curve)();
        KProperty* property;
        int component;
        bool follows;
    } cases[] = {
        {0, &KQovTakeNode::GetIntensity, intensity, 0, true},
        {1, &KQovTakeNode::GetIntensity, intensity, 0, false},
        {0, &KQovTakeNode::GetColorG, color, 1, true},
        {1, &KQovTakeNode::GetColorB, color, 2, false},
    };
    for (const auto& test : cases) {
        KFCurve* curve = (scene.Take(test.take)->*test.curve)();
        ASSERT_NE(curve, nullptr);
        double before[4] = {};
        KQovGetPropertyNumbers(test.property, before);
        curve->SetValue(7.0f);
        double after[4] = {};
        KQovGetPropertyNumbers(test.property, after);
        EXPECT_EQ(after[test.component], test.follows ? 7.0 : before[test.component]);
    }
    // Display colours of the components and one scalar channel.
    EXPECT_EQ(scene.Take(1)->GetColorR()->GetColor()[0], 1.0f);
    EXPECT_EQ(scene.Take(1)->GetColorB()->GetColor()[2], 1.0f);
    EXPECT_EQ(scene.Take(1)->GetFog()->GetColor()[1], 0.38f);
}

TEST(KQovAttributeChannels, LightDefaultsFallBackToTheProperty) {
    KQovLight light(nullptr);
    // Without a node the setters write the property and the getters read it.
    light.SetDefaultIntensity(250.0);
    light.SetDefaultColor(0.25, 0.5, 0.75);
    EXPECT_EQ(light.GetDefaultIntensity(), 250.0);
    double r = 0, g = 0, b = 0;
    light.GetDefaultColor(r, g, b);
    EXPECT_EQ(g, 0.5);

    TwoTakes scene;
    scene.node.SetNodeAttribute(&light);
    light.SetDefaultFog(12.0);
    light.SetDefaultColor(0.5, 0.25, 1.0);
    EXPECT_EQ(scene.Take(0)->GetFog()->GetValue(), 12.0f);
    EXPECT_EQ(scene.Take(1)->GetFog()->GetValue(), 50.0f);
    EXPECT_EQ(light.GetPropertySet()->FindProperty("Fog")->GetDouble(), 12.0);
    light.GetDefaultColor(r, g, b);
    EXPECT_EQ(g, 0.25);
    // A missing curve reads the property instead of failing.
    KFCurveNode* root = scene.Take(0)->GetRoot();
    root->DeleteChild(root->Get(root->FindIndexByName("Cone angle")));
    light.GetPropertySet()->FindProperty("Cone angle")->SetDouble(30.0);
    EXPECT_EQ(light.GetDefaultConeAngle(), 30.0);
    light.SetDefaultConeAngle(20.0);
    EXPECT_EQ(light.GetDefaultConeAngle(), 20.0);
}

TEST(KQovAttributeChannels, MarkerKindsLeaveNoStaleChannel) {
    TwoTakes scene;
    KQovMarker marker(nullptr);
    scene.node.SetNodeAttribute(&marker);
    const struct {
        int kind;
        Names channels;
    } steps[] = {
        {0, {}}, {2, {"IK Reach Translation", "IK Reach Rotation"}}, {1, {"Occlusion"}},
        {3, {}}, {2, {"IK Reach Translation", "IK Reach Rotation"}}, {0, {}},
    };
    for (const auto& step : steps) {
        marker.SetType(step.kind);
        for (int t = 0; t < 2; ++t)
            EXPECT_EQ(AddedChannels(scene.Take(t), scene.own), step.channels) << step.kind << t;
    }
    marker.SetType(2);
    KFCurve* reach = scene.Take(1)->GetIKReachRotation();
    ASSERT_NE(reach, nullptr);
    EXPECT_EQ(reach->GetColor()[0], 0.75f);
    marker.SetType(2);  // the same kind leaves the channels alone
    EXPECT_EQ(scene.Take(1)->GetIKReachRotation(), reach);
    marker.Reset();
    EXPECT_EQ(AddedChannels(scene.Take(0), scene.own), Names{});
}

TEST(KQovAttributeChannels, MarkerReachNeedsAnEffectorWithACurve) {
    KQovMarker marker(nullptr);
    marker.SetType(2);
    marker.SetDefaultIKReachTranslation(5.0);  // no node: nothing to write
    EXPECT_EQ(marker.GetDefaultIKReachTranslation(), 0.0);

    TwoTakes scene;
    scene.node.SetNodeAttribute(&marker);
    marker.SetDefaultIKReachTranslation(40.0);
    marker.SetDefaultIKReachRotation(60.0);
    EXPECT_EQ(marker.GetDefaultIKReachTranslation(), 40.0);
    EXPECT_EQ(marker.GetDefaultIKReachRotation(), 60.0);
    EXPECT_EQ(scene.Take(1)->GetIKReachRotation()->GetValue(), 0.0f);

    marker.SetType(1);
    marker.SetDefaultIKReachRotation(9.0);
    EXPECT_EQ(marker.GetDefaultIKReachRotation(), 0.0);
    EXPECT_EQ(scene.Take(0)->GetIKReachRotation(), nullptr);
}

TEST(KQovAttributeChannels, SwitcherIndexPerTake) {
    KQovNode node(nullptr, "Model::Camera Switcher");
    node.AddTakeNode("Take 001");
    node.AddTakeNode("Take 002");
    KQovCameraSwitcher switcher(nullptr);
    EXPECT_EQ(switcher.GetDefaultCameraIndex(), 0);
    switcher.SetDefaultCameraIndex(3);  // no node: nothing happens
    node.SetNodeAttribute(&switcher);
    for (int t = 0; t < 3; ++t) EXPECT_EQ(node.GetTakeNode(t)->GetCameraIndex()->GetValue(), 1.0f);
    EXPECT_EQ(switcher.GetDefaultCameraIndex(), 1);
    switcher.SetDefaultCameraIndex(3);
    EXPECT_EQ(switcher.GetDefaultCameraIndex(), 3);
    EXPECT_EQ(node.GetTakeNode(1)->GetCameraIndex()->GetValue(), 1.0f);
    node.GetDefaultTakeNode()->GetCameraIndex()->SetValue(3.0e10f);  // out of int range
    EXPECT_EQ(switcher.GetDefaultCameraIndex(), INT32_MAX);
}

TEST(KQovAttributeChannels, SwitcherNamesKeepOrder) {
    KQovCameraSwitcher switcher(nullptr);
    EXPECT_EQ(switcher.AddCameraName("Producer Top"), 0);
    EXPECT_EQ(switcher.AddCameraName("Camera1"), 1);
    EXPECT_EQ(switcher.AddCameraName("Producer Top"), 2);
    const char* expected[] = {"Producer Top", "Camera1", "Producer Top"};
    for (int i = 0; i < 3; ++i) EXPECT_STREQ(switcher.GetCameraName(i), expected[i]);
    EXPECT_EQ(switcher.GetCameraName(-1), nullptr);
    EXPECT_EQ(switcher.GetCameraName(3), nullptr);
    switcher.ClearCameraNames();
    EXPECT_EQ(switcher.GetCameraName(0), nullptr);
}

TEST(KQovAttributeChannels, DestroyingAnAttachedAttributeDetachesIt) {
    TwoTakes scene;
    auto* light = new KQovLight(nullptr);
    scene.node.SetNodeAttribute(light);
    std::vector<KProperty*> properties;
    scene.node.CollectProperties(properties);
    EXPECT_STREQ(properties.back()->GetName(), "Fog");
    delete light;
    EXPECT_EQ(scene.node.GetNodeAttribute(), nullptr);
    EXPECT_EQ(AddedChannels(scene.Take(1), scene.own), Names{});
    EXPECT_EQ(scene.node.GetPropertyLinkCount(), scene.links);
}

}  // namespace

TEST(KQovAttributeChannels, WholeColourSetterKeepsThePropertyAtDoublePrecision) {
    KQovLight light(nullptr);
    TwoTakes scene;
    scene.node.SetNodeAttribute(&light);
    KProperty* colour = light.GetPropertySet()->GetTableProperty(KQovLightProperties::eColor);
    // The linked curves take single precision; the property gets the exact values last.
    const double first[3] = {0.1, 0.2, 0.3};
    KQovSetDefaultValues(&light, "Color", colour, first, 3);
    double stored[4] = {};
    ASSERT_EQ(KQovGetPropertyNumbers(colour, stored), 3);
    EXPECT_EQ(stored[0], 0.1);
    EXPECT_EQ(stored[2], 0.3);
    EXPECT_EQ(KQovGetDefaultCurve(&light, "Color", "Y")->GetValue(), 0.2f);
    // Fewer values than components leave the rest as they are.
    const double two[2] = {0.7, 0.9};
    KQovSetDefaultValues(&light, "Color", colour, two, 2);
    KQovGetPropertyNumbers(colour, stored);
    EXPECT_EQ(stored[1], 0.9);
    EXPECT_EQ(stored[2], 0.3);
    EXPECT_EQ(KQovGetDefaultCurve(&light, "Color", "Z")->GetValue(), 0.3f);
}
