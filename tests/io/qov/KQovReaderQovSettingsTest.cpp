// The QOV reader's scene-wide sections read into a scene: hand-written files of both layouts
// and small files made for one section each.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "fieldfile/FieldFileTestUtil.h"
#include "attributes/KQovCamera.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovThumbnail.h"

namespace {

using qovtest::TempFolder;
using qovtest::WriteAll;

std::string Golden(const char* name) {
    return std::string(QOV_SOURCE_DIR) + "/tests/io/qov/golden/" + name;
}

struct Reading {
    KQovObjectManager manager;
    KQovScene scene{&manager};
    KQovReaderQov reader{&manager, nullptr};

    bool Read(const std::string& file) {
        if (!reader.FileOpen(file.c_str())) return false;
        KStreamOptionsQov options;
        return reader.Read(&scene, &options);
    }
    KQovThumbnail* Thumbnail() const {
        return scene.GetSceneInfo() ? scene.GetSceneInfo()->GetThumbnail() : nullptr;
    }
};

std::string Version5File(const std::string& body) {
    return "; QOV 5.0.0 project file\nQOVHeaderExtension:  {\n    QOVHeaderVersion: 1003\n    QOVVersion: 5000\n}\n" + body;
}

std::string SceneInfoWithThumbnail(const std::string& thumbnail) {
    return "SceneGenericPersistence:  {\n SceneInfo: \"SceneInfo::GlobalInfo\" {\n"
           "  Type: \"UserData\"\n  Thumbnail:  {\n" +
           thumbnail + "  }\n }\n}\n";
}

TEST(KQovReaderQovSettings, GoldenFilesOfBothLayoutsFillTheSceneWideSettings) {
    for (const char* name : {"settings5.qov", "settings6.qov"}) {
        SCOPED_TRACE(name);
        Reading r;
        ASSERT_TRUE(r.Read(Golden(name))) << r.reader.GetLastErrorString();
        KQovGlobalLightSettings& light = r.scene.GetGlobalLightSettings();
        EXPECT_FALSE(light.GetAmbientColor() != KColor(0.25, 0.5, 0.75, 1.0));
        EXPECT_TRUE(light.GetFogEnable());
        EXPECT_EQ(light.GetFogMode(), 2);
        EXPECT_EQ(light.GetFogDensity(), 0.125);
        EXPECT_EQ(light.GetFogStart(), 10.0);
        EXPECT_EQ(light.GetFogEnd(), 200.0);
        EXPECT_FALSE(light.GetFogColor() != KColor(0.5, 0.25, 0.125, 1.0));  // stored alpha ignored
        ASSERT_EQ(light.GetShadowPlaneCount(), 2);
        EXPECT_TRUE(light.GetShadowPlane(0)->enabled);
        EXPECT_FALSE(light.GetShadowPlane(1)->enabled);
        EXPECT_EQ(light.GetShadowPlane(1)->origin[2], 6.0);
        EXPECT_EQ(light.GetShadowPlane(1)->normal[0], 1.0);
        EXPECT_TRUE(light.GetShadowEnable());
        EXPECT_EQ(light.GetShadowIntensity(), 75.0);

        KQovGlobalTimeSettings& time = r.scene.GetGlobalTimeSettings();
        EXPECT_EQ(time.GetTimeMode(), 10);  // "PAL"
        EXPECT_EQ(time.GetSnapOnFrames(), 1);
        ASSERT_EQ(time.GetTimeMarkerCount(), 2);
        EXPECT_STREQ(time.GetTimeMarker(1)->name.Buffer(), "Hit");
        EXPECT_EQ(time.GetTimeMarker(1)->time.Get(), 46186158000);
        EXPECT_EQ(time.GetTimeMarker(1)->loop, 1);
        EXPECT_EQ(time.GetReferenceTimeIndex(), 1);

        KQovGlobalCameraSettings& camera = r.scene.GetGlobalCameraSettings();
        EXPECT_STREQ(camera.GetDefaultCamera(), "Producer Top");
        EXPECT_EQ(camera.GetDefaultViewingMode(), 2);
        if (std::string(name) == "settings5.qov") {
            // The producer cameras of the older "Settings", by name with or without the
            // prefix; a camera of another name fills none of them.
            struct {
                int producer;
                double x, y, z, nearPlane;
            } const cameras[] = {{KQovGlobalCameraSettings::eLeft, 1, 2, 3, 5},
                                 {KQovGlobalCameraSettings::eBottom, 0, -7, 0, 10},
                                 {KQovGlobalCameraSettings::eRight, 4000, 0, 0, 1},
                                 {KQovGlobalCameraSettings::ePerspective, 0, 71.3, 287.5, 10}};
            for (const auto& c : cameras) {
                SCOPED_TRACE(c.producer);
                KQovCamera* producer = camera.GetProducerCamera(c.producer);
                ASSERT_NE(producer, nullptr);
                const KVector4 at = producer->GetPosition();
                EXPECT_EQ(at[0], c.x);
                EXPECT_EQ(at[1], c.y);
                EXPECT_EQ(at[2], c.z);
                EXPECT_EQ(producer->GetNearPlane(), c.nearPlane);
            }
        }

        ASSERT_NE(r.scene.GetSceneInfo(), nullptr);
        EXPECT_STREQ(r.scene.GetSceneInfo()->title.Buffer(), "Settings");
        ASSERT_NE(r.Thumbnail(), nullptr);
    }
}

TEST(KQovReaderQovSettings, ThumbnailsOfEverySizeAndFormat) {
    // Values are stored by their low byte; pixels the file lacks stay zero.
    Reading r5;
    ASSERT_TRUE(r5.Read(Golden("settings5.qov")));
    const uint8_t* image = r5.Thumbnail()->GetImage();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(r5.Thumbnail()->GetSizeInBytes(), 64 * 64 * 3);
    EXPECT_EQ(std::vector<int>(image, image + 5), (std::vector<int>{255, 1, 2, 255, 0}));
    Reading r6;
    ASSERT_TRUE(r6.Read(Golden("settings6.qov")));
    EXPECT_EQ(r6.Thumbnail()->GetDataFormat(), KQovThumbnail::eRGBA_32);
    ASSERT_EQ(r6.Thumbnail()->GetSizeInBytes(), 128 * 128 * 4);
    const uint8_t* blank = r6.Thumbnail()->GetImage();
    EXPECT_EQ(std::count(blank, blank + 128 * 128 * 4, 0), 128 * 128 * 4);

    struct Case {
        const char* body;
        bool kept;
        int bytes;
    } cases[] = {
        {"Format: 1\nSize: 64\nImageData: 7,8\n", true, 16384},
        {"Format: 0\nSize: 128\n", true, 49152},
        {"Size: 100\n", true, 0},
        {"Size: 64\nImageEncoding: 1\n", false, 0},
        {"Format: 1\n", false, 0},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        WriteAll(tmp / "t.qov", Version5File(SceneInfoWithThumbnail(c.body)));
        Reading r;
        ASSERT_TRUE(r.Read(tmp / "t.qov"));
        ASSERT_EQ(r.Thumbnail() != nullptr, c.kept);
        if (c.kept) {
            EXPECT_EQ(r.Thumbnail()->GetSizeInBytes(), c.bytes);
        }
    }
}

TEST(KQovReaderQovSettings, SectionsMadeForOneCase) {
    using Check = std::function<void(KQovScene&)>;
    struct Case {
        const char* body;
        Check check;
    } cases[] = {
        {"FogOptions:  {\n FogEnd: 5\n}\n",
         [](KQovScene& s) {
             EXPECT_FALSE(s.GetGlobalLightSettings().GetFogColor() != KColor(1.0, 1.0, 1.0, 1.0));
             EXPECT_FALSE(s.GetGlobalLightSettings().GetFogEnable());
         }},
        {"AmbientRenderSettings:  {\n}\n",
         [](KQovScene& s) {
             EXPECT_FALSE(s.GetGlobalLightSettings().GetAmbientColor() != KColor(1.0, 1.0, 1.0, 1.0));
         }},
        // The flag and intensity are read with no planes left.
        {"ShadowPlanes:  {\n Count: 0\n UseShadow: 1\n ShadowIntensity: 500\n}\n",
         [](KQovScene& s) {
             EXPECT_EQ(s.GetGlobalLightSettings().GetShadowPlaneCount(), 0);
             EXPECT_TRUE(s.GetGlobalLightSettings().GetShadowEnable());
             EXPECT_EQ(s.GetGlobalLightSettings().GetShadowIntensity(), 300.0);
         }},
        {"ShadowPlanes:  {\n Count: 3\n Plane: 1,2,3,0,0,1,1\n}\n",
         [](KQovScene& s) { EXPECT_EQ(s.GetGlobalLightSettings().GetShadowPlaneCount(), 1); }},
        {"Settings:  {\n FrameRate: \"0.0\"\n TimeMode: 3\n}\n",
         [](KQovScene& s) { EXPECT_EQ(s.GetGlobalTimeSettings().GetTimeMode(), 6); }},
        {"Settings:  {\n}\n",
         [](KQovScene& s) { EXPECT_EQ(s.GetGlobalTimeSettings().GetTimeMode(), 6); }},
        {"Settings:  {\n TimeMarker: \"A\" {\n }\n TimeMarker: \"B\" {\n }\n"
         " ReferenceTimeIndex: 5\n}\n",
         [](KQovScene& s) {
             EXPECT_EQ(s.GetGlobalTimeSettings().GetTimeMarkerCount(), 2);
             EXPECT_EQ(s.GetGlobalTimeSettings().GetReferenceTimeIndex(), -1);
         }},
        {"RendererSetting:  {\n DefaultCamera: \"Model::Producer Bottom\"\n}\n",
         [](KQovScene& s) {
             EXPECT_STREQ(s.GetGlobalCameraSettings().GetDefaultCamera(), "Producer Bottom");
         }},
        {"RendererSetting:  {\n DefaultCamera: \"Model::Nowhere\"\n}\n",
         [](KQovScene& s) {
             EXPECT_STREQ(s.GetGlobalCameraSettings().GetDefaultCamera(), "Producer Perspective");
         }},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        WriteAll(tmp / "s.qov", Version5File(c.body));
        Reading r;
        ASSERT_TRUE(r.Read(tmp / "s.qov")) << r.reader.GetLastErrorString();
        c.check(r.scene);
    }
}

TEST(KQovReaderQovSettings, DefinitionsListEachTypeOnce) {
    Reading r;
    ASSERT_TRUE(r.reader.FileOpen(Golden("settings6.qov").c_str()));
    KQovPropertyFieldFile* file = r.reader.GetFieldFile();
    ASSERT_TRUE(file->FieldFileSelectFirstPart());
    r.reader.DetectLayout(false);
    std::vector<KString> types{KString("Material")};
    EXPECT_TRUE(r.reader.ReadDefinitions(types));
    ASSERT_EQ(types.size(), 2u);
    EXPECT_STREQ(types[1].Buffer(), "Model");
}

TEST(KQovReaderQovSettings, StripProducerPrefixTakesItOffTheEightNamesOnly) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"Model::Producer Perspective", "Producer Perspective"},
                 {"Model::Producer Top", "Producer Top"},
                 {"Model::Producer Bottom", "Producer Bottom"},
                 {"Model::Producer Front", "Producer Front"},
                 {"Model::Producer Back", "Producer Back"},
                 {"Model::Producer Right", "Producer Right"},
                 {"Model::Producer Left", "Producer Left"},
                 {"Model::Camera Switcher", "Camera Switcher"},
                 {"Model::Cube", "Model::Cube"},
                 {"Model::producer top", "Model::producer top"},
                 {"Producer Top", "Producer Top"},
                 {"", ""}};
    for (const Case& c : cases)
        EXPECT_STREQ(KQovReaderQov::StripProducerPrefix(c.in).Buffer(), c.out) << c.in;
}

}  // namespace
