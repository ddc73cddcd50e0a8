// The QOV reader: thumbnails of takes and of the scene information survive the Summary the
// header pass caches and its update; lists of blocks go on past a field without a block.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fieldfile/FieldFileTestUtil.h"
#include "TextReadTestUtil.h"
#include "SummaryTestUtil.h"
#include "attributes/KQovLight.h"
#include "character/KQovCharacter.h"
#include "character/KQovCharacterPose.h"
#include "character/KQovControlSet.h"
#include "io/KStreamOptionsMotion.h"
#include "io/qov/KQovReaderQov.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovThumbnail.h"

namespace {

using qovtest::QovText;
using qovtest::TempFolder;
using qovtest::TextRead;

// A binary file without a Summary whose scene information and one take carry thumbnails.
void WriteSceneWithThumbnails(const std::string& name) {
    KQovThumbnail thumbnail;
    thumbnail.SetDataFormat(KQovThumbnail::eRGB_24);
    thumbnail.SetSize(64);
    thumbnail.GetImage()[0] = 7;
    thumbnail.GetImage()[thumbnail.GetSizeInBytes() - 1] = 9;
    KQovSceneInfo info;
    info.title = "Title";
    info.SetThumbnail(&thumbnail);
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
    f.FieldWriteC("Model", "Model::A");
    KQovWriteBlockBegin(&f, "SceneGenericPersistence");
    KQovWriteSceneInfo(&f, info);
    KQovWriteBlockEnd(&f);
    KQovWriteBlockBegin(&f, "Takes");
    f.FieldWriteC("Current", "T0");
    for (const char* take : {"T0", "T1"}) {
        KQovWriteBlockBegin(&f, "Take", take);
        f.FieldWriteBegin("LocalTime");
        f.FieldWriteTS(KTime(0), KTime(KTime::kOneSecond));
        f.FieldWriteEnd();
        if (take[1] == '0') KQovWriteThumbnail(&f, &thumbnail);
        KQovWriteBlockEnd(&f);
    }
    KQovWriteBlockEnd(&f);
    ASSERT_TRUE(f.FieldFileClose());
}

// The header pass of a fresh reader, checked for both thumbnails.
void ExpectThumbnails(const std::string& name, const char* comment) {
    SCOPED_TRACE(comment);
    KQovObjectManager manager;
    KQovReaderQov reader(&manager, nullptr);
    ASSERT_TRUE(reader.FileOpen(name.c_str()));
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
    ASSERT_TRUE(options);
    ASSERT_EQ(options->GetTakeCount(), 2);
    const KQovThumbnail* take = options->GetTake(0)->thumbnail;
    ASSERT_NE(take, nullptr);
    EXPECT_EQ(take->GetSize(), 64);
    EXPECT_EQ(take->GetImage()[0], 7);
    EXPECT_EQ(options->GetTake(1)->thumbnail, nullptr);
    ASSERT_NE(options->sceneInfo, nullptr);
    EXPECT_STREQ(options->sceneInfo->title.Buffer(), "Title");
    const KQovThumbnail* scene = options->sceneInfo->GetThumbnail();
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->GetImage()[scene->GetSizeInBytes() - 1], 9);
    KQovDestroySceneInfo(&manager, options->sceneInfo);
}

TEST(KQovReaderQovAudit, ThumbnailsSurviveTheCachedSummaryAndItsUpdate) {
    TempFolder tmp;
    const std::string name = tmp / "thumbs.qov";
    WriteSceneWithThumbnails(name);
    ExpectThumbnails(name, "scanned");
    AppendScannedSummary(name);
    {
        KQovObjectManager manager;
        KQovReaderQov reader(&manager, nullptr);
        ASSERT_TRUE(reader.FileOpen(name.c_str()));
        ASSERT_EQ(reader.GetFieldFile()->GetPartCount(), 2);
        ExpectThumbnails(name, "answered from the Summary");
        std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, false));
        ASSERT_TRUE(options);
        options->GetTake(1)->comment = "edited";
        EXPECT_TRUE(reader.UpdateSummary(options.get()));
        KQovDestroySceneInfo(&manager, options->sceneInfo);
    }
    ExpectThumbnails(name, "after the update");
}

TEST(KQovReaderQovAudit, BlockListsGoOnPastAFieldWithoutABlock) {
    const std::string body =
        "Model: \"Model::Hips\" {\n    Type: \"Null\"\n}\n"
        "Model: \"Model::Lamp\" {\n    Type: \"Light\"\n}\n"
        "CHARACTER: \"no block\"\n"
        "CHARACTER:  {\n    CONSTRAINT: \"Hero\"\n"
        "    CONTROLSET:  {\n        EFFECTOR:  {\n"
        "            LINK: \"no block\"\n"
        "            LINK:  {\n                NAME: \"HipsEffector\"\n"
        "                MODEL: \"Hips\"\n                TACTIVE: 1\n            }\n"
        "        }\n    }\n}\n"
        "GoboManager:  {\n    Gobo: \"no block\"\n"
        "    Gobo:  {\n        GoboName: \"G1\"\n        GoboPath: \"g1.tif\"\n    }\n"
        "    LightGobo: \"Lamp\", \"G1\"\n}\n";
    TextRead read(QovText(5000, body));
    ASSERT_TRUE(read.ok);
    ASSERT_EQ(read.scene->GetCharacterCount(), 1);
    KQovCharacter* hero = read.scene->GetCharacter(0);
    EXPECT_STREQ(hero->GetName(), "Constraint::Hero");
    KQovEffectorRecord effector;
    ASSERT_TRUE(hero->GetControlSet()->GetEffector(KQovControlSet::FindEffector("HipsEffector"),
                                                   &effector));
    ASSERT_NE(effector.model, nullptr);
    EXPECT_STREQ(effector.model->GetName(), "Model::Hips");
    EXPECT_EQ(effector.translationActive, 1);
    KQovNode* lamp = read.scene->GetRootNode()->FindChild("Lamp", true);
    ASSERT_TRUE(lamp && lamp->GetLight());
    EXPECT_STREQ(lamp->GetLight()->GetGoboFileName(), "g1.tif");
}

TEST(KQovReaderQovAudit, AScannedVersion6FileIsATemplateByAModelInObjects) {
    const struct {
        const char* model;
        int32_t templateFlag;
    } cases[] = {{"Model::ns:~qovexport~", 1}, {"Model::~qovexport~", 1}, {"Model::Plain", 0}};
    for (const auto& c : cases) {
        const std::string body = std::string("Objects:  {\n    Model: \"") + c.model +
                                 "\", \"Null\" {\n        Type: \"Null\"\n    }\n}\n";
        TextRead read(QovText(6000, body, "Model"));
        ASSERT_TRUE(read.options);
        EXPECT_EQ(read.options->templateFlag, c.templateFlag) << c.model;
        EXPECT_EQ(read.options->GetCount(KStreamOptionsQov::eModels), 1);
    }
}

TEST(KQovReaderQovAudit, OptionsOfAnotherClassEmptyTheSceneAndFail) {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    scene->GetRootNode()->AddChild(manager.CreateNode("Stale"));
    KQovReaderQov reader(&manager, nullptr);
    ASSERT_TRUE(reader.FileOpen(
        (std::string(QOV_SOURCE_DIR) + "/tests/io/qov/golden/layout6.qov").c_str()));
    KStreamOptionsMotion motion;
    EXPECT_FALSE(reader.Read(scene, &motion));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eStreamOptionsNotSet);
    EXPECT_EQ(scene->GetRootNode()->GetChildCount(), 0);
}

TEST(KQovReaderQovAudit, WithoutAVersion5BlockTheLightSettingsStayAsTheClearLeftThem) {
    const std::string objects =
        "Objects:  {\n    Model: \"Model::A\", \"Null\" {\n        Type: \"Null\"\n    }\n}\n";
    KQovScene fresh(nullptr);
    const KColor defaultAmbient = fresh.GetGlobalLightSettings().GetAmbientColor();
    TextRead read(QovText(6000, objects, "Model"), nullptr, {}, [](KQovScene& scene) {
        scene.GetGlobalLightSettings().SetAmbientColor(KColor(0.1, 0.2, 0.3, 1.0));
    });
    ASSERT_TRUE(read.ok);
    EXPECT_FALSE(read.scene->GetGlobalLightSettings().GetAmbientColor() != defaultAmbient);
}

TEST(KQovReaderQovAudit, AResolutionWithoutAWidthIsNoResolution) {
    TempFolder tmp;
    for (const char* width : {"0", "720"}) {
        const std::string name = tmp / "r.qov";
        qovtest::WriteAll(name, std::string("; QOV 6.0.0 project file\nQOVHeaderExtension:  {\n"
                                            "    QOVHeaderVersion: 1003\n    QOVVersion: 6000\n"
                                            "    CurrentCameraResolution:  {\n"
                                            "        CameraName: \"Producer Perspective\"\n"
                                            "        CameraResolutionMode: \"Custom\"\n"
                                            "        CameraResolutionW: ") +
                                    width + "\n        CameraResolutionH: 576\n    }\n}\n");
        KQovReaderQov reader(nullptr, nullptr);
        ASSERT_TRUE(reader.FileOpen(name.c_str()));
        KString camera, mode;
        double w = -1, h = -1;
        EXPECT_EQ(reader.GetCameraResolution(camera, mode, w, h), width[0] != '0') << width;
    }
}

TEST(KQovReaderQovAudit, NoSummaryUpdateWhileAPartIsSelected) {
    TempFolder tmp;
    const std::string name = tmp / "thumbs.qov";
    WriteSceneWithThumbnails(name);
    ExpectThumbnails(name, "a Summary part added");
    const std::string before = qovtest::ReadAll(name);
    KQovReaderQov reader(nullptr, nullptr);
    ASSERT_TRUE(reader.FileOpen(name.c_str()));
    ASSERT_TRUE(reader.GetFieldFile()->FieldFileSelectFirstPart());
    KStreamOptionsQov options;
    EXPECT_FALSE(reader.UpdateSummary(&options));
    reader.FileClose();
    EXPECT_TRUE(qovtest::ReadAll(name) == before);
}

TEST(KQovReaderQovAudit, Version6MaterialAndTextureObjectsFollowTheirSwitches) {
    const struct {
        int switchOff;  // -1: every switch on
        bool material, texture;
    } cases[] = {{-1, true, true},
                 {KStreamOptionsQov::eMaterials, false, true},
                 {KStreamOptionsQov::eTexturesAndMedia, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.switchOff);
        TextRead read(qovtest::GoldenText("geo_scene6.qov"), [&c](KStreamOptionsQov& o) {
            if (c.switchOff >= 0) o.SetSwitch(c.switchOff, false);
        });
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.manager.FindMaterial("Red") != nullptr, c.material);
        EXPECT_EQ(read.manager.FindTexture("Wood") != nullptr, c.texture);
        EXPECT_EQ(read.reader.GetFieldFile()->FindObject("Material::Red") != nullptr, c.material);
    }
}

TEST(KQovReaderQovAudit, ANestedVersion6PoseSceneKeepsItsModelsAndCharacters) {
    // The nested read counts the scene's objects first; they must still be read afterwards.
    const std::string body =
        "Objects:  {\n    Pose: \"Pose::P\", \"CharacterPose\" {\n"
        "        Definitions:  {\n            ObjectType: \"Model\" {\n            }\n"
        "            ObjectType: \"Constraint\" {\n            }\n        }\n"
        "        Objects:  {\n            Model: \"Model::Hip\", \"Null\" {\n"
        "                Type: \"Null\"\n            }\n"
        "            Constraint: \"Constraint::Rig\", \"Character\" {\n            }\n"
        "        }\n    }\n}\n";
    TextRead read(QovText(6000, body, "Pose"));
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    ASSERT_EQ(read.scene->GetCharacterPoseCount(), 1);
    KQovScene* nested = read.scene->GetCharacterPose(0)->GetScene();
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(nested->GetCharacterCount(), 1);
    EXPECT_NE(read.manager.FindNode("Hip"), nullptr);
}

}  // namespace
