#include <gtest/gtest.h>

#include "attributes/KQovCamera.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "KQovSceneFixture.h"

namespace {

TEST(KQovGlobalLightSettings, ClampsAndReset) {
    struct Row {
        const char* what;
        double start, end, intensity;  // set in this order
        double wantStart, wantEnd, wantIntensity;
    };
    const Row rows[] = {
        {"negative start", -5.0, 1000.0, -1.0, 0.0, 1000.0, 0.0},
        {"start past end", 2000.0, 1000.0, 500.0, 1000.0, 1000.0, 300.0},
        {"end below start", 0.3, 0.1, 300.0, 0.3, 0.3, 300.0},
        {"in range", 5.0, 50.0, 12.5, 5.0, 50.0, 12.5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        KQovGlobalLightSettings light;
        light.SetFogStart(r.start);
        light.SetFogEnd(r.end);
        light.SetShadowIntensity(r.intensity);
        EXPECT_EQ(light.GetFogStart(), r.wantStart);
        EXPECT_EQ(light.GetFogEnd(), r.wantEnd);
        EXPECT_EQ(light.GetShadowIntensity(), r.wantIntensity);
        EXPECT_EQ(light.AddShadowPlane(KQovShadowPlane()), 0);
        EXPECT_EQ(light.GetShadowPlane(1), nullptr);
        EXPECT_STREQ(light.GetError().GetErrorText(), "Index out of range.");
        light.Reset();
        EXPECT_EQ(light.GetFogStart(), 0.3);
        EXPECT_EQ(light.GetFogEnd(), 1000.0);
        EXPECT_EQ(light.GetFogDensity(), 0.002);
        EXPECT_EQ(light.GetShadowPlaneCount(), 0);
        EXPECT_EQ(light.GetAmbientColor().mAlpha, 0.0);
    }
}

TEST(KQovGlobalTimeSettings, FallbacksAndReferenceIndex) {
    struct Row {
        int mode, format, wantMode, wantFormat;
    };
    // 0 and 2 are the defaults and read as the global mode and protocol.
    const Row rows[] = {{0, 2, KTime::GetGlobalTimeMode(), KTime::GetGlobalTimeProtocol()},
                        {3, 0, 3, 0},
                        {6, 1, 6, 1}};
    for (const Row& r : rows) {
        KQovGlobalTimeSettings time;
        EXPECT_EQ(time.GetTimeMode(), 6);
        time.SetTimeMode(r.mode);
        time.SetTimeFormat(r.format);
        EXPECT_EQ(time.GetTimeMode(), r.wantMode);
        EXPECT_EQ(time.GetTimeFormat(), r.wantFormat);
    }
    KQovGlobalTimeSettings time;
    EXPECT_EQ(time.GetReferenceTimeIndex(), -1);
    EXPECT_FALSE(time.SetReferenceTimeIndex(0));
    EXPECT_STREQ(time.GetError().GetErrorText(), "Index out of range.");
    time.AddTimeMarker(KQovTimeMarker());
    EXPECT_TRUE(time.SetReferenceTimeIndex(0));
    EXPECT_FALSE(time.SetReferenceTimeIndex(1));
    EXPECT_FALSE(time.SetReferenceTimeIndex(-1));
    EXPECT_EQ(time.GetReferenceTimeIndex(), 0);
    time.Reset();
    EXPECT_EQ(time.GetTimeMarkerCount(), 0);
    EXPECT_EQ(time.GetReferenceTimeIndex(), -1);
}

using KQovGlobalCameraSettingsTest = SceneTest;

TEST_F(KQovGlobalCameraSettingsTest, ProducerCameraDefaults) {
    struct Row {
        int projection;
        double nearPlane, farPlane;
        KVector4 position, up;
    };
    const Row rows[] = {
        {0, 10.0, 4000.0, {0, 71.3, 287.5, 1}, {0, 1, 0, 1}}, {1, 1.0, 30000.0, {0, 4000, 0, 1}, {0, 0, -1, 1}},
        {1, 1.0, 30000.0, {0, -4000, 0, 1}, {0, 0, -1, 1}},   {1, 1.0, 30000.0, {0, 0, 4000, 1}, {0, 1, 0, 1}},
        {1, 1.0, 30000.0, {0, 0, -4000, 1}, {0, 1, 0, 1}},    {1, 1.0, 30000.0, {4000, 0, 0, 1}, {0, 1, 0, 1}},
        {1, 1.0, 30000.0, {-4000, 0, 0, 1}, {0, 1, 0, 1}},
    };
    KQovGlobalCameraSettings& cameras = scene->GetGlobalCameraSettings();
    for (int i = 0; i < 7; ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(KQovGlobalCameraSettings::GetProducerName(i));
        KQovCamera* camera = cameras.GetProducerCamera(i);
        KQovNode* node = cameras.GetProducerNode(i);
        ASSERT_TRUE(camera && node);
        EXPECT_STREQ(node->GetNameWithoutPrefix().Buffer(), KQovGlobalCameraSettings::GetProducerName(i));
        EXPECT_EQ(node->GetNodeAttribute(), camera);
        EXPECT_FALSE(node->GetVisibility());
        EXPECT_EQ(camera->GetProjectionType(), r.projection);
        EXPECT_EQ(camera->GetNearPlane(), r.nearPlane);
        EXPECT_EQ(camera->GetFarPlane(), r.farPlane);
        for (int k = 0; k < 3; ++k) {
            EXPECT_DOUBLE_EQ(camera->GetPosition()[k], r.position[k]);
            EXPECT_DOUBLE_EQ(camera->GetUpVector()[k], r.up[k]);
        }
    }
    EXPECT_STREQ(cameras.GetDefaultCamera(), "Producer Perspective");
}

TEST_F(KQovGlobalCameraSettingsTest, DefaultCameraAcceptedOrRefused) {
    KQovNode* shot = manager.CreateNode("Shot");
    scene->GetRootNode()->AddChild(shot);
    struct Row {
        const char* name;
        bool accepted;
        const char* error;
    };
    const Row rows[] = {
        {"Producer Top", true, nullptr},   {"Camera Switcher", true, nullptr},
        {"Shot", true, nullptr},           {"Nowhere", false, "Unknown camera name."},
        {nullptr, false, "Null parameter."}, {"producer top", false, "Unknown camera name."},
    };
    KQovGlobalCameraSettings& cameras = scene->GetGlobalCameraSettings();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name ? r.name : "null");
        const std::string before = cameras.GetDefaultCamera();
        EXPECT_EQ(cameras.SetDefaultCamera(r.name), r.accepted);
        if (r.accepted)
            EXPECT_STREQ(cameras.GetDefaultCamera(), r.name);
        else {
            EXPECT_EQ(before, cameras.GetDefaultCamera());
            EXPECT_STREQ(cameras.GetError().GetErrorText(), r.error);
        }
    }
}

}  // namespace
