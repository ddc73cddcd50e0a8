#include <gtest/gtest.h>

#include <cmath>

#include "Test3ds.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/LightCamera3ds.h"

namespace {

TEST(LightCamera3ds, CamerasReadTheirPlanesAndLens) {
    struct Case {
        float fov, nearRange, farRange;
        double scale, focal;
    } cases[] = {
        {48, 10, 1000, 1.0, 50},  // a 50 mm lens is stored as 48 degrees
        {24, 1, 2, 2.54, 100},
        {0, 10, 1000, 1.0, -1},  // no focal length from a zero angle
    };
    for (const Case& c : cases) {
        Camera3ds record;
        record.fov = c.fov, record.nearRange = c.nearRange, record.farRange = c.farRange;
        KQovCamera camera(nullptr);
        const double before = camera.GetFocalLength();
        SetupCamera3ds(record, camera, c.scale, Color3ds{0.5f, 0, 1});
        EXPECT_NEAR(camera.GetFocalLength(), c.focal < 0 ? before : c.focal, 1e-9);
        EXPECT_NEAR(camera.GetNearPlane(), c.nearRange * c.scale, 1e-9);
        EXPECT_NEAR(camera.GetFarPlane(), c.farRange * c.scale * 10, 1e-6);
        EXPECT_EQ(camera.GetApertureMode(), 1);
        EXPECT_EQ(camera.GetDefaultBackgroundColor().mRed, 0.5);
    }
}

TEST(LightCamera3ds, LightsBothWays) {
    Light3ds* spot = nullptr;
    Context3ds ctx;
    InitSpotlight3ds(ctx, &spot);
    spot->spot->falloff = 60;
    spot->spot->projectorFlag = 1;
    spot->spot->projectorName = "gobo.tga";
    KQovLight light(nullptr);
    SetupLight3ds(*spot, light);
    EXPECT_EQ(light.GetLightType(), 2);
    EXPECT_EQ(light.GetDefaultConeAngle(), 60);
    EXPECT_STREQ(light.GetGoboFileName(), "gobo.tga");
    light.SetDefaultColor(0.25, 0.5, 1);
    FillLight3ds(light, KVector4(1, 2, 3), "SpotWithALongName", *spot);
    EXPECT_EQ(spot->name, "SpotWithAL");
    EXPECT_EQ(spot->position.y, -3.0f);
    EXPECT_EQ(spot->position.z, 2.0f);
    EXPECT_EQ(spot->color.g, 0.5f);
    EXPECT_FLOAT_EQ(spot->multiplier, static_cast<float>(light.GetDefaultIntensity() * 0.01));
    EXPECT_EQ(spot->spot->hotspot, 60.0f);
    ReleaseLight3ds(&spot);
    Light3ds omni;
    KQovLight point(nullptr);
    SetupLight3ds(omni, point);
    EXPECT_EQ(point.GetLightType(), 0);
    // Multiplier and off flag: 0.4 as intensity 40 exactly, an off light casts none.
    omni.multiplier = 0.4f;
    omni.off = 1;
    SetupLightLevel3ds(omni, point);
    EXPECT_EQ(point.GetDefaultIntensity(), 40.0);
    EXPECT_FALSE(point.GetCastLightOnObject());
    FillLight3ds(point, KVector4(), "Omni", omni);
    EXPECT_EQ(omni.multiplier, 0.4f);
    EXPECT_EQ(omni.off, 1);
    point.SetCastLightOnObject(true);
    FillLight3ds(point, KVector4(), "Omni", omni);
    EXPECT_EQ(omni.off, 0);
}

// Omni lights and a spotlight written by the toolkit, through qovtool 3DS to 3DS and 3DS to
// QOV to 3DS: lib3ds reads each multiplier and off flag back as the source holds them.
TEST(LightCamera3ds, MultiplierAndOffFlagThroughThreeDsAndQov) {
    TempPath3ds source("lights.3ds");
    {
        Context3ds ctx;
        Database3ds* db = nullptr;
        InitDatabase3ds(ctx, &db);
        CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
        const struct {
            const char* name;
            float multiplier;
            uint8_t off;
            bool spot;
        } lights[] = {{"Dim", 0.4f, 1, false}, {"Bright", 2.5f, 0, false}, {"Spot", 0.4f, 1, true}};
        for (const auto& l : lights) {
            Light3ds* record = nullptr;
            if (l.spot)
                InitSpotlight3ds(ctx, &record);
            else
                InitLight3ds(ctx, &record);
            record->name = l.name;
            record->multiplier = l.multiplier;
            record->off = l.off;
            PutLight3ds(ctx, db, record);
            ReleaseLight3ds(&record);
        }
        File3ds* file = OpenFile3ds(ctx, source.path.c_str(), "wb");
        SaveDatabase3ds(ctx, file, db);
        ReleaseDatabase3ds(ctx, &db);
        CloseAllFiles3ds(ctx);
        ASSERT_FALSE(ctx.ErrorPending());
    }
    const std::vector<std::string> want = {"light Bright multiplier 2.5000 off 0",
                                           "light Dim multiplier 0.4000 off 1",
                                           "light Spot multiplier 0.4000 off 1"};
    EXPECT_EQ(Lib3dsLines(source.path, "lights"), want);
    const std::string again = source.folder + "/again.3ds", qov = source.folder + "/lights.qov",
                      fromQov = source.folder + "/qov.3ds";
    ASSERT_EQ(ConvertWithQovtool3ds(source.path, again), "");
    EXPECT_EQ(Lib3dsLines(again, "lights"), want);
    ASSERT_EQ(ConvertWithQovtool3ds(source.path, qov), "");
    ASSERT_EQ(ConvertWithQovtool3ds(qov, fromQov), "");
    EXPECT_EQ(Lib3dsLines(fromQov, "lights"), want);
}

TEST(LightCamera3ds, TargetsRollAndFieldOfView) {
    struct Case {
        KVector4 rotation, axis, target;
        double roll;
    } cases[] = {
        {KVector4(0, 0, 0), KVector4(10, 0, 0), KVector4(11, 2, 3), 0},
        {KVector4(0, 0, 0), KVector4(0, -10, 0), KVector4(1, -8, 3), 0},
        {KVector4(0, 0, 90), KVector4(10, 0, 0), KVector4(1, 12, 3), 0},
        {KVector4(30, 0, 0), KVector4(10, 0, 0), KVector4(11, 2, 3), -30},
        {KVector4(-30, 0, 0), KVector4(10, 0, 0), KVector4(11, 2, 3), 30},
    };
    for (const Case& c : cases) {
        KVector4 axis = c.axis;
        axis.Normalize();
        const KVector4 t = TargetPoint3ds(KVector4(1, 2, 3), c.rotation, axis);
        EXPECT_EQ(t, c.target) << c.rotation[0] << " " << c.rotation[2];
        EXPECT_NEAR(DerivedRoll3ds(c.rotation), c.roll, 1e-3);
    }
    KQovCamera camera(nullptr);
    camera.SetApertureMode(2);
    camera.SetFilmWidth(2);
    camera.SetFilmHeight(1);
    camera.SetFilmSqueezeRatio(1);
    // A vertical 90 degrees over a 2:1 film: 2 * atan(2).
    EXPECT_NEAR(HorizontalFieldOfView3ds(camera, 90), 2 * std::atan(2.0) * 180 / M_PI, 1e-3);
}

}  // namespace
